// Appending to a part, and the gaps in it: bridged, closed at the next lead-in, or fitted
// to the length its header states.
#include "decode/tape_part.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/memory.h"

namespace {

// Appends `count` unknown bytes for frames lost in a gap, no more than a part may hold;
// they are taken to start `frameSamples` apart from `firstSample` on.
int32_t appendUnknownBytes(TapePart& part, int64_t count, double firstSample, double frameSamples) {
  for (int64_t i = 0; i < count && part.bytes.size() < kMaxPartLength; ++i) {
    const int32_t status =
        appendByte(part, 0, kByteUnknown, firstSample + static_cast<double>(i) * frameSamples);
    if (status != kOk) {
      return status;
    }
  }
  return kOk;
}

// The frames that the time from `from` to `to` holds.
int64_t framesBetween(double from, double to, double frameSamples) {
  return static_cast<int64_t>(std::lround(std::max(0.0, to - from) / frameSamples));
}

// True when the frames a gap held are counted exactly by the time it lasted: few enough
// that wow and the tracking's error add up to far less than a frame, and the frames after
// it go on close to a whole number of frames after its start. Mato frames last as long as
// their marks make them, so only a gap of a frame or two is counted.
bool countsExactly(TapeProtocol protocol, int64_t lost, const Gap& gap) {
  constexpr int64_t kCountedPmdFrames = 8;
  constexpr int64_t kCountedMatoFrames = 2;
  constexpr double kCountedFraction = 0.25;
  const int64_t counted = protocol == kProtocolMato ? kCountedMatoFrames : kCountedPmdFrames;
  return lost <= counted && gap.resync.error <= kCountedFraction;
}

int32_t bridgeGap(TapePart& part, GapBridge& bridge, const Gap& gap) {
  const int64_t lost = framesBetween(gap.start, gap.resync.sample, gap.frameSamples);
  const size_t end = part.bytes.size() + static_cast<size_t>(lost);
  const bool estimated = !countsExactly(part.protocol, lost, gap);
  bridge.bridged = true;
  if (estimated) {
    bridge.firstUnplaced = bridge.estimatedGaps == 0 ? end : bridge.firstUnplaced;
    ++bridge.estimatedGaps;
  }
  if (estimated || bridge.estimatedGaps == 0) {
    bridge.gapEnd = end;
    bridge.gapBytes = static_cast<size_t>(lost);
  }
  return appendUnknownBytes(part, lost, gap.start, gap.frameSamples);
}

int32_t closeGapAtLeadIn(TapePart& part, size_t byteLimit, const Gap& gap) {
  if (byteLimit >= kMaxPartLength || part.bytes.size() >= byteLimit) {
    return kOk;
  }
  const int64_t estimate = framesBetween(gap.start, gap.resync.sample, gap.frameSamples);
  const auto shortfall = static_cast<int64_t>(byteLimit - part.bytes.size());
  const int64_t difference = std::llabs(estimate - shortfall);
  return difference <= 2 + shortfall / 8
             ? appendUnknownBytes(part, shortfall, gap.start, gap.frameSamples)
             : kOk;
}

// Puts `missing` unknown bytes in at `at`, their starts spread over the time between
// their neighbours.
int32_t insertUnknownBytes(TapePart& part, size_t at, size_t missing) {
  const size_t size = part.bytes.size();
  int32_t status = insertItems(part.bytes, at, missing, uint8_t{0});
  if (status == kOk) {
    status = insertItems(part.confidence, at, missing, kByteUnknown);
  }
  const double before = at > 0 ? part.starts[at - 1] : part.starts[at];
  const double after = at < size ? part.starts[at] : before;
  if (status == kOk) {
    status = insertItems(part.starts, at, missing, before);
  }
  for (size_t i = 0; status == kOk && i < missing; ++i) {
    part.starts[at + i] =
        before + (after - before) * static_cast<double>(i + 1) / static_cast<double>(missing + 1);
  }
  return status;
}

}  // namespace

int32_t appendByte(TapePart& part, uint8_t value, uint8_t confidence, double startSample) {
  int32_t status = appendItem(part.bytes, value);
  if (status == kOk) {
    status = appendItem(part.confidence, confidence);
  }
  return status == kOk ? appendItem(part.starts, startSample) : status;
}

void addSwings(const Crossings& crossings, size_t first, size_t end, SwingSum& swings) {
  if (swings.first != first || swings.end < first || swings.end > end) {
    swings = SwingSum{first, first, 0};
  }
  double sum = swings.sum;
  for (size_t i = swings.end; i < end; ++i) {
    sum += crossings.swings[i];
  }
  swings.end = end;
  swings.sum = sum;
}

void measurePart(const Crossings& crossings, size_t first, size_t end, double firstByteSample,
                 TapePart& part, const SwingSum& sofar) {
  const CrossingValues<double>& x = crossings.positions;
  end = std::min(end, x.size());
  if (first >= end) {
    return;
  }
  part.firstByteSample = firstByteSample;
  part.endSample = x[end - 1];
  SwingSum swings = sofar;
  addSwings(crossings, first, end, swings);
  part.swing = swings.sum / static_cast<double>(end - first);
}

ResyncResult runOutOfCrossings(const Crossings& crossings, double deadline) {
  return crossings.knownUntil > deadline ? ResyncResult{} : ResyncResult{kResyncOutOfData};
}

