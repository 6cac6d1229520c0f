// Synthetic sedimentation-velocity data from the current model: absorbance scans on
// an even radial grid from the meniscus to the bottom, at evenly spaced times after
// an optional acceleration phase, with the model signal of the ordinary model
// computation plus Gaussian noise. The set is written as one scan file per scan
// ("00001.ra0", ...) into the output directory, which becomes the data directory,
// and replaces the loaded data once every file is written.
#pragma once

#include "numerics/analysis.h"

#include <optional>
#include <string>
#include <vector>

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct SyntheticDataState {
  // Set while a series of data sets is generated: the fit limits and the window are
  // left to the series command.
  bool bGeneratingSeries = false;
};
// The current analysis' SyntheticDataState.
inline SyntheticDataState& SyntheticData() { return CurrentPart<SyntheticDataState>(); }

struct SyntheticDataSettings {
  float dr = 0.01f;            // point spacing, cm (> 0)
  float rpm = 50000.0f;        // rotor speed (> 0)
  float acceleration = -1.0f;  // rpm/s; negative: no acceleration phase
  float noise = 0.0f;          // standard deviation of the noise, signal units
  float interval = 300.0f;     // time between scans, s
  float firstTime = 0.0f;      // s; 0: the first scan one interval after the start
  int scans = 0;               // number of scans
  std::string outputPath;      // a file path in the output directory (name ignored)
  // Zone centrifugation: the band's initial distribution lies inverted. The command
  // asks kInvertBandQuestion before generating (nothing is asked while computing).
  bool invertBand = false;
  // A continuous model: the signal comes from the distribution in szDistribFile.
  // The command says where to put it (SyntheticDistributionNote) and asks
  // kDistributionNormalizedQuestion before generating; the answer sets the
  // loader's normalisation switch (unset: the switch stays as it is).
  std::optional<bool> distributionNormalized;
};
inline constexpr const char* kInvertBandQuestion = "invert band initial distribution?";
inline constexpr const char* kDistributionNormalizedQuestion =
    "is synthetic distribution normalized?";
// "put synthetic distribution in <szDistribFile>" (caption "ATTENTION").
std::string SyntheticDistributionNote();

// Why GenerateSyntheticData refuses the settings before anything changes, in one
// sentence that names the value at fault; empty when they can be used (the output
// path is not looked at). Refused: a number of scans outside 1 to kMaxScans, a point
// spacing dr that is not positive, finer than kScanFileRadiusStep or that gives more
// than kMaxGridPoints points, a rotor speed outside the speeds of a rotor, a
// negative interval, scans beyond the longest time of a run, and a cell without
// meniscus or bottom or whose meniscus lies beyond the bottom. A command asks its
// questions only for settings that are used.
std::string SyntheticSettingsRefusal(const SyntheticDataSettings& settings);
bool SyntheticSettingsRefused(const SyntheticDataSettings& settings);
// Scan files hold radii with four decimals: a finer point spacing would write
// radii that do not increase.
inline constexpr float kScanFileRadiusStep = 1e-4f;

enum class SyntheticOutcome {
  Refused,    // nothing built: the settings are refused (SyntheticSettingsRefusal)
  Generated,  // the set is loaded and every file written
  NotWritable,  // nothing built: a file of the set cannot take its place (reported)
  NotWritten, // its files could not all be written: the loaded set and every
              // setting are as before
  NotComputed,  // the model could not be computed: the loaded set and every
                // setting are as before
  Stopped,    // a key stopped the computation (the stop is cleared): the loaded
              // set and every setting are as before
  NotReadable,  // a written file would not load again (the scan reader refuses
                // it): nothing replaced, the loaded set and every setting as before
};
// The outcome and, for every outcome but Generated, the box the command shows
// (caption "ERROR"): why nothing was generated and, once the loaded set was held
// aside, "the loaded data are kept".
struct SyntheticResult {
  SyntheticOutcome outcome = SyntheticOutcome::Refused;
  std::string message;
  bool operator==(SyntheticOutcome o) const { return outcome == o; }
};

// Generates the set. The settings are refused before anything changes as
// SyntheticSettingsRefusal says. Before anything changes every target is tried
// (directory writable, no target write-protected or a directory): otherwise
// NotWritable and the loaded set stays. The files are written as one set and
// replace their targets only when all are complete; the new set is made while the
// loaded one is held aside, and when a file still fails the loaded set, its grid,
// initial profile, parameters and switches come back unchanged (NotWritten; with a
// continuous model the distribution read for the data stays loaded and no model
// counts as computed). Every file is read back through the scan reader before any
// replaces its target: one the reader refuses ends the generation (NotReadable)
// with the file and the reader's reason, nothing replaced and the loaded set back.
SyntheticResult GenerateSyntheticData(Window* window, const SyntheticDataSettings& settings);
// The scan files a generation with these settings writes: "%05d.ra0" for scans
// 1..settings.scans in the directory of settings.outputPath.
std::vector<std::string> SyntheticDataFiles(const SyntheticDataSettings& settings);

// Restores the defaults of this file.
void ResetSyntheticData();

}  // namespace tarmic
