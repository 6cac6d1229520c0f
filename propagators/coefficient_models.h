// Node coefficients of the concentration-dependent propagators: before each
// Crank-Nicolson stage every grid node gets a sedimentation coefficient s_i
// (S) and a diffusion coefficient D_i (cm^2/s) from the local concentration
// (signal units) by the model that is on:
//   - rapid monomer-dimer (bMonomerDimer, optionally non-ideal dimer),
//   - rapid monomer-trimer (bMonomerTrimer, mass balance solved by Cardano),
//   - rapid 1-2-4 and 1-4-8 self-association (bAssoc124, bAssoc148) through a
//     lookup table of the monomer concentration,
//   - one non-ideal species (bNonidealSpecies): s = s0/(1 + ks c), D = D0 (1 + kd c)
//     (repulsive; both signs flipped for attractive non-ideality),
//   - the kernels of the non-ideal c(s) (bCsNonideal): the same law in the total
//     concentration of the whole distribution at the middle of the step.
// The law is made from a value (CoefficientModelValues: the model's switches and
// parameters, s in S and D in cm^2/s, log10 constants); the model computation
// builds it from its input, the forms in nonideal_doors.h from the analysis' model
// record. All profile and coefficient arrays are one-based over nodes 1..N.
#pragma once

#include "numerics/analysis.h"

#include <functional>
#include <string>
#include <vector>

namespace tarmic {

// The model that forms the node coefficients.
enum class CoefficientModel {
  Ideal,             // s = s1, D = d1 everywhere (no model switch set)
  MonomerDimer,
  MonomerTrimer,
  AssociationTable,  // 1-2-4 or 1-4-8
  NonidealSpecies,
  NonidealCs,
  CosoluteCoefficients,  // one non-ideal species with s(c), D(c) of a cosolute
};

// Constants prepared at a propagator's entry.
struct CoefficientConstants {
  CoefficientModel model = CoefficientModel::Ideal;
  double s1 = 0.0, d1 = 0.0;  // monomer (or the non-ideal species): S, cm^2/s
  double s2 = 0.0, d2 = 0.0;  // dimer or trimer
  double K = 0.0;      // association constant 10^fAssocLogK (signal units^-1; ^-2 for the trimer)
  double K2 = 0.0;     // K^2 and K^3 of the monomer-trimer model
  double K3 = 0.0;
  bool dimerNonideal = false;  // monomer-dimer with s divided by 1 + ks c
  double ks = 0.0;     // non-ideality constants in signal units^-1 (negative when attractive)
  double kd = 0.0;
  // 1-2-4 / 1-4-8: constants and the s, D of the three oligomers (S, cm^2/s).
  bool assoc148 = false;
  double Ka = 0.0;
  double Kb = 0.0;
  double oligoS[3] = {0, 0, 0};
  double oligoD[3] = {0, 0, 0};
  // s(c), D(c) of the cosolute law: the built-in CsCl formulas or the polynomials
  // of the coefficient files (one-based), c in mol/l.
  bool cscl = false;
  std::vector<double> sCoef, dCoef;
  // Total concentration of the whole c(s) distribution on the grid at time t
  // (1-based, N values), for the kernels of the non-ideal c(s). Provided by the
  // distribution engine; without it the total is taken as 0.
  std::function<void(double t, double* ctot)> totalConcentrationAt;

  // Every species of the model sediments outward (s > 0), or every one floats.
  bool AllSediment() const;
  bool AllFloat() const;
};

// What a coefficient law is made from: which model is on and its parameters.
struct CoefficientModelValues {
  bool monomerDimer = false, monomerTrimer = false, assoc124 = false, assoc148 = false;
  bool nonidealSpecies = false;  // one non-ideal species
  bool csNonideal = false;       // the kernels of the non-ideal c(s)
  float s1 = 0.0f, d1 = 0.0f;    // monomer (or the non-ideal species): S, cm^2/s
  float s2 = 0.0f, d2 = 0.0f;    // dimer or trimer
  float logK = 0.0f;             // log10 of the monomer-dimer or monomer-trimer constant
  bool dimerNonideal = false;    // the dimer's s divided by 1 + ks c
  float logKs = -8.0f, logKd = -8.0f;  // log10 ks, kd per mg/ml
  bool repulsive = true;               // the non-ideality repulsive (else both signs flip)
  bool cosoluteCoefficients = false;   // s(c), D(c) of a cosolute instead of ks, kd
  bool csclCoefficients = false;       //   the built-in CsCl law (else the coefficient files)
  float logKa = 0.0f, logKb = 0.0f;    // 1-2-4 / 1-4-8 constants
  float oligoS[3] = {0, 0, 0}, oligoD[3] = {0, 0, 0};  // their oligomers: S, cm^2/s
  double signalPerConcentration = 0.0;  // signal per mg/ml (ks, kd are per mg/ml)
};

// Makes the law of v in k. A non-ideal species with the cosolute coefficients
// follows the cosolute law (the CsCl formulas, else the coefficient files, read
// here by the paths of the solvent settings). False, with a message, when the model
// cannot be run: a coefficient file cannot be read, the non-ideal c(s) asks for the
// cosolute law, or a non-positive signal per mg/ml leaves ks and kd undefined.
bool PrepareCoefficientModel(const CoefficientModelValues& v, CoefficientConstants* k, std::string* message);

// s and D of the model at concentration c (signal units). The non-ideal c(s)
// kernels take c as the total concentration of the distribution.
void ModelCoefficients(const CoefficientConstants& k, double c, double* s, double* D);

// Predictor coefficients from the profile at the start of the step into s[1..N],
// D[1..N]; t is the time of the middle of the step (used by the non-ideal c(s)
// kernels only, which take the total concentration of the distribution then).
void PredictorCoefficients(const CoefficientConstants& k, const double* cOld, int N, double t,
                           double* s, double* D);
// Corrector coefficients: as a rule the mean of the predictor values (s, D on
// entry, formed from cOld) and the values at the predictor result cNew. The
// non-ideal dimer divides the mean association s by 1 + ks (c_old + c_new)/2; the
// non-ideal c(s) kernels keep the predictor values.
void CorrectorCoefficients(const CoefficientConstants& k, const double* cOld, const double* cNew,
                           int N, double* s, double* D);

// The real root x of K x^3 + x - c = 0 (monomer of the monomer-trimer mass balance).
double MonomerFromTrimerTotal(double c, double K);

// The state of this module in an analysis (numerics/analysis.h).
struct CoefficientModelsState {
  // The 1-2-4 / 1-4-8 table: 1000 rows of monomer x (1e-5 .. 100, geometric), total
  // c(x), weight-average s and gradient-average D.
  bool bAssocTableBuilt = false;
};
// The current analysis' CoefficientModelsState.
inline CoefficientModelsState& CoefficientModels() { return CurrentPart<CoefficientModelsState>(); }
inline constexpr int kAssocTableRows = 1000;
void BuildAssociationTable(const CoefficientConstants& k);
// s and D at total concentration c (linear interpolation in c; row 1 below the
// table, row 1000 above it). A lookup continues from the row of the previous one
// when c has not fallen far below it.
void LookupAssociationTable(double c, double* s, double* D);
void FreeAssociationTable();

// Holds the association table for one propagator run: builds it for the
// table models and releases it on every way out of the run.
class AssociationTableScope {
 public:
  explicit AssociationTableScope(const CoefficientConstants& k);
  ~AssociationTableScope();
  AssociationTableScope(const AssociationTableScope&) = delete;
  AssociationTableScope& operator=(const AssociationTableScope&) = delete;
};

}  // namespace tarmic
