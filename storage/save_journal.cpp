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
#include "storage/file_system.h"
#include "storage/folder_lock.h"
#include "storage/journal_text.h"
#include "storage/save_parts.h"

namespace tarmic {

using namespace save_parts;

namespace {

std::atomic<unsigned> gJournalCounter{0};
std::atomic<SaveStepHook> gRecoveryHook{nullptr};

constexpr std::string_view kJournalPrefix = ".tarmic-save-";
constexpr std::string_view kJournalExtension = ".journal";
constexpr std::string_view kJournalTempExtension = ".journal.part";

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

// The owner of a journal as the names of temporaries give it.
TempOwner AsTempOwner(const JournalOwner& owner) {
  TempOwner t;
  t.pid = owner.pid;
  t.start = owner.start;
  t.withStart = true;
  return t;
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
  return FileSystemInUse().ResolvedAsFarAsItExists(path);
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
  std::vector<std::string> entries;
  if (!FileSystemInUse().List(folder, &entries)) {
    const int err = errno;
    return SystemReason(Resolved(folder), err);
  }
  struct stat st {};
  for (const std::string& n : names)
    if (FileSystemInUse().LinkStat(InFolder(folder, n), &st) == 0) return {};
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
  if (FileSystemInUse().Stat(folder, &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return {st.st_dev, st.st_ino, true};
}
bool Same(const FolderId& a, const FolderId& b) { return a.known && b.known && a.dev == b.dev && a.ino == b.ino; }

// Whether the process that wrote a journal has ended (the journal is open in
// held): by the one rule of ProvenEnded. A journal that someone holds is in use;
// one of another computer (whose lock a share may not pass on, whose pid means
// nothing here) counts as ended only when it has not changed for kLongestSave.
bool JournalEnded(const Leftover& held, const JournalOwner& owner) {
  if (Planted(PlantedFault::JournalOwnerByLock)) return held.kind() == Leftover::Unheld;
  return ProvenEnded(owner.host, AsTempOwner(owner), held);
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
    FileSystem& sys = FileSystemInUse();
    const int fd = sys.Open(f.path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return f;
    struct stat st {};
    if (sys.OpenStat(fd, &st) == 0 && S_ISREG(st.st_mode)) ReadFound(&f, fd);
    sys.Close(fd);
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
  f.ended = f.refused.empty() && JournalEnded(held, f.owner);
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
      if (!f.ended || (f.owner.host == HostTag() && f.owner.pid == FileSystemInUse().ProcessId())) continue;
      for (const auto& [temp, target] : f.text.renames) {
        const std::string t = InFolder(f.dir, temp);
        if (Leftover(t).kind() == Leftover::Held) held.push_back(t);
      }
      // Its copies in the other folders of the set.
      for (const std::string& c : f.text.copies) {
        const std::string copy = InFolder(InFolder(f.dir, c), f.name);
        if (c != "." && Leftover(copy).kind() == Leftover::Held) held.push_back(copy);
      }
    }
  return held;
}

// What files of sets that ended saves left someone holds, each named by its set's
// file (NewContentReason); empty when none is held.
std::string HeldFilesNote(const std::vector<FolderState>& states) {
  std::string lines;
  for (const FolderState& s : states)
    for (const FoundJournal& f : s.journals) {
      if (!f.ended) continue;
      for (const auto& [temp, target] : f.text.renames) {
        const Leftover held(InFolder(f.dir, temp));
        if (held.kind() == Leftover::Held)
          lines += (lines.empty() ? "" : "\n") + NewContentReason(InFolder(f.dir, target), held);
      }
    }
  return lines;
}

// Waits while files of HeldForAMoment are held (WaitWhileHeld), then looks at the
// folders again: what was let go is dealt with as any ended save's; what is still
// held leaves its set as it is (FinishJournal). Empty when nothing was held or all
// was let go; otherwise how the wait ended ("<folder>: another process held ...
// and did not let them go within 2 s", or "...; the wait for it was given up").
std::string WaitForLetGo(std::vector<FolderState>* states) {
  const std::vector<std::string> held = HeldForAMoment(*states);
  if (held.empty()) return {};
  std::string why;
  const std::string folder = Resolved(DirectoryPart(held.front()));
  const bool free = WaitWhileHeld(folder, [&] {
    return std::any_of(held.begin(), held.end(),
                       [](const std::string& p) { return Leftover(p).kind() == Leftover::Held; });
  }, &why);
  for (FolderState& s : *states) s = LookAt(s.dir);
  return free ? std::string() : folder + ": another process held files an interrupted save left there" + why;
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

// A journal being finished: what it names, resolved against its folder, and what
// FinishJournal found so far.
struct Finishing {
  const FoundJournal& f;
  std::vector<Unfinished>* unfinished;
  std::vector<std::string> folders;              // of the copies, in the journal's order
  std::vector<std::size_t> folderOf;             // each rename's folder (the copy's index)
  std::vector<std::vector<std::string>> namesIn;  // the set's files in each folder
  std::vector<char> present;                     // whether each folder holds its copy
  std::vector<FolderId> ids;                     // each folder as the recovery began
  bool whole = true;                             // every copy there
  std::string overtaken;                         // a target saved again since, shown

  std::string At(const std::string& rel) const { return rel == "." ? f.dir : InFolder(f.dir, rel); }
  std::string Temp(std::size_t r) const { return At(f.text.renames[r].first); }
  std::string Target(std::size_t r) const { return At(f.text.renames[r].second); }
  // The set stays for a later attempt, its targets not saved over meanwhile.
  std::string Keep(std::string reason) const {
    for (const auto& [temp, target] : f.text.renames) unfinished->push_back({Resolved(At(target)), f.path});
    return reason;
  }
  // What holds the set up, with the journal that records it.
  std::string Recorded(const std::string& reason) const {
    return reason + ", so the set recorded in " + f.path + " cannot be finished now; its files may come from "
                    "different saves";
  }
  // Not obeyed: reported at every load, blocking nothing.
  std::string NotOurs(const std::string& why) const { return f.path + ": " + why + "; left as it is"; }
};

// The text of the journal's copy in its k-th folder (the same folders and files,
// seen from that folder), recording ids (none: version 1).
std::string CopyText(const Finishing& x, std::size_t k, const std::vector<RenameIds>& ids) {
  namespace fs = std::filesystem;
  const JournalText& j = x.f.text;
  std::vector<fs::path> real;
  for (const std::string& folder : x.folders) real.emplace_back(Resolved(folder));
  JournalText e;
  e.boot = j.boot;
  e.ids = ids;
  for (const fs::path& r : real) e.copies.push_back(RelativeTo(r, real[k]));
  for (std::size_t r = 0; r < j.renames.size(); ++r) {
    std::string folder, tempName, targetName;
    SplitRelative(j.renames[r].first, &folder, &tempName);
    SplitRelative(j.renames[r].second, &folder, &targetName);
    e.renames.emplace_back(RelativeTo(real[x.folderOf[r]] / tempName, real[k]),
                           RelativeTo(real[x.folderOf[r]] / targetName, real[k]));
  }
  return FormatJournal(e);
}

// The copy in each other folder must be this journal as its save wrote it there
// (the same folders and files, seen from that folder): a file of the same name
// that says otherwise (a copy of this one put elsewhere) makes it none of a save's.
// A copy someone holds is in use, as a held journal is: the set waits for it. A
// folder that cannot be reached is never taken for one whose copy was not yet
// written or removed already: the set is finished once it is back. Empty when the
// copies allow the set to be finished (whole or not); otherwise the report.
std::string CheckCopies(Finishing* x) {
  const JournalText& j = x->f.text;
  for (std::size_t k = 0; k < x->folders.size(); ++k) {
    x->ids.push_back(IdOf(x->folders[k]));
    const std::string copy = InFolder(x->folders[k], x->f.name);
    x->present.push_back(IsRegular(copy));
    if (x->present.back()) {
      if (j.copies[k] == ".") continue;
      const Leftover other(copy);
      if (other.kind() == Leftover::Held) {
        if (Planted(PlantedFault::HeldCopyIgnored)) continue;
        return x->Keep(LingeringReason(Shown(copy)));
      }
      JournalText seen;
      if (other.Descriptor() < 0 || !ReadJournal(copy, other.Descriptor(), &seen).empty() ||
          FormatJournal(seen) != CopyText(*x, k, j.ids))
        return x->NotOurs("its copy " + Shown(copy) + " does not name the same set");
      continue;
    }
    const bool reachable = IsAtOrAbove(x->folders[k], x->f.dir);
    const std::string away = reachable ? std::string() : UnreachableFolder(x->folders[k], x->namesIn[k]);
    if (!away.empty()) return x->Keep(away);
    // The journal's own folder or one above it is there; one of them holding no
    // file of the set makes the journal none of a save's.
    if (reachable && !UnreachableFolder(x->folders[k], x->namesIn[k]).empty())
      return x->NotOurs("names the folder " + Resolved(x->folders[k]) + ", which holds none of the files of its set");
    x->whole = false;
  }
  return {};
}


// A journal of version 2 whose temporaries are all gone: its set was finished as
// far as it could be, and the journal stays only as the record that its files
// come from different saves (some hold what the save wrote, some never received
// it: saved again meanwhile). It blocks nothing; every load says so (MixedNote)
// until no target holds the save's content any longer (saved again), or all do,
// and then it goes. Only asked once every copy is there.
bool Settled(const Finishing& x) {
  if (x.f.text.ids.empty() || x.f.text.renames.empty()) return false;
  for (std::size_t r = 0; r < x.f.text.renames.size(); ++r)
    if (Leftover(x.Temp(r)).kind() != Leftover::Missing) return false;
  return true;
}
// The note of a mixed set: which files hold what the save wrote and which do not;
// empty when the set is whole (all or none).
std::string MixedNote(const Finishing& x, const std::vector<RenameIds>& ids) {
  std::vector<std::string> have, lack;
  for (std::size_t r = 0; r < x.f.text.renames.size(); ++r)
    (IsRenamed(FileIdOf(x.Target(r)), ids[r].temp) ? have : lack).push_back(Shown(x.Target(r)));
  if (have.empty() || lack.empty()) return {};
  auto list = [](const std::vector<std::string>& v) {
    std::string text;
    for (const std::string& s : v) text += (text.empty() ? "" : ", ") + s;
    return text;
  };
  return list(lack) + ": saved again (or left) while the save recorded in " + x.f.path + " was interrupted, " +
         "so they do not hold what it wrote for them, while " + list(have) +
         " do; the files of that set come from different saves until they are saved again";
}

// Looks at every temporary and target before anything is done, so that one that is
// not this save's to touch leaves the whole set as it is: a symbolic link, a pipe,
// a device or a folder was made by no save; one that someone holds is in use (by
// whoever holds it: the set waits, its targets are not saved over). The journal
// records what each temporary and target was: a missing temporary counts as
// renamed only when its target is that file; a target changed since (saved again)
// is never replaced. Empty when the set may be finished.
std::string CheckTemporaries(Finishing* x) {
  const FoundJournal& f = x->f;
  const JournalText& j = f.text;
  const bool withIds = !j.ids.empty();
  for (std::size_t r = 0; r < j.renames.size(); ++r) {
    if (!x->whole && !x->present[x->folderOf[r]]) continue;
    const std::string t = x->Temp(r), g = x->Target(r);
    const Leftover temp(t);
    // This very process holds it: a save of ours, whose own journals it holds, so
    // this one (carrying our pid, held by nobody) is none of its.
    if (temp.kind() == Leftover::Held && f.owner.host == HostTag() &&
        f.owner.pid == FileSystemInUse().ProcessId())
      return x->NotOurs("names the temporary of a save of this very process, which holds its own journals");
    if (temp.kind() == Leftover::NotRegular || temp.kind() == Leftover::Held)
      return x->Keep(x->Recorded(NewContentReason(g, temp)));
    if (!x->whole) continue;
    const FileId target = FileIdOf(g);
    if (!withIds) {
      // Version 1 records no file, so it cannot show that a target is the one it
      // replaced: one changed at or after the journal was written is a file saved
      // after it (a journal restored or synced late), and is never replaced.
      if (temp.kind() != Leftover::Missing && ChangedSince(g, f.file->modifiedAt()) && x->overtaken.empty())
        x->overtaken = Shown(g);
      continue;
    }
    if (temp.kind() == Leftover::Missing) {
      if (IsRenamed(target, j.ids[r].temp)) continue;
      // Gone without reaching its target: lost, unless the target was saved again
      // since (then the set is mixed, as with a temporary still there).
      if (!target.regular || SameFile(target, j.ids[r].old) || (!target.present && !j.ids[r].old.present))
        return x->Keep(x->Recorded(NewContentReason(g, temp)));
      if (x->overtaken.empty()) x->overtaken = Shown(g);
    } else if (!SameContent(FileIdOf(t), j.ids[r].temp)) {
      // Not the file the save wrote. (Its change time is not asked: a change of
      // owner or mode, a rename, a copy set it, and the set would never be finished.)
      return x->Keep(x->Recorded(NewContentReason(g, temp)));
    } else if (target.regular && !SameFile(target, j.ids[r].old)) {
      // A file saved there since (what else is there, a folder, is for the rename to report).
      if (x->overtaken.empty()) x->overtaken = Shown(g);
    }
  }
  return {};
}

// Every copy there: the temporaries were complete; those still there are renamed
// (a missing one was renamed already). A copy missing (the journals were being
// written or removed, so no rename or every rename was done) or a target saved
// again: what is left goes, in the folders that hold a copy (others are left to
// the next save of their targets). Empty when done; otherwise the report.
std::string RenameOrRemove(Finishing* x) {
  const bool whole = x->whole && x->overtaken.empty();
  int recoveryStep = 0;
  for (std::size_t r = 0; r < x->f.text.renames.size(); ++r) {
    const std::size_t k = x->folderOf[r];
    if (!x->whole && !x->present[k]) continue;
    const std::string t = x->Temp(r), g = x->Target(r);
    const Leftover temp(t);
    int failed = 0, err = 0;
    if (temp.kind() == Leftover::Missing) {
      failed = -1;
      err = ENOENT;
    } else if (temp.kind() == Leftover::NotRegular || temp.kind() == Leftover::Held) {
      SyncDirectories(x->folders, SyncSite::RecoveryStopped);
      return x->Keep(x->Recorded(NewContentReason(g, temp)));
    } else {
      failed = whole ? FileSystemInUse().Rename(t, g) : (temp.Is(t) ? FileSystemInUse().Unlink(t) : 0);
      err = failed != 0 ? errno : 0;
    }
    if (const SaveStepHook hook = gRecoveryHook.load(); hook && failed == 0) hook(recoveryStep++);
    if (err == ENOENT) {
      // Renamed already, unless its folder went away meanwhile (moved, replaced,
      // unmounted: it is no longer the folder the recovery began with).
      if (!whole || Same(x->ids[k], IdOf(x->folders[k]))) continue;
      SyncDirectories(x->folders, SyncSite::RecoveryStopped);
      return x->Keep(SystemReason(Resolved(x->folders[k]), ENOENT));
    }
    if (failed != 0) {
      // The path as the user knows it: "data/../fits/f1.ra1" resolved; a temporary
      // that cannot be removed by its folder.
      const std::string reason = SystemReason(Resolved(whole ? g : x->folders[k]), err) +
                                 (whole ? std::string() : " (what an interrupted save left there cannot be removed)");
      SyncDirectories(x->folders, SyncSite::RecoveryStopped);
      return x->Keep(reason);
    }
  }
  SyncDirectories(x->folders, SyncSite::RecoveryRenamesDone);
  return {};
}

// What each rename of a journal of version 1 left: a temporary still there is
// what its save wrote; one that is gone was renamed onto its target.
std::vector<RenameIds> IdsNow(const Finishing& x) {
  std::vector<RenameIds> ids;
  for (std::size_t r = 0; r < x.f.text.renames.size(); ++r) {
    const FileId target = FileIdOf(x.Target(r)), temp = FileIdOf(x.Temp(r));
    ids.push_back({temp.present ? temp : target, target});
  }
  return ids;
}

// Writes every copy of a journal of version 1 again with the ids of its files
// (CopyText), each atomically and keeping the time it was written (by which it
// is judged ended), the journal's own copy last. Empty when done; otherwise why
// not (the copies not written yet keep version 1).
std::string RecordIds(const Finishing& x, const std::vector<RenameIds>& ids) {
  FileSystem& sys = FileSystemInUse();
  std::vector<std::size_t> order;
  for (std::size_t k = 0; k < x.folders.size(); ++k)
    if (x.folders[k] != x.f.dir) order.push_back(k);
  for (std::size_t k = 0; k < x.folders.size(); ++k)
    if (x.folders[k] == x.f.dir) order.push_back(k);
  for (const std::size_t k : order) {
    const std::string path = InFolder(x.folders[k], x.f.name);
    const std::string temp =
        path.substr(0, path.size() - kJournalExtension.size()) + std::string(kJournalTempExtension);
    const std::string text = CopyText(x, k, ids);
    const int fd = CreateOwnFile(temp);
    bool ok = fd >= 0;
    int err = ok ? 0 : errno;
    for (std::size_t done = 0; ok && done < text.size();) {
      const ssize_t n = sys.Write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      err = n < 0 ? errno : ENOSPC;
      if (ok) done += static_cast<std::size_t>(n);
    }
    if (ok && ((SyncToDisk(fd) != 0 && errno != EINVAL && errno != EROFS) ||
               sys.SetModified(fd, x.f.file->modifiedAt()) != 0 || sys.Rename(temp, path) != 0)) {
      ok = false;
      err = errno;
    }
    if (!ok && fd >= 0) (void)sys.Unlink(temp);
    if (fd >= 0) sys.Close(fd);
    if (!ok) return SystemReason(path, err != 0 ? err : EIO) + " (the record that the set is mixed could not be kept)";
    SyncDirectory(x.folders[k], SyncSite::MixedRecorded);
  }
  return {};
}

// Removes every copy of the journal, the one read here last: while it is there,
// the set is found again.
void DropJournalCopies(const Finishing& x) {
  for (const std::string& folder : x.folders)
    if (folder != x.f.dir) (void)FileSystemInUse().Unlink(InFolder(folder, x.f.name));
  (void)FileSystemInUse().Unlink(x.f.path);
  SyncDirectories(x.folders, SyncSite::JournalDropped);
}

// Finishes the set of an ended journal: see the top of atomic_file.h. Empty when
// done or not due; otherwise the reason. When the journal stays for a later
// attempt, its targets are added to *unfinished. The decisions, in order: a
// journal someone holds waits; the folders are held; its copies (CheckCopies);
// a set already settled (Settled); its temporaries and targets
// (CheckTemporaries); the renames or removals (RenameOrRemove); the journal goes,
// or stays as the record of a mixed set.
std::string FinishJournal(const FoundJournal& f, std::vector<Unfinished>* unfinished) {
  if (!f.ended && !f.lingering) return {};
  Finishing x{f, unfinished, {}, {}, {}, {}, {}, true, {}};
  if (f.lingering) return x.Keep(LingeringReason(f.path));
  const JournalText& j = f.text;
  std::unordered_map<std::string, std::size_t> copyIndex;
  for (std::size_t k = 0; k < j.copies.size(); ++k) {
    x.folders.push_back(x.At(j.copies[k]));
    copyIndex.emplace(j.copies[k], k);
  }
  // No save of another instance runs in these folders while the set is finished.
  FolderLocks locks;
  std::string busy;
  if (!locks.Take(x.folders, &busy)) return x.Keep(busy);
  if (!f.file->Is(f.path)) return {};  // finished by another instance meanwhile
  x.namesIn.resize(x.folders.size());
  for (const auto& [temp, target] : j.renames) {
    std::string folder, tempName, targetName;
    SplitRelative(temp, &folder, &tempName);
    SplitRelative(target, &folder, &targetName);
    const std::size_t k = copyIndex.at(folder);
    x.folderOf.push_back(k);
    x.namesIn[k].push_back(tempName);
    x.namesIn[k].push_back(targetName);
  }
  if (std::string why = CheckCopies(&x); !why.empty()) return why;
  if (x.whole && Settled(x)) {
    const std::string note = MixedNote(x, x.f.text.ids);
    if (note.empty()) DropJournalCopies(x);
    return note;
  }
  if (std::string why = CheckTemporaries(&x); !why.empty()) return why;
  // Version 1 records no file: what the set's files are is recorded now, before
  // anything of it goes, so that a set it leaves mixed is said to be as one of
  // version 2 is.
  std::vector<RenameIds> ids = j.ids;
  if (ids.empty() && !x.overtaken.empty()) ids = IdsNow(x);
  if (std::string why = RenameOrRemove(&x); !why.empty()) return why;
  // Saved again after the journal was written: nothing of it replaced a newer
  // file and what it left went. While a target holds what it wrote, the journal
  // stays as the record that the set is mixed (Settled), so that no later load is
  // silent about it (one of version 1 is written again as of version 2 for that);
  // otherwise the load says so once.
  if (!x.overtaken.empty() && x.whole) {
    const std::string note = MixedNote(x, ids);
    if (!note.empty() && j.ids.empty()) {
      const std::string why = RecordIds(x, ids);
      return why.empty() ? note : note + "\n" + why;
    }
    if (!note.empty()) return note;
  }
  DropJournalCopies(x);
  if (!x.overtaken.empty())
    return x.overtaken + ": was saved again after the save recorded in " + f.path +
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

// A journal of a save that cannot be asked (another computer's) and is not yet
// taken for ended: that save may still be running, and its set may be half replaced.
bool ForeignAndLive(const FoundJournal& f) {
  return f.refused.empty() && !f.ended && f.file->kind() != Leftover::Missing &&
         OriginOf(f.owner.host) == Origin::Unknown;
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
    std::string real;
    if (!FileSystemInUse().RealPath(DirectoryPart(p.target), &real)) {
      *error = SystemReason(p.path, errno);
      return false;
    }
    const fs::path folder = real;
    files.emplace_back(folder / NamePart(p.temp), folder / NamePart(p.target));
    ids.push_back({FileIdOf(p.temp), FileIdOf(p.target)});
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  if (folders.size() > kMaxSetFolders) {
    *error = pending.front().path + ": the set spans " + std::to_string(folders.size()) +
             " folders, more than one save replaces together (at most " + std::to_string(kMaxSetFolders) + ")";
    return false;
  }
  for (const fs::path& f : folders) SyncDirectory(f.string(), SyncSite::TemporariesMade);
  // A name taken meanwhile (its temporary removed by another instance between its
  // making and its lock) is given up for another, as the temporaries of files are.
  for (int attempt = 0;; ++attempt) {
    // Asked each time: a child made by fork() has a pid and start time of its own.
    const long pid = FileSystemInUse().ProcessId();
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
    (void)FileSystemInUse().Unlink(InFolder(folder, name_));
    step_();
  }
  // The folders are not synced once more: a journal that a crash brings back names
  // temporaries renamed already, and the next load or save in its folder removes it.
  written_.clear();
  // The locks go once no copy is left to be taken for one of a running save.
  for (const int fd : fds_) {
    if (claim_) claim_->Remove(fd);
    FileSystemInUse().Close(fd);
  }
  fds_.clear();
}

void SetJournal::Leave() {
  written_.clear();
  for (const int fd : fds_) {
    if (claim_) claim_->Remove(fd);
    FileSystemInUse().Close(fd);
  }
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
    const ssize_t n = FileSystemInUse().Write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    err = n < 0 ? errno : ENOSPC;
    if (ok) done += static_cast<std::size_t>(n);
  }
  if (ok && !Unsynced(path) && SyncToDisk(fd) != 0 && errno != EINVAL && errno != EROFS) {
    ok = false;
    err = errno;
  }
  if (ok && FileSystemInUse().Rename(temp, path) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    if (fd >= 0) {
      (void)FileSystemInUse().Unlink(temp);
      FileSystemInUse().Close(fd);
    }
    return err != 0 ? err : EIO;
  }
  fds_.push_back(fd);
  if (claim_) claim_->Add(fd, ClaimKind::Journal);
  SyncDirectory(folder, SyncSite::JournalWritten);
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
  std::string waited;  // how a wait for held files ended, when they stayed held
  for (int round = 0;; ++round) {
    if (!locks->Take(all, why)) {
      // Another instance keeps a folder of a set left here: the save takes its own
      // folders, and that set (unless it names a target) is left for later.
      if (all.size() == folders.size() || !locks->Take(folders, why)) return false;
      states.clear();
      for (const std::string& folder : folders) states.push_back(LookAt(folder));
      waited = WaitForLetGo(&states);
      break;
    }
    states.clear();
    for (const std::string& folder : folders) states.push_back(LookAt(folder));
    waited = WaitForLetGo(&states);
    std::vector<std::string> wanted = FoldersOfEndedJournals(states);
    const bool allHeld = std::all_of(wanted.begin(), wanted.end(), [](const std::string& f) {
      struct stat st {};
      return FileSystemInUse().Stat(f, &st) != 0 || FolderHeldHere(f, true);
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
  say(waited);
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
      if (!JournalOwnerOf(entry, kJournalTempExtension, &owner)) continue;
      Leftover file(InFolder(s.dir, entry));
      if (ProvenEnded(owner.host, AsTempOwner(owner), file)) (void)file.Remove();
    }
    // A save sweeps its folder of the temporaries that ended saves left, of its
    // targets and of every other file (a save killed while writing leaves them
    // before any journal names them); while a set stays unfinished here, its
    // temporaries are kept for it, and those of running saves are held by them.
    if (targets.empty()) continue;
    std::vector<std::string> names;
    for (const std::string& t : targets)
      if (DirectoryPart(t) == s.dir) names.push_back(NamePart(t));
    for (const std::string& entry : s.entries) {
      const std::size_t mark = entry.rfind(kTempMark);
      if (entry.size() > 1 && entry[0] == '.' && mark != std::string::npos && mark > 1)
        names.push_back(entry.substr(1, mark - 1));
    }
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

std::vector<FolderReading::Seen> FolderReading::Generation() const {
  FileSystem& sys = FileSystemInUse();
  std::vector<Seen> seen;
  for (const std::string& p : paths_) {
    struct stat st {};
    if (sys.Stat(p, &st) != 0) {
      seen.push_back({p, "missing"});
      continue;
    }
    seen.push_back({p, std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + " " +
                           std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec)});
  }
  std::vector<Seen> journals;
  for (const std::string& folder : folders_)
    for (const std::string& entry : FolderEntries(folder))
      if (IsJournalName(entry)) journals.push_back({InFolder(folder, entry), "journal"});
  std::sort(journals.begin(), journals.end(), [](const Seen& a, const Seen& b) { return a.file < b.file; });
  seen.insert(seen.end(), journals.begin(), journals.end());
  return seen;
}

bool FolderReading::Unchanged() const { return Generation() == generation_; }

void FolderReading::Renew() { generation_ = Generation(); }

std::vector<std::string> FolderReading::ChangedFiles() const {
  const std::vector<Seen> now = Generation();
  std::vector<std::string> changed;
  auto in = [](const std::vector<Seen>& list, const Seen& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
  };
  auto add = [&](const std::string& file) {
    if (std::find(changed.begin(), changed.end(), file) == changed.end()) changed.push_back(file);
  };
  // A file given twice has one state: each file and each journal is looked at once.
  for (const Seen& s : now)
    if (!in(generation_, s)) add(s.file);
  for (const Seen& s : generation_)
    if (!in(now, s)) add(s.file);
  return changed;
}

FolderReading::SetRead FolderReading::AfterReading(int attempt, std::string* why) {
  if (Unchanged()) return SetRead::Whole;
  if (attempt == 0) {
    Renew();
    return SetRead::ReadAgain;
  }
  if (why) {
    *why = ChangedNote() + ":";
    for (const std::string& file : ChangedFiles()) *why += "\n" + file;
  }
  return SetRead::Refused;
}

std::string FolderReading::ChangedNote() {
  return "the files were changed while they were read (a save of the program on another computer, on a share "
         "whose locks do not reach it, or of another program), again when they were read once more; they may "
         "come from different saves and are not taken";
}

FolderReading::FolderReading(const std::vector<std::string>& paths) : paths_(paths) {
  // The folders of the files read, as a save of them holds them: a symbolic link
  // to a file stands for the file's folder.
  std::vector<std::string> folders;
  for (const std::string& p : paths) {
    const std::string folder = DirectoryPart(ReplacedFile(p));
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  folders_ = folders;
  // The folders are held as a reader and looked at: a set an ended save left there
  // is finished (the hold let go, as a recovery holds them as a save does) and the
  // hold taken again. The files are never read unheld without a note.
  std::string recovered, busy, left, foreign, refused, lingering, waited;
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
    waited = WaitForLetGo(&states);
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
  if (!waited.empty() && unfinished.find(waited) == std::string::npos)
    unfinished += (unfinished.empty() ? "" : "\n") + waited;
  // Folders another instance kept were not looked at under their lock: what is
  // held there is named all the same, without a wait (the wait was the folder's).
  if (!busy.empty()) {
    std::vector<FolderState> states;
    for (const std::string& folder : folders) states.push_back(LookAt(folder));
    const std::string held = HeldFilesNote(states);
    if (!held.empty() && unfinished.find(held) == std::string::npos)
      unfinished += (unfinished.empty() ? "" : "\n") + held;
  }
  note_ = InterruptedSaveNote(unfinished);
  generation_ = Generation();
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
