// One continuous-distribution analysis, from the checks to the plotted result.
#include "distributions/conti_run.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "services/engine_notice.h"
#include "distributions/conti_grid_setup.h"
#include "distributions/ctot_tables.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_storage.h"
#include "distributions/distribution_transforms.h"
#include "distributions/ms_table.h"
#include "distributions/maximum_entropy.h"
#include "distributions/noise_fit.h"
#include "distributions/normal_equation_threads.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"
#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/param_checks.h"
#include "numerics/rods_worms.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "plot/data_plots.h"
#include "plot/progress_line.h"
#include "propagators/buffer_sedimentation.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/dls_file.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// The box a run ends with; none in batch mode (a series must not stop on a box).
RunMessage Message(const std::string& text, const char* caption, unsigned style = MB_OK) {
  if (bBatchMode) return {};
  return {text, caption, style, false};
}

int UnknownCount() { return IsSizeShapeModel() ? DistributionVectors().nFf0Grid : DistributionVectors().nDistGrid; }

// The propagator choice after every run: the static grid with the automatic choice.
void LeaveRunPropagatorChoice() {
  auto& lammSettingsPart = LammSettings();
  lammSettingsPart.bClaverie = true;
  lammSettingsPart.bFixTimeStep = false;
  lammSettingsPart.bMovingHat = false;
  lammSettingsPart.bAutoFEAlgorithm = true;
}

// The state of one run that every way out of it restores: the device context of
// the progress text, the progress line, and the propagator choice.
class RunScope {
 public:
  explicit RunScope(Window* window) : window_(window) {
    if (window_) dc_ = window_->ClientDC();
    NormalEquations().hContiDC = dc_.get();
  }
  ~RunScope() {
    HideProgressLine();
    NormalEquations().hContiDC = nullptr;
    dc_.reset();
    LeaveRunPropagatorChoice();
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

  void ShowProgressLine() {
    if (!window_ || !ContiRun().bShowProgressLine || ContiFitInProgress()) return;
    line_ = std::make_unique<CProgressLine>();
    line_->SetBlueColor();
    line_->Show(*window_, 400, 57);
    NormalEquations().pContiProgressLine = line_.get();
  }
  void HideProgressLine() {
    if (line_ && window_) line_->Hide(*window_);
    NormalEquations().pContiProgressLine = nullptr;
    line_.reset();
  }

 private:
  Window* window_;
  std::unique_ptr<DC> dc_;
  std::unique_ptr<CProgressLine> line_;
};

// A run that ends without a result: the kernels and the workspace go. Outside inner
// runs the last result is shown again; a synthetic set made from a loaded
// distribution has none, and its distribution goes.
void AbandonRun(Window* window, LastContiResult& last) {
  FreeKernelArrays();
  FreeNormalEquationArrays();
  if (DistributionModels().bContiInnerRun) return;
  if (last.Active()) {
    last.PutBack();
  } else {
    ClearDistribution();
    AnalysisSwitches().bModelComputed = false;
  }
  if (ContiRun().bRedrawModel && window) window->Invalidate();
}

void Text(int y, ProgressKind kind, const char* text) {
  if (!ContiFitInProgress()) ShowContiProgress(10, y, kind, text);
}

void ShowDetectionDomain(bool transformed) {
  const auto& domain = GetDistributionHooks().nonlinearDetectionDomain;
  if (domain) domain(transformed);
}

// The fluorescence nonlinear-detection transform of one run: the distribution is
// fitted to the transformed data. Every way out of the run shows the user's domain
// again, except a completed inner run, whose caller computes the fit and its rmsd
// in the transformed domain and finishes with FinishContiResult.
class DetectionDomainScope {
 public:
  DetectionDomainScope() { ShowDetectionDomain(true); }
  ~DetectionDomainScope() {
    if (restore_) ShowDetectionDomain(false);
  }
  DetectionDomainScope(const DetectionDomainScope&) = delete;
  DetectionDomainScope& operator=(const DetectionDomainScope&) = delete;
  void Keep() { restore_ = false; }

