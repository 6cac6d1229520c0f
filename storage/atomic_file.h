// Replacing a file only when its new content was written completely.
//
// The bytes go into a temporary file in the target's directory (so that the final
// rename stays within one file system and is atomic); the temporary is flushed,
// synced to the disk and closed, every step checked, and only then renamed over
// the target. On any failure the target keeps its old content (or stays absent),
// the temporary is removed and the error names the path and the reason.
//
// The temporary of "dir/name" is "dir/.name.tmp-<host>.<machine>.<boot>-<pid>-<start>-<n>.part":
// hidden, and with an extension that no loader and no file filter of the program
// takes, so that one left behind by a program that was ended during a save is never
// read as data. Its name says where its save runs: the host's name, and hashes of
// the machine's id and of its boot's id (HostTag in save_parts.h). Its maker holds
// a lock on it until it is renamed or removed (see LockOwnFile in save_parts.h):
// when a target is committed, the temporaries in its folder (of it and of any other
// file: a save killed while writing leaves them) that saves surely ended left are
// removed, holding the folder and judged from a listing made while it is held. A
// save has surely ended (ProvenEnded) when nobody holds its file, shared or
// exclusive, and it ran in this boot of this machine and let go of its lock (on a
// file system that does not lock: its pid no longer runs with its start), or it ran
// in an earlier boot of this machine, or its file has not changed for an hour
// (kLongestSave). So the temporaries of a running instance stay, whatever pid
// namespace it runs in, and so do those of another computer that shares the folder
// under the same host name, whose locks a share may not pass on and whose pids mean
// nothing here. Only regular files are removed, and a save renames only the file it
// made.
//
// A set of two or more files (AtomicFileBatch) is replaced by one rename per file.
// So that a program ended among those renames (a kill, a crash, a power cut) does
// not leave a set of which some files are new and some old, the renames are
// written down first: once every temporary is complete and on the disk, a journal
// naming the temporaries and their targets is written (atomically, as a file is)
// into every folder the set touches, then the renames are done, then the journals
// are removed. The next save or load in one of those folders that finds a journal
// whose save has surely ended (by the rule above) finishes what it names
// (RecoverInterruptedSaves): with every copy of the journal present, the
// temporaries still there are renamed over their targets (the others were renamed
// already) and the set is new; with a copy missing, the program ended while
// writing the journals, before any rename, or after the last one, and the
// temporaries left are removed. Either way the set is whole. The journal
// ".tarmic-save-<host>-<pid>-<start>-<n>.journal" is hidden and names its process.
//
// A journal is obeyed only as far as it names what a save of this program wrote
// for its set: plain names in folders that hold a copy of it, temporaries named as
// its own process names them, each target in its temporary's folder, and no more
// files than a set of this program holds. Any other (put into a shared folder by
// anyone, with absolute paths or ".." to files elsewhere, naming the temporaries of
// another save), and one that does not read as a journal, is left alone and
// reported. A temporary that is not a regular file (a symbolic link, a pipe, a
// device) or that someone holds is never renamed or removed: the journal stays and
// says why, naming the set's file. A file held for a moment (a killed save lets
// its files go one by one) is waited for first, briefly: 2 s in all for a save or a
// load, after which it says how the wait ended (the file not let go, or the wait
// given up with a key). A held temporary or copy of the journal leaves the set as
// it is, whoever holds it (with a shared lock as well), and its targets are not
// saved over meanwhile. A set
// that can no longer be made whole (a target saved again meanwhile) keeps its
// journal as the record that its files come from different saves: every load says
// so until none of its targets holds what the save wrote (a journal of an earlier
// version, which records no file, is written again with what its files are when
// it is finished so). No temporary a journal still names is ever removed as stale.
// What a save finds there and cannot finish is told to the user when it ends
// (FolderWaitHooks::tell), as a load tells it in its note. A save whose renames fail partway keeps
// its journal, so that the set is finished later (and said to be mixed until then). A folder of the set that cannot be read at recovery (not mounted,
// moved, no permission) is never taken for one whose copy was removed: the journal
// stays and the set is finished once the folder is back. The renames of a save and
// of a recovery are done holding the folders they touch, and loads hold the
// folders they read (folder_lock.h), so that two instances saving one set never
// interleave theirs and no load reads a set half replaced.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "storage/file_system.h"
#include "storage/folder_lock.h"

