// The model-based search of a few nonlinear values: a weighted least-squares
// quadratic through the evaluated points, trust-region steps on it, design points
// where none brackets its minimum.
#include "modelcalc/surface_search.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "modelcalc/evaluated_points.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// A point is weighted 1 / (1 + h / kNear) by its height h above the lowest while the
// steps approach the minimum, and 1 / ((1 + h / kNear) (1 + h / kFar)) once design
// points round it place it: the points of the first design, often hundreds of units
// up where the objective departs from a quadratic by tens of units, then keep only a
// share of the curvature.
constexpr double kNear = 10.0, kFar = 50.0;
// A step on the surface is taken while its minimum lies farther than this many
// standard errors (in some entry) from every evaluated point; nearer, design points
// round it place it, and a step to it would chase the scatter.
constexpr double kTrustBeyond = 3.0;
// The first trust region, in design steps, and the reach of the design points round
// the minimum in standard errors: a point two standard errors out rises about two
// units, above the objective's scatter (up to a unit on large sets).
constexpr double kFirstTrust = 2.0;
constexpr double kReach = 3.0;
// A point brackets a side of the minimum when it lies at least kSideInner reaches
// from it on that side and within kBoxOuter reaches in every entry.
constexpr double kSideInner = 0.5, kBoxOuter = 1.5;
// An evaluated point at least this many reaches out on one side of the star's centre
// (and within a reach in every entry) stands for the star's point on that side.
constexpr double kStandsInner = 2.0 / 3.0;

struct Point {
  std::vector<double> x;  // zero-based
  double y = 0.0;
};

// Least squares of rows a (m x q, row-major) against b by Householder reflections:
// the coefficients, false when the columns are dependent.
bool LeastSquares(std::vector<double> a, std::vector<double> b, int m, int q, std::vector<double>& x) {
  if (m < q) return false;
  for (int c = 0; c < q; ++c) {
    double norm = 0.0;
    for (int r = c; r < m; ++r) norm += a[Idx(r * q + c)] * a[Idx(r * q + c)];
    norm = std::sqrt(norm);
    if (!(norm > 1e-13)) return false;
    const double alpha = a[Idx(c * q + c)] > 0.0 ? -norm : norm;
    std::vector<double> v(Idx(m), 0.0);
    for (int r = c; r < m; ++r) v[Idx(r)] = a[Idx(r * q + c)];
    v[Idx(c)] -= alpha;
    double vv = 0.0;
    for (int r = c; r < m; ++r) vv += v[Idx(r)] * v[Idx(r)];
    if (!(vv > 0.0)) continue;
    for (int k = c; k < q; ++k) {
      double d = 0.0;
      for (int r = c; r < m; ++r) d += v[Idx(r)] * a[Idx(r * q + k)];
      d *= 2.0 / vv;
      for (int r = c; r < m; ++r) a[Idx(r * q + k)] -= d * v[Idx(r)];
    }
    double d = 0.0;
    for (int r = c; r < m; ++r) d += v[Idx(r)] * b[Idx(r)];
    d *= 2.0 / vv;
    for (int r = c; r < m; ++r) b[Idx(r)] -= d * v[Idx(r)];
  }
  // Relative to the largest diagonal, a tiny pivot is a dependent column.
  double largest = 0.0;
  for (int c = 0; c < q; ++c) largest = std::max(largest, std::abs(a[Idx(c * q + c)]));
  x.assign(Idx(q), 0.0);
  for (int r = q - 1; r >= 0; --r) {
    const double pivot = a[Idx(r * q + r)];
    if (!(std::abs(pivot) > 1e-10 * largest)) return false;
    double v = b[Idx(r)];
    for (int k = r + 1; k < q; ++k) v -= a[Idx(r * q + k)] * x[Idx(k)];
    x[Idx(r)] = v / pivot;
  }
  return true;
}

// Cholesky factor of the n x n matrix h (row-major) into l; false when h is not
// positive definite.
bool Cholesky(const std::vector<double>& h, int n, std::vector<double>& l) {
  l.assign(Idx(n * n), 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = h[Idx(i * n + j)];
      for (int k = 0; k < j; ++k) s -= l[Idx(i * n + k)] * l[Idx(j * n + k)];
      if (i == j) {
        if (!(s > 0.0)) return false;
        l[Idx(i * n + i)] = std::sqrt(s);
      } else {
        l[Idx(i * n + j)] = s / l[Idx(j * n + j)];
      }
    }
  return true;
}

