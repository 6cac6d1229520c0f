// The grid at a fit's end serves the noise of the data: data made by the
// independent finite-volume solution (tests/support) plus white noise, fitted with
// the program's own solutions; the standard errors come from the derivatives of the
// model at the truth, computed here.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_end_check.h"
#include "modelcalc/fit_flags.h"
#include "modelcalc/fit_grid_check.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_options.h"
#include "platform/headless/headless_backend.h"
#include "platform/types.h"
#include "tests/modelcalc/modelcalc_test_support.h"
#include "tests/support/production_sources.h"
#include "tests/support/reference_fit_run.h"

namespace tarmic {
namespace {

using test::Idx;

// One species loaded uniformly, its scans and their reference solution.
struct ReferenceRun {
  double s, D, loading;
  int scans, radii;
  double interval;
  float rpm;
};

// The scans of run (signal 0), fitting limits 6.04-7.16 cm.
void InstallScans(const ReferenceRun& run) {
  test::ResetModelCalcState();
  test::InstallVelocityScans(run.scans, run.radii, run.interval, run.rpm);
  DataSet().fFitLeftLim = 6.04f;
  DataSet().fFitRightLim = 7.16f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
}

// The reference solution of run at its scans, [scan][radius], on 8,000 cells with
// steps of at most 2 s (within 5e-6 OD rms of steps of 1 s; 4,000 cells are 3e-5 to
// 5e-5 OD off).
std::vector<std::vector<double>> ReferenceScans(const ReferenceRun& run) {
  InstallScans(run);
  return testing::ReferenceScansOfLoadedSet({.s_svedberg = run.s, .d_cm2_per_s = run.D, .rpm = run.rpm,
                                             .loading = run.loading, .cells = 8000, .max_time_step_s = 2.0});
}

// The scans of run hold truth plus white noise (seed).
void InstallData(const ReferenceRun& run, const std::vector<std::vector<double>>& truth, double noise,
                 unsigned seed) {
  InstallScans(run);
  testing::SetLoadedSetToTruthAndNoise(truth, noise, seed);
}

// The truth at the fit points, in their order.
std::vector<double> TruthAtFitPoints(const std::vector<std::vector<double>>& truth) {
  std::vector<double> values;
  ForEachFitPoint([&](int s, int i) { values.push_back(truth[Idx(s - 1)][Idx(i - 1)]); });
  return values;
}

// Species 1 of the discrete model at s (S), D (cm^2/s) and loading, not fitted.
void SetSpecies(double s, double D, double loading) {
  test::SetOneSpecies(s, D * 1e7, 0, 6.0, false);
  ModelParams().bLinearAmplitudes = false;
  ModelParams().pSpeciesAmplitude[1] = static_cast<float>(loading);
  PackModelParams();
}

// The standard errors of s and D (S, cm^2/s) of a fit of s, D and the loading at
// noise, from the derivatives of the model at the truth.
std::pair<double, double> StandardErrors(const ReferenceRun& run, double noise) {
  const std::vector<double> se = testing::JacobianStandardErrors(
      [](const std::vector<double>& x) { SetSpecies(x[0], x[1], x[2]); }, {run.s, run.D, run.loading},
      {1e-3 * run.s, 1e-3 * run.D, 1e-3 * run.loading}, noise);
  EXPECT_EQ(se.size(), 3u);
  return se.size() == 3 ? std::pair{se[0], se[1]} : std::pair{0.0, 0.0};
}

class FitGridCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetModelCalcState();
    backend->AnswerUnscriptedBoxes(IDOK);
  }
  void TearDown() override { test::ResetModelCalcState(); }
  ScopedHeadlessBackend backend;
};

