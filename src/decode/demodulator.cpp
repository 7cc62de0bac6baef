// Level-crossing detection on a smoothed signal, with a threshold in the middle of the
// swing and a hysteresis that follows the level.
#include "decode/demodulator.h"

#include <algorithm>
#include <cmath>

#include "core/memory.h"

namespace {

// The shortest level of any protocol is half a PMD 85 cell at double speed, 1/4800 s
// nominal (4.6 samples at 22050 Hz; tonbrix writes 5). Smoothing over a bit less than
// that averages white noise down by most of what a whole level would, while each edge
// stays a steep ramp whose middle is where the edge was.
constexpr double kSmoothSeconds = 1.0 / 5500;
// Long enough to hold the envelopes through the longest steady level of any protocol
// (about a millisecond), so that their midpoint does not move with the data.
constexpr double kEnvelopeSeconds = 0.02;
// The mean distance from the midpoint follows fades and brief dropouts within about a
// cell, where the envelopes would take tens of milliseconds.
constexpr double kSwingSeconds = 0.0003;
constexpr double kHysteresisShare = 0.25;  // of half the swing: 12.5 % of the swing
// A floor under the hysteresis, as a share of the envelopes' swing: noise well below a
// signal that just ended makes no crossings, while a dropout to a tenth of the level
// still does.
constexpr double kFloorShare = 0.02;
// A signal that rested this long before its first swing rested in the middle of it.
constexpr double kRestSeconds = 0.001;
constexpr double kMirrorShare = 0.75;

double gainOf(double seconds, int32_t sampleRate) {
  return 1.0 - std::exp(-1.0 / (seconds * sampleRate));
}

// Appends the crossing just completed. Returns kOk or kErrOutOfMemory, reported.
int32_t takeCrossing(Crossings& crossings, double position, double candidate, bool& candidateSet,
                     bool rising, double swing) {
  if (!candidateSet) {
    // The threshold moved past the signal rather than the other way round.
    candidate = position - 0.5;
  }
  candidateSet = false;
  if (crossings.positions.empty()) {
    crossings.firstRising = rising ? 1 : 0;
  }
  const int32_t status = appendItem(crossings.positions, candidate);
  return status == kOk ? appendItem(crossings.swings, static_cast<float>(swing)) : status;
}

// The loop works on local copies of the state, which the compiler keeps in registers;
// this loop is where a long recording spends most of its time.
int32_t demodulate(DemodulatorState& state, const float* samples, size_t count,
                   Crossings& crossings) {
  constexpr size_t kMask = kDemodulatorHistory - 1;
  if (count > 0 && state.position == 0) {
    // The filters start as if the first sample had always been there.
    state.history.fill(samples[0]);
    state.smoothSum = static_cast<double>(samples[0]) * state.smoothLength;
    state.high = static_cast<double>(samples[0]);
    state.low = state.high;
    state.previous = 0;
    state.rest = state.high;
  }
  std::array<float, kDemodulatorHistory>& history = state.history;
  const auto smoothLength = static_cast<size_t>(state.smoothLength);
  const double smoothScale = 1.0 / state.smoothLength;
  // A smoothed value stands for the middle of its window.
  const double delay = (state.smoothLength - 1) * 0.5;
  int64_t position = state.position;  // of samples[i]
  double smoothSum = state.smoothSum;
  double high = state.high;
  double low = state.low;
  double halfSwing = state.halfSwing;
  double previous = state.previous;
  double candidate = state.candidate;
  bool candidateSet = state.candidateSet;
  int32_t level = state.level;
  double rest = state.rest;
  int64_t restStart = state.restStart;
  const int64_t restSamples = state.restSamples;
  bool mirrored = state.mirrored;
  const double decay = state.envelopeDecay;
  const double keep = 1.0 - decay;
  const double swingGain = state.swingGain;
  int32_t status = kOk;
  for (size_t i = 0; i < count; ++i, ++position) {
    const float x = samples[i];
    const auto n = static_cast<size_t>(position);
    history[n & kMask] = x;
    smoothSum += static_cast<double>(x) - static_cast<double>(history[(n - smoothLength) & kMask]);
    const double s = smoothSum * smoothScale;
    // An envelope jumps to a value beyond it and otherwise moves back towards it; the
    // moved-back value never passes the value, so max and min choose without a branch.
    const double pull = s * decay;
    high = std::max(s, high * keep + pull);
    low = std::min(s, low * keep + pull);
    if (mirrored) {
      // Until the first crossing only one side of the swing has been seen. After a rest
      // (silence in the middle) the other side lies about as far beyond it; taking a
      // little less keeps a rest that was a level after all from hiding the way back.
      low = std::min(low, rest - kMirrorShare * (high - rest));
      high = std::max(high, rest + kMirrorShare * (rest - low));
    }
    const double e = s - (high + low) * 0.5;
    halfSwing += swingGain * (std::fabs(e) - halfSwing);
    const double margin = std::max(std::min((high - low) * 0.5, halfSwing) * kHysteresisShare,
                                   (high - low) * kFloorShare);
    const double at = static_cast<double>(position) - delay;
    if (level == 0) {
      // The crossing time is where the signal last passed the middle before it cleared
      // the hysteresis: that keeps rounded edges from shifting rising and falling
      // crossings in opposite directions.
      if (previous <= 0 && e > 0) {
        candidate = at - 1 + previous / (previous - e);
        candidateSet = true;
      }
      if (e > margin) {
        status = takeCrossing(crossings, at, candidate, candidateSet, true, high - low);
        level = 1;
        mirrored = false;
      }
    } else if (level == 1) {
      if (previous >= 0 && e < 0) {
        candidate = at - 1 + previous / (previous - e);
        candidateSet = true;
      }
      if (e < -margin) {
        status = takeCrossing(crossings, at, candidate, candidateSet, false, high - low);
        level = 0;
        mirrored = false;
      }
    } else if (e > margin || e < -margin) {
      // Before the first swing there is no level to cross from.
      level = e > 0 ? 1 : 0;
      mirrored = position - restStart >= restSamples;
    } else if (std::fabs(s - rest) > margin) {
      rest = s;
      restStart = position;
    }
    previous = e;
    if (status != kOk) {
      ++position;
      break;
    }
  }
  state.smoothSum = smoothSum;
  state.high = high;
  state.low = low;
  state.halfSwing = halfSwing;
  state.previous = previous;
  state.candidate = candidate;
  state.candidateSet = candidateSet;
  state.level = level;
  state.rest = rest;
  state.restStart = restStart;
  state.mirrored = mirrored;
  state.position = position;
  return status;
}

}  // namespace

