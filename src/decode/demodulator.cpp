// Level-crossing detection on a smoothed signal, with a threshold in the middle of the
// swing and a hysteresis that follows the level.
#include "decode/demodulator.h"

#include <algorithm>
#include <cmath>

#include "core/memory.h"

namespace {

// The shortest level of any protocol is half a PMD 85 cell at double speed, 1/4800 s
// nominal (4.6 samples at 22050 Hz; tonbrix writes 5). Smoothing over three quarters of
// that averages white noise down by most of what a whole level would, while each edge
// stays a steep ramp whose middle is where the edge was (the sweep in bench/ found the
// best noise margins there, over every protocol and rate).
constexpr double kSmoothSeconds = 1.0 / 6250;
// Long enough to hold the envelopes through the longest steady level of any protocol
// (about a millisecond), so that their midpoint does not move with the data.
constexpr double kEnvelopeSeconds = 0.02;
// The mean distance from the midpoint follows fades and brief dropouts within about a
// cell, where the envelopes would take tens of milliseconds. Slower, the hysteresis
// outlasts the level on the way into a dropout and a short level at double speed is
// lost; faster, it follows noise: at low rates it averages over at least kSwingSamples
// (PMD 85 at double speed and 22050 Hz needs both).
constexpr double kSwingSeconds = 0.00025;
constexpr double kSwingSamples = 6;
// The hysteresis, as a share of the mean distance from the midpoint (half the swing of a
// square wave): 12.5 % of the swing, as without the smoothing. A wider one loses brief
// dropouts sooner than it gains against noise.
constexpr double kHysteresisShare = 0.25;
// A floor under the hysteresis, as a share of the envelopes' swing: noise well below a
// signal that just ended makes no crossings, while a dropout to a tenth of the level
// still does.
constexpr double kFloorShare = 0.02;
// A signal that rested this long before its first swing rested in the middle of it (the
// silence before a recorded tape), and the far side of the swing is taken to lie this
// share of the near side beyond the rest until the first crossing shows it.
constexpr double kRestSeconds = 0.001;
constexpr double kMirrorShare = 0.75;

double gainOf(double seconds, int32_t sampleRate) {
  return 1.0 - std::exp(-1.0 / (seconds * sampleRate));
}

// Crossings found in one run of the inner loop, appended after it: a call inside the loop
// would make the compiler keep its values in memory rather than in registers.
constexpr size_t kBatch = 64;

// Appends `count` crossings, the first of them rising when `firstRising`. Returns kOk or
// kErrOutOfMemory, reported; the crossings are then unchanged.
int32_t appendCrossings(Crossings& crossings, const double* positions, const float* swings,
                        size_t count, bool firstRising) {
  if (count == 0) {
    return kOk;
  }
  if (crossings.positions.empty()) {
    crossings.firstRising = firstRising ? 1 : 0;
  }
  int32_t status = appendItems(crossings.positions.kept, positions, count);
  if (status == kOk) {
    status = appendItems(crossings.swings.kept, swings, count);
    if (status != kOk) {
      crossings.positions.kept.resize(crossings.positions.kept.size() - count);
    }
  }
  return status;
}

// The filters and the threshold, as local copies of the state that the compiler keeps in
// registers: the loops over samples are where a long recording spends most of its time.
struct Filters {
  size_t smoothLength;
  double smoothScale;
  double smoothSum;
  double high;
  double low;
  double swingShare;  // the hysteresis: kHysteresisShare of the mean distance
  double decay;
  double keep;
  double swingGain;
  double swingKeep;
  double s = 0;       // the latest smoothed value
  double margin = 0;  // the latest hysteresis

  // Takes a sample into the smoothing and the envelopes; `old` is the sample that leaves
  // the smoothing window.
  void smooth(float x, float old) {
    smoothSum += static_cast<double>(x) - static_cast<double>(old);
    s = smoothSum * smoothScale;
    // An envelope jumps to a value beyond it and otherwise moves back towards it; the
    // moved-back value never passes the value, so max and min choose without a branch.
    const double pull = s * decay;
    high = std::max(s, high * keep + pull);
    low = std::min(s, low * keep + pull);
  }

