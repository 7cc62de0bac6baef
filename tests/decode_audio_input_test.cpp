// Unit tests of the audio input: what libsndfile hands over for the layouts recorders
// write, and the files refused, by libsndfile or by the checks on what it returns.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "core/errors.h"
#include "decode_app/audio_input.h"
#include "support/decode_audio.h"

namespace {

using decode_audio::Bytes;
using decode_audio::wavBytes;
using decode_audio::WavLayout;

// Opens `bytes` as a file named "t.wav" and reads it whole; `err` receives stderr.
int32_t readBytes(const Bytes& bytes, AudioInput& input, std::vector<float>& samples,
                  std::string& err) {
  ::testing::internal::CaptureStderr();
  int32_t status = openAudioMemory(input, bytes.data(), bytes.size(), "t.wav");
  size_t frames = 1;
  while (status == kOk && frames > 0) {
    status = readAudioChunk(input, frames);
    const size_t count = frames * static_cast<size_t>(input.channelCount);
    samples.insert(samples.end(), input.chunk.begin(),
                   input.chunk.begin() + static_cast<std::ptrdiff_t>(count));
  }
  err = ::testing::internal::GetCapturedStderr();
  return status;
}

// Fills the extension of an extensible format chunk: its size, the valid bits and the
// subformat GUID, whose first two bytes are the real format tag.
Bytes withSubformat(Bytes file, uint16_t tag) {
  const size_t body = 12 + 8;
  const uint8_t extension[24] = {22,
                                 0,
                                 16,
                                 0,
                                 3,
                                 0,
                                 0,
                                 0,
                                 static_cast<uint8_t>(tag),
                                 static_cast<uint8_t>(tag >> 8),
                                 0x00,
                                 0x00,
                                 0x00,
                                 0x00,
                                 0x10,
                                 0x00,
                                 0x80,
                                 0x00,
                                 0x00,
                                 0xAA,
                                 0x00,
                                 0x38,
                                 0x9B,
                                 0x71};
  std::copy(std::begin(extension), std::end(extension), file.begin() + body + 16);
  return file;
}

// `file` with a chunk after its data, as recorders append their notes; an odd-sized data
// chunk is padded to an even size first.
Bytes withChunkAfterData(Bytes file) {
  if (file.size() % 2 != 0) {
    file.push_back(0);
  }
  const Bytes note = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  file.insert(file.end(), note.begin(), note.end());
  const auto riff = static_cast<uint32_t>(file.size() - 8);
  for (size_t k = 0; k < 4; ++k) {
    file[4 + k] = static_cast<uint8_t>(riff >> (8 * k));
  }
  return file;
}

WavLayout layoutWith(void (*change)(WavLayout&)) {
  WavLayout layout;
  change(layout);
  return layout;
}

TEST(DecodeAudioInput, AcceptedLayoutsGiveTheirSamplesAtFullScale) {
  WavLayout stereo16 = layoutWith([](WavLayout& l) {
    l.channels = 2;
    l.bitsPerSample = 16;
  });
  WavLayout extensible = stereo16;
  extensible.formatTag = 0xFFFE;
  extensible.fmtLength = 40;
  WavLayout listFirst;  // an odd-sized chunk before "fmt " takes a pad byte
  listFirst.beforeFmt = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  WavLayout longData;  // an interrupted recording: the size says more than there is
  longData.dataLength = 1000;
  const Bytes eight = {0, 128, 255, 129};
  const Bytes sixteen = {0x00, 0x40, 0x00, 0xC0, 0x00, 0x80, 0xFF, 0x7F};
  const std::vector<float> eightFull = {-1.0f, 0.0f, 127 / 128.0f, 1 / 128.0f};
  struct Case {
    const char* name;
    Bytes file;
    int32_t channels;
    int32_t rate;
    std::vector<float> samples;
  };
  const Case cases[] = {
      {"8-bit mono", wavBytes(WavLayout(), eight), 1, 22050, eightFull},
      {"16-bit stereo",
       wavBytes(stereo16, sixteen),
       2,
       22050,
       {0.5f, -0.5f, -1.0f, 32767 / 32768.0f}},
      {"extensible PCM",
       withSubformat(wavBytes(extensible, sixteen), 1),
       2,
       22050,
       {0.5f, -0.5f, -1.0f, 32767 / 32768.0f}},
      {"24-bit",
       wavBytes(layoutWith([](WavLayout& l) { l.bitsPerSample = 24; }),
                {0x00, 0x00, 0x40, 0x00, 0x00, 0xC0}),
       1,
       22050,
       {0.5f, -0.5f}},
      {"32-bit float",
       wavBytes(layoutWith([](WavLayout& l) {
                  l.formatTag = 3;
                  l.bitsPerSample = 32;
                }),
                {0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0xBF}),
       1,
       22050,
       {0.5f, -1.0f}},
      {"3 channels at 192 kHz",
       wavBytes(layoutWith([](WavLayout& l) {
                  l.channels = 3;
                  l.sampleRate = 192000;
                }),
                {0, 128, 192}),
       3,
       192000,
       {-1.0f, 0.0f, 0.5f}},
      {"chunk before format", wavBytes(listFirst, eight), 1, 22050, eightFull},
      {"data size too large", wavBytes(longData, eight), 1, 22050, eightFull},
      {"8-bit stereo cut within a frame",
       wavBytes(layoutWith([](WavLayout& l) {
                  l.channels = 2;
                  l.dataLength = 4;
                }),
                {0, 255, 128}),
       2,
       22050,
       {-1.0f, 127 / 128.0f}},
      {"chunk after odd-sized data",
       withChunkAfterData(wavBytes(WavLayout(), {0, 128, 255})),
       1,
       22050,
       {-1.0f, 0.0f, 127 / 128.0f}},
      {"16-bit, chunk after data",
       withChunkAfterData(wavBytes(stereo16, sixteen)),
       2,
       22050,
       {0.5f, -0.5f, -1.0f, 32767 / 32768.0f}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    AudioInput input;
    std::vector<float> samples;
    std::string err;
    ASSERT_EQ(readBytes(test.file, input, samples, err), kOk) << err;
    EXPECT_EQ(input.sampleRate, test.rate);
    EXPECT_EQ(input.channelCount, test.channels);
    EXPECT_EQ(samples, test.samples);
  }
}

// What libsndfile's own float reading gives for `bytes`.
std::vector<float> libsndfileFloats(const Bytes& bytes) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) {
    return {};
  }
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  SF_INFO info = {};
  SNDFILE* sound = sf_open_fd(fileno(file), SFM_READ, &info, SF_FALSE);
  std::vector<float> floats(static_cast<size_t>(info.frames * info.channels));
  floats.resize(
      static_cast<size_t>(sf_readf_float(sound, floats.data(), info.frames) * info.channels));
  sf_close(sound);
  std::fclose(file);
  return floats;
}

