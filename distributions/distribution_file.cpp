// The distribution of synthetic data, and saved distributions.
#include "distributions/distribution_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <vector>

#include "storage/atomic_file.h"
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

bool bNormalizeLoadedDistribution = true;
float fLoadedDistTotal = 0.0f;
float fLoadedDistArea = 0.0f;
float fLoadedDistScale = 0.0f;

namespace {

constexpr const char* kKindPrefix = "# TARMIC distribution ";
constexpr const char* kKindS = "c(s)";
constexpr const char* kKindM = "c(M)";

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
