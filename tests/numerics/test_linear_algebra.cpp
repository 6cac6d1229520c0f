// Solvers against known solutions: LU, Cholesky with LU fall-back, inversion,
// symmetric solves without influence-free parameters, NNLS on normal equations
// (optimality conditions, failure reporting), and Savitzky-Golay coefficients.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <type_traits>
#include <vector>

#include "services/error_box.h"
#include "numerics/linear_algebra.h"
#include "numerics/one_based.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

// One-based n x n matrix released at scope end; copies are deep, and a row-major
// list fills it.
template <typename T>
struct Mat {
  int n;
  T** m;
  explicit Mat(int size) : n(size) {
    if constexpr (std::is_same_v<T, double>) m = dmatrix(1, size, 1, size);
    else m = matrix(1, size, 1, size);
  }
  Mat(int size, std::initializer_list<T> v) : Mat(size) {
    auto it = v.begin();
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) m[i][j] = *it++;
  }
  Mat(const Mat& o) : Mat(o.n) {
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) m[i][j] = o.m[i][j];
  }
  ~Mat() {
    if constexpr (std::is_same_v<T, double>) free_dmatrix(m, 1, n, 1, n);
    else free_matrix(m, 1, n, 1, n);
  }
  Mat& operator=(const Mat&) = delete;
  // Same elements (only the upper triangle with diagonal if upperOnly).
  bool Same(const Mat& o, bool upperOnly = false) const {
    for (int i = 1; i <= n; ++i)
      for (int j = upperOnly ? i : 1; j <= n; ++j)
        if (m[i][j] != o.m[i][j]) return false;
    return true;
  }
};
using DMat = Mat<double>;
using FMat = Mat<float>;

// Random symmetric positive definite matrix: B^T B + n I.
void FillSpd(DMat& a, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int n = a.n;
  std::vector<double> b(static_cast<std::size_t>(n * n));
  for (double& e : b) e = u(rng);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      double s = 0;
      for (int k = 0; k < n; ++k) s += b[k * n + (i - 1)] * b[k * n + (j - 1)];
      a.m[i][j] = s + (i == j ? n : 0.0);
    }
  }
}

double ResidualNorm(double** a, const double* x, const double* b, int n) {
  double worst = 0;
  for (int i = 1; i <= n; ++i) {
    double s = -b[i];
    for (int j = 1; j <= n; ++j) s += a[i][j] * x[j];
    worst = std::max(worst, std::fabs(s));
  }
  return worst;
}

TEST(SymmetricSolve, RandomPositiveDefiniteSystemsTakeTheCholeskyRoute) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  for (int n : {1, 2, 7, 25}) {
    DMat a(n);
    FillSpd(a, rng);
    const DMat keep(a);
    std::vector<double> b(n + 1), x(n + 1), p(n + 1);
    for (int i = 1; i <= n; ++i) b[i] = u(rng);
    const std::vector<double> bKeep = b;
    EXPECT_EQ(SolveSymmetricSystem(a.m, b.data(), n, x.data(), p.data()), 1);
    EXPECT_LT(ResidualNorm(a.m, x.data(), b.data(), n), 1e-10) << n;
    EXPECT_EQ(b, bKeep);
    EXPECT_TRUE(a.Same(keep));
  }
}

TEST(SymmetricSolve, IndefiniteMatricesFallBackToLu) {
  DMat a(3, {1, 2, 0, 2, 1, 1, 0, 1, -3});
  double b[4] = {0, 1, -2, 4};
  double x[4] = {}, p[4] = {};
  EXPECT_EQ(SolveSymmetricSystem(a.m, b, 3, x, p), 0);
  EXPECT_LT(ResidualNorm(a.m, x, b, 3), 1e-12);
  EXPECT_EQ(a.m[3][3], -3.0);
  EXPECT_EQ(b[2], -2.0);

  // With a zero row: the indefinite rest still solves, the dropped parameter is 0.
  DMat z(3, {1, 0, 3, 0, 0, 0, 3, 0, 1});
  double bz[4] = {0, 4, 0, 4};
  EXPECT_EQ(SolveSymmetricSystemSkipZeroRows(z.m, bz, 3, x, p), 1);
  EXPECT_NEAR(x[1], 1.0, 1e-14);
  EXPECT_EQ(x[2], 0.0);
  EXPECT_NEAR(x[3], 1.0, 1e-14);
}

