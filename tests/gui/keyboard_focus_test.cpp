// Accelerators of the real frame window (offscreen) whatever has the keyboard: the
// keys are sent to the frame's window as the window system sends them (to whatever
// widget has the focus), after a dialog or a box has closed, after a menu was closed
// with Esc, and with no widget or the menu bar focused.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/events.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_window.h"
#include "resources/menus.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

using gui_test::ProcessQtEvents;
using gui_test::WhenModalOpens;

class KeyboardFocus : public ::testing::Test {
 protected:
  void SetUp() override {
    gui_test::TestApplication();
    UiEvents().Clear();
    backend_ = std::make_unique<QtBackend>(500, 300);
    SetBackend(backend_.get());
    table_ = GetAcceleratorTable(kAcceleratorTableId);
    Win().AttachMenu(GetMenuResource(kMenuVirez));
    Win().SetAccelerators(table_);
    Win().Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Win().Frame()));
    ProcessQtEvents();
    UiEvents().Clear();
  }
  void TearDown() override {
    SetBackend(nullptr);
    backend_.reset();
    ProcessQtEvents();
    UiEvents().Clear();
  }

  QtWindow& Win() { return backend_->QtMainWindow(); }

  // The command of Ctrl+<letter> in the program's accelerator table.
  int CtrlCommand(char letter) const {
    std::optional<int> id = TranslateAccelerator(table_, letter, MK_CONTROL);
    return id ? *id : 0;
  }

  // Ctrl+<letter> typed into the frame's window; the commands and keys that the
  // program received.
  std::vector<Event> TypeCtrl(char letter) {
    UiEvents().Clear();
    QTest::keyClick(Win().Frame()->windowHandle(),
                    static_cast<Qt::Key>(Qt::Key_A + (letter - 'A')), Qt::ControlModifier);
    ProcessQtEvents();
    std::vector<Event> events;
    while (std::optional<Event> e = UiEvents().Take()) events.push_back(*e);
    return events;
  }

  static bool HasCommand(const std::vector<Event>& events, int id) {
    return id != 0 && std::any_of(events.begin(), events.end(), [id](const Event& e) {
             return e.type == EventType::Command && e.command == id;
           });
  }

  AcceleratorTable table_;
  std::unique_ptr<QtBackend> backend_;
};

TEST_F(KeyboardFocus, AcceleratorsWorkWhateverWidgetOfTheFrameHasTheFocus) {
  EXPECT_TRUE(HasCommand(TypeCtrl('L'), CtrlCommand('L')));

  // No widget has the focus (as after a click on the title bar that activates the
  // window without giving a widget the focus): the frame gets the keys.
  Win().Client()->clearFocus();
  ProcessQtEvents();
  ASSERT_NE(QApplication::focusWidget(), Win().Client());
  EXPECT_TRUE(HasCommand(TypeCtrl('P'), CtrlCommand('P')));
  // Other keys reach the program too.
  UiEvents().Clear();
  QTest::keyClick(Win().Frame()->windowHandle(), Qt::Key_Escape);
  ProcessQtEvents();
  std::optional<Event> key =
      UiEvents().TakeIf([](const Event& e) { return e.type == EventType::KeyDown; });
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->key, VK_ESCAPE);

  // The menu bar has the focus.
  Win().Menu().Bar()->setFocus();
  ProcessQtEvents();
  EXPECT_TRUE(HasCommand(TypeCtrl('O'), CtrlCommand('O')));
}

