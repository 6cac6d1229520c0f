// Lawson-Hanson active set on the normal equations. With x the current feasible
// solution and P the passive set (the unknowns left free), the gradient of
// 1/2 x'Ax - b'x is -w, w = b - A x; x is optimal when w_i <= 0 for every unknown
// held at 0 and w_i = 0 inside P. Each outer step frees the unknown with the largest
// w; the inner loop solves the passive subsystem A_PP z_P = b_P and, where z leaves
// the feasible region, moves x towards z as far as feasibility allows and returns
// the unknowns that reach 0 to the bound.
#include "distributions/nnls.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "distributions/distribution_hooks.h"
#include "distributions/distribution_storage.h"
#include "services/error_box.h"
#include "platform/vector_state.h"

namespace tarmic {

namespace {

// Optimality: an unknown held at 0 may still have this much gradient.
constexpr double kGradientTolerance = static_cast<double>(1e-10f);
// A free unknown whose value falls below this size returns to the bound.
constexpr double kZeroTolerance = 1e-8;
// A Cholesky pivot below this fraction of its diagonal element marks a column that
// is numerically dependent on the columns before it.
constexpr double kDependence = 1e-12;

// Cholesky factorisation of the m x m subsystem in a (lower triangle and diag);
// false when a pivot is not clearly positive.
bool FactorSubsystem(double** a, int m, double* diag) {
  for (int i = 1; i <= m; ++i) {
    const double* ai = a[i];
    for (int j = i; j <= m; ++j) {
      const double* aj = a[j];
      double s = a[i][j];
      for (int k = i - 1; k >= 1; --k) s -= ai[k] * aj[k];
      if (i == j) {
        if (!(s > kDependence * a[i][i])) return false;
        diag[i] = std::sqrt(s);
      } else {
        a[j][i] = s / diag[i];
      }
    }
  }
  return true;
}

// Forward and back substitution with the factor of FactorSubsystem.
void SolveSubsystem(double** a, int m, const double* diag, const double* rhs, double* z) {
  for (int i = 1; i <= m; ++i) {
    double s = rhs[i];
    for (int k = i - 1; k >= 1; --k) s -= a[i][k] * z[k];
    z[i] = s / diag[i];
  }
  for (int i = m; i >= 1; --i) {
    double s = z[i];
    for (int k = i + 1; k <= m; ++k) s -= a[k][i] * z[k];
    z[i] = s / diag[i];
  }
}

}  // namespace

bool NNLS() {
  auto& distributionStoragePart = DistributionStorage();
  CleanVectorState();
  const int n = std::min(distributionStoragePart.nNEQUnknowns, distributionStoragePart.nWorkspaceUnknowns);
  if (n < 1 || !distributionStoragePart.ppNormalMatrixReg) return true;
  double** A = distributionStoragePart.ppNormalMatrixReg;
  const double* b = distributionStoragePart.pNormalRhs;
  double* x = distributionStoragePart.pDistSolution;
  double* w = distributionStoragePart.pNNLSGradient;
  int* passive = distributionStoragePart.pNNLSPassive;
  double** sub = distributionStoragePart.ppNNLSWork;
  double* subRhs = distributionStoragePart.pNNLSWorkRhs;
  double* diag = distributionStoragePart.pNNLSDiag;
  double* z = distributionStoragePart.pNNLSSub;
  double* trial = distributionStoragePart.pNNLSTrial;

  std::vector<int> index(static_cast<std::size_t>(n) + 1, 0);
  // Unknowns found dependent on the current passive set; they are held at 0 until
  // an unknown leaves the passive set.
  std::vector<char> dependent(static_cast<std::size_t>(n) + 1, 0);
  // The unknowns of kernels left out never leave the bound: their columns take no
  // part in the problem, whatever a penalty couples to them.
  std::vector<char> leftOut(static_cast<std::size_t>(n) + 1, 0);
  for (int i = 1; i <= n; ++i) leftOut[static_cast<std::size_t>(i)] = UnknownLeftOut(i);
  for (int i = 1; i <= n; ++i) {
    x[i] = 0.0;
    passive[i] = 0;
  }
  // Equations with a value that is not a number (a failed kernel) have no solution.
  for (int i = 1; i <= n; ++i) {
    bool finite = std::isfinite(b[i]);
    for (int j = 1; j <= n && finite; ++j) finite = std::isfinite(A[i][j]);
    if (!finite) {
      ReportDistributionError(2, "matrix not positive definite in NNLS");
      return false;
    }
  }

  std::vector<int> nonzero;
  nonzero.reserve(static_cast<std::size_t>(n));
  const double limit = static_cast<double>(n) * static_cast<double>(n);
  double counter = 0.0;
  // A large grid takes many steps, each a factorisation of the free unknowns: the
  // interrupt is looked at before every one (the keyboard at most every 100 ms).
  ThrottledKeyPoll keys;
  for (;;) {
    if (keys.Interrupted()) return false;
    counter += 1.0;
    // w = b - A x over the unknowns off the bound only (most are at 0, and taking
    // away 0 changes no sum), in index order.
    nonzero.clear();
    for (int j = 1; j <= n; ++j) {
      if (x[j] != 0.0) nonzero.push_back(j);
    }
    for (int i = 1; i <= n; ++i) {
      const double* Ai = A[i];
      double s = b[i];
      for (int j : nonzero) s -= Ai[j] * x[j];
      w[i] = s;
    }
    // The free candidate with the largest gradient; the first index wins ties.
    int t = 0;
    for (int i = 1; i <= n; ++i) {
      if (passive[i] || dependent[i] || leftOut[static_cast<std::size_t>(i)] ||
          !(w[i] > kGradientTolerance))
        continue;
      if (t == 0 || w[i] > w[t]) t = i;
    }
    if (t == 0) return true;
    if (counter > limit) {
      ReportDistributionError(1, "max #iteration exceeded in NNLS");
      return false;
    }
    passive[t] = 1;

    bool firstPass = true;
    for (;;) {
      if (!firstPass && keys.Interrupted()) return false;
      // The passive subsystem, rows and columns of P in index order.
      int m = 0;
      for (int i = 1; i <= n; ++i) {
        if (passive[i]) index[static_cast<std::size_t>(++m)] = i;
      }
      for (int r = 1; r <= m; ++r) {
        const double* Ar = A[index[static_cast<std::size_t>(r)]];
        for (int c = 1; c <= m; ++c) sub[r][c] = Ar[index[static_cast<std::size_t>(c)]];
        subRhs[r] = b[index[static_cast<std::size_t>(r)]];
      }
      if (!FactorSubsystem(sub, m, diag)) {
        if (firstPass) {
          // The new column adds nothing the free ones do not have: hold it at 0.
          passive[t] = 0;
          x[t] = 0.0;
          dependent[t] = 1;
          break;
        }
        ReportDistributionError(2, "matrix not positive definite in NNLS");
        return false;
      }
      SolveSubsystem(sub, m, diag, subRhs, z);
      for (int i = 1; i <= n; ++i) trial[i] = 0.0;
      for (int r = 1; r <= m; ++r) trial[index[static_cast<std::size_t>(r)]] = z[r];

      // The unknown just freed wants to decrease: it stays free at 0, and the next
      // outer step looks at the gradient again.
      if (firstPass && trial[t] <= 0.0) break;
      firstPass = false;

      bool feasible = true;
      for (int r = 1; r <= m && feasible; ++r) feasible = trial[index[static_cast<std::size_t>(r)]] >= 0.0;
      if (feasible) {
        for (int i = 1; i <= n; ++i) x[i] = trial[i];
        break;
      }

      // Largest step q in [0, 1] from x towards z that keeps x >= 0.
      double q = 0.0;
      int blocking = 0;
      for (int r = 1; r <= m; ++r) {
        const int i = index[static_cast<std::size_t>(r)];
        if (trial[i] > 0.0) continue;
        const double gap = x[i] - trial[i];
        const double ratio = gap > 0.0 ? x[i] / gap : 0.0;
        if (blocking == 0 || ratio < q) {
          q = ratio;
          blocking = i;
        }
      }
      for (int i = 1; i <= n; ++i) x[i] += q * (trial[i] - x[i]);
      // The blocking unknown reaches the bound exactly.
      x[blocking] = 0.0;
      passive[blocking] = 0;
      for (int i = 1; i <= n; ++i) {
        if (!passive[i]) continue;
        if (std::fabs(x[i]) < kZeroTolerance || x[i] < 0.0) {
          x[i] = 0.0;
          passive[i] = 0;
        }
      }
      std::fill(dependent.begin(), dependent.end(), 0);
    }
  }
}

}  // namespace tarmic
