// The model computation of the current analysis: its model taken as a value, and
// what the computation solved kept in it. Apart from the computation, which reads
// and writes none of the analysis' model.
#include "modelcalc/linear_step_doors.h"
#include "modelcalc/model_computation.h"
#include "modelcalc/model_input.h"
#include "modelfit/model_flags.h"
#include "propagators/buffer_sedimentation.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"

namespace tarmic {

ModelResult CalculateModel(Window* window) {
  // The buffer component's model is checked (and mended, with its note) before
  // the input is taken from it; an incompatible model switches it off.
  if (ModelFlags().bBufferSedCorrection) CheckBufferSedimentationModel(window);
  ModelInput in = CurrentModelInput();
  // The analysis' model is its vector's: once the data set's cell is set it takes
  // the vector's cell (the unpack CurrentModelInput leaves to here); a cell not yet
  // set is refused whatever the vector holds, so the computation is given the
  // unset one. Correlation data need no cell and take the vector's.
  auto& dataSetPart = DataSet();
  if (dataSetPart.bDLSData || (dataSetPart.fMeniscus != 0.0f && dataSetPart.fBottom != 0.0f)) {
    dataSetPart.fMeniscus = in.meniscus;
    dataSetPart.fBottom = in.bottom;
  } else {
    in.meniscus = dataSetPart.fMeniscus;
    in.bottom = dataSetPart.fBottom;
  }
  ModelResult result = CalculateModel(window, in);
  // What the linear step solved becomes the analysis' model (the fits read it);
  // then the analysis holds the model its rows were computed from, complete or not.
  KeepLinearStepResult(result.linear);
  if (result.finished) SetModelComputed(result.status == ModelStatus::Computed);
  return result;
}

}  // namespace tarmic
