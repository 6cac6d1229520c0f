// Parts shared by the atomic writer (atomic_file.cpp) and the journals of sets
// (save_journal.cpp): names of temporaries, processes, folders. Not for other use.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <sys/stat.h>

namespace tarmic {

class FolderLocks;
enum class PlantedFault;

namespace save_parts {

inline constexpr std::string_view kTempMark = ".tmp-";
inline constexpr std::string_view kTempExtension = ".part";
// Room left in a file name (at most 255 bytes) for the target's name: the rest
// takes the mark, the host tag (at most 50 characters), pid, start, counter and
// extension. Temporaries named before they carried the machine and boot left
// 170, and before they carried the start 180.
inline constexpr std::size_t kTargetNameRoom = 150;
inline constexpr std::array<std::size_t, 3> kTargetNameRooms = {150, 170, 180};

// The claim of a save on its files lives by a heartbeat: a running save sets the
// modification time of the files that carry it (its temporaries, its journal's
// copies once written) to the share's present time at its progress points, once
// kHeartbeatPeriod has passed since the last refresh. A file of a save that cannot
// be asked (another computer's) is taken for ended only when the share's own clock
// (the time of a file made there now, ShareNow) is kLongestSave past its heartbeat,
// and past it by the difference between this computer's clock and the share's as
// well. A save whose own heartbeat the share's clock finds kLongestSave / 2 old
// (it was stopped or suspended) replaces nothing more (SaveClaim::Held).
inline constexpr std::time_t kLongestSave = 3600;
inline constexpr std::time_t kHeartbeatPeriod = 60;

// The process that wrote a temporary, as its name tells it.
struct TempOwner {
  long pid = 0;
  unsigned long long start = 0;
  bool withStart = false;  // named before temporaries carried the start: no start
};

std::string DirectoryPart(const std::string& path);
std::string NamePart(const std::string& path);
bool AllDigits(std::string_view s);
unsigned long long StartTimeOf(long pid);
const std::string& BootId();
// What the names of a save's files say of where it runs: "<host>.<machine>.<boot>",
// the host's name (letters, digits, '-' and '_'), then 8 hex digits of the
// machine's id and of its boot's id (each left out when unknown). Two computers of
// one name sharing a folder have different machines; a restart changes the boot.
const std::string& HostTag();
// Where the save that named its files with tag ran, seen from this process: in
// this very boot of this machine (its locks and pids are seen here), in an
// earlier boot of this machine (it has surely ended), or anywhere else (another
// computer, or a tag that does not tell: it cannot be asked).
// A tag of another host name or machine but this boot id ran on this very kernel
// (a container): its locks are seen here, its pids are not (ThisKernel).
enum class Origin { ThisBoot, EarlierBoot, ThisKernel, Unknown };
Origin OriginOf(std::string_view tag);
bool ParseTemporaryRest(std::string_view rest, TempOwner* owner);
// "<host tag>-<pid>-<start>-<n>.part" (or "<host tag>-<pid>-<n>.part", named
// before temporaries carried the start): the tag and the owner; false otherwise.
bool ParseTemporaryTail(std::string_view rest, std::string* tag, TempOwner* owner);
std::string_view AfterTemporaryPrefix(std::string_view fileName, const std::string& targetName,
                                      const std::string& host);
bool IsZombie(long pid);
bool ProcessRunning(long pid);
std::vector<std::string> FolderEntries(const std::string& dir);
// The file a save of path replaces, and so the one a load of path reads: a
// symbolic link is followed to its file (whose folder is the one held).
std::string ReplacedFile(const std::string& path);
std::string InFolder(const std::string& dir, const std::string& name);
bool IsRegular(const std::string& path, struct stat* st = nullptr);
// Where a folder is synced, each a rule of the saves (a test leaves one out at a
// time, FileSystem::plantedSite, and the explorer of saved sets must find it).
enum class SyncSite {
  FileRenamed,           // a single file's rename, before the save says it is done
  TemporariesMade,       // the temporaries' entries, before a journal names them
  JournalWritten,        // a journal's entry, before the first rename it protects
  RenamesDone,           // a set's renames, before its journal goes
  RecoveryRenamesDone,   // a recovery's renames, before the journal goes
  RecoveryStopped,       // a recovery's renames so far, when it keeps its journal
  MixedRecorded,         // the record of a mixed set (a journal of version 1 written again)
  JournalDropped,        // a finished journal's removal
};
void SyncDirectory(const std::string& dir, SyncSite site);
void SyncDirectories(std::vector<std::string> dirs, SyncSite site);

// Removes the temporaries of the targets (names in dir) that processes of this
// host left and nobody holds, judged from entries, a listing of dir made while
// the folder is held; those named in kept (by a journal whose set is not yet
// finished) stay.
void RemoveStaleTemporaries(const std::string& dir, const std::vector<std::string>& targetNames,
                            const std::vector<std::string>& entries, const std::unordered_set<std::string>& kept);
// Whether the fault was planted in the file system in use (FileSystem::plantedFault).
bool Planted(PlantedFault fault);
// Counts a journal read (StorageWorkForTesting).
void CountJournalRead();
// The file system's sync of fd, counted (StorageWorkForTesting).
int SyncToDisk(int fd);
// Whether path lies in the folder SetUnsyncedFolder names (atomic_file.h): its
// files and entries are not synced.
bool Unsynced(const std::string& path);

// Whether fileName is that of a journal of a set or of a journal's temporary.
bool IsJournalName(std::string_view fileName);

// The largest set a save of this program replaces together: fitted and residual
// scans of the most scans a set holds (1000), their parameters and report, with
// room to spare. A batch of more files is refused before anything is replaced,
// and a journal naming more is none of this program's.
inline constexpr std::size_t kMaxSetFiles = 4096;

// Locks on the files a save makes (temporaries, journals and their temporaries).
// The process that makes one holds a lock on it (an open-file-description lock,
// which the system drops when the process ends, however it ends) for as long as
// it may still use it, so a file that nobody holds is left over from an ended
// process, whatever pid or host its name gives; another pid namespace, a reused
// pid or a host of the same name change nothing. On a file system that does not
// lock, the names' process and host are judged instead.
enum class OwnLock { Taken, Busy, NoLocks };
// Takes the maker's lock on fd (open for writing).
OwnLock LockOwnFile(int fd);
// Opens fd for writing as a file of its own with O_EXCL and takes its lock; -1
// with errno when it could not be made (EEXIST: the name is taken, or it was
// being looked at by another instance and is to be left: try another name).
int CreateOwnFile(const std::string& path);

// The claim of a save on the files it holds (its temporaries, and its journal's
// copies once written), owned by the save (an AtomicFile saved alone, or the
// batch of a set). Add registers a file and, for the first, stamps it now; Remove
// lets it go (renamed, removed, or left to the next load). Heartbeat is a progress
// point: the claim is refreshed when it is due. Held, asked before each rename,
// stamps one file of the claim (fd, or a journal's copy) and says whether the claim
// held throughout: false with *why, from then on, once the share's clock moved on
// by half the lapse or more since the last refresh.
enum class ClaimKind { Temporary, Journal };
class SaveClaim {
 public:
  void Add(int fd, ClaimKind kind);
  void Remove(int fd);
  void Heartbeat();
  bool Held(int fd, std::string* why);

