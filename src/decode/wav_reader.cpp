// RIFF chunk walk and sample conversion of WAV recordings.
#include "decode/wav_reader.h"

#include <sys/types.h>

#include <algorithm>
#include <array>
#include <string>

#include "core/file_io.h"
#include "core/memory.h"
#include "decode/decode_job.h"

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr int64_t kMinFormatLength = 16;
// An extensible format chunk carries its real format tag in the first two bytes of the
// subformat GUID, 24 bytes into the chunk.
constexpr int64_t kExtensibleLength = 40;
constexpr size_t kReadPieceFrames = 16384;

struct WavFormat {
  bool found = false;
  uint16_t formatTag = 0;
  uint16_t channelCount = 0;
  uint32_t sampleRate = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
};

struct DataChunk {
  bool found = false;
  int64_t offset = 0;
  int64_t length = 0;
};

uint32_t readLe16(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t readLe32(const uint8_t* bytes) { return readLe16(bytes) | (readLe16(bytes + 2) << 16); }

bool hasTag(const uint8_t* bytes, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) {
    if (bytes[i] != static_cast<uint8_t>(tag[i])) {
      return false;
    }
  }
  return true;
}

bool readAt(std::FILE* file, int64_t offset, uint8_t* bytes, size_t count) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 &&
         std::fread(bytes, 1, count, file) == count;
}

int32_t readFormat(std::FILE* file, const char* name, int64_t offset, int64_t length,
                   WavFormat& format) {
  if (length < kMinFormatLength) {
    return reportFailure(kErrBadWav, name, "format chunk too short");
  }
  std::array<uint8_t, kExtensibleLength> bytes = {};
  const auto count = static_cast<size_t>(length < kExtensibleLength ? length : kExtensibleLength);
  if (!readAt(file, offset, bytes.data(), count)) {
    return reportFailure(kErrReadInput, name);
  }
  format.found = true;
  format.formatTag = static_cast<uint16_t>(readLe16(&bytes[0]));
  format.channelCount = static_cast<uint16_t>(readLe16(&bytes[2]));
  format.sampleRate = readLe32(&bytes[4]);
  format.blockAlign = static_cast<uint16_t>(readLe16(&bytes[12]));
  format.bitsPerSample = static_cast<uint16_t>(readLe16(&bytes[14]));
  if (format.formatTag == kFormatExtensible) {
    format.formatTag = count == kExtensibleLength ? static_cast<uint16_t>(readLe16(&bytes[24])) : 0;
  }
  return kOk;
}

int32_t checkFormat(const char* name, const WavFormat& format) {
  if (format.formatTag != kFormatPcm) {
    return reportFailure(
        kErrUnsupportedWav, name,
        "samples are not integer PCM (format " + std::to_string(format.formatTag) + ")");
  }
  if (format.channelCount < 1 || format.channelCount > 2) {
    return reportFailure(kErrUnsupportedWav, name,
                         std::to_string(format.channelCount) + " channels (1 or 2 expected)");
  }
  if (format.bitsPerSample != 8 && format.bitsPerSample != 16) {
    return reportFailure(kErrUnsupportedWav, name,
                         std::to_string(format.bitsPerSample) + "-bit samples (8 or 16 expected)");
  }
  if (format.sampleRate < kMinWavSampleRate || format.sampleRate > kMaxWavSampleRate) {
    return reportFailure(
        kErrUnsupportedWav, name,
        "sample rate " + std::to_string(format.sampleRate) + " Hz (8000 to 96000 expected)");
  }
  if (format.blockAlign != format.channelCount * format.bitsPerSample / 8) {
    return reportFailure(kErrBadWav, name, "block alignment does not match the format");
  }
  return kOk;
}

