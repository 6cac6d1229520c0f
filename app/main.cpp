// The program's entry point: the Qt application, the Qt backend of the platform
// layer, the main window's response table, and the program's start.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/app_main.h"
#include "commands/program_services.h"
#include "platform/backend.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_startup.h"

int main(int argc, char** argv) {
  // Without a display Qt would end with its own abort: say what is missing instead.
  if (std::optional<std::string> missing =
          tarmic::MissingDisplayMessage([](const char* name) { return std::getenv(name); })) {
    std::fprintf(stderr, "%s\n", missing->c_str());
    return tarmic::kNoDisplayExitCode;
  }
  std::optional<tarmic::QtStartupGuard> guard(std::in_place);
  QApplication application(argc, argv);
  guard.reset();
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
