#include "numerics/atomic_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmic {

namespace {

std::atomic<unsigned> gTempCounter{0};
thread_local AtomicFileBatch* tBatch = nullptr;

std::string DirectoryPart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.size() <= 18 &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

constexpr std::string_view kTempMark = ".tmp-";
constexpr std::string_view kTempExtension = ".part";
// Room left in a file name (at most 255 bytes) for the target's name: the rest
// takes the mark, the host (at most 32 characters), pid, counter and extension.
constexpr std::size_t kTargetNameRoom = 180;

// This host's name as it stands in temporary names: letters, digits, '-' and '_'
// (anything else becomes '_'), at most 32 characters.
const std::string& HostTag() {
  static const std::string tag = [] {
    char name[256] = "";
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::string("host");
    std::string t;
    for (const char* c = name; *c && t.size() < 32; ++c) {
      const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                         (*c >= '0' && *c <= '9') || *c == '-';
      t.push_back(plain ? *c : '_');
    }
    return t;
  }();
  return tag;
}

// "." + the target's name (cut to the room left) + ".tmp-": what every temporary of
// the target begins with.
std::string TempPrefix(const std::string& targetName) {
  return "." + targetName.substr(0, kTargetNameRoom) + std::string(kTempMark);
}

// The pid in a temporary's name, as its prefix and host leave it: "<pid>-<n>.part"
// after "<prefix><host>-"; 0 when the rest is not of that form.
long PidOfTemporary(std::string_view rest) {
  if (rest.size() <= kTempExtension.size() ||
      rest.substr(rest.size() - kTempExtension.size()) != kTempExtension)
    return 0;
  rest.remove_suffix(kTempExtension.size());
  const std::size_t dash = rest.find('-');
  if (dash == std::string_view::npos) return 0;
  const std::string_view pid = rest.substr(0, dash), n = rest.substr(dash + 1);
  if (!AllDigits(pid) || !AllDigits(n)) return 0;
  return std::stol(std::string(pid));
}

// "<name>.tmp<pid>_<n>", the name earlier versions gave their temporaries: the pid,
// or 0 when fileName is none of name's.
long PidOfOldTemporary(std::string_view fileName, std::string_view targetName) {
  const std::string prefix = std::string(targetName) + ".tmp";
  if (fileName.size() <= prefix.size() || fileName.substr(0, prefix.size()) != prefix) return 0;
  const std::string_view rest = fileName.substr(prefix.size());
  const std::size_t underscore = rest.find('_');
  if (underscore == std::string_view::npos) return 0;
  const std::string_view pid = rest.substr(0, underscore), n = rest.substr(underscore + 1);
  if (!AllDigits(pid) || !AllDigits(n)) return 0;
  return std::stol(std::string(pid));
}

bool ProcessRunning(long pid) {
  if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// Removes the temporaries of target that a process of this host left behind and
// that is no longer running; a running one (another instance, or this one) keeps
// its temporaries. Best effort: what cannot be listed or removed stays.
void RemoveStaleTemporaries(const std::string& target) {
  const std::string dir = DirectoryPart(target);
  const std::string name = NamePart(target);
  const std::string prefix = TempPrefix(name) + HostTag() + "-";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const long self = static_cast<long>(::getpid());
  while (const dirent* e = ::readdir(d)) {
    const std::string_view entry(e->d_name);
    long pid = 0;
    bool hostKnown = true;
    if (entry.size() > prefix.size() && entry.substr(0, prefix.size()) == prefix) {
      pid = PidOfTemporary(entry.substr(prefix.size()));
    } else {
      pid = PidOfOldTemporary(entry, name);
      hostKnown = false;
    }
    if (pid == 0 || pid == self || ProcessRunning(pid)) continue;
    struct stat st {};
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    // The older names carry no host: in a folder shared over the network their pid
    // may be a save running on another machine, so only those no save could still
    // be writing (untouched for an hour) go.
    if (!hostKnown && std::time(nullptr) - st.st_mtime < 3600) continue;
    (void)::unlinkat(::dirfd(d), e->d_name, 0);
  }
  ::closedir(d);
}

// Makes the rename durable: syncs the directory entry (best effort, some file
// systems refuse fsync on a directory).
void SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)), target_(path_) {
  if (path_.empty()) {
    error_ = "(no file name): " + std::string(std::strerror(ENOENT));
    return;
  }
  // A symbolic link keeps pointing at its file: the file it names is replaced.
  std::error_code ec;
  if (std::filesystem::is_symlink(path_, ec)) {
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path_, ec);
    if (!ec) target_ = resolved.string();
  }
  struct stat old {};
  const bool exists = ::stat(target_.c_str(), &old) == 0;
  // A write-protected file stays protected, as it would against fopen "w".
  if (exists && ::access(target_.c_str(), W_OK) != 0) {
    Fail(errno);
    return;
  }

  RemoveStaleTemporaries(target_);
  // O_EXCL on a name of our own making: no other file is ever opened by mistake;
  // mode 0666 lets the umask decide as it would for fopen.
  int fd = -1;
  int err = 0;
  const std::string dir = DirectoryPart(target_);
  const std::string prefix = (dir == "/" ? dir : dir + "/") + TempPrefix(NamePart(target_)) +
                             HostTag() + "-" + std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp_ = prefix + std::to_string(gTempCounter.fetch_add(1)) + std::string(kTempExtension);
    fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    err = errno;
    if (fd < 0 && err != EEXIST) break;
  }
  if (fd < 0) {
    temp_.clear();
    Fail(err);
    return;
  }
  if (exists) (void)::fchmod(fd, old.st_mode & 07777);  // the replacement keeps its mode
  file_ = ::fdopen(fd, "w");
  if (!file_) {
    err = errno;
    ::close(fd);
    Discard();
    Fail(err);
  }
}

