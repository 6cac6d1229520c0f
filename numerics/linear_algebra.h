// Dense linear algebra for the small systems that end the fits: LU and Cholesky
// decompositions, solves of symmetric systems with a fall-back from Cholesky to LU,
// non-negative least squares on normal equations, and Savitzky-Golay coefficients.
//
// All matrices and vectors are one-based (one_based.h) over [1..n]. The float
// routines carry their arithmetic in float, the double routines in double.
// Failures that leave no usable result (a matrix with a row of zeros in ludcmp,
// invalid savgol windows) end the current command through nrerror (FatalError).
#pragma once

namespace tarmic {

// LU decomposition with implicit partial pivoting, in place: a becomes its row-
// permuted LU factors, indx[1..n] records the permutation, *d is +1 or -1 (parity
// of the row interchanges). A zero pivot is replaced by 1.0e-20 (float) or
// 1.0e-100 (double); a row of zeros calls nrerror("Singular matrix in routine
// ludcmp").
void ludcmp(float** a, int n, int* indx, float* d);
void ludcmp(double** a, int n, int* indx, double* d);
// Forward and back substitution with the factors of ludcmp; the solution replaces b.
void lubksb(float** a, int n, const int* indx, float* b);
void lubksb(double** a, int n, const int* indx, double* b);

// Cholesky decomposition A = L L^T from the upper triangle of a: L goes below the
// diagonal, its diagonal into p[1..n]; the upper triangle is left as it was.
// Returns false (no message) as soon as a diagonal sum is <= 0, i.e. A is not
// positive definite.
bool choldc(float** a, int n, float* p);
bool dcholdc(double** a, int n, double* p);
// Solves A x = b with the factor left by choldc/dcholdc; b is not changed. b and x
// may be the same array. Returns true.
bool cholsl(float** a, int n, const float* p, const float* b, float* x);
bool dcholsl(double** a, int n, const double* p, const double* b, double* x);

// A factor of dcholdc from which unknowns are deleted one at a time: a deleted
// unknown k has p[k] = 0 and zeros in row and column k below the diagonal; the
// upper triangle of a (the matrix itself) is never touched.
// CholeskyDeleteUnknown deletes unknown q (nothing happens when p[q] is already 0).
// The trailing block of the reduced matrix is L33 L33' + l l' (l the column of q
// below the diagonal), so a sweep of Givens rotations updates the factor in
// O((n - q)^2) instead of a new factorisation. With y != nullptr, y[1..n] is the
// forward solution L y = b and is rotated with the factor, so that it stays the
// forward solution of the reduced system for the same b (y[q] = 0). Returns false
// when a new diagonal element is not positive and finite: the factor is then
// unusable and must be computed anew from the upper triangle.
bool CholeskyDeleteUnknown(double** a, int n, double* p, int q, double* y);
// Forward (L y = b) and back (L' x = y) substitution with such a factor; deleted
// unknowns get y = 0 and x = 0. y and b, or x and y, may be the same array.
void CholeskyForwardSkipDeleted(double** a, int n, const double* p, const double* b, double* y);
void CholeskyBackSkipDeleted(double** a, int n, const double* p, const double* y, double* x);

// Solves A x = b by ludcmp and lubksb; the solution replaces b. With copyA the
// decomposition works on a copy and A is unchanged; otherwise A is overwritten by
// its LU factors.
void SolveLinearSystem(float** A, float* b, int n, bool copyA);
void SolveLinearSystem(double** A, double* b, int n, bool copyA);

// Solves the symmetric system A x = b into x; A and b are unchanged. p[1..n]
// receives the Cholesky diagonal. Returns 1 when the Cholesky route was taken, 0
// when A was not positive definite and the LU fall-back solved it.
int SolveSymmetricSystem(double** A, const double* b, int n, double* x, double* p);
// As SolveSymmetricSystem, but parameters without influence (rows of A that are
// entirely 0.0) are first removed with their columns and get x = 0; the remaining
// system is solved by Cholesky, or LU when it is not positive definite. Returns 1
// whenever rows were removed (either route), else as SolveSymmetricSystem.
int SolveSymmetricSystemSkipZeroRows(double** A, const double* b, int n, double* x,
                                     double* p);
// Float counterpart of SolveSymmetricSystem with the solution replacing b; A is
// unchanged. Returns 1 for the Cholesky route, 0 for the LU fall-back.
int SolveSymmetricSystemInPlace(float** A, float* b, int n);

// Non-negative least squares on the normal equations A x = b (A = J^T J,
// b = J^T y) by the active-set method of Lawson and Hanson; the solution replaces b
// and is never negative. A is only read, so it is unchanged whatever copyA says
// (the flag is kept for the callers that ask for an untouched matrix).
// Parameters without influence (all-zero rows of A) are held at 0.
// Returns true when the solution satisfies the optimality conditions. Returns false
// when a passive subsystem is not positive definite or the iteration limit is
// reached: b then holds the last feasible (non-negative) iterate, never an
// unconstrained solution.
bool NNLSNormalEquations(float** A, float* b, int n, bool copyA);

// Error codes of the double-precision NNLS below (the serialize-fit series uses the
// same numbers for the same texts).
inline constexpr int kNNLSConverged = 0;
inline constexpr int kNNLSIterationLimit = 1;       // "max #iteration exceeded in NNLS"
inline constexpr int kNNLSNotPositiveDefinite = 2;  // "matrix not positive definite in NNLS"

// Double-precision non-negative least squares on normal equations A x = b (A =
// J^T J, b = J^T y, 1..n) by the active-set method of Lawson and Hanson, with the
// work storage passed in by the caller (each 1..n): the gradient w, the passive
// subsystem work (n x n), its right-hand side workRhs, the Cholesky diagonal diag,
// the compressed subsystem solution sub, the trial solution on all unknowns trial,
// the passive flags and the passive indices index. A and b are only read.
// The outer steps stop when no unknown held at 0 has a gradient above 1e-10; their
// number is limited to n x n. Each passive subsystem is solved by
// SolveSymmetricSystem. Parameters without influence (all-zero rows of A) are held
// at 0. Returns true, with *errorCode = kNNLSConverged, when x satisfies the
// optimality conditions. Otherwise the failure ("max #iteration exceeded in NNLS",
// "matrix not positive definite in NNLS") is shown in the error box without ending
// the program, *errorCode holds its code, and x holds the last feasible iterate,
// which is never negative (never an unconstrained solution).
bool NNLS(double** A, const double* b, double* x, int n, double* w, double** work, double* workRhs,
          double* diag, double* sub, double* trial, int* passive, int* index, int* errorCode);

// Savitzky-Golay filter coefficients c[1..np] for a window of nl points to the left
// and nr to the right, derivative order ld, polynomial order m, in wrap-around
// order: c[1] the centre, c[2..nl+1] the offsets -1..-nl, c[np] down to
// c[np-nr+1] the offsets +1..+nr (other entries 0).
// A window too small for the order (nl + nr < m, as at the ends of a curve) is
// fitted with the highest order it supports, nl + nr. Invalid windows (np <
// nl+nr+1, nl < 0, nr < 0, ld > m, or a derivative order above what the window
// supports, ld > nl + nr) call nrerror("bad args in savgol").
void savgol(float* c, int np, int nl, int nr, int ld, int m);

}  // namespace tarmic
