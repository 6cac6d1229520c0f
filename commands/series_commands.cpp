// Serialize fit: the current analysis over a series of data sets, without
// questions (bBatchMode). Commands 593 "Serialize Fit by Cell or dir#" (the loaded
// set's files in the other cells, or in other numbered directories) and 904
// "Serialize Fit by list.* File" (one scan-list file per data set).
//
// For every data set: load it (which runs the current model), offer the saved
// parameters of its last analysis (taken when the user chose "restore previous
// params if available?"), run again or fit, and for continuous distributions make
// the chosen number of Monte-Carlo sets with the integral statistics between two
// limits. The result of each data set is written next to it (the distribution, or
// the fit-parameter report of a discrete model), the Monte-Carlo integrals of the
// whole series to "MCintegrals.txt" in the first data set's directory. A data set
// that fails is reported at the end with its reason (the series error code's
// text) and the series goes on; after an interrupted fit or a key press the user
// is asked "stop series?".
#include <filesystem>
#include <functional>
#include <utility>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/xla_window.h"
#include "commands/command_support.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_grid.h"
#include "modelcalc/conti_monte_carlo.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/parameter_report.h"
#include "modelcalc/fit_series.h"
#include "modelfit/model_flags.h"
#include "storage/atomic_file.h"
#include "services/answer_policy.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSeriesCaption = "SERIALIZE FIT";
constexpr float kMonteCarloConfidence = 0.68f;  // the P of the "MCintegrals" header

struct SeriesSettings {
  bool restore = false;
  bool fit = false;
  int monteCarloSets = 0;  // 0: none
  float smin = 0.0f;
  float smax = 0.0f;
};

// A data set of the series: its name in the report and how it is loaded (false,
// with the reason, when it could not be).
struct SeriesDataSet {
  std::string label;
  std::function<bool(std::string* why)> load;
};

// The questions of the series; nothing on Cancel of a number.
std::optional<SeriesSettings> AskSettings(TXLAWindow& window) {
  SeriesSettings s;
  s.restore = AskYesNo(window, "restore previous params if available?", kSeriesCaption);
  s.fit = AskYesNo(window, "fit each data set? (No: run only)", kSeriesCaption);
  if (!ModelFlags().bContiModel) return s;
  float sets = 0.0f;
  if (!AskFloat(window, &sets, 0.0f, "Monte-Carlo data sets per data set (0: none)", kSeriesCaption,
                {kMonteCarloSets.name, "", ZeroOr(kMonteCarloSets.range)}))
    return std::nullopt;
  s.monteCarloSets = sets >= 2.0f ? static_cast<int>(sets) : 0;
  if (s.monteCarloSets > 0 && !AskIntegrationLimits(window, kSeriesCaption, &s.smin, &s.smax))
    return std::nullopt;
  return s;
}

// Whether the list load left a complete data set; a failed load leaves the count
// of listed scans without their arrays, which is set back to no data.
bool DataSetLoaded() {
  if (DataSet().nScans > 0 && DataSet().ppScanFileNames.size() > static_cast<std::size_t>(DataSet().nScans) &&
      DataSet().pnPoints.size() > static_cast<std::size_t>(DataSet().nScans))
    return true;
  DataSet().nScans = 0;
  return false;
}

// Loads the files (full paths) as the data set through the stored file list.
bool LoadFiles(TXLAWindow& window, const std::vector<std::string>& files, std::string* why) {
  for (const std::string& f : files) {
    std::error_code ec;
    if (!fs::is_regular_file(f, ec)) {
      *why = "cannot open " + f;
      return false;
    }
  }
  FileList().nStoredFiles = static_cast<int>(files.size());
  FileList().ppStoredFileNames.assign(1, std::string());
  FileList().ppStoredFileNames.insert(FileList().ppStoredFileNames.end(), files.begin(), files.end());
  DataSet().szDataDirectory = DirectoryOf(files.front());
  LoadDataFromFileList(&window.GetHandle(), FrontEndAnswers());
  if (!DataSetLoaded()) {
    *why = "the scan files could not be loaded";
    return false;
  }
  return true;
}

bool LoadListFile(TXLAWindow& window, const std::string& path, std::string* why) {
  if (!ReadScanListFile(&window.GetHandle(), path.c_str(), true)) {
    DataSetLoaded();
    *why = "cannot read the list file";
    return false;
  }
  LoadDataFromFileList(&window.GetHandle(), FrontEndAnswers());
  if (!DataSetLoaded()) {
    *why = "the scan files of the list could not be loaded";
    return false;
  }
  return true;
}

// Whether the series may replace result files that exist: asked once, at the first
// one met (the series runs without questions otherwise); 0 until then, 1 Yes, -1 No.
int gReplaceResults = 0;

