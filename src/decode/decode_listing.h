// The listing of decoded blocks, in the columns of tonbrix -list with the time and the
// protocol added. The front ends decide when to print which piece.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/decoded_block.h"

// Prints the column titles.
void printDecodedTableHead();

// Prints the row of block `number` and, with `verbose`, its measured speed and frame
// errors on a line of its own.
void printDecodedRow(const DecodedBlock& block, int32_t number, int32_t verbose);

// Prints the legend of the fault marks that occur in `blocks`, if any.
void printDecodedLegend(const std::vector<DecodedBlock>& blocks);

// Prints the whole listing of `blocks`: the count, the titles, the rows and the legend.
void listDecodedBlocks(const std::vector<DecodedBlock>& blocks, int32_t verbose);
