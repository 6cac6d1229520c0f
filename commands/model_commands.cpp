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
  if (bDLSRhModel || bDLSTimeCourseModel) return GridUnit::Rh;
  if (bDLSDModel) return GridUnit::D;
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
  const float gridMin = pParams[kContiSlotGridMin];
  const float gridMax = pParams[kContiSlotGridMax];
  const float gridCount = pParams[kContiSlotGridCount];
  RecreateDistributionPlot();
  float keptMin = 0.0f, keptMax = 0.0f, keptCount = 0.0f;
  if (sameUnit) {
    pParams[kContiSlotGridMin] = gridMin;
    pParams[kContiSlotGridMax] = gridMax;
    pParams[kContiSlotGridCount] = gridCount;
  } else if (KeptGrid(ActiveValueLayout(), &keptMin, &keptMax, &keptCount)) {
    fDistMin = keptMin;
    fDistMax = keptMax;
    fDistGridCount = keptCount;
    StoreGridLimitsInParams();
  } else {
    if (unit == GridUnit::Rh) {
      fDistMin = kDefaultRhMin;
      fDistMax = kDefaultRhMax;
    } else if (unit == GridUnit::D) {
      fDistMin = kDefaultDMin;
      fDistMax = kDefaultDMax;
    } else if (unit == GridUnit::M) {
      fDistMin = kDefaultCMMin;
      fDistMax = kDefaultCMMax;
    } else {
      fDistMin = kDefaultCsMin;
      fDistMax = kDefaultCsMax;
    }
    fDistGridCount = wasContinuous ? gridCount : fDistGridCount;
    if (fDistGridCount < 2.0f) fDistGridCount = kDefaultGridCount;
    StoreGridLimitsInParams();
  }
  // Nothing floated in the model before stays floated (its slots may mean
  // something else here); the grid options (fit switches 3 and 4) stay from a
  // continuous model.
  for (int slot = 1; slot <= nModelParams; ++slot)
    if (slot != 3 && slot != 4 && (slot < 13 || slot > 15) && (slot < 22 || slot > 24)) pParamFitFlags[slot] = 0;
  // The vector held the species of a discrete model, or another model's meaning
  // of slot 3 or 11: those settings start from the current values.
  StoreContinuousSettings(before);
  // A zone model takes its lamella width from the vector: one no model has set yet
  // starts at the width kept (0.1 cm at start), not at a band of no width.
  constexpr int kLamellaSlot = 23;
  if ((bZoneCentrifugation || bZoneLsgModel) && !(pParams[kLamellaSlot] > 0.0f))
    pParams[kLamellaSlot] = fLamellaWidth;
  // A model chosen before floats what it floated then, with its solver choice.
  const bool claverie = bClaverie;
  if (TakeKeptSwitches() && claverie != bClaverie && bSimArraysAllocated) {
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
  bContiModel = true;
  setFlags();
  SetUpContinuousModel(window, id, before, oldUnit);
  if (bBufferSedCorrection) CheckBufferSedimentationModel(&window.GetHandle());
}

}  // namespace

std::span<const int> ModelMenuCommands() { return kModelCommands; }

