// The outcome of loading scan files as one value: whether a new set was loaded, the
// scans it holds or the scans refused and why, the kind of data, its cells and
// wavelengths, and every message the loaders showed as a record with its id (the
// LoadMessageId's name). The window shows the same messages in its boxes; a reader
// without a window (tarmic-batch) takes them from here and matches no wording.
#pragma once

#include <string>
#include <vector>

#include "scandata/data_kind.h"
#include "services/outcome_message.h"

namespace tarmic {

struct RefusedScan {
  std::string file;
  OutcomeMessage reason;
};

struct LoadOutcome {
  enum class Status {
    NotLoaded,  // nothing was chosen to load (cancelled, a parameter file alone)
    Loaded,     // the new set is loaded
    Refused,    // the files chosen were not loaded; the loaded set stays
  };
  Status status = Status::NotLoaded;
  std::string kind;    // "velocity", "equilibrium", "electrophoresis" or "DLS"; "" unless loaded
  std::string signal;  // "absorbance", "interference", "fluorescence" or "intensity"
  std::vector<std::string> scans;         // the loaded set's scan files, in the order of their numbers
  std::vector<RefusedScan> refused;       // scan files that could not be read
  std::vector<int> cells;                 // the cells of the loaded scans, each once, ascending
  std::vector<long> wavelengths;          // nm, rounded, each once; wavelength scans give none
  std::vector<OutcomeMessage> messages;   // in the order met, boxes and judgements alike
  // The kind of run the loaded sedimentation scans show, whatever they were loaded as.
  DataKindJudgement kindJudgement;
};

// The status as a word: "not loaded", "loaded", "refused".
const char* LoadStatusName(LoadOutcome::Status status);

// The loaded set into outcome: its kind, signal, scans, cells and wavelengths. With
// it the judgement of its profiles (JudgeDataKind) and, where they show the other
// kind of run, its note: a velocity run loaded as equilibrium data
// ("velocity-as-equilibrium") or equilibrium data loaded as a velocity run
// ("equilibrium-as-velocity"), each recorded once; the window's load shows them as
// notes.
void DescribeLoadedSet(LoadOutcome* outcome);

}  // namespace tarmic
