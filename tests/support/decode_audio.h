// Recordings for decoder tests: WAV files read and written with any layout, and the
// damage a real cassette does to them (resampling, speed, noise, DC, low-pass).
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace decode_audio {

using Bytes = std::vector<uint8_t>;

// Samples in full-scale units: -1 .. 1.
struct Audio {
  int32_t sampleRate = 0;
  std::vector<double> samples;
};

inline void putLe(Bytes& bytes, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) {
    bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
}

inline void putTag(Bytes& bytes, const char* tag) {
  for (int i = 0; i < 4; ++i) {
    bytes.push_back(static_cast<uint8_t>(tag[i]));
  }
}

// The parts of a WAV file, each of which a test may override to make it malformed.
struct WavLayout {
  uint16_t formatTag = 1;
  uint16_t channels = 1;
  uint32_t sampleRate = 22050;
  uint16_t bitsPerSample = 8;
  int32_t blockAlign = -1;  // -1: consistent with the format
  uint32_t fmtLength = 16;  // bytes of the format chunk body
  int64_t dataLength = -1;  // -1: the true length; otherwise the stated one
  Bytes beforeFmt;          // whole chunks placed between the RIFF header and "fmt "
};

// Builds a RIFF/WAVE file around `data`, the interleaved sample bytes.
inline Bytes wavBytes(const WavLayout& layout, const Bytes& data) {
  Bytes body;
  putTag(body, "WAVE");
  body.insert(body.end(), layout.beforeFmt.begin(), layout.beforeFmt.end());
  putTag(body, "fmt ");
  putLe(body, layout.fmtLength, 4);
  const uint16_t align = layout.blockAlign >= 0
                             ? static_cast<uint16_t>(layout.blockAlign)
                             : static_cast<uint16_t>(layout.channels * layout.bitsPerSample / 8);
  Bytes fmt;
  putLe(fmt, layout.formatTag, 2);
  putLe(fmt, layout.channels, 2);
  putLe(fmt, layout.sampleRate, 4);
  putLe(fmt, layout.sampleRate * align, 4);
  putLe(fmt, align, 2);
  putLe(fmt, layout.bitsPerSample, 2);
  fmt.resize(layout.fmtLength, 0);
  body.insert(body.end(), fmt.begin(), fmt.end());
  putTag(body, "data");
  putLe(body,
        static_cast<uint32_t>(layout.dataLength >= 0 ? layout.dataLength
                                                     : static_cast<int64_t>(data.size())),
        4);
  body.insert(body.end(), data.begin(), data.end());
  Bytes file;
  putTag(file, "RIFF");
  putLe(file, static_cast<uint32_t>(body.size()), 4);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

// Sample bytes of `channels` (equal lengths), 8-bit unsigned or 16-bit signed, clipped.
inline Bytes sampleBytes(const std::vector<std::vector<double>>& channels, int bits) {
  Bytes data;
  for (size_t i = 0; i < channels[0].size(); ++i) {
    for (const std::vector<double>& channel : channels) {
      const double x = std::fmax(-1.0, std::fmin(1.0, channel[i]));
      if (bits == 8) {
        data.push_back(static_cast<uint8_t>(std::lround(128 + x * 127)));
      } else {
        putLe(data, static_cast<uint16_t>(static_cast<int16_t>(std::lround(x * 32767))), 2);
      }
    }
  }
  return data;
}

inline bool writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Reads the 8-bit mono files that tonbrix writes (canonical 44-byte header).
inline Audio readTonbrixWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Audio audio;
  if (bytes.size() < 44) {
    return audio;
  }
  audio.sampleRate = static_cast<int32_t>(bytes[24] | (bytes[25] << 8) | (bytes[26] << 16));
  for (size_t i = 44; i < bytes.size(); ++i) {
    audio.samples.push_back((bytes[i] - 128) / 128.0);
  }
  return audio;
}

// Band-limited interpolation (Lanczos, 8 lobes) at source position `t`, with the kernel
// widened by `stretch` when the new rate is lower, so nothing folds back.
inline double interpolate(const std::vector<double>& x, double t, double stretch) {
  constexpr int kLobes = 8;
  const double reach = kLobes * stretch;
  const auto first = static_cast<long>(std::floor(t - reach)) + 1;
  const auto last = static_cast<long>(std::floor(t + reach));
  double sum = 0;
  for (long n = first; n <= last; ++n) {
    if (n < 0 || n >= static_cast<long>(x.size())) {
      continue;
    }
    const double u = (t - static_cast<double>(n)) / stretch;
    const double sinc = u == 0 ? 1 : std::sin(M_PI * u) / (M_PI * u);
    const double window = u == 0 ? 1 : std::sin(M_PI * u / kLobes) / (M_PI * u / kLobes);
    sum += x[static_cast<size_t>(n)] * sinc * window / stretch;
  }
  return sum;
}

// Plays `audio` back `speed` times faster and samples it at `sampleRate`.
inline Audio resample(const Audio& audio, int32_t sampleRate, double speed = 1.0) {
  const double step = speed * audio.sampleRate / sampleRate;  // source samples per output
  const double stretch = std::fmax(1.0, step);
  Audio out;
  out.sampleRate = sampleRate;
  const auto count = static_cast<size_t>(static_cast<double>(audio.samples.size()) / step);
  out.samples.resize(count);
  for (size_t i = 0; i < count; ++i) {
    out.samples[i] = interpolate(audio.samples, static_cast<double>(i) * step, stretch);
  }
  return out;
}

// The RMS of the samples that carry signal, the level that noise and hum are set against.
inline double signalRms(const Audio& audio) {
  double power = 0;
  size_t active = 0;
  for (const double x : audio.samples) {
    if (std::fabs(x) > 0.02) {
      power += x * x;
      ++active;
    }
  }
  return std::sqrt(power / static_cast<double>(active ? active : 1));
}

// Adds white Gaussian noise of RMS `noiseRms`.
inline Audio addNoiseOfRms(Audio audio, double noiseRms, uint32_t seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, noiseRms);
  for (double& x : audio.samples) {
    x += gauss(random);
  }
  return audio;
}

