// The decoder's entry points for the page: the browser hands over float samples or WAV
// bytes as the recording plays or is read, and gets back the blocks found, and of the
// takes of one cassette the merged tape image and its report.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/file_io.h"
#include "decode/cassette.h"
#include "decode/decode_listing.h"
#include "decode/decode_report.h"
#include "decode/tape_part.h"
#include "page_json.h"
#include "page_facts.h"

// The takes of one cassette, as tonbrix-decode holds the recordings it is given, and the
// state of the one being decoded.
struct PageCassette {
  Cassette cassette;
  bool finished = false;  // the take last started ended, and was kept
};

namespace {

// The signal shown either side of a damaged run is at least this long, and at least half
// as long as the run shown, so that a long dropout is seen to end on both sides.
constexpr double kPlotMarginSeconds = 0.25;

// Writes, as items of an array, every run of bytes of `block` that was not read for certain
// (findDoubtfulRuns), of take `take` (from 1; 0 for the recording being decoded alone):
// "take", "state" (doubtName: "unknown" lay under a dropout, "uncertain" broke their
// frames, "missing" a body cut short lacks), "count", "startSeconds" and "endSeconds" (where
// the run starts and where the byte after it would start), and "fromSeconds" and
// "toSeconds", the stretch of the recording that shows it. Of a run longer than any dropout
// that is bridged, only its start is shown: past it the signal had gone. A whole block
// has none to show: its checksum vouches for the bytes in doubt.
void writeDoubtfulRuns(JsonWriter& json, const DecodedBlock& block, int32_t take) {
  std::vector<DoubtfulRun> runs;
  if (json.status == kOk && isDamaged(block)) {
    json.status = findDoubtfulRuns(block, runs);
  }
  for (const DoubtfulRun& run : runs) {
    const size_t index = (run.inHeader ? 0 : block.headerPart.size()) + run.position;
    const double end = std::max(run.seconds, blockByteSeconds(block, index + run.count));
    const double shownEnd = std::min(end, run.seconds + kMaxDropoutSeconds);
    const double margin = std::max(kPlotMarginSeconds, (shownEnd - run.seconds) / 2);
    openJson(json, nullptr, "{", true);
    writeJsonInteger(json, "take", take);
    writeJsonString(json, "state", doubtName(run.doubt));
    writeJsonInteger(json, "count", static_cast<int64_t>(run.count));
    writeJsonNumber(json, "startSeconds", run.seconds, 6);
    writeJsonNumber(json, "endSeconds", end, 6);
    writeJsonNumber(json, "fromSeconds", std::max(0.0, run.seconds - margin), 6);
    writeJsonNumber(json, "toSeconds", shownEnd + margin, 6);
    closeJson(json, "}");
  }
}

// Writes the fields of `block` that the table shows, as an object without its closing
// brace: the listing's (openBlockObject), "startSeconds" and "endSeconds" (where it lies
// in the recording), "protocol" (its name) and "protocolKey" (the word the page says it
// with: "pmd", "pmdDouble" or "mato"), "whole", "unknownBytes", and "doubt": of the bytes
// that the listing notes below the block, how many are "unknown", "uncertain" and "missing".
void writeDecodedBlock(JsonWriter& json, const DecodedBlock& block, int32_t unknownBytes) {
  openBlockObject(json, block.info);
  writeJsonNumber(json, "startSeconds", block.startSeconds, 6);
  writeJsonNumber(json, "endSeconds", block.endSeconds, 6);
  writeJsonString(json, "protocol", protocolName(block.protocol));
  writeJsonString(json, "protocolKey", block.protocol == kProtocolMato        ? "mato"
                                       : block.protocol == kProtocolPmdDouble ? "pmdDouble"
                                                                              : "pmd");
  writeJsonBoolean(json, "whole", !isDamaged(block));
  writeJsonInteger(json, "unknownBytes", unknownBytes);
  std::vector<DoubtfulRun> runs;
  if (json.status == kOk) {
    json.status = findDoubtfulRuns(block, runs);
  }
  int64_t counts[3] = {};
  for (const DoubtfulRun& run : runs) {
    counts[run.doubt] += static_cast<int64_t>(run.count);
  }
  openJson(json, "doubt", "{", true);
  for (const ByteDoubt doubt : {kDoubtUnknown, kDoubtUncertain, kDoubtMissing}) {
    writeJsonInteger(json, doubtName(doubt), counts[doubt]);
  }
  closeJson(json, "}");
}

// Writes how the takes stand to each other, as the merged listing notes it: "foreign", the
// takes of another tape ({"take", "blocks"}, from 1, the blocks numbered in that take),
// "foreignMerged" (merged all the same) and "lone", the takes that share no block.
void writeTakeStanding(JsonWriter& json, const TapeMerge& merge) {
  openJson(json, "foreign", "[");
  for (const ForeignTake& foreign : merge.foreign) {
    openJson(json, nullptr, "{", true);
    writeJsonInteger(json, "take", foreign.take + 1);
    openJson(json, "blocks", "[", true);
    for (const int32_t block : foreign.blocks) {
      writeJsonInteger(json, nullptr, block);
    }
    closeJson(json, "]");
    closeJson(json, "}");
  }
  closeJson(json, "]");
  writeJsonBoolean(json, "foreignMerged", merge.foreignMerged);
  openJson(json, "lone", "[", true);
  for (const int32_t take : merge.lone) {
    writeJsonInteger(json, nullptr, take + 1);
  }
  closeJson(json, "]");
}

int32_t writePageFile(const char* path, const uint8_t* bytes, size_t count) {
  FileHandle file(std::fopen(path, "wb"));
  return file ? writeAndClose(std::move(file), path, bytes, count)
              : reportFailure(kErrOpenOutput, path);
}

int32_t printText(int32_t status, const std::string& text) {
  if (status == kOk) {
    std::fputs(text.c_str(), stdout);
  }
  return status;
}

}  // namespace

