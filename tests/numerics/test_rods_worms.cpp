// Rods and worm-like chains: the rod's end correction, the worm-like chain's two
// series and its rod limit, the M(s) inversions (round trips, and ending with "no
// solution" on inputs that have none), and the M(s) table file.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "numerics/hydrodynamics.h"
#include "numerics/matrix_table.h"
#include "numerics/one_based.h"
#include "numerics/path_table.h"
#include "numerics/rods_worms.h"
#include "numerics/solvent_constants.h"
#include "platform/headless/headless_backend.h"
#include "platform/types.h"

namespace tarmic {
namespace {

class RodsWorms : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSolventConstants();
    UseWaterAt20C();
  }
  void TearDown() override { ResetSolventConstants(); }

  static void UseWaterAt20C() {
    fBufferDensity = fDensityWater20;
    fVRho = VBAR * fBufferDensity;
    RELVISCOSITY = 1.0f;
  }

  // Mass per length (Da/nm) and Kuhn length (nm) of the default worm-like chain.
  static double WormMassPerLength() {
    return fWormCrossSection * 6.023e23 / (VBAR * 1e21);
  }
  static double KuhnLength() { return 2.0 * fWormPersistenceLength; }
  // The friction function X, recovered from s20,w = mL 1e13 0.27 X / (6.023e23 0.09426e-7).
  static double WormX(double s20) {
    return s20 * 6.023e23 * 0.09426e-7 / (WormMassPerLength() * 1e13 * 0.27);
  }

  // Runs f expecting one error box that starts with the given text.
  template <typename F>
  static void ExpectNoSolution(F f) {
    ScopedHeadlessBackend backend;
    backend->QueueMessageBox(IDOK, "Error");
    f();
    ASSERT_EQ(backend->Transcript().size(), 1u);
    EXPECT_EQ(backend->Transcript()[0].text.rfind("no solution", 0), 0u)
        << backend->Transcript()[0].text;
  }
};

TEST_F(RodsWorms, RodEndCorrectionSwitchesAtAxialRatioTen) {
  const double g = 500.0;  // Da/nm
  // The rod's diameter does not depend on M: d^2 = 4 vbar g 1e3 / (pi N_A) m^2.
  const double d = std::sqrt(4.0 * VBAR * g * 1e3 / (static_cast<double>(kPi) * kAvogadro));
  const double M10 = 10.0 * d * g * 1e9;  // axial ratio 10
  const double below = SFromMLinearRod(M10 * (1.0 - 1e-7), g);
  const double at = SFromMLinearRod(M10 * (1.0 + 1e-7), g);
  EXPECT_NEAR(below / at, (std::log(10.0) + 0.3691) / (std::log(10.0) + 0.386), 1e-6);
}

TEST_F(RodsWorms, RodInversionRecoversTheMass) {
  EXPECT_EQ(SFromMLinearRod(1.0, 1000.0), 0.0);  // below 1 Da or 1 Da/nm
  EXPECT_EQ(SFromMLinearRod(1e6, 1.0), 0.0);
  for (double M : {2.0e4, 1.0e6, 3.0e8}) {
    const float s = static_cast<float>(SFromMLinearRod(M, 1500.0));
    EXPECT_NEAR(CalculateMofSforLinearRod(s, 1500.0f), M, 1e-4 * M) << M;
  }
  // The inversion keeps the mass per length for SFromMLinearRod (M).
  EXPECT_EQ(SFromMLinearRod(1e6), SFromMLinearRod(1e6, 1500.0));
}

TEST_F(RodsWorms, RodInversionEndsWithNoSolutionOnImpossibleInput) {
  // s = 1e5 grows only as ln M: out of reach below 1e20 g/mol.
  const float cases[][2] = {{0, 1500}, {-3, 1500}, {5, 1}, {5, 0.5f}, {NAN, 1500}, {1e5f, 1500}};
  for (const auto& c : cases)
    ExpectNoSolution([&c] { EXPECT_EQ(CalculateMofSforLinearRod(c[0], c[1]), 0.0); });
  fVRho = 1.05f;  // a buffer denser than the particle: no positive s
  ExpectNoSolution([] { EXPECT_EQ(CalculateMofSforLinearRod(5.0f, 1500.0f), 0.0); });
}

TEST_F(RodsWorms, RodInversionGuards) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  backend->QueueMessageBox(IDOK, "Error");
  VBAR = 0.0f;
  EXPECT_EQ(CalculateMofSforLinearRod(5.0f, 1500.0f), 0.0);
  VBAR = 0.73f;
  RELVISCOSITY = 0.0f;
  EXPECT_EQ(CalculateMofSforLinearRod(5.0f, 1500.0f), 0.0);
  EXPECT_EQ(backend->Transcript().size(), 2u);
}

