// Whether back-diffusion from the cell bottom can be neglected for a species.
#pragma once

namespace tarmic {

// True when the equilibrium profile exp(sigma (r^2 - rR^2)) of a species with the
// reduced molar mass sigma (cm^-2) is steep enough that the concentration at the
// right fitting limit rR, relative to the mean over the cell [m, b] (cm), is below
// level: then material reaching the bottom does not diffuse back into the fitted
// range and the bottom may let it out. Also true for sigma > 100 or an exponent
// sigma (b^2 - rR^2) above 100. Evaluated in logarithms, so no exponential can
// overflow; false for sigma <= 0.
bool BackDiffusionNegligible(double sigma, double m, double b, double rR, double level);

}  // namespace tarmic
