#include "commands/save_outcome.h"

#include <utility>

#include "services/error_box.h"

namespace tarmic {

namespace {
SaveOutcome g_lastSave;
AnalysisOutcome g_lastAnalysis;
}  // namespace

const SaveOutcome& LastSaveOutcome() { return g_lastSave; }

SaveCommandOutcome::SaveCommandOutcome() { g_lastSave = {}; }

void SaveCommandOutcome::Saved(std::vector<std::string> written) { g_lastSave = {true, std::move(written)}; }

const AnalysisOutcome& LastAnalysisOutcome() { return g_lastAnalysis; }

AnalysisCommandOutcome::AnalysisCommandOutcome(bool fit) : fit_(fit), errors_(ErrorsShown()) {
  g_lastAnalysis = {};
  g_lastAnalysis.fit = fit;
}

AnalysisCommandOutcome::~AnalysisCommandOutcome() {
  g_lastAnalysis = kept_ ? std::move(*kept_) : OutcomeOfComputation(fit_);
  g_lastAnalysis.errorShown = ErrorsShown() != errors_;
}

}  // namespace tarmic
