#include "lamm/static_grid_core.h"

#include <algorithm>
#include <immintrin.h>

#include <cmath>
#include <limits>

#include "lamm/element_integrals.h"
#include "lamm/fe_assembly.h"

namespace tarmic {

void StaticGridRow(const double* r, int N, int i, int np, bool nonUniform, double h, double sw2,
                   double D, bool outflowBottom, double m[3], double a[3]) {
  if (nonUniform) {
    for (int k = 0; k < 3; ++k) {
      const int j = i - 1 + k;
      m[k] = static_cast<double>(IntegrateMassElement(r, N, i, j, np));
      a[k] = static_cast<double>(sw2 * IntegrateSedimentationElement(r, N, i, j, np) -
                                 D * IntegrateStiffnessElement(r, N, i, j, np));
    }
  } else {
    EquidistantLammRow(r[i], h, i, np, sw2, D, m, a);
  }
  if (i == 1) m[0] = a[0] = 0.0;
  if (i == np) m[2] = a[2] = 0.0;
  if (outflowBottom && i == np) {
    // Flux of the end node, r D dc/dr - sw2 r^2 c with dc/dr from the last element
    // (the boundary term of the weak form, the same as on the moving grid).
    const double g = r[np] - r[np - 1];
    a[0] -= D * r[np] / g;
    a[1] += D * r[np] / g - sw2 * r[np] * r[np];
  }
}

namespace {

// The scan of StaticGridRelativeChange node by node, from the last row down: it
// stops at the first value below -negLevel.
double RelativeChangeScan(const double* c, const double* old, int first, int last, double floor,
                          double negLevel, bool testNegative, bool* negative) {
  double e =
      (c[last] > floor && old[last] >= floor) ? std::fabs((c[last] - old[last]) / old[last]) : 0.0;
  for (int i = last - 1; i >= first; --i) {
    if (testNegative && c[i] < -negLevel) {
      *negative = true;
      return e;
    }
    const double diff = c[i] - old[i];
    double ref = old[i];
    if (ref <= floor) {
      // A nearly empty node: its change is measured against a filled neighbour.
      if (diff <= floor) continue;
      ref = old[i + 1];
      if (ref <= floor) {
        if (i < 2 || old[i - 1] <= floor) continue;
        ref = old[i - 1];
      }
    }
    e = std::max(e, std::fabs(diff / ref));
  }
  return e;
}

}  // namespace

double StaticGridRelativeChange(const double* c, const double* old, int first, int last,
                                double cmax, double negLevel, bool testNegative, bool* negative) {
  *negative = false;
  const double floor = 1e-4 * cmax;
  if (testNegative) {
    bool any = false;
    for (int i = first; i < last; ++i) any |= c[i] < -negLevel;
    // Rare: the node-by-node scan finds the first one from the end.
    if (any) return RelativeChangeScan(c, old, first, last, floor, negLevel, true, negative);
  }
  if (first >= last) return RelativeChangeScan(c, old, first, last, floor, negLevel, false, negative);
  double e =
      (c[last] > floor && old[last] >= floor) ? std::fabs((c[last] - old[last]) / old[last]) : 0.0;
  int i = first;
  if (first == 1) {
    // Row 1 has no left neighbour.
    const double diff = c[1] - old[1];
    const bool own = old[1] > floor;
    if (own || (diff > floor && old[2] > floor)) e = std::max(e, std::fabs(diff / (own ? old[1] : old[2])));
    i = 2;
  }
  // Every node's ratio |diff| / ref with selections instead of branches (0 for a
  // node that is skipped) and no division that a selection drops, so that the loop
  // runs without mispredicted branches or in vector lanes; the largest ratio does not
  // depend on the order.
  for (; i < last; ++i) {
    const double diff = c[i] - old[i];
    const double own = old[i], right = old[i + 1], left = old[i - 1];
    const bool measured = own > floor || (diff > floor && (right > floor || left > floor));
    const double ref = own > floor ? own : (right > floor ? right : left);
    const double ratio = (measured ? std::fabs(diff) : 0.0) / (measured ? ref : 1.0);
    e = ratio > e ? ratio : e;
  }
  return e;
}

ActiveWindowBounds ActiveWindowBoundsFor(int N) {
  return {static_cast<int>(std::floor(0.95 * N)), static_cast<int>(std::floor(0.1 * N))};
}

double StaticGridStepBound(double s, double D, double rpm) {
  const double bound = s == 0 ? 1000.0 : 0.5 * rpm * rpm * D / s;
  return std::clamp(bound, 10.0, 1000.0);
}

namespace {

// The loop of MeasureStaticGridStep over the rows from..last-1 with the floor guess
// F: selections instead of branches. Every operation is exactly rounded and the
// largest values do not depend on the order, so the vector form (AVX2, chosen at
// run time) and the plain one give the same bits.
struct WindowPass {
  int bad = 0, negative = 0;
  double max = 0.0, change = 0.0;
  double nearest = std::numeric_limits<double>::infinity();  // of |compared value - F|
};

constexpr double kFiniteBound = 1e100;  // one comparison: a NaN fails it, an infinity exceeds it

void MeasureWindowRowsPlain(const double* c, const double* old, int from, int last, double F,
                            double negLevel, WindowPass* out) {
  int bad = 0, negative = 0;
  double m = out->max, e = out->change, nearest = out->nearest;
  for (int i = from; i < last; ++i) {
    const double v = c[i];
    bad |= !(std::fabs(v) <= kFiniteBound);
    negative |= v < -negLevel;
    m = m < v ? v : m;
    const double diff = v - old[i];
    const double own = old[i], right = old[i + 1], left = old[i - 1];
    const double dOwn = std::fabs(own - F), dDiff = std::fabs(diff - F);
    nearest = dOwn < nearest ? dOwn : nearest;
    nearest = dDiff < nearest ? dDiff : nearest;
    const bool measured = own > F || (diff > F && (right > F || left > F));
    const double ref = own > F ? own : (right > F ? right : left);
    const double ratio = (measured ? std::fabs(diff) : 0.0) / (measured ? ref : 1.0);
    e = ratio > e ? ratio : e;
  }
  out->bad |= bad;
  out->negative |= negative;
  out->max = m;
  out->change = e;
  out->nearest = nearest;
}

[[gnu::target("avx2")]] void MeasureWindowRowsAvx2(const double* c, const double* old, int from,
                                                   int last, double F, double negLevel,
                                                   WindowPass* out) {
  const __m256d sign = _mm256_set1_pd(-0.0);
  const __m256d vF = _mm256_set1_pd(F), bound = _mm256_set1_pd(kFiniteBound);
  const __m256d neg = _mm256_set1_pd(-negLevel), one = _mm256_set1_pd(1.0);
  __m256d bad = _mm256_setzero_pd(), negative = _mm256_setzero_pd();
  __m256d m = _mm256_set1_pd(out->max), e = _mm256_set1_pd(out->change);
  __m256d nearest = _mm256_set1_pd(out->nearest);
  int i = from;
  for (; i + 3 < last; i += 4) {
    const __m256d v = _mm256_loadu_pd(c + i);
    const __m256d own = _mm256_loadu_pd(old + i);
    const __m256d right = _mm256_loadu_pd(old + i + 1);
    const __m256d left = _mm256_loadu_pd(old + i - 1);
    bad = _mm256_or_pd(bad, _mm256_cmp_pd(_mm256_andnot_pd(sign, v), bound, _CMP_NLE_UQ));
    negative = _mm256_or_pd(negative, _mm256_cmp_pd(v, neg, _CMP_LT_OQ));
    m = _mm256_max_pd(v, m);  // v > m ? v : m
    const __m256d diff = _mm256_sub_pd(v, own);
    nearest = _mm256_min_pd(_mm256_andnot_pd(sign, _mm256_sub_pd(own, vF)), nearest);
    nearest = _mm256_min_pd(_mm256_andnot_pd(sign, _mm256_sub_pd(diff, vF)), nearest);
    const __m256d ownAbove = _mm256_cmp_pd(own, vF, _CMP_GT_OQ);
    const __m256d rightAbove = _mm256_cmp_pd(right, vF, _CMP_GT_OQ);
    const __m256d leftAbove = _mm256_cmp_pd(left, vF, _CMP_GT_OQ);
    const __m256d diffAbove = _mm256_cmp_pd(diff, vF, _CMP_GT_OQ);
    const __m256d measured =
        _mm256_or_pd(ownAbove, _mm256_and_pd(diffAbove, _mm256_or_pd(rightAbove, leftAbove)));
    const __m256d ref = _mm256_blendv_pd(_mm256_blendv_pd(left, right, rightAbove), own, ownAbove);
    const __m256d num = _mm256_and_pd(measured, _mm256_andnot_pd(sign, diff));
    const __m256d den = _mm256_blendv_pd(one, ref, measured);
    e = _mm256_max_pd(_mm256_div_pd(num, den), e);  // ratio > e ? ratio : e
  }
  alignas(32) double lanes[4];
  double mm = out->max, ee = out->change, nn = out->nearest;
  _mm256_store_pd(lanes, m);
  for (double x : lanes) mm = mm < x ? x : mm;
  _mm256_store_pd(lanes, e);
  for (double x : lanes) ee = ee < x ? x : ee;
  _mm256_store_pd(lanes, nearest);
  for (double x : lanes) nn = x < nn ? x : nn;
  out->bad |= _mm256_movemask_pd(bad) != 0;
  out->negative |= _mm256_movemask_pd(negative) != 0;
  // Leave no dirty upper halves to the plain code that follows: with them every
  // later SSE instruction of the solver ran several times slower.
  _mm256_zeroupper();
  out->max = mm;
  out->change = ee;
  out->nearest = nn;
  MeasureWindowRowsPlain(c, old, i, last, F, negLevel, out);
}

void MeasureWindowRows(const double* c, const double* old, int from, int last, double F,
                       double negLevel, WindowPass* out) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2)
    MeasureWindowRowsAvx2(c, old, from, last, F, negLevel, out);
  else
    MeasureWindowRowsPlain(c, old, from, last, F, negLevel, out);
}

}  // namespace

