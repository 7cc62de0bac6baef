// The channels of one recording and the choice between them.
#include "decode/decode_session.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"

namespace {

// Frames taken apart per decoder call: as many as a decoder demodulates at once, so that
// the channels are fed in the same slices as a mono recording.
constexpr size_t kSliceFrames = 65536;

// Converts `frames` samples of one channel, `stride` bytes apart, to floats in `out`.
void convertChannel(const uint8_t* at, size_t frames, size_t stride, const PcmFormat& format,
                    float* out) {
  const auto each = [&](auto sample) {
    for (size_t f = 0; f < frames; ++f, at += stride) {
      out[f] = sample(at);
    }
  };
  if (format.isFloat && format.bits == 64) {
    each([](const uint8_t* p) {
      double value = 0;
      std::memcpy(&value, p, sizeof value);
      return static_cast<float>(value);
    });
  } else if (format.isFloat) {
    each([](const uint8_t* p) {
      float value = 0;
      std::memcpy(&value, p, sizeof value);
      return value;
    });
  } else if (format.bits == 8) {
    each([](const uint8_t* p) { return static_cast<float>(p[0] - 128) * (1.0F / 128.0F); });
  } else if (format.bits == 16) {
    each([](const uint8_t* p) {
      return static_cast<float>(static_cast<int16_t>(p[0] | p[1] << 8)) * (1.0F / 32768.0F);
    });
  } else {
    // 24 bits sit in the top of a 32-bit word, as the library reads them.
    const size_t shift = format.bits == 24 ? 8 : 0;
    each([shift](const uint8_t* p) {
      uint32_t word = 0;
      std::memcpy(&word, p, 4 - shift / 8);
      return static_cast<float>(static_cast<int32_t>(word << shift)) * (1.0F / 2147483648.0F);
    });
  }
}

// Feeds `frameCount` frames to every decoder, a slice at a time: `read(channel, first,
// count, out)` puts `count` samples of the recording's `channel` from frame `first` on
// into `out`.
template <typename Read>
int32_t feedEachChannel(DecodeSession& session, size_t frameCount, Read read) {
  for (size_t done = 0; done < frameCount;) {
    const size_t count = std::min(kSliceFrames, frameCount - done);
    for (size_t d = 0; d < session.decoders.size(); ++d) {
      read(static_cast<size_t>(session.channels[d]), done, count, session.slice.data());
      const int32_t status = feedSamples(session.decoders[d], session.slice.data(), count);
      if (status != kOk) {
        return status;
      }
    }
    done += count;
  }
  return kOk;
}

}  // namespace

int32_t startDecodeSession(DecodeSession& session, int32_t sampleRate, int32_t channelCount,
                           int32_t channel, TapeProtocol protocol, TapePhase phase) {
  session = DecodeSession{};
  session.channelCount = channelCount;
  int32_t status = kOk;
  if (channelCount <= 1) {
    status = appendItem(session.channels, 0);
  } else if (channel != kChannelAuto) {
    status = appendItem(session.channels, channel);
  } else {
    for (int32_t c = 0; c < channelCount && status == kOk; ++c) {
      status = appendItem(session.channels, c);
    }
  }
  if (status == kOk) {
    status = resizeItems(session.decoders, session.channels.size());
  }
  for (StreamDecoder& decoder : session.decoders) {
    if (status == kOk) {
      status = startStreamDecoder(decoder, sampleRate, protocol, phase);
    }
  }
  if (status == kOk && channelCount > 1) {
    status = resizeItems(session.slice, kSliceFrames);
  }
  return status;
}

int32_t feedFrames(DecodeSession& session, const float* frames, size_t frameCount) {
  if (session.channelCount <= 1) {
    return feedSamples(session.decoders[0], frames, frameCount);
  }
  const auto width = static_cast<size_t>(session.channelCount);
  return feedEachChannel(session, frameCount,
                         [frames, width](size_t channel, size_t first, size_t count, float* out) {
                           const float* sample = frames + first * width + channel;
                           for (size_t f = 0; f < count; ++f, sample += width) {
                             out[f] = *sample;
                           }
                         });
}

int32_t feedPcmFrames(DecodeSession& session, const uint8_t* bytes, size_t frameCount,
                      const PcmFormat& format) {
  const int32_t status = session.slice.empty() ? resizeItems(session.slice, kSliceFrames) : kOk;
  if (status != kOk) {
    return status;
  }
  const auto sampleBytes = static_cast<size_t>(format.bits / 8);
  const size_t frameBytes = static_cast<size_t>(format.channelCount) * sampleBytes;
  return feedEachChannel(session, frameCount,
                         [&](size_t channel, size_t first, size_t count, float* out) {
                           convertChannel(bytes + first * frameBytes + channel * sampleBytes,
                                          count, frameBytes, format, out);
                         });
}

int32_t feedChannel(DecodeSession& session, size_t decoder, const float* samples, size_t count) {
  return feedSamples(session.decoders[decoder], samples, count);
}

size_t leadingDecoder(const DecodeSession& session, size_t shown) {
  size_t lead = shown;
  for (size_t d = 0; d < session.decoders.size(); ++d) {
    if (session.decoders[d].blocks.size() > session.decoders[lead].blocks.size()) {
      lead = d;
    }
  }
  return lead;
}

int32_t finishDecodeSession(DecodeSession& session) {
  for (StreamDecoder& decoder : session.decoders) {
    const int32_t status = finishStreamDecoder(decoder);
    if (status != kOk) {
      return status;
    }
  }
  session.best = 0;
  for (size_t d = 1; d < session.decoders.size(); ++d) {
    if (scoreBlocks(session.decoders[d].blocks) >
        scoreBlocks(session.decoders[session.best].blocks)) {
      session.best = d;
    }
  }
  return kOk;
}

const std::vector<DecodedBlock>& keptBlocks(const DecodeSession& session) {
  return session.decoders[session.best].blocks;
}
