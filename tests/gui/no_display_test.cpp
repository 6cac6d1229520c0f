// The program started without a display: one line that says what is missing and what to
// do instead, and a non-zero exit code instead of Qt's abort.
#include "platform/qt/qt_startup.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <string>

namespace tarmic {
namespace {

EnvironmentReader Env(std::map<std::string, std::string> vars) {
  return [vars = std::move(vars)](const char* name) -> const char* {
    auto it = vars.find(name);
    return it == vars.end() ? nullptr : it->second.c_str();
  };
}

TEST(NoDisplay, ADisplayIsNeededOnlyByDesktopPlatforms) {
  EXPECT_TRUE(MissingDisplayMessage(Env({})).has_value());
  EXPECT_TRUE(MissingDisplayMessage(Env({{"QT_QPA_PLATFORM", "xcb"}})).has_value());
  EXPECT_TRUE(MissingDisplayMessage(Env({{"QT_QPA_PLATFORM", "wayland;xcb"}})).has_value());
  EXPECT_TRUE(MissingDisplayMessage(Env({{"DISPLAY", ""}})).has_value());
  EXPECT_FALSE(MissingDisplayMessage(Env({{"DISPLAY", ":0"}})).has_value());
  EXPECT_FALSE(MissingDisplayMessage(Env({{"WAYLAND_DISPLAY", "wayland-0"}})).has_value());
  EXPECT_FALSE(MissingDisplayMessage(Env({{"QT_QPA_PLATFORM", "offscreen"}})).has_value());
  EXPECT_FALSE(MissingDisplayMessage(Env({{"QT_QPA_PLATFORM", "xcb;offscreen"}})).has_value());
  EXPECT_FALSE(MissingDisplayMessage(Env({{"QT_QPA_PLATFORM", "vnc:size=800x600"}})).has_value());

  const std::string line = *MissingDisplayMessage(Env({}));
  EXPECT_EQ(line.find('\n'), std::string::npos);
  for (const char* word : {"display", "DISPLAY", "WAYLAND_DISPLAY", "graphical session"})
    EXPECT_NE(line.find(word), std::string::npos) << word;
}

#ifdef TARMIC_PROGRAM
// Runs the program with the environment changes of shell (e.g. "env -u DISPLAY");
// the exit status and what it wrote to standard error.
std::pair<int, std::string> RunProgram(const std::string& shell) {
  const std::string command = shell + " '" + TARMIC_PROGRAM + "' 2>&1 >/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  if (!pipe) return {-1, out};
  char buffer[512];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out};
}

TEST(NoDisplay, TheProgramSaysWhatIsMissingAndEndsWithAnErrorCode) {
  const std::string clean = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME=/nonexistent ";
  auto [code, err] = RunProgram(clean);
  EXPECT_EQ(code, kNoDisplayExitCode);
  EXPECT_EQ(err, *MissingDisplayMessage(Env({})) + "\n");

  // A display that is named but cannot be opened: Qt's fatal error becomes the same
  // kind of line.
  std::tie(code, err) = RunProgram(clean + "DISPLAY=:31999 QT_QPA_PLATFORM=xcb ");
  EXPECT_EQ(code, kNoDisplayExitCode);
  EXPECT_EQ(err, UnreachableDisplayMessage(Env({{"DISPLAY", ":31999"}, {"QT_QPA_PLATFORM", "xcb"}})) +
                     "\n");
}
#endif

}  // namespace
}  // namespace tarmic
