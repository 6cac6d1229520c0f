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
  ScanFile().bAbsorbanceData = ScanFile().bIntensityData = ScanFile().bInterferenceData = ScanFile().bFluorescenceData = false;
  DataSet().bEquilibriumMode = false;
  AnalysisSwitches().bEqAnalysisModel = false;
  AnalysisSwitches().bInitialDataProfile = false;
  AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = false;
  ModelParams().bVaryMeniscus = ModelParams().bVaryBottom = false;
  AnalysisSwitches().pParamFitFlags[13] = AnalysisSwitches().pParamFitFlags[14] = 0;
  AnalysisSwitches().bUniformLoading = true;
  AnalysisSwitches().bBaselineOption = 1;
  AnalysisSwitches().pParamFitFlags[15] = 1;
  DataSet().dSignalPerConcentration = 1.0;
}

// Solvent values of the loaded set: the mean temperature and viscosity.
void SetSolventFromRecords() {
  double temperature = 0.0, viscosity = 0.0;
  for (int i = 1; i <= DataSet().nScans; ++i) {
    temperature += DataSet().pDLSInfo[static_cast<std::size_t>(i)].temperatureC + 273.15;
    viscosity += DataSet().pDLSInfo[static_cast<std::size_t>(i)].viscosity;
  }
  temperature /= DataSet().nScans;
  viscosity /= DataSet().nScans;
  DataSet().fTemperatureK = static_cast<float>(temperature);
  DataSet().fRT = static_cast<float>(temperature * kGasConstant);
  // A file without a viscosity must not make every Stokes-Einstein relation divide
  // by zero: water is taken then.
  SolventConstants().RELVISCOSITY = viscosity > 0.0 ? static_cast<float>(viscosity * kRelViscosityPerPoise) : 1.0f;
}

// Meniscus and bottom are the ends of the lag-time range of the set selected first
// (index `set` once the sets are in time order); the fit limits move to them when
// they are unset or outside. Called while bDLSData still tells the kind of the set
// before: limits of DLS data are always set (a limit at 0 is one at 1 s and stays),
// those of scans are unset at 0.
void SetLimitsFromFirstSet(int set) {
  const std::size_t k = static_cast<std::size_t>(set);
  DataSet().fMeniscus = DataSet().ppRadius[k][1];
  DataSet().fBottom = DataSet().ppRadius[k][DataSet().pnPoints[k]];
  AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
  AnalysisSwitches().pParams[14] = DataSet().fBottom;
  if (DataSet().fBottom < DataSet().fFitLeftLim || DataSet().fFitRightLim < DataSet().fMeniscus || !FitLeftLimitSet() || !FitRightLimitSet()) {
    DataSet().fFitLeftLim = DataSet().fMeniscus;
    DataSet().fFitRightLim = DataSet().fBottom;
  }
}

}  // namespace

