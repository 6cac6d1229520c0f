// The one QApplication of the whole-program tests, made on first use (offscreen
// unless the environment chooses a platform), and helpers to let Qt work.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QtGlobal>

namespace tarmic::gui_test {

inline QApplication& TestApplication() {
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tests_gui";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Lets Qt deliver everything that is pending.
inline void ProcessQtEvents() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace tarmic::gui_test
