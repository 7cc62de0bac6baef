// The PMD 85 frame reader: the start bit after the leader, the frames, and the gaps
// between them.
#include "decode/pmd_frames.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/errors.h"
#include "core/memory.h"
#include "decode/lead_in.h"
#include "decode/pmd_cells.h"

namespace {

constexpr int32_t kDataBits = 8;
constexpr int32_t kStopBits = 2;
constexpr int32_t kFrameCells = 1 + kDataBits + kStopBits;
// Gaps of at most this many frames are read by the clock: noise that broke cells twice in
// a row, which the cell walk does not repair. Longer ones are dropouts.
constexpr size_t kMaxClockFrames = 2;
// A start or stop cell read by the clock checks when its halves differ by this share of a
// half at least.
constexpr double kClearCell = 0.3;
// Frames in a row that must show their start bit and both stop bits where the time since
// the gap puts them before the reading picks up again: a wrong guess of where frames
// begin passes three frames of ordinary data rarely, and the clock decides between the
// guesses that pass.
constexpr int32_t kResyncFrames = 3;
constexpr int32_t kTrialCells = (kResyncFrames + 1) * kFrameCells;
// More marks in a row than data holds are the next leader, and the block ended inside the
// gap.
constexpr int32_t kLeaderMarks = 24;
static_assert(kLeaderMarks > kPmdLongestDataMarks);
// A reading is kept for the next read (PmdProgress) at the first cell this close to the
// end of the crossings: further than any decision at a cell looks ahead, a repair and its
// trial cells included. The look past a gap looks further, but waits for crossings it
// lacks rather than deciding without them.
constexpr size_t kResumeCrossings = 2048;

// True when the cells from crossing `middle` on, the end of a whole-cell interval, read
// as the leader half a cell out of step: noise that moved a crossing inside the leader
// makes a start bit, but the marks after it read as spaces, stop bits and all.
bool readsLeaderOutOfStep(const Crossings& crossings, TapePhase phase, double halfCell,
                          size_t middle) {
  PmdCellWalk trial{&crossings, phase, halfCell, middle, {}};
  placeWalk(trial, middle);
  trial.mayRepair = true;
  for (int32_t cell = 1; cell < kFrameCells; ++cell) {
    if (trial.mark || stepCell(trial) != kStepOk) {
      return false;
    }
  }
  return !trial.mark;
}

// Follows the leader from `leadIn` to the first start bit: the leader is all marks, and
// the first whole-cell interval joins the low half of the last mark with the low half of
// the first start bit, so its level gives the phase and its end is the middle of that
// start bit. Returns true with `k` at that interval and `halfCell` tracked along the
// leader; false with `k + 1` where the leader led nowhere.
bool findFirstStartBit(const Crossings& crossings, const LeadIn& leadIn, double& halfCell,
                       size_t& k) {
  const CrossingValues<double>& x = crossings.positions;
  for (k = leadIn.first; k + 1 < x.size(); ++k) {
    const double length = x[k + 1] - x[k];
    const PmdInterval kind = classifyInterval(length, halfCell);
    if (kind != kHalfCell && k + 2 < x.size() &&
        std::fabs(x[k + 2] - x[k] - 2 * halfCell) < 0.5 * halfCell) {
      // Noise moved the crossing between two half cells; the start bit's whole cell is
      // followed by at least a half one.
      ++k;
      continue;
    }
    if (kind == kNoCell && length < halfCell && k + 3 < x.size() &&
        classifyInterval(x[k + 3] - x[k], halfCell) == kHalfCell) {
      // A stray pulse split a half cell of the leader.
      k += 2;
      continue;
    }
    if (kind == kNoCell) {
      return false;
    }
    if (kind == kWholeCell) {
      const TapePhase phase = isRising(crossings, k) ? kPhaseReversed : kPhaseNormal;
      if (!readsLeaderOutOfStep(crossings, phase, halfCell, k + 1)) {
        return true;
      }
      continue;
    }
    halfCell += kPmdTrackingGain * (length - halfCell);
  }
  return false;
}

// True when the lead-in search, from crossing `from` on, finds a leader whose start bit is
// the one in the middle of which crossing `startBit` lies: the part it begins is read the
// usual way.
bool leaderLeadsTo(const Crossings& crossings, int32_t sampleRate, size_t from, size_t startBit) {
  // A crossing or two that noise moved may place the start bit a little apart.
  constexpr size_t kNear = 4;
  size_t runStart = from;
  size_t position = from;
  LeadIn leadIn;
  while (findLeadInBefore(crossings, startBit + 2, sampleRate, kProtocolAuto, kPhaseAuto,
                          runStart, position, leadIn)) {
    double halfCell = (leadIn.highSamples + leadIn.lowSamples) / 2;
    size_t k = 0;
    if (leadIn.protocol != kProtocolMato && findFirstStartBit(crossings, leadIn, halfCell, k) &&
        k + 1 <= startBit + kNear && k + 1 + kNear >= startBit) {
      return true;
    }
    runStart = position = leadIn.end;
  }
  return false;
}

// The share of [from, to) that the signal spent at its high level, by the crossings.
double highShare(const Crossings& crossings, double from, double to) {
  const CrossingValues<double>& x = crossings.positions;
  size_t k = findCrossingFrom(x, from);
  // Before crossing k the level is the one that crossing k leaves.
  bool high = k < x.size() ? !isRising(crossings, k) : k > 0 && isRising(crossings, k - 1);
  double at = from;
  double sum = 0;
  for (; k < x.size() && x[k] < to; ++k) {
    sum += high ? x[k] - at : 0;
    at = x[k];
    high = isRising(crossings, k);
  }
  sum += high ? to - at : 0;
  return sum / (to - from);
}

// Reads the frame that starts at `frameStart`, `half` samples a half cell, from how long
// the signal stayed high in either half of each cell. False unless its start and stop bits
// check clearly, all but one at most and none the wrong way.
bool readFrameByClock(const Crossings& crossings, TapePhase phase, double frameStart, double half,
                      uint8_t& value) {
  uint32_t bits = 0;
  int32_t unclear = 0;  // start and stop cells that neither check nor fail
  for (int32_t cell = 0; cell < kFrameCells; ++cell) {
    const double start = frameStart + cell * 2 * half;
    double score = highShare(crossings, start, start + half) -
                   highShare(crossings, start + half, start + 2 * half);
    score = phase == kPhaseReversed ? -score : score;
    const bool mark = score > 0;
    if (cell == 0 || cell > kDataBits) {
      const bool clear = std::fabs(score) >= kClearCell;
      unclear += clear ? 0 : 1;
      if (unclear > 1 || (clear && mark != (cell != 0))) {
        return false;
      }
    }
    if (cell >= 1 && cell <= kDataBits && mark) {
      bits |= 1u << (cell - 1);
    }
  }
  value = static_cast<uint8_t>(bits);
  return true;
}

// Frames lost in a short gap where noise, not a dropout, broke the cells twice in a row:
// the frames on either side fix where each cell lies, so each frame is read by the clock.
// Those that check replace the unknown bytes from `first` on; they stay uncertain, since a
// cell may be as unclear as the noise made it, and the checksum decides. A dropout leaves
// the halves alike, and its bytes unknown.
void readLostFrames(const Crossings& crossings, TapePhase phase, const Gap& gap, size_t first,
                    TapePart& part) {
  const size_t lost = part.bytes.size() - first;
  if (lost == 0 || lost > kMaxClockFrames) {
    return;
  }
  const double frameSamples = (gap.resync.sample - gap.start) / static_cast<double>(lost);
  const double half = frameSamples / (2 * kFrameCells);
  for (size_t f = 0; f < lost; ++f) {
    uint8_t value = 0;
    if (readFrameByClock(crossings, phase, gap.start + static_cast<double>(f) * frameSamples,
                         half, value)) {
      part.bytes[first + f] = value;
      part.confidence[first + f] = kByteUncertain;
    }
  }
}

// The cells that a trial walk reads from a crossing after a gap.
struct TrialCells {
  bool marks[kTrialCells];
  size_t middles[kTrialCells];
  int32_t count = 0;
  int32_t leaderStart = -1;  // the first cell of a run of kLeaderMarks marks, or -1
};

// Walks up to kTrialCells cells from the middle at crossing `middle`, with the speed
// tracking of `walk`. Returns how the walk ended.
CellStep readTrialCells(const PmdCellWalk& walk, size_t middle, TrialCells& cells) {
  PmdCellWalk trial{walk.crossings, walk.phase, walk.halfCell, middle, {}};
  placeWalk(trial, middle);
  int32_t run = 0;
  CellStep step = kStepOk;
  for (; cells.count < kTrialCells && step == kStepOk; ++cells.count) {
    cells.marks[cells.count] = trial.mark;
    cells.middles[cells.count] = trial.middle;
    run = trial.mark ? run + 1 : 0;
    if (run == kLeaderMarks) {
      cells.leaderStart = cells.count + 1 - kLeaderMarks;
    }
    step = cells.count + 1 < kTrialCells ? stepCell(trial) : kStepOk;
  }
  return step;
}

// Of the cells where kResyncFrames frames in a row may begin, the one nearest to a whole
// number of frames after `gapStart`.
ResyncResult chooseFrameStart(const PmdCellWalk& walk, const TrialCells& cells,
                              double gapStart) {
  const CrossingValues<double>& x = walk.crossings->positions;
  const double frameSamples = kFrameCells * 2 * walk.halfCell;
  ResyncResult found;
  for (int32_t offset = 0; offset < kFrameCells; ++offset) {
    bool framed = offset + kResyncFrames * kFrameCells <= cells.count;
    for (int32_t f = 0; framed && f < kResyncFrames; ++f) {
      const int32_t start = offset + f * kFrameCells;
      framed = !cells.marks[start] && cells.marks[start + kFrameCells - 2] &&
               cells.marks[start + kFrameCells - 1];
    }
    if (framed) {
      const size_t middle = cells.middles[offset];
      keepNearestGuess(found, middle, x[middle] - walk.halfCell, gapStart, frameSamples);
    }
  }
  return found;
}

// Looks after a gap that began at sample `gapStart` (the start of the frame it broke, or
// the end of the last whole frame) for where frames go on, up to `deadline`, starting at
// crossing `from`. Speed tracking is frozen: a gap tells nothing of the speed.
ResyncResult findFramesAfterGap(const PmdCellWalk& walk, size_t from, double gapStart,
                                double deadline) {
  const CrossingValues<double>& x = walk.crossings->positions;
  for (size_t i = from;; ++i) {
    if (i + 1 >= x.size()) {
      return runOutOfCrossings(*walk.crossings, deadline);
    }
    if (x[i] > deadline) {
      return {};
    }
    // Only a whole-cell interval ends surely in the middle of a cell.
    if (classifyInterval(x[i + 1] - x[i], walk.halfCell) != kWholeCell) {
      continue;
    }
    TrialCells cells;
    if (readTrialCells(walk, i + 1, cells) == kStepOutOfData) {
      return {kResyncOutOfData};
    }
    const ResyncResult found = chooseFrameStart(walk, cells, gapStart);
    if (found.kind == kResyncFound) {
      return found;
    }
    if (cells.leaderStart >= 0) {
      return {kResyncLeadIn, 0, x[cells.middles[cells.leaderStart]] - walk.halfCell};
    }
  }
}


void awaitStartBit(PmdFrameReader& reader) {
  reader.bitCount = -1;
  reader.idleMarks = 0;
  reader.repaired = false;
  reader.guessed = false;
}

// Appends the byte of the frame whose last stop bit the walk is at.
int32_t endFrame(PmdFrameReader& reader) {
  PmdCellWalk& walk = reader.walk;
  TapePart& part = *reader.part;
  part.frameErrors += reader.badStopBit ? 1 : 0;
  const uint8_t clarity =
      gradeCells(*reader.crossings, reader.frameFirst, walk.middle + 1, walk.halfCell);
  const uint8_t confidence = reader.badStopBit || reader.guessed ? kByteUncertain
                             : reader.repaired ? std::min(clarity, kByteRepaired)
                                               : clarity;
  const int32_t status =
      appendByte(part, static_cast<uint8_t>(reader.value), confidence, reader.frameStart);
  reader.full =
      part.bytes.size() >= (reader.bridge.bridged ? kMaxPartLength : reader.byteLimit);
  reader.frameEnd = reader.frameStart + kFrameCells * 2 * walk.halfCell;
  reader.lastFrameEnd = walk.middle;
  awaitStartBit(reader);
  return status;
}

// Takes the cell the walk is at into the frame being read. Sets `stop` where the part
// ends there, and `misled` where the reading the clock chose led to a frame that does not
// check: the frames from the last whole one on are then looked for as after a gap.
int32_t takeCell(PmdFrameReader& reader, bool& stop, bool& misled) {
  const bool mark = reader.walk.mark;
  if (reader.bitCount < 0) {
    if (!mark && reader.full && !reader.bridge.bridged) {
      // Bytes would be lost without a word: the part is marked as cut.
      reader.part->cut = 1;
      stop = true;
    } else if (!mark) {
      reader.bitCount = 0;
      reader.value = 0;
      reader.badStopBit = false;
      reader.frameStart = reader.crossings->positions[reader.walk.middle] - reader.walk.halfCell;
      reader.firstByteSample =
          reader.firstByteSample < 0 ? reader.frameStart : reader.firstByteSample;
      reader.frameFirst = reader.walk.middle;
    } else if (++reader.idleMarks > kPmdMaxIdleMarks) {
      reader.endedCleanly = true;
      stop = true;
    }
    return kOk;
  }
  if (reader.bitCount < kDataBits) {
    reader.value |= (mark ? 1u : 0u) << reader.bitCount;
    ++reader.bitCount;
    return kOk;
  }
  reader.badStopBit = reader.badStopBit || !mark;
  if (++reader.bitCount < kDataBits + kStopBits) {
    return kOk;
  }
  misled = reader.badStopBit && reader.repaired;
  return misled ? kOk : endFrame(reader);
}

// Bridges the gap where the walk broke, or, `misled`, the frames from the last whole one
// on. Sets `stop` where the part ends there.
int32_t passGap(PmdFrameReader& reader, bool misled, bool& stop) {
  PmdCellWalk& walk = reader.walk;
  TapePart& part = *reader.part;
  if (misled && reader.misledAt == reader.lastFrameEnd) {
    misled = false;
  } else if (misled) {
    reader.misledAt = reader.lastFrameEnd;
  }
  Gap gap;
  gap.start = reader.bitCount >= 0 && !misled ? reader.frameStart : reader.frameEnd;
  gap.frameSamples = kFrameCells * 2 * walk.halfCell;
  gap.resync = findFramesAfterGap(walk, (misled ? reader.lastFrameEnd : walk.middle) + 1,
                                  gap.start, gap.start + reader.maxGapSamples);
  const size_t lostFrom = part.bytes.size();
  GapOutcome outcome = kGapEndsPart;
  const int32_t status = followGap(part, reader.bridge, reader.byteLimit, gap, outcome);
  reader.waiting = outcome == kGapWaiting;
  stop = outcome != kGapBridged;
  if (gap.resync.kind == kResyncLeadIn) {
    walk.middle = walk.middle + 1;
  }
  if (status == kOk && outcome == kGapBridged) {
    readLostFrames(*reader.crossings, walk.phase, gap, lostFrom, part);
    placeWalk(walk, gap.resync.crossing);
    awaitStartBit(reader);
  }
  return status;
}

// The part is whole at a gap, or ended where the next leader began: notes where the next
// part's frames go on, if they do after a gap within the dropout's reach, and leaves the
// gap to that part.
int32_t lookPastEnd(PmdFrameReader& reader, bool misled) {
  const PmdCellWalk& walk = reader.walk;
  const double gapStart = reader.bitCount >= 0 && !misled ? reader.frameStart : reader.frameEnd;
  const ResyncResult resync =
      findFramesAfterGap(walk, (misled ? reader.lastFrameEnd : walk.middle) + 1, gapStart,
                         gapStart + reader.maxGapSamples);
  reader.waiting = resync.kind == kResyncOutOfData;
  if (resync.kind == kResyncFound &&
      signalLostBetween(*reader.crossings, walk.middle + 1, resync.crossing, walk.halfCell) &&
      !leaderLeadsTo(*reader.crossings, reader.sampleRate, walk.middle + 1, resync.crossing)) {
    noteNextFrames(*reader.part, resync);
  }
  return kOk;
}

// Reads cell after cell until the part ends.
int32_t readFrames(PmdFrameReader& reader, PmdProgress& progress) {
  while (true) {
    bool stop = false;
    bool misled = false;
    int32_t status = keepReading(reader, progress, reader.walk.middle, kResumeCrossings);
    if (status == kOk) {
      status = takeCell(reader, stop, misled);
    }
    if (status != kOk) {
      return status;
    }
    if (stop) {
      // The next leader began; a dropout may have taken the rest of it.
      return reader.endedCleanly ? lookPastEnd(reader, false) : kOk;
    }
    const CellStep step = misled ? kStepBroken : stepCell(reader.walk);
    if (step == kStepOk) {
      reader.repaired = reader.repaired || reader.walk.repaired;
      reader.guessed = reader.guessed || reader.walk.guessed;
      continue;
    }
    if (step == kStepOutOfData) {
      // A repair may have looked many crossings ahead: the part may go on.
      reader.waiting = true;
      return kOk;
    }
    if (reader.part->bytes.empty() || reader.full) {
      return kOk;
    }
    if (!reader.bridge.bridged && reader.part->bytes.size() == reader.wholeLength) {
      return lookPastEnd(reader, misled);
    }
    // A dropout, a crease or a splice: the frames after it are placed by the time that
    // passed, and the bytes under it are marked unknown.
    status = passGap(reader, misled, stop);
    if (status != kOk || stop) {
      return status;
    }
  }
}


// Starts the reading of the frames after `leadIn` into `reader`, from the first start bit
// after the leader or, resumed, from the crossing where frames go on. False where the
// leader led nowhere, with `next` where the reading stopped.
bool startReading(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                  const PartLimits& limits, PmdFrameReader& reader, size_t& next) {
  const CrossingValues<double>& x = crossings.positions;
  TapePart& part = *reader.part;
  double halfCell = (leadIn.highSamples + leadIn.lowSamples) / 2;
  part.protocol = leadIn.protocol;
  part.startSample = x[leadIn.first];
  part.cellRate = sampleRate / (2 * halfCell);
  size_t startBit = leadIn.first;  // the crossing in the middle of the first start bit
  TapePhase phase = leadIn.phase;
  if (!leadIn.resumed) {
    size_t k = 0;
    const bool found = findFirstStartBit(crossings, leadIn, halfCell, k);
    phase = isRising(crossings, k) ? kPhaseReversed : kPhaseNormal;
    if (!found || (leadIn.phase != kPhaseAuto && leadIn.phase != phase)) {
      next = std::min(k + 1, x.size());
      return false;
    }
    startBit = k + 1;
  }
  part.phase = phase;
  part.startLost = leadIn.resumed ? 1 : 0;
  reader.crossings = &crossings;
  reader.walk = PmdCellWalk{&crossings, phase, halfCell, startBit, {}};
  reader.byteLimit = limits.byteLimit;
  reader.wholeLength = limits.wholeLength;
  reader.maxGapSamples = kMaxDropoutSeconds * sampleRate;
  reader.bridge = leadIn.resumed ? bridgeLostStart() : GapBridge{};
  reader.sampleRate = sampleRate;
  reader.measuredFrom = leadIn.end;
  placeWalk(reader.walk, startBit);
  reader.walk.mayRepair = true;
  reader.walk.bias = leadIn.cellBias;
  reader.frameFirst = reader.walk.middle;
  reader.lastFrameEnd = reader.walk.middle;
  // The search for the start bit looked a few crossings past it.
  reader.mayKeep = startBit + kResumeCrossings < x.size();
  return true;
}

// Goes on with the reading kept in `progress`, into `part`. Returns kOk or
// kErrOutOfMemory, reported.
int32_t resumeReading(const Crossings& crossings, const PmdProgress& progress,
                      PmdFrameReader& reader, TapePart& part) {
  reader = progress.reader;
  reader.crossings = &crossings;
  reader.walk.crossings = &crossings;
  reader.part = &part;
  reader.kept = false;
  return copyValue(part, progress.part);
}

}  // namespace

