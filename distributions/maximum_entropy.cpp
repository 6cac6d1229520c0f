// Maximum-entropy regularisation: the objective, the damped steps, the iteration
// for one alpha and the root search of alpha.
#include "distributions/maximum_entropy.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "distributions/nnls.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"
#include "services/error_box.h"
#include "numerics/linear_algebra.h"
#include "services/run_switches.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {


constexpr int kMaxIterations = 200;
constexpr double kTiny = 1e-20;  // no unknown goes below this
constexpr double kHeld = 1e-14;  // an unknown at or below this with a step down is held

// Everything one regularisation computes from its own normal equations.
struct MaxEntState {
  int n = 0;
  int firstEntropy = 1;  // E = firstEntropy..n
  double sum = 0.0;   // S: sum of the unregularised solution over E
  double mean = 0.0;  // S / n
  double alpha0 = 0.0;
  double target = 0.0;  // F
  double tol2 = 1e-6;
  std::vector<double> reference;  // r_i
  std::vector<double> best;       // the solution of the best x found so far
  std::vector<double> previous;
  std::vector<int> inactive;
  bool anyInactive = false;
  // Unknowns of kernels left out: held at exactly 0, no entropy, zero rows and
  // columns in every step, so they take no part in the problem.
  std::vector<char> leftOut;
  bool anyLeftOut = false;
  std::vector<int> mayLeave;  // unknowns placed last in the factor of a step
  double lambda = -1.0;
  double Q = 0.0;
  double accepted = 0.0;
  // Work matrices and vectors: W (Hessian at x), C (scratch of the damped step),
  // g (half-gradient at x), d (step, then the gradient at the trial point).
  double** W = nullptr;
  double** C = nullptr;
  double* g = nullptr;
  double* d = nullptr;
  double* trial = nullptr;
};

// The state of the search in the analysis.
struct LocalState {
  MaxEntState g_state{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }


// The key poll of the search: a key press sets bUserAbort; once it is set the
// keyboard is left alone (the key has been answered, the search unwinds).
bool Interrupted() {
  if (!bUserAbort && CheckKeyPress()) bUserAbort = true;
  return bUserAbort;
}

// Q, the half-Hessian H and the half-gradient g at x (see the header of the file).
void MaxEntmrqcof(const double* x, double** H, double* grad, double* Q) {
  auto& localPart = Local();
  auto& normalEquationsPart = NormalEquations();
  auto& distributionStoragePart = DistributionStorage();
  auto& maximumEntropyPart = MaximumEntropy();
  MaxEntState& st = localPart.g_state;
  Interrupted();
  const int n = st.n;
  const double h = 0.5 * maximumEntropyPart.dMaxEntAlpha;
  double* L = distributionStoragePart.pMaxEntLogRatio;
  double xy = 0.0, xAx = 0.0, R = 0.0;
  for (int i = 1; i <= n; ++i) {
    const double* Ai = distributionStoragePart.ppNormalMatrix[i];
    double* Hi = H[i];
    double Ax = 0.0;
    for (int j = 1; j <= n; ++j) {
      Ax += Ai[j] * x[j];
      Hi[j] = Ai[j];
    }
    xy += x[i] * distributionStoragePart.pNormalRhs[i];
    xAx += x[i] * Ax;
    grad[i] = distributionStoragePart.pNormalRhs[i] - Ax;
    if (st.anyLeftOut && st.leftOut[static_cast<std::size_t>(i)]) {
      L[i] = 0.0;
      grad[i] = 0.0;
      std::fill(Hi + 1, Hi + n + 1, 0.0);
      continue;
    }
    if (i >= st.firstEntropy) {
      L[i] = std::log(x[i] / st.reference[static_cast<std::size_t>(i)]);
      R += x[i] * L[i];
      grad[i] -= h * (L[i] + 1.0);
      Hi[i] += h / x[i];
    }
  }
  if (st.anyLeftOut) {
    for (int j = 1; j <= n; ++j)
      if (st.leftOut[static_cast<std::size_t>(j)])
        for (int i = 1; i <= n; ++i) H[i][j] = 0.0;
  }
  maximumEntropyPart.dMaxEntEntropy = -R;
  *Q = normalEquationsPart.dSumSqData - 2.0 * xy + xAx + maximumEntropyPart.dMaxEntAlpha * R;
}

// The damped system C d = g, from which unknowns can be taken out one after another
// (their step becomes 0). C is factorised by dcholdc (L below the diagonal, the
// matrix itself stays in the upper triangle), together with the forward solution
// y = L^-1 g. An unknown that leaves is deleted from the factor and from y by
// Givens rotations (CholeskyDeleteUnknown), so that each new step costs one back
// substitution. Unknowns whose row of C is entirely 0 take no part.
// Where C is not positive definite, or an update loses positive definiteness, C
// is restored from its upper triangle with the rows and columns of the unknowns
// that left set to 0 and factorised anew; if that fails, the system is solved
// anew (Cholesky, else LU) each time an unknown leaves.
class GeneralStepSolver {
 public:
  void Start(double** C, int n, const double* g) {
    C_ = C;
    n_ = n;
    g_ = g;
    diag_.assign(static_cast<std::size_t>(n) + 1, 0.0);
    y_.assign(static_cast<std::size_t>(n) + 1, 0.0);
    Factorize();
  }

