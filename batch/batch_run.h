// One analysis of tarmic-batch, through the window's own commands on the batch
// backend: the scans loaded as "Load New Files" loads them, the analysis of the
// parameter file put into effect as "switch to parameter file" does, the fit's
// search chosen as Fitting Options chooses it, Run or Fit, then Save Fit Data and,
// for a distribution, Save Continuous Distribution into the output folder. Every
// file the saves (and the fit's own parameter save) would write is known and
// checked before anything is written: an existing one is replaced only when the
// options allow it. The run keeps its settings, working files and temporary files
// in a folder of its own (copies of the user's settings), so that runs at once do
// not write each other's files.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "batch/batch_options.h"

namespace tarmic {

// The summary goes to out (when the analysis was tried), the boxes and the
// batch's own messages to err, the readouts of the computation too when progress
// is set. Returns the exit code (kBatchComputed, kBatchAnalysisRefused,
// kBatchInputRefused).
// The answers to the inputs of "Fit With Simulated Annealing", in the order it
// asks them (start temperature, temperature steps, iterations per temperature,
// final method 1 ML, 2 simplex, 0 none): each option given, else what the input
// proposes (the setting in effect).
std::vector<std::string> AnnealingAnswers(const BatchOptions& o);

int RunBatch(const BatchOptions& options, const std::string& programDir, std::FILE* out, std::FILE* err,
             bool progress);

}  // namespace tarmic
