// The program's start: the path table, the application object, the main window
// and the main loop.
#include "app/app_main.h"

#include <clocale>
#include <cstdio>
#include <filesystem>

#include "numerics/atomic_file.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "app/zoom.h"
#include "numerics/error_box.h"
#include "numerics/path_table.h"
#include "platform/gdi.h"
#include "platform/system.h"

namespace tarmic {

std::string szWizardSuffix;

namespace {

constexpr const char* kApplicationName = "ZEVEvadevir";
constexpr const char* kMainWindowTitle = "Sedimentation Analysis";

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

bool MakeDirectory(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directory(path, ec);
  return IsDirectory(path);
}

}  // namespace

void SetupFilePaths() {
  std::string tempDir = szProgramDir + "temp/";
  if (!IsDirectory(tempDir) && !MakeDirectory(tempDir)) {
    // A program directory that cannot be written: the temporary files go to the
    // user's temporary directory instead.
    const std::string userTemp = TempDirectory() + "tarmic/";
    if (IsDirectory(userTemp) || MakeDirectory(userTemp)) {
      tempDir = userTemp;
    } else if (HasBackend()) {
      GetBackend().MessageBox("could not create " + tempDir, "ERROR", MB_OK);
    }
  }
  SetupPathTable(szProgramDir, tempDir);

  // "tarmic.ini" starts holding the program directory. When it can be neither
  // found nor made, the file dialogs simply start in their default directory.
  if (!FileExists(szLastDirIni.c_str())) {
    WriteTextFileAtomically(szLastDirIni, szProgramDir);
  }
}

TXLAApp::TXLAApp(const char* name) : name_(name ? name : "") {}

TXLAApp::~TXLAApp() = default;

void TXLAApp::InitMainWindow() {
  // The model parameters are static arrays that start with their defaults
  // (species 1 included); nothing to allocate.
  SetupFilePaths();
  mainWindow_ = std::make_unique<TXLAWindow>(kMainWindowTitle);
  ClearZoomHistory();
  szWizardSuffix =
      "\n\n\n(to switch off wizard messages, use menu Help->Info and Wizard Messages)";
}

int TXLAApp::Run() {
  InitMainWindow();
  // A declined disclaimer has asked to end the program: the window never shows.
  if (std::optional<Event> quit =
          UiEvents().TakeIf([](const Event& e) { return e.type == EventType::Quit; })) {
    return quit->command;
  }
  mainWindow_->SetupWindow();
  Window& window = mainWindow_->GetHandle();
  window.Show();
  window.Invalidate();
  return RunMessageLoop(*mainWindow_);
}

int OwlMain(int argc, char** argv) {
  // Text files are read and written with the decimal point whatever the user's
  // locale says.
  std::setlocale(LC_NUMERIC, "C");
  const std::string programDir =
      ProgramDirectoryFromArgv0(argc > 0 && argv && argv[0] ? argv[0] : "");
  SetupPathTable(programDir, "");
  TXLAApp app(kApplicationName);
  return app.Run();
}

int RunMessageLoop(TXLAWindow& window) {
  for (;;) {
    std::optional<Event> event = UiEvents().Take();
    if (!event) {
      if (!GetBackend().WaitEvents(-1)) return 0;
      continue;
    }
    if (event->type == EventType::Quit) return event->command;
    DispatchEvent(window, *event);
  }
}

void PaintWindow(TXLAWindow& window) {
  Window& handle = window.GetHandle();
  std::unique_ptr<DC> dc = handle.ClientDC();
  const Rect client = handle.ClientRect();
  // The background is erased before the window paints, as a paint request asks.
  dc->SelectPen(NullPen());
  Brush white = SolidBrush(kWhite);
  Brush oldBrush = dc->SelectBrush(white);
  dc->Rectangle(client.left, client.top, client.right, client.bottom);
  dc->SelectBrush(oldBrush);
  try {
    window.Paint(*dc, true, client);
  } catch (const FatalError&) {
    // Already reported; the picture stays as far as it got.
  }
  handle.Refresh();
}

void DispatchEvent(TXLAWindow& window, const Event& event) {
  if (DispatchToWindow(window, event)) return;
  switch (event.type) {
    case EventType::Paint:
      PaintWindow(window);
      break;
    case EventType::Size:
      window.GetHandle().Invalidate();
      break;
    case EventType::Close:
      // Closing the window is the Exit command.
      if (!DispatchCommand(window, kCmExit)) PostQuitMessage(0);
      break;
    default:
      break;
  }
}

}  // namespace tarmic
