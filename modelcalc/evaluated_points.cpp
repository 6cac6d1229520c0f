#include "modelcalc/evaluated_points.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>


namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The most points the surface is fitted to (the lowest in the window).
constexpr int kSurfacePointLimit = 400;

// Least squares of a (m rows, `terms` columns, the values in column `terms`) by
// Householder reflections; the coefficients into c. False when a column is
// (nearly) dependent on those before it: the points do not determine them.
bool LeastSquares(std::vector<std::vector<double>>& a, int m, int terms, std::vector<double>& c,
                  double* rss = nullptr) {
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
  // The rows below `terms` hold the residuals, rotated.
  if (rss) {
    *rss = 0.0;
    for (int r = terms; r < m; ++r) *rss += a[Idx(r)][Idx(terms)] * a[Idx(r)][Idx(terms)];
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

// The quadratic of n entries fitted to the rows of a (1, u_i, u_i u_j, value): its
// gradient g and curvature h at u = 0, the offset o of its minimum and the sum of
// squares of its residuals. False unless the rows determine it and its curvature
// is positive.
bool SurfaceMinimum(std::vector<std::vector<double>> rows, int n, std::vector<double>& g,
                    std::vector<std::vector<double>>& h, std::vector<double>& o, double& rss) {
  const int terms = (n + 1) * (n + 2) / 2;
  std::vector<double> coef;
  if (static_cast<int>(rows.size()) <= terms ||
      !LeastSquares(rows, static_cast<int>(rows.size()), terms, coef, &rss))
    return false;
  g.assign(Idx(n), 0.0);
  h.assign(Idx(n), std::vector<double>(Idx(n), 0.0));
  int c = 1 + n;
  for (int i = 0; i < n; ++i) {
    g[Idx(i)] = coef[Idx(1 + i)];
    for (int j = i; j < n; ++j, ++c) {
      h[Idx(i)][Idx(j)] += coef[Idx(c)];
      h[Idx(j)][Idx(i)] += coef[Idx(c)];
    }
  }
  return NewtonStep(h, g, o);
}

// Half the quadratic form d' h d.
double Height(const std::vector<double>& d, const std::vector<std::vector<double>>& h) {
  double height = 0.0;
  for (std::size_t i = 0; i < d.size(); ++i)
    for (std::size_t j = 0; j < d.size(); ++j) height += 0.5 * d[i] * h[i][j] * d[j];
  return height;
}

// How well rows a (those of SurfaceMinimum) place the minimum o of their surface of
// curvature h: the expected height 1/2 d' h d of the error d of o. The quadratic is
// fitted again about o, where its gradient is zero; the covariance G of that
// gradient (the residuals' variance times the inverse normal matrix) carries to o
// as h^-1 G h^-1, so the expected height is tr(h^-1 G) / 2. Infinity when the rows
// leave no residual to measure the scatter by.
double MinimumSpread(const std::vector<std::vector<double>>& a, int n, const std::vector<double>& o,
                     const std::vector<std::vector<double>>& h) {
  const int terms = (n + 1) * (n + 2) / 2, m = static_cast<int>(a.size());
  constexpr double kNone = std::numeric_limits<double>::infinity();
  if (m <= terms) return kNone;
  std::vector<std::vector<double>> c(Idx(m), std::vector<double>(Idx(terms) + 1, 0.0));
  std::vector<double> u(Idx(n));
  for (int r = 0; r < m; ++r) {
    const double w = a[Idx(r)][0];  // the row's weight (its first column is w times 1)
    if (!(w > 0.0)) return kNone;
    for (int i = 0; i < n; ++i) u[Idx(i)] = a[Idx(r)][Idx(1 + i)] / w - o[Idx(i)];
    std::vector<double>& row = c[Idx(r)];
    int k = 0;
    row[Idx(k++)] = w;
    for (int i = 0; i < n; ++i) row[Idx(k++)] = w * u[Idx(i)];
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j) row[Idx(k++)] = w * u[Idx(i)] * u[Idx(j)];
    row[Idx(terms)] = a[Idx(r)][Idx(terms)];
  }
  std::vector<double> coef;
  double rss = 0.0;
  if (!LeastSquares(c, m, terms, coef, &rss)) return kNone;
  // After the reflections the upper triangle holds R: the coefficients' covariance
  // is s^2 R^-1 R^-T, s^2 the residuals' variance.
  const double s2 = rss / (m - terms);
  // Rows 1..n of R^-1 (the gradient's coefficients), by back substitution.
  std::vector<std::vector<double>> inv(Idx(terms), std::vector<double>(Idx(terms), 0.0));
  for (int col = 0; col < terms; ++col)
    for (int k = col; k >= 0; --k) {
      double x = k == col ? 1.0 : 0.0;
      for (int j = k + 1; j <= col; ++j) x -= c[Idx(k)][Idx(j)] * inv[Idx(j)][Idx(col)];
      inv[Idx(k)][Idx(col)] = x / c[Idx(k)][Idx(k)];
    }
  double spread = 0.0;
  std::vector<double> column(Idx(n)), x;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      double g = 0.0;
      for (int k = 0; k < terms; ++k) g += inv[Idx(1 + i)][Idx(k)] * inv[Idx(1 + j)][Idx(k)];
      column[Idx(i)] = -s2 * g;  // NewtonStep solves h x = -column
    }
    if (!NewtonStep(h, column, x)) return kNone;
    spread += 0.5 * x[Idx(j)];
  }
  return spread;
}

}  // namespace

