// One evaluation of a three-species ideal model through the global-state
// propagators: 2, 6 and 11 S (f/f0 1.2, vbar 0.73 ml/g, water at 20 C), 40 scans
// every 300 s, 50,000 rpm, meniscus 6.0 cm, bottom 7.2 cm, fitting range 6.05-7.1
// cm, the default grid of 1000 nodes and the default step settings; each species is
// solved from a uniform loading and its scans are recorded. The same with ks = 0.01
// ml/g (log10 ks = -2, signal per mg/ml 1, kd off) through the concentration-
// dependent propagators.
//
// The algorithm argument: 0 static grid, 1 moving hat.
//
// The reacting system A + B <-> AB (7 + 7 -> 11 S, 1e5 + 1e5 g/mol, Ka 1, loadings
// 0.5 and 0.5, 1-s steps, 40 scans, 1000 nodes); and one species (6 S) with the
// buffer mismatch on: the species through the moving hat and the buffer component
// (0.21 S, 8.6e-6 cm^2/s) through its own 200-node solution twice, sample side and
// reference side (meniscus 0.02 cm further in).
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/moving_hat_propagator.h"
#include "propagators/nonideal_doors.h"
#include "propagators/nonideal_propagators.h"
#include "propagators/reacting_doors.h"
#include "propagators/reacting_system.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "propagators/sim_run.h"
#include "propagators/static_grid_propagator.h"
#include "scandata/data_set.h"

