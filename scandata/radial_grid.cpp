#include "scandata/radial_grid.h"

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

float fRadialStep = 0.001f;

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
  if (!IsUsableRadialStep(fRadialStep)) return 0;
  int count = 1;
  for (float r = r0; r <= r1; r += fRadialStep)
    if (++count > kMaxGridPoints) return 0;
  return count;
}

}  // namespace

namespace {

void ReportGridTooLarge() {
  RaiseError(Format("\nradial resolution %g cm would make a common grid of more than %d points;\n"
                   "choose a coarser resolution",
                   static_cast<double>(fRadialStep), kMaxGridPoints));
}

}  // namespace

bool RadialGridIsBuildable(float r0, float r1, bool report) {
  if (OwnGridPointCount(r0, r1) > 0) return true;
  if (!report) return false;
  if (!IsUsableRadialStep(fRadialStep))
    RaiseError(Format("\nradial resolution %g cm cannot be used for the common grid;\n"
                     "it must be at least %g cm",
                     static_cast<double>(fRadialStep), static_cast<double>(kMinRadialStep)));
  else
    ReportGridTooLarge();
  return false;
}

void AllocSpeciesSignalArrays() {
  FreeSpeciesSignalArrays();
  if (nScans < 1 || nGridPoints < 1) return;
  for (int k = 1; k <= kSpeciesSlots; ++k) {
    if (!pSpeciesLinked[k]) continue;
    pppSpeciesSignal[k].assign(static_cast<std::size_t>(nScans) + 1, nullptr);
    for (int i = 1; i <= nScans; ++i) pppSpeciesSignal[k][static_cast<std::size_t>(i)] = ZeroVector(nGridPoints);
    ppSpeciesGridMean[k] = ZeroVector(nGridPoints);
    ppSpeciesScanMean[k] = ZeroVector(nScans);
  }
  nSpeciesArrayScans = nScans;
  nSpeciesArrayPoints = nGridPoints;
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
std::vector<ScanSupport> gScanSupport;
unsigned long long gScanSupportRevision = 0;

const ScanSupport& SupportOf(int s) {
  if (gScanSupportRevision != ScanDataRevision() || gScanSupport.size() != pnPoints.size()) {
    gScanSupport.assign(pnPoints.size(), ScanSupport{});
    gScanSupportRevision = ScanDataRevision();
  }
  ScanSupport& support = gScanSupport[static_cast<std::size_t>(s)];
  if (support.made) return support;
  support.made = true;
  const std::size_t i = static_cast<std::size_t>(s);
  const int n = pnPoints[i];
  const float* r = ppRadius[i];
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
  const auto& measured = gCurrentGrid.gridPointMeasured;
  return g >= 1 && static_cast<std::size_t>(g) < measured.size() && measured[static_cast<std::size_t>(g)] == 0;
}

void SetGridPointMask(std::vector<unsigned char> measured) {
  std::vector<int>& upTo = gCurrentGrid.gridPointsMeasuredUpTo;
  if (measured.size() < 2 || std::find(measured.begin() + 1, measured.end(), 0) == measured.end()) {
    gCurrentGrid.gridPointMeasured.clear();
    upTo.clear();
    return;
  }
  upTo.assign(measured.size(), 0);
  for (std::size_t g = 1; g < measured.size(); ++g) upTo[g] = upTo[g - 1] + (measured[g] != 0);
  gCurrentGrid.gridPointMeasured = std::move(measured);
}

void FillGridSignalRow(int s) {
  // Called by every tool that changed the scan's signal.
  NoteScanDataChanged();
  if (!bGridCopies || s < 1 || s >= static_cast<int>(ppGridSignal.size()) || nGridPoints < 1) return;
  float* row = ppGridSignal[static_cast<std::size_t>(s)];
  if (!row) return;
  std::fill(row + 1, row + nGridPoints + 1, 0.0f);
  const std::size_t i = static_cast<std::size_t>(s);
  const int n = pnPoints[i];
  const float* values = ppSignal[i];
  // Intensity data enter the grid as their absorbance (intensity_scans.h).
  std::vector<float> absorbance;
  if (bIntensityData) {
    absorbance = ScanAbsorbance(s);
    values = absorbance.data();
  }
  // A scan too short to be resampled keeps a row of zeros.
  InterpolateCurve(nGridPoints, pGridRadius, row, n, ppRadius[i], values);
}

bool BuildCommonRadialGrid() {
  NoteScanDataChanged();
  const DataSetHooks& hooks = GetDataSetHooks();
  if (hooks.reapplyNonlinearDetection) hooks.reapplyNonlinearDetection(false);
  FreeGridData(nScans);
  if (nScans < 1) return true;

  bool copies = bAbsorbanceData || bIntensityData;
  if (!copies) {
    for (int i = 2; i <= nScans; ++i) {
      const std::size_t s = static_cast<std::size_t>(i);
      if (pnPoints[s] != pnPoints[1] || ppRadius[s][1] != ppRadius[1][1]) copies = true;
    }
  }

  if (!copies) {
    // All scans share one radius array: the grid is the first displayed scan's
    // radii and every row is the scan's own signal.
    const std::size_t first = static_cast<std::size_t>(pScanOrder[1]);
    bGridCopies = false;
    pGridRadius = ppRadius[first];
    nGridPoints = pnPoints[first];
    ppGridSignal.assign(static_cast<std::size_t>(nScans) + 1, nullptr);
    for (int i = 1; i <= nScans; ++i) ppGridSignal[static_cast<std::size_t>(i)] = ppSignal[static_cast<std::size_t>(i)];
  } else {
    // r0, r1: the mean first and the mean last radius of the scans; the lattice
    // r0 + j step from j = 1 on, extended at both ends until it covers the first
    // and the last radius of every scan. A model made on the grid is resampled onto
    // every point of every scan, which must not lie beyond the grid (there only a
    // constant could be put, a spike at the start of each fitted curve when the
    // scans start before the mean first radius plus one step).
    double sumFirst = 0.0, sumLast = 0.0;
    float firstMin = ppRadius[1][1], lastMax = ppRadius[1][pnPoints[1]];
    for (int i = 1; i <= nScans; ++i) {
      const std::size_t s = static_cast<std::size_t>(i);
      sumFirst += ppRadius[s][1];
      sumLast += ppRadius[s][pnPoints[s]];
      firstMin = std::min(firstMin, ppRadius[s][1]);
      lastMax = std::max(lastMax, ppRadius[s][pnPoints[s]]);
    }
    const float r0 = static_cast<float>(sumFirst / nScans);
    const float r1 = static_cast<float>(sumLast / nScans);
    const int count = OwnGridPointCount(r0, r1);
    auto lattice = [&](int j) { return r0 + static_cast<float>(j) * fRadialStep; };
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
    bGridCopies = true;
    nGridPoints = jLast - jFirst + 1;
    pGridRadius = tarmic::vector(1, nGridPoints);
    for (int k = 1; k <= nGridPoints; ++k) pGridRadius[k] = lattice(jFirst + k - 1);
    ppGridSignal.assign(static_cast<std::size_t>(nScans) + 1, nullptr);
    for (int i = 1; i <= nScans; ++i) {
      ppGridSignal[static_cast<std::size_t>(i)] = tarmic::vector(1, nGridPoints);
      FillGridSignalRow(i);
    }
    // The points every scan supports; none marked: every point counts.
    std::vector<unsigned char> measured(static_cast<std::size_t>(nGridPoints) + 1, 1);
    for (int i = 1; i <= nScans; ++i) MarkRadiiScanLacks(i, pGridRadius, nGridPoints, measured);
    SetGridPointMask(std::move(measured));
  }
  gCurrentGrid.nGridScans = nScans;

  // Averages over the scans at each grid point, and over the fit points (the whole
  // grid until limits are set) for each scan.
  pAverageScan = ZeroVector(nGridPoints);
  pScanMeans = ZeroVector(nScans);
  for (int k = 1; k <= nGridPoints; ++k) {
    double sum = 0.0;
    for (int i = 1; i <= nScans; ++i) sum += ppGridSignal[static_cast<std::size_t>(i)][k];
    pAverageScan[k] = static_cast<float>(sum / nScans);
  }
  pTINoise = ZeroVector(nGridPoints);
  pRemovedTINoise = ZeroVector(nGridPoints);
  pRINoise = ZeroVector(nScans);
  iFitFirst = 1;
  iFitLast = nGridPoints;
  const GridFitPoints points = CurrentGridFitPoints();
  for (int i = 1; i <= nScans; ++i)
    pScanMeans[i] = points.Count() > 0
                        ? static_cast<float>(points.Sum(ppGridSignal[static_cast<std::size_t>(i)]) / points.Count())
                        : 0.0f;
  fGridSignalTotal = static_cast<float>(nScans * points.Sum(pAverageScan));
  fGridPointTotal = static_cast<float>(nScans) * static_cast<float>(points.Count());
  if (FitLeftLimitSet()) SetLeftFitLimitIndices();
  if (FitRightLimitSet()) SetRightFitLimitIndices();
  AllocSpeciesSignalArrays();
  return true;
}

}  // namespace tarmic
