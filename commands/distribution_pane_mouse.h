// The mouse on the distribution pane: a right-button band there zooms the
// distribution plot or, while a selection for integration is armed, selects the
// range to integrate (the band then spans the whole pane and the range is shaded
// as it is drawn); a right double-click returns the plot to full scale or, with
// Ctrl and an s-based model, labels the pointer with the molar mass of the s under
// it. The main window's right-button and mouse-move handlers reach these through
// the shell hooks; each returns true when it handled the event.
#pragma once

#include <string>

#include "platform/types.h"

namespace tarmic {

class TXLAWindow;

bool DistributionPaneRightPress(TXLAWindow& window, unsigned modKeys, const Point& point);
bool DistributionPaneMouseMove(TXLAWindow& window, const Point& point);
bool DistributionPaneRightRelease(TXLAWindow& window, const Point& point);
bool DistributionPaneRightDoubleClick(TXLAWindow& window, unsigned modKeys, const Point& point);
// Esc: the peak labels go and an armed selection is cancelled.
void DistributionPaneEscape(TXLAWindow& window);
// The left press on the integrate button: it toggles and acts; true when hit.
bool PressIntegrateButton(TXLAWindow& window, float bx, float by);
// Whether button coordinates lie on the integrate button (nothing toggles).
bool OverIntegrateButton(float bx, float by);

// Whether the active model is one of the s-based continuous models whose s gives a
// molar mass.
bool SBasedContinuousModel();
// "|Mf=... (>...) <unit>": the molar mass and, as its lower bound, that of a compact
// sphere, scaled alike.
std::string MolarMassReadoutText(float M, float mMin);

}  // namespace tarmic
