// What a computation tells while it runs, as values: its progress (a stage, the
// kernels done of all, a fit's step, a later stage, the best rmsd so far) and the
// questions it asks, each with an id and the answer that changes nothing.
//
// The window draws its readouts with the text of each event, where it drew them
// before; a caller without a window (tarmic-batch) listens to the events instead of
// reading what is drawn, and answers a question by its id, never by its wording.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tarmic {

enum class ProgressKind {
  Stage,        // what the computation does now ("solving Lamm equations...")
  KernelsDone,  // kernels (Lamm equations of a list) done of all
  FitStep,      // the step of a fit's search
  Detail,       // a later stage below the first (normal equations, regularisation)
  BestRmsd,     // the rmsd of the best point of a fit so far
};

struct ProgressEvent {
  ProgressKind kind = ProgressKind::Stage;
  std::string text;  // the readout as the window shows it
  int done = 0;      // KernelsDone: how many of total
  int total = 0;
  double rmsd = 0.0;  // BestRmsd
};

// The one listener of progress (none: events go nowhere). Called in the thread
// that reports; the listener serialises what it shares.
using ProgressListener = std::function<void(const ProgressEvent&)>;
void SetProgressListener(ProgressListener listener);
void ReportProgress(const ProgressEvent& event);

// The questions a caller without a user may answer, by id.
enum class QuestionId {
  None,                  // a box that is not one of these questions
  LoadPreviousAnalysis,  // "load previous analysis?" (the analysis kept beside the data)
  RestorePreviousData,   // "restore previous data?"
  SaveAsDefaultSetting,  // "save as default setting?" after a setting is chosen
  ConvertIntensities,    // "convert intensities to absorbance data?" before a save
  ReplaceFiles,          // "file ... already exists! Overwrite?" before a save
  // The engine's own questions (asked of the answer policy, services/answer_policy.h;
  // the time stamps' at the door, RaiseQuestion), which a batch run does not answer:
  // each stops the run, as a question nobody answers.
  AdjustVbar20,            // "VBAR20 is 0.0 ... adjust to VBAR20=VBAR?" after a parameter file is read
  TransformToG1,           // "DLS data for this model must be field autocorrelation g(1) - transform?"
  SmaxBelowLeftFitLimit,   // "smax ... too low - boundary does not reach left fit limit ..."
  SminBeyondRightFitLimit, // "smin ... too low - boundary would be beyond right fit limit ..."
  EnterDilationFactor,     // "no time stamp information available - enter manually ...?"
  SaveTimeCorrectedFiles,  // "save corrected files and reload?"
  TimeReferenceScan,       // "using #k (...) as reference for t ..., w^2t"
  SaveNewData,             // "save new data?" after the times were fixed
  AddNoise,                // "add noise?" before a DLS set is saved
  AddFieldNoise,           // "add noise to field autocorrelation?"
};

struct Question {
  QuestionId id = QuestionId::None;
  int defaultAnswer = 0;  // IDYES/IDNO...: the answer that changes nothing
};

// While it lives, the boxes this thread shows are the question given (scopes nest:
// the innermost counts). Opened around the one box that asks it.
class ScopedQuestion {
 public:
  ScopedQuestion(QuestionId id, int defaultAnswer);
  ~ScopedQuestion();
  ScopedQuestion(const ScopedQuestion&) = delete;
  ScopedQuestion& operator=(const ScopedQuestion&) = delete;

 private:
  Question outer_;
};
// ask() (the call that shows the one box of the question) as the question id.
template <typename Ask>
auto AskAs(QuestionId id, int defaultAnswer, Ask&& ask) {
  const ScopedQuestion question(id, defaultAnswer);
  return ask();
}
// The question of the box being shown on this thread (id None for any other box).
Question AskedQuestion();
// The id's name as a line of text names it ("load-previous-analysis"; "" for None).
std::string_view QuestionName(QuestionId id);

}  // namespace tarmic
