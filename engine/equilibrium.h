// Global analysis of sedimentation equilibrium: the exact equilibrium exponentials of
// ideal species and of associations as a Model of the engine, the
// reading of the experiment files of a sorted run into data sets, and the problem
// with its start values taken from the data.
//
// Each data set's signal at radius r, with x = (r^2 - r_ref^2) / 2 and the buoyant
// factor s = (1 - vbar rho) omega^2 / (R T) per unit of molar mass:
//   ideal k:       sum_i c_i exp(M_i s x) + baseline
//   monomer-nmer:  c1 exp(M1 s x) + K' c1^n exp(n M1 s x) + baseline,
//                  K' = n Ka (eps l)^(1-n), Ka in M^-(n-1), eps the monomer's molar
//                  extinction (M^-1 cm^-1), l the pathlength (cm)
//   monomer-nmer-mmer: the same with an m-mer added, Km' c1^m exp(m M1 s x),
//                  Km' = m Ka2 (eps l)^(1-m), Ka2 in M^-(m-1)
//   hetero-ab:     cA eA + cB eB + K' cA cB eA eB + baseline, eA = exp(M1 s x),
//                  eB = exp(M2 s x), AB of mass M1 + M2 absorbing as A and B together:
//                  K' = Ka (epsA + epsB) / (epsA epsB l), Ka in M^-1
// Globals: the molar masses M1.. (g/mol) and log10 Ka; locals: the signals c_i at
// the reference radius and the baseline (signal units).
//
// Two globals follow the model's own when they are set or floated:
//   incompetent (fraction, associations only): a share f of the monomer (of A for
//     hetero-ab) loaded in the column sediments as monomer but cannot associate. It
//     adds c_inc exp(M1 s x), with c_inc such that the incompetent signal integrated
//     over the column (in r dr, meniscus to bottom when the data set gives them, else
//     the fitted range) is f of the monomer's whole integrated signal, free and
//     associated: c_inc = f/(1-f) * (integral of the competent monomer signal) /
//     (integral of exp(M1 s x)); the integrals are closed-form.
//   B2 (mol ml/g^2): the second virial coefficient. Every species j has the activity
//     coefficient exp(2 B2 M_j W), W the total weight concentration (g/ml, from each
//     species' signal through its molar extinction and the pathlength), so a single
//     species has the apparent molar mass M/(1 + 2 B2 M c). The local values stay the
//     concentrations at the reference radius; at each point the species' ideal
//     signals S_j are scaled by exp(-2 B2 M_j (W - W_ref)) with W solved by Newton
//     (W = sum_j w_j S_j exp(-2 B2 M_j (W - W_ref))); the derivatives follow by
//     implicit differentiation. With the loadings of conserved mass or the incompetent
//     share, the reference signals they fix are solved over the non-ideal column,
//     integrated by Gauss-Legendre quadrature (it has no closed form).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "numerics/value_ranges.h"

namespace tarmic::engine {

inline constexpr double kGasConstantErg = 8.314462618e7;  // erg / (mol K)

enum class EquilibriumKind { kIdeal, kMonomerNmer, kMonomerNmerMmer, kHeteroAB };

struct EquilibriumModelSpec {
  EquilibriumKind kind = EquilibriumKind::kIdeal;
  int species = 1;  // ideal: 1 to 3
  int n = 2;        // monomer-nmer(-mmer): 2 to 12
  int m = 0;        // monomer-nmer-mmer: n < m <= 12
  bool incompetent = false;  // the global "incompetent" follows the model's own globals
  bool virial = false;       // the global "B2" follows them (after "incompetent")
  // With the mass conserved: the cells, in the order of their loadings among the
  // globals (after "incompetent" and "B2"); each cell has one loading per component
  // (ideal: each species; hetero-ab: A and B; the others: the monomer), and the reference signals of its
  // data sets follow from it instead of their own locals.
  std::vector<int> conservedCells;
  // The meniscus and bottom floated: one of each per cell (a cell's column is the same
  // at every speed), among the globals after "B2" and before the loadings, in the order
  // of columnCells, the meniscus before the bottom of each cell. The column counts only
  // where the loading is counted over it (conserved mass, the incompetent fraction).
  bool floatMeniscus = false, floatBottom = false;
  std::vector<int> columnCells;

