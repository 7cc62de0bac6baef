// End-to-end tests of -o -: the WAV on a real pipe, byte for byte what -o FILE writes,
// the messages moved to stderr, a reader that goes away early, other names of standard
// output, and a terminal that is refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/tape_builder.h"
#include "support/temp_dir.h"

namespace {

// Runs tonbrix with its stdout on a pipe into the shell command `reader`, whose own
// output is captured; the exit code is tonbrix's (128 + the signal if one ended it).
RunResult runIntoPipe(std::vector<std::string> args, const std::string& reader,
                      const std::string& captureDir) {
  args.insert(args.begin(),
              {"-c", "\"$0\" \"$@\" | " + reader + "; exit ${PIPESTATUS[0]}", TONBRIX_BINARY});
  return runProgram("/bin/bash", args, captureDir);
}

struct PipeCase {
  std::vector<std::string> options;
  const char* reader;  // "cat" takes the whole WAV; the others quit before its end
};

// clang-format off
const PipeCase kPipeCases[] = {
    {{"-sr", "L"}, "cat"},
    {{}, "cat"},
    {{"-sr", "H"}, "cat"},
    {{"-dbl", "-sr", "L"}, "cat"},
    {{"-dbl"}, "cat"},
    {{"-dbl", "-sr", "H"}, "cat"},
    {{"-mato", "-sr", "L"}, "cat"},
    {{"-mato"}, "cat"},
    {{"-mato", "-sr", "H"}, "cat"},
    {{"-vb", "-rph", "-gap", "1", "-blk", "3,1,2,3,3"}, "cat"},
    {{"-vb", "-mato", "-blk", "2,3,1,3"}, "cat"},
    {{"-vb"}, "true"},              // the player never starts
    {{"-mato"}, "head -c 100000"},  // the player quits in the middle
};
// clang-format on

std::string describe(const PipeCase& pipeCase) {
  std::string text = "options:";
  for (const std::string& option : pipeCase.options) {
    text += " " + option;
  }
  return text + " | " + pipeCase.reader;
}

class PipeTest : public TempDirTest {};

TEST_F(PipeTest, StandardOutputCarriesExactlyTheFileBytesAndMessagesMoveToStderr) {
  tape_builder::Header game;
  game.name = "GAME";
  tape_builder::Header data;
  data.fileNumber = 2;
  data.fileType = 'D';
  tape_builder::TapeImage image;
  image.headerBlock(game, tape_builder::patternBytes(700, 2));
  image.headerlessBlock(tape_builder::patternBytes(300, 5));
  image.headerBlock(data, tape_builder::patternBytes(90, 7));
  const std::string tapePath = dir.file("tape.img");
  const std::string wavPath = dir.file("out.wav");
  ASSERT_TRUE(image.writeTo(tapePath));

  for (const PipeCase& pipeCase : kPipeCases) {
    SCOPED_TRACE(describe(pipeCase));
    std::vector<std::string> args = pipeCase.options;
    args.insert(args.end(), {"-o", wavPath, tapePath});
    const RunResult toFile = runTonbrix(args, dir.path().string());
    ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
    const std::string wav = readWholeFile(wavPath);

    args[args.size() - 2] = "-";
    const RunResult toPipe = runIntoPipe(args, pipeCase.reader, dir.path().string());
    std::string messages = toFile.out;
    const std::string creating = "Creating output WAV file: ";
    messages.replace(messages.find(creating + wavPath), creating.size() + wavPath.size(),
                     creating + "-");
    if (std::string(pipeCase.reader) == "cat") {
      EXPECT_EQ(toPipe.exitCode, 0);
      EXPECT_EQ(toPipe.out.size(), wav.size());
      EXPECT_TRUE(toPipe.out == wav);
      EXPECT_EQ(toPipe.err, messages);
    } else {
      ASSERT_EQ(toPipe.exitCode, 16) << toPipe.err;
      EXPECT_EQ(toPipe.out, wav.substr(0, toPipe.out.size()));
      const std::string failure = "Can't write to the output file '-'!\n\n";
      ASSERT_GE(toPipe.err.size(), failure.size());
      EXPECT_EQ(toPipe.err.substr(toPipe.err.size() - failure.size()), failure);
      EXPECT_EQ(toPipe.err.find("All done."), std::string::npos);
    }
  }
}

TEST_F(PipeTest, DotSlashDashIsAFileNamedDash) {
  tape_builder::TapeImage image;
  image.headerBlock({}, tape_builder::patternBytes(100, 3));
  ASSERT_TRUE(image.writeTo(dir.file("tape.img")));
  const RunResult result =
      runTonbrix({"-o", "./-", "tape.img"}, dir.path().string(), dir.path().string());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("Creating output WAV file: ./-\n"), std::string::npos);
  EXPECT_EQ(readWholeFile(dir.file("-")).substr(0, 4), "RIFF");
}

// /dev/stdout into a pipe used to carry the banner inside the WAV, and a file that is
// standard output as well as -o got the two interleaved: both now get what -o - gets.
TEST_F(PipeTest, OutputPathThatIsStandardOutputGetsWhatDashGets) {
  tape_builder::TapeImage image;
  image.headerBlock({}, tape_builder::patternBytes(200, 3)).headerlessBlock({1, 2, 3});
  ASSERT_TRUE(image.writeTo(dir.file("tape.img")));
  const std::string folder = dir.path().string();
  const RunResult toFile = runTonbrix({"-vb", "-o", "ref.wav", "tape.img"}, folder, folder);
  ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
  const std::string wav = readWholeFile(dir.file("ref.wav"));
  const struct {
    const char* output;
    const char* redirection;
  } cases[] = {{"/dev/stdout", " | cat"}, {"same.wav", " > same.wav"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    const std::string script = std::string("\"$0\" -vb -o ") + c.output + " tape.img" +
                               c.redirection + "; exit ${PIPESTATUS[0]}";
    const RunResult run = runProgram("/bin/bash", {"-c", script, TONBRIX_BINARY}, folder, folder);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string messages = toFile.out;
    messages.replace(messages.find("ref.wav"), 7, c.output);
    EXPECT_EQ(run.err, messages);
    const std::string written =
        c.redirection[1] == '|' ? run.out : readWholeFile(dir.file("same.wav"));
    EXPECT_EQ(written.size(), wav.size());
    EXPECT_TRUE(written == wav);
  }
}

TEST_F(PipeTest, TerminalAsStandardOutputIsRefusedBeforeTheTapeIsRead) {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
    GTEST_SKIP() << "no pseudo-terminal";
  }
  const std::string screen = ptsname(terminal);
  for (const char* output : {"-", "/dev/stdout"}) {
    SCOPED_TRACE(output);
    const RunResult run =
        runProgram("/bin/bash",
                   {"-c", "\"$0\" -o \"$1\" missing.img > \"$2\"", TONBRIX_BINARY, output, screen},
                   dir.path().string());
    EXPECT_EQ(run.exitCode, 24);
    EXPECT_EQ(run.err, kBanner + "Output '" + output +
                           "' is a terminal: pipe it into a player or redirect it!\n\n");
    char shown[256];
    EXPECT_LE(read(terminal, shown, sizeof shown), 0) << "the terminal got output";
  }
  close(terminal);
}

}  // namespace
