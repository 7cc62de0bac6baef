// The takes of a cassette, from the first sample to how the decode ends.
#include "decode/cassette.h"

#include <algorithm>
#include <utility>

#include "core/errors.h"
#include "core/memory.h"

int32_t startTake(Cassette& cassette, const std::string& name, int32_t sampleRate,
                  int32_t channelCount) {
  cassette.decoding = TakeFacts{};
  cassette.decoding.sampleRate = sampleRate;
  cassette.decoding.channelCount = channelCount;
  int32_t status = appendText(cassette.decoding.name, name);
  if (status == kOk) {
    status = startDecodeSession(cassette.session, sampleRate, channelCount, cassette.channel,
                                cassette.protocol, cassette.phase);
  }
  return status;
}

int32_t feedTakeFrames(Cassette& cassette, const float* frames, size_t frameCount) {
  cassette.decoding.frames += static_cast<int64_t>(frameCount);
  return feedFrames(cassette.session, frames, frameCount);
}

int32_t feedTakePcm(Cassette& cassette, const uint8_t* bytes, size_t frameCount,
                    const PcmFormat& format) {
  cassette.decoding.frames += static_cast<int64_t>(frameCount);
  return feedPcmFrames(cassette.session, bytes, frameCount, format);
}

int32_t feedTakeChannel(Cassette& cassette, size_t decoder, const float* samples, size_t count) {
  // Every channel hears the same frames; the first counts them.
  if (decoder == 0) {
    cassette.decoding.frames += static_cast<int64_t>(count);
  }
  return feedChannel(cassette.session, decoder, samples, count);
}

int32_t endTake(Cassette& cassette) {
  return finishDecodeSession(cassette.session);
}

int32_t keepTake(Cassette& cassette) {
  DecodeSession& session = cassette.session;
  cassette.decoding.channel = session.channels[session.best];
  const std::vector<double>& stray = session.decoders[session.best].stray.seconds;
  int32_t status = appendItems(cassette.decoding.strayFrames, stray.data(), stray.size());
  if (status == kOk) {
    status = appendItem(cassette.facts, cassette.decoding);
  }
  if (status == kOk) {
    status = appendItem(cassette.takes, std::vector<DecodedBlock>{});
    if (status != kOk) {
      cassette.facts.pop_back();
    }
  }
  if (status == kOk) {
    // Moved, not copied: a long tape's blocks are the largest thing the decoder holds.
    cassette.takes.back() = std::move(session.decoders[session.best].blocks);
  }
  return status;
}

int32_t finishTake(Cassette& cassette) {
  const int32_t status = endTake(cassette);
  return status == kOk ? keepTake(cassette) : status;
}

bool isOneOfSeveral(const Cassette& cassette) {
  return cassette.announcedTakes > 1 || cassette.takes.size() > 1;
}

int32_t takeEnding(const Cassette& cassette) {
  return !isOneOfSeveral(cassette) && cassette.takes.back().empty() ? kErrNoBlocks : kOk;
}

int32_t mergeCassette(Cassette& cassette) {
  const int32_t status = mergeTakes(cassette.takes, cassette.merge, cassette.mergeForeign);
  cassette.ending = status == kOk ? mergeEnding(cassette.merge) : status;
  const bool lostSome = std::any_of(cassette.facts.begin(), cassette.facts.end(),
                                    [](const TakeFacts& take) {
                                      return take.endedEarly || !take.strayFrames.empty();
                                    });
  if (cassette.ending == kOk && lostSome) {
    cassette.ending = kErrDamagedBlocks;
  }
  return status;
}

int32_t reportEnding(const Cassette& cassette) {
  if (cassette.ending == kOk) {
    return kOk;
  }
  if (cassette.ending != kErrForeignTake) {
    return reportFailure(cassette.ending, nameTakes(cassette));
  }
  const ForeignTake& foreign = cassette.merge.foreign[0];
  std::string blocks;
  for (const int32_t block : foreign.blocks) {
    blocks += (blocks.empty() ? "" : ", ") + std::to_string(block);
  }
  return reportFailure(kErrForeignTake, cassette.facts[static_cast<size_t>(foreign.take)].name,
                       blocks);
}

std::string nameTakes(const Cassette& cassette) {
  std::string names;
  for (const TakeFacts& take : cassette.facts) {
    names += (names.empty() ? "" : "', '") + take.name;
  }
  return names;
}
