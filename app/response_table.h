// The main window's response table: which member of TXLAWindow handles each
// window message and each menu command, and how a message's parameters are cracked
// into the member's arguments.
//
// Lookup is a linear search in table order; the first entry whose message and
// identifier match wins. The table itself is data of the command library, which
// installs it at start-up (this library cannot name the command members' home).
// Messages and commands without an entry get the frame window's default handling:
// nothing, except that Close ends the program and Paint paints.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/events.h"
#include "platform/types.h"

namespace tarmic {

class TXLAWindow;

// Window messages of the table.
inline constexpr unsigned WM_SIZE = 0x0005;
inline constexpr unsigned WM_KEYDOWN = 0x0100;
inline constexpr unsigned WM_CHAR = 0x0102;
inline constexpr unsigned WM_COMMAND = 0x0111;
inline constexpr unsigned WM_TIMER = 0x0113;
inline constexpr unsigned WM_ENTERIDLE = 0x0121;
inline constexpr unsigned WM_MOUSEMOVE = 0x0200;
inline constexpr unsigned WM_LBUTTONDOWN = 0x0201;
inline constexpr unsigned WM_LBUTTONUP = 0x0202;
inline constexpr unsigned WM_LBUTTONDBLCLK = 0x0203;
inline constexpr unsigned WM_RBUTTONDOWN = 0x0204;
inline constexpr unsigned WM_RBUTTONUP = 0x0205;
inline constexpr unsigned WM_RBUTTONDBLCLK = 0x0206;
inline constexpr unsigned WM_DROPFILES = 0x0233;

// Size type of WM_SIZE for a window that was resized.
inline constexpr unsigned SIZE_RESTORED = 0;

// How the parameters of a message reach the member.
enum class DispatchKind { Command, Key, Mouse, Size, EnterIdle, Drop, Timer };

using CommandMember = void (TXLAWindow::*)();
using KeyMember = void (TXLAWindow::*)(unsigned key, unsigned repeatCount, unsigned flags);
using MouseMember = void (TXLAWindow::*)(unsigned modKeys, const Point& point);
using SizeMember = void (TXLAWindow::*)(unsigned sizeType, const Size& size);
using EnterIdleMember = void (TXLAWindow::*)(unsigned source, bool helpKeyDown);
using DropMember = void (TXLAWindow::*)(const std::vector<std::string>& files);
using TimerMember = void (TXLAWindow::*)(unsigned timerId);

struct ResponseEntry {
  unsigned message = 0;  // 0 for a menu command
  int id = 0;            // command identifier; 0 for a window message
  DispatchKind kind = DispatchKind::Command;
  std::variant<CommandMember, KeyMember, MouseMember, SizeMember, EnterIdleMember, DropMember,
               TimerMember>
      member;
};

// Entry builders; the dispatch kind follows from the member's type.
ResponseEntry CommandEntry(int id, CommandMember member);
ResponseEntry MessageEntry(unsigned message, KeyMember member);
ResponseEntry MessageEntry(unsigned message, MouseMember member);
ResponseEntry MessageEntry(unsigned message, SizeMember member);
ResponseEntry MessageEntry(unsigned message, EnterIdleMember member);
ResponseEntry MessageEntry(unsigned message, DropMember member);
ResponseEntry MessageEntry(unsigned message, TimerMember member);

// Installs the table that TXLAWindow::Find searches (the command library's data;
// an empty span removes it). The entries must outlive their use.
void SetResponseTable(std::span<const ResponseEntry> table);
std::span<const ResponseEntry> GetResponseTable();

// The first entry of table with the message and the identifier, or nullptr.
const ResponseEntry* FindResponseEntry(std::span<const ResponseEntry> table, unsigned message,
                                       int id);

// The window message of an event of the platform queue: WM_COMMAND for commands,
// 0 for events the table never handles (key release, paint, close, quit).
unsigned MessageOfEvent(const Event& event);

// Dispatches one event to the window through its response table: a command calls
// its member (after help mode has been set for a help request of the menu), a
// window message its member with the cracked parameters. A command that ends with
// a fatal error (FatalError, already reported) ends there: the program and the
// loaded data stay. Returns whether an entry handled the event.
bool DispatchToWindow(TXLAWindow& window, const Event& event);
// Dispatches a menu command by identifier, as if chosen from the menu.
bool DispatchCommand(TXLAWindow& window, int id);

}  // namespace tarmic
