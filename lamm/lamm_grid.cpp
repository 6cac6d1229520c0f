// The grid of a Lamm solution: work arrays, the rotor state taken from the scans,
// the choice of the grid size from the diffusional spread of the boundary, the
// optimized static grid that widens beyond the fitting range, the refinement towards
// the bottom for species that pile up there, the back-diffusion test and the initial
// loading.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "lamm/back_diffusion.h"
#include "lamm/lamm_ideal.h"
#include "numerics/hydrodynamics.h"
#include "numerics/statistics.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {


void GiveBack(LammWorkArrayPool& pool, std::vector<double>& v) {
  if (v.capacity() > 0 && pool.spare.size() < LammWorkArrayPool::kMaxArrays) pool.spare.push_back(std::move(v));
  std::vector<double>().swap(v);
}

// v as n + 1 zeros, on the pool's storage when it has some.
void Resize(LammWorkArrayPool& pool, std::vector<double>& v, int n) {
  const std::size_t size = static_cast<std::size_t>(n) + 1;
  if (v.capacity() < size && !pool.spare.empty()) {
    v.swap(pool.spare.back());
    pool.spare.pop_back();
  }
  v.assign(size, 0.0);
}

// The pile-up at the bottom. Close to the bottom the profile of a species whose
// back-diffusion is not shut off rises like exp(-u) towards it, u = (b - r)/delta,
// delta = 1/(2 sigma b). Linear elements of width h give each element a relative
// error of about (h/delta)^3/12 in the rise of that exponential; the errors add up
// from the bottom inwards, and the profile carries them with its height there.
//
// Error allowed for the pile-up inside the fitting range, relative to the loading.
// The estimate is on the safe side (the height is the equilibrium one, and the
// errors measured against refined solutions come out at a half to a quarter of it).
constexpr double kPileUpTolerance = 5e-4;
// The graded elements: the one at the bottom is kappa delta wide, and the widths
// grow by the factor (1 + 2 kappa) per element inwards until they reach the grid's
// own spacing. kappa is searched from the coarsest down by the factor 1.25.
constexpr double kCoarsestGrading = 0.25;
constexpr double kFinestGrading = 0.005;

// Estimated error, relative to the loading, of the pile-up on the radii r[1..N]
// inside the fitting range (r <= rightLimit): height exp(-u) times the error added up
// from the bottom to u. height is the pile-up's height at the bottom.
double PileUpError(const std::vector<double>& r, int N, double delta, double height,
                   double rightLimit) {
  const double b = r[N];
  double added = 0.0, worst = 0.0;
  for (int i = N; i >= 2; --i) {
    const double h = (r[i] - r[i - 1]) / delta;
    added += h * h * h / 12;
    const double u = (b - r[i - 1]) / delta;
    if (u > 50) break;  // exp(-u) has taken over
    if (r[i - 1] <= rightLimit) worst = std::max(worst, height * std::exp(-u) * added);
  }
  return worst;
}

// q + q^2 + ... + q^n.
double GeometricSum(double q, int n) {
  if (std::fabs(1 - q) < 1e-9) return n * q;
  return q * (1 - std::pow(q, n)) / (1 - q);
}

