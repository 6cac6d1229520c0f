// The normal equations of the distribution fit: means of the noise elimination,
// the scan-by-scan blocked build of matrix and right-hand side, and the
// single-thread builders.
#include "distributions/normal_equations.h"

#include <algorithm>
#include <cmath>
#include <cassert>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <new>
#include <thread>
#include <vector>

#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "modelfit/model_params.h"
#include "numerics/profile_sums.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/vector_state.h"
#include "plot/data_plots.h"
#include "plot/progress_line.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// A unit of the matrix is the 8 rows of one panel against the columns of one or two
// panels (8 x 16 elements at most): one product of a chunk, kUnitSize doubles.
constexpr int kUnitColumns = 2 * kNEQPanel;
constexpr int kUnitSize = kNEQPanel * kUnitColumns;

// Four and eight doubles as one value (GNU vector extension): the arithmetic is
// lane by lane.
typedef double Double4 __attribute__((vector_size(32)));
typedef double Double8 __attribute__((vector_size(64)));

// acc[r kUnitColumns + c] = sum a[p kNEQPanel + r] b_c(p), r < 8, c < 8 panels,
// with b_c(p) = b[(c / 8) bStride + p kNEQPanel + c mod 8]: the 8 rows of the panel
// at a against the columns of `panels` (1 or 2) panels at b, summed in the order
// p = 0, 1, ..., n-1 for every element; with `add` the sum is then added to what acc
// holds (acc + sum, one rounding). The values were floats, so each product is
// exact in double and a fused multiply-add rounds exactly as a multiply followed by
// an add: every variant below gives the same bits.
//
// Eight-double vectors: 16 accumulators in registers, each point loads two column
// vectors and broadcasts the eight row values.
template <int Panels>
[[gnu::always_inline]] inline void UnitProductWide(const double* __restrict a,
                                                   const double* __restrict b,
                                                   std::ptrdiff_t bStride, int n, bool add,
                                                   double* __restrict acc) {
  Double8 t[8][Panels] = {};
  for (int p = 0; p < n; ++p) {
    const double* ap = a + static_cast<std::ptrdiff_t>(p) * kNEQPanel;
    const double* bp = b + static_cast<std::ptrdiff_t>(p) * kNEQPanel;
    Double8 bv[Panels];
    for (int q = 0; q < Panels; ++q) std::memcpy(&bv[q], bp + q * bStride, sizeof(Double8));
    for (int r = 0; r < 8; ++r) {
      const double x = ap[r];
      const Double8 av = {x, x, x, x, x, x, x, x};
      for (int q = 0; q < Panels; ++q) t[r][q] += av * bv[q];
    }
  }
  for (int r = 0; r < 8; ++r) {
    for (int q = 0; q < Panels; ++q) {
      double* out = acc + r * kUnitColumns + q * kNEQPanel;
      if (add) {
        Double8 old;
        std::memcpy(&old, out, sizeof old);
        t[r][q] = old + t[r][q];
      }
      std::memcpy(out, &t[r][q], sizeof(Double8));
    }
  }
}

// Four-double vectors: a 4 x 8 tile (8 accumulators) at a time, four rows of the
// panel against one column panel.
[[gnu::always_inline]] inline void TileProduct4x8(const double* __restrict a,
                                                  const double* __restrict b, int n, bool add,
                                                  double* __restrict acc) {
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
  const Double4* tiles[4][2] = {{&t00, &t01}, {&t10, &t11}, {&t20, &t21}, {&t30, &t31}};
  for (int r = 0; r < 4; ++r) {
    for (int h = 0; h < 2; ++h) {
      double* out = acc + r * kUnitColumns + 4 * h;
      Double4 v = *tiles[r][h];
      if (add) {
        Double4 old;
        std::memcpy(&old, out, sizeof old);
        v = old + v;
      }
      std::memcpy(out, &v, sizeof v);
    }
  }
}

[[gnu::always_inline]] inline void UnitProductTiles(const double* __restrict a,
                                                    const double* __restrict b,
                                                    std::ptrdiff_t bStride, int panels, int n,
                                                    bool add, double* __restrict acc) {
  for (int q = 0; q < panels; ++q) {
    for (int half = 0; half < 2; ++half) {
      TileProduct4x8(a + 4 * half, b + q * bStride, n, add,
                     acc + 4 * half * kUnitColumns + q * kNEQPanel);
    }
  }
}

// The unit product compiled for processors with AVX-512, for AVX2 with fused
// multiply-add, and for any x86-64; chosen once at run time.
[[gnu::target("avx512f")]] void UnitProductAvx512(const double* a, const double* b,
                                                  std::ptrdiff_t bStride, int panels, int n,
                                                  bool add, double* acc) {
  if (panels == 2) {
    UnitProductWide<2>(a, b, bStride, n, add, acc);
  } else {
    UnitProductWide<1>(a, b, bStride, n, add, acc);
  }
}
[[gnu::target("avx2,fma")]] void UnitProductAvx2(const double* a, const double* b,
                                                 std::ptrdiff_t bStride, int panels, int n,
                                                 bool add, double* acc) {
  UnitProductTiles(a, b, bStride, panels, n, add, acc);
}
void UnitProductBaseline(const double* a, const double* b, std::ptrdiff_t bStride, int panels,
                         int n, bool add, double* acc) {
  UnitProductTiles(a, b, bStride, panels, n, add, acc);
}

using UnitProductFn = void (*)(const double*, const double*, std::ptrdiff_t, int, int, bool, double*);

// The data value of the build at scan s, grid point g: y, or y - K_1 inside the fit
// range when kernel 1 is fixed.
double DataValue(const GridData& grid, const DistributionStorageState& storage, const NEQBuildPlan& plan, int s, int g) {
  double y = grid.ppGridSignal[static_cast<std::size_t>(s)][g];
  if (plan.subtractFirstKernel && g >= grid.iFitFirst && g <= grid.iFitLast) y -= storage.pppKernels[1][s][g];
  return y;
}

int FitRangePoints() { return CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1; }

// Points centred at a time by one call of CentreRowPart.
constexpr int kStagePoints = 64;

// Augmented row r of scan s at fit-range points p0..p0+n-1, centred, into
// v[0..n-1]: the data for r = 0, the kernel of unknown r otherwise.
void CentreRowPart(const NEQBuildPlan& plan, int s, int r, int p0, int n, double* v) {
  auto& currentGridPart = CurrentGrid();
  auto& distributionStoragePart = DistributionStorage();
  auto& normalEquationsPart = NormalEquations();
  const int g0 = currentGridPart.iFitFirst + p0;
  if (r == 0) {
    for (int p = 0; p < n; ++p) {
      const int g = g0 + p;
      double y = DataValue(currentGridPart, distributionStoragePart, plan, s, g);
      switch (plan.model) {
        case NoiseModel::Plain: y -= plan.baseline; break;
        case NoiseModel::Baseline: y -= normalEquationsPart.dDataMean; break;
        case NoiseModel::TI: y -= distributionStoragePart.pDataRadiusMean[g]; break;
        case NoiseModel::RI: y -= distributionStoragePart.pDataScanMean[s]; break;
        case NoiseModel::TIRI: y = y - distributionStoragePart.pDataRadiusMean[g] - distributionStoragePart.pDataScanMean[s] + normalEquationsPart.dDataMean; break;
      }
      v[p] = y;
    }
    return;
  }
  const int k = r + plan.firstKernel - 1;
  const float* K = distributionStoragePart.pppKernels[k][s] + g0;
  switch (plan.model) {
    case NoiseModel::Plain:
      for (int p = 0; p < n; ++p) v[p] = K[p];
      break;
    case NoiseModel::Baseline: {
      const double mean = distributionStoragePart.pKernelMean[k];
      for (int p = 0; p < n; ++p) v[p] = K[p] - mean;
      break;
    }
    case NoiseModel::TI: {
      const double* rm = distributionStoragePart.ppKernelRadiusMean[k] + g0;
      for (int p = 0; p < n; ++p) v[p] = K[p] - rm[p];
      break;
    }
    case NoiseModel::RI: {
      const double mean = distributionStoragePart.ppKernelScanMean[k][s];
      for (int p = 0; p < n; ++p) v[p] = K[p] - mean;
      break;
    }
    case NoiseModel::TIRI: {
      const double* rm = distributionStoragePart.ppKernelRadiusMean[k] + g0;
      const double shift = distributionStoragePart.pKernelMean[k] - distributionStoragePart.ppKernelScanMean[k][s];
      for (int p = 0; p < n; ++p) v[p] = K[p] - rm[p] + shift;
      break;
    }
  }
}