TEST(SymmetricSolve, ZeroRowsAreDroppedAndTheirParametersSetToZero) {
  std::mt19937 rng(7);
  DMat full(5);
  FillSpd(full, rng);
  for (int j = 1; j <= 5; ++j) full.m[3][j] = full.m[j][3] = 0.0;
  double b[6] = {0, 1.0, -2.0, 0.0, 0.5, 3.0};
  double x[6], p[6];
  for (double& e : x) e = 99.0;
  EXPECT_EQ(SolveSymmetricSystemSkipZeroRows(full.m, b, 5, x, p), 1);
  EXPECT_EQ(x[3], 0.0);

  // The same system without parameter 3.
  DMat reduced(4);
  const int keep[5] = {0, 1, 2, 4, 5};
  double rb[5], rx[5], rp[5];
  for (int r = 1; r <= 4; ++r) {
    rb[r] = b[keep[r]];
    for (int c = 1; c <= 4; ++c) reduced.m[r][c] = full.m[keep[r]][keep[c]];
  }
  ASSERT_EQ(SolveSymmetricSystem(reduced.m, rb, 4, rx, rp), 1);
  for (int r = 1; r <= 4; ++r) EXPECT_NEAR(x[keep[r]], rx[r], 1e-13);
}

TEST(Cholesky, FactorReproducesTheMatrixAndLeavesTheUpperTriangle) {
  std::mt19937 rng(99);
  DMat a(6);
  FillSpd(a, rng);
  const DMat keep(a);
  double p[7];
  ASSERT_TRUE(dcholdc(a.m, 6, p));
  EXPECT_TRUE(a.Same(keep, true));  // upper triangle and diagonal untouched
  for (int i = 1; i <= 6; ++i) {
    for (int j = i; j <= 6; ++j) {
      double s = 0;
      for (int k = 1; k <= i; ++k) {
        const double lik = k == i ? p[i] : a.m[i][k];
        const double ljk = k == j ? p[j] : a.m[j][k];
        s += lik * ljk;
      }
      EXPECT_NEAR(s, keep.m[i][j], 1e-12);
    }
  }
  FMat f(2, {1, 2, 2, 1});
  float fp[3];
  EXPECT_FALSE(choldc(f.m, 2, fp));
}

// Unknowns deleted one by one from a factor (with its forward solution) solve the
// same reduced systems as a new factorisation of the matrix with their rows and
// columns set to 0; the matrix in the upper triangle stays as it was.
TEST(Cholesky, DeletingUnknownsFromTheFactorMatchesANewFactorisation) {
  constexpr int n = 12;
  std::mt19937 rng(7);
  DMat a(n);
  FillSpd(a, rng);
  const DMat keep(a);
  DMat reduced(a);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  double b[n + 1], p[n + 1], y[n + 1], fresh[n + 1], x[n + 1], expected[n + 1], diag[n + 1];
  for (int i = 1; i <= n; ++i) b[i] = u(rng);
  ASSERT_TRUE(dcholdc(a.m, n, p));
  CholeskyForwardSkipDeleted(a.m, n, p, b, y);
  // The first and the last unknown, neighbours, one deleted twice.
  for (int q : {5, 1, 12, 6, 9, 5, 2}) {
    ASSERT_TRUE(CholeskyDeleteUnknown(a.m, n, p, q, y));
    for (int j = 1; j <= n; ++j) reduced.m[q][j] = reduced.m[j][q] = 0.0;
    ASSERT_EQ(SolveSymmetricSystemSkipZeroRows(reduced.m, b, n, expected, diag), 1);
    CholeskyBackSkipDeleted(a.m, n, p, y, x);
    CholeskyForwardSkipDeleted(a.m, n, p, b, fresh);
    for (int i = 1; i <= n; ++i) {
      EXPECT_NEAR(x[i], expected[i], 1e-13) << "after deleting " << q << ", unknown " << i;
      EXPECT_NEAR(y[i], fresh[i], 1e-13) << "after deleting " << q << ", unknown " << i;
    }
    EXPECT_EQ(x[q], 0.0);
  }
  EXPECT_TRUE(a.Same(keep, true));
}

