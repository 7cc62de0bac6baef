// Opening, positioning and reading files with every step checked.
#include "core/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "core/errors.h"

FileHandle openInputFile(const char* path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    errno = EISDIR;  // the reason a message gives
    return FileHandle();
  }
  return FileHandle(std::fopen(path, "rb"));
}

int64_t seekAndTell(std::FILE* file, int64_t offset, int origin) {
  if (fseeko(file, static_cast<off_t>(offset), origin) != 0) {
    return -1;
  }
  const int64_t position = ftello(file);
  return position < 0 ? -1 : position;
}

int32_t readFileRange(const char* path, uint8_t* buffer, int64_t offset, int32_t count,
                      int64_t expectedSize) {
  const FileHandle file = openInputFile(path);
  if (!file) {
    return reportFailure(kErrOpenInput, path);
  }
  if (expectedSize >= 0) {
    if (fseeko(file.get(), 0, SEEK_END) != 0) {
      return reportFailure(kErrAccessInput, path);
    }
    if (ftello(file.get()) != expectedSize) {
      return reportFailure(kErrReadInput, path);
    }
  }
  if (offset < 0 || seekAndTell(file.get(), offset, SEEK_SET) != offset) {
    return reportFailure(kErrAccessInput, path);
  }
  if (count > 0 &&
      std::fread(buffer, 1, static_cast<size_t>(count), file.get()) != static_cast<size_t>(count)) {
    return reportFailure(kErrReadInput, path);
  }
  return kOk;
}

int32_t writeAndClose(FileHandle file, const char* name, const uint8_t* bytes, size_t count) {
  const bool written = count == 0 || std::fwrite(bytes, 1, count, file.get()) == count;
  if (std::fclose(file.release()) != 0 || !written) {
    return reportFailure(kErrWriteOutput, name);
  }
  return kOk;
}

bool namesSameFile(const char* first, const char* second) {
  std::error_code error;
  return std::filesystem::equivalent(first, second, error) && !error;
}

bool namesStandardOutput(const char* path) {
  if (path == nullptr) {
    return false;
  }
  if (std::strcmp(path, "-") == 0) {
    return true;
  }
  struct stat output = {};
  struct stat named = {};
  return fstat(STDOUT_FILENO, &output) == 0 && stat(path, &named) == 0 &&
         output.st_dev == named.st_dev && output.st_ino == named.st_ino;
}

FileHandle takeStandardOutput() {
  const int descriptor = dup(STDOUT_FILENO);
  if (descriptor < 0) {
    return {};
  }
  FileHandle stream(fdopen(descriptor, "wb"));
  if (!stream) {
    close(descriptor);
    return {};
  }
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    return {};
  }
  (void)std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  (void)std::signal(SIGPIPE, SIG_IGN);
  return stream;
}
