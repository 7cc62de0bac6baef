// PMD 85 block encoding.
#include "audio/pmd85_encoder.h"

#include "audio/signal.h"
#include "tape/tape_image.h"

int32_t writePmdByte(ConversionJob& job, uint32_t value) {
  int32_t status = writeWaveform(job, false);
  if (status == kOk) {
    status = writeDataBits(job, value);
  }
  if (status == kOk) {
    status = writeWaveform(job, true);
  }
  if (status == kOk) {
    status = writeWaveform(job, true);
  }
  return status;
}

int32_t exportPmdBlock(ConversionJob& job, int32_t number) {
  const TapeBlock* block = nullptr;
  int32_t count = startBlock(job, number, block);
  if (count < 0) {
    return count;
  }
  const std::vector<int32_t>& selection = *job.selection;
  const bool isHeaderBlock = block->fileType != 0;
  // First and last are decided by block number, not by position in the selection.
  const bool isFirst = number == selection.front();
  const bool isLast = number == selection[static_cast<size_t>(job.selectionCount - 1)];
  int32_t status = kOk;
  if (isHeaderBlock && !isFirst) {
    status = writeLeader(job, kPmdLeaderSeconds);
    if (status == kOk) {
      status = writeGap(job, job.gapSeconds);
    }
    if (status != kOk) {
      return status;
    }
  }
  status = writeLeader(job, isHeaderBlock ? kPmdHeaderLeaderSeconds : kPmdLeaderSeconds);
  if (status == kOk) {
    status = writeDataBytes(job, count, writePmdByte);
  }
  if (status != kOk) {
    return status;
  }
  if (isHeaderBlock) {
    count = readBlockPart(job, number, 0, block);
    if (count < 0) {
      return count;
    }
    status = writeLeader(job, kPmdLeaderSeconds);
    if (status == kOk) {
      status = writeDataBytes(job, count, writePmdByte);
    }
    if (status != kOk) {
      return status;
    }
  }
  return isLast ? writeLeader(job, kPmdLeaderSeconds) : kOk;
}
