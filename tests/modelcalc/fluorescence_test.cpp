// The nonlinear-detection transform of fluorescence data (two domains of data
// and fit, carried over by the power law and its inverse, the rmsd of each). The
// dialog "Tools For Fitting Fluorescence AUC data" is tested with the commands.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelfit/transfer_fields.h"
#include "numerics/one_based.h"
#include "platform/headless/headless_backend.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "tests/modelcalc/fluorescence_scans.h"

namespace tarmic {
namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

constexpr int kPoints = test::kFluorescencePoints;
constexpr double kE = test::kDetectorExponent, kB = test::kDetectorBaseline;

float Recorded(int s, int i) { return test::RecordedFluorescence(s, i); }
// A fit that misses the data by a known pattern.
float RecordedFit(int s, int i) { return Recorded(s, i) + ((i % 3) - 1) * 0.01f; }

// Independent rmsd over points 5..35 of both scans (the fit range set below).
template <class F>
double Rmsd(F diff) {
  double sum = 0.0;
  int n = 0;
  for (int s = 1; s <= 2; ++s)
    for (int i = 5; i <= 35; ++i, ++n) sum += diff(s, i) * diff(s, i);
  return std::sqrt(sum / n);
}

double Forward(double v) { return test::DetectorForward(v); }

class FluorescenceTest : public ::testing::Test {
 protected:
  void SetUp() override { test::InstallFluorescenceScans(RecordedFit); }
  void TearDown() override { test::ReleaseFluorescenceScans(); }
  float Signal(int s, int i) { return DataSet().ppSignal[Idx(s)][i]; }
  float Fit(int s, int i) { return DataSet().ppFit[Idx(s)][i]; }

