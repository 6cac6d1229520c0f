// Statistics: the F distribution against published tables, identities of the
// incomplete beta function and ln Gamma, Brent's root finder, and the runs test.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "services/error_box.h"
#include "numerics/statistics.h"
#include "platform/headless/headless_backend.h"
#include "platform/types.h"

namespace tarmic {
namespace {

// ---- F distribution ----

struct CriticalFCase {
  double P, nu1, nu2, F;
};

TEST(CriticalF, MatchesPublishedTables) {
  ScopedHeadlessBackend backend;  // any error box would fail the test
  const CriticalFCase cases[] = {
      {0.95, 1, 10, 4.9646}, {0.95, 5, 20, 2.7109},  {0.99, 2, 30, 5.3903},
      {0.95, 10, 10, 2.9782}, {0.99, 1, 1, 4052.18}, {0.90, 3, 60, 2.1774},
      {0.95, 2, 2, 19.0},     {0.999, 4, 8, 14.392},
  };
  for (const CriticalFCase& c : cases) {
    const double F = CalculateCriticalF(c.P, c.nu1, c.nu2);
    EXPECT_NEAR(F, c.F, 2e-4 * c.F) << "P " << c.P << " nu1 " << c.nu1 << " nu2 " << c.nu2;
  }
  EXPECT_TRUE(backend->Transcript().empty());
}

TEST(CriticalF, IsTheInverseOfTheFProbability) {
  ScopedHeadlessBackend backend;
  const double dof[][2] = {{1, 1}, {1, 10}, {3, 7}, {40, 40}, {999, 1000}, {20000, 20000}};
  for (double P : {0.1, 0.5, 0.683, 0.68, 0.9, 0.99}) {
    for (const auto& nu : dof) {
      const double F = CalculateCriticalF(P, nu[0], nu[1]);
      EXPECT_GT(F, 0.0);
      EXPECT_NEAR(CalculateFProbability(F, nu[0], nu[1]), 1.0 - P, 5e-6)
          << "P " << P << " nu1 " << nu[0] << " nu2 " << nu[1];
    }
  }
  EXPECT_TRUE(backend->Transcript().empty());
}

TEST(CriticalF, RejectsInvalidArgumentsWithAMessage) {
  ScopedHeadlessBackend backend;
  for (int i = 0; i < 3; ++i) backend->QueueMessageBox(IDOK, "Error");
  EXPECT_EQ(CalculateCriticalF(1.0, 5, 5), 0.0);
  EXPECT_EQ(CalculateCriticalF(0.95, 0, 5), 0.0);
  EXPECT_EQ(CalculateCriticalF(0.95, 5, -1), 0.0);
  EXPECT_EQ(backend->Transcript().size(), 3u);
  EXPECT_EQ(CalculateFProbability(2.0, 0, 0), 0.0);
}

// ---- incomplete beta and ln Gamma ----

TEST(IncompleteBeta, SatisfiesClosedForms) {
  for (double x : {0.0, 0.1, 0.35, 0.5, 0.8, 1.0}) {
    EXPECT_NEAR(betai(1, 1, x), x, 1e-7);
    EXPECT_NEAR(betai(3.5, 1, x), std::pow(x, 3.5), 1e-7);
    EXPECT_NEAR(betai(1, 2.5, x), 1.0 - std::pow(1.0 - x, 2.5), 1e-7);
  }
  for (double a : {0.5, 2.0, 17.0, 300.0}) EXPECT_NEAR(betai(a, a, 0.5), 0.5, 1e-7);
  for (double x : {0.05, 0.3, 0.62, 0.97})
    EXPECT_NEAR(betai(2.3, 7.1, x), 1.0 - betai(7.1, 2.3, 1.0 - x), 1e-7);
}

TEST(IncompleteBeta, GivesTheBinomialTail) {
  // P(X >= k) for X ~ Binomial(n, p) equals I_p(k, n - k + 1).
  const int n = 12;
  const double p = 0.3;
  for (int k = 1; k <= n; ++k) {
    double tail = 0.0;
    for (int j = k; j <= n; ++j)
      tail += std::exp(std::lgamma(n + 1.0) - std::lgamma(j + 1.0) - std::lgamma(n - j + 1.0)) *
              std::pow(p, j) * std::pow(1 - p, n - j);
    EXPECT_NEAR(betai(k, n - k + 1, p), tail, 1e-7) << "k " << k;
  }
}

TEST(IncompleteBeta, RejectsXOutsideTheUnitIntervalAsFatal) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_THROW(betai(2, 3, 1.5), FatalError);
  EXPECT_EQ(backend->Transcript().size(), 1u);
}

TEST(LogGamma, MatchesKnownValues) {
  EXPECT_NEAR(gammln(0.5), 0.5 * std::log(M_PI), 1e-10);
  EXPECT_NEAR(gammln(10.0), std::log(362880.0), 1e-9);
  EXPECT_NEAR(gammln(171.5), std::lgamma(171.5), 1e-7);
  for (double x : {0.3, 1.7, 4.2, 33.3})
    EXPECT_NEAR(gammln(x + 1.0) - gammln(x), std::log(x), 1e-9) << "x " << x;
}

// ---- root finder ----

TEST(RootFinder, FindsABracketedRootToTheTolerance) {
  ScopedHeadlessBackend backend;
  const double root = statzbrent([](double x) { return std::cos(x) - x; }, 0.0, 1.0, 1e-10);
  EXPECT_NEAR(root, 0.7390851332151607, 1e-7);  // relative precision 3e-8
  EXPECT_TRUE(backend->Transcript().empty());
}

TEST(RootFinder, ReportsAMissingBracket) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  backend->QueueMessageBox(IDOK, "Error");
  statzbrent([](double x) { return x * x + 1.0; }, -1.0, 2.0, 1e-7);
  EXPECT_GE(backend->Transcript().size(), 1u);
}

