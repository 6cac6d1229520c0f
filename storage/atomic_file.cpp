#include "storage/atomic_file.h"

#include "storage/file_system.h"
#include "storage/folder_lock.h"
#include "storage/save_parts.h"
#include "text/number_token.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmic {

namespace save_parts {

std::string DirectoryPart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.size() <= 18 &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The start time of a process in clock ticks after boot (field 22 of
// /proc/<pid>/stat); 0 when unknown.
unsigned long long StartTimeOf(long pid) { return FileSystemInUse().ProcessStart(pid); }

namespace {

// 8 hex digits of an id (FNV-1a of the whole of it); empty when the id is.
std::string Hex8(const std::string& id) {
  if (id.empty()) return {};
  std::uint32_t hash = 2166136261u;
  for (const char c : id) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(hash));
  return hex;
}

// What this process is called in the names of its files, asked once per thread and
// again when the process (a child made by fork(), a process of the tests' file
// system) or the file system changes.
struct Identity {
  FileSystem* fs = nullptr;
  long pid = 0;
  std::string host;  // the host's name as it stands in names
  std::string tag;   // host, machine and boot
  std::string boot;
};
const Identity& Own() {
  thread_local Identity own;
  FileSystem& sys = FileSystemInUse();
  const long pid = sys.ProcessId();
  if (own.fs == &sys && own.pid == pid) return own;
  own.fs = &sys;
  own.pid = pid;
  own.boot = sys.BootId();
  // The host's name: letters, digits, '-' and '_' (anything else becomes '_'), at
  // most 32 characters. A longer name keeps its first 23 characters and gives the
  // rest as a hash of the whole name, so that hosts whose names differ only at the
  // end ("...-01", "...-02") keep apart.
  const std::string name = sys.HostName();
  std::string t;
  for (const char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    t.push_back(plain ? c : '_');
  }
  if (t.empty()) t = "host";
  if (t.size() > 32) t = t.substr(0, 23) + "_" + Hex8(name);
  own.host = t;
  own.tag = t;
  for (const std::string& id : {sys.MachineId(), own.boot})
    if (!id.empty()) own.tag += "." + Hex8(id);
  return own;
}

}  // namespace

const std::string& BootId() { return Own().boot; }

const std::string& HostTag() { return Own().tag; }

Origin OriginOf(std::string_view tag) {
  const std::string& own = HostTag();
  if (tag == own) return Origin::ThisBoot;
  // "<host>.<machine>.<boot>": the same host and machine, another boot. A tag
  // without a machine (none known here or there) tells nothing.
  const std::size_t boot = own.rfind('.');
  const std::size_t host = Own().host.size();
  if (boot == std::string::npos || boot < host) return Origin::Unknown;
  // The same boot id under another host name or machine id: a container on this
  // kernel (its own UTS name, another or no machine id), or this process seen from
  // one. Its locks are this kernel's, so they are seen here; its pids are not.
  // Asked whether or not either side knows a machine id.
  const std::string_view ownBoot = std::string_view(own).substr(boot);
  const std::size_t tagBoot = tag.rfind('.');
  if (!Own().boot.empty() && tagBoot != std::string_view::npos && tagBoot > 0 && tag.substr(tagBoot) == ownBoot)
    return Origin::ThisKernel;
  if (boot == host) return Origin::Unknown;  // no machine id here: an earlier boot cannot be told
  const std::string_view same(own.data(), boot + 1);
  if (tag.size() == own.size() && tag.substr(0, same.size()) == same) return Origin::EarlierBoot;
  return Origin::Unknown;
}

// The rest of a temporary's name after "<prefix><host>-": "<pid>-<start>-<n>.part",
// or "<pid>-<n>.part" as named before; false when it is of neither form.
bool ParseTemporaryRest(std::string_view rest, TempOwner* owner) {
  if (rest.size() <= kTempExtension.size() ||
      rest.substr(rest.size() - kTempExtension.size()) != kTempExtension)
    return false;
  rest.remove_suffix(kTempExtension.size());
  std::vector<std::string_view> fields;
  for (std::size_t dash; (dash = rest.find('-')) != std::string_view::npos; rest.remove_prefix(dash + 1))
    fields.push_back(rest.substr(0, dash));
  fields.push_back(rest);
  if (fields.size() < 2 || fields.size() > 3 ||
      !std::all_of(fields.begin(), fields.end(), [](std::string_view f) { return AllDigits(f); }))
    return false;
  owner->pid = static_cast<long>(WholeNumberOf(fields[0]).value_or(0));
  owner->withStart = fields.size() == 3;
  owner->start = owner->withStart ? WholeNumberOf(fields[1]).value_or(0) : 0;
  return owner->pid > 0;
}

bool ParseTemporaryTail(std::string_view rest, std::string* tag, TempOwner* owner) {
  if (rest.size() <= kTempExtension.size() || rest.substr(rest.size() - kTempExtension.size()) != kTempExtension)
    return false;
  const std::string_view core = rest.substr(0, rest.size() - kTempExtension.size());
  // The numbers after the tag: three as named now, two as named before.
  for (const int numbers : {3, 2}) {
    std::size_t dash = core.size();
    for (int k = 0; k < numbers && dash != std::string_view::npos; ++k)
      dash = dash == 0 ? std::string_view::npos : core.rfind('-', dash - 1);
    if (dash == std::string_view::npos || dash == 0) continue;
    if (ParseTemporaryRest(rest.substr(dash + 1), owner) && owner->withStart == (numbers == 3)) {
      *tag = std::string(core.substr(0, dash));
      return true;
    }
  }
  return false;
}

// The rest of fileName after the prefix of host's temporaries of targetName
// ("<prefix><host>-", either room for the name); empty when it has none.
std::string_view AfterTemporaryPrefix(std::string_view fileName, const std::string& targetName,
                                      const std::string& host) {
  for (const std::size_t room : kTargetNameRooms) {
    const std::string prefix =
        "." + targetName.substr(0, room) + std::string(kTempMark) + host + "-";
    if (fileName.size() > prefix.size() && fileName.substr(0, prefix.size()) == prefix)
      return fileName.substr(prefix.size());
  }
  return {};
}

// Whether pid runs (an ended process its parent has not waited for does not).
bool ProcessRunning(long pid) { return FileSystemInUse().ProcessRunning(pid); }

bool Planted(PlantedFault fault) { return FileSystemInUse().plantedFault == fault; }

std::atomic<unsigned long long> gListings{0}, gEntriesListed{0}, gJournalReads{0}, gSyncs{0};

void CountJournalRead() { gJournalReads.fetch_add(1); }

int SyncToDisk(int fd) {
  gSyncs.fetch_add(1);
  return FileSystemInUse().Sync(fd);
}

// Whether path (a file or a folder) lies in the unsynced folder.
bool Unsynced(const std::string& path) {
  const std::string& folder = FileSystemInUse().unsyncedFolder;
  return !folder.empty() && (path + "/").compare(0, folder.size(), folder) == 0;
}

// The names in dir (without "." and ".."); empty when it cannot be listed.
std::vector<std::string> FolderEntries(const std::string& dir) {
  std::vector<std::string> names;
  gListings.fetch_add(1);
  if (!FileSystemInUse().List(dir, &names)) return {};
  gEntriesListed.fetch_add(names.size());
  return names;
}

std::string ReplacedFile(const std::string& path) {
  struct stat st {};
  if (FileSystemInUse().LinkStat(path, &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  return FileSystemInUse().ResolvedAsFarAsItExists(path);
}

std::string InFolder(const std::string& dir, const std::string& name) {
  return dir == "/" ? dir + name : dir + "/" + name;
}

bool IsRegular(const std::string& path, struct stat* st) {
  struct stat s {};
  if (FileSystemInUse().LinkStat(path, &s) != 0 || !S_ISREG(s.st_mode)) return false;
  if (st) *st = s;
  return true;
}

// Makes the rename durable: syncs the directory entry (best effort, some file
// systems refuse fsync on a directory).
void SyncDirectory(const std::string& dir, SyncSite site) {
  if (Unsynced(dir)) return;
  if (Planted(PlantedFault::NoFolderSync) && FileSystemInUse().plantedSite == static_cast<int>(site)) return;
  gSyncs.fetch_add(1);
  FileSystemInUse().SyncFolder(dir);
}

void SyncDirectories(std::vector<std::string> dirs, SyncSite site) {
  std::sort(dirs.begin(), dirs.end());
  dirs.erase(std::unique(dirs.begin(), dirs.end()), dirs.end());
  for (const std::string& d : dirs) SyncDirectory(d, site);
}

namespace {

// A lock on the whole file, of the open file description (not of the process:
// another descriptor of this very process opened apart conflicts with it too).
int LockWhole(int fd, short type) { return FileSystemInUse().LockWhole(fd, type); }

bool IsBusy(int err) { return err == EAGAIN || err == EACCES; }

}  // namespace

OwnLock LockOwnFile(int fd) {
  if (LockWhole(fd, F_WRLCK) == 0) return OwnLock::Taken;
  return IsBusy(errno) ? OwnLock::Busy : OwnLock::NoLocks;
}

int CreateOwnFile(const std::string& path) {
  // mode 0666 lets the umask decide as it would for fopen.
  FileSystem& sys = FileSystemInUse();
  const int fd = sys.Open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return -1;
  // Between the open and the lock another instance may have found the new file
  // unheld and be removing it: the name is then left to it.
  struct stat st {};
  if (LockOwnFile(fd) == OwnLock::Busy || sys.OpenStat(fd, &st) != 0 || st.st_nlink == 0) {
    sys.Close(fd);
    errno = EEXIST;
    return -1;
  }
  return fd;
}

Leftover::Leftover(const std::string& path) : path_(path) {
  FileSystem& sys = FileSystemInUse();
  struct stat named {};
  if (sys.LinkStat(path, &named) != 0) {
    error_ = errno;
    kind_ = error_ == ENOENT ? Missing : Unreadable;
    return;
  }
  // Nothing but a regular file is opened: a device may act on an open.
  if (!S_ISREG(named.st_mode)) {
    kind_ = NotRegular;
    st_ = named;
    return;
  }
  fd_ = sys.Open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) {
    error_ = errno;
    kind_ = error_ == ENOENT ? Missing : error_ == ELOOP ? NotRegular : Unreadable;
    if (kind_ == NotRegular) st_.st_mode = S_IFLNK;
    return;
  }
  if (sys.OpenStat(fd_, &st_) != 0 || !S_ISREG(st_.st_mode) || st_.st_dev != named.st_dev ||
      st_.st_ino != named.st_ino) {
    kind_ = NotRegular;  // put in its place meanwhile
    if (S_ISREG(st_.st_mode)) st_.st_mode = S_IFLNK;
    sys.Close(fd_);
    fd_ = -1;
    return;
  }
  // A flock() of either kind, which locks of the other kind do not see, is a
  // holder's: an exclusive flock() of our own, let go at once, finds both. It is
  // asked before the reader's own lock is taken: where flock() is carried out as
  // a lock of the other kind (a network share), it would take that lock's place.
  const bool sharedSeen = !Planted(PlantedFault::SharedHoldersUnseen);
  bool held = false;
  if (sys.FileLock(fd_, (sharedSeen ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
    (void)sys.FileLock(fd_, LOCK_UN);
  else
    held = IsBusy(errno) || errno == EWOULDBLOCK;
  // The reader's own lock, on its mark: refused while the maker (or anyone) holds
  // the whole file exclusively.
  if (!held && sys.LockRange(fd_, F_RDLCK, kReaderMark, 1) != 0) {
    error_ = errno;
    if (!IsBusy(error_)) {
      kind_ = NoLocks;
      return;
    }
    held = true;
  }
  // Any other lock on the file, a shared one as well (an fcntl read lock of
  // another program), is a holder's.
  if (!held && sharedSeen) held = sys.LockHolder(fd_, 0, kReaderMark) > 0;
  kind_ = held ? Held : Unheld;
  if (held) {
    sys.Close(fd_);
    fd_ = -1;
  }
}

Leftover::~Leftover() {
  if (fd_ >= 0) FileSystemInUse().Close(fd_);
}

bool Leftover::Is(const std::string& path) const {
  struct stat now {};
  return fd_ >= 0 && FileSystemInUse().LinkStat(path, &now) == 0 && now.st_dev == st_.st_dev &&
         now.st_ino == st_.st_ino;
}

bool Leftover::Remove() { return Is(path_) && FileSystemInUse().Unlink(path_) == 0; }

std::string FileKindWords(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "a symbolic link, a pipe or a device";
}

}  // namespace save_parts

using namespace save_parts;

namespace {

std::atomic<unsigned> gTempCounter{0};
std::atomic<SaveStepHook> gStepHook{nullptr};
thread_local AtomicFileBatch* tBatch = nullptr;
// "<path>: <reason>" of the latest failure of an atomic write on this thread.
thread_local std::string tLastFailure;

void NoteFailureReason(const std::string& reason) { tLastFailure = reason; }

// This process's start as StartTimeOf gives it; asked again in a child made by fork().
unsigned long long OwnStart() {
  static std::atomic<long> cachedPid{0};
  static std::atomic<unsigned long long> cachedStart{0};
  const long pid = FileSystemInUse().ProcessId();
  if (cachedPid.load() != pid) {
    cachedStart.store(StartTimeOf(pid));
    cachedPid.store(pid);
  }
  return cachedStart.load();
}

// The wall-clock time at which process pid started; 0 when unknown.
std::time_t StartedAt(long pid) { return FileSystemInUse().ProcessStartedAt(pid); }

// "." + the target's name (cut to the room left) + ".tmp-": what every temporary of
// the target begins with.
std::string TempPrefix(const std::string& targetName) {
  return "." + targetName.substr(0, kTargetNameRoom) + std::string(kTempMark);
}

// "<name>.tmp<pid>_<n>", the name earlier versions gave their temporaries: the pid,
// or 0 when fileName is none of name's.
long PidOfOldTemporary(std::string_view fileName, std::string_view targetName) {
  const std::string prefix = std::string(targetName) + ".tmp";
  if (fileName.size() <= prefix.size() || fileName.substr(0, prefix.size()) != prefix) return 0;
  const std::string_view rest = fileName.substr(prefix.size());
  const std::size_t underscore = rest.find('_');
  if (underscore == std::string_view::npos) return 0;
  const std::string_view pid = rest.substr(0, underscore), n = rest.substr(underscore + 1);
  if (!AllDigits(pid) || !AllDigits(n)) return 0;
  return static_cast<long>(WholeNumberOf(pid).value_or(0));
}

// Whether the process that wrote a temporary (last changed at modified) may still
// be writing it: its pid runs, and it is the same process. A temporary that carries
// the start must carry that of the process now running with its pid; one named
// before temporaries carried it must be younger than that process. So a temporary
// of an earlier run that had this very pid (a container starts the program with the
// same pid every time) is seen to be stale.
bool TemporaryMayBeWritten(const TempOwner& owner, std::time_t modified) {
  if (!ProcessRunning(owner.pid)) return false;
  if (owner.withStart) {
    const unsigned long long start =
        owner.pid == FileSystemInUse().ProcessId() ? OwnStart() : StartTimeOf(owner.pid);
    return owner.start == 0 || start == 0 || start == owner.start;
  }
  // A minute's allowance for clocks of a shared folder's server.
  const std::time_t started = StartedAt(owner.pid);
  return started == 0 || modified + 60 >= started;
}

// A descriptor for the stream beside the one holding the lock; when the
// descriptors run out (a set of thousands of files holds one per temporary), the
// limit is raised to what the system allows and the call is tried again.
int StreamDescriptor(int fd) { return FileSystemInUse().Duplicate(fd); }

// The stream a writer writes the temporary through: its bytes go to the
// descriptor through the file system in use, and closing it closes the descriptor.
ssize_t StreamWrite(void* cookie, const char* data, std::size_t size) {
  const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(cookie));
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = FileSystemInUse().Write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return done > 0 ? static_cast<ssize_t>(done) : -1;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(size);
}
int StreamClose(void* cookie) {
  return FileSystemInUse().Close(static_cast<int>(reinterpret_cast<std::intptr_t>(cookie)));
}
std::FILE* OpenStream(int fd) {
  cookie_io_functions_t io{};
  io.write = StreamWrite;
  io.close = StreamClose;
  return ::fopencookie(reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)), "w", io);
}

// Whether path still gives the file open at fd: a save renames and removes only
// the temporary it made, never what was put in its place.
bool StillOurs(const std::string& path, int fd) {
  struct stat mine {}, named {};
  return fd >= 0 && FileSystemInUse().OpenStat(fd, &mine) == 0 && FileSystemInUse().LinkStat(path, &named) == 0 &&
         mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

}  // namespace

namespace save_parts {

unsigned NextTempNumber() { return gTempCounter.fetch_add(1); }

bool ProvenEnded(std::string_view tag, const TempOwner& owner, const Leftover& file) {
  switch (file.kind()) {
    case Leftover::Unheld:
    case Leftover::NoLocks:
      break;
    default:
      return false;  // held, gone, not a regular file, or not to be looked at
  }
  switch (OriginOf(tag)) {
    case Origin::ThisBoot:
      // Its maker's lock is seen here; named before temporaries carried the start,
      // or on a file system that does not lock, its process is judged.
      if (file.kind() == Leftover::Unheld && owner.withStart) return true;
      return !TemporaryMayBeWritten(owner, file.modified());
    case Origin::EarlierBoot:
      return true;
    case Origin::ThisKernel:
      // Its lock would be seen here: gone means ended. On a file system that does
      // not lock, its pid is another namespace's: only its heartbeat tells.
      if (file.kind() == Leftover::Unheld) return true;
      break;
    case Origin::Unknown:
      break;
  }
  // Its heartbeat, by the share's clock: the time a file made beside it receives
  // now, not this computer's clock, which may stand an hour off the share's. The
  // bound is widened by the difference of the two clocks, as a save may stamp its
  // files by its own computer's clock (a share that takes the client's times).
  const std::time_t longest = Planted(PlantedFault::LongestSaveASecond) ? 1 : kLongestSave;
  const std::time_t own = FileSystemInUse().WallTime();
  if (Planted(PlantedFault::AgeByOwnClock)) return own - file.modified() >= longest;
  std::time_t share = 0;
  if (!ShareNow(DirectoryPart(file.path()), &share)) return false;
  const std::time_t apart = share > own ? share - own : own - share;
  return share - file.modified() >= longest + apart;
}

// The temporaries of the targets (and of every other file) that saves left and
// that have surely ended (ProvenEnded) go; those of running saves, in whatever pid
// namespace, boot or computer, stay, as do those a journal names. Best effort:
// what cannot be removed stays, and what is not a regular file is never touched.
// Each entry is looked at once, whatever the number of targets.
void RemoveStaleTemporaries(const std::string& dir, const std::vector<std::string>& targetNames,
                            const std::vector<std::string>& entries, const std::unordered_set<std::string>& kept) {
  // ".<name cut to any room>" of each target: what its temporaries begin with.
  std::unordered_set<std::string> heads;
  const std::unordered_set<std::string> names(targetNames.begin(), targetNames.end());
  for (const std::string& name : names)
    for (const std::size_t room : kTargetNameRooms) heads.insert("." + name.substr(0, room));
  for (const std::string& entryName : entries) {
    const std::string_view entry(entryName);
    TempOwner owner;
    std::string tag;  // empty: named before temporaries carried a host
    const std::size_t mark = entry.rfind(kTempMark);
    const bool named = mark != std::string_view::npos && heads.count(std::string(entry.substr(0, mark))) &&
                       ParseTemporaryTail(entry.substr(mark + kTempMark.size()), &tag, &owner);
    if (!named) {
      const std::size_t old = entry.rfind(".tmp");
      if (old == std::string_view::npos || old == 0 || !names.count(std::string(entry.substr(0, old))) ||
          (owner.pid = PidOfOldTemporary(entry, entry.substr(0, old))) == 0)
        continue;
    }
    if (kept.count(entryName)) continue;
    Leftover file(InFolder(dir, entryName));
    const bool ended = Planted(PlantedFault::SweepByLock)
                           ? file.kind() == Leftover::Unheld && tag.rfind(Own().host, 0) == 0
                           : ProvenEnded(tag, owner, file);
    if (ended) (void)file.Remove();
  }
}

}  // namespace save_parts

std::string SystemReason(const std::string& path, int err) {
  return path + ": " + std::strerror(err);
}

std::string SaveFailureReason(const std::string& path) {
  const std::string head = path + ": ";
  return tLastFailure.compare(0, head.size(), head) == 0 ? tLastFailure : std::string();
}

std::string WithReason(const std::string& message, const std::string& reason) {
  if (reason.empty()) return message;
  // "<...>\n<path>" becomes "<...>\n<path>: <reason>".
  const std::size_t lineStart = message.rfind('\n');
  const std::string lastLine = lineStart == std::string::npos ? message : message.substr(lineStart + 1);
  if (!lastLine.empty() && reason.compare(0, lastLine.size() + 2, lastLine + ": ") == 0)
    return message.substr(0, message.size() - lastLine.size()) + reason;
  return message + "\n" + reason;
}

void SetSaveStepHookForTesting(SaveStepHook hook) { gStepHook.store(hook); }

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)), target_(path_) {
  if (path_.empty()) {
    error_ = "(no file name): " + std::string(std::strerror(ENOENT));
    return;
  }
  // A symbolic link keeps pointing at its file: the file it names is replaced.
  target_ = ReplacedFile(path_);
  // A set larger than one save replaces together is refused at its first file too
  // many, before that file's temporary is written.
  if (tBatch && tBatch->FilesInSet() >= kMaxSetFiles) {
    error_ = path_ + ": a set of more than " + std::to_string(kMaxSetFiles) +
             " files is more than one save replaces together";
    NoteFailureReason(error_);
    return;
  }
  FileSystem& sys = FileSystemInUse();
  struct stat old {};
  const bool exists = sys.Stat(target_, &old) == 0;
  // A write-protected file stays protected, as it would against fopen "w".
  if (exists && sys.Access(target_, W_OK) != 0) {
    Fail(errno);
    return;
  }

  // The folder is not looked at here: sets that ended saves left and the stale
  // temporaries of the target are dealt with at the commit, while the folder is
  // held, from a listing made then (HoldFolders).
  // O_EXCL on a name of our own making: no other file is ever opened by mistake.
  // The temporary is held (locked) from its making until it is renamed or removed.
  int fd = -1;
  int err = 0;
  const std::string dir = DirectoryPart(target_);
  const std::string prefix = (dir == "/" ? dir : dir + "/") + TempPrefix(NamePart(target_)) +
                             HostTag() + "-" + std::to_string(sys.ProcessId()) + "-" +
                             std::to_string(OwnStart()) + "-";
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp_ = prefix + std::to_string(gTempCounter.fetch_add(1)) + std::string(kTempExtension);
    fd = CreateOwnFile(temp_);
    err = errno;
    if (fd < 0 && err != EEXIST) break;
  }
  if (fd < 0) {
    temp_.clear();
    Fail(err);
    return;
  }
  lockFd_ = fd;
  claim_ = std::make_unique<SaveClaim>();
  claim_->Add(fd, ClaimKind::Temporary);
  if (tBatch) tBatch->Check(path_, true);  // a file of a set made: a progress point
  if (exists) (void)sys.FileMode(fd, old.st_mode & 07777);  // the replacement keeps its mode
  const int streamFd = StreamDescriptor(fd);
  // On the system's own file system the stream is a plain one (callers reserve its
  // room through its descriptor); on another, its bytes go through that file system.
  file_ = streamFd < 0 ? nullptr : &sys == &PosixFileSystem() ? ::fdopen(streamFd, "w") : OpenStream(streamFd);
  if (!file_) {
    err = errno;
    if (streamFd >= 0) sys.Close(streamFd);
    Discard();
    Fail(err);
  }
}

