// The real window opens inside the room its screen leaves free: asked for more than
// the screen holds, it opens as large as the room allows, frame and menu bar
// included, and can still be made as small as it fits; asked for less, it opens at
// the size asked for.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTest>

#include <memory>

#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_window.h"
#include "resources/menus.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

TEST(WindowOpening, TheFrameOpensInsideTheScreensRoom) {
  gui_test::TestApplication();
  const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
  for (const QSize asked : {QSize(room.width() + 500, room.height() + 400), QSize(room.width() * 2, 500),
                            QSize(700, room.height() * 3), QSize(800, 600)}) {
    SCOPED_TRACE(::testing::Message() << asked.width() << "x" << asked.height());
    auto backend = std::make_unique<QtBackend>(asked.width(), asked.height());
    SetBackend(backend.get());
    QtWindow& w = backend->QtMainWindow();
    w.AttachMenu(GetMenuResource(kMenuVirez));
    w.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.Frame()));
    gui_test::ProcessQtEvents();
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

}  // namespace
}  // namespace tarmic
