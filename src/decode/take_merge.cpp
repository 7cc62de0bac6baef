// The merge of aligned takes, one column of copies at a time.
#include "decode/take_merge.h"

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

}  // namespace

int32_t mergeEnding(const TapeMerge& merge) {
  if (merge.blocks.empty()) {
    return kErrNoBlocks;
  }
  return countDamagedBlocks(merge.blocks) > 0 ? kErrDamagedBlocks : kOk;
}

int32_t mergeTakes(const Takes& takes, TapeMerge& merge) {
  merge = TapeMerge{};
  std::vector<TakeColumn> columns;
  int32_t status = alignTakes(takes, columns);
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
