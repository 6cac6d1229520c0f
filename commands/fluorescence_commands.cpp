// The fluorescence tools of the Options menu: the five detection corrections,
// each switched and set by questions and number inputs, the dialog "FloTools"
// that edits them all, and the sorting of fluorescence scans to disk.
#include <string>

#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/flo_tools_dialog.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/fluorescence_sorting.h"
#include "numerics/value_ranges.h"
#include "services/error_box.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {


// Data that are not fluorescence data: the user confirms that the tool is
// wanted.
bool ProceedWithData(TXLAWindow &w, const char *caption) {
  return ScanFile().bFluorescenceData ||
         AskYesNo(w, "this is intended for fluorescence data - proceed anyway?",
                  caption);
}

// A number input showing the value, asked until the number lies within the
// quantity's range (a refusal beeps and names the value and its range): true with
// *value set on OK, false (value unchanged) on Cancel.
bool AskValue(TXLAWindow &w, float *value, const char *prompt,
              const char *caption, const Quantity &quantity) {
  float entered = 0.0f;
  if (!AskFloat(w, &entered, *value, prompt, caption, quantity))
    return false;
  *value = entered;
  return true;
}

// The quantity of a parameter-file entry.
const Quantity &EntryQuantity(int entry) {
  return EntryOf(ParameterFileEntries(), entry).quantity;
}

// The exponent of the power law: within its entry's range and not 0 (its
// inverse takes 1/e).
Quantity ExponentQuantity() {
  Quantity q = EntryQuantity(157);
  q.range.zeroUnset = false;
  return q;
}

// The common course of the four radial and temporal corrections: the data
// question, the switch question, then (when switched on) the values. off()
// switches the option and its fit flag off. askValues() asks every value into
// its own copies and takes them all only when none was cancelled, returning
// whether it did: a cancelled input leaves the option and its values as they were.
template <class Off, class Ask>
void OptionCommand(TXLAWindow &w, const int (&ids)[2], const char *caption,
                   const char *question, bool &option, Off off, Ask askValues) {
  if (!ProceedWithData(w, caption) || !AskYesNo(w, question, caption)) {
    off();
    CheckOptionPair(&w.GetHandle(), ids, false);
    w.RepaintMain();
    return;
  }
  if (!askValues())
    return;
  option = true;
  CheckOptionPair(&w.GetHandle(), ids, true);
  w.RepaintMain();
}

} // namespace

void TXLAWindow::CmSignalRadialConvolution() {
  constexpr const char *kCaption = "Signal Radial Convolution";
  OptionCommand(
      *this, kCmRadialConvolutionIds, kCaption, "use radial convolution?",
      FluorescenceDetection().bRadialConvolution,
      [] { FluorescenceDetection().bRadialConvolution = FluorescenceDetection().bFitConvolutionWidth = false; },
      [this] {
        float width = FluorescenceDetection().fConvolutionWidth, factor = FluorescenceDetection().fConvolutionDistFactor;
        if (!AskValue(*this, &width, "characteristic width (cm)", kCaption,
                      EntryQuantity(164)))
          return false;
        const bool fit =
            AskYesNo(*this, "fit characteristic convolution width?", kCaption);
        if (!AskValue(*this, &factor, "consider dist factor", kCaption,
                      EntryQuantity(170)))
          return false;
        FluorescenceDetection().fConvolutionWidth = width;
        FluorescenceDetection().bFitConvolutionWidth = fit;
        FluorescenceDetection().fConvolutionDistFactor = factor;
        return true;
      });
}

void TXLAWindow::CmExcitationShadow() {
  constexpr const char *kCaption = "Signal Excitation Shadow";
  OptionCommand(
      *this, kCmExcitationShadowIds, kCaption,
      "account for excitation shadow at bottom of cell??", FluorescenceDetection().bExcitationShadow,
      [] { FluorescenceDetection().bExcitationShadow = FluorescenceDetection().bFitConeRadius = false; },
      [this] {
        float radius = FluorescenceDetection().fConeRadius;
        if (!AskValue(*this, &radius, "cone radius (cm)", kCaption,
                      EntryQuantity(167)))
          return false;
        FluorescenceDetection().fConeRadius = radius;
        FluorescenceDetection().bFitConeRadius = AskYesNo(*this, "fit cone radius?", kCaption);
        return true;
      });
}

void TXLAWindow::CmSignalMagnificationDrift() {
  constexpr const char *kCaption = "Signal Amplitude Change With Time";
  OptionCommand(
      *this, kCmMagnificationDriftIds, kCaption,
      "use temporal magnification drift?", FluorescenceDetection().bMagnificationDrift,
      [] { FluorescenceDetection().bMagnificationDrift = FluorescenceDetection().bFitMagnificationDrift = false; },
      [this] {
        float drift = FluorescenceDetection().fMagnificationDrift;
        if (!AskValue(*this, &drift, "(dc/dt) [%%/h]", kCaption,
                      EntryQuantity(161)))
          return false;
        FluorescenceDetection().fMagnificationDrift = drift;
        FluorescenceDetection().bExponentialDrift = AskYesNo(*this, "drift exponential?", kCaption);
        FluorescenceDetection().bFitMagnificationDrift =
            AskYesNo(*this, "fit temporal magnification drift?", kCaption);
        return true;
      });
}

