// File names that the programs make from other file names.
#pragma once

#include <string>
#include <string_view>

// The output name made from an input name: the extension of the last path component is
// replaced by ".wav", and ".wav" is appended once more if the result would name the input
// itself (ignoring ASCII case).
std::string deriveOutputName(const std::string& inputPath);

// The same derivation with any extension, for the tools that write other kinds of file.
std::string replaceExtension(const std::string& inputPath, const std::string& extension);

// True when `a` and `b` are equal apart from the case of ASCII letters.
bool equalsIgnoringCase(std::string_view a, std::string_view b);
