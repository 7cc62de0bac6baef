// Access to a scanned tape image's blocks by number, and the block list's storage.
#include "tape/tape_image.h"

void freeBlocks(ConversionJob& job) {
  std::vector<TapeBlock>().swap(job.blocks);
  job.blockCount = 0;
}

int32_t appendBlock(ConversionJob& job, const TapeBlock& block) {
  const int32_t status = appendItem(job.blocks, block);
  if (status != kOk) {
    return status;
  }
  job.blockCount = static_cast<int32_t>(job.blocks.size());
  return kOk;
}

int32_t findBlock(const ConversionJob& job, int32_t number, const TapeBlock*& block) {
  if (number < 1 || number > job.blockCount) {
    return reportFailure(kErrBadBlock, number);
  }
  block = &job.blocks[static_cast<size_t>(number - 1)];
  return kOk;
}

int32_t checkSelection(const ConversionJob& job) {
  for (int32_t i = 0; i < job.selectionCount; ++i) {
    const TapeBlock* block = nullptr;
    const int32_t status = findBlock(job, (*job.selection)[static_cast<size_t>(i)], block);
    if (status != kOk) {
      return status;
    }
  }
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
    count += kBodyPartExtra;
  }
  status = allocZeroed(job.blockBuffer, kBlockBufferSize);
  if (status != kOk) {
    return status;
  }
  status = readFileRange(job.inputPath, job.blockBuffer->data(), offset, count, job.inputSize);
  return status != kOk ? status : count;
}
