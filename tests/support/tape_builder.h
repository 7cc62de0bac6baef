// Builds tape images byte by byte for tests, fuzz seeds and the bundled demo tape.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tape/tape_format.h"

namespace tape_builder {

using Bytes = std::vector<uint8_t>;

// The fields of a 15-byte header. `length` is the stored length: the body holds
// length + 1 data bytes.
struct Header {
  uint8_t fileNumber = 1;
  char fileType = 'B';
  uint16_t beginAddress = 0x0200;
  uint16_t length = 0;
  std::string name = "NAME";  // padded with blanks (or cut) to 8 characters
  bool badChecksum = false;
};

inline uint8_t checksumOf(const Bytes& bytes, size_t count) {
  uint32_t sum = 0;
  for (size_t i = 0; i < count; ++i) {
    sum += bytes[i];
  }
  return static_cast<uint8_t>(sum);
}

inline Bytes syncPattern() {
  Bytes bytes(kSyncPatternLength);
  for (int32_t i = 0; i < kSyncPatternLength; ++i) {
    bytes[static_cast<size_t>(i)] = syncPatternByte(i);
  }
  return bytes;
}

// The 15 header bytes: fields, name and checksum.
inline Bytes headerBytes(const Header& header) {
  Bytes bytes = {header.fileNumber,
                 static_cast<uint8_t>(header.fileType),
                 static_cast<uint8_t>(header.beginAddress & 0xFF),
                 static_cast<uint8_t>(header.beginAddress >> 8),
                 static_cast<uint8_t>(header.length & 0xFF),
                 static_cast<uint8_t>(header.length >> 8)};
  std::string name = header.name;
  name.resize(kHeaderNameLength, ' ');
  bytes.insert(bytes.end(), name.begin(), name.end());
  bytes.push_back(
      static_cast<uint8_t>(checksumOf(bytes, kHeaderChecksum) + (header.badChecksum ? 1 : 0)));
  return bytes;
}

// Sync pattern and header: 63 bytes.
inline Bytes headerPart(const Header& header) {
  Bytes bytes = syncPattern();
  const Bytes fields = headerBytes(header);
  bytes.insert(bytes.end(), fields.begin(), fields.end());
  return bytes;
}

// The data bytes followed by their checksum byte.
inline Bytes bodyPart(const Bytes& data, bool badChecksum = false) {
  Bytes bytes = data;
  bytes.push_back(static_cast<uint8_t>(checksumOf(data, data.size()) + (badChecksum ? 1 : 0)));
  return bytes;
}

// `count` bytes of a recognisable pattern that never starts a sync pattern.
inline Bytes patternBytes(size_t count, uint8_t seed = 1) {
  Bytes bytes(count);
  uint32_t state = seed;
  for (size_t i = 0; i < count; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>(state >> 16);
  }
  if (!bytes.empty() && bytes[0] == 0xFF) {
    bytes[0] = 0x01;
  }
  return bytes;
}

// Accumulates the bytes of an image, part by part.
class TapeImage {
 public:
  // A length word followed by `payload`. `lengthWord` overrides the true length.
  TapeImage& record(const Bytes& payload, long lengthWord = -1) {
    const auto word =
        static_cast<uint32_t>(lengthWord < 0 ? static_cast<long>(payload.size()) : lengthWord);
    bytes_.push_back(static_cast<uint8_t>(word & 0xFF));
    bytes_.push_back(static_cast<uint8_t>((word >> 8) & 0xFF));
    return raw(payload);
  }

  // Bytes without a length word.
  TapeImage& raw(const Bytes& payload) {
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    return *this;
  }

  // Record layout: a 63-byte header record and a body record. `header.length` is set from
  // the data unless `keepLength` is given.
  TapeImage& headerBlock(Header header, const Bytes& data, bool badBodyChecksum = false,
                         bool keepLength = false) {
    if (!keepLength) {
      header.length = static_cast<uint16_t>(data.size() - 1);
    }
    record(headerPart(header));
    return record(bodyPart(data, badBodyChecksum));
  }

  // Bare layout: header part and body part back to back.
  TapeImage& bareHeaderBlock(Header header, const Bytes& data, bool badBodyChecksum = false,
                             bool keepLength = false) {
    if (!keepLength) {
      header.length = static_cast<uint16_t>(data.size() - 1);
    }
    raw(headerPart(header));
    return raw(bodyPart(data, badBodyChecksum));
  }

  // Record layout: one headerless block.
  TapeImage& headerlessBlock(const Bytes& data) { return record(data); }

  TapeImage& truncate(size_t count) {
    bytes_.resize(bytes_.size() - count);
    return *this;
  }

  const Bytes& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }

  bool writeTo(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()),
              static_cast<std::streamsize>(bytes_.size()));
    return static_cast<bool>(out);
  }

 private:
  Bytes bytes_;
};

}  // namespace tape_builder
