// Waveform tables for both protocols at every sample rate.
#include "audio/waveforms.h"

#include <algorithm>

namespace {

// Half a PMD 85 bit cell, in samples, at each rate; normal and double speed.
constexpr int32_t kPmdHalfCell[3] = {5, 9, 18};
constexpr int32_t kPmdHalfCellDouble[3] = {3, 5, 9};
// Mato mark and space periods, in samples, at each rate.
constexpr int32_t kMatoMark[3] = {15, 35, 70};
constexpr int32_t kMatoSpace[3] = {9, 21, 42};

}  // namespace

int32_t buildWaveforms(ConversionJob& job) {
  const auto rate = static_cast<size_t>(job.sampleRateIndex);
  job.sampleRate = kSampleRates[rate];
  int32_t bufferLength = 0;
  int32_t secondStart = 0;
  int32_t secondLength = 0;
  int32_t spaceOffset = 0;
  if (job.useMato != 0) {
    job.markLength = kMatoMark[rate];
    job.spaceLength = kMatoSpace[rate];
    // The buffer is the mark; the space is its tail, which starts on the first level too.
    bufferLength = job.markLength;
    secondStart = job.spaceLength;
    secondLength = job.markLength - job.spaceLength;
    spaceOffset = job.markLength - job.spaceLength;
  } else {
    const int32_t half = job.doubleSpeed != 0 ? kPmdHalfCellDouble[rate] : kPmdHalfCell[rate];
    job.markLength = 2 * half;
    job.spaceLength = 2 * half;
    // Three half cells, first-second-first: the mark starts at the first, the space at the
    // second, so both are one full period that differ only in phase.
    bufferLength = 3 * half;
    secondStart = half;
    secondLength = half;
    spaceOffset = half;
  }
  const int32_t status = allocZeroed(job.waveBuffer, static_cast<size_t>(bufferLength));
  if (status != kOk) {
    return status;
  }
  const uint8_t first = job.reversePhase != 0 ? job.lowLevel : job.highLevel;
  const uint8_t second = job.reversePhase != 0 ? job.highLevel : job.lowLevel;
  std::vector<uint8_t>& buffer = *job.waveBuffer;
  std::fill(buffer.begin(), buffer.end(), first);
  std::fill_n(buffer.begin() + secondStart, secondLength, second);
  job.markWave = buffer.data();
  job.spaceWave = buffer.data() + spaceOffset;
  return kOk;
}
