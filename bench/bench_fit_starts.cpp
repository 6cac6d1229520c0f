// Simplex fits of two self-consistent data sets from eight starts each, and the
// smoothness of the objective along one parameter.
//
// Data (made by the model computation itself, Gaussian noise 0.005, 20 scans every
// 300 s of 200 radii at 50,000 rpm, cell 6.0-7.2 cm, fit range 6.05-7.1 cm):
//   - a non-ideal species: s 4.4 S, D 5.9e-7 cm^2/s, loading 1.0, log10 ks -1.0,
//     log10 kd -3 (repulsive, signal per mg/ml 1), fitted: s, D, loading, log10 ks;
//   - a rapid monomer-dimer: s1 3.0 S, s2 4.6 S, D1 6.0e-7 cm^2/s, log10 K 0.3
//     (K in 1/signal unit), loading 1.0, fitted: s1, s2, D1, log10 K, loading.
// Each start moves every fitted value by +-10 to 20 % (fixed pattern per start).
// Counters per benchmark: starts ending within 1 % of s (s1) and 10 % of log10 ks
// (log10 K) of the truth, evaluations per fit, and the Marquardt-Levenberg method on
// the same starts for comparison. The objective test evaluates the rmsd at s x
// (1 + k 2e-4), k = -20..20, everything else true, and reports the rms deviation
// from the best quadratic in units of the rmsd change over the range: a smooth
// objective gives a small number, steps of the numerical solution a large one.
#include <benchmark/benchmark.h>

#include "bench/velocity_data_set.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/model_computation.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_options.h"
#include "numerics/random.h"
#include "services/run_switches.h"

