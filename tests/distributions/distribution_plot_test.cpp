// The distribution plot and its pane layout, step profiles of non-diffusing
// species, and distributions read from files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_plot.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_options.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"

namespace tarmic::testing {
namespace {

class PlotTest : public DistributionTest {
 protected:
  void TearDown() override {
    ResetLammSettings();
    ResetModelOptions();
    DistributionTest::TearDown();
  }

  // A grid of n points with s = i, M = 1000 i^1.5 and c(s) = 1.
  static void MakeGrid(int n) {
    nDistGrid = n;
    fDistGridCount = static_cast<float>(n);
    MakeDistributionVectors(n);
    for (int i = 1; i <= n; ++i) {
      pDistGrid[i] = static_cast<float>(i);
      pDistS[i] = static_cast<float>(1000.0 * std::pow(i, 1.5));
      pDistValues[i] = 1.0f;
      pDistValues2[i] = 2.0f;
    }
  }

  static std::string OutputFile(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / "dist_plot";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
  }
};

// The distribution takes a pane of the plot area; clearing gives it back, also when
// nothing is allocated.
TEST_F(PlotTest, PlotTakesAPaneAndClearingGivesItBack) {
  ClearDistribution();  // the layout without a distribution
  const int dataBottom = nDataPlotBottom, areaBottom = nPlotAreaBottom;
  bContiModel = bContiSModel = true;
  MakeGrid(10);
  SetupDistributionPlot();
  ASSERT_NE(pDistPlot, nullptr);
  EXPECT_LT(nPlotAreaBottom, areaBottom);
  EXPECT_GT(pDistPlot->nTop, nPlotAreaBottom);
  EXPECT_EQ(pDistPlot->szYLabel, "c(s)");
  EXPECT_NE(RedrawDistributionPlot(), nullptr);

  ClearDistribution();
  EXPECT_EQ(pDistPlot, nullptr);
  EXPECT_EQ(pDistValues, nullptr);
  EXPECT_EQ(nDataPlotBottom, dataBottom);
  EXPECT_EQ(nPlotAreaBottom, areaBottom);
  EXPECT_EQ(RedrawDistributionPlot(), nullptr);
  ClearDistribution();
  EXPECT_EQ(nPlotAreaBottom, areaBottom);
}

TEST_F(PlotTest, BothRegularisationsDrawASecondCurveInBlue) {
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings s;
    s.showBoth = true;
    return s;
  };
  bContiModel = bContiSModel = true;
  MakeGrid(10);
  SetupDistributionPlot();
  ASSERT_EQ(pDistPlot->nCurves, 2);
  EXPECT_EQ(pDistPlot->GetCurveColor(1), RGB(0, 0, 255));
  EXPECT_FLOAT_EQ(pDistPlot->GetCurve(1)->Y()->Get(0), 2.0f);
}

TEST_F(PlotTest, TransformToCMConvertsOnceAndKeepsPointOne) {
  bContiModel = bContiSModel = true;
  MakeGrid(5);
  SetupDistributionPlot();
  TransformToCM();
  EXPECT_TRUE(bCMTransformed);
  EXPECT_EQ(pDistPlot->szXLabel, "molar mass [Da]");
  EXPECT_FLOAT_EQ(pDistValues[1], 1.0f);
  // Inside: c(M) = c(s) ds / dM over the same bins.
  const float expected3 = 1.0f * (4.0f - 2.0f) / 2.0f / ((pDistS[4] - pDistS[2]) / 2.0f);
  EXPECT_FLOAT_EQ(pDistValues[3], expected3);
  const float once = pDistValues[3];
  TransformToCM();
  EXPECT_FLOAT_EQ(pDistValues[3], once);
}

// Step profiles of a non-diffusing species: without sedimentation it fills the cell;
// a band is zero outside the band; with time resolution it decays with radius.
TEST_F(PlotTest, StepProfiles) {
  fMeniscus = 6.0f;
  fBottom = 7.2f;
  std::vector<float> out(4, -1.0f);
  dStepSw2 = 0.0;
  const std::vector<float> cell = {0.0f, 6.0f, 6.5f, 7.2f};
  StepBoundaryProfile(0.7f, 1000.0, cell.data(), out.data(), 3);
  for (int i = 1; i <= 3; ++i) EXPECT_FLOAT_EQ(out[i], 0.7f);

  // Boundary at 6 e^0.1 = 6.631, band end at 6.1 e^0.1 = 6.742.
  bZoneCentrifugation = true;
  fLamellaWidth = 0.1f;
  dStepSw2 = 1e-4;
  const std::vector<float> band = {0.0f, 6.5f, 6.7f, 6.8f};
  StepBoundaryProfile(1.0f, 1000.0, band.data(), out.data(), 3);
  EXPECT_FLOAT_EQ(out[1], 0.0f);
  EXPECT_NEAR(out[2], std::exp(-0.2), 1e-6);
  EXPECT_FLOAT_EQ(out[3], 0.0f);

  bZoneCentrifugation = false;
  bSimulateTimeResolution = true;
  fScanVelocity = 2.4f;  // 0.04 cm/s
  const std::vector<float> late = {0.0f, 6.8f, 7.0f};
  StepBoundaryProfile(1.0f, 1000.0, late.data(), out.data(), 2);
  ASSERT_GT(out[1], 0.0f);
  EXPECT_NEAR(out[2] / out[1], std::exp(-2.0 * 1e-4 * 0.2 / 0.04), 1e-5);
}

TEST_F(PlotTest, LoadedDensityBecomesAmplitudesSummingToTheArea) {
  InstallFlatDataSet(2, 20);
  bContiModel = bContiSModel = true;
  const std::string path = OutputFile("distrib.dat");
  {
    std::ofstream f(path);
    f << "1 0\n2 2\n3 2\n4 0\n";
  }
  ASSERT_TRUE(LoadDistributionFromFile(path));
  EXPECT_EQ(nDistGrid, 4);
  EXPECT_FLOAT_EQ(pDistGrid[2], 2.0f);
  EXPECT_FLOAT_EQ(pDistS[2], 0.0f);
  EXPECT_FLOAT_EQ(fLoadedDistTotal, 4.0f);
  EXPECT_FLOAT_EQ(fLoadedDistArea, 4.0f);
  EXPECT_FLOAT_EQ(pDistValues[2] + pDistValues[3], 4.0f);
  EXPECT_NE(pppKernels, nullptr);

  // A flat zero file stays unscaled.
  {
    std::ofstream f(path);
    f << "1 0\n2 0\n";
  }
  ASSERT_TRUE(LoadDistributionFromFile(path));
  EXPECT_FLOAT_EQ(pDistValues[2], 0.0f);
}

// An unreadable file or a size-and-shape model loads nothing; saving without a
// distribution is refused.
TEST_F(PlotTest, UnreadableFileLoadsNothingAndNothingIsSavedWithoutADistribution) {
  bContiModel = bContiSModel = true;
  backend->QueueMessageBox(IDOK);  // the file reader's "could not open"
  EXPECT_FALSE(LoadDistributionFromFile(OutputFile("missing.dat")));
  backend->QueueMessageBox(IDOK);
  EXPECT_FALSE(SaveContiDistribution(OutputFile("none.dat")));
  EXPECT_TRUE(backend->AllAnswersUsed());
  bContiSModel = false;
  bCsff0Model = true;
  EXPECT_FALSE(LoadDistributionFromFile(OutputFile("missing.dat")));
}

TEST_F(PlotTest, SavedCsDistributionRoundTrips) {
  bContiModel = bContiSModel = true;
  MakeGrid(6);
  pDistValues[3] = 0.125f;
  SetupDistributionPlot();
  const std::string path = OutputFile("cs.dat");
  ASSERT_TRUE(SaveContiDistribution(path));
  EXPECT_EQ(ReadSavedDistributionKind(path), DistributionKind::SGrid);
  ClearDistribution();
  ASSERT_TRUE(RestoreContiDistribution(path));
  EXPECT_EQ(nDistGrid, 6);
  EXPECT_FLOAT_EQ(pDistGrid[6], 6.0f);
  EXPECT_FLOAT_EQ(pDistS[4], 8000.0f);
  EXPECT_FLOAT_EQ(pDistValues[3], 0.125f);
  EXPECT_FLOAT_EQ(fDistMax, 6.0f);
  EXPECT_EQ(pDistPlot->szXLabel, "sed coefficient [S]");
  // A file that is not a saved distribution is refused.
  {
    std::ofstream f(path);
    f << "1 2\n3 4\n";
  }
  EXPECT_FALSE(ReadSavedDistributionKind(path).has_value());
  backend->QueueMessageBox(IDOK);
  EXPECT_FALSE(RestoreContiDistribution(path));
}

}  // namespace
}  // namespace tarmic::testing
