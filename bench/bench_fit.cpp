// A simplex fit (Fit with the Nelder-Mead passes) of one non-interacting species on
// sedimentation velocity data made by the model computation itself: 4.4 S, f/f0
// 1.3, loading 1.0 plus Gaussian noise 0.005, 50,000 rpm, meniscus 6.0 cm, bottom
// 7.2 cm, 40 scans every 300 s of 400 radii, fit range 6.05-7.1 cm. s, D and the
// meniscus are floated from a start 10 % off in s and D and 0.015 cm off in the
// meniscus (fit range of the meniscus 5.97-6.03 cm); the amplitude is solved
// linearly. Reported: evaluations of the model per fit and the time of one fit.
// Also a two-species fit (3 and 7 S), s and D of both floated, and the refinement of
// a c(s) model (0.5-12 S, 100 grid points, no systematic noise; the argument is the
// number of threads for the Lamm equations and the normal equations, 2 by default) on the one-species data with the
// meniscus (from 5.99 cm) and f/f0 (from 1.5) floated. The CPU time of the c(s)
// fit is that of the whole process (all threads); with the environment variable
// TARMIC_BENCH_DUMP set, its distribution is appended to that file (one "s value"
// line per grid point, a blank line after each fit), so that two builds can be
// compared.
#include <benchmark/benchmark.h>

#include "bench/velocity_data_set.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "distributions/conti_run.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_grid.h"
#include "distributions/install_hooks.h"
#include "lamm/lamm_globals.h"
#include "modelcalc/conti_fit.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/model_computation.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "numerics/random.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {
namespace {

constexpr int kScans = 40;
constexpr int kRadii = 400;
constexpr double kMeniscus = 6.0, kS = 4.4;

float InstallData() {
  bench::InstallVelocityScans(kScans, kRadii, 0.02);
  DataSet().fMinMeniscus = 5.97f;
  DataSet().fMaxMeniscus = 6.03f;

  // D of 4.4 S at f/f0 1.3 (1e-7 cm^2/s).
  const double M = MassFromSedcoeff(kS, 0.73, 0.73 * 0.99823, 1.002e-3, 1.3);
  const auto D = static_cast<float>(kGasConstant * 293.15 * kS * 1e-13 / (M * (1.0 - 0.73 * 0.99823)) * 1e7);
  bench::SetFittedSpecies(static_cast<float>(kS), D, static_cast<float>(kMeniscus), false);
  CalculateModel(nullptr);
  bench::DataFromFitWithNoise(0.005, 3);
  return D;
}

void BM_SimplexFitOneSpecies(benchmark::State& state) {
  FitReport report;
  const float D = InstallData();
  double evaluations = 0.0, sError = 0.0, dError = 0.0, mError = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    SeedRandomGenerators(5);
    bench::SetFittedSpecies(static_cast<float>(1.1 * kS), 0.9f * D, 6.015f, true);
    state.ResumeTiming();
    if (FitDriver(nullptr, FitMethod::Simplex, report) != FitOutcome::Completed)
      state.SkipWithError("fit did not complete");
    evaluations += FitState().nFitSim;
    sError = ModelParams().pSpeciesS[1] / kS - 1.0;
    dError = ModelParams().pSpeciesMassOrD[1] / D - 1.0;
    mError = DataSet().fMeniscus - kMeniscus;
  }
  state.counters["evaluations"] = benchmark::Counter(evaluations, benchmark::Counter::kAvgIterations);
  state.counters["s_rel_error"] = sError;
  state.counters["D_rel_error"] = dError;
  state.counters["meniscus_error_cm"] = mError;
}
BENCHMARK(BM_SimplexFitOneSpecies)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

