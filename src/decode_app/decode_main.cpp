// Entry point of tonbrix-decode: reads a recording and writes the tape image it holds.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/memory.h"
#include "decode/decode_job.h"
#include "decode/stream_decoder.h"
#include "decode/tape_writer.h"
#include "decode_app/audio_input.h"
#include "decode_app/decode_options.h"

namespace {

// Recordings longer than this get a progress line; shorter ones decode in a blink.
constexpr int64_t kProgressSeconds = 60;
constexpr double kProgressInterval = 0.25;  // seconds between progress lines

// The channels being decoded and what the listing has shown of them so far.
struct DecodeRun {
  std::vector<StreamDecoder> decoders;
  std::vector<int32_t> channels;  // the file's channel of each decoder
  std::vector<float> samples;     // one channel of the current chunk
  int32_t channelCount = 0;       // of the recording
  bool live = false;              // rows are printed while the tape plays
  bool progress = false;
  size_t rowsShown = 0;
  size_t rowsFrom = 0;  // the decoder whose rows were shown
  bool rowsMixed = false;
  std::chrono::steady_clock::time_point lastProgress;
};

bool namesInput(const DecodeJob& job) {
  return std::strcmp(job.inputPath, kStandardInput) != 0 &&
         namesSameFile(job.inputPath, job.outputPath);
}

int32_t chooseChannels(const DecodeJob& job, const AudioInput& input, DecodeRun& run) {
  if (job.channelByNumber != 0 && job.channel >= input.channelCount) {
    return reportFailure(kErrBadValue, job.channelText, "-ch");
  }
  run.channelCount = input.channelCount;
  if (input.channelCount == 1) {
    run.channels = {0};
  } else if (job.channel != kChannelAuto) {
    run.channels = {job.channel < input.channelCount ? job.channel : input.channelCount - 1};
  } else {
    for (int32_t c = 0; c < input.channelCount; ++c) {
      const int32_t status = appendItem(run.channels, c);
      if (status != kOk) {
        return status;
      }
    }
  }
  int32_t status = resizeItems(run.decoders, run.channels.size());
  for (StreamDecoder& decoder : run.decoders) {
    if (status == kOk) {
      status = startStreamDecoder(decoder, input.sampleRate, job.protocol, job.phase);
    }
  }
  if (status == kOk && input.channelCount > 1) {
    status = resizeItems(run.samples, input.chunk.size() / static_cast<size_t>(input.channelCount));
  }
  return status;
}

void clearProgress(const DecodeRun& run) {
  if (run.progress) {
    std::fputs("\r                                        \r", stderr);
  }
}

void showProgress(DecodeRun& run, const AudioInput& input, bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!run.progress ||
      (!force && std::chrono::duration<double>(now - run.lastProgress).count() < kProgressInterval)) {
    return;
  }
  run.lastProgress = now;
  size_t blocks = 0;
  for (const StreamDecoder& decoder : run.decoders) {
    blocks = decoder.blocks.size() > blocks ? decoder.blocks.size() : blocks;
  }
  if (input.frameCount > 0) {
    std::fprintf(stderr, "\rDecoding: %3d %%, %zu blocks", static_cast<int>(input.framesRead * 100 / input.frameCount), blocks);
  } else {
    std::fprintf(stderr, "\rDecoding: %lld s, %zu blocks",
                 static_cast<long long>(input.framesRead / input.sampleRate), blocks);
  }
  (void)std::fflush(stderr);  // the line is only a hint; a failed flush loses nothing
}

// Prints the rows of blocks that ended since the last call, from the channel that has
// found the most so far: the person at the deck sees each block as it ends.
void showNewRows(DecodeRun& run, const DecodeJob& job) {
  size_t lead = run.rowsFrom;
  for (size_t d = 0; d < run.decoders.size(); ++d) {
    if (run.decoders[d].blocks.size() > run.decoders[lead].blocks.size()) {
      lead = d;
    }
  }
  const std::vector<DecodedBlock>& blocks = run.decoders[lead].blocks;
  if (blocks.size() <= run.rowsShown) {
    return;
  }
  clearProgress(run);
  run.rowsMixed = run.rowsMixed || (lead != run.rowsFrom && run.rowsShown > 0);
  run.rowsFrom = lead;
  for (; run.rowsShown < blocks.size(); ++run.rowsShown) {
    printDecodedRow(blocks[run.rowsShown], static_cast<int32_t>(run.rowsShown + 1), job.verbose);
  }
  (void)std::fflush(stdout);
}

