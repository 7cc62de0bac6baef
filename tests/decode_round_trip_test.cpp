// End-to-end tests of tonbrix-decode: tape images played by tonbrix, optionally damaged
// like a cassette would damage them, must decode to exactly the blocks that were played.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/decode_audio.h"
#include "support/json_value.h"
#include "support/run_binary.h"
#include "support/tape_builder.h"
#include "support/temp_dir.h"

namespace {

using decode_audio::Audio;
using tape_builder::Bytes;
using tape_builder::Header;
using tape_builder::TapeImage;

RunResult runDecoder(const std::vector<std::string>& args, const std::string& captureDir) {
  return runProgram(TONBRIX_DECODE_BINARY, args, captureDir);
}

// Block 1: header block whose body has runs of 0x00 and 0xFF; 2: headerless; 3: header
// block with wrong header and body checksums; 4: header block that is never selected;
// 5: headerless block of one byte.
std::vector<Bytes> tapeBlocks() {
  Bytes runs = tape_builder::patternBytes(24, 3);
  runs.insert(runs.end(), 12, 0x00);
  runs.insert(runs.end(), 12, 0xFF);
  Header first;
  first.name = "FIRST";
  Header bad;
  bad.fileNumber = 7;
  bad.fileType = 'C';
  bad.beginAddress = 0x8000;
  bad.name = "BADSUMS";
  bad.badChecksum = true;
  Header skipped;
  skipped.name = "SKIPPED";
  return {TapeImage().headerBlock(first, runs).bytes(),
          TapeImage().headerlessBlock(tape_builder::patternBytes(12, 9)).bytes(),
          TapeImage().headerBlock(bad, tape_builder::patternBytes(20, 5), true).bytes(),
          TapeImage().headerBlock(skipped, tape_builder::patternBytes(8, 4)).bytes(),
          TapeImage().headerlessBlock({0x42}).bytes()};
}

const char* const kSelection = "3,1,2,5";
const size_t kSelected[] = {2, 0, 1, 4};

// The records of the selected blocks in playing order: what the decoder must write.
Bytes selectedImage() {
  const std::vector<Bytes> blocks = tapeBlocks();
  Bytes records;
  for (const size_t index : kSelected) {
    records.insert(records.end(), blocks[index].begin(), blocks[index].end());
  }
  return records;
}

// How many of the selected blocks occur, whole, in `image`, in playing order.
int countRecovered(const Bytes& records) {
  const std::vector<Bytes> blocks = tapeBlocks();
  int found = 0;
  auto from = records.begin();
  for (const size_t index : kSelected) {
    const auto at = std::search(from, records.end(), blocks[index].begin(), blocks[index].end());
    if (at != records.end()) {
      ++found;
      from = at + static_cast<long>(blocks[index].size());
    }
  }
  return found;
}

// A damage that a cassette or a sound card does to a recording.
struct Condition {
  const char* name;
  Audio (*damage)(const Audio&);
};

class DecodeRoundTrip : public TempDirTest {
 protected:
  // Every damage of `conditions`, to every protocol at the middle rate, written as 16-bit
  // mono, must give back every selected block.
  void expectEveryBlockThrough(const Condition* conditions, size_t count);

  void SetUp() override {
    TapeImage tape;
    for (const Bytes& block : tapeBlocks()) {
      tape.raw(block);
    }
    ASSERT_TRUE(tape.writeTo(dir.file("tape.img")));
  }

  // Plays the selection into tape.wav with `options`.
  void play(const std::vector<std::string>& options) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-gap", "1", "-blk", kSelection, "-o", dir.file("tape.wav"),
                             dir.file("tape.img")});
    const RunResult played = runTonbrix(args, dir.path().string());
    ASSERT_EQ(played.exitCode, 0) << played.err;
  }

  // Decodes `wav` and returns the number of selected blocks recovered.
  int decode(const std::string& wav, const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-o", dir.file("out.img"), wav});
    std::filesystem::remove(dir.file("out.img"));
    decoded = runDecoder(args, dir.path().string());
    const std::string bytes = readWholeFile(dir.file("out.img"));
    image.assign(bytes.begin(), bytes.end());
    return countRecovered(image);
  }

  RunResult decoded;
  Bytes image;
};

struct Playing {
  std::vector<std::string> options;
  const char* protocolColumn;  // how the listing names it
};

const Playing kPlayings[] = {
    {{"-sr", "L"}, "PMD 85"},
    {{"-sr", "M"}, "PMD 85"},
    {{"-sr", "H"}, "PMD 85"},
    {{"-dbl", "-sr", "L"}, "PMD 85 (Double Speed)"},
    {{"-dbl", "-sr", "M"}, "PMD 85 (Double Speed)"},
    {{"-dbl", "-sr", "H"}, "PMD 85 (Double Speed)"},
    {{"-rph", "-sr", "L"}, "PMD 85, Reversal Phase"},
    {{"-rph", "-sr", "M"}, "PMD 85, Reversal Phase"},
    {{"-rph", "-sr", "H"}, "PMD 85, Reversal Phase"},
    {{"-rph", "-dbl", "-sr", "L"}, "PMD 85 (Double Speed), Reversal Phase"},
    {{"-rph", "-dbl", "-sr", "M"}, "PMD 85 (Double Speed), Reversal Phase"},
    {{"-rph", "-dbl", "-sr", "H"}, "PMD 85 (Double Speed), Reversal Phase"},
    {{"-mato", "-sr", "L"}, "Mato"},
    {{"-mato", "-sr", "M"}, "Mato"},
    {{"-mato", "-sr", "H"}, "Mato"},
    {{"-mato", "-rph", "-sr", "L"}, "Mato, Reversal Phase"},
    {{"-mato", "-rph", "-sr", "M"}, "Mato, Reversal Phase"},
    {{"-mato", "-rph", "-sr", "H"}, "Mato, Reversal Phase"},
};

