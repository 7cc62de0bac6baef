// The converter's entry point for the page: one run of tonbrix on an image in MEMFS, with
// what the page needs to draw the table and follow playback written out as JSON.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/options.h"
#include "audio/wav_file.h"
#include "audio/waveforms.h"
#include "core/errors.h"
#include "core/job.h"
#include "decode/take_merge.h"
#include "decode/tape_protocol.h"
#include "page_json.h"
#include "page_facts.h"
#include "tape/tape_image.h"

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

int32_t describeRun(const ConversionJob& job, int32_t status, std::string& text) {
  JsonWriter json{text};
  openJson(json, nullptr, "{", true);
  writeJsonInteger(json, "status", status);
  // The name as the page has always read it: byte by byte.
  writeJsonString(json, "output", job.outputPath != nullptr ? job.outputPath : "", true);
  writeJsonInteger(json, "sampleRate", job.sampleRate);
  openJson(json, "blocks", "[");
  for (const TapeBlock& block : job.blocks) {
    openBlockObject(json, block);
    closeJson(json, "}");
  }
  closeJson(json, "]");
  openJson(json, "selection", "[");
  for (int32_t i = 0; job.selection && i < job.selectionCount; ++i) {
    writeJsonInteger(json, nullptr, (*job.selection)[static_cast<size_t>(i)]);
  }
  closeJson(json, "]");
  openJson(json, "entryStarts", "[");
  if (job.entryStarts) {
    for (const int64_t start : *job.entryStarts) {
      writeJsonInteger(json, nullptr, start);
    }
  }
  closeJson(json, "]");
  closeJson(json, "}");
  return json.status;
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

struct NamedValue {
  const char* name;
  int64_t value;
};

// Writes the object `key` of `values`, each a member.
void writeNamedValues(JsonWriter& json, const char* key, std::initializer_list<NamedValue> values) {
  openJson(json, key, "{");
  for (const NamedValue& value : values) {
    writeJsonInteger(json, value.name, value.value);
  }
  closeJson(json, "}");
}

// The decoder's facts: "maxChannels" (of a recording, the first that the decoder reads),
// "maxFileBytes" (of any file the page holds), "wavForms" (the tags a WAV file starts
// with) and "waveTag" (the one at byte 8), "marks" ({"mark", "meaning"} of each fault
// mark, in the listing's order), "protocols" and "phases" (the values of the decoder's
// choices, by the names the page gives its options), and "notedDecisions" (the merge
// decisions that the listing explains below a whole block).
void writeDecodeFacts(JsonWriter& json) {
  writeJsonInteger(json, "maxChannels", kMaxPageChannels);
  writeJsonInteger(json, "maxFileBytes", kMaxPageFileBytes);
  openJson(json, "wavForms", "[");
  writeJsonString(json, nullptr, kRiffTag);
  writeJsonString(json, nullptr, kRf64Tag);
  closeJson(json, "]");
  writeJsonString(json, "waveTag", kWaveTag);
  openJson(json, "marks", "[");
  for (int32_t m = 0; m < kFaultMarkCount; ++m) {
    const FaultMarkText& words = describeFaultMark(static_cast<FaultMark>(m));
    openJson(json, nullptr, "{");
    writeJsonString(json, "mark", words.mark);
    writeJsonString(json, "meaning", words.meaning);
    closeJson(json, "}");
  }
  closeJson(json, "]");
  writeNamedValues(json, "protocols",
                   {{"auto", kProtocolAuto}, {"pmd", kProtocolPmd}, {"mato", kProtocolMato}});
  writeNamedValues(json, "phases",
                   {{"auto", kPhaseAuto}, {"normal", kPhaseNormal}, {"reversed", kPhaseReversed}});
  openJson(json, "notedDecisions", "[");
  for (int32_t d = kMergeSingle; d <= kMergeDamaged; ++d) {
    const auto decision = static_cast<MergeDecision>(d);
    if (isNotedDecision(decision)) {
      writeJsonString(json, nullptr, mergeDecisionName(decision));
    }
  }
  closeJson(json, "]");
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
  int32_t written = kOk;
  {
    ConversionJob job;
    status = runJob(argv, job);
    written = describeRun(job, status, json);
  }
  if (written == kOk) {
    written = writeJson(resultPath, json);
  }
  return written != kOk ? written : status;
}

// Writes to `resultPath` what the page must know of the programs without running them:
// {"sampleRates": the rates of -sr L, M and H, "pmdBitRates": {"normal", "double"}: the PMD 85
// bits per second at each of those rates, "wavHeaderLength": the bytes before the first
// sample, "wav": {"channels", "bits", "silence"} of the samples after it, "status":
// {"writeOutput", "damagedBlocks", "foreignTake"}: the codes the page explains further, and the facts of
// writeDecodeFacts}. Returns kOk, kErrOutOfMemory, or kErrOpenOutput / kErrWriteOutput,
// reported.
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
  std::string text;
  JsonWriter json{text};
  openJson(json, nullptr, "{", true);
  openJson(json, "sampleRates", "[");
  for (const int32_t rate : kSampleRates) {
    writeJsonInteger(json, nullptr, rate);
  }
  closeJson(json, "]");
  openJson(json, "pmdBitRates", "{");
  for (int32_t speed = 0; speed < 2; ++speed) {
    openJson(json, speed == 0 ? "normal" : "double", "[");
    for (const double rate : bitRates[speed]) {
      writeJsonNumber(json, nullptr, rate, 6);
    }
    closeJson(json, "]");
  }
  closeJson(json, "}");
  writeJsonInteger(json, "wavHeaderLength", kWavHeaderLength);
  writeNamedValues(json, "wav",
                   {{"channels", kWavChannels}, {"bits", kWavBitsPerSample}, {"silence", kWavSilence}});
  writeNamedValues(json, "status",
                   {{"writeOutput", kErrWriteOutput},
                    {"damagedBlocks", kErrDamagedBlocks},
                    {"foreignTake", kErrForeignTake}});
  writeDecodeFacts(json);
  closeJson(json, "}");
  return json.status == kOk ? writeJson(resultPath, text) : json.status;
}

}  // extern "C"
