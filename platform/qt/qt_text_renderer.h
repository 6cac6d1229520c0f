// Text in the window system's fonts, drawn into the program's images: the screen
// back-buffer and exported bitmaps. Serif faces for FontFamily::Serif, sans-serif
// faces for FontFamily::SansSerif; the font height is the height of the character
// cell (ascent + descent), as the program's fonts give it.
#pragma once

#include <QFont>

#include <map>
#include <mutex>
#include <string_view>
#include <tuple>

#include "platform/raster_dc.h"

namespace tarmic {

class QtTextRenderer : public TextRenderer {
 public:
  TextMetrics Measure(const Font& f, int pixelHeight, std::string_view text) override;
  void Draw(Image& image, const Font& f, int pixelHeight, Color color, int x, int y,
            double angleDeg, std::string_view text, const Rect* clip) override;

  // The Qt font whose character cell is pixelHeight pixels high.
  QFont MakeQFont(const Font& f, int pixelHeight);

 private:
  // Pixel sizes that give a cell height, by (family, weight, cell height).
  std::map<std::tuple<int, int, int>, int> pixelSizes_;
  std::mutex mutex_;
};

}  // namespace tarmic
