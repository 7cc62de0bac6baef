// End-to-end tests of the command line: usage, version, option errors and the listing.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/tape_builder.h"
#include "support/temp_dir.h"

namespace {

using tape_builder::Header;
using tape_builder::TapeImage;

const std::string kUsage =
    kBanner +
    "Usage: tonbrix [options] infile.ext\n"
    "\nCommon options:\n"
    "  -o outfile.ext  output file name\n"
    "  -list\t\t  print tape content\n"
    "  -blk BLK_LIST\t  list of blocks to export (e.g. 3,5,8-11,1) [all]\n"
    "  -mato\t\t  export using Mato protocol\n"
    "  -dbl\t\t  double speed (only PMD 85)\n"
    "  -rph\t\t  reversal phase\n"
    "  -sr SR\t  sample rate [M]; SR=L/M/H (Low/Middle/High)\n"
    "  -amp NUM\t  amplitude <1, 127> [90]\n"
    "  -gap NUM\t  gap before next header block in seconds [4]\n"
    "  -vb\t\t  verbose\n"
    "  -h\t\t  usage information\n"
    "  -v\t\t  version info\n"
    "\nAll numeric parameters must be nonnegative integers and can be in three forms:\n"
    "  decimal (e.g. 12345)\n"
    "  octal (e.g. 01234)\n"
    "  hexadecimal (e.g. 0x1234)\n\n";

Header makeHeader(uint8_t fileNumber, char fileType, uint16_t beginAddress, std::string name,
                  bool badChecksum = false) {
  return {fileNumber, fileType, beginAddress, 0, std::move(name), badChecksum};
}

// Five blocks: two good header blocks, a headerless one, a header with a bad checksum and
// another headerless one.
TapeImage fiveBlocks() {
  TapeImage image;
  image.headerBlock(makeHeader(0, 'B', 0, "LOADER"), tape_builder::patternBytes(300, 1))
      .headerBlock(makeHeader(1, 'M', 0x8000, "DEMOGAME"), tape_builder::patternBytes(1024, 2))
      .headerlessBlock(tape_builder::patternBytes(512, 3))
      .headerBlock(makeHeader(2, 'B', 0x200, "BROKEN", true), tape_builder::patternBytes(10, 4))
      .headerlessBlock(tape_builder::patternBytes(100, 5));
  return image;
}

const std::string kReadFive = "Reading source file: five.img\n";
const std::string kHeading =
    " Tape file: five.img\n Blocks: 5\n\n BLK NR/T Name\t\t    Begin\t   Length\n";
const std::string kRow1 = "  1: 00/B LOADER  \t    0 (0000h)\t  299 (012Bh)\t  \n";
const std::string kRow2 = "  2: 01/M DEMOGAME\t32768 (8000h)\t 1023 (03FFh)\t  \n";
const std::string kRow3 = "  3: ...\t\t\t\t  512 (0200h)\n";
const std::string kRow4 = "  4: 02/B BROKEN  \t  512 (0200h)\t    9 (0009h)\tHCE  \n";
const std::string kRow5 = "  5: ...\t\t\t\t  100 (0064h)\n";
const std::string kDone = "\nAll done.\n";

std::string corruptedAt(const std::string& name, size_t offset) {
  char text[16];
  std::snprintf(text, sizeof text, "%08zX", offset);
  return "Tape '" + name + "' corrupted at file offset " + text + "\n\n";
}

class CommandLineTest : public TempDirTest {
 protected:
  void SetUp() override {
    work = dir.file("work");
    std::filesystem::create_directory(work);
    ASSERT_TRUE(fiveBlocks().writeTo(work + "/five.img"));
    badSize = fiveBlocks().size();
    ASSERT_TRUE(fiveBlocks().raw({0}).writeTo(work + "/bad.img"));
    ASSERT_TRUE(TapeImage().raw(tape_builder::patternBytes(10)).writeTo(work + "/tiny.img"));
  }

