#include "scandata/scan_loading.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include "storage/atomic_file.h"
#include "numerics/analysis.h"
#include "numerics/cvector.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "numerics/text_lines.h"
#include "text/number_token.h"
#include "services/run_switches.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "platform/backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/file_list.h"
#include "scandata/program_files.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/scan_times_check.h"
#include "scandata/temperature_check.h"
#include "scandata/text_io.h"
#include "scandata/time_stamps.h"

namespace tarmic {

namespace {

// One scan read from its file but not yet part of the data set. It owns its
// arrays until they are handed to the set.
class StagedScan {
 public:
  StagedScan() = default;
  StagedScan(const StagedScan&) = delete;
  StagedScan& operator=(const StagedScan&) = delete;
  StagedScan(StagedScan&& o) noexcept { *this = std::move(o); }
  StagedScan& operator=(StagedScan&& o) noexcept {
    if (this != &o) {
      Free();
      name = std::move(o.name);
      info = std::move(o.info);
      kind = o.kind;
      notes = std::move(o.notes);
      n = o.n;
      radius = std::exchange(o.radius, nullptr);
      signal = std::exchange(o.signal, nullptr);
      third = std::exchange(o.third, nullptr);
    }
    return *this;
  }
  ~StagedScan() { Free(); }

  // Hands the arrays to scan slot s of the data set.
  void InstallAs(int s, bool thirdCurve) {
    auto& dataSetPart = DataSet();
    dataSetPart.ppScanFileNames[static_cast<std::size_t>(s)] = name;
    dataSetPart.pScanInfo[static_cast<std::size_t>(s)] = info;
    InstallScanArrays(s, n, std::exchange(radius, nullptr), std::exchange(signal, nullptr),
                      std::exchange(third, nullptr), thirdCurve);
  }

  std::string name;  // name and extension
  ScanInfo info;
  ScanDataKind kind;               // the file's kind, put in force when the set is accepted
  std::vector<std::string> notes;  // what the reader noted (ReadScanFile)
  int n = 0;
  float* radius = nullptr;
  float* signal = nullptr;
  float* third = nullptr;

 private:
  void Free() {
    if (radius) free_vector(radius, 1, n);
    if (signal) free_vector(signal, 1, n);
    if (third) free_vector(third, 1, n);
    radius = signal = third = nullptr;
  }
};

const DataSetHooks& Hooks() { return GetDataSetHooks(); }

void ProgressBegin(Window* window) {
  if (Hooks().progressBegin) Hooks().progressBegin(window);
}
void ProgressUpdate(float fraction) {
  if (Hooks().progressUpdate) Hooks().progressUpdate(fraction);
}
void ProgressEnd() {
  if (Hooks().progressEnd) Hooks().progressEnd();
}
void DebugLog(Window* window, const std::string& text) {
  if (Hooks().writeDebugLog) Hooks().writeDebugLog(window, text);
}
void RepaintMain(Window* window) {
  if (window) window->Invalidate();
}

// The loaders' boxes go to the commands (ShowLoadMessage). A refusal: the error
// sound and a box with one OK button.
void ErrorBox(Window* window, LoadMessageId id, const std::string& text, const char* caption,
              const std::string& file = {}) {
  ShowLoadMessage(window, {id, text, caption, MB_OK | MB_ICONEXCLAMATION, LoadMessage::Sound::Error, file});
}

bool AskYesNo(Window* window, LoadMessageId id, const std::string& text, const char* caption) {
  return ShowLoadMessage(window, {id, text, caption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2,
                                  LoadMessage::Sound::None}) == IDYES;
}

// A note on what is (or is not) loaded: the info sound and an "ATTENTION" box.
void AttentionBox(Window* window, LoadMessageId id, const std::string& text) {
  ShowLoadMessage(window,
                  {id, text, "ATTENTION", MB_OK | MB_ICONINFORMATION, LoadMessage::Sound::Info});
}

// Minimum point spacing for the reader: the grid spacing when it is coarser than
// 0.001 cm, except for equilibrium data.
float ReaderMinStep() { return (!DataSet().bEquilibriumMode && RadialGrid().fRadialStep > 0.001f) ? RadialGrid().fRadialStep : 0.0f; }

// Reads one file into a staged scan (intensity scans keep the file's order: sample
// in the signal, reference in the third column, see intensity_scans.h); with
// applyW2t the time is derived from omega^2 t. inForce: the kind of the file read
// before it (ReadScanFileAndKind); nothing is put in force.
bool ReadStaged(const std::string& path, float minStep, bool applyW2t, const ScanDataKind& inForce,
                StagedScan* out, std::string* why) {
  StagedScan scan;
  scan.name = FileNameOf(path);
  bool mark = false;
  if (!ReadScanFileAndKind(path.c_str(), inForce, &scan.kind, &scan.info, &scan.n, &scan.radius,
                           &scan.signal, &scan.third, &mark, minStep, why, &scan.notes))
    return false;
  // Every scan is found again where it was read from (scans added from another
  // folder too).
  scan.info.sourcePath = path;
  if (AnalysisSwitches().bTimesFromW2t && applyW2t) {
    const double w = scan.info.rpm * kTwoPiOver60;
    scan.info.time = scan.info.omega2t / (w * w);
  }
  *out = std::move(scan);
  return true;
}

// Puts the files kept by a filter of the selection in its place and says what was
// left out (in the log in real-time and batch mode); false, with the refusal, when
// nothing is left.
bool TakeKeptFiles(Window* window, std::vector<std::string>* paths, std::vector<std::string> kept,
                   const std::string& note, const char* noneLeft) {
  if (kept.empty()) {
    ErrorBox(window, LoadMessageId::NoScanFiles, noneLeft + ("\n" + note), "LOAD ERROR");
    return false;
  }
  if (AnalysisSwitches().bRealtimeMode || bBatchMode)
    DebugLog(window, "\n" + note);
  else
    AttentionBox(window, LoadMessageId::FilesLeftOut, note);
  *paths = std::move(kept);
  return true;
}

// Leaves the files this program wrote beside the scans out of a selection of full
// paths: a note names them (the diagnostics log in realtime and batch runs); false
// after "no scan files selected" when none is left.
bool KeepScanFiles(Window* window, std::vector<std::string>* paths) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  ScanSelectionFilter filter = FilterScanSelection(*paths);
  if (!filter.AnyLeftOut()) return true;
  const std::string note = LeftOutFilesNote(filter);
  if (TakeKeptFiles(window, paths, std::move(filter.kept), note, "no scan files selected")) return true;
  if (analysisSwitchesPart.bRealtimeMode) analysisSwitchesPart.bRealtimeLoadError = true;
  return false;
}

// Whether path names the file of a loaded scan (the same file, whatever the
// spelling of its path).
bool IsLoadedScanFile(const std::string& path) {
  auto& dataSetPart = DataSet();
  namespace fs = std::filesystem;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    std::error_code ec;
    const std::string loaded = ScanFilePath(s);
    if (loaded == path || fs::equivalent(fs::path(loaded), fs::path(path), ec)) return true;
  }
  return false;
}

