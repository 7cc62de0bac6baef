// Lead-in search, and the reading of the part after a lead-in as a header, a body or a
// headerless block.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "decode/frame_decoder.h"

namespace {

// 20 periods: far fewer than the shortest lead-in (128 Mato spaces), more than the
// longest run of equal cells inside PMD 85 frames (10 marks and a few idle ones) or of
// spaces inside Mato data (8). Noise 6 dB below the signal breaks a short leader into
// runs not much longer than this.
constexpr size_t kMinLeadInIntervals = 40;
// Interval limits of any lead-in at any tape speed, as fractions of a second. A PMD 85
// half cell at double speed lasts 1/4800 s, 1/5280 s played 10 % fast, and noise moves
// single crossings by a third of that and more.
constexpr double kShortestInterval = 1.0 / 10000;
constexpr double kLongestInterval = 1.0 / 500;
// Neighbouring periods of a lead-in may differ by this much; more means data or noise.
constexpr double kPeriodTolerance = 0.2;
// Intervals of each level whose mean measures the next one: enough to damp the jitter
// of noise, few enough to follow wow.
constexpr size_t kLevelMeanIntervals = 4;
// Duty cycles nearer than this to one half are PMD 85 leaders; Mato spaces have 1/3.
constexpr double kPmdDutyTolerance = 0.09;
// The shortest cell, as a share of the run's period, that may follow a Mato pilot: more
// than the space after a run of marks, less than a space shifted by noise.
constexpr double kPilotEndShare = 0.8;
// A pulse shorter than this share of the period is noise that split a level: a Mato space
// starts with a third of it.
constexpr double kStrayPulseShare = 0.15;
// PMD 85 cells per second that separate the two speeds (1102.5..1225 and 1837.5..2450
// nominal, 10 % off either way).
constexpr double kDoubleSpeedCellRate = 1500;
constexpr double kMinCellRate = 700;
constexpr double kMaxPmdCellRate = 3200;
constexpr double kMaxMatoSpaceRate = 1600;
// A PMD 85 header part follows a 2.8 s leader (3359 or 6719 cells); bodies 0.5 s (600 or
// 1200). The boundary leaves room for a leader cut short or played fast.
constexpr int32_t kMinHeaderLeaderCells = 2000;
static_assert(kMinHeaderLeaderCells > kPmdLeaderSeconds * kPmdDoubleCellsPerSecond &&
              kMinHeaderLeaderCells < kPmdHeaderLeaderSeconds * kPmdCellsPerSecond);

bool similar(double a, double b, double sampleRate) {
  // Interpolated crossings still jitter by a fraction of a sample at low rates.
  const double tolerance = std::max(b * kPeriodTolerance, 0.75 * sampleRate / 11025);
  return std::fabs(a - b) <= tolerance;
}

// The mean of the run's last few intervals at the level of interval `i`; the run
// holds at least the one two before it.
double levelMean(const std::vector<double>& x, size_t runStart, size_t i) {
  double sum = 0;
  double count = 0;
  for (size_t back = 2; back <= 2 * kLevelMeanIntervals && i >= runStart + back; back += 2) {
    sum += x[i - back + 1] - x[i - back];
    count += 1;
  }
  return sum / count;
}

// True when interval `i` goes on with the run [runStart, i). Noise moves single
// crossings: an interval may then be off as long as it and a neighbour still make one
// period and the interval after the two fits again. A mean of several intervals, not
// the neighbour alone, is the measure, so that the jitter of one does not break a run.
bool fitsRun(const std::vector<double>& x, size_t runStart, size_t i, double sampleRate) {
  const double d = x[i + 1] - x[i];
  if (similar(d, levelMean(x, runStart, i), sampleRate)) {
    return true;
  }
  if (i < runStart + 4 || i + 3 >= x.size()) {
    return false;
  }
  const double period = levelMean(x, runStart, i) + levelMean(x, runStart, i - 1);
  const auto fitsAt = [&](size_t j) {
    return similar(x[j + 1] - x[j], levelMean(x, runStart, j), sampleRate);
  };
  return (similar(x[i + 1] - x[i - 1], period, sampleRate) && fitsAt(i + 1)) ||
         (similar(x[i + 2] - x[i], period, sampleRate) && fitsAt(i + 2));
}

// Fills the measured and the chosen properties of the run [first, end). False when
// they fit no protocol.
bool classifyLeadIn(const Crossings& crossings, int32_t sampleRate, TapeProtocol protocol,
                    TapePhase phase, LeadIn& leadIn) {
  double sums[2] = {0, 0};
  double counts[2] = {0, 0};
  for (size_t i = leadIn.first; i < leadIn.end; ++i) {
    const size_t level = isRising(crossings, i) ? 1 : 0;
    sums[level] += crossings.positions[i + 1] - crossings.positions[i];
    counts[level] += 1;
  }
  leadIn.highSamples = sums[1] / counts[1];
  leadIn.lowSamples = sums[0] / counts[0];
  const double period = leadIn.highSamples + leadIn.lowSamples;
  const double rate = sampleRate / period;
  const double duty = leadIn.highSamples / period;
  const bool symmetric = std::fabs(duty - 0.5) < kPmdDutyTolerance;
  // A forced protocol only keeps out lead-ins of the other one.
  if (protocol != kProtocolAuto && symmetric != (protocol == kProtocolPmd)) {
    return false;
  }
  if (!symmetric) {
    // A space starts with its short level. Decoding works in either phase, since marks and
    // spaces end alike, so a forced phase only keeps out pilots that contradict it.
    const TapePhase measured = duty < 0.5 ? kPhaseNormal : kPhaseReversed;
    leadIn.protocol = kProtocolMato;
    leadIn.phase = phase != kPhaseAuto ? phase : measured;
    // A pilot is spaces, so the cell that ends it is longer; a run of marks inside data
    // (bytes 0xFF) is followed by a shorter one (3/5 of a mark). A pilot whose run a noisy
    // crossing broke goes on with a cell of about its own length, and one that a stray
    // pulse broke with a pulse far shorter than any level.
    const std::vector<double>& x = crossings.positions;
    const auto stray = [&](size_t k) {
      return k + 1 < x.size() && x[k + 1] - x[k] < kStrayPulseShare * period;
    };
    const bool endsWithLongerCell =
        leadIn.end + 1 >= x.size() ||
        x[leadIn.end + 1] - x[leadIn.end - 1] > kPilotEndShare * period || stray(leadIn.end) ||
        stray(leadIn.end + 1);
    return rate >= kMinCellRate && rate <= kMaxMatoSpaceRate && endsWithLongerCell &&
           (phase == kPhaseAuto || phase == measured);
  }
  leadIn.protocol = rate > kDoubleSpeedCellRate ? kProtocolPmdDouble : kProtocolPmd;
  leadIn.phase = phase;
  return rate >= kMinCellRate && rate <= kMaxPmdCellRate;
}

size_t headerLength(const TapePart& part) {
  const size_t start = part.protocol == kProtocolMato ? kMatoHeaderStart : kPmdHeaderStart;
  return readLe16(&part.bytes[start + kHeaderBodyLength]);
}

}  // namespace

