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
#pragma once

#include <chrono>
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

// How long a save waits for a folder another instance holds (10 s unless set).
void SetFolderLockWaitForTesting(std::chrono::milliseconds wait);

}  // namespace tarmic
