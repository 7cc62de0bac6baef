// Tests of the command-line parser: numbers, block lists, derived output names, options.
#include "app/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/arguments.h"
#include "core/names.h"

namespace {

std::vector<int32_t> selectionOf(const ConversionJob& job) {
  if (!job.selection) {
    return {};
  }
  return std::vector<int32_t>(job.selection->begin(), job.selection->begin() + job.selectionCount);
}

std::vector<int32_t> countUp(int32_t from, int32_t to) {
  std::vector<int32_t> numbers;
  for (int32_t n = from; n <= to; ++n) {
    numbers.push_back(n);
  }
  return numbers;
}

TEST(ParseNumber, ReadsAutomaticBaseAndRefusesWhatIsNoNonnegativeNumber) {
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {
      // clang-format off
      {"0", 0}, {"", 0}, {"12", 12}, {"010", 8}, {"0x7F", 127}, {"0X7f", 127},
      {"019", 1},  // the 9 is no octal digit and ends the number
      {"12abc", 12}, {" 12", 12}, {"\t+7", 7}, {"2147483647", 2147483647},
      {"0x7FFFFFFF", 2147483647},
      {"08", -1},  // a zero followed by anything is refused
      {"0x", -1}, {"0 ", -1}, {"abc", -1}, {"-5", -1}, {"2147483648", -1}, {"0x80000000", -1},
      {"99999999999999999999999", -1},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseNumber(c.text), c.expected) << "text '" << c.text << "'";
  }
}

// A failed parse must leave the earlier list in place; every case starts from {7}.
TEST(ParseBlockList, ReadsItemsInOrderAndQuotesTheOffendingRest) {
  const struct {
    const char* text;
    int32_t status;
    std::vector<int32_t> expected;
    const char* message;
  } cases[] = {
      {"3,5,8-11,1", kOk, {3, 5, 8, 9, 10, 11, 1}, ""},
      {"2,2", kOk, {2, 2}, ""},
      {"4-4", kOk, {4}, ""},
      {"1-3-5", kOk, {1, 2, 3, 4, 5}, ""},
      {"0x10,010", kOk, {16, 8}, ""},
      {"3, 4", kOk, {3, 4}, ""},
      {"3,", kOk, {3}, ""},
      {"3-", kOk, {3}, ""},
      {"", kOk, {}, ""},
      {"2147483647", kOk, {2147483647}, ""},
      {"5-3", kErrBadBlock, {7}, "Bad number in block list at: `3`\n\n"},
      {"3x,4", kErrBadBlock, {7}, "Bad number in block list at: `3x,4`\n\n"},
      {",3", kErrBadBlock, {7}, "Bad number in block list at: `,3`\n\n"},
      {"0", kErrBadBlock, {7}, "Bad number in block list at: `0`\n\n"},
      {"1,,2", kErrBadBlock, {7}, "Bad number in block list at: `,2`\n\n"},
      {"3 ,4", kErrBadBlock, {7}, "Bad number in block list at: `3 ,4`\n\n"},
      {"1,-2", kErrBadBlock, {7}, "Bad number in block list at: `-2`\n\n"},
      {"1-0x", kErrBadBlock, {7}, "Bad number in block list at: `0x`\n\n"},
      {"2147483648", kErrBadBlock, {7}, "Bad number in block list at: `2147483648`\n\n"},
      {"1-2147483647", kErrOutOfMemory, {7}, "Out of memory!\n\n"},
  };
  for (const auto& c : cases) {
    ConversionJob job;
    job.selection = std::vector<int32_t>{7};
    job.selectionCount = 1;
    testing::internal::CaptureStderr();
    const int32_t status = parseBlockList(job, c.text);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << "list '" << c.text << "'";
    EXPECT_EQ(status, c.status) << "list '" << c.text << "'";
    EXPECT_EQ(selectionOf(job), c.expected) << "list '" << c.text << "'";
  }
}

TEST(ParseBlockList, GrowsPastItsFirstThirtyTwoEntries) {
  ConversionJob job;
  ASSERT_EQ(parseBlockList(job, "1-100,7,1-40"), kOk);
  std::vector<int32_t> expected = countUp(1, 100);
  expected.push_back(7);
  const std::vector<int32_t> tail = countUp(1, 40);
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(selectionOf(job), expected);
}

