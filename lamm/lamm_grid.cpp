// The grid of a Lamm solution: work arrays, the rotor state taken from the scans,
// the choice of the grid size from the diffusional spread of the boundary, the
// optimized static grid that widens beyond the fitting range, the back-diffusion
// test and the initial loading.
#include <algorithm>
#include <cmath>
#include <new>

#include "lamm/lamm_ideal.h"

namespace tarmic {

namespace {

constexpr double kTwoPiOver60 = 0.10471975511965977;  // rad/s per rpm

void Resize(std::vector<double>& v, int n) { v.assign(static_cast<size_t>(n) + 1, 0.0); }

}  // namespace

const LammScanRecord& CLammIdeal::ScanAt(int position) const {
  return pScans[pScanIndex[position]];
}

double CLammIdeal::ScanTime(int position) const {
  const LammScanRecord& scan = ScanAt(position);
  return dScanTimeLag + (bRampRotor ? scan.timeUncorrected : scan.time);
}

int CLammIdeal::AllocWorkArrays() {
  FreeWorkArrays();
  const int n = nGrid;
  if (n < 4) return 0;
  try {
    for (std::vector<double>* v :
         {&pScannedConc, &pConc, &pRadius, &pConcOld, &pConcNew, &pRhs, &pImplSub, &pImplDiag,
          &pImplSup, &pExplSub, &pExplDiag, &pExplSup, &pStiffSub, &pStiffDiag, &pStiffSup,
          &pMassSub, &pMassDiag, &pMassSup, &pTridagGam, &pTridagBet, &pRadius0, &pHatSedSub,
          &pHatSedDiag, &pHatSedSup, &pFrameSub, &pFrameDiag, &pFrameSup, &pPeriodSub,
          &pPeriodDiag, &pPeriodSup, &pPeriodLSub, &pPeriodLDiag, &pPeriodLSup, &pPeriodGam,
          &pPeriodBet}) {
      Resize(*v, n);
    }
    if (bConcDependentActive || bConcDependentModel) {
      for (int k = 0; k < 7; ++k) {
        Resize(pDiffElem[k], n);
        Resize(pSedElem[k], n);
      }
      Resize(pCoefS, n);
      Resize(pCoefD, n);
      if (bMultiSpecies && nSpecies >= 1) {
        for (auto* m : {&ppSpeciesConc, &ppSpeciesConcOld, &ppSpeciesConcPred, &ppSpeciesSignal,
                        &ppSpeciesSignalOld, &ppSpeciesSignalPred, &ppSpeciesCoefS,
                        &ppSpeciesCoefD}) {
          m->assign(nSpecies + 1, {});
          for (int k = 1; k <= nSpecies; ++k) Resize((*m)[k], n);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    FreeWorkArrays();
    return 0;
  }
  LayEquidistantGrid();
  nArraysAllocated = 1;
  return 1;
}

void CLammIdeal::FreeWorkArrays() {
  for (std::vector<double>* v :
       {&pScannedConc, &pConc, &pRadius, &pConcOld, &pConcNew, &pRhs, &pImplSub, &pImplDiag,
        &pImplSup, &pExplSub, &pExplDiag, &pExplSup, &pStiffSub, &pStiffDiag, &pStiffSup,
        &pMassSub, &pMassDiag, &pMassSup, &pTridagGam, &pTridagBet, &pRadius0, &pHatSedSub,
        &pHatSedDiag, &pHatSedSup, &pFrameSub, &pFrameDiag, &pFrameSup, &pPeriodSub, &pPeriodDiag,
        &pPeriodSup, &pPeriodLSub, &pPeriodLDiag, &pPeriodLSup, &pPeriodGam, &pPeriodBet, &pCoefS,
        &pCoefD}) {
    std::vector<double>().swap(*v);
  }
  for (int k = 0; k < 7; ++k) {
    std::vector<double>().swap(pDiffElem[k]);
    std::vector<double>().swap(pSedElem[k]);
  }
  for (auto* m : {&ppSpeciesConc, &ppSpeciesConcOld, &ppSpeciesConcPred, &ppSpeciesSignal,
                  &ppSpeciesSignalOld, &ppSpeciesSignalPred, &ppSpeciesCoefS, &ppSpeciesCoefD}) {
    m->clear();
  }
  nArraysAllocated = 0;
}

int CLammIdeal::ResizeWorkArrays(int n) {
  if (!nArraysAllocated) return 0;
  FreeWorkArrays();
  nGrid = n;
  return AllocWorkArrays();
}

void CLammIdeal::LayEquidistantGrid() {
  const double h = (dBottom - dMeniscus) / (nGrid - 1);
  for (int i = 1; i < nGrid; ++i) pRadius[i] = dMeniscus + (i - 1) * h;
  pRadius[nGrid] = dBottom;
  bNonUniformGrid = false;
  bOptimizedGridBuilt = false;
}

void CLammIdeal::SetRotorFromScans() {
  bAccelerating = bRampRotor;
  const LammScanRecord& first = ScanAt(1);
  const LammScanRecord& last = ScanAt(nScanCount);
  dAccelEndTime = first.accelTime;
  dAccelRate = first.accelRate;
  dRpmFinal = last.rpm;
  dRpmNow = dRpmFinal;
  const double w = dRpmFinal * kTwoPiOver60;
  dOmega2S = w * w * dS * 1e-13;
  dStepLimit = 10.0;
  // An acceleration shorter than 10 s counts as none.
  if (dAccelEndTime < 10.0) {
    dAccelEndTime = 0.0;
    bAccelerating = false;
    dRpmNow = dRpmFinal;
  }
}

void CLammIdeal::SetStepLimit() {
  if (!(bRampRotor && bUseClaverie && !bAutoVariant)) return;
  float threshold = static_cast<float>(bOptimizeGrid && bAutoGridSize ? dVariantThresholdOpt
                                                                         : dVariantThreshold);
  const float ratio = ScanAt(nScanCount).rpm * 3.3333333333333335e-05f;
  threshold /= ratio * ratio;
  if (std::fabs(dS) > threshold) dStepLimit = 1.0;
}

bool CLammIdeal::BackDiffusionTest(double s, double D) {
  if (bMultiSpeciesNonideal || !bShutOffBackDiffusionOption || !(s > 0) || !(D > 0)) return false;
  const LammScanRecord& last = ScanAt(nScanCount);
  const double T = last.temperature + 273.15;
  const double w = last.rpm * kTwoPiOver60;
  const double Mb = 1e-13 * s * T * 8.31451 * 1e7 / D;
  // sigma = Mb w^2 / (2 R T), the exponent of the equilibrium profile per cm^2.
  const double sigma = Mb * w * w / (166289440.0f * T);
  const double b = dBottom, m = dMeniscus, rR = fRightLimit;
  if (sigma > 100 || sigma * (b * b - rR * rR) > 100) return true;
  const double mean = (std::exp(sigma * (b * b - rR * rR)) - std::exp(sigma * (m * m - rR * rR))) /
                      (2 * sigma) / (0.5 * (b * b - m * m));
  return 1.0 / mean < dBackDiffusionLevel;
}

void CLammIdeal::SetUpGrid() {
  bNoWindow = false;
  if (bSelfAssociation || bConcDependentActive) {
    nGrid = nDefaultGrid;
    bNoWindow = true;
    if (!AllocWorkArrays()) return;
    bShutOffBackDiffusion = BackDiffusionTest(dS, dD);
    return;
  }
  bool optimized = false;
  if (bAutoGridSize && !bBandLoading && dD > 0) {
    if (fFf0 < 0.5f) {
      nGrid = nDefaultGrid;
      bNoWindow = true;
    } else {
      bShutOffBackDiffusion = BackDiffusionTest(dS, dD);
      const float m = static_cast<float>(dMeniscus), b = static_cast<float>(dBottom);
      float rL = fLeftLimit;
      if (rL < m + 0.001f) rL = m + 0.001f;
      // Time for the boundary to reach the left fitting limit, with the
      // displacement during the acceleration.
      const float a = static_cast<float>(dAccelRate * kTwoPiOver60);
      const float accelEnd = static_cast<float>(dAccelEndTime);
      const float x = static_cast<float>(std::fabs(dS)) / 3 * 1e-13f * a * a * m * accelEnd *
                      accelEnd * accelEnd;
      const float sw2 = static_cast<float>(std::fabs(dOmega2S));
      float t;
      if (sw2 > 0) {
        t = (rL - m > x) ? (rL - x - m) / (sw2 * rL) + accelEnd : (rL - m) / (sw2 * rL);
      } else {
        // No sedimentation: the spread reached by the time of the last scan.
        t = static_cast<float>(ScanTime(nScanCount));
      }
      // Diffusional spread of the boundary at that time and the spacing that puts
      // fPointsPerSigma nodes across it.
      float sigma = std::sqrt(static_cast<float>(dD) * t);
      if (!(sigma >= 0.001f)) sigma = 0.001f;
      const float h = sigma / fPointsPerSigma;
      const float n0 = std::floor((b - m) * fPointsPerSigma / sigma);
      fGridSizeA = fGridSizeB = n0;
      fOptimizedGridRadius = rL;
      // The moving grid: one above the smallest size whose first spacing is
      // within h.
      const float ratio = b / m;
      while (static_cast<float>(nMinGrid) < fGridSizeA) {
        const float N = fGridSizeA;
        const float first = m * (std::pow(ratio, 1.5f / (N - 1)) - std::pow(ratio, 0.5f / (N - 1)));
        if (first > h) {
          fGridSizeA += 1;
          break;
        }
        fGridSizeA -= 1;
      }
      const float chosen = bUseMovingHat ? fGridSizeA : fGridSizeB;
      nGrid = std::clamp(static_cast<int>(std::floor(chosen)), nMinGrid, nMaxGrid);
      optimized = bUseClaverie && bOptimizeGrid && bShutOffBackDiffusion && !bBandLoading;
    }
  } else {
    nGrid = nDefaultGrid;
    bNoWindow = true;
  }
  if (!AllocWorkArrays()) return;
  if (dD == 0) {
    bShutOffBackDiffusion = false;
    return;
  }
  // A strongly floating, hardly diffusing species leaves the meniscus region for good.
  const double M = 1e-13 * dS * (fTemperature + 273.15) * 8.31451 * 1e7 / dD;
  if (M < -1e7 && dD < 1e-8 && dS < -10) {
    bShutOffBackDiffusion = true;
    return;
  }
  if (optimized) BuildOptimizedGrid(fOptimizedGridRadius);
}

void CLammIdeal::BuildOptimizedGrid(double radius) {
  const double m = dMeniscus, b = dBottom;
  const int N = nGrid;
  if (m == 0 || b == 0 || radius <= m || N < 50 || bUseMovingHat || !bUseClaverie) {
    ResizeWorkArrays(N);
    return;
  }
  // Equidistant up to the left fitting limit r*, then widening steps
  // h0 sqrt(((r - m)/(r* - m)) (r*/r)): the spread of the boundary grows with the
  // square root of the distance it has travelled.
  const double h0 = (b - m) / (N - 1);
  std::vector<double> r(2, m);  // r[1] = m
  double x = m;
  int i = 1;
  while (x < radius && i < N - 1) {
    const double next = m + i * h0;
    if (next >= b) break;
    x = next;
    r.push_back(x);
    ++i;
  }
  while (i < N - 1) {
    const double step = h0 * std::sqrt(((x - m) / (radius - m)) * (radius / x));
    if (x + step >= b) break;
    x += step;
    r.push_back(x);
    ++i;
  }
  r.push_back(b);
  const int count = static_cast<int>(r.size()) - 1;
  if (count >= 50) {
    nGrid = count;
    if (!AllocWorkArrays()) return;
    for (int k = 1; k <= count; ++k) pRadius[k] = r[k];
    bNonUniformGrid = true;
    bOptimizedGridBuilt = true;
  } else {
    nGrid = 50;
    AllocWorkArrays();
  }
}

void CLammIdeal::WriteInitialLoading() {
  const int n = nGrid;
  const double edge = pRadius[1] + fLamellaWidth;
  auto loaded = [&](int i, double c0) {
    if (!bBandLoading) return c0;
    const bool inside = pRadius[i] <= edge;
    return (inside != bInvertBand) ? c0 : 0.0;
  };
  if (bMultiSpecies && nSpecies >= 1 && !ppSpeciesConc.empty()) {
    for (int i = 1; i <= n; ++i) pConc[i] = 0.0;
    for (int k = 1; k <= nSpecies; ++k) {
      for (int i = 1; i <= n; ++i) {
        ppSpeciesConc[k][i] = loaded(i, pNonIdealConc[k]);
        ppSpeciesSignal[k][i] = pNonIdealFourth[k] * ppSpeciesConc[k][i];
        pConc[i] += ppSpeciesSignal[k][i];
      }
    }
  } else {
    for (int i = 1; i <= n; ++i) pConc[i] = loaded(i, dConc0);
  }
  for (int i = 1; i <= n; ++i) pScannedConc[i] = pConc[i];
}

}  // namespace tarmic
