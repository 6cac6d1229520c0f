// The per-scan information record that reading a scan file fills: the cleaned
// description, the values of the scan-information line, the times derived from
// them, the file's own times and the fluorescence detector settings.
#pragma once

#include <cstdint>
#include <string>

namespace tarmic {

struct ScanInfo {
  // The cleaned first line of the file, at most 99 characters (see ReadScanFile).
  std::string description;
  // R, I, P, F, W or V as read; R after electrophoresis data are converted.
  char scanType = 'R';
  int cell = 0;                 // rotor hole (0 in electrophoresis mode)
  float temperature = 0.0f;     // degrees C
  float rpm = 0.0f;             // rotor speed, revolutions per minute
  double time = 0.0;            // working elapsed time, s; the models use this one
  double omega2t = 0.0;         // integral of omega^2 dt, rad^2/s
  float wavelength = 0.0f;      // nm; for W and V scans the radius (cm) of the scan
  int replicates = 0;           // readings averaged per point
  float meniscusNote = 0.0f;    // cm, from a " - meniscus" note; 0 when none
  int nPoints = 0;              // points kept by the reader
  double recordedTime = 0.0;    // elapsed time as read, s; the writers write this one
  double timeAtLoad = 0.0;      // second copy of the time as read, s
  double accelRate = 1.0e6;     // rotor acceleration, rpm/s; 1e6 when no lag is seen
  double accelTime = 0.0;       // duration of the acceleration phase, s
  bool timeStampOk = false;     // description carries a time-stamp mark, or F scan
  // The file's times as the platform reports them: nanoseconds since the Unix
  // epoch. Linux keeps no creation time; the status-change time stands in for it.
  std::int64_t creationTime = 0;
  std::int64_t lastAccessTime = 0;
  std::int64_t lastWriteTime = 0;
  bool fileTimesValid = false;  // the three times above were obtained
  bool fluorescence = false;    // F scan
  float voltage = 0.0f;         // F scans: detector voltage ("Voltage: ")
  int gain = 0;                 // F scans: "Gain: "
  int range = 0;                // F scans: "Range: "
  // The file the scan was read from, as the load named it (a full path); empty for
  // scans the program made (ScanFilePath then names the data directory).
  std::string sourcePath;
  bool detectorKeys = false;    // F scans: line 1 names all three keys
};

}  // namespace tarmic
