// The display commands through the window: shown panes with their check marks,
// the data mark size, the ranges of the data plot and the residual bitmap options.
#include <cmath>
#include <utility>

#include "app/marker_lines.h"
#include "app/markers.h"
#include "app/panes.h"
#include "app/zoom.h"
#include "commands_test_support.h"
#include "plot/data_plots.h"
#include "plot/residual_bitmap.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
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
  EXPECT_FLOAT_EQ(DataPlots().pDataPlot->fXMin, 6.0f);
  EXPECT_FLOAT_EQ(DataPlots().pDataPlot->fXMax, 6.5f);
}

// The residual pane follows every change of the data plot's zoom: Set Range typed
// in, Ctrl+D, a zoom step back with the right button, Full Range from the menu.
TEST_F(DisplayCommandTest, TheResidualPaneFollowsTheZoomOfTheDataPlot) {
  LoadVelocitySet();
  ASSERT_NE(DataPlots().pResidualsPlot, nullptr);
  const float ownMin = DataPlots().pResidualsPlot->fXMin, ownMax = DataPlots().pResidualsPlot->fXMax;
  const auto pump = [&] {
    PostQuitMessage(0);
    RunMessageLoop(Win());
  };
  const auto follows = [&](const char* door) {
    EXPECT_FLOAT_EQ(DataPlots().pResidualsPlot->fXMin, DataPlots().pDataPlot->fXMin) << door;
    EXPECT_FLOAT_EQ(DataPlots().pResidualsPlot->fXMax, DataPlots().pDataPlot->fXMax) << door;
  };
  for (const char* v : {"6.0", "6.5", "0", "1"}) Backend().QueueInput(v);
  ASSERT_TRUE(Backend().Headless().ChooseMenuItem(kCmSetRange));
  pump();
  EXPECT_FLOAT_EQ(DataPlots().pDataPlot->fXMax, 6.5f);
  follows("Set Range");
  Backend().Headless().PressKey('D', MK_CONTROL);
  pump();
  ASSERT_EQ(nZoomLevel, 2);
  follows("Ctrl+D");
  const Rect client = Win().GetHandle().ClientRect();
  Backend().Headless().Click(client.right / 2, client.bottom / 4, true, 0, true);
  pump();
  ASSERT_EQ(nZoomLevel, 1);
  follows("zoom back");
  ASSERT_TRUE(Backend().Headless().ChooseMenuItem(kCmFullRange));
  pump();
  EXPECT_FLOAT_EQ(DataPlots().pResidualsPlot->fXMin, ownMin);
  EXPECT_FLOAT_EQ(DataPlots().pResidualsPlot->fXMax, ownMax);
}

// The window the residual pane follows goes with the plot: a new pair of plots, and
// one built after a zoom was followed while there was none, start unzoomed.
TEST_F(DisplayCommandTest, ANewPairOfPlotsStartsUnzoomed) {
  LoadVelocitySet();
  ASSERT_NE(DataPlots().pResidualsPlot, nullptr);
  const float ownMin = DataPlots().pResidualsPlot->fXMin, ownMax = DataPlots().pResidualsPlot->fXMax;
  const auto unzoomed = [&](const char* how) {
    RedrawResidualPlot(true);
    EXPECT_FLOAT_EQ(DataPlots().pResidualsPlot->fXMin, ownMin) << how;
    EXPECT_FLOAT_EQ(DataPlots().pResidualsPlot->fXMax, ownMax) << how;
  };
  FollowDataPlotZoom(std::pair(6.2f, 6.4f));
  RedrawResidualPlot(true);
  ASSERT_FLOAT_EQ(DataPlots().pResidualsPlot->fXMax, 6.4f);
  RebuildDataAndResidualPlots();
  unzoomed("rebuilt");
  ReleaseDataAndResidualPlots();
  FollowDataPlotZoom(std::pair(6.2f, 6.4f));
  RebuildDataAndResidualPlots();
  unzoomed("followed while released");
}