namespace tarmic {

namespace save_parts {
class SaveClaim;
}

class AtomicFile {
 public:
  // Creates the temporary next to path; IsOpen() tells whether that succeeded.
  explicit AtomicFile(std::string path);
  ~AtomicFile();  // discards the temporary unless Commit() succeeded
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // The stream to write to (text as with fopen "w"); nullptr when not open.
  std::FILE* File() const { return file_; }
  // Flushes, syncs and closes the temporary and renames it over the target.
  // False (target untouched, temporary removed, Error() set) when any step or any
  // earlier write into File() failed. While an AtomicFileBatch is open on this
  // thread the closed temporary is handed to the batch instead, which renames it
  // with the others (true then means: written completely).
  bool Commit();
  // An action that runs once the target has been replaced (file times of a copy).
  void OnReplaced(std::function<void()> action) { onReplaced_ = std::move(action); }
  // Closes and removes the temporary; the target is left as it was. A write into
  // File() that failed is recorded in Error() with its reason.
  void Discard();
  // "<path>: <reason>" of the last failure; empty when there was none.
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }
  // What the commit found of sets that ended saves left in the target's folder
  // and that it could not finish or that stay mixed, and of journals it does not
  // obey: one line each (as RecoverInterruptedSaves reports them); empty when none.
  const std::string& FolderReport() const { return folderReport_; }

 private:
  void Fail(int err);
  // Fail() with the reason of a failed write into the open stream, if any.
  void NoteStreamFailure();
  // Flush, sync and close of the temporary; false (temporary removed) on failure.
  bool Close();

  std::string path_;     // the target as given
  std::string target_;   // the file actually replaced (a symbolic link followed)
  std::string temp_;     // the temporary, empty when there is none
  int lockFd_ = -1;      // holds the temporary's lock until it is renamed or removed
  std::unique_ptr<save_parts::SaveClaim> claim_;  // of a file saved alone (save_parts.h)
  std::FILE* file_ = nullptr;
  std::string error_;
  std::function<void()> onReplaced_;
  bool handedOver_ = false;  // committed, or given to a batch
  std::string folderReport_;
  FolderWaitScope wait_;     // one allowance for the waits of this save
};

// A set of files that replace their targets together. While a batch is open, every
// AtomicFile committed on this thread (WriteFileAtomically, the scan and value
// writers) leaves its complete temporary with the batch. Commit() renames them all
// in the order written; Discard() or the destructor removes the temporaries that
// were not renamed, so a set whose writing failed leaves every target as it was.
// A target that is a directory is refused at its write (a rename could not replace
// it). A batch opened while another is open on the thread is part of it: its
// Commit() hands the written temporaries to the outer batch, which replaces them
// with its own, and a failed write of the inner batch is a failure of the outer.
class AtomicFileBatch {
 public:
  AtomicFileBatch();
  ~AtomicFileBatch();  // Discard()
  AtomicFileBatch(const AtomicFileBatch&) = delete;
  AtomicFileBatch& operator=(const AtomicFileBatch&) = delete;

  // Renames every temporary over its target and closes the batch. False when a
  // rename failed: the targets renamed before it stay replaced, the rest keep their
  // old contents and are listed in NotReplaced(); their temporaries stay with the
  // set's journal, which the next load or save in its folders finishes once it can
  // (until then loads say the set may be mixed). False
  // with nothing replaced when another instance kept a folder of the set for the
  // whole wait, or a set an ended save left there cannot be finished now.
  bool Commit();
  // Removes every temporary still held and closes the batch; nothing is replaced.
  void Discard();
  // Targets (as given) that were not replaced by Commit(); after Discard(), all.
  const std::vector<std::string>& NotReplaced() const { return notReplaced_; }
  // "<path>: <reason>" of the rename that failed; empty when none did.
  const std::string& Error() const { return error_; }
  // What the commit found in the set's folders, as AtomicFile::FolderReport.
  const std::string& FolderReport() const { return folderReport_; }
  // Targets whose file could not be written while the batch was open (an
  // AtomicFile that ended without being committed).
  const std::vector<std::string>& Failed() const { return failed_; }
  // The files written into the batch and not yet replaced, in the order written:
  // each target (as given) with its complete temporary, which the writer may read
  // back before Commit().
  std::vector<std::pair<std::string, std::string>> Written() const;
  // The files written into this batch and into those it is part of.
  std::size_t FilesInSet() const;
  // The usual end of a set: with a failed write, Discard(); else Commit(). Empty
  // when every target was replaced; otherwise the report: "could not write:" with
  // the files that failed (and why, where known) and, when others had been written, "none of the set was
  // replaced:" with those; or "could not replace:" with the targets a failed
  // rename left, followed by the reason (and, when files before it were replaced,
  // that the set is finished later and may be mixed until then).
  std::string Finish();

