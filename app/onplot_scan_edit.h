// Scan editing from the plot and the scan hover label.
//
// A left press on a data point (its readout) offers three buttons beside the
// pointer: "edit <file>?", "delete <file>?" and "cancel", and rings the point.
// "edit" offers two more: "delete point?" (the scan file is written without that
// point and the data are reloaded) and "-> notepad?" (the scan file is shown).
// Deleting a scan or a point reloads the data set from the stored file list, which
// invalidates every index kept here; all buttons are removed before the reload.
//
// While the pointer rests on a data point, a label with the scan's file name
// follows it (command 210 switches the label on and off).
//
// Positions are client pixels; button rectangles are converted to display units.
#pragma once

#include <memory>

#include "platform/types.h"

namespace tarmic {

class CScreenButton;
class DC;
class TXLAWindow;

// The buttons; null when absent.
extern std::unique_ptr<CScreenButton> pEditScanButton;
extern std::unique_ptr<CScreenButton> pDeleteScanButton;
extern std::unique_ptr<CScreenButton> pScanEditCancelButton;
extern std::unique_ptr<CScreenButton> pDeletePointButton;
extern std::unique_ptr<CScreenButton> pNotepadButton;
extern std::unique_ptr<CScreenButton> pScanHoverLabel;

// Display position (index into pScanOrder) of the scan offered for editing, 0 for
// none, and its picked point.
extern int nEditScanPosition;
extern int nEditPointIndex;
// Where the point-edit buttons go, and whether the scan-edit buttons were placed to
// the right of the pointer.
extern Point ptPointEditAnchor;
extern bool bPointEditToRight;
// Display position of the scan whose hover label is shown (0: none) and the
// pointer position of the label.
extern int nHoverScanPosition;
extern Point ptHoverLabel;

// The scan-edit offer for the scan at display position p beside (x, y); nothing
// for light-scattering data.
void ShowScanEditButtons(TXLAWindow& window, int x, int y, int p);
// Removes the scan-edit and point-edit buttons (the screen under them comes back).
void DeleteScanEditButtons(TXLAWindow& window);
// The scan-edit offer's buttons: 0 cancel, 1 edit, 2 delete the scan.
void ClickScanEditButton(TXLAWindow& window, int action);
// The point-edit offer at (x, y), to the right of x or to the left of it.
void ShowPointEditButtons(TXLAWindow& window, int x, int y, bool toRight);
void DeletePointEditButtons(TXLAWindow& window);
// The point-edit buttons: 1 delete the point, 2 show the scan file.
void ClickPointEditButton(TXLAWindow& window, int action);
// The hover label of the scan at display position p at (x, y).
void ShowScanHoverLabel(TXLAWindow& window, int p, int x, int y);
void DeleteScanHoverLabel(TXLAWindow& window);
// Removes the scan from the loaded set and reloads the others.
void DeleteScanAndReload(TXLAWindow& window, int scan);
// Writes the scan without the point (1-based) and reloads the data.
void DeletePointAndReload(TXLAWindow& window, int scan, int point);

// Whether the scan-edit offer is open.
bool ScanEditOfferOpen();
// A press at button coordinates on one of the offer's buttons runs it; true then.
bool PressScanEditButtons(TXLAWindow& window, float bx, float by);
// Plays the pictures of the offer's buttons and of the hover label.
void PaintScanEditButtons(DC& dc);

// Forgets every button and position (tests).
void ResetScanEditTools();

}  // namespace tarmic
