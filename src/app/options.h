// Command-line options: from argument texts to the settings of a ConversionJob.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/job.h"

// A -blk list longer than this is refused as "Out of memory!" before anything is
// allocated, so that a range such as 1-2147483647 cannot ask for gigabytes.
inline constexpr int32_t kMaxSelectionEntries = 16 * 1024 * 1024;

// Resets `job` to its defaults and fills it from argv[1..argc-1]. Returns kOk,
// kShowUsage for -h, kShowVersion for -v, or an error code that has already been
// reported. The -dbl/-mato combination check runs last on every path and its code then
// replaces any other result. Argument texts are referred to, not copied.
[[nodiscard]] int32_t parseOptions(int argc, const char* const* argv, ConversionJob& job);

// Reads a nonnegative number written in decimal, octal (leading 0) or hexadecimal
// (leading 0x), as strtol with base 0 does. Returns the value, or -1 when the text does
// not read as a number that fits in 31 bits; a 0 followed by anything returns -1 as well.
// A positive number followed by other characters is taken ("12abc" gives 12).
int32_t parseNumber(const char* text);

// Reads a block list such as "3,5,8-11,1" into job.selection and job.selectionCount,
// replacing an earlier list. Returns kOk, or kErrBadBlock / kErrOutOfMemory, already
// reported; on failure the job keeps the selection it had.
[[nodiscard]] int32_t parseBlockList(ConversionJob& job, const char* text);

// The output name made from an input name: the extension of the last path component is
// replaced by ".wav", and ".wav" is appended once more if the result would name the input
// itself (ignoring ASCII case).
std::string deriveOutputName(const std::string& inputPath);

// The same derivation with any extension, for the tools that write other kinds of file.
std::string replaceExtension(const std::string& inputPath, const std::string& extension);

// True when `a` and `b` are equal apart from the case of ASCII letters.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Prints the banner and the usage text on stdout.
void printUsage();
