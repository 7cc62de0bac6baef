// Files: the handle that closes itself, opening for reading, checked reads and positioning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for binary reading; refuses directories, which some systems let fopen open.
// An empty handle leaves the reason in errno.
FileHandle openInputFile(const char* path);

// Positions `file` at `offset` from `origin` and returns the position it then reports, or
// -1 when either step fails.
int64_t seekAndTell(std::FILE* file, int64_t offset, int origin);

// Copies exactly `count` bytes from `offset` of the file at `path` into `buffer`. Returns
// kOk, or -10, -11 or -13, reported with `path`. The file is opened and closed each time.
// With `expectedSize` 0 or more, a file of any other size counts as unreadable (-13): it
// was truncated or replaced since the scan, and its offsets no longer mean anything.
[[nodiscard]] int32_t readFileRange(const char* path, uint8_t* buffer, int64_t offset,
                                    int32_t count, int64_t expectedSize = -1);

// Writes `count` bytes at `bytes` to `file`, open for writing, and closes it; a failed
// close can mean the last bytes never arrived, so it counts as a failed write. Returns
// kOk, or kErrWriteOutput, reported with `name`.
[[nodiscard]] int32_t writeAndClose(FileHandle file, const char* name, const uint8_t* bytes,
                                    size_t count);

// True when both paths name one existing file, also through a link or another spelling.
// Opening an output for writing truncates it, so no program may write over its input.
bool namesSameFile(const char* first, const char* second);

// True for "-" and for a path that names the file standard output is (/dev/stdout,
// /proc/self/fd/1, or the file it was redirected to): opened a second time, that file
// would take the data and the program's own lines mixed, and a pipe could not be
// finalized. Asked before takeStandardOutput, which makes descriptor 1 another file.
bool namesStandardOutput(const char* path);

// For a program whose data goes to standard output (-o -): the original descriptor goes to
// a stream of its own, and descriptor 1 becomes a copy of standard error, so that every
// line the program prints on stdout elsewhere reaches the user without entering the data.
// stdout is then line-buffered, to keep its order with the unbuffered errors, and SIGPIPE
// is ignored, so that a reader that quits makes the next write fail instead of ending the
// program. Returns an empty handle when that cannot be arranged; opening the output then
// fails.
FileHandle takeStandardOutput();
