#include "modelcalc/fluorescence_sorting.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>

#include "plot/data_plots.h"
#include "scandata/text_io.h"
#include "storage/atomic_file.h"
#include "numerics/one_based.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/system.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

namespace fs = std::filesystem;

constexpr const char *kSortedFolder = "sorted";

void ShowAt(Window *window, int x, int y, const std::string &text) {
  if (!window)
    return;
  if (std::unique_ptr<DC> dc = window->ClientDC())
    dc->TextOut(ReadoutColumn(x, window->ClientSize()), y, text);
  window->Refresh();
}

// Creates "sorted" in the folder of path; returns it with a trailing '/', or an
// empty text (the failure added to errors) when it cannot be made.
std::string MakeSortedFolder(const std::string &path,
                             std::vector<std::string> *errors) {
  const std::string dir = SplitPath(path).dir;
  const std::string sorted =
      (dir.empty() ? std::string("./") : dir) + kSortedFolder;
  std::error_code ec;
  fs::create_directories(sorted, ec);
  if (ec || !fs::is_directory(sorted)) {
    errors->push_back(WithReason("could not create folder " + sorted,
                                 SystemReason(sorted, ec ? ec.value() : ENOTDIR)));
    return {};
  }
  return sorted + "/";
}

// A scan whose line 1 does not name its detector's voltage, gain and range would
// be filed under 0 for what it lacks: it is not sorted, and the text says so.
std::string MissingKeysText(const std::string &path) {
  return "not sorted: " + path +
         " - line 1 does not name the detector's \"Voltage:\", \"Gain:\" and \"Range:\"";
}

std::string FailedCopyText(const std::string &destination, const std::string &why) {
  return WithReason("could not copy file to new destination " + destination, why);
}

// A file of the folder that the sorting takes: A0... or B0... with an extension
// .F...
bool IsFluorescenceScanName(const PathParts &parts) {
  return parts.name.size() >= 2 &&
         (parts.name[0] == 'A' || parts.name[0] == 'B') &&
         parts.name[1] == '0' && parts.ext.size() >= 2 && parts.ext[1] == 'F';
}

// Whether a scan has, between rmin and rmax, a signal below the minimum or a
// third-column value above the maximum.
bool HasLowSignalOrNoise(int n, const float *r, const float *v,
                         const float *third, const FolderSortOptions &o) {
  for (int i = 1; i <= n; ++i) {
    if (r[i] < o.rmin || r[i] > o.rmax)
      continue;
    if (v[i] < o.minSignal)
      return true;
    if (third && third[i] > o.maxNoise)
      return true;
  }
  return false;
}

struct ScanRead {
  ScanInfo info;
  bool ok = false;
  bool low = false;
};

ScanRead ReadForSorting(const std::string &path, const FolderSortOptions &o) {
  ScanRead out;
  int n = 0;
  float *r = nullptr, *v = nullptr, *third = nullptr;
  bool mark = false;
  // The folder's files leave the kind of the loaded data as it is.
  if (!ReadScanFileAndKind(path.c_str(), ScanDataKind::InForce(), nullptr, &out.info, &n, &r, &v,
                           &third, &mark, 0.0f))
    return out;
  out.ok = true;
  out.low = o.excludeLow && HasLowSignalOrNoise(n, r, v, third, o);
  free_vector(r, 1, n);
  free_vector(v, 1, n);
  if (third)
    free_vector(third, 1, n);
  return out;
}

// How one attempt of a sorting ended.
enum class SortEnd {
  ReadAgain, // the set changed while it was read: read and copied once more
  Refused,   // it changed again: nothing was sorted, as out says
  Done,      // the copies made replaced the sorted files
};
// The end of one attempt of a sorting whose copies are in batch; a batch that is
// not committed goes without replacing anything.
SortEnd CommitSortedSet(FolderReading &reading, int attempt, AtomicFileBatch *batch,
                     SortOutcome *out, std::size_t errorsBefore) {
  std::string changed;
  switch (reading.AfterReading(attempt, &changed)) {
  case FolderReading::SetRead::ReadAgain:
    batch->Discard();
    return SortEnd::ReadAgain;
  case FolderReading::SetRead::Refused:
    batch->Discard();
    out->errors.resize(errorsBefore);
    out->copied = 0;
    out->errors.push_back("nothing was sorted: " + changed);
    return SortEnd::Refused;
  case FolderReading::SetRead::Whole:
    break;
  }
  // The copies made are kept, also when a later one failed or a scan could not be
  // read (that ends the sorting, as said).
  if (!batch->Commit()) {
    std::string report = "could not replace:";
    for (const std::string &p : batch->NotReplaced())
      report += "\n" + p;
    out->errors.push_back(report + "\n" + batch->Error());
    out->copied -= static_cast<int>(batch->NotReplaced().size());
  }
  return SortEnd::Done;
}

} // namespace

void ResetFileNameTables() {
  auto& fluorescenceSortingPart = FluorescenceSorting();
  fluorescenceSortingPart.pFileNameTables.clear();
  fluorescenceSortingPart.mFileNameTableIndex.clear();
}

