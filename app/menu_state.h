// The state of the menu items (check marks and greying), derived from the program's
// state in one place. The window shows it whenever its items are made anew: at
// start-up, after a switch between the two menus and after a load. The commands set
// single check marks as they change a switch; what they show must always equal what
// MenuItemStateOf says, so that a menu attached later shows the same.
#pragma once

#include <vector>

#include "app/menu_item_state.h"

namespace tarmic {

class TXLAWindow;

// What the item of a command shows now: the switches of the shell and of the
// libraries below it are read here, those of the command library through the shell
// hook menuItemState. A command that is no switch is unchecked and enabled.
MenuItemState MenuItemStateOf(int id);

// Every command that has an item in either menu, and the "FloTools" item.
const std::vector<int>& MenuStateCommands();

// Gives every item of the attached menu the state MenuItemStateOf says (items the
// attached menu lacks are skipped by the window).
void ShowMenuState(TXLAWindow& window);

}  // namespace tarmic
