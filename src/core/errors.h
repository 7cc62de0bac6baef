// Status codes of every operation and the one place that prints their messages.
#pragma once

#include <cstdint>
#include <string_view>

// Every operation returns kOk or one of these codes. The show-usage and show-version
// statuses travel only from parseOptions to the driver; all others are failures whose
// absolute value becomes the exit code.
enum ErrorCode : int32_t {
  kOk = 0,
  kShowUsage = -1,
  kShowVersion = -2,
  kErrOutOfMemory = -3,
  kErrUnknownOption = -4,
  kErrBadCombination = -5,
  kErrMissingValue = -6,
  kErrNoInput = -7,
  kErrTwoInputs = -8,
  kErrTwoOutputs = -9,
  kErrOpenInput = -10,
  kErrAccessInput = -11,
  kErrInputLength = -12,
  kErrReadInput = -13,
  kErrOpenOutput = -14,
  kErrAccessOutput = -15,
  kErrWriteOutput = -16,
  kErrBadValue = -17,
  kErrTapeCorrupted = -18,
  kErrBadBlock = -19,
  // Only tonbrix-decode meets these; one table keeps one exit code from meaning two things.
  kErrBadWav = -20,          // "Bad audio file '%s': %s!"
  kErrUnsupportedWav = -21,  // "Unsupported audio file '%s': %s!"
  kErrNoBlocks = -22,        // "No tape blocks found in '%s'!"
  // The image is written, but not every block in it is whole: batch scripts must be able
  // to tell a perfect transfer from a damaged one.
  kErrDamagedBlocks = -23,  // "Damaged tape blocks found in '%s'!"
  // tonbrix: a WAV for standard output (-o -) that is a terminal would only fill the
  // screen with binary.
  kErrTerminalOutput = -24,  // "Output '%s' is a terminal: pipe it into a player or redirect it!"
  // A file that would be replaced: only an explicit -f may destroy what is there.
  kErrOutputExists = -25,  // "Output file '%s' exists: give -f to replace it, or another name!"
  // tonbrix-decode: a take of another tape, whose blocks contradict the other takes'. The
  // image is written without it, or with it where -mix asks so; never as a whole one.
  kErrForeignTake = -26,  // "Take '%s' holds another tape: its blocks %s contradict the other takes'!"
};

// Prints the message of `code` with up to two text arguments on stderr, followed by an
// empty line, and returns `code` so that the detecting operation can report and return
// in one statement. For kErrBadBlock the text form is the block-list message. A
// `reason` (the operating system's, or what the input lacks) goes before the message's
// final mark: "Can't open input file 'a.wav': No such file or directory!". Both inputs
// "-" in kErrTwoInputs say that standard input was given twice.
int32_t reportFailure(int32_t code, std::string_view first = {}, std::string_view second = {},
                      std::string_view reason = {});

// The -18 form: the tape name and the file offset at which the scan could go no further.
int32_t reportFailure(int32_t code, std::string_view path, uint32_t offset);

// The numeric -19 form, "Bad block number: %d", and the fallback for unknown codes.
int32_t reportFailure(int32_t code, int32_t number);