TEST_F(DisplayCommandTest, DataMarkSizeMinusOneDrawsLinesAndASizeBringsMarksBack) {
  LoadVelocitySet();
  Backend().QueueInput("-1");
  Dispatch(kCmDataMarkSize);
  for (int i = 0; i < DataSet().nScans; ++i) EXPECT_EQ(DataPlots().pDataPlot->GetCurveStyle(i), -1);
  Backend().QueueInput("3.7");
  Dispatch(kCmDataMarkSize);
  EXPECT_EQ(DataPlots().pDataPlot->nMarkSize, 3);
  for (int i = 0; i < DataSet().nScans; ++i) EXPECT_EQ(DataPlots().pDataPlot->GetCurveStyle(i), 6);
}

TEST_F(DisplayCommandTest, DataMarkSizeAsksAgainAfterATextThatIsNoNumber) {
  LoadVelocitySet();
  const int before = DataPlots().pDataPlot->nMarkSize;
  Backend().QueueInput("big");
  Backend().QueueMessageBox(IDOK, "enter float");  // names "big", the size and its range
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmDataMarkSize);
  EXPECT_EQ(Shown("Input"), 2);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(DataPlots().pDataPlot->nMarkSize, before);
}

TEST_F(DisplayCommandTest, DataMarkSizeIgnoresOtherNegativeSizesAndCapsHugeOnes) {
  LoadVelocitySet();
  const int before = DataPlots().pDataPlot->nMarkSize;
  // Out of range: refused with the range and asked again (here cancelled).
  Backend().QueueInput("-2");
  Backend().QueueMessageBox(IDOK, "enter float");
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmDataMarkSize);
  EXPECT_EQ(DataPlots().pDataPlot->nMarkSize, before);
  EXPECT_EQ(DataPlots().pDataPlot->GetCurveStyle(0), 6);
  Backend().QueueInput("1e30");
  Backend().QueueMessageBox(IDOK, "enter float");
  Backend().QueueInput("1000");
  Dispatch(kCmDataMarkSize);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(DataPlots().pDataPlot->nMarkSize, 1000);
}

TEST_F(DisplayCommandTest, SetRangeCancelledChangesNothing) {
  LoadVelocitySet();
  Backend().QueueInput("6.0");
  Backend().QueueInput("6.5");
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmSetRange);
  EXPECT_EQ(nZoomLevel, 0);
  EXPECT_EQ(DataPlots().pDataPlot->bFixedX, 0);
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
  const float xMax = DataPlots().pDataPlot->fXMax;
  for (const char* v : {"6.0", "6.5", "0", "1"}) Backend().QueueInput(v);
  Dispatch(kCmSetRange);
  bZoomDataPlot = true;
  Dispatch(kCmFullRange);
  EXPECT_EQ(nZoomLevel, 0);
  EXPECT_FALSE(bZoomDataPlot);
  EXPECT_EQ(DataPlots().pDataPlot->bFixedX, 0);
  EXPECT_FLOAT_EQ(DataPlots().pDataPlot->fXMax, xMax);
}

TEST_F(DisplayCommandTest, DataRangeZoomsOntoTheDataInsideTheFittingLimits) {
  LoadVelocitySet();
  Dispatch(kCmDataRange);
  EXPECT_EQ(nZoomLevel, 1);
  EXPECT_NEAR(DataPlots().pDataPlot->fXMin, CurrentGrid().pGridRadius[CurrentGrid().iFitFirst] - 0.01f, 1e-5);
  EXPECT_NEAR(DataPlots().pDataPlot->fXMax, CurrentGrid().pGridRadius[CurrentGrid().iFitLast] + 0.01f, 1e-5);
  float lo = CurrentGrid().ppGridSignal[1][CurrentGrid().iFitFirst], hi = lo;
  for (int s = 1; s <= DataSet().nScans; ++s)
    for (int i = CurrentGrid().iFitFirst; i <= CurrentGrid().iFitLast; ++i) {
      lo = std::fmin(lo, CurrentGrid().ppGridSignal[Idx(s)][i]);
      hi = std::fmax(hi, CurrentGrid().ppGridSignal[Idx(s)][i]);
    }
  EXPECT_NEAR(DataPlots().pDataPlot->fYMin, lo - 0.1f, 1e-5);
  EXPECT_NEAR(DataPlots().pDataPlot->fYMax, hi + 0.1f, 1e-5);
}

