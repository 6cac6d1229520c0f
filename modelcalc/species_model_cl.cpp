#include "modelcalc/species_model_cl.h"

#include <memory>
#include <string>
#include <vector>

#include "distributions/distribution_kernels.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_window_display.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/model_input.h"
#include "modelcalc/nonideal_grid.h"
#include "modelcalc/simulation_messages.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/sim_run.h"
#include "propagators/solvent_settings.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

// The concentration-dependent set-up of the non-ideal multiple-species model: one
// species with s(c), D(c), or three components sharing the factors of their total
// (concentration, s, D of components 2 and 3 in vector slots 27-29 and 31-33).
void LoadMultipleNonideality(CLammIdeal& lamm, const ModelInput& in) {
  const auto param = [&](int slot) { return in.params[static_cast<std::size_t>(slot)]; };
  const double c2 = param(27), c3 = param(31);
  const double D1 = in.single.d1 * 1e-7;
  const double amplitude1 = in.species[1].amplitude;
  LammNonIdealitySettings nonIdeality;
  nonIdeality.bConcDependentModel = true;
  nonIdeality.fLogKs = in.single.logKs;
  nonIdeality.fLogKd = in.single.logKd;
  nonIdeality.bKsOn = nonIdeality.bKdOn = in.coefficients.repulsive;
  nonIdeality.dNonIdealParam = in.coefficients.signalPerConcentration;
  nonIdeality.dS = in.single.s1;
  nonIdeality.dD = D1;
  nonIdeality.dConc0 = amplitude1;
  if (c2 <= 0.0 && c3 <= 0.0) {
    nonIdeality.bKsKdModel = true;
    lamm.LoadNonIdealityParameters(nonIdeality);
    return;
  }
  const std::vector<double> conc = {0.0, amplitude1, c2, c3};
  const std::vector<double> s = {0.0, in.single.s1, param(28), param(32)};
  const std::vector<double> D = {0.0, D1, param(29) * 1e-7, param(33) * 1e-7};
  const std::vector<double> extinction = {0.0, in.nonidealExtinction[1], in.nonidealExtinction[2], in.nonidealExtinction[3]};
  // The main D is in cm^2/s like the lists (the grid is sized from it).
  nonIdeality.bMultiSpecies = true;
  nonIdeality.nSpecies = 3;
  nonIdeality.pConc = conc.data();
  nonIdeality.pS = s.data();
  nonIdeality.pD = D.data();
  nonIdeality.pFourth = extinction.data();
  lamm.LoadNonIdealityParameters(nonIdeality);
}

// Solves one slot with a fresh solver object; the status of its solution.
ModelStatus SolveSpecies(Window* window, const ModelInput& in, const LammScanRecord* records, int k, double s,
                         double D, double c0, bool nonIdeal) {
  SimRun().dSimS = s;
  SimRun().dSimD = D;
  SimRun().pSimWindow = window;
  SimRun().bSimFailed = SimRun().bSimDiverged = 0;
  std::unique_ptr<LammWindowDisplay> display;
  if (window) display = std::make_unique<LammWindowDisplay>(*window);
  // A signal table the solution does not reach must not keep an earlier
  // evaluation's values.
  if (!SignalToFitRows()) ZeroSpeciesSignal(k);
  auto lamm = std::make_unique<CLammIdeal>();
  ModelStatus status = ModelStatus::Failed;
  if (SetUpSpeciesSolver(*lamm, display.get(), in, records, k, s, D, c0, nonIdeal)) {
    const int code = lamm->Solve();
    if (lamm->bAborted || bUserAbort)
      status = ModelStatus::Interrupted;
    else
      status = code == 0 ? ModelStatus::Computed : ModelStatus::Failed;
    // A discretisation error the solution has explained (the amount balance, the
    // floor on the steps) is shown once, in its own words.
    if (status != ModelStatus::Interrupted && code == 2 && !lamm->Messages().empty())
      SimRun().bSimDiverged = 1;
    else if (status != ModelStatus::Interrupted)
      ShowSimulationError(window, code);
  }
  SimRun().pSimWindow = nullptr;
  return status;
}

}  // namespace

