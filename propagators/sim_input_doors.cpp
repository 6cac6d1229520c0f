// The propagators' forms that take the run settings and species alone and solve with
// the rotor, geometry and solvent of the analysis bound to the thread. They sit apart
// from the values (sim_input) so that the propagators include the values and the
// values include no propagator.
#include <string>

#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "propagators/coefficient_models.h"
#include "propagators/moving_hat_propagator.h"
#include "propagators/nonideal_doors.h"
#include "propagators/nonideal_propagators.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_input.h"
#include "propagators/static_grid_propagator.h"
#include "scandata/data_set.h"

namespace tarmic {

// The forms that take the settings and species alone: the rotor and geometry of the
// current analysis.
SimOutcome SolveLammClaverie(const SimRunSettings& settings, const SimSpecies& species,
                             SimProgress& progress) {
  if (!SimArraysMatchModel()) return {SimStatus::NotAllocated, kSimArraysMissingText};
  return SolveLammClaverie(CurrentSimInput(settings, species), progress);
}

SimOutcome SolveLammMovingHat(const SimRunSettings& settings, const SimSpecies& species,
                              SimProgress& progress) {
  return SolveLammMovingHat(CurrentSimInput(settings, species), progress);
}

CoefficientModelValues CurrentCoefficientModelValues() {
  const auto& flags = ModelFlags();
  const auto& o = ModelOptions();
  CoefficientModelValues v;
  v.monomerDimer = flags.bMonomerDimer;
  v.monomerTrimer = flags.bMonomerTrimer;
  v.assoc124 = flags.bAssoc124;
  v.assoc148 = flags.bAssoc148;
  v.nonidealSpecies = flags.bNonidealSpecies;
  v.csNonideal = flags.bCsNonideal;
  v.s1 = o.fS1;
  v.d1 = o.fD1;
  v.s2 = o.fS2;
  v.d2 = o.fD2;
  v.logK = o.fAssocLogK;
  v.dimerNonideal = o.bDimerNonideal;
  v.logKs = o.fLogKs;
  v.logKd = o.fLogKd;
  v.repulsive = o.bRepulsiveNonideality;
  v.cosoluteCoefficients = o.bCosoluteCoefficients;
  v.csclCoefficients = o.bCsClCoefficients;
  v.logKa = o.fAssocLogKa;
  v.logKb = o.fAssocLogKb;
  const float s[3] = {o.fOligoS1, o.fOligoS2, o.fOligoS3}, d[3] = {o.fOligoD1, o.fOligoD2, o.fOligoD3};
  for (int j = 0; j < 3; ++j) {
    v.oligoS[j] = s[j];
    v.oligoD[j] = d[j];
  }
  v.signalPerConcentration = DataSet().dSignalPerConcentration;
  return v;
}

bool PrepareCoefficientModel(CoefficientConstants* k, std::string* message) {
  return PrepareCoefficientModel(CurrentCoefficientModelValues(), k, message);
}

bool CurrentNonidealInput(const SimRunSettings& settings, bool movingHat,
                          const CoefficientConstants* constants, SimInput* input, SimOutcome* refused) {
  *input = CurrentSimInput(settings, {});
  if (constants) {
    input->coefficients = *constants;
    return true;
  }
  return PrepareNonidealCoefficients(settings, movingHat, CurrentCoefficientModelValues(), input, refused);
}

// The forms that take settings: the input built from the current analysis at the
// door (CurrentNonidealInput, which gives the refusals in the order of the run's checks).
SimOutcome SolveNonidealLammClaverie(const SimRunSettings& settings, SimProgress& progress,
                                     const CoefficientConstants* constants) {
  SimInput input;
  SimOutcome refused;
  if (!CurrentNonidealInput(settings, false, constants, &input, &refused)) return refused;
  return SolveNonidealLammClaverie(input, progress);
}

SimOutcome SolveNonidealLammMovingHat(const SimRunSettings& settings, SimProgress& progress,
                                      const CoefficientConstants* constants,
                                      NonidealHatReport* report) {
  SetHatCellEnds(settings.meniscus, settings.bottom);
  SimInput input;
  SimOutcome refused;
  if (!CurrentNonidealInput(settings, true, constants, &input, &refused)) return refused;
  return SolveNonidealLammMovingHat(input, progress, report);
}

}  // namespace tarmic
