// Which part is a header, which a body and which a headerless block, for both protocols.
#include "decode/part_reader.h"

#include <algorithm>
#include <vector>

#include "decode/mato_frames.h"
#include "decode/pmd_frames.h"

namespace {

// A PMD 85 header part follows a 2.8 s leader (3359 or 6719 cells); bodies 0.5 s (600 or
// 1200). The boundary leaves room for a leader cut short or played fast.
constexpr int32_t kMinHeaderLeaderCells = 2000;
static_assert(kMinHeaderLeaderCells > kPmdLeaderSeconds * kPmdDoubleCellsPerSecond &&
              kMinHeaderLeaderCells < kPmdHeaderLeaderSeconds * kPmdCellsPerSecond);
// 510 Mato spaces before a header, 128 before a body or a headerless block; the boundary
// leaves room for a header pilot whose start was lost.
constexpr int32_t kMinHeaderPilotCells = 300;
static_assert(kMinHeaderPilotCells > kMatoBlockPilotSpaces &&
              kMinHeaderPilotCells < kMatoHeaderPilotSpaces);

// True when a PMD 85 part starts with the sync pattern, allowing a few damaged bytes.
bool hasSyncPattern(const std::vector<uint8_t>& bytes) {
  constexpr size_t kMaxDamagedBytes = 4;
  if (bytes.size() < kPmdHeaderStart + kHeaderLength) {
    return false;
  }
  size_t damaged = 0;
  for (int32_t i = 0; i < kSyncPatternLength; ++i) {
    damaged += bytes[static_cast<size_t>(i)] != syncPatternByte(i) ? 1u : 0u;
  }
  return damaged <= kMaxDamagedBytes;
}

// True when a PMD 85 part is a header part: exactly the sync pattern and the header in
// length, and the pattern is there, or, after a header's long leader, the header's
// checksum passes where a dropout took the pattern. Anything else is a headerless block,
// kept whole.
bool isPmdHeaderPart(const std::vector<uint8_t>& bytes, bool headerLeader) {
  return bytes.size() == kPmdHeaderStart + kHeaderLength &&
         (hasSyncPattern(bytes) ||
          (headerLeader && checksumMatches(&bytes[kPmdHeaderStart], kHeaderChecksum)));
}

// How far a part's reader goes: a body to the length its header states; a part after a
// header's lead-in is whole as a header part (`headerLength`), which a body follows.
PartLimits limitPart(bool body, size_t bodyLimit, bool headerLeadIn, size_t headerLength) {
  PartLimits limits;
  limits.byteLimit = body ? bodyLimit : kMaxPartLength;
  limits.wholeLength = body ? bodyLimit : headerLeadIn ? headerLength : kMaxPartLength;
  return limits;
}

// A header part that a dropout joined to the body after it: the dropout began in the
// header or right after it and took the body's leader, and the part was read on through
// it. Where the part starts as a header (`startsAsHeader`) and the byte after the header
// is unknown, it is cut back to the header, and the body is read again from the first
// frame after the dropout, its start lost: from its crossing nearest to `firstCrossing`
// samples after where the frame was placed (the middle of a PMD 85 start bit, the start
// of a Mato one).
void splitHeaderFromBody(const Crossings& crossings, bool startsAsHeader, size_t headerLength,
                         double firstCrossing, TapePart& part, size_t& next) {
  if (!startsAsHeader || part.bytes.size() <= headerLength ||
      part.confidence[headerLength] != kByteUnknown) {
    return;
  }
  size_t resume = headerLength;
  while (resume < part.bytes.size() && part.confidence[resume] == kByteUnknown) {
    ++resume;
  }
  if (resume == part.bytes.size()) {
    return;
  }
  const CrossingValues<double>& x = crossings.positions;
  const double target = part.starts[resume] + firstCrossing;
  size_t crossing = findCrossingFrom(x, target);
  if (crossing >= x.size()) {
    return;
  }
  if (crossing > 0 && target - x[crossing - 1] < x[crossing] - target) {
    --crossing;
  }
  part.endSample = part.starts[headerLength];
  part.bytes.resize(headerLength);
  part.confidence.resize(headerLength);
  part.starts.resize(headerLength);
  part.cut = 0;
  part.nextFrames = crossing;
  part.nextFramesSample = x[crossing];
  next = crossing;
}

int32_t readPmdPart(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                    bool afterHeader, size_t bodyLimit, TapePart& part, size_t& next,
                    PartProgress& progress) {
  const auto leaderCells = static_cast<int32_t>((leadIn.end - leadIn.first) / 2);
  const bool body = afterHeader && leaderCells < kMinHeaderLeaderCells;
  const PartLimits limits = limitPart(body, bodyLimit, leaderCells >= kMinHeaderLeaderCells,
                                      kPmdHeaderStart + kHeaderLength);
  const int32_t status = readPmdFrames(crossings, leadIn, sampleRate, limits, part, next, progress.pmd);
  splitHeaderFromBody(crossings,
                      !body && leaderCells >= kMinHeaderLeaderCells && hasSyncPattern(part.bytes),
                      kPmdHeaderStart + kHeaderLength, sampleRate / (2 * part.cellRate), part,
                      next);
  part.isBody = body ? 1 : 0;
  part.isHeader =
      !body && isPmdHeaderPart(part.bytes, leaderCells >= kMinHeaderLeaderCells) ? 1 : 0;
  return status;
}

int32_t readMatoPart(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                     bool afterHeader, size_t bodyLimit, TapePart& part, size_t& next,
                     PartProgress& progress) {
  // A reading is kept only where its pilot lay well before the end of the crossings, and
  // the pilot need not be read again, nor may be, once the crossings before are let go.
  const int32_t pilotSpaces = progress.mato.valid ? progress.mato.pilotSpaces
                                                  : countPilotSpaces(crossings, leadIn);
  progress.mato.pilotSpaces = pilotSpaces;
  const bool body = afterHeader && pilotSpaces < kMinHeaderPilotCells;
  const PartLimits limits = limitPart(body, bodyLimit, pilotSpaces >= kMinHeaderPilotCells,
                                      kMatoHeaderStart + kHeaderLength);
  const int32_t status = readMatoFrames(crossings, leadIn, sampleRate, body, limits, part, next,
                                       progress.mato);
  splitHeaderFromBody(crossings,
                      !body && pilotSpaces >= kMinHeaderPilotCells && !part.bytes.empty() &&
                          part.bytes[0] == kMatoSyncByte,
                      kMatoHeaderStart + kHeaderLength, 0, part, next);
  part.isBody = body ? 1 : 0;
  part.isHeader = !body && pilotSpaces >= kMinHeaderPilotCells &&
                          part.bytes.size() == kMatoHeaderStart + kHeaderLength
                      ? 1
                      : 0;
  return status;
}

}  // namespace

