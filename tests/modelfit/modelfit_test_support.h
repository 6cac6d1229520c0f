// A fixture that starts every test of the model side from the program's start-up
// state, with the scripted backend installed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelfit/modelfit_hooks.h"
#include "modelfit/modelfit_state.h"
#include "services/path_table.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "platform/headless/headless_backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"

namespace tarmic::testing {

inline void ResetEverything() {
  ResetDataSetHooks();
  ResetModelFitHooks();
  ResetScanDataGlobals();
  ResetScanFileGlobals();
  ResetAnalysisSwitches();
  ResetRunSwitches();
  ResetSolventConstants();
  ResetLammGlobals();
  ResetPathTable();
  ResetModelFitState();
}

class ModelFitTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetEverything(); }
  void TearDown() override { ResetEverything(); }

  // The message boxes shown, as (caption, text).
  std::vector<std::pair<std::string, std::string>> Boxes() {
    std::vector<std::pair<std::string, std::string>> boxes;
    for (const TranscriptEntry& e : backend_->Transcript())
      if (e.kind == "MessageBox") boxes.emplace_back(e.caption, e.text);
    return boxes;
  }
  int DialogCount() {
    int n = 0;
    for (const TranscriptEntry& e : backend_->Transcript())
      if (e.kind == "Dialog") ++n;
    return n;
  }

  ScopedHeadlessBackend backend_;
};

}  // namespace tarmic::testing
