// A device context that draws through a QPainter onto any Qt paint device: the
// screen back-buffer, printer pages, SVG documents, images. Coordinates go through
// the DC's mapping; a pen of width 0 is one device pixel wide; the NOT raster
// operation inverts the destination where the device supports raster operations, and
// draws black elsewhere (the inverse of white paper).
//
// Smooth drawing (screen and copies): what is drawn through a scaling mapping (the
// plots' pictures) is antialiased at the exact, unrounded device positions, lines
// through the centres of their pixels; drawing in device pixels (text mapping: marker
// and cursor lines, rings) and NOT stay pixel-exact, so that drawing twice or drawing
// over in white restores the screen. Text is always antialiased, in a scalable
// sans-serif face, and never smaller than the minimum cell height given.
#pragma once

#include <QFont>
#include <QPainter>

#include <QRectF>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dc.h"

namespace tarmic {

class QtTextRenderer;

// A text as it was drawn: its box on the device (the cell, rotated with the text),
// the clip it was drawn with (null: none) and its cell height in device pixels.
struct DrawnText {
  std::string text;
  QRectF box;
  QRectF clip;
  int pixelHeight = 0;
};

class QPainterDC : public DC {
 public:
  // painter must be active on its device for the lifetime of this DC. Fonts come from
  // fonts (a private renderer when null).
  explicit QPainterDC(QPainter& painter, QtTextRenderer* fonts = nullptr, bool smooth = false,
                      int minTextPixels = 0);
  ~QPainterDC() override;

  void LineTo(int x, int y) override;
  void Rectangle(int left, int top, int right, int bottom) override;
  void Ellipse(int left, int top, int right, int bottom) override;
  void TextOut(int x, int y, std::string_view text) override;
  void ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) override;
  void SetPixel(int x, int y, Color c) override;
  void StretchBitmap(const Image& src, const Rect& dst) override;

  // Whether the device inverts pixels for the NOT raster operation.
  bool SupportsRasterOps() const { return rasterOps_; }
  // Every text drawn from now on is also appended to log (null: none); for tests and
  // diagnostics of the layout.
  void SetTextLog(std::vector<DrawnText>* log) { textLog_ = log; }

 private:
  // Sets pen, brush, composition mode, antialiasing and clip of the painter from the
  // DC state.
  void Prepare(bool withPen, bool withBrush);
  // Whether the current drawing is antialiased at unrounded positions.
  bool Smooth() const;
  // A logical point on the device without rounding.
  QPointF DevicePoint(Point p) const;
  // A logical rectangle on the device: rounded like LPtoDP, or unrounded when smooth.
  QRectF DeviceRect(int left, int top, int right, int bottom) const;
  void DrawText(int x, int y, std::string_view text);

  QPainter& painter_;
  QtTextRenderer* fonts_;
  std::unique_ptr<QtTextRenderer> ownFonts_;
  bool rasterOps_ = false;
  bool smooth_ = false;
  int minTextPixels_ = 0;
  std::vector<DrawnText>* textLog_ = nullptr;
};

}  // namespace tarmic
