// The part after a lead-in, read by its protocol's frame reader and told for what it is:
// a header part, the body of the header before it, or a headerless block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/demodulator.h"
#include "decode/lead_in.h"
#include "decode/mato_frames.h"
#include "decode/pmd_frames.h"
#include "decode/tape_part.h"

// How far the part after a lead-in has been read, by its protocol's frame reader; empty
// for another part.
struct PartProgress {
  PmdProgress pmd;
  MatoProgress mato;
};

// Reads the part after `leadIn`, given whether a header part came just before and the
// body length (with checksum) it announced: a PMD 85 part after a short leader, or a
// Mato part after a short pilot, is then that header's body, held to that length. Marks
// header parts and bodies. `next` receives the crossing at which reading stopped, or the
// end of the crossings where the part may go on once more arrive. A part that may go on
// is read on from where `progress` left it, to be emptied for another part. Returns kOk
// or kErrOutOfMemory, reported.
[[nodiscard]] int32_t readPartAfter(const Crossings& crossings, const LeadIn& leadIn,
                                    int32_t sampleRate, bool afterHeader, size_t bodyLength,
                                    TapePart& part, size_t& next, PartProgress& progress);

// True when the part after `leadIn`, read so far into `progress`, is worth reading on
// before it may have ended: its reading is kept, or, PMD 85, will be, and needs none of
// the crossings before where it stands. A header part is not: it may be split from a
// body joined to it anywhere in it.
bool mayReadOn(const LeadIn& leadIn, const PartProgress& progress);

// The first crossing that the reading of the part after `leadIn`, kept in `progress`,
// may still look at; the lead-in's first where none is kept.
size_t firstCrossingNeeded(const LeadIn& leadIn, const PartProgress& progress);

// The body length, checksum included, that header part `header` announces; where a byte
// of its header is unknown or its checksum fails, kMaxPartLength: a damaged length field
// must not cut the body short, which then runs as far as its frames do.
size_t announcedBodyLength(const TapePart& header);
