// Distribution files: the two-column distribution from which synthetic data are
// made, and the saved distribution of an analysis with its restore. (The kernel
// profiles, which the synthetic data are made of, are in kernel_profiles.h.)
//
// A saved distribution is a text file in the "C" locale: one line naming its kind,
//   # TARMIC distribution c(s)      or      # TARMIC distribution c(M)
// then one line per grid point with four numbers separated by tabs:
//   c(s): s (S), c(s), second-regularisation c(s), M (g/mol)
//   c(M): M (g/mol), c(M), second-regularisation c(M), s (S)
// The kind line makes a c(M) distribution come back as c(M) whatever model is
// active when it is restored.
#pragma once

#include "numerics/analysis.h"

#include <optional>
#include <string>
#include <vector>

#include "distributions/kernel_profiles.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct DistributionFileState {
  // LoadDistributionFromFile rescales the loaded values to amplitudes (on at start).
  bool bNormalizeLoadedDistribution = true;
  // Sum of the loaded values, their trapezoid area, and total / area.
  float fLoadedDistTotal = 0.0f;
  float fLoadedDistArea = 0.0f;
  float fLoadedDistScale = 0.0f;
};
// The current analysis' DistributionFileState.
inline DistributionFileState& DistributionFile() { return CurrentPart<DistributionFileState>(); }

// Installs the two-column distribution of a file (x, value) as the current one,
// with kernel array and workspace for the loaded scans. False for the c(s,ff0)
// models, an unreadable file, or memory that could not be had (its message in
// *error, when given). *note (when given) receives what the caller shows of the
// file's folder: a set saved there that could not be finished; empty otherwise.
bool LoadDistributionFromFile(const std::string& fileName, std::string* error = nullptr,
                              std::string* note = nullptr);

// The one-dimensional distribution on show, held while a synthetic set is made from
// the distribution file, and put back (with its plot, as it was shown) when that
// set cannot be written.
class HeldDistribution {
 public:
  HeldDistribution();  // takes the distribution on show; none for the size-shape models
  // Replaces whatever distribution was loaded since by the held one; without one
  // the loaded distribution is cleared. Call after the held data set is back, so
  // that the plot belongs to it.
  void PutBack() const;

 private:
  int n_ = 0, gridPoints_ = 0;
  float gridCount_ = 0.0f, min_ = 0.0f, max_ = 0.0f;
  std::vector<float> grid_, s_, values_, values2_;
  std::vector<double> prior_;
  bool plotted_ = false, overM_ = false, transformed_ = false, rhTransformed_ = false;
};

// --- saved distributions ---
enum class DistributionKind { SGrid, MolarMass };
// The kind of distribution the active model makes.
DistributionKind CurrentDistributionKind();
// What a save or restore of a distribution did: ok, or why not (the command shows
// the message in the error box).
struct DistributionFileResult {
  bool ok = false;
  std::string message;
  explicit operator bool() const { return ok; }
};
// Writes the current distribution to path; refused when there is none (nothing
// computed, or a c(s,ff0) or light-scattering result), or the file cannot be
// written.
DistributionFileResult SaveContiDistribution(const std::string& path);
// The same writer for the distribution on show whatever the model: for c(s,ff0)
// its projection over s, as the window plots it (a batch run saves it beside the
// two-dimensional file). Refused when nothing is shown or the file cannot be written.
DistributionFileResult SaveDistributionAsShown(const std::string& path);
// Whether a distribution of the active model is of the kind SaveContiDistribution
// writes: one dimension on sedimentation data (not c(s,ff0), whose cells are
// two-dimensional, nor a light-scattering distribution).
bool SavesContinuousDistribution();
// The kind a saved file holds; none when it is not a readable saved distribution
// (a kind line followed by damaged rows has none).
std::optional<DistributionKind> ReadSavedDistributionKind(const std::string& path);
// The grid values and the distribution of a saved distribution, and whether it is
// over M; false when the file is no saved distribution (as above).
bool ReadSavedDistributionCurve(const std::string& path, std::vector<double>* x, std::vector<double>* values,
                                bool* overM = nullptr);
// Installs a saved distribution as the current one and shows it. The active model
// must make distributions of the file's kind (a model command selects it first):
// otherwise, or when the file is not a readable saved distribution, nothing changes
// and the result says why.
DistributionFileResult RestoreContiDistribution(const std::string& path);
// "<data directory>/distribution.dat": where the Save command proposes to save.
std::string DefaultDistributionPath();

// Restores every value of this file to its default.
void ResetDistributionFiles();

}  // namespace tarmic
