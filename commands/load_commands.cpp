// The &Data commands that load scans and end the program: "Load New Files" through
// the multi-select file dialog (scan files, a scan-list file, or an experiment file
// whose scans load with its settings), "Add More Files", files dropped on the
// window, and "Exit".
//
// The file dialogs are modal to the main window: while one is open no menu command
// reaches the window, and a load command that arrives while a dialog is open (from
// a nested event loop) does nothing. A load that fails leaves the loaded data set,
// the stored file list and the data directory as they were.
#include "commands/load_commands.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "app/paint.h"
#include "app/preferences.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/text_format.h"
#include "modelcalc/fit_persistence.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "storage/atomic_file.h"
#include "numerics/value_ranges.h"
#include "services/answer_policy.h"
#include "services/error_box.h"
#include "numerics/solvent_constants.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "platform/events.h"
#include "scandata/analysis_switches.h"
#include "text/number_token.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/experiment_file.h"
#include "scandata/file_list.h"
#include "scandata/scan_cells.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

LoadOutcome g_lastLoad;
bool g_loadRecorded = false;  // a loading command records the loaders' messages

// The outcome of the loading command now running: every message of the loaders
// shown meanwhile is recorded (ShowLoaderMessage); the command says at its end
// whether a new set was loaded. A command that ends before it has chosen files
// leaves "not loaded".
class LoadCommandOutcome {
 public:
  LoadCommandOutcome() {
    g_lastLoad = {};
    g_loadRecorded = true;
  }
  ~LoadCommandOutcome() { g_loadRecorded = false; }
  LoadCommandOutcome(const LoadCommandOutcome&) = delete;
  LoadCommandOutcome& operator=(const LoadCommandOutcome&) = delete;
  // The files chosen were given to the loaders; loaded: a new set came of them.
  void Ended(bool loaded) {
    g_lastLoad.status = loaded ? LoadOutcome::Status::Loaded : LoadOutcome::Status::Refused;
    if (loaded) DescribeLoadedSet(&g_lastLoad);
  }
};

// A refusal of the command's own (not the loaders'), shown in its box.
void RecordRefusal(std::string id, std::string text) {
  if (g_loadRecorded) g_lastLoad.messages.push_back({std::move(id), std::move(text)});
}

void RecordLoaderMessage(const LoadMessage& message) {
  if (!g_loadRecorded) return;
  OutcomeMessage record{LoadMessageIdName(message.id), message.text};
  if (message.id == LoadMessageId::UnreadableFile) g_lastLoad.refused.push_back({message.file, record});
  g_lastLoad.messages.push_back(std::move(record));
}

}  // namespace

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// Keeps bFileDialogOpen set while a load command's file dialog is open (Paint
// draws nothing meanwhile), also when the dialog ends with an exception.
class FileDialogScope {
 public:
  FileDialogScope() { bFileDialogOpen = true; }
  ~FileDialogScope() { bFileDialogOpen = false; }
  FileDialogScope(const FileDialogScope&) = delete;
  FileDialogScope& operator=(const FileDialogScope&) = delete;
};

// The files chosen in the dialog of the record, which starts in the last data
// directory (left in record.directory). Empty when cancelled.
std::vector<std::string> ChooseFiles(TXLAWindow& window, FileDialogOptions& record) {
  ReadLastDataDirectory(&window, record.directory);
  FileDialogScope open;
  return GetBackend().OpenFileDialog(record);
}

void ShowAttention(TXLAWindow& window, const std::string& text) {
  PlayInfoSound();
  CommandMessageBox(window, text, "ATTENTION", MB_OK | MB_ICONINFORMATION);
}

// Whether the loaded set is the stored list: as many scans as listed files, each
// scan loaded from the listed file of its number.
bool LoadedSetIsStoredList() {
  if (DataSet().nScans != FileList().nStoredFiles || DataSet().nScans < 1) return false;
  for (int s = 1; s <= DataSet().nScans; ++s)
    if (std::filesystem::path(ScanFilePath(s)).lexically_normal() !=
        std::filesystem::path(FileList().ppStoredFileNames[static_cast<std::size_t>(s)]).lexically_normal())
      return false;
  return true;
}