TEST_F(DecodeRoundTrip, EveryProtocolSpeedRateAndPhaseGivesBackTheSelectedBlocks) {
  for (const Playing& playing : kPlayings) {
    SCOPED_TRACE(::testing::PrintToString(playing.options));
    play(playing.options);
    EXPECT_EQ(decode(dir.file("tape.wav")), 4);
    // Block 3 was recorded with bad checksums: a transfer with faults is not clean.
    EXPECT_EQ(decoded.exitCode, 23) << decoded.err << decoded.out;
    EXPECT_EQ(image, selectedImage());
    EXPECT_NE(decoded.out.find(playing.protocolColumn), std::string::npos) << decoded.out;
  }
}

TEST_F(DecodeRoundTrip, ListingShowsHeaderFieldsAndKeepsBlocksWithBadChecksums) {
  play({"-sr", "L"});
  decode(dir.file("tape.wav"));
  const std::string expected =
      " Blocks: 4\n\n"
      " BLK NR/T Name\t\t    Begin\t   Length\t   Time  Protocol\n"
      "  1: 07/C BADSUMS \t32768 (8000h)\t   19 (0013h)\t   1.1s  PMD 85\tHCE BCE \n"
      "  2: 01/B FIRST   \t  512 (0200h)\t   47 (002Fh)\t";
  EXPECT_NE(decoded.out.find(expected), std::string::npos) << decoded.out;
  EXPECT_NE(decoded.out.find("  3: ...\t\t\t\t   12 (000Ch)"), std::string::npos);
  EXPECT_NE(decoded.out.find("   HCE = Head CRC error\n   BCE = Body CRC error\n"),
            std::string::npos);
}

// The decoders must hold for a forced protocol and phase as for detected ones, and must
// refuse a recording in the other protocol or phase.
TEST_F(DecodeRoundTrip, ForcedProtocolAndPhaseDecodeTheirOwnAndNothingElse) {
  struct Case {
    std::vector<std::string> play;
    std::vector<std::string> force;
    int recovered;
  };
  const Case cases[] = {
      {{"-sr", "L"}, {"-pmd", "-nph"}, 4},           {{"-rph", "-sr", "L"}, {"-rph"}, 4},
      {{"-mato", "-sr", "L"}, {"-mato"}, 4},         {{"-sr", "L"}, {"-rph"}, 0},
      {{"-mato", "-sr", "L"}, {"-mato", "-rph"}, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(test.force));
    play(test.play);
    EXPECT_EQ(decode(dir.file("tape.wav"), test.force), test.recovered);
    EXPECT_EQ(decoded.exitCode, test.recovered > 0 ? 23 : 22) << decoded.err;
  }
}

const Condition kConditions[] = {
    {"resampled to 44100 Hz", [](const Audio& a) { return decode_audio::resample(a, 44100); }},
    {"resampled to 16000 Hz", [](const Audio& a) { return decode_audio::resample(a, 16000); }},
    {"resampled to 11025 Hz", [](const Audio& a) { return decode_audio::resample(a, 11025); }},
    {"speed +5 %", [](const Audio& a) { return decode_audio::resample(a, a.sampleRate, 1.05); }},
    {"speed -5 %", [](const Audio& a) { return decode_audio::resample(a, a.sampleRate, 0.95); }},
    {"speed +10 %", [](const Audio& a) { return decode_audio::resample(a, a.sampleRate, 1.10); }},
    {"speed -10 %", [](const Audio& a) { return decode_audio::resample(a, a.sampleRate, 0.90); }},
    {"noise at 20 dB SNR", [](const Audio& a) { return decode_audio::addNoise(a, 20, 1234); }},
    {"noise at 20 dB SNR, other seed",
     [](const Audio& a) { return decode_audio::addNoise(a, 20, 102); }},
    {"DC offset +25 %", [](const Audio& a) { return decode_audio::addOffset(a, 0.25); }},
    {"DC offset -25 %, inverted",
     [](const Audio& a) { return decode_audio::addOffset(decode_audio::scale(a, -1), -0.25); }},
    {"level 3 % of full scale", [](const Audio& a) { return decode_audio::scale(a, 0.045); }},
    {"low-pass 4 kHz", [](const Audio& a) { return decode_audio::lowPass(a, 4000); }},
    {"cassette: -7 % speed, 44100 Hz, low-pass, DC, 20 dB noise",
     [](const Audio& a) {
       const Audio slow = decode_audio::resample(a, 44100, 0.93);
       return decode_audio::addNoise(
           decode_audio::addOffset(decode_audio::lowPass(slow, 4000), 0.1), 20, 99);
     }},
};

void DecodeRoundTrip::expectEveryBlockThrough(const Condition* conditions, size_t count) {
  const std::vector<std::string> protocols[] = {{}, {"-dbl"}, {"-mato"}};
  for (const std::vector<std::string>& protocol : protocols) {
    play(protocol);
    const Audio clean = decode_audio::readTonbrixWav(dir.file("tape.wav"));
    for (size_t i = 0; i < count; ++i) {
      const Condition& condition = conditions[i];
      SCOPED_TRACE(::testing::PrintToString(protocol) + " " + condition.name);
      const Audio damaged = condition.damage(clean);
      ASSERT_TRUE(decode_audio::writeChannels(dir.file("damaged.wav"), damaged.sampleRate, 16,
                                              {damaged.samples}));
      EXPECT_EQ(decode(dir.file("damaged.wav")), 4) << decoded.out << decoded.err;
      EXPECT_EQ(image, selectedImage());
    }
  }
}

TEST_F(DecodeRoundTrip, DamagedRecordingsStillGiveBackEveryBlock) {
  expectEveryBlockThrough(kConditions, std::size(kConditions));
}