// Solves l l' x = b.
std::vector<double> CholeskySolve(const std::vector<double>& l, int n, std::vector<double> b) {
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < i; ++k) b[Idx(i)] -= l[Idx(i * n + k)] * b[Idx(k)];
    b[Idx(i)] /= l[Idx(i * n + i)];
  }
  for (int i = n - 1; i >= 0; --i) {
    for (int k = i + 1; k < n; ++k) b[Idx(i)] -= l[Idx(k * n + i)] * b[Idx(k)];
    b[Idx(i)] /= l[Idx(i * n + i)];
  }
  return b;
}

// The quadratic c + g'v + v'Hv / 2 in v = (x - centre) / spread (spread: each entry's
// largest offset of the points from the centre, the lowest point), values in
// chi-square units above the lowest.
struct Surface {
  bool fitted = false;
  bool positive = false;
  int n = 0;
  std::vector<double> centre, spread;
  double c = 0.0;
  std::vector<double> g, h;  // h row-major
  std::vector<double> minimum;  // x of the minimum (when positive)
  std::vector<double> se;       // x units (when positive)
  double roughness = 0.0;       // rms of the weighted residuals; 0 without points to spare

  std::vector<double> ToV(const std::vector<double>& x) const {
    std::vector<double> v(Idx(n));
    for (int i = 0; i < n; ++i) v[Idx(i)] = (x[Idx(i)] - centre[Idx(i)]) / spread[Idx(i)];
    return v;
  }
  double Value(const std::vector<double>& x) const {
    const std::vector<double> v = ToV(x);
    double s = c;
    for (int i = 0; i < n; ++i) {
      s += g[Idx(i)] * v[Idx(i)];
      for (int j = 0; j < n; ++j) s += 0.5 * v[Idx(i)] * h[Idx(i * n + j)] * v[Idx(j)];
    }
    return s;
  }
};

Surface FitSurface(const std::vector<Point>& points, int n, long long fitPoints, double far) {
  Surface s;
  s.n = n;
  const int q = (n + 1) * (n + 2) / 2;
  const int m = static_cast<int>(points.size());
  if (m < q) return s;
  std::size_t lowest = 0;
  for (std::size_t k = 1; k < points.size(); ++k)
    if (points[k].y < points[lowest].y) lowest = k;
  const double unit = points[lowest].y * points[lowest].y;
  if (!(unit > 0.0)) return s;
  s.centre = points[lowest].x;
  s.spread.assign(Idx(n), 0.0);
  for (const Point& p : points)
    for (int i = 0; i < n; ++i)
      s.spread[Idx(i)] = std::max(s.spread[Idx(i)], std::abs(p.x[Idx(i)] - s.centre[Idx(i)]));
  for (double& e : s.spread)
    if (!(e > 0.0)) return s;
  std::vector<double> a, b;
  const double count = static_cast<double>(fitPoints);
  for (const Point& p : points) {
    const double z = count * (p.y * p.y / unit - 1.0);
    const double w = 1.0 / ((1.0 + z / kNear) * (1.0 + z / far));
    const std::vector<double> v = s.ToV(p.x);
    a.push_back(w);
    for (int i = 0; i < n; ++i) a.push_back(w * v[Idx(i)]);
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j) a.push_back(w * (i == j ? 0.5 * v[Idx(i)] * v[Idx(i)] : v[Idx(i)] * v[Idx(j)]));
    b.push_back(w * z);
  }
  std::vector<double> beta;
  if (!LeastSquares(a, b, m, q, beta)) return s;
  s.fitted = true;
  s.c = beta[0];
  s.g.assign(beta.begin() + 1, beta.begin() + 1 + n);
  s.h.assign(Idx(n * n), 0.0);
  int k = 1 + n;
  for (int i = 0; i < n; ++i)
    for (int j = i; j < n; ++j, ++k) s.h[Idx(i * n + j)] = s.h[Idx(j * n + i)] = beta[Idx(k)];
  if (m > q) {
    double ss = 0.0;
    for (int r = 0; r < m; ++r) {
      double v = 0.0;
      for (int c = 0; c < q; ++c) v += a[Idx(r * q + c)] * beta[Idx(c)];
      ss += (b[Idx(r)] - v) * (b[Idx(r)] - v);
    }
    s.roughness = std::sqrt(ss / (m - q));
  }
  std::vector<double> l;
  if (!Cholesky(s.h, n, l)) return s;
  s.positive = true;
  std::vector<double> minus(Idx(n));
  for (int i = 0; i < n; ++i) minus[Idx(i)] = -s.g[Idx(i)];
  const std::vector<double> vmin = CholeskySolve(l, n, minus);
  s.minimum.assign(Idx(n), 0.0);
  s.se.assign(Idx(n), 0.0);
  for (int i = 0; i < n; ++i) {
    s.minimum[Idx(i)] = s.centre[Idx(i)] + s.spread[Idx(i)] * vmin[Idx(i)];
    std::vector<double> e(Idx(n), 0.0);
    e[Idx(i)] = 1.0;
    // chi-square's curvature H is twice the inverse covariance.
    s.se[Idx(i)] = s.spread[Idx(i)] * std::sqrt(2.0 * CholeskySolve(l, n, e)[Idx(i)]);
  }
  return s;
}

