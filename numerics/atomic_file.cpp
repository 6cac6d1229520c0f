#include "numerics/atomic_file.h"

#include "numerics/folder_lock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmic {

namespace {

std::atomic<unsigned> gTempCounter{0};
std::atomic<unsigned> gJournalCounter{0};
std::atomic<SaveStepHook> gStepHook{nullptr};
std::atomic<SaveStepHook> gRecoveryHook{nullptr};
thread_local AtomicFileBatch* tBatch = nullptr;
// "<path>: <reason>" of the latest failure of an atomic write on this thread.
thread_local std::string tLastFailure;

void NoteFailureReason(const std::string& reason) { tLastFailure = reason; }

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
unsigned long long StartTimeOf(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) return 0;
  // The command name (field 2) may hold spaces and parentheses: the fields after
  // it begin behind the last ')'.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(text.substr(close + 1));
  std::string field;
  for (int k = 3; k <= 22; ++k)
    if (!(rest >> field)) return 0;
  return AllDigits(field) ? std::stoull(field) : 0;
}

const std::string& BootId() {
  static const std::string id = [] {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string line;
    std::getline(in, line);
    return line.find_first_of(" \t\r") != std::string::npos ? std::string() : line;
  }();
  return id;
}

// This process's start as StartTimeOf gives it; asked again in a child made by fork().
unsigned long long OwnStart() {
  static std::atomic<long> cachedPid{0};
  static std::atomic<unsigned long long> cachedStart{0};
  const long pid = static_cast<long>(::getpid());
  if (cachedPid.load() != pid) {
    cachedStart.store(StartTimeOf(pid));
    cachedPid.store(pid);
  }
  return cachedStart.load();
}

// The wall-clock time at which process pid started; 0 when unknown.
std::time_t StartedAt(long pid) {
  const unsigned long long ticks = StartTimeOf(pid);
  const long perSecond = ::sysconf(_SC_CLK_TCK);
  if (ticks == 0 || perSecond <= 0) return 0;
  std::ifstream in("/proc/stat");
  std::string key;
  long long boot = 0;
  while (in >> key)
    if (key == "btime" && (in >> boot)) break;
  return boot > 0 ? static_cast<std::time_t>(boot + static_cast<long long>(ticks / perSecond)) : 0;
}

constexpr std::string_view kTempMark = ".tmp-";
constexpr std::string_view kTempExtension = ".part";
// Room left in a file name (at most 255 bytes) for the target's name: the rest
// takes the mark, the host (at most 32 characters), pid, start, counter and
// extension. Temporaries named before they carried the start left 180.
constexpr std::size_t kTargetNameRoom = 170;
constexpr std::size_t kTargetNameRoomBefore = 180;

// This host's name as it stands in temporary names: letters, digits, '-' and '_'
// (anything else becomes '_'), at most 32 characters.
const std::string& HostTag() {
  static const std::string tag = [] {
    char name[256] = "";
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::string("host");
    std::string t;
    for (const char* c = name; *c && t.size() < 32; ++c) {
      const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                         (*c >= '0' && *c <= '9') || *c == '-';
      t.push_back(plain ? *c : '_');
    }
    return t;
  }();
  return tag;
}

// "." + the target's name (cut to the room left) + ".tmp-": what every temporary of
// the target begins with.
std::string TempPrefix(const std::string& targetName) {
  return "." + targetName.substr(0, kTargetNameRoom) + std::string(kTempMark);
}

// The process that wrote a temporary, as its name tells it.
struct TempOwner {
  long pid = 0;
  unsigned long long start = 0;
  bool withStart = false;  // named before temporaries carried the start: no start
};

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
  owner->pid = std::stol(std::string(fields[0]));
  owner->withStart = fields.size() == 3;
  owner->start = owner->withStart ? std::stoull(std::string(fields[1])) : 0;
  return owner->pid > 0;
}

// The rest of fileName after the prefix of host's temporaries of targetName
// ("<prefix><host>-", either room for the name); empty when it has none.
std::string_view AfterTemporaryPrefix(std::string_view fileName, const std::string& targetName,
                                      const std::string& host) {
  for (const std::size_t room : {kTargetNameRoom, kTargetNameRoomBefore}) {
    const std::string prefix =
        "." + targetName.substr(0, room) + std::string(kTempMark) + host + "-";
    if (fileName.size() > prefix.size() && fileName.substr(0, prefix.size()) == prefix)
      return fileName.substr(prefix.size());
  }
  return {};
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
  return std::stol(std::string(pid));
}

