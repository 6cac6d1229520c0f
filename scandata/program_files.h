// Files that this program writes beside the scans, and how the loaders tell them
// from measured scan files.
//
// Derived scans (fitted values, residuals, the time-invariant noise profile, a
// model's equilibrium profile) are written in the scan-file format with a
// description of their own, so that they can be loaded and fitted again. Other files
// beside the data (saved distributions, the distribution grid "sdist", the saved
// parameters "~tmppars", the radial-invariant noise table, the corrected file list,
// the time-stamp report) are no scans at all, although several of them carry the
// scan files' extension.
#pragma once

#include <string>
#include <vector>

namespace tarmic {

// Descriptions the writers of derived scans put into line 1 (followed by the name
// of the scan they belong to, where there is one).
inline constexpr const char* kFittedScanDescription = "fitted to ";
inline constexpr const char* kResidualScanDescription = "residuals to ";
inline constexpr const char* kTINoiseScanDescription = "time-independent noise ";
// An equilibrium scan with the fitted TI noise taken out: corrected data, a scan.
inline constexpr const char* kNoiseCorrectedScanDescription =
    "time-independent noise corrected file ";
inline constexpr const char* kEquilibriumProfileDescription = "equilibrium";

enum class ScanFileKind {
  Scan,         // measured (or synthetic) scan data, or a file that is none of the below
  DerivedScan,  // a scan file of an analysis result
  ProgramFile,  // another file of this program (also the temporary of a save): never a scan
  NotAFile,     // a pipe, a device or a directory: never read (opening it may wait for ever)
};

// Judges the file from its name, its kind and its first lines (read only from a
// regular file). what (when given) receives a short name of the kind for messages
// ("fitted data", "saved distribution", "unfinished save", "not a regular
// file", ...); empty for Scan. A file that cannot be read counts as Scan (the
// reader reports it).
ScanFileKind ClassifyScanFile(const std::string& path, std::string* what = nullptr);

// The files of a selection that are to be read as scans, and the ones left out.
struct ScanSelectionFilter {
  std::vector<std::string> kept;      // paths as given, in their order
  std::vector<std::string> leftOut;   // "name (kind)" of each file of this program left out
  std::vector<std::string> notFiles;  // name of each selected pipe, device or folder
  bool AnyLeftOut() const { return !leftOut.empty() || !notFiles.empty(); }
};
// Leaves out every program file and everything that is no regular file, and every
// derived scan when the selection also holds scans: a derived scan beside measured
// scans is never part of the same data set, but a selection of derived scans alone
// is loaded as it is.
ScanSelectionFilter FilterScanSelection(const std::vector<std::string>& paths);

// The note that names the files left out: those of this program, then what is no
// regular file.
std::string LeftOutFilesNote(const ScanSelectionFilter& filter);

}  // namespace tarmic
