#include "modelcalc/fit_flags.h"

#include <cmath>

#include "scandata/text_io.h"

namespace tarmic {

namespace {

// Whether the fit's searches ended by their own convergence test. The check of the
// end (SayFitEnd) clears report.converged when it found anything; what the search
// itself said is kept in searchConverged.
bool SearchConverged(FitOutcome outcome, const FitReport& report) {
  if (outcome == FitOutcome::Interrupted || report.simplexNotConverged) return false;
  return report.converged || report.searchConverged;
}

std::string AtBoundText(const FitReport& report) {
  std::string text = "at a bound: ";
  for (std::size_t i = 0; i < report.atBound.size(); ++i) text += (i ? ", " : "") + report.atBound[i];
  return text;
}

std::string UndeterminedText(const FitReport& report) {
  std::string text = "species ";
  for (std::size_t i = 0; i < report.undeterminedSpecies.size(); ++i)
    text += (i ? ", " : "") + std::to_string(report.undeterminedSpecies[i]);
  return text + " not determined";
}

std::string ImplausibleText(const FitReport& report) {
  std::string text;
  for (const auto& [k, what] : report.implausibleSpecies) text += (text.empty() ? "" : ", ") + what;
  return text;
}

// One row of the table: the flag's id, whether the report raises it, its text.
struct FlagRow {
  const char* id;
  bool (*raised)(FitOutcome, const FitReport&);
  std::string (*text)(const FitReport&);
};

const FlagRow kFlagRows[] = {
    {kFlagAtBound, [](FitOutcome, const FitReport& r) { return !r.atBound.empty(); }, AtBoundText},
    {kFlagNotConverged,
     [](FitOutcome o, const FitReport& r) { return !SearchConverged(o, r) || r.localStepGain > 0.0; },
     [](const FitReport&) { return std::string("not converged"); }},
    {kFlagGrid, [](FitOutcome, const FitReport& r) { return r.gridRefined != 0; },
     [](const FitReport&) { return std::string("grid"); }},
    {kFlagMisfit, [](FitOutcome, const FitReport& r) { return r.systematicMisfit; },
     [](const FitReport&) { return std::string("misfit"); }},
    {kFlagHeldMeniscus, [](FitOutcome, const FitReport& r) { return r.heldMeniscusGain > 0.0; },
     [](const FitReport& r) {
       return Format("misfit: the data place the meniscus %s than held", r.heldMeniscusShift < 0.0 ? "lower" : "higher");
     }},
    {kFlagUndetermined, [](FitOutcome, const FitReport& r) { return !r.undeterminedSpecies.empty(); },
     UndeterminedText},
    {kFlagImplausible, [](FitOutcome, const FitReport& r) { return !r.implausibleSpecies.empty(); }, ImplausibleText},
};

}  // namespace

std::vector<OutcomeMessage> FitFlags(FitOutcome outcome, const FitReport& report) {
  std::vector<OutcomeMessage> flags;
  // A fit without a result has nothing to flag: it is not computed.
  const bool result = outcome == FitOutcome::Completed || outcome == FitOutcome::Interrupted;
  if (!result || report.stoppedBeforeResult) return flags;
  for (const FlagRow& row : kFlagRows)
    if (row.raised(outcome, report)) flags.push_back({row.id, row.text(report)});
  return flags;
}

std::string FlagsText(const std::vector<OutcomeMessage>& flags) {
  std::string text;
  for (const OutcomeMessage& f : flags) text += (text.empty() ? "" : "; ") + f.text;
  return text;
}

}  // namespace tarmic
