// The lead-in search on crossings laid out here: what is a leader or pilot and of which
// kind, what is data, and that a search fed in pieces decides as one fed at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "decode/lead_in.h"
#include "decode/stray_frames.h"
#include "decode/tape_part.h"

namespace {

constexpr int32_t kRate = 44100;

// Crossings of a run of `periods` periods, each `high` samples high and `low` samples low
// (which comes first as `firstHigh` says), followed by a long silence, then data-like
// noise that breaks any run.
Crossings periodicRun(double high, double low, int32_t periods, bool firstHigh = true) {
  Crossings crossings;
  crossings.firstRising = firstHigh ? 1 : 0;
  double at = 100;
  for (int32_t p = 0; p < periods; ++p) {
    crossings.positions.push_back(at);
    at += firstHigh ? high : low;
    crossings.positions.push_back(at);
    at += firstHigh ? low : high;
  }
  crossings.positions.push_back(at);
  crossings.positions.push_back(at + 0.5 * kRate);  // silence ends the run
  crossings.swings.assign(crossings.positions.size(), 1.0F);
  return crossings;
}

struct Found {
  bool found = false;
  LeadIn leadIn;
};

Found searchAll(const Crossings& crossings, TapeProtocol protocol = kProtocolAuto,
                TapePhase phase = kPhaseAuto) {
  Found result;
  size_t runStart = 0;
  size_t position = 0;
  result.found = findLeadInBefore(crossings, crossings.positions.size(), kRate, protocol, phase,
                                  runStart, position, result.leadIn);
  return result;
}

TEST(LeadInSearch, TellsEachKindOfRunByItsPeriodAndDuty) {
  const double pmdHalf = kRate / 2400.0;       // a PMD 85 half cell
  const double pmdDoubleHalf = kRate / 4800.0;  // at double speed
  const double space = kRate / 1050.0;          // a Mato space: a third, then two thirds
  struct Case {
    const char* name;
    Crossings crossings;
    TapeProtocol choice;
    TapePhase phaseChoice;
    bool found;
    TapeProtocol protocol;
    TapePhase phase;
  } cases[] = {
      {"PMD 85 leader", periodicRun(pmdHalf, pmdHalf, 600), kProtocolAuto, kPhaseAuto, true,
       kProtocolPmd, kPhaseAuto},
      {"PMD 85 leader 8 % fast", periodicRun(pmdHalf / 1.08, pmdHalf / 1.08, 600), kProtocolAuto,
       kPhaseAuto, true, kProtocolPmd, kPhaseAuto},
      {"double-speed leader", periodicRun(pmdDoubleHalf, pmdDoubleHalf, 1200), kProtocolAuto,
       kPhaseAuto, true, kProtocolPmdDouble, kPhaseAuto},
      {"Mato pilot", periodicRun(space / 3, 2 * space / 3, 128), kProtocolAuto, kPhaseAuto, true,
       kProtocolMato, kPhaseNormal},
      {"inverted Mato pilot", periodicRun(2 * space / 3, space / 3, 128), kProtocolAuto,
       kPhaseAuto, true, kProtocolMato, kPhaseReversed},
      {"PMD 85 leader, PMD 85 chosen", periodicRun(pmdHalf, pmdHalf, 600), kProtocolPmd,
       kPhaseAuto, true, kProtocolPmd, kPhaseAuto},
      {"PMD 85 leader, Mato chosen", periodicRun(pmdHalf, pmdHalf, 600), kProtocolMato,
       kPhaseAuto, false, kProtocolAuto, kPhaseAuto},
      {"Mato pilot, PMD 85 chosen", periodicRun(space / 3, 2 * space / 3, 128), kProtocolPmd,
       kPhaseAuto, false, kProtocolAuto, kPhaseAuto},
      {"Mato pilot, the other phase chosen", periodicRun(space / 3, 2 * space / 3, 128),
       kProtocolAuto, kPhaseReversed, false, kProtocolAuto, kPhaseAuto},
      // The longest runs of equal cells that data holds are no lead-in.
      {"14 PMD 85 marks", periodicRun(pmdHalf, pmdHalf, 14), kProtocolAuto, kPhaseAuto, false,
       kProtocolAuto, kPhaseAuto},
      {"8 Mato spaces", periodicRun(space / 3, 2 * space / 3, 8), kProtocolAuto, kPhaseAuto,
       false, kProtocolAuto, kPhaseAuto},
      {"a tone too low for any protocol", periodicRun(80, 80, 400), kProtocolAuto, kPhaseAuto,
       false, kProtocolAuto, kPhaseAuto},
      {"a tone too high for any protocol", periodicRun(3, 3, 400), kProtocolAuto, kPhaseAuto,
       false, kProtocolAuto, kPhaseAuto},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Found result = searchAll(c.crossings, c.choice, c.phaseChoice);
    ASSERT_EQ(result.found, c.found);
    if (c.found) {
      EXPECT_EQ(result.leadIn.protocol, c.protocol);
      EXPECT_EQ(result.leadIn.phase, c.phase);
      EXPECT_EQ(result.leadIn.first, 0u);
      EXPECT_EQ(result.leadIn.end, c.crossings.positions.size() - 2);
    }
  }
}

TEST(LeadInSearch, NoiseOnSingleCrossingsDoesNotBreakTheRun) {
  const double half = kRate / 2400.0;
  Crossings crossings = periodicRun(half, half, 600);
  // Crossings moved by a third of a half cell and more, one at a time, here and there.
  for (size_t i = 101; i + 2 < crossings.positions.size(); i += 97) {
    crossings.positions[i] += (i % 2 == 0 ? 0.4 : -0.4) * half;
  }
  const Found result = searchAll(crossings);
  ASSERT_TRUE(result.found);
  EXPECT_EQ(result.leadIn.first, 0u);
  EXPECT_EQ(result.leadIn.end, crossings.positions.size() - 2);
  EXPECT_NEAR(result.leadIn.highSamples + result.leadIn.lowSamples, 2 * half, 0.05);
}

TEST(LeadInSearch, DecidesInPiecesAsAtOnce) {
  const double space = kRate / 1050.0;
  const Crossings crossings = periodicRun(space / 3, 2 * space / 3, 300);
  const Found whole = searchAll(crossings);
  ASSERT_TRUE(whole.found);
  // The crossings arrive in pieces: a run that has not broken yet is not decided.
  size_t runStart = 0;
  size_t position = 0;
  LeadIn leadIn;
  bool found = false;
  for (size_t end = 0; !found && end < crossings.positions.size();) {
    end = std::min(end + 37, crossings.positions.size());
    found = findLeadInBefore(crossings, end, kRate, kProtocolAuto, kPhaseAuto, runStart,
                             position, leadIn);
    if (!found) {
      EXPECT_LE(runStart, 1u) << "the run was given up at limit " << end;
    }
  }
  ASSERT_TRUE(found);
  EXPECT_EQ(leadIn.first, whole.leadIn.first);
  EXPECT_EQ(leadIn.end, whole.leadIn.end);
  EXPECT_EQ(leadIn.protocol, whole.leadIn.protocol);
  EXPECT_DOUBLE_EQ(leadIn.highSamples, whole.leadIn.highSamples);
}

// Frames found past a part's end are another part's only where the signal was lost before
// them: no crossing for longer than any level, or a swing fallen to under half. Noise in an
// intact leader keeps both.
TEST(SignalLost, ByASilenceOrAFallenSwingNotByNoise) {
  const double unit = 10;
  struct Case {
    const char* name;
    double longest;      // the interval in the middle of the stretch looked at
    float swingThere;    // the swing of the crossings there, against 1 before
    bool lost;
  } cases[] = {
      {"an intact leader", 10, 1.0F, false},
      {"noise in the leader: a short interval, the swing kept", 4, 0.9F, false},
      {"a silent dropout", 200, 1.0F, true},
      {"a hissing dropout", 10, 0.2F, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Crossings crossings;
    double at = 0;
    for (int i = 0; i < 100; ++i) {
      const bool middle = i >= 50 && i < 70;
      at += i == 60 ? c.longest : unit;
      crossings.positions.push_back(at);
      crossings.swings.push_back(middle ? c.swingThere : 1.0F);
    }
    EXPECT_EQ(signalLostBetween(crossings, 50, 70, unit), c.lost);
  }
}

// What the lead-in search passed over after a PMD 85 part (cells of 36 samples) or a Mato
// one (spaces of 42): frames at the part's level are noted where they begin; a leader, a
// pilot, hiss, data of another speed, or a part's own frames after it was cut, are not.
TEST(StrayFrames, FramesAtThePartsLevelAreNotedAndNothingElse) {
  const struct {
    const char* name;
    TapeProtocol protocol;
    std::vector<double> intervals;  // repeated over 400 crossings
    float swing;                    // against the part's 1
    bool cut;
    bool noted;
  } cases[] = {
      {"PMD 85 frames", kProtocolPmd, {18, 36, 18, 18, 36, 36, 18}, 1.0F, false, true},
      {"a PMD 85 leader", kProtocolPmd, {18}, 1.0F, false, false},
      {"PMD 85 frames at the level of hiss", kProtocolPmd, {18, 36, 18, 36}, 0.2F, false, false},
      {"double-speed frames", kProtocolPmd, {9, 18, 9, 9, 18}, 1.0F, false, false},
      {"a part's frames after it was cut", kProtocolPmd, {18, 36, 18}, 1.0F, true, false},
      {"Mato frames", kProtocolMato, {14, 28, 23, 47, 14, 28, 14, 28}, 1.0F, false, true},
      {"a Mato pilot", kProtocolMato, {14, 28}, 1.0F, false, false},
  };
  constexpr double kStart = 1000;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Crossings crossings;
    double at = kStart;
    for (size_t i = 0; i < 400; ++i) {
      crossings.positions.push_back(at);
      crossings.swings.push_back(test.swing);
      at += test.intervals[i % test.intervals.size()];
    }
    const double cellRate = kRate / (test.protocol == kProtocolMato ? 42.0 : 36.0);
    StrayWatch watch;
    watchAfterPart(watch, test.protocol, cellRate, 1.0, test.cut, kRate);
    ASSERT_EQ(watchForStrayFrames(watch, crossings, 0, 200, kRate), kOk);
    ASSERT_EQ(watchForStrayFrames(watch, crossings, 200, 400, kRate), kOk);
    ASSERT_EQ(watch.seconds.size(), test.noted ? 1u : 0u);
    if (test.noted) {
      EXPECT_NEAR(watch.seconds[0], kStart / kRate, 0.001);  // within a cell or two
    }
  }
}

}  // namespace
