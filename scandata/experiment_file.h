// Experiment (xp) files: a set of scan files of one experiment with the settings of
// its global analysis, as exchanged with the sibling program. The program writes
// them for sorted equilibrium data and for generated data series, and loads the
// files they list with their settings.
//
// Layout (text, one item per line):
//   line 1   "<type> (ExperimentType: <name>)"   type 3 SEDEQUILIBRIUM (one file),
//            4 MULTISEDEQ (several equilibrium files), 1 SEDVELOCITY
//   line 2   "(exported xp file from TARMIC)"
//   line 3   "\"<directory>/\" \" <name.ext> <name.ext> ...\""  the listed files
//   then     "<value> (<key>)" lines: numbers printed with "%f" (six decimals), "%d"
//            or "%e"; the keys and their order are those of FormatXpFile.
// The reader applies the keys of the record and knows the other keys of the
// exchange format, which it skips; a line without a key or with a key that is none
// of these (misspelt) refuses the file with its line, as its value would be lost.
// Messages name a key by its label ("the meniscus"), not by the key.
// Units: density g/ml, viscosity Pa s, partial-specific volumes ml/g, radii cm,
// temperature degrees C (-1: none given).
#pragma once

#include <string>
#include <vector>

namespace tarmic {

inline constexpr int kXpSedVelocity = 1;
inline constexpr int kXpSedEquilibrium = 3;
inline constexpr int kXpMultiSedEquilibrium = 4;

struct ExperimentFile {
  int type = kXpSedEquilibrium;
  std::string directory;           // without trailing '/'
  std::vector<std::string> files;  // names with extension, in the listed order
  float bufferDensity = 1.0f;
  float bufferViscosity = 0.001002f;
  float vbar = 0.73f;
  float meniscus = 0.0f, bottom = 0.0f;  // 0: not given
  // Ranges within which meniscus and bottom may be fitted; 0: not given.
  float maxMeniscus = 0.0f, minMeniscus = 0.0f, maxBottom = 0.0f, minBottom = 0.0f;
  float fitLeftLimit = 0.0f, fitRightLimit = 0.0f;  // 0: not given
  float weight = 1.0f;
  float noise = 0.005f;  // expected noise of the data, signal units
  bool fitTINoise = false, fitRINoise = false;
  bool varyBaseline = true;
  bool varyBottom = false, varyMeniscus = false;
  float baseline = 0.0f;
  float extinctionA = 1.0f, extinctionB = 1.0f, extinctionC = 0.0f;
  float vbar20 = 0.73f;
  float hydration = 0.3f;   // g/g
  float pathLength = 1.2f;  // cm
  float temperature = -1.0f;

  // True for the equilibrium types (3 and 4).
  bool IsEquilibrium() const { return type == kXpSedEquilibrium || type == kXpMultiSedEquilibrium; }
};

// The text of an experiment file for the record (type, file list and every key).
std::string FormatXpFile(const ExperimentFile& xp);
// Why the record's text would not load again (LoadXpFile's checks, with the line),
// empty when it loads.
std::string XpFileRefusal(const ExperimentFile& xp);
// Writes it atomically, once its text reads back (XpFileRefusal): false (target
// untouched, *error set when given) when it would not load again or the write
// failed.
bool WriteXpFile(const std::string& path, const ExperimentFile& xp, std::string* error = nullptr);

// Reads an experiment file. False, *out untouched and *error (when given) naming
// the file and the reason with its line, when the file cannot be read or is no
// plain text, its type line or file list is missing or malformed, it lists no file,
// a line holds no key or a key that is none of the format, a key it applies holds
// no number (as a whole, finite in single precision), or a position (meniscus,
// bottom, their ranges, the fit limits; 0: not given), the buffer density or
// viscosity (0: not given), a partial specific volume (that at 20 C: 0 not given),
// the baseline or the temperature (-1: none) lies outside its rule
// (scandata/plausibility.h, with the ranges of numerics/value_ranges.h).
bool LoadXpFile(const std::string& path, ExperimentFile* out, std::string* error = nullptr);

}  // namespace tarmic
