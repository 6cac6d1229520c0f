// The start of the Qt backend without a display. Qt ends a program whose window
// system it cannot reach with its own abort and the advice to reinstall; the program
// says instead, in one line, that it needs a graphical display and how to run it
// hidden, and ends with kNoDisplayExitCode.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tarmic {

inline constexpr int kNoDisplayExitCode = 1;

// Reads an environment variable; null when unset.
using EnvironmentReader = std::function<const char*(const char* name)>;

// The line to show when the Qt platform that QT_QPA_PLATFORM chooses (the desktop's
// X11 or Wayland when it is unset) needs a display and neither DISPLAY nor
// WAYLAND_DISPLAY names one; nothing when a display is named or the platform needs
// none (offscreen, minimal, vnc, ...).
std::optional<std::string> MissingDisplayMessage(const EnvironmentReader& env);

// The line to show when a display is named but Qt could not open it.
std::string UnreachableDisplayMessage(const EnvironmentReader& env);

// Keeps Qt's messages while the QApplication is made: a fatal one (the window system
// cannot be reached) prints UnreachableDisplayMessage and ends the process with
// kNoDisplayExitCode at once; the others are passed on when the guard ends.
class QtStartupGuard {
 public:
  QtStartupGuard();
  ~QtStartupGuard();
  QtStartupGuard(const QtStartupGuard&) = delete;
  QtStartupGuard& operator=(const QtStartupGuard&) = delete;
};

}  // namespace tarmic
