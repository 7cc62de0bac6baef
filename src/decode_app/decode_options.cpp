// Parsing of tonbrix-decode's command line into a DecodeJob.
#include "decode_app/decode_options.h"

#include <cstdio>
#include <cstring>

#include "core/arguments.h"
#include "core/file_io.h"
#include "core/memory.h"
#include "core/names.h"
#include "version.h"

namespace {

int32_t parseChannel(const char* value, const char* option, DecodeJob& job) {
  const std::string_view text = value;
  job.channelText = value;
  job.channelByNumber = false;
  const int32_t number = parseNumber(value);
  if (equalsIgnoringCase(text, "L")) {
    job.channel = 0;
  } else if (equalsIgnoringCase(text, "R")) {
    job.channel = 1;
  } else if (equalsIgnoringCase(text, "A")) {
    job.channel = kChannelAuto;
  } else if (number >= 1 && text.find_first_not_of("0123456789") == text.npos) {
    job.channel = number - 1;
    job.channelByNumber = true;
  } else {
    return reportFailure(kErrBadValue, value, option);
  }
  return kOk;
}

// What the options say that counts only once every argument is read.
struct OptionChoices {
  bool pmd = false;
  bool normalPhase = false;
  bool standardInput = false;
};

// Sets what the option `argument` without a value says; false when it is none of those.
bool takeFlag(const char* argument, DecodeJob& job, OptionChoices& choices) {
  if (isOption(argument, "-vb")) {
    job.verbose = 1;
  } else if (isOption(argument, "-q")) {
    job.quiet = 1;
  } else if (isOption(argument, "-f")) {
    job.force = 1;
  } else if (isOption(argument, "-mix")) {
    job.mixTakes = 1;
  } else if (isOption(argument, "-list")) {
    job.listOnly = 1;
  } else if (isOption(argument, "-pmd")) {
    choices.pmd = true;
  } else if (isOption(argument, "-mato")) {
    job.protocol = kProtocolMato;
  } else if (isOption(argument, "-nph")) {
    choices.normalPhase = true;
  } else if (isOption(argument, "-rph")) {
    job.phase = kPhaseReversed;
  } else {
    return false;
  }
  return true;
}

// Takes `value` of -ch, -o or -report (`option`).
int32_t takeValue(const char* option, const char* value, DecodeJob& job) {
  if (isOption(option, "-ch")) {
    return parseChannel(value, option, job);
  }
  return takeOutputName(isOption(option, "-o") ? job.outputPath : job.reportPath, value);
}

// The checks and defaults that need every argument read.
int32_t settleDecodeOptions(const OptionChoices& choices, DecodeJob& job) {
  if ((choices.pmd && job.protocol == kProtocolMato) ||
      (choices.normalPhase && job.phase == kPhaseReversed)) {
    return reportFailure(kErrBadCombination);
  }
  if (choices.pmd) {
    job.protocol = kProtocolPmd;
  }
  if (choices.normalPhase) {
    job.phase = kPhaseNormal;
  }
  if (job.inputPaths.empty()) {
    return reportFailure(kErrNoInput);
  }
  if (job.outputPath == nullptr) {
    const char* first = job.inputPaths[0];
    job.derivedOutputName = isStandardStream(first) ? "stdin.img" : deriveImageName(first);
    job.outputPath = job.derivedOutputName.c_str();
  }
  return kOk;
}

}  // namespace

std::string deriveImageName(const std::string& inputPath) {
  return replaceExtension(inputPath, ".img");
}

bool isStandardStream(const char* path) { return std::strcmp(path, kStandardStream) == 0; }

int32_t parseDecodeOptions(int argc, const char* const* argv, DecodeJob& job) {
  job = DecodeJob{};
  OptionChoices choices;
  int32_t result = kOk;
  for (int i = 1; i < argc && result == kOk; ++i) {
    const char* argument = argv[i];
    if (isOption(argument, "-h") || isOption(argument, "--help")) {
      result = kShowUsage;
    } else if (isOption(argument, "-v") || isOption(argument, "--version")) {
      result = kShowVersion;
    } else if (takeFlag(argument, job, choices)) {
      continue;
    } else if (isOption(argument, "-ch") || isOption(argument, "-o") ||
               isOption(argument, "-report")) {
      result = i + 1 < argc ? takeValue(argument, argv[++i], job)
                            : reportFailure(kErrMissingValue, argument);
    } else if (argument[0] == '-' && argument[1] != '\0') {
      result = reportFailure(kErrUnknownOption, argument);
    } else if (isStandardStream(argument) && choices.standardInput) {
      result = reportFailure(kErrTwoInputs, argument, argument);
    } else {
      choices.standardInput = choices.standardInput || isStandardStream(argument);
      result = appendItem(job.inputPaths, argument);
    }
  }
  return result == kOk ? settleDecodeOptions(choices, job) : result;
}

