// The part of a recording that one leader or pilot introduces, the grades of its bytes,
// and the toolkit that both protocols' frame readers share: appending bytes, and what
// happens to a part where its signal broke off (a gap) and where frames go on after it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/memory.h"
#include "decode/demodulator.h"
#include "decode/tape_protocol.h"
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
  std::array<float, 4> cellBias{};  // PMD 85: what the cell walk learned, for the body after
  double cellSpread = 0;       // standard deviation of the cell lengths read, % of nominal
  double swing = 0;            // mean swing of the signal over the part, full scale 2
  int32_t frameErrors = 0;     // PMD 85 frames whose stop bits were not both marks
  int32_t isHeader = 0;        // a header part: sync pattern or sync byte, then 15 header bytes
  int32_t isBody = 0;          // the body part of the header part before it
  int32_t cut = 0;             // frames went on after the byte limit and were not read
  int32_t startLost = 0;       // it begins after a dropout that took its leader and first frames
  // Where a dropout took the next part's leader and its frames go on, the crossing and the
  // sample where they do; 0 where they do not.
  size_t nextFrames = 0;
  double nextFramesSample = 0;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> confidence;  // one per byte: kByteUnknown .. kByteCertain
  std::vector<double> starts;       // one per byte: the sample where its frame starts
  // Bytes whose place an estimated gap put in doubt, from unplacedFirst on: the grades
  // their frames were read with, which another take's bytes may yet place.
  size_t unplacedFirst = 0;
  std::vector<uint8_t> unplacedGrades;
};

// How far a part's reader goes.
struct PartLimits {
  // A body's length, which frames after it are cut at and gaps are fitted to.
  size_t byteLimit = kMaxPartLength;
  // A gap that comes where the part holds this many bytes, with none lost, ends it: a
  // whole header or body, after which a dropout took the next part's leader. Where frames
  // go on after the gap, part.nextFrames says so.
  size_t wholeLength = kMaxPartLength;
};

// Appends `value`, whose frame starts at `startSample`, with its confidence to `part`.
// Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t appendByte(TapePart& part, uint8_t value, uint8_t confidence,
                                 double startSample);

// The swings of crossings [first, end) added up in order: a part read again with more
// crossings adds only those that came since, to the same sum.
struct SwingSum {
  size_t first = 0;
  size_t end = 0;
  double sum = 0;
};

// Makes `swings` the sum over crossings [first, end): added on where it sums a start of
// that span, else summed anew.
void addSwings(const Crossings& crossings, size_t first, size_t end, SwingSum& swings);

// Fills what a part measures over its crossings [first, end): the start of the first frame
// at `firstByteSample`, the end of the last, and the mean swing, going on from `sofar`
// where it sums a start of that span.
void measurePart(const Crossings& crossings, size_t first, size_t end, double firstByteSample,
                 TapePart& part, const SwingSum& sofar);

// What a look past a gap found: frames that go on, nothing before the time ran out, the
// next lead-in, or the end of the crossings so far.
enum Resync { kResyncFound, kResyncNone, kResyncLeadIn, kResyncOutOfData };

struct ResyncResult {
  Resync kind = kResyncNone;
  size_t crossing = 0;  // found: the crossing the reading goes on from
  double sample = 0;    // found: where that frame starts; lead-in: where the lead-in starts
  double error = 1;     // found: how far `sample` lies from a whole number of frames
};

// What a look past a gap that ran out of crossings found: nothing where the recording has
// gone on silent past `deadline`, else it cannot tell yet.
ResyncResult runOutOfCrossings(const Crossings& crossings, double deadline);

// Keeps in `best` the guess of where frames go on after a gap that lies nearest to a whole
// number of frames after `gapStart`: the clock decides between guesses that fit equally.
void keepNearestGuess(ResyncResult& best, size_t crossing, double sample, double gapStart,
                      double frameSamples);

// What a part's reader keeps of the gaps it bridged. The frames a short gap held are
// counted from the time it lasted; a longer gap's count is an estimate that speed
// changes, and Mato's unequal frames, put a frame or more off, so the bytes after it have
// no known place until the end of a body of known length places the ones after the last
// such gap.
struct GapBridge {
  bool bridged = false;
  // The gap a body's length is fitted at: the last estimated one, else the last one.
  size_t gapEnd = 0;    // index of the first byte after it
  size_t gapBytes = 0;  // unknown bytes it put in
  size_t estimatedGaps = 0;
  size_t firstUnplaced = 0;  // the first byte after the first estimated gap
  // The part's first frames were lost with its leader: a body that ended at its end is
  // filled up at its start.
  bool startLost = false;
};

