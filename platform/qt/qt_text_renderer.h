// Text in the window system's fonts. Every family of the program's fonts is drawn
// in one scalable sans-serif face (TextFaceFamily), antialiased, in the window, in
// copies and on paper alike; the font height is the height of the character cell
// (ascent + descent), as the program's fonts give it.
#pragma once

#include <QFont>

#include <map>
#include <mutex>
#include <string_view>
#include <tuple>

#include "platform/raster_dc.h"

namespace tarmic {

// The face of all text: DejaVu Sans (installed with the program's dependencies), or
// another scalable sans-serif face, else the sans-serif face of the interface.
QString TextFaceFamily();

class QtTextRenderer : public TextRenderer {
 public:
  TextMetrics Measure(const Font& f, int pixelHeight, std::string_view text) override;
  void Draw(Image& image, const Font& f, int pixelHeight, Color color, int x, int y,
            double angleDeg, std::string_view text, const Rect* clip) override;

  // The Qt font whose character cell is pixelHeight pixels high.
  QFont MakeQFont(const Font& f, int pixelHeight);
  // The smallest character cell, at least minCell pixels, in which the digits of
  // the face are at least digitPixels high.
  int CellForDigitHeight(int digitPixels, int minCell);

 private:
  // Pixel sizes that give a cell height, by (family, weight, cell height).
  std::map<std::tuple<int, int, int>, int> pixelSizes_;
  std::mutex mutex_;
};

}  // namespace tarmic
