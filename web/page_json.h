// The JSON that the page's entry points hand to JavaScript through MEMFS files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/job.h"

// Appends `text` (at most `length` bytes, up to a zero byte) as a JSON string. The bytes
// of header names are Latin-1 to the page; control bytes and non-ASCII are escaped.
void appendJsonText(std::string& json, const char* text, size_t length);

// Appends the fields of `block` that the listing shows, as a JSON object without its
// closing brace, so that a caller can add its own fields: {"fileNumber", "fileType"
// ("" when headerless), "name", "begin", "length", "hce", "bce", "ble".
void appendBlockFields(std::string& json, const TapeBlock& block);

// Writes `json` to `path`. Returns kOk, or kErrOpenOutput / kErrWriteOutput, reported.
[[nodiscard]] int32_t writeJson(const char* path, const std::string& json);
