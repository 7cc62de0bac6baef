// The alignment of several takes and the choice of each block's bytes among its copies.
#include "decode/take_merge.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"
#include "tape/tape_image.h"

namespace {

using Takes = std::vector<std::vector<DecodedBlock>>;
// Per take and block: 1 when the block is damaged (isDamaged), worked out once, since the
// alignment asks for every pair.
using DamageMarks = std::vector<std::vector<uint8_t>>;
// One block of the tape as the takes hold it: per take, the index of its copy or kNoCopy.
using Column = std::vector<int32_t>;

constexpr int32_t kNoCopy = -1;

// How well two copies pair as one block. A header with good checksums names its block:
// any other header is another block. Everything else is placed by its neighbours, so the
// alignment pairs it wherever the order allows; equal header fields and lengths make a
// pairing likelier, never necessary.
constexpr int64_t kNoPair = -1;
constexpr int64_t kSameHeader = 1000;
constexpr int64_t kHeaderInPlace = 100;
constexpr int64_t kEqualField = 10;
constexpr int64_t kHeaderFields = 5;
constexpr int64_t kSameLength = 100;
constexpr int64_t kOtherLength = 50;

// The steps of the alignment path: a column that this take lacks, a block of this take
// that no column has, or the two paired.
enum Step : uint8_t { kColumnAlone, kBlockAlone, kPaired };

// One take's reading of one byte.
struct Reading {
  uint8_t value = 0;
  uint8_t confidence = kByteUnknown;
  int32_t take = 0;
};

// Blocks made before bytes had a confidence, and bytes past the end of a confidence
// list, count as read as they are.
uint8_t confidenceAt(const std::vector<uint8_t>& confidence, size_t index) {
  return index < confidence.size() ? confidence[index] : kByteCertain;
}

bool hasHeader(const DecodedBlock& block) { return !block.headerPart.empty(); }

bool hasUnknownIn(const std::vector<uint8_t>& confidence) {
  return std::find(confidence.begin(), confidence.end(), kByteUnknown) != confidence.end();
}

int64_t countEqualFields(const TapeBlock& a, const TapeBlock& b) {
  const bool same[kHeaderFields] = {a.fileNumber == b.fileNumber, a.fileType == b.fileType,
                                    a.beginAddress == b.beginAddress, a.length == b.length,
                                    std::memcmp(a.name, b.name, sizeof a.name) == 0};
  return std::count(same, same + kHeaderFields, true);
}

int64_t pairScore(const DecodedBlock& a, bool aDamaged, const DecodedBlock& b, bool bDamaged) {
  if (hasHeader(a) != hasHeader(b)) {
    return kNoPair;
  }
  if (!hasHeader(a)) {
    if (a.body.size() == b.body.size()) {
      return kSameLength;
    }
    return aDamaged || bDamaged ? kOtherLength : kNoPair;
  }
  const int64_t equal = countEqualFields(a.info, b.info);
  if (a.info.headerChecksumError == 0 && b.info.headerChecksumError == 0) {
    return equal == kHeaderFields ? kSameHeader : kNoPair;
  }
  return kHeaderInPlace + kEqualField * equal;
}

// How well block `index` of take `take` pairs with the copies in `column` of the takes
// before it: not at all if any of them forbids it.
int64_t columnScore(const Takes& takes, const DamageMarks& damaged, const Column& column,
                    size_t take, size_t index) {
  int64_t best = kNoPair;
  for (size_t t = 0; t < take; ++t) {
    if (column[t] == kNoCopy) {
      continue;
    }
    const auto copy = static_cast<size_t>(column[t]);
    const int64_t score = pairScore(takes[t][copy], damaged[t][copy] != 0, takes[take][index],
                                    damaged[take][index] != 0);
    if (score == kNoPair) {
      return kNoPair;
    }
    best = std::max(best, score);
  }
  return best;
}

// Appends to `aligned`, which has room for it, a column that holds only `copy` of `take`.
int32_t appendNewColumn(std::vector<Column>& aligned, size_t takeCount, size_t take,
                        int32_t copy) {
  aligned.emplace_back();
  const int32_t status = resizeItems(aligned.back(), takeCount);
  if (status == kOk) {
    std::fill(aligned.back().begin(), aligned.back().end(), kNoCopy);
    aligned.back()[take] = copy;
  }
  return status;
}

// Aligns the blocks of take `take` with the columns of the takes before it: the order of
// pairings that scores most, as in aligning two sequences, with no cost for a block or
// a column left alone. Rebuilds `columns` in tape order.
int32_t alignTake(const Takes& takes, const DamageMarks& damaged, size_t take,
                  std::vector<Column>& columns) {
  const size_t blockCount = takes[take].size();
  const size_t rows = columns.size() + 1;
  const size_t width = blockCount + 1;
  std::vector<uint8_t> steps;
  std::vector<int64_t> previous;
  std::vector<int64_t> current;
  int32_t status = resizeItems(steps, rows * width);
  if (status == kOk) {
    status = resizeItems(previous, width);
  }
  if (status == kOk) {
    status = resizeItems(current, width);
  }
  if (status != kOk) {
    return status;
  }
  for (size_t i = 0; i < rows; ++i) {
    for (size_t j = 0; j < width; ++j) {
      int64_t best = 0;
      Step step = kColumnAlone;
      if (i > 0) {
        best = previous[j];
      }
      if (j > 0 && (i == 0 || current[j - 1] > best)) {
        best = current[j - 1];
        step = kBlockAlone;
      }
      if (i > 0 && j > 0) {
        const int64_t score = columnScore(takes, damaged, columns[i - 1], take, j - 1);
        if (score != kNoPair && previous[j - 1] + score > best) {
          best = previous[j - 1] + score;
          step = kPaired;
        }
      }
      current[j] = best;
      steps[i * width + j] = step;
    }
    std::swap(previous, current);
  }
  // The path is walked from its end; its steps, reversed, give the tape order.
  std::vector<Step> path;
  for (size_t i = rows - 1, j = width - 1; i > 0 || j > 0;) {
    const auto step = static_cast<Step>(steps[i * width + j]);
    status = appendItem(path, step);
    if (status != kOk) {
      return status;
    }
    i -= step == kBlockAlone ? 0 : 1;
    j -= step == kColumnAlone ? 0 : 1;
  }
  std::vector<Column> aligned;
  status = reserveItems(aligned, path.size());
  size_t i = 0;
  size_t j = 0;
  for (auto step = path.rbegin(); step != path.rend() && status == kOk; ++step) {
    if (*step == kBlockAlone) {
      status = appendNewColumn(aligned, takes.size(), take, static_cast<int32_t>(j++));
      continue;
    }
    aligned.push_back(std::move(columns[i++]));  // moved into the room reserved
    if (*step == kPaired) {
      aligned.back()[take] = static_cast<int32_t>(j++);
    }
  }
  if (status == kOk) {
    columns.swap(aligned);
  }
  return status;
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

// Chooses the whole copy that most whole copies agree with; among equals, the one read
// most clearly, then the earliest take. Sets origin.take to its take.
int32_t chooseWholeCopy(const Takes& takes, const Column& column,
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
    if (votes > bestVotes || (votes == bestVotes && weight > bestWeight)) {
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

// Decides one byte from the readings of the copies that hold it (in take order): the
// certain ones if any, else any that were read at all; the value most of them read, among
// equals the one read most clearly, then the earliest. Sets `floor` to the confidence a
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
    if (votes > bestVotes || (votes == bestVotes && weight > bestWeight)) {
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
};

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
    size_t count = 0;
    for (const PartCopy& copy : copies) {
      if (i < copy.bytes->size()) {
        readings[count++] = {(*copy.bytes)[i], confidenceAt(*copy.confidence, i), copy.take};
      }
    }
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

// Combines copies of which none is whole, byte by byte, and marks what the result lacks.
int32_t combineCopies(const Takes& takes, const Column& column, DecodedBlock& block,
                      BlockOrigin& origin) {
  std::vector<const DecodedBlock*> copies;
  std::vector<uint8_t> used;
  int32_t status = resizeItems(used, takes.size());
  for (size_t t = 0; t < takes.size() && status == kOk; ++t) {
    if (column[t] != kNoCopy) {
      status = appendItem(copies, &takes[t][static_cast<size_t>(column[t])]);
    }
  }
  // A part whose checksum passes in some copy is taken from those copies alone: the
  // other copies' readings of it are known to hold a fault somewhere.
  const auto headerVerified = [](const DecodedBlock* copy) {
    return copy->info.headerChecksumError == 0 && !hasUnknownIn(copy->headerConfidence);
  };
  const auto bodyVerified = [](const DecodedBlock* copy) {
    return copy->info.bodyChecksumError == 0 && copy->info.bodyLengthError < 0 &&
           !hasUnknownIn(copy->bodyConfidence);
  };
  const bool anyHeaderVerified = std::any_of(copies.begin(), copies.end(), headerVerified);
  const bool anyBodyVerified = std::any_of(copies.begin(), copies.end(), bodyVerified);
  std::vector<PartCopy> headers;
  std::vector<PartCopy> bodies;
  for (size_t t = 0; t < takes.size() && status == kOk; ++t) {
    if (column[t] == kNoCopy) {
      continue;
    }
    const DecodedBlock& copy = takes[t][static_cast<size_t>(column[t])];
    const auto take = static_cast<int32_t>(t);
    if (!anyHeaderVerified || headerVerified(&copy)) {
      status = appendItem(headers, PartCopy{&copy.headerPart, &copy.headerConfidence, take});
    }
    if (status == kOk && (!anyBodyVerified || bodyVerified(&copy))) {
      status = appendItem(bodies, PartCopy{&copy.body, &copy.bodyConfidence, take});
    }
  }
  if (status != kOk) {
    return status;
  }
  const bool header = hasHeader(*copies[0]);
  block = DecodedBlock{};
  block.info = copies[0]->info;
  if (header) {
    status = combinePart(headers, kHeaderPartLength, block.headerPart, block.headerConfidence,
                         used, origin.disputedBytes);
    if (status == kOk) {
      detectHeader(block.headerPart.data(), block.info);
    }
  }
  const size_t length = combinedBodyLength(copies, block.info, header);
  if (status == kOk) {
    status = combinePart(bodies, length, block.body, block.bodyConfidence, used,
                         origin.disputedBytes);
  }
  if (status != kOk) {
    return status;
  }
  TapeBlock& info = block.info;
  info.bodyChecksumError = 0;
  info.bodyLengthError = -1;
  if (header) {
    checkBodyPart(block.body.data(), static_cast<int64_t>(length), false, info);
  } else {
    info.length = static_cast<uint16_t>(length);
    const bool lengthKnown = std::any_of(copies.begin(), copies.end(), [](const DecodedBlock* b) {
      return b->info.bodyLengthError < 0;
    });
    // Without a checksum to settle them, bytes the takes dispute leave the block in doubt;
    // lost bytes show as unknown.
    if (!lengthKnown || origin.disputedBytes > 0) {
      info.bodyLengthError = static_cast<int32_t>(length);
    }
  }
  origin.decision = isDamaged(block) ? kMergeDamaged : kMergeRecovered;
  for (size_t t = 0; t < used.size() && status == kOk; ++t) {
    if (used[t] != 0) {
      status = appendItem(origin.sources, static_cast<int32_t>(t));
    }
  }
  origin.take = origin.sources.empty() ? bodies[0].take : origin.sources[0];
  copyMeasures(takes[static_cast<size_t>(origin.take)]
                    [static_cast<size_t>(column[static_cast<size_t>(origin.take)])],
               block);
  return status;
}

// Appends the block of `column` and its origin to `merge`.
int32_t mergeColumn(const Takes& takes, const Column& column, TapeMerge& merge) {
  BlockOrigin origin;
  int32_t status = resizeItems(origin.copies, column.size());
  std::vector<int32_t> present;
  std::vector<int32_t> wholeTakes;
  for (size_t t = 0; t < column.size() && status == kOk; ++t) {
    origin.copies[t] = column[t];
    if (column[t] == kNoCopy) {
      continue;
    }
    status = appendItem(present, static_cast<int32_t>(t));
    if (status == kOk && !isDamaged(takes[t][static_cast<size_t>(column[t])])) {
      status = appendItem(wholeTakes, static_cast<int32_t>(t));
    }
  }
  if (status == kOk && present.size() == 1) {
    origin.take = present[0];
    status = appendItem(origin.sources, present[0]);
  } else if (status == kOk && !wholeTakes.empty()) {
    status = chooseWholeCopy(takes, column, wholeTakes, origin);
  }
  if (status != kOk) {
    return status;
  }
  if (present.size() == 1 || !wholeTakes.empty()) {
    const auto take = static_cast<size_t>(origin.take);
    status = appendItem(merge.blocks, takes[take][static_cast<size_t>(column[take])]);
  } else {
    DecodedBlock combined;
    status = combineCopies(takes, column, combined, origin);
    if (status == kOk) {
      status = appendItem(merge.blocks, combined);
    }
  }
  if (status != kOk) {
    return status;
  }
  origin.unknownBytes = countLostBytes(merge.blocks.back(), origin.firstUnknown);
  return appendItem(merge.origins, origin);
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

int32_t mergeEnding(const TapeMerge& merge) {
  if (merge.blocks.empty()) {
    return kErrNoBlocks;
  }
  return countDamagedBlocks(merge.blocks) > 0 ? kErrDamagedBlocks : kOk;
}

int32_t countLostBytes(const DecodedBlock& block, int32_t& first) {
  first = -1;
  size_t index = 0;
  for (const std::vector<uint8_t>* confidence : {&block.headerConfidence, &block.bodyConfidence}) {
    const auto found = std::find(confidence->begin(), confidence->end(), kByteUnknown);
    if (first < 0 && found != confidence->end()) {
      first = static_cast<int32_t>(index + static_cast<size_t>(found - confidence->begin()));
    }
    index += confidence->size();
  }
  int32_t count = countUnknownBytes(block);
  const size_t held = block.headerPart.size() + block.body.size();
  const size_t stated = size_t{block.info.length} + kBodyPartExtra;
  if (hasHeader(block) && block.info.headerChecksumError == 0 && block.body.size() < stated) {
    first = first < 0 ? static_cast<int32_t>(held) : first;
    count += static_cast<int32_t>(stated - block.body.size());
  }
  return count;
}

double blockByteSeconds(const DecodedBlock& block, size_t index) {
  if (index < block.headerPart.size()) {
    return byteStartSeconds(block.headerTimes, index);
  }
  // A body lost whole would have followed the end of the header part.
  if (block.body.empty()) {
    return block.endSeconds;
  }
  return byteStartSeconds(block.bodyTimes, index - block.headerPart.size());
}

int32_t mergeTakes(const Takes& takes, TapeMerge& merge) {
  merge = TapeMerge{};
  DamageMarks damaged;
  int32_t status = resizeItems(damaged, takes.size());
  for (size_t take = 0; take < takes.size() && status == kOk; ++take) {
    status = resizeItems(damaged[take], takes[take].size());
    for (size_t b = 0; b < takes[take].size() && status == kOk; ++b) {
      damaged[take][b] = isDamaged(takes[take][b]) ? 1 : 0;
    }
  }
  std::vector<Column> columns;
  for (size_t take = 0; take < takes.size() && status == kOk; ++take) {
    status = alignTake(takes, damaged, take, columns);
  }
  if (status == kOk) {
    status = reserveItems(merge.blocks, columns.size());
  }
  if (status == kOk) {
    status = reserveItems(merge.origins, columns.size());
  }
  for (size_t c = 0; c < columns.size() && status == kOk; ++c) {
    status = mergeColumn(takes, columns[c], merge);
  }
  return status;
}
