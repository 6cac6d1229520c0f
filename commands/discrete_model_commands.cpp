// The model commands of the discrete-species families: non-interacting species
// (in the sector cell, a planar cell, the external loading cell, electrophoresis
// and zone centrifugation), the rapid self-association models, the non-ideal
// models, the start-time offset of the sedimentation and the loading of
// electrophoresis data.
//
// Every model command runs the general model reset first, then sets its flags.
// The species models start with nothing floated (CheckParameters); the 1-2-4 and
// 1-4-8 models keep the switches of the vector. A model whose family differs from
// that of the model before takes the values its family held last, else its start
// values (distributions/model_values_kept.h), with nothing floated. The shared simulation arrays are
// then allocated again, so that the blocks the new model needs (the
// concentration-dependent block of the self-association and non-ideal models)
// exist before the first computation.
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/load_commands.h"
#include "commands/model_commands.h"
#include "distributions/distribution_plot.h"
#include "distributions/model_values_kept.h"
#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "scandata/scan_file.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

constexpr int kNoMenuItem = 0;

// Lamm grid of electrophoresis data: the planar cell is short and the drift
// constant, so 200 nodes resolve the boundaries.
constexpr int kElectrophoresisGridPoints = 200;

// Whether the species start with nothing floated.
enum class StartSwitches { Cleared, Kept };

// Both start-time offset items show the one switch (slot 24 of the vector: t0 is
// applied to the simulation and floated).
void ShowTimeOffsetMarks(Window& w) {
  w.CheckMenuItem(kCmFitT0OfSedimentation, ModelOptions().bTimeOffset != 0);
  w.CheckMenuItem(kCmSedimentationTimeOffset, ModelOptions().bTimeOffset != 0);
}

// A discrete-species model command: the reset, the flags set by setFlags, the
// start switches, the check mark (id 0: the command has no menu item), the buffer
// mismatch check and the simulation arrays for the new model.
template <class SetFlags>
void ChooseDiscreteModel(TXLAWindow& window, int id, StartSwitches start, SetFlags setFlags) {
  const ValueLayout before = ActiveValueLayout();
  // A distribution shown belongs to the continuous model left behind.
  if (IsContinuousModel()) ClearDistribution();
  SwitchModel(window);
  setFlags();
  // The slots held another family's values (a distribution's grid and settings,
  // another model's constants): this family's own come back, or its start values.
  // Without a model before, the vector holds no other family's values.
  if (const ValueLayout layout = ActiveValueLayout(); before != ValueLayout::None && layout != before)
    TakeKeptValues(layout);
  if (start == StartSwitches::Cleared) {
    CheckParameters();
  } else {
    // The vector's values reach the model's records (oligomer masses).
    PackModelParams();
  }
  // A model chosen before floats what it floated then, with its solver choice (the
  // simulation arrays are made for it below).
  if (TakeKeptSwitches()) PackModelParams();
  Window& w = window.GetHandle();
  if (id != kNoMenuItem) w.CheckMenuItem(id, true);
  // Clearing the switches also clears the start-time offset.
  ShowTimeOffsetMarks(w);
  if (ModelFlags().bBufferSedCorrection) CheckBufferSedimentationModel(&w);
  FreeSimArrays();
  AllocSimArrays();
  window.RepaintMain();
}

}  // namespace

void TXLAWindow::CmDiscreteSpecies() {
  ChooseDiscreteModel(*this, kCmDiscreteSpecies, StartSwitches::Cleared,
                      [] { ModelFlags().bDiscreteModel = true; });
}

void TXLAWindow::CmZoneCentrifugationSpecies() {
  ChooseDiscreteModel(*this, kCmZoneCentrifugationSpecies, StartSwitches::Cleared, [] {
    ModelFlags().bDiscreteModel = true;
    ModelFlags().bZoneCentrifugation = true;
  });
}

// Non-interacting species whose boundaries are the analytic Faxen-type profiles
// instead of Lamm equation solutions.
void TXLAWindow::CmFaxenSpecies() {
  ChooseDiscreteModel(*this, kCmFaxenSpecies, StartSwitches::Cleared, [] {
    ModelFlags().bDiscreteModel = true;
    ModelFlags().bFaxenApproximation = true;
  });
}

