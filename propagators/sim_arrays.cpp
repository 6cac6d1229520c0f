#include "propagators/sim_arrays.h"
#include "numerics/analysis.h"

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

struct CosolventBlocks {
  std::vector<double> main, extra;
  int n = 0;
};

// This module's own state in the analysis.
struct LocalState {
  SimBlocks gBlocks{};
  CosolventBlocks gCosolvent{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }
constexpr int kCosolventMain = 22, kCosolventExtra = 14;

constexpr int kBaseArrays = 15, kMassArrays = 4, kHatArrays = 18, kReactingArrays = 34,
              kConcDependentArrays = 17;

bool WantsConcDependentBlock() {
  return ModelFlags().bMonomerDimer || ModelFlags().bAssoc148 || ModelFlags().bAssoc124 || ModelFlags().bMonomerTrimer || ModelFlags().bNonidealSpecies ||
         ModelFlags().bCsNonideal;
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
  double** all[] = {&LammArrays().pSimPlotWork, &LammArrays().pLammConc, &LammArrays().pLammRadius, &LammArrays().pLammRadius2,
                    &LammArrays().pFreeA,       &LammArrays().pFreeB,    &LammArrays().pComplex};
  for (double** p : all) *p = nullptr;
  Local().gBlocks.work = {};
}

}  // namespace

const SimWorkArrays& SimWork() { return Local().gBlocks.work; }

bool SimArraysMatchModel() {
  return LammArrays().bSimArraysAllocated && LammArrays().nSimGridPointsAllocated == LammSettings().nLammGridPoints &&
         Local().gBlocks.movingHat == LammSettings().bMovingHat && Local().gBlocks.reactingModel == ModelFlags().bHeteroAssocModel &&
         Local().gBlocks.concDependentModel == WantsConcDependentBlock();
}

void FreeSimArrays() {
  Local().gBlocks.base.clear();
  Local().gBlocks.base.shrink_to_fit();
  Local().gBlocks.mass = {};
  Local().gBlocks.hat = {};
  Local().gBlocks.reacting = {};
  Local().gBlocks.concDependent = {};
  delete LammArrays().pSimMassCurve;
  LammArrays().pSimMassCurve = nullptr;
  Local().gBlocks.massX.reset();
  Local().gBlocks.massY.reset();
  NullAll();
  LammArrays().bSimArraysAllocated = false;
  LammArrays().nSimGridPointsAllocated = 0;
}

