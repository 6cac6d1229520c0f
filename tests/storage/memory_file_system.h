// An in-memory file system for the explorer of saved sets: regular files, folders
// and pipes under absolute paths, open file descriptions with the two kinds of
// locks (fcntl/lockf and flock), renames and removals that fail on a protected
// file, a disk that fills up, a steady clock that moves only when a process
// pauses, and processes (one per thread) that are killed or end.
//
// Every call of a registered process first passes its step hook, which decides
// who runs next (the explorer's scheduler): a call is the unit of interleaving. A
// killed process's calls fail at once (EIO) without a step, and its descriptors
// are closed, so that its locks go, as the system lets go of a killed process's.
// Thread rules: any thread may call; one internal mutex guards the state, and the
// step hook is called without it held.
//
// Two computers may share it: a process begins on host 0 (this one) or host 1,
// which has the same host name but another machine and boot, its own pids, and
// whose locks (of either kind, on files and folders) do not reach host 0's, as on
// a share mounted without locking across computers.
//
// Crashes: a write reaches the disk only with a sync of its file, and a folder's
// entries (files made, renamed, removed) only with a sync of that folder; Crash()
// ends every process at once and keeps of the rest what a policy says, the
// kernel's freedom: none of it, every entry change but no unsynced data, only
// the removals, or any subset drawn by a seed. Host 0 then starts a new boot.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>

#include "storage/file_system.h"

namespace tarmic::testing {

class MemoryFileSystem final : public FileSystem {
 public:
  // What a call is about to do, for the step hook.
  struct Call {
    const char* what;   // "open", "rename", "sleep", ...
    std::string path;   // the path it names (the first one), or empty
    bool changes;       // it makes, changes, removes or locks something
  };
  using StepHook = std::function<void(long pid, const Call& call)>;
  using Violation = std::function<void(const std::string& text)>;

  MemoryFileSystem();

  // Processes: one per thread. Begin registers the calling thread as a new process
  // (an outsider is no instance of the program: its locks are those a save must
  // never break); End ends it (its descriptors closed); Kill ends pid at once.
  long BeginProcess(bool outsider = false, int host = 0);
  void EndProcess();
  void Kill(long pid);
  void Stop(long pid, bool on);  // a stopped process (SIGSTOP) until it is continued
  // pid knows no machine id (a container without one): MachineId() is empty for it.
  void HideMachineId(long pid);
  bool Alive(long pid);
  // The number of processes ended so far, and when pid ended in that count (0
  // while it runs): a file left by a process that ended after a save held its
  // folders is for the next save there.
  long Ended();
  long EndedAt(long pid);
  void SetStepHook(StepHook hook) { hook_ = std::move(hook); }
  void SetViolation(Violation v) { violation_ = std::move(v); }
  // The paths a save or a recovery may make, change or remove besides the hidden
  // files of the program: the targets of the sets.
  void SetTouchable(std::set<std::string> paths) { touchable_ = std::move(paths); }

  // The scenario's own hand (no step, no process): files, faults.
  void MakeFolder(const std::string& path);
  void Put(const std::string& path, const std::string& content);  // a regular file
  void PutPipe(const std::string& path);
  bool Peek(const std::string& path, std::string* content);
  void Protect(const std::string& path, bool on);  // renames onto it and its removal fail (EPERM)
  void SetDiskFull(bool full) { std::lock_guard<std::mutex> g(mutex_); diskFull_ = full; }
  // Every content that was ever renamed onto path (a save's file reaching it), and
  // the number of the last rename that brought it (0: never); renames are counted
  // from 1 in the order done.
  bool EverHeld(const std::string& path, const std::string& content);
  long LastRenameOf(const std::string& path, const std::string& content);
  // What survives a crash of the unsynced changes.
  // LaterNotEarlier loses the earliest unsynced entry change and keeps every later
  // one; LastOnly keeps only the latest (a kernel may write a folder's later change
  // first: only a sync of the folder orders them).
  enum class CrashKeeps { Nothing, EntriesNotData, Removals, Drawn, LaterNotEarlier, LastOnly };
  void Crash(CrashKeeps keeps, unsigned seed = 0);
  // Puts everything on the disk (the scenario's hand: what was made before a run
  // survives its crash).
  void SyncAll();
  int Boots() { std::lock_guard<std::mutex> g(mutex_); return boot_; }
  std::vector<std::string> Names(const std::string& dir);
  // Whether a live process other than pid holds a lock of either kind on path.
  bool HeldByOther(const std::string& path, long pid);
  // The host of pid's process; the clock moved on by a pause of no process.
  int HostOf(long pid);
  void AdvanceClock(std::chrono::seconds by);
  // How far the wall clock of host's processes (WallTime) stands from the share's
  // (the times files receive); 0 unless set.
  void SetClockOffset(int host, std::chrono::seconds offset);
  // The sum of the pauses of pid while measured (the waits of one save or load):
  // those right after a folder's flock() was refused (waits for another instance's
  // save), and the others (waits for held files).
  std::chrono::milliseconds Paused(long pid);
  std::chrono::milliseconds PausedForFolders(long pid);
  void Measure(long pid, bool on);  // starts (from 0) or stops measuring
  // Pauses shorter than this take this long (polls of a wait are coarser here).
  void SetPauseQuantum(std::chrono::milliseconds q) { quantum_ = q; }