 private:
  bool restore_ = true;
};

// Grid point 1 is the buffer component of the buffer-mismatch model (as the kernels
// place it), and its amplitude is the solved buffer signal unless held fixed.
bool BufferInFirstPoint() {
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bBufferSedCorrection && !IsSizeShapeModel() && !modelFlagsPart.bLsgOneDiscrete && DistributionVectors().nDistGrid >= 2;
}
bool BufferAmplitudeFixed() { return BufferInFirstPoint() && !BufferSedimentation().BufferSed.fitSignal; }

// The fit of a given distribution (synthetic data): every scan's fit values are
// the kernel sum with the given amplitudes.
void FinishSyntheticFit(Window* window) {
  auto& contiRunPart = ContiRun();
  auto& dataSetPart = DataSet();
  auto& distributionStoragePart = DistributionStorage();
  auto& distributionVectorsPart = DistributionVectors();
  const int n = distributionVectorsPart.nDistGrid;
  for (int i = 1; i <= n; ++i) {
    distributionStoragePart.pDistSolution[i] = distributionVectorsPart.pDistValues[i];
    distributionVectorsPart.pDistValues2[i] = 0.0f;
    distributionStoragePart.pDistSolution2[i] = 0.0;
  }
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const std::size_t si = static_cast<std::size_t>(s);
    const int points = std::min(dataSetPart.pnPoints[si], distributionStoragePart.nKernelArrayPoints);
    float* fit = dataSetPart.ppFit[si];
    for (int p = 1; p <= dataSetPart.pnPoints[si]; ++p) fit[p] = 0.0f;
    for (int p = 1; p <= points; ++p) {
      double sum = 0.0;
      for (int i = 1; i <= n; ++i) sum += distributionStoragePart.pDistSolution[i] * distributionStoragePart.pppKernels[i][s][p];
      fit[p] = static_cast<float>(sum);
    }
  }
  NormalizeDistributionValues(false);
  FreeKernelArrays();
  FreeNormalEquationArrays();
  RedrawDistributionPlot();
  const auto& update = GetDistributionHooks().updateNonlinearDetectionFit;
  if (update) update();
  if (window && contiRunPart.bRedrawModel) window->Invalidate();
}

// The normal equations of the noise model; false when they could not be built
// (not by an interrupt: bUserAbort tells that); *failure receives the box of a
// refusal or of memory that could not be had.
bool BuildEquations(const ContiRunSettings& settings, RunMessage* failure) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& normalEquationsPart = NormalEquations();
  normalEquationsPart.bFixedFirstKernel = false;
  normalEquationsPart.dFixedFirstAmplitude = 0.0;
  std::string error;
  const auto built = [failure, &error](bool ok) {
    if (!ok && !error.empty()) *failure = ErrorBoxMessage(std::move(error));
    return ok;
  };
  // The time course analyses the correlation functions of the scan range alone
  // (record 1: the mean of a time window), its baseline removed by centring.
  if (ModelFlags().bDLSTimeCourseModel) return built(BuildNormalEquationsScanRange(&error));
  // A buffer component of fixed concentration: its kernel (which carries the
  // amplitude) is taken from the data and only the other points are solved. The
  // elimination of that term needs both noise terms.
  if (BufferAmplitudeFixed()) {
    if (!(analysisSwitchesPart.bFitTINoise && analysisSwitchesPart.bFitRINoise)) {
      *failure = Message(
          "buffer mismatch with fixed concentration not implemented in c(s) for this noise "
          "model\n(need RI+TI noise)",
          "ERROR");
      return false;
    }
    return built(BuildNormalEquationsFixedFirst(BufferSedimentation().BufferSed.signal, &error));
  }
  const NoiseModel model = SelectNoiseModel();
  if (settings.multiThreading)
    return built(BuildNormalEquationsThreaded(model, settings.threads, kNEQMultiplyAddsPerThread,
                                              &error));
  return built(BuildNormalEquations(model, &error));
}