// Whether pid is a process that has ended but was not yet waited for by its parent.
bool IsZombie(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) return false;
  const std::size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() &&
         (text[close + 2] == 'Z' || text[close + 2] == 'X');
}

// Whether pid runs (an ended process its parent has not waited for does not).
bool ProcessRunning(long pid) {
  if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
  return (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) && !IsZombie(pid);
}

// The names in dir (without "." and ".."); empty when it cannot be listed.
std::vector<std::string> FolderEntries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view entry(e->d_name);
    if (entry != "." && entry != "..") names.emplace_back(entry);
  }
  ::closedir(d);
  return names;
}

std::string InFolder(const std::string& dir, const std::string& name) {
  return dir == "/" ? dir + name : dir + "/" + name;
}

bool IsRegular(const std::string& path, struct stat* st = nullptr) {
  struct stat s {};
  if (::lstat(path.c_str(), &s) != 0 || !S_ISREG(s.st_mode)) return false;
  if (st) *st = s;
  return true;
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
        owner.pid == static_cast<long>(::getpid()) ? OwnStart() : StartTimeOf(owner.pid);
    return owner.start == 0 || start == 0 || start == owner.start;
  }
  // A minute's allowance for clocks of a shared folder's server.
  const std::time_t started = StartedAt(owner.pid);
  return started == 0 || modified + 60 >= started;
}

// Removes the temporaries of target that a process of this host left behind and
// that is no longer running; a running one (another instance, or this one) keeps
// its temporaries. Best effort: what cannot be removed stays.
void RemoveStaleTemporaries(const std::string& target, const std::vector<std::string>& entries) {
  const std::string dir = DirectoryPart(target);
  const std::string name = NamePart(target);
  for (const std::string& entryName : entries) {
    const std::string_view entry(entryName);
    TempOwner owner;
    const std::string_view rest = AfterTemporaryPrefix(entry, name, HostTag());
    const bool hostKnown = !rest.empty();
    if (hostKnown ? !ParseTemporaryRest(rest, &owner) : (owner.pid = PidOfOldTemporary(entry, name)) == 0)
      continue;
    const std::string path = InFolder(dir, entryName);
    struct stat st {};
    if (!IsRegular(path, &st) || TemporaryMayBeWritten(owner, st.st_mtime)) continue;
    // The older names carry no host: in a folder shared over the network their pid
    // may be a save running on another machine, so only those no save could still
    // be writing (untouched for an hour) go.
    if (!hostKnown && std::time(nullptr) - st.st_mtime < 3600) continue;
    (void)::unlink(path.c_str());
  }
}

// Makes the rename durable: syncs the directory entry (best effort, some file
// systems refuse fsync on a directory).
void SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

void SyncDirectories(std::vector<std::string> dirs) {
  std::sort(dirs.begin(), dirs.end());
  dirs.erase(std::unique(dirs.begin(), dirs.end()), dirs.end());
  for (const std::string& d : dirs) SyncDirectory(d);
}

// ------------------------------------------------------------ journals of sets

constexpr std::string_view kJournalPrefix = ".tarmic-save-";
constexpr std::string_view kJournalExtension = ".journal";
constexpr std::string_view kJournalTempExtension = ".journal.part";
constexpr std::string_view kJournalHeader = "tarmic save journal 1";
// A journal is a few lines per file of the set; anything larger is none of ours.
constexpr off_t kJournalMaxBytes = 4 << 20;

// The process that wrote a journal, as its name tells it.
struct JournalOwner {
  std::string host;
  long pid = 0;
  unsigned long long start = 0;
};

// Splits "<host>-<pid>-<start>-<n>"; false when the text is not of that form.
bool ParseOwner(std::string_view id, JournalOwner* owner) {
  std::string_view fields[3];
  for (int k = 2; k >= 0; --k) {
    const std::size_t dash = id.rfind('-');
    if (dash == std::string_view::npos || dash == 0) return false;
    fields[k] = id.substr(dash + 1);
    if (!AllDigits(fields[k])) return false;
    id = id.substr(0, dash);
  }
  owner->host = std::string(id);
  owner->pid = std::stol(std::string(fields[0]));
  owner->start = std::stoull(std::string(fields[1]));
  return owner->pid > 0;
}