  // FileSystem
  int Open(const std::string& path, int flags, mode_t mode) override;
  int Close(int fd) override;
  ssize_t Write(int fd, const void* data, std::size_t size) override;
  ssize_t ReadAt(int fd, void* data, std::size_t size, off_t offset) override;
  int Sync(int fd) override;
  void SyncFolder(const std::string& dir) override;
  int Duplicate(int fd) override;
  int FileMode(int fd, mode_t mode) override;
  int Stat(const std::string& path, struct stat* st) override;
  int LinkStat(const std::string& path, struct stat* st) override { return Stat(path, st); }
  int OpenStat(int fd, struct stat* st) override;
  int Access(const std::string& path, int mode) override;
  int Rename(const std::string& from, const std::string& to) override;
  int Unlink(const std::string& path) override;
  bool List(const std::string& dir, std::vector<std::string>* names) override;
  bool RealPath(const std::string& path, std::string* resolved) override;
  std::string ResolvedAsFarAsItExists(const std::string& path) override;
  long FileSystemType(const std::string&) override { return 0x01021994; }  // tmpfs
  int LockRange(int fd, short type, off_t start, off_t len) override;
  int LockHolder(int fd, off_t start, off_t len) override;
  int FileLock(int fd, int operation) override;
  std::vector<long> FileLockHolders(int fd) override;
  bool ProcessStopped(long pid) override;
  int SetModified(int fd, const timespec& when) override;
  long ProcessId() override;
  bool ProcessRunning(long pid) override;
  unsigned long long ProcessStart(long pid) override { return pid > 0 ? static_cast<unsigned long long>(pid) * 7 : 0; }
  std::time_t ProcessStartedAt(long) override { return kEpoch; }
  std::string HostName() override { return "shared-name"; }
  std::string MachineId() override;
  std::string BootId() override;
  std::chrono::steady_clock::time_point Now() override;
  void Sleep(std::chrono::milliseconds pause) override;
  std::time_t WallTime() override;

 private:
  static constexpr std::time_t kEpoch = 1800000000;
  enum class Type { File, Folder, Pipe };
  struct Node {
    Type type = Type::File;
    unsigned long long ino = 0;
    std::string data;
    mode_t mode = 0644;
    timespec mtime{}, ctime{};
    bool linked = true;
    long maker = 0;  // the process that made it
    std::string durable;  // the data on the disk (at its last sync)
  };
  struct RangeLock {
    short type;
    off_t start, end;  // end -1: to the end of any file
  };
  struct Description {
    std::shared_ptr<Node> node;
    long pid = 0;
    std::vector<RangeLock> ranges;  // F_RDLCK, F_WRLCK
    int flock = 0;        // LOCK_SH, LOCK_EX
    bool writes = false;
    bool Locked() const { return !ranges.empty() || flock != 0; }
  };
  // A change of a folder's entries not yet on the disk: path given node (null: removed),
  // and for a rename the path it left.
  struct EntryChange {
    std::string path, from;
    std::shared_ptr<Node> node;
    bool synced = false;
  };
  struct Process {
    bool alive = true, outsider = false, measured = false;
    bool stopped = false;
    bool noMachineId = false;
    int host = 0;
    bool folderRefused = false;  // its last call was a folder's flock() refused
    long endedAt = 0;
    std::chrono::milliseconds paused{0}, pausedForFolders{0};
  };
  // The step of the calling process; false (errno EIO) when it is dead.
  bool Step(const char* what, const std::string& path, bool changes);
  long Self();
  std::string Normal(const std::string& path) const;
  std::string Parent(const std::string& path) const;
  timespec Stamp();
  void Fill(const Node& n, struct stat* st) const;
  void Touch(const std::string& path, const char* what);  // checks a change against the set
  // Checks that the file a rename or removal takes from its name is no running
  // process's own (made and locked by it), unless the caller is that process, or
  // the maker is another computer's whose claim lapsed (the file's time kLongestSave
  // and more behind the share's clock: it may be taken for ended).
  void CheckOwn(const Node& n, const std::string& path, const char* what);
  std::shared_ptr<Description> DescriptionOf(int fd);
  void CloseAllOf(long pid);
  // Whether the locks of a and b's processes see each other (the same host).
  bool SameHost(long a, long b);
  // A change of entries, to be kept at a crash once its folder is synced.
  void Change(const std::string& path, const std::string& from, std::shared_ptr<Node> node);

  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Node>> paths_;
  std::map<int, std::shared_ptr<Description>> fds_;
  std::map<long, Process> processes_;
  std::map<std::string, std::map<std::string, long>> history_;  // content: its last rename
  long renames_ = 0;
  std::map<std::string, std::shared_ptr<Node>> durablePaths_;  // the entries on the disk
  std::vector<EntryChange> changes_;                            // since
  int boot_ = 0;
  std::set<std::string> protected_, touchable_;
  int nextFd_ = 3;
  long nextPid_ = 1000;
  long ended_ = 0;
  unsigned long long nextIno_ = 100;
  long long nanos_ = 0;  // the clock, from kEpoch
  long long jumped_ = 0;  // of which moved on by AdvanceClock (no pause of any process)
  long long stamp_ = 0;  // makes every file time distinct
  bool diskFull_ = false;
  std::map<int, std::chrono::seconds> offsets_;
  std::chrono::milliseconds quantum_{0};
  StepHook hook_;
  Violation violation_;
};

}  // namespace tarmic::testing
