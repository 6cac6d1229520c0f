// A laboratory's large data set, "set D": 250 interference scans of 1,501 points
// every 60 s at 50,000 rpm (bench/sedimentation_set.h), four species of 2.5, 4.5,
// 7 and 11 S (loading 0.3, 0.3, 0.2, 0.2 fringes) at f/f0 1.3, time- and
// radial-invariant noise and Gaussian noise 0.005; c(s) from 0 to 15 S at
// resolution 200, f/f0 1.3, confidence 0.68, TI and RI noise, maximum entropy.
// The set is made by the program's own solver at the start of each benchmark (not
// stored); TARMIC_SET_SCANS and TARMIC_SET_RADII make a smaller one.
//
//   BM_SetDRun/T       one Run on T threads (kernels and normal equations); CPU time
//                      is the process's. Counters: the weight-average s of the four
//                      peaks.
//   BM_SetDFit/T       a Fit of meniscus and f/f0 with the default method (simplex),
//                      started 0.05 mm inside the meniscus and at f/f0 1.2. Counters:
//                      the evaluations of the c(s), meniscus and f/f0.
//   BM_SetDFitScans/S  the same Fit on one thread over the same kind of data with S
//                      scans (25 to 250), and where its end lies: the objective is
//                      evaluated on a grid of 7 x 7 points (TARMIC_END_GRID points a
//                      side) two standard errors either side of the end, a quadratic is
//                      fitted to those values, and the end's offset from that surface's
//                      minimum is given in its standard errors (from its curvature, the
//                      values in chi-square units of the grid's lowest rmsd). Counters:
//                      off_ff0_se, off_meniscus_se, se_ff0, se_meniscus, grid_rms
//                      (chi-square units about the surface) and cpu_fit_s (the Fit
//                      alone; the benchmark's own time includes the grid).
//   BM_SetDRoughness/S the same Fit and grid, then the refinement's objective on 41
//                      points (TARMIC_LINE_POINTS) over +-2 standard errors through the
//                      end, in f/f0 and then in the meniscus. Counters: ff0_rms3,
//                      men_rms3 (chi-square units about a cubic through each line),
//                      ff0_rms2, men_rms2 (about a quadratic), ff0_cpu_ms, men_cpu_ms
//                      (CPU per evaluation).
//   BM_SetDNormalEquations  the normal-equation build of the Run's kernels on 1 and
//                      8 threads against a floor probe in the same process: a plain
//                      register-blocked product of the same shape (the lower triangle
//                      of sum over scans of X X^T, X the N + 1 rows of one scan's
//                      fit-range points). Counters (best of the iterations):
//                      build1_over_floor (CPU times on one thread), wall8_over_wall1,
//                      cpu8_over_cpu1; and floor_cpu8_over_cpu1, the CPU of the probe
//                      run on 8 threads at once (its own scans on each) over one: what
//                      the machine's cores give up when all of them work.
//   BM_SetDKernels     the Run's 200 Lamm kernels solved one at a time on one thread,
//                      in CPU ns per node and time step (final grid size times steps
//                      taken), against the floor: four Crank-Nicolson systems of the
//                      kernels' mean size interleaved (each step forms and factorises
//                      its matrices and solves, divisions in vector lanes): counter
//                      ratio_to_floor; and against the same with the factors kept
//                      (product and substitutions only): ratio_to_kept_factors.
//                      node_steps and floor_node_steps divide a profile's instruction
//                      counts of SolveKernelsOneByOne and CrankNicolsonFloorSeconds<true>
//                      (bench/kernel_instructions.sh).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "bench/cs_run_setup.h"
#include "bench/sedimentation_set.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "distributions/install_hooks.h"
#include "distributions/normal_equation_threads.h"
#include "modelcalc/conti_fit.h"
#include "modelcalc/conti_fit_params.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "platform/headless/headless_backend.h"
#include "scandata/scan_data_reset.h"

