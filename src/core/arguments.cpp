// Option words, numbers and file names on the command line.
#include "core/arguments.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/errors.h"

bool isOption(const char* argument, const char* name) { return std::strcmp(argument, name) == 0; }

bool readNumber(const char* text, long& value, const char*& end) {
  char* stop = nullptr;
  value = std::strtol(text, &stop, 0);
  end = stop;
  return end != text;
}

int32_t parseNumber(const char* text) {
  long value = 0;
  const char* end = nullptr;
  readNumber(text, value, end);
  if (value < 0 || value > std::numeric_limits<int32_t>::max()) {
    return -1;
  }
  if (value == 0 && *end != '\0') {
    return -1;
  }
  return static_cast<int32_t>(value);
}

int32_t takeInputName(const char*& inputPath, const char* argument) {
  if (inputPath != nullptr) {
    return reportFailure(kErrTwoInputs, inputPath, argument);
  }
  inputPath = argument;
  return kOk;
}

int32_t takeOutputName(const char*& outputPath, const char* value) {
  if (outputPath != nullptr) {
    return reportFailure(kErrTwoOutputs, outputPath, value);
  }
  outputPath = value;
  return kOk;
}
