// Starting the desktop's web browser on a local page, and telling when it did not
// start. The launcher (xdg-open and kin) returns at once when it hands the page to
// a browser that runs, or runs the browser itself; a browser that refuses to start
// (a browser that will not run as root, one without a display it can use) ends at
// once with an error. So the launcher is watched for a short while: ended with a
// failure, or with its error output saying so, the page did not open, and the
// reason is kept for the message that offers the program's own help window.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarmic {

struct BrowserLaunch {
  bool opened = false;
  std::string reason;  // why not: empty when opened
};

// Runs command (program and arguments, no shell) and watches it for settleMs:
// opened when it is still running then (the browser runs) or ended with exit code
// 0, unless its error output names a refusal; else not opened, with the reason
// (the exit code and the last line the program wrote on its error output).
BrowserLaunch LaunchWatched(const std::vector<std::string>& command, int settleMs);

// Why no browser may start where a program runs as root: the note the reason of a
// failure gets then (browsers of the Chromium family refuse to run as root).
std::string RootNote();

// The reason the last start of a browser failed, or why none can be started; empty
// when none failed. Set by the backends; read by the help command's message.
const std::string& LastBrowserFailure();
void SetLastBrowserFailure(std::string reason);

// A replacement of the launch for tests (a backend that opens a page asks it
// first); an empty function restores the real launch.
using BrowserLauncher = std::function<BrowserLaunch(const std::string& path, const std::string& anchor)>;
void SetBrowserLauncherForTesting(BrowserLauncher launcher);
const BrowserLauncher& BrowserLauncherForTesting();

}  // namespace tarmic