namespace tarmic {
namespace {

enum class StartSet { Nonideal, MonomerDimer };

struct Truth {
  std::vector<int> slots;
  std::vector<float> values;
  int sSlot, kSlot;
};

Truth TruthOf(StartSet d) {
  if (d == StartSet::Nonideal) return {{1, 5, 9, 10}, {5.9f, 4.4f, 1.0f, -1.0f}, 5, 10};
  return {{1, 3, 5, 6, 11}, {6.0f, 0.3f, 3.0f, 4.6f, 1.0f}, 5, 3};
}

void SetModel(StartSet d, const std::vector<float>& values, bool floated) {
  ResetModelFlags();
  for (int k = 1; k <= nModelParams; ++k) AnalysisSwitches().pParamFitFlags[k] = 0;
  if (d == StartSet::Nonideal) {
    ModelFlags().bNonidealSpecies = true;
    ModelOptions().bRepulsiveNonideality = true;
    DataSet().dSignalPerConcentration = 1.0;
    AnalysisSwitches().pParams[11] = -3.0f;  // log10 kd
  } else {
    ModelFlags().bMonomerDimer = true;
  }
  AnalysisSwitches().pParams[13] = 6.0f;
  AnalysisSwitches().pParams[14] = 7.2f;
  AnalysisSwitches().pParams[15] = 0.0f;
  const Truth t = TruthOf(d);
  for (std::size_t i = 0; i < t.slots.size(); ++i) {
    AnalysisSwitches().pParams[t.slots[i]] = values[i];
    AnalysisSwitches().pParamFitFlags[t.slots[i]] = floated ? 1 : 0;
  }
  UnpackModelParams();
}

void InstallData(StartSet d) {
  bench::InstallVelocityScans(20, 200, 0.02);
  DataSet().fMinMeniscus = 5.97f;
  DataSet().fMaxMeniscus = 6.03f;
  SetModel(d, TruthOf(d).values, false);
  CalculateModel(nullptr);
  bench::DataFromFitWithNoise(0.005, 3);
}

// Start k: value i scaled by 1 + sign x (0.10 + 0.10 x ((k + i) mod 3) / 2).
std::vector<float> StartOf(StartSet d, int k) {
  std::vector<float> v = TruthOf(d).values;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const float sign = ((k >> (i % 3)) & 1) ? 1.0f : -1.0f;
    const float size = 0.10f + 0.05f * static_cast<float>((k + static_cast<int>(i)) % 3);
    v[i] *= 1.0f + sign * size;
  }
  return v;
}

bool Within(StartSet d) {
  const Truth t = TruthOf(d);
  auto value = [&](int slot) {
    for (std::size_t i = 0; i < t.slots.size(); ++i)
      if (t.slots[i] == slot) return t.values[i];
    return 0.0f;
  };
  const float s = AnalysisSwitches().pParams[t.sSlot], K = AnalysisSwitches().pParams[t.kSlot];
  return std::fabs(s / value(t.sSlot) - 1.0f) < 0.01f &&
         std::fabs(K / value(t.kSlot) - 1.0f) < 0.10f;
}

void RunStarts(benchmark::State& state, StartSet d, FitMethod method) {
  FitReport report;
  InstallData(d);
  double within = 0, evaluations = 0, fits = 0;
  for (auto _ : state) {
    within = evaluations = fits = 0;
    for (int k = 0; k < 8; ++k) {
      SeedRandomGenerators(static_cast<std::uint32_t>(11 + k));
      SetModel(d, StartOf(d, k), true);
      FitDriver(nullptr, method, report);
      const bool ok = Within(d);
      within += ok ? 1 : 0;
      evaluations += FitState().nFitSim;
      fits += 1;
      const Truth t = TruthOf(d);
      std::printf("start %d: %s %s s %.4f K %.4f rmsd %.6f evaluations %d\n", k, ok ? "within" : "off  ",
                  report.converged ? "converged" : "not converged",
                  static_cast<double>(AnalysisSwitches().pParams[t.sSlot]), static_cast<double>(AnalysisSwitches().pParams[t.kSlot]),
                  static_cast<double>(FitRmsd()), FitState().nFitSim);
    }
  }
  state.counters["within_of_8"] = within;
  state.counters["evaluations_per_fit"] = evaluations / fits;
}

void BM_SimplexStartsNonideal(benchmark::State& state) {
  RunStarts(state, StartSet::Nonideal, FitMethod::Simplex);
}
void BM_MarquardtStartsNonideal(benchmark::State& state) {
  RunStarts(state, StartSet::Nonideal, FitMethod::Marquardt);
}
void BM_SimplexStartsMonomerDimer(benchmark::State& state) {
  RunStarts(state, StartSet::MonomerDimer, FitMethod::Simplex);
}
void BM_MarquardtStartsMonomerDimer(benchmark::State& state) {
  RunStarts(state, StartSet::MonomerDimer, FitMethod::Marquardt);
}
BENCHMARK(BM_SimplexStartsNonideal)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_MarquardtStartsNonideal)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SimplexStartsMonomerDimer)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_MarquardtStartsMonomerDimer)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// rms deviation of y[0..n) from its least-squares quadratic in x = -m..m, over the
// range of y.
double QuadraticRoughness(const std::vector<double>& y) {
  const int n = static_cast<int>(y.size()), m = n / 2;
  double s[5] = {}, t[3] = {};
  for (int i = 0; i < n; ++i) {
    const double x = i - m;
    double p = 1.0;
    for (int k = 0; k < 5; ++k, p *= x) s[k] += p;
    t[0] += y[i];
    t[1] += x * y[i];
    t[2] += x * x * y[i];
  }
  // Symmetric x: the odd moments vanish; solve for a + c x^2 and b x separately.
  const double b = t[1] / s[2];
  const double det = s[0] * s[4] - s[2] * s[2];
  const double a = (t[0] * s[4] - t[2] * s[2]) / det;
  const double c = (s[0] * t[2] - s[2] * t[0]) / det;
  double ss = 0.0, lo = y[0], hi = y[0];
  for (int i = 0; i < n; ++i) {
    const double x = i - m;
    const double r = y[i] - (a + b * x + c * x * x);
    ss += r * r;
    lo = std::min(lo, y[i]);
    hi = std::max(hi, y[i]);
  }
  return std::sqrt(ss / n) / (hi - lo);
}

