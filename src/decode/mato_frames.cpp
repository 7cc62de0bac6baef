// The Mato cell walk and frame reader: cells from crossing to crossing into the first
// level, frames from start bit to start bit, and the gaps between them.
#include "decode/mato_frames.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/errors.h"
#include "core/memory.h"
#include "decode/lead_in.h"

namespace {

// A mark lasts 5/3 of a space at every rate (35/21, 15/9, 70/42 samples); the boundary
// sits at the geometric middle of the two.
constexpr double kMarkRatio = 5.0 / 3.0;
constexpr double kMarkBoundary = 1.29;
constexpr double kShortestCell = 0.6;
constexpr double kLongestCell = 2.2;
constexpr double kTrackingGain = 0.05;
constexpr double kShortestHead = 0.15;
constexpr double kHeadBoundary = 0.58;
constexpr double kLongestHead = 1.4;
constexpr int32_t kDataBits = 8;
constexpr int32_t kFrameCells = 1 + kDataBits;
// Frames carry no stop bits, so only the start bit (a mark) tells where they begin: after
// a gap, a guess must find a mark at the start of this many frames in a row, and, where
// the block ends within them, come out at that end with whole frames.
constexpr int32_t kResyncFrames = 20;
constexpr int32_t kMinResyncFrames = 3;
// More spaces in a row than data holds are the next pilot.
constexpr int32_t kPilotSpaces = 16;
static_assert(kPilotSpaces > kMatoLongestDataSpaces);
// A reading is kept for the next read (MatoProgress) at the first frame this close to the
// end of the crossings: further than a frame, the look for a pilot after it and a stray
// pulse in each cell reach.
constexpr size_t kResumeCrossings = 2048;
// A pulse shorter than this share of a space (a level lasts a third at least) is noise
// that split a level.
constexpr double kStrayPulse = 0.15;

MatoCell classify(double period, double space) {
  if (period < kShortestCell * space || period > kLongestCell * space) {
    return kMatoInvalid;
  }
  return period < kMarkBoundary * space ? kMatoSpace : kMatoMark;
}


// The crossing that ends the level which crossing `k` begins: past a stray pulse that
// split the level, where one begins at k + 1.
size_t skipStrayPulse(MatoCellWalk& walk, size_t k) {
  const CrossingValues<double>& x = walk.crossings->positions;
  if (k + 3 < x.size() && x[k + 2] - x[k + 1] < kStrayPulse * walk.space) {
    walk.repaired = true;
    return k + 3;
  }
  return k + 1;
}

// Returns the cell that starts at crossing c and moves c to the next one. The period to
// the next waveform and the length of the first level (a third of a space for a space, a
// whole space for a mark) must agree; where they do not, the next "waveform" is the noise
// or silence after the block, and the first level alone tells the last cell.
MatoCell readCell(MatoCellWalk& walk) {
  const CrossingValues<double>& x = walk.crossings->positions;
  const size_t c = walk.c;
  if (walk.ended || c + 1 >= x.size()) {
    return kMatoInvalid;
  }
  walk.cellStart = c;
  const double space = walk.space;
  const size_t headEnd = skipStrayPulse(walk, c);
  const size_t next = skipStrayPulse(walk, headEnd);
  const double head = x[headEnd] - x[c];
  if (head < kShortestHead * space || head > kLongestHead * space) {
    return kMatoInvalid;
  }
  const MatoCell byHead = head < kHeadBoundary * space ? kMatoSpace : kMatoMark;
  const double period = next < x.size() ? x[next] - x[c] : 0;
  if (classify(period, space) == byHead) {
    const double measured = byHead == kMatoMark ? period / kMarkRatio : period;
    walk.spreadSum += (measured / space - 1) * (measured / space - 1);
    walk.spreadCount += 1;
    walk.space += kTrackingGain * (measured - space);
    walk.c = next;
  } else {
    walk.c = headEnd;
    walk.ended = true;
  }
  return byHead;
}

enum Lookahead { kPilot, kNoPilot, kPilotUndecided };

// Whether the space just read by `walk` begins a pilot: the cells after it are spaces too.
Lookahead lookForPilot(MatoCellWalk walk) {
  for (int32_t spaces = 1; spaces < kPilotSpaces; ++spaces) {
    const MatoCell cell = readCell(walk);
    if (cell == kMatoInvalid && walk.c + 2 >= walk.crossings->positions.size() && !walk.ended) {
      return kPilotUndecided;
    }
    if (cell != kMatoSpace) {
      return kNoPilot;
    }
  }
  return kPilot;
}

constexpr int32_t kTrialCells = kResyncFrames * kFrameCells;

// The cells that a trial walk reads from a crossing after a gap, up to a pilot.
struct TrialCells {
  bool marks[kTrialCells];
  size_t starts[kTrialCells];
  int32_t count = 0;
  bool pilot = false;  // a pilot follows the cells read
};

// Reads up to kTrialCells cells from crossing `from`, with the speed of `walk`. Returns
// false where the crossings ran out before the trial was decided.
bool readTrialCells(const MatoCellWalk& walk, size_t from, TrialCells& cells) {
  MatoCellWalk trial{walk.crossings, walk.space, from};
  int32_t spaces = 0;
  MatoCell cell = kMatoSpace;
  while (cells.count < kTrialCells) {
    cell = readCell(trial);
    if (cell == kMatoInvalid) {
      break;
    }
    cells.marks[cells.count] = cell == kMatoMark;
    cells.starts[cells.count] = trial.cellStart;
    ++cells.count;
    spaces = cell == kMatoSpace ? spaces + 1 : 0;
    if (spaces == kPilotSpaces) {
      cells.count -= kPilotSpaces;
      cells.pilot = true;
      break;
    }
  }
  return !(cell == kMatoInvalid && trial.c + 2 >= walk.crossings->positions.size());
}

// Of the cells where frames may begin, each with its start bit, the one nearest to a whole
// number of frames after `gapStart`.
ResyncResult chooseFrameStart(const Crossings& crossings, const TrialCells& cells,
                              double gapStart, double frameSamples) {
  const CrossingValues<double>& x = crossings.positions;
  ResyncResult found;
  for (int32_t offset = 0;
       offset < kFrameCells && cells.count - offset >= kMinResyncFrames * kFrameCells; ++offset) {
    // Where the block ends within the trial, the frames must fill it to its end.
    bool framed = !cells.pilot || (cells.count - offset) % kFrameCells == 0;
    for (int32_t start = offset; framed && start < cells.count; start += kFrameCells) {
      framed = cells.marks[start];
    }
    if (framed) {
      keepNearestGuess(found, cells.starts[offset], x[cells.starts[offset]], gapStart,
                       frameSamples);
    }
  }
  return found;
}

// Looks after a gap that began at sample `gapStart` for where frames go on, up to
// `deadline`, from crossing `from`. `frameSamples` is the mean frame length so far: the
// time since the gap decides between guesses that fit equally.
ResyncResult findFramesAfterGap(const MatoCellWalk& walk, bool firstRising, size_t from,
                                double gapStart, double deadline, double frameSamples) {
  const CrossingValues<double>& x = walk.crossings->positions;
  for (size_t i = from;; ++i) {
    if (i + 2 >= x.size()) {
      return runOutOfCrossings(*walk.crossings, deadline);
    }
    if (x[i] > deadline) {
      return {};
    }
    if (isRising(*walk.crossings, i) != firstRising) {
      continue;
    }
    TrialCells cells;
    if (!readTrialCells(walk, i, cells)) {
      return {kResyncOutOfData};
    }
    const ResyncResult found = chooseFrameStart(*walk.crossings, cells, gapStart, frameSamples);
    if (found.kind == kResyncFound) {
      return found;
    }
    if (cells.pilot) {
      return {kResyncLeadIn, 0, x[cells.starts[cells.count]]};
    }
  }
}

// Places a walk at the first crossing into the first level of the pilot `leadIn`: periods
// are measured between crossings into the first level, where each waveform begins; the
// other edge would do as well, since both waveforms end alike.
MatoCellWalk startWalk(const Crossings& crossings, const LeadIn& leadIn) {
  MatoCellWalk walk{&crossings, leadIn.highSamples + leadIn.lowSamples, leadIn.first};
  if (isRising(crossings, walk.c) != (leadIn.phase != kPhaseReversed)) {
    ++walk.c;
  }
  return walk;
}

// Reads the pilot's spaces; returns the cell that ended them and counts them in `spaces`.
MatoCell readPilot(MatoCellWalk& walk, int32_t& spaces) {
  spaces = 0;
  MatoCell cell = readCell(walk);
  for (; cell == kMatoSpace; cell = readCell(walk)) {
    ++spaces;
    walk.repaired = false;
  }
  return cell;
}

// True when the lead-in search, from crossing `from` on, finds a pilot whose spaces end
// with a mark at crossing `startBit`: the part it begins is read the usual way.
bool pilotLeadsTo(const Crossings& crossings, int32_t sampleRate, size_t from, size_t startBit) {
  // A body pilot's closing mark, or a crossing that noise moved, lie a little apart.
  constexpr size_t kNear = 4;
  size_t runStart = from;
  size_t position = from;
  LeadIn leadIn;
  while (findLeadInBefore(crossings, startBit + 2, sampleRate, kProtocolAuto, kPhaseAuto,
                          runStart, position, leadIn)) {
    MatoCellWalk walk = startWalk(crossings, leadIn);
    int32_t spaces = 0;
    if (leadIn.protocol == kProtocolMato && readPilot(walk, spaces) == kMatoMark &&
        walk.cellStart <= startBit + kNear && walk.cellStart + kNear >= startBit) {
      return true;
    }
    runStart = position = leadIn.end;
  }
  return false;
}


// At the body's length, whether the start bit just read begins a frame that was left out.
// A start bit told by its first level alone had no waveform after it, one that only a
// stray pulse passed over makes whole is as likely noise after the block, and so is one
// that no whole frame follows (a coupling capacitor's swing back after the last waveform,
// then hiss).
bool frameFollows(MatoFrameReader& reader) {
  if (reader.walk.ended || reader.walk.repaired) {
    return false;
  }
  MatoCellWalk ahead = reader.walk;
  int32_t bit = 0;
  while (bit < kDataBits && readCell(ahead) != kMatoInvalid) {
    ++bit;
  }
  reader.waiting =
      bit != kDataBits && !ahead.ended && ahead.c + 2 >= reader.crossings->positions.size();
  return bit == kDataBits;
}

// After a whole frame, reads the cell where the next start bit belongs. A space there
// begins the next pilot (`stop` is set), or is noise in a dropout: only a pilot goes on
// with spaces. Where no start bit follows, `gapStart` is the end of the frame.
void readAfterFrame(MatoFrameReader& reader, double& gapStart, bool& stop) {
  MatoCellWalk& walk = reader.walk;
  const CrossingValues<double>& x = reader.crossings->positions;
  const size_t frameEnd = walk.c;
  reader.lastFrameEnd = x[std::min(frameEnd, x.size() - 1)];
  reader.cell = readCell(walk);
  if (reader.cell == kMatoMark) {
    return;
  }
  if (reader.cell == kMatoSpace) {
    const Lookahead ahead = lookForPilot(walk);
    if (ahead != kNoPilot) {
      walk.c = frameEnd;
      reader.endedCleanly = ahead == kPilot;
      reader.waiting = ahead == kPilotUndecided;
      stop = true;
      return;
    }
  }
  walk.c = frameEnd;
  walk.ended = false;
  gapStart = reader.lastFrameEnd;
}

// Reads the frame whose start bit was read last. Where it broke, or no start bit follows
// it, `gapStart` says where the gap began; `stop` is set where the part ends.
int32_t readFrame(MatoFrameReader& reader, double& gapStart, bool& stop) {
  MatoCellWalk& walk = reader.walk;
  const double frameStart = reader.crossings->positions[walk.cellStart];
  const size_t frameFirst = walk.cellStart;  // the start bit's first crossing
  gapStart = frameStart;
  uint32_t value = 0;
  for (int32_t bit = 0; bit < kDataBits; ++bit) {
    const MatoCell data = readCell(walk);
    if (data == kMatoInvalid) {
      reader.cell = kMatoInvalid;  // the frame broke: a gap began at its start
      return kOk;
    }
    value |= (data == kMatoMark ? 1u : 0u) << bit;
  }
  // Every level of a Mato cell lasts a whole number of thirds of a space.
  const uint8_t clarity = gradeCells(*reader.crossings, frameFirst, walk.c + 1, walk.space / 3);
  const int32_t status =
      appendByte(*reader.part, static_cast<uint8_t>(value),
                 walk.repaired ? std::min(clarity, kByteRepaired) : clarity, frameStart);
  walk.repaired = false;
  if (status == kOk) {
    readAfterFrame(reader, gapStart, stop);
  }
  return status;
}

// Bridges the gap that began at `gapStart`. Sets `stop` where the part ends there.
int32_t passGap(MatoFrameReader& reader, double gapStart, bool& stop) {
  TapePart& part = *reader.part;
  Gap gap;
  gap.start = gapStart;
  gap.frameSamples =
      (reader.lastFrameEnd - reader.firstFrameSample) / static_cast<double>(part.bytes.size());
  gap.resync = findFramesAfterGap(reader.walk, reader.firstRising, reader.walk.c + 1, gapStart,
                                  gapStart + reader.maxGapSamples, gap.frameSamples);
  GapOutcome outcome = kGapEndsPart;
  const int32_t status = followGap(part, reader.bridge, reader.limit, gap, outcome);
  reader.waiting = outcome == kGapWaiting;
  stop = outcome != kGapBridged;
  if (status == kOk && outcome == kGapBridged) {
    reader.walk.c = gap.resync.crossing;
    reader.walk.ended = false;
    reader.cell = readCell(reader.walk);
  }
  return status;
}

// The part is whole at a gap that began at `gapStart`: notes where the next part's frames
// go on, if they do after it, and leaves the gap to that part.
int32_t lookPastEnd(MatoFrameReader& reader, double gapStart) {
  const double frameSamples = (reader.lastFrameEnd - reader.firstFrameSample) /
                              static_cast<double>(reader.part->bytes.size());
  const ResyncResult resync =
      findFramesAfterGap(reader.walk, reader.firstRising, reader.walk.c + 1, gapStart,
                         gapStart + reader.maxGapSamples, frameSamples);
  reader.waiting = resync.kind == kResyncOutOfData;
  if (resync.kind == kResyncFound &&
      signalLostBetween(*reader.crossings, reader.walk.c + 1, resync.crossing,
                        reader.walk.space) &&
      !pilotLeadsTo(*reader.crossings, reader.sampleRate, reader.walk.c + 1, resync.crossing)) {
    noteNextFrames(*reader.part, resync);
  }
  return kOk;
}

// Reads frame after frame while start bits come.
int32_t readFrames(MatoFrameReader& reader, MatoProgress& progress) {
  TapePart& part = *reader.part;
  while (reader.cell == kMatoMark) {
    const int32_t kept = keepReading(reader, progress, reader.walk.c, kResumeCrossings);
    if (kept != kOk) {
      return kept;
    }
    if (part.bytes.size() >= reader.limit && !reader.bridge.bridged) {
      part.cut = frameFollows(reader) ? 1 : 0;
      return kOk;
    }
    double gapStart = 0;
    bool stop = false;
    int32_t status = readFrame(reader, gapStart, stop);
    if (status != kOk || stop) {
      return status;
    }
    if (reader.cell == kMatoMark) {
      continue;
    }
    const bool full =
        part.bytes.size() >= (reader.bridge.bridged ? kMaxPartLength : reader.limit);
    if (part.bytes.empty() || full) {
      return kOk;
    }
    if (!reader.bridge.bridged && part.bytes.size() == reader.wholeLength) {
      return lookPastEnd(reader, gapStart);
    }
    // A dropout, a crease or a splice: the frames after it are placed by the time that
    // passed, and the bytes under it are marked unknown.
    status = passGap(reader, gapStart, stop);
    if (status != kOk || stop) {
      return status;
    }
  }
  return kOk;
}

// Reads the frames and ends the part: a body fitted to its length, cut by the end of the
// recording, the bytes without a known place marked.
int32_t finishPart(MatoFrameReader& reader, const LeadIn& leadIn, bool isBody,
                   const PartLimits& limits, size_t& next, MatoProgress& progress) {
  const Crossings& crossings = *reader.crossings;
  TapePart& part = *reader.part;
  const CrossingValues<double>& x = crossings.positions;
  int32_t status = readFrames(reader, progress);
  if (status == kOk && reader.bridge.bridged && isBody) {
    status = fitBridgedBody(part, limits.byteLimit, reader.bridge, reader.endedCleanly);
  }
  if (status != kOk) {
    return status;
  }
  if (reader.waiting && crossings.ended && !part.bytes.empty()) {
    reader.waiting = false;
    const double frameSamples = (reader.lastFrameEnd - reader.firstFrameSample) /
                                static_cast<double>(part.bytes.size());
    closePartAtEnd(part, crossings, reader.lastFrameEnd, frameSamples, false,
                   limits);
  }
  status = markUnplacedBytes(part, reader.bridge,
                             isBody && part.bytes.size() == limits.byteLimit && part.cut == 0);
  if (status != kOk) {
    return status;
  }
  next = reader.waiting ? x.size() : reader.walk.c;
  const MatoCellWalk& walk = reader.walk;
  part.cellSpread = walk.spreadCount > 0 ? 100 * std::sqrt(walk.spreadSum / walk.spreadCount) : 0;
  if (!part.bytes.empty()) {
    measurePart(crossings, leadIn.end, next + 1, reader.firstFrameSample, part, progress.swings);
  }
  return kOk;
}

// Starts the reading of the frames after `leadIn` into `reader`: after the pilot, and its
// closing mark before a body, or, resumed, at the start bit where frames go on.
void startReading(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                  bool isBody, const PartLimits& limits, MatoFrameReader& reader) {
  const CrossingValues<double>& x = crossings.positions;
  TapePart& part = *reader.part;
  part.protocol = kProtocolMato;
  part.phase = leadIn.phase;
  part.startSample = x[leadIn.first];
  part.startLost = leadIn.resumed ? 1 : 0;
  reader.crossings = &crossings;
  reader.walk = leadIn.resumed
                    ? MatoCellWalk{&crossings, leadIn.highSamples + leadIn.lowSamples, leadIn.first}
                    : startWalk(crossings, leadIn);
  reader.limit = limits.byteLimit;
  reader.wholeLength = limits.wholeLength;
  reader.firstRising = leadIn.phase != kPhaseReversed;
  reader.maxGapSamples = kMaxDropoutSeconds * sampleRate;
  reader.bridge = leadIn.resumed ? bridgeLostStart() : GapBridge{};
  reader.sampleRate = sampleRate;
  reader.measuredFrom = leadIn.end;
  MatoCellWalk& walk = reader.walk;
  part.cellRate = sampleRate / walk.space;
  int32_t pilotSpaces = 0;
  reader.cell = leadIn.resumed ? readCell(walk) : readPilot(walk, pilotSpaces);
  // The mark that ended the pilot is the start bit of the first frame, except after a
  // body pilot, which closes with a mark of its own.
  if (reader.cell == kMatoMark && isBody && !leadIn.resumed) {
    walk.repaired = false;
    reader.cell = readCell(walk);
  }
  reader.firstFrameSample = x[walk.cellStart];  // the start bit just read
  reader.lastFrameEnd = reader.firstFrameSample;
  walk.spreadSum = 0;
  walk.spreadCount = 0;
  // The pilot and its closing mark were read a few crossings ahead.
  reader.mayKeep = walk.c + kResumeCrossings < x.size();
}

}  // namespace

