// The export driver and the signal writers that both protocol encoders share.
#pragma once

#include <cstdint>

#include "app/job.h"
#include "audio/wav_file.h"

// PMD 85 leader and silence rates: one nominal second is 1200 bit cells (2400 at double
// speed). Mato silence is counted in chunks of a third of a space period.
inline constexpr double kPmdCellsPerSecond = 1200.0;
inline constexpr double kPmdDoubleCellsPerSecond = 2400.0;
inline constexpr double kMatoGapChunksPerSecond = 3215.4341;

// Prints the protocol line, creates the WAV file, writes one nominal second of silence,
// every selected block in list order, one more second of silence, and finalizes the file.
// Returns kOk, or the code of the first step that failed, already reported; after a
// failure the file is left unfinalized.
[[nodiscard]] int32_t exportWav(ConversionJob& job);

// The whole part of seconds * rate, computed from the exact product of the two doubles:
// never rounded to double first, so 2.8 s at 1200 per second gives 3359, not 3360.
int64_t truncatedProduct(double seconds, double rate);

// Writes `seconds` nominal seconds of silence, at least one chunk. Returns kOk or -16.
[[nodiscard]] int32_t writeGap(ConversionJob& job, int32_t seconds);

// Writes `seconds` worth of mark waveforms, at least one. Returns kOk or -16.
[[nodiscard]] int32_t writeLeader(ConversionJob& job, double seconds);

// Encodes the first `count` bytes of job.blockBuffer in the job's protocol. Returns kOk
// or the first failure's code, already reported.
[[nodiscard]] int32_t writeDataBytes(ConversionJob& job, int32_t count);

// Writes one mark or space waveform as a single item. Returns kOk or -16, reported.
[[nodiscard]] inline int32_t writeWaveform(ConversionJob& job, bool mark) {
  const bool written = mark ? writeSamples(job, job.markWave, job.markLength)
                            : writeSamples(job, job.spaceWave, job.spaceLength);
  return written ? kOk : reportFailure(kErrWriteOutput, job.outputPath);
}

// Prints the -vb progress line of one block; nothing without -vb.
void printBlockProgress(const ConversionJob& job, int32_t number, const TapeBlock& block);
