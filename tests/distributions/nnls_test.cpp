// Non-negative least squares on normal equations and the root finders: optimality
// (KKT) conditions, agreement with an exhaustive search, dependent columns, the
// order of a build, and failures that are reported as failures; the equations kept
// and combined for other values of a nonlinear entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/brent_roots.h"
#include "distributions/distribution_models.h"
#include "distributions/interpolated_equations.h"
#include "distributions/nnls.h"
#include "distributions/normal_equations.h"
#include "numerics/linear_algebra.h"
#include "services/run_switches.h"

namespace tarmic::testing {
namespace {

// A least-squares problem K x = y with n columns and m rows, as normal equations in
// the workspace (ppNormalMatrix, its copy ppNormalMatrixReg, pNormalRhs).
struct Problem {
  int n = 0, m = 0;
  std::vector<std::vector<double>> K;  // K[row][col], 0-based
  std::vector<double> y;
};

Problem RandomProblem(int n, int m, unsigned seed, const std::vector<double>& truth) {
  Problem p;
  p.n = n;
  p.m = m;
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.05);
  p.K.assign(static_cast<std::size_t>(m), std::vector<double>(static_cast<std::size_t>(n)));
  p.y.assign(static_cast<std::size_t>(m), 0.0);
  for (int r = 0; r < m; ++r) {
    double v = 0.0;
    for (int c = 0; c < n; ++c) {
      p.K[r][c] = u(random);
      v += p.K[r][c] * truth[static_cast<std::size_t>(c)];
    }
    p.y[r] = v + noise(random);
  }
  return p;
}

void LoadNormalEquations(const Problem& p) {
  ASSERT_TRUE(AllocNormalEquationArrays(p.n, 1, 1));
  for (int i = 1; i <= p.n; ++i) {
    double b = 0.0;
    for (int r = 0; r < p.m; ++r) b += p.K[r][i - 1] * p.y[r];
    DistributionStorage().pNormalRhs[i] = b;
    for (int j = 1; j <= p.n; ++j) {
      double a = 0.0;
      for (int r = 0; r < p.m; ++r) a += p.K[r][i - 1] * p.K[r][j - 1];
      DistributionStorage().ppNormalMatrix[i][j] = DistributionStorage().ppNormalMatrixReg[i][j] = a;
    }
  }
}

// 1/2 x'Ax - b'x of the loaded equations.
double Objective(const std::vector<double>& x, int n) {
  double q = 0.0;
  for (int i = 1; i <= n; ++i) {
    double ax = 0.0;
    for (int j = 1; j <= n; ++j) ax += DistributionStorage().ppNormalMatrixReg[i][j] * x[static_cast<std::size_t>(j)];
    q += 0.5 * x[static_cast<std::size_t>(i)] * ax - DistributionStorage().pNormalRhs[i] * x[static_cast<std::size_t>(i)];
  }
  return q;
}

// The KKT conditions of min 1/2 x'Ax - b'x, x >= 0: x >= 0, w = b - Ax <= 0 where
// x = 0 and w = 0 where x > 0 (relative to the size of b).
void ExpectKKT(int n) {
  double scale = 0.0;
  for (int i = 1; i <= n; ++i) scale = std::max(scale, std::fabs(DistributionStorage().pNormalRhs[i]));
  for (int i = 1; i <= n; ++i) {
    double w = DistributionStorage().pNormalRhs[i];
    for (int j = 1; j <= n; ++j) w -= DistributionStorage().ppNormalMatrixReg[i][j] * DistributionStorage().pDistSolution[j];
    EXPECT_GE(DistributionStorage().pDistSolution[i], 0.0) << i;
    if (DistributionStorage().pDistSolution[i] > 0.0) {
      EXPECT_NEAR(w, 0.0, 1e-9 * scale) << i;
    } else {
      EXPECT_LE(w, 1e-9 * scale) << i;
    }
  }
}

using NnlsTest = DistributionTest;

TEST_F(NnlsTest, SolutionMeetsTheOptimalityConditions) {
  std::vector<double> truth(40, 0.0);
  for (int i = 0; i < 40; i += 5) truth[static_cast<std::size_t>(i)] = 1.0 + 0.1 * i;
  LoadNormalEquations(RandomProblem(40, 600, 3, truth));
  EXPECT_TRUE(NNLS());
  ExpectKKT(40);
  int zeros = 0;
  for (int i = 1; i <= 40; ++i) zeros += DistributionStorage().pDistSolution[i] == 0.0;
  EXPECT_GT(zeros, 0);  // the bound is active somewhere
}

TEST_F(NnlsTest, MatchesTheBestOfAllActiveSets) {
  // Exhaustive search over the 2^n free sets of a small problem: the best feasible
  // unconstrained solution on a free set is the constrained optimum.
  const int n = 7;
  const std::vector<double> truth = {0.0, 2.0, 0.0, 0.5, 0.0, 0.0, 1.0};
  LoadNormalEquations(RandomProblem(n, 60, 11, truth));
  double best = 1e300;
  std::vector<double> bestX(n + 1, 0.0);
  for (int mask = 0; mask < (1 << n); ++mask) {
    std::vector<int> free;
    for (int i = 0; i < n; ++i) {
      if (mask & (1 << i)) free.push_back(i + 1);
    }
    const int m = static_cast<int>(free.size());
    std::vector<double> x(n + 1, 0.0);
    if (m > 0) {
      double** a = dmatrix(1, m, 1, m);
      double* b = dvector(1, m);
      for (int r = 1; r <= m; ++r) {
        for (int c = 1; c <= m; ++c) a[r][c] = DistributionStorage().ppNormalMatrixReg[free[r - 1]][free[c - 1]];
        b[r] = DistributionStorage().pNormalRhs[free[r - 1]];
      }
      SolveLinearSystem(a, b, m, false);
      bool feasible = true;
      for (int r = 1; r <= m; ++r) {
        feasible = feasible && b[r] >= 0.0;
        x[static_cast<std::size_t>(free[r - 1])] = b[r];
      }
      free_dmatrix(a, 1, m, 1, m);
      free_dvector(b, 1, m);
      if (!feasible) continue;
    }
    const double q = Objective(x, n);
    if (q < best) {
      best = q;
      bestX = x;
    }
  }
  ASSERT_TRUE(NNLS());
  for (int i = 1; i <= n; ++i) EXPECT_NEAR(DistributionStorage().pDistSolution[i], bestX[static_cast<std::size_t>(i)], 1e-9) << i;
}

TEST_F(NnlsTest, NonPositiveRightHandSideGivesZeroAtOnce) {
  LoadNormalEquations(RandomProblem(5, 50, 1, {1, 1, 1, 1, 1}));
  for (int i = 1; i <= 5; ++i) DistributionStorage().pNormalRhs[i] = i == 3 ? 1e-11 : -1.0;
  EXPECT_TRUE(NNLS());
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(DistributionStorage().pDistSolution[i], 0.0);
}

TEST_F(NnlsTest, IdenticalKernelsAreNoFailureAndStayNonNegative) {
  // Columns 2 and 3 are the same kernel, on data of a large scale: rounding leaves
  // the twin of a free column with a gradient above the tolerance, and freeing it
  // would make the passive subsystem singular.
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::vector<double> truth = {1.0, 1.0, 0.0, 0.5, 0.0, 2.0};
    Problem p = RandomProblem(6, 300, seed, truth);
    for (auto& row : p.K) row[2] = row[1];
    for (auto& v : p.y) v *= 1e5;
    LoadNormalEquations(p);
    EXPECT_TRUE(NNLS()) << seed;
    ExpectKKT(6);
  }
  EXPECT_EQ(backend->Transcript().size(), 0u);
}

