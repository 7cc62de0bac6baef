// End-to-end tests of WAV export: the program's output read back as silence, waveforms
// and byte frames, and compared piece by piece with what each block must sound like.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/tape_builder.h"
#include "support/temp_dir.h"
#include "support/wav_parser.h"

namespace {

using tape_builder::Bytes;
using tape_builder::Header;
using wav_parser::Kind;
using wav_parser::SignalReader;

// How one combination of options sounds: waveforms in table notation with the levels that
// stand for "first" and "second", and the lengths of its fixed pieces.
struct Sound {
  std::vector<std::string> options;
  std::string protocolLine;
  uint32_t sampleRate;
  const char* mark;
  const char* space;
  uint8_t first;
  uint8_t second;
  int64_t secondOfSilence;  // samples of one nominal second
  int64_t defaultGap;       // samples of the 4 s separation before a header block
  int64_t longLeader;       // PMD 85 mark waveforms of 2.8 s
  int64_t shortLeader;      // PMD 85 mark waveforms of 0.5 s
};

// clang-format off
const Sound kPmdDefault = {{}, "PMD 85", 22050, "9F 9S", "9S 9F", 218, 38, 21600, 86400, 3359, 600};
const Sound kPmdLow = {{"-sr", "L"}, "PMD 85", 11025, "5F 5S", "5S 5F", 218, 38, 12000, 48000, 3359, 600};
const Sound kMatoLow = {{"-mato", "-sr", "L"}, "Mato", 11025, "9F 6S", "3F 6S", 218, 38, 9645, 38583, 0, 0};

const Sound kPmdSounds[] = {
    kPmdLow,
    kPmdDefault,
    {{"-sr", "H"}, "PMD 85", 44100, "18F 18S", "18S 18F", 218, 38, 43200, 172800, 3359, 600},
    {{"-dbl", "-sr", "L"}, "PMD 85 (Double Speed)", 11025, "3F 3S", "3S 3F", 218, 38, 14400, 57600, 6719, 1200},
    {{"-dbl"}, "PMD 85 (Double Speed)", 22050, "5F 5S", "5S 5F", 218, 38, 24000, 96000, 6719, 1200},
    {{"-dbl", "-sr", "h"}, "PMD 85 (Double Speed)", 44100, "9F 9S", "9S 9F", 218, 38, 43200, 172800, 6719, 1200},
    {{"-rph", "-sr", "L"}, "PMD 85 (Reversal Phase)", 11025, "5F 5S", "5S 5F", 38, 218, 12000, 48000, 3359, 600},
    {{"-rph", "-dbl", "-sr", "L"}, "PMD 85 (Double Speed, Reversal Phase)", 11025, "3F 3S", "3S 3F", 38, 218,
     14400, 57600, 6719, 1200},
    {{"-amp", "1", "-sr", "L"}, "PMD 85", 11025, "5F 5S", "5S 5F", 129, 127, 12000, 48000, 3359, 600},
    {{"-amp", "127", "-sr", "L"}, "PMD 85", 11025, "5F 5S", "5S 5F", 255, 1, 12000, 48000, 3359, 600},
};

const Sound kMatoSounds[] = {
    kMatoLow,
    {{"-mato"}, "Mato", 22050, "21F 14S", "7F 14S", 218, 38, 22505, 90027, 0, 0},
    {{"-mato", "-sr", "H"}, "Mato", 44100, "42F 28S", "14F 28S", 218, 38, 45010, 180054, 0, 0},
    {{"-mato", "-rph", "-sr", "L"}, "Mato (Reversal Phase)", 11025, "9F 6S", "3F 6S", 38, 218, 9645, 38583, 0, 0},
    {{"-mato", "-amp", "127", "-sr", "L"}, "Mato", 11025, "9F 6S", "3F 6S", 255, 1, 9645, 38583, 0, 0},
};
// clang-format on

std::string describe(const Sound& sound) {
  std::string text = "options:";
  for (const std::string& option : sound.options) {
    text += " " + option;
  }
  return text;
}

class ExportTest : public TempDirTest {
 protected:
  // Block 1: headerless, 5 bytes. Block 2: header block FIRST, 4 data bytes. Block 3: an
  // empty headerless block (an empty record cannot end an image). Block 4: header block
  // whose name is "ABCD" and four zero bytes, 3 data bytes.
  void SetUp() override {
    first.fileNumber = 1;
    first.fileType = 'B';
    first.name = "FIRST";
    second.fileNumber = 2;
    second.fileType = 'M';
    second.name = std::string("ABCD\0\0\0\0", 8);
    headerless = tape_builder::patternBytes(5, 3);
    firstData = tape_builder::patternBytes(4, 4);
    secondData = {0x00, 0xFF, 0x55};
    tape_builder::TapeImage image;
    image.headerlessBlock(headerless).headerBlock(first, firstData).headerlessBlock({});
    image.headerBlock(second, secondData);
    first.length = 3;
    second.length = 2;
    tapePath = dir.file("tape.img");
    outputPath = dir.file("out.wav");
    ASSERT_TRUE(image.writeTo(tapePath));
    tapeBytes = readWholeFile(tapePath);
  }

