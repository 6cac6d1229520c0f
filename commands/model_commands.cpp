// The model commands of the continuous c(s), c(s,ff0), ls-g*(s), c(v) and c(M)
// families.
#include "commands/model_commands.h"

#include <initializer_list>

#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/unavailable_commands.h"
#include "distributions/continuous_settings.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_variants.h"
#include "distributions/model_values_kept.h"
#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "modelfit/params_dialog.h"
#include "numerics/solvent_constants.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

constexpr const char* kChooseModelFirst = "choose a model first (Model menu)";

// Every command of the model menu that chooses a model.
constexpr int kModelCommands[] = {
    kCmDiscreteSpecies, kCmContinuousCM, kCmNonidealSingle, kCmNonidealMultiple,
    kCmContinuousCMInvariantD, kCmContinuousCMPriorVbar, kCmFMScalingLaw, kCmContinuousCs,
    kCmContinuousCsConformationalChange, kCmContinuousCsInvariantD, kCmContinuousCsOneDiscrete,
    kCmContinuousCsBimodalFf0, kCmContinuousCsBimodalFf0OneDiscrete, kCmContinuousCsFloatingVbar,
    kCmContinuousCsWormChain, kCmContinuousCsScalingLaw, kCmContinuousCsMsTable,
    kCmContinuousCsFf0, kCmContinuousCsFf0OneDiscrete, kCmLsgModel, kCmLsgOneDiscrete,
    kCmZoneCentrifugationSpecies, kCmZoneContinuousCs, kCmZoneLsgModel, kCmDLSStokesRadii,
    kCmDLSCumulants, kCmDLSStokesRadiusDistribution, kCmDLSDiffusionDistribution, kCmDLSTimeCourse,
    kCmLinearGeometry, kCmExternalLoadingCell, kCmElectrophoresisSpecies, kCmElectroLsgModel,
    kCmCvConstantD, kCmContinuousCsLinearRod, kCmContinuousCsNonideal, kCmFaxenSpecies,
};

// Defaults put into the vector where it holds no setting of the kind yet.
constexpr float kDefaultGridCount = 100.0f;  // grid points
constexpr float kDefaultCMMin = 10000.0f;    // g/mol
constexpr float kDefaultCMMax = 500000.0f;
constexpr float kDefaultCsMin = 0.0f;        // S
constexpr float kDefaultCsMax = 20.0f;
constexpr float kDefaultRhMin = 0.5f;        // nm
constexpr float kDefaultRhMax = 5000.0f;
constexpr float kDefaultDMin = 0.01f;        // 1e-7 cm^2/s
constexpr float kDefaultDMax = 100.0f;

// The unit of a model's grid limits: s, M, the Stokes radius (nm) of I(Rh), or D
// (1e-7 cm^2/s) of I(D).
enum class GridUnit { S, M, Rh, D };

GridUnit CurrentGridUnit() {
  if (ModelFlags().bDLSRhModel || ModelFlags().bDLSTimeCourseModel) return GridUnit::Rh;
  if (ModelFlags().bDLSDModel) return GridUnit::D;
  return IsSGridModel() ? GridUnit::S : GridUnit::M;
}

