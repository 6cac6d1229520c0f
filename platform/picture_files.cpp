// Pictures as SVG documents and PNG images.
#include "platform/picture_files.h"

#include <png.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/raster_dc.h"

namespace tarmic {

namespace {

void AppendNumber(std::string& out, double v) {
  char buffer[32];
  // One decimal is finer than a pixel; integers go without one.
  const double rounded = std::round(v * 10.0) / 10.0;
  std::to_chars_result r;
  if (rounded == std::floor(rounded) && std::fabs(rounded) < 1e9)
    r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(rounded));
  else
    r = std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, 1);
  out.append(buffer, r.ptr);
}

// name="value" with a number value, preceded by a blank.
void Attribute(std::string& out, const char* name, double v) {
  out += ' ';
  out += name;
  out += "=\"";
  AppendNumber(out, v);
  out += '"';
}

std::string ColorText(Color c) {
  static const char* const kHex = "0123456789abcdef";
  std::string text = "#";
  for (const int part : {GetRValue(c), GetGValue(c), GetBValue(c)}) {
    text += kHex[part >> 4];
    text += kHex[part & 15];
  }
  return text;
}

// The length of the valid UTF-8 sequence starting at s[i], or 0.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

// Text as XML character data: markup characters escaped, control characters as
// blanks, bytes that are no UTF-8 taken as Latin-1 characters (the program's
// texts hold a few, such as the degree sign).
std::string XmlText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      switch (b) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += b < 0x20 ? ' ' : static_cast<char>(b);
      }
      ++i;
    } else if (const std::size_t n = Utf8Length(s, i); n > 0) {
      out.append(s.substr(i, n));
      i += n;
    } else {
      out += "&#" + std::to_string(b) + ";";
      ++i;
    }
  }
  return out;
}

std::string Base64(const std::vector<std::uint8_t>& bytes) {
  static const char* const kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const unsigned v = (unsigned{bytes[i]} << 16) | (i + 1 < bytes.size() ? unsigned{bytes[i + 1]} << 8 : 0u) |
                       (i + 2 < bytes.size() ? unsigned{bytes[i + 2]} : 0u);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
  }
  return out;
}

// Pen width in device pixels as the raster target draws it; 0 for a null pen.
int PenPixels(const Pen& pen, double scale) {
  if (pen.style == PenStyle::Null) return 0;
  if (pen.width <= 0) return 1;
  return std::max(1, static_cast<int>(pen.width * std::fabs(scale)));
}

bool SameRect(const Rect& a, const Rect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Maps the picture's area onto a device of the given size: the whole logical extent
// onto a viewport as much larger than the device as the extent is than the area,
// placed so that the area covers the device. A picture that sets the window extent
// of its picture space itself (as the plots' pictures do) keeps this mapping.
void MapArea(DC& dc, const Rect& area, Size size, Size logicalExtent) {
  const double sx = static_cast<double>(size.cx) / std::max(area.Width(), 1);
  const double sy = static_cast<double>(size.cy) / std::max(area.Height(), 1);
  dc.SetMapMode(MapMode::Anisotropic);
  dc.SetWindowOrg(0, 0);
  dc.SetWindowExt(logicalExtent.cx, logicalExtent.cy);
  dc.SetViewportOrg(static_cast<int>(std::lround(-area.left * sx)), static_cast<int>(std::lround(-area.top * sy)));
  dc.SetViewportExt(static_cast<int>(std::lround(logicalExtent.cx * sx)),
                    static_cast<int>(std::lround(logicalExtent.cy * sy)));
}

}  // namespace

SvgDC::SvgDC(int width, int height, TextRenderer* text)
    : width_(std::max(width, 1)), height_(std::max(height, 1)), text_(text) {}

std::string SvgDC::StrokeAttributes() const {
  const Pen& pen = State().pen;
  const int w = PenPixels(pen, ScaleX());
  if (w == 0) return "";
  std::string a = " fill=\"none\" stroke=\"" + ColorText(pen.color) + "\"";
  Attribute(a, "stroke-width", w);
  if (pen.style == PenStyle::Dash) a += " stroke-dasharray=\"18 6\"";
  if (pen.style == PenStyle::Dot) a += " stroke-dasharray=\"3 3\"";
  a += w > 1 ? " stroke-linecap=\"round\" stroke-linejoin=\"round\"" : " stroke-linejoin=\"round\"";
  return a;
}