TEST(LuDecomposition, SolvesForEveryColumnOfTheIdentity) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int n = 8;
  DMat a(n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) a.m[i][j] = u(rng);
  DMat lu(a);
  std::vector<int> indx(n + 1);
  double d = 0;
  ludcmp(lu.m, n, indx.data(), &d);
  EXPECT_EQ(std::fabs(d), 1.0);
  for (int j = 1; j <= n; ++j) {
    std::vector<double> e(n + 1, 0.0), col(n + 1, 0.0);
    e[j] = col[j] = 1.0;
    lubksb(lu.m, n, indx.data(), col.data());
    EXPECT_LT(ResidualNorm(a.m, col.data(), e.data(), n), 1e-10) << j;
  }
}

// ---------------------------------------------------------------- NNLS

// Normal equations A = J^T J, b = J^T y of a random design with rows x cols.
struct NormalEquations {
  int n;
  FMat a;
  std::vector<float> b;
  NormalEquations(int rows, int cols, const std::vector<double>& truth, unsigned seed,
                  int zeroColumn = 0)
      : n(cols), a(cols), b(cols + 1) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> j(static_cast<std::size_t>(rows * cols));
    for (double& e : j) e = u(rng);
    if (zeroColumn > 0) {
      for (int r = 0; r < rows; ++r) j[r * cols + zeroColumn - 1] = 0.0;
    }
    std::vector<double> y(rows);
    for (int r = 0; r < rows; ++r) {
      double s = 0.02 * (u(rng) - 0.5);
      for (int c = 0; c < cols; ++c) s += j[r * cols + c] * truth[c];
      y[r] = s;
    }
    for (int c1 = 0; c1 < cols; ++c1) {
      double sb = 0;
      for (int r = 0; r < rows; ++r) sb += j[r * cols + c1] * y[r];
      b[c1 + 1] = static_cast<float>(sb);
      for (int c2 = 0; c2 < cols; ++c2) {
        double s = 0;
        for (int r = 0; r < rows; ++r) s += j[r * cols + c1] * j[r * cols + c2];
        a.m[c1 + 1][c2 + 1] = static_cast<float>(s);
      }
    }
  }
};

// Gradient w = b - A x in double.
std::vector<double> Gradient(const NormalEquations& q, const std::vector<float>& x) {
  std::vector<double> w(q.n + 1);
  for (int i = 1; i <= q.n; ++i) {
    double s = q.b[i];
    for (int j = 1; j <= q.n; ++j) s -= static_cast<double>(q.a.m[i][j]) * x[j];
    w[i] = s;
  }
  return w;
}

// Minimum of 1/2 x^T A x - b^T x over x >= 0, by trying every passive set.
std::vector<double> BruteForceNnls(const NormalEquations& q) {
  const int n = q.n;
  std::vector<double> best(n + 1, 0.0);
  double bestValue = 0.0;
  for (int mask = 1; mask < (1 << n); ++mask) {
    std::vector<int> idx;
    for (int i = 0; i < n; ++i) {
      if (mask & (1 << i)) idx.push_back(i + 1);
    }
    const int m = static_cast<int>(idx.size());
    DMat s(m);
    std::vector<double> rhs(m + 1), xs(m + 1), p(m + 1);
    for (int r = 1; r <= m; ++r) {
      rhs[r] = q.b[idx[r - 1]];
      for (int c = 1; c <= m; ++c) s.m[r][c] = q.a.m[idx[r - 1]][idx[c - 1]];
    }
    if (!dcholdc(s.m, m, p.data())) continue;  // singular subsets cannot be optimal
    dcholsl(s.m, m, p.data(), rhs.data(), xs.data());
    bool feasible = true;
    for (int r = 1; r <= m; ++r) feasible = feasible && xs[r] >= 0.0;
    if (!feasible) continue;
    std::vector<double> x(n + 1, 0.0);
    for (int r = 1; r <= m; ++r) x[idx[r - 1]] = xs[r];
    double value = 0.0;
    for (int i = 1; i <= n; ++i) {
      value -= q.b[i] * x[i];
      for (int j = 1; j <= n; ++j) value += 0.5 * x[i] * q.a.m[i][j] * x[j];
    }
    if (value < bestValue) {
      bestValue = value;
      best = x;
    }
  }
  return best;
}