// The regularised solution into pDistSolution (and the Tikhonov-Phillips one into
// pDistSolution2 when both are shown); false when there is none.
bool Solve(const ContiRunSettings& settings) {
  auto& normalEquationsPart = NormalEquations();
  auto& distributionModelsPart = DistributionModels();
  auto& distributionStoragePart = DistributionStorage();
  auto& distributionVectorsPart = DistributionVectors();
  auto& regularizationPart = Regularization();
  regularizationPart.nRegUnknowns = distributionVectorsPart.nDistGrid;
  const FixedFirstKernelShift shift;
  if (normalEquationsPart.bFixedFirstKernel && !IsSizeShapeModel()) regularizationPart.nRegUnknowns = distributionVectorsPart.nDistGrid - 1;
  const bool logged = !distributionModelsPart.bContiInnerRun || distributionModelsPart.bFinalFitEvaluation || distributionModelsPart.bMonteCarloRun;
  if (logged) WriteContiDebugLog("\nStarting Regularization");
  bool ok = false;
  if (IsSizeShapeModel()) {
    ok = Regularize();
  } else if (!settings.showBoth) {
    ok = settings.maxEntropy ? MaxEntRegularize(settings.suppressBaselineCorrelation)
                             : Regularize();
  } else {
    const bool tp = Regularize();
    const int n = distributionStoragePart.nNEQUnknowns;
    for (int i = 1; i <= n; ++i) distributionStoragePart.pDistSolution2[i] = tp ? distributionStoragePart.pDistSolution[i] : 0.0;
    // An interrupted first regularisation ends the solve.
    ok = !bUserAbort && MaxEntRegularize(settings.suppressBaselineCorrelation);
  }
  if (logged) WriteContiDebugLog(" --> DONE");
  shift.PlaceFixedAmplitude(settings.showBoth);
  return ok;
}

ContiRunResult Finish(ContiRunOutcome outcome, RunMessage message = {}) {
  ContiRun().eLastContiRunOutcome = outcome;
  WriteContiDebugLog(" --> cleanup done.");
  return {outcome, std::move(message)};
}

// The note of the kernels left out of a computed run; none when all were solved.
RunMessage KernelNoteMessage(std::string note) {
  if (note.empty()) return {};
  return {std::move(note), "Note", MB_OK | MB_ICONEXCLAMATION, false};
}

// A key ended the run (bUserAbort) in its kernels, its normal equations or its
// solve: nothing of the new run is shown. The run's note says that it was stopped
// and, where the result of before the run is shown again, that this is the earlier
// result, not one of the stopped run. The callers of inner runs (a refinement, Monte
// Carlo, a time course) report the interruption themselves when they end.
ContiRunResult Interrupted(Window* window, LastContiResult& last) {
  const bool ownNote = !DistributionModels().bContiInnerRun;
  const bool synthetic = KernelProfiles().bSyntheticFromDistribution;
  AbandonRun(window, last);
  bUserAbort = false;
  bStopRealtimeUpdate = true;
  PlayOkSound();
  RunMessage note;
  if (ownNote)
    note = Message(synthetic ? std::string("user interrupt") : StoppedRunText(AnalysisSwitches().bModelComputed), "ERROR");
  return Finish(ContiRunOutcome::Interrupted, std::move(note));
}

// A zero meniscus or bottom is a cell not yet set. Correlation functions have no
// cell: their "meniscus" and "bottom" are the log10 lag times of the ends of the
// data, and the last lag of 1 s gives a bottom of 0.
bool CellGeometryUnset() { return !DataSet().bDLSData && (DataSet().fMeniscus == 0.0f || DataSet().fBottom == 0.0f); }

}  // namespace

FixedFirstKernelShift::FixedFirstKernelShift()
    : active_(NormalEquations().bFixedFirstKernel && !IsSizeShapeModel() && DistributionVectors().nDistGrid >= 2) {
  auto& distributionVectorsPart = DistributionVectors();
  if (!active_ || !distributionVectorsPart.pPriorProbability) return;
  prior1_ = distributionVectorsPart.pPriorProbability[1];
  for (int i = 1; i < distributionVectorsPart.nDistGrid; ++i) distributionVectorsPart.pPriorProbability[i] = distributionVectorsPart.pPriorProbability[i + 1];
}

FixedFirstKernelShift::~FixedFirstKernelShift() {
  auto& distributionVectorsPart = DistributionVectors();
  if (!active_ || !distributionVectorsPart.pPriorProbability) return;
  for (int i = distributionVectorsPart.nDistGrid; i >= 2; --i) distributionVectorsPart.pPriorProbability[i] = distributionVectorsPart.pPriorProbability[i - 1];
  distributionVectorsPart.pPriorProbability[1] = prior1_;
}

