// What kind of sedimentation run the loaded scans show, judged from the scans
// themselves: a velocity run, whose boundary moves over the run, or sedimentation
// equilibrium, whose profiles stay where they are at each rotor speed.
#pragma once

#include <cstddef>
#include <vector>

namespace tarmic {

// The test of boundary motion over one run: the scans of one cell at one rotor
// speed (within 1%) and one wavelength, in the order of their times. The common
// radial range of the scans is cut into bins of about four points; in each bin each
// scan gives its value at the bin's centre (a straight line through its points
// there, so that scans whose radii differ a little are compared at one radius) and
// loses its mean over the bins (an offset, as interference scans have). The slope
// of each bin's values over time, weighted by each scan's noise (from the second
// differences of its points), against its standard error gives a chi-square of
// the trend over all bins, against that noise (the statistic asked to exceed its
// bound by a quarter more, for the estimate's error). With three or more scans also
// against the scatter of the values about their trends (an F test, which needs no
// noise estimate to be right, but which large changes that follow no straight line
// in time fill with their own scatter); the larger deviate counts. The run moves
// when the normal deviate of the statistic (Wilson-Hilferty, Paulson) exceeds
// kMotionDeviate: chance alone does that about once in a million runs.
inline constexpr double kMotionDeviate = 4.75;

struct BoundaryMotion {
  int cell = 0;
  float rpm = 0.0f;
  long wavelength = 0;
  int scans = 0;
  double span = 0.0;            // s, first to last scan
  double medianInterval = 0.0;  // s, between successive scans
  bool testable = false;        // two or more scans at different times over a common range of 16 points
  int bins = 0;
  double deviate = 0.0;         // the normal deviate of the trend statistic
  bool moves = false;           // deviate > kMotionDeviate
  // A run that moves, then stops: the scans of its last kSettledSpan do not move and
  // the last one holds a profile (an approach to equilibrium), where the boundary of
  // a velocity run keeps moving or leaves flat scans behind when it reaches the bottom.
  bool settledAtEnd = false;
};

// Scans of a velocity run are taken minutes apart; scans of an equilibrium run
// (tested for attainment) hours apart.
inline constexpr double kShortScanInterval = 1800.0;  // s
// Profiles that stay unchanged at one rotor speed over this time are at
// equilibrium: what a laboratory takes as the test of attainment, and longer than
// any boundary of the velocity runs analysed stays hidden in the noise.
inline constexpr double kSettledSpan = 7200.0;  // s

struct DataKindJudgement {
  std::vector<BoundaryMotion> runs;  // one per cell, rotor speed and wavelength
  // A velocity run: a run of three or more scans whose successive scans lie at most
  // kShortScanInterval apart (their median) moves, and has not settled at its end. The index of the first such run
  // in runs, -1 when none.
  int velocityRun = -1;
  const BoundaryMotion* Velocity() const { return velocityRun < 0 ? nullptr : &runs[static_cast<std::size_t>(velocityRun)]; }
  // Sedimentation equilibrium: no run moves, and a cell's scans span kSettledSpan
  // or more with an unchanged run of two or more scans or at two or more speeds.
  bool equilibrium = false;
  int cell = 0;          // of the equilibrium, the cell whose scans show it
  int speeds = 0;        // its rotor speeds
  int cellScans = 0;     // its scans
  double cellSpan = 0.0; // s, its first to last scan
  // Equilibrium beyond doubt: at two or more rotor speeds, each unchanged. No
  // velocity analysis has anything to take from such scans.
  bool equilibriumBeyondDoubt = false;
};

// The judgement of the loaded set's sedimentation scans (velocity or equilibrium
// mode alike; none for electrophoresis and DLS data).
DataKindJudgement JudgeDataKind();

}  // namespace tarmic
