#include "platform/qt/qpainter_dc.h"

#include <QPaintEngine>
#include <QPen>
#include <QTextLayout>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_text_renderer.h"

namespace tarmic {

namespace {

Qt::PenStyle ToQtPenStyle(PenStyle style) {
  switch (style) {
    case PenStyle::Solid: return Qt::SolidLine;
    case PenStyle::Dash: return Qt::DashLine;
    case PenStyle::Dot: return Qt::DotLine;
    case PenStyle::Null: return Qt::NoPen;
  }
  return Qt::SolidLine;
}

}  // namespace

QPainterDC::QPainterDC(QPainter& painter, QtTextRenderer* fonts, bool smooth, int minTextPixels)
    : painter_(painter), fonts_(fonts), smooth_(smooth), minTextPixels_(minTextPixels) {
  if (!fonts_) {
    ownFonts_ = std::make_unique<QtTextRenderer>();
    fonts_ = ownFonts_.get();
  }
  QPaintEngine* engine = painter_.paintEngine();
  rasterOps_ = engine && engine->hasFeature(QPaintEngine::RasterOpModes);
  painter_.setRenderHint(QPainter::Antialiasing, false);
}

QPainterDC::~QPainterDC() {
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.setClipping(false);
}

bool QPainterDC::Smooth() const {
  return smooth_ && State().rop2 != Rop2::Not && GetMapMode() != MapMode::Text;
}

QPointF QPainterDC::DevicePoint(Point p) const {
  const DCState& s = State();
  if (s.mapMode == MapMode::Text) return QPointF(p.x, p.y);
  // device = (logical - window origin) * scale + viewport origin, unrounded.
  return QPointF((p.x - s.windowOrg.x) * ScaleX() + s.viewportOrg.x,
                 (p.y - s.windowOrg.y) * ScaleY() + s.viewportOrg.y);
}

void QPainterDC::Prepare(bool withPen, bool withBrush) {
  const DCState& s = State();
  painter_.setRenderHint(QPainter::Antialiasing, Smooth());
  bool invert = s.rop2 == Rop2::Not;
  if (invert && rasterOps_) {
    painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
  } else {
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
  // With NOT the pen's colour does not matter; on a device without raster operations
  // the inverse of the white page is drawn.
  Color penColor = invert ? kBlack : s.pen.color;
  Color brushColor = invert ? kBlack : s.brush.color;

  if (withPen && s.pen.style != PenStyle::Null) {
    QPen pen(ToQColor(penColor));
    pen.setStyle(ToQtPenStyle(s.pen.style));
    if (s.pen.width <= 0) {
      pen.setWidth(0);  // cosmetic: one device pixel whatever the mapping
      pen.setCosmetic(true);
      pen.setCapStyle(Qt::FlatCap);
    } else {
      double scale = (std::abs(ScaleX()) + std::abs(ScaleY())) / 2.0;
      pen.setWidthF(std::max(1.0, s.pen.width * scale));
      pen.setCapStyle(Qt::RoundCap);
      pen.setJoinStyle(Qt::RoundJoin);
    }
    painter_.setPen(pen);
  } else {
    painter_.setPen(Qt::NoPen);
  }
  if (withBrush && s.brush.style != BrushStyle::Null) {
    painter_.setBrush(QBrush(ToQColor(brushColor)));
  } else {
    painter_.setBrush(Qt::NoBrush);
  }
  if (s.hasClip) {
    painter_.setClipRect(ToQRect(s.clip.Normalized()));
  } else {
    painter_.setClipping(false);
  }
}

QRectF QPainterDC::DeviceRect(int left, int top, int right, int bottom) const {
  if (Smooth()) return QRectF(DevicePoint(Point{left, top}), DevicePoint(Point{right, bottom})).normalized();
  Point a = LPtoDP(Point{left, top});
  Point b = LPtoDP(Point{right, bottom});
  Rect r = Rect{a.x, a.y, b.x, b.y}.Normalized();
  return QRectF(r.left, r.top, r.Width(), r.Height());
}

void QPainterDC::LineTo(int x, int y) {
  Point from = LPtoDP(GetCurrentPosition());
  Point to = LPtoDP(Point{x, y});
  Prepare(true, false);
  if (Smooth()) {
    // Through the centres of the pixels: a one-pixel line covers one column or row.
    const QPointF half(0.5, 0.5);
    const QPointF a = DevicePoint(GetCurrentPosition()) + half, b = DevicePoint(Point{x, y}) + half;
    if (a != b) painter_.drawLine(a, b);
  } else if (from == to) {
    // A line of length zero draws nothing, as the end pixel is excluded.
  } else {
    painter_.drawLine(QPointF(from.x, from.y), QPointF(to.x, to.y));
  }
  DC::MoveTo(x, y);
}

void QPainterDC::Rectangle(int left, int top, int right, int bottom) {
  QRectF r = DeviceRect(left, top, right, bottom);
  if (r.isEmpty()) return;
  const DCState& s = State();
  bool outline = s.pen.style != PenStyle::Null;
  if (Smooth()) {
    // The interior fills the rectangle; the outline runs through the centres of its
    // border pixels, inside it.
    Prepare(outline, s.brush.style != BrushStyle::Null);
    painter_.drawRect(outline ? r.adjusted(0.5, 0.5, -0.5, -0.5) : r);
    return;
  }
  if (s.brush.style != BrushStyle::Null) {
    Prepare(false, true);
    painter_.setPen(Qt::NoPen);
    // The interior and the outline do not overlap, so NOT inverts each pixel once.
    QRectF inner = outline ? r.adjusted(1, 1, -1, -1) : r;
    if (!inner.isEmpty()) painter_.drawRect(inner);
  }
  if (outline) {
    Prepare(true, false);
    // The outline lies inside the rectangle, whose right and bottom are exclusive.
    painter_.drawRect(r.adjusted(0, 0, -1, -1));
  }
}

void QPainterDC::Ellipse(int left, int top, int right, int bottom) {
  QRectF r = DeviceRect(left, top, right, bottom);
  if (r.isEmpty()) return;
  Prepare(true, true);
  painter_.drawEllipse(Smooth() ? r.adjusted(0.5, 0.5, -0.5, -0.5) : r.adjusted(0, 0, -1, -1));
}

void QPainterDC::DrawText(int x, int y, std::string_view text) {
  const DCState& s = State();
  // Cell height in device pixels: the font height scaled like a vertical length.
  int pixelHeight = static_cast<int>(std::abs(s.font.height) * std::fabs(ScaleY()));
  if (pixelHeight < 1 && s.font.height != 0) pixelHeight = 1;
  if (s.font.height != 0) pixelHeight = std::max(pixelHeight, minTextPixels_);
  if (pixelHeight <= 0 || text.empty()) return;
  // The text is shaped once, for its width and for drawing it.
  const std::shared_ptr<const QtTextRenderer::ShapedText> shaped =
      fonts_->Shape(s.font, pixelHeight, painter_.device(), painter_.layoutDirection(), text);
  const double width = shaped->width;
  const double ascent = shaped->ascent;
  const double cellHeight = shaped->ascent + shaped->descent;

  bool updateCp = (s.textAlign & TA_UPDATECP) != 0;
  const Point refLogical = updateCp ? GetCurrentPosition() : Point{x, y};
  const Point rounded = LPtoDP(refLogical);
  const QPointF ref = Smooth() ? DevicePoint(refLogical) : QPointF(rounded.x, rounded.y);
  double angleDeg = s.font.escapement / 10.0;

  double dx = 0;
  switch (s.textAlign & TA_HMASK) {
    case TA_RIGHT: dx = -width; break;
    case TA_CENTER: dx = -width / 2; break;
    default: break;
  }
  double dy = 0;
  switch (s.textAlign & TA_VMASK) {
    case TA_BASELINE: dy = -ascent; break;
    case TA_BOTTOM: dy = -cellHeight; break;
    default: break;
  }

  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.setRenderHint(QPainter::TextAntialiasing, true);
  painter_.setRenderHint(QPainter::Antialiasing, smooth_);
  if (s.hasClip) {
    painter_.setClipRect(ToQRect(s.clip.Normalized()), Qt::IntersectClip);
  }
  if (textLog_) {
    QTransform placement;
    placement.translate(ref.x(), ref.y());
    placement.rotate(-angleDeg);
    const QRectF box = placement.mapRect(QRectF(dx, dy, width, cellHeight));
    const QRectF clip = painter_.hasClipping() ? painter_.clipBoundingRect() : QRectF();
    textLog_->push_back(DrawnText{std::string(text), box, clip, pixelHeight});
  }
  const bool readout = s.bkMode == BkMode::Opaque && s.font.escapement == 0;
  if (readout) {
    // An upright cell; on a window a readout that first gives back the earlier ones it
    // overlaps.
    const QRectF cell(ref.x() + dx, ref.y() + dy, width, cellHeight);
    const Rect area{static_cast<int>(std::floor(cell.left())), static_cast<int>(std::floor(cell.top())),
                    static_cast<int>(std::ceil(cell.right())), static_cast<int>(std::ceil(cell.bottom()))};
    if (BeginOpaqueText(area, text)) {
      // Whole pixels: without a transform the plain fill covers the same pixels as the
      // antialiased one, without the rasterizer.
      const bool plain = painter_.transform().type() == QTransform::TxNone;
      if (plain) painter_.setRenderHint(QPainter::Antialiasing, false);
      painter_.fillRect(QRect(area.left, area.top, area.right - area.left, area.bottom - area.top),
                        ToQColor(s.bkColor));
      if (plain) painter_.setRenderHint(QPainter::Antialiasing, smooth_);
    }
  }
  // The glyphs are placed through the painter's transform, which fixes how their
  // positions round.
  const QTransform before = painter_.worldTransform();
  painter_.translate(ref.x(), ref.y());
  if (angleDeg != 0) painter_.rotate(-angleDeg);
  if (s.bkMode == BkMode::Opaque && s.font.escapement != 0) {
    painter_.fillRect(QRectF(dx, dy, width, cellHeight), ToQColor(s.bkColor));
  }
  painter_.setPen(ToQColor(s.textColor));
  shaped->layout.draw(&painter_, QPointF(dx, dy + ascent - shaped->lineAscent));
  painter_.setWorldTransform(before);
  if (readout) EndOpaqueText();

  if (updateCp) {
    // The current position moves to the far end of the text.
    double advance = 0;
    switch (s.textAlign & TA_HMASK) {
      case TA_RIGHT: advance = -width; break;
      case TA_CENTER: advance = 0; break;
      default: advance = width; break;
    }
    double rad = angleDeg * std::numbers::pi / 180.0;
    Point end{static_cast<int>(ref.x() + advance * std::cos(rad)),
              static_cast<int>(ref.y() - advance * std::sin(rad))};
    Point logical = DPtoLP(end);
    DC::MoveTo(logical.x, logical.y);
  }
}

void QPainterDC::TextOut(int x, int y, std::string_view text) {
  painter_.setClipping(false);
  DrawText(x, y, text);
  painter_.setClipping(false);
}

void QPainterDC::ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) {
  painter_.setClipping(false);
  if (clip) {
    QRectF r = DeviceRect(clip->left, clip->top, clip->right, clip->bottom);
    if (options & ETO_OPAQUE) {
      painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
      if (State().hasClip) painter_.setClipRect(ToQRect(State().clip.Normalized()));
      painter_.fillRect(r, ToQColor(State().bkColor));
      painter_.setClipping(false);
    }
    if (options & ETO_CLIPPED) painter_.setClipRect(r);
  }
  DrawText(x, y, text);
  painter_.setClipping(false);
}

void QPainterDC::SetPixel(int x, int y, Color c) {
  Point p = LPtoDP(Point{x, y});
  Prepare(false, false);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.fillRect(QRectF(p.x, p.y, 1, 1), ToQColor(c));
}

void QPainterDC::StretchBitmap(const Image& src, const Rect& dst) {
  if (src.IsNull()) return;
  QRectF r = DeviceRect(dst.left, dst.top, dst.right, dst.bottom);
  if (r.isEmpty()) return;
  Prepare(false, false);
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter_.drawImage(r, ToQImage(src));
}

}  // namespace tarmic
