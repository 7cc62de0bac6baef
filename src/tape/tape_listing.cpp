// The -list output: one row per selected block, then a legend of the fault marks.
#include <cstdio>
#include <cstring>

#include "core/memory.h"
#include "tape/tape_image.h"

namespace {

// The legend keeps the words of the listing that tonbrix's users know; the page explains
// each mark at more length.
constexpr FaultMarkText kFaultMarkTexts[kFaultMarkCount] = {
    {"HCE", "Head CRC error",
     "Header checksum error: the header (name, type, addresses) may be wrong"},
    {"BCE", "Body CRC error", "Body checksum error: some of the body's bytes are wrong"},
    {"BLE", "Body Length error",
     "Body length error: the body is shorter or longer than its header says"},
};

const char* markIf(const TapeBlock& block, FaultMark mark) {
  return hasFaultMark(block, mark) ? describeFaultMark(mark).mark : "";
}

}  // namespace

const FaultMarkText& describeFaultMark(FaultMark mark) { return kFaultMarkTexts[mark]; }

bool hasFaultMark(const TapeBlock& block, FaultMark mark) {
  switch (mark) {
    case kMarkHeaderChecksum:
      return block.headerChecksumError != 0;
    case kMarkBodyChecksum:
      return block.bodyChecksumError != 0;
    case kMarkBodyLength:
      break;
  }
  return block.bodyLengthError >= 0;
}

bool hasFault(const TapeBlock& block) {
  return hasFaultMark(block, kMarkHeaderChecksum) || hasFaultMark(block, kMarkBodyChecksum) ||
         hasFaultMark(block, kMarkBodyLength);
}

void noteFaultMarks(const TapeBlock& block, FaultMarks& marks) {
  for (int32_t m = 0; m < kFaultMarkCount; ++m) {
    marks.shown[m] = marks.shown[m] || hasFaultMark(block, static_cast<FaultMark>(m));
  }
}

void formatListingRow(int32_t number, const TapeBlock& block, const char* extra,
                      FaultMarks& marks, char* row) {
  if (block.fileType == 0) {
    std::snprintf(row, kListingRowSize, "% 3d: ...\t\t\t\t%5d (%04Xh)%s\n", number, block.length,
                  block.length, extra);
    return;
  }
  // The stored name is not terminated; a zero byte inside it ends it early.
  char name[kHeaderNameLength + 1] = {};
  std::memcpy(name, block.name, sizeof block.name);
  std::snprintf(row, kListingRowSize, "% 3d: %02d/%c %8.8s\t%5d (%04Xh)\t%5d (%04Xh)%s\t%s %s %s\n",
                number, block.fileNumber, block.fileType, name, block.beginAddress,
                block.beginAddress, block.length, block.length, extra,
                markIf(block, kMarkHeaderChecksum), markIf(block, kMarkBodyChecksum),
                markIf(block, kMarkBodyLength));
  noteFaultMarks(block, marks);
}

void printListingRow(int32_t number, const TapeBlock& block, const char* extra, FaultMarks& marks) {
  char row[kListingRowSize];
  formatListingRow(number, block, extra, marks, row);
  std::fputs(row, stdout);
}

int32_t appendFaultLegend(std::string& text, const FaultMarks& marks) {
  const bool any = marks.shown[kMarkHeaderChecksum] || marks.shown[kMarkBodyChecksum] ||
                   marks.shown[kMarkBodyLength];
  int32_t status = any ? appendText(text, "\n") : kOk;
  for (int32_t m = 0; m < kFaultMarkCount && status == kOk; ++m) {
    if (marks.shown[m]) {
      const FaultMarkText& words = describeFaultMark(static_cast<FaultMark>(m));
      status = appendText(text, std::string("   ") + words.mark + " = " + words.legend + "\n");
    }
  }
  return status;
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
  std::string legend;
  if (appendFaultLegend(legend, marks) == kOk) {
    std::fputs(legend.c_str(), stdout);
  }
}
