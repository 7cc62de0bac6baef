// Parsing of the command line into the job.
#include "app/options.h"

#include <cstdio>
#include <limits>

#include "core/arguments.h"
#include "core/names.h"
#include "version.h"

namespace {

constexpr int32_t kSelectionChunk = 32;

bool fitsBlockNumber(long value) {
  return value >= 1 && value <= std::numeric_limits<int32_t>::max();
}

// Appends `value` to the growing list, adding room 32 entries at a time.
int32_t appendEntry(Slot<int32_t>& list, int32_t& count, int32_t value) {
  if (count >= kMaxSelectionEntries) {
    return reportFailure(kErrOutOfMemory);
  }
  if (static_cast<size_t>(count) == list->size()) {
    const int32_t status = growZeroed(list, list->size() + kSelectionChunk);
    if (status != kOk) {
      return status;
    }
  }
  (*list)[static_cast<size_t>(count)] = value;
  ++count;
  return kOk;
}

bool takesValue(const char* argument) {
  return isOption(argument, "-blk") || isOption(argument, "-amp") || isOption(argument, "-gap") ||
         isOption(argument, "-sr") || isOption(argument, "-o");
}

}  // namespace

int32_t parseBlockList(ConversionJob& job, const char* text) {
  Slot<int32_t> list;
  int32_t status = allocZeroed(list, kSelectionChunk);
  if (status != kOk) {
    return status;
  }
  int32_t count = 0;
  bool rangePending = false;
  const char* position = text;
  while (*position != '\0') {
    long value = 0;
    const char* end = position;
    if (!readNumber(position, value, end) || !fitsBlockNumber(value)) {
      return reportFailure(kErrBadBlock, position);
    }
    const auto number = static_cast<int32_t>(value);
    if (rangePending) {
      const int32_t previous = (*list)[static_cast<size_t>(count - 1)];
      if (previous > number) {
        return reportFailure(kErrBadBlock, position);
      }
      // Refuse an oversized range before growing anything for it.
      if (int64_t{count} + (int64_t{number} - previous) > kMaxSelectionEntries) {
        return reportFailure(kErrOutOfMemory);
      }
      for (int32_t next = previous; next < number;) {
        status = appendEntry(list, count, ++next);
        if (status != kOk) {
          return status;
        }
      }
      rangePending = false;
    } else {
      status = appendEntry(list, count, number);
      if (status != kOk) {
        return status;
      }
    }
    if (*end == '\0') {
      break;
    }
    if (*end == ',') {
      position = end + 1;
    } else if (*end == '-') {
      rangePending = true;
      position = end + 1;
    } else {
      return reportFailure(kErrBadBlock, position);
    }
  }
  job.selection = std::move(list);
  job.selectionCount = count;
  return kOk;
}

