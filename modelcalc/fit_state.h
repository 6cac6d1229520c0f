// State shared by the nonlinear fits of the discrete-species models: the interrupt
// of the running fit, the counters the status lines show and the rmsd values the
// fit-result text and the reports read. The fit drivers write them. A fit marks
// itself running with bFitRunning (simulation_messages.h), which also limits the
// discretization message to one per fit. The rmsd of the last evaluation and its
// point count (fFitRmsd, fFitPoints) belong to FitRmsd (fit_rmsd.h).
#pragma once

#include "numerics/analysis.h"

#include "modelcalc/fit_rmsd.h"
#include "scandata/data_set.h"

namespace tarmic {

// The user interrupted the running fit (a key press found by the objective turns
// bUserAbort into this); every search loop polls it and ends after the current
// evaluation.
// Counters of the search: model computations of the whole fit, iterations (simplex
// calls, Marquardt-Levenberg steps or annealing temperatures) and evaluations in the
// current iteration.
// The loaded data, model and values the counters were counted on (StartFitCounters,
// EndFitCounters): the status line of a fit belongs to them, and a new load, a change
// of the data or of any value the model reads clears it.
// Zeroes the counters at the start of a fit and records the data it fits.
void StartFitCounters();
// At the end of a fit: the counters belong to the result it left (its claim, the
// data, model and values it was computed for); without a result they stay with the
// data and values the fit started from.
void EndFitCounters();
// rmsd at the start of the running fit, and the best rmsd reached since.

// The search method of the running fit, for its status line.
enum class FitSearch { Simplex, Marquardt, Annealing };

// The state of this module in an analysis (numerics/analysis.h).
struct FitStateState {
  bool bFitInterrupted = false;
  int nFitSim = 0;
  int nFitIteration = 0;
  int nFitStep = 0;
  LoadedDataStamp gFitCountersData{};
  float fStartRmsd = 0.0f;
  float fBestRmsd = 0.0f;
  FitSearch eFitSearch = FitSearch::Simplex;
};
inline FitStateState& FitState() { return CurrentPart<FitStateState>(); }

// Restores every value above to its start value (tests).
void ResetFitState();

}  // namespace tarmic
