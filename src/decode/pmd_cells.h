// PMD 85 cells: every cell is one full square period, a mark starting with the high level
// and a space with the low one, so the level always changes in the middle of a cell and
// between two equal cells. Crossing intervals are half cells or whole cells. The walk goes
// from the middle of one cell to the middle of the next, following the tape speed, and
// where noise broke a cell, the clock places it.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "decode/demodulator.h"
#include "decode/tape_protocol.h"

enum PmdInterval { kNoCell, kHalfCell, kWholeCell };

// What an interval of `length` samples is, against the tracked half cell.
PmdInterval classifyInterval(double length, double halfCell);

// How quickly the half-cell estimate follows the tape speed.
inline constexpr double kPmdTrackingGain = 0.05;

// The spread of the cell lengths around the tracked length, for the report on a block.
struct CellSpread {
  double sum = 0;
  double count = 0;
  void add(double cell, double halfCell) {
    const double deviation = cell / (2 * halfCell) - 1;
    sum += deviation * deviation;
    count += 1;
  }
  double percent() const { return count > 0 ? 100 * std::sqrt(sum / count) : 0; }
};

enum CellStep { kStepOk, kStepBroken, kStepOutOfData };

// A walk from the middle of one cell to the middle of the next, following the tape speed.
struct PmdCellWalk {
  const Crossings* crossings = nullptr;
  TapePhase phase = kPhaseNormal;
  double halfCell = 0;
  size_t middle = 0;  // crossing in the middle of the current cell
  CellSpread spread;
  // Where the middle of the current cell is taken to be: its crossing, pulled towards the
  // time the cells before it predict, so that noise on one crossing does not move the
  // next decision. Valid while clockMiddle is middle; a walk placed anew starts over.
  double clock = 0;
  size_t clockMiddle = SIZE_MAX;
  // The current cell: its crossing gives it, except where the clock placed a middle whose
  // crossing noise took away.
  bool mark = false;
  // Whether a cell that the intervals do not form may be placed by the clock (the reading
  // of frames, not the trials after a gap), and whether the current one was.
  bool mayRepair = false;
  bool repaired = false;
  bool guessed = false;  // the current cell, so placed, could as well have been the other
  // How far, in half cells, the middle after each pair of cells tends to lie from where
  // the clock alone puts it: a head whose phase smears delays the edges after a long
  // level more than those after a short one. Indexed by whether the cell before and the
  // cell itself were whole cells (their middles a whole cell apart).
  std::array<float, 4> bias{};
  uint8_t lastWhole = 0;  // whether the current cell was a whole one
};

// Where the clock, at middle `clock`, expects the middle of the next cell, a whole cell
// or not, and the index of walk.bias for it.
double predictMiddle(const PmdCellWalk& walk, double clock, bool whole, size_t& pattern);

// True when crossing `middle`, taken as the middle of a cell, makes it a mark: a falling
// middle in normal phase.
bool isMark(const PmdCellWalk& walk, size_t middle);

// Places the walk at `middle`, a crossing, and takes its cell.
void placeWalk(PmdCellWalk& walk, size_t middle);

// Moves walk.middle to the middle of the next cell; where the intervals form no cell
// (noise, silence, a dropout) or run out, it stays. With walk.mayRepair, a cell that noise
// broke (a stray pulse, a lost short level, a middle moved far from the clock) is placed
// by the clock where the cells after it confirm it, and walk.repaired (and walk.guessed,
// where either cell would have done) tells so.
CellStep stepCell(PmdCellWalk& walk);
