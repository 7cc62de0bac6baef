// From level crossings to byte frames: leaders and pilots are found and classified, and
// the frames after each are read by the PMD 85 or the Mato rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/memory.h"
#include "decode/decode_job.h"
#include "decode/demodulator.h"
#include "tape/tape_format.h"

// Where a header part's 15 header bytes start: PMD 85 sends the 48-byte sync pattern
// first, Mato one sync byte.
inline constexpr size_t kPmdHeaderStart = kSyncPatternLength;
inline constexpr size_t kMatoHeaderStart = sizeof kMatoSyncByte;
// A record's length word cannot state more.
inline constexpr size_t kMaxPartLength = kMaxRecordLength;

// The byte frames that one leader or pilot introduces.
struct TapePart {
  int32_t protocol = 0;    // kProtocolPmd, kProtocolPmdDouble or kProtocolMato
  int32_t phase = 0;       // kPhaseNormal or kPhaseReversed
  double startSample = 0;  // first crossing of the leader or pilot
  double cellRate = 0;     // measured PMD 85 cells or Mato spaces per second
  int32_t leadInCells = 0;
  int32_t frameErrors = 0;  // PMD 85 frames whose stop bits were not both marks
  int32_t isHeader = 0;     // a header part: sync pattern or sync byte, then 15 header bytes
  int32_t isBody = 0;       // the body part of the header part before it
  std::vector<uint8_t> bytes;
};

// A periodic run of crossings long enough to be a leader or pilot.
struct LeadIn {
  size_t first = 0;        // first crossing of the run
  size_t end = 0;          // crossing whose interval broke the run
  double highSamples = 0;  // mean length of the run's high and low intervals
  double lowSamples = 0;
  int32_t protocol = 0;
  int32_t phase = kPhaseAuto;  // PMD 85 leaders are symmetric: the start bit decides
};

// Finds the next lead-in at or after crossing `from`. PMD 85 leaders have equal half
// periods, Mato pilots one level a third of the period. `protocol` and `phase` are the
// command-line choices: other than auto, lead-ins of the other kind are passed over.
// False when there is none.
bool findLeadIn(const Crossings& crossings, size_t from, int32_t sampleRate, int32_t protocol,
                int32_t phase, LeadIn& leadIn);

// Reads the frames after a PMD 85 leader into `part` (bytes, phase, rate, frame errors),
// at most `byteLimit` bytes. `next` receives the crossing at which reading stopped. A part
// with no bytes means the leader led nowhere. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t decodePmdPart(const Crossings& crossings, const LeadIn& leadIn,
                                    int32_t sampleRate, size_t byteLimit, TapePart& part,
                                    size_t& next);

// The same after a Mato pilot. With `afterHeader` a short pilot is taken as the body
// pilot of that header, whose closing mark is skipped; a long pilot always begins a
// header part.
[[nodiscard]] int32_t decodeMatoPart(const Crossings& crossings, const LeadIn& leadIn,
                                     int32_t sampleRate, bool afterHeader, size_t byteLimit,
                                     TapePart& part, size_t& next);

// True when a PMD 85 part starts with the sync pattern, allowing a few damaged bytes.
bool hasSyncPattern(const std::vector<uint8_t>& bytes);

// Finds every part of a channel in time order, marking header parts and their bodies.
// Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t decodeTapeParts(const Crossings& crossings, int32_t sampleRate,
                                      int32_t protocol, int32_t phase,
                                      std::vector<TapePart>& parts);
