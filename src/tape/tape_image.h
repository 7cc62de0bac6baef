// Tape images: the scan that finds their blocks, access to a block's bytes by number,
// and the -list output.
//
// A tape image holds header blocks (a 48-byte sync pattern, a 15-byte header and a
// checksummed body) and headerless blocks, either as records that each start with a
// 16-bit little-endian length word or back to back ("bare"). The scan keeps only the
// offsets of each block; its bytes are read again from the file when needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/job.h"
#include "tape/tape_format.h"

// Input files must be smaller than this: offsets and sizes of the image are 32-bit.
inline constexpr int64_t kMaxTapeImageSize = int64_t{1} << 31;

// Reads the whole image at job.inputPath once and fills job.blocks and job.blockCount.
// Prints "Reading source file: ..." first. Returns kOk, or -10, -11, -12 or -18, already
// reported. A -3, -11 or -13 inside the block loop is reported and followed by -18, which
// is returned; the blocks found before the failure stay in the list. Checksum and length
// faults are no failures: they are marked in the records.
[[nodiscard]] int32_t scanTape(ConversionJob& job);

// Releases every block record and empties the list.
void freeBlocks(ConversionJob& job);

// Appends a copy of `block` to the list. Returns kOk, or kErrOutOfMemory, reported.
[[nodiscard]] int32_t appendBlock(ConversionJob& job, const TapeBlock& block);

// If `bytes` (at least 63) start with the sync pattern, copies the header that follows it
// into the first six fields of `block`, sets headerChecksumError and returns true;
// otherwise leaves `block` unchanged and returns false.
bool detectHeader(const uint8_t* bytes, TapeBlock& block);

// Sets the body fault marks of header block `block`, whose body part holds `held` bytes:
// a body of other than length + 2 bytes, or one that is not whole for another reason
// (`cut`: it went on past them, or the file ends inside it), gets its length fault (the data bytes it holds, 0 for a body too short for its checksum); a
// whole body gets its checksum checked, so only then is `body` read.
void checkBodyPart(const uint8_t* body, int64_t held, bool cut, TapeBlock& block);

// Appends one part to `image` in the record layout: its length word, then its bytes; of a
// part longer than a length word can state, the first 65,535 bytes. Returns kOk, or
// kErrOutOfMemory, reported.
[[nodiscard]] int32_t appendRecord(std::vector<uint8_t>& image, const std::vector<uint8_t>& part);

// Looks up block `number` (1-based). Returns kOk with `block` set, or kErrBadBlock,
// reported as "Bad block number: %d", with `block` unchanged.
[[nodiscard]] int32_t findBlock(const ConversionJob& job, int32_t number, const TapeBlock*& block);

// Looks up every number of the selection, in list order. Returns kOk, or kErrBadBlock,
// reported as findBlock reports it, for the first number that has no block.
[[nodiscard]] int32_t checkSelection(const ConversionJob& job);

// Copies one part of block `number` into the start of job.blockBuffer and returns its byte
// count, or a negative code already reported (-19 from the lookup; -10, -11, -13 from the
// read). The header part of a header block is its 63 bytes from the sync pattern on, or
// with useMato only the 15 header bytes; the body part is length + 2 bytes. A headerless
// block gives its length bytes for either part. After a successful lookup `block` holds
// the record, also when the read fails.
[[nodiscard]] int32_t readBlockPart(ConversionJob& job, int32_t number, int32_t wantHeader,
                                    const TapeBlock*& block);

// The fault marks, in the order a row shows them: a header whose checksum fails, a body
// whose checksum fails, a body of another length than its header states.
enum FaultMark : int32_t { kMarkHeaderChecksum = 0, kMarkBodyChecksum = 1, kMarkBodyLength = 2 };
inline constexpr int32_t kFaultMarkCount = 3;

// What a mark is called: as a row shows it ("HCE"), as the listing's legend words it, and
// what it means for the person at the machine (the page's titles and legend).
struct FaultMarkText {
  const char* mark;
  const char* legend;
  const char* meaning;
};

// The words of `mark`.
const FaultMarkText& describeFaultMark(FaultMark mark);

// True when `block` carries `mark`.
bool hasFaultMark(const TapeBlock& block, FaultMark mark);

// True when `block` carries any fault mark.
bool hasFault(const TapeBlock& block);

// Which fault marks a listing has shown, for the legend below it.
struct FaultMarks {
  bool shown[kFaultMarkCount] = {};
};

// Adds the marks that `block` carries to `marks`.
void noteFaultMarks(const TapeBlock& block, FaultMarks& marks);

// Room for one listing row, `extra` columns included.
inline constexpr size_t kListingRowSize = 640;

// Writes into `row` (kListingRowSize bytes) the listing row of block `number` with its
// newline: its header fields and, for a header block, the HCE/BCE/BLE marks, with `extra`
// (further columns, at most 400 bytes) before the marks. Adds the marks shown to `marks`.
void formatListingRow(int32_t number, const TapeBlock& block, const char* extra,
                      FaultMarks& marks, char* row);

// Prints the row that formatListingRow makes.
void printListingRow(int32_t number, const TapeBlock& block, const char* extra, FaultMarks& marks);

// Appends to `text` the empty line and the legend lines of the fault marks that occurred,
// if any. Returns kOk or kErrOutOfMemory, reported.
[[nodiscard]] int32_t appendFaultLegend(std::string& text, const FaultMarks& marks);

// Prints the listing of the selected blocks on stdout. Stops after reporting the first
// selected number that has no block; the run goes on as a success.
void listTape(ConversionJob& job);
