// The analytic boundary against a fine finite-element solution, its limits, the
// back-diffusion test and the messages of failed solutions.
#include "modelcalc/analytic_boundary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelcalc/simulation_messages.h"
#include "modelfit/lamm_settings.h"
#include "services/run_switches.h"
#include "platform/headless/headless_backend.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"
#include "tests/lamm/lamm_test_support.h"

namespace tarmic {
namespace {

TEST(AnalyticBoundary, ErfcApproxFollowsTheErrorFunction) {
  for (float x = -4.0f; x <= 4.0f; x += 0.125f)
    EXPECT_NEAR(ErfcApprox(x), std::erfc(x), 2e-6 * std::erfc(std::fabs(x)) + 2e-7) << x;
  EXPECT_FLOAT_EQ(ErfcApprox(-1.5f), 2.0f - ErfcApprox(1.5f));
}

// A large species (s = 10 S, D = 3e-7 cm^2/s) at 50000 rpm: the closed form follows
// the finite-element solution on a fine static grid within a few percent of the
// loading across the boundary and the plateau.
TEST(AnalyticBoundary, FaxenBoundaryMatchesAFineLammSolution) {
  ResetLammGlobals();
  ResetRunSwitches();
  ScanFile().bAbsorbanceData = false;
  test::Experiment e;
  e.scans = 4;
  e.firstTime = 600.0;
  e.interval = 600.0;
  e.radii = 300;
  e.Build();
  const double s = 10.0, D = 3e-7;
  auto o = test::MakeSolver(e, s, D, test::ClosedCellSettings(1500, false));
  ASSERT_EQ(o->Solve(), 0);
  std::vector<float> faxen(e.radii + 1);
  for (int k = 1; k <= e.scans; ++k) {
    ErfcBoundaryProfile(1.0f, e.Time(k), e.outRadii.data(), faxen.data(), e.radii,
                        static_cast<float>(e.Sw2(s)), static_cast<float>(D),
                        static_cast<float>(e.meniscus), DataSet().fBottom);
    double worst = 0.0;
    for (int j = 1; j <= e.radii; ++j) {
      if (e.outRadii[j] < e.meniscus + 0.05 || e.outRadii[j] > e.rightLimit) continue;
      worst = std::max(worst, std::fabs(static_cast<double>(faxen[j]) - e.rows[k][j]));
    }
    EXPECT_LT(worst, 0.02) << "scan " << k;
  }
}

// Where the expression has no value: the loading at t = 0, the uniform profile
// without sedimentation, the sharp step without diffusion; the plateau dilutes as
// exp(-2 s w^2 t).
TEST(AnalyticBoundary, LimitsOfTheBoundaryAreTheLoadingTheUniformProfileAndTheStep) {
  ScanFile().bAbsorbanceData = false;
  const float m = 6.0f, sw2 = 2e-5f, c0 = 2.0f;
  std::vector<float> r{0.0f, 5.9f, 6.0f, 6.1f, 6.3f, 7.0f}, out(r.size());
  const int n = static_cast<int>(r.size()) - 1;
  ErfcBoundaryProfile(c0, 0.0, r.data(), out.data(), n, sw2, 1e-7f, m, DataSet().fBottom);
  EXPECT_EQ(out[1], 0.0f);
  EXPECT_EQ(out[2], 1.0f);
  for (int i = 3; i <= n; ++i) EXPECT_EQ(out[i], c0);
  ErfcBoundaryProfile(c0, 3000.0, r.data(), out.data(), n, 0.0f, 1e-7f, m, DataSet().fBottom);
  for (int i = 2; i <= n; ++i) EXPECT_EQ(out[i], c0);
  // Step at m e^(sw2 t) = 6.185 cm.
  const double t = 1500.0, plateau = c0 * std::exp(-2.0 * sw2 * t);
  ErfcBoundaryProfile(c0, t, r.data(), out.data(), n, sw2, 0.0f, m, DataSet().fBottom);
  EXPECT_EQ(out[2], 0.0f);
  EXPECT_EQ(out[3], 0.0f);
  EXPECT_NEAR(out[4], plateau, 1e-5);
  EXPECT_NEAR(out[5], plateau, 1e-5);
  // With diffusion the plateau is the same and the boundary is centred on the step.
  ErfcBoundaryProfile(c0, t, r.data(), out.data(), n, sw2, 1e-7f, m, DataSet().fBottom);
  EXPECT_NEAR(out[5], plateau, 1e-5);
  const std::vector<float> rb{0.0f, m * std::exp(sw2 * static_cast<float>(t))};
  ErfcBoundaryProfile(c0, t, rb.data(), out.data(), 1, sw2, 1e-7f, m, DataSet().fBottom);
  EXPECT_NEAR(out[1], 0.5 * plateau, 2e-3);
  for (float v : out) EXPECT_TRUE(std::isfinite(v));
}

// The test reads the last scan's speed and temperature; the exponentials of a steep
// species far beyond the double range give no overflow.
TEST(AnalyticBoundary, BackDiffusionTestDecidesBySteepnessWithoutOverflow) {
  AllocScanTables(1);
  DataSet().pScanInfo[1].rpm = 50000.0f;
  DataSet().pScanInfo[1].temperature = 20.0f;
  DataSet().fMeniscus = 6.0f;
  DataSet().fBottom = 7.2f;
  DataSet().fFitRightLim = 6.0f;  // sigma (b^2 - rR^2) far beyond the range of exp
  LammSettings().bShutOffBackDiffusion = true;
  LammSettings().dBackDiffusionLevel = 1e-4;
  // s = 20 S, D = 5e-7: Mb = 9.7e4 g/mol, sigma = 55 cm^-2, exponent 870.
  EXPECT_TRUE(TestShutOffBackDiffusion(20.0, 5e-7, DataSet().fMeniscus, DataSet().fBottom));
  DataSet().fFitRightLim = 7.1f;
  EXPECT_FALSE(TestShutOffBackDiffusion(0.5, 8e-7, DataSet().fMeniscus, DataSet().fBottom));  // a small molecule diffuses back
  EXPECT_TRUE(TestShutOffBackDiffusion(200.0, 5e-8, DataSet().fMeniscus, DataSet().fBottom));   // sigma > 100
  EXPECT_FALSE(TestShutOffBackDiffusion(0.0, 5e-7, DataSet().fMeniscus, DataSet().fBottom));
  EXPECT_FALSE(TestShutOffBackDiffusion(20.0, 0.0, DataSet().fMeniscus, DataSet().fBottom));
  LammSettings().bShutOffBackDiffusion = false;
  EXPECT_FALSE(TestShutOffBackDiffusion(200.0, 5e-8, DataSet().fMeniscus, DataSet().fBottom));
  LammSettings().bShutOffBackDiffusion = true;
  FreeDataSet();
}

TEST(SimulationMessages, BoxesNameTheFailureAndTheDiscretizationBoxShowsOncePerFit) {
  ScopedHeadlessBackend backend;
  SimRun().bSimFailed = SimRun().bSimDiverged = 0;
  backend->QueueMessageBox(IDOK, "ERROR in simulation");
  ShowSimulationError(nullptr, 3);
  EXPECT_EQ(SimRun().bSimFailed, 1);
  ShowSimulationError(nullptr, 0);
  ShowSimulationError(nullptr, 4);
  SimulationMessages().bFitRunning = true;
  SimulationMessages().bDiscretizationShown = false;
  backend->QueueMessageBox(IDOK, "DISCRETIZATION ERROR");
  ShowSimulationError(nullptr, 2);
  ShowSimulationError(nullptr, 2);
  EXPECT_EQ(SimRun().bSimDiverged, 1);
  backend->QueueMessageBox(IDOK, "ERROR in simulation");
  ShowSimulationOutcome(nullptr, {SimStatus::InvalidInput, "s must be finite"});
  ShowSimulationOutcome(nullptr, {SimStatus::Interrupted, "simulation interrupted"});
  EXPECT_TRUE(backend->AllAnswersUsed());
  EXPECT_EQ(backend->Transcript().size(), 3u);
  SimulationMessages().bFitRunning = SimulationMessages().bDiscretizationShown = false;
  SimRun().bSimFailed = SimRun().bSimDiverged = 0;
}

}  // namespace
}  // namespace tarmic
