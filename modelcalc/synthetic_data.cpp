#include "modelcalc/synthetic_data.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <filesystem>
#include <system_error>
#include <string>
#include <utility>
#include <vector>

#include "distributions/distribution_hooks.h"
#include "distributions/distribution_kernels.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_file.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/model_computation.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "storage/atomic_file.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "services/path_table.h"
#include "numerics/random.h"
#include "services/run_switches.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/fit_limits.h"
#include "scandata/plausibility.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"

#include <fcntl.h>
#include <sys/types.h>

namespace tarmic {

namespace {

// 4 pi^2 / 3600: turns rpm^2 s into rad^2/s.
constexpr double kFourPiSquaredPer3600 = 39.47841760435743 / 3600.0;
constexpr float kTemperatureC = 20.0f;

std::size_t At(int i) { return static_cast<std::size_t>(i); }

// Points of the grid fMeniscus, fMeniscus + dr, ... up to fBottom, accumulated in
// single precision as the radii are; kMaxGridPoints + 1 when there would be more
// than the largest grid.
int CountGridPoints(float dr) {
  auto& dataSetPart = DataSet();
  int m = 0;
  for (float r = dataSetPart.fMeniscus; r <= dataSetPart.fBottom; r += dr)
    if (++m > kMaxGridPoints) return m;
  return m;
}

// The loading signal of the initial profile: the amplitude of the first included
// species, the total loading of the self-association models; 0 without species.
float LoadingSignal() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelOptionsPart = ModelOptions();
  auto& modelParamsPart = ModelParams();
  if (IsSelfAssociationModel()) return modelOptionsPart.fAssocLoading;
  for (int k = 1; k <= nSpeciesSlots; ++k)
    if (analysisSwitchesPart.pSpeciesLinked[k]) return modelParamsPart.pSpeciesAmplitude[k];
  return 0.0f;
}

ScanInfo SyntheticScanInfo(float rpm, int points) {
  ScanInfo info;
  info.description = "synthetic";
  info.scanType = 'R';
  info.cell = 1;
  info.temperature = kTemperatureC;
  info.rpm = rpm;
  info.wavelength = 100.0f;
  info.replicates = 1;
  info.meniscusNote = DataSet().fMeniscus;
  info.nPoints = points;
  info.accelRate = 0.0;
  info.accelTime = 0.0;
  info.timeStampOk = true;
  info.fileTimesValid = false;
  return info;
}

// How the model signal of the new set came out: computed, stopped by a key, or not
// computed, with why when the computation has not said it in a box of its own.
struct ModelSignal {
  bool computed = false;
  bool stopped = false;
  std::string why;
};

// The signal of the distribution in the program's "distrib.dat" on the scans' own
// radii, into ppFit (fits left at 0 when the file cannot be used).
ModelSignal ComputeDistributionSignal(Window* window, std::optional<bool> normalized) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& kernelProfilesPart = KernelProfiles();
  auto& scanFilePart = ScanFile();
  kernelProfilesPart.bSyntheticFromDistribution = true;
  ModelSignal signal;
  if (normalized) DistributionFile().bNormalizeLoadedDistribution = *normalized;
  std::string failure, note;
  const bool loaded = LoadDistributionFromFile(szDistribFile, &failure, &note);
  if (!note.empty()) ShowRunMessage({std::move(note), "ATTENTION", MB_OK | MB_ICONINFORMATION, false});
  if (!loaded) {
    signal.why = "the distribution in " + szDistribFile + " could not be read";
    if (!failure.empty()) signal.why += ":\n" + failure;
  } else {
    // The kernels are computed on the radii of the first displayed scan.
    const int first = dataSetPart.pScanOrder[1];
    currentGridPart.pGridRadius = dataSetPart.ppRadius[At(first)];
    currentGridPart.nGridPoints = dataSetPart.pnPoints[At(first)];
    SetGridPointMask({});  // the scan's own radii: every point measured
    scanFilePart.bAbsorbanceData = false;
    const ContiRunResult run = RunContiSed(window);
    signal.computed = run.outcome == ContiRunOutcome::Computed;
    signal.stopped = run.outcome == ContiRunOutcome::Interrupted;
    // A stop is said by the generation; why a run did not compute is part of its box.
    if (signal.computed)
      ShowRunMessage(run.message);
    else if (!signal.stopped)
      signal.why = run.message.text;
    currentGridPart.pGridRadius = nullptr;
    currentGridPart.nGridPoints = 0;
    scanFilePart.bAbsorbanceData = true;
  }
  kernelProfilesPart.bSyntheticFromDistribution = false;
  return signal;
}

