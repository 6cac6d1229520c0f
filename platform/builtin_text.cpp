// The built-in stroke font: printable ASCII (and the plus-minus sign) as polylines on a small grid, scaled to
// any cell height and drawn at any angle. Deterministic and free of any window
// system, for the headless backend and for tests.
#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/raster_dc.h"

namespace tarmic {

namespace {

// Glyph grid: x 0..4 inside an advance of 6 units (1 unit of bearing on each side);
// y 0..9 with the capital top at 1, the x-height at 3, the baseline at 7 and the
// descender at 9. A cell is 10 units high; its ascent is 7 units. Each glyph is a
// list of polylines separated by blanks; a polyline is a list of "xy" digit pairs
// (a single pair is a dot).
constexpr const char* kGlyphs[95] = {
    "",                                            // space
    "2125 27",                                     // !
    "1112 3132",                                   // "
    "1117 3137 0343 0545",                         // #
    "423111020314344546371706 2128",               // $
    "4107 0112 3647",                              // %
    "47131221320506172745",                        // &
    "2122",                                        // '
    "31222637",                                    // (
    "11222617",                                    // )
    "2226 0345 0543",                              // *
    "2226 0444",                                   // +
    "262718",                                      // ,
    "0444",                                        // -
    "27",                                          // .
    "4107",                                        // /
    "113142463717060211 0642",                     // 0
    "122127 1737",                                 // 1
    "02113142430747",                              // 2
    "02113142433414 344546371706",                 // 3
    "37310545",                                    // 4
    "410104344546371706",                          // 5
    "423111020617374645341405",                    // 6
    "014117",                                      // 7
    "113142433414030211 1405061737464534",         // 8
    "061737464231110203143443",                    // 9
    "23 26",                                       // :
    "23 262718",                                   // ;
    "410447",                                      // <
    "0343 0545",                                   // =
    "014407",                                      // >
    "02113142432425 27",                           // ?
    "4642311102061747 3533232545",                 // @
    "072147 1434",                                 // A
    "0107 013142433404 3445463707",                // B
    "4231110206173746",                            // C
    "01314246370701",                              // D
    "41010747 0434",                               // E
    "410107 0434",                                 // F
    "42311102061737464424",                        // G
    "0107 4147 0444",                              // H
    "1131 2127 1737",                              // I
    "4146371706",                                  // J
    "0107 4105 1447",                              // K
    "010747",                                      // L
    "0701244147",                                  // M
    "07014741",                                    // N
    "113142463717060211",                          // O
    "07013142433404",                              // P
    "113142463717060211 2547",                     // Q
    "07013142433404 2447",                         // R
    "423111020314344546371706",                    // S
    "0141 2127",                                   // T
    "010617374641",                                // U
    "012741",                                      // V
    "0117243741",                                  // W
    "0147 4107",                                   // X
    "012441 2427",                                 // Y
    "01410747",                                    // Z
    "31212737",                                    // [
    "0147",                                        // backslash
    "11212717",                                    // ]
    "032143",                                      // ^
    "0848",                                        // _
    "1122",                                        // `
    "4347 4433130406173746",                       // a
    "0107 0413334446371706",                       // b
    "4433130406173746",                            // c
    "4147 4433130406173746",                       // d
    "054544331304061747",                          // e
    "4231211217 0333",                             // f
    "4348391908 4433130406173746",                 // g
    "0107 0413334447",                             // h
    "2327 21",                                     // i
    "3338291908 31",                               // j
    "0107 4305 2447",                              // k
    "112127 1737",                                 // l
    "0307 04132427 24334447",                      // m
    "0307 0413334447",                             // n
    "133344463717060413",                          // o
    "0309 0413334446371706",                       // p
    "4349 4433130406173746",                       // q
    "0307 05233344",                               // r
    "44331304153546371706",                        // s
    "1116273746 0333",                             // t
    "0306173746 4347",                             // u
    "032743",                                      // v
    "0317253743",                                  // w
    "0347 4307",                                   // x
    "0327 4319",                                   // y
    "03430747",                                    // z
    "31222314252637",                              // {
    "2129",                                        // |
    "11222334252617",                              // }
    "05143544",                                    // ~
};

constexpr double kAdvance = 6.0;   // units per character
constexpr double kCellUnits = 10.0;
constexpr double kAscentUnits = 7.0;

const char* GlyphOf(unsigned char c) {
  if (c < 32 || c > 126) c = '?';
  return kGlyphs[c - 32];
}

// The plus-minus sign (U+00B1): a plus over a bar on the baseline.
constexpr const char* kPlusMinusGlyph = "2125 0343 0646";

// The glyph of each character of UTF-8 text: printable ASCII, the plus-minus sign,
// and '?' for any other character (one glyph for all the bytes of a sequence).
std::vector<const char*> GlyphsOf(std::string_view text) {
  std::vector<const char*> glyphs;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xB1) {
      glyphs.push_back(kPlusMinusGlyph);
      i += 2;
      continue;
    }
    glyphs.push_back(GlyphOf(c));
    // The continuation bytes of a sequence are part of its character.
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    std::size_t n = 1;
    while (n < length && i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
    i += n;
  }
  return glyphs;
}

int AscentOf(int h) { return static_cast<int>(std::lround(h * kAscentUnits / kCellUnits)); }

// Stroke thickness in pixels.
double Thickness(const Font& f, int h) {
  double t = std::lround(h * (f.weight >= 600 ? 0.13 : 0.09));
  return std::max(1.0, t);
}

struct Target {
  Image& image;
  Rect clip;  // already intersected with the image
  Color color;
};

// Fills the pixels whose centres lie within r of the segment a-b (a capsule).
void Capsule(Target& t, double ax, double ay, double bx, double by, double r) {
  double x0 = std::min(ax, bx) - r, x1 = std::max(ax, bx) + r;
  double y0 = std::min(ay, by) - r, y1 = std::max(ay, by) + r;
  int px0 = std::max(t.clip.left, static_cast<int>(std::floor(x0 - 0.5)));
  int px1 = std::min(t.clip.right - 1, static_cast<int>(std::ceil(x1)));
  int py0 = std::max(t.clip.top, static_cast<int>(std::floor(y0 - 0.5)));
  int py1 = std::min(t.clip.bottom - 1, static_cast<int>(std::ceil(y1)));
  double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
  double r2 = r * r + 1e-9;
  for (int py = py0; py <= py1; ++py) {
    for (int px = px0; px <= px1; ++px) {
      double cx = px + 0.5 - ax, cy = py + 0.5 - ay;
      double u = len2 > 0 ? std::clamp((cx * dx + cy * dy) / len2, 0.0, 1.0) : 0.0;
      double ex = cx - u * dx, ey = cy - u * dy;
      if (ex * ex + ey * ey <= r2) t.image.Row(py)[px] = t.color;
    }
  }
}

class BuiltinTextRenderer : public TextRenderer {
 public:
  TextMetrics Measure(const Font&, int pixelHeight, std::string_view text) override {
    int h = std::max(pixelHeight, 0);
    TextMetrics m;
    m.width = static_cast<int>(std::lround(GlyphsOf(text).size() * kAdvance * h / kCellUnits));
    m.ascent = AscentOf(h);
    m.descent = h - m.ascent;
    return m;
  }

