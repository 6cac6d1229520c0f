// The distribution arrays after a solve and their integration: densities from
// amplitudes by bin widths, the integral distribution, and the integrals, moments
// and averages of known distributions.
#include <gtest/gtest.h>

#include <cmath>

#include "distribution_test_support.h"
#include "distributions/conti_grid_setup.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"

namespace tarmic::testing {
namespace {

// A grid of the active model from lo to hi with n points (on a small data set).
void Grid(float lo, float hi, int n) {
  InstallFlatDataSet(2, 20);
  DistributionGrid().fDistMin = lo;
  DistributionGrid().fDistMax = hi;
  DistributionGrid().fDistGridCount = static_cast<float>(n);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
}

using ArraysTest = DistributionTest;
using IntegrationTest = DistributionTest;

TEST_F(ArraysTest, UniformGridDividesByTheStepInsideAndHalfStepAtTheEnds) {
  ModelFlags().bContiSModel = true;
  Grid(0.0f, 2.0f, 5);  // h = 0.5
  for (int i = 1; i <= 5; ++i) DistributionVectors().pDistValues[i] = DistributionVectors().pDistValues2[i] = 1.0f;
  NormalizeDistributionValues(false);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[1], 4.0f);
  for (int i = 2; i <= 4; ++i) EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[i], 2.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[5], 4.0f);
  EXPECT_EQ(DistributionVectors().pDistValues2[3], 1.0f);  // only shown beside the first with both
  NormalizeDistributionValues(true);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues2[3], 2.0f);
}

TEST_F(ArraysTest, DecreasingSGridGivesPositiveAndDecreasingMassGridNegativeDensities) {
  ModelFlags().bContiSModel = true;
  Grid(2.0f, 0.0f, 5);
  for (int i = 1; i <= 5; ++i) DistributionVectors().pDistValues[i] = 1.0f;
  NormalizeDistributionValues(false);
  for (int i = 1; i <= 5; ++i) EXPECT_GT(DistributionVectors().pDistValues[i], 0.0f);

  ModelFlags().bContiSModel = false;
  Grid(2e5f, 1e4f, 5);
  for (int i = 1; i <= 5; ++i) DistributionVectors().pDistValues[i] = 1.0f;
  NormalizeDistributionValues(false);
  for (int i = 1; i <= 5; ++i) EXPECT_LT(DistributionVectors().pDistValues[i], 0.0f);
}

TEST_F(ArraysTest, LeadingDiscreteSpeciesKeepsItsAmplitude) {
  ModelFlags().bCsOneDiscreteD = true;
  Grid(0.0f, 2.0f, 5);
  for (int i = 1; i <= 5; ++i) DistributionVectors().pDistValues[i] = 1.0f;
  NormalizeDistributionValues(false);
  EXPECT_EQ(DistributionVectors().pDistValues[1], 1.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[2], 4.0f);  // as if the grid began at point 2
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[3], 2.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[5], 4.0f);
  TransformToIntegralDistribution();
  EXPECT_EQ(DistributionVectors().pDistValues[1], 1.0f);
  EXPECT_EQ(DistributionVectors().pDistValues[2], 0.0f);
}

TEST_F(ArraysTest, LsgKeepsOnlySValuesThatCanHavePassedTheFitLimit) {
  ModelFlags().bLsgModel = true;
  DataSet().bFitLimitWarningAccepted = true;
  Grid(0.0f, 20.0f, 21);
  const int first = DataSet().pScanOrder[1];
  // s_max = 1e13 ln(r / meniscus) / (omega^2 t) = 10 S.
  DataSet().pScanInfo[static_cast<std::size_t>(first)].omega2t =
      1e13 * std::log(CurrentGrid().pGridRadius[CurrentGrid().iFitLast] / DataSet().fMeniscus) / 10.0;
  for (int i = 1; i <= 21; ++i) DistributionVectors().pDistValues[i] = DistributionVectors().pDistValues2[i] = 1.0f;
  NormalizeDistributionValues(true);
  for (int i = 1; i <= 21; ++i) {
    if (DistributionVectors().pDistGrid[i] > 10.0001f) {
      EXPECT_EQ(DistributionVectors().pDistValues[i], 0.0f) << i;
      EXPECT_EQ(DistributionVectors().pDistValues2[i], 0.0f) << i;
    } else {
      EXPECT_GT(DistributionVectors().pDistValues[i], 0.0f) << i;
    }
  }
}

