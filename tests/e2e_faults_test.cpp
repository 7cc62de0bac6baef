// Failures that come from the file system and the platform, run end to end: each case
// checks the message, the exit code and what is left on disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "support/run_binary.h"
#include "support/tape_builder.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using tape_builder::Header;
using tape_builder::patternBytes;
using tape_builder::TapeImage;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

tape_builder::Bytes bytesOf(const std::string& text) {
  return tape_builder::Bytes(text.begin(), text.end());
}

std::string message(const std::string& text) { return text + "\n\n"; }

std::string scanLines(const std::string& input) {
  return kBanner + "Reading source file: " + input + "\n";
}

std::string exportLines(const std::string& input, const std::string& output,
                        const std::string& protocol = "PMD 85") {
  return scanLines(input) + "Protocol: " + protocol + "\nCreating output WAV file: " + output +
         "\n";
}

// Little-endian 32-bit field of a WAV header held in a string.
uint32_t le32(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    value |= uint32_t{static_cast<uint8_t>(bytes[offset + i])} << (8 * i);
  }
  return value;
}

struct FifoRun {
  RunResult result;
  std::string written;  // everything the program wrote into the FIFO
};

// Runs the program while this thread reads the FIFO at `fifo`: `onOpen` runs as soon as
// the program has opened it for writing, before a single byte is taken out of it.
FifoRun runReadingFifo(const std::vector<std::string>& args, const std::string& captureDir,
                       const std::string& fifo, const std::function<void()>& onOpen) {
  FifoRun run;
  std::atomic<bool> opened{false};
  std::thread program([&] {
    run.result = runTonbrix(args, captureDir);
    // A program that failed before opening the FIFO would leave the reader waiting.
    while (!opened) {
      const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        close(fd);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const int fd = open(fifo.c_str(), O_RDONLY);
  opened = true;
  if (fd >= 0) {
    onOpen();
    char buffer[1 << 16];
    ssize_t count = 0;
    while ((count = read(fd, buffer, sizeof buffer)) > 0) {
      run.written.append(buffer, static_cast<size_t>(count));
    }
    close(fd);
  }
  program.join();
  return run;
}

class Faults : public TempDirTest {
 protected:
  void SetUp() override {
    input = dir.file("tape.img");
    ASSERT_TRUE(TapeImage()
                    .headerBlock(Header{}, patternBytes(300, 3))
                    .headerlessBlock(patternBytes(40, 4))
                    .writeTo(input));
    original = readWholeFile(input);
  }

  RunResult run(const std::vector<std::string>& args) {
    return runTonbrix(args, dir.path().string());
  }

  // The names in the temporary folder, so that a test can tell that nothing was created.
  std::set<std::string> entries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::string input;
  std::string original;
};

TEST_F(Faults, OutputToFullDeviceFailsWithWriteError) {
  const RunResult result = run({"-o", "/dev/full", input});
  EXPECT_EQ(result.exitCode, 16);
  EXPECT_EQ(result.err, message("Can't write to the output file '/dev/full'!"));
  EXPECT_EQ(result.out, exportLines(input, "/dev/full"));
  EXPECT_EQ(readWholeFile(input), original);
  EXPECT_EQ(entries(), std::set<std::string>{"tape.img"});
}

TEST_F(Faults, OutputThatCannotBeCreatedFailsWithOpenError) {
  const std::string readOnly = dir.file("read-only");
  fs::create_directory(readOnly);
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
  // Root writes into any folder whatever its mode; that case is then left out.
  const bool modeHonoured = access(readOnly.c_str(), W_OK) != 0;
  const std::vector<std::string> outputs = {
      dir.file("missing/out.wav"),
      input + "/out.wav",  // a folder that is a regular file
      readOnly + "/out.wav",
  };
  for (const std::string& output : outputs) {
    if (output.rfind(readOnly, 0) == 0 && !modeHonoured) {
      continue;
    }
    SCOPED_TRACE(output);
    const RunResult result = run({"-o", output, input});
    EXPECT_EQ(result.exitCode, 14);
    EXPECT_EQ(result.err, message("Can't open output file '" + output + "'!"));
    EXPECT_EQ(result.out, exportLines(input, output));
    EXPECT_FALSE(fs::exists(output));
  }
  EXPECT_EQ(entries(), (std::set<std::string>{"read-only", "tape.img"}));
  EXPECT_EQ(readWholeFile(input), original);
}

TEST_F(Faults, OutputNamingTheInputIsRefusedAndLeavesItUnchanged) {
  fs::create_symlink(input, dir.file("symbolic.img"));
  fs::create_hard_link(input, dir.file("hard.img"));
  for (const std::string& output :
       {input, dir.file("symbolic.img"), dir.file("hard.img"), dir.file("./tape.img")}) {
    SCOPED_TRACE(output);
    const RunResult result = run({"-o", output, input});
    EXPECT_EQ(result.exitCode, 14);
    EXPECT_EQ(result.err, message("Can't open output file '" + output + "'!"));
    EXPECT_EQ(readWholeFile(input), original);
  }
  // The same through the input named by a link, with the real file as the output.
  const RunResult result = run({"-mato", "-o", input, dir.file("symbolic.img")});
  EXPECT_EQ(result.exitCode, 14);
  EXPECT_EQ(readWholeFile(input), original);
  EXPECT_EQ(entries(), (std::set<std::string>{"hard.img", "symbolic.img", "tape.img"}));
}

TEST_F(Faults, InputThatCannotBeOpenedFailsWithOpenError) {
  fs::create_directory(dir.file("folder.img"));
  for (const std::string& name : {dir.file("missing.img"), dir.file("folder.img")}) {
    SCOPED_TRACE(name);
    const RunResult result = run({name});
    EXPECT_EQ(result.exitCode, 10);
    EXPECT_EQ(result.err, message("Can't open input file '" + name + "'!"));
    EXPECT_EQ(result.out, scanLines(name));
  }
  EXPECT_EQ(entries(), (std::set<std::string>{"folder.img", "tape.img"}));
}

TEST_F(Faults, UnreadableInputFailsWithOpenError) {
  const auto opens = [](const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
      close(fd);
    }
    return fd >= 0;
  };
  std::string unreadable = input;
  fs::permissions(input, fs::perms::none);
  if (opens(input)) {
    // Root reads any file whatever its mode; a write-only kernel attribute refuses even root.
    unreadable = "/sys/bus/pci/rescan";
    if (!fs::exists(unreadable) || opens(unreadable)) {
      GTEST_SKIP() << "running as root and no write-only kernel attribute to read";
    }
  }
  const RunResult result = run({"-list", unreadable});
  fs::permissions(input, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(result.exitCode, 10);
  EXPECT_EQ(result.err, message("Can't open input file '" + unreadable + "'!"));
  EXPECT_EQ(result.out, scanLines(unreadable));
  EXPECT_EQ(readWholeFile(input), original);
}

TEST_F(Faults, InputWithoutPositionsFailsWithAccessError) {
  const std::string fifo = dir.file("pipe.img");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Holding a writer end lets the program open the FIFO without waiting for one.
  const int writer = open(fifo.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  const RunResult result = run({fifo});
  close(writer);
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.err, message("Can't access input file '" + fifo + "'!"));
  EXPECT_EQ(result.out, scanLines(fifo));
  EXPECT_EQ(entries(), (std::set<std::string>{"pipe.img", "tape.img"}));
}

TEST_F(Faults, InputOfTwoGibibytesFailsWithLengthError) {
  const std::string huge = dir.file("huge.img");
  // A sparse file: the size is what matters, no disk space is used.
  ASSERT_TRUE(TapeImage().raw(patternBytes(100)).writeTo(huge));
  fs::resize_file(huge, uintmax_t{1} << 31);
  const RunResult result = run({huge});
  EXPECT_EQ(result.exitCode, 12);
  EXPECT_EQ(result.err, message("Can't retrieve length of the input file '" + huge + "'!"));
  EXPECT_EQ(result.out, scanLines(huge));
  EXPECT_EQ(entries(), (std::set<std::string>{"huge.img", "tape.img"}));
}

// The WAV goes into a FIFO that the test does not drain until the input has changed. A
// header block that is not the selection's first block gets a gap between the readings of
// its header and of its body: the program blocks on the full FIFO inside that long gap, so
// the body is read only after the change, whatever the timing.
TEST_F(Faults, InputChangedBetweenScanAndExportFailsWithoutWritingItsBytes) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> change;
    int exitCode;
    std::string error;
  };
  const std::string replacement = dir.file("replacement.img");
  int pipeWriter = -1;
  const std::vector<Case> cases = {
      {"truncated", [](const std::string& path) { fs::resize_file(path, 100); }, 13,
       "Can't read from the input file '%'!"},
      {"replaced by a longer file",
       [&](const std::string& path) {
         ASSERT_TRUE(
             TapeImage().raw(bytesOf(original)).raw(patternBytes(500)).writeTo(replacement));
         fs::rename(replacement, path);
       },
       13, "Can't read from the input file '%'!"},
      {"removed", [](const std::string& path) { fs::remove(path); }, 10,
       "Can't open input file '%'!"},
      // With a writer end held open, the pipe opens at once but cannot be positioned.
      {"replaced by a pipe",
       [&](const std::string& path) {
         ASSERT_EQ(mkfifo(replacement.c_str(), 0600), 0);
         pipeWriter = open(replacement.c_str(), O_RDWR);
         fs::rename(replacement, path);
       },
       11, "Can't access input file '%'!"},
  };
  const std::string fifo = dir.file("out.wav");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const Case& c : cases) {
    for (const char* protocol : {"-rph", "-mato"}) {
      SCOPED_TRACE(std::string(c.name) + " " + protocol);
      fs::remove(input);
      ASSERT_TRUE(TapeImage().raw(bytesOf(original)).writeTo(input));
      const FifoRun fifoRun =
          runReadingFifo({protocol, "-blk", "2,1", "-gap", "200", "-o", fifo, input},
                         dir.path().string(), fifo, [&] { c.change(input); });
      if (pipeWriter >= 0) {
        close(pipeWriter);
        pipeWriter = -1;
      }
      std::string error = c.error;
      error.replace(error.find('%'), 1, input);
      EXPECT_EQ(fifoRun.result.exitCode, c.exitCode);
      EXPECT_EQ(fifoRun.result.err, message(error));
      EXPECT_EQ(fifoRun.result.out.find("All done"), std::string::npos);
      // Never finalized: both size fields still say 0.
      ASSERT_GE(fifoRun.written.size(), 44u);
      EXPECT_EQ(le32(fifoRun.written, 4), 0u);
      EXPECT_EQ(le32(fifoRun.written, 40), 0u);
    }
  }
}

