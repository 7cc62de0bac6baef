// Unit tests of the hum filter on signals synthesised here: hum as loud as the signal is
// taken out, a clean signal passes untouched and undelayed, and the slicing of the input
// changes nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "decode/hum_filter.h"

namespace {

// Random cells of 1200 a second: PMD 85's, two equal levels in the order the bit says,
// whose data puts some of its power below the band, or with `mato` Mato's, a first level
// of 3/5 or 1/3 of the cell, whose DC changes with the data.
std::vector<float> dataSignal(int32_t sampleRate, double seconds, bool mato, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<float> x(static_cast<size_t>(seconds * sampleRate));
  const double cell = sampleRate / 1200.0;
  double cellStart = -cell;
  bool bit = false;
  for (size_t i = 0; i < x.size(); ++i) {
    if (static_cast<double>(i) >= cellStart + cell) {
      cellStart += cell;
      bit = (random() & 1) != 0;
    }
    const double firstShare = mato ? (bit ? 0.6 : 1.0 / 3) : 0.5;
    const bool first = static_cast<double>(i) - cellStart < firstShare * cell;
    x[i] = first != (bit && !mato) ? 0.3f : -0.3f;
  }
  return x;
}

// Mains hum at `mainsHz` with four harmonics, of `rms` in all.
std::vector<float> humOf(int32_t sampleRate, size_t count, double mainsHz, double rms) {
  constexpr double kAmplitudes[5] = {1.0, 0.5, 0.35, 0.25, 0.15};
  double power = 0;
  for (const double a : kAmplitudes) {
    power += a * a / 2;
  }
  std::vector<float> hum(count);
  for (size_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / sampleRate;
    double value = 0;
    for (int h = 0; h < 5; ++h) {
      value += kAmplitudes[h] * std::sin(2 * M_PI * mainsHz * (h + 1) * t + 0.7 * h);
    }
    hum[i] = static_cast<float>(value * rms / std::sqrt(power));
  }
  return hum;
}

// Everything the filter gives out for `input` fed in slices of `slice` samples, finished.
// `heldAtEnd` is what only finishHumFilter gave out.
std::vector<float> filterAll(const std::vector<float>& input, int32_t sampleRate, size_t slice,
                             size_t* heldAtEnd = nullptr) {
  HumFilter filter;
  startHumFilter(filter, sampleRate);
  std::vector<float> out(kHumRing);
  std::vector<float> output;
  for (size_t done = 0; done < input.size();) {
    const size_t count = std::min(slice, input.size() - done);
    for (size_t taken = 0; taken < count;) {
      const float* at = input.data() + done + taken;
      const HumStep step = filterHum(filter, at, count - taken, out.data());
      const float* ready = step.direct ? at : out.data();
      output.insert(output.end(), ready, ready + step.ready);
      taken += step.taken;
    }
    done += count;
  }
  const size_t held = finishHumFilter(filter, out.data());
  output.insert(output.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(held));
  if (heldAtEnd != nullptr) {
    *heldAtEnd = held;
  }
  return output;
}

double rmsOf(const std::vector<float>& x, size_t first, size_t end) {
  double power = 0;
  for (size_t i = first; i < end; ++i) {
    power += static_cast<double>(x[i]) * x[i];
  }
  return std::sqrt(power / static_cast<double>(end - first));
}

std::vector<float> sum(std::vector<float> a, const std::vector<float>& b) {
  for (size_t i = 0; i < a.size(); ++i) {
    a[i] += b[i];
  }
  return a;
}

struct Rate {
  int32_t sampleRate;
  double mainsHz;
};

const Rate kRates[] = {{22050, 50}, {44100, 60}, {48000, 50}, {96000, 60}};

TEST(HumFilter, HumAsLoudAsTheSignalIsTakenOut) {
  for (const Rate& rate : kRates) {
    const std::vector<float> clean = dataSignal(rate.sampleRate, 2, false, 1);
    const std::vector<float> hum =
        humOf(rate.sampleRate, clean.size(), rate.mainsHz, rmsOf(clean, 0, clean.size()));
    const std::vector<float> output = filterAll(sum(clean, hum), rate.sampleRate, 65536);
    ASSERT_EQ(output.size(), clean.size()) << rate.sampleRate;
    std::vector<float> left(output.size());
    for (size_t i = 0; i < output.size(); ++i) {
      left[i] = output[i] - clean[i];
    }
    // After the averages have settled, what is left of the hum, with what the data has
    // below the band, lies 12 dB or more below the hum. Its fundamental alone left would
    // leave more than three quarters, its harmonics alone more than half.
    const size_t from = clean.size() / 2;
    EXPECT_LT(rmsOf(left, from, left.size()), 0.25 * rmsOf(hum, from, hum.size()))
        << rate.sampleRate << " Hz, " << rate.mainsHz << " Hz mains";
  }
}

TEST(HumFilter, CleanSignalPassesAsItIsWithoutDelay) {
  for (const Rate& rate : kRates) {
    for (const bool mato : {false, true}) {
      std::vector<float> input = dataSignal(rate.sampleRate, 1.5, mato, 2);
      // Noise and a DC do not look like hum either.
      std::mt19937 random(3);
      std::normal_distribution<float> noise(0.05f, 0.1f);
      for (float& x : input) {
        x += noise(random);
      }
      size_t held = 1;
      const std::vector<float> output = filterAll(input, rate.sampleRate, 4097, &held);
      EXPECT_EQ(held, 0u) << rate.sampleRate << (mato ? " Mato" : " PMD 85");
      EXPECT_TRUE(output == input) << rate.sampleRate << (mato ? " Mato" : " PMD 85");
    }
  }
}

TEST(HumFilter, AnySlicingGivesTheSameOutput) {
  // Hum that stops halfway: the filter starts taking it out and stops again.
  const int32_t sampleRate = 44100;
  const std::vector<float> clean = dataSignal(sampleRate, 1.6, false, 4);
  std::vector<float> hum = humOf(sampleRate, clean.size(), 50, 0.3);
  std::fill(hum.begin() + static_cast<std::ptrdiff_t>(hum.size() / 2), hum.end(), 0.0f);
  const std::vector<float> input = sum(clean, hum);
  const std::vector<float> whole = filterAll(input, sampleRate, input.size());
  ASSERT_EQ(whole.size(), input.size());
  EXPECT_FALSE(whole == input);
  for (const size_t slice : {1u, 7u, 16u, 1000u, 4097u}) {
    EXPECT_TRUE(filterAll(input, sampleRate, slice) == whole) << slice;
  }
}

TEST(HumFilter, FinishGivesOutWhatIsHeldAsIfTheLastSampleWereHeld) {
  const int32_t sampleRate = 48000;
  const std::vector<float> clean = dataSignal(sampleRate, 1, false, 5);
  const std::vector<float> input = sum(clean, humOf(sampleRate, clean.size(), 50, 0.3));
  size_t held = 0;
  const std::vector<float> output = filterAll(input, sampleRate, 65536, &held);
  ASSERT_EQ(output.size(), input.size());
  // While hum is taken out, the filter holds back about its 5 ms delay.
  EXPECT_GT(held, static_cast<size_t>(0.004 * sampleRate));
  EXPECT_LT(held, static_cast<size_t>(0.008 * sampleRate));
  // The recording continued by its last sample gives the same output up to its end.
  std::vector<float> longer = input;
  longer.resize(input.size() + kHumRing, input.back());
  const std::vector<float> continued = filterAll(longer, sampleRate, 65536);
  EXPECT_TRUE(std::equal(output.begin(), output.end(), continued.begin()));
}

}  // namespace
