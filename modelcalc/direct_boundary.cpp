// The direct boundary model of a g(s*) distribution.
#include "modelcalc/direct_boundary.h"

#include <cmath>

#include "distributions/distribution_grid.h"
#include "distributions/distribution_plot.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/linear_step_doors.h"
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
  ModelParams().pSpeciesAmplitude[1] = 1.0f;
  LinearAmplitudes().pAppliedAmplitude[1] = 1.0f;
  LinearStepInput step = CurrentLinearStepInput();
  step.discrete = true;
  step.amplitude[1] = 1.0f;
  if (step.fitTI && step.fitRI) {
    KeepLinearStepResult(CalculateTIRINoise(step));
  } else if (step.fitTI) {
    KeepLinearStepResult(CalculateTINoise(step));
  } else if (step.varyBaseline) {
    KeepLinearStepResult(FitBaseline(step));
  } else {
    AddBaselineToFit(step.baseline);
  }
}

// The ls-g*(s) distribution replaced by the g(s*) table.
void ShowAsDistribution(const float* sStar, const float* g, int n) {
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  FreeDistributionVectors();
  distributionVectorsPart.nDistGrid = n;
  distributionVectorsPart.pDistGrid = vector(1, n);
  distributionVectorsPart.pDistS = vector(1, n);
  distributionVectorsPart.pDistValues = vector(1, n);
  distributionVectorsPart.pDistValues2 = vector(1, n);
  for (int i = 1; i <= n; ++i) {
    distributionVectorsPart.pDistGrid[i] = sStar[i];
    distributionVectorsPart.pDistS[i] = 1.0f;
    distributionVectorsPart.pDistValues[i] = g[i];
    distributionVectorsPart.pDistValues2[i] = 0.0f;
  }
  distributionPlotPart.bQuietRecreate = true;
  RecreateDistributionPlot();
  distributionPlotPart.bQuietRecreate = false;
}

}  // namespace

DirectBoundaryEnd DirectBoundaryFromGss(Window* window, const float* sStar, const float* g, int n) {
  auto& distributionPlotPart = DistributionPlot();
  auto& modelFlagsPart = ModelFlags();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  if (dataSetPart.nScans < 1) return DirectBoundaryEnd::NoScans;
  if (dataSetPart.fMeniscus == 0.0f || dataSetPart.fBottom == 0.0f) return DirectBoundaryEnd::NoMeniscusOrBottom;
  // The spacing ds of the table is s*(2) - s*(1).
  if (n < 2) return DirectBoundaryEnd::TooFewPoints;
  SetDefaultFitLimitsWhenUnset();
  UnpackModelParams();

  // Species 1 is the boundary model; the others take no part.
  analysisSwitchesPart.pSpeciesLinked[1] = 1;
  for (int k = 2; k <= nSpeciesSlots; ++k) analysisSwitchesPart.pSpeciesLinked[k] = 0;
  AllocSpeciesSignalArrays();
  const bool table = currentGridPart.pppSpeciesSignal[1].size() > Idx(dataSetPart.nScans) && currentGridPart.nSpeciesArrayPoints >= currentGridPart.nGridPoints;
  for (int j = 1; j <= dataSetPart.nScans; ++j) {
    for (int q = 1; q <= dataSetPart.pnPoints[Idx(j)]; ++q) dataSetPart.ppFit[Idx(j)][q] = 0.0f;
    if (table)
      for (int p = 1; p <= currentGridPart.nGridPoints; ++p) currentGridPart.pppSpeciesSignal[1][Idx(j)][p] = 0.0f;
  }

  const double ds = static_cast<double>(sStar[2]) - sStar[1];
  const GridFitPoints fit = CurrentGridFitPoints();
  for (int i = 1; i <= n; ++i) {
    const double A = ds * g[i];
    if (!(A > 0.0)) continue;
    const double s = sStar[i] * 1e-13;
    for (int j = 1; j <= dataSetPart.nScans; ++j) {
      const double w2t = dataSetPart.pScanInfo[Idx(j)].omega2t;
      // Sharp boundary at m exp(s w^2t); the plateau dilutes as exp(-2 s w^2t).
      const double rb = dataSetPart.fMeniscus * std::exp(s * w2t);
      const float plateau = static_cast<float>(A * std::exp(-2.0 * s * w2t));
      if (table) {
        float* row = currentGridPart.pppSpeciesSignal[1][Idx(j)];
        for (int p = fit.First(); p <= fit.Last(); ++p)
          if (currentGridPart.pGridRadius[p] >= rb) row[p] += plateau;
      }
      const float* r = dataSetPart.ppRadius[Idx(j)];
      for (int q = dataSetPart.pFitFirst[Idx(j)]; q <= dataSetPart.pFitLast[Idx(j)]; ++q)
        if (r[q] >= rb) dataSetPart.ppFit[Idx(j)][q] += plateau;
    }
  }

  FitNoiseToBoundaryModel();
  if (modelFlagsPart.bLsgModel && distributionPlotPart.pDistPlot) ShowAsDistribution(sStar, g, n);
  FitRmsd();
  SetModelComputed(true);
  if (window) window->Invalidate();
  return DirectBoundaryEnd::Done;
}

}  // namespace tarmic