TEST(Nnls, NonNegativeUnconstrainedSolutionIsReturnedAsIs) {
  NormalEquations q(40, 4, {1.0, 0.5, 2.0, 0.25}, 11);
  std::vector<float> x = q.b;
  ASSERT_TRUE(NNLSNormalEquations(q.a.m, x.data(), 4, true));
  // The unconstrained solution of the same system.
  std::vector<float> u = q.b;
  SolveLinearSystem(q.a.m, u.data(), 4, true);
  for (int i = 1; i <= 4; ++i) {
    ASSERT_GT(u[i], 0.0f);
    EXPECT_NEAR(x[i], u[i], 1e-3f * (1.0f + std::fabs(u[i]))) << i;
  }
  // Equations that hold no number have no solution: a failure, not x = 0.
  x = q.b;
  x[1] = std::nanf("");
  EXPECT_FALSE(NNLSNormalEquations(q.a.m, x.data(), 4, true));
}

TEST(Nnls, ConstrainedSolutionMeetsTheOptimalityConditions) {
  for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
    NormalEquations q(30, 5, {1.0, -0.5, 2.0, -1.0, 0.3}, seed);
    const FMat keep(q.a);
    std::vector<float> x = q.b;
    ASSERT_TRUE(NNLSNormalEquations(q.a.m, x.data(), 5, true)) << seed;
    const std::vector<double> w = Gradient(q, x);
    double scale = 0;
    for (int i = 1; i <= 5; ++i) scale = std::max(scale, std::fabs(static_cast<double>(q.b[i])));
    const double tol = 1e-4 * scale;
    int atBound = 0;
    for (int i = 1; i <= 5; ++i) {
      EXPECT_GE(x[i], 0.0f);
      if (x[i] == 0.0f) {
        ++atBound;
        EXPECT_LE(w[i], tol) << "seed " << seed << " i " << i;
      } else {
        EXPECT_NEAR(w[i], 0.0, tol) << "seed " << seed << " i " << i;
      }
    }
    EXPECT_TRUE(q.a.Same(keep));
    EXPECT_GE(atBound, 1) << seed;
    const std::vector<double> best = BruteForceNnls(q);
    for (int i = 1; i <= 5; ++i) EXPECT_NEAR(x[i], best[i], 2e-3) << "seed " << seed << " i " << i;
  }
}

