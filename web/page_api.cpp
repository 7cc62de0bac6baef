// The converter's entry point for the page: one run of tonbrix on an image in MEMFS, with
// what the page needs to draw the table and follow playback written out as JSON.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/options.h"
#include "audio/wav_file.h"
#include "audio/waveforms.h"
#include "core/errors.h"
#include "core/job.h"
#include "page_json.h"

namespace {

// The page's arguments arrive as one text, one argument per line, so that JavaScript
// never has to build an array of C strings. An empty line is an empty argument (-blk "").
std::vector<std::string> splitArguments(const char* lines) {
  std::vector<std::string> arguments{"tonbrix"};
  std::string current;
  for (const char* c = lines; *c != '\0'; ++c) {
    if (*c == '\n') {
      arguments.push_back(current);
      current.clear();
    } else {
      current += *c;
    }
  }
  arguments.push_back(current);
  return arguments;
}

std::string describeRun(const ConversionJob& job, int32_t status) {
  std::string json = "{\"status\":" + std::to_string(status) + ",\"output\":";
  const std::string output = job.outputPath != nullptr ? job.outputPath : "";
  appendJsonText(json, output.c_str(), output.size());
  json += ",\"sampleRate\":" + std::to_string(job.sampleRate);
  json += ",\"blocks\":[";
  for (size_t i = 0; i < job.blocks.size(); ++i) {
    json += i == 0 ? "" : ",";
    appendBlockFields(json, job.blocks[i]);
    json += '}';
  }
  json += "],\"selection\":[";
  for (int32_t i = 0; job.selection && i < job.selectionCount; ++i) {
    json += (i == 0 ? "" : ",") + std::to_string((*job.selection)[static_cast<size_t>(i)]);
  }
  json += "],\"entryStarts\":[";
  if (job.entryStarts) {
    for (size_t i = 0; i < job.entryStarts->size(); ++i) {
      json += (i == 0 ? "" : ",") + std::to_string((*job.entryStarts)[i]);
    }
  }
  json += "]}";
  return json;
}

// The command line's run, with the start of every selection entry recorded for playback.
int32_t runJob(const std::vector<const char*>& argv, ConversionJob& job) {
  const int32_t status = parseOptions(static_cast<int>(argv.size()), argv.data(), job);
  if (status != kOk) {
    return status;
  }
  job.entryStarts.emplace();
  return runConversion(job);
}

}  // namespace

extern "C" {

// Runs tonbrix with `argumentLines` (the arguments without the program name, one per line)
// in MEMFS and writes {"status", "output", "sampleRate", "blocks", "selection", "entryStarts"}
// to `resultPath`: the status, whose negation the command line would exit with; the WAV file's
// name and sample rate (0 when no WAV was begun); every block of the image (also those found
// before a failure); the block numbers to play; and, after an export, the byte offset in the
// WAV at which each of them begins. Messages go to stdout and stderr exactly as the command
// line prints them. Returns the status, or the code of a failure to write the result.
EMSCRIPTEN_KEEPALIVE int32_t runTonbrix(const char* argumentLines, const char* resultPath) {
  const std::vector<std::string> arguments = splitArguments(argumentLines);
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  int32_t status = kOk;
  std::string json;
  {
    ConversionJob job;
    status = runJob(argv, job);
    json = describeRun(job, status);
  }
  const int32_t written = writeJson(resultPath, json);
  return written != kOk ? written : status;
}

// Writes to `resultPath` what the page must know of the programs without running them:
// {"sampleRates": the rates of -sr L, M and H, "pmdBitRates": {"normal", "double"}: the PMD 85
// bits per second at each of those rates, "wavHeaderLength": the bytes before the first
// sample, "status": {"writeOutput", "damagedBlocks"}: the codes the page explains further}.
// Returns kOk, kErrOutOfMemory, or kErrOpenOutput / kErrWriteOutput, reported.
EMSCRIPTEN_KEEPALIVE int32_t describeFacts(const char* resultPath) {
  static_assert(std::size(kSampleRates) == 3);
  // A bit is one mark, so its length in samples gives the rate the machine must follow.
  double bitRates[2][3] = {};
  for (int32_t speed = 0; speed < 2; ++speed) {
    for (int32_t rate = 0; rate < 3; ++rate) {
      ConversionJob job;
      job.doubleSpeed = speed;
      job.sampleRateIndex = rate;
      const int32_t status = buildWaveforms(job);
      if (status != kOk) {
        return status;
      }
      bitRates[speed][rate] = static_cast<double>(job.sampleRate) / job.markLength;
    }
  }
  // One format string: concatenating std::to_string results would add kilobytes to the page.
  char json[320];
  std::snprintf(json, sizeof json,
                "{\"sampleRates\":[%d,%d,%d],"
                "\"pmdBitRates\":{\"normal\":[%g,%g,%g],\"double\":[%g,%g,%g]},"
                "\"wavHeaderLength\":%d,"
                "\"status\":{\"writeOutput\":%d,\"damagedBlocks\":%d}}",
                kSampleRates[0], kSampleRates[1], kSampleRates[2], bitRates[0][0], bitRates[0][1],
                bitRates[0][2], bitRates[1][0], bitRates[1][1], bitRates[1][2], kWavHeaderLength,
                kErrWriteOutput, kErrDamagedBlocks);
  return writeJson(resultPath, json);
}

}  // extern "C"
