// Unit tests of the demodulator and the frame decoders on signals synthesised here, with
// cell lengths that are no whole number of samples, unlike anything tonbrix writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "decode/demodulator.h"
#include "decode/stream_decoder.h"
#include "support/tape_builder.h"

namespace {

using tape_builder::Bytes;

// Builds a signal from runs of levels; run lengths may be fractional and the edges are
// placed by area, as a band-limited recording would have them.
class Signal {
 public:
  Signal(double high, double low) : high_(high), low_(low) {}

  void run(bool highLevel, double length) {
    const double level = highLevel ? high_ : low_;
    const double end = time_ + length;
    while (static_cast<double>(samples_.size()) + 1 <= end) {
      const double start = std::max(time_, static_cast<double>(samples_.size()));
      partial_ += level * (static_cast<double>(samples_.size()) + 1 - start);
      samples_.push_back(static_cast<int16_t>(std::lround(partial_)));
      partial_ = 0;
    }
    partial_ += level * (end - std::max(time_, static_cast<double>(samples_.size())));
    time_ = end;
  }

  void silence(double length) {
    const double saved = high_;
    high_ = (high_ + low_) / 2;
    run(true, length);
    high_ = saved;
  }

  // PMD 85 cell: a mark starts high in normal phase.
  void pmdCell(bool mark, double cell, bool reversed) {
    run(mark != reversed, cell / 2);
    run(mark == reversed, cell / 2);
  }

  void pmdByte(uint32_t value, double cell, bool reversed, bool badStop = false) {
    pmdCell(false, cell, reversed);
    for (int bit = 0; bit < 8; ++bit) {
      pmdCell(((value >> bit) & 1) != 0, cell, reversed);
    }
    pmdCell(!badStop, cell, reversed);
    pmdCell(true, cell, reversed);
  }

  // Mato cell: mark is 3/5 of its period at the first level, space 1/3.
  void matoCell(bool mark, double space, bool reversed) {
    const double period = mark ? space * 5 / 3 : space;
    run(!reversed, mark ? period * 3 / 5 : period / 3);
    run(reversed, mark ? period * 2 / 5 : period * 2 / 3);
  }

  void matoByte(uint32_t value, double space, bool reversed) {
    matoCell(true, space, reversed);
    for (int bit = 0; bit < 8; ++bit) {
      matoCell(((value >> bit) & 1) != 0, space, reversed);
    }
  }

  const std::vector<int16_t>& samples() const { return samples_; }

 private:
  double high_;
  double low_;
  double time_ = 0;
  double partial_ = 0;
  std::vector<int16_t> samples_;
};

std::vector<float> floatsOf(const std::vector<int16_t>& samples) {
  return std::vector<float>(samples.begin(), samples.end());
}

Crossings demodulate(const std::vector<int16_t>& samples, int32_t sampleRate) {
  DemodulatorState state;
  startDemodulator(state, sampleRate);
  Crossings crossings;
  const std::vector<float> floats = floatsOf(samples);
  EXPECT_EQ(demodulateFloats(state, floats.data(), floats.size(), crossings), kOk);
  EXPECT_EQ(finishDemodulator(state, crossings), kOk);
  return crossings;
}

TEST(DecodeDemodulator, CrossingsFollowTheSwingWhateverItsOffsetSizeAndSign) {
  struct Case {
    double high;
    double low;
    int32_t firstRising;
  };
  const Case cases[] = {{20000, -20000, 0}, {9000, 7000, 0}, {-300, -500, 0}, {-8000, 8000, 1}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.high);
    Signal signal(test.high, test.low);
    signal.silence(50);
    for (int i = 0; i < 40; ++i) {
      signal.run(true, 7.25);
      signal.run(false, 7.25);
    }
    const Crossings crossings = demodulate(signal.samples(), 22050);
    // The swing out of silence is no crossing: there was no level before it.
    ASSERT_EQ(crossings.positions.size(), 79u);
    EXPECT_EQ(crossings.firstRising, test.firstRising);
    for (size_t i = 1; i < crossings.positions.size(); ++i) {
      EXPECT_NEAR(crossings.positions[i] - crossings.positions[i - 1], 7.25, 0.3) << i;
    }
  }
}

TEST(DecodeDemodulator, SilenceAndSmallRipplesMakeNoCrossings) {
  Signal signal(10000, -10000);
  for (int i = 0; i < 20; ++i) {
    signal.run(true, 10);
    signal.run(false, 10);
  }
  std::vector<int16_t> samples = signal.samples();
  for (int i = 0; i < 400; ++i) {
    samples.push_back(static_cast<int16_t>((i % 2) != 0 ? 900 : -900));  // 5 % ripple
  }
  samples.insert(samples.end(), 2000, 0);
  EXPECT_EQ(demodulate(samples, 22050).positions.size(), 39u);
}

TEST(DecodeDemodulator, FeedingInSlicesGivesTheSameCrossings) {
  Signal signal(5000, -5000);
  for (int i = 0; i < 100; ++i) {
    signal.run(true, 3.3 + (i % 3));
    signal.run(false, 4.1);
  }
  const Crossings whole = demodulate(signal.samples(), 11025);
  DemodulatorState state;
  startDemodulator(state, 11025);
  Crossings sliced;
  const std::vector<float> floats = floatsOf(signal.samples());
  for (size_t begin = 0; begin < floats.size(); begin += 37) {
    const size_t count = std::min<size_t>(37, floats.size() - begin);
    ASSERT_EQ(demodulateFloats(state, floats.data() + begin, count, sliced), kOk);
  }
  ASSERT_EQ(finishDemodulator(state, sliced), kOk);
  EXPECT_EQ(sliced.positions, whole.positions);
}

