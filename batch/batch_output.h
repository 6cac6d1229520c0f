// Where the results of a tarmic-batch run go, and what a run leaves when it ends.
//
// A run computes and saves its results into a folder of its own (the staging
// folder, under the run's temporary folder); only a whole result set is then
// published into the output folder, as one set of the storage layer
// (AtomicFileBatch: every file complete before any is replaced, the renames under
// the output folder's lock with a journal), so that runs beside it, in this or
// another process, never see or leave a mixture of two sets. Before the analysis
// starts, the output folder is made and a file is made in it and removed again:
// a folder that cannot take the results refuses the run (exit 2) before anything
// is computed. A run that ends without results removes the folders it made (when
// they are empty), also when it is ended by SIGINT or SIGTERM, which remove the
// run's temporary folder as well.
//
// Thread rules: one run per process, on the main thread (the signal handlers know
// one run's folders).
#pragma once

#include <string>
#include <vector>

namespace tarmic {

// The output folder of one run. Prepare() makes it (with the folders above it that
// are missing); the destructor removes what it made, deepest first and only while
// empty, unless Keep() was called.
class OutputFolder {
 public:
  explicit OutputFolder(std::string dir) : dir_(std::move(dir)) {}
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Makes the folder and checks that a file can be made in it; empty when the
  // results can be written, otherwise why not ("<folder>: <reason>").
  std::string Prepare();
  // The results are there: the folders made stay.
  void Keep();
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
  std::vector<std::string> made_;  // deepest first
};

// Empty when a file can be written into dir and synced to its disk (a block of
// 4 KiB, removed again); else why not.
std::string FolderProbeRefusal(const std::string& dir);

// The start of the name of this process's run folder in the temporary directory:
// "tarmic-batch.HOST.PID.", so that a later run knows whose folder it is.
std::string RunFolderPrefix();
// Removes the run folders in tempDir of runs on this host whose process is gone
// (killed, or ended by a signal no handler sees), owned by this user; returns how
// many. The folders of live runs stay.
int SweepDeadRunFolders(const std::string& tempDir);

// Installs the SIGINT, SIGTERM and SIGHUP handlers of the run: they remove
// runFolder (the run's temporary folder, with everything in it) and the empty
// output folders the run made, then end the process by the signal. SIGPIPE is
// ignored: a closed pipe is a failed write, which the run reports. Called once, before anything is
// written; the handlers stay for the life of the process.
void CleanUpOnSignals(const std::string& runFolder);

enum class Published {
  Whole,    // every file of the set replaced its target
  Exists,   // a target exists and may not be replaced: nothing was written
  NotSaved  // the set could not be written: nothing of it was replaced
};
struct PublishOutcome {
  Published outcome = Published::NotSaved;
  std::string message;  // one line for the error stream (the existing file, or why)
  // Files of the set replaced that were kept: no longer the file its manifest lists.
  std::vector<std::string> kept;
};
// Publishes the files staged (full paths) into dir under their names, as one set.
// The output folder is held while the targets are looked at and replaced, so that
// no other save into it runs between the check and the renames. Without replace,
// an existing target refuses the set (Exists). With replace, the files the old
// manifest lists that the new set does not hold are removed under the same hold,
// so that the folder holds one analysis' results; each only while its size and
// SHA-256 are still those listed: a file changed since is kept (and named in
// kept), and a file no manifest lists is never removed. The clean-up signals wait
// until the set is replaced or given up.
PublishOutcome PublishResultSet(const std::vector<std::string>& staged, const std::string& dir, bool replace);

}  // namespace tarmic
