// Tests of the keyboard and mouse on the main window, driven by scripted events:
// marker drags with their confirmation, the throw, the double-click picks and their
// end by Enter, Tab or Esc, the arrow keys, the data-point readout, the right-button
// zoom with its rubber band, and the interrupt of a running computation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "services/run_switches.h"
#include "scandata/fit_limits.h"
#include "tests/app/interaction_test_support.h"

namespace tarmic {
namespace {

using interaction_test::kDataRow;
using interaction_test::WindowTest;

class Interaction : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    LoadScans();
    SetGeometry();
    Paint();
    DataSet().bDataChanged = false;
  }
  void Press(int x, int y = kDataRow, unsigned mods = 0) {
    Post(EventType::LButtonDown, x, y, MK_LBUTTON | mods);
    Post(EventType::LButtonUp, x, y, mods);
    Pump();
  }
  void DoubleClick(int x, unsigned mods, int y = kDataRow) {
    Screen().Click(x, y, false, mods, true);
    Pump();
  }
  void RightDrag(int x0, int y0, int x1, int y1) {
    Post(EventType::RButtonDown, x0, y0, MK_RBUTTON);
    Post(EventType::MouseMove, x1, y1, MK_RBUTTON);
    Post(EventType::RButtonUp, x1, y1, 0);
    Pump();
  }
};

TEST_F(Interaction, DraggedMeniscusWaitsForEnterAndThenAsksAboutItsRange) {
  const int x1 = Column(6.05f);
  Drag(Column(6.0f), x1);
  Pump();
  EXPECT_TRUE(bRangeQuestionPending);
  EXPECT_TRUE(bHoldMeniscus);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.0f);  // not committed yet
  EXPECT_EQ(nDragLinePixel, x1);
  ASSERT_TRUE(pFitLimitYesButton);
  EXPECT_EQ(pFitLimitYesButton->szOffLabel, "confirm");

  Key(VK_RETURN);
  Pump();
  const float moved = RadiusAt(x1);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, moved);
  EXPECT_NEAR(DataSet().fMaxMeniscus, moved + 0.002f, 1e-5f);
  EXPECT_TRUE(DataSet().bDataChanged);
  EXPECT_TRUE(bAskMeniscusRangeShift);
  ASSERT_TRUE(pFitLimitYesButton);
  EXPECT_EQ(pFitLimitYesButton->szOffLabel, "move fit limits, too?");

  Key(VK_ESCAPE);
  Pump();
  EXPECT_FALSE(bAskMeniscusRangeShift);
  EXPECT_FALSE(bRangeQuestionPending);
  EXPECT_FALSE(pFitLimitYesButton);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, moved);
  EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 5.98f);
}

TEST_F(Interaction, TabConfirmsADroppedMarkerAsEnterDoes) {
  const int x1 = Column(6.8f);
  Drag(Column(6.9f), x1);
  Key(VK_TAB);
  Pump();
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, RadiusAt(x1));
  EXPECT_FALSE(bRangeQuestionPending);
  EXPECT_FALSE(bHoldRightLimit);
  // Every scan's last point inside the fit now ends at the new limit.
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const int last = DataSet().pFitLast[static_cast<std::size_t>(s)];
    EXPECT_LE(DataSet().ppRadius[static_cast<std::size_t>(s)][last], DataSet().fFitRightLim);
    EXPECT_GT(DataSet().ppRadius[static_cast<std::size_t>(s)][last + 1], DataSet().fFitRightLim);
  }
}

TEST_F(Interaction, ConfirmButtonCommitsAndCancelButtonDeclinesTheRangeShift) {
  const int x1 = Column(7.12f);
  Drag(Column(7.1f), x1);
  Pump();
  ASSERT_TRUE(pFitLimitYesButton);
  Press(x1 + 10, kDataRow - 9);  // on "confirm"
  EXPECT_FLOAT_EQ(DataSet().fBottom, RadiusAt(x1));
  EXPECT_TRUE(bAskBottomRangeShift);
  ASSERT_TRUE(pFitLimitCancelButton);
  Press(x1 + 10, kDataRow + 9);  // on "cancel", where the question now stands
  EXPECT_FALSE(bAskBottomRangeShift);
  EXPECT_FALSE(bRangeQuestionPending);
  EXPECT_FLOAT_EQ(DataSet().fMinBottom, 7.05f);
}

