// End-to-end tests of -o -: the WAV on a real pipe, byte for byte what -o FILE writes,
// the messages moved to stderr, and a reader that goes away early.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/tape_builder.h"
#include "support/temp_dir.h"

namespace {

// Runs tonbrix with stdout on a pipe whose reader takes up to `readLimit` bytes (all
// when negative) and then closes its end; stderr is captured in `captureDir`.
RunResult runIntoPipe(const std::vector<std::string>& args, const std::string& captureDir,
                      long readLimit) {
  const std::string errPath = captureDir + "/.stderr";
  RunResult result;
  int ends[2];
  if (pipe(ends) != 0) {
    return result;
  }
  const pid_t child = fork();
  if (child == 0) {
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = open("/dev/null", O_RDONLY);
    if (err < 0 || in < 0 || dup2(ends[1], 1) < 0 || dup2(err, 2) < 0 || dup2(in, 0) < 0) {
      _exit(127);
    }
    close(ends[0]);
    std::vector<char*> argv = {const_cast<char*>(TONBRIX_BINARY)};
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(TONBRIX_BINARY, argv.data());
    _exit(127);
  }
  close(ends[1]);
  char buffer[4096];
  while (readLimit < 0 || static_cast<long>(result.out.size()) < readLimit) {
    const size_t want = readLimit < 0 ? sizeof buffer
                                      : std::min(sizeof buffer, static_cast<size_t>(readLimit) -
                                                                    result.out.size());
    const ssize_t got = read(ends[0], buffer, want);
    if (got <= 0) {
      break;
    }
    result.out.append(buffer, static_cast<size_t>(got));
  }
  close(ends[0]);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  }
  result.err = readWholeFile(errPath);
  unlink(errPath.c_str());
  return result;
}

struct PipeCase {
  std::vector<std::string> options;
  long readLimit;  // bytes the reader takes before it quits; negative: the whole WAV
};

// clang-format off
const PipeCase kPipeCases[] = {
    {{"-sr", "L"}, -1},
    {{}, -1},
    {{"-sr", "H"}, -1},
    {{"-dbl", "-sr", "L"}, -1},
    {{"-dbl"}, -1},
    {{"-dbl", "-sr", "H"}, -1},
    {{"-mato", "-sr", "L"}, -1},
    {{"-mato"}, -1},
    {{"-mato", "-sr", "H"}, -1},
    {{"-vb", "-rph", "-gap", "1", "-blk", "3,1,2,3,3"}, -1},
    {{"-vb", "-mato", "-blk", "2,3,1,3"}, -1},
    {{"-vb"}, 0},        // the player never starts
    {{"-mato"}, 100000},  // the player quits in the middle
};
// clang-format on

std::string describe(const PipeCase& pipeCase) {
  std::string text = "options:";
  for (const std::string& option : pipeCase.options) {
    text += " " + option;
  }
  return text + ", reader takes " + std::to_string(pipeCase.readLimit);
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
    const RunResult toPipe = runIntoPipe(args, dir.path().string(), pipeCase.readLimit);
    std::string messages = toFile.out;
    const std::string creating = "Creating output WAV file: ";
    messages.replace(messages.find(creating + wavPath), creating.size() + wavPath.size(),
                     creating + "-");
    if (pipeCase.readLimit < 0) {
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
  const RunResult result = runTonbrix({"-o", "./-", "tape.img"}, dir.path().string(),
                                      dir.path().string());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("Creating output WAV file: ./-\n"), std::string::npos);
  EXPECT_EQ(readWholeFile(dir.file("-")).substr(0, 4), "RIFF");
}

}  // namespace