void startDemodulator(DemodulatorState& state, int32_t sampleRate) {
  state = DemodulatorState{};
  const double smooth = std::round(sampleRate * kSmoothSeconds);
  state.smoothLength =
      static_cast<int32_t>(std::clamp(smooth, 1.0, static_cast<double>(kDemodulatorHistory - 1)));
  state.envelopeDecay = gainOf(kEnvelopeSeconds, sampleRate);
  state.swingGain = gainOf(kSwingSeconds, sampleRate);
  state.restSamples = std::lround(kRestSeconds * sampleRate);
}

int32_t demodulateFloats(DemodulatorState& state, const float* samples, size_t count,
                         Crossings& crossings) {
  return demodulate(state, samples, count, crossings);
}

uint8_t gradeCells(const Crossings& crossings, size_t first, size_t end, double unitSamples) {
  const std::vector<double>& x = crossings.positions;
  end = std::min(end, x.size());
  double worst = 0;
  for (size_t i = first; i + 1 < end; ++i) {
    const double units = (x[i + 1] - x[i]) / unitSamples;
    worst = std::max(worst, std::fabs(units - std::round(units)));
  }
  // 255 up to 0.2 of a unit, 128 at 0.35, 64 at 0.5: linear between.
  const double grade =
      worst <= 0.35 ? 255 - (worst - 0.2) / 0.15 * 127 : 128 - (worst - 0.35) / 0.15 * 64;
  return static_cast<uint8_t>(std::clamp(grade, 64.0, 255.0));
}