// ---- runs test ----

// Residual rows (1-based scans and points) for the runs test: signal = residual,
// fit = 0, every scan over all its points.
using Rows = std::vector<std::vector<float>>;

struct RunsData {
  explicit RunsData(const Rows& residuals) {
    const int n = static_cast<int>(residuals.size());
    order.resize(n + 1);
    first.resize(n + 1);
    last.resize(n + 1);
    signal.resize(n + 1);
    fit.resize(n + 1);
    for (int s = 1; s <= n; ++s) {
      signal[s].assign(1, 0.0f);
      signal[s].insert(signal[s].end(), residuals[s - 1].begin(), residuals[s - 1].end());
      fit[s].assign(signal[s].size(), 0.0f);
      order[s] = s;
      first[s] = 1;
      last[s] = static_cast<int>(residuals[s - 1].size());
    }
    for (int s = 0; s <= n; ++s) {
      signalRows.push_back(signal[s].data());
      fitRows.push_back(fit[s].data());
    }
  }
  float Z(int from, int to) const {
    return CalculateRunsTestZ(signalRows.data(), fitRows.data(), from, to, order.data(),
                              first.data(), last.data());
  }
  std::vector<std::vector<float>> signal, fit;
  std::vector<const float*> signalRows, fitRows;
  std::vector<int> order, first, last;
};

TEST(RunsTest, AlternatingSignsGiveManyRuns) {
  // n+ = n- = 5, R = 10: mu = 6, sigma^2 = 2000/900.
  RunsData d(Rows{{1, -1, 1, -1, 1, -1, 1, -1, 1, -1}});
  EXPECT_NEAR(d.Z(1, 1), 4.5 / std::sqrt(2000.0 / 900.0), 1e-5);
}

TEST(RunsTest, EverySecondScanOpensARun) {
  // Runs (+ +)(-)|(-)(+): R = 4 with n+ = 3, n- = 2; mu = 3.4, sigma^2 = 0.84.
  RunsData d(Rows{{1, 2, -1}, {-1, 1}});
  EXPECT_NEAR(d.Z(1, 2), 1.1 / std::sqrt(0.84), 1e-5);
}

TEST(RunsTest, ZeroResidualsCountAsNegativeButNeverOpenARun) {
  // (+ 0 +) is one run with n+ = 2, n- = 1: mu = 7/3, sigma^2 = 2/9.
  RunsData d(Rows{{1, 0, 1}});
  EXPECT_NEAR(d.Z(1, 1), std::fabs(1.0 - 7.0 / 3.0 + 0.5) / std::sqrt(2.0 / 9.0), 1e-5);
}

TEST(RunsTest, DegenerateInputsGiveZero) {
  RunsData allPositive(Rows{{1, 2, 3, 4}});
  EXPECT_EQ(allPositive.Z(1, 1), 0.0f);
  RunsData onePoint(Rows{{1}});
  EXPECT_EQ(onePoint.Z(1, 1), 0.0f);
  EXPECT_EQ(allPositive.Z(1, 0), 0.0f);  // no scans
  EXPECT_EQ(CalculateRunsTestZ(nullptr, nullptr, 1, 1, nullptr, nullptr, nullptr), 0.0f);
}

}  // namespace
}  // namespace tarmic