TEST_F(NnlsTest, SolvesOnlyTheOrderTheBuildWrote) {
  // A build of order n - 1 (a fixed first kernel) leaves row n of an earlier build.
  const std::vector<double> truth = {1.0, 0.0, 2.0, 0.7};
  LoadNormalEquations(RandomProblem(4, 100, 2, truth));
  std::vector<double> reference(4, 0.0);
  DistributionStorage().nNEQUnknowns = 3;
  ASSERT_TRUE(NNLS());
  for (int i = 1; i <= 3; ++i) reference[static_cast<std::size_t>(i)] = DistributionStorage().pDistSolution[i];
  for (int j = 1; j <= 4; ++j) DistributionStorage().ppNormalMatrixReg[4][j] = DistributionStorage().ppNormalMatrixReg[j][4] = -1e6;
  DistributionStorage().pNormalRhs[4] = 1e9;  // stale values that must not matter
  DistributionStorage().pDistSolution[4] = 123.0;
  ASSERT_TRUE(NNLS());
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(DistributionStorage().pDistSolution[i], reference[static_cast<std::size_t>(i)]);
  EXPECT_EQ(DistributionStorage().pDistSolution[4], 123.0);
}

// A kernel that came out as NaN makes equations without a solution: a reported
// failure with a zero solution, in batch mode the series code without a box.
TEST_F(NnlsTest, NonFiniteEquationsAreAReportedFailure) {
  LoadNormalEquations(RandomProblem(3, 30, 4, {1.0, 1.0, 1.0}));
  DistributionStorage().ppNormalMatrixReg[2][2] = std::nan("");
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_FALSE(NNLS());
  EXPECT_TRUE(backend->AllAnswersUsed());
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(DistributionStorage().pDistSolution[i], 0.0);

  nSeriesErrorCode = 0;
  bBatchMode = true;
  LoadNormalEquations(RandomProblem(3, 30, 4, {1.0, 1.0, 1.0}));
  DistributionStorage().pNormalRhs[1] = std::nan("");
  EXPECT_FALSE(NNLS());
  EXPECT_EQ(nSeriesErrorCode, 2);
  EXPECT_EQ(backend->Transcript().size(), 1u);
  nSeriesErrorCode = 0;
}

