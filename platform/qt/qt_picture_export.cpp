#include "platform/qt/qt_picture_export.h"

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>

#include "platform/qt/qpainter_dc.h"
#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_text_renderer.h"

namespace tarmic {

namespace {

// The device rectangle onto which the whole logical extent is played so that area
// fills the document: x_device = (x_logical - area.left) * size.cx / area.Width().
Rect ExtentOnDocument(Size logicalExtent, const Rect& area, Size size) {
  const double sx = static_cast<double>(size.cx) / std::max(area.Width(), 1);
  const double sy = static_cast<double>(size.cy) / std::max(area.Height(), 1);
  auto at = [](double v) { return static_cast<int>(std::lround(v)); };
  return Rect{at(-area.left * sx), at(-area.top * sy), at((logicalExtent.cx - area.left) * sx),
              at((logicalExtent.cy - area.top) * sy)};
}

void PlayOnto(QPainter& painter, const MetaFile& picture, Size logicalExtent, const Rect& area,
              Size size, QtTextRenderer& fonts) {
  painter.fillRect(QRect(0, 0, size.cx, size.cy), Qt::white);
  QPainterDC dc(painter, &fonts, true);
  picture.PlayInto(dc, ExtentOnDocument(logicalExtent, area, size), logicalExtent);
}

}  // namespace

Rect PictureContentBounds(const MetaFile& picture, Size logicalExtent, QtTextRenderer& fonts) {
  const Rect whole{0, 0, logicalExtent.cx, logicalExtent.cy};
  if (logicalExtent.cx <= 0 || logicalExtent.cy <= 0) return whole;
  // A canvas reaching a quarter of the extent past every edge sees what spills over.
  const int padX = logicalExtent.cx / 4, padY = logicalExtent.cy / 4;
  const Rect canvas{-padX, -padY, logicalExtent.cx + padX, logicalExtent.cy + padY};
  const QImage image = PictureToImage(picture, logicalExtent, canvas,
                                      Size{canvas.Width(), canvas.Height()}, fonts);
  int left = image.width(), top = image.height(), right = -1, bottom = -1;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if ((row[x] & 0xFFFFFFu) == 0xFFFFFFu) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  if (right < 0) return whole;
  return Rect{canvas.left + left - kPictureMargin, canvas.top + top - kPictureMargin,
              canvas.left + right + 1 + kPictureMargin, canvas.top + bottom + 1 + kPictureMargin};
}

QByteArray PictureToSvg(const MetaFile& picture, Size logicalExtent, const Rect& area, Size size,
                        QtTextRenderer& fonts) {
  QByteArray bytes;
  if (size.cx <= 0 || size.cy <= 0 || area.IsEmpty()) return bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setSize(QSize(size.cx, size.cy));
  svg.setViewBox(QRect(0, 0, size.cx, size.cy));
  QPainter painter;
  if (!painter.begin(&svg)) return QByteArray();
  PlayOnto(painter, picture, logicalExtent, area, size, fonts);
  painter.end();
  return bytes;
}

QImage PictureToImage(const MetaFile& picture, Size logicalExtent, const Rect& area, Size size,
                      QtTextRenderer& fonts) {
  if (size.cx <= 0 || size.cy <= 0 || area.IsEmpty()) return QImage();
  QImage image(size.cx, size.cy, QImage::Format_RGB32);
  QPainter painter(&image);
  PlayOnto(painter, picture, logicalExtent, area, size, fonts);
  painter.end();
  return image;
}

QByteArray PictureToSvg(const MetaFile& picture, Size logicalExtent, Size size,
                        QtTextRenderer& fonts) {
  return PictureToSvg(picture, logicalExtent, Rect{0, 0, logicalExtent.cx, logicalExtent.cy}, size,
                      fonts);
}

QImage PictureToImage(const MetaFile& picture, Size logicalExtent, Size size,
                      QtTextRenderer& fonts) {
  return PictureToImage(picture, logicalExtent, Rect{0, 0, logicalExtent.cx, logicalExtent.cy},
                        size, fonts);
}

}  // namespace tarmic
