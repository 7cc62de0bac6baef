// Entry point of tonbrix-decode: reads a WAV recording and writes the tape image it holds.
#include <cstdio>

#include "core/file_io.h"
#include "decode/decode_job.h"
#include "decode/demodulator.h"
#include "decode/frame_decoder.h"
#include "decode/tape_writer.h"
#include "decode/wav_reader.h"
#include "decode_app/decode_options.h"

namespace {

// Recordings longer than this get a progress line; shorter ones decode in a blink.
constexpr int64_t kProgressSeconds = 60;

int32_t decodeChannel(const DecodeJob& job, const WavRecording& recording, size_t channel,
                      const char* label, std::vector<DecodedBlock>& blocks) {
  const std::vector<int16_t>& samples = recording.channels[channel];
  const size_t sliceLength = static_cast<size_t>(recording.sampleRate);
  const bool progress =
      samples.size() > static_cast<size_t>(kProgressSeconds * recording.sampleRate);
  DemodulatorState state;
  startDemodulator(state, recording.sampleRate);
  Crossings crossings;
  for (size_t begin = 0; begin < samples.size(); begin += sliceLength) {
    const int32_t status = demodulateSamples(state, samples, begin, begin + sliceLength, crossings);
    if (status != kOk) {
      return status;
    }
    if (progress) {
      const size_t done = std::min(begin + sliceLength, samples.size());
      std::printf("\rDecoding%s: %3d%%", label, static_cast<int>(done * 100 / samples.size()));
      (void)std::fflush(stdout);  // the line is only a hint; a failed flush loses nothing
    }
  }
  if (progress) {
    std::fputs("\n", stdout);
  }
  std::vector<TapePart> parts;
  const int32_t status =
      decodeTapeParts(crossings, recording.sampleRate, job.protocol, job.phase, parts);
  if (status != kOk) {
    return status;
  }
  return assembleBlocks(parts, recording.sampleRate, blocks);
}

// Decodes the chosen channel, or both of a stereo file, keeping the better result.
int32_t decodeRecording(const DecodeJob& job, const WavRecording& recording,
                        std::vector<DecodedBlock>& blocks) {
  if (recording.channelCount == 1) {
    return decodeChannel(job, recording, 0, "", blocks);
  }
  static const char* const kNames[2] = {"left", "right"};
  if (job.channel != kChannelAuto) {
    std::printf(" Channel: %s\n", kNames[job.channel]);
    return decodeChannel(job, recording, static_cast<size_t>(job.channel), "", blocks);
  }
  std::vector<DecodedBlock> right;
  int32_t status = decodeChannel(job, recording, 0, " left", blocks);
  if (status == kOk) {
    status = decodeChannel(job, recording, 1, " right", right);
  }
  if (status != kOk) {
    return status;
  }
  const bool useRight = scoreBlocks(right) > scoreBlocks(blocks);
  if (useRight) {
    blocks.swap(right);
  }
  std::printf(" Channel: %s (better of two)\n", kNames[useRight ? 1 : 0]);
  return kOk;
}

int32_t runDecode(int argc, const char* const* argv, DecodeJob& job) {
  int32_t status = parseDecodeOptions(argc, argv, job);
  if (status != kOk) {
    return status;
  }
  if (job.listOnly == 0 && namesSameFile(job.inputPath, job.outputPath)) {
    return reportFailure(kErrOpenOutput, job.outputPath);
  }
  std::printf("Reading WAV file: %s\n", job.inputPath);
  WavRecording recording;
  status = readWavFile(job.inputPath, recording);
  if (status != kOk) {
    return status;
  }
  std::printf(" Format: %d Hz, %d-bit, %s\n", recording.sampleRate, recording.bitsPerSample,
              recording.channelCount == 1 ? "mono" : "stereo");
  std::vector<DecodedBlock> blocks;
  status = decodeRecording(job, recording, blocks);
  if (status != kOk) {
    return status;
  }
  if (blocks.empty()) {
    return reportFailure(kErrNoBlocks, job.inputPath);
  }
  listDecodedBlocks(blocks, job.verbose);
  if (job.listOnly != 0) {
    return kOk;
  }
  return writeTapeImage(job.outputPath, blocks);
}

}  // namespace

int main(int argc, char** argv) {
  printDecodeBanner();
  int32_t status = kShowUsage;
  if (argc > 1) {
    DecodeJob job;
    status = runDecode(argc, argv, job);
  }
  if (status == kShowUsage) {
    printDecodeUsage();
    status = kOk;
  } else if (status == kShowVersion) {
    status = kOk;
  } else if (status == kOk) {
    std::fputs("\nAll done.\n", stdout);
  }
  return -status;
}
