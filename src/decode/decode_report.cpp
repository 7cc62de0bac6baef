// The JSON report of a decode, written piece by piece into one text.
#include "decode/decode_report.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "decode/tape_protocol.h"
#include "tape/tape_image.h"
#include "version.h"

namespace {

void writeMarks(JsonWriter& json, const TapeBlock& info) {
  openJson(json, "marks", "[", true);
  for (int32_t m = 0; m < kFaultMarkCount; ++m) {
    const auto mark = static_cast<FaultMark>(m);
    if (hasFaultMark(info, mark)) {
      writeJsonString(json, nullptr, describeFaultMark(mark).mark);
    }
  }
  closeJson(json, "]");
}

// The runs of bytes of `block` that were not read for certain, and of those missing from
// a short body: where each starts in its part and in the recording.
void addDoubtfulBytes(JsonWriter& json, const DecodedBlock& block) {
  std::vector<DoubtfulRun> runs;
  const int32_t status = findDoubtfulRuns(block, runs);
  json.status = json.status == kOk ? status : json.status;
  openJson(json, "doubtful", "[");
  for (const DoubtfulRun& run : runs) {
    openJson(json, nullptr, "{", true);
    writeJsonString(json, "part", run.inHeader ? "header" : "body");
    writeJsonInteger(json, "position", static_cast<int64_t>(run.position));
    writeJsonInteger(json, "count", static_cast<int64_t>(run.count));
    writeJsonString(json, "state", doubtName(run.doubt));
    writeJsonNumber(json, "startSeconds", run.seconds, 3);
    closeJson(json, "}");
  }
  closeJson(json, "]");
}

// How a take stands to the others: "anotherTape" with the blocks (numbered in that take)
// whose certain bytes contradict the others', and whether it was "merged" all the same;
// "sharesNoBlock" where it shares none with them.
void addTakeStanding(JsonWriter& json, const TapeMerge& merge, int32_t take) {
  const auto foreign = std::find_if(merge.foreign.begin(), merge.foreign.end(),
                                    [take](const ForeignTake& f) { return f.take == take; });
  writeJsonBoolean(json, "anotherTape", foreign != merge.foreign.end());
  if (foreign != merge.foreign.end()) {
    openJson(json, "contradictingBlocks", "[", true);
    for (const int32_t block : foreign->blocks) {
      writeJsonInteger(json, nullptr, block);
    }
    closeJson(json, "]");
    writeJsonBoolean(json, "merged", merge.foreignMerged);
  }
  writeJsonBoolean(json, "sharesNoBlock",
                   std::find(merge.lone.begin(), merge.lone.end(), take) != merge.lone.end());
}

// How a take read one block, and where it lies in that take's recording.
void addCopy(JsonWriter& json, const TakeFacts& facts, int32_t take, int32_t index,
             const DecodedBlock& copy) {
  openJson(json, nullptr, "{");
  writeJsonInteger(json, "take", take + 1);
  writeJsonInteger(json, "block", index + 1);
  writeJsonNumber(json, "startSeconds", copy.startSeconds, 3);
  writeJsonNumber(json, "endSeconds", copy.endSeconds, 3);
  writeJsonInteger(json, "sampleOffset", std::llround(copy.startSeconds * facts.sampleRate));
  writeJsonString(json, "protocol", protocolName(copy.protocol));
  writeJsonString(json, "phase", copy.phase == kPhaseReversed ? "reversed" : "normal");
  writeJsonNumber(json, "cellRate", copy.cellRate, 1);
  writeJsonNumber(json, "speedDeviationPercent", speedDeviationPercent(copy), 2);
  writeJsonNumber(json, "cellSpreadPercent", copy.cellSpread, 2);
  writeJsonNumber(json, "swing", copy.swing, 3);
  // Full scale swings by 2, from -1 to 1.
  writeJsonNumber(json, "levelDbfs", copy.swing > 0 ? 20 * std::log10(copy.swing / 2) : -INFINITY, 1);
  writeJsonInteger(json, "frameErrors", copy.frameErrors);
  writeMarks(json, copy.info);
  int32_t first = -1;
  writeJsonInteger(json, "unknownBytes", countLostBytes(copy, first));
  addDoubtfulBytes(json, copy);
  closeJson(json, "}");
}

void addBlock(JsonWriter& json, const std::vector<TakeFacts>& facts,
              const Takes& takes, const DecodedBlock& block,
              const BlockOrigin& origin, size_t number) {
  openJson(json, nullptr, "{");
  writeJsonInteger(json, "block", static_cast<int64_t>(number));
  writeBlockFields(json, block.info, !block.headerPart.empty());
  writeJsonBoolean(json, "whole", !isDamaged(block));
  writeJsonString(json, "decision", mergeDecisionName(origin.decision));
  openJson(json, "sources", "[", true);
  for (const int32_t take : origin.sources) {
    writeJsonInteger(json, nullptr, take + 1);
  }
  closeJson(json, "]");
  writeJsonInteger(json, "take", origin.take + 1);
  writeJsonInteger(json, "unknownBytes", origin.unknownBytes);
  writeJsonInteger(json, "disputedBytes", origin.disputedBytes);
  addDoubtfulBytes(json, block);
  openJson(json, "copies", "[");
  for (size_t t = 0; t < origin.copies.size(); ++t) {
    const int32_t copy = origin.copies[t];
    if (copy >= 0) {
      addCopy(json, facts[t], static_cast<int32_t>(t), copy, takes[t][static_cast<size_t>(copy)]);
    }
  }
  closeJson(json, "]");
  closeJson(json, "}");
}

}  // namespace

