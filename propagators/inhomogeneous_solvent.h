// The solvent seen by the global-state propagators when the inhomogeneous-solvent
// model is on (settings in solvent_settings.h): per node of the propagator grid a
// viscosity factor fV = eta_std / eta(r) and a buoyancy factor
// fB = (1 - vbar_eff rho(r)) / (1 - VBAR 0.99823), by which the species' s and D
// (held at standard conditions) are scaled locally:
//   D(r) = D fV(r),  s(r) = s fV(r) fB(r).
// The density gradient is static (a solvent compressed by the rotor pressure) or
// dynamic: a small cosolute sediments and diffuses during the run on its own
// equidistant grid and clock, and its profile sets rho(r) and eta(r).
//
// A propagator calls, at set-up, InitSolventFactors (model on) and InitCosolute
// (sedimenting cosolute); in its loop it sets dCosoluteTime to its own time before a
// step, and after the step calls AdvanceCosolute and (dynamic gradient)
// UpdateDynamicSolventFactors before rebuilding its matrices, so that the species
// always sees the solvent at the start of its step.
//
// The solve's solvent (SimSolvent, built by the caller from the settings) is kept
// at InitSolventFactors / InitCosolute; the user's settings are never written. Units: radii cm, s in S, D cm^2/s,
// concentrations mol/l, densities g/ml, viscosities Pa s. Arrays are one-based.
#pragma once

#include "numerics/analysis.h"

#include <string>
#include <vector>

#include "lamm/moving_hat_core.h"
#include "propagators/sim_arrays.h"
#include "propagators/solvent_values.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct CosoluteState {
  // ---- factors on the propagator grid (1..n of the last InitSolventFactors) ----
  std::vector<double> SolventViscosityFactor{};
  std::vector<double> SolventBuoyancyFactor{};
  std::vector<double> pSolventWaterDensity{};  // compressed solvent or water, g/ml
  std::vector<double> pCosoluteOnGrid{};  // cosolute profile on the propagator grid

  // ---- the cosolute's own solution ----
  double dCosoluteTime = 0.0;  // time up to which the profile is computed, s
  // s(c) and D(c) coefficients of a nonideal cosolute (one-based; S and cm^2/s).
  std::vector<double> pCosoluteSCoef{};
  std::vector<double> pCosoluteDCoef{};
  // The pivot message of a failed cosolute step (null when none).
  const char* szCosoluteTridagMessage = nullptr;
};
// The solvent of the inhomogeneous-solvent model in the current analysis: its
// settings, the species' vbar, the first scan's speed (else the final speed), band
// loading and its lamella.
SimSolvent CurrentSimSolvent();

// The current analysis' CosoluteState.
inline CosoluteState& Cosolute() { return CurrentPart<CosoluteState>(); }

// Starts the cosolute (dynamic mode): grid of the set size in cell, the loading c0 (none in
// the lamella of band loading), its matrices at dSimRpm; clock 0. False, with a
// message, when the grid has fewer than kMinCosoluteGridSize nodes, the arrays
// cannot be had or the coefficient files of a nonideal cosolute cannot be read.
bool InitCosolute(const SimSolvent& solvent, const GridCell& cell, std::string* message);
// Advances the cosolute from dCosoluteTime to dSimTime (at the rotor speed of the
// species' step, dSimRpm). A vanished pivot sets bSimFailed and
// szCosoluteTridagMessage and keeps the previous profile.
void AdvanceCosolute();

// Factors at set-up for the grid r[1..n]: static mode from the compressed
// solvent, dynamic mode from the cosolute at its loading (plus the compression of
// water when chosen), otherwise 1.
void InitSolventFactors(const SimSolvent& solvent, const double* r, int n);
// Factors from the present cosolute profile (dynamic mode only).
void UpdateDynamicSolventFactors(const double* r, int n);
// x fV fB at loading conditions (the mean solvent of the cell); x without the model.
double SolventFactorOfValue(const SimSolvent& solvent, double x);

// Density (g/ml) and viscosity (Pa s) of the buffer at cosolute molarity c, from
// the coefficient vectors of the settings.
double CosoluteDensity(double c);
double CosoluteViscosity(double c);

// Reads the s(c) and D(c) coefficient files of the settings (nothing with the CsCl
// option). False, with a message, when a file cannot be read.
bool LoadNonidealCosoluteTables(std::string* message);
// a[1] + a[2] c + ... + a[n] c^(n-1); 0 for an empty list.
double EvalCoefficientPolynomial(const std::vector<double>& a, int n, double c);
// s(c) (S) and D(c) (cm^2/s) of CsCl at 25 C.
double CsClSedimentationCoefficient(double c);
double CsClDiffusionCoefficient(double c);

// Element integrals with the factors on the grid r[1..n] (n limited to the factor
// arrays): integral of fV r phi_i' phi_j', its end term fV_n r_n / (r_n - r_(n-1)),
// the sedimentation flux fV_n fB_n r_n^2 and integral of fV fB r^2 phi_i' phi_j.
double InhomDiffusionElement(int i, int j, const double* r, int n);
double InhomDiffusionEndTerm(const double* r, int n);
double InhomSedimentationFlux(const double* r, int n);
double InhomSedimentationElement(int i, int j, const double* r, int n);

// The factors as elements of the moving grid.
class PropagatorSolvent final : public MovingHatSolvent {
 public:
  double Stiffness(const double* r, int N, int i, int j) const override;
  double Sedimentation(const double* r, int N, int i, int j) const override;
  double MeniscusDiffusionOutflow(const double* r, int N) const override;
  double BottomDiffusionOutflow(const double* r, int N) const override;
  double MeniscusSedimentationOutflow(const double* r, int N) const override;
  double BottomSedimentationOutflow(const double* r, int N) const override;
};

// Releases the factor arrays, the coefficient vectors and the snapshot (tests).
void ResetInhomogeneousSolvent();

}  // namespace tarmic
