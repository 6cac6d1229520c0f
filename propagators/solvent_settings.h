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

namespace tarmic {

struct InhomSolventSettings {
  bool bInhomogeneousSolvent = false;     // model on
  bool bCompressibleSolvent = true;       // "compressible solvent (static gradient)"
  bool bCosoluteDynamicGradient = false;  // "sedimenting cosolute (dynamic gradient)"
  bool bSedimentingCosolute = false;      // the cosolute is solved beside the species
  double compressibility = 4.591e-4;      // kappa, 1/MPa
  float density1atm = 0.99823f;           // rho0 (dynamic: at the loading concentration)
  float viscosity1atm = 0.001002f;        // Pa s (dynamic: at the loading concentration)
  float relViscosity = 1.0f;              // eta_rel = viscosity / STANDARDVISCOSITY
  float vbarSolvated = 0.0f;              // vbar including solvation; 0 = not set
  float vbarEffective = 0.73f;            // vbarSolvated in the dynamic mode, else VBAR
  double cosoluteConc = 1.5;              // c0, mol/l
  double cosoluteS = 0.2;                 // apparent s of the cosolute, S
  double cosoluteD = 3e-6;                // apparent D of the cosolute, cm^2/s
  bool nonidealCosolute = false;          // s(c), D(c) of the cosolute
  bool csclCosolute = false;              // built-in CsCl s(c), D(c) instead of the files
  int cosoluteGridSize = 0;               // nodes of the cosolute grid (0: not set, 50 used)
  bool bShowCosoluteProfile = false;
  bool bSaveCosoluteProfile = false;
  bool addWaterCompressibility = false;   // the dialog's choice
  bool compressibleWater = false;         // dynamic mode with the compression of water
  bool converted = false;                 // the model's s and D are at standard conditions
  bool bFitVbar = false;                  // "fit vbar (requires strong density gradients)"
  std::vector<double> densityCoef;        // a[1..na], empty until loaded
  std::vector<double> viscosityCoef;      // b[1..nb], empty until loaded
  float savedVbar = 0.73f;                // restored when the model is switched off
  float savedDistMin = 1.0f;              //   under a c(s)-type model
  // Factors of the last conversion to standard conditions: D_std = D x
  // convertedDFactor, s_std = s x convertedSFactor. The conversion back divides by
  // these, whatever the solvent values are by then.
  double convertedDFactor = 1.0;
  double convertedSFactor = 1.0;
  // Chosen coefficient files; empty means the program-directory default of the
  // path table (snonid.dat, dnonid.dat, density.dat, viscosity.dat).
  std::string sNonidealPath, dNonidealPath, densityPath, viscosityPath;
};

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
