// The s-range highlight of the data pane: after a range of the distribution has been
// integrated, or a peak's information shown, the fitted curve of every scan turns red
// where the apparent sedimentation coefficient s* = ln(r/m) / (w^2 t) lies inside the
// range, and fades to grey outside it as a Gaussian in s* whose width W is that of the
// diffusional spread of a species at the range's ends. The highlight stays until the
// data pane is painted again.
#include <algorithm>
#include <cmath>
#include <memory>

#include "app/panes.h"
#include "app/xla_window.h"
#include "commands/distribution_peak_tools.h"
#include "distributions/distribution_grid.h"
#include "modelfit/model_flags.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// The continuous models whose grid is a sedimentation coefficient in S.
bool SGridModelActive() {
  if (DataSet().bDLSData || !ModelFlags().bContiModel || ModelFlags().bBoundaryAnalysis || ModelFlags().bLsgOneDiscrete) return false;
  return ModelFlags().bContiSModel || ModelFlags().bDLSRhModel || ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete || ModelFlags().bDLSTimeCourseModel ||
         ModelFlags().bCsConformationalChange || ModelFlags().bCsFloatingVbar || ModelFlags().bCsScalingLaw || ModelFlags().bCsWormChain ||
         ModelFlags().bCsBimodalFf0 || ModelFlags().bCsBimodalFf0OneDiscrete || ModelFlags().bCsOneDiscreteD || ModelFlags().bCsOneDiscreteM ||
         ModelFlags().bBufferSedCorrection || ModelFlags().bCsMsTable || ModelFlags().bCsInvariantD || ModelFlags().bCsModel521 || ModelFlags().bCsNonideal;
}

// Grey (150, 150, 150) blended towards red by the weight f in [0, 1].
void FadeToRed(int* rgb, double f) {
  rgb[1] = 150 + static_cast<int>(std::floor(105.0 * f));
  rgb[2] = 150 + static_cast<int>(std::floor(-150.0 * f));
  rgb[3] = 150 + static_cast<int>(std::floor(-150.0 * f));
}

}  // namespace

void TXLAWindow::HighlightRangeInData(float x1, float x2) {
  if (!DataPlots().pDataPlot || !DistributionVectors().pDistGrid || DistributionVectors().nDistGrid < 1 || DataSet().nScans < 1) return;
  x1 = std::clamp(x1, DistributionVectors().pDistGrid[1], DistributionVectors().pDistGrid[DistributionVectors().nDistGrid]);
  x2 = std::clamp(x2, DistributionVectors().pDistGrid[1], DistributionVectors().pDistGrid[DistributionVectors().nDistGrid]);
  if (!SGridModelActive()) return;

  const float temperature = DataSet().fTemperatureK - 273.15f;
  const float M1 = PeakMolarMass(x1);
  const double D1 = DFromM(M1, temperature);  // cm^2/s
  const int lastScan = DataSet().pScanOrder[static_cast<std::size_t>(DataSet().nScans)];
  const double omega = DataSet().pScanInfo[static_cast<std::size_t>(lastScan)].rpm * kTwoPiOver60;
  const double m = DataSet().fMeniscus;
  if (!(omega > 0.0) || !(m > 0.0)) return;

  Window& window = GetHandle();
  std::unique_ptr<DC> dc = window.ClientDC();
  SetScreenMapping(*dc, window.ClientSize());
  for (int i = 1; i <= DataSet().nScans; ++i) {
    const int s = DataSet().pScanOrder[static_cast<std::size_t>(i)];
    const std::size_t k = static_cast<std::size_t>(s);
    const float t = static_cast<float>(DataSet().pScanInfo[k].time);
    const int n = DataSet().pnPoints[k];
    const CCurve* curve = k < DataSet().ppFitCurve.size() ? DataSet().ppFitCurve[k] : nullptr;
    // A scan without a time or a fitted curve has no apparent s to show.
    if (!(t > 0.0f) || n < 1 || !curve) continue;
    // The Gaussian width in S^2 of the diffusional spread at time t.
    const double W = D1 * 4e7 * 1e19 / (std::pow(omega, 4) * t * m * m);
    int** rgb = imatrix(1, n, 1, 3);
    for (int j = 1; j <= n; ++j) rgb[j][1] = rgb[j][2] = rgb[j][3] = 150;
    const double lo = x1 * 1e-13, hi = x2 * 1e-13;
    for (int j = DataSet().pFitFirst[k]; j <= DataSet().pFitLast[k] && j <= n; ++j) {
      if (j < 1) continue;
      const double sStar = std::log(DataSet().ppRadius[k][j] / m) / (omega * omega * t);
      if (sStar > lo && sStar <= hi) {
        rgb[j][1] = 255;
        rgb[j][2] = rgb[j][3] = 0;
      } else {
        const double edge = sStar <= lo ? x1 : x2;
        const double d = edge - sStar * 1e13;
        FadeToRed(rgb[j], W > 0.0 ? std::exp(-d * d / W) : 0.0);
      }
    }
    std::unique_ptr<MetaFile> picture =
        DataPlots().pDataPlot->DrawCurveRangePerPointColor(curve, DataSet().pFitFirst[k], DataSet().pFitLast[k], rgb, 12, 1);
    free_imatrix(rgb, 1, n, 1, 3);
    if (picture) picture->Play(*dc);
  }
  dc.reset();
  window.Refresh();
}

}  // namespace tarmic
