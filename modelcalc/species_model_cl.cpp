#include "modelcalc/species_model_cl.h"

#include <memory>
#include <string>
#include <vector>

#include "distributions/distribution_kernels.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_window_display.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/linear_amplitudes.h"
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
void LoadMultipleNonideality(CLammIdeal& lamm) {
  const double c2 = pParams[27], c3 = pParams[31];
  const double D1 = fD1 * 1e-7;
  LammNonIdealitySettings nonIdeality;
  nonIdeality.bConcDependentModel = true;
  nonIdeality.fLogKs = fLogKs;
  nonIdeality.fLogKd = fLogKd;
  nonIdeality.bKsOn = nonIdeality.bKdOn = bRepulsiveNonideality;
  nonIdeality.dNonIdealParam = fSignalPerConc;
  nonIdeality.dS = fS1;
  nonIdeality.dD = D1;
  nonIdeality.dConc0 = pSpeciesAmplitude[1];
  if (c2 <= 0.0 && c3 <= 0.0) {
    nonIdeality.bKsKdModel = true;
    lamm.LoadNonIdealityParameters(nonIdeality);
    return;
  }
  const std::vector<double> conc = {0.0, pSpeciesAmplitude[1], c2, c3};
  const std::vector<double> s = {0.0, fS1, pParams[28], pParams[32]};
  const std::vector<double> D = {0.0, D1, pParams[29] * 1e-7, pParams[33] * 1e-7};
  const std::vector<double> extinction = {0.0, fNonidealExtinction[1], fNonidealExtinction[2],
                                          fNonidealExtinction[3]};
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
ModelStatus SolveSpecies(Window* window, const LammScanRecord* records, int k, double s, double D,
                         double c0, bool nonIdeal) {
  dSimS = s;
  dSimD = D;
  pSimWindow = window;
  bSimFailed = bSimDiverged = 0;
  std::unique_ptr<LammWindowDisplay> display;
  if (window) display = std::make_unique<LammWindowDisplay>(*window);
  // A signal table the solution does not reach must not keep an earlier
  // evaluation's values.
  if (!SignalToFitRows()) ZeroSpeciesSignal(k);
  auto lamm = std::make_unique<CLammIdeal>();
  ModelStatus status = ModelStatus::Failed;
  if (SetUpSpeciesSolver(*lamm, display.get(), records, k, s, D, c0, nonIdeal)) {
    const int code = lamm->Solve();
    if (lamm->bAborted || bUserAbort)
      status = ModelStatus::Interrupted;
    else
      status = code == 0 ? ModelStatus::Computed : ModelStatus::Failed;
    // A discretisation error the solution has explained (the amount balance, the
    // floor on the steps) is shown once, in its own words.
    if (status != ModelStatus::Interrupted && code == 2 && !lamm->Messages().empty())
      bSimDiverged = 1;
    else if (status != ModelStatus::Interrupted)
      ShowSimulationError(window, code);
  }
  pSimWindow = nullptr;
  return status;
}

}  // namespace

ModelStatus SolveBufferSlot(Window* window, int k) {
  pSpeciesIncluded[k] = 1;
  if (bLinearAmplitudes) {
    dBufferComponentAmplitude = 1.0;
    BufferSed.signal = 1.0;
  }
  pAppliedAmplitude[k] = static_cast<float>(BufferSed.signal);
  if (!SignalToFitRows()) ZeroSpeciesSignal(k);
  const SimOutcome outcome = CalculateBufferSedimentation(window);
  if (outcome.status == SimStatus::Interrupted || bUserAbort) return ModelStatus::Interrupted;
  ShowSimulationOutcome(window, outcome);
  return outcome.ok() ? ModelStatus::Computed : ModelStatus::Failed;
}

void LoadDetectionCorrections(CLammIdeal& lamm) {
  if (bMagnificationGradient) lamm.SetRadialMagnificationGradient(true, fMagnificationGradient);
  if (bMagnificationDrift) lamm.SetTemporalDrift(true, fMagnificationDrift, bExponentialDrift);
  if (bExcitationShadow) lamm.SetExcitationShadow(true, fConeRadius);
  if (bRadialConvolution)
    lamm.SetRadialConvolution(true, fConvolutionWidth, fConvolutionDistFactor);
}

