// The files tonbrix-decode writes (the tape image, the report): made before the first
// sample is read, filled when the recording ends, and whole or not at all.
#pragma once

#include <cstdint>
#include <string>

#include "core/file_io.h"

// An output being prepared. It owns the file that will become the output, which is
// removed unless finishOutputFile put it in place; on Linux the file has no name until
// then, so that even a killed program leaves nothing behind.
struct OutputFile {
  std::string path;       // as given, for messages
  std::string finalPath;  // the file put in place: through a link, the file it names
  std::string temporaryPath;  // the named temporary file, when the system gives no unnamed one
  bool replace = false;       // -f: an existing file may be replaced
  unsigned mode = 0;          // of the file put in place: the replaced file's, or the usual
  FileHandle file;
  ~OutputFile();
};

// Prepares the output `path`: refuses an existing file unless `replace`, then creates
// the file beside it that will become it, with the mode of the file it replaces, so that a folder that cannot be written fails
// now rather than at the end of a long recording. A target that exists but is no regular
// file (a device, a pipe) is opened for writing directly and never counts as existing.
// `standardOutput`, when not empty, is taken as the output instead (for "-" and the other
// names of standard output); "-" without it cannot be opened. Returns kOk,
// or kErrOutputExists or kErrOpenOutput, reported with the reason.
[[nodiscard]] int32_t createOutputFile(const char* path, bool replace, FileHandle standardOutput,
                                       OutputFile& output);

// Writes `count` bytes at `bytes` to `output` and flushes them, without putting the file
// in place yet, so that several outputs can be written before any replaces what is there.
// Prints `what` and the name ("Writing tape image: game.img"). Returns kOk, or
// kErrWriteOutput, reported with the reason.
[[nodiscard]] int32_t writeOutputFile(OutputFile& output, const char* what, const uint8_t* bytes,
                                      size_t count);

// Closes the written `output` and puts it in place at its path; a link there keeps
// pointing to the new file. Returns kOk, or kErrOutputExists (a file appeared at the path
// meanwhile and may not be replaced) or kErrWriteOutput, reported with the reason; the
// file is then not in place and any earlier one is as it was.
[[nodiscard]] int32_t placeOutputFile(OutputFile& output);
