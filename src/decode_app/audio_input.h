// Recordings read through libsndfile: every format it knows, delivered in fixed chunks of
// float samples, so that no recording is ever held whole.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/file_io.h"

// Samples (all channels together) that one chunk holds, whatever the channel count.
inline constexpr size_t kAudioChunkSamples = 65536;

enum class SampleReading { kFloats, kShorts, kUnsignedBytes };

struct SoundFileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFileHandle = std::unique_ptr<SNDFILE, SoundFileCloser>;

// Bytes held in memory, read through libsndfile's virtual input (fuzzing and tests).
struct MemoryAudio {
  const uint8_t* data = nullptr;
  sf_count_t size = 0;
  sf_count_t offset = 0;
};

// An open recording. `file` is declared after what it reads from, so it closes first.
// The record must stay where it is while open: libsndfile keeps a pointer to `memory`.
struct AudioInput {
  std::string name;  // for messages: the path, or "standard input" for "-"
  FileHandle source;
  MemoryAudio memory;
  SoundFileHandle file;
  int32_t sampleRate = 0;
  int32_t channelCount = 0;
  int64_t frameCount = -1;  // as the header states; -1 when unknown (a pipe)
  int64_t framesRead = 0;
  bool cutShort = false;     // the header states more data than the file holds
  std::string readError;     // why libsndfile stopped before the end, where it said so
  std::string formatName;    // e.g. "WAV (Microsoft), Signed 24 bit PCM"
  std::vector<float> chunk;  // the last chunk, frames of channelCount samples
  // How the samples reach `chunk`. Samples of 16 bits or fewer become floats here, from
  // what libsndfile gives at a fraction of the cost of its floats: 8-bit unsigned WAV
  // samples as the bytes stored, others as shorts. The floats are the same, bit for bit.
  SampleReading reading = SampleReading::kFloats;
  std::vector<int16_t> shorts;
  std::vector<uint8_t> bytes;
};

// Opens the recording at `path`, or standard input for "-", and checks what libsndfile
// found. Returns kOk, or kErrOpenInput (missing, a directory), kErrBadWav (a format
// libsndfile does not know, a damaged file, no channels, no sample frames),
// kErrUnsupportedWav (an encoding libsndfile cannot read, a rate outside 8000..384000
// Hz), kErrReadInput, or kErrOutOfMemory, each reported with the name and, where it has
// one, the reason libsndfile gives.
[[nodiscard]] int32_t openAudioInput(AudioInput& input, const char* path);

// The same for `size` bytes at `data`, which must outlive `input`; `name` stands in
// messages.
[[nodiscard]] int32_t openAudioMemory(AudioInput& input, const uint8_t* data, size_t size,
                                      const char* name);

// Reads the next chunk into input.chunk and sets `frames` to the whole frames read, 0 at
// the end. Returns kOk, or kErrReadInput, reported, when the system fails a read. Where
// the decoder of a compressed format stops at damage, the frames before it are the
// recording's end, and input.readError says why.
[[nodiscard]] int32_t readAudioChunk(AudioInput& input, size_t& frames);

// True when the recording stopped before the frame count its header states: a file cut
// short by an interrupted copy or recorder, or damaged where libsndfile stopped reading.
bool endedEarly(const AudioInput& input);