// The stored file list with the values that go with it, kept so that a reload
// that fails can put them back.
struct StoredListState {
  int count = FileList().nStoredFiles;
  std::vector<std::string> names = FileList().ppStoredFileNames;
  int filesPerScan = DataSet().nFilesPerScan;
  std::string dataDirectory = DataSet().szDataDirectory;
  void Restore() const {
    FileList().nStoredFiles = count;
    FileList().ppStoredFileNames = names;
    DataSet().nFilesPerScan = filesPerScan;
    DataSet().szDataDirectory = dataDirectory;
  }
};

// Reloads from the stored list, which the caller has just replaced (previous: the
// state before). When the load fails (it was reported, the set is untouched) the
// previous list is put back, so that later reloads read the loaded set's files.
// Whether the new set was loaded.
bool ReloadNewList(TXLAWindow& window, const StoredListState& previous) {
  const bool loaded = ReloadDataSelection(&window.GetHandle(), FrontEndAnswers());
  if (!loaded || !LoadedSetIsStoredList()) previous.Restore();
  return loaded;
}

// Loads the files of a scan-list file as the new data set; whether it was loaded.
bool LoadScanList(TXLAWindow& window, const std::string& path) {
  const StoredListState previous;
  // The loaded set stays until the listed scans have loaded.
  if (!ReadScanListFile(&window.GetHandle(), path.c_str(), /*releaseLoadedSet=*/false)) return false;
  return ReloadNewList(window, previous);
}

// The geometry that an experiment file sets before its scans load, kept so that a
// load that fails leaves it as it was.
struct GeometryState {
  float meniscus = DataSet().fMeniscus, bottom = DataSet().fBottom, left = DataSet().fFitLeftLim, right = DataSet().fFitRightLim;
  void Restore() const {
    DataSet().fMeniscus = meniscus;
    DataSet().fBottom = bottom;
    DataSet().fFitLeftLim = left;
    DataSet().fFitRightLim = right;
  }
};

// The data modes of the loaded set, kept so that a load that fails leaves them.
struct DataModes {
  bool equilibrium = DataSet().bEquilibriumMode;
  bool electrophoresis = ScanFile().bElectrophoresisMode;
  void Restore() const {
    DataSet().bEquilibriumMode = equilibrium;
    ScanFile().bElectrophoresisMode = electrophoresis;
  }
};

// The data modes in which a load of this kind reads its files and analyses the
// new set. The equilibrium loader reads equilibrium data. The other loaders read a
// set of several scans as velocity data (an earlier equilibrium set must not turn
// velocity scans into equilibrium data); a single scan keeps the mode, so that in
// velocity mode the loader asks whether to switch to equilibrium mode.
void EnterLoadModes(LoadKind kind, bool severalScans) {
  ScanFile().bElectrophoresisMode = kind == LoadKind::Electrophoresis;
  if (kind == LoadKind::Equilibrium) {
    DataSet().bEquilibriumMode = true;
  } else if (severalScans) {
    DataSet().bEquilibriumMode = false;
  }
}

