// The distribution grid: linear and logarithmic s grids, the molar-mass grid even in
// M^(2/3) with exact ends, the companion masses, the stored grid, the c(s,ff0)
// cells, light-scattering grids, the ls-g*(s) warning, and degenerate counts.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

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
  fDistMin = lo;
  fDistMax = hi;
  fDistGridCount = count;
}

TEST_F(GridTest, LinearSGridWithMassesAndArrays) {
  InstallFlatDataSet(4, 50);
  bContiSModel = true;
  Limits(0.0f, 15.0f, 151.0f);
  ASSERT_TRUE(SetupContiGrid());
  ASSERT_EQ(nDistGrid, 151);
  for (int i = 1; i <= 151; ++i) {
    EXPECT_NEAR(pDistGrid[i], 0.1 * (i - 1), 1e-5) << i;
    EXPECT_EQ(pDistValues[i], 0.0f);
  }
  EXPECT_EQ(pDistGrid[151], 15.0f);
  EXPECT_EQ(nKernelArrayKernels, 151);
  // The count is the integer part.
  Limits(1.0f, 10.0f, 100.7f);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_EQ(nDistGrid, 100);
}

TEST_F(GridTest, LogarithmicGridIsEvenInLnS) {
  InstallFlatDataSet(2, 20);
  bContiSModel = true;
  bLogGrid = true;
  Limits(1.0f, 100.0f, 3.0f);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_FLOAT_EQ(pDistGrid[1], 1.0f);
  EXPECT_FLOAT_EQ(pDistGrid[2], 10.0f);
  EXPECT_FLOAT_EQ(pDistGrid[3], 100.0f);
  EXPECT_TRUE(bLogGrid);

  Limits(0.0f, 10.0f, 5.0f);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_FLOAT_EQ(pDistGrid[1], 0.01f);
  EXPECT_FLOAT_EQ(pDistGrid[5], 10.0f);
  EXPECT_TRUE(bLogGrid);

  Limits(-1.0f, 10.0f, 12.0f);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_FALSE(bLogGrid);
  EXPECT_FLOAT_EQ(pDistGrid[1], -1.0f);
  EXPECT_FLOAT_EQ(pDistGrid[2], 0.0f);
}

TEST_F(GridTest, MolarMassGridIsEvenInTwoThirdsPowerWithExactEnds) {
  InstallFlatDataSet(2, 20);
  Limits(12345.0f, 987654.0f, 40.0f);  // no s-grid model: the c(M) family
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_EQ(pDistS[1], 12345.0f);
  EXPECT_EQ(pDistS[40], 987654.0f);
  const double a = std::pow(12345.0, 0.66666666), b = std::pow(987654.0, 0.66666666);
  for (int i = 2; i < 40; ++i) {
    EXPECT_NEAR(std::pow(static_cast<double>(pDistS[i]), 0.66666666), a + (b - a) * (i - 1) / 39.0, 1e-5 * b) << i;
    EXPECT_EQ(pDistGrid[i], 0.0f);
  }
}

// Without vbar there is no mass: the companion values are the s values.
TEST_F(GridTest, NoMassWithoutVbar) {
  InstallFlatDataSet(2, 20);
  bContiSModel = true;
  VBAR = 0.0f;
  Limits(1.0f, 5.0f, 5.0f);
  ASSERT_TRUE(SetupContiGrid());
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(pDistS[i], pDistGrid[i]);
  ResetSolventConstants();
}

TEST_F(GridTest, SingleGridPointDividesByNoZero) {
  InstallFlatDataSet(2, 20);
  bContiSModel = true;
  Limits(3.0f, 7.0f, 1.0f);
  ASSERT_TRUE(SetupContiGrid());
  ASSERT_EQ(nDistGrid, 1);
  EXPECT_EQ(pDistGrid[1], 3.0f);
  bContiSModel = false;  // c(M)
  Limits(5e4f, 5e5f, 1.0f);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_EQ(pDistS[1], 5e4f);
}

TEST_F(GridTest, NoGridPointOrNegativeMassIsRefused) {
  InstallFlatDataSet(2, 20);
  bContiSModel = true;
  Limits(1.0f, 7.0f, 0.5f);
  std::string why;
  EXPECT_FALSE(SetupContiGrid(&why));
  EXPECT_FALSE(why.empty());
  bContiSModel = false;
  Limits(-1e4f, 1e5f, 10.0f);
  why.clear();
  EXPECT_FALSE(SetupContiGrid(&why));
  EXPECT_FALSE(why.empty());
  // The refusal is handed to the caller, not shown by the set-up.
  EXPECT_TRUE(backend->Transcript().empty());
}

