// Voting among the copies of one block: the whole copy most takes agree with, or the
// bytes that the copies read best.
#include "decode/take_vote.h"

#include <algorithm>
#include <tuple>

#include "core/memory.h"
#include "decode/take_place.h"
#include "tape/tape_image.h"

namespace {

// One take's reading of one byte.
struct Reading {
  uint8_t value = 0;
  uint8_t confidence = kByteUnknown;
  int32_t take = 0;
};

bool hasUnknownIn(const std::vector<uint8_t>& confidence) {
  return std::find(confidence.begin(), confidence.end(), kByteUnknown) != confidence.end();
}

// The times and measures of a copy, which the merged block takes from one take.
void copyMeasures(const DecodedBlock& from, DecodedBlock& to) {
  to.protocol = from.protocol;
  to.phase = from.phase;
  to.startSeconds = from.startSeconds;
  to.endSeconds = from.endSeconds;
  to.cellRate = from.cellRate;
  to.cellSpread = from.cellSpread;
  to.swing = from.swing;
  to.frameErrors = from.frameErrors;
  to.headerTimes = from.headerTimes;
  to.bodyTimes = from.bodyTimes;
}

bool sameBytes(const DecodedBlock& a, const DecodedBlock& b) {
  return a.headerPart == b.headerPart && a.body == b.body;
}

int64_t confidenceSum(const DecodedBlock& block) {
  int64_t sum = 0;
  for (const std::vector<uint8_t>* list : {&block.headerConfidence, &block.bodyConfidence}) {
    for (const uint8_t confidence : *list) {
      sum += confidence;
    }
  }
  return sum;
}

int32_t countDifferentBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const size_t common = std::min(a.size(), b.size());
  size_t count = std::max(a.size(), b.size()) - common;
  for (size_t i = 0; i < common; ++i) {
    count += a[i] != b[i] ? 1u : 0u;
  }
  return static_cast<int32_t>(count);
}

// Decides one byte from the readings of the copies that hold it (in take order): the
// certain ones if any, else any that were read at all; the value most of them read, among
// equals the one read most clearly, then the smallest. Sets `floor` to the confidence a
// reading needed to count.
Reading chooseByte(const std::vector<Reading>& readings, size_t count, uint8_t& floor,
                   bool& disputed) {
  floor = kByteUnknown + 1;
  for (size_t r = 0; r < count; ++r) {
    floor = readings[r].confidence >= kMinCertainByte ? kMinCertainByte : floor;
  }
  Reading best;
  int64_t bestVotes = 0;
  int64_t bestWeight = 0;
  disputed = false;
  for (size_t r = 0; r < count; ++r) {
    if (readings[r].confidence < floor) {
      continue;
    }
    int64_t votes = 0;
    int64_t weight = 0;
    uint8_t clearest = 0;
    for (size_t s = 0; s < count; ++s) {
      if (readings[s].confidence >= floor && readings[s].value == readings[r].value) {
        ++votes;
        weight += readings[s].confidence;
        clearest = std::max(clearest, readings[s].confidence);
      }
    }
    disputed = disputed || (bestVotes > 0 && readings[r].value != best.value);
    // Where votes and clarity tie, the smaller value: the order of the takes must not
    // decide.
    const bool tie = votes == bestVotes && weight == bestWeight;
    if (votes > bestVotes || (votes == bestVotes && weight > bestWeight) ||
        (tie && readings[r].value < best.value)) {
      best = readings[r];
      best.confidence = clearest;
      bestVotes = votes;
      bestWeight = weight;
    }
  }
  if (disputed) {
    best.confidence = std::min(best.confidence, kByteUncertain);
  }
  return best;
}

// The bytes and confidences of one part of a block in each take's copy.
struct PartCopy {
  const std::vector<uint8_t>* bytes = nullptr;
  const std::vector<uint8_t>* confidence = nullptr;
  int32_t take = 0;
  const std::vector<uint8_t>* floating = nullptr;  // 1 where a byte's place is unknown
};

