#include "scandata/radial_grid.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cassert>
#include <utility>
#include <vector>
#include <cmath>

#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/interpolation.h"
#include "numerics/one_based.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/fit_limits.h"
#include "scandata/intensity_scans.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

float* ZeroVector(int n) {
  float* v = tarmic::vector(1, n);
  std::fill(v + 1, v + n + 1, 0.0f);
  return v;
}

}  // namespace

bool IsUsableRadialStep(float step) { return std::isfinite(step) && step >= kMinRadialStep; }

namespace {

// The number of points of an own grid: the steps from r0 through r1 plus 2 (the
// last grid point lies beyond r1), counted as the radius accumulates in single
// precision; 0 when the step is not usable or the grid would exceed kMaxGridPoints.
int OwnGridPointCount(float r0, float r1) {
  auto& radialGridPart = RadialGrid();
  if (!IsUsableRadialStep(radialGridPart.fRadialStep)) return 0;
  int count = 1;
  for (float r = r0; r <= r1; r += radialGridPart.fRadialStep)
    if (++count > kMaxGridPoints) return 0;
  return count;
}

}  // namespace

namespace {

void ReportGridTooLarge() {
  RaiseError(Format("\nradial resolution %g cm would make a common grid of more than %d points;\n"
                   "choose a coarser resolution",
                   static_cast<double>(RadialGrid().fRadialStep), kMaxGridPoints));
}

}  // namespace

bool RadialGridIsBuildable(float r0, float r1, bool report) {
  auto& radialGridPart = RadialGrid();
  if (OwnGridPointCount(r0, r1) > 0) return true;
  if (!report) return false;
  if (!IsUsableRadialStep(radialGridPart.fRadialStep))
    RaiseError(Format("\nradial resolution %g cm cannot be used for the common grid;\n"
                     "it must be at least %g cm",
                     static_cast<double>(radialGridPart.fRadialStep), static_cast<double>(kMinRadialStep)));
  else
    ReportGridTooLarge();
  return false;
}

void AllocSpeciesSignalArrays() {
  std::array<bool, kSpeciesSlots + 1> slots{};
  for (int k = 1; k <= kSpeciesSlots; ++k) slots[static_cast<std::size_t>(k)] = AnalysisSwitches().pSpeciesLinked[k] != 0;
  AllocSpeciesSignalArrays(slots);
}

void AllocSpeciesSignalArrays(const std::array<bool, kSpeciesSlots + 1>& slots) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  FreeSpeciesSignalArrays();
  if (dataSetPart.nScans < 1 || currentGridPart.nGridPoints < 1) return;
  for (int k = 1; k <= kSpeciesSlots; ++k) {
    if (!slots[static_cast<std::size_t>(k)]) continue;
    currentGridPart.pppSpeciesSignal[k].assign(static_cast<std::size_t>(dataSetPart.nScans) + 1, nullptr);
    for (int i = 1; i <= dataSetPart.nScans; ++i) currentGridPart.pppSpeciesSignal[k][static_cast<std::size_t>(i)] = ZeroVector(currentGridPart.nGridPoints);
    currentGridPart.ppSpeciesGridMean[k] = ZeroVector(currentGridPart.nGridPoints);
    currentGridPart.ppSpeciesScanMean[k] = ZeroVector(dataSetPart.nScans);
  }
  currentGridPart.nSpeciesArrayScans = dataSetPart.nScans;
  currentGridPart.nSpeciesArrayPoints = currentGridPart.nGridPoints;
}

namespace {

// Where a scan has points: from half its median spacing before its first radius to
// half after its last, except strictly inside the intervals of its radii wider than
// kGapSpacingFactor times that spacing (its gaps, in increasing order). Made once per
// scan and kept while the scans stay as they are (ScanDataRevision), so that the
// paints of the residual bitmap do not sort every scan's spacings each time.
struct ScanSupport {
  bool made = false;
  bool none = false;  // fewer than two points: no radius is supported
  float lo = 0.0f, hi = 0.0f;
  std::vector<std::pair<float, float>> gaps;
};
// This module's own state in the analysis.
struct LocalState {
  std::vector<ScanSupport> gScanSupport{};
  unsigned long long gScanSupportRevision = 0;
};
LocalState& Local() { return CurrentPart<LocalState>(); }

const ScanSupport& SupportOf(int s) {
  auto& dataSetPart = DataSet();
  auto& localPart = Local();
  if (localPart.gScanSupportRevision != ScanDataRevision() || localPart.gScanSupport.size() != dataSetPart.pnPoints.size()) {
    localPart.gScanSupport.assign(dataSetPart.pnPoints.size(), ScanSupport{});
    localPart.gScanSupportRevision = ScanDataRevision();
  }
  ScanSupport& support = localPart.gScanSupport[static_cast<std::size_t>(s)];
  if (support.made) return support;
  support.made = true;
  const std::size_t i = static_cast<std::size_t>(s);
  const int n = dataSetPart.pnPoints[i];
  const float* r = dataSetPart.ppRadius[i];
  support.none = n < 2 || !r;
  if (support.none) return support;
  std::vector<float> steps(r + 2, r + n + 1);
  for (int k = 0; k < n - 1; ++k) steps[static_cast<std::size_t>(k)] -= r[k + 1];
  std::nth_element(steps.begin(), steps.begin() + (n - 1) / 2, steps.end());
  const float median = steps[static_cast<std::size_t>((n - 1) / 2)];
  const float gap = kGapSpacingFactor * median;
  support.lo = r[1] - 0.5f * median;
  support.hi = r[n] + 0.5f * median;
  for (int k = 1; k < n; ++k)
    if (r[k + 1] - r[k] > gap) support.gaps.emplace_back(r[k], r[k + 1]);
  return support;
}

}  // namespace

