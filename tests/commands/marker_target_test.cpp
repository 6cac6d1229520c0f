// The marker a press, a double-click or a pick will move is named before it moves:
// the second readout line says which, in the marker's colour. A press takes the
// nearest marker, the fitting limits first at equal distance; a double-click is the
// pick of a fitting limit also where a dashed bound of the meniscus or bottom range
// lies under it.
#include <cmath>
#include <string>

#include "app/markers.h"
#include "app/client_coordinates.h"
#include "app/mouse.h"
#include "distribution_window_test_support.h"

namespace tarmic::testing {
namespace {

class MarkerTargetTest : public DistributionWindowTest {
 protected:
  void SetUp() override {
    DistributionWindowTest::SetUp();
    LoadSyntheticRun();
    // Meniscus and bottom ranges as a load with variation ranges leaves them.
    DataSet().fMinMeniscus = 5.95f;
    DataSet().fMaxMeniscus = 6.04f;
    DataSet().fMinBottom = 7.15f;
    DataSet().fMaxBottom = 7.25f;
    Paint();
  }
  int Row() { return static_cast<int>(0.3 * Win().fClientHeight); }
  int Column(float r) { return Win().RadiusToPixelColumn(r); }
  std::string Named() {
    std::string s = szReadoutLine2;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  // Pixels of a colour in the second readout line's rows (client rows 70 to 84).
  int InkOf(Color c) {
    int n = 0;
    const Image& screen = Handle().Screen();
    for (int y = 70; y < 86; ++y)
      for (int x = 0; x < screen.Width() / 2; ++x) n += screen.Pixel(x, y) == c;
    return n;
  }
};

// A press on each marker line names that marker, in its colour, and Esc leaves it
// where it was.
TEST_F(MarkerTargetTest, APressNamesTheMarkerItTakesInItsColour) {
  int named = 0;
  for (Marker m : kAllMarkers) {
    if (!MarkerVisible(m)) continue;
    SCOPED_TRACE(MarkerName(m));
    Paint();
    const float before = MarkerRadius(m);
    Send(EventType::LButtonDown, Column(before), Row(), MK_LBUTTON);
    EXPECT_TRUE(MarkerHoldFlag(m));
    EXPECT_EQ(Named(), "moves the " + MarkerName(m));
    EXPECT_GT(InkOf(MarkerTextColour(m)), 20);
    Send(EventType::LButtonUp, Column(before), Row(), 0);
    PressKeyAndRun(VK_ESCAPE);
    EXPECT_FALSE(AnyMarkerHeld());
    EXPECT_EQ(MarkerRadius(m), before);
    ++named;
  }
  EXPECT_GE(named, 8);
}

// Two markers within reach: the nearer is taken; at equal distance the fitting limit.
TEST_F(MarkerTargetTest, TheNearestMarkerIsTakenAndTheFittingLimitAtEqualDistance) {
  const int column = Column(DataSet().fMinBottom);
  // The right fitting limit on the same column as the bottom range's lower bound
  // (the limit taken), then one column apart (the bound on the pressed column taken).
  for (const auto& [limitColumn, limitTaken] : {std::pair{column, true}, std::pair{column - 1, false}}) {
    SCOPED_TRACE(limitTaken ? "the limit on the bound's column" : "the limit one column apart");
    DataSet().fFitRightLim = DataXOfColumn(Win(), limitColumn);
    Paint();
    if (limitTaken) {
      ASSERT_EQ(Column(DataSet().fFitRightLim), column);
    }
    Send(EventType::LButtonDown, column, Row(), MK_LBUTTON);
    EXPECT_EQ(bHoldRightLimit, limitTaken);
    EXPECT_EQ(bHoldMinBottom, !limitTaken);
    Send(EventType::LButtonUp, column, Row(), 0);
    PressKeyAndRun(VK_ESCAPE);
  }
}

// A double-click on the dashed bound of the bottom range near the right fitting
// limit picks the fitting limit, names it, and Enter moves it, not the bound.
TEST_F(MarkerTargetTest, ADoubleClickOnARangeBoundPicksTheFittingLimitItNames) {
  const float limit = DataSet().fFitRightLim, bound = DataSet().fMinBottom;
  Backend().Headless().Click(Column(bound), Row(), false, 0, true);
  PostQuitMessage(0);
  RunMessageLoop(Win());
  EXPECT_TRUE(bPickFitLimit);
  EXPECT_FALSE(bHoldMinBottom);
  EXPECT_EQ(Named(), "moves the right fitting limit");
  EXPECT_GT(InkOf(MarkerTextColour(Marker::RightLimit)), 20);
  PressKeyAndRun(VK_RETURN);
  EXPECT_NE(DataSet().fFitRightLim, limit);
  EXPECT_NEAR(DataSet().fFitRightLim, bound, 0.002);
  // The bound gives way to the limit.
  EXPECT_GE(DataSet().fMinBottom, DataSet().fFitRightLim);
  EXPECT_NEAR(DataSet().fMinBottom, bound, 0.002);
  EXPECT_EQ(Named(), "");
}

// While a pick's cursor moves by the arrow keys, the name follows the limit that
// Enter would set.
TEST_F(MarkerTargetTest, ThePickNamesTheNearerLimitAsTheCursorMoves) {
  const float middle = 0.5f * (DataSet().fFitLeftLim + DataSet().fFitRightLim);
  Backend().Headless().Click(Column(middle - 0.01f), Row(), false, 0, true);
  PostQuitMessage(0);
  RunMessageLoop(Win());
  EXPECT_EQ(Named(), "moves the left fitting limit");
  for (int press = 0; press < 100 && fCursorValue < middle + 0.005f; ++press) PressKeyAndRun(VK_RIGHT);
  EXPECT_EQ(Named(), "moves the right fitting limit");
  const float v = fCursorValue;
  PressKeyAndRun(VK_RETURN);
  EXPECT_NEAR(DataSet().fFitRightLim, v, 1e-6);
}

}  // namespace
}  // namespace tarmic::testing