void writeBlockFields(JsonWriter& json, const TapeBlock& info, bool header) {
  writeJsonString(json, "kind", header ? "header" : "headerless");
  if (header) {
    writeJsonInteger(json, "fileNumber", info.fileNumber);
    writeJsonString(json, "fileType", std::string_view(&info.fileType, 1), true);
    const std::string_view name(info.name, sizeof info.name);
    writeJsonString(json, "name", name.substr(0, name.find('\0')), true);
    writeJsonInteger(json, "begin", info.beginAddress);
  }
  writeJsonInteger(json, "length", info.length);
  writeMarks(json, info);
}

double speedDeviationPercent(const DecodedBlock& block) {
  const double nominal = block.protocol == kProtocolMato        ? kMatoSpaceHertz
                         : block.protocol == kProtocolPmdDouble ? kPmdDoubleCellsPerSecond
                                                                : kPmdCellsPerSecond;
  return (block.cellRate / nominal - 1) * 100;
}

int32_t buildDecodeReport(const Cassette& cassette, const char* image, std::string& text) {
  const std::vector<TakeFacts>& facts = cassette.facts;
  const Takes& takes = cassette.takes;
  const TapeMerge& merge = cassette.merge;
  JsonWriter json{text};
  openJson(json, nullptr, "{");
  writeJsonString(json, "program", "tonbrix-decode");
  writeJsonString(json, "version", TONBRIX_VERSION);
  if (image != nullptr) {
    writeJsonString(json, "image", image);
  } else {
    writeJsonNull(json, "image");
  }
  writeJsonInteger(json, "blocks", static_cast<int64_t>(merge.blocks.size()));
  writeJsonInteger(json, "damagedBlocks", countDamagedBlocks(merge.blocks));
  openJson(json, "takes", "[");
  for (size_t t = 0; t < facts.size(); ++t) {
    openJson(json, nullptr, "{");
    writeJsonInteger(json, "take", static_cast<int64_t>(t + 1));
    writeJsonString(json, "name", facts[t].name);
    writeJsonInteger(json, "sampleRate", facts[t].sampleRate);
    writeJsonInteger(json, "channel", facts[t].channel + 1);
    writeJsonInteger(json, "channels", facts[t].channelCount);
    writeJsonInteger(json, "sampleFrames", facts[t].frames);
    writeJsonBoolean(json, "endedEarly", facts[t].endedEarly);
    openJson(json, "blockMayBeMissingAt", "[", true);
    for (const double seconds : facts[t].strayFrames) {
      writeJsonNumber(json, nullptr, seconds, 3);
    }
    closeJson(json, "]");
    writeJsonInteger(json, "blocks", static_cast<int64_t>(takes[t].size()));
    writeJsonInteger(json, "damagedBlocks", countDamagedBlocks(takes[t]));
    addTakeStanding(json, merge, static_cast<int32_t>(t));
    closeJson(json, "}");
  }
  closeJson(json, "]");
  openJson(json, "tape", "[");
  for (size_t b = 0; b < merge.blocks.size(); ++b) {
    addBlock(json, facts, takes, merge.blocks[b], merge.origins[b], b + 1);
  }
  closeJson(json, "]");
  closeJson(json, "}");
  endJson(json);
  return json.status;
}
