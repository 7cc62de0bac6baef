// From samples to level crossings: the times at which the signal changes between its
// high and low level, measured on a filtered copy of it against a threshold that follows
// the signal.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/hum_filter.h"

// A value for each crossing, by its index from the first crossing of the recording. The
// stream decoder drops the values it is done with: only those from `first` on are kept,
// and every index still names the crossing it named.
template <typename T>
struct CrossingValues {
  std::vector<T> kept;  // of crossings first, first + 1, ...
  size_t first = 0;

  const T& operator[](size_t index) const { return kept[index - first]; }
  T& operator[](size_t index) { return kept[index - first]; }
  // One past the index of the newest crossing.
  size_t size() const { return first + kept.size(); }
  bool empty() const { return size() == 0; }
  const T& back() const { return kept.back(); }
  void push_back(const T& value) { kept.push_back(value); }
  void assign(size_t count, const T& value) {
    kept.assign(count, value);
    first = 0;
  }
  typename std::vector<T>::const_iterator begin() const { return kept.begin(); }
  typename std::vector<T>::const_iterator end() const { return kept.end(); }
  bool operator==(const CrossingValues& other) const {
    return first == other.first && kept == other.kept;
  }
  bool operator!=(const CrossingValues& other) const { return !(*this == other); }
};

// The index of the first crossing kept in `values` at or after sample `target` (values in
// time order), or values.size() where there is none.
inline size_t findCrossingFrom(const CrossingValues<double>& values, double target) {
  const auto at = std::lower_bound(values.kept.begin(), values.kept.end(), target);
  return values.first + static_cast<size_t>(at - values.kept.begin());
}

// The crossings of one channel in time order. Consecutive crossings always go in
// opposite directions, so only the direction of the first is kept.
struct Crossings {
  CrossingValues<double> positions;  // in samples, with fractions from interpolation
  CrossingValues<float> swings;  // the signal's swing (high - low envelope) at each crossing
  int32_t firstRising = 0;
  // The sample up to which every crossing has been found, and whether the recording has
  // ended there: a silence shows only in the time that passes without crossings.
  double knownUntil = 0;
  bool ended = false;
};

inline bool isRising(const Crossings& crossings, size_t index) {
  return ((index & 1u) == 0) == (crossings.firstRising != 0);
}

// Samples the smoothing window may span: more than the shortest level lasts at the highest
// rate the stream decoder takes (384 kHz).
inline constexpr size_t kDemodulatorHistory = 256;

// Each sample is smoothed over a window shorter than the shortest level of any protocol,
// which averages white noise down without blurring the edges apart. The threshold follows
// the midpoint between a high and a low envelope of the smoothed signal, so a DC offset,
// any amplitude and an unequal duty cycle leave it in the middle of the swing. The
// hysteresis around it is a share of the mean distance from the midpoint, which follows
// fades and brief dropouts within a cell or two, with a floor at a small share of the
// envelopes' swing, so that noise well below the signal makes no crossings.
struct DemodulatorState {
  std::array<float, kDemodulatorHistory> history{};  // the latest samples, by position
  double smoothSum = 0;                              // of the samples in the smoothing window
  double high = 0;
  double low = 0;
  double hysteresis = 0;  // a share of the mean distance of the smoothed signal from the midpoint
  double previous = 0;    // the last smoothed value less the midpoint
  double candidate = 0;   // interpolated position where the midpoint was last passed
  bool candidateSet = false;
  double rest = 0;        // the smoothed value before the first swing
  int64_t restStart = 0;  // where it began
  bool mirrored = false;  // between the first swing and the first crossing
  int64_t position = 0;   // index of the next sample
  int32_t level = -1;     // -1 until the signal first swings, then 0 (low) or 1 (high)
  // Set by startDemodulator from the sample rate.
  int32_t smoothLength = 1;
  double envelopeDecay = 0;  // share of the distance the envelopes move back per sample
  double swingGain = 0;      // share of the difference the mean distance moves per sample
  int64_t restSamples = 0;   // a rest this long before the first swing was silence
  HumFilter hum;                // in front of everything else
  std::array<float, kHumRing> filtered{};  // what the hum filter gave out while it takes hum out
};

// Prepares `state` for a channel sampled at `sampleRate` (at most 384000).
void startDemodulator(DemodulatorState& state, int32_t sampleRate);

// Feeds `count` samples in any scale through the demodulator and appends their
// crossings (the streaming decoder feeds full scale -1.0..1.0; the threshold does not
// depend on the scale). Calls may continue where the previous one stopped, and any
// slicing gives the same crossings. A crossing is found about a millisecond after the
// sample that makes it, 6 ms more while the hum filter holds samples back. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t demodulateFloats(DemodulatorState& state, const float* samples, size_t count,
                                       Crossings& crossings);

// Demodulates the samples the hum filter still holds back at the end of the recording, as
// if its last sample had been held. Nothing may be fed after it. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t finishDemodulator(DemodulatorState& state, Crossings& crossings);

// How clearly the intervals between crossings [first, end) fall on whole multiples of
// `unitSamples` (a PMD 85 half cell; a third of a Mato space): 255 when each lies within a
// fifth of a unit of one, 128 at 0.35 of a unit, 64 at half a unit and beyond, where a
// level could as well have been a unit longer or shorter. The frame decoders grade bytes
// with it (see kByteCertain).
uint8_t gradeCells(const Crossings& crossings, size_t first, size_t end, double unitSamples);
