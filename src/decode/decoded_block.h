// From decoded parts to tape image blocks: pairing a header with its body, the fault
// marks, the figures that rank channels, and the image in the record layout.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/job.h"
#include "decode/tape_part.h"

// Where the bytes of a part lie in the recording: byte i starts at firstSeconds +
// offsets[i] (byteStartSeconds). Mato bytes last as long as their marks make them, so
// the mean byte length (byteSeconds) is only a guide.
struct ByteTimes {
  double firstSeconds = 0;
  double byteSeconds = 0;  // mean length of a byte
  // Seconds after firstSeconds, one per byte; none when null. Made once with the block and
  // never changed, so the copies of a block share them: the merge copies every block, and
  // the times are the larger part of a block.
  std::shared_ptr<const std::vector<float>> offsets;
};

// The time in the recording at which byte `index` starts.
double byteStartSeconds(const ByteTimes& times, size_t index);

// One block as it goes into the tape image. `info` carries the header fields and the
// three fault marks with the meaning the scanner gives them (bodyLengthError is -1 when
// the body is whole); its offsets stay 0.
struct DecodedBlock {
  TapeBlock info;
  TapeProtocol protocol = kProtocolAuto;
  TapePhase phase = kPhaseAuto;
  double startSeconds = 0;  // first crossing of its leader or pilot
  double endSeconds = 0;    // end of its last frame
  double cellRate = 0;      // of its first part
  double cellSpread = 0;    // % of the cell length, the larger of its parts'
  double swing = 0;         // mean swing of the signal, full scale 2
  int32_t frameErrors = 0;
  std::vector<uint8_t> headerPart;  // 63 bytes: sync pattern and header; empty if headerless
  std::vector<uint8_t> body;        // body part, or all bytes of a headerless block
  // One per byte of headerPart and body: kByteUnknown .. kByteCertain. The sync pattern is
  // written anew, so it is certain.
  std::vector<uint8_t> headerConfidence;
  std::vector<uint8_t> bodyConfidence;
  ByteTimes headerTimes;  // by index into headerPart
  ByteTimes bodyTimes;
  // Body bytes whose place an estimated gap put in doubt (graded uncertain above): from
  // unplacedFirst on, the grades their frames were read with.
  size_t unplacedFirst = 0;
  std::vector<uint8_t> unplacedGrades;
};

// Makes the block of one part: a header part with `body` (its body part, or nullptr when
// it was lost), or any other part as a headerless block. A body that is short, long or
// cut, or of 0 or 1 bytes, gets its length fault; a headerless part that was cut too.
// The sync pattern is written anew for every header, since Mato never sends it. Returns
// kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t makeDecodedBlock(const TapePart& part, const TapePart* body,
                                       int32_t sampleRate, DecodedBlock& block);

// A figure of merit for choosing between the channels of a recording: bytes in blocks
// without faults or frame errors count double.
int64_t scoreBlocks(const std::vector<DecodedBlock>& blocks);

// The bytes of the block (header part and body) that could not be read at all.
int32_t countUnknownBytes(const DecodedBlock& block);

// The time in the recording of the block's first unknown byte, or -1 when it has none.
double firstUnknownSeconds(const DecodedBlock& block);

// The bytes that a body cut short lacks after a header with a good checksum, which states
// how long the body is; 0 for any other block.
size_t countMissingBodyBytes(const DecodedBlock& block);

// The bytes of `block` that no take read: the unknown ones (countUnknownBytes) and those
// missing from a short body (countMissingBodyBytes). `first` is set to the byte index
// (header part first, then body) of the first, or -1.
int32_t countLostBytes(const DecodedBlock& block, int32_t& first);

// How a byte of a block stands in doubt: not read at all, read but with its value or its
// place in doubt, or missing from a body cut short.
enum ByteDoubt { kDoubtUnknown, kDoubtUncertain, kDoubtMissing };

// The name of a doubt in the report: "unknown", "uncertain" or "missing".
const char* doubtName(ByteDoubt doubt);

// A run of bytes of one doubt, `position` counted within its part.
struct DoubtfulRun {
  bool inHeader = false;
  size_t position = 0;
  size_t count = 0;
  ByteDoubt doubt = kDoubtUnknown;
  double seconds = 0;  // where its first byte starts in the recording
};

// Every run of bytes of `block` that was not read for certain, header part first, then
// the bytes missing from a short body. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t findDoubtfulRuns(const DecodedBlock& block, std::vector<DoubtfulRun>& runs);

// The time in the recording at which byte `index` of `block` (header part first, then
// body) starts; a byte past the end of the body lies where the body would have gone on.
double blockByteSeconds(const DecodedBlock& block, size_t index);

// A block of which more than one frame in this many broke is not whole, whatever else.
inline constexpr int64_t kBrokenFrameShare = 8;

// True when the block is not whole: a fault mark, bytes lost under a dropout, bytes that
// a headerless block guessed from broken frames (it has no checksum to confirm them, and
// shows its damage only so), or frames that broke often.
bool isDamaged(const DecodedBlock& block);

// The number of blocks that are not whole (isDamaged).
int32_t countDamagedBlocks(const std::vector<DecodedBlock>& blocks);

// Appends `blocks` to `image` in the record layout that tonbrix reads: a header block as
// its 63-byte header part and its body part, a headerless block as one part, each behind
// its length word. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t buildTapeImage(const std::vector<DecodedBlock>& blocks,
                                     std::vector<uint8_t>& image);