// Leaves the files of scans already loaded out of an addition (a scan loaded twice
// would count twice in every fit) and says which; false when none is left.
bool LeaveOutLoadedFiles(Window* window, std::vector<std::string>* paths) {
  std::vector<std::string> kept;
  std::string skipped;
  for (const std::string& path : *paths) {
    if (IsLoadedScanFile(path))
      skipped += "\n" + path;
    else
      kept.push_back(path);
  }
  if (skipped.empty()) return true;
  return TakeKeptFiles(window, paths, std::move(kept), "already loaded, not added again:" + skipped,
                       "no new scan files selected");
}

// The reader's notes of a staged scan, with its path.
void CollectNotes(const std::string& path, const StagedScan& scan, std::vector<FileNote>* notes) {
  for (const std::string& text : scan.notes) notes->push_back({path, text});
}

// The kind of the staged scans: that of the last file read, which the next file
// takes as the kind in force; the kind in force while none is staged. The loaders
// put it in force once the set is accepted.
ScanDataKind KindOfStaged(const std::vector<StagedScan>& scans) {
  return scans.empty() ? ScanDataKind::InForce() : scans.back().kind;
}

std::string ReadFailureText(const std::string& path, const std::string& why) {
  return why.empty() ? path : path + "\n" + why;
}

// Whether the grid of the staged scans, of the given kind, can be built (reported
// when not).
bool StagedGridIsBuildable(const std::vector<StagedScan>& scans, bool addToLoaded,
                           const ScanDataKind& kind) {
  std::vector<const float*> radii;
  std::vector<int> counts;
  if (addToLoaded)
    for (int i = 1; i <= DataSet().nScans; ++i) {
      radii.push_back(DataSet().ppRadius[static_cast<std::size_t>(i)]);
      counts.push_back(DataSet().pnPoints[static_cast<std::size_t>(i)]);
    }
  for (const StagedScan& s : scans) {
    radii.push_back(s.radius);
    counts.push_back(s.n);
  }
  if (radii.empty()) return true;
  bool copies = kind.absorbance || kind.intensity || (AnalysisSwitches().bEqAnalysisModel && kind.interference);
  for (std::size_t i = 1; i < radii.size(); ++i)
    if (counts[i] != counts[0] || radii[i][1] != radii[0][1]) copies = true;
  if (!copies) return true;
  double first = 0.0, last = 0.0;
  for (std::size_t i = 0; i < radii.size(); ++i) {
    first += radii[i][1];
    last += radii[i][counts[i]];
  }
  const double m = static_cast<double>(radii.size());
  return RadialGridIsBuildable(static_cast<float>(first / m), static_cast<float>(last / m), true);
}

// Display order by elapsed time, ascending; scans with equal times keep their
// loading order (a gnome sort: swap neighbours out of order and step back).
void SortScanOrderByTime() {
  auto& dataSetPart = DataSet();
  int i = 2;
  while (i <= dataSetPart.nScans) {
    const double before = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(i - 1)])].time;
    const double here = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(i)])].time;
    if (before > here) {
      std::swap(dataSetPart.pScanOrder[static_cast<std::size_t>(i - 1)], dataSetPart.pScanOrder[static_cast<std::size_t>(i)]);
      if (i > 2) --i;
    } else {
      ++i;
    }
  }
}

// "~tmppars" and "sdist" with the data's extension in the data directory (under the
// old file-name convention the parameters are named after the first scan).
void SetDerivedPaths() {
  auto& dataSetPart = DataSet();
  if (dataSetPart.nScans < 1) return;
  const std::string& first = dataSetPart.ppScanFileNames[1];
  const std::string ext = ExtensionOf(first);
  if (AnalysisSwitches().bOldFilenameConvention)
    dataSetPart.szTmpParsPath = JoinPath(dataSetPart.szDataDirectory, first.substr(0, first.size() - ext.size()) + ".~p");
  else
    dataSetPart.szTmpParsPath = JoinPath(dataSetPart.szDataDirectory, "~tmppars" + ext);
  dataSetPart.szSdistPath = JoinPath(dataSetPart.szDataDirectory, "sdist" + ext);
}

