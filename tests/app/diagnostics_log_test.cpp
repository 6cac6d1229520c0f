// Tests of the diagnostics log of the main window.
#include "app/diagnostics_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/xla_window.h"
#include "services/path_table.h"
#include "platform/headless/headless_backend.h"
#include "tests/app/shell_test_support.h"

namespace tarmic {
namespace {

using shell_test::ReadFile;

class DiagnosticsLog : public shell_test::WindowFixture {
 protected:
  DiagnosticsLog() : WindowFixture("diag") {}
  void SetUp() override {
    WindowFixture::SetUp();
    szDiagnosticsDirectory = dir_.path();
  }
  std::string LogFile() const { return dir_.path() + "Darizozovaz_o0.edo"; }
};

TEST_F(DiagnosticsLog, NothingIsWrittenWhileSwitchedOff) {
  window_->WriteDebugLog("text");
  EXPECT_FALSE(std::filesystem::exists(LogFile()));
  EXPECT_FALSE(window_->pszDebugHeader.has_value());
}

TEST_F(DiagnosticsLog, TheFileIsEmptiedOncePerRun) {
  shell_test::WriteFile(LogFile(), "old run\n");
  bDiagnosticsToFiles = true;
  window_->WriteDebugLog(nullptr);
  window_->WriteDebugLog("a");
  bDiagnosticsToFiles = false;
  window_->WriteDebugLog("b");
  bDiagnosticsToFiles = true;
  window_->WriteDebugLog("c 100% done\n");  // the text is not a format
  EXPECT_EQ(ReadFile(LogFile()),
            "\nstarting new tarmic debugging session for thread #0ac 100% done\n");
}

TEST_F(DiagnosticsLog, LogsGoToTheProgramsTemporaryDirectoryByDefault) {
  // Once the paths are set up: the program's temporary (cache) directory, never the
  // program directory or the current one.
  szDiagnosticsDirectory.clear();
  EXPECT_EQ(DebugLogFileName(0), szTempDir + "Darizozovaz_o0.edo");
  // Before that: the user's temporary directory.
  ResetPathTable();
  ::setenv("TMPDIR", dir_.path().c_str(), 1);
  EXPECT_EQ(DebugLogFileName(0), dir_.path() + "Darizozovaz_o0.edo");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(DebugLogFileName(0), "/tmp/Darizozovaz_o0.edo");
}

TEST_F(DiagnosticsLog, AnUnwritableLogIsReportedOnEveryCallAndTriedAfresh) {
  szDiagnosticsDirectory = dir_.path() + "missing/";
  window_->pszDebugFileName.reset();
  bDiagnosticsToFiles = true;
  backend_->QueueMessageBox(IDOK, "Error");
  window_->WriteDebugLog("x");  // the header
  EXPECT_FALSE(window_->bDebugFileStarted);
  std::filesystem::create_directories(dir_.path() + "missing");
  window_->WriteDebugLog("y");
  EXPECT_TRUE(window_->bDebugFileStarted);
  EXPECT_EQ(ReadFile(dir_.path() + "missing/Darizozovaz_o0.edo"), "y");
  ASSERT_EQ(backend_->Transcript().size(), 1u);
  EXPECT_NE(backend_->Transcript()[0].text.find("to write debugging info"), std::string::npos);
}

}  // namespace
}  // namespace tarmic
