// Kernel profiles, step profiles, the distribution of synthetic data, and saved
// distributions.
#include "distributions/distribution_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <vector>

#include "storage/atomic_file.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_storage.h"
#include "distributions/distribution_transforms.h"
#include "distributions/distribution_kernels.h"
#include "lamm/radial_corrections.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/hydrodynamics.h"
#include "numerics/interpolation.h"
#include "text/number_token.h"
#include "numerics/solvent_constants.h"
#include "propagators/sim_run.h"
#include "propagators/solvent_settings.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

double dStepSw2 = 0.0;
bool bNormalizeLoadedDistribution = true;
float fLoadedDistTotal = 0.0f;
float fLoadedDistArea = 0.0f;
float fLoadedDistScale = 0.0f;

namespace {

constexpr const char* kKindPrefix = "# TARMIC distribution ";
constexpr const char* kKindS = "c(s)";
constexpr const char* kKindM = "c(M)";

// The radii a kernel row is resampled onto.
void KernelRadii(const float** radii, int* count) {
  if (bSyntheticFromDistribution) {
    *radii = nScans >= 1 ? ppRadius[1] : nullptr;
    *count = nScans >= 1 ? pnPoints[1] : 0;
  } else {
    *radii = pGridRadius;
    *count = nGridPoints;
  }
}

float* KernelRow(int kernel, int scan) {
  if (!pppKernels || kernel < 1 || kernel > nKernelArrayKernels || scan < 1 ||
      scan > nKernelArrayScans) {
    return nullptr;
  }
  // The caller may write the row: the sums the solver took of the kernel go.
  ForgetKernelSums(kernel);
  return pppKernels[kernel][scan];
}

// The optics the kernels are recorded with: the radial resolution of absorbance
// data.
CellOptics KernelOptics() {
  CellOptics o;
  o.resolution = bAbsorbanceData && !bIntensityData && bSimulateRadialResolution;
  o.resolutionRange = fRadialConvolutionRange;
  o.meniscus = fMeniscus;
  o.bottom = fBottom;
  return o;
}

bool SGridModelForLoading() {
  return bContiSModel || bCvConstantD || bCsConformationalChange || bCsFloatingVbar ||
         bCsScalingLaw || bCsWormChain || bCsBimodalFf0OneDiscrete || bCsBimodalFf0 ||
         bCsOneDiscreteD || bBufferSedCorrection || bCsMsTable || bCsOneDiscreteM ||
         bCsInvariantD || bCsNonideal || bCsModel521;
}

const char* KindName(DistributionKind kind) {
  return kind == DistributionKind::MolarMass ? kKindM : kKindS;
}

// The kind line of a saved distribution, or none.
std::optional<DistributionKind> KindOfLine(const std::string& line) {
  const std::string prefix = kKindPrefix;
  if (line.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  std::string rest = line.substr(prefix.size());
  while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ')) rest.pop_back();
  if (rest == kKindS) return DistributionKind::SGrid;
  if (rest == kKindM) return DistributionKind::MolarMass;
  return std::nullopt;
}

struct SavedDistribution {
  DistributionKind kind = DistributionKind::SGrid;
  std::vector<double> x, value, value2, companion;
};

// Reads a saved distribution; false when the file is missing, has no kind line,
// a row without its four numbers, fewer than two rows, or x not ascending. *why
// (when given) names the row that holds no number.
bool ReadSaved(const std::string& path, SavedDistribution* out, std::string* why = nullptr) {
  std::string text;
  if (!ReadWholeTextFile(path, &text)) return false;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line)) return false;
  const std::optional<DistributionKind> kind = KindOfLine(line);
  if (!kind) return false;
  SavedDistribution d;
  d.kind = *kind;
  int number = 1;
  while (std::getline(in, line)) {
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    // Four values, each held as a float, and nothing after them.
    static constexpr RowField kNumber{nullptr, FieldKind::kFloat};
    const RowShape shape = UniformRow(kNumber, 4);
    double v[4];
    if (const RowScan row = ScanTableRow(line, shape, v); !row) {
      if (why) *why = Format("line %d ", number) + RowFaultText(line, shape, row);
      return false;
    }
    if (!d.x.empty() && !(v[0] > d.x.back())) {
      if (why) *why = Format("line %d holds %g, which does not rise above the %g before it", number, v[0], d.x.back());
      return false;
    }
    d.x.push_back(v[0]);
    d.value.push_back(v[1]);
    d.value2.push_back(v[2]);
    d.companion.push_back(v[3]);
  }
  if (d.x.size() < 2) return false;
  *out = std::move(d);
  return true;
}

}  // namespace