// Temperature of the last loaded scan, as K and as R T.
void SetTemperatureFromLastScan() {
  auto& dataSetPart = DataSet();
  const double celsius = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.nScans)].temperature;
  dataSetPart.fTemperatureK = static_cast<float>(celsius + 273.15);
  dataSetPart.fRT = static_cast<float>((celsius + 273.15) * kGasConstant);
}

// Replaces the loaded set by the staged scans.
void InstallStagedSet(std::vector<StagedScan>& scans) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& scanFilePart = ScanFile();
  if (dataSetPart.nScans > 0) {
    if (Hooks().freeCtotArrays) Hooks().freeCtotArrays();
    FreeDataSet();
    if (dataSetPart.bDLSData) dataSetPart.fMeniscus = dataSetPart.fBottom = 0.0f;
  }
  AllocScanTables(static_cast<int>(scans.size()));
  for (std::size_t i = 0; i < scans.size(); ++i) scans[i].InstallAs(static_cast<int>(i) + 1, scanFilePart.bIntensityData);
  if (scanFilePart.bIntensityData) {
    analysisSwitchesPart.bInitialDataProfile = false;
    analysisSwitchesPart.bUniformLoading = true;
  }
}

// What follows the reading of a new set: geometry, order, grid, limits and the
// analysis switches (steps common to every loader).
void SetUpLoadedSet() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& scanFilePart = ScanFile();
  dataSetPart.bDLSData = false;
  analysisSwitchesPart.bModelComputed = false;
  SetDerivedPaths();
  SetTemperatureFromLastScan();

  // Without a meniscus, the first radius of the data stands for it: the true one
  // lies at or below the data's start.
  const bool meniscusGuessed = dataSetPart.fMeniscus == 0;
  if (meniscusGuessed) dataSetPart.fMeniscus = dataSetPart.ppRadius[1][1];
  if (dataSetPart.fBottom == 0) dataSetPart.fBottom = dataSetPart.ppRadius[1][dataSetPart.pnPoints[1]];
  analysisSwitchesPart.pParams[13] = dataSetPart.fMeniscus;
  analysisSwitchesPart.pParams[14] = dataSetPart.fBottom;
  if (dataSetPart.fFitLeftLim == 0) dataSetPart.fFitLeftLim = static_cast<float>(dataSetPart.fMeniscus + 0.005);
  if (dataSetPart.fFitRightLim == 0) dataSetPart.fFitRightLim = static_cast<float>(dataSetPart.fBottom - 0.15);
  dataSetPart.bFitRangesSet = false;
  SetDefaultFitLimits();
  // Data are often cut a few hundredths of a centimetre beyond the meniscus (its
  // optical artefact): the range below a guessed meniscus reaches 0.05 cm, so that
  // a true meniscus there is not at its end.
  constexpr float kGuessedMeniscusDepth = 0.05f;  // cm
  if (meniscusGuessed && dataSetPart.fMinMeniscus != 0.0f)
    dataSetPart.fMinMeniscus = std::min(dataSetPart.fMinMeniscus, dataSetPart.fMeniscus - kGuessedMeniscusDepth);

  SortScanOrderByTime();
  if (analysisSwitchesPart.bEqAnalysisModel && scanFilePart.bInterferenceData) {
    scanFilePart.bInterferenceData = false;
    scanFilePart.bAbsorbanceData = true;
  }
  BuildCommonRadialGrid();
  if (dataSetPart.fFitLeftLim != 0) SetLeftFitLimitIndices();
  if (dataSetPart.fFitRightLim != 0) SetRightFitLimitIndices();

  if (!analysisSwitchesPart.bRealtimeMode) {
    if (scanFilePart.bInterferenceData || analysisSwitchesPart.bEqAnalysisModel) analysisSwitchesPart.bFitTINoise = analysisSwitchesPart.bFitRINoise = true;
    // The option and its switch in the parameter vector, from which the model
    // commands and the parameter dialog take it.
    analysisSwitchesPart.bBaselineOption = 1;
    analysisSwitchesPart.pParamFitFlags[15] = 1;
    if (scanFilePart.bElectrophoresisMode) {
      SwitchOffRampRotorSpeed();
      SwitchOffTimesFromW2t();
    }
    if (analysisSwitchesPart.bFitTINoise || analysisSwitchesPart.bFitRINoise) {
      if (Hooks().createNoiseButtons) Hooks().createNoiseButtons(nullptr);
    } else {
      if (Hooks().deleteNoiseButtons) Hooks().deleteNoiseButtons(nullptr);
    }
  }
  dataSetPart.dSignalPerConcentration = scanFilePart.bInterferenceData ? 3.3 : 1.0;
}

void RebuildPlots() {
  if (Hooks().rebuildDataAndResidualPlots) Hooks().rebuildDataAndResidualPlots();
}

// Records both plots again after a rebuild and asks for the window to be painted.
void RedrawPlotsAndRepaint(Window* window) {
  if (Hooks().redrawDataPlot) Hooks().redrawDataPlot(true);
  if (Hooks().redrawResidualPlot) Hooks().redrawResidualPlot(true);
  RepaintMain(window);
}

