// The moving-grid solution: the inner nodes move with the sedimentation,
// r = r0 exp(sF w^2 (t - t0)), while the first and last nodes stay at the meniscus
// and the bottom. In the reference coordinates r0 the diffusion coefficient enters
// as D / e(t)^2 and the motion of the nodes adds a convection term (the frame
// matrix). Each time the moving nodes have advanced by one node spacing (one grid
// period) the grid is laid again and the profile is shifted by one node.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

#include "lamm/element_integrals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/moving_hat_core.h"

namespace tarmic {

namespace {

constexpr long double kOneSixtieth = 1.0L / 60.0L;

// The object's variable solvent as elements of the moving grid.
class ObjectSolvent final : public MovingHatSolvent {
 public:
  explicit ObjectSolvent(const CLammIdeal& o) : o(o) {}
  double Stiffness(const double* r, int N, int i, int j) const override {
    return static_cast<double>(o.CLVarStiffnessElement(i, j, r, N));
  }
  double Sedimentation(const double* r, int N, int i, int j) const override {
    return static_cast<double>(o.CLVarSedimentationElement(i, j, r, N));
  }
  double MeniscusDiffusionOutflow(const double* r, int /*N*/) const override {
    return o.pViscFactor[1] * r[1] / (r[2] - r[1]);
  }
  double BottomDiffusionOutflow(const double* r, int N) const override {
    return o.CLEndDiffusionFactor(r, N);
  }
  double MeniscusSedimentationOutflow(const double* r, int /*N*/) const override {
    return o.CLEndSedimentationFactor(r, 1);
  }
  double BottomSedimentationOutflow(const double* r, int N) const override {
    return o.CLEndSedimentationFactor(r, N);
  }

