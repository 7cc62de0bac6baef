// Entry point of tonbrix-decode: reads a recording and writes the tape image it holds.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "core/file_io.h"
#include "decode/decoded_block.h"
#include "decode_app/audio_input.h"
#include "decode_app/decode_options.h"
#include "decode_app/decode_run.h"
#include "decode_app/image_file.h"

namespace {

// Recordings longer than this get a progress line; shorter ones decode in a blink.
constexpr int64_t kProgressSeconds = 60;

// The image must never replace the recording; standard input has no name to compare.
bool namesInput(const DecodeJob& job) {
  return std::strcmp(job.inputPath, kStandardInput) != 0 &&
         namesSameFile(job.inputPath, job.outputPath);
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
  run.progress = isatty(STDERR_FILENO) != 0 &&
                 (input.frameCount < 0 || input.frameCount > kProgressSeconds * input.sampleRate);
  status = decodeRecording(job, input, run);
  if (status != kOk) {
    return status;
  }
  const int32_t ending = decodeEnding(run.session);
  if (ending == kErrNoBlocks) {
    return reportFailure(ending, input.name);
  }
  listDecodeResult(job, run);
  if (job.listOnly == 0) {
    std::vector<uint8_t> image;
    status = buildTapeImage(keptBlocks(run.session), image);
    if (status == kOk) {
      status = writeImageFile(job.outputPath, image);
    }
    if (status != kOk) {
      return status;
    }
  }
  return ending == kOk ? kOk : reportFailure(ending, input.name);
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