int32_t countPilotSpaces(const Crossings& crossings, const LeadIn& leadIn) {
  if (leadIn.resumed) {
    return 0;
  }
  MatoCellWalk walk = startWalk(crossings, leadIn);
  int32_t spaces = 0;
  (void)readPilot(walk, spaces);
  return spaces;
}

size_t firstCrossingKept(const MatoProgress& progress) {
  // signalLostBetween compares with the swing of the crossings before where it looks.
  constexpr size_t kBefore = 64;
  const MatoCellWalk& walk = progress.reader.walk;
  const size_t first = std::min(walk.c, walk.cellStart);
  return first > kBefore ? first - kBefore : 0;
}

int32_t readMatoFrames(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                       bool isBody, const PartLimits& limits, TapePart& part, size_t& next,
                       MatoProgress& progress) {
  MatoFrameReader reader;
  if (progress.valid) {
    reader = progress.reader;
    reader.crossings = &crossings;
    reader.walk.crossings = &crossings;
    reader.part = &part;
    reader.kept = false;
    const int32_t status = copyValue(part, progress.part);
    return status == kOk ? finishPart(reader, leadIn, isBody, limits, next, progress) : status;
  }
  reader.part = &part;
  startReading(crossings, leadIn, sampleRate, isBody, limits, reader);
  return finishPart(reader, leadIn, isBody, limits, next, progress);
}
