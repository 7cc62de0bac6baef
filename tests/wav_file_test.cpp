// Tests of WAV file creation, finalization and the refusal to overwrite the tape image.
#include "audio/wav_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "audio/signal.h"
#include "support/temp_dir.h"
#include "support/wav_parser.h"

namespace {

using wav_parser::Bytes;

// The two steps of an export to a file, with nothing counted between them.
int32_t createWav(ConversionJob& job) {
  const int32_t status = prepareWav(job);
  return status == kOk ? openWav(job) : status;
}

class WavFileTest : public TempDirTest {
 protected:
  void SetUp() override {
    inputPath = dir.file("missing.img");
    outputPath = dir.file("out.wav");
    job.inputPath = inputPath.c_str();
    job.outputPath = outputPath.c_str();
  }

  static Bytes fileBytes(const std::string& path) { return wav_parser::readWav(path).bytes; }

  std::string inputPath;
  std::string outputPath;
  ConversionJob job;
};

TEST_F(WavFileTest, CreateWritesHeaderWithBothSizesZeroAndFinalizeFillsThem) {
  ASSERT_EQ(createWav(job), kOk);
  ASSERT_EQ(std::fflush(job.outputFile.get()), 0);
  // clang-format off
  const Bytes expected = {
      'R', 'I', 'F', 'F', 0, 0, 0, 0,        // RIFF size, 0 until finalized
      'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
      16, 0, 0, 0, 1, 0, 1, 0,               // format size, PCM, mono
      0x22, 0x56, 0, 0, 0x22, 0x56, 0, 0,    // 22050 samples and bytes per second
      1, 0, 8, 0,                            // one byte per frame, 8 bits
      'd', 'a', 't', 'a', 0, 0, 0, 0};       // data size, 0 until finalized
  // clang-format on
  EXPECT_EQ(fileBytes(outputPath), expected);

  const uint8_t samples[3] = {1, 2, 3};
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(writeSamples(job, samples, 3));
  }
  ASSERT_EQ(finalizeWav(job), kOk);
  EXPECT_FALSE(job.outputFile);
  const wav_parser::WavFile wav = wav_parser::readWav(outputPath);
  EXPECT_EQ(wav.bytes.size(), 3044u);
  EXPECT_EQ(wav.riffSize, 3036u);
  EXPECT_EQ(wav.dataSize, 3000u);
  EXPECT_EQ(Bytes(wav.bytes.begin(), wav.bytes.begin() + 4),
            Bytes(expected.begin(), expected.begin() + 4));
  EXPECT_EQ(Bytes(wav.bytes.begin() + 8, wav.bytes.begin() + 40),
            Bytes(expected.begin() + 8, expected.begin() + 40));
  EXPECT_EQ(wav.samples[2999], 3);
}

TEST_F(WavFileTest, BothRateFieldsFollowTheSampleRate) {
  const uint32_t rates[] = {11025, 22050, 44100};
  for (int32_t index = 0; index < 3; ++index) {
    ConversionJob rateJob;
    rateJob.inputPath = job.inputPath;
    rateJob.outputPath = job.outputPath;
    rateJob.sampleRateIndex = index;
    ASSERT_EQ(createWav(rateJob), kOk);
    ASSERT_EQ(finalizeWav(rateJob), kOk);
    const wav_parser::WavFile wav = wav_parser::readWav(outputPath);
    EXPECT_EQ(wav.sampleRate, rates[index]);
    EXPECT_EQ(wav.byteRate, rates[index]);
    EXPECT_EQ(wav.riffSize, 36u);
    EXPECT_EQ(wav.dataSize, 0u);
  }
}

// Opening the output truncates it, so a path that reaches the tape image by any name must
// be refused before the open.
TEST_F(WavFileTest, OutputThatIsTheInputFileIsRefusedAndInputSurvives) {
  const std::string input = dir.file("tape.img");
  const Bytes tape = {1, 2, 3, 4, 5};
  {
    std::ofstream out(input, std::ios::binary);
    out.write(reinterpret_cast<const char*>(tape.data()),
              static_cast<std::streamsize>(tape.size()));
  }
  const std::string symlinked = dir.file("symlink.wav");
  const std::string hardLinked = dir.file("hardlink.wav");
  std::filesystem::create_symlink(input, symlinked);
  std::filesystem::create_hard_link(input, hardLinked);
  const std::string spelledOtherwise = dir.path().string() + "/./tape.img";
  for (const std::string& output : {input, symlinked, hardLinked, spelledOtherwise}) {
    SCOPED_TRACE(output);
    ConversionJob sameJob;
    sameJob.inputPath = input.c_str();
    sameJob.outputPath = output.c_str();
    EXPECT_EQ(createWav(sameJob), kErrOpenOutput);
    EXPECT_FALSE(sameJob.outputFile);
    EXPECT_EQ(fileBytes(input), tape);
  }
}

// The stream buffer may take the first samples; the full device refuses them when they
// are flushed, at the latest when the file is finalized.
TEST_F(WavFileTest, FullDeviceFailsWithWriteError) {
  if (access("/dev/full", W_OK) != 0) {
    GTEST_SKIP() << "no /dev/full";
  }
  job.outputPath = "/dev/full";
  int32_t status = createWav(job);
  if (status == kOk) {
    status = writeGap(job, 1);
  }
  if (status == kOk) {
    status = finalizeWav(job);
  }
  EXPECT_EQ(status, kErrWriteOutput);
}

// The RIFF size field holds file length - 8 in 32 bits: a file may reach exactly the
// largest length it can state and not one byte more, and the header then stays unsized.
TEST_F(WavFileTest, FileMayGrowToTheLargestStatableLengthButNoFurther) {
  ASSERT_EQ(createWav(job), kOk);
  job.outputLength = kMaxWavFileLength - 2 * job.markLength;
  EXPECT_TRUE(writeSamples(job, job.markWave, job.markLength));
  EXPECT_TRUE(writeSamples(job, job.markWave, job.markLength));
  EXPECT_EQ(job.outputLength, kMaxWavFileLength);
  EXPECT_FALSE(writeSamples(job, job.spaceWave, 1));
  job.outputLength = kMaxWavFileLength - 1000;
  EXPECT_EQ(writeLeader(job, 2.8), kErrWriteOutput);
  EXPECT_EQ(writeGap(job, 1), kErrWriteOutput);
  job.outputFile.reset();
  const wav_parser::WavFile wav = wav_parser::readWav(outputPath);
  EXPECT_EQ(wav.riffSize, 0u);
  EXPECT_EQ(wav.dataSize, 0u);
}

}  // namespace
