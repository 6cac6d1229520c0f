#include "platform/qt/qt_screen_dc.h"

#include <algorithm>
#include <map>

namespace tarmic {

namespace {

Rect Overlap(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  r.right = std::max(r.right, r.left);
  r.bottom = std::max(r.bottom, r.top);
  return r;
}

std::size_t PixelCount(const Image& image) {
  return image.IsNull() ? 0
                        : static_cast<std::size_t>(image.Width()) *
                              static_cast<std::size_t>(image.Height());
}

// Clears the byte above blue in every pixel (the program's format).
void ClearHighByte(Image& image) {
  Color* p = image.Data();
  for (std::size_t i = 0, n = PixelCount(image); i < n; ++i) p[i] &= 0x00FFFFFFu;
}

// Sets it (Qt's opaque RGBX format): Qt's raster engine treats a pixel whose byte is
// 0 as transparent and blends text into it wrongly.
void SetHighByte(Image& image) {
  Color* p = image.Data();
  for (std::size_t i = 0, n = PixelCount(image); i < n; ++i) p[i] |= 0xFF000000u;
}

// How many screen DCs are open on each pixel buffer (user-interface thread only):
// the buffer is in Qt's format while any is open, and back in the program's when
// the last one ends.
std::map<const Color*, int>& OpenDCs() {
  static std::map<const Color*, int> open;
  return open;
}

}  // namespace

bool ScreenDCOpen(const Image& screen) { return OpenDCs().count(screen.Data()) != 0; }

namespace detail {

// QImage::Format_RGBX8888 stores R, G, B, X bytes: read as a little-endian 32-bit
// word that is 0xXXBBGGRR, the program's Color with a byte that Qt sets to 0xFF.
ScreenSurface::ScreenSurface(Image& s)
    : screen(s),
      image(reinterpret_cast<uchar*>(s.Data()), s.Width(), s.Height(),
            static_cast<qsizetype>(s.Width()) * 4, QImage::Format_RGBX8888) {
  static_assert(sizeof(Color) == 4, "a Color is one 32-bit pixel");
  if (OpenDCs()[screen.Data()]++ == 0) SetHighByte(screen);
  if (!image.isNull()) painter.begin(&image);
}

ScreenSurface::~ScreenSurface() {
  if (painter.isActive()) painter.end();
  // Back to 0x00BBGGRR once no other DC draws on these pixels.
  auto it = OpenDCs().find(screen.Data());
  if (it != OpenDCs().end() && --it->second > 0) return;
  if (it != OpenDCs().end()) OpenDCs().erase(it);
  ClearHighByte(screen);
}

}  // namespace detail

QtScreenDC::QtScreenDC(Image& screen, QtTextRenderer& fonts, int minTextPixels,
                       std::vector<DrawnText>* textLog)
    : detail::ScreenSurface(screen), QPainterDC(painter, &fonts, true, minTextPixels) {
  SetTextLog(textLog);
}

Image QtScreenDC::GetBitmap(const Rect& deviceRect) const {
  Image copy = screen.Copy(deviceRect);
  ClearHighByte(copy);
  return copy;
}

void QtScreenDC::PutBitmap(const Image& src, int x, int y) {
  if (src.IsNull()) return;
  const Point p = LPtoDP(Point{x, y});
  Rect area{p.x, p.y, p.x + src.Width(), p.y + src.Height()};
  area = Overlap(area, Rect{0, 0, screen.Width(), screen.Height()});
  if (State().hasClip) area = Overlap(area, State().clip.Normalized());
  for (int yy = area.top; yy < area.bottom; ++yy)
    for (int xx = area.left; xx < area.right; ++xx)
      screen.Row(yy)[xx] = src.Row(yy - p.y)[xx - p.x] | 0xFF000000u;
}

}  // namespace tarmic
