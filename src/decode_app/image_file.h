// The tape image file of tonbrix-decode: whole or not at all.
#pragma once

#include <cstdint>
#include <vector>

// Writes `image` (a tape image in the record layout) to a temporary file beside `path`
// and renames it into place, so that a failure never leaves half an image or destroys an earlier one; a
// link at `path` keeps pointing to the new image. A target that exists but is no regular
// file (a device, a pipe) is written directly, since renaming would replace it. Prints
// "Writing tape image: %s". Returns kOk, or kErrOpenOutput or kErrWriteOutput, reported.
[[nodiscard]] int32_t writeImageFile(const char* path, const std::vector<uint8_t>& image);