std::string SvgDC::ClipPathOf(const Rect& r) {
  const std::string id = "c" + std::to_string(++clipCount_);
  body_ += "<clipPath id=\"" + id + "\"><rect";
  Attribute(body_, "x", r.left);
  Attribute(body_, "y", r.top);
  Attribute(body_, "width", r.Width());
  Attribute(body_, "height", r.Height());
  body_ += "/></clipPath>";
  return " clip-path=\"url(#" + id + ")\"";
}

void SvgDC::CloseStyleGroup() {
  if (!groupOpen_) return;
  body_ += "</g>\n";
  groupOpen_ = false;
}

void SvgDC::BeginElement(bool grouped) {
  const bool wanted = State().hasClip;
  const Rect clip = State().clip.Normalized();
  if (!grouped || (clipOpen_ && (!wanted || !SameRect(clip, openClip_)))) CloseStyleGroup();
  if (clipOpen_ && (!wanted || !SameRect(clip, openClip_))) {
    body_ += "</g>\n";
    clipOpen_ = false;
  }
  if (wanted && !clipOpen_) {
    body_ += "<g" + ClipPathOf(clip) + ">\n";
    clipOpen_ = true;
    openClip_ = clip;
  }
}

void SvgDC::FlushPath() {
  if (path_.empty()) return;
  body_ += "<path d=\"" + path_ + "\"";
  // The pen of the path was current when it began.
  const Pen current = State().pen;
  MutableState().pen = pathPen_;
  body_ += StrokeAttributes();
  MutableState().pen = current;
  body_ += "/>\n";
  path_.clear();
}

void SvgDC::LineTo(int x, int y) {
  const Point a = LPtoDP(State().currentPos);
  const Point b = LPtoDP(Point{x, y});
  MutableState().currentPos = Point{x, y};
  if (PenPixels(State().pen, ScaleX()) == 0) return;
  const bool clipSame = State().hasClip == clipOpen_ && (!clipOpen_ || SameRect(State().clip.Normalized(), openClip_));
  if (!path_.empty() && (!(State().pen == pathPen_) || !clipSame)) FlushPath();
  if (path_.empty()) {
    BeginElement();
    pathPen_ = State().pen;
  }
  // Pixel centres lie half a unit inside the pixel, as the raster target sets them.
  if (path_.empty() || a.x != pathEnd_.x || a.y != pathEnd_.y) {
    if (!path_.empty()) path_ += ' ';
    path_ += 'M';
    AppendNumber(path_, a.x + 0.5);
    path_ += ' ';
    AppendNumber(path_, a.y + 0.5);
  }
  path_ += 'L';
  AppendNumber(path_, b.x + 0.5);
  path_ += ' ';
  AppendNumber(path_, b.y + 0.5);
  pathEnd_ = b;
}

void SvgDC::Polyline(const std::vector<Point>& points) {
  if (points.empty()) return;
  const Point saved = State().currentPos;
  MutableState().currentPos = points.front();
  for (std::size_t i = 1; i < points.size(); ++i) LineTo(points[i].x, points[i].y);
  MutableState().currentPos = saved;
}

Rect SvgDC::DeviceRectOf(int left, int top, int right, int bottom) const {
  const Point a = LPtoDP(Point{left, top});
  const Point b = LPtoDP(Point{right, bottom});
  return Rect{a.x, a.y, b.x, b.y}.Normalized();
}

std::string SvgDC::FillAndStroke(bool fill, int penPixels) const {
  std::string a = " fill=\"" + (fill ? ColorText(State().brush.color) : std::string("none")) + "\"";
  if (penPixels > 0) {
    a += " stroke=\"" + ColorText(State().pen.color) + "\"";
    Attribute(a, "stroke-width", penPixels);
  }
  return a;
}

