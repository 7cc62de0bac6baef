// Writes seed inputs for the fuzz targets: tape images of every layout and argument vectors.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "decode_audio.h"
#include "tape_builder.h"

namespace {

using tape_builder::Bytes;
using tape_builder::Header;
using tape_builder::patternBytes;
using tape_builder::TapeImage;

bool writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::vector<std::pair<std::string, Bytes>> tapeSeeds() {
  Header basic;
  Header data{2, 'D', 0x9000, 0, "DATA", false};
  Header badHeader{3, 'C', 0x1000, 0, "BADSUM", true};
  std::vector<std::pair<std::string, Bytes>> seeds;
  seeds.emplace_back("records", TapeImage()
                                    .headerBlock(basic, patternBytes(40, 1))
                                    .headerlessBlock(patternBytes(20, 2))
                                    .headerBlock(data, patternBytes(30, 3))
                                    .bytes());
  seeds.emplace_back("bare", TapeImage()
                                 .bareHeaderBlock(basic, patternBytes(50, 4))
                                 .bareHeaderBlock(data, patternBytes(10, 5), true)
                                 .bytes());
  seeds.emplace_back(
      "bare-tail",
      TapeImage().bareHeaderBlock(basic, patternBytes(16, 6)).raw(patternBytes(24, 7)).bytes());
  seeds.emplace_back("checksum-faults", TapeImage()
                                            .headerBlock(badHeader, patternBytes(12, 8), true)
                                            .headerlessBlock(patternBytes(70, 9))
                                            .bytes());
  Header longer = basic;
  longer.length = 200;
  seeds.emplace_back("length-fault-records",
                     TapeImage().headerBlock(longer, patternBytes(20, 10), false, true).bytes());
  seeds.emplace_back(
      "length-fault-bare",
      TapeImage().bareHeaderBlock(longer, patternBytes(20, 11), false, true).bytes());
  seeds.emplace_back("headerless-only", TapeImage()
                                            .headerlessBlock(patternBytes(66, 12))
                                            .headerlessBlock(patternBytes(3, 13))
                                            .bytes());
  seeds.emplace_back("truncated",
                     TapeImage().headerBlock(basic, patternBytes(40, 14)).truncate(5).bytes());
  seeds.emplace_back(
      "wrong-length-word",
      TapeImage().record(tape_builder::headerPart(basic), 70).raw(patternBytes(80, 15)).bytes());
  return seeds;
}

// Arguments are separated by NUL bytes.
Bytes argumentSeed(const std::vector<std::string>& arguments) {
  Bytes bytes;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) {
      bytes.push_back(0);
    }
    bytes.insert(bytes.end(), arguments[i].begin(), arguments[i].end());
  }
  return bytes;
}

std::vector<std::vector<std::string>> optionSeeds() {
  return {
      {"tape.img"},
      {"-list", "tape.img"},
      {"-blk", "3,5,8-11,1", "-o", "out.wav", "tape.img"},
      {"-mato", "-sr", "h", "-amp", "0x7F", "-gap", "010", "in"},
      {"-dbl", "-mato", "-rph", "-vb", "a", "b"},
      {"-o", "x", "-o", "y", "dir.old/tape"},
      {"-h"},
      {"-v", "-blk"},
      {"-blk", "1-2147483647", "t"},
      {"-amp", "08", "-gap", "0", "-sr", "Q", "-x"},
  };
}

// A recording under mains hum as loud as the signal, which then stops: the decoder's hum
// filter finds it, holds samples back while it takes it out, and lets them pass again.
bool writeHumSeed(const std::filesystem::path& path) {
  decode_audio::Audio audio;
  audio.sampleRate = 11025;
  for (int32_t i = 0; i < 5 * audio.sampleRate; ++i) {
    const bool signal = i >= audio.sampleRate;
    audio.samples.push_back(signal ? ((i / 5) % 2 != 0 ? 0.3 : -0.3) : 0.0);
  }
  decode_audio::Audio hummed = decode_audio::addHum(audio, 0);
  std::copy(audio.samples.begin() + 4 * audio.sampleRate, audio.samples.end(),
            hummed.samples.begin() + 4 * audio.sampleRate);
  hummed = decode_audio::fitFullScale(hummed);
  return decode_audio::writeChannels(path.string(), audio.sampleRate, 8, {hummed.samples});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_seed_corpus <folder>\n";
    return 2;
  }
  const std::filesystem::path root = argv[1];
  std::error_code error;
  std::filesystem::create_directories(root / "tape", error);
  std::filesystem::create_directories(root / "options", error);
  std::filesystem::create_directories(root / "decode_wav_fuzzer", error);
  bool ok = !error && writeHumSeed(root / "decode_wav_fuzzer" / "hum.wav");
  for (const auto& [name, bytes] : tapeSeeds()) {
    ok = ok && writeBytes(root / "tape" / (name + ".img"), bytes);
  }
  int index = 0;
  for (const auto& arguments : optionSeeds()) {
    ok = ok &&
         writeBytes(root / "options" / ("args" + std::to_string(index++)), argumentSeed(arguments));
  }
  if (!ok) {
    std::cerr << "make_seed_corpus: cannot write into " << root.string() << "\n";
    return 1;
  }
  return 0;
}
