// The choice of one block's bytes among its copies in several takes: a whole copy if
// there is one, else the copies combined byte by byte.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/take_align.h"

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

// True for the decisions that the listing explains below a block that is whole: where
// the bytes were recovered, or where whole copies differ.
bool isNotedDecision(MergeDecision decision);

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

// Chooses among the whole copies of `column` (the takes `wholeTakes`, at least one) the one
// that most whole copies agree with; among equals, the one read most clearly, then the one
// whose bytes sort first, whatever the order of the takes. Sets origin.take,
// origin.decision (agreed or disputed), origin.sources (the takes that read it alike) and
// origin.disputedBytes. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t chooseWholeCopy(const Takes& takes, const TakeColumn& column,
                                      const std::vector<int32_t>& wholeTakes,
                                      BlockOrigin& origin);

// Combines the copies of `column`, of which none is whole, byte by byte into `block`: a
// part whose checksum passes in some copy from those copies alone, else a certain byte
// beating any other and the majority winning among equals. Marks what the result lacks
// and sets origin.decision (recovered or damaged), origin.sources, origin.take and
// origin.disputedBytes. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t combineCopies(const Takes& takes, const TakeColumn& column,
                                    DecodedBlock& block, BlockOrigin& origin);
