// The commands whose subsystem is not built yet. Each reaches one member,
// TXLAWindow::CmNotAvailable, which names the command in a message box ("... is not
// available in this version"). This list shrinks as the subsystems land: a command
// leaves it when its handler enters the response table.
#pragma once

#include <span>
#include <string>

namespace tarmic {

// The identifiers of the commands that are not built yet, in ascending order.
std::span<const int> UnavailableCommands();
bool IsUnavailableCommand(int id);

// The name of a command as the user knows it: its menu text without the mnemonic
// marks (from the full menu, else the attached one); for a command without a menu
// item the text of the item that shares its handler, or "command <id>".
std::string CommandDisplayName(int id);

// "<name> is not available in this version".
std::string NotAvailableText(int id);

}  // namespace tarmic
