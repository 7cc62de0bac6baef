// The alignment of takes, one take at a time against the columns of those before it.
#include "decode/take_align.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"

namespace {

// Per take and block: 1 when the block is damaged (isDamaged), worked out once, since the
// alignment asks for every pair.
using DamageMarks = std::vector<std::vector<uint8_t>>;

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
constexpr int64_t kBodyWithoutHeader = 60;

// The steps of the alignment path: a column that this take lacks, a block of this take
// that no column has, or the two paired.
enum Step : uint8_t { kColumnAlone, kBlockAlone, kPaired };

// The best-scoring steps of aligning one take with the columns: a table of
// (columns + 1) rows by (blocks + 1), the step that reaches each cell.
struct AlignmentTable {
  size_t rows = 0;
  size_t width = 0;
  std::vector<uint8_t> steps;
};

bool hasHeader(const DecodedBlock& block) { return !block.headerPart.empty(); }

int64_t countEqualFields(const TapeBlock& a, const TapeBlock& b) {
  const bool same[kHeaderFields] = {a.fileNumber == b.fileNumber, a.fileType == b.fileType,
                                    a.beginAddress == b.beginAddress, a.length == b.length,
                                    std::memcmp(a.name, b.name, sizeof a.name) == 0};
  return std::count(same, same + kHeaderFields, true);
}

// A take in which a dropout took a header, its sync pattern or its leader read the body
// as a headerless block: one of the length the header states, or the same as another
// take's copy of the body, pairs with the header's copies.
int64_t pairHeaderless(const DecodedBlock& header, const DecodedBlock& headerless) {
  const size_t stated = size_t{header.info.length} + kBodyPartExtra;
  const size_t length = headerless.body.size();
  const bool fits = length == header.body.size() ||
                    (header.info.headerChecksumError == 0 && length == stated);
  return fits && length > 0 ? kBodyWithoutHeader : kNoPair;
}

int64_t pairScore(const DecodedBlock& a, bool aDamaged, const DecodedBlock& b, bool bDamaged) {
  if (hasHeader(a) != hasHeader(b)) {
    return hasHeader(a) ? pairHeaderless(a, b) : pairHeaderless(b, a);
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
int64_t columnScore(const Takes& takes, const DamageMarks& damaged, const TakeColumn& column,
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

// Fills `table` with the order of pairings that scores most, as in aligning two
// sequences, with no cost for a block or a column left alone.
int32_t fillAlignmentTable(const Takes& takes, const DamageMarks& damaged, size_t take,
                           const std::vector<TakeColumn>& columns, AlignmentTable& table) {
  table.rows = columns.size() + 1;
  table.width = takes[take].size() + 1;
  std::vector<int64_t> previous;
  std::vector<int64_t> current;
  int32_t status = resizeItems(table.steps, table.rows * table.width);
  if (status == kOk) {
    status = resizeItems(previous, table.width);
  }
  if (status == kOk) {
    status = resizeItems(current, table.width);
  }
  for (size_t i = 0; i < table.rows && status == kOk; ++i) {
    for (size_t j = 0; j < table.width; ++j) {
      int64_t best = i > 0 ? previous[j] : 0;
      Step step = kColumnAlone;
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
      table.steps[i * table.width + j] = step;
    }
    std::swap(previous, current);
  }
  return status;
}

// The steps of the best path through `table`, in tape order.
int32_t tracePath(const AlignmentTable& table, std::vector<Step>& path) {
  // The path is walked from its end, so it comes out reversed.
  for (size_t i = table.rows - 1, j = table.width - 1; i > 0 || j > 0;) {
    const auto step = static_cast<Step>(table.steps[i * table.width + j]);
    const int32_t status = appendItem(path, step);
    if (status != kOk) {
      return status;
    }
    i -= step == kBlockAlone ? 0 : 1;
    j -= step == kColumnAlone ? 0 : 1;
  }
  std::reverse(path.begin(), path.end());
  return kOk;
}

// Appends to `aligned`, which has room for it, a column that holds only `copy` of `take`.
int32_t appendNewColumn(std::vector<TakeColumn>& aligned, size_t takeCount, size_t take,
                        int32_t copy) {
  aligned.emplace_back();
  const int32_t status = resizeItems(aligned.back(), takeCount);
  if (status == kOk) {
    std::fill(aligned.back().begin(), aligned.back().end(), kNoCopy);
    aligned.back()[take] = copy;
  }
  return status;
}

// Aligns the blocks of take `take` with the columns of the takes before it and rebuilds
// `columns` in tape order.
int32_t alignTake(const Takes& takes, const DamageMarks& damaged, size_t take,
                  std::vector<TakeColumn>& columns) {
  AlignmentTable table;
  std::vector<Step> path;
  int32_t status = fillAlignmentTable(takes, damaged, take, columns, table);
  if (status == kOk) {
    status = tracePath(table, path);
  }
  std::vector<TakeColumn> aligned;
  if (status == kOk) {
    status = reserveItems(aligned, path.size());
  }
  size_t i = 0;
  size_t j = 0;
  for (auto step = path.begin(); step != path.end() && status == kOk; ++step) {
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

}  // namespace

int32_t alignTakes(const Takes& takes, std::vector<TakeColumn>& columns) {
  columns.clear();
  DamageMarks damaged;
  int32_t status = resizeItems(damaged, takes.size());
  for (size_t take = 0; take < takes.size() && status == kOk; ++take) {
    status = resizeItems(damaged[take], takes[take].size());
    for (size_t b = 0; b < takes[take].size() && status == kOk; ++b) {
      damaged[take][b] = isDamaged(takes[take][b]) ? 1 : 0;
    }
  }
  for (size_t take = 0; take < takes.size() && status == kOk; ++take) {
    status = alignTake(takes, damaged, take, columns);
  }
  return status;
}
