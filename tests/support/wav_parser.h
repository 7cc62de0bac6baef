// Reads a WAV file back and turns its samples into silence runs, waveforms and bytes.
//
// Tests describe the expected sound piece by piece ("21600 silent samples, 3359 marks, 63
// PMD 85 frames holding these bytes, ...") and walk the file with a SignalReader, so no
// golden file is needed and a mismatch names the sample at which it happened.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace wav_parser {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kSilenceLevel = 128;

inline uint32_t readLe(const Bytes& bytes, size_t offset, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = (value << 8) | bytes[offset + static_cast<size_t>(i)];
  }
  return value;
}

// The canonical 44-byte header, field by field, and the samples after it.
struct WavFile {
  bool complete = false;  // at least 44 bytes could be read
  Bytes bytes;            // the whole file
  std::string riffTag, waveTag, fmtTag, dataTag;
  uint32_t riffSize = 0, fmtSize = 0, sampleRate = 0, byteRate = 0, dataSize = 0;
  uint32_t audioFormat = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
  Bytes samples;
};

inline WavFile readWav(const std::string& path) {
  WavFile wav;
  std::ifstream in(path, std::ios::binary);
  wav.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (wav.bytes.size() < 44) {
    return wav;
  }
  const Bytes& b = wav.bytes;
  const auto tag = [&b](size_t offset) {
    return std::string(reinterpret_cast<const char*>(b.data() + offset), 4);
  };
  wav.complete = true;
  wav.riffTag = tag(0);
  wav.riffSize = readLe(b, 4, 4);
  wav.waveTag = tag(8);
  wav.fmtTag = tag(12);
  wav.fmtSize = readLe(b, 16, 4);
  wav.audioFormat = readLe(b, 20, 2);
  wav.channels = readLe(b, 22, 2);
  wav.sampleRate = readLe(b, 24, 4);
  wav.byteRate = readLe(b, 28, 4);
  wav.blockAlign = readLe(b, 32, 2);
  wav.bitsPerSample = readLe(b, 34, 2);
  wav.dataTag = tag(36);
  wav.dataSize = readLe(b, 40, 4);
  wav.samples.assign(b.begin() + 44, b.end());
  return wav;
}

// Samples written in the notation of a waveform table: "9F 6S" is nine samples at the
// first level followed by six at the second.
inline Bytes shape(const std::string& notation, uint8_t first, uint8_t second) {
  Bytes samples;
  const char* position = notation.c_str();
  while (*position != '\0') {
    char* end = nullptr;
    const unsigned long count = std::strtoul(position, &end, 10);
    if (end == position || (*end != 'F' && *end != 'S')) {
      return {};  // a malformed notation never matches any samples
    }
    samples.insert(samples.end(), count, *end == 'F' ? first : second);
    position = end + 1;
    while (*position == ' ') {
      ++position;
    }
  }
  return samples;
}

enum class Kind { kSilence, kMark, kSpace, kUnknown };

// A run of equal tokens: `count` silent samples, or `count` consecutive mark or space
// waveforms. kUnknown holds the one sample at which no waveform matched.
struct Token {
  Kind kind = Kind::kUnknown;
  int64_t count = 0;
  size_t sampleOffset = 0;  // of the run's first sample, counted from the first sample
};

inline bool matchesAt(const Bytes& samples, size_t offset, const Bytes& pattern) {
  if (pattern.empty() || samples.size() - offset < pattern.size()) {
    return false;
  }
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (samples[offset + i] != pattern[i]) {
      return false;
    }
  }
  return true;
}

// Splits the samples into runs. Waveforms never contain the silence value (the amplitude
// is at least 1), and mark and space differ in their first samples, so the split from the
// first sample on is unambiguous. Stops after the first sample that matches nothing.
inline std::vector<Token> tokenize(const Bytes& samples, const Bytes& mark, const Bytes& space) {
  std::vector<Token> tokens;
  size_t offset = 0;
  const auto append = [&tokens, &offset](Kind kind, int64_t length) {
    if (tokens.empty() || tokens.back().kind != kind) {
      tokens.push_back({kind, 0, offset});
    }
    tokens.back().count += kind == Kind::kSilence ? length : 1;
    offset += static_cast<size_t>(length);
  };
  while (offset < samples.size()) {
    if (samples[offset] == kSilenceLevel) {
      append(Kind::kSilence, 1);
    } else if (matchesAt(samples, offset, mark)) {
      append(Kind::kMark, static_cast<int64_t>(mark.size()));
    } else if (matchesAt(samples, offset, space)) {
      append(Kind::kSpace, static_cast<int64_t>(space.size()));
    } else {
      tokens.push_back({Kind::kUnknown, 1, offset});
      break;
    }
  }
  return tokens;
}