  void Remove(int unknown) {
    if (!factored_) {
      for (int j = 1; j <= n_; ++j) C_[unknown][j] = C_[j][unknown] = 0.0;
      return;
    }
    if (CholeskyDeleteUnknown(C_, n_, diag_.data(), unknown, y_.data())) return;
    // The update failed: factorise the reduced matrix anew. Deleted unknowns
    // (p = 0) and zero rows alike become zero rows of C.
    RestoreLowerTriangle();
    diag_[static_cast<std::size_t>(unknown)] = 0.0;
    for (int k = 1; k <= n_; ++k) {
      if (diag_[static_cast<std::size_t>(k)] != 0.0) continue;
      for (int j = 1; j <= n_; ++j) C_[k][j] = C_[j][k] = 0.0;
    }
    Factorize();
  }

  void Solve(double* d) {
    if (!factored_) {
      SolveSymmetricSystemSkipZeroRows(C_, g_, n_, d, DistributionStorage().pNNLSDiag);
      return;
    }
    CholeskyBackSkipDeleted(C_, n_, diag_.data(), y_.data(), d);
  }

 private:
  // Cholesky factor of C without its zero rows: a zero row gets a temporary 1 on
  // the diagonal, which makes it a row of the identity in L, and is then deleted.
  void Factorize() {
    zeroRows_.clear();
    for (int i = 1; i <= n_; ++i) {
      bool zero = true;
      for (int j = 1; j <= n_ && zero; ++j) zero = C_[i][j] == 0.0;
      if (zero) zeroRows_.push_back(i);
    }
    for (int i : zeroRows_) C_[i][i] = 1.0;
    factored_ = dcholdc(C_, n_, diag_.data());
    for (int i : zeroRows_) {
      C_[i][i] = 0.0;
      if (factored_) CholeskyDeleteUnknown(C_, n_, diag_.data(), i, nullptr);
    }
    if (factored_) {
      CholeskyForwardSkipDeleted(C_, n_, diag_.data(), g_, y_.data());
    } else {
      RestoreLowerTriangle();
    }
  }

  void RestoreLowerTriangle() {
    for (int i = 2; i <= n_; ++i) {
      for (int j = 1; j < i; ++j) C_[i][j] = C_[j][i];
    }
  }

  double** C_ = nullptr;
  int n_ = 0;
  const double* g_ = nullptr;
  std::vector<double> diag_;  // diagonal of L; 0 for the unknowns out of the factor
  std::vector<double> y_;     // forward solution L y = g
  std::vector<int> zeroRows_;
  bool factored_ = false;
};

typedef double Double4 __attribute__((vector_size(32)));

// sum over k = 0..n-1 of x[k] y[k], in eight interleaved partial sums.
[[gnu::always_inline]] inline double Dot(const double* __restrict x, const double* __restrict y,
                                         int n) {
  Double4 s0 = {}, s1 = {};
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    Double4 x0, x1, y0, y1;
    std::memcpy(&x0, x + k, sizeof x0);
    std::memcpy(&x1, x + k + 4, sizeof x1);
    std::memcpy(&y0, y + k, sizeof y0);
    std::memcpy(&y1, y + k + 4, sizeof y1);
    s0 += x0 * y0;
    s1 += x1 * y1;
  }
  const Double4 s = s0 + s1;
  double sum = (s[0] + s[1]) + (s[2] + s[3]);
  for (; k < n; ++k) sum += x[k] * y[k];
  return sum;
}

