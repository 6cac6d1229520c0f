// The Lamm equation kernels of a typical c(s) distribution: 100 sedimentation
// coefficients from 0.5 to 15 S at f/f0 1.2, 50,000 rpm, meniscus 6.0 cm, bottom
// 7.2 cm, 40 scans every 300 s, the default grid and numerics; solved as one list on
// 1 and 2 worker threads with the fitting range 6.05-7.1 cm and 6.05-7.15 cm (the
// second argument, the right limit in micrometres), one single solution and one
// floating species.
//
// The counters "maxdev" and "maxdev_bottom" are the largest deviations, in units of
// the loading concentration, of the kernels inside the fitting limits (everywhere,
// and from 7.0 cm on) from a solution on an equidistant static grid with 16 times
// the points per sigma and a tenth of the step tolerance (computed once per fitting
// range, not timed).
//
// "bits" (BM_CsKernelSet) is a hash of every kernel value's bits: equal between two
// builds when the solutions are the same to the bit.
//
// BM_SolveOverheads solves the same 100 kernels one at a time (one solver object
// each, as a single solution) and gives their CPU time per node and step (final grid
// size times steps taken), whole solves with every overhead (set-up, grids, work
// arrays, step control, output); beside it the floor of the kernel loops: one kept-
// factor Crank-Nicolson step (product, substitutions and the step's measure) per
// node step on a grid of the kernels' mean size, and their ratio. The solver steps
// only its active window, often shorter than the grid, so the ratio is a lower bound
// of what the overheads cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_threads.h"
#include "lamm/static_grid_core.h"
#include "lamm/tridiagonal.h"
#include "services/run_switches.h"
#include "tests/support/refined_lamm_numerics.h"

namespace tarmic {
namespace {

constexpr int kKernels = 100;
constexpr int kScans = 40;
constexpr double kMeniscus = 6.0, kBottom = 7.2;
constexpr float kLeftLimit = 6.05f;  // left fitting limit, cm
constexpr float kBottomRegion = 7.0f;  // "near the bottom" from here, cm

// D of a species of sedimentation coefficient s (S) with frictional ratio ff0 in
// water at 20 C, vbar 0.73 ml/g: D = sqrt(2)/(18 pi) k T s^-1/2 (eta ff0)^-3/2
// ((1 - vbar rho)/vbar)^1/2, cgs units.
double DiffusionFromS(double s, double ff0) {
  const double kT = 1.380649e-16 * 293.15, eta = 0.01002, vbar = 0.73, rho = 0.99823;
  return std::sqrt(2.0) / (18 * M_PI) * kT * std::pow(s * 1e-13, -0.5) *
         std::pow(eta * ff0, -1.5) * std::sqrt((1 - vbar * rho) / vbar);
}

struct CsKernels {
  float rightLimit = 7.1f;  // cm
  std::vector<LammScanRecord> scans;
  std::vector<float> radii;
  int nRadii = 0;
  std::vector<double> s, D;
  std::vector<std::vector<float>> block;  // [equation] scans x radii
  std::vector<std::vector<float*>> rows;
  std::vector<float**> out;

  explicit CsKernels(float right) : rightLimit(right) {
    scans.assign(kScans + 1, LammScanRecord{});
    for (int k = 1; k <= kScans; ++k) {
      scans[k].time = scans[k].timeUncorrected = 300.0 * k;
      scans[k].rpm = 50000.0f;
      scans[k].temperature = 20.0f;
    }
    // Data radii every 0.003 cm between the fitting limits.
    nRadii = static_cast<int>((rightLimit - kLeftLimit) / 0.003) + 1;
    radii.assign(nRadii + 1, 0.0f);
    for (int j = 1; j <= nRadii; ++j) radii[j] = kLeftLimit + 0.003f * (j - 1);
    s.assign(kKernels + 1, 0.0);
    D.assign(kKernels + 1, 0.0);
    for (int i = 1; i <= kKernels; ++i) {
      s[i] = 0.5 + (15.0 - 0.5) * (i - 1) / (kKernels - 1);
      D[i] = DiffusionFromS(s[i], 1.2);
    }
    block.assign(kKernels + 1, std::vector<float>((kScans + 1) * (nRadii + 1), 0.0f));
    rows.assign(kKernels + 1, std::vector<float*>(kScans + 1, nullptr));
    out.assign(kKernels + 1, nullptr);
    for (int i = 1; i <= kKernels; ++i) {
      for (int k = 1; k <= kScans; ++k) rows[i][k] = block[i].data() + k * (nRadii + 1);
      out[i] = rows[i].data();
    }
  }

