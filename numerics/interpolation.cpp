// Resampling of curves between grids and Neville's polynomial interpolation.
#include "numerics/interpolation.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>

#include "numerics/one_based.h"

namespace tarmic {

namespace {

using Real = long double;

// Value at x of the straight line through input points k and k+1. An interval of
// zero width (repeated abscissae) gives the value at its right end.
template <typename XI, typename YI>
Real LineThrough(const XI* u, const YI* v, int k, Real x) {
  const Real width = static_cast<Real>(u[k + 1]) - static_cast<Real>(u[k]);
  if (width == 0) return static_cast<Real>(v[k + 1]);
  return static_cast<Real>(v[k]) +
         (x - static_cast<Real>(u[k])) * (static_cast<Real>(v[k + 1]) - static_cast<Real>(v[k])) /
             width;
}

// Mean of v[first..first+9] (their sum times 0.1).
template <typename YI>
Real MeanOfTen(const YI* v, int first) {
  Real sum = 0;
  for (int k = first; k < first + 10; ++k) sum += static_cast<Real>(v[k]);
  return sum * static_cast<Real>(0.1);
}

// The whole resampling family: output (x, y) from input (u, v), storing or adding.
//   Leading points below u[1]: linear extrapolation from the first interval when the
//   output starts at most one interval width below u[1], else one constant (mean of
//   the first ten values, or v[1] with ten points or fewer).
//   Interior points: the line through u[j-1], u[j] with j the first index with
//   u[j] > x, capped at m (so x = u[k] gives v[k] and u[m] uses the last interval).
//   Trailing points above u[m]: the same rule as the leading points, mirrored.
template <typename XO, typename YO, typename XI, typename YI>
bool Resample(int n, const XO* x, YO* y, int m, const XI* u, const YI* v, bool add) {
  if (n < 5 || m < 5) return false;
  if (!(x[n] >= u[1]) || !(u[m] >= x[1]) || !(x[5] <= u[m - 4])) return false;

  auto put = [&](int i, Real value) {
    if (add) {
      y[i] = static_cast<YO>(static_cast<Real>(y[i]) + value);
    } else {
      y[i] = static_cast<YO>(value);
    }
  };

  const Real u1 = static_cast<Real>(u[1]);
  const Real um = static_cast<Real>(u[m]);
  int i = 1;

  // Leading points, decided once on x[1].
  if (static_cast<Real>(x[1]) < u1) {
    if (static_cast<Real>(x[1]) >= 2 * u1 - static_cast<Real>(u[2])) {
      for (; i <= n && static_cast<Real>(x[i]) < u1; ++i) put(i, LineThrough(u, v, 1, x[i]));
    } else {
      const Real c = m >= 11 ? MeanOfTen(v, 1) : static_cast<Real>(v[1]);
      for (; i <= n && static_cast<Real>(x[i]) < u1; ++i) put(i, c);
    }
  } else if (static_cast<Real>(x[1]) == u1) {
    put(1, static_cast<Real>(v[1]));
    i = 2;
  }

  // Interior points, one forward pass over both grids.
  int j = 2;
  for (; i <= n && static_cast<Real>(x[i]) <= um; ++i) {
    while (j < m && u[j] <= x[i]) ++j;
    put(i, LineThrough(u, v, j - 1, x[i]));
  }

  // Trailing points, decided once on x[n].
  if (i <= n) {
    if (static_cast<Real>(x[n]) <= 2 * um - static_cast<Real>(u[m - 1])) {
      for (; i <= n; ++i) put(i, LineThrough(u, v, m - 1, x[i]));
    } else {
      const Real c = m >= 11 ? MeanOfTen(v, m - 9) : static_cast<Real>(v[m]);
      for (; i <= n; ++i) put(i, c);
    }
  }
  return true;
}

}  // namespace

bool InterpolateCurve(int nOut, const float* xOut, float* yOut, int nIn, const float* xIn,
                      const float* yIn) {
  return Resample(nOut, xOut, yOut, nIn, xIn, yIn, false);
}

bool InterpolateCurveFromDouble(int nOut, const float* xOut, float* yOut, int nIn,
                                const double* xIn, const double* yIn) {
  return Resample(nOut, xOut, yOut, nIn, xIn, yIn, false);
}

bool AddInterpolatedCurveFromDouble(int nOut, const float* xOut, float* yOut, int nIn,
                                    const double* xIn, const double* yIn) {
  return Resample(nOut, xOut, yOut, nIn, xIn, yIn, true);
}

bool ResamplingPlan::IsFor(int n, const float* x, int m, const double* u) const {
  if (n < 1 || m < 1 || static_cast<int>(x_.size()) != n + 1 || static_cast<int>(u_.size()) != m + 1)
    return false;
  // Byte for byte (a fast compare; a zero of the other sign only plans again).
  return std::memcmp(x + 1, x_.data() + 1, sizeof(float) * static_cast<std::size_t>(n)) == 0 &&
         std::memcmp(u + 1, u_.data() + 1, sizeof(double) * static_cast<std::size_t>(m)) == 0;
}

bool ResamplingPlan::IsForFixedOutput(int n, const float* x, int m, const double* u) const {
  if (x == nullptr || x != xAt_ || n < 1 || m < 1 || static_cast<int>(x_.size()) != n + 1 ||
      static_cast<int>(u_.size()) != m + 1)
    return false;
  return std::memcmp(u + 1, u_.data() + 1, sizeof(double) * static_cast<std::size_t>(m)) == 0;
}

bool ResamplingPlan::Plan(int n, const float* x, int m, const double* u) {
  planned_ = false;
  xAt_ = x;
  x_.assign(1, 0.0f);
  u_.assign(1, 0.0);
  if (n >= 1) x_.insert(x_.end(), x + 1, x + n + 1);
  if (m >= 1) u_.insert(u_.end(), u + 1, u + m + 1);
  if (n < 5 || m < 5) return false;
  if (!(x[n] >= u[1]) || !(u[m] >= x[1]) || !(x[5] <= u[m - 4])) return false;
  k_.assign(static_cast<std::size_t>(n) + 1, 1);
  w_.assign(k_.size(), 0.0);
  // The line through input points k and k + 1 at xi; an interval of zero width
  // gives the value at its right end.
  auto line = [&](int i, int k) {
    k_[i] = k;
    const double width = u[k + 1] - u[k];
    w_[i] = width == 0 ? 1.0 : (static_cast<double>(x[i]) - u[k]) / width;
  };
  const double u1 = u[1], um = u[m];
  int i = 1;
  leadEnd_ = 1;
  leadConst_ = m >= 11 ? EndValue::Mean10First : EndValue::First;
  if (x[1] < u1) {
    if (x[1] >= 2 * u1 - u[2]) {
      for (; i <= n && x[i] < u1; ++i) line(i, 1);
    } else {
      for (; i <= n && x[i] < u1; ++i) {}
      leadEnd_ = i;
    }
  } else if (x[1] == u1) {
    // Exactly the first value.
    k_[1] = 1;
    w_[1] = 0.0;
    i = 2;
  }
  int j = 2;
  for (; i <= n && x[i] <= um; ++i) {
    while (j < m && u[j] <= x[i]) ++j;
    line(i, j - 1);
  }
  trailFrom_ = n + 1;
  trailConst_ = m >= 11 ? EndValue::Mean10Last : EndValue::Last;
  if (i <= n) {
    if (x[n] <= 2 * um - u[m - 1]) {
      for (; i <= n; ++i) line(i, m - 1);
    } else {
      trailFrom_ = i;
    }
  }
  planned_ = true;
  return true;
}

namespace {

// y[i] = (1 - w[i]) v[k[i]] + w[i] v[k[i] + 1] for i in [from, to), rounded to float.
// This file is compiled without contraction of multiplications and additions into
// fused multiply-adds (CMakeLists.txt), so that the plain and the vector form round
// alike.
void PlannedLinesPlain(const int* k, const double* w, const double* v, int from, int to, float* y) {
  for (int i = from; i < to; ++i) {
    const double b = w[i], a = 1.0 - b;
    y[i] = static_cast<float>(a * v[k[i]] + b * v[k[i] + 1]);
  }
}

// The same four outputs at a time. The outputs are sorted, so that four of them lie
// on a few intervals: v[k0..k0+7] (k0 the first position of the four) are loaded into
// two registers, masked beyond v[m], and each lane takes its v[k] and v[k + 1] by a
// permutation instead of a gather. Four whose positions span more than those eight
// values (or are not ascending) take the plain form. Registers of 256 bits: the
// solver around these lines is scalar code, and 512-bit instructions between its
// steps slowed the solution down by more than they saved.
[[gnu::target("avx512f,avx512vl")]] void PlannedLinesAvx512(const int* k, const double* w,
                                                            const double* v, int m, int from,
                                                            int to, float* y) {
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256i next = _mm256_set1_epi64x(1);
  const __m128i below = _mm_set1_epi32(-1), above = _mm_set1_epi32(6);
  int i = from;
  for (; i + 4 <= to; i += 4) {
    const int k0 = k[i];
    const __m128i offset = _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(k + i)),
                                         _mm_set1_epi32(k0));
    const __m128i outside =
        _mm_or_si128(_mm_cmpgt_epi32(offset, above), _mm_cmpgt_epi32(below, offset));
    if (!_mm_testz_si128(outside, outside)) {
      PlannedLinesPlain(k, w, v, i, i + 4, y);
      continue;
    }
    const int avail = m - k0 + 1;  // v[k0..m] may be read
    __m256d low, high;
    if (avail >= 8) {
      low = _mm256_loadu_pd(v + k0);
      high = _mm256_loadu_pd(v + k0 + 4);
    } else {
      const auto lowMask = static_cast<__mmask8>(avail >= 4 ? 0xF : (1u << avail) - 1);
      const auto highMask = static_cast<__mmask8>(avail <= 4 ? 0 : (1u << (avail - 4)) - 1);
      low = _mm256_maskz_loadu_pd(lowMask, v + k0);
      high = _mm256_maskz_loadu_pd(highMask, v + k0 + 4);
    }
    const __m256i left = _mm256_cvtepi32_epi64(offset);
    const __m256d vk = _mm256_permutex2var_pd(low, left, high);
    const __m256d vk1 = _mm256_permutex2var_pd(low, _mm256_add_epi64(left, next), high);
    const __m256d b = _mm256_loadu_pd(w + i);
    const __m256d a = _mm256_sub_pd(one, b);
    const __m256d r = _mm256_add_pd(_mm256_mul_pd(a, vk), _mm256_mul_pd(b, vk1));
    _mm_storeu_ps(y + i, _mm256_cvtpd_ps(r));
  }
  PlannedLinesPlain(k, w, v, i, to, y);
}