 private:
  struct File {
    int fd;
    ClaimKind kind;
  };
  bool LapsedBy(std::time_t stamp) const;
  void Refresh();
  bool Due() const;
  std::vector<File> files_;
  std::time_t stamp_ = 0;                      // the share's time of the last refresh
  std::chrono::steady_clock::time_point steady_;  // this computer's clocks then: either one moving
  std::time_t wall_ = 0;                         // kHeartbeatPeriod on makes the next one due
  bool lapsed_ = false;
};

// The next number of a temporary's name in this process.
unsigned NextTempNumber();

// The present time of the share holding dir: the modification time the share gives
// a file made there now (made, looked at and removed at once). False when no file
// can be made there: its saves' ages cannot be measured then, and none is taken for
// ended by its age.
bool ShareNow(const std::string& dir, std::time_t* now);

class Leftover;
// Whether the save that made file (named with tag and owner) has surely ended, the
// one rule by which anything a save made is taken for left over: nobody holds it
// (a lock of either kind, shared or exclusive), and the save ran in this boot of
// this machine and its lock is gone (or, on a file system that does not lock, its
// pid no longer runs with its start), or it ran in an earlier boot, or the file
// has not had a heartbeat for kLongestSave by the share's clock (see there). A
// save of another computer is never judged by a lock, a pid or the clock of this one.
bool ProvenEnded(std::string_view tag, const TempOwner& owner, const Leftover& file);

// A file that a save of another process may have left, looked at without
// following a symbolic link and without waiting on a pipe. Only a regular file is
// opened; while it is open here, a reader's lock is held on it (unless the file
// system does not lock), so that its maker cannot take it up meanwhile: on one
// byte far beyond any file's end (kReaderMark), so that the readers of two
// instances never take each other for holders, while any other lock, shared or
// exclusive, fcntl or flock, is a holder's.
inline constexpr off_t kReaderMark = off_t(1) << 62;
class Leftover {
 public:
  enum Kind {
    Missing,     // no file of that name
    NotRegular,  // a symbolic link, a pipe, a device or a folder: never ours
    Held,        // its maker (or someone) holds it: in use
    Unheld,      // nobody holds it: left over from an ended process
    NoLocks,     // a regular file on a file system that does not lock
    Unreadable,  // cannot be looked at (error() tells why)
  };
  explicit Leftover(const std::string& path);
  ~Leftover();
  Leftover(const Leftover&) = delete;
  Leftover& operator=(const Leftover&) = delete;

