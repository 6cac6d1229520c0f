// "Global Equilibrium Analysis..." of the Model menu: the window's door to the global
// analysis of a sorted equilibrium run on the engine of values (engine/equilibrium.h).
// It asks for the experiment files, the model and its values (among them the
// incompetent fraction, B2 and the mass conserved in each cell), fits with the
// program's progress display (a key stops the fit at its best point), and shows
// each data set's data, fit and residuals in the data and residual panes (PgUp and
// PgDn step through them, Esc leaves the view; app/global_eq_view.h). While the
// view is shown, Parameters (Ctrl+P) shows the fitted values with their errors and
// "Copy Fit Parameters" copies the same text.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/resource_types.h"
#include "resources/dialogs.h"

namespace tarmic {

class MetaFile;
class TXLAWindow;

// The analysis the window fitted last: the model's name, the problem as fitted
// (the values the user gave, the starts from the data) and the solve's summary.
struct GlobalEqWindowAnalysis {
  std::string model;
  engine::Problem problem;
  engine::Summary summary;
};

// The analysis fitted last; null before the first fit.
const GlobalEqWindowAnalysis* ShownGlobalEqAnalysis();

// The text of the fitted values, tab-separated for spreadsheets: the model, status,
// rmsd and flags; each global value with its error, 95 % limits, unit and whether
// it was fitted; each data set with its rmsd and local values with their errors;
// the notes of the solve.
std::string GlobalEqParametersText(const std::string& model, const engine::Problem& problem,
                                   const engine::Summary& summary);

// Why the values dialog's record cannot be taken (empty when it can): each global
// field must hold a value of its quantity within the parameter's bounds, each local
// field be empty (the starts from the data) or hold such a value, the incompetent
// fraction 0 to 0.99 and B2 -1 to 1 (as the batch's --set takes them). The sentence
// names the field by its label.
std::string GlobalEqValuesRefusal(const engine::Problem& problem, const TransferBuffer& record);
// The rows of the values beside the model's own that the values dialog shows for
// the problem: the incompetent fraction for an association, B2 and "conserve mass"
// for every model (the engine names the combinations it refuses).
GlobalEqOptionRows GlobalEqOptionRowsOf(const engine::Problem& problem);
// The labels of the values dialog's rows: the value's name and unit.
std::vector<std::string> GlobalEqValueLabels(const std::vector<engine::Parameter>& values);

// Why the model dialog's record cannot be taken (empty when it can).
std::string GlobalEqModelRefusal(const TransferBuffer& record);

// The view's operations that the shell calls through its hooks.
std::vector<const MetaFile*> GlobalEqViewPictures();
void StepGlobalEqView(TXLAWindow& window, int step);
void EndGlobalEqView(TXLAWindow& window);
// Parameters and "Copy Fit Parameters" while the view is shown.
void ShowGlobalEqParameters(TXLAWindow& window);
void CopyGlobalEqParameters();

// Forgets the analysis and its view (tests).
void ResetGlobalEqAnalysis();

}  // namespace tarmic
