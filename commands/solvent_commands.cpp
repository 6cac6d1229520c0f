// The command "Inhomogeneous Solvent" and its dialog "Inhomogeneous Solvent
// Parameters": edits the inhomogeneous-solvent settings (propagators/
// solvent_settings.h), chooses the coefficient files, and switches the model on
// (s and D of the model to standard conditions) or off (back to the experiment).
#include <limits>
#include <string>
#include <vector>

#include "app/xla_window.h"
#include "commands/command_support.h"
#include "distributions/distribution_grid.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/transfer_fields.h"
#include "services/path_table.h"
#include "numerics/solvent_constants.h"
#include "numerics/value_ranges.h"
#include "platform/backend.h"
#include "propagators/inhomogeneous_solvent.h"
#include "propagators/solvent_settings.h"
#include "resources/dialogs.h"
#include "scandata/analysis_switches.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

constexpr const char* kAppCaption = "TARMIC";
constexpr const char* kCoefFilter = "dat files (*.dat*)|*.dat*|All Files (*.*)|*.*|";
// Compressibility of water, 1/MPa.
constexpr double kWaterCompressibility = 4.591e-4;

void Note(TXLAWindow& w, const char* text, const char* caption = kAppCaption) {
  CommandMessageBox(w, text, caption, MB_OK);
}

// A c(s)-type continuous model, whose vbar entry follows the solvent model.
bool CsTypeModel() { return ModelFlags().bContiModel && ModelFlags().bContiSModel; }

void FillTransfer(TransferBuffer& r) {
  const InhomSolventSettings& st = SolventSettings().gInhomSolvent;
  SetFieldChecked(r, 857, st.bInhomogeneousSolvent);
  SetFieldValue(r, 838, "%.4f", SolventConstants().VBAR);
  SetFieldChecked(r, 839, st.bFitVbar);
  SetFieldChecked(r, 840, st.bCompressibleSolvent);
  SetFieldValue(r, 841, "%.4f", st.compressibility * 10000);
  SetFieldValue(r, 842, "%.6f", st.density1atm);
  SetFieldValue(r, 843, "%.4f", st.viscosity1atm * 10);
  SetFieldChecked(r, 844, st.bCosoluteDynamicGradient);
  SetFieldValue(r, 845, "%.4f", st.vbarSolvated == 0 ? SolventConstants().VBAR : st.vbarSolvated);
  SetFieldValue(r, 846, "%.3f", st.cosoluteConc);
  SetFieldChecked(r, 863, !st.nonidealCosolute);
  SetFieldValue(r, 864, "%.3f", st.cosoluteS);
  SetFieldValue(r, 865, "%.2f", st.cosoluteD * 1e7);
  SetFieldChecked(r, 847, st.nonidealCosolute);
  SetFieldText(r, 848, DNonidealCoefPath(st));
  SetFieldText(r, 849, SNonidealCoefPath(st));
  SetFieldChecked(r, 850, st.csclCosolute);
  SetFieldText(r, 851, std::to_string(CosoluteGridSize(st)));
  SetFieldChecked(r, 852, st.bShowCosoluteProfile);
  SetFieldChecked(r, 853, st.bSaveCosoluteProfile);
  SetFieldText(r, 854, DensityCoefPath(st));
  SetFieldText(r, 855, ViscosityCoefPath(st));
  SetFieldChecked(r, 856, st.addWaterCompressibility);
  for (int id : {858, 859, 860, 861}) SetFieldChecked(r, id, false);
  SetFieldText(r, 862, szTempDir);
}

// The number fields of the dialog with the ranges they are judged by. The
// compressibility (1e-4/MPa) reaches far beyond the organic solvents (about 1e-2
// /MPa is 100); the loading concentration (M) ends at that of pure water; a
// cosolute is a small solute: it sediments (0 to 100 S) and diffuses. The two
// vbar fields are judged as partial specific volumes where they are used (the
// model on, the solvated one with the cosolute gradient), else they need only be
// numbers of at least 0, as the grid size outside the cosolute gradient (which
// needs at least kMinCosoluteGridSize points).
struct SolventField {
  int id;
  const char* unit;
  ValueRange range;
};
std::vector<SolventField> SolventFields(const TransferBuffer& r) {
  const bool on = FieldChecked(r, 857);
  const bool dynamic = on && FieldChecked(r, 844);
  const ValueRange anyPositive = Closed(0.0, std::numeric_limits<double>::max());
  return {{838, "ml/g", on ? kPartialSpecificVolume.range : anyPositive},
          {841, "", Closed(0.0, 100.0)},
          {842, "g/ml", kBufferDensity.range},
          {843, "P", kBufferViscosity.range},
          {845, "ml/g", dynamic ? kPartialSpecificVolume.range : anyPositive},
          {846, "M", Closed(0.0, 60.0)},
          {864, "S", Closed(0.0, 100.0)},
          {865, "", kDiffusionCoefficient.range},
          {851, "", dynamic ? Count(kMinCosoluteGridSize, kLammGridSize.range.high) : anyPositive}};
}

