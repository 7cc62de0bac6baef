// Unit tests of the WAV reader: the layouts it accepts and the malformed or unsupported
// files it refuses, each with its code and message.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "decode/decode_job.h"
#include "decode/wav_reader.h"
#include "support/decode_audio.h"

namespace {

using decode_audio::Bytes;
using decode_audio::wavBytes;
using decode_audio::WavLayout;

struct StreamCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads `bytes` through the reader as a file named "t.wav"; `err` receives stderr.
int32_t readBytes(const Bytes& bytes, WavRecording& recording, std::string& err) {
  const std::unique_ptr<std::FILE, StreamCloser> file(std::tmpfile());
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return 1;
  }
  ::testing::internal::CaptureStderr();
  const int32_t status = readWavStream(file.get(), "t.wav", recording);
  err = ::testing::internal::GetCapturedStderr();
  return status;
}

// Sets the subformat tag of an extensible format chunk (24 bytes into its body).
Bytes withSubformat(Bytes file, uint16_t tag) {
  const size_t body = 12 + 8;
  file[body + 24] = static_cast<uint8_t>(tag);
  file[body + 25] = static_cast<uint8_t>(tag >> 8);
  return file;
}

TEST(DecodeWavReader, AcceptedLayoutsGiveTheirSamplesPerChannel) {
  WavLayout stereo16;
  stereo16.channels = 2;
  stereo16.bitsPerSample = 16;
  WavLayout extensible = stereo16;
  extensible.formatTag = 0xFFFE;
  extensible.fmtLength = 40;
  WavLayout listFirst;  // an odd-sized chunk before "fmt " takes a pad byte
  listFirst.beforeFmt = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  WavLayout longData;  // an interrupted recording: the size says more than there is
  longData.dataLength = 1000;
  WavLayout zeroData;  // a streamed recording: the size was never filled in
  zeroData.dataLength = 0;
  const Bytes eight = {0, 128, 255, 129};
  const Bytes sixteen = {0xE8, 0x03, 0x18, 0xFC, 0x00, 0x80, 0xFF, 0x7F};
  struct Case {
    const char* name;
    Bytes file;
    int32_t channels;
    std::vector<int16_t> first;
  };
  const Case cases[] = {
      {"8-bit mono", wavBytes(WavLayout(), eight), 1, {-32768, 0, 32512, 256}},
      {"16-bit stereo", wavBytes(stereo16, sixteen), 2, {1000, -32768}},
      {"extensible PCM", withSubformat(wavBytes(extensible, sixteen), 1), 2, {1000, -32768}},
      {"chunk before format", wavBytes(listFirst, eight), 1, {-32768, 0, 32512, 256}},
      {"data size too large", wavBytes(longData, eight), 1, {-32768, 0, 32512, 256}},
      {"data size 0", wavBytes(zeroData, eight), 1, {-32768, 0, 32512, 256}},
      {"partial last frame",
       wavBytes(stereo16, Bytes(sixteen.begin(), sixteen.end() - 1)),
       2,
       {1000}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    WavRecording recording;
    std::string err;
    ASSERT_EQ(readBytes(test.file, recording, err), kOk) << err;
    EXPECT_EQ(recording.sampleRate, 22050);
    ASSERT_EQ(recording.channelCount, test.channels);
    EXPECT_EQ(recording.channels[0], test.first);
  }
}

TEST(DecodeWavReader, StereoKeepsTheRightChannelApart) {
  WavLayout stereo;
  stereo.channels = 2;
  stereo.bitsPerSample = 16;
  WavRecording recording;
  std::string err;
  ASSERT_EQ(readBytes(wavBytes(stereo, {0xE8, 0x03, 0x18, 0xFC}), recording, err), kOk);
  EXPECT_EQ(recording.channels[1], std::vector<int16_t>{-1000});
}

TEST(DecodeWavReader, MalformedAndUnsupportedFilesAreRefusedWithTheirReason) {
  const Bytes samples = {1, 2, 3, 4};
  const auto layout = [](auto change) {
    WavLayout value;
    change(value);
    return value;
  };
  Bytes rifx = wavBytes(WavLayout(), samples);
  rifx[3] = 'X';
  Bytes noFormat = wavBytes(WavLayout(), samples);
  noFormat[14] = 'x';
  Bytes noData = wavBytes(WavLayout(), samples);
  noData[36] = 'x';
  struct Case {
    const char* name;
    Bytes file;
    int32_t code;
    std::string message;
  };
  const Case cases[] = {
      {"RIFX", rifx, kErrBadWav, "no RIFF/WAVE signature"},
      {"8 bytes", Bytes(rifx.begin(), rifx.begin() + 8), kErrBadWav, "no RIFF/WAVE signature"},
      {"no format", noFormat, kErrBadWav, "no format chunk"},
      {"no data", noData, kErrBadWav, "no data chunk"},
      {"short format", wavBytes(layout([](WavLayout& l) { l.fmtLength = 14; }), samples),
       kErrBadWav, "format chunk too short"},
      {"alignment", wavBytes(layout([](WavLayout& l) { l.blockAlign = 3; }), samples), kErrBadWav,
       "block alignment does not match the format"},
      {"no frames", wavBytes(WavLayout(), {}), kErrBadWav, "no sample frames"},
      {"float", wavBytes(layout([](WavLayout& l) { l.formatTag = 3; }), samples),
       kErrUnsupportedWav, "samples are not integer PCM (format 3)"},
      {"extensible float",
       withSubformat(wavBytes(layout([](WavLayout& l) {
                                l.formatTag = 0xFFFE;
                                l.fmtLength = 40;
                              }),
                              samples),
                     3),
       kErrUnsupportedWav, "samples are not integer PCM (format 3)"},
      {"24-bit", wavBytes(layout([](WavLayout& l) { l.bitsPerSample = 24; }), Bytes(6)),
       kErrUnsupportedWav, "24-bit samples (8 or 16 expected)"},
      {"3 channels", wavBytes(layout([](WavLayout& l) { l.channels = 3; }), samples),
       kErrUnsupportedWav, "3 channels (1 or 2 expected)"},
      {"7999 Hz", wavBytes(layout([](WavLayout& l) { l.sampleRate = 7999; }), samples),
       kErrUnsupportedWav, "sample rate 7999 Hz (8000 to 96000 expected)"},
      {"96001 Hz", wavBytes(layout([](WavLayout& l) { l.sampleRate = 96001; }), samples),
       kErrUnsupportedWav, "sample rate 96001 Hz (8000 to 96000 expected)"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    WavRecording recording;
    std::string err;
    EXPECT_EQ(readBytes(test.file, recording, err), test.code);
    const char* kind = test.code == kErrBadWav ? "Bad" : "Unsupported";
    EXPECT_EQ(err, std::string(kind) + " WAV file 't.wav': " + test.message + "!\n\n");
    EXPECT_TRUE(recording.channels.empty());
  }
}

TEST(DecodeWavReader, MissingFileIsReportedAsUnopenable) {
  WavRecording recording;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(readWavFile("/nonexistent/x.wav", recording), kErrOpenInput);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Can't open input file '/nonexistent/x.wav'!\n\n");
}

}  // namespace
