// The normal equations of the distribution fit: means of the noise elimination,
// the scan-by-scan blocked build of matrix and right-hand side, and the
// single-thread builders.
#include "distributions/normal_equations.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "modelfit/model_params.h"
#include "numerics/error_box.h"
#include "numerics/run_switches.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "plot/progress_line.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"

namespace tarmic {

double dSumSqData = 0.0;
double dDataMean = 0.0;
bool bFixedFirstKernel = false;
double dFixedFirstAmplitude = 0.0;
int iContiFirstScan = 1;
int iContiLastScan = 1;
DC* hContiDC = nullptr;
CProgressLine* pContiProgressLine = nullptr;
std::atomic<int> nNEQScansDone{0};

namespace {

// Points of the fit range summed into one partial product before it is added to the
// matrix: the blocks of a chunk (rows x chunk x 8 bytes) stay in the core's cache
// while all tiles use them. A constant, so every element sums in the same order.
constexpr int kChunkPoints = 128;
// Rows of a tile of the matrix: a tile is kTileRows x kNEQPanel elements, held in
// registers while the chunk's points run.
constexpr int kTileRows = 4;

// Four doubles as one value (GNU vector extension): one 256-bit register, or two
// 128-bit ones; the arithmetic is lane by lane.
typedef double Double4 __attribute__((vector_size(32)));

// acc[r kNEQPanel + c] = sum a[p kNEQPanel + r] b[p kNEQPanel + c] over p = 0..n-1,
// r < kTileRows, c < kNEQPanel, added in the order p = 0, 1, ..., n-1 for every
// element (each vector lane is one element). The tile stays in registers.
[[gnu::always_inline]] inline void TileProductBody(const double* __restrict a,
                                                   const double* __restrict b, int n,
                                                   double* __restrict acc) {
  static_assert(kTileRows == 4 && kNEQPanel == 8, "the tile is 4 x 8");
  Double4 t00 = {}, t01 = {}, t10 = {}, t11 = {}, t20 = {}, t21 = {}, t30 = {}, t31 = {};
  for (int p = 0; p < n; ++p) {
    const double* ap = a + static_cast<std::ptrdiff_t>(p) * kNEQPanel;
    const double* bp = b + static_cast<std::ptrdiff_t>(p) * kNEQPanel;
    Double4 b0, b1;
    std::memcpy(&b0, bp, sizeof b0);
    std::memcpy(&b1, bp + 4, sizeof b1);
    const double x0 = ap[0], x1 = ap[1], x2 = ap[2], x3 = ap[3];
    const Double4 a0 = {x0, x0, x0, x0}, a1 = {x1, x1, x1, x1}, a2 = {x2, x2, x2, x2},
                  a3 = {x3, x3, x3, x3};
    t00 += a0 * b0;
    t01 += a0 * b1;
    t10 += a1 * b0;
    t11 += a1 * b1;
    t20 += a2 * b0;
    t21 += a2 * b1;
    t30 += a3 * b0;
    t31 += a3 * b1;
  }
  std::memcpy(acc + 0, &t00, sizeof t00);
  std::memcpy(acc + 4, &t01, sizeof t01);
  std::memcpy(acc + 8, &t10, sizeof t10);
  std::memcpy(acc + 12, &t11, sizeof t11);
  std::memcpy(acc + 16, &t20, sizeof t20);
  std::memcpy(acc + 20, &t21, sizeof t21);
  std::memcpy(acc + 24, &t30, sizeof t30);
  std::memcpy(acc + 28, &t31, sizeof t31);
}

// The same code for processors with AVX2 and fused multiply-add, and for any x86-64.
// The values were floats, so each product is exact in double and a fused
// multiply-add rounds exactly as a multiply followed by an add: both give the same
// bits.
[[gnu::target("avx2,fma")]] void TileProductAvx2(const double* __restrict a,
                                                 const double* __restrict b, int n,
                                                 double* __restrict acc) {
  TileProductBody(a, b, n, acc);
}
void TileProductBaseline(const double* __restrict a, const double* __restrict b, int n,
                         double* __restrict acc) {
  TileProductBody(a, b, n, acc);
}

using TileProductFn = void (*)(const double*, const double*, int, double*);

TileProductFn SelectTileProduct() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return TileProductAvx2;
  return TileProductBaseline;
}

// The data value of the build at scan s, grid point g: y, or y - K_1 inside the fit
// range when kernel 1 is fixed.
double DataValue(const NEQBuildPlan& plan, int s, int g) {
  double y = ppGridSignal[static_cast<std::size_t>(s)][g];
  if (plan.subtractFirstKernel && g >= iFitFirst && g <= iFitLast) y -= pppKernels[1][s][g];
  return y;
}

int FitRangePoints() { return iFitLast - iFitFirst + 1; }

// Points centred at a time into a contiguous stage before they are packed.
constexpr int kStagePoints = 64;

// Augmented row r of scan s at fit-range points p0..p0+n-1, centred, into
// v[0..n-1]: the data for r = 0, the kernel of unknown r otherwise.
void CentreRowPart(const NEQBuildPlan& plan, int s, int r, int p0, int n, double* v) {
  const int g0 = iFitFirst + p0;
  if (r == 0) {
    for (int p = 0; p < n; ++p) {
      const int g = g0 + p;
      double y = DataValue(plan, s, g);
      switch (plan.model) {
        case NoiseModel::Plain: y -= plan.baseline; break;
        case NoiseModel::Baseline: y -= dDataMean; break;
        case NoiseModel::TI: y -= pDataRadiusMean[g]; break;
        case NoiseModel::RI: y -= pDataScanMean[s]; break;
        case NoiseModel::TIRI: y = y - pDataRadiusMean[g] - pDataScanMean[s] + dDataMean; break;
      }
      v[p] = y;
    }
    return;
  }
  const int k = r + plan.firstKernel - 1;
  const float* K = pppKernels[k][s] + g0;
  switch (plan.model) {
    case NoiseModel::Plain:
      for (int p = 0; p < n; ++p) v[p] = K[p];
      break;
    case NoiseModel::Baseline: {
      const double mean = pKernelMean[k];
      for (int p = 0; p < n; ++p) v[p] = K[p] - mean;
      break;
    }
    case NoiseModel::TI: {
      const double* rm = ppKernelRadiusMean[k] + g0;
      for (int p = 0; p < n; ++p) v[p] = K[p] - rm[p];
      break;
    }
    case NoiseModel::RI: {
      const double mean = ppKernelScanMean[k][s];
      for (int p = 0; p < n; ++p) v[p] = K[p] - mean;
      break;
    }
    case NoiseModel::TIRI: {
      const double* rm = ppKernelRadiusMean[k] + g0;
      const double shift = pKernelMean[k] - ppKernelScanMean[k][s];
      for (int p = 0; p < n; ++p) v[p] = K[p] - rm[p] + shift;
      break;
    }
  }
}

// Augmented row r of scan s, centred and rounded to float, into out[p kNEQPanel],
// p = 0..nP-1.
void CentreRow(const NEQBuildPlan& plan, int s, int r, int nP, double* out) {
  double v[kStagePoints];
  for (int p0 = 0; p0 < nP; p0 += kStagePoints) {
    const int n = std::min(kStagePoints, nP - p0);
    CentreRowPart(plan, s, r, p0, n, v);
    double* o = out + static_cast<std::ptrdiff_t>(p0) * kNEQPanel;
    for (int p = 0; p < n; ++p) {
      o[static_cast<std::ptrdiff_t>(p) * kNEQPanel] = static_cast<float>(v[p]);
    }
  }
}

// Start of augmented row r at point p in a packed block of `points` points.
std::size_t PackedOffset(int r, int p, int points) {
  return (static_cast<std::size_t>(r / kNEQPanel) * static_cast<std::size_t>(points) +
          static_cast<std::size_t>(p)) * kNEQPanel + static_cast<std::size_t>(r % kNEQPanel);
}

bool NeedsRadiusMeans(NoiseModel m) { return m == NoiseModel::TI || m == NoiseModel::TIRI; }
bool NeedsScanMeans(NoiseModel m) { return m == NoiseModel::RI || m == NoiseModel::TIRI; }
bool NeedsGlobalMeans(NoiseModel m) {
  return m == NoiseModel::Baseline || m == NoiseModel::TIRI;
}

// The poll of a single-thread build after each scan: progress, then the keyboard.
bool SerialAfterScan(const NEQBuildPlan& plan) {
  const int scans = plan.lastScan - plan.firstScan + 1;
  const int done = nNEQScansDone.fetch_add(1) + 1;
  ShowNormalEquationProgress(static_cast<float>(done) / static_cast<float>(scans));
  if (bUserAbort) return false;
  if (CheckKeyPress()) {
    bUserAbort = true;
    return false;
  }
  return true;
}

bool RunSerialBuild(const NEQBuildPlan& plan) {
  if (!NormalEquationArraysFit(plan)) return false;
  nNEQScansDone = 0;
  double sumSq = 0.0;
  NEQScratch scratch;
  if (!TryMakeNEQScratch(plan, &scratch)) return false;
  BuildNormalEquationRows(plan, scratch, 1, 1, &sumSq, [] { return !bUserAbort; },
                          [&plan] { return SerialAfterScan(plan); });
  FinishNormalEquations(plan, sumSq);
  return !bUserAbort;
}

}  // namespace

