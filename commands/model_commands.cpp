// The model commands of the continuous c(s), c(s,ff0), ls-g*(s), c(v) and c(M)
// families.
#include "commands/model_commands.h"

#include <initializer_list>

#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/unavailable_commands.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_variants.h"
#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "numerics/solvent_constants.h"
#include "propagators/buffer_sedimentation.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

constexpr int kCmContinuousCM = 235;
constexpr int kCmContinuousCs = 275;
constexpr int kCmCMInvariantD = 277;
constexpr int kCmCMPriorVbar = 279;
constexpr int kCmCsInvariantD = 526;
constexpr int kCmCsScalingLaw = 872;
constexpr int kCmCsMsTable = 587;
constexpr int kCmCsNonideal = 585;
constexpr int kCmFMScalingLaw = 887;
constexpr int kCmCsFf0 = 595;
constexpr int kCmCsFf0OneDiscrete = 598;
constexpr int kCmCsOneDiscrete = 531;
constexpr int kCmCsBimodalFf0 = 548;
constexpr int kCmCsBimodalFf0OneDiscrete = 870;
constexpr int kCmCsWormChain = 603;
constexpr int kCmCsConformationalChange = 514;
constexpr int kCmCsLinearRod = 521;
constexpr int kCmLsg = 288;
constexpr int kCmLsgOneDiscrete = 539;
constexpr int kCmZoneLsg = 510;
constexpr int kCmZoneCs = 511;
constexpr int kCmCsFloatingVbar = 602;
constexpr int kCmElectroLsg = 501;
constexpr int kCmCvConstantD = 513;
constexpr int kCmDLSDiffusion = 502;
constexpr int kCmDLSStokesRadius = 503;
constexpr int kCmDLSTimeCourse = 522;

// Every command of the model menu that chooses a model.
constexpr int kModelCommands[] = {198, 235, 227, 893, 277, 279, 887, 275, 514, 526, 531, 548,
                                  870, 602, 603, 872, 587, 595, 598, 288, 539, 246, 511, 510,
                                  536, 890, 503, 502, 522, 280, 281, 291, 501, 513, 521, 585,
                                  530};

// Defaults put into the vector where it holds no setting of the kind yet.
constexpr float kDefaultGridCount = 100.0f;  // grid points
constexpr float kDefaultInvariantD = 5.0f;   // 1e-7 cm^2/s, as a species' D at start
constexpr float kDefaultCMMin = 10000.0f;    // g/mol
constexpr float kDefaultCMMax = 500000.0f;
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

// What slot 11 of the vector means for a continuous model.
enum class Slot11 { FrictionalRatio, DiffusionCoefficient, ScalingKs, ModelConstant };

Slot11 Slot11Meaning() {
  if (bCsInvariantD || bConstantDModel) return Slot11::DiffusionCoefficient;
  if (IsScalingLawModel()) return Slot11::ScalingKs;
  // The persistence length of the worm-like chains, the rod parameter.
  if (bCsWormChain || bCsModel521) return Slot11::ModelConstant;
  return Slot11::FrictionalRatio;
}

float Slot11Default(Slot11 meaning) {
  switch (meaning) {
    case Slot11::DiffusionCoefficient:
      return fInvariantD > 0.0f ? fInvariantD : kDefaultInvariantD;
    case Slot11::ScalingKs:
      return fScalingKs;
    case Slot11::ModelConstant:
      return bCsWormChain ? fWormPersistenceLength : fLinearRodParameter;
    case Slot11::FrictionalRatio:
      break;
  }
  return fFrictionalRatio;
}

// The continuous model whose flags were just set: check mark, grid range and the
// settings of the vector, which the model variables then take over.
void SetUpContinuousModel(TXLAWindow& window, int id, bool wasContinuous, GridUnit oldUnit,
                          Slot11 oldSlot11, bool wasScalingLaw) {
  window.GetHandle().CheckMenuItem(id, true);
  const GridUnit unit = CurrentGridUnit();
  const bool sameUnit = wasContinuous && oldUnit == unit;

  // The grid range of the new model: from a distribution shown (its x values in the
  // new model's unit), else the model's default range. A model of the same unit
  // keeps the grid the vector holds.
  const float gridMin = pParams[kContiSlotGridMin];
  const float gridMax = pParams[kContiSlotGridMax];
  const float gridCount = pParams[kContiSlotGridCount];
  RecreateDistributionPlot();
  if (sameUnit) {
    pParams[kContiSlotGridMin] = gridMin;
    pParams[kContiSlotGridMax] = gridMax;
    pParams[kContiSlotGridCount] = gridCount;
  } else {
    if (unit == GridUnit::Rh) {
      fDistMin = kDefaultRhMin;
      fDistMax = kDefaultRhMax;
    } else if (unit == GridUnit::D) {
      fDistMin = kDefaultDMin;
      fDistMax = kDefaultDMax;
    } else if (unit == GridUnit::M && (fDistMin <= 0.0f || fDistMax <= fDistMin)) {
      // A molar-mass grid needs positive limits; an s range starting at 0 gives none.
      fDistMin = kDefaultCMMin;
      fDistMax = kDefaultCMMax;
    }
    fDistGridCount = wasContinuous ? gridCount : fDistGridCount;
    if (fDistGridCount < 2.0f) fDistGridCount = kDefaultGridCount;
    StoreGridLimitsInParams();
  }
  if (!wasContinuous) {
    // The vector held the species of a discrete model: the settings start from the
    // engine's and the solvent's current values.
    pParams[kContiSlotConfidence] = fConfidenceLevel;
    pParams[kContiSlotVbar] = VBAR;
    pParams[kContiSlotDensity] = fBufferDensity;
    pParams[kContiSlotViscosity] = RELVISCOSITY / kRelViscosityPerPoise;
    // Fit switches 3 and 4 are the grid options of a continuous model; floated
    // values of a discrete species must not turn into "s grid from file" or a log
    // spaced grid.
    pParamFitFlags[kContiFitGridFromFile] = 0;
    pParamFitFlags[kContiFitLogGrid] = 0;
  }
  const Slot11 meaning = Slot11Meaning();
  if (!wasContinuous || meaning != oldSlot11)
    pParams[kContiSlotFrictionalRatio] = Slot11Default(meaning);
  if (IsScalingLawModel() && !wasScalingLaw) pParams[kContiSlotScalingExponent] = fScalingExponent;
  StoreVariantDefaultsInParams();

  UnpackModelParams();
  window.RepaintMain();
}

