// Pieces that the menu commands of the main window share: the help-mode test that
// every command makes first, questions and number inputs bracketed so that the
// window does not paint under an open box, and the re-application of the panes'
// layout and of the data plot's zoom window.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_persistence.h"
#include "numerics/value_ranges.h"
#include "platform/backend.h"

namespace tarmic {

class TXLAWindow;

// A message box with bModalBoxOpen set while it is open; returns its result.
int CommandMessageBox(TXLAWindow& window, const std::string& text, const std::string& caption,
                      unsigned style);
// A yes/no question; true for yes.
bool AskYesNo(TXLAWindow& window, const std::string& text, const std::string& caption);
// A yes/no question whose Yes writes files or changes the loaded data: No is the
// default button, so that Enter never rewrites anything. True for yes.
bool ConfirmChange(TXLAWindow& window, const std::string& text, const std::string& caption);

struct SyntheticDataSettings;
// The questions of a generation of synthetic data, asked before it once its
// settings are usable: the band orientation (zone centrifugation) and, for a
// continuous model, where the distribution goes and whether it is normalized.
void AskSyntheticDataQuestions(TXLAWindow& window, SyntheticDataSettings& settings);

// Shows the error box of a save that failed (error sound, caption "Error", the
// write's message); nothing when it was written or the failure carries no message
// (the user declined and was told). True when it was written.
bool ReportSave(const SaveResult& result);
struct RunMessage;
// The box a computation handed up: the error box or a message box; nothing when
// the message is empty.
void ShowContiRunMessage(TXLAWindow& window, const RunMessage& message);
// Shows what a fit handed up, each once and in the order the fit met them: why it
// did not start or failed (or the message of its one run), a simplex at its
// evaluation limit ("Nelder-Mead not converged", error box, not in batch mode),
// then a failed parameter save.
void ReportFit(TXLAWindow& window, const FitReport& report);

// Whether scans are loaded; otherwise "load data first" (error sound, caption "ERROR")
// and false.
bool RequireLoadedData(TXLAWindow& window);
// With scans loaded: whether a data point of the fitted scans lies inside the
// fitting limits; otherwise says so (error sound, caption "ERROR", no box in batch
// mode) and false. A model over no point would report a perfect fit.
bool RequireFitPoints(TXLAWindow& window);

// The question before a save replaces files (MayReplaceFiles, asked once for the
// set of targets), with bModalBoxOpen set while it is open. Every command that
// writes files the user named or the program proposed asks it before it writes.
bool MayReplace(TXLAWindow& window, const std::vector<std::string>& targets);

// The file names Save Fit Data proposes in its three dialogs: the fitted scans, the
// residuals (both with the loaded scans' extension) and the parameter report.
struct FitDataNames {
  std::string fits, residuals, report;
};
FitDataNames ProposedFitDataNames();

// The save-file dialog, modal to the main window (no command reaches the window
// while it is open). Nothing when it is cancelled or no name was given.
std::optional<std::string> AskSaveFilePath(TXLAWindow& window, const FileDialogOptions& options);
// The folder chosen in the platform's folder dialog; nothing on Cancel.
std::optional<std::string> AskFolderPath(TXLAWindow& window, const FileDialogOptions& options);
// One of a set of exclusive menu options, as the preference file numbers them
// (value 1 for the first): its switch on and the others off with their check marks;
// then "save as default" is offered under "SET PREFERENCE" and the value written to
// the preference line on Yes.
struct ExclusiveOption {
  bool* flag;
  int command;
};
void ChooseExclusiveOption(TXLAWindow& window, const ExclusiveOption* options, int count,
                           int value, const std::string& question, int preferenceLine);

// The number prompt (prompts/number_prompt.h) with bModalBoxOpen set while it is
// open: the current value is shown, and the answer must lie within the quantity's
// range (asked again otherwise, with the reason); true with *value set on OK,
// false (value unchanged) on Cancel. A null caption shows the prompt's default
// caption.
bool AskFloat(TXLAWindow& window, float* value, float current, const char* prompt,
              const char* caption, const Quantity& quantity);
// "lower integration limit" and "upper integration limit" in the unit of the
// distribution's grid (s, M, or the log10 grid values of light-scattering data),
// proposing the ends of the grid (0 and 10 without a distribution). False on Cancel.
bool AskIntegrationLimits(TXLAWindow& window, const char* caption, float* lo, float* hi);

// Lays out the data and residual plots for the panes that are shown: both in the
// split layout, one of them over the whole plot area, none when neither is shown.
void ApplyPaneLayout();
// Gives the data plot the ranges of the current zoom level (automatic ranges at
// level 0) and records its picture again. Nothing without a data plot.
void ApplyCurrentZoomToDataPlot();

}  // namespace tarmic
