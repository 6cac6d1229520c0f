// The inhomogeneous solvent of the propagators: a solvent that does not vary gives
// the ideal solution; a sedimenting cosolute conserves its amount and approaches its
// sedimentation equilibrium; the conversion to standard conditions and back.
#include "propagators/inhomogeneous_solvent.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "propagators/sim_input.h"
#include "modelfit/model_params.h"
#include "numerics/solvent_constants.h"
#include "propagators/moving_hat_propagator.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "propagators/solvent_settings.h"
#include "propagators/static_grid_propagator.h"
#include "scandata/data_set.h"
#include "tests/lamm/lamm_test_support.h"

namespace tarmic {
namespace {

constexpr double kM = 6.0, kB = 7.2, kRpm = 50000;

class InhomogeneousSolventTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    ResetSimArrays();
    ResetSimRunState();
    ResetInhomogeneousSolvent();
    ResetInhomSolventSettings();
    ResetModelParams();
    ResetModelFlags();
  }
  // A cosolute that sediments and forms a gradient, in an incompressible solvent.
  static void UseSedimentingCosolute(double conc) {
    SolventSettings().gInhomSolvent.bCompressibleSolvent = false;
    SolventSettings().gInhomSolvent.bCosoluteDynamicGradient = SolventSettings().gInhomSolvent.bSedimentingCosolute = true;
    SolventSettings().gInhomSolvent.cosoluteConc = conc;
  }

  // One solve of a loading of 1 (static grid or moving hat) with the scans kept.
  static std::vector<std::vector<double>> Solve(bool movingHat, int N, double s, double D,
                                                std::vector<double> times, bool inhom,
                                                SimOutcome* outcome = nullptr) {
    ResetSimArrays();
    ResetSimRunState();
    ResetLammGlobals();
    DataSet().fMeniscus = static_cast<float>(kM);
    DataSet().fBottom = static_cast<float>(kB);
    LammSettings().nLammGridPoints = N;
    LammSettings().bMovingHat = movingHat;
    LammSettings().bClaverie = !movingHat;
    EXPECT_TRUE(AllocSimArrays());
    for (int i = 1; i <= N; ++i) LammArrays().pLammConc[i] = 1.0;
    SimRun().dSimS = s;
    SimRun().dSimD = D;
    SimRun().dSimRpm = SimRun().dFinalRpm = kRpm;
    SimRun().dMaxRelChange = movingHat ? 0.1 : 0.01;
    SimRun().dMaxRelChangeLow = 0.05 * SimRun().dMaxRelChange;
    SimRun().dMaxRelChangeTarget = 0.2 * SimRun().dMaxRelChange;
    SolventSettings().gInhomSolvent.bInhomogeneousSolvent = inhom;
    SimRunSettings st;
    st.meniscus = kM, st.bottom = kB;
    st.fitLeft = static_cast<float>(kM), st.fitRight = static_cast<float>(kB);  // no fit-range stop
    st.rampRotorSpeed = st.truncateGrid = false;
    st.inhomogeneousSolvent = inhom;
    st.sedimentingCosolute = inhom && SolventSettings().gInhomSolvent.bSedimentingCosolute;
    st.dynamicGradient = inhom && SolventSettings().gInhomSolvent.bCosoluteDynamicGradient;
    std::vector<std::vector<double>> scans(times.size());
    ScanTimeRecorder rec(times, [&](int k, const double*, const double* c, int n) {
      scans[static_cast<std::size_t>(k)].assign(c, c + n + 1);
    });
    rec.Start();
    const SimOutcome out =
        movingHat ? SolveLammMovingHat(st, {s, D}, rec) : SolveLammClaverie(st, {s, D}, rec);
    EXPECT_TRUE(out.ok()) << out.message;
    if (outcome) *outcome = out;
    return scans;
  }