bool AllocSimArrays() {
  // Arrays of another size or another set of blocks are replaced: building a grid
  // of N nodes into arrays of fewer would write past them.
  if (LammArrays().bSimArraysAllocated && !SimArraysMatchModel()) FreeSimArrays();
  if (!LammArrays().bSimArraysAllocated) {
    const int n = LammSettings().nLammGridPoints;
    SimWorkArrays& w = Local().gBlocks.work;
    if (n < kMinSimGridPoints || n > kMaxSimGridPoints) return false;
    double** base[kBaseArrays] = {
        &LammArrays().pSimPlotWork, &LammArrays().pLammConc,      &LammArrays().pLammRadius,       &w.pLammConcOld,   &w.pLammRhs,
        &w.pStepDiag,  &w.pTridagGamma, &w.pRhsLower,       &w.pRhsDiag,       &w.pRhsUpper,
        &w.pStepUpper, &w.pStepLower,   &w.pTransportUpper, &w.pTransportDiag, &w.pTransportLower};
    double** mass[kMassArrays] = {&w.pMassUpper, &w.pMassDiag, &w.pMassLower, &w.pTridagBeta};
    bool ok = CutBlock(Local().gBlocks.base, kBaseArrays, n, base) &&
              CutBlock(Local().gBlocks.mass, kMassArrays, n, mass);
    Local().gBlocks.movingHat = LammSettings().bMovingHat;
    if (ok && LammSettings().bMovingHat) {
      double** hat[kHatArrays] = {&w.pHatStiffLower,    &w.pHatStiffDiag,     &w.pHatStiffUpper,
                                  &w.pHatSedLower,      &w.pHatSedDiag,       &w.pHatSedUpper,
                                  &w.pHatMotionLower,   &w.pHatMotionDiag,    &w.pHatMotionUpper,
                                  &LammArrays().pLammRadius2,        &w.pFullHatRhsLower,  &w.pFullHatRhsDiag,
                                  &w.pFullHatRhsUpper,  &w.pFullHatStepLower, &w.pFullHatStepDiag,
                                  &w.pFullHatStepUpper, &w.pFullHatGamma,     &w.pFullHatBeta};
      ok = CutBlock(Local().gBlocks.hat, kHatArrays, n, hat);
      w.pHatEndTransportLower = w.pStepLower;
      w.pHatEndTransportDiag = w.pStepDiag;
      w.pHatEndTransportUpper = w.pStepUpper;
    }
    Local().gBlocks.reactingModel = ModelFlags().bHeteroAssocModel;
    if (ok && ModelFlags().bHeteroAssocModel) {
      double** re[kReactingArrays] = {
          &LammArrays().pFreeA,         &LammArrays().pFreeB,          &w.pFreeAOld,         &w.pFreeBOld,    &w.pFreeAOlder,
          &w.pFreeBOlder,  &w.pFreeATemp,    &w.pFreeBTemp,        &w.pFluxA,       &w.pFluxB,
          &LammArrays().pComplex,       &w.pReactPartner, &w.pReactPartnerRate, &w.pTransALower, &w.pTransADiag,
          &w.pTransAUpper, &w.pTransBLower,  &w.pTransBDiag,       &w.pTransBUpper};
      for (int k = 0; k < kElementPairs; ++k) {
        re[19 + k] = &w.pComplexMassElem[k];
        re[19 + kElementPairs + k] = &w.pComplexTransportElem[k];
      }
      re[33] = &w.pReactNodeWeight;
      ok = CutBlock(Local().gBlocks.reacting, kReactingArrays, n, re);
    }
    Local().gBlocks.concDependentModel = WantsConcDependentBlock();
    if (ok && Local().gBlocks.concDependentModel) {
      double** cd[kConcDependentArrays] = {&w.pLocalS};
      for (int k = 0; k < kElementPairs; ++k) {
        cd[1 + k] = &w.pDiffElem[k];
        cd[1 + kElementPairs + k] = &w.pSedElem[k];
      }
      cd[15] = &w.pLocalD;
      cd[16] = &w.pLammConcNew;
      ok = CutBlock(Local().gBlocks.concDependent, kConcDependentArrays, n, cd);
    }
    if (!ok) {
      FreeSimArrays();
      return false;
    }
    LammArrays().nSimGridPointsAllocated = n;
    LammArrays().bSimArraysAllocated = true;
  }
  BuildLammGrid();
  if (SimClock().bShowSimMass && LammSettings().bMovingHat && !LammArrays().pSimMassCurve) {
    const auto n = static_cast<std::uint32_t>(LammArrays().nSimGridPointsAllocated);
    Local().gBlocks.massX = std::make_unique<CVector>(n, 0);
    Local().gBlocks.massY = std::make_unique<CVector>(n, 0);
    LammArrays().pSimMassCurve = new CCurve(Local().gBlocks.massX.get(), Local().gBlocks.massY.get());
  }
  return true;
}

bool ResizeSimArrays(int n) {
  if (!LammArrays().bSimArraysAllocated) return false;
  if (n < kMinSimGridPoints || n > kMaxSimGridPoints) return false;
  FreeSimArrays();
  LammSettings().nLammGridPoints = n;
  return AllocSimArrays();
}

