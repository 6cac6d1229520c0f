#include "propagators/solvent_settings.h"
#include "numerics/analysis.h"

#include <utility>

#include "lamm/lamm_ideal.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "services/path_table.h"
#include "numerics/number_input.h"
#include "numerics/solvent_constants.h"
#include "numerics/text_lines.h"
#include "scandata/analysis_switches.h"

namespace tarmic {

int CosoluteGridSize(const InhomSolventSettings& s) {
  return s.cosoluteGridSize > 0 ? s.cosoluteGridSize : 50;
}

namespace {
std::string Chosen(const std::string& chosen, const std::string& fallback) {
  return chosen.empty() ? fallback : chosen;
}

// Writes the buffer density and viscosity into the continuous model's slots (not
// in the extrapolation of a boundary analysis): density g/ml, viscosity Poise. The
// species values behind those slots follow, so that a later packing keeps them.
void SetContinuousBufferEntries() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelFlagsPart = ModelFlags();
  auto& modelParamsPart = ModelParams();
  auto& solventConstantsPart = SolventConstants();
  if (!modelFlagsPart.bContiModel || modelFlagsPart.bBoundaryAnalysis) return;
  analysisSwitchesPart.pParams[kContiSlotDensity] = modelParamsPart.pSpeciesS[kContiSlotDensity - nSpeciesSlots] = solventConstantsPart.fBufferDensity;
  analysisSwitchesPart.pParams[kContiSlotViscosity] = modelParamsPart.pSpeciesAmplitude[kContiSlotViscosity - 2 * nSpeciesSlots] =
      solventConstantsPart.RELVISCOSITY * 0.01002f;
}
}  // namespace

std::string SNonidealCoefPath(const InhomSolventSettings& s) { return Chosen(s.sNonidealPath, szSNonIdFile); }
std::string DNonidealCoefPath(const InhomSolventSettings& s) { return Chosen(s.dNonidealPath, szDNonIdFile); }
std::string DensityCoefPath(const InhomSolventSettings& s) { return Chosen(s.densityPath, szDensityFile); }
std::string ViscosityCoefPath(const InhomSolventSettings& s) {
  return Chosen(s.viscosityPath, szViscosityFile);
}

bool ReadCoefficientFile(const std::string& path, std::vector<double>* coef, std::string* why) {
  coef->clear();
  std::vector<std::string> lines;
  std::string reason;
  if (!ReadTextFileLines(path, LastLine::kRefused, &lines, &reason)) {
    if (why) *why = "could not open " + path + ": " + reason;
    return false;
  }
  coef->push_back(0.0);  // index 0 unused
  // The first word of each line that is not blank is one number as a whole; the
  // rest of the line is a comment ("0.5 S"). "1,5" and "1.5abc" read as 1 and 1.5
  // before, and a line of text ended the series without a word.
  for (std::string& line : lines) {
    const std::size_t start = line.find_first_not_of(" \t");
    line = start == std::string::npos ? std::string() : line.substr(start, line.find_first_of(" \t", start) - start);
  }
  for (const NumberLine& l : NumberLinesOf(lines)) {
    if (!l.value) {
      coef->clear();
      if (why) *why = "could not read " + path + ": " + NoNumberText(l.line, lines[l.line - 1]);
      return false;
    }
    coef->push_back(*l.value);
  }
  if (coef->size() == 1) coef->clear();
  return true;
}

bool ReadCosoluteCoefficientTables(std::vector<double>* s, std::vector<double>* D,
                                   std::string* message) {
  for (const auto& [path, coef] : {std::pair{SNonidealCoefPath(SolventSettings().gInhomSolvent), s},
                                   std::pair{DNonidealCoefPath(SolventSettings().gInhomSolvent), D}}) {
    std::string why;
    if (!ReadCoefficientFile(path, coef, &why)) {
      if (message) *message = why;
      return false;
    }
  }
  return true;
}

void ConvertToStandardConditions() {
  auto& solventSettingsPart = SolventSettings();
  auto& modelFlagsPart = ModelFlags();
  auto& modelParamsPart = ModelParams();
  auto& solventConstantsPart = SolventConstants();
  InhomSolventSettings& st = solventSettingsPart.gInhomSolvent;
  const double vbarEff = st.bCosoluteDynamicGradient ? st.vbarSolvated : solventConstantsPart.VBAR;
  // D_std = D eta_rel; s_std = s eta_rel (1 - vbar rho_w) / (1 - vbar_eff rho0).
  st.convertedDFactor = st.relViscosity;
  st.convertedSFactor = st.relViscosity * (1 - solventConstantsPart.VBAR * fDensityWater20) / (1 - vbarEff * st.density1atm);
  // The species slots of a continuous model hold its own settings (grid limits,
  // confidence, vbar, density, viscosity), which are no s or D values.
  for (int k = 1; k <= nSpeciesSlots && !modelFlagsPart.bContiModel; ++k) {
    // In the molar-mass parametrisation the second value is M, which standard
    // conditions leave unchanged (s and D change by the same friction and buoyancy).
    if (!modelFlagsPart.bFitMAndS)
      modelParamsPart.pSpeciesMassOrD[k] =
          modelParamsPart.pSpeciesMassOrD[k] > 0 ? static_cast<float>(modelParamsPart.pSpeciesMassOrD[k] * st.convertedDFactor) : 0.0f;
    modelParamsPart.pSpeciesS[k] = static_cast<float>(modelParamsPart.pSpeciesS[k] * st.convertedSFactor);
  }
  if (!modelFlagsPart.bContiModel) PackModelParams();
  solventConstantsPart.fBufferDensity = fDensityWater20;
  solventConstantsPart.fVRho = solventConstantsPart.VBAR * fDensityWater20;
  solventConstantsPart.RELVISCOSITY = 1.0f;
  SetContinuousBufferEntries();
  st.converted = true;
}

