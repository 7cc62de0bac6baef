// Command-line options: from argument texts to the settings of a ConversionJob.
#pragma once

#include <cstdint>

#include "core/job.h"

// A -blk list longer than this is refused as "Out of memory!" before anything is
// allocated, so that a range such as 1-2147483647 cannot ask for gigabytes.
inline constexpr int32_t kMaxSelectionEntries = 16 * 1024 * 1024;

// Resets `job` to its defaults and fills it from argv[1..argc-1]. Returns kOk,
// kShowUsage for -h, kShowVersion for -v, or an error code that has already been
// reported. The -dbl/-mato combination check runs last on every path and its code then
// replaces any other result. Argument texts are referred to, not copied.
[[nodiscard]] int32_t parseOptions(int argc, const char* const* argv, ConversionJob& job);

// Reads a block list such as "3,5,8-11,1" into job.selection and job.selectionCount,
// replacing an earlier list. Returns kOk, or kErrBadBlock / kErrOutOfMemory, already
// reported; on failure the job keeps the selection it had.
[[nodiscard]] int32_t parseBlockList(ConversionJob& job, const char* text);

// Prints "Tonbrix <version> - ..." and an empty line on stdout.
void printBanner();

// The value of the first -o when the command line exports (no -list, no -h or -v before
// it), read as parseOptions reads it but without reporting anything; nullptr otherwise.
// The front end must know whether the WAV takes its standard output before it prints the
// first line.
const char* findExportOutput(int argc, const char* const* argv);

// Prints the banner and the usage text on stdout.
void printUsage();
