// The command line of tarmic-batch: the parameter file, the analysis (Run, or Fit
// with a search method), where the results go, whether existing results may be
// replaced, and the scans.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch/batch_set.h"

namespace tarmic {

// The exit codes of tarmic-batch.
inline constexpr int kBatchComputed = 0;          // the analysis was computed without a flag and saved
inline constexpr int kBatchAnalysisRefused = 1;    // refused, not computed, stopped or not saved
inline constexpr int kBatchInputRefused = 2;       // bad usage, refused input or an existing result
inline constexpr int kBatchComputedWithFlags = 3;  // computed and saved, with flags (summary's flags column)

struct BatchOptions {
  std::string parameters;  // the saved parameter file of the analysis
  bool fit = false;        // Fit instead of Run
  int methodCommand = 0;   // the Fitting Options command of --method; 0: the method in effect
  std::string output;      // empty: the folder of the data
  bool replace = false;    // existing results may be replaced
  std::vector<std::string> scans;
  // The seed of the random numbers (the simplex's start, annealing); none: one is
  // drawn and said, so that the run can be repeated.
  std::optional<std::uint32_t> seed;
  // Simulated annealing's settings (--method annealing), each as its input of
  // "Fit With Simulated Annealing" takes it; none: the value the input proposes.
  std::optional<float> annealTemperature;  // start temperature (relative rmsd increase)
  std::optional<int> annealSteps;          // temperature steps
  std::optional<int> annealIterations;     // evaluations per temperature
  std::optional<int> annealFinal;          // 1: Marquardt-Levenberg, 2: simplex, 0: none
  // Options of a laboratory's series of runs (batch_set.h, batch_output.h).
  std::vector<BatchSetting> settings;  // --set NAME=VALUE, in the order given
  int monteCarloSets = 0;              // --monte-carlo N; 0: none
  bool saveNoise = false;              // --save-noise
  bool equilibrium = false;            // --equilibrium: loaded as equilibrium data
  bool velocity = false;               // --velocity: velocity data, whatever the test of the profiles says
  std::optional<int> cell;             // --cell N: the scans of cell N alone
  std::optional<int> wavelength;       // --wavelength W: the scans of W nm alone
  bool pictures = true;                // pictures of the result beside it (--no-pictures: none)
  // The command line as given (the manifest of the results records it).
  std::vector<std::string> arguments;
};

// What the command line asks for: options to run, or the usage text (--help), or a
// refusal saying what is wrong.
struct BatchArguments {
  std::optional<BatchOptions> options;
  bool help = false;
  bool version = false;  // --version
  std::string error;
};
BatchArguments ParseBatchArguments(const std::vector<std::string>& args);

// The usage text, one option a line.
extern const char* const kBatchUsage;

// The program's version and the commit of its build ("0.1 (commit 1a2b3c4d5e6f,
// modified)", "commit unknown" when built without git), as --version and the
// manifest of the results give it.
const char* BatchVersion();

}  // namespace tarmic
