// The state of the main window's paint that the input handlers and the on-plot
// tools read and set as well: the client size of the last screen paint and the
// flags that decide what the next paint draws. ResetPaintState (paint.h) sets it
// to its start values.
#pragma once

namespace tarmic {

// Integer copies of the client size kept by the last screen paint, pixels.
extern int nClientWidth;   // 1400 at start
extern int nClientHeight;  // 1000 at start
// The warranty text is drawn by the next paint (once per run).
extern bool bShowDisclaimerText;
// A paint without erase asked for one full erase-and-repaint and waits for it.
extern bool bForcedRepaint;
// An auxiliary plot (temperature or calibration plot) has been drawn over the
// window: the on-plot buttons are not drawn, and the input handlers repaint first.
// Cleared by every screen paint.
extern bool bTemperaturePlotShown;

// Set by the load commands while their file dialog is open: Paint draws nothing.
extern bool bFileDialogOpen;

// The next screen paint draws the fit-result text (once; the paint clears it).
extern bool bShowFitStatistics;

}  // namespace tarmic
