// From level crossings to byte frames: leaders and pilots are found and classified, and
// the frames after each are read by the PMD 85 or the Mato rules.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/memory.h"
#include "decode/tape_protocol.h"
#include "decode/demodulator.h"
#include "tape/tape_format.h"

// Where a header part's 15 header bytes start: PMD 85 sends the 48-byte sync pattern
// first, Mato one sync byte.
inline constexpr size_t kPmdHeaderStart = kSyncPatternLength;
inline constexpr size_t kMatoHeaderStart = sizeof kMatoSyncByte;
// A loss of signal inside a block up to this long (a dropout, a crease, a splice) is
// bridged: the frames after it are placed by the time that passed, and only the bytes
// under it are lost. A longer one ends the block.
inline constexpr double kMaxDropoutSeconds = 1.2;
// A record's length word cannot state more.
inline constexpr size_t kMaxPartLength = kMaxRecordLength;

// How sure the decoder is of each byte it delivers. A byte it could not read at all (lost
// under a dropout) is unknown and holds 0; one whose frame broke (a bad start or stop cell,
// a cell out of tolerance) is uncertain; values in between grade how clear the cells were.
// Several takes of one tape are merged by these: a certain byte beats any other.
inline constexpr uint8_t kByteUnknown = 0;
inline constexpr uint8_t kByteUncertain = 64;
inline constexpr uint8_t kMinCertainByte = 128;
// At most this sure of a byte whose frame checked only once the clock had placed a cell
// that the crossings did not form (a stray pulse, a lost short level).
inline constexpr uint8_t kByteRepaired = 96;
inline constexpr uint8_t kByteCertain = 255;

// The byte frames that one leader or pilot introduces.
struct TapePart {
  TapeProtocol protocol = kProtocolAuto;  // found: kProtocolPmd, kProtocolPmdDouble or kProtocolMato
  TapePhase phase = kPhaseAuto;           // found: kPhaseNormal or kPhaseReversed
  double startSample = 0;      // first crossing of the leader or pilot
  double firstByteSample = 0;  // where the first frame starts
  double endSample = 0;        // where the last frame ends
  double cellRate = 0;         // measured PMD 85 cells or Mato spaces per second
  double cellSpread = 0;       // standard deviation of the cell lengths read, % of nominal
  double swing = 0;            // mean swing of the signal over the part, full scale 2
  int32_t leadInCells = 0;
  int32_t frameErrors = 0;  // PMD 85 frames whose stop bits were not both marks
  int32_t isHeader = 0;     // a header part: sync pattern or sync byte, then 15 header bytes
  int32_t isBody = 0;       // the body part of the header part before it
  int32_t cut = 0;          // frames went on after the byte limit and were not read
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> confidence;  // one per byte: kByteUnknown .. kByteCertain
  std::vector<double> starts;       // one per byte: the sample where its frame starts
};

// Appends `value`, whose frame starts at `startSample`, with its confidence to `part`.
// Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t appendByte(TapePart& part, uint8_t value, uint8_t confidence,
                                 double startSample);

// Appends `count` unknown bytes for frames lost in a gap, no more than a part may hold;
// they are taken to start `frameSamples` apart from `firstSample` on. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t appendUnknownBytes(TapePart& part, int64_t count, double firstSample,
                                         double frameSamples);

// What a look past a gap found: frames that go on, nothing before the time ran out, the
// next lead-in, or the end of the crossings so far.
enum Resync { kResyncFound, kResyncNone, kResyncLeadIn, kResyncOutOfData };

struct ResyncResult {
  Resync kind = kResyncNone;
  size_t crossing = 0;  // found: the crossing the reading goes on from
  double sample = 0;    // found: where that frame starts; lead-in: where the lead-in starts
  double error = 1;     // found: frameGridError of `sample`
};

// Keeps in `best` the guess of where frames go on after a gap that lies nearest to a whole
// number of frames after `gapStart`: the clock decides between guesses that fit equally.
inline void keepNearestGuess(ResyncResult& best, size_t crossing, double sample, double gapStart,
                             double frameSamples) {
  const double frames = (sample - gapStart) / frameSamples;
  const double error = std::fabs(frames - std::round(frames));
  if (error < best.error) {
    best = {kResyncFound, crossing, sample, error};
  }
}