bool isFloating(const PartCopy& copy, size_t i) {
  return copy.floating != nullptr && (*copy.floating)[i] != 0;
}

// The readings of byte `i` in `copies`, into `readings`; a byte whose place is unknown
// counts only where no copy read that place itself.
size_t gatherReadings(const std::vector<PartCopy>& copies, size_t i,
                      std::vector<Reading>& readings) {
  const bool placedRead = std::any_of(copies.begin(), copies.end(), [i](const PartCopy& copy) {
    return i < copy.bytes->size() && (*copy.confidence)[i] != kByteUnknown && !isFloating(copy, i);
  });
  size_t count = 0;
  for (const PartCopy& copy : copies) {
    if (i < copy.bytes->size() && !(placedRead && isFloating(copy, i))) {
      readings[count++] = {(*copy.bytes)[i], (*copy.confidence)[i], copy.take};
    }
  }
  return count;
}

// Combines bytes [0, size) of one part from its copies into `bytes` and `confidence`;
// marks in `used` the takes whose reading was kept somewhere and counts the disputed bytes.
int32_t combinePart(const std::vector<PartCopy>& copies, size_t size, std::vector<uint8_t>& bytes,
                    std::vector<uint8_t>& confidence, std::vector<uint8_t>& used,
                    int32_t& disputed) {
  std::vector<Reading> readings;
  int32_t status = resizeItems(readings, copies.size());
  if (status == kOk) {
    status = resizeItems(bytes, size);
  }
  if (status == kOk) {
    status = resizeItems(confidence, size);
  }
  if (status != kOk) {
    return status;
  }
  for (size_t i = 0; i < size; ++i) {
    const size_t count = gatherReadings(copies, i, readings);
    uint8_t floor = 0;
    bool split = false;
    const Reading chosen = chooseByte(readings, count, floor, split);
    bytes[i] = chosen.value;
    confidence[i] = chosen.confidence;
    disputed += split ? 1 : 0;
    for (size_t r = 0; r < count; ++r) {
      if (readings[r].confidence >= floor && readings[r].value == chosen.value) {
        used[static_cast<size_t>(readings[r].take)] = 1;
      }
    }
  }
  return kOk;
}

// The body length of a block combined from `copies`: what a header with a good checksum
// states, unless no copy reaches that far; for a headerless block, the length most
// copies that were not cut agree on.
size_t combinedBodyLength(const std::vector<const DecodedBlock*>& copies, const TapeBlock& info,
                          bool header) {
  size_t longest = 0;
  for (const DecodedBlock* copy : copies) {
    longest = std::max(longest, copy->body.size());
  }
  if (header) {
    const size_t stated = size_t{info.length} + kBodyPartExtra;
    return info.headerChecksumError == 0 ? std::min(stated, longest) : longest;
  }
  size_t chosen = 0;
  int64_t chosenVotes = 0;
  for (const DecodedBlock* copy : copies) {
    if (copy->info.bodyLengthError >= 0) {
      continue;
    }
    const int64_t votes = std::count_if(copies.begin(), copies.end(), [&](const DecodedBlock* b) {
      return b->info.bodyLengthError < 0 && b->body.size() == copy->body.size();
    });
    if (votes > chosenVotes || (votes == chosenVotes && copy->body.size() > chosen)) {
      chosen = copy->body.size();
      chosenVotes = votes;
    }
  }
  return chosenVotes > 0 ? chosen : longest;
}

// The copies of one block, and those of its parts that the combination reads from.
struct BlockCopies {
  std::vector<const DecodedBlock*> all;
  std::vector<PartCopy> headers;
  std::vector<PartCopy> bodies;
  std::vector<PlacedBody> placed;  // per copy in `all`: its body placed, or empty
};

