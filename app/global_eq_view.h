// View state of the global equilibrium analysis that the main window's painting and
// keys read: while its view is shown the data and residual panes show one data set
// of the analysis at a time (its data, fit and residuals), PgUp and PgDn step
// through the data sets and Esc leaves the view. The command library sets it and
// keeps the analysis itself (commands/global_equilibrium_commands.h); a load of
// new data leaves the view.
#pragma once

namespace tarmic {

// The view of the global analysis stands in for the data and residual panes.
extern bool bGlobalEqView;
// The data set shown (0-based) of how many the analysis holds.
extern int nGlobalEqShownSet;
extern int nGlobalEqSets;

// Sets every value above to its start value.
void ResetGlobalEqView();

}  // namespace tarmic
