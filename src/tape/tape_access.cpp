// Access to a scanned tape image's blocks by number, and the block list's storage.
#include <filesystem>
#include <new>

#include "tape/tape_image.h"

void freeBlocks(ConversionJob& job) {
  std::vector<TapeBlock>().swap(job.blocks);
  job.blockCount = 0;
}

int32_t appendBlock(ConversionJob& job, const TapeBlock& block) {
  try {
    job.blocks.push_back(block);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  job.blockCount = static_cast<int32_t>(job.blocks.size());
  return kOk;
}

FileHandle openInputFile(const char* path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    return FileHandle();
  }
  return FileHandle(std::fopen(path, "rb"));
}

int32_t findBlock(const ConversionJob& job, int32_t number, const TapeBlock*& block) {
  if (number < 1 || number > job.blockCount) {
    return reportFailure(kErrBadBlock, number);
  }
  block = &job.blocks[static_cast<size_t>(number - 1)];
  return kOk;
}

int32_t readBlockPart(ConversionJob& job, int32_t number, int32_t wantHeader,
                      const TapeBlock*& block) {
  int32_t status = findBlock(job, number, block);
  if (status != kOk) {
    return status;
  }
  const bool isHeaderBlock = block->fileType != 0;
  int64_t offset = block->bodyOffset;
  int32_t count = block->length;
  if (wantHeader != 0 && isHeaderBlock) {
    // Mato sends its own sync byte instead of the image's sync pattern.
    offset = block->headerOffset + (job.useMato != 0 ? kSyncPatternLength : 0);
    count = job.useMato != 0 ? kHeaderLength : kHeaderPartLength;
  } else if (isHeaderBlock) {
    count += 2;
  }
  status = allocZeroed(job.blockBuffer, kBlockBufferSize);
  if (status != kOk) {
    return status;
  }
  status = readFileRange(job.inputPath, job.blockBuffer->data(), offset, count, job.inputSize);
  return status != kOk ? status : count;
}

int32_t readFileRange(const char* path, uint8_t* buffer, int64_t offset, int32_t count,
                      int64_t expectedSize) {
  const FileHandle file = openInputFile(path);
  if (!file) {
    return reportFailure(kErrOpenInput, path);
  }
  if (expectedSize >= 0) {
    if (fseeko(file.get(), 0, SEEK_END) != 0) {
      return reportFailure(kErrAccessInput, path);
    }
    if (ftello(file.get()) != expectedSize) {
      return reportFailure(kErrReadInput, path);
    }
  }
  if (fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) != 0 ||
      ftello(file.get()) != offset) {
    return reportFailure(kErrAccessInput, path);
  }
  if (count > 0 &&
      std::fread(buffer, 1, static_cast<size_t>(count), file.get()) != static_cast<size_t>(count)) {
    return reportFailure(kErrReadInput, path);
  }
  return kOk;
}
