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
#include "modelcalc/model_input.h"
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
#include "propagators/sim_input.h"
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

// The settings of one solve: the Lamm settings and fitting limits as the
// computation left them (it chooses the algorithm per species), the input's cell.
SimRunSettings SolveSettings(const ModelInput& in) {
  SimRunSettings settings = CurrentSimRunSettings();
  settings.meniscus = in.meniscus;
  settings.bottom = in.bottom;
  return settings;
}

void WarningBox(const char* text) { ShowComputationNote(text, "", MB_OK | MB_ICONEXCLAMATION); }

// ---- algorithm choice (a lasting change of the user's option) ----

void SelectClaverie(const GridCell& cell) {
  auto& lammSettingsPart = LammSettings();
  if (lammSettingsPart.bClaverie) return;
  lammSettingsPart.bClaverie = true;
  lammSettingsPart.bFixTimeStep = false;
  lammSettingsPart.bMovingHat = false;
  ResizeSimArrays(lammSettingsPart.nLammGridPoints, cell);
}

void SelectMovingHat(const GridCell& cell) {
  auto& lammSettingsPart = LammSettings();
  if (lammSettingsPart.bMovingHat) return;
  lammSettingsPart.bClaverie = false;
  lammSettingsPart.bMovingHat = true;
  lammSettingsPart.bAutoSGrid = true;
  ResizeSimArrays(lammSettingsPart.nLammGridPoints, cell);
}

// |s| below the threshold: static grid; above: moving hat; at equality no change.
void ChooseAlgorithm(double sAbs, double threshold, const GridCell& cell) {
  auto& lammSettingsPart = LammSettings();
  if (sAbs < threshold && !lammSettingsPart.bClaverie) SelectClaverie(cell);
  if (sAbs > threshold && !lammSettingsPart.bMovingHat) SelectMovingHat(cell);
}

int ClampGrid(double n) {
  auto& lammSettingsPart = LammSettings();
  const int lower = RefinedNodeCount(lammSettingsPart.nGridSizeLower), upper = RefinedNodeCount(lammSettingsPart.nGridSizeUpper);
  // Clamped before the conversion, so that no estimate converts out of range.
  const double whole = std::floor(n);
  if (!(whole < upper)) return upper;
  if (!(whole > lower)) return lower;
  return static_cast<int>(whole);
}

// ---- the set-up common to routes 2 and 3 ----

// The shared arrays for the current model and grid, the grid at the model's
// meniscus. False when they cannot be had.
bool PrepareSimArrays(const ModelInput& in) {
  auto& lammArraysPart = LammArrays();
  auto& lammSettingsPart = LammSettings();
  const GridCell cell = InputCell(in);
  if (!lammArraysPart.bSimArraysAllocated || !SimArraysMatchModel()) {
    AllocSimArrays(cell);
  } else if (lammSettingsPart.bMovingHat && !lammArraysPart.pLammRadius2) {
    ResizeSimArrays(lammSettingsPart.nLammGridPoints, cell);
  }
  if (lammArraysPart.bSimArraysAllocated && std::fabs(lammArraysPart.pLammRadius[1] - in.meniscus) > 1e-5) BuildLammGrid(cell);
  return lammArraysPart.bSimArraysAllocated;
}

// The first scan becomes the initial distribution when none is loaded.
void TakeInitialDistribution(const ModelInput& in) {
  auto& dataSetPart = DataSet();
  auto& modelStepsPart = ModelSteps();
  auto& rmsdPart = Rmsd();
  auto& scanFilePart = ScanFile();
  if (!AnalysisSwitches().bInitialDataProfile) {
    rmsdPart.bFirstScanIsInitial = false;
    return;
  }
  const int s = dataSetPart.pScanOrder[1];
  if (InitialData().nInitPoints == 0) {
    const int n = dataSetPart.pnPoints[Idx(s)];
    rmsdPart.bFirstScanIsInitial = true;
    // The models start from concentration: intensity data from their absorbance.
    const std::vector<float> absorbance = scanFilePart.bIntensityData ? ScanAbsorbance(s) : std::vector<float>{};
    SetInitialProfile(n, dataSetPart.ppRadius[Idx(s)], scanFilePart.bIntensityData ? absorbance.data() : dataSetPart.ppSignal[Idx(s)],
                      dataSetPart.pScanInfo[Idx(s)]);
  }
  // The ends outside the fit limits follow the limits as they are now.
  ExtrapolateInitialData(in.baseline);
  modelStepsPart.iFirstModelScan = 1;
  if (rmsdPart.bFirstScanIsInitial) {
    modelStepsPart.iFirstModelScan = 2;
    std::copy(dataSetPart.ppSignal[Idx(s)] + 1, dataSetPart.ppSignal[Idx(s)] + dataSetPart.pnPoints[Idx(s)] + 1, dataSetPart.ppFit[Idx(s)] + 1);
  }
}

// Initial profile of a species of the given loading on the Lamm grid.
void WriteInitialProfile(const ModelInput& in, double loading, double scale) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& initialDataPart = InitialData();
  auto& lammArraysPart = LammArrays();
  const int N = lammArraysPart.nSimGridPointsAllocated;
  if (analysisSwitchesPart.bInitialDataProfile && initialDataPart.nInitPoints > 1) {
    InterpolateCurveToDouble(N, lammArraysPart.pLammRadius, lammArraysPart.pLammConc, initialDataPart.nInitPoints, initialDataPart.pInitRadius.data(),
                             initialDataPart.pInitSignal.data());
    for (int i = 1; i <= N; ++i) lammArraysPart.pLammConc[i] = std::max(0.0, lammArraysPart.pLammConc[i] - in.baseline) * scale;
    return;
  }
  if (!analysisSwitchesPart.bUniformLoading) return;
  const double edge = lammArraysPart.pLammRadius[1] + in.lamellaWidth;
  for (int i = 1; i <= N; ++i) {
    double v = loading;
    if (in.model.zoneCentrifugation) {
      const bool inLamella = in.zoneInverseLayer ? !(lammArraysPart.pLammRadius[i] < edge) : lammArraysPart.pLammRadius[i] <= edge;
      if (!inLamella) v = 0.0;
    }
    lammArraysPart.pLammConc[i] = v;
  }
}