// A model command: the reset, the flags set by setFlags, the set-up.
template <class SetFlags>
void ChooseContinuousModel(TXLAWindow& window, int id, SetFlags setFlags) {
  if (OfferHelpInHelpMode(window)) return;
  const bool wasContinuous = IsContinuousModel();
  const GridUnit oldUnit = CurrentGridUnit();
  const Slot11 oldSlot11 = Slot11Meaning();
  const bool wasScalingLaw = IsScalingLawModel();
  SwitchModel(window);
  bContiModel = true;
  setFlags();
  SetUpContinuousModel(window, id, wasContinuous, oldUnit, oldSlot11, wasScalingLaw);
  if (bBufferSedCorrection) CheckBufferSedimentationModel(&window.GetHandle());
}

}  // namespace

void SwitchModel(TXLAWindow& window) {
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
      {&bConstantDModel, 277},
      {&bCMPriorVbar, 279},
      {&bFMScalingLaw, 887},
      {&bCsConformationalChange, 514},
      {&bCsInvariantD, 526},
      {&bCsOneDiscreteD, 531},
      {&bCsOneDiscreteM, 531},
      {&bCsBimodalFf0, 548},
      {&bCsBimodalFf0OneDiscrete, 870},
      {&bCsFloatingVbar, 602},
      {&bCsWormChain, 603},
      {&bCsScalingLaw, 872},
      {&bCsMsTable, 587},
      {&bCsNonideal, 585},
      {&bCsff0Model, 595},
      {&bCsff0OneDiscrete, 598},
      {&bLsgOneDiscrete, 539},
      {&bZoneLsgModel, 510},
      {&bElectroLsgModel, 501},
      {&bLsgModel, 288},
      {&bDLSRhModel, 503},
      {&bDLSDModel, 502},
      {&bDLSTimeCourseModel, 522},
      {&bCvConstantD, 513},
      {&bCsModel521, 521},
      {&bContiSModel, 275},
      {&bContiModel, 235},
      {&bNonidealSpecies, 227},
      {&bNonIdealMultiple, 893},
      {&bStokesRadii, 536},
      {&bCumulants, 890},
      {&bZoneCentrifugation, 246},
      {&bFaxenApproximation, 530},
      {&bLinearGeometry, 280},
      {&bExternalLoadingCell, 281},
      {&bElectrophoresis, 291},
      {&bDiscreteModel, 198},
  };
  // c(s) of a band-loaded sample is the zone-centrifugation c(s).
  if (bContiSModel && bZoneCentrifugation) return 511;
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
  ChooseContinuousModel(*this, kCmZoneCs, [] {
    bContiSModel = true;
    bZoneCentrifugation = true;
  });
}

// c(s) at a fixed frictional ratio whose partial-specific volume is floated.
void TXLAWindow::CmContinuousCsFloatingVbar() {
  ChooseContinuousModel(*this, kCmCsFloatingVbar, [] { bCsFloatingVbar = true; });
}

void TXLAWindow::CmContinuousCM() {
  ChooseContinuousModel(*this, kCmContinuousCM, [] {
    // The c(M) model starts from a constant loading concentration.
    bConstantInitialDistribution = true;
  });
}

void TXLAWindow::CmContinuousCsInvariantD() {
  ChooseContinuousModel(*this, kCmCsInvariantD, [] { bCsInvariantD = true; });
}

void TXLAWindow::CmContinuousCsScalingLaw() {
  ChooseContinuousModel(*this, kCmCsScalingLaw, [] { bCsScalingLaw = true; });
}

void TXLAWindow::CmContinuousCsMsTable() {
  ChooseContinuousModel(*this, kCmCsMsTable, [] { bCsMsTable = true; });
}