// Mains hum as loud as the signal moves the middle of the swing by most of the swing
// within a cell; taken out, the crossings fall where the signal's own edges are, fed
// whole or in slices. Block lengths that do not divide the hum filter's ring make its
// copies wrap mid-block.
TEST(DecodeDemodulator, HumAsLoudAsTheSignalLeavesTheCrossingsInPlace) {
  for (const int32_t rate : {8000, 22050, 48000, 96000}) {
    SCOPED_TRACE(rate);
    const double half = rate / 2400.0;  // samples per level
    std::vector<float> samples;
    for (int32_t i = 0; i < rate; ++i) {
      const double t = static_cast<double>(i) / rate;
      const double hum = 0.9 * std::sin(2 * M_PI * 50 * t) + 0.4 * std::sin(2 * M_PI * 150 * t);
      const bool high = static_cast<int64_t>((i + 0.5) / half) % 2 == 0;
      samples.push_back(static_cast<float>((high ? 0.7 : -0.7) + hum));
    }
    DemodulatorState state;
    startDemodulator(state, rate);
    Crossings sliced;
    for (size_t begin = 0; begin < samples.size(); begin += 1000) {
      const size_t count = std::min<size_t>(1000, samples.size() - begin);
      ASSERT_EQ(demodulateFloats(state, samples.data() + begin, count, sliced), kOk);
    }
    ASSERT_EQ(finishDemodulator(state, sliced), kOk);
    DemodulatorState wholeState;
    startDemodulator(wholeState, rate);
    Crossings whole;
    ASSERT_EQ(demodulateFloats(wholeState, samples.data(), samples.size(), whole), kOk);
    ASSERT_EQ(finishDemodulator(wholeState, whole), kOk);
    EXPECT_EQ(sliced.positions, whole.positions);
    // After the filter has settled, every crossing lies on an edge of the signal.
    size_t checked = 0;
    for (const double position : whole.positions) {
      if (position > rate / 2) {
        const double edges = (position + 0.5) / half;
        EXPECT_NEAR(edges, std::round(edges), 0.25) << position;
        ++checked;
      }
    }
    EXPECT_GT(checked, static_cast<size_t>(rate / half / 2 - 10));
  }
}

// The blocks of the whole signal, fed to the decoder at once.
std::vector<DecodedBlock> decodeSignal(const Signal& signal, int32_t sampleRate,
                                       TapeProtocol protocol = kProtocolAuto,
                                       TapePhase phase = kPhaseAuto) {
  StreamDecoder decoder;
  EXPECT_EQ(startStreamDecoder(decoder, sampleRate, protocol, phase), kOk);
  const std::vector<float> samples = floatsOf(signal.samples());
  EXPECT_EQ(feedSamples(decoder, samples.data(), samples.size()), kOk);
  EXPECT_EQ(finishStreamDecoder(decoder), kOk);
  return decoder.blocks;
}

std::vector<DecodedBlock> decodeSamples(const std::vector<int16_t>& samples,
                                        std::vector<double>* strayFrames = nullptr) {
  StreamDecoder decoder;
  EXPECT_EQ(startStreamDecoder(decoder, 22050, kProtocolAuto, kPhaseAuto), kOk);
  const std::vector<float> floats = floatsOf(samples);
  EXPECT_EQ(feedSamples(decoder, floats.data(), floats.size()), kOk);
  EXPECT_EQ(finishStreamDecoder(decoder), kOk);
  if (strayFrames != nullptr) {
    *strayFrames = decoder.stray.seconds;
  }
  return decoder.blocks;
}

// A header block whose header announces `data`: the header part then the body part.
// A PMD 85 header block up to its body: leader, header part, body leader.
void pmdHeaderUpToBody(Signal& signal, const tape_builder::Header& header, double cell,
                       bool reversed) {
  for (int i = 0; i < 3000; ++i) {
    signal.pmdCell(true, cell, reversed);
  }
  for (const uint8_t byte : tape_builder::headerPart(header)) {
    signal.pmdByte(byte, cell, reversed);
  }
  for (int i = 0; i < 600; ++i) {
    signal.pmdCell(true, cell, reversed);
  }
}

void pmdHeaderBlock(Signal& signal, const Bytes& data, double cell, bool reversed) {
  tape_builder::Header header;
  header.length = static_cast<uint16_t>(data.size() - 1);
  pmdHeaderUpToBody(signal, header, cell, reversed);
  for (const uint8_t byte : tape_builder::bodyPart(data)) {
    signal.pmdByte(byte, cell, reversed);
  }
  for (int i = 0; i < 600; ++i) {
    signal.pmdCell(true, cell, reversed);
  }
}

TEST(DecodePmdFrames, HeaderAndBodyAtAnyCellLengthAndPhase) {
  struct Case {
    double cell;  // samples per cell at 22050 Hz
    bool reversed;
    TapeProtocol protocol;
  };
  const Case cases[] = {{19.7, false, kProtocolPmd},
                        {16.4, true, kProtocolPmd},
                        {9.3, false, kProtocolPmdDouble},
                        {10.9, true, kProtocolPmdDouble}};
  const Bytes data = {0x00, 0xFF, 0x55, 0xAA, 0x01, 0x80};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.cell);
    Signal signal(12000, -12000);
    signal.silence(1000);
    pmdHeaderBlock(signal, data, test.cell, test.reversed);
    const std::vector<DecodedBlock> blocks = decodeSignal(signal, 22050);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].headerPart.size(), size_t{kHeaderPartLength});
    EXPECT_EQ(blocks[0].protocol, test.protocol);
    EXPECT_EQ(blocks[0].phase, test.reversed ? kPhaseReversed : kPhaseNormal);
    EXPECT_NEAR(blocks[0].cellRate, 22050 / test.cell, 1);
    EXPECT_EQ(blocks[0].body, tape_builder::bodyPart(data));
    EXPECT_EQ(blocks[0].info.bodyLengthError, -1);
    EXPECT_EQ(blocks[0].frameErrors, 0);
  }
}

TEST(DecodePmdFrames, BadStopBitIsCountedAndTheByteKept) {
  Signal signal(12000, -12000);
  for (int i = 0; i < 600; ++i) {
    signal.pmdCell(true, 18, false);
  }
  signal.pmdByte(0x12, 18, false);
  signal.pmdByte(0x34, 18, false, true);
  signal.pmdByte(0x56, 18, false);
  signal.silence(500);
  const std::vector<DecodedBlock> blocks = decodeSignal(signal, 22050);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].body, (Bytes{0x12, 0x34, 0x56}));
  EXPECT_EQ(blocks[0].frameErrors, 1);
}

