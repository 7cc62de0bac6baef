// One pass over a recording through a streaming decoder per channel.
#include "decode_app/decode_run.h"

#include <cstdio>
#include <string>

#include "decode/decode_listing.h"

namespace {

constexpr double kProgressInterval = 0.25;  // seconds between progress lines

int32_t chooseChannels(const DecodeJob& job, const AudioInput& input, DecodeRun& run) {
  if (job.channelByNumber && job.channel >= input.channelCount) {
    const int32_t count = input.channelCount;
    return reportFailure(kErrBadValue, job.channelText, "-ch",
                         "'" + input.name + "' has " + std::to_string(count) +
                             (count == 1 ? " channel" : " channels"));
  }
  return startDecodeSession(run.session, input.sampleRate, input.channelCount, job.channel,
                            job.protocol, job.phase);
}

void clearProgress(const DecodeRun& run) {
  if (run.progress) {
    std::fputs("\r                                        \r", stderr);
  }
}

void showProgress(DecodeRun& run, const AudioInput& input) {
  const auto now = std::chrono::steady_clock::now();
  if (!run.progress ||
      std::chrono::duration<double>(now - run.lastProgress).count() < kProgressInterval) {
    return;
  }
  run.lastProgress = now;
  size_t blocks = 0;
  for (const StreamDecoder& decoder : run.session.decoders) {
    blocks = decoder.blocks.size() > blocks ? decoder.blocks.size() : blocks;
  }
  const char* plural = blocks == 1 ? "" : "s";
  if (input.frameCount > 0) {
    std::fprintf(stderr, "\rDecoding: %3d %%, %zu block%s",
                 static_cast<int>(input.framesRead * 100 / input.frameCount), blocks, plural);
  } else {
    std::fprintf(stderr, "\rDecoding: %lld s, %zu block%s",
                 static_cast<long long>(input.framesRead / input.sampleRate), blocks, plural);
  }
  (void)std::fflush(stderr);  // the line is only a hint; a failed flush loses nothing
}

// Prints the rows of blocks that ended since the last call, from the channel that has
// found the most so far: the person at the deck sees each block as it ends.
void showNewRows(DecodeRun& run, const DecodeJob& job) {
  const size_t lead = leadingDecoder(run.session, run.rowsFrom);
  const std::vector<DecodedBlock>& blocks = run.session.decoders[lead].blocks;
  if (blocks.size() <= run.rowsShown) {
    return;
  }
  clearProgress(run);
  run.rowsMixed = run.rowsMixed || (lead != run.rowsFrom && run.rowsShown > 0);
  run.rowsFrom = lead;
  for (; run.rowsShown < blocks.size(); ++run.rowsShown) {
    printDecodedRow(blocks[run.rowsShown], static_cast<int32_t>(run.rowsShown + 1), job.verbose);
  }
  (void)std::fflush(stdout);
}

// Reads the recording to its end through every chosen channel's decoder.
int32_t readThrough(const DecodeJob& job, AudioInput& input, DecodeRun& run) {
  if (run.live) {
    std::fputs("\n", stdout);
    printDecodedTableHead();
    (void)std::fflush(stdout);
  }
  while (true) {
    size_t frames = 0;
    int32_t status = readAudioChunk(input, frames);
    if (status == kOk && frames > 0) {
      status = feedFrames(run.session, input.chunk.data(), frames);
    }
    if (status != kOk) {
      clearProgress(run);
      return status;
    }
    if (frames == 0) {
      break;
    }
    if (run.live) {
      showNewRows(run, job);
    }
    showProgress(run, input);
  }
  const int32_t status = finishDecodeSession(run.session);
  if (status != kOk) {
    clearProgress(run);
    return status;
  }
  if (run.live) {
    showNewRows(run, job);
  }
  clearProgress(run);
  if (input.framesRead == 0) {
    return reportFailure(kErrBadWav, input.name, "no sample frames");
  }
  if (endedEarly(input)) {
    std::fprintf(stderr, "Recording '%s' ended early: decoded the %lld sample frames it holds.\n\n",
                 input.name.c_str(), static_cast<long long>(input.framesRead));
  }
  return kOk;
}

}  // namespace

int32_t decodeRecording(const DecodeJob& job, AudioInput& input, DecodeRun& run) {
  const int32_t status = chooseChannels(job, input, run);
  return status == kOk ? readThrough(job, input, run) : status;
}

void listDecodeResult(const DecodeJob& job, const DecodeRun& run, bool oneOfSeveral) {
  const DecodeSession& session = run.session;
  const size_t best = session.best;
  const std::vector<DecodedBlock>& blocks = keptBlocks(session);
  const int32_t channel = session.channels[best];
  const size_t decoded = session.channels.size();
  const std::string name =
      decoded == 2 ? (channel == 0 ? "left" : "right") : std::to_string(channel + 1);
  if (decoded == 2) {
    std::printf(" Channel: %s (better of two)\n", name.c_str());
  } else if (decoded > 2) {
    std::printf(" Channel: %s (best of %zu)\n", name.c_str(), decoded);
  } else if (job.channel != kChannelAuto && session.channelCount > 1) {
    std::printf(" Channel: %s\n", job.channelByNumber || session.channelCount > 2
                                      ? std::to_string(channel + 1).c_str()
                                      : (channel == 0 ? "left" : "right"));
  }
  if (oneOfSeveral) {
    // The merged listing follows; of each take only how it went.
    printTakeSummary(blocks);
    return;
  }
  if (!run.live || run.rowsMixed || run.rowsFrom != best || run.rowsShown != blocks.size()) {
    if (run.live) {
      std::fputs("\n", stdout);
    }
    listDecodedBlocks(blocks, job.verbose);
    return;
  }
  std::printf(" Blocks: %d\n", static_cast<int32_t>(blocks.size()));
  printDecodedLegend(blocks);
}
