#include "app/pane_painting.h"

#include <memory>

#include "app/marker_lines.h"
#include "app/markers.h"
#include "app/onplot_tools.h"
#include "app/paint.h"
#include "app/panes.h"
#include "app/xla_window.h"
#include "platform/dc.h"
#include "platform/metafile.h"
#include "plot/data_plots.h"
#include "plot/fit_pane_refresh.h"
#include "plot/picture_space.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"

namespace tarmic {

void InstallFitPanePainters(TXLAWindow& window) {
  TXLAWindow* w = &window;
  FitPanePainters painters;
  painters.drawDataPane = [w](Window&) { w->DrawDataPane(); };
  painters.drawResidualPane = [w](Window&) { w->DrawResidualPane(); };
  painters.drawDistributionPane = [w](Window&) { w->DrawDistributionPane(); };
  SetFitPanePainters(std::move(painters));
}

namespace {

// A device context on the client area with the screen mapping; null when the
// client area has no size.
std::unique_ptr<DC> PaneDC(Window& window) {
  const Size client = window.ClientSize();
  if (client.cx <= 0 || client.cy <= 0) return nullptr;
  std::unique_ptr<DC> dc = window.ClientDC();
  SetScreenMapping(*dc, client);
  return dc;
}

void PlayPicture(DC& dc, const MetaFile* picture) {
  if (picture) picture->Play(dc);
}

void PlayOwned(DC& dc, const std::unique_ptr<MetaFile>& picture) {
  if (picture) picture->Play(dc);
}

}  // namespace

void TXLAWindow::DrawResidualPane() {
  if (!DataPlots().pResidualsPlot) return;
  std::unique_ptr<DC> dc = PaneDC(GetHandle());
  if (!dc) return;
  PlayPicture(*dc, GetResidualPlotMetafile());
  dc.reset();
  GetHandle().Refresh();
}

void TXLAWindow::DrawDataPane() {
  if (!DataPlots().bShowData || !DataPlots().pDataPlot) return;
  std::unique_ptr<DC> dc = PaneDC(GetHandle());
  if (!dc) return;
  PlayPicture(*dc, GetDataPlotMetafile());

  if (DataSet().fMeniscus != 0 && !bPickMeniscusBottom) {
    DrawMarkerLine(*dc, RadiusToPixelColumn(DataSet().fMeniscus), crMeniscusMarker, 1);
    if (RefMeniscusShown() && !bPickRefMeniscus)
      DrawMarkerLine(*dc, RadiusToPixelColumn(MarkerRadius(Marker::RefMeniscus)),
                     crRefMeniscusMarker, 1);
  }
  if (DataSet().fBottom != 0) DrawMarkerLine(*dc, RadiusToPixelColumn(DataSet().fBottom), crBottomMarker, 1);
  if (FitLeftLimitSet() && !bPickFitLimit)
    DrawMarkerLine(*dc, RadiusToPixelColumn(DataSet().fFitLeftLim), crFitLimitMarker, 1);
  if (FitRightLimitSet())
    DrawMarkerLine(*dc, RadiusToPixelColumn(DataSet().fFitRightLim), crFitLimitMarker, 1);
  // The pane was just drawn anew: the old cursor line is gone already.
  if (bCursorActive) DrawCursorLine(*dc, RadiusToPixelColumn(fCursorValue), false, 1);

  // The fitted curves, the noise profile and the initial profile, as the full paint
  // draws them.
  for (const std::unique_ptr<MetaFile>& overlay : DataPaneOverlays()) PlayOwned(*dc, overlay);
  dc.reset();
  GetHandle().Refresh();
}

void TXLAWindow::DrawDistributionPane() {
  // The distribution plot belongs to the continuous-distribution engine, which
  // hands its picture over through the shell hooks.
  const MetaFile* picture = DistributionPanePicture();
  if (!picture) return;
  std::unique_ptr<DC> dc = PaneDC(GetHandle());
  if (!dc) return;
  picture->Play(*dc);
  dc.reset();
  GetHandle().Refresh();
}

void TXLAWindow::DrawDataPaneMarkers() {
  if (!DataPlots().pDataPlot) return;
  if (FitRightLimitSet()) DrawMarkerLine(RadiusToPixelColumn(DataSet().fFitRightLim), crFitLimitMarker, 1);
  if (FitLeftLimitSet()) DrawMarkerLine(RadiusToPixelColumn(DataSet().fFitLeftLim), crFitLimitMarker, 1);
  if (DataSet().fMeniscus != 0) DrawMarkerLine(RadiusToPixelColumn(DataSet().fMeniscus), crMeniscusMarker, 1);
  if (DataSet().fBottom != 0) DrawMarkerLine(RadiusToPixelColumn(DataSet().fBottom), crBottomMarker, 1);
  for (float r : {DataSet().fMinMeniscus, DataSet().fMaxMeniscus, DataSet().fMinBottom, DataSet().fMaxBottom}) {
    if (r != 0)
      DrawDashedMarkerLine(RadiusToPixelColumn(r), crRangeMarker, nRangeMarkerDashes, 1);
  }
}

}  // namespace tarmic