// The series' question before its results replace files: asked once, out of batch
// mode, for the first existing result; the answer holds for the rest of the series.
bool MayReplaceResult(TXLAWindow& window, const std::string& target) {
  if (gReplaceResults == 0 && FileExists(target.c_str())) {
    const bool batch = std::exchange(bBatchMode, false);
    gReplaceResults = MayReplace(window, {target}) ? 1 : -1;
    bBatchMode = batch;
  }
  return gReplaceResults >= 0 || !FileExists(target.c_str());
}

// Writes the result of the analysis next to the data set: the distribution, or the
// report of the fitted parameters. A result that would replace a file the user
// declined to replace is not written (false).
bool WriteResult(TXLAWindow& window) {
  if (DataSet().ppScanFileNames.size() < 2) return false;
  const std::string first = ScanFilePath(1);
  if (ModelFlags().bContiModel) {
    const std::string ext = ExtensionOf(first);
    const std::string target = first.substr(0, first.size() - ext.size()) + "_distribution.dat";
    if (!MayReplaceResult(window, target)) return false;
    const DistributionFileResult saved = SaveContiDistribution(target);
    if (!saved) ShowError(saved.message, false);
    return saved.ok;
  }
  if (!MayReplaceResult(window, ParameterReportPath(first))) return false;
  return ReportSave(WriteParameterReport(&window.GetHandle(), first));
}

// Why the folder "MC" of the last data set could not be made.
std::string gMCDirectoryFailure;

// Monte Carlo of the distribution of the data set; its integral statistics (zeros
// when none could be made) are the row of "MCintegrals".
void MonteCarloOfDataSet(TXLAWindow& window, const SeriesSettings& s) {
  std::fill(ContiMonteCarlo().MCIntegralStats, ContiMonteCarlo().MCIntegralStats + 8, 0.0f);
  if (!ModelFlags().bContiModel || !AnalysisSwitches().bModelComputed) return;
  const std::string directory = JoinPath(DataSet().szDataDirectory, "MC");
  std::error_code ec;
  fs::create_directories(directory, ec);
  if (!fs::is_directory(directory)) {
    gMCDirectoryFailure = SystemReason(directory, ec ? ec.value() : ENOTDIR);
    nSeriesErrorCode = 7;
    return;
  }
  Window* handle = &window.GetHandle();
  window.bRunInProgress = true;
  MonteCarloDistributions(handle, s.monteCarloSets, kMonteCarloConfidence,
                          JoinPath(directory, "montecarlo.dat"), false);
  if (MonteCarloResultsAvailable()) MonteCarloSwStatistics(handle, s.smin, s.smax);
  window.bRunInProgress = false;
  EndMonteCarloDistributions(handle);
}

void RunSeries(TXLAWindow& window, const SeriesSettings& s, const std::vector<SeriesDataSet>& sets) {
  const bool restoreWas = FitPersistence().bRestorePreviousParams;
  FitPersistence().bRestorePreviousParams = s.restore;
  bBatchMode = true;
  gReplaceResults = 0;
  std::vector<std::string> failures;
  std::vector<std::string> monteCarloRows;
  std::string seriesDirectory;
  int analysed = 0;
  int tried = 0;
  for (const SeriesDataSet& set : sets) {
    ++tried;
    nSeriesErrorCode = 0;
    bSeriesInterrupted = false;
    bUserAbort = false;
    std::string why;
    if (!set.load(&why)) {
      failures.push_back(set.label + ": " + why);
    } else {
      if (seriesDirectory.empty()) seriesDirectory = DataSet().szDataDirectory;
      const int reloaded = OfferReloadParameters(&window.GetHandle(), FrontEndAnswers());
      if (s.fit) {
        window.CmFit();
      } else if (reloaded) {
        window.CmRun();  // the load ran with the parameters before the reload
      }
      if (!AnalysisSwitches().bModelComputed) {
        failures.push_back(set.label + ": no result (the model was not computed)");
      } else {
        if (s.monteCarloSets > 0) {
          MonteCarloOfDataSet(window, s);
          monteCarloRows.push_back(MCIntegralsRow(s.smin, s.smax, ContiMonteCarlo().MCIntegralStats));
          const std::string integrals = JoinPath(seriesDirectory, "MCintegrals.txt");
          if (!WriteMCIntegralsFile(integrals, monteCarloRows))
            failures.push_back(WithReason(set.label + ": MCintegrals.txt could not be written",
                                          SaveFailureReason(integrals)));
        }
        if (!WriteResult(window)) failures.push_back(set.label + ": the result could not be written");
        ++analysed;
      }
      if (nSeriesErrorCode != 0)
        failures.push_back(WithReason(set.label + ": " + SeriesErrorMessage(nSeriesErrorCode),
                                      nSeriesErrorCode == 7 ? gMCDirectoryFailure : std::string()));
    }
    // An interrupted fit, or a key pressed during the data set, asks whether to go on.
    if (CheckKeyPress()) bSeriesInterrupted = true;
    if (bSeriesInterrupted) {
      bSeriesInterrupted = false;
      if (AskYesNo(window, "stop series?", kSeriesCaption)) break;
    }
  }
  bBatchMode = false;
  FitPersistence().bRestorePreviousParams = restoreWas;
  nSeriesErrorCode = 0;
  std::string report = Format("serialize fit: %d of %d data sets analysed", analysed, tried);
  if (tried < static_cast<int>(sets.size())) report += Format(" (stopped, %d not begun)", static_cast<int>(sets.size()) - tried);
  for (const std::string& f : failures) report += "\n" + f;
  if (!failures.empty()) PlayErrorSound();
  CommandMessageBox(window, report, kSeriesCaption, MB_OK | MB_ICONINFORMATION);
  window.RepaintMain();
}