AtomicFile::~AtomicFile() {
  NoteStreamFailure();
  if (!handedOver_ && tBatch) tBatch->NoteFailure(path_, error_);
  Discard();
}

void AtomicFile::NoteStreamFailure() {
  // A writer that stopped at a failed write leaves the stream's error flag. A fresh
  // flush tells the reason when bytes were still waiting; when the failed write
  // had dropped them, errno as the writer left it (it stops right after the
  // failure) holds the reason.
  if (handedOver_ || !file_ || !error_.empty()) return;
  const int left = errno;
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) Fail(errno != 0 ? errno : left != 0 ? left : EIO);
}

void AtomicFile::Fail(int err) {
  error_ = SystemReason(path_, err);
  NoteFailureReason(error_);
}

void AtomicFile::Discard() {
  NoteStreamFailure();
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_.empty()) {
    if (StillOurs(temp_, lockFd_)) FileSystemInUse().Unlink(temp_);
    temp_.clear();
  }
  if (lockFd_ >= 0) {
    if (claim_) claim_->Remove(lockFd_);
    FileSystemInUse().Close(lockFd_);
    lockFd_ = -1;
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
  if (!Unsynced(target_) && !Planted(PlantedFault::NoFileSync) && SyncToDisk(lockFd_) != 0 && errno != EINVAL &&
      errno != EROFS) {
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
    if (FileSystemInUse().Stat(target_, &st) == 0 && S_ISDIR(st.st_mode)) {
      Discard();
      Fail(EISDIR);
      return false;
    }
    batch->Take(path_, temp_, target_, lockFd_, std::move(onReplaced_));
    handedOver_ = true;
    temp_.clear();
    lockFd_ = -1;
    error_.clear();
    return true;
  }
  std::string why;
  FolderLocks locks;
  if (!HoldFolders({}, {target_}, &locks, &why, &folderReport_)) {
    Discard();
    // The reason names the file already when it is the file that is held up.
    error_ = why.rfind(target_ + ": ", 0) == 0 ? why : path_ + ": " + why;
    NoteFailureReason(error_);
    return false;
  }
  TellWhenDone(InterruptedSaveNote(folderReport_));
  // A save held up past its claim's lapse (another computer may have swept its
  // temporary meanwhile) replaces nothing.
  if (std::string lapse; !claim_->Held(lockFd_, &lapse)) {
    Discard();
    error_ = path_ + ": " + lapse + "; the file is left as it was";
    NoteFailureReason(error_);
    return false;
  }
  if (!StillOurs(temp_, lockFd_)) {
    Discard();
    error_ = path_ + ": its new content was replaced by another file before it was saved; the file is left as it was";
    NoteFailureReason(error_);
    return false;
  }
  if (FileSystemInUse().Rename(temp_, target_) != 0) {
    const int err = errno;
    Discard();
    Fail(err);
    return false;
  }
  temp_.clear();
  claim_->Remove(lockFd_);
  FileSystemInUse().Close(lockFd_);
  lockFd_ = -1;
  handedOver_ = true;
  SyncDirectory(DirectoryPart(target_), SyncSite::FileRenamed);
  error_.clear();
  if (onReplaced_) onReplaced_();
  return true;
}

