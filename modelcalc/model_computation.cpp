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


int nStaticGridEstimate = 0;
double nHatGridEstimate = 0.0;
double fOptimizeRadius = 0.0;

void FreeInitialDistribution() {
  FreeInitialData();
  InitialScanInfo = ScanInfo{};
  bFirstScanIsInitial = false;
}

namespace {

constexpr double kTwoR = 1.6628944e8;  // 2 R, erg/(mol K)

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

const ScanInfo& InfoAt(int position) { return pScanInfo[Idx(pScanOrder[Idx(position)])]; }
double LastRpm() { return InfoAt(nScans).rpm; }
double LastOmega() { return LastRpm() * kTwoPiOver60; }
bool VelocityData() { return !bDLSData && !bEquilibriumMode; }

void WarningBox(const char* text) { ShowComputationNote(text, "", MB_OK | MB_ICONEXCLAMATION); }

// ---- algorithm choice (a lasting change of the user's option) ----

void SelectClaverie() {
  if (bClaverie) return;
  bClaverie = true;
  bFixTimeStep = false;
  bMovingHat = false;
  ResizeSimArrays(nLammGridPoints);
}

void SelectMovingHat() {
  if (bMovingHat) return;
  bClaverie = false;
  bMovingHat = true;
  bAutoSGrid = true;
  ResizeSimArrays(nLammGridPoints);
}

// |s| below the threshold: static grid; above: moving hat; at equality no change.
void ChooseAlgorithm(double sAbs, double threshold) {
  if (sAbs < threshold && !bClaverie) SelectClaverie();
  if (sAbs > threshold && !bMovingHat) SelectMovingHat();
}

int ClampGrid(double n) {
  const int lower = nGridSizeLower, upper = nGridSizeUpper;
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
  if (!bSimArraysAllocated || !SimArraysMatchModel()) {
    AllocSimArrays();
  } else if (bMovingHat && !pLammRadius2) {
    ResizeSimArrays(nLammGridPoints);
  }
  if (bSimArraysAllocated && std::fabs(pLammRadius[1] - fMeniscus) > 1e-5) BuildLammGrid();
  return bSimArraysAllocated;
}

// The first scan becomes the initial distribution when none is loaded.
void TakeInitialDistribution() {
  if (!bExperimentalInitialDistribution) {
    bFirstScanIsInitial = false;
    return;
  }
  const int s = pScanOrder[1];
  if (nInitialPoints == 0) {
    const int n = pnPoints[Idx(s)];
    bFirstScanIsInitial = true;
    // The models start from concentration: intensity data from their absorbance.
    const std::vector<float> absorbance = bIntensityData ? ScanAbsorbance(s) : std::vector<float>{};
    SetInitialProfile(n, ppRadius[Idx(s)], bIntensityData ? absorbance.data() : ppSignal[Idx(s)],
                      pScanInfo[Idx(s)]);
  }
  // The ends outside the fit limits follow the limits as they are now.
  ExtrapolateInitialData(fBaseline);
  iFirstModelScan = 1;
  if (bFirstScanIsInitial) {
    iFirstModelScan = 2;
    std::copy(ppSignal[Idx(s)] + 1, ppSignal[Idx(s)] + pnPoints[Idx(s)] + 1, ppFit[Idx(s)] + 1);
  }
}

// Initial profile of slot k on the Lamm grid.
void WriteInitialProfile(double loading, double scale) {
  const int N = nSimGridPointsAllocated;
  if (bExperimentalInitialDistribution && nInitialPoints > 1) {
    InterpolateCurveToDouble(N, pLammRadius, pLammConc, nInitialPoints, pInitialRadius.data(),
                             pInitialSignal.data());
    for (int i = 1; i <= N; ++i) pLammConc[i] = std::max(0.0, pLammConc[i] - fBaseline) * scale;
    return;
  }
  if (!bUniformLoading) return;
  const double edge = pLammRadius[1] + fLamellaWidth;
  for (int i = 1; i <= N; ++i) {
    double v = loading;
    if (bZoneCentrifugation) {
      const bool inLamella = bZoneInverseLayer ? !(pLammRadius[i] < edge) : pLammRadius[i] <= edge;
      if (!inLamella) v = 0.0;
    }
    pLammConc[i] = v;
  }
}

// ---- one propagator run ----

class SpeciesRun {
 public:
  SpeciesRun(Window* window, int k, double loading) : window_(window), k_(k), loading_(loading) {}

