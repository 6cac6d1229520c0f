// The clock of a simulation and the moving frame of the moving-hat grid: what the
// time loop advances and the arrays' grid moves with, below both.
#pragma once

#include "numerics/analysis.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct SimClockState {
  double dSimTime = 0.0;  // simulated time t, s
  bool bShowSimMass = false;  // compute the total amount after each step
  double dFrameS = 0.0;  // s of the frame, S
  double dFrameSedOmega2 = 0.0;  // w^2 dFrameS 1e-13 of the frame, 1/s
  double dHatT0 = 0.0;  // start of the current hat interval, s
};
// The current analysis' SimClockState.
inline SimClockState& SimClock() { return CurrentPart<SimClockState>(); }

}  // namespace tarmic
