// PMD 85 protocol: leaders of mark waveforms and eleven-waveform byte frames.
#pragma once

#include <cstdint>

#include "core/job.h"

// Encodes block `number` (1-based): for a header block, when it is not the first entry of
// the selection, a 0.5 s leader and gapSeconds of silence; a 2.8 s leader, the 63-byte
// header part, a 0.5 s leader and the body part. A headerless block is a 0.5 s leader and
// its bytes. When `number` equals the selection's last entry a 0.5 s leader follows.
// Prints "Exporting ..." with -vb. Returns kOk or the first failure's code, reported.
[[nodiscard]] int32_t exportPmdBlock(ConversionJob& job, int32_t number);

// Writes one byte frame: a space (start bit), 8 data bits least significant first (mark
// for 1, space for 0), two marks (stop bits). Returns kOk or -16, reported.
[[nodiscard]] int32_t writePmdByte(ConversionJob& job, uint32_t value);
