// Tests of the mark and space waveforms for every protocol, rate and speed.
#include "audio/waveforms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/wav_parser.h"

namespace {

using wav_parser::Bytes;
using wav_parser::shape;

struct WaveformRow {
  int32_t useMato;
  int32_t sampleRateIndex;
  int32_t doubleSpeed;
  int32_t sampleRate;
  const char* mark;
  const char* space;
};

// clang-format off
const WaveformRow kRows[] = {
    {0, 0, 0, 11025, "5F 5S", "5S 5F"},
    {0, 0, 1, 11025, "3F 3S", "3S 3F"},
    {0, 1, 0, 22050, "9F 9S", "9S 9F"},
    {0, 1, 1, 22050, "5F 5S", "5S 5F"},
    {0, 2, 0, 44100, "18F 18S", "18S 18F"},
    {0, 2, 1, 44100, "9F 9S", "9S 9F"},
    {1, 0, 0, 11025, "9F 6S", "3F 6S"},
    {1, 1, 0, 22050, "21F 14S", "7F 14S"},
    {1, 2, 0, 44100, "42F 28S", "14F 28S"},
};
// clang-format on

Bytes samplesAt(const uint8_t* start, int32_t length) { return Bytes(start, start + length); }

// Every row at the default amplitude and at both extremes, with and without reversed
// phase: reversal swaps the two levels and nothing else.
TEST(BuildWaveforms, EveryRowGivesTheTabledSamples) {
  const int amplitudes[] = {90, 1, 127};
  for (const WaveformRow& row : kRows) {
    for (const int amplitude : amplitudes) {
      for (const int32_t reversed : {0, 1}) {
        SCOPED_TRACE("mato " + std::to_string(row.useMato) + ", rate " +
                     std::to_string(row.sampleRateIndex) + ", double " +
                     std::to_string(row.doubleSpeed) + ", amplitude " + std::to_string(amplitude) +
                     ", reversed " + std::to_string(reversed));
        ConversionJob job;
        job.useMato = row.useMato;
        job.sampleRateIndex = row.sampleRateIndex;
        job.doubleSpeed = row.doubleSpeed;
        job.reversePhase = reversed;
        job.highLevel = static_cast<uint8_t>(128 + amplitude);
        job.lowLevel = static_cast<uint8_t>(128 - amplitude);
        ASSERT_EQ(buildWaveforms(job), kOk);
        const uint8_t first = reversed != 0 ? job.lowLevel : job.highLevel;
        const uint8_t second = reversed != 0 ? job.highLevel : job.lowLevel;
        const Bytes mark = shape(row.mark, first, second);
        const Bytes space = shape(row.space, first, second);

        EXPECT_EQ(job.sampleRate, row.sampleRate);
        EXPECT_EQ(job.markLength, static_cast<int32_t>(mark.size()));
        EXPECT_EQ(job.spaceLength, static_cast<int32_t>(space.size()));
        EXPECT_EQ(samplesAt(job.markWave, job.markLength), mark);
        EXPECT_EQ(samplesAt(job.spaceWave, job.spaceLength), space);
      }
    }
  }
}

// In the PMD 85 protocol a reversed mark sounds exactly like a normal space.
TEST(BuildWaveforms, ReversedPmdMarkIsTheNormalSpace) {
  for (const int32_t rate : {0, 1, 2}) {
    ConversionJob normal;
    ConversionJob reversed;
    normal.sampleRateIndex = rate;
    reversed.sampleRateIndex = rate;
    reversed.reversePhase = 1;
    ASSERT_EQ(buildWaveforms(normal), kOk);
    ASSERT_EQ(buildWaveforms(reversed), kOk);
    EXPECT_EQ(samplesAt(reversed.markWave, reversed.markLength),
              samplesAt(normal.spaceWave, normal.spaceLength));
    EXPECT_EQ(samplesAt(reversed.spaceWave, reversed.spaceLength),
              samplesAt(normal.markWave, normal.markLength));
  }
}

}  // namespace
