// The settings of a continuous-distribution run, which the run, its plot and the
// transforms of its result all read.
#pragma once

#include "services/answer_policy.h"

namespace tarmic {

// The settings of the run that the main window keeps (its preferences); read
// through the hook DistributionHooks::runSettings at the start of every run.
struct ContiRunSettings {
  bool maxEntropy = true;           // regularise by maximum entropy
  bool showBoth = false;            // Tikhonov-Phillips and maximum entropy, both shown
  bool multiThreading = true;       // normal equations on worker threads
  int threads = 2;                  // number of those threads (at least 1)
  bool suppressBaselineCorrelation = true;  // maximum entropy: weak reference of point 1
  // The answers to the run's questions (the grid against the fit limits, the DLS
  // transform): the front end's policy; none (every answer No) without the hook.
  AnswerPolicy answers;
};
// The settings of the hook (the defaults when it is unset), with at least one
// thread, and maximum entropy on whenever both solutions are shown.
ContiRunSettings GetContiRunSettings();

}  // namespace tarmic
