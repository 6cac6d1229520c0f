#include "modelcalc/model_computation.h"

#include <algorithm>
#include <functional>
#include <cmath>
#include <string>

#include "distributions/distribution_file.h"
#include "modelcalc/analytic_boundary.h"
#include "modelcalc/dls_species_signal.h"
#include "modelcalc/equilibrium_signal.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/nonideal_grid.h"
#include "modelcalc/simulation_messages.h"
#include "modelcalc/simulation_progress.h"
#include "modelcalc/species_model_cl.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "numerics/hydrodynamics.h"
#include "numerics/interpolation.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "platform/backend.h"
#include "platform/types.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/moving_hat_propagator.h"
#include "propagators/nonideal_propagators.h"
#include "propagators/reacting_system.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_run.h"
#include "propagators/solvent_settings.h"
#include "propagators/static_grid_propagator.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/intensity_scans.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

void FreeInitialDistribution() {
  FreeInitialData();
  InitialData().ScanInfoTemplate = ScanInfo{};
  Rmsd().bFirstScanIsInitial = false;
}

namespace {

constexpr double kTwoR = 1.6628944e8;  // 2 R, erg/(mol K)

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

const ScanInfo& InfoAt(int position) { return DataSet().pScanInfo[Idx(DataSet().pScanOrder[Idx(position)])]; }
double LastRpm() { return InfoAt(DataSet().nScans).rpm; }
double LastOmega() { return LastRpm() * kTwoPiOver60; }
bool VelocityData() { return !DataSet().bDLSData && !DataSet().bEquilibriumMode; }

void WarningBox(const char* text) { ShowComputationNote(text, "", MB_OK | MB_ICONEXCLAMATION); }

// ---- algorithm choice (a lasting change of the user's option) ----

void SelectClaverie() {
  if (LammSettings().bClaverie) return;
  LammSettings().bClaverie = true;
  LammSettings().bFixTimeStep = false;
  LammSettings().bMovingHat = false;
  ResizeSimArrays(LammSettings().nLammGridPoints);
}

void SelectMovingHat() {
  if (LammSettings().bMovingHat) return;
  LammSettings().bClaverie = false;
  LammSettings().bMovingHat = true;
  LammSettings().bAutoSGrid = true;
  ResizeSimArrays(LammSettings().nLammGridPoints);
}

// |s| below the threshold: static grid; above: moving hat; at equality no change.
void ChooseAlgorithm(double sAbs, double threshold) {
  if (sAbs < threshold && !LammSettings().bClaverie) SelectClaverie();
  if (sAbs > threshold && !LammSettings().bMovingHat) SelectMovingHat();
}

int ClampGrid(double n) {
  const int lower = LammSettings().nGridSizeLower, upper = LammSettings().nGridSizeUpper;
  // Clamped before the conversion, so that no estimate converts out of range.
  const double whole = std::floor(n);
  if (!(whole < upper)) return upper;
  if (!(whole > lower)) return lower;
  return static_cast<int>(whole);
}

// ---- the set-up common to routes 2 and 3 ----

// The shared arrays for the current model and grid, the grid at the present
// meniscus. False when they cannot be had.
bool PrepareSimArrays() {
  if (!LammArrays().bSimArraysAllocated || !SimArraysMatchModel()) {
    AllocSimArrays();
  } else if (LammSettings().bMovingHat && !LammArrays().pLammRadius2) {
    ResizeSimArrays(LammSettings().nLammGridPoints);
  }
  if (LammArrays().bSimArraysAllocated && std::fabs(LammArrays().pLammRadius[1] - DataSet().fMeniscus) > 1e-5) BuildLammGrid();
  return LammArrays().bSimArraysAllocated;
}

// The first scan becomes the initial distribution when none is loaded.
void TakeInitialDistribution() {
  if (!AnalysisSwitches().bInitialDataProfile) {
    Rmsd().bFirstScanIsInitial = false;
    return;
  }
  const int s = DataSet().pScanOrder[1];
  if (InitialData().nInitPoints == 0) {
    const int n = DataSet().pnPoints[Idx(s)];
    Rmsd().bFirstScanIsInitial = true;
    // The models start from concentration: intensity data from their absorbance.
    const std::vector<float> absorbance = ScanFile().bIntensityData ? ScanAbsorbance(s) : std::vector<float>{};
    SetInitialProfile(n, DataSet().ppRadius[Idx(s)], ScanFile().bIntensityData ? absorbance.data() : DataSet().ppSignal[Idx(s)],
                      DataSet().pScanInfo[Idx(s)]);
  }
  // The ends outside the fit limits follow the limits as they are now.
  ExtrapolateInitialData(ModelParams().fBaseline);
  ModelSteps().iFirstModelScan = 1;
  if (Rmsd().bFirstScanIsInitial) {
    ModelSteps().iFirstModelScan = 2;
    std::copy(DataSet().ppSignal[Idx(s)] + 1, DataSet().ppSignal[Idx(s)] + DataSet().pnPoints[Idx(s)] + 1, DataSet().ppFit[Idx(s)] + 1);
  }
}

// Initial profile of slot k on the Lamm grid.
void WriteInitialProfile(double loading, double scale) {
  const int N = LammArrays().nSimGridPointsAllocated;
  if (AnalysisSwitches().bInitialDataProfile && InitialData().nInitPoints > 1) {
    InterpolateCurveToDouble(N, LammArrays().pLammRadius, LammArrays().pLammConc, InitialData().nInitPoints, InitialData().pInitRadius.data(),
                             InitialData().pInitSignal.data());
    for (int i = 1; i <= N; ++i) LammArrays().pLammConc[i] = std::max(0.0, LammArrays().pLammConc[i] - ModelParams().fBaseline) * scale;
    return;
  }
  if (!AnalysisSwitches().bUniformLoading) return;
  const double edge = LammArrays().pLammRadius[1] + ModelOptions().fLamellaWidth;
  for (int i = 1; i <= N; ++i) {
    double v = loading;
    if (ModelFlags().bZoneCentrifugation) {
      const bool inLamella = ModelOptions().bZoneInverseLayer ? !(LammArrays().pLammRadius[i] < edge) : LammArrays().pLammRadius[i] <= edge;
      if (!inLamella) v = 0.0;
    }
    LammArrays().pLammConc[i] = v;
  }
}

// ---- one propagator run ----

class SpeciesRun {
 public:
  SpeciesRun(Window* window, int k, double loading) : window_(window), k_(k), loading_(loading) {}