// The Cholesky factor as dcholdc leaves it (L_ji for j > i in a[j][i], the diagonal
// in p, the upper triangle read only): L_ii = sqrt(a_ii - sum_k<i L_ik^2), L_ji =
// (a_ij - sum_k<i L_ik L_jk) / L_ii, the sums over contiguous rows of L. False when
// a diagonal sum is not positive.
[[gnu::always_inline]] inline bool FactorBody(double** a, int n, double* p) {
  for (int i = 1; i <= n; ++i) {
    const double* ai = a[i] + 1;
    const double sum = a[i][i] - Dot(ai, ai, i - 1);
    if (!(sum > 0.0)) return false;
    const double pi = std::sqrt(sum);
    p[i] = pi;
    for (int j = i + 1; j <= n; ++j) a[j][i] = (a[i][j] - Dot(ai, a[j] + 1, i - 1)) / pi;
  }
  return true;
}
[[gnu::target("avx2,fma")]] bool FactorAvx2(double** a, int n, double* p) {
  return FactorBody(a, n, p);
}
bool FactorBaseline(double** a, int n, double* p) { return FactorBody(a, n, p); }
bool FastCholesky(double** a, int n, double* p) {
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  }();
  return avx2 ? FactorAvx2(a, n, p) : FactorBaseline(a, n, p);
}

// The damped system C d = g of one step, C = W with diagonal (1 + lambda) W_ii.
// Only unknowns at the bound (or marked inactive) can leave the step, so the factor
// is formed in an order that puts them last: the factor of the leading unknowns is
// then untouched when one of them leaves, and the Givens rotations that delete it
// run over the few trailing rows only. The factor and the forward solution live in
// a work matrix of this solver, so C stays untouched. Where C has a zero row or is
// not positive definite, or an update fails, the system goes to GeneralStepSolver
// (the unknowns that left so far leave it again, in the same order).
class StepSolver {
 public:
  void Start(double** W, double lambda, int n, const double* g, const std::vector<int>& last,
             double** C) {
    W_ = W;
    lambda_ = lambda;
    n_ = n;
    g_ = g;
    C_ = C;
    removed_.clear();
    const std::size_t size = static_cast<std::size_t>(n) + 1;
    order_.assign(1, 0);
    for (int i = 1; i <= n; ++i) {
      if (last[static_cast<std::size_t>(i)] == 0) order_.push_back(i);
    }
    // The unknowns that can leave, in falling index order: they leave lowest index
    // first, so the one that leaves is mostly the last place of the factor, whose
    // deletion touches no other row.
    firstLast_ = static_cast<int>(order_.size());
    for (int i = n; i >= 1; --i) {
      if (last[static_cast<std::size_t>(i)] != 0) order_.push_back(i);
    }
    position_.assign(size, 0);
    for (int a = 1; a <= n; ++a) position_[static_cast<std::size_t>(order_[static_cast<std::size_t>(a)])] = a;
    storage_.assign(size * size, 0.0);
    rows_.assign(size, nullptr);
    for (std::size_t a = 0; a < size; ++a) rows_[a] = storage_.data() + a * size;
    // The permuted matrix in the upper triangle; a zero row goes to the general solver.
    fast_ = true;
    for (int i = 1; i <= n && fast_; ++i) {
      bool zero = W[i][i] == 0.0;
      for (int j = 1; j <= n && zero; ++j) zero = W[i][j] == 0.0;
      if (zero) fast_ = false;
    }
    if (fast_) {
      for (int a = 1; a <= n; ++a) {
        const double* Wi = W[order_[static_cast<std::size_t>(a)]];
        double* Fa = rows_[static_cast<std::size_t>(a)];
        for (int b = a; b <= n; ++b) Fa[b] = Wi[order_[static_cast<std::size_t>(b)]];
        Fa[a] *= 1.0 + lambda;
      }
      diag_.assign(size, 0.0);
      fast_ = FastCholesky(rows_.data(), n, diag_.data());
    }
    if (!fast_) {
      StartGeneral();
      return;
    }
    y_.assign(size, 0.0);
    for (int a = 1; a <= n; ++a) y_[static_cast<std::size_t>(a)] = g[order_[static_cast<std::size_t>(a)]];
    CholeskyForwardSkipDeleted(rows_.data(), n, diag_.data(), y_.data(), y_.data());
    x_.assign(size, 0.0);
  }

