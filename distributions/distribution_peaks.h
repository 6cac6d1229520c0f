// The peaks of the distribution on show: the one peak list that the window's peak
// labels ("Show Peak Mw in c(s)") and the summary of a batch run both take.
//
// Positions are in the units of the distribution's grid (pDistGrid): S for the
// sedimentation distributions, g/mol for c(M). Grid indices are 1-based.
// Main thread only (reads the distribution's globals).
#pragma once

#include <vector>

namespace tarmic {

// The most peaks labelled or listed.
inline constexpr int kMaxPeakLabels = 10;
// Share of the total below which a peak gets no label and is not listed as one.
inline constexpr float kMinPeakFraction = 0.0001f;
// Share of the peak height at which a side's walk may end.
inline constexpr float kPeakEdgeFraction = 0.9f;

// The extent of the peak around grid point `index` of pDistValues over the
// integration axis (IntegrationAxis: pDistGrid, or M for c(M)):
// each side walks outwards to the first local minimum, to where the values have
// fallen to `fraction` of the peak and stop falling, or below 1 % of the peak;
// then the peak is integrated. A point outside 3..n-2, or not above its left
// neighbour, gives a zero-width range at that point with indices 0.
struct PeakExtent {
  float leftX = 0.0f;
  float rightX = 0.0f;
  float averageX = 0.0f;  // weight-average x of the peak
  int leftIndex = 0;
  int rightIndex = 0;
  float edgeRatio = 0.0f;  // larger edge value / peak value
  float fractionOfTotal = 0.0f;
  float area = 0.0f;
};
PeakExtent FindDistributionPeak(int index, float fraction);

// One local maximum of the curve on show, in the curve's order.
struct DistributionPeak {
  int index = 0;          // grid index of its top
  float x = 0.0f;         // x of its top on the curve
  float height = 0.0f;    // value at its top
  bool labelled = false;  // above kMinPeakFraction of the total: a peak to name
  PeakExtent extent;      // delimited with kPeakEdgeFraction and integrated
};
// The local maxima of the distribution curve (at most kMaxPeakLabels, found over
// two points each side), each delimited and integrated. Empty when no
// distribution is shown or its grid is transformed (s20,w, radii).
std::vector<DistributionPeak> DistributionPeakList();

}  // namespace tarmic
