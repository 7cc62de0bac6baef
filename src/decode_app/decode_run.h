// The decoding of one recording: every chosen channel through its own streaming decoder
// in one pass, the live listing while it plays, and the choice of the best channel.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "decode/decode_session.h"
#include "decode_app/audio_input.h"
#include "decode_app/decode_options.h"

// The channels being decoded and what the listing has shown of them so far.
struct DecodeRun {
  DecodeSession session;
  bool live = false;  // rows are printed while the tape plays
  bool progress = false;
  size_t rowsShown = 0;
  size_t rowsFrom = 0;  // the decoder whose rows were shown
  bool rowsMixed = false;
  std::chrono::steady_clock::time_point lastProgress;
};

// Reads `input` to its end through the channels that job.channel chooses (all with -ch A):
// with run.live each block's row is printed as it ends, with run.progress a progress line
// goes to stderr. Finishes run.session. Returns kOk, or kErrBadValue (a -ch number the file does
// not have), kErrBadWav (no frames at all), kErrReadInput or kErrOutOfMemory, reported. A
// recording that ends before its stated length gets a note on stderr and decodes as far
// as it goes.
[[nodiscard]] int32_t decodeRecording(const DecodeJob& job, AudioInput& input, DecodeRun& run);

// Prints the chosen channel and the listing of its blocks; a live listing that already
// shows them gets only the count and the legend. Of one take among several (whose merged
// listing follows) only the channel and the count of blocks, and of damaged ones.
void listDecodeResult(const DecodeJob& job, const DecodeRun& run, bool oneOfSeveral);
