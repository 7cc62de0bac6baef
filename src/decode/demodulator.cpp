// Level-crossing detection with envelope-tracking threshold and hysteresis.
#include "decode/demodulator.h"

#include <algorithm>
#include <cmath>

#include "core/memory.h"

namespace {

// Long enough to hold the envelopes through the longest steady level of any protocol
// (about a millisecond), short enough to follow a fading recording within a few cells.
constexpr double kEnvelopeSeconds = 0.02;
constexpr double kHysteresisShare = 0.125;

// Appends the crossing just completed. Returns kOk or kErrOutOfMemory, reported.
int32_t takeCrossing(Crossings& crossings, int64_t position, double candidate, bool& candidateSet,
                     bool rising, double swing) {
  if (!candidateSet) {
    // The threshold moved past the signal rather than the other way round.
    candidate = static_cast<double>(position) - 0.5;
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
  size_t i = 0;
  int64_t position = state.position;  // of samples[i]
  if (count > 0 && position == 0) {
    state.high = static_cast<double>(samples[0]);
    state.low = state.high;
    state.previous = state.high;
    position = 1;
    i = 1;
  }
  double high = state.high;
  double low = state.low;
  double previous = state.previous;
  double candidate = state.candidate;
  bool candidateSet = state.candidateSet;
  int32_t level = state.level;
  const double decay = state.decay;
  const double keep = 1.0 - decay;
  int32_t status = kOk;
  for (; i < count; ++i, ++position) {
    const auto x = static_cast<double>(samples[i]);
    // An envelope jumps to a sample beyond it and otherwise moves back towards it; the
    // moved-back value never passes the sample, so max and min choose without a branch.
    // Written as a weighted sum, each envelope waits on one multiply and one add per
    // sample, which is what bounds the speed of this loop.
    const double pull = x * decay;
    high = std::max(x, high * keep + pull);
    low = std::min(x, low * keep + pull);
    const double middle = (high + low) * 0.5;
    const double margin = (high - low) * kHysteresisShare;
    if (level == 0) {
      // The crossing time is where the signal last passed the midpoint before it cleared
      // the hysteresis: that keeps rounded edges from shifting rising and falling
      // crossings in opposite directions.
      if (previous <= middle && x > middle) {
        candidate = static_cast<double>(position - 1) + (middle - previous) / (x - previous);
        candidateSet = true;
      }
      if (x > middle + margin) {
        status = takeCrossing(crossings, position, candidate, candidateSet, true, high - low);
        level = 1;
      }
    } else if (level == 1) {
      if (previous >= middle && x < middle) {
        candidate = static_cast<double>(position - 1) + (middle - previous) / (x - previous);
        candidateSet = true;
      }
      if (x < middle - margin) {
        status = takeCrossing(crossings, position, candidate, candidateSet, false, high - low);
        level = 0;
      }
    } else if (x > middle + margin || x < middle - margin) {
      // Before the first swing there is no level to cross from.
      level = x > middle ? 1 : 0;
    }
    previous = x;
    if (status != kOk) {
      break;
    }
  }
  state.high = high;
  state.low = low;
  state.previous = previous;
  state.candidate = candidate;
  state.candidateSet = candidateSet;
  state.level = level;
  state.position = position;
  return status;
}

}  // namespace

void startDemodulator(DemodulatorState& state, int32_t sampleRate) {
  state = DemodulatorState{};
  state.decay = 1.0 - std::exp(-1.0 / (kEnvelopeSeconds * sampleRate));
}

int32_t demodulateFloats(DemodulatorState& state, const float* samples, size_t count,
                         Crossings& crossings) {
  return demodulate(state, samples, count, crossings);
}