TEST_F(GridTest, StoredGridReplacesTheLimits) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "distributions";
  fs::create_directories(dir);
  InstallFlatDataSet(2, 20);
  szSdistPath = (dir / "sdist").string();
  float stored[] = {0.0f, 0.5f, 1.0f, 2.0f, 4.0f};  // index 0 unused
  ASSERT_TRUE(SaveDistributionGrid(stored, 4));
  bContiSModel = true;
  bUseStoredGrid = true;
  bLogGrid = true;
  pParamFitFlags[4] = 1;
  Limits(0.0f, 15.0f, 100.0f);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_EQ(nDistGrid, 4);
  EXPECT_EQ(fDistGridCount, 4.0f);
  EXPECT_EQ(fDistMin, 0.5f);
  EXPECT_EQ(fDistMax, 4.0f);
  EXPECT_EQ(pDistGrid[3], 2.0f);
  EXPECT_FALSE(bLogGrid);

  fs::remove(dir / "sdist");
  backend->QueueMessageBox(IDOK);  // the file cannot be opened
  EXPECT_FALSE(SetupContiGrid());
}

TEST_F(GridTest, SizeAndShapeCellsCoverEveryFrictionalRatio) {
  InstallFlatDataSet(2, 20);
  bCsff0Model = true;
  nFf0Values = 3;
  fFf0Min = 1.0f;
  fFf0Max = 2.0f;
  Limits(1.0f, 4.0f, 4.0f);
  ASSERT_TRUE(SetupContiGrid());
  ASSERT_EQ(nFf0Grid, 12);
  EXPECT_EQ(pFf0Axis[2], 1.5f);
  for (int j = 1; j <= 3; ++j) {
    for (int i = 1; i <= 4; ++i) {
      const int k = (j - 1) * 4 + i;
      EXPECT_EQ(pCsff0S[k], pDistGrid[i]);
      EXPECT_EQ(pCsff0Ff0[k], pFf0Axis[j]);
      EXPECT_EQ(pCsff0M[k], CalculateMff02(pCsff0S[k], pCsff0Ff0[k]));
    }
  }
  EXPECT_EQ(nKernelArrayKernels, 12);
}

TEST_F(GridTest, LightScatteringGridEvenInLogStokesRadius) {
  InstallFlatDataSet(2, 20);
  bDLSData = true;
  pDLSInfo.assign(3, DLSInfo{});
  pDLSInfo[1].temperatureC = 20.0f;
  bDLSRhModel = true;
  bDLSGridLogRh = true;
  Limits(1.0f, 100.0f, 3.0f);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_FLOAT_EQ(pDistGrid[1], -9.0f);
  EXPECT_FLOAT_EQ(pDistGrid[2], -8.0f);
  EXPECT_FLOAT_EQ(pDistGrid[3], -7.0f);
  EXPECT_NEAR(pDistS[1], std::log10(DFromRh(1e-9f, 20.0f)), 1e-5);

  // I(D) even in log10 D, limits in 1e-7 cm^2/s.
  bDLSRhModel = false;
  bDLSDModel = true;
  bDLSGridLogD = true;
  Limits(1.0f, 100.0f, 3.0f);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_FLOAT_EQ(pDistS[1], -7.0f);
  EXPECT_FLOAT_EQ(pDistS[2], -6.0f);
  EXPECT_NEAR(pDistGrid[2], std::log10(DFromRh(1e-6f, 20.0f)), 1e-4);
}

TEST_F(GridTest, LsgWarningIsAskedOncePerDataSet) {
  InstallFlatDataSet(6, 40);
  fFitLeftLim = 6.05f;
  fFitRightLim = 7.15f;
  bLsgModel = true;
  Limits(0.0f, 1.0f, 11.0f);  // too small to leave the meniscus by the left limit
  backend->QueueMessageBox(IDNO, "ERROR");
  EXPECT_FALSE(SetupContiGrid());
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text.rfind("smax 1 too low", 0), 0u);
  backend->QueueMessageBox(IDYES, "ERROR");
  EXPECT_TRUE(SetupContiGrid());
  EXPECT_TRUE(bFitLimitWarningAccepted);
  EXPECT_TRUE(SetupContiGrid());
  EXPECT_EQ(backend->Transcript().size(), 2u);

  // Other models are not checked.
  bFitLimitWarningAccepted = false;
  bLsgModel = false;
  bContiSModel = true;
  EXPECT_TRUE(SetupContiGrid());
  EXPECT_EQ(backend->Transcript().size(), 2u);
}

TEST_F(GridTest, SetUpMakesThePlotAndMsTableModelNeedsItsFile) {
  InstallFlatDataSet(2, 20);
  bContiSModel = true;
  Limits(1.0f, 5.0f, 10.0f);
  ASSERT_TRUE(SetupContiGrid());
  ASSERT_NE(pDistPlot, nullptr);
  EXPECT_EQ(pDistCurve->Count(), 10);
  // The M(s) table model without a readable table file makes no grid.
  bCsMsTable = true;
  szMofsFile = "/nonexistent/mofs.dat";
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_FALSE(SetupContiGrid());
}

}  // namespace
}  // namespace tarmic::testing
