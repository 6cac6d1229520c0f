// The journals of sets of files replaced together: see the top of atomic_file.h.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
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
constexpr std::string_view kJournalHeader = "tarmic save journal 1";
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
    return Unescape(line, out) ? Parsed::Whole : Parsed::Damaged;
  };
  if (!next()) return Parsed::Cut;
  if (line != kJournalHeader) return Parsed::Damaged;
  if (!next()) return Parsed::Cut;
  if (line.rfind("boot ", 0) != 0) return Parsed::Damaged;
  j->boot = line.substr(5) == "-" ? std::string() : line.substr(5);
  std::size_t n = 0;
  // No more copies than files: each copy's folder holds a file of the set.
  if (const Parsed c = count("copies", &n); c != Parsed::Whole) return c;
  if (n == 0) return Parsed::Damaged;
  j->copies.resize(n);
  for (std::string& c : j->copies)
    if (const Parsed p = name(&c); p != Parsed::Whole) return p;
  if (const Parsed c = count("renames", &n); c != Parsed::Whole) return c;
  j->renames.resize(n);
  for (auto& [temp, target] : j->renames) {
    if (const Parsed p = name(&temp); p != Parsed::Whole) return p;
    if (const Parsed p = name(&target); p != Parsed::Whole) return p;
  }
  if (!next()) return Parsed::Cut;
  return line == "end" && !next() ? Parsed::Whole : Parsed::Damaged;
}

