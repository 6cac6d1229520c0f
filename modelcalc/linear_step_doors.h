// The linear step's doors to the current analysis: the input taken from the
// model's variables, and what the step solved kept in them. The step itself
// (linear_amplitudes.h) reads and writes none of the model's variables.
#pragma once

#include "modelcalc/linear_amplitudes.h"

namespace tarmic {

// The step's input of the current analysis: the model's flags and the linear
// switches, the linked slots, their amplitudes and the fixed baseline.
LinearStepInput CurrentLinearStepInput();

// Keeps what the step solved in the current analysis: each written amplitude in the
// model and its parameter vector (slot 8 + k), the baseline it set (fBaseline and
// slot 15), the buffer's signal in the buffer model's record.
void KeepLinearStepResult(const LinearStepResult& result);

}  // namespace tarmic