typedef float Float8 __attribute__((vector_size(32)));

// The eight rows of a kernel panel at points p..p+7 (t[k][i] the value of row k at
// point p + i) written point-major: out[(p + i) kNEQPanel + k] = t[k][i]. An 8 x 8
// transpose in three rounds of shuffles (pairs of values, then pairs of pairs, then
// halves), each a single instruction with AVX-512.
[[gnu::always_inline]] inline void StoreTransposed(const Double8 (&t)[8], double* out) {
  Double8 u[8], w[8];
  for (int k = 0; k < 8; k += 2) {
    u[k] = __builtin_shufflevector(t[k], t[k + 1], 0, 8, 2, 10, 4, 12, 6, 14);
    u[k + 1] = __builtin_shufflevector(t[k], t[k + 1], 1, 9, 3, 11, 5, 13, 7, 15);
  }
  for (int h = 0; h < 8; h += 4) {
    w[h] = __builtin_shufflevector(u[h], u[h + 2], 0, 1, 4, 5, 8, 9, 12, 13);
    w[h + 1] = __builtin_shufflevector(u[h + 1], u[h + 3], 0, 1, 4, 5, 8, 9, 12, 13);
    w[h + 2] = __builtin_shufflevector(u[h], u[h + 2], 2, 3, 6, 7, 10, 11, 14, 15);
    w[h + 3] = __builtin_shufflevector(u[h + 1], u[h + 3], 2, 3, 6, 7, 10, 11, 14, 15);
  }
  for (int i = 0; i < 4; ++i) {
    const Double8 low = __builtin_shufflevector(w[i], w[i + 4], 0, 1, 4, 5, 8, 9, 12, 13);
    const Double8 high = __builtin_shufflevector(w[i], w[i + 4], 2, 3, 6, 7, 10, 11, 14, 15);
    std::memcpy(out + i * kNEQPanel, &low, sizeof low);
    std::memcpy(out + (i + 4) * kNEQPanel, &high, sizeof high);
  }
}

// The rows of a kernel panel: kernel values K[k][p], the radius means R[k][p] (with
// Radius) and a constant shift[k]; value (K - R) + shift, rounded to float, as
// CentreRowPart computes it. Rows beyond the order read zeros.
struct KernelPanelRows {
  const float* K[kNEQPanel];
  const double* R[kNEQPanel];
  double shift[kNEQPanel];
  const float* next[kNEQPanel];  // the rows centred next, asked for meanwhile
};

// The next panel's rows at point p asked for, one cache line each every 16 points.
[[gnu::always_inline]] inline void AskForNextRows(const KernelPanelRows& rows, int p) {
  if ((p & 15) == 0) {
    for (int k = 0; k < kNEQPanel; ++k) __builtin_prefetch(rows.next[k] + p);
  }
}

// Points p.. of the panel that do not fill a vector, one value at a time.
template <bool Radius>
void CentreKernelPanelTail(const KernelPanelRows& rows, int p, int nP, double* out) {
  for (; p < nP; ++p) {
    for (int k = 0; k < kNEQPanel; ++k) {
      double v = rows.K[k][p];
      if constexpr (Radius) v = v - rows.R[k][p];
      out[static_cast<std::ptrdiff_t>(p) * kNEQPanel + k] = static_cast<float>(v + rows.shift[k]);
    }
  }
}

// Row k's kernel values at points p..p+7, in double (written to v: a vector of eight
// doubles is passed in memory, the same on every instruction set).
[[gnu::always_inline]] inline void RowPoints(const KernelPanelRows& rows, int k, int p, Double8& v) {
  Float8 kf;
  std::memcpy(&kf, rows.K[k] + p, sizeof kf);
  v = __builtin_convertvector(kf, Double8);
}

template <bool Radius>
[[gnu::always_inline]] inline void CentreKernelPanelBody(const KernelPanelRows& rows, int nP,
                                                         double* out) {
  int p = 0;
  for (; p + 8 <= nP; p += 8) {
    AskForNextRows(rows, p);
    Double8 t[8];
    for (int k = 0; k < 8; ++k) {
      Double8 v;
      RowPoints(rows, k, p, v);
      if constexpr (Radius) {
        Double8 r;
        std::memcpy(&r, rows.R[k] + p, sizeof r);
        v = v - r;
      }
      v = v + rows.shift[k];
      t[k] = __builtin_convertvector(__builtin_convertvector(v, Float8), Double8);
    }
    StoreTransposed(t, out + static_cast<std::ptrdiff_t>(p) * kNEQPanel);
  }
  CentreKernelPanelTail<Radius>(rows, p, nP, out);
}

using KernelPanelFn = void (*)(const KernelPanelRows&, int, double*);
// The AVX-512 variant with its conversions written out (those of the vector
// extension between eight floats and eight doubles come out as several instructions
// each): eight points of a row are one register.
template <bool Radius>
[[gnu::target("avx512f")]] void CentreKernelPanel512(const KernelPanelRows& rows, int nP,
                                                     double* out) {
  __m512d shift[8];
  for (int k = 0; k < 8; ++k) shift[k] = _mm512_set1_pd(rows.shift[k]);
  int p = 0;
  for (; p + 8 <= nP; p += 8) {
    AskForNextRows(rows, p);
    Double8 t[8];
    for (int k = 0; k < 8; ++k) {
      // (The zero-masked conversions are the plain ones with every lane kept.)
      __m512d v = _mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(rows.K[k] + p));
      if constexpr (Radius) v = _mm512_sub_pd(v, _mm512_loadu_pd(rows.R[k] + p));
      v = _mm512_add_pd(v, shift[k]);
      t[k] = Double8(_mm512_maskz_cvtps_pd(0xFF, _mm512_maskz_cvtpd_ps(0xFF, v)));
    }
    StoreTransposed(t, out + static_cast<std::ptrdiff_t>(p) * kNEQPanel);
  }
  CentreKernelPanelTail<Radius>(rows, p, nP, out);
}
[[gnu::target("avx512f")]] void CentreKernelPanelAvx512(const KernelPanelRows& rows, int nP,
                                                        double* out) {
  if (rows.R[0]) {
    CentreKernelPanel512<true>(rows, nP, out);
  } else {
    CentreKernelPanel512<false>(rows, nP, out);
  }
}
[[gnu::target("avx2")]] void CentreKernelPanelAvx2(const KernelPanelRows& rows, int nP,
                                                   double* out) {
  if (rows.R[0]) {
    CentreKernelPanelBody<true>(rows, nP, out);
  } else {
    CentreKernelPanelBody<false>(rows, nP, out);
  }
}
void CentreKernelPanelBaseline(const KernelPanelRows& rows, int nP, double* out) {
  if (rows.R[0]) {
    CentreKernelPanelBody<true>(rows, nP, out);
  } else {
    CentreKernelPanelBody<false>(rows, nP, out);
  }
}

