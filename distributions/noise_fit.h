// After the solve of a distribution fit: the systematic noise from the means stored
// by the normal-equation build, the fitted curve of every scan, and the diagnostic
// dumps of the fit.
#pragma once

#include "distributions/normal_equations.h"

namespace tarmic {

// With the amplitudes in pDistSolution[1..N] (N = nDistGrid, or nFf0Grid for
// c(s,ff0)): the noise of the noise model of the switches (SelectNoiseModel), and
// ppFit of every scan rebuilt on its own radii as noise plus the kernels times their
// amplitudes.
//   TI and RI: TI[g] = ybar[g] - ybar - sum x_k (Kbar_k[g] - Kbar_k),
//              RI[s] = ybar[s] - sum x_k Kbar_k[s];
//   TI: TI[g] = ybar[g] - sum x_k Kbar_k[g], RI = 0;
//   RI: RI[s] = ybar[s] - sum x_k Kbar_k[s], TI = 0;
//   baseline: fBaseline = ybar - sum x_k Kbar_k; none: fBaseline is kept.
// With the noise terms fBaseline is 0. pParams[15] gets the baseline. With
// bFixedFirstKernel the sums run over k >= 2 and kernel 1 enters the fit with
// coefficient 1. Ends with the nonlinear-detection update (hook).
void CalculateppAFit();

// The light-scattering time course: fBaseline from the global means and the fit of
// the scans at display positions iContiFirstScan..iContiLastScan.
void UpdateBaselineAndFitScanRange();

// Diagnostic dumps into the user's temporary directory: "TARMICsolution.txt" (the
// distribution values), and the grid, the dimension, the number of data points, the
// number of unknowns, the sum of squares, the right-hand side and the matrix of the
// last build ("grid.txt", "dim.txt", "npoints.txt", "ngrid.txt",
// "sumsquaredata.txt", "vector.txt", "matrix.txt"). Each file is replaced only when
// written completely; a file that cannot be written ends the dump. Each returns the
// message of the failed write for the error box (empty when all were written).
std::string DumpDistributionSolution();
std::string DumpNormalEquations();

}  // namespace tarmic