// The owner of a journal (kind = kJournalExtension) or of its temporary (kind =
// kJournalTempExtension) named fileName; false when the name is neither.
bool JournalOwnerOf(std::string_view fileName, std::string_view kind, JournalOwner* owner) {
  if (fileName.size() <= kJournalPrefix.size() + kind.size() ||
      fileName.substr(0, kJournalPrefix.size()) != kJournalPrefix ||
      fileName.substr(fileName.size() - kind.size()) != kind)
    return false;
  return ParseOwner(fileName.substr(kJournalPrefix.size(),
                                    fileName.size() - kJournalPrefix.size() - kind.size()),
                    owner);
}

// Whether the process that wrote a journal may still be running. One of this
// host: its pid runs with the recorded start time, and the machine has not been
// restarted since (boot = the boot id the journal holds, empty when unknown).
// One of another host cannot be asked: it counts as ended when its journal has
// not changed for an hour (a set's renames take milliseconds).
bool OwnerMayRun(const JournalOwner& owner, const std::string& boot, std::time_t written) {
  if (owner.host != HostTag()) return std::time(nullptr) - written < 3600;
  if (!boot.empty() && !BootId().empty() && boot != BootId()) return false;
  if (!ProcessRunning(owner.pid)) return false;
  const unsigned long long start = StartTimeOf(owner.pid);
  return owner.start == 0 || start == 0 || start == owner.start;
}

// Names in a journal: '%', line ends and other control characters as %XX.
std::string Escape(const std::string& text) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '%' || u < 0x20 || u == 0x7f) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '%') {
      out->push_back(text[k]);
      continue;
    }
    if (k + 2 >= text.size()) return false;
    const int hi = hex(text[k + 1]), lo = hex(text[k + 2]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    k += 2;
  }
  return !out->empty();
}

// What a journal holds: its copies (folders relative to this one's) and the
// renames (temporary and target, relative to this one's folder), in order.
struct JournalText {
  std::string boot;
  std::vector<std::string> copies;
  std::vector<std::pair<std::string, std::string>> renames;
};

std::string FormatJournal(const JournalText& j) {
  std::string text = std::string(kJournalHeader) + "\n";
  text += "boot " + (j.boot.empty() ? std::string("-") : j.boot) + "\n";
  text += "copies " + std::to_string(j.copies.size()) + "\n";
  for (const std::string& c : j.copies) text += Escape(c) + "\n";
  text += "renames " + std::to_string(j.renames.size()) + "\n";
  for (const auto& [temp, target] : j.renames) text += Escape(temp) + "\n" + Escape(target) + "\n";
  return text + "end\n";
}

// False when the text is no complete journal of this form.
bool ParseJournal(const std::string& text, JournalText* j) {
  std::istringstream in(text);
  std::string line;
  auto next = [&] { return static_cast<bool>(std::getline(in, line)); };
  auto count = [&](std::string_view key, std::size_t* n) {
    if (!next() || line.size() <= key.size() + 1 || line.compare(0, key.size(), key) != 0 ||
        line[key.size()] != ' ')
      return false;
    const std::string digits = line.substr(key.size() + 1);
    if (!AllDigits(digits)) return false;
    *n = static_cast<std::size_t>(std::stoull(digits));
    return *n <= 100000;
  };
  auto name = [&](std::string* out) { return next() && Unescape(line, out); };
  if (!next() || line != kJournalHeader) return false;
  if (!next() || line.rfind("boot ", 0) != 0) return false;
  j->boot = line.substr(5) == "-" ? std::string() : line.substr(5);
  std::size_t n = 0;
  if (!count("copies", &n) || n == 0) return false;
  j->copies.resize(n);
  for (std::string& c : j->copies)
    if (!name(&c)) return false;
  if (!count("renames", &n)) return false;
  j->renames.resize(n);
  for (auto& [temp, target] : j->renames)
    if (!name(&temp) || !name(&target)) return false;
  return next() && line == "end" && !next();
}

