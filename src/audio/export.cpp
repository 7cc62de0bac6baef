// The export driver: protocol line, WAV file, and the selected blocks between two silences.
#include "audio/export.h"

#include <cstdio>

#include "audio/mato_encoder.h"
#include "audio/pmd85_encoder.h"
#include "audio/signal.h"
#include "audio/wav_file.h"
#include "tape/tape_image.h"

namespace {

void printProtocol(const ConversionJob& job) {
  std::fputs("Protocol: ", stdout);
  std::fputs(job.useMato != 0 ? "Mato" : "PMD 85", stdout);
  if (job.doubleSpeed != 0 || job.reversePhase != 0) {
    std::fputs(" (", stdout);
    if (job.doubleSpeed != 0) {
      std::fputs("Double Speed", stdout);
    }
    if (job.doubleSpeed != 0 && job.reversePhase != 0) {
      std::fputs(", ", stdout);
    }
    if (job.reversePhase != 0) {
      std::fputs("Reversal Phase", stdout);
    }
    std::fputs(")", stdout);
  }
  std::fputs("\n", stdout);
}

// One nominal second of silence, every selected block in list order, one more second.
int32_t writeSelection(ConversionJob& job) {
  int32_t status = kOk;
  if (job.entryStarts) {
    status = growZeroed(job.entryStarts, static_cast<size_t>(job.selectionCount));
  }
  if (status == kOk) {
    status = writeGap(job, 1);
  }
  if (status != kOk) {
    return status;
  }
  for (int32_t i = 0; i < job.selectionCount; ++i) {
    const int32_t number = (*job.selection)[static_cast<size_t>(i)];
    if (job.entryStarts) {
      (*job.entryStarts)[static_cast<size_t>(i)] = job.outputLength;
    }
    status = job.useMato != 0 ? exportMatoBlock(job, number) : exportPmdBlock(job, number);
    if (status != kOk) {
      return status;
    }
  }
  return writeGap(job, 1);
}

// A pipe cannot seek back to the size fields, so its header must state them from the
// start. The signal follows from the blocks and the options alone: the same encoders run
// once with no output open, which only counts the samples (writeSamples).
int32_t countSamples(ConversionJob& job) {
  job.outputLength = kWavHeaderLength;
  const int32_t status = writeSelection(job);
  if (status != kOk) {
    return status;
  }
  setWavLength(job, job.outputLength);
  return kOk;
}

}  // namespace

int32_t exportWav(ConversionJob& job) {
  printProtocol(job);
  // Opening the output truncates it: a mistyped block number must not cost an existing
  // file its contents, and the scan has counted the blocks already.
  int32_t status = checkSelection(job);
  if (status != kOk) {
    return status;
  }
  status = prepareWav(job);
  if (status != kOk) {
    return status;
  }
  if (job.toStandardOutput != 0) {
    status = countSamples(job);
    if (status != kOk) {
      return status;
    }
  }
  status = openWav(job);
  if (status != kOk) {
    return status;
  }
  status = writeSelection(job);
  if (status != kOk) {
    return status;
  }
  return finalizeWav(job);
}