  // The start state of a run: rotor, time, step, error limits, flags.
  void ResetState(double startTime, bool keepAcceleration) {
    SimRun().dSimRpm = LastRpm();
    SimRun().bSimContinue = 1;
    SimRun().nSimIterations = 0;
    SimClock().dSimTime = startTime;
    bUserAbort = false;
    SimRun().dSimDt = LammSettings().dInitialDt;
    SimRun().pSimWindow = window_;
    if (!keepAcceleration && AnalysisSwitches().bRampRotorSpeed && VelocityData()) {
      SimRun().bAccelerating = true;
      if (SimRun().dAccelEndTime < 10.0) {
        SimRun().dAccelEndTime = 0.0;
        SimRun().bAccelerating = false;
      }
    }
    SimRun().dMaxRelChange = LammSettings().dMaxDcOverC;
    SimRun().dMaxRelChangeLow = 0.05 * LammSettings().dMaxDcOverC;
    SimRun().dMaxRelChangeTarget = 0.2 * LammSettings().dMaxDcOverC;
    SimRun().bSimFailed = SimRun().bSimDiverged = 0;
    // A signal table row the run does not reach must not keep older values.
    if (!SignalToFitRows()) ZeroSpeciesSignal(k_);
  }

  // One run of the chosen propagator from the prepared state.
  SimOutcome Run(const SimRunSettings& settings, bool concDependent) {
    SimProgressOptions options;
    options.liveDisplay = ModelSteps().bLiveDisplay;
    options.firstPosition = ModelSteps().iFirstModelScan;
    ShowSimulationProgress progress(options);
    progress.Start();
    SimOutcome outcome;
    if (concDependent) {
      outcome = LammSettings().bMovingHat ? SolveNonidealLammMovingHat(settings, progress)
                           : SolveNonidealLammClaverie(settings, progress);
    } else if (LammSettings().bMovingHat) {
      outcome = SolveLammMovingHat(settings, {SimRun().dSimS, SimRun().dSimD}, progress);
      MoveHatGrid();
    } else if (LammSettings().bClaverie) {
      outcome = SolveLammClaverie(settings, {SimRun().dSimS, SimRun().dSimD}, progress);
    }
    return outcome;
  }

  // The time the solution starts at: the start-time offset, else the time of an
  // experimental initial distribution, else 0.
  static double StartTime() {
    if (ModelOptions().bTimeOffset) return ModelOptions().fTimeOffset;
    return AnalysisSwitches().bInitialDataProfile ? InitialData().ScanInfoTemplate.time : 0.0;
  }

  // A retry attempt: the loading again, the start time of the first attempt (a
  // retry from 0 put a species with a start-time offset that much later than the
  // others) and the fit as before the first attempt.
  SimOutcome Retry(const SimRunSettings& settings) {
    WriteInitialProfile(loading_, ModelSteps().fLoadingFraction);
    ResetState(StartTime(), false);
    snapshot_.Restore();
    return Run(settings, false);
  }

  // Lays the grid of nodes again as the species was given it (the grading towards
  // the bottom); set by the caller when the grid is not uniform.
  void SetRegrade(std::function<void()> regrade) { regrade_ = std::move(regrade); }

