// Total-concentration (ctot) tables of the non-ideal c(s) model: where every signal
// level of the total sedimenting signal lies, in every scan and on a uniform time
// grid, so that the concentration-dependent propagator can ask for the total signal
// at any radius and time (CalculateCtotProfile).
//
// Levels are found in a corrected copy of the measured data on the common grid
// (bCtotFromData) or of each scan's fitted model: the fitted systematic noise
// (time- and radial-invariant noise, or the baseline) is subtracted from the copy,
// never from the loaded data. Radii in cm, times in s, signals in signal units;
// tables are one-based.
#pragma once

#include "numerics/analysis.h"

#include <vector>

namespace tarmic {

inline constexpr int nCtotTimes = 100;     // points of the time grid

// The tables of the last BuildCtotTables.
struct CtotTables {
  double step = 0.0;                           // level spacing
  std::vector<double> levels;                  // [1..L]: L0 + (k - 1) step
  std::vector<std::vector<double>> byScan;     // [position 1..nScans][level 1..L], cm
  std::vector<double> times;                   // [1..nCtotTimes]: q tLast / nCtotTimes, s
  std::vector<std::vector<double>> byTime;     // [time 1..nCtotTimes][level 1..L], cm
  std::vector<double> levelRadius;             // [1..L] at the last requested time, cm
};

// The state of this module in an analysis (numerics/analysis.h).
struct CtotState {
  int nCtotLevels = 100;  // signal levels: min(100, Lamm grid size)
  double fCtotEarlyFactor = 2.0;  // 2.0: scans before (1 + f) t_first are early
  bool bCtotFromData = true;  // levels from the data (on) or from the fit
  bool bCtotArrays = false;  // the tables exist
  CtotTables gCtot{};
};
inline CtotState& Ctot() { return CurrentPart<CtotState>(); }

// Builds the tables from the loaded scans and the fitted noise and writes them to
// szBoundaryFractsFile (per scan) and szNonIdCtotFile (per time). False when there
// are no scans or the tables cannot be had (memory).
bool BuildCtotTables();

// The total signal at time t (s) at the radii r[1..n] (increasing) into out[1..n]:
// level radii interpolated in time between the grid times around t (the meniscus
// before the first), then the signal interpolated between the levels enclosing each
// radius, counted from the lowest level (a baseline kept in the data is no
// concentration). Sized by the caller's grid, whatever grid size the tables were built for.
// Without tables every value is 0.
void CalculateCtotProfile(double t, const double* r, int n, double* out);

// Releases the tables (the data loaders, before new data replace the old).
void FreeCtotArrays();

}  // namespace tarmic