// What a part's reader keeps of the gaps it bridged.
struct GapBridge {
  bool bridged = false;
  size_t gapEnd = 0;    // index of the first byte after the last gap
  size_t gapBytes = 0;  // unknown bytes that gap put in
};

// Bridges a gap from sample `gapStart` to `resumeSample`, where frames `frameSamples` long
// go on: the frames that the time holds are appended as unknown bytes. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t bridgeGap(TapePart& part, GapBridge& bridge, double gapStart,
                                double resumeSample, double frameSamples);

// A gap from `gapStart` ran into the next lead-in at `leadInSample`. Silence between blocks
// looks the same, so only a body (its header states `byteLimit`) whose shortfall the time
// fits, to a few frames, is completed with unknown bytes. Returns kOk or kErrOutOfMemory,
// reported.
[[nodiscard]] int32_t closeGapAtLeadIn(TapePart& part, size_t byteLimit, double gapStart,
                                       double leadInSample, double frameSamples);

// Makes a body whose gaps were bridged hold the length its header states (`byteLimit`),
// where the last gap's estimate was only a few frames off: its unknown bytes are the ones
// that give; a missing byte is only added when the body ended cleanly at the next
// lead-in. A body still too long is cut to the length and marked cut. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t fitBridgedBody(TapePart& part, size_t byteLimit, const GapBridge& bridge,
                                     bool endedCleanly);

// Fills what a part measures over its crossings [first, end): the start of the first frame
// at `firstByteSample`, the end of the last, and the mean swing.
void measurePart(const Crossings& crossings, size_t first, size_t end, double firstByteSample,
                 TapePart& part);

// A periodic run of crossings long enough to be a leader or pilot.
struct LeadIn {
  size_t first = 0;        // first crossing of the run
  size_t end = 0;          // crossing whose interval broke the run
  double highSamples = 0;  // mean length of the run's high and low intervals
  double lowSamples = 0;
  TapeProtocol protocol = kProtocolAuto;
  TapePhase phase = kPhaseAuto;  // PMD 85 leaders are symmetric: the start bit decides
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

// Reads the frames after a PMD 85 leader into `part` (bytes, phase, rate, frame errors),
// at most `byteLimit` bytes; part.cut is set when another frame follows the limit. `next` receives
// the crossing at which reading stopped. A part with no bytes means the leader led nowhere. Returns
// kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t decodePmdPart(const Crossings& crossings, const LeadIn& leadIn,
                                    int32_t sampleRate, size_t byteLimit, TapePart& part,
                                    size_t& next);

// The same after a Mato pilot. With `afterHeader` a short pilot is taken as the body
// pilot of that header, whose closing mark is skipped, and only a body is held to
// `byteLimit`; a long pilot always begins a header part.
[[nodiscard]] int32_t decodeMatoPart(const Crossings& crossings, const LeadIn& leadIn,
                                     int32_t sampleRate, bool afterHeader, size_t byteLimit,
                                     TapePart& part, size_t& next);

// True when a PMD 85 part starts with the sync pattern, allowing a few damaged bytes.
bool hasSyncPattern(const std::vector<uint8_t>& bytes);

// True when a PMD 85 part is a header part: exactly the sync pattern and the header in
// length, and the pattern is there. Anything else is a headerless block, kept whole.
bool isPmdHeaderPart(const std::vector<uint8_t>& bytes);

// Reads the part after `leadIn`, given whether a header part came just before and the
// body length (with checksum) it announced: a PMD 85 part after a short leader, or a
// Mato part after a short pilot, is then that header's body. Marks header parts and
// bodies. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t decodePartAfter(const Crossings& crossings, const LeadIn& leadIn,
                                      int32_t sampleRate, bool afterHeader, size_t bodyLength,
                                      TapePart& part, size_t& next);

// The body length, checksum included, that header part `header` announces.
size_t announcedBodyLength(const TapePart& header);
