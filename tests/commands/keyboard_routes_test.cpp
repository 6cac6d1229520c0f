// The fitting limits and the integration range by keys alone: Home or End starts the
// pick of the left or the right fitting limit at that limit, the arrow keys move it
// and Enter sets it, Esc leaves it; after Ctrl+I, Enter asks for the integration
// range by number and integrates it as a drawn range.
#include <cmath>

#include "app/markers.h"
#include "app/mouse.h"
#include "commands/distribution_range_tools.h"
#include "distribution_window_test_support.h"
#include "resources/command_ids.h"
#include "scandata/fit_limits.h"

namespace tarmic::testing {
namespace {

using KeyboardRoutesTest = DistributionWindowTest;

TEST_F(KeyboardRoutesTest, FittingLimitsAreSetWithHomeEndTheArrowsAndEnter) {
  LoadSyntheticRun();
  Paint();
  struct Route {
    int startKey;
    int arrow;
    int presses;
    bool escape;
  };
  const Route routes[] = {{VK_HOME, VK_RIGHT, 40, false}, {VK_END, VK_LEFT, 25, false},
                          {VK_HOME, VK_LEFT, 10, false},  {VK_END, VK_RIGHT, 5, true}};
  for (const Route& r : routes) {
    SCOPED_TRACE(::testing::Message() << r.startKey << " " << r.arrow << " x" << r.presses);
    const float left = DataSet().fFitLeftLim, right = DataSet().fFitRightLim;
    const float start = r.startKey == VK_HOME ? left : right;
    PressKeyAndRun(r.startKey);
    ASSERT_TRUE(bCursorActive);
    EXPECT_FLOAT_EQ(std::stof(szReadoutLine1), std::round(start * 1e4f) / 1e4f);
    for (int k = 0; k < r.presses; ++k) PressKeyAndRun(r.arrow);
    const double moved = start + (r.arrow == VK_RIGHT ? 1 : -1) * 0.0003 * r.presses;
    EXPECT_NEAR(std::stod(szReadoutLine1), moved, 1e-4);
    PressKeyAndRun(r.escape ? VK_ESCAPE : VK_RETURN);
    EXPECT_FALSE(bCursorActive);
    const float nowMoved = r.startKey == VK_HOME ? DataSet().fFitLeftLim : DataSet().fFitRightLim;
    const float nowKept = r.startKey == VK_HOME ? DataSet().fFitRightLim : DataSet().fFitLeftLim;
    EXPECT_NEAR(nowMoved, r.escape ? start : moved, 1e-5);
    EXPECT_FLOAT_EQ(nowKept, r.startKey == VK_HOME ? right : left);
  }
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
}

TEST_F(KeyboardRoutesTest, TheIntegrationRangeIsTypedAfterCtrlIAndEnter) {
  RunSmallCsAndPressCtrlI();
  // Enter, Cancel at the first limit: still armed.
  Backend().QueueInput(std::nullopt);
  PressKeyAndRun(VK_RETURN);
  EXPECT_TRUE(bDistRangeArmed);
  // Enter again, 2 and 9 S typed: the integral over the simulated species.
  Backend().QueueInput("2");
  Backend().QueueInput("9");
  Backend().QueueMessageBox(IDOK, "INTEGRATE DISTRIBUTION");
  PressKeyAndRun(VK_RETURN);
  const std::string text = BoxText("INTEGRATE DISTRIBUTION");
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.find("Integral from 2.000000 to 9.000000"), std::string::npos) << text;
  EXPECT_NEAR(NumberAfter(text, "Weight (Signal) Average = "), kSyntheticS, 0.05 * kSyntheticS);
  EXPECT_FALSE(bDistRangeArmed);
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

}  // namespace
}  // namespace tarmic::testing
