// Reading of RIFF/WAVE recordings: 8-bit unsigned or 16-bit signed PCM, one or two channels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

inline constexpr int32_t kMinWavSampleRate = 8000;
inline constexpr int32_t kMaxWavSampleRate = 96000;

// The samples of a recording, one vector per channel, as signed 16-bit values: 8-bit
// samples are centred on 0 and scaled by 256, so later stages see one number range.
struct WavRecording {
  int32_t sampleRate = 0;
  int32_t channelCount = 0;
  int32_t bitsPerSample = 0;
  std::vector<std::vector<int16_t>> channels;
};

// Reads the recording at `path`. Returns kOk, or kErrOpenInput, kErrAccessInput,
// kErrReadInput, kErrOutOfMemory, kErrBadWav (structure: no RIFF/WAVE signature, no
// format or data chunk, a format chunk too short, a block alignment that disagrees with
// the format, no whole sample frame) or kErrUnsupportedWav (not integer PCM, more than two
// channels, other than 8 or 16 bits, a rate outside 8000..96000 Hz), each reported with
// `path`. Chunk sizes that run past the end of the file are cut to what the file holds.
[[nodiscard]] int32_t readWavFile(const char* path, WavRecording& recording);

// The same for a stream open for binary reading, read from its start; `name` stands in
// messages. The stream is left open.
[[nodiscard]] int32_t readWavStream(std::FILE* file, const char* name, WavRecording& recording);
