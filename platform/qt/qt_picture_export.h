// Pictures rendered for the clipboard and for files: as an SVG document (vector, via
// QSvgGenerator and QPainterDC) and as a bitmap, both drawn smoothly (antialiased,
// the sans-serif face). A copied plot is cut to the part that holds its drawing.
#pragma once

#include <QByteArray>
#include <QImage>

#include "platform/metafile.h"
#include "platform/types.h"

namespace tarmic {

class QtTextRenderer;

// Logical units of white space kept around the drawing of a copied picture.
inline constexpr int kPictureMargin = 8;

// The logical rectangle that holds the picture's drawing: the bounds of every pixel
// it draws at one pixel per logical unit, inside or outside the logical extent (a
// title that reaches past the edge counts), widened by kPictureMargin. The whole
// extent when the picture draws nothing.
Rect PictureContentBounds(const MetaFile& picture, Size logicalExtent, QtTextRenderer& fonts);

// The logical rectangle area of the picture played onto a whole document of
// size.cx x size.cy, as SVG text.
QByteArray PictureToSvg(const MetaFile& picture, Size logicalExtent, const Rect& area, Size size,
                        QtTextRenderer& fonts);
// The same on a white image.
QImage PictureToImage(const MetaFile& picture, Size logicalExtent, const Rect& area, Size size,
                      QtTextRenderer& fonts);

// The whole logical extent onto the document.
QByteArray PictureToSvg(const MetaFile& picture, Size logicalExtent, Size size,
                        QtTextRenderer& fonts);
QImage PictureToImage(const MetaFile& picture, Size logicalExtent, Size size,
                      QtTextRenderer& fonts);

}  // namespace tarmic
