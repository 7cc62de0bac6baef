// Entry point: runs one conversion job from the command line and returns its exit code.
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "app/driver.h"
#include "app/options.h"
#include "core/errors.h"
#include "core/job.h"

namespace {

// With -o - the WAV owns standard output: the original descriptor goes to a stream of its
// own, and descriptor 1 becomes a copy of standard error, so that every line the program
// prints on stdout elsewhere reaches the user without entering the WAV. Returns an empty
// handle when that cannot be arranged; opening the output then fails with -14.
FileHandle takeStandardOutput() {
  const int descriptor = dup(STDOUT_FILENO);
  if (descriptor < 0) {
    return {};
  }
  FileHandle stream(fdopen(descriptor, "wb"));
  if (!stream) {
    close(descriptor);
    return {};
  }
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    return {};
  }
  // Line by line, so that the messages keep their order with the unbuffered errors.
  (void)std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  // A player that quits closes the pipe: the next write then fails with -16 instead of
  // the signal ending the program.
  (void)std::signal(SIGPIPE, SIG_IGN);
  return stream;
}

int32_t runJob(int argc, const char* const* argv, FileHandle& standardOutput, ConversionJob& job) {
  int32_t status = parseOptions(argc, argv, job);
  if (status != kOk) {
    return status;
  }
  job.standardOutput = std::move(standardOutput);
  return runConversion(job);
}

}  // namespace

int main(int argc, char** argv) {
  FileHandle standardOutput;
  if (asksForStandardOutput(argc, argv)) {
    standardOutput = takeStandardOutput();
  }
  int32_t status = kShowUsage;
  if (argc > 1) {
    printBanner();
    ConversionJob job;
    status = runJob(argc, argv, standardOutput, job);
  }
  if (status == kShowUsage) {
    printUsage();
    status = kOk;
  } else if (status == kShowVersion) {
    printBanner();
    status = kOk;
  } else if (status == kOk) {
    std::fputs("\nAll done.\n", stdout);
  }
  return -status;
}
