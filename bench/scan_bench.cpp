// Scan and listing throughput on generated images of a million blocks: wall time and peak RSS.
//
// Usage: scan_bench [blocks]   (default 1000000)
// Each image is measured in a fresh process (this program run again with --run), so the
// peak RSS it prints belongs to that scan and listing alone, not to the image generation.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tape/tape_image.h"
#include "tape_builder.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peakRssKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Writes `count` copies of `unit` and then `tail`, through a modest buffer so that the
// generator's own memory stays small.
bool writeRepeated(const std::string& path, const tape_builder::Bytes& unit, long count,
                   const tape_builder::Bytes& tail) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  tape_builder::Bytes chunk;
  const size_t unitsPerChunk = (1 << 16) / unit.size() + 1;
  for (size_t i = 0; i < unitsPerChunk; ++i) {
    chunk.insert(chunk.end(), unit.begin(), unit.end());
  }
  bool ok = true;
  for (long written = 0; written < count && ok;) {
    const long units = std::min<long>(static_cast<long>(unitsPerChunk), count - written);
    const size_t bytes = static_cast<size_t>(units) * unit.size();
    ok = std::fwrite(chunk.data(), 1, bytes, file) == bytes;
    written += units;
  }
  ok = ok && std::fwrite(tail.data(), 1, tail.size(), file) == tail.size();
  return std::fclose(file) == 0 && ok;
}

// The measured part, run in its own process: scan, then list every block to /dev/null.
int measure(const char* label, const char* path) {
  std::FILE* report = fdopen(dup(STDOUT_FILENO), "w");
  if (report == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) {
    std::fprintf(stderr, "can't redirect stdout\n");
    return 1;
  }
  const long baseRss = peakRssKilobytes();
  ConversionJob job;
  job.inputPath = path;
  if (allocZeroed(job.blockBuffer, kBlockBufferSize) != kOk) {
    return 1;
  }
  const Clock::time_point scanStart = Clock::now();
  if (scanTape(job) != kOk) {
    std::fprintf(stderr, "scan of %s failed\n", path);
    return 1;
  }
  const double scanMs = millisecondsSince(scanStart);
  const long scanRss = peakRssKilobytes();

  if (allocZeroed(job.selection, static_cast<size_t>(job.blockCount)) != kOk) {
    return 1;
  }
  for (job.selectionCount = 0; job.selectionCount < job.blockCount; ++job.selectionCount) {
    (*job.selection)[static_cast<size_t>(job.selectionCount)] = job.selectionCount + 1;
  }
  const Clock::time_point listStart = Clock::now();
  listTape(job);
  std::fflush(stdout);
  const double listMs = millisecondsSince(listStart);
  const long listRss = peakRssKilobytes();

  const auto bytes = static_cast<double>(std::filesystem::file_size(path));
  std::fprintf(report,
               "%-28s %9d blocks %8.1f MB | scan %8.1f ms (%6.1f ns/block) | list %8.1f ms "
               "(%6.1f ns/block) | peak RSS: start %6.1f MiB, after scan %6.1f MiB, after list "
               "%6.1f MiB\n",
               label, job.blockCount, bytes / 1e6, scanMs, scanMs * 1e6 / job.blockCount, listMs,
               listMs * 1e6 / job.blockCount, static_cast<double>(baseRss) / 1024.0,
               static_cast<double>(scanRss) / 1024.0, static_cast<double>(listRss) / 1024.0);
  return std::fclose(report) == 0 ? 0 : 1;
}

int runMeasurement(const char* self, const char* label, const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    execl(self, self, "--run", label, path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return 1;
  }
  return WEXITSTATUS(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--run") {
    return measure(argv[2], argv[3]);
  }
  const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000000;
  if (argc > 2 || count < 1 || count > 20000000) {
    std::fprintf(stderr, "usage: %s [blocks, 1 to 20000000]\n", argv[0]);
    return 2;
  }
  std::string folder = (std::filesystem::temp_directory_path() / "scan-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    std::fprintf(stderr, "can't create a temporary folder\n");
    return 1;
  }
  using tape_builder::Bytes;
  tape_builder::TapeImage header;
  header.headerBlock(tape_builder::Header(), Bytes{0x42});
  // An empty record cannot end an image (a step needs three bytes), so a one-byte record
  // closes the image of empty records.
  const struct {
    const char* label;
    const char* file;
    Bytes unit;
    Bytes tail;
  } images[] = {
      {"empty records", "empty.img", Bytes{0, 0}, Bytes{1, 0, 0x42}},
      {"one-byte records", "one.img", Bytes{1, 0, 0x42}, Bytes{}},
      {"header blocks (records)", "headers.img", header.bytes(), Bytes{}},
      {"header blocks (bare)", "bare.img",
       tape_builder::TapeImage().bareHeaderBlock(tape_builder::Header(), Bytes{0x42}).bytes(),
       Bytes{}},
  };
  std::printf("scan_bench: %ld blocks per image, images in %s\n", count, folder.c_str());
  int result = 0;
  for (const auto& image : images) {
    const std::string path = folder + "/" + image.file;
    if (!writeRepeated(path, image.unit, count, image.tail)) {
      std::fprintf(stderr, "can't write %s\n", path.c_str());
      result = 1;
      break;
    }
    std::fflush(stdout);
    result = runMeasurement("/proc/self/exe", image.label, path);
    std::filesystem::remove(path);
    if (result != 0) {
      break;
    }
  }
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  return result;
}