ModelStatus SolveBufferSlot(Window* window, const ModelInput& in, int k, LinearStepInput& step) {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& linearAmplitudesPart = LinearAmplitudes();
  // The buffer slot is a component of the linear step (and shown linked).
  AnalysisSwitches().pSpeciesLinked[k] = 1;
  step.linked[static_cast<std::size_t>(k)] = true;
  BufferSedInput buffer = in.buffer;
  buffer.toFitRows = !SignalToTables();
  if (in.model.linearAmplitudes) bufferSedimentationPart.BufferSed.signal = buffer.working.signal = 1.0;
  linearAmplitudesPart.pAppliedAmplitude[k] = static_cast<float>(buffer.working.signal);
  if (!SignalToFitRows()) ZeroSpeciesSignal(k);
  const SimOutcome outcome = CalculateBufferSedimentation(buffer, InputCell(in));
  if (outcome.status == SimStatus::Interrupted || bUserAbort) return ModelStatus::Interrupted;
  ShowSimulationOutcome(window, outcome);
  return outcome.ok() ? ModelStatus::Computed : ModelStatus::Failed;
}

void LoadDetectionCorrections(CLammIdeal& lamm) {
  auto& fluorescenceDetectionPart = FluorescenceDetection();
  if (fluorescenceDetectionPart.bMagnificationGradient) lamm.SetRadialMagnificationGradient(true, fluorescenceDetectionPart.fMagnificationGradient);
  if (fluorescenceDetectionPart.bMagnificationDrift) lamm.SetTemporalDrift(true, fluorescenceDetectionPart.fMagnificationDrift, fluorescenceDetectionPart.bExponentialDrift);
  if (fluorescenceDetectionPart.bExcitationShadow) lamm.SetExcitationShadow(true, fluorescenceDetectionPart.fConeRadius);
  if (fluorescenceDetectionPart.bRadialConvolution)
    lamm.SetRadialConvolution(true, fluorescenceDetectionPart.fConvolutionWidth, fluorescenceDetectionPart.fConvolutionDistFactor);
}

bool SetUpSpeciesSolver(CLammIdeal& lamm, LammDisplay* display, const ModelInput& in, const LammScanRecord* records,
                        int k, double s, double D, double c0, bool nonIdeal) {
  lamm.SetIdealModel();
  lamm.LoadSedimentationParameters(s, D, in.meniscus, in.bottom, c0, DataSet().fFitLeftLim, DataSet().fFitRightLim);
  if (!LammSettings().bCheckAcceleration) lamm.SkipAccelerationCheck();
  LoadDetectionCorrections(lamm);
  const bool quiet = SimulationMessages().bFitRunning;
  LammOutputBinding output;
  output.pDisplay = display;
  output.pScans = records;
  output.bShowReadouts = ModelSteps().bLiveDisplay;
  output.pScanOrder = DataSet().pScanOrder.data();
  output.nScanCount = DataSet().nScans;
  output.nEquation = k;
  output.bNoProgressText = quiet;
  output.bNoProgressText2 = !ModelSteps().bLiveDisplay;
  output.bTimeResolution = AnalysisSwitches().bScanTimeCorrection;
  output.fScanVelocity = LammSettings().fScanVelocity;
  output.bRadialResolution = LammSettings().bSimulateRadialResolution;
  output.fConvolutionRange = LammSettings().fRadialConvolutionRange;
  output.bAbsorbance = ScanFile().bAbsorbanceData;
  if (SignalToFitRows()) {
    // The fit rows on the scans' own radii.
    output.ppOut = DataSet().ppFit.data();
    output.ppScanRadii = DataSet().ppRadius.data();
    output.pnScanPoints = DataSet().pnPoints.data();
  } else {
    // The species' table on the common grid.
    if (!HasSignalTable(k)) return false;
    output.ppOut = CurrentGrid().pppSpeciesSignal[k].data();
    output.pOutRadii = CurrentGrid().pGridRadius;
    output.nOutRadii = CurrentGrid().nGridPoints;
  }
  lamm.LoadOutputParameters(output);
  LammDiscretizationSettings discretization = CurrentDiscretization();
  // The concentration-dependent solution lays its default grid: the size its
  // accuracy asks for.
  if (nonIdeal) discretization.nDefaultGrid = NonidealGridNodes(discretization.nDefaultGrid);
  lamm.LoadDiscretizationParameters(discretization);
  if (in.model.timeOffset) lamm.SetStartTimeOffset(in.model.timeOffsetValue);
  if (nonIdeal) {
    LoadMultipleNonideality(lamm, in);
  } else {
    if (in.model.zoneCentrifugation) lamm.SetBandLoading(true, in.lamellaWidth, in.zoneInverseLayer);
    lamm.SetSolventConditions(DataSet().fTemperatureK - 273.15, SolventConstants().VBAR, SolventConstants().fBufferDensity, SolventConstants().RELVISCOSITY);
    std::string message;
    if (!LoadSolventIntoSolver(lamm, &message)) {
      // The model computation (of every fit iteration) ends here; its callers
      // hand up only that it failed.
      ShowComputationError(message);
      return false;
    }
  }
  if (ScanFile().bAbsorbanceData && AnalysisSwitches().bScanTimeCorrection && LammSettings().fScanVelocity > 0.0f && DataSet().nScans >= 1 &&
      DataSet().ppRadius.size() > 1 && DataSet().ppRadius[1] && DataSet().pnPoints[1] > 0)
    lamm.SetScanTimeLag(DataSet().ppRadius[1][1]);
  return true;
}