// Damage near what the signal allows, where a detector deciding from single samples with
// a slowly following threshold lost blocks.
const Condition kEdgeConditions[] = {
    {"noise at 10 dB SNR", [](const Audio& a) { return decode_audio::addNoise(a, 10, 7); }},
    // Jitter that breaks a leader compared interval by interval, and moves single
    // crossings of PMD 85 cells at double speed past the half-way mark.
    {"noise at 7 dB SNR", [](const Audio& a) { return decode_audio::addNoise(a, 7, 11); }},
    // Stray pulses and lost short levels inside cells: PMD 85 at double speed with the
    // first seed, Mato with the second.
    {"noise at 6 dB SNR", [](const Audio& a) { return decode_audio::addNoise(a, 6, 1); }},
    {"noise at 6 dB SNR, other seed",
     [](const Audio& a) { return decode_audio::addNoise(a, 6, 11); }},
    {"3 ms dropouts to 10 % every 0.25 s, noise 30 dB below",
     [](const Audio& a) {
       return decode_audio::addDropouts(decode_audio::addNoise(a, 30, 8), 0.1, 0.003, 0.25, 0.1);
     }},
    {"mains hum as loud as the signal",
     [](const Audio& a) { return decode_audio::fitFullScale(decode_audio::addHum(a, 0, 0.4)); }},
    // Left at the level set for the signal alone, the hum's peaks clip one side of it.
    {"hum at 50 Hz with harmonics as loud as the signal, clipped",
     [](const Audio& a) { return decode_audio::addHum(a, 0, 0.9, 50, decode_audio::kFallingHum); }},
    {"hum at 60 Hz with harmonics as loud as the signal, clipped, at 44100 Hz",
     [](const Audio& a) {
       return decode_audio::addHum(decode_audio::resample(a, 44100), 0, 0.9, 60,
                                   decode_audio::kFallingHum);
     }},
    {"fades to 5 % every 0.25 s, noise 20 dB below the faded level",
     [](const Audio& a) {
       return decode_audio::addNoiseOfRms(decode_audio::fadeLevel(a, 0.05, 0.25),
                                          decode_audio::signalRms(a) * 0.005, 9);
     }},
};

TEST_F(DecodeRoundTrip, RecordingsNearTheEdgeOfTheSignalStillGiveBackEveryBlock) {
  expectEveryBlockThrough(kEdgeConditions, std::size(kEdgeConditions));
}

// A 64 kHz tone (the PMD 85's idle clock) sampled at 22050 Hz without an anti-alias filter
// folds to 2150 Hz, a run like a double-speed leader, up to where the real leader begins:
// it must not swallow the header block after it, and alone it is no block.
TEST_F(DecodeRoundTrip, AliasedIdleToneBeforeAHeaderBlockIsNoBlock) {
  ASSERT_EQ(runTonbrix({"-blk", "1", "-o", dir.file("tape.wav"), dir.file("tape.img")},
                       dir.path().string())
                .exitCode,
            0);
  Audio clean = decode_audio::readTonbrixWav(dir.file("tape.wav"));
  const auto leader = std::find_if(clean.samples.begin(), clean.samples.end(),
                                   [](double x) { return std::fabs(x) > 0.02; });
  clean.samples.erase(clean.samples.begin(), leader);
  for (const double level : {0.1, 0.3, -0.3}) {  // below 0: a sine, else a square
    SCOPED_TRACE(level);
    std::vector<double> tone(3 * 22050);
    for (size_t i = 0; i < tone.size(); ++i) {
      const double x = std::sin(2 * M_PI * 64000 * static_cast<double>(i) / 22050 + 1);
      tone[i] = level < 0 ? -level * x : x < 0 ? -level : level;
    }
    std::vector<double> samples = tone;
    samples.insert(samples.end(), clean.samples.begin(), clean.samples.end());
    tone.resize(4 * 22050, 0.0);
    for (const std::vector<double>& recording : {samples, tone}) {
      ASSERT_TRUE(decode_audio::writeChannels(dir.file("idle.wav"), 22050, 16, {recording}));
      decode(dir.file("idle.wav"));
      EXPECT_EQ(decoded.exitCode, recording == tone ? 22 : 0) << decoded.out;
      EXPECT_EQ(image, recording == tone ? Bytes() : tapeBlocks()[0]) << decoded.out;
    }
  }
}

// A worn deck: the phase smears at 800 Hz, nothing passes above 2.5 kHz or below 100 Hz,
// the capstan wanders and hiss lies 12 dB below. Its phase smear moves a Mato pilot's duty
// cycle near a PMD 85 leader's and the middles of PMD 85 cells at double speed by the
// cells before them.
TEST_F(DecodeRoundTrip, AWornDeckGivesBackEveryBlockAtDoubleSpeedAndMato) {
  const struct {
    std::vector<std::string> playing;
    double snr;
    uint32_t seed;
  } cases[] = {{{"-dbl", "-sr", "M"}, 12, 2},
               {{"-dbl", "-sr", "H"}, 12, 2},
               {{"-mato", "-sr", "M"}, 12, 2},
               {{"-mato", "-sr", "H"}, 12, 2}};
  for (const auto& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(test.playing) + " " + std::to_string(test.snr));
    play(test.playing);
    const Audio worn = decode_audio::lowPass(
        decode_audio::shiftPhase(
            decode_audio::highPass(
                decode_audio::addWow(decode_audio::readTonbrixWav(dir.file("tape.wav")), 0.03,
                                     0.7),
                100),
            800),
        2500);
    const Audio damaged = decode_audio::addNoise(worn, test.snr, test.seed);
    ASSERT_TRUE(decode_audio::writeChannels(dir.file("damaged.wav"), damaged.sampleRate, 16,
                                            {damaged.samples}));
    EXPECT_EQ(decode(dir.file("damaged.wav")), 4) << decoded.out << decoded.err;
    EXPECT_EQ(image, selectedImage());
  }
}

TEST_F(DecodeRoundTrip, AmplitudeOfOneStepDecodes) {
  for (const char* protocol : {"-dbl", "-mato"}) {
    SCOPED_TRACE(protocol);
    play({protocol, "-amp", "1", "-sr", "L"});
    EXPECT_EQ(decode(dir.file("tape.wav")), 4) << decoded.out;
  }
}

// A stereo file whose other channel holds only noise: the automatic choice finds the
// signal on either side, and a forced choice of the noise finds nothing.
TEST_F(DecodeRoundTrip, StereoPicksTheChannelThatHoldsTheTape) {
  play({"-mato"});
  const Audio clean = decode_audio::readTonbrixWav(dir.file("tape.wav"));
  std::vector<double> hiss(clean.samples.size());
  std::mt19937 random(7);
  std::normal_distribution<double> gauss(0.0, 0.05);
  for (double& x : hiss) {
    x = gauss(random);
  }
  const std::string wav = dir.file("stereo.wav");
  ASSERT_TRUE(decode_audio::writeChannels(wav, clean.sampleRate, 16, {hiss, clean.samples}));
  EXPECT_EQ(decode(wav), 4);
  EXPECT_NE(decoded.out.find(" Channel: right (better of two)\n"), std::string::npos);
  ASSERT_TRUE(decode_audio::writeChannels(wav, clean.sampleRate, 16, {clean.samples, hiss}));
  EXPECT_EQ(decode(wav), 4);
  EXPECT_NE(decoded.out.find(" Channel: left (better of two)\n"), std::string::npos);
  EXPECT_EQ(decode(wav, {"-ch", "R"}), 0);
  EXPECT_EQ(decoded.exitCode, 22);
}

}  // namespace

