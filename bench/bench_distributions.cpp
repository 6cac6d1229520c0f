// The distribution engine on a typical c(s) problem: 150 grid points from 0 to 15 S,
// 40 scans every 300 s at 50,000 rpm of 700 radii between meniscus 6.0 cm and
// bottom 7.2 cm, three species (2, 6 and 11 S; loading 0.2, 0.5 and 0.3; f/f0 1.25),
// Gaussian noise 0.005 and a time-invariant and a radial-invariant offset pattern,
// fitted with TI and RI noise at confidence 0.68.
//
// The kernels are the approximate (Faxen-type) boundaries of the Lamm equation, made
// here so that the engine is measured without the solver: normal equations on 1 and
// 2 threads, Tikhonov-Phillips and maximum-entropy regularisation, and the whole
// solve (normal equations on 2 threads, maximum entropy, noise and fit). The
// counters give the weight-average s of the three peaks of the last solve.
//
// BM_NormalEquationSizes measures the normal equations alone on 40 scans of 400
// radii for N = 100, 200 and 500 grid points on 1, 2 and 4 threads; its counter
// "madd/s" is the rate of multiply-adds of the build, S P (N (N + 1) / 2 + N + 1)
// per build (lower triangle, right-hand side and sum of squares), per second of real
// time; the CPU time is that of the whole process (all threads), the better measure on
// a machine shared with other work.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "distributions/conti_grid_setup.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "distributions/maximum_entropy.h"
#include "distributions/noise_fit.h"
#include "distributions/normal_equation_threads.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"
#include "numerics/one_based.h"
#include "services/run_switches.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_data_reset.h"