// The sums of one kernel over the scans s0..s1 of K: with rm, rm[g] += K[s][g] at
// every grid point 1..nGrid; with scanSums, scanSums[s] = the interleaved sum of the
// nFit fit-range values from K[s] + fitFirst (numerics/profile_sums.h, the same
// additions as the solver's sums of the kernel). Compiled for the processor found at
// run time; each sum runs in the same order in every variant.
[[gnu::always_inline]] inline void KernelSumsBody(float* const* K, int s0, int s1, int nGrid,
                                                  int fitFirst, int nFit, double* rm,
                                                  double* scanSums) {
  for (int s = s0; s <= s1; ++s)
    AddScanSums(K[s], nGrid, fitFirst, nFit, rm, scanSums ? scanSums + s : nullptr);
}
using KernelSumsFn = void (*)(float* const*, int, int, int, int, int, double*, double*);
[[gnu::target("avx512f")]] void KernelSumsAvx512(float* const* K, int s0, int s1, int nGrid,
                                                 int fitFirst, int nFit, double* rm,
                                                 double* scanSums) {
  KernelSumsBody(K, s0, s1, nGrid, fitFirst, nFit, rm, scanSums);
}
[[gnu::target("avx2")]] void KernelSumsAvx2(float* const* K, int s0, int s1, int nGrid,
                                            int fitFirst, int nFit, double* rm,
                                            double* scanSums) {
  KernelSumsBody(K, s0, s1, nGrid, fitFirst, nFit, rm, scanSums);
}
void KernelSumsBaseline(float* const* K, int s0, int s1, int nGrid, int fitFirst, int nFit,
                        double* rm, double* scanSums) {
  KernelSumsBody(K, s0, s1, nGrid, fitFirst, nFit, rm, scanSums);
}

// A centred panel's n points (in) summed by bins of `bin` adjacent points into out,
// each sum times its bin's scale and rounded to float: the products of the binned
// rows are those of the rows projected onto functions constant over each bin. A
// point that does not count is zero in every row (CentrePanelPoints) and adds nothing.
using BinPanelFn = void (*)(int bin, const double* scale, int n, const double* in, double* out);
[[gnu::always_inline]] inline void BinPanelBody(int bin, const double* scale, int n, const double* in,
                                                double* out) {
  static_assert(kNEQPanel == 8, "a point of a panel is one vector of eight rows");
  for (int j = 0, p = 0; p < n; ++j) {
    // The bin's points in order.
    Double8 sum = {};
    for (const int last = std::min(n, p + bin); p < last; ++p) {
      Double8 v;
      std::memcpy(&v, in + static_cast<std::size_t>(p) * kNEQPanel, sizeof v);
      sum += v;
    }
    sum = __builtin_convertvector(__builtin_convertvector(sum * scale[j], Float8), Double8);
    std::memcpy(out + static_cast<std::size_t>(j) * kNEQPanel, &sum, sizeof sum);
  }
}
[[gnu::target("avx512f")]] void BinPanelAvx512(int bin, const double* scale, int n, const double* in,
                                                double* out) {
  BinPanelBody(bin, scale, n, in, out);
}
[[gnu::target("avx2")]] void BinPanelAvx2(int bin, const double* scale, int n, const double* in, double* out) {
  BinPanelBody(bin, scale, n, in, out);
}
void BinPanelBaseline(int bin, const double* scale, int n, const double* in, double* out) {
  BinPanelBody(bin, scale, n, in, out);
}

// The rows of a kernel panel at nP points of a chunk in which every point counts,
// summed over bins of `bin` points (a divisor of eight) as they are read: bin j of row
// k is (sum of K - rb[j][k] + m shift[k]) scale[j], m its points and rb[j] (eight rows
// side by side; null: none) the sum of the radius means over it, rounded to float.
// That is BinPanel of the centred rows up to the rounding of each point, without
// reading a radius mean at every point of every scan.
using CentreBinPanelFn = void (*)(const KernelPanelRows& rows, int nP, int bin, const double* scale,
                                  const double* rb, double* out);
[[gnu::always_inline]] inline void CentreBinPanelBody(const KernelPanelRows& rows, int nP, int bin,
                                                      const double* scale, const double* rb, double* out) {
  static_assert(8 % kMostRadialBin == 0, "eight points hold whole bins");
  Double8 shift;
  for (int k = 0; k < kNEQPanel; ++k) shift[k] = rows.shift[k];
  const auto put = [&](int j, Double8 sum, int m) {
    if (rb) {
      Double8 r;
      std::memcpy(&r, rb + static_cast<std::size_t>(j) * kNEQPanel, sizeof r);
      sum -= r;
    }
    sum = (sum + shift * static_cast<double>(m)) * scale[j];
    sum = __builtin_convertvector(__builtin_convertvector(sum, Float8), Double8);
    std::memcpy(out + static_cast<std::size_t>(j) * kNEQPanel, &sum, sizeof sum);
  };
  alignas(64) double points[kNEQPanel * 8];
  int p = 0, j = 0;
  for (; p + 8 <= nP; p += 8) {
    AskForNextRows(rows, p);
    Double8 t[8];
    for (int k = 0; k < 8; ++k) RowPoints(rows, k, p, t[k]);
    StoreTransposed(t, points);
    for (int b = 0; b < 8; b += bin, ++j) {
      Double8 sum = {};
      for (int i = b; i < b + bin; ++i) {
        Double8 v;
        std::memcpy(&v, points + i * kNEQPanel, sizeof v);
        sum += v;
      }
      put(j, sum, bin);
    }
  }
  // The last points, fewer than eight: bins of what is left.
  for (; p < nP; ++j) {
    const int first = p;
    Double8 sum = {};
    for (const int last = std::min(nP, p + bin); p < last; ++p)
      for (int k = 0; k < kNEQPanel; ++k) sum[k] += static_cast<double>(rows.K[k][p]);
    put(j, sum, p - first);
  }
}
[[gnu::target("avx512f")]] void CentreBinPanelAvx512(const KernelPanelRows& rows, int nP, int bin,
                                                      const double* scale, const double* rb, double* out) {
  CentreBinPanelBody(rows, nP, bin, scale, rb, out);
}
[[gnu::target("avx2")]] void CentreBinPanelAvx2(const KernelPanelRows& rows, int nP, int bin, const double* scale,
                                                const double* rb, double* out) {
  CentreBinPanelBody(rows, nP, bin, scale, rb, out);
}
void CentreBinPanelBaseline(const KernelPanelRows& rows, int nP, int bin, const double* scale, const double* rb,
                            double* out) {
  CentreBinPanelBody(rows, nP, bin, scale, rb, out);
}

