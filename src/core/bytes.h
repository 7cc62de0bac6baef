// Little-endian fields, read and written byte by byte so the bytes never depend on the host.
#pragma once

#include <cstdint>

inline uint16_t readLe16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline void writeLe16(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void writeLe32(uint8_t* bytes, uint32_t value) {
  writeLe16(bytes, value & 0xFFFFu);
  writeLe16(bytes + 2, value >> 16);
}
