// Transforms of a computed s distribution onto other axes, in place on the grid and
// values of distribution_grid.h: to standard conditions (s20,w), then to the Stokes
// radius Rh (nm), and the division by a size-dependent signal factor a(R) that turns
// a distribution of scattering intensity into one of particle amounts.
//
// Units: s in S, vbar in ml/g, viscosity in Pa s, density in g/ml, Rh in nm. All
// vectors are one-based over 1..nDistGrid.
#pragma once

#include <string>

// bDistTransformed and bDistRhTransformed, of the distribution on show.
#include "distributions/distribution_plot.h"

namespace tarmic {

// The area of y over x by the trapezoid rule on the (possibly uneven) grid
// x[1..n]: 0.5 y1 (x2 - x1) + sum_{i=2}^{n-1} 0.5 (x(i+1) - x(i-1)) y(i)
// + 0.5 yn (xn - x(n-1)); 0 for n < 2.
double GridTrapezoidArea(const float* x, const float* y, int n);

// What a transform did: done, or refused with the reason the command shows in the
// error box (empty when the refusal needs no box of its own).
struct TransformResult {
  bool ok = false;
  std::string message;
  explicit operator bool() const { return ok; }
};

// Re-expresses the s distribution at standard conditions: every grid value times
// q = s20,w(1 S), every value (and pDistValues2) divided by q, so the area is kept.
// Refused, changing nothing, when no s-grid model is active (c(M), light
// scattering, c(v)) or no distribution exists (no message), or the solvent values
// give no positive finite q (with its message, which names the value at fault:
// the viscosity, the partial specific volume at 20 C, or vbar and density).
TransformResult TransformToS20w(float vbar, float vbar20, float viscosity, float density);

// Converts the s20,w grid into Stokes radii (nm) and the values into the density
// over Rh with the area kept: y(i) := 2 Rh(i) y(i) rescaled to the area the
// distribution had over s20,w (the same for pDistValues2 when both regularisations
// are shown). Sets bDistRhTransformed and the axis title "Rh [nm]". False, changing
// nothing, without a distribution or with a partial specific volume that gives no
// particle volume (RhVbarRefusal).
bool TransformToRh(float vbar20);
// Why vbar20 gives no Stokes radius (it must be above 0), empty when it does.
std::string RhVbarRefusal(float vbar20);

// Reads the coefficients a0..a(m-1) of the power series a(R) = sum a_k R^k (R in nm)
// from a file of one number per line and divides every value by a(R) at its grid
// point (pDistValues2 too when both regularisations are shown). A file that cannot
// be read or is no text, a line that is not one number ("line N holds no number";
// blank lines are skipped), a file without coefficients, or a(R) = 0 (or not
// finite) at any grid point, is refused with its message and leaves the
// distribution unchanged; without a distribution it is
// refused with no message.
TransformResult ApplyMieScatCorrection(const std::string& fileName);

// Restores the defaults of this file (tests).
void ResetDistributionTransforms();

}  // namespace tarmic
