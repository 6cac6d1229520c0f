// Advisory locks on folders, held while the renames of a save are done and while
// a load reads the files of a set.
//
// Two instances of the program that save the same set of files into one folder
// must not interleave their renames (the set would end with files of both saves),
// the replay of an ended save's journal must not run between the renames of a
// save in progress, and a load must not read a set while another instance is
// replacing it. So every save holds the folders of its targets from before its
// journals are written until they are removed, a recovery holds the folders of
// the journal it replays, and a load holds the folders it reads as a reader (any
// number of loads at once, no save meanwhile). The lock is flock(2) on the folder
// itself: no file is added to the data folders, and the system releases it when a
// process ends, however it ends. Another instance holding a folder is waited for
// (the renames of a set take milliseconds); one that keeps it longer (hung) ends
// the wait with a reason, and one that is stopped (it lets go only once it is
// continued) is not waited for: the reason names it at once. A wait longer than a moment is shown in the
// main window (FolderWaitHooks), with the time left and a key that gives it up.
//
// A folder whose file system does not lock is saved to unlocked, and one on a
// network share is locked on this computer only (other computers do not see the
// lock): either is said once (FolderWaitHooks::tell), as saves into it are not
// protected from other instances.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tarmic {

class FolderLocks {
 public:
  enum class Mode { Save, Read };

  FolderLocks() = default;
  ~FolderLocks() { Release(); }
  FolderLocks(const FolderLocks&) = delete;
  FolderLocks& operator=(const FolderLocks&) = delete;

  // Takes the lock of every folder given, in one order for every process so that
  // two savers never hold one each and wait for the other's: by device and inode.
  // A folder this thread holds already is passed over, also one it holds as a
  // reader for a save (a load that writes its result beside the file it reads:
  // other savers stay off, other loads do not), as is one that cannot be opened
  // (its renames say what is wrong). A thread that holds folders already never waits for another:
  // a folder that is busy then ends the call at once, so that nothing is ever
  // taken out of the one order. False when another process kept a folder for the
  // whole wait, or the wait was given up: nothing of this call is held then and
  // *why is the reason, naming the folder.
  bool Take(const std::vector<std::string>& folders, std::string* why, Mode mode = Mode::Save);
  void Release();

 private:
  std::vector<int> fds_;
};

// Runs work while this thread holds folder as a save holds it (saves of other
// instances into it wait, and the saves work makes there pass over the hold): a
// writer that looks at its targets and replaces them as one step. False, with
// *why naming the folder, when the folder could not be held (work not run).
bool WithFolderHeld(const std::string& folder, const std::function<void()>& work, std::string* why);

// Whether this thread holds folder (by a save, or with reads as well).
bool FolderHeldHere(const std::string& folder, bool readsToo = false);

// One allowance of waiting for a whole save or load. While one is open on the
// thread, every folder wait shares its time (10 s unless set): a set of many
// files waits once, not once per file. Once the time is used up or the wait was
// given up with a key, every later wait of the same save ends at once. Scopes
// nest: the outermost one holds the allowance. A wait outside any scope has an
// allowance of its own.
class FolderWaitScope {
 public:
  FolderWaitScope();
  ~FolderWaitScope();
  FolderWaitScope(const FolderWaitScope&) = delete;
  FolderWaitScope& operator=(const FolderWaitScope&) = delete;
};

// What the user sees while a save (or a load) waits for a folder that another
// instance holds. Brief waits stay invisible; once a wait has lasted
// kFolderWaitNoticeDelay, show receives one line naming the folder and the seconds
// left (again when the wait moves on to another folder or a second has passed),
// and clear is called when the wait ends, with the lock taken or not. Meanwhile the
// window system is pumped at every poll, so that the window repaints, and
// keyPressed is asked whether the user pressed a key to give the wait up. Only the
// user-interface thread shows, pumps and asks: a wait in a worker thread is silent.
// tell receives, once per folder in a run, that saves into it are not protected
// (see the top of this file), and what a save found of interrupted saves in its
// folders (TellWhenDone); it may be called from any thread. The program
// installs all four at start-up; without them nothing is shown.
struct FolderWaitHooks {
  std::function<void(const std::string& text)> show;
  std::function<void()> clear;
  std::function<bool()> keyPressed;
  std::function<void(const std::string& text)> tell;
};
FolderWaitHooks& GetFolderWaitHooks();
// Gives text to FolderWaitHooks::tell when the save or load running on this thread
// ends (at once outside one): what a save found in its folders and could not
// finish reaches the user as a load's note does.
void TellWhenDone(std::string text);
void ResetFolderWaitHooks();
inline constexpr std::chrono::milliseconds kFolderWaitNoticeDelay{250};

// Waits while held() is true: another process holds for a moment a file that an
// interrupted save left in folder (a killed save lets its files go one by one;
// another program may hold one briefly). Asked every few milliseconds, and shown as
// a folder wait is. All such waits of one save or load together take at most
// kFileLetGoWait of its allowance: once that is spent, a later one ends at once. Called while the folders are held: the holder of such a file
// is no save of the program, so it never waits for them. True once held() is
// false; false when the time is up or the wait was given up: *why then tells
// which (" and did not let them go within 2 s", "; the wait for it was given up").
inline constexpr std::chrono::milliseconds kFileLetGoWait{2000};
bool WaitWhileHeld(const std::string& folder, const std::function<bool()>& held, std::string* why);

// How long a save waits for a folder another instance holds (10 s unless set).
void SetFolderLockWaitForTesting(std::chrono::milliseconds wait);
// For tests: the call that locks a folder (flock unless set; null restores it),
// to play a file system that refuses locks, and the file system type a folder
// reports (statfs f_type; 0 restores the real one), to play a network share.
void SetFolderLockCallForTesting(int (*lock)(int fd, int operation));
void SetFolderFileSystemTypeForTesting(long type);

}  // namespace tarmic
