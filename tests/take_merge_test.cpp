// Tests of the merge of several takes, on blocks built and damaged in the test.
#include "decode/take_merge.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "decode/cassette.h"
#include "core/errors.h"
#include "decode/decode_listing.h"
#include "decode/take_place.h"
#include "support/tape_builder.h"
#include "tape/tape_image.h"

namespace {

using tape_builder::Bytes;
using Take = std::vector<DecodedBlock>;
using Edit = std::function<void(Take&)>;

// Sets the fault marks as the decoder does, from the bytes; a headerless block has none
// to set, and its lost bytes alone show that it is damaged.
void markFaults(DecodedBlock& block) {
  if (block.headerPart.empty()) {
    block.info.length = static_cast<uint16_t>(block.body.size());
    block.info.bodyLengthError = -1;
    return;
  }
  detectHeader(block.headerPart.data(), block.info);
  block.info.bodyChecksumError = 0;
  checkBodyPart(block.body.data(), static_cast<int64_t>(block.body.size()), false, block.info);
}

DecodedBlock makeBlock(const Bytes& headerPart, const Bytes& body) {
  DecodedBlock block;
  block.headerPart = headerPart;
  block.headerConfidence.assign(headerPart.size(), kByteCertain);
  block.body = body;
  block.bodyConfidence.assign(body.size(), kByteCertain);
  block.bodyTimes.byteSeconds = 0.01;
  markFaults(block);
  return block;
}

DecodedBlock headerBlock(uint8_t fileNumber, const char* name, size_t length, uint8_t seed) {
  tape_builder::Header header;
  header.fileNumber = fileNumber;
  header.name = name;
  header.length = static_cast<uint16_t>(length - 1);
  return makeBlock(tape_builder::headerPart(header),
                   tape_builder::bodyPart(tape_builder::patternBytes(length, seed)));
}

// The tape every case starts from.
Take originalTape() {
  return {headerBlock(1, "ONE", 300, 1), makeBlock({}, tape_builder::patternBytes(40, 2)),
          headerBlock(2, "TWO", 500, 3), headerBlock(3, "THREE", 200, 4),
          makeBlock({}, tape_builder::patternBytes(90, 5))};
}

// Body bytes [from, from + count) of block `b` lost under a dropout.
Edit lose(size_t b, size_t from, size_t count) {
  return [=](Take& take) {
    for (size_t i = from; i < from + count; ++i) {
      take[b].body[i] = 0;
      take[b].bodyConfidence[i] = kByteUnknown;
    }
    markFaults(take[b]);
  };
}

// Body byte `i` of block `b` read as `value` with `confidence`; with `fixSum` the
// checksum is made to pass again, as on a tape that was saved differently.
Edit misread(size_t b, size_t i, uint8_t value, uint8_t confidence, bool fixSum = false) {
  return [=](Take& take) {
    Bytes& body = take[b].body;
    body.back() = static_cast<uint8_t>(body.back() + (fixSum ? value - body[i] : 0));
    body[i] = value;
    take[b].bodyConfidence[i] = confidence;
    markFaults(take[b]);
  };
}

// Body bytes [from, from + count) of block `b` lost under a dropout whose frames were
// miscounted by `shift`: the bytes read after it, up to a second dropout at `until` that
// put them back in place, stand `shift` places off and have no known place.
Edit slip(size_t b, size_t from, size_t count, size_t shift, size_t until) {
  return [=](Take& take) {
    DecodedBlock& block = take[b];
    const Bytes original = block.body;
    block.unplacedFirst = from + count + shift;
    block.unplacedGrades.assign(until - block.unplacedFirst, kByteCertain);
    for (size_t i = from; i < until + count; ++i) {
      const bool unplaced = i >= block.unplacedFirst && i < until;
      block.body[i] = unplaced ? original[i - shift] : 0;
      block.bodyConfidence[i] = unplaced ? kByteUncertain : kByteUnknown;
    }
    markFaults(block);
  };
}

Edit breakHeaderName(size_t b) {
  return [=](Take& take) {
    take[b].headerPart[kSyncPatternLength + kHeaderName] ^= 0x20;
    markFaults(take[b]);
  };
}

Edit cutBody(size_t b, size_t keep) {
  return [=](Take& take) {
    take[b].body.resize(keep);
    take[b].bodyConfidence.resize(keep);
    markFaults(take[b]);
  };
}

Edit drop(size_t b) {
  return [=](Take& take) { take.erase(take.begin() + static_cast<long>(b)); };
}

Edit insert(size_t at, const DecodedBlock& block) {
  return [=](Take& take) { take.insert(take.begin() + static_cast<long>(at), block); };
}

Bytes imageOf(const Take& blocks) {
  Bytes image;
  EXPECT_EQ(buildTapeImage(blocks, image), kOk);
  return image;
}

std::string takesText(const std::vector<int32_t>& takes) {
  std::string text;
  for (const int32_t take : takes) {
    text += (text.empty() ? "" : "+") + std::to_string(take + 1);
  }
  return text;
}

struct Case {
  const char* name;
  std::vector<std::vector<Edit>> takes;  // the edits that make each take of the original
  std::vector<Edit> expected;            // the edits that make the merged tape of it
  // Per merged block: decision, the takes it came from, unknown and disputed bytes.
  std::vector<MergeDecision> decisions;
  std::vector<std::string> sources;
  std::vector<int32_t> unknown;
  std::vector<int32_t> disputed;
};

const DecodedBlock kExtra = makeBlock({}, tape_builder::patternBytes(25, 9));

const Case kCases[] = {
    {"dropouts in different blocks, and in one block at different bytes",
     {{lose(0, 10, 30), lose(2, 100, 50)}, {lose(2, 300, 80), lose(3, 0, 20)}, {lose(2, 120, 60)}},
     {},
     {kMergeAgreed, kMergeAgreed, kMergeRecovered, kMergeAgreed, kMergeAgreed},
     {"2+3", "1+2+3", "1+2+3", "1+3", "1+2+3"},
     {0, 0, 0, 0, 0},
     {0, 0, 0, 0, 0}},
    {"two takes lost the same bytes",
     {{lose(2, 100, 50)}, {lose(2, 120, 50)}},
     {lose(2, 120, 30)},
     {kMergeAgreed, kMergeAgreed, kMergeDamaged, kMergeAgreed, kMergeAgreed},
     {"1+2", "1+2", "1+2", "1+2", "1+2"},
     {0, 0, 30, 0, 0},
     {0, 0, 0, 0, 0}},
    {"whole copies that disagree: the majority wins",
     {{misread(2, 7, 0xAA, kByteCertain, true)}, {}, {}},
     {},
     {kMergeAgreed, kMergeAgreed, kMergeDisputed, kMergeAgreed, kMergeAgreed},
     {"1+2+3", "1+2+3", "2+3", "1+2+3", "1+2+3"},
     {0, 0, 0, 0, 0},
     {0, 0, 2, 0, 0}},
    {"a certain byte beats an uncertain one",
     {{misread(2, 7, 0xAA, kByteUncertain)}, {lose(2, 200, 9)}},
     {},
     {kMergeAgreed, kMergeAgreed, kMergeRecovered, kMergeAgreed, kMergeAgreed},
     {"1+2", "1+2", "1+2", "1+2", "1+2"},
     {0, 0, 0, 0, 0},
     {0, 0, 0, 0, 0}},
    {"certain bytes that disagree without a majority stay disputed",
     {{misread(2, 7, 0xAA, kByteCertain), lose(2, 300, 1)}, {lose(2, 300, 1)}},
     {misread(2, 7, 0xAA, kByteUncertain), lose(2, 300, 1)},
     {kMergeAgreed, kMergeAgreed, kMergeDamaged, kMergeAgreed, kMergeAgreed},
     {"1+2", "1+2", "1+2", "1+2", "1+2"},
     {0, 0, 1, 0, 0},
     {0, 0, 1, 0, 0}},
    {"a block missing in one take, a body cut in another, a take that starts late",
     {{drop(1)}, {cutBody(2, 240)}, {drop(0)}},
     {},
     {kMergeAgreed, kMergeAgreed, kMergeAgreed, kMergeAgreed, kMergeAgreed},
     {"1+2", "2+3", "1+3", "1+2+3", "1+2+3"},
     {0, 0, 0, 0, 0},
     {0, 0, 0, 0, 0}},
    {"an extra block in one take is kept in its place",
     {{}, {insert(3, kExtra)}},
     {insert(3, kExtra)},
     {kMergeAgreed, kMergeAgreed, kMergeAgreed, kMergeSingle, kMergeAgreed, kMergeAgreed},
     {"1+2", "1+2", "1+2", "2", "1+2", "1+2"},
     {0, 0, 0, 0, 0, 0},
     {0, 0, 0, 0, 0, 0}},
    {"a header that failed its checksum aligns by position",
     {{breakHeaderName(2), lose(2, 5, 5)}, {lose(2, 50, 5)}},
     {},
     {kMergeAgreed, kMergeAgreed, kMergeRecovered, kMergeAgreed, kMergeAgreed},
     {"1+2", "1+2", "1+2", "1+2", "1+2"},
     {0, 0, 0, 0, 0},
     {0, 0, 0, 0, 0}},
    {"bytes read after a miscounted gap are placed where another take's bytes match them",
     {{slip(2, 100, 20, 2, 300)}, {lose(2, 250, 20)}},
     {},
     {kMergeAgreed, kMergeAgreed, kMergeRecovered, kMergeAgreed, kMergeAgreed},
     {"1+2", "1+2", "1+2", "1+2", "1+2"},
     {0, 0, 0, 0, 0},
     {0, 0, 0, 0, 0}},
    {"one take is kept exactly as it was read",
     {{lose(2, 100, 50), cutBody(3, 20)}},
     {lose(2, 100, 50), cutBody(3, 20)},
     {kMergeSingle, kMergeSingle, kMergeSingle, kMergeSingle, kMergeSingle},
     {"1", "1", "1", "1", "1"},
     {0, 0, 50, 181, 0},
     {0, 0, 0, 0, 0}},
};

TEST(MergeTakes, AlignsTheTakesAndKeepsTheBestOfEachBlock) {
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.name);
    std::vector<Take> takes;
    for (size_t t = 0; t < test.takes.size(); ++t) {
      Take take = originalTape();
      for (DecodedBlock& block : take) {
        block.startSeconds = 100.0 * static_cast<double>(t + 1);
        block.bodyTimes.firstSeconds = block.startSeconds + 3;
      }
      for (const Edit& edit : test.takes[t]) {
        edit(take);
      }
      takes.push_back(take);
    }
    Take expected = originalTape();
    for (const Edit& edit : test.expected) {
      edit(expected);
    }
    TapeMerge merge;
    ASSERT_EQ(mergeTakes(takes, merge), kOk);
    EXPECT_EQ(imageOf(merge.blocks), imageOf(expected));
    ASSERT_EQ(merge.origins.size(), test.decisions.size());
    for (size_t b = 0; b < merge.origins.size(); ++b) {
      SCOPED_TRACE("block " + std::to_string(b + 1));
      const BlockOrigin& origin = merge.origins[b];
      EXPECT_EQ(origin.decision, test.decisions[b]);
      EXPECT_EQ(takesText(origin.sources), test.sources[b]);
      EXPECT_EQ(origin.unknownBytes, test.unknown[b]);
      EXPECT_EQ(origin.disputedBytes, test.disputed[b]);
      EXPECT_EQ(isDamaged(merge.blocks[b]), test.unknown[b] > 0);
    }
  }
}