int32_t readPartAfter(const Crossings& crossings, const LeadIn& leadIn, int32_t sampleRate,
                      bool afterHeader, size_t bodyLength, TapePart& part, size_t& next,
                      PartProgress& progress) {
  part = TapePart{};
  next = leadIn.end;
  const size_t bodyLimit = afterHeader ? std::min(bodyLength, kMaxPartLength) : kMaxPartLength;
  const int32_t status =
      leadIn.protocol == kProtocolMato
          ? readMatoPart(crossings, leadIn, sampleRate, afterHeader, bodyLimit, part, next,
                         progress)
          : readPmdPart(crossings, leadIn, sampleRate, afterHeader, bodyLimit, part, next,
                        progress);
  // A headerless block whose first frames were lost is not whole.
  if (part.startLost != 0 && part.isBody == 0) {
    part.cut = 1;
  }
  return status;
}

bool mayReadOn(const LeadIn& leadIn, const PartProgress& progress) {
  if (leadIn.protocol == kProtocolMato) {
    return progress.mato.valid && progress.mato.pilotSpaces < kMinHeaderPilotCells;
  }
  return static_cast<int32_t>((leadIn.end - leadIn.first) / 2) < kMinHeaderLeaderCells;
}

size_t firstCrossingNeeded(const LeadIn& leadIn, const PartProgress& progress) {
  if (!mayReadOn(leadIn, progress)) {
    return leadIn.first;
  }
  if (leadIn.protocol == kProtocolMato) {
    return firstCrossingKept(progress.mato);
  }
  return progress.pmd.valid ? firstCrossingKept(progress.pmd) : leadIn.first;
}

size_t announcedBodyLength(const TapePart& header) {
  const size_t start = header.protocol == kProtocolMato ? kMatoHeaderStart : kPmdHeaderStart;
  const uint8_t* fields = &header.bytes[start];
  const bool certain =
      std::all_of(header.confidence.begin() + static_cast<std::ptrdiff_t>(start),
                  header.confidence.end(), [](uint8_t grade) { return grade != kByteUnknown; });
  if (!certain || !checksumMatches(fields, kHeaderChecksum)) {
    return kMaxPartLength;
  }
  return readLe16(fields + kHeaderBodyLength) + size_t{kBodyPartExtra};
}
