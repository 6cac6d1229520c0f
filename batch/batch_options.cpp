#include "batch/batch_options.h"

#include "numerics/number_input.h"
#include "resources/command_ids.h"

namespace tarmic {

const char* const kBatchUsage =
    "usage: tarmic-batch --parameters FILE [--fit] [--method simplex|annealing|marquardt]\n"
    "                    [--output DIR] [--replace] [--set NAME=VALUE]... [--monte-carlo N]\n"
    "                    [--save-noise] [--equilibrium] SCAN...\n"
    "  --parameters FILE  the saved parameter file of the analysis (the model included)\n"
    "  --fit              Fit instead of Run\n"
    "  --method M         the fit's search: simplex, annealing or marquardt (with --fit)\n"
    "  --output DIR       where the results go (default: the folder of the scans)\n"
    "  --replace          replace existing results (otherwise they are never replaced)\n"
    "  --set NAME=VALUE   a value of the analysis instead of the parameter file's\n"
    "                     (the names follow; repeat --set for more)\n"
    "  --monte-carlo N    Monte Carlo for Distributions with N data sets: the limit files\n"
    "                     and the 68 % limits of every peak (summary columns\n"
    "                     position-limits and area-limits)\n"
    "  --save-noise       Save Systematic Noise with the results\n"
    "  --equilibrium      the scans are equilibrium data, loaded as \"load sedimentation\n"
    "                     equilibrium data\" loads them\n"
    "  SCAN...            the scan files, loaded as Load New Files loads them\n";

namespace {

int MethodCommand(const std::string& name) {
  if (name == "simplex") return kCmFitSimplex;
  if (name == "annealing") return kCmFitAnnealing;
  if (name == "marquardt") return kCmFitMarquardt;
  return 0;
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
    const bool takesValue = arg == "--parameters" || arg == "--output" || arg == "--method" || arg == "--set" ||
                            arg == "--monte-carlo";
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
    } else if (arg == "--parameters") {
      o.parameters = value;
    } else if (arg == "--output") {
      o.output = value;
    } else if (arg == "--method") {
      o.methodCommand = MethodCommand(value);
      if (o.methodCommand == 0) return refuse("unknown method " + value + " (simplex, annealing or marquardt)");
    } else if (arg == "--set") {
      BatchSetting setting;
      if (std::string why = ParseBatchSetting(value, &setting); !why.empty()) return refuse(std::move(why));
      for (const BatchSetting& earlier : o.settings)
        if (earlier.name == setting.name) return refuse("--set " + setting.name + " is given twice");
      o.settings.push_back(std::move(setting));
    } else if (arg == "--monte-carlo") {
      float sets = 0.0f;
      if (o.monteCarloSets != 0) return refuse("--monte-carlo is given twice");
      if (!ParseFloatText(value, &sets) || sets < 2.0f || sets > 100000.0f || sets != static_cast<float>(static_cast<int>(sets)))
        return refuse("--monte-carlo " + value + ": the number of data sets is a whole number from 2 to 100000");
      o.monteCarloSets = static_cast<int>(sets);
    } else if (arg == "--save-noise") {
      o.saveNoise = true;
    } else if (arg == "--equilibrium") {
      o.equilibrium = true;
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
  if (o.scans.empty()) return refuse("no scan files given");
  result.options = std::move(o);
  return result;
}

}  // namespace tarmic
