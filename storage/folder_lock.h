// Advisory locks on folders, held while the renames of a save are done.
//
// Two instances of the program that save the same set of files into one folder
// must not interleave their renames (the set would end with files of both saves),
// and the replay of an ended save's journal must not run between the renames of a
// save in progress. So every save holds the folders of its targets from before its
// journals are written until they are removed, and a recovery holds the folders of
// the journal it replays. The lock is flock(2) on the folder itself: no file is
// added to the data folders, and the system releases it when a process ends, however
// it ends. Another instance holding a folder is waited for (the renames of a set take
// milliseconds); one that keeps it longer (stopped, hung) ends the wait with a reason.
// A file system that does not lock (some network shares) is saved to unlocked.
// A wait longer than a moment is shown in the main window (FolderWaitHooks).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tarmic {

class FolderLocks {
 public:
  FolderLocks() = default;
  ~FolderLocks() { Release(); }
  FolderLocks(const FolderLocks&) = delete;
  FolderLocks& operator=(const FolderLocks&) = delete;

  // Takes the lock of every folder given, in one order for every process so that
  // two savers never hold one each and wait for the other's. A folder this thread
  // holds already is passed over, as is one that cannot be opened (its renames say
  // what is wrong). False when another process kept a folder for the whole wait:
  // nothing is held then and *why is the reason, naming the folder.
  bool Take(const std::vector<std::string>& folders, std::string* why);
  void Release();

 private:
  std::vector<int> fds_;
};

// What the user sees while a save (or the recovery of a load) waits for a folder
// that another instance holds. Brief waits stay invisible; once a wait has lasted
// kFolderWaitNoticeDelay, show receives one line naming the folder (again when the
// wait moves on to another folder), and clear is called when the wait ends, with
// the lock taken or not. Meanwhile the window system is pumped at every poll, so
// that the window repaints. Only the user-interface thread shows and pumps: a wait
// in a worker thread is silent. The program installs both at start-up; without
// them nothing is shown.
struct FolderWaitHooks {
  std::function<void(const std::string& text)> show;
  std::function<void()> clear;
};
FolderWaitHooks& GetFolderWaitHooks();
void ResetFolderWaitHooks();
inline constexpr std::chrono::milliseconds kFolderWaitNoticeDelay{250};

// How long a save waits for a folder another instance holds (10 s unless set).
void SetFolderLockWaitForTesting(std::chrono::milliseconds wait);

}  // namespace tarmic