// --- root finders ---

double Cubic(double x) { return x * x * x - 2.0; }
float CubicF(float x) { return x * x * x - 2.0f; }
float AlwaysPositive(float x) { return 1.0f + x * x; }
float Line(float x) { return x - 3.0f; }

TEST_F(NnlsTest, BrentFindsARootInBothPrecisionsAndBeyondAShortBracket) {
  bool failed = true;
  EXPECT_NEAR(zbrent(Cubic, 0.0, 2.0, 1e-10, &failed), std::cbrt(2.0), 1e-9);
  EXPECT_FALSE(failed);
  EXPECT_NEAR(zbrent(CubicF, 0.0f, 2.0f, 1e-5f, &failed), std::cbrt(2.0f), 1e-5);
  EXPECT_FALSE(failed);
  // Root at 3 beyond x2 = 1: the single precision bracket is widened.
  EXPECT_NEAR(zbrent(Line, 0.0f, 1.0f, 1e-6f, &failed), 3.0f, 1e-5);
  EXPECT_FALSE(failed);
  EXPECT_EQ(backend->Transcript().size(), 0u);
}

// An unbracketed root is a reported failure, not a silent zero; under the worm-like
// chain model the warning comes from the second unbracketed root on.
TEST_F(NnlsTest, UnbracketedRootIsAReportedFailureNotASilentZero) {
  bool failed = false;
  backend->QueueMessageBox(IDOK, "Error");
  zbrent(AlwaysPositive, 0.0f, 1.0f, 1e-6f, &failed);
  EXPECT_TRUE(failed);
  EXPECT_TRUE(backend->AllAnswersUsed());

  ModelFlags().bCsWormChain = true;
  failed = false;
  zbrent(AlwaysPositive, 0.0f, 1.0f, 1e-6f, &failed);
  EXPECT_TRUE(failed);
  EXPECT_EQ(backend->Transcript().size(), 1u);
  backend->QueueMessageBox(IDOK, "Error");
  zbrent(AlwaysPositive, 0.0f, 1.0f, 1e-6f, &failed);
  EXPECT_EQ(backend->Transcript().size(), 2u);
}

