// The rows, titles and legend of a decoded tape's listing.
#include "decode/decode_listing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tape/tape_image.h"

namespace {

// Prints the row of block `number`, with `takes` before the time when takes were merged.
void printRow(const DecodedBlock& block, int32_t number, int32_t verbose, const char* takes) {
  // A headerless row has no fault columns; a cut one gets its BLE where they would be.
  const bool cutHeaderless = block.info.fileType == 0 && block.info.bodyLengthError >= 0;
  char takesColumn[160] = "";
  if (takes != nullptr) {
    std::snprintf(takesColumn, sizeof takesColumn, " %-6s", takes);
  }
  char columns[256];
  std::snprintf(columns, sizeof columns, "\t%s%6.1fs  %s%s%s", takesColumn, block.startSeconds,
                protocolName(block.protocol), block.phase == kPhaseReversed ? ", Reversal Phase" : "",
                cutHeaderless ? "\t  BLE" : "");
  FaultMarks marks;
  printListingRow(number, block.info, columns, marks);
  if (verbose != 0) {
    std::printf("      %.1f %s per second, %d frame errors\n", block.cellRate,
                block.protocol == kProtocolMato ? "pilot cycles" : "cells", block.frameErrors);
  }
}

// "1+3": take numbers from 1.
void formatTakes(const std::vector<int32_t>& takes, char* text, size_t size) {
  size_t used = 0;
  text[0] = '\0';
  for (size_t i = 0; i < takes.size() && used < size; ++i) {
    const int written = std::snprintf(text + used, size - used, "%s%d", i == 0 ? "" : "+",
                                      takes[i] + 1);
    used += written > 0 ? static_cast<size_t>(written) : 0;
  }
}

// The line below a merged block that is not simply whole.
void printMergeNote(const DecodedBlock& block, const BlockOrigin& origin) {
  char takes[128];
  formatTakes(origin.sources, takes, sizeof takes);
  const char* plural = origin.sources.size() == 1 ? "" : "s";
  if (origin.decision == kMergeRecovered) {
    std::printf("      recovered from take%s %s\n", plural, takes);
    return;
  }
  if (origin.decision == kMergeDisputed) {
    std::printf("      whole copies differ in %d byte%s: kept that of take%s %s\n",
                origin.disputedBytes, origin.disputedBytes == 1 ? "" : "s", plural, takes);
    return;
  }
  if (!isDamaged(block)) {
    return;
  }
  if (origin.unknownBytes == 0 && origin.disputedBytes == 0) {
    if (origin.sources.size() > 1) {
      std::printf("      takes %s read every byte alike: the fault is on the tape\n", takes);
    }
    return;
  }
  std::fputs("     ", stdout);
  if (origin.unknownBytes > 0) {
    char time[32];
    formatMinutes(blockByteSeconds(block, static_cast<size_t>(origin.firstUnknown)), time,
                  sizeof time);
    std::printf(" %d unknown byte%s, the first at %s in take %d%s", origin.unknownBytes,
                origin.unknownBytes == 1 ? "" : "s", time, origin.take + 1,
                origin.disputedBytes > 0 ? ";" : "");
  }
  if (origin.disputedBytes > 0) {
    std::printf(" %d disputed byte%s", origin.disputedBytes, origin.disputedBytes == 1 ? "" : "s");
  }
  std::fputs("\n", stdout);
}

}  // namespace

void printDecodedRow(const DecodedBlock& block, int32_t number, int32_t verbose) {
  printRow(block, number, verbose, nullptr);
  // Where a dropout took bytes, so that the spot can be found in an audio editor.
  const int32_t unknown = countUnknownBytes(block);
  if (unknown > 0) {
    char time[32];
    formatMinutes(firstUnknownSeconds(block), time, sizeof time);
    std::printf("      %d unknown byte%s, the first at %s\n", unknown, unknown == 1 ? "" : "s",
                time);
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

void printTakeSummary(const std::vector<DecodedBlock>& blocks) {
  const int32_t damaged = countDamagedBlocks(blocks);
  const auto count = static_cast<int32_t>(blocks.size());
  if (damaged > 0) {
    std::printf(" Blocks: %d, %d damaged\n", count, damaged);
  } else {
    std::printf(" Blocks: %d\n", count);
  }
}

void listMergedBlocks(const TapeMerge& merge, int32_t takeCount, int32_t verbose) {
  std::printf(" Takes: %d\n Blocks: %d\n\n", takeCount, static_cast<int32_t>(merge.blocks.size()));
  std::fputs(" BLK NR/T Name\t\t    Begin\t   Length\t Takes    Time  Protocol\n", stdout);
  for (size_t i = 0; i < merge.blocks.size(); ++i) {
    char takes[128];
    formatTakes(merge.origins[i].sources, takes, sizeof takes);
    printRow(merge.blocks[i], static_cast<int32_t>(i + 1), verbose, takes);
    printMergeNote(merge.blocks[i], merge.origins[i]);
  }
  printDecodedLegend(merge.blocks);
}

void formatMinutes(double seconds, char* text, size_t size) {
  const long long milliseconds = std::llround(std::max(seconds, 0.0) * 1000);
  std::snprintf(text, size, "%lld:%02lld.%03lld", milliseconds / 60000, milliseconds / 1000 % 60,
                milliseconds % 1000);
}
