// The cell and wavelength of each scan of a selection, and the selection in groups
// of one cell at one wavelength. A folder of an instrument holds the scans of every
// cell of a run side by side (cell 1 as "00001.ra1"..., cell 2 as "00001.ra2"...),
// with the cell in line 2 of each file and in the last digit of its extension, and
// a cell may be scanned at more than one wavelength. Scans of different cells, or of
// different wavelengths, are no one set: the batch refuses them and the window asks
// which group to load.
#pragma once

#include <string>
#include <vector>

namespace tarmic {

// What line 2 and the extension of one scan file say.
struct ScanCell {
  bool read = false;    // the scan reader read the file
  int cell = 0;         // line 2
  long wavelength = 0;  // nm, rounded; 0 for wavelength scans, which hold no one wavelength
  char digit = 0;       // the last character of the extension when a digit, else 0
};

// Reads the file with the scan reader (a file it cannot read gives read = false).
ScanCell CellOfScan(const std::string& path);

// The scans of one cell at one wavelength, in the order named.
struct ScanGroup {
  int cell = 0;
  long wavelength = 0;
  std::vector<std::string> scans;
};

// The scans named, in groups of one cell (by line 2, or by the extension's digit
// when line 2 names one cell for all) at one wavelength, in the order of cell, then
// wavelength. A file the reader cannot read joins the first group (the load names
// what is wrong with it). One group or none: the scans are one set.
std::vector<ScanGroup> GroupScansByCell(const std::vector<std::string>& scans);

// "cell 2, 280 nm, 20 scans" (no wavelength for wavelength scans).
std::string DescribeScanGroup(const ScanGroup& group);

}  // namespace tarmic