// The continuous model whose flags were just set: check mark, grid range and the
// settings of the vector, which the model variables then take over.
void SetUpContinuousModel(TXLAWindow& window, int id, const ContinuousLayout& before,
                          GridUnit oldUnit) {
  window.GetHandle().CheckMenuItem(id, true);
  const bool wasContinuous = before.continuous;
  const GridUnit unit = CurrentGridUnit();
  const bool sameUnit = wasContinuous && oldUnit == unit;

  // The grid range of the new model: a model of the same unit keeps the grid the
  // vector holds; a model of another unit takes the grid its unit held last, else
  // its default range, never a range converted from a distribution that another
  // model computed (a c(s) grid of 0.1-20 S would give a c(M) grid of about 200 Da
  // to 600 kDa).
  const float gridMin = AnalysisSwitches().pParams[kContiSlotGridMin];
  const float gridMax = AnalysisSwitches().pParams[kContiSlotGridMax];
  const float gridCount = AnalysisSwitches().pParams[kContiSlotGridCount];
  RecreateDistributionPlot();
  float keptMin = 0.0f, keptMax = 0.0f, keptCount = 0.0f;
  if (sameUnit) {
    AnalysisSwitches().pParams[kContiSlotGridMin] = gridMin;
    AnalysisSwitches().pParams[kContiSlotGridMax] = gridMax;
    AnalysisSwitches().pParams[kContiSlotGridCount] = gridCount;
  } else if (KeptGrid(ActiveValueLayout(), &keptMin, &keptMax, &keptCount)) {
    DistributionGrid().fDistMin = keptMin;
    DistributionGrid().fDistMax = keptMax;
    DistributionGrid().fDistGridCount = keptCount;
    StoreGridLimitsInParams();
  } else {
    if (unit == GridUnit::Rh) {
      DistributionGrid().fDistMin = kDefaultRhMin;
      DistributionGrid().fDistMax = kDefaultRhMax;
    } else if (unit == GridUnit::D) {
      DistributionGrid().fDistMin = kDefaultDMin;
      DistributionGrid().fDistMax = kDefaultDMax;
    } else if (unit == GridUnit::M) {
      DistributionGrid().fDistMin = kDefaultCMMin;
      DistributionGrid().fDistMax = kDefaultCMMax;
    } else {
      DistributionGrid().fDistMin = kDefaultCsMin;
      DistributionGrid().fDistMax = kDefaultCsMax;
    }
    DistributionGrid().fDistGridCount = wasContinuous ? gridCount : DistributionGrid().fDistGridCount;
    if (DistributionGrid().fDistGridCount < 2.0f) DistributionGrid().fDistGridCount = kDefaultGridCount;
    StoreGridLimitsInParams();
  }
  // Nothing floated in the model before stays floated (its slots may mean
  // something else here); the grid options (fit switches 3 and 4) stay from a
  // continuous model.
  for (int slot = 1; slot <= nModelParams; ++slot)
    if (slot != 3 && slot != 4 && (slot < 13 || slot > 15) && (slot < 22 || slot > 24)) AnalysisSwitches().pParamFitFlags[slot] = 0;
  // The vector held the species of a discrete model, or another model's meaning
  // of slot 3 or 11: those settings start from the current values.
  StoreContinuousSettings(before);
  // A zone model takes its lamella width from the vector: one no model has set yet
  // starts at the width kept (0.1 cm at start), not at a band of no width.
  constexpr int kLamellaSlot = 23;
  if ((ModelFlags().bZoneCentrifugation || ModelFlags().bZoneLsgModel) && !(AnalysisSwitches().pParams[kLamellaSlot] > 0.0f))
    AnalysisSwitches().pParams[kLamellaSlot] = ModelOptions().fLamellaWidth;
  // A model chosen before floats what it floated then, with its solver choice.
  const bool claverie = LammSettings().bClaverie;
  if (TakeKeptSwitches() && claverie != LammSettings().bClaverie && LammArrays().bSimArraysAllocated) {
    FreeSimArrays();
    AllocSimArrays();
  }

  UnpackModelParams();
  window.RepaintMain();
}

// A model command: the reset, the flags set by setFlags, the set-up.
template <class SetFlags>
void ChooseContinuousModel(TXLAWindow& window, int id, SetFlags setFlags) {
  const ContinuousLayout before = CurrentContinuousLayout();
  const GridUnit oldUnit = CurrentGridUnit();
  SwitchModel(window);
  ModelFlags().bContiModel = true;
  setFlags();
  SetUpContinuousModel(window, id, before, oldUnit);
  if (ModelFlags().bBufferSedCorrection) CheckBufferSedimentationModel(&window.GetHandle());
}

}  // namespace

std::span<const int> ModelMenuCommands() { return kModelCommands; }

void SwitchModel(TXLAWindow& window) {
  // What the model left holds comes back when its family is chosen again, its fit
  // switches and solver choice when it is chosen again.
  KeepValuesOfActiveLayout();
  ResetModelFlags();
  LammGlobals().bLinearGeometry = LammGlobals().bPlanarQuadrature = LammGlobals().bExternalLoadingCell = LammGlobals().bElectrophoresis = false;
  Window& w = window.GetHandle();
  for (int id : kModelCommands) w.CheckMenuItem(id, false);
}

