// The layout of the main window's panes and their screen mapping.
#include "app/panes.h"

#include "platform/dc.h"
#include "plot/picture_space.h"

namespace tarmic {

int nDataPaneTop = 50;
int nDataPaneBottom = 475;
int nResidualPaneTop = 550;
int nResidualPaneBottom = 950;

void SetScreenMapping(DC& dc, Size client) {
  dc.SetMapMode(MapMode::Anisotropic);
  dc.SetWindowOrg(0, 0);
  dc.SetViewportOrg(0, 0);
  dc.SetWindowExt(kPictureWidth, kPictureHeight);
  dc.SetViewportExt(client.cx, client.cy);
}

void ResetPaneLayout() {
  nDataPaneTop = 50;
  nDataPaneBottom = 475;
  nResidualPaneTop = 550;
  nResidualPaneBottom = 950;
}

}  // namespace tarmic
