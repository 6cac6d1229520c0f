// RasterDC: software rasterisation of the drawing primitives into an Image.
#include "platform/raster_dc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tarmic {

namespace {

Rect Intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

// Writes pixels with the raster operation, inside the clip only.
struct Painter {
  Image& image;
  Rect clip;
  Rop2 rop;

  void Put(int x, int y, Color c) const {
    if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) return;
    Color& p = image.Row(y)[x];
    p = rop == Rop2::Not ? (~p & 0x00FFFFFFu) : c;
  }
};

// On/off lengths of the cosmetic dash patterns, in pixels.
bool PatternOn(PenStyle style, long step) {
  switch (style) {
    case PenStyle::Dash: return step % 24 < 18;
    case PenStyle::Dot: return step % 6 < 3;
    default: return true;
  }
}

// Liang-Barsky: clips the segment to the box; false when nothing is left.
bool ClipSegment(double& x0, double& y0, double& x1, double& y1, const Rect& box) {
  double t0 = 0, t1 = 1, dx = x1 - x0, dy = y1 - y0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x0 - box.left, box.right - 1 - x0, y0 - box.top, box.bottom - 1 - y0};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
    } else {
      double t = q[i] / p[i];
      if (p[i] < 0) t0 = std::max(t0, t);
      else t1 = std::min(t1, t);
    }
  }
  if (t0 > t1) return false;
  double nx0 = x0 + t0 * dx, ny0 = y0 + t0 * dy;
  x1 = x0 + t1 * dx;
  y1 = y0 + t1 * dy;
  x0 = nx0;
  y0 = ny0;
  return true;
}

// A one-pixel line from a to b without the pixel at b (Bresenham).
void ThinLine(const Painter& pt, Point a, Point b, Color color, PenStyle style) {
  long long ldx = std::llabs(static_cast<long long>(b.x) - a.x);
  long long ldy = std::llabs(static_cast<long long>(b.y) - a.y);
  const Rect& c = pt.clip;
  if (c.IsEmpty()) return;
  if (std::max(ldx, ldy) > 4LL * (c.Width() + c.Height()) + 16) {
    // Very long line: start and end where it meets (a margin around) the clip.
    Rect box{c.left - 2, c.top - 2, c.right + 2, c.bottom + 2};
    double x0 = a.x, y0 = a.y, x1 = b.x, y1 = b.y;
    if (!ClipSegment(x0, y0, x1, y1, box)) return;
    a = Point{static_cast<int>(std::lround(x0)), static_cast<int>(std::lround(y0))};
    // A cut-away end lies in the margin, outside the clip: excluding it loses nothing.
    b = Point{static_cast<int>(std::lround(x1)), static_cast<int>(std::lround(y1))};
  }
  int dx = std::abs(b.x - a.x), dy = -std::abs(b.y - a.y);
  int sx = a.x < b.x ? 1 : -1, sy = a.y < b.y ? 1 : -1;
  int err = dx + dy;
  int x = a.x, y = a.y;
  long step = 0;
  while (x != b.x || y != b.y) {
    if (PatternOn(style, step)) pt.Put(x, y, color);
    ++step;
    int e2 = 2 * err;
    if (e2 >= dy) { err += dy; x += sx; }
    if (e2 <= dx) { err += dx; y += sy; }
  }
}

// A line of width w pixels with round ends: the pixels whose centres lie within w/2
// of the segment, each written once (so that NOT inverts each pixel once).
void ThickLine(const Painter& pt, Point a, Point b, int w, Color color) {
  double off = (w % 2 == 0) ? -0.5 : 0.0;  // even widths: centre between pixels
  double ax = a.x + 0.5 + off, ay = a.y + 0.5 + off, bx = b.x + 0.5 + off, by = b.y + 0.5 + off;
  double r = w / 2.0;
  Rect box{static_cast<int>(std::floor(std::min(ax, bx) - r)) - 1,
           static_cast<int>(std::floor(std::min(ay, by) - r)) - 1,
           static_cast<int>(std::ceil(std::max(ax, bx) + r)) + 1,
           static_cast<int>(std::ceil(std::max(ay, by) + r)) + 1};
  box = Intersect(box, pt.clip);
  double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
  for (int y = box.top; y < box.bottom; ++y) {
    for (int x = box.left; x < box.right; ++x) {
      double cx = x + 0.5 - ax, cy = y + 0.5 - ay;
      double u = len2 > 0 ? std::clamp((cx * dx + cy * dy) / len2, 0.0, 1.0) : 0.0;
      double ex = cx - u * dx, ey = cy - u * dy;
      if (ex * ex + ey * ey <= r * r + 1e-9) pt.Put(x, y, color);
    }
  }
}

// Pen width in device pixels: 0 (cosmetic) is one pixel; a null pen draws nothing.
int PenPixels(const Pen& pen, double scale) {
  if (pen.style == PenStyle::Null) return 0;
  if (pen.width <= 0) return 1;
  return std::max(1, static_cast<int>(pen.width * std::fabs(scale)));
}

}  // namespace

RasterDC::RasterDC(Image& target, TextRenderer* text) : target_(target), text_(text) {}