int ActiveModelCommand() {
  struct FlagCommand {
    const bool* flag;
    int id;
  };
  // Variants before their families: the first set flag names the model.
  const FlagCommand table[] = {
      {&ModelFlags().bConstantDModel, kCmContinuousCMInvariantD},
      {&ModelFlags().bCMPriorVbar, kCmContinuousCMPriorVbar},
      {&ModelFlags().bFMScalingLaw, kCmFMScalingLaw},
      {&ModelFlags().bCsConformationalChange, kCmContinuousCsConformationalChange},
      {&ModelFlags().bCsInvariantD, kCmContinuousCsInvariantD},
      {&ModelFlags().bCsOneDiscreteD, kCmContinuousCsOneDiscrete},
      {&ModelFlags().bCsOneDiscreteM, kCmContinuousCsOneDiscrete},
      {&ModelFlags().bCsBimodalFf0, kCmContinuousCsBimodalFf0},
      {&ModelFlags().bCsBimodalFf0OneDiscrete, kCmContinuousCsBimodalFf0OneDiscrete},
      {&ModelFlags().bCsFloatingVbar, kCmContinuousCsFloatingVbar},
      {&ModelFlags().bCsWormChain, kCmContinuousCsWormChain},
      {&ModelFlags().bCsScalingLaw, kCmContinuousCsScalingLaw},
      {&ModelFlags().bCsMsTable, kCmContinuousCsMsTable},
      {&ModelFlags().bCsNonideal, kCmContinuousCsNonideal},
      {&ModelFlags().bCsff0Model, kCmContinuousCsFf0},
      {&ModelFlags().bCsff0OneDiscrete, kCmContinuousCsFf0OneDiscrete},
      {&ModelFlags().bLsgOneDiscrete, kCmLsgOneDiscrete},
      {&ModelFlags().bZoneLsgModel, kCmZoneLsgModel},
      {&ModelFlags().bElectroLsgModel, kCmElectroLsgModel},
      {&ModelFlags().bLsgModel, kCmLsgModel},
      {&ModelFlags().bDLSRhModel, kCmDLSStokesRadiusDistribution},
      {&ModelFlags().bDLSDModel, kCmDLSDiffusionDistribution},
      {&ModelFlags().bDLSTimeCourseModel, kCmDLSTimeCourse},
      {&ModelFlags().bCvConstantD, kCmCvConstantD},
      {&ModelFlags().bCsModel521, kCmContinuousCsLinearRod},
      {&ModelFlags().bContiSModel, kCmContinuousCs},
      {&ModelFlags().bContiModel, kCmContinuousCM},
      {&ModelFlags().bNonidealSpecies, kCmNonidealSingle},
      {&ModelFlags().bNonIdealMultiple, kCmNonidealMultiple},
      {&ModelFlags().bStokesRadii, kCmDLSStokesRadii},
      {&ModelFlags().bCumulants, kCmDLSCumulants},
      {&ModelFlags().bZoneCentrifugation, kCmZoneCentrifugationSpecies},
      {&ModelFlags().bFaxenApproximation, kCmFaxenSpecies},
      {&LammGlobals().bLinearGeometry, kCmLinearGeometry},
      {&LammGlobals().bExternalLoadingCell, kCmExternalLoadingCell},
      {&LammGlobals().bElectrophoresis, kCmElectrophoresisSpecies},
      {&ModelFlags().bDiscreteModel, kCmDiscreteSpecies},
  };
  // c(s) of a band-loaded sample is the zone-centrifugation c(s).
  if (ModelFlags().bContiSModel && ModelFlags().bZoneCentrifugation) return kCmZoneContinuousCs;
  for (const FlagCommand& f : table)
    if (*f.flag) return f.id;
  return 0;
}

bool DiscreteModelActive() {
  if (IsContinuousModel()) return false;
  // On DLS correlation functions only the non-interacting species have a model.
  if (DataSet().bDLSData) return ModelFlags().bDiscreteModel;
  return ModelFlags().bDiscreteModel || ModelFlags().bNonidealSpecies || ModelFlags().bNonIdealMultiple || IsSelfAssociationModel() ||
         ModelFlags().bHeteroAssocModel;
}

bool RunnableModelActive() {
  return (IsContinuousModel() && KernelModelAvailable()) || DiscreteModelActive();
}

void TXLAWindow::CmContinuousCs() {
  ChooseContinuousModel(*this, kCmContinuousCs, [] { ModelFlags().bContiSModel = true; });
}