void SwitchModel(TXLAWindow& window) {
  // What the model left holds comes back when its family is chosen again, its fit
  // switches and solver choice when it is chosen again.
  KeepValuesOfActiveLayout();
  ResetModelFlags();
  bLinearGeometry = bPlanarQuadrature = bExternalLoadingCell = bElectrophoresis = false;
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
      {&bConstantDModel, kCmContinuousCMInvariantD},
      {&bCMPriorVbar, kCmContinuousCMPriorVbar},
      {&bFMScalingLaw, kCmFMScalingLaw},
      {&bCsConformationalChange, kCmContinuousCsConformationalChange},
      {&bCsInvariantD, kCmContinuousCsInvariantD},
      {&bCsOneDiscreteD, kCmContinuousCsOneDiscrete},
      {&bCsOneDiscreteM, kCmContinuousCsOneDiscrete},
      {&bCsBimodalFf0, kCmContinuousCsBimodalFf0},
      {&bCsBimodalFf0OneDiscrete, kCmContinuousCsBimodalFf0OneDiscrete},
      {&bCsFloatingVbar, kCmContinuousCsFloatingVbar},
      {&bCsWormChain, kCmContinuousCsWormChain},
      {&bCsScalingLaw, kCmContinuousCsScalingLaw},
      {&bCsMsTable, kCmContinuousCsMsTable},
      {&bCsNonideal, kCmContinuousCsNonideal},
      {&bCsff0Model, kCmContinuousCsFf0},
      {&bCsff0OneDiscrete, kCmContinuousCsFf0OneDiscrete},
      {&bLsgOneDiscrete, kCmLsgOneDiscrete},
      {&bZoneLsgModel, kCmZoneLsgModel},
      {&bElectroLsgModel, kCmElectroLsgModel},
      {&bLsgModel, kCmLsgModel},
      {&bDLSRhModel, kCmDLSStokesRadiusDistribution},
      {&bDLSDModel, kCmDLSDiffusionDistribution},
      {&bDLSTimeCourseModel, kCmDLSTimeCourse},
      {&bCvConstantD, kCmCvConstantD},
      {&bCsModel521, kCmContinuousCsLinearRod},
      {&bContiSModel, kCmContinuousCs},
      {&bContiModel, kCmContinuousCM},
      {&bNonidealSpecies, kCmNonidealSingle},
      {&bNonIdealMultiple, kCmNonidealMultiple},
      {&bStokesRadii, kCmDLSStokesRadii},
      {&bCumulants, kCmDLSCumulants},
      {&bZoneCentrifugation, kCmZoneCentrifugationSpecies},
      {&bFaxenApproximation, kCmFaxenSpecies},
      {&bLinearGeometry, kCmLinearGeometry},
      {&bExternalLoadingCell, kCmExternalLoadingCell},
      {&bElectrophoresis, kCmElectrophoresisSpecies},
      {&bDiscreteModel, kCmDiscreteSpecies},
  };
  // c(s) of a band-loaded sample is the zone-centrifugation c(s).
  if (bContiSModel && bZoneCentrifugation) return kCmZoneContinuousCs;
  for (const FlagCommand& f : table)
    if (*f.flag) return f.id;
  return 0;
}

bool DiscreteModelActive() {
  if (IsContinuousModel()) return false;
  // On DLS correlation functions only the non-interacting species have a model.
  if (bDLSData) return bDiscreteModel;
  return bDiscreteModel || bNonidealSpecies || bNonIdealMultiple || IsSelfAssociationModel() ||
         bHeteroAssocModel;
}

bool RunnableModelActive() {
  return (IsContinuousModel() && KernelModelAvailable()) || DiscreteModelActive();
}

void TXLAWindow::CmContinuousCs() {
  ChooseContinuousModel(*this, kCmContinuousCs, [] { bContiSModel = true; });
}

// c(s) of a sample layered as a lamella at the meniscus (band loading).
void TXLAWindow::CmZoneContinuousCs() {
  ChooseContinuousModel(*this, kCmZoneContinuousCs, [] {
    bContiSModel = true;
    bZoneCentrifugation = true;
  });
}

// c(s) at a fixed frictional ratio whose partial-specific volume is floated.
void TXLAWindow::CmContinuousCsFloatingVbar() {
  ChooseContinuousModel(*this, kCmContinuousCsFloatingVbar, [] { bCsFloatingVbar = true; });
}

void TXLAWindow::CmContinuousCM() {
  ChooseContinuousModel(*this, kCmContinuousCM, [] {
    // The c(M) model starts from a constant loading concentration.
    bConstantInitialDistribution = true;
  });
}

void TXLAWindow::CmContinuousCsInvariantD() {
  ChooseContinuousModel(*this, kCmContinuousCsInvariantD, [] { bCsInvariantD = true; });
}

void TXLAWindow::CmContinuousCsScalingLaw() {
  ChooseContinuousModel(*this, kCmContinuousCsScalingLaw, [] { bCsScalingLaw = true; });
}

void TXLAWindow::CmContinuousCsMsTable() {
  ChooseContinuousModel(*this, kCmContinuousCsMsTable, [] { bCsMsTable = true; });
}

// c(s) whose species sediment in the total signal of the distribution with
// s = s0 / (1 + ks c), D = D0 (1 + kd c); slots 20 and 21 hold log10 ks and log10 kd
// (taken from the current values, not floated from another model's use of them).
void TXLAWindow::CmContinuousCsNonideal() {
  ChooseContinuousModel(*this, kCmContinuousCsNonideal, [] {
    bCsNonideal = true;
    pParams[20] = fLogKs;
    pParams[21] = fLogKd;
    pParamFitFlags[20] = pParamFitFlags[21] = 0;
  });
}

void TXLAWindow::CmContinuousCMInvariantD() {
  ChooseContinuousModel(*this, kCmContinuousCMInvariantD, [] { bConstantDModel = true; });
}

void TXLAWindow::CmContinuousCMPriorVbar() {
  ChooseContinuousModel(*this, kCmContinuousCMPriorVbar, [] { bCMPriorVbar = true; });
}

