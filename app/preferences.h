// The preference files of the program directory.
//
// "tarmicparams.ini" holds 19 numbers, one per line, index from 0:
//   0 disclaimer accepted          10 integration ranges from file
//   1 radial resolution (cm)       11 threads (0: multithreading off)
//   2 update residual bitmap       12 fit algorithm (1 simplex, 2 annealing,
//   3 update residual plot             3 Marquardt-Levenberg)
//   4 update data plot             13 suppress baseline correlation
//   5 update distribution plot     14 threads for Lamm equations
//   6 sounds                       15 refresh interval during fits (s)
//   7 scan colours by time         16 DLS data as g(2)-1
//   8 wizard messages              17 check time stamps (1 on, 0 off)
//   9 regularisation (1 maximum    18 time-stamp threshold, as
//     entropy, 2 second derivative,    (threshold - 1) x 100000 rounded
//     3 both)
// Switches are 1 for on and 0 for off; a switch line that holds anything else
// ("2", "0.5") takes its default with a note. A line must be one number as a whole
// (FileLineNumber, numerics/number_input.h); a blank line holds no number at its
// own place (its setting takes the default, and the note names the line).
// Older files wrote line 17 as a number derived from the threshold whose sign was
// the switch; they read the same way (on when > 0).
//
// "tarmic.ini" holds the last data directory, the start directory of the file
// dialogs, as its first line ending in '/', and after it the line
// "FullCommandSet=1" (or "=0") once the menu was switched: 1 attaches the full
// command set "MENU_1" at start-up instead of "MENU_VIREZ". A file without that line
// (every file older than the switch) means "MENU_VIREZ".
//
// The settings read here live with the modules that use them (radial resolution:
// scandata/radial_grid.h; refresh switches, interval and scan colours:
// plot/data_plots.h; sounds: services/sounds.h; time stamps: scandata/time_stamps.h;
// the Lamm thread count: bound by the solver's library, see BindLammThreadCount).
// The others are defined here.
#pragma once

#include <string>

#include "numerics/value_ranges.h"

namespace tarmic {

class TXLAWindow;

extern bool bDisclaimerAccepted;           // the disclaimer was agreed to
extern bool bWizardMessages;               // help-wizard messages after fits (on)
extern bool bRegMaxEnt;                    // maximum-entropy regularisation (on)
extern bool bRegSecondDerivative;          // second-derivative regularisation
extern bool bRegShowBoth;                  // show both regularisations
extern bool bIntegRangesFromFile;          // c(s) integration ranges from a file
extern bool bMultiThreading;               // compute with several threads (on)
extern int nThreads;                       // threads of normal equations and Monte Carlo (2)
extern bool bFitSimplex;                   // fit algorithm: exactly one of the three
extern bool bFitAnnealing;
extern bool bFitMarquardt;
extern bool bSuppressBaselineCorrelation;  // in maximum entropy (on)
extern bool bAlwaysLoadG2;                 // DLS data as g(2)-1 intensity autocorrelation
extern bool bFullCommandSet;               // the window attaches "MENU_1" (kept in "tarmic.ini")

// The preference file's lines.
enum PreferenceLine {
  kPrefDisclaimer = 0,
  kPrefRadialStep = 1,
  kPrefUpdateBitmap = 2,
  kPrefUpdateResiduals = 3,
  kPrefUpdateData = 4,
  kPrefUpdateDistribution = 5,
  kPrefSounds = 6,
  kPrefScanColorByTime = 7,
  kPrefWizardMessages = 8,
  kPrefRegularisation = 9,
  kPrefIntegRangesFromFile = 10,
  kPrefThreads = 11,
  kPrefFitAlgorithm = 12,
  kPrefSuppressBaseline = 13,
  kPrefLammThreads = 14,
  kPrefFitUpdateInterval = 15,
  kPrefAlwaysLoadG2 = 16,
  kPrefCheckTimeStamps = 17,
  kPrefTimeStampThreshold = 18,
  kPreferenceLines = 19
};

// The number of Lamm-equation worker threads. The value lives with the Lamm solver,
// whose library sits above this one; it binds its variable here at start-up, so that
// the preference file reads and writes the solver's own count. Until then a value
// of this module (2) stands in.
int& LammThreadCount();
void BindLammThreadCount(int* count);

// Reads "tarmicparams.ini": 1 when it was read, 0 when it is missing, is no plain
// text (said once per session) or holds no number (the settings keep their start
// values). Missing lines take their defaults (two of them after a question) and
// the file is then written anew with 19 lines. A line that holds no number, or a
// value outside its row of the table of valid values (PreferenceEntries,
// numerics/value_ranges.h: a radial step outside kFinestRadialStep to
// kCoarsestRadialStep, with which every load would fail or the grid loop would not
// end, a thread count above 256, ...) takes the line's default as well, and one
// note names the file and each such line; the file is left as it is. Thread counts
// between 0 and 1 are read as 1.
int LoadPreferences(TXLAWindow* window);
// Writes the whole file from the settings: 1 on success, 0 when it cannot be
// written (reported once per command: "could not write to disk into directory ...").
int WritePreferences(TXLAWindow* window);
// Replaces one line of the existing file by value; the other lines stay as they
// are. 1 on success; 0 when the line is not one of the kPreferenceLines, the value
// lies outside the line's row of the table, the file is missing, holds no number,
// is shorter than line + 1 lines, or cannot be written (reported once per command,
// as above).
int SavePreference(TXLAWindow* window, int line, int value);
// Called by the command dispatcher before every command: the next failed write of
// the preference file is reported again.
void ArmPreferenceWriteReport();

// The allowed radial step of the common grid, cm.
inline constexpr float kFinestRadialStep = static_cast<float>(kRadialResolution.range.low);
inline constexpr float kCoarsestRadialStep = static_cast<float>(kRadialResolution.range.high);

// Line 18's encoding of the time-stamp threshold and its decoding.
int EncodeTimeStampThreshold(double threshold);
double DecodeTimeStampThreshold(double value);

// Stores the directory of a selection in "tarmic.ini": the directory itself when
// path names a directory, else the directory that holds the file; ends in '/'.
void SaveLastDataDirectory(TXLAWindow* window, const std::string& path);
// The stored directory (the whole first line, ending in '/'), or directory
// unchanged when "tarmic.ini" cannot be read or is empty.
void ReadLastDataDirectory(TXLAWindow* window, std::string& directory);

// Whether "tarmic.ini" keeps the choice of the full command set (false when the file
// or its line is missing or unreadable).
bool ReadFullCommandSetChoice();
// Keeps the choice in "tarmic.ini"; the directory line stays. 1 on success, 0 when the
// file cannot be written (reported as a failed write of the preference file).
int SaveFullCommandSetChoice(TXLAWindow* window, bool full);

// Reads the Lamm-equation settings of "tarmiclammparams.ini". Their dialog belongs
// to the model computation, which is not built yet: until it is, the file is left
// alone and nothing is read.
void ReadLammEqParameterPreferences(TXLAWindow* window);

// Sets the settings defined here to their start values and forgets that a write
// failure was reported (tests).
void ResetPreferences();

}  // namespace tarmic