ModelResult CalculateSpeciesModelCL(Window* window, const ModelInput& in) {
  auto& dataSetPart = DataSet();
  auto& simRunPart = SimRun();
  auto& linearAmplitudesPart = LinearAmplitudes();
  auto& modelStepsPart = ModelSteps();
  ModelResult result;
  if (dataSetPart.nScans < 1) {
    result.status = ModelStatus::NotStarted;
    return result;
  }
  if (!CheckMeniscusAndBottom(result, in.meniscus, in.bottom)) return result;
  OpenDetectionBracket();
  SetDefaultFitLimitsWhenUnset(in.meniscus, in.bottom);
  LinearStepInput step = LinearStepInputOf(in);
  const SignalDestinationScope destination(step);
  modelStepsPart.iFirstModelScan = 1;
  ZeroFitRows(1);
  if (modelStepsPart.bLiveDisplay) RepaintMain(window);

  const std::vector<LammScanRecord> records = ScanRecords();
  if (!MakeMissingSignalTables(result, step, nSpeciesSlots)) {
    FinishModelComputation(window, result, 1, step);
    return result;
  }
  const int firstIncluded = FirstIncludedSlot(in);
  modelStepsPart.fLoadingFraction = 1.0f;
  bUserAbort = false;
  for (int k = 1; k <= nSpeciesSlots && !bUserAbort; ++k) {
    simRunPart.iCurrentSpecies = k;
    ModelStatus status = ModelStatus::Computed;
    const ModelSpeciesValues& species = in.species[static_cast<std::size_t>(k)];
    if (in.model.bufferCorrection && k == nSpeciesSlots) {
      status = SolveBufferSlot(window, in, k, step);
    } else if (k == 1 && in.model.nonIdealMultiple) {
      linearAmplitudesPart.pAppliedAmplitude[1] = 1.0f;
      status = SolveSpecies(window, in, records.data(), 1, in.single.s1, in.single.d1 * 1e-7, 1.0, true);
    } else if (!species.included) {
      linearAmplitudesPart.pAppliedAmplitude[k] = 0.0f;
      continue;
    } else {
      const double loading = SpeciesLoading(in, k, firstIncluded);
      linearAmplitudesPart.pAppliedAmplitude[k] = static_cast<float>(loading);
      status = SolveSpecies(window, in, records.data(), k, species.s, species.D, loading, false);
    }
    MergeModelStatus(result, status);
  }
  if (bUserAbort) MergeModelStatus(result, ModelStatus::Interrupted);
  FinishModelComputation(window, result, 1, step);
  return result;
}

}  // namespace tarmic
