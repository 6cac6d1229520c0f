// Readouts and evolving profiles of a Lamm solution in the main window.
#include "lamm/lamm_window_display.h"

#include <memory>

#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/metafile.h"
#include "plot/data_plots.h"
#include "plot/picture_space.h"
#include "plot/winplot.h"

namespace tarmic {

void LammWindowDisplay::ShowText(int x, int y, const std::string& text) {
  std::unique_ptr<DC> dc = window_.ClientDC();
  if (!dc) return;
  dc->TextOut(ReadoutColumn(x, window_.ClientSize()), y, text);
  dc.reset();
  window_.Refresh();
}

std::uint32_t EvolvingProfileColor(int equation) {
  switch (equation) {
    case 1: return RGB(150, 0, 150);
    case 2: return RGB(0, 255, 0);
    case 3: return RGB(0, 0, 255);
    case 4: return RGB(0, 150, 150);
    default: return RGB(0, 0, 0);
  }
}

void LammWindowDisplay::DrawProfile(const double* r, const double* c, int n, std::uint32_t color) {
  auto& dataPlotsPart = DataPlots();
  if (!dataPlotsPart.pDataPlot || !r || !c || n < 2) return;
  const std::unique_ptr<MetaFile> overlay =
      dataPlotsPart.pDataPlot->DrawArraysDouble(r, c, n, static_cast<Color>(color), -1, 1);
  if (overlay) PlayOverlay(*overlay);
}

void LammWindowDisplay::PlayOverlay(const MetaFile& overlay) {
  std::unique_ptr<DC> dc = window_.ClientDC();
  if (!dc) return;
  const Size client = window_.ClientSize();
  dc->SetMapMode(MapMode::Anisotropic);
  dc->SetWindowOrg(0, 0);
  dc->SetViewportOrg(0, 0);
  dc->SetWindowExt(kPictureWidth, kPictureHeight);
  dc->SetViewportExt(client.cx, client.cy);
  overlay.Play(*dc);
  dc.reset();
  window_.Refresh();
}

}  // namespace tarmic