void ConvertToExperimentalConditions() {
  auto& solventSettingsPart = SolventSettings();
  auto& modelFlagsPart = ModelFlags();
  auto& modelParamsPart = ModelParams();
  auto& solventConstantsPart = SolventConstants();
  InhomSolventSettings& st = solventSettingsPart.gInhomSolvent;
  for (int k = 1; k <= nSpeciesSlots && !modelFlagsPart.bContiModel; ++k) {
    if (!modelFlagsPart.bFitMAndS)
      modelParamsPart.pSpeciesMassOrD[k] =
          modelParamsPart.pSpeciesMassOrD[k] > 0 ? static_cast<float>(modelParamsPart.pSpeciesMassOrD[k] / st.convertedDFactor) : 0.0f;
    modelParamsPart.pSpeciesS[k] = static_cast<float>(modelParamsPart.pSpeciesS[k] / st.convertedSFactor);
  }
  solventConstantsPart.fBufferDensity = st.density1atm;
  if (st.bCosoluteDynamicGradient) {
    solventConstantsPart.fVRho = st.vbarEffective * st.density1atm;
    solventConstantsPart.VBAR = st.vbarEffective;
  } else {
    solventConstantsPart.fVRho = solventConstantsPart.VBAR * st.density1atm;
  }
  solventConstantsPart.RELVISCOSITY = st.relViscosity;
  SetContinuousBufferEntries();
  st.converted = false;
  st.convertedDFactor = st.convertedSFactor = 1.0;
  if (!modelFlagsPart.bContiModel) PackModelParams();
}

bool LoadSolventIntoSolver(CLammIdeal& lamm, std::string* message) {
  auto& solventConstantsPart = SolventConstants();
  const InhomSolventSettings& st = SolventSettings().gInhomSolvent;
  const bool on = st.bInhomogeneousSolvent;
  const bool dynamic = on && st.bCosoluteDynamicGradient;
  const bool cosolute = dynamic && st.bSedimentingCosolute;
  if (cosolute && CosoluteGridSize(st) < kMinCosoluteGridSize) {
    if (message) *message = "the cosolute grid needs at least 10 points";
    return false;
  }
  // The solver object takes its tables without the unused index 0.
  auto zeroBased = [](const std::vector<double>& v) {
    return v.empty() ? std::vector<double>{} : std::vector<double>(v.begin() + 1, v.end());
  };
  std::vector<double> sCoef, dCoef;
  if (cosolute && st.nonidealCosolute && !st.csclCosolute &&
      !ReadCosoluteCoefficientTables(&sCoef, &dCoef, message))
    return false;
  LammSolventSettings solvent;
  solvent.bInhomogeneousSolvent = on;
  solvent.bCompressibleSolvent = on && st.bCompressibleSolvent;
  solvent.dCompressibility = st.compressibility;
  solvent.fVbarInhom = st.vbarEffective;
  solvent.fViscosity = solventConstantsPart.RELVISCOSITY;
  solvent.fDensity = solventConstantsPart.fBufferDensity;
  solvent.fVbar = solventConstantsPart.VBAR;
  solvent.fVbarRho = solventConstantsPart.fVRho;
  solvent.fDensity1atm = st.density1atm;
  solvent.fRelViscosity1atm = st.relViscosity;
  solvent.dDensityMeniscus = solvent.dDensityBottom = fDensityWater20;
  solvent.dViscosityMeniscus = solvent.dViscosityBottom = STANDARDVISCOSITY;
  lamm.LoadInhomogeneousSolventParameters(solvent);
  LammCosoluteSettings cosoluteSettings;
  cosoluteSettings.bInhomogeneousSolvent = on;
  cosoluteSettings.bInhomSolventDynamic = dynamic;
  cosoluteSettings.bAddWaterCompressibility = dynamic && st.compressibleWater;
  cosoluteSettings.dCompressibility = st.compressibility;
  cosoluteSettings.bSecondSolution = cosolute;
  cosoluteSettings.nComp2Points = CosoluteGridSize(st);
  cosoluteSettings.bComp2ConcDependent = st.nonidealCosolute;
  cosoluteSettings.bComp2Builtin = st.csclCosolute;
  cosoluteSettings.dComp2S = st.cosoluteS;
  cosoluteSettings.dComp2D = st.cosoluteD;
  cosoluteSettings.dComp2C0 = st.cosoluteConc;
  cosoluteSettings.vComp2SPoly = zeroBased(sCoef);
  cosoluteSettings.vComp2DPoly = zeroBased(dCoef);
  cosoluteSettings.vViscCoef = zeroBased(st.viscosityCoef);
  cosoluteSettings.vDensCoef = zeroBased(st.densityCoef);
  lamm.LoadCosoluteParameters(cosoluteSettings);
  lamm.SetComp2Output(cosolute && st.bShowCosoluteProfile, cosolute && st.bSaveCosoluteProfile,
                      szTempDir);
  return true;
}

void ResetInhomSolventSettings() {
  auto& solventSettingsPart = SolventSettings();
  solventSettingsPart.gInhomSolvent = InhomSolventSettings{};
  solventSettingsPart.bTruncateNoteShown = solventSettingsPart.bDynamicNoteShown = solventSettingsPart.bStaticNoteShown = false;
}

}  // namespace tarmic
