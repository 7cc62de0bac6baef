// Memory slots and growing lists: the one place where a failed allocation becomes a status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"

// A memory slot: empty, or holding one zero-filled block owned by the job.
template <typename T>
using Slot = std::optional<std::vector<T>>;

// Fills an empty slot with `count` zero-initialised elements. A slot that already holds
// a block is left alone and 0 is returned. Reports and returns kErrOutOfMemory when the
// memory cannot be had; the slot then stays empty.
template <typename T>
[[nodiscard]] int32_t allocZeroed(Slot<T>& slot, size_t count) {
  if (slot) {
    return kOk;
  }
  try {
    slot.emplace(count);
  } catch (const std::bad_alloc&) {
    slot.reset();
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Resizes the block in `slot` to `count` elements, keeping its contents and zeroing the
// new tail; an empty slot is filled as by allocZeroed. On failure reports and returns
// kErrOutOfMemory and the slot keeps its old block unchanged.
template <typename T>
[[nodiscard]] int32_t growZeroed(Slot<T>& slot, size_t count) {
  if (!slot) {
    return allocZeroed(slot, count);
  }
  try {
    slot->resize(count);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Appends `value` to `items`. Returns kOk, or kErrOutOfMemory, reported; `items` is then
// unchanged.
template <typename T>
[[nodiscard]] int32_t appendItem(std::vector<T>& items, const T& value) {
  try {
    items.push_back(value);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Appends the `count` values at `values` to `items`. Returns kOk, or kErrOutOfMemory,
// reported; `items` is then unchanged.
template <typename T>
[[nodiscard]] int32_t appendItems(std::vector<T>& items, const T* values, size_t count) {
  try {
    items.insert(items.end(), values, values + count);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Resizes `items` to `count` elements, zero-filling new ones. Returns kOk, or
// kErrOutOfMemory, reported; `items` is then unchanged.
template <typename T>
[[nodiscard]] int32_t resizeItems(std::vector<T>& items, size_t count) {
  try {
    items.resize(count);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Makes room for `count` elements without changing `items`, so that growing to that size
// later moves nothing. Returns kOk, or kErrOutOfMemory, reported.
template <typename T>
[[nodiscard]] int32_t reserveItems(std::vector<T>& items, size_t count) {
  try {
    items.reserve(count);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Inserts `count` copies of `value` before position `at` (at most items.size()). Returns
// kOk, or kErrOutOfMemory, reported.
template <typename T>
[[nodiscard]] int32_t insertItems(std::vector<T>& items, size_t at, size_t count, T value) {
  try {
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), count, value);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Makes `to` a copy of `from`, reusing the room `to` has. Returns kOk, or kErrOutOfMemory,
// reported.
template <typename T>
[[nodiscard]] int32_t copyValue(T& to, const T& from) {
  try {
    to = from;
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}

// Removes the `count` items from position `at` on.
template <typename T>
void removeItems(std::vector<T>& items, size_t at, size_t count) {
  const auto first = items.begin() + static_cast<std::ptrdiff_t>(at);
  items.erase(first, first + static_cast<std::ptrdiff_t>(count));
}

// Appends `piece` to `text`. Returns kOk, or kErrOutOfMemory, reported; `text` is then
// unchanged.
[[nodiscard]] inline int32_t appendText(std::string& text, std::string_view piece) {
  try {
    text.append(piece);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  return kOk;
}