// Temperatures of the new set that differ by tolerance or more: the temperature
// plot, then the note in an "ERROR" box.
void ShowTemperatureNote(Window* window, float tolerance) {
  const std::string note = TemperatureFluctuationNote(tolerance);
  if (note.empty()) return;
  if (Hooks().showTemperaturePlot) Hooks().showTemperaturePlot(window);
  ShowLoadMessage(window,
                  {LoadMessageId::TemperatureFluctuation, note, "ERROR", MB_OK | MB_ICONERROR, LoadMessage::Sound::Error});
}

// Velocity scans that all hold one time, or scans loaded as the other kind of run
// than they show (a velocity run loaded as equilibrium data, equilibrium data loaded
// as a velocity run): the note in an "ATTENTION" box.
void ShowScanTimesNote(Window* window) {
  if (const std::string note = ScanTimesNote(); !note.empty()) AttentionBox(window, LoadMessageId::ScanTimes, note);
  if (const std::string note = VelocityRunAsEquilibriumNote(); !note.empty())
    AttentionBox(window, LoadMessageId::VelocityRunAsEquilibrium, note);
  if (const std::string note = EquilibriumRunAsVelocityNote(); !note.empty())
    AttentionBox(window, LoadMessageId::EquilibriumRunAsVelocity, note);
}

enum class ReloadKind { Selection, FileList };

// After the files of a set were read under reading (the attempt-th time, from 0):
// 1 when they are the set held; 0 when they changed meanwhile and are to be read
// again (the first time); -1 when they changed again: the load is refused, with
// the reason shown.
int SetReadWhole(Window* window, FolderReading& reading, int attempt) {
  std::string changed;
  switch (reading.AfterReading(attempt, &changed)) {
    case FolderReading::SetRead::Whole: return 1;
    case FolderReading::SetRead::ReadAgain: return 0;
    case FolderReading::SetRead::Refused: break;
  }
  ErrorBox(window, LoadMessageId::UnreadableFile, changed, "LOAD ERROR");
  return -1;
}

// Reads every file of the stored list; false (reported, set untouched) on failure.
bool ReadStoredList(Window* window, std::vector<StagedScan>* scans, std::vector<FileNote>* notes) {
  auto& scanFilePart = ScanFile();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& fileListPart = FileList();
  if (fileListPart.nStoredFiles < 1) return false;
  {
    std::vector<std::string> paths(fileListPart.ppStoredFileNames.begin() + 1,
                                   fileListPart.ppStoredFileNames.begin() + 1 + fileListPart.nStoredFiles);
    if (!KeepScanFiles(window, &paths)) return false;
    if (static_cast<int>(paths.size()) != fileListPart.nStoredFiles) {
      fileListPart.nStoredFiles = static_cast<int>(paths.size());
      fileListPart.ppStoredFileNames.assign(1, std::string());
      fileListPart.ppStoredFileNames.insert(fileListPart.ppStoredFileNames.end(), paths.begin(), paths.end());
    }
  }
  if (fileListPart.nStoredFiles > kMaxScans) {
    ErrorBox(window, LoadMessageId::TooManyScans, TooManyScansText(), "LOAD ERROR");
    if (analysisSwitchesPart.bRealtimeMode) analysisSwitchesPart.bRealtimeLoadError = true;
    return false;
  }
  const float minStep = ReaderMinStep();
  FolderReading reading(std::vector<std::string>(fileListPart.ppStoredFileNames.begin() + 1,
                                                       fileListPart.ppStoredFileNames.begin() + 1 + fileListPart.nStoredFiles));
  FinishInterruptedSaves(window, reading);
  // A set changed while it was read (SetReadWhole) is read once more.
  const std::size_t scansBefore = scans->size(), notesBefore = notes->size();
  for (int attempt = 0;; ++attempt) {
    scans->resize(scansBefore);
    notes->resize(notesBefore);
    for (int i = 1; i <= fileListPart.nStoredFiles; ++i) {
      ProgressUpdate(static_cast<float>(i) / static_cast<float>(fileListPart.nStoredFiles));
      const std::string& path = fileListPart.ppStoredFileNames[static_cast<std::size_t>(i)];
      StagedScan scan;
      std::string why;
      if (!ReadStaged(path, minStep, !scanFilePart.bElectrophoresisMode, KindOfStaged(*scans), &scan, &why)) {
        ErrorBox(window, LoadMessageId::UnreadableFile, ReadFailureText(path, why), "LOAD ERROR", path);
        if (analysisSwitchesPart.bRealtimeMode) analysisSwitchesPart.bRealtimeLoadError = true;
        return false;
      }
      CollectNotes(path, scan, notes);
      scans->push_back(std::move(scan));
    }
    if (const int whole = SetReadWhole(window, reading, attempt); whole != 0) {
      if (whole < 0 && analysisSwitchesPart.bRealtimeMode) analysisSwitchesPart.bRealtimeLoadError = true;
      if (whole < 0) return false;
      break;
    }
  }
  return StagedGridIsBuildable(*scans, false, KindOfStaged(*scans));
}

