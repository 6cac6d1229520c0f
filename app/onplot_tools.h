// The tools drawn over the plots of the main window and the entry points through
// which the shell's mouse, keyboard and paint handlers reach them:
//   - the two noise buttons "remove TI and RI" and "restore TI noise", stacked at
//     the right end just above the data pane while time-invariant or
//     radial-invariant noise is part of the model;
//   - the scan-edit offer, the point-edit offer and the scan hover label
//     (onplot_scan_edit.h);
//   - the tools of the distribution pane (integrate button, range selection and
//     zoom, peak labels, molar-mass label), which the command library provides
//     through the shell hooks (shell_hooks.h).
// Button rectangles are in display units: 1400 across and 1000 down the client
// area; sizes derived from the client size use nClientWidth and nClientHeight of
// the last paint, so buttons keep the size they were made with.
#pragma once

#include <memory>

#include "app/tool_button_fill.h"
#include "platform/types.h"

namespace tarmic {

class CScreenButton;
class DC;
class MetaFile;
class TXLAWindow;
class Window;

// The noise buttons; null when absent.
extern std::unique_ptr<CScreenButton> pRemoveNoiseButton;
extern std::unique_ptr<CScreenButton> pRestoreTINoiseButton;

// Creates each noise button that is absent; with a window the plots are redrawn.
void CreateNoiseButtons(TXLAWindow* window);
// Deletes both; with a window the plots are redrawn.
void DeleteNoiseButtons(TXLAWindow* window);
// Makes the noise buttons that exist anew, sized for the current plot text height.
void RelayoutNoiseButtons();
// The actions of the two buttons: the noise removal of "Subtract All Systematic
// Noise From Raw Data" (while scans are loaded and radial-invariant noise is fitted)
// and of "Restore Original TI Noise to Data" (while time-invariant noise is
// fitted), through their commands.
void ClickRemoveNoiseButton(TXLAWindow& window);
void ClickRestoreTINoiseButton(TXLAWindow& window);

// --- entry points of the shell's handlers ---
// Left press at button coordinates: the peak labels and the buttons of the
// scan-edit offer. True when one was pressed; the press ends then.
bool PressOnPlotLabels(TXLAWindow& window, float bx, float by);
// Left press: a noise button flashes and acts; the integrate button toggles and
// acts. The press goes on afterwards whether or not one was hit.
void PressOnPlotButtons(TXLAWindow& window, float bx, float by);
// Whether button coordinates lie on a noise button or the integrate button.
bool OverOnPlotButton(float bx, float by);
// The scan readout of a left press found the point of the scan at display position
// `position` under (x, y), client pixels; 0 when it found none. An open scan-edit
// offer is cancelled; a hit offers the scan-edit buttons for that scan.
void AfterScanReadout(TXLAWindow& window, int x, int y, int position);
// Mouse move outside drags and bands: the hover label of the scan under the
// pointer.
void HoverOverScans(TXLAWindow& window, int x, int y);
// The right button and the mouse move over the distribution pane; each returns
// true when it handled the event.
bool RightPressOnPlotTools(TXLAWindow& window, unsigned modKeys, const Point& point);
bool MouseMoveOnPlotTools(TXLAWindow& window, const Point& point);
bool RightReleaseOnPlotTools(TXLAWindow& window, const Point& point);
bool RightDoubleClickOnPlotTools(TXLAWindow& window, unsigned modKeys, const Point& point);
// A character reached the window: any character cancels an open scan-edit offer.
void CharOnPlotTools(TXLAWindow& window);
// Esc: the peak labels go, an armed range selection of the distribution plot is
// cancelled.
void EscapeOnPlotTools(TXLAWindow& window);

// --- paint ---
// Before the paint draws: labels shown only until the next paint are removed, on
// screenDC (the paint's device context when it draws on the screen; null when it
// prints, and the labels then go from the screen at once).
void BeforePaintOnPlotTools(DC* screenDC);
// The distribution plot's picture for the distribution pane; null without one.
const MetaFile* DistributionPanePicture();
// The prior overlay of the distribution plot; null while no prior is used.
std::unique_ptr<MetaFile> DistributionPriorOverlay();
// Plays the pictures of the noise buttons, the distribution pane's buttons and the
// scan-edit tools into the paint context (which has the screen mapping).
void PaintOnPlotButtons(DC& dc);

// Removes every button of this file and of the scan-edit tools (tests).
void ResetOnPlotTools();

}  // namespace tarmic
