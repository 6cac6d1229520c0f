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
  auto& dataSetPart = DataSet();
  auto& lammSettingsPart = LammSettings();
  auto& solventSettingsPart = SolventSettings();
  SimRunSettings s;
  s.meniscus = dataSetPart.fMeniscus;
  s.bottom = dataSetPart.fBottom;
  s.fitLeft = std::min(dataSetPart.fFitLeftLim, dataSetPart.fFitRightLim);
  s.fitRight = std::max(dataSetPart.fFitLeftLim, dataSetPart.fFitRightLim);
  s.fixTimestep = lammSettingsPart.bFixTimeStep;
  s.autoHatS = lammSettingsPart.bAutoSGrid;
  s.frameS = lammSettingsPart.dAutoSGridValue;
  s.rampRotorSpeed = AnalysisSwitches().bRampRotorSpeed;
  s.truncateGrid = lammSettingsPart.bTruncateGrid;
  s.truncLevel = lammSettingsPart.dTruncationLevel;
  s.zoneCentrifugation = ModelFlags().bZoneCentrifugation;
  s.inhomogeneousSolvent = solventSettingsPart.gInhomSolvent.bInhomogeneousSolvent;
  s.sedimentingCosolute = s.inhomogeneousSolvent && solventSettingsPart.gInhomSolvent.bSedimentingCosolute;
  s.dynamicGradient = s.inhomogeneousSolvent && solventSettingsPart.gInhomSolvent.bCosoluteDynamicGradient;
  return s;
}

bool SpecialGeometry() {
  auto& lammGlobalsPart = LammGlobals();
  return lammGlobalsPart.bLinearGeometry || lammGlobalsPart.bPlanarQuadrature || lammGlobalsPart.bExternalLoadingCell || lammGlobalsPart.bElectrophoresis;
}

const char* SimOutcomeCaption(SimStatus status) {
  return status == SimStatus::Diverged ? "DISCRETIZATION ERROR" : "ERROR in simulation";
}

// ---- scan recorder ----

ScanTimeRecorder::ScanTimeRecorder(std::vector<double> scanTimes, RecordFn record,
                                   bool finalProfileToFit)
    : vTimes(std::move(scanTimes)), fnRecord(std::move(record)), bFinalProfile(finalProfileToFit) {}

void ScanTimeRecorder::Start() {
  auto& simRunPart = SimRun();
  nNext = 0;
  coverage.Start(static_cast<int>(vTimes.size()));
  bEndedEarly = false;
  bPastLast = false;
  balance.Reset();
  simRunPart.bSimContinue = 1;
  if (vTimes.empty()) {
    simRunPart.bSimLandOnStop = 0;
    simRunPart.bSimContinue = 0;
    return;
  }
  simRunPart.dSimStopTime = vTimes[0];
  simRunPart.bSimLandOnStop = 1;
}

ProfileAmount ScanTimeRecorder::GridAmount() {
  auto& lammArraysPart = LammArrays();
  const int N = lammArraysPart.nSimGridPointsAllocated;
  if (N < 2 || !lammArraysPart.pLammRadius || !lammArraysPart.pLammConc) return {};
  // The weights of the grid in use, made again only when its radii moved (the
  // moving grid) or changed; the cell's own geometry for the special cells.
  const std::size_t n = static_cast<std::size_t>(N) + 1;
  if (vWeightRadii.size() != n ||
      !std::equal(lammArraysPart.pLammRadius + 1, lammArraysPart.pLammRadius + N + 1, vWeightRadii.begin() + 1)) {
    vWeightRadii.assign(lammArraysPart.pLammRadius, lammArraysPart.pLammRadius + n);
    vWeights.assign(n, 0.0);
    const double* r = lammArraysPart.pLammRadius;
    if (SpecialGeometry()) {
      const GeometryWeight g = SelectGeometryWeight(r, N);
      for (int i = 1; i <= N; ++i)
        vWeights[i] = static_cast<double>(IntegrateNodeWeightGeom(r, N, r[1], r[N], g, i));
    } else {
      for (int i = 1; i <= N; ++i)
        vWeights[i] = static_cast<double>(IntegrateNodeWeight(r, N, i, N));
    }
  }
  return WeightedProfileAmount(vWeights.data(), lammArraysPart.pLammConc, N);
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
  auto& simRunPart = SimRun();
  if (!balance.Started() || balance.Holds(GridAmount())) return true;
  simRunPart.bSimDiverged = 1;
  simRunPart.bSimContinue = 0;
  return false;
}

void ScanTimeRecorder::Record(int scan) {
  auto& lammArraysPart = LammArrays();
  if (fnRecord) fnRecord(scan, lammArraysPart.pLammRadius, lammArraysPart.pLammConc, lammArraysPart.nSimGridPointsAllocated);
}

void ScanTimeRecorder::Step(double /*change*/) {
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  if (bUserAbort) {
    simRunPart.bSimContinue = 0;
    return;
  }
  if (bPastLast) {
    if (simClockPart.dSimTime >= kFinalProfileTime) simRunPart.bSimContinue = 0;
    return;
  }
  const int n = static_cast<int>(vTimes.size());
  // A step lands on the scan time; the tolerance absorbs the sum of the steps.
  bool moved = false;
  while (nNext < n && simClockPart.dSimTime >= vTimes[nNext] - 1e-9 * std::max(1.0, vTimes[nNext])) {
    if (!moved && simRunPart.bHatGridInUse) MoveHatGrid();
    moved = true;
    if (!ProfileKeepsBalance()) return;
    double next = 0.0;
    if (!ScanAssembled(nNext, &next)) {
      simRunPart.dSimStopTime = next;
      simRunPart.bSimLandOnStop = 1;
      return;
    }
    RecordNext();
  }
  if (nNext < n) {
    simRunPart.dSimStopTime = vTimes[nNext];
    simRunPart.bSimLandOnStop = 1;
  } else if (moved) {
    if (bFinalProfile) {
      bPastLast = true;
      simRunPart.bSimLandOnStop = 0;
    } else {
      simRunPart.bSimContinue = 0;
    }
  }
}

