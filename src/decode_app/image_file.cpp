// Writing the image beside its target and renaming it into place.
#include "decode_app/image_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "core/errors.h"
#include "core/file_io.h"

namespace {

// Removes a temporary file unless it was renamed into place.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() {
    if (!path.empty()) {
      (void)std::remove(path.c_str());  // nothing more can be done about a failure here
    }
  }
};

}  // namespace

int32_t writeImageFile(const char* path, const std::vector<uint8_t>& image) {
  std::error_code error;
  const std::filesystem::file_status target = std::filesystem::status(path, error);
  if (std::filesystem::exists(target) && !std::filesystem::is_regular_file(target)) {
    std::printf("Writing tape image: %s\n", path);
    FileHandle file(std::fopen(path, "wb"));
    return file ? writeAndClose(std::move(file), path, image.data(), image.size())
                : reportFailure(kErrOpenOutput, path);
  }
  // Through a link, the file it names is replaced, not the link.
  const std::filesystem::path real = std::filesystem::weakly_canonical(path, error);
  const std::string finalPath = error ? std::string(path) : real.string();
  std::printf("Writing tape image: %s\n", path);
  TemporaryFile temporary{finalPath + ".XXXXXX"};
  const int descriptor = mkstemp(temporary.path.data());
  if (descriptor < 0) {
    temporary.path.clear();
    return reportFailure(kErrOpenOutput, path);
  }
  const mode_t mask = umask(0);
  umask(mask);
  FileHandle file(fdopen(descriptor, "wb"));
  if (!file || fchmod(descriptor, 0666 & ~mask) != 0) {
    if (!file) {
      close(descriptor);
    }
    return reportFailure(kErrOpenOutput, path);
  }
  const int32_t status = writeAndClose(std::move(file), path, image.data(), image.size());
  if (status != kOk) {
    return status;
  }
  if (std::rename(temporary.path.c_str(), finalPath.c_str()) != 0) {
    return reportFailure(kErrWriteOutput, path);
  }
  temporary.path.clear();
  return kOk;
}
