// PMD 85 frames: a start bit (a space), 8 data bits from the lowest, two stop bits (marks),
// and any number of idle marks between frames, read from the cells after a leader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/demodulator.h"
#include "decode/lead_in.h"
#include "decode/pmd_cells.h"
#include "decode/tape_part.h"

// The reading of the frames of one part, cell by cell. A stream keeps it between the reads
// of a part still arriving (PmdProgress), so it points to its crossings and part.
struct PmdFrameReader {
  const Crossings* crossings = nullptr;
  PmdCellWalk walk;
  size_t byteLimit = kMaxPartLength;
  size_t wholeLength = kMaxPartLength;
  double maxGapSamples = 0;  // a gap longer than this is no dropout: the block has ended
  TapePart* part = nullptr;
  double firstByteSample = -1;
  double frameStart = 0;    // of the frame being read
  double frameEnd = -1;     // of the last whole frame
  size_t frameFirst = 0;    // the crossing in the middle of the frame's start bit
  size_t lastFrameEnd = 0;  // the crossing in the middle of the last whole frame's last stop bit
  int32_t bitCount = -1;    // -1: waiting for a start bit; then bits of the frame so far
  int32_t idleMarks = 0;
  uint32_t value = 0;
  bool badStopBit = false;
  // Whether the clock placed a cell since the last whole frame, and guessed one.
  bool repaired = false;
  bool guessed = false;
  bool full = false;
  GapBridge bridge{};  // once a gap is bridged, the body's length is fitted at the end
  bool endedCleanly = false;
  bool waiting = false;  // the crossings ran out
  int32_t sampleRate = 0;
  size_t measuredFrom = 0;  // the first crossing of the part's mean swing
  // The crossings the reading began with lay far enough beyond its first start bit for
  // the reader to be kept in PmdProgress, and whether it was, in this read.
  bool mayKeep = false;
  bool kept = false;
  // lastFrameEnd where the frames were last looked for again after a misleading reading:
  // reading on from there once more would only be misled the same way.
  size_t misledAt = SIZE_MAX;
};

// A part read up to where its crossings ran out, kept so that the next read, with more
// crossings, goes on from there rather than from the leader: a long part arrives in many
// reads, and reading it whole each time would cost a multiple of reading it once. Kept
// is the reader and the part as they stood at the first cell within kResumeCrossings of
// the end of the crossings: every decision before it looked at crossings that were all
// there, and comes out the same with more, so going on from there reads the part as one
// read from its leader would.
struct PmdProgress {
  bool valid = false;
  PmdFrameReader reader;
  TapePart part;
  SwingSum swings;  // of the part up to firstCrossingKept
};

// The first crossing that the reading kept in `progress` (valid) may still look at: the
// next read goes on at the cell it stands at, or looks again from the last whole frame,
// the swing before them included.
size_t firstCrossingKept(const PmdProgress& progress);

// Reads the frames after the PMD 85 leader `leadIn` (or, resumed, from the start bit there)
// into `part` (bytes, phase, rate, frame errors), at most limits.byteLimit bytes; part.cut
// is set when another frame follows the limit. A limit below kMaxPartLength is a body's,
// to which a body whose gaps were bridged is fitted. Gaps of up to kMaxDropoutSeconds are
// bridged, except one that comes where the part holds limits.wholeLength bytes. `next` receives the crossing at
// which reading stopped, or the end of the crossings where the part may go on once more
// arrive. A part with no bytes means the leader led nowhere. `progress` carries the
// reading from one call to the next while the part may go on (empty at first; the caller
// empties it for another part). Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t readPmdFrames(const Crossings& crossings, const LeadIn& leadIn,
                                    int32_t sampleRate, const PartLimits& limits, TapePart& part,
                                    size_t& next, PmdProgress& progress);
