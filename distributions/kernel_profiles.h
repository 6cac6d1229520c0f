// Kernel profiles: the profiles a Lamm equation solution computes, put onto the
// radii of a kernel row, and the profile of a non-diffusing species (a sharp moving
// boundary). What the kernels, the special kernels and the distribution files share.
#pragma once

#include "numerics/analysis.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct KernelProfilesState {
  // The distribution is given (synthetic data): kernels on the radii of scan 1, the
  // fit is the kernel sum, no solve.
  bool bSyntheticFromDistribution = false;

  // s omega^2 (1/s) of the species whose step profile StepBoundaryProfile makes; for
  // ls-g*(v) a migration velocity (cm/s). Set by the caller.
  double dStepSw2 = 0.0;
};
// The current analysis' KernelProfilesState.
inline KernelProfilesState& KernelProfiles() { return CurrentPart<KernelProfilesState>(); }

// Kernel row [kernel][scan] = the profile (radii[1..n], values[1..n]) recorded
// onto the kernel radii (the radii of scan 1 with bSyntheticFromDistribution, else
// the common grid), with the radial resolution of absorbance data over the whole
// profile when it is simulated. kernel is the grid point (never a shared "current point").
void StoreKernelProfile(int kernel, int scan, const double* radii, const double* values, int n);
// As StoreKernelProfile, adding the interpolated profile; no radial resolution.
void AddKernelProfile(int kernel, int scan, const double* radii, const double* values, int n);

// Profile out[1..n] at the radii r[1..n] of a non-diffusing species of amplitude A
// at time t (s) with dStepSw2: a sharp boundary with radial dilution.
void StepBoundaryProfile(float amplitude, double t, const float* r, float* out, int n);

}  // namespace tarmic
