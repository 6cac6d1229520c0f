// The distribution grid: linear and logarithmic s grids, the molar-mass grid even in
// M^(2/3) with exact ends, the companion masses, the stored grid, the c(s,ff0)
// cells, light-scattering grids, the ls-g*(s) warning, and degenerate counts.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "services/engine_notice.h"
#include "distribution_test_support.h"
#include "distributions/conti_grid_setup.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "numerics/ccurve.h"
#include "numerics/hydrodynamics.h"
#include "services/path_table.h"
#include "numerics/solvent_constants.h"
#include "scandata/scan_loading.h"

namespace tarmic::testing {
namespace {

using GridTest = DistributionTest;

void Limits(float lo, float hi, float count) {
  DistributionGrid().fDistMin = lo;
  DistributionGrid().fDistMax = hi;
  DistributionGrid().fDistGridCount = count;
}

TEST_F(GridTest, LinearSGridWithMassesAndArrays) {
  InstallFlatDataSet(4, 50);
  ModelFlags().bContiSModel = true;
  Limits(0.0f, 15.0f, 151.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  ASSERT_EQ(DistributionVectors().nDistGrid, 151);
  for (int i = 1; i <= 151; ++i) {
    EXPECT_NEAR(DistributionVectors().pDistGrid[i], 0.1 * (i - 1), 1e-5) << i;
    EXPECT_EQ(DistributionVectors().pDistValues[i], 0.0f);
  }
  EXPECT_EQ(DistributionVectors().pDistGrid[151], 15.0f);
  EXPECT_EQ(DistributionStorage().nKernelArrayKernels, 151);
  // The count is the integer part.
  Limits(1.0f, 10.0f, 100.7f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_EQ(DistributionVectors().nDistGrid, 100);
}

TEST_F(GridTest, LogarithmicGridIsEvenInLnS) {
  InstallFlatDataSet(2, 20);
  ModelFlags().bContiSModel = true;
  DistributionGrid().bLogGrid = true;
  Limits(1.0f, 100.0f, 3.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[1], 1.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[2], 10.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[3], 100.0f);
  EXPECT_TRUE(DistributionGrid().bLogGrid);

  Limits(0.0f, 10.0f, 5.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[1], 0.01f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[5], 10.0f);
  EXPECT_TRUE(DistributionGrid().bLogGrid);

  Limits(-1.0f, 10.0f, 12.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_FALSE(DistributionGrid().bLogGrid);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[1], -1.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[2], 0.0f);
}

TEST_F(GridTest, MolarMassGridIsEvenInTwoThirdsPowerWithExactEnds) {
  InstallFlatDataSet(2, 20);
  Limits(12345.0f, 987654.0f, 40.0f);  // no s-grid model: the c(M) family
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_EQ(DistributionVectors().pDistS[1], 12345.0f);
  EXPECT_EQ(DistributionVectors().pDistS[40], 987654.0f);
  const double a = std::pow(12345.0, 0.66666666), b = std::pow(987654.0, 0.66666666);
  for (int i = 2; i < 40; ++i) {
    EXPECT_NEAR(std::pow(static_cast<double>(DistributionVectors().pDistS[i]), 0.66666666), a + (b - a) * (i - 1) / 39.0, 1e-5 * b) << i;
    EXPECT_EQ(DistributionVectors().pDistGrid[i], 0.0f);
  }
}

// Without vbar there is no mass: the companion values are the s values.
TEST_F(GridTest, NoMassWithoutVbar) {
  InstallFlatDataSet(2, 20);
  ModelFlags().bContiSModel = true;
  SolventConstants().VBAR = 0.0f;
  Limits(1.0f, 5.0f, 5.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(DistributionVectors().pDistS[i], DistributionVectors().pDistGrid[i]);
  ResetSolventConstants();
}

TEST_F(GridTest, SingleGridPointDividesByNoZero) {
  InstallFlatDataSet(2, 20);
  ModelFlags().bContiSModel = true;
  Limits(3.0f, 7.0f, 1.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  ASSERT_EQ(DistributionVectors().nDistGrid, 1);
  EXPECT_EQ(DistributionVectors().pDistGrid[1], 3.0f);
  ModelFlags().bContiSModel = false;  // c(M)
  Limits(5e4f, 5e5f, 1.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_EQ(DistributionVectors().pDistS[1], 5e4f);
}

TEST_F(GridTest, NoGridPointOrNegativeMassIsRefused) {
  InstallFlatDataSet(2, 20);
  ModelFlags().bContiSModel = true;
  Limits(1.0f, 7.0f, 0.5f);
  std::string why;
  EXPECT_FALSE(SetupContiGrid(AskingPolicy(), &why));
  EXPECT_FALSE(why.empty());
  ModelFlags().bContiSModel = false;
  Limits(-1e4f, 1e5f, 10.0f);
  why.clear();
  EXPECT_FALSE(SetupContiGrid(AskingPolicy(), &why));
  EXPECT_FALSE(why.empty());
  // The refusal is handed to the caller, not shown by the set-up.
  EXPECT_TRUE(backend->Transcript().empty());
}

TEST_F(GridTest, StoredGridReplacesTheLimits) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "distributions";
  fs::create_directories(dir);
  InstallFlatDataSet(2, 20);
  DataSet().szSdistPath = (dir / "sdist").string();
  float stored[] = {0.0f, 0.5f, 1.0f, 2.0f, 4.0f};  // index 0 unused
  ASSERT_TRUE(SaveDistributionGrid(stored, 4));
  ModelFlags().bContiSModel = true;
  DistributionGrid().bUseStoredGrid = true;
  DistributionGrid().bLogGrid = true;
  AnalysisSwitches().pParamFitFlags[4] = 1;
  Limits(0.0f, 15.0f, 100.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_EQ(DistributionVectors().nDistGrid, 4);
  EXPECT_EQ(DistributionGrid().fDistGridCount, 4.0f);
  EXPECT_EQ(DistributionGrid().fDistMin, 0.5f);
  EXPECT_EQ(DistributionGrid().fDistMax, 4.0f);
  EXPECT_EQ(DistributionVectors().pDistGrid[3], 2.0f);
  EXPECT_FALSE(DistributionGrid().bLogGrid);

  fs::remove(dir / "sdist");
  backend->QueueMessageBox(IDOK);  // the file cannot be opened
  EXPECT_FALSE(SetupContiGrid(AskingPolicy()));
}

TEST_F(GridTest, SizeAndShapeCellsCoverEveryFrictionalRatio) {
  InstallFlatDataSet(2, 20);
  ModelFlags().bCsff0Model = true;
  DistributionGrid().nFf0Values = 3;
  DistributionGrid().fFf0Min = 1.0f;
  DistributionGrid().fFf0Max = 2.0f;
  Limits(1.0f, 4.0f, 4.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  ASSERT_EQ(DistributionVectors().nFf0Grid, 12);
  EXPECT_EQ(DistributionVectors().pFf0Axis[2], 1.5f);
  for (int j = 1; j <= 3; ++j) {
    for (int i = 1; i <= 4; ++i) {
      const int k = (j - 1) * 4 + i;
      EXPECT_EQ(DistributionVectors().pCsff0S[k], DistributionVectors().pDistGrid[i]);
      EXPECT_EQ(DistributionVectors().pCsff0Ff0[k], DistributionVectors().pFf0Axis[j]);
      EXPECT_EQ(DistributionVectors().pCsff0M[k], CalculateMff02(DistributionVectors().pCsff0S[k], DistributionVectors().pCsff0Ff0[k]));
    }
  }
  EXPECT_EQ(DistributionStorage().nKernelArrayKernels, 12);
}

TEST_F(GridTest, LightScatteringGridEvenInLogStokesRadius) {
  InstallFlatDataSet(2, 20);
  DataSet().bDLSData = true;
  DataSet().pDLSInfo.assign(3, DLSInfo{});
  DataSet().pDLSInfo[1].temperatureC = 20.0f;
  ModelFlags().bDLSRhModel = true;
  DistributionGrid().bDLSGridLogRh = true;
  Limits(1.0f, 100.0f, 3.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[1], -9.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[2], -8.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[3], -7.0f);
  EXPECT_NEAR(DistributionVectors().pDistS[1], std::log10(DFromRh(1e-9f, 20.0f)), 1e-5);

  // I(D) even in log10 D, limits in 1e-7 cm^2/s.
  ModelFlags().bDLSRhModel = false;
  ModelFlags().bDLSDModel = true;
  DistributionGrid().bDLSGridLogD = true;
  Limits(1.0f, 100.0f, 3.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_FLOAT_EQ(DistributionVectors().pDistS[1], -7.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistS[2], -6.0f);
  EXPECT_NEAR(DistributionVectors().pDistGrid[2], std::log10(DFromRh(1e-6f, 20.0f)), 1e-4);
}

TEST_F(GridTest, LsgWarningIsAskedOncePerDataSet) {
  InstallFlatDataSet(6, 40);
  DataSet().fFitLeftLim = 6.05f;
  DataSet().fFitRightLim = 7.15f;
  ModelFlags().bLsgModel = true;
  Limits(0.0f, 1.0f, 11.0f);  // too small to leave the meniscus by the left limit
  backend->QueueMessageBox(IDNO, "ERROR");
  EXPECT_FALSE(SetupContiGrid(AskingPolicy()));
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text.rfind("smax 1 too low", 0), 0u);
  backend->QueueMessageBox(IDYES, "ERROR");
  EXPECT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_TRUE(DataSet().bFitLimitWarningAccepted);
  EXPECT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_EQ(backend->Transcript().size(), 2u);

  // Other models are not checked.
  DataSet().bFitLimitWarningAccepted = false;
  ModelFlags().bLsgModel = false;
  ModelFlags().bContiSModel = true;
  EXPECT_TRUE(SetupContiGrid(AskingPolicy()));
  EXPECT_EQ(backend->Transcript().size(), 2u);
}

// The grid's question is raised under its id: a scripted policy answers it without
// a box, and the batch's answer (No) refuses the grid.
TEST_F(GridTest, TheLsgWarningIsAnsweredByItsIdThroughThePolicy) {
  InstallFlatDataSet(6, 40);
  DataSet().fFitLeftLim = 6.05f;
  DataSet().fFitRightLim = 7.15f;
  ModelFlags().bLsgModel = true;
  Limits(0.0f, 1.0f, 11.0f);
  for (const int answer : {IDNO, IDYES}) {
    DataSet().bFitLimitWarningAccepted = false;
    std::vector<EngineNotice> asked;
    ScopedNoticePresenter policy([&](const EngineNotice& n) {
      asked.push_back(n);
      return n.question == QuestionId::SmaxBelowLeftFitLimit ? answer : n.unanswered;
    });
    EXPECT_EQ(SetupContiGrid(AskingPolicy()), answer == IDYES);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].question, QuestionId::SmaxBelowLeftFitLimit);
    EXPECT_EQ(asked[0].unanswered, IDNO);
    EXPECT_EQ(asked[0].caption, "ERROR");
    EXPECT_EQ(asked[0].text.rfind("smax 1 too low", 0), 0u);
  }
  EXPECT_TRUE(backend->Transcript().empty());
}

TEST_F(GridTest, SetUpMakesThePlotAndMsTableModelNeedsItsFile) {
  InstallFlatDataSet(2, 20);
  ModelFlags().bContiSModel = true;
  Limits(1.0f, 5.0f, 10.0f);
  ASSERT_TRUE(SetupContiGrid(AskingPolicy()));
  ASSERT_NE(DistributionPlot().pDistPlot, nullptr);
  EXPECT_EQ(DistributionPlot().pDistCurve->Count(), 10);
  // The M(s) table model without a readable table file makes no grid.
  ModelFlags().bCsMsTable = true;
  szMofsFile = "/nonexistent/mofs.dat";
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_FALSE(SetupContiGrid(AskingPolicy()));
}

}  // namespace
}  // namespace tarmic::testing
