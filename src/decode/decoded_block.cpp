// Block assembly of decoded tapes, and the image they make.
#include "decode/decoded_block.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "core/memory.h"
#include "tape/tape_image.h"

namespace {

// The times of the part's bytes from `from` on, `count` of them; the first `lead` entries
// take the time of byte `from` (the sync pattern that Mato does not send).
int32_t timesOf(const TapePart& part, int32_t sampleRate, size_t from, size_t count, size_t lead,
                ByteTimes& times) {
  times.firstSeconds = part.firstByteSample / sampleRate;
  if (!part.bytes.empty() && part.endSample > part.firstByteSample) {
    times.byteSeconds = (part.endSample - part.firstByteSample) / sampleRate /
                        static_cast<double>(part.bytes.size());
  }
  std::shared_ptr<std::vector<float>> offsets;
  try {
    offsets = std::make_shared<std::vector<float>>(lead + count);
  } catch (const std::bad_alloc&) {
    return reportFailure(kErrOutOfMemory);
  }
  for (size_t i = 0; i < lead + count; ++i) {
    const size_t index = from + (i < lead ? 0 : i - lead);
    const double start = index < part.starts.size() ? part.starts[index] : part.endSample;
    (*offsets)[i] = static_cast<float>((start - part.firstByteSample) / sampleRate);
  }
  times.offsets = std::move(offsets);
  return kOk;
}

int32_t buildHeaderPart(const TapePart& part, int32_t sampleRate, DecodedBlock& block) {
  int32_t status = resizeItems(block.headerPart, kHeaderPartLength);
  if (status == kOk) {
    status = resizeItems(block.headerConfidence, kHeaderPartLength);
  }
  if (status != kOk) {
    return status;
  }
  for (int32_t i = 0; i < kSyncPatternLength; ++i) {
    block.headerPart[static_cast<size_t>(i)] = syncPatternByte(i);
    block.headerConfidence[static_cast<size_t>(i)] = kByteCertain;
  }
  const size_t start = part.protocol == kProtocolMato ? kMatoHeaderStart : kPmdHeaderStart;
  std::memcpy(&block.headerPart[kSyncPatternLength], &part.bytes[start], kHeaderLength);
  std::memcpy(&block.headerConfidence[kSyncPatternLength], &part.confidence[start],
              kHeaderLength);
  detectHeader(block.headerPart.data(), block.info);
  // Mato sends one sync byte where the pattern stands: the pattern takes its time.
  const size_t sent = std::min(start, static_cast<size_t>(kSyncPatternLength));
  return timesOf(part, sampleRate, start - sent, kHeaderPartLength - (kSyncPatternLength - sent),
                 kSyncPatternLength - sent, block.headerTimes);
}

int32_t copyBytes(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& copy) {
  const int32_t status = resizeItems(copy, bytes.size());
  if (status == kOk && !bytes.empty()) {
    std::memcpy(copy.data(), bytes.data(), bytes.size());
  }
  return status;
}

// The body (or the headerless block) of `block` from `part`.
int32_t takeBody(const TapePart& part, int32_t sampleRate, DecodedBlock& block) {
  int32_t status = copyBytes(part.bytes, block.body);
  if (status == kOk) {
    status = copyBytes(part.confidence, block.bodyConfidence);
  }
  if (status == kOk) {
    status = timesOf(part, sampleRate, 0, part.bytes.size(), 0, block.bodyTimes);
  }
  // A header part cut back to its header leaves its unplaced bytes behind.
  if (status == kOk && part.unplacedFirst + part.unplacedGrades.size() <= part.bytes.size()) {
    status = copyBytes(part.unplacedGrades, block.unplacedGrades);
    block.unplacedFirst = part.unplacedFirst;
  }
  block.endSeconds = part.endSample / sampleRate;
  block.cellSpread = std::max(block.cellSpread, part.cellSpread);
  block.swing = block.swing > 0 ? (block.swing + part.swing) / 2 : part.swing;
  return status;
}

}  // namespace

double byteStartSeconds(const ByteTimes& times, size_t index) {
  return times.firstSeconds + (times.offsets && index < times.offsets->size()
                                   ? static_cast<double>((*times.offsets)[index])
                                   : static_cast<double>(index) * times.byteSeconds);
}

int32_t makeDecodedBlock(const TapePart& part, const TapePart* body, int32_t sampleRate,
                         DecodedBlock& block) {
  block = DecodedBlock{};
  block.protocol = part.protocol;
  block.phase = part.phase;
  block.startSeconds = part.startSample / sampleRate;
  block.endSeconds = part.endSample / sampleRate;
  block.cellRate = part.cellRate;
  block.cellSpread = part.cellSpread;
  block.swing = part.swing;
  block.frameErrors = part.frameErrors;
  block.info.bodyLengthError = -1;
  if (part.isHeader == 0) {
    const int32_t status = takeBody(part, sampleRate, block);
    block.info.length = static_cast<uint16_t>(block.body.size());
    if (part.cut != 0) {
      block.info.bodyLengthError = static_cast<int32_t>(block.body.size());
    }
    return status;
  }
  int32_t status = buildHeaderPart(part, sampleRate, block);
  if (status == kOk && body != nullptr) {
    block.frameErrors += body->frameErrors;
    status = takeBody(*body, sampleRate, block);
  }
  if (status == kOk) {
    checkBodyPart(block.body.data(), static_cast<int64_t>(block.body.size()),
                  body != nullptr && body->cut != 0, block.info);
  }
  return status;
}