TEST_F(KeyboardFocus, AcceleratorsWorkAsSoonAsABoxOrAFileDialogCloses) {
  WhenModalOpens([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
  backend_->MessageBox("text", "caption", MB_OK);
  ProcessQtEvents();
  EXPECT_EQ(QApplication::focusWidget(), Win().Client());
  EXPECT_TRUE(HasCommand(TypeCtrl('P'), CtrlCommand('P')));

  WhenModalOpens([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
  FileDialogOptions options;
  options.title = "open";
  EXPECT_TRUE(backend_->OpenFileDialog(options).empty());
  ProcessQtEvents();
  EXPECT_EQ(QApplication::focusWidget(), Win().Client());
  EXPECT_TRUE(HasCommand(TypeCtrl('O'), CtrlCommand('O')));
  EXPECT_TRUE(HasCommand(TypeCtrl('L'), CtrlCommand('L')));
}

TEST_F(KeyboardFocus, AMenuClosedWithEscapeGivesTheKeyboardBack) {
  QMenuBar* bar = Win().Menu().Bar();
  QAction* first = bar->actions().front();
  ASSERT_NE(first->menu(), nullptr);
  // Open the first menu with a click on the bar and close it with Esc.
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(first).center());
  ProcessQtEvents();
  ASSERT_NE(QApplication::activePopupWidget(), nullptr);
  QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
  ProcessQtEvents();
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_EQ(QApplication::focusWidget(), Win().Client());

  // A plain key is the program's again (not the menu bar's navigation), and so are
  // the accelerators.
  UiEvents().Clear();
  QTest::keyClick(Win().Frame()->windowHandle(), Qt::Key_Right);
  ProcessQtEvents();
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  std::optional<Event> key =
      UiEvents().TakeIf([](const Event& e) { return e.type == EventType::KeyDown; });
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->key, VK_RIGHT);
  EXPECT_TRUE(HasCommand(TypeCtrl('P'), CtrlCommand('P')));

  // A command chosen from a menu with the mouse leaves the keyboard with the window.
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(first).center());
  ProcessQtEvents();
  QMenu* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(popup, nullptr);
  popup->close();
  ProcessQtEvents();
  EXPECT_TRUE(HasCommand(TypeCtrl('L'), CtrlCommand('L')));
}

// The arrow keys walk the whole menu bar in its order, popups and the commands that
// sit on the bar alike, from a menu opened with the mouse or with the keyboard.
TEST_F(KeyboardFocus, ArrowKeysWalkTheWholeMenuBar) {
  QMenuBar* bar = Win().Menu().Bar();
  const QList<QAction*> items = bar->actions();
  ASSERT_GT(items.size(), 5);
  ASSERT_TRUE(std::any_of(items.begin(), items.end(), [](QAction* a) { return !a->menu(); }));
  // A key as the window system delivers it: to an open popup, else to the frame.
  const auto press = [this](Qt::Key key) {
    QWidget* popup = QApplication::activePopupWidget();
    QTest::keyClick(popup ? popup->windowHandle() : Win().Frame()->windowHandle(), key);
    ProcessQtEvents();
  };
  const auto walk = [&](Qt::Key key, int step) {
    std::vector<QAction*> seen, expected;
    for (qsizetype k = 1; k <= items.size(); ++k) {
      press(key);
      seen.push_back(bar->activeAction());
      expected.push_back(items[(k * step % items.size() + items.size()) % items.size()]);
      // A popup is open on a menu, none on a command.
      if (bar->activeAction() && bar->activeAction()->menu())
        EXPECT_EQ(QApplication::activePopupWidget(), bar->activeAction()->menu());
    }
    EXPECT_EQ(seen, expected);
  };
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(items.front()).center());
  ProcessQtEvents();
  ASSERT_EQ(QApplication::activePopupWidget(), items.front()->menu());
  walk(Qt::Key_Right, 1);
  walk(Qt::Key_Left, -1);
  press(Qt::Key_Escape);
  press(Qt::Key_Escape);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_EQ(QApplication::focusWidget(), Win().Client());

  // Enter on a command of the bar chooses it and gives the keyboard back; Esc on
  // one ends the walk without a command.
  const auto parameters = std::find_if(items.begin(), items.end(), [](QAction* a) { return !a->menu(); });
  for (Qt::Key last : {Qt::Key_Return, Qt::Key_Escape}) {
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(items.front()).center());
    ProcessQtEvents();
    while (bar->activeAction() != *parameters && QApplication::activePopupWidget()) press(Qt::Key_Right);
    ASSERT_EQ(bar->activeAction(), *parameters);
    UiEvents().Clear();
    press(last);
    std::vector<Event> events;
    while (std::optional<Event> e = UiEvents().Take()) events.push_back(*e);
    EXPECT_EQ(HasCommand(events, Win().Menu().CommandOf(*parameters)), last == Qt::Key_Return);
    EXPECT_EQ(bar->activeAction(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), Win().Client());
    EXPECT_TRUE(HasCommand(TypeCtrl('L'), CtrlCommand('L')));
  }
}

