// The decoder's entry points for the page: the browser hands over float samples as the
// recording plays or is read, and gets back the blocks found and the tape image.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/file_io.h"
#include "decode/decode_listing.h"
#include "decode/decode_session.h"
#include "page_json.h"

// One recording being decoded: a decoder per channel, as tonbrix-decode runs them.
struct PageDecoding {
  DecodeSession session;
  bool finished = false;
};

namespace {

// While the tape plays, the channel that has found the most so far; at the end, the one
// tonbrix-decode keeps.
const std::vector<DecodedBlock>& shownBlocks(const PageDecoding& decoding) {
  const DecodeSession& session = decoding.session;
  return decoding.finished ? keptBlocks(session)
                           : session.decoders[leadingDecoder(session, 0)].blocks;
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
  const int32_t status =
      startDecodeSession(decoding->session, sampleRate, channelCount == 2 ? 2 : 1, kChannelAuto,
                         static_cast<TapeProtocol>(protocol), static_cast<TapePhase>(phase));
  if (status != kOk) {
    delete decoding;
    return nullptr;
  }
  return decoding;
}

// Feeds `count` samples of channel `channel`. Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t feedDecoder(PageDecoding* decoding, int32_t channel,
                                         const float* samples, int32_t count) {
  if (channel < 0 || static_cast<size_t>(channel) >= decoding->session.decoders.size() ||
      count < 0) {
    return kOk;
  }
  return feedChannel(decoding->session, static_cast<size_t>(channel), samples,
                     static_cast<size_t>(count));
}

// Writes {"blocks": [...]} to `resultPath`: the listing's fields of each block found so
// far, with "seconds" and "endSeconds" (where it lies in the recording), "protocol",
// "protocolName", "damaged", "unknownBytes" and "firstUnknownSeconds" (-1 when none). Once
// the decoding is finished, the blocks of the channel kept. Returns kOk or a code,
// reported.
EMSCRIPTEN_KEEPALIVE int32_t describeDecoded(const PageDecoding* decoding, int32_t /*finished*/,
                                             const char* resultPath) {
  std::string json = "{\"blocks\":[";
  const std::vector<DecodedBlock>& blocks = shownBlocks(*decoding);
  for (size_t i = 0; i < blocks.size(); ++i) {
    json += i == 0 ? "" : ",";
    appendBlockFields(json, blocks[i].info);
    json += ",\"seconds\":" + std::to_string(blocks[i].startSeconds);
    json += ",\"protocol\":" + std::to_string(blocks[i].protocol) + ",\"protocolName\":";
    const std::string name = protocolName(blocks[i].protocol);
    appendJsonText(json, name.c_str(), name.size());
    json += ",\"damaged\":" + std::string(isDamaged(blocks[i]) ? "true" : "false");
    json += ",\"unknownBytes\":" + std::to_string(countUnknownBytes(blocks[i]));
    json += ",\"firstUnknownSeconds\":" + std::to_string(firstUnknownSeconds(blocks[i]));
    json += ",\"endSeconds\":" + std::to_string(blocks[i].endSeconds) + "}";
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
  int32_t status = finishDecodeSession(decoding->session);
  if (status != kOk) {
    return status;
  }
  decoding->finished = true;
  const int32_t ending = decodeEnding(decoding->session);
  if (ending == kErrNoBlocks) {
    return reportFailure(ending, name);
  }
  const std::vector<DecodedBlock>& blocks = keptBlocks(decoding->session);
  listDecodedBlocks(blocks, 0);
  std::printf("Writing tape image: %s\n", imagePath);
  std::vector<uint8_t> image;
  status = buildTapeImage(blocks, image);
  if (status == kOk) {
    FileHandle file(std::fopen(imagePath, "wb"));
    status = file ? writeAndClose(std::move(file), imagePath, image.data(), image.size())
                  : reportFailure(kErrOpenOutput, imagePath);
  }
  if (status != kOk) {
    return status;
  }
  return ending == kOk ? kOk : reportFailure(ending, name);
}

EMSCRIPTEN_KEEPALIVE void releaseDecoder(PageDecoding* decoding) { delete decoding; }

}  // extern "C"
