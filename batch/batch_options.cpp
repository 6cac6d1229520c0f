#include "batch/batch_options.h"

#include "batch/batch_values.h"
#include "build_version.h"
#include "numerics/value_ranges.h"
#include "resources/command_ids.h"

namespace tarmic {

const char* const kBatchUsage =
    "usage: tarmic-batch --parameters FILE [--fit] [--method simplex|annealing|marquardt]\n"
    "                    [--output DIR] [--replace] [--set NAME=VALUE]... [--monte-carlo N]\n"
    "                    [--save-noise] [--equilibrium | --velocity] [--cell N] [--wavelength W]\n"
    "                    [--no-pictures] SCAN...\n"
    "       tarmic-batch --report DIR TASKS\n"
    "       tarmic-batch --global --model NAME --output DIR FILE.xp... (--global --help)\n"
    "       tarmic-batch --version | --help\n"
    "  --parameters FILE  the saved parameter file of the analysis (the model included)\n"
    "  --fit              Fit instead of Run\n"
    "  --method M         the fit's search: simplex, annealing or marquardt (with --fit)\n"
    "  --output DIR       where the results go (default: the folder of the scans)\n"
    "  --replace          replace existing results (otherwise they are never replaced)\n"
    "  --seed N           the seed of the random numbers (0 to 4294967295); without it one\n"
    "                     is drawn, written on standard error and in the summary\n"
    "  --anneal-temperature T  annealing's start temperature (relative rmsd increase)\n"
    "  --anneal-steps N        annealing's number of temperature steps\n"
    "  --anneal-iterations N   annealing's number of iterations per temperature\n"
    "  --anneal-final F        after annealing: ml, simplex or none\n"
    "                     (with --method annealing; each defaults to the value\n"
    "                     \"Fit With Simulated Annealing\" proposes: 2, 10, 500, ml)\n"
    "  --set NAME=VALUE   a value of the analysis instead of the parameter file's\n"
    "                     (the names follow; repeat --set for more)\n"
    "  --monte-carlo N    Monte Carlo for Distributions with N data sets: the limit files\n"
    "                     and the 68 % limits of every peak (in peaks.tsv)\n"
    "  --save-noise       Save Systematic Noise with the results\n"
    "  --equilibrium      the scans are equilibrium data, loaded as \"load sedimentation\n"
    "                     equilibrium data\" loads them; a velocity run (profiles that\n"
    "                     change over scans minutes apart beyond their noise) is refused\n"
    "  --velocity         the scans are a velocity run, analysed as one whatever the test\n"
    "                     of their profiles says, unless they are equilibrium data beyond\n"
    "                     doubt (unchanged at two or more rotor speeds). Without either,\n"
    "                     the scans are velocity data and are refused where they show\n"
    "                     equilibrium (no profile changes over two hours or more)\n"
    "  --cell N           analyse the scans of cell N (line 2 of the scan files) alone;\n"
    "                     scans of more than one cell or wavelength are never one set\n"
    "  --wavelength W     analyse the scans of wavelength W nm (line 2 of the scan\n"
    "                     files, rounded to whole nm) alone\n"
    "  --no-pictures      no pictures of the result (by default the data with the fit,\n"
    "                     the residuals and a distribution or the species are drawn\n"
    "                     beside the results as SVG and PNG)\n"
    "  --report DIR TASKS writes DIR/report.html: the tasks of a job array\n"
    "                     (scripts/tarmic-array.sbatch) in one page; TASKS lists\n"
    "                     them, a folder and a tab and its cell a line\n"
    "  --version          the program's version and the commit it was built from\n"
    "  SCAN...            the scan files, loaded as Load New Files loads them\n"
    "exit codes: 0 computed and saved; 3 computed with flags and saved (the summary's\n"
    "  status \"computed with flags\", its flags column names them: at a bound: NAME =\n"
    "  VALUE, not converged, grid, misfit); 1 not computed, stopped or not saved;\n"
    "  2 bad usage, input refused or an existing result (nothing written)\n";

const char* BatchVersion() { return TARMIC_VERSION " (" TARMIC_BUILD_COMMIT ")"; }

namespace {

int MethodCommand(const std::string& name) {
  if (name == "simplex") return kCmFitSimplex;
  if (name == "annealing") return kCmFitAnnealing;
  if (name == "marquardt") return kCmFitMarquardt;
  return 0;
}

// ---- the seed and simulated annealing's settings ----
// The options of this block, each with a value.
bool IsRunSettingOption(const std::string& arg) {
  return arg == "--seed" || arg == "--anneal-temperature" || arg == "--anneal-steps" ||
         arg == "--anneal-iterations" || arg == "--anneal-final";
}

// Takes the value of an option of the block into o: "" when taken, else why not.
std::string TakeRunSetting(const std::string& arg, const std::string& value, BatchOptions& o) {
  const bool given = arg == "--seed"                 ? o.seed.has_value()
                     : arg == "--anneal-temperature" ? o.annealTemperature.has_value()
                     : arg == "--anneal-steps"       ? o.annealSteps.has_value()
                     : arg == "--anneal-iterations"  ? o.annealIterations.has_value()
                                                     : o.annealFinal.has_value();
  if (given) return arg + " is given twice";
  // A number the input of "Fit With Simulated Annealing" takes, judged as it judges
  // what is typed; a count is a whole number.
  double v = 0.0;
  const std::string shown = arg + " " + value;
  if (arg == "--seed") {
    if (std::string why = BatchValueRefusal(shown, kBatchSeed, value, &v); !why.empty()) return why;
    o.seed = static_cast<std::uint32_t>(v);
    return "";
  }
  if (arg == "--anneal-temperature") {
    if (std::string why = BatchValueRefusal(shown, kAnnealTemperature, value, &v); !why.empty()) return why;
    o.annealTemperature = static_cast<float>(v);
    return "";
  }
  if (arg == "--anneal-steps" || arg == "--anneal-iterations") {
    const Quantity q = arg == "--anneal-steps" ? NamedAs("number of temperature steps", kAnnealSteps)
                                               : NamedAs("number of iterations per temperature", kAnnealSteps);
    if (std::string why = BatchValueRefusal(shown, q, value, &v); !why.empty()) return why;
    (arg == "--anneal-steps" ? o.annealSteps : o.annealIterations) = static_cast<int>(v);
    return "";
  }
  // --anneal-final
  if (value == "ml") o.annealFinal = 1;
  else if (value == "simplex") o.annealFinal = 2;
  else if (value == "none") o.annealFinal = 0;
  else return "--anneal-final " + value + ": the final method is ml, simplex or none";
  return "";
}

// Annealing's settings apply to the annealing search only.
bool AnyAnnealSetting(const BatchOptions& o) {
  return o.annealTemperature || o.annealSteps || o.annealIterations || o.annealFinal;
}

}  // namespace

BatchArguments ParseBatchArguments(const std::vector<std::string>& args) {
  BatchArguments result;
  BatchOptions o;
  bool parametersGiven = false, outputGiven = false, methodGiven = false, optionsEnded = false;
  const auto refuse = [&](std::string why) {
    result.error = std::move(why);
    return result;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      o.scans.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" or "--name value".
    std::optional<std::string> inlineValue;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos && arg.starts_with("--")) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
    }
    const bool takesValue = arg == "--parameters" || arg == "--output" || arg == "--method" ||
                            IsRunSettingOption(arg) || arg == "--set" || arg == "--monte-carlo" ||
                            arg == "--cell" || arg == "--wavelength";
    if (!takesValue && inlineValue) return refuse(arg + " takes no value");
    std::string value;
    if (takesValue) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return refuse(arg + " needs a value");
      }
      if (value.empty()) return refuse(arg + " needs a value");
    }
    bool* given = arg == "--parameters" ? &parametersGiven
                  : arg == "--output"   ? &outputGiven
                  : arg == "--method"   ? &methodGiven
                                        : nullptr;
    if (given && *given) return refuse(arg + " is given twice");
    if (given) *given = true;
    if (arg == "--help" || arg == "-h") {
      result.help = true;
      return result;
    } else if (arg == "--version") {
      result.version = true;
      return result;
    } else if (arg == "--parameters") {
      o.parameters = value;
    } else if (arg == "--output") {
      o.output = value;
    } else if (arg == "--method") {
      o.methodCommand = MethodCommand(value);
      if (o.methodCommand == 0) return refuse("unknown method " + value + " (simplex, annealing or marquardt)");
    } else if (IsRunSettingOption(arg)) {
      if (std::string why = TakeRunSetting(arg, value, o); !why.empty()) return refuse(why);
    } else if (arg == "--set") {
      BatchSetting setting;
      if (std::string why = ParseBatchSetting(value, &setting); !why.empty()) return refuse(std::move(why));
      for (const BatchSetting& earlier : o.settings)
        if (earlier.name == setting.name) return refuse("--set " + setting.name + " is given twice");
      o.settings.push_back(std::move(setting));
    } else if (arg == "--monte-carlo") {
      if (o.monteCarloSets != 0) return refuse("--monte-carlo is given twice");
      double sets = 0.0;
      if (std::string why = BatchValueRefusal("--monte-carlo " + value, kMonteCarloSets, value, &sets); !why.empty())
        return refuse(std::move(why));
      o.monteCarloSets = static_cast<int>(sets);
    } else if (arg == "--cell" || arg == "--wavelength") {
      // The cell, or the wavelength in whole nm, of the scans analysed.
      std::optional<int>& chosen = arg == "--cell" ? o.cell : o.wavelength;
      if (chosen) return refuse(arg + " is given twice");
      double v = 0.0;
      if (std::string why = BatchValueRefusal(arg + " " + value, arg == "--cell" ? kBatchCell : kBatchWavelength, value, &v);
          !why.empty())
        return refuse(std::move(why));
      chosen = static_cast<int>(v);
    } else if (arg == "--save-noise") {
      o.saveNoise = true;
    } else if (arg == "--equilibrium") {
      o.equilibrium = true;
    } else if (arg == "--velocity") {
      o.velocity = true;
    } else if (arg == "--no-pictures") {
      o.pictures = false;
    } else if (arg == "--fit") {
      o.fit = true;
    } else if (arg == "--replace") {
      o.replace = true;
    } else {
      return refuse("unknown option " + arg);
    }
  }
  if (!parametersGiven) return refuse("--parameters FILE is missing");
  if (methodGiven && !o.fit) return refuse("--method chooses the search of a fit: give --fit too");
  if (AnyAnnealSetting(o) && o.methodCommand != kCmFitAnnealing)
    return refuse("the --anneal- settings are simulated annealing's: give --method annealing too");
  if (o.velocity && o.equilibrium) return refuse("--velocity and --equilibrium name two kinds of data: give one");
  if (o.scans.empty()) return refuse("no scan files given");
  o.arguments = args;
  result.options = std::move(o);
  return result;
}

}  // namespace tarmic
