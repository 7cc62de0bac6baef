// The channels of one recording and the choice between them.
#include "decode/decode_session.h"

#include <algorithm>

#include "core/memory.h"

namespace {

// Frames taken apart per decoder call: as many as a decoder demodulates at once, so that
// the channels are fed in the same slices as a mono recording.
constexpr size_t kSliceFrames = 65536;

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
  for (size_t done = 0; done < frameCount;) {
    const size_t count = std::min(kSliceFrames, frameCount - done);
    for (size_t d = 0; d < session.decoders.size(); ++d) {
      const float* sample = frames + done * width + static_cast<size_t>(session.channels[d]);
      for (size_t f = 0; f < count; ++f, sample += width) {
        session.slice[f] = *sample;
      }
      const int32_t status = feedSamples(session.decoders[d], session.slice.data(), count);
      if (status != kOk) {
        return status;
      }
    }
    done += count;
  }
  return kOk;
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

int32_t decodeEnding(const DecodeSession& session) {
  const std::vector<DecodedBlock>& blocks = keptBlocks(session);
  if (blocks.empty()) {
    return kErrNoBlocks;
  }
  return countDamagedBlocks(blocks) > 0 ? kErrDamagedBlocks : kOk;
}