void CentreKernelRowPart(const NEQBuildPlan& plan, int s, int r, int p0, int n, double* v) {
  assert(r >= 1);
  CentreRowPart(plan, s, r, p0, n, v);
}

NoiseModel SelectNoiseModel() {
  if (bFitTINoise && bFitRINoise) return NoiseModel::TIRI;
  if (bFitTINoise) return NoiseModel::TI;
  if (bFitRINoise) return NoiseModel::RI;
  if (bVaryBaseline) return NoiseModel::Baseline;
  return NoiseModel::Plain;
}

NEQBuildPlan PlanNormalEquations(NoiseModel model) {
  NEQBuildPlan plan;
  plan.model = model;
  plan.firstScan = 1;
  plan.lastScan = nScans;
  plan.firstKernel = 1;
  plan.order = IsSizeShapeModel() ? nFf0Grid : nDistGrid;
  plan.baseline = fBaseline;
  return plan;
}

bool NormalEquationArraysFit(const NEQBuildPlan& plan) {
  const int lastKernel = plan.firstKernel + plan.order - 1;
  return pppKernels && ppNormalMatrix && plan.order >= 1 && plan.firstScan >= 1 &&
         plan.lastScan >= plan.firstScan && plan.lastScan <= nScans &&
         plan.lastScan <= nKernelArrayScans && lastKernel <= nKernelArrayKernels &&
         plan.order <= nWorkspaceUnknowns && nGridPoints <= nKernelArrayPoints &&
         nGridPoints <= nWorkspacePoints && nScans <= nWorkspaceScans && iFitFirst >= 1 &&
         iFitLast >= iFitFirst && iFitLast <= nGridPoints &&
         static_cast<int>(ppGridSignal.size()) > plan.lastScan;
}

