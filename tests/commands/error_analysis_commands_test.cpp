// The commands of the error analysis: the critical variance ratio, and a contour
// whose increment is refused with its reason before anything is computed or
// written.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands_test_support.h"
#include "modelfit/model_flags.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

using ErrorAnalysisCommandTest = CommandTest;

// F(P, N - 1, N) at P = 0.5 is the median of the F distribution, which tends to 1
// for many degrees of freedom (within 1e-3 of 1 for N = 1001).
TEST_F(ErrorAnalysisCommandTest, VarianceRatioIsTheCriticalF) {
  Backend().QueueInput("0.5");
  Backend().QueueInput("1001");
  Backend().QueueMessageBox(IDOK, "F-STATISTICS");
  Dispatch(kCmVarianceRatio);
  ASSERT_FALSE(Backend().Transcript().empty());
  const std::string text = Backend().Transcript().back().text;
  ASSERT_EQ(text.rfind("F(P = 0.500, 1000, 1001) = ", 0), 0u) << text;
  EXPECT_NEAR(std::atof(text.c_str() + text.find('=', 8) + 1), 1.0, 1e-3);
}

// A K contour with an increment of 0: refused with its message, no file written.
TEST_F(ErrorAnalysisCommandTest, KContourWithZeroIncrementIsRefused) {
  ModelFlags().bMonomerDimer = true;
  const std::string file = std::string(TARMIC_TEST_OUTPUT_DIR) + "/Kcontour_refused.dat";
  std::remove(file.c_str());
  Backend().QueueInput("0");
  Backend().QueueInput("1");
  Backend().QueueInput("0");
  // Refused by the prompt, with the range of increments (a thousandth of the range
  // up to the whole), then cancelled.
  Backend().QueueMessageBox(IDOK, "CONTOUR");
  Backend().QueueInput(std::nullopt);
  Dispatch(kCmKContour);
  ASSERT_FALSE(Backend().Transcript().empty());
  EXPECT_TRUE(Backend().AllAnswersUsed());
  EXPECT_EQ(BoxTexts().back(), "the increment of lg K 0 must lie between 0.001 and 1");
  EXPECT_TRUE(ReadFile(file).empty());
  ModelFlags().bMonomerDimer = false;
}

}  // namespace
}  // namespace tarmic::testing
