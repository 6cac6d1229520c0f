// The frame window's menu bar, built from a menu resource. Items are addressed by
// command identifier, as the program addresses them: check marks, grey/enable,
// insert before an item and delete. A command that appears twice in a menu has its
// check mark and enabled state set on both items; delete removes the first one.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "platform/resource_types.h"

#include <QString>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class QWidget;

namespace tarmic {

// A menu text of the program as Qt shows it: the program marks the item's letter
// with an "&" before it and writes other "&"s plainly ("meniscus & bottom"); Qt
// takes every single "&" as a marker, so those are doubled.
QString QtMenuText(std::string_view text);

class QtMenuBar {
 public:
  // Replaces the menu bar of frame with one built from menu. Choosing an item calls
  // onCommand with its identifier.
  void Build(QMainWindow& frame, const MenuResource& menu, std::function<void(int)> onCommand);

  bool Check(int id, bool checked);
  bool Enable(int id, bool enabled);
  bool InsertBefore(int beforeId, int id, std::string_view text);
  bool Delete(int id);
  bool Has(int id) const;
  bool IsChecked(int id) const;
  bool IsEnabled(int id) const;

  QMenuBar* Bar() const { return bar_; }
  // The first item with the identifier, or nullptr.
  QAction* Action(int id) const;
  // The command identifier of an item, or 0 for another action.
  int CommandOf(const QAction* action) const;

 private:
  struct Entry {
    QAction* action;
    QWidget* container;  // the menu or menu bar that holds the action
  };
  void AddItems(QWidget* container, const std::vector<MenuItem>& items);
  QAction* MakeCommand(QWidget* container, int id, const QString& text);
  // Makes the help key (F1) on a highlighted item of the popup choose that item in
  // help mode.
  void WatchHelpKey(QMenu* popup);

  QMenuBar* bar_ = nullptr;
  std::map<int, std::vector<Entry>> entries_;
  std::set<int> checked_;
  std::function<void(int)> onCommand_;
};

}  // namespace tarmic
