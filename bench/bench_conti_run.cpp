// One whole c(s) Run, as the Run command starts it, on synthetic sedimentation
// velocity data: three species at 2, 6 and 11 S (loading 0.2, 0.5 and 0.3, f/f0
// 1.25), 50,000 rpm, meniscus 6.0 cm, bottom 7.2 cm, 40 scans every 300 s, Gaussian
// noise 0.005, a time-invariant and a radial-invariant offset pattern; c(s) from 0
// to 15 S with 150 grid points (the Run also with 100) at confidence 0.68 with TI
// and RI noise, maximum entropy, normal equations and Lamm equations on 2 threads
// each. The argument is the number of radii of a scan between meniscus and bottom
// (401: every 0.003 cm; 1201: every 0.001 cm); the fit range is 6.05-7.1 cm. The
// CPU time of the Run is that of the whole process.
//
// The breakdown: the kernels alone (150 Lamm equation solutions), the normal
// equations alone, and the maximum-entropy and Tikhonov-Phillips regularisations of
// the built equations. The counters of the whole Run give the weight-average s of the
// three peaks.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "distributions/conti_run.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_storage.h"
#include "distributions/install_hooks.h"
#include "distributions/maximum_entropy.h"
#include "distributions/normal_equation_threads.h"
#include "distributions/regularization.h"
#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_threads.h"
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
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"
#include "bench/cs_run_setup.h"
#include "bench/sedimentation_set.h"

