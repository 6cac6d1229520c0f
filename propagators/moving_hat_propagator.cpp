#include "propagators/moving_hat_propagator.h"

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
HatRun gHat;

Tridiagonal FullHatRhs(const SimWorkArrays& arrays) {
  return {arrays.pFullHatRhsLower, arrays.pFullHatRhsDiag, arrays.pFullHatRhsUpper};
}
Tridiagonal FullHatStep(const SimWorkArrays& arrays) {
  return {arrays.pFullHatStepLower, arrays.pFullHatStepDiag, arrays.pFullHatStepUpper};
}

// Places the reference ends for the time tau since t0; returns e.
double SetHatEnds(double tau) {
  gHat.dFrameStretch = PlaceMovingHatEnds(pLammRadius2, gHat.N, gHat.g.meniscus, gHat.g.bottom,
                                          dFrameSedOmega2, tau);
  return gHat.dFrameStretch;
}

void BuildMovingHatGrid(double rpm) {
  HatRun& h = gHat;
  gHat.dHatSedOmega2 = SedRate(h.s, rpm);
  dFrameSedOmega2 = SedRate(dFrameS, rpm);
  dHatT0 = dSimTime;
  gHat.dFrameStretch = 1.0;
  gHat.dHatInterval = MovingHatInterval(h.g.meniscus, h.g.bottom, h.N, dFrameS, dFrameSedOmega2);
  gHat.dGridRatio = LayMovingHatGrid(pLammRadius2, h.N, h.g.meniscus, h.g.bottom, dFrameS < 0);
  for (int i = 1; i <= h.N; ++i) pLammRadius[i] = pLammRadius2[i];
}

// Grid, element matrices and end weights; in an inhomogeneous solvent K and S
// carry the local factors of the solvent.
void BuildMovingHatMatrices(double rpm) {
  const SimWorkArrays& arrays = SimWork();
  HatRun& h = gHat;
  BuildMovingHatGrid(rpm);
  MovingHatElements& el = h.g.el;
  el.r = pLammRadius2;
  el.N = h.N;
  el.sw2 = gHat.dHatSedOmega2;
  el.frameSw2 = dFrameSedOmega2;
  // Back-diffusion shut off: a sedimenting species leaves through the bottom.
  el.openBottom = h.settings.outflowBottom && h.s > 0;
  el.openMeniscus = false;
  el.solvent = h.inhomogeneous ? &h.solvent : nullptr;
  h.g.A = {SimMassMatrix(arrays),
           {arrays.pHatStiffLower, arrays.pHatStiffDiag, arrays.pHatStiffUpper},
           {arrays.pHatSedLower, arrays.pHatSedDiag, arrays.pHatSedUpper},
           {arrays.pHatMotionLower, arrays.pHatMotionDiag, arrays.pHatMotionUpper}};
  AssembleMovingHatMatrices(el, h.relative, h.g.A, true, true);
  h.w = MovingHatEndWeightsOf(pLammRadius2, h.N);
}

// The species at the current rotor speed (the frame keeps the final speed).
void RefreshMovingHatMatrices() {
  gHat.dHatSedOmega2 = gHat.g.el.sw2 = SedRate(gHat.s, dSimRpm);
  AssembleMovingHatMatrices(gHat.g.el, false, gHat.g.A, false, false);
}

// The whole-interval propagator, its left matrix factorised once.
void PrepareFullHatStep() {
  const SimWorkArrays& arrays = SimWork();
  HatRun& h = gHat;
  h.g.relativeEnds = h.relative && !bAccelerating;
  PrepareMovingHatStep(h.g, 0.0, gHat.dHatInterval, h.D, FullHatRhs(arrays), FullHatStep(arrays));
  std::vector<double> zero(h.N + 1, 0.0), u(h.N + 1, 0.0);
  h.tridag = TridagFactorSolve(FullHatStep(arrays), zero.data(), u.data(), h.N,
                               {arrays.pFullHatGamma, arrays.pFullHatBeta});
  if (h.tridag != TridagStatus::Ok) bSimFailed = 1;
}

void DampEndOverflow() { DampMovingHatOverflow(pLammConc, gHat.N, gHat.s, gHat.D); }

