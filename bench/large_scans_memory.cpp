// Peak memory of large data sets: loads the scan files named on the command line
// through "Load New Files" in the headless program and, with --run, computes a
// c(s) distribution on them (0-12 S, 40 points). Run it under /usr/bin/time -v and
// read "Maximum resident set size"; a Release build gives the program's own
// figures. Prints the points loaded and, after a Run, the chi-square.
//   large_scans_memory [--run] FILE...
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/paint.h"
#include "app/preferences.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "commands/response_table.h"
#include "distributions/regularization.h"
#include "modelfit/model_params.h"
#include "services/path_table.h"
#include "platform/headless/headless_backend.h"
#include "plot/data_plots.h"
#include "resources/command_ids.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/time_stamps.h"

int main(int argc, char** argv) {
  using namespace tarmic;
  bool run = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--run") == 0)
      run = true;
    else
      files.emplace_back(argv[i]);
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: large_scans_memory [--run] FILE...\n");
    return 2;
  }
  ScopedHeadlessBackend backend(1000, 700);
  backend->AnswerUnscriptedBoxes(IDOK);
  const std::string dir = "/tmp/tarmic-large-scans-memory";
  std::filesystem::create_directories(dir + "/temp");
  SetupPathTable(dir, dir + "/temp");
  DataPlots().bWriteScanRms = false;
  TimeStamps().bCheckTimeStamps = false;
  bDisclaimerAccepted = true;
  InstallResponseTable();
  auto window = std::make_unique<TXLAWindow>("Sedimentation Analysis");
  window->SetupWindow();

  backend->QueueOpenFiles(files);
  DispatchCommand(*window, kCmLoadNewFiles);
  long points = 0;
  for (int s = 1; s <= DataSet().nScans; ++s) points += DataSet().pnPoints[static_cast<std::size_t>(s)];
  std::printf("loaded %d scans, %ld points\n", DataSet().nScans, points);
  if (run && DataSet().nScans > 0) {
    DispatchCommand(*window, kCmContinuousCs);
    DataSet().fMeniscus = AnalysisSwitches().pParams[13] = 6.0f;
    DataSet().fBottom = AnalysisSwitches().pParams[14] = 7.2f;
    DataSet().fFitLeftLim = 6.05f;
    DataSet().fFitRightLim = 7.1f;
    SetLeftFitLimitIndices();
    SetRightFitLimitIndices();
    AnalysisSwitches().pParams[kContiSlotGridMin] = 0.0f;
    AnalysisSwitches().pParams[kContiSlotGridMax] = 12.0f;
    AnalysisSwitches().pParams[kContiSlotGridCount] = 40.0f;
    UnpackModelParams();
    DispatchCommand(*window, kCmRun);
    std::printf("run: model computed %d, chi-square %g\n", AnalysisSwitches().bModelComputed ? 1 : 0, Regularization().dChiSquare);
  }
  window.reset();
  return 0;
}
