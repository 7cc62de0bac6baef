// The JSON report of a decode, written piece by piece into one text.
#include "decode/merge_report.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "core/memory.h"
#include "decode/tape_protocol.h"
#include "tape/tape_format.h"
#include "version.h"

namespace {

// JSON text being built: members and array elements go one to a line, indented, except
// inside a compact object, which stays on one line. The first failed allocation stops it.
struct Json {
  std::string& text;
  int32_t status = kOk;
  int32_t depth = 0;
  bool comma = false;  // a value precedes in the open object or array
  bool compact = false;
};

void add(Json& json, std::string_view piece) {
  if (json.status == kOk) {
    json.status = appendText(json.text, piece);
  }
}

// Text as a JSON string. Header names are bytes from the tape, not text in any encoding:
// with `bytes` every byte past ASCII becomes a character of its own.
void addString(Json& json, std::string_view value, bool bytes = false) {
  add(json, "\"");
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      const char escaped[] = {'\\', c};
      add(json, std::string_view(escaped, 2));
    } else if (byte < 0x20 || (bytes && byte >= 0x7F)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
      add(json, escaped);
    } else {
      add(json, std::string_view(&c, 1));
    }
  }
  add(json, "\"");
}

void startValue(Json& json, const char* key) {
  add(json, json.comma ? "," : "");
  if (json.compact) {
    add(json, json.comma ? " " : "");
  } else {
    add(json, "\n");
    add(json, std::string(static_cast<size_t>(2 * json.depth), ' '));
  }
  if (key != nullptr) {
    addString(json, key);
    add(json, ": ");
  }
  json.comma = true;
}

void open(Json& json, const char* key, const char* bracket, bool compact = false) {
  startValue(json, key);
  add(json, bracket);
  ++json.depth;
  json.comma = false;
  json.compact = compact;
}

void close(Json& json, const char* bracket) {
  --json.depth;
  if (!json.compact && json.comma) {
    add(json, "\n");
    add(json, std::string(static_cast<size_t>(2 * json.depth), ' '));
  }
  add(json, bracket);
  json.comma = true;
  json.compact = false;
}

void addText(Json& json, const char* key, std::string_view value, bool bytes = false) {
  startValue(json, key);
  addString(json, value, bytes);
}

void addInteger(Json& json, const char* key, int64_t value) {
  startValue(json, key);
  add(json, std::to_string(value));
}

