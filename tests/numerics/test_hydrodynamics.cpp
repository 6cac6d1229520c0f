// Hydrodynamic relations: known values, round trips between s, D, M and radii,
// conversions to standard conditions, axial ratios, and the guards.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "numerics/hydrodynamics.h"
#include "numerics/solvent_constants.h"
#include "platform/headless/headless_backend.h"
#include "platform/types.h"

namespace tarmic {
namespace {

class Hydrodynamics : public ::testing::Test {
 protected:
  void SetUp() override { ResetSolventConstants(); }
  void TearDown() override { ResetSolventConstants(); }

  // Water at 20 C as the buffer.
  static void UseWaterAt20C() {
    SolventConstants().fBufferDensity = fDensityWater20;
    SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
    SolventConstants().RELVISCOSITY = 1.0f;
  }

  // Runs f expecting exactly one error box that names the function.
  template <typename F>
  static void ExpectOneMessage(const std::string& text, F f) {
    ScopedHeadlessBackend backend;
    backend->QueueMessageBox(IDOK, "Error");
    f();
    ASSERT_EQ(backend->Transcript().size(), 1u);
    EXPECT_NE(backend->Transcript()[0].text.find("in function " + text), std::string::npos)
        << backend->Transcript()[0].text;
  }
};

TEST_F(Hydrodynamics, GlobularProteinOf66kDaSedimentsNear4Point9S) {
  UseWaterAt20C();
  const float M = 66500.0f;
  const float D = DFromM(M, 20.0f);  // VBAR 0.73, f/f0 1.2
  const float s = SFromMandD(M, D, 20.0f);
  EXPECT_NEAR(s, 4.9f, 0.1f);
  // A compact sphere of the same mass sediments 1.2 times faster.
  EXPECT_NEAR(CalculateSedcoeffFromMassSphere(M, 0.73f, 20.0f, fDensityWater20, 1.0f), 1.2f * s,
              1e-3f * s);
  EXPECT_NEAR(D, 6.67e-7f, 0.01e-7f);
}

TEST_F(Hydrodynamics, MassFromSRecoversTheMassThatGaveS) {
  UseWaterAt20C();
  for (float M : {1000.0f, 66500.0f, 5.0e6f}) {
    const float s = SFromMandD(M, DFromM(M, 20.0f), 20.0f);
    EXPECT_NEAR(CalculateM(s), M, 1e-5f * M);
    EXPECT_NEAR(CalculateMff02(s, SolventConstants().fFrictionalRatio), M, 1e-5f * M);
  }
}

TEST_F(Hydrodynamics, SvedbergRelationsAreMutuallyConsistent) {
  const float M = 250000.0f, s = 9.0f, vbar = 0.72f, rho = 1.01f, T = 25.0f;
  SolventConstants().fVRho = vbar * rho;
  const float D = DFromMandS(M, s, T);
  EXPECT_NEAR(MFromSandD(s, D, T), M, 1e-5f * M);
  EXPECT_NEAR(SFromMandD(M, D, T), s, 1e-5f * s);
  EXPECT_NEAR(CalculateDiffusionCoefficient(M, s, vbar, T, rho, 1.1f), D, 1e-4f * D);
}

TEST_F(Hydrodynamics, RadiusAndMassFromRadiusAreInverse) {
  for (double M : {500.0, 66500.0, 3.0e8}) {
    const double R = CalculateRadius(M, 0.73);
    EXPECT_NEAR(CalculateMassFromRadius(R, 0.73), M, 1e-9 * M);
  }
  // 66.5 kDa at 0.73 ml/g: a sphere of about 2.68 nm.
  EXPECT_NEAR(CalculateRadius(66500.0, 0.73), 2.679e-9, 0.002e-9);
}

TEST_F(Hydrodynamics, SphereSedimentationAndMassAreInverseAtAnyConditions) {
  for (float T : {4.0f, 20.0f, 37.0f}) {
    const float M = 42000.0f, vbar = 0.70f, rho = 1.02f, eta = 1.3f;
    const float s = CalculateSedcoeffFromMassSphere(M, vbar, T, rho, eta);
    EXPECT_NEAR(CalculateMassFromSedcoeffSphere(s, eta, vbar, rho), M, 1e-5f * M) << T;
  }
}

TEST_F(Hydrodynamics, FrictionalRatioOfASphereIsOneAndLeavesViscosityAlone) {
  const float M = 42000.0f, vbar = 0.70f, rho = 1.02f, eta = 1.3f;
  const float s = CalculateSedcoeffFromMassSphere(M, vbar, 20.0f, rho, eta);
  SolventConstants().RELVISCOSITY = 0.9f;
  EXPECT_NEAR(CalculateFrictionalRatio(M, s, vbar, rho, eta), 1.0f, 1e-5f);
  EXPECT_EQ(SolventConstants().RELVISCOSITY, 0.9f);
  EXPECT_NEAR(CalculateFrictionCoefficient(M, s, vbar, rho), CalculateF0(M, vbar) * eta / 0.9f,
              1e-5f * CalculateFrictionCoefficient(M, s, vbar, rho));
}

TEST_F(Hydrodynamics, S20wIsUnchangedAtStandardConditionsAndInvertible) {
  EXPECT_FLOAT_EQ(S20wFromS(5.0f, STANDARDVISCOSITY, fDensityWater20, 0.73f, 0.73f), 5.0f);
  const float s20 = S20wFromS(5.0f, 0.0011f, 1.04f, 0.71f, 0.73f);
  EXPECT_GT(s20, 5.0f);  // denser, more viscous buffer slows the particle down
  EXPECT_NEAR(SFromS20w(s20, 0.0011f, 1.04f, 0.71f, 0.73f), 5.0f, 1e-5f);
  SolventConstants().fBufferDensity = 1.04f;
  SolventConstants().RELVISCOSITY = 1.2f;
  EXPECT_NEAR(SFromS20wBuffer(S20wFromSBuffer(3.3f)), 3.3f, 1e-5f);
  EXPECT_FLOAT_EQ(S20wFromSBuffer(3.3f), S20wFromS(3.3f, STANDARDVISCOSITY * 1.2f, 1.04f, SolventConstants().VBAR, SolventConstants().VBAR));
}

TEST_F(Hydrodynamics, StokesRadiusGivesTheDiffusionCoefficientOfTheMass) {
  UseWaterAt20C();
  const float M = 66500.0f;
  const float s20 = SFromMandD(M, DFromM(M, 20.0f), 20.0f);
  const float Rs = S20ToStokesRadius(s20, SolventConstants().VBAR);
  EXPECT_NEAR(Rs, 1.2f * 2.679e-9f, 0.005e-9f);
  EXPECT_NEAR(DFromStokesRadius(Rs, 20.0f), DFromM(M, 20.0f), 1e-4f * DFromM(M, 20.0f));
  EXPECT_EQ(DFromRh(Rs, 20.0f), DFromStokesRadius(Rs, 20.0f));
}

TEST_F(Hydrodynamics, AxialRatiosFromTheFrictionalRatio) {
  EXPECT_EQ(CalculateProlateRatio(1.0f, 0.73f, 0.0f, 1.0f), 0.0f);
  EXPECT_NEAR(CalculateProlateRatio(1.2f, 0.73f, 0.0f, 1.0f), 4.258f, 0.005f);
  EXPECT_NEAR(CalculateOblateRatio(1.2f, 0.73f, 0.0f, 1.0f), 4.537f, 0.005f);
  // Hydration swells the sphere: less of the ratio is left for the shape.
  EXPECT_LT(CalculateProlateRatio(1.2f, 0.73f, 0.3f, 1.0f), 4.258f);
  // From M and s: a sphere has no axial ratio.
  const float s = CalculateSedcoeffFromMassSphere(50000.0f, 0.73f, 20.0f, 1.0f, 1.0f);
  EXPECT_LT(CalculateProlateRatio(50000.0f, s * 0.99999f, 0.73f, 0.0f, 1.0f, 1.0f), 1.1f);
  EXPECT_NEAR(CalculateProlateRatio(50000.0f, s / 1.2f, 0.73f, 0.0f, 1.0f, 1.0f), 4.258f, 0.01f);
}

TEST_F(Hydrodynamics, VbarFromMassFollowsItsParameters) {
  EXPECT_NEAR(VbarFromMass(1e8), 1.04248 + 0.01909, 1e-12);
  EXPECT_NEAR(VbarFromMass(8e8), 1.04248 + 2 * 0.01909, 1e-12);
  SolventConstants().dVbarOffset = 0.7;
  SolventConstants().dVbarIncrement = 0.1;
  SolventConstants().nVbarMassScale = 3;
  EXPECT_NEAR(VbarFromMass(27000.0), 0.7 + 0.1 * 3.0, 1e-12);
  ExpectOneMessage("VbarFromMass", [] { EXPECT_EQ(VbarFromMass(0.0), 0.0); });
}

TEST_F(Hydrodynamics, PowerAndScalingLaws) {
  EXPECT_NEAR(SFromM(1e5), 0.0159 * std::pow(1e5, 0.47), 1e-9);
  ExpectOneMessage("SFromM", [] { EXPECT_EQ(SFromM(0.0), 0.0); });
  const float s = SFromMScalingLaw(2.0e5f);
  EXPECT_NEAR(s, 0.003f * std::pow(2.0e5f, 0.667f), 1e-4f * s);
  EXPECT_NEAR(MFromSScalingLaw(s), 2.0e5f, 2.0f);
}

TEST_F(Hydrodynamics, GuardsReturnTheirFallbacks) {
  EXPECT_EQ(DFromMandS(0.0f, 5.0f, 20.0f), 1e-4f);
  EXPECT_EQ(DFromM(0.0f, 20.0f), 1e-4f);
  EXPECT_EQ(MFromSandD(5.0f, 0.0f, 20.0f), 0.0f);
  EXPECT_EQ(DFromStokesRadius(0.0f, 20.0f), 0.0f);
  EXPECT_EQ(CalculateF0(-5.0f, 0.73f), 0.0f);
  EXPECT_EQ(CalculateMassFromSedcoeffSphere(0.0f, 1.0f, -1.0f, 1.0f), 0.0f);  // s checked first
}

// Each guard shows one box naming its function and returns its fallback.
TEST_F(Hydrodynamics, GuardMessagesAreShownAndTheWorkGoesOn) {
  ExpectOneMessage("CalculateRadius", [] { EXPECT_EQ(CalculateRadius(0.0, 0.73), 0.0); });
  ExpectOneMessage("CalculateMassFromSedcoeffSphere",
                   [] { EXPECT_EQ(CalculateMassFromSedcoeffSphere(4.0f, 1.0f, 0.0f, 1.0f), 0.0f); });
  ExpectOneMessage("S20ToStokesRadius", [] { EXPECT_EQ(S20ToStokesRadius(4.0f, 0.0f), 0.0f); });
  ExpectOneMessage("CalculateProlateRatio",
                   [] { EXPECT_EQ(CalculateProlateRatio(1.5f, 0.73f, -1.0f, 1.0f), 0.0f); });
  SolventConstants().VBAR = 0.0f;
  ExpectOneMessage("CalculateM", [] { EXPECT_EQ(CalculateM(4.0f), 0.0f); });
  ExpectOneMessage("CalculateMff02", [] { EXPECT_EQ(CalculateMff02(4.0f, 1.2f), 0.0f); });
  EXPECT_EQ(CalculateMff02(0.0f, 1.2f), 0.0f);  // s = 0 is checked before VBAR, silently
  // Without a radius D from M falls back to 1e-4 and the sphere gives no s.
  ExpectOneMessage("CalculateRadius", [] { EXPECT_EQ(DFromM(5e4f, 20.0f), 1e-4f); });
  ExpectOneMessage("CalculateRadius", [] {
    EXPECT_EQ(CalculateSedcoeffFromMassSphere(5e4f, 0.0f, 20.0f, 1.0f, 1.0f), 0.0f);
  });
}

TEST_F(Hydrodynamics, SedimentationAgainstTheBuoyancyHasNoMass) {
  // s > 0 in a buffer denser than the particle: no positive mass, 0 instead of NaN.
  SolventConstants().fVRho = 1.1f;
  EXPECT_EQ(CalculateM(4.0f), 0.0f);
  EXPECT_EQ(MassFromSedcoeff(-4.0, 0.73, 0.73, 0.001002, 1.2), 0.0);
  // Floating particles with negative s have a mass.
  EXPECT_GT(CalculateM(-4.0f), 0.0f);
}

}  // namespace
}  // namespace tarmic
