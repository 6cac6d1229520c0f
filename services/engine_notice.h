// What the engine tells the user, as a value handed up.
//
// The numerical routines, the scan data set, the plots and the solvers meet
// failures and things worth a note in the middle of a computation that goes on
// (or, for a failure, ends the command). They do not open boxes themselves: each
// message becomes an EngineNotice raised through this one door, and the notice
// presenter that the front end installs (InstallProgramServices for the window
// and the batch) shows it. The presenter shows what the engine used to show
// itself: the error box ("Error", one OK button, the error sound; kept in a
// worker thread and shown after the join; once per command under
// ScopedErrorsOnce) or a box of the notice's own caption and buttons, whose answer
// comes back to the engine.
//
// A failure ends the command whatever the presenter does: RaiseFailure throws
// FatalError with the notice's text after the presenter has seen it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "services/computation_events.h"
#include "services/presenter_slot.h"

namespace tarmic {

struct EngineNotice {
  enum class Kind {
    Error,  // the error box
    Box,    // a box of its own caption and buttons (style: MB_...)
  };
  Kind kind = Kind::Error;
  std::string text;
  std::string caption;   // Box only
  unsigned style = 0;    // Box only
  bool fatal = false;    // Error only: the command ends after it
  int unanswered = 0;    // the answer of a Box where there is nobody to show it
  // A question of the engine (RaiseQuestion): its id, by which a caller without a
  // user answers it (None for a message or an older box).
  QuestionId question = QuestionId::None;
};

// Shows a notice and returns the box's answer (IDOK, IDYES, ...).
using NoticePresenter = std::function<int(const EngineNotice&)>;

// Installs the presenter (an empty one restores the front end's box, ShowNotice);
// returns the one installed before.
NoticePresenter SetNoticePresenter(NoticePresenter presenter);

// The front end's presenter: ShowError for an Error, the backend's MessageBox for a
// Box (its unanswered answer without a backend). A fatal Error throws FatalError.
int ShowNotice(const EngineNotice& notice);

// The one door of the engine's messages.
int RaiseNotice(const EngineNotice& notice);
// A non-fatal error: the computation goes on after it.
int RaiseError(const std::string& text);
// A failure: raised as a fatal error, then the command ends (FatalError).
[[noreturn]] void RaiseFailure(const std::string& text);
// A box of its own caption and buttons; unanswered where nobody shows it. The
// engine's libraries do not call it (the engine census): they tell with RaiseNote
// and ask the answer policy their caller hands them (services/answer_policy.h).
int RaiseBox(const std::string& text, const std::string& caption, unsigned style, int unanswered = 0);
// A note of the engine: a box of its caption and icon with one OK button (the
// style's buttons are dropped), whose closing tells the engine nothing.
void RaiseNote(const std::string& text, const std::string& caption, unsigned style);
// The door of the questions asked with a box: a question of a stable id, its box
// (text, caption, buttons as MB_...) and the answer taken where nobody is asked.
// The presenter installed answers it (the window's shows the box; a test's may
// answer by id), and under it the backend, which in a batch run answers by the id
// (AskedQuestion) and records the question with its answer. The window's answer
// policy (AskingPolicy) asks through it; the computing libraries never call it.
int RaiseQuestion(QuestionId id, const std::string& text, const std::string& caption, unsigned style,
                  int unanswered);
// Raises the error messages worker threads kept (each distinct text once, oldest
// first), on the user-interface thread after the join.
void RaiseKeptErrors();

// Installs a presenter for its lifetime and restores the one before.
using ScopedNoticePresenter = ScopedPresenter<NoticePresenter, SetNoticePresenter>;

}  // namespace tarmic
