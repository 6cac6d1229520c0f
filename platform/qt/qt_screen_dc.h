// The device context of the Qt window's back-buffer: a QPainterDC that draws
// smoothly (antialiased pictures, text in the scalable sans-serif face at a minimum
// height) straight into the back-buffer Image, whose pixels it shares. Saved and
// restored pixel blocks are copied exactly. The pixels carry Qt's opaque byte
// (Image::KeepOpaqueByte, set on an image that does not keep it yet), so that Qt
// paints and shows them as they are. The buffer must not be reallocated while a
// screen DC is open.
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
  explicit ScreenSurface(Image& screen);
  ~ScreenSurface();
  Image& screen;
  QImage image;  // shares screen's pixels
  QPainter painter;
};
}  // namespace detail

// Whether a screen DC is open on the pixels of screen (its buffer must then not be
// reallocated).
bool ScreenDCOpen(const Image& screen);

class QtScreenDC : private detail::ScreenSurface, public QPainterDC {
 public:
  // Draws into screen with fonts; text cells are at least minTextPixels high; texts
  // drawn are appended to textLog when given.
  QtScreenDC(Image& screen, QtTextRenderer& fonts, int minTextPixels,
             std::vector<DrawnText>* textLog = nullptr);

  Image GetBitmap(const Rect& deviceRect) const override;
  void PutBitmap(const Image& src, int x, int y) override;
};

}  // namespace tarmic