AtomicFileBatch::AtomicFileBatch() : claim_(std::make_unique<SaveClaim>()), outer_(tBatch) { tBatch = this; }

AtomicFileBatch::~AtomicFileBatch() { Discard(); }

AtomicFileBatch* AtomicFileBatch::Current() { return tBatch; }

void AtomicFileBatch::Check(const std::string& path, bool written) {
  claim_->Heartbeat();  // a file of the set written: a progress point
  if (!written && (failed_.empty() || failed_.back() != path)) NoteFailure(path, SaveFailureReason(path));
}

void AtomicFileBatch::Take(std::string path, std::string temp, std::string target, int lockFd,
                           std::function<void()> onReplaced) {
  claim_->Add(lockFd, ClaimKind::Temporary);
  pending_.push_back(
      Pending{std::move(path), std::move(temp), std::move(target), lockFd, std::move(onReplaced)});
}

void AtomicFileBatch::Drop(Pending& p) {
  if (StillOurs(p.temp, p.lockFd)) FileSystemInUse().Unlink(p.temp);
  if (p.lockFd >= 0) {
    claim_->Remove(p.lockFd);
    FileSystemInUse().Close(p.lockFd);
  }
  p.lockFd = -1;
}

std::size_t AtomicFileBatch::FilesInSet() const {
  std::size_t n = 0;
  for (const AtomicFileBatch* b = this; b; b = b->outer_) n += b->pending_.size();
  return n;
}