// The vector kernels of one instruction set.
struct NEQKernels {
  const char* name;
  const char* feature;  // what the processor must have (null: nothing)
  UnitProductFn product;
  KernelPanelFn centre;
  KernelSumsFn sums;
  BinPanelFn bin;
  CentreBinPanelFn centreBin;
};
constexpr NEQKernels kNEQKernels[] = {
    {"avx512", "avx512f", UnitProductAvx512, CentreKernelPanelAvx512, KernelSumsAvx512, BinPanelAvx512, CentreBinPanelAvx512},
    {"avx2", "avx2", UnitProductAvx2, CentreKernelPanelAvx2, KernelSumsAvx2, BinPanelAvx2, CentreBinPanelAvx2},
    {"baseline", nullptr, UnitProductBaseline, CentreKernelPanelBaseline, KernelSumsBaseline, BinPanelBaseline, CentreBinPanelBaseline},
};

bool ProcessorHas(const NEQKernels& set) {
  __builtin_cpu_init();
  if (!set.feature) return true;
  if (std::strcmp(set.feature, "avx512f") == 0) return __builtin_cpu_supports("avx512f");
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

// The kernels in use: the best the processor has, unless a test chose others.
const NEQKernels*& ActiveKernels() {
  static const NEQKernels* active = [] {
    for (const NEQKernels& set : kNEQKernels) {
      if (ProcessorHas(set)) return &set;
    }
    return &kNEQKernels[2];
  }();
  return active;
}

// Panel q of scan s at fit-range points p0..p0+nP-1 (0-based): augmented rows
// q kNEQPanel .. q kNEQPanel + 7 (those up to the order M; the others 0), centred and
// rounded to float, into out[p kNEQPanel + k], p = 0..nP-1: the eight rows side by
// side, eight points at a time, written transposed (the data row of panel 0 is
// centred first into a row of floats). A value is the same whatever part of the
// points is centred with it. nextScan and nextPanel name the panel centred next
// (nextPanel 0: none): its kernels at the same points are asked for while this one
// is centred. With binned (points that all count), the rows are summed over its bins
// as they are read instead (CentreBinPanel): out[j kNEQPanel + k] for bin j.
struct PanelBins {
  int bin = 1;
  const double* scale = nullptr;  // [bin]
  const double* radius = nullptr;  // [bin][kNEQPanel] sums of the radius means; null: none
};
void CentrePanelPoints(const NEQBuildPlan& plan, const GridFitPoints& fit, int s, int q, int M,
                       int p0, int nP, double* out, int nextScan, int nextPanel,
                       const PanelBins* binned = nullptr) {
  KernelPanelRows rows;
  thread_local std::vector<float> zeroKernel, dataRow;
  thread_local std::vector<double> zeroMeans, stage;
  if (static_cast<int>(zeroKernel.size()) < nP) {
    zeroKernel.assign(static_cast<std::size_t>(nP), 0.0f);
    zeroMeans.assign(static_cast<std::size_t>(nP), 0.0);
    dataRow.resize(static_cast<std::size_t>(nP));
    stage.resize(static_cast<std::size_t>(kStagePoints));
  }
  const DistributionStorageState& storage = DistributionStorage();
  const int g0 = CurrentGrid().iFitFirst + p0;
  for (int k = 0; k < kNEQPanel; ++k) {
    const int r = nextPanel * kNEQPanel + k;
    rows.next[k] = nextPanel > 0 && r <= M
                       ? storage.pppKernels[r + plan.firstKernel - 1][nextScan] + g0
                       : zeroKernel.data();
  }
  const bool radius = plan.model == NoiseModel::TI || plan.model == NoiseModel::TIRI;
  for (int k = 0; k < kNEQPanel; ++k) {
    const int r = q * kNEQPanel + k;
    if (r == 0) {
      // The data: centred and rounded to float here, then passed through unchanged
      // ((y' - 0) + 0 is y').
      for (int p = 0; p < nP; p += kStagePoints) {
        const int n = std::min(kStagePoints, nP - p);
        CentreRowPart(plan, s, 0, p0 + p, n, stage.data());
        for (int i = 0; i < n; ++i) {
          dataRow[static_cast<std::size_t>(p + i)] = static_cast<float>(stage[static_cast<std::size_t>(i)]);
        }
      }
      rows.K[k] = dataRow.data();
      rows.R[k] = radius ? zeroMeans.data() : nullptr;
      rows.shift[k] = 0.0;
      continue;
    }
    if (r > M) {
      rows.K[k] = zeroKernel.data();
      rows.R[k] = radius ? zeroMeans.data() : nullptr;
      rows.shift[k] = 0.0;
      continue;
    }
    const int kernel = r + plan.firstKernel - 1;
    rows.K[k] = storage.pppKernels[kernel][s] + g0;
    rows.R[k] = radius ? storage.ppKernelRadiusMean[kernel] + g0 : nullptr;
    switch (plan.model) {
      case NoiseModel::Plain:
      case NoiseModel::TI: rows.shift[k] = 0.0; break;
      case NoiseModel::Baseline: rows.shift[k] = -storage.pKernelMean[kernel]; break;
      case NoiseModel::RI: rows.shift[k] = -storage.ppKernelScanMean[kernel][s]; break;
      case NoiseModel::TIRI:
        rows.shift[k] = storage.pKernelMean[kernel] - storage.ppKernelScanMean[kernel][s];
        break;
    }
  }
  if (binned) {
    ActiveKernels()->centreBin(rows, nP, binned->bin, binned->scale, binned->radius, out);
    return;
  }
  ActiveKernels()->centre(rows, nP, out);
  // The points that do not count: zero in every row of the panel.
  if (!fit.Whole()) {
    for (int p = 0; p < nP; ++p)
      if (!fit.Counts(g0 + p)) std::fill_n(out + static_cast<std::ptrdiff_t>(p) * kNEQPanel, kNEQPanel, 0.0);
  }
}

// Panel q of scan s over the whole fit range (CentrePanelPoints from point 0).
[[maybe_unused]] void CentrePanel(const NEQBuildPlan& plan, const GridFitPoints& fit, int s, int q,
                                  int M, int nP, double* out, int nextScan, int nextPanel) {
  CentrePanelPoints(plan, fit, s, q, M, 0, nP, out, nextScan, nextPanel);
}

// Start of augmented row r at point p in a packed block of `points` points (the
// panels of CentrePanel one after the other).
[[maybe_unused]] std::size_t PackedOffset(int r, int p, int points) {
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
  const int done = NormalEquations().nNEQScansDone.fetch_add(1) + 1;
  ShowNormalEquationProgress(static_cast<float>(done) / static_cast<float>(scans));
  if (bUserAbort) return false;
  if (CheckKeyPress()) {
    bUserAbort = true;
    return false;
  }
  return true;
}

// The scratch of the threaded builds, kept between builds of an analysis.
struct NEQScratchBlock {
  std::vector<double> kept;
};

bool RunSerialBuild(const NEQBuildPlan& plan, std::string* error) {
  if (!NormalEquationArraysFit(plan)) return false;
  NormalEquations().nNEQScansDone = 0;
  double sumSq = 0.0;
  const std::unique_ptr<NEQScratch> scratch = TryMakeNEQScratch(plan, 1, error);
  if (!scratch) return false;
  BuildNormalEquationRows(plan, *scratch, 1, 1, &sumSq, [&plan] { return SerialAfterScan(plan); });
  FinishNormalEquations(plan, sumSq);
  return !bUserAbort;
}

}  // namespace

void CentreKernelRowPart(const NEQBuildPlan& plan, int s, int r, int p0, int n, double* v) {
  assert(r >= 1);
  CentreRowPart(plan, s, r, p0, n, v);
}

