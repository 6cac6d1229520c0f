// The journals of sets of files replaced together: see the top of atomic_file.h.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text/number_token.h"
#include "storage/atomic_file.h"
#include "storage/folder_lock.h"
#include "storage/save_parts.h"

namespace tarmic {

using namespace save_parts;

namespace {

std::atomic<unsigned> gJournalCounter{0};
std::atomic<SaveStepHook> gRecoveryHook{nullptr};

constexpr std::string_view kJournalPrefix = ".tarmic-save-";
constexpr std::string_view kJournalExtension = ".journal";
constexpr std::string_view kJournalTempExtension = ".journal.part";
// Version 1 named the files; version 2 adds, for each rename, what the temporary
// and the file it replaces were when the journal was written.
constexpr std::string_view kJournalHeader = "tarmic save journal 1";
constexpr std::string_view kJournalHeader2 = "tarmic save journal 2";
// No set of this program spans more folders; a journal naming more is none of its.
constexpr std::size_t kMaxSetFolders = 64;
// No name in a journal is longer (a path of 4,096 bytes, every byte escaped).
constexpr std::size_t kMaxLineBytes = 3 * 4096 + 16;
// A journal is a few lines per file of the set, each name relative to its folder:
// with the most files a set holds and names of 2 KiB, well within this. The writer
// refuses a journal above it, so a larger one is none of this program's.
constexpr off_t kJournalMaxBytes = 16 << 20;

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
  owner->pid = static_cast<long>(WholeNumberOf(fields[0]).value_or(0));
  owner->start = WholeNumberOf(fields[1]).value_or(0);
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
// A file as a journal records it: whether it was there, its inode, size and time
// of last modification (what a rename keeps and a new save changes; see
// docs/ARCHITECTURE.md for why not the status change time).
struct FileId {
  bool present = false;
  bool regular = false;  // a regular file (not recorded)
  unsigned long long ino = 0, size = 0, sec = 0, nsec = 0;
};
constexpr unsigned long long kIdModulus = 1000000000000000000ULL;  // 18 digits
FileId FileIdOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {};
  return {true, S_ISREG(st.st_mode), static_cast<unsigned long long>(st.st_ino) % kIdModulus,
          static_cast<unsigned long long>(st.st_size) % kIdModulus,
          st.st_mtim.tv_sec > 0 ? static_cast<unsigned long long>(st.st_mtim.tv_sec) % kIdModulus : 0,
          static_cast<unsigned long long>(st.st_mtim.tv_nsec)};
}
// The same content as recorded: same size and modification time.
bool SameContent(const FileId& now, const FileId& then) {
  return now.present && then.present && now.size == then.size && now.sec == then.sec && now.nsec == then.nsec;
}
// The very file recorded, untouched since.
bool SameFile(const FileId& now, const FileId& then) { return SameContent(now, then) && now.ino == then.ino; }
// Whether the regular file at path was changed at or after t, its modification or
// its status change time (which no program can set back): a file saved after a
// journal written at t. Equal times count: a file system with coarse times cannot
// tell their order.
bool ChangedSince(const std::string& path, const timespec& t) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  auto notBefore = [&](const timespec& c) { return c.tv_sec > t.tv_sec || (c.tv_sec == t.tv_sec && c.tv_nsec >= t.tv_nsec); };
  return notBefore(st.st_mtim) || notBefore(st.st_ctim);
}
// Whether a target is the temporary recorded, renamed: the same inode and size (a
// copy's file times may be set after its rename), or, in a copied tree, the same
// size and modification time.
bool IsRenamed(const FileId& target, const FileId& temp) {
  return target.present && temp.present &&
         ((target.ino == temp.ino && target.size == temp.size) || SameContent(target, temp));
}
struct RenameIds {
  FileId temp, old;  // the temporary and the file it replaces, when the journal was written
};

struct JournalText {
  std::string boot;
  std::vector<std::string> copies;
  std::vector<std::pair<std::string, std::string>> renames;
  std::vector<RenameIds> ids;  // one per rename (version 2); empty in version 1
};

std::string IdWords(const FileId& id) {
  if (!id.present) return "-";
  return std::to_string(id.ino) + " " + std::to_string(id.size) + " " + std::to_string(id.sec) + " " +
         std::to_string(id.nsec);
}

bool ParseIds(const std::string& line, RenameIds* ids) {
  std::vector<std::string_view> words;
  std::string_view rest(line);
  for (std::size_t space; (space = rest.find(' ')) != std::string_view::npos; rest.remove_prefix(space + 1))
    words.push_back(rest.substr(0, space));
  words.push_back(rest);
  if ((words.size() != 6 && words.size() != 9) || words[0] != "ids") return false;
  auto id = [&](std::size_t at, FileId* f) {
    for (std::size_t k = at; k < at + 4; ++k)
      if (!AllDigits(words[k])) return false;
    *f = {true, true, WholeNumberOf(words[at]).value_or(0), WholeNumberOf(words[at + 1]).value_or(0),
          WholeNumberOf(words[at + 2]).value_or(0), WholeNumberOf(words[at + 3]).value_or(0)};
    return true;
  };
  if (!id(1, &ids->temp)) return false;
  if (words.size() == 6) {
    ids->old = {};
    return words[5] == "-";
  }
  return id(5, &ids->old);
}

