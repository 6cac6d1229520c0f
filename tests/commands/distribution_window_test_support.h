// The whole-window fixture of the distribution tests: the command fixture with the
// program's start-up services installed (hooks of the shell, the data set and the
// distribution engine; the model parameters' start values), every value of the
// model side and the distribution engine at its default, and a small synthetic
// sedimentation velocity run made with the Lamm solver and written as scan files,
// which the tests load through "Load New Files".
#pragma once

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/onplot_tools.h"
#include "app/shell_hooks.h"
#include "commands/distribution_peak_tools.h"
#include "commands/distribution_range_tools.h"
#include "commands/program_services.h"
#include "app/app_main.h"
#include "app/paint.h"
#include "commands_test_support.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_engine.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_plot.h"
#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_threads.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/modelfit_hooks.h"
#include "modelfit/modelfit_state.h"
#include "numerics/hydrodynamics.h"
#include "numerics/random.h"
#include "numerics/solvent_constants.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/fit_limits.h"
#include "scandata/scan_file.h"
#include "resources/command_ids.h"

namespace tarmic::testing {

// The synthetic run: one species of 5 S (f/f0 1.2, loading 0.8) at 50,000 rpm in a
// 6.0-7.2 cm cell, 10 scans every 600 s on radii 0.01 cm apart, Gaussian noise
// 0.002 (fixed seed).
inline constexpr int kSyntheticScans = 10;
inline constexpr double kSyntheticS = 5.0;
inline constexpr double kSyntheticLoading = 0.8;
inline constexpr double kSyntheticNoise = 0.002;
inline constexpr double kCellMeniscus = 6.0;
inline constexpr double kCellBottom = 7.2;
inline constexpr float kLeftLimit = 6.05f;
inline constexpr float kRightLimit = 7.1f;

// The synthetic cell's radii (121 points 0.01 cm apart, 1-based; [0] unused).
inline constexpr int kSyntheticPoints = 121;
inline std::vector<float> SyntheticRadii() {
  std::vector<float> radii(static_cast<std::size_t>(kSyntheticPoints) + 1, 0.0f);
  for (int k = 1; k <= kSyntheticPoints; ++k)
    radii[static_cast<std::size_t>(k)] = static_cast<float>(kCellMeniscus + 0.01 * (k - 1));
  return radii;
}

// The Lamm solution of one species of sedimentation coefficient sValue (S; D of a
// sphere of f/f0 1.2 from its mass) and unit loading in the synthetic cell at
// 50,000 rpm, 20 C, for scans j = 1..scans at `interval` j seconds: rows[j][p] at the
// radii of SyntheticRadii.
inline std::vector<std::vector<float>> SyntheticLammProfiles(double sValue, int scans,
                                                             double interval = 600.0) {
  const int n = kSyntheticPoints;
  std::vector<float> radii = SyntheticRadii();
  std::vector<LammScanRecord> records(static_cast<std::size_t>(scans) + 1);
  for (int j = 1; j <= scans; ++j) {
    records[static_cast<std::size_t>(j)].time =
        records[static_cast<std::size_t>(j)].timeUncorrected = interval * j;
    records[static_cast<std::size_t>(j)].rpm = 50000.0f;
    records[static_cast<std::size_t>(j)].temperature = 20.0f;
  }
  std::vector<std::vector<float>> profiles(static_cast<std::size_t>(scans) + 1,
                                           std::vector<float>(static_cast<std::size_t>(n) + 1, 0.0f));
  std::vector<float*> rows(static_cast<std::size_t>(scans) + 1, nullptr);
  for (int j = 1; j <= scans; ++j) rows[static_cast<std::size_t>(j)] = profiles[static_cast<std::size_t>(j)].data();
  float** out[2] = {nullptr, rows.data()};
  ResetSolventConstants();
  double s[2] = {0.0, sValue};
  double D[2] = {0.0, DFromM(CalculateM(static_cast<float>(sValue)), 20.0f)};
  CLammIdeal solver;
  solver.SetIdealModel();
  solver.LoadSedimentationParameters(s[1], D[1], kCellMeniscus, kCellBottom, 1.0, 6.001f, 7.199f);
  solver.SkipAccelerationCheck();
  solver.LoadOutputParameters({.pScans = records.data(),
                               .ppOut = out[1],
                               .pOutRadii = radii.data(),
                               .nOutRadii = n,
                               .nScanCount = scans});
  LammDiscretizationSettings fine;
  fine.fPointsPerSigma = 10.0f;
  fine.nMaxGrid = 4000;
  fine.dTolerance = fine.dToleranceIn = 0.3;
  solver.LoadDiscretizationParameters(fine);
  solver.SetSolventConditions(20.0, SolventConstants().VBAR, SolventConstants().fBufferDensity, SolventConstants().RELVISCOSITY);
  bUserAbort = false;
  EXPECT_EQ(CLRunMTList(&solver, 1, s, D, nullptr, out, radii.data(), n, nullptr, nullptr), 0);
  return profiles;
}

// Writes the run as "00001.ra1" ... into dir; returns the paths. With another number
// of scans they span the same time (scans every 6000 / scans seconds).
inline std::vector<std::string> WriteSyntheticRun(const std::string& dir, int scans = kSyntheticScans) {
  const int n = kSyntheticPoints;
  const std::vector<float> radii = SyntheticRadii();
  const double interval = 600.0 * kSyntheticScans / scans;
  const std::vector<std::vector<float>> rows = SyntheticLammProfiles(kSyntheticS, scans, interval);

  SeedRandomGenerators(20240607u);
  std::vector<std::string> paths;
  const double omega = 50000.0 * M_PI / 30.0;
  for (int j = 1; j <= scans; ++j) {
    std::vector<float> value(static_cast<std::size_t>(n) + 1, 0.0f);
    for (int p = 1; p <= n; ++p) {
      value[static_cast<std::size_t>(p)] =
          static_cast<float>(kSyntheticLoading * rows[static_cast<std::size_t>(j)][p] +
                             GaussianRandomDouble(kSyntheticNoise));
    }
    char name[32];
    std::snprintf(name, sizeof name, "%05d.ra1", j);
    const std::string path = (std::filesystem::path(dir) / name).string();
    const double t = interval * j;
    EXPECT_TRUE(WriteRadialScanFile(path.c_str(), n, radii.data(), value.data(), nullptr,
                                    "synthetic", true, 0, 0, 0, false, 'R', 1, 20.0f, 50000.0f, t,
                                    omega * omega * t, 280.0f, 1));
    paths.push_back(path);
  }
  return paths;
}

// Every value of the model side and the distribution engine at its default, the
// hooks of the program services removed.
inline void ResetDistributionSide() {
  ResetShellHooks();
  ResetModelFitHooks();
  ResetDistributionHooks();
  ResetDistributionEngine();
  ResetModelFitState();
  ResetLammGlobals();
  ResetSolventConstants();
  ResetOnPlotTools();
  ResetDistributionRangeTools();
  ResetPeakTools();
}

class DistributionWindowTest : public CommandTest {
 protected:
  void SetUp() override {
    ResetDistributionSide();
    CommandTest::SetUp();
    InstallProgramServices();
    // The runs compute on one worker each, so that the tests stay light.
    bMultiThreading = false;
  }
  void TearDown() override {
    CommandTest::TearDown();
    ResetDistributionSide();
  }