NoiseModel SelectNoiseModel() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  if (analysisSwitchesPart.bFitTINoise && analysisSwitchesPart.bFitRINoise) return NoiseModel::TIRI;
  if (analysisSwitchesPart.bFitTINoise) return NoiseModel::TI;
  if (analysisSwitchesPart.bFitRINoise) return NoiseModel::RI;
  if (ModelParams().bVaryBaseline) return NoiseModel::Baseline;
  return NoiseModel::Plain;
}

int SearchRadialBin() {
  const auto& state = NormalEquations();
  const auto& grid = CurrentGrid();
  if (!grid.pGridRadius || grid.iFitLast <= grid.iFitFirst) return 1;
  const double spacing = (static_cast<double>(grid.pGridRadius[grid.iFitLast]) - grid.pGridRadius[grid.iFitFirst]) /
                         (grid.iFitLast - grid.iFitFirst);
  if (!(spacing > 0.0)) return 1;
  const double points = state.dNarrowestBoundary / (kBoundaryWidthsPerBin * spacing);
  // A power of two, so that bins divide the build's chunks (kNEQChunkPoints).
  int bin = 1;
  while (2 * bin <= kMostRadialBin && 2 * bin <= points) bin *= 2;
  return bin;
}

NEQBuildPlan PlanNormalEquations(NoiseModel model) {
  auto& distributionVectorsPart = DistributionVectors();
  NEQBuildPlan plan;
  plan.model = model;
  plan.firstScan = 1;
  plan.lastScan = DataSet().nScans;
  plan.firstKernel = 1;
  plan.order = IsSizeShapeModel() ? distributionVectorsPart.nFf0Grid : distributionVectorsPart.nDistGrid;
  plan.baseline = ModelParams().fBaseline;
  const auto& models = DistributionModels();
  if (models.bContiInnerRun && !models.bFinalFitEvaluation) plan.radialBin = std::max(1, NormalEquations().iSearchRadialBin);
  return plan;
}

bool NormalEquationArraysFit(const NEQBuildPlan& plan) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& distributionStoragePart = DistributionStorage();
  const int lastKernel = plan.firstKernel + plan.order - 1;
  return distributionStoragePart.pppKernels && distributionStoragePart.ppNormalMatrix && plan.order >= 1 && plan.firstScan >= 1 &&
         plan.lastScan >= plan.firstScan && plan.lastScan <= dataSetPart.nScans &&
         plan.lastScan <= distributionStoragePart.nKernelArrayScans && lastKernel <= distributionStoragePart.nKernelArrayKernels &&
         plan.order <= distributionStoragePart.nWorkspaceUnknowns && currentGridPart.nGridPoints <= distributionStoragePart.nKernelArrayPoints &&
         currentGridPart.nGridPoints <= distributionStoragePart.nWorkspacePoints && dataSetPart.nScans <= distributionStoragePart.nWorkspaceScans && currentGridPart.iFitFirst >= 1 &&
         currentGridPart.iFitLast >= currentGridPart.iFitFirst && currentGridPart.iFitLast <= currentGridPart.nGridPoints &&
         static_cast<int>(currentGridPart.ppGridSignal.size()) > plan.lastScan;
}

void ComputeNormalEquationRowMeans(const NEQBuildPlan& plan, int r, const GridFitPoints& fit) {
  auto& normalEquationsPart = NormalEquations();
  auto& currentGridPart = CurrentGrid();
  auto& distributionStoragePart = DistributionStorage();
  const int s0 = plan.firstScan, s1 = plan.lastScan;
  const double scans = static_cast<double>(s1 - s0 + 1);
  const double nP = static_cast<double>(fit.Count());
  const bool radius = NeedsRadiusMeans(plan.model), scan = NeedsScanMeans(plan.model),
             global = NeedsGlobalMeans(plan.model);
  if (r == 0) {
    if (radius) {
      for (int g = 1; g <= currentGridPart.nGridPoints; ++g) {
        double sum = 0.0;
        for (int s = s0; s <= s1; ++s) sum += DataValue(currentGridPart, distributionStoragePart, plan, s, g);
        distributionStoragePart.pDataRadiusMean[g] = sum / scans;
      }
    }
    if (scan || global) {
      double total = 0.0;
      for (int s = s0; s <= s1; ++s) {
        double sum = 0.0;
        fit.ForEach([&](int g) { sum += DataValue(currentGridPart, distributionStoragePart, plan, s, g); });
        if (scan) distributionStoragePart.pDataScanMean[s] = sum / nP;
        total += sum;
      }
      if (global) normalEquationsPart.dDataMean = total / (scans * nP);
    }
    return;
  }
  // One pass over the kernel of unknown r: per scan, its values at every grid point
  // go into the per-radius sums and its fit-range values into the scan's sum.
  const int k = r + plan.firstKernel - 1;
  float* const* K = distributionStoragePart.pppKernels[k];
  double* rm = distributionStoragePart.ppKernelRadiusMean[k];
  thread_local std::vector<double> scanSums;
  scanSums.assign(static_cast<std::size_t>(s1) + 1, 0.0);
  const int nFit = currentGridPart.iFitLast - currentGridPart.iFitFirst + 1;
  if (const ProfileSums* kept = CurrentKernelSums(k, s0, s1, currentGridPart.nGridPoints, currentGridPart.iFitFirst, nFit)) {
    // The solver summed the kernel as it wrote it, in the order of the pass below.
    if (radius) std::copy(kept->RadiusSums() + 1, kept->RadiusSums() + currentGridPart.nGridPoints + 1, rm + 1);
    if (scan || global) {
      for (int s = s0; s <= s1; ++s) scanSums[static_cast<std::size_t>(s)] = kept->ScanSum(s);
    }
  } else {
    if (radius) std::fill(rm + 1, rm + currentGridPart.nGridPoints + 1, 0.0);
    ActiveKernels()->sums(K, s0, s1, currentGridPart.nGridPoints, currentGridPart.iFitFirst, nFit, radius ? rm : nullptr,
                          scan || global ? scanSums.data() : nullptr);
  }
  double total = 0.0;
  if (scan || global) {
    for (int s = s0; s <= s1; ++s) {
      double sum = scanSums[static_cast<std::size_t>(s)];
      // The range's points that do not count come out of the scan's sum.
      if (!fit.Whole()) {
        for (int g = currentGridPart.iFitFirst; g <= currentGridPart.iFitLast; ++g)
          if (!fit.Counts(g)) sum -= K[s][g];
      }
      if (scan) distributionStoragePart.ppKernelScanMean[k][s] = sum / nP;
      total += sum;
    }
  }
  if (radius) {
    for (int g = 1; g <= currentGridPart.nGridPoints; ++g) rm[g] /= scans;
  }
  if (global) distributionStoragePart.pKernelMean[k] = total / (scans * nP);
}

int NormalEquationThreads(const NEQBuildPlan& plan, int wanted, double multiplyAddsPerThread) {
  wanted = std::max(wanted, 1);
  if (!(multiplyAddsPerThread > 0)) return wanted;
  const double scans = std::max(0, plan.lastScan - plan.firstScan + 1);
  const double m = std::max(plan.order, 0);
  const double work = scans * std::max(FitRangePoints(), 0) * (m * (m + 1) / 2 + m + 1);
  return static_cast<int>(std::clamp(std::floor(work / multiplyAddsPerThread), 1.0, static_cast<double>(wanted)));
}