TEST_F(ArraysTest, LinearLightScatteringAxisWidensBinsByTheDecadeStep) {
  DataSet().bDLSData = true;
  ModelFlags().bDLSRhModel = true;
  DistributionGrid().bDLSGridLogRh = true;
  DataSet().pDLSInfo.assign(3, DLSInfo{});
  DataSet().pDLSInfo[1].temperatureC = 20.0f;
  Grid(1.0f, std::pow(10.0f, 0.5f), 6);  // log10 Rh spaced by 0.1
  for (int i = 1; i <= 6; ++i) DistributionVectors().pDistValues[i] = 1.0f;
  NormalizeDistributionValues(false);
  for (int i = 3; i <= 5; ++i) {
    EXPECT_NEAR(DistributionVectors().pDistValues[i - 1] / DistributionVectors().pDistValues[i], std::pow(10.0, 0.1), 1e-3) << i;
  }
}

TEST_F(ArraysTest, IntegralOfOneInnerValue) {
  ModelFlags().bContiSModel = true;
  Grid(0.0f, 4.0f, 9);  // h = 0.5
  DistributionVectors().pDistValues[5] = 3.0f;
  TransformToIntegralDistribution();
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(DistributionVectors().pDistValues[i], 0.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[5], 0.5f * 3.0f / 2.0f);
  for (int i = 6; i <= 9; ++i) EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[i], 0.5f * 3.0f);
}

TEST_F(IntegrationTest, ConstantDistributionHasItsClosedFormMoments) {
  ModelFlags().bContiSModel = true;
  Grid(0.0f, 10.0f, 11);
  for (int i = 1; i <= 11; ++i) DistributionVectors().pDistValues[i] = 1.0f;
  float area, mean, total, sd, harmonic, zratio;
  IntegrateDistribution(2.0f, 4.0f, &area, &mean, &total, &sd, &harmonic, &zratio);
  EXPECT_NEAR(area, 2.0f, 1e-5);
  EXPECT_NEAR(mean, 3.0f, 1e-5);
  EXPECT_NEAR(total, 10.0f, 1e-5);
  EXPECT_NEAR(sd, std::sqrt(1.0 / 3.0), 1e-3);
  EXPECT_NEAR(zratio, 28.0 / 9.0, 1e-4);
  EXPECT_NEAR(harmonic, 2.0 / std::log(2.0), 1e-4);
  // Limits inside one segment and across segments give the same moments.
  IntegrateDistribution(2.25f, 3.75f, &area, &mean, &total, nullptr, nullptr, nullptr);
  EXPECT_NEAR(area, 1.5f, 1e-5);
  EXPECT_NEAR(mean, 3.0f, 1e-5);
}

TEST_F(IntegrationTest, WeightAverageSOfAGaussianPeak) {
  ModelFlags().bContiSModel = true;
  Grid(0.0f, 15.0f, 151);
  for (int i = 1; i <= 151; ++i) {
    const double s = DistributionVectors().pDistGrid[i];
    DistributionVectors().pDistValues[i] = static_cast<float>(0.8 * std::exp(-(s - 6.2) * (s - 6.2) / (2 * 0.4 * 0.4)) +
                                        0.3 * std::exp(-(s - 11.0) * (s - 11.0) / (2 * 0.3 * 0.3)));
  }
  float area, mean, total, sd;
  IntegrateDistribution(4.0f, 8.5f, &area, &mean, &total, &sd, nullptr, nullptr);
  EXPECT_NEAR(mean, 6.2, 2e-3);
  EXPECT_NEAR(area, 0.8 * 0.4 * std::sqrt(2 * M_PI), 2e-3);
  EXPECT_NEAR(sd, 0.4, 5e-3);
  EXPECT_NEAR(total, (0.8 * 0.4 + 0.3 * 0.3) * std::sqrt(2 * M_PI), 2e-3);
}

