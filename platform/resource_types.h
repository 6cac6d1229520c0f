// Data types of window resources: menus, accelerator tables and dialog templates,
// and the transfer buffer that carries a dialog's control values in and out.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace tarmic {

// A menu item: a command (id != 0), a popup (children), or a separator.
struct MenuItem {
  int id = 0;
  std::string text;        // with '&' before the mnemonic letter
  std::string accelHint;   // shown after a tab, e.g. "^L"
  bool popup = false;
  bool separator = false;
  std::vector<MenuItem> children;
};

struct MenuResource {
  std::string name;
  std::vector<MenuItem> items;  // the menu bar
};

// All command identifiers of a menu, in menu order.
std::vector<int> MenuCommandIds(const MenuResource& menu);
// The item with the command identifier, or nullptr.
const MenuItem* FindMenuItem(const MenuResource& menu, int id);

struct Accelerator {
  int key = 0;          // virtual-key code
  unsigned mods = 0;    // MK_CONTROL, MK_SHIFT, MK_ALT
  int command = 0;
};

struct AcceleratorTable {
  int id = 0;
  std::vector<Accelerator> entries;
};

// The command of the first entry matching a key press, if any.
std::optional<int> TranslateAccelerator(const AcceleratorTable& table, int key, unsigned mods);
// F10 without Ctrl, Shift or Alt: the key of the menu bar (it opens the first menu,
// or closes an open one), never a key of the program.
bool IsMenuBarKey(int key, unsigned mods);

enum class ControlKind { Edit, CheckBox, RadioButton, Static, PushButton, GroupBox };

struct DialogControl {
  int id = 0;
  ControlKind kind = ControlKind::Static;
  std::string label;
  int x = 0, y = 0, width = 0, height = 0;  // dialog units
  int group = 0;    // radio buttons of one group share a number
  bool isDefault = false;  // the default push button
};

struct DialogTemplate {
  std::string name;
  std::string caption;
  int width = 0, height = 0;
  std::vector<DialogControl> controls;

  const DialogControl* Find(int id) const;
};

// Values of a dialog's controls by control id: texts of edit controls, states of
// check boxes and radio buttons. A dialog reads it when it opens and writes it back
// when it is closed with OK.
struct TransferBuffer {
  std::map<int, std::string> text;
  std::map<int, bool> checked;
  // The full value of an edit whose text shows fewer digits than the value has: a
  // copy of the whole field copies it while the field still shows its first text.
  std::map<int, std::string> exactText;
};

}  // namespace tarmic