std::string LoadDLSData(Window* window, const char* selection, bool keepIntensityACF) {
  FileSelection sel;
  if (!ParseFileSelection(selection, &sel)) return {};
  if (static_cast<int>(sel.names.size()) > kMaxScans) return TooManyScansText();

  std::vector<StagedSet> sets;
  std::vector<std::string> selected;
  for (const std::string& name : sel.names) selected.push_back(JoinPath(sel.directory, name));
  const FolderReading reading(selected);
  FinishInterruptedSaves(window, reading);
  std::vector<FileNote> notes;
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
  if (DataSet().nScans > 0 && hooks.freeCtotArrays) hooks.freeCtotArrays();
  FreeDataSet();
  const int count = static_cast<int>(sets.size());
  AllocScanTables(count);
  DataSet().pDLSInfo.assign(static_cast<std::size_t>(count) + 1, DLSInfo());
  for (int i = 1; i <= count; ++i) {
    StagedSet& s = sets[order[static_cast<std::size_t>(i - 1)]];
    const std::size_t k = static_cast<std::size_t>(i);
    DataSet().ppScanFileNames[k] = s.name;
    DataSet().pDLSInfo[k] = s.info;
    // The scan record carries the time and temperature, which the display order
    // and the scan colours read.
    DataSet().pScanInfo[k].description = s.info.title;
    DataSet().pScanInfo[k].time = s.info.elapsedTime;
    DataSet().pScanInfo[k].recordedTime = s.info.elapsedTime;
    DataSet().pScanInfo[k].temperature = s.info.temperatureC;
    InstallScanArrays(i, s.n, std::exchange(s.x, nullptr), std::exchange(s.y, nullptr), nullptr,
                      false);
  }

  DataSet().szDataDirectory = sel.directory;
  const std::string& first = sel.names.front();
  DataSet().szNotesPath = AnalysisSwitches().bOldFilenameConvention ? JoinPath(sel.directory, StemOf(first) + ".not")
                                       : JoinPath(sel.directory, "notes" + ExtensionOf(first));
  DataSet().szTmpParsPath = AnalysisSwitches().bOldFilenameConvention ? JoinPath(sel.directory, StemOf(lastName) + ".~p")
                                         : JoinPath(sel.directory, "~tmppars" + ExtensionOf(lastName));
  DataSet().szSdistPath = JoinPath(sel.directory, "sdist" + ExtensionOf(lastName));
  AnalysisSwitches().bVariationRangesAsked = false;
  // The fit ranges of the set before are not this set's.
  DataSet().bFitRangesSet = false;

  SetSolventFromRecords();
  const auto selectedFirst = std::find(order.begin(), order.end(), std::size_t{0});
  SetLimitsFromFirstSet(static_cast<int>(selectedFirst - order.begin()) + 1);
  SwitchToDLSData();
  DataSet().bDLSData = true;
  if (hooks.deleteNoiseButtons) hooks.deleteNoiseButtons(nullptr);

  BuildCommonRadialGrid();
  AnalysisSwitches().bModelComputed = false;
  if (hooks.rebuildDataAndResidualPlots) hooks.rebuildDataAndResidualPlots();
  AnalysisSwitches().bSimulating = false;
  if (hooks.redrawDataPlot) hooks.redrawDataPlot(true);
  if (hooks.redrawResidualPlot) hooks.redrawResidualPlot(true);
  RepaintMain(window);
  TitleWindowWithLoadedSet(window, JoinPath(sel.directory, first));
  ShowFileNotes(window, notes);
  return {};
}

bool SaveMeanDLSData(const char* path, std::string* error) {
  if (!DataSet().bDLSData || DataSet().nScans < 1 || DataSet().pDLSInfo.size() <= 1 || CurrentGrid().nGridPoints < 1 || !CurrentGrid().pGridRadius) {
    if (error) *error = "no DLS data loaded";
    return false;
  }
  // The mean of g(2) - 1 over the sets at every grid point.
  std::vector<float> mean(static_cast<std::size_t>(CurrentGrid().nGridPoints) + 1, 0.0f);
  for (int i = 1; i <= CurrentGrid().nGridPoints; ++i) {
    double sum = 0.0;
    for (int s = 1; s <= DataSet().nScans; ++s) {
      const float g = CurrentGrid().ppGridSignal[static_cast<std::size_t>(s)][i];
      sum += DataSet().pDLSInfo[static_cast<std::size_t>(s)].bFieldACF ? SignedSquare(g) : g;
    }
    mean[static_cast<std::size_t>(i)] = static_cast<float>(sum / DataSet().nScans);
  }
  DLSInfo record = DataSet().pDLSInfo[1];
  record.temperatureC = DataSet().fTemperatureK - 273.15f;
  record.bFieldACF = false;
  DlsFile().bDLSConvertOnWrite = false;
  const bool ok =
      WriteDLSDatFromRecord(path, CurrentGrid().nGridPoints, CurrentGrid().pGridRadius, mean.data(), "averaged", record, error);
  DlsFile().bDLSConvertOnWrite = false;
  return ok;
}

}  // namespace tarmic
