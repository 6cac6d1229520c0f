// Tests of the commit and cancel of marker moves: how a dropped marker is committed
// to the geometry (order, margins, the markers it pushes), the fit-range question
// after a meniscus or bottom move, and the radius-to-column conversion. The data
// plot here holds no scans, so only the marker rules act on the geometry.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "numerics/ccurve.h"
#include "services/run_switches.h"
#include "scandata/analysis_switches.h"
#include "tests/app/interaction_test_support.h"

namespace tarmic {
namespace {

using interaction_test::WindowTest;

class MarkerRules : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    curve_ = std::make_unique<CCurve>(xs_.data(), ys_.data(), 2, 0, 0);
    DataPlots().pDataPlot = new CWINPlot();
    DataPlots().pDataPlot->SetPlotRect(50, 75, 475, 975);
    DataPlots().pDataPlot->AddCurve(curve_.get());
    DataPlots().pDataPlot->SetRanges(5.8f, 7.3f, 0.0f, 1.0f);
    DataPlots().pDataPlot->Redraw();
    SetGeometry();
    Paint();
    DataSet().bDataChanged = false;
  }

  // Drops the held marker at v and confirms it.
  void Commit(bool& hold, float v) {
    hold = true;
    fCursorValue = v;
    W().FinishMarkerMove(true);
  }

  std::vector<float> xs_{5.9f, 7.2f};
  std::vector<float> ys_{0.0f, 1.0f};
  std::unique_ptr<CCurve> curve_;
};

constexpr float kTol = 1e-5f;

TEST_F(MarkerRules, MeniscusMovedRightOfTheLeftLimitPushesItAlong) {
  Commit(bHoldMeniscus, 6.25f);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.25f);
  EXPECT_NEAR(DataSet().fFitLeftLim, 6.255f, kTol);
  // The upper meniscus bound was passed: it moves 0.002 beyond the meniscus.
  EXPECT_NEAR(DataSet().fMaxMeniscus, 6.252f, kTol);
  EXPECT_FALSE(bHoldMeniscus);
  EXPECT_EQ(fCursorValue, 0.0f);
  EXPECT_TRUE(DataSet().bDataChanged);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[13], 6.25f);
  // The fit-range question stands at the place of the confirmed move.
  EXPECT_TRUE(bAskMeniscusRangeShift);
  EXPECT_TRUE(bRangeQuestionPending);
  ASSERT_TRUE(pFitLimitYesButton);
  EXPECT_EQ(pFitLimitYesButton->szOffLabel, "move fit limits, too?");
}

TEST_F(MarkerRules, FirstMeniscusMoveSetsAnUnsetLeftLimit) {
  DataSet().fFitLeftLim = 0;
  Commit(bHoldMeniscus, 6.01f);
  EXPECT_NEAR(DataSet().fFitLeftLim, 6.015f, kTol);
}

TEST_F(MarkerRules, MeniscusWithinItsRangeLeavesTheLeftLimitAndPullsTheUpperBound) {
  DataSet().fMeniscus = 5.9f;
  DataSet().fFitLeftLim = 6.2f;
  DataSet().fMinMeniscus = 5.8f;
  DataSet().fMaxMeniscus = 6.25f;
  Commit(bHoldMeniscus, 6.0f);
  EXPECT_FLOAT_EQ(DataSet().fFitLeftLim, 6.2f);
  EXPECT_NEAR(DataSet().fMaxMeniscus, 6.199f, kTol);
  EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 5.8f);
}

TEST_F(MarkerRules, BottomMovedLeftOfTheRightLimitTakesItWithoutMargin) {
  Commit(bHoldBottom, 6.85f);
  EXPECT_FLOAT_EQ(DataSet().fBottom, 6.85f);
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, 6.85f);
  EXPECT_FLOAT_EQ(DataSet().fMinBottom, 6.85f);
  EXPECT_TRUE(bAskBottomRangeShift);
}

TEST_F(MarkerRules, BottomMoveLeavesAnUnsetRightLimitUnset) {
  DataSet().fFitRightLim = 0;
  Commit(bHoldBottom, 6.85f);
  EXPECT_EQ(DataSet().fFitRightLim, 0.0f);
}

