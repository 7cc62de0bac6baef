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

// The length of the UTF-8 sequence that starts `text`, or 0 when none does: a stray
// continuation byte, a sequence cut short, an overlong form, a surrogate or a code point
// past U+10FFFF.
size_t measureUtf8(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  const size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3
                                                             : lead < 0xF5 ? 4 : 0;
  if (length == 0 || length > text.size()) {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) {
      return 0;
    }
  }
  // The second byte bounds what the lead allows: no overlong three- or four-byte forms,
  // no surrogates (ED A0..BF), nothing past U+10FFFF (F4 90..).
  const unsigned char second = length > 1 ? byte(1) : 0;
  const bool outOfRange = (lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
                          (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90);
  return outOfRange ? 0 : length;
}

void addEscapedByte(JsonWriter& json, unsigned char byte) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
  add(json, escaped);
}

void addString(JsonWriter& json, std::string_view value, bool bytes) {
  add(json, "\"");
  for (size_t i = 0; i < value.size();) {
    const char c = value[i];
    const auto byte = static_cast<unsigned char>(c);
    const size_t length = bytes && byte >= 0x7F ? 0 : measureUtf8(value.substr(i));
    if (c == '"' || c == '\\') {
      const char escaped[] = {'\\', c};
      add(json, std::string_view(escaped, 2));
    } else if (byte < 0x20 || length == 0) {
      addEscapedByte(json, byte);
    } else {
      add(json, value.substr(i, length));
      i += length;
      continue;
    }
    ++i;
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