namespace tarmic {
namespace {

constexpr int kScans = 40;
constexpr double kSpeciesS[3] = {2.0, 6.0, 11.0};
constexpr double kLoading[3] = {0.2, 0.5, 0.3};

// The synthetic scans with n radii, installed as the loaded data set.
void InstallData(int n) {
  bench::InstallSedimentationSet({.scans = kScans,
                                  .radii = n,
                                  .s = {kSpeciesS, kSpeciesS + 3},
                                  .loading = {kLoading, kLoading + 3},
                                  .frictionalRatio = 1.25});
}

void Prepare(int radii, int gridPoints = 150, bool maxEntropy = true) {
  ResetScanDataGlobals();
  ResetDistributionEngine();
  ResetLammSettings();
  ResetLammGlobals();
  LammGlobals().nLammThreads = 2;
  InstallDistributionHooks();
  InstallData(radii);
  bench::SetCsModel(gridPoints, 1.25, 2, maxEntropy);
}

// With the environment variable TARMIC_BENCH_DUMP set, the distribution of the last
// Run is appended to that file (one "s value" line per grid point, a blank line
// after each Run), so that the Runs of two builds can be compared.
template <typename G, typename V>
void DumpDistribution(int n, const G* grid, const V* values) {
  const char* path = std::getenv("TARMIC_BENCH_DUMP");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    for (int k = 1; k <= n; ++k) {
      std::fprintf(f, "%.9g %.9g\n", static_cast<double>(grid[k]), static_cast<double>(values[k]));
    }
    std::fprintf(f, "\n");
    std::fclose(f);
  }
}

// Arguments: radii, grid points, regularisation (1 maximum entropy, 0
// Tikhonov-Phillips).
void BM_ContiRun(benchmark::State& state) {
  const bool maxEntropy = state.range(2) != 0;
  Prepare(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), maxEntropy);
  ContiRunOutcome outcome = ContiRunOutcome::NotStarted;
  for (auto _ : state) outcome = RunContiSed(nullptr).outcome;
  const float windows[4] = {0.5f, 4.0f, 8.5f, 14.5f};
  const char* names[3] = {"s1", "s2", "s3"};
  for (int k = 0; k < 3; ++k) state.counters[names[k]] = bench::MeanS(windows[k], windows[k + 1]);
  state.counters["computed"] = outcome == ContiRunOutcome::Computed ? 1 : 0;
  DumpDistribution(DistributionVectors().nDistGrid, DistributionVectors().pDistGrid, DistributionVectors().pDistValues);
}
BENCHMARK(BM_ContiRun)
    ->Args({401, 100, 1})
    ->Args({401, 150, 1})
    ->Args({1201, 150, 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
// Large grids: the Run's time is then mostly the regularisation (maximum entropy,
// and Tikhonov-Phillips with its non-negative least squares).
BENCHMARK(BM_ContiRun)
    ->Args({401, 400, 1})
    ->Args({401, 1000, 1})
    ->Args({401, 2000, 1})
    ->Args({401, 1000, 0})
    ->Args({401, 2000, 0})
    ->Name("BM_ContiRunLargeGrid")
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1);

// c(s,ff0) on the same data: 50 s values from 1 to 15 S times 10 f/f0 values from
// 1.0 to 2.5 (500 cells, 500 Lamm equations), TI and RI noise, Tikhonov-Phillips;
// every iteration computes the kernels anew (the data count as changed).
void BM_Csff0Run(benchmark::State& state) {
  Prepare(static_cast<int>(state.range(0)));
  ResetModelFlags();
  ModelFlags().bContiModel = ModelFlags().bCsff0Model = true;
  AnalysisSwitches().pParams[kContiSlotGridMin] = 1.0f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 15.0f;
  AnalysisSwitches().pParams[kContiSlotGridCount] = 50.0f;
  AnalysisSwitches().pParams[kContiSlotShape1] = 1.0f;
  AnalysisSwitches().pParams[kContiSlotShape2] = 2.5f;
  AnalysisSwitches().pParams[kContiSlotShape3] = 10.0f;
  ContiRunOutcome outcome = ContiRunOutcome::NotStarted;
  for (auto _ : state) {
    DataSet().bDataChanged = true;
    outcome = RunContiSed(nullptr).outcome;
  }
  // Weight-average s and f/f0 of the 6 S species' region (true f/f0 1.25).
  double c = 0.0, cs = 0.0, cf = 0.0;
  for (int k = 1; k <= DistributionVectors().nFf0Grid; ++k) {
    if (DistributionVectors().pCsff0S[k] < 4.0f || DistributionVectors().pCsff0S[k] > 8.5f) continue;
    c += DistributionVectors().pCsff0Values[k];
    cs += DistributionVectors().pCsff0Values[k] * DistributionVectors().pCsff0S[k];
    cf += DistributionVectors().pCsff0Values[k] * DistributionVectors().pCsff0Ff0[k];
  }
  state.counters["s2"] = c > 0.0 ? cs / c : 0.0;
  state.counters["ff0_2"] = c > 0.0 ? cf / c : 0.0;
  state.counters["computed"] = outcome == ContiRunOutcome::Computed ? 1 : 0;
  DumpDistribution(DistributionVectors().nFf0Grid, DistributionVectors().pCsff0S, DistributionVectors().pCsff0Values);
}
BENCHMARK(BM_Csff0Run)->Arg(401)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_Kernels(benchmark::State& state) {
  Prepare(static_cast<int>(state.range(0)));
  KernelPointList list = bench::SetUpCsGrid();
  for (auto _ : state)
    RunSVContiSedList(nullptr, DistributionVectors().nDistGrid, list.s.data(), list.D.data(), list.vbar.data());
}
BENCHMARK(BM_Kernels)->Arg(401)->Arg(1201)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NormalEquations(benchmark::State& state) {
  Prepare(static_cast<int>(state.range(0)));
  bench::PrepareCsKernels();
  for (auto _ : state) BuildNormalEquationsThreaded(NoiseModel::TIRI, 2);
}
BENCHMARK(BM_NormalEquations)->Arg(401)->Arg(1201)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MaxEntRegularization(benchmark::State& state) {
  Prepare(static_cast<int>(state.range(0)));
  bench::PrepareCsKernels();
  BuildNormalEquationsThreaded(NoiseModel::TIRI, 2);
  for (auto _ : state) MaxEntRegularize(true);
}
BENCHMARK(BM_MaxEntRegularization)->Arg(401)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SecondDerivativeRegularization(benchmark::State& state) {
  Prepare(static_cast<int>(state.range(0)));
  bench::PrepareCsKernels();
  BuildNormalEquationsThreaded(NoiseModel::TIRI, 2);
  for (auto _ : state) Regularize();
}
BENCHMARK(BM_SecondDerivativeRegularization)->Arg(401)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
