// The distribution arrays after a solve: the amplitudes per grid point turned into a
// density over the grid's unit (divided by the width of each grid point's bin), and
// the integral (cumulative) distribution.
//
// Bin widths of an x array x(1..N): w(1) = (x(2) - x(1))/2, w(i) = (x(i+1) -
// x(i-1))/2 inside, w(N) = (x(N) - x(N-1))/2. The s-grid models use pDistGrid with
// absolute widths, the molar-mass models pDistS with signed widths; a leading
// discrete species keeps its amplitude and the rest is converted as if the grid
// began at point 2. Light-scattering distributions use log10 Rh (pDistGrid) or
// log10 D (pDistS), or the linear Rh in nm and D in 1e-7 cm^2/s with bDLSLinearAxis.
#pragma once

namespace tarmic {

// Divides values[first..last] by the bin widths of x[first..last] (absolute widths
// when absolute is set). A single point, or a bin of width 0, is left unchanged.
void DivideByBinWidths(float* values, const float* x, int first, int last, bool absolute);

// pDistValues (and pDistValues2 with showBoth) from amplitudes to a density. For
// ls-g*(s) the grid points above the largest s whose boundary can have passed the
// right fit limit in the first scan are set to 0 first.
void NormalizeDistributionValues(bool showBoth);

// pDistValues becomes its running trapezoid integral over the grid (from point 2
// for the models whose leading entry is not part of the distribution); nothing for
// light-scattering data. The distribution plot is redrawn (hook).
void TransformToIntegralDistribution();

}  // namespace tarmic