// Kernels K(p) = K0 + p1 K1 + p2 K2 (m rows, n columns, 0-based) and data y: their
// equations are exactly quadratic in p, so the quadratic through six kept systems
// is exact everywhere.
struct LinearKernels {
  int n = 0, m = 0;
  std::vector<std::vector<double>> k0, k1, k2;
  std::vector<double> y;
  double At(int r, int c, double p1, double p2) const { return k0[r][c] + p1 * k1[r][c] + p2 * k2[r][c]; }
  // The equations at p, built from the rows.
  KeptEquations Equations(double p1, double p2) const {
    KeptEquations e;
    e.order = n;
    for (int i = 0; i < n; ++i) {
      double b = 0.0;
      for (int r = 0; r < m; ++r) b += At(r, i, p1, p2) * y[r];
      e.rhs.push_back(b);
      for (int j = 0; j <= i; ++j) {
        double a = 0.0;
        for (int r = 0; r < m; ++r) a += At(r, i, p1, p2) * At(r, j, p1, p2);
        e.lower.push_back(a);
      }
    }
    for (double v : y) e.sumSq += v * v;
    return e;
  }
  // |K(p) x - y|^2 over the rows, x one-based.
  double Residual(const std::vector<double>& x, double p1, double p2) const {
    double ss = 0.0;
    for (int r = 0; r < m; ++r) {
      double v = -y[r];
      for (int c = 0; c < n; ++c) v += At(r, c, p1, p2) * x[static_cast<std::size_t>(c + 1)];
      ss += v * v;
    }
    return ss;
  }
};

// Peaks sliding with p1 and widening with p2 over m radii: the columns' shapes
// change as the kernels of a c(s) grid do with the meniscus and f/f0 (to first
// order), and data of two of the columns plus noise.
LinearKernels SlidingPeaks(int n, int m, unsigned seed) {
  LinearKernels k;
  k.n = n;
  k.m = m;
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, 0.01);
  auto shape = [](double x) { return std::exp(-x * x); };
  auto slope = [](double x) { return -2.0 * x * std::exp(-x * x); };
  for (int r = 0; r < m; ++r) {
    std::vector<double> a, b, c;
    for (int col = 0; col < n; ++col) {
      const double x = (r - (col + 0.5) * m / n) / (0.6 * m / n);
      a.push_back(shape(x));
      b.push_back(-slope(x) / (0.6 * m / n) * 3.0);  // a shift of p1 radii
      c.push_back(x * slope(x) * 0.5);               // a relative widening of p2 / 2
    }
    k.k0.push_back(a);
    k.k1.push_back(b);
    k.k2.push_back(c);
    const double x1 = (r - 0.3 * m) / (0.6 * m / n), x2 = (r - 0.7 * m) / (0.6 * m / n);
    k.y.push_back(shape(x1) + 0.5 * shape(x2) + noise(random));
  }
  return k;
}

TEST_F(NnlsTest, KeptEquationsCombinedReproduceTheChiSquareOfTheirKernels) {
  const int n = 12;
  const LinearKernels kernels = SlidingPeaks(n, 240, 5);
  ASSERT_TRUE(AllocNormalEquationArrays(n, 1, 1));
  DistributionStorage().nNEQUnknowns = n;
  const std::vector<std::vector<double>> design = {{0.0, 0.0}, {1.0, 0.0}, {-1.0, 0.0},
                                                   {0.0, 1.0}, {0.0, -1.0}, {1.0, 1.0}};
  std::vector<KeptEquations> kept;
  for (const auto& d : design) kept.push_back(kernels.Equations(d[0], d[1]));
  std::vector<const KeptEquations*> systems;
  for (const auto& k : kept) systems.push_back(&k);
  // Inside the design, on its edge and a little beyond it.
  for (const std::vector<double>& u : std::vector<std::vector<double>>{
           {0.3, -0.2}, {-0.8, 0.6}, {1.0, -1.0}, {0.5, 0.5}, {-1.3, -0.4}}) {
    const std::vector<double> w = QuadraticWeights(design, {}, u);
    ASSERT_EQ(w.size(), design.size());
    double chiCombined = 0.0, chiDirect = 0.0;
    std::vector<double> x;
    ASSERT_TRUE(ChiSquareOfEquations(CombineEquations(systems, w), &chiCombined, &x));
    ASSERT_TRUE(ChiSquareOfEquations(kernels.Equations(u[0], u[1]), &chiDirect));
    // The chi-square is the residual of the rows at the solution, and equal to the
    // one of the system built at u.
    EXPECT_NEAR(chiCombined, kernels.Residual(x, u[0], u[1]), 1e-9 * kept[0].sumSq) << u[0] << ", " << u[1];
    EXPECT_NEAR(chiCombined, chiDirect, 1e-9 * kept[0].sumSq) << u[0] << ", " << u[1];
    EXPECT_NEAR(ChiSquareAt(CombineEquations(systems, w), x), chiCombined, 1e-9 * kept[0].sumSq);
    for (int i = 1; i <= n; ++i) EXPECT_GE(x[static_cast<std::size_t>(i)], 0.0);
  }
}

