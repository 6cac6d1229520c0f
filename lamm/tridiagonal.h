// Tridiagonal systems of the finite-element Lamm solvers: products, the Thomas
// algorithm that keeps its factors for re-use, and the Crank-Nicolson matrices.
//
// A tridiagonal matrix is three one-based double arrays over rows 1..N: sub[i]
// couples node i to node i-1, diag[i] is the diagonal, sup[i] couples node i to
// node i+1 (sub[1] and sup[N] are not used).
//
// Every solve may be restricted to an active window: with a first row s > 1 the
// unknowns 1..s-1 are taken as 0 (an emptied region near the meniscus); the
// elimination still runs over all rows, so that the pivots of rows s.. are those of
// the whole matrix. Every pivot is tested: a pivot that is zero, tiny against its
// row, or not finite makes the solve fail without producing a result.
#pragma once

namespace tarmic {

struct Tridiagonal {
  double* sub = nullptr;
  double* diag = nullptr;
  double* sup = nullptr;
  // Row i from its three entries {sub, diag, sup}.
  void SetRow(int i, const double (&row)[3]) const {
    sub[i] = row[0];
    diag[i] = row[1];
    sup[i] = row[2];
  }
};
struct ConstTridiagonal {
  const double* sub = nullptr;
  const double* diag = nullptr;
  const double* sup = nullptr;
  ConstTridiagonal() = default;
  ConstTridiagonal(const double* l, const double* d, const double* u) : sub(l), diag(d), sup(u) {}
  ConstTridiagonal(const Tridiagonal& t) : sub(t.sub), diag(t.diag), sup(t.sup) {}  // NOLINT
};

// Result of a factorising solve.
enum class TridagStatus {
  Ok = 0,
  FirstPivot = 1,  // the first pivot vanished ("Error 1 in tridag")
  LaterPivot = 2,  // a later pivot vanished ("Error 2 in tridag")
};
// The message of a failed solve: "Error 1 in tridag" or "Error 2 in tridag".
const char* TridagMessage(TridagStatus status);

// The kept factors of a solve: multipliers gam[2..n] and reciprocal pivots
// bet[1..n] = 1 / pivot (a repeated solve then multiplies instead of dividing in its
// serial forward sweep).
struct TridagFactors {
  double* gam = nullptr;
  double* bet = nullptr;
};

// out = T v over rows 1..n with node n as the last row (T's row n has no super
// entry). With first > 1 (an active window) out[1..first-1] = 0 and the rows from
// first on are computed (row first reads v[first-1], which the caller keeps 0 or
// valid).
void TridiagProduct(ConstTridiagonal T, const double* v, double* out, int n, int first = 1);
// out = (a A + b B) v over rows 1..n (rows 1 and n without their outer entries).
void CombinedTridiagProduct(double a, ConstTridiagonal A, double b, ConstTridiagonal B,
                            const double* v, double* out, int n);

// Solves T u = rhs over rows 1..n by the Thomas algorithm and keeps the factors.
// With first > 1, u[1..first-1] = 0 and only u[first..n] are solved for. On a
// failed pivot u is not written and the status tells which pivot failed. The
// substitutions are those of TridagReuseSolve: a repeated solve gives the same bits.
TridagStatus TridagFactorSolve(ConstTridiagonal T, const double* rhs, double* u, int n,
                               TridagFactors f, int first = 1);
// Solves again with the factors of the last TridagFactorSolve of the same matrix
// (only its sub-diagonal is read).
void TridagReuseSolve(const double* sub, const double* rhs, double* u, int n, TridagFactors f,
                      int first = 1);
// TridiagProduct(E, v, rhs, n, first) followed by TridagReuseSolve(sub, rhs, u, n, f,
// first) in one pass over the rows, with the same bits (1 <= first < n; rhs is
// written as the product writes it, u must not alias v or rhs).
void TridagProductReuseSolve(ConstTridiagonal E, const double* v, const double* sub, double* rhs,
                             double* u, int n, TridagFactors f, int first = 1);

// Crank-Nicolson matrices of M dc/dt = A c for a step dt, rows from..to:
// implicit (left-hand) = M - dt/2 A, explicit (right-hand) = M + dt/2 A; the step
// solves implicit c_new = explicit c_old.
void FormCrankNicolson(ConstTridiagonal M, ConstTridiagonal A, double dt, Tridiagonal implicitM,
                       Tridiagonal explicitM, int from, int to);

// True when every value v[from..to] is finite and at most limit in magnitude.
bool ProfileFinite(const double* v, int from, int to, double limit);

}  // namespace tarmic
