#include "scandata/program_files.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "storage/atomic_file.h"
#include "numerics/text_lines.h"
#include "platform/system.h"
#include "scandata/text_io.h"
#include "text/number_token.h"

namespace tarmic {

namespace {

// Enough of a file for its first lines.
constexpr std::size_t kHeadBytes = 8192;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The whole lines among the first kHeadBytes of the file; false when the file
// cannot be opened or is no regular file (a pipe would keep the open waiting).
bool ReadHeadLines(const std::string& path, std::vector<std::string>* lines) {
  return ReadTextFileHead(path, kHeadBytes, lines);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Whether the line holds at least one word and every word is a complete number.
bool IsNumbersOnly(const std::string& line) {
  std::size_t i = 0;
  int words = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    // A number beyond the range of a double is still written as one.
    if (ScanNumber(std::string_view(line).substr(start, i - start), NumberWidth::kDouble).fault ==
        NumberFault::kNotNumber)
      return false;
    ++words;
  }
  return words > 0;
}

bool IsBlankLine(const std::string& line) {
  for (char c : line)
    if (!IsBlank(c)) return false;
  return true;
}

// Line 2 of a scan file begins with its type letter.
bool IsScanInformationLine(const std::string& line) {
  std::size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i >= line.size()) return false;
  const char c = line[i];
  return c == 'R' || c == 'W' || c == 'I' || c == 'P' || c == 'F' || c == 'V';
}

// The description without the time-stamp mark the scan writer puts in front.
std::string WithoutTimeStampMark(std::string d) {
  std::size_t i = 0;
  while (i < d.size() && IsBlank(d[i])) ++i;
  if (i < d.size() && d[i] == '[') {
    const std::size_t close = d.find(']', i);
    const std::string_view mark = std::string_view(d).substr(i, close == std::string::npos ? 0 : close - i + 1);
    if (mark == "[T OK]" || StartsWith(mark, "[TIMESTAMP CORRECTED")) i = close + 1;
  }
  while (i < d.size() && IsBlank(d[i])) ++i;
  return d.substr(i);
}

ScanFileKind Kind(ScanFileKind kind, const char* name, std::string* what) {
  if (what) *what = name;
  return kind;
}

}  // namespace

ScanFileKind ClassifyScanFile(const std::string& path, std::string* what) {
  if (what) what->clear();
  if (IsSaveTemporaryName(FileNameOf(path)))
    return Kind(ScanFileKind::ProgramFile, "unfinished save", what);
  // A name that is there but no regular file; a missing file is the reader's to
  // report.
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !IsRegularFile(path))
    return Kind(ScanFileKind::NotAFile, "not a regular file", what);
  const std::string name = Lower(FileNameOf(path));
  if (StartsWith(name, "~tmppars") || ExtensionOf(name) == ".~p")
    return Kind(ScanFileKind::ProgramFile, "saved parameters", what);
  if (StartsWith(name, "sdist")) return Kind(ScanFileKind::ProgramFile, "distribution grid", what);
  if (StartsWith(name, "list_corr")) return Kind(ScanFileKind::ProgramFile, "file list", what);
  if (StartsWith(name, "timestampanalysis"))
    return Kind(ScanFileKind::ProgramFile, "time-stamp report", what);

  std::vector<std::string> lines;
  if (!ReadHeadLines(path, &lines) || lines.empty()) return ScanFileKind::Scan;
  if (StartsWith(lines[0], "# TARMIC distribution"))
    return Kind(ScanFileKind::ProgramFile, "saved distribution", what);

  // Tables of numbers (noise table, vectors, curves) have no description line and
  // no scan-information line.
  bool numeric = true;
  int checked = 0;
  for (std::size_t i = 0; i < lines.size() && checked < 3; ++i) {
    if (IsBlankLine(lines[i])) continue;
    ++checked;
    if (!IsNumbersOnly(lines[i])) numeric = false;
  }
  if (numeric && checked > 0) return Kind(ScanFileKind::ProgramFile, "table of numbers", what);

  if (lines.size() < 2 || !IsScanInformationLine(lines[1])) return ScanFileKind::Scan;
  const std::string d = WithoutTimeStampMark(lines[0]);
  if (StartsWith(d, kNoiseCorrectedScanDescription)) return ScanFileKind::Scan;
  if (StartsWith(d, kFittedScanDescription)) return Kind(ScanFileKind::DerivedScan, "fitted data", what);
  if (StartsWith(d, kResidualScanDescription)) return Kind(ScanFileKind::DerivedScan, "residuals", what);
  if (StartsWith(d, kTINoiseScanDescription))
    return Kind(ScanFileKind::DerivedScan, "time-invariant noise", what);
  if (d == kEquilibriumProfileDescription)
    return Kind(ScanFileKind::DerivedScan, "model equilibrium profile", what);
  return ScanFileKind::Scan;
}

ScanSelectionFilter FilterScanSelection(const std::vector<std::string>& paths) {
  std::vector<ScanFileKind> kinds;
  std::vector<std::string> whats;
  bool anyScan = false;
  for (const std::string& p : paths) {
    std::string what;
    kinds.push_back(ClassifyScanFile(p, &what));
    whats.push_back(what);
    anyScan = anyScan || kinds.back() == ScanFileKind::Scan;
  }
  ScanSelectionFilter out;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const bool leave = kinds[i] == ScanFileKind::ProgramFile ||
                       (kinds[i] == ScanFileKind::DerivedScan && anyScan);
    if (kinds[i] == ScanFileKind::NotAFile)
      out.notFiles.push_back(FileNameOf(paths[i]));
    else if (leave)
      out.leftOut.push_back(FileNameOf(paths[i]) + " (" + whats[i] + ")");
    else
      out.kept.push_back(paths[i]);
  }
  return out;
}

std::string LeftOutFilesNote(const ScanSelectionFilter& filter) {
  std::string text;
  if (!filter.leftOut.empty()) {
    text = "not loaded - written by this program, not scan data:";
    for (const std::string& f : filter.leftOut) text += "\n" + f;
  }
  if (!filter.notFiles.empty()) {
    if (!text.empty()) text += "\n";
    text += "not loaded - not a regular file (a pipe, a device or a folder):";
    for (const std::string& f : filter.notFiles) text += "\n" + f;
  }
  return text;
}

}  // namespace tarmic