  SimOutcome Solve(SimRunSettings settings, bool c1Nonideal) {
    // A retry starts from the fit as it was before the failed attempt (only that
    // attempt's records are taken back).
    if (SignalToFitRows()) snapshot_.Take(ModelSteps().iFirstModelScan);
    ResetState(StartTime(), false);
    const int nodes = LammArrays().nSimGridPointsAllocated;
    auto first = [&] {
      SimOutcome result;
      if (c1Nonideal) {
        ModelFlags().bNonidealSpecies = true;
        ModelOptions().fS1 = static_cast<float>(SimRun().dSimS);
        ModelOptions().fD1 = static_cast<float>(SimRun().dSimD);
        result = Run(settings, true);
        if (LammSettings().bMovingHat) MoveHatGrid();
        ModelFlags().bNonidealSpecies = false;
      } else {
        result = Run(settings, false);
      }
      return result;
    };
    SimOutcome outcome = first();
    // A failure a finer grid may mend is solved again on finer grids, with the same
    // propagator.
    auto refine = [&](const SimOutcome& failed) {
      // The refined grids are this solution's: the grid size in force stays.
      const int size = LammSettings().nLammGridPoints;
      const SimOutcome refined = RefineWhileBalanceLost(
          failed, nodes,
          [&](int n) {
            // The non-ideal solve of slot 1 needs the concentration-dependent block.
            const bool nonideal = ModelFlags().bNonidealSpecies;
            ModelFlags().bNonidealSpecies = nonideal || c1Nonideal;
            const bool laid = ResizeSimArrays(n);
            ModelFlags().bNonidealSpecies = nonideal;
            if (!laid) return false;
            if (regrade_) regrade_();
            return true;
          },
          [&] {
            WriteInitialProfile(loading_, ModelSteps().fLoadingFraction);
            ResetState(StartTime(), false);
            snapshot_.Restore();
            return first();
          });
      if (c1Nonideal || LammSettings().nLammGridPoints != size) ResizeSimArrays(size);
      return refined;
    };
    // The retries below solve the ideal equation: a non-ideal species has none of
    // them and is refined at once.
    if (outcome.refinable && (!outcome.retryFirst || c1Nonideal) && !bUserAbort)
      return refine(outcome);
    if (c1Nonideal) {
      ResizeSimArrays(LammSettings().nLammGridPoints);
      return outcome;
    }
    const bool failed = SimRun().bSimDiverged || SimRun().bSimFailed;
    if (!failed || bUserAbort || AnalysisSwitches().bInitialDataProfile || !AnalysisSwitches().bUniformLoading ||
        !VelocityData())
      return outcome.retryFirst && !bUserAbort ? refine(outcome) : outcome;
    // After the floor of the step control the retries come first; the finer grids
    // follow when they fail too.
    const SimOutcome firstOutcome = outcome;
    const SimRunSettings original = settings;

    // Retries with the ideal propagators: no truncation; then the other algorithm
    // once; then the meniscus correction.
    settings.truncateGrid = false;
    outcome = Retry(settings);
    if ((SimRun().bSimDiverged || SimRun().bSimFailed) && !bUserAbort && LammSettings().bClaverie) {
      LammSettings().bClaverie = false;
      LammSettings().bMovingHat = true;
      ResizeSimArrays(ClampGrid(ModelComputation().nHatGridEstimate > 0 ? ModelComputation().nHatGridEstimate : LammSettings().nLammGridPoints));
      outcome = Retry(settings);
      LammSettings().bClaverie = true;
      LammSettings().bMovingHat = false;
      settings.fixTimestep = false;
      if (LammSettings().bOptimizeStaticGrid && TestShutOffBackDiffusion(SimRun().dSimS, SimRun().dSimD) && !ModelFlags().bZoneCentrifugation &&
          ModelComputation().nStaticGridEstimate > 0) {
        LammSettings().nLammGridPoints = ModelComputation().nStaticGridEstimate;
        ResizeSimArrays(LammSettings().nLammGridPoints);
        OptimizeStaticGridSize(ModelComputation().fOptimizeRadius);
      } else {
        ResizeSimArrays(ClampGrid(ModelComputation().nStaticGridEstimate > 0 ? ModelComputation().nStaticGridEstimate : LammSettings().nLammGridPoints));
      }
    }
    if ((SimRun().bSimDiverged || SimRun().bSimFailed) && !bUserAbort) {
      settings.meniscusCorrection = true;
      outcome = Retry(settings);
    }
    if (!outcome.ok() && firstOutcome.retryFirst && !bUserAbort) {
      settings = original;
      return refine(firstOutcome);
    }
    return outcome;
  }

