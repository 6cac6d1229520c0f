// Tikhonov-Phillips and maximum-entropy regularisation: the penalty matrices of the
// three layouts, the strength set by the confidence level (the chi-square ratio
// reaches the critical F), the cases without regularisation, and failures that give
// no regularised result.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/distribution_models.h"
#include "distributions/maximum_entropy.h"
#include "distributions/nnls.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"
#include "numerics/statistics.h"

namespace tarmic::testing {
namespace {

// D'D of the second-difference operator on n points, formed explicitly.
double BruteSecondDerivative(int n, int i, int j) {
  double sum = 0.0;
  for (int r = 2; r <= n - 1; ++r) {
    auto d = [r](int k) { return k == r - 1 || k == r + 1 ? 1.0 : (k == r ? -2.0 : 0.0); };
    sum += d(i) * d(j);
  }
  return sum;
}

// A workspace of n unknowns whose normal matrix is the identity and b = 0.
void IdentityEquations(int n) {
  ASSERT_TRUE(AllocNormalEquationArrays(n, 1, 1));
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) DistributionStorage().ppNormalMatrix[i][j] = i == j ? 1.0 : 0.0;
  }
}

double Penalty(int i, int j) { return DistributionStorage().ppNormalMatrixReg[i][j] - (i == j ? 1.0 : 0.0); }

// A c(s)-like problem: 30 scans of 150 radii, 40 kernels from 1 to 12 S, two
// species, noise 0.005.
void NoisyExperiment(double sigma = 0.005) {
  InstallFlatDataSet(30, 150);
  const std::vector<double> s = EvenS(40, 1.0, 12.0);
  MakeKernels(s);
  std::vector<double> amp(40, 0.0);
  amp[8] = 0.3;
  amp[9] = 0.2;
  amp[27] = 0.4;
  MakeData(amp, {}, {}, sigma);
  ASSERT_TRUE(BuildNormalEquations(NoiseModel::Plain));
}

double ExpectedTarget(float P) {
  const double nu = static_cast<double>(CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1) * DataSet().nScans - DistributionStorage().nNEQUnknowns;
  return CalculateCriticalF(P, nu, nu);
}

using PenaltyTest = DistributionTest;
using RegularizeTest = DistributionTest;
using MaxEntTest = DistributionTest;

TEST_F(PenaltyTest, PatternIsTheProductOfSecondDifferences) {
  for (int n = 1; n <= 9; ++n) {
    double trace = 0.0;
    for (int i = 1; i <= n; ++i) {
      trace += SecondDerivativePattern(n, i, i);
      for (int j = 1; j <= n; ++j) {
        EXPECT_EQ(SecondDerivativePattern(n, i, j), BruteSecondDerivative(n, i, j)) << n << ":" << i << "," << j;
      }
    }
    if (n >= 4) {
      EXPECT_EQ(trace, 6.0 * n - 12.0) << n;
    }
  }
}

TEST_F(PenaltyTest, FrictionalRatioPatternAddsFirstDifferencesAtBothEnds) {
  const int cells[][3] = {{1, 1, 11}, {1, 2, -12}, {1, 3, 1},   {2, 2, 15},
                          {3, 3, 6},  {5, 5, 15},  {6, 5, -12}, {6, 6, 11}};
  for (const auto& c : cells) EXPECT_EQ(Ff0PenaltyPattern(6, c[0], c[1]), c[2]) << c[0] << "," << c[1];
}

// Each layout against its penalty made from the patterns: plain; a discrete first
// unknown left out; 4 f/f0 rows of 5 s values (unknown (j-1)5+i), penalised along s
// within a row and, scaled, along f/f0 at each s.
TEST_F(PenaltyTest, EveryLayoutAddsAlphaTimesItsPattern) {
  auto cell = [](int a, int* i, int* j) { *j = (a - 1) / 5 + 1, *i = (a - 1) % 5 + 1; };
  const struct {
    const char* name;
    int n;
    double alpha;
    std::function<void()> set;
    std::function<double(int, int)> expected;
  } layouts[] = {
      {"plain", 7, 0.5, [] {}, [](int i, int j) { return 0.5 * SecondDerivativePattern(7, i, j); }},
      {"discrete first", 7, 2.0, [] { ModelFlags().bCsOneDiscreteD = true, DistributionVectors().nDistGrid = 7; },
       [](int i, int j) { return i == 1 || j == 1 ? 0.0 : 2.0 * SecondDerivativePattern(6, i - 1, j - 1); }},
      {"size and shape", 20, 1.0, [] { ModelFlags().bCsff0Model = true, DistributionVectors().nDistGrid = 5, DistributionGrid().nFf0Values = 4, DistributionModels().f2DRegScale = 10.0f; },
       [cell](int a, int b) {
         int i, j, ii, jj;
         cell(a, &i, &j), cell(b, &ii, &jj);
         return (j == jj ? SecondDerivativePattern(5, i, ii) : 0.0) + (i == ii ? 10.0 * Ff0PenaltyPattern(4, j, jj) : 0.0);
       }},
  };
  for (const auto& l : layouts) {
    ResetAll();
    l.set();
    IdentityEquations(l.n);
    AddSecondDerivativePenalty(l.alpha);
    for (int i = 1; i <= l.n; ++i)
      for (int j = 1; j <= l.n; ++j) EXPECT_DOUBLE_EQ(Penalty(i, j), l.expected(i, j)) << l.name << " " << i << "," << j;
  }
}

