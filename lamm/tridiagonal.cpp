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

// Back substitution u_j = y_j - gam_j+1 u_j+1 for j = last-1 down to first (y the
// forward solution in u). Two rows per round from the final u_j+1:
//   u_j = y_j - gam_j+1 u_j+1,  u_j-1 = (y_j-1 - gam_j y_j) + (gam_j gam_j+1) u_j+1,
// so that the serial chain is one multiply and one add per two rows; everything
// else is formed off it.
inline void BackSubstitute(const double* gam, double* u, int first, int last) {
  int j = last - 1;
  double next = u[last];
  for (; j - 1 >= first; j -= 2) {
    const double yj = u[j], yPrev = u[j - 1];
    u[j] = yj - gam[j + 1] * next;
    next = (yPrev - gam[j] * yj) + (gam[j] * gam[j + 1]) * next;
    u[j - 1] = next;
  }
  if (j >= first) u[j] -= gam[j + 1] * next;
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
  // Elimination over every row (the pivots of the window rows depend on the rows
  // before them). The pivot recurrence bet_j = diag_j - (sub_j sup_j-1) / bet_j-1 is
  // the serial part: the product sub_j sup_j-1 is formed off it, so each row waits
  // for one reciprocal, one multiply and one subtraction.
  double bet = T.diag[1];
  if (!PivotUsable(bet, T.diag[1], 0.0)) return TridagStatus::FirstPivot;
  double inv = 1.0 / bet;
  f.bet[1] = inv;
  for (int j = 2; j <= n; ++j) {
    const double coupling = T.sub[j] * T.sup[j - 1];
    const double correction = coupling * inv;
    f.gam[j] = T.sup[j - 1] * inv;
    bet = T.diag[j] - correction;
    if (!PivotUsable(bet, T.diag[j], correction)) return TridagStatus::LaterPivot;
    inv = 1.0 / bet;
    f.bet[j] = inv;
  }
  // The substitutions, the same as those of a repeated solve (the same bits).
  TridagReuseSolve(T.sub, rhs, u, n, f, first);
  return TridagStatus::Ok;
}

void TridagReuseSolve(const double* sub, const double* rhs, double* u, int n, TridagFactors f,
                      int first) {
  assert(n >= 1 && first >= 1 && first <= n);
  for (int k = 1; k < first; ++k) u[k] = 0.0;
  // u_j = a_j - m_j u_j-1 with a_j = rhs_j bet_j, m_j = sub_j bet_j formed off the
  // serial chain; two rows per round from the final u_j-1:
  //   u_j = a_j - m_j u_j-1,  u_j+1 = (a_j+1 - m_j+1 a_j) + (m_j+1 m_j) u_j-1,
  // one multiply and one add per two rows on the chain. The last value solved is
  // carried in a register (a load of a value just stored would lengthen the chain).
  const double* bet = f.bet;
  double prev = u[first] = rhs[first] * bet[first];  // u[first - 1] is 0 (or absent)
  int j = first + 1;
  for (; j + 1 <= n; j += 2) {
    const double a0 = rhs[j] * bet[j], m0 = sub[j] * bet[j];
    const double a1 = rhs[j + 1] * bet[j + 1], m1 = sub[j + 1] * bet[j + 1];
    u[j] = a0 - m0 * prev;
    prev = (a1 - m1 * a0) + (m1 * m0) * prev;
    u[j + 1] = prev;
  }
  if (j <= n) u[j] = rhs[j] * bet[j] - (sub[j] * bet[j]) * prev;
  BackSubstitute(f.gam, u, first, n);
}

void TridagProductReuseSolve(ConstTridiagonal E, const double* v, const double* sub, double* rhs,
                             double* u, int n, TridagFactors f, int first) {
  assert(n >= 2 && first >= 1 && first < n);
  for (int k = 1; k < first; ++k) rhs[k] = u[k] = 0.0;
  // The rows of E v as TridiagProduct forms them, each just before the forward
  // substitution takes it: the product's multiplications run while the
  // substitution's chain waits, and the rows are read once.
  auto inner = [&](int i) { return E.sub[i] * v[i - 1] + E.diag[i] * v[i] + E.sup[i] * v[i + 1]; };
  const double* bet = f.bet;
  rhs[first] = first == 1 ? E.diag[1] * v[1] + E.sup[1] * v[2] : inner(first);
  double prev = u[first] = rhs[first] * bet[first];
  int j = first + 1;
  // Pairs of rows as TridagReuseSolve takes them; row n has no super entry.
  for (; j + 2 <= n; j += 2) {
    const double r0 = inner(j), r1 = inner(j + 1);
    rhs[j] = r0;
    rhs[j + 1] = r1;
    const double a0 = r0 * bet[j], m0 = sub[j] * bet[j];
    const double a1 = r1 * bet[j + 1], m1 = sub[j + 1] * bet[j + 1];
    u[j] = a0 - m0 * prev;
    prev = (a1 - m1 * a0) + (m1 * m0) * prev;
    u[j + 1] = prev;
  }
  const double last = E.sub[n] * v[n - 1] + E.diag[n] * v[n];
  if (j + 1 == n) {
    const double r0 = inner(j);
    rhs[j] = r0;
    rhs[n] = last;
    const double a0 = r0 * bet[j], m0 = sub[j] * bet[j];
    const double a1 = last * bet[n], m1 = sub[n] * bet[n];
    u[j] = a0 - m0 * prev;
    prev = (a1 - m1 * a0) + (m1 * m0) * prev;
    u[n] = prev;
  } else if (j == n) {
    rhs[n] = last;
    u[n] = last * bet[n] - (sub[n] * bet[n]) * prev;
  }
  BackSubstitute(f.gam, u, first, n);
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
