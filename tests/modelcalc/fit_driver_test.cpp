// The discrete-species fit recovers s, D and the meniscus from a start 10 % off; the
// fit vector round trip; interrupts.

#include <gtest/gtest.h>

#include "tests/modelcalc/modelcalc_test_support.h"

#include <cmath>
#include <vector>

#include "platform/events.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

using namespace test::fitdata;

class FitDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetModelCalcState();
    D = test::InstallOneSpeciesData();
    fMinMeniscus = 5.97f;
    fMaxMeniscus = 6.03f;
    SetSpecies(kS, D, kMeniscus);
  }
  void TearDown() override { test::ResetModelCalcState(); }

  // One species with s, D and the meniscus floated.
  static void SetSpecies(double s, double d, double meniscus) {
    test::SetOneSpecies(s, d, 1, meniscus, true);
  }

  void ExpectRecovered() {
    EXPECT_NEAR(pSpeciesS[1], kS, 0.005 * kS);
    EXPECT_NEAR(pSpeciesMassOrD[1], D, 0.02 * D);
    EXPECT_NEAR(fMeniscus, kMeniscus, 0.002);
    EXPECT_NEAR(FitRmsd(), kNoise, 0.1 * kNoise);
    EXPECT_FALSE(bFitRunning);
    EXPECT_FALSE(bFitInterrupted);
  }

  double D = 0.0;
  ScopedHeadlessBackend backend;
};

// Simplex, Marquardt-Levenberg and simulated annealing (a short schedule with its
// final Marquardt-Levenberg) each reach the true species from a start 10 % off.
TEST_F(FitDriverTest, EveryMethodRecoversSpecies) {
  nAnnealTemps = 2;
  nAnnealIters = 40;
  for (FitMethod method : {FitMethod::Simplex, FitMethod::Marquardt, FitMethod::Annealing}) {
    SetSpecies(1.1 * kS, 0.9 * D, 6.015);
    EXPECT_EQ(FitDriver(nullptr, method), FitOutcome::Completed);
    ExpectRecovered();
  }
}

// The fit vector: floated extras first, then the floated pParams entries in
// increasing k; GetFloatingExtraParams reads what SetFloatingExtraParams applied,
// with the bounds of each value (cone radius within [0.01, 1], meniscus within its
// fit range, amplitudes not negative).
TEST_F(FitDriverTest, FitVectorPackerAndUnpackerAgree) {
  bExcitationShadow = bFitConeRadius = true;
  fConeRadius = 0.2f;
  pParamFitFlags[9] = 1;  // amplitude of species 1
  ASSERT_EQ(GetFloatingExtraParams(0, nullptr), 5);
  std::vector<float> v(6, 0.0f);
  GetFloatingExtraParams(5, v.data());
  EXPECT_EQ(v, (std::vector<float>{0.0f, 0.2f, pSpeciesMassOrD[1], float(kS), 1.0f, float(kMeniscus)}));
  const std::vector<float> applied{0.0f, 3.0f, 5.5f, 4.1f, -0.2f, 5.9f};
  SetFloatingExtraParams(applied.data());
  EXPECT_FLOAT_EQ(fConeRadius, 1.0f);
  EXPECT_FLOAT_EQ(pSpeciesMassOrD[1], 5.5f);
  EXPECT_FLOAT_EQ(pSpeciesS[1], 4.1f);
  EXPECT_FLOAT_EQ(pSpeciesAmplitude[1], 0.0f);
  EXPECT_FLOAT_EQ(fMeniscus, 5.97f);
  GetFloatingExtraParams(5, v.data());
  EXPECT_EQ(v, (std::vector<float>{0.0f, 1.0f, 5.5f, 4.1f, 0.0f, 5.97f}));

  // The vbar of the inhomogeneous solvent stands first when it is floated.
  gInhomSolvent.bInhomogeneousSolvent = gInhomSolvent.bFitVbar = true;
  ASSERT_EQ(GetFloatingExtraParams(0, nullptr), 6);
  v.assign(7, 0.0f);
  GetFloatingExtraParams(6, v.data());
  EXPECT_FLOAT_EQ(v[1], VBAR);
  std::vector<float> withVbar{0.0f, 0.75f, 1.0f, 5.5f, 4.1f, 0.0f, 5.97f};
  SetFloatingExtraParams(withVbar.data());
  EXPECT_FLOAT_EQ(VBAR, 0.75f);
  EXPECT_FLOAT_EQ(fVRho, 0.75f * fBufferDensity);
  ResetInhomSolventSettings();

  // Convergence of the passes: relative to |old|, and |new| when old is 0.
  EXPECT_NEAR(RefitRelativeChange(-2.0, -2.1), 0.05, 1e-12);
  EXPECT_NEAR(RefitRelativeChange(-2.0, 2.0), 2.0, 1e-12);
  EXPECT_DOUBLE_EQ(RefitRelativeChange(0.0, -0.003), 0.003);
}

// A key press during a fit ends the search after that evaluation: the
// fit reports the interruption, the interrupt is cleared, and the model of the best
// point is computed.
TEST_F(FitDriverTest, InterruptIsReportedAsInterruption) {
  SetSpecies(1.1 * kS, 0.9 * D, 6.015);
  for (FitMethod method : {FitMethod::Simplex, FitMethod::Marquardt, FitMethod::Annealing}) {
    UiEvents().Post(Event::KeyDown('x'));
    EXPECT_EQ(FitDriver(nullptr, method), FitOutcome::Interrupted);
    EXPECT_FALSE(bFitInterrupted);
    EXPECT_FALSE(bFitRunning);
    EXPECT_FALSE(bUserAbort);
    EXPECT_LT(nFitSim, 8);
    EXPECT_TRUE(std::isfinite(pSpeciesS[1]) && pSpeciesS[1] > 0.0f);
    EXPECT_GT(FitRmsd(), kNoise);  // the start point, computed
  }
  EXPECT_FLOAT_EQ(fAnnealTemp, fAnnealStartTemp);
}

}  // namespace
}  // namespace tarmic