// Zero area gives zeros and leaves the optional outputs; a non-positive limit gives
// no logarithmic averages.
TEST_F(IntegrationTest, ZeroAreaAndNonPositiveLimits) {
  ModelFlags().bContiSModel = true;
  Grid(-2.0f, 8.0f, 11);
  DistributionVectors().pDistValues[9] = 1.0f;  // outside the limits
  float area = 5, mean = 5, total = 5, sd = -1, harmonic = -1, zratio = -1;
  IntegrateDistribution(1.0f, 3.0f, &area, &mean, &total, &sd, &harmonic, &zratio);
  EXPECT_EQ(area, 0.0f);
  EXPECT_EQ(mean, 0.0f);
  EXPECT_EQ(total, 0.0f);
  EXPECT_EQ(sd, -1.0f);
  EXPECT_EQ(harmonic, -1.0f);
  EXPECT_EQ(zratio, -1.0f);

  for (int i = 1; i <= 11; ++i) DistributionVectors().pDistValues[i] = 1.0f;
  IntegrateDistribution(-1.0f, 4.0f, &area, &mean, &total, &sd, &harmonic, &zratio);
  EXPECT_NEAR(area, 5.0f, 1e-5);
  EXPECT_EQ(harmonic, 0.0f);
  EXPECT_EQ(zratio, 0.0f);
}

TEST_F(IntegrationTest, LeadingDiscreteSpeciesIsNotPartOfTheIntegral) {
  ModelFlags().bCsOneDiscreteD = true;
  Grid(0.0f, 4.0f, 5);
  DistributionVectors().pDistValues[1] = 100.0f;  // the discrete species' amplitude at s = 0
  for (int i = 2; i <= 5; ++i) DistributionVectors().pDistValues[i] = 1.0f;
  float area, mean, total;
  IntegrateDistribution(0.0f, 4.0f, &area, &mean, &total, nullptr, nullptr, nullptr);
  EXPECT_NEAR(area, 3.0f, 1e-5);
  EXPECT_NEAR(mean, 2.5f, 1e-5);
}

TEST_F(IntegrationTest, SizeAndShapeSelectionGivesWeightedAverages) {
  ModelFlags().bCsff0Model = true;
  DistributionGrid().nFf0Values = 2;
  DistributionGrid().fFf0Min = 1.2f;
  DistributionGrid().fFf0Max = 1.8f;
  Grid(2.0f, 8.0f, 4);
  for (int k = 1; k <= DistributionVectors().nFf0Grid; ++k) DistributionVectors().pCsff0Values[k] = 0.0f;
  // Two cells inside s 2..5 and f/f0 1.0..1.5 carry signal 1 and 3.
  DistributionVectors().pCsff0Values[1] = 1.0f;  // s 2, f/f0 1.2
  DistributionVectors().pCsff0Values[2] = 3.0f;  // s 4, f/f0 1.2
  DistributionVectors().pCsff0Values[6] = 5.0f;  // s 4, f/f0 1.8: outside the f/f0 range
  for (int i = 1; i <= 4; ++i) DistributionVectors().pDistValues[i] = 1.0f;
  DistributionIntegration().fCsff0SecondMin = 1.0f;
  DistributionIntegration().fCsff0SecondMax = 1.5f;
  float area, mean, total;
  IntegrateDistribution(2.0f, 5.0f, &area, &mean, &total, nullptr, nullptr, nullptr);
  EXPECT_FLOAT_EQ(DistributionIntegration().fCsff0AvgM, (DistributionVectors().pCsff0M[1] * 1 + DistributionVectors().pCsff0M[2] * 3) / 4);
  EXPECT_FLOAT_EQ(DistributionIntegration().fCsff0AvgFf0, 1.2f);
  EXPECT_FLOAT_EQ(DistributionIntegration().fCsff0AvgRs, (DistributionVectors().pCsff0Rs[1] * 1 + DistributionVectors().pCsff0Rs[2] * 3) / 4);
  EXPECT_GT(DistributionIntegration().fCsff0SdM, 0.0f);
  EXPECT_GT(DistributionIntegration().fCsff0MsD, 0.0f);
  DistributionIntegration().fCsff0SecondMin = 3.0f;  // nothing selected
  DistributionIntegration().fCsff0SecondMax = 4.0f;
  IntegrateDistribution(2.0f, 5.0f, &area, &mean, &total, nullptr, nullptr, nullptr);
  EXPECT_EQ(DistributionIntegration().fCsff0AvgM, 0.0f);
}