void SvgDC::Rectangle(int left, int top, int right, int bottom) {
  FlushPath();
  const Rect r = DeviceRectOf(left, top, right, bottom);
  if (r.IsEmpty()) return;
  BeginElement();
  const int pw = PenPixels(State().pen, ScaleX());
  const bool fill = State().brush.style != BrushStyle::Null;
  if (pw == 0 && !fill) return;
  // The outline lies inside the rectangle, as the raster target draws it.
  const double inset = pw / 2.0;
  body_ += "<rect";
  Attribute(body_, "x", r.left + inset);
  Attribute(body_, "y", r.top + inset);
  Attribute(body_, "width", std::max(0.0, r.Width() - 2 * inset));
  Attribute(body_, "height", std::max(0.0, r.Height() - 2 * inset));
  body_ += FillAndStroke(fill, pw) + "/>\n";
}

void SvgDC::Ellipse(int left, int top, int right, int bottom) {
  FlushPath();
  const Rect r = DeviceRectOf(left, top, right, bottom);
  if (r.IsEmpty()) return;
  const int pw = PenPixels(State().pen, ScaleX());
  const bool fill = State().brush.style != BrushStyle::Null;
  if (pw == 0 && !fill) return;
  BeginElement(true);
  const std::string style = FillAndStroke(fill, pw);
  if (!groupOpen_ || style != groupStyle_) {
    CloseStyleGroup();
    body_ += "<g" + style + ">\n";
    groupStyle_ = style;
    groupOpen_ = true;
  }
  body_ += "<ellipse";
  Attribute(body_, "cx", (r.left + r.right) / 2.0);
  Attribute(body_, "cy", (r.top + r.bottom) / 2.0);
  Attribute(body_, "rx", std::max(0.0, (r.Width() - pw) / 2.0));
  Attribute(body_, "ry", std::max(0.0, (r.Height() - pw) / 2.0));
  body_ += "/>\n";
}

void SvgDC::TextOut(int x, int y, std::string_view text) { DrawText(x, y, 0, nullptr, text); }

void SvgDC::ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) {
  DrawText(x, y, options, clip, text);
}

void SvgDC::DrawText(int x, int y, unsigned options, const Rect* logicalClip, std::string_view text) {
  FlushPath();
  BeginElement();
  const DCState& s = State();
  std::string clipAttribute;
  if (logicalClip) {
    const Rect r = DeviceRectOf(logicalClip->left, logicalClip->top, logicalClip->right, logicalClip->bottom);
    if (options & ETO_OPAQUE) {
      body_ += "<rect";
      Attribute(body_, "x", r.left);
      Attribute(body_, "y", r.top);
      Attribute(body_, "width", r.Width());
      Attribute(body_, "height", r.Height());
      body_ += " fill=\"" + ColorText(s.bkColor) + "\"/>\n";
    }
    if (options & ETO_CLIPPED) {
      clipAttribute = ClipPathOf(r);
    }
  }
  int h = static_cast<int>(std::abs(s.font.height) * std::fabs(ScaleY()));
  if (h < 1 && s.font.height != 0) h = 1;
  if (h <= 0) return;
  const bool updateCp = (s.textAlign & TA_UPDATECP) != 0;
  const Point refLogical = updateCp ? s.currentPos : Point{x, y};
  const Point ref = LPtoDP(refLogical);
  TextRenderer& renderer = text_ ? *text_ : DefaultTextRenderer();
  const TextMetrics m = renderer.Measure(s.font, h, text);
  const unsigned halign = s.textAlign & TA_HMASK, valign = s.textAlign & TA_VMASK;
  const double angle = s.font.escapement / 10.0;
  const double rad = angle * 3.14159265358979323846 / 180.0;
  const double ux = std::cos(rad), uy = -std::sin(rad), vx = std::sin(rad), vy = std::cos(rad);
  // The anchor on the baseline, at the start, middle or end of the text.
  const double down = valign == TA_TOP ? m.ascent : (valign == TA_BOTTOM ? -m.descent : 0.0);
  const double px = ref.x + down * vx, py = ref.y + down * vy;
  const std::string rotate = angle != 0.0 ? [&] {
    std::string t = " transform=\"rotate(";
    AppendNumber(t, -angle);
    t += ' ';
    AppendNumber(t, px);
    t += ' ';
    AppendNumber(t, py);
    return t + ")\"";
  }()
                                          : std::string();
  if (s.bkMode == BkMode::Opaque && m.width > 0 && !text.empty()) {
    const double along = halign == TA_CENTER ? m.width / 2.0 : (halign == TA_RIGHT ? m.width : 0.0);
    body_ += "<rect";
    Attribute(body_, "x", px - along);
    Attribute(body_, "y", py - m.ascent);
    Attribute(body_, "width", m.width);
    Attribute(body_, "height", m.ascent + m.descent);
    body_ += " fill=\"" + ColorText(s.bkColor) + "\"" + rotate + clipAttribute + "/>\n";
  }
  if (!text.empty()) {
    body_ += "<text";
    Attribute(body_, "x", px);
    Attribute(body_, "y", py);
    body_ += s.font.family == FontFamily::Serif ? " font-family=\"serif\"" : " font-family=\"sans-serif\"";
    Attribute(body_, "font-size", h);
    if (s.font.weight != 400) Attribute(body_, "font-weight", s.font.weight);
    if (halign == TA_CENTER) body_ += " text-anchor=\"middle\"";
    if (halign == TA_RIGHT) body_ += " text-anchor=\"end\"";
    body_ += " fill=\"" + ColorText(s.textColor) + "\" xml:space=\"preserve\"" + rotate + clipAttribute + ">";
    body_ += XmlText(text);
    body_ += "</text>\n";
  }
  if (updateCp) {
    const double adv = halign == TA_CENTER ? 0.0 : (halign == TA_RIGHT ? -m.width : m.width);
    const double sx = ScaleX(), sy = ScaleY();
    MutableState().currentPos =
        Point{refLogical.x + static_cast<int>(std::lround(adv * ux / (sx == 0 ? 1 : sx))),
              refLogical.y + static_cast<int>(std::lround(adv * uy / (sy == 0 ? 1 : sy)))};
  }
}

