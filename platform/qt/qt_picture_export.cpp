#include "platform/qt/qt_picture_export.h"

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>

#include "platform/qt/qpainter_dc.h"
#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_text_renderer.h"
#include "platform/raster_dc.h"

namespace tarmic {

QByteArray PictureToSvg(const MetaFile& picture, Size logicalExtent, Size size,
                        QtTextRenderer& fonts) {
  QByteArray bytes;
  if (size.cx <= 0 || size.cy <= 0) return bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setSize(QSize(size.cx, size.cy));
  svg.setViewBox(QRect(0, 0, size.cx, size.cy));
  QPainter painter;
  if (!painter.begin(&svg)) return QByteArray();
  painter.fillRect(QRect(0, 0, size.cx, size.cy), Qt::white);
  {
    QPainterDC dc(painter, &fonts);
    picture.PlayInto(dc, Rect{0, 0, size.cx, size.cy}, logicalExtent);
  }
  painter.end();
  return bytes;
}

QImage PictureToImage(const MetaFile& picture, Size logicalExtent, Size size,
                      QtTextRenderer& fonts) {
  if (size.cx <= 0 || size.cy <= 0) return QImage();
  Image image(size.cx, size.cy, kWhite);
  {
    RasterDC dc(image, &fonts);
    picture.PlayInto(dc, Rect{0, 0, size.cx, size.cy}, logicalExtent);
  }
  return ToQImage(image);
}

}  // namespace tarmic
