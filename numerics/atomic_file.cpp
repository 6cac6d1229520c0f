#include "numerics/atomic_file.h"

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

constexpr std::string_view kTempMark = ".tmp-";
constexpr std::string_view kTempExtension = ".part";
// Room left in a file name (at most 255 bytes) for the target's name: the rest
// takes the mark, the host (at most 32 characters), pid, counter and extension.
constexpr std::size_t kTargetNameRoom = 180;

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

// The pid in a temporary's name, as its prefix and host leave it: "<pid>-<n>.part"
// after "<prefix><host>-"; 0 when the rest is not of that form.
long PidOfTemporary(std::string_view rest) {
  if (rest.size() <= kTempExtension.size() ||
      rest.substr(rest.size() - kTempExtension.size()) != kTempExtension)
    return 0;
  rest.remove_suffix(kTempExtension.size());
  const std::size_t dash = rest.find('-');
  if (dash == std::string_view::npos) return 0;
  const std::string_view pid = rest.substr(0, dash), n = rest.substr(dash + 1);
  if (!AllDigits(pid) || !AllDigits(n)) return 0;
  return std::stol(std::string(pid));
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

bool ProcessRunning(long pid) {
  if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
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

// Removes the temporaries of target that a process of this host left behind and
// that is no longer running; a running one (another instance, or this one) keeps
// its temporaries. Best effort: what cannot be removed stays.
void RemoveStaleTemporaries(const std::string& target, const std::vector<std::string>& entries) {
  const std::string dir = DirectoryPart(target);
  const std::string name = NamePart(target);
  const std::string prefix = TempPrefix(name) + HostTag() + "-";
  const long self = static_cast<long>(::getpid());
  for (const std::string& entryName : entries) {
    const std::string_view entry(entryName);
    long pid = 0;
    bool hostKnown = true;
    if (entry.size() > prefix.size() && entry.substr(0, prefix.size()) == prefix) {
      pid = PidOfTemporary(entry.substr(prefix.size()));
    } else {
      pid = PidOfOldTemporary(entry, name);
      hostKnown = false;
    }
    if (pid == 0 || pid == self || ProcessRunning(pid)) continue;
    const std::string path = InFolder(dir, entryName);
    struct stat st {};
    if (!IsRegular(path, &st)) continue;
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

// Finishes the set of the journal name in dir when its process has ended: see the
// top of atomic_file.h. Empty when done or not due; otherwise the reason.
std::string RecoverJournal(const std::string& dir, const std::string& name) {
  JournalOwner owner;
  if (!JournalOwnerOf(name, kJournalExtension, &owner)) return {};
  const std::string path = InFolder(dir, name);
  JournalText j;
  std::time_t written = 0;
  // A journal that does not read as one (a later version's, a damaged file) stays.
  if (!ReadJournal(path, &j, &written)) return {};
  if (OwnerMayRun(owner, j.boot, written)) return {};
  auto at = [&](const std::string& rel) {
    if (rel == ".") return dir;
    return rel[0] != '/' ? InFolder(dir, rel) : rel;
  };
  std::vector<std::string> copies, folders;
  bool whole = true;
  for (const std::string& c : j.copies) {
    copies.push_back(InFolder(at(c), name));
    folders.push_back(at(c));
    whole = whole && IsRegular(copies.back());
  }
  for (const auto& [temp, target] : j.renames) {
    const std::string t = at(temp), g = at(target);
    folders.push_back(DirectoryPart(g));
    // Every copy there: the temporaries were complete; those still there are
    // renamed (a missing one was renamed already). A copy missing: the journals
    // were being written or removed, so no rename or every rename was done; what
    // is left goes.
    const int failed = whole ? std::rename(t.c_str(), g.c_str()) : ::unlink(t.c_str());
    if (failed != 0 && errno != ENOENT) {
      const int err = errno;
      // The path as the user knows it: "data/../fits/f1.ra1" resolved.
      std::error_code ec;
      const std::filesystem::path shown = std::filesystem::weakly_canonical(whole ? g : t, ec);
      const std::string reason = SystemReason(ec ? (whole ? g : t) : shown.string(), err);
      SyncDirectories(folders);
      return reason;
    }
  }
  SyncDirectories(folders);
  // The journal read here goes last: while it is there, the set is found again.
  for (const std::string& c : copies)
    if (c != path) (void)::unlink(c.c_str());
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
std::string RecoverJournalsIn(const std::string& dir, const std::vector<std::string>& entries) {
  std::string failures;
  for (const std::string& entry : entries) {
    JournalOwner owner;
    if (JournalOwnerOf(entry, kJournalTempExtension, &owner)) {
      // The temporary of a journal never renamed: its set was given up.
      if (owner.host == HostTag() && !OwnerMayRun(owner, std::string(), 0) &&
          IsRegular(InFolder(dir, entry)))
        (void)::unlink(InFolder(dir, entry).c_str());
      continue;
    }
    const std::string why = RecoverJournal(dir, entry);
    if (!why.empty()) failures += (failures.empty() ? "" : "\n") + why;
  }
  return failures;
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
  // the temporaries it may name are looked at.
  const std::vector<std::string> entries = FolderEntries(DirectoryPart(target_));
  (void)RecoverJournalsIn(DirectoryPart(target_), entries);
  RemoveStaleTemporaries(target_, entries);
  // O_EXCL on a name of our own making: no other file is ever opened by mistake;
  // mode 0666 lets the umask decide as it would for fopen.
  int fd = -1;
  int err = 0;
  const std::string dir = DirectoryPart(target_);
  const std::string prefix = (dir == "/" ? dir : dir + "/") + TempPrefix(NamePart(target_)) +
                             HostTag() + "-" + std::to_string(::getpid()) + "-";
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
  // ".<target>.tmp-<host>-<pid>-<n>.part"
  const std::size_t mark = name.rfind(kTempMark);
  if (!name.empty() && name[0] == '.' && mark != std::string_view::npos && mark > 0) {
    std::string_view rest = name.substr(mark + kTempMark.size());
    // The host is everything up to the dash before the pid.
    if (rest.size() > kTempExtension.size()) {
      const std::string_view core = rest.substr(0, rest.size() - kTempExtension.size());
      const std::size_t last = core.rfind('-');
      const std::size_t beforePid = last == std::string_view::npos || last == 0
                                        ? std::string_view::npos
                                        : core.rfind('-', last - 1);
      if (beforePid != std::string_view::npos && PidOfTemporary(rest.substr(beforePid + 1)) > 0)
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