TEST_F(Interaction, PressTwoPixelsFromAMarkerMissesItAndOnePixelGrabsIt) {
  const int column = Column(DataSet().fBottom);
  Post(EventType::LButtonDown, column + 2, kDataRow, MK_LBUTTON);
  Pump();
  EXPECT_FALSE(bMarkerDragging);
  EXPECT_FALSE(AnyMarkerHeld());
  Post(EventType::LButtonUp, column + 2, kDataRow, 0);
  Post(EventType::LButtonDown, column - 1, kDataRow, MK_LBUTTON);
  Pump();
  EXPECT_TRUE(bMarkerDragging);
  EXPECT_TRUE(bHoldBottom);
}

TEST_F(Interaction, OfTwoMarkersWithinReachTheLeftLimitIsTakenBeforeTheMeniscus) {
  DataSet().fFitLeftLim = 6.0002f;
  ASSERT_EQ(Column(DataSet().fFitLeftLim), Column(DataSet().fMeniscus));
  Post(EventType::LButtonDown, Column(DataSet().fMeniscus), kDataRow, MK_LBUTTON);
  Pump();
  EXPECT_TRUE(bHoldLeftLimit);
  EXPECT_FALSE(bHoldMeniscus);
}

TEST_F(Interaction, HiddenReferenceMeniscusCannotBeTaken) {
  const int column = Column(5.9f);  // the meniscus minus the default difference 0.1
  Post(EventType::LButtonDown, column, kDataRow, MK_LBUTTON);
  Post(EventType::LButtonUp, column, kDataRow, 0);
  Pump();
  EXPECT_FALSE(bHoldRefMeniscus);
  EXPECT_FALSE(bRangeQuestionPending);

  SetRefMeniscusShownTest([] { return true; });
  Post(EventType::LButtonDown, column, kDataRow, MK_LBUTTON);
  Pump();
  EXPECT_TRUE(bHoldRefMeniscus);
}

TEST_F(Interaction, UnsetMarkersCannotBeTaken) {
  DataSet().fFitLeftLim = 0;
  const int column = Column(0.0f);
  Post(EventType::LButtonDown, column, kDataRow, MK_LBUTTON);
  Pump();
  EXPECT_FALSE(bHoldLeftLimit);
}

TEST_F(Interaction, PressWhileADroppedMarkerWaitsOnlyCancelsTheMove) {
  Drag(Column(6.0f), Column(6.05f));
  Pump();
  ASSERT_TRUE(bRangeQuestionPending);
  Post(EventType::LButtonDown, Column(DataSet().fBottom), kDataRow, MK_LBUTTON);
  Pump();
  EXPECT_FALSE(bRangeQuestionPending);
  EXPECT_FALSE(bMarkerDragging);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.0f);
  EXPECT_FALSE(DataSet().bDataChanged);
}

class Throw : public Interaction {
 protected:
  void SetUp() override {
    Interaction::SetUp();
    // A clock that moves 20 ms on at every reading: the drag is recorded at an
    // even pace, and the slide's waits end at once.
    SetClockOverride([this] { return now_ += 20; });
    bMouseSlidingOff = false;
    bMouseBouncing = false;
  }
  // A drag of the meniscus to the right that is still moving at the release.
  void Fling() {
    const int x0 = Column(6.0f);
    Post(EventType::LButtonDown, x0, kDataRow, MK_LBUTTON);
    for (int i = 1; i <= 4; ++i) Post(EventType::MouseMove, x0 + 10 * i, kDataRow, MK_LBUTTON);
    release_ = x0 + 50;
    Post(EventType::LButtonUp, release_, kDataRow, 0);
  }
  std::atomic<std::int64_t> now_{1000000};
  int release_ = 0;
};

TEST_F(Throw, ThrownMarkerSlidesOnAndStopsBeforeItsNeighbour) {
  Fling();
  Pump();
  EXPECT_TRUE(bRangeQuestionPending);
  EXPECT_GT(nDragLinePixel, release_);
  EXPECT_LE(nDragLinePixel, Column(DataSet().fMinBottom));
  EXPECT_FLOAT_EQ(fCursorValue, RadiusAt(nDragLinePixel));
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.0f);
}

