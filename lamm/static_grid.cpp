// The static-grid solution: Crank-Nicolson steps on a fixed radial grid with the
// step length controlled by the largest relative change of the profile.
//
// For a sedimenting species most of the grid is either emptied (behind the
// boundary) or plateau (ahead of it). The solution therefore works on an active
// window of nodes iWindowLeft..iWindowRight: the left edge follows the emptied
// region, the right edge grows in tenths of the grid as the boundary approaches,
// and the nodes beyond it hold the plateau diluted analytically, c0 exp(-2 s w^2 t).
// The window's last row lets material flow out into that plateau ("shut off
// back-diffusion").
#include <algorithm>
#include <cassert>
#include <cmath>

#include "lamm/element_integrals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/static_grid_core.h"
#include "lamm/step_control.h"

namespace tarmic {

namespace {
}

// ---- Element integrals on the object's grid ----------------------------------------

long double CLammIdeal::IntegrateMassElementEquidistant(int i, int j) {
  dElementWidth = EquidistantStep(dMeniscus, dBottom, nGrid);
  return tarmic::IntegrateMassElementEquidistant(pRadius.data(), nGrid, dElementWidth, i, j);
}
long double CLammIdeal::IntegrateStiffnessElement3Equidistant(int i, int j, int k) {
  dElementWidth = EquidistantStep(dMeniscus, dBottom, nGrid);
  return tarmic::IntegrateStiffnessElement3Equidistant(pRadius.data(), nGrid, dElementWidth, i, j, k);
}
long double CLammIdeal::IntegrateSedimentationElement3Equidistant(int i, int j, int k) {
  dElementWidth = EquidistantStep(dMeniscus, dBottom, nGrid);
  return tarmic::IntegrateSedimentationElement3Equidistant(pRadius.data(), nGrid, dElementWidth, i, j,
                                                          k);
}
long double CLammIdeal::IntegrateNodeWeight(int i, int n) const {
  return tarmic::IntegrateNodeWeight(pRadius.data(), nGrid, i, n);
}
long double CLammIdeal::IntegrateMassElement(int i, int j, int n) const {
  return tarmic::IntegrateMassElement(pRadius.data(), nGrid, i, j, n);
}
long double CLammIdeal::IntegrateStiffnessElement(int i, int j, int n) const {
  return tarmic::IntegrateStiffnessElement(pRadius.data(), nGrid, i, j, n);
}
long double CLammIdeal::IntegrateSedimentationElement(int i, int j, int n) const {
  return tarmic::IntegrateSedimentationElement(pRadius.data(), nGrid, i, j, n);
}

// ---- Matrices --------------------------------------------------------------------------

namespace {

// Row i of the mass matrix M and the transport matrix A = sw2 S - D K of a system
// whose last node is np (M dc/dt = A c, closed ends).
void StaticGridRow(CLammIdeal& o, int i, int np, double sw2) {
  const double* r = o.pRadius.data();
  const int N = o.nGrid;
  const double D = o.dD;
  double m[3] = {0, 0, 0}, a[3] = {0, 0, 0};  // sub, diag, sup
  // Back-diffusion shut-off: the flux r D dc/dr - sw2 r^2 c of the end node towards
  // which the species moves enters its equation, so that material leaves through
  // that end instead of diffusing back.
  if (!o.bInhomogeneousSolvent) {
    const double h = (o.dBottom - o.dMeniscus) / (N - 1);
    tarmic::StaticGridRow(r, N, i, np, o.bNonUniformGrid, h, sw2, D,
                          o.bShutOffBackDiffusion && o.dS > 0, m, a);
  } else {
    for (int k = 0; k < 3; ++k) {
      const int j = i - 1 + k;
      m[k] = static_cast<double>(IntegrateMassElement(r, N, i, j, np));
      a[k] = static_cast<double>(sw2 * o.CLVarSedimentationElement(i, j, r, np) -
                                 D * o.CLVarStiffnessElement(i, j, r, np));
    }
    if (i == 1) m[0] = a[0] = 0.0;
    if (i == np) m[2] = a[2] = 0.0;
    if (o.bShutOffBackDiffusion && o.dS > 0 && i == np) {
      const double fd = o.CLEndDiffusionFactor(r, np);
      a[0] -= D * fd;
      a[1] += D * fd - sw2 * o.CLEndSedimentationFactor(r, np);
    }
  }
  if (o.bShutOffBackDiffusion && o.dS < 0 && i == 1 && !o.bInhomogeneousSolvent) {
    // The flux through the meniscus of a floating species, -(r D dc/dr - sw2 r^2 c).
    const double g = r[2] - r[1];
    a[2] -= D * r[1] / g;
    a[1] += sw2 * r[1] * r[1] + D * r[1] / g;
  }
  o.MassMatrix().SetRow(i, m);
  o.TransportMatrix().SetRow(i, a);
}

double CurrentSW2(const CLammIdeal& o) { return SedimentationRate(o.dS, o.dRpmNow); }

}  // namespace

void CLammIdeal::CLStaticGridAssemble(int n) {
  const double sw2 = CurrentSW2(*this);
  if (bRampRotor) dPlateauSW2 = sw2;
  const int np = std::min(n, nGrid);
  if (bShutOffBackDiffusion && dS < 0 && bInhomogeneousSolvent) {
    ReportMessage(
        "\"shut off back-diffusion\" does not apply to a floating species in an inhomogeneous "
        "solvent: its meniscus stays closed.");
  }
  for (int i = 1; i <= np; ++i) StaticGridRow(*this, i, np, sw2);
  nRowsActive = nRowsBuilt = np;
  bMatricesChanged = true;
}

void CLammIdeal::CLbShutOffBackDiffusion(int n) {
  if (n == nRowsActive) return;
  bMatricesChanged = true;
  if (n > nRowsBuilt) {
    CLStaticGridAssemble(n);
    return;
  }
  const double sw2 = CurrentSW2(*this);
  const int np = std::min(n, nGrid);
  const int old = nRowsActive;
  // The former end rows get the entries of the full build again, then the new end
  // rows are formed.
  for (int i = std::max(1, old - 1); i <= old; ++i) StaticGridRow(*this, i, nRowsBuilt, sw2);
  for (int i = std::max(1, np - 1); i <= np; ++i) StaticGridRow(*this, i, np, sw2);
  nRowsActive = np;
}

void CLammIdeal::CLStaticGridFormCrankNicolson(double dt, int n) {
  FormCrankNicolson(MassMatrix(), TransportMatrix(), dt, ImplicitMatrix(), ExplicitMatrix(), 1,
                    std::min(nGrid, n));
}

// ---- Active window -------------------------------------------------------------------

int CLammIdeal::CLMoveWindowLeft() {
  if (bNoLeftCut || bNoWindow) {
    iWindowLeft = 1;
    return 1;
  }
  iWindowLeft = AdvanceActiveStart(pConc.data(), iWindowLeft, iWindowRight, dNegTolerance,
                                   nWindowLeftMax);
  return iWindowLeft;
}

int CLammIdeal::CLMoveWindowRight(double t) {
  const int N = nGrid;
  if (bNoRightCut || bNoWindow) {
    iWindowRight = N;
    return N;
  }
  if (iWindowRight == N) return N;
  // Radial dilution of the plateau ahead of the boundary.
  if (bRampRotor)
    dPlateauConc *= std::exp(-2 * dPlateauSW2 * (t - dPlateauTime));
  else
    dPlateauConc = dPlateauConc0 * std::exp(-2 * dPlateauSW2 * (t - dRunStartTime));
  dPlateauTime = t;
  // The empty-node level is absolute (relative to c(1)); the plateau test is relative.
  dRightCutLevel = (1 - dTruncateLevel) * dPlateauConc;
  const int edge = GrownActiveEnd(pConc.data(), iWindowRight, nWindowGrow, N, dRightCutLevel);
  if (edge != iWindowRight) {
    iWindowRight = edge;
    CLbShutOffBackDiffusion(iWindowRight);
  }
  return iWindowRight;
}

// ---- One trial step --------------------------------------------------------------------

void CLammIdeal::CLStaticGridTrialStep(double dt) {
  assert(dt > 0);
  if (bRampRotor && bAccelerating) {
    dRpmNow = RotorSpeedAtTime(dTime, dt);
    CLStaticGridAssemble(iWindowRight);
  }
  if (iWindowRight != nRowsActive) CLbShutOffBackDiffusion(iWindowRight);
  const int n = iWindowRight;
  const int L = iWindowLeft;
  const int first = L > 3 ? L - 1 : 1;
  nTrialRows += n - first + 1;
  bool failed = false;
  ++nTrialSteps;
  const bool sameMatrices = !bCoefChanged && !(bRampRotor && bAccelerating) && !bMatricesChanged;
  if (!sameMatrices) {
    ForgetStepFactors();
  } else if (dt != dDtAssembled && nKeptStepFactors > 0) {
    // The current matrices (valid for dDtAssembled) are kept in the least recently
    // used slot; those of dt are taken back when a slot has them.
    StepFactors* hit = nullptr;
    StepFactors* spare = nullptr;
    for (StepFactors& slot : keptStepFactors) {
      if (slot.dt == dt) hit = &slot;
      if (!spare || slot.used < spare->used) spare = &slot;
    }
    if (!hit && static_cast<int>(keptStepFactors.size()) < nKeptStepFactors) {
      spare = &keptStepFactors.emplace_back();
    }
    StepFactors& slot = hit ? *hit : *spare;
    const double kept = dDtAssembled;
    SwapStepFactors(slot);
    slot.dt = kept;
    slot.used = ++nStepFactorUses;
    if (hit) {
      dDtAssembled = dt;
      ++nStepFactorsTakenBack;
    }
  }
  TridagFactors factors{pTridagGam.data(), pTridagBet.data()};
  if (sameMatrices && dt == dDtAssembled) {
    // Same step, same matrices: one product and the substitutions with the kept factors.
    TridagProductReuseSolve(ExplicitMatrix(), pConcOld.data(), pImplSub.data(), pRhs.data(),
                            pConc.data(), n, factors, first);
  } else {
    bCoefChanged = false;
    dDtAssembled = dt;
    ++nStepFactorizations;
    CLStaticGridFormCrankNicolson(dt, n);
    TridiagProduct(ExplicitMatrix(), pConcOld.data(), pRhs.data(), n, first);
    const TridagStatus status =
        TridagFactorSolve(ImplicitMatrix(), pRhs.data(), pConc.data(), n, factors, first);
    if (status != TridagStatus::Ok) {
      ReportTridag(status);
      failed = true;
      bMatricesChanged = true;  // no valid factors are kept
    } else {
      bMatricesChanged = false;
    }
  }
  double* c = pConc.data();
  if (!failed && L > 3) {
    // Left-edge guard: material in the cut-off region is a failure; values that
    // oscillate about their mean there are replaced by a ramp with the same mean.
    if (!SmoothActiveStartEdge(c, L, dNegTolerance)) {
      nDiscretizationError = 1;
      failed = true;
    }
  }
  if (!failed) {
    if (n < nGrid) {
      const double plateau = std::exp(-2 * dPlateauSW2 * dt) * dPlateauConc;
      for (int i = n + 1; i <= nGrid; ++i) c[i] = plateau;
    }
  } else {
    for (int i = L < 4 ? 1 : L - 2; i <= n; ++i) c[i] = pConcOld[i];
  }
}

void CLammIdeal::SwapStepFactors(StepFactors& slot) {
  slot.implSub.swap(pImplSub);
  slot.implDiag.swap(pImplDiag);
  slot.implSup.swap(pImplSup);
  slot.explSub.swap(pExplSub);
  slot.explDiag.swap(pExplDiag);
  slot.explSup.swap(pExplSup);
  slot.gam.swap(pTridagGam);
  slot.bet.swap(pTridagBet);
  // A slot new to the current arrays gives them its (empty) arrays: they get the size
  // of the ones they replaced.
  const std::size_t size = slot.implSub.size();
  for (std::vector<double>* v : {&pImplSub, &pImplDiag, &pImplSup, &pExplSub, &pExplDiag, &pExplSup,
                                 &pTridagGam, &pTridagBet}) {
    if (v->size() != size) v->assign(size, 0.0);
  }
}

void CLammIdeal::ForgetStepFactors() {
  for (StepFactors& slot : keptStepFactors) slot.dt = 0.0;
}

// ---- Step control ----------------------------------------------------------------------

double CLammIdeal::CLStaticGridRelativeChange(double windowMax) {
  const double* c = pConc.data();
  const double* old = pConcOld.data();
  double cmax = windowMax;
  if (bInhomogeneousSolvent && cmax < fStopLevel) return 0.0;
  cmax = StepFloorScale(cmax, dPlateauConc0, StepFloorCap());
  bool negative = false;
  const double e = StaticGridRelativeChange(c, old, iWindowLeft, iWindowRight, cmax, dNegTolerance,
                                            !bBandLoading && dTime < 10, &negative);
  return StepChangeOutcome(e, negative);
}

double CLammIdeal::StepFloorCap() const {
  // A floating species: the plateau it concentrates to, c0 exp(2 |s| w^2 t), at the
  // final speed (above the true plateau while the rotor accelerates). A sedimenting
  // species' plateau only dilutes; its floor keeps the window maximum.
  if (!(dS < 0) || bInhomogeneousSolvent || bBandLoading) return kNoStepFloorCap;
  const double grow = std::exp(std::min(700.0, 2 * std::fabs(dOmega2S) * std::max(0.0, dTime - dRunStartTime)));
  return std::max(dPlateauConc0, dConc0) * grow;
}

double CLammIdeal::StepChangeOutcome(double change, bool negative) {
  if (negative) {
    ++nRetryCount;
    return 2 * dTolerance;  // forces a shorter step
  }
  return change;
}

bool CLammIdeal::MeasureStep(int from, StepMeasure* measure) {
  if (bBandLoading && dTime < 10) {
    // Early band loading changes the profile between the finite check and the
    // step-size test: separate passes.
    double windowMax = 0.0;
    if (!StepProfileFinite(from, &windowMax)) return false;
    SpreadBandUndershoot(pConc.data(), pRadius.data(), nGrid);
    measure->windowMax = WindowMax();
    measure->changeKnown = false;
    return true;
  }
  const double* c = pConc.data();
  const double bound = 1e100;
  bool ok = std::fabs(c[nGrid]) <= bound;
  for (int i = from; i < iWindowLeft; ++i) ok &= std::fabs(c[i]) <= bound;
  if (!ok) return false;
  const double cap = StepFloorCap();
  const double floorGuess = 1e-4 * StepFloorScale(dLastWindowMax, dPlateauConc0, cap);
  const StaticGridStepMeasure m =
      MeasureStaticGridStep(c, pConcOld.data(), iWindowLeft, iWindowRight, dPlateauConc0, floorGuess,
                            dNegTolerance, dTime < 10, cap);
  if (!m.finite) return false;
  dLastWindowMax = m.windowMax;
  measure->windowMax = m.windowMax;
  measure->change = m.change;
  measure->negative = m.negative;
  measure->changeKnown = true;
  return true;
}

double CLammIdeal::MeasuredRelativeChange(const StepMeasure& measure) {
  if (!measure.changeKnown) return CLStaticGridRelativeChange(measure.windowMax);
  if (bInhomogeneousSolvent && measure.windowMax < fStopLevel) return 0.0;
  return StepChangeOutcome(measure.change, measure.negative);
}

void CLammIdeal::CLStaticGridReflectMeniscus() {
  if (!bRetryMode) return;
  double* c = pConc.data();
  if (!(c[1] < 0 && c[1] > -dNegTolerance)) return;
  ReflectMeniscusUndershoot(c, pRadius.data(), nGrid, bNonUniformGrid,
                            (dBottom - dMeniscus) / (nGrid - 1));
}

double CLammIdeal::CLStaticGridAmount() {
  const double sum = StaticGridWeightedSum(pRadius.data(), pConc.data(), nGrid, bNonUniformGrid,
                                           (dBottom - dMeniscus) / (nGrid - 1));
  return kOpticalPath * kSectorAngle * sum;
}

void CLammIdeal::CLStaticGridAdvance() {
  AdvanceTime([this] {
    CLStaticGridAssemble(bInhomSolventDynamic ? iWindowRight : nGrid);
    CLbShutOffBackDiffusion(iWindowRight);
  });
  if (pConc[1] < 0 && pConc[1] > -dNegTolerance) CLStaticGridReflectMeniscus();
  if (nShowM) dReadoutM = CLStaticGridAmount();
}

// The rows a static-grid step changed (from the first row it copied to the last
// active row) and the last node are finite and at most 1e100. The same pass over the
// profile yields *windowMax, the largest value of the active window (at least 0),
// which the step-size test needs.
bool CLammIdeal::StepProfileFinite(int from, double* windowMax) const {
  const double* c = pConc.data();
  // One comparison per value: a NaN fails every comparison, an infinity exceeds 1e100.
  const double bound = 1e100;
  bool ok = std::fabs(c[nGrid]) <= bound;
  const int left = std::max(from, iWindowLeft);
  for (int i = from; i < left; ++i) ok &= std::fabs(c[i]) <= bound;
  double m = 0.0;
  for (int i = left; i <= iWindowRight; ++i) {
    ok &= std::fabs(c[i]) <= bound;
    m = m < c[i] ? c[i] : m;
  }
  for (int i = iWindowLeft; i < left; ++i) m = m < c[i] ? c[i] : m;
  *windowMax = m;
  return ok;
}

// The largest value of the active window (at least 0).
double CLammIdeal::WindowMax() const {
  double m = 0.0;
  for (int i = iWindowLeft; i <= iWindowRight; ++i) m = m < pConc[i] ? pConc[i] : m;
  return m;
}

double CLammIdeal::CLStaticGridStep() {
  dDtPrev = 1.0;
  bool clipped = false;
  if (bFixTimeStep) dDt = dTolerance;
  const int from = iWindowLeft < 4 ? 1 : iWindowLeft - 2;
  for (int i = from; i <= iWindowRight; ++i) pConcOld[i] = pConc[i];
  auto accelerationCaps = [&] { CapStepDuringAcceleration(clipped, false); };
  accelerationCaps();
  if (!LandStepOnOutputTime()) return 1.0;
  CLStaticGridTrialStep(dDt);
  if (nSingular || nDiscretizationError) return 0.0;
  // Every step checks the profile: a value beyond 1e100, or one that is not a
  // number, ends the run. Only the rows the step solved can change; beyond them the
  // plateau holds one value, checked at the last node.
  // The same pass yields the window maximum and the relative change of the step
  // (early band loading, whose nodes below 1e-10 hand their r-weighted amount to
  // their neighbours, is measured after that).
  StepMeasure measure;
  if (!MeasureStep(from, &measure)) {
    bOverflow = true;
    nDiscretizationError = 1;
    return 0.0;
  }
  if (bStepLandsOnOutput && nIteration > 0) {
    CLStaticGridAdvance();
    return 1.0;
  }
  bStepLandsOnOutput = false;
  if (nIteration == 0 && pConcOld[1] > 0) {
    const double dt = dDt;
    CLStaticGridAdvance();
    return dt;
  }
  if (bFixTimeStep) {
    CLStaticGridAdvance();
    return 1.0;
  }
  StepControlSettings control = StepSettings(dDtMax);
  dRelChange = MeasuredRelativeChange(measure);
  while (dRelChange > dTolerance) {
    if (nRetryCount > 10) {
      // More than ten shrinks to the smallest step did not keep the change within
      // the tolerance: the step control is at its floor.
      bStepFloorReached = true;
      nDiscretizationError = 1;
      return dRelChange;
    }
    if (nSingular || nDiscretizationError) return dRelChange;
    bool floored = false;
    dDt = ShrinkStep(dDt, dRelChange, control, &dDtPrev, &floored);
    if (floored) ++nRetryCount;
    accelerationCaps();
    CLStaticGridTrialStep(dDt);
    if (nSingular || nDiscretizationError) return 0.0;
    if (!MeasureStep(from, &measure)) {
      bOverflow = true;
      nDiscretizationError = 1;
      return 0.0;
    }
    dRelChange = MeasuredRelativeChange(measure);
  }
  nRetryCount = 1;
  CLStaticGridAdvance();
  dDt = NextStepAfterAccept(dDt, dRelChange, dTolerance005, control, &dDtPrev);
  if (bOutputTimePending && dTime + dDt > dNextOutputTime) dDt = dNextOutputTime - dTime;
  accelerationCaps();
  return dRelChange;
}

// ---- The time loop ---------------------------------------------------------------------

void CLammIdeal::SolveClaverie() {
  if (!nArraysAllocated) return;
  const int N = nGrid;
  fChange = 1.0f;
  dDtAssembled = 0.0;
  ForgetStepFactors();
  nSingular = 0;
  nDiscretizationError = 0;
  nRetryCount = 0;
  dRunStartTime = dTime;
  bool anyPositive = false;
  for (int i = 1; i <= N; ++i) anyPositive = anyPositive || pConc[i] > 0;
  if (!anyPositive) {
    // Nothing to sediment: the empty profile is recorded at every scan.
    dDt = 10.0;
    while (bRunning) {
      dTime += dDt;
      CLEachIterationOutput(fChange);
    }
    bNoWindow = false;
    return;
  }
  dPlateauConc0 = pConc[1];
  if (bInhomogeneousSolvent) CLInitLocalSolvent(pRadius.data());
  if (bSecondSolution && !CLInitComp2()) bSecondSolution = false;
  CLStaticGridAssemble(N);
  // The active window.
  const ActiveWindowBounds window = ActiveWindowBoundsFor(N);
  nWindowLeftMax = window.leftMax;
  dNegTolerance = dTruncateLevel * pConc[1];
  iWindowLeft = 1;
  if (!bTruncateGrid || dS <= 0 || bBandLoading) {
    bWindowActive = false;
    bNoLeftCut = bNoRightCut = true;
    iWindowRight = N;
  } else {
    bWindowActive = true;
    bNoLeftCut = false;
    dPlateauSW2 = SedimentationRate(dS, dRpmNow);
    dPlateauConc = dPlateauConc0 = pConc[1];
    dPlateauTime = dTime;
    nWindowGrow = window.grow;
    if (bShutOffBackDiffusion && !bInhomogeneousSolvent && nWindowGrow >= 3) {
      bNoRightCut = false;
      iWindowRight = nWindowGrow;
      CLbShutOffBackDiffusion(iWindowRight);
    } else {
      bNoRightCut = true;
      iWindowRight = N;
    }
  }
  dDtMax = StaticGridStepBound(dS, dD, dRpmNow);
  CLSetStopReference();
  if (bBandLoading) dDt = 0.1;
  int flat = 0;
  TinyStepCount tiny;
  while (bRunning && !nSingular && !nDiscretizationError) {
    dDtStep = dDt != 0 ? dDt : 1.0;
    if (bSecondSolution) dTimeComp2 = dTime;
    fChange = static_cast<float>(CLStaticGridStep());
    if (bWindowActive) {
      CLMoveWindowLeft();
      CLMoveWindowRight(dTime);
    }
    if (bSecondSolution) CLAdvanceComp2();
    if (bInhomSolventDynamic) {
      CLUpdateLocalSolvent(pRadius.data());
      CLStaticGridAssemble(iWindowRight);
      bCoefChanged = true;
    }
    if (tiny.AtFloor(dDt)) {
      bStepFloorReached = true;
      nDiscretizationError = 1;
    }
    CLEachIterationOutput(fChange);
    fChange = static_cast<float>(fChange / dDtStep);
    if (CLStopReferenceReached()) bRunning = 0;
    // Equilibrium: eleven consecutive steps of at least 30 s whose change per
    // second stays below the threshold.
    if (dDtStep < 30 || fChange >= dStopThreshold)
      flat = 0;
    else
      ++flat;
    if (flat > 10) {
      bStopCriterionMet = true;
      bRunning = 0;
    }
  }
  bNoWindow = false;
}


bool CLammIdeal::LandStepOnOutputTime() {
  bStepLandsOnOutput = false;
  if (bOutputTimePending && dTime + dDt > dNextOutputTime) {
    bOutputTimePending = false;
    dDt = dNextOutputTime - dTime;
    bStepLandsOnOutput = true;
  }
  if (dDt <= 0) {
    dDt = 1.0;
    bStepLandsOnOutput = false;
    return false;
  }
  return true;
}

void CLammIdeal::CapStepDuringAcceleration(bool& clipped, bool needsStepLimit) {
  if (!(bRampRotor && bAccelerating)) return;
  dDt = std::min(dDt, dStepLimit);
  if (!clipped && dTime + dDt > dAccelEndTime && (!needsStepLimit || dStepLimit > 0)) {
    dDt = dAccelEndTime - dTime;
    clipped = true;
  }
}

StepControlSettings CLammIdeal::StepSettings(double dtMax) const {
  StepControlSettings control;
  control.changeTarget = dTolerance02;
  control.stepFactor = dGridOption;
  control.stepBlend = dDefaultStep;
  control.dtMax = dtMax;
  return control;
}

}  // namespace tarmic
