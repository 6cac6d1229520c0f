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

SimRunSettings CurrentSimRunSettings() {
  SimRunSettings s;
  s.meniscus = DataSet().fMeniscus;
  s.bottom = DataSet().fBottom;
  s.fitLeft = std::min(DataSet().fFitLeftLim, DataSet().fFitRightLim);
  s.fitRight = std::max(DataSet().fFitLeftLim, DataSet().fFitRightLim);
  s.fixTimestep = LammSettings().bFixTimeStep;
  s.autoHatS = LammSettings().bAutoSGrid;
  s.frameS = LammSettings().dAutoSGridValue;
  s.rampRotorSpeed = AnalysisSwitches().bRampRotorSpeed;
  s.truncateGrid = LammSettings().bTruncateGrid;
  s.truncLevel = LammSettings().dTruncationLevel;
  s.zoneCentrifugation = ModelFlags().bZoneCentrifugation;
  s.inhomogeneousSolvent = SolventSettings().gInhomSolvent.bInhomogeneousSolvent;
  s.sedimentingCosolute = s.inhomogeneousSolvent && SolventSettings().gInhomSolvent.bSedimentingCosolute;
  s.dynamicGradient = s.inhomogeneousSolvent && SolventSettings().gInhomSolvent.bCosoluteDynamicGradient;
  return s;
}

bool SpecialGeometry() {
  return LammGlobals().bLinearGeometry || LammGlobals().bPlanarQuadrature || LammGlobals().bExternalLoadingCell || LammGlobals().bElectrophoresis;
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
  SimRun().bSimContinue = 1;
  if (vTimes.empty()) {
    SimRun().bSimLandOnStop = 0;
    SimRun().bSimContinue = 0;
    return;
  }
  SimRun().dSimStopTime = vTimes[0];
  SimRun().bSimLandOnStop = 1;
}

ProfileAmount ScanTimeRecorder::GridAmount() {
  const int N = LammArrays().nSimGridPointsAllocated;
  if (N < 2 || !LammArrays().pLammRadius || !LammArrays().pLammConc) return {};
  // The weights of the grid in use, made again only when its radii moved (the
  // moving grid) or changed; the cell's own geometry for the special cells.
  const std::size_t n = static_cast<std::size_t>(N) + 1;
  if (vWeightRadii.size() != n ||
      !std::equal(LammArrays().pLammRadius + 1, LammArrays().pLammRadius + N + 1, vWeightRadii.begin() + 1)) {
    vWeightRadii.assign(LammArrays().pLammRadius, LammArrays().pLammRadius + n);
    vWeights.assign(n, 0.0);
    const double* r = LammArrays().pLammRadius;
    if (SpecialGeometry()) {
      const GeometryWeight g = SelectGeometryWeight(r, N);
      for (int i = 1; i <= N; ++i)
        vWeights[i] = static_cast<double>(IntegrateNodeWeightGeom(r, N, r[1], r[N], g, i));
    } else {
      for (int i = 1; i <= N; ++i)
        vWeights[i] = static_cast<double>(IntegrateNodeWeight(r, N, i, N));
    }
  }
  return WeightedProfileAmount(vWeights.data(), LammArrays().pLammConc, N);
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
  SimRun().bSimDiverged = 1;
  SimRun().bSimContinue = 0;
  return false;
}

void ScanTimeRecorder::Record(int scan) {
  if (fnRecord) fnRecord(scan, LammArrays().pLammRadius, LammArrays().pLammConc, LammArrays().nSimGridPointsAllocated);
}

void ScanTimeRecorder::Step(double /*change*/) {
  if (bUserAbort) {
    SimRun().bSimContinue = 0;
    return;
  }
  if (bPastLast) {
    if (SimClock().dSimTime >= kFinalProfileTime) SimRun().bSimContinue = 0;
    return;
  }
  const int n = static_cast<int>(vTimes.size());
  // A step lands on the scan time; the tolerance absorbs the sum of the steps.
  bool moved = false;
  while (nNext < n && SimClock().dSimTime >= vTimes[nNext] - 1e-9 * std::max(1.0, vTimes[nNext])) {
    if (!moved && SimRun().bHatGridInUse) MoveHatGrid();
    moved = true;
    if (!ProfileKeepsBalance()) return;
    double next = 0.0;
    if (!ScanAssembled(nNext, &next)) {
      SimRun().dSimStopTime = next;
      SimRun().bSimLandOnStop = 1;
      return;
    }
    RecordNext();
  }
  if (nNext < n) {
    SimRun().dSimStopTime = vTimes[nNext];
    SimRun().bSimLandOnStop = 1;
  } else if (moved) {
    if (bFinalProfile) {
      bPastLast = true;
      SimRun().bSimLandOnStop = 0;
    } else {
      SimRun().bSimContinue = 0;
    }
  }
}

void ScanTimeRecorder::Finish(SimStopReason reason) {
  const int n = static_cast<int>(vTimes.size());
  coverage.Ended(SimClock().dSimTime);
  if (reason == SimStopReason::Failed || bUserAbort) return;
  // A run that ends before its last scan without a stop rule has not computed the
  // later scans.
  if (reason == SimStopReason::Progress && !bPastLast && nNext < n) {
    bEndedEarly = true;
    SimRun().bSimDiverged = 1;
    return;
  }
  if (bPastLast) {
    // The final profile replaces the last scan, once.
    if (SimRun().bHatGridInUse) MoveHatGrid();
    if (ProfileKeepsBalance()) Record(n - 1);
    return;
  }
  if (reason == SimStopReason::SteadyState || reason == SimStopReason::FitRange) {
    if (nNext < n && SimRun().bHatGridInUse) MoveHatGrid();
    if (nNext < n && !ProfileKeepsBalance()) return;
    while (nNext < n) RecordNext();
  }
}

