// One recording through one streaming decoder per channel, fed its frames as they come,
// and the choice of the channel whose blocks are kept. A take of the cassette (cassette.h)
// runs one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/stream_decoder.h"

// Decode every channel and keep the one that decodes best.
inline constexpr int32_t kChannelAuto = -1;

struct DecodeSession {
  std::vector<StreamDecoder> decoders;
  std::vector<int32_t> channels;  // the recording's channel (0-based) that each decoder reads
  std::vector<float> slice;       // one channel of interleaved frames, a slice at a time
  int32_t channelCount = 0;       // of the recording
  size_t best = 0;                // the decoder whose blocks are kept, once finished
};

// Prepares `session` for a recording of `channelCount` channels at `sampleRate` Hz:
// `channel` (0-based, below channelCount) alone, or with kChannelAuto every channel. A
// mono recording has only its one channel to decode, whatever `channel` says. The
// protocol and phase are the command-line choices (see startStreamDecoder). Returns kOk,
// or kErrUnsupportedWav, kErrBadValue or kErrOutOfMemory, reported.
[[nodiscard]] int32_t startDecodeSession(DecodeSession& session, int32_t sampleRate,
                                         int32_t channelCount, int32_t channel,
                                         TapeProtocol protocol, TapePhase phase);

// Feeds `frameCount` frames of channelCount interleaved samples to every decoder.
// Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t feedFrames(DecodeSession& session, const float* frames, size_t frameCount);

// How a WAV file stores its interleaved samples: `bits` 8 (unsigned), 16, 24 or 32
// (signed), or with `isFloat` 32 or 64, little-endian, `channelCount` to a frame (as many
// as the session's, or more).
struct PcmFormat {
  int32_t bits = 16;
  bool isFloat = false;
  int32_t channelCount = 1;
};

// Feeds `frameCount` frames of PCM in `format` to every decoder, each sample scaled as
// the programs' audio library scales it (by a power of two), so that a recording read so
// gives the numbers that tonbrix-decode hears. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t feedPcmFrames(DecodeSession& session, const uint8_t* bytes,
                                    size_t frameCount, const PcmFormat& format);

// Feeds `count` samples of one channel to decoder `decoder` (an index into
// session.decoders), for callers that hold the channels apart. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t feedChannel(DecodeSession& session, size_t decoder, const float* samples,
                                  size_t count);

// The decoder to show while the recording plays: the one that has found the most blocks
// so far, staying with `shown` unless another has found more.
size_t leadingDecoder(const DecodeSession& session, size_t shown);

// Ends the recording in every decoder and sets session.best: the decoder whose blocks
// have the most good bytes (scoreBlocks), the first of equals. Returns kOk or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t finishDecodeSession(DecodeSession& session);

// The blocks kept: those of session.best.
const std::vector<DecodedBlock>& keptBlocks(const DecodeSession& session);
