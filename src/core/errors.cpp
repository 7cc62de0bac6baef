// Error messages on standard error, each followed by one empty line.
#include "core/errors.h"

#include <cstdio>

namespace {

// Text arguments are printed with an explicit length: they are views, not C strings.
int textLength(std::string_view text) { return static_cast<int>(text.size()); }

// An empty view may hold no pointer at all, which printf must never see.
const char* textData(std::string_view text) { return text.empty() ? "" : text.data(); }

void reportUnknown(int32_t code) { std::fprintf(stderr, "Unknown error code: %d\n\n", code); }

}  // namespace

int32_t reportFailure(int32_t code, std::string_view first, std::string_view second,
                      std::string_view reason) {
  const int n1 = textLength(first);
  const int n2 = textLength(second);
  const char* t1 = textData(first);
  const char* t2 = textData(second);
  // Each message is printed without its final mark, so that a reason can go before it.
  const char* mark = "!";
  switch (code) {
    case kErrOutOfMemory:
      std::fputs("Out of memory", stderr);
      break;
    case kErrUnknownOption:
      std::fprintf(stderr, "Unknown option '%.*s'", n1, t1);
      break;
    case kErrBadCombination:
      std::fputs("Bad combination of options", stderr);
      break;
    case kErrMissingValue:
      std::fprintf(stderr, "Missing option value(s) '%.*s'", n1, t1);
      break;
    case kErrNoInput:
      std::fputs("Input file not specified", stderr);
      break;
    case kErrTwoInputs:
      if (first == "-" && second == "-") {
        std::fputs("Standard input can be read only once: '-' is given twice", stderr);
        break;
      }
      std::fprintf(stderr, "Only one input file can be specified! '%.*s' or '%.*s'", n1, t1, n2,
                   t2);
      mark = " ?";
      break;
    case kErrTwoOutputs:
      std::fprintf(stderr, "Only one output file can be specified! '%.*s' or '%.*s'", n1, t1, n2,
                   t2);
      mark = " ?";
      break;
    case kErrOpenInput:
      std::fprintf(stderr, "Can't open input file '%.*s'", n1, t1);
      break;
    case kErrAccessInput:
      std::fprintf(stderr, "Can't access input file '%.*s'", n1, t1);
      break;
    case kErrInputLength:
      std::fprintf(stderr, "Can't retrieve length of the input file '%.*s'", n1, t1);
      break;
    case kErrReadInput:
      std::fprintf(stderr, "Can't read from the input file '%.*s'", n1, t1);
      break;
    case kErrOpenOutput:
      std::fprintf(stderr, "Can't open output file '%.*s'", n1, t1);
      break;
    case kErrAccessOutput:
      std::fprintf(stderr, "Can't access output file '%.*s'", n1, t1);
      break;
    case kErrWriteOutput:
      std::fprintf(stderr, "Can't write to the output file '%.*s'", n1, t1);
      break;
    case kErrBadValue:
      std::fprintf(stderr, "Bad value '%.*s' in option `%.*s`", n1, t1, n2, t2);
      mark = reason.empty() ? " !" : "!";
      break;
    case kErrBadBlock:
      std::fprintf(stderr, "Bad number in block list at: `%.*s`", n1, t1);
      mark = "";
      break;
    case kErrBadWav:
      std::fprintf(stderr, "Bad audio file '%.*s': %.*s", n1, t1, n2, t2);
      break;
    case kErrUnsupportedWav:
      std::fprintf(stderr, "Unsupported audio file '%.*s': %.*s", n1, t1, n2, t2);
      break;
    case kErrNoBlocks:
      std::fprintf(stderr, "No tape blocks found in '%.*s'", n1, t1);
      break;
    case kErrDamagedBlocks:
      std::fprintf(stderr, "Damaged tape blocks found in '%.*s'", n1, t1);
      break;
    case kErrOutputExists:
      std::fprintf(stderr, "Output file '%.*s' exists: give -f to replace it, or another name",
                   n1, t1);
      break;
    case kErrForeignTake:
      std::fprintf(stderr, "Take '%.*s' holds another tape: its blocks %.*s contradict the other takes'",
                   n1, t1, n2, t2);
      break;
    case kErrTerminalOutput:
      std::fprintf(stderr, "Output '%.*s' is a terminal: pipe it into a player or redirect it", n1,
                   t1);
      break;
    default:
      reportUnknown(code);
      return code;
  }
  if (!reason.empty()) {
    std::fprintf(stderr, ": %.*s", textLength(reason), textData(reason));
  }
  std::fprintf(stderr, "%s\n\n", mark);
  return code;
}

int32_t reportFailure(int32_t code, std::string_view path, uint32_t offset) {
  if (code != kErrTapeCorrupted) {
    return reportFailure(code, path);
  }
  std::fprintf(stderr, "Tape '%.*s' corrupted at file offset %08X\n\n", textLength(path),
               textData(path), static_cast<unsigned>(offset));
  return code;
}

int32_t reportFailure(int32_t code, int32_t number) {
  if (code != kErrBadBlock) {
    reportUnknown(code);
    return code;
  }
  std::fprintf(stderr, "Bad block number: %d\n\n", number);
  return code;
}
