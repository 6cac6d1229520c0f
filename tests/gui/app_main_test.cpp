// Tests of the program's start and main loop with the frame window: the window it
// shows, how the loop ends, and the erase before a paint. Scripted runs use the
// headless backend; one run uses the real Qt window offscreen.
#include "app/app_main.h"

#include <gtest/gtest.h>

#include <QMainWindow>
#include <QMenuBar>

#include "app/response_table.h"
#include "commands/response_table.h"
#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_window.h"
#include "resources/menus.h"
#include "tests/app/shell_test_support.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

class ProgramRun : public ::testing::Test {
 protected:
  void SetUp() override {
    shell_test::ResetShellState();
    InstallResponseTable();
    shell_test::WritePreferenceFile(dir_.path() + "tarmicparams.ini",
                                    shell_test::AcceptedDefaults());
  }
  void TearDown() override {
    SetResponseTable({});
    shell_test::ResetShellState();
  }
  int Run() {
    std::string arg = dir_.Program();
    char* argv[] = {arg.data(), nullptr};
    return OwlMain(1, argv);
  }
  shell_test::ScratchDir dir_{"run"};
};

TEST_F(ProgramRun, PaintErasesTheClientAreaFirst) {
  ScopedHeadlessBackend backend(200, 100);
  HeadlessWindow& window = backend->Headless();
  window.Screen().Fill(RGB(255, 0, 0));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(window.Screen().Pixel(0, 0), kWhite);
  EXPECT_EQ(window.Screen().Pixel(199, 99), kWhite);
  EXPECT_GE(window.RefreshCount(), 1);
}

TEST_F(ProgramRun, RealWindowStartsWithTheMenuAndEndsOnExit) {
  gui_test::TestApplication();
  UiEvents().Clear();
  {
    QtBackend backend(640, 480);
    SetBackend(&backend);
    UiEvents().Post(Event::Command(kCmExit));
    EXPECT_EQ(Run(), 0);
    QtWindow& window = backend.QtMainWindow();
    EXPECT_TRUE(window.Frame()->isVisible());
    EXPECT_EQ(window.Frame()->windowTitle(), QString("Sedimentation Analysis"));
    ASSERT_NE(window.Menu().Bar(), nullptr);
    EXPECT_EQ(window.Menu().Bar()->actions().size(), 11);
    EXPECT_TRUE(window.AcceptsDrops());
    EXPECT_EQ(window.Screen().Pixel(5, 5), kWhite);
    SetBackend(nullptr);
  }
  UiEvents().Clear();
}

}  // namespace
}  // namespace tarmic
