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
  const bool conti = bContiModel, discrete = bDiscreteModel;
  bContiModel = false;
  bDiscreteModel = true;
  pSpeciesAmplitude[1] = 1.0f;
  pAppliedAmplitude[1] = 1.0f;
  if (bFitTINoise && bFitRINoise) {
    CalculateTIRINoise();
  } else if (bFitTINoise) {
    CalculateTINoise();
  } else if (bVaryBaseline) {
    FitBaseline();
  } else {
    AddBaselineToFit();
  }
  bContiModel = conti;
  bDiscreteModel = discrete;
}

// The ls-g*(s) distribution replaced by the g(s*) table.
void ShowAsDistribution(const float* sStar, const float* g, int n) {
  FreeDistributionVectors();
  nDistGrid = n;
  pDistGrid = vector(1, n);
  pDistS = vector(1, n);
  pDistValues = vector(1, n);
  pDistValues2 = vector(1, n);
  for (int i = 1; i <= n; ++i) {
    pDistGrid[i] = sStar[i];
    pDistS[i] = 1.0f;
    pDistValues[i] = g[i];
    pDistValues2[i] = 0.0f;
  }
  bQuietRecreate = true;
  RecreateDistributionPlot();
  bQuietRecreate = false;
}

}  // namespace

DirectBoundaryEnd DirectBoundaryFromGss(Window* window, const float* sStar, const float* g, int n) {
  if (nScans < 1) return DirectBoundaryEnd::NoScans;
  if (fMeniscus == 0.0f || fBottom == 0.0f) return DirectBoundaryEnd::NoMeniscusOrBottom;
  // The spacing ds of the table is s*(2) - s*(1).
  if (n < 2) return DirectBoundaryEnd::TooFewPoints;
  SetDefaultFitLimitsWhenUnset();
  UnpackModelParams();

  // Species 1 is the boundary model; the others take no part.
  pSpeciesIncluded[1] = 1;
  for (int k = 2; k <= nSpeciesSlots; ++k) pSpeciesIncluded[k] = 0;
  AllocSpeciesSignalArrays();
  const bool table = pppSpeciesSignal[1].size() > Idx(nScans) && nSpeciesArrayPoints >= nGridPoints;
  for (int j = 1; j <= nScans; ++j) {
    for (int q = 1; q <= pnPoints[Idx(j)]; ++q) ppFit[Idx(j)][q] = 0.0f;
    if (table)
      for (int p = 1; p <= nGridPoints; ++p) pppSpeciesSignal[1][Idx(j)][p] = 0.0f;
  }

  const double ds = static_cast<double>(sStar[2]) - sStar[1];
  const GridFitPoints fit = CurrentGridFitPoints();
  for (int i = 1; i <= n; ++i) {
    const double A = ds * g[i];
    if (!(A > 0.0)) continue;
    const double s = sStar[i] * 1e-13;
    for (int j = 1; j <= nScans; ++j) {
      const double w2t = pScanInfo[Idx(j)].omega2t;
      // Sharp boundary at m exp(s w^2t); the plateau dilutes as exp(-2 s w^2t).
      const double rb = fMeniscus * std::exp(s * w2t);
      const float plateau = static_cast<float>(A * std::exp(-2.0 * s * w2t));
      if (table) {
        float* row = pppSpeciesSignal[1][Idx(j)];
        for (int p = fit.First(); p <= fit.Last(); ++p)
          if (pGridRadius[p] >= rb) row[p] += plateau;
      }
      const float* r = ppRadius[Idx(j)];
      for (int q = pFitFirst[Idx(j)]; q <= pFitLast[Idx(j)]; ++q)
        if (r[q] >= rb) ppFit[Idx(j)][q] += plateau;
    }
  }

  FitNoiseToBoundaryModel();
  if (bLsgModel && pDistPlot) ShowAsDistribution(sStar, g, n);
  FitRmsd();
  SetModelComputed(true);
  if (window) window->Invalidate();
  return DirectBoundaryEnd::Done;
}

}  // namespace tarmic