// The lowest point of the surface within the trust region |(x - from) / scale| <= radius
// (Euclidean, in design steps): the Newton step where it lies inside and the
// curvature is positive, else the step of the regularised curvature H + lambda that
// reaches the region's edge.
std::vector<double> TrustStep(const Surface& s, const std::vector<double>& from, const std::vector<double>& scale,
                              double radius) {
  const int n = s.n;
  // tau = E t, t the step in v, E = spread / scale: gradient G = E^-1 (g + H v0),
  // curvature B = E^-1 H E^-1.
  const std::vector<double> v0 = s.ToV(from);
  std::vector<double> e(Idx(n)), grad(Idx(n)), curv(Idx(n * n));
  for (int i = 0; i < n; ++i) e[Idx(i)] = s.spread[Idx(i)] / scale[Idx(i)];
  for (int i = 0; i < n; ++i) {
    double gi = s.g[Idx(i)];
    for (int j = 0; j < n; ++j) gi += s.h[Idx(i * n + j)] * v0[Idx(j)];
    grad[Idx(i)] = -gi / e[Idx(i)];
    for (int j = 0; j < n; ++j) curv[Idx(i * n + j)] = s.h[Idx(i * n + j)] / (e[Idx(i)] * e[Idx(j)]);
  }
  const auto stepFor = [&](double lambda, std::vector<double>& tau) {
    std::vector<double> m = curv, l;
    for (int i = 0; i < n; ++i) m[Idx(i * n + i)] += lambda;
    if (!Cholesky(m, n, l)) return false;
    tau = CholeskySolve(l, n, grad);
    return true;
  };
  const auto norm = [](const std::vector<double>& v) {
    double t = 0.0;
    for (double x : v) t += x * x;
    return std::sqrt(t);
  };
  std::vector<double> tau;
  if (!(stepFor(0.0, tau) && norm(tau) <= radius)) {
    double frob = 0.0;
    for (double x : curv) frob += x * x;
    double lo = 0.0, hi = std::sqrt(frob) + norm(grad) / radius + 1e-300;
    std::vector<double> trial;
    for (int it = 0; it < 200; ++it) {
      const double mid = 0.5 * (lo + hi);
      if (stepFor(mid, trial) && norm(trial) <= radius) {
        hi = mid;
        tau = trial;
      } else {
        lo = mid;
      }
    }
    if (!stepFor(hi, tau)) tau.assign(Idx(n), 0.0);
  }
  std::vector<double> x(Idx(n));
  for (int i = 0; i < n; ++i) x[Idx(i)] = from[Idx(i)] + scale[Idx(i)] * tau[Idx(i)];
  return x;
}

class Search {
 public:
  Search(const std::function<float(const float*)>& f, const std::vector<FitBounds>& bounds, int n, int most,
         const std::function<bool()>& stop)
      : f_(f), bounds_(bounds), n_(n), most_(most), stop_(stop) {}

