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
// A box of its own caption and buttons; unanswered where nobody shows it.
int RaiseBox(const std::string& text, const std::string& caption, unsigned style, int unanswered = 0);
// Raises the error messages worker threads kept (each distinct text once, oldest
// first), on the user-interface thread after the join.
void RaiseKeptErrors();

// Installs a presenter for its lifetime and restores the one before.
using ScopedNoticePresenter = ScopedPresenter<NoticePresenter, SetNoticePresenter>;

}  // namespace tarmic