void MarkRadiiScanLacks(int s, const float* radii, int count, std::vector<unsigned char>& measured) {
  const ScanSupport& support = SupportOf(s);
  if (support.none) {
    std::fill(measured.begin() + 1, measured.begin() + count + 1, 0);
    return;
  }
  std::size_t next = 0;  // the first gap that does not end at or below the radius
  for (int g = 1; g <= count; ++g) {
    const float x = radii[g];
    if (x < support.lo || x > support.hi) {
      measured[static_cast<std::size_t>(g)] = 0;
      continue;
    }
    while (next < support.gaps.size() && support.gaps[next].second <= x) ++next;
    if (next < support.gaps.size() && x > support.gaps[next].first) measured[static_cast<std::size_t>(g)] = 0;
  }
}

bool GridPointUnmeasured(int g) {
  const auto& measured = CurrentGrid().gridPointMeasured;
  return g >= 1 && static_cast<std::size_t>(g) < measured.size() && measured[static_cast<std::size_t>(g)] == 0;
}

void SetGridPointMask(std::vector<unsigned char> measured) {
  auto& currentGridPart = CurrentGrid();
  std::vector<int>& upTo = currentGridPart.gridPointsMeasuredUpTo;
  if (measured.size() < 2 || std::find(measured.begin() + 1, measured.end(), 0) == measured.end()) {
    currentGridPart.gridPointMeasured.clear();
    upTo.clear();
    return;
  }
  upTo.assign(measured.size(), 0);
  for (std::size_t g = 1; g < measured.size(); ++g) upTo[g] = upTo[g - 1] + (measured[g] != 0);
  currentGridPart.gridPointMeasured = std::move(measured);
}

void FillGridSignalRow(int s) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  // Called by every tool that changed the scan's signal.
  NoteScanDataChanged();
  if (!currentGridPart.bGridCopies || s < 1 || s >= static_cast<int>(currentGridPart.ppGridSignal.size()) || currentGridPart.nGridPoints < 1) return;
  float* row = currentGridPart.ppGridSignal[static_cast<std::size_t>(s)];
  if (!row) return;
  std::fill(row + 1, row + currentGridPart.nGridPoints + 1, 0.0f);
  const std::size_t i = static_cast<std::size_t>(s);
  const int n = dataSetPart.pnPoints[i];
  const float* values = dataSetPart.ppSignal[i];
  // Intensity data enter the grid as their absorbance (intensity_scans.h).
  std::vector<float> absorbance;
  if (ScanFile().bIntensityData) {
    absorbance = ScanAbsorbance(s);
    values = absorbance.data();
  }
  // A scan too short to be resampled keeps a row of zeros.
  InterpolateCurve(currentGridPart.nGridPoints, currentGridPart.pGridRadius, row, n, dataSetPart.ppRadius[i], values);
}

