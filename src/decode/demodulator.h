// From samples to level crossings: the times at which the signal changes between its
// high and low level, measured against a threshold that follows the signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The crossings of one channel in time order. Consecutive crossings always go in
// opposite directions, so only the direction of the first is kept.
struct Crossings {
  std::vector<double> positions;  // in samples, with fractions from interpolation
  std::vector<float> swings;      // the signal's swing (high - low envelope) at each crossing
  int32_t firstRising = 0;
};

inline bool isRising(const Crossings& crossings, size_t index) {
  return ((index & 1u) == 0) == (crossings.firstRising != 0);
}

// The threshold follows the midpoint between a high and a low envelope, so a DC offset,
// any amplitude and an unequal duty cycle leave it in the middle of the swing; the
// hysteresis around it is a fixed share of the swing, so noise well below the signal
// makes no crossings.
struct DemodulatorState {
  double high = 0;
  double low = 0;
  double previous = 0;
  double candidate = 0;  // interpolated position where the midpoint was last passed
  bool candidateSet = false;
  double decay = 0;      // share of the distance the envelopes move back per sample
  int64_t position = 0;  // index of the next sample
  int32_t level = -1;    // -1 until the signal first swings, then 0 (low) or 1 (high)
};

// Prepares `state` for a channel sampled at `sampleRate`.
void startDemodulator(DemodulatorState& state, int32_t sampleRate);

// Feeds `count` samples in any scale through the demodulator and appends their
// crossings (the streaming decoder feeds full scale -1.0..1.0; the threshold does not
// depend on the scale). Calls may continue where the previous one stopped. Returns kOk
// or kErrOutOfMemory, reported.
[[nodiscard]] int32_t demodulateFloats(DemodulatorState& state, const float* samples, size_t count,
                                       Crossings& crossings);
