// The clock of a simulation and the moving frame of the moving-hat grid: what the
// time loop advances and the arrays' grid moves with, below both.
#pragma once

namespace tarmic {

extern double dSimTime;             // simulated time t, s
extern bool bShowSimMass;           // compute the total amount after each step
extern double dFrameS;              // s of the frame, S
extern double dFrameSedOmega2;      // w^2 dFrameS 1e-13 of the frame, 1/s
extern double dHatT0;               // start of the current hat interval, s

}  // namespace tarmic
