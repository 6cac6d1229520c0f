// The error box, the busy wait, the key polls and the file test.
//
// The key polls take from the program's event queue (UiEvents). They look only
// at input events: a key press (key-down with its character and key-up) or a mouse
// button. Every other event (paint, timer, size, menu command, quit, mouse move,
// dropped files) stays in the queue for the main loop, so that a poll inside a
// long computation never loses a repaint or a quit request. A poll takes only
// what is already queued and never waits for a key release or a character.
#include "services/error_box.h"

#include <atomic>


#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "platform/events.h"
#include "platform/system.h"

namespace tarmic {

namespace {

std::mutex& WorkerErrorMutex() {
  static std::mutex m;
  return m;
}

std::vector<std::string>& WorkerErrors() {
  static std::vector<std::string> errors;
  return errors;
}

// Keys, mouse buttons, and commands chosen with an accelerator key (a key press
// that the window turned into its command; during a computation it is a key press).
bool IsInputEvent(const Event& e) {
  return e.IsKey() || e.IsMouseButton() || e.IsAcceleratorCommand();
}

// Lets the window system hand over pending input before a poll looks at the queue.
void Pump() {
  if (HasBackend()) GetBackend().PumpEvents();
}

// After a key-down has been taken: takes the character and the key-up that belong
// to it, when they are already queued before the next key-down. Returns the
// character code, or 0 when no character was queued.
int TakeRestOfKeyPress(const Event& keyDown) {
  EventQueue& queue = UiEvents();
  int ch = 0;
  bool stop = false;
  // The predicates are applied in queue order; they stop matching at the next
  // key-down, which starts another key press.
  std::optional<Event> c = queue.TakeIf([&stop](const Event& e) {
    if (stop) return false;
    if (e.type == EventType::KeyDown) {
      stop = true;
      return false;
    }
    return e.type == EventType::Char;
  });
  if (c) ch = c->ch;
  stop = false;
  queue.TakeIf([&stop, &keyDown](const Event& e) {
    if (stop) return false;
    if (e.type == EventType::KeyDown) {
      stop = true;
      return false;
    }
    return e.type == EventType::KeyUp && e.key == keyDown.key;
  });
  return ch;
}

// Takes the input events of the queue up to and including the first key press.
// The input before it (a lone character or key release, mouse buttons) is dropped
// on the way, so that a key queued behind a click is seen by this poll and not
// only by a later one, which a loop polling once per long step may never make.
// Of the key press (a key-down, or an accelerator key: its command does not run)
// the character and the release are taken as well, and *ch receives its character
// (0 without one). Returns KeyDown for a key press, the type of the last event
// dropped when there was none, or nullopt when no input event was queued.
std::optional<EventType> TakeInput(int* ch) {
  std::optional<EventType> last;
  while (std::optional<Event> e = UiEvents().TakeIf(IsInputEvent)) {
    if (e->type != EventType::KeyDown && !e->IsAcceleratorCommand()) {
      last = e->type;
      continue;
    }
    const int c = TakeRestOfKeyPress(*e);
    if (ch) *ch = c;
    return EventType::KeyDown;
  }
  return last;
}

// The character code as the signed 8-bit value of the old key messages.
int SignedCharCode(int ch) { return static_cast<int>(static_cast<signed char>(ch & 0xFF)); }

}  // namespace

namespace {

// The messages shown since the outermost ScopedErrorsOnce of this thread began.
// Only the user-interface thread shows boxes and so consults it; each thread has
// its own, because commands of other analyses run their fits on threads of their
// own and open the scope there too.
struct ErrorsOnce {
  int depth = 0;
  int suppressed = 0;
  std::set<std::string> shown;
};
ErrorsOnce& OnceRecord() {
  static thread_local ErrorsOnce record;
  return record;
}

}  // namespace

namespace {
// Open ScopedWorkerErrors of the user-interface thread.
int g_keptDepth = 0;
}  // namespace

ScopedWorkerErrors::ScopedWorkerErrors() {
  if (IsUiThread()) {
    ++g_keptDepth;
    counted_ = true;
  }
}

ScopedWorkerErrors::~ScopedWorkerErrors() {
  if (counted_) --g_keptDepth;
}

ScopedErrorsOnce::ScopedErrorsOnce() {
  ErrorsOnce& r = OnceRecord();
  if (r.depth++ == 0) {
    r.shown.clear();
    r.suppressed = 0;
  }
}

ScopedErrorsOnce::~ScopedErrorsOnce() {
  ErrorsOnce& r = OnceRecord();
  if (--r.depth == 0) r.shown.clear();
}

int ScopedErrorsOnce::Suppressed() { return OnceRecord().suppressed; }

bool ScopedErrorsOnce::Repeated(const std::string& text) {
  ErrorsOnce& once = OnceRecord();
  if (once.depth == 0 || !IsUiThread() || once.shown.insert(text).second) return false;
  ++once.suppressed;
  return true;
}

namespace {
std::atomic<std::size_t> g_errorsShown{0};
}  // namespace

std::size_t ErrorsShown() { return g_errorsShown.load(); }

int ShowError(const char* text, bool quit) {
  const std::string message = text ? text : "";
  // A kept message is shown later, through this function: its repeats are counted
  // then.
  const bool kept = HasBackend() && (!IsUiThread() || g_keptDepth > 0);
  if (!kept && !quit && ScopedErrorsOnce::Repeated(message)) return IDOK;
  if (!HasBackend()) {
    static std::mutex stderrMutex;
    std::lock_guard<std::mutex> lock(stderrMutex);
    g_errorsShown.fetch_add(1);
    std::fprintf(stderr, "Error: %s\n", message.c_str());
    std::fflush(stderr);
    if (quit) throw FatalError(message);
    return 0;
  }
  if (kept) {
    // A worker never touches the window system: the user-interface thread shows
    // the message after the join (also one it kept while doing a worker's work).
    {
      std::lock_guard<std::mutex> lock(WorkerErrorMutex());
      WorkerErrors().push_back(message);
    }
    if (quit) throw FatalError(message);
    return 0;
  }
  PlayErrorSound();
  g_errorsShown.fetch_add(1);
  const int result = GetBackend().MessageBox(message, "Error", MB_OK | MB_ICONINFORMATION);
  if (quit) throw FatalError(message);
  return result;
}

std::vector<std::string> TakeWorkerErrors() {
  std::lock_guard<std::mutex> lock(WorkerErrorMutex());
  std::vector<std::string> out;
  out.swap(WorkerErrors());
  return out;
}

void ShowWorkerErrors() {
  // Several workers meeting the same failure report it once.
  std::set<std::string> shown;
  for (const std::string& message : TakeWorkerErrors())
    if (shown.insert(message).second) ShowError(message, false);
}

void WaitSeconds(float seconds) {
  if (!(seconds > 0.0f)) return;
  // Truncated to whole milliseconds; a wait of more than a year is cut there.
  const double ms = static_cast<double>(seconds) * 1000.0;
  const std::int64_t wait = ms > 3.2e10 ? static_cast<std::int64_t>(3.2e10)
                                        : static_cast<std::int64_t>(ms);
  const std::int64_t end = MonotonicMs() + wait;
  while (MonotonicMs() < end) std::this_thread::yield();
}

bool CheckKeyPress() {
  if (!IsUiThread()) return false;
  Pump();
  std::optional<EventType> taken = TakeInput(nullptr);
  return taken && *taken == EventType::KeyDown;
}

bool ThrottledKeyPoll::KeyPressed() {
  const std::int64_t now = MonotonicMs();
  if (polled_ && now - lastPollMs_ < kIntervalMs) return false;
  polled_ = true;
  lastPollMs_ = now;
  return CheckKeyPress();
}

bool ThrottledKeyPoll::Interrupted() {
  if (bUserAbort) return true;
  if (!KeyPressed()) return false;
  bUserAbort = true;
  return true;
}

bool CheckWindowKeyOrLatch(Window* window) {
  if (!window) return false;
  bool removed = false;
  if (IsUiThread()) {
    Pump();
    std::optional<Event> e = UiEvents().TakeIf([](const Event& ev) { return ev.IsKey(); });
    if (e) {
      removed = true;
      if (e->type == EventType::KeyDown) TakeRestOfKeyPress(*e);
    }
  }
  const bool latch = bKeyLatch.exchange(false);
  return removed || latch;
}

bool CheckWindowKeyPress(Window* window) {
  // The program has one window: its queue holds only that window's events.
  if (!window) return false;
  return CheckKeyPress();
}

bool GetKeyPressChar(int* out) {
  if (!IsUiThread()) return false;
  Pump();
  int ch = 0;
  std::optional<EventType> taken = TakeInput(&ch);
  if (!taken || *taken != EventType::KeyDown) return false;
  // A key without a character (arrow, function key) still counts, with code 0.
  if (out) *out = ch ? SignedCharCode(ch) : 0;
  return true;
}

int ReadWindowKeyChar(Window* window) {
  if (!window || !IsUiThread()) return -1;
  Pump();
  int ch = 0;
  std::optional<EventType> taken = TakeInput(&ch);
  if (!taken || *taken != EventType::KeyDown) return -1;
  // A key without a character (an arrow or function key) is still a key press: it
  // has been taken, so it is read, with code 0, and not lost.
  const int code = ch ? SignedCharCode(ch) : 0;
  std::unique_ptr<DC> dc = window->ClientDC();
  if (dc) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", code);
    dc->TextOut(5, 5, text);
    dc.reset();
    window->Refresh();
  }
  return code;
}

bool WaitForWindowKeyPress(Window* window, float seconds) {
  if (!(seconds > 0.0f)) return false;
  const double ms = static_cast<double>(seconds) * 1000.0;
  const std::int64_t wait = ms > 3.2e10 ? static_cast<std::int64_t>(3.2e10)
                                        : static_cast<std::int64_t>(ms);
  const std::int64_t end = MonotonicMs() + wait;
  const bool look = window && IsUiThread();
  while (MonotonicMs() < end) {
    if (look) {
      Pump();
      // A key press waiting, also behind other input (which the next read takes on
      // its way to the key); nothing is removed.
      if (UiEvents().Any([](const Event& e) {
            return e.type == EventType::KeyDown || e.IsAcceleratorCommand();
          }))
        return true;
    }
    // The wait gives the processor away between its looks (a pause waiting for the
    // user may last minutes).
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace tarmic
