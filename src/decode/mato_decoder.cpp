// Mato frames: a mark is one period of 630 Hz and a space one of 1050 Hz, so the period
// between two crossings into the first level tells them apart; a frame is a mark start
// bit and 8 data bits with nothing between frames.
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

Cell classify(double period, double space) {
  if (period < kShortestCell * space || period > kLongestCell * space) {
    return kInvalid;
  }
  return period < kMarkBoundary * space ? kSpace : kMark;
}

}  // namespace

int32_t decodeMatoPart(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                       bool afterHeader, size_t byteLimit, TapePart& part, size_t& next) {
  const std::vector<double>& x = crossings.positions;
  double space = leadIn.highSamples + leadIn.lowSamples;
  part.protocol = kProtocolMato;
  part.phase = leadIn.phase;
  part.startSample = x[leadIn.first];
  part.cellRate = sampleRate / space;

  // Periods are measured between crossings into the first level, where each waveform
  // begins; the other edge would do as well, since both waveforms end alike.
  const bool firstRising = leadIn.phase != kPhaseReversed;
  size_t c = leadIn.first;
  if (isRising(crossings, c) != firstRising) {
    ++c;
  }
  bool ended = false;
  double spreadSum = 0;
  double spreadCount = 0;
  size_t cellStart = c;  // the crossing where the cell last read began
  // Returns the cell that starts at crossing c and moves c to the next one. The period to
  // the next waveform and the length of the first level (a third of a space for a space,
  // a whole space for a mark) must agree; where they do not, the next "waveform" is the
  // noise or silence after the block, and the first level alone tells the last cell.
  const auto readCell = [&]() {
    if (ended || c + 1 >= x.size()) {
      return kInvalid;
    }
    cellStart = c;
    const double head = x[c + 1] - x[c];
    if (head < kShortestHead * space || head > kLongestHead * space) {
      return kInvalid;
    }
    const Cell byHead = head < kHeadBoundary * space ? kSpace : kMark;
    const double period = c + 2 < x.size() ? x[c + 2] - x[c] : 0;
    if (classify(period, space) == byHead) {
      const double measured = byHead == kMark ? period / kMarkRatio : period;
      spreadSum += (measured / space - 1) * (measured / space - 1);
      spreadCount += 1;
      space += kTrackingGain * (measured - space);
      c += 2;
    } else {
      c += 1;
      ended = true;
    }
    return byHead;
  };

  int32_t pilotCells = 0;
  Cell cell = readCell();
  for (; cell == kSpace; cell = readCell()) {
    ++pilotCells;
  }
  part.leadInCells = pilotCells;
  part.isBody = afterHeader && pilotCells < kMinHeaderPilotCells ? 1 : 0;
  // The mark that ended the pilot is the start bit of the first frame, except after a
  // body pilot, which closes with a mark of its own.
  if (cell == kMark && part.isBody != 0) {
    cell = readCell();
  }
  // Only a body has a length to keep to; any other part runs as far as its frames do.
  const size_t limit = part.isBody != 0 ? byteLimit : kMaxPartLength;
  const size_t firstFrame = cellStart;  // the start bit just read
  spreadSum = 0;
  spreadCount = 0;
  while (cell == kMark) {
    if (part.bytes.size() >= limit) {
      // A start bit told by its first level alone had no waveform after it: noise after
      // the block, not a frame that was left out.
      part.cut = ended ? 0 : 1;
      break;
    }
    const size_t frameFirst = cellStart;  // the start bit's first crossing
    uint32_t value = 0;
    int32_t bit = 0;
    for (; bit < kDataBits; ++bit) {
      const Cell data = readCell();
      if (data == kInvalid) {
        break;
      }
      value |= (data == kMark ? 1u : 0u) << bit;
    }
    if (bit < kDataBits) {
      break;
    }
    // Every level of a Mato cell lasts a whole number of thirds of a space.
    const int32_t status = appendByte(part, static_cast<uint8_t>(value),
                                      gradeCells(crossings, frameFirst, c + 1, space / 3));
    if (status != kOk) {
      return status;
    }
    // A space where the next start bit belongs is the pilot of the next block.
    const size_t frameEnd = c;
    cell = readCell();
    if (cell != kMark) {
      c = frameEnd;
    }
  }
  part.isHeader = part.isBody == 0 && pilotCells >= kMinHeaderPilotCells &&
                          part.bytes.size() == kMatoHeaderStart + kHeaderLength
                      ? 1
                      : 0;
  next = c;
  part.cellSpread = spreadCount > 0 ? 100 * std::sqrt(spreadSum / spreadCount) : 0;
  if (!part.bytes.empty()) {
    measurePart(crossings, leadIn.end, next + 1, x[firstFrame], part);
  }
  return kOk;
}
