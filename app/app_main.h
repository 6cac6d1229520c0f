// The start of the program's window and its main loop, independent of the window
// system: the frame window titled "Sedimentation Analysis" with the menu
// "MENU_VIREZ" and accelerator table 303, accepting dropped files.
#pragma once

#include "platform/backend.h"
#include "platform/events.h"

namespace tarmic {

// The command that ends the program.
inline constexpr int kCmExit = 230;

// Shows the main window and runs the main loop until it ends; returns the exit code.
int RunApplication(Backend& backend, int argc, char** argv);

// Takes events from the queue (waiting when it is empty) and dispatches them until a
// Quit event arrives, whose code is returned. Returns 0 when no event can come any
// more (a finished script).
int RunMessageLoop(Backend& backend);

// Handles one event of the main loop.
void DispatchEvent(Backend& backend, const Event& event);

// Handles a menu or accelerator command other than Exit.
void DispatchCommand(Backend& backend, int id);

}  // namespace tarmic
