// Opening recordings through libsndfile, checking what it returns, and chunked reading.
#include "decode_app/audio_input.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/memory.h"
#include "decode/stream_decoder.h"

namespace {

sf_count_t memoryLength(void* user) { return static_cast<MemoryAudio*>(user)->size; }

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
  MemoryAudio& memory = *static_cast<MemoryAudio*>(user);
  const sf_count_t base = whence == SEEK_CUR ? memory.offset : whence == SEEK_END ? memory.size : 0;
  // Offsets come from the file's own chunk sizes; keep them inside the bytes.
  if (offset > memory.size - base || offset < -base) {
    return -1;
  }
  memory.offset = base + offset;
  return memory.offset;
}

sf_count_t memoryRead(void* destination, sf_count_t count, void* user) {
  MemoryAudio& memory = *static_cast<MemoryAudio*>(user);
  const sf_count_t left = memory.size - memory.offset;
  const sf_count_t length = count < left ? count : left;
  if (length <= 0) {
    return 0;
  }
  std::memcpy(destination, memory.data + memory.offset, static_cast<size_t>(length));
  memory.offset += length;
  return length;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t memoryTell(void* user) { return static_cast<MemoryAudio*>(user)->offset; }

// libsndfile's sentences end in a full stop, ours in the message's own "!".
std::string reasonWithoutStop(const char* text) {
  std::string reason = text;
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason;
}

bool mentionsFlac(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text.find("flac") != std::string::npos;
}

// libsndfile says why it refused a file; its number tells a damaged file from one it
// cannot read. FLAC must seek while it opens, which a pipe cannot do.
int32_t reportOpenFailure(const AudioInput& input, bool standardInput) {
  const int error = sf_error(nullptr);
  const std::string reason = reasonWithoutStop(sf_strerror(nullptr));
  std::string log(1024, '\0');
  sf_command(nullptr, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  if (standardInput && (mentionsFlac(reason) || mentionsFlac(log))) {
    return reportFailure(kErrUnsupportedWav, input.name,
                         "FLAC can't be read from a pipe (give its file name, or pipe it as "
                         "WAV: flac -dc side.flac | tonbrix-decode -)");
  }
  if (error == SF_ERR_UNSUPPORTED_ENCODING) {
    return reportFailure(kErrUnsupportedWav, input.name, reason);
  }
  if (error == SF_ERR_SYSTEM) {
    return reportFailure(kErrReadInput, input.name, {}, reason);
  }
  return reportFailure(kErrBadWav, input.name, reason);
}

std::string describeFormat(int format) {
  std::string text;
  for (const int mask : {SF_FORMAT_TYPEMASK, SF_FORMAT_SUBMASK}) {
    SF_FORMAT_INFO info = {};
    info.format = format & mask;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr) {
      text += text.empty() ? "" : ", ";
      text += info.name;
    }
  }
  return text;
}

// libsndfile reads a WAV file whose data chunk says more than the file holds as far as
// it goes, and says so only in its log ("data : 3414312 (should be 699956)"). A size of 0
// or near 4 GiB is no promise: recorders that stream write those.
bool statesMoreThanItHolds(SNDFILE* file) {
  std::string log(4096, '\0');
  sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  const size_t line = log.find("\ndata : ");
  if (line == std::string::npos) {
    return false;
  }
  const size_t end = log.find('\n', line + 1);
  const std::string text = log.substr(line + 8, end == std::string::npos ? end : end - line - 8);
  const long long stated = std::strtoll(text.c_str(), nullptr, 10);
  return text.find("(should be") != std::string::npos && stated > 0 && stated < 0x7FFF0000;
}

// What libsndfile returns is taken as input too: a header may state any channel count,
// rate or length.
int32_t checkAudioInput(AudioInput& input, const SF_INFO& info) {
  if (info.channels < 1) {
    return reportFailure(kErrBadWav, input.name, "no channels");
  }
  if (info.samplerate < kMinStreamSampleRate || info.samplerate > kMaxStreamSampleRate) {
    return reportFailure(
        kErrUnsupportedWav, input.name,
        "sample rate " + std::to_string(info.samplerate) + " Hz (8000 to 384000 expected)");
  }
  if (info.frames == 0) {
    return reportFailure(kErrBadWav, input.name, "no sample frames");
  }
  input.sampleRate = info.samplerate;
  input.channelCount = info.channels;
  // A pipe has no length to state; libsndfile then says "as many as there are".
  input.frameCount = info.seekable != 0 && info.frames > 0 && info.frames < SF_COUNT_MAX
                         ? static_cast<int64_t>(info.frames)
                         : -1;
  input.formatName = describeFormat(info.format);
  input.cutShort = info.seekable != 0 && statesMoreThanItHolds(input.file.get());
  const size_t channels = static_cast<size_t>(info.channels);
  const size_t frames = channels < kAudioChunkSamples ? kAudioChunkSamples / channels : 1;
  const int encoding = info.format & SF_FORMAT_SUBMASK;
  input.reading = encoding == SF_FORMAT_PCM_U8 ? SampleReading::kUnsignedBytes
                  : encoding == SF_FORMAT_PCM_S8 || encoding == SF_FORMAT_PCM_16
                      ? SampleReading::kShorts
                      : SampleReading::kFloats;
  int32_t status = resizeItems(input.chunk, frames * channels);
  if (status == kOk && input.reading == SampleReading::kShorts) {
    status = resizeItems(input.shorts, frames * channels);
  }
  if (status == kOk && input.reading == SampleReading::kUnsignedBytes) {
    status = resizeItems(input.bytes, frames * channels);
  }
  return status;
}

// Turns `count` samples into floats: each is `scale` times its distance from `zero`.
template <typename Sample>
void convertSamples(const Sample* samples, sf_count_t count, int32_t zero, float scale,
                    float* floats) {
  for (sf_count_t k = 0; k < count; ++k) {
    floats[k] = static_cast<float>(samples[k] - zero) * scale;
  }
}

// Reads up to `wanted` frames into input.chunk; returns how many, or a negative count
// where libsndfile failed. libsndfile scales an 8-bit or 16-bit sample to a float by a
// power of two, which the scaling here repeats exactly.
sf_count_t readFrames(AudioInput& input, sf_count_t wanted) {
  SNDFILE* file = input.file.get();
  const sf_count_t channels = input.channelCount;
  if (input.reading == SampleReading::kShorts) {
    const sf_count_t got = sf_readf_short(file, input.shorts.data(), wanted);
    convertSamples(input.shorts.data(), got * channels, 0, 1.0F / 32768, input.chunk.data());
    return got;
  }
  if (input.reading == SampleReading::kUnsignedBytes) {
    const sf_count_t bytes = sf_read_raw(file, input.bytes.data(), wanted * channels);
    // A recording cut within its last frame leaves part of a frame, which is dropped.
    const sf_count_t got = bytes < 0 ? bytes : bytes / channels;
    convertSamples(input.bytes.data(), got * channels, 128, 1.0F / 128, input.chunk.data());
    return got;
  }
  return sf_readf_float(file, input.chunk.data(), wanted);
}

}  // namespace

