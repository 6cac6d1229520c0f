#include "storage/folder_lock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "platform/backend.h"
#include "storage/file_system.h"
#include "platform/system.h"

namespace tarmic {

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

std::atomic<long long> gWaitMs{10000};
std::atomic<int (*)(int, int)> gLockCall{nullptr};
std::atomic<long> gFileSystemType{0};

int LockFolder(int fd, int operation) {
  int (*const call)(int, int) = gLockCall.load();
  return call ? call(fd, operation) : FileSystemInUse().FileLock(fd, operation);
}

// The folders this thread holds: a save that replays a journal of its folders
// takes them again, and a second flock of this process would wait for itself.
struct Held {
  dev_t dev;
  ino_t ino;
  int fd;
  bool save;  // held by a save (exclusive), else by a load (shared)
};
thread_local std::vector<Held> tHeld;

bool HeldHere(dev_t dev, ino_t ino, bool readsToo) {
  return std::any_of(tHeld.begin(), tHeld.end(), [&](const Held& h) {
    return h.dev == dev && h.ino == ino && (h.save || readsToo);
  });
}

// The waiting allowance of the save or load running on this thread.
struct Allowance {
  int depth = 0;
  Ms left{0};
  Ms letGoLeft{0};  // of kFileLetGoWait: the waits for held files of this save or load, in all
  std::string over;            // why the waits of this save end at once; empty while time is left
  std::vector<std::string> told;  // notes for FolderWaitHooks::tell, given when the save ends
};
thread_local Allowance tAllowance;

FolderWaitHooks gWaitHooks;

// Folders said to be unprotected in this run, by device and inode.
std::mutex gToldMutex;
std::vector<std::pair<dev_t, ino_t>> gTold;

// Network file systems: their folders may be written from other computers, which
// a folder's flock here does not hold off. User-space file systems count among
// them: one cannot be told from a network one here (sshfs, a cloud folder), and
// their locks, where they keep any, stay on this computer. A local one (a disk
// of another system's format) is said to be unprotected too: a note too many,
// never one too few.
bool IsSharedFileSystem(long type) {
  switch (static_cast<unsigned long>(type) & 0xffffffffUL) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x5346414FUL:  // AFS
    case 0x00C36400UL:  // Ceph
    case 0x0BD00BD0UL:  // Lustre
    case 0x73757245UL:  // Coda
    case 0x65735546UL:  // FUSE
    case 0x01161970UL:  // GFS2
    case 0x47504653UL:  // GPFS
    case 0x564C4644UL:  // vboxsf (a virtual machine's shared folder)
    case 0x01021997UL:  // 9p (a virtual machine's or container's shared folder)
      return true;
    default:
      return false;
  }
}

// Notes, once per folder in a run, that saves into it are not protected: its file
// system refuses the lock (lockError), it cannot be read (openError: it can be
// written but not listed, so it can be neither locked nor searched for what an
// ended save left), or it lies on a network share.
void NoteUnprotected(const struct stat& st, const std::string& folder, int lockError, int openError = 0) {
  long type = gFileSystemType.load();
  if (type == 0) {
    type = FileSystemInUse().FileSystemType(folder);
  }
  const bool shared = IsSharedFileSystem(type);
  if (lockError == 0 && openError == 0 && !shared) return;
  {
    std::lock_guard<std::mutex> guard(gToldMutex);
    const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    if (std::find(gTold.begin(), gTold.end(), id) != gTold.end()) return;
    gTold.push_back(id);
  }
  std::string text = "saves into the folder " + folder + " are not protected from ";
  if (openError != 0)
    text += "other instances of the program: it cannot be read (" + std::string(std::strerror(openError)) +
            "), so it can be neither locked nor searched for what an interrupted save left";
  else if (lockError != 0)
    text += "other instances of the program: its file system does not lock folders (" +
            std::string(std::strerror(lockError)) + ")";
  else
    text += "instances of the program on other computers: it lies on a network share, where a "
            "folder's lock holds on this computer only";
  tAllowance.told.push_back(std::move(text));
}

// The notice of a wait in the user-interface thread: shown after a moment, kept
// up to date with the folder waited for and the seconds left, cleared when the
// wait ends.
class WaitNotice {
 public:
  WaitNotice() : start_(FileSystemInUse().Now()), ui_(IsUiThread()) {}
  ~WaitNotice() {
    if (!shown_.empty() && gWaitHooks.clear) gWaitHooks.clear();
  }
  WaitNotice(const WaitNotice&) = delete;
  WaitNotice& operator=(const WaitNotice&) = delete;

