// Entry point: runs one conversion job from the command line and returns its exit code.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "app/driver.h"
#include "app/options.h"
#include "core/arguments.h"
#include "core/errors.h"
#include "core/job.h"

namespace {

// When the WAV goes to standard output, the original descriptor goes to a stream of its
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

// True for -o - and for a path that names the file standard output already is
// (/dev/stdout, or the file it was redirected to): opened a second time, that file would
// take the WAV and the program's own lines mixed, and a pipe could not be finalized.
bool namesStandardOutput(const char* path) {
  if (path == nullptr) {
    return false;
  }
  if (isOption(path, "-")) {
    return true;
  }
  struct stat output = {};
  struct stat named = {};
  return fstat(STDOUT_FILENO, &output) == 0 && stat(path, &named) == 0 &&
         output.st_dev == named.st_dev && output.st_ino == named.st_ino;
}

// `toStandardOutput` says that the command line's output names standard output; the stream
// was taken before parsing so that the banner already went to stderr.
int32_t runJob(int argc, const char* const* argv, bool toStandardOutput, FileHandle& standardOutput,
               ConversionJob& job) {
  int32_t status = parseOptions(argc, argv, job);
  if (status != kOk) {
    return status;
  }
  if (toStandardOutput) {
    if (standardOutput && isatty(fileno(standardOutput.get())) != 0) {
      return reportFailure(kErrTerminalOutput, job.outputPath);
    }
    job.toStandardOutput = 1;
    job.standardOutput = std::move(standardOutput);
  }
  return runConversion(job);
}

}  // namespace

int main(int argc, char** argv) {
  const bool toStandardOutput = namesStandardOutput(findExportOutput(argc, argv));
  FileHandle standardOutput;
  if (toStandardOutput) {
    standardOutput = takeStandardOutput();
  }
  int32_t status = kShowUsage;
  if (argc > 1) {
    printBanner();
    ConversionJob job;
    status = runJob(argc, argv, toStandardOutput, standardOutput, job);
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