int32_t openAudioInput(AudioInput& input, const char* path) {
  input = AudioInput{};
  const bool standardInput = std::strcmp(path, "-") == 0;
  input.name = standardInput ? "standard input" : path;
  int descriptor = STDIN_FILENO;
  if (!standardInput) {
    input.source = openInputFile(path);
    if (!input.source) {
      return reportFailure(kErrOpenInput, path, {}, std::strerror(errno));
    }
    descriptor = fileno(input.source.get());
  }
  SF_INFO info = {};
  input.file.reset(sf_open_fd(descriptor, SFM_READ, &info, SF_FALSE));
  if (!input.file) {
    return reportOpenFailure(input, standardInput);
  }
  return checkAudioInput(input, info);
}

int32_t openAudioMemory(AudioInput& input, const uint8_t* data, size_t size, const char* name) {
  input = AudioInput{};
  input.name = name;
  input.memory.data = data;
  input.memory.size = static_cast<sf_count_t>(size);
  SF_VIRTUAL_IO io = {memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
  SF_INFO info = {};
  input.file.reset(sf_open_virtual(&io, SFM_READ, &info, &input.memory));
  if (!input.file) {
    return reportOpenFailure(input, false);
  }
  return checkAudioInput(input, info);
}

int32_t readAudioChunk(AudioInput& input, size_t& frames) {
  const auto channels = static_cast<size_t>(input.channelCount);
  const sf_count_t wanted = static_cast<sf_count_t>(input.chunk.size() / channels);
  const sf_count_t got = readFrames(input, wanted);
  if (got < 0 || (got < wanted && sf_error(input.file.get()) == SF_ERR_SYSTEM)) {
    frames = 0;
    return reportFailure(kErrReadInput, input.name, {},
                         reasonWithoutStop(sf_strerror(input.file.get())));
  }
  frames = static_cast<size_t>(got);
  input.framesRead += got;
  if (got < wanted && sf_error(input.file.get()) != SF_ERR_NO_ERROR) {
    input.readError = reasonWithoutStop(sf_strerror(input.file.get()));
  }
  return kOk;
}

bool endedEarly(const AudioInput& input) {
  return input.cutShort || !input.readError.empty() ||
         (input.frameCount > 0 && input.framesRead < input.frameCount);
}