// A 4.3 S species at 0.6 OD, 50,000 rpm, 20 scans 200 s apart on 300 radii (5,700
// fit points), 0.0005 OD. On the grid the settings lay the model's error (some 1e-4
// OD rms, a fifth of the noise) lies along the boundary's shift and spread: without
// the check the fit ends s +7.5 SE and D +5.9 SE off. With it the fit goes on to four
// times the nodes and ends within 3 SE (bench_grid_check sweeps noise 0.002-0.01 OD on
// 40 scans over five seeds).
TEST_F(FitGridCheck, IdealFitsEndWithinThreeStandardErrorsOnTheGridTheNoiseAsksFor) {
  const ReferenceRun run{4.3, 6.0e-7, 0.6, 20, 300, 200.0, 50000.0f};
  const auto truth = ReferenceScans(run);
  struct Case {
    double noise;
    int leastRefinement;
  };
  for (const Case c : {Case{0.0005, 4}}) {
    InstallData(run, truth, c.noise, 1);
    const auto [seS, seD] = StandardErrors(run, c.noise);
    test::SetOneSpecies(run.s * 1.02, run.D * 1e7 * 0.98, 1, 6.0, false);
    FitReport report;
    ASSERT_EQ(FitDriver(nullptr, FitMethod::Marquardt, report), FitOutcome::Completed);
    const double sOff = (ModelParams().pSpeciesS[1] - run.s) / seS;
    const double dOff = (ModelParams().pSpeciesMassOrD[1] * 1e-7 - run.D) / seD;
    std::printf("noise %.4f OD: s %+.2f SE, D %+.2f SE, grid x%d, flag %d, %d evaluations\n", c.noise, sOff, dOff,
                GridRefinement(), report.gridRefined, FitState().nFitSim);
    EXPECT_TRUE(FitConverged(FitOutcome::Completed, report)) << report.message.text;
    EXPECT_EQ(GridRefinement(), c.leastRefinement) << c.noise;
    EXPECT_LT(std::fabs(sOff), 3.0) << c.noise;
    EXPECT_LT(std::fabs(dOff), 3.0) << c.noise;
  }
}

// The check against the grid's true error (its model at the truth against the
// reference solution), over noise from 0.0005 to 0.032 OD, on the
// grids of the settings and of twice their nodes: it fires whenever the true error
// is more than twice its limit (power) and never when it is below half of it (false
// alarms); between, either. 8 S, 4e-7 cm^2/s, 60,000 rpm, 20 scans 300 s apart on
// 250 radii.
TEST_F(FitGridCheck, TheCheckFiresAboveItsLimitAndNotFarBelow) {
  const ReferenceRun run{8.0, 4.0e-7, 0.8, 20, 250, 300.0, 60000.0f};
  const auto truth = ReferenceScans(run);
  int above = 0, fired = 0, below = 0, falseAlarms = 0, between = 0;
  for (int factor : {1, 2}) {
    for (double noise : {0.0005, 0.002, 0.008, 0.032}) {
      for (unsigned seed : {1u}) {
        InstallData(run, truth, noise, seed);
        SetSpecies(run.s, run.D, run.loading);
        SetGridRefinement(factor);
        const GridError e = MeasureGridError([] { return CalculateModel(nullptr).ok(); }, false);
        ASSERT_TRUE(e.measured);
        EXPECT_EQ(e.factor, factor);
        EXPECT_EQ(GridRefinement(), factor) << "the measure leaves the refinement as it was";
        ASSERT_TRUE(CalculateModel(nullptr).ok());
        const double trueError = RmsDifference(ModelAtFitPoints(), TruthAtFitPoints(truth));
        EXPECT_NEAR(e.noise, noise, 0.05 * noise);
        if (trueError > 2.0 * e.Limit()) {
          ++above;
          fired += e.TooCoarse() ? 1 : 0;
        } else if (trueError < 0.5 * e.Limit()) {
          ++below;
          falseAlarms += e.TooCoarse() ? 1 : 0;
        } else {
          ++between;
        }
      }
    }
  }
  std::printf("fired %d of %d above twice the limit, %d of %d below half of it, %d between\n", fired, above,
              falseAlarms, below, between);
  EXPECT_EQ(fired, above);
  EXPECT_EQ(falseAlarms, 0);
  EXPECT_GE(above, 2);
  EXPECT_GE(below, 2);
}

// Data ten times finer than the finest grid the fit may go on to: after its rounds
// the fit ends flagged "grid", on the grid it was fitted on last, not converged.
TEST_F(FitGridCheck, AFitWhoseRoundsAreSpentEndsFlagged) {
  const ReferenceRun run{6.0, 5.0e-7, 1.0, 6, 120, 400.0, 50000.0f};
  const auto truth = ReferenceScans(run);
  InstallData(run, truth, 1e-5, 3);
  test::SetOneSpecies(run.s * 1.01, run.D * 1e7 * 0.99, 1, 6.0, false);
  FitReport report;
  ASSERT_EQ(FitDriver(nullptr, FitMethod::Marquardt, report), FitOutcome::Completed);
  EXPECT_EQ(report.gridRefined, 1 << kGridCheckRounds);
  EXPECT_EQ(GridRefinement(), report.gridRefined) << "the fit ends on the grid it was fitted on";
  EXPECT_FALSE(FitConverged(FitOutcome::Completed, report));
  const std::string flags = FlagsText(FitFlags(FitOutcome::Completed, report));
  EXPECT_NE(flags.find("grid"), std::string::npos) << flags;
  EXPECT_NE(report.message.text.find("(grid)"), std::string::npos) << report.message.text;
}