  std::set<std::string> workFiles() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(work)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::string work;
  size_t badSize = 0;
};

TEST_F(CommandLineTest, PrintsExactlyWhatEachCommandLineCallsFor) {
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
    std::string err;
  } cases[] = {
      // clang-format off
      {{}, 0, kUsage, ""},
      {{"-h"}, 0, kBanner + kUsage, ""},
      {{"-v"}, 0, kBanner + kBanner, ""},
      {{"-h", "-zz", "a", "b"}, 0, kBanner + kUsage, ""},
      {{"-v", "-amp"}, 0, kBanner + kBanner, ""},
      {{"-h", "-mato", "-dbl"}, 0, kBanner + kUsage, ""},
      {{"-mato", "-dbl", "-h"}, 5, kBanner, "Bad combination of options!\n\n"},
      {{"-mato", "-dbl", "five.img"}, 5, kBanner, "Bad combination of options!\n\n"},
      {{"-mato", "-dbl"},
       5, kBanner, "Input file not specified!\n\nBad combination of options!\n\n"},
      {{"-dbl", "-mato", "-zz"},
       5, kBanner, "Unknown option '-zz'!\n\nBad combination of options!\n\n"},
      // Options after the failing one are not seen by the combination check either.
      {{"-dbl", "-zz", "-mato"}, 4, kBanner, "Unknown option '-zz'!\n\n"},
      // An unknown option stops the run before the input is opened.
      {{"-zz", "missing.img"}, 4, kBanner, "Unknown option '-zz'!\n\n"},
      {{"-List", "five.img"}, 4, kBanner, "Unknown option '-List'!\n\n"},
      {{"five.img", "-blk=3"}, 4, kBanner, "Unknown option '-blk=3'!\n\n"},
      {{"five.img", "-blk"}, 6, kBanner, "Missing option value(s) '-blk'!\n\n"},
      {{"-o"}, 6, kBanner, "Missing option value(s) '-o'!\n\n"},
      {{"-list"}, 7, kBanner, "Input file not specified!\n\n"},
      {{"-o", "out.wav", "-vb"}, 7, kBanner, "Input file not specified!\n\n"},
      {{"five.img", "b.img"},
       8, kBanner, "Only one input file can be specified! 'five.img' or 'b.img' ?\n\n"},
      {{"-o", "x.wav", "five.img", "-o", "y.wav"},
       9, kBanner, "Only one output file can be specified! 'x.wav' or 'y.wav' ?\n\n"},
      {{"-amp", "0", "five.img"}, 17, kBanner, "Bad value '0' in option `-amp` !\n\n"},
      {{"-amp", "128", "five.img"}, 17, kBanner, "Bad value '128' in option `-amp` !\n\n"},
      {{"-amp", "x", "five.img"}, 17, kBanner, "Bad value 'x' in option `-amp` !\n\n"},
      {{"-amp", "-5"}, 17, kBanner, "Bad value '-5' in option `-amp` !\n\n"},
      {{"-gap", "08", "five.img"}, 17, kBanner, "Bad value '08' in option `-gap` !\n\n"},
      {{"-gap", "0", "five.img"}, 17, kBanner, "Bad value '0' in option `-gap` !\n\n"},
      {{"-sr", "X", "five.img"}, 17, kBanner, "Bad value 'X' in option `-sr` !\n\n"},
      {{"-sr", "Low", "five.img"}, 17, kBanner, "Bad value 'Low' in option `-sr` !\n\n"},
      {{"-blk", "5-3", "five.img"}, 19, kBanner, "Bad number in block list at: `3`\n\n"},
      {{"-blk", "1-2147483647", "five.img"}, 3, kBanner, "Out of memory!\n\n"},
      {{"-list", "missing.img"},
       10, kBanner + "Reading source file: missing.img\n",
       "Can't open input file 'missing.img'!\n\n"},
      {{"-list", "tiny.img"},
       18, kBanner + "Reading source file: tiny.img\n", corruptedAt("tiny.img", 10)},
      {{"-list", "bad.img"},
       18, kBanner + "Reading source file: bad.img\n", corruptedAt("bad.img", badSize)},
      {{"-list", "five.img"},
       0, kBanner + kReadFive + kHeading + kRow1 + kRow2 + kRow3 + kRow4 + kRow5 +
           "\n   HCE = Head CRC error\n" + kDone, ""},
      // Export options are accepted with -list and change nothing.
      {{"-mato", "-sr", "h", "-amp", "1", "-gap", "9", "-rph", "-o", "x.wav", "-list", "-blk",
        "3,1,2,2", "five.img"},
       0, kBanner + kReadFive + kHeading + kRow3 + kRow1 + kRow2 + kRow2 + kDone, ""},
      {{"-list", "-blk", "2,99", "five.img"},
       0, kBanner + kReadFive + kHeading + kRow2 + kDone, "Bad block number: 99\n\n"},
      {{"-vb", "-list", "-blk", "", "five.img"},
       0, kBanner + kReadFive + " Blocks: 5\n" + kHeading + kDone, ""},
      // clang-format on
  };
  const std::set<std::string> before = workFiles();
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) {
      shown += " '" + arg + "'";
    }
    SCOPED_TRACE("tonbrix" + shown);
    const RunResult result = runTonbrix(c.args, dir.path().string(), work);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(workFiles(), before);
  }
}

}  // namespace