// The radii r[1..N] with the elements from a node iB on replaced by n elements of
// widths hB q^k (k = 1..n), hB = r[iB] - r[iB - 1], that shrink towards the bottom
// r[N]: iB is the outermost node from which elements that shrink by 1/(1 + growth)
// per element get down to the width hEnd before the bottom, and q is the root of
// r[iB] + hB (q + q^2 + ... + q^n) = r[N]. Empty when the grid's last element is
// already within hEnd, or when no root was found.
std::vector<double> GradeTowardsBottom(const std::vector<double>& r, int N, double hEnd,
                                       double growth) {
  const double b = r[N];
  if (r[N] - r[N - 1] <= hEnd) return {};
  const double ratio = 1.0 / (1.0 + growth);
  int iB = 2, n = 1;
  for (int i = N - 1; i >= 2; --i) {
    const double hB = r[i] - r[i - 1];
    const int count =
        hB > hEnd ? static_cast<int>(std::ceil(std::log(hEnd / hB) / std::log(ratio))) : 1;
    iB = i;
    n = count + 1;  // one more for the rest of the span
    if (b - r[i] >= hB * GeometricSum(ratio, count)) break;
  }
  const double hB = r[iB] - r[iB - 1];
  const double span = b - r[iB];
  // The excess is -span at q = 0 and positive at q = 10: the root is bracketed.
  const BrentResult root =
      BrentSearch([&](double q) { return hB * GeometricSum(q, n) - span; }, 0.0, 10.0, 1e-12, 100);
  if (!root.converged || !(root.root > 0)) return {};
  const double q = root.root;
  // The widths, scaled to end exactly on the bottom whatever is left of the root's
  // tolerance.
  const double scale = span / (hB * GeometricSum(q, n));
  std::vector<double> out(r.begin(), r.begin() + iB + 1);
  double x = r[iB], width = hB * scale;
  for (int k = 1; k < n; ++k) {
    width *= q;
    x += width;
    out.push_back(x);
  }
  out.push_back(b);
  return out;
}

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
  LammWorkArrayPool& pool = WorkArrayPool();
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
      Resize(pool, *v, n);
    }
    if (bConcDependentActive || bConcDependentModel) {
      for (int k = 0; k < 7; ++k) {
        Resize(pool, pDiffElem[k], n);
        Resize(pool, pSedElem[k], n);
      }
      Resize(pool, pCoefS, n);
      Resize(pool, pCoefD, n);
      if (bMultiSpecies && nSpecies >= 1) {
        for (auto* m : {&ppSpeciesConc, &ppSpeciesConcOld, &ppSpeciesConcPred, &ppSpeciesSignal,
                        &ppSpeciesSignalOld, &ppSpeciesSignalPred, &ppSpeciesCoefS,
                        &ppSpeciesCoefD}) {
          m->assign(nSpecies + 1, {});
          for (int k = 1; k <= nSpecies; ++k) Resize(pool, (*m)[k], n);
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
  LammWorkArrayPool& pool = WorkArrayPool();
  for (std::vector<double>* v :
       {&pScannedConc, &pConc, &pRadius, &pConcOld, &pConcNew, &pRhs, &pImplSub, &pImplDiag,
        &pImplSup, &pExplSub, &pExplDiag, &pExplSup, &pStiffSub, &pStiffDiag, &pStiffSup,
        &pMassSub, &pMassDiag, &pMassSup, &pTridagGam, &pTridagBet, &pRadius0, &pHatSedSub,
        &pHatSedDiag, &pHatSedSup, &pFrameSub, &pFrameDiag, &pFrameSup, &pPeriodSub, &pPeriodDiag,
        &pPeriodSup, &pPeriodLSub, &pPeriodLDiag, &pPeriodLSup, &pPeriodGam, &pPeriodBet, &pCoefS,
        &pCoefD}) {
    GiveBack(pool, *v);
  }
  std::vector<StepFactors>().swap(keptStepFactors);
  for (int k = 0; k < 7; ++k) {
    GiveBack(pool, pDiffElem[k]);
    GiveBack(pool, pSedElem[k]);
  }
  for (auto* m : {&ppSpeciesConc, &ppSpeciesConcOld, &ppSpeciesConcPred, &ppSpeciesSignal,
                  &ppSpeciesSignalOld, &ppSpeciesSignalPred, &ppSpeciesCoefS, &ppSpeciesCoefD}) {
    for (std::vector<double>& row : *m) GiveBack(pool, row);
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
  dOmega2S = SedimentationRate(dS, dRpmFinal);
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
  const double Mb = 1e-13 * s * T * kGasConstant / D;
  // sigma = Mb w^2 / (2 R T), the exponent of the equilibrium profile per cm^2.
  const double sigma = Mb * w * w / (166289440.0f * T);
  return BackDiffusionNegligible(sigma, dMeniscus, dBottom, fRightLimit, dBackDiffusionLevel);
}

void CLammIdeal::SetUpGrid() {
  bNoWindow = false;
  if (bSelfAssociation || bConcDependentActive) {
    nGrid = RefinedGridSize(nDefaultGrid);
    bNoWindow = true;
    if (!AllocWorkArrays()) return;
    bShutOffBackDiffusion = BackDiffusionTest(dS, dD);
    return;
  }
  bool optimized = false;
  if (bAutoGridSize && !bBandLoading && dD > 0) {
    if (fFf0 < 0.5f) {
      nGrid = RefinedGridSize(nDefaultGrid);
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
      // Every count above the upper limit ends as that limit, so the count starts no
      // higher than one above it: the search below lowers it one by one, and a
      // count beyond 2^24 would not even change in single precision.
      const float ceiling = static_cast<float>(nMaxGrid) + 1;
      float n0 = std::floor((b - m) * fPointsPerSigma / sigma);
      if (!(n0 <= ceiling)) n0 = ceiling;
      if (n0 < 0) n0 = 0;  // a cell upside down: the lower limit
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
      nGrid = RefinedGridSize(std::clamp(TruncateToInt(std::floor(chosen)), nMinGrid, nMaxGrid));
      optimized = bUseClaverie && bOptimizeGrid && bShutOffBackDiffusion && !bBandLoading;
    }
  } else {
    nGrid = RefinedGridSize(nDefaultGrid);
    bNoWindow = true;
  }
  if (!AllocWorkArrays()) return;
  if (dD == 0) {
    bShutOffBackDiffusion = false;
    return;
  }
  // A strongly floating, hardly diffusing species leaves the meniscus region for good.
  const double M = 1e-13 * dS * (fTemperature + 273.15) * kGasConstant / dD;
  if (M < -1e7 && dD < 1e-8 && dS < -10) {
    bShutOffBackDiffusion = true;
    return;
  }
  if (optimized) {
    BuildOptimizedGrid(fOptimizedGridRadius);
  } else if (BottomRefinementWanted()) {
    // The species stays in the cell and piles up at the bottom: the grid sized for
    // the boundary is kept and graded towards the bottom. (The widening grid suits
    // only species whose material leaves through the shut-off.)
    RefineGridAtBottom(EquilibriumSigma());
  }
}

double CLammIdeal::EquilibriumSigma() const {
  const double T = ScanAt(nScanCount).temperature + 273.15;
  const double w = dRpmFinal * kTwoPiOver60;
  const double Mb = 1e-13 * dS * T * kGasConstant / dD;
  return Mb * w * w / (166289440.0f * T);
}

bool CLammIdeal::BottomRefinementWanted() const {
  return bAutoGridSize && bOptimizeGrid && bUseClaverie && !bUseMovingHat && !bBandLoading &&
         !bShutOffBackDiffusion && !bSelfAssociation && !bConcDependentActive && fFf0 >= 0.5f &&
         dS > 0 && dD > 0;
}

void CLammIdeal::RefineGridAtBottom(double sigma) {
  if (!nArraysAllocated || bShutOffBackDiffusion || !(sigma > 0) || nGrid < 4) return;
  const double m = dMeniscus, b = dBottom;
  const double delta = 1.0 / (2 * sigma * b);
  // The height of the pile-up relative to the loading is at most that of the
  // sedimentation equilibrium at the bottom.
  const double x = sigma * (b * b - m * m);
  const double height = x > 1e-8 ? x / -std::expm1(-x) : 1.0;
  const double limit = fRightLimit;
  const std::vector<double> base(pRadius.begin(), pRadius.begin() + nGrid + 1);
  if (PileUpError(base, nGrid, delta, height, limit) <= kPileUpTolerance) return;
  // From the coarsest grading down to the first that is accurate enough, within the
  // upper limit of the grid size.
  std::vector<double> chosen;
  for (double kappa = kCoarsestGrading; kappa >= kFinestGrading; kappa /= 1.25) {
    std::vector<double> graded = GradeTowardsBottom(base, nGrid, kappa * delta, 2 * kappa);
    if (graded.empty()) continue;
    const int count = static_cast<int>(graded.size()) - 1;
    if (count > nMaxGrid) break;
    chosen = std::move(graded);
    if (PileUpError(chosen, count, delta, height, limit) <= kPileUpTolerance) break;
  }
  if (chosen.empty()) return;
  const int count = static_cast<int>(chosen.size()) - 1;
  nGrid = count;
  if (!AllocWorkArrays()) return;
  for (int i = 1; i <= count; ++i) pRadius[i] = chosen[i];
  bNonUniformGrid = true;
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
