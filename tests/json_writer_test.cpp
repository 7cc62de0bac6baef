// Tests of the JSON writer that the decode report and the page's answers share.
#include "decode/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

TEST(JsonWriter, EscapesWhatJsonForbidsAndBytesPastAsciiWhenAsked) {
  const struct {
    const char* name;
    std::string value;
    bool bytes;
    const char* written;
  } cases[] = {
      {"plain text", "GAME", false, "\"GAME\""},
      {"quote and backslash", "a\"b\\c", false, "\"a\\\"b\\\\c\""},
      {"control bytes", std::string("a\x01\n", 3), false, "\"a\\u0001\\u000A\""},
      {"a zero byte", std::string("a\0b", 3), false, "\"a\\u0000b\""},
      {"UTF-8 text passes as it is", "\xC4\x8D" "a", false, "\"\xC4\x8D" "a\""},
      {"bytes of a tape name", "\xC4\x8D\x7F", true, "\"\\u00C4\\u008D\\u007F\""},
      {"a four-byte character", "\xF0\x9F\x98\x80", false, "\"\xF0\x9F\x98\x80\""},
      {"a Latin-1 file name", "h\xE1j.wav", false, "\"h\\u00E1j.wav\""},
      {"a sequence cut short", "a\xC4", false, "\"a\\u00C4\""},
      {"a stray continuation byte", "\x8D" "a", false, "\"\\u008Da\""},
      {"an overlong slash", "\xC0\xAF", false, "\"\\u00C0\\u00AF\""},
      {"an overlong three-byte form", "\xE0\x80\xAF", false, "\"\\u00E0\\u0080\\u00AF\""},
      {"a surrogate", "\xED\xA0\x80", false, "\"\\u00ED\\u00A0\\u0080\""},
      {"past U+10FFFF", "\xF4\x90\x80\x80", false, "\"\\u00F4\\u0090\\u0080\\u0080\""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    std::string text;
    JsonWriter json{text};
    writeJsonString(json, nullptr, test.value, test.bytes);
    EXPECT_EQ(json.status, kOk);
    EXPECT_EQ(text, std::string("\n") + test.written);
  }
}

TEST(JsonWriter, CompactValuesStayOnOneLineWithAllTheyHold) {
  std::string indented;
  JsonWriter report{indented};
  openJson(report, nullptr, "{");
  openJson(report, "marks", "[", true);
  writeJsonString(report, nullptr, "HCE");
  writeJsonString(report, nullptr, "BLE");
  closeJson(report, "]");
  writeJsonNumber(report, "seconds", 1.23456, 3);
  writeJsonNumber(report, "level", -INFINITY, 1);
  closeJson(report, "}");
  endJson(report);
  EXPECT_EQ(indented,
            "\n{\n  \"marks\": [\"HCE\", \"BLE\"],\n  \"seconds\": 1.235,\n  \"level\": null\n}\n");

  std::string compact;
  JsonWriter page{compact};
  openJson(page, nullptr, "{", true);
  openJson(page, "blocks", "[");
  openJson(page, nullptr, "{");
  writeJsonBoolean(page, "whole", true);
  closeJson(page, "}");
  writeJsonNull(page, nullptr);
  closeJson(page, "]");
  writeJsonInteger(page, "channel", 1);
  closeJson(page, "}");
  EXPECT_EQ(compact, "\n{\"blocks\": [{\"whole\": true}, null], \"channel\": 1}");
}

}  // namespace
