// Operating-system services on POSIX: clock, file times, paths, outside programs.
#include "platform/system.h"
#include "text/number_token.h"

#include <optional>
#include <string_view>

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

extern char** environ;

namespace tarmic {

// ---------------------------------------------------------------- clock

namespace {
std::mutex& ClockMutex() {
  static std::mutex m;
  return m;
}
std::function<std::int64_t()>& ClockOverride() {
  static std::function<std::int64_t()> f;
  return f;
}
std::atomic<bool> g_hasClockOverride{false};
}  // namespace

std::int64_t MonotonicMs() {
  if (g_hasClockOverride.load()) {
    std::function<std::int64_t()> f;
    {
      std::lock_guard<std::mutex> lock(ClockMutex());
      f = ClockOverride();
    }
    if (f) return f();
  }
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(MonotonicMs()); }

void SetClockOverride(std::function<std::int64_t()> clock) {
  std::lock_guard<std::mutex> lock(ClockMutex());
  g_hasClockOverride = static_cast<bool>(clock);
  ClockOverride() = std::move(clock);
}

// ---------------------------------------------------------------- memory

namespace {
std::function<std::uint64_t()>& MemoryOverride() {
  static std::function<std::uint64_t()> f;
  return f;
}
}  // namespace

std::uint64_t AvailableMemoryBytes() {
  if (MemoryOverride()) return MemoryOverride()();
  if (std::FILE* f = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    std::optional<std::uint64_t> kib;
    // "MemAvailable:   12345 kB"
    constexpr std::string_view kKey = "MemAvailable:", kUnit = " kB";
    while (!kib && std::fgets(line, sizeof line, f)) {
      std::string_view text(line);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
      if (text.substr(0, kKey.size()) != kKey || text.size() < kKey.size() + kUnit.size() ||
          text.substr(text.size() - kUnit.size()) != kUnit)
        continue;
      kib = WholeNumberOf(text.substr(kKey.size(), text.size() - kKey.size() - kUnit.size()));
    }
    std::fclose(f);
    if (kib) return *kib * 1024u;
  }
  const long pages = ::sysconf(_SC_AVPHYS_PAGES);
  const long size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
}

void SetAvailableMemoryOverride(std::function<std::uint64_t()> bytes) {
  MemoryOverride() = std::move(bytes);
}

// ---------------------------------------------------------------- file times

namespace {
std::int64_t Ns(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}
struct timespec Ts(std::int64_t ns) {
  struct timespec t;
  std::int64_t sec = ns / 1000000000, rest = ns % 1000000000;
  if (rest < 0) { rest += 1000000000; --sec; }
  t.tv_sec = static_cast<time_t>(sec);
  t.tv_nsec = static_cast<long>(rest);
  return t;
}
}  // namespace

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string FileReadRefusal(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  return S_ISREG(st.st_mode) ? std::string() : std::string(kNotRegularFile);
}

FileTimes GetFileTimes(const std::string& path) {
  FileTimes t;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return t;
  t.valid = true;
  t.creation = Ns(st.st_ctim);
  t.lastAccess = Ns(st.st_atim);
  t.lastWrite = Ns(st.st_mtim);
  return t;
}

bool SetFileTimes(const std::string& path, const FileTimes& times) {
  if (!times.valid) return false;
  struct timespec ts[2] = {Ts(times.lastAccess), Ts(times.lastWrite)};
  return ::utimensat(AT_FDCWD, path.c_str(), ts, 0) == 0;
}

// ---------------------------------------------------------------- paths

std::string ProgramDirectoryFromArgv0(const char* argv0) {
  std::string path = argv0 ? argv0 : "";
  if (path.find('/') == std::string::npos) {
    // A bare name was found through PATH: ask the kernel where the program is.
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    path.assign(buf, static_cast<std::size_t>(n));
  }
  std::string dir = path.substr(0, path.rfind('/') + 1);
  if (dir.empty()) dir = "/";
  char real[PATH_MAX];
  if (::realpath(dir.c_str(), real)) {
    dir = real;
    if (dir.back() != '/') dir += '/';
  }
  return dir;
}

std::string TempDirectory() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

namespace {

// An absolute directory from the environment with a trailing '/', or empty.
std::string AbsoluteDirFromEnv(const char* name) {
  const char* env = std::getenv(name);
  if (!env || env[0] != '/') return std::string();
  std::string dir = env;
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

UserDirectories UserDirectoriesFromEnvironment() {
  UserDirectories d;
  d.home = AbsoluteDirFromEnv("HOME");
  auto base = [&d](const char* variable, const char* fallback) {
    std::string dir = AbsoluteDirFromEnv(variable);
    if (dir.empty() && !d.home.empty()) dir = d.home + fallback;
    return dir.empty() ? dir : dir + "tarmic/";
  };
  d.config = base("XDG_CONFIG_HOME", ".config/");
  d.data = base("XDG_DATA_HOME", ".local/share/");
  d.cache = base("XDG_CACHE_HOME", ".cache/");
  return d;
}

PathParts SplitPath(const std::string& path) {
  PathParts p;
  std::size_t slash = path.rfind('/');
  std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  p.dir = path.substr(0, start);
  std::string file = path.substr(start);
  std::size_t dot = file.rfind('.');
  // A leading dot (".profile") and the names "." and ".." are names, not extensions.
  if (dot == std::string::npos || dot == 0 || file == "..") {
    p.name = file;
  } else {
    p.name = file.substr(0, dot);
    p.ext = file.substr(dot);
  }
  return p;
}

std::string MergePath(const PathParts& parts) {
  std::string out = parts.dir;
  if (!out.empty() && out.back() != '/') out += '/';
  out += parts.name;
  if (!parts.ext.empty() && parts.ext.front() != '.') out += '.';
  out += parts.ext;
  return out;
}

// ---------------------------------------------------------------- processes

ProcessResult StartProgram(const std::string& program, const std::vector<std::string>& args,
                           bool wait) {
  ProcessResult result;
  if (program.empty()) {
    result.error = "could not start a program: no program name given";
    return result;
  }
  std::vector<std::string> storage;
  storage.reserve(args.size() + 1);
  storage.push_back(program);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  int rc = ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    result.error = "could not start " + program + ": " + std::strerror(rc);
    return result;
  }
  result.started = true;

  if (!wait) {
    // Reap the child when it ends, so that it does not stay a zombie.
    std::thread([pid] {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
    return result;
  }

  int status = 0;
  pid_t w;
  while ((w = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (w < 0) {
    result.error = "could not wait for " + program + ": " + std::strerror(errno);
  } else if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.error = program + " was ended by signal " + std::to_string(WTERMSIG(status));
  }
  return result;
}

// ---------------------------------------------------------------- threads

namespace {
std::mutex g_uiMutex;
bool g_uiMarked = false;
std::thread::id g_uiThread;
}  // namespace

bool IsUiThread() {
  std::lock_guard<std::mutex> lock(g_uiMutex);
  if (g_uiMarked) return std::this_thread::get_id() == g_uiThread;
  // Nobody marked a thread yet: the process's main thread is the one.
  return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}

void MarkUiThread() {
  std::lock_guard<std::mutex> lock(g_uiMutex);
  g_uiMarked = true;
  g_uiThread = std::this_thread::get_id();
}

}  // namespace tarmic
