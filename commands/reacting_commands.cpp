// The molar-mass-and-s parametrisation of the species ("Fit M and s") and the
// choice of the reacting model A + B <--> AB.
#include <cmath>

#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/model_commands.h"
#include "distributions/distribution_plot.h"
#include "distributions/model_values_kept.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/hydrodynamics.h"
#include "numerics/solvent_constants.h"
#include "platform/types.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/reacting_system.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

// R T (erg/mol) of the data, or of 20 C before any data are loaded.
double SpeciesRT() {
  return DataSet().fRT > 0.0f ? static_cast<double>(DataSet().fRT) : kGasConstant * 293.15;
}

// The species' second value between D (1e-7 cm^2/s) and M (g/mol) by the Svedberg
// equation: M = s 1e-13 R T / ((1 - vbar rho) D 1e-7), i.e. either value is
// s 1e-6 R T / ((1 - vbar rho) x the other), so one formula converts both ways.
// Values that give no positive result (M or D not positive, s and the buoyancy
// of different sign or zero) stay as they are.
float ConvertedMassOrD(float value, float s) {
  const double scale = 1e-6 * SpeciesRT() / (1.0 - static_cast<double>(SolventConstants().fVRho));
  const double converted = s * scale / value;
  return value > 0 && converted > 0 && std::isfinite(converted) ? static_cast<float>(converted) : value;
}

void ConvertSpeciesMassOrD() {
  // Only the slots of the active family that hold a D or an M: a distribution keeps
  // its grid and settings there, other families radii, constants or masses that
  // stay masses.
  for (const MassOrDSlot& m : MassOrDSlots(ActiveValueLayout()))
    ModelParams().pSpeciesMassOrD[m.value] = ConvertedMassOrD(ModelParams().pSpeciesMassOrD[m.value], ModelParams().pSpeciesS[m.s - nSpeciesSlots]);
  // The species kept by a model family not active now.
  ConvertKeptMassOrD(ConvertedMassOrD);
}

}  // namespace

void TXLAWindow::CmFitMAndS() {
  ConvertSpeciesMassOrD();
  ModelFlags().bFitMAndS = !ModelFlags().bFitMAndS;
  GetHandle().CheckMenuItem(kCmFitMAndS, ModelFlags().bFitMAndS);
  PackModelParams();
}

void TXLAWindow::CmHeteroAssocModel() {
  if (DataSet().bDLSData) {
    CommandMessageBox(*this, "this model is not implemented for DLS data", "ERROR", MB_OK);
    return;
  }
  if (IsContinuousModel()) ClearDistribution();
  if (ModelFlags().bHeteroAssocModel) return;
  SwitchModel(*this);
  if (!ModelFlags().bFitMAndS) CmFitMAndS();
  AnalysisSwitches().bUniformLoading = true;
  AnalysisSwitches().bInitialDataProfile = false;
  LammSettings().bMovingHat = true;
  LammSettings().bClaverie = false;
  CheckParameters();
  ModelFlags().bHeteroAssocModel = true;
  for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
  ModelParams().bVaryBaseline = false;
  GetHandle().CheckMenuItem(kCmHeteroAssocModel, true);
  // The species slots hold A, B and the complex (masses Ma, Mb and Ma + Mb, s of
  // each, loadings atot, btot and the complex's ab(0)) and in slot 4 extico a,
  // log(Ka) and extico b.
  StoreReactingSystemInSlots();
  PackModelParams();
  // Chosen before: what it floated then, with its solver choice.
  if (TakeKeptSwitches()) PackModelParams();
  if (ModelFlags().bBufferSedCorrection) CheckBufferSedimentationModel(&GetHandle());
  if (LammArrays().bSimArraysAllocated) {
    FreeSimArrays();
    AllocSimArrays();
  }
}

}  // namespace tarmic
