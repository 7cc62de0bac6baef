// The listing of decoded blocks, in the columns of tonbrix -list with the time and the
// protocol added, as text. The front ends decide when to print which piece; each piece
// ends with its newline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decode/decoded_block.h"
#include "decode/take_merge.h"

// Each of these appends its piece to `text` and returns kOk or kErrOutOfMemory, reported.

// The column titles.
[[nodiscard]] int32_t appendDecodedTableHead(std::string& text);

// The row of block `number`; with `verbose`, its measured speed and frame errors on a
// line of its own; and, for a block that lost bytes under a dropout, how many and the
// time of the first (m:ss.mmm in the recording).
[[nodiscard]] int32_t appendDecodedRow(std::string& text, const DecodedBlock& block,
                                       int32_t number, int32_t verbose);

// The count of `blocks` (" Blocks: 3").
[[nodiscard]] int32_t appendBlockCount(std::string& text, const std::vector<DecodedBlock>& blocks);

// The legend of the fault marks that occur in `blocks`, if any.
[[nodiscard]] int32_t appendDecodedLegend(std::string& text,
                                          const std::vector<DecodedBlock>& blocks);

// The whole listing of `blocks`: the count, the titles, the rows and the legend.
[[nodiscard]] int32_t listDecodedBlocks(std::string& text, const std::vector<DecodedBlock>& blocks,
                                        int32_t verbose);

// The count of `blocks`, and of the damaged among them, for a take that is one of
// several: the merged listing shows the blocks.
[[nodiscard]] int32_t appendTakeSummary(std::string& text, const std::vector<DecodedBlock>& blocks);

// A line for each time in `strayFrames` (seconds in the recording) where frames went on
// that no leader introduced: a block may be missing there.
[[nodiscard]] int32_t appendStrayFrames(std::string& text, const std::vector<double>& strayFrames);

// The listing of a tape merged from `takeCount` takes: the counts, the titles, a row per
// block with the takes it came from (the time is in the first of them), and below a
// block that was recovered, disputed or is damaged a line that says so: for a damaged
// one, its unknown bytes and the time of the first in its take, so that the spot can be
// found in the recording.
[[nodiscard]] int32_t listMergedBlocks(std::string& text, const TapeMerge& merge,
                                       int32_t takeCount, int32_t verbose);

// Writes `seconds` as m:ss.mmm (minutes without limit) into `text`.
void formatMinutes(double seconds, char* text, size_t size);