// The same four outputs at a time on processors with AVX2 but not AVX-512: each
// lane gathers its v[k] and v[k + 1] (k <= m - 1 for every planned line, so both
// lie within v[1..m]).
[[gnu::target("avx2"), gnu::always_inline]] inline void FourPlannedLinesAvx2(
    const int* k, const double* w, const double* v, int i, float* y, __m256d one, __m256d zero,
    __m256d all) {
  const __m128i at = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k + i));
  const __m256d vk = _mm256_mask_i32gather_pd(zero, v, at, all, 8);
  const __m256d vk1 = _mm256_mask_i32gather_pd(zero, v + 1, at, all, 8);
  const __m256d b = _mm256_loadu_pd(w + i);
  const __m256d a = _mm256_sub_pd(one, b);
  const __m256d r = _mm256_add_pd(_mm256_mul_pd(a, vk), _mm256_mul_pd(b, vk1));
  _mm_storeu_ps(y + i, _mm256_cvtpd_ps(r));
}
[[gnu::target("avx2")]] void PlannedLinesAvx2(const int* k, const double* w, const double* v,
                                             int from, int to, float* y) {
  const __m256d one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd();
  const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
  int i = from;
  for (; i + 8 <= to; i += 8) {
    FourPlannedLinesAvx2(k, w, v, i, y, one, zero, all);
    FourPlannedLinesAvx2(k, w, v, i + 4, y, one, zero, all);
  }
  for (; i + 4 <= to; i += 4) FourPlannedLinesAvx2(k, w, v, i, y, one, zero, all);
  PlannedLinesPlain(k, w, v, i, to, y);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

bool HasAvx512() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  return has;
}

}  // namespace

