// Whether a Lamm solution computed every scan it was asked for.
//
// A time loop records each scan when the run reaches its time. A stop rule may end
// the run before the last scan only when it vouches for the profile of every later
// scan: the profile stopped changing (a steady state), or the boundary has left the
// fitted range, so that every later scan holds nothing there either. Only then are
// the later scans handed the stop's profile. A run that ends before its last scan
// in any other way has not computed the later scans: the solution is solved again on
// a finer grid or refused with the reason, never filled with its last profile.
//
// Every solver that records scans holds one ScanCoverage and asks Complete() before
// it reports success: the solver object (CLammIdeal), the propagators' scan recorder
// (ScanTimeRecorder) and the buffer solver.
#pragma once

#include <string>

namespace tarmic {

class ScanCoverage {
 public:
  // Before a run of scans scans.
  void Start(int scans) {
    scans_ = scans;
    recorded_ = 0;
    endTime_ = 0.0;
  }
  // A scan recorded at its own time, or handed the profile of a stop rule that
  // vouches for it.
  void Recorded() { ++recorded_; }
  // The run's time loop ended at time t.
  void Ended(double t) { endTime_ = t; }
  int Scans() const { return scans_; }
  int Reached() const { return recorded_; }
  bool Complete() const { return recorded_ >= scans_; }
  // The reason given when a run ended before its last scan without a stop rule.
  std::string Refusal() const;

 private:
  int scans_ = 0;
  int recorded_ = 0;
  double endTime_ = 0.0;
};

// The fit-range stop's test: the value at the limit node (just beyond the fitted
// range on the side the boundary leaves by) and at the next node inside the range
// lie within level of zero. A value far below zero there is an oscillation next to a
// layer the grid does not resolve, not an empty range. The solver object and the
// propagators stop by it.
bool FittedRangeLeftAt(const double* c, int N, int limitNode, int inward, double level);

}  // namespace tarmic
