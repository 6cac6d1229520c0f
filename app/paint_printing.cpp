// The printing path of Paint: the data and residual pictures in black, the fitted
// curves in their colours and again in black over them, the noise and initial
// profiles, the marker lines, and on request the last best-fit information.
//
// The printout has mapped the client area onto the page with its aspect ratio kept
// (logical units are client pixels). Everything printed here uses that one mapping:
// the pictures are stretched into the page rectangle that the client area
// occupies, and the marker lines are drawn at their client columns, so pictures and
// lines stay together whatever the printer's resolution.
#include <memory>
#include <vector>

#include "app/marker_lines.h"
#include "app/markers.h"
#include "app/onplot_tools.h"
#include "app/paint.h"
#include "app/panes.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "platform/dc.h"
#include "platform/metafile.h"
#include "plot/data_plots.h"
#include "plot/picture_space.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"

namespace tarmic {

namespace {

// Records the plot's picture with the first `count` curves in black and returns a
// copy; the plot's colours and its own picture are restored afterwards.
std::unique_ptr<MetaFile> BlackPicture(CWINPlot* plot, int count) {
  if (!plot) return nullptr;
  std::vector<Color> colours;
  for (int i = 0; i < count; ++i) {
    colours.push_back(plot->GetCurveColor(i));
    plot->SetCurveColor(i, kBlack);
  }
  plot->Redraw();
  std::unique_ptr<MetaFile> black =
      plot->hPicture ? std::make_unique<MetaFile>(*plot->hPicture) : nullptr;
  for (int i = 0; i < count; ++i) plot->SetCurveColor(i, colours[static_cast<std::size_t>(i)]);
  plot->Redraw();
  return black;
}

}  // namespace

void TXLAWindow::PaintPrintedPage(DC& dc) {
  dc.SaveDC();

  // The page rectangle of the client area as it was at the last screen paint,
  // which the marker columns are computed for.
  Size client{static_cast<int>(fClientWidth), static_cast<int>(fClientHeight)};
  if (client.cx <= 0 || client.cy <= 0) client = GetHandle().ClientSize();
  const Point a = dc.LPtoDP(Point{0, 0});
  const Point b = dc.LPtoDP(Point{client.cx, client.cy});
  const Rect page = Rect{a.x, a.y, b.x, b.y}.Normalized();
  auto play = [&](const MetaFile* picture) {
    if (picture) picture->PlayInto(dc, page, kPictureExtent);
  };
  auto playOwned = [&](const std::unique_ptr<MetaFile>& picture) { play(picture.get()); };

  const int count = DataSet().nScans;
  const std::unique_ptr<MetaFile> dataBlack = BlackPicture(DataPlots().pDataPlot, count);
  const std::unique_ptr<MetaFile> residualsBlack = BlackPicture(DataPlots().pResidualsPlot, count);

  if (DataPlots().bShowData) play(dataBlack.get());
  if (DataPlots().pDataPlot) {
    // Over the data: the fitted curves in their scans' colours, the noise profile and
    // the initial profile, as on the screen.
    if (DataPlots().bShowData)
      for (const std::unique_ptr<MetaFile>& overlay : DataPaneOverlays()) playOwned(overlay);
    if (DataPlots().bShowResiduals) play(residualsBlack.get());
    // The distribution of a continuous model in its pane.
    play(DistributionPanePicture());

    // Marker lines with the page's pen, at the client columns of the last paint.
    const int y1 = DisplayRowToPixel(*this, static_cast<float>(nDataPaneTop));
    const int y2 = DisplayRowToPixel(*this, static_cast<float>(nDataPaneBottom));
    auto line = [&](float radius) {
      const int c = RadiusToPixelColumn(radius);
      dc.MoveTo(c, y1);
      dc.LineTo(c, y2);
    };
    if (DataSet().fMeniscus != 0 && !bPickMeniscusBottom) {
      line(DataSet().fMeniscus);
      if (RefMeniscusShown() && !bPickRefMeniscus) line(MarkerRadius(Marker::RefMeniscus));
    }
    if (DataSet().fBottom != 0) line(DataSet().fBottom);
    if (FitLeftLimitSet() && !bPickFitLimit) line(DataSet().fFitLeftLim);
    if (FitRightLimitSet()) line(DataSet().fFitRightLim);

    // The fitted curves and the noise profile once more in black over the coloured
    // ones.
    if (DataPlots().bShowData) {
      for (const std::unique_ptr<MetaFile>& overlay : FittedCurveOverlays(kBlack)) playOwned(overlay);
      playOwned(NoiseProfileOverlay());
    }
  }

  // Every printed page offers the block of the last best-fit information.
  if (HasBackend() &&
      GetBackend().MessageBox("print with last best-fit information?", "Printing", MB_YESNO) ==
          IDYES &&
      GetShellHooks().drawBestFitInfo)
    GetShellHooks().drawBestFitInfo(*this, dc, 300, 100);

  dc.RestoreDC(-1);
}

}  // namespace tarmic