void addNumber(Json& json, const char* key, double value, int32_t decimals) {
  startValue(json, key);
  if (!std::isfinite(value)) {
    add(json, "null");
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  add(json, text);
}

void addBoolean(Json& json, const char* key, bool value) {
  startValue(json, key);
  add(json, value ? "true" : "false");
}

void addMarks(Json& json, const TapeBlock& info) {
  open(json, "marks", "[", true);
  if (info.headerChecksumError != 0) {
    addText(json, nullptr, "HCE");
  }
  if (info.bodyChecksumError != 0) {
    addText(json, nullptr, "BCE");
  }
  if (info.bodyLengthError >= 0) {
    addText(json, nullptr, "BLE");
  }
  close(json, "]");
}

const char* byteState(uint8_t confidence) {
  if (confidence == kByteUnknown) {
    return "unknown";
  }
  return confidence < kMinCertainByte ? "uncertain" : nullptr;
}

void addRun(Json& json, const DecodedBlock& block, const char* part, size_t start, size_t index,
            size_t count, const char* state) {
  open(json, nullptr, "{", true);
  addText(json, "part", part);
  addInteger(json, "position", static_cast<int64_t>(index));
  addInteger(json, "count", static_cast<int64_t>(count));
  addText(json, "state", state);
  addNumber(json, "startSeconds", blockByteSeconds(block, start + index), 3);
  close(json, "}");
}

// The runs of bytes of `block` that were not read for certain, and of those missing from
// a short body: where each starts in its part and in the recording.
void addDoubtfulBytes(Json& json, const DecodedBlock& block) {
  open(json, "doubtful", "[");
  const struct {
    const char* name;
    const std::vector<uint8_t>& bytes;
    const std::vector<uint8_t>& confidence;
    size_t start;
  } parts[] = {{"header", block.headerPart, block.headerConfidence, 0},
               {"body", block.body, block.bodyConfidence, block.headerPart.size()}};
  for (const auto& part : parts) {
    for (size_t i = 0; i < part.bytes.size();) {
      const auto stateAt = [&](size_t k) {
        return k < part.confidence.size() ? byteState(part.confidence[k]) : nullptr;
      };
      const char* state = stateAt(i);
      size_t end = i + 1;
      while (end < part.bytes.size() && stateAt(end) == state) {
        ++end;
      }
      if (state != nullptr) {
        addRun(json, block, part.name, part.start, i, end - i, state);
      }
      i = end;
    }
  }
  const size_t stated = size_t{block.info.length} + kBodyPartExtra;
  if (!block.headerPart.empty() && block.info.headerChecksumError == 0 &&
      block.body.size() < stated) {
    addRun(json, block, "body", block.headerPart.size(), block.body.size(),
           stated - block.body.size(), "missing");
  }
  close(json, "]");
}

// How a take read one block, and where it lies in that take's recording.
void addCopy(Json& json, const TakeFacts& facts, int32_t take, int32_t index,
             const DecodedBlock& copy) {
  open(json, nullptr, "{");
  addInteger(json, "take", take + 1);
  addInteger(json, "block", index + 1);
  addNumber(json, "startSeconds", copy.startSeconds, 3);
  addNumber(json, "endSeconds", copy.endSeconds, 3);
  addInteger(json, "sampleOffset", std::llround(copy.startSeconds * facts.sampleRate));
  addText(json, "protocol", protocolName(copy.protocol));
  addText(json, "phase", copy.phase == kPhaseReversed ? "reversed" : "normal");
  addNumber(json, "cellRate", copy.cellRate, 1);
  addNumber(json, "speedDeviationPercent", speedDeviationPercent(copy), 2);
  addNumber(json, "cellSpreadPercent", copy.cellSpread, 2);
  addNumber(json, "swing", copy.swing, 3);
  // Full scale swings by 2, from -1 to 1.
  addNumber(json, "levelDbfs", copy.swing > 0 ? 20 * std::log10(copy.swing / 2) : -INFINITY, 1);
  addInteger(json, "frameErrors", copy.frameErrors);
  addMarks(json, copy.info);
  int32_t first = -1;
  addInteger(json, "unknownBytes", countLostBytes(copy, first));
  addDoubtfulBytes(json, copy);
  close(json, "}");
}

void addBlock(Json& json, const std::vector<TakeFacts>& facts,
              const std::vector<std::vector<DecodedBlock>>& takes, const DecodedBlock& block,
              const BlockOrigin& origin, size_t number) {
  open(json, nullptr, "{");
  addInteger(json, "block", static_cast<int64_t>(number));
  const TapeBlock& info = block.info;
  const bool header = !block.headerPart.empty();
  addText(json, "kind", header ? "header" : "headerless");
  if (header) {
    addInteger(json, "fileNumber", info.fileNumber);
    addText(json, "fileType", std::string_view(&info.fileType, 1), true);
    const std::string_view name(info.name, sizeof info.name);
    addText(json, "name", name.substr(0, name.find('\0')), true);
    addInteger(json, "begin", info.beginAddress);
  }
  addInteger(json, "length", info.length);
  addMarks(json, info);
  addBoolean(json, "whole", !isDamaged(block));
  addText(json, "decision", mergeDecisionName(origin.decision));
  open(json, "sources", "[", true);
  for (const int32_t take : origin.sources) {
    addInteger(json, nullptr, take + 1);
  }
  close(json, "]");
  addInteger(json, "take", origin.take + 1);
  addInteger(json, "unknownBytes", origin.unknownBytes);
  addInteger(json, "disputedBytes", origin.disputedBytes);
  addDoubtfulBytes(json, block);
  open(json, "copies", "[");
  for (size_t t = 0; t < origin.copies.size(); ++t) {
    const int32_t copy = origin.copies[t];
    if (copy >= 0) {
      addCopy(json, facts[t], static_cast<int32_t>(t), copy, takes[t][static_cast<size_t>(copy)]);
    }
  }
  close(json, "]");
  close(json, "}");
}

}  // namespace

std::string nameTakes(const std::vector<TakeFacts>& facts) {
  std::string names;
  for (const TakeFacts& take : facts) {
    names += (names.empty() ? "" : "', '") + take.name;
  }
  return names;
}

double speedDeviationPercent(const DecodedBlock& block) {
  const double nominal = block.protocol == kProtocolMato        ? kMatoSpaceHertz
                         : block.protocol == kProtocolPmdDouble ? kPmdDoubleCellsPerSecond
                                                                : kPmdCellsPerSecond;
  return (block.cellRate / nominal - 1) * 100;
}

int32_t buildMergeReport(const std::vector<TakeFacts>& facts,
                         const std::vector<std::vector<DecodedBlock>>& takes,
                         const TapeMerge& merge, const char* image, std::string& text) {
  Json json{text};
  open(json, nullptr, "{");
  addText(json, "program", "tonbrix-decode");
  addText(json, "version", TONBRIX_VERSION);
  startValue(json, "image");
  if (image != nullptr) {
    addString(json, image);
  } else {
    add(json, "null");
  }
  addInteger(json, "blocks", static_cast<int64_t>(merge.blocks.size()));
  addInteger(json, "damagedBlocks", countDamagedBlocks(merge.blocks));
  open(json, "takes", "[");
  for (size_t t = 0; t < facts.size(); ++t) {
    open(json, nullptr, "{");
    addInteger(json, "take", static_cast<int64_t>(t + 1));
    addText(json, "name", facts[t].name);
    addInteger(json, "sampleRate", facts[t].sampleRate);
    addInteger(json, "channel", facts[t].channel + 1);
    addInteger(json, "channels", facts[t].channelCount);
    addInteger(json, "sampleFrames", facts[t].frames);
    addInteger(json, "blocks", static_cast<int64_t>(takes[t].size()));
    addInteger(json, "damagedBlocks", countDamagedBlocks(takes[t]));
    close(json, "}");
  }
  close(json, "]");
  open(json, "tape", "[");
  for (size_t b = 0; b < merge.blocks.size(); ++b) {
    addBlock(json, facts, takes, merge.blocks[b], merge.origins[b], b + 1);
  }
  close(json, "]");
  close(json, "}");
  add(json, "\n");
  return json.status;
}
