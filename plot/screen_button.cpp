// Screen buttons: recording, replay, hit test, saved background and rings.
#include "plot/screen_button.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/backend.h"
#include "platform/raster_dc.h"
#include "plot/picture_space.h"
#include "plot/plot_text_size.h"

namespace tarmic {

Font hButtonFont{16, 400, 0, FontFamily::SansSerif};
Font hButtonBoldFont{16, 900, 0, FontFamily::SansSerif};

namespace {

// At most n characters of text, stopping at a terminating zero, so that a length
// larger than the text never reads past it.
std::string CopyLabel(const char* text, int n, int capacity) {
  if (!text || n < 1) return std::string();
  std::size_t limit = static_cast<std::size_t>(std::min(n, capacity - 1));
  const void* end = std::memchr(text, '\0', limit);
  std::size_t len = end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : limit;
  return std::string(text, len);
}

Pen SolidPen(Color c) { return Pen{PenStyle::Solid, 0, c}; }

// The button font of a label, at its plot text height.
Font LabelFont(bool bold) {
  Font f = bold ? hButtonBoldFont : hButtonFont;
  f.height = PlotTextHeight(f.height);
  return f;
}

}  // namespace

CScreenButton::CScreenButton() = default;

void CScreenButton::SetRect(float top, float left, float bottom, float right) {
  nTop = static_cast<int>(std::floor(top));
  nLeft = static_cast<int>(std::floor(left));
  nBottom = static_cast<int>(std::floor(bottom));
  nRight = static_cast<int>(std::floor(right));
}

void CScreenButton::SetLabels(const char* offText, int offLength, const char* onText,
                              int onLength) {
  szOffLabel = CopyLabel(offText, offLength, nLabelCapacity);
  szOnLabel = CopyLabel(onText, onLength, nLabelCapacity);
}

void CScreenButton::FitLabels() {
  if (nLeft > nRight || nTop > nBottom) return;
  // Room for the wider label with a margin of 4 units each side, and for the cell
  // with 2 units above and the text's bottom 1 unit above the lower edge; the label
  // spans its width measured at its height times the text width factor.
  const Font font = LabelFont(bBoldText);
  TextRenderer& text = DefaultTextRenderer();
  const int width = PlotTextWidth(std::max(text.Measure(font, font.height, szOffLabel).width,
                                           text.Measure(font, font.height, szOnLabel).width)) +
                    8;
  const int height = font.height + 3;
  if (nRight - nLeft < width) nLeft = nRight - width;
  if (nBottom - nTop < height) nTop = nBottom - height;
}

bool CScreenButton::Paint() {
  FitLabels();
  MetaFileDC dc;
  dc.SetWindowExt(kPictureWidth, kPictureHeight);
  const Brush oldBrush = dc.SelectBrush(NullBrush());
  const Pen oldPen = dc.SelectPen(BlackPen());
  dc.SelectPen(NullPen());

  const int left = nLeft, right = nRight, top = nTop, bottom = nBottom;

  // Fill without outline.
  const Color fill = bFramed ? kWhite : (bOn ? crOnFill : crOffFill);
  dc.SelectBrush(SolidBrush(fill));
  dc.Rectangle(left + 1, bottom + 1, right, top);

  if (bFramed) {
    // Double outline in the frame colour: the second one unit inside horizontally
    // and one unit outside vertically.
    dc.SelectPen(SolidPen(crOffFill));
    dc.MoveTo(right, top);
    dc.LineTo(right, bottom);
    dc.LineTo(left, bottom);
    dc.LineTo(left, top);
    dc.LineTo(right, top);
    dc.MoveTo(right - 1, top - 1);
    dc.LineTo(right - 1, bottom + 1);
    dc.LineTo(left + 1, bottom + 1);
    dc.LineTo(left + 1, top - 1);
    dc.LineTo(right - 1, top - 1);
  } else {
    // A raised edge lit from the top right.
    dc.SelectPen(SolidPen(crLight));
    dc.MoveTo(right, top);
    dc.LineTo(right, bottom);
    dc.MoveTo(right, top);
    dc.LineTo(left, top);
    dc.SelectPen(SolidPen(crDark));
    dc.MoveTo(left, bottom);
    dc.LineTo(right, bottom);
    dc.MoveTo(left, bottom);
    dc.LineTo(left, top);
    dc.SelectPen(SolidPen(crMid));
    dc.MoveTo(left + 1, bottom - 1);
    dc.LineTo(right - 1, bottom - 1);
    dc.MoveTo(left + 1, bottom - 1);
    dc.LineTo(left + 1, top + 1);
  }

  dc.SetBkColor(bFramed ? kWhite : crOffFill);
  dc.SetBkMode(BkMode::Transparent);
  dc.SetTextColor(crText);
  dc.SetTextAlign((bBaselineText || bRaisedText) ? (TA_CENTER | TA_BASELINE)
                                                 : (TA_CENTER | TA_BOTTOM));
  const Font oldFont = dc.SelectFont(LabelFont(bBoldText));

  const int d = bRaisedText ? -2 : 0;
  const int x = static_cast<int>(left + (right - left) * 0.5);
  const int y = static_cast<int>(bottom + d - 1.0);
  const Rect clip = Rect{left, top, right, bottom}.Normalized();
  dc.ExtTextOut(x, y, ETO_CLIPPED, &clip, CurrentLabel());

  dc.SelectPen(oldPen);
  dc.SelectBrush(oldBrush);
  dc.SelectFont(oldFont);
  std::unique_ptr<MetaFile> picture = dc.Close();
  if (!picture) return false;
  hPicture = std::move(picture);
  return true;
}

void CScreenButton::Show(Window& window) {
  if (!hPicture) return;
  std::unique_ptr<DC> dc = window.ClientDC();
  hPicture->PlayInto(*dc, window.ClientRect(), kPictureExtent);
  window.Refresh();
}

void CScreenButton::Toggle() {
  bOn = !bOn;
  Paint();
}

bool CScreenButton::HitTest(float x, float y) {
  const float xs = fHorzDisplayFactor * x;
  const float l = static_cast<float>(nLeft), r = static_cast<float>(nRight);
  const float t = static_cast<float>(nTop), b = static_cast<float>(nBottom);
  const bool insideX = (l < r && l <= xs && xs <= r) || (r < l && r <= xs && xs <= l);
  const bool insideY = (t < b && t <= y && y <= b) || (b < t && b <= y && y <= t);
  if (!(insideX && insideY)) return false;
  if (nType == 2) Toggle();
  return true;
}

Rect CScreenButton::BackgroundRect(Window& window) const {
  const Size client = window.ClientSize();
  const double w = client.cx, h = client.cy;
  int xl = static_cast<int>(std::floor(nLeft * w / kUnroundedPictureWidth)) - 2;
  int xr = static_cast<int>(std::floor(nRight * w / kUnroundedPictureWidth)) + 2;
  if (xl > xr) std::swap(xl, xr);
  int yb = static_cast<int>(std::floor(nBottom * h / fDisplayExtent)) + 2;
  int yt = static_cast<int>(std::floor(nTop * h / fDisplayExtent)) - 1;
  if (yb < yt) std::swap(yb, yt);
  return Rect{xl, yt, xr + 1, yb + 1};
}

bool CScreenButton::SaveBackground(Window& window) {
  SaveBackground(window, *window.ClientDC());
  return true;
}

void CScreenButton::SaveBackground(Window& window, DC& dc) {
  PixelDrawingScope pixels(dc);
  hSavedBackground = dc.GetBitmap(BackgroundRect(window));
}

bool CScreenButton::RestoreBackground(Window& window) {
  if (hSavedBackground.IsNull() && nRingRadius <= 0) return true;
  RestoreBackground(window, *window.ClientDC());
  window.Refresh();
  return true;
}

void CScreenButton::RestoreBackground(Window& window, DC& dc) {
  if (!hSavedBackground.IsNull()) {
    const Rect r = BackgroundRect(window);
    PixelDrawingScope pixels(dc);
    dc.PutBitmap(hSavedBackground, r.left, r.top);
  }
  if (nRingRadius > 0) EraseRing(dc, nRingX, nRingY, nRingRadius);
}

void CScreenButton::DrawRing(Window& window, int x, int y, int radius, Color ringColor,
                             Color dotColor) {
  if (nRingRadius > 0) EraseRing(window, nRingX, nRingY, nRingRadius);
  if (radius <= 0) return;
  nRingX = x;
  nRingY = y;
  nRingRadius = radius;
  crDot = dotColor;
  std::unique_ptr<DC> dc = window.ClientDC();
  dc->SelectPen(SolidPen(ringColor));
  dc->SetROP2(Rop2::CopyPen);
  const int r = radius;
  dc->Ellipse(x - r, y - r, x + r, y + r);
  dc->Ellipse(x - r + 1, y - r + 1, x + r - 1, y + r - 1);
  dc->Ellipse(x - r + 2, y - r + 2, x + r - 2, y + r - 2);
  window.Refresh();
}

void CScreenButton::EraseRing(Window& window, int x, int y, int radius) {
  EraseRing(*window.ClientDC(), x, y, radius);
  window.Refresh();
}

void CScreenButton::EraseRing(DC& dc, int x, int y, int radius) {
  PixelDrawingScope pixels(dc);
  dc.SetROP2(Rop2::CopyPen);
  dc.SelectPen(SolidPen(kWhite));
  dc.Ellipse(x - radius, y - radius, x + radius, y + radius);
  dc.SelectPen(SolidPen(crDot));
  dc.Ellipse(x - 2, y - 2, x + 2, y + 2);
  dc.Ellipse(x - 1, y - 1, x + 1, y + 1);
  dc.Ellipse(x, y, x + 1, y + 1);
  nRingX = 0;
  nRingY = 0;
  nRingRadius = 0;
}

void CScreenButton::DrawLabelInColor(Window& window, Color color) {
  std::unique_ptr<DC> dc = window.ClientDC();
  dc->SetBkMode(BkMode::Transparent);
  dc->SetTextColor(color);
  dc->SetTextAlign((bBaselineText || bRaisedText) ? (TA_CENTER | TA_BASELINE)
                                                  : (TA_CENTER | TA_BOTTOM));
  dc->SelectFont(LabelFont(bBoldText));
  const int d = bRaisedText ? -2 : 0;
  const int x = static_cast<int>(nLeft + (nRight - nLeft) * 0.5);
  const int y = static_cast<int>(nBottom + d - 1.0);
  const Rect clip = Rect{nLeft, nTop, nRight, nBottom}.Normalized();
  dc->ExtTextOut(x, y, ETO_CLIPPED, &clip, CurrentLabel());
  window.Refresh();
}

void CScreenButton::DrawLabel(Window& window) { DrawLabelInColor(window, crText); }

void CScreenButton::EraseLabel(Window& window) { DrawLabelInColor(window, kWhite); }

void CScreenButton::Beep() { GetBackend().Beep(0); }

}  // namespace tarmic
