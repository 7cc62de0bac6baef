// The decoder's entry points for the page: the browser hands over float samples as the
// recording plays or is read, and gets back the blocks found and the tape image.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
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
  std::vector<float> converted;  // one channel of the bytes that feedPcm was handed
  bool finished = false;
};

namespace {

// Converts one channel of little-endian PCM, `stride` bytes from frame to frame, of `bits`
// bits (8 unsigned, else signed) or float (32 or 64 bits), scaled as the programs' audio
// library scales it: by a power of two, so that the page and tonbrix-decode hear the same
// numbers.
void convertChannel(const uint8_t* at, size_t frames, size_t stride, int32_t bits, bool isFloat,
                    float* out) {
  const auto each = [&](auto sample) {
    for (size_t f = 0; f < frames; ++f, at += stride) {
      out[f] = sample(at);
    }
  };
  if (isFloat && bits == 64) {
    each([](const uint8_t* p) {
      double value = 0;
      std::memcpy(&value, p, sizeof value);
      return static_cast<float>(value);
    });
  } else if (isFloat) {
    each([](const uint8_t* p) {
      float value = 0;
      std::memcpy(&value, p, sizeof value);
      return value;
    });
  } else if (bits == 8) {
    each([](const uint8_t* p) { return static_cast<float>(p[0] - 128) * (1.0F / 128.0F); });
  } else if (bits == 16) {
    each([](const uint8_t* p) {
      return static_cast<float>(static_cast<int16_t>(p[0] | p[1] << 8)) * (1.0F / 32768.0F);
    });
  } else {
    // 24 bits sit in the top of a 32-bit word, as the library reads them.
    const size_t shift = bits == 24 ? 8 : 0;
    each([shift](const uint8_t* p) {
      uint32_t word = 0;
      std::memcpy(&word, p, 4 - shift / 8);
      return static_cast<float>(static_cast<int32_t>(word << shift)) * (1.0F / 2147483648.0F);
    });
  }
}

// While the tape plays, the decoder whose channel has found the most so far; at the end,
// the one tonbrix-decode keeps.
size_t shownDecoder(const PageDecoding& decoding) {
  return decoding.finished ? decoding.session.best : leadingDecoder(decoding.session, 0);
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

// Feeds `frameCount` frames of `channelCount` interleaved channels of little-endian PCM as a
// WAV file holds them: `bits` 8 (unsigned), 16, 24 or 32 (signed), or with `isFloat` 32 or
// 64. The first channels go to the decoders, one each. Converting here rather than in
// JavaScript spares a copy of every sample through the heap. Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t feedPcm(PageDecoding* decoding, const uint8_t* bytes,
                                     int32_t frameCount, int32_t channelCount, int32_t bits,
                                     int32_t isFloat) {
  if (frameCount <= 0 || channelCount <= 0) {
    return kOk;
  }
  const auto frames = static_cast<size_t>(frameCount);
  const auto width = static_cast<size_t>(channelCount);
  std::vector<float>& converted = decoding->converted;
  if (converted.size() < frames) {
    try {
      converted.resize(frames);
    } catch (const std::bad_alloc&) {
      return reportFailure(kErrOutOfMemory);
    }
  }
  DecodeSession& session = decoding->session;
  const auto sampleBytes = static_cast<size_t>(bits / 8);
  for (size_t d = 0; d < session.decoders.size(); ++d) {
    const auto channel = std::min(static_cast<size_t>(session.channels[d]), width - 1);
    convertChannel(bytes + channel * sampleBytes, frames, width * sampleBytes, bits, isFloat != 0,
                   converted.data());
    const int32_t status = feedChannel(session, d, converted.data(), frames);
    if (status != kOk) {
      return status;
    }
  }
  return kOk;
}

// Writes {"blocks": [...]} to `resultPath`: the listing's fields of each block found so
// far, with "seconds" and "endSeconds" (where it lies in the recording), "protocol",
// "protocolName", "damaged", "unknownBytes" and "firstUnknownSeconds" (-1 when none), and
// "channel": the recording's channel (0-based) they come from. Once the decoding is
// finished, the blocks of the channel kept. Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t describeDecoded(const PageDecoding* decoding, int32_t /*finished*/,
                                             const char* resultPath) {
  const DecodeSession& session = decoding->session;
  const size_t shown = shownDecoder(*decoding);
  std::string json = "{\"channel\":" + std::to_string(session.channels[shown]) + ",\"blocks\":[";
  const std::vector<DecodedBlock>& blocks = session.decoders[shown].blocks;
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
