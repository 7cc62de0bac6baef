// Tests of block access by number and of the -list output.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/tape_builder.h"
#include "support/temp_dir.h"
#include "tape/tape_image.h"

namespace {

using tape_builder::Bytes;
using tape_builder::Header;
using tape_builder::TapeImage;

Header makeHeader(uint8_t fileNumber, char fileType, uint16_t beginAddress, std::string name,
                  uint16_t length = 0, bool badChecksum = false) {
  return {fileNumber, fileType, beginAddress, length, std::move(name), badChecksum};
}

Bytes slice(const Bytes& bytes, size_t from, size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

Bytes join(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// Ten blocks, one of each kind the listing and the block access tell apart.
class TapeAccessTest : public TempDirTest {
 protected:
  void SetUp() override {
    image
        .headerBlock(h1, d1)                   // 1: no marks
        .headerBlock(h2, d2)                   // 2: HCE
        .headerBlock(h3, d3, true)             // 3: BCE, name cut at a zero
        .headerlessBlock(d4)                   // 4: 300 bytes
        .record(tape_builder::headerPart(h5))  // 5: body record too long: BLE
        .record(d5)
        .headerBlock(h6, d6)                   // 6: type byte 0
        .record(tape_builder::headerPart(h7))  // 7: body record of 1 byte: BLE
        .record(d7)
        .headerlessBlock({})                    // 8: empty record
        .headerlessBlock(d9)                    // 9: 30 bytes
        .record(tape_builder::headerPart(h10))  // 10: body record of 2 bytes
        .record(tape_builder::patternBytes(2, 10));
    path = dir.file("tape.img");
    ASSERT_TRUE(image.writeTo(path));
    job.inputPath = path.c_str();
    testing::internal::CaptureStdout();
    const int32_t status = scanTape(job);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(status, kOk);
    ASSERT_EQ(job.blockCount, 10);
  }

  std::string list(const std::vector<int32_t>& selection, std::string& err) {
    job.selection = selection;
    job.selectionCount = static_cast<int32_t>(selection.size());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    listTape(job);
    err = testing::internal::GetCapturedStderr();
    return testing::internal::GetCapturedStdout();
  }

  const Header h1 = makeHeader(3, 'B', 512, "DEMO");
  const Header h2 = makeHeader(12, 'M', 0x8000, "GAME", 0, true);
  const Header h3 = makeHeader(0, 'C', 0, std::string("AB\0CDEFG", 8));
  const Header h5 = makeHeader(255, 'x', 0xFFFF, "LONGNAME9", 20);
  const Header h6 = makeHeader(7, 0, 0x1234, "ZERO");
  const Header h7 = makeHeader(1, 'B', 0x200, "NAME", 20);
  const Header h10 = makeHeader(4, 'D', 0x10, "ZEROLEN", 5);
  const Bytes d1 = tape_builder::patternBytes(512, 1);
  const Bytes d2 = tape_builder::patternBytes(3, 2);
  const Bytes d3 = tape_builder::patternBytes(1, 3);
  const Bytes d4 = tape_builder::patternBytes(300, 4);
  const Bytes d5 = tape_builder::patternBytes(100, 5);
  const Bytes d6 = tape_builder::patternBytes(3, 6);
  const Bytes d7 = tape_builder::patternBytes(1, 7);
  const Bytes d9 = tape_builder::patternBytes(30, 9);
  TapeImage image;
  std::string path;
  ConversionJob job;
};

TEST_F(TapeAccessTest, ReadBlockPartCopiesTheBytesEachPartStandsFor) {
  const struct {
    int32_t number;
    int32_t wantHeader;
    int32_t useMato;
    Bytes expected;
  } cases[] = {
      {1, 1, 0, tape_builder::headerPart(makeHeader(3, 'B', 512, "DEMO", 511))},
      {1, 1, 1, tape_builder::headerBytes(makeHeader(3, 'B', 512, "DEMO", 511))},
      {1, 0, 0, tape_builder::bodyPart(d1)},
      {1, 0, 1, tape_builder::bodyPart(d1)},
      {2, 1, 1, tape_builder::headerBytes(makeHeader(12, 'M', 0x8000, "GAME", 2, true))},
      {3, 0, 0, tape_builder::bodyPart(d3, true)},
      {4, 1, 0, d4},
      {4, 1, 1, d4},
      {4, 0, 0, d4},
      // The marks do not change what is read: length + 2 bytes from the body's start.
      {5, 0, 0, slice(d5, 0, 22)},
      {6, 1, 0, slice(tape_builder::bodyPart(d6), 0, 2)},
      {6, 0, 1, slice(tape_builder::bodyPart(d6), 0, 2)},
      // A body record shorter than the header says: the read runs on into the next records.
      {7, 0, 0, join(join(d7, {0, 0, 30, 0}), slice(d9, 0, 17))},
      {8, 1, 0, {}},
      {8, 0, 0, {}},
      {9, 0, 0, d9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("block " + std::to_string(c.number) + " header " + std::to_string(c.wantHeader) +
                 " mato " + std::to_string(c.useMato));
    job.useMato = c.useMato;
    job.blockBuffer->assign(job.blockBuffer->size(), 0xEE);
    const TapeBlock* block = nullptr;
    const int32_t count = readBlockPart(job, c.number, c.wantHeader, block);
    ASSERT_EQ(count, static_cast<int32_t>(c.expected.size()));
    EXPECT_EQ(slice(*job.blockBuffer, 0, c.expected.size()), c.expected);
    EXPECT_EQ(block, &job.blocks[static_cast<size_t>(c.number - 1)]);
  }
}

TEST_F(TapeAccessTest, ABlockNumberWithoutBlockIsReportedAndLeavesThePlaceAlone) {
  for (const int32_t number : {0, -1, 11, 2147483647}) {
    const TapeBlock sentinel;
    const TapeBlock* block = &sentinel;
    testing::internal::CaptureStderr();
    EXPECT_EQ(readBlockPart(job, number, 1, block), kErrBadBlock);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Bad block number: " + std::to_string(number) + "\n\n");
    EXPECT_EQ(block, &sentinel);
  }
  const TapeBlock* found = nullptr;
  ASSERT_EQ(findBlock(job, 10, found), kOk);
  EXPECT_EQ(found, &job.blocks.back());
}

TEST_F(TapeAccessTest, AFailedReadStillHandsBackTheRecord) {
  ASSERT_TRUE(TapeImage().raw(slice(image.bytes(), 0, 100)).writeTo(path));
  const TapeBlock* block = nullptr;
  testing::internal::CaptureStderr();
  EXPECT_EQ(readBlockPart(job, 4, 0, block), kErrReadInput);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Can't read from the input file '" + path + "'!\n\n");
  EXPECT_EQ(block, &job.blocks[3]);

  ASSERT_EQ(std::remove(path.c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(readBlockPart(job, 1, 1, block), kErrOpenInput);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't open input file '" + path + "'!\n\n");
  EXPECT_EQ(block, &job.blocks[0]);
}

TEST_F(TapeAccessTest, ReadFileRangeCopiesExactlyOrReportsWhy) {
  const struct {
    int64_t offset;
    int32_t count;
    int32_t status;
    const char* message;  // followed by the quoted file name
  } cases[] = {
      {0, 100, kOk, nullptr},
      {static_cast<int64_t>(image.size()) - 5, 5, kOk, nullptr},
      {static_cast<int64_t>(image.size()), 0, kOk, nullptr},
      {static_cast<int64_t>(image.size()) - 5, 6, kErrReadInput, "Can't read from the input file"},
      {static_cast<int64_t>(image.size()) + 10, 1, kErrReadInput, "Can't read from the input file"},
      {-1, 1, kErrAccessInput, "Can't access input file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("offset " + std::to_string(c.offset) + " count " + std::to_string(c.count));
    Bytes buffer(static_cast<size_t>(c.count) + 1, 0xEE);
    testing::internal::CaptureStderr();
    EXPECT_EQ(readFileRange(path.c_str(), buffer.data(), c.offset, c.count), c.status);
    const std::string err = testing::internal::GetCapturedStderr();
    if (c.message == nullptr) {
      EXPECT_EQ(err, "");
      EXPECT_EQ(slice(buffer, 0, static_cast<size_t>(c.count)),
                slice(image.bytes(), static_cast<size_t>(c.offset), static_cast<size_t>(c.count)));
      EXPECT_EQ(buffer.back(), 0xEE);
    } else {
      EXPECT_EQ(err, std::string(c.message) + " '" + path + "'!\n\n");
    }
  }
  Bytes buffer(1);
  testing::internal::CaptureStderr();
  const std::string missing = dir.file("missing.img");
  EXPECT_EQ(readFileRange(missing.c_str(), buffer.data(), 0, 1), kErrOpenInput);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't open input file '" + missing + "'!\n\n");
}

const char* const kRow[] = {
    nullptr,
    "  1: 03/B DEMO    \t  512 (0200h)\t  511 (01FFh)\t  \n",
    "  2: 12/M GAME    \t32768 (8000h)\t    2 (0002h)\tHCE  \n",
    "  3: 00/C       AB\t    0 (0000h)\t    0 (0000h)\t BCE \n",
    "  4: ...\t\t\t\t  300 (012Ch)\n",
    "  5: 255/x LONGNAME\t65535 (FFFFh)\t   20 (0014h)\t  BLE\n",
    "  6: ...\t\t\t\t    2 (0002h)\n",
    "  7: 01/B NAME    \t  512 (0200h)\t   20 (0014h)\t  BLE\n",
    "  8: ...\t\t\t\t    0 (0000h)\n",
    "  9: ...\t\t\t\t   30 (001Eh)\n",
    " 10: 04/D ZEROLEN \t   16 (0010h)\t    5 (0005h)\t  BLE\n",
};
const std::string kHce = "   HCE = Head CRC error\n";
const std::string kBce = "   BCE = Body CRC error\n";
const std::string kBle = "   BLE = Body Length error\n";

TEST_F(TapeAccessTest, ListsTheSelectedRowsThenTheLegendOfTheirMarks) {
  const struct {
    std::vector<int32_t> selection;
    std::string rows;
    std::string err;
  } cases[] = {
      {{}, "", ""},
      {{1, 4, 6, 7, 8, 9},
       std::string(kRow[1]) + kRow[4] + kRow[6] + kRow[7] + kRow[8] + kRow[9] + "\n" + kBle,
       ""},
      {{2, 2}, std::string(kRow[2]) + kRow[2] + "\n" + kHce, ""},
      {{3, 1}, std::string(kRow[3]) + kRow[1] + "\n" + kBce, ""},
      {{5, 1, 2}, std::string(kRow[5]) + kRow[1] + kRow[2] + "\n" + kHce + kBle, ""},
      {{5, 3, 2}, std::string(kRow[5]) + kRow[3] + kRow[2] + "\n" + kHce + kBce + kBle, ""},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
       std::string(kRow[1]) + kRow[2] + kRow[3] + kRow[4] + kRow[5] + kRow[6] + kRow[7] + kRow[8] +
           kRow[9] + kRow[10] + "\n" + kHce + kBce + kBle,
       ""},
      {{10, 7}, std::string(kRow[10]) + kRow[7] + "\n" + kBle, ""},
      // A number without a block ends the listing there, legend included.
      {{2, 99, 1}, kRow[2], "Bad block number: 99\n\n"},
      {{1, 11}, kRow[1], "Bad block number: 11\n\n"},
      {{0, 1}, "", "Bad block number: 0\n\n"},
  };
  const std::string heading =
      " Tape file: " + path + "\n Blocks: 10\n\n BLK NR/T Name\t\t    Begin\t   Length\n";
  for (const auto& c : cases) {
    std::string shown;
    for (const int32_t number : c.selection) {
      shown += std::to_string(number) + ",";
    }
    SCOPED_TRACE("selection " + shown);
    std::string err;
    EXPECT_EQ(list(c.selection, err), heading + c.rows);
    EXPECT_EQ(err, c.err);
  }
}

}  // namespace
