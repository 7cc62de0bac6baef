// The walk over a channel's parts, taken one step at a time as crossings arrive.
#include "decode/stream_decoder.h"

#include <algorithm>
#include <array>
#include <string>

#include "core/memory.h"
#include "decode/part_reader.h"

namespace {

// Crossings past the end of a part that its decoder may have looked at (it reads at most
// three ahead); a part that ends closer than this to the newest crossing may go on.
constexpr size_t kLookahead = 8;
// A part that may go on is read again once its length has doubled, and after at least
// this many crossings (about a second of PMD 85): rereading stays linear. Parts end in
// what watchForPartEnd sees, and are read at once.
constexpr size_t kMinRetryStep = 4096;
// How long after the sample that makes it a crossing is found at most: the smoothing and
// the hum filter's holding back.
constexpr double kCrossingLatencySeconds = 0.01;
// Samples demodulated before the parts are looked at, whatever the caller feeds at once.
constexpr size_t kSliceSamples = 65536;
// Room for the crossings of the longest part (65535 PMD 85 bytes of 11 cells, two
// crossings each) and its leader, made once a part is long: a window that grows by
// copying would hold two copies at once. Pages never written cost no memory.
constexpr size_t kPartCrossings = size_t{3} << 19;
// Used crossings are dropped in batches of at least this many.
constexpr size_t kDropBatch = 65536;
// A long part is read on, to let crossings go, after this many more arrived.
constexpr size_t kReadOnCrossings = 2 * kDropBatch;
// A steady tone longer than this (minutes) is measured over its later part only, so that
// a test tone or hum cannot fill memory.
constexpr size_t kMaxRunIntervals = size_t{1} << 20;
// Intervals outside these shares of a lead-in's half period (PMD 85) or period (Mato)
// end every part, whatever speed tracking did since: the part is read again at once.
constexpr double kPmdShortest = 0.4;
constexpr double kPmdLongest = 2.7;
constexpr double kMatoShortest = 0.1;
constexpr double kMatoLongest = 1.6;
// PMD 85 data holds at most 10 equal cells in a row (0xFF and its stop bits), 14 with the
// idle marks a part may have between frames, each two half-cell intervals; Mato data at
// most 8 spaces (0x00), each two intervals shorter than a mark's first. A longer run is a
// leader or pilot, and the part before it has ended.
constexpr double kPmdRunShare = 1.5;
constexpr size_t kPmdRunIntervals = 30;
constexpr double kMatoRunShare = 0.8;
constexpr size_t kMatoRunIntervals = 20;
// A steady tone (the machine's idle clock, aliased into the band by a recording without
// an anti-alias filter) is a run like any leader, but the frames read after it break one
// after another: where this many of the first frames do, no part begins there.
constexpr size_t kFirstFrames = 16;
constexpr size_t kMaxBrokenFirstFrames = 11;

// Drops the crossings before `keep`, the first one still needed, in batches; every index
// stays as it was.
void dropUsedCrossings(StreamDecoder& decoder, size_t keep) {
  CrossingValues<double>& x = decoder.crossings.positions;
  const size_t used = keep > x.first ? keep - x.first : 0;
  if (used < kDropBatch || used < x.kept.size() / 2) {
    return;
  }
  x.kept.erase(x.kept.begin(), x.kept.begin() + static_cast<std::ptrdiff_t>(used));
  x.first = keep;
  CrossingValues<float>& swings = decoder.crossings.swings;
  swings.kept.erase(swings.kept.begin(), swings.kept.begin() + static_cast<std::ptrdiff_t>(used));
  swings.first = keep;
}

// Looks at the crossings that arrived since the last look for the end of the part: a loss
// of signal longer than any dropout that is bridged, or a run of equal short intervals
// longer than any data holds (the next leader or pilot), brings the next reading forward
// to just after it. An interval that no cell survives may be a dropout that the part
// reader bridges, which it can tell only once the signal is back or the time for that has
// passed: the reading comes then.
void watchForPartEnd(StreamDecoder& decoder) {
  const CrossingValues<double>& x = decoder.crossings.positions;
  const LeadIn& leadIn = decoder.leadIn;
  const bool mato = leadIn.protocol == kProtocolMato;
  const double unit =
      mato ? leadIn.highSamples + leadIn.lowSamples : (leadIn.highSamples + leadIn.lowSamples) / 2;
  const double shortest = unit * (mato ? kMatoShortest : kPmdShortest);
  const double longest = unit * (mato ? kMatoLongest : kPmdLongest);
  const double runLimit = unit * (mato ? kMatoRunShare : kPmdRunShare);
  const size_t runEnd = mato ? kMatoRunIntervals : kPmdRunIntervals;
  const double maxGap = kMaxDropoutSeconds * decoder.sampleRate;
  // Local copies stay in registers through the loop, which runs over every crossing.
  size_t shortRun = decoder.shortRun;
  double gapDeadline = decoder.gapDeadline;
  size_t i = std::max(decoder.checkedUpTo, leadIn.end);
  for (; i + 1 < x.size(); ++i) {
    const double d = x[i + 1] - x[i];
    // Without a branch: in data, short and long intervals follow each other at random.
    shortRun = (shortRun + 1) * static_cast<size_t>(d < runLimit);
    if (d > maxGap || shortRun > runEnd) {
      decoder.retryAt = std::min(decoder.retryAt, i + 2 + kLookahead);
      shortRun = 0;
      ++i;
      break;
    }
    if ((d < shortest || d > longest) && gapDeadline < 0) {
      gapDeadline = x[i] + maxGap;
    }
  }
  decoder.shortRun = shortRun;
  decoder.gapDeadline = gapDeadline;
  decoder.checkedUpTo = i;
}

// Turns a finished part into a block, or holds a header part until the part after it
// shows whether its body arrived.
int32_t takePart(StreamDecoder& decoder, const TapePart& part) {
  DecodedBlock block;
  int32_t status = kOk;
  if (decoder.headerPending) {
    const bool body = part.isBody != 0;
    status = makeDecodedBlock(decoder.header, body ? &part : nullptr, decoder.sampleRate, block);
    if (status == kOk) {
      status = appendItem(decoder.blocks, block);
    }
    decoder.headerPending = false;
    decoder.header = TapePart{};
    if (status != kOk || body) {
      return status;
    }
  }
  if (part.isHeader != 0) {
    decoder.header = part;
    decoder.headerPending = true;
    return kOk;
  }
  status = makeDecodedBlock(part, nullptr, decoder.sampleRate, block);
  return status == kOk ? appendItem(decoder.blocks, block) : status;
}

// Starts the reading of the part whose frames go on after the gap that ended `part`.
void resumeAfter(StreamDecoder& decoder, const TapePart& part) {
  LeadIn resumed;
  resumed.first = part.nextFrames;
  resumed.end = part.nextFrames;
  resumed.protocol = part.protocol;
  resumed.phase = part.phase;
  resumed.resumed = true;
  const double unit = decoder.sampleRate / part.cellRate;  // a PMD 85 cell or a Mato space
  const bool mato = part.protocol == kProtocolMato;
  resumed.highSamples = mato ? unit / 3 : unit / 2;
  resumed.lowSamples = mato ? 2 * unit / 3 : unit / 2;
  decoder.leadIn = resumed;
  decoder.leadInFound = true;
  decoder.progress = PartProgress{};
  decoder.leadInSample = part.nextFramesSample;
  decoder.readOnAt = resumed.first;
  decoder.retryAt = 0;
  decoder.checkedUpTo = resumed.end;
  decoder.shortRun = 0;
  decoder.gapDeadline = -1;
}

// Finds the next lead-in among the crossings that are decided; `found` false where there is
// none yet, with the crossings no longer needed dropped. What the search passed over is
// watched for frames without a leader. Returns kOk or kErrOutOfMemory, reported.
int32_t findNextLeadIn(StreamDecoder& decoder, bool final, bool& found) {
  const size_t size = decoder.crossings.positions.size();
  const size_t limit = final ? size : (size > kLookahead ? size - kLookahead : 0);
  const size_t from = decoder.position;
  found = findLeadInBefore(decoder.crossings, limit, decoder.sampleRate, decoder.protocol,
                           decoder.phase, decoder.runStart, decoder.position, decoder.leadIn);
  const int32_t status =
      watchForStrayFrames(decoder.stray, decoder.crossings, from,
                          found ? decoder.leadIn.first : decoder.position, decoder.sampleRate);
  if (!found) {
    if (decoder.position - decoder.runStart > kMaxRunIntervals) {
      decoder.runStart = decoder.position - kMaxRunIntervals / 2;
    }
    dropUsedCrossings(decoder, decoder.runStart);
    return status;
  }
  decoder.leadInFound = true;
  decoder.progress = PartProgress{};
  decoder.leadInSample = decoder.crossings.positions[decoder.leadIn.first];
  decoder.readOnAt = decoder.leadIn.first;
  decoder.retryAt = 0;
  decoder.checkedUpTo = decoder.leadIn.end;
  decoder.shortRun = 0;
  decoder.gapDeadline = -1;
  return status;
}

// True when the part after the lead-in found is worth reading now, while the recording
// goes on: enough crossings arrived since it was last read, or what arrived shows it ended.
bool partMayHaveEnded(StreamDecoder& decoder) {
  const CrossingValues<double>& x = decoder.crossings.positions;
  const size_t size = x.size();
  watchForPartEnd(decoder);
  const bool gapDecided = decoder.gapDeadline >= 0 && x.back() > decoder.gapDeadline;
  // A signal that stopped for longer than a dropout lasts has ended the part, though no
  // crossing comes to show it; the part is read once more then.
  const bool silent = size > 0 && decoder.silenceReadAt != size &&
                      x.back() + kMaxDropoutSeconds * decoder.sampleRate <
                          decoder.crossings.knownUntil;
  decoder.silenceReadAt = silent ? size : decoder.silenceReadAt;
  return size >= decoder.retryAt || gapDecided || silent;
}

// A part that may go on is read again once enough crossings arrived; the window makes
// room for the longest part once parts are long.
int32_t waitForPart(StreamDecoder& decoder) {
  CrossingValues<double>& x = decoder.crossings.positions;
  const size_t size = x.size();
  decoder.retryAt = size + std::max(kMinRetryStep, size - decoder.leadIn.first);
  if (x.kept.size() < kDropBatch || x.kept.capacity() >= kPartCrossings) {
    return kOk;
  }
  const int32_t status = reserveItems(x.kept, kPartCrossings);
  return status == kOk ? reserveItems(decoder.crossings.swings.kept, kPartCrossings) : status;
}

// Reads the part after the lead-in found, as far as the crossings go.
int32_t readPart(StreamDecoder& decoder, TapePart& part, size_t& next) {
  // A body's leader or pilot follows its header at once; one that starts later than a
  // dropout lasts belongs to a later block, and the body was lost.
  const bool bodyMayFollow =
      decoder.afterHeader &&
      decoder.leadInSample - decoder.headerEnd <= kMaxDropoutSeconds * decoder.sampleRate;
  // One head plays a header and its body: the body's cell walk starts from what the
  // header's learned.
  decoder.leadIn.cellBias = bodyMayFollow ? decoder.cellBias : std::array<float, 4>{};
  return readPartAfter(decoder.crossings, decoder.leadIn, decoder.sampleRate, bodyMayFollow,
                       decoder.bodyLength, part, next, decoder.progress);
}

// While a long part arrives and is not read to be taken, reads it on now and then, for
// nothing but to let the crossings its reading is done with go: the window then holds
// little more than the crossings since. What is read is not taken, so parts are taken
// when they were before.
int32_t readPartOn(StreamDecoder& decoder) {
  const size_t size = decoder.crossings.positions.size();
  if (size < decoder.readOnAt + kReadOnCrossings ||
      !mayReadOn(decoder.leadIn, decoder.progress)) {
    return kOk;
  }
  decoder.readOnAt = size;
  TapePart part;
  size_t next = 0;
  const int32_t status = readPart(decoder, part, next);
  if (status == kOk) {
    dropUsedCrossings(decoder, firstCrossingNeeded(decoder.leadIn, decoder.progress));
  }
  return status;
}

// Goes on after `part`, read whole up to crossing `next`: the next lead-in is looked for
// from there, or the next part's frames read where a dropout took its leader.
int32_t movePast(StreamDecoder& decoder, const TapePart& part, size_t next) {
  decoder.leadInFound = false;
  decoder.progress = PartProgress{};
  decoder.runStart = std::max(next, decoder.leadIn.first + 1);
  decoder.position = decoder.runStart;
  if (part.bytes.empty()) {
    return kOk;
  }
  watchAfterPart(decoder.stray, part.protocol, part.cellRate, part.swing, part.cut != 0,
                 decoder.sampleRate);
  if (part.nextFrames != 0) {
    resumeAfter(decoder, part);
  }
  decoder.afterHeader = part.isHeader != 0;
  if (decoder.afterHeader) {
    decoder.bodyLength = announcedBodyLength(part);
    decoder.headerEnd = part.endSample;
  }
  return takePart(decoder, part);
}

// True when most of the first frames after a lead-in broke (bytes lost under a dropout do
// not count): it was a tone, not a leader or pilot, and what follows it is read from where
// it ended.
bool framesBreakFromStart(const TapePart& part, const LeadIn& leadIn) {
  if (leadIn.resumed || part.bytes.size() < kFirstFrames) {
    return false;
  }
  const auto broken =
      std::count_if(part.confidence.begin(), part.confidence.begin() + kFirstFrames,
                    [](uint8_t grade) { return grade != kByteUnknown && grade <= kByteUncertain; });
  return static_cast<size_t>(broken) > kMaxBrokenFirstFrames;
}

// Reads every part that is complete in the window. With `final` the recording has ended
// and nothing more may arrive.
int32_t scanParts(StreamDecoder& decoder, bool final) {
  const CrossingValues<double>& x = decoder.crossings.positions;
  while (true) {
    if (!decoder.leadInFound) {
      bool found = false;
      const int32_t status = findNextLeadIn(decoder, final, found);
      if (status != kOk || !found) {
        return status;
      }
    }
    if (!final && !partMayHaveEnded(decoder)) {
      return readPartOn(decoder);
    }
    decoder.gapDeadline = -1;
    TapePart part;
    size_t next = 0;
    int32_t status = readPart(decoder, part, next);
    if (status == kOk && framesBreakFromStart(part, decoder.leadIn)) {
      decoder.leadInFound = false;
      decoder.runStart = decoder.leadIn.end;
      decoder.position = decoder.runStart;
      continue;
    }
    if (status == kOk && !final && next + kLookahead >= x.size()) {
      return waitForPart(decoder);
    }
    // Only a part read to its end teaches the next: one read again once more of the
    // recording arrives starts as before.
    decoder.cellBias = part.cellBias;
    status = status == kOk ? movePast(decoder, part, next) : status;
    if (status != kOk) {
      return status;
    }
  }
}

}  // namespace

