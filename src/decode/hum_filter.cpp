// A linear-phase low-pass on block means, subtracted from the delayed samples where what
// lies below the band is loud.
#include "decode/hum_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Everything below this is taken for hum; every protocol's band starts above 600 Hz.
constexpr double kHumCutoffHz = 300;
// The share of the power below the cutoff at which taking it out begins, and at which it
// is taken out whole. Clean and noisy recordings stay well below the first.
constexpr double kShareFrom = 0.05;
constexpr double kShareWhole = 0.1;
// Silence is no hum, though all that is left of it is the DC's slow way back: the share
// is taken of at least this share of the loudest power lately, which fades over seconds.
constexpr double kQuietShare = 0.05;
constexpr double kLoudestSeconds = 3;
// The powers are averaged over about 30 ms: hum is steady, and taking it out must not
// flicker with the data.
constexpr double kPowerSeconds = 0.03;
// The DC under the hum moves far slower than the lowest hum.
constexpr double kDcSeconds = 0.1;
// Nothing is taken out before the averages have settled: a recording may begin inside a
// block, far from the DC it settles to.
constexpr double kSettleSeconds = 0.2;
// The hum's share is measured on one block in this many (a covariance needs no more), and
// the mains periods are whole numbers of them: near enough for the fundamental and the
// first harmonics, which carry most of any hum.
constexpr int64_t kMeasureStride = 8;
// Trends slower than this are no hum, only the DC settling.
constexpr double kTrendSeconds = 0.01;
constexpr double kMainsHz[2] = {50, 60};
// The samples whose middle of the swing is found are averaged over this long first.
constexpr double kSwingSmoothSeconds = 1.0 / 6250;

constexpr size_t kRingMask = kHumRing - 1;
constexpr size_t kMeanMask = std::tuple_size<decltype(HumFilter::means)>::value / 2 - 1;
constexpr size_t kRecentMask = std::tuple_size<decltype(HumFilter::recent)>::value - 1;
constexpr size_t kSwingMask = std::tuple_size<decltype(HumFilter::highs)>::value - 1;
static_assert(std::tuple_size<decltype(HumFilter::lowMeans)>::value == kMeanMask + 1 &&
              std::tuple_size<decltype(HumFilter::middles)>::value == kMeanMask + 1);

// Four floats added lane by lane: one instruction where the target has vectors, and the
// same four sums as scalar code where it has not.
typedef float Lanes __attribute__((vector_size(16)));

// The sum of four lanes, as (lane 0 + lane 1) + (lane 2 + lane 3). Lanes 0 and 2 of a
// vector plus its pairs swapped hold the two sums, without going through memory.
inline double addLanes(Lanes lanes) {
  const Lanes pairs = lanes + __builtin_shufflevector(lanes, lanes, 1, 0, 3, 2);
  return static_cast<double>(pairs[0]) + static_cast<double>(pairs[2]);
}

// The sum, and with kSquares the sum of squares, of one block's samples, in four lanes
// (sample k to lane k % 4): the same order whatever the slicing of the input, since a
// block is always summed whole.
template <bool kSquares>
inline double sumBlock(const float* x, size_t count, float& squares) {
  Lanes sums = {0, 0, 0, 0};
  Lanes powers = {0, 0, 0, 0};
  size_t k = 0;
  for (; k + 4 <= count; k += 4) {
    Lanes v;
    std::memcpy(&v, x + k, sizeof v);
    sums += v;
    if (kSquares) {
      powers += v * v;
    }
  }
  for (size_t lane = 0; k + lane < count; ++lane) {
    sums[lane] += x[k + lane];
    powers[lane] += kSquares ? x[k + lane] * x[k + lane] : 0;
  }
  if (kSquares) {
    const Lanes powerPairs = powers + __builtin_shufflevector(powers, powers, 1, 0, 3, 2);
    squares = powerPairs[0] + powerPairs[2];
  }
  return addLanes(sums);
}

