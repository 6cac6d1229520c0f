// An inhomogeneous solvent on the finite-element grid: a compressible solvent under
// rotor pressure, a linear density and viscosity gradient, or a sedimenting cosolute
// (the second solution). Each node gets a viscosity factor fV and a buoyancy factor
// fB; the local coefficients are D(r) = D fV(r) and s(r) = s fV(r) fB(r).
#include <algorithm>
#include <cmath>

#include "lamm/lamm_ideal.h"
#include "numerics/interpolation.h"
#include "numerics/solvent_constants.h"

namespace tarmic {

namespace {

constexpr double kTwoPiOver60 = 0.10471975511965977;

// Three-point Gauss-Legendre on [-1, 1]: exact for polynomials up to degree 5.
constexpr long double kGaussX[3] = {-0.774596669241483377035853079956479922L, 0.0L,
                                    0.774596669241483377035853079956479922L};
constexpr long double kGaussW[3] = {0.555555555555555555555555555555555556L,
                                    0.888888888888888888888888888888888889L,
                                    0.555555555555555555555555555555555556L};

}  // namespace

double CLammIdeal::CLCosoluteViscosity(double c) const {
  if (nViscCoef < 1 || pViscCoef.empty()) return STANDARDVISCOSITY;
  const double terms[5] = {1.0, 1e-3 * std::sqrt(std::max(c, 0.0)), 1e-2 * c, 1e-3 * c * c,
                           1e-4 * c * c * c};
  double v = 0.0;
  for (int k = 1; k <= std::min(nViscCoef, 5); ++k) v += pViscCoef[k] * terms[k - 1];
  return STANDARDVISCOSITY * v;
}

double CLammIdeal::CLCosoluteDensity(double c) const {
  if (nDensCoef < 1 || pDensCoef.empty()) return fDensityWater20;
  const double terms[6] = {1.0,         1e-3 * std::sqrt(std::max(c, 0.0)), 1e-2 * c,
                           1e-3 * c * c, 1e-4 * c * c * c,                  1e-6 * c * c * c * c};
  double d = 0.0;
  for (int k = 1; k <= std::min(nDensCoef, 6); ++k) d += pDensCoef[k] * terms[k - 1];
  return d;
}

void CLammIdeal::CLCompressionDensityProfile(double* out, const double* radii, double rho0,
                                             double kappa) const {
  // rho(r) = rho0 / (1 - kappa p(r)), with the pressure of the liquid column
  // p(r) = rho0 w^2 (r^2 - m^2) / 2 (converted to MPa).
  const double w = dRpmNow * kTwoPiOver60;
  for (int i = 1; i <= nGrid; ++i) {
    if (kappa == 0) {
      out[i] = rho0;
      continue;
    }
    const double r2 = radii[i] * radii[i] - dMeniscus * dMeniscus;
    out[i] = rho0 / (1 - r2 * 1000 * rho0 * 0.5 * w * w * kappa * 1e-6 * 1e-4);
  }
}

void CLammIdeal::CLInitLocalSolvent(const double* radii) {
  const int N = nGrid;
  if (N != nLocalFactorPoints) {
    pViscFactor.assign(N + 1, 1.0);
    pBuoyFactor.assign(N + 1, 1.0);
    pCosoluteConc.assign(N + 1, 0.0);
    pCompressionDensity.assign(N + 1, fDensityWater20);
    nLocalFactorPoints = N;
  }
  const double buoyancyRef = 1 - fVbar * fDensityWater20;
  if (bCompressibleSolvent) {
    CLCompressionDensityProfile(pCompressionDensity.data(), radii, fDensity1atm, dCompressibility);
    for (int i = 1; i <= N; ++i) {
      pViscFactor[i] = 1.0 / fRelViscosity1atm;
      pBuoyFactor[i] = (1 - fVbar * pCompressionDensity[i]) / buoyancyRef;
    }
  } else if (bLinearGradient) {
    for (int i = 1; i <= N; ++i) {
      const double x = (radii[i] - radii[1]) / (radii[N] - radii[1]);
      const double viscosity = dViscosityMeniscus + x * (dViscosityBottom - dViscosityMeniscus);
      const double density = dDensityMeniscus + x * (dDensityBottom - dDensityMeniscus);
      pViscFactor[i] = STANDARDVISCOSITY / viscosity;
      pBuoyFactor[i] = (1 - fVbar * density) / buoyancyRef;
    }
  } else if (!bInhomSolventDynamic) {
    for (int i = 1; i <= N; ++i) pViscFactor[i] = pBuoyFactor[i] = 1.0;
  } else {
    // The cosolute at its uniform loading, optionally with the compression of water.
    const double v = CLCosoluteViscosity(dComp2C0), d = CLCosoluteDensity(dComp2C0);
    if (bAddWaterCompressibility)
      CLCompressionDensityProfile(pCompressionDensity.data(), radii, fDensityWater20, dCompressibility);
    for (int i = 1; i <= N; ++i) {
      pViscFactor[i] = STANDARDVISCOSITY / v;
      const double excess = bAddWaterCompressibility ? pCompressionDensity[i] - fDensityWater20 : 0.0;
      pBuoyFactor[i] = (1 - (d + excess) * fVbarInhom) / buoyancyRef;
    }
  }
}

void CLammIdeal::CLUpdateLocalSolvent(const double* radii) {
  if (!(bInhomSolventDynamic && bSecondSolution && bComp2Allocated) || pViscFactor.empty()) return;
  const int N = nGrid;
  InterpolateCurveDouble(N, radii, pCosoluteConc.data(), nComp2Points, pComp2Radius.data(),
                         pComp2Conc.data());
  const double buoyancyRef = 1 - fVbar * fDensityWater20;
  for (int i = 1; i <= N; ++i) {
    const double c = pCosoluteConc[i];
    double d = CLCosoluteDensity(c);
    if (bAddWaterCompressibility) d += pCompressionDensity[i] - fDensityWater20;
    pViscFactor[i] = STANDARDVISCOSITY / CLCosoluteViscosity(c);
    pBuoyFactor[i] = (1 - fVbarInhom * d) / buoyancyRef;
  }
}

double CLammIdeal::CLLocalFrameS(double s) const {
  const double ref = 1 - fVbar * fDensityWater20;
  double V = 1.0, B = 1.0;
  if (bLinearGradient) {
    V = (STANDARDVISCOSITY / dViscosityMeniscus + STANDARDVISCOSITY / dViscosityBottom) / 2;
    B = ((1 - fVbar * dDensityMeniscus) / ref + (1 - fVbar * dDensityBottom) / ref) / 2;
  } else if (bCompressibleSolvent) {
    V = 1.0 / fRelViscosity1atm;
    B = (1 - fVbar * fDensity1atm) / ref;
  } else if (bInhomSolventDynamic) {
    V = 1.0 / fRelViscosity1atm;
    B = (1 - fVbarInhom * fDensity1atm) / ref;
  }
  return s * B * V;
}

long double CLammIdeal::CLVarStiffnessElement(int i, int j, const double* radii, int n) const {
  const int m = std::min(nGrid, n);
  if (i < 1 || j < 1 || i > m || j > m || std::abs(i - j) > 1 || pViscFactor.empty()) return 0.0L;
  // On an element [a, b] with end factors fa, fb the (a, a) entry gains
  // (fa (2a + b) + fb (a + 2b)) / (6 (b - a)); the off-diagonal entry its negative.
  auto element = [&](int e) {
    const long double a = radii[e], b = radii[e + 1];
    return (pViscFactor[e] * (2 * a + b) + pViscFactor[e + 1] * (a + 2 * b)) / (6 * (b - a));
  };
  if (i != j) return -element(std::min(i, j));
  long double v = 0.0L;
  if (i > 1) v += element(i - 1);
  if (i < m) v += element(i);
  return v;
}

long double CLammIdeal::CLVarSedimentationElement(int i, int j, const double* radii, int n) const {
  const int m = std::min(nGrid, n);
  if (i < 1 || j < 1 || i > m || j > m || std::abs(i - j) > 1 || pViscFactor.empty()) return 0.0L;
  // Integral of r^2 fV~ fB~ phi_i' phi_j over the elements shared by both hats; the
  // integrand is a quintic on each element, integrated exactly.
  long double sum = 0.0L;
  for (int e = std::max(1, std::max(i, j) - 1); e <= std::min(m - 1, std::min(i, j)); ++e) {
    const long double a = radii[e], b = radii[e + 1], h = b - a;
    const long double slope = (i == e) ? -1.0L / h : 1.0L / h;
    for (int q = 0; q < 3; ++q) {
      const long double x = (a + b) / 2 + h / 2 * kGaussX[q];
      const long double left = (b - x) / h, right = (x - a) / h;
      const long double fv = pViscFactor[e] * left + pViscFactor[e + 1] * right;
      const long double fb = pBuoyFactor[e] * left + pBuoyFactor[e + 1] * right;
      const long double phij = (j == e) ? left : right;
      sum += kGaussW[q] * h / 2 * x * x * fv * fb * slope * phij;
    }
  }
  return sum;
}

double CLammIdeal::CLEndDiffusionFactor(const double* radii, int k) const {
  k = std::min(nGrid, k);
  const double f = pViscFactor.empty() ? 1.0 : pViscFactor[k];
  return radii[k] * f / (radii[k] - radii[k - 1]);
}

double CLammIdeal::CLEndSedimentationFactor(const double* radii, int k) const {
  k = std::min(nGrid, k);
  const double f = pViscFactor.empty() ? 1.0 : pViscFactor[k] * pBuoyFactor[k];
  return f * radii[k] * radii[k];
}

}  // namespace tarmic
