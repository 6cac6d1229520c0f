// The direct boundary model of a g(s*) distribution.
#include "modelcalc/direct_boundary.h"

#include <cmath>

#include "distributions/distribution_grid.h"
#include "distributions/distribution_plot.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/one_based.h"
#include "platform/backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The systematic noise of the fit, with the boundary model as one discrete species
// of fixed amplitude 1 in slot 1.
void FitNoiseToBoundaryModel() {
  const bool conti = ModelFlags().bContiModel, discrete = ModelFlags().bDiscreteModel;
  ModelFlags().bContiModel = false;
  ModelFlags().bDiscreteModel = true;
  ModelParams().pSpeciesAmplitude[1] = 1.0f;
  LinearAmplitudes().pAppliedAmplitude[1] = 1.0f;
  if (AnalysisSwitches().bFitTINoise && AnalysisSwitches().bFitRINoise) {
    CalculateTIRINoise();
  } else if (AnalysisSwitches().bFitTINoise) {
    CalculateTINoise();
  } else if (ModelParams().bVaryBaseline) {
    FitBaseline();
  } else {
    AddBaselineToFit();
  }
  ModelFlags().bContiModel = conti;
  ModelFlags().bDiscreteModel = discrete;
}

// The ls-g*(s) distribution replaced by the g(s*) table.
void ShowAsDistribution(const float* sStar, const float* g, int n) {
  FreeDistributionVectors();
  DistributionVectors().nDistGrid = n;
  DistributionVectors().pDistGrid = vector(1, n);
  DistributionVectors().pDistS = vector(1, n);
  DistributionVectors().pDistValues = vector(1, n);
  DistributionVectors().pDistValues2 = vector(1, n);
  for (int i = 1; i <= n; ++i) {
    DistributionVectors().pDistGrid[i] = sStar[i];
    DistributionVectors().pDistS[i] = 1.0f;
    DistributionVectors().pDistValues[i] = g[i];
    DistributionVectors().pDistValues2[i] = 0.0f;
  }
  DistributionPlot().bQuietRecreate = true;
  RecreateDistributionPlot();
  DistributionPlot().bQuietRecreate = false;
}

}  // namespace

DirectBoundaryEnd DirectBoundaryFromGss(Window* window, const float* sStar, const float* g, int n) {
  if (DataSet().nScans < 1) return DirectBoundaryEnd::NoScans;
  if (DataSet().fMeniscus == 0.0f || DataSet().fBottom == 0.0f) return DirectBoundaryEnd::NoMeniscusOrBottom;
  // The spacing ds of the table is s*(2) - s*(1).
  if (n < 2) return DirectBoundaryEnd::TooFewPoints;
  SetDefaultFitLimitsWhenUnset();
  UnpackModelParams();

  // Species 1 is the boundary model; the others take no part.
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  for (int k = 2; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  AllocSpeciesSignalArrays();
  const bool table = CurrentGrid().pppSpeciesSignal[1].size() > Idx(DataSet().nScans) && CurrentGrid().nSpeciesArrayPoints >= CurrentGrid().nGridPoints;
  for (int j = 1; j <= DataSet().nScans; ++j) {
    for (int q = 1; q <= DataSet().pnPoints[Idx(j)]; ++q) DataSet().ppFit[Idx(j)][q] = 0.0f;
    if (table)
      for (int p = 1; p <= CurrentGrid().nGridPoints; ++p) CurrentGrid().pppSpeciesSignal[1][Idx(j)][p] = 0.0f;
  }

  const double ds = static_cast<double>(sStar[2]) - sStar[1];
  const GridFitPoints fit = CurrentGridFitPoints();
  for (int i = 1; i <= n; ++i) {
    const double A = ds * g[i];
    if (!(A > 0.0)) continue;
    const double s = sStar[i] * 1e-13;
    for (int j = 1; j <= DataSet().nScans; ++j) {
      const double w2t = DataSet().pScanInfo[Idx(j)].omega2t;
      // Sharp boundary at m exp(s w^2t); the plateau dilutes as exp(-2 s w^2t).
      const double rb = DataSet().fMeniscus * std::exp(s * w2t);
      const float plateau = static_cast<float>(A * std::exp(-2.0 * s * w2t));
      if (table) {
        float* row = CurrentGrid().pppSpeciesSignal[1][Idx(j)];
        for (int p = fit.First(); p <= fit.Last(); ++p)
          if (CurrentGrid().pGridRadius[p] >= rb) row[p] += plateau;
      }
      const float* r = DataSet().ppRadius[Idx(j)];
      for (int q = DataSet().pFitFirst[Idx(j)]; q <= DataSet().pFitLast[Idx(j)]; ++q)
        if (r[q] >= rb) DataSet().ppFit[Idx(j)][q] += plateau;
    }
  }

  FitNoiseToBoundaryModel();
  if (ModelFlags().bLsgModel && DistributionPlot().pDistPlot) ShowAsDistribution(sStar, g, n);
  FitRmsd();
  SetModelComputed(true);
  if (window) window->Invalidate();
  return DirectBoundaryEnd::Done;
}

}  // namespace tarmic
