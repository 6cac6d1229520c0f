// The cell of each scan named, so that one analysis takes one cell's scans: a
// folder of an instrument holds the scans of every cell of a run side by side
// (cell 1 as "00001.ra1"..., cell 2 as "00001.ra2"...), with the cell in line 2 of
// each file and in the last digit of its extension, and a cell may be scanned at
// more than one wavelength. Scans of different cells, or of different
// wavelengths, are never one set.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarmic {

struct CellChoice {
  std::vector<std::string> scans;  // the scans of the set, in the order named
  int cell = -1;                   // their cell (line 2); -1 when no scan could be read
  std::string refusal;             // why the scans named are no one set; empty when they are
};

// The scans of one cell at one wavelength among scans: those of cell `only` and of
// wavelength `nm` (whole nanometres, the scan's rounded) when given (refused when
// there are none), else all of them, refused when they are of more than one cell,
// of extensions that name different cells, or of more than one wavelength (each
// refusal naming what it found and how to choose). The cell and wavelength are
// read by the scan reader; a file it cannot read is kept for the load, which names
// what is wrong with it, unless a cell or wavelength is chosen: then it is of
// neither.
CellChoice ChooseCell(const std::vector<std::string>& scans, std::optional<int> only,
                      std::optional<int> nm = std::nullopt);

}  // namespace tarmic