void TXLAWindow::CmFMScalingLaw() {
  ChooseContinuousModel(*this, kCmFMScalingLaw, [] {
    bFMScalingLaw = true;
    // The data and residual plots stay as they are while the plot is rebuilt.
    bFMScalingLawSwitching = true;
  });
}

void TXLAWindow::CmContinuousCsFf0() {
  ChooseContinuousModel(*this, kCmContinuousCsFf0, [] { bCsff0Model = true; });
}

void TXLAWindow::CmContinuousCsFf0OneDiscrete() {
  ChooseContinuousModel(*this, kCmContinuousCsFf0OneDiscrete, [] { bCsff0OneDiscrete = true; });
}

void TXLAWindow::CmContinuousCsOneDiscrete() {
  // The discrete species is given by s and M under "Fit M and s", else by s and D.
  ChooseContinuousModel(*this, kCmContinuousCsOneDiscrete, [] {
    bCsOneDiscreteM = bFitMAndS;
    bCsOneDiscreteD = !bFitMAndS;
  });
}

void TXLAWindow::CmContinuousCsBimodalFf0() {
  ChooseContinuousModel(*this, kCmContinuousCsBimodalFf0, [] { bCsBimodalFf0 = true; });
}

void TXLAWindow::CmContinuousCsBimodalFf0OneDiscrete() {
  ChooseContinuousModel(*this, kCmContinuousCsBimodalFf0OneDiscrete, [] { bCsBimodalFf0OneDiscrete = true; });
}

void TXLAWindow::CmContinuousCsWormChain() {
  ChooseContinuousModel(*this, kCmContinuousCsWormChain, [] { bCsWormChain = true; });
}

void TXLAWindow::CmContinuousCsConformationalChange() {
  ChooseContinuousModel(*this, kCmContinuousCsConformationalChange, [] { bCsConformationalChange = true; });
}

void TXLAWindow::CmContinuousCsLinearRod() {
  ChooseContinuousModel(*this, kCmContinuousCsLinearRod, [] { bCsModel521 = true; });
}

// The ls-g*(s) models read the scan times from omega^2 t.
void TXLAWindow::CmLsgModel() {
  ChooseContinuousModel(*this, kCmLsgModel, [] { bLsgModel = true; });
  if (bLsgModel) SwitchOnTimesFromW2t(&GetHandle());
}

void TXLAWindow::CmLsgOneDiscrete() {
  ChooseContinuousModel(*this, kCmLsgOneDiscrete, [] { bLsgOneDiscrete = true; });
  if (bLsgOneDiscrete) SwitchOnTimesFromW2t(&GetHandle());
}

// Zone centrifugation: the sample starts as a lamella at the meniscus.
void TXLAWindow::CmZoneLsgModel() {
  ChooseContinuousModel(*this, kCmZoneLsgModel, [] {
    bLsgModel = bZoneLsgModel = true;
    bZoneCentrifugation = true;
  });
  if (bZoneLsgModel) SwitchOnTimesFromW2t(&GetHandle());
}

// Electrophoresis: boundaries migrating at constant velocity (um/s) in the planar cell.
void TXLAWindow::CmElectroLsgModel() {
  ChooseContinuousModel(*this, kCmElectroLsgModel, [] { bLsgModel = bElectroLsgModel = true; });
}

void TXLAWindow::CmCvConstantD() {
  ChooseContinuousModel(*this, kCmCvConstantD, [] { bCvConstantD = true; });
}

// The intensity distributions of DLS correlation functions, over the Stokes radius
// (nm) or over D (1e-7 cm^2/s).
void TXLAWindow::CmDLSStokesRadiusDistribution() {
  ChooseContinuousModel(*this, kCmDLSStokesRadiusDistribution, [] { bDLSRhModel = true; });
}

void TXLAWindow::CmDLSDiffusionDistribution() {
  ChooseContinuousModel(*this, kCmDLSDiffusionDistribution, [] { bDLSDModel = true; });
}

// The I(Rh) distribution followed through time windows of the correlation
// functions (Run: RunContinuousModel).
void TXLAWindow::CmDLSTimeCourse() {
  ChooseContinuousModel(*this, kCmDLSTimeCourse, [] { bDLSTimeCourseModel = true; });
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
  if ((bStokesRadii || bCumulants) && !IsContinuousModel() && !bDLSData)
    return "this model needs DLS data: load DLS Data first";
  if (!IsContinuousModel()) return {};
  const bool dlsModel = bDLSRhModel || bDLSDModel || bDLSTimeCourseModel;
  if (dlsModel && !bDLSData) return "this model needs DLS data: load DLS Data first";
  if (!dlsModel && bDLSData) return "this continuous model does not apply to DLS data";
  return {};
}

}  // namespace tarmic
