// The steps of one tonbrix run after its options: scan, then list or export.
#pragma once

#include <cstdint>

#include "core/job.h"

// Scans job.inputPath, selects every block when no -blk list was given, and lists the
// selection (-list) or exports it as a WAV file. Returns kOk or the first failure's code,
// already reported; a listing that stops at a bad block number has said so and succeeds.
[[nodiscard]] int32_t runConversion(ConversionJob& job);
