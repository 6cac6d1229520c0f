// The solution variants beyond the ideal species: concentration-dependent s and D,
// an inhomogeneous solvent, the second (cosolute) solution, and the front end's
// choice of the algorithm.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "lamm/lamm_globals.h"
#include "services/run_switches.h"
#include "tests/lamm/lamm_test_support.h"

namespace tarmic {
namespace {

using test::ClosedCellSettings;
using test::DynamicCosolute;
using test::Experiment;
using test::MakeSolver;
using test::MaxDifference;
using test::MixtureNonIdeality;

// Second moment of the boundary of scan k (see lamm_solution_test.cpp).
double SecondMoment(const Experiment& e, int k) {
  const double rp = 7.0;
  return rp * rp - 2 * test::ProfileIntegral(e, k, e.meniscus, rp) / test::ProfileAt(e, k, rp);
}

class LammVariants : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLammGlobals();
    ResetRunSwitches();
    ideal.scans = nonideal.scans = 5;
    ideal.radii = nonideal.radii = 600;
    ideal.Build();
    nonideal.Build();
    auto o = MakeSolver(ideal, s, D, ClosedCellSettings(400, false));
    o->bTruncateGrid = false;
    ASSERT_EQ(o->Solve(), 0);
  }
  std::unique_ptr<CLammIdeal> NonIdeal(float logKs, float logKd, bool ksPositive) {
    auto o = MakeSolver(nonideal, s, D, ClosedCellSettings(400, false));
    o->LoadNonIdealityParameters({.bKsKdModel = true, .bConcDependentModel = true, .fLogKs = logKs,
                                  .fLogKd = logKd, .bKsOn = ksPositive, .dNonIdealParam = 1.0,
                                  .dS = s, .dD = D, .dConc0 = 1.0});
    return o;
  }
  const double s = 5.0, D = 6e-7;
  Experiment ideal, nonideal;
};

// With vanishing ks and kd the concentration-dependent solution is the ideal one.
TEST_F(LammVariants, VanishingNonidealityGivesTheIdealSolution) {
  auto o = NonIdeal(-8.0f, -8.0f, true);
  ASSERT_EQ(o->Solve(), 0);
  EXPECT_TRUE(o->bConcDependentActive);
  EXPECT_LT(MaxDifference(ideal, nonideal), 2e-3);
}

// s(c) = s (1 - ks c): a positive ks slows the boundary, a negative one speeds it.
TEST_F(LammVariants, PositiveKsSlowsTheBoundary) {
  auto slow = NonIdeal(-1.3f, -8.0f, true);  // ks = 0.05 per unit of c
  ASSERT_EQ(slow->Solve(), 0);
  const double r2slow = SecondMoment(nonideal, 5);
  auto fast = NonIdeal(-1.3f, -8.0f, false);
  ASSERT_EQ(fast->Solve(), 0);
  const double r2fast = SecondMoment(nonideal, 5);
  const double r2ideal = SecondMoment(ideal, 5);
  EXPECT_LT(r2slow, r2ideal - 0.005);
  EXPECT_GT(r2fast, r2ideal + 0.005);
}

// Several species sharing the concentration dependence: two halves of one species
// with vanishing ks, kd sum to the ideal solution of the whole.
TEST_F(LammVariants, TwoHalvesOfOneSpeciesSumToTheWhole) {
  auto o = MakeSolver(nonideal, s, D, ClosedCellSettings(400, false));
  const double conc[3] = {0, 0.5, 0.5}, ss[3] = {0, s, s}, DD[3] = {0, D, D};
  o->LoadNonIdealityParameters(MixtureNonIdeality(2, conc, ss, DD, s, D));
  ASSERT_EQ(o->Solve(), 0);
  EXPECT_LT(MaxDifference(ideal, nonideal), 2e-3);
}

// A linear solvent gradient with the same values at meniscus and bottom as water is
// a homogeneous solvent; a denser solvent towards the bottom slows the species.
TEST_F(LammVariants, InhomogeneousSolventReducesToTheHomogeneousOne) {
  auto o = MakeSolver(nonideal, s, D, ClosedCellSettings(400, false));
  o->bTruncateGrid = false;
  o->LoadInhomogeneousSolventParameters({.bInhomogeneousSolvent = true, .bLinearGradient = true});
  ASSERT_EQ(o->Solve(), 0);
  EXPECT_LT(MaxDifference(ideal, nonideal), 1e-5);

  auto dense = MakeSolver(nonideal, s, D, ClosedCellSettings(400, false));
  dense->bTruncateGrid = false;
  dense->LoadInhomogeneousSolventParameters(
      {.bInhomogeneousSolvent = true, .bLinearGradient = true, .dDensityBottom = 1.2});
  ASSERT_EQ(dense->Solve(), 0);
  // More material is left near the meniscus.
  EXPECT_GT(test::ProfileIntegral(nonideal, 5, 6.0, 6.3), 1.02 * test::ProfileIntegral(ideal, 5, 6.0, 6.3));
}

