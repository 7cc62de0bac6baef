// PMD 85 frames: every cell is one full square period, a mark starting with the high
// level and a space with the low one, so the level always changes in the middle of a
// cell and between two equal cells. Crossing intervals are half cells or whole cells.
#include <cmath>

#include "decode/frame_decoder.h"

namespace {

enum Interval { kInvalid, kHalfCell, kWholeCell };

// How quickly the half-cell estimate follows the tape speed.
constexpr double kTrackingGain = 0.05;
// Marks after the stop bits that end a part: the next leader has begun.
constexpr int32_t kMaxIdleMarks = 4;
constexpr int32_t kDataBits = 8;
constexpr int32_t kStopBits = 2;

Interval classify(double length, double halfCell) {
  if (length < 0.5 * halfCell || length >= 2.5 * halfCell) {
    return kInvalid;
  }
  return length < 1.5 * halfCell ? kHalfCell : kWholeCell;
}

void track(double& halfCell, double measured) { halfCell += kTrackingGain * (measured - halfCell); }

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
    if (kind == kInvalid) {
      next = k + 1;
      return kOk;
    }
    if (kind == kWholeCell) {
      break;
    }
    track(halfCell, length);
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

  size_t middle = k + 1;  // crossing in the middle of the current cell
  double firstByteSample = -1;
  Spread spread;
  // The crossing in the middle of the current frame's start bit.
  size_t frameFirst = middle;
  int32_t bitCount = -1;  // -1: waiting for a start bit; then bits of the frame so far
  int32_t idleMarks = 0;
  uint32_t value = 0;
  bool badStopBit = false;
  bool full = false;
  while (true) {
    // A falling middle is a mark in normal phase.
    const bool mark = isRising(crossings, middle) == (phase == kPhaseReversed);
    if (bitCount < 0) {
      if (!mark && full) {
        // Bytes would be lost without a word: the part is marked as cut.
        part.cut = 1;
        break;
      }
      if (!mark) {
        bitCount = 0;
        value = 0;
        badStopBit = false;
        if (firstByteSample < 0) {
          firstByteSample = x[middle] - halfCell;
        }
        frameFirst = middle;
      } else if (++idleMarks > kMaxIdleMarks) {
        break;
      }
    } else if (bitCount < kDataBits) {
      value |= (mark ? 1u : 0u) << bitCount;
      ++bitCount;
    } else {
      badStopBit = badStopBit || !mark;
      if (++bitCount == kDataBits + kStopBits) {
        part.frameErrors += badStopBit ? 1 : 0;
        const uint8_t clarity = gradeCells(crossings, frameFirst, middle + 1, halfCell);
        const int32_t status =
            appendByte(part, static_cast<uint8_t>(value), badStopBit ? kByteUncertain : clarity);
        if (status != kOk) {
          return status;
        }
        full = part.bytes.size() >= byteLimit;
        bitCount = -1;
        idleMarks = 0;
      }
    }
    if (middle + 1 >= x.size()) {
      break;
    }
    const double first = x[middle + 1] - x[middle];
    const Interval kind = classify(first, halfCell);
    if (kind == kWholeCell) {
      spread.add(first, halfCell);
      track(halfCell, first / 2);
      middle += 1;
      continue;
    }
    if (kind == kInvalid || middle + 2 >= x.size()) {
      break;
    }
    const double second = x[middle + 2] - x[middle + 1];
    if (classify(second, halfCell) != kHalfCell) {
      break;
    }
    spread.add(first + second, halfCell);
    track(halfCell, (first + second) / 2);
    middle += 2;
  }
  next = middle;
  part.cellSpread = spread.percent();
  measurePart(crossings, leadIn.end, next + 1, firstByteSample, part);
  return kOk;
}
