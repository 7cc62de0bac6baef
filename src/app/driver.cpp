// The run after the options, shared by the command line and the page.
#include "app/driver.h"

#include "audio/export.h"
#include "tape/tape_image.h"

namespace {

// Builds the list 1, 2, ..., blockCount for a run without -blk.
int32_t selectAllBlocks(ConversionJob& job) {
  const int32_t status = allocZeroed(job.selection, static_cast<size_t>(job.blockCount));
  if (status != kOk) {
    return status;
  }
  for (job.selectionCount = 0; job.selectionCount < job.blockCount; ++job.selectionCount) {
    (*job.selection)[static_cast<size_t>(job.selectionCount)] = job.selectionCount + 1;
  }
  return kOk;
}

}  // namespace

int32_t runConversion(ConversionJob& job) {
  int32_t status = allocZeroed(job.blockBuffer, kBlockBufferSize);
  if (status != kOk) {
    return status;
  }
  status = scanTape(job);
  if (status != kOk) {
    return status;
  }
  if (!job.selection) {
    status = selectAllBlocks(job);
    if (status != kOk) {
      return status;
    }
  }
  if (job.listOnly != 0) {
    listTape(job);
    return kOk;
  }
  return exportWav(job);
}