TEST_F(Throw, EscDuringTheSlideCancelsWithoutAQuestion) {
  Fling();
  Key(VK_ESCAPE);
  Pump();
  EXPECT_FALSE(bRangeQuestionPending);
  EXPECT_FALSE(bHoldMeniscus);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.0f);
}

TEST_F(Throw, EnterDuringTheSlideCommitsAtOnce) {
  Fling();
  Key(VK_RETURN);
  Pump();
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, RadiusAt(release_));
  // The range question of a meniscus commit follows, and Enter answers it.
  EXPECT_TRUE(bAskMeniscusRangeShift);
  EXPECT_TRUE(bRangeQuestionPending);
}

TEST_F(Interaction, CtrlDoubleClickPicksTheNearerOfMeniscusAndBottom) {
  // The fit ranges as a load places them around the meniscus and the bottom.
  DataSet().bFitRangesSet = false;
  SetDefaultFitLimits();
  const float minMeniscus = DataSet().fMinMeniscus, maxMeniscus = DataSet().fMaxMeniscus;
  const int x = Column(6.04f);
  DoubleClick(x, MK_CONTROL);
  EXPECT_TRUE(bHoldMeniscus);
  EXPECT_TRUE(bRangeQuestionPending);
  const float v = RadiusAt(x);
  EXPECT_FLOAT_EQ(fCursorValue, v);

  Key(VK_RETURN);
  Pump();
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, v);
  EXPECT_FLOAT_EQ(DataSet().fBottom, 7.1f);
  EXPECT_FALSE(bRangeQuestionPending);
  EXPECT_TRUE(DataSet().bDataChanged);
  // The fit range shown stays where it is.
  EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, minMeniscus);
  EXPECT_FLOAT_EQ(DataSet().fMaxMeniscus, maxMeniscus);
  EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 5.98f);
  // On the screen the meniscus line has moved.
  EXPECT_EQ(Pixels().Pixel(Column(v), 200), crMeniscusMarker);
  EXPECT_NE(Pixels().Pixel(Column(6.0f), 200), crMeniscusMarker);
}

TEST_F(Interaction, MeniscusPickSetsAMissingMeniscusFirstThenTheBottom) {
  DataSet().fMeniscus = 0;
  DataSet().fBottom = 0;
  DoubleClick(Column(7.0f), MK_CONTROL);
  Key(VK_RETURN);
  Pump();
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, RadiusAt(Column(7.0f)));
  DoubleClick(Column(6.1f), MK_CONTROL);
  Key(VK_RETURN);
  Pump();
  // The bottom placed left of the meniscus is exchanged with it.
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, RadiusAt(Column(6.1f)));
  EXPECT_FLOAT_EQ(DataSet().fBottom, RadiusAt(Column(7.0f)));
}

TEST_F(Interaction, MeniscusPickNearTheDataEndAsksWhichMarkerIsMeant) {
  DataSet().fBottom = 7.3f;  // beyond the data, which end at 7.2
  DoubleClick(Column(7.18f), MK_CONTROL);
  backend_->QueueMessageBox(IDNO, "");
  backend_->QueueMessageBox(IDNO, "");
  Key(VK_RETURN);
  Pump();
  ASSERT_EQ(backend_->Transcript().size(), 2u);
  EXPECT_EQ(backend_->Transcript()[0].text, "set bottom?");
  EXPECT_EQ(backend_->Transcript()[1].text, "set meniscus?");
  // Two answers no: nothing moves and the pick ends.
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.0f);
  EXPECT_FLOAT_EQ(DataSet().fBottom, 7.3f);
  EXPECT_FALSE(bCursorActive);
  EXPECT_FALSE(W().bModalBoxOpen);
}

TEST_F(Interaction, ShiftDoubleClickWithoutMeniscusHoldsTheReferenceButPicksNothing) {
  DataSet().fMeniscus = 0;
  DoubleClick(Column(6.5f), MK_SHIFT);
  EXPECT_TRUE(bHoldRefMeniscus);
  EXPECT_FALSE(bPickRefMeniscus);
  EXPECT_FALSE(bCursorActive);
}