inline const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::kSilence:
      return "silence";
    case Kind::kMark:
      return "mark";
    case Kind::kSpace:
      return "space";
    default:
      return "unrecognised samples";
  }
}

// Walks a token stream front to back. Reading a run takes all of it; reading frames or
// taking a fixed number of waveforms may stop inside a run, so the stop bits of the last
// frame and the leader after them come apart as they should. The first mismatch is kept
// in error() and ends all further reading.
class SignalReader {
 public:
  SignalReader(const Bytes& samples, const Bytes& mark, const Bytes& space)
      : tokens_(tokenize(samples, mark, space)) {}

  // The length of the run of silent samples here, or 0 when the next token is not silence.
  int64_t silence() { return run(Kind::kSilence); }
  // The number of consecutive mark (space) waveforms here; 0 when there are none.
  int64_t marks() { return run(Kind::kMark); }
  int64_t spaces() { return run(Kind::kSpace); }

  // Consumes exactly `count` waveforms of `kind`; false (and error()) when they are not there.
  bool take(Kind kind, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
      if (!takeOne(kind)) {
        return false;
      }
    }
    return true;
  }

  // Decodes `count` PMD 85 frames: a space start bit, 8 data bits least significant first
  // (mark = 1), two mark stop bits. Returns the bytes decoded before any framing error.
  Bytes pmdBytes(size_t count) { return frames(count, Kind::kSpace, 2); }
  // Decodes `count` Mato frames: a mark start bit and 8 data bits, no stop bits.
  Bytes matoBytes(size_t count) { return frames(count, Kind::kMark, 0); }

  bool atEnd() const { return error_.empty() && index_ == tokens_.size(); }
  const std::string& error() const { return error_; }

  // What is left, for failure messages: "mark x600, silence x21600".
  std::string rest() const {
    std::string text;
    for (size_t i = index_; i < tokens_.size() && i < index_ + 8; ++i) {
      const int64_t left = tokens_[i].count - (i == index_ ? used_ : 0);
      text += std::string(text.empty() ? "" : ", ") + kindName(tokens_[i].kind) + " x" +
              std::to_string(left);
    }
    return text.empty() ? "end of samples" : text;
  }

 private:
  int64_t run(Kind kind) {
    if (!error_.empty() || index_ == tokens_.size() || tokens_[index_].kind != kind) {
      return 0;
    }
    const int64_t count = tokens_[index_].count - used_;
    ++index_;
    used_ = 0;
    return count;
  }

  bool takeOne(Kind kind) {
    if (!error_.empty()) {
      return false;
    }
    if (index_ == tokens_.size() || tokens_[index_].kind != kind) {
      error_ =
          std::string("expected a ") + kindName(kind) + " waveform, found " + rest() +
          (index_ < tokens_.size() ? " at sample " + std::to_string(tokens_[index_].sampleOffset)
                                   : "");
      return false;
    }
    if (++used_ == tokens_[index_].count) {
      ++index_;
      used_ = 0;
    }
    return true;
  }

  bool takeBit(uint32_t& bit) {
    if (index_ < tokens_.size() && tokens_[index_].kind == Kind::kMark) {
      bit = 1;
      return takeOne(Kind::kMark);
    }
    bit = 0;
    return takeOne(Kind::kSpace);
  }

  Bytes frames(size_t count, Kind startBit, int stopBits) {
    Bytes bytes;
    for (size_t n = 0; n < count; ++n) {
      if (!take(startBit, 1)) {
        error_ += " (start bit of frame " + std::to_string(n) + ")";
        return bytes;
      }
      uint32_t value = 0;
      for (uint32_t bit = 0; bit < 8; ++bit) {
        uint32_t one = 0;
        if (!takeBit(one)) {
          error_ += " (bit " + std::to_string(bit) + " of frame " + std::to_string(n) + ")";
          return bytes;
        }
        value |= one << bit;
      }
      if (!take(Kind::kMark, stopBits)) {
        error_ += " (stop bits of frame " + std::to_string(n) + ")";
        return bytes;
      }
      bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
  }

  std::vector<Token> tokens_;
  size_t index_ = 0;  // token being read
  int64_t used_ = 0;  // waveforms or samples of tokens_[index_] already consumed
  std::string error_;
};

}  // namespace wav_parser