namespace tarmic {
namespace {

constexpr int kScans = 40;
std::string last_error;
constexpr double kSpecies[3] = {2.0, 6.0, 11.0};

// D of a species of s (S) with frictional ratio ff0 in water at 20 C, vbar 0.73:
// D = sqrt(2)/(18 pi) k T s^-1/2 (eta ff0)^-3/2 ((1 - vbar rho)/vbar)^1/2, cgs.
double DiffusionFromS(double s, double ff0) {
  const double kT = 1.380649e-16 * 293.15, eta = 0.01002, vbar = 0.73, rho = 0.99823;
  return std::sqrt(2.0) / (18 * M_PI) * kT * std::pow(s * 1e-13, -0.5) *
         std::pow(eta * ff0, -1.5) * std::sqrt((1 - vbar * rho) / vbar);
}

// A uniform loading of 1 on the grid and the run state of a species (s in S, D in
// cm^2/s) at 50,000 rpm with the default step settings.
void StartSpeciesRun(double s, double D) {
  const int N = LammArrays().nSimGridPointsAllocated;
  for (int i = 1; i <= N; ++i) LammArrays().pLammConc[i] = 1.0;
  SimClock().dSimTime = 0;
  SimRun().nSimIterations = 0;
  SimRun().dSimDt = 1.0;
  SimRun().dMaxRelChange = 1.0;
  SimRun().dMaxRelChangeLow = 0.05;
  SimRun().dMaxRelChangeTarget = 0.2;
  SimRun().dSimS = s;
  SimRun().dSimD = D;
  SimRun().dSimRpm = SimRun().dFinalRpm = 50000;
  SimRun().bAccelerating = false;
}

void SetUpCell(bool movingHat, bool nonideal) {
  ResetSimArrays();
  ResetSimRunState();
  ResetLammSettings();
  ResetModelFlags();
  ResetModelOptions();
  DataSet().fMeniscus = 6.0f;
  DataSet().fBottom = 7.2f;
  DataSet().fFitLeftLim = 6.05f;
  DataSet().fFitRightLim = 7.1f;
  LammSettings().nLammGridPoints = 1000;
  LammSettings().bMovingHat = movingHat;
  LammSettings().bClaverie = !movingHat;
  ModelFlags().bNonidealSpecies = nonideal;
  AnalysisSwitches().bRampRotorSpeed = false;
  AllocSimArrays();
}

// Solves the three species once; returns the number of recorded scans.
int EvaluateModel(bool movingHat, bool nonideal, std::vector<std::vector<double>>& store) {
  int recorded = 0;
  std::vector<double> times(kScans);
  for (int k = 0; k < kScans; ++k) times[k] = 300.0 * (k + 1);
  for (double s : kSpecies) {
    const double D = DiffusionFromS(s, 1.2);
    if (movingHat) BuildLammGrid();
    StartSpeciesRun(s, D);
    ModelOptions().fS1 = static_cast<float>(s);
    ModelOptions().fD1 = static_cast<float>(D);
    ModelOptions().fS2 = ModelOptions().fS1;
    ModelOptions().fLogKs = -2.0f;
    ModelOptions().fLogKd = -8.0f;
    DataSet().dSignalPerConcentration = 1.0;
    ScanTimeRecorder rec(times, [&](int scan, const double*, const double* c, int n) {
      store[scan].assign(c + 1, c + n + 1);
      ++recorded;
    });
    rec.Start();
    SimRunSettings settings = CurrentSimRunSettings();
    settings.outflowBottom = false;
    SimOutcome out;
    if (nonideal)
      out = movingHat ? SolveNonidealLammMovingHat(settings, rec) : SolveNonidealLammClaverie(settings, rec);
    else
      out = movingHat ? SolveLammMovingHat(settings, {s, D}, rec)
                      : SolveLammClaverie(settings, {s, D}, rec);
    if (!out.ok()) {
      last_error = out.message;
      return -1;
    }
  }
  return recorded;
}

void RunModel(benchmark::State& state, bool nonideal) {
  const bool movingHat = state.range(0) == 1;
  SetUpCell(movingHat, nonideal);
  std::vector<std::vector<double>> store(kScans);
  int recorded = 0;
  for (auto _ : state) {
    recorded = EvaluateModel(movingHat, nonideal, store);
    benchmark::DoNotOptimize(store.data());
  }
  state.counters["scans"] = recorded;
  state.counters["steps_last_species"] = SimRun().nSimIterations;
  if (recorded < 3 * kScans) state.SkipWithError(("a species failed: " + last_error).c_str());
}

void BM_ThreeIdealSpecies(benchmark::State& state) { RunModel(state, false); }
void BM_ThreeNonidealSpecies(benchmark::State& state) { RunModel(state, true); }

void BM_ReactingSystem(benchmark::State& state) {
  ResetReactingSystem();
  SetUpCell(true, false);
  ModelFlags().bHeteroAssocModel = true;
  AllocSimArrays();
  std::vector<double> times(kScans);
  for (int k = 0; k < kScans; ++k) times[k] = 300.0 * (k + 1);
  int recorded = 0;
  for (auto _ : state) {
    ResetReactingSystem();
    ReactingMassesToD(true, 8.31451e7 * 293.15, 0.73);
    SimClock().dSimTime = 0;
    SimRun().nSimIterations = 0;
    SimRun().dSimRpm = SimRun().dFinalRpm = 50000;
    SimRun().dMaxRelChange = 1.0;
    recorded = 0;
    ScanTimeRecorder rec(times, [&](int, const double*, const double*, int) { ++recorded; });
    rec.Start();
    SimRunSettings settings = CurrentSimRunSettings();
    settings.rampRotorSpeed = false;
    const SimOutcome out = SolveReactingLamm(settings, rec);
    if (!out.ok()) last_error = out.message;
  }
  state.counters["scans"] = recorded;
  ModelFlags().bHeteroAssocModel = false;
  if (recorded < kScans) state.SkipWithError(("the run failed: " + last_error).c_str());
}

void BM_SpeciesWithBufferMismatch(benchmark::State& state) {
  SetUpCell(true, false);
  std::vector<std::vector<double>> store(kScans);
  std::vector<double> times(kScans);
  for (int k = 0; k < kScans; ++k) times[k] = 300.0 * (k + 1);
  BufferComponentRun buffer;
  buffer.D = 86e-7;
  buffer.s = 0.21;
  buffer.bottom = 7.2;
  buffer.amplitude = 30.0;
  buffer.rpm = 50000;
  buffer.scanTimes = times;
  int recorded = 0;
  for (auto _ : state) {
    recorded = 0;
    BuildLammGrid();
    StartSpeciesRun(6.0, DiffusionFromS(6.0, 1.2));
    ScanTimeRecorder rec(times, [&](int scan, const double*, const double* c, int n) {
      store[scan].assign(c + 1, c + n + 1);
      ++recorded;
    });
    rec.Start();
    SimRunSettings settings = CurrentSimRunSettings();
    settings.rampRotorSpeed = false;
    if (!SolveLammMovingHat(settings, {6.0, DiffusionFromS(6.0, 1.2)}, rec).ok()) break;
    for (double meniscus : {6.0, 5.98}) {
      buffer.meniscus = meniscus;
      const SimOutcome out = SolveBufferComponent(
          buffer, [&](int, const double*, const double* c, int) { benchmark::DoNotOptimize(c); ++recorded; });
      if (!out.ok()) last_error = out.message;
    }
  }
  state.counters["scans"] = recorded;
  if (recorded < 3 * kScans) state.SkipWithError(("a solution failed: " + last_error).c_str());
}

BENCHMARK(BM_ThreeIdealSpecies)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThreeNonidealSpecies)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReactingSystem)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpeciesWithBufferMismatch)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarmic

BENCHMARK_MAIN();