  void Remove(int unknown) {
    removed_.push_back(unknown);
    if (!fast_) {
      general_.Remove(unknown);
      return;
    }
    if (CholeskyDeleteUnknown(rows_.data(), n_, diag_.data(),
                              position_[static_cast<std::size_t>(unknown)], y_.data())) {
      return;
    }
    fast_ = false;
    StartGeneral();
    for (int k : removed_) general_.Remove(k);
  }

  void Solve(double* d) {
    if (!fast_) {
      general_.Solve(d);
      return;
    }
    CholeskyBackSkipDeleted(rows_.data(), n_, diag_.data(), y_.data(), x_.data());
    for (int a = 1; a <= n_; ++a) d[order_[static_cast<std::size_t>(a)]] = x_[static_cast<std::size_t>(a)];
  }

  // The step of the unknowns placed last only (those that can leave). Back
  // substitution runs from the last place up, and a place depends only on the
  // places after it, so these values equal those of a full Solve to the bit; the
  // leading places of d are left as they were. Leaving unknowns are deleted from
  // the trailing rows only, so while they leave one after another this costs t^2
  // per step (t trailing places) instead of n^2.
  void SolveLast(double* d) {
    if (!fast_) {
      general_.Solve(d);
      return;
    }
    const int f = firstLast_;
    for (int a = f; a <= n_; ++a) x_[static_cast<std::size_t>(a)] = y_[static_cast<std::size_t>(a)];
    for (int i = n_; i >= f; --i) {
      if (diag_[static_cast<std::size_t>(i)] == 0.0) {
        x_[static_cast<std::size_t>(i)] = 0.0;
        continue;
      }
      const double xi = x_[static_cast<std::size_t>(i)] / diag_[static_cast<std::size_t>(i)];
      x_[static_cast<std::size_t>(i)] = xi;
      const double* ai = rows_[static_cast<std::size_t>(i)];
      for (int k = f; k < i; ++k) x_[static_cast<std::size_t>(k)] -= ai[k] * xi;
    }
    for (int a = f; a <= n_; ++a) d[order_[static_cast<std::size_t>(a)]] = x_[static_cast<std::size_t>(a)];
  }

 private:
  void StartGeneral() {
    for (int i = 1; i <= n_; ++i) {
      std::copy(W_[i] + 1, W_[i] + n_ + 1, C_[i] + 1);
      C_[i][i] = (1.0 + lambda_) * W_[i][i];
    }
    general_.Start(C_, n_, g_);
  }

  double** W_ = nullptr;
  double lambda_ = 0.0;
  int n_ = 0;
  const double* g_ = nullptr;
  double** C_ = nullptr;
  bool fast_ = false;
  std::vector<int> order_;     // order_[a]: the unknown at place a of the factor
  int firstLast_ = 1;          // the first place of the unknowns that can leave
  std::vector<int> position_;  // its inverse
  std::vector<double> storage_;
  std::vector<double*> rows_;  // the permuted matrix and its factor, one-based
  std::vector<double> diag_, y_, x_;
  std::vector<int> removed_;
  GeneralStepSolver general_;
};

// This module's own state in the analysis.
struct SolverState {
  StepSolver g_stepSolver{};
};
SolverState& Solver() { return CurrentPart<SolverState>(); }

// Solves C d = g with C = W, diagonal (1 + lambda) W_ii, the unknowns that may leave
// (at the bound or marked inactive) placed last in the factor.
void DampedSolve(const double* x) {
  auto& localPart = Local();
  MaxEntState& st = localPart.g_state;
  std::vector<int>& last = st.mayLeave;
  last.assign(static_cast<std::size_t>(st.n) + 1, 0);
  for (int i = 1; i <= st.n; ++i) {
    last[static_cast<std::size_t>(i)] =
        x[i] <= kHeld || (st.anyInactive && st.inactive[static_cast<std::size_t>(i)]);
  }
  Solver().g_stepSolver.Start(st.W, st.lambda, st.n, st.g, last, st.C);
  Solver().g_stepSolver.Solve(st.d);
}

