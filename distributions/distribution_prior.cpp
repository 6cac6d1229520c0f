// Prior probabilities: the prior file, the peaks, the table from the current
// distribution, and the prior vector of the current grid.
#include "distributions/distribution_prior.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "distributions/brent_roots.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "modelfit/model_flags.h"
#include "numerics/interpolation.h"
#include "numerics/number_input.h"
#include "services/run_switches.h"
#include "numerics/text_lines.h"
#include "scandata/plausibility.h"
#include "scandata/text_io.h"
#include "text/number_token.h"

namespace tarmic {

namespace {

// Weight of every grid point before the peaks are added.
constexpr double kPeakFloor = 0.001;
// 1.772 ~ sqrt(pi): a Gaussian a exp(-(x - x0)^2 / w^2) / (1.772 w) has area ~a.
constexpr double kSqrtPi = 1.772;

// The abscissae the prior is built on: the s grid (pDistGrid) for the s-grid,
// light-scattering and boundary models, the molar masses (pDistS) for the others.
bool PriorOnDistGrid() {
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bContiSModel || modelFlagsPart.bCsff0Model || modelFlagsPart.bCsff0OneDiscrete || modelFlagsPart.bCsConformationalChange ||
         modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsBimodalFf0 || modelFlagsPart.bCsScalingLaw || modelFlagsPart.bCsWormChain ||
         modelFlagsPart.bCsFloatingVbar || modelFlagsPart.bCsNonideal || modelFlagsPart.bCsMsTable || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bCsOneDiscreteD ||
         modelFlagsPart.bCsInvariantD || modelFlagsPart.bDLSRhModel || modelFlagsPart.bBoundaryAnalysis;
}

const float* PriorAbscissae() { return PriorOnDistGrid() ? DistributionVectors().pDistGrid : DistributionVectors().pDistS; }

void AddGaussian(double* prior, const double* x, int n, double location, double width,
                 double amplitude) {
  for (int i = 1; i <= n; ++i) {
    const double d = location - x[i];
    prior[i] += amplitude * std::exp(-d * d / (width * width)) / (kSqrtPi * width);
  }
}

// The delta peak handed to the root search of DeltaPeakCentroidOffset.
struct DeltaPeak {
  const float* x = nullptr;
  int j = 0;
  double h = 0.0, location = 0.0;
};
// This module's own state in the analysis.
struct LocalState {
  DeltaPeak g_delta{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }
double DeltaOffsetOfR(double r) {
  auto& localPart = Local();
  return DeltaPeakCentroidOffset(localPart.g_delta.x, localPart.g_delta.j, localPart.g_delta.h, localPart.g_delta.location, r);
}

// A delta peak at `location` with area `amplitude`, put on the two grid points
// around it so that the centroid of the interpolated profile is the location.
void AddDeltaPeak(double* prior, const float* x, int n, double location, double amplitude) {
  auto& localPart = Local();
  int j = 0;
  for (int k = 1; k <= n - 2 && j == 0; ++k) {
    if (x[k] <= location && location < x[k + 1]) j = k;
  }
  if (j < 2) return;  // no grid point left of the interval to shape the profile
  const double h = amplitude / (x[j + 1] - x[j]);
  if (static_cast<double>(x[j]) == location) {
    prior[j] += 2.0 * h;
    return;
  }
  localPart.g_delta = DeltaPeak{x, j, h, location};
  double r = 0.0;
  if (DeltaOffsetOfR(-h) * DeltaOffsetOfR(h) <= 0.0) {
    bool failed = false;
    r = zbrent(DeltaOffsetOfR, -h, h, 0.0001, &failed);
    if (failed) r = 0.0;
  } else {
    // On an uneven grid the centroid may not reach the location: share the height
    // linearly between the two points instead.
    const double t = (location - x[j]) / (x[j + 1] - x[j]);
    r = h * (1.0 - 2.0 * t);
  }
  prior[j] += h + r;
  prior[j + 1] += h - r;
}

bool PeakRowUsed(int k) {
  auto& distributionPriorPart = DistributionPrior();
  return distributionPriorPart.pPriorPeakLocation[k] != 0.0 && distributionPriorPart.pPriorPeakWidth[k] != -1.0 && distributionPriorPart.pPriorPeakAmplitude[k] != 0.0;
}

// The prior is built by the grid set-up of a run, which goes on without it.
void ReportPriorFailure(const std::string& text) { ShowDistributionError(text); }

// The prior file interpolated onto the abscissae; false (reported) when it cannot.
bool PriorFromFile(const double* x, int n) {
  auto& distributionVectorsPart = DistributionVectors();
  auto& distributionPriorPart = DistributionPrior();
  PriorTable table;
  std::string error;
  if (!ReadPriorFile(distributionPriorPart.szPriorFile, &table, &error)) {
    ReportPriorFailure(error);
    return false;
  }
  std::vector<double> values(static_cast<std::size_t>(n) + 1, 0.0);
  if (!InterpolateCurveDouble(n, x, values.data(), table.Count(), table.x.data(), table.y.data())) {
    ReportPriorFailure("Could Not Open MaxEnt Prior File\n" + distributionPriorPart.szPriorFile +
                       ": its range does not cover the distribution grid");
    return false;
  }
  // A weight interpolated or extrapolated below 0 counts as 0 (the regularisations
  // raise it to their floor).
  for (int i = 1; i <= n; ++i) distributionVectorsPart.pPriorProbability[i] = std::max(values[static_cast<std::size_t>(i)], 0.0);
  return true;
}

}  // namespace

bool ReadPriorFile(const std::string& path, PriorTable* table, std::string* error) {
  // As the other readers: no pipe or device, and no file that is not plain text
  // (a zero byte would cut a line's number short).
  std::string text, why;
  if (path.empty() || !ReadPlainTextFile(path, LastLine::kRefused, &text, &why)) {
    *error = "Could Not Open MaxEnt Prior File\n" + path + (why.empty() ? "" : ": " + why);
    return false;
  }
  PriorTable t;
  t.x.push_back(0.0);
  t.y.push_back(0.0);
  std::istringstream in(text);
  std::string line;
  int lineNumber = 0;
  bool anyPositive = false;
  std::size_t width = 0;  // the table's, set by its first line
  std::vector<double> values;
  while (ReadTextLine(in, &line)) {
    ++lineNumber;
    // Two numbers, x and prior, each held as a float; further columns are numbers
    // too, as many on every line as on the first (a line is never read in part).
    if (FieldCount(line) == 0) continue;  // blank line
    static constexpr RowField kNumber{nullptr, FieldKind::kFloat};
    if (width == 0) width = std::max<std::size_t>(FieldCount(line), 2);
    const RowShape shape = UniformRow(kNumber, width);
    values.assign(width, 0.0);
    if (const RowScan row = ScanTableRow(line, shape, values.data()); !row) {
      *error = Format("prior file %s, line %d ", path.c_str(), lineNumber) + RowFaultText(line, shape, row);
      return false;
    }
    const float pair[2] = {static_cast<float>(values[0]), static_cast<float>(values[1])};
    const float x = pair[0], y = pair[1];
    if (t.x.size() > 1 && !(x > t.x.back())) {
      *error = Format("prior file %s, line %d: the x values must increase", path.c_str(), lineNumber);
      return false;
    }
    if (y < 0.0f) {
      *error = Format("prior file %s, line %d: a prior value must not be negative", path.c_str(), lineNumber);
      return false;
    }
    anyPositive = anyPositive || y > 0.0f;
    t.x.push_back(x);
    t.y.push_back(y);
  }
  if (t.Count() < 5) {
    *error = Format("prior file %s: at least 5 lines (x and prior) are needed", path.c_str());
    return false;
  }
  if (!anyPositive) {
    *error = Format("prior file %s: every prior value is 0", path.c_str());
    return false;
  }
  *table = std::move(t);
  return true;
}

double DeltaPeakCentroidOffset(const float* x, int j, double h, double location, double r) {
  // Three linear pieces: area and first moment of each exactly,
  //   area = (b - a)(fa + fb)/2,  moment = (b - a)(fa (2a + b) + fb (a + 2b))/6.
  const double px[4] = {x[j - 1], x[j], x[j + 1], x[j + 2]};
  const double py[4] = {0.0, h + r, h - r, 0.0};
  double area = 0.0, moment = 0.0;
  for (int k = 0; k < 3; ++k) {
    const double a = px[k], b = px[k + 1], fa = py[k], fb = py[k + 1];
    area += (b - a) * (fa + fb) / 2.0;
    moment += (b - a) * (fa * (2.0 * a + b) + fb * (a + 2.0 * b)) / 6.0;
  }
  if (area == 0.0) return location;
  return moment / area - location;
}

bool BuildPriorProbability() {
  auto& distributionGridPart = DistributionGrid();
  auto& distributionModelsPart = DistributionModels();
  auto& distributionPriorPart = DistributionPrior();
  auto& distributionVectorsPart = DistributionVectors();
  auto& modelFlagsPart = ModelFlags();
  const int n = distributionVectorsPart.nDistGrid;
  const float* abscissae = PriorAbscissae();
  if (n < 1 || !abscissae || !distributionVectorsPart.pPriorProbability || !distributionVectorsPart.pPriorProbabilityWork) return true;
  for (int i = 1; i <= n; ++i) distributionVectorsPart.pPriorProbabilityWork[i] = abscissae[i];
  const double* x = distributionVectorsPart.pPriorProbabilityWork;

  if (distributionModelsPart.bUsePrior) {
    if (!distributionPriorPart.szPriorFile.empty()) {
      if (!PriorFromFile(x, n)) distributionModelsPart.bUsePrior = false;
    } else if (!distributionPriorPart.bPriorFromDiscreteSpecies && !distributionPriorPart.bPriorFromGJT) {
      for (int i = 1; i <= n; ++i) distributionVectorsPart.pPriorProbability[i] = kPeakFloor;
      for (int k = 1; k <= kPriorPeaks; ++k) {
        if (!PeakRowUsed(k)) continue;
        if (distributionPriorPart.pPriorPeakWidth[k] != 0.0) {
          AddGaussian(distributionVectorsPart.pPriorProbability, x, n, distributionPriorPart.pPriorPeakLocation[k], distributionPriorPart.pPriorPeakWidth[k], distributionPriorPart.pPriorPeakAmplitude[k]);
        } else {
          AddDeltaPeak(distributionVectorsPart.pPriorProbability, abscissae, n, distributionPriorPart.pPriorPeakLocation[k], distributionPriorPart.pPriorPeakAmplitude[k]);
        }
      }
    } else {
      const int m = static_cast<int>(distributionPriorPart.pPriorTableX.size()) - 1;
      if (m < 1 || !InterpolateCurveDouble(n, x, distributionVectorsPart.pPriorProbability, m, distributionPriorPart.pPriorTableX.data(), distributionPriorPart.pPriorTableY.data())) {
        ReportPriorFailure("the prior table does not cover the distribution grid; prior switched off");
        distributionModelsPart.bUsePrior = false;
      }
    }
  }

  if ((modelFlagsPart.bCsff0Model || modelFlagsPart.bCsff0OneDiscrete) && distributionModelsPart.bFf0Prior && distributionVectorsPart.pFf0AxisWork && distributionVectorsPart.pFf0Axis) {
    for (int j = 1; j <= distributionGridPart.nFf0Values; ++j) {
      double w = kPeakFloor;
      for (int k = 0; k < kPriorPeaks; ++k) {
        const double a = distributionPriorPart.pFf0PriorAmplitude[k], loc = distributionPriorPart.pFf0PriorLocation[k], width = distributionPriorPart.pFf0PriorWidth[k];
        if (a == 0.0 || loc == 0.0 || width == 0.0) continue;
        const double d = loc - distributionVectorsPart.pFf0Axis[j];
        w += a * std::exp(-d * d / (width * width)) / (kSqrtPi * width);
      }
      distributionVectorsPart.pFf0AxisWork[j] = static_cast<float>(w);
    }
  }
  return true;
}

void SwitchPriorFileOff() {
  auto& distributionPriorPart = DistributionPrior();
  if (!distributionPriorPart.szPriorFile.empty()) distributionPriorPart.szLastPriorFile = distributionPriorPart.szPriorFile;
  distributionPriorPart.szPriorFile.clear();
}

void SwitchPriorFileOn() {
  auto& distributionPriorPart = DistributionPrior();
  if (distributionPriorPart.szPriorFile.empty()) distributionPriorPart.szPriorFile = distributionPriorPart.szLastPriorFile;
}

void ClearPriorPeaks() {
  auto& distributionPriorPart = DistributionPrior();
  for (int k = 0; k <= kPriorPeaks; ++k) {
    distributionPriorPart.pPriorPeakLocation[k] = 0.0;
    distributionPriorPart.pPriorPeakWidth[k] = -1.0;
    distributionPriorPart.pPriorPeakAmplitude[k] = 0.0;
  }
}

bool BuildPriorFromDistributionPeaks() {
  auto& distributionPriorPart = DistributionPrior();
  auto& distributionVectorsPart = DistributionVectors();
  const int n = distributionVectorsPart.nDistGrid;
  const float* x = PriorAbscissae();
  if (n < 3 || !x || !distributionVectorsPart.pDistValues) return false;
  const float* v = distributionVectorsPart.pDistValues;
  float largest = 0.0f;
  for (int i = 1; i <= n; ++i) largest = std::max(largest, v[i]);
  if (!(largest > 0.0f)) return false;

  // Parts between local minima; the bin of point i is half of each neighbouring
  // interval.
  auto bin = [x, n](int i) {
    const double left = i > 1 ? x[i] - x[i - 1] : 0.0, right = i < n ? x[i + 1] - x[i] : 0.0;
    return std::fabs(left + right) / 2.0;
  };
  struct Peak {
    double area, position, width;
  };
  std::vector<Peak> peaks;
  int start = 1;
  for (int i = 2; i <= n; ++i) {
    const bool minimum = i == n || (v[i] <= v[i - 1] && v[i] < v[i + 1]);
    if (!minimum) continue;
    float top = 0.0f;
    int at = start;
    double area = 0.0, moment = 0.0;
    for (int k = start; k <= i; ++k) {
      if (v[k] > top) {
        top = v[k];
        at = k;
      }
      const double a = std::max(0.0f, v[k]) * bin(k);
      area += a;
      moment += a * x[k];
    }
    if (top > 0.01f * largest && area > 0.0) {
      const double width = std::fabs(at < n ? x[at + 1] - x[at] : x[at] - x[at - 1]);
      peaks.push_back({area, moment / area, width > 0.0 ? width : 1.0});
    }
    start = i;
  }
  if (peaks.empty()) return false;

  std::vector<double> tx(static_cast<std::size_t>(n) + 1, 0.0), ty(static_cast<std::size_t>(n) + 1, 0.0);
  for (int i = 1; i <= n; ++i) tx[static_cast<std::size_t>(i)] = x[i];
  for (const Peak& p : peaks) AddGaussian(ty.data(), tx.data(), n, p.position, p.width, p.area);
  const double top = *std::max_element(ty.begin() + 1, ty.end());
  for (int i = 1; i <= n; ++i) ty[static_cast<std::size_t>(i)] += kPeakFloor * top;
  distributionPriorPart.pPriorTableX = std::move(tx);
  distributionPriorPart.pPriorTableY = std::move(ty);
  return true;
}

void ResetDistributionPrior() {
  auto& distributionPriorPart = DistributionPrior();
  distributionPriorPart.szPriorFile.clear();
  distributionPriorPart.szLastPriorFile.clear();
  ClearPriorPeaks();
  distributionPriorPart.bPriorFromDiscreteSpecies = false;
  distributionPriorPart.bPriorFromGJT = false;
  distributionPriorPart.pPriorTableX.clear();
  distributionPriorPart.pPriorTableY.clear();
  for (int k = 0; k < kPriorPeaks; ++k) distributionPriorPart.pFf0PriorLocation[k] = distributionPriorPart.pFf0PriorWidth[k] = distributionPriorPart.pFf0PriorAmplitude[k] = 0.0;
}

void InstallDistributionPrior() {
  GetDistributionHooks().buildPriorProbability = [] { BuildPriorProbability(); };
}

}  // namespace tarmic
