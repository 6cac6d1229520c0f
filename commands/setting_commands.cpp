// Settings of the analyses chosen from the menus and kept in the preference file:
// the regularisation of the distributions, the help-wizard messages, the refresh of the panes during fits, and the diagnostics log.
// Exclusive choices check their own item and uncheck the others.
#include "app/diagnostics_log.h"
#include "app/preferences.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "plot/data_plots.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {


// Values of the preference lines of the exclusive choices.
constexpr int kRegMaxEntValue = 1;
constexpr int kRegSecondDerivativeValue = 2;
constexpr int kRegShowBothValue = 3;

constexpr const char* kSetPreference = "SET PREFERENCE";
constexpr const char* kUpdateDuringFit = "UPDATE DURING FIT";

void ChooseRegularisation(TXLAWindow& window, int value) {
  const ExclusiveOption options[] = {{&bRegMaxEnt, kCmRegMaxEnt},
                                     {&bRegSecondDerivative, kCmRegSecondDerivative},
                                     {&bRegShowBoth, kCmRegShowBoth}};
  ChooseExclusiveOption(window, options, 3, value, "save new regularization as default setting?",
                        kPrefRegularisation);
}

}  // namespace

void TXLAWindow::CmRegSecondDerivative() {
  if (OfferHelpInHelpMode(*this)) return;
  ChooseRegularisation(*this, kRegSecondDerivativeValue);
}

void TXLAWindow::CmRegMaxEnt() {
  if (OfferHelpInHelpMode(*this)) return;
  ChooseRegularisation(*this, kRegMaxEntValue);
}

void TXLAWindow::CmRegShowBoth() {
  if (OfferHelpInHelpMode(*this)) return;
  ChooseRegularisation(*this, kRegShowBothValue);
}

void TXLAWindow::CmWizardMessages() {
  if (OfferHelpInHelpMode(*this)) return;
  bWizardMessages = !bWizardMessages;
  GetHandle().CheckMenuItem(kCmWizardMessages, bWizardMessages);
  if (ConfirmChange(*this, "save as default setting?", kSetPreference))
    SavePreference(this, kPrefWizardMessages, bWizardMessages ? 1 : 0);
}

void TXLAWindow::CmChangeFitUpdating() {
  if (OfferHelpInHelpMode(*this)) return;
  bUpdateDataPlotDuringFit = AskYesNo(*this, "data and fit plot?", kUpdateDuringFit);
  bUpdateResidualPlotDuringFit = AskYesNo(*this, "residuals plot?", kUpdateDuringFit);
  bUpdateResidualBitmapDuringFit = AskYesNo(*this, "residuals bitmap?", kUpdateDuringFit);
  bUpdateDistributionDuringFit = AskYesNo(*this, "distribution plot?", kUpdateDuringFit);
  float interval = 0.0f;
  // A refresh interval must be positive: the preference file reads others as 1 s.
  if (AskFloat(*this, &interval, fMaxUpdateInterval, "max updating interval (sec)", kUpdateDuringFit,
               {"max updating interval", "s", Closed(0.1, 3600.0)}) &&
      interval > 0.0f)
    fMaxUpdateInterval = interval;
  if (ConfirmChange(*this, "save as default setting?", kSetPreference)) WritePreferences(this);
}

void TXLAWindow::CmDiagnosticsToFiles() {
  if (OfferHelpInHelpMode(*this)) return;
  bDiagnosticsToFiles = !bDiagnosticsToFiles;
  GetHandle().CheckMenuItem(kCmDiagnosticsToFiles, bDiagnosticsToFiles);
}

}  // namespace tarmic