void SetUnsyncedFolder(const std::string& folder) {
  FileSystemInUse().unsyncedFolder = folder.empty() || folder.ends_with('/') ? folder : folder + "/";
}

StorageWork StorageWorkForTesting() {
  return {gListings.load(), gEntriesListed.load(), gJournalReads.load(), gSyncs.load()};
}

std::vector<std::pair<std::string, std::string>> AtomicFileBatch::Written() const {
  std::vector<std::pair<std::string, std::string>> files;
  for (const Pending& p : pending_) files.emplace_back(p.path, p.temp);
  return files;
}

bool AtomicFileBatch::AnyInPlace(const std::vector<Pending>& pending) {
  FileSystem& sys = FileSystemInUse();
  return std::any_of(pending.begin(), pending.end(), [&](const Pending& p) {
    struct stat mine {}, there {};
    return p.lockFd >= 0 && sys.OpenStat(p.lockFd, &mine) == 0 && sys.Stat(p.target, &there) == 0 &&
           mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
  });
}

bool AtomicFileBatch::Commit() {
  if (tBatch == this) tBatch = outer_;
  if (outer_) {
    // Part of a larger set: the outer batch replaces the targets with its own, and a
    // file this batch could not write leaves the larger set incomplete as well.
    for (std::size_t k = 0; k < failed_.size(); ++k) outer_->NoteFailure(failed_[k], failedWhy_[k]);
    const bool whole = failed_.empty();
    for (Pending& p : pending_) {
      claim_->Remove(p.lockFd);
      outer_->claim_->Add(p.lockFd, ClaimKind::Temporary);
      outer_->pending_.push_back(std::move(p));
    }
    pending_.clear();
    outer_ = nullptr;
    return whole;
  }
  std::vector<Pending> pending = std::move(pending_);
  pending_.clear();
  // Every temporary not renamed is removed, and every lock let go, however this ends.
  struct DropAll {
    AtomicFileBatch* self;
    std::vector<Pending>& files;
    ~DropAll() {
      for (Pending& p : files) self->Drop(p);
    }
  } dropAll{this, pending};
  auto replaceNone = [&](std::string why) {
    error_ = std::move(why);
    NoteFailureReason(error_);
    for (Pending& p : pending) {
      Drop(p);
      notReplaced_.push_back(p.path);
    }
    return false;
  };
  // A journal names at most a set of this size; a larger one would never be finished.
  if (pending.size() > kMaxSetFiles)
    return replaceNone(pending.front().path + ": a set of " + std::to_string(pending.size()) +
                       " files is more than one save replaces together (at most " +
                       std::to_string(kMaxSetFiles) + ")");
  int stepCount = 0;
  const SaveStepHook hook = gStepHook.load();
  const std::function<void()> step = [&] {
    if (hook) hook(stepCount);
    ++stepCount;
  };
  step();
  // The renames of another instance's save in these folders are not mixed with
  // these, and a set an ended save left there is finished before.
  std::vector<std::string> targets;
  for (const Pending& p : pending) targets.push_back(p.target);
  FolderLocks locks;
  std::string held;
  // The reason names the folder that was busy or the file held up, not the first file.
  if (!pending.empty() && !HoldFolders({}, targets, &locks, &held, &folderReport_)) return replaceNone(held);
  TellWhenDone(InterruptedSaveNote(folderReport_));
  // A save held up past its claim's lapse (another computer may have swept its
  // temporaries meanwhile) replaces nothing; so before each rename below.
  if (std::string lapse; !pending.empty() && !claim_->Held(pending.front().lockFd, &lapse))
    return replaceNone(pending.front().path + ": " + lapse);
  // Only what this save made is renamed: a temporary replaced meanwhile by another
  // file (a link to elsewhere) is found before any target is touched.
  for (const Pending& p : pending)
    if (!StillOurs(p.temp, p.lockFd))
      return replaceNone(p.path + ": its new content was replaced by another file before it was saved; "
                         "none of the set was replaced");
  // One rename replaces one file whole; two or more are written down first, so
  // that a program ended among them leaves a set that the next save or load in
  // its folders finishes.
  SetJournal journal(step, claim_.get());
  std::vector<SetFile> files;
  for (const Pending& p : pending) files.push_back(SetFile{p.path, p.temp, p.target});
  std::string journalError;
  if (pending.size() > 1 && !journal.Write(files, &journalError)) return replaceNone(journalError);
  bool ok = true;
  bool leave = false;  // the set is left to its journal (see below)
  std::size_t renamed = 0;
  std::vector<std::string> dirs;
  for (Pending& p : pending) {
    std::string lapse;
    bool heldUp = ok && !claim_->Held(p.lockFd, &lapse);
    if (ok && !heldUp && FileSystemInUse().Rename(p.temp, p.target) == 0) {
      step();
      ++renamed;
      claim_->Remove(p.lockFd);  // its file is the target now: stamped no more
      dirs.push_back(DirectoryPart(p.target));
      if (p.onReplaced) p.onReplaced();
      p.temp.clear();  // renamed: nothing of that name to remove
      continue;
    }
    if (ok) {
      const int err = errno;
      // A temporary gone from under its rename: held up past the claim's lapse
      // just before it (the check above came first).
      if (!heldUp && err == ENOENT) heldUp = !claim_->Held(p.lockFd, &lapse);
      // Once some files of the set are replaced, the rest stay with the journal,
      // which finishes the set when it can be (a file made writable again, a
      // folder moved back); otherwise nothing is replaced and they go. A save held
      // up past its claim's lapse whose new content another computer has begun
      // to rename into place removes nothing either: that computer is finishing
      // the set from the journal, and a temporary removed under it would mix the
      // set. Where none of it is in place (its temporaries kept, or swept), all
      // goes and the set stays as it was: a journal naming swept temporaries
      // could never be finished.
      leave = renamed > 0 || (heldUp && pending.size() > 1 && AnyInPlace(pending));
      error_ = heldUp ? p.path + ": " + lapse : SystemReason(p.path, err);
      if (heldUp && leave)
        error_ += "; its journal and new content are left for the next load or save in its folders, which "
                  "finishes the set (another computer may have finished it already)";
      NoteFailureReason(error_);
    }
    ok = false;
    if (leave) {
      claim_->Remove(p.lockFd);
      FileSystemInUse().Close(p.lockFd);
      p.lockFd = -1;
      p.temp.clear();
    } else {
      Drop(p);
    }
    notReplaced_.push_back(p.path);
  }
  if (!Planted(PlantedFault::NoSyncBeforeJournalGoes)) SyncDirectories(dirs, SyncSite::RenamesDone);
  if (!ok && leave) {
    journal.Leave();
    leftPartway_ = renamed > 0;
  } else {
    journal.Remove();
  }
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
  std::string report = "could not replace:" + lines(notReplaced_) + "\n" + error_;
  if (leftPartway_)
    report += "\nthe files of the set before it were replaced: the set is finished at the next load or save in "
              "its folders once that file can be replaced, and until then its files may come from different saves";
  return report;
}

