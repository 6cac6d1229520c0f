// The calculated TI noise taken out and put back, on copied and on shared grids:
// each point of signal, fit and grid changes once.
#include "modelcalc/noise_subtraction.h"

#include "modelcalc_test_support.h"

namespace tarmic::test {
namespace {

TEST(NoiseSubtractionTest, TIProfileLeavesSignalFitAndGridOnceAndComesBack) {
  enum Case { Absorbance, InterferenceOwnArrays, InterferenceCopies };
  for (const Case c : {Absorbance, InterferenceOwnArrays, InterferenceCopies}) {
    const bool interference = c != Absorbance;
    ResetModelCalcState();
    InstallVelocityScans(3, 60, 300.0, 50000.0f);
    if (interference) {
      bAbsorbanceData = false;
      bInterferenceData = true;
      if (c == InterferenceCopies)
        for (int i = 1; i <= pnPoints[3]; ++i) ppRadius[3][i] += 0.003f;
      ASSERT_TRUE(BuildCommonRadialGrid());
      SetLeftFitLimitIndices();
      SetRightFitLimitIndices();
    }
    ASSERT_EQ(bGridCopies, c != InterferenceOwnArrays);
    for (int s = 1; s <= nScans; ++s)
      for (int i = 1; i <= pnPoints[Idx(s)]; ++i) ppFit[Idx(s)][i] = 0.5f;
    // A linear TI profile, exact under linear resampling: 0.02 (r - 6) per cm.
    for (int g = 1; g <= nGridPoints; ++g) pTINoise[g] = 0.02f * (pGridRadius[g] - 6.0f);
    bFitTINoise = false;
    EXPECT_FALSE(SubtractTINoise());  // the switch is off: nothing
    bFitTINoise = true;
    ASSERT_TRUE(SubtractTINoise());
    for (int s = 1; s <= nScans; ++s) {
      const float* r = ppRadius[Idx(s)];
      for (int i = 1; i <= pnPoints[Idx(s)]; i += 7) {
        // Beyond the ends of the grid the resampling extrapolates by its own rule.
        if (r[i] < pGridRadius[1] || r[i] > pGridRadius[nGridPoints]) continue;
        const float ti = 0.02f * (r[i] - 6.0f);
        EXPECT_NEAR(ppSignal[Idx(s)][i], -ti, 1e-6f) << c;
        EXPECT_NEAR(ppFit[Idx(s)][i], 0.5f - ti, 1e-6f);
      }
      for (int g = 1; g <= nGridPoints; g += 50)
        EXPECT_NEAR(ppGridSignal[Idx(s)][g], -0.02f * (pGridRadius[g] - 6.0f), 1e-6f);
    }
    EXPECT_EQ(pTINoise[nGridPoints], 0.0f);
    EXPECT_NEAR(pRemovedTINoise[nGridPoints], 0.02f * (pGridRadius[nGridPoints] - 6.0f), 1e-7f);
    // A second subtraction takes out nothing more.
    ASSERT_TRUE(SubtractTINoise());
    EXPECT_NEAR(ppSignal[2][30], -0.02f * (ppRadius[2][30] - 6.0f), 1e-6f);
    ASSERT_TRUE(RestoreTINoise());
    for (int s = 1; s <= nScans; ++s)
      for (int i = 1; i <= pnPoints[Idx(s)]; ++i) {
        EXPECT_NEAR(ppSignal[Idx(s)][i], 0.0f, 1e-6f);
        EXPECT_NEAR(ppFit[Idx(s)][i], 0.5f, 1e-6f);
      }
    EXPECT_EQ(pRemovedTINoise[nGridPoints], 0.0f);
  }
  ResetModelCalcState();
}

}  // namespace
}  // namespace tarmic::test
