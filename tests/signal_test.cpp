// Tests of the rule that turns nominal seconds into counts of waveforms and silence chunks.
#include "audio/signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "tape/tape_format.h"

namespace {

__extension__ typedef unsigned __int128 Uint128;

// The whole part of a * b from the exact product of the two doubles: each is an integer
// mantissa times a power of two, and the 106-bit product of the mantissas fits in 128 bits.
// Independent of the floating-point unit beyond frexp and ldexp, which are exact.
int64_t exactTruncatedProduct(double a, double b) {
  if (a == 0 || b == 0) {
    return 0;
  }
  int exponentA = 0;
  int exponentB = 0;
  const auto mantissaA =
      static_cast<uint64_t>(std::ldexp(std::fabs(std::frexp(a, &exponentA)), 53));
  const auto mantissaB =
      static_cast<uint64_t>(std::ldexp(std::fabs(std::frexp(b, &exponentB)), 53));
  const Uint128 product = Uint128{mantissaA} * mantissaB;
  const int shift = exponentA + exponentB - 106;
  Uint128 whole = 0;
  if (shift >= 0) {
    whole = product << shift;
  } else if (shift > -128) {
    whole = product >> -shift;
  }
  const auto magnitude = static_cast<int64_t>(whole);
  return (a < 0) != (b < 0) ? -magnitude : magnitude;
}

struct CountCase {
  double seconds;
  double rate;
  int64_t count;
};

TEST(TruncatedProduct, KnownCounts) {
  const CountCase cases[] = {
      {2.8, kPmdCellsPerSecond, 3359},
      {2.8, kPmdDoubleCellsPerSecond, 6719},
      {0.5, kPmdCellsPerSecond, 600},
      {0.5, kPmdDoubleCellsPerSecond, 1200},
      {1, kMatoGapChunksPerSecond, 3215},
      {2, kMatoGapChunksPerSecond, 6430},
      {3, kMatoGapChunksPerSecond, 9646},
      {4, kMatoGapChunksPerSecond, 12861},
      {5, kMatoGapChunksPerSecond, 16077},
      {10, kMatoGapChunksPerSecond, 32154},
      {10000, kMatoGapChunksPerSecond, 32154340},
      {0, kMatoGapChunksPerSecond, 0},
  };
  for (const CountCase& c : cases) {
    EXPECT_EQ(truncatedProduct(c.seconds, c.rate), c.count) << c.seconds << " * " << c.rate;
    EXPECT_EQ(exactTruncatedProduct(c.seconds, c.rate), c.count) << "oracle: " << c.seconds;
  }
}

// Decimal seconds, whole seconds at the Mato rate, and products that lie within a few
// units in the last place of a whole number, where rounding the product to double first
// would give the wrong count.
TEST(TruncatedProduct, MatchesExactProductOverManyValues) {
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> anySeconds(0.0, 1e6);
  std::uniform_int_distribution<int64_t> anyWhole(1, int64_t{1} << 40);
  const double rates[] = {
      kPmdCellsPerSecond, kPmdDoubleCellsPerSecond, kMatoGapChunksPerSecond, 3.0, 0.1, 44100.0,
      1.0 / 3.0};
  for (const double rate : rates) {
    for (int32_t tenths = -2000; tenths <= 20000; ++tenths) {
      const double seconds = tenths / 10.0;
      ASSERT_EQ(truncatedProduct(seconds, rate), exactTruncatedProduct(seconds, rate))
          << seconds << " * " << rate;
    }
    for (int32_t whole = 0; whole <= 2000000; whole += 7) {
      ASSERT_EQ(truncatedProduct(whole, rate), exactTruncatedProduct(whole, rate))
          << whole << " * " << rate;
    }
    for (int i = 0; i < 20000; ++i) {
      const double seconds = anySeconds(random);
      ASSERT_EQ(truncatedProduct(seconds, rate), exactTruncatedProduct(seconds, rate))
          << seconds << " * " << rate;
      const double nearWhole = static_cast<double>(anyWhole(random)) / rate;
      double probe = std::nextafter(nearWhole, 0.0);
      for (int step = 0; step < 3; ++step, probe = std::nextafter(probe, 1e300)) {
        ASSERT_EQ(truncatedProduct(probe, rate), exactTruncatedProduct(probe, rate))
            << std::hexfloat << probe << " * " << rate;
      }
    }
  }
}

}  // namespace
