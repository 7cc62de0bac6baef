// Entry point: runs one conversion job from the command line and returns its exit code.
#include <cstdio>

#include "app/options.h"
#include "audio/export.h"
#include "core/errors.h"
#include "core/job.h"
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

int32_t runJob(int argc, const char* const* argv, ConversionJob& job) {
  int32_t status = parseOptions(argc, argv, job);
  if (status != kOk) {
    return status;
  }
  status = allocZeroed(job.blockBuffer, kBlockBufferSize);
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
    // A listing that stops at a bad block number has said so; the run still succeeds.
    listTape(job);
    return kOk;
  }
  return exportWav(job);
}

}  // namespace

int main(int argc, char** argv) {
  int32_t status = kShowUsage;
  if (argc > 1) {
    printBanner();
    ConversionJob job;
    status = runJob(argc, argv, job);
  }
  if (status == kShowUsage) {
    printUsage();
    status = kOk;
  } else if (status == kShowVersion) {
    printBanner();
    status = kOk;
  } else if (status == kOk) {
    std::fputs("\nAll done.\n", stdout);
  }
  return -status;
}
