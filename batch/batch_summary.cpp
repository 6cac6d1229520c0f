#include "batch/batch_summary.h"

#include <algorithm>
#include <optional>

#include "app/xla_window.h"
#include "commands/model_commands.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_peaks.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/fit_report.h"
#include "modelcalc/fit_rmsd.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "plot/screen_button.h"
#include "scandata/analysis_switches.h"
#include "scandata/scan_file.h"
#include "resources/menus.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

double D(float v) { return static_cast<double>(v); }

// The unit of the distribution's positions: S, or g/mol for c(M).
std::string PositionUnit() { return CurrentDistributionKind() == DistributionKind::MolarMass ? "g/mol" : "S"; }

// The peaks the window labels.
std::vector<DistributionPeak> LabelledPeaks() {
  std::vector<DistributionPeak> peaks;
  for (const DistributionPeak& peak : DistributionPeakList())
    if (peak.labelled) peaks.push_back(peak);  // not a peak too small to be labelled
  return peaks;
}

// The entry of the saved state that holds f/f0 (its switch follows it).
constexpr std::size_t kFf0Entry = 20;

std::string Yes(bool on) { return on ? "yes" : "no"; }

void Add(BatchSummary& s, std::string column, std::string value) {
  s.columns.push_back(std::move(column));
  s.values.push_back(std::move(value));
}

}  // namespace

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

std::string SignalUnit() {
  // Fluorescence data count as absorbance data as well: they are asked first.
  if (ScanFile().bFluorescenceData) return "counts";
  if (ScanFile().bInterferenceData) return "fringes";
  if (ScanFile().bIntensityData) return "counts";
  return "OD";
}

BatchSummary SummarizeAnalysis(TXLAWindow&, const std::string& data, int cell, const std::string& status,
                               bool computed) {
  BatchSummary s;
  Add(s, "data", data);
  Add(s, "cell", cell >= 0 ? std::to_string(cell) : std::string());
  Add(s, "model", ActiveModelName());
  Add(s, "status", status);
  const std::string signal = " [" + SignalUnit() + "]";
  // The rmsd as the window's report gives it, taken anew from the rows on show.
  std::string rmsd;
  if (computed) {
    FitRmsd();
    rmsd = Format("%f", D(Rmsd().fFitRmsd));
  }
  Add(s, "rmsd" + signal, rmsd);
  const auto value = [&](const char* format, double v) { return computed ? Format(format, v) : std::string(); };
  // The cell and the switches of what was fitted, as the analysis holds them at its
  // end (a Fit's fitted values).
  Add(s, "meniscus [cm]", value("%.4f", D(DataSet().fMeniscus)));
  Add(s, "bottom [cm]", value("%.4f", D(DataSet().fBottom)));
  Add(s, "fit meniscus", Yes(ModelParams().bVaryMeniscus));
  Add(s, "fit bottom", Yes(ModelParams().bVaryBottom));
  Add(s, "TI noise", Yes(AnalysisSwitches().bFitTINoise));
  Add(s, "RI noise", Yes(AnalysisSwitches().bFitRINoise));
  if (IsContinuousModel()) {
    // f/f0 and its switch are kept in the saved state's entries 20 and 21.
    const std::vector<float> state = AnalysisStateVector();
    Add(s, "f/f0", value("%.4f", D(state[kFf0Entry])));
    Add(s, "fit f/f0", Yes(state[kFf0Entry + 1] != 0.0f));
    Add(s, "peaks", computed ? std::to_string(LabelledPeaks().size()) : std::string());
  } else if (ModelFlags().bDiscreteModel) {
    UnpackModelParams();
    for (int k = 1; k <= nSpeciesSlots; ++k) {
      if (!AnalysisSwitches().pSpeciesLinked[k]) continue;
      const SpeciesErrors e = LastFitSpeciesErrors(k);
      const auto error = [&](const std::optional<double>& v) { return computed && v ? Format("%.4g", *v) : ""; };
      Add(s, Format("s%d [S]", k), value("%.3f", D(ModelParams().pSpeciesS[k])));
      Add(s, Format("s%d error [S]", k), error(e.s));
      if (ModelFlags().bFitMAndS) {
        Add(s, Format("M%d [g/mol]", k), value("%f", D(ModelParams().pSpeciesMassOrD[k])));
        Add(s, Format("M%d error [g/mol]", k), error(e.massOrD));
      } else {
        Add(s, Format("D%d [1e-7 cm^2/s]", k), value("%.3f", D(ModelParams().pSpeciesMassOrD[k])));
        Add(s, Format("D%d error [1e-7 cm^2/s]", k), error(e.massOrD));
      }
      // The first species carries the total loading, the others their fractions.
      const std::string unit = k == 1 ? signal : " [fraction]";
      Add(s, Format("c%d", k) + unit, value("%.3f", D(AnalysisSwitches().pParams[8 + k])));
      Add(s, Format("c%d error", k) + unit, error(e.c));
    }
  }
  return s;
}

std::string PeaksText(const std::string& data, int cell, const std::vector<MonteCarloPeak>& limitsOf) {
  std::string text = "data\tcell\tpeak\tposition\tarea\tposition low\tposition high\tarea low\tarea high\tunit\n";
  const bool mass = CurrentDistributionKind() == DistributionKind::MolarMass;
  const char* position = mass ? "%.6g" : "%.3f";
  const std::vector<DistributionPeak> peaks = LabelledPeaks();
  std::string name = data;
  std::replace_if(name.begin(), name.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  for (std::size_t k = 0; k < peaks.size(); ++k) {
    std::vector<std::string> cells = {name, cell >= 0 ? std::to_string(cell) : std::string(), std::to_string(k + 1),
                                      Format(position, D(peaks[k].extent.averageX)),
                                      Format("%.4f", D(peaks[k].extent.area))};
    const bool limits = k < limitsOf.size();
    const bool positioned = limits && limitsOf[k].positionSets > 0;
    cells.push_back(positioned ? Format("%g", D(limitsOf[k].positionLow)) : std::string());
    cells.push_back(positioned ? Format("%g", D(limitsOf[k].positionHigh)) : std::string());
    cells.push_back(limits ? Format("%g", D(limitsOf[k].areaLow)) : std::string());
    cells.push_back(limits ? Format("%g", D(limitsOf[k].areaHigh)) : std::string());
    cells.push_back(PositionUnit());
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
