// Placing one take's unplaced bytes by the other takes' certain ones.
#include "decode/take_place.h"

#include <algorithm>

#include "core/memory.h"

namespace {

// A run of read bytes between two gaps, [begin, end) in the body, and how many places the
// gaps before it may have put it off by.
struct Segment {
  size_t begin = 0;
  size_t end = 0;
  int64_t slack = 0;
  int64_t shift = 0;
  bool placed = false;
};

// A body as the other copies see it this round: as read, or with its runs placed so far.
struct BodyView {
  const std::vector<uint8_t>* bytes = nullptr;
  const std::vector<uint8_t>* confidence = nullptr;
};

// How the clear bytes of a segment compare with the others' certain bytes at one offset.
struct Agreement {
  int64_t agree = 0;
  int64_t disagree = 0;
};

// A miscount grows with the frames a gap held; a pattern that repeats within this many
// bytes could not be told from the right place anyway.
constexpr int64_t kMaxSlack = 64;
// Chance agreements of random bytes come one in 256: this many, with a clear margin over
// any other offset, fix a place.
constexpr int64_t kMinAgreeing = 8;
constexpr int64_t kClearMargin = 8;

bool isUnknown(const DecodedBlock& copy, size_t i) {
  return copy.bodyConfidence[i] == kByteUnknown;
}

// The runs of read bytes in the copy's unplaced stretch, with the slack of the gaps before
// each: a gap of n frames may be miscounted by a few frames and a share of n.
int32_t findSegments(const DecodedBlock& copy, std::vector<Segment>& segments) {
  const size_t first = copy.unplacedFirst;
  const size_t end = first + copy.unplacedGrades.size();
  size_t gap = 0;
  for (size_t i = first; i > 0 && isUnknown(copy, i - 1); --i) {
    ++gap;
  }
  int64_t slack = 0;
  for (size_t i = first; i < end;) {
    if (isUnknown(copy, i)) {
      ++gap;
      ++i;
      continue;
    }
    slack = std::min(kMaxSlack, slack + 4 + static_cast<int64_t>(gap) / 4);
    gap = 0;
    Segment segment{i, i, slack, 0, false};
    while (segment.end < end && !isUnknown(copy, segment.end)) {
      ++segment.end;
    }
    i = segment.end;
    const int32_t status = appendItem(segments, segment);
    if (status != kOk) {
      return status;
    }
  }
  return kOk;
}

Agreement agreeAt(const DecodedBlock& copy, const Segment& segment, int64_t shift,
                  const std::vector<BodyView>& others) {
  Agreement agreement;
  for (size_t i = segment.begin; i < segment.end; ++i) {
    const int64_t at = static_cast<int64_t>(i) + shift;
    if (copy.unplacedGrades[i - copy.unplacedFirst] < kMinCertainByte || at < 0) {
      continue;
    }
    const auto p = static_cast<size_t>(at);
    for (const BodyView& other : others) {
      if (p < other.bytes->size() && (*other.confidence)[p] >= kMinCertainByte) {
        ++((*other.bytes)[p] == copy.body[i] ? agreement.agree : agreement.disagree);
      }
    }
  }
  return agreement;
}

// Finds the one offset at which the segment agrees with the others, if there is one.
void findPlace(const DecodedBlock& copy, const std::vector<BodyView>& others,
               Segment& segment) {
  constexpr int64_t kNoScore = INT64_MIN / 2;
  int64_t best = kNoScore;
  int64_t second = kNoScore;
  Agreement chosen;
  for (int64_t shift = -segment.slack; shift <= segment.slack; ++shift) {
    const Agreement agreement = agreeAt(copy, segment, shift, others);
    const int64_t score = agreement.agree - agreement.disagree;
    if (score > best) {
      second = best;
      best = score;
      chosen = agreement;
      segment.shift = shift;
    } else {
      second = std::max(second, score);
    }
  }
  // A byte the clock slipped on inside the run shows as disagreement at every offset.
  segment.placed = chosen.agree >= kMinAgreeing && chosen.disagree * 32 <= chosen.agree &&
                   best >= second + kClearMargin;
}

// True when the segment can go to its offset: onto bytes that were lost or were unplaced
// themselves, and that no segment placed before it took. Bytes it pushes past either end
// of the body are frames the gaps' miscount made up, and go.
bool fitsAt(const DecodedBlock& copy, const Segment& segment, const PlacedBody& placed) {
  const int64_t size = static_cast<int64_t>(copy.body.size());
  const int64_t begin = std::max<int64_t>(0, static_cast<int64_t>(segment.begin) + segment.shift);
  const int64_t end = std::min(size, static_cast<int64_t>(segment.end) + segment.shift);
  const size_t unplacedEnd = copy.unplacedFirst + copy.unplacedGrades.size();
  for (int64_t at = begin; at < end; ++at) {
    const auto p = static_cast<size_t>(at);
    const bool free = (p >= copy.unplacedFirst && p < unplacedEnd) || isUnknown(copy, p);
    if (!free || placed.confidence[p] != kByteUnknown) {
      return false;
    }
  }
  return true;
}

void writeSegment(const DecodedBlock& copy, const Segment& segment, PlacedBody& placed) {
  for (size_t i = segment.begin; i < segment.end; ++i) {
    const int64_t at = static_cast<int64_t>(i) + (segment.placed ? segment.shift : 0);
    const auto p = static_cast<size_t>(at);
    if (at < 0 || p >= placed.confidence.size() || placed.confidence[p] != kByteUnknown) {
      continue;
    }
    placed.bytes[p] = copy.body[i];
    placed.confidence[p] =
        segment.placed ? copy.unplacedGrades[i - copy.unplacedFirst] : copy.bodyConfidence[i];
    placed.floating[p] = segment.placed ? 0 : 1;
  }
}

// Places the unplaced runs of `copy` by the bytes of `others` into `placed`, counting the
// runs placed in `placedRuns`.
int32_t placeUnplacedBytes(const DecodedBlock& copy, const std::vector<BodyView>& others,
                           PlacedBody& placed, int64_t& placedRuns) {
  std::vector<Segment> segments;
  placed.bytes.clear();
  placed.confidence.clear();
  placed.floating.clear();
  int32_t status = insertItems(placed.floating, 0, copy.body.size(), uint8_t{0});
  if (status == kOk) {
    status = insertItems(placed.bytes, 0, copy.body.size(), uint8_t{0});
  }
  if (status == kOk) {
    status = insertItems(placed.confidence, 0, copy.body.size(), kByteUnknown);
  }
  if (status == kOk) {
    status = findSegments(copy, segments);
  }
  if (status != kOk) {
    return status;
  }
  const size_t unplacedEnd = copy.unplacedFirst + copy.unplacedGrades.size();
  for (size_t p = 0; p < copy.body.size(); ++p) {
    if (p < copy.unplacedFirst || p >= unplacedEnd) {
      placed.bytes[p] = copy.body[p];
      placed.confidence[p] = copy.bodyConfidence[p];
    }
  }
  for (Segment& segment : segments) {
    findPlace(copy, others, segment);
    segment.placed = segment.placed && fitsAt(copy, segment, placed);
      if (segment.placed) {
      writeSegment(copy, segment, placed);
      ++placedRuns;
    }
  }
  for (const Segment& segment : segments) {
    if (!segment.placed) {
      writeSegment(copy, segment, placed);
    }
  }
  return kOk;
}

// The bodies of all copies but `skip` as this round sees them.
int32_t viewOthers(const std::vector<const DecodedBlock*>& copies,
                   const std::vector<PlacedBody>& placed, size_t skip,
                   std::vector<BodyView>& views) {
  views.clear();
  for (size_t j = 0; j < copies.size(); ++j) {
    if (j == skip) {
      continue;
    }
    const bool moved = !placed[j].bytes.empty();
    const int32_t status = appendItem(
        views, moved ? BodyView{&placed[j].bytes, &placed[j].confidence}
                     : BodyView{&copies[j]->body, &copies[j]->bodyConfidence});
    if (status != kOk) {
      return status;
    }
  }
  return kOk;
}

}  // namespace

int32_t placeByContent(const std::vector<const DecodedBlock*>& copies,
                       std::vector<PlacedBody>& placed) {
  // Each round can only place runs next to ones placed before, so a few suffice.
  constexpr int32_t kMaxRounds = 8;
  std::vector<PlacedBody> next;
  std::vector<BodyView> views;
  placed.clear();
  int32_t status = resizeItems(placed, copies.size());
  if (status == kOk) {
    status = resizeItems(next, copies.size());
  }
  int64_t placedBefore = -1;
  for (int32_t round = 0; round < kMaxRounds && status == kOk; ++round) {
    int64_t placedRuns = 0;
    for (size_t i = 0; i < copies.size() && status == kOk; ++i) {
      if (copies[i]->unplacedGrades.empty()) {
        continue;
      }
      status = viewOthers(copies, placed, i, views);
      if (status == kOk) {
        status = placeUnplacedBytes(*copies[i], views, next[i], placedRuns);
      }
    }
    if (status != kOk || placedRuns <= placedBefore) {
      break;
    }
    placed.swap(next);
    placedBefore = placedRuns;
  }
  return status;
}