 private:
  const CLammIdeal& o;
};

// The object's moving grid as seen by the shared moving-hat arithmetic.
struct ObjectHat {
  ObjectSolvent solvent;
  MovingHatGrid g;
  explicit ObjectHat(CLammIdeal& o) : solvent(o) {
    MovingHatElements& el = g.el;
    el.r = o.pRadius0.data();
    el.N = o.nGrid;
    el.sw2 = o.dSW2;
    el.frameSw2 = o.dFrameSW2;
    // Back-diffusion shut off: the end the species moves towards lets it out.
    el.openMeniscus = o.bShutOffBackDiffusion && o.dS < 0;
    el.openBottom = o.bShutOffBackDiffusion && o.dS > 0;
    el.solvent = o.bInhomogeneousSolvent ? &solvent : nullptr;
    g.meniscus = o.dMeniscus;
    g.bottom = o.dBottom;
    g.relativeEnds =
        o.bAutoSGrid && !o.bAccelerating && !o.bInhomogeneousSolvent && !o.bInhomSolventDynamic;
    g.A = {{o.pMassSub.data(), o.pMassDiag.data(), o.pMassSup.data()},
           {o.pStiffSub.data(), o.pStiffDiag.data(), o.pStiffSup.data()},
           {o.pHatSedSub.data(), o.pHatSedDiag.data(), o.pHatSedSup.data()},
           {o.pFrameSub.data(), o.pFrameDiag.data(), o.pFrameSup.data()}};
  }
  ObjectHat(const ObjectHat&) = delete;
  ObjectHat& operator=(const ObjectHat&) = delete;
};

}  // namespace

double CLammIdeal::CLNodeWeight(int i) const {
  return static_cast<double>(tarmic::IntegrateNodeWeight(pRadius0.data(), nGrid, i, nGrid));
}

// ---- Grid and matrices --------------------------------------------------------------

void CLammIdeal::CLLayMovingGrid() {
  const int N = nGrid;
  const double m = dMeniscus, b = dBottom;
  dBottomOverMeniscus = b / m;
  const long double w = static_cast<long double>(dRpmNow) * 2 * std::numbers::pi * kOneSixtieth;
  dSW2 = static_cast<double>(w * w * dS * 1e-13L);
  dFrameSW2 = static_cast<double>(w * w * dMovingFrameS * 1e-13L);
  nRemeshCount = 0;
  dGridTime0 = dTime;
  dGridPeriod = MovingHatInterval(m, b, N, dMovingFrameS, dFrameSW2);
  dGridRatio = LayMovingHatGrid(pRadius0.data(), N, m, b, dMovingFrameS < 0);
  for (int i = 1; i <= N; ++i) pRadius[i] = pRadius0[i];
  dGridStretch = 1.0;
  bNonUniformGrid = true;
}

void CLammIdeal::CLMovingHatAssemble() {
  CLLayMovingGrid();
  ObjectHat hat(*this);
  AssembleMovingHatMatrices(hat.g.el, bAutoSGrid && !bInhomogeneousSolvent, hat.g.A, true, true);
  // The amounts of phi r dr in the end elements that the re-mesh conserves.
  hatWeights = MovingHatEndWeightsOf(pRadius0.data(), nGrid);
}

void CLammIdeal::CLMovingHatReassemble() {
  const long double w = static_cast<long double>(dRpmNow) * 2 * std::numbers::pi * kOneSixtieth;
  dSW2 = static_cast<double>(w * w * dS * 1e-13L);
  ObjectHat hat(*this);
  AssembleMovingHatMatrices(hat.g.el, false, hat.g.A, false, bInhomSolventDynamic);
}

void CLammIdeal::CLPinGridEnds(double trel) {
  dGridStretch = PlaceMovingHatEnds(pRadius0.data(), nGrid, dMeniscus, dBottom, dFrameSW2, trel);
}

void CLammIdeal::CLMovingGridRadii() {
  const int N = nGrid;
  const double e = std::exp(dFrameSW2 * (dTime - dGridTime0));
  pRadius[1] = dMeniscus;
  for (int i = 2; i < N; ++i) pRadius[i] = e * pRadius0[i];
  pRadius[N] = dBottom;
}

void CLammIdeal::FinishMovingHatStep() {
  if (nArraysAllocated) CLMovingGridRadii();
}

void CLammIdeal::CLPrecomputePeriodStep() {
  ObjectHat hat(*this);
  Tridiagonal P{pPeriodSub.data(), pPeriodDiag.data(), pPeriodSup.data()};
  Tridiagonal L{pPeriodLSub.data(), pPeriodLDiag.data(), pPeriodLSup.data()};
  PrepareMovingHatStep(hat.g, 0.0, dGridPeriod, dD, P, L);
  hatEndsNow = hat.g.now;
  hatEndsAt = hat.g.at;
  dGridStretch = 1.0;
  // The factors of L; every pivot is checked.
  const int N = nGrid;
  std::vector<double> zero(N + 1, 0.0), u(N + 1, 0.0);
  const TridagStatus status =
      TridagFactorSolve(L, zero.data(), u.data(), N, {pPeriodGam.data(), pPeriodBet.data()}, 1);
  if (status != TridagStatus::Ok) ReportTridag(status);
}

void CLammIdeal::CLDampOverflow() { DampMovingHatOverflow(pConc.data(), nGrid, dS, dD); }

void CLammIdeal::CLMovingHatCrankNicolson(double dt) {
  assert(dt > 0);
  const int N = nGrid;
  if (bRampRotor && bAccelerating) {
    dRpmNow = RotorSpeedAtTime(dTime, dt);
    CLMovingHatReassemble();
  }
  const double trel = dTime - dGridTime0;
  const bool steady = !bAccelerating && !bInhomSolventDynamic;
  if (bPeriodStepping && steady && (bWholeStep || (dt == dGridPeriod && trel == 0))) {
    // A whole grid period from a freshly laid grid: the precomputed propagator.
    if (!(bPeriodStepping && bWholeStep)) CLPinGridEnds(0.0);
    TridiagProduct(ConstTridiagonal(pPeriodSub.data(), pPeriodDiag.data(), pPeriodSup.data()),
                   pConcOld.data(), pRhs.data(), N);
    TridagReuseSolve(pPeriodLSub.data(), pRhs.data(), pConc.data(), N,
                     {pPeriodGam.data(), pPeriodBet.data()}, 1);
    CLDampOverflow();
    return;
  }
  ObjectHat hat(*this);
  const TridagStatus status = MovingHatCrankNicolson(
      hat.g, trel, dt, dD, ExplicitMatrix(), ImplicitMatrix(),
      {pTridagGam.data(), pTridagBet.data()}, pConcOld.data(), pRhs.data(), pConc.data());
  hatEndsNow = hat.g.now;
  hatEndsAt = hat.g.at;
  dGridStretch = std::exp(dFrameSW2 * trel);
  if (status != TridagStatus::Ok) ReportTridag(status);
  CLDampOverflow();
}

// ---- Steps and schedule --------------------------------------------------------------

void CLammIdeal::CLMovingHatAdvance() {
  AdvanceTime([this] { CLMovingHatReassemble(); });
  if (nShowM) dReadoutM = CLMovingHatAmount();
}

double CLammIdeal::CLMovingHatAmount() {
  CLPinGridEnds(dTime - dGridTime0);
  const double e = dGridStretch;
  double sum = 0.0;
  for (int i = 1; i <= nGrid; ++i) sum += CLNodeWeight(i) * e * e * pConc[i];
  return sum * kOpticalPath * kSectorAngle;
}

void CLammIdeal::CLMovingHatRemesh() {
  const double trel = dTime - dGridTime0;
  dStretch = std::exp(dFrameSW2 * trel);
  dStretchSq = dStretch * dStretch;
  ObjectHat hat(*this);
  HandOverMovingHat(hat.g, hatWeights, trel, dS, dD, pConc.data(), pConcOld.data());
  dGridTime0 = dTime;
  dGridStretch = 1.0;
  ++nRemeshCount;
}

double CLammIdeal::CLMovingHatStep() {
  const double t = dTime, t0 = dGridTime0, T = dGridPeriod;
  auto clampAcceleration = [&](bool endTest) {
    if (!(bRampRotor && bAccelerating)) return;
    dDt = std::min(dDt, dStepLimit);
    if (endTest && dTime + dDt > dAccelEndTime) dDt = dAccelEndTime - dTime;
  };
  auto periodEnd = [&] { return MovingHatIntervalEnded(dTime, dGridTime0, dGridPeriod); };
  bStepLandsOnOutput = false;
  if (!bPeriodStepping) {
    // Fixed fraction of the period.
    dDt = dDtFixed;
    if (periodEnd()) CLMovingHatRemesh();
    if (dTime + dDt > dGridTime0 + dGridPeriod) dDt = dGridTime0 + dGridPeriod - dTime;
    clampAcceleration(true);
    for (int i = 1; i <= nGrid; ++i) pConcOld[i] = pConc[i];
    if (!LandStepOnOutputTime()) return 1.0;
    CLMovingHatCrankNicolson(dDt);
    const bool first = nIteration == 0;
    CLMovingHatAdvance();
    return first ? dDt : 1.0;
  }
  // Period stepping.
  MovingHatSchedule sch{bStartUp, bFirstStep, bRemainderNext, bWholeStepNext, bWholeStep};
  MovingHatClock clock;
  clock.t = t;
  clock.t0 = t0;
  clock.T = T;
  clock.iterations = nIteration;
  clock.stopPending = bOutputTimePending;
  clock.stopTime = dNextOutputTime;
  const auto clamp = [&](double dt, bool endTest) {
    dDt = dt;
    clampAcceleration(endTest);
    return dDt;
  };
  auto keep = [&] {
    bStartUp = sch.startUp;
    bFirstStep = sch.firstStep;
    bRemainderNext = sch.fillNext;
    bWholeStepNext = sch.wholeNext;
    bWholeStep = sch.whole;
    bOutputTimePending = clock.stopPending;
    bStepLandsOnOutput = clock.landed;
  };
  dDt = PlanWholeIntervalStep(sch, clock, dDt, clamp);
  keep();
  for (int i = 1; i <= nGrid; ++i) pConcOld[i] = pConc[i];
  if (dDt <= 0) {
    dDt = 1.0;
    bStepLandsOnOutput = false;
    return 1.0;
  }
  CLMovingHatCrankNicolson(dDt);
  // End guard: negative values at the end node that the species leaves.
  if (!nSingular) {
    ObjectHat hat(*this);
    dDt = GuardMovingHatEnd(hat.g.el, dS, dDt, pConc.data(), pConcOld.data(), sch, clock,
                            [&](double dt) {
                              bWholeStep = false;
                              CLMovingHatCrankNicolson(dt);
                              return nSingular == 0;
                            });
    keep();
  }
  CLMovingHatAdvance();
  if (bWholeStep || periodEnd()) CLMovingHatRemesh();
  return 1.0;
}

void CLammIdeal::SolveMovingHat() {
  bFixTimeStep = true;
  if (!nArraysAllocated) return;
  if (bAutoSGrid) dMovingFrameS = bInhomogeneousSolvent ? CLLocalFrameS(dS) : dS;
  if (std::fabs(dMovingFrameS) < 1 && dTolerance >= 1) dTolerance = 0.1;
  fChange = 1.0f;
  nSingular = 0;
  nDiscretizationError = 0;
  if (bInhomogeneousSolvent) {
    CLLayMovingGrid();
    CLInitLocalSolvent(pRadius0.data());
  }
  CLMovingHatAssemble();
  CLSetLoadedAmount();
  dDt = 1.0;
  if (bSecondSolution && !CLInitComp2()) bSecondSolution = false;
  dDtFixed = dMovingFrameS == 0 ? dTolerance : dTolerance * nStepRefinement * dGridPeriod;
  if (dDtFixed >= dGridPeriod) {
    dDtFixed = dGridPeriod;
    CLPrecomputePeriodStep();
    bPeriodStepping = true;
    bStartUp = true;
  } else {
    bPeriodStepping = false;
    bWholeStep = false;
  }
  bRemainderNext = bWholeStepNext = false;
  bFirstStep = true;
  iWindowLeft = 1;
  iWindowRight = nGrid;
  CLSetStopReference();
  int quiet = 0;
  while (bRunning) {
    if (nSingular || nDiscretizationError) break;
    const double dtPrev = dDt;
    if (bSecondSolution) dTimeComp2 = dTime;
    fChange = static_cast<float>(CLMovingHatStep());
    if (!ProfileFinite(pConc.data(), 1, nGrid, 1e100)) {
      // A profile that is not finite never passes as a solution.
      bOverflow = true;
      nDiscretizationError = 1;
      break;
    }
    if (bSecondSolution) CLAdvanceComp2();
    if (bInhomSolventDynamic) {
      CLUpdateLocalSolvent(pRadius0.data());
      CLMovingHatReassemble();
    }
    CLEachIterationOutput(fChange);
    fChange = static_cast<float>(fChange / dtPrev);
    if (CLStopReferenceReached()) bRunning = 0;
    if (dtPrev >= 30)
      quiet = fChange < dStopThreshold ? quiet + 1 : 0;
    else
      quiet = 0;
    if (quiet > 10) {
      bStopCriterionMet = true;
      bRunning = 0;
    }
  }
}

}  // namespace tarmic
