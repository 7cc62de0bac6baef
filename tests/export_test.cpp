// Tests of the export driver's record of where each entry of the selection begins.
#include "audio/export.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "support/tape_builder.h"
#include "support/temp_dir.h"
#include "support/wav_parser.h"
#include "tape/tape_image.h"

namespace {

// Exports `blockList` of the image at `imagePath` as the command line would, asking for the
// start of every entry. Returns the WAV's bytes.
wav_parser::Bytes exportWithEntryStarts(const std::string& imagePath, const std::string& wavPath,
                                        const char* blockList, std::vector<int64_t>& starts) {
  ConversionJob job;
  const char* argv[] = {"tonbrix", "-blk", blockList, "-o", wavPath.c_str(), imagePath.c_str()};
  EXPECT_EQ(parseOptions(6, argv, job), kOk);
  EXPECT_EQ(allocZeroed(job.blockBuffer, kBlockBufferSize), kOk);
  EXPECT_EQ(scanTape(job), kOk);
  EXPECT_EQ(allocZeroed(job.entryStarts, static_cast<size_t>(job.selectionCount)), kOk);
  EXPECT_EQ(exportWav(job), kOk);
  starts = job.entryStarts.value_or(std::vector<int64_t>{});
  return wav_parser::readWav(wavPath).bytes;
}

// The page follows playback by these offsets. A headerless block sounds the same wherever
// it stands, so from its recorded start on, a two-entry export equals the block alone.
TEST(ExportWav, EntryStartsMarkWhereEachEntryBegins) {
  const ScopedTempDir dir;
  const std::string imagePath = dir.file("tape.img");
  tape_builder::TapeImage image;
  image.headerBlock({}, tape_builder::patternBytes(40))
      .headerlessBlock(tape_builder::patternBytes(30, 7));
  ASSERT_TRUE(image.writeTo(imagePath));
  std::vector<int64_t> alone;
  std::vector<int64_t> both;
  const auto aloneBytes = exportWithEntryStarts(imagePath, dir.file("alone.wav"), "2", alone);
  const auto bothBytes = exportWithEntryStarts(imagePath, dir.file("both.wav"), "1,2", both);
  ASSERT_EQ(alone.size(), 1u);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0], alone[0]);  // after the same second of silence
  ASSERT_GT(both[1], both[0]);
  ASSERT_LT(both[1], static_cast<int64_t>(bothBytes.size()));
  EXPECT_EQ(wav_parser::Bytes(bothBytes.begin() + both[1], bothBytes.end()),
            wav_parser::Bytes(aloneBytes.begin() + alone[0], aloneBytes.end()));
}

}  // namespace
