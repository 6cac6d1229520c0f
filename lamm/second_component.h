// Coefficients of the second (cosolute) Lamm solution that a CLammIdeal solves
// beside its species when the solvent gradient is dynamic.
#pragma once

namespace tarmic {

// a[1] + a[2] x + ... + a[n] x^(n-1); 0 when a is null or n < 1.
double EvalPolynomial(const double* a, int n, double x);
// Built-in s(c) of the cosolute, S, at the concentration c (M):
// 0.596 - 0.000322 m - 0.0633 exp(-0.00399 m) with m = 168.4 c.
double Comp2SedCoefBuiltin(double c);
// Built-in D(c) of the cosolute, cm^2/s: 2.03e-5 at c = 0.
double Comp2DiffCoefBuiltin(double c);
// Node coefficients s(c_i) (S) and D(c_i) (cm^2/s): the built-in CsCl formulas or
// the polynomials sPoly[1..nS], dPoly[1..nD]; with average the mean with the values
// already held (the corrector). With a polynomial missing they stay as they are.
void CosoluteCoefficients(const double* c, int N, bool builtin, const double* sPoly, int nS,
                          const double* dPoly, int nD, bool average, double* coefS, double* coefD);

}  // namespace tarmic
