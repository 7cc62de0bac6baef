// The decoding of one recording as a take of the cassette: every chosen channel through
// its own streaming decoder in one pass, and the live listing while it plays.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "decode/cassette.h"
#include "decode_app/audio_input.h"
#include "decode_app/decode_options.h"

// What the listing has shown of the take so far.
struct DecodeRun {
  bool live = false;  // rows are printed while the tape plays
  bool progress = false;
  size_t rowsShown = 0;
  size_t rowsFrom = 0;  // the decoder whose rows were shown
  bool rowsMixed = false;
  std::chrono::steady_clock::time_point lastProgress;
};

// Prints `text` on standard output and returns kOk; a `status` other than kOk is returned
// as it is, with nothing printed (the text is incomplete).
int32_t printText(int32_t status, const std::string& text);

// Reads `input` to its end as the next take of `cassette`, through the channels that
// job.channel chooses (all with -ch A), and keeps it (finishTake): with run.live each
// block's row is printed as it ends, with run.progress a progress line goes to stderr.
// Returns kOk, or kErrBadValue (a -ch number the file does not have), kErrBadWav (no
// frames at all), kErrReadInput or kErrOutOfMemory, reported. A recording that ends
// before its stated length gets a note on stderr and decodes as far as it goes.
[[nodiscard]] int32_t decodeRecording(const DecodeJob& job, AudioInput& input,
                                      Cassette& cassette, DecodeRun& run);

// Prints the chosen channel and the listing of the take's blocks; a live listing that
// already shows them gets only the count and the legend. Of one take among several
// (whose merged listing follows) only the channel and the count of blocks, and of
// damaged ones. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t listDecodeResult(const DecodeJob& job, const Cassette& cassette,
                                       const DecodeRun& run);
