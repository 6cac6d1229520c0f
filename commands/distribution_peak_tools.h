// Peak tools of the distribution pane: the peak finder that delimits a peak from
// one of its grid points and integrates it, the peak labels of "Show Peak Mw in
// c(s)" (Ctrl+M: up to ten small buttons over the peaks with the weight-average s
// or an estimated molar mass) and the "PEAK INFO" box of a clicked label.
//
// Labels live until the next paint, unless a peak information box keeps them for
// the paint after it.
#pragma once

#include <memory>
#include <string>

#include "distributions/distribution_peaks.h"

namespace tarmic {

class CScreenButton;
class DC;
class TXLAWindow;

// The peak table of the last labelling, entries 1..nPeakLabels.
extern int nPeakLabels;
extern std::unique_ptr<CScreenButton> pPeakLabels[kMaxPeakLabels + 1];
extern float afPeakX[kMaxPeakLabels + 1];         // peak x, then its weight-average x
extern float afPeakArea[kMaxPeakLabels + 1];      // peak height, then its area
extern float afPeakFraction[kMaxPeakLabels + 1];  // fraction of the total (0..1)
extern int anPeakIndex[kMaxPeakLabels + 1];       // grid index of the peak
// A peak information box is open: the labels survive repaints.
extern bool bPeakLabelsKept;
// The labels survive the next repaint (after a peak information box).
extern bool bPeakLabelsNew;

// Whether the peaks of the active model are labelled with their s instead of a
// molar mass.
bool PeaksLabelledByS();
// The molar mass (g/mol) of a species of sedimentation coefficient s (S) by the
// hydrodynamic relation of the active c(s) variant.
float PeakMolarMass(float s);
// "Mf~..." with the unit that suits M.
std::string MolarMassLabelText(float M);

// The text of the label of a peak of DistributionPeakList (a labelled one): its
// weight-average s ("sw = ... S") or the molar mass it stands for.
std::string PeakLabelText(const DistributionPeak& peak);
// The label of a peak as the pane shows it: a button with text above the peak's
// top, its picture recorded; null without a distribution plot.
std::unique_ptr<CScreenButton> MakePeakLabel(const DistributionPeak& peak, const std::string& text);

// The distribution pane is on the screen: shown (DistributionPaneShown) and not
// covered by another picture of the whole window (the temperature plot, shown once
// or traced, the equilibrium test view, the VIrez view). What is drawn over the
// pane straight onto the screen is drawn only then.
bool DistributionPaneOnScreen();

// Labels the peaks of the distribution on show. Over the temperature plot shown
// once (a key brings the normal view back) the labels wait for that view's paint;
// under any other cover, or without the pane, there are none.
void ShowPeakMwLabels(TXLAWindow& window);
void RemovePeakLabels(TXLAWindow& window);
// The same, with the backgrounds put back through paintDC (a paint's device context
// on the client area; the window is not shown), or as above when it is null.
void RemovePeakLabels(TXLAWindow& window, DC* paintDC);
// The box of label k (1-based): nothing for a missing label.
void ShowPeakInfo(TXLAWindow& window, int k);
// The text of that box for a peak at weight-average s with area c and fraction of
// the total (0..1).
std::string PeakInfoText(float s, float c, float fraction);

// A press at button coordinates on a label shows its box; true then.
bool PressPeakLabel(TXLAWindow& window, float bx, float by);
// Paint: the labels go unless kept, through the paint's device context when it
// draws on the screen (screenDC, null when printing); the kept ones are played.
void RemovePeakLabelsBeforePaint(DC* screenDC);
void PaintPeakLabels(DC& dc);

// Forgets every label (tests).
void ResetPeakTools();

}  // namespace tarmic
