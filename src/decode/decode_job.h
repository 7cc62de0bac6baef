// The record of a decoding run, the decoder's own status codes and its memory helper.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "app/errors.h"

// Failures that only the decoder knows. The codes continue those of the converter, so
// one exit code never means two things.
enum DecodeErrorCode : int32_t {
  kErrBadWav = -20,          // "Bad WAV file '%s': %s!"
  kErrUnsupportedWav = -21,  // "Unsupported WAV file '%s': %s!"
  kErrNoBlocks = -22,        // "No tape blocks found in '%s'!"
};

// The recording protocol of a block, or the choice of one on the command line.
enum TapeProtocol : int32_t {
  kProtocolAuto = 0,  // command line only: detect it from each leader or pilot
  kProtocolPmd = 1,
  kProtocolPmdDouble = 2,
  kProtocolMato = 3,
};

// Which level a mark starts with. Reversed phase and an inverted recording look the
// same, so the phase is a property of the signal, not of the machine that made it.
enum TapePhase : int32_t {
  kPhaseAuto = 0,  // command line only
  kPhaseNormal = 1,
  kPhaseReversed = 2,
};

inline constexpr int32_t kChannelAuto = -1;

// Everything the command line decides, filled by parseDecodeOptions.
struct DecodeJob {
  const char* inputPath = nullptr;   // command-line argument, not owned
  const char* outputPath = nullptr;  // the -o argument or derivedOutputName
  std::string derivedOutputName;
  int32_t listOnly = 0;
  int32_t verbose = 0;
  int32_t protocol = kProtocolAuto;
  int32_t phase = kPhaseAuto;
  int32_t channel = kChannelAuto;  // 0 = left, 1 = right, or the one that decodes better
};

// Prints the message of `code` on stderr followed by an empty line and returns `code`.
// Codes of the converter are passed to its reportFailure with the same arguments.
int32_t reportDecodeFailure(int32_t code, std::string_view first = {},
                            std::string_view second = {});

// Appends `value` to `items`. Returns kOk, or kErrOutOfMemory, reported. The decoder's
// one place that turns a failed allocation into a status.
template <typename T>
[[nodiscard]] int32_t appendItem(std::vector<T>& items, const T& value) {
  try {
    items.push_back(value);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Resizes `items` to `count` elements, zero-filling new ones. Returns kOk, or
// kErrOutOfMemory, reported; `items` is then unchanged.
template <typename T>
[[nodiscard]] int32_t resizeItems(std::vector<T>& items, size_t count) {
  try {
    items.resize(count);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Prints "Tonbrix-decode <version> - ..." and an empty line on stdout.
void printDecodeBanner();
