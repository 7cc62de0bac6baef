// Feeds arbitrary bytes as a recording through libsndfile and the checks on what it
// returns (no channels, thousands of them, absurd rates, no frames), then every channel
// through the streaming decoder in uneven slices. The first channel is decoded whole as
// well, and the two results must agree: streaming may not change what is found.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decode/demodulator.h"
#include "decode/frame_decoder.h"
#include "decode/stream_decoder.h"
#include "decode/tape_writer.h"
#include "decode_app/audio_input.h"

namespace {

// Enough to cover the channel loop; more would only slow the fuzzer down.
constexpr size_t kMaxDecodedChannels = 4;

bool sameBlocks(const std::vector<DecodedBlock>& a, const std::vector<DecodedBlock>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].headerPart != b[i].headerPart || a[i].body != b[i].body ||
        a[i].info.bodyLengthError != b[i].info.bodyLengthError) {
      return false;
    }
  }
  return true;
}

}  // namespace

// Refused files print their reason on stderr; the runner script passes -close_fd_mask=2,
// which hides them while the sanitizers and libFuzzer keep reporting.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AudioInput input;
  if (openAudioMemory(input, data, size, "fuzz.wav") != kOk) {
    return 0;
  }
  if (input.channelCount < 1 || input.sampleRate < kMinStreamSampleRate ||
      input.sampleRate > kMaxStreamSampleRate || input.chunk.empty()) {
    std::abort();  // the checks must have refused this
  }
  const auto channels = static_cast<size_t>(input.channelCount);
  const size_t decoded = channels < kMaxDecodedChannels ? channels : kMaxDecodedChannels;
  std::vector<StreamDecoder> decoders(decoded);
  for (size_t c = 0; c < decoded; ++c) {
    const int32_t phase = c == 1 ? kPhaseReversed : kPhaseAuto;
    if (startStreamDecoder(decoders[c], input.sampleRate, kProtocolAuto, phase) != kOk) {
      return 0;
    }
  }
  std::vector<float> first;
  std::vector<float> slice;
  size_t frames = 1;
  while (frames > 0) {
    if (readAudioChunk(input, frames) != kOk) {
      return 0;
    }
    for (size_t c = 0; c < decoded; ++c) {
      slice.clear();
      for (size_t f = 0; f < frames; ++f) {
        slice.push_back(input.chunk[f * channels + c]);
      }
      if (c == 0) {
        first.insert(first.end(), slice.begin(), slice.end());
      }
      // Uneven pieces exercise every continuation of the decoder.
      for (size_t begin = 0; begin < slice.size(); begin += 997) {
        const size_t count = slice.size() - begin < 997 ? slice.size() - begin : 997;
        if (feedSamples(decoders[c], slice.data() + begin, count) != kOk) {
          return 0;
        }
      }
    }
  }
  for (StreamDecoder& decoder : decoders) {
    if (finishStreamDecoder(decoder) != kOk) {
      return 0;
    }
    static_cast<void>(scoreBlocks(decoder.blocks));
    static_cast<void>(countDamagedBlocks(decoder.blocks));
  }
  DemodulatorState state;
  startDemodulator(state, input.sampleRate);
  Crossings crossings;
  std::vector<TapePart> parts;
  std::vector<DecodedBlock> whole;
  if (demodulateFloats(state, first.data(), first.size(), crossings) == kOk &&
      decodeTapeParts(crossings, input.sampleRate, kProtocolAuto, kPhaseAuto, parts) == kOk &&
      assembleBlocks(parts, input.sampleRate, whole) == kOk &&
      !sameBlocks(whole, decoders[0].blocks)) {
    std::abort();
  }
  return 0;
}