bool ReadJournal(const std::string& path, JournalText* j, std::time_t* written) {
  struct stat st {};
  if (!IsRegular(path, &st) || st.st_size > kJournalMaxBytes) return false;
  *written = st.st_mtime;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return in.good() || in.eof() ? ParseJournal(text.str(), j) : false;
}

// p relative to the folder from (both absolute, symbolic links resolved).
std::string RelativeTo(const std::filesystem::path& p, const std::filesystem::path& from) {
  const std::filesystem::path rel = p.lexically_relative(from);
  return rel.empty() ? p.string() : rel.lexically_normal().string();
}

// The folder and the plain name of a path given relative to a journal's folder;
// false when the name is not a plain one.
bool SplitRelative(const std::string& rel, std::string* folder, std::string* name) {
  const std::size_t slash = rel.find_last_of('/');
  *folder = slash == std::string::npos ? "." : rel.substr(0, slash);
  *name = slash == std::string::npos ? rel : rel.substr(slash + 1);
  return !name->empty() && *name != "." && *name != "..";
}

// Whether a journal names only what a save of this program writes for its set: its
// own folder among its copies, every copy a folder given relative to it, every
// temporary and target a plain name in the folder of a copy, the two in one folder,
// and the temporary named as this program names the temporaries of that target on
// the journal's host. Anything else (an absolute path, a foreign file as a temporary, a target
// in another folder than its temporary) is no journal of this program's, whoever
// put it there, and is never acted on.
bool NamesOnlyItsSet(const JournalText& j, const JournalOwner& owner) {
  auto isCopy = [&](const std::string& folder) {
    return std::find(j.copies.begin(), j.copies.end(), folder) != j.copies.end();
  };
  if (!isCopy(".")) return false;
  for (const std::string& c : j.copies)
    if (c.empty() || c[0] == '/' || std::filesystem::path(c).lexically_normal().string() != c) return false;
  for (const auto& [temp, target] : j.renames) {
    std::string tempFolder, tempName, targetFolder, targetName;
    if (!SplitRelative(temp, &tempFolder, &tempName) || !SplitRelative(target, &targetFolder, &targetName) ||
        tempFolder != targetFolder || !isCopy(tempFolder))
      return false;
    TempOwner writer;
    const std::string_view rest = AfterTemporaryPrefix(tempName, targetName, owner.host);
    if (rest.empty() || !ParseTemporaryRest(rest, &writer)) return false;
  }
  return true;
}

// A path with its folders resolved as far as they exist, to compare targets.
std::string Resolved(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : p.string();
}

// Why a folder of a set whose copy of the journal is not there cannot be taken to
// have lost it: the folder cannot be read (a drive or share not mounted, the folder
// moved, no permission), or it holds none of the set's files (names: a mount point
// with nothing mounted). Empty when it is readable and holds some of them: then
// the copy was not written yet, or removed already.
std::string UnreachableFolder(const std::string& folder, const std::vector<std::string>& names) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) {
    const int err = errno;
    return SystemReason(Resolved(folder), err);
  }
  ::closedir(d);
  struct stat st {};
  for (const std::string& n : names)
    if (::lstat(InFolder(folder, n).c_str(), &st) == 0) return {};
  return Resolved(folder) + ": none of the files of the set is there (a drive or share not mounted?)";
}

