// The grid at a fit's end against the noise, on data made by the independent
// reference solution (tests/support/reference_lamm_solution.h, 8,000 cells, steps
// of at most 1 s) plus white noise, 40 scans every 300 s on 500 radii (6.02-7.18 cm,
// fit range 6.05-7.1 cm):
//  - ideal: one species 4.3 S, 6e-7 cm^2/s, 0.6 OD at 50,000 rpm, noise 0.002, 0.005
//    and 0.01 OD, five seeds each, Marquardt-Levenberg from s and D 2 % off (the
//    amplitude solved linearly); the simplex passes at 0.005 OD, three seeds;
//  - non-ideal: "c1 nonideal" (8 S, 3e-7 cm^2/s, log ks -0.3, log kd -0.5, 50,000
//    rpm) and the non-ideal single-species model (10 S, 2e-7 cm^2/s, the same ks
//    and kd, 60,000 rpm), loading 1 OD, noise 0.005 OD, three seeds, s and D fitted
//    by Marquardt-Levenberg from 2 % off.
//  - the refinement of a c(s) distribution (2-8 S on 30 points, meniscus and f/f0 by
//    Marquardt-Levenberg from 6.005 cm and 1.4) on kernels of 3 points per sigma, data
//    of 4.4 S and 4.94e-7 cm^2/s (f/f0 1.55), 8 scans 1500 s apart on 120 radii: at 0.0005 OD it goes on
//    on finer kernels, at 0.005 and 0.01 OD it ends on the settings' grid.
// Each fit is judged in standard errors of its own noise (from the derivatives of
// the model at the truth): printed per fit, and counted as within 3 SE (s and D),
// flagged "grid", or beyond. Reported per sweep: those counts, the evaluations per
// fit and the finest grid reached.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/velocity_data_set.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/install_hooks.h"
#include "modelcalc/conti_fit.h"
#include "modelcalc/conti_fit_params.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_grid_check.h"
#include "modelcalc/fit_state.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_options.h"
#include "tests/support/reference_fit_run.h"

