// The normal equations of a distribution fit kept from whole evaluations and
// combined for other values of the nonlinear entries (meniscus, bottom, f/f0).
//
// The matrix A'A, the right-hand side A'y and y'y of an evaluation (the systematic
// noise eliminated, as the build leaves them) are sums over every data point of
// products of kernels that change smoothly with the nonlinear entries; the
// chi-square after the non-negative least squares owes its skew to the active set
// of the solution and its roughness to the kernels' own step control. Entry by
// entry the equations at a point u are the least-squares quadratic in u through
// the kept ones: a linear combination of the kept systems, whose weights depend on
// u alone. The chi-square of the combined system is solved by the same
// non-negative least squares as a whole evaluation: no kernel, no pass over the
// data.
#pragma once

#include <vector>

namespace tarmic {

// One evaluation's normal equations: the order, the lower triangle of the matrix
// by rows (row i, 0-based, starts at i (i + 1) / 2), the right-hand side and the
// data's sum of squares.
struct KeptEquations {
  int order = 0;
  std::vector<double> lower;
  std::vector<double> rhs;
  double sumSq = 0.0;
};

// The equations of the last build in the distribution storage (empty when there
// are none).
KeptEquations KeepNormalEquations();

// The chi-square of the non-negative least squares of e, and its solution in x
// (one-based, x[1..order]) when given. The storage's equations, solution and
// passive set are put back as they were; false (nothing solved) when e does not
// fit the storage's order or the solve failed.
bool ChiSquareOfEquations(const KeptEquations& e, double* chiSquare, std::vector<double>* x = nullptr);

// The chi-square of e at a given solution x (one-based, x[1..order]), without a
// solve: sumSq - 2 x.rhs + x'Ax.
double ChiSquareAt(const KeptEquations& e, const std::vector<double>& x);

// The weights w_k of kept systems k at point u (n entries, any scale) such that
// sum_k w_k S_k is the weighted least-squares quadratic in u through the kept
// systems S_k at points at[k] (each n entries), weighted by weight[k] (empty: all
// 1). Empty when the points do not determine a quadratic of n entries
// ((n + 1)(n + 2) / 2 coefficients).
std::vector<double> QuadraticWeights(const std::vector<std::vector<double>>& at, const std::vector<double>& weight,
                                     const std::vector<double>& u);

// sum_k w[k] systems[k] (the same order each).
KeptEquations CombineEquations(const std::vector<const KeptEquations*>& systems, const std::vector<double>& w);

}  // namespace tarmic