 private:
  Window* window_;
  int k_;
  double loading_;
  FitRowSnapshot snapshot_;
  std::function<void()> regrade_;
};

ModelStatus StatusOf(const SimOutcome& outcome) {
  if (outcome.status == SimStatus::Interrupted || bUserAbort) return ModelStatus::Interrupted;
  return outcome.ok() ? ModelStatus::Computed : ModelStatus::Failed;
}

ModelStatus ShowOutcome(Window* window, const SimOutcome& outcome) {
  const ModelStatus status = StatusOf(outcome);
  if (status == ModelStatus::Failed) ShowSimulationOutcome(window, outcome);
  return status;
}

// The Lamm simulation of one non-interacting species on velocity data.
ModelStatus LammSpecies(Window* window, int k, double loading, const SpeciesGridChoice& grid) {
  SimRunSettings settings = CurrentSimRunSettings();
  settings.outflowBottom = TestShutOffBackDiffusion(SimRun().dSimS, SimRun().dSimD);
  settings.noTruncation = grid.noTruncation;
  SpeciesRun run(window, k, loading);
  if (!settings.outflowBottom && AnalysisSwitches().bUniformLoading && !ModelFlags().bZoneCentrifugation && SimRun().dSimS > 0) {
    // sigma_b = Mb w^2 / (2 R T): the reduced molar mass of the equilibrium at the bottom.
    const double T = InfoAt(DataSet().nScans).temperature + 273.15;
    const double w = LastOmega();
    const double sigma = w * w / (T * kTwoR) * (T * 1e-13 * SimRun().dSimS * kGasConstant / SimRun().dSimD);
    RefineGridAtBottom(sigma);
    run.SetRegrade([sigma] { RefineGridAtBottom(sigma); });
  }
  const SimOutcome outcome = run.Solve(settings, k == 1 && ModelOptions().bC1Nonideal);
  return ShowOutcome(window, outcome);
}

// ---- the three branches ----

ModelStatus SpeciesSlot(Window* window, int k, int firstIncluded) {
  const double s = ModelParams().pSpeciesS[k];
  const bool included = AnalysisSwitches().pSpeciesLinked[k] != 0;
  const bool velocity = VelocityData();
  if (velocity && LammSettings().bAutoFEAlgorithm) {
    // The concentration-dependent moving grid has no frame moving inward: a
    // floating non-ideal species stays on the static grid.
    if (k == 1 && ModelOptions().bC1Nonideal && s < 0.0)
      ChooseAlgorithm(0.0, 1.0);
    else
      ChooseAlgorithm(std::fabs(s), NormalizedSThreshold(true));
  }
  SpeciesGridChoice grid;
  if (included) {
    if (!LammSettings().bAutoGridSize || !velocity || ModelFlags().bZoneCentrifugation || ModelParams().pSpeciesMassOrD[k] <= 0)
      ResizeSimArrays(LammSettings().nDefaultGridPoints);
    else
      grid = SizeGridForSpecies(s, SpeciesDiffusion(k));
  }
  if (velocity && AnalysisSwitches().bRampRotorSpeed && LammSettings().bClaverie && !LammSettings().bAutoFEAlgorithm) {
    const double T = LammSettings().bOptimizeStaticGrid && LammSettings().bAutoGridSize ? LammSettings().fAutoAlgorithmSOptimized : LammSettings().fAutoAlgorithmS;
    const long double q = LastRpm() / 30000.0L;
    if (std::fabs(s) > static_cast<double>(T / (q * q))) SimRun().dAccelDtMax = 1.0;
  }
  if (!included) {
    LinearAmplitudes().pAppliedAmplitude[k] = 0.0f;
    return ModelStatus::Computed;
  }
  const double loading = SpeciesLoading(k, firstIncluded);
  LinearAmplitudes().pAppliedAmplitude[k] = static_cast<float>(loading);
  if (k == 1 && ModelOptions().bC1Nonideal) {
    // The concentration-dependent block of the arrays for the solve of slot 1, on
    // the grid its accuracy asks for.
    ModelFlags().bNonidealSpecies = true;
    ResizeSimArrays(NonidealGridNodes(LammSettings().nLammGridPoints));
    ModelFlags().bNonidealSpecies = false;
  }
  if (!LammArrays().bSimArraysAllocated) return ModelStatus::Failed;
  WriteInitialProfile(loading, ModelSteps().fLoadingFraction);

  const double massOrD = ModelParams().pSpeciesMassOrD[k];
  if (s == 0.0 && massOrD == 0.0) {
    // A constant species: its loading everywhere.
    LinearAmplitudes().bSkipLinearFit = true;
    ClosedFormSignal(k, [&](int, double, const float* r, float* out, int n) {
      if (r == CurrentGrid().pGridRadius)
        InterpolateCurveFromDouble(n, r, out, LammArrays().nSimGridPointsAllocated, LammArrays().pLammRadius, LammArrays().pLammConc);
      else
        for (int j = 1; j <= n; ++j) out[j] = static_cast<float>(loading);
    });
    return ModelStatus::Computed;
  }
  if (velocity && massOrD == 0.0 && AnalysisSwitches().bUniformLoading) {
    // A non-diffusing species: a sharp boundary with radial dilution.
    if (SolventSettings().gInhomSolvent.bInhomogeneousSolvent && !SolventSettings().gInhomSolvent.bCompressibleSolvent)
      WarningBox("D = 0 or s = 0 models are not implemented yet for inhomogeneous solvent");
    SimRun().dSimRpm = LastRpm();
    KernelProfiles().dStepSw2 = LastOmega() * LastOmega() * s * 1e-13;
    if (SolventSettings().gInhomSolvent.bCompressibleSolvent) SimRun().dSimS = s;
    // Sedimentation starts at the start-time offset, as in the Lamm solutions.
    const double t0 = ModelOptions().bTimeOffset ? ModelOptions().fTimeOffset : 0.0;
    ClosedFormSignal(k, [&](int, double t, const float* r, float* out, int n) {
      StepBoundaryProfile(static_cast<float>(loading), t - t0, r, out, n);
    });
    return ModelStatus::Computed;
  }
  LinearAmplitudes().bSkipLinearFit = false;
  SimRun().dSimD = SpeciesDiffusion(k);
  SimRun().dSimS = s;
  // The Faxen-type closed form describes a boundary leaving the meniscus and the
  // plateau ahead of it: sedimentation only. A floating species (s < 0) depletes
  // the bottom and piles up at the meniscus, which only the Lamm equation gives.
  if (ModelFlags().bFaxenApproximation && s >= 0.0) {
    SimRun().dSimRpm = LastRpm();
    const double sw2 = LastOmega() * LastOmega() * s * 1e-13;
    ClosedFormSignal(k, [&](int, double t, const float* r, float* out, int n) {
      ErfcBoundaryProfile(static_cast<float>(loading), t, r, out, n, static_cast<float>(sw2),
                          static_cast<float>(SimRun().dSimD), DataSet().fMeniscus);
    });
    return ModelStatus::Computed;
  }
  if (velocity) return LammSpecies(window, k, loading, grid);
  if (DataSet().bEquilibriumMode) {
    // Buoyant molar mass Mb = s R T / D, or (1 - vbar rho) M.
    double Mb = 0.0;
    if (ModelFlags().bFitMAndS)
      Mb = (1.0 - SolventConstants().fVRho) * massOrD;
    else if (massOrD > 0.0)
      Mb = std::fabs(s) * 1e-6 * DataSet().fRT / massOrD;
    CalculateSedEqSpeciesSignal(Mb, loading, ModelDetectionCorrections());
  }
  return ModelStatus::Computed;
}

void SpeciesLoop(Window* window, ModelResult& result) {
  if (!MakeMissingSignalTables(result, nSpeciesSlots)) return;
  const int firstIncluded = FirstIncludedSlot();
  ModelSteps().fLoadingFraction = 1.0f;
  bUserAbort = false;
  for (int k = 1; k <= nSpeciesSlots && !bUserAbort; ++k) {
    SimRun().iCurrentSpecies = k;
    const ModelStatus status = ModelFlags().bBufferSedCorrection && k == nSpeciesSlots
                                   ? SolveBufferSlot(window, k)
                                   : SpeciesSlot(window, k, firstIncluded);
    MergeModelStatus(result, status);
    SimRun().pSimWindow = nullptr;
  }
}

// ---- discrete species on DLS correlation functions ----

// g(1) -> g(2) - 1 of the model, when the data are intensity correlations: the fit
// rows are squared, or, with the signals in the tables, the sum of the included
// species' tables (as scaled) is squared into the first included slot's table and
// the others cleared, so that the fixed-amplitude variants of the linear step,
// which add the tables, give the squared sum. With linear amplitudes there is at
// most one included slot, whose unit signal is squared.
void SquareModelIntoIntensityACF(int firstIncluded) {
  if (SignalToFitRows()) {
    for (int p = ModelSteps().iFirstModelScan; p <= DataSet().nScans; ++p) {
      const std::size_t s = Idx(DataSet().pScanOrder[Idx(p)]);
      for (int j = 1; j <= DataSet().pnPoints[s]; ++j) DataSet().ppFit[s][j] *= DataSet().ppFit[s][j];
    }
    return;
  }
  if (firstIncluded < 1 || !HasSignalTable(firstIncluded)) return;
  for (int p = ModelSteps().iFirstModelScan; p <= DataSet().nScans; ++p) {
    const std::size_t s = Idx(DataSet().pScanOrder[Idx(p)]);
    float* sum = CurrentGrid().pppSpeciesSignal[firstIncluded][s];
    for (int k = firstIncluded + 1; k <= nSpeciesSlots; ++k) {
      if (!AnalysisSwitches().pSpeciesLinked[k] || !HasSignalTable(k)) continue;
      float* row = CurrentGrid().pppSpeciesSignal[k][s];
      for (int i = 1; i <= CurrentGrid().nGridPoints; ++i) {
        sum[i] += row[i];
        row[i] = 0.0f;
      }
    }
    for (int i = 1; i <= CurrentGrid().nGridPoints; ++i) sum[i] *= sum[i];
  }
}

// The species loop on DLS data: the correlation function of every included slot in
// closed form. Slot values: D (1e-7 cm^2/s), or M with "fit M and s", or the Stokes
// radius (nm) with bStokesRadii; in the cumulant analysis slot 1 holds the mean D
// and the total amplitude, slots 2-4 the higher cumulants (no species of their own).
void DLSSpeciesLoop(ModelResult& result) {
  const int firstIncluded = FirstIncludedSlot();
  ModelSteps().fLoadingFraction = 1.0f;
  bUserAbort = false;
  const bool intensityACF = !DataSet().pDLSInfo[1].bFieldACF;
  int included = 0;
  for (int k = 1; k <= nSpeciesSlots; ++k) included += AnalysisSwitches().pSpeciesLinked[k] ? 1 : 0;
  // The square of a sum is not linear in the amplitudes.
  if (intensityACF && included > 1) ModelParams().bLinearAmplitudes = false;
  const int lastSpeciesSlot = ModelFlags().bCumulants ? 1 : nSpeciesSlots;
  if (!MakeMissingSignalTables(result, lastSpeciesSlot)) return;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    SimRun().iCurrentSpecies = k;
    if (!AnalysisSwitches().pSpeciesLinked[k] || k > lastSpeciesSlot) {
      LinearAmplitudes().pAppliedAmplitude[k] = 0.0f;
      // Slots 2-4 of the cumulant mode hold the higher cumulants, no species: a
      // table an earlier model left there must not enter the linear step.
      if (k > lastSpeciesSlot && !SignalToFitRows()) ZeroSpeciesSignal(k);
      continue;
    }
    double loading = ModelFlags().bCumulants ? ModelParams().pSpeciesAmplitude[k] : SpeciesLoading(k, firstIncluded);
    if (ModelParams().bLinearAmplitudes) loading = 1.0;
    LinearAmplitudes().pAppliedAmplitude[k] = static_cast<float>(loading);
    DlsSpecies species;
    species.dDlsAmplitude = loading;
    LinearAmplitudes().bSkipLinearFit = false;
    SimRun().dSimS = ModelParams().pSpeciesS[k];
    SimRun().dSimD = SpeciesDiffusion(k);
    // Stokes-Einstein: the slot holds the radius of the sphere in nm (a fit that
    // drives it below 0 is taken by its size).
    if (ModelFlags().bStokesRadii)
      SimRun().dSimD = DFromStokesRadius(std::fabs(ModelParams().pSpeciesMassOrD[k]) * 1e-9f, DataSet().fTemperatureK - 273.15f);
    species.D = SimRun().dSimD;
    species.cumulants = ModelFlags().bCumulants;
    if (ModelFlags().bCumulants) {
      species.dDlsG1 = SimRun().dSimD;
      species.dDlsMu2 = ModelParams().pSpeciesMassOrD[2] * 1e-14;
      species.dDlsMu3 = ModelParams().pSpeciesMassOrD[3] * 1e-21;
      species.dDlsMu4 = ModelParams().pSpeciesMassOrD[4] * 1e-28;
    }
    if (!SignalToFitRows()) ZeroSpeciesSignal(k);
    CalculateDLSSpeciesSignal(species);
  }
  if (intensityACF) SquareModelIntoIntensityACF(firstIncluded);
}

