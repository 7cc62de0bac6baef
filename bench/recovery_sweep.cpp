// How far the decoder's word on a damaged take can be trusted: simulated single takes of
// a worn cassette, each with its own speed (0.985-1.015), noise (SNR 15-25 dB) and 2 to 8
// dropouts of 20 ms to 1 s, silent or hissing, in one long body, for every protocol and
// speed. Each take is decoded with a report, and the image is compared byte by byte with
// the tape played: a byte that is wrong and not listed as unknown or uncertain is wrong
// and called read, which must never happen. Prints that count, the bodies that came back
// exact, and how many of the doubtful bytes were in fact right.
// With -m, each case is three takes with 4 to 6 dropouts each, some at the same place,
// merged in every order, which must all give the same image; "dropped" counts the body
// bytes that some take read for certain alone and the merge did not.
// Usage: recovery_sweep [-m] TONBRIX TONBRIX_DECODE [CASES [KEEP]]   (120 takes, 30 merges)
// KEEP names a take whose recording is kept as take-KEEP.wav here, for a closer look.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "decode_audio.h"
#include "json_value.h"
#include "run_binary.h"
#include "sweep_columns.h"
#include "tape_builder.h"

namespace {

using decode_audio::Audio;
using tape_builder::Bytes;

// What the takes of one column came to.
struct Tally {
  int takes = 0;
  int exactBodies = 0;  // the body whole, every byte read and right
  int unmatched = 0;    // takes whose body came back as no block of its length
  int orderDependent = 0;  // merges whose image changed with the order of the takes
  int64_t droppedInMerge = 0;  // body bytes some take read alone that the merge did not
  int64_t wrongCalledRead = 0;
  int64_t unknown = 0;
  int64_t unknownRight = 0;
  int64_t uncertain = 0;
  int64_t uncertainRight = 0;
  std::map<int, int> exitCodes;
};

// The parts of an image in the record layout, each behind its length word.
std::vector<Bytes> recordsOf(const std::string& bytes) {
  std::vector<Bytes> records;
  for (size_t at = 0; at + 2 <= bytes.size();) {
    const size_t length = static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8;
    const size_t end = std::min(bytes.size(), at + 2 + length);
    records.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at + 2),
                         bytes.begin() + static_cast<std::ptrdiff_t>(end));
    at = end;
  }
  return records;
}

// The level falls to nothing between `from` and `to` seconds, with edges of half a
// millisecond.
Audio cutOut(Audio audio, double from, double to) {
  constexpr double kEdge = 0.0005;
  return decode_audio::changeLevel(std::move(audio), [=](double t) {
    if (t < from) {
      return std::fmin(1.0, (from - t) / kEdge);
    }
    return t > to ? std::fmin(1.0, (t - to) / kEdge) : 0.0;
  });
}

// A take of `clean`: its speed, its dropouts inside [first, last) seconds of the played
// tape, and its noise, which a hissing dropout keeps and a silent one takes with it.
// A dropout, in seconds of the tape as played: where it starts and how long it lasts.
using Dropout = std::pair<double, double>;

Audio damageTake(const Audio& clean, double first, double last, std::mt19937& random,
                 const std::vector<Dropout>& shared = {}) {
  std::uniform_real_distribution<double> unit(0, 1);
  const double speed = 0.985 + 0.03 * unit(random);
  const double snr = 15 + 10 * unit(random);
  const bool hissing = unit(random) < 0.5;
  Audio take = decode_audio::resample(clean, clean.sampleRate, speed);
  const auto noisy = [&](const Audio& audio) {
    return decode_audio::addNoise(audio, snr, static_cast<uint32_t>(random()));
  };
  if (!hissing) {
    take = noisy(take);
  }
  std::vector<Dropout> dropouts = shared;
  const int own = (shared.empty() ? 2 : 4 - static_cast<int>(shared.size())) +
                  static_cast<int>(unit(random) * (shared.empty() ? 7 : 3));
  for (int d = 0; d < own; ++d) {
    const double length = 0.02 * std::pow(50.0, unit(random));  // 20 ms .. 1 s
    dropouts.emplace_back(first + (last - first - length) * unit(random), length);
  }
  for (const auto& [at, length] : dropouts) {
    take = cutOut(std::move(take), at / speed, (at + length) / speed);
  }
  return hissing ? noisy(take) : take;
}