// Finishes the set of the journal name in dir when its process has ended: see the
// top of atomic_file.h. Empty when done or not due; otherwise the reason. When the
// journal is one of this program's saves that stays for a later attempt, its
// targets (resolved) are added to *unfinished.
std::string RecoverJournal(const std::string& dir, const std::string& name,
                           std::vector<std::string>* unfinished) {
  JournalOwner owner;
  if (!JournalOwnerOf(name, kJournalExtension, &owner)) return {};
  const std::string path = InFolder(dir, name);
  JournalText j;
  std::time_t written = 0;
  // A journal that does not read as one (a later version's, a damaged file) stays.
  if (!ReadJournal(path, &j, &written)) return {};
  if (!NamesOnlyItsSet(j, owner))
    return path + ": names files that no save of this program writes (outside the folders of its set, "
                  "or not its temporaries); left as it is";
  if (OwnerMayRun(owner, j.boot, written)) return {};
  auto at = [&](const std::string& rel) { return rel == "." ? dir : InFolder(dir, rel); };
  auto keep = [&](std::string reason) {
    for (const auto& [temp, target] : j.renames) unfinished->push_back(Resolved(at(target)));
    return reason;
  };
  std::vector<std::string> folders;  // of the copies, in the journal's order
  for (const std::string& c : j.copies) folders.push_back(at(c));
  // No save of another instance runs in these folders while the set is finished.
  FolderLocks locks;
  std::string held;
  if (!locks.Take(folders, &held)) return keep(held);
  if (!IsRegular(path)) return {};  // finished by another instance meanwhile
  // The set's files in the folder of copy k.
  auto namesIn = [&](std::size_t k) {
    std::vector<std::string> names;
    std::string folder, name1, name2;
    for (const auto& [temp, target] : j.renames)
      if (SplitRelative(temp, &folder, &name1) && SplitRelative(target, &folder, &name2) && folder == j.copies[k]) {
        names.push_back(name1);
        names.push_back(name2);
      }
    return names;
  };
  auto copyOf = [&](const std::string& rel) {
    std::string folder, file;
    SplitRelative(rel, &folder, &file);
    return static_cast<std::size_t>(std::find(j.copies.begin(), j.copies.end(), folder) - j.copies.begin());
  };
  std::vector<char> present;
  bool whole = true;
  int recoveryStep = 0;
  for (std::size_t k = 0; k < folders.size(); ++k) {
    present.push_back(IsRegular(InFolder(folders[k], name)));
    if (present.back()) continue;
    // A folder that cannot be reached is never taken for one whose copy was not yet
    // written or removed already: the set is finished once it is back.
    const std::string away = UnreachableFolder(folders[k], namesIn(k));
    if (!away.empty()) return keep(away);
    whole = false;
  }
  for (const auto& [temp, target] : j.renames) {
    const std::size_t k = copyOf(temp);
    // Every copy there: the temporaries were complete; those still there are
    // renamed (a missing one was renamed already). A copy missing: the journals
    // were being written or removed, so no rename or every rename was done; what
    // is left goes, in the folders that hold a copy (others are left to the next
    // save of their targets).
    if (!whole && !present[k]) continue;
    const std::string t = at(temp), g = at(target);
    const int failed = whole ? std::rename(t.c_str(), g.c_str()) : ::unlink(t.c_str());
    const int err = failed != 0 ? errno : 0;
    if (const SaveStepHook hook = gRecoveryHook.load(); hook && failed == 0) hook(recoveryStep++);
    if (err == ENOENT) {
      // Renamed already, unless its folder went away meanwhile.
      const std::string away = whole ? UnreachableFolder(folders[k], namesIn(k)) : std::string();
      if (away.empty()) continue;
      SyncDirectories(folders);
      return keep(away);
    }
    if (failed != 0) {
      // The path as the user knows it: "data/../fits/f1.ra1" resolved.
      std::error_code ec;
      const std::filesystem::path shown = std::filesystem::weakly_canonical(whole ? g : t, ec);
      const std::string reason = SystemReason(ec ? (whole ? g : t) : shown.string(), err);
      SyncDirectories(folders);
      return keep(reason);
    }
  }
  SyncDirectories(folders);
  // The journal read here goes last: while it is there, the set is found again.
  for (const std::string& folder : folders)
    if (folder != dir) (void)::unlink(InFolder(folder, name).c_str());
  (void)::unlink(path.c_str());
  SyncDirectories(folders);
  return {};
}

// The journal of one set: a copy in every folder the set touches.
class SetJournal {
 public:
  explicit SetJournal(const std::function<void()>& step) : step_(step) {}
  SetJournal(const SetJournal&) = delete;
  SetJournal& operator=(const SetJournal&) = delete;

