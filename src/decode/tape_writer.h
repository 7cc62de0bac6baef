// From decoded parts to tape image blocks: pairing headers with bodies, checking them,
// the listing of what was found and the tape image file in the record layout.
#pragma once

#include <cstdint>
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

// Turns the parts of one channel into blocks: a header part and the body part after it
// make a header block, every other part a headerless block. The sync pattern is written
// anew for every header, since Mato never sends it. Returns kOk or kErrOutOfMemory.
[[nodiscard]] int32_t assembleBlocks(const std::vector<TapePart>& parts, int32_t sampleRate,
                                     std::vector<DecodedBlock>& blocks);

// A figure of merit for choosing between the two channels of a recording: bytes in
// blocks without faults count double.
int64_t scoreBlocks(const std::vector<DecodedBlock>& blocks);

// Prints the listing of `blocks` on stdout, with the measured speed and phase with
// `verbose`, and the legend of the fault marks that occur.
void listDecodedBlocks(const std::vector<DecodedBlock>& blocks, int32_t verbose);

// Writes `blocks` to `path` in the record layout: a length word before every part.
// Prints "Writing tape image: %s". Returns kOk, or kErrOpenOutput or kErrWriteOutput,
// reported.
[[nodiscard]] int32_t writeTapeImage(const char* path, const std::vector<DecodedBlock>& blocks);