void SvgDC::SetPixel(int x, int y, Color c) {
  FlushPath();
  BeginElement();
  const Point p = LPtoDP(Point{x, y});
  body_ += "<rect";
  Attribute(body_, "x", p.x);
  Attribute(body_, "y", p.y);
  body_ += " width=\"1\" height=\"1\" fill=\"" + ColorText(c) + "\"/>\n";
}

void SvgDC::StretchBitmap(const Image& src, const Rect& dst) {
  FlushPath();
  if (src.IsNull()) return;
  const Rect d = DeviceRectOf(dst.left, dst.top, dst.right, dst.bottom);
  if (d.IsEmpty()) return;
  const std::string uri = PngDataUri(src);
  if (uri.empty()) return;
  BeginElement();
  body_ += "<image";
  Attribute(body_, "x", d.left);
  Attribute(body_, "y", d.top);
  Attribute(body_, "width", d.Width());
  Attribute(body_, "height", d.Height());
  body_ += " preserveAspectRatio=\"none\" style=\"image-rendering:pixelated\" xlink:href=\"" + uri + "\"/>\n";
}

std::string SvgDC::Document() {
  FlushPath();
  CloseStyleGroup();
  if (clipOpen_) {
    body_ += "</g>\n";
    clipOpen_ = false;
  }
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
                    "xmlns:xlink=\"http://www.w3.org/1999/xlink\" version=\"1.1\"";
  Attribute(doc, "width", width_);
  Attribute(doc, "height", height_);
  doc += " viewBox=\"0 0 " + std::to_string(width_) + " " + std::to_string(height_) + "\">\n";
  doc += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  return doc + body_ + "</svg>\n";
}

std::string PictureToSvg(const PictureLayers& layers, const Rect& area, Size size, Size logicalExtent) {
  SvgDC dc(size.cx, size.cy);
  MapArea(dc, area, size, logicalExtent);
  for (const MetaFile* picture : layers)
    if (picture) picture->Play(dc);
  return dc.Document();
}