std::string AddToFileNameTable(const std::string &path, const std::string &key,
                               double time, double tmin, double minInterval,
                               double tmax) {
  if (time < tmin)
    return {};
  auto found = FluorescenceSorting().mFileNameTableIndex.find(key);
  if (found == FluorescenceSorting().mFileNameTableIndex.end()) {
    if (static_cast<int>(FluorescenceSorting().pFileNameTables.size()) >= kMaxFileNameTables) {
      return "\n\aAttention: too many iFileNameTalbes";
    }
    found = FluorescenceSorting().mFileNameTableIndex.emplace(key, FluorescenceSorting().pFileNameTables.size()).first;
    FluorescenceSorting().pFileNameTables.push_back(FileNameTable{key, {}, 0.0});
  }
  FileNameTable &table = FluorescenceSorting().pFileNameTables[found->second];
  if (!table.paths.empty() &&
      !(time > table.lastTime + minInterval && time < tmax))
    return {};
  if (static_cast<int>(table.paths.size()) >= kMaxFileNameTableSize)
    return "\n\aAttention: too many in iMaxFileNameTableSize";
  table.paths.push_back(path);
  table.lastTime = time;
  return {};
}

bool WriteFileNameTableLists(Window *window, std::string *outPath,
                             std::string *error) {
  std::string last;
  for (std::size_t t = 0; t < FluorescenceSorting().pFileNameTables.size(); ++t) {
    const FileNameTable &table = FluorescenceSorting().pFileNameTables[t];
    if (table.paths.empty())
      continue;
    const PathParts first = SplitPath(table.paths.front());
    const std::string listPath = first.dir + "list" + first.ext;
    std::string text = "newformat n=1\n" + WithoutTrailingSlash(first.dir) + "\n";
    for (const std::string &path : table.paths) {
      const PathParts p = SplitPath(path);
      text += p.name + p.ext + "\n";
    }
    std::string why;
    if (!WriteTextFileAtomically(listPath, text, &why)) {
      if (error)
        *error = WithReason("\n\aAttention: could not open " + listPath, why);
      return false;
    }
    ShowAt(window, 50, 50 + static_cast<int>(t) + 1, listPath);
    last = listPath;
  }
  if (outPath && !last.empty())
    *outPath = last;
  return true;
}

std::string SortedExtension(const std::string &name, const std::string &ext,
                            const ScanInfo &info) {
  const std::string first = name.empty() ? std::string(" ") : FirstCharacterOf(name);
  const auto volts =
      static_cast<long long>(std::floor(static_cast<double>(info.voltage)));
  return ext + "_" + first + "_PMV" + std::to_string(volts) + "_r" +
         std::to_string(info.range) + "_g" + std::to_string(info.gain);
}

std::string SortedFileName(const std::string &name, const std::string &ext,
                           const ScanInfo &info) {
  return WithoutFirstCharacter(name) +
         SortedExtension(name, ext, info);
}

bool CopyScanFileWithTimes(const std::string &from, const std::string &to,
                           const ScanInfo &info, std::string *why) {
  // The copy is made as a save writes a file: the sorted name holds the old file
  // or the whole copy, never part of one.
  std::function<void()> keepTimes;
  if (info.fileTimesValid) {
    FileTimes times;
    times.valid = true;
    times.creation = info.creationTime;
    times.lastAccess = info.lastAccessTime;
    times.lastWrite = info.lastWriteTime;
    keepTimes = [to, times] { SetFileTimes(to, times); };
  }
  return CopyFileAtomically(from, to, why, std::move(keepTimes));
}

SortOutcome SortLoadedFluorescenceFiles(Window *window) {
  auto& scanFilePart = ScanFile();
  auto& dataSetPart = DataSet();
  auto& fileListPart = FileList();
  (void)window;
  SortOutcome out;
  if (!scanFilePart.bFluorescenceData || dataSetPart.nScans < 1)
    return out;
  StoreFileList(0);
  if (fileListPart.nStoredFiles < 1)
    return out;
  const std::string folder = MakeSortedFolder(fileListPart.ppStoredFileNames[1], &out.errors);
  if (folder.empty())
    return out;
  // The loaded files are copied as one set, as the folder's scans are (below): a
  // file changed while the set is copied leaves the sorted files as they were.
  std::vector<std::string> paths;
  for (int k = 1;
       k <= fileListPart.nStoredFiles && static_cast<std::size_t>(k) < dataSetPart.pScanOrder.size();
       ++k)
    paths.push_back(fileListPart.ppStoredFileNames[static_cast<std::size_t>(k)]);
  FolderReading reading(paths);
  if (const std::string &note = reading.Note(); !note.empty())
    out.errors.push_back(note);
  const std::size_t errorsBefore = out.errors.size();
  for (int attempt = 0;; ++attempt) {
    out.errors.resize(errorsBefore);
    out.copied = 0;
    AtomicFileBatch batch;
    for (std::size_t k = 1; k <= paths.size(); ++k) {
      const std::string &path = paths[k - 1];
      const ScanInfo &info = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[k])];
      const PathParts parts = SplitPath(path);
      if (!info.detectorKeys) {
        out.errors.push_back(MissingKeysText(path));
        continue;
      }
      const std::string destination =
          folder + SortedFileName(parts.name, parts.ext, info);
      std::string why;
      if (!CopyScanFileWithTimes(path, destination, info, &why)) {
        out.errors.push_back(FailedCopyText(destination, why));
        break;
      }
      ++out.copied;
    }
    if (CommitSortedSet(reading, attempt, &batch, &out, errorsBefore) != SortEnd::ReadAgain)
      return out;
  }
}

