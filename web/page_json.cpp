// The JSON that the page's entry points hand to JavaScript through MEMFS files.
#include "page_json.h"

#include <cstdio>

void appendJsonText(std::string& json, const char* text, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  json += '"';
  for (size_t i = 0; i < length && text[i] != '\0'; ++i) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (byte == '"' || byte == '\\') {
      json += '\\';
      json += static_cast<char>(byte);
    } else if (byte >= 0x20 && byte < 0x7F) {
      json += static_cast<char>(byte);
    } else {
      json += "\\u00";
      json += kHex[byte >> 4];
      json += kHex[byte & 0xF];
    }
  }
  json += '"';
}

void appendBlockFields(std::string& json, const TapeBlock& block) {
  const bool headerless = block.fileType == 0;
  json += "{\"fileNumber\":" + std::to_string(block.fileNumber) + ",\"fileType\":";
  appendJsonText(json, &block.fileType, headerless ? 0 : 1);
  json += ",\"name\":";
  appendJsonText(json, block.name, headerless ? 0 : sizeof block.name);
  json += ",\"begin\":" + std::to_string(block.beginAddress);
  json += ",\"length\":" + std::to_string(block.length);
  json += ",\"hce\":" + std::to_string(block.headerChecksumError != 0);
  json += ",\"bce\":" + std::to_string(block.bodyChecksumError != 0);
  json += ",\"ble\":" + std::to_string(block.bodyLengthError >= 0);
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