TEST_F(PenaltyTest, PriorWeightsDivideThePenaltyAndZeroWeightsStayFinite) {
  DistributionVectors().nDistGrid = 6;
  IdentityEquations(6);
  DistributionVectors().pPriorProbability = dvector(1, 6);
  for (int i = 1; i <= 6; ++i) DistributionVectors().pPriorProbability[i] = 0.5;
  DistributionVectors().pPriorProbability[4] = 0.0;
  DistributionModels().bUsePrior = true;
  AddSecondDerivativePenalty(1.0);
  // Only the shape counts: the weights are taken relative to their mean m.
  const double m = (5.0 * 0.5 + 0.5e-6) / 6.0;
  EXPECT_NEAR(Penalty(1, 2), -2.0 * m * m / 0.25, 1e-12);
  for (int i = 1; i <= 6; ++i) {
    for (int j = 1; j <= 6; ++j) EXPECT_TRUE(std::isfinite(DistributionStorage().ppNormalMatrixReg[i][j]));
  }
  // A zero weight counts as a millionth of the largest.
  EXPECT_NEAR(Penalty(4, 4), 6.0 * m * m / (0.5e-6 * 0.5e-6), 1e-9 * Penalty(4, 4));
  // Ten times the prior is the same prior.
  const double p44 = Penalty(4, 4), p12 = Penalty(1, 2);
  for (int i = 1; i <= 6; ++i) DistributionVectors().pPriorProbability[i] *= 10.0;
  AddSecondDerivativePenalty(1.0);
  EXPECT_NEAR(Penalty(4, 4), p44, 1e-12 * p44);
  EXPECT_NEAR(Penalty(1, 2), p12, 1e-12 * std::fabs(p12));
  free_dvector(DistributionVectors().pPriorProbability, 1, 6);
  DistributionVectors().pPriorProbability = nullptr;
}

TEST_F(RegularizeTest, ConfidenceLevelSetsTheChiSquareRatioToTheCriticalF) {
  NoisyExperiment();
  DistributionModels().fConfidenceLevel = 0.68f;
  ASSERT_TRUE(Regularize());
  const double F = ExpectedTarget(0.68f);
  EXPECT_FLOAT_EQ(Regularization().fTargetRatio, static_cast<float>(F));
  EXPECT_EQ(Regularization().fDegreesOfFreedom, 30.0f * 150.0f - 40.0f);
  EXPECT_GT(F, 1.0);
  EXPECT_NEAR(Regularization().dChiSquare / Regularization().dChiSquareMin, F, 0.01 * (F - 1.0));
  EXPECT_GT(Regularization().fAlphaFactor, 0.0f);
  for (int i = 1; i <= 40; ++i) EXPECT_GE(DistributionStorage().pDistSolution[i], 0.0);
  EXPECT_EQ(backend->Transcript().size(), 0u);
}

TEST_F(RegularizeTest, ConfidenceAboveOneIsTheChiSquareRatioItself) {
  NoisyExperiment();
  DistributionModels().fConfidenceLevel = 1.05f;
  backend->QueueMessageBox(IDOK, "");
  ASSERT_TRUE(Regularize());
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text, "P > 1 => interpreting P value as chi-square ratio");
  EXPECT_EQ(Regularization().fTargetRatio, 1.05f);
  EXPECT_NEAR(Regularization().dChiSquare / Regularization().dChiSquareMin, 1.05, 0.0005);
}

TEST_F(RegularizeTest, NoRegularisationAtHalfOrFullConfidenceOrFewUnknowns) {
  GetDistributionHooks().wizardMessages = [] { return true; };
  NoisyExperiment();
  for (float P : {0.5f, 1.0f}) {
    DistributionModels().fConfidenceLevel = P;
    backend->QueueMessageBox(IDOK, "");
    ASSERT_TRUE(Regularize());
    EXPECT_EQ(Regularization().dChiSquare, Regularization().dChiSquareMin);
  }
  ASSERT_EQ(backend->Transcript().size(), 2u);
  EXPECT_EQ(backend->Transcript()[0].text, "no regularization:  either P < 0.5, P = 1, or to low resolution");
  // The solution is the plain non-negative least squares.
  std::vector<double> regularised(DistributionStorage().pDistSolution + 1, DistributionStorage().pDistSolution + 41);
  AddSecondDerivativePenalty(0.0);
  ASSERT_TRUE(NNLS());
  for (int i = 1; i <= 40; ++i) EXPECT_EQ(DistributionStorage().pDistSolution[i], regularised[static_cast<std::size_t>(i - 1)]);

  InstallFlatDataSet(5, 60);
  MakeKernels(EvenS(3, 2.0, 8.0));
  MakeData({0.2, 0.1, 0.3}, {}, {}, 0.001);
  ASSERT_TRUE(BuildNormalEquations(NoiseModel::Plain));
  DistributionModels().fConfidenceLevel = 0.95f;
  backend->QueueMessageBox(IDOK, "");
  ASSERT_TRUE(Regularize());
  EXPECT_EQ(backend->Transcript().size(), 3u);
}

