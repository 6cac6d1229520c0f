// Maximum-entropy regularisation of a distribution fit.
//
// Minimises Q(x) = chi2(x) + alpha R(x) over x > 0, with chi2(x) = b'b - 2 x.y +
// x'Ax from the normal equations and the negative entropy
//   R(x) = sum over E of x_i ln(x_i / r_i),
// where E holds every unknown, or all but the first when it is a discrete species,
// and the reference r_i is the sum S of the unregularised solution, or with a prior
// p the shape of the prior at that scale, r_i = S p_i / mean(p) (PriorWeights):
// the same minimum as x ln(x/m) + m - x with m = r/e, and a flat prior is no prior.
// alpha is chosen so that chi2 / chi2min reaches the target ratio F of the
// confidence level, as in the Tikhonov-Phillips regularisation (regularization.h),
// by a root search in x = ln(alpha / alpha0). For one alpha the minimum is found by damped Newton
// (Marquardt) steps: only the diagonal of the Hessian differs from A, by
// (alpha / 2) / x_i, and unknowns that would leave the positive region are held.
#pragma once

#include "numerics/analysis.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct MaximumEntropyState {
  // The entropy -R of the last evaluation, and the current alpha.
  double dMaxEntEntropy = 0.0;
  double dMaxEntAlpha = 0.0;
};
// The current analysis' MaximumEntropyState.
inline MaximumEntropyState& MaximumEntropy() { return CurrentPart<MaximumEntropyState>(); }

// The maximum-entropy solution into pDistSolution; every unknown stays at 1e-20 or
// above. suppressBaselineCorrelation scales the reference of unknown 1 by 0.001.
// Returns true when pDistSolution holds a result: the regularised solution, the
// plain NNLS solution where no regularisation is asked for (see Regularize), or
// after a reported failure of the alpha search the best solution it found. Returns
// false when the unregularised NNLS failed (reported there; pDistSolution is zero)
// or was interrupted (bUserAbort set). A key press during the search (bUserAbort)
// ends it at once at the best point found: with "caught in local minimum or user
// interrupt at P = %f" (ATTENTION) and bUserAbort cleared, except in a Monte-Carlo
// repetition (bMonteCarloRun), which it stops (no message, the flag stays set). A
// key before the search has a point leaves bUserAbort set: the run stops.
bool MaxEntRegularize(bool suppressBaselineCorrelation);

// The steps of the regularisation, for tests and the Monte-Carlo repetitions.
// chi2 / dChiSquareMin - fTargetRatio at alpha = alpha0 exp(min(x, 100)), starting
// from the best solution found so far.
double MaxEntChiSquareDeviation(double x);
// The root search in x = ln(alpha / alpha0) from x0 with first step dx0 to the
// tolerance tol of the deviation (or within tolP of the confidence level).
double FindMaxEntAlpha(double (*deviation)(double), double x0, double dx0, double tol,
                       double tolP);
// The maximum-entropy solution of one alpha, in place in pDistSolution.
void SolveMaxEnt(double alpha);

}  // namespace tarmic
