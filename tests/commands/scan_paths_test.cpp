// Every scan is found where it was loaded from: after Add More Files with a scan from
// another folder, the data-set tools that load the set again from its list of files
// (Exclude Worst Scan, a new radial resolution) read each scan from its own file,
// and nothing of the loaded set goes astray. The census at the end holds every
// source to the one primitive for a loaded scan's path (ScanFilePath).
#include <filesystem>
#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "distribution_window_test_support.h"
#include "numerics/one_based.h"
#include "tests/support/production_sources.h"
#include "plot/data_plots.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

// The radii and values of the scan file at path, as the reader gives them.
std::vector<float> FileValues(const std::string& path) {
  ScanDataKind kind;
  ScanInfo info;
  int n = 0;
  float *r = nullptr, *y = nullptr, *third = nullptr;
  bool mark = false;
  std::string why;
  std::vector<float> values;
  if (!ReadScanFileAndKind(path.c_str(), ScanDataKind{}, &kind, &info, &n, &r, &y, &third, &mark, 0.0f, &why,
                           nullptr))
    return values;
  for (int i = 1; i <= n; ++i) {
    values.push_back(r[i]);
    values.push_back(y[i]);
  }
  free_vector(r, 1, n);
  free_vector(y, 1, n);
  if (third) free_vector(third, 1, n);
  return values;
}

std::vector<float> LoadedValues(int s) {
  std::vector<float> values;
  for (int i = 1; i <= DataSet().pnPoints[Idx(s)]; ++i) {
    values.push_back(DataSet().ppRadius[Idx(s)][i]);
    values.push_back(DataSet().ppSignal[Idx(s)][i]);
  }
  return values;
}

struct ReloadDoor {
  const char* name;
  int command;
  bool removesWorst;
};

class ScanPathsTest : public DistributionWindowTest, public ::testing::WithParamInterface<ReloadDoor> {};

TEST_P(ScanPathsTest, AToolThatLoadsTheSetAgainFindsAScanAddedFromAnotherFolder) {
  const ReloadDoor door = GetParam();
  // The run, its fifth scan made the worst of the set by a wave laid over its
  // signal, and one scan from another folder under a name of its own.
  const std::string data = ProgramDir() + "/data", extra = ProgramDir() + "/extra";
  fs::create_directories(data);
  fs::create_directories(extra);
  const std::vector<std::string> run = WriteSyntheticRun(data);
  const auto copyWithWave = [](const std::string& from, const std::string& to, float amplitude) {
    std::ifstream in(from);
    std::ostringstream out;
    std::string line;
    for (int row = 0; std::getline(in, line); ++row) {
      float r = 0.0f, y = 0.0f;
      if (row >= 2 && std::istringstream(line) >> r >> y)
        out << r << " " << y + amplitude * std::sin(60.0f * r) << " 0\n";
      else
        out << line << "\n";
    }
    in.close();
    std::ofstream(to, std::ios::trunc) << out.str();
  };
  copyWithWave(run[4], run[4], 0.05f);
  const std::string added = extra + "/00011.ra1";
  copyWithWave(WriteSyntheticRun(extra, 2)[1], added, 0.0f);
  LoadThroughDialog(run);
  ASSERT_EQ(DataSet().nScans, kSyntheticScans);
  SetCellAndLimits();
  Backend().QueueOpenFiles({added});
  Backend().AnswerUnscriptedBoxes(IDNO);
  UiEvents().Post(Event::Command(kCmAddMoreFiles));
  PostQuitMessage(0);
  RunMessageLoop(Win());
  ASSERT_EQ(DataSet().nScans, kSyntheticScans + 1);
  ChooseSmallCs();
  AnalysisSwitches().pParams[kContiSlotGridCount] = 12.0f;
  UnpackModelParams();
  Backend().AnswerUnscriptedBoxes(IDOK);
  DataPlots().bWriteScanRms = true;  // the residual pass that finds the worst scan
  Dispatch(kCmRun);
  ASSERT_EQ(DataSet().ppScanFileNames[Idx(DataPlots().nWorstScan)], "00005.ra1");
  std::vector<std::string> kept;
  for (int s = 1; s <= DataSet().nScans; ++s)
    if (!door.removesWorst || s != DataPlots().nWorstScan) kept.push_back(ScanFilePath(s));

  Backend().ClearTranscript();
  Backend().QueueInput("0.001");  // the radial resolution
  UiEvents().Post(Event::Command(door.command));
  PostQuitMessage(0);
  RunMessageLoop(Win());
  for (const std::string& caption : Captions()) EXPECT_NE(caption, "LOAD ERROR") << BoxTexts().back();
  ASSERT_EQ(static_cast<std::size_t>(DataSet().nScans), kept.size());
  for (int s = 1; s <= DataSet().nScans; ++s) {
    SCOPED_TRACE(ScanFilePath(s));
    EXPECT_EQ(fs::path(ScanFilePath(s)).lexically_normal(), fs::path(kept[Idx(s - 1)]).lexically_normal());
    EXPECT_EQ(LoadedValues(s), FileValues(kept[Idx(s - 1)])) << "the scan is not its file's";
  }
}

INSTANTIATE_TEST_SUITE_P(ReloadDoors, ScanPathsTest,
                         ::testing::Values(ReloadDoor{"ExcludeWorstScan", kCmExcludeWorstScan, true},
                                           ReloadDoor{"SetRadialResolution", kCmSetRadialResolution, false}),
                         [](const ::testing::TestParamInfo<ReloadDoor>& i) { return std::string(i.param.name); });

// The census of the paths of loaded scans: no source makes one of the data
// directory (or a folder last set from it) and a scan's name, nor compares a scan's
// name with a listed file, but the primitive itself; every tool asks ScanFilePath.
// Files named after a scan in a folder for new files (one the user chose, or the
// tools' folder DataDirectory, which a set saved elsewhere moves) are no path of a
// loaded scan.
TEST(ScanPathsCensus, EveryPathOfALoadedScanIsTheScansOwn) {
  const std::regex fromDataDirectory(R"(\bszDataDirectory\b|\bppStoredFileNames\b)");
  const std::regex joined(R"(JoinPath\(\s*(\w+)\s*,)");
  int users = 0, statements = 0;
  for (const auto& [name, code] : ProductionSources()) {
    if (code.find("ScanFilePath(") != std::string::npos) ++users;
    if (name == "scandata/data_set.cpp") continue;  // the primitive
    std::size_t at = 0;
    for (std::size_t end = code.find(';'); end != std::string::npos; at = end + 1, end = code.find(';', at)) {
      const std::string s = code.substr(at, end - at);
      if (s.find("ppScanFileNames") == std::string::npos) continue;
      ++statements;
      bool fromData = std::regex_search(s, fromDataDirectory);
      // A folder variable joined with the name: as it was last set before.
      std::smatch m;
      if (std::regex_search(s, m, joined)) {
        const std::regex set("\\b" + m[1].str() + "\\s*=[^=;][^;]*;");
        std::string last;
        const std::string before = code.substr(0, at);
        for (std::sregex_iterator a(before.begin(), before.end(), set), e; a != e; ++a) last = a->str();
        fromData = fromData || last.find("szDataDirectory") != std::string::npos;
      }
      EXPECT_FALSE(fromData) << name << " makes the path of a loaded scan past ScanFilePath:\n" << s;
    }
  }
  std::cout << users << " sources take a scan's path from ScanFilePath; " << statements
            << " statements use a scan's name" << std::endl;
  EXPECT_GT(users, 3);
}

}  // namespace
}  // namespace tarmic::testing
