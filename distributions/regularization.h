// Tikhonov-Phillips regularisation of a distribution fit and the confidence level.
//
// The normal equations are solved by non-negative least squares, first without
// regularisation (chi-square chi2min); then alpha times a second-derivative penalty
// is added and alpha is searched at which chi-square / chi2min reaches the target
// ratio F: the critical F ratio for the fit's degrees of freedom at the confidence
// level P (fConfidenceLevel), or P itself when P > 1. alpha is searched in
// u = ln(alpha / dAlphaScale), with dAlphaScale = trace(A) / (6N - 12) (6N - 12 is
// the trace of the penalty), so the search does not depend on the scale of the data.
#pragma once

#include "numerics/analysis.h"

#include <vector>

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct RegularizationState {
  // Number of unknowns along s that the penalty works on: the order of the build, or
  // nDistGrid per f/f0 row for c(s,ff0). Set by every regularisation.
  int nRegUnknowns = 0;
  // Chi-square of the unregularised NNLS solution, and of the final solution.
  double dChiSquareMin = 0.0;
  double dChiSquare = 0.0;
  // Target of chi-square / dChiSquareMin, and the degrees of freedom of the F test.
  float fTargetRatio = 0.0f;
  float fDegreesOfFreedom = 0.0f;
  // trace(A) / (6N - 12).
  double dAlphaScale = 0.0;
  // alpha / dAlphaScale of the final solution.
  float fAlphaFactor = 0.0f;
};
// The current analysis' RegularizationState.
inline RegularizationState& Regularization() { return CurrentPart<RegularizationState>(); }

// The regularised solution into pDistSolution. Returns true when pDistSolution
// holds a result: the regularised solution, or the plain NNLS solution where no
// regularisation is asked for (P <= 0.5, P = 1, fewer than 4 unknowns, too few
// data, an inner evaluation of a refinement, an exact fit). Returns false when
// there is no result: the unregularised NNLS failed (reported there, and
// pDistSolution is zero), or the regularisation failed (reported: the strength
// could not be bracketed, the root search failed, or an NNLS of the search failed;
// pDistSolution then holds the unregularised solution).
bool Regularize();

// With alpha = exp(min(u, 100)) dAlphaScale: the regularised solution and
// chi-square / dChiSquareMin - fTargetRatio (1e10 when its NNLS fails).
float ScaleRegularizationAlpha(float u);

// Chi-square of pDistSolution against the unregularised equations:
// dSumSqData - 2 x.b + x'Ax over the order of the last build.
double ChiSquareFromNormalEquations();

// ppNormalMatrixReg = ppNormalMatrix + alpha x penalty, by the layout of the model:
// plain; with unknown 1 free (a discrete species or the buffer component); or the
// (s, f/f0) cells of c(s,ff0) with a second penalty along f/f0. With bUsePrior
// each penalty entry (i, j) is divided by the prior weights of i and j.
void AddSecondDerivativePenalty(double alpha);

// Entry (i, j), i, j = 1..n, of D'D with D the second-difference operator on n
// points (0 for n < 3).
double SecondDerivativePattern(int n, int i, int j);
// The f/f0 pattern: SecondDerivativePattern plus 10 times the first-difference
// penalty of the first and of the last pair.
double Ff0PenaltyPattern(int n, int i, int j);

// Prior weights [1..n] as the regularisations use them: weights below 1e-6 of the
// largest are raised to that, so a weight of 0 never divides by zero, and all are
// divided by their mean (only the shape of a prior counts; a flat prior gives 1
// everywhere); all 1 when no weight is positive. Element 0 is unused.
std::vector<double> PriorWeights(const double* weights, int n);

// Whether the confidence level asks for a regularisation with n unknowns (P > 0.5,
// P != 1, n >= 4); shared by both regularisations.
bool RegularizationWanted(int n);
// The target ratio and the degrees of freedom of the confidence level for a system
// of n unknowns; false when the data leave no degrees of freedom. Shows the note
// "P > 1 => interpreting P value as chi-square ratio" (not in batch mode).
bool SetRegularizationTarget(int n);
// Whether chi2min leaves no noise to scale a regularisation (an exact fit).
bool IsExactFit();
// The confidence level at which a chi-square ratio would be the critical one.
double ConfidenceOfRatio(double ratio);

}  // namespace tarmic
