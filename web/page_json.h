// The JSON that the page's entry points hand to JavaScript through MEMFS files, written
// with the decode report's writer and in its schema.
#pragma once

#include <cstdint>
#include <string>

#include "core/job.h"
#include "decode/json_writer.h"

// Writes the object of `block` as the listing shows it, without its closing brace, so
// that a caller can add its own fields: writeBlockFields, a headerless block being one
// whose file type is 0, as the listing has it.
void openBlockObject(JsonWriter& json, const TapeBlock& block);

// Writes `json` to `path`. Returns kOk, or kErrOpenOutput / kErrWriteOutput, reported.
[[nodiscard]] int32_t writeJson(const char* path, const std::string& json);
