// The main window's repaint routines and the commands of the options menus that
// change a setting and offer to store it in the preference file, the switch between
// the two menus, the screenshot copy, and the time-stamp check.
#include <algorithm>
#include <cmath>

#include "app/preferences.h"
#include "app/xla_window.h"
#include "numerics/number_input.h"
#include "prompts/number_prompt.h"
#include "services/answer_policy.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "numerics/value_ranges.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/scan_loading.h"
#include "scandata/time_stamps.h"
#include "resources/command_ids.h"
#include "services/computation_events.h"

namespace tarmic {

namespace {

constexpr const char* kSetPreference = "SET PREFERENCE";

// A yes/no question; the box is bracketed by bModalBoxOpen so that Paint waits.
// defaultButton MB_DEFBUTTON2 makes No the answer of Enter.
bool Ask(TXLAWindow& window, const char* text, const char* caption,
         unsigned defaultButton = MB_DEFBUTTON1) {
  window.bModalBoxOpen = true;
  const int answer =
      GetBackend().MessageBox(text, caption, MB_YESNO | MB_ICONQUESTION | defaultButton);
  window.bModalBoxOpen = false;
  return answer == IDYES;
}

// Asks for a number within the quantity's range, with the current value shown;
// false on Cancel.
bool AskNumber(TXLAWindow& window, float* value, float current, const char* prompt,
               const char* caption, const Quantity& quantity) {
  window.bModalBoxOpen = true;
  const bool ok = InputFloat(value, current, true, prompt, caption, quantity);
  window.bModalBoxOpen = false;
  return ok;
}

// "save as default setting?": on yes, stores value at the line of the file.
void OfferToSave(TXLAWindow& window, int line, int value) {
  if (AskAs(QuestionId::SaveAsDefaultSetting, IDNO,
            [&] { return Ask(window, "save as default setting?", kSetPreference, MB_DEFBUTTON2); })) {
    SavePreference(&window, line, value);
  }
}

// A thread count typed by the user (1 to 256): rounded down.
int TypedThreadCount(float value) { return static_cast<int>(std::floor(value)); }

}  // namespace

void TXLAWindow::RepaintMain() {
  if (bBatchMode) return;
  GetHandle().Invalidate();
}

void TXLAWindow::RedrawPlots() {
  if (bBatchMode) return;
  DrawDataPane();
  DrawDataPaneMarkers();
  GetHandle().Refresh();
}

void TXLAWindow::CmOldFilenameConvention() {
  AnalysisSwitches().bOldFilenameConvention = !AnalysisSwitches().bOldFilenameConvention;
  GetHandle().CheckMenuItem(kCmOldFilenameConvention, AnalysisSwitches().bOldFilenameConvention);
}

void TXLAWindow::CmFullCommandSet() {
  bFullCommandSet = !bFullCommandSet;
  // The menu changes at once; a choice that cannot be kept is reported and holds
  // for this session.
  SaveFullCommandSetChoice(this, bFullCommandSet);
  AttachCommandMenu();
}

void TXLAWindow::CmSound() {
  bPlaySounds = Ask(*this, "Play Sounds?", kSetPreference);
  GetHandle().CheckMenuItem(kCmSound, bPlaySounds);
  OfferToSave(*this, kPrefSounds, bPlaySounds ? 1 : 0);
  PlayOkSound();
}

void TXLAWindow::CmBeerSound() { PlayBeerSound(); }

void TXLAWindow::CmScanColorByTime() {
  DataPlots().bColorScansByTime = !DataPlots().bColorScansByTime;
  GetHandle().CheckMenuItem(kCmScanColorByTime, DataPlots().bColorScansByTime);
  OfferToSave(*this, kPrefScanColorByTime, DataPlots().bColorScansByTime ? 1 : 0);
  PlayOkSound();
  RebuildDataAndResidualPlots();
  RepaintMain();
}

void TXLAWindow::CmCopyScreenshot() {
  // The client area as it is on the screen; a clipboard that cannot take it
  // drops the copy silently.
  Window& w = GetHandle();
  const Size size = w.ClientSize();
  GetBackend().SetClipboardBitmap(w.Screen().Copy(Rect{0, 0, size.cx, size.cy}));
}

void TXLAWindow::CmMultipleThreads() {
  if (Ask(*this, "Use Multiple Threads?", kSetPreference)) {
    bMultiThreading = true;
    float value = 0.0f;
    if (AskNumber(*this, &value, static_cast<float>(nThreads), "number of threads",
                  kSetPreference, kThreadCount)) {
      nThreads = TypedThreadCount(value);
    } else {
      bMultiThreading = false;
    }
    if (AskNumber(*this, &value, static_cast<float>(LammThreadCount()),
                  "number of threads for Lamm equations", kSetPreference, kThreadCount)) {
      LammThreadCount() = TypedThreadCount(value);
    } else {
      LammThreadCount() = 1;
    }
  } else {
    nThreads = 1;
    LammThreadCount() = 1;
    bMultiThreading = false;
  }
  GetHandle().CheckMenuItem(kCmMultipleThreads, bMultiThreading);
  if (AskAs(QuestionId::SaveAsDefaultSetting, IDNO,
            [&] { return Ask(*this, "save as default setting?", kSetPreference, MB_DEFBUTTON2); })) {
    SavePreference(this, kPrefThreads, bMultiThreading ? nThreads : 0);
    SavePreference(this, kPrefLammThreads, LammThreadCount());
  }
  PlayOkSound();
}

void TXLAWindow::CmSuppressBaselineCorrelation() {
  bSuppressBaselineCorrelation =
      Ask(*this, "Suppress Baseline Correlation in Max Ent?", kSetPreference);
  GetHandle().CheckMenuItem(kCmSuppressBaselineCorrelation, bSuppressBaselineCorrelation);
  OfferToSave(*this, kPrefSuppressBaseline, bSuppressBaselineCorrelation ? 1 : 0);
  PlayOkSound();
}

void TXLAWindow::CmAlwaysLoadG2() {
  bAlwaysLoadG2 =
      Ask(*this, "calculate with DLS data as g(2)-1 intensity autocorrelation function?",
          kSetPreference);
  GetHandle().CheckMenuItem(kCmAlwaysLoadG2, bAlwaysLoadG2);
  OfferToSave(*this, kPrefAlwaysLoadG2, bAlwaysLoadG2 ? 1 : 0);
  PlayOkSound();
}

void TXLAWindow::CmCheckTimeStamps() {
  Window& w = GetHandle();
  if (DataSet().nScans > 1 && CheckTimeStamps(&w, FrontEndAnswers())) ReloadDataSelection(&w, FrontEndAnswers());
  if (Ask(*this, "Always Check Timestamps Automatically?", kSetPreference)) {
    TimeStamps().bCheckTimeStamps = true;
    SavePreference(this, kPrefCheckTimeStamps, 1);
    w.CheckMenuItem(kCmCheckTimeStamps, true);
    float value = 0.0f;
    if (AskNumber(*this, &value, static_cast<float>(TimeStamps().dTimeStampThreshold),
                  "threshold for correction factor", kSetPreference, kTimeStampThreshold)) {
      // Kept at the resolution of the preference file, so that the value in use
      // is the one the next start reads.
      const int encoded = EncodeTimeStampThreshold(value);
      TimeStamps().dTimeStampThreshold = DecodeTimeStampThreshold(encoded);
      SavePreference(this, kPrefTimeStampThreshold, encoded);
    }
  } else {
    TimeStamps().bCheckTimeStamps = false;
    SavePreference(this, kPrefCheckTimeStamps, 0);
    w.CheckMenuItem(kCmCheckTimeStamps, false);
  }
}

}  // namespace tarmic
