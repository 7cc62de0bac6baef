// The -list output: one row per selected block, then a legend of the fault marks.
#include <cstdio>
#include <cstring>

#include "tape/tape_image.h"

void printFaultLegend(bool headerError, bool bodyError, bool lengthError) {
  if (!headerError && !bodyError && !lengthError) {
    return;
  }
  std::fputs("\n", stdout);
  if (headerError) {
    std::fputs("   HCE = Head CRC error\n", stdout);
  }
  if (bodyError) {
    std::fputs("   BCE = Body CRC error\n", stdout);
  }
  if (lengthError) {
    std::fputs("   BLE = Body Length error\n", stdout);
  }
}

void listTape(ConversionJob& job) {
  std::printf(" Tape file: %s\n", job.inputPath);
  std::printf(" Blocks: %d\n\n", job.blockCount);
  std::fputs(" BLK NR/T Name\t\t    Begin\t   Length\n", stdout);

  bool anyHeaderError = false;
  bool anyBodyError = false;
  bool anyLengthError = false;
  for (int32_t i = 0; i < job.selectionCount; ++i) {
    const int32_t number = (*job.selection)[static_cast<size_t>(i)];
    const TapeBlock* block = nullptr;
    if (findBlock(job, number, block) != kOk) {
      return;
    }
    if (block->fileType == 0) {
      std::printf("% 3d: ...\t\t\t\t%5d (%04Xh)\n", number, block->length, block->length);
      continue;
    }
    // The stored name is not terminated; a zero byte inside it ends it early.
    char name[9] = {};
    std::memcpy(name, block->name, sizeof block->name);
    const bool lengthError = block->bodyLengthError >= 0;
    std::printf("% 3d: %02d/%c %8.8s\t%5d (%04Xh)\t%5d (%04Xh)\t%s %s %s\n", number,
                block->fileNumber, block->fileType, name, block->beginAddress, block->beginAddress,
                block->length, block->length, block->headerChecksumError != 0 ? "HCE" : "",
                block->bodyChecksumError != 0 ? "BCE" : "", lengthError ? "BLE" : "");
    anyHeaderError = anyHeaderError || block->headerChecksumError != 0;
    anyBodyError = anyBodyError || block->bodyChecksumError != 0;
    anyLengthError = anyLengthError || lengthError;
  }
  printFaultLegend(anyHeaderError, anyBodyError, anyLengthError);
}
