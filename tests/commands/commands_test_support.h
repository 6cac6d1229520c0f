// The whole-window fixture of the command tests: a headless backend, a program
// directory of its own (preference files, "tarmic.ini"), the main window made and
// set up as at start-up with the response table installed, and every global of the
// libraries below at its start value. Commands are dispatched through the response
// table as the menus and accelerators dispatch them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/app_main.h"
#include "app/diagnostics_log.h"
#include "app/paint.h"
#include "app/preferences.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "commands/response_table.h"
#include "distributions/model_values_kept.h"
#include "numerics/one_based.h"
#include "services/path_table.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "plot/data_plots.h"
#include "plot/plot_reset.h"
#include "plot/residual_bitmap.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/dls_file.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"
#include "scandata/time_stamps.h"
#include "resources/command_ids.h"

namespace tarmic::testing {

// An index of the one-based tables as the vectors of scans take it.
inline std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

inline std::string ScanFixture(const std::string& name) {
  return std::string(TARMIC_TEST_DATA_DIR) + "/scans/" + name;
}

// The three absorbance scans of one velocity run, recorded at 3000, 1000 and
// 2000 s: the display order by time is scans 2, 3, 1.
inline std::vector<std::string> VelocitySet() {
  return {ScanFixture("set_abs/00001.ra1"), ScanFixture("set_abs/00002.ra1"),
          ScanFixture("set_abs/00003.ra1")};
}

// Copies of the velocity set in dir, so that edits never touch the fixtures.
inline std::vector<std::string> CopyVelocitySet(const std::string& dir) {
  namespace fs = std::filesystem;
  fs::create_directories(dir);
  std::vector<std::string> copies;
  for (const std::string& f : VelocitySet()) {
    copies.push_back(dir + "/" + fs::path(f).filename().string());
    fs::copy_file(f, copies.back(), fs::copy_options::overwrite_existing);
  }
  return copies;
}

// A scan file as read (zero-based vectors, empty when it cannot be read).
struct ScanRead {
  ScanInfo info;
  std::vector<float> r, y;
};
inline ScanRead ReadScan(const std::string& path) {
  ScanRead out;
  int n = 0;
  float *r = nullptr, *y = nullptr;
  EXPECT_EQ(ReadScanFile(path.c_str(), &out.info, &n, &r, &y, nullptr, nullptr, 0.0f), 1) << path;
  if (n > 0) {
    out.r.assign(r + 1, r + 1 + n);
    out.y.assign(y + 1, y + 1 + n);
    free_vector(r, 1, n);
    free_vector(y, 1, n);
  }
  return out;
}

// A dlsdat file as read (x and y one-based, empty when it cannot be read).
struct DlsRead {
  DLSInfo record;
  std::vector<float> x, y;
};
inline DlsRead ReadDls(const std::string& path, bool keepG2) {
  DlsRead r;
  int n = 0;
  float *x = nullptr, *y = nullptr;
  EXPECT_EQ(ReadDLSDatFile(path.c_str(), &r.record, &n, &x, &y, keepG2), 1) << path;
  if (n > 0) {
    r.x.assign(x, x + n + 1);
    r.y.assign(y, y + n + 1);
    free_vector(x, 1, n);
    free_vector(y, 1, n);
  }
  return r;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

inline std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return fields;
}

inline void ResetEverything() {
  ResetDataSetHooks();
  ClearKeptValues();  // what each model held in an earlier test
  ResetScanDataGlobals();
  ResetPlotting();
  ResetPaintingAndInteraction();
  ResetPreferences();
  ResetDiagnosticsLog();
  ResetRunSwitches();
  ResetSounds();
  ResetPathTable();
  DataPlots().bShowResidualsBitmap = true;
  ResidualBitmap().bBitmapBlackAndWhite = true;
  ResidualBitmap().bBitmapContinuousShading = true;
  ResidualBitmap().fResidualBitmapScale = 0.05f;
  bFileDialogOpen = false;
}

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetEverything();
    namespace fs = std::filesystem;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    programDir_ = (fs::path(TARMIC_TEST_OUTPUT_DIR) / "commands" /
                   (std::string(info->test_suite_name()) + "." + info->name()))
                      .string();
    fs::remove_all(programDir_);
    fs::create_directories(programDir_ + "/temp");
    SetupPathTable(programDir_, programDir_ + "/temp");
    // Neither the residual redraws nor the time-stamp check touch files or ask
    // questions unless a test asks for it.
    DataPlots().bWriteScanRms = false;
    TimeStamps().bCheckTimeStamps = false;
    // The disclaimer was agreed to at an earlier start.
    bDisclaimerAccepted = true;
    InstallResponseTable();
    window_ = std::make_unique<TXLAWindow>("Sedimentation Analysis");
    window_->SetupWindow();
    backend_->ClearTranscript();
    UiEvents().Clear();
  }

  void TearDown() override {
    // Every change of the loaded scans the test made was followed by the stamp's
    // door: the kept fingerprint is that of the scans as they stand.
    const unsigned long long missed = ScanDataChangesMissedForTesting();
    (void)CurrentDataStamp();
    EXPECT_EQ(ScanDataChangesMissedForTesting(), missed)
        << "the loaded scans changed without NoteScanDataChanged (scandata/data_set.h)";
    window_.reset();
    SetResponseTable({});
    ResetEverything();
  }

  TXLAWindow& Win() { return *window_; }
  HeadlessBackend& Backend() { return *backend_; }
  Window& Handle() { return window_->GetHandle(); }
  const std::string& ProgramDir() const { return programDir_; }

  bool Dispatch(int id) { return DispatchCommand(*window_, id); }
  // Runs a command and paints the window after it, as the walks of every command do;
  // an exception the command lets out fails the test.
  void DispatchAndPaint(int id) {
    try {
      Dispatch(id);
      std::unique_ptr<DC> dc = Handle().ClientDC();
      Win().Paint(*dc, true, Rect{});
    } catch (const std::exception& e) {
      ADD_FAILURE() << "threw: " << e.what();
    }
  }
  bool Drop(std::vector<std::string> files) {
    return DispatchToWindow(*window_, Event::Drop(std::move(files)));
  }

  // Presses a key and runs the message loop until the key's command is done.
  void PressKeyAndRun(int key, unsigned mods = 0) {
    backend_->Headless().PressKey(key, mods);
    PostQuitMessage(0);
    RunMessageLoop(*window_);
  }

  // Loads files through "Load New Files" and the scripted file dialog.
  void LoadThroughDialog(std::vector<std::string> files) {
    backend_->QueueOpenFiles(std::move(files));
    Dispatch(kCmLoadNewFiles);
  }
  void LoadVelocitySet() {
    LoadThroughDialog(VelocitySet());
    ASSERT_EQ(DataSet().nScans, 3);
    backend_->ClearTranscript();
  }

  // Message boxes shown since the transcript was last cleared, as captions.
  std::vector<std::string> Captions() { return backend_->MessageBoxCaptions(); }
  // The texts of the message boxes shown.
  std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const TranscriptEntry& e : backend_->Transcript())
      if (e.kind == "MessageBox") texts.push_back(e.text);
    return texts;
  }
  int Shown(const std::string& kind) {
    int n = 0;
    for (const TranscriptEntry& e : backend_->Transcript()) n += e.kind == kind;
    return n;
  }

 private:
  ScopedHeadlessBackend backend_{800, 600};
  std::unique_ptr<TXLAWindow> window_;
  std::string programDir_;
};

}  // namespace tarmic::testing
