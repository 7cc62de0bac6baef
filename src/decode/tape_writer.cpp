// Block assembly, listing and record-layout output of decoded tapes.
#include "decode/tape_writer.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "core/bytes.h"
#include "core/file_io.h"
#include "tape/tape_image.h"

namespace {

const char* protocolName(int32_t protocol) {
  switch (protocol) {
    case kProtocolPmdDouble:
      return "PMD 85 (Double Speed)";
    case kProtocolMato:
      return "Mato";
    default:
      return "PMD 85";
  }
}

int32_t buildHeaderPart(const TapePart& part, DecodedBlock& block) {
  int32_t status = resizeItems(block.headerPart, kHeaderPartLength);
  if (status != kOk) {
    return status;
  }
  for (int32_t i = 0; i < kSyncPatternLength; ++i) {
    block.headerPart[static_cast<size_t>(i)] = syncPatternByte(i);
  }
  const size_t start = part.protocol == kProtocolMato ? kMatoHeaderStart : kPmdHeaderStart;
  std::memcpy(&block.headerPart[kSyncPatternLength], &part.bytes[start], kHeaderLength);
  detectHeader(block.headerPart.data(), block.info);
  return kOk;
}

// A body of 0 or 1 bytes has no room for its checksum; its length fault must still show,
// so the shortfall never reads as the -1 of a whole body.
void checkBody(DecodedBlock& block, bool cut) {
  const size_t need = block.info.length + size_t{kBodyPartExtra};
  if (block.body.size() != need || cut) {
    block.info.bodyLengthError = block.body.size() < size_t{kBodyPartExtra}
                                     ? 0
                                     : static_cast<int32_t>(block.body.size()) - kBodyPartExtra;
    return;
  }
  block.info.bodyLengthError = -1;
  block.info.bodyChecksumError =
      checksumMatches(block.body.data(), static_cast<int32_t>(need - 1)) ? 0 : 1;
}

int32_t copyBytes(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& copy) {
  const int32_t status = resizeItems(copy, bytes.size());
  if (status == kOk && !bytes.empty()) {
    std::memcpy(copy.data(), bytes.data(), bytes.size());
  }
  return status;
}

bool writeRecord(std::FILE* file, const std::vector<uint8_t>& bytes) {
  const size_t length = bytes.size() < kMaxPartLength ? bytes.size() : kMaxPartLength;
  uint8_t word[kLengthWordSize];
  writeLe16(word, static_cast<uint32_t>(length));
  return std::fwrite(word, 1, kLengthWordSize, file) == kLengthWordSize &&
         (length == 0 || std::fwrite(bytes.data(), 1, length, file) == length);
}

}  // namespace

bool hasFault(const TapeBlock& info) {
  return info.headerChecksumError != 0 || info.bodyChecksumError != 0 || info.bodyLengthError >= 0;
}

int32_t makeDecodedBlock(const TapePart& part, const TapePart* body, int32_t sampleRate,
                         DecodedBlock& block) {
  block = DecodedBlock{};
  block.protocol = part.protocol;
  block.phase = part.phase;
  block.startSeconds = part.startSample / sampleRate;
  block.cellRate = part.cellRate;
  block.frameErrors = part.frameErrors;
  block.info.bodyLengthError = -1;
  if (part.isHeader == 0) {
    const int32_t status = copyBytes(part.bytes, block.body);
    block.info.length = static_cast<uint16_t>(block.body.size());
    if (part.cut != 0) {
      block.info.bodyLengthError = static_cast<int32_t>(block.body.size());
    }
    return status;
  }
  int32_t status = buildHeaderPart(part, block);
  if (status == kOk && body != nullptr) {
    block.frameErrors += body->frameErrors;
    status = copyBytes(body->bytes, block.body);
  }
  if (status == kOk) {
    checkBody(block, body != nullptr && body->cut != 0);
  }
  return status;
}