// Every number field must hold a number within its range (SolventFields), else a
// box names the field by its label and gives the range, and the dialog stays open.
bool CanClose(TXLAWindow& w, const TransferBuffer& r) {
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kInhomSolventDialogId));
  for (const SolventField& f : SolventFields(r)) {
    const std::string name = "\"" + std::string(ControlLabel(dialog, f.id)) + "\"";
    if (const std::string why = FieldRefusal(r, f.id, {name.c_str(), f.unit, f.range}); !why.empty()) {
      Note(w, why.c_str(), "Input Error");
      return false;
    }
  }
  return true;
}

// The file chosen in the open dialog; empty when cancelled.
std::string ChooseFile(const char* title) {
  FileDialogOptions options;
  options.title = title;
  options.filter = kCoefFilter;
  const std::vector<std::string> chosen = GetBackend().OpenFileDialog(options);
  return chosen.empty() ? std::string() : chosen.front();
}

// Reads a density or viscosity coefficient file into coef; a file that cannot
// be read is reported and leaves the vector empty.
void LoadCoefficients(TXLAWindow& w, const std::string& path, std::vector<double>& coef) {
  std::string why;
  if (!ReadCoefficientFile(path, &coef, &why)) Note(w, ("Attention: " + why).c_str());
}

void ApplyValues(TXLAWindow& w, const TransferBuffer& r) {
  InhomSolventSettings& st = SolventSettings().gInhomSolvent;
  SolventConstants().VBAR = FieldValue(r, 838);
  SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
  st.bFitVbar = FieldChecked(r, 839);
  st.bCosoluteDynamicGradient = FieldChecked(r, 844);
  st.bCompressibleSolvent = !st.bCosoluteDynamicGradient;
  st.bSedimentingCosolute = st.bCosoluteDynamicGradient;
  st.compressibility = FieldValue(r, 841) * 1e-4;
  st.density1atm = FieldValue(r, 842);
  st.viscosity1atm = FieldValue(r, 843) * 0.1f;  // Poise to Pa s
  st.relViscosity = st.viscosity1atm / STANDARDVISCOSITY;
  st.vbarSolvated = FieldValue(r, 845);
  st.vbarEffective = st.bCosoluteDynamicGradient ? st.vbarSolvated : SolventConstants().VBAR;
  st.cosoluteConc = FieldValue(r, 846);
  st.nonidealCosolute = FieldChecked(r, 847);
  st.cosoluteS = FieldValue(r, 864);
  st.cosoluteD = FieldValue(r, 865) * 1e-7;
  st.csclCosolute = FieldChecked(r, 850);
  // A cancelled file selection changes nothing.
  if (FieldChecked(r, 858)) {
    const std::string path = ChooseFile("Select NONIDEAL D(c) Data File");
    if (!path.empty()) st.dNonidealPath = path;
  }
  if (FieldChecked(r, 859)) {
    const std::string path = ChooseFile("Select NONIDEAL s(c) Data File");
    if (!path.empty()) st.sNonidealPath = path;
  }
  st.cosoluteGridSize = static_cast<int>(FieldValue(r, 851));
  st.bShowCosoluteProfile = FieldChecked(r, 852);
  st.bSaveCosoluteProfile = FieldChecked(r, 853);
  if (FieldChecked(r, 860)) {
    const std::string path = ChooseFile("Select DENSITY(c) Data File");
    if (!path.empty()) {
      st.densityPath = path;
      LoadCoefficients(w, path, st.densityCoef);
    }
  }
  if (FieldChecked(r, 861)) {
    const std::string path = ChooseFile("Select VISCOSITY(c) Data File");
    if (!path.empty()) {
      st.viscosityPath = path;
      LoadCoefficients(w, path, st.viscosityCoef);
    }
  }
  st.addWaterCompressibility = FieldChecked(r, 856);
  if (st.bCosoluteDynamicGradient) {
    if (st.densityCoef.empty()) LoadCoefficients(w, DensityCoefPath(st), st.densityCoef);
    if (st.viscosityCoef.empty()) LoadCoefficients(w, ViscosityCoefPath(st), st.viscosityCoef);
    st.compressibleWater = st.addWaterCompressibility;
    if (st.compressibleWater) st.compressibility = kWaterCompressibility;
    // The buffer at its loading concentration.
    st.relViscosity = static_cast<float>(CosoluteViscosity(st.cosoluteConc) / STANDARDVISCOSITY);
    st.viscosity1atm = st.relViscosity * STANDARDVISCOSITY;
    st.density1atm = static_cast<float>(CosoluteDensity(st.cosoluteConc));
  }
}

