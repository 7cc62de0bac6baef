// The rows, titles and legend of a decoded tape's listing.
#include "decode/decode_listing.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "core/memory.h"
#include "tape/tape_image.h"

namespace {

// Listing text being built; the first failed allocation stops it.
struct Listing {
  std::string& text;
  int32_t status = kOk;
};

void add(Listing& listing, const char* piece) {
  if (listing.status == kOk) {
    listing.status = appendText(listing.text, piece);
  }
}

__attribute__((format(printf, 2, 3))) void addFormatted(Listing& listing, const char* format,
                                                        ...) {
  char line[kListingRowSize];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  add(listing, line);
}

const char* pluralS(int64_t count) { return count == 1 ? "" : "s"; }

// The row of block `number`, with `takes` before the time when takes were merged.
void addRow(Listing& listing, const DecodedBlock& block, int32_t number, int32_t verbose,
            const char* takes) {
  // A headerless row has no fault columns; a cut one gets its BLE where they would be.
  const bool cutHeaderless = block.info.fileType == 0 && hasFaultMark(block.info, kMarkBodyLength);
  char takesColumn[160] = "";
  if (takes != nullptr) {
    std::snprintf(takesColumn, sizeof takesColumn, " %-6s", takes);
  }
  char columns[256];
  std::snprintf(columns, sizeof columns, "\t%s%6.1fs  %s%s%s%s", takesColumn, block.startSeconds,
                protocolName(block.protocol), block.phase == kPhaseReversed ? ", Reversal Phase" : "",
                cutHeaderless ? "\t  " : "",
                cutHeaderless ? describeFaultMark(kMarkBodyLength).mark : "");
  FaultMarks marks;
  char row[kListingRowSize];
  formatListingRow(number, block.info, columns, marks, row);
  add(listing, row);
  if (verbose != 0) {
    addFormatted(listing, "      %.1f %s per second, %d frame errors\n", block.cellRate,
                 block.protocol == kProtocolMato ? "pilot cycles" : "cells", block.frameErrors);
  }
}

// The lines below a block that tell, so that each spot can be found in an audio editor,
// how many bytes were not read, read in doubt or are missing, and where the first of each
// lies; and where each run of unknown bytes lies, where there are several. `where` follows
// each time (the take it lies in).
void addDoubtNotes(Listing& listing, const DecodedBlock& block, const char* where) {
  std::vector<DoubtfulRun> runs;
  if (listing.status == kOk) {
    listing.status = findDoubtfulRuns(block, runs);
  }
  size_t unknownRuns = 0;
  for (const ByteDoubt doubt : {kDoubtUnknown, kDoubtUncertain, kDoubtMissing}) {
    size_t count = 0;
    const DoubtfulRun* first = nullptr;
    for (const DoubtfulRun& run : runs) {
      if (run.doubt == doubt) {
        count += run.count;
        first = first == nullptr ? &run : first;
        unknownRuns += doubt == kDoubtUnknown ? 1 : 0;
      }
    }
    if (first != nullptr) {
      char time[32];
      formatMinutes(first->seconds, time, sizeof time);
      addFormatted(listing, "      %zu %s byte%s, %s %s%s\n", count, doubtName(doubt),
                   pluralS(static_cast<int64_t>(count)),
                   doubt == kDoubtMissing ? "from" : "the first at", time, where);
    }
  }
  if (unknownRuns > 1) {
    add(listing, "      unknown at");
    for (const DoubtfulRun& run : runs) {
      if (run.doubt == kDoubtUnknown) {
        char time[32];
        formatMinutes(run.seconds, time, sizeof time);
        addFormatted(listing, " %s (%zu)%s", time, run.count, --unknownRuns > 0 ? "," : "");
      }
    }
    add(listing, "\n");
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

// The lines below a merged block that is damaged: what the takes disputed, what no take
// read, and where.
void addDamageNote(Listing& listing, const DecodedBlock& block, const BlockOrigin& origin,
                   const char* takes) {
  if (origin.unknownBytes == 0 && origin.disputedBytes == 0) {
    if (origin.sources.size() > 1) {
      addFormatted(listing, "      takes %s read every byte alike: the fault is on the tape\n",
                   takes);
    }
    return;
  }
  if (origin.disputedBytes > 0) {
    addFormatted(listing, "      %d disputed byte%s\n", origin.disputedBytes,
                 pluralS(origin.disputedBytes));
  }
  char where[32];
  std::snprintf(where, sizeof where, " in take %d", origin.take + 1);
  addDoubtNotes(listing, block, where);
}

// The line below a merged block that is not simply whole.
void addMergeNote(Listing& listing, const DecodedBlock& block, const BlockOrigin& origin) {
  char takes[128];
  formatTakes(origin.sources, takes, sizeof takes);
  const char* plural = pluralS(static_cast<int64_t>(origin.sources.size()));
  if (isNotedDecision(origin.decision)) {
    if (origin.decision == kMergeRecovered) {
      addFormatted(listing, "      recovered from take%s %s\n", plural, takes);
    } else {
      addFormatted(listing, "      whole copies differ in %d byte%s: kept that of take%s %s\n",
                   origin.disputedBytes, pluralS(origin.disputedBytes), plural, takes);
    }
  } else if (isDamaged(block)) {
    addDamageNote(listing, block, origin, takes);
  }
}

// The lines that name a take of another tape, and a take that shares no block with the
// others.
void addTakeNotes(Listing& listing, const TapeMerge& merge) {
  for (const ForeignTake& foreign : merge.foreign) {
    addFormatted(listing, " Take %d holds another tape: its blocks", foreign.take + 1);
    for (size_t b = 0; b < foreign.blocks.size(); ++b) {
      addFormatted(listing, "%s %d", b == 0 ? "" : ",", foreign.blocks[b]);
    }
    add(listing, merge.foreignMerged ? " contradict the other takes; merged all the same\n"
                                     : " contradict the other takes; it is left out\n");
  }
  for (const int32_t take : merge.lone) {
    addFormatted(listing, " Take %d shares no block with the other takes\n", take + 1);
  }
}

}  // namespace

int32_t appendDecodedRow(std::string& text, const DecodedBlock& block, int32_t number,
                         int32_t verbose) {
  Listing listing{text};
  addRow(listing, block, number, verbose, nullptr);
  addDoubtNotes(listing, block, "");
  return listing.status;
}

int32_t appendDecodedTableHead(std::string& text) {
  return appendText(text, " BLK NR/T Name\t\t    Begin\t   Length\t   Time  Protocol\n");
}

int32_t appendBlockCount(std::string& text, const std::vector<DecodedBlock>& blocks) {
  return appendText(text, " Blocks: " + std::to_string(blocks.size()) + "\n");
}

int32_t appendDecodedLegend(std::string& text, const std::vector<DecodedBlock>& blocks) {
  FaultMarks marks;
  for (const DecodedBlock& block : blocks) {
    noteFaultMarks(block.info, marks);
  }
  return appendFaultLegend(text, marks);
}

int32_t listDecodedBlocks(std::string& text, const std::vector<DecodedBlock>& blocks,
                          int32_t verbose) {
  int32_t status = appendBlockCount(text, blocks);
  if (status == kOk) {
    status = appendText(text, "\n");
  }
  if (status == kOk) {
    status = appendDecodedTableHead(text);
  }
  for (size_t i = 0; i < blocks.size() && status == kOk; ++i) {
    status = appendDecodedRow(text, blocks[i], static_cast<int32_t>(i + 1), verbose);
  }
  return status == kOk ? appendDecodedLegend(text, blocks) : status;
}

int32_t appendTakeSummary(std::string& text, const std::vector<DecodedBlock>& blocks) {
  Listing listing{text};
  const int32_t damaged = countDamagedBlocks(blocks);
  const auto count = static_cast<int32_t>(blocks.size());
  if (damaged > 0) {
    addFormatted(listing, " Blocks: %d, %d damaged\n", count, damaged);
  } else {
    addFormatted(listing, " Blocks: %d\n", count);
  }
  return listing.status;
}

int32_t appendStrayFrames(std::string& text, const std::vector<double>& strayFrames) {
  Listing listing{text};
  for (const double seconds : strayFrames) {
    char at[32];
    formatMinutes(seconds, at, sizeof at);
    addFormatted(listing, " A block may be missing at %s: frames go on there without a leader\n",
                 at);
  }
  return listing.status;
}

int32_t listMergedBlocks(std::string& text, const TapeMerge& merge, int32_t takeCount,
                         int32_t verbose) {
  Listing listing{text};
  addFormatted(listing, " Takes: %d\n Blocks: %d\n\n", takeCount,
               static_cast<int32_t>(merge.blocks.size()));
  add(listing, " BLK NR/T Name\t\t    Begin\t   Length\t Takes    Time  Protocol\n");
  for (size_t i = 0; i < merge.blocks.size() && listing.status == kOk; ++i) {
    char takes[128];
    formatTakes(merge.origins[i].sources, takes, sizeof takes);
    addRow(listing, merge.blocks[i], static_cast<int32_t>(i + 1), verbose, takes);
    addMergeNote(listing, merge.blocks[i], merge.origins[i]);
  }
  addTakeNotes(listing, merge);
  return listing.status == kOk ? appendDecodedLegend(text, merge.blocks) : listing.status;
}

void formatMinutes(double seconds, char* text, size_t size) {
  const long long milliseconds = std::llround(std::max(seconds, 0.0) * 1000);
  std::snprintf(text, size, "%lld:%02lld.%03lld", milliseconds / 60000, milliseconds / 1000 % 60,
                milliseconds % 1000);
}