// One damped step on Q with positivity (lambda < 0 initialises).
void MaxEntmrqmin(double* x) {
  auto& localPart = Local();
  MaxEntState& st = localPart.g_state;
  const int n = st.n;
  // A large grid makes every step long (a solve of all unknowns): an interrupt
  // leaves before the next one.
  if (Interrupted()) return;
  if (st.lambda > 1e70) {
    st.lambda = 0.0;
    return;
  }
  if (st.lambda < 0.0) {
    st.lambda = 0.001;
    MaxEntmrqcof(x, st.W, st.g, &st.Q);
    st.accepted = st.Q;
  }
  DampedSolve(x);
  if (st.lambda == 0.0) return;

  double* t = st.trial;
  const auto out = [&](int i) { return st.anyLeftOut && st.leftOut[static_cast<std::size_t>(i)]; };
  bool leaves = st.anyInactive;
  for (int i = 1; i <= n; ++i) {
    if (out(i)) st.d[i] = 0.0;
    t[i] = x[i] + st.d[i];
    if (t[i] <= 0.0 && !out(i)) leaves = true;
  }
  if (leaves) {
    // Hold the unknowns that sit at the bound (or were marked inactive) and want to
    // go down: their rows and columns leave the step, one after another.
    auto blocked = [&](int i) {
      return !out(i) && st.d[i] < 0.0 &&
             (x[i] <= kHeld || (st.anyInactive && st.inactive[static_cast<std::size_t>(i)]));
    };
    // Only unknowns placed last can be blocked, so while they leave only their part
    // of the step is solved; the whole step once they are all out.
    bool removed = false;
    for (;;) {
      int first = 0;
      for (int i = 1; i <= n && first == 0; ++i) {
        if (blocked(i)) first = i;
      }
      if (first == 0) break;
      Solver().g_stepSolver.Remove(first);
      Solver().g_stepSolver.SolveLast(st.d);
      removed = true;
    }
    if (removed) Solver().g_stepSolver.Solve(st.d);
    // Shorten the step where it would cross zero.
    double s = 1.0;
    for (int i = 1; i <= n; ++i) {
      if (out(i)) {
        st.d[i] = 0.0;
        continue;
      }
      t[i] = x[i] + st.d[i];
      if (!st.anyInactive) st.inactive[static_cast<std::size_t>(i)] = 0;
      if (t[i] <= 0.0) {
        const double q = std::fabs(x[i] / st.d[i]);
        if (q < 0.01) {
          st.inactive[static_cast<std::size_t>(i)] = 1;
          st.anyInactive = true;
        }
        s = std::min(s, q);
      }
    }
    if (s > 0.01) {
      st.anyInactive = false;
    } else {
      s *= 0.9;
    }
    for (int i = 1; i <= n; ++i) t[i] = x[i] + s * st.d[i];
  }
  for (int i = 1; i <= n; ++i) t[i] = out(i) ? 0.0 : std::max(t[i], kTiny);

  double Qt = 0.0;
  MaxEntmrqcof(t, st.C, st.d, &Qt);
  if (Qt < st.accepted) {
    st.lambda *= 0.1;
    st.accepted = Qt;
    std::swap(st.W, st.C);
    std::swap(st.g, st.d);
    std::copy(t + 1, t + n + 1, x + 1);
  } else {
    st.lambda *= 10.0;
  }
  st.Q = st.accepted;
}

// Damped steps until Q settles twice, the second time after a restart of the
// damping at the converged solution.
void MaxEntIterate(double* x) {
  auto& localPart = Local();
  MaxEntState& st = localPart.g_state;
  const int n = st.n;
  st.lambda = -1.0;
  MaxEntmrqmin(x);
  std::copy(x + 1, x + n + 1, st.previous.begin() + 1);
  bool convergedOnce = false;
  bool done = false;
  for (int count = 0; !done && count < kMaxIterations;) {
    if (Interrupted()) return;
    ++count;
    const double before = st.Q;
    std::copy(x + 1, x + n + 1, st.previous.begin() + 1);
    MaxEntmrqmin(x);
    const double change = before != 0.0 ? std::fabs((before - st.Q) / before) : std::fabs(before - st.Q);
    if (st.Q > before || change >= st.tol2) continue;
    double mean = 0.0;
    for (int i = 1; i <= n; ++i) mean += x[i];
    mean /= n;
    const double scale = before != 0.0 ? std::fabs(before) : 1.0;
    bool gradientLarge = false, moving = false;
    for (int i = 1; i <= n; ++i) {
      if (x[i] <= kHeld) continue;
      if (std::fabs(st.g[i] * mean / scale) > st.tol2) gradientLarge = true;
      const double prev = st.previous[static_cast<std::size_t>(i)];
      if (prev != 0.0 && std::fabs((x[i] - prev) / prev) > st.tol2) moving = true;
    }
    if (gradientLarge && moving) {
      st.lambda *= 10.0;
      continue;
    }
    if (!convergedOnce) {
      convergedOnce = true;
      st.lambda = -1.0;
      MaxEntmrqmin(x);
      std::copy(x + 1, x + n + 1, st.previous.begin() + 1);
    } else {
      done = true;
    }
  }
}