// The signal of the discrete model (its solutions show their own failures).
ModelSignal ComputeModelSignal(Window* window) {
  const ModelResult result = CalculateModel(window);
  ModelSignal signal;
  signal.computed = result.ok();
  signal.stopped = result.status == ModelStatus::Interrupted;
  if (!signal.computed && !signal.stopped) {
    if (!result.message.empty())
      signal.why = result.message;
    else if (result.status == ModelStatus::Computed)
      signal.why = "the amplitudes could not be solved (NNLS)";
  }
  return signal;
}

// Reads every file written into the batch back through the scan reader, as a load
// would; empty when all are read, else the first file refused with the reader's reason.
std::string UnreadableFile(const AtomicFileBatch& batch) {
  for (const auto& [path, temporary] : batch.Written()) {
    ScanInfo record;
    int n = 0;
    float* radius = nullptr;
    float* value = nullptr;
    bool mark = false;
    std::string why;
    ScanDataKind kind;
    if (!ReadScanFileAndKind(temporary.c_str(), ScanDataKind::InForce(), &kind, &record, &n, &radius, &value,
                             nullptr, &mark, 0.0f, &why))
      return path + ": " + why;
    free_vector(radius, 1, n);
    free_vector(value, 1, n);
  }
  return std::string();
}

// Bytes a written scan of m points takes at most: the description line, line 2
// and m rows of "   %1.4f  %1.5e   %1.5e \n".
off_t ScanFileBytes(int m) { return 256 + static_cast<off_t>(m) * 48; }

// Opens a temporary beside each target "00001.ra0" ... of dir and reserves the
// room of its scan; false with the reasons in *failed when any cannot be had.
std::string SyntheticFileName(int j) { return Format("%05d.ra0", j); }

bool ReserveSetFiles(const std::string& dir, int scans, int m,
                     std::vector<std::unique_ptr<AtomicFile>>* held, std::string* failed) {
  for (int j = 1; j <= scans; ++j) {
    const std::string path = JoinPath(dir, SyntheticFileName(j));
    auto file = std::make_unique<AtomicFile>(path);
    std::error_code ec;
    if (!file->IsOpen()) {
      *failed += "\n" + file->Error();
      continue;
    }
    if (std::filesystem::is_directory(path, ec)) {
      *failed += "\n" + path + ": is a directory";
      continue;
    }
    // File systems without preallocation only lose the early warning.
    const int err = ::posix_fallocate(::fileno(file->File()), 0, ScanFileBytes(m));
    if (err != 0 && err != EOPNOTSUPP && err != EINVAL) {
      *failed += "\n" + path + ": " + std::strerror(err);
      continue;
    }
    held->push_back(std::move(file));
  }
  if (failed->empty()) return true;
  held->clear();
  return false;
}

// The loaded set while a new one is generated, and every value the generation
// sets. The set's storage (scan tables, common grid, nonlinear-detection copies)
// is moved here, so that the new set is built in empty globals as after a release;
// the values are copied. The new set takes the place of the held one only when its
// files were all written: otherwise the new set is released and everything comes
// back as it was, nothing recomputed.
class HeldLoadedSet {
 public:
  // Notes the values before the generation sets any.
  void Note() { NoteValues(); }
  HeldLoadedSet() = default;
  HeldLoadedSet(const HeldLoadedSet&) = delete;
  HeldLoadedSet& operator=(const HeldLoadedSet&) = delete;
  // A set still aside when the generation is left (an exception between setting
  // aside and putting back) comes back; the half-built new set goes.
  ~HeldLoadedSet() {
    if (aside_) PutBack();
  }
  // Takes the set out of the globals (its plots are released, as at a release of
  // the set).
  void SetAside() {
    auto& dataSetPart = DataSet();
    hadSet_ = dataSetPart.nScans > 0;
    aside_ = true;
    SwapStorage();
    if (hadSet_) {
      if (GetDataSetHooks().releaseDataAndResidualPlots) GetDataSetHooks().releaseDataAndResidualPlots();
      dataSetPart.bFitLimitWarningAccepted = false;
    }
  }
  // The new set was written: the held set is released (the values of the new set
  // that a release sets are kept).
  bool Aside() const { return aside_; }
  void Release() {
    auto& dataPlotsPart = DataPlots();
    auto& dataSetPart = DataSet();
    aside_ = false;
    SwapStorage();
    const bool accepted = dataSetPart.bFitLimitWarningAccepted, changed = DataSet().bDataChanged;
    const int worst = dataPlotsPart.nWorstScan;
    FreeDataSet();
    dataSetPart.bFitLimitWarningAccepted = accepted;
    DataSet().bDataChanged = changed;
    dataPlotsPart.nWorstScan = worst;
    SwapStorage();
  }
  // The new set could not be written: it is released and the held set and every
  // noted value are back.
  void PutBack() {
    aside_ = false;
    FreeDataSet();
    SwapStorage();
    RestoreValues();
  }