Image PictureToImage(const PictureLayers& layers, const Rect& area, Size size, Size logicalExtent) {
  Image image(size.cx, size.cy, kWhite);
  if (image.IsNull()) return image;
  RasterDC dc(image);
  MapArea(dc, area, size, logicalExtent);
  for (const MetaFile* picture : layers)
    if (picture) picture->Play(dc);
  return image;
}

namespace {

// A device that draws nothing and keeps the cell of each text, in device units
// (the logical units of a picture played 1:1), as SvgDC places it.
class TextBoxDC : public DC {
 public:
  void LineTo(int x, int y) override { MutableState().currentPos = Point{x, y}; }
  void Rectangle(int, int, int, int) override {}
  void Ellipse(int, int, int, int) override {}
  void SetPixel(int, int, Color) override {}
  void StretchBitmap(const Image&, const Rect&) override {}
  void TextOut(int x, int y, std::string_view text) override { Box(x, y, nullptr, text); }
  void ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) override {
    Box(x, y, options & ETO_CLIPPED ? clip : nullptr, text);
  }
  std::vector<Rect> boxes;

 private:
  void Box(int x, int y, const Rect* logicalClip, std::string_view text) {
    const DCState& s = State();
    const int h = static_cast<int>(std::abs(s.font.height) * std::fabs(ScaleY()));
    const Point ref = LPtoDP((s.textAlign & TA_UPDATECP) ? s.currentPos : Point{x, y});
    const TextMetrics m = DefaultTextRenderer().Measure(s.font, std::max(h, 1), text);
    if (text.empty() || h <= 0) return;
    const unsigned halign = s.textAlign & TA_HMASK, valign = s.textAlign & TA_VMASK;
    // The cell relative to the anchor on the baseline, then turned about the anchor.
    const double along = halign == TA_CENTER ? m.width / 2.0 : (halign == TA_RIGHT ? m.width : 0.0);
    const double down = valign == TA_TOP ? m.ascent : (valign == TA_BOTTOM ? -m.descent : 0.0);
    const double rad = s.font.escapement / 10.0 * 3.14159265358979323846 / 180.0;
    const double ux = std::cos(rad), uy = -std::sin(rad), vx = std::sin(rad), vy = std::cos(rad);
    const double ax = ref.x + down * vx, ay = ref.y + down * vy;
    double x0 = 1e18, y0 = 1e18, x1 = -1e18, y1 = -1e18;
    for (const double u : {-along, m.width - along})
      for (const double v : {-static_cast<double>(m.ascent), static_cast<double>(m.descent)}) {
        const double px = ax + u * ux + v * vx, py = ay + u * uy + v * vy;
        x0 = std::min(x0, px), x1 = std::max(x1, px), y0 = std::min(y0, py), y1 = std::max(y1, py);
      }
    Rect box{static_cast<int>(std::floor(x0)), static_cast<int>(std::floor(y0)), static_cast<int>(std::ceil(x1)),
             static_cast<int>(std::ceil(y1))};
    if (logicalClip) {
      const Point a = LPtoDP(Point{logicalClip->left, logicalClip->top});
      const Point b = LPtoDP(Point{logicalClip->right, logicalClip->bottom});
      const Rect clip = Rect{a.x, a.y, b.x, b.y}.Normalized();
      box = Rect{std::max(box.left, clip.left), std::max(box.top, clip.top), std::min(box.right, clip.right),
                 std::min(box.bottom, clip.bottom)};
      if (box.IsEmpty()) return;
    }
    boxes.push_back(box);
  }
};

}  // namespace

std::vector<Rect> PictureTextBoxes(const PictureLayers& layers, Size logicalExtent) {
  TextBoxDC dc;
  MapArea(dc, Rect{0, 0, logicalExtent.cx, logicalExtent.cy}, logicalExtent, logicalExtent);
  for (const MetaFile* picture : layers)
    if (picture) picture->Play(dc);
  return dc.boxes;
}

std::string PngDataUri(const Image& image) {
  const std::optional<std::vector<std::uint8_t>> png = EncodePng(image);
  return png ? "data:image/png;base64," + Base64(*png) : std::string();
}