// The end checks save computations by leaving on show the model of the grid in force
// (Marquardt-Levenberg) or handing their model at the end to the step from it
// (simplex): whichever way the grid went (it held, the fit went on finer, its rounds
// were spent), the model a fit ends with is that of its end values on the grid it
// ends on. A finer or a coarser solution left on show differs by the grid's error,
// some 1e-4 OD here; a computation of the same values differs by rounding alone.
TEST_F(FitGridCheck, AFitEndsShowingTheModelOfItsValuesOnItsGrid) {
  const ReferenceRun run{6.0, 5.0e-7, 1.0, 6, 120, 400.0, 50000.0f};
  const auto truth = ReferenceScans(run);
  for (const FitMethod method : {FitMethod::Marquardt, FitMethod::Simplex}) {
    for (const double noise : {0.01, 0.0003, 1e-5}) {
      InstallData(run, truth, noise, 5);
      test::SetOneSpecies(run.s * 1.01, run.D * 1e7 * 0.99, 1, 6.0, false);
      FitReport report;
      ASSERT_EQ(FitDriver(nullptr, method, report), FitOutcome::Completed);
      const int factor = GridRefinement();
      const std::vector<double> shown = ModelAtFitPoints();
      ASSERT_TRUE(CalculateModel(nullptr).ok());
      const std::vector<double> fresh = ModelAtFitPoints();
      ASSERT_EQ(shown.size(), fresh.size());
      double largest = 0.0;
      for (std::size_t k = 0; k < shown.size(); ++k) largest = std::max(largest, std::fabs(shown[k] - fresh[k]));
      std::printf("method %d noise %.5f: grid x%d, %d evaluations, shown model off by %.2g\n",
                  static_cast<int>(method), noise, factor, FitState().nFitSim, largest);
      EXPECT_LT(largest, 1e-5) << static_cast<int>(method) << " " << noise;
    }
  }
  // What the saving rests on: the objective tells the model of a point as on show only
  // while nothing else was computed since, on the same grid.
  InstallData(run, truth, 0.001, 5);
  test::SetOneSpecies(run.s, run.D * 1e7, 1, 6.0, false);
  SetGridRefinement(1);
  FitObjective objective(nullptr);
  const int n = GetFloatingExtraParams(0, nullptr);
  std::vector<float> p(Idx(n) + 1, 0.0f), q;
  GetFloatingExtraParams(n, p.data());
  q = p;
  q[1] *= 1.01f;
  EXPECT_FALSE(objective.OnShow(p.data()));
  ASSERT_LT(objective(p.data()), kNoModelRmsd);
  EXPECT_TRUE(objective.OnShow(p.data()));
  EXPECT_FALSE(objective.OnShow(q.data()));
  SetGridRefinement(2);
  EXPECT_FALSE(objective.OnShow(p.data())) << "computed on another refinement";
  SetGridRefinement(1);
  LammSettings().nLammGridPoints /= 2;
  EXPECT_FALSE(objective.OnShow(p.data())) << "computed on other nodes";
  LammSettings().nLammGridPoints *= 2;
  EXPECT_TRUE(objective.OnShow(p.data()));
  ASSERT_LT(objective(q.data()), kNoModelRmsd);
  EXPECT_FALSE(objective.OnShow(p.data())) << "another point computed since";
}

