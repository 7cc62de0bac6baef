// Decodes long recordings made on the fly: a tape played by tonbrix is looped for the
// chosen length (whole loops) and written as WAV, or Wave64 beyond 4 GiB, into a pipe to
// `tonbrix-decode -list -`. Prints the samples per second through the whole pipe (reading
// included) and the decoder's CPU time and peak resident memory, for 44.1 kHz 8-bit mono
// and 96 kHz 24-bit stereo. With -vs, another build of the decoder decodes the same
// recordings in turn with it, round after round, and the ratios of each round (this
// decoder over the other) show what changed on a machine whose load comes and goes.
// Usage: decode_bench [-vs OTHER_DECODE] [-rounds N] [-mono] TONBRIX TONBRIX_DECODE [MINUTES]
//        (default 60 minutes, 1 round; 3 rounds with -vs)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "run_binary.h"
#include "tape_builder.h"

namespace {

using tape_builder::Bytes;

struct Format {
  const char* name;
  int32_t sampleRate;
  int32_t bytesPerSample;
  int32_t channels;
};

void putLe(Bytes& bytes, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) {
    bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
}

// The PCM format fields that WAV and Wave64 share: tag, channels, rates, alignment, bits.
void putFormatFields(Bytes& header, const Format& format, uint32_t align) {
  putLe(header, 1, 2);
  putLe(header, static_cast<uint32_t>(format.channels), 2);
  putLe(header, static_cast<uint32_t>(format.sampleRate), 4);
  putLe(header, static_cast<uint32_t>(format.sampleRate) * align, 4);
  putLe(header, align, 2);
  putLe(header, static_cast<uint32_t>(format.bytesPerSample * 8), 2);
}

// Sony Wave64, for recordings whose data outgrows the 32-bit sizes of RIFF: chunks are
// named by GUIDs and sized in 64 bits, header included.
Bytes wave64Header(const Format& format, uint64_t frames) {
  const auto align = static_cast<uint32_t>(format.bytesPerSample * format.channels);
  const uint8_t tail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
  const auto guid = [&tail](Bytes& bytes, const char* name) {
    bytes.insert(bytes.end(), name, name + 4);
    bytes.insert(bytes.end(), tail, tail + 12);
  };
  const auto put64 = [](Bytes& bytes, uint64_t value) {
    putLe(bytes, static_cast<uint32_t>(value), 4);
    putLe(bytes, static_cast<uint32_t>(value >> 32), 4);
  };
  const uint64_t dataBytes = frames * align;
  Bytes header = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                  0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
  put64(header, 16 + 8 + 16 + 24 + 16 + 24 + dataBytes);
  guid(header, "wave");
  guid(header, "fmt ");
  put64(header, 24 + 16);
  putFormatFields(header, format, align);
  guid(header, "data");
  put64(header, 24 + dataBytes);
  return header;
}

Bytes wavHeader(const Format& format, uint64_t frames) {
  if (frames * static_cast<uint64_t>(format.bytesPerSample * format.channels) > 0xFFFFFF00u) {
    return wave64Header(format, frames);
  }
  const auto align = static_cast<uint32_t>(format.bytesPerSample * format.channels);
  const uint64_t dataBytes = frames * align;
  Bytes header;
  for (const char c : std::string("RIFF")) header.push_back(static_cast<uint8_t>(c));
  putLe(header, static_cast<uint32_t>(dataBytes + 36), 4);
  for (const char c : std::string("WAVEfmt ")) header.push_back(static_cast<uint8_t>(c));
  putLe(header, 16, 4);
  putFormatFields(header, format, align);
  for (const char c : std::string("data")) header.push_back(static_cast<uint8_t>(c));
  putLe(header, static_cast<uint32_t>(dataBytes), 4);
  return header;
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written <= 0) {
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Writes the WAV header and `frames` frames of the looped source to `fd`. Runs in a child
// of its own, so that the recording in memory counts in neither program's peak RSS.
bool generate(const Format& format, const std::string& sourcePath, int32_t sourceRate,
              uint64_t frames, int fd) {
  const std::string wav = readWholeFile(sourcePath);
  const Bytes source(wav.begin() + 44, wav.end());
  const Bytes header = wavHeader(format, frames);
  bool ok = writeAll(fd, header.data(), header.size());
  const size_t align = static_cast<size_t>(format.bytesPerSample * format.channels);
  constexpr uint64_t kChunkFrames = 1 << 16;
  Bytes chunk(kChunkFrames * align);
  // Nearest source sample, stepped without division: `phase` counts in units of
  // 1/format.sampleRate source samples.
  size_t index = 0;
  int64_t phase = 0;
  const bool copies =
      format.sampleRate == sourceRate && format.bytesPerSample == 1 && format.channels == 1;
  for (uint64_t first = 0; first < frames && ok; first += kChunkFrames) {
    const uint64_t count = std::min(kChunkFrames, frames - first);
    if (copies) {
      // The same format as the source: whole runs of it, as fast as the pipe takes them.
      for (uint64_t done = 0; done < count;) {
        const uint64_t run = std::min<uint64_t>(count - done, source.size() - index);
        std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(index), run,
                    chunk.begin() + static_cast<std::ptrdiff_t>(done));
        done += run;
        index = (index + run) % source.size();
      }
      ok = writeAll(fd, chunk.data(), static_cast<size_t>(count));
      continue;
    }
    uint8_t* out = chunk.data();
    for (uint64_t n = 0; n < count; ++n) {
      const uint8_t value = source[index];
      for (int32_t c = 0; c < format.channels; ++c) {
        if (format.bytesPerSample == 1) {
          *out++ = value;
        } else {
          // Signed, the 8-bit value in the top byte, a constant below it.
          *out++ = 0x5A;
          *out++ = 0;
          *out++ = static_cast<uint8_t>(value - 128);
        }
      }
      phase += sourceRate;
      while (phase >= format.sampleRate) {
        phase -= format.sampleRate;
        index = index + 1 < source.size() ? index + 1 : 0;
      }
    }
    ok = writeAll(fd, chunk.data(), static_cast<size_t>(count) * align);
  }
  return ok;
}

// What one decode took.
struct Figures {
  double seconds = 0;  // through the whole pipe
  double cpu = 0;      // of the decoder
  double peakMb = 0;   // of the decoder
  bool ok = false;
};

// Plays the 8-bit tonbrix recording, looped and resampled by nearest sample to the format,
// into the decoder, and prints the figures.
Figures runOne(const Format& format, const std::string& sourcePath, int32_t sourceRate,
               double minutes, const std::string& decoder, const std::string& folder) {
  // Whole loops, so that every block in the recording ends before it does.
  const auto sourceFrames = static_cast<uint64_t>(std::filesystem::file_size(sourcePath) - 44);
  const auto loops = static_cast<uint64_t>(
      std::ceil(minutes * 60 * sourceRate / static_cast<double>(sourceFrames)));
  const uint64_t frames = loops * sourceFrames * static_cast<uint64_t>(format.sampleRate) /
                          static_cast<uint64_t>(sourceRate);
  Figures figures;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    return figures;
  }
  const std::string listing = folder + "/listing.txt";
  const auto start = std::chrono::steady_clock::now();
  // The decoder starts as a copy of this process, whose size would count in its peak RSS:
  // this process stays small, and a forked generator loads the recording.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, listing.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
  const char* const args[] = {decoder.c_str(), "-list", "-", nullptr};
  pid_t child = 0;
  const int spawned = posix_spawn(&child, decoder.c_str(), &actions, nullptr,
                                  const_cast<char* const*>(args), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return figures;
  }
  close(pipeEnds[0]);
  const pid_t generator = fork();
  if (generator == 0) {
    _exit(generate(format, sourcePath, sourceRate, frames, pipeEnds[1]) ? 0 : 1);
  }
  close(pipeEnds[1]);
  int generated = 1;
  waitpid(generator, &generated, 0);
  const bool ok = generator > 0 && WIFEXITED(generated) && WEXITSTATUS(generated) == 0;
  int status = 0;
  rusage usage = {};
  wait4(child, &status, 0, &usage);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  const std::string text = readWholeFile(listing);
  const size_t at = text.find(" Blocks: ");
  const double samples = static_cast<double>(frames) * format.channels;
  std::printf(
      "%-22s %4.1f min %7.1f M samples %6.2f s %6.1f M samples/s (decoder CPU %5.2f s,"
      " %6.1f M/s) peak RSS %5.1f MB, exit %d, %s, %s\n",
      format.name, static_cast<double>(frames) / format.sampleRate / 60, samples / 1e6, seconds,
      samples / seconds / 1e6, cpu, samples / cpu / 1e6,
      static_cast<double>(usage.ru_maxrss) / 1024.0, WIFEXITED(status) ? WEXITSTATUS(status) : -1,
      at == std::string::npos ? "no listing"
                              : text.substr(at + 1, text.find('\n', at) - at - 1).c_str(),
      decoder.c_str());
  std::fflush(stdout);
  figures.seconds = seconds;
  figures.cpu = cpu;
  figures.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  figures.ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return figures;
}