  static double MaxDifference(const std::vector<std::vector<double>>& a,
                              const std::vector<std::vector<double>>& b) {
    double worst = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k)
      for (std::size_t i = 1; i < a[k].size(); ++i) worst = std::max(worst, std::fabs(a[k][i] - b[k][i]));
    return worst;
  }

  // Cosolute profile and its amount: sum of W_i c_i with W_i = integral of r phi_i dr.
  static double CosoluteAmount() {
    const int n = LammArrays().nCosolventPoints;
    const double *r = CosolventArray(1), *c = CosolventArray(2);
    double sum = 0.0;
    for (int e = 1; e < n; ++e) {
      const double h = r[e + 1] - r[e];
      sum += h * ((2 * r[e] + r[e + 1]) * c[e] + (r[e] + 2 * r[e + 1]) * c[e + 1]) / 6;
    }
    return sum;
  }
  test::SavedGlobals<float, float, float, float> saved{SolventConstants().VBAR, SolventConstants().fBufferDensity, SolventConstants().fVRho, SolventConstants().RELVISCOSITY};
};

// A compressible solvent without compressibility, and a cosolute of zero
// concentration in a buffer without coefficients, leave fV = fB = 1: both grids give
// the solution of the homogeneous solvent.
TEST_F(InhomogeneousSolventTest, UniformSolventGivesTheIdealSolution) {
  const std::vector<double> times = {600, 1500};
  for (bool hat : {false, true}) {
    const auto ideal = Solve(hat, 200, 5.0, 6e-7, times, false);
    SolventSettings().gInhomSolvent.bCompressibleSolvent = true;
    SolventSettings().gInhomSolvent.bCosoluteDynamicGradient = false;
    SolventSettings().gInhomSolvent.compressibility = 0.0;
    const auto compressed = Solve(hat, 200, 5.0, 6e-7, times, true);
    for (std::size_t i = 1; i < Cosolute().SolventViscosityFactor.size(); ++i) {
      EXPECT_NEAR(Cosolute().SolventViscosityFactor[i], 1.0, 1e-7);
      EXPECT_NEAR(Cosolute().SolventBuoyancyFactor[i], 1.0, 1e-7);
    }
    // The same matrices up to rounding (on the moving grid the frame motion is
    // F - S instead of the combined element); rounding may shift a step decision.
    EXPECT_LT(MaxDifference(ideal, compressed), 1e-5) << hat;

    UseSedimentingCosolute(0.0);
    SolventSettings().gInhomSolvent.vbarEffective = SolventConstants().VBAR;
    const auto cosolute = Solve(hat, 200, 5.0, 6e-7, times, true);
    EXPECT_LT(MaxDifference(ideal, cosolute), 1e-5) << hat;
    EXPECT_EQ(LammArrays().nCosolventPoints, 50);
  }
  // A compressible solvent with compressibility slows the species near the bottom
  // (denser solvent): less material has left the meniscus region than without.
  SolventSettings().gInhomSolvent = InhomSolventSettings{};
  SolventSettings().gInhomSolvent.compressibility = 4.591e-4;
  const auto ideal = Solve(false, 200, 5.0, 6e-7, times, false);
  const auto compressed = Solve(false, 200, 5.0, 6e-7, times, true);
  EXPECT_LT(Cosolute().SolventBuoyancyFactor.back(), Cosolute().SolventBuoyancyFactor[1]);
  EXPECT_GT(compressed.back()[100], ideal.back()[100]);
}