// Every route of the model computation takes the refinement: on twice and four times
// the nodes (and half and a quarter of the step control) the model of each converges,
// its change from the finest at least halved at each doubling and never zero on the
// coarsest. The solver objects (ideal species), the engine's species runs (an ideal
// species with an experimental initial distribution), the single-component runs
// (rapid monomer-dimer, the non-ideal species); 7 S, 50,000 rpm, 4 scans 300 s apart
// on 80 radii. ("c1 nonideal" chooses its own grid factor by its accuracy at every
// Run outside a fit, so its nodes do not double with the refinement; its fits are in
// nonideal_grid_accuracy_test and bench_grid_check.)
TEST_F(FitGridCheck, EveryRouteOfTheModelConvergesUnderTheRefinement) {
  struct Route {
    const char* name;
    std::function<void()> set;
  };
  const double D = 4e-7;
  const auto species = [&] {
    test::SetOneSpecies(7.0, D * 1e7, 0, 6.0, false);
    ModelParams().bLinearAmplitudes = false;
  };
  const std::vector<Route> routes = {
      {"solver objects", species},
      {"engine species run",
       [&] {
         species();
         AnalysisSwitches().bInitialDataProfile = true;
         AnalysisSwitches().bUniformLoading = false;
       }},
      {"monomer-dimer",
       [] {
         ResetModelFlags();
         ModelFlags().bMonomerDimer = true;
         for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = k == 1 ? 1 : 0;
         ModelParams().pSpeciesMassOrD[1] = 6.0f;
         ModelParams().pSpeciesS[1] = 5.0f;
         ModelParams().pSpeciesS[2] = 7.5f;
         ModelParams().pSpeciesMassOrD[3] = 0.0f;
         ModelParams().pSpeciesAmplitude[3] = 0.8f;
         PackModelParams();
       }},
      {"non-ideal species",
       [&] {
         ResetModelFlags();
         ModelFlags().bNonidealSpecies = true;
         ModelParams().pSpeciesS[1] = 7.0f;
         ModelParams().pSpeciesMassOrD[1] = static_cast<float>(D * 1e7);
         ModelParams().pSpeciesAmplitude[1] = 1.0f;
         ModelParams().pSpeciesAmplitude[2] = -0.3f;
         ModelParams().pSpeciesAmplitude[3] = -0.5f;
         ModelOptions().bRepulsiveNonideality = true;
         PackModelParams();
       }},
  };
  for (const Route& route : routes) {
    test::ResetModelCalcState();
    test::InstallVelocityScans(4, 80, 300.0, 50000.0f);
    for (int j = 1; j <= DataSet().nScans; ++j)
      for (int i = 1; i <= DataSet().pnPoints[Idx(j)]; ++i) DataSet().ppSignal[Idx(j)][i] = 1.0f;
    DataSet().dSignalPerConcentration = 1.0f;
    route.set();
    std::vector<std::vector<double>> models;
    for (int factor : {1, 2, 4}) {
      SetGridRefinement(factor);
      ASSERT_TRUE(CalculateModel(nullptr).ok()) << route.name << " x" << factor;
      models.push_back(ModelAtFitPoints());
    }
    const double coarse = RmsDifference(models[0], models[2]), finer = RmsDifference(models[1], models[2]);
    std::printf("%-20s change from four times the nodes: %.2e (settings), %.2e (twice)\n", route.name, coarse, finer);
    EXPECT_GT(coarse, 0.0) << route.name;
    EXPECT_LT(finer, 0.5 * coarse) << route.name;
  }
}

// The doors: every source that ends a fit (KeepLastFitEnd) starts it on the settings'
// grid and checks the grid at its end; every step control of a solution takes the
// refinement (no first step or max dc/c read from the settings directly), and every
// solver object its discretisation from CurrentDiscretization, which refines it.
TEST(FitGridCensus, EveryFitEndChecksItsGridAndEverySolutionTakesTheRefinement) {
  std::set<std::string> strays;
  int ends = 0, steps = 0, objects = 0;
  for (const auto& [name, code] : testing::ProductionSources()) {
    if (!name.ends_with(".cpp") || name == "modelcalc/fit_report.cpp") continue;
    if (code.find("KeepLastFitEnd(") != std::string::npos) {
      ++ends;
      if (code.find("StartFitOnSettingsGrid()") == std::string::npos || code.find("CheckGridAtEnd(") == std::string::npos)
        strays.insert(name + ": a fit's end without the grid check");
    }
    for (std::size_t at = code.find('\n'); at != std::string::npos; at = code.find('\n', at + 1)) {
      const std::size_t end = code.find('\n', at + 1);
      const std::string line = code.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
      if (line.find("dMaxRelChange =") != std::string::npos || line.find("dSimDt =") != std::string::npos) {
        if (line.find("Refined") != std::string::npos) {
          ++steps;
        } else if (line.find("dMaxDcOverC") != std::string::npos || line.find("dInitialDt") != std::string::npos) {
          ++steps;
          strays.insert(name + ": " + line);
        }
      }
      const bool analysis = name.starts_with("modelcalc/") || name.starts_with("distributions/");
      if (analysis && line.find("LoadDiscretizationParameters(") != std::string::npos) {
        ++objects;
        if (line.find("CurrentDiscretization()") == std::string::npos && line.find("discretization)") == std::string::npos)
          strays.insert(name + ": " + line);
      }
    }
  }
  EXPECT_EQ(strays, std::set<std::string>{});
  EXPECT_GE(ends, 2);   // the discrete fit and the refinement of the distributions
  EXPECT_GE(steps, 8);  // the species runs, the single and reacting runs, the special and non-ideal kernels
  EXPECT_GE(objects, 2);
  std::printf("%d fit ends, %d step controls, %d solver objects\n", ends, steps, objects);
}

}  // namespace
}  // namespace tarmic
