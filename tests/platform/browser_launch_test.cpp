// The watched start of a web browser: programs standing in for the launcher that
// end at once with a failure, end with success, run on, or say on their error output
// that the browser refused (and end with success, as a launcher that passes a
// browser's failure on may).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/browser_launch.h"

namespace tarmic {
namespace {

namespace fs = std::filesystem;

std::string Script(const std::string& name, const std::string& body) {
  const std::string dir = std::string(TARMIC_TEST_OUTPUT_DIR) + "/browser_launch";
  fs::create_directories(dir);
  const std::string path = dir + "/" + name;
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  ::chmod(path.c_str(), 0755);
  return path;
}

TEST(BrowserLaunch, ABrowserThatEndsAtOnceOrSaysItRefusedIsNoOpenedPage) {
  struct Case {
    const char* name;
    const char* body;
    bool opened;
    const char* reasonHas;
  } cases[] = {
      {"refuses-as-root", "echo '[1:1:ERROR:zygote] Running as root without --no-sandbox is not supported.' >&2; exit 1",
       false, "exit code 1: \"Running as root without --no-sandbox is not supported.\""},
      {"no-display", "echo 'Error: cannot open display: :99' >&2; exit 0", false, "cannot open display"},
      {"fails-silently", "exit 4", false, "fails-silently ended at once with exit code 4"},
      {"hands-over", "echo 'Opening in existing browser session.'; exit 0", true, ""},
      {"runs-on", "sleep 3", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BrowserLaunch launch = LaunchWatched({Script(c.name, c.body), "file:///page.html#cmd-213"}, 500);
    EXPECT_EQ(launch.opened, c.opened) << launch.reason;
    EXPECT_NE(launch.reason.find(c.reasonHas), std::string::npos) << launch.reason;
    if (c.opened) EXPECT_EQ(launch.reason, "");
  }
  const BrowserLaunch missing = LaunchWatched({"/nonexistent/xdg-open", "file:///x"}, 500);
  EXPECT_FALSE(missing.opened);
  EXPECT_NE(missing.reason.find("could not start /nonexistent/xdg-open"), std::string::npos) << missing.reason;
}

}  // namespace
}  // namespace tarmic
