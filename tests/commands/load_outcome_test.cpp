// The outcome of a load as a value: for each way a chosen set of files is refused
// (one scan as a velocity set, files that cannot be read, a folder that is gone,
// folders instead of files, interference files with others, more scans than a set
// holds, an experiment file that cannot be read) the status and the ids of the messages, in the order the boxes were shown
// (every box is scripted: a box not named here fails the test); for the sets that
// load, what the set is (kind, signal, scans, cells, wavelengths) and the judgement
// of its profiles where they show the other kind of run.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <ostream>

#include "commands/load_commands.h"
#include "commands/program_services.h"
#include "commands_test_support.h"
#include "resources/command_ids.h"
#include "scandata/data_set.h"
#include "scandata/text_io.h"
#include "tests/support/production_sources.h"

namespace tarmic::testing {
namespace {

namespace fs = std::filesystem;

// A scan of the velocity fixture with its header line (type, cell, temperature,
// rpm, time, omega^2 t, wavelength, replicates) given anew.
std::string Scan(const std::string& path, int cell, int time, int wavelength) {
  std::string text = ReadFile(ScanFixture("set_abs/00001.ra1"));
  const std::size_t line2 = text.find('\n') + 1;
  const std::size_t end = text.find('\n', line2);
  text.replace(line2, end - line2, Format("R %d 20.0 40000 %d 5.2638e+10 %d 1", cell, time, wavelength));
  WriteFile(path, text);
  return path;
}

struct LoadCase {
  const char* name;
  std::function<std::vector<std::string>(const std::string& dir)> files;
  bool equilibrium;                                   // the equilibrium load, else Load New Files
  std::vector<std::pair<int, std::string>> answers;  // the boxes shown, in order: answer, caption
  LoadOutcome::Status status;
  std::vector<std::string> ids;
  int refused = 0;           // scans refused with their file
  std::vector<int> cells = {};  // of a loaded set
  std::vector<long> wavelengths = {};
  const char* kind = "";
  // Scans of that many cells or wavelengths: the load asks which, and the case
  // answers "all as one set" and Yes to its warning (before the boxes above).
  int cellGroups = 0;
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

const LoadCase kCases[] = {
    {"nothing chosen", [](const std::string&) { return std::vector<std::string>{}; }, false, {},
     LoadOutcome::Status::NotLoaded, {}},
    {"one scan as a velocity set", [](const std::string&) { return std::vector<std::string>{ScanFixture("absorbance.ra1")}; },
     false, {{IDOK, "ERROR"}, {IDNO, "LOAD ERROR"}}, LoadOutcome::Status::Refused,
     {"one-file-selected", "switch-to-equilibrium"}},
    {"an empty file", [](const std::string&) { return std::vector<std::string>{ScanFixture("absorbance.ra1"), ScanFixture("empty.ra1")}; },
     false, {{IDOK, "LOAD ERROR"}}, LoadOutcome::Status::Refused, {"unreadable-file"}, 1},
    {"a file without data", [](const std::string&) { return std::vector<std::string>{ScanFixture("absorbance.ra1"), ScanFixture("header_only.ra1")}; },
     false, {{IDOK, "LOAD ERROR"}}, LoadOutcome::Status::Refused, {"unreadable-file"}, 1},
    {"a file without its scan line", [](const std::string&) { return std::vector<std::string>{ScanFixture("absorbance.ra1"), ScanFixture("no_scan_line.ra1")}; },
     false, {{IDOK, "LOAD ERROR"}}, LoadOutcome::Status::Refused, {"unreadable-file"}, 1},
    {"a folder that is gone", [](const std::string& dir) { return std::vector<std::string>{dir + "/gone/a.ra1", dir + "/gone/b.ra1"}; },
     false, {{IDOK, "LOAD ERROR"}}, LoadOutcome::Status::Refused, {"unreadable-file"}, 1},
    {"folders instead of scans",
     [](const std::string& dir) {
       fs::create_directories(dir + "/one.ra1");
       fs::create_directories(dir + "/two.ra1");
       return std::vector<std::string>{dir + "/one.ra1", dir + "/two.ra1"};
     },
     false, {{IDOK, "LOAD ERROR"}}, LoadOutcome::Status::Refused, {"no-scan-files"}},
    {"interference with absorbance", [](const std::string&) { return std::vector<std::string>{ScanFixture("absorbance.ra1"), ScanFixture("interference.ip1")}; },
     false, {{IDYES, "WARNING"}, {IDOK, "ERROR"}}, LoadOutcome::Status::Refused, {"mixed-data-types"}, 0, {}, {}, "", 2},
    {"more scans than a set holds",
     [](const std::string& dir) {
       std::vector<std::string> files;
       for (int k = 0; k <= kMaxScans; ++k) files.push_back(dir + Format("/%05d.ra1", k));
       for (const std::string& f : files) fs::copy_file(ScanFixture("set_abs/00001.ra1"), f);
       return files;
     },
     false, {{IDOK, "LOAD ERROR"}}, LoadOutcome::Status::Refused, {"too-many-scans"}},
    {"an experiment file that cannot be read",
     [](const std::string& dir) {
       WriteFile(dir + "/run.xp", "not an experiment\n");
       return std::vector<std::string>{dir + "/run.xp"};
     },
     false, {{IDOK, "LOAD ERROR"}}, LoadOutcome::Status::Refused, {"unreadable-experiment-file"}},
    {"a velocity set", [](const std::string&) { return VelocitySet(); }, false, {}, LoadOutcome::Status::Loaded, {}, 0,
     {1}, {280}, "velocity"},
    {"mixed cells and wavelengths",
     [](const std::string& dir) {
       return std::vector<std::string>{Scan(dir + "/a.ra1", 2, 10000, 280), Scan(dir + "/b.ra1", 1, 20000, 230),
                                       Scan(dir + "/c.ra1", 2, 30000, 280)};
     },
     false, {{IDYES, "WARNING"}, {IDOK, "ATTENTION"}}, LoadOutcome::Status::Loaded, {"equilibrium-as-velocity"}, 0, {1, 2}, {230, 280}, "velocity", 2},
    {"unchanging scans as a velocity run",
     [](const std::string& dir) {
       return std::vector<std::string>{Scan(dir + "/a.ra1", 3, 10000, 260), Scan(dir + "/b.ra1", 3, 20000, 260),
                                       Scan(dir + "/c.ra1", 3, 30000, 260)};
     },
     false, {{IDOK, "ATTENTION"}}, LoadOutcome::Status::Loaded, {"equilibrium-as-velocity"}, 0, {3}, {260}, "velocity"},
    // The same scans an hour apart: nothing moves, but the first hour of a slow
    // velocity run looks the same.
    {"unchanging scans over an hour",
     [](const std::string& dir) {
       return std::vector<std::string>{Scan(dir + "/a.ra1", 3, 1000, 260), Scan(dir + "/b.ra1", 3, 2800, 260),
                                       Scan(dir + "/c.ra1", 3, 4600, 260)};
     },
     false, {}, LoadOutcome::Status::Loaded, {}, 0, {3}, {260}, "velocity"},
    {"one scan as equilibrium data", [](const std::string&) { return std::vector<std::string>{ScanFixture("absorbance.ra1")}; },
     true, {}, LoadOutcome::Status::Loaded, {}, 0, {2}, {280}, "equilibrium"},
};

class LoadOutcomeSweep : public CommandTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadOutcomeSweep, StatusAndMessageIds) {
  InstallProgramServices();
  const LoadCase& c = GetParam();
  const std::string dir = ProgramDir() + "/load_case";
  fs::create_directories(dir);
  const std::vector<std::string> files = c.files(dir);
  for (const auto& [answer, caption] : c.answers) Backend().QueueMessageBox(answer, caption);
  if (c.cellGroups > 0) {
    TransferBuffer all;
    for (int k = 0; k < c.cellGroups; ++k) all.checked[101 + k] = false;
    all.checked[101 + c.cellGroups] = true;
    Backend().QueueDialog(IDOK, all);
  }
  Backend().QueueOpenFiles(files);
  Dispatch(c.equilibrium ? kCmLoadEquilibriumData : kCmLoadNewFiles);
  EXPECT_TRUE(Backend().AllAnswersUsed());
  const LoadOutcome& o = LastLoadOutcome();
  EXPECT_EQ(LoadStatusName(o.status), std::string(LoadStatusName(c.status)));
  std::vector<std::string> ids;
  for (const OutcomeMessage& m : o.messages) {
    ids.push_back(m.id);
    EXPECT_FALSE(m.text.empty()) << m.id;
  }
  EXPECT_EQ(ids, c.ids);
  // A refused scan names a file chosen, and the box that named it.
  ASSERT_EQ(static_cast<int>(o.refused.size()), c.refused);
  for (const RefusedScan& r : o.refused) {
    EXPECT_NE(std::find(files.begin(), files.end(), r.file), files.end()) << r.file;
    EXPECT_NE(r.reason.text.find(r.file), std::string::npos) << r.reason.text;
  }
  if (c.status != LoadOutcome::Status::Loaded) {
    EXPECT_TRUE(o.scans.empty());
    EXPECT_EQ(DataSet().nScans, 0);
    return;
  }
  EXPECT_EQ(o.kind, c.kind);
  EXPECT_EQ(o.signal, "absorbance");
  ASSERT_EQ(o.scans.size(), files.size());
  for (std::size_t k = 0; k < files.size(); ++k) EXPECT_TRUE(fs::equivalent(o.scans[k], files[k])) << o.scans[k];
  EXPECT_EQ(o.cells, c.cells);
  EXPECT_EQ(o.wavelengths, c.wavelengths);
}

INSTANTIATE_TEST_SUITE_P(Refusals, LoadOutcomeSweep, ::testing::ValuesIn(kCases), [](const auto& info) {
  std::string name = info.param.name;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
});

// The doors above the data set to its loaders, by file: the calls of the loading
// entry points outside scandata/. The loading commands (commands/load_commands.cpp:
// Load New Files with the equilibrium and electrophoresis loads, a scan list, an
// experiment file, Add More Files, dropped files, Change Cell) keep the outcome of
// the load. The others load the set already loaded again (an averaged scan in its
// place, the worst scan left out, a new radial resolution, scans edited on the
// plot, the time-stamp check, real-time updates) or load a step of a series, which
// reports its own failures. A door added elsewhere fails here until it keeps an
// outcome or joins the list with its reason.
TEST(LoadDoors, EveryDoorToTheLoadersIsKnown) {
  static const std::regex call(
      R"(\b(LoadAllData|AddMoreData|ReadScanListFile|ReloadDataSelection|LoadDataFromFileList)\s*\()");
  std::map<std::string, long> doors;
  for (const auto& [path, code] : ProductionSources()) {
    if (path.starts_with("scandata/")) continue;
    const long n = std::distance(std::sregex_iterator(code.begin(), code.end(), call), std::sregex_iterator());
    if (n > 0) doors[path] = n;
  }
  EXPECT_EQ(doors, (std::map<std::string, long>{{"app/onplot_scan_edit.cpp", 2},
                                                {"app/preference_commands.cpp", 1},
                                                {"commands/load_commands.cpp", 5},
                                                {"commands/option_commands.cpp", 1},
                                                {"commands/raw_data_commands.cpp", 2},
                                                {"commands/realtime_commands.cpp", 1},
                                                {"commands/series_commands.cpp", 3}}));

  // In the loading commands' file, every command that hands files to the loaders
  // (directly or through the file's helpers) keeps the outcome.
  std::string code;
  for (const auto& [path, text] : ProductionSources())
    if (path == "commands/load_commands.cpp") code = text;
  static const std::regex function(R"(\n(?:bool|void) (?:TXLAWindow::)?(\w+)\([^)]*\)[^{;]*\{)");
  static const std::regex loads(R"(\b(LoadAllData|AddMoreData|ReloadNewList|LoadScanList|LoadExperiment)\s*\()");
  std::vector<std::pair<std::string, std::size_t>> starts;
  for (auto it = std::sregex_iterator(code.begin(), code.end(), function); it != std::sregex_iterator(); ++it)
    starts.emplace_back((*it)[1].str(), static_cast<std::size_t>(it->position()));
  std::vector<std::string> commands;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const auto& [name, at] = starts[k];
    const std::string body = code.substr(at, (k + 1 < starts.size() ? starts[k + 1].second : code.size()) - at);
    const bool command = name == "LoadNewFiles" || name.starts_with("Cm") || name.starts_with("Ev");
    if (!command || !std::regex_search(body, loads)) continue;
    commands.push_back(name);
    EXPECT_NE(body.find("LoadCommandOutcome outcome"), std::string::npos) << name;
  }
  EXPECT_EQ(commands, (std::vector<std::string>{"LoadNewFiles", "CmChangeCell", "CmAddMoreFiles", "EvDropFiles"}));
}

}  // namespace
}  // namespace tarmic::testing