// A headerless block with a broken frame is not whole: nothing confirms the byte guessed
// from it. A header block whose checksums pass is whole unless its frames broke often.
// Frames that all break after a leader are no block.
TEST(DecodePmdFrames, BlockWithManyBrokenFramesIsDamaged) {
  for (const int brokenEvery : {1, 4, 20, 41}) {
    SCOPED_TRACE(brokenEvery);
    Signal signal(12000, -12000);
    for (int i = 0; i < 600; ++i) {
      signal.pmdCell(true, 18, false);
    }
    for (int i = 1; i <= 40; ++i) {
      signal.pmdByte(static_cast<uint32_t>(i), 18, false, i % brokenEvery == 0);
    }
    signal.silence(500);
    const std::vector<DecodedBlock> blocks = decodeSignal(signal, 22050);
    ASSERT_EQ(blocks.size(), brokenEvery == 1 ? 0u : 1u);
    if (brokenEvery > 1) {
      EXPECT_EQ(blocks[0].frameErrors, 40 / brokenEvery);
      EXPECT_EQ(isDamaged(blocks[0]), brokenEvery <= 40);
    }
  }
  for (const int32_t frameErrors : {0, 1, 41, 42}) {
    SCOPED_TRACE(frameErrors);
    DecodedBlock block;
    block.headerPart.assign(kHeaderPartLength, 0);
    block.headerConfidence.assign(kHeaderPartLength, kByteCertain);
    block.body.assign(273, 0);
    block.bodyConfidence.assign(273, kByteUncertain);
    block.info.bodyLengthError = -1;
    block.frameErrors = frameErrors;
    EXPECT_EQ(isDamaged(block), frameErrors * 8 > 63 + 273);
  }
}

// A byte is as certain as its least clear cell: one crossing moved by `shift` units (half
// cells; thirds of a Mato space) grades the byte around it and no other.
TEST(DecodeConfidence, AByteIsGradedByHowFarItsCrossingsStrayFromWholeUnits) {
  struct Case {
    double shift;
    int lowest;  // bounds of the middle byte's confidence
    int highest;
  };
  const Case cases[] = {{0.1, 255, 255}, {0.3, 128, 254}, {0.42, 65, 127}};
  for (const bool mato : {false, true}) {
    for (const Case& test : cases) {
      SCOPED_TRACE(std::to_string(mato) + " " + std::to_string(test.shift));
      Signal signal(12000, -12000);
      signal.silence(500);
      const double unit = mato ? 7 : 9;
      for (int i = 0; i < 600; ++i) {
        mato ? signal.matoCell(false, 21, false) : signal.pmdCell(true, 18, false);
      }
      mato ? signal.matoByte(0x12, 21, false) : signal.pmdByte(0x12, 18, false);
      // The middle byte, 0x00: its first data cell's first level is longer by `shift`.
      mato ? signal.matoCell(true, 21, false) : signal.pmdCell(false, 18, false);
      signal.run(mato, (mato ? 7 : 9) + test.shift * unit);
      signal.run(!mato, (mato ? 14 : 9) - test.shift * unit);
      for (int bit = 1; bit < 8; ++bit) {
        mato ? signal.matoCell(false, 21, false) : signal.pmdCell(false, 18, false);
      }
      if (!mato) {
        signal.pmdCell(true, 18, false);
        signal.pmdCell(true, 18, false);
      }
      mato ? signal.matoByte(0x56, 21, false) : signal.pmdByte(0x56, 18, false);
      signal.silence(500);
      const std::vector<DecodedBlock> blocks = decodeSignal(signal, 22050);
      ASSERT_EQ(blocks.size(), 1u);
      ASSERT_EQ(blocks[0].body, (Bytes{0x12, 0x00, 0x56}));
      const std::vector<uint8_t>& confidence = blocks[0].bodyConfidence;
      EXPECT_EQ(confidence[0], kByteCertain);
      EXPECT_GE(confidence[1], test.lowest);
      EXPECT_LE(confidence[1], test.highest);
      EXPECT_EQ(confidence[2], kByteCertain);
    }
  }
}

TEST(DecodePmdFrames, ForcedPhaseOrProtocolRefusesTheOther) {
  Signal signal(12000, -12000);
  pmdHeaderBlock(signal, {1, 2, 3}, 18, false);
  EXPECT_EQ(decodeSignal(signal, 22050, kProtocolAuto, kPhaseNormal).size(), 1u);
  EXPECT_TRUE(decodeSignal(signal, 22050, kProtocolAuto, kPhaseReversed).empty());
  EXPECT_TRUE(decodeSignal(signal, 22050, kProtocolMato).empty());
}

// Header block, then a headerless block straight after the body, as tonbrix plays them.
TEST(DecodeMatoFrames, HeaderBodyAndHeaderlessBlockInEitherPhase) {
  const Bytes data = {0xFF, 0xFF, 0x00, 0x00, 0x55};
  tape_builder::Header header;
  header.length = static_cast<uint16_t>(data.size() - 1);
  const Bytes fields = tape_builder::headerBytes(header);
  for (const bool reversed : {false, true}) {
    SCOPED_TRACE(reversed);
    const double space = 19.3;  // 1142 Hz at 22050: 9 % fast
    Signal signal(-3000, -9000);
    signal.silence(800);
    for (int i = 0; i < 510; ++i) {
      signal.matoCell(false, space, reversed);
    }
    signal.matoByte(0x55, space, reversed);
    for (const uint8_t byte : fields) {
      signal.matoByte(byte, space, reversed);
    }
    for (int i = 0; i < 128; ++i) {
      signal.matoCell(false, space, reversed);
    }
    signal.matoCell(true, space, reversed);
    for (const uint8_t byte : tape_builder::bodyPart(data)) {
      signal.matoByte(byte, space, reversed);
    }
    for (int i = 0; i < 128; ++i) {
      signal.matoCell(false, space, reversed);
    }
    signal.matoByte(0x80, space, reversed);
    signal.silence(800);
    const std::vector<DecodedBlock> blocks = decodeSignal(signal, 22050);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].protocol, kProtocolMato);
    EXPECT_EQ(blocks[0].phase, reversed ? kPhaseReversed : kPhaseNormal);
    ASSERT_EQ(blocks[0].headerPart.size(), size_t{kHeaderPartLength});
    EXPECT_EQ(Bytes(blocks[0].headerPart.begin() + kSyncPatternLength, blocks[0].headerPart.end()),
              fields);
    EXPECT_EQ(blocks[0].body, tape_builder::bodyPart(data));
    EXPECT_TRUE(blocks[1].headerPart.empty());
    EXPECT_EQ(blocks[1].body, Bytes{0x80});
  }
}

