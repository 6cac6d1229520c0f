// The settings of the inhomogeneous-solvent model: a compressible solvent with a
// static density gradient, or a buffer with a sedimenting cosolute that builds a
// dynamic density and viscosity gradient. One process-wide record, edited by the
// command "Inhomogeneous Solvent", read by the cosolute and solvent-profile routines
// (inhomogeneous_solvent.h) at the start of a propagator run and handed to the
// solver object by the model computations.
//
// While the model is on, the s and D of the model parameters are held at standard
// conditions (water at 20 C); ConvertToStandardConditions and
// ConvertToExperimentalConditions move them there and back.
//
// Units: compressibility 1/MPa, densities g/ml, viscosities Pa s, vbar ml/g,
// cosolute concentration mol/l, s in S, D in cm^2/s. Coefficient vectors are
// one-based (index 0 unused).
#pragma once

#include "numerics/analysis.h"

#include <string>
#include <vector>

#include "propagators/solvent_values.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct SolventSettingsState {
  InhomSolventSettings gInhomSolvent{};
  // The three notes of the command, shown once per program run.
  bool bTruncateNoteShown = false;
  bool bDynamicNoteShown = false;
  bool bStaticNoteShown = false;
};
// The current analysis' SolventSettingsState.
inline SolventSettingsState& SolventSettings() { return CurrentPart<SolventSettingsState>(); }

// Grid size the cosolute is solved on: the setting, or 50 when not set.
int CosoluteGridSize(const InhomSolventSettings& s);
// Smallest cosolute grid accepted.
inline constexpr int kMinCosoluteGridSize = 10;

// The coefficient file paths in use (the chosen file, else the default).
std::string SNonidealCoefPath(const InhomSolventSettings& s);
std::string DNonidealCoefPath(const InhomSolventSettings& s);
std::string DensityCoefPath(const InhomSolventSettings& s);
std::string ViscosityCoefPath(const InhomSolventSettings& s);

// Reads a coefficient file (one number per line, the rest of a line after a blank
// a comment, blank lines skipped) into a one-based vector; false (vector empty),
// with a sentence that names the file in *why (when given), when the file cannot
// be opened ("could not open <path>: <reason>"; a pipe or a device is not opened)
// or a line does not begin with a whole number ("could not read <path>: line 3
// holds \"1,5\", which is not a number").
bool ReadCoefficientFile(const std::string& path, std::vector<double>* coef, std::string* why = nullptr);
// Reads the two coefficient files of the settings into s and D (one-based). False,
// with a message, when a file cannot be read.
bool ReadCosoluteCoefficientTables(std::vector<double>* s, std::vector<double>* D,
                                   std::string* message);

// Moves the species' s and D (and the buffer values of the model) to standard
// conditions, keeping the factors for the way back; and back with those factors.
void ConvertToStandardConditions();
void ConvertToExperimentalConditions();

class CLammIdeal;
// Hands the settings to a solver object (its inhomogeneous-solvent and cosolute
// set-up, and where the cosolute profiles are shown and saved). False, with a
// message, when the model is on with a cosolute grid below kMinCosoluteGridSize or
// unreadable s(c), D(c) files.
bool LoadSolventIntoSolver(CLammIdeal& lamm, std::string* message);

// Restores every setting to its initial value (tests).
void ResetInhomSolventSettings();

}  // namespace tarmic
