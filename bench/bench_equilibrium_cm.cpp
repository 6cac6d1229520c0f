// One whole c(M) Run, as the Run command starts it, on synthetic
// sedimentation-equilibrium data: two species of 25 and 75 kDa (loading 0.35 and
// 0.25, vbar 0.73, density 1.0, 20 C) in a 6.90-7.20 cm column, one scan at each of
// 8,000, 14,000, 20,000 and 30,000 rpm on radii 6.92-7.18 cm, baseline 0.04,
// Gaussian noise 0.003; c(M) from 5 to 250 kDa at confidence 0.68 with the baseline
// fitted, maximum entropy, normal equations on 2 threads. The kernels are the
// closed-form equilibrium profiles of the grid masses (no Lamm solution).
//
// Arguments: radii per scan (131: every 0.002 cm; 521: every 0.0005 cm; all scans
// on the same radii, which are then the common grid) and grid points. The counters
// give the weight-average M of the two peaks. BM_EqKernels times the kernels alone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "distributions/conti_grid_setup.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "distributions/install_hooks.h"
#include "modelcalc/equilibrium_signal.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/one_based.h"
#include "numerics/random.h"
#include "numerics/solvent_constants.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"

namespace tarmic {
namespace {

constexpr double kMass[2] = {25000.0, 75000.0};
constexpr double kLoading[2] = {0.35, 0.25};
constexpr float kRpm[4] = {8000.0f, 14000.0f, 20000.0f, 30000.0f};
constexpr double kTop = 6.90, kBottom = 7.20;

// The Boltzmann exponential of one species holding its loading over the column.
double Signal(double M, double load, double rpm, double r) {
  const double w = rpm * M_PI / 30.0;
  const double a = M * (1.0 - 0.73) * w * w / (2.0 * 8.314462618e7 * 293.15);
  const double rm2 = kTop * kTop, rb2 = kBottom * kBottom;
  return load * a * (rb2 - rm2) / std::expm1(a * (rb2 - rm2)) * std::exp(a * (r * r - rm2));
}

void Prepare(int n, int gridPoints) {
  ResetScanDataGlobals();
  ResetDistributionEngine();
  ResetLammSettings();
  InstallDistributionHooks();
  InstallEquilibriumKernelHook();
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings s;
    s.threads = 2;
    return s;
  };
  SeedRandomGenerators(11u);
  AllocScanTables(4);
  for (int j = 1; j <= 4; ++j) {
    float* r = tarmic::vector(1, n);
    float* y = tarmic::vector(1, n);
    for (int p = 1; p <= n; ++p) {
      r[p] = static_cast<float>(6.92 + 0.26 * (p - 1) / (n - 1));
      double v = 0.04 + GaussianRandomDouble(0.003);
      for (int k = 0; k < 2; ++k) v += Signal(kMass[k], kLoading[k], kRpm[j - 1], r[p]);
      y[p] = static_cast<float>(v);
    }
    ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(j)];
    info.time = info.recordedTime = info.timeAtLoad = 86400.0 * j;
    info.rpm = kRpm[j - 1];
    info.temperature = 20.0f;
    InstallScanArrays(j, n, r, y, nullptr, false);
  }
  DataSet().bEquilibriumMode = true;
  // All scans share their radii (as interference data), so the kernels are on them.
  ScanFile().bAbsorbanceData = false;
  DataSet().fMeniscus = static_cast<float>(kTop);
  DataSet().fBottom = static_cast<float>(kBottom);
  DataSet().fTemperatureK = 293.15f;
  BuildCommonRadialGrid();
  DataSet().fFitLeftLim = 6.92f;
  DataSet().fFitRightLim = 7.18f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();

  ResetModelFlags();
  ModelFlags().bContiModel = true;
  AnalysisSwitches().pParams[kContiSlotGridMin] = 5000.0f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 250000.0f;
  AnalysisSwitches().pParams[kContiSlotGridCount] = static_cast<float>(gridPoints);
  AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
  AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
  AnalysisSwitches().pParams[kContiSlotDensity] = 1.0f;
  AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f;
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 1.25f;
  AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
  AnalysisSwitches().pParams[14] = DataSet().fBottom;
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
  ModelParams().bVaryBaseline = true;
}

void BM_EquilibriumCMRun(benchmark::State& state) {
  Prepare(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  ContiRunOutcome outcome = ContiRunOutcome::NotStarted;
  for (auto _ : state) outcome = RunContiSed(nullptr).outcome;
  const float limits[3] = {5000.0f, 43000.0f, 250000.0f};
  const char* names[2] = {"M1", "M2"};
  for (int k = 0; k < 2; ++k) {
    float area = 0, mean = 0, total = 0;
    IntegrateDistribution(limits[k], limits[k + 1], &area, &mean, &total, nullptr, nullptr,
                          nullptr);
    state.counters[names[k]] = mean;
  }
  state.counters["computed"] = outcome == ContiRunOutcome::Computed ? 1 : 0;
  state.counters["radii"] = CurrentGrid().nGridPoints;
}
BENCHMARK(BM_EquilibriumCMRun)
    ->Args({131, 80})
    ->Args({131, 150})
    ->Args({521, 150})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_EqKernels(benchmark::State& state) {
  Prepare(static_cast<int>(state.range(0)), 150);
  UnpackModelParams();
  SetupContiGrid(AnswerPolicy{});
  KernelPointList list;
  list.Resize(DistributionVectors().nDistGrid);
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) SetupKernelPoint(i, 20.0f, 0.0, list);
  for (auto _ : state) ComputeKernels(nullptr, DistributionVectors().nDistGrid, list);
}
BENCHMARK(BM_EqKernels)->Arg(131)->Arg(521)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
