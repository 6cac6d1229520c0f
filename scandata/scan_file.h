// Instrument scan files: the reader and the writers of the text format in which
// every radial or wavelength scan is stored.
//
// Layout of a scan file (text; CR LF line ends are accepted):
//   line 1  description (free text)
//   line 2  type cell temperature rpm time omega2t wavelength replicates
//           type: R absorbance, I intensity, P interference, F fluorescence radial
//           scan; W absorbance, V intensity wavelength scan
//   then    one point per line: x  signal  [third column]
// Numbers are whitespace-separated words, each a decimal number as a whole; the
// values must be plausible (scandata/plausibility.h).
//
// The reader's options and the kind of the loaded data are globals shared with the
// loaders and the data tools. The reader itself sets none of them: it says the kind
// of the file it read (ScanDataKind), and the caller puts that in force once the
// file, or the set it belongs to, is accepted.
#pragma once

#include "numerics/analysis.h"

#include <cstdint>
#include <string>
#include <vector>

#include "scandata/scan_info.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct ScanFileState {
  // Kind of the loaded data (fluorescence data set bAbsorbanceData as well).
  bool bAbsorbanceData = false;
  bool bIntensityData = false;
  bool bInterferenceData = false;
  bool bFluorescenceData = false;
  // Electrophoresis data: the alternative field order of line 2, signals turned into
  // absorbance values.
  bool bElectrophoresisMode = false;
  // "Don't Load Spikes": drop isolated spikes while reading.
  bool bSkipSpikes = true;
  float fSpikeThresholdAbs = 0.4f;  // OD, absorbance data
  float fSpikeThresholdFDS = 100.0f;  // counts, fluorescence data
  float fSpikeThreshold = 0.4f;  // the threshold in force, set with the kind flags
  // "Set n Columns": read nDataColumns words per data line (x, signal, the rest dropped).
  bool bSetNColumns = false;
  int nDataColumns = 2;
};
// The current analysis' ScanFileState.
inline ScanFileState& ScanFile() { return CurrentPart<ScanFileState>(); }
// The column counts the setting accepts: 2 to kMaxDataColumns.
constexpr int kMaxDataColumns = 20;

// The longest word the reader accepts; a file with a longer word is refused.
constexpr int kMaxScanFileWord = 63;

// The kind of data a scan file holds, as the kind flags take it (fluorescence and
// electrophoresis data count as absorbance data as well), with the spike threshold
// for its data: that of absorbance or fluorescence data; files of the other kinds
// keep the threshold in force.
struct ScanDataKind {
  bool absorbance = false;
  bool intensity = false;
  bool interference = false;
  bool fluorescence = false;
  float spikeThreshold = 0.4f;
  // The kind flags and fSpikeThreshold as they are.
  static ScanDataKind InForce();
  // Puts this kind in force: sets the four kind flags and fSpikeThreshold.
  void Apply() const;
};

// Reads one scan file. On success (1) record, n and the newly allocated one-based
// vectors radius[1..n], value[1..n] and, when third is given and the layout has a
// third column, third[1..n] are set; the caller owns the vectors (free_vector with
// 1..n). minStep (cm) merges points closer than that to the first of their run;
// mark receives whether the description carries a time-stamp mark. On failure (0)
// nothing is allocated and the out-vectors are untouched; error, when given,
// receives the reason (the record may already hold the file times and description):
// a file that is no plain text, a line 2 that is missing, lacks a value or holds one
// that no run has (ScanHeaderRefusal), a data value that is no whole number or no
// signal (kSignalRule), radii that are no increasing positions, fewer than two rows.
// notes, when given, receive what is readable but was not recorded (an omega^2 t or
// a wavelength of 0; ScanHeaderRefusal). Once the file is accepted its kind is put
// in force (ScanDataKind::Apply); a refused file leaves the kind flags as they were.
int ReadScanFile(const char* path, ScanInfo* record, int* n, float** radius, float** value,
                 float** third, bool* mark, float minStep, std::string* error = nullptr,
                 std::vector<std::string>* notes = nullptr);
// The reader proper, as ReadScanFile but without touching any global: on success
// *fileKind (when given) receives the file's kind; putting it in force is the
// caller's (ScanDataKind::Apply), once it accepts the file. inForce is the kind of
// the file read before it: an electrophoresis file, whose line 2 names no kind,
// takes it (and counts as absorbance data), and intensity and interference files
// keep its spike threshold.
int ReadScanFileAndKind(const char* path, const ScanDataKind& inForce, ScanDataKind* fileKind,
                        ScanInfo* record, int* n, float** radius, float** value, float** third,
                        bool* mark, float minStep, std::string* error = nullptr,
                        std::vector<std::string>* notes = nullptr);

// Writes one scan from one-based arrays of n points with the header values of the
// record, in the wavelength layout for W and V scans, else the radial layout, and
// gives the new file the record's file times. The description written is
// newDescription (or the record's) with "[T OK]" in front unless it already holds a
// time-stamp mark. Returns false when the file could not be written.
bool WriteScanFile(const char* path, int n, const float* radius, const float* value,
                   const float* third, const char* newDescription, bool timeOk,
                   const ScanInfo& record);

// The radial layout with every header value given: rpm, time and wavelength are
// written as integers (truncated), temperature and omega2t as numbers. creation,
// lastAccess and lastWrite are file times as in ScanInfo; with fileTimesValid they
// are put on the new file. Returns false when the file could not be written.
bool WriteRadialScanFile(const char* path, int n, const float* radius, const float* value,
                         const float* third, const char* description, bool timeOk,
                         std::int64_t creation, std::int64_t lastAccess,
                         std::int64_t lastWrite, bool fileTimesValid, char scanType, int cell,
                         float temperature, float rpm, double time, double omega2t,
                         float wavelength, int replicates);
// The same with the seventh header value (the radius of a wavelength scan) written
// as a number with three decimals.
bool WriteWavelengthScanFile(const char* path, int n, const float* radius, const float* value,
                             const float* third, const char* description, bool timeOk,
                             std::int64_t creation, std::int64_t lastAccess,
                             std::int64_t lastWrite, bool fileTimesValid, char scanType,
                             int cell, float temperature, float rpm, double time,
                             double omega2t, float wavelength, int replicates);

// Whether a description carries one of the two time-stamp marks.
bool HasTimeStampMark(const std::string& description);

// Sets the reader options and kind flags to their defaults.
void ResetScanFileGlobals();

}  // namespace tarmic