size_t firstCrossingKept(const PmdProgress& progress) {
  // signalLostBetween compares with the swing of the crossings before where it looks.
  constexpr size_t kBefore = 64;
  const PmdFrameReader& reader = progress.reader;
  const size_t first =
      std::min({reader.walk.middle, reader.lastFrameEnd, reader.frameFirst});
  return first > kBefore ? first - kBefore : 0;
}

int32_t readPmdFrames(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                      const PartLimits& limits, TapePart& part, size_t& next,
                      PmdProgress& progress) {
  const CrossingValues<double>& x = crossings.positions;
  PmdFrameReader reader;
  reader.part = &part;
  int32_t status = kOk;
  if (progress.valid) {
    status = resumeReading(crossings, progress, reader, part);
  } else if (!startReading(crossings, leadIn, sampleRate, limits, reader, next)) {
    return kOk;
  }
  if (status == kOk) {
    status = readFrames(reader, progress);
  }
  if (status != kOk) {
    return status;
  }
  if (reader.waiting && crossings.ended) {
    reader.waiting = false;
    closePartAtEnd(part, crossings, reader.frameEnd, kFrameCells * 2 * reader.walk.halfCell,
                   reader.bitCount >= 0, limits);
  }
  next = reader.waiting ? x.size() : reader.walk.middle;
  const size_t byteLimit = limits.byteLimit;
  const bool body = byteLimit < kMaxPartLength;
  if (reader.bridge.bridged && body) {
    status = fitBridgedBody(part, byteLimit, reader.bridge, reader.endedCleanly);
    if (status != kOk) {
      return status;
    }
  }
  status = markUnplacedBytes(part, reader.bridge,
                             body && part.bytes.size() == byteLimit && part.cut == 0);
  if (status != kOk) {
    return status;
  }
  part.cellSpread = reader.walk.spread.percent();
  part.cellBias = reader.walk.bias;
  measurePart(crossings, leadIn.end, next + 1, reader.firstByteSample, part, progress.swings);
  return kOk;
}
