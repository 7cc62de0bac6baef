// Feeds arbitrary bytes as a tape image through the scan, the listing and every export.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/export.h"
#include "core/job.h"
#include "tape/tape_image.h"

namespace {

// More entries only repeat work already done; a few allow repeats and a bad number.
constexpr int32_t kMaxSelection = 8;

struct Paths {
  std::string input;
  std::string output;
};

// The program reads by name, so every input goes through one file, kept in memory-backed
// storage when the system has it.
const Paths& workPaths() {
  static const Paths paths = [] {
    std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    folder += "/tonbrix-fuzz-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
      std::abort();
    }
    // The core prints progress on every call; the fuzzer's own output is on stderr.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
      std::abort();
    }
    return Paths{folder + "/tape.img", folder + "/out.wav"};
  }();
  return paths;
}

bool writeInput(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  const bool written = size == 0 || std::fwrite(data, size, 1, file) == 1;
  return std::fclose(file) == 0 && written;
}

// The blocks in file order, then one number taken from the data, which may repeat a block
// or name one that does not exist.
void selectBlocks(ConversionJob& job, const uint8_t* data, size_t size) {
  const int32_t count = job.blockCount < kMaxSelection ? job.blockCount : kMaxSelection;
  job.selection.emplace(static_cast<size_t>(count + 1));
  for (int32_t i = 0; i < count; ++i) {
    (*job.selection)[static_cast<size_t>(i)] = i + 1;
  }
  (*job.selection)[static_cast<size_t>(count)] =
      size > 0 ? data[size - 1] % (job.blockCount + 2) : 0;
  job.selectionCount = count + 1;
}

uint32_t readLe32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
         (uint32_t{bytes[3]} << 24);
}

// A finished WAV states its own length in both size fields.
void checkWav(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  uint8_t header[44];
  if (file == nullptr || std::fread(header, sizeof header, 1, file) != 1 ||
      std::fseek(file, 0, SEEK_END) != 0) {
    std::abort();
  }
  const long length = std::ftell(file);
  std::fclose(file);
  if (readLe32(header + 4) != static_cast<uint32_t>(length - 8) ||
      readLe32(header + 40) != static_cast<uint32_t>(length - 44)) {
    std::abort();
  }
}

void exportAs(ConversionJob& job, int32_t useMato, int32_t doubleSpeed) {
  job.useMato = useMato;
  job.doubleSpeed = doubleSpeed;
  job.waveBuffer.reset();
  job.wavHeader.reset();
  job.outputFile.reset();
  if (exportWav(job) == kOk) {
    checkWav(job.outputPath);
  }
  job.outputFile.reset();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Paths& paths = workPaths();
  if (!writeInput(paths.input, data, size)) {
    std::abort();
  }
  ConversionJob job;
  job.inputPath = paths.input.c_str();
  job.outputPath = paths.output.c_str();
  job.verbose = 1;
  job.gapSeconds = 1;
  job.sampleRateIndex = 0;
  job.reversePhase = size > 0 ? data[0] & 1 : 0;
  if (allocZeroed(job.blockBuffer, kBlockBufferSize) != kOk || scanTape(job) != kOk) {
    return 0;
  }
  selectBlocks(job, data, size);
  listTape(job);
  exportAs(job, 0, 0);
  exportAs(job, 0, 1);
  exportAs(job, 1, 0);
  return 0;
}
