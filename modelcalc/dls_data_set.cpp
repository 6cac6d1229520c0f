#include "modelcalc/dls_data_set.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "modelcalc/model_steps.h"
#include "modelfit/model_params.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "numerics/solvent_constants.h"
#include "services/sounds.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/dls_file.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// Relative viscosity of a viscosity in poise: 1 / 0.01002.
constexpr double kRelViscosityPerPoise = 99.80039920159682;

// One correlation function read but not yet part of the data set; owns its arrays
// until they are handed over.
struct StagedSet {
  StagedSet() = default;
  StagedSet(const StagedSet&) = delete;
  StagedSet& operator=(const StagedSet&) = delete;
  StagedSet(StagedSet&& o) noexcept
      : name(std::move(o.name)), info(std::move(o.info)), n(o.n),
        x(std::exchange(o.x, nullptr)), y(std::exchange(o.y, nullptr)) {}
  ~StagedSet() {
    if (x) free_vector(x, 1, n);
    if (y) free_vector(y, 1, n);
  }
  std::string name;
  DLSInfo info;
  int n = 0;
  float* x = nullptr;
  float* y = nullptr;
};

std::string StemOf(const std::string& name) {
  return name.substr(0, name.size() - ExtensionOf(name).size());
}

// Whether the common grid of these sets can be built: they share one abscissa array
// (the grid is then set 1's), or an own grid between the mean first and mean last
// abscissa stays within its limits (reported when not).
bool GridIsBuildable(const std::vector<StagedSet>& sets) {
  bool shared = true;
  double first = 0.0, last = 0.0;
  for (const StagedSet& s : sets) {
    if (s.n != sets.front().n || s.x[1] != sets.front().x[1]) shared = false;
    first += s.x[1];
    last += s.x[s.n];
  }
  if (shared) return true;
  const double m = static_cast<double>(sets.size());
  return RadialGridIsBuildable(static_cast<float>(first / m), static_cast<float>(last / m), true);
}

// The switches of the model and the data kinds for correlation functions.
void SwitchToDLSData() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& modelParamsPart = ModelParams();
  auto& scanFilePart = ScanFile();
  scanFilePart.bAbsorbanceData = scanFilePart.bIntensityData = scanFilePart.bInterferenceData = scanFilePart.bFluorescenceData = false;
  dataSetPart.bEquilibriumMode = false;
  analysisSwitchesPart.bEqAnalysisModel = false;
  analysisSwitchesPart.bInitialDataProfile = false;
  analysisSwitchesPart.bFitTINoise = analysisSwitchesPart.bFitRINoise = false;
  modelParamsPart.bVaryMeniscus = modelParamsPart.bVaryBottom = false;
  analysisSwitchesPart.pParamFitFlags[13] = analysisSwitchesPart.pParamFitFlags[14] = 0;
  analysisSwitchesPart.bUniformLoading = true;
  analysisSwitchesPart.bBaselineOption = 1;
  analysisSwitchesPart.pParamFitFlags[15] = 1;
  dataSetPart.dSignalPerConcentration = 1.0;
}

// Solvent values of the loaded set: the mean temperature and viscosity.
void SetSolventFromRecords() {
  auto& solventConstantsPart = SolventConstants();
  auto& dataSetPart = DataSet();
  double temperature = 0.0, viscosity = 0.0;
  for (int i = 1; i <= dataSetPart.nScans; ++i) {
    temperature += dataSetPart.pDLSInfo[static_cast<std::size_t>(i)].temperatureC + 273.15;
    viscosity += dataSetPart.pDLSInfo[static_cast<std::size_t>(i)].viscosity;
  }
  temperature /= dataSetPart.nScans;
  viscosity /= dataSetPart.nScans;
  dataSetPart.fTemperatureK = static_cast<float>(temperature);
  dataSetPart.fRT = static_cast<float>(temperature * kGasConstant);
  // A file without a viscosity must not make every Stokes-Einstein relation divide
  // by zero: water is taken then.
  solventConstantsPart.RELVISCOSITY = viscosity > 0.0 ? static_cast<float>(viscosity * kRelViscosityPerPoise) : 1.0f;
}