  // The start state of a run: rotor, time, step, error limits, flags.
  void ResetState(double startTime, bool keepAcceleration) {
    dSimRpm = LastRpm();
    bSimContinue = 1;
    nSimIterations = 0;
    dSimTime = startTime;
    bUserAbort = false;
    dSimDt = dInitialDt;
    pSimWindow = window_;
    if (!keepAcceleration && bRampRotorSpeed && VelocityData()) {
      bAccelerating = true;
      if (dAccelEndTime < 10.0) {
        dAccelEndTime = 0.0;
        bAccelerating = false;
      }
    }
    dMaxRelChange = dMaxDcOverC;
    dMaxRelChangeLow = 0.05 * dMaxDcOverC;
    dMaxRelChangeTarget = 0.2 * dMaxDcOverC;
    bSimFailed = bSimDiverged = 0;
    // A signal table row the run does not reach must not keep older values.
    if (!SignalToFitRows()) ZeroSpeciesSignal(k_);
  }

  // One run of the chosen propagator from the prepared state.
  SimOutcome Run(const SimRunSettings& settings, bool concDependent) {
    SimProgressOptions options;
    options.liveDisplay = bLiveDisplay;
    options.firstPosition = iFirstModelScan;
    ShowSimulationProgress progress(options);
    progress.Start();
    SimOutcome outcome;
    if (concDependent) {
      outcome = bMovingHat ? SolveNonidealLammMovingHat(settings, progress)
                           : SolveNonidealLammClaverie(settings, progress);
    } else if (bMovingHat) {
      outcome = SolveLammMovingHat(settings, {dSimS, dSimD}, progress);
      MoveHatGrid();
    } else if (bClaverie) {
      outcome = SolveLammClaverie(settings, {dSimS, dSimD}, progress);
    }
    return outcome;
  }

  // The time the solution starts at: the start-time offset, else the time of an
  // experimental initial distribution, else 0.
  static double StartTime() {
    if (bTimeOffset) return fTimeOffset;
    return bExperimentalInitialDistribution ? InitialScanInfo.time : 0.0;
  }

