#include "storage/folder_lock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/backend.h"
#include "platform/system.h"

namespace tarmic {

namespace {

std::atomic<long long> gWaitMs{10000};

// The folders this thread holds: a save that replays a journal of its folders
// takes them again, and a second flock of this process would wait for itself.
struct Held {
  dev_t dev;
  ino_t ino;
  int fd;
};
thread_local std::vector<Held> tHeld;

bool HeldHere(dev_t dev, ino_t ino) {
  return std::any_of(tHeld.begin(), tHeld.end(), [&](const Held& h) { return h.dev == dev && h.ino == ino; });
}

FolderWaitHooks gWaitHooks;

// The notice of a wait in the user-interface thread: shown after a moment, kept
// up to date with the folder waited for, cleared when the wait ends.
class WaitNotice {
 public:
  WaitNotice() : start_(std::chrono::steady_clock::now()), ui_(IsUiThread()) {}
  ~WaitNotice() {
    if (!shown_.empty() && gWaitHooks.clear) gWaitHooks.clear();
  }
  WaitNotice(const WaitNotice&) = delete;
  WaitNotice& operator=(const WaitNotice&) = delete;

  // Called at every poll that finds the folder held by another instance.
  void Waiting(const std::string& folder) {
    if (!ui_ || std::chrono::steady_clock::now() - start_ < kFolderWaitNoticeDelay) return;
    if (shown_ != folder) {
      shown_ = folder;
      if (gWaitHooks.show)
        gWaitHooks.show("waiting for another instance of the program saving into " + folder + " ...");
    }
    if (HasBackend()) GetBackend().PumpEvents();
  }

 private:
  std::chrono::steady_clock::time_point start_;
  bool ui_;
  std::string shown_;  // the folder named by the notice shown (empty: none)
};

}  // namespace

FolderWaitHooks& GetFolderWaitHooks() { return gWaitHooks; }
void ResetFolderWaitHooks() { gWaitHooks = FolderWaitHooks(); }

void SetFolderLockWaitForTesting(std::chrono::milliseconds wait) { gWaitMs.store(wait.count()); }

bool FolderLocks::Take(const std::vector<std::string>& folders, std::string* why) {
  struct Open {
    Held held;
    std::string folder;
  };
  std::vector<Open> open;
  for (const std::string& folder : folders) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0 && !HeldHere(st.st_dev, st.st_ino) &&
                       std::none_of(open.begin(), open.end(), [&](const Open& o) {
                         return o.held.dev == st.st_dev && o.held.ino == st.st_ino;
                       });
    if (!known) {
      ::close(fd);
      continue;
    }
    open.push_back({Held{st.st_dev, st.st_ino, fd}, folder});
  }
  // One order for all: by device and inode, whatever path named the folder.
  std::sort(open.begin(), open.end(), [](const Open& a, const Open& b) {
    return a.held.dev != b.held.dev ? a.held.dev < b.held.dev : a.held.ino < b.held.ino;
  });
  const long long waitMs = gWaitMs.load();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  WaitNotice notice;
  for (std::size_t k = 0; k < open.size(); ++k) {
    const int fd = open[k].held.fd;
    for (;;) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        tHeld.push_back(open[k].held);
        fds_.push_back(fd);
        break;
      }
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {  // a file system without locks
        ::close(fd);
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        *why = "another instance of the program was saving into the folder " + open[k].folder +
               " and did not finish within " + std::to_string((waitMs + 999) / 1000) + " s";
        for (std::size_t rest = k; rest < open.size(); ++rest) ::close(open[rest].held.fd);
        Release();
        return false;
      }
      notice.Waiting(open[k].folder);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return true;
}

void FolderLocks::Release() {
  for (const int fd : fds_) {
    tHeld.erase(std::remove_if(tHeld.begin(), tHeld.end(), [fd](const Held& h) { return h.fd == fd; }),
                tHeld.end());
    ::close(fd);  // the lock goes with the last descriptor of its open file
  }
  fds_.clear();
}

}  // namespace tarmic
