// The state a nonlinear fit of the discrete-species models leaves for the reports:
// the rmsd and point count of its last evaluation, the best rmsd of the running
// fit, and the counters of its search. The fit drivers write them; the fit-result
// text, the parameter report and the commands read them.
#pragma once

namespace tarmic {

// Root-mean-square deviation of the last fit evaluation (signal units) and the
// number of data points it was taken over (a float, as it is shown with "%.0f").
extern float fFitRmsd;
extern float fFitPoints;
// rmsd at the start of the running fit, and the best rmsd reached since.
extern float fStartRmsd;
extern float fBestRmsd;
// Counters of the search: model computations, iterations (simplex cycles, ML
// steps or annealing temperatures) and evaluations in the current iteration.
extern int nFitSim;
extern int nFitIteration;
extern int nFitStep;

// The search method of the running fit, for its status line.
enum class FitSearch { Simplex, Marquardt, Annealing };
extern FitSearch eFitSearch;
// Temperature of the annealing step (0 outside annealing).
extern float fAnnealTemp;

// Restores every value above to its start value (tests).
void ResetFitState();

}  // namespace tarmic