TEST_F(Interaction, ShiftDoubleClickPicksTheReferenceMeniscus) {
  DoubleClick(Column(5.95f), MK_SHIFT);
  EXPECT_TRUE(bPickRefMeniscus);
  Key(VK_RETURN);
  Pump();
  EXPECT_NEAR(fMeniscusDifference, 6.0 - RadiusAt(Column(5.95f)), 1e-6);
  EXPECT_FALSE(bPickRefMeniscus);
}

TEST_F(Interaction, FirstFittingLimitPickSetsThePickedLimitAndTheOtherAtItsMarker) {
  // Near the meniscus: the right limit goes 0.01 inside the bottom (the data, to
  // 7.2, reach beyond it). Near the bottom: the left limit 0.01 inside the meniscus.
  for (bool nearMeniscus : {true, false}) {
    DataSet().fFitLeftLim = 0;
    DataSet().fFitRightLim = 0;
    const float at = nearMeniscus ? 6.3f : 7.0f;
    DoubleClick(Column(at), 0);
    Key(VK_RETURN);
    Pump();
    EXPECT_FLOAT_EQ(nearMeniscus ? DataSet().fFitLeftLim : DataSet().fFitRightLim, RadiusAt(Column(at)));
    EXPECT_NEAR(nearMeniscus ? DataSet().fFitRightLim : DataSet().fFitLeftLim, nearMeniscus ? 7.09f : 6.01f, 1e-5f);
  }
}

TEST_F(Interaction, FittingLimitPickOnTheMeniscusStaysOffIt) {
  DataSet().fFitLeftLim = 0;
  DataSet().fFitRightLim = 0;
  bPickFitLimit = true;
  bHoldLeftLimit = true;
  bCursorActive = true;
  bRangeQuestionPending = true;
  fCursorValue = 6.0f;
  Key(VK_RETURN);
  Pump();
  EXPECT_NEAR(DataSet().fFitLeftLim, 6.01f, 1e-5f);
}

// On DLS data the abscissa is log10 of the lag time: a fitting limit picked at 0
// (1 s) is set there, not taken for unset and sent to the far end of the data.
TEST_F(Interaction, FittingLimitPickedAtOneSecondOnDlsDataStaysThere) {
  for (int s = 1; s <= DataSet().nScans; ++s)
    for (int j = 1; j <= DataSet().pnPoints[static_cast<std::size_t>(s)]; ++j)
      DataSet().ppRadius[static_cast<std::size_t>(s)][j] = -6.0f + 0.05f * static_cast<float>(j - 1);
  DataSet().bDLSData = true;
  DataSet().fMeniscus = -6.0f;
  DataSet().fBottom = 0.5f;
  DataSet().fFitLeftLim = -5.0f;
  DataSet().fFitRightLim = -1.0f;
  bPickFitLimit = true;
  bCursorActive = true;
  fCursorValue = 0.0f;
  Key(VK_RETURN);
  Pump();
  EXPECT_FLOAT_EQ(DataSet().fFitLeftLim, -5.0f);
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, 0.0f);
}

TEST_F(Interaction, ConfirmButtonEndsAPickAsEnterDoes) {
  const int x = Column(6.3f);
  DoubleClick(x, 0);
  ASSERT_TRUE(pFitLimitYesButton);
  Press(x + 10, interaction_test::kDataRow - 9);  // on "confirm"
  EXPECT_FALSE(bPickFitLimit);
  EXPECT_FALSE(pFitLimitYesButton);
  // The nearer limit, the left one, moved to the pick.
  EXPECT_FLOAT_EQ(DataSet().fFitLeftLim, RadiusAt(x));
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, 6.9f);
}

TEST_F(Interaction, EscAbandonsAPick) {
  DoubleClick(Column(6.5f), 0);
  Key(VK_ESCAPE);
  Pump();
  EXPECT_FALSE(bPickFitLimit);
  EXPECT_FALSE(bRangeQuestionPending);
  EXPECT_FALSE(AnyMarkerHeld());
  EXPECT_FLOAT_EQ(DataSet().fFitLeftLim, 6.2f);
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, 6.9f);
  EXPECT_EQ(Screen().Cursor(), CursorShape::Arrow);
}