void ComputeNormalEquationRowMeans(const NEQBuildPlan& plan, int r) {
  const int s0 = plan.firstScan, s1 = plan.lastScan;
  const double scans = static_cast<double>(s1 - s0 + 1);
  const double nP = static_cast<double>(FitRangePoints());
  const bool radius = NeedsRadiusMeans(plan.model), scan = NeedsScanMeans(plan.model),
             global = NeedsGlobalMeans(plan.model);
  if (r == 0) {
    if (radius) {
      for (int g = 1; g <= nGridPoints; ++g) {
        double sum = 0.0;
        for (int s = s0; s <= s1; ++s) sum += DataValue(plan, s, g);
        pDataRadiusMean[g] = sum / scans;
      }
    }
    if (scan || global) {
      double total = 0.0;
      for (int s = s0; s <= s1; ++s) {
        double sum = 0.0;
        for (int g = iFitFirst; g <= iFitLast; ++g) sum += DataValue(plan, s, g);
        if (scan) pDataScanMean[s] = sum / nP;
        total += sum;
      }
      if (global) dDataMean = total / (scans * nP);
    }
    return;
  }
  const int k = r + plan.firstKernel - 1;
  float* const* K = pppKernels[k];
  if (radius) {
    double* rm = ppKernelRadiusMean[k];
    for (int g = 1; g <= nGridPoints; ++g) rm[g] = 0.0;
    for (int s = s0; s <= s1; ++s) {
      const float* Ks = K[s];
      for (int g = 1; g <= nGridPoints; ++g) rm[g] += Ks[g];
    }
    for (int g = 1; g <= nGridPoints; ++g) rm[g] /= scans;
  }
  if (scan || global) {
    // Sums of the scans over the fit range, four scans at a time (four independent
    // chains of additions), each in ascending radius.
    double total = 0.0;
    auto store = [&](int s, double sum) {
      if (scan) ppKernelScanMean[k][s] = sum / nP;
      total += sum;
    };
    int s = s0;
    for (; s + 3 <= s1; s += 4) {
      const float *a = K[s], *b = K[s + 1], *c = K[s + 2], *d = K[s + 3];
      double sa = 0.0, sb = 0.0, sc = 0.0, sd = 0.0;
      for (int g = iFitFirst; g <= iFitLast; ++g) {
        sa += a[g];
        sb += b[g];
        sc += c[g];
        sd += d[g];
      }
      store(s, sa);
      store(s + 1, sb);
      store(s + 2, sc);
      store(s + 3, sd);
    }
    for (; s <= s1; ++s) {
      double sum = 0.0;
      for (int g = iFitFirst; g <= iFitLast; ++g) sum += K[s][g];
      store(s, sum);
    }
    if (global) pKernelMean[k] = total / (scans * nP);
  }
}