  void Draw(Image& image, const Font& f, int pixelHeight, Color color, int x, int y,
            double angleDeg, std::string_view text, const Rect* clip) override {
    if (pixelHeight <= 0 || image.IsNull()) return;
    Target t{image, Rect{0, 0, image.Width(), image.Height()}, color};
    if (clip) {
      Rect c = clip->Normalized();
      t.clip.left = std::max(t.clip.left, c.left);
      t.clip.top = std::max(t.clip.top, c.top);
      t.clip.right = std::min(t.clip.right, c.right);
      t.clip.bottom = std::min(t.clip.bottom, c.bottom);
    }
    if (t.clip.IsEmpty()) return;
    const int h = pixelHeight;
    const double sx = h / kCellUnits;
    const double sy = AscentOf(h) / kAscentUnits;
    const double thick = Thickness(f, h);
    const double rad = angleDeg * 3.14159265358979323846 / 180.0;
    // Exact directions for the right angles, so rotated text lands on pixels.
    double c = std::cos(rad), s = std::sin(rad);
    if (std::fmod(std::fabs(angleDeg), 90.0) == 0.0) {
      c = std::round(c);
      s = std::round(s);
    }
    // Text space (tx right along the text, ty down across it) to device pixels:
    // rotation counter-clockwise on a screen whose y axis points down.
    auto toDevice = [&](double tx, double ty, double& dx, double& dy) {
      dx = x + tx * c + ty * s;
      dy = y - tx * s + ty * c;
    };
    const std::vector<const char*> glyphs = GlyphsOf(text);
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
      const char* p = glyphs[i];
      const double origin = (i * kAdvance + 1.0) * sx;
      while (*p) {
        if (*p == ' ') {
          ++p;
          continue;
        }
        // One polyline: consecutive points joined; a single point is a dot.
        double lx = 0, ly = 0;
        int n = 0;
        while (p[0] && p[0] != ' ' && p[1]) {
          double tx = origin + (p[0] - '0') * sx - thick / 2;
          double ty = (p[1] - '0') * sy - thick / 2;
          p += 2;
          double dx, dy;
          toDevice(tx, ty, dx, dy);
          if (n > 0) Capsule(t, lx, ly, dx, dy, thick / 2);
          lx = dx;
          ly = dy;
          ++n;
        }
        if (n == 1) Capsule(t, lx, ly, lx, ly, thick / 2);
        if (*p && *p != ' ') ++p;  // a stray odd digit
      }
    }
  }
};

std::mutex g_rendererMutex;
std::shared_ptr<TextRenderer> g_renderer;
// Renderers that were replaced stay alive: a RasterDC may still hold a reference.
std::vector<std::shared_ptr<TextRenderer>> g_retired;

}  // namespace

std::shared_ptr<TextRenderer> MakeBuiltinTextRenderer() {
  return std::make_shared<BuiltinTextRenderer>();
}

TextRenderer& DefaultTextRenderer() {
  std::lock_guard<std::mutex> lock(g_rendererMutex);
  if (!g_renderer) g_renderer = MakeBuiltinTextRenderer();
  return *g_renderer;
}

void SetDefaultTextRenderer(std::shared_ptr<TextRenderer> renderer) {
  std::lock_guard<std::mutex> lock(g_rendererMutex);
  if (g_renderer) g_retired.push_back(g_renderer);
  g_renderer = renderer ? std::move(renderer) : MakeBuiltinTextRenderer();
}

}  // namespace tarmic