  // Returns the smoothed value less the midpoint, and moves the hysteresis. The mean
  // distance from the midpoint never exceeds half the envelopes' swing, since the
  // envelopes hold every value.
  double finish() {
    const double e = s - (high + low) * 0.5;
    swingShare = swingShare * swingKeep + std::fabs(e) * swingGain;
    margin = std::max(swingShare, (high - low) * kFloorShare);
    return e;
  }
};

// The filters as the state left them.
Filters filtersOf(const DemodulatorState& state) {
  return Filters{static_cast<size_t>(state.smoothLength),
                 1.0 / state.smoothLength,
                 state.smoothSum,
                 state.high,
                 state.low,
                 state.hysteresis,
                 state.envelopeDecay,
                 1.0 - state.envelopeDecay,
                 state.swingGain * kHysteresisShare,
                 1.0 - state.swingGain};
}

// The samples of one call and the history of earlier calls that the smoothing window
// reaches back into.
struct Window {
  const float* samples;
  const float* history;  // kDemodulatorHistory samples, by position
  size_t first;          // position of samples[0]
  size_t length;         // of the smoothing window

  // The sample that leaves the smoothing window as samples[i] enters: from this call's
  // samples once there are enough, before that from the history.
  float leaving(size_t i) const {
    constexpr size_t kMask = kDemodulatorHistory - 1;
    return i >= length ? samples[i - length] : history[(first + i - length) & kMask];
  }
};

// How far each sample of a stretch moves the smoothing sum: the sample entering the window
// less the one leaving it, worked out ahead of the loop over the stretch, two at a time.
constexpr size_t kStretch = 1024;
struct Moves {
  double values[kStretch];
  size_t first;  // the index of the sample that values[0] is for