// Alt with the underlined letter reaches every item of the menu bar, in both menus:
// a popup opens, a command on the bar is chosen.
TEST_F(KeyboardFocus, AltWithTheMnemonicOpensEveryItemOfTheMenuBar) {
  for (std::string_view name : {kMenuVirez, kMenuFull}) {
    const MenuResource& menu = GetMenuResource(name);
    Win().AttachMenu(menu);
    ProcessQtEvents();
    QMenuBar* bar = Win().Menu().Bar();
    const QList<QAction*> actions = bar->actions();
    ASSERT_EQ(static_cast<std::size_t>(actions.size()), menu.items.size());
    for (qsizetype k = 0; k < actions.size(); ++k) {
      const std::string& text = menu.items[static_cast<std::size_t>(k)].text;
      const std::size_t amp = text.find('&');
      ASSERT_NE(amp, std::string::npos) << text;
      const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[amp + 1])));
      UiEvents().Clear();
      QTest::keyClick(Win().Frame()->windowHandle(), static_cast<Qt::Key>(Qt::Key_A + (letter - 'A')),
                      Qt::AltModifier);
      ProcessQtEvents();
      std::vector<Event> events;
      while (std::optional<Event> e = UiEvents().Take()) events.push_back(*e);
      if (QMenu* popup = actions[k]->menu()) {
        EXPECT_EQ(QApplication::activePopupWidget(), popup) << name << ": " << text;
        // The letter is the menu's: no command, and no key of the letter for the program.
        EXPECT_TRUE(std::none_of(events.begin(), events.end(), [letter](const Event& e) {
          return e.type == EventType::Command || e.type == EventType::Char ||
                 (e.type == EventType::KeyDown && e.key == letter);
        })) << name << ": " << text;
        while (QWidget* open = QApplication::activePopupWidget())
          QTest::keyClick(open->windowHandle(), Qt::Key_Escape);
        ProcessQtEvents();
      } else {
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << text;
        EXPECT_TRUE(HasCommand(events, menu.items[static_cast<std::size_t>(k)].id)) << name << ": " << text;
      }
      ProcessQtEvents();
    }
  }
}

// F10 opens the first menu of the bar with its first item highlighted (the program
// sees no key), the arrows walk on from there, and F10 closes the menu again and
// gives the keyboard back to the window.
TEST_F(KeyboardFocus, F10OpensAndClosesTheMenuBar) {
  QMenuBar* bar = Win().Menu().Bar();
  const QList<QAction*> items = bar->actions();
  const auto press = [this](Qt::Key key) {
    QWidget* popup = QApplication::activePopupWidget();
    QTest::keyClick(popup ? popup->windowHandle() : Win().Frame()->windowHandle(), key);
    ProcessQtEvents();
  };
  UiEvents().Clear();
  press(Qt::Key_F10);
  QMenu* first = items.front()->menu();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(QApplication::activePopupWidget(), first);
  EXPECT_EQ(first->activeAction(), first->actions().front());
  EXPECT_TRUE(UiEvents().Empty());
  press(Qt::Key_Right);
  EXPECT_EQ(bar->activeAction(), items[1]);
  press(Qt::Key_F10);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_EQ(QApplication::focusWidget(), Win().Client());
  EXPECT_TRUE(UiEvents().Empty());
  EXPECT_TRUE(HasCommand(TypeCtrl('L'), CtrlCommand('L')));
  // Shift+F10 and the other function keys stay the program's keys.
  UiEvents().Clear();
  QTest::keyClick(Win().Frame()->windowHandle(), Qt::Key_F10, Qt::ShiftModifier);
  ProcessQtEvents();
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_TRUE(UiEvents()
                  .TakeIf([](const Event& e) { return e.type == EventType::KeyDown && e.key == VK_F10; })
                  .has_value());
}

}  // namespace
}  // namespace tarmic