  RunResult convert(std::vector<std::string> options, const std::string& output = "") {
    options.push_back("-o");
    options.push_back(output.empty() ? outputPath : output);
    options.push_back(tapePath);
    result = runTonbrix(options, dir.path().string());
    // Devices such as /dev/full read back endlessly; only a file on disk is parsed.
    const std::string written = output.empty() ? outputPath : output;
    wav = std::filesystem::is_regular_file(written) ? wav_parser::readWav(written)
                                                    : wav_parser::WavFile{};
    return result;
  }

  RunResult convert(const Sound& sound, const std::vector<std::string>& more) {
    std::vector<std::string> options = sound.options;
    options.insert(options.end(), more.begin(), more.end());
    return convert(options);
  }

  SignalReader reader(const Sound& sound) const {
    return SignalReader(wav.samples, wav_parser::shape(sound.mark, sound.first, sound.second),
                        wav_parser::shape(sound.space, sound.first, sound.second));
  }

  std::string expectedStdout(const std::string& protocolLine,
                             const std::string& tail = "\nAll done.\n") {
    return kBanner + "Reading source file: " + tapePath + "\nProtocol: " + protocolLine +
           "\nCreating output WAV file: " + outputPath + "\n" + tail;
  }

  void expectFinalized(const Sound& sound) const {
    ASSERT_TRUE(wav.complete);
    EXPECT_EQ(wav.sampleRate, sound.sampleRate);
    EXPECT_EQ(wav.byteRate, sound.sampleRate);
    EXPECT_EQ(wav.riffSize, wav.bytes.size() - 8);
    EXPECT_EQ(wav.dataSize, wav.bytes.size() - 44);
  }

  void expectUnfinalized() const {
    ASSERT_TRUE(wav.complete);
    EXPECT_EQ(wav.riffSize, 0u);
    EXPECT_EQ(wav.dataSize, 0u);
  }

  // A PMD 85 header block from its 2.8 s leader to its last body frame.
  static void expectPmdHeaderBlock(SignalReader& signal, const Sound& sound, const Header& header,
                                   const Bytes& data) {
    EXPECT_EQ(signal.marks(), sound.longLeader) << signal.rest();
    EXPECT_EQ(signal.pmdBytes(63), tape_builder::headerPart(header)) << signal.error();
    EXPECT_EQ(signal.marks(), sound.shortLeader) << signal.rest();
    EXPECT_EQ(signal.pmdBytes(data.size() + 1), tape_builder::bodyPart(data)) << signal.error();
  }

