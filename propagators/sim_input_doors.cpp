// The propagators' forms that take the run settings and species alone and solve with
// the rotor, geometry and solvent of the analysis bound to the thread. They sit apart
// from the values (sim_input) so that the propagators include the values and the
// values include no propagator.
#include <string>

#include "propagators/coefficient_models.h"
#include "propagators/moving_hat_propagator.h"
#include "propagators/nonideal_propagators.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_input.h"
#include "propagators/static_grid_propagator.h"

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

bool CurrentNonidealInput(const SimRunSettings& settings, bool movingHat,
                          const CoefficientConstants* constants, SimInput* input, SimOutcome* refused) {
  *input = CurrentSimInput(settings, {});
  if (constants) {
    input->coefficients = *constants;
    return true;
  }
  if (!NonidealRunCanStart(settings, movingHat, refused)) return false;
  std::string message;
  if (!PrepareCoefficientModel(&input->coefficients, &message)) {
    refused->status = SimStatus::InvalidInput;
    refused->message = message;
    return false;
  }
  return true;
}

}  // namespace tarmic