// The sums of four blocks of `length` samples from `x` on, each as sumBlock gives it:
// side by side, the additions of one block do not wait on those of another.
inline void sumFourBlocks(const float* x, size_t length, double* sums) {
  Lanes lanes[4] = {};
  size_t k = 0;
  for (; k + 4 <= length; k += 4) {
    for (size_t b = 0; b < 4; ++b) {
      Lanes v;
      std::memcpy(&v, x + b * length + k, sizeof v);
      lanes[b] += v;
    }
  }
  for (size_t lane = 0; k + lane < length; ++lane) {
    for (size_t b = 0; b < 4; ++b) {
      lanes[b][lane] += x[b * length + k + lane];
    }
  }
  for (size_t b = 0; b < 4; ++b) {
    sums[b] = addLanes(lanes[b]);
  }
}

// Finds the highest and the lowest sample of block `block` less the low-passed mean under
// it, a straight line between the middles of the blocks. The samples lie in the ring, and
// the low-passed means up to block + 1 are known.
void findSwing(HumFilter& f, int64_t block) {
  const auto at = static_cast<size_t>(block);
  const double here = f.lowMeans[at & kMeanMask];
  const double before = f.lowMeans[(at - 1) & kMeanMask];
  const double after = f.lowMeans[(at + 1) & kMeanMask];
  const auto length = static_cast<size_t>(f.blockLength);
  const double middle = 0.5 * static_cast<double>(length - 1);
  const size_t start = at * length;
  double high = -HUGE_VAL;
  double low = HUGE_VAL;
  // The samples are averaged over a few first, as the demodulator smooths them: the
  // extremes of noise alone would make the middle jitter.
  const auto smooth = static_cast<size_t>(f.swingSmooth);
  double sum = 0;
  for (size_t j = 1; j < smooth; ++j) {
    sum += f.raw[(start - j) & kRingMask];
  }
  const double centre = middle + 0.5 * static_cast<double>(smooth - 1);
  // Each half of the block has a straight line of its own.
  const auto half = static_cast<size_t>(std::ceil(centre));
  const double slopes[2] = {(here - before) * f.blockScale, (after - here) * f.blockScale};
  const double scale = 1.0 / static_cast<double>(smooth);
  for (size_t side = 0, k = 0; side < 2; ++side) {
    // The line, scaled as the sum is, steps along with it.
    const double step = slopes[side] * static_cast<double>(smooth);
    double line =
        (here + slopes[side] * (static_cast<double>(k) - centre)) * static_cast<double>(smooth);
    for (const size_t end = side == 0 ? half : length; k < end; ++k, line += step) {
      sum += f.raw[(start + k) & kRingMask];
      const double x = sum - line;
      sum -= f.raw[(start + k + 1 - smooth) & kRingMask];
      high = std::max(high, x);
      low = std::min(low, x);
    }
  }
  high *= scale;
  low *= scale;
  f.highs[at & kSwingMask] = high;
  f.lows[at & kSwingMask] = low;
}

// Stores the middle of the swing over blocks block - 1 to block + 1, less the low-passed
// mean: what clipping moved the mean from the middle. Blocks before hum was found are not
// in the ring, nor are the samples that the first block taken in averages with.
void storeMiddle(HumFilter& f, int64_t block) {
  findSwing(f, block + 1);
  const auto at = static_cast<size_t>(block);
  double high = f.highs[at & kSwingMask];
  double low = f.lows[at & kSwingMask];
  for (const size_t side : {at - 1, at + 1}) {
    high = std::max(high, f.highs[side & kSwingMask]);
    low = std::min(low, f.lows[side & kSwingMask]);
  }
  f.middles[at & kMeanMask] = block - 1 > f.takingFrom ? 0.5 * (high + low) : 0.0;
}

// The hum at block `block`: its low-passed mean and the smoothed middle of the swing
// around it, less the DC.
double humAt(const HumFilter& f, int64_t block) {
  const auto at = static_cast<size_t>(block);
  const double middle = 0.25 * (f.middles[(at - 1) & kMeanMask] + f.middles[(at + 1) & kMeanMask]) +
                        0.5 * f.middles[at & kMeanMask];
  return f.lowMeans[at & kMeanMask] + middle - f.dc;
}

