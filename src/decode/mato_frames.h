// Mato frames: a mark is one period of 630 Hz and a space one of 1050 Hz, so the period
// between two crossings into the first level tells them apart; a frame is a mark start
// bit and 8 data bits with nothing between frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/demodulator.h"
#include "decode/lead_in.h"
#include "decode/tape_part.h"

// The spaces of the Mato pilot `leadIn`, up to the mark that ends it: a header's pilot is
// long, a body's or a headerless block's short; none where the pilot was lost (resumed).
int32_t countPilotSpaces(const Crossings& crossings, const LeadIn& leadIn);

// Reads the frames after the Mato pilot `leadIn` (or, resumed, from the start bit there)
// into `part`. With `isBody` the pilot is the body pilot of a header, closed by a mark of
// its own that is skipped, and the body is held to limits.byteLimit bytes (part.cut is set
// when a frame follows the limit) and fitted to it where gaps were bridged; any other part
// runs as far as its frames do. Gaps of up to kMaxDropoutSeconds are bridged, except one
// that comes where the part holds limits.wholeLength bytes. `next` receives
// the crossing at which reading stopped, or the end of the crossings where the part may go
// on once more arrive. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t readMatoFrames(const Crossings& crossings, const LeadIn& leadIn,
                                     int32_t sampleRate, bool isBody, const PartLimits& limits,
                                     TapePart& part, size_t& next);