void EvaluatedPoints::Add(const float* p, int n, float y) {
  if (!std::isfinite(y) || !(y < kNoModelRmsd) || n < 1) return;
  if (y_.empty()) n_ = n;
  if (n != n_) return;
  p_.insert(p_.end(), p + 1, p + n + 1);
  y_.push_back(y);
}

void EvaluatedPoints::Point(int k, float* p) const {
  std::copy_n(p_.begin() + static_cast<std::ptrdiff_t>(Idx(k) * Idx(n_)), n_, p + 1);
}

float EvaluatedPoints::LowestValue() const {
  return y_.empty() ? std::numeric_limits<float>::infinity() : *std::min_element(y_.begin(), y_.end());
}

void EvaluatedPoints::Clear() {
  p_.clear();
  y_.clear();
}

EvaluatedPoints::Quadratic EvaluatedPoints::FitQuadratic(long long points, int atLeast) const {
  Quadratic fit;
  const int n = n_, count = Count();
  if (points <= 0 || n < 1 || count == 0) return fit;
  const int terms = (n + 1) * (n + 2) / 2;
  std::vector<int> order(Idx(count));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [this](int a, int b) { return y_[Idx(a)] < y_[Idx(b)]; });
  const double lowest = y_[Idx(order[0])];
  if (!(lowest > 0.0)) return fit;
  // Chi-square units: chi2 / chi2_lowest = (y / y_lowest)^2, chi2_lowest ~ points.
  auto height = [&](int r) {
    const double ratio = y_[Idx(order[Idx(r)])] / lowest;
    return static_cast<double>(points) * (ratio * ratio - 1.0);
  };
  int m = 0;
  while (m < count && m < kSurfacePointLimit && height(m) <= kSurfaceWindow) ++m;
  fit.inWindow = m;
  while (fit.nearMinimum < m && height(fit.nearMinimum) <= kSurfaceNear) ++fit.nearMinimum;
  m = std::max(m, std::min(count, atLeast));
  if (m <= terms) return fit;
  // Entries about the lowest point, each scaled by its largest offset in the window.
  const float* centre = &p_[Idx(order[0]) * Idx(n)];
  auto entry = [&](int r, int i) {
    return static_cast<double>(p_[Idx(order[Idx(r)]) * Idx(n) + Idx(i)]) - centre[i];
  };
  std::vector<double> scale(Idx(n), 0.0);
  for (int r = 0; r < m; ++r)
    for (int i = 0; i < n; ++i) scale[Idx(i)] = std::max(scale[Idx(i)], std::fabs(entry(r, i)));
  for (double s : scale)
    if (!(s > 0.0)) return fit;
  std::vector<std::vector<double>> a(Idx(m), std::vector<double>(Idx(terms) + 1, 0.0));
  for (int r = 0; r < m; ++r) {
    std::vector<double>& row = a[Idx(r)];
    int c = 0;
    row[Idx(c++)] = 1.0;
    for (int i = 0; i < n; ++i) row[Idx(c++)] = entry(r, i) / scale[Idx(i)];
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j) row[Idx(c++)] = row[Idx(1 + i)] * row[Idx(1 + j)];
    row[Idx(terms)] = height(r);
    // The sum of squares departs from a quadratic the more the higher a point lies:
    // the points near the minimum place it, those above keep the fit determined.
    const double weight = 1.0 / (1.0 + height(r) / kSurfaceNear);
    for (double& x : row) x *= weight;
  }
  fit.centre.assign(centre, centre + n);
  fit.scale = scale;
  fit.fitted.assign(order.begin(), order.begin() + m);
  std::vector<double> g, unit(Idx(n), 0.0), column;
  double rss = 0.0;
  if (!SurfaceMinimum(a, n, g, fit.curvature, fit.step, rss)) return fit;
  // Each entry's standard error, in units of its scale: chi-square rises by 1 where
  // 1/2 u' H u = 1 along the entry with the others at their best.
  for (int i = 0; i < n; ++i) {
    unit.assign(Idx(n), 0.0);
    unit[Idx(i)] = -1.0;
    if (!NewtonStep(fit.curvature, unit, column)) return fit;
    fit.se.push_back(std::sqrt(2.0 * column[Idx(i)]));
  }
  // The design points must rise above the scatter of the values about the surface
  // to show its curvature, and stay close to the minimum where the objective may
  // be far from symmetric about it.
  const double scatter = std::sqrt(rss / (m - terms));
  fit.reach = std::clamp(std::sqrt(kDesignScatter * scatter), kDesignReach, kDesignReachMost);
  fit.rows = std::move(a);
  for (int i = 0; i < n; ++i) fit.gain -= 0.5 * g[Idx(i)] * fit.step[Idx(i)];
  fit.used = m;
  fit.positive = true;
  return fit;
}

