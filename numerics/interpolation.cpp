// Resampling of curves between grids and Neville's polynomial interpolation.
#include "numerics/interpolation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

bool ResamplingPlan::Plan(int n, const float* x, int m, const double* u) {
  planned_ = false;
  x_.assign(1, 0.0f);
  u_.assign(1, 0.0);
  if (n >= 1) x_.insert(x_.end(), x + 1, x + n + 1);
  if (m >= 1) u_.insert(u_.end(), u + 1, u + m + 1);
  if (n < 5 || m < 5) return false;
  if (!(x[n] >= u[1]) || !(u[m] >= x[1]) || !(x[5] <= u[m - 4])) return false;
  k_.assign(static_cast<std::size_t>(n) + 1, 1);
  a_.assign(k_.size(), 1.0);
  b_.assign(k_.size(), 0.0);
  // The line through input points k and k + 1 at xi; an interval of zero width
  // gives the value at its right end.
  auto line = [&](int i, int k) {
    k_[i] = k;
    const double width = u[k + 1] - u[k];
    const double w = width == 0 ? 1.0 : (static_cast<double>(x[i]) - u[k]) / width;
    a_[i] = 1.0 - w;
    b_[i] = w;
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
    line(1, 1);
    a_[1] = 1.0;
    b_[1] = 0.0;
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

bool ResamplingPlan::Apply(const double* v, float* y) const {
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
  const int* k = k_.data();
  const double* a = a_.data();
  const double* b = b_.data();
  for (int i = leadEnd_; i < trailFrom_; ++i)
    y[i] = static_cast<float>(a[i] * v[k[i]] + b[i] * v[k[i] + 1]);
  if (trailFrom_ <= n) {
    const auto c = static_cast<float>(endValue(trailConst_));
    for (int i = trailFrom_; i <= n; ++i) y[i] = c;
  }
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