// Meniscus and bottom are the ends of the lag-time range of the set selected first
// (index `set` once the sets are in time order); the fit limits move to them when
// they are unset or outside. Called while bDLSData still tells the kind of the set
// before: limits of DLS data are always set (a limit at 0 is one at 1 s and stays),
// those of scans are unset at 0.
void SetLimitsFromFirstSet(int set) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  const std::size_t k = static_cast<std::size_t>(set);
  dataSetPart.fMeniscus = dataSetPart.ppRadius[k][1];
  dataSetPart.fBottom = dataSetPart.ppRadius[k][dataSetPart.pnPoints[k]];
  analysisSwitchesPart.pParams[13] = dataSetPart.fMeniscus;
  analysisSwitchesPart.pParams[14] = dataSetPart.fBottom;
  if (dataSetPart.fBottom < dataSetPart.fFitLeftLim || dataSetPart.fFitRightLim < dataSetPart.fMeniscus || !FitLeftLimitSet() || !FitRightLimitSet()) {
    dataSetPart.fFitLeftLim = dataSetPart.fMeniscus;
    dataSetPart.fFitRightLim = dataSetPart.fBottom;
  }
}

}  // namespace

std::string LoadDLSData(Window* window, const char* selection, bool keepIntensityACF) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  FileSelection sel;
  if (!ParseFileSelection(selection, &sel)) return {};
  if (static_cast<int>(sel.names.size()) > kMaxScans) return TooManyScansText();

  std::vector<StagedSet> sets;
  std::vector<std::string> selected;
  for (const std::string& name : sel.names) selected.push_back(JoinPath(sel.directory, name));
  FolderReading reading(selected);
  FinishInterruptedSaves(window, reading);
  std::vector<FileNote> notes;
  // The files are one set: a file replaced or rewritten between the reads of two
  // of them (or during) is found by the compare after them all; the set is read
  // once more, and refused when it changed again.
  for (int attempt = 0;; ++attempt) {
    sets.clear();
    notes.clear();
    for (const std::string& name : sel.names) {
      const std::string path = JoinPath(sel.directory, name);
      StagedSet set;
      set.name = name;
      std::string why;
      std::vector<std::string> fileNotes;
      if (!ReadDLSDatFile(path.c_str(), &set.info, &set.n, &set.x, &set.y, keepIntensityACF, &why,
                          &fileNotes))
        return why.empty() ? path : path + "\n" + why;
      for (std::string& text : fileNotes) notes.push_back({path, std::move(text)});
      sets.push_back(std::move(set));
    }
    std::string changed;
    const FolderReading::SetRead read = reading.AfterReading(attempt, &changed);
    if (read == FolderReading::SetRead::Whole) break;
    if (read == FolderReading::SetRead::Refused) return changed;
  }
  if (sets.empty() || !GridIsBuildable(sets)) return {};
  const std::string lastName = sets.back().name;
  // Index order = time order; equal times keep the order of the selection.
  std::vector<std::size_t> order(sets.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&sets](std::size_t a, std::size_t b) {
    return sets[a].info.elapsedTime < sets[b].info.elapsedTime;
  });

  // Everything is read: the new set replaces the loaded one.
  const DataSetHooks& hooks = GetDataSetHooks();
  if (dataSetPart.nScans > 0 && hooks.freeCtotArrays) hooks.freeCtotArrays();
  FreeDataSet();
  const int count = static_cast<int>(sets.size());
  AllocScanTables(count);
  dataSetPart.pDLSInfo.assign(static_cast<std::size_t>(count) + 1, DLSInfo());
  for (int i = 1; i <= count; ++i) {
    StagedSet& s = sets[order[static_cast<std::size_t>(i - 1)]];
    const std::size_t k = static_cast<std::size_t>(i);
    dataSetPart.ppScanFileNames[k] = s.name;
    dataSetPart.pDLSInfo[k] = s.info;
    // The scan record carries the time and temperature, which the display order
    // and the scan colours read.
    dataSetPart.pScanInfo[k].description = s.info.title;
    dataSetPart.pScanInfo[k].time = s.info.elapsedTime;
    dataSetPart.pScanInfo[k].recordedTime = s.info.elapsedTime;
    dataSetPart.pScanInfo[k].temperature = s.info.temperatureC;
    InstallScanArrays(i, s.n, std::exchange(s.x, nullptr), std::exchange(s.y, nullptr), nullptr,
                      false);
  }

  dataSetPart.szDataDirectory = sel.directory;
  const std::string& first = sel.names.front();
  dataSetPart.szNotesPath = analysisSwitchesPart.bOldFilenameConvention ? JoinPath(sel.directory, StemOf(first) + ".not")
                                       : JoinPath(sel.directory, "notes" + ExtensionOf(first));
  dataSetPart.szTmpParsPath = analysisSwitchesPart.bOldFilenameConvention ? JoinPath(sel.directory, StemOf(lastName) + ".~p")
                                         : JoinPath(sel.directory, "~tmppars" + ExtensionOf(lastName));
  dataSetPart.szSdistPath = JoinPath(sel.directory, "sdist" + ExtensionOf(lastName));
  analysisSwitchesPart.bVariationRangesAsked = false;
  // The fit ranges of the set before are not this set's.
  dataSetPart.bFitRangesSet = false;

  SetSolventFromRecords();
  const auto selectedFirst = std::find(order.begin(), order.end(), std::size_t{0});
  SetLimitsFromFirstSet(static_cast<int>(selectedFirst - order.begin()) + 1);
  SwitchToDLSData();
  dataSetPart.bDLSData = true;
  if (hooks.deleteNoiseButtons) hooks.deleteNoiseButtons(nullptr);

  BuildCommonRadialGrid();
  analysisSwitchesPart.bModelComputed = false;
  if (hooks.rebuildDataAndResidualPlots) hooks.rebuildDataAndResidualPlots();
  analysisSwitchesPart.bSimulating = false;
  if (hooks.redrawDataPlot) hooks.redrawDataPlot(true);
  if (hooks.redrawResidualPlot) hooks.redrawResidualPlot(true);
  RepaintMain(window);
  TitleWindowWithLoadedSet(window, JoinPath(sel.directory, first));
  ShowFileNotes(window, notes);
  return {};
}

