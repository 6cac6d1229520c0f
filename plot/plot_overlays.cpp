// Curve overlays: one curve, given as a CCurve or as plain one-based arrays, recorded
// into a new picture with a plot's current mapping, to be played over the plot's
// own picture. The plot is only read: its curve list, ranges, scaling and mark
// size stay as they are, and the caller's arrays are never written. Also the copy
// of a plot's picture to the clipboard.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/backend.h"
#include "plot/curve_symbols.h"
#include "plot/picture_space.h"
#include "plot/winplot.h"

namespace tarmic {

namespace {

Color RowColor(int** rgb, int k) { return RGB(rgb[k][1], rgb[k][2], rgb[k][3]); }

// Draws through a curve made of two views of the caller's one-based arrays
// x[low..low+n-1] and y[low..low+n-1]. The views never write into the arrays.
template <typename Draw>
std::unique_ptr<MetaFile> WithArrayCurve(const float* x, const float* y, int n, int low,
                                         Draw draw) {
  CVector vx, vy;
  if (n > 0 && x && y) {
    vx.AttachNR(const_cast<float*>(x), static_cast<std::uint32_t>(n), low);
    vy.AttachNR(const_cast<float*>(y), static_cast<std::uint32_t>(n), low);
  }
  CCurve curve(&vx, &vy);
  return draw(curve);
}

// One-based float copy of one-based double values.
std::vector<float> ToFloat(const double* v, int n) {
  std::vector<float> out(static_cast<std::size_t>(std::max(n, 0)) + 1, 0.0f);
  for (int i = 1; i <= n; ++i) out[static_cast<std::size_t>(i)] = static_cast<float>(v[i]);
  return out;
}

}  // namespace

std::unique_ptr<MetaFile> CWINPlot::RecordOverlay(const CCurve* curve, int first, int last,
                                                  Color color, int** rgb, int style,
                                                  int markSize) const {
  if (last < first || !curve || !curve->X()) return nullptr;
  const CVector& xv = *curve->X();
  const int n = static_cast<int>(xv.Length());

  // Walked point numbers (1-based): from first only when 1 < first < n - 1, to last
  // only when last < n and above the start.
  const int start = (1 < first && first < n - 1) ? first : 1;
  const int end = (last < n && last > start) ? last : n;
  if (rgb && start <= end) color = RowColor(rgb, first >= 1 && first <= n ? first : start);

  MetaFileDC dc;
  dc.SetWindowExt(kPictureWidth, kPictureHeight);
  const Pen colorPen{PenStyle::Solid, 0, color};
  dc.SelectPen(colorPen);
  dc.SelectBrush(style == 15 ? NullBrush() : SolidBrush(color));

  SymbolPainter symbols;
  symbols.dc = &dc;
  symbols.markSize = markSize;
  symbols.markSizeY = nMarkSizeY;
  symbols.zeroRow = bLogY ? nBottom - nLogFloorOffset : MapY(0.0f);
  symbols.linePen = colorPen;
  symbols.overlay = true;

  const float* xs = xv.Data();
  const CVector* yv = curve->Y();
  const float* ys = yv ? yv->Data() : nullptr;
  const int yLength = yv ? static_cast<int>(yv->Length()) : 0;

  bool penDown = false;
  int px = 0, py = 0;
  // Where points are missing (a gap in x) the pen lifts: no line across it.
  const float gapLimit =
      bBreakAtGaps ? CurveGapLimit(xs, start - 1, end) : std::numeric_limits<float>::infinity();
  float lastX = 0.0f;
  for (int k = start; k <= end; ++k) {
    if (rgb) {
      symbols.linePen = Pen{PenStyle::Solid, 0, RowColor(rgb, k)};
      dc.SelectPen(symbols.linePen);
    }
    const float x = xs[k - 1];
    const float y = k - 1 < yLength ? ys[k - 1] : 0.0f;
    // A value that is no number (a point the overlay leaves out) draws nothing.
    const bool outside = !(y >= fYMin && y <= fYMax) ||
                         ((x < fXMin || x > fXMax) && !((bLogX && x == 0) || (bLogY && y == 0)));
    if (outside) {
      penDown = false;
      continue;
    }
    if (penDown && std::fabs(x - lastX) > gapLimit) penDown = false;
    lastX = x;
    const bool continuing = penDown;
    int x0 = px, y0 = py;
    px = MapX(x);
    py = MapY(y);
    if (continuing) {
      if ((bConnectPoints || style == -1) && style != 14)
        dc.LineTo(px, py);
      else
        dc.MoveTo(px, py);
    } else {
      x0 = px;
      y0 = py;
      penDown = true;
      dc.MoveTo(px, py);
    }
    DrawSymbol(symbols, style, px, py, x0, y0, continuing, k == end);
  }
  return dc.Close();
}

std::unique_ptr<MetaFile> CWINPlot::DrawCurveRange(const CCurve* curve, int first, int last,
                                                   Color color, int style, int markSize) const {
  return RecordOverlay(curve, first, last, color, nullptr, style, markSize);
}

std::unique_ptr<MetaFile> CWINPlot::DrawCurveRangePerPointColor(const CCurve* curve, int first,
                                                                int last, int** rgb, int style,
                                                                int markSize) const {
  if (!rgb) return nullptr;
  return RecordOverlay(curve, first, last, 0, rgb, style, markSize);
}

std::unique_ptr<MetaFile> CWINPlot::DrawCurveOverlay(const CCurve* curve, Color color, int style,
                                                     int markSize) const {
  if (!curve || !curve->X()) return nullptr;
  return DrawCurveRange(curve, 1, static_cast<int>(curve->X()->Length()), color, style,
                        markSize);
}

std::unique_ptr<MetaFile> CWINPlot::DrawArrays(const float* x, const float* y, int n, Color color,
                                               int style, int markSize) const {
  return WithArrayCurve(x, y, n, 1, [&](const CCurve& c) {
    return DrawCurveOverlay(&c, color, style, markSize);
  });
}

std::unique_ptr<MetaFile> CWINPlot::DrawArraysDouble(const double* x, const double* y, int n,
                                                     Color color, int style,
                                                     int markSize) const {
  if (n <= 0 || !x || !y) return nullptr;
  const std::vector<float> fx = ToFloat(x, n), fy = ToFloat(y, n);
  return DrawArrays(fx.data(), fy.data(), n, color, style, markSize);
}

std::unique_ptr<MetaFile> CWINPlot::DrawArraysDoubleY(const float* x, const double* y, int n,
                                                      Color color, int style,
                                                      int markSize) const {
  if (n <= 0 || !x || !y) return nullptr;
  const std::vector<float> fy = ToFloat(y, n);
  return DrawArrays(x, fy.data(), n, color, style, markSize);
}

std::unique_ptr<MetaFile> CWINPlot::DrawArraysScaled(const float* x, const float* y, int n,
                                                     double top, Color color, int style,
                                                     int markSize) const {
  if (n <= 0 || !x || !y) return nullptr;
  float ymax = y[1];
  for (int i = 2; i <= n; ++i)
    if (y[i] > ymax) ymax = y[i];
  // y scaled so that its largest value reaches top (all zero when it is 0).
  const double factor = ymax != 0 ? top / ymax : 0.0;
  std::vector<float> scaled(static_cast<std::size_t>(n) + 1, 0.0f);
  for (int i = 1; i <= n; ++i) scaled[static_cast<std::size_t>(i)] = static_cast<float>(factor * y[i]);
  return DrawArrays(x, scaled.data(), n, color, style, markSize);
}

std::unique_ptr<MetaFile> CWINPlot::DrawArraysScaledDoubleY(const float* x, const double* y,
                                                            int n, double top, Color color,
                                                            int style, int markSize) const {
  if (n <= 0 || !x || !y) return nullptr;
  double ymax = y[1];
  for (int i = 2; i <= n; ++i)
    if (y[i] > ymax) ymax = y[i];
  const double factor = ymax != 0 ? top / ymax : 0.0;
  std::vector<float> scaled(static_cast<std::size_t>(n) + 1, 0.0f);
  for (int i = 1; i <= n; ++i) scaled[static_cast<std::size_t>(i)] = static_cast<float>(factor * y[i]);
  return DrawArrays(x, scaled.data(), n, color, style, markSize);
}

std::unique_ptr<MetaFile> CWINPlot::DrawArraysRange(const float* x, const float* y, int n,
                                                    int first, int last, Color color, int style,
                                                    int markSize) const {
  const int count = std::min(last - first + 1, n);
  const int low = std::max(first, 1);
  return WithArrayCurve(x, y, count, low, [&](const CCurve& c) {
    return DrawCurveOverlay(&c, color, style, markSize);
  });
}

std::unique_ptr<MetaFile> CWINPlot::DrawArraysPerPointColor(const float* x, const float* y, int n,
                                                            int** rgb, int style,
                                                            int markSize) const {
  return WithArrayCurve(x, y, n, 1, [&](const CCurve& c) {
    return DrawCurveRangePerPointColor(&c, 1, n, rgb, style, markSize);
  });
}

bool CWINPlot::CopyToClipboard() const {
  if (!hPicture || !HasBackend()) return false;
  return GetBackend().SetClipboardPicture(*hPicture, kPictureExtent);
}

}  // namespace tarmic