bool humTaken(const HumFilter& f) { return f.previousHum != 0 || f.latestHum != 0; }

bool isMeasured(int64_t block) { return block % kMeasureStride == 0; }

// The low-pass at the newest of 2 * kHumHalfTaps + 1 block means from `window` on. The
// taps are symmetric: each pair of blocks shares one.
double lowPass(const HumFilter& f, const double* window) {
  constexpr auto kHalf = static_cast<size_t>(kHumHalfTaps);
  double low = f.taps[kHalf] * window[kHalf];
  for (size_t k = 0; k < kHalf; ++k) {
    low += f.taps[k] * (window[2 * kHalf - k] + window[k]);
  }
  return low;
}

// Takes the low-passed mean `low` of block `block`, and on measured blocks decides how
// much of the hum to take out.
void judgeBlock(HumFilter& f, int64_t block, double low, double mean, double squares) {
  const bool measured = isMeasured(block);
  if (measured) {
    f.dc += (low - f.dc) * f.meanGain;
  }
  const double hum = low - f.dc;
  if (measured) {
    // Hum repeats with the mains period; what the data puts below the band does not.
    // The covariance of the low-passed signal with itself a period ago measures the
    // hum alone. The trend is taken out first: a DC settling would look periodic.
    f.trend += (hum - f.trend) * f.trendGain;
    const double v = hum - f.trend;
    const auto at = static_cast<size_t>(block / kMeasureStride);
    f.recent[at & kRecentMask] = v;
    const double gain = f.powerGain;
    for (size_t m = 0; m < 2; ++m) {
      const double past = f.recent[(at - f.mainsLag[m]) & kRecentMask];
      f.periodic[m] += (v * past - f.periodic[m]) * gain;
    }
    const double around = squares - 2 * f.dc * mean + f.dc * f.dc;
    f.totalPower += (around - f.totalPower) * gain;
    f.loudest = std::max(f.totalPower, f.loudest * (1 - gain * kPowerSeconds / kLoudestSeconds));
    const double whole = std::max(f.totalPower, kQuietShare * f.loudest);
    const double periodic = std::max(f.periodic[0], f.periodic[1]);
    // Mostly there is no hum at all, and no need to divide.
    f.taken = block < f.settleBlocks || periodic <= kShareFrom * whole
                  ? 0.0
                  : std::min(1.0, (periodic / whole - kShareFrom) / (kShareWhole - kShareFrom));
  }
  f.lowMeans[static_cast<size_t>(block - kHumHalfTaps) & kMeanMask] = low;
  f.previousHum = f.latestHum;
  if (!f.taking || block - kHumLag + kHumHalfTaps - 1 < f.takingFrom) {
    // Hum was found only now: its blocks so far were not kept.
    f.latestHum = f.taken * hum;
    return;
  }
  storeMiddle(f, block - kHumHalfTaps - 2);
  f.latestHum = f.taken * humAt(f, block - kHumLag);
}

// Runs the low-pass over the newest block means, and judges the block.
void measureBlock(HumFilter& f, int64_t block, double mean, double squares) {
  const double* window =
      f.means.data() + (static_cast<size_t>(block - 2 * kHumHalfTaps) & kMeanMask);
  judgeBlock(f, block, lowPass(f, window), mean, squares);
}

// Closes the block of samples at `x`: its mean goes to the low-pass, which runs only on
// measured blocks while no hum is taken out.
inline void completeBlock(HumFilter& f, const float* x) {
  const int64_t block = f.blocks++;
  const bool measure = isMeasured(block) || f.taking;
  const auto length = static_cast<size_t>(f.blockLength);
  float squares = 0;
  const double mean =
      (measure ? sumBlock<true>(x, length, squares) : sumBlock<false>(x, length, squares)) *
      f.blockScale;
  const size_t at = static_cast<size_t>(block) & kMeanMask;
  f.means[at] = mean;
  f.means[at + kMeanMask + 1] = mean;
  f.fill = 0;
  if (measure) {
    measureBlock(f, block, mean, squares * f.blockScale);
  }
}

