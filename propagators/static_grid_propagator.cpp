#include "propagators/static_grid_propagator.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "lamm/special_geometry.h"
#include "lamm/static_grid_core.h"
#include "lamm/step_control.h"
#include "lamm/tridiagonal.h"
#include "numerics/hydrodynamics.h"
#include "services/run_switches.h"
#include "propagators/inhomogeneous_solvent.h"
#include "propagators/sim_arrays.h"

namespace tarmic {

namespace {

// A value beyond this ends the run as diverged.
constexpr double kOverflowLimit = 1e100;

int GridSize() { return LammArrays().nSimGridPointsAllocated; }
double GridStep() { return (LammArrays().pLammRadius[GridSize()] - LammArrays().pLammRadius[1]) / (GridSize() - 1); }
// First row of the profile a step may change (two rows before the active ones).
int FirstChangedRow() { return SimRun().iActiveFirst > 3 ? SimRun().iActiveFirst - 2 : 1; }

// One solve of one species on the static grid: its settings, its species and the
// state it keeps from step to step. Created by SolveLammClaverie, gone on return.
class ClaverieRun {
 public:
  explicit ClaverieRun(const SimInput& input)
      : runSettings(input.settings), sp(input.species), rotor(input.rotor), geometry(input.geometry),
        solvent(input.solvent) {}
  // settings: the caller's, as given (runSettings holds them with the solvent flags resolved).
  SimOutcome Solve(const SimRunSettings& settings, SimProgress& progress);

 private:
  double CurrentSedOmega2() const {
    const double w = SimRun().dSimRpm * kTwoPiOver60;
    return w * w * sp.s * 1e-13;
  }
  void RebuildMatrices(int n);
  void FormRow(int i, int np, double sw2);
  void BuildClaverieMatrices(int n);
  void ResizeClaverieMatrices(int n);
  void BuildGeometryMatrices();
  double ClampToAcceleration(double dt, bool* cut) const {
    return ClampStepToRotor(rotor, SimClock().dSimTime, dt, runSettings.rampRotorSpeed, SimRun().bAccelerating,
                            !*cut, cut);
  }
  bool TrialStep(double dt);
  void ClaverieStep(double dt);
  double MaxRelativeChange();
  void AdvanceClaverieTime();
  double AdaptiveClaverieStep();
  int UpdateActiveStart();
  int UpdateActiveEnd(double t);
  void CorrectMeniscusUndershoot();
  SimOutcome PropagateEmptyProfile(SimProgress& progress);