bool ResamplingPlan::ApplyEnds(const double* v, float* y) const {
  if (!planned_) return false;
  const int n = static_cast<int>(x_.size()) - 1, m = static_cast<int>(u_.size()) - 1;
  auto endValue = [&](EndValue e) {
    double sum = 0.0;
    switch (e) {
      case EndValue::First: return v[1];
      case EndValue::Last: return v[m];
      case EndValue::Mean10First:
        for (int k = 1; k <= 10; ++k) sum += v[k];
        return sum * 0.1;
      case EndValue::Mean10Last:
        for (int k = m - 9; k <= m; ++k) sum += v[k];
        return sum * 0.1;
    }
    return sum;
  };
  if (leadEnd_ > 1) {
    const auto c = static_cast<float>(endValue(leadConst_));
    for (int i = 1; i < leadEnd_; ++i) y[i] = c;
  }
  if (trailFrom_ <= n) {
    const auto c = static_cast<float>(endValue(trailConst_));
    for (int i = trailFrom_; i <= n; ++i) y[i] = c;
  }
  return true;
}

bool ResamplingPlan::Apply(const double* v, float* y) const {
  if (HasAvx512()) return ApplyInLanes(ResamplingLanes::Avx512, v, y);
  if (HasAvx2()) return ApplyInLanes(ResamplingLanes::Avx2, v, y);
  return ApplyPlain(v, y);
}