// D of the self-association and non-ideal records in cm^2/s, in place.
void SingleComponentDiffusion() {
  auto fromMass = [](float s, float M) {
    return static_cast<float>(s * 1e-13 * DataSet().fRT / ((1.0 - SolventConstants().fVRho) * (M > 0.0f ? M : 1e-10)));
  };
  // The oligomers of the 1-2-4 and 1-4-8 models are given by their masses in
  // either parametrisation (the oligomers' are multiples of the monomer's).
  const bool table = ModelFlags().bAssoc148 || ModelFlags().bAssoc124;
  LinearAmplitudes().bSkipLinearFit = table && !(ModelOptions().fOligoD3 > 0.0f);
  if (table) {
    if (ModelOptions().fOligoD1 > 0.0f) ModelOptions().fOligoD1 = fromMass(ModelOptions().fOligoS1, ModelOptions().fOligoD1);
    if (ModelOptions().fOligoD2 > 0.0f) ModelOptions().fOligoD2 = fromMass(ModelOptions().fOligoS2, ModelOptions().fOligoD2);
    if (ModelOptions().fOligoD3 > 0.0f) ModelOptions().fOligoD3 = fromMass(ModelOptions().fOligoS3, ModelOptions().fOligoD3);
  }
  if (!ModelFlags().bFitMAndS) {
    ModelOptions().fD1 *= 1e-7f;
    ModelOptions().fD2 *= 1e-7f;
    return;
  }
  ModelOptions().fD1 = fromMass(ModelOptions().fS1, ModelOptions().fD1);
  ModelOptions().fD2 = fromMass(ModelOptions().fS2, ModelOptions().fD2);
}

