// The program's menus and its accelerator table, as data.
//
// Two menus exist: "MENU_VIREZ", the one the main window attaches by default (89
// commands), and "MENU_1", the full command set (208 distinct commands; "Serialize Fit
// by list.* File" and "Serialize Fit With GUSSI Monitoring" appear twice in it). Both
// have one more item, "Full Command Set" at the end of the Options popup, which
// switches between them. Accelerator
// table 303 turns 22 key combinations into commands whichever menu is attached.
#pragma once

#include <string>
#include <string_view>

#include "platform/resource_types.h"

namespace tarmic {

// Resource names and identifiers.
inline constexpr std::string_view kMenuVirez = "MENU_VIREZ";
inline constexpr std::string_view kMenuFull = "MENU_1";
inline constexpr int kAcceleratorTableId = 303;

// The menu resource with the given name. An unknown name is a programming error:
// std::invalid_argument naming the resource is thrown.
const MenuResource& GetMenuResource(std::string_view name);

// The accelerator table with the given identifier; std::invalid_argument for an
// unknown identifier.
const AcceleratorTable& GetAcceleratorTable(int id);

// The hint shown after a tab in a menu item for an accelerator entry: "^L" for
// Ctrl+L, "Alt+F" for Alt+F (keys that are letters or digits).
std::string AcceleratorHint(const Accelerator& accel);

}  // namespace tarmic