TEST_F(Interaction, DoubleClickOnAMarkerDragsItInsteadOfPicking) {
  // The first click of the double-click already takes the marker and drops it
  // where it was; the double-click then moves the placed line.
  DoubleClick(Column(DataSet().fBottom), 0);
  EXPECT_TRUE(bHoldBottom);
  EXPECT_FALSE(bPickFitLimit);
  EXPECT_TRUE(bRangeQuestionPending);
}

TEST_F(Interaction, ArrowKeysMoveTheCursorAndShowItsValue) {
  bCursorActive = true;
  fCursorValue = 6.1234f;
  Key(VK_LEFT);
  Pump();
  EXPECT_NEAR(fCursorValue, 6.1231f, 1e-6f);
  EXPECT_EQ(szReadoutLine1, "6.1231    ");
  EXPECT_EQ(nCursorLinePixel, Column(fCursorValue));
  Key(VK_RIGHT);
  Key(VK_RIGHT);
  Pump();
  EXPECT_EQ(szReadoutLine1, "6.1237    ");
}

TEST_F(Interaction, ClickOnADataPointShowsItsRadiusAndSignal) {
  // Point 61 of scan 2: r = 6.5, signal 0.6 + 0.1 x 0.6.
  const float r = DataSet().ppRadius[2][61], a = DataSet().ppSignal[2][61];
  Press(DataPlots().pDataPlot->MapX(r), DataPlots().pDataPlot->MapY(a));
  EXPECT_EQ(nPickedPointIndex, 61);
  EXPECT_EQ(szReadoutLine1, "r = 6.5000    ");
  EXPECT_EQ(szReadoutLine2, "a = 0.6600    ");

  // A click between the scans clears both lines.
  Press(DataPlots().pDataPlot->MapX(r), DataPlots().pDataPlot->MapY(0.5f));
  EXPECT_EQ(szReadoutLine1, std::string(14, ' '));
  EXPECT_EQ(szReadoutLine2, std::string(14, ' '));
}

TEST_F(Interaction, KeysAndButtonsDuringAFitOnlyAskItToStop) {
  W().bFitInProgress = true;
  Post(EventType::LButtonDown, Column(DataSet().fMeniscus), kDataRow, MK_LBUTTON);
  Pump();
  EXPECT_TRUE(bUserAbort);
  EXPECT_FALSE(bMarkerDragging);
  bUserAbort = false;
  bCursorActive = true;
  fCursorValue = 6.5f;
  Key(VK_LEFT);
  Pump();
  EXPECT_TRUE(bUserAbort);
  EXPECT_FLOAT_EQ(fCursorValue, 6.5f);
  bUserAbort = false;
  RightDrag(Column(6.3f), kDataRow, Column(6.6f), kDataRow + 50);
  EXPECT_TRUE(bUserAbort);
  EXPECT_EQ(nZoomLevel, 0);
}

TEST_F(Interaction, MouseMoveAloneDoesNotInterruptARun) {
  W().bRunInProgress = true;
  Post(EventType::MouseMove, Column(DataSet().fMeniscus), kDataRow, 0);
  Pump();
  EXPECT_FALSE(bUserAbort);
  EXPECT_TRUE(bHoverIdle);
  EXPECT_EQ(Screen().Cursor(), CursorShape::Arrow);
}

TEST_F(Interaction, PointerNearAMarkerShowsTheSizingCursorUntilItLeaves) {
  Post(EventType::MouseMove, Column(DataSet().fBottom) + 1, kDataRow, 0);
  Pump();
  EXPECT_EQ(Screen().Cursor(), CursorShape::SizeWE);
  EXPECT_FALSE(bHoverIdle);
  Post(EventType::MouseMove, Column(6.5f), kDataRow, 0);
  Pump();
  EXPECT_EQ(Screen().Cursor(), CursorShape::Arrow);
  EXPECT_TRUE(bHoverIdle);
}

