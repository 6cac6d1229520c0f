#include "platform/qt/qt_menu.h"

#include <cctype>
#include <string>

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>

#include "platform/events.h"
#include "platform/qt/qt_convert.h"

namespace tarmic {

namespace {

QString ItemText(const MenuItem& item) {
  QString text = QtMenuText(item.text);
  // Text after a tab is shown right-aligned in the menu, where shortcuts go.
  if (!item.accelHint.empty()) text += QChar('\t') + ToQString(item.accelHint);
  return text;
}

// Watches an open popup for the help key: F1 on a highlighted command closes the
// menus and posts the command as a help request (the program's help mode).
class HelpKeyFilter : public QObject {
 public:
  HelpKeyFilter(QObject* parent, const QtMenuBar& bar) : QObject(parent), bar_(bar) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    auto* menu = qobject_cast<QMenu*>(watched);
    if (key->key() != Qt::Key_F1 || !menu) return false;
    // A greyed item has its help too (MenuStyle lets it be highlighted).
    QAction* action = menu->activeAction();
    const int id = action && !action->menu() ? bar_.CommandOf(action) : 0;
    if (id == 0) return false;
    while (QWidget* popup = QApplication::activePopupWidget()) {
      if (!popup->close()) break;
    }
    UiEvents().Post(Event::HelpCommand(id));
    return true;
  }

 private:
  const QtMenuBar& bar_;
};

// The application's style, except that a greyed item of a popup can be highlighted
// (by the pointer and by the arrow keys) like any other: it still cannot be chosen,
// but F1 on it shows its help.
class MenuStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_Menu_AllowActiveAndDisabled) return 1;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

QString QtMenuText(std::string_view text) {
  // "&&" is a literal "&" already; an "&" before a letter, digit or sign marks the
  // item's letter, the first one only; any other "&" ("meniscus & bottom", a second
  // marker, one at the end) is a literal "&", which Qt shows only when doubled.
  std::string out;
  bool marked = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] != '&') continue;
    if (i + 1 < text.size() && text[i + 1] == '&') {
      out += text[++i];
      continue;
    }
    const bool marker = !marked && i + 1 < text.size() &&
                        std::isgraph(static_cast<unsigned char>(text[i + 1])) != 0;
    if (!marker) out += '&';
    marked = marked || marker;
  }
  return ToQString(out);
}

void QtMenuBar::Build(QMainWindow& frame, const MenuResource& menu,
                      std::function<void(int)> onCommand) {
  entries_.clear();
  checked_.clear();
  onCommand_ = std::move(onCommand);
  bar_ = new QMenuBar(&frame);
  bar_->setNativeMenuBar(false);
  AddItems(bar_, menu.items);
  // The style is the bar's last child, so it outlives the popups when the bar goes.
  auto* style = new MenuStyle;
  style->setParent(bar_);
  for (QMenu* popup : bar_->findChildren<QMenu*>()) popup->setStyle(style);
  frame.setMenuBar(bar_);  // the frame deletes the previous bar
}

void QtMenuBar::AddItems(QWidget* container, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    if (item.separator) {
      auto* sep = new QAction(container);
      sep->setSeparator(true);
      container->addAction(sep);
    } else if (item.popup) {
      auto* popup = new QMenu(QtMenuText(item.text), container);
      WatchHelpKey(popup);
      if (auto* bar = qobject_cast<QMenuBar*>(container)) {
        bar->addMenu(popup);
      } else if (auto* parent = qobject_cast<QMenu*>(container)) {
        parent->addMenu(popup);
      }
      AddItems(popup, item.children);
    } else {
      // A menu bar shows no shortcut column: its commands show their text only.
      bool onBar = qobject_cast<QMenuBar*>(container) != nullptr;
      QAction* action =
          MakeCommand(container, item.id, onBar ? QtMenuText(item.text) : ItemText(item));
      container->addAction(action);
    }
  }
}

QAction* QtMenuBar::MakeCommand(QWidget* container, int id, const QString& text) {
  auto* action = new QAction(text, container);
  QObject::connect(action, &QAction::triggered, action, [this, id, action]() {
    // Choosing an item never changes its check mark by itself: the command does.
    bool checked = IsChecked(id);
    action->setCheckable(checked);
    action->setChecked(checked);
    if (onCommand_) onCommand_(id);
  });
  entries_[id].push_back(Entry{action, container});
  if (checked_.count(id)) {
    action->setCheckable(true);
    action->setChecked(true);
  }
  return action;
}

bool QtMenuBar::Check(int id, bool checked) {
  auto it = entries_.find(id);
  if (it == entries_.end()) return false;
  if (checked) {
    checked_.insert(id);
  } else {
    checked_.erase(id);
  }
  // Only checked items are checkable, so unchecked items show no empty box.
  for (const Entry& e : it->second) {
    e.action->setCheckable(checked);
    e.action->setChecked(checked);
  }
  return true;
}

bool QtMenuBar::Enable(int id, bool enabled) {
  auto it = entries_.find(id);
  if (it == entries_.end()) return false;
  for (const Entry& e : it->second) e.action->setEnabled(enabled);
  return true;
}

bool QtMenuBar::InsertBefore(int beforeId, int id, std::string_view text) {
  auto it = entries_.find(beforeId);
  if (it == entries_.end() || it->second.empty()) return false;
  Entry before = it->second.front();
  QAction* action = MakeCommand(before.container, id, QtMenuText(text));
  before.container->insertAction(before.action, action);
  return true;
}

bool QtMenuBar::Delete(int id) {
  auto it = entries_.find(id);
  if (it == entries_.end() || it->second.empty()) return false;
  Entry first = it->second.front();
  it->second.erase(it->second.begin());
  if (it->second.empty()) {
    entries_.erase(it);
    checked_.erase(id);
  }
  first.container->removeAction(first.action);
  delete first.action;
  return true;
}

bool QtMenuBar::Has(int id) const { return entries_.count(id) != 0; }

bool QtMenuBar::IsChecked(int id) const { return checked_.count(id) != 0; }

bool QtMenuBar::IsEnabled(int id) const {
  auto it = entries_.find(id);
  if (it == entries_.end() || it->second.empty()) return false;
  return it->second.front().action->isEnabled();
}

void QtMenuBar::WatchHelpKey(QMenu* popup) {
  popup->installEventFilter(new HelpKeyFilter(popup, *this));
}

int QtMenuBar::CommandOf(const QAction* action) const {
  for (const auto& [id, list] : entries_) {
    for (const Entry& e : list) {
      if (e.action == action) return id;
    }
  }
  return 0;
}

QAction* QtMenuBar::Action(int id) const {
  auto it = entries_.find(id);
  if (it == entries_.end() || it->second.empty()) return nullptr;
  return it->second.front().action;
}

}  // namespace tarmic