// A uniform solvent of viscosity factor 0.8 is the homogeneous solvent with s and D
// scaled by 0.8. A strongly floating species on the moving grid leaves through the
// meniscus (back-diffusion shut off there): the sedimentation outflow carries the
// local s as the interior does, so that the meniscus node keeps the concentrated
// plateau c0 exp(-2 s w^2 t) in both solutions.
TEST(LammInhomogeneousSolvent, FloatingSpeciesInAUniformSolventIsTheScaledHomogeneousSpecies) {
  ResetLammGlobals();
  ResetRunSwitches();
  const double s = -25.0, D = 5e-9, f = 0.8;
  Experiment plain, viscous;
  for (Experiment* e : {&plain, &viscous}) {
    e->scans = 6;
    e->Build();
  }
  auto homogeneous = MakeSolver(plain, f * s, f * D, ClosedCellSettings(1000, true));
  ASSERT_EQ(homogeneous->Solve(), 0);
  auto inhomogeneous = MakeSolver(viscous, s, D, ClosedCellSettings(1000, true));
  inhomogeneous->LoadInhomogeneousSolventParameters(
      {.bInhomogeneousSolvent = true, .bCompressibleSolvent = true, .fRelViscosity1atm = 1.25f});
  ASSERT_EQ(inhomogeneous->Solve(), 0);
  ASSERT_TRUE(homogeneous->bShutOffBackDiffusion && inhomogeneous->bShutOffBackDiffusion);
  for (int k = 1; k <= plain.scans; ++k) {
    const double plateau = std::exp(-2 * plain.Sw2(f * s) * plain.Time(k));
    EXPECT_NEAR(plain.rows[k][1], plateau, 1e-3) << k;
    EXPECT_NEAR(viscous.rows[k][1], plateau, 1e-3) << k;
    for (int j = 2; j <= plain.radii; ++j)
      ASSERT_NEAR(viscous.rows[k][j], plain.rows[k][j], 1e-4) << "scan " << k << ", point " << j;
  }
}

// The cosolute solved beside the species keeps its amount, and a cosolute without
// sedimentation stays uniform.
TEST_F(LammVariants, SecondComponentKeepsItsAmount) {
  for (double s2 : {0.0, 0.6}) {
    auto o = MakeSolver(nonideal, s, D, ClosedCellSettings(300, false));
    o->bTruncateGrid = false;
    o->LoadCosoluteParameters(DynamicCosolute(60, s2, 2e-5));
    ASSERT_EQ(o->Solve(), 0);
    ASSERT_TRUE(o->bComp2Allocated);
    const int n = o->nComp2Points;
    const double h = (o->dBottom - o->dMeniscus) / (n - 1);
    double amount = 0;
    for (int i = 1; i <= n; ++i) {
      const double w = (i == 1 || i == n) ? (o->pComp2Radius[i] + (i == 1 ? h / 3 : -h / 3)) * h / 2
                                          : o->pComp2Radius[i] * h;
      amount += w * o->pComp2Conc[i];
    }
    EXPECT_NEAR(amount / (0.5 * (7.2 * 7.2 - 36.0)), 1.0, 1e-3) << s2;
    if (s2 == 0.0) {
      for (int i = 1; i <= n; ++i) EXPECT_NEAR(o->pComp2Conc[i], 1.0, 1e-9);
    } else {
      EXPECT_GT(o->pComp2Conc[n], o->pComp2Conc[1]);
    }
  }
}