TEST_F(Interaction, RubberBandLeavesThePixelsAsTheyWere) {
  const Image before = Pixels();
  const int x = Column(6.4f);
  W().EvRButtonDown(MK_RBUTTON, Point{x, 200});
  EXPECT_TRUE(Screen().IsCaptured());
  EXPECT_EQ(Screen().Cursor(), CursorShape::Cross);
  W().EvMouseMove(MK_RBUTTON, Point{x + 8, 320});
  W().EvMouseMove(MK_RBUTTON, Point{x + 6, 300});
  int changed = 0;
  for (int y = 200; y <= 300; ++y) changed += Pixels().Pixel(x, y) != before.Pixel(x, y);
  EXPECT_GT(changed, 90);
  // Too narrow to zoom: the release only takes the band away.
  W().EvRButtonUp(0, Point{x + 6, 300});
  EXPECT_EQ(nZoomLevel, 0);
  EXPECT_FALSE(Screen().IsCaptured());
  for (int y = 0; y < 1000; y += 1)
    for (int xx = x - 2; xx <= x + 10; ++xx)
      ASSERT_EQ(Pixels().Pixel(xx, y), before.Pixel(xx, y)) << xx << "," << y;
}

TEST_F(Interaction, BandOfTenPixelsDoesNotZoomAndElevenDoes) {
  const int x = Column(6.4f);
  const float xMin = RadiusAt(x), xMax = RadiusAt(x + 11);
  const float yMin = DataYOfRow(W(), 400), yMax = DataYOfRow(W(), 150);
  RightDrag(x, 150, x + 10, 400);
  EXPECT_EQ(nZoomLevel, 0);
  RightDrag(x, 150, x + 11, 400);
  EXPECT_EQ(nZoomLevel, 1);
  EXPECT_FLOAT_EQ(afZoomXMin[1], xMin);
  EXPECT_FLOAT_EQ(afZoomXMax[1], xMax);
  // Screen rows grow downwards: the lower row gives the smaller value.
  EXPECT_FLOAT_EQ(afZoomYMin[1], yMin);
  EXPECT_FLOAT_EQ(afZoomYMax[1], yMax);
  EXPECT_FLOAT_EQ(DataPlots().pDataPlot->fXMin, afZoomXMin[1]);
  EXPECT_FLOAT_EQ(DataPlots().pDataPlot->fXMax, afZoomXMax[1]);
}

TEST_F(Interaction, TenZoomsStopAtLevelNine) {
  for (int i = 0; i < 10; ++i) RightDrag(300, 150, 900, 400);
  EXPECT_EQ(nZoomLevel, 9);
}

TEST_F(Interaction, RightDoubleClickStepsBackThroughTheZoomLevels) {
  RightDrag(300, 150, 900, 400);
  const float firstXMin = DataPlots().pDataPlot->fXMin, firstXMax = DataPlots().pDataPlot->fXMax;
  RightDrag(400, 150, 800, 400);
  ASSERT_EQ(nZoomLevel, 2);
  Screen().Click(600, kDataRow, true, 0, true);
  Pump();
  EXPECT_EQ(nZoomLevel, 1);
  EXPECT_FLOAT_EQ(DataPlots().pDataPlot->fXMin, firstXMin);
  EXPECT_FLOAT_EQ(DataPlots().pDataPlot->fXMax, firstXMax);
  Screen().Click(600, kDataRow, true, 0, true);
  Screen().Click(600, kDataRow, true, 0, true);
  Pump();
  EXPECT_EQ(nZoomLevel, 0);
  EXPECT_LT(DataPlots().pDataPlot->fXMin, 5.91f);
  EXPECT_GT(DataPlots().pDataPlot->fXMax, 7.19f);
}

TEST_F(Interaction, RightPressOutsideThePanesStartsNoDrag) {
  Post(EventType::RButtonDown, 600, 510, MK_RBUTTON);  // between the panes
  Pump();
  EXPECT_FALSE(W().bRightDragActive);
  // The release may happen anywhere, even outside the window; the next drag works.
  RightDrag(300, 150, 900, 400);
  EXPECT_EQ(nZoomLevel, 1);
  EXPECT_FALSE(W().bRightDragActive);
}

TEST_F(Interaction, RightClickCancelsAPendingMeniscusRangeQuestion) {
  bHoldMeniscus = true;
  fCursorValue = 6.01f;
  W().FinishMarkerMove(true);
  ASSERT_TRUE(bAskMeniscusRangeShift);
  Screen().Click(600, kDataRow, true);
  Pump();
  EXPECT_FALSE(bAskMeniscusRangeShift);
  EXPECT_FALSE(bRangeQuestionPending);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.01f);
}

}  // namespace
}  // namespace tarmic