int32_t countUnknownBytes(const DecodedBlock& block) {
  const auto unknown = std::count(block.headerConfidence.begin(), block.headerConfidence.end(),
                                  kByteUnknown) +
                       std::count(block.bodyConfidence.begin(), block.bodyConfidence.end(),
                                  kByteUnknown);
  return static_cast<int32_t>(unknown);
}

double firstUnknownSeconds(const DecodedBlock& block) {
  const auto timeOf = [](const std::vector<uint8_t>& confidence, const ByteTimes& times) {
    const auto found = std::find(confidence.begin(), confidence.end(), kByteUnknown);
    return found == confidence.end()
               ? -1
               : byteStartSeconds(times, static_cast<size_t>(found - confidence.begin()));
  };
  const double inHeader = timeOf(block.headerConfidence, block.headerTimes);
  return inHeader >= 0 ? inHeader : timeOf(block.bodyConfidence, block.bodyTimes);
}

size_t countMissingBodyBytes(const DecodedBlock& block) {
  const size_t stated = size_t{block.info.length} + kBodyPartExtra;
  const bool lengthKnown = !block.headerPart.empty() && block.info.headerChecksumError == 0;
  return lengthKnown && block.body.size() < stated ? stated - block.body.size() : 0;
}

int32_t countLostBytes(const DecodedBlock& block, int32_t& first) {
  first = -1;
  size_t index = 0;
  for (const std::vector<uint8_t>* confidence : {&block.headerConfidence, &block.bodyConfidence}) {
    const auto found = std::find(confidence->begin(), confidence->end(), kByteUnknown);
    if (first < 0 && found != confidence->end()) {
      first = static_cast<int32_t>(index + static_cast<size_t>(found - confidence->begin()));
    }
    index += confidence->size();
  }
  const size_t missing = countMissingBodyBytes(block);
  if (missing > 0 && first < 0) {
    first = static_cast<int32_t>(block.headerPart.size() + block.body.size());
  }
  return countUnknownBytes(block) + static_cast<int32_t>(missing);
}

double blockByteSeconds(const DecodedBlock& block, size_t index) {
  if (index < block.headerPart.size()) {
    return byteStartSeconds(block.headerTimes, index);
  }
  // A body lost whole would have followed the end of the header part.
  if (block.body.empty()) {
    return block.endSeconds;
  }
  return byteStartSeconds(block.bodyTimes, index - block.headerPart.size());
}

const char* doubtName(ByteDoubt doubt) {
  switch (doubt) {
    case kDoubtUnknown:
      return "unknown";
    case kDoubtUncertain:
      return "uncertain";
    case kDoubtMissing:
      break;
  }
  return "missing";
}

int32_t findDoubtfulRuns(const DecodedBlock& block, std::vector<DoubtfulRun>& runs) {
  runs.clear();
  int32_t status = kOk;
  const auto add = [&](bool inHeader, size_t position, size_t count, ByteDoubt doubt) {
    const size_t index = (inHeader ? 0 : block.headerPart.size()) + position;
    if (status == kOk) {
      status = appendItem(runs, {inHeader, position, count, doubt, blockByteSeconds(block, index)});
    }
  };
  for (const bool inHeader : {true, false}) {
    const std::vector<uint8_t>& confidence =
        inHeader ? block.headerConfidence : block.bodyConfidence;
    for (size_t i = 0; i < confidence.size();) {
      const bool unknown = confidence[i] == kByteUnknown;
      const bool doubtful = confidence[i] < kMinCertainByte;
      size_t end = i + 1;
      while (end < confidence.size() && (confidence[end] == kByteUnknown) == unknown &&
             (confidence[end] < kMinCertainByte) == doubtful) {
        ++end;
      }
      if (doubtful) {
        add(inHeader, i, end - i, unknown ? kDoubtUnknown : kDoubtUncertain);
      }
      i = end;
    }
  }
  const size_t missing = countMissingBodyBytes(block);
  if (missing > 0) {
    add(false, block.body.size(), missing, kDoubtMissing);
  }
  return status;
}

bool isDamaged(const DecodedBlock& block) {
  if (hasFault(block.info) || countUnknownBytes(block) > 0) {
    return true;
  }
  // A headerless block has no checksum to confirm a byte guessed from a broken frame.
  const std::vector<uint8_t>& grades = block.bodyConfidence;
  if (block.headerPart.empty() &&
      std::any_of(grades.begin(), grades.end(),
                  [](uint8_t grade) { return grade <= kByteUncertain; })) {
    return true;
  }
  // Frames that break again and again were read from something that only looks like a
  // block (a tone, noise), or from a signal too poor to trust the frames that checked.
  const auto bytes = static_cast<int64_t>(block.headerPart.size() + block.body.size());
  return int64_t{block.frameErrors} * kBrokenFrameShare > bytes;
}

int64_t scoreBlocks(const std::vector<DecodedBlock>& blocks) {
  int64_t score = 0;
  for (const DecodedBlock& block : blocks) {
    const auto bytes = static_cast<int64_t>(block.headerPart.size() + block.body.size()) -
                       countUnknownBytes(block);
    score += (isDamaged(block) || block.frameErrors != 0) ? bytes : 2 * bytes;
  }
  return score;
}

int32_t countDamagedBlocks(const std::vector<DecodedBlock>& blocks) {
  int32_t count = 0;
  for (const DecodedBlock& block : blocks) {
    count += isDamaged(block) ? 1 : 0;
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