void BuildLammGrid() {
  if (!LammArrays().bSimArraysAllocated || DataSet().bDLSData) return;
  const int N = LammArrays().nSimGridPointsAllocated;
  const double m = DataSet().fMeniscus, b = DataSet().fBottom;
  double* r = LammArrays().pLammRadius;
  LammArrays().bOptimizedGridBuilt = false;
  if (LammSettings().bMovingHat) {
    // Geometric: node 2 half a ratio from the meniscus (1.5 ratios for a frame
    // moving inward), each further node one ratio on.
    LayMovingHatGrid(r, N, m, b, SimClock().dFrameS < 0);
    if (LammArrays().pLammRadius2)
      for (int i = 1; i <= N; ++i) LammArrays().pLammRadius2[i] = r[i];
  } else if (LammSettings().bClaverie && LammArrays().bOptimizedGridPending) {
    // Equidistant up to r*, then increments h0 sqrt(((r - m)/(r* - m)) (r*/r)).
    const double h0 = LammArrays().dOptimizedGridStep, rs = LammArrays().dOptimizedGridRadius;
    r[1] = m;
    int i = 1;
    while (i < N - 1) {
      const double last = r[i];
      const double h = last < rs ? h0 : h0 * std::sqrt(((last - m) / (rs - m)) * (rs / last));
      if (last + h >= b) break;
      r[++i] = last + h;
    }
    for (int k = i + 1; k <= N; ++k) r[k] = b;  // the next point is the bottom
    LammArrays().bOptimizedGridBuilt = true;
  } else if (LammSettings().bClaverie) {
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
  const double m = DataSet().fMeniscus, b = DataSet().fBottom;
  int N = LammSettings().nLammGridPoints;
  if (m == 0 || b == 0 || rStar <= m || N < 50 || LammSettings().bMovingHat || !LammSettings().bClaverie) {
    if (LammArrays().bSimArraysAllocated) ResizeSimArrays(N);
    return LammSettings().nLammGridPoints;
  }
  const double h0 = (b - m) / (N - 1);
  const int count = CountWideningPoints(m, b, std::min(rStar, b), h0, N);
  FreeSimArrays();
  if (count >= 50) {
    LammSettings().nLammGridPoints = count;
    LammArrays().bOptimizedGridPending = true;
    LammArrays().dOptimizedGridRadius = std::min(rStar, b);
    LammArrays().dOptimizedGridStep = h0;
    AllocSimArrays();
    LammArrays().bOptimizedGridPending = false;
  } else {
    LammSettings().nLammGridPoints = 50;
    AllocSimArrays();
  }
  return LammSettings().nLammGridPoints;
}

bool RefineGridAtBottom(double sigma) {
  if (!LammArrays().bSimArraysAllocated || !LammArrays().bOptimizedGridBuilt) return false;
  const int N = LammArrays().nSimGridPointsAllocated;
  const double m = DataSet().fMeniscus, b = DataSet().fBottom;
  double* r = LammArrays().pLammRadius;
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
  if (!LammArrays().bSimArraysAllocated || !LammArrays().pLammRadius2) return;
  const int N = LammArrays().nSimGridPointsAllocated;
  const double e = std::exp((SimClock().dSimTime - SimClock().dHatT0) * SimClock().dFrameSedOmega2);
  LammArrays().pLammRadius[1] = DataSet().fMeniscus;
  for (int i = 2; i < N; ++i) LammArrays().pLammRadius[i] = LammArrays().pLammRadius2[i] * e;
  LammArrays().pLammRadius[N] = DataSet().fBottom;
}

double* CosolventArray(int k) {
  if (!LammArrays().bCosolventArrays) return nullptr;
  const int n = Local().gCosolvent.n;
  if (k >= 1 && k <= kCosolventMain) return Local().gCosolvent.main.data() + static_cast<std::size_t>(k - 1) * (n + 1);
  if (k > kCosolventMain && k <= kCosolventMain + kCosolventExtra && !Local().gCosolvent.extra.empty())
    return Local().gCosolvent.extra.data() + static_cast<std::size_t>(k - kCosolventMain - 1) * (n + 1);
  return nullptr;
}

void FreeCosolventArrays() {
  Local().gCosolvent = {};
  LammArrays().bCosolventArrays = false;
  LammArrays().pCosolventRadius = nullptr;
}

bool AllocCosolventArrays() {
  const int n = LammArrays().nCosolventPoints;
  if (LammArrays().bCosolventArrays && (n != Local().gCosolvent.n || LammArrays().bCosolventExtraArrays != !Local().gCosolvent.extra.empty()))
    FreeCosolventArrays();
  // The grid needs two points at least (its spacing divides by n - 1).
  if (n < 2 || n > kMaxSimGridPoints) return false;
  if (!LammArrays().bCosolventArrays) {
    try {
      Local().gCosolvent.main.assign(static_cast<std::size_t>(kCosolventMain) * (n + 1), 0.0);
      if (LammArrays().bCosolventExtraArrays)
        Local().gCosolvent.extra.assign(static_cast<std::size_t>(kCosolventExtra) * (n + 1), 0.0);
    } catch (const std::bad_alloc&) {
      FreeCosolventArrays();
      return false;
    }
    Local().gCosolvent.n = n;
    LammArrays().bCosolventArrays = true;
  }
  LammArrays().pCosolventRadius = CosolventArray(1);
  const double m = DataSet().fMeniscus, b = DataSet().fBottom;
  for (int i = 1; i <= n; ++i) LammArrays().pCosolventRadius[i] = m + (i - 1) * (b - m) / (n - 1);
  return true;
}

void ResetSimArrays() {
  FreeSimArrays();
  FreeCosolventArrays();
  LammArrays().bOptimizedGridPending = false;
  LammArrays().dOptimizedGridRadius = LammArrays().dOptimizedGridStep = 0.0;
  LammArrays().bOptimizedGridBuilt = false;
  LammArrays().nCosolventPoints = 50;
  LammArrays().bCosolventExtraArrays = false;
}

}  // namespace tarmic
