// Mato block encoding.
#include "audio/mato_encoder.h"

#include "audio/signal.h"
#include "tape/tape_image.h"

int32_t writeMatoPilot(ConversionJob& job, int32_t count, bool closingMark) {
  int32_t written = 0;
  do {
    const int32_t status = writeWaveform(job, false);
    if (status != kOk) {
      return status;
    }
  } while (++written < count);
  return closingMark ? writeWaveform(job, true) : kOk;
}

int32_t writeMatoByte(ConversionJob& job, uint32_t value) {
  const int32_t status = writeWaveform(job, true);
  return status == kOk ? writeDataBits(job, value) : status;
}

int32_t exportMatoBlock(ConversionJob& job, int32_t number) {
  const TapeBlock* block = nullptr;
  int32_t count = startBlock(job, number, block);
  if (count < 0) {
    return count;
  }
  const bool isHeaderBlock = block->fileType != 0;
  int32_t status = kOk;
  if (isHeaderBlock && number != job.selection->front()) {
    status = writeGap(job, job.gapSeconds);
    if (status != kOk) {
      return status;
    }
  }
  status =
      writeMatoPilot(job, isHeaderBlock ? kMatoHeaderPilotSpaces : kMatoBlockPilotSpaces, false);
  if (status == kOk && isHeaderBlock) {
    status = writeMatoByte(job, kMatoSyncByte);
  }
  if (status == kOk) {
    status = writeDataBytes(job, count, writeMatoByte);
  }
  if (status != kOk || !isHeaderBlock) {
    return status;
  }
  count = readBlockPart(job, number, 0, block);
  if (count < 0) {
    return count;
  }
  status = writeMatoPilot(job, kMatoBlockPilotSpaces, true);
  return status == kOk ? writeDataBytes(job, count, writeMatoByte) : status;
}