// The loaded files with the cell digit (the extension's last character) set to c.
std::vector<std::string> FilesInCell(const std::vector<std::string>& files, int cell) {
  std::vector<std::string> out;
  for (std::string f : files) {
    if (!ExtensionOf(f).empty()) f.back() = static_cast<char>('0' + cell);
    out.push_back(f);
  }
  return out;
}

// The loaded files with their directory's last component replaced by the number.
std::vector<std::string> FilesInDirectory(const std::vector<std::string>& files, int number) {
  std::vector<std::string> out;
  for (const std::string& f : files) {
    const fs::path p(f);
    out.push_back((p.parent_path().parent_path() / std::to_string(number) / p.filename()).string());
  }
  return out;
}

bool AllExist(const std::vector<std::string>& files) {
  std::error_code ec;
  for (const std::string& f : files)
    if (!fs::is_regular_file(f, ec)) return false;
  return !files.empty();
}

}  // namespace

void TXLAWindow::CmSerializeFitByCell() {
  if (!RequireLoadedData(*this)) return;
  StoreFileList(0);
  const std::vector<std::string> loaded(FileList().ppStoredFileNames.begin() + 1,
                                        FileList().ppStoredFileNames.begin() + 1 + FileList().nStoredFiles);
  std::vector<std::vector<std::string>> lists;
  std::vector<std::string> labels;
  if (AskYesNo(*this, "serialize by cell? (No: by directory number)", kSeriesCaption)) {
    for (int cell = 1; cell <= 8; ++cell) {
      std::vector<std::string> files = FilesInCell(loaded, cell);
      if (!AllExist(files)) continue;
      lists.push_back(std::move(files));
      labels.push_back(Format("cell %d", cell));
    }
  } else {
    float first = 1.0f, last = 1.0f;
    if (!AskFloat(*this, &first, 1.0f, "first directory number", kSeriesCaption,
                  NamedAs("first directory number", kDirectoryNumber)))
      return;
    // The last from the first on.
    if (!AskFloat(*this, &last, first, "last directory number", kSeriesCaption,
                  {"last directory number", "", Count(first, kDirectoryNumber.range.high)}))
      return;
    for (int n = TruncateToInt(first); n <= TruncateToInt(last); ++n) {
      lists.push_back(FilesInDirectory(loaded, n));
      labels.push_back(Format("directory %d", n));
    }
  }
  if (lists.empty()) {
    CommandMessageBox(*this, "no data sets found for the series", kSeriesCaption, MB_OK);
    return;
  }
  const std::optional<SeriesSettings> settings = AskSettings(*this);
  if (!settings) return;
  std::vector<SeriesDataSet> sets;
  for (std::size_t k = 0; k < lists.size(); ++k) {
    const std::vector<std::string> files = lists[k];
    sets.push_back({labels[k], [this, files](std::string* why) { return LoadFiles(*this, files, why); }});
  }
  RunSeries(*this, *settings, sets);
}

void TXLAWindow::CmSerializeFitByList() {
  FileDialogOptions options;
  options.title = "select the list files of the series";
  options.filter = "List Files (list*.*)|list*.*|All Files (*.*)|*.*";
  options.directory = DataSet().szDataDirectory;
  options.multiSelect = true;
  const bool previous = bModalBoxOpen;
  bModalBoxOpen = true;
  const std::vector<std::string> lists = GetBackend().OpenFileDialog(options);
  bModalBoxOpen = previous;
  if (lists.empty()) return;
  const std::optional<SeriesSettings> settings = AskSettings(*this);
  if (!settings) return;
  std::vector<SeriesDataSet> sets;
  for (const std::string& path : lists)
    sets.push_back({path, [this, path](std::string* why) { return LoadListFile(*this, path, why); }});
  RunSeries(*this, *settings, sets);
}

}  // namespace tarmic
