// The engine of values: a fit is a function of its inputs. A Problem pairs data sets
// (values that own their arrays) with a model and named parameters, global (one value
// for every data set) or local (one value per data set); Solve fits it under Options
// and returns a Summary. Nothing here reads or writes the analysis bound to the thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/answer_policy.h"

namespace tarmic::engine {

// One scan: radii (cm) and signal values of the same length.
struct Scan {
  double time = 0.0;         // s
  double temperature = 20.0; // degrees C
  double rpm = 0.0;
  std::vector<double> radius;
  std::vector<double> value;
};

// One data set: the scans of one cell, wavelength and rotor speed with the values of
// the run and the solution the model needs.
struct DataSet {
  std::string experiment;  // the experiment file it came from ("" when none)
  std::string source;      // the scan file (or a name of the data set)
  int cell = 0;
  double wavelength = 0.0;   // nm
  double rpm = 0.0;
  double temperature = 20.0; // degrees C
  double meniscus = 0.0, bottom = 0.0;    // cm; 0: not given
  double fitLeft = 0.0, fitRight = 0.0;   // cm; 0: not given (every point)
  double density = 1.0;      // g/ml
  double vbar = 0.73;        // ml/g
  double extinction[3] = {1.0, 1.0, 0.0};  // M^-1 cm^-1 of species A, B, C
  double pathLength = 1.2;   // cm
  double noise = 0.005;      // the expected noise of the data, signal units
  // The radius (cm) at which the models give reference values; 0: the radius whose
  // square lies midway between those of the first and last fitted points.
  double referenceRadius = 0.0;
  // The experiment file fits time-invariant noise: a profile shared with the other
  // data sets of its cell and wavelength (see Problem::tiNoiseGroups).
  bool tiNoise = false;
  std::vector<Scan> scans;

  // The indices (scan, point) of the points within the fitting limits.
  bool InLimits(double r) const {
    return (fitLeft <= 0.0 || r >= fitLeft) && (fitRight <= 0.0 || r <= fitRight);
  }
};

struct Parameter {
  std::string name;
  double value = 0.0;
  std::string unit;
  double lower = -1e300, upper = 1e300;
  bool floated = true;
};

// A model of the signal of one data set at its points, with the exact derivatives.
class Model {
 public:
  virtual ~Model() = default;
  // f[i] at the n radii r, dGlobal[i * nGlobal + k] = df[i]/dglobal[k] and
  // dLocal[i * nLocal + k] = df[i]/dlocal[k] (the derivatives only when non-null).
  virtual void Evaluate(const DataSet& set, const double* global, std::size_t nGlobal, const double* local,
                        std::size_t nLocal, std::size_t n, const double* r, double* f, double* dGlobal,
                        double* dLocal) const = 0;
};

struct Problem {
  std::vector<DataSet> dataSets;
  std::vector<Parameter> globals;
  std::vector<std::vector<Parameter>> locals;  // one list per data set, same names in each
  std::shared_ptr<const Model> model;
  // Groups of data sets (their indices) whose residuals share one time-invariant noise
  // profile: a value at each fitted radius, the same in every set of the group, so the
  // sets of a group must have the same fitted radii. The profile is solved
  // algebraically at every evaluation (the group's mean residual at each radius, the
  // least-squares value) and counts among the fitted values of the degrees of freedom.
  // A constant in the profile trades places with the sets' baselines: hold one of them.
  std::vector<std::vector<std::size_t>> tiNoiseGroups;
};

// The engine asks its questions of the caller's policy, the same value the
// velocity engine's computations take (services/answer_policy.h).
using Answer = tarmic::Answer;
using AnswerPolicy = tarmic::AnswerPolicy;

struct Options {
  int maxIterations = 200;
  double tolerance = 1e-10;  // relative decrease of the sum of squares that ends the search
  int threads = 1;           // data sets are evaluated on this many threads
  bool limits = true;        // 68 % and 95 % limits of the floated globals (refits)
  // Called after each accepted step; returning false stops the fit at its best point.
  std::function<bool(int iteration, double rmsd)> progress;
  // The answer to a question of the engine; the batch answers from its options, the
  // window by asking.
  AnswerPolicy answer;
};

enum class Status { kConverged, kNotConverged, kStopped, kRefused };
const char* StatusName(Status s);

struct Note {
  std::string id;
  std::string text;
};

struct ValueResult {
  std::string name;
  int dataSet = -1;  // -1: global
  double value = 0.0;
  double error = 0.0;  // standard error, scaled by the fit's noise; 0 when held
  double lower68 = 0.0, upper68 = 0.0, lower95 = 0.0, upper95 = 0.0;  // globals only
  bool limitsFound = false;
  std::string unit;
  bool floated = false;
};

struct DataSetResult {
  std::size_t points = 0;
  double rmsd = 0.0;
  double runsZ = 0.0;      // Wald-Wolfowitz z of the residuals' signs
  bool misfit = false;     // too few runs: the residuals are systematic
  std::vector<double> radius, data, fit;  // the fitted points
};

struct Summary {
  Status status = Status::kRefused;
  bool misfit = false;
  std::vector<std::string> flags;
  double rmsd = 0.0;
  double ssr = 0.0;
  std::size_t points = 0;
  std::size_t floated = 0;
  int iterations = 0;
  long evaluations = 0;
  std::vector<ValueResult> globals;
  std::vector<std::vector<ValueResult>> locals;
  std::vector<DataSetResult> dataSets;  // the fit of a set in a noise group includes the profile
  // The time-invariant noise of each group of Problem::tiNoiseGroups at its radii.
  std::vector<std::vector<double>> tiNoise;
  std::vector<Note> notes;
};

// The z value below which the runs of a data set's residuals call it a misfit
// (one-sided p = 0.001).
inline constexpr double kMisfitRunsZ = -3.09;

// The most a Gauss-Newton step from the end point may promise, in units of the fit's
// own noise variance, for the point to count as the minimum.
inline constexpr double kEndStepChiSquare = 0.25;

// Fits the problem: Marquardt-Levenberg with the model's exact derivatives over the
// floated globals and locals, from the parameters' values. The status is converged
// only when no step lowers the sum of squares, the Gauss-Newton step from the end
// promises less than kEndStepChiSquare and no floated value stands at a bound.
Summary Solve(const Options& options, const Problem& problem);

}  // namespace tarmic::engine
