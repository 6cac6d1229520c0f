#include "storage/file_system.h"

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <cerrno>
#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "text/number_token.h"

namespace tarmic {

namespace {

bool Digits(const std::string& s) {
  return !s.empty() && s.size() <= 18 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The fields of /proc/<pid>/stat after the command name (which may hold spaces
// and parentheses: they begin behind the last ')'), starting with field 3.
std::vector<std::string> StatFields(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) return {};
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream rest(text.substr(close + 1));
  std::vector<std::string> fields;
  for (std::string f; rest >> f;) fields.push_back(f);
  return fields;
}

class Posix final : public FileSystem {
 public:
  int Open(const std::string& path, int flags, mode_t mode) override { return ::open(path.c_str(), flags, mode); }
  int Close(int fd) override { return ::close(fd); }
  ssize_t Write(int fd, const void* data, std::size_t size) override { return ::write(fd, data, size); }
  ssize_t ReadAt(int fd, void* data, std::size_t size, off_t offset) override {
    return ::pread(fd, data, size, offset);
  }
  int Sync(int fd) override { return ::fsync(fd); }
  void SyncFolder(const std::string& dir) override {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
  }
  int Duplicate(int fd) override {
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0 && errno == EMFILE) {
      // A set of thousands of files holds one descriptor per temporary: the limit
      // is raised to what the system allows.
      struct rlimit limit {};
      if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) == 0) copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
      }
      if (copy < 0) errno = EMFILE;
    }
    return copy;
  }
  int FileMode(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
  int Stat(const std::string& path, struct stat* st) override { return ::stat(path.c_str(), st); }
  int LinkStat(const std::string& path, struct stat* st) override { return ::lstat(path.c_str(), st); }
  int OpenStat(int fd, struct stat* st) override { return ::fstat(fd, st); }
  int Access(const std::string& path, int mode) override { return ::access(path.c_str(), mode); }
  int Rename(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str());
  }
  int Unlink(const std::string& path) override { return ::unlink(path.c_str()); }
  bool List(const std::string& dir, std::vector<std::string>* names) override {
    names->clear();
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    while (const dirent* e = ::readdir(d)) {
      const std::string entry(e->d_name);
      if (entry != "." && entry != "..") names->push_back(entry);
    }
    ::closedir(d);
    return true;
  }
  bool RealPath(const std::string& path, std::string* resolved) override {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return false;
    *resolved = buffer;
    return true;
  }
  std::string ResolvedAsFarAsItExists(const std::string& path) override {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : p.string();
  }
  long FileSystemType(const std::string& path) override {
    struct statfs fs {};
    return ::statfs(path.c_str(), &fs) == 0 ? static_cast<long>(fs.f_type) : 0;
  }
  int LockRange(int fd, short type, off_t start, off_t len) override {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = len;
    return ::fcntl(fd, F_OFD_SETLK, &lock);
  }
  int LockHolder(int fd, off_t start, off_t len) override {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = len;
    if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) return -1;
    return lock.l_type == F_UNLCK ? 0 : 1;
  }
  int SetModified(int fd, const timespec& when) override {
    const timespec times[2] = {{0, UTIME_OMIT}, when};
    return ::futimens(fd, times);
  }
  int FileLock(int fd, int operation) override { return ::flock(fd, operation); }
  std::vector<long> FileLockHolders(int fd) override {
    // /proc/locks: "<n>: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF";
    // a waiter's line has "->" after the number.
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::ifstream in("/proc/locks");
    std::vector<long> holders;
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::string number, kind, advisory, mode, pid, file;
      if (!(words >> number >> kind >> advisory >> mode >> pid >> file) || kind != "FLOCK" || file != device ||
          !Digits(pid))
        continue;
      const long holder = static_cast<long>(WholeNumberOf(pid).value_or(0));
      if (holder > 0 && holder != ::getpid()) holders.push_back(holder);
    }
    return holders;
  }
  long ProcessId() override { return static_cast<long>(::getpid()); }
  bool ProcessRunning(long pid) override {
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    // An ended process its parent has not waited for does not run.
    const std::vector<std::string> f = StatFields(pid);
    return f.empty() || (f[0] != "Z" && f[0] != "X");
  }
  bool ProcessStopped(long pid) override {
    const std::vector<std::string> f = StatFields(pid);
    return !f.empty() && (f[0] == "T" || f[0] == "t");
  }
  unsigned long long ProcessStart(long pid) override {
    const std::vector<std::string> f = StatFields(pid);  // field 22: the start
    return f.size() >= 20 && Digits(f[19]) ? WholeNumberOf(f[19]).value_or(0) : 0;
  }
  std::time_t ProcessStartedAt(long pid) override {
    const unsigned long long ticks = ProcessStart(pid);
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    if (ticks == 0 || perSecond <= 0) return 0;
    std::ifstream in("/proc/stat");
    long long boot = 0;
    for (std::string line; std::getline(in, line);)
      if (line.rfind("btime ", 0) == 0) {
        boot = static_cast<long long>(WholeNumberOf(std::string_view(line).substr(6)).value_or(0));
        break;
      }
    return boot > 0 ? static_cast<std::time_t>(boot + static_cast<long long>(ticks / perSecond)) : 0;
  }
  std::string HostName() override {
    char name[256] = "";
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
  }
  std::string MachineId() override {
    for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
      std::ifstream in(file);
      std::string line;
      if (std::getline(in, line) && line.size() >= 16 &&
          std::all_of(line.begin(), line.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return line;
    }
    return {};
  }
  std::string BootId() override {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string line;
    std::getline(in, line);
    return line.find_first_of(" \t\r") != std::string::npos ? std::string() : line;
  }
  std::chrono::steady_clock::time_point Now() override { return std::chrono::steady_clock::now(); }
  void Sleep(std::chrono::milliseconds pause) override { std::this_thread::sleep_for(pause); }
  std::time_t WallTime() override { return std::time(nullptr); }
};

std::atomic<FileSystem*> gInUse{nullptr};

}  // namespace

FileSystem& PosixFileSystem() {
  static Posix posix;
  return posix;
}

FileSystem& FileSystemInUse() {
  FileSystem* fs = gInUse.load();
  return fs ? *fs : PosixFileSystem();
}

void SetFileSystemForTesting(FileSystem* fs) { gInUse.store(fs); }

}  // namespace tarmic
