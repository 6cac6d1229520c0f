// The main window of the program for the fuzz targets that go through a command
// (the loaders ask for their files in the open-file dialog): made once per process
// as at start-up, with the response table installed, and with the residual redraws
// and the time-stamp check kept from touching files or asking questions.
#pragma once

#include <memory>

#include "app/paint.h"
#include "app/preferences.h"
#include "app/xla_window.h"
#include "commands/response_table.h"
#include "fuzz_support.h"
#include "plot/data_plots.h"
#include "scandata/time_stamps.h"

namespace tarmic::fuzz {

inline TXLAWindow& MainWindow() {
  static std::unique_ptr<TXLAWindow> window;
  InitHeadless();
  if (!window) {
    DataPlots().bWriteScanRms = false;
    TimeStamps().bCheckTimeStamps = false;
    bDisclaimerAccepted = true;
    InstallResponseTable();
    window = std::make_unique<TXLAWindow>("Sedimentation Analysis");
    window->SetupWindow();
  }
  bFileDialogOpen = false;
  return *window;
}

}  // namespace tarmic::fuzz
