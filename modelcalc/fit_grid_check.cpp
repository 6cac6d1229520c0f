#include "modelcalc/fit_grid_check.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "modelcalc/fit_misfit.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "scandata/data_set.h"

namespace tarmic {

bool GridDependentModel() {
  const auto& data = DataSet();
  if (data.nScans < 1 || data.bDLSData || data.bEquilibriumMode) return false;
  return !(ModelFlags().bDiscreteModel && ModelFlags().bFaxenApproximation);
}

std::vector<double> ModelAtFitPoints() {
  std::vector<double> values;
  ForEachFitPoint([&](int s, int i) { values.push_back(DataSet().ppFit[static_cast<std::size_t>(s)][i]); });
  return values;
}

double RmsDifference(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.empty() || a.size() != b.size()) return 0.0;
  double sum = 0.0;
  for (std::size_t k = 0; k < a.size(); ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
  return std::sqrt(sum / static_cast<double>(a.size()));
}

double GridCheckNoise() {
  const ResidualNoise noise = EstimateResidualNoise();
  return noise.noise > 0.0 ? noise.noise : noise.rmsd;
}

double GridError::Limit() const {
  if (points < 1 || limit == GridLimit::NoiseShare) return kGridErrorShare * noise;
  return noise * std::min(kGridErrorShare, std::sqrt(kGridErrorChiSquare / static_cast<double>(points)));
}

GridError MeasureGridError(const std::function<bool()>& compute, bool evaluatedHere, GridOnShow onShow) {
  GridError e;
  e.factor = GridRefinement();
  const bool finerFirst = onShow == GridOnShow::InForce && !evaluatedHere;
  // No finer grid can be had: nothing to measure.
  const bool refinable = 2 * e.factor <= kMostGridRefinement;
  const auto computeFiner = [&] {
    SetGridRefinement(2 * e.factor);
    const bool computed = compute();
    SetGridRefinement(e.factor);
    if (computed) e.finer = ModelAtFitPoints();
    return computed;
  };
  if (finerFirst && refinable && !computeFiner()) {
    e.interrupted = FitState().bFitInterrupted;
    return e;
  }
  if (!evaluatedHere && !compute()) {
    e.interrupted = FitState().bFitInterrupted;
    return e;
  }
  e.inForce = ModelAtFitPoints();
  e.inForceOnShow = true;
  e.noise = GridCheckNoise();
  e.points = static_cast<long long>(e.inForce.size());
  if (!refinable) return e;
  if (!finerFirst) {
    e.inForceOnShow = false;
    if (!computeFiner()) {
      e.interrupted = FitState().bFitInterrupted;
      return e;
    }
  }
  e.error = RmsDifference(e.inForce, e.finer);
  e.measured = !e.inForce.empty() && e.noise > 0.0;
  return e;
}

GridVerdict CheckGridAtEnd(const std::function<bool()>& compute, bool evaluatedHere, FitReport& report,
                           int& rounds, GridLimit limit, GridOnShow onShow, GridError* measured) {
  if (!GridDependentModel()) return GridVerdict::Holds;
  GridError local;
  GridError& e = measured ? *measured : local;
  e = MeasureGridError(compute, evaluatedHere, onShow);
  e.limit = limit;
  if (e.interrupted) return GridVerdict::Interrupted;
  if (!e.TooCoarse()) return GridVerdict::Holds;
  // The fit's grid is too coarse for the noise: the search goes on on the finer one,
  // whose own error the next end measures; after its rounds the fit ends on the grid
  // it was fitted on, flagged.
  if (rounds++ >= kGridCheckRounds) {
    report.gridRefined = e.factor;
    return GridVerdict::Ends;
  }
  SetGridRefinement(2 * e.factor);
  return GridVerdict::GoesOn;
}

void StartFitOnSettingsGrid() { SetGridRefinement(1); }

}  // namespace tarmic
