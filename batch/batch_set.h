// --set NAME=VALUE of tarmic-batch: the values a user changes between runs, by
// name, over those of the parameter file. The file is copied with the values in
// their lines (line = entry + 1 of the saved state) and the copy is taken as the
// window takes a parameter file, with its checks; then every value is read back
// from the analysis in effect, so that a value the window refused, moved into its
// range or that the model has no use for ends the run, naming it.
//
// Names (positions in cm, s in S, D in 1e-7 cm^2/s, M in g/mol):
//   meniscus, bottom, fit-from, fit-to            every model
//   s-min, s-max, resolution, ff0, confidence     the continuous distributions
//   s1..s4, D1..D4 (M1..M4 with "Fit M and s"), c1..c4
//                                                 the discrete species' start values
#pragma once

#include <string>
#include <vector>

namespace tarmic {

// One setting as the command line gives it, checked: a known name and a number.
struct BatchSetting {
  std::string name, value;
  double number = 0.0;  // the value read
};

// Checks "NAME=VALUE"; empty with *setting filled, or why not (naming it).
std::string ParseBatchSetting(const std::string& text, BatchSetting* setting);

// The lines of --help that list the names, one name (or group) a line.
std::string BatchSetUsage();

// Why a setting does not apply to the analysis in effect (the model of the
// parameter file has no use for its name: no distribution, no such species, M
// without "Fit M and s"); empty when every one applies. Judged on the parameter
// file as it is, before the values go into it.
std::string SettingsNotApplicable(const std::vector<BatchSetting>& settings);

// Writes the parameter file from with the settings in their lines to to; empty,
// or why not.
std::string WriteParametersWithSettings(const std::string& from, const std::string& to,
                                        const std::vector<BatchSetting>& settings);

// After the copy was taken: empty when the analysis in effect holds every value as
// given; otherwise one line naming the first setting that was not taken and why.
std::string CheckSettingsTaken(const std::vector<BatchSetting>& settings);

}  // namespace tarmic
