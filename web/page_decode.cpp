// The decoder's entry points for the page: the browser hands over float samples as the
// recording plays or is read, and gets back the blocks found, and of the takes of one
// cassette the merged tape image and its report.
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
#include "decode/merge_report.h"
#include "decode/take_merge.h"
#include "page_json.h"

// One recording being decoded: a decoder per channel, as tonbrix-decode runs them.
struct PageDecoding {
  DecodeSession session;
  std::vector<float> converted;  // one channel of the bytes that feedPcm was handed
  int32_t sampleRate = 0;
  int64_t frames = 0;     // fed so far
  bool finished = false;  // ended, and kept as a take
};

// The takes of one cassette, as tonbrix-decode holds the recordings it is given: the
// blocks of each take's channel kept, and what the report tells of each.
struct PageTakes {
  std::vector<std::vector<DecodedBlock>> takes;
  std::vector<TakeFacts> facts;
  TapeMerge merge;  // of all the takes, once writeMergedTape has run
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

// Appends the fields of `block` that the table shows, as a JSON object without its
// closing brace: the listing's, "seconds" and "endSeconds" (where it lies in the
// recording), "protocol", "protocolName", "damaged", "unknownBytes" and
// "firstUnknownSeconds" (-1 when none).
void appendDecodedBlock(std::string& json, const DecodedBlock& block, int32_t unknownBytes,
                        double firstUnknownSeconds) {
  appendBlockFields(json, block.info);
  json += ",\"seconds\":" + std::to_string(block.startSeconds);
  json += ",\"protocol\":" + std::to_string(block.protocol) + ",\"protocolName\":";
  const std::string name = protocolName(block.protocol);
  appendJsonText(json, name.c_str(), name.size());
  json += ",\"damaged\":" + std::string(isDamaged(block) ? "true" : "false");
  json += ",\"unknownBytes\":" + std::to_string(unknownBytes);
  json += ",\"firstUnknownSeconds\":" + std::to_string(firstUnknownSeconds);
  json += ",\"endSeconds\":" + std::to_string(block.endSeconds);
}

// Keeps the blocks of the finished `decoding` as the next take of `takes`.
int32_t keepTake(PageTakes& takes, const PageDecoding& decoding, const char* name) {
  const DecodeSession& session = decoding.session;
  TakeFacts facts;
  facts.name = name;
  facts.sampleRate = decoding.sampleRate;
  facts.channel = session.channels[session.best];
  facts.channelCount = session.channelCount;
  facts.frames = decoding.frames;
  int32_t status = appendItem(takes.takes, keptBlocks(session));
  if (status == kOk) {
    status = appendItem(takes.facts, facts);
    if (status != kOk) {
      takes.takes.pop_back();
    }
  }
  return status;
}

int32_t writePageFile(const char* path, const uint8_t* bytes, size_t count) {
  FileHandle file(std::fopen(path, "wb"));
  return file ? writeAndClose(std::move(file), path, bytes, count)
              : reportFailure(kErrOpenOutput, path);
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
  decoding->sampleRate = sampleRate;
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
  if (channel == 0) {
    decoding->frames += count;
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
  decoding->frames += frameCount;
  return kOk;
}

// Writes {"finished", "channel", "blocks": [...]} to `resultPath`: whether the decoding
// ended and was kept as a take, the recording's channel (0-based) that the blocks come
// from, and the fields of each block found so far (appendDecodedBlock), the unknown bytes
// being those read as such. Once finished, the blocks of the channel kept. Returns kOk or
// a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t describeDecoded(const PageDecoding* decoding, const char* resultPath) {
  const DecodeSession& session = decoding->session;
  const size_t shown = shownDecoder(*decoding);
  std::string json = "{\"finished\":" + std::string(decoding->finished ? "true" : "false") +
                     ",\"channel\":" + std::to_string(session.channels[shown]) + ",\"blocks\":[";
  const std::vector<DecodedBlock>& blocks = session.decoders[shown].blocks;
  for (size_t i = 0; i < blocks.size(); ++i) {
    json += i == 0 ? "" : ",";
    appendDecodedBlock(json, blocks[i], countUnknownBytes(blocks[i]),
                       firstUnknownSeconds(blocks[i]));
    json += "}";
  }
  json += "]}";
  return writeJson(resultPath, json);
}

// Returns an empty set of takes, to be released with releaseTakes, or nullptr after a
// reported failure.
EMSCRIPTEN_KEEPALIVE PageTakes* startTakes() {
  auto* takes = new (std::nothrow) PageTakes;
  if (takes == nullptr) {
    reportFailure(kErrOutOfMemory);
  }
  return takes;
}

// Ends the recording named `name` and keeps it as the next take of `takes`. The first
// take is listed as tonbrix-decode lists a recording alone, and without a block it ends
// here; a later one is summed up, as one of several. Returns kOk; kErrNoBlocks, reported,
// for a first take without a block (it is kept all the same, as a take that the next
// ones may make up for); or another code, reported, when it is not kept.
EMSCRIPTEN_KEEPALIVE int32_t finishDecoding(PageDecoding* decoding, PageTakes* takes,
                                            const char* name) {
  int32_t status = finishDecodeSession(decoding->session);
  if (status == kOk) {
    status = keepTake(*takes, *decoding, name);
  }
  if (status != kOk) {
    return status;
  }
  decoding->finished = true;
  const std::vector<DecodedBlock>& blocks = keptBlocks(decoding->session);
  const size_t count = takes->takes.size();
  if (count > 1) {
    std::printf("Take %zu: %s\n", count, name);
    printTakeSummary(blocks);
    return kOk;
  }
  if (decodeEnding(decoding->session) == kErrNoBlocks) {
    return reportFailure(kErrNoBlocks, name);
  }
  listDecodedBlocks(blocks, 0);
  return kOk;
}

// Merges the takes, lists the merged tape when there are several, and writes the tape
// image to `imagePath` and the JSON report to `reportPath`, naming the image `imageName`,
// as tonbrix-decode does with the same recordings. Returns kOk; kErrDamagedBlocks,
// reported, when the image is written but holds a block with a fault; or kErrNoBlocks or
// another code, reported, when there is no image.
EMSCRIPTEN_KEEPALIVE int32_t writeMergedTape(PageTakes* takes, const char* imageName,
                                             const char* imagePath, const char* reportPath) {
  TapeMerge& merge = takes->merge;
  int32_t status = mergeTakes(takes->takes, merge);
  if (status != kOk) {
    return status;
  }
  const int32_t ending = mergeEnding(merge);
  if (ending == kErrNoBlocks) {
    return reportFailure(ending, nameTakes(takes->facts));
  }
  const size_t count = takes->takes.size();
  if (count > 1) {
    std::fputs("\n", stdout);
    listMergedBlocks(merge, static_cast<int32_t>(count), 0);
  }
  std::printf("Writing tape image: %s\n", imageName);
  std::vector<uint8_t> image;
  status = buildTapeImage(merge.blocks, image);
  if (status == kOk) {
    status = writePageFile(imagePath, image.data(), image.size());
  }
  std::string report;
  if (status == kOk) {
    status = buildMergeReport(takes->facts, takes->takes, merge, imageName, report);
  }
  if (status == kOk) {
    status =
        writePageFile(reportPath, reinterpret_cast<const uint8_t*>(report.data()), report.size());
  }
  if (status != kOk) {
    return status;
  }
  return ending == kOk ? kOk : reportFailure(ending, nameTakes(takes->facts));
}

// Writes {"blocks": [...]} to `resultPath`: the blocks of the merged tape with the fields
// of describeDecoded, where the time and the first unknown byte lie in take "take", and
// "sources" (the takes whose bytes the block holds, from 1), "decision" (mergeDecisionName),
// and as "unknownBytes" those that no take read. Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t describeMerged(const PageTakes* takes, const char* resultPath) {
  const TapeMerge& merge = takes->merge;
  std::string json = "{\"blocks\":[";
  for (size_t i = 0; i < merge.blocks.size(); ++i) {
    const DecodedBlock& block = merge.blocks[i];
    const BlockOrigin& origin = merge.origins[i];
    const double firstSeconds =
        origin.firstUnknown < 0 ? -1
                                : blockByteSeconds(block, static_cast<size_t>(origin.firstUnknown));
    json += i == 0 ? "" : ",";
    appendDecodedBlock(json, block, origin.unknownBytes, firstSeconds);
    json += ",\"take\":" + std::to_string(origin.take + 1) + ",\"sources\":[";
    for (size_t s = 0; s < origin.sources.size(); ++s) {
      json += (s == 0 ? "" : ",") + std::to_string(origin.sources[s] + 1);
    }
    json += "],\"decision\":\"" + std::string(mergeDecisionName(origin.decision)) + "\"}";
  }
  json += "]}";
  return writeJson(resultPath, json);
}

EMSCRIPTEN_KEEPALIVE void releaseTakes(PageTakes* takes) { delete takes; }

EMSCRIPTEN_KEEPALIVE void releaseDecoder(PageDecoding* decoding) { delete decoding; }

}  // extern "C"
