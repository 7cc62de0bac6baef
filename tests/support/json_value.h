// A small JSON reader for tests of the reports the programs write: it refuses any text
// that is not one whole JSON value, so a test that reads a report also checks its syntax.
#pragma once

#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace json_value {

struct Value {
  enum Kind { kNull, kBoolean, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Value> items;
  std::map<std::string, Value> members;

  // The member `key`, or a null value when there is none.
  const Value& operator[](const std::string& key) const {
    static const Value none;
    const auto found = members.find(key);
    return found == members.end() ? none : found->second;
  }
};

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  // Reads the whole text as one value; false when it is not valid JSON.
  bool read(Value& value) {
    return readValue(value) && (skipSpace(), position_ == text_.size());
  }

 private:
  void skipSpace() {
    while (position_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[position_]))) {
      ++position_;
    }
  }

  bool take(char c) {
    skipSpace();
    if (position_ < text_.size() && text_[position_] == c) {
      ++position_;
      return true;
    }
    return false;
  }

  bool takeWord(const char* word) {
    const std::string w = word;
    if (text_.compare(position_, w.size(), w) != 0) {
      return false;
    }
    position_ += w.size();
    return true;
  }

  bool readString(std::string& out) {
    if (!take('"')) {
      return false;
    }
    while (position_ < text_.size() && text_[position_] != '"') {
      char c = text_[position_++];
      if (static_cast<unsigned char>(c) < 0x20) {
        return false;
      }
      if (c == '\\') {
        if (position_ >= text_.size()) {
          return false;
        }
        c = text_[position_++];
        if (c == 'u') {
          if (position_ + 4 > text_.size()) {
            return false;
          }
          c = static_cast<char>(std::strtol(text_.substr(position_, 4).c_str(), nullptr, 16));
          position_ += 4;
        } else if (c != '"' && c != '\\' && c != '/') {
          return false;
        }
      }
      out += c;
    }
    return take('"');
  }

  bool readValue(Value& value) {
    skipSpace();
    if (position_ >= text_.size()) {
      return false;
    }
    const char c = text_[position_];
    if (c == '{') {
      value.kind = Value::kObject;
      ++position_;
      if (take('}')) {
        return true;
      }
      do {
        std::string key;
        if (!readString(key) || !take(':') || !readValue(value.members[key])) {
          return false;
        }
      } while (take(','));
      return take('}');
    }
    if (c == '[') {
      value.kind = Value::kArray;
      ++position_;
      if (take(']')) {
        return true;
      }
      do {
        value.items.emplace_back();
        if (!readValue(value.items.back())) {
          return false;
        }
      } while (take(','));
      return take(']');
    }
    if (c == '"') {
      value.kind = Value::kString;
      return readString(value.text);
    }
    if (takeWord("true") || takeWord("false")) {
      value.kind = Value::kBoolean;
      value.boolean = c == 't';
      return true;
    }
    if (takeWord("null")) {
      return true;
    }
    char* end = nullptr;
    value.kind = Value::kNumber;
    value.number = std::strtod(text_.c_str() + position_, &end);
    const size_t length = static_cast<size_t>(end - (text_.c_str() + position_));
    position_ += length;
    return length > 0;
  }

  const std::string& text_;
  size_t position_ = 0;
};

}  // namespace json_value