TEST_F(RegularizeTest, InnerRunOfARefinementIsNotRegularised) {
  NoisyExperiment();
  DistributionModels().bContiInnerRun = true;
  ASSERT_TRUE(Regularize());
  EXPECT_EQ(Regularization().dChiSquare, Regularization().dChiSquareMin);
  DistributionModels().bFinalFitEvaluation = true;
  ASSERT_TRUE(Regularize());
  EXPECT_GT(Regularization().dChiSquare, Regularization().dChiSquareMin);
}

TEST_F(RegularizeTest, ZeroKernelsGiveAZeroSolution) {
  InstallFlatDataSet(5, 60);
  MakeKernels(EvenS(8, 1.0, 10.0));
  for (int k = 1; k <= 8; ++k) {
    for (int s = 1; s <= 5; ++s) {
      for (int g = 1; g <= 60; ++g) DistributionStorage().pppKernels[k][s][g] = 0.0f;
    }
  }
  MakeData({}, std::vector<double>(60, 0.1), {}, 0.01);
  ASSERT_TRUE(BuildNormalEquations(NoiseModel::Plain));
  ASSERT_TRUE(Regularize());
  for (int i = 1; i <= 8; ++i) EXPECT_EQ(DistributionStorage().pDistSolution[i], 0.0);
}

TEST_F(RegularizeTest, ExactFitDividesByNoZero) {
  NoisyExperiment(0.0);
  std::vector<double> nnls;
  AddSecondDerivativePenalty(0.0);
  ASSERT_TRUE(NNLS());
  nnls.assign(DistributionStorage().pDistSolution + 1, DistributionStorage().pDistSolution + 41);
  ASSERT_TRUE(Regularize());
  for (int i = 1; i <= 40; ++i) {
    EXPECT_TRUE(std::isfinite(DistributionStorage().pDistSolution[i]));
    EXPECT_EQ(DistributionStorage().pDistSolution[i], nnls[static_cast<std::size_t>(i - 1)]);
  }
  ASSERT_TRUE(MaxEntRegularize(false));
  for (int i = 1; i <= 40; ++i) EXPECT_TRUE(std::isfinite(DistributionStorage().pDistSolution[i]));
  EXPECT_EQ(backend->Transcript().size(), 0u);
}

// A ratio no regularisation reaches is reported, and the unregularised solution
// stays as the result (the run shows it).
TEST_F(RegularizeTest, UnreachableRatioKeepsTheUnregularisedSolution) {
  NoisyExperiment();
  DistributionModels().fConfidenceLevel = 1e6f;  // no smoothing can raise chi-square that much
  backend->QueueMessageBox(IDOK, "");
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_TRUE(Regularize());
  ASSERT_EQ(backend->Transcript().size(), 2u);
  EXPECT_EQ(backend->Transcript()[1].text,
            "problem in regularization, cannot reach chi-square increase; try using fewer scans");
  EXPECT_EQ(Regularization().dChiSquare, Regularization().dChiSquareMin);
  EXPECT_DOUBLE_EQ(ChiSquareFromNormalEquations(), Regularization().dChiSquareMin);
}

TEST_F(MaxEntTest, ConfidenceLevelSetsTheChiSquareRatio) {
  NoisyExperiment();
  DistributionModels().fConfidenceLevel = 0.95f;
  ASSERT_TRUE(MaxEntRegularize(false));
  const double F = ExpectedTarget(0.95f);
  const double ratio = Regularization().dChiSquare / Regularization().dChiSquareMin;
  const bool ratioReached = std::fabs(ratio - F) <= (F - 1.0) * 0.001 + 1e-12;
  const bool levelReached = std::fabs(ConfidenceOfRatio(ratio) - 0.95) < 0.005;
  EXPECT_TRUE(ratioReached || levelReached) << ratio << " vs " << F;
  for (int i = 1; i <= 40; ++i) EXPECT_GE(DistributionStorage().pDistSolution[i], 1e-20);  // no exact zeros
  EXPECT_EQ(backend->Transcript().size(), 0u);
  // Above one the level is the chi-square ratio itself.
  DistributionModels().fConfidenceLevel = 1.5f;
  backend->QueueMessageBox(IDOK, "");
  ASSERT_TRUE(MaxEntRegularize(true));
  EXPECT_EQ(Regularization().fTargetRatio, 1.5f);
  EXPECT_NEAR(Regularization().dChiSquare / Regularization().dChiSquareMin, 1.5, 0.5 * 0.001 + 1e-9);
}

}  // namespace
}  // namespace tarmic::testing