bool BuildCommonRadialGrid() {
  auto& radialGridPart = RadialGrid();
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& scanFilePart = ScanFile();
  NoteScanDataChanged();
  const DataSetHooks& hooks = GetDataSetHooks();
  if (hooks.reapplyNonlinearDetection) hooks.reapplyNonlinearDetection(false);
  FreeGridData(dataSetPart.nScans);
  if (dataSetPart.nScans < 1) return true;

  bool copies = scanFilePart.bAbsorbanceData || scanFilePart.bIntensityData;
  if (!copies) {
    for (int i = 2; i <= dataSetPart.nScans; ++i) {
      const std::size_t s = static_cast<std::size_t>(i);
      if (dataSetPart.pnPoints[s] != dataSetPart.pnPoints[1] || dataSetPart.ppRadius[s][1] != dataSetPart.ppRadius[1][1]) copies = true;
    }
  }

  if (!copies) {
    // All scans share one radius array: the grid is the first displayed scan's
    // radii and every row is the scan's own signal.
    const std::size_t first = static_cast<std::size_t>(dataSetPart.pScanOrder[1]);
    currentGridPart.bGridCopies = false;
    currentGridPart.pGridRadius = dataSetPart.ppRadius[first];
    currentGridPart.nGridPoints = dataSetPart.pnPoints[first];
    currentGridPart.ppGridSignal.assign(static_cast<std::size_t>(dataSetPart.nScans) + 1, nullptr);
    for (int i = 1; i <= dataSetPart.nScans; ++i) currentGridPart.ppGridSignal[static_cast<std::size_t>(i)] = dataSetPart.ppSignal[static_cast<std::size_t>(i)];
  } else {
    // r0, r1: the mean first and the mean last radius of the scans; the lattice
    // r0 + j step from j = 1 on, extended at both ends until it covers the first
    // and the last radius of every scan. A model made on the grid is resampled onto
    // every point of every scan, which must not lie beyond the grid (there only a
    // constant could be put, a spike at the start of each fitted curve when the
    // scans start before the mean first radius plus one step).
    double sumFirst = 0.0, sumLast = 0.0;
    float firstMin = dataSetPart.ppRadius[1][1], lastMax = dataSetPart.ppRadius[1][dataSetPart.pnPoints[1]];
    for (int i = 1; i <= dataSetPart.nScans; ++i) {
      const std::size_t s = static_cast<std::size_t>(i);
      sumFirst += dataSetPart.ppRadius[s][1];
      sumLast += dataSetPart.ppRadius[s][dataSetPart.pnPoints[s]];
      firstMin = std::min(firstMin, dataSetPart.ppRadius[s][1]);
      lastMax = std::max(lastMax, dataSetPart.ppRadius[s][dataSetPart.pnPoints[s]]);
    }
    const float r0 = static_cast<float>(sumFirst / dataSetPart.nScans);
    const float r1 = static_cast<float>(sumLast / dataSetPart.nScans);
    const int count = OwnGridPointCount(r0, r1);
    auto lattice = [&](int j) { return r0 + static_cast<float>(j) * radialGridPart.fRadialStep; };
    if (count < 1) {
      RadialGridIsBuildable(r0, r1, true);
      return false;
    }
    // Stepped on the lattice itself, so the ends are grid points as the rest are.
    int jFirst = 1, jLast = count;
    while (jFirst > 1 - kMaxGridPoints && lattice(jFirst) > firstMin) --jFirst;
    while (jLast < kMaxGridPoints && lattice(jLast) < lastMax) ++jLast;
    if (jLast - jFirst + 1 > kMaxGridPoints) {
      ReportGridTooLarge();
      return false;
    }
    currentGridPart.bGridCopies = true;
    currentGridPart.nGridPoints = jLast - jFirst + 1;
    currentGridPart.pGridRadius = tarmic::vector(1, currentGridPart.nGridPoints);
    for (int k = 1; k <= currentGridPart.nGridPoints; ++k) currentGridPart.pGridRadius[k] = lattice(jFirst + k - 1);
    currentGridPart.ppGridSignal.assign(static_cast<std::size_t>(dataSetPart.nScans) + 1, nullptr);
    for (int i = 1; i <= dataSetPart.nScans; ++i) {
      currentGridPart.ppGridSignal[static_cast<std::size_t>(i)] = tarmic::vector(1, currentGridPart.nGridPoints);
      FillGridSignalRow(i);
    }
    // The points every scan supports; none marked: every point counts.
    std::vector<unsigned char> measured(static_cast<std::size_t>(currentGridPart.nGridPoints) + 1, 1);
    for (int i = 1; i <= dataSetPart.nScans; ++i) MarkRadiiScanLacks(i, currentGridPart.pGridRadius, currentGridPart.nGridPoints, measured);
    SetGridPointMask(std::move(measured));
  }
  currentGridPart.nGridScans = dataSetPart.nScans;

  // Averages over the scans at each grid point, and over the fit points (the whole
  // grid until limits are set) for each scan.
  currentGridPart.pAverageScan = ZeroVector(currentGridPart.nGridPoints);
  currentGridPart.pScanMeans = ZeroVector(dataSetPart.nScans);
  for (int k = 1; k <= currentGridPart.nGridPoints; ++k) {
    double sum = 0.0;
    for (int i = 1; i <= dataSetPart.nScans; ++i) sum += currentGridPart.ppGridSignal[static_cast<std::size_t>(i)][k];
    currentGridPart.pAverageScan[k] = static_cast<float>(sum / dataSetPart.nScans);
  }
  currentGridPart.pTINoise = ZeroVector(currentGridPart.nGridPoints);
  currentGridPart.pRemovedTINoise = ZeroVector(currentGridPart.nGridPoints);
  currentGridPart.pRINoise = ZeroVector(dataSetPart.nScans);
  currentGridPart.iFitFirst = 1;
  currentGridPart.iFitLast = currentGridPart.nGridPoints;
  const GridFitPoints points = CurrentGridFitPoints();
  for (int i = 1; i <= dataSetPart.nScans; ++i)
    currentGridPart.pScanMeans[i] = points.Count() > 0
                        ? static_cast<float>(points.Sum(currentGridPart.ppGridSignal[static_cast<std::size_t>(i)]) / points.Count())
                        : 0.0f;
  currentGridPart.fGridSignalTotal = static_cast<float>(dataSetPart.nScans * points.Sum(currentGridPart.pAverageScan));
  currentGridPart.fGridPointTotal = static_cast<float>(dataSetPart.nScans) * static_cast<float>(points.Count());
  if (FitLeftLimitSet()) SetLeftFitLimitIndices();
  if (FitRightLimitSet()) SetRightFitLimitIndices();
  AllocSpeciesSignalArrays();
  return true;
}

}  // namespace tarmic
