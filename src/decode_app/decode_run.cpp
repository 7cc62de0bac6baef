// One pass over a recording through a streaming decoder per channel.
#include "decode_app/decode_run.h"

#include <cstdio>
#include <string>

#include "decode/decode_listing.h"

namespace {

constexpr double kProgressInterval = 0.25;  // seconds between progress lines

int32_t chooseChannels(const DecodeJob& job, const AudioInput& input, Cassette& cassette) {
  if (job.channelByNumber && job.channel >= input.channelCount) {
    const int32_t count = input.channelCount;
    return reportFailure(kErrBadValue, job.channelText, "-ch",
                         "'" + input.name + "' has " + std::to_string(count) +
                             (count == 1 ? " channel" : " channels"));
  }
  cassette.protocol = job.protocol;
  cassette.phase = job.phase;
  cassette.channel = job.channel;
  return startTake(cassette, input.name, input.sampleRate, input.channelCount);
}

void clearProgress(const DecodeRun& run) {
  if (run.progress) {
    std::fputs("\r                                        \r", stderr);
  }
}

void showProgress(DecodeRun& run, const DecodeSession& session, const AudioInput& input) {
  const auto now = std::chrono::steady_clock::now();
  if (!run.progress ||
      std::chrono::duration<double>(now - run.lastProgress).count() < kProgressInterval) {
    return;
  }
  run.lastProgress = now;
  size_t blocks = 0;
  for (const StreamDecoder& decoder : session.decoders) {
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
int32_t showNewRows(DecodeRun& run, const DecodeSession& session, const DecodeJob& job) {
  const size_t lead = leadingDecoder(session, run.rowsFrom);
  const std::vector<DecodedBlock>& blocks = session.decoders[lead].blocks;
  if (blocks.size() <= run.rowsShown) {
    return kOk;
  }
  clearProgress(run);
  run.rowsMixed = run.rowsMixed || (lead != run.rowsFrom && run.rowsShown > 0);
  run.rowsFrom = lead;
  std::string rows;
  int32_t status = kOk;
  for (; run.rowsShown < blocks.size() && status == kOk; ++run.rowsShown) {
    status = appendDecodedRow(rows, blocks[run.rowsShown], static_cast<int32_t>(run.rowsShown + 1),
                              job.verbose);
  }
  status = printText(status, rows);
  (void)std::fflush(stdout);
  return status;
}

// Reads the recording to its end through every chosen channel's decoder.
int32_t readThrough(const DecodeJob& job, AudioInput& input, Cassette& cassette, DecodeRun& run) {
  int32_t status = kOk;
  if (run.live) {
    std::string head = "\n";
    status = printText(appendDecodedTableHead(head), head);
    (void)std::fflush(stdout);
  }
  for (size_t frames = 1; frames > 0 && status == kOk;) {
    status = readAudioChunk(input, frames);
    if (status == kOk && frames > 0) {
      status = feedTakeFrames(cassette, input.chunk.data(), frames);
    }
    if (status == kOk && frames > 0 && run.live) {
      status = showNewRows(run, cassette.session, job);
    }
    if (status == kOk && frames > 0) {
      showProgress(run, cassette.session, input);
    }
  }
  cassette.decoding.endedEarly = endedEarly(input);
  if (status == kOk) {
    status = endTake(cassette);
  }
  if (status == kOk && run.live) {
    status = showNewRows(run, cassette.session, job);
  }
  if (status == kOk) {
    status = keepTake(cassette);
  }
  clearProgress(run);
  if (status != kOk) {
    return status;
  }
  if (input.framesRead == 0) {
    return reportFailure(kErrBadWav, input.name, "no sample frames");
  }
  if (endedEarly(input)) {
    // The blocks after the end are lost without a trace: the decode is not whole.
    char at[32];
    formatMinutes(static_cast<double>(input.framesRead) / input.sampleRate, at, sizeof at);
    const std::string reason = input.readError.empty() ? "" : " (" + input.readError + ")";
    std::fprintf(stderr,
                 "Recording '%s' ended early at %s%s: decoded the %lld sample frames it holds.\n\n",
                 input.name.c_str(), at, reason.c_str(), static_cast<long long>(input.framesRead));
  }
  return kOk;
}

// The channel whose blocks are kept, when there was a choice or one was asked for.
void printChannel(const DecodeJob& job, const DecodeSession& session) {
  const int32_t channel = session.channels[session.best];
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
}

}  // namespace

int32_t printText(int32_t status, const std::string& text) {
  if (status == kOk) {
    std::fputs(text.c_str(), stdout);
  }
  return status;
}

int32_t decodeRecording(const DecodeJob& job, AudioInput& input, Cassette& cassette,
                        DecodeRun& run) {
  const int32_t status = chooseChannels(job, input, cassette);
  return status == kOk ? readThrough(job, input, cassette, run) : status;
}

int32_t listDecodeResult(const DecodeJob& job, const Cassette& cassette, const DecodeRun& run) {
  const DecodeSession& session = cassette.session;
  const std::vector<DecodedBlock>& blocks = cassette.takes.back();
  printChannel(job, session);
  const std::vector<double>& stray = cassette.facts.back().strayFrames;
  std::string text;
  int32_t status = kOk;
  if (isOneOfSeveral(cassette)) {
    // The merged listing follows; of each take only how it went.
    status = appendTakeSummary(text, blocks);
  } else if (!run.live || run.rowsMixed || run.rowsFrom != session.best ||
             run.rowsShown != blocks.size()) {
    text = run.live ? "\n" : "";
    status = listDecodedBlocks(text, blocks, job.verbose);
  } else {
    status = appendBlockCount(text, blocks);
    if (status == kOk) {
      status = appendDecodedLegend(text, blocks);
    }
  }
  return printText(status == kOk ? appendStrayFrames(text, stray) : status, text);
}
