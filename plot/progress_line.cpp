// The progress line: a four-pixel track with a growing coloured part.
#include "plot/progress_line.h"

#include <algorithm>
#include <memory>

#include "platform/backend.h"
#include "platform/dc.h"

namespace tarmic {

void CProgressLine::Show(Window& window, int x, int y) {
  nLeft = x;
  nRight = x + nLength;
  nTop = y;
  nBottom = y + nHeight;
  SaveBackground(window);
}

bool CProgressLine::DrawInto(float value, DC& dc) {
  if (value <= fValue) return false;
  fValue = value;
  const int xp = static_cast<int>(nLeft + nLength * value / fMaximum);
  // The whole track is drawn again each time, then the grown part over it, on the
  // rows nTop, nTop + 1, nTop + 2 and nTop - 1.
  const int rows[4] = {nTop, nTop + 1, nTop + 2, nTop - 1};
  dc.SelectPen(hTrackPen);
  for (int row : rows) {
    dc.MoveTo(nLeft, row);
    dc.LineTo(nRight, row);
  }
  dc.SelectPen(hProgressPen);
  for (int row : rows) {
    dc.MoveTo(nLeft, row);
    dc.LineTo(xp, row);
  }
  return true;
}

void CProgressLine::Update(float value, Window& window) {
  if (value <= fValue) return;
  std::unique_ptr<DC> dc = window.ClientDC();
  DrawInto(value, *dc);
  window.Refresh();
}

void CProgressLine::UpdateDC(float value, DC& dc) { DrawInto(value, dc); }

void CProgressLine::Hide(Window& window) { RestoreBackground(window); }

void CProgressLine::SetBlueColor() {
  crProgress = RGB(0, 100, 255);
  hProgressPen = Pen{PenStyle::Solid, 0, crProgress};
}

void CProgressLine::SetPurpleColor() {
  crProgress = RGB(180, 0, 180);
  hProgressPen = Pen{PenStyle::Solid, 0, crProgress};
}

Rect CProgressLine::BackgroundRect() const {
  int xl = nLeft - 1, xr = nRight + 1;
  if (xr < xl) std::swap(xl, xr);
  const int y0 = std::min(nTop - nHeight, nBottom), y1 = std::max(nTop - nHeight, nBottom);
  return Rect{xl, y0, xr + 1, y1 + 1};
}

bool CProgressLine::SaveBackground(Window& window) {
  std::unique_ptr<DC> dc = window.ClientDC();
  hSavedBackground = dc->GetBitmap(BackgroundRect());
  return true;
}

bool CProgressLine::RestoreBackground(Window& window) {
  if (hSavedBackground.IsNull()) return true;
  const Rect r = BackgroundRect();
  std::unique_ptr<DC> dc = window.ClientDC();
  dc->PutBitmap(hSavedBackground, r.left, r.top);
  window.Refresh();
  return true;
}

}  // namespace tarmic