void Roughness(benchmark::State& state, StartSet d) {
  InstallData(d);
  const Truth t = TruthOf(d);
  double roughness = 0.0;
  for (auto _ : state) {
    SetModel(d, t.values, false);
    AnalysisSwitches().pParamFitFlags[t.sSlot] = 1;
    std::vector<double> y;
    const float s0 = AnalysisSwitches().pParams[t.sSlot];
    for (int k = -20; k <= 20; ++k) {
      const float p[2] = {0.0f, s0 * (1.0f + 2e-4f * static_cast<float>(k))};
      y.push_back(SimplexSim(p, nullptr));
    }
    roughness = QuadraticRoughness(y);

  }
  state.counters["roughness"] = roughness;
}
void BM_ObjectiveRoughnessNonideal(benchmark::State& state) { Roughness(state, StartSet::Nonideal); }
void BM_ObjectiveRoughnessMonomerDimer(benchmark::State& state) {
  Roughness(state, StartSet::MonomerDimer);
}
BENCHMARK(BM_ObjectiveRoughnessNonideal)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_ObjectiveRoughnessMonomerDimer)->Unit(benchmark::kSecond)->Iterations(1);

// One non-interacting species (4.4 S, D 5.9e-7 cm^2/s, loading 1.0, amplitude solved
// linearly) on the same scans with a baseline of 0.001 in the data; s and D floated
// from 10 % off, the baseline solved linearly beside the amplitude. The refinement passes
// end when every value changed by at most fRefitTolerance relative to its previous
// pass; for a baseline near 0 that relative change stays large. Counters: passes
// (Nelder-Mead calls), evaluations, the final baseline.
void BM_SimplexBaselineNearZero(benchmark::State& state) {
  FitReport report;
  bench::InstallVelocityScans(20, 200, 0.02);
  auto set = [](float s, float d, float baseline, bool floated) {
    ResetModelFlags();
    ModelFlags().bDiscreteModel = true;
    AnalysisSwitches().pSpeciesLinked[1] = 1;
    for (int k = 2; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
    ModelParams().pSpeciesS[1] = s;
    ModelParams().pSpeciesMassOrD[1] = d;
    ModelParams().pSpeciesAmplitude[1] = 1.0f;
    ModelParams().pSpeciesSFit[1] = ModelParams().pSpeciesMassOrDFit[1] = floated ? 1 : 0;
    ModelParams().pSpeciesAmplitudeFit[1] = 0;
    ModelParams().fBaseline = baseline;
    AnalysisSwitches().bBaselineOption = floated ? 1 : 0;
    UpdateLinearFitFlags();  // the baseline option: solved linearly
    PackModelParams();
    AllocSpeciesSignalArrays();
    ModelParams().bLinearAmplitudes = floated;
  };
  set(4.4f, 5.9f, 0.0f, false);
  CalculateModel(nullptr);
  bench::DataFromFitWithNoise(0.005, 3);
  for (int j = 1; j <= DataSet().nScans; ++j) {
    for (int p = 1; p <= DataSet().pnPoints[static_cast<std::size_t>(j)]; ++p)
      DataSet().ppSignal[static_cast<std::size_t>(j)][p] += 0.001f;
    FillGridSignalRow(j);
  }
  double passes = 0, evaluations = 0, baseline = 0, fits = 0;
  for (auto _ : state) {
    for (int k = 0; k < 4; ++k) {
      SeedRandomGenerators(static_cast<std::uint32_t>(21 + k));
      set(4.4f * (k % 2 ? 1.1f : 0.9f), 5.9f * (k / 2 ? 1.1f : 0.9f), 0.0f, true);
      FitDriver(nullptr, FitMethod::Simplex, report);
      passes += FitState().nFitIteration;
      evaluations += FitState().nFitSim;
      baseline = AnalysisSwitches().pParams[15];
      fits += 1;
      std::printf("baseline fit %d: passes %d evaluations %d baseline %.6f s %.4f\n", k,
                  FitState().nFitIteration, FitState().nFitSim, static_cast<double>(AnalysisSwitches().pParams[15]),
                  static_cast<double>(ModelParams().pSpeciesS[1]));
    }
  }
  state.counters["passes_per_fit"] = passes / fits;
  state.counters["evaluations_per_fit"] = evaluations / fits;
  state.counters["last_baseline"] = baseline;
}
BENCHMARK(BM_SimplexBaselineNearZero)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
