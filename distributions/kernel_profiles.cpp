#include "distributions/kernel_profiles.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "distributions/distribution_storage.h"
#include "lamm/radial_corrections.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/hydrodynamics.h"
#include "numerics/interpolation.h"
#include "numerics/solvent_constants.h"
#include "propagators/sim_run.h"
#include "propagators/solvent_settings.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

// The radii a kernel row is resampled onto.
void KernelRadii(const float** radii, int* count) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  if (KernelProfiles().bSyntheticFromDistribution) {
    *radii = dataSetPart.nScans >= 1 ? dataSetPart.ppRadius[1] : nullptr;
    *count = dataSetPart.nScans >= 1 ? dataSetPart.pnPoints[1] : 0;
  } else {
    *radii = currentGridPart.pGridRadius;
    *count = currentGridPart.nGridPoints;
  }
}

float* KernelRow(int kernel, int scan) {
  auto& distributionStoragePart = DistributionStorage();
  if (!distributionStoragePart.pppKernels || kernel < 1 || kernel > distributionStoragePart.nKernelArrayKernels || scan < 1 ||
      scan > distributionStoragePart.nKernelArrayScans) {
    return nullptr;
  }
  // The caller may write the row: the sums the solver took of the kernel go.
  ForgetKernelSums(kernel);
  return distributionStoragePart.pppKernels[kernel][scan];
}

// The optics the kernels are recorded with: the radial resolution of absorbance
// data.
CellOptics KernelOptics() {
  auto& dataSetPart = DataSet();
  auto& lammSettingsPart = LammSettings();
  auto& scanFilePart = ScanFile();
  CellOptics o;
  o.resolution = scanFilePart.bAbsorbanceData && !scanFilePart.bIntensityData && lammSettingsPart.bSimulateRadialResolution;
  o.resolutionRange = lammSettingsPart.fRadialConvolutionRange;
  o.meniscus = dataSetPart.fMeniscus;
  o.bottom = dataSetPart.fBottom;
  return o;
}

}  // namespace

void StoreKernelProfile(int kernel, int scan, const double* radii, const double* values, int n) {
  float* row = KernelRow(kernel, scan);
  const float* target = nullptr;
  int count = 0;
  KernelRadii(&target, &count);
  if (!row || !target || count < 1 || count > DistributionStorage().nKernelArrayPoints) return;
  RecordCellProfile(n, radii, values, KernelOptics(), 0.0, count, target, row);
}

void AddKernelProfile(int kernel, int scan, const double* radii, const double* values, int n) {
  float* row = KernelRow(kernel, scan);
  const float* target = nullptr;
  int count = 0;
  KernelRadii(&target, &count);
  if (!row || !target || count < 1 || count > DistributionStorage().nKernelArrayPoints) return;
  AddInterpolatedCurveFromDouble(count, target, row, n, radii, values);
}

namespace {

// The step profile in a solvent compressed by the rotor pressure: the density, and
// with it the buoyancy, rises with the radius, so that a species slows down on its
// way out. With u = x^2 the motion du/dt = 2 sigma u (Q0 - beta u) has the closed
// solution below, and the concentration follows from the conservation of the
// material between two moved radii.
void CompressibleStepProfile(float amplitude, double t, const float* r, float* out, int n) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& kernelProfilesPart = KernelProfiles();
  auto& lammSettingsPart = LammSettings();
  auto& simRunPart = SimRun();
  auto& solventConstantsPart = SolventConstants();
  auto& solventSettingsPart = SolventSettings();
  auto& dataSetPart = DataSet();
  const InhomSolventSettings& st = solventSettingsPart.gInhomSolvent;
  const double m = dataSetPart.fMeniscus;
  const double v = lammSettingsPart.fScanVelocity / 60.0;
  double T = t;
  if (analysisSwitchesPart.bScanTimeCorrection && v > 0.0) T = t + (m * std::exp(kernelProfilesPart.dStepSw2 * t) - m) / v;
  const double kappa = 1e-6 * st.compressibility;  // 1/Pa
  const double rho0 = 1000.0 * static_cast<double>(st.density1atm);  // kg/m^3
  // The model's s is held at water 20 C; the viscosity enters relative to water.
  const double eta = st.relViscosity > 0.0f ? static_cast<double>(st.relViscosity) : 1.0;
  const double vbar = solventConstantsPart.VBAR, vb = 0.001 * vbar;
  const double s0 = simRunPart.dSimS * 1e-13 / eta * (1.0 - vbar * st.density1atm) / (1.0 - vbar * fDensityWater20);
  const double rpm = dataSetPart.nScans >= 1 ? dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.nScans)].rpm : 0.0;
  const double w = rpm * kTwoPiOver60;
  const double w2 = w * w;
  const double mm = 0.01 * m;
  const double alpha = 1.0 - vb * rho0;
  const double sigma = w2 * s0 / alpha;
  const double beta = 0.5 * vb * rho0 * rho0 * w2 * kappa;
  const double Q0 = alpha + beta * mm * mm;
  const double E1 = std::exp(2.0 * sigma * T * Q0), E2 = 1.0 / E1;
  const double rb = 100.0 * mm * std::sqrt(Q0 / (E2 * (alpha + beta * mm * mm * E1)));
  // The table of moved radii and their values, up to the first beyond the data.
  std::vector<float> R(static_cast<std::size_t>(n) + 1), V(R.size());
  int count = 0;
  for (int i = 1; i <= n; ++i) {
    const double x = 0.01 * r[i];
    const double W = Q0 + beta * x * x * (E1 - 1.0);
    R[static_cast<std::size_t>(i)] = static_cast<float>(100.0 * x * std::sqrt(Q0 / (E2 * W)));
    V[static_cast<std::size_t>(i)] = static_cast<float>(amplitude * E2 * W * W / (Q0 * Q0));
    count = i;
    if (R[static_cast<std::size_t>(i)] > r[n] + 0.001f) break;
  }
  int first = 1;
  while (first <= n && r[first] < rb) out[first++] = 0.0f;
  if (first > n || count < 1) return;
  // Too short a table to interpolate (a boundary near the end of the data): the
  // remaining radii take the value of the first moved radius, the plateau.
  if (!InterpolateCurve(n - first + 1, r + first - 1, out + first - 1, count, R.data(), V.data()))
    for (int i = first; i <= n; ++i) out[i] = V[1];
}

