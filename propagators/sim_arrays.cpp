#include "propagators/sim_arrays.h"

#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "lamm/moving_hat_core.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/statistics.h"
#include "propagators/sim_clock.h"
#include "scandata/data_set.h"

namespace tarmic {

double* pSimPlotWork = nullptr;
double* pLammConc = nullptr;
double* pLammRadius = nullptr;

double* pLammRadius2 = nullptr;

double* pFreeA = nullptr;
double* pFreeB = nullptr;
double* pComplex = nullptr;

bool bSimArraysAllocated = false;
int nSimGridPointsAllocated = 0;
CCurve* pSimMassCurve = nullptr;

bool bOptimizedGridPending = false;
double dOptimizedGridRadius = 0.0;
double dOptimizedGridStep = 0.0;
bool bOptimizedGridBuilt = false;

int nCosolventPoints = 50;
bool bCosolventExtraArrays = false;
bool bCosolventArrays = false;
double* pCosolventRadius = nullptr;

namespace {

// The blocks of one allocation and what they were allocated for.
struct SimBlocks {
  std::vector<double> base, mass, hat, reacting, concDependent;
  bool movingHat = false;
  bool reactingModel = false;
  bool concDependentModel = false;
  SimWorkArrays work;  // where the propagators' work arrays point
  std::unique_ptr<CVector> massX, massY;
};
SimBlocks gBlocks;

struct CosolventBlocks {
  std::vector<double> main, extra;
  int n = 0;
};
CosolventBlocks gCosolvent;
constexpr int kCosolventMain = 22, kCosolventExtra = 14;

constexpr int kBaseArrays = 15, kMassArrays = 4, kHatArrays = 18, kReactingArrays = 34,
              kConcDependentArrays = 17;

bool WantsConcDependentBlock() {
  return bMonomerDimer || bAssoc148 || bAssoc124 || bMonomerTrimer || bNonidealSpecies ||
         bCsNonideal;
}

// Cuts a zero-filled block of count arrays of n + 1 doubles; false when memory is short.
bool CutBlock(std::vector<double>& block, int count, int n, double** const* targets) {
  try {
    block.assign(static_cast<std::size_t>(count) * (n + 1), 0.0);
  } catch (const std::bad_alloc&) {
    block.clear();
    return false;
  }
  for (int k = 0; k < count; ++k) *targets[k] = block.data() + static_cast<std::size_t>(k) * (n + 1);
  return true;
}

void NullAll() {
  double** all[] = {&pSimPlotWork, &pLammConc, &pLammRadius, &pLammRadius2,
                    &pFreeA,       &pFreeB,    &pComplex};
  for (double** p : all) *p = nullptr;
  gBlocks.work = {};
}

}  // namespace

const SimWorkArrays& SimWork() { return gBlocks.work; }

bool SimArraysMatchModel() {
  return bSimArraysAllocated && nSimGridPointsAllocated == nLammGridPoints &&
         gBlocks.movingHat == bMovingHat && gBlocks.reactingModel == bHeteroAssocModel &&
         gBlocks.concDependentModel == WantsConcDependentBlock();
}

void FreeSimArrays() {
  gBlocks.base.clear();
  gBlocks.base.shrink_to_fit();
  gBlocks.mass = {};
  gBlocks.hat = {};
  gBlocks.reacting = {};
  gBlocks.concDependent = {};
  delete pSimMassCurve;
  pSimMassCurve = nullptr;
  gBlocks.massX.reset();
  gBlocks.massY.reset();
  NullAll();
  bSimArraysAllocated = false;
  nSimGridPointsAllocated = 0;
}

bool AllocSimArrays() {
  // Arrays of another size or another set of blocks are replaced: building a grid
  // of N nodes into arrays of fewer would write past them.
  if (bSimArraysAllocated && !SimArraysMatchModel()) FreeSimArrays();
  if (!bSimArraysAllocated) {
    const int n = nLammGridPoints;
    SimWorkArrays& w = gBlocks.work;
    if (n < kMinSimGridPoints || n > kMaxSimGridPoints) return false;
    double** base[kBaseArrays] = {
        &pSimPlotWork, &pLammConc,      &pLammRadius,       &w.pLammConcOld,   &w.pLammRhs,
        &w.pStepDiag,  &w.pTridagGamma, &w.pRhsLower,       &w.pRhsDiag,       &w.pRhsUpper,
        &w.pStepUpper, &w.pStepLower,   &w.pTransportUpper, &w.pTransportDiag, &w.pTransportLower};
    double** mass[kMassArrays] = {&w.pMassUpper, &w.pMassDiag, &w.pMassLower, &w.pTridagBeta};
    bool ok = CutBlock(gBlocks.base, kBaseArrays, n, base) &&
              CutBlock(gBlocks.mass, kMassArrays, n, mass);
    gBlocks.movingHat = bMovingHat;
    if (ok && bMovingHat) {
      double** hat[kHatArrays] = {&w.pHatStiffLower,    &w.pHatStiffDiag,     &w.pHatStiffUpper,
                                  &w.pHatSedLower,      &w.pHatSedDiag,       &w.pHatSedUpper,
                                  &w.pHatMotionLower,   &w.pHatMotionDiag,    &w.pHatMotionUpper,
                                  &pLammRadius2,        &w.pFullHatRhsLower,  &w.pFullHatRhsDiag,
                                  &w.pFullHatRhsUpper,  &w.pFullHatStepLower, &w.pFullHatStepDiag,
                                  &w.pFullHatStepUpper, &w.pFullHatGamma,     &w.pFullHatBeta};
      ok = CutBlock(gBlocks.hat, kHatArrays, n, hat);
      w.pHatEndTransportLower = w.pStepLower;
      w.pHatEndTransportDiag = w.pStepDiag;
      w.pHatEndTransportUpper = w.pStepUpper;
    }
    gBlocks.reactingModel = bHeteroAssocModel;
    if (ok && bHeteroAssocModel) {
      double** re[kReactingArrays] = {
          &pFreeA,         &pFreeB,          &w.pFreeAOld,         &w.pFreeBOld,    &w.pFreeAOlder,
          &w.pFreeBOlder,  &w.pFreeATemp,    &w.pFreeBTemp,        &w.pFluxA,       &w.pFluxB,
          &pComplex,       &w.pReactPartner, &w.pReactPartnerRate, &w.pTransALower, &w.pTransADiag,
          &w.pTransAUpper, &w.pTransBLower,  &w.pTransBDiag,       &w.pTransBUpper};
      for (int k = 0; k < kElementPairs; ++k) {
        re[19 + k] = &w.pComplexMassElem[k];
        re[19 + kElementPairs + k] = &w.pComplexTransportElem[k];
      }
      re[33] = &w.pReactNodeWeight;
      ok = CutBlock(gBlocks.reacting, kReactingArrays, n, re);
    }
    gBlocks.concDependentModel = WantsConcDependentBlock();
    if (ok && gBlocks.concDependentModel) {
      double** cd[kConcDependentArrays] = {&w.pLocalS};
      for (int k = 0; k < kElementPairs; ++k) {
        cd[1 + k] = &w.pDiffElem[k];
        cd[1 + kElementPairs + k] = &w.pSedElem[k];
      }
      cd[15] = &w.pLocalD;
      cd[16] = &w.pLammConcNew;
      ok = CutBlock(gBlocks.concDependent, kConcDependentArrays, n, cd);
    }
    if (!ok) {
      FreeSimArrays();
      return false;
    }
    nSimGridPointsAllocated = n;
    bSimArraysAllocated = true;
  }
  BuildLammGrid();
  if (bShowSimMass && bMovingHat && !pSimMassCurve) {
    const auto n = static_cast<std::uint32_t>(nSimGridPointsAllocated);
    gBlocks.massX = std::make_unique<CVector>(n, 0);
    gBlocks.massY = std::make_unique<CVector>(n, 0);
    pSimMassCurve = new CCurve(gBlocks.massX.get(), gBlocks.massY.get());
  }
  return true;
}

bool ResizeSimArrays(int n) {
  if (!bSimArraysAllocated) return false;
  if (n < kMinSimGridPoints || n > kMaxSimGridPoints) return false;
  FreeSimArrays();
  nLammGridPoints = n;
  return AllocSimArrays();
}

void BuildLammGrid() {
  if (!bSimArraysAllocated || bDLSData) return;
  const int N = nSimGridPointsAllocated;
  const double m = fMeniscus, b = fBottom;
  double* r = pLammRadius;
  bOptimizedGridBuilt = false;
  if (bMovingHat) {
    // Geometric: node 2 half a ratio from the meniscus (1.5 ratios for a frame
    // moving inward), each further node one ratio on.
    LayMovingHatGrid(r, N, m, b, dFrameS < 0);
    if (pLammRadius2)
      for (int i = 1; i <= N; ++i) pLammRadius2[i] = r[i];
  } else if (bClaverie && bOptimizedGridPending) {
    // Equidistant up to r*, then increments h0 sqrt(((r - m)/(r* - m)) (r*/r)).
    const double h0 = dOptimizedGridStep, rs = dOptimizedGridRadius;
    r[1] = m;
    int i = 1;
    while (i < N - 1) {
      const double last = r[i];
      const double h = last < rs ? h0 : h0 * std::sqrt(((last - m) / (rs - m)) * (rs / last));
      if (last + h >= b) break;
      r[++i] = last + h;
    }
    for (int k = i + 1; k <= N; ++k) r[k] = b;  // the next point is the bottom
    bOptimizedGridBuilt = true;
  } else if (bClaverie) {
    for (int i = 1; i <= N; ++i) r[i] = m + (i - 1) * (b - m) / (N - 1);
  } else {
    for (int i = 1; i <= N; ++i) r[i] = m + (i - 0.5) * (b - m) / N;
  }
}

namespace {

// Points of the widening grid from the meniscus until a point would reach the
// bottom (at most limit).
int CountWideningPoints(double m, double b, double rs, double h0, int limit) {
  double r = m;
  int count = 1;
  while (count < limit) {
    const double h = r < rs ? h0 : h0 * std::sqrt(((r - m) / (rs - m)) * (rs / r));
    if (r + h >= b) break;
    r += h;
    ++count;
  }
  return count + 1;  // the bottom
}

}  // namespace

int OptimizeStaticGridSize(double rStar) {
  const double m = fMeniscus, b = fBottom;
  int N = nLammGridPoints;
  if (m == 0 || b == 0 || rStar <= m || N < 50 || bMovingHat || !bClaverie) {
    if (bSimArraysAllocated) ResizeSimArrays(N);
    return nLammGridPoints;
  }
  const double h0 = (b - m) / (N - 1);
  const int count = CountWideningPoints(m, b, std::min(rStar, b), h0, N);
  FreeSimArrays();
  if (count >= 50) {
    nLammGridPoints = count;
    bOptimizedGridPending = true;
    dOptimizedGridRadius = std::min(rStar, b);
    dOptimizedGridStep = h0;
    AllocSimArrays();
    bOptimizedGridPending = false;
  } else {
    nLammGridPoints = 50;
    AllocSimArrays();
  }
  return nLammGridPoints;
}

bool RefineGridAtBottom(double sigma) {
  if (!bSimArraysAllocated || !bOptimizedGridBuilt) return false;
  const int N = nSimGridPointsAllocated;
  const double m = fMeniscus, b = fBottom;
  double* r = pLammRadius;
  double rB = m + 0.1 * (b - m);
  if (sigma > 10) rB = std::max(rB, b * std::sqrt(std::max(0.0, 1 - 10 / (sigma * b * b))));
  // Stretch the equidistant start until a point passes r_B.
  int iB = N - 1;
  for (int i = 2; i < N; ++i) {
    r[i] = m + 1.1 * (r[i] - m);
    if (r[i] > rB) {
      iB = i;
      break;
    }
  }
  if (iB >= N - 1) {
    r[N] = b;
    return true;
  }
  const double hB = r[iB] - r[iB - 1];
  const int K = N - iB;
  // q with r_(iB) + sum_(k=1..K) q^k hB = b.
  auto gap = [&](double q) {
    double sum = 0.0, p = 1.0;
    for (int k = 1; k <= K; ++k) {
      p *= q;
      sum += p;
    }
    return r[iB] + sum * hB - b;
  };
  const BrentResult q = BrentSearch(gap, 0.0, 10.0, 1e-6, 100);
  if (!q.converged) return false;
  double p = 1.0;
  for (int i = iB + 1; i < N; ++i) {
    p *= q.root;
    r[i] = r[i - 1] + p * hB;
  }
  r[N] = b;
  return true;
}

void MoveHatGrid() {
  if (!bSimArraysAllocated || !pLammRadius2) return;
  const int N = nSimGridPointsAllocated;
  const double e = std::exp((dSimTime - dHatT0) * dFrameSedOmega2);
  pLammRadius[1] = fMeniscus;
  for (int i = 2; i < N; ++i) pLammRadius[i] = pLammRadius2[i] * e;
  pLammRadius[N] = fBottom;
}

double* CosolventArray(int k) {
  if (!bCosolventArrays) return nullptr;
  const int n = gCosolvent.n;
  if (k >= 1 && k <= kCosolventMain) return gCosolvent.main.data() + static_cast<std::size_t>(k - 1) * (n + 1);
  if (k > kCosolventMain && k <= kCosolventMain + kCosolventExtra && !gCosolvent.extra.empty())
    return gCosolvent.extra.data() + static_cast<std::size_t>(k - kCosolventMain - 1) * (n + 1);
  return nullptr;
}

void FreeCosolventArrays() {
  gCosolvent = {};
  bCosolventArrays = false;
  pCosolventRadius = nullptr;
}

bool AllocCosolventArrays() {
  const int n = nCosolventPoints;
  if (bCosolventArrays && (n != gCosolvent.n || bCosolventExtraArrays != !gCosolvent.extra.empty()))
    FreeCosolventArrays();
  // The grid needs two points at least (its spacing divides by n - 1).
  if (n < 2 || n > kMaxSimGridPoints) return false;
  if (!bCosolventArrays) {
    try {
      gCosolvent.main.assign(static_cast<std::size_t>(kCosolventMain) * (n + 1), 0.0);
      if (bCosolventExtraArrays)
        gCosolvent.extra.assign(static_cast<std::size_t>(kCosolventExtra) * (n + 1), 0.0);
    } catch (const std::bad_alloc&) {
      FreeCosolventArrays();
      return false;
    }
    gCosolvent.n = n;
    bCosolventArrays = true;
  }
  pCosolventRadius = CosolventArray(1);
  const double m = fMeniscus, b = fBottom;
  for (int i = 1; i <= n; ++i) pCosolventRadius[i] = m + (i - 1) * (b - m) / (n - 1);
  return true;
}

void ResetSimArrays() {
  FreeSimArrays();
  FreeCosolventArrays();
  bOptimizedGridPending = false;
  dOptimizedGridRadius = dOptimizedGridStep = 0.0;
  bOptimizedGridBuilt = false;
  nCosolventPoints = 50;
  bCosolventExtraArrays = false;
}

}  // namespace tarmic