// 8-bit and 16-bit samples do not pass through libsndfile's floats: every value, over
// more than one chunk, must still come out as the float libsndfile gives.
TEST(DecodeAudioInput, SamplesReadAsStoredGiveLibsndfilesOwnFloats) {
  struct Case {
    uint16_t channels;
    uint16_t bits;
  };
  for (const Case test : {Case{1, 8}, Case{2, 8}, Case{1, 16}, Case{3, 16}}) {
    SCOPED_TRACE(std::to_string(test.channels) + " channels, " + std::to_string(test.bits) +
                 " bits");
    Bytes data(3 * kAudioChunkSamples + 6 * test.channels);
    for (size_t k = 0; k < data.size(); ++k) {
      data[k] = static_cast<uint8_t>(k * 97 + k / 256);
    }
    WavLayout layout;
    layout.channels = test.channels;
    layout.bitsPerSample = test.bits;
    const Bytes wav = wavBytes(layout, data);
    AudioInput input;
    std::vector<float> samples;
    std::string err;
    ASSERT_EQ(readBytes(wav, input, samples, err), kOk) << err;
    const std::vector<float> expected = libsndfileFloats(wav);
    ASSERT_EQ(samples.size(), data.size() * 8 / test.bits);
    ASSERT_EQ(expected.size(), samples.size());
    // Bit for bit: equal floats could still differ in the sign of a zero.
    EXPECT_EQ(std::memcmp(samples.data(), expected.data(), samples.size() * sizeof(float)), 0);
  }
}

TEST(DecodeAudioInput, RefusedFilesNameTheFileAndTheReason) {
  const Bytes samples = {1, 2, 3, 4};
  Bytes noSignature = wavBytes(WavLayout(), samples);
  noSignature[8] = 'X';
  Bytes noData = wavBytes(WavLayout(), samples);
  noData[36] = 'x';
  struct Case {
    const char* name;
    Bytes file;
    int32_t code;
    std::string message;  // empty: libsndfile's own words, which differ between versions
  };
  const Case cases[] = {
      {"empty", {}, kErrBadWav, ""},
      {"no WAVE signature", noSignature, kErrBadWav, ""},
      {"8 bytes", Bytes(noSignature.begin(), noSignature.begin() + 8), kErrBadWav, ""},
      {"no data", noData, kErrBadWav, ""},
      {"no frames", wavBytes(WavLayout(), {}), kErrBadWav, "no sample frames"},
      {"0 channels", wavBytes(layoutWith([](WavLayout& l) { l.channels = 0; }), samples),
       kErrBadWav, ""},
      {"7999 Hz", wavBytes(layoutWith([](WavLayout& l) { l.sampleRate = 7999; }), samples),
       kErrUnsupportedWav, "sample rate 7999 Hz (8000 to 384000 expected)"},
      {"384001 Hz", wavBytes(layoutWith([](WavLayout& l) { l.sampleRate = 384001; }), samples),
       kErrUnsupportedWav, "sample rate 384001 Hz (8000 to 384000 expected)"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    AudioInput input;
    std::vector<float> read;
    std::string err;
    EXPECT_EQ(readBytes(test.file, input, read, err), test.code);
    const std::string kind = test.code == kErrBadWav ? "Bad" : "Unsupported";
    const std::string start = kind + " audio file 't.wav': ";
    EXPECT_EQ(err.rfind(start, 0), 0u) << err;
    if (!test.message.empty()) {
      EXPECT_EQ(err, start + test.message + "!\n\n");
    } else {
      EXPECT_GT(err.size(), start.size() + 4) << "no reason given";
    }
  }
}

TEST(DecodeAudioInput, MissingFileIsReportedAsUnopenable) {
  AudioInput input;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(openAudioInput(input, "/nonexistent/x.wav"), kErrOpenInput);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Can't open input file '/nonexistent/x.wav': No such file or directory!\n\n");
}

}  // namespace