  // Writes every copy after the temporaries' folder entries are on the disk;
  // false (copies written so far removed) with "<path>: <reason>" in *error.
  template <class Pending>
  bool Write(const std::vector<Pending>& pending, std::string* error) {
    namespace fs = std::filesystem;
    std::vector<fs::path> folders;
    std::vector<std::pair<fs::path, fs::path>> files;
    for (const Pending& p : pending) {
      std::error_code ec;
      const fs::path folder = fs::canonical(DirectoryPart(p.target), ec);
      if (ec) {
        *error = SystemReason(p.path, ec.value());
        return false;
      }
      files.emplace_back(folder / NamePart(p.temp), folder / NamePart(p.target));
      if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    }
    for (const fs::path& f : folders) SyncDirectory(f.string());
    // Asked each time: a child made by fork() has a pid and start time of its own.
    const long pid = static_cast<long>(::getpid());
    name_ = std::string(kJournalPrefix) + HostTag() + "-" + std::to_string(pid) + "-" +
            std::to_string(StartTimeOf(pid)) + "-" + std::to_string(gJournalCounter.fetch_add(1)) +
            std::string(kJournalExtension);
    for (const fs::path& here : folders) {
      JournalText j;
      j.boot = BootId();
      for (const fs::path& f : folders) j.copies.push_back(RelativeTo(f, here));
      for (const auto& [temp, target] : files)
        j.renames.emplace_back(RelativeTo(temp, here), RelativeTo(target, here));
      const std::string folder = here.string();
      if (!WriteCopy(folder, FormatJournal(j), error)) {
        Remove();
        return false;
      }
      written_.push_back(folder);
      step_();
    }
    return true;
  }

  // Removes the copies (best effort: one left behind is finished again, which
  // changes nothing).
  void Remove() {
    for (const std::string& folder : written_) {
      (void)::unlink(InFolder(folder, name_).c_str());
      step_();
    }
    SyncDirectories(written_);
    written_.clear();
  }

 private:
  // One copy: temporary, flush to the disk, rename, folder entry to the disk.
  bool WriteCopy(const std::string& folder, const std::string& text, std::string* error) {
    const std::string path = InFolder(folder, name_);
    const std::string temp = path.substr(0, path.size() - kJournalExtension.size()) +
                             std::string(kJournalTempExtension);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    int err = errno;
    bool ok = fd >= 0;
    for (std::size_t done = 0; ok && done < text.size();) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      err = n < 0 ? errno : ENOSPC;
      if (ok) done += static_cast<std::size_t>(n);
    }
    if (ok && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
      ok = false;
      err = errno;
    }
    if (fd >= 0 && ::close(fd) != 0 && ok) {
      ok = false;
      err = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
      ok = false;
      err = errno;
    }
    if (!ok) {
      if (fd >= 0) (void)::unlink(temp.c_str());
      *error = SystemReason(fd >= 0 ? path : temp, err);
      return false;
    }
    SyncDirectory(folder);
    return true;
  }

  const std::function<void()>& step_;
  std::string name_;
  std::vector<std::string> written_;  // folders holding a copy
};

// Finishes the sets of ended processes whose journals lie among the entries of
// dir, and removes the journal temporaries such processes left.
// The targets of sets of ended saves that stay unfinished are added to *unfinished
// (when given).
std::string RecoverJournalsIn(const std::string& dir, const std::vector<std::string>& entries,
                              std::vector<std::string>* unfinished = nullptr) {
  std::string failures;
  std::vector<std::string> left;
  for (const std::string& entry : entries) {
    JournalOwner owner;
    if (JournalOwnerOf(entry, kJournalTempExtension, &owner)) {
      // The temporary of a journal never renamed: its set was given up.
      if (owner.host == HostTag() && !OwnerMayRun(owner, std::string(), 0) &&
          IsRegular(InFolder(dir, entry)))
        (void)::unlink(InFolder(dir, entry).c_str());
      continue;
    }
    const std::string why = RecoverJournal(dir, entry, &left);
    if (!why.empty()) failures += (failures.empty() ? "" : "\n") + why;
  }
  if (unfinished) unfinished->insert(unfinished->end(), left.begin(), left.end());
  return failures;
}

