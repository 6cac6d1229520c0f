// The response-table machinery: entry builders, lookup and the cracking of an
// event's parameters into the member's arguments.
#include "app/response_table.h"

#include <cassert>

#include "app/global_eq_view.h"
#include "app/preferences.h"

#include "app/xla_window.h"
#include "services/error_box.h"

namespace tarmic {

namespace {

std::span<const ResponseEntry> gTable;

template <class Member>
ResponseEntry MakeMessageEntry(unsigned message, DispatchKind kind, Member member) {
  ResponseEntry e;
  e.message = message;
  e.id = 0;
  e.kind = kind;
  e.member = member;
  return e;
}

// Calls the member of the entry with the parameters of the event.
void Invoke(TXLAWindow& window, const ResponseEntry& entry, const Event& event) {
  const Point point{event.x, event.y};
  switch (entry.kind) {
    case DispatchKind::Command:
      (window.*std::get<CommandMember>(entry.member))();
      break;
    case DispatchKind::Key: {
      // Key messages carry the virtual key (key down) or the character (char).
      const unsigned code = static_cast<unsigned>(event.type == EventType::Char ? event.ch : event.key);
      const unsigned repeat = static_cast<unsigned>(event.repeat > 0 ? event.repeat : 1);
      (window.*std::get<KeyMember>(entry.member))(code, repeat, 0u);
      break;
    }
    case DispatchKind::Mouse:
      (window.*std::get<MouseMember>(entry.member))(event.mods, point);
      break;
    case DispatchKind::Size:
      (window.*std::get<SizeMember>(entry.member))(SIZE_RESTORED, Size{event.width, event.height});
      break;
    case DispatchKind::EnterIdle:
      (window.*std::get<EnterIdleMember>(entry.member))(MSGF_MENU, event.help);
      break;
    case DispatchKind::Drop:
      (window.*std::get<DropMember>(entry.member))(event.files);
      break;
    case DispatchKind::Timer:
      (window.*std::get<TimerMember>(entry.member))(static_cast<unsigned>(event.timerId));
      break;
  }
}

// Runs one handler; a fatal error (already shown) ends only this handler.
bool InvokeGuarded(TXLAWindow& window, const ResponseEntry& entry, const Event& event) {
  // A computation that meets the same fault at every point or evaluation (a VBAR
  // of 0 met by every kernel) says so once per command, not in a storm of boxes.
  ScopedErrorsOnce once;
  try {
    Invoke(window, entry, event);
  } catch (const FatalError&) {
    // The message was shown when the error was raised; the command ends here and
    // the loaded data stay as they are. A box or computation it left marked open
    // is over.
    window.bModalBoxOpen = false;
    window.bRunInProgress = false;
    window.bFitInProgress = false;
  }
  // A result that a box's opening painted away and that holds again, now the
  // handler is done (a dialog cancelled), is shown again.
  if (window.afterHandler) window.afterHandler(window);
  return true;
}

}  // namespace

ResponseEntry CommandEntry(int id, CommandMember member) {
  ResponseEntry e;
  e.message = 0;
  e.id = id;
  e.kind = DispatchKind::Command;
  e.member = member;
  return e;
}

ResponseEntry MessageEntry(unsigned message, KeyMember member) {
  return MakeMessageEntry(message, DispatchKind::Key, member);
}
ResponseEntry MessageEntry(unsigned message, MouseMember member) {
  return MakeMessageEntry(message, DispatchKind::Mouse, member);
}
ResponseEntry MessageEntry(unsigned message, SizeMember member) {
  return MakeMessageEntry(message, DispatchKind::Size, member);
}
ResponseEntry MessageEntry(unsigned message, EnterIdleMember member) {
  return MakeMessageEntry(message, DispatchKind::EnterIdle, member);
}
ResponseEntry MessageEntry(unsigned message, DropMember member) {
  return MakeMessageEntry(message, DispatchKind::Drop, member);
}
ResponseEntry MessageEntry(unsigned message, TimerMember member) {
  return MakeMessageEntry(message, DispatchKind::Timer, member);
}

void SetResponseTable(std::span<const ResponseEntry> table) { gTable = table; }

std::span<const ResponseEntry> GetResponseTable() { return gTable; }

const ResponseEntry* FindResponseEntry(std::span<const ResponseEntry> table, unsigned message,
                                       int id) {
  for (const ResponseEntry& e : table) {
    if (e.message == message && e.id == id) return &e;
  }
  return nullptr;
}

unsigned MessageOfEvent(const Event& event) {
  switch (event.type) {
    case EventType::KeyDown: return WM_KEYDOWN;
    case EventType::Char: return WM_CHAR;
    case EventType::LButtonDown: return WM_LBUTTONDOWN;
    case EventType::LButtonUp: return WM_LBUTTONUP;
    case EventType::LButtonDblClk: return WM_LBUTTONDBLCLK;
    case EventType::RButtonDown: return WM_RBUTTONDOWN;
    case EventType::RButtonUp: return WM_RBUTTONUP;
    case EventType::RButtonDblClk: return WM_RBUTTONDBLCLK;
    case EventType::MouseMove: return WM_MOUSEMOVE;
    case EventType::Size: return WM_SIZE;
    case EventType::Timer: return WM_TIMER;
    case EventType::DropFiles: return WM_DROPFILES;
    case EventType::Command: return WM_COMMAND;
    case EventType::KeyUp:
    case EventType::Paint:
    case EventType::Close:
    case EventType::Quit:
      return 0;
  }
  return 0;
}

namespace {
bool IsMouseMessage(unsigned message) {
  switch (message) {
    case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK: case WM_RBUTTONDOWN:
    case WM_RBUTTONUP: case WM_RBUTTONDBLCLK: case WM_MOUSEMOVE:
      return true;
    default:
      return false;
  }
}
}  // namespace

bool DispatchToWindow(TXLAWindow& window, const Event& event) {
  const unsigned message = MessageOfEvent(event);
  if (message == 0) return false;
  if (message == WM_COMMAND) {
    if (event.help) {
      // F1 on an open menu: the idle message of the menu starts help mode, then the
      // highlighted command runs and only offers the help.
      if (const ResponseEntry* idle = window.Find(WM_ENTERIDLE, 0)) {
        InvokeGuarded(window, *idle, event);
      }
    }
    const ResponseEntry* entry = window.Find(0, event.command);
    if (!entry) {
      // No command took the help request: it does not carry over to the next one.
      if (event.help) window.bHelpMode = false;
      return false;
    }
    window.nDispatchedCommand = event.command;
    ArmPreferenceWriteReport();
    if (window.bHelpMode) {
      // In help mode a command only offers its help, whatever its handler does: the
      // dispatcher offers it (and ends help mode) instead of running the handler.
      window.OfferOnlineHelp();
      return true;
    }
    // Handlers never see help mode: they need no check of their own.
    assert(!window.bHelpMode);
    InvokeGuarded(window, *entry, event);
    return true;
  }
  // The view of a global analysis has no markers or on-plot tools: the mouse would
  // reach those of the loaded scans under it.
  if (bGlobalEqView && IsMouseMessage(message)) return false;
  const ResponseEntry* entry = window.Find(message, 0);
  if (!entry) return false;
  return InvokeGuarded(window, *entry, event);
}

bool DispatchCommand(TXLAWindow& window, int id) {
  return DispatchToWindow(window, Event::Command(id));
}

}  // namespace tarmic
