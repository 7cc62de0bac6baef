// Tests of the tape scan: both layouts, bare mode, fault marks and every corruption offset.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/tape_builder.h"
#include "support/temp_dir.h"
#include "tape/tape_image.h"

namespace {

using tape_builder::bodyPart;
using tape_builder::Bytes;
using tape_builder::Header;
using T = tape_builder::TapeImage;

// What the scan records about one block, minus the header bytes it copies verbatim.
struct Facts {
  int fileType;
  int32_t headerOffset;
  int32_t bodyOffset;
  int length;
  int32_t headerChecksumError;
  int32_t bodyChecksumError;
  int32_t bodyLengthError;

  bool operator==(const Facts& other) const {
    return fileType == other.fileType && headerOffset == other.headerOffset &&
           bodyOffset == other.bodyOffset && length == other.length &&
           headerChecksumError == other.headerChecksumError &&
           bodyChecksumError == other.bodyChecksumError && bodyLengthError == other.bodyLengthError;
  }
};

std::ostream& operator<<(std::ostream& out, const Facts& f) {
  return out << "{type " << f.fileType << " H " << f.headerOffset << " B " << f.bodyOffset
             << " len " << f.length << " hce " << f.headerChecksumError << " bce "
             << f.bodyChecksumError << " ble " << f.bodyLengthError << "}";
}

Facts headerless(int32_t bodyOffset, int length) { return {0, 0, bodyOffset, length, 0, 0, -1}; }

Facts header(int32_t headerOffset, int32_t bodyOffset, int length, int32_t hce = 0, int32_t bce = 0,
             int32_t ble = -1) {
  return {'B', headerOffset, bodyOffset, length, hce, bce, ble};
}

Bytes headerPartOf(uint16_t length) {
  Header h;
  h.length = length;
  return tape_builder::headerPart(h);
}

Bytes data(size_t count) { return tape_builder::patternBytes(count); }

class ScanTapeTest : public TempDirTest {
 protected:
  struct Outcome {
    int32_t status;
    std::string out;
    std::string err;
  };

  Outcome scanFile(const std::string& file) {
    path = file;
    job.inputPath = path.c_str();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int32_t status = scanTape(job);
    std::string err = testing::internal::GetCapturedStderr();
    return {status, testing::internal::GetCapturedStdout(), std::move(err)};
  }

  Outcome scan(const Bytes& image) {
    const std::string file = dir.file("tape.img");
    T().raw(image).writeTo(file);
    return scanFile(file);
  }

  std::string corruptedAt(uint32_t offset) const {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", offset);
    return "Tape '" + path + "' corrupted at file offset " + text + "\n\n";
  }

  std::vector<Facts> facts() const {
    std::vector<Facts> all;
    for (const TapeBlock& b : job.blocks) {
      all.push_back({b.fileType, b.headerOffset, b.bodyOffset, b.length, b.headerChecksumError,
                     b.bodyChecksumError, b.bodyLengthError});
    }
    return all;
  }

