// Non-negative least squares on normal equations and the root finders: optimality
// (KKT) conditions, agreement with an exhaustive search, dependent columns, the
// order of a build, and failures that are reported as failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/brent_roots.h"
#include "distributions/distribution_models.h"
#include "distributions/nnls.h"
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

}  // namespace
}  // namespace tarmic::testing