// Takes the folders of the targets a save renames (see folder_lock.h) and finishes,
// under the locks, the sets that ended saves left there, so that their replay can
// never follow (and undo part of) this save. False with the reason when another
// instance kept a folder, or when a set left there that names one of the targets
// cannot be finished now (its later replay would mix its files with this save's).
bool HoldFolders(const std::vector<std::string>& targets, FolderLocks* locks, std::string* why) {
  std::vector<std::string> folders;
  for (const std::string& t : targets) folders.push_back(DirectoryPart(t));
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  if (!locks->Take(folders, why)) return false;
  for (const std::string& folder : folders) {
    std::vector<std::string> unfinished;
    const std::string left = RecoverJournalsIn(folder, FolderEntries(folder), &unfinished);
    const bool named = std::any_of(targets.begin(), targets.end(), [&](const std::string& t) {
      return std::find(unfinished.begin(), unfinished.end(), Resolved(t)) != unfinished.end();
    });
    if (named) {
      *why = "a save of a set of files in this folder was interrupted and cannot be finished now:\n" + left;
      locks->Release();
      return false;
    }
  }
  return true;
}

}  // namespace

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

std::string InterruptedSaveNote(const std::string& why) {
  if (why.empty()) return why;
  return "a save of a set of files was interrupted and could not be finished; "
         "files of the set may come from different saves:\n" + why;
}

std::string RecoverInterruptedSaves(const std::string& dir) {
  const std::string folder = dir.empty() ? "." : dir;
  return RecoverJournalsIn(folder, FolderEntries(folder));
}

std::string RecoverInterruptedSavesOf(const std::vector<std::string>& paths) {
  std::vector<std::string> folders;
  for (const std::string& p : paths) {
    const std::string folder = DirectoryPart(p);
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  std::string failures;
  for (const std::string& folder : folders) {
    const std::string why = RecoverInterruptedSaves(folder);
    if (!why.empty()) failures += (failures.empty() ? "" : "\n") + why;
  }
  return failures;
}

void SetSaveStepHookForTesting(SaveStepHook hook) { gStepHook.store(hook); }

void SetRecoveryStepHookForTesting(SaveStepHook hook) { gRecoveryHook.store(hook); }

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)), target_(path_) {
  if (path_.empty()) {
    error_ = "(no file name): " + std::string(std::strerror(ENOENT));
    return;
  }
  // A symbolic link keeps pointing at its file: the file it names is replaced.
  std::error_code ec;
  if (std::filesystem::is_symlink(path_, ec)) {
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path_, ec);
    if (!ec) target_ = resolved.string();
  }
  struct stat old {};
  const bool exists = ::stat(target_.c_str(), &old) == 0;
  // A write-protected file stays protected, as it would against fopen "w".
  if (exists && ::access(target_.c_str(), W_OK) != 0) {
    Fail(errno);
    return;
  }

  // One listing of the folder serves both: an interrupted set is finished before
  // the temporaries it may name are looked at; while one stays unfinished, its
  // temporaries are kept for it.
  const std::vector<std::string> entries = FolderEntries(DirectoryPart(target_));
  std::vector<std::string> unfinished;
  (void)RecoverJournalsIn(DirectoryPart(target_), entries, &unfinished);
  if (unfinished.empty()) RemoveStaleTemporaries(target_, entries);
  // O_EXCL on a name of our own making: no other file is ever opened by mistake;
  // mode 0666 lets the umask decide as it would for fopen.
  int fd = -1;
  int err = 0;
  const std::string dir = DirectoryPart(target_);
  const std::string prefix = (dir == "/" ? dir : dir + "/") + TempPrefix(NamePart(target_)) +
                             HostTag() + "-" + std::to_string(::getpid()) + "-" +
                             std::to_string(OwnStart()) + "-";
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp_ = prefix + std::to_string(gTempCounter.fetch_add(1)) + std::string(kTempExtension);
    fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    err = errno;
    if (fd < 0 && err != EEXIST) break;
  }
  if (fd < 0) {
    temp_.clear();
    Fail(err);
    return;
  }
  if (exists) (void)::fchmod(fd, old.st_mode & 07777);  // the replacement keeps its mode
  file_ = ::fdopen(fd, "w");
  if (!file_) {
    err = errno;
    ::close(fd);
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
    ::unlink(temp_.c_str());
    temp_.clear();
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
  if (::fsync(::fileno(file_)) != 0 && errno != EINVAL && errno != EROFS) {
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
    if (::stat(target_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      Discard();
      Fail(EISDIR);
      return false;
    }
    batch->Take(path_, temp_, target_, std::move(onReplaced_));
    handedOver_ = true;
    temp_.clear();
    error_.clear();
    return true;
  }
  std::string why;
  FolderLocks locks;
  if (!HoldFolders({target_}, &locks, &why)) {
    Discard();
    error_ = path_ + ": " + why;
    NoteFailureReason(error_);
    return false;
  }
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
    const int err = errno;
    Discard();
    Fail(err);
    return false;
  }
  temp_.clear();
  handedOver_ = true;
  SyncDirectory(DirectoryPart(target_));
  error_.clear();
  if (onReplaced_) onReplaced_();
  return true;
}

