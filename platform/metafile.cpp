// Recorded pictures: the recording DC and the replay.
#include "platform/metafile.h"

namespace tarmic {

// ---------------------------------------------------------------- replay

void MetaFile::Play(DC& dc) const {
  const int saved = dc.SaveDC();
  int depth = 0;  // saved states of the picture itself, still open
  for (const MetaRecord& r : records_) {
    switch (r.op) {
      case MetaOp::SelectPen: dc.SelectPen(r.pen); break;
      case MetaOp::SelectBrush: dc.SelectBrush(r.brush); break;
      case MetaOp::SelectFont: dc.SelectFont(r.font); break;
      case MetaOp::SetTextColor: dc.SetTextColor(r.color); break;
      case MetaOp::SetBkColor: dc.SetBkColor(r.color); break;
      case MetaOp::SetBkMode: dc.SetBkMode(static_cast<BkMode>(r.flags)); break;
      case MetaOp::SetTextAlign: dc.SetTextAlign(r.flags); break;
      case MetaOp::SetROP2: dc.SetROP2(static_cast<Rop2>(r.flags)); break;
      case MetaOp::SetMapMode: dc.SetMapMode(static_cast<MapMode>(r.flags)); break;
      case MetaOp::SetWindowExt: dc.SetWindowExt(r.a, r.b); break;
      case MetaOp::SetViewportExt: dc.SetViewportExt(r.a, r.b); break;
      case MetaOp::SetWindowOrg: dc.SetWindowOrg(r.a, r.b); break;
      case MetaOp::SetViewportOrg: dc.SetViewportOrg(r.a, r.b); break;
      case MetaOp::IntersectClipRect: dc.IntersectClipRect(Rect{r.a, r.b, r.c, r.d}); break;
      case MetaOp::SaveDC:
        dc.SaveDC();
        ++depth;
        break;
      case MetaOp::RestoreDC:
        // Recorded as relative (-n); never restores past the states the picture saved.
        if (r.a < 0 && -r.a <= depth && dc.RestoreDC(r.a)) depth += r.a;
        break;
      case MetaOp::MoveTo: dc.MoveTo(r.a, r.b); break;
      case MetaOp::LineTo: dc.LineTo(r.a, r.b); break;
      case MetaOp::Rectangle: dc.Rectangle(r.a, r.b, r.c, r.d); break;
      case MetaOp::Ellipse: dc.Ellipse(r.a, r.b, r.c, r.d); break;
      case MetaOp::Polyline: dc.Polyline(r.points); break;
      case MetaOp::TextOut: dc.TextOut(r.a, r.b, r.text); break;
      case MetaOp::ExtTextOut: {
        Rect clip{r.c, r.d, r.points.size() > 0 ? r.points[0].x : 0,
                  r.points.size() > 0 ? r.points[0].y : 0};
        dc.ExtTextOut(r.a, r.b, r.flags, r.hasClip ? &clip : nullptr, r.text);
        break;
      }
      case MetaOp::SetPixel: dc.SetPixel(r.a, r.b, r.color); break;
      case MetaOp::StretchBitmap:
        if (r.image) dc.StretchBitmap(*r.image, Rect{r.a, r.b, r.c, r.d});
        break;
    }
  }
  dc.RestoreDC(saved);
}

void MetaFile::PlayInto(DC& dc, const Rect& dest, Size logicalExtent) const {
  dc.SaveDC();
  dc.SetMapMode(MapMode::Anisotropic);
  dc.SetWindowOrg(0, 0);
  dc.SetWindowExt(logicalExtent.cx, logicalExtent.cy);
  dc.SetViewportOrg(dest.left, dest.top);
  dc.SetViewportExt(dest.Width(), dest.Height());
  Play(dc);
  dc.RestoreDC(-1);
}

std::vector<std::string> MetaFile::Texts() const {
  std::vector<std::string> out;
  for (const MetaRecord& r : records_)
    if (r.op == MetaOp::TextOut || r.op == MetaOp::ExtTextOut) out.push_back(r.text);
  return out;
}

// ---------------------------------------------------------------- recording

namespace {
MetaRecord Rec(MetaOp op, int a = 0, int b = 0, int c = 0, int d = 0) {
  MetaRecord r;
  r.op = op;
  r.a = a;
  r.b = b;
  r.c = c;
  r.d = d;
  return r;
}
}  // namespace

MetaFileDC::MetaFileDC() = default;

std::unique_ptr<MetaFile> MetaFileDC::Close() {
  if (closed_) return nullptr;
  closed_ = true;
  return std::make_unique<MetaFile>(std::move(records_));
}

void MetaFileDC::Add(MetaRecord r) {
  if (!closed_) records_.push_back(std::move(r));
}

Pen MetaFileDC::SelectPen(const Pen& pen) {
  MetaRecord r = Rec(MetaOp::SelectPen);
  r.pen = pen;
  Add(std::move(r));
  return DC::SelectPen(pen);
}

Brush MetaFileDC::SelectBrush(const Brush& brush) {
  MetaRecord r = Rec(MetaOp::SelectBrush);
  r.brush = brush;
  Add(std::move(r));
  return DC::SelectBrush(brush);
}

Font MetaFileDC::SelectFont(const Font& font) {
  MetaRecord r = Rec(MetaOp::SelectFont);
  r.font = font;
  Add(std::move(r));
  return DC::SelectFont(font);
}

Color MetaFileDC::SetTextColor(Color c) {
  MetaRecord r = Rec(MetaOp::SetTextColor);
  r.color = c;
  Add(std::move(r));
  return DC::SetTextColor(c);
}

Color MetaFileDC::SetBkColor(Color c) {
  MetaRecord r = Rec(MetaOp::SetBkColor);
  r.color = c;
  Add(std::move(r));
  return DC::SetBkColor(c);
}

BkMode MetaFileDC::SetBkMode(BkMode mode) {
  MetaRecord r = Rec(MetaOp::SetBkMode);
  r.flags = static_cast<unsigned>(mode);
  Add(std::move(r));
  return DC::SetBkMode(mode);
}

unsigned MetaFileDC::SetTextAlign(unsigned flags) {
  MetaRecord r = Rec(MetaOp::SetTextAlign);
  r.flags = flags;
  Add(std::move(r));
  return DC::SetTextAlign(flags);
}

Rop2 MetaFileDC::SetROP2(Rop2 rop) {
  MetaRecord r = Rec(MetaOp::SetROP2);
  r.flags = static_cast<unsigned>(rop);
  Add(std::move(r));
  return DC::SetROP2(rop);
}

MapMode MetaFileDC::SetMapMode(MapMode mode) {
  MetaRecord r = Rec(MetaOp::SetMapMode);
  r.flags = static_cast<unsigned>(mode);
  Add(std::move(r));
  return DC::SetMapMode(mode);
}

Size MetaFileDC::SetWindowExt(int cx, int cy) {
  Add(Rec(MetaOp::SetWindowExt, cx, cy));
  return DC::SetWindowExt(cx, cy);
}

Size MetaFileDC::SetViewportExt(int cx, int cy) {
  Add(Rec(MetaOp::SetViewportExt, cx, cy));
  return DC::SetViewportExt(cx, cy);
}

Point MetaFileDC::SetWindowOrg(int x, int y) {
  Add(Rec(MetaOp::SetWindowOrg, x, y));
  return DC::SetWindowOrg(x, y);
}

Point MetaFileDC::SetViewportOrg(int x, int y) {
  Add(Rec(MetaOp::SetViewportOrg, x, y));
  return DC::SetViewportOrg(x, y);
}

void MetaFileDC::IntersectClipRect(const Rect& rc) {
  Add(Rec(MetaOp::IntersectClipRect, rc.left, rc.top, rc.right, rc.bottom));
  DC::IntersectClipRect(rc);
}

int MetaFileDC::SaveDC() {
  Add(Rec(MetaOp::SaveDC));
  return DC::SaveDC();
}

bool MetaFileDC::RestoreDC(int saved) {
  // Recorded relative to the top of the stack (-n), so that the picture can be
  // played onto a DC that has saved states of its own.
  const int current = SaveDepth();
  const int relative = saved < 0 ? saved : -(current - saved + 1);
  if (saved == 0 || relative >= 0 || -relative > current) return false;
  Add(Rec(MetaOp::RestoreDC, relative));
  return DC::RestoreDC(relative);
}

Point MetaFileDC::MoveTo(int x, int y) {
  Add(Rec(MetaOp::MoveTo, x, y));
  return DC::MoveTo(x, y);
}

void MetaFileDC::LineTo(int x, int y) {
  Add(Rec(MetaOp::LineTo, x, y));
  DC::MoveTo(x, y);
}

void MetaFileDC::Rectangle(int left, int top, int right, int bottom) {
  Add(Rec(MetaOp::Rectangle, left, top, right, bottom));
}

void MetaFileDC::Ellipse(int left, int top, int right, int bottom) {
  Add(Rec(MetaOp::Ellipse, left, top, right, bottom));
}

void MetaFileDC::Polyline(const std::vector<Point>& points) {
  MetaRecord r = Rec(MetaOp::Polyline);
  r.points = points;
  Add(std::move(r));
}

void MetaFileDC::TextOut(int x, int y, std::string_view text) {
  MetaRecord r = Rec(MetaOp::TextOut, x, y);
  r.text = std::string(text);
  Add(std::move(r));
}

void MetaFileDC::ExtTextOut(int x, int y, unsigned options, const Rect* clip,
                            std::string_view text) {
  MetaRecord r = Rec(MetaOp::ExtTextOut, x, y);
  r.flags = options;
  r.text = std::string(text);
  if (clip) {
    r.hasClip = true;
    r.c = clip->left;
    r.d = clip->top;
    r.points.push_back(Point{clip->right, clip->bottom});
  }
  Add(std::move(r));
}

void MetaFileDC::SetPixel(int x, int y, Color c) {
  MetaRecord r = Rec(MetaOp::SetPixel, x, y);
  r.color = c;
  Add(std::move(r));
}

void MetaFileDC::StretchBitmap(const Image& src, const Rect& dst) {
  MetaRecord r = Rec(MetaOp::StretchBitmap, dst.left, dst.top, dst.right, dst.bottom);
  r.image = std::make_shared<const Image>(src);
  Add(std::move(r));
}

}  // namespace tarmic
