// The scan of a tape image: layouts, block recognition and the end check.
#include <cstdio>

#include "tape/tape_image.h"

namespace {

// Smallest image with room for anything: a header part and a two-byte body (63 + 2).
constexpr int64_t kMinTapeImageSize = 65;
// A step reads enough for a length word, a header part and the body's length word.
constexpr int32_t kStepReadLength = 2 + kHeaderPartLength + 2;  // 67
constexpr int64_t kMaxBareRest = 65535;

constexpr uint8_t kSyncBytes[3] = {0xFF, 0x00, 0x55};
constexpr int32_t kSyncRun = 16;

int32_t readLe16(const uint8_t* bytes) { return bytes[0] | (bytes[1] << 8); }

// What one step of the scan works with.
struct ScanState {
  std::FILE* file = nullptr;
  const char* path = nullptr;
  int64_t size = 0;   // S
  bool bare = false;  // on from the first step that starts with the sync pattern
  uint8_t* buffer = nullptr;
};

// Positions the file and returns the position it then reports, or -1.
int64_t seekAndTell(std::FILE* file, int64_t offset, int origin) {
  if (fseeko(file, static_cast<off_t>(offset), origin) != 0) {
    return -1;
  }
  const int64_t position = ftello(file);
  return position < 0 ? -1 : position;
}

// Completes a header block whose header part was found at `headerAt` and whose body part
// starts at `bodyAt`; `lengthWord` is the body record's length word (record layout).
// Sets `next` to the offset where the following step starts.
int32_t scanHeaderBlock(ScanState& state, TapeBlock& block, int64_t headerAt, int64_t bodyAt,
                        int32_t lengthWord, int64_t& next) {
  const int64_t body = seekAndTell(state.file, bodyAt, SEEK_SET);
  if (body < 0) {
    return reportFailure(kErrAccessInput, state.path);
  }
  const int32_t need = block.length + 2;
  if (need > state.size - body || (!state.bare && need != lengthWord)) {
    // A body that is not where the header says: in records it is skipped by its own length
    // word; in a bare image the rest of the file is taken as this block's short body.
    if (!state.bare) {
      block.bodyLengthError = lengthWord - 2;
      next = seekAndTell(state.file, lengthWord, SEEK_CUR);
      if (next < 0) {
        return reportFailure(kErrAccessInput, state.path);
      }
    } else {
      block.bodyLengthError = static_cast<int32_t>(state.size - body - 2);
      next = state.size;
    }
  } else {
    if (std::fread(state.buffer, 1, static_cast<size_t>(need), state.file) !=
        static_cast<size_t>(need)) {
      return reportFailure(kErrReadInput, state.path);
    }
    block.bodyLengthError = -1;
    block.bodyChecksumError = checksumMatches(state.buffer, block.length + 1) ? 0 : 1;
    next = ftello(state.file);
    if (next < 0) {
      return reportFailure(kErrAccessInput, state.path);
    }
  }
  block.headerOffset = static_cast<int32_t>(headerAt);
  block.bodyOffset = static_cast<int32_t>(body);
  return kOk;
}

// Runs one step of the scan from the file's current position, which is expected to be
// `start`; on return `start` is the position the file reported. Appends the block found
// and sets `next`. A non-zero result means the scan stops at `start`; any message other
// than the final corruption report has already been printed.
int32_t scanStep(ConversionJob& job, ScanState& state, int64_t& start, int64_t& next) {
  const int64_t position = seekAndTell(state.file, 0, SEEK_CUR);
  if (position < 0) {
    return reportFailure(kErrAccessInput, state.path);
  }
  start = position;
  const size_t count = std::fread(state.buffer, 1, kStepReadLength, state.file);
  if (count == 0) {
    return reportFailure(kErrReadInput, state.path);
  }
  if (count < 2) {
    state.buffer[1] = 0;
  }
  int32_t lengthWord = readLe16(state.buffer);

  TapeBlock block;
  int32_t status = kOk;
  if (count >= kHeaderPartLength && detectHeader(state.buffer, block)) {
    state.bare = true;
    status = scanHeaderBlock(state, block, start, start + kHeaderPartLength, lengthWord, next);
  } else if (lengthWord == kHeaderPartLength && count == kStepReadLength &&
             detectHeader(state.buffer + 2, block)) {
    lengthWord = readLe16(state.buffer + 2 + kHeaderPartLength);
    status = scanHeaderBlock(state, block, start + 2, start + kStepReadLength, lengthWord, next);
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
    block.bodyOffset = static_cast<int32_t>(start + 2);
    block.bodyLengthError = -1;
    next = seekAndTell(state.file, start + 2 + lengthWord, SEEK_SET);
    if (next < 0) {
      return reportFailure(kErrAccessInput, state.path);
    }
  }
  if (status != kOk) {
    return status;
  }
  return appendBlock(job, block);
}

}  // namespace

bool detectHeader(const uint8_t* bytes, TapeBlock& block) {
  for (int32_t i = 0; i < kSyncPatternLength; ++i) {
    if (bytes[i] != kSyncBytes[i / kSyncRun]) {
      return false;
    }
  }
  const uint8_t* header = bytes + kSyncPatternLength;
  block.fileNumber = header[0];
  block.fileType = static_cast<char>(header[1]);
  block.beginAddress = static_cast<uint16_t>(readLe16(header + 2));
  block.length = static_cast<uint16_t>(readLe16(header + 4));
  for (int32_t i = 0; i < 8; ++i) {
    block.name[i] = static_cast<char>(header[6 + i]);
  }
  block.headerChecksum = header[14];
  block.headerChecksumError = checksumMatches(header, kHeaderLength - 1) ? 0 : 1;
  return true;
}

bool checksumMatches(const uint8_t* bytes, int32_t count) {
  uint32_t sum = 0;
  for (int32_t i = 0; i < count; ++i) {
    sum += bytes[i];
  }
  return (sum & 0xFFu) == bytes[count];
}

int32_t scanTape(ConversionJob& job) {
  std::printf("Reading source file: %s\n", job.inputPath);
  freeBlocks(job);
  job.inputSize = -1;
  // The driver allocates the buffer first; this only matters for callers that do not.
  const int32_t status = allocZeroed(job.blockBuffer, kBlockBufferSize);
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
  state.buffer = job.blockBuffer->data();
  int64_t next = 0;
  int64_t stoppedAt = 0;
  for (;;) {
    int64_t start = next;
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