TEST_F(RodsWorms, ShortWormIsARodOfItsMassPerLength) {
  EXPECT_EQ(SFromMWormChain(fWormMonomerMass * 0.99f), 0.0f);  // below the monomer
  const float M = 20000.0f;  // about 0.015 Kuhn lengths
  EXPECT_NEAR(SFromMWormChain(M), SFromMLinearRod(M, WormMassPerLength()),
              1e-4 * SFromMWormChain(M));
}

TEST_F(RodsWorms, WormSeriesJoinContinuouslyAtTwoPointFourKuhnLengths) {
  const double M24 = 2.4 * WormMassPerLength() * KuhnLength();
  const double xBelow = WormX(SFromMWormChain(static_cast<float>(M24 * (1.0 - 1e-5))));
  const double xAt = WormX(SFromMWormChain(static_cast<float>(M24 * (1.0 + 1e-6))));
  EXPECT_NEAR(xBelow, 4.1161, 2e-4);
  EXPECT_NEAR(xAt, 4.1167, 2e-4);
}

TEST_F(RodsWorms, WormSedimentationGrowsWithMass) {
  float previous = 0.0f;
  for (double M = 2e5; M < 1e9; M *= 1.05) {  // above 0.1 Kuhn lengths
    const float s = SFromMWormChain(static_cast<float>(M));
    EXPECT_GT(s, previous) << "M " << M;
    previous = s;
  }
}

TEST_F(RodsWorms, ViscosityActsOnlyThroughTheConversionToTheBuffer) {
  const float M = 2.0e6f;
  const float s1 = SFromMWormChain(M);
  RELVISCOSITY = 2.0f;
  EXPECT_NEAR(SFromMWormChain(M), s1 / 2.0f, 1e-6f * s1);
}

TEST_F(RodsWorms, WormInversionRecoversTheMass) {
  ScopedHeadlessBackend backend;
  for (float M : {5.0e4f, 1.0e6f, 5.0e7f}) {
    const float s = SFromMWormChain(M);
    EXPECT_NEAR(CalculateMofSforWormChain(s), M, 1e-3f * M) << M;
  }
  EXPECT_TRUE(backend->Transcript().empty());
}

TEST_F(RodsWorms, WormSlowerThanASphereOfTheMonomerGivesTheSphereMass) {
  const float s = 0.5f;
  const float sphere = CalculateMff02(s, 1.0f);
  ASSERT_LT(sphere, fWormMonomerMass);
  EXPECT_EQ(CalculateMofSforWormChain(s), sphere);
}

TEST_F(RodsWorms, WormInversionEndsWithNoSolutionOnImpossibleInput) {
  for (float s : {0.0f, -2.0f, INFINITY})
    ExpectNoSolution([s] { EXPECT_EQ(CalculateMofSforWormChain(s), 0.0f); });
  fVRho = 1.05f;  // buffer denser than the particle
  ExpectNoSolution([] { EXPECT_EQ(CalculateMofSforWormChain(5.0f), 0.0f); });
}

TEST_F(RodsWorms, MofsTableHoldsTheGridAtStandardConditions) {
  const std::string saved = szWormChainMofsFile;
  szWormChainMofsFile = std::string(TARMIC_TEST_OUTPUT_DIR) + "/~WormChain_mofs.dat";
  fBufferDensity = 1.02f;
  fVRho = VBAR * fBufferDensity;
  RELVISCOSITY = 1.1f;
  float grid[4] = {0.0f, 1.0f, 2.0f, 4.0f};
  float sGrid[4] = {0.0f, 1000.0f, 2000.0f, 3000.0f};
  ASSERT_TRUE(WriteWormChainMofsTable(3, grid, sGrid));
  int n = 0;
  float** table = ReadMatrixTable(szWormChainMofsFile.c_str(), 2, &n);
  szWormChainMofsFile = saved;
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(n, 3);
  const double buoyancy = (1.0 - 0.73 * 0.99823) / (1.0 - 0.73 * 1.02);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_NEAR(table[i][1], grid[i] * buoyancy * 1.1, 1e-5);
    EXPECT_NEAR(table[i][2], sGrid[i] * buoyancy * 0.001, 1e-5);
  }
  free_matrix(table, 1, n, 1, 2);
}

}  // namespace
}  // namespace tarmic