  // A retry attempt: the loading again, the start time of the first attempt (a
  // retry from 0 put a species with a start-time offset that much later than the
  // others) and the fit as before the first attempt.
  SimOutcome Retry(const SimRunSettings& settings) {
    WriteInitialProfile(loading_, fLoadingFraction);
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
    if (SignalToFitRows()) snapshot_.Take(iFirstModelScan);
    ResetState(StartTime(), false);
    const int nodes = nSimGridPointsAllocated;
    auto first = [&] {
      SimOutcome result;
      if (c1Nonideal) {
        bNonidealSpecies = true;
        fS1 = static_cast<float>(dSimS);
        fD1 = static_cast<float>(dSimD);
        result = Run(settings, true);
        if (bMovingHat) MoveHatGrid();
        bNonidealSpecies = false;
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
      const int size = nLammGridPoints;
      const SimOutcome refined = RefineWhileBalanceLost(
          failed, nodes,
          [&](int n) {
            // The non-ideal solve of slot 1 needs the concentration-dependent block.
            const bool nonideal = bNonidealSpecies;
            bNonidealSpecies = nonideal || c1Nonideal;
            const bool laid = ResizeSimArrays(n);
            bNonidealSpecies = nonideal;
            if (!laid) return false;
            if (regrade_) regrade_();
            return true;
          },
          [&] {
            WriteInitialProfile(loading_, fLoadingFraction);
            ResetState(StartTime(), false);
            snapshot_.Restore();
            return first();
          });
      if (c1Nonideal || nLammGridPoints != size) ResizeSimArrays(size);
      return refined;
    };
    // The retries below solve the ideal equation: a non-ideal species has none of
    // them and is refined at once.
    if (outcome.refinable && (!outcome.retryFirst || c1Nonideal) && !bUserAbort)
      return refine(outcome);
    if (c1Nonideal) {
      ResizeSimArrays(nLammGridPoints);
      return outcome;
    }
    const bool failed = bSimDiverged || bSimFailed;
    if (!failed || bUserAbort || bExperimentalInitialDistribution || !bUniformLoading ||
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
    if ((bSimDiverged || bSimFailed) && !bUserAbort && bClaverie) {
      bClaverie = false;
      bMovingHat = true;
      ResizeSimArrays(ClampGrid(nHatGridEstimate > 0 ? nHatGridEstimate : nLammGridPoints));
      outcome = Retry(settings);
      bClaverie = true;
      bMovingHat = false;
      settings.fixTimestep = false;
      if (bOptimizeStaticGrid && TestShutOffBackDiffusion(dSimS, dSimD) && !bZoneCentrifugation &&
          nStaticGridEstimate > 0) {
        nLammGridPoints = nStaticGridEstimate;
        ResizeSimArrays(nLammGridPoints);
        OptimizeStaticGridSize(fOptimizeRadius);
      } else {
        ResizeSimArrays(ClampGrid(nStaticGridEstimate > 0 ? nStaticGridEstimate : nLammGridPoints));
      }
    }
    if ((bSimDiverged || bSimFailed) && !bUserAbort) {
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
  settings.outflowBottom = TestShutOffBackDiffusion(dSimS, dSimD);
  settings.noTruncation = grid.noTruncation;
  SpeciesRun run(window, k, loading);
  if (!settings.outflowBottom && bUniformLoading && !bZoneCentrifugation && dSimS > 0) {
    // sigma_b = Mb w^2 / (2 R T): the reduced molar mass of the equilibrium at the bottom.
    const double T = InfoAt(nScans).temperature + 273.15;
    const double w = LastOmega();
    const double sigma = w * w / (T * kTwoR) * (T * 1e-13 * dSimS * kGasConstant / dSimD);
    RefineGridAtBottom(sigma);
    run.SetRegrade([sigma] { RefineGridAtBottom(sigma); });
  }
  const SimOutcome outcome = run.Solve(settings, k == 1 && bC1Nonideal);
  return ShowOutcome(window, outcome);
}

// ---- the three branches ----

ModelStatus SpeciesSlot(Window* window, int k, int firstIncluded) {
  const double s = pSpeciesS[k];
  const bool included = pSpeciesIncluded[k] != 0;
  const bool velocity = VelocityData();
  if (velocity && bAutoFEAlgorithm) {
    // The concentration-dependent moving grid has no frame moving inward: a
    // floating non-ideal species stays on the static grid.
    if (k == 1 && bC1Nonideal && s < 0.0)
      ChooseAlgorithm(0.0, 1.0);
    else
      ChooseAlgorithm(std::fabs(s), NormalizedSThreshold(true));
  }
  SpeciesGridChoice grid;
  if (included) {
    if (!bAutoGridSize || !velocity || bZoneCentrifugation || pSpeciesMassOrD[k] <= 0)
      ResizeSimArrays(nDefaultGridPoints);
    else
      grid = SizeGridForSpecies(s, SpeciesDiffusion(k));
  }
  if (velocity && bRampRotorSpeed && bClaverie && !bAutoFEAlgorithm) {
    const double T = bOptimizeStaticGrid && bAutoGridSize ? fAutoAlgorithmSOptimized : fAutoAlgorithmS;
    const long double q = LastRpm() / 30000.0L;
    if (std::fabs(s) > static_cast<double>(T / (q * q))) dAccelDtMax = 1.0;
  }
  if (!included) {
    pAppliedAmplitude[k] = 0.0f;
    return ModelStatus::Computed;
  }
  const double loading = SpeciesLoading(k, firstIncluded);
  pAppliedAmplitude[k] = static_cast<float>(loading);
  if (k == 1 && bC1Nonideal) {
    // The concentration-dependent block of the arrays for the solve of slot 1, on
    // the grid its accuracy asks for.
    bNonidealSpecies = true;
    ResizeSimArrays(NonidealGridNodes(nLammGridPoints));
    bNonidealSpecies = false;
  }
  if (!bSimArraysAllocated) return ModelStatus::Failed;
  WriteInitialProfile(loading, fLoadingFraction);

  const double massOrD = pSpeciesMassOrD[k];
  if (s == 0.0 && massOrD == 0.0) {
    // A constant species: its loading everywhere.
    bSkipLinearFit = true;
    ClosedFormSignal(k, [&](int, double, const float* r, float* out, int n) {
      if (r == pGridRadius)
        InterpolateCurveFromDouble(n, r, out, nSimGridPointsAllocated, pLammRadius, pLammConc);
      else
        for (int j = 1; j <= n; ++j) out[j] = static_cast<float>(loading);
    });
    return ModelStatus::Computed;
  }
  if (velocity && massOrD == 0.0 && bUniformLoading) {
    // A non-diffusing species: a sharp boundary with radial dilution.
    if (gInhomSolvent.bInhomogeneousSolvent && !gInhomSolvent.bCompressibleSolvent)
      WarningBox("D = 0 or s = 0 models are not implemented yet for inhomogeneous solvent");
    dSimRpm = LastRpm();
    dStepSw2 = LastOmega() * LastOmega() * s * 1e-13;
    if (gInhomSolvent.bCompressibleSolvent) dSimS = s;
    // Sedimentation starts at the start-time offset, as in the Lamm solutions.
    const double t0 = bTimeOffset ? fTimeOffset : 0.0;
    ClosedFormSignal(k, [&](int, double t, const float* r, float* out, int n) {
      StepBoundaryProfile(static_cast<float>(loading), t - t0, r, out, n);
    });
    return ModelStatus::Computed;
  }
  bSkipLinearFit = false;
  dSimD = SpeciesDiffusion(k);
  dSimS = s;
  // The Faxen-type closed form describes a boundary leaving the meniscus and the
  // plateau ahead of it: sedimentation only. A floating species (s < 0) depletes
  // the bottom and piles up at the meniscus, which only the Lamm equation gives.
  if (bFaxenApproximation && s >= 0.0) {
    dSimRpm = LastRpm();
    const double sw2 = LastOmega() * LastOmega() * s * 1e-13;
    ClosedFormSignal(k, [&](int, double t, const float* r, float* out, int n) {
      ErfcBoundaryProfile(static_cast<float>(loading), t, r, out, n, static_cast<float>(sw2),
                          static_cast<float>(dSimD), fMeniscus);
    });
    return ModelStatus::Computed;
  }
  if (velocity) return LammSpecies(window, k, loading, grid);
  if (bEquilibriumMode) {
    // Buoyant molar mass Mb = s R T / D, or (1 - vbar rho) M.
    double Mb = 0.0;
    if (bFitMAndS)
      Mb = (1.0 - fVRho) * massOrD;
    else if (massOrD > 0.0)
      Mb = std::fabs(s) * 1e-6 * fRT / massOrD;
    CalculateSedEqSpeciesSignal(Mb, loading, ModelDetectionCorrections());
  }
  return ModelStatus::Computed;
}

void SpeciesLoop(Window* window, ModelResult& result) {
  if (!MakeMissingSignalTables(result, nSpeciesSlots)) return;
  const int firstIncluded = FirstIncludedSlot();
  fLoadingFraction = 1.0f;
  bUserAbort = false;
  for (int k = 1; k <= nSpeciesSlots && !bUserAbort; ++k) {
    iCurrentSpecies = k;
    const ModelStatus status = bBufferSedCorrection && k == nSpeciesSlots
                                   ? SolveBufferSlot(window, k)
                                   : SpeciesSlot(window, k, firstIncluded);
    MergeModelStatus(result, status);
    pSimWindow = nullptr;
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
    for (int p = iFirstModelScan; p <= nScans; ++p) {
      const std::size_t s = Idx(pScanOrder[Idx(p)]);
      for (int j = 1; j <= pnPoints[s]; ++j) ppFit[s][j] *= ppFit[s][j];
    }
    return;
  }
  if (firstIncluded < 1 || !HasSignalTable(firstIncluded)) return;
  for (int p = iFirstModelScan; p <= nScans; ++p) {
    const std::size_t s = Idx(pScanOrder[Idx(p)]);
    float* sum = pppSpeciesSignal[firstIncluded][s];
    for (int k = firstIncluded + 1; k <= nSpeciesSlots; ++k) {
      if (!pSpeciesIncluded[k] || !HasSignalTable(k)) continue;
      float* row = pppSpeciesSignal[k][s];
      for (int i = 1; i <= nGridPoints; ++i) {
        sum[i] += row[i];
        row[i] = 0.0f;
      }
    }
    for (int i = 1; i <= nGridPoints; ++i) sum[i] *= sum[i];
  }
}

// The species loop on DLS data: the correlation function of every included slot in
// closed form. Slot values: D (1e-7 cm^2/s), or M with "fit M and s", or the Stokes
// radius (nm) with bStokesRadii; in the cumulant analysis slot 1 holds the mean D
// and the total amplitude, slots 2-4 the higher cumulants (no species of their own).
void DLSSpeciesLoop(ModelResult& result) {
  const int firstIncluded = FirstIncludedSlot();
  fLoadingFraction = 1.0f;
  bUserAbort = false;
  const bool intensityACF = !pDLSInfo[1].bFieldACF;
  int included = 0;
  for (int k = 1; k <= nSpeciesSlots; ++k) included += pSpeciesIncluded[k] ? 1 : 0;
  // The square of a sum is not linear in the amplitudes.
  if (intensityACF && included > 1) bLinearAmplitudes = false;
  const int lastSpeciesSlot = bCumulants ? 1 : nSpeciesSlots;
  if (!MakeMissingSignalTables(result, lastSpeciesSlot)) return;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    iCurrentSpecies = k;
    if (!pSpeciesIncluded[k] || k > lastSpeciesSlot) {
      pAppliedAmplitude[k] = 0.0f;
      // Slots 2-4 of the cumulant mode hold the higher cumulants, no species: a
      // table an earlier model left there must not enter the linear step.
      if (k > lastSpeciesSlot && !SignalToFitRows()) ZeroSpeciesSignal(k);
      continue;
    }
    double loading = bCumulants ? pSpeciesAmplitude[k] : SpeciesLoading(k, firstIncluded);
    if (bLinearAmplitudes) loading = 1.0;
    pAppliedAmplitude[k] = static_cast<float>(loading);
    DlsSpecies species;
    species.dDlsAmplitude = loading;
    bSkipLinearFit = false;
    dSimS = pSpeciesS[k];
    dSimD = SpeciesDiffusion(k);
    // Stokes-Einstein: the slot holds the radius of the sphere in nm (a fit that
    // drives it below 0 is taken by its size).
    if (bStokesRadii)
      dSimD = DFromStokesRadius(std::fabs(pSpeciesMassOrD[k]) * 1e-9f, fTemperatureK - 273.15f);
    species.D = dSimD;
    species.cumulants = bCumulants;
    if (bCumulants) {
      species.dDlsG1 = dSimD;
      species.dDlsMu2 = pSpeciesMassOrD[2] * 1e-14;
      species.dDlsMu3 = pSpeciesMassOrD[3] * 1e-21;
      species.dDlsMu4 = pSpeciesMassOrD[4] * 1e-28;
    }
    if (!SignalToFitRows()) ZeroSpeciesSignal(k);
    CalculateDLSSpeciesSignal(species);
  }
  if (intensityACF) SquareModelIntoIntensityACF(firstIncluded);
}

// D of the self-association and non-ideal records in cm^2/s, in place.
void SingleComponentDiffusion() {
  auto fromMass = [](float s, float M) {
    return static_cast<float>(s * 1e-13 * fRT / ((1.0 - fVRho) * (M > 0.0f ? M : 1e-10)));
  };
  // The oligomers of the 1-2-4 and 1-4-8 models are given by their masses in
  // either parametrisation (the oligomers' are multiples of the monomer's).
  const bool table = bAssoc148 || bAssoc124;
  bSkipLinearFit = table && !(fOligoD3 > 0.0f);
  if (table) {
    if (fOligoD1 > 0.0f) fOligoD1 = fromMass(fOligoS1, fOligoD1);
    if (fOligoD2 > 0.0f) fOligoD2 = fromMass(fOligoS2, fOligoD2);
    if (fOligoD3 > 0.0f) fOligoD3 = fromMass(fOligoS3, fOligoD3);
  }
  if (!bFitMAndS) {
    fD1 *= 1e-7f;
    fD2 *= 1e-7f;
    return;
  }
  fD1 = fromMass(fS1, fD1);
  fD2 = fromMass(fS2, fD2);
}

// The start state of the single-component and reacting solves.
void ResetSingleRun(Window* window) {
  dSimRpm = LastRpm();
  bSimContinue = 1;
  nSimIterations = 0;
  dSimTime = bExperimentalInitialDistribution ? InitialScanInfo.time : 0.0;
  bUserAbort = false;
  dSimDt = dInitialDt;
  pSimWindow = window;
  dMaxRelChange = dMaxDcOverC;
  dMaxRelChangeLow = 0.05 * dMaxDcOverC;
  dMaxRelChangeTarget = 0.2 * dMaxDcOverC;
  dSimDtMax = 500.0;
  bSimFailed = bSimDiverged = 0;
  if (!SignalToFitRows()) ZeroSpeciesSignal(1);
}

// The grid of n nodes for a single-component or reacting solve refined after a
// lost balance (uniform, as PrepareSimArrays lays it); the grid size in force stays.
bool RefinedSingleRunGrid(int n) {
  const int size = nLammGridPoints;
  const bool laid = ResizeSimArrays(n);
  nLammGridPoints = size;
  return laid;
}

ShowSimulationProgress MakeProgress() {
  SimProgressOptions options;
  options.liveDisplay = bLiveDisplay;
  options.firstPosition = iFirstModelScan;
  return ShowSimulationProgress(options);
}

// The buffer component added to a single-component or reacting model (slot 4's table).
void BufferAfterSingleComponent(Window* window, ModelResult& result) {
  if (!bBufferSedCorrection || bUserAbort) return;
  iCurrentSpecies = nSpeciesSlots;
  const SimOutcome outcome = CalculateBufferSedimentation(window);
  MergeModelStatus(result, ShowOutcome(window, outcome));
  iCurrentSpecies = 1;
}

void SingleComponentBranch(Window* window, ModelResult& result) {
  if (gInhomSolvent.bInhomogeneousSolvent)
    WarningBox("this model is not implemented yet for inhomogeneous solvent");
  if (bEquilibriumMode) WarningBox("not implemented yet for sed eq data");
  iCurrentSpecies = 1;
  pAppliedAmplitude[1] = 1.0f;
  if (bAutoFEAlgorithm) {
    double test = fS1;
    if (bNonidealSpecies) test = fS1 / (1.0 + 0.5 * fAssocLoading * std::pow(10.0, fLogKs));
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
  if (NonidealGridModel() && nSimGridPointsAllocated != NonidealGridNodes(nLammGridPoints) &&
      !RefinedSingleRunGrid(NonidealGridNodes(nLammGridPoints))) {
    MergeModelStatus(result, ModelStatus::Failed);
    return;
  }
  WriteInitialProfile(fAssocLoading, 1.0);
  dSimRpm = LastRpm();
  SingleComponentDiffusion();
  if (!bSkipLinearFit) {
    const SimRunSettings settings = CurrentSimRunSettings();
    auto attempt = [&] {
      ResetSingleRun(window);
      ShowSimulationProgress progress = MakeProgress();
      progress.Start();
      SimOutcome outcome;
      if (bAssoc148 || bAssoc124 || !bMovingHat)
        outcome = SolveNonidealLammClaverie(settings, progress);
      else
        outcome = SolveNonidealLammMovingHat(settings, progress);
      if (bMovingHat) MoveHatGrid();
      return outcome;
    };
    const SimOutcome outcome = RefineWhileBalanceLost(
        attempt(), nSimGridPointsAllocated, RefinedSingleRunGrid,
        [&] {
          WriteInitialProfile(fAssocLoading, 1.0);
          return attempt();
        });
    MergeModelStatus(result, ShowOutcome(window, outcome));
  } else {
    // A constant signal: the loading everywhere.
    for (int p = iFirstModelScan; p <= nScans; ++p) {
      const int s = pScanOrder[Idx(p)];
      std::fill(ppFit[Idx(s)] + 1, ppFit[Idx(s)] + pnPoints[Idx(s)] + 1, fAssocLoading);
      if (HasSignalTable(1) && !SignalToFitRows())
        InterpolateCurveFromDouble(nGridPoints, pGridRadius, pppSpeciesSignal[1][Idx(s)],
                                   nSimGridPointsAllocated, pLammRadius, pLammConc);
    }
  }
  pSimWindow = nullptr;
  BufferAfterSingleComponent(window, result);
}

void ReactingBranch(Window* window, ModelResult& result) {
  if (bEquilibriumMode) WarningBox("not implemented yet for sed eq data");
  iCurrentSpecies = 1;
  pAppliedAmplitude[1] = 1.0f;
  bExperimentalInitialDistribution = false;
  bUniformLoading = true;
  // A set-up the reacting solver cannot use, shown as its refusal.
  auto refuse = [&](const char* text) {
    SimOutcome refused;
    refused.status = SimStatus::InvalidInput;
    refused.message = text;
    MergeModelStatus(result, ShowOutcome(window, refused));
  };
  // The concentrations are the signals divided by these.
  if (!(fReactExticoA > 0.0f) || !(fReactExticoB > 0.0f))
    return refuse("extico a and extico b must be positive");
  if (!PrepareSimArrays()) {
    MergeModelStatus(result, ModelStatus::Failed);
    return;
  }
  InitReactingSystem();
  dSimRpm = LastRpm();
  if (!ReactingMassesToD(bFitMAndS, fRT, fVRho))
    return refuse("the masses of A, B and AB must be positive");
  const SimRunSettings settings = CurrentSimRunSettings();
  auto attempt = [&] {
    ResetSingleRun(window);
    ShowSimulationProgress progress = MakeProgress();
    progress.Start();
    return SolveReactingLamm(settings, progress);
  };
  const SimOutcome outcome = RefineWhileBalanceLost(attempt(), nSimGridPointsAllocated,
                                                    RefinedSingleRunGrid, [&] {
                                                      InitReactingSystem();
                                                      return attempt();
                                                    });
  // Every discretization error of the reacting model is shown, also during a fit.
  if (outcome.status == SimStatus::Diverged) bDiscretizationShown = false;
  MergeModelStatus(result, ShowOutcome(window, outcome));
  pSimWindow = nullptr;
  BufferAfterSingleComponent(window, result);
}

}  // namespace

void SetUpRotorRamp() {
  dFinalRpm = LastRpm();
  if (!bRampRotorSpeed || !VelocityData()) return;
  const ScanInfo& first = InfoAt(1);
  bAccelerating = true;
  dAccelEndTime = first.accelTime;
  dAccelRate = first.accelRate;
  dAccelDtMax = 10.0;
  if (dAccelEndTime < 10.0) {
    dAccelEndTime = 0.0;
    bAccelerating = false;
    dSimRpm = dFinalRpm;
  }
}

double NormalizedSThreshold(bool allowOptimized) {
  const double T = allowOptimized && bOptimizeStaticGrid && bAutoGridSize && !bZoneCentrifugation
                       ? fAutoAlgorithmSOptimized
                       : fAutoAlgorithmS;
  const long double q = LastRpm() / 30000.0L;
  return static_cast<double>(T / (q * q));
}

SpeciesGridChoice SizeGridForSpecies(double s, double D) {
  SpeciesGridChoice choice;
  D = std::fabs(D);
  const double m = fMeniscus, b = fBottom;
  if (s != 0.0) {
    const float T = fTemperatureK - 273.15f;
    const float M = MFromSandD(static_cast<float>(s), static_cast<float>(D), T);
    const float f0 = CalculateF0(M, VBAR);
    const double ratio =
        f0 > 0.0f ? CalculateFrictionCoefficient(M, static_cast<float>(s), VBAR, fBufferDensity) / f0
                  : 0.0;
    if (ratio < 0.5) {
      choice.noTruncation = true;
      nLammGridPoints = nDefaultGridPoints;
      ResizeSimArrays(nLammGridPoints);
      return choice;
    }
    choice.outflowBottom = TestShutOffBackDiffusion(s, D);
  }
  dSimRpm = LastRpm();
  const double omega = LastOmega();
  const double sw2 = omega * omega * std::fabs(s) * 1e-13;
  // r*: the first point inside the fit limits of scan 1 (its last point when none
  // lies inside).
  double rStar = ppRadius[1][std::clamp(pFitFirst[1], 1, pnPoints[1])];
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
    tStar = InfoAt(nScans).time;
  }
  const double sigma = std::max(std::sqrt(D * tStar), 0.001);
  const double h = sigma / fPointsPerSigma;
  // Every count above the upper limit ends as that limit: the count starts no higher
  // than one above it, which keeps the search below short whatever the settings
  // and the cell.
  const double ceiling = static_cast<double>(std::min(nGridSizeUpper, kMaxSimGridPoints)) + 1;
  double equidistant = std::floor((b - m) * fPointsPerSigma / sigma);
  if (!(equidistant <= ceiling)) equidistant = ceiling;
  if (equidistant < 0) equidistant = 0;  // a cell upside down: the lower limit
  const int N0 = static_cast<int>(equidistant);
  nStaticGridEstimate = N0;
  fOptimizeRadius = rStar;
  // The moving-hat count: the second interval m (q^(1.5/(N-1)) - q^(0.5/(N-1)))
  // should just exceed the spacing h.
  const double q = b / m;
  int N = N0;
  while (N > nGridSizeLower) {
    const double d = m * (std::pow(q, 1.5 / (N - 1)) - std::pow(q, 0.5 / (N - 1)));
    if (d > h) {
      ++N;
      break;
    }
    --N;
  }
  nHatGridEstimate = N;
  nLammGridPoints = ClampGrid(bMovingHat ? nHatGridEstimate : N0);
  if (bClaverie && bOptimizeStaticGrid && choice.outflowBottom && !bZoneCentrifugation) {
    ResizeSimArrays(nLammGridPoints);
    OptimizeStaticGridSize(rStar);
  } else {
    ResizeSimArrays(nLammGridPoints);
  }
  return choice;
}

ModelResult CalculateModel(Window* window) {
  // A non-ideal solution is computed on the grid its accuracy asks for: the check
  // computes the model on that grid and finer ones (nonideal_grid.h).
  static bool checking = false;
  if (!checking && NonidealGridModel()) {
    checking = true;
    const ModelResult result = ComputeOnAccurateNonidealGrid([window] { return CalculateModel(window); });
    checking = false;
    return result;
  }
  ModelResult result;
  if (nScans < 1) {
    result.status = ModelStatus::NotStarted;
    return result;
  }
  // Faxen-type boundaries are closed forms of the species loop: the solver objects
  // would ignore the choice and solve the Lamm equation instead.
  const bool solverObjects = (bDiscreteModel && !bBufferSedCorrection && !bDLSData &&
                              !bEquilibriumMode && !bExperimentalInitialDistribution &&
                              !bC1Nonideal && !bFaxenApproximation) ||
                             (bNonIdealMultiple && !bDLSData);
  // The Lamm solutions of velocity data end only with usable step controls.
  if (!bDLSData && !bEquilibriumMode && !CheckStepControls(result)) return result;
  if (solverObjects) return CalculateSpeciesModelCL(window);
  // Correlation functions have no cell geometry and need no Lamm solution; each
  // needs its record.
  const bool dls = bDLSData;
  if (dls ? pDLSInfo.size() <= Idx(nScans) : !CheckMeniscusAndBottom(result)) {
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
  ZeroFitRows(iFirstModelScan);
  if (bLiveDisplay) RepaintMain(window);
  SetUpRotorRamp();

  if (dls) {
    // Only the non-interacting species have a correlation function; any other model
    // leaves the fit rows at 0.
    if (bDiscreteModel) DLSSpeciesLoop(result);
  } else if (bDiscreteModel) {
    SpeciesLoop(window, result);
  } else if (bMonomerDimer || bMonomerTrimer || bAssoc148 || bAssoc124 || bNonidealSpecies) {
    SingleComponentBranch(window, result);
  } else if (bHeteroAssocModel) {
    ReactingBranch(window, result);
  }
  pSimWindow = nullptr;
  if (bUserAbort) MergeModelStatus(result, ModelStatus::Interrupted);
  FinishModelComputation(window, result, iFirstModelScan);
  return result;
}

void ResetModelComputation() {
  FreeInitialDistribution();
  nStaticGridEstimate = 0;
  nHatGridEstimate = 0.0;
  fOptimizeRadius = 0.0;
  bLiveDisplay = false;
  iFirstModelScan = 1;
  fLoadingFraction = 1.0f;
}

}  // namespace tarmic
