// The rows, titles and legend of a decoded tape's listing.
#include "decode/decode_listing.h"

#include <cstdio>

#include "tape/tape_image.h"

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