TEST(DecodeMatoFrames, RunOfMarksInsideDataIsNoPilot) {
  Signal signal(8000, -8000);
  for (int i = 0; i < 200; ++i) {
    signal.matoCell(true, 21, false);
  }
  signal.matoCell(false, 21, false);
  signal.silence(500);
  EXPECT_TRUE(decodeSignal(signal, 22050).empty());
}

// A click in the silence after the last frame ends the period of the last cell at the
// wrong place; the cell's first level still tells what it was.
TEST(DecodeMatoFrames, LastCellBeforeAClickIsReadFromItsFirstLevel) {
  for (const uint32_t last : {0x01u, 0x81u}) {
    SCOPED_TRACE(last);
    Signal signal(10000, -10000);
    for (int i = 0; i < 128; ++i) {
      signal.matoCell(false, 21, false);
    }
    signal.matoByte(0x3C, 21, false);
    signal.matoByte(last, 21, false);
    signal.silence(15);  // a space's period would run 36 samples, like a mark's
    signal.run(true, 2);
    signal.silence(3000);
    const std::vector<DecodedBlock> blocks = decodeSignal(signal, 22050);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].body, (Bytes{0x3C, static_cast<uint8_t>(last)}));
  }
}

}  // namespace

namespace {

// A body of 0 or 1 bytes leaves no room for its checksum; it must still read as damaged.
TEST(DecodeBlocks, BodyTooShortForItsChecksumShowsItsLengthFault) {
  tape_builder::Header header;
  header.length = 47;
  TapePart headerPart;
  headerPart.protocol = kProtocolPmd;
  headerPart.isHeader = 1;
  headerPart.bytes = tape_builder::headerPart(header);
  headerPart.confidence.assign(headerPart.bytes.size(), kByteCertain);
  for (const size_t length : {size_t{0}, size_t{1}, size_t{49}}) {
    SCOPED_TRACE(length);
    TapePart body;
    body.isBody = 1;
    body.bytes = tape_builder::bodyPart(Bytes(48, 7));
    body.bytes.resize(length);
    body.confidence.assign(length, kByteCertain);
    DecodedBlock block;
    ASSERT_EQ(makeDecodedBlock(headerPart, &body, 22050, block), kOk);
    EXPECT_EQ(block.info.bodyLengthError >= 0, length != 49);
    EXPECT_EQ(countDamagedBlocks({block}), length != 49 ? 1 : 0);
  }
}

}  // namespace

namespace {

std::vector<DecodedBlock> blocksOf(const Signal& signal) { return decodeSignal(signal, 22050); }

void matoPilot(Signal& signal, int spaces, double space) {
  for (int i = 0; i < spaces; ++i) {
    signal.matoCell(false, space, false);
  }
}

void matoHeader(Signal& signal, const tape_builder::Header& header, double space) {
  matoPilot(signal, 510, space);
  signal.matoByte(0x55, space, false);
  for (const uint8_t byte : tape_builder::headerBytes(header)) {
    signal.matoByte(byte, space, false);
  }
}

// A Mato header block up to its body: pilot, header, body pilot and the mark that ends it.
void matoHeaderUpToBody(Signal& signal, const tape_builder::Header& header, double cell) {
  matoHeader(signal, header, cell);
  matoPilot(signal, 128, cell);
  signal.matoCell(true, cell, false);
}

// Bytes are never dropped without a word, and a lost body costs only its own block.
TEST(DecodeBlocks, CutBodiesAreMarkedAndALostBodyCostsNoOtherBlock) {
  tape_builder::Header header;
  header.length = 2;  // 3 data bytes and a checksum; 8 are recorded
  Signal pmd(9000, -9000);
  pmd.silence(500);
  pmdHeaderUpToBody(pmd, header, 18, false);
  for (const uint8_t byte : Bytes{1, 2, 3, 6, 9, 9, 9, 9}) {
    pmd.pmdByte(byte, 18, false);
  }
  pmd.silence(500);
  std::vector<DecodedBlock> blocks = blocksOf(pmd);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].body, (Bytes{1, 2, 3, 6}));
  EXPECT_GE(blocks[0].info.bodyLengthError, 0);

  // A Mato header whose body never came, then a whole header block: the second header
  // part follows a full pilot and is read whole, not cut to the first one's body.
  tape_builder::Header second;
  second.fileNumber = 2;
  second.length = 4;
  Signal mato(7000, -7000);
  mato.silence(500);
  matoHeader(mato, header, 21);
  mato.silence(2000);
  matoHeader(mato, second, 21);
  matoPilot(mato, 128, 21);
  mato.matoCell(true, 21, false);
  for (const uint8_t byte : tape_builder::bodyPart({5, 6, 7, 8, 9})) {
    mato.matoByte(byte, 21, false);
  }
  mato.silence(500);
  blocks = blocksOf(mato);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].info.bodyLengthError, 0);
  EXPECT_EQ(blocks[1].info.fileNumber, 2);
  EXPECT_EQ(blocks[1].body, tape_builder::bodyPart({5, 6, 7, 8, 9}));
  EXPECT_EQ(countDamagedBlocks(blocks), 1);
}

// After a full body, only a whole frame more makes it too long: a coupling capacitor's
// swing back after the last waveform, then hiss, looks like a start bit but no frame.
TEST(DecodeBlocks, MatoBodyIsLongOnlyWhereAWholeFrameFollowsIt) {
  tape_builder::Header header;
  header.length = 2;
  for (const bool frameFollows : {false, true}) {
    SCOPED_TRACE(frameFollows);
    Signal mato(7000, -7000);
    mato.silence(500);
    matoHeader(mato, header, 21);
    matoPilot(mato, 128, 21);
    mato.matoCell(true, 21, false);
    for (const uint8_t byte : tape_builder::bodyPart({5, 6, 7})) {
      mato.matoByte(byte, 21, false);
    }
    if (frameFollows) {
      mato.matoByte(0x77, 21, false);
    } else {
      mato.run(true, 25);
      for (const double pulse : {6.5, 5.8, 4.9, 7.2, 5.1, 6.3}) {
        mato.run(false, pulse);
        mato.run(true, pulse - 1.5);
      }
    }
    mato.silence(500);
    const std::vector<DecodedBlock> blocks = blocksOf(mato);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].body, tape_builder::bodyPart({5, 6, 7}));
    EXPECT_EQ(blocks[0].info.bodyLengthError >= 0, frameFollows);
  }
}