// Per byte of a body as the image holds it, from the report's doubtful runs of it: 'r'
// read, 'k' unknown, 'u' uncertain, 'm' missing.
std::vector<char> statesOf(const Bytes& decoded, const json_value::Value& block) {
  std::vector<char> state(decoded.size(), 'r');
  for (const json_value::Value& run : block["doubtful"].items) {
    if (run["part"].text != "body") {
      continue;
    }
    const char kind = run["state"].text == "unknown" ? 'k' : run["state"].text == "uncertain" ? 'u' : 'm';
    const auto position = static_cast<size_t>(run["position"].number);
    const auto count = static_cast<size_t>(run["count"].number);
    for (size_t i = position; i < position + count && i < state.size(); ++i) {
      state[i] = kind;
    }
  }
  return state;
}

// Compares `decoded` (a body as the image holds it, with the report's doubtful runs of
// it) with `original`, byte by byte, into `tally`.
void compareBody(const Bytes& decoded, const json_value::Value& block, const Bytes& original,
                 Tally& tally) {
  const std::vector<char> state = statesOf(decoded, block);
  bool exact = decoded == original;
  for (size_t i = 0; i < decoded.size() && i < original.size(); ++i) {
    const bool right = decoded[i] == original[i];
    if (state[i] == 'r') {
      tally.wrongCalledRead += right ? 0 : 1;
    } else if (state[i] == 'k') {
      exact = false;
      ++tally.unknown;
      tally.unknownRight += right ? 1 : 0;
    } else if (state[i] == 'u') {
      exact = false;
      ++tally.uncertain;
      tally.uncertainRight += right ? 1 : 0;
    }
  }
  tally.exactBodies += exact ? 1 : 0;
}

// Decodes `wav` and compares the body of its header block with `body`.
void checkTake(const std::string& decoder, const std::string& folder,
               const std::vector<std::string>& wavs, const Bytes& body, int take, Tally& tally,
               std::vector<char>* states = nullptr) {
  const int64_t wrongBefore = tally.wrongCalledRead;
  const std::string image = folder + "/take.img";
  const std::string report = folder + "/take.json";
  std::vector<std::string> args = {"-q", "-f", "-o", image, "-report", report};
  args.insert(args.end(), wavs.begin(), wavs.end());
  const RunResult result = runProgram(decoder, args, folder);
  ++tally.takes;
  ++tally.exitCodes[result.exitCode];
  json_value::Value value;
  const std::string text = readWholeFile(report);
  const std::vector<Bytes> records = recordsOf(readWholeFile(image));
  bool matched = false;
  if (json_value::Reader(text).read(value)) {
    size_t record = 0;
    for (const json_value::Value& block : value["tape"].items) {
      const bool header = block["kind"].text == "header";
      const size_t bodyRecord = record + (header ? 1 : 0);
      record += header ? 2 : 1;
      if (bodyRecord < records.size() && (header || records[bodyRecord].size() == body.size())) {
        compareBody(records[bodyRecord], block, body, tally);
        matched = true;
        if (states != nullptr) {
          *states = statesOf(records[bodyRecord], block);
        }
      }
    }
  }
  tally.unmatched += matched ? 0 : 1;
  if (tally.wrongCalledRead > wrongBefore) {
    std::fprintf(stderr, "take %d: %lld bytes wrong and called read\n", take,
                 static_cast<long long>(tally.wrongCalledRead - wrongBefore));
  }
}