 private:
  template <typename T>
  static void Exchange(T& a, T& b) {
    using std::swap;
    swap(a, b);
  }

  void SwapStorage() {
    auto& dataSetPart = DataSet();
    auto& fluorescenceDetectionPart = FluorescenceDetection();
    Exchange(dataSetPart.nScans, scans_);
    Exchange(dataSetPart.ppScanFileNames, names_);
    Exchange(dataSetPart.pScanInfo, info_);
    Exchange(dataSetPart.pDLSInfo, dls_);
    Exchange(dataSetPart.pnPoints, points_);
    Exchange(dataSetPart.pScanOrder, order_);
    Exchange(dataSetPart.pFitFirst, fitFirst_);
    Exchange(dataSetPart.pFitLast, fitLast_);
    std::vector<float*>* arrays[] = {&dataSetPart.ppRadius, &dataSetPart.ppSignal, &dataSetPart.ppThirdColumn, &dataSetPart.ppFit, &dataSetPart.ppResiduals, &dataSetPart.ppWork};
    for (std::size_t i = 0; i < arrays_.size(); ++i) Exchange(*arrays[i], arrays_[i]);
    std::vector<CVector*>* views[] = {&dataSetPart.ppRadiusVec, &dataSetPart.ppSignalVec, &dataSetPart.ppFitVec, &dataSetPart.ppResidualVec, &dataSetPart.ppThirdVec};
    for (std::size_t i = 0; i < views_.size(); ++i) Exchange(*views[i], views_[i]);
    std::vector<CCurve*>* curves[] = {&dataSetPart.ppDataCurve, &dataSetPart.ppFitCurve, &dataSetPart.ppResidualCurve, &dataSetPart.ppThirdCurve};
    for (std::size_t i = 0; i < curves_.size(); ++i) Exchange(*curves[i], curves_[i]);
    Exchange(CurrentGrid(), grid_);
    ScanRowSet* copies[] = {&fluorescenceDetectionPart.ppUntransformedSignal, &fluorescenceDetectionPart.ppUntransformedFit, &fluorescenceDetectionPart.ppTransformedSignal,
                            &fluorescenceDetectionPart.ppTransformedFit};
    for (std::size_t i = 0; i < copies_.size(); ++i) Exchange(*copies[i], copies_[i]);
    Exchange(fluorescenceDetectionPart.bTransformedShown, transformedShown_);
  }

  void NoteValues() {
    auto& dataPlotsPart = DataPlots();
    auto& lammSettingsPart = LammSettings();
    auto& linearAmplitudesPart = LinearAmplitudes();
    auto& rmsdPart = Rmsd();
    auto& analysisSwitchesPart = AnalysisSwitches();
    auto& dataSetPart = DataSet();
    auto& fluorescenceDetectionPart = FluorescenceDetection();
    auto& initialDataPart = InitialData();
    auto& modelParamsPart = ModelParams();
    v_.initPoints = initialDataPart.nInitPoints;
    v_.initRadius = initialDataPart.pInitRadius;
    v_.initSignal = initialDataPart.pInitSignal;
    v_.initThird = initialDataPart.pInitThird;
    v_.initInfo = initialDataPart.ScanInfoTemplate;
    v_.firstScanIsInitial = rmsdPart.bFirstScanIsInitial;
    v_.appliedPower = fluorescenceDetectionPart.dAppliedPower;
    v_.appliedBaseline = fluorescenceDetectionPart.dAppliedBaseline;
    v_.transformedRmsd = fluorescenceDetectionPart.fTransformedRmsd;
    v_.untransformedRmsd = fluorescenceDetectionPart.fUntransformedRmsd;
    std::copy(std::begin(analysisSwitchesPart.pParams), std::end(analysisSwitchesPart.pParams), v_.params.begin());
    std::copy(std::begin(analysisSwitchesPart.pParamFitFlags), std::end(analysisSwitchesPart.pParamFitFlags), v_.paramFit.begin());
    v_.species = {ToArray(modelParamsPart.pSpeciesAmplitude), ToArray(modelParamsPart.pSpeciesMassOrD), ToArray(modelParamsPart.pSpeciesS),
                  ToArray(modelParamsPart.pSpeciesExtra), ToArray(linearAmplitudesPart.pAppliedAmplitude)};
    v_.speciesFit = {ToArray(modelParamsPart.pSpeciesAmplitudeFit), ToArray(modelParamsPart.pSpeciesMassOrDFit), ToArray(modelParamsPart.pSpeciesSFit),
                     ToArray(modelParamsPart.pSpeciesExtraFit)};
    v_.switches = Switches();
    for (std::size_t i = 0; i < v_.switches.size(); ++i) v_.flags[i] = *v_.switches[i];
    v_.fitLeft = dataSetPart.fFitLeftLim;
    v_.fitRight = dataSetPart.fFitRightLim;
    v_.temperatureK = dataSetPart.fTemperatureK;
    v_.rt = dataSetPart.fRT;
    v_.lammGridPoints = lammSettingsPart.nLammGridPoints;
    v_.worstScan = dataPlotsPart.nWorstScan;
    v_.generation = dataSetPart.nDataSetGeneration;
    v_.modelStamp = ModelDataStamp();
    v_.dataDirectory = dataSetPart.szDataDirectory;
    v_.tmpParsPath = dataSetPart.szTmpParsPath;
    v_.sdistPath = dataSetPart.szSdistPath;
  }