void FixedFirstKernelShift::PlaceFixedAmplitude(bool second) const {
  auto& distributionVectorsPart = DistributionVectors();
  auto& normalEquationsPart = NormalEquations();
  auto& distributionStoragePart = DistributionStorage();
  if (!active_) return;
  for (double* x : {distributionStoragePart.pDistSolution, second ? distributionStoragePart.pDistSolution2 : nullptr}) {
    if (!x) continue;
    for (int i = distributionVectorsPart.nDistGrid; i >= 2; --i) x[i] = x[i - 1];
    x[1] = normalEquationsPart.dFixedFirstAmplitude;
  }
}

LastContiResult::LastContiResult()
    : active_(!DistributionModels().bContiInnerRun && !KernelProfiles().bSyntheticFromDistribution),
      transformed_(DistributionPlot().bDistTransformed),
      rhTransformed_(DistributionPlot().bDistRhTransformed),
      mofsTableRun_(DistributionPlot().bMofsTableRun) {}

LastContiResult::~LastContiResult() {
  // An exception on the way out leaves the last result as well; a second one while
  // it is put back must not end the program.
  try {
    // Once the grid set-up has begun, the kernels and equations are those of the
    // new grid: they go, so that no later run takes them for the grid on show.
    if (active_ && aside_) {
      FreeKernelArrays();
      FreeNormalEquationArrays();
    }
    PutBack();
  } catch (...) {
  }
}

void LastContiResult::SetAside() {
  if (active_ && !aside_) aside_ = std::make_unique<SetAsideDistribution>();
}

void LastContiResult::Replaced() {
  active_ = false;
  aside_.reset();
}

void LastContiResult::PutBack() {
  auto& distributionPlotPart = DistributionPlot();
  if (!active_) return;
  active_ = false;
  distributionPlotPart.bDistTransformed = transformed_;
  distributionPlotPart.bDistRhTransformed = rhTransformed_;
  distributionPlotPart.bMofsTableRun = mofsTableRun_;
  if (aside_) aside_->PutBack();
  aside_.reset();
}

bool SolveContiDistribution(const ContiRunSettings& settings) { return Solve(settings); }

bool EnsureFieldCorrelationData(Window* window, const AnswerPolicy& answers) {
  auto& distributionModelsPart = DistributionModels();
  auto& dataSetPart = DataSet();
  if (!dataSetPart.bDLSData || dataSetPart.nScans < 1 || dataSetPart.pDLSInfo.size() <= static_cast<std::size_t>(dataSetPart.nScans)) return true;
  if (dataSetPart.pDLSInfo[1].bFieldACF) return true;
  // Inner runs and series ask nothing: the data stay as they are and nothing is run.
  // Where nobody is there to ask, the policy says No (the window's does).
  if (distributionModelsPart.bContiInnerRun || bBatchMode) return false;
  // The question precedes every computation of the run, and each analysis that
  // starts a run (Run, Fit, Monte Carlo, time course) must have g(1) data: it is
  // asked here, once, for all of them.
  if (!AnswersYes(answers, {QuestionId::TransformToG1,
                             "DLS data for this model must be field autocorrelation g(1) - transform?", "ERROR",
                             MB_YESNO | MB_DEFBUTTON2}))
    return false;
  // g(1) = sign(g(2) - 1) sqrt|g(2) - 1| of every function; the grid rows follow.
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    const std::size_t k = static_cast<std::size_t>(s);
    ConvertIntensityToFieldACF(dataSetPart.pnPoints[k], dataSetPart.ppSignal[k], &dataSetPart.pDLSInfo[k]);
    FillGridSignalRow(s);
  }
  DataSet().bDataChanged = true;
  const DataSetHooks& hooks = GetDataSetHooks();
  if (hooks.rebuildDataAndResidualPlots) hooks.rebuildDataAndResidualPlots();
  if (window) window->Invalidate();
  return true;
}

void WarnLsgOnEquilibriumData() {
  auto& modelFlagsPart = ModelFlags();
  // The analysis goes on after the warning: it is shown now, before the questions
  // of the grid set-up.
  if (DataSet().bEquilibriumMode && (modelFlagsPart.bLsgModel || modelFlagsPart.bLsgOneDiscrete))
    ShowRunMessage(Message("not implemented for sed eq data", "", MB_OK | MB_ICONEXCLAMATION));
}