// One Crank-Nicolson step of dt from pLammConcOld into pLammConc.
void MovingHatStep(double dt) {
  const SimWorkArrays& arrays = SimWork();
  HatRun& h = gHat;
  const int N = h.N;
  if (h.settings.rampRotorSpeed && bAccelerating) {
    dSimRpm = SimRotorSpeedAtTime(dSimTime, dt);
    RefreshMovingHatMatrices();
  }
  const double tau = dSimTime - dHatT0;
  if (h.fullHatSteps && !bAccelerating && !h.dynamic &&
      (h.sch.whole || (dt == gHat.dHatInterval && tau == 0))) {
    // A whole interval from a freshly laid grid: the stored propagator.
    if (!h.sch.whole) SetHatEnds(0.0);
    TridiagProduct(FullHatRhs(arrays), arrays.pLammConcOld, arrays.pLammRhs, N);
    TridagReuseSolve(arrays.pFullHatStepLower, arrays.pLammRhs, pLammConc, N,
                     {arrays.pFullHatGamma, arrays.pFullHatBeta});
    DampEndOverflow();
    return;
  }
  h.g.relativeEnds = h.relative && !bAccelerating;
  const TridagStatus status = MovingHatCrankNicolson(
      h.g, tau, dt, h.D, SimRhsMatrix(arrays), SimStepMatrix(arrays), SimTridagFactors(arrays),
      arrays.pLammConcOld, arrays.pLammRhs, pLammConc);
  gHat.dFrameStretch = std::exp(dFrameSedOmega2 * tau);
  if (status != TridagStatus::Ok) {
    // The step is discarded (the profile is that of its start); the loop ends.
    h.tridag = status;
    bSimFailed = 1;
  }
  DampEndOverflow();
}

void AdvanceMovingHatTime() {
  ++nSimIterations;
  dSimTime = gHat.landed ? dSimStopTime : dSimTime + dSimDt;
  if (bAccelerating && dSimTime >= dAccelEndTime) {
    dSimRpm = SimRotorSpeedAtTime(dSimTime, dSimDt);
    RefreshMovingHatMatrices();
    bAccelerating = false;
  }
  if (bShowSimMass) dSimMass = MovingHatTotalAmount();
}

void MoveHatOneInterval() {
  const SimWorkArrays& arrays = SimWork();
  HandOverMovingHat(gHat.g, gHat.w, dSimTime - dHatT0, gHat.s, gHat.D, pLammConc,
                    arrays.pLammConcOld);
  dHatT0 = dSimTime;
  gHat.dFrameStretch = 1.0;
}

// One step of the schedule; returns the change measure of the step (1, or the
// step length for the first fixed step).
double MovingHatTimeStep() {
  const SimWorkArrays& arrays = SimWork();
  HatRun& h = gHat;
  const int N = h.N;
  const auto clamp = [&](double dt, bool cutToEnd) {
    return ClampStepToAcceleration(dSimTime, dt, h.settings.rampRotorSpeed, cutToEnd, nullptr);
  };
  MovingHatClock clock;
  double dt;
  if (h.fullHatSteps) {
    clock.t = dSimTime;
    clock.t0 = dHatT0;
    clock.T = gHat.dHatInterval;
    clock.iterations = nSimIterations;
    clock.stopPending = bSimLandOnStop != 0;
    clock.stopTime = dSimStopTime;
    dt = PlanWholeIntervalStep(h.sch, clock, dSimDt, clamp);
    bSimLandOnStop = clock.stopPending;
    h.landed = clock.landed;
  } else {
    if (MovingHatIntervalEnded(dSimTime, dHatT0, gHat.dHatInterval)) MoveHatOneInterval();
    dt = clamp(std::min(h.fixedDt, dHatT0 + gHat.dHatInterval - dSimTime), true);
    h.landed = bSimLandOnStop && dSimTime + dt > dSimStopTime;
    if (h.landed) {
      bSimLandOnStop = 0;
      dt = dSimStopTime - dSimTime;
    }
  }
  std::copy(pLammConc + 1, pLammConc + N + 1, arrays.pLammConcOld + 1);
  if (dt <= 0) {
    // Nothing left to step (a scan at the present time); never a step backward.
    dSimDt = 1.0;
    h.landed = false;
    return 1.0;
  }
  MovingHatStep(dt);
  if (!h.fullHatSteps) {
    const bool first = nSimIterations == 0;
    dSimDt = dt;
    AdvanceMovingHatTime();
    return first ? dt : 1.0;
  }
  if (!bSimFailed) {
    dt = GuardMovingHatEnd(h.g.el, h.s, dt, pLammConc, arrays.pLammConcOld, h.sch, clock,
                           [](double d) {
                             MovingHatStep(d);
                             return !bSimFailed;
                           });
    bSimLandOnStop = clock.stopPending;
    h.landed = clock.landed;
  }
  const bool whole = h.sch.whole;
  dSimDt = dt;
  AdvanceMovingHatTime();
  if (whole || MovingHatIntervalEnded(dSimTime, dHatT0, gHat.dHatInterval)) MoveHatOneInterval();
  return 1.0;
}

