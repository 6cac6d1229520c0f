#include "batch/batch_summary.h"

#include <algorithm>

#include "app/xla_window.h"
#include "commands/model_commands.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_peaks.h"
#include "modelcalc/fit_rmsd.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "plot/screen_button.h"
#include "resources/menus.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

double D(float v) { return static_cast<double>(v); }

// "position:area" of every peak the window labels, blank-separated, each position
// in the unit of the distribution's grid: S, or g/mol for c(M).
std::string PeaksOfDistribution() {
  const bool mass = CurrentDistributionKind() == DistributionKind::MolarMass;
  std::string peaks;
  for (const DistributionPeak& peak : DistributionPeakList()) {
    if (!peak.labelled) continue;  // a peak too small to be labelled
    if (!peaks.empty()) peaks += ' ';
    peaks += Format(mass ? "%.6g:%.4f" : "%.3f:%.4f", D(peak.extent.averageX), D(peak.extent.area));
  }
  return peaks;
}

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
  if (bMonomerDimer) return "monomer-dimer self-association";
  if (bMonomerTrimer) return "monomer-trimer self-association";
  if (bAssoc124) return "1-2-4 self-association";
  if (bAssoc148) return "1-4-8 self-association";
  return ModelChosen() ? "model without a menu item" : "no model";
}

BatchSummary SummarizeAnalysis(TXLAWindow&, const std::string& data, const std::string& status,
                               bool computed) {
  BatchSummary s;
  Add(s, "data", data);
  Add(s, "model", ActiveModelName());
  Add(s, "status", status);
  // The rmsd as the window's report gives it, taken anew from the rows on show.
  std::string rmsd;
  if (computed) {
    FitRmsd();
    rmsd = Format("%f", D(fFitRmsd));
  }
  Add(s, "rmsd", rmsd);
  if (IsContinuousModel()) {
    const bool sizeShape = bCsff0Model || bCsff0OneDiscrete;
    Add(s, "peaks", computed && !sizeShape ? PeaksOfDistribution() : std::string());
  } else if (bDiscreteModel) {
    UnpackModelParams();
    for (int k = 1; k <= nSpeciesSlots; ++k) {
      if (!pSpeciesIncluded[k]) continue;
      Add(s, Format("s%d", k), computed ? Format("%.3f", D(pSpeciesS[k])) : "");
      if (bFitMAndS)
        Add(s, Format("M%d", k), computed ? Format("%f", D(pSpeciesMassOrD[k])) : "");
      else
        Add(s, Format("D%d", k), computed ? Format("%.3f", D(pSpeciesMassOrD[k])) : "");
      // The first species carries the total, the others their fractions.
      Add(s, Format("c%d", k), computed ? Format("%.3f", D(pParams[8 + k])) : "");
    }
  }
  return s;
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
