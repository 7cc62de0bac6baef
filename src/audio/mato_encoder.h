// Mato protocol: pilots of space waveforms, a sync byte and nine-waveform byte frames.
#pragma once

#include <cstdint>

#include "core/job.h"

// Encodes block `number` (1-based): for a header block, when it is not the first entry of
// the selection, gapSeconds of silence; a pilot of 510 spaces, the sync byte 0x55, the 15
// header bytes, a pilot of 128 spaces and one mark, and the body part. A headerless block
// is a pilot of 128 spaces and its bytes. Prints "Exporting ..." with -vb. Returns kOk or
// the first failure's code, already reported.
[[nodiscard]] int32_t exportMatoBlock(ConversionJob& job, int32_t number);

// Writes `count` space waveforms (at least one), then one mark when `closingMark` is set.
// Returns kOk or -16, reported.
[[nodiscard]] int32_t writeMatoPilot(ConversionJob& job, int32_t count, bool closingMark);

// Writes one byte frame: a mark (start bit) and 8 data bits least significant first, mark
// for 1 and space for 0; no stop bits. Returns kOk or -16, reported.
[[nodiscard]] int32_t writeMatoByte(ConversionJob& job, uint32_t value);
