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

namespace {

constexpr const char* kKindPrefix = "# TARMIC distribution ";
constexpr const char* kKindS = "c(s)";
constexpr const char* kKindM = "c(M)";

bool SGridModelForLoading() {
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bContiSModel || modelFlagsPart.bCvConstantD || modelFlagsPart.bCsConformationalChange || modelFlagsPart.bCsFloatingVbar ||
         modelFlagsPart.bCsScalingLaw || modelFlagsPart.bCsWormChain || modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsBimodalFf0 ||
         modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bBufferSedCorrection || modelFlagsPart.bCsMsTable || modelFlagsPart.bCsOneDiscreteM ||
         modelFlagsPart.bCsInvariantD || modelFlagsPart.bCsNonideal || modelFlagsPart.bCsModel521;
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
  if (!ReadWholeTextFile(path, LastLine::kRefused, &text, why)) return false;
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
  auto& distributionGridPart = DistributionGrid();
  auto& dataSetPart = DataSet();
  auto& distributionFilePart = DistributionFile();
  auto& distributionVectorsPart = DistributionVectors();
  if (IsSizeShapeModel()) return false;
  ClearDistribution();
  const FolderReading reading({fileName});
  if (note) *note = reading.Note();
  CCurve curve;
  if (!curve.ReadFromFile(fileName.c_str(), 1, 2, error)) return false;
  const int n = curve.Count();
  if (n < 1) return false;
  distributionVectorsPart.nDistGrid = n;
  distributionGridPart.fDistGridCount = static_cast<float>(n);
  MakeDistributionVectors(n);
  for (int i = 1; i <= n; ++i) {
    distributionVectorsPart.pDistS[i] = curve.X()->Get(i - 1);
    distributionVectorsPart.pDistValues[i] = curve.Y()->Get(i - 1);
  }
  const bool sGrid = SGridModelForLoading();
  if (sGrid) {
    for (int i = 1; i <= n; ++i) {
      distributionVectorsPart.pDistGrid[i] = distributionVectorsPart.pDistS[i];
      distributionVectorsPart.pDistS[i] = 0.0f;
    }
  }
  if (distributionFilePart.bNormalizeLoadedDistribution) {
    const float* x = sGrid ? distributionVectorsPart.pDistGrid : distributionVectorsPart.pDistS;
    distributionFilePart.fLoadedDistTotal = 0.0f;
    distributionFilePart.fLoadedDistArea = 0.0f;
    for (int i = 1; i <= n; ++i) distributionFilePart.fLoadedDistTotal += distributionVectorsPart.pDistValues[i];
    for (int i = 1; i < n; ++i)
      distributionFilePart.fLoadedDistArea += (x[i + 1] - x[i]) * 0.5f * (distributionVectorsPart.pDistValues[i + 1] + distributionVectorsPart.pDistValues[i]);
    if (distributionFilePart.fLoadedDistArea > 0.0f) {
      distributionFilePart.fLoadedDistScale = distributionFilePart.fLoadedDistTotal / distributionFilePart.fLoadedDistArea;
      for (int i = 1; i <= n; ++i) distributionVectorsPart.pDistValues[i] /= distributionFilePart.fLoadedDistScale;
    }
  }
  SetupDistributionPlot();
  int points = 0;
  if (dataSetPart.bDLSData) {
    points = dataSetPart.pDLSInfo.size() > 1 ? static_cast<int>(dataSetPart.pDLSInfo[1].nDataPoints) : 0;
  } else if (dataSetPart.nScans >= 1) {
    points = dataSetPart.pnPoints[1];
  }
  if (!AllocKernelArrays(n, dataSetPart.nScans, points, error)) return false;
  if (!AllocNormalEquationArrays(n, dataSetPart.nScans, points, error)) {
    FreeKernelArrays();
    return false;
  }
  return true;
}

HeldDistribution::HeldDistribution() {
  auto& distributionGridPart = DistributionGrid();
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  gridPoints_ = distributionVectorsPart.nDistGrid;
  gridCount_ = distributionGridPart.fDistGridCount;
  min_ = distributionGridPart.fDistMin;
  max_ = distributionGridPart.fDistMax;
  if (IsSizeShapeModel() || distributionVectorsPart.nDistGrid < 1 || !distributionVectorsPart.pDistGrid || !distributionVectorsPart.pDistS || !distributionVectorsPart.pDistValues) return;
  n_ = distributionVectorsPart.nDistGrid;
  const std::size_t end = static_cast<std::size_t>(n_) + 1;
  grid_.assign(distributionVectorsPart.pDistGrid, distributionVectorsPart.pDistGrid + end);
  s_.assign(distributionVectorsPart.pDistS, distributionVectorsPart.pDistS + end);
  values_.assign(distributionVectorsPart.pDistValues, distributionVectorsPart.pDistValues + end);
  if (distributionVectorsPart.pDistValues2) values2_.assign(distributionVectorsPart.pDistValues2, distributionVectorsPart.pDistValues2 + end);
  if (distributionVectorsPart.pPriorProbability) prior_.assign(distributionVectorsPart.pPriorProbability, distributionVectorsPart.pPriorProbability + end);
  plotted_ = distributionPlotPart.pDistPlot != nullptr;
  overM_ = distributionPlotPart.bCMTransformed;
  transformed_ = distributionPlotPart.bDistTransformed;
  rhTransformed_ = distributionPlotPart.bDistRhTransformed;
}

void HeldDistribution::PutBack() const {
  auto& distributionGridPart = DistributionGrid();
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  ClearDistribution();
  FreeKernelArrays();
  FreeNormalEquationArrays();
  distributionGridPart.fDistGridCount = gridCount_;
  distributionGridPart.fDistMin = min_;
  distributionGridPart.fDistMax = max_;
  distributionPlotPart.bDistTransformed = transformed_;
  distributionPlotPart.bDistRhTransformed = rhTransformed_;
  distributionVectorsPart.nDistGrid = gridPoints_;
  if (n_ < 1) return;
  distributionVectorsPart.nDistGrid = n_;
  MakeDistributionVectors(n_);
  const auto copy = [](const auto& from, auto* to) {
    if (!from.empty()) std::copy(from.begin(), from.end(), to);
  };
  copy(grid_, distributionVectorsPart.pDistGrid);
  copy(s_, distributionVectorsPart.pDistS);
  copy(values_, distributionVectorsPart.pDistValues);
  copy(values2_, distributionVectorsPart.pDistValues2);
  copy(prior_, distributionVectorsPart.pPriorProbability);
  if (!plotted_) return;
  SetupDistributionPlot();
  if (overM_) PlotDistributionOverM();
  RedrawDistributionPlot();
}

DistributionKind CurrentDistributionKind() {
  return !DataSet().bDLSData && !IsSGridModel() ? DistributionKind::MolarMass : DistributionKind::SGrid;
}

bool SavesContinuousDistribution() { return !IsSizeShapeModel() && !DataSet().bDLSData; }

DistributionFileResult SaveContiDistribution(const std::string& path) {
  if (!SavesContinuousDistribution()) return {false, "there is no continuous distribution to save"};
  return SaveDistributionAsShown(path);
}

DistributionFileResult SaveDistributionAsShown(const std::string& path) {
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  if (!distributionVectorsPart.pDistValues || !distributionVectorsPart.pDistGrid || !distributionVectorsPart.pDistS || distributionVectorsPart.nDistGrid < 2)
    return {false, "there is no continuous distribution to save"};
  // A c(s) shown as c(M) is saved as what is shown.
  const DistributionKind kind =
      distributionPlotPart.bCMTransformed ? DistributionKind::MolarMass : CurrentDistributionKind();
  const bool overM = kind == DistributionKind::MolarMass;
  AtomicFile out(path);
  std::FILE* f = out.File();
  if (!f) return {false, WithReason(Format("could not write the distribution to %s", path.c_str()), out.Error())};
  bool ok = WriteFormatted(f, "%s%s\n", kKindPrefix, KindName(kind));
  for (int i = 1; i <= distributionVectorsPart.nDistGrid && ok; ++i) {
    const float x = overM ? distributionVectorsPart.pDistS[i] : distributionVectorsPart.pDistGrid[i];
    const float other = overM ? distributionVectorsPart.pDistGrid[i] : distributionVectorsPart.pDistS[i];
    const float v2 = distributionVectorsPart.pDistValues2 ? distributionVectorsPart.pDistValues2[i] : 0.0f;
    const std::string line = RoundTripText(x) + "\t" + RoundTripText(distributionVectorsPart.pDistValues[i]) + "\t" +
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
  auto& dataSetPart = DataSet();
  auto& modelFlagsPart = ModelFlags();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionVectorsPart = DistributionVectors();
  SavedDistribution d;
  std::string why;
  if (!ReadSaved(path, &d, &why))
    return {false, Format("%s is not a saved distribution", path.c_str()) + (why.empty() ? "" : ": " + why)};
  if (!modelFlagsPart.bContiModel || IsSizeShapeModel() || dataSetPart.bDLSData || d.kind != CurrentDistributionKind()) {
    return {false, Format("%s holds a %s distribution: choose a model of that kind first",
                          path.c_str(), KindName(d.kind))};
  }
  const bool overM = d.kind == DistributionKind::MolarMass;
  const int n = static_cast<int>(d.x.size());
  ClearDistribution();
  FreeKernelArrays();
  FreeNormalEquationArrays();
  distributionVectorsPart.nDistGrid = n;
  distributionGridPart.fDistGridCount = static_cast<float>(n);
  MakeDistributionVectors(n);
  for (int i = 1; i <= n; ++i) {
    const std::size_t k = static_cast<std::size_t>(i - 1);
    (overM ? distributionVectorsPart.pDistS : distributionVectorsPart.pDistGrid)[i] = static_cast<float>(d.x[k]);
    (overM ? distributionVectorsPart.pDistGrid : distributionVectorsPart.pDistS)[i] = static_cast<float>(d.companion[k]);
    distributionVectorsPart.pDistValues[i] = static_cast<float>(d.value[k]);
    distributionVectorsPart.pDistValues2[i] = static_cast<float>(d.value2[k]);
  }
  distributionGridPart.fDistMin = static_cast<float>(d.x.front());
  distributionGridPart.fDistMax = static_cast<float>(d.x.back());
  StoreGridLimitsInParams();
  SetupDistributionPlot();
  RedrawDistributionPlot();
  return {true, {}};
}

std::string DefaultDistributionPath() { return JoinPath(DataSet().szDataDirectory, "distribution.dat"); }

void ResetDistributionFiles() {
  auto& distributionFilePart = DistributionFile();
  KernelProfiles().dStepSw2 = 0.0;
  distributionFilePart.bNormalizeLoadedDistribution = true;
  distributionFilePart.fLoadedDistTotal = distributionFilePart.fLoadedDistArea = distributionFilePart.fLoadedDistScale = 0.0f;
}

}  // namespace tarmic