// A bridge for a part whose leader and first frames a dropout took: its start is an
// estimated gap of its own.
GapBridge bridgeLostStart();

// A gap in a part, from where its frames broke off to what a look past it found.
struct Gap {
  double start = 0;         // the start of the frame it broke, or the end of the last whole one
  double frameSamples = 0;  // the length of a frame so far
  ResyncResult resync;
};

// How a part's reading goes on after a gap.
enum GapOutcome {
  kGapBridged,   // frames go on at gap.resync.crossing; the bytes under the gap are unknown
  kGapEndsPart,  // the block ended in or before the gap
  kGapWaiting,   // the crossings ran out: the part may go on once more arrive
};

// The one rule for what follows a gap in `part`, for either protocol. Frames found after
// it are placed by the time that passed: the frames it holds are appended as unknown
// bytes. The next lead-in ends the part; silence between blocks looks the same, so only a
// body (its header states `byteLimit`) whose shortfall the time fits, to a few frames, is
// completed with unknown bytes. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t followGap(TapePart& part, GapBridge& bridge, size_t byteLimit,
                                const Gap& gap, GapOutcome& outcome);

// Makes a body whose gaps were bridged hold the length its header states (`byteLimit`),
// where the last gap's estimate was only a few frames off: its unknown bytes are the ones
// that give; a missing byte is only added when the body ended cleanly at the next
// lead-in. A body still too long is cut to the length and marked cut. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t fitBridgedBody(TapePart& part, size_t byteLimit, const GapBridge& bridge,
                                     bool endedCleanly);

// Marks as uncertain the bytes of `part` whose place rests on an estimated gap: those after
// the first one, up to the last one where `placedFromEnd` (a body that holds exactly the
// length its header states), else to the end. Unknown bytes stay unknown. Their grades
// before are kept in part.unplacedGrades. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t markUnplacedBytes(TapePart& part, const GapBridge& bridge,
                                        bool placedFromEnd);

// Called where a part's reader ran out of crossings after the recording ended, the last
// whole frame ending at `lastFrameEnd` (`frameSamples` long), or with a frame half read
// (`midFrame`): where the signal ran on to the end, the recording cut the part, and it is
// marked cut, unless it holds its whole length. A
// part followed by more silence than a couple of frames may as well have ended.
void closePartAtEnd(TapePart& part, const Crossings& crossings, double lastFrameEnd,
                    double frameSamples, bool midFrame, const PartLimits& limits);

// True when the signal was lost between crossings `from` and `to`: none came for longer
// than any level lasts (`unitSamples` a PMD 85 half cell or a Mato space), or their swing
// fell below half of what it was over the crossings just before `from`. Noise in an intact
// leader keeps its swing; a dropout takes it.
bool signalLostBetween(const Crossings& crossings, size_t from, size_t to, double unitSamples);

// Notes in `part` where frames go on after the gap that ended it whole, if `resync` found
// them.
void noteNextFrames(TapePart& part, const ResyncResult& resync);

// Keeps a frame reader of either protocol and its part in `progress` (a PmdProgress or a
// MatoProgress) where crossing `at`, where the reader stands between two frames or cells,
// is the first within `margin` of the end of the crossings in this read, and sums the
// swings up to where the kept reading may still look (firstCrossingKept), from
// reader.measuredFrom. Once a read. Returns kOk or kErrOutOfMemory, reported.
template <typename Reader, typename Progress>
[[nodiscard]] int32_t keepReading(Reader& reader, Progress& progress, size_t at, size_t margin) {
  if (!reader.mayKeep || reader.kept || at + margin < reader.crossings->positions.size()) {
    return kOk;
  }
  reader.kept = true;
  progress.valid = false;
  progress.reader = reader;
  const int32_t status = copyValue(progress.part, *reader.part);
  progress.valid = status == kOk;
  const size_t kept = firstCrossingKept(progress);
  if (progress.valid && kept > progress.swings.end) {
    addSwings(*reader.crossings, reader.measuredFrom, kept, progress.swings);
  }
  return status;
}