StaticGridStepMeasure MeasureStaticGridStep(const double* c, const double* old, int first,
                                            int last, double cmaxAtLeast, double floorGuess,
                                            double negLevel, bool testNegative, double cmaxAtMost) {
  StaticGridStepMeasure r;
  const double bound = 1e100;
  auto remeasure = [&] {
    const double cmax = StepFloorScale(r.windowMax, cmaxAtLeast, cmaxAtMost);
    r.change = StaticGridRelativeChange(c, old, first, last, cmax, negLevel, testNegative, &r.negative);
    return r;
  };
  if (first >= last) {
    double m = 0.0;
    for (int i = first; i <= last; ++i) {
      r.finite &= std::fabs(c[i]) <= bound;
      m = m < c[i] ? c[i] : m;
    }
    r.windowMax = m;
    return remeasure();
  }
  const double F = floorGuess;
  WindowPass pass;
  pass.bad = !(std::fabs(c[first]) <= bound && std::fabs(c[last]) <= bound);
  pass.negative = c[first] < -negLevel;
  pass.max = c[first] > 0.0 ? c[first] : 0.0;
  pass.max = pass.max < c[last] ? c[last] : pass.max;
  const int from = first == 1 ? 2 : first;
  // The neighbours of the end rows of the loop are compared with the floor too.
  pass.nearest = std::min(std::fabs(old[from - 1] - F), std::fabs(old[last] - F));
  MeasureWindowRows(c, old, from, last, F, negLevel, &pass);
  r.finite = pass.bad == 0;
  r.windowMax = pass.max;
  if (!r.finite) return r;
  // The loop measured the same nodes as the real floor would when no compared value
  // lies between the two (with room for the rounding of the distances).
  const double floor = 1e-4 * StepFloorScale(pass.max, cmaxAtLeast, cmaxAtMost);
  const bool sameNodes = floor == F || 2 * std::fabs(floor - F) < pass.nearest;
  if ((testNegative && pass.negative) || !sameNodes) return remeasure();
  double e = pass.change;
  // The end rows, as StaticGridRelativeChange measures them.
  if (c[last] > floor && old[last] >= floor) e = std::max(e, std::fabs((c[last] - old[last]) / old[last]));
  if (first == 1) {
    const double diff = c[1] - old[1];
    const bool own = old[1] > floor;
    if (own || (diff > floor && old[2] > floor)) e = std::max(e, std::fabs(diff / (own ? old[1] : old[2])));
  }
  r.change = e;
  return r;
}