bool SetUpSpeciesSolver(CLammIdeal& lamm, LammDisplay* display, const LammScanRecord* records,
                        int k, double s, double D, double c0, bool nonIdeal) {
  lamm.SetIdealModel();
  lamm.LoadSedimentationParameters(s, D, fMeniscus, fBottom, c0, fFitLeftLim, fFitRightLim);
  if (!bCheckAcceleration) lamm.SkipAccelerationCheck();
  LoadDetectionCorrections(lamm);
  const bool quiet = bFitRunning;
  LammOutputBinding output;
  output.pDisplay = display;
  output.pScans = records;
  output.bShowReadouts = bLiveDisplay;
  output.pScanOrder = pScanOrder.data();
  output.nScanCount = nScans;
  output.nEquation = k;
  output.bNoProgressText = quiet;
  output.bNoProgressText2 = !bLiveDisplay;
  output.bTimeResolution = bSimulateTimeResolution;
  output.fScanVelocity = fScanVelocity;
  output.bRadialResolution = bSimulateRadialResolution;
  output.fConvolutionRange = fRadialConvolutionRange;
  output.bAbsorbance = bAbsorbanceData;
  if (SignalToFitRows()) {
    // The fit rows on the scans' own radii.
    output.ppOut = ppFit.data();
    output.ppScanRadii = ppRadius.data();
    output.pnScanPoints = pnPoints.data();
  } else {
    // The species' table on the common grid.
    if (!HasSignalTable(k)) return false;
    output.ppOut = pppSpeciesSignal[k].data();
    output.pOutRadii = pGridRadius;
    output.nOutRadii = nGridPoints;
  }
  lamm.LoadOutputParameters(output);
  LammDiscretizationSettings discretization = CurrentDiscretization();
  // The concentration-dependent solution lays its default grid: the size its
  // accuracy asks for.
  if (nonIdeal) discretization.nDefaultGrid = NonidealGridNodes(discretization.nDefaultGrid);
  lamm.LoadDiscretizationParameters(discretization);
  if (bTimeOffset) lamm.SetStartTimeOffset(fTimeOffset);
  if (nonIdeal) {
    LoadMultipleNonideality(lamm);
  } else {
    if (bZoneCentrifugation) lamm.SetBandLoading(true, fLamellaWidth, bZoneInverseLayer);
    lamm.SetSolventConditions(fTemperatureK - 273.15, VBAR, fBufferDensity, RELVISCOSITY);
    std::string message;
    if (!LoadSolventIntoSolver(lamm, &message)) {
      // The model computation (of every fit iteration) ends here; its callers
      // hand up only that it failed.
      ShowComputationError(message);
      return false;
    }
  }
  if (bAbsorbanceData && bSimulateTimeResolution && fScanVelocity > 0.0f && nScans >= 1 &&
      ppRadius.size() > 1 && ppRadius[1] && pnPoints[1] > 0)
    lamm.SetScanTimeLag(ppRadius[1][1]);
  return true;
}

ModelResult CalculateSpeciesModelCL(Window* window) {
  ModelResult result;
  if (nScans < 1) {
    result.status = ModelStatus::NotStarted;
    return result;
  }
  if (!CheckMeniscusAndBottom(result)) return result;
  OpenDetectionBracket();
  SetDefaultFitLimitsWhenUnset();
  UnpackModelParams();
  iFirstModelScan = 1;
  ZeroFitRows(1);
  if (bLiveDisplay) RepaintMain(window);

  const std::vector<LammScanRecord> records = ScanRecords();
  if (!MakeMissingSignalTables(result, nSpeciesSlots)) {
    FinishModelComputation(window, result, 1);
    return result;
  }
  const int firstIncluded = FirstIncludedSlot();
  fLoadingFraction = 1.0f;
  bUserAbort = false;
  for (int k = 1; k <= nSpeciesSlots && !bUserAbort; ++k) {
    iCurrentSpecies = k;
    ModelStatus status = ModelStatus::Computed;
    if (bBufferSedCorrection && k == nSpeciesSlots) {
      status = SolveBufferSlot(window, k);
    } else if (k == 1 && bNonIdealMultiple) {
      pAppliedAmplitude[1] = 1.0f;
      status = SolveSpecies(window, records.data(), 1, fS1, fD1 * 1e-7, 1.0, true);
    } else if (!pSpeciesIncluded[k]) {
      pAppliedAmplitude[k] = 0.0f;
      continue;
    } else {
      const double loading = SpeciesLoading(k, firstIncluded);
      pAppliedAmplitude[k] = static_cast<float>(loading);
      status = SolveSpecies(window, records.data(), k, pSpeciesS[k], SpeciesDiffusion(k), loading,
                            false);
    }
    MergeModelStatus(result, status);
  }
  if (bUserAbort) MergeModelStatus(result, ModelStatus::Interrupted);
  FinishModelComputation(window, result, 1);
  return result;
}

}  // namespace tarmic
