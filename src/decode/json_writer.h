// JSON text written piece by piece into one string: the decode report and the page's
// answers to its scripts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/errors.h"

// The text being written. Members and array elements go one to a line, indented, except
// inside a compact object or array, which stays on one line with all it holds. The first
// failed allocation stops the writing; `status` then holds kErrOutOfMemory, reported.
struct JsonWriter {
  std::string& text;
  int32_t status = kOk;
  int32_t depth = 0;
  int32_t compactDepth = -1;  // the depth from which on everything is compact, or -1
  bool comma = false;         // a value precedes in the open object or array
};

// Each writes one value: the member `key` of the open object, or with `key` nullptr an
// element of the open array (or the whole text).

// Opens an object ("{") or array ("[") that `closeJson` closes with the other bracket.
void openJson(JsonWriter& json, const char* key, const char* bracket, bool compact = false);
void closeJson(JsonWriter& json, const char* bracket);

// A string. Text is passed on as it is (UTF-8 for the reader), except that a byte that
// starts no valid UTF-8 sequence (a file name in another encoding) becomes the character
// of that number, so that the JSON stays valid; with `bytes`, so does every byte from
// 0x7F on, for bytes that are no text in any encoding (a header's name on tape). Quotes,
// backslashes and control bytes are escaped.
void writeJsonString(JsonWriter& json, const char* key, std::string_view value, bool bytes = false);

void writeJsonInteger(JsonWriter& json, const char* key, int64_t value);

// `value` with `decimals` decimals; null when it is not finite.
void writeJsonNumber(JsonWriter& json, const char* key, double value, int32_t decimals);

void writeJsonBoolean(JsonWriter& json, const char* key, bool value);

void writeJsonNull(JsonWriter& json, const char* key);

// Ends the text with a newline.
void endJson(JsonWriter& json);
