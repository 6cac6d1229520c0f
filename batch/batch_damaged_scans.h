// Damaged scans of a set: a scan the reader refuses (a junk line, a cut row) or a
// scan cut short, ending far before the others. The window's load takes the right
// fitting limit down to the last radius of the shortest scan, so that one cut scan
// would shrink the fit of all; the batch leaves such a scan out of its set, says so
// in the summary's notes and flags, and fits the others over their own range.
#pragma once

#include <string>
#include <vector>

namespace tarmic {

// How far one scan file reaches, as the scan reader reads it.
struct ScanReach {
  std::string file;
  bool opened = false;  // a file that can be opened for reading
  bool read = false;    // and that the reader reads
  std::string refusal;  // the reader's reason when not read
  float last = 0.0f;    // the last radius, cm
};

// Reads path with the scan reader.
ScanReach ReachOfScan(const std::string& path);

// A scan left out and why ("line 150 holds ...", "ends at 6.188 cm, ...").
struct LeftOutScan {
  std::string file;
  std::string reason;
};

// How far short of the fitting limit a scan may end and stay in its set, cm: a
// few points of an instrument's radial step (0.001-0.004 cm); the limit then moves
// to its end as the window moves it.
inline constexpr float kCutShortTolerance = 0.02f;

// The scans to leave out of a set: each the reader refused (a file that cannot be
// opened is no damaged scan but a wrong name: the load refuses it), and each that ends
// more than kCutShortTolerance before the right limit the set reaches, which is
// the right fitting limit (0 when none is given) or, where most scans end before
// it, the last radius that half of the read scans reach. Nothing is judged cut
// short among fewer than three read scans.
std::vector<LeftOutScan> DamagedScans(const std::vector<ScanReach>& scans, float rightLimit);

// The right fitting limit of a parameter file (its line 43); 0 when the file has
// none that reads as a number.
float ParameterFileRightLimit(const std::string& path);

}  // namespace tarmic
