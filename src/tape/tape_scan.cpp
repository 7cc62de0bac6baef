// The scan of a tape image: layouts, block recognition and the end check.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tape/tape_image.h"

namespace {

// Smallest image with room for anything: a header part and a two-byte body (63 + 2).
constexpr int64_t kMinTapeImageSize = kHeaderPartLength + kBodyPartExtra;
// A step looks at enough for a length word, a header part and the body's length word.
constexpr int32_t kStepReadLength = kLengthWordSize + kHeaderPartLength + kLengthWordSize;
constexpr int64_t kMaxBareRest = kMaxRecordLength;
// The window through which the image is read: a step and the longest body fit many times
// over, so the file is read in large pieces and positioned only to skip a long record.
constexpr size_t kScanWindowSize = size_t{1} << 18;

// The image as one forward stream: the window holds the bytes from windowStart on, and
// the file is positioned at the window's end.
struct ScanState {
  std::FILE* file = nullptr;
  const char* path = nullptr;
  int64_t size = 0;   // S
  bool bare = false;  // on from the first step that starts with the sync pattern
  Slot<uint8_t> window;
  int64_t windowStart = 0;
  size_t windowLength = 0;
};

// Makes up to `count` bytes from `offset` on available at `bytes`; `available` tells how
// many there are, fewer only where the file ends. Returns kOk, or -11, reported.
int32_t viewBytes(ScanState& state, int64_t offset, size_t count, const uint8_t*& bytes,
                  size_t& available) {
  uint8_t* window = state.window->data();
  const int64_t windowEnd = state.windowStart + static_cast<int64_t>(state.windowLength);
  if (offset < state.windowStart || offset + static_cast<int64_t>(count) > windowEnd) {
    size_t kept = 0;
    if (offset >= state.windowStart && offset < windowEnd) {
      kept = static_cast<size_t>(windowEnd - offset);
      std::memmove(window, window + (offset - state.windowStart), kept);
    } else if (seekAndTell(state.file, offset, SEEK_SET) != offset) {
      return reportFailure(kErrAccessInput, state.path);
    }
    state.windowStart = offset;
    state.windowLength =
        kept + std::fread(window + kept, 1, state.window->size() - kept, state.file);
  }
  const auto skip = static_cast<size_t>(offset - state.windowStart);
  bytes = window + skip;
  available = std::min(count, state.windowLength - std::min(skip, state.windowLength));
  return kOk;
}

// Completes a header block whose header part was found at `headerAt` and whose body part
// starts at `bodyAt`; `lengthWord` is the body record's length word (record layout).
// Sets `next` to the offset where the following step starts.
int32_t scanHeaderBlock(ScanState& state, TapeBlock& block, int64_t headerAt, int64_t bodyAt,
                        int32_t lengthWord, int64_t& next) {
  const int32_t need = block.length + kBodyPartExtra;
  if (need > state.size - bodyAt || (!state.bare && need != lengthWord)) {
    // A body that is not where the header says: in records it is skipped by its own length
    // word; in a bare image the rest of the file is taken as this block's short body.
    const int64_t held = state.bare ? state.size - bodyAt : lengthWord;
    next = state.bare ? state.size : bodyAt + lengthWord;
    // A record of the right length that runs past the end of the file is short as well.
    checkBodyPart(nullptr, held, true, block);
  } else {
    const uint8_t* body = nullptr;
    size_t available = 0;
    const int32_t status = viewBytes(state, bodyAt, static_cast<size_t>(need), body, available);
    if (status != kOk) {
      return status;
    }
    if (available != static_cast<size_t>(need)) {
      return reportFailure(kErrReadInput, state.path);
    }
    checkBodyPart(body, need, false, block);
    next = bodyAt + need;
  }
  block.headerOffset = static_cast<int32_t>(headerAt);
  block.bodyOffset = static_cast<int32_t>(bodyAt);
  return kOk;
}

// Runs one step of the scan at `start`: appends the block found there and sets `next`.
// A non-zero result means the scan stops at `start`; any message other than the final
// corruption report has already been printed.
int32_t scanStep(ConversionJob& job, ScanState& state, int64_t start, int64_t& next) {
  const uint8_t* view = nullptr;
  size_t count = 0;
  int32_t status = viewBytes(state, start, kStepReadLength, view, count);
  if (status != kOk) {
    return status;
  }
  if (count == 0) {
    return reportFailure(kErrReadInput, state.path);
  }
  // A copy with zeros past the end of the file, so a short step reads no stale bytes.
  uint8_t step[kStepReadLength] = {};
  std::memcpy(step, view, count);
  int32_t lengthWord = readLe16(step);

  TapeBlock block;
  if (count >= kHeaderPartLength && detectHeader(step, block)) {
    state.bare = true;
    status = scanHeaderBlock(state, block, start, start + kHeaderPartLength, lengthWord, next);
  } else if (lengthWord == kHeaderPartLength && count == kStepReadLength &&
             detectHeader(step + kLengthWordSize, block)) {
    lengthWord = readLe16(step + kLengthWordSize + kHeaderPartLength);
    status = scanHeaderBlock(state, block, start + kLengthWordSize, start + kStepReadLength,
                             lengthWord, next);
  } else if (state.bare) {
    const int64_t rest = state.size - start;
    if (rest > kMaxBareRest) {
      return kErrTapeCorrupted;
    }
    block.length = static_cast<uint16_t>(rest);
    block.bodyOffset = static_cast<int32_t>(start);
    block.bodyLengthError = -1;
    next = state.size;
  } else {
    // The bytes left are counted from the length word on, so a record whose data runs one
    // or two bytes past the end is still taken; the end check then names where it ends.
    if (lengthWord > state.size - start) {
      return kErrTapeCorrupted;
    }
    block.length = static_cast<uint16_t>(lengthWord);
    block.bodyOffset = static_cast<int32_t>(start + kLengthWordSize);
    block.bodyLengthError = -1;
    next = start + kLengthWordSize + lengthWord;
  }
  if (status != kOk) {
    return status;
  }
  return appendBlock(job, block);
}

}  // namespace

