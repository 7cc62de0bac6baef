// Several takes of one cassette made into one tape: their blocks are aligned as the same
// blocks (take_align), and each block is taken from the copies that read it best
// (take_vote).
#pragma once

#include <cstdint>
#include <vector>

#include "decode/take_vote.h"

// A take whose certain bytes contradict the other takes' in blocks they share, beyond what
// damage explains: a recording of another tape, perhaps with blocks of the same names.
struct ForeignTake {
  int32_t take = 0;
  std::vector<int32_t> blocks;  // the contradicting blocks, numbered from 1 in that take
};

// One tape made of several takes: blocks[i] came about as origins[i] says.
struct TapeMerge {
  std::vector<DecodedBlock> blocks;
  std::vector<BlockOrigin> origins;
  std::vector<ForeignTake> foreign;
  bool foreignMerged = false;  // asked to, the foreign takes were merged all the same
  std::vector<int32_t> lone;   // takes that share no block with any other
};

// Aligns the blocks of `takes` (alignTakes) and merges them into `merge`, in tape order.
// Each block is a whole copy (not isDamaged) if there is one, the one most whole copies
// agree with (chooseWholeCopy); else the copies are combined byte by byte
// (combineCopies). A block that one take alone holds is kept as it is, so one take gives
// back exactly its blocks. A take of another tape (ForeignTake) is left out of the merge
// unless `mergeForeign`. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t mergeTakes(const Takes& takes, TapeMerge& merge, bool mergeForeign = false);

// How a decode of one or several takes ends, once they are merged: kErrNoBlocks when no
// take held a block (there is no image), kErrForeignTake when a take of another tape was
// found (the image of the others is written, or of all of them where they were merged
// all the same: never a whole ending for a mixed image), kErrDamagedBlocks when a merged
// block carries a fault mark (the image is written all the same), else kOk. Nothing is
// reported.
int32_t mergeEnding(const TapeMerge& merge);
