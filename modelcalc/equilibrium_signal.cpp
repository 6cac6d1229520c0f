#include "modelcalc/equilibrium_signal.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "distributions/distribution_hooks.h"
#include "distributions/distribution_storage.h"
#include "lamm/radial_corrections.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/model_steps.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_params.h"
#include "services/error_box.h"
#include "numerics/hydrodynamics.h"
#include "services/run_switches.h"
#include "propagators/sim_run.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

constexpr double kTwoR = 2.0 * kGasConstant;  // erg/(mol K)
constexpr double kZeroCelsius = 273.15;

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// log((e^x - 1) / x), the logarithm of the sector mean of exp(sigma (r^2 - rm^2))
// with x = sigma (rb^2 - rm^2); written so that neither small |x| (cancellation) nor
// large |x| (overflow) loses the result.
double LogMeanExp(double x) {
  if (std::fabs(x) < 1e-8) return 0.5 * x;
  if (x > 0) return x + std::log(-std::expm1(-x)) - std::log(x);
  return std::log(-std::expm1(x)) - std::log(-x);
}

// The optics of the corrections: the pointwise ones, then either the radial
// resolution (absorbance data) or the convolution, over the cell.
CellOptics OpticsOf(const DetectionCorrections& k, float meniscus, float bottom) {
  CellOptics o;
  FluorescenceCorrections& f = o.fluorescence;
  f.gradient = k.magnificationGradient;
  f.gradientPerCm = double(k.magnificationGradientValue) - 1.0;
  f.shadow = k.excitationShadow && k.coneRadius > 0.0f;
  f.coneRadius = k.coneRadius;
  o.resolution = k.absorbanceData && k.radialResolution;
  o.resolutionRange = k.radialResolutionRange;
  f.convolution = !o.resolution && k.radialConvolution;
  f.width = k.convolutionWidth;
  f.distFactor = k.convolutionDistFactor;
  o.meniscus = meniscus;
  o.bottom = bottom;
  return o;
}

// One scan's corrected row on radii r[1..n].
void ScanRow(int s, int n, const float* r, float* c, double buoyantFactor, double concentration,
             const DetectionCorrections& corrections, float meniscus, float bottom) {
  const ScanInfo& info = DataSet().pScanInfo[Idx(s)];
  SedEqSpeciesRow(n, r, c, buoyantFactor, concentration, info.rpm, info.temperature, meniscus, bottom, corrections);
}

void PollKeyboard() {
  if (CheckKeyPress()) bUserAbort = true;
}

}  // namespace

DetectionCorrections DetectionCorrectionsFromSettings() {
  auto& lammSettingsPart = LammSettings();
  auto& scanFilePart = ScanFile();
  DetectionCorrections k;
  k.radialResolution = lammSettingsPart.bSimulateRadialResolution;
  k.radialResolutionRange = lammSettingsPart.fRadialConvolutionRange;
  k.absorbanceData = scanFilePart.bAbsorbanceData && !scanFilePart.bIntensityData;
  return k;
}

DetectionCorrections ModelDetectionCorrections() {
  auto& fluorescenceDetectionPart = FluorescenceDetection();
  DetectionCorrections c = DetectionCorrectionsFromSettings();
  c.magnificationGradient = fluorescenceDetectionPart.bMagnificationGradient;
  c.magnificationGradientValue = fluorescenceDetectionPart.fMagnificationGradient;
  c.excitationShadow = fluorescenceDetectionPart.bExcitationShadow;
  c.coneRadius = fluorescenceDetectionPart.fConeRadius;
  c.radialConvolution = fluorescenceDetectionPart.bRadialConvolution;
  c.convolutionWidth = fluorescenceDetectionPart.fConvolutionWidth;
  c.convolutionDistFactor = fluorescenceDetectionPart.fConvolutionDistFactor;
  return c;
}

void SedEqSpeciesRow(int n, const float* r, float* c, double buoyantFactor, double concentration,
                     float rpm, float temperatureC, float meniscus, float bottom,
                     const DetectionCorrections& corrections) {
  const float omega = rpm * 2.0f * kPi / 60.0f;
  // omega^2 / (2 R T): sigma per unit buoyant mass, mol/(g cm^2).
  const double k = double(omega) * omega / ((temperatureC + kZeroCelsius) * kTwoR);
  const double sigma = buoyantFactor * k;
  const double rm2 = double(meniscus) * meniscus;
  // c(r) = concentration exp(sigma (r^2 - rm^2)) / <exp(sigma (r^2 - rm^2))>_sector
  const double logMean = LogMeanExp(sigma * (double(bottom) * bottom - rm2));
  RecordClosedFormProfile(
      [&](int k, const float* x, float* y) {
        for (int j = 1; j <= k; ++j) {
          const double e = sigma * (double(x[j]) * x[j] - rm2) - logMean;
          y[j] = static_cast<float>(concentration * std::exp(e));
        }
      },
      OpticsOf(corrections, meniscus, bottom), 0.0, n, r, c);
}

void CalculateSedEqSpeciesSignal(double buoyantFactor, double concentration, const DetectionCorrections& corrections,
                                 float meniscus, float bottom) {
  // The noise fits and the linear amplitudes need the species signal as its own
  // table; RI noise with fixed amplitudes as well.
  const bool toTable = SignalToTables();
  const int k = SimRun().iCurrentSpecies;
  if (toTable) {
    if (k < 1 || k > kSpeciesSlots || static_cast<int>(CurrentGrid().pppSpeciesSignal[k].size()) <= DataSet().nScans ||
        CurrentGrid().nSpeciesArrayPoints != CurrentGrid().nGridPoints)
      return;
  }
  std::vector<float> temp;
  for (int p = 1; p <= DataSet().nScans; ++p) {
    PollKeyboard();
    const int s = DataSet().pScanOrder[Idx(p)];
    if (toTable) {
      float* row = CurrentGrid().pppSpeciesSignal[k][Idx(s)];
      if (row)
        ScanRow(s, CurrentGrid().nGridPoints, CurrentGrid().pGridRadius, row, buoyantFactor, concentration, corrections,
                meniscus, bottom);
      continue;
    }
    float* fit = DataSet().ppFit[Idx(s)];
    if (!fit) continue;
    const int n = DataSet().pnPoints[Idx(s)];
    temp.assign(Idx(n) + 1, 0.0f);
    ScanRow(s, n, DataSet().ppRadius[Idx(s)], temp.data(), buoyantFactor, concentration, corrections, meniscus, bottom);
    for (int j = 1; j <= n; ++j) fit[j] += temp[Idx(j)];
  }
}

void CalculateSedEqKernel(double buoyantFactor, double concentration, int kernel, const float* r,
                          int n, const DetectionCorrections& corrections) {
  if (!DistributionStorage().pppKernels || kernel < 1 || kernel > DistributionStorage().nKernelArrayKernels || DistributionStorage().nKernelArrayScans < DataSet().nScans ||
      !r || n < 1 || n > DistributionStorage().nKernelArrayPoints)
    return;
  for (int p = 1; p <= DataSet().nScans; ++p) {
    PollKeyboard();
    const int s = DataSet().pScanOrder[Idx(p)];
    ScanRow(s, n, r, DistributionStorage().pppKernels[kernel][s], buoyantFactor, concentration, corrections,
            DataSet().fMeniscus, DataSet().fBottom);
  }
}

void InstallEquilibriumKernelHook() {
  GetDistributionHooks().equilibriumKernel = [](int i, double Mb, const float* r, int n) {
    CalculateSedEqKernel(Mb, 1.0, i, r, n, ModelDetectionCorrections());
  };
}

}  // namespace tarmic