void SaveBest() {
  auto& distributionStoragePart = DistributionStorage();
  auto& localPart = Local();
  std::copy(distributionStoragePart.pDistSolution + 1, distributionStoragePart.pDistSolution + localPart.g_state.n + 1, localPart.g_state.best.begin() + 1);
}

void RestoreBest() {
  auto& localPart = Local();
  std::copy(localPart.g_state.best.begin() + 1, localPart.g_state.best.end(), DistributionStorage().pDistSolution + 1);
}

void ShowMaxEntProgress(double deviation, bool first) {
  auto& distributionModelsPart = DistributionModels();
  auto& maximumEntropyPart = MaximumEntropy();
  if (distributionModelsPart.bMonteCarloRun) return;
  const double reached = ConfidenceOfRatio(deviation + Local().g_state.target);
  if (first) {
    ShowContiProgress(10, 70, ProgressKind::Detail, Format("Regularization:  entropy = %f, alpha=%f, P = %f (please wait...)",
                                 maximumEntropyPart.dMaxEntEntropy, maximumEntropyPart.dMaxEntAlpha, reached));
  } else if (distributionModelsPart.fConfidenceLevel < 1.0f) {
    ShowContiProgress(10, 70, ProgressKind::Detail, Format("Regularization:  entropy = %f, alpha=%e, P = %f (please wait...)",
                                 maximumEntropyPart.dMaxEntEntropy, maximumEntropyPart.dMaxEntAlpha, reached));
  } else {
    ShowContiProgress(10, 70, ProgressKind::Detail,
                  Format("Regularization:  entropy = %f, alpha=%e, P = %f, F = %f (please wait...)",
                         maximumEntropyPart.dMaxEntEntropy, maximumEntropyPart.dMaxEntAlpha, reached,
                         static_cast<double>(distributionModelsPart.fConfidenceLevel) + deviation));
  }
}

}  // namespace

void SolveMaxEnt(double alpha) {
  auto& localPart = Local();
  auto& maximumEntropyPart = MaximumEntropy();
  auto& distributionStoragePart = DistributionStorage();
  MaxEntState& st = localPart.g_state;
  maximumEntropyPart.dMaxEntAlpha = alpha;
  for (int i = 1; i <= st.n; ++i) {
    std::copy(distributionStoragePart.ppNormalMatrix[i] + 1, distributionStoragePart.ppNormalMatrix[i] + st.n + 1, st.W[i] + 1);
    st.g[i] = distributionStoragePart.pNormalRhs[i];
    if (st.anyLeftOut && st.leftOut[static_cast<std::size_t>(i)])
      distributionStoragePart.pDistSolution[i] = 0.0;
    else if (distributionStoragePart.pDistSolution[i] == 0.0)
      distributionStoragePart.pDistSolution[i] = 1e-7 * st.mean;
  }
  MaxEntIterate(distributionStoragePart.pDistSolution);
}

double MaxEntChiSquareDeviation(double x) {
  MaxEntState& st = Local().g_state;
  const double alpha = st.alpha0 * std::exp(std::min(x, 100.0));
  RestoreBest();
  SolveMaxEnt(alpha);
  return ChiSquareFromNormalEquations() / Regularization().dChiSquareMin - st.target;
}