void TXLAWindow::CmLinearGeometry() {
  ChooseDiscreteModel(*this, kCmLinearGeometry, StartSwitches::Cleared, [] {
    ModelFlags().bDiscreteModel = true;
    LammGlobals().bLinearGeometry = true;
  });
}

void TXLAWindow::CmPlanarQuadrature() {
  ChooseDiscreteModel(*this, kNoMenuItem, StartSwitches::Cleared, [] {
    ModelFlags().bDiscreteModel = true;
    LammGlobals().bPlanarQuadrature = true;
  });
}

void TXLAWindow::CmExternalLoadingCell() {
  ChooseDiscreteModel(*this, kCmExternalLoadingCell, StartSwitches::Cleared, [] {
    ModelFlags().bDiscreteModel = true;
    LammGlobals().bExternalLoadingCell = true;
  });
}

void TXLAWindow::CmElectrophoresisSpecies() {
  ChooseDiscreteModel(*this, kCmElectrophoresisSpecies, StartSwitches::Cleared, [] {
    ModelFlags().bDiscreteModel = true;
    LammGlobals().bElectrophoresis = true;
  });
}

void TXLAWindow::CmNonidealSingle() {
  ChooseDiscreteModel(*this, kCmNonidealSingle, StartSwitches::Cleared,
                      [] { ModelFlags().bNonidealSpecies = true; });
}

void TXLAWindow::CmNonidealMultiple() {
  ChooseDiscreteModel(*this, kCmNonidealMultiple, StartSwitches::Cleared,
                      [] { ModelFlags().bNonIdealMultiple = true; });
}

void TXLAWindow::CmMonomerDimer() {
  ChooseDiscreteModel(*this, kNoMenuItem, StartSwitches::Cleared, [] { ModelFlags().bMonomerDimer = true; });
}

void TXLAWindow::CmMonomerTrimer() {
  ChooseDiscreteModel(*this, kNoMenuItem, StartSwitches::Cleared, [] { ModelFlags().bMonomerTrimer = true; });
}

void TXLAWindow::CmAssoc124() {
  ChooseDiscreteModel(*this, kNoMenuItem, StartSwitches::Kept, [] { ModelFlags().bAssoc124 = true; });
}

void TXLAWindow::CmAssoc148() {
  ChooseDiscreteModel(*this, kNoMenuItem, StartSwitches::Kept, [] { ModelFlags().bAssoc148 = true; });
}

// Non-interacting species on DLS correlation functions, each given by its Stokes
// radius (nm) instead of D: D = kT / (6 pi eta R).
void TXLAWindow::CmDLSStokesRadii() {
  ChooseDiscreteModel(*this, kCmDLSStokesRadii, StartSwitches::Cleared, [] {
    ModelFlags().bDiscreteModel = true;
    ModelFlags().bStokesRadii = true;
  });
}

// The cumulant expansion of one decay: slot 1 holds the mean D (the first cumulant
// over q^2) and the total amplitude, slots 2-4 the second to fourth cumulants. Slot
// 1 is the decay itself and is always computed (its parameter page has no switch
// to leave it out).
void TXLAWindow::CmDLSCumulants() {
  ChooseDiscreteModel(*this, kCmDLSCumulants, StartSwitches::Cleared, [] {
    ModelFlags().bDiscreteModel = true;
    ModelFlags().bCumulants = true;
    AnalysisSwitches().pSpeciesLinked[1] = 1;
  });
}

void TXLAWindow::CmSedimentationTimeOffset() {
  ModelOptions().bTimeOffset = ModelOptions().bTimeOffset ? 0 : 1;
  ShowTimeOffsetMarks(GetHandle());
  PackModelParams();
}

void TXLAWindow::CmLoadElectrophoresisData() {
  // The electrophoresis model follows a load that succeeded only.
  if (!LoadNewFiles(*this, LoadKind::Electrophoresis)) return;
  LammSettings().nLammGridPoints = kElectrophoresisGridPoints;
  CmElectrophoresisSpecies();
}

}  // namespace tarmic