// ---- rotor ----

double SimRotorSpeedAtTime(double t, double dt) {
  return RampRotorSpeed(t, dt, SimRun().dAccelEndTime, SimRun().dAccelRate, SimRun().dFinalRpm, &SimRun().bAccelerating);
}

double ClampStepToAcceleration(double t, double dt, bool ramp, bool cutToEnd, bool* cut) {
  if (!ramp || !SimRun().bAccelerating) return dt;
  dt = std::min(dt, SimRun().dAccelDtMax);
  if (cutToEnd && t + dt > SimRun().dAccelEndTime) {
    dt = SimRun().dAccelEndTime - t;
    if (cut) *cut = true;
  }
  return dt;
}

bool LandStepOnStopTime(double t, double* dt) {
  if (!SimRun().bSimLandOnStop || t + *dt < SimRun().dSimStopTime - 1e-12 * std::max(1.0, SimRun().dSimStopTime)) return false;
  SimRun().bSimLandOnStop = 0;
  *dt = SimRun().dSimStopTime - t;
  return true;
}

// ---- fit-range stop ----

FitRangeStop FindFitLimitPoint(const SimRunSettings& settings, double s) {
  FitRangeStop stop;
  int& iFitLimitPoint = stop.iFitLimitPoint;
  const int N = LammArrays().nSimGridPointsAllocated;
  const double* r = LammArrays().pLammRadius;
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
  stop.fFitLimitLevel = static_cast<float>(1e-4 * LammArrays().pLammConc[iFitLimitPoint]);
  return stop;
}

bool FitRangeCleared(const SimRunSettings& settings, double s, const FitRangeStop& stop) {
  // A uniform profile (s = 0) never clears the range; a band is not a boundary.
  // Nor is it watched in an inhomogeneous solvent, where a species may float back.
  if (!stop.armed || s == 0 || settings.zoneCentrifugation || settings.inhomogeneousSolvent)
    return false;
  return FittedRangeLeftAt(LammArrays().pLammConc, LammArrays().nSimGridPointsAllocated, stop.iFitLimitPoint,
                           stop.s >= 0 ? -1 : 1, stop.fFitLimitLevel) ||
         SimRun().iActiveFirst > stop.iFitLimitPoint;
}

bool SteadyStateTest::Update(double dtUsed, double changePerSecond) {
  if (dtUsed >= 30 && changePerSecond < SimRun().dSteadyStateLimit)
    ++quiet;
  else
    quiet = 0;
  return quiet > 10;
}

SimRunStateGuard::SimRunStateGuard()
    : dMax(SimRun().dMaxRelChange), dLow(SimRun().dMaxRelChangeLow), dTarget(SimRun().dMaxRelChangeTarget) {}
SimRunStateGuard::~SimRunStateGuard() {
  SimRun().dMaxRelChange = dMax;
  SimRun().dMaxRelChangeLow = dLow;
  SimRun().dMaxRelChangeTarget = dTarget;
}

SimOutcome FinishSimRun(SimProgress& progress, SimStopReason reason, const char* tridagMessage,
                        SimStepFloor floor) {
  if (SimRun().bSimFailed || SimRun().bSimDiverged) reason = SimStopReason::Failed;
  if (reason == SimStopReason::SteadyState) SimRun().bSteadyStateReached = true;
  progress.Finish(reason);
  SimOutcome out;
  if (SimRun().bSimFailed) {
    out.status = SimStatus::Singular;
    out.message = tridagMessage && *tridagMessage ? tridagMessage : "singular tridiagonal matrix!";
  } else if (SimRun().bSimDiverged) {
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
  SimRun().dMaxRelChange = 1.0;
  SimRun().dMaxRelChangeLow = 0.1;
  SimRun().dMaxRelChangeTarget = 0.5;
  SimRun().dStepShrinkDivisor = 2.0;
  SimRun().dStepRelaxation = 1.0;
  SimRun().dSimDt = 1.0;
  SimRun().dSimDtMax = 1000.0;
  SimClock().dSimTime = 0.0;
  SimRun().nSimIterations = 0;
  SimRun().dSimStopTime = 0.0;
  SimRun().bSimLandOnStop = 0;
  SimRun().bSimContinue = 1;
  SimRun().bSimFailed = SimRun().bSimDiverged = 0;
  SimRun().dSteadyStateLimit = 1e-6;
  SimRun().bSteadyStateReached = false;
  SimRun().fSimChange = 1.0f;
  SimRun().dSimRpm = SimRun().dFinalRpm = 10000.0;
  SimRun().dAccelRate = 0.0;
  SimRun().bAccelerating = false;
  SimRun().dAccelEndTime = 0.0;
  SimRun().dAccelDtMax = 1.0;
  SimRun().dSimS = SimRun().dSimD = 5.0;
  SimClock().bShowSimMass = false;
  SimRun().dSimMass = 0.0;
  SimRun().pSimWindow = nullptr;
  SimRun().iCurrentSpecies = 0;
  SimClock().dFrameS = SimClock().dFrameSedOmega2 = SimClock().dHatT0 = 0.0;
  SimRun().bHatGridInUse = false;
  SimRun().iActiveFirst = SimRun().iActiveLast = 1;
}

}  // namespace tarmic