bool ResamplingPlan::ApplyInLanes(ResamplingLanes lanes, const double* v, float* y) const {
  if ((lanes == ResamplingLanes::Avx512 && !HasAvx512()) ||
      (lanes == ResamplingLanes::Avx2 && !HasAvx2()) || !ApplyEnds(v, y))
    return false;
  const int m = static_cast<int>(u_.size()) - 1;
  switch (lanes) {
    case ResamplingLanes::Avx512:
      PlannedLinesAvx512(k_.data(), w_.data(), v, m, leadEnd_, trailFrom_, y);
      break;
    case ResamplingLanes::Avx2:
      PlannedLinesAvx2(k_.data(), w_.data(), v, leadEnd_, trailFrom_, y);
      break;
    case ResamplingLanes::Plain:
      PlannedLinesPlain(k_.data(), w_.data(), v, leadEnd_, trailFrom_, y);
      break;
  }
  return true;
}

bool ResamplingPlan::ApplyPlain(const double* v, float* y) const {
  if (!ApplyEnds(v, y)) return false;
  PlannedLinesPlain(k_.data(), w_.data(), v, leadEnd_, trailFrom_, y);
  return true;
}

bool InterpolateCurveToDouble(int nOut, const double* xOut, double* yOut, int nIn,
                              const float* xIn, const float* yIn) {
  return Resample(nOut, xOut, yOut, nIn, xIn, yIn, false);
}

bool InterpolateCurveDouble(int nOut, const double* xOut, double* yOut, int nIn,
                            const double* xIn, const double* yIn) {
  return Resample(nOut, xOut, yOut, nIn, xIn, yIn, false);
}

bool InterpolateCurveDoubleInside(int nOut, const double* xOut, double* yOut, int nIn,
                                  const double* xIn, const double* yIn) {
  if (nOut < 1 || nIn < 1) return false;
  if (xOut[nOut] < xIn[1] || xIn[nIn] < xOut[1]) return false;

  int i = 1;
  while (i <= nOut && xOut[i] < xIn[1]) ++i;
  if (nIn == 1) {
    // A single input point is no interval: only output points on it are set.
    for (; i <= nOut && xOut[i] <= xIn[1]; ++i) yOut[i] = yIn[1];
    return true;
  }
  int j = 2;
  for (; i <= nOut && xOut[i] <= xIn[nIn]; ++i) {
    while (j < nIn && xIn[j] <= xOut[i]) ++j;
    yOut[i] = static_cast<double>(LineThrough(xIn, yIn, j - 1, xOut[i]));
  }
  return true;
}

// Neville's algorithm: c and d hold the differences between successive columns of
// the tableau (upward and downward corrections). Starting from the tabulated point
// nearest x, each column adds the correction that keeps the path centred on x.
void polint(const float* xa, const float* ya, int n, float x, float* y, float* dy) {
  if (n < 1) nrerror("Error in routine polint");
  int ns = 1;
  float dif = std::fabs(x - xa[1]);
  float* c = vector(1, n);
  float* d = vector(1, n);
  for (int i = 1; i <= n; ++i) {
    const float dift = std::fabs(x - xa[i]);
    if (dift < dif) {
      ns = i;
      dif = dift;
    }
    c[i] = ya[i];
    d[i] = ya[i];
  }
  *y = ya[ns--];
  *dy = 0.0f;
  for (int m = 1; m < n; ++m) {
    for (int i = 1; i <= n - m; ++i) {
      const float ho = xa[i] - x;
      const float hp = xa[i + m] - x;
      const float w = c[i + 1] - d[i];
      float den = ho - hp;
      if (den == 0.0f) {
        free_vector(d, 1, n);
        free_vector(c, 1, n);
        nrerror("Error in routine polint");
      }
      den = w / den;
      d[i] = hp * den;
      c[i] = ho * den;
    }
    *dy = (2 * ns < (n - m)) ? c[ns + 1] : d[ns--];
    *y += *dy;
  }
  free_vector(d, 1, n);
  free_vector(c, 1, n);
}

}  // namespace tarmic