// Reads the journal at path, open (and held) in file; empty when it reads as a
// journal, otherwise why not, for the report.
std::string ReadJournal(const std::string& path, int fd, JournalText* j) {
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
                     std::to_string(kMaxSetFiles) + ")" + left
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
    text.erase(text.find_last_of('\n') == std::string::npos ? 0 : text.find_last_of('\n') + 1);
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

// Finishes the set of the journal name in dir when its process has ended: see the
// top of atomic_file.h. Empty when done or not due; otherwise the reason. When the
// journal is one of this program's saves that stays for a later attempt, its
// targets (resolved) are added to *unfinished.
std::string RecoverJournal(const std::string& dir, const std::string& name,
                           std::vector<std::string>* unfinished) {
  JournalOwner owner;
  if (!JournalOwnerOf(name, kJournalExtension, &owner)) return {};
  const std::string path = InFolder(dir, name);
  // Open and held (a reader's lock) while it is read and finished.
  const Leftover held(path);
  if (held.kind() == Leftover::Missing || held.kind() == Leftover::Held) return {};
  if (held.kind() == Leftover::NotRegular || held.kind() == Leftover::Unreadable)
    return held.kind() == Leftover::NotRegular
               ? path + ": is not a regular file (a symbolic link, a pipe or a device), so no journal of "
                        "this program; left as it is"
               : SystemReason(path, held.error());
  JournalText j;
  if (const std::string unread = ReadJournal(path, held.Descriptor(), &j); !unread.empty()) return unread;
  if (!NamesOnlyItsSet(j, owner))
    return path + ": names files that no save of this program writes (outside the folders of its set, "
                  "or not the temporaries of its own save); left as it is";
  if (!JournalEnded(held, owner, j.boot)) return {};
  auto at = [&](const std::string& rel) { return rel == "." ? dir : InFolder(dir, rel); };
  auto keep = [&](std::string reason) {
    for (const auto& [temp, target] : j.renames) unfinished->push_back(Resolved(at(target)));
    return reason;
  };
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
  std::vector<char> present;
  std::vector<FolderId> ids;
  bool whole = true;
  for (std::size_t k = 0; k < folders.size(); ++k) {
    ids.push_back(IdOf(folders[k]));
    present.push_back(IsRegular(InFolder(folders[k], name)));
    if (present.back()) continue;
    // A folder that cannot be reached is never taken for one whose copy was not yet
    // written or removed already: the set is finished once it is back.
    const std::string away = UnreachableFolder(folders[k], namesIn[k]);
    if (!away.empty()) return keep(away);
    whole = false;
  }
  // Every temporary is looked at before anything is done, so that one that is not
  // this save's to touch leaves the whole set as it is: a symbolic link, a pipe or
  // a device was made by no save; one that someone holds is in use.
  for (std::size_t r = 0; r < j.renames.size(); ++r) {
    if (!whole && !present[folderOf[r]]) continue;
    const std::string t = at(j.renames[r].first);
    const Leftover temp(t);
    if (temp.kind() == Leftover::NotRegular) return keep(LeftoverReason(Shown(t), temp));
    // Its maker runs while the journal's does not: no journal of that save, and it
    // does not hold up saves of the targets.
    if (temp.kind() == Leftover::Held) return LeftoverReason(Shown(t), temp);
  }
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
      return keep(LeftoverReason(Shown(t), temp));
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

// The journals of this program's saves in dir whose process has ended (those
// that a recovery would finish).
std::vector<JournalText> EndedJournals(const std::string& dir) {
  std::vector<JournalText> ended;
  for (const std::string& entry : FolderEntries(dir)) {
    JournalOwner owner;
    if (!JournalOwnerOf(entry, kJournalExtension, &owner)) continue;
    const Leftover held(InFolder(dir, entry));
    if (held.kind() != Leftover::Unheld && held.kind() != Leftover::NoLocks) continue;
    JournalText j;
    if (ReadJournal(InFolder(dir, entry), held.Descriptor(), &j).empty() && NamesOnlyItsSet(j, owner) &&
        JournalEnded(held, owner, j.boot))
      ended.push_back(std::move(j));
  }
  return ended;
}

// The folders, besides dir, of the sets whose journals in dir have ended: a save
// takes them with its own, in the one order, before it finishes those sets.
std::vector<std::string> FoldersOfEndedJournals(const std::string& dir) {
  std::vector<std::string> folders;
  for (const JournalText& j : EndedJournals(dir))
    for (const std::string& c : j.copies)
      if (c != ".") folders.push_back(InFolder(dir, c));
  return folders;
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
  for (const SetFile& p : pending) {
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
    const std::string text = FormatJournal(j);
    // A journal the recovery would refuse as too large is not written either.
    if (text.size() > static_cast<std::size_t>(kJournalMaxBytes)) {
      *error = InFolder(folder, name_) + ": the journal of this set would be larger than " +
               std::to_string(kJournalMaxBytes >> 20) + " MiB (names too long)";
      Remove();
      return false;
    }
    if (!WriteCopy(folder, text, error)) {
      Remove();
      return false;
    }
    written_.push_back(folder);
    step_();
  }
  return true;
}

void SetJournal::Remove() {
  for (const std::string& folder : written_) {
    (void)::unlink(InFolder(folder, name_).c_str());
    step_();
  }
  SyncDirectories(written_);
  written_.clear();
  // The locks go once no copy is left to be taken for one of a running save.
  for (const int fd : fds_) ::close(fd);
  fds_.clear();
}

// One copy: temporary (held from its making, the hold going with it to the
// journal's name), flush to the disk, rename, folder entry to the disk.
bool SetJournal::WriteCopy(const std::string& folder, const std::string& text, std::string* error) {
  const std::string path = InFolder(folder, name_);
  const std::string temp = path.substr(0, path.size() - kJournalExtension.size()) +
                           std::string(kJournalTempExtension);
  int fd = CreateOwnFile(temp);
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
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    if (fd >= 0) {
      (void)::unlink(temp.c_str());
      ::close(fd);
    }
    *error = SystemReason(fd >= 0 ? path : temp, err);
    return false;
  }
  fds_.push_back(fd);
  SyncDirectory(folder);
  return true;
}

std::string RecoverJournalsIn(const std::string& dir, const std::vector<std::string>& entries,
                              std::vector<std::string>* unfinished) {
  std::string failures;
  std::vector<std::string> left;
  for (const std::string& entry : entries) {
    JournalOwner owner;
    if (JournalOwnerOf(entry, kJournalTempExtension, &owner)) {
      // The temporary of a journal never renamed: its set was given up. One that
      // someone holds is being written.
      if (owner.host != HostTag()) continue;
      Leftover file(InFolder(dir, entry));
      if (file.kind() == Leftover::Unheld ||
          (file.kind() == Leftover::NoLocks && !OwnerMayRun(owner, std::string(), 0)))
        (void)file.Remove();
      continue;
    }
    const std::string why = RecoverJournal(dir, entry, &left);
    if (!why.empty()) failures += (failures.empty() ? "" : "\n") + why;
  }
  if (unfinished) unfinished->insert(unfinished->end(), left.begin(), left.end());
  return failures;
}

bool HoldFolders(const std::vector<std::string>& targets, FolderLocks* locks, std::string* why) {
  std::vector<std::string> folders;
  for (const std::string& t : targets) folders.push_back(DirectoryPart(t));
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  // The other folders of the sets left in these are taken with them, in the one
  // order: a recovery that took them later, holding these, could wait for an
  // instance that waits for these. A journal that appears meanwhile naming yet
  // others makes the round start again (its recovery would not wait for them).
  std::vector<std::string> all = folders;
  for (int round = 0;; ++round) {
    std::vector<std::string> wanted = all;
    for (const std::string& folder : folders)
      for (std::string& other : FoldersOfEndedJournals(folder)) wanted.push_back(std::move(other));
    if (!locks->Take(wanted, why)) {
      // Another instance keeps a folder of a set left here: the save takes its own
      // folders, and that set (unless it names a target) is left for later.
      if (wanted.size() == folders.size() || !locks->Take(folders, why)) return false;
      break;
    }
    const bool allHeld = std::all_of(wanted.begin(), wanted.end(), [](const std::string& f) {
      struct stat st {};
      return ::stat(f.c_str(), &st) != 0 || FolderHeldHere(f, true);
    });
    if (allHeld || round == 2) break;
    locks->Release();
    all = std::move(wanted);
  }
  std::unordered_set<std::string> resolvedTargets;
  for (const std::string& t : targets) resolvedTargets.insert(Resolved(t));
  for (const std::string& folder : folders) {
    std::vector<std::string> unfinished;
    const std::string left = RecoverJournalsIn(folder, FolderEntries(folder), &unfinished);
    const bool named = std::any_of(unfinished.begin(), unfinished.end(),
                                   [&](const std::string& u) { return resolvedTargets.count(u) > 0; });
    if (named) {
      *why = "a save of a set of files in this folder was interrupted and cannot be finished now:\n" + left;
      locks->Release();
      return false;
    }
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

FolderReading::FolderReading(const std::vector<std::string>& paths) {
  std::vector<std::string> folders;
  for (const std::string& p : paths) {
    const std::string folder = DirectoryPart(p);
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  // The sets left unfinished are finished first (each recovery takes its folders
  // as a save does); then the folders are held as a reader. A save of another
  // instance that ended between the two left a journal: the round is done again.
  std::string unfinished, busy;
  for (int round = 0; round < 3; ++round) {
    unfinished.clear();
    for (const std::string& folder : folders) {
      const std::string why = RecoverInterruptedSaves(folder);
      if (!why.empty()) unfinished += (unfinished.empty() ? "" : "\n") + why;
    }
    if (!locks_.Take(folders, &busy, FolderLocks::Mode::Read)) break;
    const bool left = std::any_of(folders.begin(), folders.end(),
                                  [](const std::string& folder) { return !EndedJournals(folder).empty(); });
    if (!left || !unfinished.empty()) break;
    locks_.Release();
  }
  note_ = InterruptedSaveNote(unfinished);
  if (!busy.empty())
    note_ += (note_.empty() ? "" : "\n\n") +
             std::string("the files were read while another instance of the program was saving into their "
                         "folder; they may come from different saves:\n") +
             busy;
}

void SetRecoveryStepHookForTesting(SaveStepHook hook) { gRecoveryHook.store(hook); }

}  // namespace tarmic
