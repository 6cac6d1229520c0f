// "&How to Get Help" (also the F1 key on the main window) and the help offered by
// every command in help mode.
#include "app/online_help.h"

#include "app/xla_window.h"
#include "services/error_box.h"
#include "services/path_table.h"
#include "platform/backend.h"
#include "platform/browser_launch.h"

namespace tarmic {

std::string HelpPagePath() { return szProgramDir + "help/tarmic-help.html"; }

std::string HelpPageAnchor(int command) { return "cmd-" + std::to_string(command); }

// In help mode the page opens at the command that was chosen (the one being
// dispatched); "&How to Get Help" chosen normally opens it at the top.
void TXLAWindow::OfferOnlineHelp() {
  const int command = bHelpMode ? nDispatchedCommand : 0;
  bHelpMode = false;
  Backend& backend = GetBackend();
  bModalBoxOpen = true;
  // Without a web browser (none installed, or no desktop handler for web pages) the
  // page is shown in the program's own help window, and the question says so.
  SetLastBrowserFailure({});
  const bool browser = backend.CanOpenWebPages();
  // The reason no browser can start, where the backend knows it.
  const std::string why = LastBrowserFailure().empty() ? std::string() : " (" + LastBrowserFailure() + ")";
  const std::string question = browser ? "Open the program's help page in the web browser?"
                                       : "No web browser can be started" + why +
                                             ": open the program's help page in the program's help window?";
  if (backend.MessageBox(question, "HELP", MB_YESNO | MB_ICONQUESTION) == IDYES) {
    const std::string path = HelpPagePath();
    if (!FileExists(path.c_str())) {
      backend.MessageBox("The help page " + path + " is missing.", "HELP",
                         MB_OK | MB_ICONEXCLAMATION);
    } else {
      // A browser that does not start after all leaves the help window, too.
      const std::string anchor = command > 0 ? HelpPageAnchor(command) : "";
      if (browser && backend.OpenHelpPage(path, anchor)) {
        // The browser has the page.
      } else {
        // A browser asked for that did not start: the message says why before the
        // help window stands in (shown after the box, so that it stays in front).
        if (browser) {
          const std::string reason = LastBrowserFailure().empty() ? std::string() : " (" + LastBrowserFailure() + ")";
          backend.MessageBox("The web browser did not open the help page" + reason +
                                 ". The page is shown in the program's help window.",
                             "HELP", MB_OK | MB_ICONINFORMATION);
        }
        if (!backend.ShowHelpWindow(path, anchor))
          backend.MessageBox("The help page " + path + " could not be shown.", "HELP", MB_OK | MB_ICONEXCLAMATION);
      }
    }
  }
  bModalBoxOpen = false;
}

}  // namespace tarmic