// Adds white Gaussian noise `snrDb` below the RMS of the samples that carry signal.
inline Audio addNoise(const Audio& audio, double snrDb, uint32_t seed) {
  return addNoiseOfRms(audio, signalRms(audio) * std::pow(10.0, -snrDb / 20), seed);
}

// A rectifier's hum: the fundamental and its harmonics to the 5th, falling off; and hum
// whose harmonics fall by half and more each.
inline const std::vector<double> kRectifierHum = {1.0, 0.5, 0.35, 0.25, 0.15};
inline const std::vector<double> kFallingHum = {1.0, 0.4, 0.2, 0.1, 0.05};

// Adds mains hum at `mainsHz` with `harmonics` (the amplitude of the fundamental, the 2nd
// and so on), with an RMS `levelDb` relative to the signal's (0: as loud as the signal),
// starting at `phase` radians.
inline Audio addHum(Audio audio, double levelDb, double phase = 0, double mainsHz = 50,
                    const std::vector<double>& harmonics = kRectifierHum) {
  double power = 0;
  for (const double a : harmonics) {
    power += a * a / 2;
  }
  const double gain = signalRms(audio) * std::pow(10.0, levelDb / 20) / std::sqrt(power);
  for (size_t i = 0; i < audio.samples.size(); ++i) {
    const double t = static_cast<double>(i) / audio.sampleRate;
    double hum = 0;
    for (size_t h = 0; h < harmonics.size(); ++h) {
      const auto n = static_cast<double>(h + 1);
      hum += harmonics[h] * std::sin(2 * M_PI * mainsHz * n * t + n * phase + 0.7 * (n - 1));
    }
    audio.samples[i] += gain * hum;
  }
  return audio;
}

// Scales the level by `gain(seconds)`.
template <typename Gain>
inline Audio changeLevel(Audio audio, Gain gain) {
  for (size_t i = 0; i < audio.samples.size(); ++i) {
    audio.samples[i] *= gain(static_cast<double>(i) / audio.sampleRate);
  }
  return audio;
}

// The level falls smoothly to `depth` (a share of the level) and back every `periodSeconds`,
// starting from the full level: a head losing and regaining contact.
inline Audio fadeLevel(const Audio& audio, double depth, double periodSeconds) {
  return changeLevel(audio, [=](double t) {
    return depth + (1 - depth) * (0.5 + 0.5 * std::cos(2 * M_PI * t / periodSeconds));
  });
}