bool Reload(Window* window, ReloadKind kind, const AnswerPolicy& answers) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& fileListPart = FileList();
  DataSet().bDataChanged = true;
  ProgressBegin(window);
  std::vector<StagedScan> scans;
  std::vector<FileNote> notes;
  if (!ReadStoredList(window, &scans, &notes)) {
    ProgressEnd();
    return false;
  }
  const std::string firstPath = fileListPart.ppStoredFileNames[1];
  KindOfStaged(scans).Apply();
  InstallStagedSet(scans);
  if (kind == ReloadKind::Selection) {
    DataSet().szDataDirectory = DirectoryOf(firstPath);
    analysisSwitchesPart.bVariationRangesAsked = false;
  }
  SetUpLoadedSet();
  RebuildPlots();
  analysisSwitchesPart.bSimulating = false;
  if (kind == ReloadKind::Selection) {
    RedrawPlotsAndRepaint(window);
    if (!analysisSwitchesPart.bRealtimeMode && !bBatchMode && !analysisSwitchesPart.bEqTestRunning) ShowScanTimesNote(window);
    if (!analysisSwitchesPart.bEqTestRunning) ShowFileNotes(window, notes);
  } else {
    AllocSpeciesSignalArrays();
    RunAfterReload(window);
  }
  ProgressEnd();
  if (TimeStamps().bCheckTimeStamps && CheckTimeStamps(window, answers)) ReloadDataSelection(window, answers);
  if (fileListPart.nStoredFiles > 0) TitleWindowWithLoadedSet(window, fileListPart.ppStoredFileNames[1]);
  return true;
}

}  // namespace

void FinishInterruptedSaves(Window* window, const FolderReading& reading) {
  const std::string& note = reading.Note();
  if (note.empty()) return;
  if (AnalysisSwitches().bRealtimeMode || bBatchMode) {
    DebugLog(window, "\n" + note);
    return;
  }
  AttentionBox(window, LoadMessageId::InterruptedSaves, note);
}

void TitleWindowWithLoadedSet(Window* window, const std::string& firstPath) {
  if (!window) return;
  window->SetTitle("SEDIMENTATION ANALYSIS -> " + firstPath + "...");
  ShowDataModeInTitle(window);
}

void ShowDataModeInTitle(Window* window) {
  if (!window) return;
  std::string title = window->Title();
  const std::string mark = kEquilibriumTitleMark;
  if (title.ends_with(mark)) title.resize(title.size() - mark.size());
  if (DataSet().bEquilibriumMode) title += mark;
  window->SetTitle(title);
}

void ShowFileNotes(Window* window, const std::vector<FileNote>& notes) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  if (notes.empty()) return;
  // One paragraph per note, naming the first file that holds it and how many more do.
  std::vector<std::string> texts;
  std::vector<std::string> firstPaths;
  std::vector<int> counts;
  for (const FileNote& note : notes) {
    const auto at = std::find(texts.begin(), texts.end(), note.text);
    if (at != texts.end()) {
      ++counts[static_cast<std::size_t>(at - texts.begin())];
      continue;
    }
    texts.push_back(note.text);
    firstPaths.push_back(note.path);
    counts.push_back(1);
  }
  std::string message;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) message += "\n\n";
    message += firstPaths[i];
    if (counts[i] > 1) message += Format(" (and %d more files)", counts[i] - 1);
    message += ":\n" + texts[i];
  }
  if (analysisSwitchesPart.bRealtimeMode || bBatchMode) {
    DebugLog(window, "\n" + message);
    return;
  }
  AttentionBox(window, LoadMessageId::ReaderNotes, message);
}

bool ParseFileSelection(const char* buffer, FileSelection* out) {
  std::vector<std::string> strings;
  for (const char* p = buffer; p && *p; p += std::strlen(p) + 1) strings.emplace_back(p);
  if (strings.empty()) return false;
  if (strings.size() == 1) {
    out->single = true;
    out->directory = DirectoryOf(strings[0]);
    out->names = {FileNameOf(strings[0])};
  } else {
    out->directory = WithoutTrailingSlash(strings[0]);
    out->names.assign(strings.begin() + 1, strings.end());
  }
  return true;
}

std::string MakeSelectionBuffer(const std::vector<std::string>& fullPaths) {
  std::string buffer;
  if (fullPaths.size() == 1) {
    buffer = fullPaths[0];
    buffer.push_back('\0');
  } else if (fullPaths.size() > 1) {
    buffer = DirectoryOf(fullPaths[0]);
    buffer.push_back('\0');
    for (const std::string& p : fullPaths) {
      buffer += FileNameOf(p);
      buffer.push_back('\0');
    }
  }
  buffer.push_back('\0');
  return buffer;
}