std::string FormatJournal(const JournalText& j) {
  std::string text = std::string(j.ids.empty() ? kJournalHeader : kJournalHeader2) + "\n";
  text += "boot " + (j.boot.empty() ? std::string("-") : j.boot) + "\n";
  text += "copies " + std::to_string(j.copies.size()) + "\n";
  for (const std::string& c : j.copies) text += Escape(c) + "\n";
  text += "renames " + std::to_string(j.renames.size()) + "\n";
  for (std::size_t r = 0; r < j.renames.size(); ++r) {
    text += Escape(j.renames[r].first) + "\n" + Escape(j.renames[r].second) + "\n";
    if (!j.ids.empty()) text += "ids " + IdWords(j.ids[r].temp) + " " + IdWords(j.ids[r].old) + "\n";
  }
  return text + "end\n";
}

// What the text of a journal is: a whole journal of this form, one cut short (or
// the head of a longer text), one that is none, or one counting more files or
// folders than any set this program saves.
enum class Parsed { Whole, Cut, Damaged, TooMany };
Parsed ParseJournal(const std::string& text, JournalText* j) {
  std::istringstream in(text);
  std::string line;
  auto next = [&] { return static_cast<bool>(std::getline(in, line)); };
  // A count line; the counts are checked before anything is made of them.
  auto count = [&](std::string_view key, std::size_t* n) {
    if (!next()) return Parsed::Cut;
    if (line.size() <= key.size() + 1 || line.compare(0, key.size(), key) != 0 || line[key.size()] != ' ')
      return Parsed::Damaged;
    const std::string digits = line.substr(key.size() + 1);
    const bool number = !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                                       [](char c) { return c >= '0' && c <= '9'; });
    if (!number) return Parsed::Damaged;
    if (!AllDigits(digits)) return Parsed::TooMany;  // more than 18 digits
    *n = static_cast<std::size_t>(WholeNumberOf(digits).value_or(0));
    return *n > kMaxSetFiles ? Parsed::TooMany : Parsed::Whole;
  };
  auto name = [&](std::string* out) {
    if (!next()) return Parsed::Cut;
    return line.size() <= kMaxLineBytes && Unescape(line, out) ? Parsed::Whole : Parsed::Damaged;
  };
  if (!next()) return Parsed::Cut;
  if (line != kJournalHeader && line != kJournalHeader2) return Parsed::Damaged;
  const bool withIds = line == kJournalHeader2;
  if (!next()) return Parsed::Cut;
  if (line.rfind("boot ", 0) != 0) return Parsed::Damaged;
  j->boot = line.substr(5) == "-" ? std::string() : line.substr(5);
  std::size_t n = 0;
  // No more copies than files: each copy's folder holds a file of the set.
  if (const Parsed c = count("copies", &n); c != Parsed::Whole) return c;
  if (n == 0) return Parsed::Damaged;
  if (n > kMaxSetFolders) return Parsed::TooMany;
  j->copies.resize(n);
  for (std::string& c : j->copies)
    if (const Parsed p = name(&c); p != Parsed::Whole) return p;
  if (const Parsed c = count("renames", &n); c != Parsed::Whole) return c;
  j->renames.resize(n);
  j->ids.resize(withIds ? n : 0);
  for (std::size_t r = 0; r < n; ++r) {
    if (const Parsed p = name(&j->renames[r].first); p != Parsed::Whole) return p;
    if (const Parsed p = name(&j->renames[r].second); p != Parsed::Whole) return p;
    if (!withIds) continue;
    if (!next()) return Parsed::Cut;
    if (!ParseIds(line, &j->ids[r])) return Parsed::Damaged;
  }
  if (!next()) return Parsed::Cut;
  return line == "end" && !next() ? Parsed::Whole : Parsed::Damaged;
}