// c(s) of a sample layered as a lamella at the meniscus (band loading).
void TXLAWindow::CmZoneContinuousCs() {
  ChooseContinuousModel(*this, kCmZoneContinuousCs, [] {
    ModelFlags().bContiSModel = true;
    ModelFlags().bZoneCentrifugation = true;
  });
}

// c(s) at a fixed frictional ratio whose partial-specific volume is floated.
void TXLAWindow::CmContinuousCsFloatingVbar() {
  ChooseContinuousModel(*this, kCmContinuousCsFloatingVbar, [] { ModelFlags().bCsFloatingVbar = true; });
}

void TXLAWindow::CmContinuousCM() {
  ChooseContinuousModel(*this, kCmContinuousCM, [] {
    // The c(M) model starts from a constant loading concentration.
    AnalysisSwitches().bUniformLoading = true;
  });
}

void TXLAWindow::CmContinuousCsInvariantD() {
  ChooseContinuousModel(*this, kCmContinuousCsInvariantD, [] { ModelFlags().bCsInvariantD = true; });
}

void TXLAWindow::CmContinuousCsScalingLaw() {
  ChooseContinuousModel(*this, kCmContinuousCsScalingLaw, [] { ModelFlags().bCsScalingLaw = true; });
}

void TXLAWindow::CmContinuousCsMsTable() {
  ChooseContinuousModel(*this, kCmContinuousCsMsTable, [] { ModelFlags().bCsMsTable = true; });
}

// c(s) whose species sediment in the total signal of the distribution with
// s = s0 / (1 + ks c), D = D0 (1 + kd c); slots 20 and 21 hold log10 ks and log10 kd
// (taken from the current values, not floated from another model's use of them).
void TXLAWindow::CmContinuousCsNonideal() {
  ChooseContinuousModel(*this, kCmContinuousCsNonideal, [] {
    ModelFlags().bCsNonideal = true;
    AnalysisSwitches().pParams[20] = ModelOptions().fLogKs;
    AnalysisSwitches().pParams[21] = ModelOptions().fLogKd;
    AnalysisSwitches().pParamFitFlags[20] = AnalysisSwitches().pParamFitFlags[21] = 0;
  });
}

void TXLAWindow::CmContinuousCMInvariantD() {
  ChooseContinuousModel(*this, kCmContinuousCMInvariantD, [] { ModelFlags().bConstantDModel = true; });
}

void TXLAWindow::CmContinuousCMPriorVbar() {
  ChooseContinuousModel(*this, kCmContinuousCMPriorVbar, [] { ModelFlags().bCMPriorVbar = true; });
}

void TXLAWindow::CmFMScalingLaw() {
  ChooseContinuousModel(*this, kCmFMScalingLaw, [] {
    ModelFlags().bFMScalingLaw = true;
    // The data and residual plots stay as they are while the plot is rebuilt.
    DistributionPlot().bFMScalingLawSwitching = true;
  });
}

void TXLAWindow::CmContinuousCsFf0() {
  ChooseContinuousModel(*this, kCmContinuousCsFf0, [] { ModelFlags().bCsff0Model = true; });
}

void TXLAWindow::CmContinuousCsFf0OneDiscrete() {
  ChooseContinuousModel(*this, kCmContinuousCsFf0OneDiscrete, [] { ModelFlags().bCsff0OneDiscrete = true; });
}

void TXLAWindow::CmContinuousCsOneDiscrete() {
  // The discrete species is given by s and M under "Fit M and s", else by s and D.
  ChooseContinuousModel(*this, kCmContinuousCsOneDiscrete, [] {
    ModelFlags().bCsOneDiscreteM = ModelFlags().bFitMAndS;
    ModelFlags().bCsOneDiscreteD = !ModelFlags().bFitMAndS;
  });
}

void TXLAWindow::CmContinuousCsBimodalFf0() {
  ChooseContinuousModel(*this, kCmContinuousCsBimodalFf0, [] { ModelFlags().bCsBimodalFf0 = true; });
}

void TXLAWindow::CmContinuousCsBimodalFf0OneDiscrete() {
  ChooseContinuousModel(*this, kCmContinuousCsBimodalFf0OneDiscrete, [] { ModelFlags().bCsBimodalFf0OneDiscrete = true; });
}

void TXLAWindow::CmContinuousCsWormChain() {
  ChooseContinuousModel(*this, kCmContinuousCsWormChain, [] { ModelFlags().bCsWormChain = true; });
}

