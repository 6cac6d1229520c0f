// The size of text in the plots' pictures as the main window's size sets it: the
// smallest text height and the factor by which a text's width widens in a narrow
// window. Plots and the on-plot buttons both record their texts through these; the
// values live with the plots' picture recording (plot_redraw.cpp).
#pragma once

#include "platform/types.h"

namespace tarmic {

// The smallest height of text in the plots' pictures, picture units; 0 keeps the
// fonts' own heights. The main window sets it from its size (SetMinPlotTextHeight) so
// that text stays readable in a small window; each plot then records its texts at
// PlotTextHeight and keeps the room they need beyond the nominal heights inside its
// rectangle (the plot area shrinks, the texts stay in the plot's pane).
extern int nMinPlotTextHeight;
// The height a plot text of nominal height h is recorded with.
int PlotTextHeight(int h);
// Sets nMinPlotTextHeight; true when it changed (the pictures need recording anew).
bool SetMinPlotTextHeight(int units);

// Picture units across that one unit of a text's measured width takes on the screen.
// The pictures are stretched onto the client area across and down by different
// factors, and text is drawn at the height the vertical stretch gives it, so in a
// client area narrower than the picture space (1400 : 1000) a text spans more
// picture units across than its width measured at its height. The layout was made
// for that aspect and keeps its room in wider windows, where text is narrower than
// measured: the factor is never below 1. The main window sets it from its size
// (SetPlotTextWidthFactor); widths of texts in the pictures (tick labels, axis titles
// beside the plot, button labels) are estimated through PlotTextWidth.
extern double fPlotTextWidthFactor;
// The factor for a client area of the given size: the vertical over the horizontal
// stretch, at least 1 (1 for an empty area).
double PlotTextWidthFactorFor(Size client);
// Sets fPlotTextWidthFactor; true when it changed (the pictures need recording anew).
bool SetPlotTextWidthFactor(double factor);
// The picture units across that a text of the given width (measured at its height,
// or estimated from its height) takes, rounded up.
int PlotTextWidth(double width);

}  // namespace tarmic