bool TryMakeNEQScratch(const NEQBuildPlan& plan, NEQScratch* scratch) {
  try {
    *scratch = MakeNEQScratch(plan);
  } catch (const std::bad_alloc&) {
    ShowError("could not allocate arrays, increase memory or take fewer scans", false);
    return false;
  }
  return true;
}

NEQScratch MakeNEQScratch(const NEQBuildPlan& plan) {
  NEQScratch scratch;
  scratch.rows = (plan.order + 1 + kNEQPanel - 1) / kNEQPanel * kNEQPanel;
  scratch.points = FitRangePoints();
  const std::size_t size = static_cast<std::size_t>(scratch.rows) *
                           static_cast<std::size_t>(std::max(scratch.points, 1));
  for (auto& block : scratch.block) block.assign(size, 0.0);
  return scratch;
}

void BuildNormalEquationRows(const NEQBuildPlan& plan, NEQScratch& scratch, int thread,
                             int threadCount, double* sumSq,
                             const std::function<bool()>& scanReady,
                             const std::function<bool()>& afterScan) {
  assert(thread >= 1 && thread <= threadCount);
  const int M = plan.order;
  const int nP = scratch.points;
  const int tiles = (M + 1 + kTileRows - 1) / kTileRows;
  const int panels = (M + 1 + kNEQPanel - 1) / kNEQPanel;
  // Own tiles of the matrix, dealt in snake order (1..T, T..1, 1..T, ...) so that the
  // growing rows of the triangle are shared out evenly; tile 0 (row 0) is thread 1's.
  auto owns = [thread, threadCount](int t) {
    const int round = t / threadCount, place = t % threadCount;
    return (round % 2 == 0 ? place : threadCount - 1 - place) == thread - 1;
  };
  // Own panels of the scratch (whole cache lines: no two threads write the same line),
  // dealt round-robin: their means, and their rows of every scan's block.
  for (int q = thread - 1; q < panels; q += threadCount) {
    for (int r = q * kNEQPanel; r <= std::min(M, q * kNEQPanel + kNEQPanel - 1); ++r) {
      ComputeNormalEquationRowMeans(plan, r);
    }
  }
  // Own rows start empty.
  for (int t = 0; t < tiles; ++t) {
    if (!owns(t)) continue;
    for (int i = std::max(1, t * kTileRows); i <= std::min(M, t * kTileRows + kTileRows - 1); ++i) {
      double* Ai = ppNormalMatrix[i];
      for (int j = 1; j <= M; ++j) Ai[j] = 0.0;
      pNormalRhs[i] = 0.0;
    }
  }

  static const TileProductFn TileProduct = SelectTileProduct();
  double acc[kTileRows * kNEQPanel];
  for (int s = plan.firstScan; s <= plan.lastScan; ++s) {
    double* block = scratch.block[s % 2].data();
    for (int q = thread - 1; q < panels; q += threadCount) {
      const int rLast = std::min(M, q * kNEQPanel + kNEQPanel - 1);
      for (int r = q * kNEQPanel; r <= rLast; ++r) {
        // The kernel values come from memory: ask for the next row's ahead of use.
        if (r < M) {
          const float* next = pppKernels[r + plan.firstKernel][s] + iFitFirst;
          for (int p = 0; p < nP; p += 16) __builtin_prefetch(next + p);
        }
        CentreRow(plan, s, r, nP, block + PackedOffset(r, 0, nP));
      }
    }
    if (!scanReady()) break;
    // A_ij += sum_p K'_ip K'_jp for the own rows i and columns j <= i, with augmented
    // row/column 0 the data: A_i0 is b_i and A_00 the sum of squares. Chunk by chunk
    // of points, tile by tile, each tile against the panels of columns up to its own.
    for (int p0 = 0; p0 < nP; p0 += kChunkPoints) {
      const int n = std::min(kChunkPoints, nP - p0);
      for (int t = 0; t < tiles; ++t) {
        if (!owns(t)) continue;
        const int i0 = t * kTileRows;
        const double* a = block + PackedOffset(i0, p0, nP);
        const int iLast = std::min(M, i0 + kTileRows - 1);
        for (int q = 0; q * kNEQPanel <= iLast; ++q) {
          const int j0 = q * kNEQPanel;
          TileProduct(a, block + PackedOffset(j0, p0, nP), n, acc);
          for (int i = i0; i <= iLast; ++i) {
            const double* row = acc + (i - i0) * kNEQPanel;
            const int jLast = std::min(i, j0 + kNEQPanel - 1);
            int j = j0;
            if (j == 0) {
              if (i == 0) {
                if (sumSq) *sumSq += row[0];
              } else {
                pNormalRhs[i] += row[0];
              }
              ++j;
            }
            double* Ai = ppNormalMatrix[i];
            for (; j <= jLast; ++j) Ai[j] += row[j - j0];
          }
        }
      }
    }
    if (afterScan && !afterScan()) break;
  }
}

