// The JSON writer: one escaping of strings, one layout of members.
#include "decode/json_writer.h"

#include <cmath>
#include <cstdio>

#include "core/memory.h"

namespace {

void add(JsonWriter& json, std::string_view piece) {
  if (json.status == kOk) {
    json.status = appendText(json.text, piece);
  }
}

bool isCompact(const JsonWriter& json) {
  return json.compactDepth >= 0 && json.depth >= json.compactDepth;
}

void addString(JsonWriter& json, std::string_view value, bool bytes) {
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

void startValue(JsonWriter& json, const char* key) {
  add(json, json.comma ? "," : "");
  if (isCompact(json)) {
    add(json, json.comma ? " " : "");
  } else {
    add(json, "\n");
    add(json, std::string(static_cast<size_t>(2 * json.depth), ' '));
  }
  if (key != nullptr) {
    addString(json, key, false);
    add(json, ": ");
  }
  json.comma = true;
}

}  // namespace

void openJson(JsonWriter& json, const char* key, const char* bracket, bool compact) {
  startValue(json, key);
  add(json, bracket);
  ++json.depth;
  json.comma = false;
  if (compact && json.compactDepth < 0) {
    json.compactDepth = json.depth;
  }
}

void closeJson(JsonWriter& json, const char* bracket) {
  const bool compact = isCompact(json);
  --json.depth;
  if (!compact && json.comma) {
    add(json, "\n");
    add(json, std::string(static_cast<size_t>(2 * json.depth), ' '));
  }
  add(json, bracket);
  json.comma = true;
  if (json.depth < json.compactDepth) {
    json.compactDepth = -1;
  }
}

void writeJsonString(JsonWriter& json, const char* key, std::string_view value, bool bytes) {
  startValue(json, key);
  addString(json, value, bytes);
}

void writeJsonInteger(JsonWriter& json, const char* key, int64_t value) {
  startValue(json, key);
  add(json, std::to_string(value));
}

void writeJsonNumber(JsonWriter& json, const char* key, double value, int32_t decimals) {
  startValue(json, key);
  if (!std::isfinite(value)) {
    add(json, "null");
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  add(json, text);
}

void writeJsonBoolean(JsonWriter& json, const char* key, bool value) {
  startValue(json, key);
  add(json, value ? "true" : "false");
}

void writeJsonNull(JsonWriter& json, const char* key) {
  startValue(json, key);
  add(json, "null");
}

void endJson(JsonWriter& json) { add(json, "\n"); }