// The bound keeps a typo such as 1-2147483647 from asking for gigabytes; it applies to the
// entry count, whether the entries come from a range or one by one.
TEST(ParseBlockList, AcceptsExactlyTheBoundAndRefusesOneEntryMore) {
  const std::string bound = std::to_string(kMaxSelectionEntries);
  const std::string overBound = std::to_string(kMaxSelectionEntries + 1);
  ConversionJob job;
  ASSERT_EQ(parseBlockList(job, ("1-" + bound).c_str()), kOk);
  ASSERT_EQ(job.selectionCount, kMaxSelectionEntries);
  EXPECT_EQ((*job.selection)[0], 1);
  EXPECT_EQ((*job.selection)[static_cast<size_t>(kMaxSelectionEntries - 1)], kMaxSelectionEntries);

  const std::string lists[] = {"1-" + overBound, "2-" + bound + ",9,9"};
  for (const std::string& list : lists) {
    ConversionJob refused;
    testing::internal::CaptureStderr();
    EXPECT_EQ(parseBlockList(refused, list.c_str()), kErrOutOfMemory) << list;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Out of memory!\n\n") << list;
    EXPECT_FALSE(refused.selection.has_value()) << list;
  }
}

TEST(DeriveOutputName, ReplacesTheLastExtensionOfTheLastComponentOnly) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"tape.img", "tape.wav"},
      {"game", "game.wav"},
      {"a.b.c", "a.b.wav"},
      {"music.wav", "music.wav.wav"},
      {"MUSIC.WAV", "MUSIC.wav.wav"},
      {"Music.Wav", "Music.wav.wav"},
      {".wav", ".wav.wav"},
      {"dir.old/tape", "dir.old/tape.wav"},
      {"dir.old/tape.img", "dir.old/tape.wav"},
      {"./game", "./game.wav"},
      {"../game", "../game.wav"},
      {".hidden", ".wav"},
      {"dir/.x", "dir/.wav"},
      {"dir/", "dir/.wav"},
      {std::string(1000, 'n') + ".img", std::string(1000, 'n') + ".wav"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(deriveOutputName(c.input), c.expected) << "input '" << c.input << "'";
  }
}

// The file names and every setting that differs from its default, in one comparable line.
std::string describe(const ConversionJob& job) {
  std::ostringstream text;
  text << "in=" << (job.inputPath != nullptr ? job.inputPath : "-")
       << " out=" << (job.outputPath != nullptr ? job.outputPath : "-");
  const struct {
    const char* name;
    int value;
    int byDefault;
  } settings[] = {{"vb", job.verbose, 0},      {"mato", job.useMato, 0},
                  {"list", job.listOnly, 0},   {"rph", job.reversePhase, 0},
                  {"dbl", job.doubleSpeed, 0}, {"sr", job.sampleRateIndex, 1},
                  {"gap", job.gapSeconds, 4},  {"hi", job.highLevel, 218},
                  {"lo", job.lowLevel, 38},    {"stdout", job.toStandardOutput, 0}};
  for (const auto& setting : settings) {
    if (setting.value != setting.byDefault) {
      text << ' ' << setting.name << '=' << setting.value;
    }
  }
  if (job.selection) {
    text << " blk=";
    for (const int32_t number : selectionOf(job)) {
      text << number << ';';
    }
  }
  return text.str();
}

