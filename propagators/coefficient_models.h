// Node coefficients of the concentration-dependent propagators: before each
// Crank-Nicolson stage every grid node gets a sedimentation coefficient s_i
// (pLocalS, S) and a diffusion coefficient D_i (pLocalD, cm^2/s) from the local
// concentration (signal units) by the model that is on:
//   - rapid monomer-dimer (bMonomerDimer, optionally non-ideal dimer),
//   - rapid monomer-trimer (bMonomerTrimer, mass balance solved by Cardano),
//   - rapid 1-2-4 and 1-4-8 self-association (bAssoc124, bAssoc148) through a
//     lookup table of the monomer concentration,
//   - one non-ideal species (bNonidealSpecies): s = s0/(1 + ks c), D = D0 (1 + kd c)
//     (repulsive; both signs flipped for attractive non-ideality),
//   - the kernels of the non-ideal c(s) (bCsNonideal): the same law in the total
//     concentration of the whole distribution at the middle of the step.
// The parameters are those of modelfit/model_options.h (fS1, fD1, fS2, fD2 in S and
// cm^2/s as the model computation prepares them; log10 constants).
#pragma once

#include <functional>

namespace tarmic {

// Constants prepared at a propagator's entry.
struct CoefficientConstants {
  double K = 0.0;      // association constant 10^fAssocLogK (signal units^-1)
  double K2 = 0.0;     // K^2 and K^3 of the monomer-trimer model
  double K3 = 0.0;
  double ks = 0.0;     // non-ideality constants in signal units^-1 (negative when attractive)
  double kd = 0.0;
  double Ka = 0.0;     // 1-2-4 / 1-4-8 constants
  double Kb = 0.0;
  // Total concentration of the whole c(s) distribution on the grid at time t
  // (1-based, N values), for the kernels of the non-ideal c(s). Provided by the
  // distribution engine; without it the total is taken as 0.
  std::function<void(double t, double* ctot)> totalConcentrationAt;
};

// Reads the model switches and parameters into the constants; builds the
// association table for the 1-2-4 and 1-4-8 models.
CoefficientConstants PrepareCoefficientModel();

// Predictor coefficients from the profile at the start of the step (pLammConcOld)
// into pLocalS, pLocalD; t is the time of the middle of the step (used by the
// non-ideal c(s) kernels only).
void PredictorCoefficients(const CoefficientConstants& k, const double* cOld, int N, double t);
// Corrector coefficients: as a rule the mean of the coefficients at cOld and at the
// predictor result cNew (the non-ideal c(s) kernels keep the predictor values).
void CorrectorCoefficients(const CoefficientConstants& k, const double* cOld, const double* cNew,
                           int N);

// The real root x of K x^3 + x - c = 0 (monomer of the monomer-trimer mass balance).
double MonomerFromTrimerTotal(double c, double K);

// The 1-2-4 / 1-4-8 table: 1000 rows of monomer x (1e-5 .. 100, geometric), total
// c(x), weight-average s and gradient-average D.
extern bool bAssocTableBuilt;
void BuildAssociationTable(double Ka, double Kb);
// s and D at total concentration c (linear interpolation in c; row 1 below the
// table, row 1000 above it).
void LookupAssociationTable(double c, double* s, double* D);
void FreeAssociationTable();

}  // namespace tarmic