  void RestoreValues() {
    auto& dataPlotsPart = DataPlots();
    auto& lammSettingsPart = LammSettings();
    auto& linearAmplitudesPart = LinearAmplitudes();
    auto& rmsdPart = Rmsd();
    auto& analysisSwitchesPart = AnalysisSwitches();
    auto& dataSetPart = DataSet();
    auto& fluorescenceDetectionPart = FluorescenceDetection();
    auto& initialDataPart = InitialData();
    auto& modelParamsPart = ModelParams();
    initialDataPart.nInitPoints = v_.initPoints;
    initialDataPart.pInitRadius = v_.initRadius;
    initialDataPart.pInitSignal = v_.initSignal;
    initialDataPart.pInitThird = v_.initThird;
    initialDataPart.ScanInfoTemplate = v_.initInfo;
    rmsdPart.bFirstScanIsInitial = v_.firstScanIsInitial;
    fluorescenceDetectionPart.dAppliedPower = v_.appliedPower;
    fluorescenceDetectionPart.dAppliedBaseline = v_.appliedBaseline;
    fluorescenceDetectionPart.fTransformedRmsd = v_.transformedRmsd;
    fluorescenceDetectionPart.fUntransformedRmsd = v_.untransformedRmsd;
    std::copy(v_.params.begin(), v_.params.end(), std::begin(analysisSwitchesPart.pParams));
    std::copy(v_.paramFit.begin(), v_.paramFit.end(), std::begin(analysisSwitchesPart.pParamFitFlags));
    FromArray(v_.species[0], modelParamsPart.pSpeciesAmplitude);
    FromArray(v_.species[1], modelParamsPart.pSpeciesMassOrD);
    FromArray(v_.species[2], modelParamsPart.pSpeciesS);
    FromArray(v_.species[3], modelParamsPart.pSpeciesExtra);
    FromArray(v_.species[4], linearAmplitudesPart.pAppliedAmplitude);
    FromArray(v_.speciesFit[0], modelParamsPart.pSpeciesAmplitudeFit);
    FromArray(v_.speciesFit[1], modelParamsPart.pSpeciesMassOrDFit);
    FromArray(v_.speciesFit[2], modelParamsPart.pSpeciesSFit);
    FromArray(v_.speciesFit[3], modelParamsPart.pSpeciesExtraFit);
    for (std::size_t i = 0; i < v_.switches.size(); ++i) *v_.switches[i] = v_.flags[i];
    dataSetPart.fFitLeftLim = v_.fitLeft;
    dataSetPart.fFitRightLim = v_.fitRight;
    dataSetPart.fTemperatureK = v_.temperatureK;
    dataSetPart.fRT = v_.rt;
    lammSettingsPart.nLammGridPoints = v_.lammGridPoints;
    dataPlotsPart.nWorstScan = v_.worstScan;
    dataSetPart.nDataSetGeneration = v_.generation;
    SetModelDataStamp(v_.modelStamp);
    dataSetPart.szDataDirectory = v_.dataDirectory;
    dataSetPart.szTmpParsPath = v_.tmpParsPath;
    dataSetPart.szSdistPath = v_.sdistPath;
  }

