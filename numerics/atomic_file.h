// Replacing a file only when its new content was written completely.
//
// The bytes go into a temporary file in the target's directory (so that the final
// rename stays within one file system and is atomic); the temporary is flushed,
// synced to the disk and closed, every step checked, and only then renamed over
// the target. On any failure the target keeps its old content (or stays absent),
// the temporary is removed and the error names the path and the reason.
//
// The temporary of "dir/name" is "dir/.name.tmp-<host>-<pid>-<n>.part": hidden,
// and with an extension that no loader and no file filter of the program takes,
// so that one left behind by a program that was ended during a save is never read
// as data. When a target is written, the temporaries of it that processes of this
// host no longer running left behind are removed first (those of a running
// instance stay).
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace tarmic {

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
  // Closes and removes the temporary; the target is left as it was.
  void Discard();
  // "<path>: <reason>" of the last failure; empty when there was none.
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  void Fail(int err);
  // Flush, sync and close of the temporary; false (temporary removed) on failure.
  bool Close();

  std::string path_;     // the target as given
  std::string target_;   // the file actually replaced (a symbolic link followed)
  std::string temp_;     // the temporary, empty when there is none
  std::FILE* file_ = nullptr;
  std::string error_;
  std::function<void()> onReplaced_;
  bool handedOver_ = false;  // committed, or given to a batch
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
  // old contents (their temporaries removed) and are listed in NotReplaced().
  bool Commit();
  // Removes every temporary still held and closes the batch; nothing is replaced.
  void Discard();
  // Targets (as given) that were not replaced by Commit(); after Discard(), all.
  const std::vector<std::string>& NotReplaced() const { return notReplaced_; }
  // "<path>: <reason>" of the rename that failed; empty when none did.
  const std::string& Error() const { return error_; }
  // Targets whose file could not be written while the batch was open (an
  // AtomicFile that ended without being committed).
  const std::vector<std::string>& Failed() const { return failed_; }
  // The usual end of a set: with a failed write, Discard(); else Commit(). Empty
  // when every target was replaced; otherwise the report: "could not write:" with
  // the files that failed (and why, where known) and, when others had been written, "none of the set was
  // replaced:" with those; or "could not replace:" with the targets a failed
  // rename left, followed by the reason.
  std::string Finish();

  // Used by AtomicFile::Commit: takes a closed temporary for target.
  void Take(std::string path, std::string temp, std::string target, std::function<void()> onReplaced);
  // A target that could not be written, with "<path>: <reason>" when known.
  void NoteFailure(const std::string& path, const std::string& why = std::string()) {
    failed_.push_back(path);
    failedWhy_.push_back(why.empty() ? path : why);
  }
  // The result of a writer of path: a failure it reported without an AtomicFile
  // (refused arguments) is noted as well, once.
  void Check(const std::string& path, bool written) {
    if (!written && (failed_.empty() || failed_.back() != path)) NoteFailure(path);
  }
  // The batch open on this thread, or null.
  static AtomicFileBatch* Current();

 private:
  struct Pending {
    std::string path, temp, target;
    std::function<void()> onReplaced;
  };
  std::vector<Pending> pending_;
  AtomicFileBatch* outer_ = nullptr;  // the batch this one is part of, or null
  std::vector<std::string> notReplaced_;
  std::vector<std::string> failed_;
  std::vector<std::string> failedWhy_;
  std::string error_;
};

// Whether a file name (without directory) is that of a save's temporary, as this
// program names them or named them before ("name.tmp<pid>_<n>"): a loader and a
// reader of folders leave such files alone.
bool IsSaveTemporaryName(const std::string& fileName);

// Writes the file through write(stream) (which returns false when it failed) and
// replaces path only when write and the commit succeeded. *error (when given)
// receives "<path>: <reason>" on failure.
bool WriteFileAtomically(const std::string& path,
                         const std::function<bool(std::FILE*)>& write,
                         std::string* error = nullptr);
// The same for a complete text.
bool WriteTextFileAtomically(const std::string& path, const std::string& text,
                             std::string* error = nullptr);

}  // namespace tarmic