// The input of a concentration-dependent solve: the input's geometry and solvent,
// settings, the rotor as the run state holds it and the constants of law. False
// with the refusal the solve gives (the arrays, cell and rotor first, then the law).
bool ConcentrationDependentInput(const ModelInput& in, const SimRunSettings& settings, const CoefficientModelValues& law,
                                 bool movingHat, SimInput* input, SimOutcome* refused) {
  if (movingHat) SetHatCellEnds(settings.meniscus, settings.bottom);
  *input = in.run;
  input->settings = settings;
  input->species = {};
  input->rotor = CurrentSimRotor();
  return PrepareNonidealCoefficients(settings, movingHat, law, input, refused);
}

// ---- one propagator run ----

class SpeciesRun {
 public:
  // input: the species and cell geometry of every attempt (its settings are those
  // of each attempt, its rotor that of the run state the attempt starts from).
  SpeciesRun(Window* window, const ModelInput& model, int k, double loading, const SimInput& input)
      : window_(window), model_(model), k_(k), loading_(loading), input_(input) {}

  // The start state of a run: rotor, time, step, error limits, flags.
  void ResetState(double startTime, bool keepAcceleration) {
    auto& lammSettingsPart = LammSettings();
    auto& simRunPart = SimRun();
    simRunPart.dSimRpm = LastRpm();
    simRunPart.bSimContinue = 1;
    simRunPart.nSimIterations = 0;
    SimClock().dSimTime = startTime;
    bUserAbort = false;
    simRunPart.dSimDt = RefinedInitialDt();
    simRunPart.pSimWindow = window_;
    if (!keepAcceleration && AnalysisSwitches().bRampRotorSpeed && VelocityData()) {
      simRunPart.bAccelerating = true;
      if (simRunPart.dAccelEndTime < 10.0) {
        simRunPart.dAccelEndTime = 0.0;
        simRunPart.bAccelerating = false;
      }
    }
    simRunPart.dMaxRelChange = RefinedMaxDcOverC();
    simRunPart.dMaxRelChangeLow = 0.05 * simRunPart.dMaxRelChange;
    simRunPart.dMaxRelChangeTarget = 0.2 * simRunPart.dMaxRelChange;
    simRunPart.bSimFailed = simRunPart.bSimDiverged = 0;
    // A signal table row the run does not reach must not keep older values.
    if (!SignalToFitRows()) ZeroSpeciesSignal(k_);
  }

  // One run of the chosen propagator from the prepared state.
  SimOutcome Run(const SimRunSettings& settings, bool concDependent) {
    auto& lammSettingsPart = LammSettings();
    auto& modelStepsPart = ModelSteps();
    SimProgressOptions options;
    options.liveDisplay = modelStepsPart.bLiveDisplay;
    options.firstPosition = modelStepsPart.iFirstModelScan;
    ShowSimulationProgress progress(options);
    progress.Start();
    SimOutcome outcome;
    if (concDependent) {
      // Slot 1 as the one non-ideal species of the input's law, with this solve's s and D.
      CoefficientModelValues law = model_.coefficients;
      law.nonidealSpecies = true;
      law.s1 = static_cast<float>(SimRun().dSimS);
      law.d1 = static_cast<float>(SimRun().dSimD);
      const bool movingHat = lammSettingsPart.bMovingHat;
      SimInput input;
      if (!ConcentrationDependentInput(model_, settings, law, movingHat, &input, &outcome)) return outcome;
      outcome = movingHat ? SolveNonidealLammMovingHat(input, progress) : SolveNonidealLammClaverie(input, progress);
    } else if (lammSettingsPart.bMovingHat) {
      outcome = SolveLammMovingHat(AttemptInput(settings), progress);
      MoveHatGrid();
    } else if (lammSettingsPart.bClaverie) {
      outcome = SimArraysMatchModel() ? SolveLammClaverie(AttemptInput(settings), progress)
                                      : SimOutcome{SimStatus::NotAllocated, kSimArraysMissingText};
    }
    return outcome;
  }

  // The values of one attempt: its settings and the rotor as ResetState left it.
  SimInput AttemptInput(const SimRunSettings& settings) const {
    SimInput input = input_;
    input.settings = settings;
    input.rotor = CurrentSimRotor();
    return input;
  }

  // The time the solution starts at: the start-time offset, else the time of an
  // experimental initial distribution, else 0.
  double StartTime() const {
    if (model_.model.timeOffset) return model_.model.timeOffsetValue;
    return AnalysisSwitches().bInitialDataProfile ? InitialData().ScanInfoTemplate.time : 0.0;
  }

  // A retry attempt: the loading again, the start time of the first attempt (a
  // retry from 0 put a species with a start-time offset that much later than the
  // others) and the fit as before the first attempt.
  SimOutcome Retry(const SimRunSettings& settings) {
    WriteInitialProfile(model_, loading_, ModelSteps().fLoadingFraction);
    ResetState(StartTime(), false);
    snapshot_.Restore();
    return Run(settings, false);
  }

  // Lays the grid of nodes again as the species was given it (the grading towards
  // the bottom); set by the caller when the grid is not uniform.
  void SetRegrade(std::function<void()> regrade) { regrade_ = std::move(regrade); }

