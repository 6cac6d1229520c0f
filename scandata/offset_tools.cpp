#include "scandata/offset_tools.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "numerics/interpolation.h"
#include "services/run_switches.h"
#include "scandata/data_set.h"
#include "scandata/intensity_scans.h"
#include "scandata/data_set_hooks.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

std::size_t Z(int i) { return static_cast<std::size_t>(i); }

// First point of scan s with radius >= r; 0 when there is none.
int FirstPointAtOrBeyond(int s, float r) {
  auto& dataSetPart = DataSet();
  const int n = dataSetPart.pnPoints[Z(s)];
  for (int i = 1; i <= n; ++i)
    if (dataSetPart.ppRadius[Z(s)][i] >= r) return i;
  return 0;
}

// The integer nearest to d, halves away from zero.
int NearestInteger(double d) {
  if (d > 0.5) return static_cast<int>(std::floor(d + 0.5));
  if (d < -0.5) return -static_cast<int>(std::floor(-d + 0.5));
  return 0;
}

void RebuildGridAndRedraw() {
  BuildCommonRadialGrid();
  const DataSetHooks& hooks = GetDataSetHooks();
  if (hooks.redrawDataPlot) hooks.redrawDataPlot(true);
}

// Scan s as compared by the rmsd: absorbance for intensity files.
std::vector<float> ComparedValues(int s) {
  auto& dataSetPart = DataSet();
  const std::size_t k = Z(s);
  if (IsIntensityFileName(dataSetPart.ppScanFileNames[k])) return ScanAbsorbance(s);
  std::vector<float> v(Z(dataSetPart.pnPoints[k]) + 1, 0.0f);
  std::copy(dataSetPart.ppSignal[k] + 1, dataSetPart.ppSignal[k] + dataSetPart.pnPoints[k] + 1, v.begin() + 1);
  return v;
}

}  // namespace

std::vector<int> WholeFringeOffsets(float radius) {
  auto& dataSetPart = DataSet();
  std::vector<int> k(Z(dataSetPart.nScans) + 1, 0);
  if (dataSetPart.nScans < 1) return k;
  const int ref = dataSetPart.pScanOrder[1];
  const int iRef = FirstPointAtOrBeyond(ref, radius);
  if (iRef == 0) return k;
  const double reference = dataSetPart.ppSignal[Z(ref)][iRef];
  for (int p = 2; p <= dataSetPart.nScans; ++p) {
    const int s = dataSetPart.pScanOrder[Z(p)];
    const int i = FirstPointAtOrBeyond(s, radius);
    if (i > 0) k[Z(s)] = NearestInteger(dataSetPart.ppSignal[Z(s)][i] - reference);
  }
  return k;
}

void AlignFringeOffsets(float addConstant, float radius) {
  auto& dataSetPart = DataSet();
  if (dataSetPart.nScans < 1) return;
  DataSet().bDataChanged = true;
  const std::vector<int> k = WholeFringeOffsets(radius);
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const float shift = static_cast<float>(k[Z(s)]) - addConstant;
    if (shift == 0.0f) continue;
    for (int i = 1; i <= dataSetPart.pnPoints[Z(s)]; ++i) dataSetPart.ppSignal[Z(s)][i] -= shift;
  }
  RebuildGridAndRedraw();
}

void RemoveFringeJumps(float threshold, bool useResiduals) {
  auto& dataSetPart = DataSet();
  if (dataSetPart.nScans < 1 || dataSetPart.fFitLeftLim == 0.0f || dataSetPart.fFitRightLim == 0.0f) return;
  DataSet().bDataChanged = true;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const std::size_t k = Z(s);
    const int n = dataSetPart.pnPoints[k];
    float* y = dataSetPart.ppSignal[k];
    float* res = dataSetPart.ppResiduals[k];
    const int first = dataSetPart.pFitFirst[k], last = std::min(dataSetPart.pFitLast[k], n);
    if (first < 1 || last < 1) continue;
    for (int j = first + 3; j <= last; ++j) {
      double d;
      if (useResiduals) {
        const double m = (res[j - 1] + res[j - 2] + res[j - 3]) / 3.0;
        d = res[j] - m;
      } else {
        d = y[j] - y[j - 1];
      }
      if (!(std::fabs(d) > threshold)) continue;
      // One correction by the whole number of fringes (a non-integral step is left
      // as it is: stepping by one fringe at a time could swing back and forth).
      const int jump = NearestInteger(d);
      if (jump == 0) continue;
      for (int i = j; i <= n; ++i) {
        y[i] -= static_cast<float>(jump);
        if (useResiduals) res[i] -= static_cast<float>(jump);
      }
    }
  }
  BuildCommonRadialGrid();
}

