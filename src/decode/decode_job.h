// The record of a decoding run and the protocol and phase choices it names.
#pragma once

#include <cstdint>
#include <string>

#include "core/errors.h"

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

// The input name that stands for standard input.
inline constexpr const char* kStandardInput = "-";

// Everything the command line decides, filled by parseDecodeOptions.
struct DecodeJob {
  const char* inputPath = nullptr;   // command-line argument, not owned
  const char* outputPath = nullptr;  // the -o argument or derivedOutputName
  std::string derivedOutputName;
  int32_t listOnly = 0;
  int32_t verbose = 0;
  int32_t protocol = kProtocolAuto;
  int32_t phase = kPhaseAuto;
  int32_t channel = kChannelAuto;  // 0-based, or every channel and the one that decodes best
  int32_t channelByNumber = 0;     // -ch gave a number, which the file must have
  const char* channelText = nullptr;
};
