// The conversions of client pixels of the main window into button units, plot
// units and the data values of a plot, which the mouse handlers and the on-plot
// tools share.
#pragma once

namespace tarmic {

class CWINPlot;
class TXLAWindow;

// Button units of a client point (the client rectangle holds 1000 x 1000).
float ButtonX(TXLAWindow& window, int x);
float ButtonY(TXLAWindow& window, int y);
// Plot units of a client column or row (0 for a client of no size).
int PlotUnitsX(const TXLAWindow& window, int x);
int PlotUnitsY(const TXLAWindow& window, int y);
// The data value under a client column or row of a plot (10 to the power on a
// logarithmic axis); 0 without the plot. DataXOfColumn and DataYOfRow read the
// data plot.
float PlotXOfColumn(const TXLAWindow& window, const CWINPlot* plot, int x);
float PlotYOfRow(const TXLAWindow& window, const CWINPlot* plot, int y);
float DataXOfColumn(const TXLAWindow& window, int x);
float DataYOfRow(const TXLAWindow& window, int y);

// The integer part of v; 0 for a value that is not finite.
int TruncToInt(double v);

}  // namespace tarmic
