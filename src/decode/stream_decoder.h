// Decoding of one channel: samples in, whole blocks out, with memory that does not grow
// with the length of the recording. The only walk over a channel: a whole recording is
// one big slice, a live one many small ones, and both find the same blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/demodulator.h"
#include "decode/lead_in.h"
#include "decode/part_reader.h"
#include "decode/tape_part.h"
#include "decode/decoded_block.h"
#include "decode/stray_frames.h"

inline constexpr int32_t kMinStreamSampleRate = 8000;
inline constexpr int32_t kMaxStreamSampleRate = 384000;

// The state of one channel. Crossings are kept only from the lead-in being read (or the
// run being measured) on, or, in a long PMD 85 part, from where its reading has got to;
// those already used are dropped, so the window holds at most one part of 65535 bytes, a
// few megabytes, and mostly far less.
struct StreamDecoder {
  std::vector<DecodedBlock> blocks;  // whole blocks found so far, in time order
  int32_t sampleRate = 0;
  TapeProtocol protocol = kProtocolAuto;
  TapePhase phase = kPhaseAuto;
  DemodulatorState demodulator;
  Crossings crossings;  // the window; positions stay in samples from the start
  std::array<float, 4> cellBias{};  // what the last part's PMD 85 cell walk learned
  // The lead-in search: the run being measured and the next crossing to look at.
  size_t runStart = 0;
  size_t position = 0;
  // A lead-in whose part may still be arriving, and when to try reading it again.
  bool leadInFound = false;
  LeadIn leadIn;
  size_t retryAt = 0;
  size_t checkedUpTo = 0;  // crossings looked at for the end of the part
  size_t shortRun = 0;     // short intervals in a row up to there
  double gapDeadline = -1;  // sample by which a gap in the part has been bridged or not
  PartProgress progress;    // how far the part has been read
  double leadInSample = 0;  // where the lead-in found starts
  size_t readOnAt = 0;      // the crossings when the part was last read on
  size_t silenceReadAt = 0;  // the crossings when the part was last read for a silence after it
  // What one part tells the reading of the next: a header announces its body.
  bool afterHeader = false;
  size_t bodyLength = 0;
  double headerEnd = 0;  // sample where the last header part ended
  bool headerPending = false;  // `header` waits for the part after it: its body or not
  TapePart header;
  StrayWatch stray;  // frames the lead-in search passed over: stray.seconds
};

// Prepares `decoder` for one channel at `sampleRate` Hz (8000..384000) with the
// command-line choices (kProtocolAuto/Pmd/PmdDouble/Mato, kPhaseAuto/Normal/Reversed).
// Returns kOk, or kErrUnsupportedWav for a rate out of range or kErrBadValue for an
// unknown choice, reported.
[[nodiscard]] int32_t startStreamDecoder(StreamDecoder& decoder, int32_t sampleRate,
                                         TapeProtocol protocol, TapePhase phase);

// Feeds `count` samples of that one channel, full scale -1.0..1.0 (any other scale
// decodes alike). New complete blocks are appended to decoder.blocks as soon as they end;
// a block is listed as found once the signal after it shows that it has ended. Returns
// kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t feedSamples(StreamDecoder& decoder, const float* samples, size_t count);

// Ends the recording: completes what is pending. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t finishStreamDecoder(StreamDecoder& decoder);