extern "C" {

// Returns an empty cassette, to be released with releaseTakes, or nullptr after a
// reported failure.
EMSCRIPTEN_KEEPALIVE PageCassette* startTakes() {
  auto* cassette = new (std::nothrow) PageCassette;
  if (cassette == nullptr) {
    reportFailure(kErrOutOfMemory);
  }
  return cassette;
}

// Starts decoding the recording `name`, of `channelCount` channels (the first
// kMaxPageChannels are decoded) at `sampleRate` Hz, as the next take of `cassette`, with
// tonbrix-decode's protocol and phase choices. Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t startDecoding(PageCassette* cassette, const char* name,
                                           int32_t sampleRate, int32_t channelCount,
                                           int32_t protocol, int32_t phase) {
  cassette->finished = false;
  Cassette& tape = cassette->cassette;
  tape.protocol = static_cast<TapeProtocol>(protocol);
  tape.phase = static_cast<TapePhase>(phase);
  return startTake(tape, name, sampleRate, std::clamp(channelCount, 1, kMaxPageChannels));
}

// Feeds `count` samples of channel `channel`. Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t feedDecoder(PageCassette* cassette, int32_t channel,
                                         const float* samples, int32_t count) {
  Cassette& tape = cassette->cassette;
  if (channel < 0 || static_cast<size_t>(channel) >= tape.session.decoders.size() || count < 0) {
    return kOk;
  }
  return feedTakeChannel(tape, static_cast<size_t>(channel), samples, static_cast<size_t>(count));
}

