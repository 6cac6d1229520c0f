// What the tests of saved sets share: files read and written raw, a set of three
// files in two folders saved (and killed) at any step of its replacement, the
// names the program gives its temporaries, and processes of this host that ended.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "storage/atomic_file.h"
#include "tests/support/hold_folder.h"

namespace tarmic {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteRaw(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The step of a set's replacement at which the child kills itself (-1: never).
inline int gKillAtStep = -1;
inline int gStopAtStep = -1;
inline void KillAtStep(int step) {
  if (step == gKillAtStep) std::raise(SIGKILL);
  if (step == gStopAtStep) std::raise(SIGSTOP);
}

// The save every file read comes from (each holds "<tag> <its name>"), or "mixed".
inline std::string TagOf(const std::vector<fs::path>& paths) {
  std::string tag;
  for (const fs::path& f : paths) {
    const std::string text = ReadAll(f);
    const std::string mine = text.substr(0, text.find(' '));
    if (text != mine + " " + f.filename().string() || (!tag.empty() && mine != tag)) return "mixed";
    tag = mine;
  }
  return tag;
}

// The files of one set in two folders, with their contents.
struct TwoFolderSet {
  fs::path a, b;
  std::vector<fs::path> files;
  TwoFolderSet(const std::string& name) {
    a = fs::path(TARMIC_TEST_OUTPUT_DIR) / name / "fits";
    b = fs::path(TARMIC_TEST_OUTPUT_DIR) / name / "data";
    fs::remove_all(a.parent_path());
    fs::create_directories(a);
    fs::create_directories(b);
    files = {a / "f1.ra1", a / "f2.ra1", b / "~tmppars.ra1"};
  }
  ~TwoFolderSet() { fs::remove_all(a.parent_path()); }
  void WriteOld() const {
    for (const fs::path& f : files) WriteRaw(f, "old " + f.filename().string());
  }
  // How many files hold the new content (-1: a file is neither old nor new).
  int NewCount() const {
    int n = 0;
    for (const fs::path& f : files) {
      const std::string text = ReadAll(f);
      if (text == "new " + f.filename().string()) ++n;
      else if (text != "old " + f.filename().string()) return -1;
    }
    return n;
  }
  // Everything in the folders that is not one of the set's files.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const fs::path& dir : {a, b})
      for (const fs::directory_entry& e : fs::directory_iterator(dir))
        if (std::find(files.begin(), files.end(), e.path()) == files.end())
          names.push_back(e.path().filename().string());
    return names;
  }
  // Runs the save of the new contents in a child that kills or stops itself at
  // the given step; its pid (the child is waited for unless it stops).
  pid_t SaveInChild(int killAt, int stopAt, const std::string& tag = "new") const {
    const pid_t pid = ::fork();
    if (pid == 0) {
      gKillAtStep = killAt;
      gStopAtStep = stopAt;
      SetSaveStepHookForTesting(KillAtStep);
      ::_exit(Save(tag).empty() ? 0 : 1);
    }
    return pid;
  }
  // Saves "<tag> <name>" into every file of the set; the batch's report.
  std::string Save(const std::string& tag) const {
    AtomicFileBatch batch;
    for (const fs::path& f : files)
      batch.Check(f.string(), WriteTextFileAtomically(f.string(), tag + " " + f.filename().string()));
    return batch.Finish();
  }
  // The save every file comes from ("old", "new", ...), or "mixed".
  std::string Tag() const { return TagOf(files); }
  // The old contents, then a save of the new ones killed at the given step.
  void SaveKilledAt(int step) const {
    WriteOld();
    const pid_t pid = SaveInChild(step, -1);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
  }
};

// This process's temporary of target as the program names it, split at its
// numbers: "<prefix><host>-" and the pid and start that follow.
struct OwnTemporaryName {
  std::string prefix;  // ".<name>.tmp-<host>-"
  std::string host;
  std::string pid, start;
};
inline OwnTemporaryName OwnTemporaryOf(const fs::path& target) {
  OwnTemporaryName own;
  AtomicFile file(target.string());
  for (const fs::directory_entry& e : fs::directory_iterator(target.parent_path())) {
    const std::string name = e.path().filename().string();
    const std::string mark = "." + target.filename().string() + ".tmp-";
    if (name.rfind(mark, 0) != 0) continue;
    // "<host>-<pid>-<start>-<n>.part"
    const std::string rest = name.substr(mark.size(), name.size() - mark.size() - 5);
    own.pid = std::to_string(::getpid());
    const std::size_t at = rest.rfind("-" + own.pid + "-");
    if (at == std::string::npos) continue;
    own.host = rest.substr(0, at);
    const std::string numbers = rest.substr(at + own.pid.size() + 2);
    own.start = numbers.find('-') == std::string::npos ? "" : numbers.substr(0, numbers.find('-'));
    own.prefix = mark + own.host + "-";
  }
  file.Discard();
  return own;
}

inline std::string JournalText(const std::vector<std::string>& copies,
                        const std::vector<std::pair<std::string, std::string>>& renames) {
  std::string text = "tarmic save journal 1\nboot -\ncopies " + std::to_string(copies.size()) + "\n";
  for (const std::string& c : copies) text += c + "\n";
  text += "renames " + std::to_string(renames.size()) + "\n";
  for (const auto& [t, g] : renames) text += t + "\n" + g + "\n";
  return text + "end\n";
}

inline int ExitCode(pid_t pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The pid of a process of this host that has ended (waited for).
inline pid_t EndedPid() {
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  return ExitCode(ended) == 0 ? ended : -1;
}

// The temporary a file named prefix begins with in dir (its name), or "".
inline std::string TemporaryIn(const fs::path& dir, const std::string& prefix) {
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0 && fs::path(name).extension() == ".part") return name;
  }
  return {};
}

// A child process that takes a lockf lock on file, as another program may hold a
// file for a moment (or a killed save's file is let go late), and holds it for ms
// milliseconds or until it is killed; its pid once the lock is held, -1 when the
// lock could not be taken.
inline pid_t HoldWithLockf(const fs::path& file, int ms) {
  return ::tarmic::testing::HoldInChild(ms, [&] {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    return fd >= 0 && ::lockf(fd, F_TLOCK, 0) == 0;
  });
}

}  // namespace tarmic
