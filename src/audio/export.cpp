// The export driver: protocol line, WAV file, and the selected blocks between two silences.
#include "audio/export.h"

#include <cstdio>

#include "audio/mato_encoder.h"
#include "audio/pmd85_encoder.h"
#include "audio/signal.h"
#include "audio/wav_file.h"

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

}  // namespace

int32_t exportWav(ConversionJob& job) {
  printProtocol(job);
  int32_t status = createWav(job);
  if (status != kOk) {
    return status;
  }
  status = writeGap(job, 1);
  if (status != kOk) {
    return status;
  }
  for (int32_t i = 0; i < job.selectionCount; ++i) {
    const int32_t number = (*job.selection)[static_cast<size_t>(i)];
    if (job.entryStarts && job.entryStarts->size() > static_cast<size_t>(i)) {
      (*job.entryStarts)[static_cast<size_t>(i)] = job.outputLength;
    }
    status = job.useMato != 0 ? exportMatoBlock(job, number) : exportPmdBlock(job, number);
    if (status != kOk) {
      return status;
    }
  }
  status = writeGap(job, 1);
  if (status != kOk) {
    return status;
  }
  return finalizeWav(job);
}
