#include "batch/batch_output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "batch/batch_backend.h"
#include "batch/batch_manifest.h"
#include "scandata/text_io.h"
#include "storage/atomic_file.h"
#include "storage/folder_lock.h"
#include "text/number_token.h"

namespace tarmic {

namespace {

namespace fs = std::filesystem;

// The signals that end a run after it removed its folders: Ctrl+C, kill, and the
// end of the terminal or session (SIGHUP) alike.
constexpr std::array kCleanUpSignals = {SIGINT, SIGTERM, SIGHUP};

// What the signal handlers remove, kept where a handler may read it: the run's
// temporary folder and the output folders the run made (deepest first).
constexpr std::size_t kPathRoom = 4096;
constexpr std::size_t kMadeRoom = 32;
char gRunFolder[kPathRoom];
std::array<std::array<char, kPathRoom>, kMadeRoom> gMade;
volatile std::sig_atomic_t gMadeCount = 0;

void CopyPath(char* to, const std::string& path) {
  const std::size_t n = std::min(path.size(), kPathRoom - 1);
  std::memcpy(to, path.data(), n);
  to[n] = '\0';
}

// Only calls that a signal handler may make: fork, execve, waitpid, rmdir, raise.
void OnSignal(int sig) {
  if (gRunFolder[0] != '\0') {
    const pid_t pid = fork();
    if (pid == 0) {
      char* const argv[] = {const_cast<char*>("rm"), const_cast<char*>("-rf"), const_cast<char*>("--"), gRunFolder,
                            nullptr};
      char* const envp[] = {nullptr};
      execve("/bin/rm", argv, envp);
      execve("/usr/bin/rm", argv, envp);
      _exit(127);
    }
    if (pid > 0) {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }
  for (std::sig_atomic_t k = 0; k < gMadeCount; ++k) rmdir(gMade[static_cast<std::size_t>(k)].data());
  signal(sig, SIG_DFL);
  raise(sig);
}

// SIGINT and SIGTERM wait while an object lives (a set being replaced).
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kCleanUpSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

// Copies the file from into the open stream; false when a read or write failed.
bool CopyInto(const std::string& from, std::FILE* to) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (!in) return false;
  std::array<char, 65536> buffer;
  bool ok = true;
  for (std::size_t n; ok && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0;)
    ok = std::fwrite(buffer.data(), 1, n, to) == n;
  ok = ok && !std::ferror(in);
  std::fclose(in);
  return ok;
}

// The set's targets looked at and replaced, the output folder held.
PublishOutcome ReplaceSet(const std::vector<std::string>& staged, const std::string& dir, bool replace) {
  std::vector<std::string> targets, names;
  for (const std::string& s : staged) {
    names.push_back(FileNameOf(s));
    targets.push_back(JoinPath(dir, names.back()));
  }
  if (!replace) {
    for (const std::string& t : targets) {
      struct stat st {};
      if (::lstat(t.c_str(), &st) == 0)
        return {Published::Exists, t + " exists; results are replaced only with --replace", {}};
    }
  }
  const std::optional<ResultManifest> oldManifest = replace ? ReadManifest(dir) : std::nullopt;
  AtomicFileBatch set;
  for (std::size_t k = 0; k < staged.size(); ++k)
    WriteFileAtomically(targets[k], [&](std::FILE* f) { return CopyInto(staged[k], f); });
  if (const std::string report = set.Finish(); !report.empty()) return {Published::NotSaved, BoxLine("", report), {}};
  // The files keep the times the saves gave them (a fitted scan those of its scan).
  for (std::size_t k = 0; k < staged.size(); ++k) {
    struct stat st {};
    if (::stat(staged[k].c_str(), &st) != 0) continue;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, targets[k].c_str(), times, 0);
  }
  PublishOutcome outcome{Published::Whole, "", {}};
  // The files of the set replaced that this one does not write go with it: those
  // its manifest lists (the manifest itself is replaced above), each only while it
  // is still the file listed there. A file the user changed, or one no manifest
  // lists, is the user's.
  if (oldManifest) {
    for (const ResultManifest::Entry& e : oldManifest->files) {
      if (std::find(names.begin(), names.end(), e.name) != names.end()) continue;
      const std::string stale = JoinPath(dir, e.name);
      struct stat st {};
      if (::lstat(stale.c_str(), &st) != 0) continue;
      const std::optional<FileDigest> now = S_ISREG(st.st_mode) ? DigestOfFile(stale) : std::nullopt;
      if (now && now->size == e.size && now->sha256 == e.sha256) ::unlink(stale.c_str());
      else outcome.kept.push_back(stale);
    }
  }
  return outcome;
}

}  // namespace

