// The whole program in the real Qt window (offscreen): started through its entry
// with a program directory of its own, scan files dropped on the window, the window
// grabbed while the program runs, and the program ended by the Exit command.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/app_main.h"
#include "app/response_table.h"
#include "commands/response_table.h"
#include "platform/events.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_window.h"
#include "plot/data_plots.h"
#include "resources/menus.h"
#include "scandata/data_set.h"
#include "tests/app/shell_test_support.h"
#include "tests/gui/qt_test_app.h"
#include "resources/command_ids.h"

namespace tarmic {
namespace {

std::string Fixture(const std::string& name) {
  return std::string(TARMIC_TEST_DATA_DIR) + "/scans/set_abs/" + name;
}

TEST(ShellWindow, DroppedScansAreShownInTheirColoursInTheRealWindow) {
  gui_test::TestApplication();
  shell_test::ResetShellState();
  InstallResponseTable();
  shell_test::ScratchDir dir("qtshell");
  auto prefs = shell_test::AcceptedDefaults();
  prefs[kPrefCheckTimeStamps] = "0";  // no time-stamp question while loading
  shell_test::WritePreferenceFile(dir.path() + "tarmicparams.ini", prefs);

  QtBackend backend(800, 600);
  SetBackend(&backend);
  UiEvents().Post(Event::Drop({Fixture("00001.ra1"), Fixture("00002.ra1"), Fixture("00003.ra1")}));

  // While the program waits for input, look at the window once the scans are shown,
  // then choose Exit. The check repeats until the loaded scans have been painted.
  QImage shot;
  int scansSeen = 0;
  std::set<Color> expected;
  std::function<void()> look = [&] {
    if (DataSet().nScans == 3 && expected.empty()) {
      for (int i = 1; i <= DataSet().nScans; ++i) expected.insert(ScanColor(i));
    }
    shot = backend.QtMainWindow().Client()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::set<QRgb> upper;
    for (int y = 0; y < shot.height() / 2; ++y)
      for (int x = 0; x < shot.width(); ++x) upper.insert(shot.pixel(x, y) & 0xFFFFFFu);
    scansSeen = 0;
    for (Color c : expected)
      scansSeen += std::any_of(upper.begin(), upper.end(),
                               [c](QRgb p) { return gui_test::IsColourOverWhite(p, c); });
    if (expected.empty() || scansSeen < 3) {
      static int tries = 0;
      if (++tries < 100) {
        QTimer::singleShot(20, look);
        return;
      }
    }
    UiEvents().Post(Event::Command(kCmExit));
  };
  QTimer::singleShot(0, look);

  std::string arg = dir.Program();
  char* argv[] = {arg.data(), nullptr};
  EXPECT_EQ(OwlMain(1, argv), 0);

  std::filesystem::create_directories(TARMIC_TEST_OUTPUT_DIR);
  shot.save(QString::fromStdString(std::string(TARMIC_TEST_OUTPUT_DIR) + "/shell_window.png"));
  EXPECT_EQ(expected.size(), 3u);
  EXPECT_EQ(scansSeen, 3);
  SetBackend(nullptr);
  SetResponseTable({});
  shell_test::ResetShellState();
}

// F1 on a highlighted item asks for help on its command, also on a greyed item of the
// full command set, which a click does not choose.
TEST(ShellWindow, HelpKeyOnAHighlightedMenuItemAsksForHelpOnThatCommand) {
  struct Case {
    std::string_view menu;
    int id;
    bool greyed;
  };
  for (const Case& c : {Case{kMenuVirez, kCmShowResiduals, false}, Case{kMenuFull, kCmEditDataFiles, true}}) {
    SCOPED_TRACE(c.id);
    gui_test::TestApplication();
    UiEvents().Clear();
    QtBackend backend(640, 480);
    SetBackend(&backend);
    Window& window = backend.MainWindow();
    window.AttachMenu(GetMenuResource(c.menu));
    if (c.greyed) ASSERT_TRUE(window.EnableMenuItem(c.id, false));
    window.Show();
    gui_test::ProcessQtEvents();

    QAction* action = backend.QtMainWindow().Menu().Action(c.id);
    ASSERT_NE(action, nullptr);
    auto* menu = qobject_cast<QMenu*>(action->parent());
    ASSERT_NE(menu, nullptr);
    menu->popup(QPoint(10, 10));
    gui_test::ProcessQtEvents();
    const auto command = [] { return UiEvents().TakeIf([](const Event& ev) { return ev.type == EventType::Command; }); };
    if (c.greyed) {
      action->trigger();
      gui_test::ProcessQtEvents();
      EXPECT_FALSE(command());
    }
    menu->setActiveAction(action);
    EXPECT_EQ(menu->activeAction(), action);
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QCoreApplication::sendEvent(menu, &f1);
    gui_test::ProcessQtEvents();

    std::optional<Event> e = command();
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->command, c.id);
    EXPECT_TRUE(e->help);
    EXPECT_FALSE(menu->isVisible());
    SetBackend(nullptr);
    UiEvents().Clear();
  }
}

}  // namespace
}  // namespace tarmic
