// The state one menu item shows: its check mark and whether it is enabled. The
// menu state computes it, and the libraries above the shell report theirs through
// the shell hooks.
#pragma once

namespace tarmic {

struct MenuItemState {
  bool checked = false;
  bool enabled = true;
  bool operator==(const MenuItemState&) const = default;
};

}  // namespace tarmic