// Feeds `frameCount` frames of `channelCount` interleaved channels of little-endian PCM as a
// WAV file holds them: `bits` 8 (unsigned), 16, 24 or 32 (signed), or with `isFloat` 32 or
// 64. The first channels go to the decoders, one each. Converting here rather than in
// JavaScript spares a copy of every sample through the heap. Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t feedPcm(PageCassette* cassette, const uint8_t* bytes,
                                     int32_t frameCount, int32_t channelCount, int32_t bits,
                                     int32_t isFloat) {
  if (frameCount <= 0 || channelCount <= 0) {
    return kOk;
  }
  const PcmFormat format{bits, isFloat != 0, channelCount};
  return feedTakePcm(cassette->cassette, bytes, static_cast<size_t>(frameCount), format);
}

// Writes {"finished", "channel", "blocks": [...]} to `resultPath`: whether the take ended
// and was kept, the recording's channel (0-based) that the blocks come from, and the
// fields of each block found so far (writeDecodedBlock) with its runs of doubtful bytes
// ("runs": writeDoubtfulRuns), the unknown bytes being those
// read as such: while the tape plays, of the channel that has found the most; once
// finished, of the channel kept. Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t describeDecoded(const PageCassette* cassette, const char* resultPath) {
  const Cassette& tape = cassette->cassette;
  const DecodeSession& session = tape.session;
  int32_t channel = 0;
  const std::vector<DecodedBlock>* blocks = nullptr;  // none while no take is decoded
  if (cassette->finished) {
    channel = tape.facts.back().channel;
    blocks = &tape.takes.back();
  } else if (!session.decoders.empty()) {
    const size_t shown = leadingDecoder(session, 0);
    channel = session.channels[shown];
    blocks = &session.decoders[shown].blocks;
  }
  std::string text;
  JsonWriter json{text};
  openJson(json, nullptr, "{", true);
  writeJsonBoolean(json, "finished", cassette->finished);
  writeJsonInteger(json, "channel", channel);
  openJson(json, "blocks", "[");
  for (size_t i = 0; blocks != nullptr && i < blocks->size(); ++i) {
    const DecodedBlock& block = (*blocks)[i];
    writeDecodedBlock(json, block, countUnknownBytes(block));
    openJson(json, "runs", "[");
    writeDoubtfulRuns(json, block, 0);
    closeJson(json, "]");
    closeJson(json, "}");
  }
  closeJson(json, "]");
  closeJson(json, "}");
  return json.status == kOk ? writeJson(resultPath, text) : json.status;
}

// Ends the take being decoded and keeps it; `endedEarly` when its file stated more samples
// than it held, which makes the decode not whole, as in tonbrix-decode. The first take is
// listed as tonbrix-decode lists a recording alone, and without a block it ends here; a
// later one is summed up, as one of several. Returns kOk; kErrNoBlocks, reported, for a
// first take without a block (it is kept all the same, as a take that the next ones may
// make up for); or another code, reported, when it is not kept.
EMSCRIPTEN_KEEPALIVE int32_t finishDecoding(PageCassette* cassette, int32_t endedEarly) {
  Cassette& tape = cassette->cassette;
  tape.decoding.endedEarly = endedEarly != 0;
  const int32_t status = finishTake(tape);
  if (status != kOk) {
    return status;
  }
  cassette->finished = true;
  const TakeFacts& facts = tape.facts.back();
  std::string text;
  int32_t listed = kOk;
  if (isOneOfSeveral(tape)) {
    text = "Take " + std::to_string(tape.takes.size()) + ": " + facts.name + "\n";
    listed = appendTakeSummary(text, tape.takes.back());
  } else if (takeEnding(tape) == kErrNoBlocks) {
    return reportFailure(kErrNoBlocks, facts.name);
  } else {
    listed = listDecodedBlocks(text, tape.takes.back(), 0);
  }
  return printText(listed == kOk ? appendStrayFrames(text, facts.strayFrames) : listed, text);
}

// Lets go of the samples of the take being decoded, once it is finished or given up; the
// takes kept stay.
EMSCRIPTEN_KEEPALIVE void releaseDecoding(PageCassette* cassette) {
  cassette->cassette.session = DecodeSession{};
}

