// Silence, leaders and the per-block progress line.
#include "audio/signal.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "tape/tape_image.h"

namespace {

// Writes `run` `count` times (at least once) as single items. A run that could never fit
// in the file's size fields fails at once instead of after gigabytes of silence.
int32_t writeRepeated(ConversionJob& job, const uint8_t* run, int32_t length, int64_t count) {
  if (count > 1 && count > (kMaxWavFileLength - job.outputLength) / length) {
    return reportFailure(kErrWriteOutput, job.outputPath);
  }
  int64_t written = 0;
  do {
    if (!writeSamples(job, run, length)) {
      return reportFailure(kErrWriteOutput, job.outputPath);
    }
  } while (++written < count);
  return kOk;
}

}  // namespace

int64_t truncatedProduct(double seconds, double rate) {
  const double product = seconds * rate;
  if (!(std::fabs(product) < 0x1p62)) {
    return product > 0 ? std::numeric_limits<int64_t>::max() : 0;
  }
  // fma gives the rounding error of the product exactly. A product that is not a whole
  // number truncates like the exact value; a whole one lies one below when the exact
  // value was rounded up onto it.
  const double error = std::fma(seconds, rate, -product);
  double whole = std::trunc(product);
  if (whole == product) {
    if (product > 0 && error < 0) {
      whole -= 1;
    } else if (product < 0 && error > 0) {
      whole += 1;
    }
  }
  return static_cast<int64_t>(whole);
}

int32_t writeGap(ConversionJob& job, int32_t seconds) {
  std::array<uint8_t, 64> chunk;
  chunk.fill(128);
  int32_t chunkLength = job.spaceLength;
  int64_t count = 0;
  if (job.useMato != 0) {
    chunkLength = job.spaceLength / 3;
    count = truncatedProduct(seconds, kMatoGapChunksPerSecond);
  } else {
    // PMD 85 silence is counted in space-long chunks, one per bit cell.
    const auto cellsPerSecond =
        static_cast<int64_t>(job.doubleSpeed != 0 ? kPmdDoubleCellsPerSecond : kPmdCellsPerSecond);
    count = int64_t{seconds} * cellsPerSecond;
  }
  return writeRepeated(job, chunk.data(), chunkLength, count);
}

int32_t writeLeader(ConversionJob& job, double seconds) {
  const double rate = job.doubleSpeed != 0 ? kPmdDoubleCellsPerSecond : kPmdCellsPerSecond;
  return writeRepeated(job, job.markWave, job.markLength, truncatedProduct(seconds, rate));
}

int32_t writeDataBytes(ConversionJob& job, int32_t count,
                       int32_t (*writeByte)(ConversionJob&, uint32_t)) {
  const uint8_t* bytes = job.blockBuffer->data();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t status = writeByte(job, bytes[i]);
    if (status != kOk) {
      return status;
    }
  }
  return kOk;
}

int32_t writeDataBits(ConversionJob& job, uint32_t value) {
  int32_t status = kOk;
  for (int bit = 0; bit < 8 && status == kOk; ++bit) {
    status = writeWaveform(job, ((value >> bit) & 1u) != 0);
  }
  return status;
}

int32_t startBlock(ConversionJob& job, int32_t number, const TapeBlock*& block) {
  const int32_t count = readBlockPart(job, number, 1, block);
  // With no output open the export only counts its samples: that pass stays silent.
  if (count < 0 || job.verbose == 0 || !job.outputFile) {
    return count;
  }
  if (block->fileType == 0) {
    std::printf("Exporting headerless block %d (%5d bytes)\n", number, block->length);
    return count;
  }
  char name[kHeaderNameLength + 1] = {};
  std::memcpy(name, block->name, sizeof block->name);
  std::printf("Exporting block %d: %02d/%c %8.8s\n", number, block->fileNumber, block->fileType,
              name);
  return count;
}