SortOutcome SortFluorescenceFolder(Window *window, const FolderSortOptions &o) {
  auto& dataSetPart = DataSet();
  auto& fluorescenceSortingPart = FluorescenceSorting();
  auto& scanFilePart = ScanFile();
  auto& fileListPart = FileList();
  SortOutcome out;
  if (!scanFilePart.bFluorescenceData || dataSetPart.nScans < 1)
    return out;
  StoreFileList(0);
  if (fileListPart.nStoredFiles < 1)
    return out;
  double minInterval = 0.0;
  if (o.makeLists && o.target > 0) {
    ResetFileNameTables();
    minInterval = std::trunc((o.tmax - o.tmin) / o.target);
  }
  const std::string folder = MakeSortedFolder(fileListPart.ppStoredFileNames[1], &out.errors);
  if (folder.empty())
    return out;
  const std::string source = SplitPath(fileListPart.ppStoredFileNames[1]).dir;

  // The folder's files in the order of their names.
  std::vector<std::string> files;
  std::error_code ec;
  // The source folder is held while its files are read and copied.
  std::optional<FolderReading> hold(std::in_place, std::vector<std::string>{source + "."});
  if (const std::string& note = hold->Note(); !note.empty()) out.errors.push_back(note);
  for (const fs::directory_entry &e :
       fs::directory_iterator(source.empty() ? "." : source, ec))
    if (e.is_regular_file() && !IsSaveTemporaryName(e.path().filename().string()))
      files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  std::vector<std::string> paths;
  for (const std::string &file : files)
    if (IsFluorescenceScanName(SplitPath(source + file)))
      paths.push_back(source + file);

  // The scans sorted are one set: their copies are written as one batch, which
  // replaces the sorted files only once every scan was read and the set is found
  // unchanged after them all. A set changed meanwhile (a file replaced, cut or
  // rewritten between two reads or during one) is read and copied once more, and
  // not sorted when it changed again: the sorted folder never mixes two versions.
  std::optional<FolderReading> reading(std::in_place, paths);
  const FluorescenceSortingState tablesBefore = fluorescenceSortingPart;
  const std::size_t errorsBefore = out.errors.size();
  bool unreadable = false;
  for (int attempt = 0;; ++attempt) {
    out.errors.resize(errorsBefore);
    out.copied = 0;
    unreadable = false;
    fluorescenceSortingPart = tablesBefore;
    AtomicFileBatch batch;
    for (const std::string &path : paths) {
      const PathParts parts = SplitPath(path);
      const ScanRead scan = ReadForSorting(path, o);
      if (!scan.ok) {
        out.errors.push_back("could not read scan file " + path);
        unreadable = true;
        break;
      }
      if (scan.info.cell == o.excludedCell || scan.low)
        continue;
      if (!scan.info.detectorKeys) {
        out.errors.push_back(MissingKeysText(path));
        continue;
      }
      const std::string destination =
          folder + SortedFileName(parts.name, parts.ext, scan.info);
      ShowAt(window, 50, 50 + scan.info.cell, destination);
      std::string why;
      if (!CopyScanFileWithTimes(path, destination, scan.info, &why)) {
        out.errors.push_back(FailedCopyText(destination, why));
        break;
      }
      ++out.copied;
      if (o.makeLists) {
        std::string dropped = AddToFileNameTable(
            destination, SortedExtension(parts.name, parts.ext, scan.info),
            scan.info.time, o.tmin, minInterval, o.tmax);
        if (!dropped.empty())
          out.errors.push_back(std::move(dropped));
      }
    }
    const SortEnd end = CommitSortedSet(*reading, attempt, &batch, &out, errorsBefore);
    if (end == SortEnd::ReadAgain)
      continue;
    if (end == SortEnd::Refused) {
      fluorescenceSortingPart = tablesBefore;
      return out;
    }
    break;
  }
  reading.reset();
  hold.reset();
  if (unreadable)
    return out;
  if (o.makeLists) {
    std::string error;
    if (!WriteFileNameTableLists(window, nullptr, &error))
      out.errors.push_back(std::move(error));
    ShowAt(window, 50, 50 + static_cast<int>(fluorescenceSortingPart.pFileNameTables.size()),
           "all done");
    ResetFileNameTables();
  }
  return out;
}

} // namespace tarmic
