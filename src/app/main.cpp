// Entry point: runs one conversion job from the command line and returns its exit code.
#include <cstdio>

#include "app/driver.h"
#include "app/options.h"
#include "core/errors.h"
#include "core/file_io.h"
#include "core/job.h"

namespace {

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