// The settings of an experiment file that apply to the loaded scans: solvent,
// floated meniscus and bottom with their ranges, baseline and systematic noise.
void ApplyExperimentSettings(TXLAWindow& window, const ExperimentFile& xp) {
  SolventConstants().fBufferDensity = xp.bufferDensity;
  if (xp.bufferViscosity > 0.0f) SolventConstants().RELVISCOSITY = xp.bufferViscosity / STANDARDVISCOSITY;
  SolventConstants().VBAR = xp.vbar;
  SolventConstants().VBAR20 = xp.vbar20;
  SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
  PackModelParams();
  AnalysisSwitches().pParamFitFlags[13] = xp.varyMeniscus ? 1 : 0;
  AnalysisSwitches().pParamFitFlags[14] = xp.varyBottom ? 1 : 0;
  AnalysisSwitches().pParams[15] = xp.baseline;
  AnalysisSwitches().pParamFitFlags[15] = xp.varyBaseline ? 1 : 0;
  if (IsContinuousModel() && !ModelFlags().bLsgModel) {
    // The continuous models keep the solvent in their parameter slots.
    if (!ModelFlags().bCsFloatingVbar && !ModelFlags().bCvConstantD) AnalysisSwitches().pParams[kContiSlotVbar] = SolventConstants().VBAR;
    AnalysisSwitches().pParams[kContiSlotDensity] = SolventConstants().fBufferDensity;
    AnalysisSwitches().pParams[kContiSlotViscosity] = SolventConstants().RELVISCOSITY / kRelViscosityPerPoise;
  }
  UnpackModelParams();
  AnalysisSwitches().bFitTINoise = xp.fitTINoise;
  AnalysisSwitches().bFitRINoise = xp.fitRINoise;
  if (xp.maxMeniscus > xp.minMeniscus && xp.minMeniscus > 0.0f && xp.maxBottom > xp.minBottom &&
      xp.minBottom > 0.0f) {
    DataSet().fMinMeniscus = xp.minMeniscus;
    DataSet().fMaxMeniscus = xp.maxMeniscus;
    DataSet().fMinBottom = xp.minBottom;
    DataSet().fMaxBottom = xp.maxBottom;
    DataSet().bFitRangesSet = true;
  }
  DataSetHooks& hooks = GetDataSetHooks();
  if (AnalysisSwitches().bFitTINoise || AnalysisSwitches().bFitRINoise) {
    if (hooks.createNoiseButtons) hooks.createNoiseButtons(&window.GetHandle());
  } else if (hooks.deleteNoiseButtons) {
    hooks.deleteNoiseButtons(&window.GetHandle());
  }
  if (hooks.redrawDataPlot) hooks.redrawDataPlot(true);
  if (hooks.redrawResidualPlot) hooks.redrawResidualPlot(true);
  window.RepaintMain();
}

// Loads the scans an experiment file lists, with its settings. A file that cannot
// be read, settings outside their ranges, or scans that cannot be loaded change
// nothing.
void LoadExperiment(TXLAWindow& window, const std::string& path) {
  ExperimentFile xp;
  std::string why;
  if (!LoadXpFile(path, &xp, &why)) {
    const std::string text = "could not read experiment file " + why;
    RecordRefusal("unreadable-experiment-file", text);
    PlayErrorSound();
    CommandMessageBox(window, text, "LOAD ERROR", MB_OK);
    return;
  }
  const StoredListState previous;
  const GeometryState geometry;
  // Meniscus, bottom and limits in place before the scans load, so that the fit
  // limits are placed on the new data from the start.
  if (xp.IsEquilibrium()) DataSet().bEquilibriumMode = true;
  if (xp.meniscus > 0.0f) DataSet().fMeniscus = xp.meniscus;
  if (xp.bottom > 0.0f) DataSet().fBottom = xp.bottom;
  if (xp.fitLeftLimit > 0.0f) DataSet().fFitLeftLim = xp.fitLeftLimit;
  if (xp.fitRightLimit > 0.0f) DataSet().fFitRightLim = xp.fitRightLimit;
  FileList().nStoredFiles = static_cast<int>(xp.files.size());
  FileList().ppStoredFileNames.assign(1, std::string());
  for (const std::string& f : xp.files) FileList().ppStoredFileNames.push_back(JoinPath(xp.directory, f));
  DataSet().nFilesPerScan = 1;
  ReloadDataSelection(&window.GetHandle(), FrontEndAnswers());
  if (!LoadedSetIsStoredList()) {
    previous.Restore();
    geometry.Restore();
    return;
  }
  ApplyExperimentSettings(window, xp);
}

// A selection whose files are missing may name files of the last data directory
// (lastDirectory): asks whether to read them from there (the loader then reads the
// selected names from szOtherDirectory).
void OfferOtherDirectory(TXLAWindow& window, const std::vector<std::string>& files,
                         const std::string& lastDirectory) {
  AnalysisSwitches().bUseOtherDirectory = false;
  if (FileExists(files.front().c_str())) return;
  const std::string selected = DirectoryOf(files.front());
  if (lastDirectory.empty() || WithoutTrailingSlash(lastDirectory) == selected) return;
  if (!FileExists(JoinPath(lastDirectory, FileNameOf(files.front())).c_str())) return;
  if (AskYesNo(window,
               Format("could not find files in %s - use file from %s ?", selected.c_str(),
                      lastDirectory.c_str()),
               "LOAD ERROR")) {
    AnalysisSwitches().bUseOtherDirectory = true;
    AnalysisSwitches().szOtherDirectory = WithoutTrailingSlash(lastDirectory);
  }
}

