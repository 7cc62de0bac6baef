// The merge of aligned takes, one column of copies at a time.
#include "decode/take_merge.h"

#include <algorithm>

#include "core/memory.h"

namespace {

// Appends the block of `column` and its origin to `merge`.
int32_t mergeColumn(const Takes& takes, const TakeColumn& column, TapeMerge& merge) {
  BlockOrigin origin;
  int32_t status = resizeItems(origin.copies, column.size());
  std::vector<int32_t> present;
  std::vector<int32_t> wholeTakes;
  // A copy that lost the header that other copies hold is no whole copy of the block.
  bool header = false;
  for (size_t t = 0; t < column.size(); ++t) {
    header = header || (column[t] != kNoCopy &&
                        !takes[t][static_cast<size_t>(column[t])].headerPart.empty());
  }
  for (size_t t = 0; t < column.size() && status == kOk; ++t) {
    origin.copies[t] = column[t];
    if (column[t] == kNoCopy) {
      continue;
    }
    const DecodedBlock& copy = takes[t][static_cast<size_t>(column[t])];
    status = appendItem(present, static_cast<int32_t>(t));
    if (status == kOk && !isDamaged(copy) && copy.headerPart.empty() != header) {
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

// Certain bytes in which two copies of one block may differ where both takes are of one
// tape: misreads that passed every check. More, and above a share of the bytes both read
// for certain, and the copies are of different tapes.
constexpr int64_t kContradictingBytes = 16;
constexpr int64_t kContradictingShare = 50;  // one in this many

// True when two copies are surely of one block by their own bytes, not only by their
// place: the same header with good checksums, or headerless blocks of one length. Only
// such copies can show that their takes hold different tapes; a pairing that the
// damage made may as well be wrong.
bool nameOneBlock(const DecodedBlock& a, const DecodedBlock& b) {
  if (a.headerPart.empty() != b.headerPart.empty()) {
    return false;
  }
  if (a.headerPart.empty()) {
    return a.body.size() == b.body.size() && a.info.bodyLengthError < 0 &&
           b.info.bodyLengthError < 0;
  }
  return a.info.headerChecksumError == 0 && b.info.headerChecksumError == 0 &&
         a.headerPart == b.headerPart;
}

bool contradicts(const DecodedBlock& a, const DecodedBlock& b) {
  if (!nameOneBlock(a, b)) {
    return false;
  }
  int64_t compared = 0;
  int64_t differing = 0;
  const auto compare = [&](const std::vector<uint8_t>& x, const std::vector<uint8_t>& xGrade,
                           const std::vector<uint8_t>& y, const std::vector<uint8_t>& yGrade) {
    for (size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
      if (xGrade[i] >= kMinCertainByte && yGrade[i] >= kMinCertainByte) {
        ++compared;
        differing += x[i] != y[i] ? 1 : 0;
      }
    }
  };
  compare(a.headerPart, a.headerConfidence, b.headerPart, b.headerConfidence);
  compare(a.body, a.bodyConfidence, b.body, b.bodyConfidence);
  return differing > std::max(kContradictingBytes, compared / kContradictingShare);
}

// How the takes stand to each other in the blocks they share.
enum TakeRelation : uint8_t { kNothingShared, kAgreeing, kContradicting };

struct TakeRelations {
  size_t count = 0;
  std::vector<uint8_t> relation;  // count x count
  std::vector<std::vector<int32_t>> contradicted;  // per take: its blocks, numbered from 1
  uint8_t& at(size_t a, size_t b) { return relation[a * count + b]; }
  uint8_t at(size_t a, size_t b) const { return relation[a * count + b]; }
};

int32_t relateTakes(const Takes& takes, const std::vector<TakeColumn>& columns,
                    TakeRelations& relations) {
  relations.count = takes.size();
  int32_t status = resizeItems(relations.relation, takes.size() * takes.size());
  if (status == kOk) {
    status = resizeItems(relations.contradicted, takes.size());
  }
  for (const TakeColumn& column : columns) {
    for (size_t a = 0; a < column.size() && status == kOk; ++a) {
      for (size_t b = 0; b < column.size() && status == kOk; ++b) {
        if (a == b || column[a] == kNoCopy || column[b] == kNoCopy) {
          continue;
        }
        const auto copy = static_cast<size_t>(column[a]);
        if (contradicts(takes[a][copy], takes[b][static_cast<size_t>(column[b])])) {
          relations.at(a, b) = kContradicting;
          status = appendItem(relations.contradicted[a], column[a] + 1);
        } else if (relations.at(a, b) == kNothingShared) {
          relations.at(a, b) = kAgreeing;
        }
      }
    }
  }
  return status;
}

// The takes of another tape: those that contradict the take most others agree with (the
// best read among equals), and those that contradict some take and agree with none.
int32_t findForeignTakes(const Takes& takes, const TakeRelations& relations, TapeMerge& merge) {
  const TakeRelations& r = relations;
  const size_t n = r.count;
  std::vector<int64_t> agreeing(n, 0);
  std::vector<int64_t> contradicting(n, 0);
  for (size_t a = 0; a < n; ++a) {
    for (size_t b = 0; b < n; ++b) {
      agreeing[a] += r.at(a, b) == kAgreeing ? 1 : 0;
      contradicting[a] += r.at(a, b) == kContradicting ? 1 : 0;
    }
  }
  size_t reference = 0;
  for (size_t t = 1; t < n; ++t) {
    if (agreeing[t] > agreeing[reference] ||
        (agreeing[t] == agreeing[reference] && scoreBlocks(takes[t]) > scoreBlocks(takes[reference]))) {
      reference = t;
    }
  }
  int32_t status = kOk;
  for (size_t t = 0; t < n && status == kOk; ++t) {
    const bool shares = agreeing[t] + contradicting[t] > 0;
    if (t != reference && (r.at(t, reference) == kContradicting ||
                           (contradicting[t] > 0 && agreeing[t] == 0))) {
      std::vector<int32_t> blocks = r.contradicted[t];
      std::sort(blocks.begin(), blocks.end());
      blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
      status = appendItem(merge.foreign, ForeignTake{static_cast<int32_t>(t), blocks});
    } else if (!shares && n > 1) {
      status = appendItem(merge.lone, static_cast<int32_t>(t));
    }
  }
  return status;
}

}  // namespace

int32_t mergeEnding(const TapeMerge& merge) {
  if (merge.blocks.empty()) {
    return kErrNoBlocks;
  }
  if (!merge.foreign.empty()) {
    return kErrForeignTake;
  }
  return countDamagedBlocks(merge.blocks) > 0 ? kErrDamagedBlocks : kOk;
}

int32_t mergeTakes(const Takes& allTakes, TapeMerge& merge, bool mergeForeign) {
  merge = TapeMerge{};
  std::vector<TakeColumn> columns;
  TakeRelations relations;
  int32_t status = alignTakes(allTakes, columns);
  if (status == kOk) {
    status = relateTakes(allTakes, columns, relations);
  }
  if (status == kOk) {
    status = findForeignTakes(allTakes, relations, merge);
  }
  merge.foreignMerged = mergeForeign && !merge.foreign.empty();
  // A take of another tape is left out: the others are aligned and voted on again.
  Takes kept;
  const bool leaveOut = status == kOk && !merge.foreign.empty() && !mergeForeign;
  if (leaveOut) {
    kept = allTakes;
    for (const ForeignTake& foreign : merge.foreign) {
      kept[static_cast<size_t>(foreign.take)].clear();
    }
    columns.clear();
    status = alignTakes(kept, columns);
  }
  const Takes& takes = leaveOut ? kept : allTakes;
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
