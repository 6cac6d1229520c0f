// Global analysis of sedimentation equilibrium: the exact equilibrium exponentials of
// ideal species and of a monomer-n-mer association as a Model of the engine, the
// reading of the experiment files of a sorted run into data sets, and the problem
// with its start values taken from the data.
//
// Each data set's signal at radius r, with x = (r^2 - r_ref^2) / 2 and the buoyant
// factor s = (1 - vbar rho) omega^2 / (R T) per unit of molar mass:
//   ideal k:       sum_i c_i exp(M_i s x) + baseline
//   monomer-nmer:  c1 exp(M1 s x) + K' c1^n exp(n M1 s x) + baseline,
//                  K' = n Ka (eps l)^(1-n), Ka in M^-(n-1), eps the monomer's molar
//                  extinction (M^-1 cm^-1), l the pathlength (cm)
//   hetero-ab:     cA eA + cB eB + K' cA cB eA eB + baseline, eA = exp(M1 s x),
//                  eB = exp(M2 s x), AB of mass M1 + M2 absorbing as A and B together:
//                  K' = Ka (epsA + epsB) / (epsA epsB l), Ka in M^-1
// Globals: the molar masses M1.. (g/mol) and log10 Ka; locals: the signals c_i at
// the reference radius and the baseline (signal units).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "numerics/value_ranges.h"

namespace tarmic::engine {

inline constexpr double kGasConstantErg = 8.314462618e7;  // erg / (mol K)

enum class EquilibriumKind { kIdeal, kMonomerNmer, kHeteroAB };

struct EquilibriumModelSpec {
  EquilibriumKind kind = EquilibriumKind::kIdeal;
  int species = 1;  // ideal: 1 to 3
  int n = 2;        // monomer-nmer: 2 to 12
};

// The names of the models, in the order the window offers them; ParseEquilibriumModel
// takes exactly these.
const std::vector<std::string>& EquilibriumModelNames();
// The names the batch takes: ideal1, ideal2, ideal3, monomer-nmer, hetero-ab.
bool ParseEquilibriumModel(const std::string& name, int n, EquilibriumModelSpec* out, std::string* error);

// The buoyant factor per g/mol of the data set (cm^-2 mol/g).
double BuoyantFactor(const DataSet& set);
// The reference radius squared of the data set: its referenceRadius, or midway in r^2
// between its first and last fitted points.
double ReferenceRadiusSquared(const DataSet& set);

class EquilibriumModel : public Model {
 public:
  explicit EquilibriumModel(EquilibriumModelSpec spec) : spec_(spec) {}
  void Evaluate(const DataSet& set, const double* global, std::size_t nGlobal, const double* local,
                std::size_t nLocal, std::size_t n, const double* r, double* f, double* dGlobal,
                double* dLocal) const override;
  const EquilibriumModelSpec& spec() const { return spec_; }

 private:
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
// association, short fits from a grid of log Ka whose best is kept. False with *error
// for a name in the settings the model does not have.
bool BuildEquilibriumProblem(std::vector<DataSet> sets, const EquilibriumModelSpec& spec,
                             const EquilibriumSettings& settings, int threads, Problem* out, std::string* error);

}  // namespace tarmic::engine
