// The display commands through the window: shown panes with their check marks,
// the data mark size, the ranges of the data plot and the residual bitmap options.
#include <cmath>

#include "app/zoom.h"
#include "commands_test_support.h"
#include "plot/data_plots.h"
#include "plot/residual_bitmap.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

using DisplayCommandTest = CommandTest;

TEST_F(DisplayCommandTest, PaneTogglesKeepTheZoomWindow) {
  LoadVelocitySet();
  for (const char* v : {"6.0", "6.5", "0", "1"}) Backend().QueueInput(v);
  Dispatch(kCmSetRange);
  Dispatch(kCmShowResiduals);
  EXPECT_FLOAT_EQ(pDataPlot->fXMin, 6.0f);
  EXPECT_FLOAT_EQ(pDataPlot->fXMax, 6.5f);
}

TEST_F(DisplayCommandTest, DataMarkSizeMinusOneDrawsLinesAndASizeBringsMarksBack) {
  LoadVelocitySet();
  Backend().QueueInput("-1");
  Dispatch(kCmDataMarkSize);
  for (int i = 0; i < nScans; ++i) EXPECT_EQ(pDataPlot->GetCurveStyle(i), -1);
  Backend().QueueInput("3.7");
  Dispatch(kCmDataMarkSize);
  EXPECT_EQ(pDataPlot->nMarkSize, 3);
  for (int i = 0; i < nScans; ++i) EXPECT_EQ(pDataPlot->GetCurveStyle(i), 6);
}

TEST_F(DisplayCommandTest, DataMarkSizeAsksAgainAfterATextThatIsNoNumber) {
  LoadVelocitySet();
  const int before = pDataPlot->nMarkSize;
  Backend().QueueInput("big");
  Backend().QueueMessageBox(IDOK, "enter float");  // names "big", the size and its range
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmDataMarkSize);
  EXPECT_EQ(Shown("Input"), 2);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(pDataPlot->nMarkSize, before);
}

TEST_F(DisplayCommandTest, DataMarkSizeIgnoresOtherNegativeSizesAndCapsHugeOnes) {
  LoadVelocitySet();
  const int before = pDataPlot->nMarkSize;
  // Out of range: refused with the range and asked again (here cancelled).
  Backend().QueueInput("-2");
  Backend().QueueMessageBox(IDOK, "enter float");
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmDataMarkSize);
  EXPECT_EQ(pDataPlot->nMarkSize, before);
  EXPECT_EQ(pDataPlot->GetCurveStyle(0), 6);
  Backend().QueueInput("1e30");
  Backend().QueueMessageBox(IDOK, "enter float");
  Backend().QueueInput("1000");
  Dispatch(kCmDataMarkSize);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(pDataPlot->nMarkSize, 1000);
}

TEST_F(DisplayCommandTest, SetRangeCancelledChangesNothing) {
  LoadVelocitySet();
  Backend().QueueInput("6.0");
  Backend().QueueInput("6.5");
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmSetRange);
  EXPECT_EQ(nZoomLevel, 0);
  EXPECT_EQ(pDataPlot->bFixedX, 0);
}

TEST_F(DisplayCommandTest, ZoomLevelsStopAtNine) {
  LoadVelocitySet();
  for (int i = 0; i < 11; ++i) {
    for (const char* v : {"6.0", "6.5", "0", "1"}) Backend().QueueInput(v);
    Dispatch(kCmSetRange);
  }
  EXPECT_EQ(nZoomLevel, 9);
}

TEST_F(DisplayCommandTest, FullRangeReturnsToTheAutomaticRanges) {
  LoadVelocitySet();
  const float xMax = pDataPlot->fXMax;
  for (const char* v : {"6.0", "6.5", "0", "1"}) Backend().QueueInput(v);
  Dispatch(kCmSetRange);
  bZoomDataPlot = true;
  Dispatch(kCmFullRange);
  EXPECT_EQ(nZoomLevel, 0);
  EXPECT_FALSE(bZoomDataPlot);
  EXPECT_EQ(pDataPlot->bFixedX, 0);
  EXPECT_FLOAT_EQ(pDataPlot->fXMax, xMax);
}

TEST_F(DisplayCommandTest, DataRangeZoomsOntoTheDataInsideTheFittingLimits) {
  LoadVelocitySet();
  Dispatch(kCmDataRange);
  EXPECT_EQ(nZoomLevel, 1);
  EXPECT_NEAR(pDataPlot->fXMin, pGridRadius[iFitFirst] - 0.01f, 1e-5);
  EXPECT_NEAR(pDataPlot->fXMax, pGridRadius[iFitLast] + 0.01f, 1e-5);
  float lo = ppGridSignal[1][iFitFirst], hi = lo;
  for (int s = 1; s <= nScans; ++s)
    for (int i = iFitFirst; i <= iFitLast; ++i) {
      lo = std::fmin(lo, ppGridSignal[Idx(s)][i]);
      hi = std::fmax(hi, ppGridSignal[Idx(s)][i]);
    }
  EXPECT_NEAR(pDataPlot->fYMin, lo - 0.1f, 1e-5);
  EXPECT_NEAR(pDataPlot->fYMax, hi + 0.1f, 1e-5);
}

TEST_F(DisplayCommandTest, ResidualsBitmapSwitchingOnAsksTheBrightnessScale) {
  LoadVelocitySet();
  bShowResidualsBitmap = false;
  Backend().QueueInput("0.2");
  Dispatch(kCmShowResidualsBitmap);
  EXPECT_TRUE(bShowResidualsBitmap);
  EXPECT_FLOAT_EQ(fResidualBitmapScale, 0.2f);
  EXPECT_EQ(pResidualsPlot->nTop, SplitLayoutResidualPlotTop());
}

TEST_F(DisplayCommandTest, ResidualsBitmapCancelledScaleTakesTheDefault) {
  bShowResidualsBitmap = false;
  fResidualBitmapScale = 3.0f;
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmShowResidualsBitmap);
  EXPECT_TRUE(bShowResidualsBitmap);
  EXPECT_FLOAT_EQ(fResidualBitmapScale, 0.05f);
}

}  // namespace
}  // namespace tarmic::testing
