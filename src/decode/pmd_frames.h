// PMD 85 frames: a start bit (a space), 8 data bits from the lowest, two stop bits (marks),
// and any number of idle marks between frames, read from the cells after a leader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/demodulator.h"
#include "decode/lead_in.h"
#include "decode/tape_part.h"

// Reads the frames after the PMD 85 leader `leadIn` (or, resumed, from the start bit there)
// into `part` (bytes, phase, rate, frame errors), at most limits.byteLimit bytes; part.cut
// is set when another frame follows the limit. A limit below kMaxPartLength is a body's,
// to which a body whose gaps were bridged is fitted. Gaps of up to kMaxDropoutSeconds are
// bridged, except one that comes where the part holds limits.wholeLength bytes. `next` receives the crossing at
// which reading stopped, or the end of the crossings where the part may go on once more
// arrive. A part with no bytes means the leader led nowhere. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t readPmdFrames(const Crossings& crossings, const LeadIn& leadIn,
                                    int32_t sampleRate, const PartLimits& limits, TapePart& part,
                                    size_t& next);