namespace {

class DecodeCli : public DecodeRoundTrip {};

TEST_F(DecodeCli, ExitCodesAndMessages) {
  ASSERT_TRUE(decode_audio::writeFile(dir.file("text.wav"), {'h', 'e', 'l', 'l', 'o'}));
  decode_audio::WavLayout fast;
  fast.sampleRate = 500000;
  ASSERT_TRUE(decode_audio::writeFile(dir.file("fast.wav"), wavBytes(fast, Bytes(30))));
  ASSERT_TRUE(decode_audio::writeChannels(dir.file("quiet.wav"), 8000, 8,
                                          {std::vector<double>(8000, 0.0)}));
  const std::string text = dir.file("text.wav");
  const std::string fastPath = dir.file("fast.wav");
  const std::string quiet = dir.file("quiet.wav");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string err;
  };
  const Case cases[] = {
      {{"-x", text}, 4, "Unknown option '-x'!\n\n"},
      {{"-pmd", "-mato", text}, 5, "Bad combination of options!\n\n"},
      {{"-nph", "-rph", text}, 5, "Bad combination of options!\n\n"},
      {{text, "-ch"}, 6, "Missing option value(s) '-ch'!\n\n"},
      {{"-list"}, 7, "Input file not specified!\n\n"},
      {{"-ch", "X", text}, 17, "Bad value 'X' in option `-ch` !\n\n"},
      {{dir.file("none.wav")},
       10,
       "Can't open input file '" + dir.file("none.wav") + "': No such file or directory!\n\n"},
      {{dir.path().string()},
       10,
       "Can't open input file '" + dir.path().string() + "': Is a directory!\n\n"},
      {{"-o", text, text},
       14,
       "Can't open output file '" + text + "': it is a recording to be read!\n\n"},
      {{"-o", dir.file("no/such/folder.img"), quiet},
       14,
       "Can't open output file '" + dir.file("no/such/folder.img") +
           "': No such file or directory!\n\n"},
      {{"-report", quiet, "-list", quiet},
       14,
       "Can't open output file '" + quiet + "': it is a recording to be read!\n\n"},
      {{"-o", "x.img", "-report", "x.img", quiet},
       14,
       "Can't open output file 'x.img': it is the tape image!\n\n"},
      // Standard output carries data here, so the banner goes to standard error too.
      {{"-o", "-", "-report", "-", quiet},
       5,
       "Tonbrix-decode 1.0.0 - WAV to PMD 85 and Mato tape image converter\n\n"
       "Bad combination of options: the image and the report cannot both go to standard "
       "output!\n\n"},
      {{"-", quiet, "-"}, 8, "Standard input can be read only once: '-' is given twice!\n\n"},
      {{"-ch", "2", quiet},
       17,
       "Bad value '2' in option `-ch`: '" + quiet + "' has 1 channel!\n\n"},
      {{"-ch", "0", text}, 17, "Bad value '0' in option `-ch` !\n\n"},
      {{text}, 20, "Bad audio file '" + text + "': Format not recognised!\n\n"},
      {{fastPath},
       21,
       "Unsupported audio file '" + fastPath +
           "': sample rate 500000 Hz (8000 to 384000 expected)!\n\n"},
      {{quiet}, 22, "No tape blocks found in '" + quiet + "'!\n\n"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(test.args));
    const RunResult result = runDecoder(test.args, dir.path().string());
    EXPECT_EQ(result.exitCode, test.exitCode);
    EXPECT_EQ(result.err, test.err);
  }
}

TEST_F(DecodeCli, UsageWithoutArgumentsOrWithH) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"-h"}, {"--help"}, {"-q", "--help"}}) {
    const RunResult result = runDecoder(args, dir.path().string());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(
        result.out.rfind("Tonbrix-decode 1.0.0 - WAV to PMD 85 and Mato tape image converter\n\n"
                         "Usage: tonbrix-decode [options] infile.wav [infile2.wav ...]\n",
                         0),
        0u)
        << result.out;
  }
}

// Without -o the image is named after the recording; -list writes none.
TEST_F(DecodeCli, OutputNameAndListOnly) {
  play({"-sr", "L"});
  std::filesystem::rename(dir.file("tape.wav"), dir.file("rec.WAV"));
  RunResult result = runDecoder({"-list", dir.file("rec.WAV")}, dir.path().string());
  EXPECT_EQ(result.exitCode, 23);
  EXPECT_FALSE(std::filesystem::exists(dir.file("rec.img")));
  result = runDecoder({dir.file("rec.WAV")}, dir.path().string());
  EXPECT_EQ(result.exitCode, 23);
  EXPECT_NE(result.out.find("Writing tape image: " + dir.file("rec.img") + "\n"),
            std::string::npos);
  EXPECT_EQ(result.err, "Damaged tape blocks found in '" + dir.file("rec.WAV") + "'!\n\n");
  const std::string written = readWholeFile(dir.file("rec.img"));
  EXPECT_EQ(countRecovered(Bytes(written.begin(), written.end())), 4);
}

}  // namespace

namespace {

// Writes `channels` (equal lengths, full scale) through libsndfile in `format`.
bool writeSoundFile(const std::string& path, int format, int32_t sampleRate,
                    const std::vector<std::vector<double>>& channels) {
  SF_INFO info = {};
  info.samplerate = sampleRate;
  info.channels = static_cast<int>(channels.size());
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    return false;
  }
  std::vector<double> frames;
  for (size_t i = 0; i < channels[0].size(); ++i) {
    for (const std::vector<double>& channel : channels) {
      frames.push_back(channel[i] * 0.9);
    }
  }
  const auto count = static_cast<sf_count_t>(channels[0].size());
  const bool written = sf_writef_double(file, frames.data(), count) == count;
  return sf_close(file) == 0 && written;
}

