#include "lamm/special_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "lamm/lamm_globals.h"

namespace tarmic {

namespace {

// Trapezoid refinement n of the integral of f over [a, b]; s carries the running
// sum between the calls n = 1, 2, 3, ...
double TrapezoidRefine(const std::function<double(double)>& f, double a, double b, int n,
                       double& s) {
  if (n == 1) return s = 0.5 * (b - a) * (f(a) + f(b));
  const long points = 1L << (n - 2);
  const double spacing = (b - a) / points;
  double x = a + 0.5 * spacing, sum = 0.0;
  for (long k = 0; k < points; ++k, x += spacing) sum += f(x);
  return s = 0.5 * (s + (b - a) * sum / points);
}

// Neville's extrapolation of the n points (xa, ya) to x; *dy gets the last correction.
double Neville(const double* xa, const double* ya, int n, double x, double* dy) {
  double c[5], d[5];
  int ns = 0;
  double dif = std::fabs(x - xa[0]);
  for (int i = 0; i < n; ++i) {
    const double dift = std::fabs(x - xa[i]);
    if (dift < dif) {
      ns = i;
      dif = dift;
    }
    c[i] = d[i] = ya[i];
  }
  double y = ya[ns--];
  for (int m = 1; m < n; ++m) {
    for (int i = 0; i < n - m; ++i) {
      const double ho = xa[i] - x, hp = xa[i + m] - x;
      const double w = c[i + 1] - d[i];
      const double den = w / (ho - hp);  // the steps are distinct powers of 1/4
      d[i] = hp * den;
      c[i] = ho * den;
    }
    *dy = (2 * (ns + 1) < (n - m)) ? c[ns + 1] : d[ns--];
    y += *dy;
  }
  return y;
}

// Value and slope of hat i of the grid at x (0 outside its support).
double Hat(const double* r, int N, int i, double x) {
  if (i > 1 && x >= r[i - 1] && x <= r[i]) return (x - r[i - 1]) / (r[i] - r[i - 1]);
  if (i < N && x >= r[i] && x <= r[i + 1]) return (r[i + 1] - x) / (r[i + 1] - r[i]);
  return 0.0;
}
double HatSlope(const double* r, int N, int i, double x) {
  if (i > 1 && x >= r[i - 1] && x < r[i]) return 1.0 / (r[i] - r[i - 1]);
  if (i < N && x >= r[i] && x <= r[i + 1]) return -1.0 / (r[i + 1] - r[i]);
  return 0.0;
}

// The overlap of hats i and j clipped to the grid; false for non-neighbours.
bool Overlap(const double* r, int N, int i, int j, double* a, double* b) {
  if (i < 1 || j < 1 || i > N || j > N || std::abs(i - j) > 1) return false;
  if (i == 1 || j == 1) {
    *a = r[1];
    *b = r[2];
  } else if (i == N || j == N) {
    *a = r[N - 1];
    *b = r[N];
  } else if (i == j) {
    *a = r[i - 1];
    *b = r[i + 1];
  } else {
    *a = r[std::min(i, j)];
    *b = r[std::max(i, j)];
  }
  return true;
}

bool Planar() { return LammGlobals().bLinearGeometry || LammGlobals().bElectrophoresis; }

// The closed forms apply to the loading cell above the taper, or when the taper is
// wholly in the oil.
bool ClosedFormsApply(const double* r, int N, const GeometryWeight& g, int i, int j) {
  if (Planar()) return true;
  if (!g.loadingCell) return false;
  if (g.oilVolume > kTaperVolume) return true;
  return i < N && j < N && r[i + 1] < g.taperStart && r[j + 1] < g.taperStart;
}

// Integrates an element integrand over the hats' overlap piece by piece, so that the
// slopes and the kink of the taper weight are inside the pieces.
double Numerical(const double* r, int N, const GeometryWeight& g, int i, int j,
                 const std::function<double(double)>& integrand) {
  double a, b;
  if (!Overlap(r, N, i, j, &a, &b)) return 0.0;
  double sum = 0.0;
  const int lo = std::max(1, std::min(i, j) - 1), hi = std::min(N - 1, std::max(i, j));
  for (int e = lo; e <= hi; ++e) {
    const double x0 = std::max(a, r[e]), x1 = std::min(b, r[e + 1]);
    if (x1 <= x0) continue;
    if (g.loadingCell && g.taperStart > x0 && g.taperStart < x1) {
      sum += RombergIntegrate(integrand, x0, g.taperStart);
      sum += RombergIntegrate(integrand, g.taperStart, x1);
    } else {
      sum += RombergIntegrate(integrand, x0, x1);
    }
  }
  return sum;
}

}  // namespace

double RombergIntegrate(const std::function<double(double)>& f, double a, double b) {
  double h[21], s[21], running = 0.0, ss = 0.0, dss = 0.0;
  h[0] = 1.0;
  for (int j = 0; j < 20; ++j) {
    s[j] = TrapezoidRefine(f, a, b, j + 1, running);
    if (j >= 4) {
      ss = Neville(&h[j - 4], &s[j - 4], 5, 0.0, &dss);
      if (std::fabs(dss) < 3e-6 * std::fabs(ss)) return ss;
    }
    h[j + 1] = 0.25 * h[j];
  }
  return ss;
}

GeometryWeight SelectGeometryWeight(const double* r, int N) {
  auto& lammGlobalsPart = LammGlobals();
  GeometryWeight g;
  if (!lammGlobalsPart.bExternalLoadingCell) return g;
  g.loadingCell = true;
  g.oilVolume = lammGlobalsPart.fLoadingCellOilVolume;
  const double V = g.oilVolume, A = kTaperHeight, B = kTaperWidthLoss;
  if (V <= 0) {
    g.oilHeight = 0.0;
  } else if (V < kTaperVolume) {
    // The oil column in a taper whose width falls linearly from 1 to 1 - B.
    g.oilHeight = (A / B) * (std::sqrt((1 - B) * (1 - B) + 2 * B * V / (A * kCellDepth * kCellWidth)) -
                             (1 - B));
  } else {
    g.oilHeight = A;
  }
  g.taperStart = r[N] - (A - g.oilHeight);
  return g;
}

double LoadingCellWeight(const GeometryWeight& g, double r) {
  if (!g.loadingCell || r < g.taperStart) return 1.0;
  return 1 - (kTaperWidthLoss / kTaperHeight) * (r - g.taperStart);
}

long double IntegrateMassElementGeom(const double* r, int N, double meniscus, double bottom,
                                     const GeometryWeight& g, int i, int j) {
  if (i < 1 || j < 1 || i > N || j > N || std::abs(i - j) > 1) return 0.0L;
  if (ClosedFormsApply(r, N, g, i, j)) {
    if (i == j) {
      if (i == 1) return (r[2] - meniscus) / 3;
      if (i == N) return (bottom - r[N - 1]) / 3;
      return (r[i + 1] - r[i - 1]) / 3;
    }
    if (i == j - 1) return (r[j] - r[j - 1]) / 6;
    return (r[j + 1] - r[j]) / 6;
  }
  return Numerical(r, N, g, i, j, [&](double x) {
    return LoadingCellWeight(g, x) * Hat(r, N, i, x) * Hat(r, N, j, x);
  });
}

long double IntegrateStiffnessElementGeom(const double* r, int N, double meniscus, double bottom,
                                          const GeometryWeight& g, int i, int j) {
  if (i < 1 || j < 1 || i > N || j > N || std::abs(i - j) > 1) return 0.0L;
  if (ClosedFormsApply(r, N, g, i, j)) {
    const double h = (bottom - meniscus) / (N - 1);
    if (i != j) return -1.0 / h;
    return (i == 1 || i == N) ? 1.0 / h : 2.0 / h;
  }
  return Numerical(r, N, g, i, j, [&](double x) {
    return LoadingCellWeight(g, x) * HatSlope(r, N, i, x) * HatSlope(r, N, j, x);
  });
}

long double IntegrateSedimentationElementGeom(const double* r, int N, double /*meniscus*/,
                                              double /*bottom*/, const GeometryWeight& g, int i,
                                              int j) {
  if (i < 1 || j < 1 || i > N || j > N || std::abs(i - j) > 1) return 0.0L;
  if (ClosedFormsApply(r, N, g, i, j)) {
    if (LammGlobals().bElectrophoresis) {
      // Drift: integral of phi_i phi_j'.
      if (i == j) return i == 1 ? -0.5 : i == N ? 0.5 : 0.0;
      return i == j - 1 ? 0.5 : -0.5;
    }
    if (i == j) {
      if (i == 1) return -(2 * r[1] + r[2]) / 6;
      if (i == N) return (2 * r[N] + r[N - 1]) / 6;
      return (r[j - 1] - r[j + 1]) / 6;
    }
    if (i == j - 1) return (2 * r[j - 1] + r[j]) / 6;
    return -(r[j] + 2 * r[j + 1]) / 6;
  }
  return Numerical(r, N, g, i, j, [&](double x) {
    const double drift = LammGlobals().bElectrophoresis ? 1.0 : x;
    return LoadingCellWeight(g, x) * drift * Hat(r, N, i, x) * HatSlope(r, N, j, x);
  });
}

long double IntegrateNodeWeightGeom(const double* r, int N, double meniscus, double bottom,
                                    const GeometryWeight& g, int i) {
  if (i < 1 || i > N) return 0.0L;
  const bool closed =
      Planar() || (g.loadingCell && (g.oilVolume > kTaperVolume || (i < N && r[i + 1] < g.taperStart)));
  (void)meniscus;
  (void)bottom;
  if (closed) return (i == 1 || i == N) ? 0.5 : 1.0;
  return Numerical(r, N, g, i, i, [&](double x) { return LoadingCellWeight(g, x) * Hat(r, N, i, x); });
}

}  // namespace tarmic