  // Used by AtomicFile::Commit: takes a closed temporary for target, with the
  // descriptor that holds its lock (closed by the batch once it is renamed or removed).
  void Take(std::string path, std::string temp, std::string target, int lockFd,
            std::function<void()> onReplaced);
  // A target that could not be written, with "<path>: <reason>" when known.
  void NoteFailure(const std::string& path, const std::string& why = std::string()) {
    failed_.push_back(path);
    failedWhy_.push_back(why.empty() ? path : why);
  }
  // The result of a writer of path: a failure it reported without an AtomicFile
  // (refused arguments) is noted as well, once, with its reason when one was recorded.
  void Check(const std::string& path, bool written);
  // The batch open on this thread, or null.
  static AtomicFileBatch* Current();

 private:
  struct Pending {
    std::string path, temp, target;
    int lockFd = -1;
    std::function<void()> onReplaced;
  };
  // Removes the temporary of p (if it is still the file made) and lets it go.
  void Drop(Pending& p);
  // Whether another process renamed any of the set's new content onto its target.
  static bool AnyInPlace(const std::vector<Pending>& pending);
  FolderWaitScope wait_;  // one allowance for the waits of the whole set
  std::unique_ptr<save_parts::SaveClaim> claim_;  // of the set's files (save_parts.h)
  std::vector<Pending> pending_;
  AtomicFileBatch* outer_ = nullptr;  // the batch this one is part of, or null
  std::vector<std::string> notReplaced_;
  std::vector<std::string> failed_;
  std::vector<std::string> failedWhy_;
  std::string error_;
  std::string folderReport_;
  bool leftPartway_ = false;  // renames stopped partway: the journal stays
};

// Whether a file name (without directory) is that of a save's temporary, as this
// program names them or named them before ("name.tmp<pid>_<n>"), or of the journal
// of a set's renames: a loader and a reader of folders leave such files alone.
bool IsSaveTemporaryName(const std::string& fileName);

// Finishes the replacement of the sets whose journal lies in dir and that nobody
// holds (see the top of this file); journals of running saves stay. It holds the
// folder (and those of the sets) while it does, as every commit does for its
// targets' folders; every load runs it through FolderReading. A journal records
// what each temporary and target was: a temporary that is gone counts as renamed
// only when its target is that file, and a target saved again since is never
// replaced.
// Empty when nothing was left unfinished; otherwise, one line per set,
// "<path>: <reason>" of the step that failed (a read-only folder, a folder of the
// set that cannot be read, another instance saving there, a temporary that is not
// a regular file) or of a journal that is not obeyed or does not read as one: the
// journal stays.
std::string RecoverInterruptedSaves(const std::string& dir);
// The same for the folders of the given files, each folder once.
std::string RecoverInterruptedSavesOf(const std::vector<std::string>& paths);

// What every load of files that the program saves holds while it reads them: it
// finishes the sets that ended saves left in the files' folders and then holds
// those folders as a reader until it is destroyed, so that no save of another
// instance replaces files of a set while they are read. It waits for a save in
// progress as a save waits (folder_lock.h). Note() is what the load tells:
// InterruptedSaveNote of the sets not finished, and why the folders could not be
// held (the files are read all the same); empty when all went well.
class FolderReading {
 public:
  explicit FolderReading(const std::vector<std::string>& paths);
  FolderReading(const FolderReading&) = delete;
  FolderReading& operator=(const FolderReading&) = delete;
  const std::string& Note() const { return note_; }
  // Whether the set read is the one held: each file the same (device, inode, size,
  // modification time) and the same journals in its folders as when the hold was
  // taken. On a share whose locks do not reach other computers, a save there may
  // replace files of the set while they are read; a load asks this once it has
  // read them, and reads again or refuses (ChangedNote) when it is false.
  bool Unchanged() const;
  // Takes the present state as the one held (before a load reads again).
  void Renew();
  static std::string ChangedNote();
  // The files of the set (and journals in their folders) whose state is not the
  // one held, in the order given (journals last); empty when Unchanged().
  std::vector<std::string> ChangedFiles() const;
  // What a load of several files as one set does once it has read them all, the
  // attempt-th time (from 0): Whole when they are the set held; ReadAgain the
  // first time they changed (the present state is then the one held); Refused
  // when they changed again, with ChangedNote and the files changed, one a line,
  // in *why. The one before/after compare of every reader of a set of files.
  enum class SetRead { Whole, ReadAgain, Refused };
  SetRead AfterReading(int attempt, std::string* why);

