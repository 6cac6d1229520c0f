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
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_threads.h"
#include "services/run_switches.h"

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
  // Equidistant static grid for every species: independent of the grid shaping of
  // the default numerics, and fine enough for the pile-up at the bottom.
  LammDiscretizationSettings fine;
  fine.bAutoVariant = false;
  fine.bUseClaverie = true;
  fine.bUseMovingHat = false;
  fine.bOptimizeGrid = false;
  fine.fPointsPerSigma = 80.0f;
  fine.nMaxGrid = 20000;
  fine.dTolerance = fine.dToleranceIn = 0.1;
  refined.Solve(fine);
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
  state.counters["status"] = status;
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
