// The JSON that the page's entry points hand to JavaScript through MEMFS files.
#include "page_json.h"

#include <cstdio>

#include "decode/decode_report.h"

void openBlockObject(JsonWriter& json, const TapeBlock& block) {
  openJson(json, nullptr, "{", true);
  writeBlockFields(json, block, block.fileType != 0);
}

int32_t writeJson(const char* path, const std::string& json) {
  const FileHandle file(std::fopen(path, "wb"));
  if (!file) {
    return reportFailure(kErrOpenOutput, path);
  }
  if (std::fwrite(json.data(), 1, json.size(), file.get()) != json.size()) {
    return reportFailure(kErrWriteOutput, path);
  }
  return kOk;
}
