// DC: the state every device shares and the logical-to-device mapping.
#include "platform/dc.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace tarmic {

namespace {

// The extents that the conversion uses: 1:1 in text mode; in isotropic mode the
// viewport extent of the axis with the larger scale is reduced so that both axes
// get the smaller scale (signs, i.e. axis directions, are kept).
void EffectiveExtents(const DCState& s, Size& win, Size& view) {
  if (s.mapMode == MapMode::Text) {
    win = Size{1, 1};
    view = Size{1, 1};
    return;
  }
  win = Size{s.windowExt.cx == 0 ? 1 : s.windowExt.cx, s.windowExt.cy == 0 ? 1 : s.windowExt.cy};
  view = Size{s.viewportExt.cx == 0 ? 1 : s.viewportExt.cx,
              s.viewportExt.cy == 0 ? 1 : s.viewportExt.cy};
  if (s.mapMode == MapMode::Isotropic) {
    std::int64_t wx = std::llabs(win.cx), wy = std::llabs(win.cy);
    std::int64_t vx = std::llabs(view.cx), vy = std::llabs(view.cy);
    // Compare vx/wx with vy/wy without division.
    if (vx * wy > vy * wx) {
      std::int64_t nx = std::max<std::int64_t>(1, vy * wx / wy);
      view.cx = static_cast<int>(view.cx < 0 ? -nx : nx);
    } else if (vx * wy < vy * wx) {
      std::int64_t ny = std::max<std::int64_t>(1, vx * wy / wx);
      view.cy = static_cast<int>(view.cy < 0 ? -ny : ny);
    }
  }
}

int Clamp(std::int64_t v) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 30;
  return static_cast<int>(std::clamp(v, -kLimit, kLimit));
}

}  // namespace

Pen DC::SelectPen(const Pen& pen) { return std::exchange(state_.pen, pen); }
Brush DC::SelectBrush(const Brush& brush) { return std::exchange(state_.brush, brush); }
Font DC::SelectFont(const Font& font) { return std::exchange(state_.font, font); }
Color DC::SetTextColor(Color c) { return std::exchange(state_.textColor, c); }
Color DC::SetBkColor(Color c) { return std::exchange(state_.bkColor, c); }
BkMode DC::SetBkMode(BkMode mode) { return std::exchange(state_.bkMode, mode); }
unsigned DC::SetTextAlign(unsigned flags) { return std::exchange(state_.textAlign, flags); }
Rop2 DC::SetROP2(Rop2 rop) { return std::exchange(state_.rop2, rop); }
MapMode DC::SetMapMode(MapMode mode) { return std::exchange(state_.mapMode, mode); }
Size DC::SetWindowExt(int cx, int cy) { return std::exchange(state_.windowExt, Size{cx, cy}); }
Size DC::SetViewportExt(int cx, int cy) { return std::exchange(state_.viewportExt, Size{cx, cy}); }
Point DC::SetWindowOrg(int x, int y) { return std::exchange(state_.windowOrg, Point{x, y}); }
Point DC::SetViewportOrg(int x, int y) { return std::exchange(state_.viewportOrg, Point{x, y}); }

void DC::IntersectClipRect(const Rect& r) {
  Point a = LPtoDP(Point{r.left, r.top});
  Point b = LPtoDP(Point{r.right, r.bottom});
  Rect d = Rect{a.x, a.y, b.x, b.y}.Normalized();
  if (state_.hasClip) {
    d.left = std::max(d.left, state_.clip.left);
    d.top = std::max(d.top, state_.clip.top);
    d.right = std::min(d.right, state_.clip.right);
    d.bottom = std::min(d.bottom, state_.clip.bottom);
    if (d.right < d.left) d.right = d.left;
    if (d.bottom < d.top) d.bottom = d.top;
  }
  state_.clip = d;
  state_.hasClip = true;
}

// device = (logical - windowOrg) * viewportExt / windowExt + viewportOrg, truncated
// toward zero.
Point DC::LPtoDP(Point p) const {
  Size w, v;
  EffectiveExtents(state_, w, v);
  std::int64_t x = (std::int64_t{p.x} - state_.windowOrg.x) * v.cx / w.cx + state_.viewportOrg.x;
  std::int64_t y = (std::int64_t{p.y} - state_.windowOrg.y) * v.cy / w.cy + state_.viewportOrg.y;
  return Point{Clamp(x), Clamp(y)};
}

Point DC::DPtoLP(Point p) const {
  Size w, v;
  EffectiveExtents(state_, w, v);
  std::int64_t x = (std::int64_t{p.x} - state_.viewportOrg.x) * w.cx / v.cx + state_.windowOrg.x;
  std::int64_t y = (std::int64_t{p.y} - state_.viewportOrg.y) * w.cy / v.cy + state_.windowOrg.y;
  return Point{Clamp(x), Clamp(y)};
}

double DC::ScaleX() const {
  Size w, v;
  EffectiveExtents(state_, w, v);
  return static_cast<double>(v.cx) / w.cx;
}

double DC::ScaleY() const {
  Size w, v;
  EffectiveExtents(state_, w, v);
  return static_cast<double>(v.cy) / w.cy;
}

int DC::SaveDC() {
  saved_.push_back(state_);
  return static_cast<int>(saved_.size());
}

