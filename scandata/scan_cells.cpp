#include "scandata/scan_cells.h"

#include <cctype>
#include <cmath>
#include <map>
#include <set>
#include <utility>

#include "numerics/one_based.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

ScanCell CellOfScan(const std::string& path) {
  ScanCell c;
  const std::string name = FileNameOf(path);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size() && std::isdigit(static_cast<unsigned char>(name.back())))
    c.digit = name.back();
  ScanInfo info;
  ScanDataKind kind;
  int n = 0;
  float *radius = nullptr, *value = nullptr;
  bool mark = false;
  if (ReadScanFileAndKind(path.c_str(), ScanDataKind::InForce(), &kind, &info, &n, &radius, &value, nullptr, &mark,
                          0.0f) == 1) {
    free_vector(radius, 1, n);
    free_vector(value, 1, n);
    c.read = true;
    c.cell = info.cell;
    // Wavelength scans hold their radius there: they have no one wavelength.
    c.wavelength = info.scanType == 'W' || info.scanType == 'V' ? 0 : std::lround(info.wavelength);
  }
  return c;
}

std::vector<ScanGroup> GroupScansByCell(const std::vector<std::string>& scans) {
  std::vector<ScanCell> cells;
  std::set<int> lineCells;
  for (const std::string& s : scans) {
    cells.push_back(CellOfScan(s));
    if (cells.back().read) lineCells.insert(cells.back().cell);
  }
  // Line 2 names the cell; where it names one for all, the extensions may still
  // name several (files renamed or copied from another cell).
  const bool byDigit = lineCells.size() <= 1;
  std::map<std::pair<int, long>, ScanGroup> groups;
  std::vector<std::string> unread;
  for (std::size_t k = 0; k < scans.size(); ++k) {
    const ScanCell& c = cells[k];
    if (!c.read) {
      unread.push_back(scans[k]);
      continue;
    }
    const int cell = byDigit && c.digit ? c.digit - '0' : c.cell;
    ScanGroup& g = groups[{cell, c.wavelength}];
    g.cell = cell;
    g.wavelength = c.wavelength;
    g.scans.push_back(scans[k]);
  }
  std::vector<ScanGroup> out;
  for (auto& [key, g] : groups) out.push_back(std::move(g));
  if (!unread.empty()) {
    if (out.empty()) out.emplace_back();
    out.front().scans.insert(out.front().scans.end(), unread.begin(), unread.end());
  }
  return out;
}

std::string DescribeScanGroup(const ScanGroup& group) {
  std::string text = "cell " + std::to_string(group.cell);
  if (group.wavelength > 0) text += ", " + std::to_string(group.wavelength) + " nm";
  text += ", " + std::to_string(group.scans.size()) + (group.scans.size() == 1 ? " scan" : " scans");
  return text;
}

}  // namespace tarmic