Rect RasterDC::DeviceClip() const {
  Rect r{0, 0, target_.Width(), target_.Height()};
  if (State().hasClip) r = Intersect(r, State().clip.Normalized());
  return r;
}

Rect RasterDC::DeviceRect(int left, int top, int right, int bottom) const {
  Point a = LPtoDP(Point{left, top});
  Point b = LPtoDP(Point{right, bottom});
  return Rect{a.x, a.y, b.x, b.y}.Normalized();
}

TextRenderer& RasterDC::Renderer() const { return text_ ? *text_ : DefaultTextRenderer(); }

void RasterDC::LineTo(int x, int y) {
  Point a = LPtoDP(State().currentPos);
  Point b = LPtoDP(Point{x, y});
  MutableState().currentPos = Point{x, y};
  const Pen& pen = State().pen;
  int w = PenPixels(pen, ScaleX());
  if (w == 0) return;
  Painter pt{target_, DeviceClip(), State().rop2};
  if (w == 1)
    ThinLine(pt, a, b, pen.color, pen.style);
  else
    ThickLine(pt, a, b, w, pen.color);
}

void RasterDC::Rectangle(int left, int top, int right, int bottom) {
  Rect r = DeviceRect(left, top, right, bottom);
  if (r.IsEmpty()) return;
  const DCState& s = State();
  int pw = PenPixels(s.pen, ScaleX());
  bool fill = s.brush.style != BrushStyle::Null;
  Painter pt{target_, DeviceClip(), s.rop2};
  Rect area = Intersect(r, pt.clip);
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      bool border = pw > 0 && (x < r.left + pw || x >= r.right - pw || y < r.top + pw ||
                               y >= r.bottom - pw);
      if (border)
        pt.Put(x, y, s.pen.color);
      else if (fill)
        pt.Put(x, y, s.brush.color);
    }
  }
}

void RasterDC::Ellipse(int left, int top, int right, int bottom) {
  Rect r = DeviceRect(left, top, right, bottom);
  if (r.IsEmpty()) return;
  const DCState& s = State();
  int pw = PenPixels(s.pen, ScaleX());
  bool fill = s.brush.style != BrushStyle::Null;
  Painter pt{target_, DeviceClip(), s.rop2};
  const double cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
  const double a = r.Width() / 2.0, b = r.Height() / 2.0;
  // Whether the pixel's centre lies in the ellipse with semi-axes ea, eb.
  auto inside = [&](int x, int y, double ea, double eb) {
    if (ea <= 0 || eb <= 0) return false;
    double u = (x + 0.5 - cx) / ea, v = (y + 0.5 - cy) / eb;
    return u * u + v * v <= 1.0;
  };
  Rect area = Intersect(r, pt.clip);
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      if (!inside(x, y, a, b)) continue;
      bool border;
      if (pw == 0)
        border = false;
      else if (pw == 1)  // a closed one-pixel ring: inside pixels next to the outside
        border = !inside(x - 1, y, a, b) || !inside(x + 1, y, a, b) || !inside(x, y - 1, a, b) ||
                 !inside(x, y + 1, a, b);
      else
        border = !inside(x, y, a - pw, b - pw);
      if (border)
        pt.Put(x, y, s.pen.color);
      else if (fill)
        pt.Put(x, y, s.brush.color);
    }
  }
}

void RasterDC::TextOut(int x, int y, std::string_view text) { DrawText(x, y, 0, nullptr, text); }

void RasterDC::ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) {
  DrawText(x, y, options, clip, text);
}

