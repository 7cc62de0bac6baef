// Feeds arbitrary bytes as a recording through libsndfile and the checks on what it
// returns (no channels, thousands of them, absurd rates, no frames), then through a decode
// session of up to four channels a chunk at a time. The first channel is decoded again in
// uneven slices, and demodulated in chunks and in small pieces: the results must agree, as
// the size of the slices may not change what is found. A third decoder hears the first
// channel from a third of the way on, as a take that started late; the three takes are
// merged and reported, and every block of every take must land in exactly one merged
// block, in its order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "decode/cassette.h"
#include "decode/decode_report.h"
#include "decode_app/audio_input.h"

namespace {

// Enough to cover the session's channel loop; more would only slow the fuzzer down.
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

// Each take's blocks appear in the merge once each, in their order.
bool placesEveryBlock(const std::vector<std::vector<DecodedBlock>>& takes, const TapeMerge& merge) {
  for (size_t t = 0; t < takes.size(); ++t) {
    int32_t next = 0;
    for (const BlockOrigin& origin : merge.origins) {
      if (origin.copies[t] >= 0 && origin.copies[t] != next++) {
        return false;
      }
    }
    if (next != static_cast<int32_t>(takes[t].size())) {
      return false;
    }
  }
  return merge.blocks.size() == merge.origins.size();
}

// Merges `takes` and reports on them; aborts when a block is lost or doubled.
void mergeAndReport(const std::vector<std::vector<DecodedBlock>>& takes) {
  Cassette cassette;
  cassette.takes = takes;
  cassette.facts.resize(takes.size());
  if (mergeCassette(cassette) != kOk) {
    return;
  }
  const TapeMerge& merge = cassette.merge;
  if (!placesEveryBlock(takes, merge)) {
    std::abort();
  }
  std::string report;
  std::vector<uint8_t> image;
  if (buildDecodeReport(cassette, "fuzz.img", report) != kOk ||
      buildTapeImage(merge.blocks, image) != kOk) {
    return;
  }
  // One take is kept exactly as it was read.
  if (takes.size() == 1 && !sameBlocks(merge.blocks, takes[0])) {
    std::abort();
  }
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
  const bool everyChannel = input.channelCount <= static_cast<int32_t>(kMaxDecodedChannels);
  const TapePhase phase = (size & 1u) != 0 ? kPhaseReversed : kPhaseAuto;
  DecodeSession session;
  if (startDecodeSession(session, input.sampleRate, input.channelCount,
                         everyChannel ? kChannelAuto : 0, kProtocolAuto, phase) != kOk) {
    return 0;
  }
  StreamDecoder sliced;
  StreamDecoder late;
  if (startStreamDecoder(sliced, input.sampleRate, kProtocolAuto, phase) != kOk ||
      startStreamDecoder(late, input.sampleRate, kProtocolAuto, phase) != kOk) {
    return 0;
  }
  const int64_t lateStart = input.frameCount > 0 ? input.frameCount / 3 : 0;
  // The demodulator alone, fed each chunk at once and in pieces of varying size: the
  // crossings must be the same to the bit, so no cut between calls shows.
  DemodulatorState whole;
  DemodulatorState pieces;
  startDemodulator(whole, input.sampleRate);
  startDemodulator(pieces, input.sampleRate);
  Crossings wholeCrossings;
  Crossings pieceCrossings;
  size_t pieceCount = 0;
  const auto width = static_cast<size_t>(input.channelCount);
  const auto first = static_cast<size_t>(session.channels[0]);
  std::vector<float> slice;
  size_t frames = 1;
  while (frames > 0) {
    if (readAudioChunk(input, frames) != kOk ||
        feedFrames(session, input.chunk.data(), frames) != kOk) {
      return 0;
    }
    slice.clear();
    for (size_t f = 0; f < frames; ++f) {
      slice.push_back(input.chunk[f * width + first]);
    }
    if (demodulateFloats(whole, slice.data(), slice.size(), wholeCrossings) != kOk) {
      return 0;
    }
    for (size_t begin = 0; begin < slice.size();) {
      const size_t count = std::min(slice.size() - begin, 1 + (++pieceCount * 7919) % 61);
      if (demodulateFloats(pieces, slice.data() + begin, count, pieceCrossings) != kOk) {
        return 0;
      }
      begin += count;
    }
    // Uneven pieces exercise every continuation of the decoder.
    for (size_t begin = 0; begin < slice.size(); begin += 997) {
      const size_t count = slice.size() - begin < 997 ? slice.size() - begin : 997;
      if (feedSamples(sliced, slice.data() + begin, count) != kOk) {
        return 0;
      }
    }
    const int64_t chunkStart = input.framesRead - static_cast<int64_t>(frames);
    const auto skip = static_cast<size_t>(std::clamp<int64_t>(lateStart - chunkStart, 0,
                                                              static_cast<int64_t>(frames)));
    if (feedSamples(late, slice.data() + skip, slice.size() - skip) != kOk) {
      return 0;
    }
  }
  if (finishDecodeSession(session) != kOk || finishStreamDecoder(sliced) != kOk ||
      finishStreamDecoder(late) != kOk || finishDemodulator(whole, wholeCrossings) != kOk ||
      finishDemodulator(pieces, pieceCrossings) != kOk) {
    return 0;
  }
  if (wholeCrossings.positions != pieceCrossings.positions ||
      wholeCrossings.swings != pieceCrossings.swings ||
      (!wholeCrossings.positions.empty() &&
       wholeCrossings.firstRising != pieceCrossings.firstRising)) {
    std::abort();
  }
  if (!sameBlocks(session.decoders[0].blocks, sliced.blocks)) {
    std::abort();
  }
  std::vector<uint8_t> image;
  if (buildTapeImage(keptBlocks(session), image) != kOk) {
    return 0;
  }
  // Every kept block is in the image, behind its length words.
  if (image.size() < keptBlocks(session).size() * 2) {
    std::abort();
  }
  mergeAndReport({sliced.blocks});
  mergeAndReport({sliced.blocks, late.blocks, keptBlocks(session)});
  return 0;
}
