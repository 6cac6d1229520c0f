// Statistics of the fits: the runs test of residual signs, the F distribution
// (upper-tail probability and critical ratio) on the regularised incomplete beta
// function, ln Gamma, and Brent's bracketing root finder.
#pragma once

#include <functional>

namespace tarmic {

// Runs test of the signs of A - B over the scans order[first..last], scan s
// contributing its points firstPoint[s]..lastPoint[s] (rows and indices 1-based).
// A difference <= 0 counts as negative; a zero difference never opens a run; the
// first point of every scan opens one. Returns |R - mu + 0.5| / sigma in standard
// deviations, with R the number of runs and mu, sigma the mean and standard
// deviation of R for random signs; 0 when there are fewer than two points, when
// sigma is 0, or when no rows are given.
float CalculateRunsTestZ(const float* const* A, const float* const* B, int first, int last,
                         const int* order, const int* firstPoint, const int* lastPoint);

// The F value whose upper-tail probability for nu1 and nu2 degrees of freedom is
// 1 - P: the ratio by which a chi-square may rise at confidence level P. Needs
// 0 < P < 1 and positive degrees of freedom; otherwise it says so in the error box
// and returns 0.
double CalculateCriticalF(double P, double nu1, double nu2);

// Upper-tail probability Q(F | nu1, nu2) = I_x(nu2/2, nu1/2), x = nu2 / (nu2 + nu1 F);
// 0 when both degrees of freedom are 0.
double CalculateFProbability(double F, double nu1, double nu2);

// Regularised incomplete beta function I_x(a, b); x outside [0, 1] is a fatal error.
double betai(double a, double b, double x);
// The continued fraction of betai (modified Lentz); a fatal error when it does not
// converge within 10000 terms.
double betacf(double a, double b, double x);
// ln Gamma(x) for x > 0 (Lanczos approximation, error below 2e-10).
double gammln(double x);

// Brent's method (inverse quadratic interpolation with bisection fallback) on
// [x1, x2] to the absolute tolerance tol. bracketed tells whether f(x1) and f(x2)
// had opposite signs (or one was 0); the iteration runs in any case. converged is
// false when maxIterations steps did not reach the tolerance; root is then 0.
struct BrentResult {
  double root = 0.0;
  bool bracketed = false;
  bool converged = false;
};
BrentResult BrentSearch(const std::function<double(double)>& f, double x1, double x2, double tol,
                        int maxIterations);

// Root of f between x1 and x2 by Brent's method (at most 100 iterations). An
// unbracketed start shows "Root must be bracketed in statzbrent" and iterates from
// the two points anyway; no convergence shows "Maximum number of iterations
// exceeded in statzbrent" and returns 0. Neither message ends the command.
double statzbrent(const std::function<double(double)>& f, double x1, double x2, double tol);

}  // namespace tarmic