// The dialog that asks which cell and wavelength of a selection to load: one radio
// button a group, then "all as one set"; the first group is checked.
constexpr int kCellChoiceFirst = 101;
DialogTemplate CellChoiceDialog(const std::vector<ScanGroup>& groups) {
  DialogTemplate d;
  d.name = "CELL_CHOICE";
  d.caption = "LOAD DATA";
  d.width = 260;
  const auto add = [&d](int id, ControlKind kind, std::string label, int x, int y, int w, int h) {
    DialogControl c;
    c.id = id;
    c.kind = kind;
    c.label = std::move(label);
    c.x = x;
    c.y = y;
    c.width = w;
    c.height = h;
    c.group = kind == ControlKind::RadioButton ? 1 : 0;
    c.isDefault = id == IDOK;
    d.controls.push_back(c);
  };
  add(100, ControlKind::Static,
      "The files chosen hold the scans of more than one cell or wavelength. One analysis takes the "
      "scans of one cell at one wavelength. Load:",
      8, 6, 244, 26);
  int y = 36;
  for (std::size_t k = 0; k < groups.size(); ++k, y += 13)
    add(kCellChoiceFirst + static_cast<int>(k), ControlKind::RadioButton, DescribeScanGroup(groups[k]), 14, y, 230, 11);
  add(kCellChoiceFirst + static_cast<int>(groups.size()), ControlKind::RadioButton,
      "all as one set (not one experiment: asks again)", 14, y, 230, 11);
  y += 18;
  add(IDOK, ControlKind::PushButton, "OK", 60, y, 50, 14);
  add(IDCANCEL, ControlKind::PushButton, "Cancel", 150, y, 50, 14);
  d.height = y + 20;
  return d;
}

}  // namespace

std::optional<std::vector<std::string>> ChooseOneCell(TXLAWindow& window, const std::vector<std::string>& files) {
  const std::vector<ScanGroup> groups = GroupScansByCell(files);
  if (groups.size() <= 1) return files;
  TransferBuffer record;
  for (std::size_t k = 0; k <= groups.size(); ++k) record.checked[kCellChoiceFirst + static_cast<int>(k)] = k == 0;
  window.bModalBoxOpen = true;
  const int answer = GetBackend().RunDialog(CellChoiceDialog(groups), record);
  window.bModalBoxOpen = false;
  if (answer != IDOK) return std::nullopt;
  for (std::size_t k = 0; k < groups.size(); ++k)
    if (record.checked[kCellChoiceFirst + static_cast<int>(k)]) return groups[k].scans;
  // All as one set: only after a warning whose default is No.
  std::string listed;
  for (std::size_t k = 0; k < groups.size(); ++k)
    listed += (k == 0 ? "" : k + 1 == groups.size() ? " and " : ", ") + DescribeScanGroup(groups[k]);
  if (!ConfirmChange(window,
                     "Load " + listed +
                         " as one set? A model fitted to them describes their mixture, not one sample; "
                         "the batch program refuses such a set.",
                     "WARNING"))
    return std::nullopt;
  return files;
}

const LoadOutcome& LastLoadOutcome() { return g_lastLoad; }

int ShowLoaderMessage(const LoadMessage& message) {
  RecordLoaderMessage(message);
  if (message.sound == LoadMessage::Sound::Info) PlayInfoSound();
  if (message.sound == LoadMessage::Sound::Error) PlayErrorSound();
  return HasBackend() ? GetBackend().MessageBox(message.text, message.caption, message.style) : 0;
}

bool IsDroppableScanFile(const std::string& path) {
  const std::string ext = Lower(ExtensionOf(path));
  if (ext == ".r00") return true;
  if (ext.size() != 4 || ext[3] < '1' || ext[3] > '8') return false;
  return StartsWith(ext, ".ip") || StartsWith(ext, ".ra");
}

bool IsScanListFile(const std::string& path) { return StartsWith(Lower(FileNameOf(path)), "list"); }

bool IsExperimentFile(const std::string& path) { return Lower(ExtensionOf(path)) == ".xp"; }

bool IsParameterFile(const std::string& path) {
  return StartsWith(Lower(FileNameOf(path)), "~tmppars") || Lower(ExtensionOf(path)) == ".~p";
}

