// Creation and finalization of the WAV file.
#include "audio/wav_file.h"

#include "audio/waveforms.h"
#include "core/bytes.h"

namespace {

// A large stream buffer: waveforms are written a few dozen bytes at a time.
constexpr size_t kOutputBufferSize = size_t{1} << 20;
// A player drains a pipe in real time; a small buffer keeps the -vb lines close to what
// it plays instead of half a minute ahead.
constexpr size_t kPipeBufferSize = 4096;

void writeTag(uint8_t* bytes, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<uint8_t>(tag[i]);
  }
}

// Writes a 32-bit size at `offset` of the header on disk.
int32_t writeSizeField(ConversionJob& job, off_t offset, int64_t value) {
  if (fseeko(job.outputFile.get(), offset, SEEK_SET) != 0) {
    return reportFailure(kErrAccessOutput, job.outputPath);
  }
  uint8_t bytes[4];
  writeLe32(bytes, static_cast<uint32_t>(value));
  if (std::fwrite(bytes, 1, 4, job.outputFile.get()) != 4) {
    return reportFailure(kErrWriteOutput, job.outputPath);
  }
  return kOk;
}

}  // namespace

int32_t buildWavHeader(ConversionJob& job) {
  const int32_t status = allocZeroed(job.wavHeader, kWavHeaderLength);
  if (status != kOk) {
    return status;
  }
  uint8_t* header = job.wavHeader->data();
  const auto rate = static_cast<uint32_t>(job.sampleRate);
  writeTag(header, kRiffTag);
  writeLe32(header + 4, 0);
  writeTag(header + 8, kWaveTag);
  writeTag(header + 12, "fmt ");
  writeLe32(header + 16, 16);
  writeLe16(header + 20, 1);  // PCM
  writeLe16(header + 22, kWavChannels);
  writeLe32(header + 24, rate);
  writeLe32(header + 28, rate);  // one byte per sample frame
  writeLe16(header + 32, 1);
  writeLe16(header + 34, kWavBitsPerSample);
  writeTag(header + 36, "data");
  writeLe32(header + 40, 0);
  return kOk;
}

int32_t prepareWav(ConversionJob& job) {
  std::printf("Creating output WAV file: %s\n", job.outputPath);
  const int32_t status = buildWaveforms(job);
  if (status != kOk) {
    return status;
  }
  return buildWavHeader(job);
}

void setWavLength(ConversionJob& job, int64_t fileLength) {
  writeLe32(job.wavHeader->data() + 4, static_cast<uint32_t>(fileLength - 8));
  writeLe32(job.wavHeader->data() + 40, static_cast<uint32_t>(fileLength - kWavHeaderLength));
}

int32_t openWav(ConversionJob& job) {
  const bool toPipe = job.toStandardOutput != 0;
  // setvbuf without a buffer may keep only the mode: glibc then buffers by the block size
  // (4 KiB), a write call every hundred waveforms. The job owns the buffer instead.
  const int32_t status =
      allocZeroed(job.outputBuffer, toPipe ? kPipeBufferSize : kOutputBufferSize);
  if (status != kOk) {
    return status;
  }
  if (toPipe) {
    job.outputFile = std::move(job.standardOutput);
  } else if (namesSameFile(job.inputPath, job.outputPath)) {
    // Opening for writing truncates: never let that happen to the tape image itself.
    return reportFailure(kErrOpenOutput, job.outputPath);
  } else {
    job.outputFile.reset(std::fopen(job.outputPath, "wb"));
  }
  if (!job.outputFile) {
    return reportFailure(kErrOpenOutput, job.outputPath);
  }
  // Without the large buffer the stream still works, only slower.
  (void)std::setvbuf(job.outputFile.get(), reinterpret_cast<char*>(job.outputBuffer->data()),
                     _IOFBF, job.outputBuffer->size());
  job.outputLength = 0;
  if (!writeSamples(job, job.wavHeader->data(), kWavHeaderLength)) {
    return reportFailure(kErrWriteOutput, job.outputPath);
  }
  if (job.verbose != 0) {
    std::printf(" Sample rate: %d Hz\n", job.sampleRate);
  }
  return kOk;
}

int32_t finalizeWav(ConversionJob& job) {
  std::FILE* file = job.outputFile.get();
  // Samples still in the stream buffer must reach the file before the sizes claim them.
  if (std::fflush(file) != 0) {
    return reportFailure(kErrWriteOutput, job.outputPath);
  }
  // Standard output started with a header that states the counted sizes (setWavLength).
  if (job.toStandardOutput == 0) {
    const int64_t length = ftello(file);
    if (length < 0) {
      return reportFailure(kErrAccessOutput, job.outputPath);
    }
    int32_t status = writeSizeField(job, 4, length - 8);
    if (status != kOk) {
      return status;
    }
    status = writeSizeField(job, 40, length - kWavHeaderLength);
    if (status != kOk) {
      return status;
    }
  }
  // A failed close can mean the last bytes never arrived.
  if (std::fclose(job.outputFile.release()) != 0) {
    return reportFailure(kErrWriteOutput, job.outputPath);
  }
  if (job.verbose != 0) {
    std::fputs("Output WAV file finalized and closed.\n", stdout);
  }
  return kOk;
}
