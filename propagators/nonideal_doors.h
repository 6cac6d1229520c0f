// The concentration-dependent solves and their coefficient law taken from the
// current analysis: its model switches and parameters (the model record), its
// rotor, geometry and solvent. For the callers that work on the analysis as it
// stands (the non-ideal c(s) kernels, tests and benchmarks). The model computation
// makes the law from its input and does not include this header, so a call of
// these forms there does not compile.
#pragma once

#include <string>

#include "propagators/coefficient_models.h"
#include "propagators/nonideal_propagators.h"

namespace tarmic {

// The model record's law: the switches, the parameters as they stand (D in cm^2/s
// once the model computation has prepared them), the data set's signal per mg/ml.
CoefficientModelValues CurrentCoefficientModelValues();
bool PrepareCoefficientModel(CoefficientConstants* k, std::string* message);

// The input of a concentration-dependent solve from the current analysis: settings,
// its rotor and geometry, and constants (null: the model record's). False with the
// refusal the solve gives when it cannot start (in the order of its checks: arrays,
// cell and rotor, then the law).
bool CurrentNonidealInput(const SimRunSettings& settings, bool movingHat,
                          const CoefficientConstants* constants, SimInput* input, SimOutcome* refused);

// The solves with those inputs; constants: as above.
SimOutcome SolveNonidealLammClaverie(const SimRunSettings& settings, SimProgress& progress,
                                     const CoefficientConstants* constants = nullptr);
SimOutcome SolveNonidealLammMovingHat(const SimRunSettings& settings, SimProgress& progress,
                                      const CoefficientConstants* constants = nullptr,
                                      NonidealHatReport* report = nullptr);

}  // namespace tarmic