// The step profile of a non-diffusing species at radii r[1..n].
void StepProfileAt(float amplitude, double t, const float* r, float* out, int n) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& kernelProfilesPart = KernelProfiles();
  auto& lammSettingsPart = LammSettings();
  auto& modelOptionsPart = ModelOptions();
  auto& dataSetPart = DataSet();
  auto& modelFlagsPart = ModelFlags();
  auto& solventSettingsPart = SolventSettings();
  const double k = kernelProfilesPart.dStepSw2;
  // The compressed solvent moves a sedimenting boundary from the meniscus; a band
  // and a floating species keep the profiles below.
  if (solventSettingsPart.gInhomSolvent.bInhomogeneousSolvent && solventSettingsPart.gInhomSolvent.bCompressibleSolvent && k > 0.0 &&
      !modelFlagsPart.bElectroLsgModel && !modelFlagsPart.bZoneCentrifugation) {
    CompressibleStepProfile(amplitude, t, r, out, n);
    return;
  }
  const double m = dataSetPart.fMeniscus, b = dataSetPart.fBottom, L = modelOptionsPart.fLamellaWidth;
  const double v = lammSettingsPart.fScanVelocity / 60.0;
  const bool timeResolution = analysisSwitchesPart.bScanTimeCorrection && v > 0.0;
  double rb = 0.0, c = amplitude, rz = 0.0;
  if (modelFlagsPart.bElectroLsgModel) {
    rb = timeResolution ? m + k * (t + k * t / v) : m + k * t;
  } else if (k <= 0.0) {
    // Flotation from the bottom.
    double te = t;
    if (timeResolution) te = t + (b * std::exp(k * t) - m) / v;
    rb = b * std::exp(k * te);
    c = amplitude * std::exp(-2.0 * k * te);
  } else {
    double te = t;
    if (timeResolution) te = t + (m * std::exp(k * t) - m) / v;
    rb = m * std::exp(k * te);
    c = amplitude * std::exp(-2.0 * k * te);
  }
  if (modelFlagsPart.bZoneCentrifugation) {
    double tz = t;
    if (timeResolution) tz = t + ((m + L) * std::exp(k * t) - m) / v;
    rz = (m + L) * std::exp(k * tz);
  }
  for (int i = 1; i <= n; ++i) {
    // The scanner reaches larger radii later: the plateau there is diluted further.
    const double g = timeResolution && !modelFlagsPart.bElectroLsgModel ? std::exp(-2.0 * k * (r[i] - m) / v) : 1.0;
    bool inside = false;
    if (modelFlagsPart.bZoneCentrifugation) {
      inside = r[i] >= rb && r[i] < rz;
    } else if (modelFlagsPart.bElectroLsgModel && k == 0.0) {
      // A species at rest keeps its uniform loading.
      inside = true;
    } else if (k <= 0.0) {
      // Flotation from the bottom; with a negative velocity in the planar cell the
      // boundary has left the cell at the meniscus.
      inside = r[i] <= rb;
    } else {
      inside = r[i] >= rb;
    }
    out[i] = inside ? static_cast<float>(c * g) : 0.0f;
  }
}

}  // namespace

void StepBoundaryProfile(float amplitude, double t, const float* radii, float* values, int count) {
  // Recorded over the cell when the radial resolution blurs it.
  RecordClosedFormProfile(
      [&](int n, const float* r, float* out) { StepProfileAt(amplitude, t, r, out, n); },
      KernelOptics(), t, count, radii, values);
}

}  // namespace tarmic