void RasterDC::DrawText(int x, int y, unsigned options, const Rect* logicalClip,
                        std::string_view text) {
  const DCState& s = State();
  Rect clip = DeviceClip();
  if (logicalClip) {
    Rect r = DeviceRect(logicalClip->left, logicalClip->top, logicalClip->right,
                        logicalClip->bottom);
    if (options & ETO_OPAQUE) {
      Rect f = Intersect(r, clip);
      for (int yy = f.top; yy < f.bottom; ++yy)
        for (int xx = f.left; xx < f.right; ++xx) target_.Row(yy)[xx] = s.bkColor;
    }
    if (options & ETO_CLIPPED) clip = Intersect(clip, r);
  }

  // Cell height in pixels: the font height scaled like a vertical length.
  int h = static_cast<int>(std::abs(s.font.height) * std::fabs(ScaleY()));
  if (h < 1 && s.font.height != 0) h = 1;
  const bool updateCp = (s.textAlign & TA_UPDATECP) != 0;
  const Point refLogical = updateCp ? s.currentPos : Point{x, y};
  const Point ref = LPtoDP(refLogical);
  TextRenderer& renderer = Renderer();
  const TextMetrics m = renderer.Measure(s.font, h, text);

  const unsigned halign = s.textAlign & TA_HMASK, valign = s.textAlign & TA_VMASK;
  const double along = halign == TA_CENTER ? m.width / 2.0 : (halign == TA_RIGHT ? m.width : 0.0);
  const double across =
      valign == TA_BASELINE ? m.ascent : (valign == TA_BOTTOM ? m.ascent + m.descent : 0.0);
  // Text direction u and the downward direction v across the text, in device pixels
  // (escapement counter-clockwise on a screen whose y axis points down).
  const double angle = s.font.escapement / 10.0;
  double c = std::cos(angle * 3.14159265358979323846 / 180.0);
  double sn = std::sin(angle * 3.14159265358979323846 / 180.0);
  if (s.font.escapement % 900 == 0) {
    c = std::round(c);
    sn = std::round(sn);
  }
  const double ux = c, uy = -sn, vx = sn, vy = c;
  const int ox = static_cast<int>(std::lround(ref.x - along * ux - across * vx));
  const int oy = static_cast<int>(std::lround(ref.y - along * uy - across * vy));

  bool readout = false;
  if (s.bkMode == BkMode::Opaque && m.width > 0 && h > 0 && s.font.escapement == 0) {
    // An upright cell; on a window a readout that first gives back the earlier ones it
    // overlaps.
    readout = true;
    if (BeginOpaqueText(Rect{ox, oy, ox + m.width, oy + m.ascent + m.descent}, text)) {
      const Rect box = Intersect(Rect{ox, oy, ox + m.width, oy + m.ascent + m.descent}, clip);
      for (int yy = box.top; yy < box.bottom; ++yy)
        for (int xx = box.left; xx < box.right; ++xx) target_.Row(yy)[xx] = s.bkColor;
    }
  } else if (s.bkMode == BkMode::Opaque && m.width > 0 && h > 0) {
    // The text cell, rotated with the text: pixels whose centres lie in it.
    const int cellH = m.ascent + m.descent;
    double xs[4], ys[4];
    const double cw[4] = {0, double(m.width), double(m.width), 0};
    const double ch[4] = {0, 0, double(cellH), double(cellH)};
    for (int i = 0; i < 4; ++i) {
      xs[i] = ox + cw[i] * ux + ch[i] * vx;
      ys[i] = oy + cw[i] * uy + ch[i] * vy;
    }
    Rect box{static_cast<int>(std::floor(*std::min_element(xs, xs + 4))),
             static_cast<int>(std::floor(*std::min_element(ys, ys + 4))),
             static_cast<int>(std::ceil(*std::max_element(xs, xs + 4))),
             static_cast<int>(std::ceil(*std::max_element(ys, ys + 4)))};
    box = Intersect(box, clip);
    for (int yy = box.top; yy < box.bottom; ++yy) {
      for (int xx = box.left; xx < box.right; ++xx) {
        double dx = xx + 0.5 - ox, dy = yy + 0.5 - oy;
        double tu = dx * ux + dy * uy, tv = dx * vx + dy * vy;
        if (tu >= 0 && tu < m.width && tv >= 0 && tv < cellH) target_.Row(yy)[xx] = s.bkColor;
      }
    }
  }
  if (!text.empty() && h > 0)
    renderer.Draw(target_, s.font, h, s.textColor, ox, oy, angle, text, &clip);
  if (readout) EndOpaqueText();

  if (updateCp) {
    // The current position moves to the other end of the text (left: to its end;
    // right: to its start; centre: stays).
    double adv = halign == TA_CENTER ? 0.0 : (halign == TA_RIGHT ? -m.width : m.width);
    double sx = ScaleX(), sy = ScaleY();
    MutableState().currentPos =
        Point{refLogical.x + static_cast<int>(std::lround(adv * ux / (sx == 0 ? 1 : sx))),
              refLogical.y + static_cast<int>(std::lround(adv * uy / (sy == 0 ? 1 : sy)))};
  }
}

void RasterDC::SetPixel(int x, int y, Color c) {
  Point p = LPtoDP(Point{x, y});
  if (DeviceClip().Contains(p)) target_.Row(p.y)[p.x] = c;
}

Image RasterDC::GetBitmap(const Rect& deviceRect) const { return target_.Copy(deviceRect); }

void RasterDC::StretchBitmap(const Image& src, const Rect& dst) {
  if (src.IsNull()) return;
  Rect d = DeviceRect(dst.left, dst.top, dst.right, dst.bottom);
  if (d.IsEmpty()) return;
  Rect area = Intersect(d, DeviceClip());
  for (int y = area.top; y < area.bottom; ++y) {
    int sy = static_cast<int>(static_cast<long long>(y - d.top) * src.Height() / d.Height());
    for (int x = area.left; x < area.right; ++x) {
      int sx = static_cast<int>(static_cast<long long>(x - d.left) * src.Width() / d.Width());
      target_.Row(y)[x] = src.Row(sy)[sx];
    }
  }
}

void RasterDC::PutBitmap(const Image& src, int x, int y) {
  Point p = LPtoDP(Point{x, y});
  Rect area = Intersect(Rect{p.x, p.y, p.x + src.Width(), p.y + src.Height()}, DeviceClip());
  for (int yy = area.top; yy < area.bottom; ++yy)
    for (int xx = area.left; xx < area.right; ++xx)
      target_.Row(yy)[xx] = src.Row(yy - p.y)[xx - p.x];
}

}  // namespace tarmic