void TXLAWindow::CmSignalMagnificationGradient() {
  constexpr const char *kCaption = "Signal Amplitude Change With Radius";
  OptionCommand(
      *this, kCmMagnificationGradientIds, kCaption,
      "use radial magnification gradient?", FluorescenceDetection().bMagnificationGradient,
      [] { FluorescenceDetection().bMagnificationGradient = FluorescenceDetection().bFitMagnificationGradient = false; },
      [this] {
        float gradient = FluorescenceDetection().fMagnificationGradient;
        if (!AskValue(*this, &gradient, "1+da/dr", kCaption,
                      EntryQuantity(154)))
          return false;
        FluorescenceDetection().fMagnificationGradient = gradient;
        FluorescenceDetection().bFitMagnificationGradient =
            AskYesNo(*this, "fit radial magnification gradient?", kCaption);
        return true;
      });
}

// Switching on asks the power law and shows the chosen domain; switching off
// shows the recorded data again.
void TXLAWindow::CmNonlinearDetection() {
  constexpr const char *kCaption = "Nonlinear Detection";
  OptionCommand(
      *this, kCmNonlinearDetectionIds, kCaption, "account for nonlinear detection",
      FluorescenceDetection().bNonlinearDetection, [] { SwitchOffNonlinearDetection(); },
      [this] {
        // An exponent that is not set (0) is no exponent of the law: the
        // proposal is 1, the detector's linear response.
        const Quantity exponent = ExponentQuantity();
        float power = QuantityRefusal(exponent, FluorescenceDetection().fPowerCoefficient).empty()
                          ? FluorescenceDetection().fPowerCoefficient
                          : 1.0f;
        float baseline = FluorescenceDetection().fPowerBaseline;
        if (!AskValue(*this, &power, "power coeff d(log(a))/dc", kCaption,
                      exponent))
          return false;
        const bool fit = AskYesNo(*this, "fit power coefficient?", kCaption);
        if (!AskValue(*this, &baseline, "baseline for power law", kCaption,
                      EntryQuantity(158)))
          return false;
        const bool show = AskYesNo(
            *this, "want to show transformed data (YES) or original (NO)?",
            kCaption);
        FluorescenceDetection().fPowerCoefficient = power;
        FluorescenceDetection().bFitPowerCoefficient = fit;
        FluorescenceDetection().fPowerBaseline = baseline;
        FluorescenceDetection().bShowTransformed = show;
        FluorescenceDetection().bNonlinearDetection = true;
        ApplyNonlinearDetection(FluorescenceDetection().fPowerCoefficient, FluorescenceDetection().fPowerBaseline,
                                FluorescenceDetection().bShowTransformed);
        return true;
      });
}

void TXLAWindow::CmFloTools() {
  if (!ProceedWithData(*this, "FloTools"))
    return;
  RunFloToolsDialog(&GetHandle(), floToolsTransfer, &bModalBoxOpen);
  RepaintMain();
}

namespace {

// The failures of a sorting, each in the error box, in the order they were met.
void ShowSortErrors(const SortOutcome &outcome) {
  for (const std::string &error : outcome.errors)
    ShowError(error, false);
}

} // namespace

void TXLAWindow::CmSortFluorescenceData() {
  if (DataSet().nScans < 1 || !ScanFile().bFluorescenceData) {
    CommandMessageBox(*this, "please load data", "Sort Fluorescence AUC data",
                      MB_OK);
    return;
  }
  constexpr const char *kCaption = "SORT FLUORESCENCE AUC DATA";
  if (!ConfirmChange(*this, "sort all data in this folder?", kCaption)) {
    ShowSortErrors(SortLoadedFluorescenceFiles(&GetHandle()));
    PlayOkSound();
    return;
  }
  FolderSortOptions o;
  float tmin = 0.0f, tmax = 0.0f, target = 100.0f, cell = 4.0f;
  o.makeLists = ConfirmChange(*this, "make list files?", kCaption);
  if (o.makeLists) {
    AskValue(*this, &tmin, "t min [sec]", kCaption, NamedAs("t min", kRunTime));
    AskValue(*this, &tmax, "t max [sec]", kCaption,
             {"t max", "s", Closed(tmin, kMaxRunTime)});
    AskValue(*this, &target, "target # of scans", kCaption,
             {"target number of scans", "", Count(1.0, 1000.0)});
    AskValue(*this, &cell, "exclude fluorescence reference in cell#", kCaption,
             {"reference cell", "", Count(0.0, 99.0)});
  }
  o.excludeLow = AskYesNo(
      *this,
      "exclude files with signal below thresold in [rmin rmax] interval?",
      kCaption);
  o.rmin = 6.5f;
  o.rmax = 7.0f;
  o.minSignal = 0.0f;
  o.maxNoise = 100.0f;
  if (o.excludeLow) {
    AskValue(*this, &o.rmin, "r min [cm]", kCaption, NamedAs("r min", kRotorRadius));
    AskValue(*this, &o.rmax, "r max [cm]", kCaption,
             {"r max", "cm", Closed(o.rmin, kMaxCellRadius)});
    AskValue(*this, &o.minSignal, "minimal signal", kCaption,
             {"minimal signal", "", Closed(-kMaxSignal, kMaxSignal)});
    AskValue(*this, &o.maxNoise, "maximal noise", kCaption,
             {"maximal noise", "", Closed(0.0, kMaxSignal)});
  }
  o.tmin = tmin;
  o.tmax = tmax;
  o.target = TruncateToInt(target);
  o.excludedCell = TruncateToInt(cell);
  ShowSortErrors(SortFluorescenceFolder(&GetHandle(), o));
  PlayOkSound();
}

} // namespace tarmic
