// Closed forms the model computation uses beside the Lamm solutions: the
// complementary error function, the analytic (Faxen-type) sedimentation boundary
// and the test whether back-diffusion from the cell bottom may be cut off.
#pragma once

namespace tarmic {

// erfc(x) by a Chebyshev-type fit of erfc(z) = t exp(-z^2 + P(t)), t = 1/(1 + z/2),
// z = |x| (relative error below 1.2e-7); erfc(-x) = 2 - erfc(x). Single precision.
float ErfcApprox(float x);

// The sedimentation boundary of a species that starts uniform at c0 in a sector
// with meniscus m (cm), in the Faxen-type approximation, at time t (s):
//   out_i = c0/2 e^(-tau) erfc((tau - 2 ln(r_i/m)) / (2 sqrt(eps tau))),
// tau = 2 s w^2 t, eps = 2 D / (s w^2 m^2); the plateau is diluted radially by
// e^(-2 s w^2 t) and the boundary sits where ln(r/m) = s w^2 t. sw2 = s w^2 (1/s,
// s in seconds), D in cm^2/s; r[1..n] in cm, out[1..n] in the units of c0.
// Limits where the expression has no value: t <= 0 gives the loading (c0 inside
// the cell, c0/2 at the meniscus); s w^2 = 0 gives the uniform c0 (no boundary
// forms); D <= 0 gives the sharp step (plateau beyond m e^(s w^2 t), half at it).
// For absorbance data with "simulate radial resolution" the profile is recorded
// with the finite radial resolution over the whole cell (RecordClosedFormProfile).
// The cell is [m, bottom] (the radial resolution's optics).
void ErfcBoundaryProfile(float c0, double t, const float* r, float* out, int n, float sw2, float D,
                         float m, float bottom);

// Whether back-diffusion from the bottom may be cut off for a species of s (S) and
// D (cm^2/s) at the rotor speed and temperature of the last scan: with the option
// "shut off back-diffusion" on, s > 0 and D > 0, true when the reduced molar mass
// sigma = Mb w^2 / (2 R T) exceeds 100 cm^-2 or when the equilibrium profile at the
// right fitting limit, relative to its mean over the cell, is below the option's
// level (BackDiffusionNegligible, evaluated in logarithms).
// The cell is [meniscus, bottom] (cm).
bool TestShutOffBackDiffusion(double s, double D, double meniscus, double bottom);

}  // namespace tarmic