  // The switches of the set, the model and the Lamm options that the generation
  // (with the model computation it runs) may set.
  static std::array<bool*, 24> Switches() {
    auto& analysisSwitchesPart = AnalysisSwitches();
    auto& dataSetPart = DataSet();
    auto& lammSettingsPart = LammSettings();
    auto& modelParamsPart = ModelParams();
    auto& scanFilePart = ScanFile();
    return {&dataSetPart.bDataChanged,     &modelParamsPart.bLinearAmplitudes,  &analysisSwitchesPart.bFitTINoise,        &analysisSwitchesPart.bFitRINoise,
            &modelParamsPart.bVaryBaseline,    &analysisSwitchesPart.bInitialDataProfile, &analysisSwitchesPart.bUniformLoading,    &ModelOptions().bZoneInverseLayer,
            &scanFilePart.bAbsorbanceData,  &scanFilePart.bIntensityData,     &scanFilePart.bInterferenceData,  &scanFilePart.bFluorescenceData,
            &dataSetPart.bEquilibriumMode, &dataSetPart.bDLSData,           &analysisSwitchesPart.bModelComputed,     &dataSetPart.bFitLimitWarningAccepted,
            &analysisSwitchesPart.bRampRotorSpeed,  &analysisSwitchesPart.bTimesFromW2t,      &lammSettingsPart.bMovingHat,         &lammSettingsPart.bClaverie,
            &lammSettingsPart.bFixTimeStep,     &lammSettingsPart.bAutoSGrid,         &KernelProfiles().bSyntheticFromDistribution, &analysisSwitchesPart.bSimulating};
  }
  using SlotValues = std::array<float, nSpeciesSlots + 1>;
  using SlotFlags = std::array<int, nSpeciesSlots + 1>;
  template <typename T>
  static std::array<T, nSpeciesSlots + 1> ToArray(const T (&a)[nSpeciesSlots + 1]) {
    std::array<T, nSpeciesSlots + 1> out{};
    std::copy(std::begin(a), std::end(a), out.begin());
    return out;
  }
  template <typename T>
  static void FromArray(const std::array<T, nSpeciesSlots + 1>& in, T (&a)[nSpeciesSlots + 1]) {
    std::copy(in.begin(), in.end(), std::begin(a));
  }

  bool hadSet_ = false;
  bool aside_ = false;  // set aside, neither released nor put back yet
  // Storage (exchanged with the globals).
  int scans_ = 0;
  std::vector<std::string> names_;
  std::vector<ScanInfo> info_;
  std::vector<DLSInfo> dls_;
  std::vector<int> points_, order_, fitFirst_, fitLast_;
  std::array<std::vector<float*>, 6> arrays_;
  std::array<std::vector<CVector*>, 5> views_;
  std::array<std::vector<CCurve*>, 4> curves_;
  GridData grid_;
  std::array<ScanRowSet, 4> copies_;
  bool transformedShown_ = false;
  // Values (copied).
  struct Values {
    int initPoints = 0;
    std::vector<float> initRadius, initSignal, initThird;
    ScanInfo initInfo;
    bool firstScanIsInitial = false;
    double appliedPower = 1.0, appliedBaseline = 0.0;
    float transformedRmsd = 0.0f, untransformedRmsd = 0.0f;
    std::array<float, kModelParams + 1> params{};
    std::array<int, kModelParams + 1> paramFit{};
    std::array<SlotValues, 5> species{};
    std::array<SlotFlags, 4> speciesFit{};
    std::array<bool*, 24> switches{};
    std::array<bool, 24> flags{};
    float fitLeft = 0.0f, fitRight = 0.0f, temperatureK = 0.0f, rt = 0.0f;
    int lammGridPoints = 0;
    int worstScan = 0;
    unsigned generation = 0;
    LoadedDataStamp modelStamp;
    std::string dataDirectory, tmpParsPath, sdistPath;
  } v_;
};

}  // namespace

std::string SyntheticDistributionNote() {
  return Format("put synthetic distribution in %s", szDistribFile.c_str());
}

std::string SyntheticSettingsRefusal(const SyntheticDataSettings& in) {
  auto& dataSetPart = DataSet();
  const double dr = in.dr, interval = in.interval;
  if (in.scans < 1 || in.scans > kMaxScans)
    return Format("the number of scans %d must lie between 1 and %d", in.scans, kMaxScans);
  // The grid loop needs dr > 0, the times rpm > 0.
  if (!(in.dr > 0.0f)) return Format("the point spacing dr %g cm must be above 0", dr);
  if (in.dr < kScanFileRadiusStep)
    return Format("the point spacing dr %g cm is finer than %g cm, the step in which scan files hold radii",
                  dr, static_cast<double>(kScanFileRadiusStep));
  if (!kRotorSpeedRule.Holds(in.rpm)) return kRotorSpeedRule.IsOutside(in.rpm);
  if (!(in.interval >= 0.0f)) return Format("the time interval of the scans %g s must not be negative", interval);
  // The time of the last scan, with the acceleration phase before the first.
  double last = in.firstTime != 0.0f ? (in.scans - 1) * interval + in.firstTime : in.scans * interval;
  if (in.acceleration > 0.0f) last += static_cast<double>(in.rpm) / in.acceleration;
  if (!(last <= kMaxRunTimeS))
    return Format("the scans would reach beyond %g s, the longest time of a run", kMaxRunTimeS);
  if (dataSetPart.fMeniscus <= 0.0f || dataSetPart.fBottom <= 0.0f) return kSetMeniscusAndBottomText;
  if (dataSetPart.fMeniscus >= dataSetPart.fBottom)
    return Format("the meniscus %g cm must lie below the bottom %g cm", static_cast<double>(dataSetPart.fMeniscus),
                  static_cast<double>(dataSetPart.fBottom));
  const int m = CountGridPoints(in.dr);
  if (m > kMaxGridPoints)
    return Format("the point spacing dr %g cm gives more than %d points from the meniscus %g cm to the bottom %g cm",
                  dr, kMaxGridPoints, static_cast<double>(dataSetPart.fMeniscus), static_cast<double>(dataSetPart.fBottom));
  if (m < 2)
    return Format("the point spacing dr %g cm leaves fewer than two points from the meniscus %g cm to the bottom %g cm",
                  dr, static_cast<double>(dataSetPart.fMeniscus), static_cast<double>(dataSetPart.fBottom));
  return std::string();
}