void TXLAWindow::CmContinuousCsConformationalChange() {
  ChooseContinuousModel(*this, kCmContinuousCsConformationalChange, [] { ModelFlags().bCsConformationalChange = true; });
}

void TXLAWindow::CmContinuousCsLinearRod() {
  ChooseContinuousModel(*this, kCmContinuousCsLinearRod, [] { ModelFlags().bCsModel521 = true; });
}

// The ls-g*(s) models read the scan times from omega^2 t.
void TXLAWindow::CmLsgModel() {
  ChooseContinuousModel(*this, kCmLsgModel, [] { ModelFlags().bLsgModel = true; });
  if (ModelFlags().bLsgModel) SwitchOnTimesFromW2t(&GetHandle());
}

void TXLAWindow::CmLsgOneDiscrete() {
  ChooseContinuousModel(*this, kCmLsgOneDiscrete, [] { ModelFlags().bLsgOneDiscrete = true; });
  if (ModelFlags().bLsgOneDiscrete) SwitchOnTimesFromW2t(&GetHandle());
}

// Zone centrifugation: the sample starts as a lamella at the meniscus.
void TXLAWindow::CmZoneLsgModel() {
  ChooseContinuousModel(*this, kCmZoneLsgModel, [] {
    ModelFlags().bLsgModel = ModelFlags().bZoneLsgModel = true;
    ModelFlags().bZoneCentrifugation = true;
  });
  if (ModelFlags().bZoneLsgModel) SwitchOnTimesFromW2t(&GetHandle());
}

// Electrophoresis: boundaries migrating at constant velocity (um/s) in the planar cell.
void TXLAWindow::CmElectroLsgModel() {
  ChooseContinuousModel(*this, kCmElectroLsgModel, [] { ModelFlags().bLsgModel = ModelFlags().bElectroLsgModel = true; });
}

void TXLAWindow::CmCvConstantD() {
  ChooseContinuousModel(*this, kCmCvConstantD, [] { ModelFlags().bCvConstantD = true; });
}

// The intensity distributions of DLS correlation functions, over the Stokes radius
// (nm) or over D (1e-7 cm^2/s).
void TXLAWindow::CmDLSStokesRadiusDistribution() {
  ChooseContinuousModel(*this, kCmDLSStokesRadiusDistribution, [] { ModelFlags().bDLSRhModel = true; });
}

void TXLAWindow::CmDLSDiffusionDistribution() {
  ChooseContinuousModel(*this, kCmDLSDiffusionDistribution, [] { ModelFlags().bDLSDModel = true; });
}

// The I(Rh) distribution followed through time windows of the correlation
// functions (Run: RunContinuousModel).
void TXLAWindow::CmDLSTimeCourse() {
  ChooseContinuousModel(*this, kCmDLSTimeCourse, [] { ModelFlags().bDLSTimeCourseModel = true; });
}

bool ModelChosen() {
  // Every model has a parameter page; none is chosen when none applies.
  return SelectParamsTemplate() != 0;
}

bool RequireChosenModel(TXLAWindow& window) {
  if (ModelChosen()) return true;
  CommandMessageBox(window, kChooseModelFirst, "ATTENTION", MB_OK | MB_ICONINFORMATION);
  return false;
}

std::string ModelNotRunnableText() {
  const int model = ActiveModelCommand();
  if (model == 0) return kChooseModelFirst;
  if (IsUnavailableCommand(model)) return NotAvailableText(model);
  return CommandDisplayName(model) + " cannot be computed for the loaded data";
}

std::string ContinuousModelDataMismatch() {
  // The Stokes-radius and cumulant forms of the discrete species describe
  // correlation functions only.
  if ((ModelFlags().bStokesRadii || ModelFlags().bCumulants) && !IsContinuousModel() && !DataSet().bDLSData)
    return "this model needs DLS data: load DLS Data first";
  if (!IsContinuousModel()) return {};
  const bool dlsModel = ModelFlags().bDLSRhModel || ModelFlags().bDLSDModel || ModelFlags().bDLSTimeCourseModel;
  if (dlsModel && !DataSet().bDLSData) return "this model needs DLS data: load DLS Data first";
  if (!dlsModel && DataSet().bDLSData) return "this continuous model does not apply to DLS data";
  return {};
}

}  // namespace tarmic