double FindMaxEntAlpha(double (*deviation)(double), double x0, double dx0, double tol,
                       double tolP) {
  MaxEntState& st = Local().g_state;
  const double P = DistributionModels().fConfidenceLevel;
  double x = x0;
  double f = deviation(x);
  // A key before any point of the search is known stops the run that asked for it
  // (the flag stays set).
  if (bUserAbort) return x;
  ShowMaxEntProgress(f, true);
  if (std::fabs(f) <= tol) return x;

  double xBest = x, fBest = f;
  SaveBest();
  bool above = f > tol;
  double dx = above ? -std::fabs(dx0) : std::fabs(dx0);
  bool oscillating = false;
  int step = 1;
  auto failAtBest = [&]() {
    RestoreBest();
    return xBest;
  };
  // A key (taken by the polls of the steps, which leave at once) ends the search at
  // the best point: in a Monte-Carlo repetition without a message, the flag staying
  // set so that the repetitions stop; otherwise with the message of a search
  // caught, and the run goes on with the best solution.
  auto stopAtKey = [&]() {
    if (DistributionModels().bMonteCarloRun) return failAtBest();
    bUserAbort = false;
    ReportDistributionMessage(
        6, Format("caught in local minimum or user interrupt at P = %f", ConfidenceOfRatio(fBest + st.target)),
        "ATTENTION");
    return failAtBest();
  };

  while (f >= tol || f <= -tol) {
    ++step;
    if (f > tol) {
      above = true;
    } else if (f < -tol) {
      above = false;
    } else {
      return x;
    }
    const double fPrevious = f;
    x += dx;
    f = deviation(x);
    if (bUserAbort) return stopAtKey();
    if (std::fabs(f) < tol) return x;

    // A flat stretch: larger steps until the deviation changes.
    for (int flat = 0; f == fPrevious;) {
      if (dx < 0.25) dx *= 2.0;
      x += dx;
      f = deviation(x);
      if (bUserAbort) return stopAtKey();
      ShowMaxEntProgress(f, false);
      if (++flat >= 102) {
        ReportDistributionError(6, Format("problem with regularization, caught at P = %f",
                                          ConfidenceOfRatio(f + st.target)));
        return failAtBest();
      }
    }

    if (std::fabs(f) > std::fabs(fBest) + tol) {
      // Worse than the best point: go back there with half the step.
      x = xBest;
      f = fBest;
      RestoreBest();
      oscillating = false;
      dx *= 0.5;
      if (Interrupted()) return stopAtKey();
      if (std::fabs(dx) <= 1e-10) {
        ReportDistributionMessage(
            6, Format("caught in local minimum or user interrupt at P = %f", ConfidenceOfRatio(fBest + st.target)),
            "ATTENTION");
        return failAtBest();
      }
    } else {
      if (std::fabs(f) > 0.02 && !oscillating) {
        // Coarse steps towards the root.
        dx = f < 0.0 ? 0.25 : -0.25;
        if ((f < 0.0) != (fBest < 0.0)) {
          dx *= 0.5;
          oscillating = true;
        }
      } else if (std::fabs(f) > 0.001) {
        if (f < 0.0 && above) {
          dx = 0.5 * std::fabs(dx);
          oscillating = true;
        } else if (f < 0.0) {
          dx = std::min(2.0 * std::fabs(dx), 0.25);
        } else if (!above) {
          dx = -0.3 * std::fabs(dx);
          oscillating = true;
        } else {
          dx = -1.7 * std::fabs(dx);
          if (std::fabs(dx) > 0.1) dx = -0.25;
        }
      } else if ((f < 0.0) != (fBest < 0.0)) {
        // Secant step to the root of the line through the best and this point.
        dx = xBest - fBest * (x - xBest) / (f - fBest) - x;
      }
      xBest = x;
      fBest = f;
      SaveBest();
    }
    ShowMaxEntProgress(f, false);
    if (P < 1.0 && std::fabs(ConfidenceOfRatio(f + st.target) - P) < tolP) return x;
    if (step > 1000) {
      if (bBatchMode || !DistributionModels().bMonteCarloRun) ReportDistributionError(8, "too many iterations finding root");
      return x;
    }
  }
  return x;
}

