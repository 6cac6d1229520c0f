// Helpers shared by the scan data set tests: fixture paths, scratch directories,
// small text files, and a reset of every global the data set keeps.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "services/run_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_data_reset.h"

namespace tarmic::testing {

inline std::string FixturePath(const std::string& name) {
  return std::string(TARMIC_TEST_DATA_DIR) + "/scans/" + name;
}

// An empty directory for the test, below the build's test-output directory.
inline std::string ScratchDir(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "scandata" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void CopyFixture(const std::string& name, const std::string& toPath) {
  std::filesystem::copy_file(FixturePath(name), toPath,
                             std::filesystem::copy_options::overwrite_existing);
}

// Every test starts and ends with an empty data set and default switches.
class ScanDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDataSetHooks();
    ResetScanDataGlobals();
    ResetRunSwitches();
  }
  void TearDown() override {
    ResetDataSetHooks();
    ResetScanDataGlobals();
    ResetRunSwitches();
  }
};

}  // namespace tarmic::testing