// The automatic algorithm: fast species on the moving grid; at 60000 rpm the
// switch point falls to a quarter of its value at 30000 rpm.
TEST(LammAlgorithmChoice, FastSpeciesUseTheMovingGrid) {
  for (float rpm : {30000.0f, 60000.0f}) {
    Experiment e;
    e.rpm = rpm;
    e.scans = 2;
    e.Build();
    LammDiscretizationSettings settings;
    settings.bOptimizeGrid = false;  // threshold 5 S at 30000 rpm
    const double threshold = 5.0 * (30000.0 / rpm) * (30000.0 / rpm);
    auto slow = MakeSolver(e, 0.95 * threshold, 5e-7, settings);
    slow->SelectFEVariant();
    EXPECT_TRUE(slow->bUseClaverie);
    auto fast = MakeSolver(e, 1.05 * threshold, 5e-7, settings);
    fast->SelectFEVariant();
    EXPECT_TRUE(fast->bUseMovingHat);
    EXPECT_FALSE(fast->bUseClaverie);
  }
}

// The set-up checks: each incomplete part is refused with status 4 or 6.
TEST(LammSetup, IncompleteSetUpIsRefused) {
  ResetLammGlobals();
  Experiment e;
  e.scans = 2;
  e.Build();
  CLammIdeal noModel;
  noModel.LoadSedimentationParameters(3.0, 5e-7, 6.0, 7.2, 1.0, 6.1f, 7.1f);
  EXPECT_EQ(noModel.Solve(), 4);
  auto outside = MakeSolver(e, 3.0, 5e-7, ClosedCellSettings(100, false));
  outside->LoadSedimentationParameters(3.0, 5e-7, 6.0, 7.2, 1.0, 6.1f, 7.3f);
  EXPECT_EQ(outside->Solve(), 4);
  auto nonideal = MakeSolver(e, 3.0, 5e-7, ClosedCellSettings(100, false));
  nonideal->LoadNonIdealityParameters({.bIdealModel = true, .bKsKdModel = true,
                                       .bConcDependentModel = true, .fLogKs = -2.0f, .fLogKd = -2.0f,
                                       .dNonIdealParam = 1.0, .dS = 3.0, .dD = 5e-7, .dConc0 = 1.0});
  EXPECT_EQ(nonideal->Solve(), 6);
  LammGlobals().bLinearGeometry = true;
  auto planar = MakeSolver(e, 3.0, 5e-7, ClosedCellSettings(100, false));
  EXPECT_EQ(planar->Solve(), 4);
  LammGlobals().bLinearGeometry = false;
  // A slow rotor acceleration (between 0.0001 and 50 rpm/s) is refused when checked.
  e.records[1].accelRate = 20.0;
  e.records[1].accelTime = 100.0;
  LammDiscretizationSettings ramp = ClosedCellSettings(100, false);
  ramp.bRampRotor = true;
  auto slowRotor = MakeSolver(e, 3.0, 5e-7, ramp);
  slowRotor->bCheckAcceleration = true;
  ResetRunSwitches();
  EXPECT_EQ(slowRotor->Solve(), 5);
  EXPECT_TRUE(bUserAbort);
}

// Settings a loader cannot solve with are refused before any step: a solvent whose
// viscosity at the bottom is zero or whose density is not a number, a cosolute of
// negative D, a species of the shared non-ideality with D = 0, per-scan radii
// without their point counts. The same loaders take the settings with those values
// mended.
TEST(LammSetup, LoaderSettingsThatCannotBeSolvedAreRefused) {
  ResetLammGlobals();
  ResetRunSwitches();
  Experiment e;
  e.scans = 2;
  e.Build();
  auto solve = [&](auto&& load) {
    auto o = MakeSolver(e, 3.0, 5e-7, ClosedCellSettings(100, false));
    load(*o);
    const int status = o->Solve();
    bUserAbort = false;
    return status;
  };

  LammSolventSettings solvent{.bInhomogeneousSolvent = true, .bLinearGradient = true};
  solvent.dViscosityBottom = 0.0;
  EXPECT_EQ(solve([&](CLammIdeal& o) { o.LoadInhomogeneousSolventParameters(solvent); }), 4);
  solvent.dViscosityBottom = 0.0015;
  solvent.fDensity = std::nanf("");
  EXPECT_EQ(solve([&](CLammIdeal& o) { o.LoadInhomogeneousSolventParameters(solvent); }), 4);
  solvent.fDensity = 1.0f;
  EXPECT_EQ(solve([&](CLammIdeal& o) { o.LoadInhomogeneousSolventParameters(solvent); }), 0);

  LammCosoluteSettings cosolute = DynamicCosolute(40, 0.5, -2e-5);
  EXPECT_EQ(solve([&](CLammIdeal& o) { o.LoadCosoluteParameters(cosolute); }), 4);
  cosolute.dComp2D = 2e-5;
  EXPECT_EQ(solve([&](CLammIdeal& o) { o.LoadCosoluteParameters(cosolute); }), 0);

  // The trailing species of zero concentration does not count, the second's D does.
  const double conc[4] = {0, 0.5, 0.5, 0.0}, s[4] = {0, 3.0, 3.0, 3.0};
  double D[4] = {0, 5e-7, 0.0, -1.0};
  const LammNonIdealitySettings shared = MixtureNonIdeality(3, conc, s, D, 3.0, 5e-7);
  EXPECT_EQ(solve([&](CLammIdeal& o) { o.LoadNonIdealityParameters(shared); }), 6);
  D[2] = 5e-7;
  EXPECT_EQ(solve([&](CLammIdeal& o) { o.LoadNonIdealityParameters(shared); }), 0);

  std::vector<float*> radii(e.scans + 1, e.outRadii.data());
  LammOutputBinding perScan{.pScans = e.records.data(), .ppOut = e.out.data(),
                            .ppScanRadii = radii.data(), .nScanCount = e.scans};
  EXPECT_EQ(solve([&](CLammIdeal& o) { o.LoadOutputParameters(perScan); }), 4);
  std::vector<int> counts(e.scans + 1, e.radii);
  perScan.pnScanPoints = counts.data();
  EXPECT_EQ(solve([&](CLammIdeal& o) { o.LoadOutputParameters(perScan); }), 0);
}