// Walks the chunks after the RIFF header. Sizes are trusted only as far as the file
// goes: recorders that were interrupted leave a data size larger than the file, or 0.
int32_t findChunks(std::FILE* file, const char* name, int64_t fileSize, WavFormat& format,
                   DataChunk& data) {
  int64_t offset = 12;
  while (offset + 8 <= fileSize && !(format.found && data.found)) {
    std::array<uint8_t, 8> chunkHeader = {};
    if (!readAt(file, offset, chunkHeader.data(), chunkHeader.size())) {
      return reportFailure(kErrReadInput, name);
    }
    const int64_t bodyOffset = offset + 8;
    const int64_t available = fileSize - bodyOffset;
    int64_t length = readLe32(&chunkHeader[4]);
    if (hasTag(chunkHeader.data(), "fmt ") && !format.found) {
      const int32_t status =
          readFormat(file, name, bodyOffset, length < available ? length : available, format);
      if (status != kOk) {
        return status;
      }
    } else if (hasTag(chunkHeader.data(), "data") && !data.found) {
      if (length == 0 || length > available) {
        length = available;
      }
      data = {true, bodyOffset, length};
    }
    offset = bodyOffset + length + (length & 1);
  }
  if (!format.found) {
    return reportFailure(kErrBadWav, name, "no format chunk");
  }
  if (!data.found) {
    return reportFailure(kErrBadWav, name, "no data chunk");
  }
  return kOk;
}

int16_t sampleAt(const uint8_t* bytes, int32_t bitsPerSample) {
  if (bitsPerSample == 8) {
    return static_cast<int16_t>((bytes[0] - 128) * 256);
  }
  return static_cast<int16_t>(static_cast<uint16_t>(readLe16(bytes)));
}

int32_t readSamples(std::FILE* file, const char* name, const WavFormat& format,
                    const DataChunk& data, WavRecording& recording) {
  const size_t frameLength = format.blockAlign;
  const auto frameCount = static_cast<size_t>(data.length) / frameLength;
  if (frameCount == 0) {
    return reportFailure(kErrBadWav, name, "no sample frames");
  }
  int32_t status = resizeItems(recording.channels, format.channelCount);
  for (size_t c = 0; c < recording.channels.size() && status == kOk; ++c) {
    status = resizeItems(recording.channels[c], frameCount);
  }
  std::vector<uint8_t> piece;
  if (status == kOk) {
    status = resizeItems(piece, kReadPieceFrames * frameLength);
  }
  if (status != kOk) {
    return status;
  }
  if (fseeko(file, static_cast<off_t>(data.offset), SEEK_SET) != 0) {
    return reportFailure(kErrAccessInput, name);
  }
  const size_t sampleLength = format.bitsPerSample / 8u;
  for (size_t first = 0; first < frameCount; first += kReadPieceFrames) {
    const size_t count = std::min(kReadPieceFrames, frameCount - first);
    if (std::fread(piece.data(), frameLength, count, file) != count) {
      return reportFailure(kErrReadInput, name);
    }
    for (size_t i = 0; i < count; ++i) {
      for (size_t c = 0; c < recording.channels.size(); ++c) {
        recording.channels[c][first + i] =
            sampleAt(&piece[i * frameLength + c * sampleLength], format.bitsPerSample);
      }
    }
  }
  return kOk;
}

}  // namespace

int32_t readWavStream(std::FILE* file, const char* name, WavRecording& recording) {
  recording = WavRecording{};
  if (fseeko(file, 0, SEEK_END) != 0) {
    return reportFailure(kErrAccessInput, name);
  }
  const int64_t fileSize = ftello(file);
  if (fileSize < 0) {
    return reportFailure(kErrInputLength, name);
  }
  std::array<uint8_t, 12> riff = {};
  if (fileSize < 12 || !readAt(file, 0, riff.data(), riff.size()) || !hasTag(riff.data(), "RIFF") ||
      !hasTag(&riff[8], "WAVE")) {
    return reportFailure(kErrBadWav, name, "no RIFF/WAVE signature");
  }
  WavFormat format;
  DataChunk data;
  int32_t status = findChunks(file, name, fileSize, format, data);
  if (status != kOk) {
    return status;
  }
  status = checkFormat(name, format);
  if (status != kOk) {
    return status;
  }
  status = readSamples(file, name, format, data, recording);
  if (status != kOk) {
    recording = WavRecording{};
    return status;
  }
  recording.sampleRate = static_cast<int32_t>(format.sampleRate);
  recording.channelCount = format.channelCount;
  recording.bitsPerSample = format.bitsPerSample;
  return kOk;
}

int32_t readWavFile(const char* path, WavRecording& recording) {
  const FileHandle file = openInputFile(path);
  if (!file) {
    return reportFailure(kErrOpenInput, path);
  }
  return readWavStream(file.get(), path, recording);
}
