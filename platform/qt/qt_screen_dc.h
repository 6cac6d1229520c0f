// The device context of the Qt window's back-buffer: a QPainterDC that draws
// smoothly (antialiased pictures, text in the scalable sans-serif face at a minimum
// height) straight into the back-buffer Image, whose pixels it shares. Saved and
// restored pixel blocks are copied exactly. The pixels are in Qt's RGB32 layout
// (Image::UseScreenLayout, set on an image that does not use it yet), so that Qt
// paints on them and shows them as they are. The buffer must not be reallocated
// while a screen DC is open.
#pragma once

#include <QImage>
#include <QPainter>

#include <vector>

#include "platform/image.h"
#include "platform/qt/qpainter_dc.h"

namespace tarmic {

namespace detail {
// The painter on the shared pixels; a base so that it outlives the QPainterDC.
struct ScreenSurface {
  ScreenSurface(Image& screen, QImage* kept);
  ~ScreenSurface();
  Image& screen;
  QImage own;  // shares screen's pixels, when kept is not used
  QPainter painter;
};
}  // namespace detail

// Whether a screen DC is open on the pixels of screen (its buffer must then not be
// reallocated).
bool ScreenDCOpen(const Image& screen);

class QtScreenDC : private detail::ScreenSurface, public QPainterDC {
 public:
  // Draws into screen with fonts; text cells are at least minTextPixels high; texts
  // drawn are appended to textLog when given. kept (optional) is a QImage that the
  // owner of screen keeps from one DC to the next: it is pointed at screen's pixels
  // and painted on, so that its paint engine (with its state and glyph caches) is
  // made once, not per DC. A kept image that is being painted on is left alone.
  QtScreenDC(Image& screen, QtTextRenderer& fonts, int minTextPixels,
             std::vector<DrawnText>* textLog = nullptr, QImage* kept = nullptr);

  Image GetBitmap(const Rect& deviceRect) const override;
  void PutBitmap(const Image& src, int x, int y) override;
};

}  // namespace tarmic