// A run that no take's certain bytes place keeps its doubt, and where another take read a
// byte in its place, that reading decides even when it is uncertain itself.
TEST(MergeTakes, BytesWithoutAPlaceNeverOutvoteAReadingInTheirPlace) {
  std::vector<Take> takes(2, originalTape());
  slip(2, 100, 20, 2, 300)(takes[0]);
  lose(2, 100, 200)(takes[1]);
  misread(2, 200, originalTape()[2].body[200], kByteUncertain)(takes[1]);
  TapeMerge merge;
  ASSERT_EQ(mergeTakes(takes, merge), kOk);
  const DecodedBlock& block = merge.blocks[2];
  const Bytes original = originalTape()[2].body;
  EXPECT_EQ(block.body[200], original[200]);
  EXPECT_TRUE(isDamaged(block));
  for (size_t i = 0; i < block.body.size(); ++i) {
    if (block.bodyConfidence[i] >= kMinCertainByte) {
      EXPECT_EQ(block.body[i], original[i]) << "byte " << i;
    }
  }
}

// A run read after a miscounted gap is placed only where the other copy's certain bytes fix
// one offset within what the gap may have been miscounted by; placed, it is right.
TEST(PlaceByContent, ARunIsPlacedOnlyWhereTheOtherCopyFixesOneOffset) {
  const struct {
    const char* name;
    size_t gap;
    size_t shift;
    size_t until;          // where the run ends
    size_t otherLostFrom;  // the other copy lost its bytes from here to the end
    bool placed;
  } cases[] = {
      {"a slip of 2 after a gap of 20", 20, 2, 300, 500, true},
      {"a slip of 12, beyond what a gap of 4 explains", 4, 12, 300, 500, false},
      {"a run of 6 bytes", 20, 2, 128, 500, false},
      {"the other copy read none of it", 20, 2, 300, 100, false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    std::vector<Take> takes(2, originalTape());
    slip(2, 100, test.gap, test.shift, test.until)(takes[0]);
    lose(2, test.otherLostFrom, takes[1][2].body.size() - test.otherLostFrom)(takes[1]);
    std::vector<PlacedBody> placed;
    ASSERT_EQ(placeByContent({&takes[0][2], &takes[1][2]}, placed), kOk);
    ASSERT_FALSE(placed[0].bytes.empty());
    const Bytes original = originalTape()[2].body;
    const size_t first = 100 + test.gap;
    EXPECT_EQ(placed[0].floating[first + test.shift], test.placed ? 0 : 1);
    for (size_t i = 0; i < original.size(); ++i) {
      if (placed[0].confidence[i] >= kMinCertainByte) {
        EXPECT_EQ(placed[0].bytes[i], original[i]) << i;
      }
    }
  }
}

// Where the first lost byte lies in the take the listing names: the dropout at body byte
// 120 of block 3, in take 1, whose body starts at 103 s and has 10 ms bytes.
TEST(MergeTakes, FirstUnknownByteIsTimedInItsTake) {
  std::vector<Take> takes(2, originalTape());
  for (size_t t = 0; t < takes.size(); ++t) {
    takes[t][2].bodyTimes.firstSeconds = 103 + 50.0 * static_cast<double>(t);
  }
  lose(2, 100, 50)(takes[0]);
  lose(2, 120, 50)(takes[1]);
  TapeMerge merge;
  ASSERT_EQ(mergeTakes(takes, merge), kOk);
  const BlockOrigin& origin = merge.origins[2];
  EXPECT_EQ(origin.take, 0);
  EXPECT_EQ(origin.firstUnknown, kHeaderPartLength + 120);
  EXPECT_NEAR(blockByteSeconds(merge.blocks[2], static_cast<size_t>(origin.firstUnknown)), 104.2,
              1e-9);
}

}  // namespace

