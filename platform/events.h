// The program's own event queue. The Qt backend fills it from window-system events,
// tests fill it from a script. The main loop takes events from it and dispatches
// them; the key polls of long computations peek at it and take from it.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace tarmic {

enum class EventType {
  KeyDown,         // key = virtual-key code, mods = MK_SHIFT | MK_CONTROL | MK_ALT
  KeyUp,
  Char,            // ch = character code
  LButtonDown,     // x, y in client pixels; mods = mouse modifier word
  LButtonUp,
  LButtonDblClk,
  RButtonDown,
  RButtonUp,
  RButtonDblClk,
  MouseMove,
  Size,            // width, height of the client area
  Timer,           // timerId
  DropFiles,       // files, full paths
  Command,         // command = menu or accelerator identifier
  Paint,           // the client area must be painted again
  Close,           // the user asked to close the window
  Quit             // the message loop ends; command holds the exit code
};

struct Event {
  EventType type = EventType::Paint;
  int key = 0;
  int ch = 0;
  int x = 0;
  int y = 0;
  unsigned mods = 0;
  int repeat = 1;
  int width = 0;
  int height = 0;
  int timerId = 0;
  int command = 0;
  // A command chosen with the help key (F1) held on an open menu: the program's
  // help mode, in which the command only offers the on-line help.
  bool help = false;
  std::vector<std::string> files;

  bool IsKey() const {
    return type == EventType::KeyDown || type == EventType::KeyUp || type == EventType::Char;
  }
  bool IsMouseButton() const;
  bool IsMouse() const { return IsMouseButton() || type == EventType::MouseMove; }

  static Event KeyDown(int vk, unsigned mods = 0);
  static Event KeyUp(int vk, unsigned mods = 0);
  static Event Char(int ch);
  static Event Mouse(EventType type, int x, int y, unsigned mods);
  static Event Command(int id);
  // A command chosen with an accelerator key: key and mods tell the key, so that a
  // key poll during a computation takes it as the key press it was.
  static Event AcceleratorCommand(int id, int vk, unsigned mods);
  bool IsAcceleratorCommand() const { return type == EventType::Command && key != 0; }
  // A menu command chosen while the help key (F1) was pressed on its item.
  static Event HelpCommand(int id);
  static Event Resize(int width, int height);
  static Event TimerTick(int id);
  static Event Drop(std::vector<std::string> files);
  static Event QuitRequest(int exitCode = 0);
  static Event Repaint();        // Paint
  static Event CloseRequest();   // Close
};

// A FIFO of events, safe to post to from any thread. Paint events are coalesced:
// posting one while another is waiting does nothing.
class EventQueue {
 public:
  void Post(Event e);
  bool Empty() const;
  std::size_t Size() const;
  // A copy of the first event without removing it.
  std::optional<Event> Peek() const;
  // Removes and returns the first event.
  std::optional<Event> Take();
  // Removes and returns the first event that satisfies pred, leaving the others in order.
  std::optional<Event> TakeIf(const std::function<bool(const Event&)>& pred);
  // Removes the first event without returning it; false when the queue was empty.
  bool Drop();
  void Clear();
  // Whether any waiting event satisfies pred.
  bool Any(const std::function<bool(const Event&)>& pred) const;

 private:
  mutable std::mutex mutex_;
  std::deque<Event> events_;
};

// The queue of the user-interface thread.
EventQueue& UiEvents();

// Posts a Quit event: the main loop ends when it reaches it.
void PostQuitMessage(int exitCode);

}  // namespace tarmic