// The level falls to `depth` for `seconds`, with edges of half a millisecond, once every
// `spacingSeconds` from `firstSeconds` on: brief dropouts of the oxide.
inline Audio addDropouts(const Audio& audio, double depth, double seconds, double spacingSeconds,
                         double firstSeconds) {
  constexpr double kEdge = 0.0005;
  return changeLevel(audio, [=](double t) {
    if (t < firstSeconds) {
      return 1.0;
    }
    const double within = std::fmod(t - firstSeconds, spacingSeconds);
    const double edge = std::fmin(within, seconds - within) / kEdge;
    if (within >= seconds) {
      return 1.0;
    }
    const double share = edge >= 1 ? 1.0 : 0.5 - 0.5 * std::cos(M_PI * edge);
    return 1 - (1 - depth) * share;
  });
}

// First-order high-pass at `cutoffHz`: the coupling capacitors of a deck and a sound card.
inline Audio highPass(Audio audio, double cutoffHz) {
  const double a = 1 / (1 + 2 * M_PI * cutoffHz / audio.sampleRate);
  double previousIn = audio.samples.empty() ? 0 : audio.samples[0];
  double previousOut = 0;
  for (double& x : audio.samples) {
    const double y = a * (previousOut + x - previousIn);
    previousIn = x;
    previousOut = y;
    x = y;
  }
  return audio;
}

// First-order all-pass with its quarter turn at `turnHz`: the phase a tape path bends
// without changing the level, so square edges ring and lean.
inline Audio shiftPhase(Audio audio, double turnHz) {
  const double k = std::tan(M_PI * turnHz / audio.sampleRate);
  const double c = (k - 1) / (k + 1);
  double previousIn = 0;
  double previousOut = 0;
  for (double& x : audio.samples) {
    const double y = c * x + previousIn - c * previousOut;
    previousIn = x;
    previousOut = y;
    x = y;
  }
  return audio;
}

// Plays `audio` with the speed wobbling by `depth` (0.01: 1 %) `rateHz` times a second.
inline Audio addWow(const Audio& audio, double depth, double rateHz) {
  Audio out;
  out.sampleRate = audio.sampleRate;
  double t = 0;
  const auto last = static_cast<double>(audio.samples.size()) - 1;
  for (size_t i = 0; t < last; ++i) {
    out.samples.push_back(interpolate(audio.samples, t, 1.0));
    const double seconds = static_cast<double>(i) / audio.sampleRate;
    t += 1 + depth * std::sin(2 * M_PI * rateHz * seconds);
  }
  return out;
}

inline Audio addOffset(Audio audio, double offset) {
  for (double& x : audio.samples) {
    x += offset;
  }
  return audio;
}

inline Audio scale(Audio audio, double factor) {
  for (double& x : audio.samples) {
    x *= factor;
  }
  return audio;
}

// Scales `audio` down, if need be, so that its peak fits full scale.
inline Audio fitFullScale(const Audio& audio) {
  double peak = 0;
  for (const double x : audio.samples) {
    peak = std::fmax(peak, std::fabs(x));
  }
  return peak > 0.99 ? scale(audio, 0.99 / peak) : audio;
}

// Second-order Butterworth low-pass: rounds the edges like a tape head does.
inline Audio lowPass(Audio audio, double cutoffHz) {
  const double k = std::tan(M_PI * cutoffHz / audio.sampleRate);
  const double q = std::sqrt(0.5);
  const double norm = 1 / (1 + k / q + k * k);
  const double b0 = k * k * norm;
  const double a1 = 2 * (k * k - 1) * norm;
  const double a2 = (1 - k / q + k * k) * norm;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (double& x : audio.samples) {
    const double y = b0 * x + 2 * b0 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    x = y;
  }
  return audio;
}

// Writes `channels` (one or two, cut or padded to the first's length) as a WAV file.
inline bool writeChannels(const std::string& path, int32_t sampleRate, int bits,
                          std::vector<std::vector<double>> channels) {
  WavLayout layout;
  layout.sampleRate = static_cast<uint32_t>(sampleRate);
  layout.bitsPerSample = static_cast<uint16_t>(bits);
  layout.channels = static_cast<uint16_t>(channels.size());
  for (std::vector<double>& channel : channels) {
    channel.resize(channels[0].size(), 0.0);
  }
  return writeFile(path, wavBytes(layout, sampleBytes(channels, bits)));
}

}  // namespace decode_audio
