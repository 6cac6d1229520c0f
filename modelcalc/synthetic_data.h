// Synthetic sedimentation-velocity data from the current model: absorbance scans on
// an even radial grid from the meniscus to the bottom, at evenly spaced times after
// an optional acceleration phase, with the model signal of the ordinary model
// computation plus Gaussian noise. The set is written as one scan file per scan
// ("00001.ra0", ...) into the output directory, which becomes the data directory,
// and replaces the loaded data once every file is written.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarmic {

class Window;

// Set while a series of data sets is generated: the fit limits and the window are
// left to the series command.
extern bool bGeneratingSeries;

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

// Whether GenerateSyntheticData refuses the settings before anything changes (see
// there); a command asks its questions only for settings that are used.
bool SyntheticSettingsRefused(const SyntheticDataSettings& settings);

enum class SyntheticOutcome {
  Refused,    // nothing built (no scans asked, unusable spacing, speed or geometry)
  Generated,  // the set is loaded and every file written
  NotWritable,  // nothing built: a file of the set cannot take its place (reported)
  NotWritten, // its files could not all be written: the loaded set and every
              // setting are as before
  NotComputed,  // the model could not be computed (its message shown): the loaded
                // set and every setting are as before
};
// The outcome and, for NotWritable, NotWritten and NotComputed, the box the command shows
// (caption "ERROR"): the files that failed and "the loaded data are kept".
struct SyntheticResult {
  SyntheticOutcome outcome = SyntheticOutcome::Refused;
  std::string message;
  bool operator==(SyntheticOutcome o) const { return outcome == o; }
};

// Generates the set. The settings are refused before anything changes when the scan
// count is < 1, dr or rpm is not positive, the grid would be too large, or the
// meniscus lies beyond the bottom. Before anything changes every target is tried
// (directory writable, no target write-protected or a directory): otherwise
// NotWritable and the loaded set stays. The files are written as one set and
// replace their targets only when all are complete; the new set is made while the
// loaded one is held aside, and when a file still fails the loaded set, its grid,
// initial profile, parameters and switches come back unchanged (NotWritten; with a
// continuous model the distribution read for the data stays loaded and no model
// counts as computed).
SyntheticResult GenerateSyntheticData(Window* window, const SyntheticDataSettings& settings);
// The scan files a generation with these settings writes: "%05d.ra0" for scans
// 1..settings.scans in the directory of settings.outputPath.
std::vector<std::string> SyntheticDataFiles(const SyntheticDataSettings& settings);

// Restores the defaults of this file.
void ResetSyntheticData();

}  // namespace tarmic
