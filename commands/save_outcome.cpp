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
  // A command that kept no outcome ended before it computed: it claims no model,
  // whatever an earlier computation left on show.
  if (kept_) {
    g_lastAnalysis = std::move(*kept_);
  } else {
    g_lastAnalysis = OutcomeOfRun(false);
    g_lastAnalysis.fit = fit_;
  }
  g_lastAnalysis.errorShown = ErrorsShown() != errors_;
}

}  // namespace tarmic