void printTally(const char* name, const Tally& t) {
  std::string codes;
  for (const auto& [code, count] : t.exitCodes) {
    codes += " " + std::to_string(code) + ":" + std::to_string(count);
  }
  std::printf("%-10s %5d %6d %9d %6d %8lld %10lld %9lld %8lld %10lld %8lld  %s\n", name,
              t.takes, t.exactBodies, t.unmatched, t.orderDependent,
              static_cast<long long>(t.droppedInMerge), static_cast<long long>(t.wrongCalledRead),
              static_cast<long long>(t.unknown), static_cast<long long>(t.unknownRight),
              static_cast<long long>(t.uncertain), static_cast<long long>(t.uncertainRight),
              codes.c_str());
}

// The sweep's settings and the tape it plays.
struct Sweep {
  std::string tonbrix;
  std::string decoder;
  std::string folder;
  Bytes body;
  int takes = 120;
  int keep = -1;
  bool merge = false;  // each case is three takes merged, in every order
};

// Three takes of one cassette, some of whose dropouts lie at the same place, merged in
// every order: each order must give the same image.
void checkMerge(const Sweep& sweep, const Audio& clean, double first, double last, int t,
                Tally& tally) {
  std::mt19937 random(static_cast<uint32_t>(5000 + t));
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<Dropout> shared;
  for (int d = 0; d < 2; ++d) {
    const double length = 0.02 * std::pow(50.0, unit(random));
    shared.emplace_back(first + (last - first - length) * unit(random), length);
  }
  std::vector<std::string> wavs;
  for (int k = 0; k < 3; ++k) {
    std::vector<Dropout> these;
    for (const Dropout& dropout : shared) {
      if (unit(random) < 2.0 / 3) {
        these.push_back(dropout);
      }
    }
    const Audio take = damageTake(clean, first, last, random, these);
    wavs.push_back(sweep.folder + "/take" + std::to_string(k) + ".wav");
    decode_audio::writeChannels(wavs.back(), take.sampleRate, 16, {take.samples});
  }
  // Each take alone, for the bytes it reads for certain, which the merge must read too.
  std::vector<char> readAlone(sweep.body.size(), 'k');
  for (const std::string& wav : wavs) {
    Tally ignored;
    std::vector<char> states;
    checkTake(sweep.decoder, sweep.folder, {wav}, sweep.body, t, ignored, &states);
    for (size_t i = 0; i < states.size() && i < readAlone.size(); ++i) {
      readAlone[i] = states[i] == 'r' ? 'r' : readAlone[i];
    }
  }
  std::vector<char> merged;
  checkTake(sweep.decoder, sweep.folder, wavs, sweep.body, t, tally, &merged);
  for (size_t i = 0; i < readAlone.size(); ++i) {
    tally.droppedInMerge += readAlone[i] == 'r' && (i >= merged.size() || merged[i] != 'r') ? 1 : 0;
  }
  const std::string image = readWholeFile(sweep.folder + "/take.img");
  const size_t orders[][3] = {{0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  bool same = true;
  for (const auto& order : orders) {
    Tally ignored;
    checkTake(sweep.decoder, sweep.folder, {wavs[order[0]], wavs[order[1]], wavs[order[2]]},
              sweep.body, t, ignored);
    same = same && readWholeFile(sweep.folder + "/take.img") == image;
  }
  tally.orderDependent += same ? 0 : 1;
  if (!same) {
    std::fprintf(stderr, "case %d: the image depends on the order of the takes\n", t);
  }
  for (size_t k = 0; k < wavs.size() && t == sweep.keep; ++k) {
    std::filesystem::copy_file(wavs[k], "merge-" + std::to_string(t) + "-" + std::to_string(k) + ".wav",
                               std::filesystem::copy_options::overwrite_existing);
  }
}

// Runs the takes of column `c` into `tally`. False where tonbrix failed.
bool runColumn(const Sweep& sweep, size_t c, Tally& tally) {
  std::vector<std::string> args = kColumns[c].play;
  args.insert(args.end(), {"-o", sweep.folder + "/clean.wav", sweep.folder + "/tape.img"});
  const Audio clean = runProgram(sweep.tonbrix, args, sweep.folder).exitCode == 0
                          ? decode_audio::readTonbrixWav(sweep.folder + "/clean.wav")
                          : Audio{};
  if (clean.samples.empty()) {
    std::fprintf(stderr, "tonbrix failed for %s\n", kColumns[c].name);
    return false;
  }
  // The body runs from after the header and the body's leader to before the last leader
  // and the closing second of silence.
  const double seconds = static_cast<double>(clean.samples.size()) / clean.sampleRate;
  const double first = c < 4 ? (c < 2 ? 5.0 : 3.4) : 2.2;
  const double last = seconds - 1.8;
  for (int t = static_cast<int>(c); t < sweep.takes; t += static_cast<int>(std::size(kColumns))) {
    if (sweep.merge) {
      checkMerge(sweep, clean, first, last, t, tally);
      continue;
    }
    std::mt19937 random(static_cast<uint32_t>(1000 + t));
    const Audio take = damageTake(clean, first, last, random);
    const std::string wav = sweep.folder + "/take.wav";
    decode_audio::writeChannels(wav, take.sampleRate, 16, {take.samples});
    checkTake(sweep.decoder, sweep.folder, {wav}, sweep.body, t, tally);
    if (t == sweep.keep) {
      std::filesystem::copy_file(wav, "take-" + std::to_string(t) + ".wav",
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }
  return true;
}

void addTally(const Tally& tally, Tally& all) {
  all.takes += tally.takes;
  all.exactBodies += tally.exactBodies;
  all.unmatched += tally.unmatched;
  all.orderDependent += tally.orderDependent;
  all.droppedInMerge += tally.droppedInMerge;
  all.wrongCalledRead += tally.wrongCalledRead;
  all.unknown += tally.unknown;
  all.unknownRight += tally.unknownRight;
  all.uncertain += tally.uncertain;
  all.uncertainRight += tally.uncertainRight;
  for (const auto& [code, count] : tally.exitCodes) {
    all.exitCodes[code] += count;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Sweep sweep;
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "-m") {
    sweep.merge = true;
    first = 2;
  }
  if (argc < first + 2) {
    std::fprintf(stderr, "usage: %s [-m] TONBRIX TONBRIX_DECODE [CASES [KEEP]]\n", argv[0]);
    return 2;
  }
  sweep.tonbrix = argv[first];
  sweep.decoder = argv[first + 1];
  sweep.takes = argc > first + 2 ? std::atoi(argv[first + 2]) : (sweep.merge ? 30 : 120);
  sweep.keep = argc > first + 3 ? std::atoi(argv[first + 3]) : -1;
  sweep.folder = (std::filesystem::temp_directory_path() / "recovery-sweep-XXXXXX").string();
  if (mkdtemp(sweep.folder.data()) == nullptr) {
    return 1;
  }
  const Bytes data = tape_builder::patternBytes(4000, 21);
  tape_builder::TapeImage tape;
  tape_builder::Header header;
  header.name = "RECOVERY";
  tape.headerBlock(header, data);
  sweep.body = tape_builder::bodyPart(data);
  if (!tape.writeTo(sweep.folder + "/tape.img")) {
    return 1;
  }
  std::printf("%-10s %5s %6s %9s %6s %8s %10s %9s %8s %10s %8s  %s\n", "protocol", "cases",
              "exact", "unmatched", "order", "dropped", "wrongRead", "unknown", "(right)",
              "uncertain", "(right)", "exit codes");
  Tally all;
  for (size_t c = 0; c < std::size(kColumns); ++c) {
    Tally tally;
    if (!runColumn(sweep, c, tally)) {
      std::filesystem::remove_all(sweep.folder);
      return 1;
    }
    printTally(kColumns[c].name, tally);
    addTally(tally, all);
  }
  printTally("all", all);
  std::filesystem::remove_all(sweep.folder);
  return all.wrongCalledRead == 0 && all.orderDependent == 0 ? 0 : 1;
}