int32_t feedChunk(DecodeRun& run, const AudioInput& input, size_t frames) {
  const auto channelCount = static_cast<size_t>(input.channelCount);
  for (size_t d = 0; d < run.decoders.size(); ++d) {
    const float* samples = input.chunk.data();
    if (channelCount > 1) {
      const auto channel = static_cast<size_t>(run.channels[d]);
      for (size_t f = 0; f < frames; ++f) {
        run.samples[f] = input.chunk[f * channelCount + channel];
      }
      samples = run.samples.data();
    }
    const int32_t status = feedSamples(run.decoders[d], samples, frames);
    if (status != kOk) {
      return status;
    }
  }
  return kOk;
}

// Reads the recording to its end through every chosen channel's decoder.
int32_t decodeInput(const DecodeJob& job, AudioInput& input, DecodeRun& run) {
  if (run.live) {
    std::fputs("\n", stdout);
    printDecodedTableHead();
    (void)std::fflush(stdout);
  }
  while (true) {
    size_t frames = 0;
    int32_t status = readAudioChunk(input, frames);
    if (status == kOk && frames > 0) {
      status = feedChunk(run, input, frames);
    }
    if (status != kOk) {
      clearProgress(run);
      return status;
    }
    if (frames == 0) {
      break;
    }
    if (run.live) {
      showNewRows(run, job);
    }
    showProgress(run, input, false);
  }
  for (StreamDecoder& decoder : run.decoders) {
    const int32_t status = finishStreamDecoder(decoder);
    if (status != kOk) {
      clearProgress(run);
      return status;
    }
  }
  if (run.live) {
    showNewRows(run, job);
  }
  clearProgress(run);
  if (input.framesRead == 0) {
    return reportFailure(kErrBadWav, input.name, "no sample frames");
  }
  if (endedEarly(input)) {
    std::fprintf(stderr, "Recording '%s' ended early: decoded the %lld sample frames it holds.\n\n",
                 input.name.c_str(), static_cast<long long>(input.framesRead));
  }
  return kOk;
}

// Lists the blocks of the best channel. A live listing already shows them, unless the
// best channel turned out to be another than the one shown.
void listResult(const DecodeJob& job, const DecodeRun& run, size_t best) {
  const std::vector<DecodedBlock>& blocks = run.decoders[best].blocks;
  const int32_t channel = run.channels[best];
  const std::string name = run.channels.size() == 2 ? (channel == 0 ? "left" : "right")
                                                    : std::to_string(channel + 1);
  if (run.channels.size() == 2) {
    std::printf(" Channel: %s (better of two)\n", name.c_str());
  } else if (run.channels.size() > 2) {
    std::printf(" Channel: %s (best of %zu)\n", name.c_str(), run.channels.size());
  } else if (job.channel != kChannelAuto && run.channelCount > 1) {
    std::printf(" Channel: %s\n", job.channelByNumber != 0 || run.channelCount > 2
                                       ? std::to_string(channel + 1).c_str()
                                       : (channel == 0 ? "left" : "right"));
  }
  if (!run.live || run.rowsMixed || run.rowsFrom != best || run.rowsShown != blocks.size()) {
    if (run.live) {
      std::fputs("\n", stdout);
    }
    listDecodedBlocks(blocks, job.verbose);
    return;
  }
  std::printf(" Blocks: %d\n", static_cast<int32_t>(blocks.size()));
  printDecodedLegend(blocks);
}

// Removes a temporary file unless it was renamed into place.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() {
    if (!path.empty()) {
      (void)std::remove(path.c_str());  // nothing more can be done about a failure here
    }
  }
};

