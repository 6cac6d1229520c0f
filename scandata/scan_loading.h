// Loading scan files into the data set: "Load New Files", the reloads of the stored
// file list, "Add More Files", and the small files kept beside the data (the
// distribution grid, the equilibrium profile).
//
// A load reads every file first and replaces the loaded set only when all of them
// could be read: a failed or cancelled load leaves the previous set, and the kind
// of its data, as they were. The loaders' boxes go to the commands
// (ShowLoadMessage, scandata/data_set_hooks.h) at the moment they are due.
#pragma once

#include "services/answer_policy.h"
#include <string>
#include <vector>

#include "storage/atomic_file.h"

namespace tarmic {

class Window;

// Builds the selection buffer of the open-file dialog from full paths: one path as
// it is; two or more as their common directory followed by the names (the paths
// must share one directory). Strings are zero-terminated, the buffer ends with an
// empty string.
std::string MakeSelectionBuffer(const std::vector<std::string>& fullPaths);
// The files of a selection buffer: one full path, or a directory and names.
struct FileSelection {
  std::string directory;  // without trailing '/'
  std::vector<std::string> names;
  bool single = false;    // one file, given by its full path
};
// False for an empty buffer.
bool ParseFileSelection(const char* buffer, FileSelection* out);

// "Load New Files": loads the files of a selection buffer as the new data set.
// False (reported) when no new set was loaded: the loaded set, its equilibrium
// mode and the reader's switches stay as they were.
// The time stamps' questions after a load are asked of answers (the front end's
// policy, from the command), in every load and reload below.
bool LoadAllData(Window* window, const char* selection, const AnswerPolicy& answers);
// Reloads the stored file list with the same steps and titles the window; false
// (reported, set untouched) when the list could not be read.
bool ReloadDataSelection(Window* window, const AnswerPolicy& answers);
// Reloads the stored file list without questions and runs the current analysis.
void LoadDataFromFileList(Window* window, const AnswerPolicy& answers);
// "Add More Files": reads the files of a selection buffer into the loaded set; a
// file that cannot be read is reported and left out.
void AddMoreData(Window* window, const char* selection, const AnswerPolicy& answers);

// A note of a reader on a file it read: the file's path and the note ("line 2
// holds the omega^2 t 0 at a time above 0: ...", ScanHeaderRefusal).
struct FileNote {
  std::string path;
  std::string text;
};
// Shows the notes of the files of one load in one "ATTENTION" box (handed to the
// commands, ShowLoadMessage), each note once with the first file that holds it and
// the number of others; in realtime and batch runs they go to the diagnostics log
// instead. Nothing without notes. The loaders
// call it after a load that succeeded (not for the reloads that repeat the
// analysis of the loaded set).
void ShowFileNotes(Window* window, const std::vector<FileNote>& notes);

// Says what the FolderReading of a load (storage/atomic_file.h: it finishes the
// saves of sets that a program ended during their renames left in the folders of
// the files, and holds those folders while they are read) could not do: a set that
// cannot be finished (a read-only folder, a folder of the set out of reach, a
// journal not obeyed), or a save of another instance that kept the folder, in an
// "ATTENTION" box (the diagnostics log in realtime and batch runs): the files may
// come from two saves. Every loader of files the program saves holds one while it
// reads them.
void FinishInterruptedSaves(Window* window, const FolderReading& reading);

// Titles the window after the set loaded last, named by the path of its first file,
// with the set's data mode (ShowDataModeInTitle). Every loader that replaces the set
// calls it once the load has succeeded, so the title never names a set that is gone.
void TitleWindowWithLoadedSet(Window* window, const std::string& firstPath);
// Marks the window title with the data mode of the loaded set: equilibrium data
// end the title with kEquilibriumTitleMark, other data carry no mark.
void ShowDataModeInTitle(Window* window);
inline constexpr const char* kEquilibriumTitleMark = "   [Equilibrium Data Mode]";

// The distribution grid beside the data ("sdist" with the data's extension): one
// value a line, rising, then the line "end <count of the values>", which shows the
// grid whole (a file cut at a line end looks whole otherwise).
// values[1..n] (one-based) are written.
bool SaveDistributionGrid(const float* values, int n);
// The grid of the file at path; false with the message naming the file and the
// line in *why: a line that is no number, a grid that does not rise, no end line,
// an end line whose count is not that of the values before it, or a line after it.
bool ReadDistributionGrid(const std::string& path, std::vector<float>* grid, std::string* why);
// A new vector [1..n] of the saved grid, or null (n untouched) when there is none
// or it is refused (the message goes into the error box).
float* LoadDistributionGrid(int* n);

// Writes the model values of the last displayed scan on its radii as a scan file
// with the description "equilibrium". False when it could not be written.
bool SaveEquilibriumProfile(const char* path);

}  // namespace tarmic
