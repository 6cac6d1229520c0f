// Pictures rendered for the clipboard and for files: as an SVG document (vector, via
// QSvgGenerator and QPainterDC) and as a bitmap (software raster with Qt fonts).
#pragma once

#include <QByteArray>
#include <QImage>

#include "platform/metafile.h"
#include "platform/types.h"

namespace tarmic {

class QtTextRenderer;

// The picture played into a width x height area (the logical extent onto the whole
// document), as SVG text.
QByteArray PictureToSvg(const MetaFile& picture, Size logicalExtent, Size size,
                        QtTextRenderer& fonts);
// The picture on a white width x height image.
QImage PictureToImage(const MetaFile& picture, Size logicalExtent, Size size,
                      QtTextRenderer& fonts);

}  // namespace tarmic