  // Loads the synthetic run and sets the geometry and the fitting limits.
  void LoadSyntheticRun() {
    const std::string dir = ProgramDir() + "/data";
    std::filesystem::create_directories(dir);
    LoadThroughDialog(WriteSyntheticRun(dir));
    ASSERT_EQ(DataSet().nScans, kSyntheticScans);
    SetCellAndLimits();
    Backend().ClearTranscript();
  }

  // Save Fit Data (fits, residuals, parameters) and Save Noise (TI and RI) into
  // the synthetic run's folder, each answering Yes to overwriting.
  void SaveFitDataIntoTheRunsFolder() {
    const std::string dir = ProgramDir() + "/data";
    Backend().QueueSaveFile(dir + "/f0000x.ra1");
    Backend().QueueSaveFile(dir + "/r0000x.ra1");
    Backend().QueueSaveFile(dir + "/params.txt");
    Backend().AnswerUnscriptedBoxes(IDYES);
    Dispatch(kCmSaveFitData);
  }
  void SaveNoiseIntoTheRunsFolder() {
    const std::string dir = ProgramDir() + "/data";
    Backend().QueueSaveFile(dir + "/TIN.ra1");
    Backend().QueueSaveFile(dir + "/RIN.ra1");
    Backend().AnswerUnscriptedBoxes(IDYES);
    Dispatch(kCmSaveNoise);
  }

  // The synthetic run's cell geometry and fitting limits.
  static void SetCellAndLimits() {
    DataSet().fMeniscus = static_cast<float>(kCellMeniscus);
    DataSet().fBottom = static_cast<float>(kCellBottom);
    AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
    AnalysisSwitches().pParams[14] = DataSet().fBottom;
    DataSet().fFitLeftLim = kLeftLimit;
    DataSet().fFitRightLim = kRightLimit;
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
  }

  // The c(s) model from 0 to 12 S on 40 points at confidence 0.68, with the values
  // of the synthetic run's solvent.
  void ChooseSmallCs() {
    Dispatch(kCmContinuousCs);
    AnalysisSwitches().pParams[kContiSlotGridMin] = 0.0f;
    AnalysisSwitches().pParams[kContiSlotGridMax] = 12.0f;
    AnalysisSwitches().pParams[kContiSlotGridCount] = 40.0f;
    AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
    UnpackModelParams();
  }

