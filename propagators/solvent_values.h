// The values of the inhomogeneous-solvent model as a solve takes them: the model's
// settings (kept in the analysis by solvent_settings.h) and the solvent of one solve
// built from them. No part of the analysis is reached from here.
//
// Units as in solvent_settings.h.
#pragma once

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

// The solvent of one solve: the model's settings and what the solve takes with them
// from the rest of the analysis.
struct SimSolvent {
  InhomSolventSettings st;
  float vbar = 0.73f;              // VBAR of the species, ml/g
  double compressionRpm = 0.0;     // the speed the solvent is compressed at (first scan), rpm
  bool zoneCentrifugation = false;  // band loading: the lamella carries no cosolute
  float lamellaWidth = 0.0f;       // cm
};

}  // namespace tarmic
