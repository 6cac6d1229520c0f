// The outcome of the last save command of the window (Save Fit Data, Save
// Continuous Distribution): the command sets it as it ends, whatever way it ends,
// so that a caller of the command (tarmic-batch) reads whether the set was
// written, not the boxes the command showed. Main thread only.
#pragma once

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

}  // namespace tarmic
