// Leaders and pilots: the periodic runs of crossings that begin every part of a tape.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "decode/demodulator.h"
#include "decode/tape_protocol.h"

// The longest runs of equal cells that data holds, which tell a leader or pilot from
// data: PMD 85 marks in 0xFF, its two stop bits and the idle marks a part may have
// between frames; Mato spaces in 0x00. Every search for the next lead-in keeps a margin
// above these.
inline constexpr int32_t kPmdMaxIdleMarks = 4;
inline constexpr int32_t kPmdLongestDataMarks = 8 + 2 + kPmdMaxIdleMarks;
inline constexpr int32_t kMatoLongestDataSpaces = 8;

// A periodic run of crossings long enough to be a leader or pilot; or, `resumed`, none: a
// dropout took it, and the part's frames go on at crossing `first` after the part before.
struct LeadIn {
  size_t first = 0;        // first crossing of the run
  size_t end = 0;          // crossing whose interval broke the run
  double highSamples = 0;  // mean length of the run's high and low intervals
  double lowSamples = 0;
  TapeProtocol protocol = kProtocolAuto;
  TapePhase phase = kPhaseAuto;  // PMD 85 leaders are symmetric: the start bit decides
  bool resumed = false;
  // For a body: how its header's PMD 85 cell walk found the middles to lie after each pair
  // of cell kinds (see PmdCellWalk::bias), since the same head plays both.
  std::array<float, 4> cellBias{};
};

// Finds the next lead-in: a periodic run of crossings long enough to be a leader or
// pilot. PMD 85 leaders have equal half periods, Mato pilots one level a third of the
// period. `protocol` and `phase` are the command-line choices: other than auto, lead-ins
// of the other kind are passed over. The recording may still be arriving: only runs that
// break before crossing `limit` are decided. `runStart` and `position` carry the search
// from call to call (both the first crossing to look at, at first); after a false return
// they say where to go on, and nothing before `runStart` is needed any more.
bool findLeadInBefore(const Crossings& crossings, size_t limit, int32_t sampleRate,
                      TapeProtocol protocol, TapePhase phase, size_t& runStart, size_t& position,
                      LeadIn& leadIn);
