// One pass over a recording through a streaming decoder per channel.
#include "decode_app/decode_run.h"

#include <cstdio>
#include <string>

#include "core/memory.h"
#include "decode/tape_writer.h"

namespace {

constexpr double kProgressInterval = 0.25;  // seconds between progress lines

int32_t chooseChannels(const DecodeJob& job, const AudioInput& input, DecodeRun& run) {
  if (job.channelByNumber != 0 && job.channel >= input.channelCount) {
    return reportFailure(kErrBadValue, job.channelText, "-ch");
  }
  run.channelCount = input.channelCount;
  if (input.channelCount == 1) {
    run.channels = {0};
  } else if (job.channel != kChannelAuto) {
    run.channels = {job.channel};
  } else {
    for (int32_t c = 0; c < input.channelCount; ++c) {
      const int32_t status = appendItem(run.channels, c);
      if (status != kOk) {
        return status;
      }
    }
  }
  int32_t status = resizeItems(run.decoders, run.channels.size());
  for (StreamDecoder& decoder : run.decoders) {
    if (status == kOk) {
      status = startStreamDecoder(decoder, input.sampleRate, job.protocol, job.phase);
    }
  }
  if (status == kOk && input.channelCount > 1) {
    status = resizeItems(run.samples, input.chunk.size() / static_cast<size_t>(input.channelCount));
  }
  return status;
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
  for (const StreamDecoder& decoder : run.decoders) {
    blocks = decoder.blocks.size() > blocks ? decoder.blocks.size() : blocks;
  }
  if (input.frameCount > 0) {
    std::fprintf(stderr, "\rDecoding: %3d %%, %zu blocks",
                 static_cast<int>(input.framesRead * 100 / input.frameCount), blocks);
  } else {
    std::fprintf(stderr, "\rDecoding: %lld s, %zu blocks",
                 static_cast<long long>(input.framesRead / input.sampleRate), blocks);
  }
  (void)std::fflush(stderr);  // the line is only a hint; a failed flush loses nothing
}

// Prints the rows of blocks that ended since the last call, from the channel that has
// found the most so far: the person at the deck sees each block as it ends.
void showNewRows(DecodeRun& run, const DecodeJob& job) {
  size_t lead = run.rowsFrom;
  for (size_t d = 0; d < run.decoders.size(); ++d) {
    if (run.decoders[d].blocks.size() > run.decoders[lead].blocks.size()) {
      lead = d;
    }
  }
  const std::vector<DecodedBlock>& blocks = run.decoders[lead].blocks;
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

int32_t feedChunk(DecodeRun& run, const AudioInput& input, size_t frames) {
  const auto channelCount = static_cast<size_t>(input.channelCount);
  for (size_t d = 0; d < run.decoders.size(); ++d) {
    const float* samples = input.chunk.data();
    if (channelCount > 1) {
      const auto channel = static_cast<size_t>(run.channels[d]);
      for (size_t f = 0; f < frames; ++f) {
        run.samples[f] = input.chunk[f * channelCount + channel];
      }
      samples = run.samples.data();
    }
    const int32_t status = feedSamples(run.decoders[d], samples, frames);
    if (status != kOk) {
      return status;
    }
  }
  return kOk;
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
      status = feedChunk(run, input, frames);
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
  for (StreamDecoder& decoder : run.decoders) {
    const int32_t status = finishStreamDecoder(decoder);
    if (status != kOk) {
      clearProgress(run);
      return status;
    }
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
  int32_t status = chooseChannels(job, input, run);
  if (status == kOk) {
    status = readThrough(job, input, run);
  }
  if (status != kOk) {
    return status;
  }
  run.best = 0;
  for (size_t d = 1; d < run.decoders.size(); ++d) {
    if (scoreBlocks(run.decoders[d].blocks) > scoreBlocks(run.decoders[run.best].blocks)) {
      run.best = d;
    }
  }
  return kOk;
}

void listDecodeResult(const DecodeJob& job, const DecodeRun& run) {
  const size_t best = run.best;
  const std::vector<DecodedBlock>& blocks = run.decoders[best].blocks;
  const int32_t channel = run.channels[best];
  const std::string name =
      run.channels.size() == 2 ? (channel == 0 ? "left" : "right") : std::to_string(channel + 1);
  if (run.channels.size() == 2) {
    std::printf(" Channel: %s (better of two)\n", name.c_str());
  } else if (run.channels.size() > 2) {
    std::printf(" Channel: %s (best of %zu)\n", name.c_str(), run.channels.size());
  } else if (job.channel != kChannelAuto && run.channelCount > 1) {
    std::printf(" Channel: %s\n", job.channelByNumber != 0 || run.channelCount > 2
                                      ? std::to_string(channel + 1).c_str()
                                      : (channel == 0 ? "left" : "right"));
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
