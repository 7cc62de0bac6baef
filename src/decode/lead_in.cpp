// The search for leaders and pilots among the crossings, and what each run is: its
// protocol, its phase and the lengths of its levels.
#include "decode/lead_in.h"

#include <algorithm>
#include <cmath>

namespace {

// 20 periods: far fewer than the shortest lead-in (128 Mato spaces), more than the
// longest run of equal cells inside PMD 85 frames or of spaces inside Mato data. Noise
// 6 dB below the signal breaks a short leader into runs not much longer than this.
constexpr size_t kMinLeadInIntervals = 40;
static_assert(kMinLeadInIntervals > size_t{2} * kPmdLongestDataMarks &&
              kMinLeadInIntervals > size_t{2} * kMatoLongestDataSpaces);
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
// Duty cycles nearer than this to one half are PMD 85 leaders; Mato spaces have 1/3. A
// PMD 85 leader is symmetric through any linear path and stays within 0.04 of a half,
// while a worn head's band limit and phase smear bring a Mato pilot's 1/3 up to 0.42.
constexpr double kPmdDutyTolerance = 0.06;
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
bool similar(double a, double b, double sampleRate) {
  // Interpolated crossings still jitter by a fraction of a sample at low rates.
  const double tolerance = std::max(b * kPeriodTolerance, 0.75 * sampleRate / 11025);
  return std::fabs(a - b) <= tolerance;
}

// The mean of the run's last few intervals at the level of interval `i`; the run
// holds at least the one two before it.
double levelMean(const CrossingValues<double>& x, size_t runStart, size_t i) {
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
bool fitsRun(const CrossingValues<double>& x, size_t runStart, size_t i, double sampleRate) {
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
    const CrossingValues<double>& x = crossings.positions;
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

}  // namespace

bool findLeadInBefore(const Crossings& crossings, size_t limit, int32_t sampleRate,
                      TapeProtocol protocol, TapePhase phase, size_t& runStart, size_t& position,
                      LeadIn& leadIn) {
  const CrossingValues<double>& x = crossings.positions;
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
