// The pieces both encoders build their sound from: waveforms, leaders, silence, and the
// -vb line of each block.
#pragma once

#include <cstdint>

#include "audio/wav_file.h"
#include "core/job.h"

// The whole part of seconds * rate, computed from the exact product of the two doubles:
// never rounded to double first, so 2.8 s at 1200 per second gives 3359, not 3360.
int64_t truncatedProduct(double seconds, double rate);

// Writes `seconds` nominal seconds of silence, at least one chunk. Returns kOk or -16.
[[nodiscard]] int32_t writeGap(ConversionJob& job, int32_t seconds);

// Writes `seconds` worth of mark waveforms, at least one. Returns kOk or -16.
[[nodiscard]] int32_t writeLeader(ConversionJob& job, double seconds);

// Writes one mark or space waveform as a single item. Returns kOk or -16, reported.
[[nodiscard]] inline int32_t writeWaveform(ConversionJob& job, bool mark) {
  const bool written = mark ? writeSamples(job, job.markWave, job.markLength)
                            : writeSamples(job, job.spaceWave, job.spaceLength);
  return written ? kOk : reportFailure(kErrWriteOutput, job.outputPath);
}

// Encodes the first `count` bytes of job.blockBuffer, one `writeByte` frame each. Returns
// kOk or the first failure's code, already reported.
[[nodiscard]] int32_t writeDataBytes(ConversionJob& job, int32_t count,
                                     int32_t (*writeByte)(ConversionJob&, uint32_t));

// Writes the 8 data bits of `value`, least significant first: a mark for 1, a space for 0.
// Returns kOk or -16, reported.
[[nodiscard]] int32_t writeDataBits(ConversionJob& job, uint32_t value);

// Reads the first part of block `number` into job.blockBuffer (see readBlockPart) and
// prints the block's -vb progress line, except while the export only counts (no output
// open). Returns the part's byte count, or a negative code already reported.
[[nodiscard]] int32_t startBlock(ConversionJob& job, int32_t number, const TapeBlock*& block);