// The start state of the single-component and reacting solves.
void ResetSingleRun(Window* window) {
  SimRun().dSimRpm = LastRpm();
  SimRun().bSimContinue = 1;
  SimRun().nSimIterations = 0;
  SimClock().dSimTime = AnalysisSwitches().bInitialDataProfile ? InitialData().ScanInfoTemplate.time : 0.0;
  bUserAbort = false;
  SimRun().dSimDt = LammSettings().dInitialDt;
  SimRun().pSimWindow = window;
  SimRun().dMaxRelChange = LammSettings().dMaxDcOverC;
  SimRun().dMaxRelChangeLow = 0.05 * LammSettings().dMaxDcOverC;
  SimRun().dMaxRelChangeTarget = 0.2 * LammSettings().dMaxDcOverC;
  SimRun().dSimDtMax = 500.0;
  SimRun().bSimFailed = SimRun().bSimDiverged = 0;
  if (!SignalToFitRows()) ZeroSpeciesSignal(1);
}

// The grid of n nodes for a single-component or reacting solve refined after a
// lost balance (uniform, as PrepareSimArrays lays it); the grid size in force stays.
bool RefinedSingleRunGrid(int n) {
  const int size = LammSettings().nLammGridPoints;
  const bool laid = ResizeSimArrays(n);
  LammSettings().nLammGridPoints = size;
  return laid;
}

ShowSimulationProgress MakeProgress() {
  SimProgressOptions options;
  options.liveDisplay = ModelSteps().bLiveDisplay;
  options.firstPosition = ModelSteps().iFirstModelScan;
  return ShowSimulationProgress(options);
}

// The buffer component added to a single-component or reacting model (slot 4's table).
void BufferAfterSingleComponent(Window* window, ModelResult& result) {
  if (!ModelFlags().bBufferSedCorrection || bUserAbort) return;
  SimRun().iCurrentSpecies = nSpeciesSlots;
  const SimOutcome outcome = CalculateBufferSedimentation(window);
  MergeModelStatus(result, ShowOutcome(window, outcome));
  SimRun().iCurrentSpecies = 1;
}

void SingleComponentBranch(Window* window, ModelResult& result) {
  if (SolventSettings().gInhomSolvent.bInhomogeneousSolvent)
    WarningBox("this model is not implemented yet for inhomogeneous solvent");
  if (DataSet().bEquilibriumMode) WarningBox("not implemented yet for sed eq data");
  SimRun().iCurrentSpecies = 1;
  LinearAmplitudes().pAppliedAmplitude[1] = 1.0f;
  if (LammSettings().bAutoFEAlgorithm) {
    double test = ModelOptions().fS1;
    if (ModelFlags().bNonidealSpecies) test = ModelOptions().fS1 / (1.0 + 0.5 * ModelOptions().fAssocLoading * std::pow(10.0, ModelOptions().fLogKs));
    if (test < NormalizedSThreshold(false))
      SelectClaverie();
    else
      SelectMovingHat();
  }
  if (!PrepareSimArrays()) {
    MergeModelStatus(result, ModelStatus::Failed);
    return;
  }
  // The non-ideal species on the grid its accuracy asks for.
  if (NonidealGridModel() && LammArrays().nSimGridPointsAllocated != NonidealGridNodes(LammSettings().nLammGridPoints) &&
      !RefinedSingleRunGrid(NonidealGridNodes(LammSettings().nLammGridPoints))) {
    MergeModelStatus(result, ModelStatus::Failed);
    return;
  }
  WriteInitialProfile(ModelOptions().fAssocLoading, 1.0);
  SimRun().dSimRpm = LastRpm();
  SingleComponentDiffusion();
  if (!LinearAmplitudes().bSkipLinearFit) {
    const SimRunSettings settings = CurrentSimRunSettings();
    auto attempt = [&] {
      ResetSingleRun(window);
      ShowSimulationProgress progress = MakeProgress();
      progress.Start();
      SimOutcome outcome;
      if (ModelFlags().bAssoc148 || ModelFlags().bAssoc124 || !LammSettings().bMovingHat)
        outcome = SolveNonidealLammClaverie(settings, progress);
      else
        outcome = SolveNonidealLammMovingHat(settings, progress);
      if (LammSettings().bMovingHat) MoveHatGrid();
      return outcome;
    };
    const SimOutcome outcome = RefineWhileBalanceLost(
        attempt(), LammArrays().nSimGridPointsAllocated, RefinedSingleRunGrid,
        [&] {
          WriteInitialProfile(ModelOptions().fAssocLoading, 1.0);
          return attempt();
        });
    MergeModelStatus(result, ShowOutcome(window, outcome));
  } else {
    // A constant signal: the loading everywhere.
    for (int p = ModelSteps().iFirstModelScan; p <= DataSet().nScans; ++p) {
      const int s = DataSet().pScanOrder[Idx(p)];
      std::fill(DataSet().ppFit[Idx(s)] + 1, DataSet().ppFit[Idx(s)] + DataSet().pnPoints[Idx(s)] + 1, ModelOptions().fAssocLoading);
      if (HasSignalTable(1) && !SignalToFitRows())
        InterpolateCurveFromDouble(CurrentGrid().nGridPoints, CurrentGrid().pGridRadius, CurrentGrid().pppSpeciesSignal[1][Idx(s)],
                                   LammArrays().nSimGridPointsAllocated, LammArrays().pLammRadius, LammArrays().pLammConc);
    }
  }
  SimRun().pSimWindow = nullptr;
  BufferAfterSingleComponent(window, result);
}