AtomicFile::~AtomicFile() {
  if (!handedOver_ && tBatch) tBatch->NoteFailure(path_, error_);
  Discard();
}

void AtomicFile::Fail(int err) {
  error_ = path_ + ": " + std::strerror(err);
}

void AtomicFile::Discard() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

bool AtomicFile::Close() {
  if (!file_) {
    if (error_.empty()) Fail(EBADF);
    return false;
  }
  // A failed earlier write leaves the error flag; errno may no longer hold its
  // reason, so a fresh flush is tried first to learn it.
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) {
    const int err = errno != 0 ? errno : EIO;
    Discard();
    Fail(err);
    return false;
  }
  if (::fsync(::fileno(file_)) != 0 && errno != EINVAL && errno != EROFS) {
    const int err = errno;
    Discard();
    Fail(err);
    return false;
  }
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) {
    const int err = errno;
    Discard();
    Fail(err);
    return false;
  }
  return true;
}

bool AtomicFile::Commit() {
  if (!Close()) return false;
  if (AtomicFileBatch* batch = tBatch) {
    // A directory in the way is found now, while nothing of the set is replaced.
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      Discard();
      Fail(EISDIR);
      return false;
    }
    batch->Take(path_, temp_, target_, std::move(onReplaced_));
    handedOver_ = true;
    temp_.clear();
    error_.clear();
    return true;
  }
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
    const int err = errno;
    Discard();
    Fail(err);
    return false;
  }
  temp_.clear();
  handedOver_ = true;
  SyncDirectory(DirectoryPart(target_));
  error_.clear();
  if (onReplaced_) onReplaced_();
  return true;
}

AtomicFileBatch::AtomicFileBatch() : outer_(tBatch) { tBatch = this; }

AtomicFileBatch::~AtomicFileBatch() { Discard(); }

AtomicFileBatch* AtomicFileBatch::Current() { return tBatch; }

void AtomicFileBatch::Take(std::string path, std::string temp, std::string target,
                           std::function<void()> onReplaced) {
  pending_.push_back(Pending{std::move(path), std::move(temp), std::move(target), std::move(onReplaced)});
}