// The lowest and highest of `values`, with `decimals` decimals and `unit` after them.
std::string rangeOf(const std::vector<double>& values, int decimals, const char* unit) {
  char text[64];
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  std::snprintf(text, sizeof text, "%.*f-%.*f%s", decimals, *low, decimals, *high, unit);
  return text;
}

// Prints, for one format, each decoder's range and the range of the rounds' ratios.
void printComparison(const Format& format, const std::vector<Figures>& ours,
                     const std::vector<Figures>& theirs) {
  std::vector<double> cpu[2], seconds[2], peak[2], cpuRatio, secondsRatio, peakRatio;
  for (size_t r = 0; r < ours.size(); ++r) {
    const Figures* both[2] = {&ours[r], &theirs[r]};
    for (int d = 0; d < 2; ++d) {
      cpu[d].push_back(both[d]->cpu);
      seconds[d].push_back(both[d]->seconds);
      peak[d].push_back(both[d]->peakMb);
    }
    cpuRatio.push_back(ours[r].cpu / theirs[r].cpu);
    secondsRatio.push_back(ours[r].seconds / theirs[r].seconds);
    peakRatio.push_back(ours[r].peakMb / theirs[r].peakMb);
  }
  std::printf("%s, %zu rounds, this decoder against the other:\n", format.name, ours.size());
  std::printf("  decoder CPU  %s against %s, ratio %s\n", rangeOf(cpu[0], 2, " s").c_str(),
              rangeOf(cpu[1], 2, " s").c_str(), rangeOf(cpuRatio, 3, "").c_str());
  std::printf("  whole pipe   %s against %s, ratio %s\n", rangeOf(seconds[0], 2, " s").c_str(),
              rangeOf(seconds[1], 2, " s").c_str(), rangeOf(secondsRatio, 3, "").c_str());
  std::printf("  peak RSS     %s against %s, ratio %s\n", rangeOf(peak[0], 1, " MB").c_str(),
              rangeOf(peak[1], 1, " MB").c_str(), rangeOf(peakRatio, 3, "").c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string other;
  int rounds = 0;
  bool monoOnly = false;
  int next = 1;
  for (; next < argc && argv[next][0] == '-'; ++next) {
    const std::string option = argv[next];
    if (option == "-mono") {
      monoOnly = true;
    } else if (option == "-vs" && next + 1 < argc) {
      other = argv[++next];
    } else if (option == "-rounds" && next + 1 < argc) {
      rounds = std::atoi(argv[++next]);
    } else {
      break;
    }
  }
  if (argc - next < 2 || argc - next > 3) {
    std::fprintf(stderr,
                 "usage: %s [-vs OTHER_DECODE] [-rounds N] [-mono] TONBRIX TONBRIX_DECODE "
                 "[MINUTES]\n",
                 argv[0]);
    return 2;
  }
  const char* tonbrix = argv[next];
  const std::string decoder = argv[next + 1];
  const double minutes = argc - next > 2 ? std::strtod(argv[next + 2], nullptr) : 60;
  rounds = rounds > 0 ? rounds : (other.empty() ? 1 : 3);
  std::signal(SIGPIPE, SIG_IGN);
  std::string folder = (std::filesystem::temp_directory_path() / "decode-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    return 1;
  }
  const auto file = [&folder](const char* name) { return folder + "/" + name; };
  // Two short header blocks and one of 60 KiB, the longest part the decoder must hold.
  tape_builder::TapeImage tape;
  for (int i = 0; i < 3; ++i) {
    tape_builder::Header header;
    header.fileNumber = static_cast<uint8_t>(i);
    header.name = "BENCH" + std::to_string(i);
    tape.headerBlock(
        header, tape_builder::patternBytes(i == 2 ? 60 * 1024 : 4096, static_cast<uint8_t>(i + 1)));
  }
  if (!tape.writeTo(file("tape.img"))) {
    std::filesystem::remove_all(folder);
    return 1;
  }
  const RunResult played =
      runProgram(tonbrix, {"-sr", "H", "-o", file("tape.wav"), file("tape.img")}, folder);
  const auto wavBytes = static_cast<double>(std::filesystem::file_size(file("tape.wav")));
  if (played.exitCode != 0 || wavBytes <= 44) {
    std::fprintf(stderr, "tonbrix failed: %s\n", played.err.c_str());
    std::filesystem::remove_all(folder);
    return 1;
  }
  std::printf("Loop: %.1f s of tape (3 header blocks), played by tonbrix at 44100 Hz\n",
              (wavBytes - 44) / 44100);
  const Format formats[] = {{"44.1 kHz 8-bit mono", 44100, 1, 1},
                            {"96 kHz 24-bit stereo", 96000, 3, 2}};
  int failed = 0;
  for (const Format& format : formats) {
    if (monoOnly && format.channels > 1) {
      continue;
    }
    std::vector<Figures> ours;
    std::vector<Figures> theirs;
    for (int round = 0; round < rounds; ++round) {
      // In turn, and the other first every second round, so that neither always runs
      // while the machine is busier.
      const bool otherFirst = !other.empty() && round % 2 == 1;
      if (otherFirst) {
        theirs.push_back(runOne(format, file("tape.wav"), 44100, minutes, other, folder));
      }
      ours.push_back(runOne(format, file("tape.wav"), 44100, minutes, decoder, folder));
      if (!other.empty() && !otherFirst) {
        theirs.push_back(runOne(format, file("tape.wav"), 44100, minutes, other, folder));
      }
      failed |= ours.back().ok && (other.empty() || theirs.back().ok) ? 0 : 1;
    }
    if (!other.empty()) {
      printComparison(format, ours, theirs);
    }
  }
  std::filesystem::remove_all(folder);
  return failed;
}