void ReactingBranch(Window* window, ModelResult& result) {
  if (DataSet().bEquilibriumMode) WarningBox("not implemented yet for sed eq data");
  SimRun().iCurrentSpecies = 1;
  LinearAmplitudes().pAppliedAmplitude[1] = 1.0f;
  AnalysisSwitches().bInitialDataProfile = false;
  AnalysisSwitches().bUniformLoading = true;
  // A set-up the reacting solver cannot use, shown as its refusal.
  auto refuse = [&](const char* text) {
    SimOutcome refused;
    refused.status = SimStatus::InvalidInput;
    refused.message = text;
    MergeModelStatus(result, ShowOutcome(window, refused));
  };
  // The concentrations are the signals divided by these.
  if (!(Reaction().fReactExticoA > 0.0f) || !(Reaction().fReactExticoB > 0.0f))
    return refuse("extico a and extico b must be positive");
  if (!PrepareSimArrays()) {
    MergeModelStatus(result, ModelStatus::Failed);
    return;
  }
  InitReactingSystem();
  SimRun().dSimRpm = LastRpm();
  if (!ReactingMassesToD(ModelFlags().bFitMAndS, DataSet().fRT, SolventConstants().fVRho))
    return refuse("the masses of A, B and AB must be positive");
  const SimRunSettings settings = CurrentSimRunSettings();
  auto attempt = [&] {
    ResetSingleRun(window);
    ShowSimulationProgress progress = MakeProgress();
    progress.Start();
    return SolveReactingLamm(settings, progress);
  };
  const SimOutcome outcome = RefineWhileBalanceLost(attempt(), LammArrays().nSimGridPointsAllocated,
                                                    RefinedSingleRunGrid, [&] {
                                                      InitReactingSystem();
                                                      return attempt();
                                                    });
  // Every discretization error of the reacting model is shown, also during a fit.
  if (outcome.status == SimStatus::Diverged) SimulationMessages().bDiscretizationShown = false;
  MergeModelStatus(result, ShowOutcome(window, outcome));
  SimRun().pSimWindow = nullptr;
  BufferAfterSingleComponent(window, result);
}

}  // namespace

void SetUpRotorRamp() {
  SimRun().dFinalRpm = LastRpm();
  if (!AnalysisSwitches().bRampRotorSpeed || !VelocityData()) return;
  const ScanInfo& first = InfoAt(1);
  SimRun().bAccelerating = true;
  SimRun().dAccelEndTime = first.accelTime;
  SimRun().dAccelRate = first.accelRate;
  SimRun().dAccelDtMax = 10.0;
  if (SimRun().dAccelEndTime < 10.0) {
    SimRun().dAccelEndTime = 0.0;
    SimRun().bAccelerating = false;
    SimRun().dSimRpm = SimRun().dFinalRpm;
  }
}

double NormalizedSThreshold(bool allowOptimized) {
  const double T = allowOptimized && LammSettings().bOptimizeStaticGrid && LammSettings().bAutoGridSize && !ModelFlags().bZoneCentrifugation
                       ? LammSettings().fAutoAlgorithmSOptimized
                       : LammSettings().fAutoAlgorithmS;
  const long double q = LastRpm() / 30000.0L;
  return static_cast<double>(T / (q * q));
}

