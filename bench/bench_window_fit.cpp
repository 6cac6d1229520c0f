// A discrete Fit and a discrete Run shown in the Qt window (offscreen platform unless
// QT_QPA_PLATFORM chooses another) against the same work without a window: the CPU
// time the window adds (status lines, readouts and their repaints). The data and
// the fit are those of bench_fit's one-species fit: 4.4 S, f/f0 1.3, 40 scans of 400
// radii with noise 0.005; s, D and the meniscus floated from 10 % and 0.015 cm off,
// the amplitude solved linearly; the Run (as the Run command starts it, with the
// live display of the solution) at the true values. Argument: 1 in the window, 0
// without, 2 in a window of the scripted backend (the same drawing in software). CPU time is
// that of the whole process; the counter "evaluations" is per fit. Also the cost of
// one repaint of the client.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "bench/velocity_data_set.h"
#include "bench/window_bench_support.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/model_computation.h"
#include "modelcalc/model_steps.h"
#include "numerics/random.h"
#include "platform/headless/headless_backend.h"
#include "platform/raster_dc.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_window.h"

namespace tarmic {
namespace {

constexpr double kS = 4.4;
QtBackend* gBackend = nullptr;

float InstallData() {
  bench::InstallVelocityScans(40, 400, 0.02);
  DataSet().fMinMeniscus = 5.97f;
  DataSet().fMaxMeniscus = 6.03f;
  const double M = MassFromSedcoeff(kS, 0.73, 0.73 * 0.99823, 1.002e-3, 1.3);
  const auto D = static_cast<float>(kGasConstant * 293.15 * kS * 1e-13 / (M * (1.0 - 0.73 * 0.99823)) * 1e7);
  bench::SetFittedSpecies(static_cast<float>(kS), D, 6.0f, false);
  CalculateModel(nullptr);
  bench::DataFromFitWithNoise(0.005, 3);
  return D;
}

// 0: no window; 1: the Qt window; 2: a window of the scripted backend (the same
// drawing into an image, without a toolkit).
Window* WindowOrNone(const benchmark::State& state) {
  static const std::shared_ptr<TextRenderer> text = MakeBuiltinTextRenderer();
  static HeadlessWindow headless(1000, 700, *text);
  switch (state.range(0)) {
    case 1: return &gBackend->MainWindow();
    case 2: return &headless;
    default: return nullptr;
  }
}

void BM_DiscreteFit(benchmark::State& state) {
  const float D = InstallData();
  Window* window = WindowOrNone(state);
  double evaluations = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    SeedRandomGenerators(5);
    bench::SetFittedSpecies(static_cast<float>(1.1 * kS), 0.9f * D, 6.015f, true);
    state.ResumeTiming();
    FitReport report;
    if (FitDriver(window, FitMethod::Simplex, report) != FitOutcome::Completed)
      state.SkipWithError("fit did not complete");
    evaluations += FitState().nFitSim;
  }
  QCoreApplication::processEvents();
  state.counters["evaluations"] = benchmark::Counter(evaluations, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_DiscreteFit)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(2);

void BM_DiscreteRun(benchmark::State& state) {
  const float D = InstallData();
  Window* window = WindowOrNone(state);
  bench::SetFittedSpecies(static_cast<float>(kS), D, 6.0f, true);
  // As the Run command: the solution's readouts and evolving profiles are drawn.
  ModelSteps().bLiveDisplay = true;
  for (auto _ : state) CalculateModel(window);
  ModelSteps().bLiveDisplay = false;
  QCoreApplication::processEvents();
}
BENCHMARK(BM_DiscreteRun)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// One repaint of the whole client (1000 x 700) from the back-buffer, as Refresh
// starts it at most about 30 times per second.
void BM_WindowRepaint(benchmark::State& state) {
  QtWindow& window = gBackend->QtMainWindow();
  for (auto _ : state) window.Client()->repaint();
}
BENCHMARK(BM_WindowRepaint)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
}  // namespace tarmic

int main(int argc, char** argv) {
  tarmic::bench::ChooseQtPlatform();
  QApplication app(argc, argv);
  tarmic::QtBackend backend(1000, 700);
  tarmic::gBackend = &backend;
  tarmic::SetBackend(&backend);
  backend.MainWindow().Show();
  const std::unique_ptr<QTimer> closer = tarmic::bench::CloseModalBoxes();
  QCoreApplication::processEvents();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  tarmic::SetBackend(nullptr);
  return 0;
}