void ScanTimeRecorder::Finish(SimStopReason reason) {
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  const int n = static_cast<int>(vTimes.size());
  coverage.Ended(simClockPart.dSimTime);
  if (reason == SimStopReason::Failed || bUserAbort) return;
  // A run that ends before its last scan without a stop rule has not computed the
  // later scans.
  if (reason == SimStopReason::Progress && !bPastLast && nNext < n) {
    bEndedEarly = true;
    simRunPart.bSimDiverged = 1;
    return;
  }
  if (bPastLast) {
    // The final profile replaces the last scan, once.
    if (simRunPart.bHatGridInUse) MoveHatGrid();
    if (ProfileKeepsBalance()) Record(n - 1);
    return;
  }
  if (reason == SimStopReason::SteadyState || reason == SimStopReason::FitRange) {
    if (nNext < n && simRunPart.bHatGridInUse) MoveHatGrid();
    if (nNext < n && !ProfileKeepsBalance()) return;
    while (nNext < n) RecordNext();
  }
}

// ---- rotor ----

double SimRotorSpeedAtTime(double t, double dt) {
  auto& simRunPart = SimRun();
  return RampRotorSpeed(t, dt, simRunPart.dAccelEndTime, simRunPart.dAccelRate, simRunPart.dFinalRpm, &simRunPart.bAccelerating);
}

double ClampStepToAcceleration(double t, double dt, bool ramp, bool cutToEnd, bool* cut) {
  auto& simRunPart = SimRun();
  if (!ramp || !simRunPart.bAccelerating) return dt;
  dt = std::min(dt, simRunPart.dAccelDtMax);
  if (cutToEnd && t + dt > simRunPart.dAccelEndTime) {
    dt = simRunPart.dAccelEndTime - t;
    if (cut) *cut = true;
  }
  return dt;
}

bool LandStepOnStopTime(double t, double* dt) {
  auto& simRunPart = SimRun();
  if (!simRunPart.bSimLandOnStop || t + *dt < simRunPart.dSimStopTime - 1e-12 * std::max(1.0, simRunPart.dSimStopTime)) return false;
  simRunPart.bSimLandOnStop = 0;
  *dt = simRunPart.dSimStopTime - t;
  return true;
}

// ---- fit-range stop ----

FitRangeStop FindFitLimitPoint(const SimRunSettings& settings, double s) {
  auto& lammArraysPart = LammArrays();
  FitRangeStop stop;
  int& iFitLimitPoint = stop.iFitLimitPoint;
  const int N = lammArraysPart.nSimGridPointsAllocated;
  const double* r = lammArraysPart.pLammRadius;
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
  stop.fFitLimitLevel = static_cast<float>(1e-4 * lammArraysPart.pLammConc[iFitLimitPoint]);
  return stop;
}

bool FitRangeCleared(const SimRunSettings& settings, double s, const FitRangeStop& stop) {
  auto& lammArraysPart = LammArrays();
  // A uniform profile (s = 0) never clears the range; a band is not a boundary.
  // Nor is it watched in an inhomogeneous solvent, where a species may float back.
  if (!stop.armed || s == 0 || settings.zoneCentrifugation || settings.inhomogeneousSolvent)
    return false;
  return FittedRangeLeftAt(lammArraysPart.pLammConc, lammArraysPart.nSimGridPointsAllocated, stop.iFitLimitPoint,
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
  auto& simRunPart = SimRun();
  simRunPart.dMaxRelChange = dMax;
  simRunPart.dMaxRelChangeLow = dLow;
  simRunPart.dMaxRelChangeTarget = dTarget;
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
  auto& simClockPart = SimClock();
  auto& simRunPart = SimRun();
  simRunPart.dMaxRelChange = 1.0;
  simRunPart.dMaxRelChangeLow = 0.1;
  simRunPart.dMaxRelChangeTarget = 0.5;
  simRunPart.dStepShrinkDivisor = 2.0;
  simRunPart.dStepRelaxation = 1.0;
  simRunPart.dSimDt = 1.0;
  simRunPart.dSimDtMax = 1000.0;
  simClockPart.dSimTime = 0.0;
  simRunPart.nSimIterations = 0;
  simRunPart.dSimStopTime = 0.0;
  simRunPart.bSimLandOnStop = 0;
  simRunPart.bSimContinue = 1;
  simRunPart.bSimFailed = simRunPart.bSimDiverged = 0;
  simRunPart.dSteadyStateLimit = 1e-6;
  simRunPart.bSteadyStateReached = false;
  simRunPart.fSimChange = 1.0f;
  simRunPart.dSimRpm = simRunPart.dFinalRpm = 10000.0;
  simRunPart.dAccelRate = 0.0;
  simRunPart.bAccelerating = false;
  simRunPart.dAccelEndTime = 0.0;
  simRunPart.dAccelDtMax = 1.0;
  simRunPart.dSimS = simRunPart.dSimD = 5.0;
  simClockPart.bShowSimMass = false;
  simRunPart.dSimMass = 0.0;
  simRunPart.pSimWindow = nullptr;
  simRunPart.iCurrentSpecies = 0;
  simClockPart.dFrameS = simClockPart.dFrameSedOmega2 = simClockPart.dHatT0 = 0.0;
  simRunPart.bHatGridInUse = false;
  simRunPart.iActiveFirst = simRunPart.iActiveLast = 1;
}

}  // namespace tarmic