int AdvanceActiveStart(const double* c, int first, int last, double level, int maxFirst) {
  for (int i = first; i <= last - 10; ++i) {
    if ((c[i] + c[i + 1] + c[i + 2]) / 3 > level) break;
    first = i;
  }
  return std::min(first, maxFirst);
}

int GrownActiveEnd(const double* c, int last, int grow, int N, double plateauLevel) {
  for (int i = last; i >= std::max(3, last - grow); --i) {
    if ((c[i] + c[i - 1] + c[i - 2]) / 3 < plateauLevel) {
      const int edge = last + grow;
      return edge > N - 10 ? N : edge;
    }
  }
  return last;
}

bool SmoothActiveStartEdge(double* c, int L, double level) {
  const double m = (c[L - 1] + c[L] + c[L + 1] + c[L + 2] + c[L + 3]) * 0.2;
  if (m >= 10 * level) return false;
  if ((c[L] - m) * (c[L - 1] - m) < 0 && (c[L + 1] - m) * (c[L] - m) != 0) {
    // 5 + 10 + 20 + 40 + 60 = 135 = 5 x 27: the ramp keeps the sum 5 m.
    c[L - 1] = 5 * m / 27;
    c[L] = 10 * m / 27;
    c[L + 1] = 20 * m / 27;
    c[L + 2] = 40 * m / 27;
    c[L + 3] = 60 * m / 27;
  }
  return true;
}