  double at(size_t i) const { return values[i - first]; }
};

void fillMoves(Moves& moves, const Window& window, size_t first, size_t end) {
  moves.first = first;
  size_t i = first;
  for (; i < end && i < window.length; ++i) {
    moves.values[i - first] =
        static_cast<double>(window.samples[i]) - static_cast<double>(window.leaving(i));
  }
  // The rest leave from this call's samples: a loop without a choice, which the compiler
  // turns into vector instructions.
  const float* entering = window.samples + i;
  const float* leaving = entering - window.length;
  double* values = moves.values + (i - first);
  for (size_t k = 0; k < end - i; ++k) {
    values[k] = static_cast<double>(entering[k]) - static_cast<double>(leaving[k]);
  }
}

// What the loop after the first crossing carries from sample to sample besides the
// envelopes, and the crossings it gathers until they are appended.
struct Watch {
  double swingShare;  // the hysteresis: kHysteresisShare of the mean distance
  double previous;    // the last smoothed value less the midpoint
  double candidate;
  bool candidateSet;
  int64_t position;  // of the next sample to decide
  double delay;      // of a smoothed value behind its sample
  size_t found;
  double positions[kBatch + 1];  // a pair of samples may make two crossings
  float swings[kBatch + 1];
};

// Decides the next sample from its smoothed value `s` and envelopes: moves the hysteresis
// and returns true where the signal has cleared it towards kRising, a crossing. The floor
// under the hysteresis is looked at only then, where the signal is past the mean share.
template <bool kRising>
inline bool decideSample(Watch& w, const Filters& f, double s, double high, double low) {
  const double e = s - (high + low) * 0.5;
  w.swingShare = w.swingShare * f.swingKeep + std::fabs(e) * f.swingGain;
  // The crossing time is where the signal last passed the middle before it cleared the
  // hysteresis: that keeps rounded edges from shifting rising and falling crossings in
  // opposite directions.
  if ((w.previous < 0) != (e < 0)) {
    w.candidate = static_cast<double>(w.position) - w.delay - 1 + w.previous / (w.previous - e);
    w.candidateSet = true;
  }
  w.previous = e;
  const int64_t position = w.position++;
  const double toward = kRising ? e : -e;
  if (!(toward > w.swingShare && toward > (high - low) * kFloorShare)) {
    return false;
  }
  if (!w.candidateSet) {
    // The threshold moved past the signal rather than the other way round.
    w.candidate = static_cast<double>(position) - w.delay - 0.5;
  }
  w.positions[w.found] = w.candidate;
  w.swings[w.found] = static_cast<float>(high - low);
  ++w.found;
  w.candidateSet = false;
  return true;
}

// Runs the filters from samples[i] on until the level changes towards kRising or the
// samples end; returns true where it changed. One long loop, because the filters' values
// must stay in registers through it: a long recording spends most of its time here.
//
// The envelopes move two samples at a time. Moving an envelope back (times keep, plus the
// pull) never reverses an order, so it may be taken before the max as well as after: the
// envelope two samples on is max(s1, back1(s0), back1(back0(h))), bit for bit the value
// of one step after the other, and the chain that each pair waits on holds one max, not
// two.
template <bool kRising>
bool watchForCrossing(Filters& f, Watch& w, const Moves& moves, size_t count, size_t& i) {
  const double keep = f.keep;
  const double decay = f.decay;
  for (; i + 1 < count; i += 2) {
    f.smoothSum += moves.at(i);
    const double s0 = f.smoothSum * f.smoothScale;
    f.smoothSum += moves.at(i + 1);
    const double s1 = f.smoothSum * f.smoothScale;
    const double pull0 = s0 * decay;
    const double pull1 = s1 * decay;
    const double backHigh = f.high * keep + pull0;
    const double backLow = f.low * keep + pull0;
    const double high0 = std::max(s0, backHigh);
    const double low0 = std::min(s0, backLow);
    const double backS0 = s0 * keep + pull1;
    f.high = std::max(std::max(s1, backS0), backHigh * keep + pull1);
    f.low = std::min(std::min(s1, backS0), backLow * keep + pull1);
    if (decideSample<kRising>(w, f, s0, high0, low0)) {
      i += 2;
      // The second sample is decided towards the other level; two crossings leave it.
      return !decideSample<!kRising>(w, f, s1, f.high, f.low);
    }
    if (decideSample<kRising>(w, f, s1, f.high, f.low)) {
      i += 2;
      return true;
    }
  }
  if (i < count) {
    // Filters::smooth from the stretch's move, spelled out: calling a shared step here made
    // the compiler keep fewer of the loop's values in registers, and the loop slower.
    f.smoothSum += moves.at(i);
    f.s = f.smoothSum * f.smoothScale;
    const double pull = f.s * decay;
    f.high = std::max(f.s, f.high * keep + pull);
    f.low = std::min(f.s, f.low * keep + pull);
    ++i;
    return decideSample<kRising>(w, f, f.s, f.high, f.low);
  }
  return false;
}

// Runs the filters over the samples from i to `end`, whose moves are in `moves`, and
// appends the crossings they make. Returns kOk or kErrOutOfMemory, reported.
int32_t watchStretch(Filters& f, Watch& w, const Moves& moves, size_t end, size_t& i,
                     int32_t& level, Crossings& crossings) {
  int32_t status = kOk;
  while (i < end && status == kOk) {
    const bool firstRising = level == 0;
    w.found = 0;
    while (i < end && w.found < kBatch) {
      const bool changed = level == 0 ? watchForCrossing<true>(f, w, moves, end, i)
                                      : watchForCrossing<false>(f, w, moves, end, i);
      level = changed ? 1 - level : level;
    }
    status = appendCrossings(crossings, w.positions, w.swings, w.found, firstRising);
  }
  return status;
}

// Runs the filters from samples[i] on until the first crossing: before it there is no
// level yet, or only one side of the swing has been seen. The rest, the level and the
// mirroring live in `state`, and the rest of the walk in `f` and `w`. Seldom long, and
// not kept in registers. Returns kOk or kErrOutOfMemory, reported.
int32_t watchForFirstCrossing(DemodulatorState& state, Filters& f, Watch& w, const Window& window,
                              size_t count, size_t& i, Crossings& crossings) {
  int32_t status = kOk;
  for (; i < count && (state.level < 0 || state.mirrored) && status == kOk; ++i) {
    const int64_t position = w.position++;
    f.smooth(window.samples[i], window.leaving(i));
    const double rest = state.rest;
    if (state.mirrored) {
      // After a rest (silence in the middle) the other side of the swing lies about as
      // far beyond it; taking a little less keeps a rest that was a level after all from
      // hiding the way back.
      f.low = std::min(f.low, rest - kMirrorShare * (f.high - rest));
      f.high = std::max(f.high, rest + kMirrorShare * (rest - f.low));
    }
    const double e = f.finish();
    if (state.level >= 0 && (w.previous < 0) != (e < 0)) {
      w.candidate = static_cast<double>(position) - w.delay - 1 + w.previous / (w.previous - e);
      w.candidateSet = true;
    }
    if (state.level < 0) {
      if (e > f.margin || e < -f.margin) {
        // Before the first swing there is no level to cross from.
        state.level = e > 0 ? 1 : 0;
        state.mirrored = position - state.restStart >= state.restSamples;
      } else if (std::fabs(f.s - rest) > f.margin) {
        state.rest = f.s;
        state.restStart = position;
      }
    } else if (state.level == 0 ? e > f.margin : e < -f.margin) {
      if (!w.candidateSet) {
        w.candidate = static_cast<double>(position) - w.delay - 0.5;
      }
      const auto swing = static_cast<float>(f.high - f.low);
      status = appendCrossings(crossings, &w.candidate, &swing, 1, state.level == 0);
      w.candidateSet = false;
      state.level = 1 - state.level;
      state.mirrored = false;
    }
    w.previous = e;
  }
  return status;
}

// Demodulates `count` samples from state.position on: the filters and the watch run on
// local copies of the state, which go back into it at the end.
int32_t demodulate(DemodulatorState& state, const float* samples, size_t count,
                   Crossings& crossings) {
  if (count > 0 && state.position == 0) {
    // The filters start as if the first sample had always been there.
    state.history.fill(samples[0]);
    state.smoothSum = static_cast<double>(samples[0]) * state.smoothLength;
    state.high = static_cast<double>(samples[0]);
    state.low = state.high;
    state.previous = 0;
    state.rest = state.high;
  }
  Filters f = filtersOf(state);
  const auto first = static_cast<size_t>(state.position);
  const Window window{samples, state.history.data(), first, f.smoothLength};
  // A smoothed value stands for the middle of its window.
  const double delay = (state.smoothLength - 1) * 0.5;
  Watch w{f.swingShare,
          state.previous,
          state.candidate,
          state.candidateSet,
          state.position,
          delay,
          0,
          {},
          {}};
  size_t i = 0;
  int32_t status = watchForFirstCrossing(state, f, w, window, count, i, crossings);
  w.swingShare = f.swingShare;
  int32_t level = state.level;
  Moves moves;
  while (i < count && status == kOk) {
    const size_t end = std::min(count, i + kStretch);
    fillMoves(moves, window, i, end);
    status = watchStretch(f, w, moves, end, i, level, crossings);
  }
  // The samples the smoothing window will still need in the next call.
  for (size_t k = i > f.smoothLength ? i - f.smoothLength : 0; k < i; ++k) {
    state.history[(first + k) & (kDemodulatorHistory - 1)] = samples[k];
  }
  state.smoothSum = f.smoothSum;
  state.high = f.high;
  state.low = f.low;
  state.hysteresis = w.swingShare;
  state.previous = w.previous;
  state.candidate = w.candidate;
  state.candidateSet = w.candidateSet;
  state.level = level;
  state.position = w.position;
  return status;
}

}  // namespace

