// The record layout written: the counterpart of the scan's record steps.
#include <cstring>

#include "tape/tape_image.h"

int32_t appendRecord(std::vector<uint8_t>& image, const std::vector<uint8_t>& part) {
  const size_t length = part.size() < size_t{kMaxRecordLength} ? part.size() : kMaxRecordLength;
  const size_t start = image.size();
  const int32_t status = resizeItems(image, start + kLengthWordSize + length);
  if (status != kOk) {
    return status;
  }
  writeLe16(&image[start], static_cast<uint32_t>(length));
  if (length > 0) {
    std::memcpy(&image[start + kLengthWordSize], part.data(), length);
  }
  return kOk;
}