bool AtomicFileBatch::Commit() {
  if (tBatch == this) tBatch = outer_;
  if (outer_) {
    // Part of a larger set: the outer batch replaces the targets with its own, and a
    // file this batch could not write leaves the larger set incomplete as well.
    for (std::size_t k = 0; k < failed_.size(); ++k) outer_->NoteFailure(failed_[k], failedWhy_[k]);
    const bool whole = failed_.empty();
    for (Pending& p : pending_) outer_->pending_.push_back(std::move(p));
    pending_.clear();
    outer_ = nullptr;
    return whole;
  }
  std::vector<Pending> pending = std::move(pending_);
  pending_.clear();
  bool ok = true;
  std::vector<std::string> dirs;
  for (Pending& p : pending) {
    if (ok && std::rename(p.temp.c_str(), p.target.c_str()) == 0) {
      dirs.push_back(DirectoryPart(p.target));
      if (p.onReplaced) p.onReplaced();
      continue;
    }
    if (ok) error_ = p.path + ": " + std::strerror(errno);
    ok = false;
    ::unlink(p.temp.c_str());
    notReplaced_.push_back(p.path);
  }
  std::sort(dirs.begin(), dirs.end());
  dirs.erase(std::unique(dirs.begin(), dirs.end()), dirs.end());
  for (const std::string& d : dirs) SyncDirectory(d);
  return ok;
}

std::string AtomicFileBatch::Finish() {
  auto lines = [](const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& p : paths) text += "\n" + p;
    return text;
  };
  if (!failed_.empty()) {
    Discard();
    std::string report = "could not write:" + lines(failedWhy_);
    if (!notReplaced_.empty()) report += "\nnone of the set was replaced:" + lines(notReplaced_);
    return report;
  }
  if (Commit()) return std::string();
  return "could not replace:" + lines(notReplaced_) + "\n" + error_;
}

void AtomicFileBatch::Discard() {
  if (tBatch == this) tBatch = outer_;
  // The set this one belongs to cannot be whole either.
  if (outer_)
    for (std::size_t k = 0; k < failed_.size(); ++k) outer_->NoteFailure(failed_[k], failedWhy_[k]);
  outer_ = nullptr;
  for (const Pending& p : pending_) {
    ::unlink(p.temp.c_str());
    notReplaced_.push_back(p.path);
  }
  pending_.clear();
}

bool IsSaveTemporaryName(const std::string& fileName) {
  const std::string_view name(fileName);
  // ".<target>.tmp-<host>-<pid>-<n>.part"
  const std::size_t mark = name.rfind(kTempMark);
  if (!name.empty() && name[0] == '.' && mark != std::string_view::npos && mark > 0) {
    std::string_view rest = name.substr(mark + kTempMark.size());
    // The host is everything up to the dash before the pid.
    if (rest.size() > kTempExtension.size()) {
      const std::string_view core = rest.substr(0, rest.size() - kTempExtension.size());
      const std::size_t last = core.rfind('-');
      const std::size_t beforePid = last == std::string_view::npos || last == 0
                                        ? std::string_view::npos
                                        : core.rfind('-', last - 1);
      if (beforePid != std::string_view::npos && PidOfTemporary(rest.substr(beforePid + 1)) > 0)
        return true;
    }
  }
  // "<target>.tmp<pid>_<n>"
  const std::size_t old = name.rfind(".tmp");
  return old != std::string_view::npos && old > 0 &&
         PidOfOldTemporary(name, name.substr(0, old)) > 0;
}

bool WriteFileAtomically(const std::string& path,
                         const std::function<bool(std::FILE*)>& write, std::string* error) {
  AtomicFile file(path);
  bool ok = file.IsOpen();
  if (ok) {
    ok = write(file.File());
    if (ok) {
      ok = file.Commit();
    } else {
      // The writer's own failure: learn the reason from the stream when it has one.
      errno = 0;
      const bool streamFailed = std::fflush(file.File()) != 0 || std::ferror(file.File());
      const int err = streamFailed && errno != 0 ? errno : EIO;
      file.Discard();
      if (error) *error = path + ": " + std::strerror(err);
      return false;
    }
  }
  if (!ok && error) *error = file.Error();
  return ok;
}

bool WriteTextFileAtomically(const std::string& path, const std::string& text,
                             std::string* error) {
  return WriteFileAtomically(
      path,
      [&text](std::FILE* f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); },
      error);
}

}  // namespace tarmic