// Noise that splits a level of the pilot near its end with a stray pulse leaves too short
// a run after it to lead in; the run before it still does.
TEST(DecodeMatoFrames, PilotSplitByAStrayPulseStillLeadsIn) {
  Signal mato(7000, -7000);
  mato.silence(500);
  matoPilot(mato, 110, 21);
  mato.run(true, 7);
  mato.run(false, 8.5);
  mato.run(true, 2.7);
  mato.run(false, 2.8);
  matoPilot(mato, 17, 21);
  for (const uint8_t byte : Bytes{0x12, 0x34, 0x56}) {
    mato.matoByte(byte, 21, false);
  }
  mato.silence(500);
  const std::vector<DecodedBlock> blocks = blocksOf(mato);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].body, (Bytes{0x12, 0x34, 0x56}));
}

// Noise that moves the middles of two cells in a row far from the clock breaks a frame
// the cell walk cannot repair; the frames on either side place its cells, and the byte
// is read from the halves of each, uncertain.
TEST(DecodePmdFrames, FrameBrokenTwiceInARowIsReadByTheClock) {
  const Bytes data = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  tape_builder::Header header;
  header.length = static_cast<uint16_t>(data.size() - 1);
  Signal signal(9000, -9000);
  signal.silence(500);
  pmdHeaderUpToBody(signal, header, 18, false);
  const Bytes body = tape_builder::bodyPart(data);
  for (size_t b = 0; b < body.size(); ++b) {
    for (int cell = 0; cell < 11; ++cell) {
      const bool mark = cell == 0 ? false : cell > 8 || ((body[b] >> (cell - 1)) & 1) != 0;
      // The fourth byte's third and fourth data cells have their middles 0.42 cell late.
      const double shift = b == 3 && (cell == 3 || cell == 4) ? 0.42 * 18 : 0;
      signal.run(mark, 9 + shift);
      signal.run(!mark, 9 - shift);
    }
  }
  for (int i = 0; i < 600; ++i) {
    signal.pmdCell(true, 18, false);
  }
  signal.silence(500);
  const std::vector<DecodedBlock> blocks = blocksOf(signal);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].body, body);
  EXPECT_EQ(countUnknownBytes(blocks[0]), 0);
}

// Fed in slices of any size, the streaming decoder finds the blocks a whole decode finds,
// also where noise makes it look far ahead to place cells.
TEST(DecodeStream, SlicesGiveTheBlocksOfTheWholeRecording) {
  Signal signal(12000, -12000);
  signal.silence(1000);
  pmdHeaderBlock(signal, {9, 8, 7, 6, 5}, 17.3, true);
  tape_builder::Header header;
  header.length = 1;
  matoHeaderUpToBody(signal, header, 20.2);
  for (const uint8_t byte : tape_builder::bodyPart({0xAA, 0x55})) {
    signal.matoByte(byte, 20.2, false);
  }
  pmdHeaderBlock(signal, Bytes(300, 0x5A), 9.2, false);
  signal.silence(1000);
  std::vector<float> clean(signal.samples().begin(), signal.samples().end());
  std::vector<float> noisy = clean;
  std::mt19937 random(5);
  std::normal_distribution<float> hiss(0, 6000);  // 6 dB below the signal
  for (float& sample : noisy) {
    sample += hiss(random);
  }
  for (const std::vector<float>* samples : {&clean, &noisy}) {
    std::vector<DecodedBlock> whole;
    for (const size_t slice : {samples->size(), size_t{1}, size_t{997}}) {
      SCOPED_TRACE(slice);
      StreamDecoder decoder;
      ASSERT_EQ(startStreamDecoder(decoder, 22050, kProtocolAuto, kPhaseAuto), kOk);
      for (size_t begin = 0; begin < samples->size(); begin += slice) {
        ASSERT_EQ(
            feedSamples(decoder, samples->data() + begin, std::min(slice, samples->size() - begin)),
            kOk);
      }
      ASSERT_EQ(finishStreamDecoder(decoder), kOk);
      if (whole.empty()) {
        whole = decoder.blocks;
        ASSERT_EQ(whole.size(), 3u);
      }
      ASSERT_EQ(decoder.blocks.size(), whole.size());
      for (size_t i = 0; i < whole.size(); ++i) {
        EXPECT_EQ(decoder.blocks[i].headerPart, whole[i].headerPart);
        EXPECT_EQ(decoder.blocks[i].body, whole[i].body);
        EXPECT_EQ(decoder.blocks[i].bodyConfidence, whole[i].bodyConfidence);
        EXPECT_EQ(decoder.blocks[i].startSeconds, whole[i].startSeconds);
      }
    }
  }
}

// A PMD 85 or Mato body long enough to be read in many reads, each going on from where the
// last one stopped, with the crossings read past let go: whatever the slices, every byte, grade,
// time and measure comes out as from one read of the whole, and the window of crossings
// stays far smaller than the body. Noise and a dropout put repairs, lost frames and a
// bridged gap into it.
TEST(DecodeStream, ALongBodyReadOnInPiecesGivesTheBlockOfOneRead) {
  const Bytes data = tape_builder::patternBytes(24000, 7);
  tape_builder::Header header;
  header.length = static_cast<uint16_t>(data.size() - 1);
  for (const bool mato : {false, true}) {
    for (const bool damaged : {false, true}) {
      SCOPED_TRACE(std::string(mato ? "Mato" : "PMD 85") + (damaged ? ", damaged" : ""));
      Signal signal(12000, -12000);
      signal.silence(1000);
      if (mato) {
        matoHeaderUpToBody(signal, header, 20.6);
        for (const uint8_t byte : tape_builder::bodyPart(data)) {
          signal.matoByte(byte, 20.6, false);
        }
        matoPilot(signal, 128, 20.6);
      } else {
        pmdHeaderBlock(signal, data, 9.2, false);
      }
      signal.silence(1000);
      std::vector<float> samples(signal.samples().begin(), signal.samples().end());
      if (damaged) {
        std::mt19937 random(3);
        std::normal_distribution<float> hiss(0, 4000);
        for (float& sample : samples) {
          sample += hiss(random);
        }
        std::fill_n(samples.begin() + static_cast<std::ptrdiff_t>(samples.size() * 2 / 3), 3000,
                    0.0F);
      }
      std::vector<DecodedBlock> whole;
      for (const size_t slice : {samples.size(), size_t{4099}}) {
        SCOPED_TRACE(slice);
        StreamDecoder decoder;
        ASSERT_EQ(startStreamDecoder(decoder, 22050, kProtocolAuto, kPhaseAuto), kOk);
        size_t window = 0;
        for (size_t begin = 0; begin < samples.size(); begin += slice) {
          const size_t count = std::min(slice, samples.size() - begin);
          ASSERT_EQ(feedSamples(decoder, samples.data() + begin, count), kOk);
          window = std::max(window, decoder.crossings.positions.kept.size());
        }
        ASSERT_EQ(finishStreamDecoder(decoder), kOk);
        ASSERT_EQ(decoder.blocks.size(), 1u);
        EXPECT_LT(window, decoder.crossings.positions.size() / 2);
        if (whole.empty()) {
          whole = decoder.blocks;
          EXPECT_EQ(whole[0].info.bodyChecksumError, damaged ? 1 : 0);
          continue;
        }
        const DecodedBlock& block = decoder.blocks[0];
        EXPECT_EQ(block.body, whole[0].body);
        EXPECT_EQ(block.bodyConfidence, whole[0].bodyConfidence);
        EXPECT_EQ(*block.bodyTimes.offsets, *whole[0].bodyTimes.offsets);
        EXPECT_EQ(block.endSeconds, whole[0].endSeconds);
        EXPECT_EQ(block.swing, whole[0].swing);
        EXPECT_EQ(block.cellSpread, whole[0].cellSpread);
      }
    }
  }
}

}  // namespace

