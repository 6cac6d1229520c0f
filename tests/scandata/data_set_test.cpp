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
    DataSet().ppScanFileNames[static_cast<std::size_t>(s)] = "scan" + std::to_string(s) + ".ra1";
    InstallScanArrays(s, sp.n, r, y, t, withThird);
  }
}

using DataSetTest = ScanDataTest;

// The own grid is the lattice of the radial step from the mean first radius
// (6.0 cm), beginning one step on and extended down to the first radius of the
// earliest scan (5.75 cm), so that every scan's points lie on the grid's range.
TEST_F(DataSetTest, OwnGridIsTheLatticeFromTheMeanFirstRadiusCoveringEveryScan) {
  ScanFile().bAbsorbanceData = true;
  RadialGrid().fRadialStep = 0.25f;
  InstallScans({{5.75f, 0.25f, 5, 1.0f}, {6.0f, 0.25f, 5, 2.0f}, {6.25f, 0.25f, 5, 3.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_TRUE(CurrentGrid().bGridCopies);
  ASSERT_EQ(CurrentGrid().nGridPoints, 8);
  const float expected[] = {5.75f, 6.0f, 6.25f, 6.5f, 6.75f, 7.0f, 7.25f, 7.5f};
  for (int k = 1; k <= 8; ++k) EXPECT_FLOAT_EQ(CurrentGrid().pGridRadius[k], expected[k - 1]);
  EXPECT_NE(CurrentGrid().ppGridSignal[1], DataSet().ppSignal[1]);
  EXPECT_EQ(CurrentGrid().iFitFirst, 1);
  EXPECT_EQ(CurrentGrid().iFitLast, 8);
  // Only the points every scan covers count (6.25 to 6.75 cm): beyond a scan's ends
  // its row holds an extrapolated constant, not a measurement.
  EXPECT_FLOAT_EQ(CurrentGrid().fGridPointTotal, 9.0f);
}

TEST_F(DataSetTest, InterferenceScansOnOneRadiusArrayShareTheGrid) {
  ScanFile().bInterferenceData = true;
  InstallScans({{5.9f, 0.002f, 500, 1.0f}, {5.9f, 0.002f, 500, 2.0f}, {5.9f, 0.002f, 500, 3.0f}});
  DataSet().pScanOrder[1] = 2;
  DataSet().pScanOrder[2] = 1;
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_FALSE(CurrentGrid().bGridCopies);
  EXPECT_EQ(CurrentGrid().nGridPoints, 500);
  EXPECT_EQ(CurrentGrid().pGridRadius, DataSet().ppRadius[2]) << "the first displayed scan's radii";
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(CurrentGrid().ppGridSignal[i], DataSet().ppSignal[i]);

  // The grid follows the scans' own signals, and releasing it frees neither.
  DataSet().ppSignal[3][10] = 7.0f;
  EXPECT_FLOAT_EQ(CurrentGrid().ppGridSignal[3][10], 7.0f);
  FreeGridData(DataSet().nScans);
  EXPECT_FLOAT_EQ(DataSet().ppSignal[3][10], 7.0f);
  EXPECT_FLOAT_EQ(DataSet().ppRadius[2][500], 5.9f + 499 * 0.002f);
}

// A grid held apart while another is built, as a command that must keep the loaded
// grid until its new one is complete holds it: taken out, nothing is current (as
// after a release); put back, the whole object is as it was, whatever members it
// has, and its rows are still the scans' own signal arrays.
TEST_F(DataSetTest, GridHeldApartComesBackWholeWithItsRowsOnTheScans) {
  ScanFile().bInterferenceData = true;
  InstallScans({{5.9f, 0.002f, 500, 1.0f}, {5.9f, 0.002f, 500, 2.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  ASSERT_FALSE(CurrentGrid().bGridCopies);
  CurrentGrid().pTINoise[3] = 0.5f;
  const GridData shown = CurrentGrid();
  GridData held;
  std::swap(CurrentGrid(), held);
  EXPECT_TRUE(CurrentGrid() == GridData{});
  EXPECT_EQ(CurrentGrid().nGridPoints, 0);
  EXPECT_TRUE(CurrentGrid().ppGridSignal.empty());

  // Another grid (own copies) is built in its place and released.
  ScanFile().bInterferenceData = false;
  ScanFile().bAbsorbanceData = true;
  RadialGrid().fRadialStep = 0.01f;
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_TRUE(CurrentGrid().bGridCopies);
  FreeGridData(DataSet().nScans);
  EXPECT_TRUE(CurrentGrid() == GridData{}) << "a release leaves the empty grid";

  std::swap(CurrentGrid(), held);
  EXPECT_TRUE(CurrentGrid() == shown);
  EXPECT_EQ(CurrentGrid().nGridPoints, 500);
  EXPECT_FLOAT_EQ(CurrentGrid().pTINoise[3], 0.5f);
  DataSet().ppSignal[2][7] = 5.0f;
  EXPECT_FLOAT_EQ(CurrentGrid().ppGridSignal[2][7], 5.0f);
}

TEST_F(DataSetTest, InterferenceScanWithAnotherFirstRadiusMakesTheGridACopy) {
  ScanFile().bInterferenceData = true;
  InstallScans({{5.9f, 0.002f, 500, 1.0f}, {5.902f, 0.002f, 500, 2.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_TRUE(CurrentGrid().bGridCopies);
  EXPECT_NE(CurrentGrid().ppGridSignal[1], DataSet().ppSignal[1]);
}

TEST_F(DataSetTest, CopiedGridRowFollowsAChangedSignal) {
  ScanFile().bAbsorbanceData = true;
  RadialGrid().fRadialStep = 0.01f;
  InstallScans({{5.9f, 0.01f, 50, 1.0f}, {5.9f, 0.01f, 50, 1.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  for (int k = 1; k <= DataSet().pnPoints[2]; ++k) DataSet().ppSignal[2][k] -= 0.25f;
  FillGridSignalRow(2);
  EXPECT_FLOAT_EQ(CurrentGrid().ppGridSignal[2][5], 0.75f);
  EXPECT_FLOAT_EQ(CurrentGrid().ppGridSignal[1][5], 1.0f);
}

// A sample passing a tenth of the reference light has absorbance +1; a point
// without reference light is off scale.
TEST_F(DataSetTest, IntensityGridHoldsTheAbsorbanceAndOffScaleForNonPositiveIntensities) {
  ScanFile().bIntensityData = true;
  RadialGrid().fRadialStep = 0.01f;
  InstallScans({{5.9f, 0.01f, 50, 100.0f, 1000.0f}, {5.9f, 0.01f, 50, 1000.0f, 0.0f}}, true);
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_NEAR(CurrentGrid().ppGridSignal[1][10], 1.0f, 1e-6);
  EXPECT_FLOAT_EQ(CurrentGrid().ppGridSignal[2][10], 10.0f);
}

TEST_F(DataSetTest, UnusableRadialStepIsRefused) {
  ScopedHeadlessBackend backend;
  ScanFile().bAbsorbanceData = true;
  InstallScans({{5.9f, 0.01f, 50, 1.0f}, {5.9f, 0.01f, 50, 1.0f}});
  for (float step : {0.0f, -0.01f, 1e-7f}) {
    RadialGrid().fRadialStep = step;
    backend->QueueMessageBox(IDOK, "Error");
    EXPECT_FALSE(BuildCommonRadialGrid()) << step;
    EXPECT_EQ(CurrentGrid().nGridPoints, 0);
  }
  // A usable step that would give an absurd grid.
  InstallScans({{1.0f, 1.0f, 10, 1.0f}, {1.0f, 1.0f, 10, 1.0f}});
  RadialGrid().fRadialStep = 2e-5f;
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_FALSE(BuildCommonRadialGrid());
  EXPECT_NE(backend->Transcript().back().text.find("more than"), std::string::npos);
  EXPECT_TRUE(backend->AllAnswersUsed());
}

TEST_F(DataSetTest, LeftLimitEndsAtLeastOneHundredthRightOfTheMeniscus) {
  ScanFile().bAbsorbanceData = true;
  RadialGrid().fRadialStep = 0.01f;
  InstallScans({{5.85f, 0.01f, 120, 1.0f}, {5.86f, 0.01f, 120, 1.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  DataSet().fMeniscus = 5.9f;
  DataSet().fBottom = 7.2f;
  DataSet().fFitLeftLim = 5.905f;
  SetLeftFitLimitIndices();
  EXPECT_FLOAT_EQ(DataSet().fFitLeftLim, 5.91f);
  for (int i = 1; i <= 2; ++i) {
    EXPECT_GE(DataSet().ppRadius[i][DataSet().pFitFirst[i]], DataSet().fFitLeftLim);
    EXPECT_LT(DataSet().ppRadius[i][DataSet().pFitFirst[i] - 1], DataSet().fFitLeftLim);
  }
  EXPECT_GE(CurrentGrid().pGridRadius[CurrentGrid().iFitFirst], 5.91f);
  EXPECT_LT(CurrentGrid().pGridRadius[CurrentGrid().iFitFirst - 1], 5.91f);
  EXPECT_TRUE(DataSet().bDataChanged);
}

TEST_F(DataSetTest, RightLimitBeyondAScanIsReportedAndMoved) {
  ScopedHeadlessBackend backend;
  ScanFile().bAbsorbanceData = true;
  RadialGrid().fRadialStep = 0.01f;
  InstallScans({{5.9f, 0.01f, 116, 1.0f}, {5.9f, 0.01f, 120, 1.0f}});  // scan 1 ends at 7.05
  ASSERT_TRUE(BuildCommonRadialGrid());
  DataSet().fMeniscus = 5.9f;
  DataSet().fFitLeftLim = 5.91f;
  DataSet().fBottom = 7.2f;
  DataSet().fFitRightLim = 7.1f;
  backend->QueueMessageBox(IDOK, "Error");
  SetRightFitLimitIndices();
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text,
            "possible problem with right limit in file scan1.ra1\nsetting right limit to 7.050");
  EXPECT_NEAR(DataSet().fFitRightLim, 7.05f, 1e-5);
  EXPECT_NEAR(DataSet().ppRadius[2][DataSet().pFitLast[2]], 7.05f, 1e-5);

  // ... and never beyond the bottom minus 0.01; in batch mode without a box.
  bBatchMode = true;
  DataSet().fBottom = 7.0f;
  DataSet().fFitRightLim = 7.1f;
  SetRightFitLimitIndices();
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, 6.99f);
  EXPECT_EQ(backend->Transcript().size(), 1u);
}

TEST_F(DataSetTest, EmptyFitRangeGivesZeroMeansAndTotals) {
  ScanFile().bAbsorbanceData = true;
  RadialGrid().fRadialStep = 0.25f;
  InstallScans({{5.75f, 0.25f, 5, 1.0f}, {6.0f, 0.25f, 5, 2.0f}, {6.25f, 0.25f, 5, 3.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  DataSet().fMeniscus = 5.9f;
  DataSet().fBottom = 7.2f;
  DataSet().fFitRightLim = 6.3f;
  DataSet().fFitLeftLim = 7.0f;
  SetLeftFitLimitIndices();
  EXPECT_GT(CurrentGrid().iFitFirst, CurrentGrid().iFitLast);
  EXPECT_FLOAT_EQ(CurrentGrid().fGridPointTotal, 0.0f);
  EXPECT_FLOAT_EQ(CurrentGrid().fGridSignalTotal, 0.0f);
  for (int i = 1; i <= DataSet().nScans; ++i) EXPECT_FLOAT_EQ(CurrentGrid().pScanMeans[i], 0.0f);
}

// The point range of each scan and of the grid holds the points between the two
// limits, counted here from the radii. Limits that hold no point of a scan -- scans
// over different radii, or a meniscus typed beyond the data, which puts the left
// limit past every scan -- give it the empty range n + 1 .. n (the grid likewise),
// whatever range it had before; the earlier range had stayed.
TEST_F(DataSetTest, LimitsWithoutAPointOfAScanGiveItAnEmptyRange) {
  ScanFile().bAbsorbanceData = true;
  bBatchMode = true;  // (the note on a right limit beyond a scan)
  RadialGrid().fRadialStep = 0.01f;
  InstallScans({{5.9f, 0.01f, 51, 1.0f}, {6.5f, 0.01f, 51, 2.0f}, {5.9f, 0.01f, 111, 3.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  auto expectRange = [](const float* r, int n, int first, int last) {
    int a = 0, b = 0;
    for (int k = 1; k <= n; ++k) {
      if (r[k] < DataSet().fFitLeftLim || r[k] > DataSet().fFitRightLim) continue;
      if (a == 0) a = k;
      b = k;
    }
    if (a == 0) a = n + 1, b = n;
    EXPECT_EQ(first, a);
    EXPECT_EQ(last, b);
  };
  auto expectRanges = [&] {
    for (int i = 1; i <= DataSet().nScans; ++i) {
      SCOPED_TRACE(i);
      const std::size_t s = static_cast<std::size_t>(i);
      expectRange(DataSet().ppRadius[s], DataSet().pnPoints[s], DataSet().pFitFirst[s], DataSet().pFitLast[s]);
    }
    expectRange(CurrentGrid().pGridRadius, CurrentGrid().nGridPoints, CurrentGrid().iFitFirst, CurrentGrid().iFitLast);
  };
  DataSet().fMeniscus = 5.8f;
  DataSet().fBottom = 7.2f;
  DataSet().fFitLeftLim = 5.95f;
  DataSet().fFitRightLim = 6.3f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  ASSERT_FLOAT_EQ(DataSet().fFitLeftLim, 6.5f);  // the first radius of scan 2
  expectRanges();
  EXPECT_EQ(DataSet().pFitFirst[1], 52);  // scan 1 ends at 6.4 cm
  EXPECT_LT(DataSet().pFitFirst[3], DataSet().pFitLast[3]);

  DataSet().fMeniscus = 7.1f;  // beyond every scan (the last radius is 7.0 cm)
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  ASSERT_GT(DataSet().fFitLeftLim, 7.0f);
  expectRanges();
  for (int i = 1; i <= DataSet().nScans; ++i) EXPECT_GT(DataSet().pFitFirst[i], DataSet().pFitLast[i]) << i;
  EXPECT_FLOAT_EQ(CurrentGrid().fGridPointTotal, 0.0f);
}

TEST_F(DataSetTest, FreeDataSetReleasesEverythingAndThePlots) {
  int plotReleases = 0;
  GetDataSetHooks().releaseDataAndResidualPlots = [&] { ++plotReleases; };
  ScanFile().bAbsorbanceData = true;
  InstallScans({{5.9f, 0.01f, 50, 1.0f}, {5.9f, 0.01f, 50, 1.0f}});
  ASSERT_TRUE(BuildCommonRadialGrid());
  DataSet().bDataChanged = false;
  DataSet().bFitLimitWarningAccepted = true;
  FreeDataSet();
  EXPECT_EQ(DataSet().nScans, 0);
  EXPECT_TRUE(DataSet().ppRadius.empty());
  EXPECT_TRUE(DataSet().ppDataCurve.empty());
  EXPECT_EQ(CurrentGrid().nGridPoints, 0);
  EXPECT_EQ(CurrentGrid().pGridRadius, nullptr);
  EXPECT_EQ(plotReleases, 1);
  EXPECT_TRUE(DataSet().bDataChanged);
  EXPECT_FALSE(DataSet().bFitLimitWarningAccepted);
  FreeDataSet();  // safe on an empty set
}

}  // namespace
}  // namespace tarmic::testing