bool LoadAllData(Window* window, const char* selection, const AnswerPolicy& answers) {
  auto& timeStampsPart = TimeStamps();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& scanFilePart = ScanFile();
  ProgressBegin(window);
  DebugLog(window, "\nEnter LoadAllData");
  DataSet().bDataChanged = true;
  float minStep = ReaderMinStep();

  FileSelection sel;
  if (!ParseFileSelection(selection, &sel)) {
    ProgressEnd();
    return false;
  }
  // The first name of each group of nFilesPerScan names is a scan; files this
  // program wrote beside the scans are left out.
  const std::string directory = analysisSwitchesPart.bUseOtherDirectory ? WithoutTrailingSlash(analysisSwitchesPart.szOtherDirectory) : sel.directory;
  const std::size_t group = dataSetPart.nFilesPerScan > 1 ? static_cast<std::size_t>(dataSetPart.nFilesPerScan) : 1;
  std::vector<std::string> scanPaths;
  for (std::size_t i = 0; i < sel.names.size(); i += group)
    scanPaths.push_back(JoinPath(directory, sel.names[i]));
  if (!KeepScanFiles(window, &scanPaths)) {
    ProgressEnd();
    return false;
  }

  // Equilibrium mode, once agreed to, starts with the new set: a load that fails
  // leaves the mode of the loaded set.
  bool switchToEquilibrium = false;
  if (sel.single && !dataSetPart.bEquilibriumMode) {
    ErrorBox(window, LoadMessageId::OneFileSelected, "only one file selected", "ERROR");
    if (!AskYesNo(window, LoadMessageId::SwitchToEquilibrium, "switch to Equilibrium Data Mode?", "LOAD ERROR")) {
      ProgressEnd();
      return false;
    }
    switchToEquilibrium = true;
    minStep = 0.0f;
  }

  if (static_cast<int>(scanPaths.size()) > kMaxScans) {
    ErrorBox(window, LoadMessageId::TooManyScans, TooManyScansText(), "LOAD ERROR");
    if (analysisSwitchesPart.bRealtimeMode) analysisSwitchesPart.bRealtimeLoadError = true;
    ProgressEnd();
    return false;
  }

  // The reader's kind of the files is put in force only with the new set: a load
  // that fails leaves the kind flags of the loaded set.
  std::vector<StagedScan> scans;
  std::vector<FileNote> notes;
  const int count = static_cast<int>(scanPaths.size());
  std::optional<FolderReading> reading(std::in_place, scanPaths);
  FinishInterruptedSaves(window, *reading);
  // A set changed while it was read (SetReadWhole) is read once more.
  for (int attempt = 0;; ++attempt) {
    scans.clear();
    notes.clear();
    for (int i = 1; i <= count; ++i) {
      ProgressUpdate(static_cast<float>(i) / static_cast<float>(count));
      const std::string& path = scanPaths[static_cast<std::size_t>(i - 1)];
      StagedScan scan;
      std::string why;
      if (!ReadStaged(path, minStep, !scanFilePart.bElectrophoresisMode, KindOfStaged(scans), &scan, &why)) {
        ErrorBox(window, LoadMessageId::UnreadableFile, ReadFailureText(path, why), "LOAD ERROR", path);
        if (analysisSwitchesPart.bRealtimeMode) analysisSwitchesPart.bRealtimeLoadError = true;
        ProgressEnd();
        return false;
      }
      DebugLog(window, Format("\n --> %s (%d data points)", path.c_str(), scan.n));
      CollectNotes(path, scan, &notes);
      scans.push_back(std::move(scan));
    }
    if (const int whole = SetReadWhole(window, *reading, attempt); whole != 0) {
      if (whole > 0) break;
      if (analysisSwitchesPart.bRealtimeMode) analysisSwitchesPart.bRealtimeLoadError = true;
      ProgressEnd();
      return false;
    }
  }

  reading.reset();
  // Interference files cannot be loaded together with files of another kind.
  auto optics = [](const std::string& name) {
    const std::string ext = ExtensionOf(name);
    return ext.size() > 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(ext[1]))) : '\0';
  };
  for (const StagedScan& s : scans) {
    const char a = optics(scans.front().name), b = optics(s.name);
    if (a != b && (a == 'I' || b == 'I')) {
      ErrorBox(window, LoadMessageId::MixedDataTypes, "mixed data types", "ERROR");
      ProgressEnd();
      return false;
    }
  }
  if (!StagedGridIsBuildable(scans, false, KindOfStaged(scans))) {
    ProgressEnd();
    return false;
  }

  if (switchToEquilibrium) dataSetPart.bEquilibriumMode = true;
  KindOfStaged(scans).Apply();
  InstallStagedSet(scans);
  dataSetPart.szDataDirectory = directory;
  TitleWindowWithLoadedSet(window, scanPaths.front());
  analysisSwitchesPart.bVariationRangesAsked = false;
  if (!sel.single) {
    const std::string& first = dataSetPart.ppScanFileNames[1];
    const std::string stem = first.substr(0, first.size() - ExtensionOf(first).size());
    dataSetPart.szNotesPath = JoinPath(directory, analysisSwitchesPart.bOldFilenameConvention ? stem : "notes");
  }
  SetUpLoadedSet();

  if (!analysisSwitchesPart.bRealtimeMode) {
    const bool restored =
        Hooks().offerReloadParameters && Hooks().offerReloadParameters(window, 1);
    RebuildPlots();
    analysisSwitchesPart.bSimulating = false;
    if (restored) {
      AllocSpeciesSignalArrays();
      const bool computed = Hooks().calculateModel && Hooks().calculateModel(window);
      if (window && computed) {
        const float rmsd = Hooks().fitRmsd ? Hooks().fitRmsd() : 0.0f;
        window->ClientDC()->TextOut(10, 50, Format("mean dev = %f  ", static_cast<double>(rmsd)));
        window->Refresh();
      }
      RedrawPlotsAndRepaint(window);
    } else if (!bBatchMode) {
      RedrawPlotsAndRepaint(window);
    }
  } else if (!analysisSwitchesPart.bEqTestRunning) {
    RebuildPlots();
    analysisSwitchesPart.bSimulating = false;
    if (!bBatchMode) RedrawPlotsAndRepaint(window);
  }

  if (!analysisSwitchesPart.bRealtimeMode && !bBatchMode && !analysisSwitchesPart.bEqTestRunning) {
    ShowTemperatureNote(window, 1.0f);
    ShowScanTimesNote(window);
  }
  if (!analysisSwitchesPart.bEqTestRunning) ShowFileNotes(window, notes);
  ProgressEnd();
  if (timeStampsPart.bCheckTimeStamps && CheckTimeStamps(window, answers)) ReloadDataSelection(window, answers);
  if (analysisSwitchesPart.bScanTimeCorrection && scanFilePart.bFluorescenceData) {
    analysisSwitchesPart.bScanTimeCorrection = false;
    const char* note =
        "scan time correction for fluorescence data not yet implemented, switching off";
    ShowLoadMessage(window, {LoadMessageId::FluorescenceTimeCorrection, note, "Error", MB_OK | MB_ICONINFORMATION,
                             LoadMessage::Sound::Error});
  }
  return true;
}