bool SyntheticSettingsRefused(const SyntheticDataSettings& in) { return !SyntheticSettingsRefusal(in).empty(); }

SyntheticResult GenerateSyntheticData(Window* window, const SyntheticDataSettings& in) {
  auto& modelOptionsPart = ModelOptions();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& initialDataPart = InitialData();
  auto& modelFlagsPart = ModelFlags();
  auto& modelParamsPart = ModelParams();
  auto& scanFilePart = ScanFile();
  auto& syntheticDataPart = SyntheticData();
  // Refused before anything changes.
  if (std::string why = SyntheticSettingsRefusal(in); !why.empty())
    return {SyntheticOutcome::Refused, std::move(why)};
  const int m = CountGridPoints(in.dr);
  // The files are made ready before the loaded set is given up: every target
  // gets its temporary, with the room its scan will take reserved on the disk,
  // held until the new set is written. A directory that is missing or read-only,
  // a target that is write-protected or a directory, or a full disk refuse the
  // command here, while nothing has changed.
  std::vector<std::unique_ptr<AtomicFile>> reserved;
  {
    std::string failed;
    if (!ReserveSetFiles(WithoutTrailingSlash(DirectoryOf(in.outputPath)), in.scans, m, &reserved,
                         &failed)) {
      return {SyntheticOutcome::NotWritable,
              "could not write:" + failed + "\nthe loaded data are kept"};
    }
  }

  // What the generation changes is noted, and the loaded set is held aside (step
  // 3), until the new set is written.
  HeldLoadedSet held;
  held.Note();

  // 1. The switches of a fresh data set without systematic noise, the amplitudes as
  // given (solved linearly they would be fitted to data not yet made). Amplitudes
  // that were solved linearly stay fitted: their fit switches are set, so that a fit
  // floats them and the parameters bring the linear solve back.
  DataSet().bDataChanged = true;
  if (modelParamsPart.bLinearAmplitudes) {
    UnpackModelParams();
    for (int k = 1; k <= nSpeciesSlots; ++k)
      if (analysisSwitchesPart.pSpeciesLinked[k]) modelParamsPart.pSpeciesAmplitudeFit[k] = 1;
    PackModelParams();
  }
  modelParamsPart.bLinearAmplitudes = false;
  analysisSwitchesPart.bFitTINoise = analysisSwitchesPart.bFitRINoise = false;
  modelParamsPart.bVaryBaseline = false;
  analysisSwitchesPart.bInitialDataProfile = false;
  analysisSwitchesPart.bUniformLoading = true;
  dataSetPart.szDataDirectory = WithoutTrailingSlash(DirectoryOf(in.outputPath));

  // 3. Grid, released set, initial profile.
  // r_i = meniscus + (i - 1) dr: a running sum would drift by up to a step.
  std::vector<float> grid(At(m) + 1, 0.0f);
  for (int i = 1; i <= m; ++i) grid[At(i)] = dataSetPart.fMeniscus + static_cast<float>(i - 1) * in.dr;
  if (dataSetPart.nScans > 0) FreeInitialDistribution();
  held.SetAside();
  initialDataPart.nInitPoints = m;
  initialDataPart.pInitRadius.assign(grid.begin(), grid.end());
  initialDataPart.pInitSignal.assign(At(m) + 1, LoadingSignal());
  initialDataPart.ScanInfoTemplate = SyntheticScanInfo(in.rpm, m);
  initialDataPart.ScanInfoTemplate.cell = 0;
  initialDataPart.ScanInfoTemplate.temperature = 0.0f;

  // 4. Zone centrifugation: which way round the band lies, as the command was told.
  modelOptionsPart.bZoneInverseLayer = modelFlagsPart.bZoneCentrifugation && in.invertBand;

  // 5. Absorbance scans; residuals hold the noise.
  scanFilePart.bAbsorbanceData = true;
  scanFilePart.bIntensityData = scanFilePart.bInterferenceData = scanFilePart.bFluorescenceData = false;
  dataSetPart.bEquilibriumMode = false;
  dataSetPart.bDLSData = false;
  AllocScanTables(in.scans);
  for (int j = 1; j <= in.scans; ++j) {
    float* r = tarmic::vector(1, m);
    float* y = tarmic::vector(1, m);
    for (int i = 1; i <= m; ++i) {
      r[i] = grid[At(i)];
      y[i] = 0.0f;
    }
    InstallScanArrays(j, m, r, y, nullptr, false);
    dataSetPart.ppScanFileNames[At(j)] = SyntheticFileName(j);
    for (int i = 1; i <= m; ++i) dataSetPart.ppResiduals[At(j)][i] = in.noise != 0.0f ? GaussianRandom(in.noise) : 0.0f;

    // 6. Times: evenly spaced; an acceleration phase of T = rpm / a adds T and the
    // omega^2 t of a linear ramp, rpm^2 T / 3 (4 pi^2 / 3600).
    ScanInfo info = SyntheticScanInfo(in.rpm, m);
    const double rpm2 = static_cast<double>(in.rpm) * in.rpm;
    double t = in.firstTime != 0.0f ? (j - 1) * static_cast<double>(in.interval) + in.firstTime
                                    : j * static_cast<double>(in.interval);
    double w2t = t * rpm2 * kFourPiSquaredPer3600;
    if (in.acceleration > 0.0f) {
      const double T = in.rpm / in.acceleration;
      info.accelRate = in.acceleration;
      info.accelTime = T;
      t += T;
      w2t += rpm2 * T / 3.0 * kFourPiSquaredPer3600;
    }
    info.time = info.recordedTime = info.timeAtLoad = t;
    info.omega2t = w2t;
    dataSetPart.pScanInfo[At(j)] = info;
  }
  NoteScanDataChanged();

  // 7. Fit limits and temperature.
  if (!syntheticDataPart.bGeneratingSeries) {
    dataSetPart.fFitLeftLim = dataSetPart.fMeniscus + 0.01f;
    dataSetPart.fFitRightLim = dataSetPart.fBottom - 0.01f;
  }
  for (int j = 1; j <= in.scans; ++j) {
    dataSetPart.pFitFirst[At(j)] = 1;
    dataSetPart.pFitLast[At(j)] = m;
  }
  analysisSwitchesPart.pParams[13] = dataSetPart.fMeniscus;
  analysisSwitchesPart.pParams[14] = dataSetPart.fBottom;
  dataSetPart.fTemperatureK = static_cast<float>(kTemperatureC + 273.15);
  dataSetPart.fRT = static_cast<float>((kTemperatureC + 273.15) * kGasConstant);
  // The saved parameters and distribution grid of the new set beside its files.
  dataSetPart.szTmpParsPath = JoinPath(dataSetPart.szDataDirectory, analysisSwitchesPart.bOldFilenameConvention ? "00001.~p" : "~tmppars.ra0");
  dataSetPart.szSdistPath = JoinPath(dataSetPart.szDataDirectory, "sdist.ra0");

  // 8. The model signal into ppFit, with the rotor ramp only when asked for.
  const bool simulating = analysisSwitchesPart.bSimulating;
  analysisSwitchesPart.bSimulating = true;
  const bool ramp = analysisSwitchesPart.bRampRotorSpeed, fromW2t = analysisSwitchesPart.bTimesFromW2t;
  if (in.acceleration >= 0.0f) {
    analysisSwitchesPart.bRampRotorSpeed = true;
    analysisSwitchesPart.bTimesFromW2t = false;
  } else {
    analysisSwitchesPart.bRampRotorSpeed = false;
  }
  // A continuous model reads its distribution from the file over the one on show,
  // which comes back with the loaded set when the new set cannot be written.
  std::optional<HeldDistribution> shownDistribution;
  // Left by an exception from here on, the generation puts the loaded set back
  // before the distribution that belongs to it.
  struct PutBackWhenLeft {
    HeldLoadedSet& set;
    std::optional<HeldDistribution>& distribution;
    ~PutBackWhenLeft() {
      if (!set.Aside()) return;
      set.PutBack();
      if (distribution) distribution->PutBack();
    }
  } putBack{held, shownDistribution};
  ModelSignal signal;
  if (modelFlagsPart.bContiModel) {
    shownDistribution.emplace();
    signal = ComputeDistributionSignal(window, in.distributionNormalized);
  } else {
    signal = ComputeModelSignal(window);
  }
  analysisSwitchesPart.bRampRotorSpeed = ramp;
  analysisSwitchesPart.bTimesFromW2t = fromW2t;
  // A key that stopped the computation, or one that came after its last solution,
  // does not stop the next computation as well.
  bUserAbort = false;
  // The loaded set comes back when no new one takes its place.
  const auto keepLoaded = [&](SyntheticOutcome outcome, const std::string& why) {
    held.PutBack();
    if (shownDistribution) shownDistribution->PutBack();
    analysisSwitchesPart.bSimulating = simulating;
    RebuildDataAndResidualPlots();
    RedrawDataPlot(true);
    RedrawResidualPlot(true);
    if (!syntheticDataPart.bGeneratingSeries && window) window->Invalidate();
    return SyntheticResult{outcome, why + "\nthe loaded data are kept"};
  };
  // A model that could not be computed (a Lamm solution refused, the distribution
  // file refused) or that a key stopped makes no data.
  if (signal.stopped)
    return keepLoaded(SyntheticOutcome::Stopped,
                      "user interrupt\nno data were generated: the computation was stopped");
  if (!signal.computed) {
    if (signal.why.empty()) signal.why = "the model could not be computed";
    return keepLoaded(SyntheticOutcome::NotComputed, "no data were generated: " + signal.why);
  }
  if (analysisSwitchesPart.bTimesFromW2t) {
    const double w = in.rpm * kTwoPiOver60;
    for (int j = 1; j <= in.scans; ++j) dataSetPart.pScanInfo[At(j)].time = dataSetPart.pScanInfo[At(j)].omega2t / (w * w);
  }

  // 9. Data = model + noise.
  for (int j = 1; j <= in.scans; ++j)
    for (int i = 1; i <= m; ++i) dataSetPart.ppSignal[At(j)][i] = dataSetPart.ppFit[At(j)][i] + dataSetPart.ppResiduals[At(j)][i];
  NoteScanDataChanged();

  // 11-12. Display order by time, the grid, the limits, the species tables.
  for (int i = 2; i <= in.scans;) {
    const double before = dataSetPart.pScanInfo[At(dataSetPart.pScanOrder[At(i - 1)])].time;
    const double here = dataSetPart.pScanInfo[At(dataSetPart.pScanOrder[At(i)])].time;
    if (before > here) {
      std::swap(dataSetPart.pScanOrder[At(i - 1)], dataSetPart.pScanOrder[At(i)]);
      if (i > 2) --i;
    } else {
      ++i;
    }
  }
  BuildCommonRadialGrid();
  if (dataSetPart.fFitLeftLim != 0.0f) SetLeftFitLimitIndices();
  if (dataSetPart.fFitRightLim != 0.0f) SetRightFitLimitIndices();
  AllocSpeciesSignalArrays();

  // 13. Every scan as a file in the data directory, all written before any
  // replaces its target (a directory never holds a set made of two runs). The
  // reserved room is given back just before. The new set replaces the held one
  // only when every file was written; otherwise the held set comes back.
  reserved.clear();
  // Each complete file is read back through the scan reader before any replaces its
  // target: a set the program would not load again (a value beyond what a detector
  // gives, a header the reader refuses) is not generated.
  std::string failed, unreadable;
  {
    AtomicFileBatch batch;
    for (int j = 1; j <= in.scans; ++j) {
      const std::string path = ScanFilePath(j);
      batch.Check(path, WriteScanFile(path.c_str(), m, dataSetPart.ppRadius[At(j)], dataSetPart.ppSignal[At(j)], nullptr,
                                      nullptr, true, dataSetPart.pScanInfo[At(j)]));
    }
    if (batch.Failed().empty()) unreadable = UnreadableFile(batch);
    if (unreadable.empty())
      failed = batch.Finish();
    else
      batch.Discard();
  }
  if (!unreadable.empty())
    return keepLoaded(SyntheticOutcome::NotReadable,
                      "no data were generated: a scan file of the set would not load again\n" + unreadable);
  if (!failed.empty()) return keepLoaded(SyntheticOutcome::NotWritten, failed);
  held.Release();

  // 14-15. The noise actually drawn, the plots.
  std::string meanDev;
  if (in.noise > 0.0f) meanDev = Format("mean dev = %f  ", static_cast<double>(FitRmsd()));
  analysisSwitchesPart.bModelComputed = false;
  analysisSwitchesPart.bSimulating = simulating;
  RebuildDataAndResidualPlots();
  RedrawDataPlot(true);
  if (!syntheticDataPart.bGeneratingSeries && window) {
    window->Invalidate();
    if (!meanDev.empty()) window->ClientDC()->TextOut(ReadoutColumn(10, window->ClientSize()), 50, meanDev);
  }
  return {SyntheticOutcome::Generated, {}};
}

void ResetSyntheticData() { SyntheticData().bGeneratingSeries = false; }

std::vector<std::string> SyntheticDataFiles(const SyntheticDataSettings& settings) {
  const std::string dir = WithoutTrailingSlash(DirectoryOf(settings.outputPath));
  std::vector<std::string> files;
  for (int j = 1; j <= settings.scans; ++j) files.push_back(JoinPath(dir, SyntheticFileName(j)));
  return files;
}

}  // namespace tarmic