bool findLeadInBefore(const Crossings& crossings, size_t limit, int32_t sampleRate,
                      TapeProtocol protocol, TapePhase phase, size_t& runStart, size_t& position,
                      LeadIn& leadIn) {
  const std::vector<double>& x = crossings.positions;
  const double shortest = kShortestInterval * sampleRate;
  const double longest = kLongestInterval * sampleRate;
  const size_t end = limit < x.size() ? limit : x.size();
  for (size_t i = position; i < end; ++i) {
    const double d = i + 1 < x.size() ? x[i + 1] - x[i] : 0;
    const bool inRange = d >= shortest && d <= longest;
    if (inRange && (i < runStart + 2 || fitsRun(x, runStart, i, sampleRate))) {
      continue;
    }
    if (i - runStart >= kMinLeadInIntervals) {
      leadIn = LeadIn{};
      leadIn.first = runStart;
      leadIn.end = i;
      if (classifyLeadIn(crossings, sampleRate, protocol, phase, leadIn)) {
        position = i;
        return true;
      }
    }
    // An interval that only broke the pattern may be the first of the next run.
    runStart = inRange ? i : i + 1;
  }
  position = end > position ? end : position;
  return false;
}

int32_t appendByte(TapePart& part, uint8_t value, uint8_t confidence, double startSample) {
  int32_t status = appendItem(part.bytes, value);
  if (status == kOk) {
    status = appendItem(part.confidence, confidence);
  }
  return status == kOk ? appendItem(part.starts, startSample) : status;
}

void measurePart(const Crossings& crossings, size_t first, size_t end, double firstByteSample,
                 TapePart& part) {
  const std::vector<double>& x = crossings.positions;
  end = std::min(end, x.size());
  if (first >= end) {
    return;
  }
  part.firstByteSample = firstByteSample;
  part.endSample = x[end - 1];
  double sum = 0;
  for (size_t i = first; i < end; ++i) {
    sum += crossings.swings[i];
  }
  part.swing = sum / static_cast<double>(end - first);
}

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