void AtomicFileBatch::Discard() {
  if (tBatch == this) tBatch = outer_;
  // The set this one belongs to cannot be whole either.
  if (outer_)
    for (std::size_t k = 0; k < failed_.size(); ++k) outer_->NoteFailure(failed_[k], failedWhy_[k]);
  outer_ = nullptr;
  for (Pending& p : pending_) {
    Drop(p);
    notReplaced_.push_back(p.path);
  }
  pending_.clear();
}

bool IsSaveTemporaryName(const std::string& fileName) {
  const std::string_view name(fileName);
  if (IsJournalName(name)) return true;
  // ".<target>.tmp-<host>-<pid>-<start>-<n>.part" (before: "-<pid>-<n>.part")
  const std::size_t mark = name.rfind(kTempMark);
  if (!name.empty() && name[0] == '.' && mark != std::string_view::npos && mark > 0) {
    std::string_view rest = name.substr(mark + kTempMark.size());
    // The host is everything up to the dash before the last two numbers.
    if (rest.size() > kTempExtension.size()) {
      const std::string_view core = rest.substr(0, rest.size() - kTempExtension.size());
      const std::size_t last = core.rfind('-');
      const std::size_t beforePid = last == std::string_view::npos || last == 0
                                        ? std::string_view::npos
                                        : core.rfind('-', last - 1);
      TempOwner temp;
      if (beforePid != std::string_view::npos && ParseTemporaryRest(rest.substr(beforePid + 1), &temp))
        return true;
    }
  }
  // "<target>.tmp<pid>_<n>"
  const std::size_t old = name.rfind(".tmp");
  return old != std::string_view::npos && old > 0 &&
         PidOfOldTemporary(name, name.substr(0, old)) > 0;
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
      // The writer's own failure: the stream's reason when it has one.
      file.Discard();
      const std::string why = file.Error().empty() ? SystemReason(path, EIO) : file.Error();
      NoteFailureReason(why);
      if (error) *error = why;
      return false;
    }
  }
  if (!ok && error) *error = file.Error();
  return ok;
}

