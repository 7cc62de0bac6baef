// Block assembly, listing and record-layout output of decoded tapes.
#include "decode/tape_writer.h"

#include <cstdio>
#include <cstring>

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

void checkBody(DecodedBlock& block) {
  const size_t need = block.info.length + size_t{kBodyPartExtra};
  if (block.body.size() != need) {
    block.info.bodyLengthError = static_cast<int32_t>(block.body.size()) - kBodyPartExtra;
    return;
  }
  block.info.bodyLengthError = -1;
  block.info.bodyChecksumError =
      checksumMatches(block.body.data(), static_cast<int32_t>(need - 1)) ? 0 : 1;
}

bool hasFault(const TapeBlock& info) {
  return info.headerChecksumError != 0 || info.bodyChecksumError != 0 ||
         (info.fileType != 0 && info.bodyLengthError >= 0);
}

bool writeRecord(std::FILE* file, const std::vector<uint8_t>& bytes) {
  const size_t length = bytes.size() < kMaxPartLength ? bytes.size() : kMaxPartLength;
  uint8_t word[kLengthWordSize];
  writeLe16(word, static_cast<uint32_t>(length));
  return std::fwrite(word, 1, kLengthWordSize, file) == kLengthWordSize &&
         (length == 0 || std::fwrite(bytes.data(), 1, length, file) == length);
}

}  // namespace

int32_t assembleBlocks(const std::vector<TapePart>& parts, int32_t sampleRate,
                       std::vector<DecodedBlock>& blocks) {
  blocks.clear();
  for (size_t i = 0; i < parts.size(); ++i) {
    const TapePart& part = parts[i];
    DecodedBlock block;
    block.protocol = part.protocol;
    block.phase = part.phase;
    block.startSeconds = part.startSample / sampleRate;
    block.cellRate = part.cellRate;
    block.frameErrors = part.frameErrors;
    block.info.bodyLengthError = -1;
    if (part.isHeader != 0) {
      int32_t status = buildHeaderPart(part, block);
      if (status == kOk && i + 1 < parts.size() && parts[i + 1].isBody != 0) {
        ++i;
        block.frameErrors += parts[i].frameErrors;
        status = resizeItems(block.body, parts[i].bytes.size());
        if (status == kOk && !block.body.empty()) {
          std::memcpy(block.body.data(), parts[i].bytes.data(), block.body.size());
        }
      }
      if (status != kOk) {
        return status;
      }
      checkBody(block);
    } else {
      const int32_t status = resizeItems(block.body, part.bytes.size());
      if (status != kOk) {
        return status;
      }
      std::memcpy(block.body.data(), part.bytes.data(), block.body.size());
      block.info.length = static_cast<uint16_t>(block.body.size());
    }
    const int32_t status = appendItem(blocks, block);
    if (status != kOk) {
      return status;
    }
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

void listDecodedBlocks(const std::vector<DecodedBlock>& blocks, int32_t verbose) {
  std::printf(" Blocks: %d\n\n", static_cast<int32_t>(blocks.size()));
  std::fputs(" BLK NR/T Name\t\t    Begin\t   Length\t   Time  Protocol\n", stdout);
  FaultMarks marks;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const DecodedBlock& block = blocks[i];
    char columns[64];
    std::snprintf(columns, sizeof columns, "\t%6.1fs  %s%s", block.startSeconds,
                  protocolName(block.protocol),
                  block.phase == kPhaseReversed ? ", Reversal Phase" : "");
    printListingRow(static_cast<int32_t>(i + 1), block.info, columns, marks);
    if (verbose != 0) {
      std::printf("      %.1f %s per second, %d frame errors\n", block.cellRate,
                  block.protocol == kProtocolMato ? "pilot cycles" : "cells", block.frameErrors);
    }
  }
  printFaultLegend(marks);
}

int32_t writeTapeImage(const char* path, const std::vector<DecodedBlock>& blocks) {
  std::printf("Writing tape image: %s\n", path);
  FileHandle file(std::fopen(path, "wb"));
  if (!file) {
    return reportFailure(kErrOpenOutput, path);
  }
  for (const DecodedBlock& block : blocks) {
    if (!block.headerPart.empty() && !writeRecord(file.get(), block.headerPart)) {
      return reportFailure(kErrWriteOutput, path);
    }
    if (!writeRecord(file.get(), block.body)) {
      return reportFailure(kErrWriteOutput, path);
    }
  }
  if (std::fclose(file.release()) != 0) {
    return reportFailure(kErrWriteOutput, path);
  }
  return kOk;
}
