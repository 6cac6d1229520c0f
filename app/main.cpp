// The program's entry point: the Qt application, the Qt backend of the platform
// layer, the main window's response table, and the program's start.
#include <QApplication>

#include "app/app_main.h"
#include "commands/program_services.h"
#include "platform/backend.h"
#include "platform/qt/qt_backend.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  int result = 0;
  {
    tarmic::QtBackend backend;
    tarmic::SetBackend(&backend);
    tarmic::InstallProgramServices();
    result = tarmic::OwlMain(argc, argv);
    tarmic::SetBackend(nullptr);
  }
  return result;
}
