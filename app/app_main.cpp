// The program's start: the path table, the application object, the main window
// and the main loop.
#include "app/app_main.h"

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "storage/atomic_file.h"
#include "app/paint.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "app/zoom.h"
#include "services/error_box.h"
#include "services/path_table.h"
#include "numerics/text_lines.h"
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

// False with "<path>: <reason>" in *why (when given) when it could not be made.
bool MakeDirectory(const std::string& path, std::string* why = nullptr) {
  std::error_code ec;
  std::filesystem::create_directory(path, ec);
  if (IsDirectory(path)) return true;
  if (why) *why = SystemReason(path, ec ? ec.value() : ENOTDIR);
  return false;
}

// dir (with its parents) when it exists or can be made, else empty.
std::string UsableDirectory(const std::string& dir) {
  if (dir.empty()) return dir;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return IsDirectory(dir) ? dir : std::string();
}

// Settings files that earlier runs kept beside the program are read once: each is
// copied into the configuration directory unless that already has one. A
// "tarmic.ini" that names only the program directory (the first-start value of
// those runs) is not carried over, so that the first file dialog opens at home.
void CarryOverSettingsFiles(const std::string& configDir) {
  for (const char* name : kSettingsFileNames) {
    const std::string from = szProgramDir + name;
    const std::string to = configDir + name;
    if (from == to || FileExists(to.c_str()) || !FileExists(from.c_str())) continue;
    if (std::string(name) == "tarmic.ini") {
      // Its first line compared whole with the folder.
      std::istringstream in;
      std::string first;
      if (OpenTextFile(from, LastLine::kAsItStands, &in) && ReadTextLine(in, &first) && first == szProgramDir) continue;
    }
    // Copied whole or not at all: a half file would count as the settings kept
    // there and stop the carry-over for good. A failed copy leaves the settings to
    // their defaults, as before.
    (void)CopyFileAtomically(from, to);
  }
}

}  // namespace

void SetupFilePaths() {
  const UserDirectories user = UserDirectoriesFromEnvironment();
  // Temporary files go to the user's cache directory; when it cannot be made, to the
  // program directory's "temp/", else to the user's temporary directory.
  std::string tempDir = UsableDirectory(user.cache);
  if (tempDir.empty()) {
    tempDir = szProgramDir + "temp/";
    std::string why;
    if (!IsDirectory(tempDir) && !MakeDirectory(tempDir, &why)) {
      const std::string userTemp = TempDirectory() + "tarmic/";
      if (IsDirectory(userTemp) || MakeDirectory(userTemp)) {
        tempDir = userTemp;
      } else if (HasBackend()) {
        GetBackend().MessageBox(WithReason("could not create " + tempDir, why), "ERROR", MB_OK);
      }
    }
  }
  SetupPathTable(szProgramDir, tempDir);

  // Settings live in the user's configuration directory and the files the program
  // writes in the data directory; read-only resources stay beside the program. A
  // directory that cannot be made keeps its files beside the program.
  const std::string configDir = UsableDirectory(user.config);
  if (!configDir.empty()) CarryOverSettingsFiles(configDir);
  PlaceWritableFiles(configDir, UsableDirectory(user.data));

  // "tarmic.ini" starts holding the home directory, where the first file dialog
  // opens. When it can be neither found nor made, the file dialogs simply start in
  // their default directory.
  if (!FileExists(szLastDirIni.c_str())) {
    WriteTextFileAtomically(szLastDirIni, user.home.empty() ? szProgramDir : user.home);
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

void DispatchEvent(TXLAWindow& window, const Event& event) {
  // Whatever an event ended (a command, a key, a click, a marker confirmed), a
  // result shown whose claim it ended is painted again (moves of the mouse end
  // none).
  struct AfterEvent {
    TXLAWindow& window;
    bool check;
    ~AfterEvent() {
      if (check) RepaintWhatAnEndedResultShowed(window, false);
    }
  } after{window, event.type != EventType::Paint && event.type != EventType::MouseMove};
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
