// Entry point: runs one conversion job from the command line and returns its exit code.
#include <unistd.h>

#include <cstdio>

#include "app/driver.h"
#include "app/options.h"
#include "core/arguments.h"
#include "core/errors.h"
#include "core/file_io.h"
#include "core/job.h"

namespace {

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