bool ReloadDataSelection(Window* window, const AnswerPolicy& answers) {
  return Reload(window, ReloadKind::Selection, answers);
}

void LoadDataFromFileList(Window* window, const AnswerPolicy& answers) { Reload(window, ReloadKind::FileList, answers); }

void AddMoreData(Window* window, const char* selection, const AnswerPolicy& answers) {
  auto& scanFilePart = ScanFile();
  auto& timeStampsPart = TimeStamps();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  if (dataSetPart.nScans < 1) {
    LoadAllData(window, selection, answers);
    return;
  }
  FileSelection sel;
  if (!ParseFileSelection(selection, &sel)) return;
  std::vector<std::string> paths;
  for (const std::string& name : sel.names) paths.push_back(JoinPath(sel.directory, name));
  if (!KeepScanFiles(window, &paths)) return;
  if (!LeaveOutLoadedFiles(window, &paths)) return;
  const int oldCount = dataSetPart.nScans;
  const int newFiles = static_cast<int>(paths.size());
  if (oldCount + newFiles > kMaxScans) {
    ErrorBox(window, LoadMessageId::TooManyScans, TooManyScansText(), "LOAD ERROR");
    return;
  }
  DataSet().bDataChanged = true;
  ProgressBegin(window);
  const float minStep = ReaderMinStep();
  // The kind of the added files goes in force only when they are added.
  std::vector<StagedScan> scans;
  std::vector<FileNote> notes;
  bool discrepancyShown = false;
  std::optional<FolderReading> reading(std::in_place, paths);
  FinishInterruptedSaves(window, *reading);
  for (int i = 1; i <= newFiles; ++i) {
    ProgressUpdate(static_cast<float>(i) / static_cast<float>(newFiles));
    const std::string& path = paths[static_cast<std::size_t>(i - 1)];
    StagedScan scan;
    std::string why;
    if (!ReadStaged(path, minStep, true, KindOfStaged(scans), &scan, &why)) {
      ErrorBox(window, LoadMessageId::UnreadableFile, ReadFailureText(path, why), "LOAD ERROR", path);
      continue;
    }
    if (timeStampsPart.bCheckTimeStamps && !dataSetPart.bEquilibriumMode && !discrepancyShown &&
        scan.info.timeStampOk != dataSetPart.pScanInfo[1].timeStampOk) {
      discrepancyShown = true;
      ErrorBox(window, LoadMessageId::TimeStampDiscrepancy,
               Format("%s\n time stamp correction discrepancy with previous data!", path.c_str()),
               "LOAD ERROR", path);
    }
    CollectNotes(path, scan, &notes);
    scans.push_back(std::move(scan));
  }
  // Its boxes were shown once: a set changed while it was read is not read again but refused.
  if (SetReadWhole(window, *reading, 1) < 0) {
    ProgressEnd();
    return;
  }
  reading.reset();
  if (scans.empty() || !StagedGridIsBuildable(scans, true, KindOfStaged(scans))) {
    ProgressEnd();
    return;
  }
  KindOfStaged(scans).Apply();

  FreeGridData(oldCount);
  GrowScanTables(oldCount + static_cast<int>(scans.size()));
  for (std::size_t i = 0; i < scans.size(); ++i)
    scans[i].InstallAs(oldCount + static_cast<int>(i) + 1, scanFilePart.bIntensityData);
  analysisSwitchesPart.bModelComputed = false;
  SetDerivedPaths();
  SetTemperatureFromLastScan();
  SortScanOrderByTime();
  BuildCommonRadialGrid();
  if (dataSetPart.fFitLeftLim != 0) SetLeftFitLimitIndices();
  if (dataSetPart.fFitRightLim != 0) SetRightFitLimitIndices();
  RebuildPlots();
  analysisSwitchesPart.bSimulating = false;
  RedrawPlotsAndRepaint(window);
  ShowFileNotes(window, notes);
  ProgressEnd();
}

namespace {
// The data folder whose failure to take the grid was said last: the analysis' own.
struct GridFailureState {
  std::string reported;
};
}  // namespace

// The word of the line that ends a distribution grid, with the count of its values.
constexpr const char* kGridEndWord = "end";

bool SaveDistributionGrid(const float* values, int n) {
  auto& dataSetPart = DataSet();
  if (!values || n < 1 || dataSetPart.szSdistPath.empty()) return false;
  // One value a line, then the line that ends the grid with its count: a file cut
  // at a line end reads short of it and is refused.
  std::string text;
  for (int i = 1; i <= n; ++i) text += RoundTripText(static_cast<double>(values[i])) + "\n";
  text += std::string(kGridEndWord) + " " + std::to_string(n) + "\n";
  // A data folder that cannot be written stays so: its failure is said once, not
  // at every Run and Fit; a grid written again re-arms the message.
  std::string& reported = CurrentPart<GridFailureState>().reported;
  std::string why;
  if (WriteTextFileAtomically(dataSetPart.szSdistPath, text, &why)) {
    reported.clear();
    return true;
  }
  if (reported != dataSetPart.szSdistPath) {
    reported = dataSetPart.szSdistPath;
    RaiseError(WithReason("Attention: could not write " + dataSetPart.szSdistPath, why));
  }
  return false;
}

