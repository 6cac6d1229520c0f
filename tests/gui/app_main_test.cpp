// Tests of the program's start and main loop: the frame window it shows and how
// the loop ends. Scripted runs use the headless backend; one run uses the real Qt
// window offscreen.
#include "app/app_main.h"

#include <gtest/gtest.h>

#include <QMainWindow>
#include <QMenuBar>

#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_window.h"
#include "resources/menus.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

char kProgram[] = "/opt/tarmic/tarmic";
char* kArgv[] = {kProgram, nullptr};

TEST(RunApplication, ExitCommandEndsWithExitCodeZero) {
  ScopedHeadlessBackend backend;
  UiEvents().Post(Event::Command(kCmExit));
  EXPECT_EQ(RunApplication(*backend, 1, kArgv), 0);
  HeadlessWindow& window = backend->Headless();
  EXPECT_TRUE(window.IsShown());
  EXPECT_EQ(window.Title(), "Sedimentation Analysis");
  EXPECT_EQ(window.Menu().name, "MENU_VIREZ");
  EXPECT_EQ(window.Accelerators().id, 303);
  EXPECT_TRUE(window.AcceptsDrops());
}

TEST(RunApplication, OtherCommandsAndAcceleratorsDoNotEndTheProgram) {
  ScopedHeadlessBackend backend;
  HeadlessWindow& window = backend->Headless();
  window.SetAccelerators(GetAcceleratorTable(kAcceleratorTableId));
  window.PressKey('L', MK_CONTROL);  // Load New Files
  UiEvents().Post(Event::Command(199));
  UiEvents().Post(Event::Command(896));
  UiEvents().Post(Event::Command(kCmExit));
  UiEvents().Post(Event::Command(213));  // after Exit: never reached
  EXPECT_EQ(RunApplication(*backend, 1, kArgv), 0);
  EXPECT_TRUE(backend->Transcript().empty());
}

TEST(RunApplication, ClosingTheWindowEndsTheProgram) {
  ScopedHeadlessBackend backend;
  UiEvents().Post(Event::CloseRequest());
  EXPECT_EQ(RunApplication(*backend, 1, kArgv), 0);
}

TEST(RunApplication, QuitReturnsItsExitCode) {
  ScopedHeadlessBackend backend;
  PostQuitMessage(3);
  EXPECT_EQ(RunApplication(*backend, 1, kArgv), 3);
}

TEST(RunApplication, EndsWhenTheScriptHasNoMoreEvents) {
  ScopedHeadlessBackend backend;
  EXPECT_EQ(RunApplication(*backend, 1, kArgv), 0);
}

TEST(RunApplication, PaintFillsTheClientAreaWhite) {
  ScopedHeadlessBackend backend(200, 100);
  HeadlessWindow& window = backend->Headless();
  window.Screen().Fill(RGB(255, 0, 0));
  UiEvents().Post(Event::Command(kCmExit));
  EXPECT_EQ(RunApplication(*backend, 1, kArgv), 0);
  EXPECT_EQ(window.Screen().Pixel(0, 0), kWhite);
  EXPECT_EQ(window.Screen().Pixel(199, 99), kWhite);
  EXPECT_GE(window.RefreshCount(), 1);
}

TEST(RunApplication, SizeChangeAsksForAPaint) {
  ScopedHeadlessBackend backend(200, 100);
  HeadlessWindow& window = backend->Headless();
  DispatchEvent(*backend, Event::Resize(300, 150));
  std::optional<Event> next = UiEvents().Take();
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(next->type, EventType::Paint);
  EXPECT_EQ(window.RefreshCount(), 0);
}

TEST(RunApplication, RealWindowStartsWithTheMenuAndEndsOnExit) {
  gui_test::TestApplication();
  UiEvents().Clear();
  {
    QtBackend backend(640, 480);
    SetBackend(&backend);
    UiEvents().Post(Event::Command(kCmExit));
    EXPECT_EQ(RunApplication(backend, 1, kArgv), 0);
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