 private:
  // What Unchanged compares: one line per file and per journal in its folders,
  // each with the file it is of.
  struct Seen {
    std::string file, state;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> Generation() const;
  FolderWaitScope wait_;
  FolderLocks locks_;
  std::string note_;
  std::vector<std::string> paths_, folders_;
  std::vector<Seen> generation_;
};
// What a load tells of a set it could not finish: the note with why (what the two
// above returned) after it; empty when why is.
std::string InterruptedSaveNote(const std::string& why);

// For tests: called with 0, 1, 2, ... at each step of a set's replacement: 0 when
// every temporary is complete, then after each journal written, each rename done
// and each journal removed. Null (the default) calls nothing.
using SaveStepHook = void (*)(int step);
void SetSaveStepHookForTesting(SaveStepHook hook);
// For tests: called with 0, 1, 2, ... after each rename a recovery does.
void SetRecoveryStepHookForTesting(SaveStepHook hook);


// For tests: what the saves and loads of this process have looked at so far
// (folder listings, the entries they gave, journals read) and the syncs they asked
// of the disk (files and folders), to count a save's work against the size of its set.
struct StorageWork {
  unsigned long long listings = 0, entries = 0, journalReads = 0, syncs = 0;
};
StorageWork StorageWorkForTesting();

// A folder whose files are a staging copy, made durable only where it is published
// (a batch run's results, staged in its temporary folder and then copied into the
// output folder as one synced set with its journal): files saved under it, and its
// folder entries, are not synced to the disk, so that each result is synced once.
// Set before any save starts, on the main thread; empty (the default): every file
// is synced. The folder belongs to the file system in use (FileSystem::unsyncedFolder).
void SetUnsyncedFolder(const std::string& folder);

// How a failed save gives the system's reason. "<path>: <reason>" of the latest
// failure an atomic write of path met on this thread (opening the temporary,
// writing, syncing, renaming); empty when the latest recorded failure was of
// another file.
std::string SaveFailureReason(const std::string& path);
// "<path>: <strerror(err)>".
std::string SystemReason(const std::string& path, int err);
// The message with the reason on a line of its own after it ("<path>: <reason>");
// the message alone when the reason is empty, and when the message's last line is
// the bare path, that line gives way to the reason.
std::string WithReason(const std::string& message, const std::string& reason);

// Writes the file through write(stream) (which returns false when it failed) and
// replaces path only when write and the commit succeeded. *error (when given)
// receives "<path>: <reason>" on failure.
bool WriteFileAtomically(const std::string& path,
                         const std::function<bool(std::FILE*)>& write,
                         std::string* error = nullptr);
// The same for a complete text.
bool WriteTextFileAtomically(const std::string& path, const std::string& text,
                             std::string* error = nullptr);

// Adds text at the end of a log file (diagnostics written as the program runs),
// through the file system in use; startAnew replaces the file whole with text
// first (as a save does), so that a log begins each run empty. A log is not a
// saved set: an append is not synced, and a file that is not a regular one (a
// folder, a pipe, a device) is refused, not written. *error (when given)
// receives "<path>: <reason>" on failure.
bool AppendToFile(const std::string& path, const std::string& text, bool startAnew,
                  std::string* error = nullptr);

// Copies the bytes of the regular file from into to as a save writes a file: into
// a temporary beside to, synced, then renamed over it, so that to is either as it
// was or the whole copy, whatever ends the program meanwhile. The copy has to's
// permission bits when it replaces a file, else those of a new file, not from's.
// onReplaced (when given) runs once to has been replaced (the file times of the
// copy). False when from cannot be read (not there, no regular file: a folder or a
// pipe is refused, not read) or to cannot be written: *error (when given) receives
// "<path>: <reason>" naming the file that failed, and nothing is left behind.
bool CopyFileAtomically(const std::string& from, const std::string& to, std::string* error = nullptr,
                        std::function<void()> onReplaced = {});

}  // namespace tarmic