StandardOutputUse findStandardOutputUse(int argc, const char* const* argv) {
  StandardOutputUse use;
  bool imageThere = false;
  bool outputGiven = false;
  bool reportGiven = false;
  bool listing = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (isOption(argument, "-h") || isOption(argument, "--help") || isOption(argument, "-v") ||
        isOption(argument, "--version")) {
      return StandardOutputUse{};
    }
    listing = listing || isOption(argument, "-list");
    use.quiet = use.quiet || isOption(argument, "-q");
    const bool output = isOption(argument, "-o");
    const bool report = isOption(argument, "-report");
    if ((output || report || isOption(argument, "-ch")) && i + 1 < argc) {
      const char* value = argv[++i];
      // The first of each counts; a second one is refused by the parser.
      if (output && !outputGiven) {
        imageThere = namesStandardOutput(value);
      }
      if (report && !reportGiven) {
        use.report = namesStandardOutput(value);
      }
      outputGiven = outputGiven || output;
      reportGiven = reportGiven || report;
    }
  }
  use.image = imageThere && !listing;
  return use;
}

void printDecodeBanner() {
  std::fputs("Tonbrix-decode " TONBRIX_VERSION " - WAV to PMD 85 and Mato tape image converter\n\n",
             stdout);
}

void printDecodeUsage() {
  std::printf("Usage: %s [options] infile.wav [infile2.wav ...]\n", "tonbrix-decode");
  std::fputs("\nOptions:\n", stdout);
  std::fputs("  -o outfile.ext  output tape image name [infile.img]; - is standard output\n",
             stdout);
  std::fputs("  -report FILE\t  write where each block came from and its damage (JSON)\n",
             stdout);
  std::fputs("  -f\t\t  replace an existing output file\n", stdout);
  std::fputs("  -list\t\t  print what the recording holds, write no tape image\n", stdout);
  std::fputs("  -mix\t\t  merge a take that holds another tape all the same\n", stdout);
  std::fputs("  -pmd\t\t  PMD 85 protocol only, either speed [detect]\n", stdout);
  std::fputs("  -mato\t\t  Mato protocol only [detect]\n", stdout);
  std::fputs("  -nph\t\t  normal phase only: a mark starts high [detect]\n", stdout);
  std::fputs("  -rph\t\t  reversal phase only: a mark starts low [detect]\n", stdout);
  std::fputs("  -ch CH\t  channel [A]; CH=L/R/A (Left/Right/Auto: the best) or 1..N\n", stdout);
  std::fputs("  -vb\t\t  verbose: measured speed and frame errors of each block\n", stdout);
  std::fputs("  -q\t\t  quiet: no listing, no progress; only errors\n", stdout);
  std::fputs("  -h, --help\t  usage information\n", stdout);
  std::fputs("  -v, --version\t  version info\n", stdout);
  std::fputs("\nInput: WAV (PCM 8/16/24/32-bit, float, extensible), W64, RF64, AIFF, FLAC, Ogg\n",
             stdout);
  std::fputs("and what else libsndfile reads; 8000 to 384000 samples per second, any number\n",
             stdout);
  std::fputs("of channels. infile \"-\" reads standard input (WAV), for decoding while the tape\n",
             stdout);
  std::fputs("plays:  arecord -f S16_LE -r 48000 -c 2 -t wav | tonbrix-decode -o side_a.img -\n",
             stdout);
  std::fputs("Several recordings of one tape (takes) make one image: each block comes from a\n",
             stdout);
  std::fputs("take that read it whole, or is combined byte by byte from all of them.\n", stdout);
  std::fputs("Output: a tape image in the record layout, written when the recordings end.\n",
             stdout);
  // The codes a user of this program meets most; the man page explains every one.
  const struct {
    ErrorCode code;
    const char* meaning;
  } exitCodes[] = {
      {kErrDamagedBlocks, "the image was written, but some blocks in it are damaged"},
      {kErrOutputExists, "the output file exists; -f replaces it"},
      {kErrForeignTake, "a take holds another tape; it is left out of the image unless -mix"},
  };
  for (const auto& exit : exitCodes) {
    std::printf("Exit code %d: %s.\n", -exit.code, exit.meaning);
  }
  std::fputs("\n", stdout);
}
