// What the Lamm equation solver object needs from its callers besides numbers: the
// timing records of the scans it computes profiles for, and a display for its
// progress readouts and evolving profiles.
//
// Both are small value types of this library so that the solver does not depend on
// the scan data set or the plotting code: the caller fills the records from its scan
// information and supplies a display that draws into the main window.
#pragma once

#include <cstdint>
#include <string>

namespace tarmic {

// The parts of a scan's information record that a Lamm solution reads.
struct LammScanRecord {
  double time = 0.0;             // elapsed time of the scan, s
  double timeUncorrected = 0.0;  // the elapsed time as first read from the file, s
  float rpm = 0.0f;              // rotor speed, rpm
  float temperature = 20.0f;     // temperature, deg C
  double accelRate = 1e6;        // rotor acceleration, rpm/s (large when not recorded)
  double accelTime = 0.0;        // duration of the acceleration, s
};

// Progress output of a solution running in the user-interface thread. The solver
// never calls it from a worker thread.
class LammDisplay {
 public:
  virtual ~LammDisplay() = default;
  // Writes text at client position (x, y) of the main window (readout lines).
  virtual void ShowText(int x, int y, const std::string& text) = 0;
  // Draws the profile c[1..n] over radii r[1..n] (cm) over the data plot in the
  // colour 0x00BBGGRR.
  virtual void DrawProfile(const double* r, const double* c, int n, std::uint32_t color) = 0;
};

}  // namespace tarmic
