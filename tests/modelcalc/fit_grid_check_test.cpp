// The grid at a fit's end serves the noise of the data: data made by the
// independent finite-volume solution (tests/support) plus white noise, fitted with
// the program's own solutions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_grid_check.h"
#include "modelcalc/fit_misfit.h"
#include "modelfit/lamm_settings.h"
#include "platform/headless/headless_backend.h"
#include "platform/types.h"
#include "tests/modelcalc/modelcalc_test_support.h"
#include "tests/support/reference_lamm_solution.h"

namespace tarmic {
namespace {

using test::Idx;

struct Truth {
  double s, D, loading;
};

// Scans every interval s at rpm on radii 6.02-7.18 cm, fitting limits 6.04-7.16 cm,
// holding the reference solution of one species plus white noise (seed).
void InstallReferenceData(const Truth& t, int scans, int radii, double interval, float rpm, double noise,
                          unsigned seed, std::size_t cells, double step) {
  test::ResetModelCalcState();
  test::InstallVelocityScans(scans, radii, interval, rpm);
  DataSet().fFitLeftLim = 6.04f;
  DataSet().fFitRightLim = 7.16f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  std::vector<double> times, r;
  for (int j = 1; j <= scans; ++j) times.push_back(DataSet().pScanInfo[Idx(j)].time);
  for (int i = 1; i <= radii; ++i) r.push_back(DataSet().ppRadius[1][i]);
  const testing::ReferenceLammProblem p{.s_svedberg = t.s, .d_cm2_per_s = t.D, .rpm = rpm, .loading = t.loading,
                                        .cells = cells, .max_time_step_s = step};
  const auto truth = testing::ReferenceLammSolution::scans(p, times, r);
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, noise);
  for (int j = 1; j <= scans; ++j) {
    for (int i = 1; i <= radii; ++i)
      DataSet().ppSignal[Idx(j)][i] = static_cast<float>(truth[Idx(j - 1)][Idx(i - 1)] + gauss(random));
    FillGridSignalRow(j);
  }
  CalculateAverageScan();
}

class FitGridCheck : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetModelCalcState(); }
  void TearDown() override { test::ResetModelCalcState(); }
  ScopedHeadlessBackend backend;
};

TEST_F(FitGridCheck, Explore) {
  backend->AnswerUnscriptedBoxes(IDOK);
  const double D = 6.0e-7;
  const Truth t{4.3, D, 0.6};
  for (double noise : {0.002, 0.005}) {
    for (unsigned seed : {1u, 2u}) {
      InstallReferenceData(t, 40, 500, 200.0, 50000.0f, noise, seed, 8000, 1.0);
      test::SetOneSpecies(4.3 * 1.02, D * 1e7 * 0.98, 1, 6.0, false);
      FitReport report;
      ASSERT_EQ(FitDriver(nullptr, FitMethod::Marquardt, report), FitOutcome::Completed);
      const ResidualNoise rn = EstimateResidualNoise();
      const double sS = report.paramErrors.size() > 5 ? report.paramErrors[5] * rn.rmsd : 0.0;
      const double sD = report.paramErrors.size() > 1 ? report.paramErrors[1] * rn.rmsd : 0.0;
      std::printf("noise %.3f seed %u: s %.5f (%+.2f SE, se %.2e) D %.5f (%+.2f SE) refinement %d grid flag %d rmsd %.5f noise %.5f evals %d\n",
                  noise, seed, ModelParams().pSpeciesS[1], (ModelParams().pSpeciesS[1] - 4.3) / sS, sS,
                  ModelParams().pSpeciesMassOrD[1], (ModelParams().pSpeciesMassOrD[1] - D * 1e7) / sD, GridRefinement(),
                  report.gridRefined, rn.rmsd, rn.noise, FitState().nFitSim);
    }
  }
}

TEST_F(FitGridCheck, ExploreErrors) {
  backend->AnswerUnscriptedBoxes(IDOK);
  const double D = 6.0e-7;
  const Truth t{4.3, D, 0.6};
  InstallReferenceData(t, 40, 500, 200.0, 50000.0f, 0.0, 1, 8000, 1.0);
  std::vector<double> data;
  ForEachFitPoint([&](int s, int i) { data.push_back(DataSet().ppSignal[Idx(s)][i]); });
  InstallReferenceData(t, 40, 500, 200.0, 50000.0f, 0.0, 1, 16000, 0.5);
  std::vector<double> data2;
  ForEachFitPoint([&](int s, int i) { data2.push_back(DataSet().ppSignal[Idx(s)][i]); });
  std::printf("reference 8000 vs 16000: %.2e\n", RmsDifference(data, data2));
  test::SetOneSpecies(4.3, D * 1e7, 0, 6.0, false);
  ModelParams().bLinearAmplitudes = false;
  ModelParams().pSpeciesAmplitude[1] = 0.6f;
  PackModelParams();
  std::vector<double> prev;
  for (int f : {1, 2, 4, 8, 16}) {
    SetGridRefinement(f);
    ASSERT_TRUE(CalculateModel(nullptr).ok());
    const auto m = ModelAtFitPoints();
    std::printf("factor %d: vs reference %.2e, vs previous %.2e\n", f, RmsDifference(m, data2), RmsDifference(m, prev));
    prev = m;
  }
}

}  // namespace
}  // namespace tarmic
