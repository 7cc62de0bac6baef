// Mato frames: a mark is one period of 630 Hz and a space one of 1050 Hz, so the period
// between two crossings into the first level tells them apart; a frame is a mark start
// bit and 8 data bits with nothing between frames.
#include <algorithm>
#include <cmath>

#include "decode/frame_decoder.h"

namespace {

enum Cell { kInvalid, kSpace, kMark };

// A mark lasts 5/3 of a space at every rate (35/21, 15/9, 70/42 samples); the boundary
// sits at the geometric middle of the two.
constexpr double kMarkRatio = 5.0 / 3.0;
constexpr double kMarkBoundary = 1.29;
constexpr double kShortestCell = 0.6;
constexpr double kLongestCell = 2.2;
constexpr double kTrackingGain = 0.05;
constexpr double kShortestHead = 0.15;
constexpr double kHeadBoundary = 0.58;
constexpr double kLongestHead = 1.4;
// 510 spaces before a header, 128 before a body or a headerless block; the boundary
// leaves room for a header pilot whose start was lost.
constexpr int32_t kMinHeaderPilotCells = 300;
static_assert(kMinHeaderPilotCells > kMatoBlockPilotSpaces &&
              kMinHeaderPilotCells < kMatoHeaderPilotSpaces);
constexpr int32_t kDataBits = 8;
constexpr int32_t kFrameCells = 1 + kDataBits;
// Frames carry no stop bits, so only the start bit (a mark) tells where they begin: after
// a gap, a guess must find a mark at the start of this many frames in a row, and, where
// the block ends within them, come out at that end with whole frames.
constexpr int32_t kResyncFrames = 20;
constexpr int32_t kMinResyncFrames = 3;
// Data holds at most 8 spaces in a row (0x00); more is the next pilot.
constexpr int32_t kPilotSpaces = 16;
// A pulse shorter than this share of a space (a level lasts a third at least) is noise
// that split a level.
constexpr double kStrayPulse = 0.15;

Cell classify(double period, double space) {
  if (period < kShortestCell * space || period > kLongestCell * space) {
    return kInvalid;
  }
  return period < kMarkBoundary * space ? kSpace : kMark;
}

// Cells are read from crossing to crossing into the first level, following the speed.
struct CellWalk {
  const Crossings& crossings;
  double space;          // samples of a space, tracked
  size_t c;              // crossing where the next cell begins
  size_t cellStart = 0;  // crossing where the cell last read began
  bool ended = false;    // the last cell was read from its first level alone
  // A stray pulse was passed over since this was last cleared.
  bool repaired = false;
  double spreadSum = 0;
  double spreadCount = 0;
};

// The crossing that ends the level which crossing `k` begins: past a stray pulse that
// split the level, where one begins at k + 1.
size_t skipStrayPulse(CellWalk& walk, size_t k) {
  const std::vector<double>& x = walk.crossings.positions;
  if (k + 3 < x.size() && x[k + 2] - x[k + 1] < kStrayPulse * walk.space) {
    walk.repaired = true;
    return k + 3;
  }
  return k + 1;
}

// Returns the cell that starts at crossing c and moves c to the next one. The period to
// the next waveform and the length of the first level (a third of a space for a space, a
// whole space for a mark) must agree; where they do not, the next "waveform" is the noise
// or silence after the block, and the first level alone tells the last cell.
Cell readCell(CellWalk& walk) {
  const std::vector<double>& x = walk.crossings.positions;
  const size_t c = walk.c;
  if (walk.ended || c + 1 >= x.size()) {
    return kInvalid;
  }
  walk.cellStart = c;
  const double space = walk.space;
  const size_t headEnd = skipStrayPulse(walk, c);
  const size_t next = skipStrayPulse(walk, headEnd);
  const double head = x[headEnd] - x[c];
  if (head < kShortestHead * space || head > kLongestHead * space) {
    return kInvalid;
  }
  const Cell byHead = head < kHeadBoundary * space ? kSpace : kMark;
  const double period = next < x.size() ? x[next] - x[c] : 0;
  if (classify(period, space) == byHead) {
    const double measured = byHead == kMark ? period / kMarkRatio : period;
    walk.spreadSum += (measured / space - 1) * (measured / space - 1);
    walk.spreadCount += 1;
    walk.space += kTrackingGain * (measured - space);
    walk.c = next;
  } else {
    walk.c = headEnd;
    walk.ended = true;
  }
  return byHead;
}

enum Lookahead { kPilot, kNoPilot, kPilotUndecided };

// Whether the space just read by `walk` begins a pilot: the cells after it are spaces too.
Lookahead lookForPilot(CellWalk walk) {
  for (int32_t spaces = 1; spaces < kPilotSpaces; ++spaces) {
    const Cell cell = readCell(walk);
    if (cell == kInvalid && walk.c + 2 >= walk.crossings.positions.size() && !walk.ended) {
      return kPilotUndecided;
    }
    if (cell != kSpace) {
      return kNoPilot;
    }
  }
  return kPilot;
}

// Looks after a gap that began at sample `gapStart` for where frames go on, up to
// `deadline`, from crossing `from`. `frameSamples` is the mean frame length so far: the
// time since the gap decides between guesses that fit equally.
ResyncResult findFramesAfterGap(const CellWalk& walk, bool firstRising, size_t from,
                                double gapStart, double deadline, double frameSamples) {
  const std::vector<double>& x = walk.crossings.positions;
  constexpr int32_t kTrialCells = kResyncFrames * kFrameCells;
  for (size_t i = from;; ++i) {
    if (i + 2 >= x.size()) {
      return {kResyncOutOfData};
    }
    if (x[i] > deadline) {
      return {};
    }
    if (isRising(walk.crossings, i) != firstRising) {
      continue;
    }
    CellWalk trial{walk.crossings, walk.space, i};
    bool marks[kTrialCells];
    size_t starts[kTrialCells];
    int32_t count = 0;
    int32_t spaces = 0;
    bool pilot = false;
    Cell cell = kSpace;
    while (count < kTrialCells) {
      cell = readCell(trial);
      if (cell == kInvalid) {
        break;
      }
      marks[count] = cell == kMark;
      starts[count] = trial.cellStart;
      ++count;
      spaces = cell == kSpace ? spaces + 1 : 0;
      if (spaces == kPilotSpaces) {
        count -= kPilotSpaces;
        pilot = true;
        break;
      }
    }
    if (cell == kInvalid && trial.c + 2 >= x.size()) {
      return {kResyncOutOfData};
    }
    ResyncResult found;
    for (int32_t offset = 0;
         offset < kFrameCells && count - offset >= kMinResyncFrames * kFrameCells; ++offset) {
      // Where the block ends within the trial, the frames must fill it to its end.
      bool framed = !pilot || (count - offset) % kFrameCells == 0;
      for (int32_t start = offset; framed && start < count; start += kFrameCells) {
        framed = marks[start];
      }
      if (!framed) {
        continue;
      }
      keepNearestGuess(found, starts[offset], x[starts[offset]], gapStart, frameSamples);
    }
    if (found.kind == kResyncFound) {
      return found;
    }
    if (pilot) {
      return {kResyncLeadIn, 0, x[starts[count]]};
    }
  }
}

}  // namespace

