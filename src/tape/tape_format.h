// The facts of the tape format: what the image stores, and how both protocols sound. Every
// reader and writer of images and signals takes them from here.
#pragma once

#include <cstdint>

#include "core/bytes.h"

// A header part: 48 sync bytes (16 each of 0xFF, 0x00 and 0x55), then the 15 header bytes.
inline constexpr int32_t kSyncPatternLength = 48;
inline constexpr int32_t kSyncRunLength = 16;
inline constexpr uint8_t kSyncRunBytes[3] = {0xFF, 0x00, 0x55};
inline constexpr int32_t kHeaderLength = 15;
inline constexpr int32_t kHeaderPartLength = kSyncPatternLength + kHeaderLength;  // 63

// Byte offsets inside the 15 header bytes; the two 16-bit fields are little-endian.
inline constexpr int32_t kHeaderFileNumber = 0;
inline constexpr int32_t kHeaderFileType = 1;
inline constexpr int32_t kHeaderBeginAddress = 2;
inline constexpr int32_t kHeaderBodyLength = 4;  // the body holds this + 1 data bytes
inline constexpr int32_t kHeaderName = 6;
inline constexpr int32_t kHeaderNameLength = 8;
inline constexpr int32_t kHeaderChecksum = 14;

// A body part is its data bytes and a checksum byte, so length + 2 bytes in all.
inline constexpr int32_t kBodyPartExtra = 2;

// In the record layout every part is preceded by a 16-bit little-endian length word.
inline constexpr int32_t kLengthWordSize = 2;
inline constexpr int32_t kMaxRecordLength = 65535;

// The byte at `index` (0..47) of the sync pattern.
constexpr uint8_t syncPatternByte(int32_t index) { return kSyncRunBytes[index / kSyncRunLength]; }

// True when the first `count` bytes sum, modulo 256, to byte `count`: the checksum of a
// header (14 bytes) and of a body (length + 1 bytes).
inline bool checksumMatches(const uint8_t* bytes, int32_t count) {
  uint32_t sum = 0;
  for (int32_t i = 0; i < count; ++i) {
    sum += bytes[i];
  }
  return (sum & 0xFFu) == bytes[count];
}

// PMD 85: one bit cell is a full square period; 1200 cells a second, 2400 at double
// speed. A header part follows a 2.8 s leader of marks, every other part a 0.5 s one;
// 2.8 is not exact in binary and gives 3359 cells, one short of 3360.
inline constexpr double kPmdCellsPerSecond = 1200.0;
inline constexpr double kPmdDoubleCellsPerSecond = 2400.0;
inline constexpr double kPmdHeaderLeaderSeconds = 2.8;
inline constexpr double kPmdLeaderSeconds = 0.5;

// Mato: a mark is one period of 630 Hz and a space one of 1050 Hz (735 and 1225 Hz at
// 11025 samples a second, where the periods are rounded). A header part follows a pilot
// of 510 spaces and the sync byte; a body or headerless block a pilot of 128 spaces,
// a body's closed by one mark. Silence is counted in chunks of a third of a space.
inline constexpr double kMatoSpaceHertz = 1050.0;
inline constexpr int32_t kMatoHeaderPilotSpaces = 510;
inline constexpr int32_t kMatoBlockPilotSpaces = 128;
inline constexpr uint8_t kMatoSyncByte = 0x55;
inline constexpr double kMatoGapChunksPerSecond = 3215.4341;