bool ReadDistributionGrid(const std::string& path, std::vector<float>* grid, std::string* why) {
  grid->clear();
  std::vector<std::string> lines;
  std::string reason;
  if (!ReadTextFileLines(path, LastLine::kRefused, &lines, &reason)) {
    *why = WithReason("\nAttention: could not open " + path, reason);
    return false;
  }
  const std::string refused = "\n\aAttention: " + path + " cannot be read: ";
  std::vector<int> at;  // the line of each value
  int endLine = 0;
  std::size_t count = 0;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const std::string& line = lines[k];
    const int number = static_cast<int>(k) + 1;
    if (FieldCount(line) == 0) continue;
    if (endLine != 0) {
      *why = refused + "line " + std::to_string(number) + " follows the line \"" + kGridEndWord +
             "\" that ends the grid (line " + std::to_string(endLine) + ")";
      grid->clear();
      return false;
    }
    const std::size_t first = line.find_first_not_of(" \t");
    if (line.compare(first, std::strlen(kGridEndWord), kGridEndWord) == 0) {
      static constexpr RowField kEnd[] = {{nullptr, FieldKind::kWord}, {nullptr, FieldKind::kWhole}};
      const RowShape endShape = ExactRow(kEnd);
      double endValues[2] = {0.0, 0.0};
      const RowScan end = ScanTableRow(line, endShape, endValues);
      if (!end || endValues[1] < 0.0) {
        *why = refused + "line " + std::to_string(number) + " holds \"" + line + "\", which is not \"" +
               kGridEndWord + "\" and the count of the grid's values";
        grid->clear();
        return false;
      }
      endLine = number;
      count = static_cast<std::size_t>(endValues[1]);
      continue;
    }
    static constexpr RowField kValue{nullptr, FieldKind::kFloat};
    const RowShape shape = UniformRow(kValue, 1);
    double value = 0.0;
    const RowScan row = ScanTableRow(line, shape, &value);
    if (const std::string fault = RowFaultText(line, shape, row); !fault.empty()) {
      *why = refused + "line " + std::to_string(number) + " " + fault;
      grid->clear();
      return false;
    }
    grid->push_back(static_cast<float>(value));
    at.push_back(number);
  }
  if (grid->empty()) {
    *why = "\n\aAttention: " + path + " holds no grid value";
    return false;
  }
  // A grid rises from value to value: one that does not would give the
  // distribution cells of no or negative width.
  for (std::size_t i = 1; i < grid->size(); ++i) {
    if (!((*grid)[i] > (*grid)[i - 1])) {
      *why = refused + Format("line %d holds %g, which does not rise above the %g of line %d", at[i],
                              static_cast<double>((*grid)[i]), static_cast<double>((*grid)[i - 1]), at[i - 1]);
      grid->clear();
      return false;
    }
  }
  // The grid is as long as its end line says: without one, or with another
  // count, the file was cut (possibly at a line end) or lost lines.
  if (endLine == 0) {
    *why = refused + "it has no line \"" + kGridEndWord + " " + std::to_string(grid->size()) +
           "\" after its " + std::to_string(grid->size()) + " values (line " + std::to_string(at.back()) +
           " is the last): the file may have been cut; a grid written by hand ends with that line";
    grid->clear();
    return false;
  }
  if (count != grid->size()) {
    *why = refused + "line " + std::to_string(endLine) + " says the grid has " + std::to_string(count) +
           " values, and " + std::to_string(grid->size()) + " come before it";
    grid->clear();
    return false;
  }
  return true;
}

float* LoadDistributionGrid(int* n) {
  auto& dataSetPart = DataSet();
  if (!n || dataSetPart.szSdistPath.empty()) return nullptr;
  std::vector<float> grid;
  std::string failure;
  if (!ReadDistributionGrid(dataSetPart.szSdistPath, &grid, &failure)) {
    RaiseError(failure);
    return nullptr;
  }
  const int length = static_cast<int>(grid.size());
  float* v = tarmic::vector(1, length);
  for (int i = 1; i <= length; ++i) v[i] = grid[static_cast<std::size_t>(i - 1)];
  *n = length;
  return v;
}

bool SaveEquilibriumProfile(const char* path) {
  auto& dataSetPart = DataSet();
  if (!path || dataSetPart.nScans < 1) return false;
  Window* window = HasBackend() ? &GetBackend().MainWindow() : nullptr;
  if (window) window->SetCursor(CursorShape::Wait);
  const std::size_t s = static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(dataSetPart.nScans)]);
  // An intensity model keeps its reference column, without which it reads back as
  // no absorbance at all.
  const float* third = ScanFile().bIntensityData ? dataSetPart.ppThirdColumn[s] : nullptr;
  const bool ok = WriteScanFile(path, dataSetPart.pnPoints[s], dataSetPart.ppRadius[s], dataSetPart.ppFit[s], third, "equilibrium",
                                dataSetPart.pScanInfo[s].timeStampOk, dataSetPart.pScanInfo[s]);
  if (window) window->SetCursor(CursorShape::Arrow);
  return ok;
}

}  // namespace tarmic
