// Several takes of one cassette made into one tape: their blocks are aligned as the same
// blocks (take_align), and each block is taken from the copies that read it best
// (take_vote).
#pragma once

#include <cstdint>
#include <vector>

#include "decode/take_vote.h"

// One tape made of several takes: blocks[i] came about as origins[i] says.
struct TapeMerge {
  std::vector<DecodedBlock> blocks;
  std::vector<BlockOrigin> origins;
};

// Aligns the blocks of `takes` (alignTakes) and merges them into `merge`, in tape order.
// Each block is a whole copy (not isDamaged) if there is one, the one most whole copies
// agree with (chooseWholeCopy); else the copies are combined byte by byte
// (combineCopies). A block that one take alone holds is kept as it is, so one take gives
// back exactly its blocks. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t mergeTakes(const Takes& takes, TapeMerge& merge);

// How a decode of one or several takes ends, once they are merged: kErrNoBlocks when no
// take held a block (there is no image), kErrDamagedBlocks when a merged block carries a
// fault mark (the image is written all the same), else kOk. Nothing is reported.
int32_t mergeEnding(const TapeMerge& merge);
