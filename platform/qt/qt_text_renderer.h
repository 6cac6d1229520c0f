// Text in the window system's fonts. Every family of the program's fonts is drawn
// in one scalable sans-serif face (TextFaceFamily), antialiased, in the window, in
// copies and on paper alike; the font height is the height of the character cell
// (ascent + descent), as the program's fonts give it.
#pragma once

#include <QFont>
#include <QTextLayout>

class QPaintDevice;

#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <string>
#include <tuple>
#include <unordered_map>

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

  // A text shaped once in MakeQFont's font resolved for a paint device: its width
  // (with trailing spaces), the font's ascent and descent there, and the one line of
  // glyphs to draw (its baseline lineAscent below the layout's origin).
  struct ShapedText {
    QTextLayout layout;
    qreal width = 0;
    qreal ascent = 0;
    qreal descent = 0;
    qreal lineAscent = 0;
  };
  // text shaped in f at pixelHeight on device. On the thread of the application the
  // device fonts are kept (a kept font keeps the face Qt found for it, which a new
  // font must look up again) and so are the last kShapedTexts texts shaped (readouts
  // and tick labels are drawn again and again); other threads shape afresh.
  std::shared_ptr<const ShapedText> Shape(const Font& f, int pixelHeight, const QPaintDevice* device,
                                          Qt::LayoutDirection direction, std::string_view text);
  // The smallest character cell, at least minCell pixels, in which the digits of
  // the face are at least digitPixels high.
  int CellForDigitHeight(int digitPixels, int minCell);

 private:
  // Pixel sizes that give a cell height, by (family, weight, cell height).
  std::map<std::tuple<int, int, int>, int> pixelSizes_;
  struct DeviceFont {
    QFont font;
    qreal ascent = 0;
    qreal descent = 0;
  };
  DeviceFont FontOnDevice(const Font& f, int pixelHeight, const QPaintDevice* device);
  // Application thread only: device fonts by (family, weight, cell height, dpi x,
  // dpi y), and the texts shaped last, most recent first, found by their key (font,
  // direction and text).
  std::map<std::tuple<int, int, int, int, int>, DeviceFont> deviceFonts_;
  static constexpr std::size_t kShapedTexts = 64;
  using ShapedEntry = std::pair<std::string, std::shared_ptr<const ShapedText>>;
  std::list<ShapedEntry> shaped_;
  std::unordered_map<std::string, std::list<ShapedEntry>::iterator> shapedIndex_;
  std::mutex mutex_;
};

}  // namespace tarmic