TEST_F(MarkerRules, DroppedFitLimitsKeepTheirOrderAndStayInsideMeniscusAndBottom) {
  // Meniscus 6.0, bottom 7.1, limits 6.2 .. 6.9 before each drop.
  struct Case { bool* hold; float drop, left, right; };
  const Case cases[] = {
      {&bHoldLeftLimit, 6.95f, 6.9f, 6.95f},   // beyond the right limit: exchanged
      {&bHoldLeftLimit, 7.2f, 6.9f, 7.095f},   // beyond the bottom: the new right limit inside
      {&bHoldLeftLimit, 5.95f, 6.005f, 6.9f},  // left of the meniscus: stays off it
      // Left of the left limit: exchanged even left of the meniscus (the next drag of
      // the left limit puts it right of the meniscus again).
      {&bHoldRightLimit, 5.95f, 5.95f, 6.2f},
  };
  for (const Case& c : cases) {
    SetGeometry();
    Commit(*c.hold, c.drop);
    EXPECT_NEAR(DataSet().fFitLeftLim, c.left, kTol) << c.drop;
    EXPECT_NEAR(DataSet().fFitRightLim, c.right, kTol) << c.drop;
    EXPECT_FALSE(bRangeQuestionPending) << c.drop;
  }
}

TEST_F(MarkerRules, RightLimitDroppedLeftOfTheMeniscusGoesOntoIt) {
  DataSet().fFitLeftLim = 5.9f;
  Commit(bHoldRightLimit, 5.95f);
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, 6.0f);
  // The left limit was not moved by this drop.
  EXPECT_FLOAT_EQ(DataSet().fFitLeftLim, 5.9f);
}

TEST_F(MarkerRules, RightLimitDroppedBeyondTheBottomGoesOntoIt) {
  Commit(bHoldRightLimit, 7.25f);
  EXPECT_FLOAT_EQ(DataSet().fFitRightLim, 7.1f);
  // Rule R2: the lower bottom bound keeps right of the right limit.
  EXPECT_NEAR(DataSet().fMinBottom, 7.101f, kTol);
}

TEST_F(MarkerRules, LowerMeniscusBoundAboveTheUpperExchangesAndPullsTheMeniscus) {
  Commit(bHoldMinMeniscus, 6.05f);
  EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 6.02f);
  EXPECT_FLOAT_EQ(DataSet().fMaxMeniscus, 6.05f);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.02f);
  // A dragged bound is no reason to keep later default fit ranges away.
  EXPECT_FALSE(DataSet().bFitRangesSet);
}

TEST_F(MarkerRules, UpperMeniscusBoundBelowTheMeniscusPullsItDown) {
  Commit(bHoldMaxMeniscus, 5.99f);
  EXPECT_FLOAT_EQ(DataSet().fMaxMeniscus, 5.99f);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 5.99f);
}

TEST_F(MarkerRules, ReferenceMeniscusSetsTheMeniscusDifference) {
  Commit(bHoldRefMeniscus, 5.93f);
  EXPECT_NEAR(fMeniscusDifference, 0.07, 1e-6);
}

TEST_F(MarkerRules, ConfirmedRangeQuestionShiftsTheMeniscusRangeByTheMove) {
  Commit(bHoldMeniscus, 6.03f);
  ASSERT_TRUE(bAskMeniscusRangeShift);
  W().FinishMarkerMove(true);
  EXPECT_NEAR(DataSet().fMinMeniscus, 6.01f, kTol);
  EXPECT_NEAR(DataSet().fMaxMeniscus, 6.05f, kTol);
  EXPECT_FALSE(bAskMeniscusRangeShift);
  EXPECT_FALSE(bRangeQuestionPending);
  EXPECT_FALSE(pFitLimitYesButton);
}

TEST_F(MarkerRules, ShiftedRangeStillGivesWayToTheLeftLimit) {
  DataSet().fFitLeftLim = 6.04f;
  Commit(bHoldMeniscus, 6.03f);
  W().FinishMarkerMove(true);
  EXPECT_NEAR(DataSet().fMinMeniscus, 6.01f, kTol);
  EXPECT_NEAR(DataSet().fMaxMeniscus, 6.039f, kTol);
}

TEST_F(MarkerRules, CancelledMoveChangesNothing) {
  bHoldBottom = true;
  fCursorValue = 6.5f;
  bRangeQuestionPending = true;
  W().FinishMarkerMove(false);
  EXPECT_FLOAT_EQ(DataSet().fBottom, 7.1f);
  EXPECT_FALSE(bHoldBottom);
  EXPECT_EQ(fCursorValue, 0.0f);
  EXPECT_FALSE(DataSet().bDataChanged);
  EXPECT_FALSE(bRangeQuestionPending);
}

TEST_F(MarkerRules, ColumnsFollowTheDataPlotAndTheClientWidth) {
  // 5.8 .. 7.3 cm over the plot's picture columns 105 .. 1365 of 1400 pixels.
  EXPECT_NEAR(Column(5.8f), 105, 1);
  EXPECT_NEAR(Column(7.3f), 1365, 1);
  EXPECT_NEAR(Column(6.55f), 735, 1);
  W().fClientWidth = 700.0f;
  EXPECT_NEAR(Column(6.55f), 367, 1);
  W().fClientWidth = 0.0f;
  EXPECT_EQ(Column(6.55f), 0);
}

}  // namespace
}  // namespace tarmic
