// The outcomes of the last save command of the window (Save Fit Data, Save
// Continuous Distribution, Save Systematic Noise) and of the last Run or Fit: the
// command sets it as it ends, whatever way it ends, so that a caller of the
// command (tarmic-batch) reads whether the set was written or the model computed,
// not the boxes the command showed. Main thread only.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>

#include "modelcalc/analysis_outcome.h"

namespace tarmic {

const SaveOutcome& LastSaveOutcome();

// Marks the save command now running as not saved until it says otherwise
// (Saved); for the lifetime of the command.
class SaveCommandOutcome {
 public:
  SaveCommandOutcome();
  void Saved(std::vector<std::string> written);
};

const AnalysisOutcome& LastAnalysisOutcome();

// For the lifetime of a Run (fit false) or Fit command: at its end the outcome the
// computation returned (Keep), or where none was kept (a command that ended before
// it computed) an outcome of no model with the values in place, with whether an
// error was shown meanwhile (ErrorsShown).
class AnalysisCommandOutcome {
 public:
  explicit AnalysisCommandOutcome(bool fit);
  ~AnalysisCommandOutcome();
  // The outcome the computation returned, stored at the command's end.
  void Keep(AnalysisOutcome outcome) { kept_ = std::move(outcome); }
  AnalysisCommandOutcome(const AnalysisCommandOutcome&) = delete;
  AnalysisCommandOutcome& operator=(const AnalysisCommandOutcome&) = delete;

 private:
  bool fit_;
  std::size_t errors_;
  std::optional<AnalysisOutcome> kept_;
};

}  // namespace tarmic