bool CheckCsff0KernelReuse() {
  auto& contiRunPart = ContiRun();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionStoragePart = DistributionStorage();
  if (DistributionModels().bContiInnerRun || !IsSizeShapeModel()) {
    contiRunPart.bRebuildKernels = true;
    return true;
  }
  const Csff0GridKey now{distributionGridPart.fDistGridCount, DistributionVectors().nFf0Grid, distributionGridPart.nFf0Values, distributionGridPart.fDistMin,
                         distributionGridPart.fDistMax,       distributionGridPart.fFf0Min,  distributionGridPart.fFf0Max};
  const Csff0GridKey& last = distributionGridPart.sLastCsff0Grid;
  const bool same = now.gridCount == last.gridCount && now.ff0Grid == last.ff0Grid &&
                    now.ff0Values == last.ff0Values && now.distMin == last.distMin &&
                    now.distMax == last.distMax && now.ff0Min == last.ff0Min &&
                    now.ff0Max == last.ff0Max;
  contiRunPart.bRebuildKernels = !(same && !DataSet().bDataChanged && distributionStoragePart.pppKernels && distributionStoragePart.ppNormalMatrix);
  return contiRunPart.bRebuildKernels;
}

ContiRunResult RunContiSed(Window* window) {
  auto& distributionVectorsPart = DistributionVectors();
  auto& lammGlobalsPart = LammGlobals();
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& contiRunPart = ContiRun();
  auto& dataSetPart = DataSet();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionModelsPart = DistributionModels();
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionStoragePart = DistributionStorage();
  auto& kernelProfilesPart = KernelProfiles();
  auto& lammSettingsPart = LammSettings();
  auto& modelFlagsPart = ModelFlags();
  auto& solventConstantsPart = SolventConstants();
  WriteContiDebugLog("\nEntering RunContiSed");
  LastContiResult last;
  distributionPlotPart.bMofsTableRun = false;
  if (modelFlagsPart.bCsMsTable) {
    distributionPlotPart.bMofsTableRun = true;
    if (distributionPlotPart.bCMTransformed) {
      RecreateDistributionPlot();
      distributionPlotPart.bCMTransformed = false;
    }
  }
  // Every run starts on the moving grid; the automatic choice picks per species.
  if (!lammSettingsPart.bMovingHat) {
    lammSettingsPart.bMovingHat = true;
    lammSettingsPart.bClaverie = false;
  }
  RunScope scope(window);
  // A new result is on its own axis again.
  distributionPlotPart.bDistTransformed = distributionPlotPart.bDistRhTransformed = false;
  if (dataSetPart.bDLSData) {
    // A key pressed before the run does not stop it.
    bUserAbort = false;
    if (!EnsureFieldCorrelationData(window, GetContiRunSettings().answers)) return Finish(ContiRunOutcome::NotStarted);
  }

  if (dataSetPart.nScans == 0) return Finish(ContiRunOutcome::NotStarted);
  if (lammGlobalsPart.bElectrophoresis && !modelFlagsPart.bCvConstantD && !modelFlagsPart.bElectroLsgModel) {
    return Finish(ContiRunOutcome::NotStarted,
                  Message("not implemented for electrophoresis data", ""));
  }
  // Once per analysis, not at every evaluation of a refinement.
  if (!distributionModelsPart.bContiInnerRun) WarnLsgOnEquilibriumData();
  if (CellGeometryUnset()) {
    return Finish(ContiRunOutcome::NotStarted, Message("set Meniscus and Bottom first", ""));
  }
  if (!KernelModelAvailable()) {
    return Finish(ContiRunOutcome::NotStarted,
                  Message("this continuous model is not available in this version", ""));
  }
  DetectionDomainScope detection;
  SetDefaultFitLimitsWhenUnset();
  if (!distributionModelsPart.bContiInnerRun) UnpackModelParams();
  // The parameter vector carries meniscus and bottom as well.
  if (CellGeometryUnset()) {
    return Finish(ContiRunOutcome::NotStarted, Message("set Meniscus and Bottom first", ""));
  }
  // Settings no run can use are refused before anything is released, so that the
  // last result, its plot and bModelComputed stay as they were.
  if (!distributionModelsPart.bContiInnerRun && !kernelProfilesPart.bSyntheticFromDistribution) {
    if (!std::isfinite(dataSetPart.fMeniscus) || !std::isfinite(dataSetPart.fBottom) || !(dataSetPart.fMeniscus < dataSetPart.fBottom)) {
      PlayErrorSound();
      return Finish(ContiRunOutcome::NotStarted,
                    Message(Format("the meniscus %g cm must lie below the bottom %g cm",
                                   static_cast<double>(dataSetPart.fMeniscus), static_cast<double>(dataSetPart.fBottom)),
                            "ERROR"));
    }
    if (std::string refusal = FitLimitsRefusal(dataSetPart.fFitLeftLim, dataSetPart.fFitRightLim); !refusal.empty()) {
      PlayErrorSound();
      return Finish(ContiRunOutcome::NotStarted, Message(std::move(refusal), "ERROR"));
    }
    if (!(IsSizeShapeModel() && !CheckCsff0KernelReuse())) {
      if (std::string refusal = ContiGridSettingsRefusal(); !refusal.empty())
        return Finish(ContiRunOutcome::NotStarted, ErrorBoxMessage(std::move(refusal)));
    }
    // Values that reached the model without the Parameters dialog (other commands)
    // and that no kernel can use, and Lamm settings no solution can use, are
    // refused before the last result goes.
    if (const std::string refusal = RunValuesRefusal(); !refusal.empty())
      return Finish(ContiRunOutcome::NotStarted, ErrorBoxMessage(refusal));
  }
  // s of the sign the buoyancy forbids have no M and no D: said once per Run, Fit
  // evaluation or time-course step, before any kernel, not by every kernel (a
  // stored grid is checked once it is read).
  if (!distributionGridPart.bUseStoredGrid) {
    if (const std::string refusal = BuoyancySignRefusal(distributionGridPart.fDistMin, distributionGridPart.fDistMax); !refusal.empty())
      return Finish(ContiRunOutcome::NotStarted, ErrorBoxMessage(refusal));
  }
  const ContiRunSettings settings = GetContiRunSettings();
  Text(30, ProgressKind::Stage, "allocating memory space...    ");

  const double sMax = KernelsCheckObservableS() ? LargestObservableS() : 0.0;
  const bool sizeShape = IsSizeShapeModel();
  if (!distributionModelsPart.bContiInnerRun && !kernelProfilesPart.bSyntheticFromDistribution) {
    if (sizeShape && !CheckCsff0KernelReuse()) {
      // The grid on show is the run's grid: its values change only with a result.
      const auto& prior = GetDistributionHooks().buildPriorProbability;
      if (prior) prior();
    } else {
      last.SetAside();
      if (std::string failure; !SetupContiGrid(settings.answers, &failure)) {
        // A warning declined has nothing more to say.
        AbandonRun(window, last);
        return Finish(ContiRunOutcome::NotStarted, ErrorBoxMessage(std::move(failure)));
      }
    }
  }
  // An inner run keeps the kernels and normal equations in place when its caller
  // says they belong to the current parameters.
  const bool keepKernels = distributionModelsPart.bContiInnerRun && contiRunPart.bInnerRunKernelsCurrent && distributionStoragePart.pppKernels && distributionStoragePart.ppNormalMatrix;
  if (distributionModelsPart.bContiInnerRun) contiRunPart.bRebuildKernels = !keepKernels;
  const int N = UnknownCount();
  if (N < 1 || !distributionVectorsPart.pDistGrid || !distributionStoragePart.pppKernels || distributionStoragePart.nKernelArrayKernels < N || !distributionStoragePart.ppNormalMatrix) {
    return Finish(ContiRunOutcome::NotStarted,
                  ErrorBoxMessage(
                      "the distribution grid and its arrays are missing - run the analysis again"));
  }

  // Kernels. One that cannot be solved is left out and said once, after the Run.
  KernelFailureGathering unsolvedKernels;
  std::string kernelNote;
  if (!keepKernels && (!sizeShape || contiRunPart.bRebuildKernels)) {
    KernelPointList list;
    list.Resize(N);
    const float T = KernelTemperature();
    const float vbar = solventConstantsPart.VBAR, vRho = solventConstantsPart.fVRho;
    bool refused = false;
    RunMessage refusal;
    for (int i = 1; i <= N && !refused; ++i) {
      refused = !SetupKernelPoint(i, T, sMax, list, &refusal);
      // Every (s, f/f0) cell is a diffusing species; only the discrete species of
      // the one-discrete form may be one without diffusion.
      if (!refused && sizeShape && list.D[static_cast<std::size_t>(i)] == 0.0 &&
          !(modelFlagsPart.bCsff0OneDiscrete && i == 1)) {
        refusal = Message(Format("error: D = 0 encountered species #%d", i), "");
        refused = true;
      }
    }
    solventConstantsPart.VBAR = vbar;
    solventConstantsPart.fVRho = vRho;
    if (refused) {
      AbandonRun(window, last);
      return Finish(ContiRunOutcome::NotStarted, std::move(refusal));
    }
    bUserAbort = false;
    RunMessage failure;
    const int status = ComputeKernels(window, N, list, &failure);
    NormalEquations().dNarrowestBoundary = NarrowestKernelBoundary(list, N);
    SetLeftOutKernelNote(unsolvedKernels.Note(N, kernelProfilesPart.bSyntheticFromDistribution));
    // A discretization error or a singular matrix has been reported and the run
    // goes on with the retried solutions; any other failure computed no kernel (the
    // solver has said why, and a refused acceleration also raised the interrupt).
    if (status == 1 || status >= 4) {
      bUserAbort = false;
      AbandonRun(window, last);
      return Finish(ContiRunOutcome::Failed, std::move(failure));
    }
    if (bUserAbort) return Interrupted(window, last);
    WriteContiDebugLog("\n RunContiSed loop and sims done");
  }
  // The kernels in use, computed now or kept, say what they leave out: the trial
  // evaluations of a fit keep quiet; its final one, and a Run, say it.
  if (!distributionModelsPart.bContiInnerRun || distributionModelsPart.bFinalFitEvaluation) kernelNote = LeftOutKernelNote();

  // Normal equations.
  if (!keepKernels && (!sizeShape || contiRunPart.bRebuildKernels)) {
    if (!ContiFitInProgress()) WriteContiDebugLog("\n RunContiSed normal equations output start");
    Text(50, ProgressKind::Detail, "calculating normal equations (hit any key to interrupt)...");
    if (kernelProfilesPart.bSyntheticFromDistribution && !sizeShape) {
      last.Replaced();
      FinishSyntheticFit(window);
      return Finish(ContiRunOutcome::Computed, KernelNoteMessage(kernelNote));
    }
    WriteContiDebugLog("\n RunContiSed starting normal equations");
    bUserAbort = false;
    scope.ShowProgressLine();
    RunMessage failure;
    const bool built = BuildEquations(settings, &failure);
    if (!built && !bUserAbort) {
      AbandonRun(window, last);
      return Finish(ContiRunOutcome::Failed, std::move(failure));
    }
    // The run goes on after a dump that could not be written: shown when met.
    if (contiRunPart.bDumpNormalEquations && built) ShowRunMessage(ErrorBoxMessage(DumpNormalEquations()));
    scope.HideProgressLine();
    WriteContiDebugLog("\n normal equations done");
  }
  Text(70, ProgressKind::Detail, "calculating distribution, adjusting variance ratio  ");

  // A key during the normal equations (they are incomplete) or during the solve
  // (its non-negative least squares poll the keyboard as well): nothing is shown.
  if (bUserAbort) return Interrupted(window, last);
  const bool solved = Solve(settings);
  if (bUserAbort) return Interrupted(window, last);
  if (!solved) {
    AbandonRun(window, last);
    return Finish(ContiRunOutcome::Failed);
  }
  // The solved buffer signal is the amplitude of its unit kernel.
  if (BufferInFirstPoint() && bufferSedimentationPart.BufferSed.fitSignal) bufferSedimentationPart.BufferSed.signal = distributionStoragePart.pDistSolution[1];
  WriteContiDebugLog("\n RunContiSed cleanup start");
  // FinishContiResult shows the user's domain again; an inner run's caller does.
  detection.Keep();
  last.Replaced();
  if (!distributionModelsPart.bContiInnerRun) FinishContiResult(window);
  return Finish(ContiRunOutcome::Computed, KernelNoteMessage(kernelNote));
}

