// The -list output: one row per selected block, then a legend of the fault marks.
#include <cstdio>
#include <cstring>

#include "tape/tape_image.h"

void printListingRow(int32_t number, const TapeBlock& block, const char* extra, FaultMarks& marks) {
  if (block.fileType == 0) {
    std::printf("% 3d: ...\t\t\t\t%5d (%04Xh)%s\n", number, block.length, block.length, extra);
    return;
  }
  // The stored name is not terminated; a zero byte inside it ends it early.
  char name[kHeaderNameLength + 1] = {};
  std::memcpy(name, block.name, sizeof block.name);
  const bool headerError = block.headerChecksumError != 0;
  const bool bodyError = block.bodyChecksumError != 0;
  const bool lengthError = block.bodyLengthError >= 0;
  std::printf("% 3d: %02d/%c %8.8s\t%5d (%04Xh)\t%5d (%04Xh)%s\t%s %s %s\n", number,
              block.fileNumber, block.fileType, name, block.beginAddress, block.beginAddress,
              block.length, block.length, extra, headerError ? "HCE" : "", bodyError ? "BCE" : "",
              lengthError ? "BLE" : "");
  marks.headerError = marks.headerError || headerError;
  marks.bodyError = marks.bodyError || bodyError;
  marks.lengthError = marks.lengthError || lengthError;
}

void printFaultLegend(const FaultMarks& marks) {
  if (!marks.headerError && !marks.bodyError && !marks.lengthError) {
    return;
  }
  std::fputs("\n", stdout);
  if (marks.headerError) {
    std::fputs("   HCE = Head CRC error\n", stdout);
  }
  if (marks.bodyError) {
    std::fputs("   BCE = Body CRC error\n", stdout);
  }
  if (marks.lengthError) {
    std::fputs("   BLE = Body Length error\n", stdout);
  }
}

void listTape(ConversionJob& job) {
  std::printf(" Tape file: %s\n", job.inputPath);
  std::printf(" Blocks: %d\n\n", job.blockCount);
  std::fputs(" BLK NR/T Name\t\t    Begin\t   Length\n", stdout);

  FaultMarks marks;
  for (int32_t i = 0; i < job.selectionCount; ++i) {
    const int32_t number = (*job.selection)[static_cast<size_t>(i)];
    const TapeBlock* block = nullptr;
    if (findBlock(job, number, block) != kOk) {
      return;
    }
    printListingRow(number, *block, "", marks);
  }
  printFaultLegend(marks);
}
