// CWINPlot::PaintCurve: one curve of the picture that Redraw records, with its
// symbols, joining lines, legend and, for the map curve, a colour per point.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/dc.h"
#include "plot/curve_symbols.h"
#include "scandata/radial_grid.h"
#include "plot/winplot.h"

namespace tarmic {

namespace {

// A one-pixel dot: a line from (x, y) to (x + 1, y + 1) without its end pixel; the
// current position stays at (x + 1, y + 1).
void Dot(DC& dc, int x, int y) {
  dc.MoveTo(x, y);
  dc.LineTo(x + 1, y + 1);
}

void Cross(DC& dc, int px, int py, int s) {
  dc.MoveTo(px - s, py + s);
  dc.LineTo(px + s + 1, py - s + 1);
  dc.MoveTo(px - s, py - s);
  dc.LineTo(px + s + 1, py + s + 1);
}

void FilledCircle(DC& dc, int px, int py, int s) { dc.Ellipse(px - s, py - s, px + s, py + s); }

// Symbol styles whose drawing depends on the point's own position only (not on the
// previous point or on the point's index): drawn twice at one position they give
// the same picture as drawn once.
bool SymbolDependsOnPositionOnly(int style) {
  switch (style) {
    case 1: case 2: case 3: case 5: case 6: case 7: case 8: case 9: case 10: case 11:
    case 15: case 16:
      return true;
    default:
      return false;
  }
}

// Four one-pixel lines around the segment from (x0, y0) to (px, py).
void ThickSegment(DC& dc, int x0, int y0, int px, int py) {
  dc.MoveTo(x0, y0 - 1);
  dc.LineTo(px, py - 1);
  dc.MoveTo(x0, y0 + 1);
  dc.LineTo(px, py + 1);
  dc.MoveTo(x0 - 1, y0);
  dc.LineTo(px - 1, py);
  dc.MoveTo(x0 + 1, y0);
  dc.LineTo(px + 1, py);
}

}  // namespace

void DrawSymbol(const SymbolPainter& p, int style, int px, int py, int x0, int y0,
                bool continuing, bool last) {
  DC& dc = *p.dc;
  const int s = p.markSize;
  const bool moved = px != x0 || py != y0;
  switch (style) {
    case 1:
      if (s == 0) return Dot(dc, px, py);
      Cross(dc, px, py, s);
      break;
    case 2:
    case 6:
      if (s == 0) return Dot(dc, px, py);
      FilledCircle(dc, px, py, s);
      break;
    case 3: {
      if (s == 0) return Dot(dc, px, py);
      const int h = static_cast<int>(s * 0.57735);
      dc.MoveTo(px - s, py + h);
      dc.LineTo(px + s, py + h);
      dc.LineTo(px, py - 2 * s + h);
      dc.LineTo(px - s, py + h);
      break;
    }
    case 5:
      if (s == 0) return Dot(dc, px, py);
      dc.MoveTo(px - s, py - s);
      dc.LineTo(px + s, py - s);
      dc.LineTo(px + s, py + s);
      dc.LineTo(px - s, py + s);
      dc.LineTo(px - s, py - s);
      break;
    case 7:
      return Dot(dc, px, py);
    case 8:
      if (s > 0) FilledCircle(dc, px, py, s);
      dc.MoveTo(px, p.zeroRow);
      dc.LineTo(px, py);
      break;
    case 9:
      if (s == 0) return Dot(dc, px, py);
      dc.Rectangle(px - s, py - s, px + s, py + s);
      break;
    case 10:
      if (s == 0) return Dot(dc, px, py);
      Cross(dc, px, py, s);
      Cross(dc, px - 1, py, s);
      Cross(dc, px + 1, py, s);
      break;
    case 11:
      if (s == 0) return Dot(dc, px, py);
      dc.Rectangle(px - p.markSizeY, py - s, px + p.markSizeY, py + s);
      break;
    case 12:
      if (!continuing || !moved) return;
      ThickSegment(dc, x0, y0, px, py);
      break;
    case 13:
      if (!continuing) return;
      if (moved) {
        dc.SelectPen(Pen{PenStyle::Solid, 0, kWhite});
        ThickSegment(dc, x0, y0, px, py);
        dc.SelectPen(p.linePen);
      }
      dc.MoveTo(x0, y0);
      dc.LineTo(px, py);
      break;
    case 14:
      if (!continuing)
        CWINPlot::DrawDot(dc, px, py);
      else if (last)
        CWINPlot::DrawAlternateDot(dc, px, py);
      else
        CWINPlot::DrawDashedLine(dc, x0, y0, px, py);
      break;
    case 15:
      if (!p.overlay) return;
      if (s == 0) return Dot(dc, px, py);
      FilledCircle(dc, px, py, s);  // hollow: overlays of style 15 select the null brush
      break;
    case 16:
      dc.MoveTo(px, py);
      dc.LineTo(px + 1, py);
      dc.LineTo(px + 1, py + 1);
      dc.LineTo(px, py + 1);
      dc.LineTo(px, py);
      break;
    case 17:
      if (continuing && moved) ThickSegment(dc, x0, y0, px, py);
      if (s == 0) return Dot(dc, px, py);
      FilledCircle(dc, px, py, s);
      break;
    default:  // -1, 0, 4 and codes outside -1..17: no symbol
      return;
  }
  dc.MoveTo(px, py);
}

float CurveGapLimit(const float* xs, int first, int end) {
  if (!xs || end - first < 3) return std::numeric_limits<float>::infinity();
  std::vector<float> steps;
  steps.reserve(static_cast<std::size_t>(end - first - 1));
  for (int j = first + 1; j < end; ++j) steps.push_back(std::fabs(xs[j] - xs[j - 1]));
  const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
  std::nth_element(steps.begin(), middle, steps.end());
  if (!(*middle > 0.0f)) return std::numeric_limits<float>::infinity();
  return kGapSpacingFactor * *middle;
}

void CWINPlot::PaintCurve(DC& dc, int i) {
  if (i < 0 || i >= nCurves) return;
  const CCurve* curve = ppCurves[static_cast<std::size_t>(i)];
  if (!curve || !curve->X()) return;
  const CVector& xv = *curve->X();
  const int n = static_cast<int>(xv.Length());

  // The walked index range.
  int first = 0, end = n;
  if (pRangeSet[static_cast<std::size_t>(i)]) {
    const int rl = pRangeLast[static_cast<std::size_t>(i)];
    const int rf = pRangeFirst[static_cast<std::size_t>(i)];
    if (rl + 1 < n) end = rl + 1;
    if (rf >= 0 && rf < n) first = rf;
  }
  if (end <= 0) return;

  const Color color = GetCurveColor(i);
  const Pen curvePen{PenStyle::Solid, 0, color};
  const Brush curveBrush = SolidBrush(color);
  const Pen oldPen = dc.SelectPen(curvePen);
  const Brush oldBrush = dc.SelectBrush(curveBrush);
  const int style = GetCurveStyle(i);

  if (bLegend && style != 0) {
    const std::string& legend = ppLegends[static_cast<std::size_t>(i)];
    if (!legend.empty()) {
      dc.MoveTo(nLeft + 5, nTop + 20 * i + 5);
      dc.SetTextAlign(TA_UPDATECP);
      const Color oldText = dc.SetTextColor(color);
      dc.TextOut(nLeft + 5, nTop + 20 * i + 5, legend);
      dc.SetTextColor(oldText);
    }
  }

  const bool isMap = bMap && i == nMapCurve;
  const bool mapColors = isMap && pMapYGrid && nMapYGrid > 0;
  if (mapColors) {
    fMapMax = pMapYGrid[0];
    for (int k = 1; k < nMapYGrid; ++k) fMapMax = std::max(fMapMax, pMapYGrid[k]);
  }
  const bool mapRows = isMap && bMapYRange;

  const float* xs = xv.Data();
  const CVector* yv = curve->Y();
  const float* ys = yv ? yv->Data() : nullptr;
  const int yLength = yv ? static_cast<int>(yv->Length()) : 0;
  auto yAt = [&](int j) { return j < yLength ? ys[j] : 0.0f; };

  // Map rows fill the plot height whatever the y axis shows.
  auto row = [&](float y) {
    if (!mapRows) return MapY(y);
    if (y <= fMapYMin) return nBottom;
    if (y >= fMapYMax) return nTop;
    return static_cast<int>((y - fMapYMin) / (fMapYMax - fMapYMin) * (nTop - nBottom) + nBottom);
  };

  SymbolPainter symbols;
  symbols.dc = &dc;
  symbols.markSize = nMarkSize;
  symbols.markSizeY = nMarkSizeY;
  symbols.zeroRow = bLogY ? nBottom - nLogFloorOffset : MapY(0.0f);
  symbols.linePen = curvePen;
  symbols.overlay = false;

  if (first < n) dc.MoveTo(MapX(xs[first]), row(yAt(first)));

  // A curve of many more points than the picture has positions (a scan of a million
  // radii) would record every point although most fall on a position drawn already.
  // Points that add nothing are left out of the picture: with symbols alone one at a
  // position drawn already in the same picture column; with joining lines one at the
  // position of the previous point (a line of no length, the same symbol); and for
  // lines without symbols the points that follow the first one in a picture column,
  // of which the line from the lowest to the highest and on to the last one draws
  // the same. The picture no longer grows with the points per column.
  const bool join = style == -1 || (bConnectPoints && style != 0 && style != 14 && !isMap);
  const bool positionOnly = (style == -1 || style == 0 || SymbolDependsOnPositionOnly(style)) && !mapColors;
  // The rows drawn in `column` (symbols without joining lines): marks by row for the
  // rows of the picture space, and the marked rows to clear at the next column.
  constexpr int kMarkedRows = 4096;
  int column = 0;
  std::vector<unsigned char> rowDrawn;
  std::vector<int> columnRows;
  if (positionOnly && !join) rowDrawn.assign(kMarkedRows, 0);
  auto marked = [&](int r) { return r >= 0 && r < kMarkedRows && rowDrawn[static_cast<std::size_t>(r)]; };
  // Lines without symbols: the rows of the points after the first one of a column
  // wait until the line leaves the column (or the run of visible points ends).
  const bool collapse = join && style == -1 && !mapColors;
  std::vector<int> waitingRows;

  bool run = false;
  int px = 0, py = 0;
  // Where points are missing (a gap in x) the run ends: no line across it.
  const float gapLimit = bBreakAtGaps ? CurveGapLimit(xs, first, end) : std::numeric_limits<float>::infinity();
  float lastX = 0.0f;
  // The waiting points of the column at px. When the line goes on into another
  // column, lines to the lowest, the highest and the last of them cover the same
  // rows as the lines through all of them (the line on starts at the last); where
  // the run ends the last row may be left uncovered, so the lines through every
  // point are drawn.
  auto flushColumn = [&](bool runEnds) {
    if (runEnds) {
      for (int r : waitingRows) dc.LineTo(px, r);
      if (!waitingRows.empty()) py = waitingRows.back();
    } else if (!waitingRows.empty()) {
      const auto [lo, hi] = std::minmax_element(waitingRows.begin(), waitingRows.end());
      for (int r : {std::min(*lo, py), std::max(*hi, py), waitingRows.back()}) {
        if (r == py) continue;
        dc.LineTo(px, r);
        py = r;
      }
    }
    waitingRows.clear();
  };
  for (int j = first; j < end; ++j) {
    const float x = xs[j];
    const float y = yAt(j);

    bool pointColor = false;
    if (mapColors && fMapMax != 0 && j < nMapYGrid) {
      const float f = std::clamp(pMapYGrid[j] / fMapMax, 0.0f, 1.0f);
      const Color c = MapValueToColor(f);
      symbols.linePen = Pen{PenStyle::Solid, 0, c};
      dc.SelectPen(symbols.linePen);
      dc.SelectBrush(SolidBrush(c));
      pointColor = true;
    }

    const bool xInside = fXMin <= x && x <= fXMax;
    if ((!bFixedX || xInside) && !mapRows && (y > fYMax || y < fYMin)) PlotRedraw().bRescaleRequested = 1;

    const bool visible =
        (fYMin <= y && y <= fYMax && (xInside || (bLogX && x == 0) || (bLogY && y == 0))) ||
        (xInside && mapRows);
    if (visible && run && std::fabs(x - lastX) > gapLimit) {
      flushColumn(true);
      run = false;
    }
    if (visible) {
      lastX = x;
      const bool continuing = run;
      const int nx = MapX(x), ny = row(y);
      if (collapse && continuing && nx == px) {
        waitingRows.push_back(ny);
        continue;
      }
      flushColumn(false);
      if (positionOnly && continuing) {
        bool drawn = false;
        if (join) {
          drawn = nx == px && ny == py;
        } else if (nx == column) {
          drawn = marked(ny);
        }
        if (drawn) continue;
      }
      if (positionOnly && !join) {
        if (nx != column || !continuing) {
          for (int r : columnRows) rowDrawn[static_cast<std::size_t>(r)] = 0;
          columnRows.clear();
          column = nx;
        }
        if (ny >= 0 && ny < kMarkedRows && !rowDrawn[static_cast<std::size_t>(ny)]) {
          rowDrawn[static_cast<std::size_t>(ny)] = 1;
          columnRows.push_back(ny);
        }
      }
      int x0 = px, y0 = py;
      px = nx;
      py = ny;
      if (continuing) {
        if (join)
          dc.LineTo(px, py);
        else
          dc.MoveTo(px, py);
      } else {
        run = true;
        x0 = px;
        y0 = py;
        dc.MoveTo(px, py);
      }
      if (style == 4)
        DrawPointValueLabel(dc, px, py, i, j);
      else
        DrawSymbol(symbols, style, px, py, x0, y0, continuing, j == end - 1);
    } else {
      flushColumn(true);
      run = false;
    }

    if (pointColor) {
      symbols.linePen = curvePen;
      dc.SelectPen(curvePen);
      dc.SelectBrush(curveBrush);
    }
  }

  flushColumn(true);
  dc.SelectPen(oldPen);
  dc.SelectBrush(oldBrush);
}

}  // namespace tarmic
