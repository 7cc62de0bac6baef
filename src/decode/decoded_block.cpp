// Block assembly of decoded tapes, and the image they make.
#include "decode/decoded_block.h"

#include <cstring>

#include "tape/tape_image.h"

namespace {

int32_t buildHeaderPart(const TapePart& part, DecodedBlock& block) {
  int32_t status = resizeItems(block.headerPart, kHeaderPartLength);
  if (status != kOk) {
    return status;
  }
  for (int32_t i = 0; i < kSyncPatternLength; ++i) {
    block.headerPart[static_cast<size_t>(i)] = syncPatternByte(i);
  }
  const size_t start = part.protocol == kProtocolMato ? kMatoHeaderStart : kPmdHeaderStart;
  std::memcpy(&block.headerPart[kSyncPatternLength], &part.bytes[start], kHeaderLength);
  detectHeader(block.headerPart.data(), block.info);
  return kOk;
}

int32_t copyBytes(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& copy) {
  const int32_t status = resizeItems(copy, bytes.size());
  if (status == kOk && !bytes.empty()) {
    std::memcpy(copy.data(), bytes.data(), bytes.size());
  }
  return status;
}

}  // namespace

bool hasFault(const TapeBlock& info) {
  return info.headerChecksumError != 0 || info.bodyChecksumError != 0 || info.bodyLengthError >= 0;
}

int32_t makeDecodedBlock(const TapePart& part, const TapePart* body, int32_t sampleRate,
                         DecodedBlock& block) {
  block = DecodedBlock{};
  block.protocol = part.protocol;
  block.phase = part.phase;
  block.startSeconds = part.startSample / sampleRate;
  block.cellRate = part.cellRate;
  block.frameErrors = part.frameErrors;
  block.info.bodyLengthError = -1;
  if (part.isHeader == 0) {
    const int32_t status = copyBytes(part.bytes, block.body);
    block.info.length = static_cast<uint16_t>(block.body.size());
    if (part.cut != 0) {
      block.info.bodyLengthError = static_cast<int32_t>(block.body.size());
    }
    return status;
  }
  int32_t status = buildHeaderPart(part, block);
  if (status == kOk && body != nullptr) {
    block.frameErrors += body->frameErrors;
    status = copyBytes(body->bytes, block.body);
  }
  if (status == kOk) {
    checkBodyPart(block.body.data(), static_cast<int64_t>(block.body.size()),
                  body != nullptr && body->cut != 0, block.info);
  }
  return status;
}

int64_t scoreBlocks(const std::vector<DecodedBlock>& blocks) {
  int64_t score = 0;
  for (const DecodedBlock& block : blocks) {
    const auto bytes = static_cast<int64_t>(block.headerPart.size() + block.body.size());
    score += (hasFault(block.info) || block.frameErrors != 0) ? bytes : 2 * bytes;
  }
  return score;
}

int32_t countDamagedBlocks(const std::vector<DecodedBlock>& blocks) {
  int32_t count = 0;
  for (const DecodedBlock& block : blocks) {
    count += hasFault(block.info) ? 1 : 0;
  }
  return count;
}

int32_t buildTapeImage(const std::vector<DecodedBlock>& blocks, std::vector<uint8_t>& image) {
  for (const DecodedBlock& block : blocks) {
    int32_t status = block.headerPart.empty() ? kOk : appendRecord(image, block.headerPart);
    if (status == kOk) {
      status = appendRecord(image, block.body);
    }
    if (status != kOk) {
      return status;
    }
  }
  return kOk;
}
