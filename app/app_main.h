// The program's start and its main loop, independent of the window system.
//
// OwlMain takes the program directory from argument 0, builds the path table and
// runs the application object: TXLAApp::InitMainWindow prepares the file paths
// (the temporary directory and "tarmic.ini"), creates the main window (which reads
// the preferences and may ask for the disclaimer), clears the zoom history and
// writes the wizard suffix; then the window is set up and shown and the main loop
// dispatches the queue's events through the window's response table until a Quit
// event arrives.
#pragma once

#include <memory>
#include <string>

#include "platform/backend.h"
#include "platform/events.h"
#include "resources/command_ids.h"

namespace tarmic {

class TXLAWindow;

// The command that ends the program.

// The text that every help-wizard message ends with.
extern std::string szWizardSuffix;

// Builds the path table for a run: temporary files in the user's cache directory
// (else the program directory's "temp/", else the user's temporary directory),
// settings files in the user's configuration directory and written working files in
// the data directory (the XDG base directories; each missing one is made, and one
// that cannot be made keeps its files beside the program). Settings files that an
// earlier run kept beside the program are carried over once. "tarmic.ini" is
// created holding the home directory when missing; one that cannot be written only
// means the file dialogs start elsewhere. Needs szProgramDir.
void SetupFilePaths();

class TXLAApp {
 public:
  explicit TXLAApp(const char* name);
  ~TXLAApp();
  TXLAApp(const TXLAApp&) = delete;
  TXLAApp& operator=(const TXLAApp&) = delete;

  const std::string& Name() const { return name_; }
  // Creates the main window and prepares what the program needs before it shows.
  void InitMainWindow();
  // InitMainWindow, then the window's set-up, show and the main loop; returns the
  // exit code. When the disclaimer was declined the window is never shown.
  int Run();
  TXLAWindow* GetMainWindow() const { return mainWindow_.get(); }

 private:
  std::string name_;
  std::unique_ptr<TXLAWindow> mainWindow_;
};

// The program: argv[0] gives the program directory. Needs an installed backend;
// the command library's response table should be installed before.
int OwlMain(int argc, char** argv);

// Takes events from the queue (waiting when it is empty) and dispatches them to the
// window until a Quit event arrives, whose code is returned. Returns 0 when no event
// can come any more (a finished script).
int RunMessageLoop(TXLAWindow& window);

// Handles one event of the main loop: through the response table, else the frame
// window's own handling (paint, close).
void DispatchEvent(TXLAWindow& window, const Event& event);

}  // namespace tarmic