void keepNearestGuess(ResyncResult& best, size_t crossing, double sample, double gapStart,
                      double frameSamples) {
  const double frames = (sample - gapStart) / frameSamples;
  const double error = std::fabs(frames - std::round(frames));
  if (error < best.error) {
    best = {kResyncFound, crossing, sample, error};
  }
}

GapBridge bridgeLostStart() {
  GapBridge bridge;
  bridge.bridged = true;
  bridge.estimatedGaps = 1;
  bridge.startLost = true;
  return bridge;
}

int32_t followGap(TapePart& part, GapBridge& bridge, size_t byteLimit, const Gap& gap,
                  GapOutcome& outcome) {
  switch (gap.resync.kind) {
    case kResyncFound:
      outcome = kGapBridged;
      // A Mato frame has no stop bits to show that the dropout after it did not reach into
      // its last cells.
      if (part.protocol == kProtocolMato && !part.confidence.empty()) {
        part.confidence.back() = std::min(part.confidence.back(), kByteUncertain);
      }
      return bridgeGap(part, bridge, gap);
    case kResyncLeadIn:
      outcome = kGapEndsPart;
      return closeGapAtLeadIn(part, byteLimit, gap);
    case kResyncOutOfData:
      outcome = kGapWaiting;
      return kOk;
    case kResyncNone:
      break;
  }
  outcome = kGapEndsPart;
  return kOk;
}

int32_t fitBridgedBody(TapePart& part, size_t byteLimit, const GapBridge& bridge,
                       bool endedCleanly) {
  const size_t gapEnd = bridge.gapEnd;
  // Nothing tells how many frames the lost start held but the length the body lacks.
  const bool atLostStart = bridge.startLost && gapEnd == 0;
  const size_t tolerance = atLostStart ? byteLimit : 2 + bridge.gapBytes / 8;
  const size_t size = part.bytes.size();
  if (size > byteLimit && size - byteLimit <= std::min(tolerance, bridge.gapBytes)) {
    const size_t excess = size - byteLimit;
    removeItems(part.bytes, gapEnd - excess, excess);
    removeItems(part.confidence, gapEnd - excess, excess);
    removeItems(part.starts, gapEnd - excess, excess);
  } else if (size < byteLimit && size > 0 && endedCleanly && byteLimit - size <= tolerance) {
    return insertUnknownBytes(part, gapEnd, byteLimit - size);
  } else if (size > byteLimit) {
    part.bytes.resize(byteLimit);
    part.confidence.resize(byteLimit);
    part.starts.resize(byteLimit);
    part.cut = 1;
  }
  return kOk;
}

int32_t markUnplacedBytes(TapePart& part, const GapBridge& bridge, bool placedFromEnd) {
  part.unplacedFirst = 0;
  part.unplacedGrades.clear();
  if (bridge.estimatedGaps == 0) {
    return kOk;
  }
  const size_t end = std::min(placedFromEnd ? bridge.gapEnd - bridge.gapBytes : part.bytes.size(),
                              part.bytes.size());
  if (bridge.firstUnplaced >= end) {
    return kOk;
  }
  const int32_t status = appendItems(part.unplacedGrades, &part.confidence[bridge.firstUnplaced],
                                     end - bridge.firstUnplaced);
  if (status != kOk) {
    return status;
  }
  part.unplacedFirst = bridge.firstUnplaced;
  for (size_t i = bridge.firstUnplaced; i < end; ++i) {
    part.confidence[i] = std::min(part.confidence[i], kByteUncertain);
  }
  return kOk;
}

void closePartAtEnd(TapePart& part, const Crossings& crossings, double lastFrameEnd,
                    double frameSamples, bool midFrame, const PartLimits& limits) {
  constexpr double kEndSlackFrames = 2;
  const size_t size = part.bytes.size();
  const bool whole = size == limits.wholeLength ||
                     (limits.byteLimit < kMaxPartLength && size >= limits.byteLimit);
  if (size == 0 || whole) {
    return;
  }
  if (midFrame || crossings.knownUntil - lastFrameEnd < kEndSlackFrames * frameSamples) {
    part.cut = 1;
  }
}

bool signalLostBetween(const Crossings& crossings, size_t from, size_t to, double unitSamples) {
  // Longer than any level of any cell: the signal stopped.
  constexpr double kLostUnits = 6;
  constexpr size_t kReferenceCrossings = 40;
  constexpr size_t kWindow = 8;
  const CrossingValues<double>& x = crossings.positions;
  const CrossingValues<float>& swings = crossings.swings;
  to = std::min(to, x.size());
  if (from >= to || from == 0) {
    return true;
  }
  for (size_t i = from - 1; i + 1 < to; ++i) {
    if (x[i + 1] - x[i] > kLostUnits * unitSamples) {
      return true;
    }
  }
  const size_t first = from > kReferenceCrossings ? from - kReferenceCrossings : 0;
  double before = 0;
  for (size_t i = first; i < from; ++i) {
    before += swings[i];
  }
  before /= static_cast<double>(from - first);
  double window = 0;
  for (size_t i = from; i < to; ++i) {
    window += swings[i] - (i >= from + kWindow ? swings[i - kWindow] : 0.0F);
    if (i + 1 >= from + kWindow && window / kWindow < 0.5 * before) {
      return true;
    }
  }
  return false;
}

void noteNextFrames(TapePart& part, const ResyncResult& resync) {
  if (resync.kind == kResyncFound) {
    part.nextFrames = resync.crossing;
    part.nextFramesSample = resync.sample;
  }
}