  SimOutcome Solve(SimRunSettings settings, bool c1Nonideal) {
    auto& analysisSwitchesPart = AnalysisSwitches();
    auto& lammSettingsPart = LammSettings();
    auto& modelComputationPart = ModelComputation();
    auto& modelFlagsPart = ModelFlags();
    auto& modelOptionsPart = ModelOptions();
    auto& modelStepsPart = ModelSteps();
    auto& simRunPart = SimRun();
    // A retry starts from the fit as it was before the failed attempt (only that
    // attempt's records are taken back).
    if (SignalToFitRows()) snapshot_.Take(modelStepsPart.iFirstModelScan);
    ResetState(StartTime(), false);
    const int nodes = LammArrays().nSimGridPointsAllocated;
    auto first = [&] {
      SimOutcome result;
      if (c1Nonideal) {
        modelFlagsPart.bNonidealSpecies = true;
        modelOptionsPart.fS1 = static_cast<float>(simRunPart.dSimS);
        modelOptionsPart.fD1 = static_cast<float>(simRunPart.dSimD);
        result = Run(settings, true);
        if (lammSettingsPart.bMovingHat) MoveHatGrid();
        modelFlagsPart.bNonidealSpecies = false;
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
      const int size = lammSettingsPart.nLammGridPoints;
      const SimOutcome refined = RefineWhileBalanceLost(
          failed, nodes,
          [&](int n) {
            // The non-ideal solve of slot 1 needs the concentration-dependent block.
            const bool nonideal = modelFlagsPart.bNonidealSpecies;
            modelFlagsPart.bNonidealSpecies = nonideal || c1Nonideal;
            const bool laid = ResizeSimArrays(n, InputCell(model_));
            modelFlagsPart.bNonidealSpecies = nonideal;
            if (!laid) return false;
            if (regrade_) regrade_();
            return true;
          },
          [&] {
            WriteInitialProfile(model_, loading_, modelStepsPart.fLoadingFraction);
            ResetState(StartTime(), false);
            snapshot_.Restore();
            return first();
          });
      if (c1Nonideal || lammSettingsPart.nLammGridPoints != size) ResizeSimArrays(size, InputCell(model_));
      return refined;
    };
    // The retries below solve the ideal equation: a non-ideal species has none of
    // them and is refined at once.
    if (outcome.refinable && (!outcome.retryFirst || c1Nonideal) && !bUserAbort)
      return refine(outcome);
    if (c1Nonideal) {
      ResizeSimArrays(lammSettingsPart.nLammGridPoints, InputCell(model_));
      return outcome;
    }
    const bool failed = simRunPart.bSimDiverged || simRunPart.bSimFailed;
    if (!failed || bUserAbort || analysisSwitchesPart.bInitialDataProfile || !analysisSwitchesPart.bUniformLoading ||
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
    if ((simRunPart.bSimDiverged || simRunPart.bSimFailed) && !bUserAbort && lammSettingsPart.bClaverie) {
      lammSettingsPart.bClaverie = false;
      lammSettingsPart.bMovingHat = true;
      ResizeSimArrays(ClampGrid(modelComputationPart.nHatGridEstimate > 0 ? modelComputationPart.nHatGridEstimate : lammSettingsPart.nLammGridPoints),
                      InputCell(model_));
      outcome = Retry(settings);
      lammSettingsPart.bClaverie = true;
      lammSettingsPart.bMovingHat = false;
      settings.fixTimestep = false;
      if (lammSettingsPart.bOptimizeStaticGrid && TestShutOffBackDiffusion(input_.species.s, input_.species.D, model_.meniscus, model_.bottom) &&
          !model_.model.zoneCentrifugation &&
          modelComputationPart.nStaticGridEstimate > 0) {
        lammSettingsPart.nLammGridPoints = modelComputationPart.nStaticGridEstimate;
        ResizeSimArrays(lammSettingsPart.nLammGridPoints, InputCell(model_));
        OptimizeStaticGridSize(modelComputationPart.fOptimizeRadius, InputCell(model_));
      } else {
        ResizeSimArrays(ClampGrid(modelComputationPart.nStaticGridEstimate > 0 ? modelComputationPart.nStaticGridEstimate : lammSettingsPart.nLammGridPoints),
                        InputCell(model_));
      }
    }
    if ((simRunPart.bSimDiverged || simRunPart.bSimFailed) && !bUserAbort) {
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
  const ModelInput& model_;
  int k_;
  double loading_;
  SimInput input_;
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
ModelStatus LammSpecies(Window* window, const ModelInput& in, int k, double loading, const SpeciesGridChoice& grid) {
  const ModelSpeciesValues& species = in.species[Idx(k)];
  const double s = species.s, D = species.D;
  SimRunSettings settings = SolveSettings(in);
  settings.outflowBottom = TestShutOffBackDiffusion(s, D, in.meniscus, in.bottom);
  settings.noTruncation = grid.noTruncation;
  SimInput input = in.run;
  input.settings = settings;
  input.species = {s, D};
  SpeciesRun run(window, in, k, loading, input);
  if (!settings.outflowBottom && AnalysisSwitches().bUniformLoading && !in.model.zoneCentrifugation && s > 0) {
    // sigma_b = Mb w^2 / (2 R T): the reduced molar mass of the equilibrium at the bottom.
    const double T = InfoAt(DataSet().nScans).temperature + 273.15;
    const double w = LastOmega();
    const double sigma = w * w / (T * kTwoR) * (T * 1e-13 * s * kGasConstant / D);
    const GridCell cell = InputCell(in);
    RefineGridAtBottom(sigma, cell);
    run.SetRegrade([sigma, cell] { RefineGridAtBottom(sigma, cell); });
  }
  const SimOutcome outcome = run.Solve(settings, k == 1 && in.model.c1Nonideal);
  return ShowOutcome(window, outcome);
}

// ---- the three branches ----

ModelStatus SpeciesSlot(Window* window, const ModelInput& in, int k, int firstIncluded) {
  auto& currentGridPart = CurrentGrid();
  auto& kernelProfilesPart = KernelProfiles();
  auto& modelStepsPart = ModelSteps();
  auto& solventConstantsPart = SolventConstants();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& lammArraysPart = LammArrays();
  auto& lammSettingsPart = LammSettings();
  auto& linearAmplitudesPart = LinearAmplitudes();
  auto& simRunPart = SimRun();
  auto& solventSettingsPart = SolventSettings();
  const ModelSpeciesValues& species = in.species[Idx(k)];
  const ModelBranches& model = in.model;
  const double s = species.s;
  const bool included = species.included;
  const bool velocity = VelocityData();
  const GridCell cell = InputCell(in);
  if (velocity && lammSettingsPart.bAutoFEAlgorithm) {
    // The concentration-dependent moving grid has no frame moving inward: a
    // floating non-ideal species stays on the static grid.
    if (k == 1 && model.c1Nonideal && s < 0.0)
      ChooseAlgorithm(0.0, 1.0, cell);
    else
      ChooseAlgorithm(std::fabs(s), NormalizedSThreshold(true), cell);
  }
  SpeciesGridChoice grid;
  if (included) {
    if (!lammSettingsPart.bAutoGridSize || !velocity || model.zoneCentrifugation || species.massOrD <= 0)
      ResizeSimArrays(RefinedNodeCount(lammSettingsPart.nDefaultGridPoints), cell);
    else
      grid = SizeGridForSpecies(s, species.D, in.meniscus, in.bottom);
  }
  if (velocity && analysisSwitchesPart.bRampRotorSpeed && lammSettingsPart.bClaverie && !lammSettingsPart.bAutoFEAlgorithm) {
    const double T = lammSettingsPart.bOptimizeStaticGrid && lammSettingsPart.bAutoGridSize ? lammSettingsPart.fAutoAlgorithmSOptimized : lammSettingsPart.fAutoAlgorithmS;
    const long double q = LastRpm() / 30000.0L;
    if (std::fabs(s) > static_cast<double>(T / (q * q))) simRunPart.dAccelDtMax = 1.0;
  }
  if (!included) {
    linearAmplitudesPart.pAppliedAmplitude[k] = 0.0f;
    return ModelStatus::Computed;
  }
  const double loading = SpeciesLoading(in, k, firstIncluded);
  linearAmplitudesPart.pAppliedAmplitude[k] = static_cast<float>(loading);
  if (k == 1 && model.c1Nonideal) {
    // The concentration-dependent block of the arrays for the solve of slot 1, on
    // the grid its accuracy asks for.
    ModelFlags().bNonidealSpecies = true;
    ResizeSimArrays(NonidealGridNodes(lammSettingsPart.nLammGridPoints), cell);
    ModelFlags().bNonidealSpecies = false;
  }
  if (!lammArraysPart.bSimArraysAllocated) return ModelStatus::Failed;
  WriteInitialProfile(in, loading, modelStepsPart.fLoadingFraction);

  const double massOrD = species.massOrD;
  if (s == 0.0 && massOrD == 0.0) {
    // A constant species: its loading everywhere.
    linearAmplitudesPart.bSkipLinearFit = true;
    ClosedFormSignal(k, [&](int, double, const float* r, float* out, int n) {
      if (r == currentGridPart.pGridRadius)
        InterpolateCurveFromDouble(n, r, out, lammArraysPart.nSimGridPointsAllocated, lammArraysPart.pLammRadius, lammArraysPart.pLammConc);
      else
        for (int j = 1; j <= n; ++j) out[j] = static_cast<float>(loading);
    });
    return ModelStatus::Computed;
  }
  if (velocity && massOrD == 0.0 && analysisSwitchesPart.bUniformLoading) {
    // A non-diffusing species: a sharp boundary with radial dilution.
    if (solventSettingsPart.gInhomSolvent.bInhomogeneousSolvent && !solventSettingsPart.gInhomSolvent.bCompressibleSolvent)
      WarningBox("D = 0 or s = 0 models are not implemented yet for inhomogeneous solvent");
    simRunPart.dSimRpm = LastRpm();
    kernelProfilesPart.dStepSw2 = LastOmega() * LastOmega() * s * 1e-13;
    if (solventSettingsPart.gInhomSolvent.bCompressibleSolvent) simRunPart.dSimS = s;
    // Sedimentation starts at the start-time offset, as in the Lamm solutions.
    const double t0 = model.timeOffset ? model.timeOffsetValue : 0.0;
    ClosedFormSignal(k, [&](int, double t, const float* r, float* out, int n) {
      StepBoundaryProfile(static_cast<float>(loading), t - t0, r, out, n);
    });
    return ModelStatus::Computed;
  }
  linearAmplitudesPart.bSkipLinearFit = false;
  simRunPart.dSimD = species.D;
  simRunPart.dSimS = s;
  // The Faxen-type closed form describes a boundary leaving the meniscus and the
  // plateau ahead of it: sedimentation only. A floating species (s < 0) depletes
  // the bottom and piles up at the meniscus, which only the Lamm equation gives.
  if (model.faxen && s >= 0.0) {
    simRunPart.dSimRpm = LastRpm();
    const double sw2 = LastOmega() * LastOmega() * s * 1e-13;
    ClosedFormSignal(k, [&](int, double t, const float* r, float* out, int n) {
      ErfcBoundaryProfile(static_cast<float>(loading), t, r, out, n, static_cast<float>(sw2),
                          static_cast<float>(species.D), in.meniscus, in.bottom);
    });
    return ModelStatus::Computed;
  }
  if (velocity) return LammSpecies(window, in, k, loading, grid);
  if (dataSetPart.bEquilibriumMode) {
    // Buoyant molar mass Mb = s R T / D, or (1 - vbar rho) M.
    double Mb = 0.0;
    if (model.fitMAndS)
      Mb = (1.0 - solventConstantsPart.fVRho) * massOrD;
    else if (massOrD > 0.0)
      Mb = std::fabs(s) * 1e-6 * dataSetPart.fRT / massOrD;
    CalculateSedEqSpeciesSignal(Mb, loading, ModelDetectionCorrections(), in.meniscus, in.bottom);
  }
  return ModelStatus::Computed;
}

void SpeciesLoop(Window* window, const ModelInput& in, LinearStepInput& step, ModelResult& result) {
  auto& modelStepsPart = ModelSteps();
  auto& simRunPart = SimRun();
  if (!MakeMissingSignalTables(result, step, nSpeciesSlots)) return;
  const int firstIncluded = FirstIncludedSlot(in);
  modelStepsPart.fLoadingFraction = 1.0f;
  bUserAbort = false;
  for (int k = 1; k <= nSpeciesSlots && !bUserAbort; ++k) {
    simRunPart.iCurrentSpecies = k;
    const ModelStatus status = in.model.bufferCorrection && k == nSpeciesSlots
                                   ? SolveBufferSlot(window, in, k, step)
                                   : SpeciesSlot(window, in, k, firstIncluded);
    MergeModelStatus(result, status);
    simRunPart.pSimWindow = nullptr;
  }
}

// ---- discrete species on DLS correlation functions ----

// g(1) -> g(2) - 1 of the model, when the data are intensity correlations: the fit
// rows are squared, or, with the signals in the tables, the sum of the included
// species' tables (as scaled) is squared into the first included slot's table and
// the others cleared, so that the fixed-amplitude variants of the linear step,
// which add the tables, give the squared sum. With linear amplitudes there is at
// most one included slot, whose unit signal is squared.
void SquareModelIntoIntensityACF(const ModelInput& in, int firstIncluded) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& modelStepsPart = ModelSteps();
  if (SignalToFitRows()) {
    for (int p = modelStepsPart.iFirstModelScan; p <= dataSetPart.nScans; ++p) {
      const std::size_t s = Idx(dataSetPart.pScanOrder[Idx(p)]);
      for (int j = 1; j <= dataSetPart.pnPoints[s]; ++j) dataSetPart.ppFit[s][j] *= dataSetPart.ppFit[s][j];
    }
    return;
  }
  if (firstIncluded < 1 || !HasSignalTable(firstIncluded)) return;
  for (int p = modelStepsPart.iFirstModelScan; p <= dataSetPart.nScans; ++p) {
    const std::size_t s = Idx(dataSetPart.pScanOrder[Idx(p)]);
    float* sum = currentGridPart.pppSpeciesSignal[firstIncluded][s];
    for (int k = firstIncluded + 1; k <= nSpeciesSlots; ++k) {
      if (!in.species[Idx(k)].included || !HasSignalTable(k)) continue;
      float* row = currentGridPart.pppSpeciesSignal[k][s];
      for (int i = 1; i <= currentGridPart.nGridPoints; ++i) {
        sum[i] += row[i];
        row[i] = 0.0f;
      }
    }
    for (int i = 1; i <= currentGridPart.nGridPoints; ++i) sum[i] *= sum[i];
  }
}

// The species loop on DLS data: the correlation function of every included slot in
// closed form. Slot values: D (1e-7 cm^2/s), or M with "fit M and s", or the Stokes
// radius (nm) with bStokesRadii; in the cumulant analysis slot 1 holds the mean D
// and the total amplitude, slots 2-4 the higher cumulants (no species of their own).
void DLSSpeciesLoop(const ModelInput& in, LinearStepInput& step, ModelResult& result) {
  auto& modelStepsPart = ModelSteps();
  auto& dataSetPart = DataSet();
  auto& linearAmplitudesPart = LinearAmplitudes();
  auto& modelParamsPart = ModelParams();
  auto& simRunPart = SimRun();
  const ModelBranches& model = in.model;
  const int firstIncluded = FirstIncludedSlot(in);
  modelStepsPart.fLoadingFraction = 1.0f;
  bUserAbort = false;
  const bool intensityACF = !dataSetPart.pDLSInfo[1].bFieldACF;
  int included = 0;
  for (int k = 1; k <= nSpeciesSlots; ++k) included += in.species[Idx(k)].included ? 1 : 0;
  // The square of a sum is not linear in the amplitudes.
  // The analysis' switch follows (the fits read it).
  if (intensityACF && included > 1) {
    step.linearAmplitudes = modelParamsPart.bLinearAmplitudes = false;
    SignalDestinationScope::Update(step);
  }
  const int lastSpeciesSlot = model.cumulants ? 1 : nSpeciesSlots;
  if (!MakeMissingSignalTables(result, step, lastSpeciesSlot)) return;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    simRunPart.iCurrentSpecies = k;
    const ModelSpeciesValues& species = in.species[Idx(k)];
    if (!species.included || k > lastSpeciesSlot) {
      linearAmplitudesPart.pAppliedAmplitude[k] = 0.0f;
      // Slots 2-4 of the cumulant mode hold the higher cumulants, no species: a
      // table an earlier model left there must not enter the linear step.
      if (k > lastSpeciesSlot && !SignalToFitRows()) ZeroSpeciesSignal(k);
      continue;
    }
    double loading = model.cumulants ? species.amplitude : SpeciesLoading(in, k, firstIncluded, step.linearAmplitudes);
    if (step.linearAmplitudes) loading = 1.0;
    linearAmplitudesPart.pAppliedAmplitude[k] = static_cast<float>(loading);
    DlsSpecies dls;
    dls.dDlsAmplitude = loading;
    linearAmplitudesPart.bSkipLinearFit = false;
    simRunPart.dSimS = species.s;
    simRunPart.dSimD = species.D;
    // Stokes-Einstein: the slot holds the radius of the sphere in nm (a fit that
    // drives it below 0 is taken by its size).
    if (model.stokesRadii)
      simRunPart.dSimD = DFromStokesRadius(std::fabs(species.massOrD) * 1e-9f, dataSetPart.fTemperatureK - 273.15f);
    dls.D = simRunPart.dSimD;
    dls.cumulants = model.cumulants;
    if (model.cumulants) {
      dls.dDlsG1 = simRunPart.dSimD;
      dls.dDlsMu2 = in.species[2].massOrD * 1e-14;
      dls.dDlsMu3 = in.species[3].massOrD * 1e-21;
      dls.dDlsMu4 = in.species[4].massOrD * 1e-28;
    }
    if (!SignalToFitRows()) ZeroSpeciesSignal(k);
    CalculateDLSSpeciesSignal(dls);
  }
  if (intensityACF) SquareModelIntoIntensityACF(in, firstIncluded);
}

// The input's law with D in cm^2/s. The model record's D follow (the record after a
// computation holds them in cm^2/s, as the result text reads them), and a 1-2-4 or
// 1-4-8 model whose largest oligomer has no D is a constant signal (no solve).
CoefficientModelValues SingleComponentLaw(const ModelInput& in) {
  CoefficientModelValues law = in.coefficients;
  CoefficientDiffusionToCgs(law, in.model.fitMAndS, DataSet().fRT, SolventConstants().fVRho);
  auto& record = ModelOptions();
  record.fD1 = law.d1;
  record.fD2 = law.d2;
  const bool table = law.assoc148 || law.assoc124;
  if (table) {
    record.fOligoD1 = law.oligoD[0];
    record.fOligoD2 = law.oligoD[1];
    record.fOligoD3 = law.oligoD[2];
  }
  LinearAmplitudes().bSkipLinearFit = table && !(in.coefficients.oligoD[2] > 0.0f);
  return law;
}

// The start state of the single-component and reacting solves.
void ResetSingleRun(Window* window) {
  auto& lammSettingsPart = LammSettings();
  auto& simRunPart = SimRun();
  simRunPart.dSimRpm = LastRpm();
  simRunPart.bSimContinue = 1;
  simRunPart.nSimIterations = 0;
  SimClock().dSimTime = AnalysisSwitches().bInitialDataProfile ? InitialData().ScanInfoTemplate.time : 0.0;
  bUserAbort = false;
  simRunPart.dSimDt = RefinedInitialDt();
  simRunPart.pSimWindow = window;
  simRunPart.dMaxRelChange = RefinedMaxDcOverC();
  simRunPart.dMaxRelChangeLow = 0.05 * simRunPart.dMaxRelChange;
  simRunPart.dMaxRelChangeTarget = 0.2 * simRunPart.dMaxRelChange;
  simRunPart.dSimDtMax = 500.0;
  simRunPart.bSimFailed = simRunPart.bSimDiverged = 0;
  if (!SignalToFitRows()) ZeroSpeciesSignal(1);
}

// The grid of n nodes for a single-component or reacting solve refined after a
// lost balance (uniform, as PrepareSimArrays lays it); the grid size in force stays.
bool RefinedSingleRunGrid(int n, const GridCell& cell) {
  auto& lammSettingsPart = LammSettings();
  const int size = lammSettingsPart.nLammGridPoints;
  const bool laid = ResizeSimArrays(n, cell);
  lammSettingsPart.nLammGridPoints = size;
  return laid;
}

// The grid of a single-component or reacting solve after PrepareSimArrays: the
// grid size in force times the refinement (GridRefinement), for a non-ideal
// species the nodes its accuracy asks for (NonidealGridNodes); the grid size in
// force stays. False when the arrays cannot be had.
bool LayRefinedSingleRunGrid(const GridCell& cell) {
  const int base = RefinedNodeCount(LammSettings().nLammGridPoints);
  const int nodes = NonidealGridModel() ? NonidealGridNodes(base) : base;
  return LammArrays().nSimGridPointsAllocated == nodes || RefinedSingleRunGrid(nodes, cell);
}

ShowSimulationProgress MakeProgress() {
  auto& modelStepsPart = ModelSteps();
  SimProgressOptions options;
  options.liveDisplay = modelStepsPart.bLiveDisplay;
  options.firstPosition = modelStepsPart.iFirstModelScan;
  return ShowSimulationProgress(options);
}

// The buffer component added to a single-component or reacting model (slot 4's table).
void BufferAfterSingleComponent(Window* window, const ModelInput& in, ModelResult& result) {
  auto& simRunPart = SimRun();
  if (!in.model.bufferCorrection || bUserAbort) return;
  simRunPart.iCurrentSpecies = nSpeciesSlots;
  BufferSedInput buffer = in.buffer;
  buffer.toFitRows = !SignalToTables();
  const SimOutcome outcome = CalculateBufferSedimentation(buffer, InputCell(in));
  MergeModelStatus(result, ShowOutcome(window, outcome));
  simRunPart.iCurrentSpecies = 1;
}

void SingleComponentBranch(Window* window, const ModelInput& in, ModelResult& result) {
  auto& modelStepsPart = ModelSteps();
  auto& solventSettingsPart = SolventSettings();
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& lammArraysPart = LammArrays();
  auto& lammSettingsPart = LammSettings();
  auto& linearAmplitudesPart = LinearAmplitudes();
  auto& simRunPart = SimRun();
  const ModelBranches& model = in.model;
  const SingleComponentValues& single = in.single;
  if (solventSettingsPart.gInhomSolvent.bInhomogeneousSolvent)
    WarningBox("this model is not implemented yet for inhomogeneous solvent");
  if (dataSetPart.bEquilibriumMode) WarningBox("not implemented yet for sed eq data");
  simRunPart.iCurrentSpecies = 1;
  linearAmplitudesPart.pAppliedAmplitude[1] = 1.0f;
  if (lammSettingsPart.bAutoFEAlgorithm) {
    double test = single.s1;
    if (model.nonidealSpecies) test = single.s1 / (1.0 + 0.5 * single.loading * std::pow(10.0, single.logKs));
    if (test < NormalizedSThreshold(false))
      SelectClaverie(InputCell(in));
    else
      SelectMovingHat(InputCell(in));
  }
  if (!PrepareSimArrays(in)) {
    MergeModelStatus(result, ModelStatus::Failed);
    return;
  }
  // The solution on the grid the refinement in force and, for the non-ideal
  // species, its accuracy ask for.
  if (!LayRefinedSingleRunGrid(InputCell(in))) {
    MergeModelStatus(result, ModelStatus::Failed);
    return;
  }
  WriteInitialProfile(in, single.loading, 1.0);
  simRunPart.dSimRpm = LastRpm();
  // The concentration-dependent solves take the law's D in cm^2/s.
  const CoefficientModelValues law = SingleComponentLaw(in);
  if (!linearAmplitudesPart.bSkipLinearFit) {
    const SimRunSettings settings = SolveSettings(in);
    auto attempt = [&] {
      ResetSingleRun(window);
      ShowSimulationProgress progress = MakeProgress();
      progress.Start();
      SimOutcome outcome;
      const bool movingHat = !(model.assoc148 || model.assoc124) && lammSettingsPart.bMovingHat;
      SimInput input;
      if (ConcentrationDependentInput(in, settings, law, movingHat, &input, &outcome))
        outcome = movingHat ? SolveNonidealLammMovingHat(input, progress) : SolveNonidealLammClaverie(input, progress);
      if (lammSettingsPart.bMovingHat) MoveHatGrid();
      return outcome;
    };
    const SimOutcome outcome = RefineWhileBalanceLost(
        attempt(), lammArraysPart.nSimGridPointsAllocated, [&in](int n) { return RefinedSingleRunGrid(n, InputCell(in)); },
        [&] {
          WriteInitialProfile(in, single.loading, 1.0);
          return attempt();
        });
    MergeModelStatus(result, ShowOutcome(window, outcome));
  } else {
    // A constant signal: the loading everywhere.
    for (int p = modelStepsPart.iFirstModelScan; p <= dataSetPart.nScans; ++p) {
      const int s = dataSetPart.pScanOrder[Idx(p)];
      std::fill(dataSetPart.ppFit[Idx(s)] + 1, dataSetPart.ppFit[Idx(s)] + dataSetPart.pnPoints[Idx(s)] + 1, single.loading);
      if (HasSignalTable(1) && !SignalToFitRows())
        InterpolateCurveFromDouble(currentGridPart.nGridPoints, currentGridPart.pGridRadius, currentGridPart.pppSpeciesSignal[1][Idx(s)],
                                   lammArraysPart.nSimGridPointsAllocated, lammArraysPart.pLammRadius, lammArraysPart.pLammConc);
    }
  }
  simRunPart.pSimWindow = nullptr;
  BufferAfterSingleComponent(window, in, result);
}

void ReactingBranch(Window* window, const ModelInput& in, ModelResult& result) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& simRunPart = SimRun();
  if (dataSetPart.bEquilibriumMode) WarningBox("not implemented yet for sed eq data");
  simRunPart.iCurrentSpecies = 1;
  LinearAmplitudes().pAppliedAmplitude[1] = 1.0f;
  analysisSwitchesPart.bInitialDataProfile = false;
  analysisSwitchesPart.bUniformLoading = true;
  // A set-up the reacting solver cannot use, shown as its refusal.
  auto refuse = [&](const char* text) {
    SimOutcome refused;
    refused.status = SimStatus::InvalidInput;
    refused.message = text;
    MergeModelStatus(result, ShowOutcome(window, refused));
  };
  // The concentrations are the signals divided by these.
  if (!(in.reacting.exticoA > 0.0f) || !(in.reacting.exticoB > 0.0f))
    return refuse("extico a and extico b must be positive");
  if (!PrepareSimArrays(in)) {
    MergeModelStatus(result, ModelStatus::Failed);
    return;
  }
  if (!LayRefinedSingleRunGrid(InputCell(in))) {
    MergeModelStatus(result, ModelStatus::Failed);
    return;
  }
  ReactingValues values = in.reacting;
  InitReactingSystem(values);
  simRunPart.dSimRpm = LastRpm();
  // The solve takes the input's masses as D in cm^2/s; the record holds them so
  // after the computation, as the model's display reads them.
  if (!ReactingMassesToD(values, in.model.fitMAndS, dataSetPart.fRT, SolventConstants().fVRho))
    return refuse("the masses of A, B and AB must be positive");
  KeepReactingDiffusion(values);
  SimInput input;
  input.settings = SolveSettings(in);
  input.reacting = values;
  auto attempt = [&] {
    ResetSingleRun(window);
    ShowSimulationProgress progress = MakeProgress();
    progress.Start();
    return SolveReactingLamm(input, progress);
  };
  const SimOutcome outcome = RefineWhileBalanceLost(attempt(), LammArrays().nSimGridPointsAllocated,
                                                    [&in](int n) { return RefinedSingleRunGrid(n, InputCell(in)); }, [&] {
                                                      InitReactingSystem(values);
                                                      return attempt();
                                                    });
  // Every discretization error of the reacting model is shown, also during a fit.
  if (outcome.status == SimStatus::Diverged) SimulationMessages().bDiscretizationShown = false;
  MergeModelStatus(result, ShowOutcome(window, outcome));
  simRunPart.pSimWindow = nullptr;
  BufferAfterSingleComponent(window, in, result);
}

}  // namespace

void SetUpRotorRamp() {
  auto& simRunPart = SimRun();
  simRunPart.dFinalRpm = LastRpm();
  if (!AnalysisSwitches().bRampRotorSpeed || !VelocityData()) return;
  const ScanInfo& first = InfoAt(1);
  simRunPart.bAccelerating = true;
  simRunPart.dAccelEndTime = first.accelTime;
  simRunPart.dAccelRate = first.accelRate;
  simRunPart.dAccelDtMax = 10.0;
  if (simRunPart.dAccelEndTime < 10.0) {
    simRunPart.dAccelEndTime = 0.0;
    simRunPart.bAccelerating = false;
    simRunPart.dSimRpm = simRunPart.dFinalRpm;
  }
}

double NormalizedSThreshold(bool allowOptimized) {
  auto& lammSettingsPart = LammSettings();
  const double T = allowOptimized && lammSettingsPart.bOptimizeStaticGrid && lammSettingsPart.bAutoGridSize && !ModelFlags().bZoneCentrifugation
                       ? lammSettingsPart.fAutoAlgorithmSOptimized
                       : lammSettingsPart.fAutoAlgorithmS;
  const long double q = LastRpm() / 30000.0L;
  return static_cast<double>(T / (q * q));
}

SpeciesGridChoice SizeGridForSpecies(double s, double D, double meniscus, double bottom) {
  auto& modelFlagsPart = ModelFlags();
  auto& simRunPart = SimRun();
  auto& dataSetPart = DataSet();
  auto& lammSettingsPart = LammSettings();
  auto& modelComputationPart = ModelComputation();
  auto& solventConstantsPart = SolventConstants();
  SpeciesGridChoice choice;
  D = std::fabs(D);
  const double m = meniscus, b = bottom;
  if (s != 0.0) {
    const float T = dataSetPart.fTemperatureK - 273.15f;
    const float M = MFromSandD(static_cast<float>(s), static_cast<float>(D), T);
    const float f0 = CalculateF0(M, solventConstantsPart.VBAR);
    const double ratio =
        f0 > 0.0f ? CalculateFrictionCoefficient(M, static_cast<float>(s), solventConstantsPart.VBAR, solventConstantsPart.fBufferDensity) / f0
                  : 0.0;
    if (ratio < 0.5) {
      choice.noTruncation = true;
      lammSettingsPart.nLammGridPoints = RefinedNodeCount(lammSettingsPart.nDefaultGridPoints);
      ResizeSimArrays(lammSettingsPart.nLammGridPoints, {m, b});
      return choice;
    }
    choice.outflowBottom = TestShutOffBackDiffusion(s, D, m, b);
  }
  simRunPart.dSimRpm = LastRpm();
  const double omega = LastOmega();
  const double sw2 = omega * omega * std::fabs(s) * 1e-13;
  // r*: the first point inside the fit limits of scan 1 (its last point when none
  // lies inside).
  double rStar = dataSetPart.ppRadius[1][std::clamp(dataSetPart.pFitFirst[1], 1, dataSetPart.pnPoints[1])];
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
    tStar = InfoAt(dataSetPart.nScans).time;
  }
  const double sigma = std::max(std::sqrt(D * tStar), 0.001);
  // A refinement in force (GridRefinement) puts that many times the points across it.
  const double pointsPerSigma = static_cast<double>(lammSettingsPart.fPointsPerSigma) * GridRefinement();
  const double h = sigma / pointsPerSigma;
  // Every count above the upper limit ends as that limit: the count starts no higher
  // than one above it, which keeps the search below short whatever the settings
  // and the cell.
  const double ceiling = static_cast<double>(std::min(RefinedNodeCount(lammSettingsPart.nGridSizeUpper), kMaxSimGridPoints)) + 1;
  double equidistant = std::floor((b - m) * pointsPerSigma / sigma);
  if (!(equidistant <= ceiling)) equidistant = ceiling;
  if (equidistant < 0) equidistant = 0;  // a cell upside down: the lower limit
  const int N0 = static_cast<int>(equidistant);
  modelComputationPart.nStaticGridEstimate = N0;
  modelComputationPart.fOptimizeRadius = rStar;
  // The moving-hat count: the second interval m (q^(1.5/(N-1)) - q^(0.5/(N-1)))
  // should just exceed the spacing h.
  const double q = b / m;
  int N = N0;
  while (N > RefinedNodeCount(lammSettingsPart.nGridSizeLower)) {
    const double d = m * (std::pow(q, 1.5 / (N - 1)) - std::pow(q, 0.5 / (N - 1)));
    if (d > h) {
      ++N;
      break;
    }
    --N;
  }
  modelComputationPart.nHatGridEstimate = N;
  lammSettingsPart.nLammGridPoints = ClampGrid(lammSettingsPart.bMovingHat ? modelComputationPart.nHatGridEstimate : N0);
  if (lammSettingsPart.bClaverie && lammSettingsPart.bOptimizeStaticGrid && choice.outflowBottom && !modelFlagsPart.bZoneCentrifugation) {
    ResizeSimArrays(lammSettingsPart.nLammGridPoints, {m, b});
    OptimizeStaticGridSize(rStar, {m, b});
  } else {
    ResizeSimArrays(lammSettingsPart.nLammGridPoints, {m, b});
  }
  return choice;
}