// Takes up to `count` samples towards the current block; returns how many. Returns with a
// completed block only when the block is whole, in place at `samples` or gathered from
// earlier calls.
size_t takeBlock(HumFilter& f, const float* samples, size_t count) {
  const auto length = static_cast<size_t>(f.blockLength);
  if (f.fill == 0 && count >= length) {
    f.received += f.blockLength;
    completeBlock(f, samples);
    return length;
  }
  const size_t take = std::min(length - static_cast<size_t>(f.fill), count);
  std::memcpy(f.partial.data() + f.fill, samples, take * sizeof(float));
  f.fill += static_cast<int32_t>(take);
  f.received += static_cast<int64_t>(take);
  if (static_cast<size_t>(f.fill) == length) {
    completeBlock(f, f.partial.data());
  }
  return take;
}

// Copies the samples from `f.emitted` to `last` unchanged.
size_t copySamples(HumFilter& f, float* out, int64_t last) {
  if (last < f.emitted) {
    return 0;
  }
  const auto count = static_cast<size_t>(last - f.emitted + 1);
  const size_t start = static_cast<size_t>(f.emitted) & kRingMask;
  const size_t head = std::min(count, kHumRing - start);
  std::memcpy(out, f.raw.data() + start, head * sizeof(float));
  std::memcpy(out + head, f.raw.data(), (count - head) * sizeof(float));
  f.emitted = last + 1;
  return count;
}

// Gives out the samples up to the middle of the newest low-passed block, but none at or
// past `limit`, less the hum; returns how many.
size_t emitSamples(HumFilter& f, float* out, int64_t limit) {
  const int64_t length = f.blockLength;
  // The hum is known up to kHumLag blocks behind the newest block.
  const int64_t middleTwice = 2 * (f.blocks - 1 - kHumLag) * length + (length - 1);
  const int64_t last = std::min(middleTwice / 2, limit - 1);
  if (middleTwice < 0 || last < f.emitted) {
    return 0;
  }
  if (!humTaken(f)) {
    return copySamples(f, out, last);
  }
  // Between the middles of the two newest low-passed blocks, the hum is a straight line.
  const auto count = static_cast<size_t>(last - f.emitted + 1);
  const size_t start = static_cast<size_t>(f.emitted) & kRingMask;
  const double step = (f.latestHum - f.previousHum) / static_cast<double>(length);
  const double from = 0.5 * static_cast<double>(middleTwice) - static_cast<double>(length);
  for (size_t k = 0; k < count; ++k) {
    const double at = static_cast<double>(f.emitted + static_cast<int64_t>(k)) - from;
    out[k] = static_cast<float>(f.raw[(start + k) & kRingMask] - (f.previousHum + step * at));
  }
  f.emitted = last + 1;
  return count;
}

// Blocks summed at a time while no hum is taken out: the low-passes of their measured
// blocks then run side by side, where one after the other each would wait on the last.
constexpr size_t kPassBlocks = 256;
constexpr auto kBatchBefore = static_cast<size_t>(2 * kHumHalfTaps);
constexpr size_t kBatchMeasured = kPassBlocks / kMeasureStride + 1;

// The block means of a batch, after those of the blocks before it that the low-pass
// reaches back to, and what the measured blocks among them add.
struct Batch {
  int64_t first = 0;  // the batch's first block
  // Of the blocks from first - kBatchBefore on.
  std::array<double, kBatchBefore + kPassBlocks> means;
  std::array<size_t, kBatchMeasured> measured;  // the measured blocks, from first
  std::array<double, kBatchMeasured> squares;   // their mean squares
  std::array<double, kBatchMeasured> lows;      // their low-passed means
  size_t measuredCount = 0;
};

