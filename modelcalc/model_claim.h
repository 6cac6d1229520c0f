// What a computed result claims: the loaded data, the model chosen and every value
// and setting the model computations read. A result (fit rows and residuals, a
// distribution, the rmsd and the counters of a fit) is shown, copied, saved and
// analysed further only while all of it is as it was when the result was computed
// (FitOfLoadedData, fit_rmsd.h). The data and the model are stamped by the data set
// (CurrentDataStamp, scandata/data_set.h); the values and settings by the
// fingerprint here, which the data set reads through its modelSettings hook.
#pragma once

namespace tarmic {

// A fingerprint of the values and settings the model computations read: the
// analysis state a parameter file saves (species, meniscus, bottom, fitting limits,
// solvent, solver and noise options, the corrections), the parameter vector with
// its fit switches, and the settings of the Lamm solutions, the model options and
// flags, the distribution engine (grid, confidence level, regularisation, prior,
// variants), the initial distribution, the detection corrections and the scan
// window of the rmsd. It changes with any of them, and not with what only shows or
// counts (views, run state, results). Reads only.
unsigned long long ModelSettingsFingerprint();

}  // namespace tarmic
