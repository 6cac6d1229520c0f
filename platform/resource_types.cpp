// Lookups in menus, accelerator tables and dialog templates.
#include "platform/resource_types.h"

namespace tarmic {

namespace {
void CollectIds(const std::vector<MenuItem>& items, std::vector<int>& out) {
  for (const MenuItem& item : items) {
    if (item.separator) continue;
    if (item.id != 0 && !item.popup) out.push_back(item.id);
    CollectIds(item.children, out);
  }
}

const MenuItem* FindIn(const std::vector<MenuItem>& items, int id) {
  for (const MenuItem& item : items) {
    if (!item.separator && item.id == id) return &item;
    if (const MenuItem* found = FindIn(item.children, id)) return found;
  }
  return nullptr;
}
}  // namespace

std::vector<int> MenuCommandIds(const MenuResource& menu) {
  std::vector<int> ids;
  CollectIds(menu.items, ids);
  return ids;
}

const MenuItem* FindMenuItem(const MenuResource& menu, int id) {
  if (id == 0) return nullptr;
  return FindIn(menu.items, id);
}

std::optional<int> TranslateAccelerator(const AcceleratorTable& table, int key, unsigned mods) {
  if (key >= 'a' && key <= 'z') key -= 'a' - 'A';
  const unsigned wanted = mods & (MK_CONTROL | MK_SHIFT | MK_ALT);
  for (const Accelerator& a : table.entries) {
    int ak = (a.key >= 'a' && a.key <= 'z') ? a.key - ('a' - 'A') : a.key;
    if (ak == key && (a.mods & (MK_CONTROL | MK_SHIFT | MK_ALT)) == wanted) return a.command;
  }
  return std::nullopt;
}

bool IsMenuBarKey(int key, unsigned mods) {
  return key == VK_F10 && (mods & (MK_CONTROL | MK_SHIFT | MK_ALT)) == 0;
}

const DialogControl* DialogTemplate::Find(int id) const {
  for (const DialogControl& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

}  // namespace tarmic
