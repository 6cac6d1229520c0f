// The program's entry point: the Qt application, the Qt backend of the platform
// layer, and the main window.
#include <QApplication>

#include "app/app_main.h"
#include "platform/backend.h"
#include "platform/qt/qt_backend.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  int result = 0;
  {
    tarmic::QtBackend backend;
    tarmic::SetBackend(&backend);
    result = tarmic::RunApplication(backend, argc, argv);
    tarmic::SetBackend(nullptr);
  }
  return result;
}