  std::vector<double> Held(std::vector<double> x) const {
    for (int i = 0; i < n_; ++i) x[Idx(i)] = bounds_[Idx(i + 1)].Clamp(static_cast<float>(x[Idx(i)]));
    return x;
  }
  // Evaluates x (held to the bounds); false when the search must end (interrupted,
  // or its evaluations spent). The value, or infinity without a result, in y.
  bool Evaluate(const std::vector<double>& x, double& y) {
    y = std::numeric_limits<double>::infinity();
    if (evaluations_ >= most_) return false;
    if (stop_ && stop_()) {
      interrupted_ = true;
      return false;
    }
    std::vector<float> p(Idx(n_) + 1, 0.0f);
    for (int i = 0; i < n_; ++i) p[Idx(i + 1)] = static_cast<float>(x[Idx(i)]);
    const float v = f_(p.data());
    ++evaluations_;
    if (stop_ && stop_()) interrupted_ = true;
    if (std::isfinite(v) && v < kNoModelRmsd && v > 0.0f) {
      y = v;
      points_list_.push_back({x, y});
    }
    return !interrupted_;
  }
  int Lowest() const {
    int best = -1;
    for (std::size_t k = 0; k < points_list_.size(); ++k)
      if (best < 0 || points_list_[k].y < points_list_[Idx(best)].y) best = static_cast<int>(k);
    return best;
  }
  // The evaluated point of the lowest surface value (the lowest value without one).
  int LowestOnSurface(const Surface& s) const {
    if (!s.fitted) return Lowest();
    int best = -1;
    double value = 0.0;
    for (std::size_t k = 0; k < points_list_.size(); ++k) {
      const double v = s.Value(points_list_[k].x);
      if (best < 0 || v < value) {
        best = static_cast<int>(k);
        value = v;
      }
    }
    return best;
  }
  bool Known(const std::vector<double>& x, const std::vector<double>& unit) const {
    for (const Point& p : points_list_) {
      bool same = true;
      for (int i = 0; i < n_; ++i) same = same && std::abs(p.x[Idx(i)] - x[Idx(i)]) <= 1e-3 * unit[Idx(i)];
      if (same) return true;
    }
    return false;
  }
  // Offsets of point k (of y) from x in units se.
  std::vector<double> Offsets(int k, const std::vector<double>& x, const std::vector<double>& se) const {
    return OffsetsOf(points_list_[Idx(k)].x, x, se);
  }
  std::vector<double> OffsetsOf(const std::vector<double>& y, const std::vector<double>& x,
                                const std::vector<double>& se) const {
    std::vector<double> o(Idx(n_));
    for (int i = 0; i < n_; ++i) o[Idx(i)] = (y[Idx(i)] - x[Idx(i)]) / se[Idx(i)];
    return o;
  }
  // Whether a point at offsets o (standard errors) from the minimum brackets side
  // `key` of it: entry key / 2 up (even key) or down (odd), at least kSideInner
  // reaches out that way and within kBoxOuter reaches in every entry.
  bool Covers(const std::vector<double>& o, int key, double reach) const {
    for (double x : o)
      if (std::abs(x) > kBoxOuter * reach) return false;
    const double side = key % 2 == 0 ? 1.0 : -1.0;
    return side * o[Idx(key / 2)] >= kSideInner * reach;
  }
  // Whether a point at offsets o stands for the star's point `key` (reach out on one
  // side of one entry): at least kStandsInner reaches out that way, within a reach in
  // every entry.
  bool StandsFor(const std::vector<double>& o, int key, double reach) const {
    for (double x : o)
      if (std::abs(x) > reach) return false;
    const double side = key % 2 == 0 ? 1.0 : -1.0;
    return side * o[Idx(key / 2)] >= kStandsInner * reach;
  }
  std::pair<int, int> Pair(int k) const {
    for (int i = 0; i < n_; ++i)
      for (int j = i + 1; j < n_; ++j)
        if (k-- == 0) return {i, j};
    return {0, 0};
  }
  // Design point `key` round x: entry key / 2 up (even key) or down (odd) by reach
  // standard errors, and from key 2 n on each pair of entries up together.
  std::vector<double> DesignPoint(const std::vector<double>& x0, const std::vector<double>& se, int key,
                                  double reach) const {
    std::vector<double> x = x0;
    const int axes = 2 * n_;
    if (key < axes) {
      x[Idx(key / 2)] += (key % 2 == 0 ? 1.0 : -1.0) * reach * se[Idx(key / 2)];
    } else {
      const auto [i, j] = Pair(key - axes);
      x[Idx(i)] += reach * se[Idx(i)];
      x[Idx(j)] += reach * se[Idx(j)];
    }
    return x;
  }

