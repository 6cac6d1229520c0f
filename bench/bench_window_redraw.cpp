// The main window as a user sees it, in the Qt backend: 12 absorbance scans of 500
// radii (two species of 3 and 7 S, f/f0 1.3, noise 0.005) with their fitted curves,
// the residuals and the residual bitmap, in a client of 1000 x 700 pixels.
//
// BM_WholeRedraw: the CPU of one whole redraw of the window as a paint request makes
// it (erase, every pane's picture, markers, fitted curves, buttons) and of its showing
// on the screen. BM_FitCommand: the Fit command with the Marquardt-Levenberg method
// (s and D of both species and the meniscus floated from 10 % and 0.015 cm off, the
// amplitudes solved linearly, the residual plot and bitmap updated during the fit,
// the whole window drawn after it) against the same fit without a window and its
// plots recorded. Its time is the CPU of the window's Fit; window_ratio is that over
// the CPU of the fit without a window (headless_ms), both measured in the same run.
// CPU times are those of the whole process (the Lamm solver's threads included).
//
// BM_LoadScans: 200 absorbance scans of 1,000 radii dropped on the empty window, as
// "Load New Files" loads them, until the window is idle with the scans drawn: wall
// and process CPU time (the target is under 1 s per 100 scans).
//
// Run it under a real X server: bench/run_window_bench.sh starts Xvfb and a window
// manager. Without QT_QPA_PLATFORM the offscreen platform is used, which shows
// nothing and can hide what the window system costs.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "app/app_main.h"
#include "app/paint.h"
#include "app/preferences.h"
#include "app/xla_window.h"
#include "bench/velocity_data_set.h"
#include "bench/window_bench_support.h"
#include "commands/program_services.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/model_computation.h"
#include "modelfit/model_flags.h"
#include "modelfit/lamm_settings.h"
#include "services/path_table.h"
#include "numerics/random.h"
#include "platform/events.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_window.h"
#include "plot/data_plots.h"
#include "plot/residual_bitmap.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"