TEST(ParseOptions, FillsTheJobAndReportsExactMessages) {
  const struct {
    std::vector<std::string> args;
    int32_t status;
    std::string job;
    std::string message;
  } cases[] = {
      // clang-format off
      {{"tape.img"}, kOk, "in=tape.img out=tape.wav", ""},
      {{"-vb", "-mato", "-rph", "-list", "-mato", "t"}, kOk,
       "in=t out=t.wav vb=1 mato=1 list=1 rph=1", ""},
      {{"-dbl", "t"}, kOk, "in=t out=t.wav dbl=1", ""},
      {{"-amp", "127", "t"}, kOk, "in=t out=t.wav hi=255 lo=1", ""},
      {{"-amp", "1", "t"}, kOk, "in=t out=t.wav hi=129 lo=127", ""},
      {{"-amp", "12abc", "-amp", "0x10", "t"}, kOk, "in=t out=t.wav hi=144 lo=112", ""},
      {{"-amp", "90", "t"}, kOk, "in=t out=t.wav", ""},
      {{"-sr", "h", "t"}, kOk, "in=t out=t.wav sr=2", ""},
      {{"-sr", "H", "-sr", "l", "t"}, kOk, "in=t out=t.wav sr=0", ""},
      {{"-sr", "L", "-sr", "m", "t"}, kOk, "in=t out=t.wav", ""},
      {{"-gap", "0x10", "t"}, kOk, "in=t out=t.wav gap=16", ""},
      {{"-gap", "010", "-gap", "1", "t"}, kOk, "in=t out=t.wav gap=1", ""},
      {{"t", "-o", "-list"}, kOk, "in=t out=-list", ""},
      {{"-o", "-", "t"}, kOk, "in=t out=- stdout=1", ""},
      {{"-o", "./-", "t"}, kOk, "in=t out=./-", ""},
      {{"-o", "music.wav", "music.wav"}, kOk, "in=music.wav out=music.wav", ""},
      {{"-blk", "1,2", "-blk", "3-4", "t"}, kOk, "in=t out=t.wav blk=3;4;", ""},
      {{"-blk", "", "t"}, kOk, "in=t out=t.wav blk=", ""},
      // -h and -v stop the parse: later arguments are not looked at and no -7 follows.
      {{"-vb", "-h", "-zz", "a", "b"}, kShowUsage, "in=- out=- vb=1", ""},
      {{"-v", "-amp"}, kShowVersion, "in=- out=-", ""},
      {{"-h", "-mato", "-dbl"}, kShowUsage, "in=- out=-", ""},
      {{"-mato", "-dbl", "-h"}, kErrBadCombination, "in=- out=- mato=1 dbl=1",
       "Bad combination of options!\n\n"},
      {{"-mato", "-dbl"}, kErrBadCombination, "in=- out=- mato=1 dbl=1",
       "Input file not specified!\n\nBad combination of options!\n\n"},
      {{"-dbl", "-mato", "-amp", "0", "t"}, kErrBadCombination, "in=- out=- mato=1 dbl=1",
       "Bad value '0' in option `-amp` !\n\nBad combination of options!\n\n"},
      {{"-mato", "-zz", "-dbl", "t"}, kErrUnknownOption, "in=- out=- mato=1",
       "Unknown option '-zz'!\n\n"},
      // A failed -blk keeps the list of an earlier one.
      {{"-blk", "4", "-blk", "0", "t"}, kErrBadBlock, "in=- out=- blk=4;",
       "Bad number in block list at: `0`\n\n"},
      {{"a", "-sr", ""}, kErrBadValue, "in=a out=-", "Bad value '' in option `-sr` !\n\n"},
      {{"-"}, kErrUnknownOption, "in=- out=-", "Unknown option '-'!\n\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv = {"tonbrix"};
    std::string shown;
    for (const std::string& arg : c.args) {
      argv.push_back(arg.c_str());
      shown += " '" + arg + "'";
    }
    // Settings of an earlier run must not leak into this one.
    ConversionJob job;
    job.verbose = 1;
    job.gapSeconds = 9;
    job.selection = std::vector<int32_t>{5};
    job.selectionCount = 1;
    testing::internal::CaptureStderr();
    const int32_t status = parseOptions(static_cast<int>(argv.size()), argv.data(), job);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << "args" << shown;
    EXPECT_EQ(status, c.status) << "args" << shown;
    EXPECT_EQ(describe(job), c.job) << "args" << shown;
  }
}

TEST(ParseOptions, DerivedOutputNameIsKeptInTheJob) {
  const std::string input = std::string(600, 'd') + ".old/" + std::string(600, 't');
  const char* argv[] = {"tonbrix", input.c_str()};
  ConversionJob job;
  ASSERT_EQ(parseOptions(2, argv, job), kOk);
  EXPECT_EQ(job.inputPath, argv[1]);
  EXPECT_EQ(std::string(job.outputPath), input + ".wav");
  EXPECT_EQ(job.outputPath, job.derivedOutputName.c_str());
}

TEST(FindExportOutput, SeesTheFirstOutputNameAsTheParserReadsIt) {
  const struct {
    std::vector<const char*> args;
    const char* expected;
  } cases[] = {
      {{"tonbrix", "-o", "-", "a.img"}, "-"},
      {{"tonbrix", "a.img", "-vb", "-o", "-"}, "-"},
      {{"tonbrix", "-o", "/dev/stdout", "a.img"}, "/dev/stdout"},
      {{"tonbrix", "-o", "-", "-list", "a.img"}, nullptr},  // a listing writes no WAV
      {{"tonbrix", "-o", "-", "-h"}, nullptr},              // usage goes to stdout as ever
      {{"tonbrix", "-blk", "-o", "-"}, nullptr},            // -o is the value of -blk
      {{"tonbrix", "-o", "a.wav", "-o", "-"}, "a.wav"},     // refused as two outputs
      {{"tonbrix", "a.img", "-o"}, nullptr},
  };
  for (const auto& c : cases) {
    const char* found = findExportOutput(static_cast<int>(c.args.size()), c.args.data());
    EXPECT_STREQ(found, c.expected) << c.args[1] << " " << c.args.back();
  }
}

}  // namespace
