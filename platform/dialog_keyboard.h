// The keyboard of a template dialog, as both backends give it: the controls that
// take the focus are the edit fields, check boxes, radio buttons and push buttons,
// in the order of the template; the first edit field (without one, the first of
// them) has the focus when the dialog opens. An edit field that gets the focus at the dialog's start or by the keyboard
// (Tab, Shift+Tab) has its whole text selected, so that what is typed replaces the
// value instead of being added to it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/resource_types.h"

namespace tarmic {

bool TakesKeyboardFocus(const DialogControl& control);
// The index in dialog.controls of the control that has the focus as the dialog
// opens; -1 when no control takes the focus.
int InitialFocusIndex(const DialogTemplate& dialog);

// One key pressed in a dialog: vk the key, mods MK_SHIFT / MK_CONTROL, ch the
// character it types (0: none).
struct DialogKey {
  int vk = 0;
  unsigned mods = 0;
  int ch = 0;
};
// The keys that type text (letters, digits, signs), one per character.
std::vector<DialogKey> TypedKeys(const std::string& text);
DialogKey PressedKey(int vk, unsigned mods = 0);

// A template dialog worked by keys alone, for the scripted backend: its edit texts
// and check states follow the keys as the window system's controls do. A field
// whose whole text is selected is replaced by what is typed; otherwise typing goes
// to the end of the text. Ctrl+C copies the focused field's text (its selection is
// the whole text or nothing), or the exact value the program gave the field
// (TransferBuffer::exactText) while the field still shows the text it opened with.
class KeyedDialog {
 public:
  KeyedDialog(const DialogTemplate& dialog, const TransferBuffer& buffer);
  // Applies one key; the dialog's result once a key ended it (Enter on a dialog
  // with a default button, Space on a push button: that button's id; Esc:
  // IDCANCEL), else nothing.
  std::optional<int> Press(const DialogKey& key);
  // The values now shown (only the controls that hold one).
  const TransferBuffer& Values() const { return values_; }
  // The control id with the focus, 0 for none.
  int FocusedId() const;
  bool WholeTextSelected() const { return selected_; }
  // What the last Ctrl+C put on the clipboard (nothing before one).
  const std::optional<std::string>& Copied() const { return copied_; }

 private:
  void Focus(int index);

  const DialogTemplate& dialog_;
  TransferBuffer values_;
  std::map<int, std::string> opened_;  // the edit texts as the dialog opened
  int focus_ = -1;
  bool selected_ = false;
  std::optional<std::string> copied_;
};

}  // namespace tarmic