  std::unique_ptr<CLammIdeal> Template(const LammDiscretizationSettings& settings) {
    auto t = std::make_unique<CLammIdeal>();
    t->SetIdealModel();
    t->LoadSedimentationParameters(s[kKernels], D[kKernels], kMeniscus, kBottom, 1.0, kLeftLimit,
                                   rightLimit);
    t->SkipAccelerationCheck();
    t->LoadOutputParameters({.pScans = scans.data(),
                             .ppOut = out[1],
                             .pOutRadii = radii.data(),
                             .nOutRadii = nRadii,
                             .nScanCount = kScans});
    t->LoadDiscretizationParameters(settings);
    t->SetSolventConditions(20.0, 0.73, 0.99823, 1.0);
    return t;
  }

  int Solve(const LammDiscretizationSettings& settings) {
    bUserAbort = false;
    auto t = Template(settings);
    return CLRunMTList(t.get(), kKernels, s.data(), D.data(), nullptr, out.data(), radii.data(),
                       nRadii, nullptr, nullptr);
  }
};

struct Deviation {
  double all = 0.0, bottom = 0.0;
};

Deviation MaxDeviationFromRefined(float rightLimit) {
  LammGlobals().nLammThreads = 8;
  CsKernels normal(rightLimit), refined(rightLimit);
  normal.Solve(LammDiscretizationSettings{});
  refined.Solve(test::RefinedLammNumerics());
  Deviation dev;
  for (int i = 1; i <= kKernels; ++i) {
    for (int k = 1; k <= kScans; ++k) {
      for (int j = 1; j <= normal.nRadii; ++j) {
        const double d = std::fabs(normal.rows[i][k][j] - refined.rows[i][k][j]);
        dev.all = std::max(dev.all, d);
        if (normal.radii[j] >= kBottomRegion) dev.bottom = std::max(dev.bottom, d);
      }
    }
  }
  return dev;
}

// args: threads, right fitting limit in micrometres
void BM_CsKernels(benchmark::State& state) {
  ResetLammGlobals();
  const float rightLimit = static_cast<float>(state.range(1)) * 1e-4f;
  static std::map<int64_t, Deviation> deviations;
  if (!deviations.count(state.range(1))) deviations[state.range(1)] = MaxDeviationFromRefined(rightLimit);
  const Deviation deviation = deviations[state.range(1)];
  LammGlobals().nLammThreads = static_cast<int>(state.range(0));
  CsKernels kernels(rightLimit);
  int status = 0;
  for (auto _ : state) status |= kernels.Solve(LammDiscretizationSettings{});
  state.counters["maxdev"] = deviation.all;
  state.counters["maxdev_bottom"] = deviation.bottom;
  state.counters["status"] = status;
}
BENCHMARK(BM_CsKernels)
    ->Args({1, 71000})
    ->Args({2, 71000})
    ->Args({1, 71500})
    ->Args({2, 71500})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same kernel set without the comparison against the refined solution (which
// takes far longer than the set itself): for instruction counts under a profiler.
// Argument: threads.
void BM_CsKernelSet(benchmark::State& state) {
  ResetLammGlobals();
  LammGlobals().nLammThreads = static_cast<int>(state.range(0));
  CsKernels kernels(7.1f);
  int status = 0;
  for (auto _ : state) status |= kernels.Solve(LammDiscretizationSettings{});
  // FNV-1a over the bits of every kernel value.
  std::uint32_t hash = 2166136261u;
  for (int i = 1; i <= kKernels; ++i) {
    for (float v : kernels.block[i]) {
      std::uint32_t bits;
      std::memcpy(&bits, &v, sizeof bits);
      hash = (hash ^ bits) * 16777619u;
    }
  }
  state.counters["status"] = status;
  state.counters["bits"] = static_cast<double>(hash);
}
BENCHMARK(BM_CsKernelSet)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// One solution of s and D into the first kernel's rows; its status.
int SolveOne(CsKernels& kernels, double s, double D) {
  auto t = kernels.Template(LammDiscretizationSettings{});
  t->SetSpeciesAndOutput(s, D, kernels.out[1], kernels.radii.data(), kernels.nRadii, nullptr,
                         nullptr);
  return t->Solve();
}

void BM_SingleSolution(benchmark::State& state) {
  ResetLammGlobals();
  CsKernels kernels(7.1f);
  int status = 0;
  for (auto _ : state) status |= SolveOne(kernels, 5.0, DiffusionFromS(5.0, 1.2));
  state.counters["status"] = status;
}
BENCHMARK(BM_SingleSolution)->Unit(benchmark::kMillisecond);

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// CPU seconds of `steps` kept-factor steps on a diffusing profile of n nodes: the
// product and substitutions of TridagProductReuseSolve and the step's measure, the
// work of the solver's kernel loops per accepted step.
double KeptFactorStepSeconds(int n, long long steps) {
  std::vector<double> sub(n + 2, -0.25), diag(n + 2, 1.5), sup(n + 2, -0.25);
  std::vector<double> esub(n + 2, 0.25), ediag(n + 2, 0.5), esup(n + 2, 0.25);
  std::vector<double> gam(n + 2), bet(n + 2), rhs(n + 2), u(n + 2), v(n + 2);
  for (int i = 1; i <= n; ++i) v[i] = 1.0 / (1.0 + std::exp((i - 0.4 * n) / (0.05 * n)));
  for (int i = 1; i <= n; ++i) rhs[i] = v[i];
  TridagFactorSolve({sub.data(), diag.data(), sup.data()}, rhs.data(), u.data(), n,
                    {gam.data(), bet.data()}, 1);
  double sink = 0.0;
  const double start = ThreadSeconds();
  for (long long k = 0; k < steps; ++k) {
    TridagProductReuseSolve({esub.data(), ediag.data(), esup.data()}, v.data(), sub.data(),
                            rhs.data(), u.data(), n, {gam.data(), bet.data()}, 1);
    const StaticGridStepMeasure m =
        MeasureStaticGridStep(u.data(), v.data(), 1, n, 1.0, 1e-4, 1e-3, false);
    sink += m.change;
    u.swap(v);
  }
  const double seconds = ThreadSeconds() - start;
  benchmark::DoNotOptimize(sink);
  return seconds;
}

void BM_SolveOverheads(benchmark::State& state) {
  ResetLammGlobals();
  CsKernels kernels(7.1f);
  double nodeSteps = 0.0, nodes = 0.0, steps = 0.0, seconds = 0.0, factorizations = 0.0,
         trials = 0.0, rows = 0.0;
  int status = 0;
  for (auto _ : state) {
    nodeSteps = nodes = steps = factorizations = trials = rows = 0.0;
    const double start = ThreadSeconds();
    for (int i = 1; i <= kKernels; ++i) {
      auto t = kernels.Template(LammDiscretizationSettings{});
      t->SetSpeciesAndOutput(kernels.s[i], kernels.D[i], kernels.out[i], kernels.radii.data(),
                             kernels.nRadii, nullptr, nullptr);
      status |= t->Solve();
      nodeSteps += static_cast<double>(t->nGrid) * t->nIteration;
      nodes += t->nGrid;
      steps += t->nIteration;
      factorizations += static_cast<double>(t->nStepFactorizations);
      trials += static_cast<double>(t->nTrialSteps);
      rows += static_cast<double>(t->nTrialRows);
    }
    seconds = ThreadSeconds() - start;
  }
  const int meanNodes = static_cast<int>(nodes / kKernels + 0.5);
  const long long floorSteps = static_cast<long long>(nodeSteps / meanNodes);
  double floor = 1e300;
  for (int k = 0; k < 3; ++k) floor = std::min(floor, KeptFactorStepSeconds(meanNodes, floorSteps));
  const double ns = 1e9 * seconds / nodeSteps;
  const double floorNs = 1e9 * floor / (static_cast<double>(floorSteps) * meanNodes);
  state.counters["ns_per_node_step"] = ns;
  state.counters["floor_ns_per_node_step"] = floorNs;
  state.counters["ratio_to_floor"] = ns / floorNs;
  state.counters["steps_per_kernel"] = steps / kKernels;
  state.counters["nodes_per_kernel"] = nodes / kKernels;
  state.counters["factorizations_per_kernel"] = factorizations / kKernels;
  state.counters["trial_steps_per_kernel"] = trials / kKernels;
  state.counters["ns_per_row_solved"] = 1e9 * seconds / rows;
  state.counters["status"] = status;
}
BENCHMARK(BM_SolveOverheads)->Unit(benchmark::kMillisecond);

// A floating species (-12 S, 1.5e-7 cm^2/s) on the same scans: its boundary leaves
// the bottom and its pile-up at the meniscus outgrows the plateau. "scans" counts
// the scans that hold a profile different from the scan before.
void BM_FloatingSolution(benchmark::State& state) {
  ResetLammGlobals();
  CsKernels kernels(7.1f);
  int status = 0;
  for (auto _ : state) status |= SolveOne(kernels, -12.0, 1.5e-7);
  int advancing = 1;
  for (int k = 2; k <= kScans; ++k)
    advancing += !std::equal(kernels.out[1][k] + 1, kernels.out[1][k] + kernels.nRadii + 1,
                             kernels.out[1][k - 1] + 1);
  state.counters["status"] = status;
  state.counters["scans"] = advancing;
}
BENCHMARK(BM_FloatingSolution)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
