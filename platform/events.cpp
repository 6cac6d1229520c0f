// The program's event queue.
#include "platform/events.h"

#include <algorithm>

namespace tarmic {

bool Event::IsMouseButton() const {
  switch (type) {
    case EventType::LButtonDown:
    case EventType::LButtonUp:
    case EventType::LButtonDblClk:
    case EventType::RButtonDown:
    case EventType::RButtonUp:
    case EventType::RButtonDblClk:
      return true;
    default:
      return false;
  }
}

Event Event::KeyDown(int vk, unsigned mods) {
  Event e;
  e.type = EventType::KeyDown;
  e.key = vk;
  e.mods = mods;
  return e;
}

Event Event::KeyUp(int vk, unsigned mods) {
  Event e;
  e.type = EventType::KeyUp;
  e.key = vk;
  e.mods = mods;
  return e;
}

Event Event::Char(int ch) {
  Event e;
  e.type = EventType::Char;
  e.ch = ch;
  return e;
}

Event Event::Mouse(EventType type, int x, int y, unsigned mods) {
  Event e;
  e.type = type;
  e.x = x;
  e.y = y;
  e.mods = mods;
  return e;
}

Event Event::Command(int id) {
  Event e;
  e.type = EventType::Command;
  e.command = id;
  return e;
}

Event Event::HelpCommand(int id) {
  Event e = Command(id);
  e.help = true;
  return e;
}

Event Event::AcceleratorCommand(int id, int vk, unsigned mods) {
  Event e = Command(id);
  e.key = vk;
  e.mods = mods;
  return e;
}

Event Event::Resize(int width, int height) {
  Event e;
  e.type = EventType::Size;
  e.width = width;
  e.height = height;
  return e;
}

Event Event::TimerTick(int id) {
  Event e;
  e.type = EventType::Timer;
  e.timerId = id;
  return e;
}

Event Event::Drop(std::vector<std::string> files) {
  Event e;
  e.type = EventType::DropFiles;
  e.files = std::move(files);
  return e;
}

Event Event::QuitRequest(int exitCode) {
  Event e;
  e.type = EventType::Quit;
  e.command = exitCode;
  return e;
}

Event Event::Repaint() {
  Event e;
  e.type = EventType::Paint;
  return e;
}

Event Event::CloseRequest() {
  Event e;
  e.type = EventType::Close;
  return e;
}

void EventQueue::Post(Event e) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (e.type == EventType::Paint &&
      std::any_of(events_.begin(), events_.end(),
                  [](const Event& w) { return w.type == EventType::Paint; }))
    return;
  events_.push_back(std::move(e));
}

bool EventQueue::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_.empty();
}

std::size_t EventQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_.size();
}

std::optional<Event> EventQueue::Peek() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (events_.empty()) return std::nullopt;
  return events_.front();
}

std::optional<Event> EventQueue::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (events_.empty()) return std::nullopt;
  Event e = std::move(events_.front());
  events_.pop_front();
  return e;
}

std::optional<Event> EventQueue::TakeIf(const std::function<bool(const Event&)>& pred) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(events_.begin(), events_.end(), pred);
  if (it == events_.end()) return std::nullopt;
  Event e = std::move(*it);
  events_.erase(it);
  return e;
}

bool EventQueue::Drop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (events_.empty()) return false;
  events_.pop_front();
  return true;
}

void EventQueue::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
}

bool EventQueue::Any(const std::function<bool(const Event&)>& pred) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(events_.begin(), events_.end(), pred);
}

EventQueue& UiEvents() {
  static EventQueue queue;
  return queue;
}

void PostQuitMessage(int exitCode) { UiEvents().Post(Event::QuitRequest(exitCode)); }

}  // namespace tarmic