std::unique_ptr<NEQScratch> TryMakeNEQScratch(const NEQBuildPlan& plan, int threads,
                                              std::string* error) {
  try {
    return MakeNEQScratch(plan, threads);
  } catch (const std::bad_alloc&) {
    if (error) *error = kWorkspaceAllocationText;
    return nullptr;
  }
}

namespace {

// One unit of the matrix: rows of panel `rowPanel` against the columns of panels
// firstColumnPanel .. firstColumnPanel + panels - 1 (the lower triangle only).
struct NEQUnit {
  int rowPanel = 0;
  int firstColumnPanel = 0;
  int panels = 1;
};

// Every unit of the lower triangle of `rowPanels` panels, listed by row panel and
// then column: each element of the matrix lies in one unit.
std::vector<NEQUnit> AllUnits(int rowPanels) {
  std::vector<NEQUnit> all;
  for (int t = 0; t < rowPanels; ++t) {
    for (int q = 0; q <= t; q += 2) all.push_back(NEQUnit{t, q, q + 1 <= t ? 2 : 1});
  }
  return all;
}

// The units cut into at most `runs` runs of consecutive units of about equal
// products (a unit costs its column panels): the index of each run's first unit,
// and all.size() at the end. The cuts keep the dearest run as cheap as they can (the
// least bound for which runs taken greedily from the start suffice).
std::vector<std::size_t> CutRuns(const std::vector<NEQUnit>& all, int runs) {
  auto cut = [&](long long bound, std::vector<std::size_t>& starts) {
    starts.assign(1, 0);
    long long cost = 0;
    for (std::size_t u = 0; u < all.size(); ++u) {
      const long long add = all[u].panels;
      if (cost + add > bound && u > starts.back()) {
        starts.push_back(u);
        cost = 0;
      }
      cost += add;
    }
    return static_cast<int>(starts.size()) <= runs;
  };
  std::vector<std::size_t> starts;
  long long low = 1, high = static_cast<long long>(all.size()) * 2;
  while (low < high) {
    const long long mid = (low + high) / 2;
    if (cut(mid, starts)) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  cut(low, starts);
  starts.push_back(all.size());
  return starts;
}

// Groups a part adds at a time: enough that the parts of all threads can add at
// once, one after the other through the groups, few enough that a group is many
// products.
int UnitGroups(int units, int threads) { return std::clamp(2 * threads, 1, std::max(units, 1)); }

}  // namespace

std::unique_ptr<NEQScratch> MakeNEQScratch(const NEQBuildPlan& plan, int threads) {
  threads = std::max(threads, 1);
  auto scratch = std::make_unique<NEQScratch>();
  scratch->rows = (plan.order + 1 + kNEQPanel - 1) / kNEQPanel * kNEQPanel;
  scratch->points = FitRangePoints();
  scratch->fit = CurrentGridFitPoints();
  scratch->threads = threads;
  const int panels = scratch->rows / kNEQPanel;
  scratch->units = static_cast<int>(AllUnits(panels).size());
  scratch->groups = UnitGroups(scratch->units, threads);
  scratch->chunks = std::max(1, (scratch->points + kNEQChunkPoints - 1) / kNEQChunkPoints);
  scratch->parts = std::max(plan.lastScan - plan.firstScan + 1, 1);
  scratch->partStates = std::make_unique<NEQPartState[]>(static_cast<std::size_t>(scratch->parts));
  // A panel of a chunk block is a little longer than the chunk, so that the panels a
  // product reads at once do not fall on the same sets of the first-level cache.
  scratch->panelStride = static_cast<std::size_t>(kNEQChunkPoints + 8) * kNEQPanel;
  const std::size_t chunkBlock = static_cast<std::size_t>(panels) * scratch->panelStride;
  const std::size_t scanBlock = static_cast<std::size_t>(scratch->units) * kUnitSize;
  // Whole cache lines per thread (the blocks are 64-byte aligned), so that no two
  // threads write to one line.
  scratch->threadSize = (chunkBlock + scanBlock + 7) / 8 * 8;
  // The radius means summed over the bins of the chunks, for binned builds in which
  // every point counts (zero for the data row and the rows beyond the order).
  if (plan.radialBin > 1 && NeedsRadiusMeans(plan.model) && scratch->fit.Whole()) {
    scratch->chunkBins = kNEQChunkPoints / plan.radialBin;
    scratch->binnedRadiusMeans.assign(
        static_cast<std::size_t>(panels) * static_cast<std::size_t>(scratch->chunks) *
            static_cast<std::size_t>(scratch->chunkBins) * kNEQPanel,
        0.0);
  }
  // Not cleared: every value the products read is centred first. The blocks are
  // released when a build needs far fewer.
  std::vector<double>& kept = CurrentPart<NEQScratchBlock>().kept;
  const std::size_t want = scratch->threadSize * static_cast<std::size_t>(threads) + 8;
  if (kept.size() < want || kept.size() > 4 * want) {
    kept = std::vector<double>();
    kept.resize(want);
  }
  const std::size_t misalign = reinterpret_cast<std::uintptr_t>(kept.data()) % 64 / sizeof(double);
  scratch->work = kept.data() + (misalign ? 8 - misalign : 0);
  return scratch;
}

namespace {

// The products of one unit in acc added to the matrix: A_ij for j >= 1, b_i for
// j = 0 and the sum of squares for i = j = 0; elements above the diagonal and rows
// beyond the order are left out.
void AddUnit(const NEQUnit& unit, int M, const double* acc, double* sumSq) {
  auto& distributionStoragePart = DistributionStorage();
  const int i0 = unit.rowPanel * kNEQPanel;
  const int j0 = unit.firstColumnPanel * kNEQPanel;
  for (int r = 0; r < kNEQPanel && i0 + r <= M; ++r) {
    const int i = i0 + r;
    const double* row = acc + r * kUnitColumns - j0;
    const int jLast = std::min(i, j0 + unit.panels * kNEQPanel - 1);
    int j = j0;
    if (j == 0) {
      double* column0 = i == 0 ? sumSq : distributionStoragePart.pNormalRhs + i;
      if (column0) *column0 += row[0];
      ++j;
    }
    double* Ai = distributionStoragePart.ppNormalMatrix[i];
    for (int k = j; k <= jLast; ++k) Ai[k] += row[k];
  }
}

// Rows first..end-1 of the lower triangle and of the right-hand side set to 0 (row 0,
// the sum of squares, is the scratch's).
void ClearRows(int first, int end) {
  auto& distributionStoragePart = DistributionStorage();
  for (int i = std::max(first, 1); i < end; ++i) {
    distributionStoragePart.pNormalRhs[i] = 0.0;
    std::fill(distributionStoragePart.ppNormalMatrix[i] + 1, distributionStoragePart.ppNormalMatrix[i] + i + 1, 0.0);
  }
}

// Waits until scan `before` has added group g (true) or the build stops (false).
// The thread spins briefly when the scan's products are done (its thread is adding
// them, a group in microseconds), else, and after the spin, sleeps until the scan
// adds a group or the build stops (NEQScratch::Halt).
bool WaitForGroup(const NEQScratch& scratch, const NEQPartState& before, int g) {
  if (before.computed.load(std::memory_order_acquire)) {
    const auto spinEnd = std::chrono::steady_clock::now() + kPartSpinBeforeSleep;
    for (int spin = 1; before.groupsAdded.load(std::memory_order_acquire) <= g; ++spin) {
      _mm_pause();
      if (spin % 16 == 0 && std::chrono::steady_clock::now() >= spinEnd) break;
    }
  }
  for (;;) {
    if (scratch.stop.load(std::memory_order_acquire)) return false;
    const int seen = before.groupsAdded.load(std::memory_order_acquire);
    if (seen > g) return true;
    before.groupsAdded.wait(seen, std::memory_order_acquire);
  }
}

// Waits until counter reaches target. Every thread adds to the counter before it
// waits (the build stops only after this meeting), and a thread that fails adds
// enough for all (NEQScratch::Abandon), so the target is always reached.
void WaitFor(const std::atomic<int>& counter, int target) {
  const auto spinEnd = std::chrono::steady_clock::now() + kSpinBeforeSleep;
  for (int spin = 1; counter.load(std::memory_order_acquire) < target; ++spin) {
    _mm_pause();
    if (spin % 64 == 0 && std::chrono::steady_clock::now() >= spinEnd) break;
  }
  for (int seen = counter.load(std::memory_order_acquire); seen < target;
       seen = counter.load(std::memory_order_acquire)) {
    counter.wait(seen, std::memory_order_acquire);
  }
}

// The binned radius means of panel q in chunk c: chunkBins bins of kNEQPanel rows.
double* BinnedRadiusMeans(NEQScratch& scratch, int q, int c) {
  return scratch.binnedRadiusMeans.data() +
         ((static_cast<std::size_t>(q) * static_cast<std::size_t>(scratch.chunks) + static_cast<std::size_t>(c)) *
          static_cast<std::size_t>(scratch.chunkBins)) * kNEQPanel;
}

// The radius means of kernel row r (1..order) summed over the bins of every chunk, in
// order, into the scratch's binned radius means (rows side by side as in a panel).
void BinRadiusMeans(const NEQBuildPlan& plan, NEQScratch& scratch, int r) {
  if (r < 1 || r > plan.order) return;
  const double* rm = DistributionStorage().ppKernelRadiusMean[r + plan.firstKernel - 1] + CurrentGrid().iFitFirst;
  const int bin = plan.radialBin;
  for (int c = 0; c < scratch.chunks; ++c) {
    const int p0 = c * kNEQChunkPoints;
    const int n = std::min(kNEQChunkPoints, scratch.points - p0);
    double* out = BinnedRadiusMeans(scratch, r / kNEQPanel, c);
    for (int j = 0, p = 0; p < n; ++j) {
      double sum = 0.0;
      for (const int last = std::min(n, p + bin); p < last; ++p) sum += rm[p0 + p];
      out[static_cast<std::size_t>(j) * kNEQPanel + static_cast<std::size_t>(r % kNEQPanel)] = sum;
    }
  }
}

// The means of the shares of rows this thread takes, and those rows of the matrix
// set to 0; then the meeting of all threads, until every share is done. The shares
// are threadCount stretches of consecutive rows (each reads one stretch of the
// kernel array), taken by whichever thread comes for them: a thread that starts
// late, or gets no core on a loaded machine, leaves its share to the others instead
// of holding them up. A share gives the same sums whoever takes it.
void MeansAndClearedRows(const NEQBuildPlan& plan, NEQScratch& scratch, int threadCount) {
  const long long rows = plan.order + 1;
  int sharesDone = 0;
  for (int m; (m = scratch.meanSharesTaken.fetch_add(1, std::memory_order_relaxed)) < threadCount;) {
    if (scratch.stop.load(std::memory_order_relaxed)) break;  // abandoned build
    const int first = static_cast<int>(rows * m / threadCount);
    const int end = static_cast<int>(rows * (m + 1) / threadCount);
    for (int r = first; r < end; ++r) {
      ComputeNormalEquationRowMeans(plan, r, scratch.fit);
      if (!scratch.binnedRadiusMeans.empty()) BinRadiusMeans(plan, scratch, r);
    }
    ClearRows(first, end);
    ++sharesDone;
  }
  if (sharesDone > 0) {
    scratch.meansDone.fetch_add(sharesDone, std::memory_order_release);
    scratch.meansDone.notify_all();
  }
  WaitFor(scratch.meansDone, threadCount);
}

// The scale of each bin of `bin` adjacent points of chunk c (n points): one over the
// square root of the points of the bin that count (0 where none counts).
int BinScales(int bin, const NEQScratch& scratch, int c, int n, double* scale) {
  const int g0 = CurrentGrid().iFitFirst + c * kNEQChunkPoints;
  const int bins = (n + bin - 1) / bin;
  for (int j = 0; j < bins; ++j) {
    int counted = 0;
    for (int p = j * bin; p < std::min(n, (j + 1) * bin); ++p)
      counted += scratch.fit.Whole() || scratch.fit.Counts(g0 + p) ? 1 : 0;
    scale[j] = counted > 0 ? 1.0 / std::sqrt(static_cast<double>(counted)) : 0.0;
  }
  return bins;
}

// Chunk c of scan s centred into the chunk block: every panel over the chunk's
// points, the next panel's kernels asked for meanwhile. With bins of more than one
// point (plan.radialBin) the chunk block takes the bins: where every point counts
// each panel's rows are summed over them as they are read; a range with a gap has
// each panel centred into a block on the stack (it stays in the first-level cache)
// and summed from there. Returns the points of the chunk block: the chunk's points,
// or its bins.
int CentreChunk(const NEQBuildPlan& plan, NEQScratch& scratch, int s, int c, int panels,
                double* chunkBlock) {
  const int p0 = c * kNEQChunkPoints;
  const int n = std::min(kNEQChunkPoints, scratch.points - p0);
  const int bin = plan.radialBin;
  alignas(64) double stage[kNEQChunkPoints * kNEQPanel];
  double scale[kNEQChunkPoints];
  const int points = bin > 1 ? BinScales(bin, scratch, c, n, scale) : n;
  // Where every point counts the rows are summed over the bins as they are read.
  const bool whole = bin > 1 && scratch.fit.Whole();
  const bool radius = NeedsRadiusMeans(plan.model);
  for (int q = 0; q < panels; ++q) {
    double* panel = chunkBlock + static_cast<std::size_t>(q) * scratch.panelStride;
    if (whole) {
      const PanelBins binned{bin, scale, radius ? BinnedRadiusMeans(scratch, q, c) : nullptr};
      CentrePanelPoints(plan, scratch.fit, s, q, plan.order, p0, n, panel, s, q + 1 < panels ? q + 1 : 0, &binned);
      continue;
    }
    CentrePanelPoints(plan, scratch.fit, s, q, plan.order, p0, n, bin > 1 ? stage : panel, s,
                      q + 1 < panels ? q + 1 : 0);
    if (bin > 1) ActiveKernels()->bin(bin, scale, n, stage, panel);
  }
  scratch.panelsCentred.fetch_add(panels, std::memory_order_relaxed);
  return points;
}

void BuildRows(const NEQBuildPlan& plan, NEQScratch& scratch, int thread,
               int threadCount, double* sumSq,
               const std::function<bool()>& afterScan) {
  assert(thread >= 1 && thread <= threadCount && threadCount <= scratch.threads);
  const int M = plan.order;
  const int panels = scratch.rows / kNEQPanel;
  MeansAndClearedRows(plan, scratch, threadCount);
  const UnitProductFn UnitProduct = ActiveKernels()->product;
  const std::vector<NEQUnit> units = AllUnits(panels);
  const std::vector<std::size_t> groups = CutRuns(units, scratch.groups);
  const int groupCount = static_cast<int>(groups.size()) - 1;
  double* const chunkBlock = scratch.work + static_cast<std::size_t>(thread - 1) * scratch.threadSize;
  double* const scanBlock = chunkBlock + static_cast<std::size_t>(panels) * scratch.panelStride;
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(scratch.panelStride);
  for (int part; (part = scratch.partsTaken.fetch_add(1, std::memory_order_relaxed)) < scratch.parts;) {
    if (bUserAbort) scratch.Halt();
    if (scratch.stop.load(std::memory_order_relaxed)) break;
    const int s = plan.firstScan + part;
    // The scan's products, chunk after chunk, summed in the scan block (unit u at
    // u kUnitSize): A_ij += sum_p K'_ip K'_jp (i >= j) with augmented row and
    // column 0 the data (A_i0 is b_i, A_00 the sum of squares). The scan block and
    // the chunk block stay in the core's second-level cache.
    for (int c = 0; c < scratch.chunks; ++c) {
      const int n = CentreChunk(plan, scratch, s, c, panels, chunkBlock);
      for (std::size_t u = 0; u < units.size(); ++u) {
        const NEQUnit& unit = units[u];
        UnitProduct(chunkBlock + static_cast<std::size_t>(unit.rowPanel) * scratch.panelStride,
                    chunkBlock + static_cast<std::size_t>(unit.firstColumnPanel) * scratch.panelStride,
                    stride, unit.panels, n, c > 0, scanBlock + u * kUnitSize);
      }
    }
    // Then to the matrix group by group, once the scan before has added the group:
    // every element receives the scans' sums in their order.
    NEQPartState& state = scratch.partStates[static_cast<std::size_t>(part)];
    state.computed.store(true, std::memory_order_release);
    const NEQPartState* before = part > 0 ? &scratch.partStates[static_cast<std::size_t>(part - 1)] : nullptr;
    for (int g = 0; g < groupCount; ++g) {
      if (before && before->groupsAdded.load(std::memory_order_acquire) <= g &&
          !WaitForGroup(scratch, *before, g))
        return;
      if (scratch.stop.load(std::memory_order_relaxed)) return;
      for (std::size_t u = groups[static_cast<std::size_t>(g)]; u < groups[static_cast<std::size_t>(g) + 1]; ++u)
        AddUnit(units[u], M, scanBlock + u * kUnitSize, &scratch.sumSq);
      state.groupsAdded.fetch_add(1, std::memory_order_release);
      state.groupsAdded.notify_all();
    }
    // The last scan has added the sum of squares.
    if (part == scratch.parts - 1 && sumSq) *sumSq += scratch.sumSq;
    if (afterScan && !afterScan()) {
      scratch.Halt();
      break;
    }
  }
}

}  // namespace

void BuildNormalEquationRows(const NEQBuildPlan& plan, NEQScratch& scratch, int thread,
                             int threadCount, double* sumSq,
                             const std::function<bool()>& afterScan) {
  try {
    BuildRows(plan, scratch, thread, threadCount, sumSq, afterScan);
  } catch (...) {
    // The other threads must not wait for this one's share of the means.
    scratch.Abandon(threadCount);
    throw;
  }
}

void FinishNormalEquations(const NEQBuildPlan& plan, double sumSq) {
  auto& normalEquationsPart = NormalEquations();
  auto& distributionStoragePart = DistributionStorage();
  const int M = plan.order;
  for (int i = 1; i <= M; ++i) {
    for (int j = i + 1; j <= M; ++j) distributionStoragePart.ppNormalMatrix[i][j] = distributionStoragePart.ppNormalMatrix[j][i];
  }
  normalEquationsPart.dSumSqData = sumSq;
  distributionStoragePart.nNEQUnknowns = M;
  distributionStoragePart.nNEQFirstKernel = plan.firstKernel;
}

bool BuildNormalEquationsTIRI() { return BuildNormalEquations(NoiseModel::TIRI); }
bool BuildNormalEquationsTI() { return BuildNormalEquations(NoiseModel::TI); }
bool BuildNormalEquationsRI() { return BuildNormalEquations(NoiseModel::RI); }
bool BuildNormalEquationsBaseline() { return BuildNormalEquations(NoiseModel::Baseline); }
bool BuildNormalEquationsPlain() { return BuildNormalEquations(NoiseModel::Plain); }

bool BuildNormalEquations(NoiseModel model, std::string* error) {
  auto& normalEquationsPart = NormalEquations();
  CleanVectorState();
  normalEquationsPart.bFixedFirstKernel = false;
  normalEquationsPart.dFixedFirstAmplitude = 0.0;
  return RunSerialBuild(PlanNormalEquations(model), error);
}

bool BuildNormalEquationsFixedFirst(double amplitude, std::string* error) {
  auto& normalEquationsPart = NormalEquations();
  NEQBuildPlan plan = PlanNormalEquations(NoiseModel::TIRI);
  plan.firstKernel = 2;
  plan.order = DistributionVectors().nDistGrid - 1;
  plan.subtractFirstKernel = true;
  const bool ok = RunSerialBuild(plan, error);
  normalEquationsPart.bFixedFirstKernel = true;
  normalEquationsPart.dFixedFirstAmplitude = amplitude;
  return ok;
}

bool BuildNormalEquationsScanRange(std::string* error) {
  auto& normalEquationsPart = NormalEquations();
  NEQBuildPlan plan = PlanNormalEquations(NoiseModel::Baseline);
  plan.firstScan = normalEquationsPart.iContiFirstScan;
  plan.lastScan = normalEquationsPart.iContiLastScan;
  return RunSerialBuild(plan, error);
}

std::vector<std::string> NEQInstructionSets() {
  std::vector<std::string> sets;
  for (const NEQKernels& set : kNEQKernels) {
    if (ProcessorHas(set)) sets.emplace_back(set.name);
  }
  return sets;
}

bool UseNEQInstructionSet(const std::string& name) {
  for (const NEQKernels& set : kNEQKernels) {
    if (name == set.name && ProcessorHas(set)) {
      ActiveKernels() = &set;
      return true;
    }
  }
  return false;
}

void ShowContiText(int x, int y, const std::string& text) {
  auto& normalEquationsPart = NormalEquations();
  if (!normalEquationsPart.hContiDC) return;
  normalEquationsPart.hContiDC->TextOut(HasBackend() ? ReadoutColumn(x, GetBackend().MainWindow().ClientSize()) : x, y, text);
  if (HasBackend()) GetBackend().MainWindow().Refresh();
}

void ShowContiProgress(int x, int y, ProgressKind kind, const std::string& text) {
  if (!NormalEquations().hContiDC) return;
  ReportProgress({kind, text});
  ShowContiText(x, y, text);
}

void ShowNormalEquationProgress(float fraction) {
  auto& normalEquationsPart = NormalEquations();
  if (ContiFitInProgress() || !normalEquationsPart.hContiDC) return;
  if (normalEquationsPart.pContiProgressLine) {
    normalEquationsPart.pContiProgressLine->UpdateDC(fraction, *normalEquationsPart.hContiDC);
    if (HasBackend()) GetBackend().MainWindow().Refresh();
    return;
  }
  ShowContiProgress(10, 50, ProgressKind::Detail,
                Format("calculating normal equations (%2.0f percent done - hit any key to "
                       "interrupt...)",
                       100.0 * static_cast<double>(fraction)));
}

}  // namespace tarmic
