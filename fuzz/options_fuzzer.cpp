// Feeds arbitrary argument vectors, split at NUL bytes, through the option parser.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments(1, "tonbrix");
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  arguments.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  argv.push_back(nullptr);

  ConversionJob job;
  const int32_t status = parseOptions(static_cast<int>(arguments.size()), argv.data(), job);
  if (status == kOk && (job.inputPath == nullptr || job.outputPath == nullptr)) {
    __builtin_trap();
  }
  if (job.selection && job.selectionCount > static_cast<int32_t>(job.selection->size())) {
    __builtin_trap();
  }
  // The early look for the output must agree with the parse on every command line that
  // parses and exports.
  if (status == kOk && job.listOnly == 0) {
    const char* early = findExportOutput(static_cast<int>(arguments.size()), argv.data());
    const std::string parsed = job.outputPath;
    if (early != nullptr ? parsed != early : parsed == "-") {
      __builtin_trap();
    }
  }
  // Every argument as a block list as well, so that list texts need no "-blk" in front.
  for (size_t i = 1; i < arguments.size(); ++i) {
    ConversionJob listJob;
    if (parseBlockList(listJob, argv[i]) != kOk) {
      continue;
    }
    if (listJob.selectionCount > static_cast<int32_t>(listJob.selection->size())) {
      __builtin_trap();
    }
    for (int32_t k = 0; k < listJob.selectionCount; ++k) {
      if ((*listJob.selection)[static_cast<size_t>(k)] < 1) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