namespace {

// A dropout inside a 6 KB body costs only the bytes under it: the block keeps its length,
// its checksum fails, and every byte outside the dropout comes back.
TEST(DecodeDropouts, OneDropoutInALongBodyCostsOnlyTheBytesUnderIt) {
  struct Case {
    const char* name;
    bool mato;
    double cell;  // samples per PMD 85 cell or Mato space at 22050 Hz
    bool noise;   // the dropout hisses instead of falling silent
  };
  const Case cases[] = {{"PMD 85", false, 18.4, false},
                        {"PMD 85 noise", false, 18.4, true},
                        {"double speed", false, 9.2, true},
                        {"Mato", true, 21, false},
                        {"Mato noise", true, 20.6, true}};
  const Bytes data = tape_builder::patternBytes(6000, 11);
  tape_builder::Header header;
  header.length = static_cast<uint16_t>(data.size() - 1);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    Signal signal(11000, -11000);
    signal.silence(1000);
    if (test.mato) {
      matoHeaderUpToBody(signal, header, test.cell);
      for (const uint8_t byte : tape_builder::bodyPart(data)) {
        signal.matoByte(byte, test.cell, false);
      }
      matoPilot(signal, 128, test.cell);
    } else {
      pmdHeaderBlock(signal, data, test.cell, false);
    }
    signal.silence(1000);
    // 100 ms somewhere in the middle of the body.
    std::vector<int16_t> samples = signal.samples();
    const size_t dropout = 2205;
    const size_t at = samples.size() / 2 + 777;
    const double dropoutBytes =
        static_cast<double>(dropout) / (test.cell * (test.mato ? 12.3 : 11));
    std::mt19937 random(5);
    std::normal_distribution<double> hiss(0, 1500);
    for (size_t i = at; i < at + dropout; ++i) {
      samples[i] = test.noise ? static_cast<int16_t>(hiss(random)) : 0;
    }
    StreamDecoder decoder;
    ASSERT_EQ(startStreamDecoder(decoder, 22050, kProtocolAuto, kPhaseAuto), kOk);
    const std::vector<float> floats = floatsOf(samples);
    ASSERT_EQ(feedSamples(decoder, floats.data(), floats.size()), kOk);
    ASSERT_EQ(finishStreamDecoder(decoder), kOk);
    ASSERT_EQ(decoder.blocks.size(), 1u);
    const DecodedBlock& block = decoder.blocks[0];
    const Bytes expected = tape_builder::bodyPart(data);
    ASSERT_EQ(block.body.size(), expected.size());
    EXPECT_EQ(block.info.bodyLengthError, -1);
    EXPECT_EQ(block.info.bodyChecksumError, 1);
    EXPECT_TRUE(isDamaged(block));
    // The bytes that differ lie together, no more of them than the dropout spans (and the
    // frames at its two edges); each is marked unknown or uncertain.
    const double byteSamples = test.cell * (test.mato ? 12.3 : 11);
    size_t first = expected.size();
    size_t last = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
      if (block.body[i] != expected[i]) {
        first = std::min(first, i);
        last = i;
        EXPECT_LT(block.bodyConfidence[i], kMinCertainByte) << i;
      }
    }
    ASSERT_LT(first, expected.size());
    EXPECT_LE(static_cast<double>(last - first + 1), dropoutBytes + 3);
    EXPECT_NEAR(countUnknownBytes(block), dropoutBytes, 3);
    EXPECT_NEAR(firstUnknownSeconds(block), static_cast<double>(at) / 22050,
                2 * byteSamples / 22050);
  }
}

}  // namespace

namespace {

// Where two dropouts in one body hide a change of speed, the frames each held can only be
// estimated: the bytes between them may sit a place off, and are not called read.
TEST(DecodeDropouts, BytesPlacedOnlyByAnEstimateAreNotCalledRead) {
  struct Case {
    const char* name;
    bool mato;
    double cell;  // samples per PMD 85 cell or Mato space at 22050 Hz
  };
  const Case cases[] = {{"PMD 85", false, 18.4}, {"double speed", false, 9.2}, {"Mato", true, 21}};
  const Bytes data = tape_builder::patternBytes(3000, 7);
  const Bytes expected = tape_builder::bodyPart(data);
  tape_builder::Header header;
  header.length = static_cast<uint16_t>(data.size() - 1);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    Signal signal(11000, -11000);
    signal.silence(1000);
    if (test.mato) {
      matoHeaderUpToBody(signal, header, test.cell);
    } else {
      pmdHeaderUpToBody(signal, header, test.cell, false);
    }
    // The tape runs 2 % faster in the middle third, and each change hides in a dropout.
    std::vector<size_t> steps;
    for (size_t i = 0; i < expected.size(); ++i) {
      if (i % 1000 == 0 && i > 0) {
        steps.push_back(signal.samples().size());
      }
      const double cell = i >= 1000 && i < 2000 ? test.cell / 1.02 : test.cell;
      if (test.mato) {
        signal.matoByte(expected[i], cell, false);
      } else {
        signal.pmdByte(expected[i], cell, false);
      }
    }
    for (int i = 0; i < 600; ++i) {
      test.mato ? signal.matoCell(false, test.cell, false) : signal.pmdCell(true, test.cell, false);
    }
    signal.silence(1000);
    std::vector<int16_t> samples = signal.samples();
    for (const size_t step : steps) {
      std::fill(samples.begin() + static_cast<std::ptrdiff_t>(step - 4000),
                samples.begin() + static_cast<std::ptrdiff_t>(step + 4000), int16_t{0});
    }
    const std::vector<DecodedBlock> blocks = decodeSamples(samples);
    ASSERT_EQ(blocks.size(), 1u);
    const DecodedBlock& block = blocks[0];
    EXPECT_TRUE(isDamaged(block));
    size_t uncertain = 0;
    for (size_t i = 0; i < std::min(block.body.size(), expected.size()); ++i) {
      if (block.bodyConfidence[i] >= kMinCertainByte) {
        ASSERT_EQ(block.body[i], expected[i]) << "byte " << i << " is called read";
      }
      uncertain += block.bodyConfidence[i] != kByteUnknown &&
                   block.bodyConfidence[i] < kMinCertainByte;
    }
    // Between the dropouts, nothing fixes a byte's place.
    EXPECT_GT(uncertain, 900u);
  }
}

