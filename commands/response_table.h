// The main window's response table: all window messages and every command
// identifier of both menus and of the accelerator table, each mapped to its member
// of TXLAWindow. InstallResponseTable makes it the table the window searches; the
// program and the whole-window tests call it before the window is made.
#pragma once

#include <span>

#include "app/response_table.h"

namespace tarmic {

// The table in lookup order: the window messages, then the commands.
std::span<const ResponseEntry> MainWindowResponseTable();

// Installs the table for TXLAWindow::Find.
void InstallResponseTable();

}  // namespace tarmic
