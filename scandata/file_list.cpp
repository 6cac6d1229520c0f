#include "scandata/file_list.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <strings.h>

#include "storage/atomic_file.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "platform/backend.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/plausibility.h"
#include "scandata/text_io.h"
#include "text/number_token.h"

namespace tarmic {

namespace {

void SetStoredList(std::vector<std::string> paths) {
  auto& fileListPart = FileList();
  fileListPart.nStoredFiles = static_cast<int>(paths.size());
  fileListPart.ppStoredFileNames.assign(1, std::string());
  for (std::string& p : paths) fileListPart.ppStoredFileNames.push_back(std::move(p));
}

std::string TrimRight(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

// The lines of a scan-list file with its comments removed: a '%' starts a comment
// that runs to the end of its line; a line that was nothing but a comment goes
// altogether, a line with text before the comment keeps that text.
std::vector<std::string> ListLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    std::size_t percent = line.find('%');
    bool commentOnly = false;
    if (percent != std::string::npos) {
      std::string before = TrimRight(line.substr(0, percent));
      commentOnly = before.empty();
      line = before;
    }
    if (!commentOnly) lines.push_back(TrimRight(line));
    if (end == text.size()) break;
    start = end + 1;
  }
  // The final line feed of the file leaves no line behind it.
  if (!lines.empty() && lines.back().empty() && !text.empty() && text.back() == '\n') lines.pop_back();
  return lines;
}

}  // namespace

void StoreFileList(int excludeScan) {
  auto& dataSetPart = DataSet();
  std::vector<std::string> paths;
  for (int k = 1; k <= dataSetPart.nScans; ++k) {
    const int s = dataSetPart.pScanOrder[static_cast<std::size_t>(k)];
    if (excludeScan > 0 && s == excludeScan) continue;
    paths.push_back(ScanFilePath(s));
  }
  SetStoredList(std::move(paths));
}

void FreeFileList() {
  auto& fileListPart = FileList();
  fileListPart.nStoredFiles = 0;
  fileListPart.ppStoredFileNames.clear();
}

std::string ScanListFilePath() {
  auto& fileListPart = FileList();
  if (fileListPart.nStoredFiles < 1) return {};
  const std::string& first = fileListPart.ppStoredFileNames[1];
  return JoinPath(DirectoryOf(first), "list_corr" + ExtensionOf(first));
}

bool WriteScanListFile() {
  auto& dataSetPart = DataSet();
  auto& fileListPart = FileList();
  if (fileListPart.nStoredFiles < 1 || fileListPart.nStoredFiles != dataSetPart.nScans) return false;
  const std::string path = ScanListFilePath();
  AtomicFile out(path);
  std::FILE* f = out.File();
  if (!f) {
    RaiseError(WithReason(Format("\n\aAttention: could not open %s", path.c_str()), out.Error()));
    return false;
  }
  bool ok = WriteFormatted(f, "newformat n=1\n%s\n", DirectoryOf(fileListPart.ppStoredFileNames[1]).c_str());
  for (int i = 1; ok && i <= fileListPart.nStoredFiles; ++i)
    ok = WriteFormatted(f, "%s\n", FileNameOf(fileListPart.ppStoredFileNames[static_cast<std::size_t>(i)]).c_str());
  if (!ok || !out.Commit()) {
    out.Discard();
    RaiseError(WithReason(Format("\n\aAttention: could not write %s", path.c_str()), out.Error()));
    return false;
  }
  return true;
}

ScanListHeader ReadScanListHeader(std::string_view line) {
  ScanListHeader h;
  auto blanks = [&line](std::size_t at) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    return at;
  };
  static constexpr std::string_view kWord = "newformat";
  std::size_t at = 0;
  if (line.size() < kWord.size() || strncasecmp(line.data(), kWord.data(), kWord.size()) != 0) return h;
  at = kWord.size();
  // "newformat" glued to more letters ("newformats") is no header word.
  if (at < line.size() && std::isalpha(static_cast<unsigned char>(line[at])) && line[at] != 'n' && line[at] != 'N')
    return h;
  h.present = true;
  const std::size_t afterWord = at;
  at = blanks(at);
  const bool separated = at > afterWord;
  if (at >= line.size() || (line[at] != 'n' && line[at] != 'N') || !separated) {
    h.why = Format("\"%s\", which is no header \"newformat n=N\" (the word, a blank, n=N)",
                   std::string(line.substr(0, 60)).c_str());
    return h;
  }
  at = blanks(at + 1);
  if (at >= line.size() || line[at] != '=') {
    h.why = Format("\"%s\", which is no header \"newformat n=N\" (the word, a blank, n=N)",
                   std::string(line.substr(0, 60)).c_str());
    return h;
  }
  const std::string_view rest = line.substr(at + 1);
  const NumberScan scan = ScanWholeNumber(rest, NumberWidth::kDouble);
  if (!scan || !kFilesPerScanRule.Holds(scan.value)) {
    std::string shown(rest.substr(0, 40));
    const std::size_t first = shown.find_first_not_of(" \t\r");
    shown = first == std::string::npos ? std::string()
                                       : shown.substr(first, shown.find_last_not_of(" \t\r") + 1 - first);
    h.why = Format("\"%s\" as the number of files per scan, which is no whole number from 1 to 9999", shown.c_str());
    return h;
  }
  h.filesPerScan = static_cast<int>(scan.value);
  return h;
}

