// One model computation (CalculateModel) of a three-species non-interacting model
// on sedimentation velocity data: species at 2, 6 and 11 S (D 8, 5, 3.5 x 1e-7
// cm^2/s; loading 0.2, 0.5, 0.3 of a total 1.0), 50,000 rpm, meniscus 6.0 cm, bottom
// 7.2 cm, 40 scans every 300 s of 400 radii, fit range 6.05-7.1 cm. The species are
// solved one after the other by the per-species solver objects in the calling
// thread (the Lamm thread count does not enter).
//
//   BM_ModelFitRows    fixed amplitudes: profiles added into the fit rows
//   BM_ModelLinearTIRI amplitudes, TI and RI noise solved linearly: profiles on the
//                      common grid, then the linear step
//   BM_ResidualBitmap  the residual bitmap of the computed model (residuals of
//                      every scan resampled onto its columns, then the pixels)
#include <benchmark/benchmark.h>

#include "bench/velocity_data_set.h"

#include <cmath>

#include "lamm/lamm_globals.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/model_computation.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "plot/residual_bitmap.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {
namespace {

constexpr int kScans = 40;
constexpr int kRadii = 400;

void InstallData() {
  bench::InstallVelocityScans(kScans, kRadii, 0.01);
  ModelFlags().bDiscreteModel = true;
  const float s[3] = {2.0f, 6.0f, 11.0f}, D[3] = {8.0f, 5.0f, 3.5f}, amp[3] = {1.0f, 0.5f, 0.3f};
  for (int k = 1; k <= 3; ++k) {
    AnalysisSwitches().pSpeciesLinked[k] = 1;
    ModelParams().pSpeciesS[k] = s[k - 1];
    ModelParams().pSpeciesMassOrD[k] = D[k - 1];
    ModelParams().pSpeciesAmplitude[k] = amp[k - 1];
  }
  AnalysisSwitches().pSpeciesLinked[4] = 0;
  PackModelParams();
  AllocSpeciesSignalArrays();
}

void Run(benchmark::State& state, bool linear) {
  InstallData();
  ModelParams().bLinearAmplitudes = AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = linear;
  for (auto _ : state) {
    const ModelResult result = CalculateModel(nullptr);
    if (!result.ok()) state.SkipWithError("model computation failed");
  }
}

void BM_ModelFitRows(benchmark::State& state) { Run(state, false); }
BENCHMARK(BM_ModelFitRows)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ModelLinearTIRI(benchmark::State& state) { Run(state, true); }
BENCHMARK(BM_ModelLinearTIRI)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ResidualBitmap(benchmark::State& state) {
  InstallData();
  if (!CalculateModel(nullptr).ok()) state.SkipWithError("model computation failed");
  for (auto _ : state) {
    const Image image = BuildResidualsBitmap();
    if (image.IsNull()) state.SkipWithError("no bitmap");
    benchmark::DoNotOptimize(image);
  }
}
BENCHMARK(BM_ResidualBitmap)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
