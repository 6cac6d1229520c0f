// Helpers of the tests of the application shell: a scratch program directory, the
// reset of every global the shell touches, and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/diagnostics_log.h"
#include "app/paint.h"
#include "app/preferences.h"
#include "app/printout.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "services/path_table.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "plot/data_plots.h"
#include "plot/plot_reset.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_data_reset.h"
#include "scandata/scan_file.h"
#include "scandata/time_stamps.h"

namespace tarmic::shell_test {

// A fresh directory under the test output directory, removed afterwards. While it
// lives it is also the user's home: the XDG configuration, data and cache
// directories point into it (xdg-config/, xdg-data/, xdg-cache/), so that a program
// started in a test never reads or writes the real user's files.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name) {
    static std::atomic<int> counter{0};
    path_ = std::string(TARMIC_TEST_OUTPUT_DIR) + "/shell_" + name + "_" +
            std::to_string(::getpid()) + "_" + std::to_string(counter++) + "/";
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    for (const auto& [variable, sub] : kUserVariables) {
      const char* old = std::getenv(variable);
      saved_.emplace_back(variable, old ? std::optional<std::string>(old) : std::nullopt);
      ::setenv(variable, (path_ + sub).c_str(), 1);
    }
  }
  ~ScratchDir() {
    for (const auto& [variable, value] : saved_) {
      if (value)
        ::setenv(variable, value->c_str(), 1);
      else
        ::unsetenv(variable);
    }
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  // argv[0] of a program that lives in this directory.
  std::string Program() const { return path_ + "tarmic"; }
  // The program's own directories under the XDG variables set here.
  std::string ConfigDir() const { return path_ + "xdg-config/tarmic/"; }
  std::string DataDir() const { return path_ + "xdg-data/tarmic/"; }
  std::string CacheDir() const { return path_ + "xdg-cache/tarmic/"; }

 private:
  static constexpr std::pair<const char*, const char*> kUserVariables[] = {
      {"HOME", ""},
      {"XDG_CONFIG_HOME", "xdg-config"},
      {"XDG_DATA_HOME", "xdg-data"},
      {"XDG_CACHE_HOME", "xdg-cache"}};
  std::string path_;
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// Every global that start-up, preferences and the window change, back to the
// state of a fresh program.
inline void ResetShellState() {
  ResetPreferences();
  ResetPathTable();
  ResetDiagnosticsLog();
  ResetPrinting();
  ResetSounds();
  ResetRunSwitches();
  ResetDataSetHooks();
  ResetScanDataGlobals();
  ResetScanFileGlobals();
  ResetAnalysisSwitches();
  ResetTimeStampGlobals();
  ResetPlotting();
  ResetPaintingAndInteraction();
  UiEvents().Clear();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// A preference file of the given lines, one number per line.
inline void WritePreferenceFile(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  WriteFile(path, text);
}

// The 19 lines of a complete file with the disclaimer accepted and the defaults.
inline std::vector<std::string> AcceptedDefaults() {
  return {"1", "0.0010", "0", "0", "0", "0", "0", "1", "1", "1",
          "0", "2",      "1", "1", "2", "1.0", "0", "1", "100"};
}

// A main window on the headless backend, with the path table in a scratch
// directory and a complete preference file there; the shell state reset around it.
class WindowFixture : public ::testing::Test {
 protected:
  explicit WindowFixture(const std::string& dir, int width = 1000, int height = 700)
      : backend_(width, height), dir_(dir) {}
  void SetUp() override {
    ResetShellState();
    SetupPathTable(dir_.path(), "");
    WritePreferenceFile(szParamsIni, AcceptedDefaults());
    window_ = std::make_unique<TXLAWindow>("Sedimentation Analysis");
  }
  void TearDown() override {
    window_.reset();
    ResetShellState();
  }

  ScopedHeadlessBackend backend_;
  ScratchDir dir_;
  std::unique_ptr<TXLAWindow> window_;
};

}  // namespace tarmic::shell_test