void SolutionToDistributionValues() {
  auto& distributionGridPart = DistributionGrid();
  auto& distributionStoragePart = DistributionStorage();
  auto& distributionVectorsPart = DistributionVectors();
  const int n = distributionVectorsPart.nDistGrid;
  if (IsSizeShapeModel()) {
    for (int k = 1; k <= distributionVectorsPart.nFf0Grid; ++k) distributionVectorsPart.pCsff0Values[k] = static_cast<float>(distributionStoragePart.pDistSolution[k]);
    for (int i = 1; i <= n; ++i) {
      double sum = 0.0;
      for (int j = 1; j <= distributionGridPart.nFf0Values; ++j) sum += distributionVectorsPart.pCsff0Values[(j - 1) * n + i];
      distributionVectorsPart.pDistValues[i] = static_cast<float>(sum);
    }
  } else {
    for (int i = 1; i <= n; ++i) distributionVectorsPart.pDistValues[i] = static_cast<float>(distributionStoragePart.pDistSolution[i]);
  }
}

void CopySolutionToDistribution(bool showBoth) {
  auto& distributionStoragePart = DistributionStorage();
  auto& distributionVectorsPart = DistributionVectors();
  SolutionToDistributionValues();
  const bool second = showBoth && !IsSizeShapeModel();
  for (int i = 1; i <= distributionVectorsPart.nDistGrid; ++i)
    distributionVectorsPart.pDistValues2[i] = second ? static_cast<float>(distributionStoragePart.pDistSolution2[i]) : 0.0f;
}