void SwitchOn(TXLAWindow& w) {
  InhomSolventSettings& st = SolventSettings().gInhomSolvent;
  st.bInhomogeneousSolvent = true;
  if (CsTypeModel()) {
    AnalysisSwitches().pParams[kContiSlotVbar] = SolventConstants().VBAR;
    st.savedVbar = SolventConstants().VBAR;
    st.savedDistMin = AnalysisSwitches().pParams[kContiSlotGridMin];
  }
  if (LammSettings().bTruncateGrid && !SolventSettings().bTruncateNoteShown) {
    SolventSettings().bTruncateNoteShown = true;
    Note(w, "make sure Lamm equation option 'dyanmically trucate grid' \n"
            "is not used when macromolecular flotation near meniscus can occur");
  }
  w.GetHandle().CheckMenuItem(kCmInhomogeneousSolvent, true);
  if (st.bCosoluteDynamicGradient && !SolventSettings().bDynamicNoteShown) {
    SolventSettings().bDynamicNoteShown = true;
    Note(w, "this is only implemented for regular Lamm equation models\n"
            "like discrete noninteracting species (boundary and analytical zone centrifugation)\n"
            "c(s) and c(M) distributions", "Attention");
  } else if (!st.bCosoluteDynamicGradient && !SolventSettings().bStaticNoteShown) {
    SolventSettings().bStaticNoteShown = true;
    Note(w, "this is only implemented for regular Lamm equation models and ls-g*(s)\n"
            "like discrete noninteracting species (boundary and analytical zone centrifugation)\n"
            "c(s) and c(M) distributions", "Attention");
  }
  if (ModelFlags().bContiModel && !ModelFlags().bBoundaryAnalysis) AnalysisSwitches().pParams[kContiSlotVbar] = SolventConstants().VBAR;
  Note(w, "changing s and D (and M) to standard conditions!");
  ConvertToStandardConditions();
}

void SwitchOff(TXLAWindow& w) {
  InhomSolventSettings& st = SolventSettings().gInhomSolvent;
  st.bInhomogeneousSolvent = false;
  w.GetHandle().CheckMenuItem(kCmInhomogeneousSolvent, false);
  if (st.converted) {
    Note(w, "changing s and D (and M) back to experimental conditions!");
    ConvertToExperimentalConditions();
  }
  st.densityCoef.clear();
  st.viscosityCoef.clear();
  st.bFitVbar = false;
  if (CsTypeModel()) {
    AnalysisSwitches().pParams[kContiSlotVbar] = st.savedVbar;
    DistributionGrid().fDistMin = st.savedDistMin;
    AnalysisSwitches().pParams[kContiSlotGridMin] = st.savedDistMin;
  }
}

bool RunInhomogeneousSolventDialog(TXLAWindow& window, TransferBuffer& record) {
  if (!HasBackend()) return false;
  FillTransfer(record);
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kInhomSolventDialogId));
  for (;;) {
    if (GetBackend().RunDialog(dialog, record) != IDOK) return false;
    if (CanClose(window, record)) break;
  }
  const bool wasOn = SolventSettings().gInhomSolvent.bInhomogeneousSolvent;
  ApplyValues(window, record);
  const bool on = FieldChecked(record, 857);
  if (on && !wasOn) SwitchOn(window);
  if (!on && wasOn) SwitchOff(window);
  return true;
}

}  // namespace

void TXLAWindow::CmInhomogeneousSolvent() {
  RunInhomogeneousSolventDialog(*this, densgradParamsTransfer);
}

}  // namespace tarmic