// A PMD 85 header block of `body` and a headerless block after it, each with its leader;
// `bodyStart` and `headerlessStart` receive the samples where their first frames begin.
Signal headerBlockThenHeaderless(const Bytes& body, const Bytes& headerless, double cell,
                                 size_t& bodyStart, size_t& headerlessStart) {
  tape_builder::Header header;
  header.length = static_cast<uint16_t>(body.size() - 1);
  Signal signal(11000, -11000);
  signal.silence(1000);
  pmdHeaderUpToBody(signal, header, cell, false);
  bodyStart = signal.samples().size();
  for (const uint8_t byte : tape_builder::bodyPart(body)) {
    signal.pmdByte(byte, cell, false);
  }
  for (int i = 0; i < 600; ++i) {
    signal.pmdCell(true, cell, false);
  }
  headerlessStart = signal.samples().size();
  for (const uint8_t byte : headerless) {
    signal.pmdByte(byte, cell, false);
  }
  for (int i = 0; i < 600; ++i) {
    signal.pmdCell(true, cell, false);
  }
  signal.silence(1000);
  return signal;
}

// A body whose leader and first 1.5 s a dropout took is lost; the block after it is not
// taken for it, and the frames after the dropout say that a block may be missing there.
// Dropouts that are bridged, and the silence between blocks, say nothing.
TEST(DecodeDropouts, ABodyWhoseLeaderWasLostIsNotReplacedByTheNextBlock) {
  const double cell = 18.4;
  const Bytes body = tape_builder::patternBytes(500, 3);
  const Bytes headerless = tape_builder::patternBytes(300, 4);
  size_t bodyStart = 0;
  size_t headerlessStart = 0;
  const Signal signal = headerBlockThenHeaderless(body, headerless, cell, bodyStart, headerlessStart);
  const auto leader = static_cast<std::ptrdiff_t>(600 * cell);
  struct Case {
    const char* name;
    std::ptrdiff_t lostAfterLeader;  // samples of the body lost after its leader
    size_t blocks;
    size_t stray;
  };
  const Case cases[] = {{"1.5 s of the body lost", 33075, 2, 1},
                        {"half a second of it lost, bridged", 11025, 2, 0},
                        {"nothing lost", -leader, 2, 0}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::vector<int16_t> samples = signal.samples();
    const auto at = static_cast<std::ptrdiff_t>(bodyStart);
    const std::ptrdiff_t from = at - leader + 100;
    std::fill(samples.begin() + from, samples.begin() + std::max(from, at + test.lostAfterLeader),
              int16_t{0});
    std::vector<double> stray;
    const std::vector<DecodedBlock> blocks = decodeSamples(samples, &stray);
    ASSERT_EQ(blocks.size(), test.blocks);
    ASSERT_EQ(stray.size(), test.stray);
    EXPECT_EQ(blocks[1].body, headerless);
    if (test.stray > 0) {
      EXPECT_TRUE(blocks[0].body.empty());
      EXPECT_GE(blocks[0].info.bodyLengthError, 0);
      EXPECT_NEAR(stray[0], static_cast<double>(at + test.lostAfterLeader) / 22050, 0.05);
    }
  }
}

// A recording that stops while a headerless block still plays cut it: the block says so.
// One whose signal stopped a while before the end had ended.
TEST(DecodeBlocks, ARecordingThatEndsInsideABlockMarksItCut) {
  struct Case {
    const char* name;
    bool mato;
    double silenceAfter;  // samples after the last frame written
    bool cut;
  };
  const Case cases[] = {{"PMD 85 cut", false, 0, true},
                        {"PMD 85 then silence", false, 22050, false},
                        {"Mato cut", true, 0, true},
                        {"Mato then silence", true, 22050, false}};
  const Bytes data = tape_builder::patternBytes(250, 9);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    Signal signal(11000, -11000);
    signal.silence(1000);
    for (int i = 0; i < 600; ++i) {
      test.mato ? signal.matoCell(false, 21, false) : signal.pmdCell(true, 18.4, false);
    }
    for (const uint8_t byte : data) {
      test.mato ? signal.matoByte(byte, 21, false) : signal.pmdByte(byte, 18.4, false);
    }
    signal.silence(test.silenceAfter);
    const std::vector<DecodedBlock> blocks = decodeSignal(signal, 22050);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].body, data);
    EXPECT_EQ(blocks[0].info.bodyLengthError >= 0, test.cut);
  }
}