bool SwitchToParameterFile(TXLAWindow& window, const std::string& path) {
  bool taken = false;
  {
    const FolderReading reading({path});
    if (const std::string& note = reading.Note(); !note.empty()) ShowAttention(window, note);
    taken = ReloadParameters(&window.GetHandle(), path, FrontEndAnswers()) != 0;
  }
  window.RepaintMain();
  return taken;
}

namespace {

// A saved parameter file, dropped or chosen alone in the load dialog: after "switch
// to parameter file %s?" the analysis it holds is restored.
void OfferParameterFile(TXLAWindow& window, const std::string& path) {
  if (!AskYesNo(window, FormatText("switch to parameter file %s?", FileNameOf(path).c_str()), "")) return;
  SwitchToParameterFile(window, path);
}

}  // namespace

bool LoadNewFiles(TXLAWindow& window, LoadKind kind) {
  if (bFileDialogOpen) return false;
  LoadCommandOutcome outcome;
  const std::vector<std::string> files = ChooseFiles(window, window.ofnLoad);
  if (files.empty()) return false;
  SaveLastDataDirectory(&window, files.front());
  // A parameter file alone ("All Files" shows them) is offered as a dropped one is;
  // the loaded data stay.
  if (files.size() == 1 && IsParameterFile(files.front())) {
    OfferParameterFile(window, files.front());
    return false;
  }

  // The reader reads the files in the modes of this load (a list or an experiment
  // names a set of scans); a load that fails leaves the modes of the loaded set.
  const DataModes previousModes;
  EnterLoadModes(kind, files.size() > 1 || IsScanListFile(files.front()) ||
                           IsExperimentFile(files.front()));
  bool loaded = false;
  if (files.size() == 1 && IsExperimentFile(files.front())) {
    const unsigned generation = DataSet().nDataSetGeneration;
    LoadExperiment(window, files.front());
    loaded = DataSet().nDataSetGeneration != generation;
  } else if (files.size() == 1 && IsScanListFile(files.front())) {
    loaded = LoadScanList(window, files.front());
  } else {
    // A selection of scan files: every file is one scan, of one cell at one
    // wavelength.
    const std::optional<std::vector<std::string>> chosen = ChooseOneCell(window, files);
    if (!chosen) {
      previousModes.Restore();
      return false;
    }
    const std::vector<std::string>& files = *chosen;
    const int previousFilesPerScan = DataSet().nFilesPerScan;
    DataSet().nFilesPerScan = 1;
    OfferOtherDirectory(window, files, window.ofnLoad.directory);
    if (AnalysisSwitches().bUseOtherDirectory) SaveLastDataDirectory(&window, AnalysisSwitches().szOtherDirectory + "/");
    const std::string selection = MakeSelectionBuffer(files);
    loaded = LoadAllData(&window.GetHandle(), selection.c_str(), FrontEndAnswers());
    AnalysisSwitches().bUseOtherDirectory = false;
    if (!loaded) DataSet().nFilesPerScan = previousFilesPerScan;
  }
  if (!loaded) previousModes.Restore();
  outcome.Ended(loaded);
  window.UpdateMenuForLoadedData();
  return loaded;
}

void TXLAWindow::CmLoadNewFiles() {
  LoadNewFiles(*this, LoadKind::Velocity);
}

void TXLAWindow::CmLoadEquilibriumData() {
  // Equilibrium data: one file is a data set, and the reader keeps every point.
  LoadNewFiles(*this, LoadKind::Equilibrium);
}

