// The direct boundary model of a g(s*) table against the closed form of sharp,
// radially diluted boundaries.
#include <gtest/gtest.h>

#include <cmath>

#include "modelcalc/direct_boundary.h"
#include "modelcalc_test_support.h"
#include "platform/headless/headless_backend.h"

namespace tarmic::test {
namespace {

class DirectBoundaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModelCalcState();
    InstallVelocityScans(6, 200, 600.0, 50000.0f);
    const double w = 50000.0 / 60.0 * 2.0 * 3.14159265358979323846;
    for (int j = 1; j <= DataSet().nScans; ++j) DataSet().pScanInfo[Idx(j)].omega2t = w * w * DataSet().pScanInfo[Idx(j)].time;
    // Interference-like data: the common grid is the scans' own radii, so the step
    // of a boundary is not smeared by an interpolation onto another grid.
    ScanFile().bAbsorbanceData = false;
    ASSERT_TRUE(BuildCommonRadialGrid());
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
    PackModelParams();  // the parameter vector holds meniscus and bottom
  }
  void TearDown() override { ResetModelCalcState(); }

  // c(r, t_j) of one boundary of s (S) with plateau A at the meniscus.
  static double Closed(double s, double A, int j, double r) {
    const double w2t = DataSet().pScanInfo[Idx(j)].omega2t;
    return r >= DataSet().fMeniscus * std::exp(s * 1e-13 * w2t) ? A * std::exp(-2e-13 * s * w2t) : 0.0;
  }
  ScopedHeadlessBackend backend;
};

// One positive g value: the fit is the closed-form boundary plus the fixed
// baseline; with TI and RI noise fitted to data that are that boundary plus a TI
// profile and RI offsets, the noise absorbs them exactly.
// Fewer than two rows are refused.
TEST_F(DirectBoundaryTest, SharpBoundariesWithDilutionAndNoise) {
  const float sStar[] = {0.0f, 3.0f, 5.0f, 7.0f};
  const float g[] = {0.0f, 0.4f, 0.0f, -1.0f};  // only s* = 3 S (A = ds g = 0.8) counts
  AnalysisSwitches().pParams[15] = 0.01f;  // the fixed baseline (unpacked into fBaseline)
  ASSERT_EQ(DirectBoundaryFromGss(nullptr, sStar, g, 3), DirectBoundaryEnd::Done);
  for (int j : {1, 6}) {
    for (int q = DataSet().pFitFirst[Idx(j)]; q <= DataSet().pFitLast[Idx(j)]; q += 7)
      ASSERT_NEAR(DataSet().ppFit[Idx(j)][q], Closed(3.0, 0.8, j, DataSet().ppRadius[Idx(j)][q]) + 0.01, 1e-5)
          << "scan " << j << " r " << DataSet().ppRadius[Idx(j)][q];
  }
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);

  // Data = boundary + TI(r) + RI(scan); fit TI and RI noise.
  for (int j = 1; j <= DataSet().nScans; ++j) {
    for (int q = 1; q <= DataSet().pnPoints[Idx(j)]; ++q) {
      const double r = DataSet().ppRadius[Idx(j)][q];
      DataSet().ppSignal[Idx(j)][q] = static_cast<float>(Closed(3.0, 0.8, j, r) + 0.05 * std::sin(40 * r) + 0.02 * j);
    }
    FillGridSignalRow(j);
  }
  CalculateAverageScan();
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
  ASSERT_EQ(DirectBoundaryFromGss(nullptr, sStar, g, 3), DirectBoundaryEnd::Done);
  EXPECT_LT(Rmsd().fFitRmsd, 1e-5f);

  // Refused without a box of its own: the command says why.
  EXPECT_EQ(DirectBoundaryFromGss(nullptr, sStar, g, 1), DirectBoundaryEnd::TooFewPoints);
}

}  // namespace
}  // namespace tarmic::test