  // The c(M) model from 20,000 to 400,000 g/mol on 30 points, around the synthetic
  // run's species.
  void ChooseSmallCM() {
    Dispatch(kCmContinuousCM);
    AnalysisSwitches().pParams[kContiSlotGridMin] = 20000.0f;
    AnalysisSwitches().pParams[kContiSlotGridMax] = 400000.0f;
    AnalysisSwitches().pParams[kContiSlotGridCount] = 30.0f;
    UnpackModelParams();
  }

  // Paints the window as the window system would.
  void Paint() { PaintWindow(Win()); }

  // The synthetic run's small c(s) run and painted, then Ctrl+I pressed: the
  // selection of an integration range is armed.
  void RunSmallCsAndPressCtrlI() {
    LoadSyntheticRun();
    ChooseSmallCs();
    DispatchCommand(Win(), kCmRun);
    ASSERT_NE(DistributionPlot().pDistPlot, nullptr);
    Paint();
    Backend().QueueMessageBox(IDOK, "SELECT INTEGRATION RANGE");
    PressKeyAndRun('I', MK_CONTROL);
    ASSERT_TRUE(bDistRangeArmed);
  }

  // Pixels of the screen rows [top, bottom) (display units 0..1000) that are not
  // white, or with red set that are pure red.
  int InkInRows(int top, int bottom, bool red = false) {
    const Image& screen = Handle().Screen();
    const int y0 = top * screen.Height() / 1000, y1 = bottom * screen.Height() / 1000;
    int ink = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < screen.Width(); ++x)
        ink += red ? screen.Pixel(x, y) == RGB(255, 0, 0) : screen.Pixel(x, y) != kWhite;
    return ink;
  }

  // A message box's text, or empty.
  std::string BoxText(const std::string& caption) {
    for (const TranscriptEntry& e : Backend().Transcript())
      if (e.kind == "MessageBox" && e.caption == caption) return e.text;
    return {};
  }

  // The number after `label` in text.
  static float NumberAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) return -1e30f;
    return std::strtof(text.c_str() + at + label.size(), nullptr);
  }

  // The client area resized to w x h pixels, as the window system does.
  void ResizeClient(int w, int h) {
    Backend().Headless().Resize(w, h);
    UiEvents().Clear();
    Win().EvSize(SIZE_RESTORED, Size{w, h});
  }
  // Dispatches every waiting event as the message loop does, paints included.
  void PumpEvents() {
    while (std::optional<Event> e = UiEvents().Take()) DispatchEvent(Win(), *e);
  }

  bool Send(EventType type, int x, int y, unsigned mods) {
    return DispatchToWindow(Win(), Event::Mouse(type, x, y, mods));
  }

  // Root mean square of data minus fit over the fit range of each scan, or over
  // every point.
  double FitRmsd(bool fitRangeOnly = true) const {
    double sum = 0.0;
    long count = 0;
    for (int j = 1; j <= DataSet().nScans; ++j) {
      const std::size_t s = static_cast<std::size_t>(j);
      const int first = fitRangeOnly ? DataSet().pFitFirst[s] : 1, last = fitRangeOnly ? DataSet().pFitLast[s] : DataSet().pnPoints[s];
      for (int p = first; p <= last; ++p) {
        const double d = DataSet().ppSignal[s][p] - DataSet().ppFit[s][p];
        sum += d * d;
        ++count;
      }
    }
    return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 1e30;
  }

  // Client column of a grid value on the distribution plot, and a row inside it.
  int ColumnOf(float x) {
    return static_cast<int>(std::lround(DistributionPlot().pDistPlot->MapX(x) * Win().fClientWidth / 1400.0));
  }
  int DistributionRow() { return static_cast<int>(0.8 * Win().fClientHeight); }

  // A right-button drag over the distribution pane from grid value x1 to x2.
  void DragRight(float x1, float x2) {
    const int c1 = ColumnOf(x1), c2 = ColumnOf(x2), y = DistributionRow();
    Send(EventType::RButtonDown, c1, y, MK_RBUTTON);
    Send(EventType::MouseMove, c2, y, MK_RBUTTON);
    Send(EventType::RButtonUp, c2, y, 0);
  }

  // A left press on the centre of a screen button.
  void PressButton(const CScreenButton& b) {
    const int x = static_cast<int>((b.nLeft + b.nRight) / 2.0 * Win().fClientWidth / 1400.0);
    const int y = static_cast<int>((b.nTop + b.nBottom) / 2.0 * Win().fClientHeight / 1000.0);
    Send(EventType::LButtonDown, x, y, MK_LBUTTON);
    Send(EventType::LButtonUp, x, y, 0);
  }
};

}  // namespace tarmic::testing
