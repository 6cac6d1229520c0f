// Status lines of the boundary-analysis simplex (see the header).
#include "modelcalc/boundary_simplex_status.h"

#include <cstdio>

#include "lamm/lamm_window_display.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "services/run_switches.h"
#include "services/computation_events.h"

namespace tarmic {

std::string ShowSimplexStep(Window* window) {
  auto& fitStatePart = FitState();
  auto& rmsdPart = Rmsd();
  ++fitStatePart.nFitStep;
  char first[64];
  char second[96];
  std::snprintf(first, sizeof first, "s%d, step #%d", fitStatePart.nFitIteration, fitStatePart.nFitStep);
  // SSR = rmsd^2 n: the sum of squared residuals behind the rmsd.
  const double rmsd = rmsdPart.fFitRmsd;
  const double n = rmsdPart.fFitPoints;
  std::snprintf(second, sizeof second, "rmsd=%f (n=%.0f,SSR=%f)", rmsd, n, rmsd * rmsd * n);
  if (window && !bBatchMode) {
    ReportProgress({ProgressKind::FitStep, first});
    ReportProgress({ProgressKind::BestRmsd, second, 0, 0, rmsd});
    LammWindowDisplay display(*window);
    display.ShowText(10, 30, first);
    display.ShowText(10, 50, second);
  }
  return std::string(first) + "\n" + second;
}

}  // namespace tarmic