  Kind kind() const { return kind_; }
  int error() const { return error_; }
  const std::string& path() const { return path_; }
  time_t modified() const { return st_.st_mtime; }
  const timespec& modifiedAt() const { return st_.st_mtim; }
  // The file's mode as looked at (its type when NotRegular).
  mode_t mode() const { return st_.st_mode; }
  // The open file (Unheld, NoLocks), or -1.
  int Descriptor() const { return fd_; }
  // Removes the file if its name still gives the file looked at; false otherwise.
  bool Remove();
  // Whether path (another name) gives the file looked at.
  bool Is(const std::string& path) const;

 private:
  std::string path_;
  Kind kind_ = Missing;
  int error_ = 0;
  int fd_ = -1;
  struct stat st_ {};
};
// What a file that is not a regular one is, in words ("a folder", "a pipe", ...).
std::string FileKindWords(mode_t mode);

// A file of a set: the target as given, its temporary, the file replaced.
struct SetFile {
  std::string path, temp, target;
};

// The journal of one set: a copy in every folder the set touches. step is called
// after each copy written and each removed.
class SetJournal {
 public:
  // claim (may be null) receives the copies written, and lets them go.
  SetJournal(const std::function<void()>& step, SaveClaim* claim) : step_(step), claim_(claim) {}
  SetJournal(const SetJournal&) = delete;
  SetJournal& operator=(const SetJournal&) = delete;

  // Writes every copy after the temporaries' folder entries are on the disk;
  // false (copies written so far removed) with "<path>: <reason>" in *error.
  bool Write(const std::vector<SetFile>& files, std::string* error);
  // Removes the copies (best effort: one left behind is finished again, which
  // changes nothing).
  void Remove();
  // Lets the copies go without removing them: a save whose renames stopped
  // partway leaves its set to the next load or save in its folders, which
  // finishes it, and until then says that its files may come from different saves.
  void Leave();

 private:
  int WriteCopy(const std::string& folder, const std::string& text);

  const std::function<void()>& step_;
  SaveClaim* claim_;
  std::string name_;
  std::vector<std::string> written_;  // folders holding a copy
  std::vector<int> fds_;              // the copies' locks, held until they are removed
};

// Takes folders and the folders of the targets a save renames (see
// folder_lock.h), with the other folders of the sets that ended saves left there,
// all in the one order; then, from one listing of each folder made under the
// locks, finishes those sets, removes what ended saves left (journal temporaries,
// and the stale temporaries of the targets), so that no replay can ever follow
// (and undo part of) this save and no temporary is judged from a listing older
// than the lock. False with the reason when another instance kept a folder, when
// a set left there that names one of the targets cannot be finished now (its later
// replay would mix its files with this save's), or when a save from another
// computer that names a target may still be running. *report (when given) receives
// one line for each journal that is not obeyed or stays unfinished.
bool HoldFolders(const std::vector<std::string>& folders, const std::vector<std::string>& targets,
                 FolderLocks* locks, std::string* why, std::string* report = nullptr);

}  // namespace save_parts
}  // namespace tarmic