bool SaveMeanDLSData(const char* path, std::string* error) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& dlsFilePart = DlsFile();
  if (!dataSetPart.bDLSData || dataSetPart.nScans < 1 || dataSetPart.pDLSInfo.size() <= 1 || currentGridPart.nGridPoints < 1 || !currentGridPart.pGridRadius) {
    if (error) *error = "no DLS data loaded";
    return false;
  }
  // The mean of g(2) - 1 over the sets at every grid point.
  std::vector<float> mean(static_cast<std::size_t>(currentGridPart.nGridPoints) + 1, 0.0f);
  for (int i = 1; i <= currentGridPart.nGridPoints; ++i) {
    double sum = 0.0;
    for (int s = 1; s <= dataSetPart.nScans; ++s) {
      const float g = currentGridPart.ppGridSignal[static_cast<std::size_t>(s)][i];
      sum += dataSetPart.pDLSInfo[static_cast<std::size_t>(s)].bFieldACF ? SignedSquare(g) : g;
    }
    mean[static_cast<std::size_t>(i)] = static_cast<float>(sum / dataSetPart.nScans);
  }
  DLSInfo record = dataSetPart.pDLSInfo[1];
  record.temperatureC = dataSetPart.fTemperatureK - 273.15f;
  record.bFieldACF = false;
  dlsFilePart.bDLSConvertOnWrite = false;
  const bool ok =
      WriteDLSDatFromRecord(path, currentGridPart.nGridPoints, currentGridPart.pGridRadius, mean.data(), "averaged", record, error);
  dlsFilePart.bDLSConvertOnWrite = false;
  return ok;
}

}  // namespace tarmic
