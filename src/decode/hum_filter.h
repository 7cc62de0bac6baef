// Mains hum taken out in front of the demodulator. Hum (50 or 60 Hz and its harmonics up
// to a few hundred hertz) lies below every protocol's band, but a threshold in the middle
// of the swing cannot follow it once it is as loud as the signal: its slope moves the
// middle by most of the swing within a cell. A linear-phase low-pass measures what lies
// below the band; where the part of it that repeats with the mains period is loud against
// the whole, it is subtracted from the delayed signal. Elsewhere the signal passes as it
// is: Mato's levels carry a DC that changes with the data, and taking that out costs
// noise margin.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The low-pass runs on block means at about this rate, where a short filter is sharp
// enough: the blocks are a few samples at 8 kHz and over a hundred at 384 kHz.
inline constexpr double kHumBlockRate = 2800;
// Taps on each side of the low-pass's middle, in blocks: 5 ms.
inline constexpr int32_t kHumHalfTaps = 14;
// Blocks from the newest one to the newest whose hum is subtracted: the low-pass's half,
// the two blocks on either side of a block that its middle of the swing spans, and one
// more for smoothing the middles.
inline constexpr int32_t kHumLag = kHumHalfTaps + 3;
// Samples the filter holds back at most, at the highest rate the decoder takes.
inline constexpr size_t kHumRing = 4096;

struct HumFilter {
  std::array<float, kHumRing> raw{};                // the latest samples, by position
  std::array<double, 2 * kHumHalfTaps + 1> taps{};  // the low-pass, symmetric
  // The latest block means, by block, each twice (at b % 32 and 32 + b % 32), so that the
  // low-pass reads the newest 29 from one run of memory.
  std::array<double, 64> means{};
  std::array<double, 32> lowMeans{};  // the low-passed means, by block % 32
  // The middle of the swing around each block, less its low-passed mean, by block % 32.
  std::array<double, 32> middles{};
  std::array<double, 4> highs{};  // the swing of the latest blocks less their low-passed means
  std::array<double, 4> lows{};
  int64_t takingFrom = 0;   // the first block taken in while hum is taken out
  int32_t swingSmooth = 1;  // samples averaged before the swing is found
  int32_t blockLength = 1;
  double blockScale = 1;             // 1 / blockLength
  int64_t received = 0;              // samples taken in
  int64_t emitted = 0;               // samples given out
  int64_t blocks = 0;                // blocks completed
  int32_t fill = 0;                  // samples of the current block gathered in `partial`
  bool taking = false;               // hum is taken out, and samples wait in the ring
  std::array<float, 256> partial{};  // a block that spans calls
  int64_t settleBlocks = 0;          // before which nothing is taken out
  double powerGain = 0;              // per measured block, for the power averages
  double meanGain = 0;               // per measured block, for the DC under the hum
  double trendGain = 0;              // per measured block
  std::array<size_t, 2> mainsLag{};  // 50 and 60 Hz periods, in measured blocks
  double dc = 0;
  double trend = 0;
  std::array<double, 64> recent{};   // the low-passed signal less its trend, by measured block
  std::array<double, 2> periodic{};  // its covariance with itself one mains period ago
  double totalPower = 0;             // of the signal around the DC
  double loudest = 0;                // the highest total power lately
  // What is subtracted at the middles of the two latest low-passed blocks: the share of
  // the low-passed signal taken out, times its distance from the DC.
  double previousHum = 0;
  double latestHum = 0;
  double taken = 0;  // the share of the low-passed signal taken out
  bool started = false;
};

// Prepares `filter` for a channel sampled at `sampleRate` (at most 384000).
void startHumFilter(HumFilter& filter, int32_t sampleRate);

// What one call to filterHum did.
struct HumStep {
  size_t taken;  // samples taken from the input
  size_t ready;  // samples ready for the demodulator
  bool direct;   // they are the first `ready` input samples themselves, not in `out`
};

// Takes samples from `samples` and makes samples ready, in order, from position
// `filter.emitted` on: while no hum is taken out, the input itself; while it is, a
// filtered copy in `out` (room for kHumRing). Stops early where that changes: call it
// again with the rest. Any slicing of the input gives the same output.
HumStep filterHum(HumFilter& filter, const float* samples, size_t count, float* out);

// Gives out into `out` the samples still held back, as if the last sample had been held;
// returns how many. Nothing may be fed after it.
size_t finishHumFilter(HumFilter& filter, float* out);
