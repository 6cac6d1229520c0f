// The realtime update of files (commands 540 and 541, the window timer) and the
// test of approach to equilibrium (command 645). See commands/realtime_update.h.
#include "commands/realtime_update.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

#include "app/analysis_views.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/distribution_range_tools.h"
#include "commands/equilibrium_sorting.h"
#include "commands/model_commands.h"
#include "services/answer_policy.h"
#include "storage/atomic_file.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "platform/metafile.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

namespace fs = std::filesystem;


// What a file looked like at the last look: a changed size or modification time
// marks a file that the instrument has written again.
struct FileStamp {
  std::uintmax_t size = 0;
  fs::file_time_type written{};
  bool operator==(const FileStamp&) const = default;
};

struct Watch {
  std::string directory;  // of the loaded scans
  std::string extension;  // theirs, lower case, with the dot
  std::map<std::string, FileStamp> seen;  // full path -> stamp at the last look
};
Watch gWatch;
bool gTickRunning = false;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool Stamp(const fs::path& path, FileStamp* stamp) {
  std::error_code ec;
  stamp->size = fs::file_size(path, ec);
  if (ec) return false;
  stamp->written = fs::last_write_time(path, ec);
  return !ec;
}

// The scan files of the watched directory (the loaded scans' extension), by name.
std::map<std::string, FileStamp> LookAtDirectory() {
  std::map<std::string, FileStamp> files;
  std::error_code ec;
  for (fs::directory_iterator it(gWatch.directory, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    if (Lower(it->path().extension().string()) != gWatch.extension) continue;
    // A save in progress (or one a crash cut short) is no new scan.
    if (IsSaveTemporaryName(it->path().filename().string())) continue;
    FileStamp stamp;
    if (Stamp(it->path(), &stamp)) files[it->path().string()] = stamp;
  }
  return files;
}

std::string ClockText() {
  const std::time_t now = std::time(nullptr);
  char text[16] = "";
  if (const std::tm* t = std::localtime(&now)) std::strftime(text, sizeof text, "%H:%M:%S", t);
  return text;
}

void SetStatus(const std::string& line1, const std::string& line2) {
  szRealtimeLine1 = line1;
  szRealtimeLine2 = line2;
}

// The analysis of the realtime update: the equilibrium test in its mode, else the
// current model's Run where Run can compute it.
void RunAnalysis(TXLAWindow& window) {
  if (bEqTestMode) {
    RunEquilibriumTest(window);
  } else if (RunnableModelActive()) {
    window.CmRun();
  }
}

void StopWithMessage(TXLAWindow& window, const char* text) {
  StopRealtimeUpdate(window);
  PlayOkSound();
  CommandMessageBox(window, text, "REALTIME UPDATE", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

bool StartRealtimeUpdate(TXLAWindow& window) {
  if (DataSet().nScans <= 0 || DataSet().ppScanFileNames.size() < 2) {
    PlayErrorSound();
    CommandMessageBox(window, "load data first", "ERROR", MB_OK);
    return false;
  }
  StoreFileList(0);
  gWatch = Watch();
  gWatch.directory = DataSet().szDataDirectory;
  gWatch.extension = Lower(fs::path(DataSet().ppScanFileNames[1]).extension().string());
  gWatch.seen = LookAtDirectory();
  bRealtimeUpdateMode = true;
  bStopRealtimeUpdate = false;
  bKeyLatch = false;
  window.GetHandle().SetTimer(static_cast<int>(kRealtimeTimerId), kRealtimeIntervalMs);
  window.GetHandle().CheckMenuItem(kCmRealtimeUpdate, true);
  SetStatus(Format("realtime update of %s (*%s): %d scans", gWatch.directory.c_str(),
                   gWatch.extension.c_str(), DataSet().nScans),
            "started at " + ClockText() + ", looking every 60 sec (any key: now)");
  window.RepaintMain();
  return true;
}

void StopRealtimeUpdate(TXLAWindow& window) {
  window.GetHandle().KillTimer(static_cast<int>(kRealtimeTimerId));
  window.GetHandle().CheckMenuItem(kCmRealtimeUpdate, false);
  bRealtimeUpdateMode = false;
  bStopRealtimeUpdate = false;
  SetStatus("", "");
  window.RepaintMain();
}

bool RealtimeUpdateTick(TXLAWindow& window) {
  // A key pressed while the update computes aborts the computation; it does not
  // start a second update inside the first.
  if (!bRealtimeUpdateMode || gTickRunning) return false;
  if (bStopRealtimeUpdate) {
    StopWithMessage(window, "realtime update stopped by user interrupt");
    return false;
  }
  bKeyLatch = false;  // the key that asked for this tick is spent

  const std::map<std::string, FileStamp> now = LookAtDirectory();
  StoreFileList(0);
  std::vector<std::string> list(FileList().ppStoredFileNames.begin() + 1,
                                FileList().ppStoredFileNames.begin() + 1 + FileList().nStoredFiles);
  bool changed = false;
  for (const std::string& path : list) {
    const auto was = gWatch.seen.find(path);
    const auto is = now.find(path);
    if (is != now.end() && (was == gWatch.seen.end() || !(was->second == is->second))) changed = true;
  }
  for (const auto& [path, stamp] : now) {
    if (gWatch.seen.count(path) || std::find(list.begin(), list.end(), path) != list.end()) continue;
    list.push_back(path);  // new, by name (the map's order)
    changed = true;
  }
  if (!changed) {
    szRealtimeLine2 = "no new data at " + ClockText() + ", looking every 60 sec (any key: now)";
    window.RepaintMain();
    return false;
  }

  // The banner says what the update does now: a box of the reload or of the Run
  // (a stopped Run's note) opens over it, not over the last tick's "no new data".
  szRealtimeLine2 = "new data at " + ClockText() + ": loading and analysing (any key: stop)";
  window.RepaintMain();

  gTickRunning = true;
  FileList().nStoredFiles = static_cast<int>(list.size());
  FileList().ppStoredFileNames.assign(1, std::string());
  FileList().ppStoredFileNames.insert(FileList().ppStoredFileNames.end(), list.begin(), list.end());
  AnalysisSwitches().bRealtimeMode = true;
  AnalysisSwitches().bRealtimeLoadError = false;
  AnalysisSwitches().bEqTestRunning = bEqTestMode;
  ReloadDataSelection(&window.GetHandle(), FrontEndAnswers());
  AnalysisSwitches().bRealtimeMode = false;
  const bool loadFailed = AnalysisSwitches().bRealtimeLoadError;
  AnalysisSwitches().bRealtimeLoadError = false;
  if (loadFailed) {
    // A file still being written reads as broken: the next tick tries again, as
    // the watched stamps were not taken over.
    AnalysisSwitches().bEqTestRunning = false;
    gTickRunning = false;
    szRealtimeLine2 = "load error at " + ClockText() + ", trying again at the next update";
    window.RepaintMain();
    return false;
  }
  gWatch.seen = now;
  RunAnalysis(window);
  AnalysisSwitches().bEqTestRunning = false;
  gTickRunning = false;
  if (bStopRealtimeUpdate) {
    StopWithMessage(window, "realtime update stopped by user interrupt");
    return true;
  }
  if (bDistZoomKept) ZoomDistributionPlot(window, fDistZoomX1, fDistZoomX2);
  SetStatus(Format("realtime update of %s (*%s): %d scans", gWatch.directory.c_str(),
                   gWatch.extension.c_str(), DataSet().nScans),
            "updated at " + ClockText() + ", looking every 60 sec (any key: now)");
  window.RepaintMain();
  return true;
}

const MetaFile* RedrawEqTestPlot() {
  if (!bEqTestView || !pAuxPlot || !pAuxPlot->Redraw()) return nullptr;
  return pAuxPlot->hPicture.get();
}

void ResetRealtimeUpdate() {
  gWatch = Watch();
  gTickRunning = false;
  bRealtimeUpdateMode = false;
  szRealtimeLine1.clear();
  szRealtimeLine2.clear();
}

void TXLAWindow::CmRealtimeUpdate() {
  StartRealtimeUpdate(*this);
}

void TXLAWindow::CmStopRealtimeUpdate() {
  if (bRealtimeUpdateMode) StopRealtimeUpdate(*this);
}

void TXLAWindow::CmTestApproachToEquilibrium() {
  if (!RequireLoadedData(*this)) return;
  // The test follows the scans as the instrument records them: every realtime
  // update runs it again.
  bEqTestMode = true;
  RunEquilibriumTest(*this);
  if (!bRealtimeUpdateMode) StartRealtimeUpdate(*this);
}

}  // namespace tarmic