void SubtractJitterOffsets(float r1, float r2) {
  auto& scanFilePart = ScanFile();
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  if (!scanFilePart.bInterferenceData || dataSetPart.nScans < 1 || currentGridPart.nGridPoints < 1 || !currentGridPart.pGridRadius) return;
  int k1 = 1;
  while (k1 <= currentGridPart.nGridPoints && currentGridPart.pGridRadius[k1] < r1) ++k1;
  int k2 = 1;
  while (k2 <= currentGridPart.nGridPoints && currentGridPart.pGridRadius[k2] < r2) ++k2;
  --k2;
  if (k1 > k2) return;
  DataSet().bDataChanged = true;
  auto meanOver = [&](int s) {
    double sum = 0.0;
    for (int g = k1; g <= k2; ++g) sum += currentGridPart.ppGridSignal[Z(s)][g];
    return sum / (k2 - k1 + 1);
  };
  const int ref = dataSetPart.pScanOrder[1];
  const double m1 = meanOver(ref);
  std::vector<float> offset(Z(dataSetPart.nScans) + 1, 0.0f);
  for (int p = 2; p <= dataSetPart.nScans; ++p) {
    const int s = dataSetPart.pScanOrder[Z(p)];
    offset[Z(s)] = static_cast<float>(meanOver(s) - m1);
  }
  // Every point of each scan (a scan may have more or fewer points than the grid).
  for (int s = 1; s <= dataSetPart.nScans; ++s)
    for (int i = 1; i <= dataSetPart.pnPoints[Z(s)]; ++i) dataSetPart.ppSignal[Z(s)][i] -= offset[Z(s)];
  // The grid rows follow the scans; the offsets are the radial-invariant noise.
  BuildCommonRadialGrid();
  if (currentGridPart.pRINoise)
    for (int s = 1; s <= dataSetPart.nScans; ++s) currentGridPart.pRINoise[s] = offset[Z(s)];
  const DataSetHooks& hooks = GetDataSetHooks();
  if (hooks.redrawDataPlot) hooks.redrawDataPlot(true);
}

float RmsdBetweenScans(int a, int b) {
  auto& dataSetPart = DataSet();
  if (a < 1 || b < 1 || a > dataSetPart.nScans || b > dataSetPart.nScans || a == b) return 0.0f;
  const int nb = dataSetPart.pnPoints[Z(b)];
  if (nb < 1) return 0.0f;
  const std::vector<float> va = ComparedValues(a);
  const std::vector<float> vb = ComparedValues(b);
  std::vector<float> onB(Z(nb) + 1, 0.0f);
  if (!InterpolateCurve(nb, dataSetPart.ppRadius[Z(b)], onB.data(), dataSetPart.pnPoints[Z(a)], dataSetPart.ppRadius[Z(a)], va.data()))
    return 0.0f;
  int first = dataSetPart.pFitFirst[Z(b)], last = dataSetPart.pFitLast[Z(b)];
  if (first < 1) first = 1;
  if (last < 1 || last > nb) last = nb;
  if (last < first) return 0.0f;
  const int count = last - first + 1;
  double d = 0.0;
  for (int i = first; i <= last; ++i) d += vb[Z(i)] - onB[Z(i)];
  d /= count;
  double sum = 0.0;
  for (int i = first; i <= last; ++i) {
    const double e = onB[Z(i)] - vb[Z(i)] + d;
    sum += e * e;
  }
  return sum > 0.0 ? static_cast<float>(std::sqrt(sum / count)) : 0.0f;
}

}  // namespace tarmic
