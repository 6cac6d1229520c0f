// The solution with concentration-dependent coefficients: s(c) = s (1 - ks c) and
// D(c) = D (1 + kd c) of one species, or several species whose s and D are scaled by
// the factors of their summed concentration. The coefficients vary between the
// nodes, so the transport matrix is assembled from three-index element integrals,
// and every step is a predictor-corrector pair: a trial step with the coefficients
// of the profile before the step, then the final step with coefficients averaged
// between that profile and the trial.
#include <algorithm>
#include <cmath>

#include "lamm/conc_dependent_core.h"
#include "lamm/element_integrals.h"
#include "lamm/fe_assembly.h"
#include "lamm/lamm_ideal.h"
#include "lamm/step_control.h"

namespace tarmic {

namespace {


double W2(const CLammIdeal& o) { return Omega2PerSvedberg(o.dRpmNow); }

// Solves (M - dt/2 A) out = (M + dt/2 A) start with the formed matrices; a failed
// pivot leaves the start vector.
void CrankNicolsonSolve(CLammIdeal& o, const double* start, double* out) {
  if (CrankNicolsonStage(o.ImplicitMatrix(), o.ExplicitMatrix(), start, o.pRhs.data(), out, o.nGrid,
                         {o.pTridagGam.data(), o.pTridagBet.data()}) != TridagStatus::Ok)
    o.nSingular = 1;
}

bool Multi(const CLammIdeal& o) {
  return o.bMultiSpecies && o.nSpecies >= 1 && !o.ppSpeciesConc.empty();
}

}  // namespace

void CLammIdeal::CLElementIntegralsAtSpeed() {
  std::vector<double>* d = pDiffElem;
  std::vector<double>* s = pSedElem;
  double* diff[kElementPairs] = {d[0].data(), d[1].data(), d[2].data(), d[3].data(),
                                 d[4].data(), d[5].data(), d[6].data()};
  double* sed[kElementPairs] = {s[0].data(), s[1].data(), s[2].data(), s[3].data(),
                                s[4].data(), s[5].data(), s[6].data()};
  // A grid that is not equidistant gets the integrals of its own nodes.
  dElementWidth = EquidistantStep(dMeniscus, dBottom, nGrid);
  ThreeIndexElements(pRadius.data(), nGrid, !bNonUniformGrid, dElementWidth, W2(*this),
                     MassMatrix(), diff, sed);
}

void CLammIdeal::CLAssembleTransport() {
  const double* diff[kElementPairs];
  const double* sed[kElementPairs];
  for (int p = 0; p < kElementPairs; ++p) {
    diff[p] = pDiffElem[p].data();
    sed[p] = pSedElem[p].data();
  }
  VariableCoefficientTransport(pRadius.data(), nGrid, diff, sed, pCoefS.data(), pCoefD.data(),
                               W2(*this), bShutOffBackDiffusion, TransportMatrix());
}

void CLammIdeal::CLFormCrankNicolson(double dt) {
  dDtAssembled = dt;
  bCoefChanged = false;
  FormCrankNicolson(MassMatrix(), TransportMatrix(), dt, ImplicitMatrix(), ExplicitMatrix(), 1, nGrid);
}

namespace {

// Node coefficients of the single species at the profile c.
void SingleSpeciesCoefficients(CLammIdeal& o, const double* c, bool average) {
  if (o.bFrozenCoefficients) return;
  for (int i = 1; i <= o.nGrid; ++i) {
    const double s = (1 - o.fKs * c[i]) * o.dS, D = (1 + o.fKd * c[i]) * o.dD;
    o.pCoefS[i] = average ? (s + o.pCoefS[i]) / 2 : s;
    o.pCoefD[i] = average ? (D + o.pCoefD[i]) / 2 : D;
  }
}

// Per-species coefficients from the summed (unweighted) concentration of the given
// profiles; the factors do not go below 0.
void MultiSpeciesCoefficients(CLammIdeal& o, const std::vector<std::vector<double>>& c,
                              bool average) {
  for (int i = 1; i <= o.nGrid; ++i) {
    double total = 0.0;
    for (int k = 1; k <= o.nSpecies; ++k) total += c[k][i];
    const double fs = std::max(0.0, 1 - o.fKs * total), fd = std::max(0.0, 1 + o.fKd * total);
    for (int k = 1; k <= o.nSpecies; ++k) {
      const double s = fs * o.pNonIdealS[k], D = fd * o.pNonIdealD[k];
      o.ppSpeciesCoefS[k][i] = average ? (s + o.ppSpeciesCoefS[k][i]) / 2 : s;
      o.ppSpeciesCoefD[k][i] = average ? (D + o.ppSpeciesCoefD[k][i]) / 2 : D;
    }
  }
}

// One Crank-Nicolson solve per species from the start profiles; the weighted signal
// goes into signal, their sum into total.
void SolveSpecies(CLammIdeal& o, double dt, std::vector<std::vector<double>>& result,
                  std::vector<std::vector<double>>& signal, double* total) {
  const int N = o.nGrid;
  for (int i = 1; i <= N; ++i) total[i] = 0.0;
  for (int k = 1; k <= o.nSpecies; ++k) {
    std::copy(o.ppSpeciesCoefS[k].begin(), o.ppSpeciesCoefS[k].end(), o.pCoefS.begin());
    std::copy(o.ppSpeciesCoefD[k].begin(), o.ppSpeciesCoefD[k].end(), o.pCoefD.begin());
    o.CLAssembleTransport();
    o.CLFormCrankNicolson(dt);
    CrankNicolsonSolve(o, o.ppSpeciesConcOld[k].data(), result[k].data());
    for (int i = 1; i <= N; ++i) {
      signal[k][i] = o.pNonIdealFourth[k] * result[k][i];
      total[i] += signal[k][i];
    }
  }
}

// One transport solve over dt from the old profiles. The predictor takes the
// coefficients of the old profiles and writes the predicted ones; the corrector
// takes those of the predicted profiles and writes the new ones.
void TransportStep(CLammIdeal& o, double dt, bool corrector) {
  if (Multi(o)) {
    MultiSpeciesCoefficients(o, corrector ? o.ppSpeciesConcPred : o.ppSpeciesConcOld, corrector);
    if (corrector)
      SolveSpecies(o, dt, o.ppSpeciesConc, o.ppSpeciesSignal, o.pConc.data());
    else
      SolveSpecies(o, dt, o.ppSpeciesConcPred, o.ppSpeciesSignalPred, o.pConcNew.data());
  } else {
    SingleSpeciesCoefficients(o, corrector ? o.pConcNew.data() : o.pConcOld.data(), corrector);
    o.CLAssembleTransport();
    o.CLFormCrankNicolson(dt);
    CrankNicolsonSolve(o, o.pConcOld.data(), corrector ? o.pConc.data() : o.pConcNew.data());
  }
}

}  // namespace

void CLammIdeal::CLPredictorStep(double dt) {
  dDtTrial = dt;
  if (bRampRotor && bAccelerating) {
    dRpmNow = RotorSpeedAtTime(dTime, dt);
    CLElementIntegralsAtSpeed();
  }
  TransportStep(*this, dt, false);
}

void CLammIdeal::CLCorrectorStep() { TransportStep(*this, dDtTrial, true); }

double CLammIdeal::CLRelativeChange() {
  const int N = nGrid;
  auto measure = [&](const double* now, const double* old, double& e) {
    if (AccumulateRelativeChange(now, old, N, dNegTolerance, e)) return true;
    // A negative value: the tolerances are halved for the rest of the solution.
    dTolerance /= 2;
    dTolerance005 /= 2;
    dTolerance02 /= 2;
    ++nRetryCount;
    return false;
  };
  double e = 0.0;
  if (!measure(pConcNew.data(), pConcOld.data(), e)) return 2 * dTolerance;
  if (Multi(*this)) {
    for (int k = 1; k <= nSpecies; ++k)
      if (!measure(ppSpeciesConcPred[k].data(), ppSpeciesConcOld[k].data(), e)) return 2 * dTolerance;
  }
  return e;
}

double CLammIdeal::CLTotalAmount() {
  const int N = nGrid;
  double sum = 0.0;
  if (bNonUniformGrid) {
    for (int i = 1; i <= N; ++i) sum += static_cast<double>(IntegrateNodeWeight(i, N)) * pConc[i];
  } else {
    const double h = (dBottom - dMeniscus) / (N - 1);
    sum = h * (3 * pRadius[1] + h) / 6 * pConc[1] + h * (3 * pRadius[N] - h) / 6 * pConc[N];
    for (int i = 2; i < N; ++i) sum += pConc[i] * pRadius[i] * h;
  }
  return sum * kOpticalPath * kSectorAngle;
}

void CLammIdeal::CLAdvanceTime() {
  AdvanceTime([this] { CLElementIntegralsAtSpeed(); });
  if (!Multi(*this) && bRetryMode && pConc[1] < 0 && pConc[1] > -dNegTolerance) {
    // Meniscus reflection: node 2 gives up the amount that the mirrored value adds.
    double w1, w2;
    if (bNonUniformGrid) {
      w1 = static_cast<double>(IntegrateNodeWeight(1, nGrid));
      w2 = static_cast<double>(IntegrateNodeWeight(2, nGrid));
    } else {
      const double h = (dBottom - dMeniscus) / (nGrid - 1);
      w1 = h * (3 * pRadius[1] + h) / 6;
      w2 = pRadius[2] * h;
    }
    pConc[1] = -pConc[1];
    pConc[2] -= 2 * std::fabs(pConc[1]) * w1 / w2;
  }
  if (nShowM) dReadoutM = CLTotalAmount();
}

double CLammIdeal::CLConcDependentStep() {
  const int N = nGrid;
  const bool multi = Multi(*this);
  if (multi) {
    for (int k = 1; k <= nSpecies; ++k) {
      ppSpeciesConcOld[k] = ppSpeciesConc[k];
      ppSpeciesSignalOld[k] = ppSpeciesSignal[k];
    }
  }
  for (int i = 1; i <= N; ++i) pConcOld[i] = pConc[i];
  if (bFixTimeStep) dDt = dTolerance;
  bool clipped = false;
  auto accelerationCaps = [&] { CapStepDuringAcceleration(clipped, true); };
  accelerationCaps();
  if (!LandStepOnOutputTime()) return 1.0;
  // The trial must be finite: a runaway trial is never accepted.
  auto trialFinite = [&] {
    bool ok = ProfileFinite(pConcNew.data(), 1, N, 1e100);
    if (multi)
      for (int k = 1; k <= nSpecies && ok; ++k) ok = ProfileFinite(ppSpeciesConcPred[k].data(), 1, N, 1e100);
    if (!ok) {
      bOverflow = true;
      nDiscretizationError = 1;
    }
    return ok;
  };
  // Accepts the step: corrector, the early band clean-up, the clock.
  auto accept = [&] {
    const bool early = dTime < 10;
    CLCorrectorStep();
    if (!ProfileFinite(pConc.data(), 1, N, 1e100)) {
      bOverflow = true;
      nDiscretizationError = 1;
      return false;
    }
    if (bBandLoading && !multi && early) {
      double* c = pConc.data();
      const double* r = pRadius.data();
      for (int i = 2; i < N; ++i) {
        if (c[i] < 1e-10) {
          c[i - 1] += 0.5 * c[i] * r[i] / r[i - 1];
          c[i + 1] += 0.5 * c[i] * r[i] / r[i + 1];
          c[i] = 0.0;
        }
      }
    }
    CLAdvanceTime();
    return true;
  };
  CLPredictorStep(dDt);
  if (nSingular || !trialFinite()) return 0.0;
  if (bStepLandsOnOutput && nIteration > 0) return accept() ? 1.0 : 0.0;
  bStepLandsOnOutput = false;
  if (nIteration == 0 && pConcOld[1] > 0) {
    const double dt = dDt;
    return accept() ? dt : 0.0;
  }
  if (bFixTimeStep) return accept() ? 1.0 : 0.0;
  StepControlSettings control = StepSettings(dDtLimit);
  dRelChange = CLRelativeChange();
  while (dRelChange > dTolerance) {
    if (nRetryCount > 10) {
      // More than ten shrinks to the smallest step did not keep the change within
      // the tolerance: the step control is at its floor.
      bStepFloorReached = true;
      nDiscretizationError = 1;
      return dRelChange;
    }
    if (nSingular || nDiscretizationError) return dRelChange;
    control.changeTarget = dTolerance02;
    bool floored = false;
    dDt = ShrinkStep(dDt, dRelChange, control, &dDtPrev, &floored);
    // Steps at the floor that still change too much end the solution after a few
    // tries instead of shrinking for ever.
    if (floored) ++nRetryCount;
    accelerationCaps();
    CLPredictorStep(dDt);
    if (nSingular || !trialFinite()) return 0.0;
    dRelChange = CLRelativeChange();
  }
  if (!accept()) return 0.0;
  control.changeTarget = dTolerance02;
  // After a step without change the step grows tenfold; the growth rule does not
  // take that back, and the largest step still holds.
  dDt = NextStepAfterAccept(dDt, dRelChange, dTolerance005, control, &dDtPrev);
  if (dRelChange == 0.0) dDt = std::min(dDt, dDtLimit);
  if (bOutputTimePending && dTime + dDt > dNextOutputTime) dDt = dNextOutputTime - dTime;
  accelerationCaps();
  return dRelChange;
}

void CLammIdeal::SolveConcDependent() {
  if (!nArraysAllocated || pCoefS.empty()) return;
  const int N = nGrid;
  fChange = 1.0f;
  dDtAssembled = 0.0;
  if (bConcDependentActive) {
    fKs = static_cast<float>(std::pow(10.0, fLogKs) * (bKsOn ? 1 : -1) / dNonIdealParam);
    fKd = static_cast<float>(std::pow(10.0, fLogKd) * (bKdOn ? 1 : -1) / dNonIdealParam);
  }
  nSingular = 0;
  nDiscretizationError = 0;
  nRetryCount = 0;
  const bool multi = Multi(*this);
  if (multi) {
    for (int k = 1; k <= nSpecies; ++k) {
      ppSpeciesConcOld[k] = ppSpeciesConc[k];
      ppSpeciesSignalOld[k] = ppSpeciesSignal[k];
    }
  }
  for (int i = 1; i <= N; ++i) pConcOld[i] = pConc[i];
  // Coefficients of the loaded profile (kept as they are when frozen).
  if (multi)
    MultiSpeciesCoefficients(*this, ppSpeciesConc, false);
  else
    for (int i = 1; i <= N; ++i) {
      pCoefS[i] = (1 - fKs * pConc[i]) * dS;
      pCoefD[i] = (1 + fKd * pConc[i]) * dD;
    }
  CLElementIntegralsAtSpeed();
  if (bFixTimeStep) dDt = dTolerance;
  dDtLimit = 1000.0;
  iWindowLeft = 1;
  iWindowRight = N;
  CLSetStopReference();
  int quiet = 0;
  TinyStepCount tiny;
  while (bRunning) {
    if (nSingular || nDiscretizationError) break;
    const double dt0 = dDt;
    fChange = static_cast<float>(CLConcDependentStep());
    if (tiny.AtFloor(dt0)) {
      bStepFloorReached = true;
      nDiscretizationError = 1;
    }
    CLEachIterationOutput(fChange);
    fChange = static_cast<float>(fChange / dt0);
    if (dt0 >= 30 && fChange < dStopThreshold)
      ++quiet;
    else
      quiet = 0;
    if (quiet > 10) {
      bStopCriterionMet = true;
      bRunning = 0;
    }
    if (!bBandLoading && FittedRangeLeftAt(pConc.data(), N, nRefIndex, dS >= 0 ? -1 : 1, fStopLevel)) {
      bStopCriterionMet = true;
      bRunning = 0;
    }
  }
}

}  // namespace tarmic
