// A device context that draws through a QPainter onto any Qt paint device: printer
// pages, SVG documents, images. Pictures are played onto it for printing and export.
// Coordinates go through the DC's mapping (LPtoDP); a pen of width 0 is one device
// pixel wide; the NOT raster operation inverts the destination where the device
// supports raster operations, and draws black elsewhere (the inverse of white paper).
#pragma once

#include <QFont>
#include <QPainter>

#include <memory>
#include <string_view>

#include "platform/dc.h"

namespace tarmic {

class QtTextRenderer;

class QPainterDC : public DC {
 public:
  // painter must be active on its device for the lifetime of this DC. Fonts come from
  // fonts (a private renderer when null).
  explicit QPainterDC(QPainter& painter, QtTextRenderer* fonts = nullptr);
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

 private:
  // Sets pen, brush, composition mode and clip of the painter from the DC state.
  void Prepare(bool withPen, bool withBrush);
  QRectF DeviceRect(int left, int top, int right, int bottom) const;
  void DrawText(int x, int y, std::string_view text);

  QPainter& painter_;
  QtTextRenderer* fonts_;
  std::unique_ptr<QtTextRenderer> ownFonts_;
  bool rasterOps_ = false;
};

}  // namespace tarmic
