// Level-crossing detection with envelope-tracking threshold and hysteresis.
#include "decode/demodulator.h"

#include <cmath>

#include "core/memory.h"

namespace {

// Long enough to hold the envelopes through the longest steady level of any protocol
// (about a millisecond), short enough to follow a fading recording within a few cells.
constexpr double kEnvelopeSeconds = 0.02;
constexpr double kHysteresisShare = 0.125;

// The loop works on local copies of the state, which the compiler keeps in registers;
// this loop is where a long recording spends most of its time.
template <typename Sample>
int32_t demodulate(DemodulatorState& state, const Sample* samples, size_t count,
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
  int32_t level = state.level;
  const double decay = state.decay;
  int32_t status = kOk;
  for (; i < count; ++i, ++position) {
    const auto x = static_cast<double>(samples[i]);
    high = x > high ? x : high - (high - x) * decay;
    low = x < low ? x : low + (x - low) * decay;
    const double middle = (high + low) / 2;
    const double margin = (high - low) * kHysteresisShare;
    if (level < 0) {
      // Before the first swing there is no level to cross from.
      if (x > middle + margin || x < middle - margin) {
        level = x > middle ? 1 : 0;
      }
      previous = x;
      continue;
    }
    const bool towardHigh = level == 0;
    // The crossing time is where the signal last passed the midpoint before it cleared
    // the hysteresis: that keeps rounded edges from shifting rising and falling
    // crossings in opposite directions.
    if (towardHigh ? (previous <= middle && x > middle) : (previous >= middle && x < middle)) {
      state.candidate =
          static_cast<double>(position - 1) + (middle - previous) / (x - previous);
      state.candidateSet = true;
    }
    if (towardHigh ? x > middle + margin : x < middle - margin) {
      if (!state.candidateSet) {
        // The threshold moved past the signal rather than the other way round.
        state.candidate = static_cast<double>(position) - 0.5;
      }
      if (crossings.positions.empty()) {
        crossings.firstRising = towardHigh ? 1 : 0;
      }
      status = appendItem(crossings.positions, state.candidate);
      if (status != kOk) {
        break;
      }
      level = towardHigh ? 1 : 0;
      state.candidateSet = false;
    }
    previous = x;
  }
  state.high = high;
  state.low = low;
  state.previous = previous;
  state.level = level;
  state.position = position;
  return status;
}

}  // namespace

void startDemodulator(DemodulatorState& state, int32_t sampleRate) {
  state = DemodulatorState{};
  state.decay = 1.0 - std::exp(-1.0 / (kEnvelopeSeconds * sampleRate));
}

int32_t demodulateSamples(DemodulatorState& state, const std::vector<int16_t>& samples,
                          size_t begin, size_t end, Crossings& crossings) {
  if (begin >= end || begin >= samples.size()) {
    return kOk;
  }
  const size_t stop = end < samples.size() ? end : samples.size();
  return demodulate(state, samples.data() + begin, stop - begin, crossings);
}

int32_t demodulateFloats(DemodulatorState& state, const float* samples, size_t count,
                         Crossings& crossings) {
  return demodulate(state, samples, count, crossings);
}
