#include "lamm/solvent_core.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "lamm/fe_assembly.h"
#include "numerics/hydrodynamics.h"
#include "numerics/solvent_constants.h"

namespace tarmic {

namespace {

// Three-point Gauss-Legendre on [-1, 1]: exact for polynomials up to degree 5.
constexpr long double kGaussX[3] = {-0.774596669241483377035853079956479922L, 0.0L,
                                    0.774596669241483377035853079956479922L};
constexpr long double kGaussW[3] = {0.555555555555555555555555555555555556L,
                                    0.888888888888888888888888888888888889L,
                                    0.555555555555555555555555555555555556L};

}  // namespace

double SeriesDensity(const double* a, int n, double c) {
  if (n < 1 || !a) return fDensityWater20;
  const double terms[6] = {1.0,         1e-3 * std::sqrt(std::max(c, 0.0)), 1e-2 * c,
                           1e-3 * c * c, 1e-4 * c * c * c,                  1e-6 * c * c * c * c};
  double d = 0.0;
  for (int k = 1; k <= std::min(n, 6); ++k) d += a[k] * terms[k - 1];
  return d;
}

double SeriesViscosity(const double* b, int n, double c) {
  if (n < 1 || !b) return STANDARDVISCOSITY;
  const double terms[5] = {1.0, 1e-3 * std::sqrt(std::max(c, 0.0)), 1e-2 * c, 1e-3 * c * c,
                           1e-4 * c * c * c};
  double v = 0.0;
  for (int k = 1; k <= std::min(n, 5); ++k) v += b[k] * terms[k - 1];
  return STANDARDVISCOSITY * v;
}

void CompressedDensityProfile(double* out, const double* r, int n, double meniscus, double rpm,
                              double rho0, double kappa) {
  // Pressure of the liquid column p(r) = rho0 w^2 (r^2 - m^2) / 2, in MPa.
  const double w = rpm * kTwoPiOver60;
  for (int i = 1; i <= n; ++i) {
    if (kappa == 0) {
      out[i] = rho0;
      continue;
    }
    const double r2 = r[i] * r[i] - meniscus * meniscus;
    out[i] = rho0 / (1 - r2 * 1000 * rho0 * 0.5 * w * w * kappa * 1e-6 * 1e-4);
  }
}

void CosoluteNodeFactors(const CosoluteSeries& series, double c, double excess, double vbarEff,
                         double vbar, double* fv, double* fb) {
  const double buoyancyRef = 1 - vbar * fDensityWater20;
  *fv = STANDARDVISCOSITY / SeriesViscosity(series.viscosity, series.nViscosity, c);
  *fb = (1 - vbarEff * (SeriesDensity(series.density, series.nDensity, c) + excess)) / buoyancyRef;
}

long double VariableStiffnessElement(const double* fv, const double* r, int m, int i, int j) {
  if (i < 1 || j < 1 || i > m || j > m || std::abs(i - j) > 1 || !fv) return 0.0L;
  // On an element [a, b] with end factors fa, fb the (a, a) entry gains
  // (fa (2a + b) + fb (a + 2b)) / (6 (b - a)); the off-diagonal entry its negative.
  auto element = [&](int e) {
    const long double a = r[e], b = r[e + 1];
    return (fv[e] * (2 * a + b) + fv[e + 1] * (a + 2 * b)) / (6 * (b - a));
  };
  if (i != j) return -element(std::min(i, j));
  long double v = 0.0L;
  if (i > 1) v += element(i - 1);
  if (i < m) v += element(i);
  return v;
}

long double VariableSedimentationElement(const double* fv, const double* fb, const double* r,
                                         int m, int i, int j) {
  if (i < 1 || j < 1 || i > m || j > m || std::abs(i - j) > 1 || !fv || !fb) return 0.0L;
  // Integral of r^2 fV~ fB~ phi_i' phi_j over the elements shared by both hats; the
  // integrand is a quintic on each element, integrated exactly.
  long double sum = 0.0L;
  for (int e = std::max(1, std::max(i, j) - 1); e <= std::min(m - 1, std::min(i, j)); ++e) {
    const long double a = r[e], b = r[e + 1], h = b - a;
    const long double slope = (i == e) ? -1.0L / h : 1.0L / h;
    for (int q = 0; q < 3; ++q) {
      const long double x = (a + b) / 2 + h / 2 * kGaussX[q];
      const long double left = (b - x) / h, right = (x - a) / h;
      const long double v = fv[e] * left + fv[e + 1] * right;
      const long double u = fb[e] * left + fb[e + 1] * right;
      const long double phij = (j == e) ? left : right;
      sum += kGaussW[q] * h / 2 * x * x * v * u * slope * phij;
    }
  }
  return sum;
}

double EndDiffusionFactor(const double* fv, const double* r, int k) {
  const double f = fv ? fv[k] : 1.0;
  return r[k] * f / (r[k] - r[k - 1]);
}

double EndSedimentationFactor(const double* fv, const double* fb, const double* r, int k) {
  const double f = fv && fb ? fv[k] * fb[k] : 1.0;
  return f * r[k] * r[k];
}

}  // namespace tarmic
