#include "propagators/moving_hat_propagator.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "lamm/element_integrals.h"
#include "lamm/moving_hat_core.h"
#include "lamm/tridiagonal.h"
#include "numerics/hydrodynamics.h"
#include "services/run_switches.h"
#include "propagators/inhomogeneous_solvent.h"
#include "propagators/sim_arrays.h"

namespace tarmic {

namespace {

// s w^2 (1/s) of s (S) at rpm.
double SedRate(double s, double rpm) {
  const double w = rpm * kTwoPiOver60;
  return w * w * s * 1e-13;
}

// State of the running (or last) solve.
struct HatRun {
  SimRunSettings settings;
  SimRotor rotor;           // final speed and acceleration
  int N = 0;
  double s = 0.0, D = 0.0;  // species, S and cm^2/s
  bool relative = false;    // X by the combined element (frame moves with the species)
  MovingHatGrid g;          // views of the global arrays
  MovingHatEndWeights w;    // of the reset reference grid
  MovingHatSchedule sch;
  bool fullHatSteps = false;  // whole-interval schedule (else fixed steps)
  double fixedDt = 1.0;       // dHatFixedDt, s
  bool landed = false;        // the current step ends on dSimStopTime
  TridagStatus tridag = TridagStatus::Ok;
  bool inhomogeneous = false;  // the solvent varies with r (factors of InitSolventFactors)
  bool cosolute = false;       // a sedimenting cosolute is solved beside the species
  bool dynamic = false;        // its profile changes the solvent
  double dHatSedOmega2 = 0.0;  // w^2 s 1e-13 of the species, 1/s
  double dFrameStretch = 1.0;  // exp(dFrameSedOmega2 (t - t0)) of the last end placement
  double dGridRatio = 1.0;     // (b/m)^(1/(N-1))
  double dHatInterval = 1e10;  // hat interval T, s
  PropagatorSolvent solvent;   // the element integrals in an inhomogeneous solvent
};
// This module's own state in the analysis.
struct LocalState {
  HatRun gHat{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

Tridiagonal FullHatRhs(const SimWorkArrays& arrays) {
  return {arrays.pFullHatRhsLower, arrays.pFullHatRhsDiag, arrays.pFullHatRhsUpper};
}
Tridiagonal FullHatStep(const SimWorkArrays& arrays) {
  return {arrays.pFullHatStepLower, arrays.pFullHatStepDiag, arrays.pFullHatStepUpper};
}

// Places the reference ends for the time tau since t0; returns e.
double SetHatEnds(double tau) {
  Local().gHat.dFrameStretch = PlaceMovingHatEnds(LammArrays().pLammRadius2, Local().gHat.N, Local().gHat.g.meniscus, Local().gHat.g.bottom,
                                          SimClock().dFrameSedOmega2, tau);
  return Local().gHat.dFrameStretch;
}

void BuildMovingHatGrid(double rpm) {
  HatRun& h = Local().gHat;
  Local().gHat.dHatSedOmega2 = SedRate(h.s, rpm);
  SimClock().dFrameSedOmega2 = SedRate(SimClock().dFrameS, rpm);
  SimClock().dHatT0 = SimClock().dSimTime;
  Local().gHat.dFrameStretch = 1.0;
  Local().gHat.dHatInterval = MovingHatInterval(h.g.meniscus, h.g.bottom, h.N, SimClock().dFrameS, SimClock().dFrameSedOmega2);
  Local().gHat.dGridRatio = LayMovingHatGrid(LammArrays().pLammRadius2, h.N, h.g.meniscus, h.g.bottom, SimClock().dFrameS < 0);
  for (int i = 1; i <= h.N; ++i) LammArrays().pLammRadius[i] = LammArrays().pLammRadius2[i];
}

// Grid, element matrices and end weights; in an inhomogeneous solvent K and S
// carry the local factors of the solvent.
void BuildMovingHatMatrices(double rpm) {
  const SimWorkArrays& arrays = SimWork();
  HatRun& h = Local().gHat;
  BuildMovingHatGrid(rpm);
  MovingHatElements& el = h.g.el;
  el.r = LammArrays().pLammRadius2;
  el.N = h.N;
  el.sw2 = Local().gHat.dHatSedOmega2;
  el.frameSw2 = SimClock().dFrameSedOmega2;
  // Back-diffusion shut off: a sedimenting species leaves through the bottom.
  el.openBottom = h.settings.outflowBottom && h.s > 0;
  el.openMeniscus = false;
  el.solvent = h.inhomogeneous ? &h.solvent : nullptr;
  h.g.A = {SimMassMatrix(arrays),
           {arrays.pHatStiffLower, arrays.pHatStiffDiag, arrays.pHatStiffUpper},
           {arrays.pHatSedLower, arrays.pHatSedDiag, arrays.pHatSedUpper},
           {arrays.pHatMotionLower, arrays.pHatMotionDiag, arrays.pHatMotionUpper}};
  AssembleMovingHatMatrices(el, h.relative, h.g.A, true, true);
  h.w = MovingHatEndWeightsOf(LammArrays().pLammRadius2, h.N);
}

// The species at the current rotor speed (the frame keeps the final speed).
void RefreshMovingHatMatrices() {
  Local().gHat.dHatSedOmega2 = Local().gHat.g.el.sw2 = SedRate(Local().gHat.s, SimRun().dSimRpm);
  AssembleMovingHatMatrices(Local().gHat.g.el, false, Local().gHat.g.A, false, false);
}

// The whole-interval propagator, its left matrix factorised once.
void PrepareFullHatStep() {
  const SimWorkArrays& arrays = SimWork();
  HatRun& h = Local().gHat;
  h.g.relativeEnds = h.relative && !SimRun().bAccelerating;
  PrepareMovingHatStep(h.g, 0.0, Local().gHat.dHatInterval, h.D, FullHatRhs(arrays), FullHatStep(arrays));
  std::vector<double> zero(h.N + 1, 0.0), u(h.N + 1, 0.0);
  h.tridag = TridagFactorSolve(FullHatStep(arrays), zero.data(), u.data(), h.N,
                               {arrays.pFullHatGamma, arrays.pFullHatBeta});
  if (h.tridag != TridagStatus::Ok) SimRun().bSimFailed = 1;
}

void DampEndOverflow() { DampMovingHatOverflow(LammArrays().pLammConc, Local().gHat.N, Local().gHat.s, Local().gHat.D); }

// One Crank-Nicolson step of dt from pLammConcOld into pLammConc.
void MovingHatStep(double dt) {
  const SimWorkArrays& arrays = SimWork();
  HatRun& h = Local().gHat;
  const int N = h.N;
  if (h.settings.rampRotorSpeed && SimRun().bAccelerating) {
    SimRun().dSimRpm = RotorSpeedAtTime(h.rotor, SimClock().dSimTime, dt, &SimRun().bAccelerating);
    RefreshMovingHatMatrices();
  }
  const double tau = SimClock().dSimTime - SimClock().dHatT0;
  if (h.fullHatSteps && !SimRun().bAccelerating && !h.dynamic &&
      (h.sch.whole || (dt == Local().gHat.dHatInterval && tau == 0))) {
    // A whole interval from a freshly laid grid: the stored propagator.
    if (!h.sch.whole) SetHatEnds(0.0);
    TridiagProduct(FullHatRhs(arrays), arrays.pLammConcOld, arrays.pLammRhs, N);
    TridagReuseSolve(arrays.pFullHatStepLower, arrays.pLammRhs, LammArrays().pLammConc, N,
                     {arrays.pFullHatGamma, arrays.pFullHatBeta});
    DampEndOverflow();
    return;
  }
  h.g.relativeEnds = h.relative && !SimRun().bAccelerating;
  const TridagStatus status = MovingHatCrankNicolson(
      h.g, tau, dt, h.D, SimRhsMatrix(arrays), SimStepMatrix(arrays), SimTridagFactors(arrays),
      arrays.pLammConcOld, arrays.pLammRhs, LammArrays().pLammConc);
  Local().gHat.dFrameStretch = std::exp(SimClock().dFrameSedOmega2 * tau);
  if (status != TridagStatus::Ok) {
    // The step is discarded (the profile is that of its start); the loop ends.
    h.tridag = status;
    SimRun().bSimFailed = 1;
  }
  DampEndOverflow();
}

void AdvanceMovingHatTime() {
  ++SimRun().nSimIterations;
  SimClock().dSimTime = Local().gHat.landed ? SimRun().dSimStopTime : SimClock().dSimTime + SimRun().dSimDt;
  const SimRotor& rotor = Local().gHat.rotor;
  if (SimRun().bAccelerating && SimClock().dSimTime >= rotor.accelEndTime) {
    SimRun().dSimRpm = RotorSpeedAtTime(rotor, SimClock().dSimTime, SimRun().dSimDt, &SimRun().bAccelerating);
    RefreshMovingHatMatrices();
    SimRun().bAccelerating = false;
  }
  if (SimClock().bShowSimMass) SimRun().dSimMass = MovingHatTotalAmount();
}

void MoveHatOneInterval() {
  const SimWorkArrays& arrays = SimWork();
  HandOverMovingHat(Local().gHat.g, Local().gHat.w, SimClock().dSimTime - SimClock().dHatT0, Local().gHat.s, Local().gHat.D, LammArrays().pLammConc,
                    arrays.pLammConcOld);
  SimClock().dHatT0 = SimClock().dSimTime;
  Local().gHat.dFrameStretch = 1.0;
}

// One step of the schedule; returns the change measure of the step (1, or the
// step length for the first fixed step).
double MovingHatTimeStep() {
  const SimWorkArrays& arrays = SimWork();
  HatRun& h = Local().gHat;
  const int N = h.N;
  const auto clamp = [&](double dt, bool cutToEnd) {
    return ClampStepToRotor(h.rotor, SimClock().dSimTime, dt, h.settings.rampRotorSpeed, SimRun().bAccelerating,
                            cutToEnd, nullptr);
  };
  MovingHatClock clock;
  double dt;
  if (h.fullHatSteps) {
    clock.t = SimClock().dSimTime;
    clock.t0 = SimClock().dHatT0;
    clock.T = Local().gHat.dHatInterval;
    clock.iterations = SimRun().nSimIterations;
    clock.stopPending = SimRun().bSimLandOnStop != 0;
    clock.stopTime = SimRun().dSimStopTime;
    dt = PlanWholeIntervalStep(h.sch, clock, SimRun().dSimDt, clamp);
    SimRun().bSimLandOnStop = clock.stopPending;
    h.landed = clock.landed;
  } else {
    if (MovingHatIntervalEnded(SimClock().dSimTime, SimClock().dHatT0, Local().gHat.dHatInterval)) MoveHatOneInterval();
    dt = clamp(std::min(h.fixedDt, SimClock().dHatT0 + Local().gHat.dHatInterval - SimClock().dSimTime), true);
    h.landed = SimRun().bSimLandOnStop && SimClock().dSimTime + dt > SimRun().dSimStopTime;
    if (h.landed) {
      SimRun().bSimLandOnStop = 0;
      dt = SimRun().dSimStopTime - SimClock().dSimTime;
    }
  }
  std::copy(LammArrays().pLammConc + 1, LammArrays().pLammConc + N + 1, arrays.pLammConcOld + 1);
  if (dt <= 0) {
    // Nothing left to step (a scan at the present time); never a step backward.
    SimRun().dSimDt = 1.0;
    h.landed = false;
    return 1.0;
  }
  MovingHatStep(dt);
  if (!h.fullHatSteps) {
    const bool first = SimRun().nSimIterations == 0;
    SimRun().dSimDt = dt;
    AdvanceMovingHatTime();
    return first ? dt : 1.0;
  }
  if (!SimRun().bSimFailed) {
    dt = GuardMovingHatEnd(h.g.el, h.s, dt, LammArrays().pLammConc, arrays.pLammConcOld, h.sch, clock,
                           [](double d) {
                             MovingHatStep(d);
                             return !SimRun().bSimFailed;
                           });
    SimRun().bSimLandOnStop = clock.stopPending;
    h.landed = clock.landed;
  }
  const bool whole = h.sch.whole;
  SimRun().dSimDt = dt;
  AdvanceMovingHatTime();
  if (whole || MovingHatIntervalEnded(SimClock().dSimTime, SimClock().dHatT0, Local().gHat.dHatInterval)) MoveHatOneInterval();
  return 1.0;
}

// The relative change of the real profile over a window of at least 30 s: the
// profile at the start is read at the present radii of the nodes (which moved).
class ChangeWindow {
 public:
  void Start() {
    RealRadii(rStart);
    cStart.assign(LammArrays().pLammConc, LammArrays().pLammConc + Local().gHat.N + 1);
    t0 = SimClock().dSimTime;
  }
  double Elapsed() const { return SimClock().dSimTime - t0; }
  // max |c - c_start| / max |c_start| over the window.
  double Change() {
    RealRadii(r);
    double change = 0.0, scale = 1e-300;
    for (int i = 1, k = 1; i <= Local().gHat.N; ++i) {
      while (k < Local().gHat.N - 1 && rStart[k + 1] < r[i]) ++k;
      const double u = std::clamp((r[i] - rStart[k]) / (rStart[k + 1] - rStart[k]), 0.0, 1.0);
      const double before = cStart[k] + u * (cStart[k + 1] - cStart[k]);
      change = std::max(change, std::fabs(LammArrays().pLammConc[i] - before));
      scale = std::max(scale, std::fabs(before));
    }
    return change / scale;
  }

 private:
  static void RealRadii(std::vector<double>& out) {
    const int N = Local().gHat.N;
    const double e = std::exp(SimClock().dFrameSedOmega2 * (SimClock().dSimTime - SimClock().dHatT0));
    out.assign(N + 1, 0.0);
    out[1] = Local().gHat.g.meniscus;
    for (int i = 2; i < N; ++i) out[i] = LammArrays().pLammRadius2[i] * e;
    out[N] = Local().gHat.g.bottom;
  }
  std::vector<double> rStart, cStart, r;
  double t0 = 0.0;
};

bool InputValid(const SimRunSettings& st, const SimSpecies& sp, const SimRotor& rotor) {
  const double frameS = st.autoHatS ? sp.s : st.frameS;
  return std::isfinite(sp.s) && std::isfinite(sp.D) && sp.D >= 0 && std::isfinite(frameS) &&
         std::isfinite(SimRun().dSimRpm) && SimRun().dSimRpm >= 0 && std::isfinite(rotor.finalRpm) && st.meniscus > 0 &&
         st.bottom > st.meniscus && std::isfinite(st.bottom);
}

}  // namespace

SimOutcome SolveLammMovingHat(const SimInput& input, SimProgress& progress) {
  const SimRunSettings& settings = input.settings;
  const SimSpecies& species = input.species;
  SetHatCellEnds(settings.meniscus, settings.bottom);
  SimRunStateGuard guard;
  const int N = LammArrays().nSimGridPointsAllocated;
  if (!LammArrays().bSimArraysAllocated || !LammArrays().pLammRadius2 || N < 6)
    return {SimStatus::NotAllocated, "could not allocate Lamm simulation arrays"};
  if (!InputValid(settings, species, input.rotor))
    return {SimStatus::InvalidInput, "invalid sedimentation parameters"};
  Local().gHat = HatRun{};
  HatRun& h = Local().gHat;
  h.settings = settings;
  h.rotor = input.rotor;
  h.N = N;
  h.s = species.s;
  h.D = species.D;
  h.g.meniscus = settings.meniscus;
  h.g.bottom = settings.bottom;
  h.inhomogeneous = settings.inhomogeneousSolvent;
  h.cosolute = h.inhomogeneous && settings.sedimentingCosolute;
  h.dynamic = h.cosolute && settings.dynamicGradient;
  // In an inhomogeneous solvent the frame moves with the species in the mean
  // solvent of the cell, and the motion relative to the species is F - S.
  SimClock().dFrameS =
      settings.autoHatS ? (h.inhomogeneous ? SolventFactorOfValue(input.solvent, h.s) : h.s) : settings.frameS;
  h.relative = settings.autoHatS && !h.inhomogeneous;
  if (std::fabs(SimClock().dFrameS) < 1 && SimRun().dMaxRelChange >= 1) SimRun().dMaxRelChange = 0.1;
  SimRun().fSimChange = 1.0f;
  SimRun().bSimFailed = SimRun().bSimDiverged = 0;
  SimRun().iActiveFirst = 1;
  SimRun().iActiveLast = N;
  SimRun().bHatGridInUse = true;
  // Matrices at the final speed while the rotor accelerates (the species follows
  // the rotor from the first step on, the frame keeps this speed).
  const double frameRpm = settings.rampRotorSpeed && SimRun().bAccelerating ? h.rotor.finalRpm : SimRun().dSimRpm;
  if (h.inhomogeneous) {
    BuildMovingHatGrid(frameRpm);
    InitSolventFactors(input.solvent, LammArrays().pLammRadius2, N);
  }
  BuildMovingHatMatrices(frameRpm);
  // The amount every recorded profile is measured against, on the laid grid.
  progress.TakeLoadedAmount(!h.g.el.openBottom && !h.g.el.openMeniscus, h.s);
  SimRun().dSimDt = 1.0;
  if (h.cosolute) {
    std::string message;
    if (!InitCosolute(input.solvent, {h.g.meniscus, h.g.bottom}, &message)) return {SimStatus::InvalidInput, message};
  }
  h.fixedDt = SimClock().dFrameS == 0 ? SimRun().dMaxRelChange : SimRun().dMaxRelChange * Local().gHat.dHatInterval;
  if (h.fixedDt >= Local().gHat.dHatInterval) {
    h.fixedDt = Local().gHat.dHatInterval;
    h.fullHatSteps = true;
    PrepareFullHatStep();
  }
  SimRun().dSimDtMax = h.s == 0 ? 1000.0 : std::clamp(0.5 * SimRun().dSimRpm * SimRun().dSimRpm * h.D / h.s, 10.0, 1000.0);
  const FitRangeStop fitStop = FindFitLimitPoint(settings, h.s);

  SimStopReason reason = SimStopReason::Progress;
  SteadyStateTest steady;
  ChangeWindow window;
  window.Start();
  while (SimRun().bSimContinue) {
    if (SimRun().bSimFailed || SimRun().bSimDiverged) break;
    if (h.cosolute) Cosolute().dCosoluteTime = SimClock().dSimTime;
    const float change = static_cast<float>(MovingHatTimeStep());
    if (SimRun().bSimFailed) break;
    if (h.cosolute) {
      AdvanceCosolute();
      if (SimRun().bSimFailed) break;
    }
    if (h.dynamic) {
      // The solvent of the next step: K and S with the new factors.
      UpdateDynamicSolventFactors(LammArrays().pLammRadius2, N);
      AssembleMovingHatMatrices(h.g.el, false, h.g.A, false, true);
    }
    if (!ProfileFinite(LammArrays().pLammConc, 1, N, 1e100)) {
      // A profile that is not finite never passes as a solution.
      SimRun().bSimDiverged = 1;
      break;
    }
    SimRun().fSimChange = change;
    progress.Step(change);
    if (FitRangeCleared(settings, h.s, fitStop)) {
      SimRun().bSimContinue = 0;
      reason = SimStopReason::FitRange;
    }
    // Every step reports a change of 1: the steady-state test reads the real
    // profile instead, over windows of at least 30 s.
    if (window.Elapsed() >= 30) {
      // The change over the window itself: a change per second below the limit
      // still adds up over the hours of a slow run.
      if (steady.Update(window.Elapsed(), window.Change()) && SimRun().bSimContinue) {
        SimRun().bSimContinue = 0;
        reason = SimStopReason::SteadyState;
      }
      window.Start();
    }
  }
  const char* tridag = h.tridag != TridagStatus::Ok ? TridagMessage(h.tridag) : Cosolute().szCosoluteTridagMessage;
  return FinishSimRun(progress, reason, tridag);
}

double MovingHatTotalAmount() {
  const int N = Local().gHat.N;
  if (N == 0 || !LammArrays().pLammRadius2 || N != LammArrays().nSimGridPointsAllocated) return 0.0;
  const double e = SetHatEnds(SimClock().dSimTime - SimClock().dHatT0);
  double sum = 0.0;
  for (int i = 1; i <= N; ++i) sum += IntegrateNodeWeightHat(i) * LammArrays().pLammConc[i];
  return sum * e * e * kSectorAmountFactor;
}

// ---- Elements on the reference grid ----
// (N = 0 without the moving-hat block: every element is then 0.)
namespace {
int HatNodes() { return LammArrays().pLammRadius2 ? LammArrays().nSimGridPointsAllocated : 0; }
}  // namespace

double IntegrateMassElementHat(int i, int j) {
  const int N = HatNodes();
  return static_cast<double>(IntegrateMassElement(LammArrays().pLammRadius2, N, i, j, N));
}
double IntegrateStiffnessElementHat(int i, int j) {
  const int N = HatNodes();
  return static_cast<double>(IntegrateStiffnessElement(LammArrays().pLammRadius2, N, i, j, N));
}
double IntegrateSedimentationElementHat(int i, int j) {
  const int N = HatNodes();
  return static_cast<double>(IntegrateSedimentationElement(LammArrays().pLammRadius2, N, i, j, N));
}
double IntegrateFrameMotionElementHat(int i, int j) {
  return static_cast<double>(IntegrateFrameElement(LammArrays().pLammRadius2, HatNodes(), i, j));
}
double IntegrateRelativeMotionElementHat(int i, int j) {
  return static_cast<double>(IntegrateRelativeFrameElement(LammArrays().pLammRadius2, HatNodes(), i, j));
}
double IntegrateNodeWeightHat(int i) {
  const int N = HatNodes();
  return static_cast<double>(IntegrateNodeWeight(LammArrays().pLammRadius2, N, i, N));
}

}  // namespace tarmic