bool AppendToFile(const std::string& path, const std::string& text, bool startAnew, std::string* error) {
  FileSystem& sys = FileSystemInUse();
  auto failed = [&](const std::string& why) {
    NoteFailureReason(why);
    if (error) *error = why;
    return false;
  };
  struct stat there {};
  if (sys.LinkStat(path, &there) == 0 && !S_ISREG(there.st_mode))
    return failed(path + ": is " + save_parts::FileKindWords(there.st_mode) + ", not a file");
  if (startAnew) return WriteTextFileAtomically(path, text, error);
  // O_NONBLOCK: a pipe in the log's place is refused below, not waited on.
  const int fd = sys.Open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) return failed(SystemReason(path, errno));
  struct stat st {};
  if (sys.OpenStat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno;
    sys.Close(fd);
    return failed(S_ISREG(st.st_mode) || st.st_mode == 0 ? SystemReason(path, err)
                                                         : path + ": is " + save_parts::FileKindWords(st.st_mode) +
                                                               ", not a file");
  }
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = sys.Write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n == 0 ? ENOSPC : errno;
      sys.Close(fd);
      return failed(SystemReason(path, err));
    }
    done += static_cast<std::size_t>(n);
  }
  if (sys.Close(fd) != 0) return failed(SystemReason(path, errno));
  return true;
}

