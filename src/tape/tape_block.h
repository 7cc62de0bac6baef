// The record that describes one block of a tape image.
#pragma once

#include <cstdint>

// The first six fields are the 15 header bytes as stored; a fileType of 0 marks a
// headerless block. Block numbers are 1-based positions in ConversionJob::blocks, which
// is in file order, so a block's neighbours are implied by its position.
struct TapeBlock {
  uint8_t fileNumber = 0;
  char fileType = 0;
  uint16_t beginAddress = 0;
  uint16_t length = 0;  // header block: the body holds length + 1 data bytes; else byte count
  char name[8] = {};    // as stored, not terminated
  uint8_t headerChecksum = 0;
  int32_t headerOffset = 0;         // first byte of the sync pattern; 0 when headerless
  int32_t bodyOffset = 0;           // first body byte, or first byte of a headerless block
  int32_t headerChecksumError = 0;  // listed as HCE
  int32_t bodyChecksumError = 0;    // listed as BCE
  int32_t bodyLengthError = 0;      // listed as BLE when 0 or more; -1 when the body is whole
};