  // Called at every poll that finds the folder (or a file in it) held by another
  // process; what = what is waited for. True when the user pressed a key to give
  // the wait up.
  bool Waiting(const std::string& folder, Ms left,
               const std::string& what = "another instance of the program saving into") {
    if (!ui_ || FileSystemInUse().Now() - start_ < kFolderWaitNoticeDelay) return false;
    const long long seconds = std::max<long long>(1, (left.count() + 999) / 1000);
    const std::string text = "waiting for " + what + " " + folder + " ... giving up in " +
                             std::to_string(seconds) + " s (press a key to give up now)";
    if (shown_ != text) {
      shown_ = text;
      if (gWaitHooks.show) gWaitHooks.show(text);
    }
    if (HasBackend()) GetBackend().PumpEvents();
    return gWaitHooks.keyPressed && gWaitHooks.keyPressed();
  }

 private:
  Clock::time_point start_;
  bool ui_;
  std::string shown_;  // the notice shown (empty: none)
};

// Why a wait for the folder open at fd is of no use, when every process that
// holds it is stopped (it lets go only once it is continued): " (held by the
// stopped process <pid>)"; empty while a holder runs or none is known. Asked at
// once and then every 100 ms of a wait.
std::string StoppedHolders(int fd, Clock::time_point* asked) {
  FileSystem& sys = FileSystemInUse();
  const Clock::time_point now = sys.Now();
  if (*asked != Clock::time_point() && now - *asked < Ms(100)) return {};
  *asked = now;
  const std::vector<long> holders = sys.FileLockHolders(fd);
  if (holders.empty() || !std::all_of(holders.begin(), holders.end(), [&](long pid) { return sys.ProcessStopped(pid); }))
    return {};
  std::string pids;
  for (const long pid : holders) pids += (pids.empty() ? "" : ", ") + std::to_string(pid);
  return std::string(" (held by the stopped process") + (holders.size() > 1 ? "es " : " ") + pids +
         ", which lets go only once it is continued)";
}

}  // namespace

FolderWaitHooks& GetFolderWaitHooks() { return gWaitHooks; }
void ResetFolderWaitHooks() { gWaitHooks = FolderWaitHooks(); }

void TellWhenDone(std::string text) {
  if (text.empty()) return;
  if (tAllowance.depth > 0) {
    if (std::find(tAllowance.told.begin(), tAllowance.told.end(), text) == tAllowance.told.end())
      tAllowance.told.push_back(std::move(text));
  } else if (gWaitHooks.tell) {
    gWaitHooks.tell(text);
  }
}

void SetFolderLockWaitForTesting(std::chrono::milliseconds wait) { gWaitMs.store(wait.count()); }
void SetFolderLockCallForTesting(int (*lock)(int fd, int operation)) { gLockCall.store(lock); }
void SetFolderFileSystemTypeForTesting(long type) { gFileSystemType.store(type); }

FolderWaitScope::FolderWaitScope() {
  if (tAllowance.depth++ == 0) {
    tAllowance.left = Ms(gWaitMs.load());
    tAllowance.letGoLeft = kFileLetGoWait;
    tAllowance.over.clear();
    tAllowance.told.clear();
  }
}

FolderWaitScope::~FolderWaitScope() {
  if (--tAllowance.depth > 0) return;
  std::vector<std::string> told = std::move(tAllowance.told);
  tAllowance.told.clear();
  if (gWaitHooks.tell)
    for (const std::string& text : told) gWaitHooks.tell(text);
}

bool FolderHeldHere(const std::string& folder, bool readsToo) {
  struct stat st {};
  return FileSystemInUse().Stat(folder, &st) == 0 && HeldHere(st.st_dev, st.st_ino, readsToo);
}

