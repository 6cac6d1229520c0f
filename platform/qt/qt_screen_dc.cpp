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

// How many screen DCs are open on each pixel buffer (user-interface thread only):
// its pixels must not move while any is open.
std::map<const Color*, int>& OpenDCs() {
  static std::map<const Color*, int> open;
  return open;
}

}  // namespace

bool ScreenDCOpen(const Image& screen) { return OpenDCs().count(screen.Data()) != 0; }

namespace detail {

namespace {

// The pixels of screen (in the screen layout 0xFFRRGGBB) as an RGB32 image, without
// a copy.
QImage OnPixels(Image& screen) {
  return QImage(reinterpret_cast<uchar*>(screen.Data()), screen.Width(), screen.Height(),
                static_cast<qsizetype>(screen.Width()) * 4, QImage::Format_RGB32);
}

}  // namespace

ScreenSurface::ScreenSurface(Image& s, QImage* kept) : screen(s) {
  static_assert(sizeof(Color) == 4, "a Color is one 32-bit pixel");
  // Qt draws on RGB32 in its fastest paths: an opaque colour is blended in place,
  // while on other formats (RGBX8888 among them) every fill of more than about a
  // hundred spans, such as one antialiased line of a noisy curve, is split over the
  // threads of Qt's pool and waited for. The window's back-buffer is always in this
  // layout, so that nothing is converted when a DC opens or the buffer is shown.
  if (!screen.UsesScreenLayout()) screen.UseScreenLayout();
  ++OpenDCs()[screen.Data()];
  QImage* image = &own;
  if (kept && !kept->paintingActive()) {
    // The kept image is pointed at the pixels again when they moved or the size
    // changed (constBits does not detach it).
    if (kept->constBits() != reinterpret_cast<const uchar*>(screen.Data()) ||
        kept->width() != screen.Width() || kept->height() != screen.Height()) {
      *kept = OnPixels(screen);
    }
    image = kept;
  } else {
    own = OnPixels(screen);
  }
  if (!image->isNull()) painter.begin(image);
}

ScreenSurface::~ScreenSurface() {
  if (painter.isActive()) painter.end();
  auto it = OpenDCs().find(screen.Data());
  if (it != OpenDCs().end() && --it->second == 0) OpenDCs().erase(it);
}

}  // namespace detail

QtScreenDC::QtScreenDC(Image& screen, QtTextRenderer& fonts, int minTextPixels,
                       std::vector<DrawnText>* textLog, QImage* kept)
    : detail::ScreenSurface(screen, kept), QPainterDC(painter, &fonts, true, minTextPixels) {
  SetTextLog(textLog);
}

Image QtScreenDC::GetBitmap(const Rect& deviceRect) const {
  return screen.Copy(deviceRect);  // in the program's format
}

void QtScreenDC::PutBitmap(const Image& src, int x, int y) {
  if (src.IsNull()) return;
  const Point p = LPtoDP(Point{x, y});
  Rect area{p.x, p.y, p.x + src.Width(), p.y + src.Height()};
  area = Overlap(area, Rect{0, 0, screen.Width(), screen.Height()});
  if (State().hasClip) area = Overlap(area, State().clip.Normalized());
  for (int yy = area.top; yy < area.bottom; ++yy)
    for (int xx = area.left; xx < area.right; ++xx)
      screen.Row(yy)[xx] = screen.ToStored(src.FromStored(src.Row(yy - p.y)[xx - p.x]));
}

}  // namespace tarmic
