// Settings of the analyses chosen from the menus and kept in the preference file:
// the regularisation of the distributions, the help-wizard messages, the refresh of the panes during fits, and the diagnostics log.
// Exclusive choices check their own item and uncheck the others.
#include "app/diagnostics_log.h"
#include "app/preferences.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "plot/data_plots.h"
#include "resources/command_ids.h"
#include "services/computation_events.h"

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
  ChooseRegularisation(*this, kRegSecondDerivativeValue);
}

void TXLAWindow::CmRegMaxEnt() {
  ChooseRegularisation(*this, kRegMaxEntValue);
}

void TXLAWindow::CmRegShowBoth() {
  ChooseRegularisation(*this, kRegShowBothValue);
}

void TXLAWindow::CmWizardMessages() {
  bWizardMessages = !bWizardMessages;
  GetHandle().CheckMenuItem(kCmWizardMessages, bWizardMessages);
  if (AskAs(QuestionId::SaveAsDefaultSetting, IDNO,
            [&] { return ConfirmChange(*this, "save as default setting?", kSetPreference); }))
    SavePreference(this, kPrefWizardMessages, bWizardMessages ? 1 : 0);
}

// Four yes/no questions, the interval and "save as default setting?". The answers
// take effect only once the chain is through: Esc at any step (a question closed
// without Yes or No, the interval cancelled) leaves every setting and the
// preference file as they were.
void TXLAWindow::CmChangeFitUpdating() {
  bool* const panes[] = {&DataPlots().bUpdateDataPlotDuringFit, &DataPlots().bUpdateResidualPlotDuringFit,
                         &DataPlots().bUpdateResidualBitmapDuringFit, &DataPlots().bUpdateDistributionDuringFit};
  const char* const questions[] = {"data and fit plot?", "residuals plot?", "residuals bitmap?",
                                   "distribution plot?"};
  bool answers[4] = {};
  for (int i = 0; i < 4; ++i) {
    // The current setting is the default answer: Enter keeps it, and the box shows
    // it on its default button.
    const int answer = CommandMessageBox(*this, questions[i], kUpdateDuringFit,
                                         MB_YESNO | MB_ICONQUESTION | (*panes[i] ? MB_DEFBUTTON1 : MB_DEFBUTTON2));
    if (answer != IDYES && answer != IDNO) return;
    answers[i] = answer == IDYES;
  }
  float interval = 0.0f;
  // A refresh interval must be positive: the preference file reads others as 1 s.
  if (!AskFloat(*this, &interval, DataPlots().fMaxUpdateInterval, "max updating interval (sec)", kUpdateDuringFit,
                {"max updating interval", "s", Closed(0.1, 3600.0)}))
    return;
  const int save = AskAs(QuestionId::SaveAsDefaultSetting, IDNO, [&] {
    return CommandMessageBox(*this, "save as default setting?", kSetPreference,
                             MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  });
  if (save != IDYES && save != IDNO) return;
  for (int i = 0; i < 4; ++i) *panes[i] = answers[i];
  if (interval > 0.0f) DataPlots().fMaxUpdateInterval = interval;
  if (save == IDYES) WritePreferences(this);
}

void TXLAWindow::CmDiagnosticsToFiles() {
  bDiagnosticsToFiles = !bDiagnosticsToFiles;
  GetHandle().CheckMenuItem(kCmDiagnosticsToFiles, bDiagnosticsToFiles);
}

}  // namespace tarmic
