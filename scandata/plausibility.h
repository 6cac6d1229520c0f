// The plausibility rules of the values that readers take from files, one rule for
// each kind of value, shared by every reader that meets it: scan files of every
// optics in the velocity, equilibrium and electrophoresis layouts (and with them
// every loader, scan list and experiment file that reads scans), experiment files,
// scan lists, DLS files and the two-column DLS import.
//
// A value that no experiment can have refuses the file, with its line. A value that
// an instrument or an earlier version of the program does write, but that says that
// something was not recorded (omega^2 t of 0 at a later time, a wavelength of 0, a
// scattering angle of exactly 180 degrees), is loaded with a note, which the loaders
// show in one "ATTENTION" box after the load.
//
// Also here: the check that a file is plain text at all, which every one of these
// readers makes before it looks for lines and numbers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "numerics/hydrodynamics.h"
#include "numerics/text_lines.h"
#include "numerics/value_ranges.h"
#include "scandata/scan_info.h"

namespace tarmic {

// One kind of value: the range it can take and the words that name it in messages.
struct ValueRule {
  const char* name;   // "rotor speed"
  const char* unit;   // "rpm"; "" for none
  double low, high;
  bool lowIncluded, highIncluded;
  const char* what;   // "the speeds of a rotor"

  // Whether v is a value of the kind (never for NaN).
  bool Holds(double v) const;
  // "the rotor speed 1e+07 rpm"
  std::string Named(double v) const;
  // "the speeds of a rotor (above 0, at most 100000 rpm)"
  std::string Range() const;
  // "line 2 holds the rotor speed 1e+07 rpm, outside the speeds of a rotor (...)"
  std::string HeldOutside(int line, double v) const;
  // "the rotor speed 1e+07 rpm is outside the speeds of a rotor (...)"
  std::string IsOutside(double v) const;
};

// The longest time a scan can carry: a run of about three years. Centrifuge runs
// last hours to a few weeks; 1e30 s is a damaged header.
inline constexpr double kMaxRunTimeS = 1e8;
// The latest time of a light-scattering measurement: elapsed times of DLS files may
// be clock readings (Unix time stamps are about 1.7e9 s), so the bound is wider.
inline constexpr double kMaxMeasurementTimeS = 1e10;
// Radii (or wavelengths of wavelength scans) beyond this are no position.
inline constexpr double kLargestPosition = 1e6;
// No detector gives a signal beyond this magnitude (absorbance, fringes, counts or a
// correlation); their squares summed over a million points still fit in single
// precision, while 1e30 made every rmsd infinite or was dropped as a spike.
inline constexpr double kLargestSignal = 1e10;

// Scan headers (line 2).
inline constexpr ValueRule kCellRule{"cell", "", 0.0, 99.0, true, true, "the cell numbers of a rotor"};
inline constexpr ValueRule kTemperatureRule{"temperature", "C", kMinSampleTemperatureC,
                                            kMaxSampleTemperatureC, true, true,
                                            "the temperatures of a sample"};
inline constexpr ValueRule kRotorSpeedRule{"rotor speed", "rpm", 0.0, kMaxRotorSpeedRpm, false, true,
                                           "the speeds of a rotor"};
inline constexpr ValueRule kRunTimeRule{"time", "s", 0.0, kMaxRunTimeS, true, true, "the times of a run"};
// Radial scans: the wavelength of the optics (0: none recorded, noted).
inline constexpr ValueRule kScanWavelengthRule{"wavelength", "nm", 0.0, 10000.0, true, true,
                                               "the wavelengths of an optical system"};
// Wavelength scans: the radius at which the spectrum was taken (0: none recorded, noted).
inline constexpr ValueRule kSpectrumRadiusRule{"radius", "cm", 0.0, kLargestPosition, true, true,
                                               "the positions in a cell"};
inline constexpr ValueRule kReplicatesRule{"number of replicates", "", 0.0, 100000.0, true, true,
                                           "the readings averaged per point"};
// Data values of scans and correlation functions.
inline constexpr ValueRule kSignalRule{"value", "", -kLargestSignal, kLargestSignal, true, true,
                                       "the signals of a detector"};

// DLS parameter lines, lag times and their import.
inline constexpr ValueRule kMeasurementTimeRule{"elapsed time", "s", 0.0, kMaxMeasurementTimeS, true,
                                                true, "the times of a measurement"};
inline constexpr ValueRule kCountRateRule{"count rate", "", 0.0, kLargestSignal, true, true,
                                          "the count rates of a detector"};
inline constexpr ValueRule kRefractiveIndexRule{"refractive index", "", 1.0, 10.0, true, true,
                                                "the refractive indices of a solvent"};
inline constexpr ValueRule kViscosityPoiseRule{"viscosity", "P", 0.0, 10000.0, false, true,
                                               "the viscosities of a solvent"};
// Exactly 180 degrees (in the beam itself, where nothing is measured) reads with a
// note: an earlier import wrote what was entered, and a backscattering angle of 173
// degrees entered as 180 changes q by 0.2 %.
inline constexpr ValueRule kScatteringAngleRule{"scattering angle", "degrees", 0.0, 180.0, false, true,
                                                "the angles of a detector"};
inline constexpr ValueRule kLaserWavelengthRule{"laser wavelength", "m", 1e-8, 1e-4, true, true,
                                                "the wavelengths of a laser"};
inline constexpr ValueRule kLagTimeRule{"lag time", "s", 1e-12, 1e6, true, true,
                                        "the lag times of a correlator"};

// Experiment files: radii and fit limits are positions as those of scans of every
// layout (electrophoresis positions may be negative); a value of 0 or below stands
// for "not given", as in the viscosity.
inline constexpr ValueRule kPositionRule{"position", "cm", -kLargestPosition, kLargestPosition, true,
                                         true, "the positions of a scan"};
// The buffer's density and viscosity, the partial specific volumes and the baseline
// take the ranges of the table of valid values (numerics/value_ranges.h); the file
// keeps the viscosity in Pa s, a tenth of the table's poise, and 0 stands for "not
// given" in the viscosity and the partial specific volume at 20 C (the reader passes it).
inline constexpr ValueRule kBufferDensityRule{"buffer density", "g/ml", kBufferDensity.range.low,
                                              kBufferDensity.range.high, true, true,
                                              "the densities of a buffer"};
// The bounds are written out: a tenth computed in binary (0.1 * 1e-5) lies above
// 1e-6, which the file then could not hold although its message named it.
inline constexpr ValueRule kBufferViscosityRule{"buffer viscosity", "Pa s", 1e-6, 100.0, true, true,
                                                "the viscosities of a buffer"};
static_assert(kBufferViscosity.range.low == 1e-5 && kBufferViscosity.range.high == 1000.0,
              "the buffer viscosity rule is the table's range in Pa s");
inline constexpr ValueRule kPartialSpecificVolumeRule{"partial specific volume", "ml/g",
                                                      kPartialSpecificVolume.range.low,
                                                      kPartialSpecificVolume.range.high, true, true,
                                                      "the partial specific volumes of a macromolecule"};
inline constexpr ValueRule kBaselineRule{"baseline", "", kBaselineQuantity.range.low, kBaselineQuantity.range.high,
                                         true, true, "the baselines of a signal"};
// Scan lists: the number of files that make one scan ("newformat n=").
inline constexpr ValueRule kFilesPerScanRule{"number of files per scan", "", 1.0, 9999.0, true, true,
                                             "the files of a scan"};

// The largest omega^2 t a rotor reaches in a run of `time` seconds: the fastest speed
// (kMaxRotorSpeedRpm, above every real rotor) for the whole time, and a second more
// (headers hold whole seconds and an omega^2 t rounded to single precision).
double MaxOmega2t(double time);

// Checks a lag time of a correlation function that follows lags already read
// (previousLog: log10 of the last one as the data set holds it, in single
// precision; hasPrevious: whether there is one). Returns the refusal (outside
// kLagTimeRule, or "the lag time X s is not above the lag time Y s before it"),
// empty when it can follow; *logLag receives its log10 in single precision. The
// data set takes log10 of the lag as its abscissa, which must increase: descending
// lags set the fitting limits the wrong way round, an equal one is no new point.
std::string LagTimeRefusal(double lag, bool hasPrevious, float previousLog, float* logLag);

// Whether a header's omega^2 t was not recorded: 0 at a time after the start.
bool Omega2tNotRecorded(const ScanInfo& record);

// Checks the values of line 2 of a scan file as the reader put them into record
// (electrophoresisLayout: only time, wavelength and replicates are read). Returns
// why the file is refused ("line 2 holds ..."), empty when it can be read; notes
// (when given) receive what is readable but says something was not recorded: a
// wavelength (or a spectrum's radius) of 0 and, where the times are used
// (timesUsed: not for equilibrium data), an omega^2 t of 0 at a later time or one
// beyond what a rotor reaches in the time (a time not recorded right, for which
// times from omega^2 t can stand in).
std::string ScanHeaderRefusal(const ScanInfo& record, bool electrophoresisLayout, bool timesUsed,
                              std::vector<std::string>* notes);

// Why a file's bytes are no plain text, empty when they are (ASCII, UTF-8 or an
// 8-bit code page): UTF-16 and UTF-32 text with or without a byte-order mark, and
// other binary data (a zero byte or a control character other than tab, line and
// page ends and the end-of-file mark 0x1A). The reason names the line it was met in.
std::string NotPlainTextReason(std::string_view bytes);

// Reads a text file whole for a reader, as ReadWholeTextFile does (regular files
// only, every line end made LF, a last line without its line end as the rule says)
// and drops a UTF-8 byte-order mark. False with the reason in *why: those of
// ReadTextFile (numerics/text_lines.h), or "the file is not plain text: ..."
// (NotPlainTextReason). *note (when given) receives the note of a line left out.
bool ReadPlainTextFile(const std::string& path, LastLine rule, std::string* text, std::string* why,
                       std::string* note = nullptr);

}  // namespace tarmic
