// Several takes of one cassette made into one tape: their blocks are aligned as the same
// blocks, and each block is taken from the copies that read it best.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/decoded_block.h"

// How a merged block came about.
enum MergeDecision : int32_t {
  kMergeSingle = 0,     // one take holds it: kept exactly as that take read it
  kMergeAgreed = 1,     // whole copies, all alike
  kMergeDisputed = 2,   // whole copies that differ: the one most takes agree with is kept
  kMergeRecovered = 3,  // no whole copy; combined byte by byte, and the checksums pass
  kMergeDamaged = 4,    // combined byte by byte, still not whole
};

// The decision's name in the report and on the page: "single", "agreed", "disputed",
// "recovered" or "damaged".
const char* mergeDecisionName(MergeDecision decision);

// Where one merged block comes from. Takes are numbered from 0 in the order given.
struct BlockOrigin {
  std::vector<int32_t> copies;   // per take: the index of its copy in that take's blocks, or -1
  std::vector<int32_t> sources;  // the takes whose bytes the block holds, ascending
  MergeDecision decision = kMergeSingle;
  int32_t take = 0;           // the take whose copy lends the block its times and measures
  int32_t unknownBytes = 0;   // read by no take: countLostBytes
  int32_t disputedBytes = 0;  // the deciding copies read different values
  int32_t firstUnknown = -1;  // byte index (header part first, then body) or -1
};

// One tape made of several takes: blocks[i] came about as origins[i] says.
struct TapeMerge {
  std::vector<DecodedBlock> blocks;
  std::vector<BlockOrigin> origins;
};

// Aligns the blocks of `takes` (each in the order of its recording) and merges them into
// `merge`, in tape order. Takes may start and stop at different places and miss a block
// or hold one more: a header with good checksums pairs only with copies of the same
// header fields, a header whose checksum failed with any header in its place, and a
// headerless block with one of the same length in its place (of any length when either
// copy is damaged). Each block is a whole copy (not isDamaged) if there
// is one, the one most whole copies agree with; else the copies are combined byte by
// byte, a certain byte beating any other and the majority winning among equals. A block
// that one take alone holds is kept as it is, so one take gives back exactly its blocks.
// Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t mergeTakes(const std::vector<std::vector<DecodedBlock>>& takes,
                                 TapeMerge& merge);

// How a decode of one or several takes ends, once they are merged: kErrNoBlocks when no
// take held a block (there is no image), kErrDamagedBlocks when a merged block carries a
// fault mark (the image is written all the same), else kOk. Nothing is reported: the
// front end names the takes (nameTakes), the first before the listing, the second after
// the image is written.
int32_t mergeEnding(const TapeMerge& merge);

// The bytes of `block` that no take read: the unknown ones (countUnknownBytes) and,
// after a header with a good checksum, those missing from a short body. `first` is set to
// the byte index (header part first, then body) of the first, or -1.
int32_t countLostBytes(const DecodedBlock& block, int32_t& first);

// The time in the recording at which byte `index` of `block` (header part first, then
// body) starts; a byte past the end of the body lies where the body would have gone on.
double blockByteSeconds(const DecodedBlock& block, size_t index);