// Reads the journal at path, open (and held) in file; empty when it reads as a
// journal, otherwise why not, for the report.
std::string ReadJournal(const std::string& path, int fd, JournalText* j) {
  CountJournalRead();
  struct stat st {};
  if (::fstat(fd, &st) != 0) return SystemReason(path, errno);
  const std::string left = "; left as it is";
  if (st.st_size > kJournalMaxBytes)
    return path + ": is larger (" + std::to_string(static_cast<long long>(st.st_size)) +
           " bytes) than the journal of any set this program saves" + left;
  if (st.st_size == 0) return path + ": is empty, no journal of this program" + left;
  auto readUpTo = [&](std::size_t size, std::string* text) {
    text->assign(size, '\0');
    std::size_t done = 0;
    while (done < text->size()) {
      const ssize_t n = ::pread(fd, text->data() + done, text->size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    text->resize(done);
    return 0;
  };
  auto refused = [&](Parsed parsed) {
    return parsed == Parsed::TooMany
               ? path + ": names more files or folders than any set this program saves (at most " +
                     std::to_string(kMaxSetFiles) + " files in " + std::to_string(kMaxSetFolders) + " folders)" +
                     left
               : path + ": does not read as a journal of this program's saves (damaged, or of another version)" +
                     left;
  };
  // The head first, in whole lines: a file that is no journal, or one counting
  // more than a set, is known by it, however long it is (it is looked at by every
  // save in its folder).
  constexpr std::size_t kHead = 64 << 10;
  std::string text;
  if (static_cast<std::size_t>(st.st_size) > kHead) {
    if (const int err = readUpTo(kHead, &text); err != 0) return SystemReason(path, err);
    const std::size_t lastEnd = text.find_last_of('\n');
    // A line running on past any name of a journal (a forged name of megabytes)
    // tells it is none, without reading the rest.
    if (text.size() - (lastEnd == std::string::npos ? 0 : lastEnd + 1) > kMaxLineBytes)
      return refused(Parsed::Damaged);
    text.erase(lastEnd == std::string::npos ? 0 : lastEnd + 1);
    JournalText head;
    if (const Parsed parsed = ParseJournal(text, &head); parsed == Parsed::Damaged || parsed == Parsed::TooMany)
      return refused(parsed);
  }
  if (const int err = readUpTo(static_cast<std::size_t>(st.st_size), &text); err != 0)
    return SystemReason(path, err);
  const Parsed parsed = ParseJournal(text, j);
  return parsed == Parsed::Whole ? std::string() : refused(parsed);
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
// own folder among its copies, every copy a folder given relative to it that holds
// a file of the set, every temporary and target a plain name in the folder of a
// copy, the two in one folder, and the temporary named as the journal's own process
// names the temporaries of that target. Anything else (an absolute path, a foreign
// file as a temporary, the temporary of another save, a target in another folder
// than its temporary) is no journal of this program's, whoever put it there, and
// is never acted on. Linear in the size of the journal.
bool NamesOnlyItsSet(const JournalText& j, const JournalOwner& owner) {
  const std::unordered_set<std::string> copies(j.copies.begin(), j.copies.end());
  if (copies.size() != j.copies.size() || !copies.count(".")) return false;
  for (const std::string& c : j.copies)
    if (c.empty() || c[0] == '/' || std::filesystem::path(c).lexically_normal().string() != c) return false;
  std::unordered_set<std::string> used;
  for (const auto& [temp, target] : j.renames) {
    std::string tempFolder, tempName, targetFolder, targetName;
    if (!SplitRelative(temp, &tempFolder, &tempName) || !SplitRelative(target, &targetFolder, &targetName) ||
        tempFolder != targetFolder || !copies.count(tempFolder))
      return false;
    TempOwner writer;
    const std::string_view rest = AfterTemporaryPrefix(tempName, targetName, owner.host);
    if (rest.empty() || !ParseTemporaryRest(rest, &writer) || !writer.withStart || writer.pid != owner.pid ||
        writer.start != owner.start)
      return false;
    used.insert(tempFolder);
  }
  return j.renames.empty() || used.size() == copies.size();
}

// A path with its folders resolved as far as they exist, to compare targets.
std::string Resolved(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : p.string();
}

// A file's path as the user knows it: its folder resolved ("data/../fits" is
// "fits"), the name itself as it is (a symbolic link is not followed).
std::string Shown(const std::string& path) { return InFolder(Resolved(DirectoryPart(path)), NamePart(path)); }

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

// A folder as it was when a recovery began: a folder moved away, replaced or
// unmounted since is no longer it.
struct FolderId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool known = false;
};
FolderId IdOf(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return {st.st_dev, st.st_ino, true};
}
bool Same(const FolderId& a, const FolderId& b) { return a.known && b.known && a.dev == b.dev && a.ino == b.ino; }

// Whether the process that wrote a journal has ended. The journal is open in
// held: one that someone holds is in use; one that nobody holds has ended, unless
// it is of another host (whose lock a share may not pass on): that one counts as
// ended only when it has not changed for an hour (a set's renames take
// milliseconds). On a file system that does not lock, the journal's process is
// judged by its pid and start on this host.
bool JournalEnded(const Leftover& held, const JournalOwner& owner, const std::string& boot) {
  if (held.kind() == Leftover::Held) return false;
  if (owner.host != HostTag()) return std::time(nullptr) - held.modified() >= 3600;
  if (held.kind() == Leftover::Unheld) return true;
  return !OwnerMayRun(owner, boot, held.modified());
}

// A journal found in a folder: looked at once (and held, a reader's lock, while
// it is looked at and finished) and read once.
struct FoundJournal {
  std::string dir, name, path;
  JournalOwner owner;
  std::unique_ptr<Leftover> file;
  JournalText text;
  std::string refused;  // why it is not obeyed (for the report); empty for one of this program's saves
  bool ended = false;   // its process has ended: its set is to be finished
  // Someone holds it although its folder is held here, so no save of the program
  // runs there: a killed save lets its files go one by one, and another program
  // may hold it for a moment. Its set is neither finished nor passed over.
  bool lingering = false;
};

// Reads the journal f (its text and whether it names only its set) into f.
void ReadFound(FoundJournal* f, int fd) {
  f->refused = ReadJournal(f->path, fd, &f->text);
  if (f->refused.empty() && !NamesOnlyItsSet(f->text, f->owner))
    f->refused = f->path + ": names files that no save of this program writes (outside the folders of its set, "
                           "or not the temporaries of its own save); left as it is";
}

FoundJournal Examine(const std::string& dir, const std::string& name) {
  FoundJournal f;
  f.dir = dir;
  f.name = name;
  f.path = InFolder(dir, name);
  (void)JournalOwnerOf(name, kJournalExtension, &f.owner);
  f.file = std::make_unique<Leftover>(f.path);
  const Leftover& held = *f.file;
  if (held.kind() == Leftover::Held && FolderHeldHere(dir, true)) {
    // Read without the reader's lock, which its holder keeps off.
    const int fd = ::open(f.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return f;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ReadFound(&f, fd);
    ::close(fd);
    f.lingering = f.refused.empty() && !f.text.copies.empty();
    return f;
  }
  if (held.kind() == Leftover::Missing || held.kind() == Leftover::Held) return f;
  if (held.kind() == Leftover::NotRegular) {
    f.refused = f.path + ": is not a regular file (" + FileKindWords(held.mode()) +
                "), so no journal of this program; left as it is";
    return f;
  }
  if (held.kind() == Leftover::Unreadable) {
    f.refused = SystemReason(f.path, held.error());
    return f;
  }
  ReadFound(&f, held.Descriptor());
  f.ended = f.refused.empty() && JournalEnded(held, f.owner, f.text.boot);
  return f;
}

// What a folder held when it was listed (under its lock): its entries and its journals.
struct FolderState {
  std::string dir;
  std::vector<std::string> entries;
  std::vector<FoundJournal> journals;
};

FolderState LookAt(const std::string& dir) {
  FolderState s{dir, FolderEntries(dir), {}};
  for (const std::string& entry : s.entries) {
    JournalOwner owner;
    if (JournalOwnerOf(entry, kJournalExtension, &owner)) s.journals.push_back(Examine(dir, entry));
  }
  return s;
}

// Whether folder is dir or a folder above it: it is surely there (dir was read
// through it), so a copy missing there is never one of a drive not mounted.
bool IsAtOrAbove(const std::string& folder, const std::string& dir) {
  const std::string f = Resolved(folder), d = Resolved(dir);
  return d == f || (d.size() > f.size() && d.compare(0, f.size(), f) == 0 && (f == "/" || d[f.size()] == '/'));
}

// Why the new content an interrupted save left for target cannot be used, named
// by the set's file: the temporary's hidden name means nothing to the user, and
// every report of a journal's temporary is made here.
std::string NewContentReason(const std::string& target, const Leftover& temp) {
  const std::string head = Shown(target) + ": the new content an interrupted save left for it";
  switch (temp.kind()) {
    case Leftover::NotRegular:
      return head + " is not a regular file (" + FileKindWords(temp.mode()) +
             "), so no save of this program made it; left as it is";
    case Leftover::Held:
      return head + " is held by another process; left as it is";
    case Leftover::Missing:
      return head + " is gone and was not saved";
    case Leftover::Unreadable:
      return head + " cannot be looked at: " + std::strerror(temp.error() != 0 ? temp.error() : EIO);
    default:
      return head + " was changed since (it is not the file that save wrote)";
  }
}

// Why the set of a journal that someone holds (FoundJournal::lingering) is left.
std::string LingeringReason(const std::string& path) {
  return path + ": is held by another process although no save of the program runs in its folder, so its set "
                "is left as it is until it is let go; its files may come from different saves";
}

// The files that someone holds although their folders are held here: journals
// (lingering) and the temporaries that ended journals name. A save of this program
// holds its files only while it holds their folders, so these are let go in a
// moment (a killed save lets them go one by one) or held by another program. A
// journal of this very process is passed over: what holds its files is this process.
std::vector<std::string> HeldForAMoment(const std::vector<FolderState>& states) {
  std::vector<std::string> held;
  for (const FolderState& s : states)
    for (const FoundJournal& f : s.journals) {
      if (f.lingering) held.push_back(f.path);
      if (!f.ended || (f.owner.host == HostTag() && f.owner.pid == static_cast<long>(::getpid()))) continue;
      for (const auto& [temp, target] : f.text.renames) {
        const std::string t = InFolder(f.dir, temp);
        if (Leftover(t).kind() == Leftover::Held) held.push_back(t);
      }
    }
  return held;
}

// Waits while files of HeldForAMoment are held (WaitWhileHeld), then looks at the
// folders again: what was let go is dealt with as any ended save's; what is still
// held leaves its set as it is (FinishJournal).
void WaitForLetGo(std::vector<FolderState>* states) {
  const std::vector<std::string> held = HeldForAMoment(*states);
  if (held.empty()) return;
  std::string why;
  (void)WaitWhileHeld(Resolved(DirectoryPart(held.front())), [&] {
    return std::any_of(held.begin(), held.end(),
                       [](const std::string& p) { return Leftover(p).kind() == Leftover::Held; });
  }, &why);
  for (FolderState& s : *states) s = LookAt(s.dir);
}

// The temporaries in a folder that the journals there name and that are still
// there after their sets were finished: never removed as stale, whoever holds
// them, as long as a journal that is to finish its set names them.
std::unordered_set<std::string> NamedByJournals(const FolderState& s) {
  std::unordered_set<std::string> named;
  for (const FoundJournal& f : s.journals)
    if (f.refused.empty() && IsRegular(f.path))
      for (const auto& [temp, target] : f.text.renames)
        if (temp.find('/') == std::string::npos) named.insert(temp);
  return named;
}

// A set that stays unfinished: its targets (resolved) and the journal that holds them.
struct Unfinished {
  std::string target, journal;
};

// Finishes the set of an ended journal: see the top of atomic_file.h. Empty when
// done or not due; otherwise the reason. When the journal stays for a later
// attempt, its targets are added to *unfinished.
std::string FinishJournal(const FoundJournal& f, std::vector<Unfinished>* unfinished) {
  if (!f.ended && !f.lingering) return {};
  const std::string& dir = f.dir;
  const std::string& path = f.path;
  const JournalText& j = f.text;
  const Leftover& held = *f.file;
  auto at = [&](const std::string& rel) { return rel == "." ? dir : InFolder(dir, rel); };
  auto keep = [&](std::string reason) {
    for (const auto& [temp, target] : j.renames) unfinished->push_back({Resolved(at(target)), path});
    return reason;
  };
  // What holds the set up, with the journal that records it.
  auto recorded = [&](const std::string& reason) {
    return reason + ", so the set recorded in " + path + " cannot be finished now; its files may come from "
                    "different saves";
  };
  if (f.lingering) return keep(LingeringReason(path));
  // Not obeyed: reported at every load, blocking nothing.
  auto notOurs = [&](const std::string& why) { return path + ": " + why + "; left as it is"; };
  std::vector<std::string> folders;  // of the copies, in the journal's order
  std::unordered_map<std::string, std::size_t> copyIndex;
  for (std::size_t k = 0; k < j.copies.size(); ++k) {
    folders.push_back(at(j.copies[k]));
    copyIndex.emplace(j.copies[k], k);
  }
  // No save of another instance runs in these folders while the set is finished.
  FolderLocks locks;
  std::string busy;
  if (!locks.Take(folders, &busy)) return keep(busy);
  if (!held.Is(path)) return {};  // finished by another instance meanwhile
  // Each rename's folder (the copy's index), and the set's files in each folder.
  std::vector<std::size_t> folderOf;
  std::vector<std::vector<std::string>> namesIn(folders.size());
  for (const auto& [temp, target] : j.renames) {
    std::string folder, tempName, targetName;
    SplitRelative(temp, &folder, &tempName);
    SplitRelative(target, &folder, &targetName);
    const std::size_t k = copyIndex.at(folder);
    folderOf.push_back(k);
    namesIn[k].push_back(tempName);
    namesIn[k].push_back(targetName);
  }
  // The copy in each other folder must be this journal as its save wrote it there
  // (the same folders and files, seen from that folder): a file of the same name
  // that says otherwise (a copy of this one put elsewhere) makes it none of a save's.
  namespace fs = std::filesystem;
  std::vector<fs::path> real;
  for (const std::string& folder : folders) real.emplace_back(Resolved(folder));
  auto expectedAt = [&](std::size_t k) {
    JournalText e;
    e.boot = j.boot;
    e.ids = j.ids;
    for (const fs::path& r : real) e.copies.push_back(RelativeTo(r, real[k]));
    for (std::size_t r = 0; r < j.renames.size(); ++r) {
      std::string folder, tempName, targetName;
      SplitRelative(j.renames[r].first, &folder, &tempName);
      SplitRelative(j.renames[r].second, &folder, &targetName);
      e.renames.emplace_back(RelativeTo(real[folderOf[r]] / tempName, real[k]),
                             RelativeTo(real[folderOf[r]] / targetName, real[k]));
    }
    return FormatJournal(e);
  };
  std::vector<char> present;
  std::vector<FolderId> ids;
  bool whole = true;
  for (std::size_t k = 0; k < folders.size(); ++k) {
    ids.push_back(IdOf(folders[k]));
    const std::string copy = InFolder(folders[k], f.name);
    present.push_back(IsRegular(copy));
    if (present.back()) {
      if (j.copies[k] == ".") continue;
      const Leftover other(copy);
      JournalText seen;
      if (other.Descriptor() < 0 || !ReadJournal(copy, other.Descriptor(), &seen).empty() ||
          FormatJournal(seen) != expectedAt(k))
        return notOurs("its copy " + Shown(copy) + " does not name the same set");
      continue;
    }
    const bool reachable = IsAtOrAbove(folders[k], dir);
    // A folder that cannot be reached is never taken for one whose copy was not yet
    // written or removed already: the set is finished once it is back.
    const std::string away = reachable ? std::string() : UnreachableFolder(folders[k], namesIn[k]);
    if (!away.empty()) return keep(away);
    // The journal's own folder or one above it is there; one of them holding no
    // file of the set makes the journal none of a save's.
    if (reachable && !UnreachableFolder(folders[k], namesIn[k]).empty())
      return notOurs("names the folder " + Resolved(folders[k]) + ", which holds none of the files of its set");
    whole = false;
  }
  // Every temporary and target is looked at before anything is done, so that one
  // that is not this save's to touch leaves the whole set as it is: a symbolic
  // link, a pipe, a device or a folder was made by no save; one that someone holds
  // is in use. The journal records what each temporary and target was: a missing
  // temporary counts as renamed only when its target is that file, and a target
  // changed since (saved again) is never replaced.
  const bool withIds = !j.ids.empty();
  std::string overtaken;
  for (std::size_t r = 0; r < j.renames.size(); ++r) {
    if (!whole && !present[folderOf[r]]) continue;
    const std::string t = at(j.renames[r].first), g = at(j.renames[r].second);
    const Leftover temp(t);
    if (temp.kind() == Leftover::NotRegular) return keep(recorded(NewContentReason(g, temp)));
    if (temp.kind() == Leftover::Held) {
      // Its maker runs while the journal's does not (a journal is held until its
      // save ends): no journal of that save, and it does not hold up saves of the
      // targets. Otherwise someone held it past the wait (HoldFolders): the whole
      // set is left, its temporaries too, and its targets are not saved over.
      if (f.owner.host == HostTag() && OwnerMayRun(f.owner, j.boot, 0))
        return Shown(g) + ": the new content recorded in " + path +
               " is in use by a save that is still running; left as it is";
      return keep(recorded(NewContentReason(g, temp)));
    }
    if (!whole) continue;
    const FileId target = FileIdOf(g);
    if (!withIds) {
      // Version 1 records no file, so it cannot show that a target is the one it
      // replaced: one changed at or after the journal was written is a file saved
      // after it (a journal restored or synced late), and is never replaced.
      if (temp.kind() != Leftover::Missing && ChangedSince(g, held.modifiedAt()) && overtaken.empty())
        overtaken = Shown(g);
      continue;
    }
    if (temp.kind() == Leftover::Missing) {
      if (!IsRenamed(target, j.ids[r].temp)) return keep(recorded(NewContentReason(g, temp)));
    } else if (!SameContent(FileIdOf(t), j.ids[r].temp)) {
      // Not the file the save wrote. (Its change time is not asked: a change of
      // owner or mode, a rename, a copy set it, and the set would never be finished.)
      return keep(recorded(NewContentReason(g, temp)));
    } else if (target.regular && !SameFile(target, j.ids[r].old)) {
      // A file saved there since (what else is there, a folder, is for the rename to report).
      if (overtaken.empty()) overtaken = Shown(g);
    }
  }
  // Saved again after the journal was written: nothing of it replaces a newer file;
  // what it left goes, and the load that finds it says so once.
  if (!overtaken.empty()) whole = false;
  int recoveryStep = 0;
  for (std::size_t r = 0; r < j.renames.size(); ++r) {
    const std::size_t k = folderOf[r];
    // Every copy there: the temporaries were complete; those still there are
    // renamed (a missing one was renamed already). A copy missing: the journals
    // were being written or removed, so no rename or every rename was done; what
    // is left goes, in the folders that hold a copy (others are left to the next
    // save of their targets).
    if (!whole && !present[k]) continue;
    const std::string t = at(j.renames[r].first), g = at(j.renames[r].second);
    const Leftover temp(t);
    int failed = 0, err = 0;
    if (temp.kind() == Leftover::Missing) {
      failed = -1;
      err = ENOENT;
    } else if (temp.kind() == Leftover::NotRegular || temp.kind() == Leftover::Held) {
      SyncDirectories(folders);
      return keep(recorded(NewContentReason(g, temp)));
    } else {
      failed = whole ? std::rename(t.c_str(), g.c_str()) : (temp.Is(t) ? ::unlink(t.c_str()) : 0);
      err = failed != 0 ? errno : 0;
    }
    if (const SaveStepHook hook = gRecoveryHook.load(); hook && failed == 0) hook(recoveryStep++);
    if (err == ENOENT) {
      // Renamed already, unless its folder went away meanwhile (moved, replaced,
      // unmounted: it is no longer the folder the recovery began with).
      if (!whole || Same(ids[k], IdOf(folders[k]))) continue;
      SyncDirectories(folders);
      return keep(SystemReason(Resolved(folders[k]), ENOENT));
    }
    if (failed != 0) {
      // The path as the user knows it: "data/../fits/f1.ra1" resolved; a temporary
      // that cannot be removed by its folder.
      std::error_code ec;
      const std::filesystem::path shown = std::filesystem::weakly_canonical(whole ? g : folders[k], ec);
      const std::string reason =
          SystemReason(ec ? (whole ? g : folders[k]) : shown.string(), err) +
          (whole ? std::string() : " (what an interrupted save left there cannot be removed)");
      SyncDirectories(folders);
      return keep(reason);
    }
  }
  SyncDirectories(folders);
  // The journal read here goes last: while it is there, the set is found again.
  for (const std::string& folder : folders)
    if (folder != dir) (void)::unlink(InFolder(folder, f.name).c_str());
  (void)::unlink(path.c_str());
  SyncDirectories(folders);
  if (!overtaken.empty())
    return overtaken + ": was saved again after the save recorded in " + path +
           " was interrupted; the rest of that set was not replaced, so its files may come from different saves";
  return {};
}

// The folders, besides those held, of the sets whose journals have ended: a save
// takes them with its own, in the one order, before it finishes those sets.
std::vector<std::string> FoldersOfEndedJournals(const std::vector<FolderState>& states) {
  std::vector<std::string> folders;
  for (const FolderState& s : states)
    for (const FoundJournal& f : s.journals)
      if (f.ended)
        for (const std::string& c : f.text.copies)
          if (c != ".") folders.push_back(InFolder(s.dir, c));
  return folders;
}

// Whether a journal of another computer's save that may still run names target.
bool NamesTarget(const FoundJournal& f, const std::unordered_set<std::string>& targets) {
  for (const auto& [temp, target] : f.text.renames)
    if (targets.count(Resolved(f.dir == "." ? target : InFolder(f.dir, target)))) return true;
  return false;
}

// A journal of another computer that is not yet taken for ended: that save may
// still be running, and its set may be half replaced.
bool ForeignAndLive(const FoundJournal& f) {
  return f.refused.empty() && !f.ended && f.file->kind() != Leftover::Missing && f.owner.host != HostTag();
}

}  // namespace

namespace save_parts {

bool IsJournalName(std::string_view fileName) {
  JournalOwner owner;
  return JournalOwnerOf(fileName, kJournalExtension, &owner) ||
         JournalOwnerOf(fileName, kJournalTempExtension, &owner);
}

bool SetJournal::Write(const std::vector<SetFile>& pending, std::string* error) {
  namespace fs = std::filesystem;
  std::vector<fs::path> folders;
  std::vector<std::pair<fs::path, fs::path>> files;
  std::vector<RenameIds> ids;
  for (const SetFile& p : pending) {
    std::error_code ec;
    const fs::path folder = fs::canonical(DirectoryPart(p.target), ec);
    if (ec) {
      *error = SystemReason(p.path, ec.value());
      return false;
    }
    files.emplace_back(folder / NamePart(p.temp), folder / NamePart(p.target));
    ids.push_back({FileIdOf(p.temp), FileIdOf(p.target)});
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  if (folders.size() > kMaxSetFolders) {
    *error = pending.front().path + ": the set spans " + std::to_string(folders.size()) +
             " folders, more than one save replaces together (at most " + std::to_string(kMaxSetFolders) + ")";
    return false;
  }
  for (const fs::path& f : folders) SyncDirectory(f.string());
  // A name taken meanwhile (its temporary removed by another instance between its
  // making and its lock) is given up for another, as the temporaries of files are.
  for (int attempt = 0;; ++attempt) {
    // Asked each time: a child made by fork() has a pid and start time of its own.
    const long pid = static_cast<long>(::getpid());
    name_ = std::string(kJournalPrefix) + HostTag() + "-" + std::to_string(pid) + "-" +
            std::to_string(StartTimeOf(pid)) + "-" + std::to_string(gJournalCounter.fetch_add(1)) +
            std::string(kJournalExtension);
    bool taken = false;
    for (const fs::path& here : folders) {
      JournalText j;
      j.boot = BootId();
      j.ids = ids;
      for (const fs::path& f : folders) j.copies.push_back(RelativeTo(f, here));
      for (const auto& [temp, target] : files)
        j.renames.emplace_back(RelativeTo(temp, here), RelativeTo(target, here));
      const std::string folder = here.string();
      const std::string text = FormatJournal(j);
      // A journal the recovery would refuse as too large is not written either.
      if (text.size() > static_cast<std::size_t>(kJournalMaxBytes)) {
        *error = pending.front().path + ": the record of this set's renames would be larger than " +
                 std::to_string(kJournalMaxBytes >> 20) + " MiB (names too long)";
        Remove();
        return false;
      }
      const int err = WriteCopy(folder, text);
      if (err == EEXIST && attempt < 100) {
        taken = true;
        break;
      }
      if (err != 0) {
        *error = SystemReason(folder, err) + " (the record of the set's renames could not be written there)";
        Remove();
        return false;
      }
      written_.push_back(folder);
      step_();
    }
    if (!taken) return true;
    Remove();
  }
}

void SetJournal::Remove() {
  for (const std::string& folder : written_) {
    (void)::unlink(InFolder(folder, name_).c_str());
    step_();
  }
  // The folders are not synced once more: a journal that a crash brings back names
  // temporaries renamed already, and the next load or save in its folder removes it.
  written_.clear();
  // The locks go once no copy is left to be taken for one of a running save.
  for (const int fd : fds_) ::close(fd);
  fds_.clear();
}

void SetJournal::Leave() {
  written_.clear();
  for (const int fd : fds_) ::close(fd);
  fds_.clear();
}

// One copy: temporary (held from its making, the hold going with it to the
// journal's name), flush to the disk, rename, folder entry to the disk. 0, or the
// error (EEXIST: the temporary's name is taken, try another).
int SetJournal::WriteCopy(const std::string& folder, const std::string& text) {
  const std::string path = InFolder(folder, name_);
  const std::string temp = path.substr(0, path.size() - kJournalExtension.size()) +
                           std::string(kJournalTempExtension);
  int fd = CreateOwnFile(temp);
  int err = fd < 0 ? errno : 0;
  bool ok = fd >= 0;
  for (std::size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    err = n < 0 ? errno : ENOSPC;
    if (ok) done += static_cast<std::size_t>(n);
  }
  if (ok && SyncToDisk(fd) != 0 && errno != EINVAL && errno != EROFS) {
    ok = false;
    err = errno;
  }
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    if (fd >= 0) {
      (void)::unlink(temp.c_str());
      ::close(fd);
    }
    return err != 0 ? err : EIO;
  }
  fds_.push_back(fd);
  SyncDirectory(folder);
  return 0;
}

bool HoldFolders(const std::vector<std::string>& given, const std::vector<std::string>& targets,
                 FolderLocks* locks, std::string* why, std::string* report) {
  std::vector<std::string> folders = given;
  for (const std::string& t : targets) folders.push_back(DirectoryPart(t));
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  // The other folders of the sets left in these are taken with them, in the one
  // order: a recovery that took them later, holding these, could wait for an
  // instance that waits for these. The folders are listed once they are held; a
  // journal found then naming yet others makes the round start again.
  std::vector<std::string> all = folders;
  std::vector<FolderState> states;
  for (int round = 0;; ++round) {
    if (!locks->Take(all, why)) {
      // Another instance keeps a folder of a set left here: the save takes its own
      // folders, and that set (unless it names a target) is left for later.
      if (all.size() == folders.size() || !locks->Take(folders, why)) return false;
      states.clear();
      for (const std::string& folder : folders) states.push_back(LookAt(folder));
      WaitForLetGo(&states);
      break;
    }
    states.clear();
    for (const std::string& folder : folders) states.push_back(LookAt(folder));
    WaitForLetGo(&states);
    std::vector<std::string> wanted = FoldersOfEndedJournals(states);
    const bool allHeld = std::all_of(wanted.begin(), wanted.end(), [](const std::string& f) {
      struct stat st {};
      return ::stat(f.c_str(), &st) != 0 || FolderHeldHere(f, true);
    });
    if (allHeld || round == 2) break;
    locks->Release();
    all.insert(all.end(), wanted.begin(), wanted.end());
  }
  std::unordered_set<std::string> resolvedTargets;
  for (const std::string& t : targets) resolvedTargets.insert(Resolved(t));
  std::string lines;
  auto say = [&](const std::string& line) {
    if (!line.empty()) lines += (lines.empty() ? "" : "\n") + line;
  };
  std::vector<Unfinished> unfinished;
  std::string foreign;  // a journal of another computer naming a target
  for (FolderState& s : states) {
    for (const FoundJournal& f : s.journals) {
      say(f.refused);
      if (ForeignAndLive(f) && foreign.empty() && NamesTarget(f, resolvedTargets)) foreign = f.path;
      say(FinishJournal(f, &unfinished));
    }
    // The temporaries of journals never renamed: their sets were given up. One
    // that someone holds is being written.
    for (const std::string& entry : s.entries) {
      JournalOwner owner;
      if (!JournalOwnerOf(entry, kJournalTempExtension, &owner) || owner.host != HostTag()) continue;
      Leftover file(InFolder(s.dir, entry));
      if (file.kind() == Leftover::Unheld ||
          (file.kind() == Leftover::NoLocks && !OwnerMayRun(owner, std::string(), 0)))
        (void)file.Remove();
    }
    // While a set stays unfinished here, its temporaries are kept for it.
    if (targets.empty()) continue;
    std::vector<std::string> names;
    for (const std::string& t : targets)
      if (DirectoryPart(t) == s.dir) names.push_back(NamePart(t));
    RemoveStaleTemporaries(s.dir, names, s.entries, NamedByJournals(s));
  }
  if (report) *report = lines;
  for (const Unfinished& u : unfinished)
    if (resolvedTargets.count(u.target)) {
      *why = u.target + ": a save of a set of files holding it was interrupted and cannot be finished now, so " +
             "it is not replaced (the save is recorded in " + u.journal + "):\n" + lines;
      locks->Release();
      return false;
    }
  if (!foreign.empty()) {
    *why = "a save of the program on another computer that writes these files may still be running (it is "
           "recorded in " + foreign + "); none of them is replaced. If that save has ended, remove that file.";
    locks->Release();
    return false;
  }
  return true;
}

}  // namespace save_parts

std::string InterruptedSaveNote(const std::string& why) {
  if (why.empty()) return why;
  return "a save of a set of files was interrupted and could not be finished; "
         "files of the set may come from different saves:\n" + why;
}

std::string RecoverInterruptedSaves(const std::string& dir) {
  const std::string folder = dir.empty() ? "." : dir;
  // A folder holding no journal, or only those of saves running (they hold theirs),
  // needs no hold: most loads pass at once, and none waits for a save in progress.
  const std::vector<std::string> entries = FolderEntries(folder);
  if (std::none_of(entries.begin(), entries.end(), [&](const std::string& e) {
        return IsJournalName(e) && Leftover(InFolder(folder, e)).kind() != Leftover::Held;
      }))
    return {};
  FolderWaitScope wait;  // one allowance for the recovery
  FolderLocks locks;
  std::string why, report;
  if (!HoldFolders({folder}, {}, &locks, &why, &report)) return why;
  return report;
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

FolderReading::FolderReading(const std::vector<std::string>& paths) {
  // The folders of the files read, as a save of them holds them: a symbolic link
  // to a file stands for the file's folder.
  std::vector<std::string> folders;
  for (const std::string& p : paths) {
    const std::string folder = DirectoryPart(ReplacedFile(p));
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  // The folders are held as a reader and looked at: a set an ended save left there
  // is finished (the hold let go, as a recovery holds them as a save does) and the
  // hold taken again. The files are never read unheld without a note.
  std::string recovered, busy, left, foreign, refused, lingering;
  for (int round = 0;; ++round) {
    if (!locks_.Take(folders, &busy, FolderLocks::Mode::Read)) break;
    left.clear();
    foreign.clear();
    refused.clear();
    lingering.clear();
    std::vector<FolderState> states;
    for (const std::string& folder : folders) states.push_back(LookAt(folder));
    // A file of an ended save held for a moment (a killed save lets its files go
    // one by one) is waited for: until then its set can be neither finished nor read.
    WaitForLetGo(&states);
    for (const FolderState& s : states)
      for (const FoundJournal& f : s.journals) {
        if (!f.refused.empty()) refused += (refused.empty() ? "" : "\n") + f.refused;
        if (f.ended) left += (left.empty() ? "" : "\n") + f.path;
        if (f.lingering) lingering += (lingering.empty() ? "" : "\n") + LingeringReason(f.path);
        if (ForeignAndLive(f)) foreign += (foreign.empty() ? "" : "\n") + f.path;
      }
    if (left.empty() || !recovered.empty() || round == 3) break;
    locks_.Release();
    for (const std::string& folder : folders) {
      const std::string why = RecoverInterruptedSaves(folder);
      if (!why.empty()) recovered += (recovered.empty() ? "" : "\n") + why;
    }
  }
  // What the last recovery said covers the journals it met; otherwise those that
  // are not obeyed and those still left are said, and those held by someone.
  std::string unfinished = recovered;
  if (unfinished.empty()) {
    unfinished = refused;
    if (!left.empty() && busy.empty())
      unfinished += (unfinished.empty() ? "" : "\n") + left + "\n(saves that ended while the files were read; " +
                    "their sets are finished at the next load)";
  }
  if (!lingering.empty() && unfinished.find(lingering) == std::string::npos)
    unfinished += (unfinished.empty() ? "" : "\n") + lingering;
  note_ = InterruptedSaveNote(unfinished);
  if (!foreign.empty())
    note_ += (note_.empty() ? "" : "\n\n") +
             std::string("a save of the program on another computer into the folder of these files may still be "
                         "running; they may come from different saves (it is recorded in):\n") +
             foreign;
  if (!busy.empty())
    note_ += (note_.empty() ? "" : "\n\n") +
             std::string("the files were read while another instance of the program was saving into their "
                         "folder; they may come from different saves:\n") +
             busy;
}

void SetRecoveryStepHookForTesting(SaveStepHook hook) { gRecoveryHook.store(hook); }

}  // namespace tarmic
