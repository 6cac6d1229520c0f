// The error box, the busy wait, the key polls of long computations, and the file
// test.
//
// Fatal errors (failed allocations, singular matrices, invalid arguments of the
// numerical routines) are shown and then end the current command by throwing
// FatalError, which the command dispatcher catches; the computation never goes on
// with failed storage or a singular result, and the loaded data stay as they were.
//
// In a worker thread no box is shown: the message is kept and the user-interface
// thread shows it after joining the workers (TakeWorkerErrors).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <cstddef>
#include <string>
#include <vector>

// FileExists, which the callers of the boxes have always found here.
#include "services/file_exists.h"

namespace tarmic {

class Window;  // the platform window: these operations use only its handle

// Thrown to end the current command after a fatal error has been reported.
class FatalError : public std::runtime_error {
 public:
  explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

// Plays the error sound and shows text in a box captioned "Error" with one OK
// button; returns the box's result. With quit the current command ends: FatalError
// is thrown after the box has been closed.
int ShowError(const char* text, bool quit);
inline int ShowError(const std::string& text, bool quit) { return ShowError(text.c_str(), quit); }

// How many error messages ShowError has shown (or printed, without a backend) since
// the program started: a message kept for later counts when it is shown, a repeat
// that ScopedErrorsOnce leaves out and one that a computation keeps and folds into
// its own report (a fit's refused trial points) do not. A caller compares the count
// before and after a computation to learn that it showed an error, without reading
// any box's wording.
std::size_t ErrorsShown();

// While an object of this class lives (a fit: the same model is computed again and
// again), ShowError shows each distinct non-fatal message once; repeats are only
// counted. Scopes nest; the outermost one clears the record.
class ScopedErrorsOnce {
 public:
  ScopedErrorsOnce();
  ~ScopedErrorsOnce();
  ScopedErrorsOnce(const ScopedErrorsOnce&) = delete;
  ScopedErrorsOnce& operator=(const ScopedErrorsOnce&) = delete;
  // How many boxes the scopes suppressed since the outermost one began.
  static int Suppressed();
  // For other boxes of the same kind: true when a scope is open and text was shown
  // in it already (the repeat is counted); otherwise records text and returns false.
  static bool Repeated(const std::string& text);
};

// Messages that ShowError received in worker threads, oldest first; the list is
// emptied. The user-interface thread shows them after the join.
std::vector<std::string> TakeWorkerErrors();
// Shows the kept worker messages in the error box, each distinct text once
// (user-interface thread only).
void ShowWorkerErrors();
// While an object of this class lives in the user-interface thread, that thread's
// ShowError keeps its messages as a worker's are kept (a quit still throws): a pool
// whose workers could not be started and whose work the calling thread does itself
// reports it as its workers would, after the work. Elsewhere it does nothing.
class ScopedWorkerErrors {
 public:
  ScopedWorkerErrors();
  ~ScopedWorkerErrors();
  ScopedWorkerErrors(const ScopedWorkerErrors&) = delete;
  ScopedWorkerErrors& operator=(const ScopedWorkerErrors&) = delete;

 private:
  bool counted_ = false;
};

// Busy wait of the given seconds (truncated to milliseconds); processes no events.
void WaitSeconds(float seconds);

// Interrupt poll: true when a key was pressed. Takes the queued input up to the
// first key press, which is consumed with its character and release; mouse buttons
// and a lone character or key release before it are consumed and do not interrupt.
// Events that are not input (paint, timer, commands, quit, mouse moves) are left in
// the queue for the main loop. In a worker thread it returns false.
bool CheckKeyPress();
// The interrupt poll of a loop whose steps may follow each other far faster than
// anyone presses keys (thousands of time steps between two scans): CheckKeyPress
// at the first call and then at most once per interval, so that the loop neither
// pumps the window system at every step nor runs longer than that unpolled.
class ThrottledKeyPoll {
 public:
  static constexpr std::int64_t kIntervalMs = 100;
  bool KeyPressed();
  // The interrupt test of an inner loop: true when bUserAbort is set or a key press
  // is taken, which sets it (so that every caller up the stack unwinds as well).
  bool Interrupted();

 private:
  std::int64_t lastPollMs_ = 0;
  bool polled_ = false;
};
// Keyboard poll of the main window plus the key latch (cleared when reported).
bool CheckWindowKeyOrLatch(Window* window);
// As CheckKeyPress, limited to the window's events.
bool CheckWindowKeyPress(Window* window);
// Reads the character of a pending key press into *out; false when none is pending.
bool GetKeyPressChar(int* out);
// Reads the character of a pending key press of the window, echoes its code at
// (5, 5) and returns it (0 for a key without a character); -1 when no key press is
// pending.
int ReadWindowKeyChar(Window* window);
// Waits up to seconds for a key press of the window (also one behind other input)
// without removing anything.
bool WaitForWindowKeyPress(Window* window, float seconds);

}  // namespace tarmic
