#include "propagators/sim_run.h"

#include "lamm/step_control.h"

#include <algorithm>
#include <cmath>

#include "lamm/element_integrals.h"
#include "lamm/lamm_globals.h"
#include "lamm/rotor_ramp.h"
#include "lamm/special_geometry.h"
#include "lamm/tridiagonal.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "services/run_switches.h"
#include "propagators/sim_arrays.h"
#include "propagators/solvent_settings.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"

namespace tarmic {

double dMaxRelChange = 1.0;
double dMaxRelChangeLow = 0.1;
double dMaxRelChangeTarget = 0.5;
double dStepShrinkDivisor = 2.0;
double dStepRelaxation = 1.0;
double dSimDt = 1.0;
double dSimDtMax = 1000.0;
int nSimIterations = 0;
double dSimStopTime = 0.0;
int bSimLandOnStop = 0;
int bSimContinue = 1;
int bSimFailed = 0;
int bSimDiverged = 0;
double dSteadyStateLimit = 1e-6;
bool bSteadyStateReached = false;
float fSimChange = 1.0f;
double dSimRpm = 10000.0;
double dFinalRpm = 10000.0;
double dAccelRate = 0.0;
bool bAccelerating = false;
double dAccelEndTime = 0.0;
double dAccelDtMax = 1.0;
double dSimS = 5.0;
double dSimD = 5.0;
double dSimMass = 0.0;
Window* pSimWindow = nullptr;
int iCurrentSpecies = 0;
bool bHatGridInUse = false;
int iActiveFirst = 1;
int iActiveLast = 1;

SimRunSettings CurrentSimRunSettings() {
  SimRunSettings s;
  s.meniscus = fMeniscus;
  s.bottom = fBottom;
  s.fitLeft = std::min(fFitLeftLim, fFitRightLim);
  s.fitRight = std::max(fFitLeftLim, fFitRightLim);
  s.fixTimestep = bFixTimeStep;
  s.autoHatS = bAutoSGrid;
  s.frameS = dAutoSGridValue;
  s.rampRotorSpeed = bRampRotorSpeed;
  s.truncateGrid = bTruncateGrid;
  s.truncLevel = dTruncationLevel;
  s.zoneCentrifugation = bZoneCentrifugation;
  s.inhomogeneousSolvent = gInhomSolvent.bInhomogeneousSolvent;
  s.sedimentingCosolute = s.inhomogeneousSolvent && gInhomSolvent.bSedimentingCosolute;
  s.dynamicGradient = s.inhomogeneousSolvent && gInhomSolvent.bCosoluteDynamicGradient;
  return s;
}

bool SpecialGeometry() {
  return bLinearGeometry || bPlanarQuadrature || bExternalLoadingCell || bElectrophoresis;
}

const char* SimOutcomeCaption(SimStatus status) {
  return status == SimStatus::Diverged ? "DISCRETIZATION ERROR" : "ERROR in simulation";
}

// ---- scan recorder ----

ScanTimeRecorder::ScanTimeRecorder(std::vector<double> scanTimes, RecordFn record,
                                   bool finalProfileToFit)
    : vTimes(std::move(scanTimes)), fnRecord(std::move(record)), bFinalProfile(finalProfileToFit) {}

void ScanTimeRecorder::Start() {
  nNext = 0;
  coverage.Start(static_cast<int>(vTimes.size()));
  bEndedEarly = false;
  bPastLast = false;
  balance.Reset();
  bSimContinue = 1;
  if (vTimes.empty()) {
    bSimLandOnStop = 0;
    bSimContinue = 0;
    return;
  }
  dSimStopTime = vTimes[0];
  bSimLandOnStop = 1;
}

ProfileAmount ScanTimeRecorder::GridAmount() {
  const int N = nSimGridPointsAllocated;
  if (N < 2 || !pLammRadius || !pLammConc) return {};
  // The weights of the grid in use, made again only when its radii moved (the
  // moving grid) or changed; the cell's own geometry for the special cells.
  const std::size_t n = static_cast<std::size_t>(N) + 1;
  if (vWeightRadii.size() != n ||
      !std::equal(pLammRadius + 1, pLammRadius + N + 1, vWeightRadii.begin() + 1)) {
    vWeightRadii.assign(pLammRadius, pLammRadius + n);
    vWeights.assign(n, 0.0);
    const double* r = pLammRadius;
    if (SpecialGeometry()) {
      const GeometryWeight g = SelectGeometryWeight(r, N);
      for (int i = 1; i <= N; ++i)
        vWeights[i] = static_cast<double>(IntegrateNodeWeightGeom(r, N, r[1], r[N], g, i));
    } else {
      for (int i = 1; i <= N; ++i)
        vWeights[i] = static_cast<double>(IntegrateNodeWeight(r, N, i, N));
    }
  }
  return WeightedProfileAmount(vWeights.data(), pLammConc, N);
}

void ScanTimeRecorder::TakeLoadedAmount(bool closedCell, double s) {
  dBalanceS = s;
  vWeightRadii.clear();
  balance.Start(GridAmount(), closedCell);
}

std::string ScanTimeRecorder::RefinableFailure() const {
  if (balance.Lost()) return AmountBalanceMessage(dBalanceS);
  if (bEndedEarly) return coverage.Refusal();
  return {};
}

void ScanTimeRecorder::RecordNext() {
  Record(nNext++);
  coverage.Recorded();
}

bool ScanTimeRecorder::ProfileKeepsBalance() {
  if (!balance.Started() || balance.Holds(GridAmount())) return true;
  bSimDiverged = 1;
  bSimContinue = 0;
  return false;
}

void ScanTimeRecorder::Record(int scan) {
  if (fnRecord) fnRecord(scan, pLammRadius, pLammConc, nSimGridPointsAllocated);
}

void ScanTimeRecorder::Step(double /*change*/) {
  if (bUserAbort) {
    bSimContinue = 0;
    return;
  }
  if (bPastLast) {
    if (dSimTime >= kFinalProfileTime) bSimContinue = 0;
    return;
  }
  const int n = static_cast<int>(vTimes.size());
  // A step lands on the scan time; the tolerance absorbs the sum of the steps.
  bool moved = false;
  while (nNext < n && dSimTime >= vTimes[nNext] - 1e-9 * std::max(1.0, vTimes[nNext])) {
    if (!moved && bHatGridInUse) MoveHatGrid();
    moved = true;
    if (!ProfileKeepsBalance()) return;
    double next = 0.0;
    if (!ScanAssembled(nNext, &next)) {
      dSimStopTime = next;
      bSimLandOnStop = 1;
      return;
    }
    RecordNext();
  }
  if (nNext < n) {
    dSimStopTime = vTimes[nNext];
    bSimLandOnStop = 1;
  } else if (moved) {
    if (bFinalProfile) {
      bPastLast = true;
      bSimLandOnStop = 0;
    } else {
      bSimContinue = 0;
    }
  }
}

void ScanTimeRecorder::Finish(SimStopReason reason) {
  const int n = static_cast<int>(vTimes.size());
  coverage.Ended(dSimTime);
  if (reason == SimStopReason::Failed || bUserAbort) return;
  // A run that ends before its last scan without a stop rule has not computed the
  // later scans.
  if (reason == SimStopReason::Progress && !bPastLast && nNext < n) {
    bEndedEarly = true;
    bSimDiverged = 1;
    return;
  }
  if (bPastLast) {
    // The final profile replaces the last scan, once.
    if (bHatGridInUse) MoveHatGrid();
    if (ProfileKeepsBalance()) Record(n - 1);
    return;
  }
  if (reason == SimStopReason::SteadyState || reason == SimStopReason::FitRange) {
    if (nNext < n && bHatGridInUse) MoveHatGrid();
    if (nNext < n && !ProfileKeepsBalance()) return;
    while (nNext < n) RecordNext();
  }
}

// ---- rotor ----

double SimRotorSpeedAtTime(double t, double dt) {
  return RampRotorSpeed(t, dt, dAccelEndTime, dAccelRate, dFinalRpm, &bAccelerating);
}

double ClampStepToAcceleration(double t, double dt, bool ramp, bool cutToEnd, bool* cut) {
  if (!ramp || !bAccelerating) return dt;
  dt = std::min(dt, dAccelDtMax);
  if (cutToEnd && t + dt > dAccelEndTime) {
    dt = dAccelEndTime - t;
    if (cut) *cut = true;
  }
  return dt;
}

bool LandStepOnStopTime(double t, double* dt) {
  if (!bSimLandOnStop || t + *dt < dSimStopTime - 1e-12 * std::max(1.0, dSimStopTime)) return false;
  bSimLandOnStop = 0;
  *dt = dSimStopTime - t;
  return true;
}

// ---- fit-range stop ----

FitRangeStop FindFitLimitPoint(const SimRunSettings& settings, double s) {
  FitRangeStop stop;
  int& iFitLimitPoint = stop.iFitLimitPoint;
  const int N = nSimGridPointsAllocated;
  const double* r = pLammRadius;
  // A fitting limit outside the cell (none set) leaves the end node the species
  // moves to as the limit point, where the profile never empties: no stop then.
  const bool inside = settings.fitLeft > r[1] && settings.fitRight < r[N] &&
                      settings.fitLeft < settings.fitRight;
  stop.armed = inside;
  stop.s = s;
  if (s >= 0) {
    iFitLimitPoint = N;
    for (int i = 1; inside && i <= N; ++i)
      if (r[i] > settings.fitRight) {
        iFitLimitPoint = i;
        break;
      }
  } else {
    iFitLimitPoint = 1;
    for (int i = 1; inside && i <= N; ++i)
      if (r[i] <= settings.fitLeft) iFitLimitPoint = i;
  }
  stop.fFitLimitLevel = static_cast<float>(1e-4 * pLammConc[iFitLimitPoint]);
  return stop;
}

bool FitRangeCleared(const SimRunSettings& settings, double s, const FitRangeStop& stop) {
  // A uniform profile (s = 0) never clears the range; a band is not a boundary.
  // Nor is it watched in an inhomogeneous solvent, where a species may float back.
  if (!stop.armed || s == 0 || settings.zoneCentrifugation || settings.inhomogeneousSolvent)
    return false;
  return FittedRangeLeftAt(pLammConc, nSimGridPointsAllocated, stop.iFitLimitPoint,
                           stop.s >= 0 ? -1 : 1, stop.fFitLimitLevel) ||
         iActiveFirst > stop.iFitLimitPoint;
}

bool SteadyStateTest::Update(double dtUsed, double changePerSecond) {
  if (dtUsed >= 30 && changePerSecond < dSteadyStateLimit)
    ++quiet;
  else
    quiet = 0;
  return quiet > 10;
}

SimRunStateGuard::SimRunStateGuard()
    : dMax(dMaxRelChange), dLow(dMaxRelChangeLow), dTarget(dMaxRelChangeTarget) {}
SimRunStateGuard::~SimRunStateGuard() {
  dMaxRelChange = dMax;
  dMaxRelChangeLow = dLow;
  dMaxRelChangeTarget = dTarget;
}

SimOutcome FinishSimRun(SimProgress& progress, SimStopReason reason, const char* tridagMessage,
                        SimStepFloor floor) {
  if (bSimFailed || bSimDiverged) reason = SimStopReason::Failed;
  if (reason == SimStopReason::SteadyState) bSteadyStateReached = true;
  progress.Finish(reason);
  SimOutcome out;
  if (bSimFailed) {
    out.status = SimStatus::Singular;
    out.message = tridagMessage && *tridagMessage ? tridagMessage : "singular tridiagonal matrix!";
  } else if (bSimDiverged) {
    out.status = SimStatus::Diverged;
    const std::string refinable = progress.RefinableFailure();
    out.refinable = !refinable.empty() || floor != SimStepFloor::None;
    out.retryFirst = refinable.empty() && floor == SimStepFloor::Shrinks;
    if (!refinable.empty())
      out.message = refinable;
    else if (floor != SimStepFloor::None)
      out.message = StepFloorMessage();
    else
      out.message = kStepControlGaveUpMessage;
  } else if (bUserAbort) {
    out.status = SimStatus::Interrupted;
    out.message = "simulation interrupted";
  }
  return out;
}

SimOutcome RefineWhileBalanceLost(SimOutcome outcome, int nodes,
                                  const std::function<bool(int nodes)>& layGrid,
                                  const std::function<SimOutcome()>& attempt) {
  int laid = nodes, solved = nodes;
  for (int k = 1; k <= kBalanceRefinements && outcome.refinable && !bUserAbort; ++k) {
    const int finer = BalanceRefinedGridSize(nodes, k);
    if (finer <= laid || !layGrid(finer)) break;
    laid = finer;
    SimOutcome next = attempt();
    // A grid whose arrays the solver cannot take is no refinement: the reason of
    // the last grid solved on stands.
    if (next.status == SimStatus::NotAllocated) break;
    solved = finer;
    outcome = next;
  }
  if (solved > nodes && !outcome.ok() && outcome.status != SimStatus::Interrupted)
    outcome.message += RefinedGridsNote(solved);
  return outcome;
}

void ResetSimRunState() {
  dMaxRelChange = 1.0;
  dMaxRelChangeLow = 0.1;
  dMaxRelChangeTarget = 0.5;
  dStepShrinkDivisor = 2.0;
  dStepRelaxation = 1.0;
  dSimDt = 1.0;
  dSimDtMax = 1000.0;
  dSimTime = 0.0;
  nSimIterations = 0;
  dSimStopTime = 0.0;
  bSimLandOnStop = 0;
  bSimContinue = 1;
  bSimFailed = bSimDiverged = 0;
  dSteadyStateLimit = 1e-6;
  bSteadyStateReached = false;
  fSimChange = 1.0f;
  dSimRpm = dFinalRpm = 10000.0;
  dAccelRate = 0.0;
  bAccelerating = false;
  dAccelEndTime = 0.0;
  dAccelDtMax = 1.0;
  dSimS = dSimD = 5.0;
  bShowSimMass = false;
  dSimMass = 0.0;
  pSimWindow = nullptr;
  iCurrentSpecies = 0;
  dFrameS = dFrameSedOmega2 = dHatT0 = 0.0;
  bHatGridInUse = false;
  iActiveFirst = iActiveLast = 1;
}

}  // namespace tarmic
