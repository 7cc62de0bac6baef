// The export driver: from a scanned tape and a block selection to a finished WAV file.
#pragma once

#include <cstdint>

#include "core/job.h"

// Prints the protocol line, checks that every selected number names a block, creates the
// WAV file, writes one nominal second of silence, every selected block in list order, one
// more second of silence, and finalizes the file. Returns kOk, or the code of the first
// step that failed, already reported. A bad block number (-19) is found before the output
// is opened, which then stays untouched; after a later failure the file is left
// unfinalized.
[[nodiscard]] int32_t exportWav(ConversionJob& job);