// The kernel array and the workspace of a run reuse the memory of the last one
// (no new block faulted in for each evaluation of a fit), and come zeroed as a new
// block does, whatever the last run left in them; a larger array takes a block of
// its own.
TEST_F(ArraysTest, KernelsAndWorkspaceOfTheNextRunReuseTheLastBlockZeroed) {
  struct Size {
    int kernels, scans, points;
  };
  for (const Size& first : {Size{6, 4, 50}, Size{3, 2, 10}}) {
    ASSERT_TRUE(AllocKernelArrays(first.kernels, first.scans, first.points));
    ASSERT_TRUE(AllocNormalEquationArrays(first.kernels, first.scans, first.points));
    const float* kernelBlock = &DistributionStorage().pppKernels[1][1][0];
    const double* workspaceBlock = &DistributionStorage().ppKernelScanMean[1][0];
    for (int k = 1; k <= first.kernels; ++k)
      for (int s = 1; s <= first.scans; ++s)
        for (int p = 1; p <= first.points; ++p) DistributionStorage().pppKernels[k][s][p] = 1.5f;
    for (int i = 1; i <= first.kernels; ++i)
      for (int j = 1; j <= first.kernels; ++j) DistributionStorage().ppNormalMatrix[i][j] = 2.5;
    FreeKernelArrays();
    FreeNormalEquationArrays();
    EXPECT_EQ(DistributionStorage().pppKernels, nullptr);
    // The same size or smaller: the same memory, every value zero.
    const Size next{3, 2, 10};
    ASSERT_TRUE(AllocKernelArrays(next.kernels, next.scans, next.points));
    ASSERT_TRUE(AllocNormalEquationArrays(next.kernels, next.scans, next.points));
    EXPECT_EQ(&DistributionStorage().pppKernels[1][1][0], kernelBlock);
    EXPECT_EQ(&DistributionStorage().ppKernelScanMean[1][0], workspaceBlock);
    for (int k = 1; k <= next.kernels; ++k)
      for (int s = 1; s <= next.scans; ++s)
        for (int p = 0; p <= next.points; ++p) ASSERT_EQ(DistributionStorage().pppKernels[k][s][p], 0.0f);
    for (int i = 1; i <= next.kernels; ++i)
      for (int j = 1; j <= next.kernels; ++j) ASSERT_EQ(DistributionStorage().ppNormalMatrix[i][j], 0.0);
    FreeKernelArrays();
    FreeNormalEquationArrays();
  }
  // Larger than the spare: a new block, zeroed.
  ASSERT_TRUE(AllocKernelArrays(20, 8, 100));
  for (int k = 1; k <= 20; ++k) ASSERT_EQ(DistributionStorage().pppKernels[k][8][100], 0.0f);
  FreeKernelArrays();
  ReleaseSpareDistributionArrays();
}

}  // namespace
}  // namespace tarmic::testing