Image ShrinkImage(const Image& image, int width) {
  if (image.IsNull() || width <= 0 || width >= image.Width()) return image;
  const Size size = CanvasSizeFor(Rect{0, 0, image.Width(), image.Height()}, width);
  Image out(size.cx, size.cy, kWhite);
  for (int y = 0; y < size.cy; ++y) {
    const int y0 = static_cast<int>(static_cast<long long>(y) * image.Height() / size.cy);
    const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<long long>(y + 1) * image.Height() / size.cy));
    for (int x = 0; x < size.cx; ++x) {
      const int x0 = static_cast<int>(static_cast<long long>(x) * image.Width() / size.cx);
      const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<long long>(x + 1) * image.Width() / size.cx));
      long r = 0, g = 0, b = 0, n = 0;
      for (int yy = y0; yy < y1; ++yy)
        for (int xx = x0; xx < x1; ++xx) {
          const Color c = image.Pixel(xx, yy);
          r += GetRValue(c);
          g += GetGValue(c);
          b += GetBValue(c);
          ++n;
        }
      out.SetPixel(x, y, RGB(static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(b / n)));
    }
  }
  return out;
}

Size CanvasSizeFor(const Rect& area, int width) {
  const int w = std::max(area.Width(), 1), h = std::max(area.Height(), 1);
  return Size{width, std::max(1, static_cast<int>(std::lround(static_cast<double>(width) * h / w)))};
}

std::optional<std::vector<std::uint8_t>> EncodePng(const Image& image, std::string* error) {
  if (image.IsNull()) {
    if (error) *error = "an empty image";
    return std::nullopt;
  }
  const auto w = static_cast<std::size_t>(image.Width()), h = static_cast<std::size_t>(image.Height());
  std::vector<std::uint8_t> rgb(w * h * 3);
  for (std::size_t y = 0; y < h; ++y) {
    const Color* row = image.Row(static_cast<int>(y));
    std::uint8_t* bytes = rgb.data() + y * w * 3;
    for (std::size_t x = 0; x < w; ++x) {
      const Color c = image.FromStored(row[x]);
      bytes[3 * x] = static_cast<std::uint8_t>(GetRValue(c));
      bytes[3 * x + 1] = static_cast<std::uint8_t>(GetGValue(c));
      bytes[3 * x + 2] = static_cast<std::uint8_t>(GetBValue(c));
    }
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(w);
  png.height = static_cast<png_uint_32>(h);
  png.format = PNG_FORMAT_RGB;
  // Pictures of plots are mostly background: the fast filters compress them nearly
  // as well, in a fraction of the time.
  png.flags = PNG_IMAGE_FLAG_FAST;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(png, size, 0, rgb.data(), 0, nullptr)) {
    if (error) *error = png.message;
    png_image_free(&png);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(size);
  if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, rgb.data(), 0, nullptr)) {
    if (error) *error = png.message;
    png_image_free(&png);
    return std::nullopt;
  }
  bytes.resize(size);
  return bytes;
}

std::optional<Image> DecodePng(const std::vector<std::uint8_t>& bytes, std::string* error, std::uint64_t maxPixels) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (bytes.empty() || !png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
    if (error) *error = bytes.empty() ? "no bytes" : png.message;
    png_image_free(&png);
    return std::nullopt;
  }
  if (png.width == 0 || png.height == 0 || png.width > 0x7FFFFFFFu || png.height > 0x7FFFFFFFu ||
      static_cast<std::uint64_t>(png.width) * png.height > maxPixels) {
    if (error)
      *error = "the picture claims " + std::to_string(png.width) + " x " + std::to_string(png.height) +
               " pixels, more than the " + std::to_string(maxPixels) + " pixels decoded";
    png_image_free(&png);
    return std::nullopt;
  }
  png.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) {
    if (error) *error = png.message;
    png_image_free(&png);
    return std::nullopt;
  }
  const int w = static_cast<int>(png.width), h = static_cast<int>(png.height);
  Image image(w, h, kWhite);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * w + x) * 3;
      image.SetPixel(x, y, RGB(p[0], p[1], p[2]));
    }
  return image;
}

}  // namespace tarmic