  std::string path;
  ConversionJob job;
};

constexpr int64_t kAccepted = -1;

TEST_F(ScanTapeTest, FindsEveryBlockAndNamesWhereADamagedImageEnds) {
  const Header bad{1, 'B', 0x200, 0, "NAME", true};
  const Header typeZero{1, 0, 0x200, 0, "NAME", false};
  const struct {
    const char* name;
    T image;
    int64_t corruptAt;  // kAccepted, or the offset the -18 message must name
    std::vector<Facts> blocks;
  } cases[] = {
      // clang-format off
      {"records: record after body", T().headerBlock({}, data(21)).headerlessBlock(data(5)),
       kAccepted, {header(2, 67, 20), headerless(67 + 22 + 2, 5)}},
      {"bare: parts back to back", T().bareHeaderBlock({}, data(21)).bareHeaderBlock({}, data(1)),
       kAccepted, {header(0, 63, 20), header(85, 85 + 63, 0)}},
      {"sync pattern at a step's start turns bare mode on for good",
       T().headerBlock({}, data(3)).bareHeaderBlock({}, data(3)).headerlessBlock(data(10))
           .headerlessBlock(data(10)),
       kAccepted, {header(2, 67, 2), header(71, 134, 2), headerless(138, 24)}},
      {"bare: a framed header's body length word is not compared",
       T().bareHeaderBlock({}, data(3)).record(headerPartOf(10)).record(bodyPart(data(11)), 99),
       kAccepted, {header(0, 63, 2), header(67 + 2, 67 + 67, 10)}},
      {"records: a body record of the wrong size is skipped by its length word",
       T().record(headerPartOf(10)).record(bodyPart(data(11)), 99),
       67 + 99, {header(2, 67, 10, 0, 0, 97)}},
      {"64 bytes", T().raw(data(64)), 64, {}},
      {"65 bytes: bare header block of length 0", T().bareHeaderBlock({}, data(1)),
       kAccepted, {header(0, 63, 0)}},
      {"header checksum fault", T().headerBlock(bad, data(3)).headerlessBlock(data(4)),
       kAccepted, {header(2, 67, 2, 1, 0), headerless(73, 4)}},
      {"body checksum fault", T().headerBlock({}, data(3), true).headerlessBlock(data(4)),
       kAccepted, {header(2, 67, 2, 0, 1), headerless(73, 4)}},
      {"body record of 100 bytes after length 20",
       T().record(headerPartOf(20)).record(data(100)).headerlessBlock(data(3)),
       kAccepted, {header(2, 67, 20, 0, 0, 98), headerless(67 + 100 + 2, 3)}},
      {"body record of 1 byte: no room for its checksum, still a length fault",
       T().record(headerPartOf(20)).record(data(1)).headerlessBlock(data(3)),
       kAccepted, {header(2, 67, 20, 0, 0, 0), headerless(70, 3)}},
      {"body record of 0 bytes", T().record(headerPartOf(20)).record({}).headerlessBlock(data(3)),
       kAccepted, {header(2, 67, 20, 0, 0, 0), headerless(69, 3)}},
      {"records: body record cut short", T().headerBlock({}, data(21)).truncate(5),
       67 + 22, {header(2, 67, 20, 0, 0, 20)}},
      {"bare: last body cut short", T().raw(headerPartOf(100)).raw(data(50)),
       kAccepted, {header(0, 63, 100, 0, 0, 48)}},
      {"bare: header part, no body", T().bareHeaderBlock({}, data(1)).raw(headerPartOf(5)),
       kAccepted, {header(0, 63, 0), header(65, 128, 5, 0, 0, 0)}},
      {"bare: 100 bytes without sync pattern", T().bareHeaderBlock({}, data(1)).raw(data(100)),
       kAccepted, {header(0, 63, 0), headerless(65, 100)}},
      {"bare: rest of 65,535 bytes", T().bareHeaderBlock({}, data(1)).raw(data(65535)),
       kAccepted, {header(0, 63, 0), headerless(65, 65535)}},
      {"bare: rest of 65,536 bytes", T().bareHeaderBlock({}, data(1)).raw(data(65536)),
       65, {header(0, 63, 0)}},
      {"bare: rest of 70,000 bytes", T().bareHeaderBlock({}, data(1)).raw(data(70000)),
       65, {header(0, 63, 0)}},
      {"records: word 500, 300 bytes left", T().headerlessBlock(data(5)).record(data(298), 500),
       7, {headerless(2, 5)}},
      {"records: 1 byte past the end", T().headerlessBlock(data(70)).record(data(10), 11),
       72 + 2 + 11, {headerless(2, 70), headerless(74, 11)}},
      {"records: 2 bytes past the end", T().headerlessBlock(data(70)).record(data(10), 12),
       72 + 2 + 12, {headerless(2, 70), headerless(74, 12)}},
      {"records: 3 bytes past the end", T().headerlessBlock(data(70)).record(data(10), 13),
       72, {headerless(2, 70)}},
      {"one stray byte", T().headerBlock({}, data(3)).raw({0}), 71, {header(2, 67, 2)}},
      {"two stray bytes", T().headerBlock({}, data(3)).raw({0, 0}), 71, {header(2, 67, 2)}},
      {"three bytes make a record", T().headerBlock({}, data(3)).raw({1, 0, 0xAA}),
       kAccepted, {header(2, 67, 2), headerless(73, 1)}},
      {"a header record as the last record", T().headerlessBlock(data(5)).record(headerPartOf(0)),
       kAccepted, {headerless(2, 5), headerless(9, 63)}},
      {"type byte 0 keeps a header block's offsets", T().headerBlock(typeZero, data(3)),
       kAccepted, {{0, 2, 67, 2, 0, 0, -1}}},
      {"records: length 65,534", T().record(headerPartOf(65534)).record(bodyPart(data(65534))),
       kAccepted, {header(2, 67, 65534, 0, 0, 65533)}},
      {"records: length 65,535",
       T().record(headerPartOf(65535)).record(bodyPart(data(65534))).headerlessBlock(data(3)),
       kAccepted, {header(2, 67, 65535, 0, 0, 65533), headerless(67 + 65535 + 2, 3)}},
      {"bare: length 65,534", T().bareHeaderBlock({}, data(65535)),
       kAccepted, {header(0, 63, 65534)}},
      {"bare: length 65,535", T().bareHeaderBlock({}, data(65536), true).raw(data(3)),
       kAccepted, {header(0, 63, 65535, 0, 1), headerless(63 + 65537, 3)}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = scan(c.image.bytes());
    EXPECT_EQ(outcome.out, "Reading source file: " + path + "\n");
    if (c.corruptAt == kAccepted) {
      EXPECT_EQ(outcome.status, kOk);
      EXPECT_EQ(outcome.err, "");
    } else {
      EXPECT_EQ(outcome.status, kErrTapeCorrupted);
      EXPECT_EQ(outcome.err, corruptedAt(static_cast<uint32_t>(c.corruptAt)));
    }
    EXPECT_EQ(facts(), c.blocks);
    EXPECT_EQ(job.blockCount, static_cast<int32_t>(c.blocks.size()));
  }
}

TEST_F(ScanTapeTest, CopiesTheHeaderBytesAsStored) {
  const Header stored{0xA7, 'M', 0x8123, 299, std::string("AB\0CDEFG", 8), false};
  ASSERT_EQ(scan(T().headerBlock(stored, data(300)).bytes()).status, kOk);
  ASSERT_EQ(job.blocks.size(), 1u);
  const TapeBlock& block = job.blocks[0];
  EXPECT_EQ(block.fileNumber, 0xA7);
  EXPECT_EQ(block.fileType, 'M');
  EXPECT_EQ(block.beginAddress, 0x8123);
  EXPECT_EQ(block.length, 299);
  EXPECT_EQ(std::string(block.name, 8), std::string("AB\0CDEFG", 8));
  EXPECT_EQ(block.headerChecksum, tape_builder::headerBytes(stored)[14]);
}

TEST_F(ScanTapeTest, VerboseScanCountsTheBlocksAndARescanReplacesTheList) {
  const Bytes image = T().headerBlock(Header(), data(3)).headerlessBlock(data(80)).bytes();
  job.verbose = 1;
  const Outcome first = scan(image);
  EXPECT_EQ(first.out, "Reading source file: " + path + "\n Blocks: 2\n");
  const Outcome again = scan(image);
  EXPECT_EQ(again.status, kOk);
  EXPECT_EQ(again.out, "Reading source file: " + path + "\n Blocks: 2\n");
  EXPECT_EQ(job.blockCount, 2);
  EXPECT_EQ(job.blocks.size(), 2u);
  // A failed scan prints no count.
  const Outcome failed = scan(data(10));
  EXPECT_EQ(failed.out, "Reading source file: " + path + "\n");
  EXPECT_EQ(job.blockCount, 0);
}

TEST_F(ScanTapeTest, RefusesAMissingFileAndAFolder) {
  std::filesystem::create_directory(dir.file("folder"));
  for (const std::string& file : {dir.file("missing.img"), dir.file("folder")}) {
    const Outcome outcome = scanFile(file);
    EXPECT_EQ(outcome.status, kErrOpenInput) << file;
    EXPECT_EQ(outcome.err, "Can't open input file '" + file + "'!\n\n");
    EXPECT_TRUE(job.blocks.empty());
  }
}

// Offsets in the image are 32-bit, so an image of 2 GiB must be refused before any block is
// read rather than wrap around. A sparse file keeps this cheap.
TEST_F(ScanTapeTest, RefusesAnImageOfTwoGibibytes) {
  const std::string file = dir.file("huge.img");
  T().headerBlock(Header(), data(3)).writeTo(file);
  std::error_code error;
  std::filesystem::resize_file(file, uint64_t{1} << 31, error);
  if (error) {
    GTEST_SKIP() << "no sparse file of 2 GiB here: " << error.message();
  }
  const Outcome outcome = scanFile(file);
  EXPECT_EQ(outcome.status, kErrInputLength);
  EXPECT_EQ(outcome.err, "Can't retrieve length of the input file '" + file + "'!\n\n");
  EXPECT_TRUE(job.blocks.empty());
}

}  // namespace
