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
      ScanFile().bAbsorbanceData = false;
      ScanFile().bInterferenceData = true;
      if (c == InterferenceCopies)
        for (int i = 1; i <= DataSet().pnPoints[3]; ++i) DataSet().ppRadius[3][i] += 0.003f;
      ASSERT_TRUE(BuildCommonRadialGrid());
      SetLeftFitLimitIndices();
      SetRightFitLimitIndices();
    }
    ASSERT_EQ(CurrentGrid().bGridCopies, c != InterferenceOwnArrays);
    for (int s = 1; s <= DataSet().nScans; ++s)
      for (int i = 1; i <= DataSet().pnPoints[Idx(s)]; ++i) DataSet().ppFit[Idx(s)][i] = 0.5f;
    // A linear TI profile, exact under linear resampling: 0.02 (r - 6) per cm.
    for (int g = 1; g <= CurrentGrid().nGridPoints; ++g) CurrentGrid().pTINoise[g] = 0.02f * (CurrentGrid().pGridRadius[g] - 6.0f);
    AnalysisSwitches().bFitTINoise = false;
    EXPECT_FALSE(SubtractTINoise());  // the switch is off: nothing
    AnalysisSwitches().bFitTINoise = true;
    ASSERT_TRUE(SubtractTINoise());
    for (int s = 1; s <= DataSet().nScans; ++s) {
      const float* r = DataSet().ppRadius[Idx(s)];
      for (int i = 1; i <= DataSet().pnPoints[Idx(s)]; i += 7) {
        // Beyond the ends of the grid the resampling extrapolates by its own rule.
        if (r[i] < CurrentGrid().pGridRadius[1] || r[i] > CurrentGrid().pGridRadius[CurrentGrid().nGridPoints]) continue;
        const float ti = 0.02f * (r[i] - 6.0f);
        EXPECT_NEAR(DataSet().ppSignal[Idx(s)][i], -ti, 1e-6f) << c;
        EXPECT_NEAR(DataSet().ppFit[Idx(s)][i], 0.5f - ti, 1e-6f);
      }
      for (int g = 1; g <= CurrentGrid().nGridPoints; g += 50)
        EXPECT_NEAR(CurrentGrid().ppGridSignal[Idx(s)][g], -0.02f * (CurrentGrid().pGridRadius[g] - 6.0f), 1e-6f);
    }
    EXPECT_EQ(CurrentGrid().pTINoise[CurrentGrid().nGridPoints], 0.0f);
    EXPECT_NEAR(CurrentGrid().pRemovedTINoise[CurrentGrid().nGridPoints], 0.02f * (CurrentGrid().pGridRadius[CurrentGrid().nGridPoints] - 6.0f), 1e-7f);
    // A second subtraction takes out nothing more.
    ASSERT_TRUE(SubtractTINoise());
    EXPECT_NEAR(DataSet().ppSignal[2][30], -0.02f * (DataSet().ppRadius[2][30] - 6.0f), 1e-6f);
    ASSERT_TRUE(RestoreTINoise());
    for (int s = 1; s <= DataSet().nScans; ++s)
      for (int i = 1; i <= DataSet().pnPoints[Idx(s)]; ++i) {
        EXPECT_NEAR(DataSet().ppSignal[Idx(s)][i], 0.0f, 1e-6f);
        EXPECT_NEAR(DataSet().ppFit[Idx(s)][i], 0.5f, 1e-6f);
      }
    EXPECT_EQ(CurrentGrid().pRemovedTINoise[CurrentGrid().nGridPoints], 0.0f);
  }
  ResetModelCalcState();
}

}  // namespace
}  // namespace tarmic::test
