#include "platform/qt/qt_text_renderer.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QCoreApplication>
#include <QThread>
#include <QPaintDevice>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>

#include "platform/qt/qt_convert.h"

namespace tarmic {

QString TextFaceFamily() {
  static const QString family = [] {
    const QStringList installed = QFontDatabase::families();
    for (const QString& name : {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("Noto Sans")}) {
      if (installed.contains(name) && QFontDatabase::isScalable(name)) return name;
    }
    QFont interface = QGuiApplication::font();
    interface.setStyleHint(QFont::SansSerif);
    return interface.defaultFamily();
  }();
  return family;
}

namespace {

QFont BaseFont(const Font& f) {
  QFont font;
  font.setFamily(TextFaceFamily());
  font.setStyleHint(QFont::SansSerif, QFont::StyleStrategy(QFont::PreferOutline | QFont::PreferAntialias));
  // Qt's weights use the same 100..900 scale as the program's fonts.
  font.setWeight(static_cast<QFont::Weight>(std::clamp(f.weight <= 0 ? 400 : f.weight, 1, 1000)));
  return font;
}

}  // namespace

QFont QtTextRenderer::MakeQFont(const Font& f, int pixelHeight) {
  QFont font = BaseFont(f);
  pixelHeight = std::max(pixelHeight, 1);
  auto key = std::make_tuple(static_cast<int>(f.family), f.weight, pixelHeight);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pixelSizes_.find(key);
    if (it != pixelSizes_.end()) {
      font.setPixelSize(it->second);
      return font;
    }
  }
  // Qt sizes fonts by their em height; the cell (ascent + descent) is larger. Scale
  // the pixel size so that the cell gets the requested height.
  font.setPixelSize(pixelHeight);
  int cell = QFontMetrics(font).height();
  int size = pixelHeight;
  if (cell > 0 && cell != pixelHeight) {
    size = std::max(1, static_cast<int>(std::lround(double(pixelHeight) * pixelHeight / cell)));
    font.setPixelSize(size);
    if (QFontMetrics(font).height() > pixelHeight && size > 1) {
      --size;
      font.setPixelSize(size);
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  pixelSizes_[key] = size;
  return font;
}

QtTextRenderer::DeviceFont QtTextRenderer::FontOnDevice(const Font& f, int pixelHeight,
                                                        const QPaintDevice* device) {
  const auto make = [&] {
    DeviceFont d;
    d.font = device ? QFont(MakeQFont(f, pixelHeight), device) : MakeQFont(f, pixelHeight);
    const QFontMetricsF fm(d.font);
    d.ascent = fm.ascent();
    d.descent = fm.descent();
    return d;
  };
  const auto key = std::make_tuple(static_cast<int>(f.family), f.weight, pixelHeight,
                                   device ? device->logicalDpiX() : 0, device ? device->logicalDpiY() : 0);
  auto it = deviceFonts_.find(key);
  if (it == deviceFonts_.end()) it = deviceFonts_.emplace(key, make()).first;
  return it->second;
}

namespace {

bool OnApplicationThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

}  // namespace

std::shared_ptr<const QtTextRenderer::ShapedText> QtTextRenderer::Shape(
    const Font& f, int pixelHeight, const QPaintDevice* device, Qt::LayoutDirection direction,
    std::string_view text) {
  const auto shape = [&](const DeviceFont& font) {
    auto t = std::make_shared<ShapedText>();
    t->layout.setText(ToQString(text));
    t->layout.setFont(font.font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(direction);
    t->layout.setTextOption(option);
    t->layout.setCacheEnabled(true);  // keeps the glyphs of the layout for drawing
    t->layout.beginLayout();
    const QTextLine line = t->layout.createLine();
    t->layout.endLayout();
    t->width = line.horizontalAdvance();
    t->lineAscent = line.ascent();
    t->ascent = font.ascent;
    t->descent = font.descent;
    return t;
  };
  if (!OnApplicationThread()) {
    DeviceFont font;
    font.font = device ? QFont(MakeQFont(f, pixelHeight), device) : MakeQFont(f, pixelHeight);
    const QFontMetricsF fm(font.font);
    font.ascent = fm.ascent();
    font.descent = fm.descent();
    return shape(font);
  }
  const int head[] = {static_cast<int>(f.family), f.weight, pixelHeight,
                      device ? device->logicalDpiX() : 0, device ? device->logicalDpiY() : 0,
                      static_cast<int>(direction)};
  std::string key(reinterpret_cast<const char*>(head), sizeof head);
  key.append(text);
  if (auto it = shapedIndex_.find(key); it != shapedIndex_.end()) {
    shaped_.splice(shaped_.begin(), shaped_, it->second);
    return it->second->second;
  }
  std::shared_ptr<const ShapedText> t = shape(FontOnDevice(f, pixelHeight, device));
  shaped_.emplace_front(key, t);
  shapedIndex_[std::move(key)] = shaped_.begin();
  if (shaped_.size() > kShapedTexts) {
    shapedIndex_.erase(shaped_.back().first);
    shaped_.pop_back();
  }
  return t;
}

int QtTextRenderer::CellForDigitHeight(int digitPixels, int minCell) {
  Font f;
  f.family = FontFamily::SansSerif;
  for (int cell = std::max(minCell, 1); cell < minCell + 4 * digitPixels; ++cell) {
    const QFontMetricsF fm(MakeQFont(f, cell));
    if (fm.tightBoundingRect(QStringLiteral("0123456789")).height() >= digitPixels - 0.01) return cell;
  }
  return minCell;
}

TextMetrics QtTextRenderer::Measure(const Font& f, int pixelHeight, std::string_view text) {
  TextMetrics m;
  if (pixelHeight <= 0) return m;
  QFontMetrics fm(MakeQFont(f, pixelHeight));
  m.width = text.empty() ? 0 : fm.horizontalAdvance(ToQString(text));
  m.ascent = fm.ascent();
  m.descent = fm.descent();
  return m;
}

void QtTextRenderer::Draw(Image& image, const Font& f, int pixelHeight, Color color, int x, int y,
                          double angleDeg, std::string_view text, const Rect* clip) {
  if (image.IsNull() || text.empty() || pixelHeight <= 0) return;
  QFont font = MakeQFont(f, pixelHeight);
  QFontMetrics fm(font);
  QString s = ToQString(text);

  // The region the text can touch: its cell, rotated about (x, y), with room for
  // glyphs that reach past their advance.
  QTransform placement;
  placement.translate(x, y);
  placement.rotate(-angleDeg);  // counter-clockwise on a y-down screen
  int pad = pixelHeight;
  QRect cell(-pad, -pad, fm.horizontalAdvance(s) + 2 * pad, fm.height() + 2 * pad);
  QRect region = placement.mapRect(cell).intersected(QRect(0, 0, image.Width(), image.Height()));
  if (clip) region = region.intersected(ToQRect(clip->Normalized()));
  if (region.isEmpty()) return;

  // Paint on a copy of the region and write it back, so that nothing outside the
  // region (or the clip) changes and the pixels keep the program's format.
  QImage patch(region.size(), QImage::Format_RGB32);
  for (int row = 0; row < region.height(); ++row) {
    const Color* src = image.Row(region.top() + row) + region.left();
    auto* dst = reinterpret_cast<QRgb*>(patch.scanLine(row));
    for (int col = 0; col < region.width(); ++col) {
      const Color c = image.FromStored(src[col]);
      dst[col] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
    }
  }
  {
    QPainter painter(&patch);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(font);
    painter.setPen(ToQColor(color));
    painter.translate(x - region.left(), y - region.top());
    painter.rotate(-angleDeg);
    painter.drawText(QPointF(0, fm.ascent()), s);
  }
  for (int row = 0; row < region.height(); ++row) {
    const auto* src = reinterpret_cast<const QRgb*>(patch.constScanLine(row));
    Color* dst = image.Row(region.top() + row) + region.left();
    for (int col = 0; col < region.width(); ++col) dst[col] = image.ToStored(FromQRgb(src[col]));
  }
}

}  // namespace tarmic
