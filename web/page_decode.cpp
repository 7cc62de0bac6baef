// The decoder's entry points for the page: the browser hands over float samples as the
// recording plays or is read, and gets back the blocks found and the tape image.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/memory.h"
#include "decode/stream_decoder.h"
#include "decode/tape_writer.h"
#include "page_json.h"

// One recording being decoded: a decoder per channel, as tonbrix-decode runs them.
struct PageDecoding {
  std::vector<StreamDecoder> channels;
};

namespace {

// While the tape plays, the channel that has found the most so far; at the end, the one
// tonbrix-decode would keep.
const std::vector<DecodedBlock>& leadingBlocks(const PageDecoding& decoding, bool finished) {
  size_t best = 0;
  for (size_t c = 1; c < decoding.channels.size(); ++c) {
    const std::vector<DecodedBlock>& blocks = decoding.channels[c].blocks;
    const std::vector<DecodedBlock>& bestBlocks = decoding.channels[best].blocks;
    if (finished ? scoreBlocks(blocks) > scoreBlocks(bestBlocks)
                 : blocks.size() > bestBlocks.size()) {
      best = c;
    }
  }
  return decoding.channels[best].blocks;
}

}  // namespace

extern "C" {

// Starts decoding a recording of `channelCount` channels (1 or 2) at `sampleRate` Hz with
// tonbrix-decode's protocol and phase choices. Returns the decoding, to be released with
// releaseDecoder, or nullptr after a reported failure.
EMSCRIPTEN_KEEPALIVE PageDecoding* startDecoding(int32_t sampleRate, int32_t channelCount,
                                                 int32_t protocol, int32_t phase) {
  auto* decoding = new (std::nothrow) PageDecoding;
  if (decoding == nullptr) {
    reportFailure(kErrOutOfMemory);
    return nullptr;
  }
  int32_t status = resizeItems(decoding->channels, channelCount == 2 ? 2u : 1u);
  for (StreamDecoder& decoder : decoding->channels) {
    if (status == kOk) {
      status = startStreamDecoder(decoder, sampleRate, protocol, phase);
    }
  }
  if (status != kOk) {
    delete decoding;
    return nullptr;
  }
  return decoding;
}

// Feeds `count` samples of channel `channel`. Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t feedDecoder(PageDecoding* decoding, int32_t channel,
                                         const float* samples, int32_t count) {
  if (channel < 0 || static_cast<size_t>(channel) >= decoding->channels.size() || count < 0) {
    return kOk;
  }
  return feedSamples(decoding->channels[static_cast<size_t>(channel)], samples,
                     static_cast<size_t>(count));
}

// Writes {"blocks": [...]} to `resultPath`: the listing's fields of each block found so
// far, with "seconds" (its start in the recording) and "protocol". `finished` chooses the
// channel as the end of the run does. Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t describeDecoded(const PageDecoding* decoding, int32_t finished,
                                             const char* resultPath) {
  std::string json = "{\"blocks\":[";
  const std::vector<DecodedBlock>& blocks = leadingBlocks(*decoding, finished != 0);
  for (size_t i = 0; i < blocks.size(); ++i) {
    json += i == 0 ? "" : ",";
    appendBlockFields(json, blocks[i].info);
    json += ",\"seconds\":" + std::to_string(blocks[i].startSeconds);
    json += ",\"protocol\":" + std::to_string(blocks[i].protocol) + "}";
  }
  json += "]}";
  return writeJson(resultPath, json);
}

// Ends the recording named `name`, prints the listing of the channel kept and writes its
// tape image to `imagePath`, as tonbrix-decode does. Returns kOk; kErrDamagedBlocks, reported,
// when the image is written but holds a block with a fault; or kErrNoBlocks or another
// code, reported, when there is no image.
EMSCRIPTEN_KEEPALIVE int32_t finishDecoding(PageDecoding* decoding, const char* name,
                                            const char* imagePath) {
  for (StreamDecoder& decoder : decoding->channels) {
    const int32_t status = finishStreamDecoder(decoder);
    if (status != kOk) {
      return status;
    }
  }
  const std::vector<DecodedBlock>& blocks = leadingBlocks(*decoding, true);
  if (blocks.empty()) {
    return reportFailure(kErrNoBlocks, name);
  }
  listDecodedBlocks(blocks, 0);
  const int32_t status = writeTapeImage(imagePath, blocks);
  if (status != kOk) {
    return status;
  }
  return countDamagedBlocks(blocks) > 0 ? reportFailure(kErrDamagedBlocks, name) : kOk;
}

EMSCRIPTEN_KEEPALIVE void releaseDecoder(PageDecoding* decoding) { delete decoding; }

}  // extern "C"
