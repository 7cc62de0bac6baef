// Placing by content: the bytes a take read after a gap whose frames it could only
// estimate have no known place of their own. Where the other takes read the same stretch
// for certain, those bytes agree with theirs at one offset only, and that offset places
// them.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/decoded_block.h"

// One copy's body with its unplaced bytes put where the other copies' bytes place them.
struct PlacedBody {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> confidence;
  std::vector<uint8_t> floating;  // 1 where a byte's place is still unknown
};

// Makes `placed[i]` from the body of `copies[i]` where it holds unplaced bytes (else leaves
// it empty). Each run of its unplaced bytes between two gaps is moved to the offset,
// within what the gaps before it may have been miscounted by, at which its clear bytes
// agree with the certain bytes of the other copies, clearly and at no other offset; there
// it takes back the grades its frames were read with. Runs placed so lend their bytes to
// the next round, until a round places no more. A run that no offset places stays where
// it was, uncertain and floating; where a run moved from, the bytes are unknown. The
// result does not depend on the order of `copies`. Returns kOk or kErrOutOfMemory,
// reported.
[[nodiscard]] int32_t placeByContent(const std::vector<const DecodedBlock*>& copies,
                                     std::vector<PlacedBody>& placed);