// Sums `blocks` whole blocks at `samples` into `batch`, and runs the low-pass at each
// measured one.
void sumBatch(const HumFilter& f, const float* samples, size_t blocks, Batch& batch) {
  const auto length = static_cast<size_t>(f.blockLength);
  batch.first = f.blocks;
  for (size_t k = 0; k < kBatchBefore; ++k) {
    const auto block = static_cast<size_t>(batch.first - static_cast<int64_t>(kBatchBefore - k));
    batch.means[k] = f.means[block & kMeanMask];
  }
  double* means = batch.means.data() + kBatchBefore;
  size_t summed = 0;
  for (; summed + 4 <= blocks; summed += 4) {
    sumFourBlocks(samples + summed * length, length, means + summed);
  }
  for (float unused = 0; summed < blocks; ++summed) {
    means[summed] = sumBlock<false>(samples + summed * length, length, unused);
  }
  batch.measuredCount = 0;
  for (size_t b = 0; b < blocks; ++b) {
    means[b] *= f.blockScale;
    if (isMeasured(batch.first + static_cast<int64_t>(b))) {
      // Summed once more for the squares: one block in kMeasureStride.
      float power = 0;
      sumBlock<true>(samples + b * length, length, power);
      batch.measured[batch.measuredCount] = b;
      batch.squares[batch.measuredCount++] = power * f.blockScale;
    }
  }
  for (size_t m = 0; m < batch.measuredCount; ++m) {
    batch.lows[m] = lowPass(f, batch.means.data() + batch.measured[m]);
  }
}

// Completes up to `blocks` whole blocks at `samples` in place, up to the first after which
// hum is taken out; returns how many.
size_t passBatch(HumFilter& f, const float* samples, size_t blocks) {
  Batch batch;
  sumBatch(f, samples, blocks, batch);
  size_t taken = blocks;
  for (size_t m = 0; m < batch.measuredCount && taken == blocks; ++m) {
    const size_t b = batch.measured[m];
    judgeBlock(f, batch.first + static_cast<int64_t>(b), batch.lows[m],
               batch.means[kBatchBefore + b], batch.squares[m]);
    taken = humTaken(f) ? b + 1 : taken;
  }
  // The means of the latest blocks taken stay for the low-pass of the blocks after them.
  for (size_t b = taken > kMeanMask ? taken - kMeanMask - 1 : 0; b < taken; ++b) {
    const size_t at = static_cast<size_t>(batch.first + static_cast<int64_t>(b)) & kMeanMask;
    f.means[at] = batch.means[kBatchBefore + b];
    f.means[at + kMeanMask + 1] = batch.means[kBatchBefore + b];
  }
  f.blocks = batch.first + static_cast<int64_t>(taken);
  return taken;
}

// Completes the whole blocks at `samples` in place, up to the first after which hum is
// taken out; returns how many samples they hold. The loop over blocks that no hum fills.
size_t passBlocks(HumFilter& f, const float* samples, size_t count) {
  const auto length = static_cast<size_t>(f.blockLength);
  size_t i = 0;
  while (count - i >= length && !humTaken(f)) {
    i += passBatch(f, samples + i, std::min((count - i) / length, kPassBlocks)) * length;
  }
  f.received += static_cast<int64_t>(i);
  return i;
}

// While no hum is taken out, the samples pass on as they are, with nothing held back:
// only the block sums are taken. Stops after the block at which hum is first taken out.
HumStep passSamples(HumFilter& f, const float* samples, size_t count) {
  size_t i = 0;
  if (f.fill > 0) {
    i = takeBlock(f, samples, count);
  }
  if (f.fill == 0 && !humTaken(f)) {
    i += passBlocks(f, samples + i, count - i);
  }
  if (humTaken(f)) {
    f.taking = true;
    f.takingFrom = f.blocks;
  } else if (i < count) {
    i += takeBlock(f, samples + i, count - i);
  }
  f.emitted = f.received;
  return HumStep{i, i, true};
}

