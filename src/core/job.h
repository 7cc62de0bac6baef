// The one record of a conversion run, and the record of one tape block in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/file_io.h"
#include "core/memory.h"

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
  // Left empty by the command line. A caller that follows playback engages it (an empty
  // vector will do); exportWav then sizes it to selectionCount and stores in each entry the
  // output length at which that entry of the selection begins.
  Slot<int64_t> entryStarts;
  int32_t gapSeconds = 4;
  uint8_t highLevel = 218;
  uint8_t lowLevel = 38;
  std::vector<TapeBlock> blocks;  // blockCount records in file order
  // Size of the image when it was scanned; a file that changed since is not read again.
  int64_t inputSize = -1;
  Slot<uint8_t> wavHeader;     // the 44 header bytes
  Slot<uint8_t> outputBuffer;  // outputFile's stream buffer; declared first, so it outlives it
  FileHandle outputFile;
  // The WAV goes to standard output: set for -o -, and by a front end whose -o path names
  // the file its standard output already is. The header then states the counted sizes.
  int32_t toStandardOutput = 0;
  // The program's original standard output, handed over by the front end that exports to
  // it and taken over by the WAV when it opens.
  FileHandle standardOutput;
  // Bytes written to outputFile so far; keeps the file within what its size fields can state.
  int64_t outputLength = 0;
};

// Holds the largest block part (65,537 bytes) with room to spare.
inline constexpr int32_t kBlockBufferSize = 65600;