int32_t decodeMatoPart(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                       bool afterHeader, size_t byteLimit, TapePart& part, size_t& next) {
  const std::vector<double>& x = crossings.positions;
  part.protocol = kProtocolMato;
  part.phase = leadIn.phase;
  part.startSample = x[leadIn.first];
  CellWalk walk{crossings, leadIn.highSamples + leadIn.lowSamples, leadIn.first};
  part.cellRate = sampleRate / walk.space;

  // Periods are measured between crossings into the first level, where each waveform
  // begins; the other edge would do as well, since both waveforms end alike.
  const bool firstRising = leadIn.phase != kPhaseReversed;
  if (isRising(crossings, walk.c) != firstRising) {
    ++walk.c;
  }
  int32_t pilotCells = 0;
  Cell cell = readCell(walk);
  for (; cell == kSpace; cell = readCell(walk)) {
    ++pilotCells;
    walk.repaired = false;
  }
  part.leadInCells = pilotCells;
  part.isBody = afterHeader && pilotCells < kMinHeaderPilotCells ? 1 : 0;
  // The mark that ended the pilot is the start bit of the first frame, except after a
  // body pilot, which closes with a mark of its own.
  if (cell == kMark && part.isBody != 0) {
    walk.repaired = false;
    cell = readCell(walk);
  }
  // Only a body has a length to keep to; any other part runs as far as its frames do.
  const size_t limit = part.isBody != 0 ? byteLimit : kMaxPartLength;
  const double firstFrameSample = x[walk.cellStart];  // the start bit just read
  walk.spreadSum = 0;
  walk.spreadCount = 0;
  const double maxGapSamples = kMaxDropoutSeconds * sampleRate;
  double lastFrameEnd = firstFrameSample;
  GapBridge bridge;  // once a gap is bridged, the body's length is fitted at the end
  bool endedCleanly = false;
  bool waiting = false;  // the crossings ran out while looking past a gap
  while (cell == kMark) {
    if (part.bytes.size() >= limit && !bridge.bridged) {
      // A start bit told by its first level alone had no waveform after it, one that only
      // a stray pulse passed over makes whole is as likely noise after the block, and so
      // is one that no whole frame follows (a coupling capacitor's swing back after the
      // last waveform, then hiss): only a frame that was left out makes the body cut.
      bool frameFollows = !walk.ended && !walk.repaired;
      if (frameFollows) {
        CellWalk ahead = walk;
        int32_t bit = 0;
        while (bit < kDataBits && readCell(ahead) != kInvalid) {
          ++bit;
        }
        frameFollows = bit == kDataBits;
        waiting = !frameFollows && !ahead.ended && ahead.c + 2 >= x.size();
      }
      part.cut = frameFollows ? 1 : 0;
      break;
    }
    const double frameStart = x[walk.cellStart];
    const size_t frameFirst = walk.cellStart;  // the start bit's first crossing
    uint32_t value = 0;
    int32_t bit = 0;
    for (; bit < kDataBits; ++bit) {
      const Cell data = readCell(walk);
      if (data == kInvalid) {
        break;
      }
      value |= (data == kMark ? 1u : 0u) << bit;
    }
    double gapStart = frameStart;
    if (bit == kDataBits) {
      // Every level of a Mato cell lasts a whole number of thirds of a space.
      const uint8_t clarity = gradeCells(crossings, frameFirst, walk.c + 1, walk.space / 3);
      const int32_t status =
          appendByte(part, static_cast<uint8_t>(value),
                     walk.repaired ? std::min(clarity, kByteRepaired) : clarity, frameStart);
      walk.repaired = false;
      if (status != kOk) {
        return status;
      }
      // A space where the next start bit belongs is the pilot of the next block.
      const size_t frameEnd = walk.c;
      lastFrameEnd = x[std::min(frameEnd, x.size() - 1)];
      cell = readCell(walk);
      if (cell == kMark) {
        continue;
      }
      if (cell == kSpace) {
        // A space where the next start bit belongs begins the next pilot, or is noise in
        // a dropout: only a pilot goes on with spaces.
        const Lookahead ahead = lookForPilot(walk);
        if (ahead != kNoPilot) {
          walk.c = frameEnd;
          endedCleanly = ahead == kPilot;
          waiting = ahead == kPilotUndecided;
          break;
        }
      }
      walk.c = frameEnd;
      walk.ended = false;
      gapStart = lastFrameEnd;
    }
    const bool full = part.bytes.size() >= (bridge.bridged ? kMaxPartLength : limit);
    if (part.bytes.empty() || full) {
      break;
    }
    // A dropout, a crease or a splice: the frames after it are placed by the time that
    // passed, and the bytes under it are marked unknown.
    const double frameSamples =
        (lastFrameEnd - firstFrameSample) / static_cast<double>(part.bytes.size());
    const ResyncResult resync = findFramesAfterGap(walk, firstRising, walk.c + 1, gapStart,
                                                   gapStart + maxGapSamples, frameSamples);
    if (resync.kind == kResyncOutOfData) {
      waiting = true;
      break;
    }
    if (resync.kind == kResyncNone) {
      break;
    }
    if (resync.kind == kResyncLeadIn) {
      const int32_t status = closeGapAtLeadIn(part, part.isBody != 0 ? limit : kMaxPartLength,
                                              gapStart, resync.sample, frameSamples);
      if (status != kOk) {
        return status;
      }
      break;
    }
    const int32_t status = bridgeGap(part, bridge, gapStart, resync.sample, frameSamples);
    if (status != kOk) {
      return status;
    }
    walk.c = resync.crossing;
    walk.ended = false;
    cell = readCell(walk);
  }
  if (bridge.bridged && part.isBody != 0) {
    const int32_t status = fitBridgedBody(part, limit, bridge, endedCleanly);
    if (status != kOk) {
      return status;
    }
  }
  part.isHeader = part.isBody == 0 && pilotCells >= kMinHeaderPilotCells &&
                          part.bytes.size() == kMatoHeaderStart + kHeaderLength
                      ? 1
                      : 0;
  next = waiting ? x.size() : walk.c;
  part.cellSpread = walk.spreadCount > 0 ? 100 * std::sqrt(walk.spreadSum / walk.spreadCount) : 0;
  if (!part.bytes.empty()) {
    measurePart(crossings, leadIn.end, next + 1, firstFrameSample, part);
  }
  return kOk;
}
