// The keyboard of a template dialog (see the header).
#include "platform/dialog_keyboard.h"

#include <cctype>

#include "platform/types.h"

namespace tarmic {

bool TakesKeyboardFocus(const DialogControl& control) {
  switch (control.kind) {
    case ControlKind::Edit:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::PushButton: return true;
    default: return false;
  }
}

int InitialFocusIndex(const DialogTemplate& dialog) {
  // The first value field, where typing goes (a dialog that opens with check boxes
  // before its fields would otherwise take typed digits nowhere) ...
  for (std::size_t i = 0; i < dialog.controls.size(); ++i)
    if (dialog.controls[i].kind == ControlKind::Edit) return static_cast<int>(i);
  // ... else the first control that takes the focus.
  for (std::size_t i = 0; i < dialog.controls.size(); ++i)
    if (TakesKeyboardFocus(dialog.controls[i])) return static_cast<int>(i);
  return -1;
}

std::vector<DialogKey> TypedKeys(const std::string& text) {
  std::vector<DialogKey> keys;
  for (const char c : text) {
    const int u = static_cast<unsigned char>(c);
    const int vk = std::isalnum(u) ? std::toupper(u) : 0;
    keys.push_back(DialogKey{vk, std::isupper(u) ? MK_SHIFT : 0u, u});
  }
  return keys;
}

DialogKey PressedKey(int vk, unsigned mods) { return DialogKey{vk, mods, 0}; }

KeyedDialog::KeyedDialog(const DialogTemplate& dialog, const TransferBuffer& buffer)
    : dialog_(dialog), values_(buffer) {
  for (const DialogControl& c : dialog.controls)
    if (c.kind == ControlKind::Edit) opened_[c.id] = values_.text[c.id];
  Focus(InitialFocusIndex(dialog));
}

int KeyedDialog::FocusedId() const {
  return focus_ < 0 ? 0 : dialog_.controls[static_cast<std::size_t>(focus_)].id;
}

void KeyedDialog::Focus(int index) {
  focus_ = index;
  selected_ = index >= 0 && dialog_.controls[static_cast<std::size_t>(index)].kind == ControlKind::Edit;
}

std::optional<int> KeyedDialog::Press(const DialogKey& key) {
  const int n = static_cast<int>(dialog_.controls.size());
  const DialogControl* focused = focus_ < 0 ? nullptr : &dialog_.controls[static_cast<std::size_t>(focus_)];
  const bool edit = focused && focused->kind == ControlKind::Edit;
  if (key.vk == VK_ESCAPE) return IDCANCEL;
  if (key.vk == VK_RETURN) {
    for (const DialogControl& c : dialog_.controls)
      if (c.kind == ControlKind::PushButton && c.isDefault) return c.id;
    return std::nullopt;
  }
  if (key.vk == VK_TAB) {
    if (focus_ < 0) return std::nullopt;
    const int step = (key.mods & MK_SHIFT) ? n - 1 : 1;
    int next = focus_;
    do next = (next + step) % n;
    while (!TakesKeyboardFocus(dialog_.controls[static_cast<std::size_t>(next)]));
    Focus(next);
    return std::nullopt;
  }
  if (!focused) return std::nullopt;
  if (key.mods & MK_CONTROL) {
    if (edit && key.vk == 'A') selected_ = true;
    if (edit && key.vk == 'C' && selected_) {
      const std::string& shown = values_.text[focused->id];
      const auto exact = values_.exactText.find(focused->id);
      copied_ = exact != values_.exactText.end() && shown == opened_[focused->id] ? exact->second : shown;
    }
    return std::nullopt;
  }
  if (edit) {
    std::string& text = values_.text[focused->id];
    if (key.vk == VK_BACK) {
      if (selected_)
        text.clear();
      else if (!text.empty())
        text.pop_back();
    } else if (key.vk == VK_LEFT || key.vk == VK_RIGHT || key.vk == VK_HOME || key.vk == VK_END) {
      // The cursor keys give up the selection; the cursor is taken to stay at the end.
    } else if (key.ch >= 32) {
      if (selected_) text.clear();
      text += static_cast<char>(key.ch);
    } else {
      return std::nullopt;
    }
    selected_ = false;
    return std::nullopt;
  }
  if (key.vk != VK_SPACE) return std::nullopt;
  switch (focused->kind) {
    case ControlKind::CheckBox: values_.checked[focused->id] = !values_.checked[focused->id]; break;
    case ControlKind::RadioButton:
      for (const DialogControl& c : dialog_.controls)
        if (c.kind == ControlKind::RadioButton && c.group == focused->group) values_.checked[c.id] = false;
      values_.checked[focused->id] = true;
      break;
    case ControlKind::PushButton: return focused->id;
    default: break;
  }
  return std::nullopt;
}

}  // namespace tarmic