// A part whose checksum passes in some copy is taken from those copies alone: the other
// copies' readings of it are known to hold a fault somewhere.
bool isHeaderVerified(const DecodedBlock& copy) {
  return !copy.headerPart.empty() && copy.info.headerChecksumError == 0 &&
         !hasUnknownIn(copy.headerConfidence);
}

// A headerless copy of a header's body has no checksum of its own to pass.
bool isBodyVerified(const DecodedBlock& copy) {
  return !copy.headerPart.empty() && copy.info.bodyChecksumError == 0 &&
         copy.info.bodyLengthError < 0 && !hasUnknownIn(copy.bodyConfidence);
}

// The body of the `index`th copy as the combination reads it: its unplaced bytes placed by
// the other copies' bytes where they could be.
PartCopy bodyOf(const BlockCopies& copies, size_t index, int32_t take) {
  const PlacedBody& placed = copies.placed[index];
  if (placed.bytes.empty()) {
    const DecodedBlock& copy = *copies.all[index];
    return PartCopy{&copy.body, &copy.bodyConfidence, take};
  }
  return PartCopy{&placed.bytes, &placed.confidence, take, &placed.floating};
}

int32_t gatherCopies(const Takes& takes, const TakeColumn& column, BlockCopies& copies) {
  int32_t status = kOk;
  for (size_t t = 0; t < takes.size() && status == kOk; ++t) {
    if (column[t] != kNoCopy) {
      status = appendItem(copies.all, &takes[t][static_cast<size_t>(column[t])]);
    }
  }
  if (status == kOk) {
    status = placeByContent(copies.all, copies.placed);
  }
  const auto verified = [&](bool (*test)(const DecodedBlock&)) {
    return std::any_of(copies.all.begin(), copies.all.end(),
                       [test](const DecodedBlock* copy) { return test(*copy); });
  };
  const bool anyHeaderVerified = verified(isHeaderVerified);
  const bool anyBodyVerified = verified(isBodyVerified);
  for (size_t t = 0, index = 0; t < takes.size() && status == kOk; ++t) {
    if (column[t] == kNoCopy) {
      continue;
    }
    const DecodedBlock& copy = takes[t][static_cast<size_t>(column[t])];
    const auto take = static_cast<int32_t>(t);
    const PartCopy body = bodyOf(copies, index++, take);
    if (!anyHeaderVerified || isHeaderVerified(copy)) {
      status = appendItem(copies.headers, PartCopy{&copy.headerPart, &copy.headerConfidence, take});
    }
    if (status == kOk && (!anyBodyVerified || isBodyVerified(copy))) {
      status = appendItem(copies.bodies, body);
    }
  }
  return status;
}

// Sets the fault marks of a combined block whose body holds `length` bytes.
void markCombined(const std::vector<const DecodedBlock*>& copies, bool header, size_t length,
                  int32_t disputedBytes, DecodedBlock& block) {
  TapeBlock& info = block.info;
  info.bodyChecksumError = 0;
  info.bodyLengthError = -1;
  if (header) {
    checkBodyPart(block.body.data(), static_cast<int64_t>(length), false, info);
    return;
  }
  info.length = static_cast<uint16_t>(length);
  const bool lengthKnown = std::any_of(copies.begin(), copies.end(), [](const DecodedBlock* b) {
    return b->info.bodyLengthError < 0;
  });
  // Without a checksum to settle them, bytes the takes dispute leave the block in doubt;
  // lost bytes show as unknown.
  if (!lengthKnown || disputedBytes > 0) {
    info.bodyLengthError = static_cast<int32_t>(length);
  }
}

}  // namespace

const char* mergeDecisionName(MergeDecision decision) {
  switch (decision) {
    case kMergeAgreed:
      return "agreed";
    case kMergeDisputed:
      return "disputed";
    case kMergeRecovered:
      return "recovered";
    case kMergeDamaged:
      return "damaged";
    case kMergeSingle:
      break;
  }
  return "single";
}

bool isNotedDecision(MergeDecision decision) {
  return decision == kMergeRecovered || decision == kMergeDisputed;
}

