// The dialog "Generate Prior Probability From Peaks" (template 776) of the command
// "Use Prior Probabilities": where the prior of the regularisation comes from (a
// two-column prior file, up to ten Gaussian or delta peaks typed in, or the peaks
// of the current distribution) and whether it is used. The dialog shows the prior
// settings of distribution_prior.h, and after OK with valid entries applies the
// answer to them; the next Run builds the prior of its grid from them.
//
// The main window owns the transfer record, so that the texts survive between
// runs of the dialog; the command member handles help mode and calls
// RunPriorParamsBox.
#pragma once

#include <functional>
#include <string>

#include "platform/resource_types.h"

namespace tarmic {

class Window;

// Empties the record: every text empty, every box off.
void InitPriorParamsTransfer(TransferBuffer& record);

// Writes the prior settings into the record: "Use Prior"; the file in use or the
// last one chosen ("no filename selected" when none ever was, "filename too long"
// from 999 characters on); "Load New Prior File" and "GJT file" off; the source of
// the prior in use (none without "Use Prior"); the peak rows with "%.3f ", shown
// from row 1 down to the first row without a peak (a row whose amplitude is not
// above 0 counts as empty, width -1), the rows below unticked with 0.
void FillPriorParamsTransfer(TransferBuffer& record);

// The entry check of the dialog: a ticked row's location, width and amplitude
// within their ranges (value_ranges.h: kPriorPeakLocation, kPriorPeakWidth with 0
// a delta peak, kPriorPeakAmplitude 0.01 to 100 or 0), the sentence naming the
// peak, the value and the range; in an unticked row every location and width a
// number, every amplitude a number not below 0; with the prior used, peaks as its source need peak #1 (location not 0,
// amplitude above 0), a file as its source needs a file chosen before or "Load New
// Prior File", and a "GJT file" import is not available. On a failure: the
// asterisk beep and the reason ("Input Error"); false keeps the dialog open.
bool PriorParamsBoxCanClose(const TransferBuffer& record);

// The command's own steps that the dialog starts.
struct PriorDialogServices {
  // "Select Peaks From Current Distribution": builds the prior of the current
  // distribution's peaks and runs the analysis with it (command 633); it says
  // itself why when it cannot.
  std::function<void()> selectPeaksFromDistribution;
};

// Runs the dialog until it is cancelled or closed with valid entries, then applies
// the answer. "Use Prior" off (and no source newly chosen) switches the prior off
// and the file in use with it. Otherwise the prior is used from the chosen source:
// peaks (the file switched off), the file chosen before, or a new file: the open
// dialog "Select Prior Probability Data File", whose file must be a valid prior
// file (ReadPriorFile). Cancel, a cancelled file choice or an unusable file change
// nothing (an unusable file is reported in the error box). Returns whether the
// settings were applied.
bool RunPriorParamsBox(Window* window, TransferBuffer& record, const PriorDialogServices& services,
                       bool* modalBoxOpen = nullptr);

}  // namespace tarmic
