// A device context that draws into an Image in software: the screen back-buffer of
// both backends and the target of PNG exports. Geometry is rasterised here, the same
// for every backend, so pixel results are testable; text goes through a
// TextRenderer that the backend supplies (Qt fonts in the real window, a small
// built-in stroke font headless).
#pragma once

#include <memory>
#include <string_view>

#include "platform/dc.h"
#include "platform/image.h"

namespace tarmic {

struct TextMetrics {
  int width = 0;    // advance of the whole string, pixels
  int ascent = 0;   // baseline below the top of the cell, pixels
  int descent = 0;  // cell height = ascent + descent
};

class TextRenderer {
 public:
  virtual ~TextRenderer() = default;
  // Metrics of text in font f scaled to a cell height of pixelHeight pixels.
  virtual TextMetrics Measure(const Font& f, int pixelHeight, std::string_view text) = 0;
  // Draws text with the top-left corner of its (unrotated) cell at (x, y), rotated
  // counter-clockwise by angleDeg about that corner, clipped to clip when given.
  virtual void Draw(Image& image, const Font& f, int pixelHeight, Color color, int x, int y,
                    double angleDeg, std::string_view text, const Rect* clip) = 0;
};

// The renderer every RasterDC uses unless given another. Starts as the built-in one.
TextRenderer& DefaultTextRenderer();
void SetDefaultTextRenderer(std::shared_ptr<TextRenderer> renderer);
// The built-in stroke font, independent of any window system.
std::shared_ptr<TextRenderer> MakeBuiltinTextRenderer();

class RasterDC : public DC {
 public:
  explicit RasterDC(Image& target, TextRenderer* text = nullptr);

  void LineTo(int x, int y) override;
  void Rectangle(int left, int top, int right, int bottom) override;
  void Ellipse(int left, int top, int right, int bottom) override;
  void TextOut(int x, int y, std::string_view text) override;
  void ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) override;
  void SetPixel(int x, int y, Color c) override;
  Image GetBitmap(const Rect& deviceRect) const override;
  void StretchBitmap(const Image& src, const Rect& dst) override;
  void PutBitmap(const Image& src, int x, int y) override;

  Image& Target() { return target_; }

 private:
  // The clip in device pixels, within the image.
  Rect DeviceClip() const;
  // A logical rectangle in device pixels, normalised.
  Rect DeviceRect(int left, int top, int right, int bottom) const;
  TextRenderer& Renderer() const;
  void DrawText(int x, int y, unsigned options, const Rect* logicalClip, std::string_view text);

  Image& target_;
  TextRenderer* text_;
};

}  // namespace tarmic
