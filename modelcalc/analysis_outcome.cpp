#include "modelcalc/analysis_outcome.h"

#include "distributions/distribution_file.h"
#include "distributions/distribution_peaks.h"
#include "modelcalc/conti_fit.h"
#include "modelcalc/conti_fit_params.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_end_check.h"
#include "modelcalc/fit_flags.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/model_computation.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// The entry of the saved state that holds f/f0 (its switch follows it).
constexpr std::size_t kFf0Entry = 20;

OutcomeParameter Parameter(std::string name, float value, std::string unit, bool floated, FitBounds bounds,
                           std::optional<double> error) {
  return {std::move(name), static_cast<double>(value), std::move(unit), floated, error,
          floated && bounds.AtLimit(value)};
}

// The values of the model as the analysis holds them now.
std::vector<OutcomeParameter> ModelParameters() {
  std::vector<OutcomeParameter> list;
  const float* p = AnalysisSwitches().pParams;
  list.push_back(Parameter("meniscus", DataSet().fMeniscus, "cm", ModelParams().bVaryMeniscus, ParamEntryBounds(13),
                           LastFitError(13)));
  list.push_back(Parameter("bottom", DataSet().fBottom, "cm", ModelParams().bVaryBottom, ParamEntryBounds(14),
                           LastFitError(14)));
  if (IsContinuousModel()) {
    // f/f0 and its switch are kept in the saved state's entries 20 and 21; the
    // continuous fit computes no standard errors.
    const std::vector<float> state = AnalysisStateVector();
    list.push_back(Parameter("f/f0", state[kFf0Entry], "", state[kFf0Entry + 1] != 0.0f,
                             ContiSlotBounds(kContiSlotFrictionalRatio), std::nullopt));
  } else if (ModelFlags().bDiscreteModel) {
    const std::string signal = SignalUnit();
    const auto entry = [&](std::string name, int slot, std::string unit) {
      list.push_back(Parameter(std::move(name), p[slot], std::move(unit), ParamEntryFloated(slot),
                               ParamEntryBounds(slot), LastFitError(slot)));
    };
    for (int k = 1; k <= nSpeciesSlots; ++k) {
      if (!AnalysisSwitches().pSpeciesLinked[k]) continue;  // a species switched off
      entry(Format("s%d", k), nSpeciesSlots + k, "S");
      if (ModelFlags().bFitMAndS)
        entry(Format("M%d", k), k, "g/mol");
      else
        entry(Format("D%d", k), k, "1e-7 cm^2/s");
      // The first species carries the total loading, the others their fractions.
      entry(Format("c%d", k), 2 * nSpeciesSlots + k, k == 1 ? signal : "fraction");
      // Loadings solved linearly are fitted too, outside the vector (no error).
      list.back().floated = list.back().floated || ModelParams().bLinearAmplitudes;
    }
    // The baseline is floated in the vector or solved linearly.
    OutcomeParameter baseline = Parameter("baseline", ModelParams().fBaseline, signal, ParamEntryFloated(15),
                                          ParamEntryBounds(15), LastFitError(15));
    baseline.floated = baseline.floated || ModelParams().bVaryBaseline;
    list.push_back(std::move(baseline));
  }
  return list;
}

}  // namespace

std::string SignalUnit() {
  // Fluorescence data count as absorbance data as well: they are asked first.
  if (ScanFile().bFluorescenceData) return "counts";
  if (ScanFile().bInterferenceData) return "fringes";
  if (ScanFile().bIntensityData) return "counts";
  return "OD";
}

const OutcomeParameter* FindParameter(const AnalysisOutcome& o, const std::string& name) {
  for (const OutcomeParameter& p : o.parameters)
    if (p.name == name) return &p;
  return nullptr;
}

AnalysisOutcome OutcomeOfComputation(bool fit) {
  AnalysisOutcome o;
  o.fit = fit;
  o.parameters = ModelParameters();
  if (IsContinuousModel()) {
    o.peakUnit = CurrentDistributionKind() == DistributionKind::MolarMass ? "g/mol" : "S";
    for (const DistributionPeak& peak : DistributionPeakList())
      if (peak.labelled)  // not a peak too small to be labelled
        o.peaks.push_back({static_cast<double>(peak.extent.averageX), static_cast<double>(peak.extent.area)});
  }
  if (!FitOfLoadedData()) return o;
  o.status = AnalysisOutcome::Status::Computed;
  o.rmsd = FitPointsRmsd(CurrentFitPoints(), &o.points);
  if (!fit) return o;
  const FitEnd& end = LastFitEnd();
  o.whyNotConverged = WhyNotConverged(end.outcome, end.report);
  if (!o.whyNotConverged.empty()) o.status = AnalysisOutcome::Status::NotConverged;
  o.atBounds = IsContinuousModel() ? ContiValuesAtLimit() : FloatedValuesAtLimit(end.report.undeterminedSpecies);
  o.misfitRatio = end.report.misfitRatio;
  o.systematicMisfit = end.report.systematicMisfit;
  o.messages = end.report.notes;
  o.flags = FitFlags(end.outcome, end.report);
  return o;
}

AnalysisOutcome OutcomeOfRun(bool computed) {
  if (computed) return OutcomeOfComputation(false);
  AnalysisOutcome o;
  o.parameters = ModelParameters();
  return o;
}

RunComputation RunLoadedData(Window* window) {
  RunComputation run;
  run.result = CalculateModel(window);
  run.outcome = OutcomeOfRun(run.result.ok());
  return run;
}

FitComputation FitLoadedData(Window* window, FitMethod method, FitReport& report) {
  const bool continuous = IsContinuousModel();
  FitComputation fit;
  fit.end = continuous ? ContiFit(window, method, report) : FitDriver(window, method, report);
  if (!continuous && fit.end != FitOutcome::NotStarted && fit.end != FitOutcome::Failed &&
      SearchSettings().bSaveBestParams)
    report.saved.Add(TmpSaveBestParams(window, false));
  fit.outcome = OutcomeOfComputation(true);
  return fit;
}

const char* OutcomeStatusName(AnalysisOutcome::Status status) {
  switch (status) {
    case AnalysisOutcome::Status::NotComputed: return "not computed";
    case AnalysisOutcome::Status::Computed: return "computed";
    case AnalysisOutcome::Status::NotConverged: return "not converged";
  }
  return "";
}

}  // namespace tarmic
