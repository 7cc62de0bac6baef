// A cassette being decoded: its takes, one recording after another, each through a decode
// session whose best channel is kept; their merge into one tape; and how the decode ends.
// tonbrix-decode and the page both drive it, so that they cannot drift apart; they only
// read the recordings, print and write the files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decode/decode_session.h"
#include "decode/take_merge.h"

// What the report tells of a take besides its blocks.
struct TakeFacts {
  std::string name;  // as messages name it
  int32_t sampleRate = 0;
  int32_t channel = 0;  // 0-based: the channel whose blocks were kept
  int32_t channelCount = 0;
  int64_t frames = 0;  // sample frames read
  bool endedEarly = false;  // before the end its file states, or at damage: blocks may be lost
  // Where frames went on that no leader introduced: a block may be missing there.
  std::vector<double> strayFrames;
};

struct Cassette {
  // The choices for the takes to come (see startStreamDecoder); `channel` 0-based, or
  // kChannelAuto for the best.
  TapeProtocol protocol = kProtocolAuto;
  TapePhase phase = kPhaseAuto;
  int32_t channel = kChannelAuto;
  // The takes the front end knows will come: a take alone is listed in full, and without
  // a block it ends the decode. The page learns of its takes one at a time.
  int32_t announcedTakes = 1;
  bool mergeForeign = false;  // takes of another tape are merged all the same
  DecodeSession session;  // the take being decoded
  TakeFacts decoding;     // of the take being decoded
  Takes takes;            // of each take kept, the blocks of its channel kept
  std::vector<TakeFacts> facts;
  TapeMerge merge;        // of every take kept, once mergeCassette has run
  int32_t ending = kOk;   // how the decode ended, once mergeCassette has run (mergeEnding)
};

// Starts decoding the recording named `name`, of `channelCount` channels at `sampleRate`
// Hz, with the cassette's choices (see startDecodeSession). Returns kOk, or
// kErrUnsupportedWav, kErrBadValue or kErrOutOfMemory, reported.
[[nodiscard]] int32_t startTake(Cassette& cassette, const std::string& name, int32_t sampleRate,
                                int32_t channelCount);

// Feed the take being decoded: interleaved float frames (feedFrames), interleaved PCM
// (feedPcmFrames), or `count` samples of one decoder's channel (feedChannel), for callers
// that hold the channels apart. Each returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t feedTakeFrames(Cassette& cassette, const float* frames, size_t frameCount);
[[nodiscard]] int32_t feedTakePcm(Cassette& cassette, const uint8_t* bytes, size_t frameCount,
                                  const PcmFormat& format);
[[nodiscard]] int32_t feedTakeChannel(Cassette& cassette, size_t decoder, const float* samples,
                                      size_t count);

// Ends the take being decoded: the session finds its last blocks and chooses its best
// channel. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t endTake(Cassette& cassette);

// Keeps the blocks of the ended take's best channel as the next take, with its facts;
// they move out of the session, which holds them no more. Returns kOk or
// kErrOutOfMemory, reported; the take is then not kept.
[[nodiscard]] int32_t keepTake(Cassette& cassette);

// endTake and keepTake, for a front end that shows nothing between them.
[[nodiscard]] int32_t finishTake(Cassette& cassette);

// True when the take last kept is one of several: announced so, or not the first.
bool isOneOfSeveral(const Cassette& cassette);

// How the take last kept ends: kErrNoBlocks when it is alone (not isOneOfSeveral) and
// holds no block, so that there is no image; else kOk. Nothing is reported: the front end
// names the recording before its listing.
int32_t takeEnding(const Cassette& cassette);

// Merges every take kept into cassette.merge and sets cassette.ending: a take that ended
// early, or in which a block may be missing, makes a decode that would end whole end
// damaged. Returns kOk or kErrOutOfMemory,
// reported.
[[nodiscard]] int32_t mergeCassette(Cassette& cassette);

// Reports how the decode ended (cassette.ending, kOk reports nothing) with the names it
// needs, and returns it.
int32_t reportEnding(const Cassette& cassette);

// The takes kept as the messages about the tape they make name them: "a.wav', 'b.wav"
// goes between the quotes of "... found in '%s'".
std::string nameTakes(const Cassette& cassette);