  ScopedHeadlessBackend backend_;
};

TEST_F(FluorescenceTest, TransformAndInverseCarryDataAndFitBetweenDomainsWithTheRmsdOfEach) {
  FluorescenceDetection().bNonlinearDetection = true;
  // Exponent 1 and baseline 0 leave both domains equal.
  ASSERT_EQ(ApplyNonlinearDetection(1.0, 0.0, true), 1);
  EXPECT_EQ(Signal(1, 20), Recorded(1, 20));
  EXPECT_FLOAT_EQ(FluorescenceDetection().fTransformedRmsd, FluorescenceDetection().fUntransformedRmsd);

  ASSERT_EQ(ApplyNonlinearDetection(kE, kB, true), 1);
  EXPECT_TRUE(FluorescenceDetection().bTransformedShown);
  for (int s = 1; s <= 2; ++s)
    for (int i = 1; i <= kPoints; ++i) {
      ASSERT_NEAR(Signal(s, i), Forward(Recorded(s, i)), 1e-6) << s << " " << i;
      ASSERT_NEAR(Fit(s, i), Forward(RecordedFit(s, i)), 1e-6);
    }
  EXPECT_EQ(Signal(1, 1), Recorded(1, 1));  // below the baseline: the same in both domains
  EXPECT_NEAR(FluorescenceDetection().fUntransformedRmsd,
              Rmsd([](int s, int i) { return RecordedFit(s, i) - Recorded(s, i); }), 1e-6);
  EXPECT_NEAR(FluorescenceDetection().fTransformedRmsd, Rmsd([](int s, int i) {
                return Forward(RecordedFit(s, i)) - Forward(Recorded(s, i));
              }),
              1e-6);
  EXPECT_NEAR(FitRmsd(), FluorescenceDetection().fTransformedRmsd, 1e-6);

  // A model computed in the transformed domain: its fit is carried to the
  // recorded domain by the inverse, and back by the law again.
  std::vector<std::vector<float>> model(3, std::vector<float>(kPoints + 1));
  for (int s = 1; s <= 2; ++s)
    for (int i = 1; i <= kPoints; ++i)
      DataSet().ppFit[Idx(s)][i] = model[s][i] =
          static_cast<float>(Forward(Recorded(s, i))) + 0.002f * static_cast<float>(s);
  ASSERT_EQ(UpdateNonlinearDetectionFit(), 1);
  for (int s = 1; s <= 2; ++s)
    for (int i = 1; i <= kPoints; ++i) {
      const double back = FluorescenceDetection().ppUntransformedFit[s][i];
      ASSERT_NEAR(Forward(back), model[s][i], 2e-6) << s << " " << i;
    }
  EXPECT_NEAR(FluorescenceDetection().fTransformedRmsd, 0.002 * std::sqrt(2.5),
              1e-6);  // 0.002 and 0.004 in equal parts
  EXPECT_NEAR(FluorescenceDetection().fUntransformedRmsd,
              Rmsd([](int s, int i) { return FluorescenceDetection().ppUntransformedFit[s][i] - Recorded(s, i); }), 1e-7);
  EXPECT_GT(FluorescenceDetection().fUntransformedRmsd, 0.0f);

  // The model computation's entry with the same law only shows the other
  // domain: the recorded data come back exactly, with the carried fit.
  ASSERT_EQ(SetNonlinearDetectionParams(kE, kB, false), 1);
  EXPECT_FALSE(FluorescenceDetection().bNonlinearDetectionBusy);
  for (int s = 1; s <= 2; ++s)
    for (int i = 1; i <= kPoints; ++i) {
      ASSERT_EQ(Signal(s, i), Recorded(s, i));
      ASSERT_EQ(Fit(s, i), FluorescenceDetection().ppUntransformedFit[s][i]);
    }

  // An exponent of 0 or below has no inverse: refused, nothing changes.
  EXPECT_EQ(ApplyNonlinearDetection(0.0, kB, true), 0);
  EXPECT_EQ(ApplyNonlinearDetection(-0.5, kB, true), 0);
  EXPECT_FALSE(FluorescenceDetection().bTransformedShown);
  EXPECT_EQ(FluorescenceDetection().dAppliedPower, kE);

  // Data changed by a tool while the transformed domain is shown survive the
  // re-application after the grid rebuild, in both domains.
  FluorescenceDetection().bShowTransformed = true;
  ASSERT_EQ(ApplyNonlinearDetection(kE, kB, true), 1);
  DataSet().ppSignal[2][20] = 0.9f;
  ReapplyNonlinearDetection(false);
  EXPECT_EQ(Signal(2, 20), 0.9f);
  EXPECT_NEAR(Forward(FluorescenceDetection().ppUntransformedSignal[2][20]), 0.9, 1e-6);

  // Switching off while transformed restores the recorded data from the copies.
  SwitchOffNonlinearDetection();
  EXPECT_FALSE(FluorescenceDetection().bNonlinearDetection || FluorescenceDetection().bTransformedShown);
  EXPECT_EQ(Signal(1, 17), Recorded(1, 17));
  EXPECT_EQ(ApplyNonlinearDetection(kE, kB, true), 0);  // option off
  // Freeing the data set frees the copies (through the hook).
  InstallFluorescenceDetectionHooks();
  FreeDataSet();
  EXPECT_TRUE(FluorescenceDetection().ppTransformedSignal.empty() && FluorescenceDetection().ppUntransformedFit.empty());
}

// Scans added (more files loaded) while the transformed domain is shown are recorded
// data; the scans there before keep their recorded values, so that switching the
// option off gives every scan back as recorded.
TEST_F(FluorescenceTest, ScansAddedWhileTransformedKeepEveryRecordedValue) {
  InstallFluorescenceDetectionHooks();
  FluorescenceDetection().bNonlinearDetection = FluorescenceDetection().bShowTransformed = true;
  ASSERT_EQ(ApplyNonlinearDetection(kE, kB, true), 1);
  GrowScanTables(3);
  float* r = vector(1, kPoints);
  float* y = vector(1, kPoints);
  for (int i = 1; i <= kPoints; ++i) {
    r[i] = DataSet().ppRadius[1][i];
    y[i] = Recorded(2, i);
  }
  InstallScanArrays(3, kPoints, r, y, nullptr, false);
  ASSERT_TRUE(BuildCommonRadialGrid());
  EXPECT_NEAR(Signal(1, 20), Forward(Recorded(1, 20)), 1e-6);
  EXPECT_NEAR(Signal(3, 20), Forward(Recorded(2, 20)), 1e-6);
  SwitchOffNonlinearDetection();
  EXPECT_FLOAT_EQ(Signal(1, 20), Recorded(1, 20));
  EXPECT_FLOAT_EQ(Signal(3, 20), Recorded(2, 20));
}

}  // namespace
}  // namespace tarmic
