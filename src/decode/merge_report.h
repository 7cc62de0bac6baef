// The report of a decode as JSON text: for every block of the tape and every take's copy
// of it, where it lies in the recording, how it was read, what was lost and how the
// merge decided. Text only; the front end writes it where it is asked to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/take_merge.h"

// What the report tells of a take besides its blocks.
struct TakeFacts {
  std::string name;  // as messages name it
  int32_t sampleRate = 0;
  int32_t channel = 0;  // 0-based: the channel whose blocks were kept
  int32_t channelCount = 0;
  int64_t frames = 0;  // sample frames read
};

// The takes as the messages about the tape they make name them: "a.wav', 'b.wav" goes
// between the quotes of "... found in '%s'".
std::string nameTakes(const std::vector<TakeFacts>& facts);

// How far a block's tape ran from its nominal speed, in %: the PMD 85 cell rate against
// 1200 or 2400 cells a second, the Mato space rate against 1050 Hz.
double speedDeviationPercent(const DecodedBlock& block);

// Appends to `text` the report of `merge`, made from `takes` (the blocks of each, as
// decoded) described by `facts`; `image` names the tape image written, or is nullptr.
// Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t buildMergeReport(const std::vector<TakeFacts>& facts,
                                       const std::vector<std::vector<DecodedBlock>>& takes,
                                       const TapeMerge& merge, const char* image,
                                       std::string& text);
