// The PMD 85 cell walk, and the repair of cells that noise broke.
#include "decode/pmd_cells.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// How much of the measured middle of a cell moves the clock; the rest is predicted from
// the cells before, which averages the jitter of noise over a few cells.
constexpr double kClockGain = 0.5;
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
// How quickly the bias of each pair of cells follows the middles that the intervals
// form: over about fifty of them, which averages noise out and follows a block's start.
constexpr double kBiasGain = 0.02;
// A bias within this many half cells is taken for none: noise alone moves the learned
// values about this far on a path that does not smear, and the clock then keeps to the
// prediction it always made.
constexpr double kBiasFloor = 0.025;
// Cells that each reading is followed through: the intervals must form them all.
constexpr int32_t kRepairTrialCells = 6;

// How far the cells after a placed middle stray from the clock, in half cells, summed over
// kRepairTrialCells; infinite when the intervals do not form them, -1 when the crossings
// run out before.
double scoreCellsAfter(PmdCellWalk trial) {
  const CrossingValues<double>& x = trial.crossings->positions;
  trial.mayRepair = false;
  double cost = 0;
  for (int32_t cell = 0; cell < kRepairTrialCells; ++cell) {
    const double clock = trial.clockMiddle == trial.middle ? trial.clock : x[trial.middle];
    const CellStep step = stepCell(trial);
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
CellStep repairCell(const PmdCellWalk& walk, double clock, Placement& chosen) {
  const CrossingValues<double>& x = walk.crossings->positions;
  const size_t middle = walk.middle;
  const double halfCell = walk.halfCell;
  const double predicted = clock + 2 * halfCell;  // without the bias: what the reach spans
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
    PmdCellWalk trial{walk.crossings, walk.phase, halfCell, next, {}};
    trial.mark = mark;
    trial.bias = walk.bias;
    size_t pattern = 0;
    trial.clock = predictMiddle(walk, clock, mark != walk.mark, pattern);
    trial.lastWhole = static_cast<uint8_t>(pattern & 1u);
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
    size_t pattern = 0;
    const double off =
        std::fabs(x[j] - predictMiddle(walk, clock, isMark(walk, j) != walk.mark, pattern)) /
        halfCell;
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
CellStep placeRepaired(PmdCellWalk& walk, const Placement& placed) {
  walk.middle = placed.middle;
  walk.mark = placed.mark;
  walk.clock = placed.clock;
  walk.clockMiddle = placed.middle;
  walk.repaired = true;
  walk.guessed = placed.guessed;
  return kStepOk;
}

}  // namespace

PmdInterval classifyInterval(double length, double halfCell) {
  if (length < 0.5 * halfCell || length >= 2.5 * halfCell) {
    return kNoCell;
  }
  return length < 1.5 * halfCell ? kHalfCell : kWholeCell;
}

double predictMiddle(const PmdCellWalk& walk, double clock, bool whole, size_t& pattern) {
  pattern = (walk.lastWhole != 0 ? 2u : 0u) | (whole ? 1u : 0u);
  const double bias = walk.bias[pattern];
  const double taken = bias > kBiasFloor ? bias - kBiasFloor : std::min(0.0, bias + kBiasFloor);
  return clock + (2 + taken) * walk.halfCell;
}

bool isMark(const PmdCellWalk& walk, size_t middle) {
  return isRising(*walk.crossings, middle) == (walk.phase == kPhaseReversed);
}

void placeWalk(PmdCellWalk& walk, size_t middle) {
  walk.middle = middle;
  walk.mark = isMark(walk, middle);
}

CellStep stepCell(PmdCellWalk& walk) {
  const CrossingValues<double>& x = walk.crossings->positions;
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
  const PmdInterval kind = classifyInterval(first, walk.halfCell);
  bool formed = kind != kNoCell;
  if (kind == kHalfCell) {
    if (middle + 2 >= x.size()) {
      return kStepOutOfData;
    }
    // The crossing between two half cells may be moved by noise; the middle after them
    // decides.
    formed = classifyInterval(x[middle + 2] - clock, walk.halfCell) == kWholeCell;
  }
  if (!formed) {
    const CellStep step = mayRepair ? repairCell(walk, clock, placed) : kStepBroken;
    return step == kStepOk ? placeRepaired(walk, placed) : step;
  }
  const size_t next = middle + (kind == kWholeCell ? 1 : 2);
  size_t pattern = 0;
  const double predicted = predictMiddle(walk, clock, kind == kWholeCell, pattern);
  if (mayRepair && std::fabs(x[next] - predicted) > kDoubtedOffset * walk.halfCell) {
    // A cell formed, but far from the clock: a stray pulse may have made it.
    const CellStep step = repairCell(walk, clock, placed);
    if (step == kStepOutOfData) {
      return step;
    }
    if (step == kStepOk && (placed.middle != next || placed.mark != isMark(walk, next))) {
      return placeRepaired(walk, placed);
    }
  }
  placeWalk(walk, next);
  walk.bias[pattern] += static_cast<float>(
      kBiasGain * ((x[walk.middle] - clock) / walk.halfCell - 2 - walk.bias[pattern]));
  walk.lastWhole = static_cast<uint8_t>(pattern & 1u);
  const double cell = x[walk.middle] - clock;
  walk.spread.add(cell, walk.halfCell);
  walk.halfCell += kPmdTrackingGain * (cell / 2 - walk.halfCell);
  walk.clock = predicted + kClockGain * (x[walk.middle] - predicted);
  walk.clockMiddle = walk.middle;
  return kStepOk;
}
