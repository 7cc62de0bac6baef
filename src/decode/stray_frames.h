// Frames that no leader introduced: where a dropout took a block's leader and the frames
// after it, with more than a dropout that is bridged, the lead-in search passes over the
// rest of the block. It would vanish without a word; this watch notices such frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/demodulator.h"
#include "decode/tape_protocol.h"

struct StrayWatch {
  // What the part read last tells of the frames to look for; no watch before it.
  TapeProtocol protocol = kProtocolAuto;
  double unitSamples = 0;  // a PMD 85 half cell or a Mato space
  double swing = 0;
  bool paused = false;  // the part was cut at its length: its own frames go on
  // The run of data-like intervals so far.
  size_t cells = 0;
  size_t longCells = 0;
  double swingSum = 0;
  double runStart = 0;  // sample
  bool noted = false;   // since the last part
  std::vector<double> seconds;  // where such frames began
};

// Starts a watch after a part of `protocol` with `cellRate` cells (PMD 85) or spaces
// (Mato) a second and mean `swing`; `cut` where the part stopped at its length while its
// frames went on.
void watchAfterPart(StrayWatch& watch, TapeProtocol protocol, double cellRate, double swing,
                    bool cut, int32_t sampleRate);

// Looks at crossings [from, to), which the lead-in search passed over: a long run of the
// cells of the last part's protocol at its level, of both lengths, is frames without a
// leader; its start goes into watch.seconds, once between two parts. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t watchForStrayFrames(StrayWatch& watch, const Crossings& crossings,
                                          size_t from, size_t to, int32_t sampleRate);