// The double-precision NNLS with caller-owned work storage against the float
// NNLSNormalEquations on the same normal equations (random designs with negative
// true values, so that some unknowns end at the bound), and both against the
// optimality conditions in double. An indefinite passive subsystem is a reported
// failure that leaves the last feasible iterate.
TEST(Nnls, DoublePrecisionNnlsAgreesWithTheFloatOne) {
  ScopedHeadlessBackend backend;
  const int n = 6;
  DMat A(n), work(n);
  std::vector<double> b(n + 1), x(n + 1), w(n + 1), rhs(n + 1), diag(n + 1), sub(n + 1), trial(n + 1);
  std::vector<int> passive(n + 1), index(n + 1);
  int code = -1;
  const auto solve = [&](int size) {
    return NNLS(A.m, b.data(), x.data(), size, w.data(), work.m, rhs.data(), diag.data(), sub.data(),
                trial.data(), passive.data(), index.data(), &code);
  };
  for (unsigned seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
    NormalEquations q(40, n, {1.0, -0.5, 2.0, -1.0, 0.3, 0.8}, seed);
    for (int i = 1; i <= n; ++i) {
      b[i] = q.b[i];
      for (int j = 1; j <= n; ++j) A.m[i][j] = q.a.m[i][j];
    }
    ASSERT_TRUE(solve(n)) << seed;
    EXPECT_EQ(code, kNNLSConverged);
    std::vector<float> xf = q.b;
    ASSERT_TRUE(NNLSNormalEquations(q.a.m, xf.data(), n, true)) << seed;
    double scale = 0.0;
    for (int i = 1; i <= n; ++i) scale = std::max(scale, std::fabs(b[i]));
    for (int i = 1; i <= n; ++i) {
      EXPECT_NEAR(x[i], xf[i], 2e-3) << "seed " << seed << " i " << i;
      double g = b[i];  // the gradient: <= 0 at the bound, 0 where free
      for (int j = 1; j <= n; ++j) g -= A.m[i][j] * x[j];
      EXPECT_GE(x[i], 0.0);
      EXPECT_LE(x[i] == 0.0 ? g : std::fabs(g), 1e-10 * (1.0 + scale)) << "seed " << seed << " i " << i;
    }
  }
  // Nothing to gain (b <= 0): x = 0 at once.
  std::fill(b.begin() + 1, b.end(), -1.0);
  ASSERT_TRUE(solve(n));
  EXPECT_EQ(std::count(x.begin() + 1, x.end(), 0.0), n);
  EXPECT_TRUE(backend->Transcript().empty());
  // An indefinite system: unknown 1 enters at 1, unknown 2 then wants in, and the
  // pair is not positive definite. The box is shown, x stays (1, 0).
  A.m[1][1] = A.m[2][2] = 1.0;
  A.m[1][2] = A.m[2][1] = -1.5;
  b[1] = 1.0;
  b[2] = 0.5;
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_FALSE(solve(2));
  EXPECT_EQ(code, kNNLSNotPositiveDefinite);
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text, "matrix not positive definite in NNLS");
  EXPECT_EQ(x[1], 1.0);
  EXPECT_EQ(x[2], 0.0);
}

TEST(Nnls, VariableDrivenNegativeByALaterOneReturnsToTheBound) {
  // Variable 1 enters first (x = (0.5, 0)); variable 2 then enters, and the joint
  // solution (-0.14, 1.07) is infeasible: the step stops where x1 reaches 0, and
  // the optimum is (0, 0.9) with w1 = 1 - 1.2 * 0.9 < 0.
  FMat a(2, {2.0f, 1.2f, 1.2f, 1.0f});
  float b[3] = {0, 1.0f, 0.9f};
  ASSERT_TRUE(NNLSNormalEquations(a.m, b, 2, true));
  EXPECT_EQ(b[1], 0.0f);
  EXPECT_NEAR(b[2], 0.9f, 1e-6f);
}

TEST(Nnls, IdenticalColumnsEndWithAFeasibleFit) {
  // Six copies of one column: every passive set beyond one variable is singular.
  // Whatever the rounding does, the result is non-negative and fits b.
  const int n = 6;
  FMat a(n);
  std::vector<float> b(n + 1, 0.7f);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) a.m[i][j] = 3.0f;
  NNLSNormalEquations(a.m, b.data(), n, true);
  float sum = 0.0f;
  for (int i = 1; i <= n; ++i) {
    EXPECT_GE(b[i], 0.0f);
    sum += b[i];
  }
  EXPECT_NEAR(3.0f * sum, 0.7f, 1e-5f);
}

TEST(Nnls, AllZeroRowHoldsItsParameterAtZeroWithoutEndingTheProgram) {
  // Parameter 2 has no influence: its column of J is zero, so row and column 2 of
  // A and b[2] are zero.
  NormalEquations q(30, 4, {1.0, 5.0, -1.0, 2.0}, 21, 2);
  std::vector<float> x = q.b;
  ASSERT_TRUE(NNLSNormalEquations(q.a.m, x.data(), 4, true));
  EXPECT_EQ(x[2], 0.0f);
  const std::vector<double> best = BruteForceNnls(q);
  for (int i = 1; i <= 4; ++i) EXPECT_NEAR(x[i], best[i], 2e-3) << i;

  // A zero row with a positive right-hand side (no such normal equations exist):
  // the parameter stays at zero, and nothing ends the program.
  std::vector<float> y = q.b;
  y[2] = 1.0f;
  NNLSNormalEquations(q.a.m, y.data(), 4, true);
  EXPECT_EQ(y[2], 0.0f);
}

