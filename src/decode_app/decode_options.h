// Command-line options of tonbrix-decode.
#pragma once

#include <cstdint>
#include <string>

#include "decode/decode_session.h"

// The input name that stands for standard input.
inline constexpr const char* kStandardInput = "-";

// Everything the command line decides, filled by parseDecodeOptions.
struct DecodeJob {
  const char* inputPath = nullptr;   // command-line argument, not owned
  const char* outputPath = nullptr;  // the -o argument or derivedOutputName
  std::string derivedOutputName;
  int32_t listOnly = 0;
  int32_t verbose = 0;
  TapeProtocol protocol = kProtocolAuto;
  TapePhase phase = kPhaseAuto;
  int32_t channel = kChannelAuto;  // 0-based, or every channel and the one that decodes best
  bool channelByNumber = false;    // -ch gave a number, which the file must have
  const char* channelText = nullptr;
};

// Resets `job` and fills it from argv[1..argc-1]. Returns kOk, kShowUsage for -h,
// kShowVersion for -v, or an error code already reported: kErrUnknownOption,
// kErrMissingValue, kErrBadValue (a -ch other than L, R or A), kErrTwoInputs,
// kErrTwoOutputs, kErrNoInput, or kErrBadCombination for -pmd with -mato or -nph with
// -rph. Argument texts are referred to, not copied.
[[nodiscard]] int32_t parseDecodeOptions(int argc, const char* const* argv, DecodeJob& job);

// The tape image name made from a recording's name: the extension of the last path
// component becomes ".img"; ".img" is appended once more if that would name the input.
std::string deriveImageName(const std::string& inputPath);

// Prints "Tonbrix-decode <version> - ..." and an empty line on stdout.
void printDecodeBanner();

// Prints the usage text on stdout; the banner comes first, from the caller.
void printDecodeUsage();
