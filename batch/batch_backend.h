// The backend of tarmic-batch: the scripted headless backend with the batch's own
// answers. Every box the window would show is written to the error stream as one
// line "CAPTION: text" (the text alone when it has no caption), and the batch
// answers it: an information box with OK, the few questions a batch run meets, by
// their id (computation_events.h), with the answer its command line gives (no
// previous analysis, no new default setting, no conversion of intensities, replace
// only with --replace). Any other
// question, number input, file or folder dialog or template dialog is not the
// batch's to answer: it is written out, answered as closing it would (No or
// Cancel: the answer that changes nothing), and recorded, so that the run stops
// after the step that met it. The progress events of a computation go to the
// error stream as one overwritten line when asked for (a terminal): the stage of a
// Run (how many kernels are done) or the step of a Fit with its best rmsd.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/headless/headless_backend.h"
#include "services/answer_policy.h"
#include "services/computation_events.h"

namespace tarmic {

class BatchBackend : public HeadlessBackend {
 public:
  BatchBackend(std::FILE* err, bool progress);
  ~BatchBackend() override;

  // The selection the next open-file dialog returns (once).
  void OfferFiles(std::vector<std::string> files) { offered_ = std::move(files); }
  // Save dialogs take the name they propose in this folder; an empty folder cancels
  // them (nobody chose a name).
  void SaveInto(std::string folder) { saveFolder_ = std::move(folder); }
  // The run's copies of the user's files, each with the name the user knows: every
  // box and line that names a copy (removed at exit) names that instead.
  void NameCopiesAs(const std::vector<std::pair<std::string, std::string>>& copies) {
    copies_.insert(copies_.end(), copies.begin(), copies.end());
  }
  // The answer to "file ... already exists! Overwrite?".
  void AllowReplace(bool allow) { replace_ = allow; }

  struct Shown {
    std::string caption, text;
    bool question = false;  // a question (answered or not), not a message
    std::string id;         // the question's id (QuestionName; "" for a box without one)
    int answer = 0;         // the answer the run took (IDOK for a message)
  };
  // The batch's answer policy, the front end's while the backend lives (installed by
  // the constructor): a question the commands hand to a computation is answered by
  // its id as its box would be, and recorded among the boxes.
  Answer AnswerByPolicy(const EngineQuestion& question);

  // Every box shown, in order.
  const std::vector<Shown>& Boxes() const { return boxes_; }
  // What nobody answers, in order (questions, inputs, dialogs).
  const std::vector<std::string>& Unanswered() const { return unanswered_; }
  // Whether progress events now are shown on the readout line.
  void TakeReadouts(bool on) { readouts_ = on; }
  // Ends the readout line (a newline when one is open), so that the next line
  // starts at the margin.
  void EndReadoutLine();
  // Writes one line to the error stream, after the readout line.
  void Say(const std::string& line);
  void ShowPathAs(std::string path, std::string shown) { NameCopiesAs({{std::move(path), std::move(shown)}}); }

  Window& MainWindow() override;
  // Nobody sees the batch's window: its plots record no pictures and it paints
  // nothing; the progress of a computation still reaches the error stream.
  bool PicturesSeen() const override { return false; }
 protected:
  int ModalMessageBox(std::string_view text, std::string_view caption, unsigned style) override;
  std::vector<std::string> ModalOpenFileDialog(const FileDialogOptions& options) override;
  std::optional<std::string> ModalSaveFileDialog(const FileDialogOptions& options) override;
  std::optional<std::string> ModalFolderDialog(const FileDialogOptions& options) override;
  int ModalRunDialog(const DialogTemplate& dialog, TransferBuffer& buffer) override;

 private:
  class UnseenWindow;
  // A progress event of the computation (from any thread).
  void Readout(const ProgressEvent& event);
  void NotAnswered(const std::string& what);
  // A question's box (not an information box): recorded with the question's id, and
  // answered by the id where the batch answers it (its default answer; Yes to
  // replacing files with --replace), else as closing it would.
  int AnswerQuestionBox(const Question& question, std::string_view text, std::string_view caption, unsigned style);
  // text with every copy named as the user knows it (NameCopiesAs).
  std::string Named(std::string_view text) const;

  std::FILE* err_;
  bool progress_;
  std::unique_ptr<UnseenWindow> window_;
  std::vector<std::string> offered_;
  std::string saveFolder_;
  std::vector<std::pair<std::string, std::string>> copies_;
  bool replace_ = false;
  std::vector<Shown> boxes_;
  std::vector<std::string> unanswered_;
  std::string readout_;
  std::string first_, rows_, best_;  // the rows the readout line is made of
  bool readoutOpen_ = false;
  std::mutex readoutMutex_;  // the readout line's state
  bool readouts_ = false;
  AnswerPolicy answersBefore_;  // the front end's policy before this backend's
};

// The questions the batch answers itself.
std::vector<QuestionId> BatchAnsweredQuestions();

// A box as one line: "CAPTION: text" with the line breaks of the text as blanks.
std::string BoxLine(std::string_view caption, std::string_view text);

}  // namespace tarmic