// A header whose length field a dropout damaged fails its checksum; the body is read as
// far as its frames go, not cut to the broken length.
TEST(DecodeBlocks, ADamagedHeaderDoesNotCutItsBody) {
  const double cell = 18.4;
  const Bytes data = tape_builder::patternBytes(800, 5);
  tape_builder::Header header;
  header.length = static_cast<uint16_t>(data.size() - 1);
  Bytes headerPart = tape_builder::headerPart(header);
  headerPart[kSyncPatternLength + kHeaderBodyLength + 1] = 0;  // announces 33 bytes
  Signal signal(11000, -11000);
  signal.silence(1000);
  for (int i = 0; i < 3000; ++i) {
    signal.pmdCell(true, cell, false);
  }
  for (const uint8_t byte : headerPart) {
    signal.pmdByte(byte, cell, false);
  }
  for (int i = 0; i < 600; ++i) {
    signal.pmdCell(true, cell, false);
  }
  for (const uint8_t byte : tape_builder::bodyPart(data)) {
    signal.pmdByte(byte, cell, false);
  }
  for (int i = 0; i < 600; ++i) {
    signal.pmdCell(true, cell, false);
  }
  const std::vector<DecodedBlock> blocks = decodeSignal(signal, 22050);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].info.headerChecksumError, 1);
  EXPECT_EQ(blocks[0].body, tape_builder::bodyPart(data));
  EXPECT_TRUE(isDamaged(blocks[0]));
}

// A dropout in the sync pattern leaves a header whose checksum passes: still a header.
TEST(DecodeBlocks, AHeaderWhoseSyncPatternADropoutTookIsStillAHeader) {
  const double cell = 18.4;
  const Bytes data = tape_builder::patternBytes(200, 6);
  Signal signal(11000, -11000);
  signal.silence(1000);
  const size_t start = signal.samples().size();
  pmdHeaderBlock(signal, data, cell, false);
  signal.silence(1000);
  std::vector<int16_t> samples = signal.samples();
  // 12 of the pattern's 16 bytes 0xFF, after the 2.8 s leader.
  const auto syncMiddle =
      static_cast<std::ptrdiff_t>(static_cast<double>(start) + 3000 * cell + 8 * 11 * cell);
  std::fill(samples.begin() + syncMiddle - 1200, samples.begin() + syncMiddle + 1200, int16_t{0});
  const std::vector<DecodedBlock> blocks = decodeSamples(samples);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].headerPart.size(), static_cast<size_t>(kHeaderPartLength));
  EXPECT_EQ(blocks[0].body, tape_builder::bodyPart(data));
}

// A dropout that takes a leader and the first frames after it leaves the frames that
// follow to their own block: a header's body is filled up at its start and placed from
// its end, a headerless block is kept, cut, its bytes without a known place.
TEST(DecodeDropouts, FramesAfterADropoutThatTookTheirLeaderKeepTheirBlock) {
  const double cell = 18.4;
  const Bytes body = tape_builder::patternBytes(400, 3);
  const Bytes headerless = tape_builder::patternBytes(300, 4);
  size_t bodyStart = 0;
  size_t headerlessStart = 0;
  const Signal signal = headerBlockThenHeaderless(body, headerless, cell, bodyStart, headerlessStart);
  // Each leader and 20 frames after it.
  std::vector<int16_t> samples = signal.samples();
  const auto leader = static_cast<std::ptrdiff_t>(600 * cell);
  const auto frames = static_cast<std::ptrdiff_t>(20 * 11 * cell);
  for (const size_t start : {bodyStart, headerlessStart}) {
    const auto at = static_cast<std::ptrdiff_t>(start);
    std::fill(samples.begin() + at - leader + 100, samples.begin() + at + frames, int16_t{0});
  }
  const std::vector<DecodedBlock> blocks = decodeSamples(samples);
  ASSERT_EQ(blocks.size(), 2u);
  const DecodedBlock& block = blocks[0];
  const Bytes expected = tape_builder::bodyPart(body);
  ASSERT_EQ(block.headerPart.size(), static_cast<size_t>(kHeaderPartLength));
  ASSERT_EQ(block.body.size(), expected.size());
  // The 20 frames under the dropout and the one at its edge.
  const size_t lost = static_cast<size_t>(
      std::count(block.bodyConfidence.begin(), block.bodyConfidence.end(), kByteUnknown));
  EXPECT_TRUE(lost == 20 || lost == 21) << lost;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(block.bodyConfidence[i] == kByteUnknown, i < lost) << i;
    EXPECT_TRUE(i < lost || block.body[i] == expected[i]) << i;
  }
  const DecodedBlock& rest = blocks[1];
  EXPECT_GE(rest.info.bodyLengthError, 0);
  ASSERT_NEAR(static_cast<double>(rest.body.size()), 279.5, 0.5);
  EXPECT_TRUE(std::equal(rest.body.begin(), rest.body.end(), headerless.end() - static_cast<std::ptrdiff_t>(rest.body.size())));
  EXPECT_TRUE(std::all_of(rest.bodyConfidence.begin(), rest.bodyConfidence.end(),
                          [](uint8_t grade) { return grade < kMinCertainByte; }));
}

// A dropout from the last header byte into the body's first frames joins them in one
// part: it is cut back to the header, and the body after the dropout keeps the block.
TEST(DecodeDropouts, AHeaderJoinedToItsBodyByADropoutIsSplit) {
  const double cell = 18.4;
  const Bytes data = tape_builder::patternBytes(400, 8);
  tape_builder::Header header;
  header.length = static_cast<uint16_t>(data.size() - 1);
  Signal signal(11000, -11000);
  signal.silence(1000);
  pmdHeaderUpToBody(signal, header, cell, false);
  const auto bodyStart = static_cast<std::ptrdiff_t>(signal.samples().size());
  for (const uint8_t byte : tape_builder::bodyPart(data)) {
    signal.pmdByte(byte, cell, false);
  }
  for (int i = 0; i < 600; ++i) {
    signal.pmdCell(true, cell, false);
  }
  std::vector<int16_t> samples = signal.samples();
  const auto frame = static_cast<std::ptrdiff_t>(11 * cell);
  const auto leader = static_cast<std::ptrdiff_t>(600 * cell);
  std::fill(samples.begin() + bodyStart - leader - frame / 2, samples.begin() + bodyStart + 10 * frame,
            int16_t{0});
  const std::vector<DecodedBlock> blocks = decodeSamples(samples);
  ASSERT_EQ(blocks.size(), 1u);
  const DecodedBlock& block = blocks[0];
  EXPECT_EQ(block.headerPart.size(), static_cast<size_t>(kHeaderPartLength));
  const Bytes expected = tape_builder::bodyPart(data);
  ASSERT_GT(block.body.size(), expected.size() - 15);
  ASSERT_LE(block.body.size(), expected.size());
  EXPECT_TRUE(std::equal(block.body.end() - 300, block.body.end(), expected.end() - 300));
}

}  // namespace
