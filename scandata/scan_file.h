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
// The reader's options and the kind of the last file read are globals shared with
// the loaders and the data tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scandata/scan_info.h"

namespace tarmic {

// Kind of the scan read last (fluorescence data set bAbsorbanceData as well).
extern bool bAbsorbanceData;
extern bool bIntensityData;
extern bool bInterferenceData;
extern bool bFluorescenceData;
// Electrophoresis data: the alternative field order of line 2, signals turned into
// absorbance values.
extern bool bElectrophoresisMode;
// "Don't Load Spikes": drop isolated spikes while reading.
extern bool bSkipSpikes;
extern float fSpikeThresholdAbs;  // OD, absorbance data
extern float fSpikeThresholdFDS;  // counts, fluorescence data
extern float fSpikeThreshold;     // the threshold in force, set by each read
// "Set n Columns": read nDataColumns words per data line (x, signal, the rest dropped).
extern bool bSetNColumns;
extern int nDataColumns;
// The column counts the setting accepts: 2 to kMaxDataColumns.
constexpr int kMaxDataColumns = 20;

// The longest word the reader accepts; a file with a longer word is refused.
constexpr int kMaxScanFileWord = 63;

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
// a wavelength of 0; ScanHeaderRefusal). Sets the kind flags and fSpikeThreshold.
int ReadScanFile(const char* path, ScanInfo* record, int* n, float** radius, float** value,
                 float** third, bool* mark, float minStep, std::string* error = nullptr,
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
