#include "batch/batch_cells.h"

#include <set>

#include "scandata/scan_cells.h"

namespace tarmic {

namespace {

template <typename T>
std::string Listed(const std::set<T>& values, const char* unit = "") {
  std::string text;
  std::size_t k = 0;
  for (const T& v : values) {
    if (k > 0) text += k + 1 == values.size() ? " and " : ", ";
    text += std::to_string(v) + unit;
    ++k;
  }
  return text;
}

}  // namespace

CellChoice ChooseCell(const std::vector<std::string>& scans, std::optional<int> only, std::optional<int> nm) {
  CellChoice choice;
  std::vector<ScanCell> cells;
  std::set<int> all;
  std::set<long> allWavelengths;  // of the cell chosen, when one is
  for (const std::string& s : scans) {
    cells.push_back(CellOfScan(s));
    if (cells.back().read) all.insert(cells.back().cell);
    if (cells.back().read && (!only || cells.back().cell == *only) && cells.back().wavelength > 0)
      allWavelengths.insert(cells.back().wavelength);
  }
  std::set<int> kept;
  std::set<long> wavelengths;
  std::set<char> digits;
  for (std::size_t k = 0; k < scans.size(); ++k) {
    const ScanCell& c = cells[k];
    if (only && (!c.read || c.cell != *only)) continue;
    if (nm && (!c.read || c.wavelength != *nm)) continue;
    choice.scans.push_back(scans[k]);
    if (!c.read) continue;
    kept.insert(c.cell);
    wavelengths.insert(c.wavelength);
    if (c.digit) digits.insert(c.digit);
  }
  if (only && all.count(*only) == 0) {
    choice.refusal = "--cell " + std::to_string(*only) + ": no scan named is of cell " + std::to_string(*only) +
                     (all.empty() ? std::string() : " (the scans are of cell" + std::string(all.size() > 1 ? "s " : " ") +
                                                        Listed(all) + ")");
    return choice;
  }
  if (nm && choice.scans.empty()) {
    const std::string of = only ? " of cell " + std::to_string(*only) : std::string();
    choice.refusal = "--wavelength " + std::to_string(*nm) + ": no scan named" + of + " is of " + std::to_string(*nm) +
                     " nm" +
                     (allWavelengths.empty() ? std::string()
                                             : " (the scans" + of + " are of " + Listed(allWavelengths, " nm") + ")");
    return choice;
  }
  if (kept.size() > 1) {
    choice.refusal = "the scans are of cells " + Listed(kept) +
                     " (line 2 of the scan files): one analysis takes the scans of one cell; give --cell N";
  } else if (digits.size() > 1) {
    std::set<int> named;
    for (char d : digits) named.insert(d - '0');
    choice.refusal = "the scans' extensions name cells " + Listed(named) +
                     ": one analysis takes the scans of one cell; name the scans of one cell";
  } else if (wavelengths.size() > 1) {
    choice.refusal = "the scans are of wavelengths " + Listed(wavelengths, " nm") +
                     ": one analysis takes the scans of one wavelength; give --wavelength W";
  }
  if (!kept.empty()) choice.cell = *kept.begin();
  return choice;
}

}  // namespace tarmic