void StoreKernelProfile(int kernel, int scan, const double* radii, const double* values, int n) {
  float* row = KernelRow(kernel, scan);
  const float* target = nullptr;
  int count = 0;
  KernelRadii(&target, &count);
  if (!row || !target || count < 1 || count > nKernelArrayPoints) return;
  RecordCellProfile(n, radii, values, KernelOptics(), 0.0, count, target, row);
}

void AddKernelProfile(int kernel, int scan, const double* radii, const double* values, int n) {
  float* row = KernelRow(kernel, scan);
  const float* target = nullptr;
  int count = 0;
  KernelRadii(&target, &count);
  if (!row || !target || count < 1 || count > nKernelArrayPoints) return;
  AddInterpolatedCurveFromDouble(count, target, row, n, radii, values);
}

namespace {

// The step profile in a solvent compressed by the rotor pressure: the density, and
// with it the buoyancy, rises with the radius, so that a species slows down on its
// way out. With u = x^2 the motion du/dt = 2 sigma u (Q0 - beta u) has the closed
// solution below, and the concentration follows from the conservation of the
// material between two moved radii.
void CompressibleStepProfile(float amplitude, double t, const float* r, float* out, int n) {
  const InhomSolventSettings& st = gInhomSolvent;
  const double m = fMeniscus;
  const double v = fScanVelocity / 60.0;
  double T = t;
  if (bSimulateTimeResolution && v > 0.0) T = t + (m * std::exp(dStepSw2 * t) - m) / v;
  const double kappa = 1e-6 * st.compressibility;  // 1/Pa
  const double rho0 = 1000.0 * static_cast<double>(st.density1atm);  // kg/m^3
  // The model's s is held at water 20 C; the viscosity enters relative to water.
  const double eta = st.relViscosity > 0.0f ? static_cast<double>(st.relViscosity) : 1.0;
  const double vbar = VBAR, vb = 0.001 * vbar;
  const double s0 = dSimS * 1e-13 / eta * (1.0 - vbar * st.density1atm) / (1.0 - vbar * fDensityWater20);
  const double rpm = nScans >= 1 ? pScanInfo[static_cast<std::size_t>(nScans)].rpm : 0.0;
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
  const double k = dStepSw2;
  // The compressed solvent moves a sedimenting boundary from the meniscus; a band
  // and a floating species keep the profiles below.
  if (gInhomSolvent.bInhomogeneousSolvent && gInhomSolvent.bCompressibleSolvent && k > 0.0 &&
      !bElectroLsgModel && !bZoneCentrifugation) {
    CompressibleStepProfile(amplitude, t, r, out, n);
    return;
  }
  const double m = fMeniscus, b = fBottom, L = fLamellaWidth;
  const double v = fScanVelocity / 60.0;
  const bool timeResolution = bSimulateTimeResolution && v > 0.0;
  double rb = 0.0, c = amplitude, rz = 0.0;
  if (bElectroLsgModel) {
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
  if (bZoneCentrifugation) {
    double tz = t;
    if (timeResolution) tz = t + ((m + L) * std::exp(k * t) - m) / v;
    rz = (m + L) * std::exp(k * tz);
  }
  for (int i = 1; i <= n; ++i) {
    // The scanner reaches larger radii later: the plateau there is diluted further.
    const double g = timeResolution && !bElectroLsgModel ? std::exp(-2.0 * k * (r[i] - m) / v) : 1.0;
    bool inside = false;
    if (bZoneCentrifugation) {
      inside = r[i] >= rb && r[i] < rz;
    } else if (bElectroLsgModel && k == 0.0) {
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

bool LoadDistributionFromFile(const std::string& fileName, std::string* error, std::string* note) {
  if (IsSizeShapeModel()) return false;
  ClearDistribution();
  const FolderReading reading({fileName});
  if (note) *note = reading.Note();
  CCurve curve;
  if (!curve.ReadFromFile(fileName.c_str(), 1, 2, error)) return false;
  const int n = curve.Count();
  if (n < 1) return false;
  nDistGrid = n;
  fDistGridCount = static_cast<float>(n);
  MakeDistributionVectors(n);
  for (int i = 1; i <= n; ++i) {
    pDistS[i] = curve.X()->Get(i - 1);
    pDistValues[i] = curve.Y()->Get(i - 1);
  }
  const bool sGrid = SGridModelForLoading();
  if (sGrid) {
    for (int i = 1; i <= n; ++i) {
      pDistGrid[i] = pDistS[i];
      pDistS[i] = 0.0f;
    }
  }
  if (bNormalizeLoadedDistribution) {
    const float* x = sGrid ? pDistGrid : pDistS;
    fLoadedDistTotal = 0.0f;
    fLoadedDistArea = 0.0f;
    for (int i = 1; i <= n; ++i) fLoadedDistTotal += pDistValues[i];
    for (int i = 1; i < n; ++i)
      fLoadedDistArea += (x[i + 1] - x[i]) * 0.5f * (pDistValues[i + 1] + pDistValues[i]);
    if (fLoadedDistArea > 0.0f) {
      fLoadedDistScale = fLoadedDistTotal / fLoadedDistArea;
      for (int i = 1; i <= n; ++i) pDistValues[i] /= fLoadedDistScale;
    }
  }
  SetupDistributionPlot();
  int points = 0;
  if (bDLSData) {
    points = pDLSInfo.size() > 1 ? static_cast<int>(pDLSInfo[1].nDataPoints) : 0;
  } else if (nScans >= 1) {
    points = pnPoints[1];
  }
  if (!AllocKernelArrays(n, nScans, points, error)) return false;
  if (!AllocNormalEquationArrays(n, nScans, points, error)) {
    FreeKernelArrays();
    return false;
  }
  return true;
}

HeldDistribution::HeldDistribution() {
  gridPoints_ = nDistGrid;
  gridCount_ = fDistGridCount;
  min_ = fDistMin;
  max_ = fDistMax;
  if (IsSizeShapeModel() || nDistGrid < 1 || !pDistGrid || !pDistS || !pDistValues) return;
  n_ = nDistGrid;
  const std::size_t end = static_cast<std::size_t>(n_) + 1;
  grid_.assign(pDistGrid, pDistGrid + end);
  s_.assign(pDistS, pDistS + end);
  values_.assign(pDistValues, pDistValues + end);
  if (pDistValues2) values2_.assign(pDistValues2, pDistValues2 + end);
  if (pPriorProbability) prior_.assign(pPriorProbability, pPriorProbability + end);
  plotted_ = pDistPlot != nullptr;
  overM_ = bCMTransformed;
  transformed_ = bDistTransformed;
  rhTransformed_ = bDistRhTransformed;
}

void HeldDistribution::PutBack() const {
  ClearDistribution();
  FreeKernelArrays();
  FreeNormalEquationArrays();
  fDistGridCount = gridCount_;
  fDistMin = min_;
  fDistMax = max_;
  bDistTransformed = transformed_;
  bDistRhTransformed = rhTransformed_;
  nDistGrid = gridPoints_;
  if (n_ < 1) return;
  nDistGrid = n_;
  MakeDistributionVectors(n_);
  const auto copy = [](const auto& from, auto* to) {
    if (!from.empty()) std::copy(from.begin(), from.end(), to);
  };
  copy(grid_, pDistGrid);
  copy(s_, pDistS);
  copy(values_, pDistValues);
  copy(values2_, pDistValues2);
  copy(prior_, pPriorProbability);
  if (!plotted_) return;
  SetupDistributionPlot();
  if (overM_) PlotDistributionOverM();
  RedrawDistributionPlot();
}

DistributionKind CurrentDistributionKind() {
  return !bDLSData && !IsSGridModel() ? DistributionKind::MolarMass : DistributionKind::SGrid;
}

bool SavesContinuousDistribution() { return !IsSizeShapeModel() && !bDLSData; }

DistributionFileResult SaveContiDistribution(const std::string& path) {
  if (!SavesContinuousDistribution()) return {false, "there is no continuous distribution to save"};
  return SaveDistributionAsShown(path);
}

DistributionFileResult SaveDistributionAsShown(const std::string& path) {
  if (!pDistValues || !pDistGrid || !pDistS || nDistGrid < 2)
    return {false, "there is no continuous distribution to save"};
  // A c(s) shown as c(M) is saved as what is shown.
  const DistributionKind kind =
      bCMTransformed ? DistributionKind::MolarMass : CurrentDistributionKind();
  const bool overM = kind == DistributionKind::MolarMass;
  AtomicFile out(path);
  std::FILE* f = out.File();
  if (!f) return {false, WithReason(Format("could not write the distribution to %s", path.c_str()), out.Error())};
  bool ok = WriteFormatted(f, "%s%s\n", kKindPrefix, KindName(kind));
  for (int i = 1; i <= nDistGrid && ok; ++i) {
    const float x = overM ? pDistS[i] : pDistGrid[i];
    const float other = overM ? pDistGrid[i] : pDistS[i];
    const float v2 = pDistValues2 ? pDistValues2[i] : 0.0f;
    const std::string line = RoundTripText(x) + "\t" + RoundTripText(pDistValues[i]) + "\t" +
                             RoundTripText(v2) + "\t" + RoundTripText(other) + "\n";
    ok = std::fputs(line.c_str(), f) >= 0;
  }
  ok = ok && out.Commit();
  if (!ok) {
    out.Discard();
    return {false, WithReason(Format("could not write the distribution to %s", path.c_str()), out.Error())};
  }
  return {true, {}};
}

bool ReadSavedDistributionCurve(const std::string& path, std::vector<double>* x, std::vector<double>* values,
                                bool* overM) {
  SavedDistribution d;
  if (!ReadSaved(path, &d)) return false;
  *x = std::move(d.x);
  *values = std::move(d.value);
  if (overM) *overM = d.kind == DistributionKind::MolarMass;
  return true;
}

std::optional<DistributionKind> ReadSavedDistributionKind(const std::string& path) {
  // The whole file is read: a damaged file has no kind, so that nothing is chosen
  // by it.
  SavedDistribution d;
  if (!ReadSaved(path, &d)) return std::nullopt;
  return d.kind;
}

DistributionFileResult RestoreContiDistribution(const std::string& path) {
  SavedDistribution d;
  std::string why;
  if (!ReadSaved(path, &d, &why))
    return {false, Format("%s is not a saved distribution", path.c_str()) + (why.empty() ? "" : ": " + why)};
  if (!bContiModel || IsSizeShapeModel() || bDLSData || d.kind != CurrentDistributionKind()) {
    return {false, Format("%s holds a %s distribution: choose a model of that kind first",
                          path.c_str(), KindName(d.kind))};
  }
  const bool overM = d.kind == DistributionKind::MolarMass;
  const int n = static_cast<int>(d.x.size());
  ClearDistribution();
  FreeKernelArrays();
  FreeNormalEquationArrays();
  nDistGrid = n;
  fDistGridCount = static_cast<float>(n);
  MakeDistributionVectors(n);
  for (int i = 1; i <= n; ++i) {
    const std::size_t k = static_cast<std::size_t>(i - 1);
    (overM ? pDistS : pDistGrid)[i] = static_cast<float>(d.x[k]);
    (overM ? pDistGrid : pDistS)[i] = static_cast<float>(d.companion[k]);
    pDistValues[i] = static_cast<float>(d.value[k]);
    pDistValues2[i] = static_cast<float>(d.value2[k]);
  }
  fDistMin = static_cast<float>(d.x.front());
  fDistMax = static_cast<float>(d.x.back());
  StoreGridLimitsInParams();
  SetupDistributionPlot();
  RedrawDistributionPlot();
  return {true, {}};
}

std::string DefaultDistributionPath() { return JoinPath(szDataDirectory, "distribution.dat"); }

void ResetDistributionFiles() {
  dStepSw2 = 0.0;
  bNormalizeLoadedDistribution = true;
  fLoadedDistTotal = fLoadedDistArea = fLoadedDistScale = 0.0f;
}

}  // namespace tarmic