bool FolderLocks::Take(const std::vector<std::string>& folders, std::string* why, Mode mode) {
  const bool save = mode == Mode::Save;
  struct Open {
    Held held;
    std::string folder;
    struct stat st;
  };
  FileSystem& sys = FileSystemInUse();
  std::vector<Open> open;
  for (const std::string& folder : folders) {
    const int fd = sys.Open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      // One that is there but cannot be opened (written but not read: mode 0333)
      // is saved to unprotected, and told so; one that is not there is left to the
      // renames to report.
      const int err = errno;
      struct stat st {};
      if (sys.Stat(folder, &st) == 0 && S_ISDIR(st.st_mode)) NoteUnprotected(st, folder, 0, err);
      continue;
    }
    struct stat st {};
    // A folder this thread reads is its own for a save as well: a second flock of
    // this thread would wait for itself.
    const bool known = sys.OpenStat(fd, &st) == 0 && !HeldHere(st.st_dev, st.st_ino, true) &&
                       std::none_of(open.begin(), open.end(), [&](const Open& o) {
                         return o.held.dev == st.st_dev && o.held.ino == st.st_ino;
                       });
    if (!known) {
      sys.Close(fd);
      continue;
    }
    // Named as the user knows it ("fits/../data" is "data").
    std::string resolved;
    open.push_back({Held{st.st_dev, st.st_ino, fd, save}, sys.RealPath(folder, &resolved) ? resolved : folder, st});
  }
  // One order for all: by device and inode, whatever path named the folder.
  std::sort(open.begin(), open.end(), [](const Open& a, const Open& b) {
    return a.held.dev != b.held.dev ? a.held.dev < b.held.dev : a.held.ino < b.held.ino;
  });
  // A thread that holds folders already must not wait: the one it waits for may
  // come before them in the order, and its holder may be waiting for them.
  const bool mayWait = tHeld.empty();
  FolderWaitScope scope;
  const Clock::time_point began = sys.Now();
  const Clock::time_point deadline = began + tAllowance.left;
  const std::size_t before = fds_.size();
  WaitNotice notice;
  auto fail = [&](std::size_t k, std::string reason) {
    *why = std::move(reason);
    for (std::size_t rest = k; rest < open.size(); ++rest) sys.Close(open[rest].held.fd);
    // What this call took goes; what the object held before stays.
    while (fds_.size() > before) {
      const int fd = fds_.back();
      fds_.pop_back();
      tHeld.erase(std::remove_if(tHeld.begin(), tHeld.end(), [fd](const Held& h) { return h.fd == fd; }),
                  tHeld.end());
      sys.Close(fd);
    }
    return false;
  };
  bool ok = true;
  for (std::size_t k = 0; ok && k < open.size(); ++k) {
    const int fd = open[k].held.fd;
    const std::string busy = "another instance of the program was saving into the folder " + open[k].folder;
    Clock::time_point asked{};
    for (;;) {
      if (LockFolder(fd, (save ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
        tHeld.push_back(open[k].held);
        fds_.push_back(fd);
        NoteUnprotected(open[k].st, open[k].folder, 0);
        break;
      }
      const int err = errno;
      if (err == EINTR) continue;
      if (err != EWOULDBLOCK) {  // a file system without locks
        NoteUnprotected(open[k].st, open[k].folder, err);
        sys.Close(fd);
        break;
      }
      if (!tAllowance.over.empty()) {
        ok = fail(k, busy + tAllowance.over);
        break;
      }
      if (!mayWait) {
        ok = fail(k, busy + " (not waited for while other folders are held)");
        break;
      }
      if (const std::string stopped = StoppedHolders(fd, &asked); !stopped.empty()) {
        ok = fail(k, busy + stopped);
        break;
      }
      const Clock::time_point now = sys.Now();
      if (now >= deadline) {
        tAllowance.over = " and did not finish within " + std::to_string((gWaitMs.load() + 999) / 1000) + " s";
        ok = fail(k, busy + tAllowance.over);
        break;
      }
      if (notice.Waiting(open[k].folder, std::chrono::duration_cast<Ms>(deadline - now))) {
        tAllowance.over = "; the wait for it was given up";
        ok = fail(k, busy + tAllowance.over);
        break;
      }
      sys.Sleep(Ms(5));
    }
  }
  const Ms waited = std::chrono::duration_cast<Ms>(sys.Now() - began);
  tAllowance.left = std::max(Ms(0), tAllowance.left - waited);
  return ok;
}

bool WaitWhileHeld(const std::string& folder, const std::function<bool()>& held, std::string* why) {
  FolderWaitScope scope;
  FileSystem& sys = FileSystemInUse();
  const Clock::time_point began = sys.Now();
  const Clock::time_point deadline = began + std::min(tAllowance.left, tAllowance.letGoLeft);
  const std::string what = "another process to let go of the files an interrupted save left in";
  WaitNotice notice;
  bool free = false;
  while (!(free = !held())) {
    if (!tAllowance.over.empty()) {
      *why = tAllowance.over;
      break;
    }
    const Clock::time_point now = sys.Now();
    if (now >= deadline) {
      *why = " and did not let them go within " + std::to_string((kFileLetGoWait.count() + 999) / 1000) + " s";
      break;
    }
    if (notice.Waiting(folder, std::chrono::duration_cast<Ms>(deadline - now), what)) {
      tAllowance.over = "; the wait for it was given up";
      *why = tAllowance.over;
      break;
    }
    sys.Sleep(Ms(5));
  }
  const Ms waited = std::chrono::duration_cast<Ms>(sys.Now() - began);
  tAllowance.left = std::max(Ms(0), tAllowance.left - waited);
  tAllowance.letGoLeft = std::max(Ms(0), tAllowance.letGoLeft - waited);
  return free;
}

void FolderLocks::Release() {
  for (const int fd : fds_) {
    tHeld.erase(std::remove_if(tHeld.begin(), tHeld.end(), [fd](const Held& h) { return h.fd == fd; }),
                tHeld.end());
    FileSystemInUse().Close(fd);  // the lock goes with the last descriptor of its open file
  }
  fds_.clear();
}

bool WithFolderHeld(const std::string& folder, const std::function<void()>& work, std::string* why) {
  const FolderWaitScope wait;
  FolderLocks locks;
  if (!locks.Take({folder}, why)) return false;
  work();
  return true;
}

}  // namespace tarmic