namespace {

// How the command line and the page end a decode: the cassette takes its takes one at a
// time, as the page does, or knowing how many come, as the command line does.
TEST(Cassette, EndingSaysWhetherThereIsAnImageAndWhetherItIsWhole) {
  Take damaged = originalTape();
  lose(2, 100, 50)(damaged);
  const struct {
    const char* name;
    int32_t announced;
    std::vector<Take> takes;
    std::vector<int32_t> takeEndings;  // after each take is kept
    int32_t ending;
    std::vector<double> strayFrames = {};  // in the last take
  } cases[] = {
      {"one take without a block", 1, {{}}, {kErrNoBlocks}, kErrNoBlocks},
      {"no take of two holds a block", 2, {{}, {}}, {kOk, kOk}, kErrNoBlocks},
      {"a first take alone so far", 1, {{}, originalTape()}, {kErrNoBlocks, kOk}, kOk},
      {"both lost the same bytes", 2, {damaged, damaged}, {kOk, kOk}, kErrDamagedBlocks},
      {"the other take read them", 2, {damaged, originalTape()}, {kOk, kOk}, kOk},
      {"a block may be missing", 1, {originalTape()}, {kOk}, kErrDamagedBlocks, {12.5}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Cassette cassette;
    cassette.announcedTakes = test.announced;
    for (size_t t = 0; t < test.takes.size(); ++t) {
      cassette.takes.push_back(test.takes[t]);
      cassette.facts.emplace_back();
      EXPECT_EQ(takeEnding(cassette), test.takeEndings[t]);
      if (t + 1 == test.takes.size()) {
        cassette.facts.back().strayFrames = test.strayFrames;
      }
      EXPECT_EQ(isOneOfSeveral(cassette), test.announced > 1 || t > 0);
    }
    ASSERT_EQ(mergeCassette(cassette), kOk);
    EXPECT_EQ(cassette.ending, test.ending);
  }
}

// The lines below a merged block tell how it came about; the takes' bodies start at 103
// and 203 s, with 10 ms bytes.
TEST(ListMergedBlocks, NotesSayHowABlockCameAbout) {
  const struct {
    const char* name;
    std::vector<std::vector<Edit>> takes;
    const char* note;  // below block 3
  } cases[] = {
      {"recovered", {{lose(2, 100, 50)}, {lose(2, 300, 50)}}, "      recovered from takes 1+2\n"},
      {"disputed",
       {{misread(2, 7, 0xAA, kByteCertain, true)}, {}, {}},
       "      whole copies differ in 2 bytes: kept that of takes 2+3\n"},
      {"lost in both",
       {{lose(2, 100, 50)}, {lose(2, 120, 50)}},
       "      30 unknown bytes, the first at 1:44.200 in take 1\n"},
      {"read alike, damaged on tape",
       {{misread(2, 7, 0xAA, kByteCertain)}, {misread(2, 7, 0xAA, kByteCertain)}},
       "      takes 1+2 read every byte alike: the fault is on the tape\n"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    std::vector<Take> takes;
    for (size_t t = 0; t < test.takes.size(); ++t) {
      takes.push_back(originalTape());
      takes.back()[2].bodyTimes.firstSeconds = 103 + 100.0 * static_cast<double>(t);
      for (const Edit& edit : test.takes[t]) {
        edit(takes.back());
      }
    }
    TapeMerge merge;
    ASSERT_EQ(mergeTakes(takes, merge), kOk);
    std::string text;
    ASSERT_EQ(listMergedBlocks(text, merge, static_cast<int32_t>(takes.size()), 0), kOk);
    const size_t row = text.find("\n  3: ");
    ASSERT_NE(row, std::string::npos);
    const size_t noteStart = text.find('\n', row + 1) + 1;
    EXPECT_EQ(text.substr(noteStart, text.find('\n', noteStart) + 1 - noteStart), test.note);
  }
}

// Below a block of one take, what was not read for certain and where: every run of
// unknown bytes where there are several, the first uncertain byte, and what a body cut
// short lacks. Its body bytes are 10 ms apart from 0 s.
TEST(ListDecodedRow, SaysWhatWasNotReadForCertainAndWhere) {
  const auto uncertain = [](size_t from, size_t count) {
    return Edit([=](Take& take) {
      std::fill_n(take[2].bodyConfidence.begin() + static_cast<std::ptrdiff_t>(from), count,
                  kByteUncertain);
    });
  };
  const auto cut = [](size_t length) {
    return Edit([=](Take& take) {
      take[2].body.resize(length);
      take[2].bodyConfidence.resize(length);
      markFaults(take[2]);
    });
  };
  const struct {
    const char* name;
    std::vector<Edit> edits;
    const char* notes;  // below block 3
  } cases[] = {
      {"whole", {}, ""},
      {"one dropout", {lose(2, 100, 5)}, "      5 unknown bytes, the first at 0:01.000\n"},
      {"two dropouts and the bytes between them in doubt",
       {lose(2, 100, 5), uncertain(105, 95), lose(2, 200, 7)},
       "      12 unknown bytes, the first at 0:01.000\n"
       "      95 uncertain bytes, the first at 0:01.050\n"
       "      unknown at 0:01.000 (5), 0:02.000 (7)\n"},
      {"cut short", {cut(400)}, "      101 missing bytes, from 0:04.000\n"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Take take = originalTape();
    for (const Edit& edit : test.edits) {
      edit(take);
    }
    std::string text;
    ASSERT_EQ(appendDecodedRow(text, take[2], 3, 0), kOk);
    EXPECT_EQ(text.substr(text.find('\n') + 1), test.notes);
  }
}

// A take that lost a header (its leader or sync pattern under a dropout) read the body
// as a headerless block: it still pairs with the other takes' copies and lends them its
// bytes, and the merge does not depend on the order of the takes.
TEST(MergeTakes, ABodyWhoseHeaderWasLostStillPairsWhateverTheOrder) {
  const Edit loseHeader = [](Take& take) {
    take[2].headerPart.clear();
    take[2].headerConfidence.clear();
    take[2].info = TapeBlock{};
    markFaults(take[2]);
  };
  const struct {
    const char* name;
    std::vector<Edit> first;
    std::vector<Edit> second;
  } cases[] = {
      {"header lost in one, a dropout in the other", {loseHeader}, {lose(2, 100, 50)}},
      {"header lost in one, the other whole", {loseHeader}, {}},
      {"two readings of one byte, neither certain",
       {misread(2, 7, 0xAA, kByteUncertain), lose(2, 300, 1)},
       {misread(2, 7, 0xBB, kByteUncertain), lose(2, 300, 1)}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Takes takes(2, originalTape());
    for (const Edit& edit : test.first) {
      edit(takes[0]);
    }
    for (const Edit& edit : test.second) {
      edit(takes[1]);
    }
    TapeMerge forward;
    TapeMerge backward;
    ASSERT_EQ(mergeTakes(takes, forward), kOk);
    std::swap(takes[0], takes[1]);
    ASSERT_EQ(mergeTakes(takes, backward), kOk);
    ASSERT_EQ(forward.blocks.size(), originalTape().size());
    ASSERT_EQ(backward.blocks.size(), forward.blocks.size());
    for (size_t b = 0; b < forward.blocks.size(); ++b) {
      EXPECT_EQ(forward.blocks[b].headerPart, backward.blocks[b].headerPart) << b;
      EXPECT_EQ(forward.blocks[b].body, backward.blocks[b].body) << b;
    }
    EXPECT_EQ(forward.blocks[2].headerPart.size(), static_cast<size_t>(kHeaderPartLength));
  }
}

// A take whose certain bytes contradict the others' in blocks they share holds another
// tape: it is named with those blocks, left out (unless merged all the same), and the
// decode never ends whole. A few misreads are no other tape; a take that shares no block
// is named as such.
TEST(MergeTakes, ATakeOfAnotherTapeIsNamedAndLeftOut) {
  const auto otherBody = [](size_t b, uint8_t seed) {
    return Edit([=](Take& take) {
      const size_t length = take[b].body.size() - 1;
      take[b].body = tape_builder::bodyPart(tape_builder::patternBytes(length, seed));
      take[b].bodyConfidence.assign(take[b].body.size(), kByteCertain);
      markFaults(take[b]);
    });
  };
  const Edit otherTape = [](Take& take) {
    take = {headerBlock(7, "OTHER", 120, 40), headerBlock(8, "TAPE", 80, 41)};
  };
  const struct {
    const char* name;
    std::vector<std::vector<Edit>> takes;
    int32_t foreign;          // the take of another tape, from 1, or 0
    std::vector<int32_t> blocks;  // its contradicting blocks
    std::vector<int32_t> lone;  // the takes sharing no block, from 0
  } cases[] = {
      {"same names, other bodies", {{}, {}, {otherBody(2, 77), otherBody(3, 78)}}, 3, {3, 4}, {}},
      // Of two, the one read worse is named: nothing else tells them apart.
      {"two takes, one of them another tape",
       {{lose(2, 10, 5)}, {otherBody(0, 70), otherBody(2, 71), otherBody(3, 72)}}, 1, {1, 3, 4},
       {}},
      {"a few misreads are no other tape",
       {{}, {misread(2, 7, 0xAA, kByteCertain), misread(2, 9, 0xAB, kByteCertain)}, {}}, 0, {},
       {}},
      {"a take that shares no block", {{}, {}, {otherTape}}, 0, {}, {2}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Takes takes;
    for (const std::vector<Edit>& edits : test.takes) {
      takes.push_back(originalTape());
      for (const Edit& edit : edits) {
        edit(takes.back());
      }
    }
    for (const bool mergeForeign : {false, true}) {
      TapeMerge merge;
      ASSERT_EQ(mergeTakes(takes, merge, mergeForeign), kOk);
      ASSERT_EQ(merge.foreign.size(), test.foreign > 0 ? 1u : 0u);
      if (test.foreign > 0) {
        EXPECT_EQ(merge.foreign[0].take + 1, test.foreign);
        EXPECT_EQ(merge.foreign[0].blocks, test.blocks);
        EXPECT_EQ(mergeEnding(merge), kErrForeignTake);
        EXPECT_EQ(merge.foreignMerged, mergeForeign);
        if (!mergeForeign) {
          // The image is the other takes' alone.
          const Take& kept = takes[test.foreign == 1 ? 1 : 0];
          ASSERT_EQ(merge.blocks.size(), kept.size());
          EXPECT_EQ(merge.blocks[3].body, kept[3].body);
        }
      }
      EXPECT_EQ(merge.lone, test.lone);
    }
  }
}

}  // namespace