  // The number of the model's own globals, and the index of "incompetent" and "B2"
  // among the globals (-1 when the problem does not have them).
  int OwnGlobals() const;
  int IncompetentIndex() const { return incompetent ? OwnGlobals() : -1; }
  int VirialIndex() const { return virial ? OwnGlobals() + (incompetent ? 1 : 0) : -1; }
  // The floated column values of a cell: their number per cell and the index among
  // the globals of the cell's meniscus and bottom (-1 when not floated).
  int ColumnValues() const { return (floatMeniscus ? 1 : 0) + (floatBottom ? 1 : 0); }
  int MeniscusIndex(int cell) const;
  int BottomIndex(int cell) const;
  // The number of loadings of a cell, and the index among the globals of the first
  // loading of the cell (-1 when the mass is not conserved or the cell has none).
  int Components() const {
    return kind == EquilibriumKind::kIdeal ? species : kind == EquilibriumKind::kHeteroAB ? 2 : 1;
  }
  int LoadingIndex(int cell) const;
};

// The names of the models, in the order the window offers them; ParseEquilibriumModel
// takes exactly these.
const std::vector<std::string>& EquilibriumModelNames();
// The names the batch takes: ideal1, ideal2, ideal3, monomer-nmer, monomer-nmer-mmer
// (with m), hetero-ab.
bool ParseEquilibriumModel(const std::string& name, int n, EquilibriumModelSpec* out, std::string* error, int m = 0);

// The buoyant factor per g/mol of the data set (cm^-2 mol/g).
double BuoyantFactor(const DataSet& set);
// The reference radius squared of the data set: its referenceRadius, or midway in r^2
// between its first and last fitted points.
double ReferenceRadiusSquared(const DataSet& set);

class EquilibriumModel : public Model {
 public:
  // With the mass conserved, the reference signals (the locals before the baseline)
  // that the cell's loadings give the data set; else the locals as they are.
  std::vector<double> ReferenceSignals(const DataSet& set, const double* global, std::size_t nGlobal,
                                       const double* local, std::size_t nLocal) const;
  explicit EquilibriumModel(EquilibriumModelSpec spec) : spec_(spec) {}
  void Evaluate(const DataSet& set, const double* global, std::size_t nGlobal, const double* local,
                std::size_t nLocal, std::size_t n, const double* r, double* f, double* dGlobal,
                double* dLocal) const override;
  const EquilibriumModelSpec& spec() const { return spec_; }

 private:
  // With B2 and a loading counted over the column (conserved mass, the incompetent
  // fraction): the reference signals the column fixes solved over the non-ideal
  // column by quadrature, the derivatives through them by the implicit function theorem.
  void EvaluateNonidealColumn(const DataSet& set, const double* global, std::size_t nGlobal, const double* local,
                              std::size_t nLocal, std::size_t n, const double* r, double* f, double* dGlobal,
                              double* dLocal) const;
  EquilibriumModelSpec spec_;
};

// Reads the experiment files (MULTISEDEQ or one-file SEDEQUILIBRIUM) and every scan
// file each lists into one data set per scan file. A listed file is looked for in the
// experiment file's directory (a relative one taken from the experiment file's
// folder) and, when it is not there, beside the experiment file.
// False, *error naming the file (and its line where the reader gives one), when any
// file is missing, damaged or no equilibrium experiment; *out is then untouched.
bool ReadEquilibriumRun(const std::vector<std::string>& xpPaths, std::vector<DataSet>* out, std::string* error);

// The names the command line gives: value settings (NAME=VALUE, held unless also
// floated) and the names to float.
struct EquilibriumSettings {
  std::map<std::string, double> set;
  std::vector<std::string> floated;
};

// The valid values of a value of the models by its name, as the batch's --set and
// the window's dialog judge what the user gives: molar masses (M1..), log10 Ka
// (logKa1..), n of the n-mer, and the signals (c1.., cA, cB, baseline).
const Quantity& QuantityOfEquilibriumValue(const std::string& name);

// The problem of the model on the data sets with start values from the data: the
// apparent molar mass from the slope of ln c against r^2 of each data set and, for an
// association, short fits from a grid of log Ka whose best is kept. "incompetent" and
// "B2" join the globals when the settings set or float them (a floated incompetent
// fraction without a value starts at 0.1). With conserveMass each cell gets one loading
// (per species of an ideal model, of A and of B for hetero-ab, of the monomer for the
// other associations) among the globals, named "loading cell C" ("loadingJ cell C",
// "loadingA cell C" and "loadingB cell C"), the mean signal of its column,
// and its data sets' reference signals follow from it. The settings' floated names
// "meniscus" and "bottom" float one meniscus and one bottom per cell, named
// "meniscus cell C" and "bottom cell C" (cm), from the experiment files' values, only
// where a loading is counted over the column (conserveMass or the incompetent
// fraction): the exponentials alone do not depend on it. False with *error for a name
// in the settings the model does not have; for B2 without the extinction
// coefficients it needs; for conserveMass without the meniscus and bottom of every
// data set. With B2, what is counted over the column (the loadings, the incompetent
// share) is integrated numerically over the non-ideal column. Data sets whose files switch on time-invariant noise share a
// profile per cell and wavelength (Problem::tiNoiseGroups; refused for a cell of one
// speed or whose speeds do not share their fitted radii), the first one's baseline
// held at 0.
bool BuildEquilibriumProblem(std::vector<DataSet> sets, const EquilibriumModelSpec& spec,
                             const EquilibriumSettings& settings, int threads, Problem* out, std::string* error,
                             bool conserveMass = false);

// With the mass conserved, the summary's reference signals of each data set (held in
// the problem) replaced by those its cell's loadings give.
void FillConservedReferenceSignals(const Problem& problem, Summary* summary);

}  // namespace tarmic::engine