void startDemodulator(DemodulatorState& state, int32_t sampleRate) {
  state = DemodulatorState{};
  const double smooth = std::round(sampleRate * kSmoothSeconds);
  state.smoothLength =
      static_cast<int32_t>(std::clamp(smooth, 1.0, static_cast<double>(kDemodulatorHistory - 1)));
  state.envelopeDecay = gainOf(kEnvelopeSeconds, sampleRate);
  state.swingGain = gainOf(std::max(kSwingSeconds, kSwingSamples / sampleRate), sampleRate);
  state.restSamples = std::lround(kRestSeconds * sampleRate);
  startHumFilter(state.hum, sampleRate);
}

int32_t demodulateFloats(DemodulatorState& state, const float* samples, size_t count,
                         Crossings& crossings) {
  for (size_t done = 0; done < count;) {
    const HumStep step = filterHum(state.hum, samples + done, count - done, state.filtered.data());
    const int32_t status = demodulate(state, step.direct ? samples + done : state.filtered.data(),
                                      step.ready, crossings);
    if (status != kOk) {
      return status;
    }
    done += step.taken;
  }
  return kOk;
}

int32_t finishDemodulator(DemodulatorState& state, Crossings& crossings) {
  const size_t ready = finishHumFilter(state.hum, state.filtered.data());
  return demodulate(state, state.filtered.data(), ready, crossings);
}

uint8_t gradeCells(const Crossings& crossings, size_t first, size_t end, double unitSamples) {
  const CrossingValues<double>& x = crossings.positions;
  end = std::min(end, x.size());
  double worst = 0;
  for (size_t i = first; i + 1 < end; ++i) {
    const double units = (x[i + 1] - x[i]) / unitSamples;
    // Intervals are positive: truncation after adding a half rounds without a library call.
    const auto nearest = static_cast<double>(static_cast<int64_t>(units + 0.5));
    worst = std::max(worst, std::fabs(units - nearest));
  }
  // 255 up to 0.2 of a unit, 128 at 0.35, 64 at 0.5: linear between.
  const double grade =
      worst <= 0.35 ? 255 - (worst - 0.2) / 0.15 * 127 : 128 - (worst - 0.35) / 0.15 * 64;
  return static_cast<uint8_t>(std::clamp(grade, 64.0, 255.0));
}