ModelResult CalculateModel(Window* window, const ModelInput& in) {
  auto& dataSetPart = DataSet();
  auto& modelStepsPart = ModelSteps();
  const ModelBranches& model = in.model;
  // A non-ideal solution is computed on the grid its accuracy asks for: the check
  // computes the model on that grid and finer ones (nonideal_grid.h).
  thread_local bool checking = false;  // this call stack is the check's own
  if (!checking && NonidealGridModel()) {
    checking = true;
    const ModelResult result = ComputeOnAccurateNonidealGrid([window, &in] { return CalculateModel(window, in); });
    checking = false;
    return result;
  }
  ModelResult result;
  if (dataSetPart.nScans < 1) {
    result.status = ModelStatus::NotStarted;
    return result;
  }
  // Faxen-type boundaries are closed forms of the species loop: the solver objects
  // would ignore the choice and solve the Lamm equation instead.
  const bool solverObjects = (model.discrete && !model.bufferCorrection && !dataSetPart.bDLSData &&
                              !dataSetPart.bEquilibriumMode && !AnalysisSwitches().bInitialDataProfile &&
                              !model.c1Nonideal && !model.faxen) ||
                             (model.nonIdealMultiple && !dataSetPart.bDLSData);
  // The Lamm solutions of velocity data end only with usable step controls.
  if (!dataSetPart.bDLSData && !dataSetPart.bEquilibriumMode && !CheckStepControls(result)) return result;
  if (solverObjects) return CalculateSpeciesModelCL(window, in);
  // Correlation functions have no cell geometry and need no Lamm solution; each
  // needs its record.
  const bool dls = dataSetPart.bDLSData;
  if (dls ? dataSetPart.pDLSInfo.size() <= Idx(dataSetPart.nScans) : !CheckMeniscusAndBottom(result, in.meniscus, in.bottom)) {
    result.status = ModelStatus::NotStarted;
    return result;
  }
  // Everything below takes the input's values: the grid its cell (InputCell), the
  // coefficient laws, the reacting system and the buffer component theirs, the
  // linear step its switches, slots and baseline, and the signals go where its
  // switches send them. The analysis' model is not read, and its vector and
  // amplitudes are not written (the step's values are the result's).
  LinearStepInput step = LinearStepInputOf(in);
  const SignalDestinationScope destination(step);
  OpenDetectionBracket();
  if (!dls && !PrepareSimArrays(in)) {
    CloseDetectionBracket();
    result.status = ModelStatus::NotStarted;
    return result;
  }
  SetDefaultFitLimitsWhenUnset(in.meniscus, in.bottom);
  TakeInitialDistribution(in);
  ZeroFitRows(modelStepsPart.iFirstModelScan);
  if (modelStepsPart.bLiveDisplay) RepaintMain(window);
  SetUpRotorRamp();

  if (dls) {
    // Only the non-interacting species have a correlation function; any other model
    // leaves the fit rows at 0.
    if (model.discrete) DLSSpeciesLoop(in, step, result);
  } else if (model.discrete) {
    SpeciesLoop(window, in, step, result);
  } else if (model.SingleComponent()) {
    SingleComponentBranch(window, in, result);
  } else if (model.reacting) {
    ReactingBranch(window, in, result);
  }
  SimRun().pSimWindow = nullptr;
  if (bUserAbort) MergeModelStatus(result, ModelStatus::Interrupted);
  FinishModelComputation(window, result, modelStepsPart.iFirstModelScan, step);
  return result;
}

void ResetModelComputation() {
  auto& modelComputationPart = ModelComputation();
  auto& modelStepsPart = ModelSteps();
  FreeInitialDistribution();
  modelComputationPart.nStaticGridEstimate = 0;
  modelComputationPart.nHatGridEstimate = 0.0;
  modelComputationPart.fOptimizeRadius = 0.0;
  modelStepsPart.bLiveDisplay = false;
  modelStepsPart.iFirstModelScan = 1;
  modelStepsPart.fLoadingFraction = 1.0f;
  modelStepsPart.iSignalDestination = -1;
}

}  // namespace tarmic
