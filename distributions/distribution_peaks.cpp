#include "distributions/distribution_peaks.h"

#include "distributions/distribution_grid.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_transforms.h"
#include "numerics/ccurve.h"

namespace tarmic {

namespace {

// Below this share of the peak height a side ends at once.
constexpr float kPeakFloor = 0.01f;

// The walk of one side of a peak at i with height p: direction -1 (left) or +1.
// Returns the number of steps and the side's edge value.
int WalkSide(const float* v, int n, int i, float p, float f, int direction, float* edge) {
  for (int j = 0;; ++j) {
    const int k = i + direction * j;
    const int next = k + direction;
    // The values have fallen to the fraction and stop falling at the next point.
    if (next >= 1 && next <= n) {
      const float q = v[next];
      if (q <= f * p && q >= v[k]) {
        *edge = v[k - direction];
        return j;
      }
    }
    const float e = v[k];
    if (e / p < kPeakFloor) {
      *edge = e;
      return j;
    }
    if (direction < 0 && k == 1) {
      *edge = e;
      return j;
    }
    if (direction > 0 && k + 1 == n) {
      // The walk ends on the last grid point.
      *edge = v[n];
      return j + 1;
    }
    // The values rose again: back to the minimum.
    if (j > 1 && e > v[k - direction]) {
      *edge = v[i + direction * (j - 1)];
      return j - 1;
    }
  }
}

}  // namespace

PeakExtent FindDistributionPeak(int index, float fraction) {
  auto& distributionVectorsPart = DistributionVectors();
  PeakExtent peak;
  const float* v = distributionVectorsPart.pDistValues;
  // The limits are taken on the axis the integration runs over: the grid of the
  // s-grid models, M for c(M).
  const float* g = IntegrationAxis(nullptr);
  const int n = distributionVectorsPart.nDistGrid;
  const int i = index;
  if (!v || !g || i < 1 || i > n) return peak;
  if (i >= 3 && i <= n - 2 && v[i] > v[i - 1]) {
    const float p = v[i];
    int jl = 0, jr = 0;
    float leftEdge = 0.0f, rightEdge = 0.0f;
    if (p != 0.0f) {
      jl = WalkSide(v, n, i, p, fraction, -1, &leftEdge);
      jr = WalkSide(v, n, i, p, fraction, +1, &rightEdge);
      peak.edgeRatio = (rightEdge > leftEdge ? rightEdge : leftEdge) / p;
    }
    peak.leftIndex = i - jl;
    peak.rightIndex = i + jr;
    peak.leftX = g[peak.leftIndex];
    peak.rightX = g[peak.rightIndex];
  } else {
    peak.leftX = peak.rightX = g[i];
    peak.edgeRatio = 1.0f;
  }
  float total = 0.0f;
  IntegrateDistribution(peak.leftX, peak.rightX, &peak.area, &peak.averageX, &total, nullptr,
                        nullptr, nullptr);
  peak.fractionOfTotal = total > 0.0f ? peak.area / total : 0.0f;
  return peak;
}

std::vector<DistributionPeak> DistributionPeakList() {
  auto& distributionVectorsPart = DistributionVectors();
  auto& distributionPlotPart = DistributionPlot();
  std::vector<DistributionPeak> peaks;
  if (!distributionPlotPart.pDistCurve || !distributionVectorsPart.pDistValues || distributionPlotPart.bDistTransformed) return peaks;
  float x[kMaxPeakLabels + 1] = {}, height[kMaxPeakLabels + 1] = {};
  int index[kMaxPeakLabels + 1] = {};
  const int n = distributionPlotPart.pDistCurve->FindPeaks(x, height, index, kMaxPeakLabels, 2);
  for (int k = 1; k <= n; ++k) {
    DistributionPeak peak;
    peak.index = index[k];
    peak.x = x[k];
    peak.height = height[k];
    peak.extent = FindDistributionPeak(index[k], kPeakEdgeFraction);
    peak.labelled = peak.extent.fractionOfTotal > kMinPeakFraction;
    peaks.push_back(peak);
  }
  return peaks;
}

}  // namespace tarmic