// After Ctrl+D the meniscus and the bottom lie outside the range shown: their lines
// are not drawn across the axis and its title: no marker colour shows outside the
// plot's axes in the data pane.
TEST_F(DisplayCommandTest, MarkerLinesStayInsideTheAxesOfTheDataRange) {
  LoadVelocitySet();
  // Meniscus and bottom at the ends of the data, the fitting limits a little inside
  // them (the example: meniscus 6.0 cm, limits 6.05 to 7.15 cm, data to 7.16 cm).
  DataSet().fMeniscus = CurrentGrid().pGridRadius[1];
  DataSet().fBottom = CurrentGrid().pGridRadius[CurrentGrid().nGridPoints];
  DataSet().fFitLeftLim = CurrentGrid().pGridRadius[CurrentGrid().nGridPoints / 20];
  DataSet().fFitRightLim = CurrentGrid().pGridRadius[CurrentGrid().nGridPoints - CurrentGrid().nGridPoints / 20];
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  PressKeyAndRun('D', MK_CONTROL);
  ASSERT_EQ(nZoomLevel, 1);
  std::unique_ptr<DC> dc = Handle().ClientDC();
  Win().Paint(*dc, true, Rect{});
  const Image& screen = Handle().Screen();
  const auto column = [&](int units) { return static_cast<int>(units * Win().fClientWidth / kPlotUnitsAcross); };
  const int left = column(DataPlots().pDataPlot->nLeft), right = column(DataPlots().pDataPlot->nRight);
  ASSERT_LT(Win().RadiusToPixelColumn(DataSet().fMeniscus), left);
  ASSERT_GT(Win().RadiusToPixelColumn(DataSet().fBottom), right);
  const int top = DisplayRowToPixel(Win(), static_cast<float>(nDataPaneTop));
  const int bottom = DisplayRowToPixel(Win(), static_cast<float>(nDataPaneBottom));
  for (const Color c : {crMeniscusMarker, crBottomMarker, crFitLimitMarker, crRangeMarker}) {
    int outside = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = 0; x < screen.Width(); ++x) outside += (x < left || x > right) && screen.Pixel(x, y) == c;
    EXPECT_EQ(outside, 0) << std::hex << c;
  }
}

TEST_F(DisplayCommandTest, ResidualsBitmapSwitchingOnAsksTheBrightnessScale) {
  LoadVelocitySet();
  DataPlots().bShowResidualsBitmap = false;
  Backend().QueueInput("0.2");
  Dispatch(kCmShowResidualsBitmap);
  EXPECT_TRUE(DataPlots().bShowResidualsBitmap);
  EXPECT_FLOAT_EQ(ResidualBitmap().fResidualBitmapScale, 0.2f);
  EXPECT_EQ(DataPlots().pResidualsPlot->nTop, SplitLayoutResidualPlotTop());
}

TEST_F(DisplayCommandTest, ResidualsBitmapCancelledScaleTakesTheDefault) {
  DataPlots().bShowResidualsBitmap = false;
  ResidualBitmap().fResidualBitmapScale = 3.0f;
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmShowResidualsBitmap);
  EXPECT_TRUE(DataPlots().bShowResidualsBitmap);
  EXPECT_FLOAT_EQ(ResidualBitmap().fResidualBitmapScale, 0.05f);
}

}  // namespace
}  // namespace tarmic::testing