int32_t parseOptions(int argc, const char* const* argv, ConversionJob& job) {
  job = ConversionJob{};
  int32_t result = kOk;
  for (int i = 1; i < argc && result == kOk; ++i) {
    const char* argument = argv[i];
    if (isOption(argument, "-h")) {
      result = kShowUsage;
    } else if (isOption(argument, "-v")) {
      result = kShowVersion;
    } else if (isOption(argument, "-vb")) {
      job.verbose = 1;
    } else if (isOption(argument, "-mato")) {
      job.useMato = 1;
    } else if (isOption(argument, "-dbl")) {
      job.doubleSpeed = 1;
    } else if (isOption(argument, "-rph")) {
      job.reversePhase = 1;
    } else if (isOption(argument, "-list")) {
      job.listOnly = 1;
    } else if (takesValue(argument)) {
      if (i + 1 >= argc) {
        result = reportFailure(kErrMissingValue, argument);
        break;
      }
      const char* value = argv[++i];
      if (isOption(argument, "-blk")) {
        result = parseBlockList(job, value);
      } else if (isOption(argument, "-amp")) {
        const int32_t amplitude = parseNumber(value);
        if (amplitude < 1 || amplitude > 127) {
          result = reportFailure(kErrBadValue, value, argument);
        } else {
          job.highLevel = static_cast<uint8_t>(128 + amplitude);
          job.lowLevel = static_cast<uint8_t>(128 - amplitude);
        }
      } else if (isOption(argument, "-gap")) {
        const int32_t seconds = parseNumber(value);
        if (seconds < 1) {
          result = reportFailure(kErrBadValue, value, argument);
        } else {
          job.gapSeconds = seconds;
        }
      } else if (isOption(argument, "-sr")) {
        const std::string_view rate = value;
        if (equalsIgnoringCase(rate, "L")) {
          job.sampleRateIndex = 0;
        } else if (equalsIgnoringCase(rate, "M")) {
          job.sampleRateIndex = 1;
        } else if (equalsIgnoringCase(rate, "H")) {
          job.sampleRateIndex = 2;
        } else {
          result = reportFailure(kErrBadValue, value, argument);
        }
      } else {
        result = takeOutputName(job.outputPath, value);
      }
    } else if (argument[0] == '-') {
      result = reportFailure(kErrUnknownOption, argument);
    } else {
      result = takeInputName(job.inputPath, argument);
    }
  }
  if (result == kOk) {
    if (job.inputPath == nullptr) {
      result = reportFailure(kErrNoInput);
    } else if (job.outputPath == nullptr) {
      job.derivedOutputName = deriveOutputName(job.inputPath);
      job.outputPath = job.derivedOutputName.c_str();
    } else {
      job.toStandardOutput = isOption(job.outputPath, "-") ? 1 : 0;
    }
  }
  if (job.doubleSpeed != 0 && job.useMato != 0) {
    result = reportFailure(kErrBadCombination);
  }
  return result;
}

void printBanner() {
  std::fputs("Tonbrix " TONBRIX_VERSION " - PMD 85 and Mato tape image to WAV converter\n\n",
             stdout);
}

const char* findExportOutput(int argc, const char* const* argv) {
  const char* output = nullptr;
  bool listing = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (isOption(argument, "-h") || isOption(argument, "-v")) {
      return nullptr;
    }
    if (isOption(argument, "-list")) {
      listing = true;
    } else if (takesValue(argument) && i + 1 < argc) {
      const char* value = argv[++i];
      if (isOption(argument, "-o") && output == nullptr) {
        output = value;
      }
    }
  }
  return listing ? nullptr : output;
}

void printUsage() {
  printBanner();
  std::printf("Usage: %s [options] infile.ext\n", "tonbrix");
  std::fputs("\nCommon options:\n", stdout);
  std::fputs("  -o outfile.ext  output file name\n", stdout);
  std::fputs("  -list\t\t  print tape content\n", stdout);
  std::fputs("  -blk BLK_LIST\t  list of blocks to export (e.g. 3,5,8-11,1) [all]\n", stdout);
  std::fputs("  -mato\t\t  export using Mato protocol\n", stdout);
  std::fputs("  -dbl\t\t  double speed (only PMD 85)\n", stdout);
  std::fputs("  -rph\t\t  reversal phase\n", stdout);
  std::fputs("  -sr SR\t  sample rate [M]; SR=L/M/H (Low/Middle/High)\n", stdout);
  std::fputs("  -amp NUM\t  amplitude <1, 127> [90]\n", stdout);
  std::fputs("  -gap NUM\t  gap before next header block in seconds [4]\n", stdout);
  std::fputs("  -vb\t\t  verbose\n", stdout);
  std::fputs("  -h\t\t  usage information\n", stdout);
  std::fputs("  -v\t\t  version info\n", stdout);
  std::fputs("\nAll numeric parameters must be nonnegative integers and can be in three forms:\n",
             stdout);
  std::fputs("  decimal (e.g. 12345)\n", stdout);
  std::fputs("  octal (e.g. 01234)\n", stdout);
  std::fputs("  hexadecimal (e.g. 0x1234)\n\n", stdout);
}
