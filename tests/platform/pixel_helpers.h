// Small helpers of the platform tests: counting and locating pixels.
#pragma once

#include "platform/image.h"
#include "platform/types.h"

namespace tarmic::testing {

// Number of pixels of colour c.
inline int CountPixels(const Image& img, Color c) {
  int n = 0;
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x) n += img.Pixel(x, y) == c;
  return n;
}

// Bounding box (right and bottom exclusive) of the pixels that are not `background`;
// an empty rectangle when there are none.
inline Rect InkBox(const Image& img, Color background = kWhite) {
  Rect r{img.Width(), img.Height(), 0, 0};
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x)
      if (img.Pixel(x, y) != background) {
        r.left = x < r.left ? x : r.left;
        r.top = y < r.top ? y : r.top;
        r.right = x + 1 > r.right ? x + 1 : r.right;
        r.bottom = y + 1 > r.bottom ? y + 1 : r.bottom;
      }
  if (r.right <= r.left) return Rect{};
  return r;
}

// Bounding box of the pixels of exactly colour c.
inline Rect BoxOf(const Image& img, Color c) {
  Rect r{img.Width(), img.Height(), 0, 0};
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x)
      if (img.Pixel(x, y) == c) {
        r.left = x < r.left ? x : r.left;
        r.top = y < r.top ? y : r.top;
        r.right = x + 1 > r.right ? x + 1 : r.right;
        r.bottom = y + 1 > r.bottom ? y + 1 : r.bottom;
      }
  if (r.right <= r.left) return Rect{};
  return r;
}

inline bool SameImage(const Image& a, const Image& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.Pixel(x, y) != b.Pixel(x, y)) return false;
  return true;
}

// A background that is not uniform, so that restoring and inverting are visible.
inline Image PatternImage(int w, int h) {
  Image img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.SetPixel(x, y, RGB(x * 7, y * 5, (x + y) * 3));
  return img;
}

}  // namespace tarmic::testing