// Writes the image beside its target and renames it into place, so that a failure never
// leaves half an image or destroys an earlier one. A target that exists but is no
// regular file (a device, a pipe) is written directly, since renaming would replace it.
int32_t writeImage(const char* path, const std::vector<DecodedBlock>& blocks) {
  std::error_code error;
  const std::filesystem::file_status target = std::filesystem::status(path, error);
  if (std::filesystem::exists(target) && !std::filesystem::is_regular_file(target)) {
    return writeTapeImage(path, blocks);
  }
  // Through a link, the file it names is replaced, not the link.
  const std::filesystem::path real = std::filesystem::weakly_canonical(path, error);
  const std::string finalPath = error ? std::string(path) : real.string();
  std::printf("Writing tape image: %s\n", path);
  TemporaryFile temporary{finalPath + ".XXXXXX"};
  const int descriptor = mkstemp(temporary.path.data());
  if (descriptor < 0) {
    temporary.path.clear();
    return reportFailure(kErrOpenOutput, path);
  }
  const mode_t mask = umask(0);
  umask(mask);
  FileHandle file(fdopen(descriptor, "wb"));
  if (!file || fchmod(descriptor, 0666 & ~mask) != 0) {
    if (!file) {
      close(descriptor);
    }
    return reportFailure(kErrOpenOutput, path);
  }
  const int32_t status = writeTapeRecords(file.get(), path, blocks);
  if (status != kOk) {
    return status;
  }
  if (std::fclose(file.release()) != 0) {
    return reportFailure(kErrWriteOutput, path);
  }
  if (std::rename(temporary.path.c_str(), finalPath.c_str()) != 0) {
    return reportFailure(kErrWriteOutput, path);
  }
  temporary.path.clear();
  return kOk;
}

int32_t runDecode(int argc, const char* const* argv, DecodeJob& job) {
  int32_t status = parseDecodeOptions(argc, argv, job);
  if (status != kOk) {
    return status;
  }
  if (job.listOnly == 0 && namesInput(job)) {
    return reportFailure(kErrOpenOutput, job.outputPath);
  }
  DecodeRun run;
  run.live = std::strcmp(job.inputPath, kStandardInput) == 0;
  if (run.live) {
    // Ctrl-C at the deck stops the recorder in front of the pipe; the decoder then sees
    // the end of its input and still writes what it found.
    (void)std::signal(SIGINT, SIG_IGN);
  }
  std::printf("Reading audio file: %s\n", job.inputPath);
  AudioInput input;
  status = openAudioInput(input, job.inputPath);
  if (status != kOk) {
    return status;
  }
  std::printf(" Format: %d Hz, %d channel%s, %s\n", input.sampleRate, input.channelCount,
              input.channelCount == 1 ? "" : "s", input.formatName.c_str());
  status = chooseChannels(job, input, run);
  if (status != kOk) {
    return status;
  }
  run.progress = isatty(STDERR_FILENO) != 0 &&
                 (input.frameCount < 0 || input.frameCount > kProgressSeconds * input.sampleRate);
  status = decodeInput(job, input, run);
  if (status != kOk) {
    return status;
  }
  size_t best = 0;
  for (size_t d = 1; d < run.decoders.size(); ++d) {
    if (scoreBlocks(run.decoders[d].blocks) > scoreBlocks(run.decoders[best].blocks)) {
      best = d;
    }
  }
  const std::vector<DecodedBlock>& blocks = run.decoders[best].blocks;
  if (blocks.empty()) {
    return reportFailure(kErrNoBlocks, input.name);
  }
  listResult(job, run, best);
  if (job.listOnly == 0) {
    status = writeImage(job.outputPath, blocks);
    if (status != kOk) {
      return status;
    }
  }
  return countDamagedBlocks(blocks) > 0 ? reportFailure(kErrDamagedBlocks, input.name)
                                        : kOk;
}

}  // namespace

int main(int argc, char** argv) {
  printDecodeBanner();
  int32_t status = kShowUsage;
  if (argc > 1) {
    DecodeJob job;
    status = runDecode(argc, argv, job);
  }
  if (status == kShowUsage) {
    printDecodeUsage();
    status = kOk;
  } else if (status == kShowVersion) {
    status = kOk;
  } else if (status == kOk) {
    std::fputs("\nAll done.\n", stdout);
  }
  return -status;
}
