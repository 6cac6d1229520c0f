#include "modelcalc/linear_step_doors.h"

#include <cstddef>

#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "propagators/buffer_sedimentation.h"
#include "scandata/analysis_switches.h"

namespace tarmic {

namespace {
static_assert(kSpeciesSlots == nSpeciesSlots, "the signal tables have a slot per species slot");
// Parameter-vector positions of the amplitudes (kAmplitudeParam + k) and the baseline.
constexpr int kAmplitudeParam = 8;
constexpr int kBaselineParam = 15;
}  // namespace

LinearStepInput CurrentLinearStepInput() {
  const auto& flags = ModelFlags();
  const auto& params = ModelParams();
  const auto& switches = AnalysisSwitches();
  LinearStepInput in;
  in.discrete = flags.bDiscreteModel;
  in.bufferCorrection = flags.bBufferSedCorrection;
  in.linearAmplitudes = params.bLinearAmplitudes;
  in.varyBaseline = params.bVaryBaseline;
  in.fitTI = switches.bFitTINoise;
  in.fitRI = switches.bFitRINoise;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    in.linked[static_cast<std::size_t>(k)] = switches.pSpeciesLinked[k] != 0;
    in.amplitude[static_cast<std::size_t>(k)] = params.pSpeciesAmplitude[k];
  }
  in.baseline = params.fBaseline;
  return in;
}

void KeepLinearStepResult(const LinearStepResult& result) {
  auto& params = ModelParams();
  auto& switches = AnalysisSwitches();
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!result.written[static_cast<std::size_t>(k)]) continue;
    params.pSpeciesAmplitude[k] = result.amplitude[static_cast<std::size_t>(k)];
    switches.pParams[kAmplitudeParam + k] = params.pSpeciesAmplitude[k];
  }
  if (result.baselineWritten) {
    params.fBaseline = result.baseline;
    switches.pParams[kBaselineParam] = result.baseline;
  }
  if (result.bufferSignalWritten) BufferSedimentation().BufferSed.signal = result.bufferSignal;
}

}  // namespace tarmic