void SpreadBandUndershoot(double* c, const double* r, int N) {
  for (int i = 2; i < N; ++i) {
    if (c[i] < 1e-10) {
      c[i - 1] += 0.5 * c[i] * r[i] / r[i - 1];
      c[i + 1] += 0.5 * c[i] * r[i] / r[i + 1];
      c[i] = 0.0;
    }
  }
}

double StaticGridNodeWeight(const double* r, int N, int i, bool nonUniform, double h) {
  if (nonUniform) return static_cast<double>(IntegrateNodeWeight(r, N, i, N));
  if (i == 1) return (3 * r[1] + h) * h / 6;
  if (i == N) return (3 * r[N] - h) * h / 6;
  return r[i] * h;
}

double StaticGridWeightedSum(const double* r, const double* c, int N, bool nonUniform, double h) {
  double sum = 0.0;
  for (int i = 1; i <= N; ++i) sum += StaticGridNodeWeight(r, N, i, nonUniform, h) * c[i];
  return sum;
}

void ReflectMeniscusUndershoot(double* c, const double* r, int N, bool nonUniform, double h) {
  const double w1 = StaticGridNodeWeight(r, N, 1, nonUniform, h);
  const double w2 = StaticGridNodeWeight(r, N, 2, nonUniform, h);
  // W1 c1 + W2 c2 is kept: c1 -> -c1 adds -2 W1 c1, node 2 gives it up.
  const double d = -c[1] * w1 / w2;
  c[1] = -c[1];
  c[2] -= 2 * d;
}

}  // namespace tarmic