  // A Mato header block from its pilot to its last body frame.
  static void expectMatoHeaderBlock(SignalReader& signal, const Header& header, const Bytes& data) {
    EXPECT_EQ(signal.spaces(), 510) << signal.rest();
    EXPECT_EQ(signal.matoBytes(1), Bytes{0x55}) << signal.error();
    EXPECT_EQ(signal.matoBytes(15), tape_builder::headerBytes(header)) << signal.error();
    EXPECT_EQ(signal.spaces(), 128) << signal.rest();
    EXPECT_TRUE(signal.take(Kind::kMark, 1)) << signal.error();
    EXPECT_EQ(signal.matoBytes(data.size() + 1), tape_builder::bodyPart(data)) << signal.error();
  }

  Header first, second;
  Bytes headerless, firstData, secondData;
  std::string tapePath, outputPath, tapeBytes;
  RunResult result;
  wav_parser::WavFile wav;
};

// A header block, a headerless block and a separated header block, at every rate, speed,
// phase and amplitude.
TEST_F(ExportTest, PmdBlocksOfEveryKindInEveryVariant) {
  for (const Sound& sound : kPmdSounds) {
    SCOPED_TRACE(describe(sound));
    convert(sound, {"-blk", "2,1,4"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, expectedStdout(sound.protocolLine));
    expectFinalized(sound);
    SignalReader signal = reader(sound);
    EXPECT_EQ(signal.silence(), sound.secondOfSilence);
    expectPmdHeaderBlock(signal, sound, first, firstData);
    EXPECT_EQ(signal.marks(), sound.shortLeader);
    EXPECT_EQ(signal.pmdBytes(5), headerless) << signal.error();
    EXPECT_EQ(signal.marks(), sound.shortLeader);
    EXPECT_EQ(signal.silence(), sound.defaultGap);
    expectPmdHeaderBlock(signal, sound, second, secondData);
    EXPECT_EQ(signal.marks(), sound.shortLeader);
    EXPECT_EQ(signal.silence(), sound.secondOfSilence);
    EXPECT_TRUE(signal.atEnd()) << signal.rest();
  }
}

TEST_F(ExportTest, MatoBlocksOfEveryKindInEveryVariant) {
  for (const Sound& sound : kMatoSounds) {
    SCOPED_TRACE(describe(sound));
    convert(sound, {"-blk", "2,1,4"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, expectedStdout(sound.protocolLine));
    expectFinalized(sound);
    SignalReader signal = reader(sound);
    EXPECT_EQ(signal.silence(), sound.secondOfSilence);
    expectMatoHeaderBlock(signal, first, firstData);
    EXPECT_EQ(signal.spaces(), 128) << signal.rest();
    EXPECT_EQ(signal.matoBytes(5), headerless) << signal.error();
    EXPECT_EQ(signal.silence(), sound.defaultGap);
    expectMatoHeaderBlock(signal, second, secondData);
    EXPECT_EQ(signal.silence(), sound.secondOfSilence);
    EXPECT_TRUE(signal.atEnd()) << signal.rest();
  }
}

// First and last are decided by block number: block 2 opens and closes the selection both
// times it appears, block 4 is separated from what precedes it.
TEST_F(ExportTest, PmdRepeatedSelectionSeparatesByBlockNumberWithEveryGap) {
  struct GapCase {
    std::vector<std::string> options;
    int64_t gapSamples;
  };
  const GapCase cases[] = {{{}, 4 * 12000}, {{"-gap", "1"}, 12000}, {{"-gap", "0x0A"}, 10 * 12000}};
  for (const GapCase& gap : cases) {
    SCOPED_TRACE(gap.gapSamples);
    std::vector<std::string> options = {"-blk", "2,4,2"};
    options.insert(options.end(), gap.options.begin(), gap.options.end());
    convert(kPmdLow, options);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectFinalized(kPmdLow);
    SignalReader signal = reader(kPmdLow);
    EXPECT_EQ(signal.silence(), 12000);
    expectPmdHeaderBlock(signal, kPmdLow, first, firstData);
    // The leader that closes block 2 (the last number) runs into block 4's separation leader.
    EXPECT_EQ(signal.marks(), 600 + 600);
    EXPECT_EQ(signal.silence(), gap.gapSamples);
    expectPmdHeaderBlock(signal, kPmdLow, second, secondData);
    expectPmdHeaderBlock(signal, kPmdLow, first, firstData);
    EXPECT_EQ(signal.marks(), 600);
    EXPECT_EQ(signal.silence(), 12000);
    EXPECT_TRUE(signal.atEnd()) << signal.rest();
  }
}

TEST_F(ExportTest, MatoRepeatedSelectionSeparatesByBlockNumberWithEveryGap) {
  struct GapCase {
    std::vector<std::string> options;
    int64_t gapSamples;
  };
  // Mato gaps count chunks of 3 samples at this rate: 3215, 12861 and 32154 per 1, 4, 10 s.
  const GapCase cases[] = {{{}, 38583}, {{"-gap", "1"}, 9645}, {{"-gap", "10"}, 96462}};
  for (const GapCase& gap : cases) {
    SCOPED_TRACE(gap.gapSamples);
    std::vector<std::string> options = {"-blk", "2,4,2"};
    options.insert(options.end(), gap.options.begin(), gap.options.end());
    convert(kMatoLow, options);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectFinalized(kMatoLow);
    SignalReader signal = reader(kMatoLow);
    EXPECT_EQ(signal.silence(), 9645);
    expectMatoHeaderBlock(signal, first, firstData);
    EXPECT_EQ(signal.silence(), gap.gapSamples);
    expectMatoHeaderBlock(signal, second, secondData);
    expectMatoHeaderBlock(signal, first, firstData);
    EXPECT_EQ(signal.silence(), 9645);
    EXPECT_TRUE(signal.atEnd()) << signal.rest();
  }
}

// An empty headerless block is its run-in alone, which merges with the next one.
TEST_F(ExportTest, EmptyHeaderlessBlockIsItsRunInAlone) {
  convert(kPmdLow, {"-blk", "3,1"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  SignalReader pmd = reader(kPmdLow);
  EXPECT_EQ(pmd.silence(), 12000);
  EXPECT_EQ(pmd.marks(), 600 + 600);
  EXPECT_EQ(pmd.pmdBytes(5), headerless) << pmd.error();
  EXPECT_EQ(pmd.marks(), 600);
  EXPECT_EQ(pmd.silence(), 12000);
  EXPECT_TRUE(pmd.atEnd()) << pmd.rest();

  convert(kMatoLow, {"-blk", "3,1"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  SignalReader mato = reader(kMatoLow);
  EXPECT_EQ(mato.silence(), 9645);
  EXPECT_EQ(mato.spaces(), 128 + 128);
  EXPECT_EQ(mato.matoBytes(5), headerless) << mato.error();
  EXPECT_EQ(mato.silence(), 9645);
  EXPECT_TRUE(mato.atEnd()) << mato.rest();
}

TEST_F(ExportTest, EmptySelectionIsTwoSecondsOfSilence) {
  const Sound* sounds[] = {&kPmdDefault, &kMatoSounds[1]};
  for (const Sound* sound : sounds) {
    SCOPED_TRACE(describe(*sound));
    convert(*sound, {"-blk", ""});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, expectedStdout(sound->protocolLine));
    expectFinalized(*sound);
    EXPECT_EQ(int64_t{wav.dataSize}, 2 * sound->secondOfSilence);
    SignalReader signal = reader(*sound);
    EXPECT_EQ(signal.silence(), 2 * sound->secondOfSilence);
    EXPECT_TRUE(signal.atEnd()) << signal.rest();
  }
}

TEST_F(ExportTest, VerboseProgressLinesInBothProtocols) {
  for (const Sound* sound : {&kPmdLow, &kMatoLow}) {
    SCOPED_TRACE(describe(*sound));
    convert(*sound, {"-vb", "-blk", "4,1,2,3"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, kBanner + "Reading source file: " + tapePath +
                              "\n Blocks: 4\nProtocol: " + sound->protocolLine +
                              "\nCreating output WAV file: " + outputPath +
                              "\n Sample rate: 11025 Hz\n"
                              "Exporting block 4: 02/M     ABCD\n"
                              "Exporting headerless block 1 (    5 bytes)\n"
                              "Exporting block 2: 01/B FIRST   \n"
                              "Exporting headerless block 3 (    0 bytes)\n"
                              "Output WAV file finalized and closed.\n\nAll done.\n");
  }
}

// The scan has counted the blocks, so a number beyond them stops the export before the
// output is opened: an earlier WAV of that name keeps every byte, and none is created.
TEST_F(ExportTest, BadBlockNumberStopsBeforeTheOutputIsOpened) {
  ASSERT_EQ(convert(kPmdLow, {}).exitCode, 0) << result.err;
  const std::string earlier = readWholeFile(outputPath);
  for (const bool outputExists : {true, false}) {
    SCOPED_TRACE(outputExists ? "earlier WAV" : "no file yet");
    if (!outputExists) {
      std::filesystem::remove(outputPath);
    }
    convert(kPmdLow, {"-vb", "-blk", "2,9,1"});
    EXPECT_EQ(result.exitCode, 19);
    EXPECT_EQ(result.err, "Bad block number: 9\n\n");
    EXPECT_EQ(result.out,
              kBanner + "Reading source file: " + tapePath + "\n Blocks: 4\nProtocol: PMD 85\n");
    EXPECT_EQ(std::filesystem::exists(outputPath), outputExists);
    if (outputExists) {
      EXPECT_TRUE(readWholeFile(outputPath) == earlier);
    }
  }
}

// A gap whose samples could never be stated in the header fails before writing any of it.
TEST_F(ExportTest, GapBeyondWhatTheHeaderCanStateFailsWithWriteError) {
  convert(kPmdLow, {"-blk", "2,4", "-gap", "2000000000"});
  EXPECT_EQ(result.exitCode, 16);
  EXPECT_EQ(result.err, "Can't write to the output file '" + outputPath + "'!\n\n");
  EXPECT_EQ(result.out, expectedStdout("PMD 85", ""));
  expectUnfinalized();
  SignalReader signal = reader(kPmdLow);
  EXPECT_EQ(signal.silence(), 12000);
  expectPmdHeaderBlock(signal, kPmdLow, first, firstData);
  EXPECT_EQ(signal.marks(), 600);
  EXPECT_TRUE(signal.atEnd()) << signal.rest();
}

TEST_F(ExportTest, FullDeviceFailsWithWriteError) {
  if (access("/dev/full", W_OK) != 0) {
    GTEST_SKIP() << "no /dev/full";
  }
  convert({"-sr", "L"}, "/dev/full");
  EXPECT_EQ(result.exitCode, 16);
  EXPECT_EQ(result.err, "Can't write to the output file '/dev/full'!\n\n");
  EXPECT_EQ(result.out, kBanner + "Reading source file: " + tapePath +
                            "\nProtocol: PMD 85\nCreating output WAV file: /dev/full\n");
}

TEST_F(ExportTest, OutputNamingTheInputIsRefusedAndInputSurvives) {
  std::filesystem::create_symlink(tapePath, dir.file("link.wav"));
  std::filesystem::create_hard_link(tapePath, dir.file("hard.wav"));
  for (const std::string& output : {tapePath, dir.file("link.wav"), dir.file("hard.wav")}) {
    SCOPED_TRACE(output);
    convert({}, output);
    EXPECT_EQ(result.exitCode, 14);
    EXPECT_EQ(result.err, "Can't open output file '" + output + "'!\n\n");
    EXPECT_EQ(readWholeFile(tapePath), tapeBytes);
  }
}

}  // namespace
