// The light-scattering time course.
#include "modelcalc/time_course.h"
#include "numerics/analysis.h"

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "distributions/conti_grid_setup.h"
#include "distributions/distribution_hooks.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_storage.h"
#include "distributions/noise_fit.h"
#include "modelcalc/fit_state.h"
#include "numerics/cvector.h"
#include "plot/data_plots.h"
#include "services/error_box.h"
#include "numerics/matrix_table.h"
#include "services/run_switches.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"
#include "services/computation_events.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// This module's own state in the analysis.
struct LocalState {
  // The last course was stopped by a key (in an analysis, between windows, or "s").
bool g_courseStopped = false;
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// Between two windows: turns an interrupt into a stop and serves the keys of the
// step mode (space: next window, r: run on, s: stop).
// A stop of the course: the realtime update and a running series stop as well.
void StopCourse() {
  Local().g_courseStopped = true;
  FitState().bFitInterrupted = true;
  bStopRealtimeUpdate = bSeriesInterrupted = true;
}

void BetweenWindows(Window* window) {
  auto& fitStatePart = FitState();
  auto& timeCoursePart = TimeCourse();
  if (bUserAbort) {
    bUserAbort = false;
    StopCourse();
  }
  int key = ReadWindowKeyChar(window);
  if (!timeCoursePart.bTimeCourseStepMode) {
    if (key < 0) return;
    // Any key enters step mode; the program then waits for the next one.
    timeCoursePart.bTimeCourseStepMode = true;
    key = -1;
  }
  while (!fitStatePart.bFitInterrupted) {
    if (key < 0) {
      WaitForWindowKeyPress(window, 1.0f);
      key = ReadWindowKeyChar(window);
    }
    if (key == ' ') return;
    if (key == 'r') {
      timeCoursePart.bTimeCourseStepMode = false;
      return;
    }
    // A stop ends the course itself (an interrupt flag would be cleared by the
    // next analysis of light-scattering data).
    if (key == 's') {
      timeCoursePart.bTimeCourseStepMode = false;
      StopCourse();
    }
    key = -1;
  }
}

void ShowProgress(Window* window, int w, int W) {
  if (!window) return;
  std::unique_ptr<DC> dc = window->ClientDC();
  if (!dc) return;
  const ProgressEvent stage{ProgressKind::Stage, Format("time window %d of %d (key: step mode, s: stop)    ", w, W)};
  ReportProgress(stage);
  dc->TextOut(ReadoutColumn(10, window->ClientSize()), 10, stage.text);
}

}  // namespace

std::string TimeCourseStoppedText(const TimeCourseTable& course, bool earlierOnShow) {
  if (course.done < 1) {
    std::string text = "user interrupt\nthe time course was stopped before its first window";
    if (earlierOnShow) text += ": the result on show is the earlier one";
    return text;
  }
  return Format("user interrupt\nthe time course was stopped after %d of %d windows: the "
                "distribution on show is that of window %d",
                course.done, course.windows, course.done);
}

std::vector<std::string> TimeCourseFiles(const std::string& chosenPath) {
  const std::filesystem::path dir = std::filesystem::path(chosenPath).parent_path();
  return {(dir / "radii.dat").string(), (dir / "times.dat").string(), (dir / "sizes.dat").string()};
}

void WriteTimeCourse(const TimeCourseTable& course, const std::string& chosenPath) {
  const int done = course.done;
  const int n = static_cast<int>(course.radii.size()) - 1;
  if (done < 1 || n < 1) return;
  const std::filesystem::path dir = std::filesystem::path(chosenPath).parent_path();
  CVector radii(n, 1);
  for (int i = 1; i <= n; ++i) radii.MutableData()[i - 1] = course.radii[Idx(i)];
  radii.WriteToFile((dir / "radii.dat").string().c_str());
  CVector t(done, 1);
  for (int w = 1; w <= done; ++w) t.MutableData()[w - 1] = course.times[Idx(w)];
  t.WriteToFile((dir / "times.dat").string().c_str());
  std::vector<const float*> rows(Idx(done) + 1, nullptr);
  for (int w = 1; w <= done; ++w) rows[Idx(w)] = course.rows[Idx(w)].data();
  WriteMatrixTable(rows.data(), 1, done, 1, n, (dir / "sizes.dat").string().c_str());
}

std::vector<TimeWindow> SplitTimeWindows(const std::vector<double>& t, float L) {
  const int n = static_cast<int>(t.size()) - 1;
  std::vector<TimeWindow> windows(1);
  if (n < 2) return windows;
  const double len = static_cast<double>(L) * 60.0;
  int W = 1;
  double edge = 1.5 * len;
  for (int p = 1; p <= n; ++p) {
    if (t[Idx(p)] > edge) {
      ++W;
      edge += len;
    }
  }
  windows.resize(Idx(W) + 1);
  int last = 2;
  while (last < n && t[Idx(last)] < 1.5 * len) ++last;
  windows[1] = {2, last, 0.5 * (t[2] + t[Idx(last)])};
  for (int w = 2; w <= W; ++w) {
    int first = last + 1;
    if (first > n) {
      first = last = n;
    } else {
      last = first;
      while (last < n && !((w + 0.5) * len <= t[Idx(last)])) ++last;
    }
    windows[Idx(w)] = {first, last, 0.5 * (t[Idx(first)] + t[Idx(last)])};
  }
  return windows;
}