int32_t assembleBlocks(const std::vector<TapePart>& parts, int32_t sampleRate,
                       std::vector<DecodedBlock>& blocks) {
  blocks.clear();
  for (size_t i = 0; i < parts.size(); ++i) {
    const bool withBody =
        parts[i].isHeader != 0 && i + 1 < parts.size() && parts[i + 1].isBody != 0;
    DecodedBlock block;
    int32_t status =
        makeDecodedBlock(parts[i], withBody ? &parts[i + 1] : nullptr, sampleRate, block);
    if (status == kOk) {
      status = appendItem(blocks, block);
    }
    if (status != kOk) {
      return status;
    }
    i += withBody ? 1 : 0;
  }
  return kOk;
}

int64_t scoreBlocks(const std::vector<DecodedBlock>& blocks) {
  int64_t score = 0;
  for (const DecodedBlock& block : blocks) {
    const auto bytes = static_cast<int64_t>(block.headerPart.size() + block.body.size());
    score += (hasFault(block.info) || block.frameErrors != 0) ? bytes : 2 * bytes;
  }
  return score;
}

int32_t countDamagedBlocks(const std::vector<DecodedBlock>& blocks) {
  int32_t count = 0;
  for (const DecodedBlock& block : blocks) {
    count += hasFault(block.info) ? 1 : 0;
  }
  return count;
}

void printDecodedRow(const DecodedBlock& block, int32_t number, int32_t verbose) {
  // A headerless row has no fault columns; a cut one gets its BLE where they would be.
  const bool cutHeaderless = block.info.fileType == 0 && block.info.bodyLengthError >= 0;
  char columns[64];
  std::snprintf(
      columns, sizeof columns, "\t%6.1fs  %s%s%s", block.startSeconds, protocolName(block.protocol),
      block.phase == kPhaseReversed ? ", Reversal Phase" : "", cutHeaderless ? "\t  BLE" : "");
  FaultMarks marks;
  printListingRow(number, block.info, columns, marks);
  if (verbose != 0) {
    std::printf("      %.1f %s per second, %d frame errors\n", block.cellRate,
                block.protocol == kProtocolMato ? "pilot cycles" : "cells", block.frameErrors);
  }
}

void printDecodedTableHead() {
  std::fputs(" BLK NR/T Name\t\t    Begin\t   Length\t   Time  Protocol\n", stdout);
}

void printDecodedLegend(const std::vector<DecodedBlock>& blocks) {
  FaultMarks marks;
  for (const DecodedBlock& block : blocks) {
    marks.headerError = marks.headerError || block.info.headerChecksumError != 0;
    marks.bodyError = marks.bodyError || block.info.bodyChecksumError != 0;
    marks.lengthError = marks.lengthError || block.info.bodyLengthError >= 0;
  }
  printFaultLegend(marks);
}

void listDecodedBlocks(const std::vector<DecodedBlock>& blocks, int32_t verbose) {
  std::printf(" Blocks: %d\n\n", static_cast<int32_t>(blocks.size()));
  printDecodedTableHead();
  for (size_t i = 0; i < blocks.size(); ++i) {
    printDecodedRow(blocks[i], static_cast<int32_t>(i + 1), verbose);
  }
  printDecodedLegend(blocks);
}

int32_t writeTapeRecords(FileHandle file, const char* name,
                         const std::vector<DecodedBlock>& blocks) {
  for (const DecodedBlock& block : blocks) {
    if (!block.headerPart.empty() && !writeRecord(file.get(), block.headerPart)) {
      return reportFailure(kErrWriteOutput, name);
    }
    if (!writeRecord(file.get(), block.body)) {
      return reportFailure(kErrWriteOutput, name);
    }
  }
  // A failed close can mean the last records never arrived.
  if (std::fclose(file.release()) != 0) {
    return reportFailure(kErrWriteOutput, name);
  }
  return kOk;
}

int32_t writeTapeImage(const char* path, const std::vector<DecodedBlock>& blocks) {
  std::printf("Writing tape image: %s\n", path);
  FileHandle file(std::fopen(path, "wb"));
  if (!file) {
    return reportFailure(kErrOpenOutput, path);
  }
  return writeTapeRecords(std::move(file), path, blocks);
}
