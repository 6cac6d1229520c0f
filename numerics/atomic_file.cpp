#include "numerics/atomic_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
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

  // O_EXCL on a name of our own making: no other file is ever opened by mistake;
  // mode 0666 lets the umask decide as it would for fopen.
  int fd = -1;
  int err = 0;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp_ = target_ + ".tmp" + std::to_string(::getpid()) + "_" +
            std::to_string(gTempCounter.fetch_add(1));
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
    // Part of a larger set: the outer batch replaces the targets with its own.
    for (Pending& p : pending_) outer_->pending_.push_back(std::move(p));
    pending_.clear();
    outer_ = nullptr;
    return true;
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
  if (outer_ && !failed_.empty()) outer_->NoteFailure(failed_.front(), failedWhy_.front());
  outer_ = nullptr;
  for (const Pending& p : pending_) {
    ::unlink(p.temp.c_str());
    notReplaced_.push_back(p.path);
  }
  pending_.clear();
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