namespace tarmic {
namespace {

struct Species {
  double s, D, loading;
  float rpm;
  bool nonideal = false, c1 = false;
  float logKs = 0.0f, logKd = 0.0f;
};

void InstallScans(const Species& sp) {
  bench::InstallVelocityScans(40, 500, 0.02);
  for (int j = 1; j <= DataSet().nScans; ++j) DataSet().pScanInfo[static_cast<std::size_t>(j)].rpm = sp.rpm;
  DataSet().dSignalPerConcentration = 1.0f;
}

// The model of sp at s and D (S, cm^2/s); fit: s and D floated.
void SetModel(const Species& sp, double s, double D, bool fit) {
  ResetModelFlags();
  ResetModelOptions();
  ModelParams().pSpeciesS[1] = static_cast<float>(s);
  ModelParams().pSpeciesMassOrD[1] = static_cast<float>(D * 1e7);
  ModelParams().pSpeciesAmplitude[1] = static_cast<float>(sp.loading);
  ModelParams().pSpeciesSFit[1] = ModelParams().pSpeciesMassOrDFit[1] = fit ? 1 : 0;
  ModelParams().pSpeciesAmplitudeFit[1] = 0;
  ModelParams().bLinearAmplitudes = !sp.nonideal;
  ModelParams().bVaryMeniscus = false;
  if (!sp.nonideal || sp.c1) {
    ModelFlags().bDiscreteModel = true;
    for (int k = 1; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = k == 1 ? 1 : 0;
  }
  if (sp.c1) {
    ModelOptions().bC1Nonideal = true;
    ModelOptions().fLogKs = sp.logKs;
    ModelOptions().fLogKd = sp.logKd;
  } else if (sp.nonideal) {
    ModelFlags().bNonidealSpecies = true;
    ModelParams().pSpeciesAmplitude[2] = sp.logKs;
    ModelParams().pSpeciesAmplitude[3] = sp.logKd;
  }
  ModelOptions().bRepulsiveNonideality = true;
  PackModelParams();
  AllocSpeciesSignalArrays();
}

struct Tally {
  int within = 0, flagged = 0, beyond = 0, fits = 0, finest = 1;
  double evaluations = 0.0;
};

void Sweep(benchmark::State& state, const Species& sp, const std::vector<double>& noises, int seeds, FitMethod method) {
  InstallScans(sp);
  const double ks = sp.nonideal ? std::pow(10.0, sp.logKs) : 0.0, kd = sp.nonideal ? std::pow(10.0, sp.logKd) : 0.0;
  const auto truth = testing::ReferenceScansOfLoadedSet({.s_svedberg = sp.s, .d_cm2_per_s = sp.D, .rpm = sp.rpm,
                                                         .loading = sp.loading, .ks = ks, .kd = kd, .cells = 8000,
                                                         .max_time_step_s = 1.0});
  Tally t;
  for (auto _ : state) {
    for (double noise : noises) {
      // The standard errors at the truth (on the grid of the settings; the
      // derivatives barely depend on it).
      SetGridRefinement(1);
      const std::vector<double> se = testing::JacobianStandardErrors(
          [&](const std::vector<double>& x) {
            SetModel(sp, x[0], x[1], false);
            if (!sp.nonideal) ModelParams().pSpeciesAmplitude[1] = static_cast<float>(x[2]);
            ModelParams().bLinearAmplitudes = false;
            PackModelParams();
          },
          sp.nonideal ? std::vector<double>{sp.s, sp.D} : std::vector<double>{sp.s, sp.D, sp.loading},
          sp.nonideal ? std::vector<double>{1e-3 * sp.s, 1e-3 * sp.D}
                      : std::vector<double>{1e-3 * sp.s, 1e-3 * sp.D, 1e-3 * sp.loading},
          noise);
      if (se.size() < 2) {
        state.SkipWithError("no standard errors");
        return;
      }
      for (int seed = 1; seed <= seeds; ++seed) {
        testing::SetLoadedSetToTruthAndNoise(truth, noise, static_cast<unsigned>(seed));
        SetModel(sp, 1.02 * sp.s, 0.98 * sp.D, true);
        FitReport report;
        if (FitDriver(nullptr, method, report) != FitOutcome::Completed) {
          state.SkipWithError("fit did not complete");
          return;
        }
        const double sOff = (ModelParams().pSpeciesS[1] - sp.s) / se[0];
        const double dOff = (ModelParams().pSpeciesMassOrD[1] * 1e-7 - sp.D) / se[1];
        const bool within = std::fabs(sOff) < 3.0 && std::fabs(dOff) < 3.0;
        std::printf("  noise %.3f seed %d: s %+6.2f SE, D %+6.2f SE, grid x%d, %s, %d evaluations\n", noise, seed, sOff,
                    dOff, GridRefinement(), report.gridRefined ? "flagged grid" : within ? "within" : "BEYOND",
                    FitState().nFitSim);
        ++t.fits;
        t.evaluations += FitState().nFitSim;
        t.finest = std::max(t.finest, GridRefinement());
        if (report.gridRefined) ++t.flagged;
        else if (within) ++t.within;
        else ++t.beyond;
      }
    }
  }
  state.counters["fits"] = t.fits;
  state.counters["within_3SE"] = t.within;
  state.counters["flagged_grid"] = t.flagged;
  state.counters["beyond"] = t.beyond;
  state.counters["evaluations_per_fit"] = t.fits ? t.evaluations / t.fits : 0.0;
  state.counters["finest_grid_factor"] = t.finest;
}

const Species kIdeal{4.3, 6.0e-7, 0.6, 50000.0f};

void BM_IdealMarquardt(benchmark::State& state) { Sweep(state, kIdeal, {0.002, 0.005, 0.01}, 5, FitMethod::Marquardt); }
BENCHMARK(BM_IdealMarquardt)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

void BM_IdealSimplex(benchmark::State& state) { Sweep(state, kIdeal, {0.005}, 3, FitMethod::Simplex); }
BENCHMARK(BM_IdealSimplex)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

void BM_C1NonidealMarquardt(benchmark::State& state) {
  Sweep(state, {8.0, 3.0e-7, 1.0, 50000.0f, true, true, -0.3f, -0.5f}, {0.005}, 3, FitMethod::Marquardt);
}
BENCHMARK(BM_C1NonidealMarquardt)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

void BM_NonidealSpeciesMarquardt(benchmark::State& state) {
  Sweep(state, {10.0, 2.0e-7, 1.0, 60000.0f, true, false, -0.3f, -0.5f}, {0.005}, 3, FitMethod::Marquardt);
}
BENCHMARK(BM_NonidealSpeciesMarquardt)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

void BM_CsMarquardt(benchmark::State& state) {
  InstallDistributionHooks();
  const Species sp{4.4, 4.94e-7, 1.0, 50000.0f};
  for (auto _ : state) {
    for (double noise : {0.0005, 0.005, 0.01}) {
      bench::InstallVelocityScans(8, 120, 0.02);
      for (int j = 1; j <= DataSet().nScans; ++j) DataSet().pScanInfo[static_cast<std::size_t>(j)].time = 1500.0 * j;
      const auto truth = testing::ReferenceScansOfLoadedSet({.s_svedberg = sp.s, .d_cm2_per_s = sp.D, .rpm = sp.rpm,
                                                             .loading = sp.loading, .cells = 8000,
                                                             .max_time_step_s = 2.0});
      testing::SetLoadedSetToTruthAndNoise(truth, noise, 4);
      ResetDistributionEngine();
      LammSettings().fPointsPerSigma = 3.0f;
      DataSet().fMinMeniscus = 5.97f;
      DataSet().fMaxMeniscus = 6.03f;
      ResetModelFlags();
      ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
      for (int i = 1; i <= nModelParams; ++i) AnalysisSwitches().pParamFitFlags[i] = 0;
      AnalysisSwitches().pParams[kContiSlotGridMin] = 2.0f;
      AnalysisSwitches().pParams[kContiSlotGridMax] = 8.0f;
      AnalysisSwitches().pParams[kContiSlotGridCount] = 30.0f;
      AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
      AnalysisSwitches().pParams[kContiSlotVbar] = 0.73f;
      AnalysisSwitches().pParams[kContiSlotDensity] = 0.99823f;
      AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f;
      AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 1.4f;
      AnalysisSwitches().pParams[13] = 6.005f;
      AnalysisSwitches().pParams[14] = 7.2f;
      AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = AnalysisSwitches().pParamFitFlags[13] = 1;
      AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
      UnpackModelParams();
      FitReport report;
      if (ContiFit(nullptr, FitMethod::Marquardt, report) != FitOutcome::Completed) {
        state.SkipWithError("refinement did not complete");
        return;
      }
      std::printf("  c(s) at %.4f OD: grid x%d, %s, %d evaluations, meniscus %.4f cm, f/f0 %.3f\n", noise,
                  GridRefinement(), report.gridRefined ? "flagged grid" : "not flagged", FitState().nFitSim,
                  DataSet().fMeniscus, SolventConstants().fFrictionalRatio);
      state.counters[noise < 0.001 ? "grid_factor_at_0.0005" : noise < 0.007 ? "grid_factor_at_0.005" : "grid_factor_at_0.01"] =
          GridRefinement();
    }
  }
}
BENCHMARK(BM_CsMarquardt)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
