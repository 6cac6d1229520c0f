// Prior probabilities: the vector built from peaks and from a file, the refusal of
// bad prior files, and the effect on both regularisations: a flat prior is no
// prior, and a prior holding the true peaks keeps them.
#include "distributions/distribution_prior.h"

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/distribution_models.h"
#include "distributions/maximum_entropy.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"
#include "tests/watchdog.h"

namespace tarmic::testing {
namespace {

std::string WriteFile(const std::string& name, const std::string& text) {
  const std::filesystem::path path = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / name;
  std::ofstream(path) << text;
  return path.string();
}

class PriorTest : public DistributionTest {
 protected:
  void SetUp() override {
    DistributionTest::SetUp();
    ModelFlags().bContiSModel = true;
  }
  // The grid s = 0.25 i, i = 1..40, with its vectors.
  static void Grid() {
    MakeDistributionVectors(40);
    DistributionVectors().nDistGrid = 40;
    for (int i = 1; i <= 40; ++i) DistributionVectors().pDistGrid[i] = 0.25f * static_cast<float>(i);
  }
  static double Area() {
    double a = 0.0;
    for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) a += (DistributionVectors().pPriorProbability[i] - 0.001) * 0.25;
    return a;
  }
};

TEST_F(PriorTest, PeaksGiveGaussiansAndCentredDeltaPeaksOverAFloor) {
  Grid();
  DistributionModels().bUsePrior = true;
  // A Gaussian of area 2 at 3 S, width 0.5.
  DistributionPrior().pPriorPeakLocation[1] = 3.0;
  DistributionPrior().pPriorPeakWidth[1] = 0.5;
  DistributionPrior().pPriorPeakAmplitude[1] = 2.0;
  ASSERT_TRUE(BuildPriorProbability());
  EXPECT_NEAR(Area(), 2.0 * 1.7724539 / 1.772, 1e-3);  // 1.772 stands for sqrt(pi)
  EXPECT_DOUBLE_EQ(DistributionVectors().pPriorProbability[40], 0.001);     // far from the peak: the floor
  EXPECT_EQ(DistributionVectors().pPriorProbabilityWork[12], 3.0);

  // A delta peak between grid points: the interpolated profile is centred on it.
  DistributionPrior().pPriorPeakWidth[1] = -1.0;
  DistributionPrior().pPriorPeakLocation[2] = 6.1;
  DistributionPrior().pPriorPeakWidth[2] = 0.0;
  DistributionPrior().pPriorPeakAmplitude[2] = 1.0;
  ASSERT_TRUE(BuildPriorProbability());
  const int j = 24;  // x = 6.0
  const double h = 1.0 / 0.25, r = DistributionVectors().pPriorProbability[j] - 0.001 - h;
  EXPECT_NEAR(DistributionVectors().pPriorProbability[j + 1] - 0.001, h - r, 1e-9);
  EXPECT_NEAR(DeltaPeakCentroidOffset(DistributionVectors().pDistGrid, j, h, 6.1, r), 0.0, 1e-3);
  EXPECT_GT(r, 0.0);  // 6.1 is nearer 6.0 than 6.25

  // Exactly on a grid point: twice the height there, nothing on the next; in the
  // first interval: nothing.
  DistributionPrior().pPriorPeakLocation[2] = 5.0;
  DistributionPrior().pPriorPeakLocation[3] = 0.3;
  DistributionPrior().pPriorPeakWidth[3] = 0.0;
  DistributionPrior().pPriorPeakAmplitude[3] = 1.0;
  ASSERT_TRUE(BuildPriorProbability());
  EXPECT_DOUBLE_EQ(DistributionVectors().pPriorProbability[20], 0.001 + 2.0 * h);
  EXPECT_DOUBLE_EQ(DistributionVectors().pPriorProbability[21], 0.001);
  EXPECT_DOUBLE_EQ(DistributionVectors().pPriorProbability[1], 0.001);
  EXPECT_DOUBLE_EQ(DistributionVectors().pPriorProbability[2], 0.001);
}

TEST_F(PriorTest, PriorFilesAreCheckedAndAFailedReadChangesNothing) {
  PriorTable table;
  table.x = {0.0, 9.0};
  std::string error;
  const struct {
    const char* name;
    std::string text;
    const char* fault;
  } bad[] = {
      {"prior_text.dat", "1 1\n2 1\n3 x\n4 1\n5 1\n", "line 3 holds \"x\", which is not a number"},
      {"prior_glued.dat", "1 1\n2 1\n3 5abc\n4 1\n5 1\n", "line 3 holds \"5abc\", which is not a number"},
      {"prior_third.dat", "1 1 0\n2 1 nan\n3 1 0\n4 1 0\n5 1 0\n", "line 2 holds \"nan\", which is not a number"},
      {"prior_wider.dat", "1 1\n2 1 0\n3 1\n4 1\n5 1\n", "line 2 has too many values (3 of 2): \"2 1 0\""},
      {"prior_one.dat", "1 1\n2\n3 1\n4 1\n5 1\n", "line 2 has too few values (1 of 2): \"2\""},
      {"prior_tiny.dat", "1 1\n2 1e-46\n3 1\n4 1\n5 1\n",
       "line 2 holds \"1e-46\", which is not 0 but too small to be held (below 1.4e-45)"},
      {"prior_nul.dat", std::string("1 1\n2 1\n3\0 5\n4 1\n5 1\n", 21), "the file is not plain text"},
      {"prior_order.dat", "1 1\n2 1\n2 1\n4 1\n5 1\n", "line 3: the x values must increase"},
      {"prior_negative.dat", "1 1\n2 -1\n3 1\n4 1\n5 1\n", "line 2: a prior value must not be negative"},
      {"prior_short.dat", "1 1\n\n2 1\n", "at least 5 lines"},
      {"prior_zero.dat", "1 0\n2 0\n3 0\n4 0\n5 0\n", "every prior value is 0"},
  };
  for (const auto& b : bad) {
    EXPECT_FALSE(ReadPriorFile(WriteFile(b.name, b.text), &table, &error)) << b.name;
    EXPECT_NE(error.find(b.fault), std::string::npos) << error;
    EXPECT_EQ(table.x, (std::vector<double>{0.0, 9.0}));  // untouched
  }
  // A pipe would keep the read waiting for a writer: refused at once, named.
  const std::string pipe = (std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / "prior_pipe.dat").string();
  std::filesystem::remove(pipe);
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  {
    testing::Watchdog watchdog("reading a prior file that is a pipe");
    EXPECT_FALSE(ReadPriorFile(pipe, &table, &error));
  }
  EXPECT_EQ(error, "Could Not Open MaxEnt Prior File\n" + pipe +
                       ": it is not a regular file (a pipe, a device or a folder)");

  // A good file (CR LF ends, a third column, blank lines) onto the grid.
  const std::string good = WriteFile("prior_good.dat", "0 1 7\r\n\r\n2 1 7\r\n4 3 7\r\n6 1 7\r\n8 1 7\r\n12 1 7\r\n");
  Grid();
  DistributionModels().bUsePrior = true;
  DistributionPrior().szPriorFile = good;
  ASSERT_TRUE(BuildPriorProbability());
  EXPECT_TRUE(DistributionModels().bUsePrior);
  EXPECT_NEAR(DistributionVectors().pPriorProbability[16], 3.0, 1e-9);  // x = 4
  EXPECT_NEAR(DistributionVectors().pPriorProbability[12], 2.0, 1e-9);  // x = 3, halfway

  // The file gone at the next build: not opened, reported, and the prior is off.
  std::filesystem::remove(good);
  backend->QueueMessageBox(IDOK, "Error");
  ASSERT_TRUE(BuildPriorProbability());
  EXPECT_FALSE(DistributionModels().bUsePrior);
  EXPECT_TRUE(backend->AllAnswersUsed());
}

// Data of two species on a 40-point grid with noise, by both regularisations.
class PriorRegularisationTest : public PriorTest {
 protected:
  static constexpr int kN = 40;
  static constexpr int kPeak1 = 10, kPeak2 = 26;
  void SetUp() override {
    PriorTest::SetUp();
    InstallFlatDataSet(12, 150);
    const std::vector<double> s = EvenS(kN, 0.25, 10.0);
    MakeKernels(s);
    MakeDistributionVectors(kN);
    for (int i = 1; i <= kN; ++i) DistributionVectors().pDistGrid[i] = static_cast<float>(s[static_cast<std::size_t>(i - 1)]);
    std::vector<double> amp(kN, 0.0);
    amp[kPeak1 - 1] = 0.3;
    amp[kPeak2 - 1] = 0.5;
    MakeData(amp, {}, {}, 0.004);
    ASSERT_TRUE(BuildNormalEquations(NoiseModel::Plain));
    DistributionModels().fConfidenceLevel = 0.95f;
  }
  static std::vector<double> Solve(bool maxEnt) {
    if (maxEnt) {
      EXPECT_TRUE(MaxEntRegularize(false));
    } else {
      EXPECT_TRUE(Regularize());
    }
    return std::vector<double>(DistributionStorage().pDistSolution, DistributionStorage().pDistSolution + kN + 1);
  }
  // Share of the total within one grid point of the true peaks.
  static double ShareAtPeaks(const std::vector<double>& x) {
    double total = 0.0, near = 0.0;
    for (int i = 1; i <= kN; ++i) {
      total += x[static_cast<std::size_t>(i)];
      if (std::abs(i - kPeak1) <= 1 || std::abs(i - kPeak2) <= 1) near += x[static_cast<std::size_t>(i)];
    }
    return near / total;
  }
};

TEST_F(PriorRegularisationTest, FlatPriorIsNoPriorAndATruePriorKeepsThePeaks) {
  for (bool maxEnt : {true, false}) {
    DistributionModels().bUsePrior = false;
    const std::vector<double> none = Solve(maxEnt);
    // A flat prior, at any level, is the same regularisation bit for bit.
    DistributionModels().bUsePrior = true;
    for (int i = 1; i <= kN; ++i) DistributionVectors().pPriorProbability[i] = 0.37;
    EXPECT_EQ(Solve(maxEnt), none) << maxEnt;

    // A prior with Gaussians at the true peaks: the regularised solution keeps its
    // mass there, at least as sharply as without a prior, and the areas stay.
    ClearPriorPeaks();
    DistributionPrior().pPriorPeakLocation[1] = DistributionVectors().pDistGrid[kPeak1];
    DistributionPrior().pPriorPeakLocation[2] = DistributionVectors().pDistGrid[kPeak2];
    DistributionPrior().pPriorPeakWidth[1] = DistributionPrior().pPriorPeakWidth[2] = 0.25;
    DistributionPrior().pPriorPeakAmplitude[1] = DistributionPrior().pPriorPeakAmplitude[2] = 1.0;
    ASSERT_TRUE(BuildPriorProbability());
    const std::vector<double> x = Solve(maxEnt);
    EXPECT_NEAR(Regularization().dChiSquare / Regularization().dChiSquareMin, Regularization().fTargetRatio, 0.05 * (Regularization().fTargetRatio - 1.0)) << maxEnt;
    EXPECT_GT(ShareAtPeaks(x), 0.9) << maxEnt;
    EXPECT_GE(ShareAtPeaks(x), ShareAtPeaks(none)) << maxEnt;
    double a1 = 0.0, a2 = 0.0;
    for (int i = 1; i <= kN; ++i) (i < 18 ? a1 : a2) += x[static_cast<std::size_t>(i)];
    EXPECT_NEAR(a1, 0.3, 0.03) << maxEnt;
    EXPECT_NEAR(a2, 0.5, 0.05) << maxEnt;
  }
}

}  // namespace
}  // namespace tarmic::testing