namespace tarmic {
namespace {

int EnvOr(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

// Set D, or the same kind of data with `scans` scans (0: TARMIC_SET_SCANS or 250).
void InstallSetD(int scans) {
  bench::InstallSedimentationSet({.scans = scans > 0 ? scans : EnvOr("TARMIC_SET_SCANS", 250),
                                  .radii = EnvOr("TARMIC_SET_RADII", 1501),
                                  .interval = 60.0,
                                  .s = {2.5, 4.5, 7.0, 11.0},
                                  .loading = {0.3, 0.3, 0.2, 0.2},
                                  .frictionalRatio = 1.3});
}

// The data set and the c(s) model of the Run on `threads` threads.
void Prepare(int threads, int scans = 0) {
  ResetScanDataGlobals();
  ResetDistributionEngine();
  ResetLammSettings();
  ResetLammGlobals();
  ResetContiFitParams();
  InstallDistributionHooks();
  InstallSetD(scans);
  LammGlobals().nLammThreads = threads;
  bench::SetCsModel(200, 1.3, threads, true);
}

void PeakCounters(benchmark::State& state) {
  const float windows[5] = {1.0f, 3.5f, 5.7f, 9.0f, 14.0f};
  const char* names[4] = {"s1", "s2", "s3", "s4"};
  for (int k = 0; k < 4; ++k) state.counters[names[k]] = bench::MeanS(windows[k], windows[k + 1]);
}

void BM_SetDRun(benchmark::State& state) {
  ScopedHeadlessBackend backend;
  Prepare(static_cast<int>(state.range(0)));
  ContiRunOutcome outcome = ContiRunOutcome::NotStarted;
  for (auto _ : state) outcome = RunContiSed(nullptr).outcome;
  PeakCounters(state);
  state.counters["computed"] = outcome == ContiRunOutcome::Computed ? 1 : 0;
}
BENCHMARK(BM_SetDRun)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

double ProcessCpuSeconds();

// The quadratic z ~ a + b.u + u'Hu/2 through values z at points u (n entries each),
// by least squares: its minimum and the standard errors from its curvature (z in
// chi-square units: the covariance is 2 H^-1). ok false when H is not positive.
struct Bowl {
  bool ok = false;
  std::vector<double> minimum, se;
  double rms = 0.0;
};

// Solves a x = b (n x n, row-major) by elimination with partial pivoting.
bool SolveDense(std::vector<double> a, std::vector<double> b, int n, std::vector<double>& x) {
  for (int c = 0; c < n; ++c) {
    int pivot = c;
    for (int r = c + 1; r < n; ++r)
      if (std::abs(a[r * n + c]) > std::abs(a[pivot * n + c])) pivot = r;
    if (!(std::abs(a[pivot * n + c]) > 0.0)) return false;
    for (int k = 0; k < n; ++k) std::swap(a[c * n + k], a[pivot * n + k]);
    std::swap(b[c], b[pivot]);
    for (int r = c + 1; r < n; ++r) {
      const double f = a[r * n + c] / a[c * n + c];
      for (int k = c; k < n; ++k) a[r * n + k] -= f * a[c * n + k];
      b[r] -= f * b[c];
    }
  }
  x.assign(n, 0.0);
  for (int r = n - 1; r >= 0; --r) {
    double v = b[r];
    for (int k = r + 1; k < n; ++k) v -= a[r * n + k] * x[k];
    x[r] = v / a[r * n + r];
  }
  return true;
}

Bowl FitBowl(const std::vector<std::vector<double>>& u, const std::vector<double>& z, int n) {
  const int q = (n + 1) * (n + 2) / 2;
  auto row = [&](const std::vector<double>& x) {
    std::vector<double> r{1.0};
    for (int i = 0; i < n; ++i) r.push_back(x[i]);
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j) r.push_back(i == j ? 0.5 * x[i] * x[i] : x[i] * x[j]);
    return r;
  };
  std::vector<double> ata(q * q, 0.0), atz(q, 0.0), beta;
  for (std::size_t k = 0; k < z.size(); ++k) {
    const std::vector<double> r = row(u[k]);
    for (int i = 0; i < q; ++i) {
      atz[i] += r[i] * z[k];
      for (int j = 0; j < q; ++j) ata[i * q + j] += r[i] * r[j];
    }
  }
  Bowl bowl;
  if (!SolveDense(ata, atz, q, beta)) return bowl;
  std::vector<double> h(n * n, 0.0), g(n, 0.0);
  int c = 1 + n;
  for (int i = 0; i < n; ++i) {
    g[i] = beta[1 + i];
    for (int j = i; j < n; ++j) h[i * n + j] = h[j * n + i] = beta[c++];
  }
  std::vector<double> minus(n);
  for (int i = 0; i < n; ++i) minus[i] = -g[i];
  if (!SolveDense(h, minus, n, bowl.minimum)) return bowl;
  bowl.se.assign(n, 0.0);
  bowl.ok = true;
  for (int i = 0; i < n; ++i) {
    std::vector<double> e(n, 0.0), col;
    e[i] = 1.0;
    SolveDense(h, e, n, col);
    if (!(col[i] > 0.0)) bowl.ok = false;
    bowl.se[i] = std::sqrt(2.0 * std::max(col[i], 0.0));
  }
  double ss = 0.0;
  for (std::size_t k = 0; k < z.size(); ++k) {
    const std::vector<double> r = row(u[k]);
    double v = 0.0;
    for (int i = 0; i < q; ++i) v += r[i] * beta[i];
    ss += (z[k] - v) * (z[k] - v);
  }
  bowl.rms = std::sqrt(ss / std::max<double>(1.0, static_cast<double>(z.size()) - q));
  return bowl;
}

// Where the Fit's end e (one-based: f/f0, then the meniscus and the bottom as they
// are floated) lies against the minimum of the quadratic through a fine grid of the
// same objective round it. The grid's spacing comes from each entry's curvature,
// measured by a star of points whose steps are widened or narrowed until they rise
// 1-20 chi-square units.
void EndAgainstGrid(benchmark::State& state, const std::vector<float>& e, const std::vector<const char*>& names) {
  const int n = static_cast<int>(e.size()) - 1;
  const double points = static_cast<double>(CountFitPoints());
  // The objective of the refinement: the unregularised inner run.
  DistributionModels().bFinalFitEvaluation = false;
  std::vector<float> p = e;
  auto rmsd = [&](const std::vector<double>& d) {
    for (int i = 0; i < n; ++i) p[static_cast<std::size_t>(i + 1)] = static_cast<float>(e[static_cast<std::size_t>(i + 1)] + d[static_cast<std::size_t>(i)]);
    return static_cast<double>(ContiSimplexSim(p.data(), nullptr));
  };
  const double y0 = rmsd(std::vector<double>(static_cast<std::size_t>(n), 0.0));
  std::vector<double> step(static_cast<std::size_t>(n)), se(static_cast<std::size_t>(n), 0.0);
  for (int i = 0; i < n; ++i) step[static_cast<std::size_t>(i)] = std::string(names[static_cast<std::size_t>(i)]) == "ff0" ? 0.01 : 2e-4;
  int evaluations = 1;
  for (int i = 0; i < n; ++i) {
    auto& h = step[static_cast<std::size_t>(i)];
    for (int round = 0; round < 6; ++round) {
      std::vector<double> d(static_cast<std::size_t>(n), 0.0);
      d[static_cast<std::size_t>(i)] = h;
      const double up = rmsd(d);
      d[static_cast<std::size_t>(i)] = -h;
      const double down = rmsd(d);
      evaluations += 2;
      const double rise = points * (up * up + down * down - 2.0 * y0 * y0) / (2.0 * y0 * y0);
      se[static_cast<std::size_t>(i)] = rise > 0.0 ? h / std::sqrt(rise) : h;
      if (rise >= 1.0 && rise <= 20.0) break;
      h = rise > 0.0 ? h * std::sqrt(4.0 / rise) : 4.0 * h;
    }
  }
  const int side = EnvOr("TARMIC_END_GRID", n >= 3 ? 5 : 7);
  int cells = 1;
  for (int i = 0; i < n; ++i) cells *= side;
  // The grid spans +-2 standard errors of each axis's own curvature at the end. Where
  // the objective is lopsided or rough there, that curvature can be several times off
  // the bowl's, and a grid that rises by hundreds of units is no quadratic: the grid is
  // laid again with the standard errors its bowl found (twice at most).
  Bowl bowl;
  for (int grid = 0; grid < 3; ++grid) {
    std::vector<std::vector<double>> u;
    std::vector<double> y;
    for (int c = 0; c < cells; ++c) {
      std::vector<double> ui(static_cast<std::size_t>(n)), d(static_cast<std::size_t>(n));
      for (int i = 0, rest = c; i < n; ++i, rest /= side) {
        ui[static_cast<std::size_t>(i)] = -2.0 + 4.0 * (rest % side) / (side - 1);
        d[static_cast<std::size_t>(i)] = ui[static_cast<std::size_t>(i)] * se[static_cast<std::size_t>(i)];
      }
      y.push_back(rmsd(d));
      u.push_back(ui);
      ++evaluations;
    }
    const double lowest = *std::min_element(y.begin(), y.end());
    std::vector<double> z;
    for (double v : y) z.push_back(points * (v * v / (lowest * lowest) - 1.0));
    bowl = FitBowl(u, z, n);
    if (!bowl.ok) break;
    bool fits = true;
    for (int i = 0; i < n; ++i) fits = fits && bowl.se[static_cast<std::size_t>(i)] > 0.67 && bowl.se[static_cast<std::size_t>(i)] < 1.5;
    if (fits || grid == 2) break;
    // The offsets are kept in the new grid's units.
    for (int i = 0; i < n; ++i) se[static_cast<std::size_t>(i)] *= bowl.se[static_cast<std::size_t>(i)];
  }
  state.counters["grid_evaluations"] = evaluations;
  state.counters["grid_ok"] = bowl.ok ? 1 : 0;
  if (!bowl.ok) return;
  // The end lies at u = 0: its offset from the minimum in the surface's standard errors.
  for (int i = 0; i < n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    state.counters[std::string("off_") + names[k] + "_se"] = -bowl.minimum[k] / bowl.se[k];
    state.counters[std::string("se_") + names[k]] = bowl.se[k] * se[k];
  }
  state.counters["grid_rms"] = bowl.rms;
}

// The Fit of meniscus and f/f0 from 0.05 mm inside the meniscus and f/f0 1.2 (values
// 2; 1: the meniscus alone; 3: the bottom as well, from 0.05 mm inside it); with
// measureEnd, where its end lies against a fine grid round it.
std::vector<float> FitSetD(benchmark::State& state, bool measureEnd = false, int values = 2) {
  FitOutcome outcome = FitOutcome::Failed;
  for (auto _ : state) {
    state.PauseTiming();
    AnalysisSwitches().pParams[13] = 5.995f;
    AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = values >= 2 ? 1.2f : 1.3f;
    AnalysisSwitches().pParamFitFlags[13] = 1;
    AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = values >= 2 ? 1 : 0;
    if (values >= 3) {
      AnalysisSwitches().pParams[14] = DataSet().fBottom - 0.005f;
      AnalysisSwitches().pParamFitFlags[14] = 1;
      DataSet().fMinBottom = DataSet().fBottom - 0.1f;
      DataSet().fMaxBottom = DataSet().fBottom + 0.1f;
    }
    DataSet().fMinMeniscus = 5.97f;
    DataSet().fMaxMeniscus = 6.03f;
    UnpackModelParams();
    state.ResumeTiming();
    FitReport report;
    const double cpu = ProcessCpuSeconds();
    outcome = ContiFit(nullptr, FitMethod::Simplex, report);
    state.counters["cpu_fit_s"] = ProcessCpuSeconds() - cpu;
  }
  const int evaluations = FitState().nFitSim;
  state.counters["meniscus"] = DataSet().fMeniscus;
  state.counters["ff0"] = AnalysisSwitches().pParams[kContiSlotFrictionalRatio];
  if (values >= 3) state.counters["bottom"] = DataSet().fBottom;
  state.counters["completed"] = outcome == FitOutcome::Completed ? 1 : 0;
  state.counters["evaluations"] = evaluations;
  state.counters["search_evaluations"] = ContiSearchEvaluations();
  PeakCounters(state);
  const int n = GetContiParams(0, nullptr);
  std::vector<float> end(static_cast<std::size_t>(n) + 1, 0.0f);
  GetContiParams(n, end.data());
  const std::vector<const char*> names = values == 1 ? std::vector<const char*>{"meniscus"}
                                         : values == 2 ? std::vector<const char*>{"ff0", "meniscus"}
                                                       : std::vector<const char*>{"ff0", "meniscus", "bottom"};
  if (measureEnd && outcome == FitOutcome::Completed) EndAgainstGrid(state, end, names);
  return end;
}

void BM_SetDFit(benchmark::State& state) {
  ScopedHeadlessBackend backend;
  Prepare(static_cast<int>(state.range(0)));
  FitSetD(state);
}
BENCHMARK(BM_SetDFit)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

// The same Fit on one thread over data of the same kind with 25 to 250 scans.
void BM_SetDFitScans(benchmark::State& state) {
  ScopedHeadlessBackend backend;
  Prepare(1, static_cast<int>(state.range(0)));
  FitSetD(state, true);
}
BENCHMARK(BM_SetDFitScans)->Arg(25)->Arg(50)->Arg(100)->Arg(200)->Arg(250)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

// The same Fit of the meniscus alone, and of the meniscus, the bottom and f/f0.
void BM_SetDFitValues(benchmark::State& state) {
  ScopedHeadlessBackend backend;
  Prepare(1, static_cast<int>(state.range(1)));
  FitSetD(state, true, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_SetDFitValues)->ArgsProduct({{1, 3}, {25, 50, 100, 200, 250}})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

// The roughness of the refinement's objective: after the Fit, 41 points
// (TARMIC_LINE_POINTS) over +-2 standard errors through its end, first in f/f0, then
// in the meniscus; the rms of the chi-square values about a cubic and a quadratic
// through them, and the CPU per evaluation. TARMIC_LINE_DUMP writes the values.
double PolyResidualRms(const std::vector<double>& u, const std::vector<double>& z, int degree) {
  const int q = degree + 1;
  std::vector<double> ata(q * q, 0.0), atz(q, 0.0), beta;
  for (std::size_t k = 0; k < z.size(); ++k)
    for (int i = 0; i < q; ++i) {
      atz[i] += std::pow(u[k], i) * z[k];
      for (int j = 0; j < q; ++j) ata[i * q + j] += std::pow(u[k], i + j);
    }
  if (!SolveDense(ata, atz, q, beta)) return 0.0;
  double ss = 0.0;
  for (std::size_t k = 0; k < z.size(); ++k) {
    double v = 0.0;
    for (int i = 0; i < q; ++i) v += beta[i] * std::pow(u[k], i);
    ss += (z[k] - v) * (z[k] - v);
  }
  return std::sqrt(ss / std::max<double>(1.0, static_cast<double>(z.size()) - q));
}

void BM_SetDRoughness(benchmark::State& state) {
  ScopedHeadlessBackend backend;
  Prepare(1, static_cast<int>(state.range(0)));
  // The Fit's end (the grid round it leaves other values in the model).
  const std::vector<float> e = FitSetD(state, true);
  if (state.counters["grid_ok"] == 0) return;
  const double se[2] = {state.counters["se_ff0"], state.counters["se_meniscus"]};
  const double points = static_cast<double>(CountFitPoints());
  DistributionModels().bFinalFitEvaluation = false;
  auto rmsd = [&](int entry, double d) {
    std::vector<float> p = e;
    p[entry + 1] = static_cast<float>(e[entry + 1] + d);
    return static_cast<double>(ContiSimplexSim(p.data(), nullptr));
  };
  const int n = std::max(5, EnvOr("TARMIC_LINE_POINTS", 41));
  const double centre = rmsd(0, 0.0);
  for (int entry = 0; entry < 2; ++entry) {
    std::vector<double> u, z;
    const double cpu = ProcessCpuSeconds();
    for (int k = 0; k < n; ++k) {
      u.push_back(-2.0 + 4.0 * k / (n - 1));
      const double v = rmsd(entry, u.back() * se[entry]);
      z.push_back(points * (v * v / (centre * centre) - 1.0));
    }
    const std::string name = entry == 0 ? "ff0" : "men";
    state.counters[name + "_rms3"] = PolyResidualRms(u, z, 3);
    state.counters[name + "_rms2"] = PolyResidualRms(u, z, 2);
    state.counters[name + "_cpu_ms"] = 1e3 * (ProcessCpuSeconds() - cpu) / n;
    if (std::getenv("TARMIC_LINE_DUMP")) {
      for (int k = 0; k < n; ++k) std::fprintf(stderr, "%s %d %.4f %.5f\n", name.c_str(), k, u[k], z[k]);
    }
  }
}
BENCHMARK(BM_SetDRoughness)->Arg(50)->Arg(100)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}
double ProcessCpuSeconds() { return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }
// The calling thread's CPU time: the one-thread timings below do not count the
// time the thread waited for a core on a loaded machine.
double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

// ---- The normal equations against a plain blocked product --------------------------

typedef double Double8 __attribute__((vector_size(64)));

// acc += the lower triangle of X X^T, X rows x n (row r at x + r n), in chunks of 256
// points (a chunk of all rows stays in the core's cache) and 4 x 4 tiles of rows,
// a vector of points at a time: the floor of the build's product.
template <typename V>
[[gnu::always_inline]] inline void PlainProductBody(const double* x, int rows, int n, double* acc) {
  constexpr int L = sizeof(V) / sizeof(double);
  constexpr int kChunk = 256;
  for (int p0 = 0; p0 < n; p0 += kChunk) {
    const int p1 = std::min(n, p0 + kChunk);
    for (int i0 = 0; i0 < rows; i0 += 4) {
      for (int j0 = 0; j0 <= i0; j0 += 4) {
        V t[4][4] = {};
        for (int p = p0; p + L <= p1; p += L) {
          V a[4], b[4];
          for (int k = 0; k < 4; ++k) {
            std::memcpy(&a[k], x + static_cast<std::ptrdiff_t>(i0 + k) * n + p, sizeof(V));
            std::memcpy(&b[k], x + static_cast<std::ptrdiff_t>(j0 + k) * n + p, sizeof(V));
          }
          for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) t[r][c] += a[r] * b[c];
        }
        for (int r = 0; r < 4; ++r)
          for (int c = 0; c < 4; ++c) {
            double sum = 0.0;
            for (int l = 0; l < L; ++l) sum += t[r][c][l];
            acc[static_cast<std::ptrdiff_t>(i0 + r) * rows + j0 + c] += sum;
          }
      }
    }
  }
}
[[gnu::target("avx512f")]] void PlainProductAvx512(const double* x, int rows, int n, double* acc) {
  PlainProductBody<Double8>(x, rows, n, acc);
}
typedef double Double4 __attribute__((vector_size(32)));
[[gnu::target("avx2,fma")]] void PlainProductAvx2(const double* x, int rows, int n, double* acc) {
  PlainProductBody<Double4>(x, rows, n, acc);
}

// The floor: the product of scans blocks of `rows` rows (the build's order + 1,
// rounded up to 4) by the fit-range points, each scan's block read from memory
// (the kernels as the build reads them, one after the other); CPU seconds of the
// calling thread.
double FloorSeconds(int rows, int points, int scans) {
  rows = (rows + 3) / 4 * 4;
  const int n = (points + 7) / 8 * 8;
  std::vector<double> x(static_cast<std::size_t>(rows) * n, 0.0);
  std::vector<double> acc(static_cast<std::size_t>(rows) * rows, 0.0);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(1e-3 * static_cast<double>(i % 977));
  const bool wide = __builtin_cpu_supports("avx512f");
  const double start = ThreadCpuSeconds();
  for (int s = 0; s < scans; ++s) {
    if (wide) {
      PlainProductAvx512(x.data(), rows, n, acc.data());
    } else {
      PlainProductAvx2(x.data(), rows, n, acc.data());
    }
  }
  benchmark::DoNotOptimize(acc.data());
  return ThreadCpuSeconds() - start;
}


void BM_SetDNormalEquations(benchmark::State& state) {
  ScopedHeadlessBackend backend;
  Prepare(8);
  bench::PrepareCsKernels();
  const NEQBuildPlan plan = PlanNormalEquations(NoiseModel::TIRI);
  double floor = 1e300, floor8 = 1e300, wall1 = 1e300, wall8 = 1e300, cpu1 = 1e300, cpu8 = 1e300;
  auto timed = [](int threads, double* wall, double* cpu) {
    const double c0 = ProcessCpuSeconds();
    const auto w0 = std::chrono::steady_clock::now();
    BuildNormalEquationsThreaded(NoiseModel::TIRI, threads);
    *wall = std::min(*wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count());
    *cpu = std::min(*cpu, ProcessCpuSeconds() - c0);
  };
  for (auto _ : state) {
    const int rows = plan.order + 1, points = CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1;
    const int scans = plan.lastScan - plan.firstScan + 1;
    floor = std::min(floor, FloorSeconds(rows, points, scans));
    std::vector<double> seconds(8, 0.0);
    std::vector<std::thread> probes;
    for (int t = 0; t < 8; ++t)
      probes.emplace_back([&, t] { seconds[static_cast<std::size_t>(t)] = FloorSeconds(rows, points, scans); });
    for (std::thread& probe : probes) probe.join();
    double mean8 = 0.0;
    for (double x : seconds) mean8 += x / 8.0;
    floor8 = std::min(floor8, mean8);
    timed(1, &wall1, &cpu1);
    timed(8, &wall8, &cpu8);
  }
  state.counters["floor_ms"] = 1e3 * floor;
  state.counters["wall1_ms"] = 1e3 * wall1;
  state.counters["wall8_ms"] = 1e3 * wall8;
  state.counters["cpu1_ms"] = 1e3 * cpu1;
  state.counters["build1_over_floor"] = cpu1 / floor;
  state.counters["wall8_over_wall1"] = wall8 / wall1;
  state.counters["cpu8_over_cpu1"] = cpu8 / cpu1;
  state.counters["floor_cpu8_over_cpu1"] = floor8 / floor;
  state.counters["threads_used"] = NormalEquationThreads(plan, 8);
}
BENCHMARK(BM_SetDNormalEquations)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// ---- The Lamm kernels against interleaved Crank-Nicolson steps ---------------------

// Four Crank-Nicolson systems of n nodes side by side, `steps` steps, the four
// systems in the lanes of one vector; seconds. With refactor each step forms
// M -/+ dt/2 A from fixed mass and transport matrices, multiplies, factorises and
// solves (Thomas, the divisions in the lanes); without, the factors of the first
// step are kept and a step is the product and the two substitutions.
// A function of its own for each form, so that a profile (callgrind) counts the two
// apart.
template <bool refactor>
[[gnu::target("avx2,fma"), gnu::noinline]] double CrankNicolsonFloorSeconds(int n, long long steps) {
  struct Node {
    Double4 ml, md, mu, al, ad, au;  // mass and transport diagonals
    Double4 c, rhs, gam, rbet;       // rbet: 1 / pivot
  };
  // Storage aligned for the vectors by hand: g++ gives a std::vector of this type,
  // declared in a function compiled for AVX2, storage of 16-byte alignment only.
  const std::size_t bytes = (sizeof(Node) * (static_cast<std::size_t>(n) + 2) + 63) / 64 * 64;
  std::unique_ptr<Node[], void (*)(Node*)> storage(static_cast<Node*>(std::aligned_alloc(64, bytes)),
                                                   [](Node* p) { std::free(p); });
  Node* node = storage.get();
  std::memset(static_cast<void*>(node), 0, bytes);
  for (int i = 0; i < n + 2; ++i) {
    Node& x = node[static_cast<std::size_t>(i)];
    const double h = 1e-3 * (1.0 + 0.01 * (i % 7));
    for (int l = 0; l < 4; ++l) {
      x.ml[l] = x.mu[l] = h / 6;
      x.md[l] = 2 * h / 3;
      x.al[l] = x.au[l] = 1e-4 / h * (1.0 + 0.1 * l);
      x.ad[l] = -2e-4 / h * (1.0 + 0.1 * l);
      x.c[l] = i < n / 2 ? 1.0 : 0.0;
    }
  }
  const double start = ThreadCpuSeconds();
  for (long long k = 0; k < steps; ++k) {
    const double dt = refactor ? 0.5 * (1.0 + 1e-9 * static_cast<double>(k & 1023)) : 0.5;
    const Double4 half = {dt / 2, dt / 2, dt / 2, dt / 2};
    // rhs = (M + dt/2 A) c
    for (int i = 1; i <= n; ++i) {
      Node& x = node[static_cast<std::size_t>(i)];
      x.rhs = (x.ml + half * x.al) * node[static_cast<std::size_t>(i - 1)].c +
              (x.md + half * x.ad) * x.c + (x.mu + half * x.au) * node[static_cast<std::size_t>(i + 1)].c;
    }
    // (M - dt/2 A) c = rhs
    if (refactor || k == 0) {
      Double4 bet = node[1].md - half * node[1].ad;
      node[1].rbet = 1.0 / bet;
      Double4 u = node[1].rhs / bet;
      node[1].c = u;
      for (int i = 2; i <= n; ++i) {
        Node& x = node[static_cast<std::size_t>(i)];
        const Node& prev = node[static_cast<std::size_t>(i - 1)];
        const Double4 sub = x.ml - half * x.al;
        x.gam = (prev.mu - half * prev.au) / bet;
        bet = (x.md - half * x.ad) - sub * x.gam;
        x.rbet = 1.0 / bet;
        u = (x.rhs - sub * u) / bet;
        x.c = u;
      }
    } else {
      Double4 u = node[1].rhs * node[1].rbet;
      node[1].c = u;
      for (int i = 2; i <= n; ++i) {
        Node& x = node[static_cast<std::size_t>(i)];
        u = (x.rhs - (x.ml - half * x.al) * u) * x.rbet;
        x.c = u;
      }
    }
    for (int i = n - 1; i >= 1; --i) {
      node[static_cast<std::size_t>(i)].c -= node[static_cast<std::size_t>(i + 1)].gam * node[static_cast<std::size_t>(i + 1)].c;
    }
  }
  benchmark::DoNotOptimize(node);
  return ThreadCpuSeconds() - start;
}

struct KernelWork {
  double nodeSteps = 0.0, nodes = 0.0, steps = 0.0;
};

// The Run's kernels one after the other from the solver set up as tmpl; a function
// of its own, so that a profile counts its instructions apart from the setup.
[[gnu::noinline]] KernelWork SolveKernelsOneByOne(const CLammIdeal& tmpl, const KernelPointList& list) {
  KernelWork work;
  for (int i = 1; i <= DistributionVectors().nDistGrid; ++i) {
    CLammIdeal one;
    one.CopySetup(tmpl);
    one.SetSpeciesAndOutput(list.s[i], list.D[i], DistributionStorage().pppKernels[i], CurrentGrid().pGridRadius, CurrentGrid().nGridPoints,
                            nullptr, nullptr);
    one.SetSolventConditions(20.0, list.vbar[i], SolventConstants().fBufferDensity, SolventConstants().RELVISCOSITY);
    one.Solve();
    work.nodeSteps += static_cast<double>(one.nGrid) * one.nIteration;
    work.nodes += one.nGrid;
    work.steps += one.nIteration;
  }
  return work;
}

void BM_SetDKernels(benchmark::State& state) {
  ScopedHeadlessBackend backend;
  Prepare(1);
  KernelPointList list = bench::SetUpCsGrid();
  // The solver of the Run's kernels, one equation after the other as a worker solves
  // them, counting nodes and steps.
  std::vector<LammScanRecord> records(static_cast<std::size_t>(DataSet().nScans) + 1);
  for (int j = 1; j <= DataSet().nScans; ++j) {
    const ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(j)];
    records[j].time = records[j].timeUncorrected = info.time;
    records[j].rpm = info.rpm;
    records[j].temperature = info.temperature;
  }
  CLammIdeal tmpl;
  tmpl.SetIdealModel();
  tmpl.LoadSedimentationParameters(list.s[DistributionVectors().nDistGrid], list.D[DistributionVectors().nDistGrid], DataSet().fMeniscus, DataSet().fBottom, 1.0,
                                   DataSet().fFitLeftLim, DataSet().fFitRightLim);
  tmpl.SkipAccelerationCheck();
  tmpl.LoadOutputParameters({.pScans = records.data(),
                             .ppOut = DistributionStorage().pppKernels[1],
                             .pOutRadii = CurrentGrid().pGridRadius,
                             .nOutRadii = CurrentGrid().nGridPoints,
                             .nScanCount = DataSet().nScans});
  tmpl.LoadDiscretizationParameters(CurrentDiscretization());
  tmpl.SetSolventConditions(20.0, SolventConstants().VBAR, SolventConstants().fBufferDensity, SolventConstants().RELVISCOSITY);
  KernelWork work;
  double seconds = 0.0;
  bUserAbort = false;
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    work = SolveKernelsOneByOne(tmpl, list);
    seconds = ThreadCpuSeconds() - start;
  }
  const double nodeSteps = work.nodeSteps, steps = work.steps;
  const int meanNodes = static_cast<int>(work.nodes / DistributionVectors().nDistGrid);
  const long long floorSteps = static_cast<long long>(steps / 4);
  const double floorNodeSteps = 4.0 * meanNodes * static_cast<double>(floorSteps);
  const double kernelNs = 1e9 * seconds / nodeSteps;
  const double floorNs = 1e9 * CrankNicolsonFloorSeconds<true>(meanNodes, floorSteps) / floorNodeSteps;
  const double keptNs = 1e9 * CrankNicolsonFloorSeconds<false>(meanNodes, floorSteps) / floorNodeSteps;
  // The divisors of a profile's instruction counts of SolveKernelsOneByOne and
  // CrankNicolsonFloorSeconds<true>.
  state.counters["node_steps"] = nodeSteps;
  state.counters["floor_node_steps"] = floorNodeSteps;
  state.counters["mean_nodes"] = meanNodes;
  state.counters["steps"] = steps;
  state.counters["ns_per_node_step"] = kernelNs;
  state.counters["floor_ns_per_node_step"] = floorNs;
  state.counters["ratio_to_floor"] = kernelNs / floorNs;
  state.counters["kept_factors_ns_per_node_step"] = keptNs;
  state.counters["ratio_to_kept_factors"] = kernelNs / keptNs;
}
BENCHMARK(BM_SetDKernels)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
