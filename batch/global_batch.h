// tarmic-batch --global: the global analysis of a sorted equilibrium run, read from
// its experiment files, built as a Problem of the engine and solved directly, without
// a window. It writes global-parameters.tsv, data-sets.tsv, the fitted points and
// residuals of each data set and the manifest, and returns the batch's exit codes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarmic {

extern const char* const kGlobalUsage;

// Runs the global analysis of the command line's arguments (those after the program
// name, "--global" among them). Returns 0 computed, 3 computed with flags, 1 not
// computed (the fit refused or did not converge, or its files were not written),
// 2 input refused (usage, an unknown model or value, a missing or damaged file).
int RunGlobalBatch(const std::vector<std::string>& args, std::FILE* summary, std::FILE* err);

}  // namespace tarmic