TEST(Nnls, NotPositiveDefiniteSubsystemIsReportedAsFailureWithAFeasibleResult) {
  FMat a(2, {1, 0, 0, -1});  // no normal matrix, but what a failed passive solve looks like
  float b[3] = {0, 1, 1};
  EXPECT_FALSE(NNLSNormalEquations(a.m, b, 2, true));
  EXPECT_FLOAT_EQ(b[1], 1.0f);
  EXPECT_EQ(b[2], 0.0f);  // never the unconstrained -1
}

// ---------------------------------------------------------------- Savitzky-Golay

// Applies wrap-around coefficients c[1..np] to samples f(k), k = -nl..nr.
template <typename F>
double ApplyCoefficients(const float* c, int np, int nl, int nr, F f) {
  double s = c[1] * f(0);
  for (int k = 1; k <= nl; ++k) s += c[k + 1] * f(-k);
  for (int k = 1; k <= nr; ++k) s += c[np - k + 1] * f(k);
  return s;
}

TEST(SavitzkyGolay, FivePointQuadraticWeights) {
  float c[6];
  savgol(c, 5, 2, 2, 0, 2);
  const float expected[6] = {0, 17, 12, -3, -3, 12};  // in 35ths, wrap-around order
  for (int i = 1; i <= 5; ++i) EXPECT_NEAR(c[i], expected[i] / 35.0f, 1e-6f) << i;
}

// Coefficients applied to a quadratic give its value (ld 0) or its slope (ld 1) at
// the centre point, for symmetric and one-sided windows; windows too small for the
// order (the ends of a curve) use the highest order they support.
TEST(SavitzkyGolay, CoefficientsReproduceAQuadraticAndItsSlope) {
  auto f = [](int k) { return 3.0 - 1.5 * k + 0.25 * k * k; };
  struct Case { int np, nl, nr, ld, m; double tol; };
  std::vector<Case> cases = {{7, 3, 3, 1, 2, 1e-4}, {6, 1, 4, 1, 3, 1e-3},
                             {3, 0, 2, 0, 4, 1e-5}, {1, 0, 0, 0, 2, 1e-6},
                             {2, 1, 0, 0, 3, 1e-5}};
  for (int m : {2, 3, 4})
    for (int nl : {2, 3, 5})
      for (int nr : {2, 4}) cases.push_back({nl + nr + 1, nl, nr, 0, m, 1e-4});
  for (const Case& c : cases) {
    std::vector<float> coef(c.np + 1);
    savgol(coef.data(), c.np, c.nl, c.nr, c.ld, c.m);
    EXPECT_NEAR(ApplyCoefficients(coef.data(), c.np, c.nl, c.nr, f), c.ld ? -1.5 : f(0), c.tol)
        << c.np << " " << c.nl << " " << c.nr << " " << c.ld << " " << c.m;
  }
}

// A singular LU matrix and invalid smoothing windows show one box each and end
// the command.
TEST(LinearAlgebraFaults, SingularMatrixAndInvalidWindowsEndTheCommand) {
  ScopedHeadlessBackend backend;
  DMat a(2, {1, 2, 0, 0});
  int indx[3];
  double d;
  float c[6];
  const std::function<void()> faults[] = {
      [&] { ludcmp(a.m, 2, indx, &d); },        // row of zeros
      [&] { savgol(c, 4, 2, 2, 0, 2); },        // np < nl + nr + 1
      [&] { savgol(c, 5, 2, 2, 3, 2); },        // ld > m
      [&] { savgol(c, 2, 1, 0, 2, 4); }};       // derivative beyond the window
  for (const auto& fault : faults) {
    backend->QueueMessageBox(IDOK, "Error");
    EXPECT_THROW(fault(), FatalError);
  }
  EXPECT_EQ(backend->Transcript().size(), 4u);
}

}  // namespace
}  // namespace tarmic
