// The solve of the reacting system (reacting_solve.h): it reads its values from the
// SimInput and no part of the analysis but the run's working state.
#include "propagators/reacting_solve.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "lamm/step_control.h"
#include "lamm/element_integrals.h"
#include "lamm/fe_assembly.h"
#include "lamm/moving_hat_core.h"
#include "numerics/hydrodynamics.h"
#include "propagators/flux_tables.h"
#include "propagators/sim_arrays.h"

namespace tarmic {

namespace {

// (column j, partner node k) offsets of the seven patterns, in kElementPairs order.
constexpr int kPairColumn[kElementPairs] = {0, -1, 0, -1, 1, 0, 1};
constexpr int kPairNode[kElementPairs] = {-1, -1, 0, 0, 0, 1, 1};

// The running solve.
struct ReactRun {
  int N = 0;
  std::vector<double> work;  // block elimination: 6 values per node
  double fixedDt = 1.0;      // s
  TridagStatus tridag = TridagStatus::Ok;
  // Per step of length dt: the complex coefficients G = E/dt + F/2 (end levels) and
  // H = -E/dt + F/2 (start levels) of each pattern, and the part of the residuals
  // that depends on the start levels only.
  double coefDt = 0.0;
  std::vector<double> G[kElementPairs], H[kElementPairs];
  std::vector<double> startA, startB;
  // M/dt + T_A/2 and M/dt + T_B/2 of the step, by column offset -1, 0, 1.
  std::vector<double> baseA[3], baseB[3];
  // The residuals in pLammRhs / pTridagGamma belong to the present levels.
  bool residualCurrent = false;
  double residual = 0.0;
  double dReactOmega2 = 0.0;   // (rpm 2 pi / 60)^2 1e-13 of the grid built
  double dReactPrevDt = 0.0;   // length of the previous accepted step, s (0 before the first)
  double dFluxMismatch = 0.0;  // mean over the nodes of |FluxA - FluxB|
  int nCorrectorPasses = 0;    // passes of the last step
  ReactingValues values;       // of the solve (LayReactingLoading)
  ReactingDerived derived;
};
// This module's own state in the analysis.
struct LocalState {
  ReactRun gReact{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

int Nodes() { return LammArrays().nSimGridPointsAllocated; }

ConstTridiagonal MassMatrix(const SimWorkArrays& arrays) { return SimMassMatrix(arrays); }
ConstTridiagonal TransA(const SimWorkArrays& arrays) {
  return {arrays.pTransALower, arrays.pTransADiag, arrays.pTransAUpper};
}
ConstTridiagonal TransB(const SimWorkArrays& arrays) {
  return {arrays.pTransBLower, arrays.pTransBDiag, arrays.pTransBUpper};
}
// A Newton update below this (relative to the largest level) ends the passes.
constexpr double kNewtonTolerance = 1e-9;

// Row i of A v (row 1 without the lower, row n without the upper term).
double RowProduct(ConstTridiagonal A, const double* v, int i, int n) {
  double sum = A.diag[i] * v[i];
  if (i > 1) sum += A.sub[i] * v[i - 1];
  if (i < n) sum += A.sup[i] * v[i + 1];
  return sum;
}

double MeanFluxMismatch() {
  const SimWorkArrays& arrays = SimWork();
  const int n = Nodes();
  double sum = 0.0;
  for (int i = 1; i <= n; ++i) sum += std::fabs(arrays.pFluxA[i] - arrays.pFluxB[i]);
  return sum / n;
}

// Relative change of the total signal between the Old and the new level.
double SignalChange() {
  auto& lammArraysPart = LammArrays();
  const SimWorkArrays& arrays = SimWork();
  const int n = Nodes();
  double change = 0.0, scale = 1e-300;
  for (int i = 1; i <= n; ++i) {
    change = std::max(change, std::fabs(lammArraysPart.pLammConc[i] - arrays.pLammConcOld[i]));
    scale = std::max(scale, std::fabs(arrays.pLammConcOld[i]));
  }
  return change / scale;
}

bool InputValid(const SimInput& in) {
  const ReactingValues& v = in.reacting;
  const SimRunSettings& st = in.settings;
  auto& simRunPart = SimRun();
  const float values[] = {v.sA, v.sB, v.sAB, v.DA, v.DB, v.DAB, v.aTot, v.bTot, v.exticoA, v.exticoB, v.logKa};
  for (float x : values)
    if (!std::isfinite(x)) return false;
  const double ka = std::pow(10.0, static_cast<double>(v.logKa));
  return v.DA >= 0 && v.DB >= 0 && v.DAB >= 0 && v.aTot >= 0 && v.bTot >= 0 &&
         v.exticoA > 0 && v.exticoB > 0 && std::isfinite(static_cast<float>(ka)) &&
         static_cast<float>(ka) > 0 && std::isfinite(simRunPart.dSimRpm) && simRunPart.dSimRpm >= 0 &&
         st.meniscus > 0 && st.bottom > st.meniscus && std::isfinite(st.bottom) &&
         std::isfinite(simRunPart.dMaxRelChange) && simRunPart.dMaxRelChange > 0 && simRunPart.dMaxRelChange < 1e10;
}

// Run state of the solve: bShowSimMass on during the solve and as it was
// afterwards.
class ReactingRunGuard {
 public:
  ReactingRunGuard() : saved(SimClock().bShowSimMass) { SimClock().bShowSimMass = true; }
  ~ReactingRunGuard() {
    SimClock().bShowSimMass = saved;
  }
  ReactingRunGuard(const ReactingRunGuard&) = delete;
  ReactingRunGuard& operator=(const ReactingRunGuard&) = delete;

 private:
  bool saved;
};

}  // namespace

// ---- grid and matrices ----

void BuildReactingGrid(double meniscus, double bottom) {
  auto& localPart = Local();
  auto& simRunPart = SimRun();
  auto& lammArraysPart = LammArrays();
  const int N = Nodes();
  const double w = simRunPart.dSimRpm * kTwoPiOver60;
  localPart.gReact.dReactOmega2 = w * w * 1e-13;
  // The geometric grid of the moving hat, here at rest.
  LayMovingHatGrid(lammArraysPart.pLammRadius, N, meniscus, bottom, false);
  if (lammArraysPart.pLammRadius2)
    for (int i = 1; i <= N; ++i) lammArraysPart.pLammRadius2[i] = lammArraysPart.pLammRadius[i];
}

void BuildReactingMatrices() {
  auto& lammArraysPart = LammArrays();
  auto& localPart = Local();
  const ReactingValues& v = localPart.gReact.values;
  const SimWorkArrays& arrays = SimWork();
  const int N = Nodes();
  const double* r = lammArraysPart.pLammRadius;
  const double w2 = localPart.gReact.dReactOmega2, ka = localPart.gReact.derived.ka;
  const double DA = v.DA, DB = v.DB, DAB = v.DAB;
  const double sA = v.sA, sB = v.sB, sAB = v.sAB;
  for (int i = 1; i <= N; ++i) {
    double* massRow[3] = {arrays.pMassLower, arrays.pMassDiag, arrays.pMassUpper};
    double* aRow[3] = {arrays.pTransALower, arrays.pTransADiag, arrays.pTransAUpper};
    double* bRow[3] = {arrays.pTransBLower, arrays.pTransBDiag, arrays.pTransBUpper};
    for (int c = 0; c < 3; ++c) {
      const int j = i - 1 + c;
      const bool inside = j >= 1 && j <= N;
      const double m = inside ? static_cast<double>(IntegrateMassElement(r, N, i, j, N)) : 0.0;
      const double K = inside ? static_cast<double>(IntegrateStiffnessElement(r, N, i, j, N)) : 0.0;
      const double S =
          inside ? static_cast<double>(IntegrateSedimentationElement(r, N, i, j, N)) : 0.0;
      massRow[c][i] = m;
      aRow[c][i] = DA * K - w2 * sA * S;
      bRow[c][i] = DB * K - w2 * sB * S;
    }
    for (int p = 0; p < kElementPairs; ++p) {
      const int j = i + kPairColumn[p], k = i + kPairNode[p];
      const double E = static_cast<double>(IntegrateMassElement3(r, N, i, j, k));
      const double P = static_cast<double>(IntegrateProductStiffnessElement3Ref(r, N, i, j, k));
      const double S3 = static_cast<double>(IntegrateSedimentationElement3(r, N, i, j, k));
      arrays.pComplexMassElem[p][i] = ka * E;
      arrays.pComplexTransportElem[p][i] = ka * (DAB * P - w2 * sAB * S3);
    }
    arrays.pReactNodeWeight[i] = static_cast<double>(IntegrateNodeWeight(r, N, i, N));
  }
}

// ---- equilibrium and signal ----

namespace {

// The loading concentrations of all A and all B and of the complex (the smaller
// root of Ka (a - x)(b - x) = x) with Ka as the solve takes it.
struct Loading {
  double a, b, ab0;
};
Loading LoadingOf(const ReactingValues& v, double ka) {
  const double a = static_cast<double>(v.aTot) / v.exticoA;
  const double b = static_cast<double>(v.bTot) / v.exticoB;
  // x^2 - q x + a b = 0, q = a + b + 1/Ka; written as 2ab / (q + sqrt(q^2 - 4ab)) so
  // that it keeps its digits when Ka is small.
  const double q = a + b + 1.0 / ka;
  const double disc = std::max(0.0, q * q - 4.0 * a * b);
  return {a, b, a * b > 0 ? 2.0 * a * b / (q + std::sqrt(disc)) : 0.0};
}

}  // namespace

ReactingDerived ReactingEquilibrium(const ReactingValues& v) {
  ReactingDerived d;
  d.ka = static_cast<float>(std::pow(10.0, static_cast<double>(v.logKa)));
  d.ab0 = static_cast<float>(LoadingOf(v, d.ka).ab0);
  d.exticoAB = static_cast<double>(v.exticoA) + v.exticoB;
  return d;
}

bool ReactingMassesToD(ReactingValues& values, bool massAndS, double rt, double vRho) {
  float* d[3] = {&values.DA, &values.DB, &values.DAB};
  const float s[3] = {values.sA, values.sB, values.sAB};
  if (!massAndS) {
    for (float* v : d) *v *= 1e-7f;
    return true;
  }
  const double buoyancy = 1.0 - vRho;
  if (!(buoyancy > 0) || !(rt > 0)) return false;
  for (float* v : d)
    if (!(*v > 0)) return false;
  for (int k = 0; k < 3; ++k) *d[k] = static_cast<float>(s[k] * 1e-13 * rt / (buoyancy * *d[k]));
  return true;
}

ReactingDerived LayReactingLoading(const ReactingValues& v) {
  auto& lammArraysPart = LammArrays();
  auto& localPart = Local();
  const SimWorkArrays& arrays = SimWork();
  const ReactingDerived d = ReactingEquilibrium(v);
  localPart.gReact.values = v;
  localPart.gReact.derived = d;
  const auto [a, b, ab0] = LoadingOf(v, d.ka);
  if (!lammArraysPart.pFreeA || !lammArraysPart.pFreeB || !lammArraysPart.pLammConc) return d;
  const int N = Nodes();
  const double A = std::max(0.0, a - ab0), B = std::max(0.0, b - ab0);
  for (int i = 1; i <= N; ++i) {
    lammArraysPart.pFreeA[i] = arrays.pFreeAOld[i] = arrays.pFreeAOlder[i] = A;
    lammArraysPart.pFreeB[i] = arrays.pFreeBOld[i] = arrays.pFreeBOlder[i] = B;
  }
  ComputeReactingSignal();
  return d;
}

void ComputeReactingSignal() {
  auto& lammArraysPart = LammArrays();
  const ReactRun& g = Local().gReact;
  const int N = Nodes();
  const double ea = g.values.exticoA, eb = g.values.exticoB, ka = g.derived.ka;
  for (int i = 1; i <= N; ++i) {
    const double A = lammArraysPart.pFreeA[i], B = lammArraysPart.pFreeB[i];
    lammArraysPart.pComplex[i] = ka * A * B;
    lammArraysPart.pLammConc[i] = ea * A + eb * B + g.derived.exticoAB * lammArraysPart.pComplex[i];
  }
}

// ---- the coupled step ----

void ComputeReactionFlux(double* out, const double* X, const double* Y, double h,
                         ConstTridiagonal T) {
  const SimWorkArrays& arrays = SimWork();
  const int n = Nodes();
  if (h == 0) {
    std::fill(out + 1, out + n + 1, 0.0);
    return;
  }
  double* xbar = arrays.pReactPartner;
  double* xdot = arrays.pReactPartnerRate;
  for (int i = 1; i <= n; ++i) {
    xbar[i] = 0.5 * (X[i] + Y[i]);
    xdot[i] = (X[i] - Y[i]) / h;
  }
  const ConstTridiagonal M = MassMatrix(arrays);
  for (int i = 1; i <= n; ++i) out[i] = RowProduct(T, xbar, i, n) + RowProduct(M, xdot, i, n);
}

namespace {

// The complex term of a step of length dt is the change of E[A B] over dt plus the
// mean of F[A B] at both ends (the complex's own Crank-Nicolson step): in row i,
//   sum over the patterns p of G_p (a_j b_k) + H_p (A0_j B0_k)
// with G = E/dt + F/2 for the end levels (a, b) and H = -E/dt + F/2 for the start
// levels (A0, B0). E and F are symmetric in (j, k), so the term is the same in the
// equations of A and of B.

// Coefficients of a step of length dt (formed again only when dt changes).
void PrepareComplexCoefficients(double dt, int n) {
  auto& localPart = Local();
  const SimWorkArrays& arrays = SimWork();
  ReactRun& g = localPart.gReact;
  if (g.coefDt == dt && g.startA.size() == static_cast<std::size_t>(n + 1)) return;
  g.coefDt = dt;
  for (int p = 0; p < kElementPairs; ++p) {
    g.G[p].assign(n + 1, 0.0);
    g.H[p].assign(n + 1, 0.0);
    for (int i = 1; i <= n; ++i) {
      const int j = i + kPairColumn[p], k = i + kPairNode[p];
      if (j < 1 || j > n || k < 1 || k > n) continue;  // patterns outside the grid
      g.G[p][i] = arrays.pComplexMassElem[p][i] / dt + 0.5 * arrays.pComplexTransportElem[p][i];
      g.H[p][i] = -arrays.pComplexMassElem[p][i] / dt + 0.5 * arrays.pComplexTransportElem[p][i];
    }
  }
  g.startA.assign(n + 1, 0.0);
  g.startB.assign(n + 1, 0.0);
  const ConstTridiagonal M = MassMatrix(arrays), TA = TransA(arrays), TB = TransB(arrays);
  const double* m[3] = {M.sub, M.diag, M.sup};
  const double* ta[3] = {TA.sub, TA.diag, TA.sup};
  const double* tb[3] = {TB.sub, TB.diag, TB.sup};
  for (int c = 0; c < 3; ++c) {
    g.baseA[c].assign(n + 1, 0.0);
    g.baseB[c].assign(n + 1, 0.0);
    for (int i = 1; i <= n; ++i) {
      g.baseA[c][i] = m[c][i] / dt + 0.5 * ta[c][i];
      g.baseB[c][i] = m[c][i] / dt + 0.5 * tb[c][i];
    }
  }
}

// sum over p of C_p[i] x_j y_k (coefficients of missing patterns are 0; the
// neighbours of the end rows are read as 0).
double PatternSum(const std::vector<double>* C, const double* x, const double* y, int i, int n) {
  const double xl = i > 1 ? x[i - 1] : 0.0, xr = i < n ? x[i + 1] : 0.0;
  const double yl = i > 1 ? y[i - 1] : 0.0, yr = i < n ? y[i + 1] : 0.0;
  const double xi = x[i], yi = y[i];
  return C[0][i] * xi * yl + C[1][i] * xl * yl + C[2][i] * xi * yi + C[3][i] * xl * yi +
         C[4][i] * xr * yi + C[5][i] * xi * yr + C[6][i] * xr * yr;
}

// The part of the residuals that depends on the start levels of the step:
// (M X0)/dt - (T X0)/2 - sum H (A0 B0) for X = A, B.
void PrepareStartResiduals(double dt, int n) {
  auto& localPart = Local();
  const SimWorkArrays& arrays = SimWork();
  ReactRun& g = localPart.gReact;
  const ConstTridiagonal M = MassMatrix(arrays), TA = TransA(arrays), TB = TransB(arrays);
  for (int i = 1; i <= n; ++i) {
    const double complex = PatternSum(g.H, arrays.pFreeAOld, arrays.pFreeBOld, i, n);
    g.startA[i] = RowProduct(M, arrays.pFreeAOld, i, n) / dt -
                  0.5 * RowProduct(TA, arrays.pFreeAOld, i, n) - complex;
    g.startB[i] = RowProduct(M, arrays.pFreeBOld, i, n) / dt -
                  0.5 * RowProduct(TB, arrays.pFreeBOld, i, n) - complex;
  }
  g.residualCurrent = false;
}

// Q(x) = G x (tridiagonal, column j, partner node k summed): the derivative of the
// complex term by one species with the other at x.
void ComplexJacobian(const double* x, Tridiagonal out, int n) {
  auto& localPart = Local();
  const std::vector<double>* pattern = localPart.gReact.G;
  // The rows of the pattern, taken once: the stores below cannot move them.
  const double* G[7];
  for (int k = 0; k < 7; ++k) G[k] = pattern[k].data();
  for (int i = 1; i <= n; ++i) {
    const double xl = i > 1 ? x[i - 1] : 0.0, xr = i < n ? x[i + 1] : 0.0, xi = x[i];
    out.sub[i] = i > 1 ? G[1][i] * xl + G[3][i] * xi : 0.0;
    out.diag[i] = G[0][i] * xl + G[2][i] * xi + G[5][i] * xr;
    out.sup[i] = i < n ? G[4][i] * xi + G[6][i] * xr : 0.0;
  }
}

// 2x2 block of row i, column offset c (-1, 0, 1) of the Newton matrix
//   [ M/dt + T_A/2 + Q(b)   Q(a)                ]
//   [ Q(b)                  M/dt + T_B/2 + Q(a) ]
struct Block {
  double aa, ab, ba, bb;
};
// base: the rows of the step's base blocks for c = -1, 0, 1 (baseA, then baseB).
struct BaseRows {
  const double* a[3];
  const double* b[3];
};
Block NewtonBlock(const BaseRows& base, int i, int c, ConstTridiagonal Qa, ConstTridiagonal Qb) {
  const double* qa = c < 0 ? Qa.sub : c > 0 ? Qa.sup : Qa.diag;
  const double* qb = c < 0 ? Qb.sub : c > 0 ? Qb.sup : Qb.diag;
  return {base.a[c + 1][i] + qb[i], qa[i], qb[i], base.b[c + 1][i] + qa[i]};
}

// Solves the block-tridiagonal Newton system for (da, db) by block elimination
// (the Thomas algorithm with 2x2 pivots). False on a vanishing pivot.
bool SolveNewtonSystem(const double* ra, const double* rb, double* da, double* db,
                       int n) {
  const SimWorkArrays& arrays = SimWork();
  const ConstTridiagonal Qa = SimRhsMatrix(arrays), Qb = SimTransportMatrix(arrays);
  LocalState& local = Local();
  std::vector<double>& w = local.gReact.work;  // per node: inverse pivot (4), reduced rhs (2)
  BaseRows base;
  for (int c = 0; c < 3; ++c) {
    base.a[c] = local.gReact.baseA[c].data();
    base.b[c] = local.gReact.baseB[c].data();
  }
  if (w.size() < 6 * static_cast<std::size_t>(n + 1)) w.assign(6 * static_cast<std::size_t>(n + 1), 0.0);
  for (int i = 1; i <= n; ++i) {
    Block D = NewtonBlock(base, i, 0, Qa, Qb);
    double r0 = ra[i], r1 = rb[i];
    if (i > 1) {
      // G = L_i P_(i-1)^-1; D -= G U_(i-1); r -= G r'_(i-1).
      const Block L = NewtonBlock(base, i, -1, Qa, Qb), U = NewtonBlock(base, i - 1, 1, Qa, Qb);
      const double* q = &w[6 * (i - 1)];
      const double g00 = L.aa * q[0] + L.ab * q[2], g01 = L.aa * q[1] + L.ab * q[3];
      const double g10 = L.ba * q[0] + L.bb * q[2], g11 = L.ba * q[1] + L.bb * q[3];
      D.aa -= g00 * U.aa + g01 * U.ba;
      D.ab -= g00 * U.ab + g01 * U.bb;
      D.ba -= g10 * U.aa + g11 * U.ba;
      D.bb -= g10 * U.ab + g11 * U.bb;
      r0 -= g00 * q[4] + g01 * q[5];
      r1 -= g10 * q[4] + g11 * q[5];
    }
    const double det = D.aa * D.bb - D.ab * D.ba;
    const double scale = std::fabs(D.aa * D.bb) + std::fabs(D.ab * D.ba);
    if (!std::isfinite(det) || !(std::fabs(det) > 1e-14 * scale)) {
      Local().gReact.tridag = i == 1 ? TridagStatus::FirstPivot : TridagStatus::LaterPivot;
      SimRun().bSimFailed = 1;
      return false;
    }
    double* q = &w[6 * i];
    const double inv = 1.0 / det;
    q[0] = D.bb * inv;
    q[1] = -D.ab * inv;
    q[2] = -D.ba * inv;
    q[3] = D.aa * inv;
    q[4] = r0;
    q[5] = r1;
  }
  for (int i = n; i >= 1; --i) {
    const double* q = &w[6 * i];
    double r0 = q[4], r1 = q[5];
    if (i < n) {
      const Block U = NewtonBlock(base, i, 1, Qa, Qb);
      r0 -= U.aa * da[i + 1] + U.ab * db[i + 1];
      r1 -= U.ba * da[i + 1] + U.bb * db[i + 1];
    }
    da[i] = q[0] * r0 + q[1] * r1;
    db[i] = q[2] * r0 + q[3] * r1;
  }
  return true;
}

// The residuals of the equations of A and B at the levels pFreeA, pFreeB, negated
// (the right-hand side of the Newton system) into ra, rb; returns the largest.
double StepResiduals(double dt, double* ra, double* rb) {
  auto& lammArraysPart = LammArrays();
  auto& localPart = Local();
  const SimWorkArrays& arrays = SimWork();
  const int n = Nodes();
  const ReactRun& g = localPart.gReact;
  const ConstTridiagonal M = MassMatrix(arrays), TA = TransA(arrays), TB = TransB(arrays);
  double largest = 0.0;
  const double* const freeA = lammArraysPart.pFreeA;
  const double* const freeB = lammArraysPart.pFreeB;
  const double* const startA = g.startA.data();
  const double* const startB = g.startB.data();
  for (int i = 1; i <= n; ++i) {
    const double complex = PatternSum(g.G, freeA, freeB, i, n);
    ra[i] = startA[i] - RowProduct(M, freeA, i, n) / dt - 0.5 * RowProduct(TA, freeA, i, n) - complex;
    rb[i] = startB[i] - RowProduct(M, freeB, i, n) / dt - 0.5 * RowProduct(TB, freeB, i, n) - complex;
    largest = std::max({largest, std::fabs(ra[i]), std::fabs(rb[i])});
  }
  localPart.gReact.residualCurrent = true;
  localPart.gReact.residual = largest;
  return largest;
}

// One Newton iteration of the step at the levels pFreeA, pFreeB; returns the
// largest update relative to the largest level. An update that does not lower the
// residual is halved (up to six times), so that the iteration cannot cycle between
// the two branches of the product A B.
double NewtonPass(double dt) {
  auto& lammArraysPart = LammArrays();
  auto& localPart = Local();
  const SimWorkArrays& arrays = SimWork();
  const int n = Nodes();
  double* ra = arrays.pLammRhs;
  double* rb = arrays.pTridagGamma;
  double* da = arrays.pReactPartner;
  double* db = arrays.pReactPartnerRate;
  // The residuals of the present levels are still at hand after an undamped pass.
  const double before = localPart.gReact.residualCurrent ? localPart.gReact.residual : StepResiduals(dt, ra, rb);
  ComplexJacobian(lammArraysPart.pFreeA, SimRhsMatrix(arrays), n);
  ComplexJacobian(lammArraysPart.pFreeB, SimTransportMatrix(arrays), n);
  if (!SolveNewtonSystem(ra, rb, da, db, n)) return 0.0;
  double theta = 1.0;
  double* const freeA = lammArraysPart.pFreeA;
  double* const freeB = lammArraysPart.pFreeB;
  for (int i = 1; i <= n; ++i) {
    freeA[i] += da[i];
    freeB[i] += db[i];
  }
  localPart.gReact.residualCurrent = false;
  for (int halvings = 0; halvings < 6 && StepResiduals(dt, ra, rb) > before; ++halvings) {
    theta *= 0.5;
    for (int i = 1; i <= n; ++i) {
      freeA[i] -= theta * da[i];
      freeB[i] -= theta * db[i];
    }
    localPart.gReact.residualCurrent = false;
  }
  double change = 0.0, scale = 1e-300;
  for (int i = 1; i <= n; ++i) {
    change = std::max({change, std::fabs(da[i]), std::fabs(db[i])});
    scale = std::max({scale, std::fabs(freeA[i]), std::fabs(freeB[i])});
  }
  return theta * change / scale;
}

// Own-transport residuals of A and B over the step (each is minus the complex
// term when the step is solved) and their mean mismatch.
void UpdateReactionFluxes(double dt) {
  auto& lammArraysPart = LammArrays();
  const SimWorkArrays& arrays = SimWork();
  ComputeReactionFlux(arrays.pFluxA, lammArraysPart.pFreeA, arrays.pFreeAOld, dt, TransA(arrays));
  ComputeReactionFlux(arrays.pFluxB, lammArraysPart.pFreeB, arrays.pFreeBOld, dt, TransB(arrays));
  Local().gReact.dFluxMismatch = MeanFluxMismatch();
}

void UpdateComplex() {
  auto& lammArraysPart = LammArrays();
  const int n = Nodes();
  const double ka = Local().gReact.derived.ka;
  for (int i = 1; i <= n; ++i) lammArraysPart.pComplex[i] = ka * lammArraysPart.pFreeA[i] * lammArraysPart.pFreeB[i];
}

}  // namespace

void CoupledReactingStep() {
  auto& lammArraysPart = LammArrays();
  auto& localPart = Local();
  const ReactingValues& values = localPart.gReact.values;
  auto& simRunPart = SimRun();
  const SimWorkArrays& arrays = SimWork();
  const double dt = simRunPart.dSimDt, h0 = localPart.gReact.dReactPrevDt;
  const int n = Nodes();
  // Predictor: the levels extrapolated along the previous step (the Old levels on
  // the first step), then one Newton iteration of the coupled system.
  const double f = h0 > 0 ? dt / h0 : 0.0;
  for (int i = 1; i <= n; ++i) {
    lammArraysPart.pFreeA[i] =
        std::max(0.0, arrays.pFreeAOld[i] + f * (arrays.pFreeAOld[i] - arrays.pFreeAOlder[i]));
    lammArraysPart.pFreeB[i] =
        std::max(0.0, arrays.pFreeBOld[i] + f * (arrays.pFreeBOld[i] - arrays.pFreeBOlder[i]));
  }
  PrepareComplexCoefficients(dt, n);
  PrepareStartResiduals(dt, n);
  NewtonPass(dt);
  if (simRunPart.bSimFailed) return;
  for (int i = 1; i <= n; ++i) {
    arrays.pFreeATemp[i] = lammArraysPart.pFreeA[i];
    arrays.pFreeBTemp[i] = lammArraysPart.pFreeB[i];
  }
  // The fluxes are shown in the tables and end the passes; they are formed only
  // where they are read.
  const bool tables = values.fluxTables;
  if (tables) {
    UpdateReactionFluxes(dt);
    ShowPredictorFluxTable(localPart.gReact.dFluxMismatch);
  }
  // Corrector passes (Newton iterations) until the update is at rounding level and
  // the two fluxes agree; at least one.
  localPart.gReact.nCorrectorPasses = 0;
  for (;;) {
    if (localPart.gReact.nCorrectorPasses >= values.maxCorrectorPasses) {
      // The coupled system does not converge: the step is not resolved.
      simRunPart.bSimDiverged = 1;
      return;
    }
    ++localPart.gReact.nCorrectorPasses;
    const double change = NewtonPass(dt);
    if (simRunPart.bSimFailed) return;
    if (tables || change <= kNewtonTolerance) UpdateReactionFluxes(dt);
    UpdateComplex();
    if (tables) ShowCorrectorFluxTable(localPart.gReact.dFluxMismatch);
    if (change <= kNewtonTolerance && localPart.gReact.dFluxMismatch < values.fluxMismatchTolerance / dt) break;
  }
}

// ---- time loop ----

void AdvanceReactingTime() {
  auto& simRunPart = SimRun();
  Local().gReact.dReactPrevDt = simRunPart.dSimDt;
  ++simRunPart.nSimIterations;
  SimClock().dSimTime += simRunPart.dSimDt;
  ComputeReactingSignal();
}

double ReactingTimeStep() {
  auto& lammArraysPart = LammArrays();
  auto& localPart = Local();
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  const SimWorkArrays& arrays = SimWork();
  const int N = Nodes();
  double dt = localPart.gReact.fixedDt;
  // Level shift: Older <- Old <- new.
  for (int i = 1; i <= N; ++i) {
    arrays.pFreeAOlder[i] = arrays.pFreeAOld[i];
    arrays.pFreeBOlder[i] = arrays.pFreeBOld[i];
    arrays.pFreeAOld[i] = lammArraysPart.pFreeA[i];
    arrays.pFreeBOld[i] = lammArraysPart.pFreeB[i];
    arrays.pLammConcOld[i] = lammArraysPart.pLammConc[i];
  }
  if (simRunPart.bSimLandOnStop && simClockPart.dSimTime + dt > simRunPart.dSimStopTime) {
    simRunPart.bSimLandOnStop = 0;
    dt = simRunPart.dSimStopTime - simClockPart.dSimTime;
  }
  if (!(dt > 0)) {
    // Two scans at one time: nothing to step.
    simRunPart.dSimDt = localPart.gReact.fixedDt;
    return 0.0;
  }
  simRunPart.dSimDt = dt;
  CoupledReactingStep();
  if (simRunPart.bSimFailed || simRunPart.bSimDiverged) return 0.0;
  AdvanceReactingTime();
  return SignalChange();
}

double ReactingFluxMismatch() { return Local().gReact.dFluxMismatch; }
int ReactingCorrectorPasses() { return Local().gReact.nCorrectorPasses; }

void ResetReactingRun() { Local().gReact = ReactRun{}; }

SimOutcome SolveReactingLamm(const SimInput& input, SimProgress& progress, ReactingDerived* derived) {
  const SimRunSettings& settings = input.settings;
  auto& lammArraysPart = LammArrays();
  auto& localPart = Local();
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  const int N = lammArraysPart.nSimGridPointsAllocated;
  if (!lammArraysPart.bSimArraysAllocated || !lammArraysPart.pFreeA || N < kMinSimGridPoints)
    return {SimStatus::NotAllocated, "could not allocate Lamm simulation arrays"};
  if (!InputValid(input)) return {SimStatus::InvalidInput, "invalid sedimentation parameters"};
  ReactingRunGuard runGuard;
  localPart.gReact = ReactRun{};
  localPart.gReact.N = N;
  localPart.gReact.work.assign(6 * static_cast<std::size_t>(N + 1), 0.0);  // reused by every step
  // The grid is this solver's own and does not move: the recorder must not move
  // it with a frame left from an earlier moving-hat solve.
  simRunPart.bHatGridInUse = false;
  StartFluxTableStepping();

  *derived = LayReactingLoading(input.reacting);
  BuildReactingGrid(settings.meniscus, settings.bottom);
  BuildReactingMatrices();
  simRunPart.fSimChange = 1.0f;
  simRunPart.bSimFailed = simRunPart.bSimDiverged = 0;
  localPart.gReact.fixedDt = simRunPart.dMaxRelChange;
  simRunPart.dSimDt = localPart.gReact.fixedDt;
  simRunPart.dSimMass = ReactingCellAmount(lammArraysPart.pLammConc);
  // The amount of the total signal every recorded profile is measured against: A
  // and B stay in the closed cell, free or bound.
  progress.TakeLoadedAmount(true, 1.0);

  // Steady state: the total signal, compared over windows of at least 30 s.
  SimStopReason reason = SimStopReason::Progress;
  SteadyStateTest steady;
  std::vector<double> windowStart(lammArraysPart.pLammConc, lammArraysPart.pLammConc + N + 1);
  double windowTime = simClockPart.dSimTime;
  TinyStepCount tiny;
  SimStepFloor floor = SimStepFloor::None;
  while (simRunPart.bSimContinue) {
    if (simRunPart.bSimFailed || simRunPart.bSimDiverged) break;
    const double before = simClockPart.dSimTime;
    const double change = ReactingTimeStep();
    if (tiny.AtFloor(simClockPart.dSimTime - before)) {
      floor = SimStepFloor::TinySteps;
      simRunPart.bSimDiverged = 1;
    }
    if (simRunPart.bSimFailed || simRunPart.bSimDiverged) break;
    if (!ProfileFinite(lammArraysPart.pLammConc, 1, N, 1e100)) {
      simRunPart.bSimDiverged = 1;
      break;
    }
    simRunPart.fSimChange = static_cast<float>(change);
    simRunPart.dSimMass = ReactingCellAmount(lammArraysPart.pLammConc);
    progress.Step(change);
    const double elapsed = simClockPart.dSimTime - windowTime;
    if (elapsed >= 30) {
      double diff = 0.0, scale = 1e-300;
      for (int i = 1; i <= N; ++i) {
        diff = std::max(diff, std::fabs(lammArraysPart.pLammConc[i] - windowStart[i]));
        scale = std::max(scale, std::fabs(windowStart[i]));
      }
      // The change over the window itself: a change per second below the limit
      // still adds up over the hours of a slow run (a stop then froze later scans).
      if (steady.Update(elapsed, diff / scale) && simRunPart.bSimContinue) {
        simRunPart.bSimContinue = 0;
        reason = SimStopReason::SteadyState;
      }
      windowStart.assign(lammArraysPart.pLammConc, lammArraysPart.pLammConc + N + 1);
      windowTime = simClockPart.dSimTime;
    }
  }
  return FinishSimRun(progress, reason, TridagMessage(localPart.gReact.tridag), floor);
}

}  // namespace tarmic