void TXLAWindow::CmChangeCell() {
  if (bFileDialogOpen) return;
  if (DataSet().nScans < 1 || DataSet().bDLSData) {
    PlayErrorSound();
    CommandMessageBox(*this, "load scan files first", "ERROR", MB_OK);
    return;
  }
  // The cell is the last character of the scans' extension.
  const std::string ext = ExtensionOf(DataSet().ppScanFileNames[1]);
  const std::optional<std::uint64_t> digit =
      ext.empty() ? std::nullopt : WholeNumberOf(std::string_view(ext).substr(ext.size() - 1));
  const float current = digit && *digit <= 8 ? static_cast<float>(*digit) : 1.0f;
  float cell = current;
  if (!AskFloat(*this, &cell, current, "cell number (0-8):", "CHANGE CELL", {"cell number", "", Count(0.0, 8.0)}))
    return;
  const int c = TruncateToInt(cell);
  if (c < 0 || c > 8 || static_cast<float>(c) != cell) {
    PlayErrorSound();
    CommandMessageBox(*this, "the cell number must be one of 0 to 8", "ERROR", MB_OK);
    return;
  }
  LoadCommandOutcome outcome;
  const StoredListState previous;
  StoreFileList(0);
  ChangeCellInFileList(c);
  if (!CheckListedFilesExist()) {
    previous.Restore();
    const std::string text = Format("could not find the files of cell %d", c);
    RecordRefusal("cell-files-missing", text);
    outcome.Ended(false);
    PlayErrorSound();
    CommandMessageBox(*this, text, "LOAD ERROR", MB_OK);
    return;
  }
  outcome.Ended(ReloadNewList(*this, previous));
  UpdateMenuForLoadedData();
}

void TXLAWindow::CmAddMoreFiles() {
  if (bFileDialogOpen) return;
  LoadCommandOutcome outcome;
  const std::vector<std::string> files = ChooseFiles(*this, ofnSecond);
  if (files.empty()) return;
  SaveLastDataDirectory(this, files.front());
  const std::optional<std::vector<std::string>> chosen = ChooseOneCell(*this, files);
  if (!chosen) return;
  const std::string selection = MakeSelectionBuffer(*chosen);
  // Added files take the mode of the loaded set; into an empty window they are a
  // new set, loaded as "Load New Files" loads it.
  const DataModes previousModes;
  const bool newSet = DataSet().nScans < 1;
  if (newSet) EnterLoadModes(LoadKind::Velocity, files.size() > 1);
  const unsigned generation = DataSet().nDataSetGeneration;
  AddMoreData(&GetHandle(), selection.c_str(), FrontEndAnswers());
  if (newSet && DataSet().nDataSetGeneration == generation) previousModes.Restore();
  outcome.Ended(DataSet().nDataSetGeneration != generation);
  UpdateMenuForLoadedData();
}

void TXLAWindow::EvDropFiles(const std::vector<std::string>& files) {
  if (bFileDialogOpen) return;
  std::vector<std::string> scans;
  std::string parameterFile;
  for (const std::string& f : files) {
    // Saved parameters carry the extension of their data ("~tmppars.ra1").
    if (IsParameterFile(f)) {
      if (parameterFile.empty()) parameterFile = f;
    } else if (IsDroppableScanFile(f)) {
      scans.push_back(f);
    }
  }
  if (scans.empty() && parameterFile.empty()) {
    ShowAttention(*this, "none of the dropped files is a scan file (.IP1-.IP8, .R00, .RA1-.RA8)");
    return;
  }
  if (!scans.empty()) {
    if (DataSet().nScans > 0 && !ConfirmChange(*this, "erase the loaded data and load the dropped files?", "LOAD DATA"))
      return;
    LoadCommandOutcome outcome;
    std::sort(scans.begin(), scans.end());
    if (std::optional<std::vector<std::string>> chosen = ChooseOneCell(*this, scans)) {
      scans = std::move(*chosen);
    } else {
      return;
    }
    const DataModes previousModes;
    EnterLoadModes(LoadKind::Velocity, scans.size() > 1);
    const StoredListState previous;
    FileList().nStoredFiles = static_cast<int>(scans.size());
    FileList().ppStoredFileNames.assign(1, std::string());
    FileList().ppStoredFileNames.insert(FileList().ppStoredFileNames.end(), scans.begin(), scans.end());
    DataSet().nFilesPerScan = 1;
    const bool loaded = ReloadNewList(*this, previous);
    if (!loaded) previousModes.Restore();
    outcome.Ended(loaded);
    UpdateMenuForLoadedData();
  }
  if (!parameterFile.empty()) OfferParameterFile(*this, parameterFile);
}

void TXLAWindow::CmExit() {
  FreeDataSet();
  // The loop ends with the next event: what is still queued behind Exit (a menu
  // command, a key) would run on data that are gone.
  UiEvents().Clear();
  PostQuitMessage(0);
  PlayByeSound();
}

}  // namespace tarmic