bool RunTimeCourseStep(Window* window) {
  auto& distributionStoragePart = DistributionStorage();
  auto& distributionModelsPart = DistributionModels();
  auto& distributionVectorsPart = DistributionVectors();
  auto& fitStatePart = FitState();
  if (fitStatePart.bFitInterrupted) return false;
  distributionModelsPart.bContiInnerRun = true;
  const ContiRunResult run = RunContiSed(window);
  distributionModelsPart.bContiInnerRun = false;
  ShowRunMessage(run.message);
  if (run.outcome != ContiRunOutcome::Computed) return false;
  UpdateBaselineAndFitScanRange();
  for (int i = 1; i <= distributionVectorsPart.nDistGrid; ++i) distributionVectorsPart.pDistValues[i] = static_cast<float>(distributionStoragePart.pDistSolution[i]);
  NormalizeDistributionValues(false);
  SetModelComputed(true);
  return !fitStatePart.bFitInterrupted;
}

bool RunContinuousModel(Window* window, TimeCourseTable& course,
                        const std::function<bool(Window*)>& step) {
  auto& distributionModelsPart = DistributionModels();
  auto& contiRunPart = ContiRun();
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  auto& fitStatePart = FitState();
  auto& localPart = Local();
  auto& normalEquationsPart = NormalEquations();
  auto& timeCoursePart = TimeCourse();
  course = TimeCourseTable{};
  const auto runStep = step ? step : std::function<bool(Window*)>(RunTimeCourseStep);
  if (dataSetPart.nScans == 1) {
    ShowRunMessage(RunContiSed(window).message);
    return true;
  }
  if (!window) return false;
  // The windows are analysed as inner runs, which ask nothing: g(2) - 1 data are
  // turned into g(1) (on the user's consent) before the first window.
  const AnswerPolicy answers = GetContiRunSettings().answers;
  if (!EnsureFieldCorrelationData(window, answers)) return false;
  const bool redraw = contiRunPart.bRedrawModel;
  contiRunPart.bRedrawModel = true;
  timeCoursePart.bTimeCourseStepMode = true;
  localPart.g_courseStopped = false;
  // What is on show goes with the course's grid; it comes back when no window is done.
  LastContiResult last;
  last.SetAside();
  std::string failure;
  if (dataSetPart.nScans < 2 || !SetupContiGrid(answers, &failure)) {
    contiRunPart.bRedrawModel = redraw;
    ShowRunMessage(ErrorBoxMessage(std::move(failure)));
    return false;
  }
  fitStatePart.bFitInterrupted = false;
  std::vector<double> t(Idx(dataSetPart.nScans) + 1, 0.0);
  for (int p = 1; p <= dataSetPart.nScans; ++p) t[Idx(p)] = dataSetPart.pScanInfo[Idx(dataSetPart.pScanOrder[Idx(p)])].time;
  const std::vector<TimeWindow> windows = SplitTimeWindows(t, distributionModelsPart.fTimeCourseWindow);
  const int W = static_cast<int>(windows.size()) - 1;
  timeCoursePart.nTimeCourseWindows = W;
  const int n = distributionVectorsPart.nDistGrid;
  std::vector<std::vector<float>> table(Idx(W) + 1, std::vector<float>(Idx(n) + 1, 0.0f));
  std::vector<float> times(Idx(W) + 1, 0.0f);
  normalEquationsPart.iContiFirstScan = normalEquationsPart.iContiLastScan = 1;

  // Record 1 carries each window's mean function; its own profile comes back after.
  float* record1 = currentGridPart.ppGridSignal[1];
  const std::vector<float> saved(record1, record1 + currentGridPart.nGridPoints + 1);
  int done = 0;
  for (int w = 1; w <= W && !fitStatePart.bFitInterrupted; ++w) {
    const TimeWindow& tw = windows[Idx(w)];
    ShowProgress(window, w, W);
    for (int g = 1; g <= currentGridPart.nGridPoints; ++g) {
      double sum = 0.0;
      for (int p = tw.first; p <= tw.last; ++p) sum += currentGridPart.ppGridSignal[Idx(dataSetPart.pScanOrder[Idx(p)])][g];
      record1[g] = static_cast<float>(sum / (tw.last - tw.first + 1));
    }
    // The row is the first scan's signal when the grid's rows are the scans'.
    NoteScanDataChanged();
    times[Idx(w)] = static_cast<float>(tw.time);
    if (!runStep(window)) {
      // A window without a result ends the course; only windows done are kept. An
      // interrupted analysis stops it as a key does.
      if (contiRunPart.eLastContiRunOutcome == ContiRunOutcome::Interrupted || bUserAbort) StopCourse();
      bUserAbort = false;
      fitStatePart.bFitInterrupted = true;
      break;
    }
    for (int i = 1; i <= n; ++i) table[Idx(w)][Idx(i)] = distributionVectorsPart.pDistValues[i];
    done = w;
    RedrawDistributionPlot();
    window->Invalidate();
    BetweenWindows(window);
  }
  timeCoursePart.nTimeCourseWindowsDone = done;
  std::copy(saved.begin(), saved.end(), record1);
  NoteScanDataChanged();
  timeCoursePart.bTimeCourseStepMode = false;
  // A stopped course keeps the last window computed on the plot.
  fitStatePart.bFitInterrupted = false;
  FreeKernelArrays();
  FreeNormalEquationArrays();
  course.windows = W;
  course.stopped = localPart.g_courseStopped;
  if (done >= 1) {
    last.Replaced();
    course.radii.assign(Idx(n) + 1, 0.0f);
    for (int i = 1; i <= n; ++i)
      course.radii[Idx(i)] = distributionPlotPart.pDistXVector ? distributionPlotPart.pDistXVector->Data()[i - 1] : distributionVectorsPart.pDistGrid[i];
    course.times = std::move(times);
    course.rows = std::move(table);
    course.done = done;
  }
  contiRunPart.bRedrawModel = redraw;
  window->Invalidate();
  return true;
}

}  // namespace tarmic