SpeciesGridChoice SizeGridForSpecies(double s, double D) {
  SpeciesGridChoice choice;
  D = std::fabs(D);
  const double m = DataSet().fMeniscus, b = DataSet().fBottom;
  if (s != 0.0) {
    const float T = DataSet().fTemperatureK - 273.15f;
    const float M = MFromSandD(static_cast<float>(s), static_cast<float>(D), T);
    const float f0 = CalculateF0(M, SolventConstants().VBAR);
    const double ratio =
        f0 > 0.0f ? CalculateFrictionCoefficient(M, static_cast<float>(s), SolventConstants().VBAR, SolventConstants().fBufferDensity) / f0
                  : 0.0;
    if (ratio < 0.5) {
      choice.noTruncation = true;
      LammSettings().nLammGridPoints = LammSettings().nDefaultGridPoints;
      ResizeSimArrays(LammSettings().nLammGridPoints);
      return choice;
    }
    choice.outflowBottom = TestShutOffBackDiffusion(s, D);
  }
  SimRun().dSimRpm = LastRpm();
  const double omega = LastOmega();
  const double sw2 = omega * omega * std::fabs(s) * 1e-13;
  // r*: the first point inside the fit limits of scan 1 (its last point when none
  // lies inside).
  double rStar = DataSet().ppRadius[1][std::clamp(DataSet().pFitFirst[1], 1, DataSet().pnPoints[1])];
  if (rStar < m + 0.001) rStar = m + 0.001;
  double tStar = 0.0;
  if (sw2 > 0.0) {
    const ScanInfo& first = InfoAt(1);
    const double alpha = first.accelRate * kTwoPiOver60;
    const double tAcc = first.accelTime;
    // Displacement of the boundary during a linear ramp: |s| 1e-13 alpha^2 m t^3 / 3.
    const double xAcc = std::fabs(s) * (1.0 / 3.0) * 1e-13 * alpha * alpha * m * tAcc * tAcc * tAcc;
    tStar = rStar - m > xAcc ? (rStar - xAcc - m) / (sw2 * rStar) + tAcc : (rStar - m) / (sw2 * rStar);
  } else {
    // No sedimentation: the profile spreads by diffusion over the whole run.
    tStar = InfoAt(DataSet().nScans).time;
  }
  const double sigma = std::max(std::sqrt(D * tStar), 0.001);
  const double h = sigma / LammSettings().fPointsPerSigma;
  // Every count above the upper limit ends as that limit: the count starts no higher
  // than one above it, which keeps the search below short whatever the settings
  // and the cell.
  const double ceiling = static_cast<double>(std::min(LammSettings().nGridSizeUpper, kMaxSimGridPoints)) + 1;
  double equidistant = std::floor((b - m) * LammSettings().fPointsPerSigma / sigma);
  if (!(equidistant <= ceiling)) equidistant = ceiling;
  if (equidistant < 0) equidistant = 0;  // a cell upside down: the lower limit
  const int N0 = static_cast<int>(equidistant);
  ModelComputation().nStaticGridEstimate = N0;
  ModelComputation().fOptimizeRadius = rStar;
  // The moving-hat count: the second interval m (q^(1.5/(N-1)) - q^(0.5/(N-1)))
  // should just exceed the spacing h.
  const double q = b / m;
  int N = N0;
  while (N > LammSettings().nGridSizeLower) {
    const double d = m * (std::pow(q, 1.5 / (N - 1)) - std::pow(q, 0.5 / (N - 1)));
    if (d > h) {
      ++N;
      break;
    }
    --N;
  }
  ModelComputation().nHatGridEstimate = N;
  LammSettings().nLammGridPoints = ClampGrid(LammSettings().bMovingHat ? ModelComputation().nHatGridEstimate : N0);
  if (LammSettings().bClaverie && LammSettings().bOptimizeStaticGrid && choice.outflowBottom && !ModelFlags().bZoneCentrifugation) {
    ResizeSimArrays(LammSettings().nLammGridPoints);
    OptimizeStaticGridSize(rStar);
  } else {
    ResizeSimArrays(LammSettings().nLammGridPoints);
  }
  return choice;
}

ModelResult CalculateModel(Window* window) {
  // A non-ideal solution is computed on the grid its accuracy asks for: the check
  // computes the model on that grid and finer ones (nonideal_grid.h).
  thread_local bool checking = false;  // this call stack is the check's own
  if (!checking && NonidealGridModel()) {
    checking = true;
    const ModelResult result = ComputeOnAccurateNonidealGrid([window] { return CalculateModel(window); });
    checking = false;
    return result;
  }
  ModelResult result;
  if (DataSet().nScans < 1) {
    result.status = ModelStatus::NotStarted;
    return result;
  }
  // Faxen-type boundaries are closed forms of the species loop: the solver objects
  // would ignore the choice and solve the Lamm equation instead.
  const bool solverObjects = (ModelFlags().bDiscreteModel && !ModelFlags().bBufferSedCorrection && !DataSet().bDLSData &&
                              !DataSet().bEquilibriumMode && !AnalysisSwitches().bInitialDataProfile &&
                              !ModelOptions().bC1Nonideal && !ModelFlags().bFaxenApproximation) ||
                             (ModelFlags().bNonIdealMultiple && !DataSet().bDLSData);
  // The Lamm solutions of velocity data end only with usable step controls.
  if (!DataSet().bDLSData && !DataSet().bEquilibriumMode && !CheckStepControls(result)) return result;
  if (solverObjects) return CalculateSpeciesModelCL(window);
  // Correlation functions have no cell geometry and need no Lamm solution; each
  // needs its record.
  const bool dls = DataSet().bDLSData;
  if (dls ? DataSet().pDLSInfo.size() <= Idx(DataSet().nScans) : !CheckMeniscusAndBottom(result)) {
    result.status = ModelStatus::NotStarted;
    return result;
  }
  OpenDetectionBracket();
  if (!dls && !PrepareSimArrays()) {
    CloseDetectionBracket();
    result.status = ModelStatus::NotStarted;
    return result;
  }
  SetDefaultFitLimitsWhenUnset();
  UnpackModelParams();
  TakeInitialDistribution();
  ZeroFitRows(ModelSteps().iFirstModelScan);
  if (ModelSteps().bLiveDisplay) RepaintMain(window);
  SetUpRotorRamp();

  if (dls) {
    // Only the non-interacting species have a correlation function; any other model
    // leaves the fit rows at 0.
    if (ModelFlags().bDiscreteModel) DLSSpeciesLoop(result);
  } else if (ModelFlags().bDiscreteModel) {
    SpeciesLoop(window, result);
  } else if (ModelFlags().bMonomerDimer || ModelFlags().bMonomerTrimer || ModelFlags().bAssoc148 || ModelFlags().bAssoc124 || ModelFlags().bNonidealSpecies) {
    SingleComponentBranch(window, result);
  } else if (ModelFlags().bHeteroAssocModel) {
    ReactingBranch(window, result);
  }
  SimRun().pSimWindow = nullptr;
  if (bUserAbort) MergeModelStatus(result, ModelStatus::Interrupted);
  FinishModelComputation(window, result, ModelSteps().iFirstModelScan);
  return result;
}

void ResetModelComputation() {
  FreeInitialDistribution();
  ModelComputation().nStaticGridEstimate = 0;
  ModelComputation().nHatGridEstimate = 0.0;
  ModelComputation().fOptimizeRadius = 0.0;
  ModelSteps().bLiveDisplay = false;
  ModelSteps().iFirstModelScan = 1;
  ModelSteps().fLoadingFraction = 1.0f;
}

}  // namespace tarmic