SurfaceVerdict EvaluatedPoints::Surface(long long points) const {
  SurfaceVerdict verdict;
  const Quadratic fit = FitQuadratic(points, 0);
  const int terms = (n_ + 1) * (n_ + 2) / 2;
  if (!fit.positive || fit.inWindow < 2 * terms || fit.nearMinimum < terms) return verdict;
  for (double x : fit.step)
    if (!(std::fabs(x) <= 1.0)) return verdict;
  verdict.determined = true;
  verdict.gain = fit.gain;
  // The surface's height above its minimum at each point in the window.
  const int n = n_;
  verdict.nearest = fit.fitted[0];
  verdict.nearestGain = fit.gain;
  std::vector<double> d(Idx(n));
  for (int r = 1; r < fit.inWindow; ++r) {
    const int k = fit.fitted[Idx(r)];
    for (int i = 0; i < n; ++i)
      d[Idx(i)] = (p_[Idx(k) * Idx(n) + Idx(i)] - fit.centre[Idx(i)]) / fit.scale[Idx(i)] - fit.step[Idx(i)];
    const double height = Height(d, fit.curvature);
    if (height < verdict.nearestGain) {
      verdict.nearest = k;
      verdict.nearestGain = height;
    }
  }
  verdict.spread = MinimumSpread(fit.rows, n, fit.step, fit.curvature);
  verdict.bracketed = Unbracketed(fit) < 0;
  return verdict;
}

