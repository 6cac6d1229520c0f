// Integration of the current distribution: the signal between two limits, its
// weight-average position, the spread and the number- and z-type averages, the total
// over the whole grid, and for the two-dimensional c(s,ff0) result the
// signal-weighted averages inside a selected rectangle.
//
// The distribution is taken as piecewise linear between grid points, c(x) = a + b x
// on each segment, and the moments are integrated exactly on the clipped segments.
// The sums run in single precision.
#pragma once

#include "numerics/analysis.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct DistributionIntegrationState {
  // Limits of the second coordinate of a c(s,ff0) selection (set by the integration
  // command).
  float fCsff0SecondMin = 0.0f;
  float fCsff0SecondMax = 0.0f;
  // Results of the c(s,ff0) selection: weight-average M, Stokes radius (nm) and f/f0,
  // M from the weight-average s and D, and the weighted standard deviations of the
  // Stokes radius and of M.
  float fCsff0AvgM = 0.0f;
  float fCsff0AvgRs = 0.0f;
  float fCsff0AvgFf0 = 0.0f;
  float fCsff0MsD = 0.0f;
  float fCsff0SdRs = 0.0f;
  float fCsff0SdM = 0.0f;
};
// The current analysis' DistributionIntegrationState.
inline DistributionIntegrationState& DistributionIntegration() { return CurrentPart<DistributionIntegrationState>(); }

// lo, hi: limits in the unit of the grid array (s, M, or the log10 values of
// light-scattering distributions). area: integral between lo and hi; mean: first
// moment / area; total: integral over the whole grid. With sd given: the standard
// deviation of the grid variable between the limits (0 for light-scattering data);
// with sd, harmonic and zratio given also area / integral of c(x)/x and second
// moment / first moment (0 for light-scattering data or a limit that is not
// positive). A zero area gives area = mean = total = 0 and leaves the optional
// outputs alone.
void IntegrateDistribution(float lo, float hi, float* area, float* mean, float* total, float* sd,
                           float* harmonic, float* zratio);

// The grid array whose unit the integration limits are in: s for the s-grid models,
// M for the molar-mass models; for light-scattering distributions log10 Rh or log10
// D. *first (optional) receives the first grid index the integration takes (the
// leading entry of some models is skipped). Null without a distribution.
const float* IntegrationAxis(int* first = nullptr);
// The range [*lo, *hi] of that axis over the integrated grid points; false without
// a distribution of at least two points.
bool IntegrationAxisRange(float* lo, float* hi);

}  // namespace tarmic