bool detectHeader(const uint8_t* bytes, TapeBlock& block) {
  for (int32_t i = 0; i < kSyncPatternLength; ++i) {
    if (bytes[i] != syncPatternByte(i)) {
      return false;
    }
  }
  const uint8_t* header = bytes + kSyncPatternLength;
  block.fileNumber = header[kHeaderFileNumber];
  block.fileType = static_cast<char>(header[kHeaderFileType]);
  block.beginAddress = readLe16(header + kHeaderBeginAddress);
  block.length = readLe16(header + kHeaderBodyLength);
  std::memcpy(block.name, header + kHeaderName, kHeaderNameLength);
  block.headerChecksum = header[kHeaderChecksum];
  block.headerChecksumError = checksumMatches(header, kHeaderChecksum) ? 0 : 1;
  return true;
}

void checkBodyPart(const uint8_t* body, int64_t held, bool cut, TapeBlock& block) {
  const int64_t need = int64_t{block.length} + kBodyPartExtra;
  if (held != need || cut) {
    // A body of 0 or 1 bytes has no room for its checksum: its fault must still show, so
    // the shortfall never reads as the -1 of a whole body.
    block.bodyLengthError = static_cast<int32_t>(std::max<int64_t>(held - kBodyPartExtra, 0));
    return;
  }
  block.bodyLengthError = -1;
  block.bodyChecksumError = checksumMatches(body, block.length + 1) ? 0 : 1;
}

int32_t scanTape(ConversionJob& job) {
  std::printf("Reading source file: %s\n", job.inputPath);
  freeBlocks(job);
  job.inputSize = -1;
  // The driver allocates the block buffer first; this only matters for callers that do not.
  int32_t status = allocZeroed(job.blockBuffer, kBlockBufferSize);
  if (status != kOk) {
    return status;
  }
  const FileHandle file = openInputFile(job.inputPath);
  if (!file) {
    return reportFailure(kErrOpenInput, job.inputPath);
  }
  if (fseeko(file.get(), 0, SEEK_END) != 0) {
    return reportFailure(kErrAccessInput, job.inputPath);
  }
  const int64_t size = ftello(file.get());
  // An image of 2 GiB or more cannot be described by 32-bit offsets: refuse it whole
  // rather than let an offset wrap around.
  if (size < 0 || size >= kMaxTapeImageSize) {
    return reportFailure(kErrInputLength, job.inputPath);
  }
  if (fseeko(file.get(), 0, SEEK_SET) != 0) {
    return reportFailure(kErrAccessInput, job.inputPath);
  }
  if (size < kMinTapeImageSize) {
    return reportFailure(kErrTapeCorrupted, job.inputPath, static_cast<uint32_t>(size));
  }

  ScanState state;
  state.file = file.get();
  state.path = job.inputPath;
  state.size = size;
  status = allocZeroed(state.window, kScanWindowSize);
  if (status != kOk) {
    return status;
  }
  int64_t next = 0;
  int64_t stoppedAt = 0;
  for (;;) {
    const int64_t start = next;
    if (scanStep(job, state, start, next) != kOk) {
      stoppedAt = start;
      break;
    }
    // A step needs at least three bytes: a length word and one more.
    if (next >= size - 2) {
      stoppedAt = next;
      break;
    }
  }
  if (stoppedAt != size) {
    return reportFailure(kErrTapeCorrupted, job.inputPath, static_cast<uint32_t>(stoppedAt));
  }
  job.inputSize = size;
  if (job.verbose != 0) {
    std::printf(" Blocks: %d\n", job.blockCount);
  }
  return kOk;
}