int32_t startStreamDecoder(StreamDecoder& decoder, int32_t sampleRate, TapeProtocol protocol,
                           TapePhase phase) {
  decoder = StreamDecoder{};
  if (sampleRate < kMinStreamSampleRate || sampleRate > kMaxStreamSampleRate) {
    return reportFailure(
        kErrUnsupportedWav, "recording",
        "sample rate " + std::to_string(sampleRate) + " Hz (8000 to 384000 expected)");
  }
  if (protocol < kProtocolAuto || protocol > kProtocolMato) {
    return reportFailure(kErrBadValue, std::to_string(protocol), "protocol");
  }
  if (phase < kPhaseAuto || phase > kPhaseReversed) {
    return reportFailure(kErrBadValue, std::to_string(phase), "phase");
  }
  decoder.sampleRate = sampleRate;
  decoder.protocol = protocol;
  decoder.phase = phase;
  startDemodulator(decoder.demodulator, sampleRate);
  return kOk;
}

int32_t feedSamples(StreamDecoder& decoder, const float* samples, size_t count) {
  for (size_t done = 0; done < count;) {
    const size_t slice = std::min(kSliceSamples, count - done);
    int32_t status =
        demodulateFloats(decoder.demodulator, samples + done, slice, decoder.crossings);
    // Crossings come a little after the samples that make them.
    const double latency = kCrossingLatencySeconds * decoder.sampleRate;
    decoder.crossings.knownUntil =
        std::max(0.0, static_cast<double>(decoder.demodulator.position) - latency);
    if (status == kOk) {
      status = scanParts(decoder, false);
    }
    if (status != kOk) {
      return status;
    }
    done += slice;
  }
  return kOk;
}

int32_t finishStreamDecoder(StreamDecoder& decoder) {
  int32_t status = finishDemodulator(decoder.demodulator, decoder.crossings);
  decoder.crossings.knownUntil = static_cast<double>(decoder.demodulator.position);
  decoder.crossings.ended = true;
  if (status == kOk) {
    status = scanParts(decoder, true);
  }
  if (status != kOk || !decoder.headerPending) {
    return status;
  }
  DecodedBlock block;
  decoder.headerPending = false;
  const int32_t made = makeDecodedBlock(decoder.header, nullptr, decoder.sampleRate, block);
  decoder.header = TapePart{};
  return made == kOk ? appendItem(decoder.blocks, block) : made;
}
