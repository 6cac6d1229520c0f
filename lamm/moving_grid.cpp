// The moving-grid solution: the inner nodes move with the sedimentation,
// r = r0 exp(sF w^2 (t - t0)), while the first and last nodes stay at the meniscus
// and the bottom. In the reference coordinates r0 the diffusion coefficient enters
// as D / e(t)^2 and the motion of the nodes adds a convection term (the frame
// matrix). Each time the moving nodes have advanced by one node spacing (one grid
// period) the grid is laid again and the profile is shifted by one node.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "lamm/element_integrals.h"
#include "lamm/lamm_ideal.h"

namespace tarmic {

namespace {

constexpr long double kOneSixtieth = 1.0L / 60.0L;
constexpr double kPi = 3.14159265358979323846;

// Positions of the eight end entries (row, column): (1,1) (1,2) (2,1) (2,2)
// (N-1,N-1) (N-1,N) (N,N-1) (N,N).
struct EndIndex {
  int row, col;
};
EndIndex EndAt(int k, int N) {
  static constexpr int rows[4] = {1, 1, 2, 2};
  static constexpr int cols[4] = {1, 2, 1, 2};
  if (k < 4) return {rows[k], cols[k]};
  return {N - 2 + rows[k - 4], N - 2 + cols[k - 4]};
}
// The entry (row, col) of a tridiagonal matrix stored as three arrays.
double& Entry(std::vector<double>& sub, std::vector<double>& diag, std::vector<double>& sup, int row,
              int col) {
  if (col == row - 1) return sub[row];
  if (col == row) return diag[row];
  return sup[row];
}

}  // namespace

// ---- Elements on the reference grid, with the end terms ----------------------------

namespace {

struct MovingElements {
  const CLammIdeal& o;
  const double* r;
  int N;

