#include "batch/batch_summary.h"

#include <algorithm>
#include <optional>

#include "batch/batch_options.h"
#include "commands/model_commands.h"
#include "modelcalc/fit_flags.h"
#include "modelcalc/fit_rmsd.h"
#include "modelfit/model_flags.h"
#include "plot/screen_button.h"
#include "scandata/analysis_switches.h"
#include "resources/menus.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

double D(float v) { return static_cast<double>(v); }

// The digits the window's report gives a species' value: M in full, s, D and c to
// three decimals.
const char* SpeciesFormat(const OutcomeParameter& p) { return p.name[0] == 'M' ? "%f" : "%.3f"; }

std::string Yes(bool on) { return on ? "yes" : "no"; }

void Add(BatchSummary& s, std::string column, std::string value) {
  s.columns.push_back(std::move(column));
  s.values.push_back(std::move(value));
}

}  // namespace

int BatchExitCode(const std::string& status, bool saved) {
  if (saved && status == kStatusComputed) return kBatchComputed;
  if (saved && status == kStatusFlagged) return kBatchComputedWithFlags;
  return kBatchAnalysisRefused;
}

std::string SummaryStatus(const std::string& summaryText) {
  const std::size_t headerEnd = summaryText.find('\n');
  if (headerEnd == std::string::npos) return "";
  const std::size_t valuesEnd = summaryText.find('\n', headerEnd + 1);
  const std::string header = summaryText.substr(0, headerEnd);
  const std::string values = summaryText.substr(headerEnd + 1, valuesEnd == std::string::npos ? std::string::npos
                                                                                               : valuesEnd - headerEnd - 1);
  const auto cells = [](const std::string& line) {
    std::vector<std::string> c(1);
    for (char ch : line) {
      if (ch == '\t') c.emplace_back();
      else c.back().push_back(ch);
    }
    return c;
  };
  const std::vector<std::string> names = cells(header), cellsOfValues = cells(values);
  for (std::size_t i = 0; i < names.size() && i < cellsOfValues.size(); ++i)
    if (names[i] == "status") return cellsOfValues[i];
  return "";
}

std::string ActiveModelName() {
  if (const int id = ActiveModelCommand(); id != 0) {
    if (const MenuItem* item = FindMenuItem(GetMenuResource(kMenuFull), id)) {
      std::string text = item->text.substr(0, item->text.find('\t'));
      std::erase(text, '&');
      return text;
    }
  }
  // Models that only a parameter file chooses.
  if (ModelFlags().bMonomerDimer) return "monomer-dimer self-association";
  if (ModelFlags().bMonomerTrimer) return "monomer-trimer self-association";
  if (ModelFlags().bAssoc124) return "1-2-4 self-association";
  if (ModelFlags().bAssoc148) return "1-4-8 self-association";
  return ModelChosen() ? "model without a menu item" : "no model";
}

BatchSummary SummarizeAnalysis(const AnalysisOutcome& outcome, const std::string& data, int cell,
                               const std::string& status, bool computed) {
  BatchSummary s;
  Add(s, "data", data);
  Add(s, "cell", cell >= 0 ? std::to_string(cell) : std::string());
  Add(s, "model", ActiveModelName());
  Add(s, "status", status);
  // What a fit's result carries with it (FitFlags); a Run has no flags.
  if (outcome.fit) Add(s, "flags", computed ? FlagsText(outcome.flags) : std::string());
  const std::string signal = " [" + SignalUnit() + "]";
  // The rmsd as the window's report gives it, taken anew from the rows on show.
  std::string rmsd;
  if (computed) {
    FitRmsd();
    rmsd = Format("%f", D(Rmsd().fFitRmsd));
  }
  Add(s, "rmsd" + signal, rmsd);
  const auto value = [&](const char* format, double v) { return computed ? Format(format, v) : std::string(); };
  const auto error = [&](const OutcomeParameter& p) { return computed && p.error ? Format("%.4g", *p.error) : ""; };
  // The values of the model and the switches of what was fitted, as the outcome
  // of the analysis holds them at its end (a Fit's fitted values).
  const auto named = [&](const char* name) -> const OutcomeParameter& {
    static const OutcomeParameter none;
    const OutcomeParameter* p = FindParameter(outcome, name);
    return p ? *p : none;
  };
  const OutcomeParameter& meniscus = named("meniscus");
  const OutcomeParameter& bottom = named("bottom");
  Add(s, "meniscus [cm]", value("%.4f", meniscus.value));
  Add(s, "bottom [cm]", value("%.4f", bottom.value));
  Add(s, "fit meniscus", Yes(meniscus.floated));
  Add(s, "fit bottom", Yes(bottom.floated));
  Add(s, "TI noise", Yes(AnalysisSwitches().bFitTINoise));
  Add(s, "RI noise", Yes(AnalysisSwitches().bFitRINoise));
  if (const OutcomeParameter* ff0 = FindParameter(outcome, "f/f0")) {
    Add(s, "f/f0", value("%.4f", ff0->value));
    Add(s, "fit f/f0", Yes(ff0->floated));
    Add(s, "peaks", computed ? std::to_string(outcome.peaks.size()) : std::string());
  } else {
    // The species, each value with its error.
    for (const OutcomeParameter& p : outcome.parameters) {
      if (p.name == "meniscus" || p.name == "bottom" || p.name == "baseline") continue;
      const std::string unit = " [" + p.unit + "]";
      Add(s, p.name + unit, value(SpeciesFormat(p), p.value));
      Add(s, p.name + " error" + unit, error(p));
    }
  }
  return s;
}

std::string PeaksText(const AnalysisOutcome& outcome, const std::string& data, int cell,
                      const std::vector<MonteCarloPeak>& limitsOf) {
  std::string text = "data\tcell\tpeak\tposition\tarea\tposition low\tposition high\tarea low\tarea high\tunit\n";
  const char* position = outcome.peakUnit == "g/mol" ? "%.6g" : "%.3f";
  const std::vector<OutcomePeak>& peaks = outcome.peaks;
  std::string name = data;
  std::replace_if(name.begin(), name.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  for (std::size_t k = 0; k < peaks.size(); ++k) {
    std::vector<std::string> cells = {name, cell >= 0 ? std::to_string(cell) : std::string(), std::to_string(k + 1),
                                      Format(position, peaks[k].position), Format("%.4f", peaks[k].area)};
    const bool limits = k < limitsOf.size();
    const bool positioned = limits && limitsOf[k].positionSets > 0;
    cells.push_back(positioned ? Format("%g", D(limitsOf[k].positionLow)) : std::string());
    cells.push_back(positioned ? Format("%g", D(limitsOf[k].positionHigh)) : std::string());
    cells.push_back(limits ? Format("%g", D(limitsOf[k].areaLow)) : std::string());
    cells.push_back(limits ? Format("%g", D(limitsOf[k].areaHigh)) : std::string());
    cells.push_back(outcome.peakUnit);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) text.push_back('\t');
      text.append(cells[i]);
    }
    text.push_back('\n');
  }
  return text;
}

std::string SummaryText(const BatchSummary& summary) {
  std::string header, values;
  for (std::size_t i = 0; i < summary.columns.size(); ++i) {
    if (i > 0) {
      header += '\t';
      values += '\t';
    }
    header += summary.columns[i];
    // A tab or line break inside a value (a folder's name) would break the table.
    std::string v = summary.values[i];
    std::replace_if(v.begin(), v.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    values += v;
  }
  return header + "\n" + values + "\n";
}

}  // namespace tarmic
