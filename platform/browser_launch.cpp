#include "platform/browser_launch.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

extern char** environ;

namespace tarmic {

namespace {

std::string g_lastFailure;
BrowserLauncher g_launcher;

// The last non-empty line of text, without the bracketed log prefix a browser
// writes before its message ("[1:1:ERROR:zygote_host.cc:103] Running as root ...").
std::string LastLine(const std::string& text) {
  std::size_t end = text.find_last_not_of("\r\n \t");
  if (end == std::string::npos) return {};
  const std::size_t start = text.find_last_of('\n', end);
  std::string line = text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
  if (line.starts_with('[')) {
    const std::size_t close = line.find("] ");
    if (close != std::string::npos && close + 2 < line.size()) line = line.substr(close + 2);
  }
  return line;
}

// Error output that says the browser did not start, whatever the launcher's code.
bool SaysRefused(const std::string& errors) {
  for (const char* words : {"not supported", "cannot open display", "Cannot open display", "no DISPLAY",
                            "Missing X server", "Running as root"})
    if (errors.find(words) != std::string::npos) return true;
  return false;
}

// The name of a program without its folder.
std::string FileNameOfProgram(const std::string& program) {
  const std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? program : program.substr(slash + 1);
}

}  // namespace

BrowserLaunch LaunchWatched(const std::vector<std::string>& command, int settleMs) {
  BrowserLaunch out;
  if (command.empty()) {
    out.reason = "no program to start";
    return out;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    out.reason = std::string("could not start ") + command.front() + ": " + std::strerror(errno);
    return out;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> storage = command;
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (rc != 0) {
    ::close(pipeFds[0]);
    out.reason = "could not start " + command.front() + ": " + std::strerror(rc);
    return out;
  }
  // The error output until the program ends or the time is up.
  std::string errors;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(settleMs);
  bool ended = false;
  int status = 0;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{pipeFds[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
    if (ready > 0) {
      char buffer[512];
      const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
      if (n > 0) errors.append(buffer, static_cast<std::size_t>(n));
    }
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      ended = true;
      // What it wrote last, once it has ended.
      for (;;) {
        char buffer[512];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        errors.append(buffer, static_cast<std::size_t>(n));
      }
      break;
    }
  }
  if (!ended) {
    // Running on: the browser has the page. Its error output is drained and the
    // program reaped when it ends, so that it neither blocks nor stays a zombie.
    const int fd = pipeFds[0];
    std::thread([pid, fd] {
      char buffer[512];
      while (::read(fd, buffer, sizeof buffer) > 0) {
      }
      ::close(fd);
      int st = 0;
      while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
      }
    }).detach();
    if (SaysRefused(errors)) out.reason = LastLine(errors);
    out.opened = out.reason.empty();
    return out;
  }
  ::close(pipeFds[0]);
  const bool success = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (success && !SaysRefused(errors)) {
    out.opened = true;
    return out;
  }
  const std::string line = LastLine(errors);
  out.reason = FileNameOfProgram(command.front()) + (WIFEXITED(status) ? " ended at once with exit code " + std::to_string(WEXITSTATUS(status))
                                                     : " ended at once") +
               (line.empty() ? std::string() : ": \"" + line + "\"");
  return out;
}

std::string RootNote() {
  return ::geteuid() == 0 ? "; the program runs as root, which some web browsers refuse" : "";
}

const std::string& LastBrowserFailure() { return g_lastFailure; }
void SetLastBrowserFailure(std::string reason) { g_lastFailure = std::move(reason); }

void SetBrowserLauncherForTesting(BrowserLauncher launcher) { g_launcher = std::move(launcher); }
const BrowserLauncher& BrowserLauncherForTesting() { return g_launcher; }

}  // namespace tarmic