bool CopyFileAtomically(const std::string& from, const std::string& to, std::string* error,
                        std::function<void()> onReplaced) {
  FileSystem& sys = FileSystemInUse();
  auto failed = [&](const std::string& why) {
    NoteFailureReason(why);
    if (error) *error = why;
    return false;
  };
  // O_NONBLOCK: a pipe in from's place is refused below, not waited on.
  const int source = sys.Open(from, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (source < 0) return failed(SystemReason(from, errno));
  struct SourceCloser {
    FileSystem& sys;
    int fd;
    ~SourceCloser() { sys.Close(fd); }
  } closer{sys, source};
  struct stat st {};
  if (sys.OpenStat(source, &st) != 0) return failed(SystemReason(from, errno));
  if (!S_ISREG(st.st_mode)) return failed(from + ": is " + save_parts::FileKindWords(st.st_mode) + ", not a file");

  AtomicFile copy(to);
  if (!copy.IsOpen()) return failed(copy.Error());
  std::vector<char> buffer(1 << 16);
  for (off_t at = 0;;) {
    const ssize_t got = sys.ReadAt(source, buffer.data(), buffer.size(), at);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      copy.Discard();
      return failed(SystemReason(from, err));
    }
    if (got == 0) break;
    if (std::fwrite(buffer.data(), 1, static_cast<std::size_t>(got), copy.File()) != static_cast<std::size_t>(got))
      break;  // the commit below fails with the stream's reason
    at += got;
  }
  if (onReplaced) copy.OnReplaced(std::move(onReplaced));
  if (!copy.Commit()) return failed(copy.Error());
  return true;
}

bool WriteTextFileAtomically(const std::string& path, const std::string& text,
                             std::string* error) {
  return WriteFileAtomically(
      path,
      [&text](std::FILE* f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); },
      error);
}

}  // namespace tarmic