  SimRunSettings runSettings;  // settings of this solve (inhomogeneous flags resolved at entry)
  const SimWorkArrays& arrays = SimWork();  // the work arrays of the allocation at entry
  SimSpecies sp;        // s (S) and D (cm^2/s) of the species
  SimRotor rotor;       // final speed and acceleration
  SimGeometry geometry;  // the special cell geometry, if any
  const SimSolvent& solvent;  // the inhomogeneous solvent (the caller's input outlives the run)
  const char* szTridagMessage = nullptr;  // message of a failed pivot
  bool bStepLands = false;                // the current step was cut to end on dSimStopTime
  double dRunStartTime = 0.0;             // s
  double dTruncThreshold = 0.0;  // empty-node level: truncation level x c[1] at the start
  double dInitialConc = 0.0;     // c[1] at the start
  double dSedOmega2 = 0.0;       // s w^2 1e-13 of the species, 1/s
  double dPlateauConc = 0.0;     // plateau value beyond the last active row
  double dPlateauTime = 0.0;     // time of dPlateauConc, s
  double dPlateauLimit = 0.0;    // plateau level below which the active rows grow
  int nMatrixRows = 0;           // rows of M and A currently formed
  int nMatrixRowsBuilt = 0;      // rows of the last full build
  bool bFactorsStale = true;     // the kept factors do not belong to the step matrix
  double dSimLastDt = 0.0;       // dt of the last factorised step matrices, s
  int nStepReductions = 0;       // forced step reductions within one step
  SimStepFloor floor = SimStepFloor::None;  // the floor the step control met
  bool bSimMatricesChanged = false;  // M or A changed since the step matrix was factorised
  int nMaxActiveFirst = 1;       // floor(0.95 N)
  int nTruncExtension = 0;       // rows the active end grows by, floor(0.1 N)
  bool bTruncationActive = false;
  bool bNoLeftTruncation = true;
  bool bNoRightTruncation = true;
  FitRangeStop fitStop;
};

void ClaverieRun::RebuildMatrices(int n) {
  if (geometry.Special())
    BuildGeometryMatrices();
  else
    BuildClaverieMatrices(n);
}

// Row i of M and A for a system whose last row is np. In an inhomogeneous solvent
// the transport entries are sw2 Sed~ - D K~ with the elements of the local factors
// (D fV, s fV fB), and the outflow bottom lets out D fV_n r_n dc/dr - sw2 fV_n fB_n r_n^2 c.
void ClaverieRun::FormRow(int i, int np, double sw2) {
  auto& lammArraysPart = LammArrays();
  double m[3], a[3];
  const bool inhom = runSettings.inhomogeneousSolvent;
  StaticGridRow(lammArraysPart.pLammRadius, GridSize(), i, np, lammArraysPart.bOptimizedGridBuilt, GridStep(), inhom ? 0.0 : sw2,
                inhom ? 0.0 : sp.D, runSettings.outflowBottom && !inhom, m, a);
  if (inhom) {
    const double* r = lammArraysPart.pLammRadius;
    for (int k = 0; k < 3; ++k) {
      const int j = i - 1 + k;
      a[k] = sw2 * InhomSedimentationElement(i, j, r, np) - sp.D * InhomDiffusionElement(i, j, r, np);
    }
    if (i == 1) a[0] = 0.0;
    if (i == np) a[2] = 0.0;
    if (runSettings.outflowBottom && i == np) {
      const double end = InhomDiffusionEndTerm(r, np);
      a[0] += sp.D * end;
      a[1] -= sp.D * end + sw2 * InhomSedimentationFlux(r, np);
    }
  }
  arrays.pMassLower[i] = m[0];
  arrays.pMassDiag[i] = m[1];
  arrays.pMassUpper[i] = m[2];
  arrays.pTransportLower[i] = a[0];
  arrays.pTransportDiag[i] = a[1];
  arrays.pTransportUpper[i] = a[2];
}

// Undoes a failed step: the rows it may have changed get their values of the step's
// start back.
void RestoreStepStart(const SimWorkArrays& arrays) {
  auto& lammArraysPart = LammArrays();
  auto& simRunPart = SimRun();
  for (int i = FirstChangedRow(); i <= simRunPart.iActiveLast; ++i) lammArraysPart.pLammConc[i] = arrays.pLammConcOld[i];
}

// A Crank-Nicolson step whose result must be finite; false when the run failed.
bool ClaverieRun::TrialStep(double dt) {
  auto& simRunPart = SimRun();
  ClaverieStep(dt);
  if (!simRunPart.bSimFailed && !simRunPart.bSimDiverged && !ProfileFinite(LammArrays().pLammConc, 1, GridSize(), kOverflowLimit)) {
    simRunPart.bSimDiverged = 1;
    RestoreStepStart(arrays);
  }
  return !simRunPart.bSimFailed && !simRunPart.bSimDiverged;
}

// Nothing to propagate: time advances (landing on the scan times) until the
// progress ends the run; past the last scan it jumps to the final time at once.
SimOutcome ClaverieRun::PropagateEmptyProfile(SimProgress& progress) {
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  simRunPart.dSimDt = 10.0;
  while (simRunPart.bSimContinue && !bUserAbort && simClockPart.dSimTime < kFinalProfileTime) {
    if (progress.PastLastScan()) {
      simClockPart.dSimTime = kFinalProfileTime;
    } else {
      double dt = simRunPart.dSimDt;
      if (simRunPart.bSimLandOnStop && simRunPart.dSimStopTime > simClockPart.dSimTime) dt = std::min(dt, simRunPart.dSimStopTime - simClockPart.dSimTime);
      simClockPart.dSimTime += dt;
    }
    ++simRunPart.nSimIterations;
    progress.Step(simRunPart.fSimChange);
  }
  return FinishSimRun(progress, SimStopReason::Progress, nullptr);
}

// ---- matrices ----

// M and A for rows 1..min(n, N) of the sector-shaped cell.
void ClaverieRun::BuildClaverieMatrices(int n) {
  const int np = std::min(n, GridSize());
  const double sw2 = CurrentSedOmega2();
  if (runSettings.rampRotorSpeed) dSedOmega2 = sw2;
  for (int i = 1; i <= np; ++i) FormRow(i, np, sw2);
  nMatrixRows = nMatrixRowsBuilt = np;
  bFactorsStale = true;
}

// Re-forms the end rows when the last active row becomes n.
void ClaverieRun::ResizeClaverieMatrices(int n) {
  if (n == nMatrixRows) return;
  bFactorsStale = true;
  if (n > nMatrixRowsBuilt) {
    BuildClaverieMatrices(n);
    return;
  }
  // The former end rows get their entries of the full build back, then the rows
  // of the new end are formed.
  const int np = std::min(n, GridSize());
  const double sw2 = CurrentSedOmega2();
  for (int i = std::max(1, nMatrixRows - 1); i <= nMatrixRows; ++i)
    FormRow(i, nMatrixRowsBuilt, sw2);
  for (int i = std::max(1, np - 1); i <= np; ++i) FormRow(i, np, sw2);
  nMatrixRows = np;
}

// M and A of the special cell geometries over all N rows.
void ClaverieRun::BuildGeometryMatrices() {
  auto& lammArraysPart = LammArrays();
  const int N = GridSize();
  const double* r = lammArraysPart.pLammRadius;
  const GeometryWeight g = SelectGeometryWeight(r, N);
  // Drift velocity per unit radius (s w^2), or per unit field for electrophoresis.
  const double drift = geometry.electrophoresis ? sp.s * 1e-4 : CurrentSedOmega2();
  double* mass[3] = {arrays.pMassLower, arrays.pMassDiag, arrays.pMassUpper};
  double* transport[3] = {arrays.pTransportLower, arrays.pTransportDiag, arrays.pTransportUpper};
  for (int i = 1; i <= N; ++i) {
    for (int k = 0; k < 3; ++k) {
      // Element arguments (column, row): A(i, j) = drift Sed(j, i) - D K(j, i).
      const int j = i - 1 + k;
      mass[k][i] = static_cast<double>(IntegrateMassElementGeom(r, N, r[1], r[N], g, j, i));
      transport[k][i] =
          static_cast<double>(drift * IntegrateSedimentationElementGeom(r, N, r[1], r[N], g, j, i) -
                              sp.D * IntegrateStiffnessElementGeom(r, N, r[1], r[N], g, j, i));
    }
  }
  nMatrixRows = nMatrixRowsBuilt = N;
  bFactorsStale = true;
}

// Step matrices M -/+ dt/2 A for rows 1..min(n, N).
void BuildCrankNicolsonMatrices(const SimWorkArrays& arrays, double dt, int n) {
  FormCrankNicolson(SimMassMatrix(arrays), SimTransportMatrix(arrays), dt, SimStepMatrix(arrays),
                    SimRhsMatrix(arrays), 1, std::min(n, GridSize()));
}

// ---- one step ----

// One Crank-Nicolson step of length dt from pLammConcOld into pLammConc.
void ClaverieRun::ClaverieStep(double dt) {
  auto& lammArraysPart = LammArrays();
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  const int N = GridSize();
  if (runSettings.rampRotorSpeed && simRunPart.bAccelerating) {
    simRunPart.dSimRpm = RotorSpeedAtTime(rotor, simClockPart.dSimTime, dt, &simRunPart.bAccelerating);
    RebuildMatrices(simRunPart.iActiveLast);
  }
  if (simRunPart.iActiveLast != nMatrixRows) ResizeClaverieMatrices(simRunPart.iActiveLast);
  const int n = simRunPart.iActiveLast, L = simRunPart.iActiveFirst;
  // Rows before L - 1 are emptied: they are held at 0 and not solved.
  const int first = L > 3 ? L - 1 : 1;
  double* c = lammArraysPart.pLammConc;
  if (dt != dSimLastDt || bSimMatricesChanged || simRunPart.bAccelerating || bFactorsStale) {
    bSimMatricesChanged = false;
    dSimLastDt = dt;
    BuildCrankNicolsonMatrices(arrays, dt, n);
    TridiagProduct(SimRhsMatrix(arrays), arrays.pLammConcOld, arrays.pLammRhs, n, first);
    const TridagStatus status = TridagFactorSolve(SimStepMatrix(arrays), arrays.pLammRhs, c, n,
                                                  SimTridagFactors(arrays), first);
    bFactorsStale = status != TridagStatus::Ok;
    if (bFactorsStale) {
      szTridagMessage = TridagMessage(status);
      simRunPart.bSimFailed = 1;
    }
  } else {
    // Same step, same matrices: one product and the substitutions with the kept factors.
    TridiagProduct(SimRhsMatrix(arrays), arrays.pLammConcOld, arrays.pLammRhs, n, first);
    TridagReuseSolve(arrays.pStepLower, arrays.pLammRhs, c, n, SimTridagFactors(arrays), first);
  }
  // Material in the emptied region: the truncation does not hold, and the solve
  // fails (the model computation retries it as after a failed solve).
  if (!simRunPart.bSimFailed && L > 3 && !SmoothActiveStartEdge(c, L, dTruncThreshold)) simRunPart.bSimFailed = 1;
  if (simRunPart.bSimFailed || simRunPart.bSimDiverged) {
    RestoreStepStart(arrays);
  } else if (n < N) {
    // Beyond the active rows the plateau dilutes radially: c_p exp(-2 s w^2 dt).
    const double plateau = dPlateauConc * std::exp(-2 * dSedOmega2 * dt);
    for (int j = n + 1; j <= N; ++j) c[j] = plateau;
  }
}

// Largest relative change of the active rows between pLammConcOld and pLammConc.
double ClaverieRun::MaxRelativeChange() {
  auto& lammArraysPart = LammArrays();
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  double windowMax = 0.0;
  for (int i = simRunPart.iActiveFirst; i <= simRunPart.iActiveLast; ++i) windowMax = std::max(windowMax, lammArraysPart.pLammConc[i]);
  // A floating species' floor follows the plateau it concentrates to, not its
  // pile-up at the meniscus (lamm/static_grid_core.h, StepFloorScale).
  const bool floating = dSedOmega2 < 0 && !runSettings.zoneCentrifugation &&
                        !runSettings.inhomogeneousSolvent;
  const double elapsed = std::max(0.0, simClockPart.dSimTime - dRunStartTime);
  const double cap = floating ? dInitialConc * std::exp(std::min(700.0, -2 * dSedOmega2 * elapsed))
                              : kNoStepFloorCap;
  const double cmax = StepFloorScale(windowMax, dInitialConc, cap);
  bool negative = false;
  const double err = StaticGridRelativeChange(
      lammArraysPart.pLammConc, arrays.pLammConcOld, simRunPart.iActiveFirst, simRunPart.iActiveLast, cmax, dTruncThreshold,
      !runSettings.zoneCentrifugation && simClockPart.dSimTime < 10, &negative);
  if (!negative) return err;
  ++nStepReductions;
  return 2 * simRunPart.dMaxRelChange;  // an early undershoot forces a shorter step
}

// Accepts the step of length dSimDt.
void ClaverieRun::AdvanceClaverieTime() {
  auto& lammArraysPart = LammArrays();
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  ++simRunPart.nSimIterations;
  simClockPart.dSimTime = bStepLands ? simRunPart.dSimStopTime : simClockPart.dSimTime + simRunPart.dSimDt;
  if (simClockPart.dSimTime >= rotor.accelEndTime) {
    if (simRunPart.bAccelerating) {
      simRunPart.dSimRpm = RotorSpeedAtTime(rotor, simClockPart.dSimTime, simRunPart.dSimDt, &simRunPart.bAccelerating);
      if (geometry.Special()) {
        BuildGeometryMatrices();
      } else {
        BuildClaverieMatrices(runSettings.dynamicGradient ? simRunPart.iActiveLast : GridSize());
        ResizeClaverieMatrices(simRunPart.iActiveLast);
      }
    }
    simRunPart.bAccelerating = false;
  }
  if (lammArraysPart.pLammConc[1] < 0 && lammArraysPart.pLammConc[1] > -dTruncThreshold) CorrectMeniscusUndershoot();
  if (simClockPart.bShowSimMass) simRunPart.dSimMass = geometry.Special() ? GeometryTotalAmount() : ClaverieTotalAmount();
}

// One accepted step with error control; returns its change measure.
double ClaverieRun::AdaptiveClaverieStep() {
  auto& lammArraysPart = LammArrays();
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  double& dt = simRunPart.dSimDt;
  bool cut = false;  // the step was cut to the end of the acceleration
  if (runSettings.fixTimestep) dt = simRunPart.dMaxRelChange;
  for (int i = FirstChangedRow(); i <= simRunPart.iActiveLast; ++i) arrays.pLammConcOld[i] = lammArraysPart.pLammConc[i];
  dt = ClampToAcceleration(dt, &cut);
  bStepLands = LandStepOnStopTime(simClockPart.dSimTime, &dt);
  if (!(dt > 0)) {  // the target time is reached: nothing to step
    dt = 1.0;
    bStepLands = false;
    return 1.0;
  }
  if (!TrialStep(dt)) return 0.0;
  if (runSettings.zoneCentrifugation && simClockPart.dSimTime < 10)
    SpreadBandUndershoot(lammArraysPart.pLammConc, lammArraysPart.pLammRadius, GridSize());
  // Accepted without the error test: a step landing on a scan time, the first
  // step, and every fixed step.
  if (bStepLands && simRunPart.nSimIterations != 0) {
    AdvanceClaverieTime();
    return 1.0;
  }
  if (simRunPart.nSimIterations == 0 && lammArraysPart.pLammConc[1] > 0) {
    const double first = dt;
    AdvanceClaverieTime();
    return first;
  }
  if (runSettings.fixTimestep) {
    AdvanceClaverieTime();
    return 1.0;
  }
  const StepControlSettings control{simRunPart.dMaxRelChangeTarget, simRunPart.dStepShrinkDivisor, simRunPart.dStepRelaxation,
                                    simRunPart.dSimDtMax};
  double prev = dt;
  double err = MaxRelativeChange();
  while (err > simRunPart.dMaxRelChange) {
    if (nStepReductions > 5) {
      floor = SimStepFloor::Shrinks;
      simRunPart.bSimDiverged = 1;
      RestoreStepStart(arrays);
      return 0.0;
    }
    bool floored = false;
    dt = ShrinkStep(dt, err, control, &prev, &floored);
    if (floored) ++nStepReductions;
    dt = ClampToAcceleration(dt, &cut);
    bStepLands = false;
    if (!TrialStep(dt)) return 0.0;
    err = MaxRelativeChange();
  }
  nStepReductions = 1;
  AdvanceClaverieTime();
  // A step that changed nothing grows tenfold (to dSimDtMax); a small change grows
  // the step towards the target change.
  dt = err == 0 ? std::min(10 * dt, simRunPart.dSimDtMax)
                : NextStepAfterAccept(dt, err, simRunPart.dMaxRelChangeLow, control, &prev);
  if (simRunPart.bSimLandOnStop && simClockPart.dSimTime + dt > simRunPart.dSimStopTime) dt = simRunPart.dSimStopTime - simClockPart.dSimTime;
  dt = ClampToAcceleration(dt, &cut);
  return err;
}

// ---- truncation and corrections ----

// Moves the first active row past the emptied region; returns it.
int ClaverieRun::UpdateActiveStart() {
  auto& simRunPart = SimRun();
  if (bNoLeftTruncation || runSettings.noTruncation) return simRunPart.iActiveFirst = 1;
  return simRunPart.iActiveFirst = AdvanceActiveStart(LammArrays().pLammConc, simRunPart.iActiveFirst, simRunPart.iActiveLast, dTruncThreshold,
                                           nMaxActiveFirst);
}

// Dilutes the plateau to time t and grows the active rows when the boundary nears
// their end; returns the last active row.
int ClaverieRun::UpdateActiveEnd(double t) {
  auto& simRunPart = SimRun();
  const int N = GridSize();
  if (bNoRightTruncation || runSettings.noTruncation) return simRunPart.iActiveLast = N;
  if (simRunPart.iActiveLast == N) return N;
  // Radial dilution of the plateau ahead of the boundary.
  if (runSettings.rampRotorSpeed)
    dPlateauConc *= std::exp(-2 * dSedOmega2 * (t - dPlateauTime));
  else
    dPlateauConc = dInitialConc * std::exp(-2 * dSedOmega2 * (t - dRunStartTime));
  dPlateauTime = t;
  // The level is relative to the plateau (the truncation level, not the absolute
  // empty-node threshold), so that it does not depend on the signal units.
  dPlateauLimit = (1 - runSettings.truncLevel) * dPlateauConc;
  const int end = GrownActiveEnd(LammArrays().pLammConc, simRunPart.iActiveLast, nTruncExtension, N, dPlateauLimit);
  if (end > simRunPart.iActiveLast) {
    simRunPart.iActiveLast = end;
    ResizeClaverieMatrices(simRunPart.iActiveLast);
  }
  return simRunPart.iActiveLast;
}

// Folds a small negative value at the meniscus inward (last retry of a solve only).
void ClaverieRun::CorrectMeniscusUndershoot() {
  auto& lammArraysPart = LammArrays();
  if (!runSettings.meniscusCorrection || !(lammArraysPart.pLammConc[1] < 0 && lammArraysPart.pLammConc[1] > -dTruncThreshold))
    return;
  ReflectMeniscusUndershoot(lammArraysPart.pLammConc, lammArraysPart.pLammRadius, GridSize(), lammArraysPart.bOptimizedGridBuilt, GridStep());
}

// ---- the solve ----

SimOutcome ClaverieRun::Solve(const SimRunSettings& settings, SimProgress& progress) {
  auto& cosolutePart = Cosolute();
  auto& lammArraysPart = LammArrays();
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  if (!lammArraysPart.bSimArraysAllocated)
    return {SimStatus::NotAllocated, "could not allocate Lamm simulation arrays"};
  const int N = GridSize();
  const bool accelerating = settings.rampRotorSpeed && simRunPart.bAccelerating;
  if (N < kMinSimGridPoints || !(lammArraysPart.pLammRadius[N] > lammArraysPart.pLammRadius[1]) || !std::isfinite(sp.s) ||
      !std::isfinite(sp.D) || !std::isfinite(simRunPart.dSimRpm) || !std::isfinite(simClockPart.dSimTime) ||
      !(simRunPart.dMaxRelChange > 0) || !std::isfinite(simRunPart.dMaxRelChange) || (accelerating && !(rotor.accelDtMax > 0)))
    return {SimStatus::InvalidInput, "invalid parameters of the Lamm equation simulation"};
  simRunPart.fSimChange = 1.0f;
  simRunPart.bSimFailed = simRunPart.bSimDiverged = 0;
  simRunPart.bSteadyStateReached = false;
  dRunStartTime = simClockPart.dSimTime;
  if (!(simRunPart.dSimDt > 0) || !std::isfinite(simRunPart.dSimDt)) simRunPart.dSimDt = 1.0;
  double* c = lammArraysPart.pLammConc;
  if (std::none_of(c + 1, c + N + 1, [](double v) { return v > 0; }))
    return PropagateEmptyProfile(progress);
  // An acceleration that has already ended: the rotor runs at its final speed.
  if (simRunPart.bAccelerating && simClockPart.dSimTime >= rotor.accelEndTime) simRunPart.dSimRpm = RotorSpeedAtTime(rotor, simClockPart.dSimTime, 0.0, &simRunPart.bAccelerating);

  dInitialConc = c[1];
  const bool inhom = settings.inhomogeneousSolvent && !geometry.Special();
  runSettings.inhomogeneousSolvent = inhom;
  runSettings.sedimentingCosolute = inhom && settings.sedimentingCosolute;
  runSettings.dynamicGradient = runSettings.sedimentingCosolute && settings.dynamicGradient;
  if (inhom) InitSolventFactors(solvent, lammArraysPart.pLammRadius, N);
  if (runSettings.sedimentingCosolute) {
    std::string message;
    if (!InitCosolute(solvent, {settings.meniscus, settings.bottom}, &message)) return {SimStatus::InvalidInput, message};
  }
  RebuildMatrices(N);
  // The amount every recorded profile is measured against; back-diffusion shut off
  // lets the species out through the bottom.
  progress.TakeLoadedAmount(!(settings.outflowBottom && !inhom), sp.s);
  const ActiveWindowBounds window = ActiveWindowBoundsFor(N);
  nMaxActiveFirst = window.leftMax;
  nTruncExtension = window.grow;
  dTruncThreshold = settings.truncLevel * c[1];
  dSedOmega2 = CurrentSedOmega2();
  dPlateauConc = c[1];
  dPlateauTime = simClockPart.dSimTime;
  simRunPart.iActiveFirst = 1;
  simRunPart.iActiveLast = N;
  bTruncationActive =
      settings.truncateGrid && !settings.noTruncation && sp.s > 0 && !settings.zoneCentrifugation;
  if (bTruncationActive) {
    bNoLeftTruncation = false;
    // The rows beyond the boundary are plateau; they join the solve only where the
    // bottom lets the species out (no back-diffusion to resolve).
    if (settings.outflowBottom && !geometry.Special() && !inhom && nTruncExtension >= 3) {
      bNoRightTruncation = false;
      simRunPart.iActiveLast = nTruncExtension;
      ResizeClaverieMatrices(simRunPart.iActiveLast);
    }
  }
  simRunPart.dSimDtMax = StaticGridStepBound(sp.s, sp.D, simRunPart.dSimRpm);
  fitStop = FindFitLimitPoint(settings, sp.s);
  if (settings.zoneCentrifugation) simRunPart.dSimDt = 0.1;

  SteadyStateTest steady;
  TinyStepCount tiny;
  floor = SimStepFloor::None;
  SimStopReason reason = SimStopReason::Progress;
  while (simRunPart.bSimContinue && !simRunPart.bSimFailed && !simRunPart.bSimDiverged) {
    const double dtUsed = simRunPart.dSimDt != 0 ? simRunPart.dSimDt : 1.0;
    if (runSettings.sedimentingCosolute) cosolutePart.dCosoluteTime = simClockPart.dSimTime;
    simRunPart.fSimChange = static_cast<float>(AdaptiveClaverieStep());
    if (tiny.AtFloor(dtUsed)) {
      floor = SimStepFloor::TinySteps;
      simRunPart.bSimDiverged = 1;
    }
    if (simRunPart.bSimFailed || simRunPart.bSimDiverged) break;
    if (bTruncationActive) {
      UpdateActiveStart();
      UpdateActiveEnd(simClockPart.dSimTime);
    }
    // The cosolute catches up with the species; the next step sees the new solvent.
    if (runSettings.sedimentingCosolute) {
      AdvanceCosolute();
      if (simRunPart.bSimFailed) break;
    }
    if (runSettings.dynamicGradient) {
      UpdateDynamicSolventFactors(lammArraysPart.pLammRadius, N);
      BuildClaverieMatrices(simRunPart.iActiveLast);
      bSimMatricesChanged = true;
    }
    progress.Step(simRunPart.fSimChange);
    simRunPart.fSimChange = static_cast<float>(simRunPart.fSimChange / dtUsed);
    if (FitRangeCleared(settings, sp.s, fitStop)) {
      reason = SimStopReason::FitRange;
      simRunPart.bSimContinue = 0;
    } else if (steady.Update(dtUsed, simRunPart.fSimChange)) {
      reason = SimStopReason::SteadyState;
      simRunPart.bSimContinue = 0;
    }
  }
  return FinishSimRun(progress, reason, szTridagMessage ? szTridagMessage : cosolutePart.szCosoluteTridagMessage,
                      floor);
}

}  // namespace

double ClaverieTotalAmount() {
  auto& lammArraysPart = LammArrays();
  return StaticGridWeightedSum(lammArraysPart.pLammRadius, lammArraysPart.pLammConc, GridSize(), lammArraysPart.bOptimizedGridBuilt,
                               GridStep()) *
         kSectorAmountFactor;
}

double GeometryTotalAmount() {
  auto& lammArraysPart = LammArrays();
  const int N = GridSize();
  const double* r = lammArraysPart.pLammRadius;
  const GeometryWeight g = SelectGeometryWeight(r, N);
  double sum = 0.0;
  for (int i = 1; i <= N; ++i)
    sum += static_cast<double>(IntegrateNodeWeightGeom(r, N, r[1], r[N], g, i)) * lammArraysPart.pLammConc[i];
  return sum * kOpticalPath;
}

SimOutcome SolveLammClaverie(const SimInput& input, SimProgress& progress) {
  ClaverieRun run(input);
  return run.Solve(input.settings, progress);
}

}  // namespace tarmic
