// The file-system, process and clock calls of the storage layer, behind one
// interface: every call that atomic_file.cpp, save_journal.cpp and folder_lock.cpp
// make to the system goes through FileSystemInUse(). The program uses the POSIX
// one; the tests put in a file system of their own (an in-memory one whose every
// call is a step they schedule, with locks, failing renames, full disks, a clock
// and processes killed or stopped at any step) to explore the interleavings of
// saves, loads and other processes.
//
// The calls keep the system's conventions: -1 (or false) with errno set on
// failure, descriptors are small integers of the file system that gave them,
// times are those of struct stat. A descriptor is owned by whoever opened it and
// closed through Close(). Thread rules: every call may be made from any thread;
// the file system in use is set before any save or load starts and not changed
// while one runs.
#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

namespace tarmic {

// For the tests of the tests: a rule of the saves undone on purpose, so that the
// explorer of saved sets shows it finds what breaks when the rule is missing.
// None (the default) undoes nothing. A test sets it on the file system it puts in
// (FileSystem::plantedFault).
enum class PlantedFault {
  None,
  HeldCopyIgnored,    // a journal's copy that someone holds is read as if let go
  JournalOwnerByLock, // a journal nobody holds here is taken for ended, whatever its origin
  SweepByLock,        // a temporary nobody holds here is swept, whatever its origin
  SharedHoldersUnseen,// a shared lock (fcntl read, flock shared) is not taken for a holder
  NoFileSync,         // a temporary is renamed without its data synced first
  NoSyncBeforeJournalGoes,  // a set's journals go before its renames are synced
  LongestSaveASecond, // a file of another computer is taken for ended after a second unchanged, not an hour
  AgeByOwnClock,      // a claim's age is measured by this computer's clock, not the share's
  NoClaimCheck,       // a save stopped past its claim's lapse renames all the same
  NoFolderSync,       // the folder sync at plantedSite is left out
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Files and folders, as open(2), close(2), write(2), pread(2), fsync(2).
  virtual int Open(const std::string& path, int flags, mode_t mode = 0) = 0;
  virtual int Close(int fd) = 0;
  virtual ssize_t Write(int fd, const void* data, std::size_t size) = 0;
  virtual ssize_t ReadAt(int fd, void* data, std::size_t size, off_t offset) = 0;
  virtual int Sync(int fd) = 0;
  // Makes the entries of a folder durable (its renames and removals): one call,
  // best effort (some file systems refuse to sync a folder).
  virtual void SyncFolder(const std::string& dir) = 0;
  // A second descriptor of the same open file (F_DUPFD_CLOEXEC), raising the
  // limit of open files once when they ran out.
  virtual int Duplicate(int fd) = 0;
  virtual int FileMode(int fd, mode_t mode) = 0;  // fchmod(2)
  virtual int Stat(const std::string& path, struct stat* st) = 0;
  virtual int LinkStat(const std::string& path, struct stat* st) = 0;  // lstat(2)
  virtual int OpenStat(int fd, struct stat* st) = 0;                    // fstat(2)
  virtual int Access(const std::string& path, int mode) = 0;
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  virtual int Unlink(const std::string& path) = 0;
  // The names in dir without "." and ".."; false (errno set) when it cannot be read.
  virtual bool List(const std::string& dir, std::vector<std::string>* names) = 0;
  // realpath(3): the path with every symbolic link and "."/".." resolved; false
  // when a part of it is missing.
  virtual bool RealPath(const std::string& path, std::string* resolved) = 0;
  // The path resolved as far as it exists, the rest appended (lexically normal).
  virtual std::string ResolvedAsFarAsItExists(const std::string& path) = 0;
  // The statfs(2) type of the file system holding path; 0 when unknown.
  virtual long FileSystemType(const std::string& path) = 0;

  // Locks. LockRange: an open-file-description lock (F_OFD_SETLK) of F_RDLCK,
  // F_WRLCK or F_UNLCK on len bytes from start (0: to the end), never waiting; it
  // conflicts with the process locks of lockf(3) and fcntl(2). LockHolder: whether
  // another open file holds any lock, shared or exclusive, on those bytes
  // (F_OFD_GETLK of a write lock): 1 when one does, 0 when none, -1 with errno.
  // FileLock: flock(2) (LOCK_NB given by the caller), a lock of its own kind that
  // conflicts with flock() only.
  virtual int LockRange(int fd, short type, off_t start, off_t len) = 0;
  virtual int LockHolder(int fd, off_t start, off_t len) = 0;
  virtual int FileLock(int fd, int operation) = 0;
  // The processes that hold a flock() on the file open at fd, as far as the system
  // tells (empty when it does not, or none of them can be seen from here).
  virtual std::vector<long> FileLockHolders(int fd) = 0;
  int LockWhole(int fd, short type) { return LockRange(fd, type, 0, 0); }
  // Sets the modification time of the open file (futimens), its access time kept.
  virtual int SetModified(int fd, const timespec& when) = 0;

  // Processes: this one's pid, whether another runs, its start in clock ticks
  // after boot (0 when unknown), the wall-clock time it started (0 when unknown).
  virtual long ProcessId() = 0;
  virtual bool ProcessRunning(long pid) = 0;
  // Whether pid is stopped (a signal stopped it, or a debugger holds it).
  virtual bool ProcessStopped(long pid) = 0;
  virtual unsigned long long ProcessStart(long pid) = 0;
  virtual std::time_t ProcessStartedAt(long pid) = 0;
  // The name of this host, the id of this machine (kept across boots) and the id
  // of this boot (empty when unknown).
  virtual std::string HostName() = 0;
  virtual std::string MachineId() = 0;
  virtual std::string BootId() = 0;

  // Time: a steady clock for waits, a pause, the wall-clock time.
  virtual std::chrono::steady_clock::time_point Now() = 0;
  virtual void Sleep(std::chrono::milliseconds pause) = 0;
  virtual std::time_t WallTime() = 0;

  // What the saves through this file system do besides its calls. Both are set
  // before any save starts and not changed while one runs.
  // A folder whose files and entries are not synced, with a trailing '/'
  // (SetUnsyncedFolder, atomic_file.h); empty: every file is synced.
  std::string unsyncedFolder;
  // The rule of the saves undone through this file system (tests of the tests).
  PlantedFault plantedFault = PlantedFault::None;
  // Which folder sync NoFolderSync leaves out (FolderSyncSite).
  int plantedSite = -1;
};

// The file system of the POSIX system the program runs on.
FileSystem& PosixFileSystem();
// The one every storage call goes through: the POSIX one unless a test set another.
FileSystem& FileSystemInUse();
// For tests: the file system every storage call goes through (null restores the POSIX one).
void SetFileSystemForTesting(FileSystem* fs);

}  // namespace tarmic
