// Level-crossing detection with envelope-tracking threshold and hysteresis.
#include "decode/demodulator.h"

#include <cmath>

#include "core/memory.h"

namespace {

// Long enough to hold the envelopes through the longest steady level of any protocol
// (about a millisecond), short enough to follow a fading recording within a few cells.
constexpr double kEnvelopeSeconds = 0.02;
constexpr double kHysteresisShare = 0.125;

}  // namespace

void startDemodulator(DemodulatorState& state, int32_t sampleRate) {
  state = DemodulatorState{};
  state.decay = 1.0 - std::exp(-1.0 / (kEnvelopeSeconds * sampleRate));
}

int32_t demodulateSamples(DemodulatorState& state, const std::vector<int16_t>& samples,
                          size_t begin, size_t end, Crossings& crossings) {
  for (size_t i = begin; i < end && i < samples.size(); ++i, ++state.position) {
    const double x = samples[i];
    if (state.position == 0) {
      state.high = x;
      state.low = x;
      state.previous = x;
      continue;
    }
    state.high = x > state.high ? x : state.high - (state.high - x) * state.decay;
    state.low = x < state.low ? x : state.low + (x - state.low) * state.decay;
    const double middle = (state.high + state.low) / 2;
    const double margin = (state.high - state.low) * kHysteresisShare;
    if (state.level < 0) {
      // Before the first swing there is no level to cross from.
      if (x > middle + margin || x < middle - margin) {
        state.level = x > middle ? 1 : 0;
      }
      state.previous = x;
      continue;
    }
    const bool towardHigh = state.level == 0;
    // The crossing time is where the signal last passed the midpoint before it cleared
    // the hysteresis: that keeps rounded edges from shifting rising and falling
    // crossings in opposite directions.
    if ((towardHigh && state.previous <= middle && x > middle) ||
        (!towardHigh && state.previous >= middle && x < middle)) {
      state.candidate = static_cast<double>(state.position - 1) +
                        (middle - state.previous) / (x - state.previous);
      state.candidateSet = true;
    }
    if ((towardHigh && x > middle + margin) || (!towardHigh && x < middle - margin)) {
      if (!state.candidateSet) {
        // The threshold moved past the signal rather than the other way round.
        state.candidate = static_cast<double>(state.position) - 0.5;
      }
      if (crossings.positions.empty()) {
        crossings.firstRising = towardHigh ? 1 : 0;
      }
      const int32_t status = appendItem(crossings.positions, state.candidate);
      if (status != kOk) {
        return status;
      }
      state.level = towardHigh ? 1 : 0;
      state.candidateSet = false;
    }
    state.previous = x;
  }
  return kOk;
}
