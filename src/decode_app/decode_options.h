// Command-line options of tonbrix-decode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/decode_session.h"

// The name that stands for standard input, or for standard output after -o or -report.
inline constexpr const char* kStandardStream = "-";

// Everything the command line decides, filled by parseDecodeOptions.
struct DecodeJob {
  std::vector<const char*> inputPaths;  // the takes in the order given; arguments, not owned
  const char* outputPath = nullptr;     // the -o argument or derivedOutputName
  std::string derivedOutputName;
  const char* reportPath = nullptr;  // -report, or nullptr
  int32_t listOnly = 0;
  int32_t verbose = 0;
  int32_t quiet = 0;
  int32_t force = 0;  // existing outputs may be replaced
  int32_t mixTakes = 0;  // a take of another tape is merged all the same
  TapeProtocol protocol = kProtocolAuto;
  TapePhase phase = kPhaseAuto;
  int32_t channel = kChannelAuto;  // 0-based, or every channel and the one that decodes best
  bool channelByNumber = false;    // -ch gave a number, which the file must have
  const char* channelText = nullptr;
};

// Resets `job` and fills it from argv[1..argc-1]. Returns kOk, kShowUsage for -h or
// --help, kShowVersion for -v or --version, or an error code already reported:
// kErrUnknownOption, kErrMissingValue, kErrBadValue (a -ch other than L, R or A),
// kErrTwoInputs (standard input twice), kErrTwoOutputs, kErrNoInput, or
// kErrBadCombination for -pmd with -mato or -nph with -rph. Argument texts are referred
// to, not copied.
[[nodiscard]] int32_t parseDecodeOptions(int argc, const char* const* argv, DecodeJob& job);

// What the command line asks of standard output, which main must arrange before the
// first line is printed: the image or the report goes there (-o or -report under any
// name of standard output: namesStandardOutput), or nothing at all does (-q).
struct StandardOutputUse {
  bool image = false;  // not with -list, which writes none
  bool report = false;
  bool quiet = false;
};

// Finds that use in argv[1..argc-1] as parseDecodeOptions would read them; with -h or -v
// standard output is left for the text they print. Asked before standard output is taken.
StandardOutputUse findStandardOutputUse(int argc, const char* const* argv);

// The tape image name made from a recording's name: the extension of the last path
// component becomes ".img"; ".img" is appended once more if that would name the input.
std::string deriveImageName(const std::string& inputPath);

// True when `path` is the name that stands for standard input or output.
bool isStandardStream(const char* path);

// Prints "Tonbrix-decode <version> - ..." and an empty line on stdout.
void printDecodeBanner();

// Prints the usage text on stdout; the banner comes first, from the caller.
void printDecodeUsage();
