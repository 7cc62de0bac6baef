// From decoded parts to tape image blocks: pairing headers with bodies, checking them,
// the listing of what was found and the tape image file in the record layout.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/job.h"
#include "decode/frame_decoder.h"

// One block as it goes into the tape image. `info` carries the header fields and the
// three fault marks with the meaning the scanner gives them (bodyLengthError is -1 when
// the body is whole); its offsets stay 0.
struct DecodedBlock {
  TapeBlock info;
  int32_t protocol = 0;
  int32_t phase = 0;
  double startSeconds = 0;
  double cellRate = 0;
  int32_t frameErrors = 0;
  std::vector<uint8_t> headerPart;  // 63 bytes: sync pattern and header; empty if headerless
  std::vector<uint8_t> body;        // body part, or all bytes of a headerless block
};

// Makes the block of one part: a header part with `body` (its body part, or nullptr when
// it was lost), or any other part as a headerless block. A body that is short, long or
// cut, or of 0 or 1 bytes, gets its length fault; a headerless part that was cut too.
// Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t makeDecodedBlock(const TapePart& part, const TapePart* body,
                                       int32_t sampleRate, DecodedBlock& block);

// Turns the parts of one channel into blocks: a header part and the body part after it
// make a header block, every other part a headerless block. The sync pattern is written
// anew for every header, since Mato never sends it. Returns kOk or kErrOutOfMemory.
[[nodiscard]] int32_t assembleBlocks(const std::vector<TapePart>& parts, int32_t sampleRate,
                                     std::vector<DecodedBlock>& blocks);

// A figure of merit for choosing between the two channels of a recording: bytes in
// blocks without faults count double.
int64_t scoreBlocks(const std::vector<DecodedBlock>& blocks);

// True when the block carries any of the fault marks HCE, BCE or BLE.
bool hasFault(const TapeBlock& info);

// The number of blocks that are not whole (hasFault).
int32_t countDamagedBlocks(const std::vector<DecodedBlock>& blocks);

// The listing in pieces, for a listing that grows while the tape plays: the column
// titles, one row (and its -vb line) of block `number`, and the legend of the fault marks
// that occur in `blocks`.
void printDecodedTableHead();
void printDecodedRow(const DecodedBlock& block, int32_t number, int32_t verbose);
void printDecodedLegend(const std::vector<DecodedBlock>& blocks);

// Prints the listing of `blocks` on stdout, with the measured speed and phase with
// `verbose`, and the legend of the fault marks that occur.
void listDecodedBlocks(const std::vector<DecodedBlock>& blocks, int32_t verbose);

// Writes `blocks` in the record layout to `file`, open for writing, and closes it; a
// failed close counts as a failed write. Returns kOk or kErrWriteOutput, reported with
// `name`.
[[nodiscard]] int32_t writeTapeRecords(FileHandle file, const char* name,
                                       const std::vector<DecodedBlock>& blocks);

// Writes `blocks` to `path` in the record layout: a length word before every part.
// Prints "Writing tape image: %s". Returns kOk, or kErrOpenOutput or kErrWriteOutput,
// reported.
[[nodiscard]] int32_t writeTapeImage(const char* path, const std::vector<DecodedBlock>& blocks);