// The relative change of the real profile over a window of at least 30 s: the
// profile at the start is read at the present radii of the nodes (which moved).
class ChangeWindow {
 public:
  void Start() {
    RealRadii(rStart);
    cStart.assign(pLammConc, pLammConc + gHat.N + 1);
    t0 = dSimTime;
  }
  double Elapsed() const { return dSimTime - t0; }
  // max |c - c_start| / max |c_start| over the window.
  double Change() {
    RealRadii(r);
    double change = 0.0, scale = 1e-300;
    for (int i = 1, k = 1; i <= gHat.N; ++i) {
      while (k < gHat.N - 1 && rStart[k + 1] < r[i]) ++k;
      const double u = std::clamp((r[i] - rStart[k]) / (rStart[k + 1] - rStart[k]), 0.0, 1.0);
      const double before = cStart[k] + u * (cStart[k + 1] - cStart[k]);
      change = std::max(change, std::fabs(pLammConc[i] - before));
      scale = std::max(scale, std::fabs(before));
    }
    return change / scale;
  }

 private:
  static void RealRadii(std::vector<double>& out) {
    const int N = gHat.N;
    const double e = std::exp(dFrameSedOmega2 * (dSimTime - dHatT0));
    out.assign(N + 1, 0.0);
    out[1] = gHat.g.meniscus;
    for (int i = 2; i < N; ++i) out[i] = pLammRadius2[i] * e;
    out[N] = gHat.g.bottom;
  }
  std::vector<double> rStart, cStart, r;
  double t0 = 0.0;
};

bool InputValid(const SimRunSettings& st, const SimSpecies& sp) {
  const double frameS = st.autoHatS ? sp.s : st.frameS;
  return std::isfinite(sp.s) && std::isfinite(sp.D) && sp.D >= 0 && std::isfinite(frameS) &&
         std::isfinite(dSimRpm) && dSimRpm >= 0 && std::isfinite(dFinalRpm) && st.meniscus > 0 &&
         st.bottom > st.meniscus && std::isfinite(st.bottom);
}

}  // namespace