AtomicFileBatch::AtomicFileBatch() : outer_(tBatch) { tBatch = this; }

AtomicFileBatch::~AtomicFileBatch() { Discard(); }

AtomicFileBatch* AtomicFileBatch::Current() { return tBatch; }

void AtomicFileBatch::Check(const std::string& path, bool written) {
  if (!written && (failed_.empty() || failed_.back() != path)) NoteFailure(path, SaveFailureReason(path));
}

void AtomicFileBatch::Take(std::string path, std::string temp, std::string target,
                           std::function<void()> onReplaced) {
  pending_.push_back(Pending{std::move(path), std::move(temp), std::move(target), std::move(onReplaced)});
}

bool AtomicFileBatch::Commit() {
  if (tBatch == this) tBatch = outer_;
  if (outer_) {
    // Part of a larger set: the outer batch replaces the targets with its own, and a
    // file this batch could not write leaves the larger set incomplete as well.
    for (std::size_t k = 0; k < failed_.size(); ++k) outer_->NoteFailure(failed_[k], failedWhy_[k]);
    const bool whole = failed_.empty();
    for (Pending& p : pending_) outer_->pending_.push_back(std::move(p));
    pending_.clear();
    outer_ = nullptr;
    return whole;
  }
  std::vector<Pending> pending = std::move(pending_);
  pending_.clear();
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
  if (!pending.empty() && !HoldFolders(targets, &locks, &held)) {
    error_ = pending.front().path + ": " + held;
    NoteFailureReason(error_);
    for (const Pending& p : pending) {
      ::unlink(p.temp.c_str());
      notReplaced_.push_back(p.path);
    }
    return false;
  }
  // One rename replaces one file whole; two or more are written down first, so
  // that a program ended among them leaves a set that the next save or load in
  // its folders finishes.
  SetJournal journal(step);
  if (pending.size() > 1 && !journal.Write(pending, &error_)) {
    NoteFailureReason(error_);
    for (const Pending& p : pending) {
      ::unlink(p.temp.c_str());
      notReplaced_.push_back(p.path);
    }
    return false;
  }
  bool ok = true;
  std::vector<std::string> dirs;
  for (Pending& p : pending) {
    if (ok && std::rename(p.temp.c_str(), p.target.c_str()) == 0) {
      step();
      dirs.push_back(DirectoryPart(p.target));
      if (p.onReplaced) p.onReplaced();
      continue;
    }
    if (ok) {
      error_ = SystemReason(p.path, errno);
      NoteFailureReason(error_);
    }
    ok = false;
    ::unlink(p.temp.c_str());
    notReplaced_.push_back(p.path);
  }
  SyncDirectories(dirs);
  journal.Remove();
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
  return "could not replace:" + lines(notReplaced_) + "\n" + error_;
}

void AtomicFileBatch::Discard() {
  if (tBatch == this) tBatch = outer_;
  // The set this one belongs to cannot be whole either.
  if (outer_)
    for (std::size_t k = 0; k < failed_.size(); ++k) outer_->NoteFailure(failed_[k], failedWhy_[k]);
  outer_ = nullptr;
  for (const Pending& p : pending_) {
    ::unlink(p.temp.c_str());
    notReplaced_.push_back(p.path);
  }
  pending_.clear();
}

bool IsSaveTemporaryName(const std::string& fileName) {
  const std::string_view name(fileName);
  JournalOwner owner;
  if (JournalOwnerOf(name, kJournalExtension, &owner) || JournalOwnerOf(name, kJournalTempExtension, &owner))
    return true;
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

bool WriteTextFileAtomically(const std::string& path, const std::string& text,
                             std::string* error) {
  return WriteFileAtomically(
      path,
      [&text](std::FILE* f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); },
      error);
}

}  // namespace tarmic