bool DC::RestoreDC(int saved) {
  long long index;
  if (saved < 0)
    index = static_cast<long long>(saved_.size()) + saved;
  else
    index = static_cast<long long>(saved) - 1;
  if (saved == 0 || index < 0 || index >= static_cast<long long>(saved_.size())) return false;
  state_ = saved_[static_cast<std::size_t>(index)];
  saved_.resize(static_cast<std::size_t>(index));
  OnStateRestored();
  return true;
}

Point DC::MoveTo(int x, int y) { return std::exchange(state_.currentPos, Point{x, y}); }

// Like the window system's Polyline: drawn as connected lines (each end pixel
// excluded, so shared vertices are drawn once) without using or moving the
// current position.
void DC::Polyline(const std::vector<Point>& points) {
  if (points.empty()) return;
  Point saved = state_.currentPos;
  MoveTo(points[0].x, points[0].y);
  for (std::size_t i = 1; i < points.size(); ++i) LineTo(points[i].x, points[i].y);
  state_.currentPos = saved;
}

Image DC::GetBitmap(const Rect&) const { return Image(); }

void DC::PutBitmap(const Image& src, int x, int y) {
  if (src.IsNull()) return;
  Point d = LPtoDP(Point{x, y});
  Point e = DPtoLP(Point{d.x + src.Width(), d.y + src.Height()});
  StretchBitmap(src, Rect{x, y, e.x, e.y});
}

PixelDrawingScope::PixelDrawingScope(DC& dc) : dc_(dc), saved_(dc.SaveDC()) {
  // Through the setters, so that a device that mirrors or records its state sees them.
  const DCState opened;
  dc.SelectPen(opened.pen);
  dc.SelectBrush(opened.brush);
  dc.SelectFont(opened.font);
  dc.SetTextColor(opened.textColor);
  dc.SetBkColor(opened.bkColor);
  dc.SetBkMode(opened.bkMode);
  dc.SetTextAlign(opened.textAlign);
  dc.SetROP2(opened.rop2);
  dc.SetMapMode(opened.mapMode);
  dc.SetWindowOrg(opened.windowOrg.x, opened.windowOrg.y);
  dc.SetViewportOrg(opened.viewportOrg.x, opened.viewportOrg.y);
  dc.SetWindowExt(opened.windowExt.cx, opened.windowExt.cy);
  dc.SetViewportExt(opened.viewportExt.cx, opened.viewportExt.cy);
  dc.MoveTo(opened.currentPos.x, opened.currentPos.y);
}

PixelDrawingScope::~PixelDrawingScope() { dc_.RestoreDC(saved_); }

}  // namespace tarmic

namespace tarmic {

namespace {

bool Overlaps(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

std::vector<TextLineMemory::Readout> TextLineMemory::TakeOverlapping(const Rect& cell) {
  std::vector<Readout> taken;
  std::vector<Readout> kept;
  kept.reserve(readouts_.size());
  for (Readout& r : readouts_) (Overlaps(r.cell, cell) ? taken : kept).push_back(std::move(r));
  readouts_ = std::move(kept);
  return taken;
}

void TextLineMemory::Remember(Readout readout) {
  // Readouts stay remembered until a full paint; a long computation that writes at
  // ever new places keeps only the most recent ones.
  constexpr std::size_t kMaxReadouts = 256;
  readouts_.push_back(std::move(readout));
  if (readouts_.size() > kMaxReadouts) readouts_.erase(readouts_.begin());
}

Image TextLineMemory::GiveBack(const Readout& readout, const Image& now) {
  constexpr Color kRgb = 0x00FFFFFFu;
  Image out = now;
  const int w = std::min({now.Width(), readout.under.Width(), readout.drawn.Width()});
  const int h = std::min({now.Height(), readout.under.Height(), readout.drawn.Height()});
  for (int y = 0; y < h; ++y) {
    const Color* under = readout.under.Row(y);
    const Color* drawn = readout.drawn.Row(y);
    Color* px = out.Row(y);
    for (int x = 0; x < w; ++x) {
      if ((px[x] & kRgb) == (drawn[x] & kRgb))
        px[x] = under[x];
      else if ((px[x] & kRgb) == (~drawn[x] & kRgb))
        px[x] = ~under[x] & kRgb;
    }
  }
  return out;
}

bool DC::BeginOpaqueText(const Rect& cell, std::string_view text) {
  pending_ = false;
  if (!textLines_ || state_.mapMode != MapMode::Text || state_.font.escapement != 0) return true;
  const bool blank = text.find_first_not_of(' ') == std::string_view::npos;
  std::vector<TextLineMemory::Readout> earlier = textLines_->TakeOverlapping(cell);
  if (!earlier.empty()) {
    // Given back unclipped and in device pixels: what an earlier readout covered is
    // not limited by the clip of this text.
    DCState& s = MutableState();
    const bool hadClip = s.hasClip;
    s.hasClip = false;
    for (const TextLineMemory::Readout& r : earlier) {
      const Point at = DPtoLP(Point{r.cell.left, r.cell.top});
      PutBitmap(TextLineMemory::GiveBack(r, GetBitmap(r.cell)), at.x, at.y);
    }
    s.hasClip = hadClip;
  }
  if (blank) return false;
  pendingReadout_.cell = cell;
  pendingReadout_.under = GetBitmap(cell);
  pending_ = !pendingReadout_.under.IsNull();
  return true;
}

void DC::EndOpaqueText() {
  if (!pending_) return;
  pending_ = false;
  pendingReadout_.drawn = GetBitmap(pendingReadout_.cell);
  textLines_->Remember(std::move(pendingReadout_));
  pendingReadout_ = TextLineMemory::Readout{};
}

}  // namespace tarmic