int32_t chooseWholeCopy(const Takes& takes, const TakeColumn& column,
                        const std::vector<int32_t>& wholeTakes, BlockOrigin& origin) {
  const auto copyOf = [&](int32_t take) -> const DecodedBlock& {
    const auto t = static_cast<size_t>(take);
    return takes[t][static_cast<size_t>(column[t])];
  };
  int32_t best = wholeTakes[0];
  int64_t bestVotes = 0;
  int64_t bestWeight = -1;
  for (const int32_t take : wholeTakes) {
    const int64_t votes = std::count_if(wholeTakes.begin(), wholeTakes.end(), [&](int32_t other) {
      return sameBytes(copyOf(take), copyOf(other));
    });
    const int64_t weight = confidenceSum(copyOf(take));
    // Where votes and clarity tie, the copy whose bytes sort first: the order of the takes
    // must not decide.
    const bool tie = votes == bestVotes && weight == bestWeight;
    const auto bytesOf = [&](int32_t t) {
      return std::tie(copyOf(t).headerPart, copyOf(t).body);
    };
    if (votes > bestVotes || (votes == bestVotes && weight > bestWeight) ||
        (tie && bytesOf(take) < bytesOf(best))) {
      best = take;
      bestVotes = votes;
      bestWeight = weight;
    }
  }
  origin.take = best;
  origin.decision =
      bestVotes == static_cast<int64_t>(wholeTakes.size()) ? kMergeAgreed : kMergeDisputed;
  const DecodedBlock& kept = copyOf(best);
  for (const int32_t take : wholeTakes) {
    const DecodedBlock& copy = copyOf(take);
    if (sameBytes(copy, kept)) {
      const int32_t status = appendItem(origin.sources, take);
      if (status != kOk) {
        return status;
      }
    } else {
      origin.disputedBytes = std::max(origin.disputedBytes,
                                      countDifferentBytes(copy.headerPart, kept.headerPart) +
                                          countDifferentBytes(copy.body, kept.body));
    }
  }
  return kOk;
}

int32_t combineCopies(const Takes& takes, const TakeColumn& column, DecodedBlock& block,
                      BlockOrigin& origin) {
  BlockCopies copies;
  std::vector<uint8_t> used;
  int32_t status = resizeItems(used, takes.size());
  if (status == kOk) {
    status = gatherCopies(takes, column, copies);
  }
  if (status != kOk) {
    return status;
  }
  // Copies that lost the header part the others hold lend the block their bodies only.
  const auto withHeader = std::find_if(copies.all.begin(), copies.all.end(),
                                       [](const DecodedBlock* copy) { return !copy->headerPart.empty(); });
  const bool header = withHeader != copies.all.end();
  block = DecodedBlock{};
  block.info = (header ? *withHeader : copies.all[0])->info;
  if (header) {
    status = combinePart(copies.headers, kHeaderPartLength, block.headerPart,
                         block.headerConfidence, used, origin.disputedBytes);
    if (status == kOk) {
      detectHeader(block.headerPart.data(), block.info);
    }
  }
  const size_t length = combinedBodyLength(copies.all, block.info, header);
  if (status == kOk) {
    status = combinePart(copies.bodies, length, block.body, block.bodyConfidence, used,
                         origin.disputedBytes);
  }
  if (status != kOk) {
    return status;
  }
  markCombined(copies.all, header, length, origin.disputedBytes, block);
  origin.decision = isDamaged(block) ? kMergeDamaged : kMergeRecovered;
  for (size_t t = 0; t < used.size() && status == kOk; ++t) {
    if (used[t] != 0) {
      status = appendItem(origin.sources, static_cast<int32_t>(t));
    }
  }
  origin.take = origin.sources.empty() ? copies.bodies[0].take : origin.sources[0];
  const auto take = static_cast<size_t>(origin.take);
  copyMeasures(takes[take][static_cast<size_t>(column[take])], block);
  return status;
}
