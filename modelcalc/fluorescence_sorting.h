// Sorting fluorescence scans to disk: copies of the scan files in the
// sub-folder "sorted" under names that carry the detector voltage, range and
// gain, optionally thinned per group to a target number over a time window,
// with one scan-list file per group. The file-name tables that group the copies
// are shared with the series-fit list builder.
//
// Sorted name of a file N.E (E with its dot), first character c of N:
//   N without c, then the sorted extension
//   E_c_PMV<floor(voltage)>_r<range>_g<gain>,
// e.g. A00012.FA1 with 550.5 V, range 3, gain 8 -> 00012.FA1_A_PMV550_r3_g8.
// Copies keep the access and modification times of their scan file.
#pragma once

#include "numerics/analysis.h"

#include <map>
#include <string>
#include <vector>

#include "scandata/scan_info.h"

namespace tarmic {

class Window;

// One group of copies: the full paths taken, in order, and the scan time (s) of
// the last one taken.
struct FileNameTable {
  std::string key;
  std::vector<std::string> paths;
  double lastTime = 0.0;
};
// The state of this module in an analysis (numerics/analysis.h).
struct FluorescenceSortingState {
  // The tables in the order of their first entry, and the index of each key.
  std::vector<FileNameTable> pFileNameTables{};
  std::map<std::string, std::size_t> mFileNameTableIndex{};
};
// The current analysis' FluorescenceSortingState.
inline FluorescenceSortingState& FluorescenceSorting() { return CurrentPart<FluorescenceSortingState>(); }
// Limits of the grouping: at most this many tables and this many paths per
// table (a list longer than the loaders' kMaxScans could not be loaded).
constexpr int kMaxFileNameTables = 1000;
constexpr int kMaxFileNameTableSize = 1000;

// Empties the tables.
void ResetFileNameTables();

// What a sorting did: the copies made and the failures met, in their order, for
// the command to show in the error box.
struct SortOutcome {
  int copied = 0;
  std::vector<std::string> errors;
};
// Adds path to the table of key: ignored when time < tmin; a table with entries
// takes it only when time > last + minInterval and time < tmax (the first entry
// of a table has no tmax test). Over the limits the path is dropped and the
// returned text names the limit; empty otherwise.
std::string AddToFileNameTable(const std::string &path, const std::string &key,
                        double time, double tmin, double minInterval,
                        double tmax);
// Writes for every table with entries, in the folder of its first file, the
// scan-list file "list" + the first file's extension: "newformat n=1", the
// folder (no trailing '/'), one name.ext per entry. Each list path is shown at
// (50, 50 + table number) in window; the last one is stored in outPath when
// given. A file that cannot be written ends the writing: false, its message in
// *error when given.
bool WriteFileNameTableLists(Window *window, std::string *outPath,
                             std::string *error = nullptr);

// The sorted extension (E_c_PMV..._r..._g...) and the sorted file name of a
// file name and extension as described above.
std::string SortedExtension(const std::string &name, const std::string &ext,
                            const ScanInfo &info);
std::string SortedFileName(const std::string &name, const std::string &ext,
                           const ScanInfo &info);

// Copies from to to (replacing it) as a save writes a file (CopyFileAtomically),
// so that a failed or interrupted copy leaves no partial file and keeps an earlier
// copy, and gives the copy the access and modification times of info when it has
// them. False when the copy failed, with "<path>: <reason>" of the file that
// failed (from or to) in *why when given.
bool CopyScanFileWithTimes(const std::string &from, const std::string &to,
                           const ScanInfo &info, std::string *why = nullptr);

// Copies the loaded scans (display order) into "sorted" under their sorted
// names. A failed copy ends the copying with "could not copy file to new
// destination %s" in the outcome; the copies made before it are kept. The files
// are copied as one set, as SortFluorescenceFolder reads its scans. The copies
// made (none for data that are not fluorescence data) and the failures.
SortOutcome SortLoadedFluorescenceFiles(Window *window);

// What SortFluorescenceFolder does besides copying.
struct FolderSortOptions {
  bool makeLists = false; // group the copies and write a list per group
  double tmin = 0.0;      // time window of the lists, s
  double tmax = 0.0;
  int target =
      0; // scans wanted per list; minimum interval (tmax - tmin)/target
  int excludedCell = 0; // scans of this cell are skipped
  bool excludeLow =
      false; // skip scans with low signal or high noise in [rmin, rmax]
  float rmin = 0.0f, rmax = 0.0f; // cm
  float minSignal = 0.0f;
  float maxNoise = 0.0f; // largest third-column value accepted
};
// Copies every scan file of the folder of the first loaded file whose name
// starts with A0 or B0 and whose extension with .F into "sorted" under its
// sorted name, as the options say. A file that cannot be read ends the
// sorting; a failed copy ends the copying, the lists of the copies made are
// still written. The copies made (none for data that are not fluorescence
// data) and the failures in the order met (a table over its limits, the failed
// copy, a list that could not be written). The scans are read as one set and
// their copies replace the sorted files together once the set was found unchanged
// after them all (FolderReading::AfterReading): a set changed while read is read
// once more, and nothing is sorted, the files changed named, when it changed
// again. One sorting copies at most 4,096 scans (the largest set a save
// replaces together); the copy past them fails as any failed copy does.
SortOutcome SortFluorescenceFolder(Window *window, const FolderSortOptions &options);

} // namespace tarmic