namespace tarmic {
namespace {

constexpr int kScans = 40, kRadii = 700, kGrid = 150;
constexpr int kSizeRadii = 400;
constexpr double kMeniscus = 6.0, kBottom = 7.2, kRpm = 50000.0;

double DiffusionFromS(double s, double ff0) {
  const double kT = 1.380649e-16 * 293.15, eta = 0.01002, vbar = 0.73, rho = 0.99823;
  s = std::max(s, 0.05);
  return std::sqrt(2.0) / (18 * M_PI) * kT * std::pow(s * 1e-13, -0.5) *
         std::pow(eta * ff0, -1.5) * std::sqrt((1 - vbar * rho) / vbar);
}

// Approximate boundary of unit loading: radial dilution exp(-2 s w2 t) and a
// diffusion-broadened step at r_b = meniscus exp(s w2 t).
double Boundary(double s, double t, double r) {
  const double w = kRpm * M_PI / 30.0;
  const double sw2t = s * 1e-13 * w * w * t;
  const double D = DiffusionFromS(s, 1.25);
  const double rb = kMeniscus * std::exp(sw2t);
  return std::exp(-2.0 * sw2t) * 0.5 * std::erfc((rb - r) / (2.0 * std::sqrt(D * t)));
}

struct Problem {
  Problem(int radii, int grid) {
    ResetDistributionEngine();
    ResetScanDataGlobals();
    ResetAnalysisSwitches();
    AllocScanTables(kScans);
    for (int j = 1; j <= kScans; ++j) {
      float* r = vector(1, radii);
      float* y = vector(1, radii);
      for (int g = 1; g <= radii; ++g) {
        r[g] = static_cast<float>(kMeniscus + 0.05 + (kBottom - kMeniscus - 0.1) * (g - 1) / (radii - 1));
        y[g] = 0.0f;
      }
      DataSet().pScanInfo[static_cast<std::size_t>(j)].time = 300.0 * j;
      InstallScanArrays(j, radii, r, y, nullptr, false);
    }
    DataSet().fMeniscus = static_cast<float>(kMeniscus);
    DataSet().fBottom = static_cast<float>(kBottom);
    BuildCommonRadialGrid();
    ModelFlags().bContiSModel = true;
    DistributionGrid().fDistMin = 0.0f;
    DistributionGrid().fDistMax = 15.0f;
    DistributionGrid().fDistGridCount = static_cast<float>(grid);
    SetupContiGrid(AnswerPolicy{});
    for (int k = 1; k <= grid; ++k) {
      for (int j = 1; j <= kScans; ++j) {
        for (int g = 1; g <= radii; ++g) {
          DistributionStorage().pppKernels[k][j][g] = static_cast<float>(Boundary(DistributionVectors().pDistGrid[k], 300.0 * j, CurrentGrid().pGridRadius[g]));
        }
      }
    }
    std::mt19937 random(42);
    std::normal_distribution<double> noise(0.0, 0.005);
    const double species[3][2] = {{2.0, 0.2}, {6.0, 0.5}, {11.0, 0.3}};
    for (int j = 1; j <= kScans; ++j) {
      for (int g = 1; g <= radii; ++g) {
        double v = 0.02 * std::sin(0.05 * g) + 0.01 * ((j * 7) % 5);
        for (const auto& sp : species) v += sp[1] * Boundary(sp[0], 300.0 * j, CurrentGrid().pGridRadius[g]);
        CurrentGrid().ppGridSignal[static_cast<std::size_t>(j)][g] = static_cast<float>(v + noise(random));
      }
    }
    AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
    DistributionModels().fConfidenceLevel = 0.68f;
  }
};

// The problem of `radii` radii and `grid` grid points in the engine's globals; the
// globals are rebuilt when another size was installed last.
void InstallProblem(int radii, int grid) {
  static int installedRadii = 0, installedGrid = 0;
  if (radii == installedRadii && grid == installedGrid) return;
  Problem problem(radii, grid);
  installedRadii = radii;
  installedGrid = grid;
}

void TheProblem() { InstallProblem(kRadii, kGrid); }

void PeakCounters(benchmark::State& state) {
  for (int i = 1; i <= kGrid; ++i) DistributionVectors().pDistValues[i] = static_cast<float>(DistributionStorage().pDistSolution[i]);
  NormalizeDistributionValues(false);
  const float windows[3][2] = {{1.0f, 3.5f}, {4.0f, 8.5f}, {9.0f, 13.5f}};
  const char* names[3] = {"s1", "s2", "s3"};
  const char* areas[3] = {"c1", "c2", "c3"};
  for (int p = 0; p < 3; ++p) {
    float area = 0, mean = 0, total = 0;
    IntegrateDistribution(windows[p][0], windows[p][1], &area, &mean, &total, nullptr, nullptr, nullptr);
    state.counters[names[p]] = mean;
    state.counters[areas[p]] = area;
  }
}

void BM_NormalEquations(benchmark::State& state) {
  TheProblem();
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    BuildNormalEquationsThreaded(NoiseModel::TIRI, threads);
  }
}
BENCHMARK(BM_NormalEquations)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Arguments: grid points N, threads.
void BM_NormalEquationSizes(benchmark::State& state) {
  const int grid = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  InstallProblem(kSizeRadii, grid);
  for (auto _ : state) BuildNormalEquationsThreaded(NoiseModel::TIRI, threads);
  const double points = static_cast<double>(kScans) * (CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1);
  const double n = grid;
  state.counters["madd/s"] = benchmark::Counter(points * (n * (n + 1) / 2 + n + 1),
                                                benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_NormalEquationSizes)
    ->ArgsProduct({{100, 200, 500}, {1, 2, 4, 8}})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_TikhonovPhillips(benchmark::State& state) {
  TheProblem();
  BuildNormalEquationsThreaded(NoiseModel::TIRI, 2);
  for (auto _ : state) Regularize();
  state.counters["ratio"] = Regularization().dChiSquare / Regularization().dChiSquareMin;
  state.counters["F"] = Regularization().fTargetRatio;
  PeakCounters(state);
}
BENCHMARK(BM_TikhonovPhillips)->Unit(benchmark::kMillisecond);

void BM_MaximumEntropy(benchmark::State& state) {
  TheProblem();
  BuildNormalEquationsThreaded(NoiseModel::TIRI, 2);
  for (auto _ : state) MaxEntRegularize(true);
  state.counters["ratio"] = Regularization().dChiSquare / Regularization().dChiSquareMin;
  state.counters["F"] = Regularization().fTargetRatio;
  PeakCounters(state);
}
BENCHMARK(BM_MaximumEntropy)->Unit(benchmark::kMillisecond);

void BM_WholeSolve(benchmark::State& state) {
  TheProblem();
  for (auto _ : state) {
    BuildNormalEquationsThreaded(NoiseModel::TIRI, 2);
    MaxEntRegularize(true);
    CalculateppAFit();
  }
  PeakCounters(state);
}
BENCHMARK(BM_WholeSolve)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
