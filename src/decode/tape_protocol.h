// The recording protocols and phases that the decoder tells apart, and their names.
#pragma once

#include <cstdint>

// The recording protocol of a block, or the choice of one on the command line.
enum TapeProtocol : int32_t {
  kProtocolAuto = 0,  // a choice only: detect it from each leader or pilot
  kProtocolPmd = 1,
  kProtocolPmdDouble = 2,
  kProtocolMato = 3,
};

// Which level a mark starts with. Reversed phase and an inverted recording look the
// same, so the phase is a property of the signal, not of the machine that made it.
enum TapePhase : int32_t {
  kPhaseAuto = 0,  // a choice only
  kPhaseNormal = 1,
  kPhaseReversed = 2,
};

// The name the listing gives a block's protocol: "PMD 85", "PMD 85 (Double Speed)" or
// "Mato".
const char* protocolName(TapeProtocol protocol);
