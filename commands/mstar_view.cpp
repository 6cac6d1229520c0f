// The M* window's view state and the hand-over of the data plot (see the header).
#include "commands/mstar_view.h"

#include "app/xla_window.h"
#include "plot/data_plots.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"

namespace tarmic {

CWINPlot* pVIrezPlot = nullptr;
std::array<CWINPlot*, 4> pVIrezSubPlots = {nullptr, nullptr, nullptr, nullptr};
CWINPlot* pVIrezAltPlot = nullptr;
int nVIrezPaneTop = 0;
int nVIrezPaneBottom = 0;
bool bVIrezPerScan = false;
bool bVIrezDragMode1 = false;
bool bVIrezDragMode4 = false;
std::vector<CScreenButton*> pVIrezButtons;
int nVIrezButtons = 0;

namespace {

// What the view took over from the main window while it is open.
struct HandedOver {
  CWINPlot* dataPlot = nullptr;
  int plotAreaTop = 0;
  int dataPlotBottom = 0;
};
HandedOver gHandedOver;

void FreeViewPlots() {
  pVIrezPlot = nullptr;
  for (CWINPlot*& p : pVIrezSubPlots) {
    delete p;
    p = nullptr;
  }
  delete pVIrezAltPlot;
  pVIrezAltPlot = nullptr;
  bVIrezAltPlotShown = false;
  for (CScreenButton* b : pVIrezButtons) delete b;
  pVIrezButtons.clear();
  nVIrezButtons = 0;
}

// Puts the data plot and its rows back and frees the view.
void CloseView() {
  if (!bVIrezMode) return;
  if (DataPlots().pDataPlot == pVIrezPlot) {
    delete pVIrezPlot;
    DataPlots().pDataPlot = gHandedOver.dataPlot;
  } else {
    // The data plots were rebuilt while the view was open (a load): the rebuild
    // deleted the M* plot as the data plot, and the remembered data plot belongs to
    // nobody any more.
    if (gHandedOver.dataPlot != DataPlots().pDataPlot) delete gHandedOver.dataPlot;
  }
  DataPlots().nPlotAreaTop = gHandedOver.plotAreaTop;
  DataPlots().nDataPlotBottom = gHandedOver.dataPlotBottom;
  gHandedOver = HandedOver();
  FreeViewPlots();
  bVIrezMode = false;
  bVIrezDragMode1 = bVIrezDragMode4 = false;
}

void Replot(TXLAWindow& window) {
  if (pVIrezPlot) pVIrezPlot->Redraw();
  for (CWINPlot* p : pVIrezSubPlots)
    if (p) p->Redraw();
  window.RepaintMain();
}

}  // namespace

void StartVIrezTransformation(TXLAWindow& window, bool perScan) {
  if (bVIrezMode) return;
  gHandedOver = HandedOver{DataPlots().pDataPlot, DataPlots().nPlotAreaTop, DataPlots().nDataPlotBottom};
  nVIrezPaneTop = DataPlots().nPlotAreaTop;
  nVIrezPaneBottom = DataPlots().nDataPlotBottom;
  pVIrezPlot = new CWINPlot();
  pVIrezPlot->SetPlotRect(nVIrezPaneTop, DataPlots().nPlotAreaLeft, nVIrezPaneBottom, DataPlots().nPlotAreaRight);
  DataPlots().pDataPlot = pVIrezPlot;
  bVIrezPerScan = perScan;
  bVIrezMode = true;
  if (!perScan) window.InsertVIrezCopyMenuItems();
  Replot(window);
}

void PlotVIrezPerScan(TXLAWindow& window) {
  if (bVIrezMode && bVIrezPerScan) Replot(window);
}

void PlotVIrezGlobal(TXLAWindow& window) {
  if (bVIrezMode && !bVIrezPerScan) Replot(window);
}

void DoVIrezButton(TXLAWindow& window, int button) {
  if (!bVIrezMode) return;
  // The buttons' actions belong to the transformation; button 0 only replots.
  if (button != 0) return;
  if (bVIrezPerScan) {
    PlotVIrezPerScan(window);
  } else {
    PlotVIrezGlobal(window);
  }
}

void EndVIrezPerScan(TXLAWindow& window) {
  if (!bVIrezMode || !bVIrezPerScan) return;
  CloseView();
  window.RepaintMain();
}

void EndVIrezGlobal(TXLAWindow& window) {
  if (!bVIrezMode || bVIrezPerScan) return;
  CloseView();
  window.RemoveVIrezCopyMenuItems();
  window.RepaintMain();
}

bool EscapeMStarView(TXLAWindow& window) {
  if (!bVIrezMode) return false;
  if (bVIrezAltPlotShown && pVIrezAltPlot) return true;
  if (bVIrezDragMode1 || bVIrezDragMode4) window.GetHandle().SetCursor(CursorShape::Arrow);
  if (bVIrezPerScan) {
    EndVIrezPerScan(window);
  } else {
    EndVIrezGlobal(window);
  }
  return false;
}

void ResetMStarView() {
  CloseView();
  nVIrezPaneTop = nVIrezPaneBottom = 0;
  bVIrezPerScan = false;
}

}  // namespace tarmic
