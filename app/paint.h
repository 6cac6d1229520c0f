// The composition of the main window's client area (TXLAWindow::Paint, paint.cpp)
// and its printing path (paint_printing.cpp): the pictures of the plots of the
// current view, the radial marker lines, the cursor line, the fitted curves and
// other overlays, and the pictures of the on-plot buttons.
//
// Painting changes nothing but the screen (and the client size it keeps): no
// residuals are recomputed, no plot is rescaled, no file is written.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "app/paint_state.h"
#include "platform/metafile.h"

namespace tarmic {

// The paint state the input handlers read too (client size, the flags of the
// paint) is paint_state.h; this resets it with what the last paint showed.
void ResetPaintState();

// The pictures the data pane draws over the data plot's own picture, in the order
// it draws them: the fitted curve of every scan (in its scan's colour) after a model
// was computed, the time-invariant noise profile while it is fitted, and the
// initial-distribution profile while the model starts from it. Entries may be null.
std::vector<std::unique_ptr<MetaFile>> DataPaneOverlays();
// The fitted curve of every scan in display order, each in its scan's colour or all
// in `colour`; none before a model was computed. With a stride n above 1, of every
// n-th scan (and the last) only.
std::vector<std::unique_ptr<MetaFile>> FittedCurveOverlays(std::optional<Color> colour = {}, int stride = 1);
// The time-invariant noise profile in black while it is fitted; null otherwise.
std::unique_ptr<MetaFile> NoiseProfileOverlay();
// The initial-distribution profile (as the model uses it, with its extrapolated
// ends) over the data plot, a green line; null unless "Experimental Initial
// Distribution" is on and a profile is loaded.
inline constexpr Color kInitialProfileColor = RGB(0, 255, 0);
std::unique_ptr<MetaFile> InitialProfileOverlay();
// What the data pane shows, as one picture in the plot's picture space: the data
// plot's picture and its overlays. Null without a data plot picture.
std::unique_ptr<MetaFile> DataPanePicture();

class TXLAWindow;
// Whether the last screen paint showed a computed result (fit curves, residuals,
// the residual bitmap, a distribution) whose claim has ended since: the data, the
// model or a value it was computed for changed.
bool PaintedResultEnded();
// Whether the last screen paint showed other realtime status lines than the update
// has now (the update stopped, or its status changed since).
bool PaintedBannerEnded();
// The one place where the end of a result's claim reaches the screen: when the last
// paint showed a result whose claim has ended, or realtime status lines that no
// longer hold, the window is painted again (Paint
// decides from the claim what it shows). With now, at once (before a box or dialog
// opens, see SetBeforeModal); otherwise by a paint request.
void RepaintWhatAnEndedResultShowed(TXLAWindow& window, bool now);
// The other half: a result painted away because its claim ended (a dialog's
// opening changed a value it puts back when cancelled) whose claim holds again is
// painted back, so that Cancel leaves the window as it was. Called as each handler
// of the window ends; nothing while a computation or a box keeps the picture.
void RepaintAResultThatHoldsAgain(TXLAWindow& window);

// Paints the client area as a paint request of the window system does: Paint with
// erase on the back-buffer, then shows it.
void PaintWindow(TXLAWindow& window);

// Resets every global of painting and interaction: paint state, pane layout,
// marker lines, markers, the marker question, mouse state and zoom history.
void ResetPaintingAndInteraction();

}  // namespace tarmic