// Two species, 3 and 7 S at f/f0 1.3 with loadings 0.6 and 0.4, the same cell and
// scans: s and D of both floated from 10 % off, the amplitudes solved linearly.
void BM_SimplexFitTwoSpecies(benchmark::State& state) {
  FitReport report;
  InstallData();
  LammGlobals().nLammThreads = 2;
  bench::SetTwoSpecies(1.0f, false);
  CalculateModel(nullptr);
  bench::DataFromFitWithNoise(0.005, 4);
  double evaluations = 0.0, s1 = 0.0, s2 = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    SeedRandomGenerators(5);
    bench::SetTwoSpecies(1.1f, true);
    state.ResumeTiming();
    if (FitDriver(nullptr, FitMethod::Simplex, report) != FitOutcome::Completed)
      state.SkipWithError("fit did not complete");
    evaluations += FitState().nFitSim;
    s1 = ModelParams().pSpeciesS[1];
    s2 = ModelParams().pSpeciesS[2];
  }
  state.counters["evaluations"] = benchmark::Counter(evaluations, benchmark::Counter::kAvgIterations);
  state.counters["s1"] = s1;
  state.counters["s2"] = s2;
}
BENCHMARK(BM_SimplexFitTwoSpecies)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

void SetCs(float meniscus, float ff0) {
  ResetModelFlags();
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  for (int i = 1; i <= nModelParams; ++i) AnalysisSwitches().pParamFitFlags[i] = 0;
  AnalysisSwitches().pParams[kContiSlotGridMin] = 0.5f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 12.0f;
  AnalysisSwitches().pParams[kContiSlotGridCount] = 100.0f;
  AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
  AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
  AnalysisSwitches().pParams[kContiSlotDensity] = 0.99823f;
  AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f;
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = ff0;
  AnalysisSwitches().pParams[13] = meniscus;
  AnalysisSwitches().pParams[14] = 7.2f;
  AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = AnalysisSwitches().pParamFitFlags[13] = 1;
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
  UnpackModelParams();
}

void BM_ContiFitMeniscusAndFf0(benchmark::State& state) {
  ResetDistributionEngine();
  InstallDistributionHooks();
  const int threads = static_cast<int>(state.range(0));
  GetDistributionHooks().runSettings = [threads] {
    ContiRunSettings settings;
    settings.threads = threads;
    return settings;
  };
  InstallData();
  LammGlobals().nLammThreads = threads;
  double evaluations = 0.0, mError = 0.0, ff0 = 0.0;
  FitReport report;
  for (auto _ : state) {
    state.PauseTiming();
    SeedRandomGenerators(5);
    SetCs(5.99f, 1.5f);
    state.ResumeTiming();
    if (ContiFit(nullptr, FitMethod::Simplex, report) != FitOutcome::Completed)
      state.SkipWithError("fit did not complete");
    evaluations += FitState().nFitSim;
    mError = DataSet().fMeniscus - kMeniscus;
    ff0 = SolventConstants().fFrictionalRatio;
  }
  if (const char* path = std::getenv("TARMIC_BENCH_DUMP")) {
    if (FILE* f = std::fopen(path, "a")) {
      for (int k = 1; k <= DistributionVectors().nDistGrid; ++k)
        std::fprintf(f, "%.9g %.9g\n", static_cast<double>(DistributionVectors().pDistGrid[k]), static_cast<double>(DistributionVectors().pDistValues[k]));
      std::fprintf(f, "\n");
      std::fclose(f);
    }
  }
  state.counters["evaluations"] = benchmark::Counter(evaluations, benchmark::Counter::kAvgIterations);
  state.counters["meniscus_error_cm"] = mError;
  state.counters["ff0"] = ff0;
}
BENCHMARK(BM_ContiFitMeniscusAndFf0)
    ->Arg(2)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kSecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1);

// The Fit of the window measurement (bench/run_window_bench.sh) without a window:
// the CPU of the whole process for one Marquardt-Levenberg fit.
void BM_OneSpeciesMarquardtFit(benchmark::State& state) {
  bench::InstallOneSpeciesFitData();
  double evaluations = 0;
  for (auto _ : state) {
    bench::StartOneSpeciesFit();
    FitReport report;
    if (FitDriver(nullptr, FitMethod::Marquardt, report) != FitOutcome::Completed)
      state.SkipWithError("fit did not complete");
    evaluations += FitState().nFitSim;
  }
  state.counters["evaluations"] = benchmark::Counter(evaluations, benchmark::Counter::kAvgIterations);
  state.counters["s"] = ModelParams().pSpeciesS[1];
}
BENCHMARK(BM_OneSpeciesMarquardtFit)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
