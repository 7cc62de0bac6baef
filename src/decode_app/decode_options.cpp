// Parsing of tonbrix-decode's command line into a DecodeJob.
#include "decode_app/decode_options.h"

#include <cstdio>
#include <cstring>

#include "core/arguments.h"
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

}  // namespace

std::string deriveImageName(const std::string& inputPath) {
  return replaceExtension(inputPath, ".img");
}

int32_t parseDecodeOptions(int argc, const char* const* argv, DecodeJob& job) {
  job = DecodeJob{};
  bool pmd = false;
  bool normalPhase = false;
  int32_t result = kOk;
  for (int i = 1; i < argc && result == kOk; ++i) {
    const char* argument = argv[i];
    if (isOption(argument, "-h")) {
      result = kShowUsage;
    } else if (isOption(argument, "-v")) {
      result = kShowVersion;
    } else if (isOption(argument, "-vb")) {
      job.verbose = 1;
    } else if (isOption(argument, "-list")) {
      job.listOnly = 1;
    } else if (isOption(argument, "-pmd")) {
      pmd = true;
    } else if (isOption(argument, "-mato")) {
      job.protocol = kProtocolMato;
    } else if (isOption(argument, "-nph")) {
      normalPhase = true;
    } else if (isOption(argument, "-rph")) {
      job.phase = kPhaseReversed;
    } else if (isOption(argument, "-ch") || isOption(argument, "-o")) {
      if (i + 1 >= argc) {
        result = reportFailure(kErrMissingValue, argument);
        break;
      }
      const char* value = argv[++i];
      if (isOption(argument, "-ch")) {
        result = parseChannel(value, argument, job);
      } else {
        result = takeOutputName(job.outputPath, value);
      }
    } else if (argument[0] == '-' && argument[1] != '\0') {
      result = reportFailure(kErrUnknownOption, argument);
    } else {
      result = takeInputName(job.inputPath, argument);
    }
  }
  if (result != kOk) {
    return result;
  }
  if ((pmd && job.protocol == kProtocolMato) || (normalPhase && job.phase == kPhaseReversed)) {
    return reportFailure(kErrBadCombination);
  }
  if (pmd) {
    job.protocol = kProtocolPmd;
  }
  if (normalPhase) {
    job.phase = kPhaseNormal;
  }
  if (job.inputPath == nullptr) {
    return reportFailure(kErrNoInput);
  }
  if (job.outputPath == nullptr) {
    job.derivedOutputName = std::strcmp(job.inputPath, kStandardInput) == 0
                                ? "stdin.img"
                                : deriveImageName(job.inputPath);
    job.outputPath = job.derivedOutputName.c_str();
  }
  return kOk;
}

void printDecodeBanner() {
  std::fputs("Tonbrix-decode " TONBRIX_VERSION " - WAV to PMD 85 and Mato tape image converter\n\n",
             stdout);
}

void printDecodeUsage() {
  std::printf("Usage: %s [options] infile.wav\n", "tonbrix-decode");
  std::fputs("\nOptions:\n", stdout);
  std::fputs("  -o outfile.ext  output tape image name [infile.img]\n", stdout);
  std::fputs("  -list\t\t  print what the recording holds, write no tape image\n", stdout);
  std::fputs("  -pmd\t\t  PMD 85 protocol only, either speed [detect]\n", stdout);
  std::fputs("  -mato\t\t  Mato protocol only [detect]\n", stdout);
  std::fputs("  -nph\t\t  normal phase only: a mark starts high [detect]\n", stdout);
  std::fputs("  -rph\t\t  reversal phase only: a mark starts low [detect]\n", stdout);
  std::fputs("  -ch CH\t  channel [A]; CH=L/R/A (Left/Right/Auto: the best) or 1..N\n", stdout);
  std::fputs("  -vb\t\t  verbose: measured speed and frame errors of each block\n", stdout);
  std::fputs("  -h\t\t  usage information\n", stdout);
  std::fputs("  -v\t\t  version info\n", stdout);
  std::fputs("\nInput: WAV (PCM 8/16/24/32-bit, float, extensible), W64, RF64, AIFF, FLAC, Ogg\n",
             stdout);
  std::fputs("and what else libsndfile reads; 8000 to 384000 samples per second, any number\n",
             stdout);
  std::fputs("of channels. infile \"-\" reads standard input (WAV), for decoding while the tape\n",
             stdout);
  std::fputs("plays:  arecord -f S16_LE -r 48000 -c 2 -t wav | tonbrix-decode -o side_a.img -\n",
             stdout);
  std::fputs("Output: a tape image in the record layout, written when the recording ends.\n",
             stdout);
  std::fputs("Exit code 23: the image was written, but some blocks in it are damaged.\n\n", stdout);
}
