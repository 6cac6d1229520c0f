// Arithmetic of an inhomogeneous solvent shared by the solver object and the
// global-state propagators: the density and viscosity of a buffer as series in the
// cosolute molarity, the density of a solvent compressed by the rotor pressure, the
// viscosity factor fV = eta_std / eta(r) and buoyancy factor
// fB = (1 - vbar_eff rho(r)) / (1 - vbar 0.99823) per node, and the element
// integrals of the Lamm equation with these factors taken as linear between nodes.
// Locally D(r) = D fV(r) and s(r) = s fV(r) fB(r).
//
// Units: radii cm, densities g/ml, viscosities Pa s, concentrations mol/l,
// compressibility 1/MPa, rotor speed rpm. All arrays are one-based.
#pragma once

#include "lamm/tridiagonal.h"

namespace tarmic {

// rho(c) = a1 + 1e-3 a2 sqrt(c) + 1e-2 a3 c + 1e-3 a4 c^2 + 1e-4 a5 c^3 + 1e-6 a6 c^4
// (g/ml) from a[1..n] (coefficients past the sixth ignored); 0.99823 without any.
double SeriesDensity(const double* a, int n, double c);
// eta(c) = 0.001002 (b1 + 1e-3 b2 sqrt(c) + 1e-2 b3 c + 1e-3 b4 c^2 + 1e-4 b5 c^3)
// (Pa s) from b[1..n] (past the fifth ignored); 0.001002 without any.
double SeriesViscosity(const double* b, int n, double c);

// Density of a solvent compressed by the pressure of its own column:
// p(r) = 1000 rho0 w^2 (r^2 - m^2) / 2 x 1e-10 (MPa) and rho(r) = rho0 / (1 - kappa p(r)),
// for r[1..n]; kappa = 0 gives rho0 everywhere.
void CompressedDensityProfile(double* out, const double* r, int n, double meniscus, double rpm,
                              double rho0, double kappa);

// The density and viscosity series of a buffer with its cosolute.
struct CosoluteSeries {
  const double* density = nullptr;  // a[1..nDensity]
  int nDensity = 0;
  const double* viscosity = nullptr;  // b[1..nViscosity]
  int nViscosity = 0;
};
// Factors at cosolute concentration c, with a density excess (compressed water
// minus 0.99823) added to rho(c): fV = 0.001002 / eta(c) and
// fB = (1 - vbarEff (rho(c) + excess)) / (1 - vbar 0.99823).
void CosoluteNodeFactors(const CosoluteSeries& series, double c, double excess, double vbarEff,
                         double vbar, double* fv, double* fb);

// Element integrals on the grid r[1..m] with node factors fv[1..m], fb[1..m]:
//   stiffness     integral of fV r phi_i' phi_j' dr,
//   sedimentation integral of fV fB r^2 phi_i' phi_j dr (exact for the quintic integrand);
// 0 outside 1..m or for |i - j| > 1.
long double VariableStiffnessElement(const double* fv, const double* r, int m, int i, int j);
long double VariableSedimentationElement(const double* fv, const double* fb, const double* r,
                                         int m, int i, int j);
// Outflow through the end node k: diffusion fV_k r_k / (r_k - r_(k-1)) and
// sedimentation fV_k fB_k r_k^2 (null factors count as 1).
double EndDiffusionFactor(const double* fv, const double* r, int k);
double EndSedimentationFactor(const double* fv, const double* fb, const double* r, int k);

}  // namespace tarmic