// Merges the takes, lists the merged tape when there are several, and writes the tape
// image to `imagePath` and the JSON report to `reportPath`, naming the image `imageName`,
// as tonbrix-decode does with the same recordings. Returns kOk; kErrDamagedBlocks,
// reported, when the image is written but holds a block with a fault; or kErrNoBlocks or
// another code, reported, when there is no image.
EMSCRIPTEN_KEEPALIVE int32_t writeMergedTape(PageCassette* cassette, const char* imageName,
                                             const char* imagePath, const char* reportPath) {
  Cassette& tape = cassette->cassette;
  int32_t status = mergeCassette(tape);
  if (status != kOk) {
    return status;
  }
  if (tape.ending == kErrNoBlocks) {
    return reportFailure(tape.ending, nameTakes(tape));
  }
  if (isOneOfSeveral(tape)) {
    std::string text = "\n";
    status = printText(listMergedBlocks(text, tape.merge, static_cast<int32_t>(tape.takes.size()),
                                        0),
                       text);
  }
  if (status == kOk) {
    std::printf("Writing tape image: %s\n", imageName);
  }
  std::vector<uint8_t> image;
  if (status == kOk) {
    status = buildTapeImage(tape.merge.blocks, image);
  }
  if (status == kOk) {
    status = writePageFile(imagePath, image.data(), image.size());
  }
  std::string report;
  if (status == kOk) {
    status = buildDecodeReport(tape, imageName, report);
  }
  if (status == kOk) {
    status =
        writePageFile(reportPath, reinterpret_cast<const uint8_t*>(report.data()), report.size());
  }
  if (status != kOk) {
    return status;
  }
  return reportEnding(tape);
}

// Writes {"blocks": [...], ...} to `resultPath`: the blocks of the merged tape with the fields
// of describeDecoded, where the time lies in take "take", and "sources" (the takes whose
// bytes the block holds, from 1), "decision" (mergeDecisionName), as "unknownBytes" those
// that no take read, and as "runs" those of every take's copy that it did not read for
// certain, each in its own take: a block made whole from other takes shows where and how
// a take was damaged; "disputedBytes"; and after the blocks, how the takes stand
// (writeTakeStanding). Returns kOk or a code, reported.
EMSCRIPTEN_KEEPALIVE int32_t describeMerged(const PageCassette* cassette, const char* resultPath) {
  const TapeMerge& merge = cassette->cassette.merge;
  const Takes& takes = cassette->cassette.takes;
  std::string text;
  JsonWriter json{text};
  openJson(json, nullptr, "{", true);
  openJson(json, "blocks", "[");
  for (size_t i = 0; i < merge.blocks.size(); ++i) {
    const BlockOrigin& origin = merge.origins[i];
    writeDecodedBlock(json, merge.blocks[i], origin.unknownBytes);
    writeJsonInteger(json, "take", origin.take + 1);
    openJson(json, "sources", "[");
    for (const int32_t source : origin.sources) {
      writeJsonInteger(json, nullptr, source + 1);
    }
    closeJson(json, "]");
    writeJsonString(json, "decision", mergeDecisionName(origin.decision));
    writeJsonInteger(json, "disputedBytes", origin.disputedBytes);
    openJson(json, "runs", "[");
    for (size_t take = 0; take < origin.copies.size(); ++take) {
      if (origin.copies[take] >= 0) {
        writeDoubtfulRuns(json, takes[take][static_cast<size_t>(origin.copies[take])],
                          static_cast<int32_t>(take + 1));
      }
    }
    closeJson(json, "]");
    closeJson(json, "}");
  }
  closeJson(json, "]");
  writeTakeStanding(json, merge);
  closeJson(json, "}");
  return json.status == kOk ? writeJson(resultPath, text) : json.status;
}

EMSCRIPTEN_KEEPALIVE void releaseTakes(PageCassette* cassette) { delete cassette; }

}  // extern "C"
