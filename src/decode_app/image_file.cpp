// Outputs made beside their target before the decode and put in place after it.
#include "decode_app/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "core/errors.h"

namespace {

// Names tried for the moment between naming the unnamed file and renaming it over the
// target; each is free a moment before, so more than one try is rarely needed.
constexpr int32_t kNameAttempts = 16;

std::string folderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

mode_t creationMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

int32_t reportSystemFailure(int32_t code, const OutputFile& output) {
  return reportFailure(code, output.path, {}, std::strerror(errno));
}

std::string descriptorPath(int descriptor) {
  return "/proc/self/fd/" + std::to_string(descriptor);
}

// An unnamed file in the target's folder, which only a link through /proc can make
// visible. False where the system, the file system or /proc offers none; the caller then
// names one.
bool openUnnamedFile(OutputFile& output) {
#ifdef O_TMPFILE
  const int descriptor = open(folderOf(output.finalPath).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                              creationMode());
  if (descriptor < 0) {
    return false;
  }
  if (fchmod(descriptor, static_cast<mode_t>(output.mode)) != 0) {
    close(descriptor);
    return false;
  }
  output.file.reset(access(descriptorPath(descriptor).c_str(), F_OK) == 0
                        ? fdopen(descriptor, "wb")
                        : nullptr);
  if (!output.file) {
    close(descriptor);
  }
  return static_cast<bool>(output.file);
#else
  (void)output;
  return false;
#endif
}

int32_t openNamedFile(OutputFile& output) {
  output.temporaryPath = output.finalPath + ".XXXXXX";
  const int descriptor = mkstemp(output.temporaryPath.data());
  if (descriptor < 0) {
    const int32_t status = reportSystemFailure(kErrOpenOutput, output);
    output.temporaryPath.clear();
    return status;
  }
  output.file.reset(fdopen(descriptor, "wb"));
  if (!output.file || fchmod(descriptor, static_cast<mode_t>(output.mode)) != 0) {
    const int32_t status = reportSystemFailure(kErrOpenOutput, output);
    if (!output.file) {
      close(descriptor);
    }
    return status;
  }
  return kOk;
}

// Gives the unnamed file, still open, the name `name`; fails with EEXIST where a file has it.
bool linkUnnamedFile(const OutputFile& output, const std::string& name) {
  const std::string descriptor = descriptorPath(fileno(output.file.get()));
  return linkat(AT_FDCWD, descriptor.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Puts the unnamed file in place: a link refuses an existing target by itself; to replace
// one, the file is named beside it first and renamed over it, which is atomic.
int32_t placeUnnamedFile(OutputFile& output) {
  if (!output.replace) {
    if (linkUnnamedFile(output, output.finalPath)) {
      return kOk;
    }
    return errno == EEXIST ? reportFailure(kErrOutputExists, output.path)
                           : reportSystemFailure(kErrWriteOutput, output);
  }
  for (int32_t attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = output.finalPath + ".XXXXXX";
    const int reserved = mkstemp(name.data());
    if (reserved < 0) {
      break;
    }
    close(reserved);
    (void)unlink(name.c_str());  // the name only had to be unique; the link takes it over
    if (!linkUnnamedFile(output, name)) {
      if (errno == EEXIST) {
        continue;
      }
      break;
    }
    if (std::rename(name.c_str(), output.finalPath.c_str()) == 0) {
      return kOk;
    }
    const int32_t status = reportSystemFailure(kErrWriteOutput, output);
    (void)unlink(name.c_str());
    return status;
  }
  return reportSystemFailure(kErrWriteOutput, output);
}

// Puts the closed, named temporary file in place. Without -f a hard link refuses an
// existing target; file systems without hard links get a check before the rename.
int32_t placeNamedFile(OutputFile& output) {
  const char* temporary = output.temporaryPath.c_str();
  const char* target = output.finalPath.c_str();
  if (!output.replace) {
    if (link(temporary, target) == 0) {
      (void)unlink(temporary);  // the image is in place under its name either way
      output.temporaryPath.clear();
      return kOk;
    }
    std::error_code error;
    if (errno == EEXIST || std::filesystem::exists(target, error)) {
      return reportFailure(kErrOutputExists, output.path);
    }
  }
  if (std::rename(temporary, target) != 0) {
    return reportSystemFailure(kErrWriteOutput, output);
  }
  output.temporaryPath.clear();
  return kOk;
}

}  // namespace

OutputFile::~OutputFile() {
  if (!temporaryPath.empty()) {
    (void)std::remove(temporaryPath.c_str());  // nothing more can be done about a failure here
  }
}

int32_t createOutputFile(const char* path, bool replace, FileHandle standardOutput,
                         OutputFile& output) {
  output.path = path;
  output.replace = replace;
  if (standardOutput || std::strcmp(path, "-") == 0) {
    output.file = std::move(standardOutput);
    return output.file ? kOk : reportFailure(kErrOpenOutput, "standard output");
  }
  std::error_code error;
  const std::filesystem::file_status target = std::filesystem::status(path, error);
  if (std::filesystem::exists(target) && !std::filesystem::is_regular_file(target)) {
    output.file.reset(std::fopen(path, "wb"));
    return output.file ? kOk : reportSystemFailure(kErrOpenOutput, output);
  }
  if (std::filesystem::exists(target) && !replace) {
    return reportFailure(kErrOutputExists, path);
  }
  // Through a link, the file it names is replaced, not the link.
  const std::filesystem::path real = std::filesystem::weakly_canonical(path, error);
  output.finalPath = error ? std::string(path) : real.string();
  // A file that is replaced keeps who may read it: a private image stays private.
  struct stat replaced = {};
  output.mode = stat(output.finalPath.c_str(), &replaced) == 0 ? replaced.st_mode & 07777u
                                                                : creationMode();
  return openUnnamedFile(output) ? kOk : openNamedFile(output);
}

int32_t writeOutputFile(OutputFile& output, const char* what, const uint8_t* bytes,
                        size_t count) {
  std::printf("%s: %s\n", what, output.path.c_str());
  const bool written =
      (count == 0 || std::fwrite(bytes, 1, count, output.file.get()) == count) &&
      std::fflush(output.file.get()) == 0;
  return written ? kOk : reportSystemFailure(kErrWriteOutput, output);
}

int32_t placeOutputFile(OutputFile& output) {
  const bool unnamed = !output.finalPath.empty() && output.temporaryPath.empty();
  // An unnamed file is linked while it is still open: its descriptor is its only name.
  const int32_t status = unnamed ? placeUnnamedFile(output) : kOk;
  if (std::fclose(output.file.release()) != 0 && status == kOk) {
    return reportSystemFailure(kErrWriteOutput, output);
  }
  if (status != kOk || unnamed || output.temporaryPath.empty()) {
    return status;
  }
  return placeNamedFile(output);
}