  bool ShutOff() const { return o.bShutOffBackDiffusion; }
  double Mass(int i, int j) const { return static_cast<double>(IntegrateMassElement(r, N, i, j, N)); }
  double Stiffness(int i, int j) const {
    double v = o.bInhomogeneousSolvent ? static_cast<double>(o.CLVarStiffnessElement(i, j, r, N))
                                       : static_cast<double>(IntegrateStiffnessElement(r, N, i, j, N));
    if (ShutOff()) {
      // The diffusive flux of the end node towards which the species moves.
      if (o.dS < 0 && i == 1 && (j == 1 || j == 2)) {
        const double f = o.bInhomogeneousSolvent ? o.pViscFactor[1] : 1.0;
        const double g = f * r[1] / (r[2] - r[1]);
        v += j == 1 ? -g : g;
      } else if (o.dS > 0 && i == N && (j == N || j == N - 1)) {
        const double g = o.bInhomogeneousSolvent ? o.CLEndDiffusionFactor(r, N)
                                                  : r[N] / (r[N] - r[N - 1]);
        v += j == N ? -g : g;
      }
    }
    return v;
  }
  // Q, without the factor s w^2.
  double Sedimentation(int i, int j) const {
    double v = o.bInhomogeneousSolvent ? static_cast<double>(o.CLVarSedimentationElement(i, j, r, N))
                                       : static_cast<double>(IntegrateSedimentationElement(r, N, i, j, N));
    if (ShutOff()) {
      if (o.dS < 0 && i == 1 && j == 1) v += r[1] * r[1];
      if (o.dS > 0 && i == N && j == N)
        v -= o.bInhomogeneousSolvent ? o.CLEndSedimentationFactor(r, N) : r[N] * r[N];
    }
    return v;
  }
  // R = G - Q, with the end terms of -Q (so that R = G - Q holds at both ends).
  double Relative(int i, int j) const {
    double v = static_cast<double>(IntegrateRelativeFrameElement(r, N, i, j));
    if (ShutOff()) {
      if (o.dS < 0 && i == 1 && j == 1) v -= r[1] * r[1];
      if (o.dS > 0 && i == N && j == N) v += r[N] * r[N];
    }
    return v;
  }
  double Frame(int i, int j) const {
    return static_cast<double>(IntegrateFrameElement(r, N, i, j));
  }
  // F: R sw2 when the frame moves with the species, else G sF w^2 - Q s w^2.
  double FrameMatrix(int i, int j, bool relative) const {
    if (relative) return o.dSW2 * Relative(i, j);
    return o.dFrameSW2 * Frame(i, j) - o.dSW2 * Sedimentation(i, j);
  }
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
  const long double w = static_cast<long double>(dRpmNow) * 2 * kPi * kOneSixtieth;
  dSW2 = static_cast<double>(w * w * dS * 1e-13L);
  dFrameSW2 = static_cast<double>(w * w * dMovingFrameS * 1e-13L);
  nRemeshCount = 0;
  dGridTime0 = dTime;
  dGridPeriod = dMovingFrameS == 0 ? 1e10 : std::log(b / m) / (std::fabs(dFrameSW2) * (N - 1));
  dGridRatio = std::pow(b / m, 1.0 / (N - 1));
  pRadius0[1] = m;
  pRadius0[N] = b;
  if (dMovingFrameS >= 0) {
    // Node 2 half a spacing from the meniscus.
    for (int i = 2; i < N; ++i) pRadius0[i] = m * std::pow(b / m, (i - 1.5) / (N - 1));
  } else {
    // Node N-1 half a spacing from the bottom.
    pRadius0[2] = m * std::pow(b / m, 1.5 / (N - 1));
    for (int i = 3; i < N; ++i) pRadius0[i] = pRadius0[i - 1] * dGridRatio;
  }
  for (int i = 1; i <= N; ++i) pRadius[i] = pRadius0[i];
  dGridStretch = 1.0;
  bNonUniformGrid = true;
}

void CLammIdeal::CLMovingHatAssemble() {
  CLLayMovingGrid();
  const int N = nGrid;
  MovingElements el{*this, pRadius0.data(), N};
  const bool relative = bAutoSGrid && !bInhomogeneousSolvent;
  for (int i = 1; i <= N; ++i) {
    for (int j = std::max(1, i - 1); j <= std::min(N, i + 1); ++j) {
      Entry(pMassSub, pMassDiag, pMassSup, i, j) = el.Mass(i, j);
      Entry(pStiffSub, pStiffDiag, pStiffSup, i, j) = el.Stiffness(i, j);
      Entry(pHatSedSub, pHatSedDiag, pHatSedSup, i, j) = dSW2 * el.Sedimentation(i, j);
      Entry(pFrameSub, pFrameDiag, pFrameSup, i, j) = el.FrameMatrix(i, j, relative);
    }
  }
  pMassSub[1] = pStiffSub[1] = pHatSedSub[1] = pFrameSub[1] = 0.0;
  pMassSup[N] = pStiffSup[N] = pHatSedSup[N] = pFrameSup[N] = 0.0;
  // The amounts of phi r dr in the end elements that the re-mesh conserves.
  const double* r = pRadius0.data();
  const double r1 = r[1], r2 = r[2], r3 = r[3], rN = r[N], rN1 = r[N - 1], rN2 = r[N - 2];
  dW1 = (r2 - r1) * (r2 + 2 * r1) / 6;
  dW2 = (r3 - r1) * (r1 + r2 + r3) / 6;
  dW2L = r2 * r2 / 3 - r2 * r1 / 6 - r1 * r1 / 6;
  dW3L = r3 * r3 / 3 - r3 * r2 / 6 - r2 * r2 / 6;
  dWN = rN * rN / 3 - rN * rN1 / 6 - rN1 * rN1 / 6;
  dWN1 = (rN - rN2) * (rN2 + rN1 + rN) / 6;
  dWN1R = (rN - rN1) * (rN + 2 * rN1) / 6;
  dWN2R = (rN1 - rN2) * (rN1 + 2 * rN2) / 6;
}

void CLammIdeal::CLMovingHatReassemble() {
  const int N = nGrid;
  const long double w = static_cast<long double>(dRpmNow) * 2 * kPi * kOneSixtieth;
  dSW2 = static_cast<double>(w * w * dS * 1e-13L);
  MovingElements el{*this, pRadius0.data(), N};
  for (int i = 1; i <= N; ++i) {
    for (int j = std::max(1, i - 1); j <= std::min(N, i + 1); ++j) {
      if (bInhomSolventDynamic) Entry(pStiffSub, pStiffDiag, pStiffSup, i, j) = el.Stiffness(i, j);
      Entry(pHatSedSub, pHatSedDiag, pHatSedSup, i, j) = dSW2 * el.Sedimentation(i, j);
      Entry(pFrameSub, pFrameDiag, pFrameSup, i, j) = el.FrameMatrix(i, j, false);
    }
  }
  pStiffSub[1] = pHatSedSub[1] = pFrameSub[1] = 0.0;
  pStiffSup[N] = pHatSedSup[N] = pFrameSup[N] = 0.0;
  for (int k = 0; k < 8; ++k) {
    const EndIndex e = EndAt(k, N);
    aSedEndAt[k] = Entry(pHatSedSub, pHatSedDiag, pHatSedSup, e.row, e.col);
    aFrameEndAt[k] = Entry(pFrameSub, pFrameDiag, pFrameSup, e.row, e.col);
  }
}

namespace {

// The eight end entries of M, S, Q s w^2 and F on the reference grid as it stands.
void EvaluateEnds(const CLammIdeal& o, double mass[8], double stiff[8], double sed[8],
                  double frame[8]) {
  const int N = o.nGrid;
  MovingElements el{o, o.pRadius0.data(), N};
  const bool relative =
      o.bAutoSGrid && !o.bAccelerating && !o.bInhomogeneousSolvent && !o.bInhomSolventDynamic;
  for (int k = 0; k < 8; ++k) {
    const EndIndex e = EndAt(k, N);
    mass[k] = el.Mass(e.row, e.col);
    stiff[k] = el.Stiffness(e.row, e.col);
    sed[k] = o.dSW2 * el.Sedimentation(e.row, e.col);
    frame[k] = el.FrameMatrix(e.row, e.col, relative);
  }
}

}  // namespace

void CLammIdeal::CLEndElementsNow() {
  EvaluateEnds(*this, aMassEndNow, aStiffEndNow, aSedEndNow, aFrameEndNow);
  const int N = nGrid;
  for (int k = 0; k < 8; ++k) {
    const EndIndex e = EndAt(k, N);
    Entry(pMassSub, pMassDiag, pMassSup, e.row, e.col) = aMassEndNow[k];
    Entry(pStiffSub, pStiffDiag, pStiffSup, e.row, e.col) = aStiffEndNow[k];
    Entry(pHatSedSub, pHatSedDiag, pHatSedSup, e.row, e.col) = aSedEndNow[k];
    Entry(pFrameSub, pFrameDiag, pFrameSup, e.row, e.col) = aFrameEndNow[k];
  }
}

void CLammIdeal::CLEndElementsAt(double trel) {
  const int N = nGrid;
  const double keep1 = pRadius0[1], keepN = pRadius0[N];
  const double e = std::exp(dFrameSW2 * trel);
  pRadius0[1] = dMeniscus / e;
  pRadius0[N] = dBottom / e;
  EvaluateEnds(*this, aMassEndAt, aStiffEndAt, aSedEndAt, aFrameEndAt);
  pRadius0[1] = keep1;
  pRadius0[N] = keepN;
}

void CLammIdeal::CLPinGridEnds(double trel) {
  const double e = std::exp(dFrameSW2 * trel);
  pRadius0[1] = dMeniscus / e;
  pRadius0[nGrid] = dBottom / e;
  dGridStretch = e;
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

namespace {

// Left- and right-hand matrices of a step of dt from the end-mean mass matrix and
// the operators K(t) = -D0 S - F and K(t + dt) = -D1 S - F (end entries of the
// latter from the step-end values).
void FormMovingStep(CLammIdeal& o, double dt, double D0, double D1, Tridiagonal expl,
                    Tridiagonal impl) {
  const int N = o.nGrid;
  const double half = dt / 2;
  for (int i = 1; i <= N; ++i) {
    expl.sub[i] = o.pMassSub[i] + half * (-D0 * o.pStiffSub[i] - o.pFrameSub[i]);
    expl.diag[i] = o.pMassDiag[i] + half * (-D0 * o.pStiffDiag[i] - o.pFrameDiag[i]);
    expl.sup[i] = o.pMassSup[i] + half * (-D0 * o.pStiffSup[i] - o.pFrameSup[i]);
    impl.sub[i] = o.pMassSub[i] - half * (-D1 * o.pStiffSub[i] - o.pFrameSub[i]);
    impl.diag[i] = o.pMassDiag[i] - half * (-D1 * o.pStiffDiag[i] - o.pFrameDiag[i]);
    impl.sup[i] = o.pMassSup[i] - half * (-D1 * o.pStiffSup[i] - o.pFrameSup[i]);
  }
  for (int k = 0; k < 8; ++k) {
    const EndIndex e = EndAt(k, N);
    const double m = Entry(o.pMassSub, o.pMassDiag, o.pMassSup, e.row, e.col);
    double* target = e.col == e.row - 1 ? &impl.sub[e.row] : e.col == e.row ? &impl.diag[e.row]
                                                                              : &impl.sup[e.row];
    *target = m - half * (-D1 * o.aStiffEndAt[k] - o.aFrameEndAt[k]);
  }
}

// The mass end entries become the mean of their values now and at the step end.
void MeanMassEnds(CLammIdeal& o) {
  for (int k = 0; k < 8; ++k) {
    const EndIndex e = EndAt(k, o.nGrid);
    Entry(o.pMassSub, o.pMassDiag, o.pMassSup, e.row, e.col) = 0.5 * (o.aMassEndNow[k] + o.aMassEndAt[k]);
  }
}

}  // namespace

void CLammIdeal::CLPrecomputePeriodStep() {
  const double T = dGridPeriod;
  const double e = std::exp(dFrameSW2 * T);
  const double D0 = dD, D1 = dD / (e * e);
  CLPinGridEnds(0.0);
  CLEndElementsNow();
  CLEndElementsAt(T);
  MeanMassEnds(*this);
  Tridiagonal P{pPeriodSub.data(), pPeriodDiag.data(), pPeriodSup.data()};
  Tridiagonal L{pPeriodLSub.data(), pPeriodLDiag.data(), pPeriodLSup.data()};
  FormMovingStep(*this, T, D0, D1, P, L);
  // The factors of L; every pivot is checked.
  const int N = nGrid;
  std::vector<double> zero(N + 1, 0.0), u(N + 1, 0.0);
  const TridagStatus status =
      TridagFactorSolve(L, zero.data(), u.data(), N, {pPeriodGam.data(), pPeriodBet.data()}, 1);
  if (status != TridagStatus::Ok) ReportTridag(status);
}

void CLammIdeal::CLDampOverflow() {
  if (dD > 2e-8) return;
  const int N = nGrid;
  double* c = pConc.data();
  if (dS > 0 && std::fabs(c[N]) >= 1e30) {
    for (int i = N; i >= std::max(1, N - 20); --i)
      if (std::fabs(c[i]) > 1e35) c[i] *= 0.1;
  } else if (dS < 0 && std::fabs(c[1]) >= 1e15) {
    for (int i = 1; i <= std::min(N, 20); ++i)
      if (std::fabs(c[i]) > 1e15) c[i] *= 0.1;
  }
}

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
  const double e0 = std::exp(dFrameSW2 * trel), e1 = std::exp(dFrameSW2 * (trel + dt));
  const double D0 = dD / (e0 * e0), D1 = dD / (e1 * e1);
  CLPinGridEnds(trel);
  CLEndElementsNow();
  CLEndElementsAt(trel + dt);
  MeanMassEnds(*this);
  FormMovingStep(*this, dt, D0, D1, ExplicitMatrix(), ImplicitMatrix());
  TridiagProduct(ExplicitMatrix(), pConcOld.data(), pRhs.data(), N);
  const TridagStatus status = TridagFactorSolve(ImplicitMatrix(), pRhs.data(), pConc.data(), N,
                                                {pTridagGam.data(), pTridagBet.data()}, 1);
  if (status != TridagStatus::Ok) {
    ReportTridag(status);
    for (int i = 1; i <= N; ++i) pConc[i] = pConcOld[i];
  }
  CLDampOverflow();
}

// ---- Steps and schedule --------------------------------------------------------------

void CLammIdeal::CLMovingHatAdvance() {
  ++nIteration;
  dTime += dDt;
  if (bStepLandsOnOutput) dTime = dNextOutputTime;
  if (bAccelerating && dTime >= dAccelEndTime - 1e-9 * std::max(1.0, dAccelEndTime)) {
    dRpmNow = RotorSpeedAtTime(dTime, dDt);
    CLMovingHatReassemble();
    bAccelerating = false;
  }
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
  const int N = nGrid;
  const double e = std::exp(dFrameSW2 * (dTime - dGridTime0));
  dStretch = e;
  dStretchSq = e * e;
  CLPinGridEnds(dTime - dGridTime0);
  const double* r0 = pRadius0.data();
  const double m = dMeniscus, b = dBottom;
  double* c = pConc.data();
  const double e2 = e * e;
  // New end values that keep the amounts of the end elements.
  double cN, cN1, c1, c2;
  if (dS < 0) {
    if (dD != 0 || std::fabs(dS) <= 1e-10) {
      cN = c[N];
      cN1 = c[N] + (r0[N - 1] - b) * (c[N - 1] - c[N]) / ((r0[N - 1] - r0[N]) * e);
    } else {
      cN = 0.0;
      const double Wp = (r0[N] * r0[N] + r0[N - 1] * r0[N] - 2 * r0[N - 1] * r0[N - 1]) / 6;
      const double A = (c[N - 1] * Wp + CLNodeWeight(N) * c[N]) * e2;
      cN1 = (A - dWN2R * c[N - 1]) / dWN1;
    }
    const double A = (c[3] * dW3L + CLNodeWeight(2) * c[2] + CLNodeWeight(1) * c[1]) * e2;
    c2 = c[3];
    c1 = (A - dW2L * c[3]) / dW1;
    if (c1 < c2) c1 = c2 = (c2 * dW2 + c1 * dW1) / (dW2 + dW1);
  } else {
    const double A = (c[N - 2] * dWN2R + CLNodeWeight(N - 1) * c[N - 1] + CLNodeWeight(N) * c[N]) * e2;
    cN1 = c[N - 2];
    cN = (A - c[N - 2] * dWN1R) / dWN;
    if (dS > 0 && cN < cN1) cN = cN1 = (cN1 * dWN1 + cN * dWN) / (dWN1 + dWN);
    if (dD != 0 || dS <= 1e-10) {
      c1 = c[1];
      c2 = c[1] + (r0[2] - m) * (c[2] - c[1]) / ((r0[2] - r0[1]) * e);
    } else {
      c1 = 0.0;
      c2 = (((r0[2] * r0[2] / 3 - r0[2] * r0[1] / 6 - r0[1] * r0[1] / 6) * e2 - dW3L) * c[2] +
            CLNodeWeight(1) * e2 * c[1]) /
           dW2;
    }
  }
  // Shift by one node in the direction of the motion, in both profiles.
  for (double* v : {pConc.data(), pConcOld.data()}) {
    if (dS < 0) {
      for (int i = 3; i <= N - 2; ++i) v[i] = v[i + 1];
    } else {
      for (int i = N - 2; i >= 3; --i) v[i] = v[i - 1];
    }
    v[1] = c1;
    v[2] = c2;
    v[N - 1] = cN1;
    v[N] = cN;
  }
  pRadius0[1] = m;
  pRadius0[N] = b;
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
  auto periodEnd = [&] {
    return std::fabs(dTime - dGridTime0 - dGridPeriod) < 1e-10 + 1e-13 * std::fabs(dTime);
  };
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
  if (bOutputTimePending && t + dDt > dNextOutputTime && t0 + T >= dNextOutputTime) {
    dDt = nIteration <= 1 ? 1.0 : dNextOutputTime - t;
    clampAcceleration(true);
    if (dNextOutputTime - t == dDt) {
      bOutputTimePending = false;
      bStepLandsOnOutput = true;
    }
    bRemainderNext = true;
    bFirstStep = bStartUp = bWholeStep = false;
  } else if (bStartUp) {
    bWholeStep = false;
    if (bFirstStep) {
      bFirstStep = false;
      bRemainderNext = false;
      dDt = std::min(1.0, T);
    } else {
      bStartUp = false;
      bRemainderNext = true;
      dDt = 0.1 * T;
    }
    clampAcceleration(dAccelEndTime > 0);
  } else if (bRemainderNext || bWholeStepNext) {
    if (bRemainderNext) {
      bRemainderNext = false;
      bWholeStepNext = true;
      bWholeStep = false;
      dDt = t0 + T - t;
    } else {
      bWholeStepNext = false;
      bWholeStep = true;
      dDt = T;
    }
    const double planned = dDt;
    if (bOutputTimePending && dNextOutputTime < t + dDt) {
      dDt = dNextOutputTime - t;
      bStepLandsOnOutput = true;
    }
    clampAcceleration(true);
    if (dDt != planned) {
      bWholeStepNext = false;
      bRemainderNext = true;
      bWholeStep = false;
      if (bStepLandsOnOutput && dDt != dNextOutputTime - t) bStepLandsOnOutput = false;
    }
  }
  for (int i = 1; i <= nGrid; ++i) pConcOld[i] = pConc[i];
  if (dDt <= 0) {
    dDt = 1.0;
    bStepLandsOnOutput = false;
    return 1.0;
  }
  CLMovingHatCrankNicolson(dDt);
  // End guard: negative values at the end node that the species leaves.
  const int N = nGrid;
  const int end = dS < 0 ? N : 1, next = dS < 0 ? N - 1 : 2;
  while (!nSingular && pConc[end] < -0.001) {
    dDt /= 2;
    bWholeStep = false;
    bRemainderNext = true;
    if (bStepLandsOnOutput) {
      // The shortened step no longer reaches the scan time: it is still due.
      bStepLandsOnOutput = false;
      bOutputTimePending = true;
    }
    if (dDt <= 0.1) {
      pConc[next] += CLNodeWeight(end) * pConc[end] / CLNodeWeight(next);
      pConcOld[next] = pConc[next];
      pConcOld[end] = pConc[end] = 0.0;
      break;
    }
    for (int i = 1; i <= N; ++i) pConc[i] = pConcOld[i];
    CLMovingHatCrankNicolson(dDt);
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
  dDt = 1.0;
  if (bSecondSolution && !CLInitComp2()) bSecondSolution = false;
  dDtFixed = dMovingFrameS == 0 ? dTolerance : dTolerance * dGridPeriod;
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
