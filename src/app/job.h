// The one record of a run, and the only way the program obtains memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/errors.h"
#include "tape/tape_block.h"

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// A memory slot: empty, or holding one zero-filled block owned by the job.
template <typename T>
using Slot = std::optional<std::vector<T>>;

// Everything a run needs, created once by the driver and passed by reference to every
// operation. Owned buffers are released by the driver when the run ends. outputPath may
// point into derivedOutputName, so a parsed job is never copied or moved.
struct ConversionJob {
  const char* inputPath = nullptr;   // command-line argument, not owned
  const char* outputPath = nullptr;  // the -o argument or derivedOutputName
  std::string derivedOutputName;
  Slot<uint8_t> blockBuffer;           // kBlockBufferSize bytes: one block part at a time
  Slot<uint8_t> waveBuffer;            // both waveforms, overlapping
  const uint8_t* spaceWave = nullptr;  // into waveBuffer
  const uint8_t* markWave = nullptr;   // into waveBuffer
  int32_t verbose = 0;
  int32_t useMato = 0;
  int32_t listOnly = 0;
  int32_t reversePhase = 0;
  int32_t doubleSpeed = 0;
  int32_t spaceLength = 0;
  int32_t markLength = 0;
  int32_t sampleRateIndex = 1;  // 0 = L, 1 = M, 2 = H
  int32_t sampleRate = 0;
  int32_t blockCount = 0;
  Slot<int32_t> selection;  // 1-based block numbers, in export order
  int32_t selectionCount = 0;
  int32_t gapSeconds = 4;
  uint8_t highLevel = 218;
  uint8_t lowLevel = 38;
  std::vector<TapeBlock> blocks;  // blockCount records in file order
  // Size of the image when it was scanned; a file that changed since is not read again.
  int64_t inputSize = -1;
  Slot<uint8_t> wavHeader;     // the 44 header bytes
  Slot<uint8_t> outputBuffer;  // outputFile's stream buffer; declared first, so it outlives it
  FileHandle outputFile;
  // Bytes written to outputFile so far; keeps the file within what its size fields can state.
  int64_t outputLength = 0;
};

// Holds the largest block part (65,537 bytes) with room to spare.
inline constexpr int32_t kBlockBufferSize = 65600;

// Fills an empty slot with `count` zero-initialised elements. A slot that already holds
// a block is left alone and 0 is returned. Reports and returns kErrOutOfMemory when the
// memory cannot be had; the slot then stays empty.
template <typename T>
[[nodiscard]] int32_t allocZeroed(Slot<T>& slot, size_t count) {
  if (slot) {
    return kOk;
  }
  try {
    slot.emplace(count);
  } catch (const std::bad_alloc&) {
    slot.reset();
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Resizes the block in `slot` to `count` elements, keeping its contents and zeroing the
// new tail; an empty slot is filled as by allocZeroed. On failure reports and returns
// kErrOutOfMemory and the slot keeps its old block unchanged.
template <typename T>
[[nodiscard]] int32_t growZeroed(Slot<T>& slot, size_t count) {
  if (!slot) {
    return allocZeroed(slot, count);
  }
  try {
    slot->resize(count);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Prints "Tonbrix <version> - ..." and an empty line on stdout.
void printBanner();
