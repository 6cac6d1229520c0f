#include "modelcalc/evaluated_points.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>

#include "modelcalc/fit_report.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The most points the surface is fitted to (the lowest in the window).
constexpr int kSurfacePointLimit = 400;

// Least squares of a (m rows, `terms` columns, the values in column `terms`) by
// Householder reflections; the coefficients into c. False when a column is
// (nearly) dependent on those before it: the points do not determine them.
bool LeastSquares(std::vector<std::vector<double>>& a, int m, int terms, std::vector<double>& c) {
  for (int k = 0; k < terms; ++k) {
    double below = 0.0, whole = 0.0;
    for (int r = 0; r < m; ++r) {
      const double v = a[Idx(r)][Idx(k)];
      whole += v * v;
      if (r >= k) below += v * v;
    }
    const double norm = std::sqrt(below);
    if (!(norm > 1e-9 * std::sqrt(whole))) return false;
    const double alpha = a[Idx(k)][Idx(k)] > 0.0 ? -norm : norm;
    std::vector<double> v(Idx(m), 0.0);
    for (int r = k; r < m; ++r) v[Idx(r)] = a[Idx(r)][Idx(k)];
    v[Idx(k)] -= alpha;
    double vv = 0.0;
    for (int r = k; r < m; ++r) vv += v[Idx(r)] * v[Idx(r)];
    for (int col = k; col <= terms; ++col) {
      double dot = 0.0;
      for (int r = k; r < m; ++r) dot += v[Idx(r)] * a[Idx(r)][Idx(col)];
      const double f = 2.0 * dot / vv;
      for (int r = k; r < m; ++r) a[Idx(r)][Idx(col)] -= f * v[Idx(r)];
    }
  }
  c.assign(Idx(terms), 0.0);
  for (int k = terms - 1; k >= 0; --k) {
    double s = a[Idx(k)][Idx(terms)];
    for (int j = k + 1; j < terms; ++j) s -= a[Idx(k)][Idx(j)] * c[Idx(j)];
    c[Idx(k)] = s / a[Idx(k)][Idx(k)];
  }
  return true;
}

// Solves H o = -g for the symmetric n x n H by Cholesky; false unless H is
// positive definite.
bool NewtonStep(std::vector<std::vector<double>> h, const std::vector<double>& g, std::vector<double>& o) {
  const int n = static_cast<int>(g.size());
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      double s = h[Idx(i)][Idx(j)];
      for (int k = 0; k < j; ++k) s -= h[Idx(i)][Idx(k)] * h[Idx(j)][Idx(k)];
      if (i == j) {
        if (!(s > 0.0)) return false;
        h[Idx(i)][Idx(i)] = std::sqrt(s);
      } else {
        h[Idx(i)][Idx(j)] = s / h[Idx(j)][Idx(j)];
      }
    }
  }
  o.assign(Idx(n), 0.0);
  for (int i = 0; i < n; ++i) {
    double s = -g[Idx(i)];
    for (int k = 0; k < i; ++k) s -= h[Idx(i)][Idx(k)] * o[Idx(k)];
    o[Idx(i)] = s / h[Idx(i)][Idx(i)];
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = o[Idx(i)];
    for (int k = i + 1; k < n; ++k) s -= h[Idx(k)][Idx(i)] * o[Idx(k)];
    o[Idx(i)] = s / h[Idx(i)][Idx(i)];
  }
  return true;
}

}  // namespace

void EvaluatedPoints::Add(const float* p, int n, float y) {
  if (!std::isfinite(y) || !(y < kNoModelRmsd) || n < 1) return;
  if (y_.empty()) n_ = n;
  if (n != n_) return;
  p_.insert(p_.end(), p + 1, p + n + 1);
  y_.push_back(y);
}

void EvaluatedPoints::Clear() {
  p_.clear();
  y_.clear();
}

SurfaceVerdict EvaluatedPoints::Surface(long long points) const {
  SurfaceVerdict verdict;
  const int n = n_, count = Count();
  if (points <= 0 || n < 1 || count == 0) return verdict;
  const int terms = (n + 1) * (n + 2) / 2;
  std::vector<int> order(Idx(count));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [this](int a, int b) { return y_[Idx(a)] < y_[Idx(b)]; });
  const double lowest = y_[Idx(order[0])];
  if (!(lowest > 0.0)) return verdict;
  // Chi-square units: chi2 / chi2_lowest = (y / y_lowest)^2, chi2_lowest ~ points.
  auto height = [&](int r) {
    const double ratio = y_[Idx(order[Idx(r)])] / lowest;
    return static_cast<double>(points) * (ratio * ratio - 1.0);
  };
  int m = 0;
  while (m < count && m < kSurfacePointLimit && height(m) <= kSurfaceWindow) ++m;
  if (m < 2 * terms) return verdict;
  // Entries about the lowest point, each scaled by its largest offset in the window.
  const float* centre = &p_[Idx(order[0]) * Idx(n)];
  auto entry = [&](int r, int i) {
    return static_cast<double>(p_[Idx(order[Idx(r)]) * Idx(n) + Idx(i)]) - centre[i];
  };
  std::vector<double> scale(Idx(n), 0.0);
  for (int r = 0; r < m; ++r)
    for (int i = 0; i < n; ++i) scale[Idx(i)] = std::max(scale[Idx(i)], std::fabs(entry(r, i)));
  for (double s : scale)
    if (!(s > 0.0)) return verdict;
  std::vector<std::vector<double>> a(Idx(m), std::vector<double>(Idx(terms) + 1, 0.0));
  for (int r = 0; r < m; ++r) {
    std::vector<double>& row = a[Idx(r)];
    int c = 0;
    row[Idx(c++)] = 1.0;
    for (int i = 0; i < n; ++i) row[Idx(c++)] = entry(r, i) / scale[Idx(i)];
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j) row[Idx(c++)] = row[Idx(1 + i)] * row[Idx(1 + j)];
    row[Idx(terms)] = height(r);
  }
  std::vector<double> coef;
  if (!LeastSquares(a, m, terms, coef)) return verdict;
  // Gradient and curvature at the lowest point (u = 0).
  std::vector<double> g(Idx(n));
  std::vector<std::vector<double>> h(Idx(n), std::vector<double>(Idx(n), 0.0));
  int c = 1 + n;
  for (int i = 0; i < n; ++i) {
    g[Idx(i)] = coef[Idx(1 + i)];
    for (int j = i; j < n; ++j, ++c) {
      h[Idx(i)][Idx(j)] += coef[Idx(c)];
      h[Idx(j)][Idx(i)] += coef[Idx(c)];
    }
  }
  std::vector<double> o;
  if (!NewtonStep(h, g, o)) return verdict;
  for (double x : o)
    if (!(std::fabs(x) <= 1.0)) return verdict;
  double gain = 0.0;
  for (int i = 0; i < n; ++i) gain -= 0.5 * g[Idx(i)] * o[Idx(i)];
  verdict.determined = true;
  verdict.gain = gain;
  return verdict;
}

}  // namespace tarmic
