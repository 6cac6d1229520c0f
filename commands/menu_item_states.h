// The check marks and grey states of the commands whose switches the command
// library keeps: the model chosen, the fit and fluorescence options, the buffer and
// solvent corrections, and the greying of the commands this version does not build
// while the full command set is attached. The shell asks through its hook
// menuItemState (installed with the program's services).
#pragma once

#include "app/menu_state.h"

namespace tarmic {

MenuItemState CommandMenuItemState(int id);

}  // namespace tarmic
