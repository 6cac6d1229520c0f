// The scan data set: the common radial grid (own copies or the scans' own arrays),
// the fit-limit indices and totals, and the release of the set.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "numerics/one_based.h"
#include "platform/headless/headless_backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata_test_support.h"

namespace tarmic::testing {
namespace {

struct ScanShape {
  float first;
  float step;
  int n;
  float signal;
  float third = 0.0f;  // intensity data: the reference channel
};

// Installs scans of the given shapes as the data set (no files involved).
void InstallScans(const std::vector<ScanShape>& shapes, bool withThird = false) {
  AllocScanTables(static_cast<int>(shapes.size()));
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    const ScanShape& sp = shapes[i];
    float* r = tarmic::vector(1, sp.n);
    float* y = tarmic::vector(1, sp.n);
    float* t = withThird ? tarmic::vector(1, sp.n) : nullptr;
    for (int k = 1; k <= sp.n; ++k) {
      r[k] = sp.first + static_cast<float>(k - 1) * sp.step;
      y[k] = sp.signal;
      if (t) t[k] = sp.third;
    }
    const int s = static_cast<int>(i) + 1;
    ppScanFileNames[static_cast<std::size_t>(s)] = "scan" + std::to_string(s) + ".ra1";
    InstallScanArrays(s, sp.n, r, y, t, withThird);
  }
}

using DataSetTest = ScanDataTest;

// The own grid is the lattice of the radial step from the mean first radius
// (6.0 cm), beginning one step on and extended down to the first radius of the
// earliest scan (5.75 cm), so that every scan's points lie on the grid's range.
TEST_F(DataSetTest, OwnGridIsTheLatticeFromTheMeanFirstRadiusCoveringEveryScan) {
  bAbsorbanceData = true;
  fRadialStep = 0.25f;
  InstallScans({{5.75f, 0.25f, 5, 1.0f}, {6.0f, 0.25f, 5, 2.0f}, {6.25f, 0.25f, 5, 3.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_TRUE(bGridCopies);
  ASSERT_EQ(nGridPoints, 8);
  const float expected[] = {5.75f, 6.0f, 6.25f, 6.5f, 6.75f, 7.0f, 7.25f, 7.5f};
  for (int k = 1; k <= 8; ++k) EXPECT_FLOAT_EQ(pGridRadius[k], expected[k - 1]);
  EXPECT_NE(ppGridSignal[1], ppSignal[1]);
  EXPECT_EQ(iFitFirst, 1);
  EXPECT_EQ(iFitLast, 8);
  // Only the points every scan covers count (6.25 to 6.75 cm): beyond a scan's ends
  // its row holds an extrapolated constant, not a measurement.
  EXPECT_FLOAT_EQ(fGridPointTotal, 9.0f);
}

TEST_F(DataSetTest, InterferenceScansOnOneRadiusArrayShareTheGrid) {
  bInterferenceData = true;
  InstallScans({{5.9f, 0.002f, 500, 1.0f}, {5.9f, 0.002f, 500, 2.0f}, {5.9f, 0.002f, 500, 3.0f}});
  pScanOrder[1] = 2;
  pScanOrder[2] = 1;
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_FALSE(bGridCopies);
  EXPECT_EQ(nGridPoints, 500);
  EXPECT_EQ(pGridRadius, ppRadius[2]) << "the first displayed scan's radii";
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(ppGridSignal[i], ppSignal[i]);

  // The grid follows the scans' own signals, and releasing it frees neither.
  ppSignal[3][10] = 7.0f;
  EXPECT_FLOAT_EQ(ppGridSignal[3][10], 7.0f);
  FreeGridData(nScans);
  EXPECT_FLOAT_EQ(ppSignal[3][10], 7.0f);
  EXPECT_FLOAT_EQ(ppRadius[2][500], 5.9f + 499 * 0.002f);
}

// A grid held apart while another is built, as a command that must keep the loaded
// grid until its new one is complete holds it: taken out, nothing is current (as
// after a release); put back, the whole object is as it was, whatever members it
// has, and its rows are still the scans' own signal arrays.
TEST_F(DataSetTest, GridHeldApartComesBackWholeWithItsRowsOnTheScans) {
  bInterferenceData = true;
  InstallScans({{5.9f, 0.002f, 500, 1.0f}, {5.9f, 0.002f, 500, 2.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  ASSERT_FALSE(bGridCopies);
  pTINoise[3] = 0.5f;
  const GridData shown = gCurrentGrid;
  GridData held;
  std::swap(gCurrentGrid, held);
  EXPECT_TRUE(gCurrentGrid == GridData{});
  EXPECT_EQ(nGridPoints, 0);
  EXPECT_TRUE(ppGridSignal.empty());

  // Another grid (own copies) is built in its place and released.
  bInterferenceData = false;
  bAbsorbanceData = true;
  fRadialStep = 0.01f;
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_TRUE(bGridCopies);
  FreeGridData(nScans);
  EXPECT_TRUE(gCurrentGrid == GridData{}) << "a release leaves the empty grid";

  std::swap(gCurrentGrid, held);
  EXPECT_TRUE(gCurrentGrid == shown);
  EXPECT_EQ(nGridPoints, 500);
  EXPECT_FLOAT_EQ(pTINoise[3], 0.5f);
  ppSignal[2][7] = 5.0f;
  EXPECT_FLOAT_EQ(ppGridSignal[2][7], 5.0f);
}

TEST_F(DataSetTest, InterferenceScanWithAnotherFirstRadiusMakesTheGridACopy) {
  bInterferenceData = true;
  InstallScans({{5.9f, 0.002f, 500, 1.0f}, {5.902f, 0.002f, 500, 2.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_TRUE(bGridCopies);
  EXPECT_NE(ppGridSignal[1], ppSignal[1]);
}

TEST_F(DataSetTest, CopiedGridRowFollowsAChangedSignal) {
  bAbsorbanceData = true;
  fRadialStep = 0.01f;
  InstallScans({{5.9f, 0.01f, 50, 1.0f}, {5.9f, 0.01f, 50, 1.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  for (int k = 1; k <= pnPoints[2]; ++k) ppSignal[2][k] -= 0.25f;
  FillGridSignalRow(2);
  EXPECT_FLOAT_EQ(ppGridSignal[2][5], 0.75f);
  EXPECT_FLOAT_EQ(ppGridSignal[1][5], 1.0f);
}

// A sample passing a tenth of the reference light has absorbance +1; a point
// without reference light is off scale.
TEST_F(DataSetTest, IntensityGridHoldsTheAbsorbanceAndOffScaleForNonPositiveIntensities) {
  bIntensityData = true;
  fRadialStep = 0.01f;
  InstallScans({{5.9f, 0.01f, 50, 100.0f, 1000.0f}, {5.9f, 0.01f, 50, 1000.0f, 0.0f}}, true);
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_NEAR(ppGridSignal[1][10], 1.0f, 1e-6);
  EXPECT_FLOAT_EQ(ppGridSignal[2][10], 10.0f);
}

TEST_F(DataSetTest, UnusableRadialStepIsRefused) {
  ScopedHeadlessBackend backend;
  bAbsorbanceData = true;
  InstallScans({{5.9f, 0.01f, 50, 1.0f}, {5.9f, 0.01f, 50, 1.0f}});
  for (float step : {0.0f, -0.01f, 1e-7f}) {
    fRadialStep = step;
    backend->QueueMessageBox(IDOK, "Error");
    EXPECT_FALSE(BuildCommonRadialGrid()) << step;
    EXPECT_EQ(nGridPoints, 0);
  }
  // A usable step that would give an absurd grid.
  InstallScans({{1.0f, 1.0f, 10, 1.0f}, {1.0f, 1.0f, 10, 1.0f}});
  fRadialStep = 2e-5f;
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_FALSE(BuildCommonRadialGrid());
  EXPECT_NE(backend->Transcript().back().text.find("more than"), std::string::npos);
  EXPECT_TRUE(backend->AllAnswersUsed());
}

TEST_F(DataSetTest, LeftLimitEndsAtLeastOneHundredthRightOfTheMeniscus) {
  bAbsorbanceData = true;
  fRadialStep = 0.01f;
  InstallScans({{5.85f, 0.01f, 120, 1.0f}, {5.86f, 0.01f, 120, 1.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  fMeniscus = 5.9f;
  fBottom = 7.2f;
  fFitLeftLim = 5.905f;
  SetLeftFitLimitIndices();
  EXPECT_FLOAT_EQ(fFitLeftLim, 5.91f);
  for (int i = 1; i <= 2; ++i) {
    EXPECT_GE(ppRadius[i][pFitFirst[i]], fFitLeftLim);
    EXPECT_LT(ppRadius[i][pFitFirst[i] - 1], fFitLeftLim);
  }
  EXPECT_GE(pGridRadius[iFitFirst], 5.91f);
  EXPECT_LT(pGridRadius[iFitFirst - 1], 5.91f);
  EXPECT_TRUE(bDataChanged);
}

TEST_F(DataSetTest, RightLimitBeyondAScanIsReportedAndMoved) {
  ScopedHeadlessBackend backend;
  bAbsorbanceData = true;
  fRadialStep = 0.01f;
  InstallScans({{5.9f, 0.01f, 116, 1.0f}, {5.9f, 0.01f, 120, 1.0f}});  // scan 1 ends at 7.05
  ASSERT_TRUE(BuildCommonRadialGrid());
  fMeniscus = 5.9f;
  fFitLeftLim = 5.91f;
  fBottom = 7.2f;
  fFitRightLim = 7.1f;
  backend->QueueMessageBox(IDOK, "Error");
  SetRightFitLimitIndices();
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text,
            "possible problem with right limit in file scan1.ra1\nsetting right limit to 7.050");
  EXPECT_NEAR(fFitRightLim, 7.05f, 1e-5);
  EXPECT_NEAR(ppRadius[2][pFitLast[2]], 7.05f, 1e-5);

  // ... and never beyond the bottom minus 0.01; in batch mode without a box.
  bBatchMode = true;
  fBottom = 7.0f;
  fFitRightLim = 7.1f;
  SetRightFitLimitIndices();
  EXPECT_FLOAT_EQ(fFitRightLim, 6.99f);
  EXPECT_EQ(backend->Transcript().size(), 1u);
}

TEST_F(DataSetTest, EmptyFitRangeGivesZeroMeansAndTotals) {
  bAbsorbanceData = true;
  fRadialStep = 0.25f;
  InstallScans({{5.75f, 0.25f, 5, 1.0f}, {6.0f, 0.25f, 5, 2.0f}, {6.25f, 0.25f, 5, 3.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  fMeniscus = 5.9f;
  fBottom = 7.2f;
  fFitRightLim = 6.3f;
  fFitLeftLim = 7.0f;
  SetLeftFitLimitIndices();
  EXPECT_GT(iFitFirst, iFitLast);
  EXPECT_FLOAT_EQ(fGridPointTotal, 0.0f);
  EXPECT_FLOAT_EQ(fGridSignalTotal, 0.0f);
  for (int i = 1; i <= nScans; ++i) EXPECT_FLOAT_EQ(pScanMeans[i], 0.0f);
}

// The point range of each scan and of the grid holds the points between the two
// limits, counted here from the radii. Limits that hold no point of a scan -- scans
// over different radii, or a meniscus typed beyond the data, which puts the left
// limit past every scan -- give it the empty range n + 1 .. n (the grid likewise),
// whatever range it had before; the earlier range had stayed.
TEST_F(DataSetTest, LimitsWithoutAPointOfAScanGiveItAnEmptyRange) {
  bAbsorbanceData = true;
  bBatchMode = true;  // (the note on a right limit beyond a scan)
  fRadialStep = 0.01f;
  InstallScans({{5.9f, 0.01f, 51, 1.0f}, {6.5f, 0.01f, 51, 2.0f}, {5.9f, 0.01f, 111, 3.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  auto expectRange = [](const float* r, int n, int first, int last) {
    int a = 0, b = 0;
    for (int k = 1; k <= n; ++k) {
      if (r[k] < fFitLeftLim || r[k] > fFitRightLim) continue;
      if (a == 0) a = k;
      b = k;
    }
    if (a == 0) a = n + 1, b = n;
    EXPECT_EQ(first, a);
    EXPECT_EQ(last, b);
  };
  auto expectRanges = [&] {
    for (int i = 1; i <= nScans; ++i) {
      SCOPED_TRACE(i);
      const std::size_t s = static_cast<std::size_t>(i);
      expectRange(ppRadius[s], pnPoints[s], pFitFirst[s], pFitLast[s]);
    }
    expectRange(pGridRadius, nGridPoints, iFitFirst, iFitLast);
  };
  fMeniscus = 5.8f;
  fBottom = 7.2f;
  fFitLeftLim = 5.95f;
  fFitRightLim = 6.3f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  ASSERT_FLOAT_EQ(fFitLeftLim, 6.5f);  // the first radius of scan 2
  expectRanges();
  EXPECT_EQ(pFitFirst[1], 52);  // scan 1 ends at 6.4 cm
  EXPECT_LT(pFitFirst[3], pFitLast[3]);

  fMeniscus = 7.1f;  // beyond every scan (the last radius is 7.0 cm)
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  ASSERT_GT(fFitLeftLim, 7.0f);
  expectRanges();
  for (int i = 1; i <= nScans; ++i) EXPECT_GT(pFitFirst[i], pFitLast[i]) << i;
  EXPECT_FLOAT_EQ(fGridPointTotal, 0.0f);
}

TEST_F(DataSetTest, FreeDataSetReleasesEverythingAndThePlots) {
  int plotReleases = 0;
  GetDataSetHooks().releaseDataAndResidualPlots = [&] { ++plotReleases; };
  bAbsorbanceData = true;
  InstallScans({{5.9f, 0.01f, 50, 1.0f}, {5.9f, 0.01f, 50, 1.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  bDataChanged = false;
  bFitLimitWarningAccepted = true;
  FreeDataSet();
  EXPECT_EQ(nScans, 0);
  EXPECT_TRUE(ppRadius.empty());
  EXPECT_TRUE(ppDataCurve.empty());
  EXPECT_EQ(nGridPoints, 0);
  EXPECT_EQ(pGridRadius, nullptr);
  EXPECT_EQ(plotReleases, 1);
  EXPECT_TRUE(bDataChanged);
  EXPECT_FALSE(bFitLimitWarningAccepted);
  FreeDataSet();  // safe on an empty set
}

}  // namespace
}  // namespace tarmic::testing
