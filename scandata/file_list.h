// The stored file list: the full paths of the current scan set in display order,
// through which reloads, the time-stamp correction and batch series work; the
// scan-list file that writes and reads it; and the small edits of the list used by
// series fits.
//
// Scan-list file (text):
//   newformat n=N      optional; N (1 to 9999) consecutive files make one scan, the first of
//                      each group is loaded (without the header N = 1 and every '_'
//                      of the file reads as '.')
//   <directory>        no trailing '/'
//   <name.ext>         one per line, up to the first empty line
// '%' starts a comment that runs to the end of its line. A list whose only line is
// a path names that one file.
#pragma once

#include "numerics/analysis.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct FileListState {
  int nStoredFiles = 0;
  std::vector<std::string> ppStoredFileNames{};  // [1..nStoredFiles], full paths
};
// The current analysis' FileListState.
inline FileListState& FileList() { return CurrentPart<FileListState>(); }

// Replaces the stored list by the full paths of the loaded scans in display order,
// leaving out scan number excludeScan when it is > 0.
void StoreFileList(int excludeScan);
// Empties the stored list.
void FreeFileList();

// Writes the stored list as "list_corr" with the first file's extension in that
// file's directory; only when the list names every loaded scan. False (after the
// error box) when the file cannot be written, or when the list does not match.
bool WriteScanListFile();
// Path of the list file that WriteScanListFile writes for the stored list.
std::string ScanListFilePath();

// The header line of a scan list: present when line 1 begins with the word
// "newformat" (any case); then either the number of files per scan (from "n=N",
// blanks of any kind and number after the word and around "=" and N) or what line 1
// holds and why it is no header (after "line 1 holds ").
struct ScanListHeader {
  bool present = false;
  int filesPerScan = 1;
  std::string why;
};
ScanListHeader ReadScanListHeader(std::string_view line);

// Reads a scan-list file into the stored list and sets nFilesPerScan and
// szDataDirectory. With releaseLoadedSet (the list-driven series) a readable list
// releases the loaded data set and sets nScans to the number of listed scans, which
// LoadDataFromFileList then loads; a list of more than kMaxScans scans ("too many
// scans selected") leaves the set released and the stored list unchanged. Without
// it (a list chosen in "Load New Files") the loaded set stays until the new one
// has loaded. False, with nothing changed (after a message naming the file and the
// reason), when the file cannot be read or is no plain text, its "newformat n="
// holds no whole number from 1 to 9999, or it names no file.
bool ReadScanListFile(Window* window, const char* path, bool releaseLoadedSet = true);

// Replaces the last character of the extension of each of the first nScans stored
// files by the cell digit 0..8; other values change nothing.
void ChangeCellInFileList(int cell);
// Replaces the last directory component of every stored path by the number.
void ChangeSubdirInFileList(int number);
// 1 when each of the first nScans stored files can be opened for reading, 0 at
// the first that cannot.
int CheckListedFilesExist();

}  // namespace tarmic