SimOutcome SolveLammMovingHat(const SimRunSettings& settings, const SimSpecies& species,
                              SimProgress& progress) {
  SimRunStateGuard guard;
  const int N = nSimGridPointsAllocated;
  if (!bSimArraysAllocated || !pLammRadius2 || N < 6)
    return {SimStatus::NotAllocated, "could not allocate Lamm simulation arrays"};
  if (!InputValid(settings, species))
    return {SimStatus::InvalidInput, "invalid sedimentation parameters"};
  gHat = HatRun{};
  HatRun& h = gHat;
  h.settings = settings;
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
  dFrameS =
      settings.autoHatS ? (h.inhomogeneous ? SolventFactorOfValue(h.s) : h.s) : settings.frameS;
  h.relative = settings.autoHatS && !h.inhomogeneous;
  if (std::fabs(dFrameS) < 1 && dMaxRelChange >= 1) dMaxRelChange = 0.1;
  fSimChange = 1.0f;
  bSimFailed = bSimDiverged = 0;
  iActiveFirst = 1;
  iActiveLast = N;
  bHatGridInUse = true;
  // Matrices at the final speed while the rotor accelerates (the species follows
  // the rotor from the first step on, the frame keeps this speed).
  const double frameRpm = settings.rampRotorSpeed && bAccelerating ? dFinalRpm : dSimRpm;
  if (h.inhomogeneous) {
    BuildMovingHatGrid(frameRpm);
    InitSolventFactors(pLammRadius2, N);
  }
  BuildMovingHatMatrices(frameRpm);
  // The amount every recorded profile is measured against, on the laid grid.
  progress.TakeLoadedAmount(!h.g.el.openBottom && !h.g.el.openMeniscus, h.s);
  dSimDt = 1.0;
  if (h.cosolute) {
    std::string message;
    if (!InitCosolute(&message)) return {SimStatus::InvalidInput, message};
  }
  h.fixedDt = dFrameS == 0 ? dMaxRelChange : dMaxRelChange * gHat.dHatInterval;
  if (h.fixedDt >= gHat.dHatInterval) {
    h.fixedDt = gHat.dHatInterval;
    h.fullHatSteps = true;
    PrepareFullHatStep();
  }
  dSimDtMax = h.s == 0 ? 1000.0 : std::clamp(0.5 * dSimRpm * dSimRpm * h.D / h.s, 10.0, 1000.0);
  const FitRangeStop fitStop = FindFitLimitPoint(settings, h.s);

  SimStopReason reason = SimStopReason::Progress;
  SteadyStateTest steady;
  ChangeWindow window;
  window.Start();
  while (bSimContinue) {
    if (bSimFailed || bSimDiverged) break;
    if (h.cosolute) dCosoluteTime = dSimTime;
    const float change = static_cast<float>(MovingHatTimeStep());
    if (bSimFailed) break;
    if (h.cosolute) {
      AdvanceCosolute();
      if (bSimFailed) break;
    }
    if (h.dynamic) {
      // The solvent of the next step: K and S with the new factors.
      UpdateDynamicSolventFactors(pLammRadius2, N);
      AssembleMovingHatMatrices(h.g.el, false, h.g.A, false, true);
    }
    if (!ProfileFinite(pLammConc, 1, N, 1e100)) {
      // A profile that is not finite never passes as a solution.
      bSimDiverged = 1;
      break;
    }
    fSimChange = change;
    progress.Step(change);
    if (FitRangeCleared(settings, h.s, fitStop)) {
      bSimContinue = 0;
      reason = SimStopReason::FitRange;
    }
    // Every step reports a change of 1: the steady-state test reads the real
    // profile instead, over windows of at least 30 s.
    if (window.Elapsed() >= 30) {
      // The change over the window itself: a change per second below the limit
      // still adds up over the hours of a slow run.
      if (steady.Update(window.Elapsed(), window.Change()) && bSimContinue) {
        bSimContinue = 0;
        reason = SimStopReason::SteadyState;
      }
      window.Start();
    }
  }
  const char* tridag = h.tridag != TridagStatus::Ok ? TridagMessage(h.tridag) : szCosoluteTridagMessage;
  return FinishSimRun(progress, reason, tridag);
}

double MovingHatTotalAmount() {
  const int N = gHat.N;
  if (N == 0 || !pLammRadius2 || N != nSimGridPointsAllocated) return 0.0;
  const double e = SetHatEnds(dSimTime - dHatT0);
  double sum = 0.0;
  for (int i = 1; i <= N; ++i) sum += IntegrateNodeWeightHat(i) * pLammConc[i];
  return sum * e * e * kSectorAmountFactor;
}

// ---- Elements on the reference grid ----
// (N = 0 without the moving-hat block: every element is then 0.)
namespace {
int HatNodes() { return pLammRadius2 ? nSimGridPointsAllocated : 0; }
}  // namespace

double IntegrateMassElementHat(int i, int j) {
  const int N = HatNodes();
  return static_cast<double>(IntegrateMassElement(pLammRadius2, N, i, j, N));
}
double IntegrateStiffnessElementHat(int i, int j) {
  const int N = HatNodes();
  return static_cast<double>(IntegrateStiffnessElement(pLammRadius2, N, i, j, N));
}
double IntegrateSedimentationElementHat(int i, int j) {
  const int N = HatNodes();
  return static_cast<double>(IntegrateSedimentationElement(pLammRadius2, N, i, j, N));
}
double IntegrateFrameMotionElementHat(int i, int j) {
  return static_cast<double>(IntegrateFrameElement(pLammRadius2, HatNodes(), i, j));
}
double IntegrateRelativeMotionElementHat(int i, int j) {
  return static_cast<double>(IntegrateRelativeFrameElement(pLammRadius2, HatNodes(), i, j));
}
double IntegrateNodeWeightHat(int i) {
  const int N = HatNodes();
  return static_cast<double>(IntegrateNodeWeight(pLammRadius2, N, i, N));
}

}  // namespace tarmic
