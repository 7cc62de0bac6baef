// The listing of decoded blocks, in the columns of tonbrix -list with the time and the
// protocol added. The front ends decide when to print which piece.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/decoded_block.h"
#include "decode/take_merge.h"

// Prints the column titles.
void printDecodedTableHead();

// Prints the row of block `number`; with `verbose`, its measured speed and frame errors on
// a line of its own; and, for a block that lost bytes under a dropout, how many and the
// time of the first (m:ss.mmm in the recording).
void printDecodedRow(const DecodedBlock& block, int32_t number, int32_t verbose);

// Prints the legend of the fault marks that occur in `blocks`, if any.
void printDecodedLegend(const std::vector<DecodedBlock>& blocks);

// Prints the whole listing of `blocks`: the count, the titles, the rows and the legend.
void listDecodedBlocks(const std::vector<DecodedBlock>& blocks, int32_t verbose);

// Prints the count of `blocks`, and of the damaged among them, for a take that is one of
// several: the merged listing shows the blocks.
void printTakeSummary(const std::vector<DecodedBlock>& blocks);

// Prints the listing of a tape merged from `takeCount` takes: the counts, the titles, a
// row per block with the takes it came from (the time is in the first of them), and
// below a block that was recovered, disputed or is damaged a line that says so: for a
// damaged one, its unknown bytes and the time of the first in its take, so that the spot
// can be found in the recording.
void listMergedBlocks(const TapeMerge& merge, int32_t takeCount, int32_t verbose);

// Writes `seconds` as m:ss.mmm (minutes without limit) into `text`.
void formatMinutes(double seconds, char* text, size_t size);
