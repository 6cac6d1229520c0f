#include "modelcalc/model_input.h"

#include "modelcalc/model_steps.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/inhomogeneous_solvent.h"
#include "propagators/nonideal_doors.h"
#include "propagators/reacting_doors.h"
#include "propagators/reacting_system.h"
#include "propagators/sim_run.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"

namespace tarmic {

ModelInput CurrentModelInput() {
  // The data set's cell stays as it stands until the computation lays the input:
  // the computation refuses a cell that is not set before it takes the model's.
  const float setMeniscus = DataSet().fMeniscus, setBottom = DataSet().fBottom;
  UnpackModelParams();
  const auto& switches = AnalysisSwitches();
  const auto& params = ModelParams();
  const auto& flags = ModelFlags();
  const auto& options = ModelOptions();
  ModelInput in;
  for (int i = 0; i <= kModelParams; ++i) {
    in.params[static_cast<std::size_t>(i)] = switches.pParams[i];
    in.paramFit[static_cast<std::size_t>(i)] = switches.pParamFitFlags[i];
  }
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    ModelSpeciesValues& v = in.species[static_cast<std::size_t>(k)];
    v.s = params.pSpeciesS[k];
    v.massOrD = params.pSpeciesMassOrD[k];
    v.D = SpeciesDiffusion(k);
    v.amplitude = params.pSpeciesAmplitude[k];
    v.included = switches.pSpeciesLinked[k] != 0;
  }
  in.baseline = params.fBaseline;
  in.meniscus = DataSet().fMeniscus;
  in.bottom = DataSet().fBottom;

  ModelBranches& m = in.model;
  m.discrete = flags.bDiscreteModel;
  m.monomerDimer = flags.bMonomerDimer;
  m.monomerTrimer = flags.bMonomerTrimer;
  m.assoc124 = flags.bAssoc124;
  m.assoc148 = flags.bAssoc148;
  m.nonidealSpecies = flags.bNonidealSpecies;
  m.nonIdealMultiple = flags.bNonIdealMultiple;
  m.reacting = flags.bHeteroAssocModel;
  m.bufferCorrection = flags.bBufferSedCorrection;
  m.faxen = flags.bFaxenApproximation;
  m.zoneCentrifugation = flags.bZoneCentrifugation;
  m.fitMAndS = flags.bFitMAndS;
  m.stokesRadii = flags.bStokesRadii;
  m.cumulants = flags.bCumulants;
  m.c1Nonideal = options.bC1Nonideal;
  m.timeOffset = options.bTimeOffset != 0;
  m.timeOffsetValue = options.fTimeOffset;
  m.linearAmplitudes = params.bLinearAmplitudes;
  m.varyBaseline = params.bVaryBaseline;
  m.fitTINoise = switches.bFitTINoise;
  m.fitRINoise = switches.bFitRINoise;

  in.single.s1 = options.fS1;
  in.single.d1 = options.fD1;
  in.single.loading = options.fAssocLoading;
  in.single.logKs = options.fLogKs;
  in.single.logKd = options.fLogKd;
  in.lamellaWidth = options.fLamellaWidth;
  in.zoneInverseLayer = options.bZoneInverseLayer;
  for (int j = 1; j <= 3; ++j) in.nonidealExtinction[static_cast<std::size_t>(j)] = options.fNonidealExtinction[j];
  if (m.reacting) in.reacting = CurrentReactingValues();
  in.coefficients = CurrentCoefficientModelValues();
  if (m.bufferCorrection) in.buffer = CurrentBufferSedModel();

  in.run.settings = CurrentSimRunSettings();
  in.run.geometry = CurrentSimGeometry();
  if (in.run.settings.inhomogeneousSolvent) in.run.solvent = CurrentSimSolvent();
  DataSet().fMeniscus = setMeniscus;
  DataSet().fBottom = setBottom;
  return in;
}

LinearStepInput LinearStepInputOf(const ModelInput& input) {
  LinearStepInput step;
  step.discrete = input.model.discrete;
  step.bufferCorrection = input.model.bufferCorrection;
  step.linearAmplitudes = input.model.linearAmplitudes;
  step.varyBaseline = input.model.varyBaseline;
  step.fitTI = input.model.fitTINoise;
  step.fitRI = input.model.fitRINoise;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    const auto slot = static_cast<std::size_t>(k);
    step.linked[slot] = input.species[slot].included;
    step.amplitude[slot] = input.species[slot].amplitude;
  }
  step.baseline = input.baseline;
  return step;
}

void CoefficientDiffusionToCgs(CoefficientModelValues& v, bool fitMAndS, float rt, float vRho) {
  auto fromMass = [rt, vRho](float s, float M) {
    return static_cast<float>(s * 1e-13 * rt / ((1.0 - vRho) * (M > 0.0f ? M : 1e-10)));
  };
  if (v.assoc148 || v.assoc124)
    for (int j = 0; j < 3; ++j)
      if (v.oligoD[j] > 0.0f) v.oligoD[j] = fromMass(v.oligoS[j], v.oligoD[j]);
  if (!fitMAndS) {
    v.d1 *= 1e-7f;
    v.d2 *= 1e-7f;
    return;
  }
  v.d1 = fromMass(v.s1, v.d1);
  v.d2 = fromMass(v.s2, v.d2);
}

int FirstIncludedSlot(const ModelInput& input) {
  for (int k = 1; k <= nSpeciesSlots; ++k)
    if (input.species[static_cast<std::size_t>(k)].included) return k;
  return 0;
}

double SpeciesLoading(const ModelInput& input, int k, int firstIncluded, bool linearAmplitudes) {
  const auto at = [&](int j) -> const ModelSpeciesValues& { return input.species[static_cast<std::size_t>(j)]; };
  double fraction = 0.0;
  if (k == firstIncluded) {
    const int last = input.model.bufferCorrection ? nSpeciesSlots - 1 : nSpeciesSlots;
    fraction = 1.0;
    for (int j = k + 1; j <= last; ++j)
      if (at(j).included) fraction -= at(j).amplitude;
  } else {
    fraction = at(k).amplitude;
  }
  if (fraction < 0.0) fraction = 0.0;
  ModelSteps().fLoadingFraction = static_cast<float>(fraction);
  double loading = fraction * at(firstIncluded).amplitude;
  if (linearAmplitudes && loading == 0.0) loading = 1.0;
  return loading;
}

}  // namespace tarmic