// c(s) whose species sediment in the total signal of the distribution with
// s = s0 / (1 + ks c), D = D0 (1 + kd c); slots 20 and 21 hold log10 ks and log10 kd
// (taken from the current values, not floated from another model's use of them).
void TXLAWindow::CmContinuousCsNonideal() {
  ChooseContinuousModel(*this, kCmCsNonideal, [] {
    bCsNonideal = true;
    pParams[20] = fLogKs;
    pParams[21] = fLogKd;
    pParamFitFlags[20] = pParamFitFlags[21] = 0;
  });
}

void TXLAWindow::CmContinuousCMInvariantD() {
  ChooseContinuousModel(*this, kCmCMInvariantD, [] { bConstantDModel = true; });
}

void TXLAWindow::CmContinuousCMPriorVbar() {
  ChooseContinuousModel(*this, kCmCMPriorVbar, [] { bCMPriorVbar = true; });
}

void TXLAWindow::CmFMScalingLaw() {
  ChooseContinuousModel(*this, kCmFMScalingLaw, [] {
    bFMScalingLaw = true;
    // The data and residual plots stay as they are while the plot is rebuilt.
    bFMScalingLawSwitching = true;
  });
}

void TXLAWindow::CmContinuousCsFf0() {
  ChooseContinuousModel(*this, kCmCsFf0, [] { bCsff0Model = true; });
}

void TXLAWindow::CmContinuousCsFf0OneDiscrete() {
  ChooseContinuousModel(*this, kCmCsFf0OneDiscrete, [] { bCsff0OneDiscrete = true; });
}

void TXLAWindow::CmContinuousCsOneDiscrete() {
  // The discrete species is given by s and M under "Fit M and s", else by s and D.
  ChooseContinuousModel(*this, kCmCsOneDiscrete, [] {
    bCsOneDiscreteM = bFitMAndS;
    bCsOneDiscreteD = !bFitMAndS;
  });
}

void TXLAWindow::CmContinuousCsBimodalFf0() {
  ChooseContinuousModel(*this, kCmCsBimodalFf0, [] { bCsBimodalFf0 = true; });
}

void TXLAWindow::CmContinuousCsBimodalFf0OneDiscrete() {
  ChooseContinuousModel(*this, kCmCsBimodalFf0OneDiscrete, [] { bCsBimodalFf0OneDiscrete = true; });
}

void TXLAWindow::CmContinuousCsWormChain() {
  ChooseContinuousModel(*this, kCmCsWormChain, [] { bCsWormChain = true; });
}

void TXLAWindow::CmContinuousCsConformationalChange() {
  ChooseContinuousModel(*this, kCmCsConformationalChange, [] { bCsConformationalChange = true; });
}

void TXLAWindow::CmContinuousCsLinearRod() {
  ChooseContinuousModel(*this, kCmCsLinearRod, [] { bCsModel521 = true; });
}

// The ls-g*(s) models read the scan times from omega^2 t.
void TXLAWindow::CmLsgModel() {
  ChooseContinuousModel(*this, kCmLsg, [] { bLsgModel = true; });
  if (bLsgModel) SwitchOnTimesFromW2t(&GetHandle());
}

void TXLAWindow::CmLsgOneDiscrete() {
  ChooseContinuousModel(*this, kCmLsgOneDiscrete, [] { bLsgOneDiscrete = true; });
  if (bLsgOneDiscrete) SwitchOnTimesFromW2t(&GetHandle());
}

// Zone centrifugation: the sample starts as a lamella at the meniscus.
void TXLAWindow::CmZoneLsgModel() {
  ChooseContinuousModel(*this, kCmZoneLsg, [] {
    bLsgModel = bZoneLsgModel = true;
    bZoneCentrifugation = true;
  });
  if (bZoneLsgModel) SwitchOnTimesFromW2t(&GetHandle());
}

// Electrophoresis: boundaries migrating at constant velocity (um/s) in the planar cell.
void TXLAWindow::CmElectroLsgModel() {
  ChooseContinuousModel(*this, kCmElectroLsg, [] { bLsgModel = bElectroLsgModel = true; });
}

void TXLAWindow::CmCvConstantD() {
  ChooseContinuousModel(*this, kCmCvConstantD, [] { bCvConstantD = true; });
}

// The intensity distributions of DLS correlation functions, over the Stokes radius
// (nm) or over D (1e-7 cm^2/s).
void TXLAWindow::CmDLSStokesRadiusDistribution() {
  ChooseContinuousModel(*this, kCmDLSStokesRadius, [] { bDLSRhModel = true; });
}

void TXLAWindow::CmDLSDiffusionDistribution() {
  ChooseContinuousModel(*this, kCmDLSDiffusion, [] { bDLSDModel = true; });
}

// The I(Rh) distribution followed through time windows of the correlation
// functions (Run: RunContinuousModel).
void TXLAWindow::CmDLSTimeCourse() {
  ChooseContinuousModel(*this, kCmDLSTimeCourse, [] { bDLSTimeCourseModel = true; });
}

std::string ModelNotRunnableText() {
  const int model = ActiveModelCommand();
  if (model == 0) return "choose a model first (Model menu)";
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