class DecodeInputs : public DecodeRoundTrip {};

// The recorders' formats, rates and channel layouts, each decoded back to the selection.
TEST_F(DecodeInputs, EveryFormatRateAndChannelLayoutGivesBackTheSelectedBlocks) {
  play({});
  const Audio clean = decode_audio::readTonbrixWav(dir.file("tape.wav"));
  const std::vector<double> silence(clean.samples.size(), 0.0);
  const Audio slow = decode_audio::resample(clean, 8000);
  const Audio fast = decode_audio::resample(clean, 192000);
  struct Case {
    const char* name;
    const char* file;
    int format;
    const Audio* audio;
    int32_t channels;  // the signal goes to the last one
    std::vector<std::string> options;
  };
  const int wav = SF_FORMAT_WAV;
  const Case cases[] = {
      {"24-bit", "a.wav", wav | SF_FORMAT_PCM_24, &clean, 1, {}},
      {"32-bit integer", "b.wav", wav | SF_FORMAT_PCM_32, &clean, 1, {}},
      {"32-bit float", "c.wav", wav | SF_FORMAT_FLOAT, &clean, 1, {}},
      {"extensible 24-bit stereo", "d.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, &clean, 2, {}},
      {"FLAC", "e.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, &clean, 1, {}},
      {"4 channels, signal on 3, auto", "f.wav", wav | SF_FORMAT_PCM_16, &clean, 3, {}},
      {"4 channels, signal on 3, -ch 3", "g.wav", wav | SF_FORMAT_PCM_16, &clean, 3, {"-ch", "3"}},
      {"8 kHz", "h.wav", wav | SF_FORMAT_PCM_16, &slow, 1, {}},
      {"192 kHz", "i.wav", wav | SF_FORMAT_PCM_24, &fast, 1, {}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::vector<std::vector<double>> channels(static_cast<size_t>(test.channels),
                                              std::vector<double>(test.audio->samples.size()));
    channels.back() = test.audio->samples;
    if (test.channels == 3) {
      channels.push_back(silence);  // a fourth, silent channel after the signal
      channels.back().resize(test.audio->samples.size());
    }
    ASSERT_TRUE(writeSoundFile(dir.file(test.file), test.format, test.audio->sampleRate, channels));
    EXPECT_EQ(decode(dir.file(test.file), test.options), 4) << decoded.out << decoded.err;
    EXPECT_EQ(image, selectedImage());
    EXPECT_EQ(decoded.exitCode, 23) << decoded.err << decoded.out;  // block 3 has bad checksums
  }
}

// Standard input as a live recording: every row comes as its block ends, before the count.
TEST_F(DecodeInputs, StandardInputFromAPipeDecodesAndListsAsItGoes) {
  play({"-mato"});
  const std::string command = "cat '" + dir.file("tape.wav") + "' | '" + TONBRIX_DECODE_BINARY +
                              "' -o '" + dir.file("out.img") + "' -";
  decoded = runProgram("/bin/sh", {"-c", command}, dir.path().string());
  const std::string bytes = readWholeFile(dir.file("out.img"));
  EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), selectedImage());
  EXPECT_EQ(decoded.exitCode, 23) << decoded.err << decoded.out;
  const size_t row = decoded.out.find("  4: ...");
  EXPECT_NE(row, std::string::npos) << decoded.out;
  EXPECT_LT(row, decoded.out.find(" Blocks: 4\n"));
  EXPECT_NE(decoded.out.find("Reading audio file: -\n"), std::string::npos);
}

// FLAC must seek while it opens, which a pipe cannot; the message says what to do.
TEST_F(DecodeInputs, FlacOnAPipeIsRefusedWithAHint) {
  play({});
  const Audio clean = decode_audio::readTonbrixWav(dir.file("tape.wav"));
  ASSERT_TRUE(writeSoundFile(dir.file("t.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                             clean.sampleRate, {clean.samples}));
  const std::string command =
      "cat '" + dir.file("t.flac") + "' | '" + TONBRIX_DECODE_BINARY + "' -list -";
  decoded = runProgram("/bin/sh", {"-c", command}, dir.path().string());
  EXPECT_EQ(decoded.exitCode, 21);
  EXPECT_EQ(decoded.err,
            "Unsupported audio file 'standard input': FLAC can't be read from a pipe (give its "
            "file name, or pipe it as WAV: flac -dc side.flac | tonbrix-decode -)!\n\n");
}

// Faults that once lost bytes without a word, and what the exit code says about them.
TEST_F(DecodeInputs, HeaderlessBlocksThatLookLikeAHeaderAreKeptWhole) {
  const Bytes tail = tape_builder::patternBytes(3000, 7);
  Bytes nearPattern = tape_builder::syncPattern();
  nearPattern[20] = 0x01;  // one byte off the pattern
  nearPattern.insert(nearPattern.end(), tail.begin(), tail.end());
  Bytes shiftedPattern = {0x33};  // the pattern one stray byte late
  const Bytes sync = tape_builder::syncPattern();
  shiftedPattern.insert(shiftedPattern.end(), sync.begin(), sync.end());
  shiftedPattern.insert(shiftedPattern.end(), tail.begin(), tail.end());
  struct Case {
    const char* name;
    TapeImage tape;
    std::vector<std::string> play;
    int exitCode;
    std::string row;  // must be in the listing
    Bytes whole;      // must be in the image, unchanged
  };
  const Case cases[] = {
      {"headerless block that begins like a sync pattern",
       TapeImage().headerlessBlock(nearPattern),
       {},
       0,
       "  1: ...\t\t\t\t 3048 (0BE8h)",
       TapeImage().headerlessBlock(nearPattern).bytes()},
      {"sync pattern one byte late",
       TapeImage().headerlessBlock(shiftedPattern),
       {},
       0,
       "  1: ...\t\t\t\t 3049 (0BE9h)",
       TapeImage().headerlessBlock(shiftedPattern).bytes()},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ASSERT_TRUE(test.tape.writeTo(dir.file("odd.img")));
    std::vector<std::string> args = test.play;
    args.insert(args.end(), {"-gap", "1", "-o", dir.file("odd.wav"), dir.file("odd.img")});
    ASSERT_EQ(runTonbrix(args, dir.path().string()).exitCode, 0);
    decode(dir.file("odd.wav"));
    EXPECT_EQ(decoded.exitCode, test.exitCode) << decoded.out << decoded.err;
    EXPECT_NE(decoded.out.find(test.row), std::string::npos) << decoded.out;
    EXPECT_NE(std::search(image.begin(), image.end(), test.whole.begin(), test.whole.end()),
              image.end());
  }
}

// A copy cut short: the blocks before the cut are kept, the cut one is marked, and the
// message says why.
TEST_F(DecodeInputs, TruncatedRecordingDecodesWhatItHoldsAndSaysSo) {
  play({});
  const std::string wav = readWholeFile(dir.file("tape.wav"));
  ASSERT_TRUE(
      decode_audio::writeFile(dir.file("cut.wav"), Bytes(wav.begin(), wav.end() - 22050 * 3)));
  EXPECT_EQ(decode(dir.file("cut.wav")), 1);
  EXPECT_EQ(decoded.exitCode, 23);
  EXPECT_NE(decoded.out.find(
                "  2: 01/B FIRST   \t  512 (0200h)\t   47 (002Fh)\t   6.4s  PMD 85\t  BLE\n"),
            std::string::npos)
      << decoded.out;
  EXPECT_EQ(decoded.err.rfind("Recording '" + dir.file("cut.wav") + "' ended early at 0:", 0), 0u)
      << decoded.err;
}

// The image appears whole or not at all: a failed decode leaves an earlier one in place
// and no temporary file beside it.
TEST_F(DecodeInputs, FailedDecodeLeavesTheExistingOutputUntouched) {
  ASSERT_TRUE(decode_audio::writeChannels(dir.file("quiet.wav"), 8000, 8,
                                          {std::vector<double>(8000, 0.0)}));
  ASSERT_TRUE(decode_audio::writeFile(dir.file("text.wav"), {'h', 'i'}));
  for (const char* input : {"quiet.wav", "text.wav"}) {
    SCOPED_TRACE(input);
    ASSERT_TRUE(decode_audio::writeFile(dir.file("old.img"), {'o', 'l', 'd'}));
    const RunResult result =
        runDecoder({"-o", dir.file("old.img"), dir.file(input)}, dir.path().string());
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(readWholeFile(dir.file("old.img")), "old");
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      files += entry.path().filename().string().rfind("old.img", 0) == 0 ? 1u : 0u;
    }
    EXPECT_EQ(files, 1u);
  }
}

}  // namespace

namespace {

using json_value::Value;

// Takes of one tape: each cut to [start, end) seconds, with dropouts silenced.
struct Take {
  std::vector<std::pair<double, double>> dropouts;  // start and length, seconds
  double start = 0;
  double end = 1e9;
};

// A tape of three blocks played at 11025 Hz, where PMD 85 sends about 100 bytes a second:
// LOADER's body lies at 5.3..8.3 s, GAME's at 14.1..34.1 s, a headerless block follows.
class DecodeTakes : public TempDirTest {
 protected:
  void SetUp() override {
    tape_builder::Header loader;
    loader.name = "LOADER";
    tape_builder::Header game;
    game.fileNumber = 2;
    game.fileType = 'M';
    game.beginAddress = 0x8000;
    game.name = "GAME";
    TapeImage tape;
    tape.headerBlock(loader, tape_builder::patternBytes(300, 11))
        .headerBlock(game, tape_builder::patternBytes(2000, 12))
        .headerlessBlock(tape_builder::patternBytes(100, 13));
    original = tape.bytes();
    ASSERT_TRUE(tape.writeTo(dir.file("tape.img")));
    const RunResult played =
        runTonbrix({"-sr", "L", "-gap", "1", "-o", dir.file("tape.wav"), dir.file("tape.img")},
                   dir.path().string());
    ASSERT_EQ(played.exitCode, 0) << played.err;
    clean = decode_audio::readTonbrixWav(dir.file("tape.wav"));
  }

  std::string record(const std::string& name, const Take& take) {
    Audio audio = clean;
    const auto at = [&](double seconds) {
      return static_cast<size_t>(
          std::min(seconds * audio.sampleRate, static_cast<double>(audio.samples.size())));
    };
    for (const auto& [from, length] : take.dropouts) {
      std::fill(audio.samples.begin() + static_cast<long>(at(from)),
                audio.samples.begin() + static_cast<long>(at(from + length)), 0.0);
    }
    const std::vector<double> kept(audio.samples.begin() + static_cast<long>(at(take.start)),
                                   audio.samples.begin() + static_cast<long>(at(take.end)));
    EXPECT_TRUE(decode_audio::writeChannels(dir.file(name), audio.sampleRate, 8, {kept}));
    return dir.file(name);
  }

  RunResult decodeTakes(std::vector<std::string> args) {
    return runProgram(TONBRIX_DECODE_BINARY, args, dir.path().string());
  }

  Audio clean;
  Bytes original;
};

const std::pair<double, double> kLoaderDropout = {6.5, 0.5};
const std::pair<double, double> kGameDropout = {20, 1};

TEST_F(DecodeTakes, TakesThatEachLackABlockGiveBackTheTape) {
  struct Case {
    const char* name;
    std::vector<Take> takes;
    std::string gameRow;  // GAME's columns from the takes on
  };
  const Case cases[] = {
      {"a dropout in one take", {{{kGameDropout}}, {}}, " 2        9.9s"},
      {"one take starts late, the other stops early", {{{}, 9.0}, {{}, 0, 30.0}}, " 1        0.9s"},
      {"three takes, each with a block lost",
       {{{kLoaderDropout}}, {{kGameDropout}}, {{}, 0, 30.0}},
       " 1        9.9s"},
      {"three takes with dropouts of 50 to 300 ms, two of them at other bytes of one block",
       {{{{6.0, 0.05}, {18.0, 0.3}}}, {{{25.0, 0.2}}}, {{{7.0, 0.1}, {30.0, 0.15}}}},
       " 1+2+3    9.9s"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::vector<std::string> args = {"-o", dir.file("out.img")};
    for (size_t t = 0; t < test.takes.size(); ++t) {
      args.push_back(record("take" + std::to_string(t + 1) + ".wav", test.takes[t]));
      // Alone, each take that lost something is damaged.
      const RunResult alone = decodeTakes({"-list", args.back()});
      EXPECT_EQ(alone.exitCode, test.takes[t].dropouts.empty() && test.takes[t].end > 40 ? 0 : 23);
    }
    std::filesystem::remove(dir.file("out.img"));
    const RunResult merged = decodeTakes(args);
    EXPECT_EQ(merged.exitCode, 0) << merged.out << merged.err;
    const std::string image = readWholeFile(dir.file("out.img"));
    EXPECT_EQ(Bytes(image.begin(), image.end()), original);
    EXPECT_NE(merged.out.find(" Takes: " + std::to_string(test.takes.size()) + "\n Blocks: 3\n"),
              std::string::npos)
        << merged.out;
    EXPECT_NE(merged.out.find("GAME    \t32768 (8000h)\t 1999 (07CFh)\t" + test.gameRow),
              std::string::npos)
        << merged.out;
  }
}

// A FLAC file whose frames are damaged stops being read there: whatever came after is
// lost, so the decode is not whole, though every block before the damage is, and the note
// says where and why.
TEST_F(DecodeTakes, DamagedFlacEndsTheDecodeDamagedWithTheReason) {
  const std::string flac = dir.file("t.flac");
  ASSERT_TRUE(writeSoundFile(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, clean.sampleRate,
                             {clean.samples}));
  std::string bytes = readWholeFile(flac);
  // In the closing second of silence, after the last block.
  for (size_t i = bytes.size() - 400; i < bytes.size() - 100; ++i) {
    bytes[i] = static_cast<char>(i * 7);
  }
  ASSERT_TRUE(decode_audio::writeFile(flac, Bytes(bytes.begin(), bytes.end())));
  const RunResult result = decodeTakes({"-o", dir.file("out.img"), flac});
  EXPECT_EQ(result.exitCode, 23) << result.err << result.out;
  EXPECT_EQ(result.err.rfind("Recording '" + flac + "' ended early at 0:", 0), 0u) << result.err;
  EXPECT_NE(result.err.find(" ("), std::string::npos) << result.err;
}

// Two takes that lost the same second of GAME: the listing says how much is lost and
// where, and the report holds every block, every copy and the lost bytes.
TEST_F(DecodeTakes, SameDropoutInTwoTakesIsLocatedInTheListingAndTheReport) {
  const std::string first = record("a.wav", {{kGameDropout}});
  const std::string second = record("b.wav", {{kGameDropout}, 2.0});
  const RunResult result =
      decodeTakes({"-report", dir.file("r.json"), "-o", dir.file("out.img"), first, second});
  EXPECT_EQ(result.exitCode, 23);
  EXPECT_EQ(result.err, "Damaged tape blocks found in '" + first + "', '" + second + "'!\n\n");
  EXPECT_NE(result.out.find(" BCE \n      101 unknown bytes, the first at 0:20.000 in take 1\n"),
            std::string::npos)
      << result.out;
  Value report;
  ASSERT_TRUE(json_value::Reader(readWholeFile(dir.file("r.json"))).read(report));
  EXPECT_EQ(report["image"].text, dir.file("out.img"));
  EXPECT_EQ(report["damagedBlocks"].number, 1);
  ASSERT_EQ(report["takes"].items.size(), 2u);
  EXPECT_EQ(report["takes"].items[1]["name"].text, second);
  EXPECT_EQ(report["takes"].items[1]["sampleRate"].number, 11025);
  ASSERT_EQ(report["tape"].items.size(), 3u);
  const Value& game = report["tape"].items[1];
  EXPECT_EQ(game["name"].text, "GAME    ");
  EXPECT_EQ(game["decision"].text, "damaged");
  EXPECT_EQ(game["unknownBytes"].number, 101);
  ASSERT_EQ(game["doubtful"].items.size(), 1u);
  EXPECT_EQ(game["doubtful"].items[0]["state"].text, "unknown");
  EXPECT_NEAR(game["doubtful"].items[0]["startSeconds"].number, 20.0, 0.02);
  ASSERT_EQ(game["copies"].items.size(), 2u);
  const Value& late = game["copies"].items[1];
  // The second take starts 2 s later, so everything in it lies 2 s earlier.
  EXPECT_NEAR(late["doubtful"].items[0]["startSeconds"].number, 18.0, 0.02);
  EXPECT_NEAR(late["sampleOffset"].number, late["startSeconds"].number * 11025, 6);
  // tonbrix plays 10 samples a cell at 11025 Hz: 1102.5 cells a second, 8.1 % slow.
  EXPECT_NEAR(late["speedDeviationPercent"].number, -8.13, 0.05);
  for (const char* field : {"endSeconds", "protocol", "phase", "cellRate", "cellSpreadPercent",
                            "swing", "levelDbfs", "frameErrors", "marks"}) {
    EXPECT_NE(late[field].kind, Value::kNull) << field;
  }
}

// A take of another tape whose blocks have the same names is named with the blocks it
// contradicts, left out of the image, and the run ends with its own code; -mix merges it
// all the same and still ends so.
TEST_F(DecodeTakes, ATakeOfAnotherTapeIsNamedAndEndsTheRunWith26) {
  tape_builder::Header loader;
  loader.name = "LOADER";
  TapeImage other;
  other.headerBlock(loader, tape_builder::patternBytes(300, 51));
  ASSERT_TRUE(other.writeTo(dir.file("other.img")));
  ASSERT_EQ(runTonbrix({"-sr", "L", "-gap", "1", "-o", dir.file("other.wav"), dir.file("other.img")},
                       dir.path().string()).exitCode, 0);
  const std::string ours = record("ours.wav", {});
  const std::string theirs = dir.file("other.wav");
  for (const bool mix : {false, true}) {
    SCOPED_TRACE(mix);
    std::vector<std::string> args = {"-f", "-report", dir.file("r.json"), "-o", dir.file("out.img")};
    if (mix) {
      args.push_back("-mix");
    }
    args.insert(args.end(), {ours, ours, theirs});
    const RunResult result = decodeTakes(args);
    EXPECT_EQ(result.exitCode, 26) << result.out << result.err;
    EXPECT_EQ(result.err, "Take '" + theirs + "' holds another tape: its blocks 1 contradict the "
                          "other takes'!\n\n");
    EXPECT_NE(result.out.find(mix ? " Take 3 holds another tape: its blocks 1 contradict the other "
                                    "takes; merged all the same\n"
                                  : " Take 3 holds another tape: its blocks 1 contradict the other "
                                    "takes; it is left out\n"),
              std::string::npos)
        << result.out;
    Value report;
    ASSERT_TRUE(json_value::Reader(readWholeFile(dir.file("r.json"))).read(report));
    EXPECT_TRUE(report["takes"].items[2]["anotherTape"].boolean);
    EXPECT_FALSE(report["takes"].items[0]["anotherTape"].boolean);
    EXPECT_EQ(report["takes"].items[2]["merged"].boolean, mix);
    if (!mix) {
      const std::string image = readWholeFile(dir.file("out.img"));
      EXPECT_EQ(Bytes(image.begin(), image.end()), original);
    }
  }
}

// Nothing is destroyed: an existing image, named by -o or derived from the recording,
// stays unless -f is given, and the refusal comes before any sample is read.
TEST_F(DecodeTakes, ExistingOutputIsKeptUnlessForced) {
  const std::string wav = record("rec.wav", {});
  for (const std::string& output : {dir.file("old.img"), dir.file("rec.img")}) {
    SCOPED_TRACE(output);
    ASSERT_TRUE(decode_audio::writeFile(output, {'o', 'l', 'd'}));
    std::vector<std::string> args = {wav};
    if (output == dir.file("old.img")) {
      args = {"-o", output, wav};
    }
    RunResult result = decodeTakes(args);
    EXPECT_EQ(result.exitCode, 25);
    EXPECT_EQ(result.err,
              "Output file '" + output + "' exists: give -f to replace it, or another name!\n\n");
    EXPECT_EQ(result.out.find("Reading audio file"), std::string::npos);
    EXPECT_EQ(readWholeFile(output), "old");
    args.insert(args.begin(), "-f");
    result = decodeTakes(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readWholeFile(output), std::string(original.begin(), original.end()));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 5);
}

// A replaced image or report keeps its mode: -f must not make a private file readable.
TEST_F(DecodeTakes, ReplacedOutputsKeepTheirMode) {
  const std::string wav = record("rec.wav", {});
  const std::string image = dir.file("old.img");
  const std::string report = dir.file("old.json");
  for (const std::filesystem::perms mode :
       {std::filesystem::perms(0600), std::filesystem::perms(0640), std::filesystem::perms(0444)}) {
    SCOPED_TRACE(static_cast<int>(mode));
    for (const std::string& old : {image, report}) {
      ASSERT_TRUE(decode_audio::writeFile(old, {'o', 'l', 'd'}));
      std::filesystem::permissions(old, mode);
    }
    const RunResult result = decodeTakes({"-f", "-o", image, "-report", report, wav});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readWholeFile(image), std::string(original.begin(), original.end()));
    for (const std::string& replaced : {image, report}) {
      EXPECT_EQ(std::filesystem::status(replaced).permissions(), mode) << replaced;
    }
  }
}

// The image and the report are put in place together or not at all: when one cannot be
// written (a full disk), the other is left as it was too.
TEST_F(DecodeTakes, FailedWriteOfOneOutputKeepsTheOtherAsItWas) {
  if (!std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full";
  }
  const std::string wav = record("rec.wav", {});
  const std::string image = dir.file("old.img");
  const std::string report = dir.file("old.json");
  const struct {
    std::string image;
    std::string report;
    std::string failed;
  } cases[] = {{image, "/dev/full", "/dev/full"}, {"/dev/full", report, "/dev/full"}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.image + " " + test.report);
    for (const std::string& old : {image, report}) {
      ASSERT_TRUE(decode_audio::writeFile(old, {'o', 'l', 'd'}));
    }
    const RunResult result = decodeTakes({"-f", "-o", test.image, "-report", test.report, wav});
    EXPECT_EQ(result.exitCode, 16);
    EXPECT_EQ(result.err, "Can't write to the output file '" + test.failed +
                              "': No space left on device!\n\n");
    EXPECT_EQ(readWholeFile(image), "old");
    EXPECT_EQ(readWholeFile(report), "old");
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 5);
}

// The image on standard output under any of its names: only the image goes there, the
// listing to standard error; on a terminal it is refused before anything is read. -q
// leaves only errors.
TEST_F(DecodeTakes, StandardOutputUnderAnyNameCarriesOnlyTheImage) {
  const std::string wav = record("rec.wav", {{kGameDropout}});
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  const bool haveTerminal = terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0;
  for (const char* output : {"-", "/dev/stdout", "/proc/self/fd/1"}) {
    SCOPED_TRACE(output);
    RunResult result = decodeTakes({"-o", output, wav});
    EXPECT_EQ(result.exitCode, 23);
    EXPECT_EQ(result.out.size(), original.size());
    EXPECT_NE(result.err.find("Writing tape image: " + std::string(output) + "\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(" BLK NR/T Name"), std::string::npos);
    if (!haveTerminal) {
      continue;
    }
    result = runProgram("/bin/bash",
                        {"-c", "\"$0\" -o \"$1\" \"$2\" > \"$3\"", TONBRIX_DECODE_BINARY, output,
                         wav, ptsname(terminal)},
                        dir.path().string());
    EXPECT_EQ(result.exitCode, 24);
    EXPECT_EQ(result.err, "Tonbrix-decode 1.0.0 - WAV to PMD 85 and Mato tape image converter\n\n"
                          "Output '" + std::string(output) +
                              "' is a terminal: pipe it into a player or redirect it!\n\n");
    char shown[256];
    EXPECT_LE(read(terminal, shown, sizeof shown), 0) << "the terminal got output";
  }
  if (terminal >= 0) {
    close(terminal);
  }
  const RunResult quiet = decodeTakes({"-q", "-o", dir.file("q.img"), wav});
  EXPECT_EQ(quiet.exitCode, 23);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "Damaged tape blocks found in '" + wav + "'!\n\n");
}

}  // namespace