int32_t bridgeGap(TapePart& part, GapBridge& bridge, double gapStart, double resumeSample,
                  double frameSamples) {
  const auto lost =
      static_cast<int64_t>(std::lround(std::max(0.0, resumeSample - gapStart) / frameSamples));
  bridge.bridged = true;
  bridge.gapEnd = part.bytes.size() + static_cast<size_t>(lost);
  bridge.gapBytes = static_cast<size_t>(lost);
  return appendUnknownBytes(part, lost, gapStart, frameSamples);
}

int32_t closeGapAtLeadIn(TapePart& part, size_t byteLimit, double gapStart, double leadInSample,
                         double frameSamples) {
  if (byteLimit >= kMaxPartLength || part.bytes.size() >= byteLimit) {
    return kOk;
  }
  const auto estimate =
      static_cast<int64_t>(std::lround(std::max(0.0, leadInSample - gapStart) / frameSamples));
  const auto shortfall = static_cast<int64_t>(byteLimit - part.bytes.size());
  const int64_t difference = std::llabs(estimate - shortfall);
  return difference <= 2 + shortfall / 8
             ? appendUnknownBytes(part, shortfall, gapStart, frameSamples)
             : kOk;
}

int32_t fitBridgedBody(TapePart& part, size_t byteLimit, const GapBridge& bridge,
                       bool endedCleanly) {
  const size_t gapEnd = bridge.gapEnd;
  const size_t gapBytes = bridge.gapBytes;
  const size_t tolerance = 2 + gapBytes / 8;
  const size_t size = part.bytes.size();
  if (size > byteLimit && size - byteLimit <= std::min(tolerance, gapBytes)) {
    const size_t excess = size - byteLimit;
    removeItems(part.bytes, gapEnd - excess, excess);
    removeItems(part.confidence, gapEnd - excess, excess);
    removeItems(part.starts, gapEnd - excess, excess);
  } else if (size < byteLimit && endedCleanly && byteLimit - size <= tolerance) {
    const size_t missing = byteLimit - size;
    int32_t status = insertItems(part.bytes, gapEnd, missing, uint8_t{0});
    if (status == kOk) {
      status = insertItems(part.confidence, gapEnd, missing, kByteUnknown);
    }
    // The bytes added fill the time between their neighbours.
    const double before = gapEnd > 0 ? part.starts[gapEnd - 1] : part.starts[gapEnd];
    const double after = gapEnd < size ? part.starts[gapEnd] : before;
    if (status == kOk) {
      status = insertItems(part.starts, gapEnd, missing, before);
    }
    for (size_t i = 0; status == kOk && i < missing; ++i) {
      part.starts[gapEnd + i] =
          before + (after - before) * static_cast<double>(i + 1) / static_cast<double>(missing + 1);
    }
    return status;
  } else if (size > byteLimit) {
    part.bytes.resize(byteLimit);
    part.confidence.resize(byteLimit);
    part.starts.resize(byteLimit);
    part.cut = 1;
  }
  return kOk;
}

bool hasSyncPattern(const std::vector<uint8_t>& bytes) {
  constexpr size_t kMaxDamagedBytes = 4;
  if (bytes.size() < kPmdHeaderStart + kHeaderLength) {
    return false;
  }
  size_t damaged = 0;
  for (int32_t i = 0; i < kSyncPatternLength; ++i) {
    damaged += bytes[static_cast<size_t>(i)] != syncPatternByte(i) ? 1u : 0u;
  }
  return damaged <= kMaxDamagedBytes;
}

bool isPmdHeaderPart(const std::vector<uint8_t>& bytes) {
  return bytes.size() == kPmdHeaderStart + 15 && hasSyncPattern(bytes);
}

size_t announcedBodyLength(const TapePart& header) { return headerLength(header) + 2; }

int32_t decodePartAfter(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                        bool afterHeader, size_t bodyLength, TapePart& part, size_t& next) {
  part = TapePart{};
  next = leadIn.end;
  const size_t limit = afterHeader ? std::min(bodyLength, kMaxPartLength) : kMaxPartLength;
  if (leadIn.protocol == kProtocolMato) {
    return decodeMatoPart(crossings, leadIn, sampleRate, afterHeader, limit, part, next);
  }
  const auto leaderCells = static_cast<int32_t>((leadIn.end - leadIn.first) / 2);
  const bool bodyLeader = afterHeader && leaderCells < kMinHeaderLeaderCells;
  const int32_t status =
      decodePmdPart(crossings, leadIn, sampleRate, bodyLeader ? limit : kMaxPartLength, part, next);
  part.isBody = bodyLeader ? 1 : 0;
  part.isHeader = !bodyLeader && isPmdHeaderPart(part.bytes) ? 1 : 0;
  return status;
}