  const std::vector<Point>& Points() const { return points_list_; }
  int Evaluations() const { return evaluations_; }
  bool Interrupted() const { return interrupted_; }
  bool Spent() const { return evaluations_ >= most_; }

 private:
  const std::function<float(const float*)>& f_;
  const std::vector<FitBounds>& bounds_;
  int n_;
  int most_;
  const std::function<bool()>& stop_;
  int evaluations_ = 0;
  bool interrupted_ = false;
  std::vector<Point> points_list_;
};

}  // namespace

SurfaceSearchEnd SurfaceSearch(const std::function<float(const float*)>& f, const std::vector<float>& start,
                               const std::vector<double>& scale, const std::vector<FitBounds>& bounds,
                               long long points, int most, const std::function<bool()>& stop) {
  const int n = static_cast<int>(start.size()) - 1;
  SurfaceSearchEnd end;
  end.point = start;
  if (n < 1 || n > kSurfaceSearchMostEntries) return end;
  Search search(f, bounds, n, most, stop);
  std::vector<double> step(Idx(n)), x0(Idx(n));
  for (int i = 0; i < n; ++i) {
    step[Idx(i)] = scale[Idx(i + 1)];
    x0[Idx(i)] = start[Idx(i + 1)];
  }
  x0 = search.Held(x0);
  // The design round the start; a step that a bound cuts to nothing goes the other way.
  std::vector<std::vector<double>> design{x0};
  const auto along = [&](std::vector<double> x, int i, double sign) {
    std::vector<double> y = x;
    y[Idx(i)] += sign * step[Idx(i)];
    y = search.Held(y);
    if (std::abs(y[Idx(i)] - x[Idx(i)]) < 0.5 * step[Idx(i)]) {
      y = x;
      y[Idx(i)] -= 2.0 * sign * step[Idx(i)];
      y = search.Held(y);
    }
    return y;
  };
  for (int i = 0; i < n; ++i) {
    design.push_back(along(x0, i, 1.0));
    design.push_back(along(x0, i, -1.0));
  }
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) design.push_back(along(along(x0, i, 1.0), j, 1.0));
  bool going = true;
  double y = 0.0;
  for (const auto& x : design)
    if (going) going = search.Evaluate(x, y);
  double trust = kFirstTrust;
  Surface surface;
  bool star = false;
  std::vector<double> starCentre, starSe, placedAt;
  while (going) {
    surface = FitSurface(search.Points(), n, points, kFar);
    const int lowest = search.Lowest();
    if (!surface.fitted || lowest < 0) break;
    const std::vector<double> from = search.Points()[Idx(lowest)].x;
    std::vector<double> next;
    // A step on the surface within the trust region (not a design point).
    bool trial = true;
    if (surface.positive || star) {
      const std::vector<double> m = surface.positive ? search.Held(surface.minimum) : starCentre;
      // The evaluated point nearest the minimum, in standard errors.
      double nearest = std::numeric_limits<double>::infinity();
      int nearestPoint = -1;
      for (int k = 0; k < static_cast<int>(search.Points().size()) && surface.positive; ++k) {
        double d = 0.0;
        for (double o : search.Offsets(k, m, surface.se)) d = std::max(d, std::abs(o));
        if (d < nearest) {
          nearest = d;
          nearestPoint = k;
        }
      }
      if (!star && nearest > kTrustBeyond) {
        next = search.Held(TrustStep(surface, from, step, trust));
      } else {
        trial = false;
        // The minimum lies among the points: a star of design points round it (round
        // the evaluated point within a standard error of it, else round it), with the
        // standard errors of the surface that placed it.
        if (!star) {
          star = true;
          starCentre = nearest <= 1.0 ? search.Points()[Idx(nearestPoint)].x : m;
          starSe = surface.se;
        }
        // The centre, then the sides: a side of the star an evaluated point already
        // stands for (a step or design point near the minimum) takes no point of
        // its own. (Leaving the centre out, for the end to be evaluated last in its
        // place, moved the end of set D's 250 scans 1.2 standard errors off.)
        const int keys = 1 + 2 * n + n * (n - 1) / 2;
        for (int key = 0; key < keys && next.empty(); ++key) {
          bool covered = false;
          for (int k = 0; k < static_cast<int>(search.Points().size()) && !covered && key >= 1 && key <= 2 * n; ++k)
            covered = search.StandsFor(search.Offsets(k, starCentre, starSe), key - 1, kReach);
          if (covered) continue;
          std::vector<double> x =
              search.Held(key == 0 ? starCentre : search.DesignPoint(starCentre, starSe, key - 1, kReach));
          if (!search.Known(x, starSe)) next = x;
        }
        if (next.empty()) {
          // The star is complete: its surface's minimum within the star is the end;
          // one beyond it gets a star of its own (once).
          double beyond = 0.0;
          for (int i = 0; i < n; ++i)
            beyond = std::max(beyond, std::abs(m[Idx(i)] - starCentre[Idx(i)]) / starSe[Idx(i)]);
          if (!surface.positive) break;
          if (beyond <= kReach) {
            end.placed = true;
            placedAt = m;
            break;
          }
          // Beyond the star: the minimum itself, where no point lies within a
          // standard error of it, and a point on each side of it in each entry where
          // none brackets it yet (within the box of kBoxOuter reaches round it).
          if (nearest > 1.0) next = m;
          for (int key = 0; key < 2 * n && next.empty(); ++key) {
            bool covered = false;
            for (int k = 0; k < static_cast<int>(search.Points().size()) && !covered; ++k)
              covered = search.Covers(search.Offsets(k, m, surface.se), key, kReach);
            if (covered) continue;
            std::vector<double> x = search.Held(search.DesignPoint(m, surface.se, key, kReach));
            // A side a bound cuts off is bracketed by the bound.
            if (search.Covers(search.OffsetsOf(x, m, surface.se), key, kReach) && !search.Known(x, surface.se))
              next = x;
          }
          if (next.empty()) {
            end.placed = true;
            placedAt = m;
            break;
          }
        }
      }
    } else {
      next = search.Held(TrustStep(surface, from, step, trust));
    }
    std::vector<double> unit = step;
    if (surface.positive)
      for (int i = 0; i < n; ++i) unit[Idx(i)] = std::min(step[Idx(i)], 10.0 * surface.se[Idx(i)]);
    if (search.Known(next, unit)) {
      // The step found no new point: the trust region narrows.
      trust *= 0.25;
      if (trust < 1e-6) break;
      continue;
    }
    const double before = search.Points()[Idx(lowest)].y;
    going = search.Evaluate(next, y);
    if (!trial) continue;
    double length = 0.0;
    for (int i = 0; i < n; ++i) length += std::pow((next[Idx(i)] - from[Idx(i)]) / step[Idx(i)], 2);
    length = std::sqrt(length);
    // A step that lowers the value widens the region to twice its length; one that
    // does not (or has no result) narrows it to half.
    trust = y < before ? std::max(trust, 2.0 * length) : 0.5 * length;
  }
  end.evaluations = search.Evaluations();
  end.interrupted = search.Interrupted();
  if (!surface.fitted || search.Points().empty()) {
    const int lowest = search.Lowest();
    if (lowest >= 0)
      for (int i = 0; i < n; ++i) end.point[Idx(i + 1)] = static_cast<float>(search.Points()[Idx(lowest)].x[Idx(i)]);
    return end;
  }
  end.roughness = surface.roughness;
  const int best = search.LowestOnSurface(surface);
  std::vector<double> x = search.Points()[Idx(best)].x;
  if (surface.positive) {
    end.se.assign(Idx(n) + 1, 0.0);
    for (int i = 0; i < n; ++i) end.se[Idx(i + 1)] = surface.se[Idx(i)];
    const std::vector<double> m = search.Held(surface.minimum);
    end.gain = surface.Value(x) - surface.Value(m);
    if (end.placed) x = placedAt;
  }
  for (int i = 0; i < n; ++i) end.point[Idx(i + 1)] = static_cast<float>(x[Idx(i)]);
  return end;
}

}  // namespace tarmic