TEST_F(NnlsTest, QuadraticWeightsFitAQuadraticAndRefuseWhatDoesNotDetermineOne) {
  // A 3 x 3 design (least squares, more points than coefficients) reproduces any
  // quadratic: sum_k w_k q(at_k) = q(u), also with unequal weights.
  std::vector<std::vector<double>> design;
  for (int a = -1; a <= 1; ++a)
    for (int b = -1; b <= 1; ++b) design.push_back({2.0 + 0.5 * a, -1.0 + 0.02 * b});
  auto q = [](const std::vector<double>& v) {
    return 3.0 - v[0] + 40.0 * v[1] + 0.7 * v[0] * v[0] - 15.0 * v[0] * v[1] + 900.0 * v[1] * v[1];
  };
  const std::vector<double> weight = {1.0, 2.0, 0.5, 1.0, 3.0, 1.0, 0.2, 1.0, 1.0};
  for (const std::vector<double>& u : std::vector<std::vector<double>>{{2.1, -0.99}, {1.2, -1.05}}) {
    for (const auto& wt : {std::vector<double>{}, weight}) {
      const std::vector<double> w = QuadraticWeights(design, wt, u);
      ASSERT_EQ(w.size(), design.size());
      double v = 0.0, sum = 0.0;
      for (std::size_t k = 0; k < design.size(); ++k) {
        v += w[k] * q(design[k]);
        sum += w[k];
      }
      EXPECT_NEAR(v, q(u), 1e-9 * std::abs(q(u)) + 1e-9);
      EXPECT_NEAR(sum, 1.0, 1e-12);
    }
  }
  // Five points for six coefficients, and six on one line, determine no quadratic.
  EXPECT_TRUE(QuadraticWeights({{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}}, {}, {0.5, 0.5}).empty());
  EXPECT_TRUE(
      QuadraticWeights({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}, {}, {0.5, 0.5}).empty());
  // One entry: three points.
  const std::vector<double> w1 = QuadraticWeights({{1.0}, {2.0}, {4.0}}, {}, {3.0});
  ASSERT_EQ(w1.size(), 3u);
  EXPECT_NEAR(w1[0] * 1.0 + w1[1] * 4.0 + w1[2] * 16.0, 9.0, 1e-12);
}

TEST_F(NnlsTest, SolvingKeptEquationsLeavesTheStorageAsItWas) {
  const int n = 6;
  const LinearKernels kernels = SlidingPeaks(n, 90, 9);
  ASSERT_TRUE(AllocNormalEquationArrays(n, 1, 1));
  DistributionStorage().nNEQUnknowns = n;
  const KeptEquations in = kernels.Equations(0.0, 0.0);
  ASSERT_TRUE(ChiSquareOfEquations(in, nullptr));  // fills the storage's solution
  auto& st = DistributionStorage();
  for (int i = 1; i <= n; ++i) {
    st.pNormalRhs[i] = in.rhs[static_cast<std::size_t>(i - 1)];
    for (int j = 1; j <= i; ++j)
      st.ppNormalMatrix[i][j] = st.ppNormalMatrix[j][i] = in.lower[static_cast<std::size_t>(i * (i - 1) / 2 + j - 1)];
    st.pDistSolution[i] = 0.25 * i;
  }
  NormalEquations().dSumSqData = in.sumSq;
  const KeptEquations before = KeepNormalEquations();
  EXPECT_EQ(before.lower, in.lower);
  double chi = 0.0;
  ASSERT_TRUE(ChiSquareOfEquations(kernels.Equations(0.8, -0.5), &chi));
  const KeptEquations after = KeepNormalEquations();
  EXPECT_EQ(after.lower, before.lower);
  EXPECT_EQ(after.rhs, before.rhs);
  EXPECT_EQ(after.sumSq, before.sumSq);
  for (int i = 1; i <= n; ++i) EXPECT_EQ(st.pDistSolution[i], 0.25 * i);
  // A system of another order is refused, not solved.
  EXPECT_FALSE(ChiSquareOfEquations(SlidingPeaks(n + 1, 90, 9).Equations(0.0, 0.0), &chi));
}

}  // namespace
}  // namespace tarmic::testing