// While hum is taken out, the samples wait in the ring until the low-pass has seen
// kHumHalfTaps blocks past them. Stops where no hum is taken out any more, after giving
// out what the ring still holds.
HumStep holdSamples(HumFilter& f, const float* samples, size_t count, float* out, int64_t limit) {
  // The ring holds the samples not yet given out and those taken in now.
  const auto held = static_cast<size_t>(kHumLag + 3) * static_cast<size_t>(f.blockLength);
  const size_t span = std::min(count, kHumRing - held);
  size_t written = 0;
  size_t i = 0;
  while (i < span) {
    const size_t take = std::min(static_cast<size_t>(f.blockLength - f.fill), span - i);
    const size_t start = static_cast<size_t>(f.received) & kRingMask;
    const size_t head = std::min(take, kHumRing - start);
    std::memcpy(f.raw.data() + start, samples + i, head * sizeof(float));
    std::memcpy(f.raw.data(), samples + i + head, (take - head) * sizeof(float));
    const int64_t blocks = f.blocks;
    i += takeBlock(f, samples + i, take);
    if (f.blocks != blocks) {
      if (!humTaken(f)) {
        f.taking = false;
        written += copySamples(f, out + written, std::min(f.received, limit) - 1);
        break;
      }
      written += emitSamples(f, out + written, limit);
    }
  }
  return HumStep{i, written, false};
}

}  // namespace

void startHumFilter(HumFilter& filter, int32_t sampleRate) {
  filter = HumFilter{};
  filter.blockLength = static_cast<int32_t>(std::max(1L, std::lround(sampleRate / kHumBlockRate)));
  filter.blockScale = 1.0 / filter.blockLength;
  const double blockRate = static_cast<double>(sampleRate) / filter.blockLength;
  // A windowed sinc (Blackman), scaled to pass DC whole.
  const double cutoff = kHumCutoffHz / blockRate;
  double total = 0;
  for (int32_t k = -kHumHalfTaps; k <= kHumHalfTaps; ++k) {
    const double sinc = k == 0 ? 2 * cutoff : std::sin(2 * M_PI * cutoff * k) / (M_PI * k);
    const double phase = M_PI * k / kHumHalfTaps;
    const double window = 0.42 + 0.5 * std::cos(phase) + 0.08 * std::cos(2 * phase);
    filter.taps[static_cast<size_t>(k + kHumHalfTaps)] = sinc * window;
    total += sinc * window;
  }
  for (double& tap : filter.taps) {
    tap /= total;
  }
  filter.settleBlocks = std::lround(kSettleSeconds * blockRate);
  filter.swingSmooth = static_cast<int32_t>(std::clamp(
      std::lround(sampleRate * kSwingSmoothSeconds), 1L, static_cast<long>(filter.blockLength)));
  const double measureRate = blockRate / kMeasureStride;
  filter.meanGain = 1.0 - std::exp(-1.0 / (kDcSeconds * measureRate));
  filter.trendGain = 1.0 - std::exp(-1.0 / (kTrendSeconds * measureRate));
  filter.powerGain = 1.0 - std::exp(-1.0 / (kPowerSeconds * measureRate));
  for (size_t m = 0; m < 2; ++m) {
    filter.mainsLag[m] = static_cast<size_t>(std::lround(measureRate / kMainsHz[m]));
  }
}

HumStep filterHum(HumFilter& filter, const float* samples, size_t count, float* out) {
  if (count > 0 && !filter.started) {
    // The filter starts as if the first sample had always been there.
    filter.started = true;
    filter.means.fill(samples[0]);
    filter.dc = samples[0];
  }
  return filter.taking ? holdSamples(filter, samples, count, out, INT64_MAX)
                       : passSamples(filter, samples, count);
}

size_t finishHumFilter(HumFilter& filter, float* out) {
  const int64_t end = filter.received;
  if (!filter.taking) {
    return 0;
  }
  const float last = filter.raw[static_cast<size_t>(end - 1) & kRingMask];
  size_t written = 0;
  while (filter.emitted < end) {
    written += holdSamples(filter, &last, 1, out + written, end).ready;
  }
  filter.taking = false;
  return written;
}
