// The pieces of a command line that both programs read alike: option words, numbers, and
// the one input and one output name.
#pragma once

#include <cstdint>

// True when `argument` is exactly the option word `name`.
bool isOption(const char* argument, const char* name);

// Reads one number at `text` as the usage text promises: decimal, octal (leading 0) or
// hexadecimal (leading 0x), with strtol's automatic base underneath, so a sign and
// leading spaces are taken too. Sets `end` to the first character not read. Returns
// false when nothing could be read; `end` then equals `text`.
bool readNumber(const char* text, long& value, const char*& end);

// Reads a nonnegative number written in decimal, octal (leading 0) or hexadecimal
// (leading 0x), as strtol with base 0 does. Returns the value, or -1 when the text does
// not read as a number that fits in 31 bits; a 0 followed by anything returns -1 as well.
// A positive number followed by other characters is taken ("12abc" gives 12).
int32_t parseNumber(const char* text);

// Takes `argument` as the input name unless one was given already. Returns kOk, or
// kErrTwoInputs, reported with both names.
[[nodiscard]] int32_t takeInputName(const char*& inputPath, const char* argument);

// Takes `value` of -o as the output name unless one was given already. Returns kOk, or
// kErrTwoOutputs, reported with both names.
[[nodiscard]] int32_t takeOutputName(const char*& outputPath, const char* value);