namespace tarmic {
namespace {

constexpr int kScans = 12, kRadii = 500;

QtBackend* gBackend = nullptr;
TXLAWindow* gWindow = nullptr;

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Lets Qt deliver its events and the window handle the program's (paints included).
void Pump() {
  for (int round = 0; round < 3; ++round) {
    QCoreApplication::processEvents();
    while (std::optional<Event> e = UiEvents().Take()) DispatchEvent(*gWindow, *e);
  }
}

// The data set, the computed model, the plots and the fitted curves.
void InstallData() {
  bench::InstallVelocityScans(kScans, kRadii, 0.02);
  DataSet().fMinMeniscus = 5.97f;
  DataSet().fMaxMeniscus = 6.03f;
  bench::SetTwoSpecies(1.0f, false, 6.0f, true);
  CalculateModel(nullptr);
  bench::DataFromFitWithNoise(0.005, 3);
  bench::SetTwoSpecies(1.0f, true, 6.0f, true);
  CalculateModel(nullptr);
  SetModelComputed(true);
  DataPlots().bShowData = DataPlots().bShowResiduals = true;
  DataPlots().bShowResidualsBitmap = true;
  RebuildDataAndResidualPlots();
  RedrawDataPlot(true);
  RedrawResidualPlot(true);
  gWindow->GetHandle().Invalidate();
  Pump();
}

// One whole redraw: the paint that a paint request starts, and its showing on the
// screen. Refresh shows a picture at once when the last one is at least 33 ms old,
// and a later one when that interval has passed: each redraw waits 40 ms (no CPU) so
// that every picture it asked for is shown within it.
void BM_WholeRedraw(benchmark::State& state) {
  InstallData();
  QWidget* client = gBackend->QtMainWindow().Client();
  for (auto _ : state) {
    PaintWindow(*gWindow);
    bool waited = false;
    QTimer::singleShot(40, [&waited] { waited = true; });
    while (!waited) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  state.counters["client_px"] = client->width() * client->height();
}
BENCHMARK(BM_WholeRedraw)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(40);

// The Fit command in the window (CmFit: the fit with its status lines and pane
// updates, the plots recorded, the whole window drawn and shown), or the same fit
// without a window and its plots recorded. Returns the process CPU seconds; the
// fit's evaluations are added to evaluations.
double FitOnce(bool inWindow, double& evaluations) {
  SeedRandomGenerators(5);
  bench::SetTwoSpecies(1.1f, true, 6.015f, true);
  const double start = ProcessCpuSeconds();
  if (inWindow) {
    gWindow->CmFit();
    Pump();
  } else {
    FitReport report;
    FitDriver(nullptr, FitMethod::Marquardt, report);
    RedrawDataPlot(true);
    RedrawResidualPlot(true);
  }
  const double cpu = ProcessCpuSeconds() - start;
  evaluations += FitState().nFitSim;
  return cpu;
}

void BM_FitCommand(benchmark::State& state) {
  InstallData();
  bFitMarquardt = true;
  bFitSimplex = bFitAnnealing = false;
  SearchSettings().bSaveBestParams = false;
  // A Lamm grid fine enough that the fit takes about half a second (61 evaluations).
  LammSettings().fPointsPerSigma = 80.0f;
  LammSettings().nGridSizeUpper = 20000;
  // As answered at the first start: the residual plot and bitmap follow the fit,
  // at most once a second.
  DataPlots().bUpdateResidualPlotDuringFit = DataPlots().bUpdateResidualBitmapDuringFit = true;
  DataPlots().bUpdateDataPlotDuringFit = false;
  DataPlots().fMaxUpdateInterval = 1.0f;
  double window = 0, headless = 0, windowEvaluations = 0, headlessEvaluations = 0;
  for (auto _ : state) {
    const double w = FitOnce(true, windowEvaluations);
    const double h = FitOnce(false, headlessEvaluations);
    state.SetIterationTime(w);
    window += w;
    headless += h;
  }
  using benchmark::Counter;
  state.counters["evaluations"] = Counter(windowEvaluations, Counter::kAvgIterations);
  state.counters["headless_evaluations"] = Counter(headlessEvaluations, Counter::kAvgIterations);
  state.counters["window_ms"] = Counter(1e3 * window, Counter::kAvgIterations);
  state.counters["headless_ms"] = Counter(1e3 * headless, Counter::kAvgIterations);
  state.counters["window_ratio"] = headless > 0 ? window / headless : 0;
}
BENCHMARK(BM_FitCommand)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// The Fit of one species (bench::InstallOneSpeciesFitData) as a user starts it: Ctrl+F
// pressed in the window, the CPU of the whole process from the key press until the
// window is idle again, the fit's status lines, plot updates and the final redraw
// included. bench_fit's BM_OneSpeciesMarquardtFit is the same fit without a window;
// run_window_bench.sh reports the ratio of the two.
void BM_OneSpeciesFitCommand(benchmark::State& state) {
  bench::InstallOneSpeciesFitData();
  SetModelComputed(true);
  DataPlots().bShowData = DataPlots().bShowResiduals = true;
  DataPlots().bShowResidualsBitmap = true;
  RebuildDataAndResidualPlots();
  gWindow->GetHandle().Invalidate();
  Pump();
  bFitMarquardt = true;
  bFitSimplex = bFitAnnealing = false;
  SearchSettings().bSaveBestParams = false;
  DataPlots().bUpdateResidualPlotDuringFit = DataPlots().bUpdateResidualBitmapDuringFit = true;
  DataPlots().bUpdateDataPlotDuringFit = false;
  DataPlots().fMaxUpdateInterval = 1.0f;
  QWidget* client = gBackend->QtMainWindow().Client();
  double evaluations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bench::StartOneSpeciesFit();
    state.ResumeTiming();
    QCoreApplication::postEvent(client, new QKeyEvent(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier));
    QCoreApplication::postEvent(client, new QKeyEvent(QEvent::KeyRelease, Qt::Key_F, Qt::ControlModifier));
    Pump();
    // Idle: the redraws the fit asked for are shown (Refresh shows at most one picture
    // every 33 ms).
    bool waited = false;
    QTimer::singleShot(40, [&waited] { waited = true; });
    while (!waited) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Pump();
    evaluations += FitState().nFitSim;
  }
  state.counters["evaluations"] = benchmark::Counter(evaluations, benchmark::Counter::kAvgIterations);
  state.counters["s"] = ModelParams().pSpeciesS[1];
}
BENCHMARK(BM_OneSpeciesFitCommand)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1);

void BM_LoadScans(benchmark::State& state) {
  constexpr int kLoadScans = 200, kLoadRadii = 1000;
  const std::filesystem::path dir = std::filesystem::path(szProgramDir) / "load_scans";
  std::filesystem::create_directories(dir);
  std::vector<std::string> files;
  std::vector<float> radius(kLoadRadii), value(kLoadRadii);
  for (int k = 1; k <= kLoadScans; ++k) {
    // A boundary moving from 6.0 to 7.0 cm over the run.
    const double boundary = 6.0 + 1.0 * k / kLoadScans;
    for (int i = 0; i < kLoadRadii; ++i) {
      radius[static_cast<std::size_t>(i)] = static_cast<float>(5.95 + 1.2 * i / (kLoadRadii - 1));
      value[static_cast<std::size_t>(i)] =
          static_cast<float>(0.8 / (1.0 + std::exp(-(radius[static_cast<std::size_t>(i)] - boundary) / 0.02)));
    }
    char name[16];
    std::snprintf(name, sizeof name, "%05d.ra1", k);
    files.push_back((dir / name).string());
    WriteRadialScanFile(files.back().c_str(), kLoadRadii, radius.data(), value.data(), nullptr, "bench", true,
                        0, 0, 0, false, 'R', 1, 20.0f, 50000.0f, 60.0 * k, 60.0 * k * 2.74e7, 280.0f, 1);
  }
  const double c0 = ProcessCpuSeconds();
  for (auto _ : state) {
    state.PauseTiming();
    FreeDataSet();
    Pump();
    state.ResumeTiming();
    gWindow->EvDropFiles(files);
    Pump();
    bool waited = false;
    QTimer::singleShot(40, [&waited] { waited = true; });
    while (!waited) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Pump();
  }
  state.counters["cpu_s"] = benchmark::Counter(ProcessCpuSeconds() - c0, benchmark::Counter::kAvgIterations);
  state.counters["scans"] = DataSet().nScans;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LoadScans)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace tarmic

int main(int argc, char** argv) {
  tarmic::bench::ChooseQtPlatform();
  QApplication app(argc, argv);
  // The settings and files of the window go to a scratch folder.
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("bench_window_redraw_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  tarmic::SetupPathTable(dir.string() + "/", "");
  {
    // The disclaimer accepted and the defaults, as after the first start.
    std::ofstream prefs(tarmic::szParamsIni);
    for (const char* line : {"1", "0.0010", "1", "1", "0", "0", "0", "1", "1", "1", "0", "2", "3",
                             "1", "2", "1.0", "0", "1", "100"})
      prefs << line << "\n";
  }
  tarmic::InstallProgramServices();
  int status = 0;
  {
    tarmic::QtBackend backend(1000, 700);
    tarmic::gBackend = &backend;
    tarmic::SetBackend(&backend);
    {
      tarmic::TXLAWindow window("Sedimentation Analysis");
      tarmic::gWindow = &window;
      window.SetupWindow();
      window.GetHandle().Show();
      const std::unique_ptr<QTimer> closer = tarmic::bench::CloseModalBoxes();
      tarmic::Pump();
      benchmark::Initialize(&argc, argv);
      if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        status = 1;
      } else {
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
      }
      const char* shot = std::getenv("TARMIC_BENCH_SHOT");
      if (shot && *shot) backend.QtMainWindow().Client()->grab().save(shot);
      tarmic::gWindow = nullptr;
    }
    tarmic::SetBackend(nullptr);
  }
  std::filesystem::remove_all(dir);
  return status;
}
