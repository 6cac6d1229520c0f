#include "batch/batch_set.h"

#include <cmath>
#include <fstream>
#include <optional>

#include "modelcalc/fit_persistence.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "batch/batch_values.h"
#include "modelfit/param_checks.h"
#include "numerics/text_lines.h"
#include "scandata/text_io.h"
#include "storage/atomic_file.h"

namespace tarmic {

namespace {

enum class Applies { Every, Continuous, Species };

struct Named {
  std::string name;
  int line;  // 1-based line of the parameter file
  Applies applies;
  Quantity quantity;  // what the value is, and the values the analysis can use
  int species = 0;    // 1..4 for a species' value
  char kind = 0;      // 's', 'D', 'M' or 'c' for a species' value
};

// The quantities of the values, from the window's table: positions of a rotor
// cell, the grid of a distribution (a count of two points at least), the species'
// s, D and M. A Lamm solution takes no negative loading: the total loading c1 is 0
// or more, and the loadings of the other species are fractions of it.
constexpr Quantity kCellPosition{"position", "cm", Closed(kMinRotorRadius, kMaxCellRadius)};
constexpr Quantity kSetResolution{"resolution", "grid points", Count(2.0, kGridResolution.range.high)};
constexpr Quantity kTotalLoading{"total loading c1", "", Closed(0.0, kMaxSignal)};
constexpr Quantity kLoadingFraction{"fraction of the total loading", "", Closed(0.0, 1.0)};

// The names with their lines. Species k's block starts at entry 1 + 9 (k - 1):
// included, amplitude, its switch, D or M, its switch, s, its switch, ...; the
// continuous distributions keep their settings in the same entries.
std::vector<Named> Names() {
  std::vector<Named> names = {
      {"meniscus", 40, Applies::Every, NamedAs("meniscus", kCellPosition)},
      {"bottom", 41, Applies::Every, NamedAs("bottom", kCellPosition)},
      {"fit-from", 42, Applies::Every, NamedAs("left fitting limit", kRadiusQuantity)},
      {"fit-to", 43, Applies::Every, NamedAs("right fitting limit", kRadiusQuantity)},
      {"s-min", 5, Applies::Continuous, {"grid limit s-min", "S", kGridLimit.range}},
      {"s-max", 7, Applies::Continuous, {"grid limit s-max", "S", kGridLimit.range}},
      {"resolution", 3, Applies::Continuous, kSetResolution},
      {"confidence", 14, Applies::Continuous, kConfidenceLevel},
      {"ff0", 21, Applies::Continuous, kFrictionalRatio},
  };
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    const int entry = 1 + 9 * (k - 1);
    names.push_back({Format("c%d", k), entry + 2, Applies::Species, k == 1 ? kTotalLoading : kLoadingFraction, k, 'c'});
    names.push_back({Format("D%d", k), entry + 4, Applies::Species, kDiffusionCoefficient, k, 'D'});
    names.push_back({Format("M%d", k), entry + 4, Applies::Species, kMolarMass, k, 'M'});
    names.push_back({Format("s%d", k), entry + 6, Applies::Species, kSedimentationCoefficient, k, 's'});
  }
  return names;
}

std::optional<Named> Find(const std::string& name) {
  for (const Named& n : Names())
    if (n.name == name) return n;
  return std::nullopt;
}

// Why the analysis in effect has no use for the setting; empty when it has.
std::string NotApplicable(const Named& n) {
  switch (n.applies) {
    case Applies::Every: return {};
    case Applies::Continuous:
      return IsContinuousModel() ? std::string() : "the model of the parameter file is no continuous distribution";
    case Applies::Species:
      if (!ModelFlags().bDiscreteModel || IsContinuousModel()) return "the model of the parameter file has no discrete species";
      if (!AnalysisSwitches().pSpeciesLinked[n.species])
        return "species " + std::to_string(n.species) + " is not part of the model of the parameter file";
      if (n.kind == 'M' && !ModelFlags().bFitMAndS) return "the species have D, not M (no \"Fit M and s\")";
      if (n.kind == 'D' && ModelFlags().bFitMAndS) return "the species have M, not D (\"Fit M and s\")";
      return {};
  }
  return {};
}

}  // namespace

std::string ParseBatchSetting(const std::string& text, BatchSetting* setting) {
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos) return "--set " + text + ": give NAME=VALUE";
  const std::string name = text.substr(0, eq), value = text.substr(eq + 1);
  const std::optional<Named> n = Find(name);
  if (!n) return "--set: unknown name " + name + " (tarmic-batch --help lists the names)";
  double number = 0.0;
  if (std::string why = BatchValueRefusal("--set " + text, n->quantity, value, &number); !why.empty()) return why;
  *setting = {name, value, number};
  return {};
}

std::string SettingsNotApplicable(const std::vector<BatchSetting>& settings) {
  for (const BatchSetting& s : settings)
    if (const std::string why = NotApplicable(*Find(s.name)); !why.empty())
      return "--set " + s.name + "=" + s.value + " does not apply: " + why;
  return {};
}

std::string BatchSetUsage() {
  return "  NAME of --set NAME=VALUE (positions in cm, s in S, D in 1e-7 cm^2/s, M in g/mol):\n"
         "    meniscus, bottom, fit-from, fit-to          the data's limits, every model\n"
         "    s-min, s-max, resolution, ff0, confidence   the continuous distributions\n"
         "    s1..s4, D1..D4 (M1..M4 with Fit M and s), c1..c4\n"
         "                                                the discrete species' start values\n";
}

std::string WriteParametersWithSettings(const std::string& from, const std::string& to,
                                        const std::vector<BatchSetting>& settings) {
  std::vector<std::string> lines;
  {
    // The file is written again with the settings: a last line cut short is not
    // carried into it.
    std::string why;
    if (!ReadTextFileLines(from, LastLine::kRefused, &lines, &why))
      return "the parameter file " + from + " cannot be read: " + why;
  }
  for (const BatchSetting& s : settings) {
    const Named n = *Find(s.name);
    if (static_cast<std::size_t>(n.line) > lines.size())
      return "--set " + s.name + ": the parameter file " + from + " has no line " + std::to_string(n.line);
    lines[static_cast<std::size_t>(n.line - 1)] = s.value;
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  std::string why;
  return WriteTextFileAtomically(to, text, &why) ? std::string() : WithReason("could not write " + to, why);
}

std::string CheckSettingsTaken(const std::vector<BatchSetting>& settings) {
  if (settings.empty()) return {};
  const std::vector<float> state = AnalysisStateVector();
  for (const BatchSetting& s : settings) {
    const Named n = *Find(s.name);
    const std::string given = "--set " + s.name + "=" + s.value;
    if (const std::string why = NotApplicable(n); !why.empty()) return given + " does not apply: " + why;
    const float wanted = static_cast<float>(s.number);
    const float held = state[static_cast<std::size_t>(n.line - 1)];
    // The file holds six decimals; a value the analysis moved differs by more.
    if (std::fabs(held - wanted) > 5e-6f * std::max(1.0f, std::fabs(wanted)))
      return given + " was not taken: the analysis holds " + Format("%g", static_cast<double>(held));
  }
  return {};
}

}  // namespace tarmic