bool MaxEntRegularize(bool suppressBaselineCorrelation) {
  auto& localPart = Local();
  auto& distributionModelsPart = DistributionModels();
  auto& distributionStoragePart = DistributionStorage();
  auto& distributionVectorsPart = DistributionVectors();
  auto& regularizationPart = Regularization();
  MaxEntState& st = localPart.g_state;
  const int N = distributionStoragePart.nNEQUnknowns;
  regularizationPart.nRegUnknowns = N;
  if (N < 1 || !distributionStoragePart.pDistSolution) return false;

  // 1. to 3. The unregularised solution and its sum.
  AddSecondDerivativePenalty(0.0);
  if (!NNLS()) {
    for (int i = 1; i <= N; ++i) distributionStoragePart.pDistSolution[i] = 0.0;
    return false;
  }
  regularizationPart.dChiSquareMin = regularizationPart.dChiSquare = ChiSquareFromNormalEquations();
  st = MaxEntState{};
  st.n = N;
  st.firstEntropy = EntropySkipsFirstUnknown() ? 2 : 1;
  st.leftOut.assign(static_cast<std::size_t>(N) + 1, 0);
  int taking = N;
  for (int i = 1; i <= N; ++i) {
    st.leftOut[static_cast<std::size_t>(i)] = UnknownLeftOut(i);
    if (st.leftOut[static_cast<std::size_t>(i)]) --taking;
  }
  st.anyLeftOut = taking < N;
  for (int i = st.firstEntropy; i <= N; ++i) st.sum += distributionStoragePart.pDistSolution[i];
  st.mean = st.sum / std::max(taking, 1);
  if (!(st.sum > 0.0)) return true;

  // 4. Whether and how far to regularise (as the Tikhonov-Phillips regularisation).
  if (!RegularizationWanted(N)) {
    if (!distributionModelsPart.bContiInnerRun && !bBatchMode && !distributionModelsPart.bMonteCarloRun && ContiWizardMessages()) {
      ShowDistributionNote("no regularization:  either P < 0.5, P = 1, or to low resolution");
    }
    return true;
  }
  if (distributionModelsPart.bContiInnerRun && !distributionModelsPart.bFinalFitEvaluation && !distributionModelsPart.bMonteCarloRun) return true;
  if (IsExactFit()) return true;
  if (!SetRegularizationTarget(N)) return true;
  float trace = 0.0f;
  for (int k = 1; k <= N; ++k) trace += static_cast<float>(distributionStoragePart.ppNormalMatrix[k][k]);
  regularizationPart.dAlphaScale = static_cast<double>(trace) / (6.0 * N - 12.0);
  if (!(regularizationPart.dAlphaScale > 0.0)) return true;

  // 5. Work vectors, references, start.
  st.alpha0 = regularizationPart.dAlphaScale;
  st.target = regularizationPart.fTargetRatio;
  const double tol = (st.target - 1.0) * 0.001;
  st.tol2 = std::min(0.01 * tol, 1e-6);
  st.reference.assign(static_cast<std::size_t>(N) + 1, st.sum);
  // --- prior: the reference S p_i / mean(p) ---
  // A prior shapes the reference; its scale stays that of the unregularised
  // solution, so a flat prior is the flat reference itself.
  if (distributionModelsPart.bUsePrior && distributionVectorsPart.pPriorProbability) {
    const std::vector<double> w = PriorWeights(distributionVectorsPart.pPriorProbability, N);
    for (int i = 1; i <= N; ++i) st.reference[static_cast<std::size_t>(i)] = st.sum * w[static_cast<std::size_t>(i)];
  }
  // --- end prior ---
  if (suppressBaselineCorrelation) st.reference[1] *= 0.001;
  st.best.assign(distributionStoragePart.pDistSolution, distributionStoragePart.pDistSolution + N + 1);
  st.previous.assign(static_cast<std::size_t>(N) + 1, 0.0);
  st.inactive.assign(static_cast<std::size_t>(N) + 1, 0);
  st.W = distributionStoragePart.ppNNLSWork;
  st.C = distributionStoragePart.ppNormalMatrixReg;
  st.g = distributionStoragePart.pNNLSWorkRhs;
  st.d = distributionStoragePart.pNNLSSub;
  st.trial = distributionStoragePart.pNNLSTrial;

  // 6. and 7. The root search, then the chi-square of what it left.
  const double x = FindMaxEntAlpha(MaxEntChiSquareDeviation, std::log(1e-4), 0.01, tol, 0.005);
  regularizationPart.fAlphaFactor = static_cast<float>(std::exp(std::min(x, 100.0)));
  regularizationPart.dChiSquare = ChiSquareFromNormalEquations();
  // A key the search ended at has been answered there (a Monte-Carlo repetition
  // stops at it); one before its first point stays set: the run stops.
  return true;
}

}  // namespace tarmic