// The cosolute in a closed cell keeps its amount exactly (the columns of the
// transport matrix sum to 0) and tends to c ~ exp(sigma r^2), sigma = s w^2 / (2 D);
// the predictor-corrector route of a nonideal cosolute with constant s(c), D(c)
// gives the same profile as the ideal one.
TEST_F(InhomogeneousSolventTest, SedimentingCosoluteReachesEquilibrium) {
  const double s = 2.0, D = 3e-5;
  const std::string sFile = std::string(TARMIC_TEST_OUTPUT_DIR) + "/inhom_s.dat";
  const std::string dFile = std::string(TARMIC_TEST_OUTPUT_DIR) + "/inhom_d.dat";
  std::ofstream(sFile) << s << " S\n";
  std::ofstream(dFile) << D << "\n";
  std::vector<std::vector<double>> profiles;
  for (bool nonideal : {false, true}) {
    SolventSettings().gInhomSolvent = InhomSolventSettings{};
    UseSedimentingCosolute(1.0);
    SolventSettings().gInhomSolvent.cosoluteS = s;
    SolventSettings().gInhomSolvent.cosoluteD = D;
    SolventSettings().gInhomSolvent.cosoluteGridSize = 40;
    SolventSettings().gInhomSolvent.nonidealCosolute = nonideal;
    SolventSettings().gInhomSolvent.sNonidealPath = sFile;
    SolventSettings().gInhomSolvent.dNonidealPath = dFile;
    Solve(false, 100, 0.5, 6e-7, {30000, 60000}, true);
    const double* rc = CosolventArray(1);
    const double loaded = (rc[LammArrays().nCosolventPoints] * rc[LammArrays().nCosolventPoints] - rc[1] * rc[1]) / 2;
    EXPECT_NEAR(CosoluteAmount(), loaded, 1e-9 * loaded);
    const double sigma = test::Sw2(s, kRpm) / (2 * D);
    const double *r = CosolventArray(1), *c = CosolventArray(2);
    const int n = LammArrays().nCosolventPoints;
    double worst = 0.0;
    for (int i = 1; i <= n; ++i) {
      const double expected = c[1] * std::exp(sigma * (r[i] * r[i] - r[1] * r[1]));
      worst = std::max(worst, std::fabs(c[i] / expected - 1));
    }
    EXPECT_LT(worst, 5e-3) << nonideal;
    EXPECT_GT(c[n] / c[1], 2.0);
    profiles.emplace_back(c, c + n + 1);
    // The gradient reached the species: denser and more viscous towards the bottom.
    EXPECT_GT(Cosolute().pCosoluteOnGrid.back(), Cosolute().pCosoluteOnGrid[1]);
  }
  EXPECT_LT(MaxDifference({profiles[0]}, {profiles[1]}), 1e-6);
  std::remove(sFile.c_str());
  std::remove(dFile.c_str());

  // A grid of fewer than 10 points is refused before anything runs.
  SolventSettings().gInhomSolvent.cosoluteGridSize = 5;
  std::string message;
  EXPECT_FALSE(InitCosolute(CurrentSimSolvent(), {6.0, 7.2}, &message));
  EXPECT_FALSE(message.empty());
}

// Forward then backward conversion returns the original s and D, also when the
// solvent values were edited while the model was on.
TEST_F(InhomogeneousSolventTest, StandardConditionsRoundTrip) {
  const float s0 = 4.5f, d0 = 6.0f;
  ModelParams().pSpeciesS[1] = s0;
  ModelParams().pSpeciesMassOrD[1] = d0;
  ModelParams().pSpeciesMassOrD[2] = -1.0f;
  SolventConstants().VBAR = 0.73f;
  SolventSettings().gInhomSolvent.relViscosity = 1.3f;
  SolventSettings().gInhomSolvent.density1atm = 1.1f;
  ConvertToStandardConditions();
  EXPECT_TRUE(SolventSettings().gInhomSolvent.converted);
  EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], d0 * 1.3f, 1e-5);
  EXPECT_NEAR(ModelParams().pSpeciesS[1], s0 * 1.3 * (1 - 0.73 * 0.99823) / (1 - 0.73 * 1.1), 1e-4);
  EXPECT_EQ(ModelParams().pSpeciesMassOrD[2], 0.0f);
  EXPECT_FLOAT_EQ(SolventConstants().RELVISCOSITY, 1.0f);
  EXPECT_FLOAT_EQ(SolventConstants().fBufferDensity, fDensityWater20);
  SolventSettings().gInhomSolvent.relViscosity = 2.0f;  // edited while on
  SolventSettings().gInhomSolvent.density1atm = 1.2f;
  ConvertToExperimentalConditions();
  EXPECT_FALSE(SolventSettings().gInhomSolvent.converted);
  EXPECT_NEAR(ModelParams().pSpeciesS[1], s0, 1e-5);
  EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], d0, 1e-5);
  EXPECT_FLOAT_EQ(SolventConstants().RELVISCOSITY, 2.0f);
  EXPECT_FLOAT_EQ(SolventConstants().fBufferDensity, 1.2f);
}

}  // namespace
}  // namespace tarmic