bool ReadScanListFile(Window* window, const char* path, bool releaseLoadedSet) {
  auto& dataSetPart = DataSet();
  std::string text, why;
  if (!path || !ReadPlainTextFile(path, LastLine::kRefused, &text, &why)) {
    RaiseError(Format("\nAttention: could not read %s\n%s", path ? path : "", why.c_str()));
    return false;
  }
  int filesPerScan = 1;
  // The header is the word "newformat" (any case) at the start of line 1, then
  // "n=N", with blanks (spaces or tabs, any number) after the word and around "="
  // and N. A first line that begins with the word and is no such header is
  // refused: taken as the directory it would shift every name.
  const std::size_t lineEnd = text.find('\n');
  const std::string first = text.substr(0, lineEnd);
  const ScanListHeader header = ReadScanListHeader(first);
  if (header.present) {
    if (!header.why.empty()) {
      RaiseError(Format("\nAttention: %s\nline 1 holds %s", path, header.why.c_str()));
      return false;
    }
    filesPerScan = header.filesPerScan;
    text = lineEnd == std::string::npos ? std::string() : text.substr(lineEnd + 1);
  } else {
    for (char& c : text)
      if (c == '_') c = '.';
  }
  std::vector<std::string> lines = ListLines(text);
  if (lines.empty() || lines[0].empty()) {
    RaiseError(Format("\nAttention: %s names no scan files", path));
    return false;
  }
  const std::string directory = WithoutTrailingSlash(lines[0]);
  std::vector<std::string> names;
  for (std::size_t i = 1; i < lines.size() && !lines[i].empty(); ++i) names.push_back(lines[i]);

  std::vector<std::string> paths;
  if (names.empty()) {
    // A list of one line names one file by its full path.
    paths.push_back(lines[0]);
  } else {
    for (std::size_t i = 0; i < names.size(); i += static_cast<std::size_t>(filesPerScan))
      paths.push_back(JoinPath(directory, names[i]));
  }
  // The list replaces the loaded set: it is released, and nScans counts the listed
  // scans that the list-driven load reads next.
  if (releaseLoadedSet && dataSetPart.nScans > 0) {
    if (GetDataSetHooks().freeCtotArrays) GetDataSetHooks().freeCtotArrays();
    FreeDataSet();
  }
  if (releaseLoadedSet) dataSetPart.szDataDirectory = names.empty() ? DirectoryOf(lines[0]) : directory;
  if (static_cast<int>(paths.size()) > kMaxScans) {
    ShowLoadMessage(window, {LoadMessageId::TooManyScans, TooManyScansText(), "LOAD ERROR", MB_OK | MB_ICONERROR,
                             LoadMessage::Sound::Error});
    return false;
  }
  dataSetPart.nFilesPerScan = filesPerScan;
  if (releaseLoadedSet) dataSetPart.nScans = static_cast<int>(paths.size());
  dataSetPart.szDataDirectory = names.empty() ? DirectoryOf(lines[0]) : directory;
  SetStoredList(std::move(paths));
  return true;
}

// The stored entries that belong to the scans: the first nScans (never more than
// the list holds).
namespace {
int ListedScanCount() { return DataSet().nScans < FileList().nStoredFiles ? DataSet().nScans : FileList().nStoredFiles; }
}  // namespace

void ChangeCellInFileList(int cell) {
  auto& fileListPart = FileList();
  if (cell < 0 || cell > 8) return;
  for (int i = 1; i <= ListedScanCount(); ++i) {
    std::string& path = fileListPart.ppStoredFileNames[static_cast<std::size_t>(i)];
    if (ExtensionOf(path).size() < 2) continue;  // no extension letter to replace
    path.back() = static_cast<char>('0' + cell);
  }
}

void ChangeSubdirInFileList(int number) {
  auto& fileListPart = FileList();
  for (int i = 1; i <= fileListPart.nStoredFiles; ++i) {
    std::string& path = fileListPart.ppStoredFileNames[static_cast<std::size_t>(i)];
    const std::string name = FileNameOf(path);
    std::string dir = path.substr(0, path.size() - name.size());
    while (!dir.empty() && dir.back() == '/') dir.pop_back();
    while (!dir.empty() && dir.back() != '/') dir.pop_back();
    path = dir + std::to_string(number) + "/" + name;
  }
}

int CheckListedFilesExist() {
  auto& fileListPart = FileList();
  for (int i = 1; i <= ListedScanCount(); ++i)
    if (!FileExists(fileListPart.ppStoredFileNames[static_cast<std::size_t>(i)].c_str())) return 0;
  return 1;
}

}  // namespace tarmic
