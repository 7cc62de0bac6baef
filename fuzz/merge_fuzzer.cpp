// Merges takes of one tape that the input damages: bytes lost, bytes misread with doubt,
// and runs of bytes read after a miscounted gap, a few places off and without a known
// place. Every byte a take reads for certain is right, so every byte the merge calls
// certain must be right too, wherever content placed a run; and the takes in reverse
// order must give the same image.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decode/take_merge.h"

namespace {

constexpr size_t kTakes = 3;
constexpr size_t kBlocks = 3;

// Bytes that never repeat within a block, as a program's mostly do not.
std::vector<uint8_t> originalBody(size_t block, size_t length) {
  std::vector<uint8_t> body(length);
  uint32_t state = static_cast<uint32_t>(block) * 7919u + 1u;
  for (uint8_t& byte : body) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return body;
}

// Reads the input a byte at a time, 0 once it runs out.
struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  size_t next() { return at < size ? data[at++] : 0; }
};

// Bytes [from, from + count) lost, the run after them up to `until` `shift` places on
// and without a known place, as a miscounted gap leaves them.
void slip(DecodedBlock& block, const std::vector<uint8_t>& original, size_t from, size_t count,
          size_t shift, size_t until) {
  block.unplacedFirst = from + count + shift;
  block.unplacedGrades.assign(until - block.unplacedFirst, kByteCertain);
  for (size_t i = from; i < until; ++i) {
    const bool unplaced = i >= block.unplacedFirst;
    block.body[i] = unplaced ? original[i - shift] : 0;
    block.bodyConfidence[i] = unplaced ? kByteUncertain : kByteUnknown;
  }
}

// Byte `i` read as `value` with `grade`; where it has no known place, that grade is the one
// its frame was read with.
void readByte(DecodedBlock& block, size_t i, uint8_t value, uint8_t grade) {
  block.body[i] = value;
  const bool unplaced =
      i >= block.unplacedFirst && i - block.unplacedFirst < block.unplacedGrades.size();
  if (unplaced) {
    block.unplacedGrades[i - block.unplacedFirst] = grade;
  }
  block.bodyConfidence[i] = unplaced ? std::min(grade, kByteUncertain) : grade;
}

void damage(DecodedBlock& block, const std::vector<uint8_t>& original, Input& input) {
  const size_t length = block.body.size();
  for (size_t edits = input.next() % 4; edits > 0; --edits) {
    const size_t kind = input.next() % 3;
    const size_t from = input.next() * length / 256;
    const size_t count = std::min(length - from, input.next() % 40);
    if (kind == 0) {
      for (size_t i = from; i < from + count; ++i) {
        readByte(block, i, 0, kByteUnknown);
      }
    } else if (kind == 1 && from < length) {
      readByte(block, from, static_cast<uint8_t>(input.next()), kByteUncertain);
    } else if (kind == 2 && block.unplacedGrades.empty()) {
      const size_t shift = input.next() % 5;
      const size_t until = from + count + shift + input.next() * 4;
      if (until <= length) {
        slip(block, original, from, count, shift, until);
      }
    }
  }
}

std::vector<uint8_t> imageOf(const Takes& takes) {
  TapeMerge merge;
  std::vector<uint8_t> image;
  if (mergeTakes(takes, merge) != kOk || buildTapeImage(merge.blocks, image) != kOk) {
    return {};
  }
  for (const DecodedBlock& block : merge.blocks) {
    const std::vector<uint8_t> original = originalBody(block.info.length, block.body.size());
    for (size_t i = 0; i < block.body.size(); ++i) {
      if (block.bodyConfidence[i] >= kMinCertainByte && block.body[i] != original[i]) {
        std::abort();
      }
    }
  }
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input{data, size};
  Takes takes(kTakes);
  for (size_t t = 0; t < kTakes; ++t) {
    for (size_t b = 0; b < kBlocks; ++b) {
      // Headerless blocks of lengths that tell them apart; the length names the original.
      const size_t length = 100 + 150 * b;
      DecodedBlock block;
      block.body = originalBody(length, length);
      block.bodyConfidence.assign(length, kByteCertain);
      block.info.length = static_cast<uint16_t>(length);
      block.info.bodyLengthError = -1;
      block.bodyTimes.byteSeconds = 0.01;
      damage(block, originalBody(length, length), input);
      takes[t].push_back(block);
    }
  }
  const std::vector<uint8_t> image = imageOf(takes);
  std::reverse(takes.begin(), takes.end());
  if (imageOf(takes) != image) {
    std::abort();
  }
  return 0;
}
