// State shared by the nonlinear fits of the discrete-species models: the interrupt
// of the running fit, the counters the status lines show and the rmsd values of
// the fit-result text. A fit marks itself running with bFitRunning
// (simulation_messages.h), which also limits the discretization message to one
// per fit.
#pragma once

namespace tarmic {

// The user interrupted the running fit (a key press found by the objective turns
// bUserAbort into this); every search loop polls it and ends after the current
// evaluation.
extern bool bFitInterrupted;
// Number of the current Nelder-Mead call, temperature step or Marquardt-Levenberg
// iteration; evaluations in it; evaluations of the whole fit.
extern int nFitIteration;
extern int nFitStep;
extern int nFitSim;
// rmsd when the fit started and the lowest rmsd shown since.
extern float fStartRmsd;
extern float fBestRmsd;

// Restores the values of this file to their defaults (tests).
void ResetFitState();

}  // namespace tarmic
