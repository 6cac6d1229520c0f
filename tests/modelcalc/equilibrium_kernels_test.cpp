// The kernels of the continuous models on sedimentation-equilibrium data, against
// the Boltzmann exponential of unit loading in closed form.
#include <gtest/gtest.h>

#include <cmath>

#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_storage.h"
#include "distributions/install_hooks.h"
#include "modelcalc/equilibrium_signal.h"
#include "modelcalc_test_support.h"
#include "modelfit/modelfit_hooks.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

class EquilibriumKernelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    InstallDistributionHooks();
    // Two scans of the 6.0-7.2 cm cell at 10,000 and 25,000 rpm, 20 C.
    test::InstallVelocityScans(2, 120, 3600.0, 10000.0f);
    pScanInfo[2].rpm = 25000.0f;
    bEquilibriumMode = true;
  }
  void TearDown() override { ResetAll(); }
  static void ResetAll() {
    ResetDistributionEngine();
    ResetDistributionHooks();
    ResetModelFitHooks();
    test::ResetModelCalcState();
  }

  // The grid and kernels of the model whose flags are set, as a run makes them.
  static void MakeKernels(float lo, float hi) {
    bContiModel = true;
    test::SetContinuousParams(lo, hi, 12.0f, 0.68f, 1.25f, fMeniscus, fBottom);
    UnpackModelParams();
    ASSERT_TRUE(SetupContiGrid());
    KernelPointList list;
    list.Resize(nDistGrid);
    for (int i = 1; i <= nDistGrid; ++i) ASSERT_TRUE(SetupKernelPoint(i, KernelTemperature(), 0.0, list));
    ASSERT_EQ(ComputeKernels(nullptr, nDistGrid, list), 0);
  }

  // Largest relative deviation (scale at least 1e-3) of every kernel from the profile of unit loading
  // c(r) = x exp(x (r^2 - rm^2)/(rb^2 - rm^2)) / (e^x - 1), x = Mb w^2 (rb^2 - rm^2) / 2RT,
  // whose mean over the sector meniscus..bottom is 1; buoyant(i) is Mb of point i.
  template <typename Buoyant>
  static double WorstDeviation(Buoyant buoyant) {
    const double rm2 = double(fMeniscus) * fMeniscus, rb2 = double(fBottom) * fBottom;
    double worst = 0.0;
    for (int i = 1; i <= nDistGrid; ++i) {
      for (int scan = 1; scan <= nScans; ++scan) {
        const double w = pScanInfo[test::Idx(scan)].rpm * M_PI / 30.0;
        const double x = buoyant(i) * w * w * (rb2 - rm2) / (2.0 * kGasConstant * 293.15);
        for (int p = 1; p <= nGridPoints; p += 7) {
          const double r2 = double(pGridRadius[p]) * pGridRadius[p];
          const double expected = x / std::expm1(x) * std::exp(x * (r2 - rm2) / (rb2 - rm2));
          // Relative, but not below 1e-3 of the sector mean (float kernels underflow
          // where the heaviest masses are depleted).
          worst = std::max(worst, std::fabs(pppKernels[i][scan][p] - expected) / std::max(expected, 1e-3));
        }
      }
    }
    return worst;
  }

  ScopedHeadlessBackend backend;
};

// c(M): the buoyant mass (1 - vbar rho) M of each grid mass; c(s): that of the mass
// the frictional ratio gives each s; c(M) with invariant D: the grid value itself,
// a buoyant mass. Without the equilibrium profiles installed nothing is computed on these data.
TEST_F(EquilibriumKernelsTest, EveryModelTakesTheProfileOfItsBuoyantMass) {
  EXPECT_FALSE(KernelModelAvailable());
  InstallEquilibriumKernelHook();
  const double buoyancy = 1.0 - 0.73 * 0.99823;

  MakeKernels(5000.0f, 300000.0f);
  EXPECT_LT(WorstDeviation([&](int i) { return buoyancy * pDistS[i]; }), 2e-4);
  // The grid holds the s of each mass.
  EXPECT_NEAR(pDistGrid[nDistGrid], SFromMandD(300000.0f, DFromM(300000.0f, 20.0f), 20.0f), 1e-3);

  ResetModelFlags();
  bContiSModel = true;
  MakeKernels(1.0f, 12.0f);
  for (int i = 1; i <= nDistGrid; i += 5) EXPECT_NEAR(pDistS[i], CalculateM(pDistGrid[i]), 1e-3 * pDistS[i]);
  EXPECT_LT(WorstDeviation([&](int i) { return buoyancy * pDistS[i]; }), 2e-4);

  ResetModelFlags();
  bConstantDModel = true;
  MakeKernels(2000.0f, 80000.0f);
  EXPECT_LT(WorstDeviation([&](int i) { return static_cast<double>(pDistS[i]); }), 2e-4);
}

}  // namespace
}  // namespace tarmic
