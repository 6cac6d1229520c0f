// Image: a plain pixel buffer of Color values.
#include "platform/image.h"

#include <algorithm>
#include <cstdio>

namespace tarmic {

Image::Image(int width, int height, Color fill)
    : width_(std::max(width, 0)), height_(std::max(height, 0)) {
  if (width_ == 0 || height_ == 0) width_ = height_ = 0;
  pixels_.assign(static_cast<std::size_t>(width_) * height_, fill);
}

Color Image::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kWhite;
  return FromStored(Row(y)[x]);
}

void Image::SetPixel(int x, int y, Color c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  Row(y)[x] = ToStored(c);
}

void Image::UseScreenLayout() {
  if (screenLayout_) return;
  screenLayout_ = true;
  for (Color& p : pixels_) p = ToStored(p);
}

void Image::Fill(Color c) { std::fill(pixels_.begin(), pixels_.end(), ToStored(c)); }

void Image::Resize(int width, int height, Color fill) {
  Image next(width, height, fill);
  if (screenLayout_) next.UseScreenLayout();
  next.Paste(*this, 0, 0);
  *this = std::move(next);
}

Image Image::Copy(const Rect& rect) const {
  Rect r = rect.Normalized();
  Image out(r.Width(), r.Height(), kWhite);
  if (out.IsNull()) return out;
  int y0 = std::max(r.top, 0), y1 = std::min(r.bottom, height_);
  int x0 = std::max(r.left, 0), x1 = std::min(r.right, width_);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) out.Row(y - r.top)[x - r.left] = FromStored(Row(y)[x]);
  return out;
}

void Image::Paste(const Image& src, int x, int y) {
  int y0 = std::max(y, 0), y1 = std::min(y + src.Height(), height_);
  int x0 = std::max(x, 0), x1 = std::min(x + src.Width(), width_);
  if (x0 >= x1) return;
  const bool sameLayout = src.screenLayout_ == screenLayout_;
  for (int yy = y0; yy < y1; ++yy) {
    const Color* from = src.Row(yy - y) + (x0 - x);
    Color* to = Row(yy) + x0;
    if (sameLayout) {
      std::copy(from, from + (x1 - x0), to);
    } else {
      for (int i = 0; i < x1 - x0; ++i) to[i] = ToStored(src.FromStored(from[i]));
    }
  }
}

void Image::StretchPaste(const Image& src, const Rect& dst) {
  Rect d = dst.Normalized();
  if (src.IsNull() || d.IsEmpty()) return;
  int y0 = std::max(d.top, 0), y1 = std::min(d.bottom, height_);
  int x0 = std::max(d.left, 0), x1 = std::min(d.right, width_);
  for (int y = y0; y < y1; ++y) {
    // Nearest source pixel: the one whose span contains the destination pixel's start.
    int sy = static_cast<int>(static_cast<long long>(y - d.top) * src.Height() / d.Height());
    for (int x = x0; x < x1; ++x) {
      int sx = static_cast<int>(static_cast<long long>(x - d.left) * src.Width() / d.Width());
      Row(y)[x] = ToStored(src.FromStored(src.Row(sy)[sx]));
    }
  }
}

bool Image::WritePPM(std::FILE* out) const {
  if (std::fprintf(out, "P6\n%d %d\n255\n", std::max(width_, 0), std::max(height_, 0)) < 0)
    return false;
  std::vector<unsigned char> row(static_cast<std::size_t>(std::max(width_, 0)) * 3);
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      const Color c = FromStored(Row(y)[x]);
      row[3 * x] = static_cast<unsigned char>(GetRValue(c));
      row[3 * x + 1] = static_cast<unsigned char>(GetGValue(c));
      row[3 * x + 2] = static_cast<unsigned char>(GetBValue(c));
    }
    if (std::fwrite(row.data(), 1, row.size(), out) != row.size()) return false;
  }
  return true;
}

}  // namespace tarmic
