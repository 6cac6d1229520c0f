// The real window opens inside the room its screen leaves free: asked for more than
// the screen holds, it opens as large as the room allows, frame and menu bar
// included, and can still be made as small as it fits; asked for less, it opens at
// the size asked for.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QDialog>
#include <QMenuBar>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_window.h"
#include "platform/qt/qt_menu.h"
#include "resources/dialogs.h"
#include "resources/menus.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

// A window with the short menu, asked for at width x height, installed and shown.
std::unique_ptr<QtBackend> ShownWindow(int width, int height) {
  auto backend = std::make_unique<QtBackend>(width, height);
  SetBackend(backend.get());
  QtWindow& w = backend->QtMainWindow();
  w.AttachMenu(GetMenuResource(kMenuVirez));
  w.Show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(w.Frame()));
  gui_test::ProcessQtEvents();
  return backend;
}

TEST(WindowOpening, TheFrameOpensInsideTheScreensRoom) {
  gui_test::TestApplication();
  const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
  for (const QSize asked : {QSize(room.width() + 500, room.height() + 400), QSize(room.width() * 2, 500),
                            QSize(700, room.height() * 3), QSize(800, 600)}) {
    SCOPED_TRACE(::testing::Message() << asked.width() << "x" << asked.height());
    std::unique_ptr<QtBackend> backend = ShownWindow(asked.width(), asked.height());
    QtWindow& w = backend->QtMainWindow();
    const QRect frame = w.Frame()->frameGeometry();
    EXPECT_TRUE(room.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                      << frame.height();
    const bool fits = asked.width() + 40 < room.width() && asked.height() + 80 < room.height();
    if (fits) EXPECT_EQ(w.Client()->size(), asked);
    EXPECT_EQ(w.ClientSize().cx, w.Client()->width());
    // Made as small as it may be, it still fits.
    w.Frame()->resize(100, 100);
    gui_test::ProcessQtEvents();
    EXPECT_LE(w.Frame()->frameGeometry().width(), room.width());
    EXPECT_LE(w.Frame()->frameGeometry().height(), room.height());
    SetBackend(nullptr);
    backend.reset();
    gui_test::ProcessQtEvents();
  }
}


// Counts the paints a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* watched) { watched->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Every box and dialog of the backend, closed: before the program goes on (it may
// compute at once, a load of many scans, without letting the window system ask for
// paints) the frame's menu bar and client area are painted again where the box lay.
TEST(WindowOpening, TheMenuBarIsPaintedAgainAsSoonAsABoxCloses) {
  gui_test::TestApplication();
  std::unique_ptr<QtBackend> backend = ShownWindow(700, 500);
  QtWindow& w = backend->QtMainWindow();
  PaintCounter bar(w.Menu().Bar());
  const std::vector<std::function<void()>> doors = {
      [&] { backend->MessageBox("text", "caption", MB_OK); },
      [&] { backend->InputText("caption", "prompt", "1"); },
      [&] { backend->OpenFileDialog(FileDialogOptions{}); },
      [&] { backend->SaveFileDialog(FileDialogOptions{}); },
      [&] { backend->FolderDialog(FileDialogOptions{}); },
      [&] {
        TransferBuffer none;
        backend->RunDialog(GetDialogTemplate(std::to_string(kLammParamsDialogId)), none);
      },
  };
  for (std::size_t door = 0; door < doors.size(); ++door) {
    gui_test::WhenModalOpens([&](QWidget* modal) {
      gui_test::ProcessQtEvents();
      qobject_cast<QDialog*>(modal)->reject();
      bar.paints = 0;
    });
    doors[door]();
    EXPECT_GT(bar.paints, 0) << "door " << door;
  }
  SetBackend(nullptr);
  backend.reset();
  gui_test::ProcessQtEvents();
}

}  // namespace
}  // namespace tarmic
