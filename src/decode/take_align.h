// The alignment of several takes of one cassette: which blocks of each take are copies of
// the same block of the tape, and in what order the tape holds them.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/decoded_block.h"

// The blocks of each take, in the order of its recording; takes are numbered from 0.
using Takes = std::vector<std::vector<DecodedBlock>>;

// One block of the tape as the takes hold it: per take, the index of its copy or kNoCopy.
using TakeColumn = std::vector<int32_t>;
inline constexpr int32_t kNoCopy = -1;

// Aligns the blocks of `takes` into `columns`, in tape order. Takes may start and stop at
// different places and miss a block or hold one more: a header with good checksums pairs
// only with copies of the same header fields, a header whose checksum failed with any
// header in its place, and a headerless block with one of the same length in its place
// (of any length when either copy is damaged), or with a header whose body it is (of
// the length the header states, or of the header's body): a take that lost a header
// still holds its body. Every block of every take stands in
// exactly one column, in its take's order. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t alignTakes(const Takes& takes, std::vector<TakeColumn>& columns);
