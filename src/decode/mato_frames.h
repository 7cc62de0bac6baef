// Mato frames: a mark is one period of 630 Hz and a space one of 1050 Hz, so the period
// between two crossings into the first level tells them apart; a frame is a mark start
// bit and 8 data bits with nothing between frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode/demodulator.h"
#include "decode/lead_in.h"
#include "decode/tape_part.h"

enum MatoCell { kMatoInvalid, kMatoSpace, kMatoMark };

// Cells are read from crossing to crossing into the first level, following the speed.
struct MatoCellWalk {
  const Crossings* crossings = nullptr;
  double space = 0;      // samples of a space, tracked
  size_t c = 0;          // crossing where the next cell begins
  size_t cellStart = 0;  // crossing where the cell last read began
  bool ended = false;    // the last cell was read from its first level alone
  // A stray pulse was passed over since this was last cleared.
  bool repaired = false;
  double spreadSum = 0;
  double spreadCount = 0;
};

// The reading of the frames of one part. A stream keeps it between the reads of a part
// still arriving (MatoProgress), so it points to its crossings and part.
struct MatoFrameReader {
  const Crossings* crossings = nullptr;
  MatoCellWalk walk;
  TapePart* part = nullptr;
  size_t limit = kMaxPartLength;
  size_t wholeLength = kMaxPartLength;
  bool firstRising = true;
  double maxGapSamples = 0;  // a gap longer than this is no dropout: the block has ended
  double firstFrameSample = 0;
  double lastFrameEnd = 0;
  MatoCell cell = kMatoInvalid;  // the cell read last: a mark is the next start bit
  GapBridge bridge{};  // once a gap is bridged, the body's length is fitted at the end
  bool endedCleanly = false;
  bool waiting = false;  // the crossings ran out while looking past a gap
  int32_t sampleRate = 0;
  size_t measuredFrom = 0;  // the first crossing of the part's mean swing
  // As in PmdFrameReader: whether the reading may be kept, and was in this read.
  bool mayKeep = false;
  bool kept = false;
};

// A Mato part read up to where its crossings ran out, kept as PmdProgress keeps a PMD 85
// one, with the spaces of its pilot, which are not counted again.
struct MatoProgress {
  bool valid = false;
  MatoFrameReader reader;
  TapePart part;
  SwingSum swings;  // of the part up to firstCrossingKept
  int32_t pilotSpaces = 0;
};

// The first crossing that the reading kept in `progress` (valid) may still look at.
size_t firstCrossingKept(const MatoProgress& progress);

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
// on once more arrive. `progress` carries the reading from one call to the next, as for
// readPmdFrames. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t readMatoFrames(const Crossings& crossings, const LeadIn& leadIn,
                                     int32_t sampleRate, bool isBody, const PartLimits& limits,
                                     TapePart& part, size_t& next, MatoProgress& progress);