// A copy of a template set up with the optional parts (shared non-ideality with
// detection corrections and radial resolution; a solvent gradient with a cosolute
// solved beside the species) solves to the same profiles, bit for bit, as the
// template itself: the copy leaves no set-up field behind.
TEST(LammSetup, CopyOfAFullTemplateSolvesLikeTheTemplate) {
  ResetLammGlobals();
  ResetRunSwitches();
  const double conc[3] = {0, 0.6, 0.4}, s[3] = {0, 4.0, 6.0}, D[3] = {0, 6e-7, 5e-7};
  auto nonIdeal = [&](CLammIdeal& o) {
    LammNonIdealitySettings shared = MixtureNonIdeality(2, conc, s, D, 4.0, 6e-7);
    shared.fLogKs = -1.5f;
    o.LoadNonIdealityParameters(shared);
    o.SetRadialMagnificationGradient(true, 1.1f);
    o.SetTemporalDrift(true, 2.0f, false);
  };
  auto solventAndCosolute = [](CLammIdeal& o) {
    o.bTruncateGrid = false;
    o.LoadInhomogeneousSolventParameters({.bInhomogeneousSolvent = true, .bLinearGradient = true,
                                          .dDensityBottom = 1.05, .dViscosityBottom = 0.0012});
    LammCosoluteSettings cosolute = DynamicCosolute(40, 0.4, 2e-5);
    cosolute.vViscCoef = {1.0, 0.05};
    cosolute.vDensCoef = {0.0, 0.01};
    o.LoadCosoluteParameters(cosolute);
  };
  for (int variant = 0; variant < 2; ++variant) {
    Experiment a, b;
    a.scans = b.scans = 4;
    a.Build();
    b.Build();
    auto tmpl = MakeSolver(a, 4.0, 6e-7, ClosedCellSettings(300, false));
    tmpl->LoadOutputParameters({.pScans = a.records.data(), .ppOut = a.out.data(),
                                .pOutRadii = a.outRadii.data(), .nOutRadii = a.radii,
                                .nScanCount = a.scans, .bRadialResolution = true,
                                .fConvolutionRange = 0.01f, .bAbsorbance = true});
    variant == 0 ? nonIdeal(*tmpl) : solventAndCosolute(*tmpl);
    CLammIdeal copy;
    copy.CopySetup(*tmpl);
    copy.SetSpeciesAndOutput(tmpl->dS, tmpl->dD, b.out.data(), b.outRadii.data(), b.radii, nullptr,
                             nullptr);
    ASSERT_EQ(tmpl->Solve(), 0) << variant;
    ASSERT_EQ(copy.Solve(), 0) << variant;
    EXPECT_TRUE(variant == 0 ? copy.bConcDependentActive : copy.bComp2Allocated) << variant;
    for (int k = 1; k <= a.scans; ++k)
      for (int j = 1; j <= a.radii; ++j)
        ASSERT_EQ(a.rows[k][j], b.rows[k][j]) << variant << ": scan " << k << ", point " << j;
  }
}

}  // namespace
}  // namespace tarmic
