// Feeds arbitrary bytes as a WAV recording through the reader, the demodulator, the frame
// decoders and the block assembly. Nothing is written but one anonymous temporary file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "decode/demodulator.h"
#include "decode/frame_decoder.h"
#include "decode/tape_writer.h"
#include "decode/wav_reader.h"

namespace {

struct StreamCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

// Refused files print their reason on stderr; the runner script passes -close_fd_mask=2,
// which hides them while the sanitizers and libFuzzer keep reporting.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::unique_ptr<std::FILE, StreamCloser> file(std::tmpfile());
  if (!file || (size > 0 && std::fwrite(data, 1, size, file.get()) != size)) {
    return 0;
  }
  WavRecording recording;
  if (readWavStream(file.get(), "fuzz.wav", recording) != kOk) {
    return 0;
  }
  const int32_t forced[][2] = {{kProtocolAuto, kPhaseAuto}, {kProtocolMato, kPhaseReversed}};
  for (const std::vector<int16_t>& samples : recording.channels) {
    DemodulatorState state;
    startDemodulator(state, recording.sampleRate);
    Crossings crossings;
    // Uneven slices exercise the demodulator's continuation.
    for (size_t begin = 0; begin < samples.size(); begin += 997) {
      if (demodulateSamples(state, samples, begin, begin + 997, crossings) != kOk) {
        return 0;
      }
    }
    for (const auto& choice : forced) {
      std::vector<TapePart> parts;
      std::vector<DecodedBlock> blocks;
      if (decodeTapeParts(crossings, recording.sampleRate, choice[0], choice[1], parts) == kOk &&
          assembleBlocks(parts, recording.sampleRate, blocks) == kOk) {
        static_cast<void>(scoreBlocks(blocks));
      }
    }
  }
  return 0;
}
