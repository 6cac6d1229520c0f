// The set-up of a continuous distribution's grid at the start of a run: the old
// distribution leaves the plot, the grid is built, the plot is laid out for it and
// the kernels and workspace are allocated.
#pragma once

#include <string>

#include "services/answer_policy.h"

namespace tarmic {

// Builds the grid of the active model, its vectors, the kernel array and the
// normal-equation workspace. False when the run must not go on: the settings are
// refused (ContiGridSettingsRefusal, nothing changed), a warning was declined, the
// stored grid is missing, the DLS limits make no grid, the M(s) table is unusable,
// or memory could not be had (the previous distribution is gone by then). The
// refusals and failures meant for the error box go to *error (when given) for the
// caller to show; the questions of the set-up are asked of answers when met (the
// window's policy shows their boxes), its warnings shown when met.
bool SetupContiGrid(const AnswerPolicy& answers, std::string* error = nullptr);

}  // namespace tarmic
