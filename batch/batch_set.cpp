#include "batch/batch_set.h"

#include <cmath>
#include <fstream>
#include <optional>

#include "modelcalc/fit_persistence.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/number_input.h"
#include "numerics/text_lines.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

enum class Applies { Every, Continuous, Species };

struct Named {
  std::string name;
  int line;  // 1-based line of the parameter file
  Applies applies;
  int species = 0;  // 1..4 for a species' value
  char kind = 0;    // 's', 'D', 'M' or 'c' for a species' value
};

// The names with their lines. Species k's block starts at entry 1 + 9 (k - 1):
// included, amplitude, its switch, D or M, its switch, s, its switch, ...; the
// continuous distributions keep their settings in the same entries.
std::vector<Named> Names() {
  std::vector<Named> names = {
      {"meniscus", 40, Applies::Every},   {"bottom", 41, Applies::Every},
      {"fit-from", 42, Applies::Every},   {"fit-to", 43, Applies::Every},
      {"s-min", 5, Applies::Continuous},  {"s-max", 7, Applies::Continuous},
      {"resolution", 3, Applies::Continuous}, {"confidence", 14, Applies::Continuous},
      {"ff0", 21, Applies::Continuous},
  };
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    const int entry = 1 + 9 * (k - 1);
    names.push_back({Format("c%d", k), entry + 2, Applies::Species, k, 'c'});
    names.push_back({Format("D%d", k), entry + 4, Applies::Species, k, 'D'});
    names.push_back({Format("M%d", k), entry + 4, Applies::Species, k, 'M'});
    names.push_back({Format("s%d", k), entry + 6, Applies::Species, k, 's'});
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
      if (!bDiscreteModel || IsContinuousModel()) return "the model of the parameter file has no discrete species";
      if (!pSpeciesIncluded[n.species])
        return "species " + std::to_string(n.species) + " is not part of the model of the parameter file";
      if (n.kind == 'M' && !bFitMAndS) return "the species have D, not M (no \"Fit M and s\")";
      if (n.kind == 'D' && bFitMAndS) return "the species have M, not D (\"Fit M and s\")";
      return {};
  }
  return {};
}

}  // namespace

std::string ParseBatchSetting(const std::string& text, BatchSetting* setting) {
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos) return "--set " + text + ": give NAME=VALUE";
  const std::string name = text.substr(0, eq), value = text.substr(eq + 1);
  if (!Find(name)) return "--set: unknown name " + name + " (tarmic-batch --help lists the names)";
  float parsed = 0.0f;
  if (!ParseFloatText(value, &parsed) || !std::isfinite(parsed))
    return "--set " + name + "=" + value + ": \"" + value + "\" is not a number";
  // A distribution needs two grid points at least; the count is a whole number.
  if (name == "resolution" && (parsed < 2.0f || parsed != std::floor(parsed)))
    return "--set resolution=" + value + ": the resolution is a whole number of grid points, at least 2";
  *setting = {name, value};
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
    std::ifstream in;
    std::string why;
    if (!OpenTextFile(from, &in, &why)) return "the parameter file " + from + " cannot be read: " + why;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  for (const BatchSetting& s : settings) {
    const Named n = *Find(s.name);
    if (static_cast<std::size_t>(n.line) > lines.size())
      return "--set " + s.name + ": the parameter file " + from + " has no line " + std::to_string(n.line);
    lines[static_cast<std::size_t>(n.line - 1)] = s.value;
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return out ? std::string() : "could not write " + to;
}

std::string CheckSettingsTaken(const std::vector<BatchSetting>& settings) {
  if (settings.empty()) return {};
  const std::vector<float> state = AnalysisStateVector();
  for (const BatchSetting& s : settings) {
    const Named n = *Find(s.name);
    const std::string given = "--set " + s.name + "=" + s.value;
    if (const std::string why = NotApplicable(n); !why.empty()) return given + " does not apply: " + why;
    float wanted = 0.0f;
    ParseFloatText(s.value, &wanted);
    const float held = state[static_cast<std::size_t>(n.line - 1)];
    // The file holds six decimals; a value the analysis moved differs by more.
    if (std::fabs(held - wanted) > 5e-6f * std::max(1.0f, std::fabs(wanted)))
      return given + " was not taken: the analysis holds " + Format("%g", static_cast<double>(held));
  }
  return {};
}

}  // namespace tarmic