void FinishNormalEquations(const NEQBuildPlan& plan, double sumSq) {
  const int M = plan.order;
  for (int i = 1; i <= M; ++i) {
    for (int j = i + 1; j <= M; ++j) ppNormalMatrix[i][j] = ppNormalMatrix[j][i];
  }
  dSumSqData = sumSq;
  nNEQUnknowns = M;
}

bool BuildNormalEquationsTIRI() { return BuildNormalEquations(NoiseModel::TIRI); }
bool BuildNormalEquationsTI() { return BuildNormalEquations(NoiseModel::TI); }
bool BuildNormalEquationsRI() { return BuildNormalEquations(NoiseModel::RI); }
bool BuildNormalEquationsBaseline() { return BuildNormalEquations(NoiseModel::Baseline); }
bool BuildNormalEquationsPlain() { return BuildNormalEquations(NoiseModel::Plain); }

bool BuildNormalEquations(NoiseModel model) {
  bFixedFirstKernel = false;
  dFixedFirstAmplitude = 0.0;
  return RunSerialBuild(PlanNormalEquations(model));
}

bool BuildNormalEquationsFixedFirst(double amplitude) {
  NEQBuildPlan plan = PlanNormalEquations(NoiseModel::TIRI);
  plan.firstKernel = 2;
  plan.order = nDistGrid - 1;
  plan.subtractFirstKernel = true;
  const bool ok = RunSerialBuild(plan);
  bFixedFirstKernel = true;
  dFixedFirstAmplitude = amplitude;
  return ok;
}

bool BuildNormalEquationsScanRange() {
  NEQBuildPlan plan = PlanNormalEquations(NoiseModel::Baseline);
  plan.firstScan = iContiFirstScan;
  plan.lastScan = iContiLastScan;
  return RunSerialBuild(plan);
}

void ShowContiText(int x, int y, const std::string& text) {
  if (!hContiDC) return;
  hContiDC->TextOut(x, y, text);
  if (HasBackend()) GetBackend().MainWindow().Refresh();
}

void ShowNormalEquationProgress(float fraction) {
  if (ContiFitInProgress() || !hContiDC) return;
  if (pContiProgressLine) {
    pContiProgressLine->UpdateDC(fraction, *hContiDC);
    if (HasBackend()) GetBackend().MainWindow().Refresh();
    return;
  }
  ShowContiText(10, 50,
                Format("calculating normal equations (%2.0f percent done - hit any key to "
                       "interrupt...)",
                       100.0 * static_cast<double>(fraction)));
}

}  // namespace tarmic
