// The flags of a fit's result: what its report found that a reader of the result
// must know, as records with a stable id (matched by readers) and the short text a
// table shows. A flagged result is still a result: the batch keeps it with its
// flags (status "computed with flags"), the window shows the same findings in its
// notes. Each flag comes from one finding of the fit's report; a new finding adds
// one row to the table of FitFlags.
#pragma once

#include <string>
#include <vector>

#include "modelcalc/fit_report.h"
#include "services/outcome_message.h"

namespace tarmic {

// The ids of the flags (OutcomeMessage::id).
inline constexpr const char* kFlagAtBound = "at-bound";            // text "at a bound: D2 = 0, c2 = 0"
inline constexpr const char* kFlagNotConverged = "not-converged";  // text "not converged"
inline constexpr const char* kFlagGrid = "grid";                   // text "grid"
inline constexpr const char* kFlagMisfit = "misfit";               // text "misfit"
// text "misfit: the data place the meniscus lower than held"
inline constexpr const char* kFlagHeldMeniscus = "held-meniscus";
// text "species 2 not determined" (one flag, every species named)
inline constexpr const char* kFlagUndetermined = "species-not-determined";
// text "species 2 sedimented before the first scan (s = 270 S)", "species 2 loading 9.8, ..."
inline constexpr const char* kFlagImplausible = "species-implausible";

// The flags of a fit that ended with outcome and report, in the order of the
// table: a value at a bound (naming every value that ended there), a search that
// did not converge (its own test, its evaluation or iteration limit, a step from
// its end that still lowers the sum of squares, trial points without a model next
// to its end, an interrupted fit), a model whose grid had to be finer at the end
// values, a systematic misfit of the residuals. Empty for a fit that ended clean,
// and for one without a result (not started, failed), which is no result to flag.
std::vector<OutcomeMessage> FitFlags(FitOutcome outcome, const FitReport& report);

// The flags as the summary's column shows them: their texts, "; " between them.
std::string FlagsText(const std::vector<OutcomeMessage>& flags);

}  // namespace tarmic