void FinishContiResult(Window* window) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& contiRunPart = ContiRun();
  auto& distributionVectorsPart = DistributionVectors();
  auto& modelFlagsPart = ModelFlags();
  if (!DistributionStorage().pDistSolution || !distributionVectorsPart.pDistValues) return;
  CalculateppAFit();
  ShowDetectionDomain(false);
  const bool showBoth = GetContiRunSettings().showBoth && !IsSizeShapeModel();
  CopySolutionToDistribution(showBoth);
  if (contiRunPart.bDumpNormalEquations) ShowRunMessage(ErrorBoxMessage(DumpDistributionSolution()));
  NormalizeDistributionValues(showBoth);
  if (IsSizeShapeModel()) {
    contiRunPart.bRebuildKernels = false;
  } else {
    FreeKernelArrays();
    FreeNormalEquationArrays();
  }
  // The result claims the values as the run leaves them.
  LeaveRunPropagatorChoice();
  SetModelComputed(true);
  ClaimDistributionPlot();
  // The table serves the set-up of one run; readouts afterwards give 1.0.
  if (modelFlagsPart.bCsMsTable) FreeMofsTable();
  // The worm-like chain's M(s) relation of this grid, as a table for other programs
  // and for the M(s)-table model.
  if (modelFlagsPart.bCsWormChain && distributionVectorsPart.pDistGrid && distributionVectorsPart.pDistS && !WriteWormChainMofsTable(distributionVectorsPart.nDistGrid, distributionVectorsPart.pDistGrid, distributionVectorsPart.pDistS))
    WriteContiDebugLog("\ncould not write the worm-like chain M(s) table");
  // The nonideal c(s): the total signal again, now with the fitted noise removed
  // (or from the new fit), for the next run or refinement step.
  if (modelFlagsPart.bCsNonideal && (analysisSwitchesPart.bFitTINoise || analysisSwitchesPart.bFitRINoise || Ctot().bCtotFromData)) BuildCtotTables();
  RedrawDistributionPlot();
  if (DataPlots().pResidualsPlot) RedrawResidualPlot(true);
  if (contiRunPart.bRedrawModel && window) window->Invalidate();
}

void ResetContiRun() {
  auto& contiRunPart = ContiRun();
  contiRunPart.bRebuildKernels = true;
  contiRunPart.bShowProgressLine = true;
  contiRunPart.bDumpNormalEquations = false;
  contiRunPart.bRedrawModel = true;
  contiRunPart.bInnerRunKernelsCurrent = false;
  contiRunPart.eLastContiRunOutcome = ContiRunOutcome::NotStarted;
}

}  // namespace tarmic
