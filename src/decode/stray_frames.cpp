// Telling frames from the silence, hiss, hum and tones between blocks.
#include "decode/stray_frames.h"

#include <algorithm>

#include "core/memory.h"

namespace {

// About a dozen frames of either protocol: far more than noise strings together at the
// level of the tape's own signal.
constexpr size_t kStrayCells = 160;
// Data mixes both lengths of cell; a leader, a pilot's spaces or a tone holds one.
constexpr size_t kMinShareOfEach = 10;  // %
constexpr double kMinSwingShare = 0.5;

enum CellLength { kNotACell, kShortCell, kLongCell };

// PMD 85 intervals last a half cell or a whole one. Mato levels are unequal, so two
// intervals in a row are measured: a space's period, or more where a mark is in them.
CellLength classifyCell(TapeProtocol protocol, const CrossingValues<double>& x, size_t i,
                        double unit) {
  if (protocol == kProtocolMato) {
    const double share = i >= x.first + 2 ? (x[i] - x[i - 2]) / unit : 0;
    return share < 0.6 || share > 2.2 ? kNotACell : share <= 1.3 ? kShortCell : kLongCell;
  }
  const double share = (x[i] - x[i - 1]) / unit;
  if (share >= 0.6 && share <= 1.4) {
    return kShortCell;
  }
  return share >= 1.6 && share <= 2.4 ? kLongCell : kNotACell;
}

void endRun(StrayWatch& watch) {
  watch.cells = 0;
  watch.longCells = 0;
  watch.swingSum = 0;
}

bool looksLikeFrames(const StrayWatch& watch) {
  const size_t shortCells = watch.cells - watch.longCells;
  const size_t least = watch.cells * kMinShareOfEach / 100;
  return watch.cells >= kStrayCells && watch.longCells >= least && shortCells >= least &&
         watch.swingSum / static_cast<double>(watch.cells) >= kMinSwingShare * watch.swing;
}

}  // namespace

void watchAfterPart(StrayWatch& watch, TapeProtocol protocol, double cellRate, double swing,
                    bool cut, int32_t sampleRate) {
  watch.protocol = protocol;
  watch.unitSamples = cellRate > 0 ? sampleRate / (protocol == kProtocolMato ? cellRate
                                                                              : 2 * cellRate)
                                   : 0;
  watch.swing = swing;
  watch.paused = cut;
  watch.noted = false;
  endRun(watch);
}

int32_t watchForStrayFrames(StrayWatch& watch, const Crossings& crossings, size_t from,
                            size_t to, int32_t sampleRate) {
  const CrossingValues<double>& x = crossings.positions;
  if (watch.unitSamples <= 0 || watch.paused || watch.noted) {
    return kOk;
  }
  // The window may have let go of the crossings before `from`.
  for (size_t i = std::max(from, x.first + 1); i < to && i < x.size(); ++i) {
    const CellLength length = classifyCell(watch.protocol, x, i, watch.unitSamples);
    if (length == kNotACell) {
      endRun(watch);
      continue;
    }
    watch.runStart = watch.cells == 0 ? x[i - 1] : watch.runStart;
    ++watch.cells;
    watch.longCells += length == kLongCell ? 1 : 0;
    watch.swingSum += crossings.swings[i];
    if (looksLikeFrames(watch)) {
      watch.noted = true;
      return appendItem(watch.seconds, watch.runStart / sampleRate);
    }
  }
  return kOk;
}
