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
  dc->TextOut(x, y, text);
  dc.reset();
  window_.Refresh();
}

void LammWindowDisplay::DrawProfile(const double* r, const double* c, int n, std::uint32_t color) {
  if (!pDataPlot || !r || !c || n < 2) return;
  const std::unique_ptr<MetaFile> overlay =
      pDataPlot->DrawArraysDouble(r, c, n, static_cast<Color>(color), -1, 1);
  if (!overlay) return;
  std::unique_ptr<DC> dc = window_.ClientDC();
  if (!dc) return;
  const Size client = window_.ClientSize();
  dc->SetMapMode(MapMode::Anisotropic);
  dc->SetWindowOrg(0, 0);
  dc->SetViewportOrg(0, 0);
  dc->SetWindowExt(kPictureWidth, kPictureHeight);
  dc->SetViewportExt(client.cx, client.cy);
  overlay->Play(*dc);
  dc.reset();
  window_.Refresh();
}

}  // namespace tarmic
