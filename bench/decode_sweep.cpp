// How much damage each decoder survives: a test tape played by tonbrix for every protocol
// and speed at 22050 and 44100 Hz is damaged ever more (white noise, hum, fades, partial
// dropouts, noise over a worn cassette path) and decoded by each decoder given; a level
// counts when every block of the tape comes back whole for all three seeds. Prints, per
// kind of damage, the hardest level each decoder passed before its first failure, so that
// the figures of two builds stand side by side from one run.
// Usage: decode_sweep [-c COLUMNS] [-k KINDS] TONBRIX NAME=TONBRIX_DECODE [NAME=...]
// COLUMNS and KINDS pick by index (from 0), as digits ("024"); the default is all.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "decode_audio.h"
#include "run_binary.h"
#include "sweep_columns.h"
#include "tape_builder.h"

namespace {

using decode_audio::Audio;
using tape_builder::Bytes;

struct Decoder {
  std::string name;
  std::string path;
};

// One kind of damage at ever harder levels; the first level should pass everywhere.
struct Sweep {
  const char* name;
  std::vector<double> levels;
  Audio (*damage)(const Audio&, double level, uint32_t seed);
};

// The noise that rides along with fades and dropouts is the tape's own, so it changes
// level with the signal.
const Sweep kSweeps[] = {
    {"white noise: lowest SNR, dB",
     {16, 14, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
     [](const Audio& a, double level, uint32_t seed) {
       return decode_audio::addNoise(a, level, seed);
     }},
    // Loud noise clips at full scale above, which takes off its peaks; here the level is
    // set so that nothing clips, as by the meter.
    {"white noise, scaled to fit full scale: lowest SNR, dB",
     {16, 14, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
     [](const Audio& a, double level, uint32_t seed) {
       return decode_audio::fitFullScale(decode_audio::addNoise(a, level, seed));
     }},
    // Scaled to fit full scale, as a recording level set by the meter would be: clipping
    // is a fault of its own.
    {"hum 50-250 Hz: highest level over the signal, dB",
     {-20, -12, -6, -3, 0, 3, 6, 9, 12, 15, 18},
     [](const Audio& a, double level, uint32_t seed) {
       return decode_audio::fitFullScale(decode_audio::addHum(a, level, 1.3 * seed));
     }},
    {"fades down and up every 0.25 s, steady noise 20 dB below the faded level: lowest level, %",
     {50, 30, 20, 10, 5, 3, 2, 1},
     [](const Audio& a, double level, uint32_t seed) {
       const double noise = decode_audio::signalRms(a) * level / 100 * 0.1;
       return decode_audio::addNoiseOfRms(decode_audio::fadeLevel(a, level / 100, 0.25), noise,
                                          seed);
     }},
    {"3 ms dropouts every 0.25 s, noise 30 dB below: lowest level, %",
     {50, 30, 20, 10, 5, 3, 2, 1},
     [](const Audio& a, double level, uint32_t seed) {
       return decode_audio::addDropouts(decode_audio::addNoise(a, 30, seed), level / 100, 0.003,
                                        0.25, 0.05 * seed);
     }},
    {"worn path (wow 0.5 % at 1 Hz, 150 Hz AC coupling, phase, 4 kHz low-pass): lowest SNR, dB",
     {20, 16, 14, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
     [](const Audio& a, double level, uint32_t seed) {
       const Audio worn = decode_audio::lowPass(
           decode_audio::shiftPhase(
               decode_audio::highPass(decode_audio::addWow(a, 0.005, 1.0), 150), 1500),
           4000);
       return decode_audio::addNoise(worn, level, seed);
     }},
    // Hum as a recording level set for the signal alone leaves it: clipped at full scale,
    // which takes off one side of the swing near the hum's peaks.
    {"hum 50 Hz, harmonics to 250 Hz, clipped: highest level over the signal, dB",
     {-20, -12, -6, -3, 0, 3, 6, 9, 12},
     [](const Audio& a, double level, uint32_t seed) {
       return decode_audio::addHum(a, level, 1.3 * seed, 50, decode_audio::kFallingHum);
     }},
    {"hum 60 Hz, harmonics to 300 Hz, clipped: highest level over the signal, dB",
     {-20, -12, -6, -3, 0, 3, 6, 9, 12},
     [](const Audio& a, double level, uint32_t seed) {
       return decode_audio::addHum(a, level, 1.3 * seed, 60, decode_audio::kFallingHum);
     }},
    {"hum 60-300 Hz: highest level over the signal, dB",
     {-20, -12, -6, -3, 0, 3, 6, 9, 12, 15, 18},
     [](const Audio& a, double level, uint32_t seed) {
       return decode_audio::fitFullScale(
           decode_audio::addHum(a, level, 1.3 * seed, 60, decode_audio::kRectifierHum));
     }},
    // A deck whose head leans and wears: the phase smears at 800 Hz, the treble is gone
    // above 2.5 kHz, the bass below 100 Hz, and the capstan wanders.
    {"worn deck (wow 3 % at 0.7 Hz, 100 Hz AC coupling, phase at 800 Hz, 2.5 kHz low-pass):"
     " lowest SNR, dB",
     {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
     [](const Audio& a, double level, uint32_t seed) {
       const Audio worn = decode_audio::lowPass(
           decode_audio::shiftPhase(
               decode_audio::highPass(decode_audio::addWow(a, 0.03, 0.7), 100), 800),
           2500);
       return decode_audio::addNoise(worn, level, seed);
     }},
};

constexpr uint32_t kSeeds[] = {1, 2, 3};

// Two header blocks and a headerless one between them, about 900 bytes in all.
Bytes testTape() {
  tape_builder::TapeImage tape;
  tape_builder::Header first;
  first.name = "SWEEP1";
  tape.headerBlock(first, tape_builder::patternBytes(400, 11));
  tape.headerlessBlock(tape_builder::patternBytes(100, 12));
  tape_builder::Header second;
  second.fileNumber = 2;
  second.name = "SWEEP2";
  tape.headerBlock(second, tape_builder::patternBytes(300, 13));
  return tape.bytes();
}

// True when `decoder` gives back exactly `tape` from the recording at `wav`.
bool decodesWhole(const Decoder& decoder, const std::string& wav, const std::string& folder,
                  const Bytes& tape) {
  const std::string image = folder + "/out.img";
  std::filesystem::remove(image);
  const RunResult result = runProgram(decoder.path, {"-o", image, wav}, folder);
  const std::string bytes = readWholeFile(image);
  return result.exitCode == 0 && Bytes(bytes.begin(), bytes.end()) == tape;
}

std::string formatLevel(double level) {
  char text[16];
  std::snprintf(text, sizeof text, "%g", level);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::string columns = "012345";
  std::string kinds;
  for (size_t s = 0; s < std::size(kSweeps); ++s) {
    kinds += static_cast<char>('0' + s);
  }
  int first = 1;
  for (; first + 1 < argc && argv[first][0] == '-'; first += 2) {
    (std::string(argv[first]) == "-c" ? columns : kinds) = argv[first + 1];
  }
  if (argc - first < 2) {
    std::fprintf(stderr,
                 "usage: %s [-c COLUMNS] [-k KINDS] TONBRIX NAME=TONBRIX_DECODE [NAME=...]\n",
                 argv[0]);
    return 2;
  }
  const char* const tonbrix = argv[first];
  std::vector<Decoder> decoders;
  for (int i = first + 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t equals = arg.find('=');
    decoders.push_back(equals == std::string::npos
                           ? Decoder{arg, arg}
                           : Decoder{arg.substr(0, equals), arg.substr(equals + 1)});
  }
  std::string folder = (std::filesystem::temp_directory_path() / "decode-sweep-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    return 1;
  }
  const std::string tapePath = folder + "/tape.img";
  const std::string wavPath = folder + "/tape.wav";
  const std::string damagedPath = folder + "/damaged.wav";
  const Bytes tape = testTape();
  if (!tape_builder::TapeImage().raw(tape).writeTo(tapePath)) {
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  // results[sweep][column][decoder]: the hardest level passed, or "-" when none.
  std::vector<std::vector<std::vector<std::string>>> results(
      std::size(kSweeps), std::vector<std::vector<std::string>>(
                              std::size(kColumns), std::vector<std::string>(decoders.size())));
  const auto chosen = [](const std::string& digits, size_t index) {
    return digits.find(static_cast<char>('0' + index)) != std::string::npos;
  };
  for (size_t c = 0; c < std::size(kColumns); ++c) {
    if (!chosen(columns, c)) {
      continue;
    }
    std::vector<std::string> args = kColumns[c].play;
    args.insert(args.end(), {"-gap", "1", "-o", wavPath, tapePath});
    const RunResult played = runProgram(tonbrix, args, folder);
    const Audio clean = decode_audio::readTonbrixWav(wavPath);
    if (played.exitCode != 0 || clean.samples.empty()) {
      std::fprintf(stderr, "tonbrix failed: %s\n", played.err.c_str());
      std::filesystem::remove_all(folder);
      return 1;
    }
    for (size_t s = 0; s < std::size(kSweeps); ++s) {
      if (!chosen(kinds, s)) {
        continue;
      }
      std::vector<bool> alive(decoders.size(), true);
      std::vector<std::string>& passed = results[s][c];
      passed.assign(decoders.size(), "-");
      for (const double level : kSweeps[s].levels) {
        std::vector<bool> whole = alive;
        for (const uint32_t seed : kSeeds) {
          const Audio damaged = kSweeps[s].damage(clean, level, seed);
          decode_audio::writeChannels(damagedPath, damaged.sampleRate, 16, {damaged.samples});
          for (size_t d = 0; d < decoders.size(); ++d) {
            if (whole[d]) {
              whole[d] = decodesWhole(decoders[d], damagedPath, folder, tape);
            }
          }
        }
        bool any = false;
        for (size_t d = 0; d < decoders.size(); ++d) {
          if (whole[d]) {
            passed[d] = formatLevel(level);
          }
          alive[d] = whole[d];
          any = any || whole[d];
        }
        if (!any) {
          break;
        }
      }
    }
    std::fprintf(stderr, "%s done\n", kColumns[c].name);
  }
  std::filesystem::remove_all(folder);
  std::printf(
      "Every block of a %zu-byte test tape whole for seeds 1-3; hardest level passed"
      " before the first failure ('-': not even the first)\n",
      tape.size());
  int nameWidth = 10;
  for (const Decoder& decoder : decoders) {
    nameWidth = std::max(nameWidth, static_cast<int>(decoder.name.size()) + 1);
  }
  for (size_t s = 0; s < std::size(kSweeps); ++s) {
    if (!chosen(kinds, s)) {
      continue;
    }
    std::printf("\n%s\n%-*s", kSweeps[s].name, nameWidth, "");
    for (size_t c = 0; c < std::size(kColumns); ++c) {
      std::printf("%10s", chosen(columns, c) ? kColumns[c].name : "");
    }
    std::printf("\n");
    for (size_t d = 0; d < decoders.size(); ++d) {
      std::printf("%-*s", nameWidth, decoders[d].name.c_str());
      for (size_t c = 0; c < std::size(kColumns); ++c) {
        std::printf("%10s", results[s][c][d].c_str());
      }
      std::printf("\n");
    }
  }
  std::printf("\n%.0f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return 0;
}
