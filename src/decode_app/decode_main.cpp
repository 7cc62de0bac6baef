// Entry point of tonbrix-decode: reads recordings of one tape (one or several takes) and
// writes the tape image they hold.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/file_io.h"
#include "core/memory.h"
#include "decode/decode_listing.h"
#include "decode/decode_report.h"
#include "decode_app/audio_input.h"
#include "decode_app/decode_options.h"
#include "decode_app/decode_run.h"
#include "decode_app/image_file.h"

namespace {

// Recordings longer than this get a progress line; shorter ones decode in a blink.
constexpr int64_t kProgressSeconds = 60;

// The files the run writes, made before the first sample is read.
struct DecodeOutputs {
  OutputFile image;
  OutputFile report;
};

// With -q nothing that the program prints on stdout is seen: descriptor 1 becomes
// /dev/null. Errors still reach standard error. Should that fail, the lines just show.
void silenceStandardOutput() {
  const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (sink >= 0) {
    (void)dup2(sink, STDOUT_FILENO);
    close(sink);
  }
}

// An output may never replace a recording it is made from; standard input has no name
// to compare.
int32_t refuseInputAsOutput(const DecodeJob& job, const char* output) {
  for (const char* input : job.inputPaths) {
    if (!isStandardStream(input) && namesSameFile(input, output)) {
      return reportFailure(kErrOpenOutput, output, {}, "it is a recording to be read");
    }
  }
  return kOk;
}

// Refuses what standard output cannot take: both files, or the image on a terminal.
int32_t refuseStandardOutput(const DecodeJob& job, const StandardOutputUse& use,
                             const FileHandle& standardOutput) {
  if (use.image && use.report) {
    return reportFailure(kErrBadCombination, {}, {},
                         "the image and the report cannot both go to standard output");
  }
  if (use.image && standardOutput && isatty(fileno(standardOutput.get())) != 0) {
    return reportFailure(kErrTerminalOutput, job.outputPath);
  }
  return kOk;
}

// Refuses outputs that would overwrite an input or each other, then creates them.
int32_t prepareOutputs(const DecodeJob& job, const StandardOutputUse& use,
                       FileHandle standardOutput, DecodeOutputs& outputs) {
  const bool image = job.listOnly == 0;
  const char* report = job.reportPath;
  int32_t status = refuseStandardOutput(job, use, standardOutput);
  if (status == kOk && image && !use.image) {
    status = refuseInputAsOutput(job, job.outputPath);
  }
  if (status == kOk && report != nullptr && !use.report) {
    status = refuseInputAsOutput(job, report);
  }
  if (status == kOk && image && report != nullptr && !use.report && !use.image &&
      (job.outputPath == std::string(report) || namesSameFile(job.outputPath, report))) {
    status = reportFailure(kErrOpenOutput, report, {}, "it is the tape image");
  }
  if (status == kOk && image) {
    status = createOutputFile(job.outputPath, job.force != 0,
                              use.image ? std::move(standardOutput) : FileHandle(), outputs.image);
  }
  if (status == kOk && report != nullptr) {
    status = createOutputFile(report, job.force != 0,
                              use.report ? std::move(standardOutput) : FileHandle(), outputs.report);
  }
  return status;
}

// Decodes take `take` as the next take of `cassette`, with its lines of the listing. One
// take alone ends here when it holds no block; of several, the others may.
int32_t decodeTake(const DecodeJob& job, size_t take, Cassette& cassette) {
  const char* path = job.inputPaths[take];
  const size_t takeCount = job.inputPaths.size();
  DecodeRun run;
  run.live = isStandardStream(path);
  if (run.live) {
    // Ctrl-C at the deck stops the recorder in front of the pipe; the decoder then sees
    // the end of its input and still writes what it found.
    (void)std::signal(SIGINT, SIG_IGN);
  }
  if (takeCount > 1) {
    std::printf("%sReading audio file %zu of %zu: %s\n", take > 0 ? "\n" : "", take + 1,
                takeCount, path);
  } else {
    std::printf("Reading audio file: %s\n", path);
  }
  AudioInput input;
  int32_t status = openAudioInput(input, path);
  if (status != kOk) {
    return status;
  }
  std::printf(" Format: %d Hz, %d channel%s, %s\n", input.sampleRate, input.channelCount,
              input.channelCount == 1 ? "" : "s", input.formatName.c_str());
  run.progress = job.quiet == 0 && isatty(STDERR_FILENO) != 0 &&
                 (input.frameCount < 0 || input.frameCount > kProgressSeconds * input.sampleRate);
  status = decodeRecording(job, input, cassette, run);
  if (run.live) {
    (void)std::signal(SIGINT, SIG_DFL);  // the takes after it may be stopped as usual
  }
  if (status != kOk) {
    return status;
  }
  if (takeEnding(cassette) == kErrNoBlocks) {
    return reportFailure(kErrNoBlocks, input.name);
  }
  return listDecodeResult(job, cassette, run);
}

// Writes the image and the report, and only once both are written puts them in place:
// a failed write leaves both as they were.
int32_t writeOutputs(const DecodeJob& job, const Cassette& cassette, DecodeOutputs& outputs) {
  const bool image = job.listOnly == 0;
  const bool report = job.reportPath != nullptr;
  std::vector<uint8_t> bytes;
  int32_t status = image ? buildTapeImage(cassette.merge.blocks, bytes) : kOk;
  if (status == kOk && image) {
    status = writeOutputFile(outputs.image, "Writing tape image", bytes.data(), bytes.size());
  }
  std::string text;
  if (status == kOk && report) {
    status = buildDecodeReport(cassette, image ? job.outputPath : nullptr, text);
  }
  if (status == kOk && report) {
    status = writeOutputFile(outputs.report, "Writing report",
                             reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  if (status == kOk && image) {
    status = placeOutputFile(outputs.image);
  }
  return status == kOk && report ? placeOutputFile(outputs.report) : status;
}

int32_t runDecode(const DecodeJob& job, const StandardOutputUse& use, FileHandle standardOutput) {
  DecodeOutputs outputs;
  int32_t status = prepareOutputs(job, use, std::move(standardOutput), outputs);
  const size_t takeCount = job.inputPaths.size();
  Cassette cassette;
  cassette.announcedTakes = static_cast<int32_t>(takeCount);
  cassette.mergeForeign = job.mixTakes != 0;
  for (size_t take = 0; take < takeCount && status == kOk; ++take) {
    status = decodeTake(job, take, cassette);
  }
  if (status == kOk) {
    status = mergeCassette(cassette);
  }
  if (status != kOk) {
    return status;
  }
  if (cassette.ending == kErrNoBlocks) {
    return reportFailure(cassette.ending, nameTakes(cassette));
  }
  if (isOneOfSeveral(cassette)) {
    std::string text = "\n";
    status = printText(listMergedBlocks(text, cassette.merge, static_cast<int32_t>(takeCount),
                                        job.verbose),
                       text);
  }
  if (status == kOk) {
    status = writeOutputs(job, cassette, outputs);
  }
  if (status != kOk) {
    return status;
  }
  return reportEnding(cassette);
}

}  // namespace

int main(int argc, char** argv) {
  const StandardOutputUse use = findStandardOutputUse(argc, argv);
  FileHandle standardOutput;
  if (use.image || use.report) {
    standardOutput = takeStandardOutput();
  }
  if (use.quiet) {
    silenceStandardOutput();
  }
  printDecodeBanner();
  int32_t status = kShowUsage;
  if (argc > 1) {
    DecodeJob job;
    status = parseDecodeOptions(argc, argv, job);
    if (status == kOk) {
      status = runDecode(job, use, std::move(standardOutput));
    }
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
