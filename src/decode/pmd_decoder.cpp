// PMD 85 frames: every cell is one full square period, a mark starting with the high
// level and a space with the low one, so the level always changes in the middle of a
// cell and between two equal cells. Crossing intervals are half cells or whole cells.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "decode/frame_decoder.h"

namespace {

enum Interval { kInvalid, kHalfCell, kWholeCell };

// How quickly the half-cell estimate follows the tape speed.
constexpr double kTrackingGain = 0.05;
// How much of the measured middle of a cell moves the clock; the rest is predicted from
// the cells before, which averages the jitter of noise over a few cells.
constexpr double kClockGain = 0.5;
// Marks after the stop bits that end a part: the next leader has begun.
constexpr int32_t kMaxIdleMarks = 4;
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
// Data holds at most 14 marks in a row (0xFF, its stop bits and a few idle marks); more
// is the next leader, and the block ended inside the gap.
constexpr int32_t kLeaderMarks = 24;

Interval classify(double length, double halfCell) {
  if (length < 0.5 * halfCell || length >= 2.5 * halfCell) {
    return kInvalid;
  }
  return length < 1.5 * halfCell ? kHalfCell : kWholeCell;
}

// The spread of the cell lengths around the tracked length, for the report on a block.
struct Spread {
  double sum = 0;
  double count = 0;
  void add(double cell, double halfCell) {
    const double deviation = cell / (2 * halfCell) - 1;
    sum += deviation * deviation;
    count += 1;
  }
  double percent() const { return count > 0 ? 100 * std::sqrt(sum / count) : 0; }
};

enum Step { kStepOk, kStepBroken, kStepOutOfData };

// A walk from the middle of one cell to the middle of the next, following the tape speed.
struct CellWalk {
  const Crossings& crossings;
  TapePhase phase;
  double halfCell;
  size_t middle;  // crossing in the middle of the current cell
  Spread spread;
  // Where the middle of the current cell is taken to be: its crossing, pulled towards the
  // time the cells before it predict, so that noise on one crossing does not move the
  // next decision. Valid while clockMiddle is middle; a walk placed anew starts over.
  double clock = 0;
  size_t clockMiddle = SIZE_MAX;
  // The current cell: its crossing gives it, except where the clock placed a middle whose
  // crossing noise took away.
  bool mark = false;
  // Whether a cell that the intervals do not form may be placed by the clock (the reading
  // of frames, not the trials after a gap), and whether the current one was.
  bool mayRepair = false;
  bool repaired = false;
  bool guessed = false;  // the current cell, so placed, could as well have been the other
};

// A falling middle is a mark in normal phase.
bool isMark(const CellWalk& walk, size_t middle) {
  return isRising(walk.crossings, middle) == (walk.phase == kPhaseReversed);
}

// Places the walk at `middle`, a crossing, and takes its cell.
void placeWalk(CellWalk& walk, size_t middle) {
  walk.middle = middle;
  walk.mark = isMark(walk, middle);
}

// Crossings the clock may look past for the next middle: a stray pulse or two. More is
// noise or silence, which the reading after a gap deals with.
constexpr size_t kMaxRepairCrossings = 6;
// How far from the clock's prediction a crossing may lie and still be taken for the
// middle, in half cells: further than the plain walk allows, since the cells after it
// decide between the readings.
constexpr double kRepairReach = 0.8;
// What a middle placed without a crossing costs, in half cells off the prediction: as
// much as the furthest crossing that may be taken, since a crossing moved that far is
// likelier than a level lost.
constexpr double kVirtualMiddleCost = kRepairReach;
// How far from the clock's prediction, in half cells, a middle that the intervals form
// is doubted, and the readings the clock allows are compared with it.
constexpr double kDoubtedOffset = 0.3;
// Cells that each reading is followed through: the intervals must form them all.
constexpr int32_t kRepairTrialCells = 6;

Step stepCell(CellWalk& walk);

// How far the cells after a placed middle stray from the clock, in half cells, summed over
// kRepairTrialCells; infinite when the intervals do not form them, -1 when the crossings
// run out before.
double scoreCellsAfter(CellWalk trial) {
  const std::vector<double>& x = trial.crossings.positions;
  trial.mayRepair = false;
  double cost = 0;
  for (int32_t cell = 0; cell < kRepairTrialCells; ++cell) {
    const double clock = trial.clockMiddle == trial.middle ? trial.clock : x[trial.middle];
    const Step step = stepCell(trial);
    if (step == kStepOutOfData) {
      return -1;
    }
    if (step == kStepBroken) {
      return std::numeric_limits<double>::infinity();
    }
    cost += std::fabs(x[trial.middle] - clock - 2 * trial.halfCell) / trial.halfCell;
  }
  return cost;
}

// Where the clock places the next middle, and the cell there.
struct Placement {
  size_t middle = 0;
  bool mark = false;
  double clock = 0;
  bool guessed = false;
};

// Noise at the lowest rates adds a short pulse, takes a short level away or moves a
// crossing past the tolerance, and the intervals form no cell, or one whose middle lies
// far from the clock. The clock then places the next middle into `chosen`: at a crossing
// near where it predicts one, or, where a short level vanished with the middle's
// crossing, at the prediction itself, with the cell that the crossings around it allow.
// Each reading is followed for a few cells, and the one they fit best is kept, if they
// fit it at all.
Step repairCell(const CellWalk& walk, double clock, Placement& chosen) {
  const std::vector<double>& x = walk.crossings.positions;
  const size_t middle = walk.middle;
  const double halfCell = walk.halfCell;
  const double predicted = clock + 2 * halfCell;
  size_t end = middle + 1;
  while (end < x.size() && end <= middle + kMaxRepairCrossings &&
         x[end] < predicted + kRepairReach * halfCell) {
    ++end;
  }
  if (end >= x.size()) {
    return kStepOutOfData;
  }
  if (end > middle + kMaxRepairCrossings) {
    return kStepBroken;
  }
  double bestCost = -1;
  // A crossing this far off says more of the noise than of the speed: the clock keeps to
  // its prediction.
  const auto consider = [&](size_t next, bool mark, double cost, bool guess) {
    CellWalk trial{walk.crossings, walk.phase, halfCell, next, {}};
    trial.mark = mark;
    trial.clock = predicted;
    trial.clockMiddle = next;
    const double after = scoreCellsAfter(trial);
    if (after < 0) {
      return false;
    }
    if (bestCost < 0 || cost + after < bestCost) {
      chosen = {next, mark, trial.clock, guess};
      bestCost = cost + after;
    }
    return true;
  };
  for (size_t j = middle + 1; j < end; ++j) {
    const double off = std::fabs(x[j] - predicted) / halfCell;
    if (off < kRepairReach && !consider(j, isMark(walk, j), off, false)) {
      return kStepOutOfData;
    }
  }
  // A short level vanished with the middle's crossing. Where the next crossing is the
  // boundary before the lost middle, the boundary after it went too; where it is the
  // boundary after, the one before went. Either way a boundary stood before the middle,
  // and a boundary joins equal cells. Where the next crossing is the middle after, the
  // lost cell may have been either: the same as the current one is a guess.
  const double after = (x[middle + 1] - clock) / halfCell;
  const bool boundaryBefore = std::fabs(after - 1) < 0.5;
  const bool middleAfter = std::fabs(after - 4) < 0.5;
  if ((boundaryBefore || middleAfter || std::fabs(after - 3) < 0.5) &&
      !consider(boundaryBefore ? middle + 1 : middle, walk.mark, kVirtualMiddleCost, middleAfter)) {
    return kStepOutOfData;
  }
  // A reading the cells after it break is no better than none.
  return bestCost < 0 || std::isinf(bestCost) ? kStepBroken : kStepOk;
}

// Moves the walk to a middle that the clock placed. Two cells in a row that need this
// are no stray pulse: the walk then breaks.
Step placeRepaired(CellWalk& walk, const Placement& placed) {
  walk.middle = placed.middle;
  walk.mark = placed.mark;
  walk.clock = placed.clock;
  walk.clockMiddle = placed.middle;
  walk.repaired = true;
  walk.guessed = placed.guessed;
  return kStepOk;
}

// Moves walk.middle to the middle of the next cell; where the intervals form no cell
// (noise, silence, a dropout) or run out, it stays.
Step stepCell(CellWalk& walk) {
  const std::vector<double>& x = walk.crossings.positions;
  const size_t middle = walk.middle;
  if (middle + 1 >= x.size()) {
    return kStepOutOfData;
  }
  const double clock = walk.clockMiddle == middle ? walk.clock : x[middle];
  const bool mayRepair = walk.mayRepair && !walk.repaired;
  walk.repaired = false;
  walk.guessed = false;
  Placement placed;
  const double first = x[middle + 1] - clock;
  const Interval kind = classify(first, walk.halfCell);
  bool formed = kind != kInvalid;
  if (kind == kHalfCell) {
    if (middle + 2 >= x.size()) {
      return kStepOutOfData;
    }
    // The crossing between two half cells may be moved by noise; the middle after them
    // decides.
    formed = classify(x[middle + 2] - clock, walk.halfCell) == kWholeCell;
  }
  if (!formed) {
    const Step step = mayRepair ? repairCell(walk, clock, placed) : kStepBroken;
    return step == kStepOk ? placeRepaired(walk, placed) : step;
  }
  const size_t next = middle + (kind == kWholeCell ? 1 : 2);
  const double predicted = clock + 2 * walk.halfCell;
  if (mayRepair && std::fabs(x[next] - predicted) > kDoubtedOffset * walk.halfCell) {
    // A cell formed, but far from the clock: a stray pulse may have made it.
    const Step step = repairCell(walk, clock, placed);
    if (step == kStepOutOfData) {
      return step;
    }
    if (step == kStepOk && (placed.middle != next || placed.mark != isMark(walk, next))) {
      return placeRepaired(walk, placed);
    }
  }
  placeWalk(walk, next);
  const double cell = x[walk.middle] - clock;
  walk.spread.add(cell, walk.halfCell);
  walk.halfCell += kTrackingGain * (cell / 2 - walk.halfCell);
  walk.clock = predicted + kClockGain * (x[walk.middle] - predicted);
  walk.clockMiddle = walk.middle;
  return kStepOk;
}

// True when the cells from crossing `middle` on, the end of a whole-cell interval, read
// as the leader half a cell out of step: noise that moved a crossing inside the leader
// makes a start bit, but the marks after it read as spaces, stop bits and all.
bool readsLeaderOutOfStep(const Crossings& crossings, TapePhase phase, double halfCell,
                          size_t middle) {
  CellWalk trial{crossings, phase, halfCell, middle, {}};
  placeWalk(trial, middle);
  trial.mayRepair = true;
  for (int32_t cell = 1; cell < kFrameCells; ++cell) {
    if (trial.mark || stepCell(trial) != kStepOk) {
      return false;
    }
  }
  return !trial.mark;
}

// The share of [from, to) that the signal spent at its high level, by the crossings.
double highShare(const Crossings& crossings, double from, double to) {
  const std::vector<double>& x = crossings.positions;
  auto k = static_cast<size_t>(std::lower_bound(x.begin(), x.end(), from) - x.begin());
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

// Frames lost in a short gap where noise, not a dropout, broke the cells twice in a row:
// the frames on either side fix where each cell lies, so each cell is read from how long
// the signal stayed high in either half. Bytes whose start and stop bits check clearly
// that way, all but one at most and none the wrong way, replace the unknown bytes from
// `first` on; they stay uncertain, since a cell may be as unclear as the noise made it,
// and the checksum decides. A dropout leaves
// the halves alike, and its bytes unknown.
void readLostFrames(const Crossings& crossings, TapePhase phase, double gapStart,
                    double resumeSample, size_t first, TapePart& part) {
  const size_t lost = part.bytes.size() - first;
  if (lost == 0 || lost > kMaxClockFrames) {
    return;
  }
  const double frameSamples = (resumeSample - gapStart) / static_cast<double>(lost);
  const double half = frameSamples / (2 * kFrameCells);
  for (size_t f = 0; f < lost; ++f) {
    uint32_t value = 0;
    bool framed = true;
    int32_t unclear = 0;  // start and stop cells that neither check nor fail
    for (int32_t cell = 0; cell < kFrameCells && framed; ++cell) {
      const double start = gapStart + static_cast<double>(f) * frameSamples + cell * 2 * half;
      double score = highShare(crossings, start, start + half) -
                     highShare(crossings, start + half, start + 2 * half);
      score = phase == kPhaseReversed ? -score : score;
      const bool mark = score > 0;
      if (cell == 0 || cell > kDataBits) {
        const bool clear = std::fabs(score) >= kClearCell;
        unclear += clear ? 0 : 1;
        framed = unclear <= 1 && (!clear || mark == (cell != 0));
      }
      if (cell >= 1 && cell <= kDataBits && mark) {
        value |= 1u << (cell - 1);
      }
    }
    if (framed) {
      part.bytes[first + f] = static_cast<uint8_t>(value);
      part.confidence[first + f] = kByteUncertain;
    }
  }
}

// Looks after a gap that began at sample `gapStart` (the start of the frame it broke, or
// the end of the last whole frame) for where frames go on, up to `deadline`, starting at
// crossing `from`. Speed tracking is frozen: a gap tells nothing of the speed.
ResyncResult findFramesAfterGap(const CellWalk& walk, size_t from, double gapStart,
                                double deadline) {
  const std::vector<double>& x = walk.crossings.positions;
  const double frameSamples = kFrameCells * 2 * walk.halfCell;
  constexpr int32_t kTrialCells = (kResyncFrames + 1) * kFrameCells;
  for (size_t i = from;; ++i) {
    if (i + 1 >= x.size()) {
      return {kResyncOutOfData};
    }
    if (x[i] > deadline) {
      return {};
    }
    // Only a whole-cell interval ends surely in the middle of a cell.
    if (classify(x[i + 1] - x[i], walk.halfCell) != kWholeCell) {
      continue;
    }
    CellWalk trial{walk.crossings, walk.phase, walk.halfCell, i + 1, {}};
    placeWalk(trial, i + 1);
    bool marks[kTrialCells];
    size_t middles[kTrialCells];
    int32_t count = 0;
    int32_t run = 0;
    int32_t runStart = -1;
    Step step = kStepOk;
    for (; count < kTrialCells && step == kStepOk; ++count) {
      marks[count] = trial.mark;
      middles[count] = trial.middle;
      run = marks[count] ? run + 1 : 0;
      if (run == kLeaderMarks) {
        runStart = count + 1 - kLeaderMarks;
      }
      step = count + 1 < kTrialCells ? stepCell(trial) : kStepOk;
    }
    if (step == kStepOutOfData) {
      return {kResyncOutOfData};
    }
    ResyncResult found;
    for (int32_t offset = 0; offset < kFrameCells; ++offset) {
      bool framed = offset + kResyncFrames * kFrameCells <= count;
      for (int32_t f = 0; framed && f < kResyncFrames; ++f) {
        const int32_t start = offset + f * kFrameCells;
        framed = !marks[start] && marks[start + kFrameCells - 2] && marks[start + kFrameCells - 1];
      }
      if (!framed) {
        continue;
      }
      keepNearestGuess(found, middles[offset], x[middles[offset]] - walk.halfCell, gapStart,
                       frameSamples);
    }
    if (found.kind == kResyncFound) {
      return found;
    }
    if (runStart >= 0) {
      return {kResyncLeadIn, 0, x[middles[runStart]] - walk.halfCell};
    }
  }
}

}  // namespace

int32_t decodePmdPart(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                      size_t byteLimit, TapePart& part, size_t& next) {
  const std::vector<double>& x = crossings.positions;
  double halfCell = (leadIn.highSamples + leadIn.lowSamples) / 2;
  part.protocol = leadIn.protocol;
  part.startSample = x[leadIn.first];
  part.cellRate = sampleRate / (2 * halfCell);
  part.leadInCells = static_cast<int32_t>((leadIn.end - leadIn.first) / 2);

  // The leader is all marks; the first whole-cell interval joins the low half of the last
  // mark with the low half of the first start bit, so its level gives the phase and its
  // end is the middle of that start bit.
  size_t k = leadIn.first;
  for (; k + 1 < x.size(); ++k) {
    const double length = x[k + 1] - x[k];
    const Interval kind = classify(length, halfCell);
    if (kind != kHalfCell && k + 2 < x.size() &&
        std::fabs(x[k + 2] - x[k] - 2 * halfCell) < 0.5 * halfCell) {
      // Noise moved the crossing between two half cells; the start bit's whole cell is
      // followed by at least a half one.
      ++k;
      continue;
    }
    if (kind == kInvalid && length < halfCell && k + 3 < x.size() &&
        classify(x[k + 3] - x[k], halfCell) == kHalfCell) {
      // A stray pulse split a half cell of the leader.
      k += 2;
      continue;
    }
    if (kind == kInvalid) {
      next = k + 1;
      return kOk;
    }
    if (kind == kWholeCell) {
      const TapePhase phase = isRising(crossings, k) ? kPhaseReversed : kPhaseNormal;
      if (!readsLeaderOutOfStep(crossings, phase, halfCell, k + 1)) {
        break;
      }
      continue;
    }
    halfCell += kTrackingGain * (length - halfCell);
  }
  if (k + 1 >= x.size()) {
    next = x.size();
    return kOk;
  }
  const TapePhase phase = isRising(crossings, k) ? kPhaseReversed : kPhaseNormal;
  if (leadIn.phase != kPhaseAuto && leadIn.phase != phase) {
    next = k + 1;
    return kOk;
  }
  part.phase = phase;

  // A gap longer than this is no dropout: the block has ended.
  const double maxGapSamples = kMaxDropoutSeconds * sampleRate;
  CellWalk walk{crossings, phase, halfCell, k + 1, {}};
  placeWalk(walk, k + 1);
  walk.mayRepair = true;
  double firstByteSample = -1;
  double frameStart = 0;            // of the frame being read
  double frameEnd = -1;             // of the last whole frame
  size_t frameFirst = walk.middle;  // the crossing in the middle of the frame's start bit
  int32_t bitCount = -1;            // -1: waiting for a start bit; then bits of the frame so far
  int32_t idleMarks = 0;
  uint32_t value = 0;
  bool badStopBit = false;
  // Whether the clock placed a cell since the last whole frame, and guessed one; the
  // crossing in the middle of that frame's last stop bit.
  bool repaired = false;
  bool guessed = false;
  size_t lastFrameEnd = walk.middle;
  bool full = false;
  GapBridge bridge;  // once a gap is bridged, the body's length is fitted at the end
  bool endedCleanly = false;
  bool waiting = false;  // the crossings ran out
  while (true) {
    const bool mark = walk.mark;
    bool misled = false;
    if (bitCount < 0) {
      if (!mark && full && !bridge.bridged) {
        // Bytes would be lost without a word: the part is marked as cut.
        part.cut = 1;
        break;
      }
      if (!mark) {
        bitCount = 0;
        value = 0;
        badStopBit = false;
        frameStart = x[walk.middle] - walk.halfCell;
        if (firstByteSample < 0) {
          firstByteSample = frameStart;
        }
        frameFirst = walk.middle;
      } else if (++idleMarks > kMaxIdleMarks) {
        endedCleanly = true;
        break;
      }
    } else if (bitCount < kDataBits) {
      value |= (mark ? 1u : 0u) << bitCount;
      ++bitCount;
    } else {
      badStopBit = badStopBit || !mark;
      if (++bitCount == kDataBits + kStopBits && badStopBit && repaired) {
        // The reading the clock chose led to a frame that does not check: it went astray,
        // and the frames from the last whole one on are looked for as after a gap. Before
        // any, the leader led nowhere.
        misled = true;
      } else if (bitCount == kDataBits + kStopBits) {
        part.frameErrors += badStopBit ? 1 : 0;
        const uint8_t clarity = gradeCells(crossings, frameFirst, walk.middle + 1, walk.halfCell);
        const uint8_t confidence = badStopBit || guessed ? kByteUncertain
                                   : repaired            ? std::min(clarity, kByteRepaired)
                                                         : clarity;
        const int32_t status =
            appendByte(part, static_cast<uint8_t>(value), confidence, frameStart);
        if (status != kOk) {
          return status;
        }
        full = part.bytes.size() >= (bridge.bridged ? kMaxPartLength : byteLimit);
        frameEnd = frameStart + kFrameCells * 2 * walk.halfCell;
        lastFrameEnd = walk.middle;
        bitCount = -1;
        idleMarks = 0;
        repaired = false;
        guessed = false;
      }
    }
    const Step step = misled ? kStepBroken : stepCell(walk);
    if (step == kStepOk) {
      repaired = repaired || walk.repaired;
      guessed = guessed || walk.guessed;
      continue;
    }
    if (step == kStepOutOfData) {
      // A repair may have looked many crossings ahead: the part may go on.
      waiting = true;
      break;
    }
    if (part.bytes.empty() || full) {
      break;
    }
    // A dropout, a crease or a splice: the frames after it are placed by the time that
    // passed, and the bytes under it are marked unknown.
    const double gapStart = bitCount >= 0 && !misled ? frameStart : frameEnd;
    const ResyncResult resync = findFramesAfterGap(walk, (misled ? lastFrameEnd : walk.middle) + 1,
                                                   gapStart, gapStart + maxGapSamples);
    if (resync.kind == kResyncOutOfData) {
      waiting = true;
      break;
    }
    if (resync.kind == kResyncNone) {
      break;
    }
    const double frameSamples = kFrameCells * 2 * walk.halfCell;
    if (resync.kind == kResyncLeadIn) {
      const int32_t status =
          closeGapAtLeadIn(part, byteLimit, gapStart, resync.sample, frameSamples);
      if (status != kOk) {
        return status;
      }
      walk.middle = walk.middle + 1;
      break;
    }
    const size_t lostFrom = part.bytes.size();
    const int32_t status = bridgeGap(part, bridge, gapStart, resync.sample, frameSamples);
    if (status != kOk) {
      return status;
    }
    readLostFrames(crossings, walk.phase, gapStart, resync.sample, lostFrom, part);
    placeWalk(walk, resync.crossing);
    bitCount = -1;
    idleMarks = 0;
    repaired = false;
    guessed = false;
  }
  next = waiting ? x.size() : walk.middle;
  if (bridge.bridged && byteLimit < kMaxPartLength) {
    const int32_t status = fitBridgedBody(part, byteLimit, bridge, endedCleanly);
    if (status != kOk) {
      return status;
    }
  }
  part.cellSpread = walk.spread.percent();
  measurePart(crossings, leadIn.end, next + 1, firstByteSample, part);
  return kOk;
}