TEST_F(Faults, OutputWithoutPositionsIsWrittenButCannotBeFinalized) {
  const std::string fifo = dir.file("out.wav");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const FifoRun fifoRun =
      runReadingFifo({"-sr", "L", "-o", fifo, input}, dir.path().string(), fifo, [] {});
  EXPECT_EQ(fifoRun.result.exitCode, 15);
  EXPECT_EQ(fifoRun.result.err, message("Can't access output file '" + fifo + "'!"));
  EXPECT_EQ(fifoRun.result.out, exportLines(input, fifo));
  // The whole sound went out; only the sizes could not be written back.
  ASSERT_GT(fifoRun.written.size(), 11025u * 2);
  EXPECT_EQ(fifoRun.written.compare(0, 4, "RIFF"), 0);
  EXPECT_EQ(le32(fifoRun.written, 40), 0u);
  EXPECT_EQ(readWholeFile(input), original);
}

TEST_F(Faults, AllocationFailureUnderAnAddressSpaceLimitReportsOutOfMemory) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limit allows";
  }
  // 64 MiB of address space: the program starts, but a list of 16 Mi entries cannot grow.
  const RunResult result = runProgram(
      "/bin/sh",
      {"-c", "ulimit -v 65536 && exec \"$0\" \"$@\"", TONBRIX_BINARY, "-blk", "1-16777216", input},
      dir.path().string());
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.err, message("Out of memory!"));
  EXPECT_EQ(result.out, kBanner);
  EXPECT_EQ(entries(), std::set<std::string>{"tape.img"});
}

}  // namespace
