#include "lamm/tridiagonal.h"

#include <cassert>
#include <cmath>
#include <limits>

namespace tarmic {

namespace {

// A pivot is accepted when it is finite and not negligible against the entries it
// was formed from; a cancellation to below 1e-14 of them leaves no digits.
inline bool PivotUsable(double bet, double diag, double correction) {
  const double scale = std::fabs(diag) + std::fabs(correction);
  return std::isfinite(bet) && std::fabs(bet) > 1e-14 * scale && bet != 0.0;
}

}  // namespace

const char* TridagMessage(TridagStatus status) {
  switch (status) {
    case TridagStatus::FirstPivot: return "Error 1 in tridag";
    case TridagStatus::LaterPivot: return "Error 2 in tridag";
    default: return "";
  }
}

void TridiagProduct(ConstTridiagonal T, const double* v, double* out, int n, int first) {
  assert(n >= 2 && first >= 1 && first < n);
  int i = first;
  if (first > 1) {
    for (int k = 1; k < first; ++k) out[k] = 0.0;
  } else {
    out[1] = T.diag[1] * v[1] + T.sup[1] * v[2];
    i = 2;
  }
  for (; i < n; ++i) out[i] = T.sub[i] * v[i - 1] + T.diag[i] * v[i] + T.sup[i] * v[i + 1];
  out[n] = T.sub[n] * v[n - 1] + T.diag[n] * v[n];
}

void CombinedTridiagProduct(double a, ConstTridiagonal A, double b, ConstTridiagonal B,
                            const double* v, double* out, int n) {
  assert(n >= 2);
  out[1] = (a * A.diag[1] + b * B.diag[1]) * v[1] + (a * A.sup[1] + b * B.sup[1]) * v[2];
  for (int i = 2; i < n; ++i) {
    out[i] = (a * A.sub[i] + b * B.sub[i]) * v[i - 1] + (a * A.diag[i] + b * B.diag[i]) * v[i] +
             (a * A.sup[i] + b * B.sup[i]) * v[i + 1];
  }
  out[n] = (a * A.sub[n] + b * B.sub[n]) * v[n - 1] + (a * A.diag[n] + b * B.diag[n]) * v[n];
}

TridagStatus TridagFactorSolve(ConstTridiagonal T, const double* rhs, double* u, int n,
                               TridagFactors f, int first) {
  assert(n >= 1 && first >= 1 && first <= n);
  // Forward elimination over every row (the pivots of the window rows depend on the
  // rows before them); the unknowns before the window are 0.
  double bet = T.diag[1];
  if (!PivotUsable(bet, T.diag[1], 0.0)) return TridagStatus::FirstPivot;
  double inv = 1.0 / bet;
  f.bet[1] = inv;
  for (int k = 1; k < first; ++k) u[k] = 0.0;
  if (first == 1) u[1] = rhs[1] * inv;
  for (int j = 2; j <= n; ++j) {
    const double gam = T.sup[j - 1] * inv;
    const double correction = T.sub[j] * gam;
    bet = T.diag[j] - correction;
    if (!PivotUsable(bet, T.diag[j], correction)) return TridagStatus::LaterPivot;
    inv = 1.0 / bet;
    f.gam[j] = gam;
    f.bet[j] = inv;
    if (j >= first) u[j] = (rhs[j] - T.sub[j] * (j > first ? u[j - 1] : 0.0)) * inv;
  }
  // Back substitution.
  for (int j = n - 1; j >= first; --j) u[j] -= f.gam[j + 1] * u[j + 1];
  return TridagStatus::Ok;
}

void TridagReuseSolve(const double* sub, const double* rhs, double* u, int n, TridagFactors f,
                      int first) {
  assert(n >= 1 && first >= 1 && first <= n);
  for (int k = 1; k < first; ++k) u[k] = 0.0;
  u[first] = rhs[first] * f.bet[first];  // u[first - 1] is 0 (or absent)
  for (int j = first + 1; j <= n; ++j) u[j] = (rhs[j] - sub[j] * u[j - 1]) * f.bet[j];
  for (int j = n - 1; j >= first; --j) u[j] -= f.gam[j + 1] * u[j + 1];
}

void FormCrankNicolson(ConstTridiagonal M, ConstTridiagonal A, double dt, Tridiagonal implicitM,
                       Tridiagonal explicitM, int from, int to) {
  const double half = dt / 2;
  for (int i = from; i <= to; ++i) {
    implicitM.sub[i] = M.sub[i] - half * A.sub[i];
    implicitM.diag[i] = M.diag[i] - half * A.diag[i];
    implicitM.sup[i] = M.sup[i] - half * A.sup[i];
    explicitM.sub[i] = M.sub[i] + half * A.sub[i];
    explicitM.diag[i] = M.diag[i] + half * A.diag[i];
    explicitM.sup[i] = M.sup[i] + half * A.sup[i];
  }
}

bool ProfileFinite(const double* v, int from, int to, double limit) {
  // One comparison per value: a NaN fails every comparison and an infinity exceeds
  // the largest finite limit. Four independent flags keep the comparisons from
  // waiting on each other.
  const double bound = std::fmin(limit, std::numeric_limits<double>::max());
  bool ok0 = true, ok1 = true, ok2 = true, ok3 = true;
  int i = from;
  for (; i + 3 <= to; i += 4) {
    ok0 &= std::fabs(v[i]) <= bound;
    ok1 &= std::fabs(v[i + 1]) <= bound;
    ok2 &= std::fabs(v[i + 2]) <= bound;
    ok3 &= std::fabs(v[i + 3]) <= bound;
  }
  for (; i <= to; ++i) ok0 &= std::fabs(v[i]) <= bound;
  return ok0 && ok1 && ok2 && ok3;
}

}  // namespace tarmic