std::string FolderProbeRefusal(const std::string& dir) {
  // A file of the size of a few result lines, written through to the disk and
  // removed: a folder that is read-only, or a disk that is full, says so now.
  AtomicFile probe(JoinPath(dir, ".tarmic-batch-probe"));
  if (!probe.IsOpen()) return probe.Error();
  std::string why;
  const std::string block(4096, '\n');
  if (std::fwrite(block.data(), 1, block.size(), probe.File()) != block.size() || std::fflush(probe.File()) != 0 ||
      ::fsync(fileno(probe.File())) != 0)
    why = SystemReason(dir, errno);
  probe.Discard();
  return why;
}

std::string RunFolderPrefix() {
  std::array<char, 256> hostName{};
  if (gethostname(hostName.data(), hostName.size() - 1) != 0) hostName.fill('\0');
  std::string name;
  for (const char* c = hostName.data(); *c; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) || *c == '-' ? *c : '_';
  return "tarmic-batch." + (name.empty() ? std::string("host") : name) + "." + std::to_string(getpid()) + ".";
}

int SweepDeadRunFolders(const std::string& tempDir) {
  const std::string mine = RunFolderPrefix();
  // "tarmic-batch.HOST." of this host; then the process id and the random tail.
  const std::string host = mine.substr(0, mine.rfind('.', mine.size() - 2) + 1);
  int swept = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(tempDir, ec)) {
    const std::string name = e.path().filename().string();
    if (!name.starts_with(host)) continue;
    const std::string rest = name.substr(host.size());
    const std::size_t dot = rest.find('.');
    const std::optional<std::uint64_t> pid = WholeNumberOf(rest.substr(0, dot));
    if (dot == std::string::npos || !pid || *pid == 0 || *pid > 4194304) continue;
    struct stat st {};
    if (::lstat(e.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) continue;
    // Only a run whose process is gone: a live one (or another process that now has
    // its id) keeps its folder.
    if (::kill(static_cast<pid_t>(*pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code removed;
    fs::remove_all(e.path(), removed);
    if (!removed) ++swept;
  }
  return swept;
}

OutputFolder::~OutputFolder() {
  for (const std::string& d : made_) ::rmdir(d.c_str());
  gMadeCount = 0;
}

std::string OutputFolder::Prepare() {
  // A signal meanwhile is handled once the probe is gone again.
  const SignalsHeld signalsWait;
  std::error_code ec;
  std::vector<std::string> missing;
  for (fs::path p = fs::path(dir_).lexically_normal(); !p.empty() && !fs::exists(p, ec);) {
    missing.push_back(WithoutTrailingSlash(p.string()));
    if (p == p.parent_path()) break;
    p = p.parent_path();
  }
  gMadeCount = 0;
  for (std::size_t k = 0; k < std::min(missing.size(), kMadeRoom); ++k) CopyPath(gMade[k].data(), missing[k]);
  gMadeCount = static_cast<std::sig_atomic_t>(std::min(missing.size(), kMadeRoom));
  made_ = missing;
  fs::create_directories(dir_, ec);
  if (!fs::is_directory(dir_)) return dir_ + ": " + (ec ? ec.message() : std::string("not a folder"));
  return FolderProbeRefusal(dir_);
}

void OutputFolder::Keep() {
  made_.clear();
  gMadeCount = 0;
}

void CleanUpOnSignals(const std::string& runFolder) {
  CopyPath(gRunFolder, WithoutTrailingSlash(runFolder));
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (const int sig : kCleanUpSignals) sigaddset(&action.sa_mask, sig);
  for (const int sig : kCleanUpSignals) sigaction(sig, &action, nullptr);
  // A closed pipe is a failed write the run reports, not the end of the process.
  signal(SIGPIPE, SIG_IGN);
}

PublishOutcome PublishResultSet(const std::vector<std::string>& staged, const std::string& dir, bool replace) {
  const SignalsHeld signalsWait;
  PublishOutcome outcome{Published::Whole, "", {}};
  std::string why;
  const bool held = WithFolderHeld(dir, [&] { outcome = ReplaceSet(staged, dir, replace); }, &why);
  return held ? outcome : PublishOutcome{Published::NotSaved, why, {}};
}


}  // namespace tarmic