int EvaluatedPoints::Unbracketed(const Quadratic& fit) const {
  const int n = n_;
  std::vector<double> x(Idx(n));
  std::vector<bool> low(Idx(n), false), high(Idx(n), false);
  for (int r = 0; r < fit.inWindow; ++r) {
    // The point's offset from the minimum in each entry, in standard errors.
    const std::vector<double>& row = fit.rows[Idx(r)];
    bool inside = true;
    for (int i = 0; i < n; ++i) {
      x[Idx(i)] = (row[Idx(1 + i)] / row[0] - fit.step[Idx(i)]) / fit.se[Idx(i)];
      inside = inside && std::fabs(x[Idx(i)]) <= kBracketOuter * fit.reach;
    }
    if (!inside) continue;
    for (int i = 0; i < n; ++i) {
      if (x[Idx(i)] >= kBracketInner * fit.reach) high[Idx(i)] = true;
      if (x[Idx(i)] <= -kBracketInner * fit.reach) low[Idx(i)] = true;
    }
  }
  for (int i = 0; i < n; ++i) {
    if (!high[Idx(i)]) return 2 * i;
    if (!low[Idx(i)]) return 2 * i + 1;
  }
  return -1;
}

int EvaluatedPoints::MissingDesign(long long points) const {
  const Quadratic fit = FitQuadratic(points, 0);
  return fit.positive ? Unbracketed(fit) : -1;
}

bool EvaluatedPoints::ShowsCurvature(long long points) const {
  return FitQuadratic(points, 2 * (n_ + 1) * (n_ + 2) / 2).positive;
}

bool EvaluatedPoints::Design(long long points, int k, float* p) const {
  const int terms = (n_ + 1) * (n_ + 2) / 2, axis = k / 2;
  if (k < 0 || axis >= n_) return false;
  const Quadratic fit = FitQuadratic(points, 2 * terms);
  const bool sign = k % 2 == 0;
  if (!fit.positive) {
    // Points too close together to show the curvature through their scatter: out
    // from the lowest by kDesignOut times their extent.
    if (Count() < 2 * terms || fit.centre.empty()) return false;
    Point(fit.fitted[0], p);
    p[axis + 1] = static_cast<float>(fit.centre[Idx(axis)] + (sign ? 1.0 : -1.0) * kDesignOut * fit.scale[Idx(axis)]);
    return true;
  }
  std::vector<double> u = fit.step;
  u[Idx(axis)] += (sign ? 1.0 : -1.0) * fit.reach * fit.se[Idx(axis)];
  for (int i = 0; i < n_; ++i)
    p[i + 1] = static_cast<float>(fit.centre[Idx(i)] + u[Idx(i)] * fit.scale[Idx(i)]);
  return true;
}

bool EvaluatedPoints::Proposal(long long points, float* p) const {
  const int terms = (n_ + 1) * (n_ + 2) / 2;
  const Quadratic fit = FitQuadratic(points, 2 * terms);
  if (!fit.positive) return false;
  double reach = 0.0;
  for (double x : fit.step) reach = std::max(reach, std::fabs(x));
  // The lowest point is the surface's minimum already: nothing new to evaluate.
  if (!(reach > kProposalLeast)) return false;
  const double shrink = reach > kProposalReach ? kProposalReach / reach : 1.0;
  for (int i = 0; i < n_; ++i)
    p[i + 1] = static_cast<float>(fit.centre[Idx(i)] + shrink * fit.step[Idx(i)] * fit.scale[Idx(i)]);
  for (int k = 0; k < Count(); ++k)
    if (std::equal(p + 1, p + n_ + 1, p_.begin() + static_cast<std::ptrdiff_t>(Idx(k) * Idx(n_))))
      return false;
  return true;
}

}  // namespace tarmic
