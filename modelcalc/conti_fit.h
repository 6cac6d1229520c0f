// The nonlinear refinement of a continuous-distribution model: the parameters of
// the fit vector (conti_fit_params.h) are searched around the distribution solve.
// Every evaluation applies a trial vector and reruns the analysis as an inner run
// (RunContiSed with bContiInnerRun: same grid, unregularised non-negative solve);
// its rmsd is the objective. The searches are those of the discrete fits: repeated
// Nelder-Mead cycles, simulated annealing (amebsa) followed by the chosen final
// method, and Marquardt-Levenberg (MLFit); the simplex method with one to three
// floated values runs the search on the surface through the evaluated points
// instead of the cycles (surface_search.h). At the end the best point is evaluated
// once more with regularisation (bFinalFitEvaluation), shown and saved.
//
// Kernels are recomputed only for a vector that differs from the one of the
// kernels in place (every entry changes the kernels or the data of the equations);
// the final evaluation at an already evaluated best point reuses them.
#pragma once

#include <functional>

#include "distributions/conti_run.h"
#include "modelcalc/fit_report.h"

namespace tarmic {

class Window;

// The refinement of the chosen method: annealing while fAnnealTemp > 0, then (or at
// temperature 0) Marquardt-Levenberg with bAnnealFinalML, else the simplex cycles.
// NotStarted when the prerequisites fail (their message was shown) or the grid
// cannot be made (its refusal in report.message); Interrupted when the user stopped
// it (the best point found is applied, computed with regularisation and shown);
// Failed when the final evaluation left no result or the work arrays could not be
// had (report.message). With nothing floated the analysis is run once, its message
// in report.message.
// The parameter saves of the refinement (its checkpoints and its end) show nothing:
// the first one that failed is put into report, as is a Nelder-Mead pass that
// ended at its evaluation limit, for the command to show once.
// Each point's distribution is computed by `runner` (empty: RunContiSed).
using ContiRunFunction = std::function<ContiRunResult(Window*)>;
FitOutcome ContiFit(Window* window, FitMethod method, FitReport& report,
                    const ContiRunFunction& runner = {});
FitOutcome ContiAnnealingFit(Window* window, FitReport& report, const ContiRunFunction& runner = {});
FitOutcome MLContiFit(Window* window, FitReport& report, const ContiRunFunction& runner = {});

// One evaluation as the refinement's objective makes it (by RunContiSed, outside any
// refinement's count of refused points): applies the vector, reruns the analysis and returns the rmsd of
// the fit at the scans' fit points (FitRmsd; the untransformed rmsd with the
// nonlinear-detection correction). 1e10 once the fit is interrupted (nothing is
// computed) and for a run that left no result. A key press, or an interrupted run,
// interrupts the fit. Draws two status lines at (10, 30) and (10, 50).
float ContiSimplexSim(const float* p, Window* window);
// The evaluations the last simplex refinement of one to three values took in its
// surface search (surface_search.h), before the checks of its end.
int ContiSearchEvaluations();
// The searches' display of their best vertex: applies it and shows the status.
void ContiSimplexDisplay(Window* window, const float* p);

// Whether the parameters are saved when a refinement ends: the c(s) family (plain
// c(s), with one discrete M, c(s,ff0) with and without discrete component, the
// scaling laws), not its variants with their own settings.
bool ContiSaveAfterFit();

}  // namespace tarmic
