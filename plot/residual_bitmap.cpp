// The residual bitmap: building the image, the strip above the residual plot, and
// the copy to the clipboard.
#include "plot/residual_bitmap.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "numerics/interpolation.h"
#include "platform/backend.h"
#include "plot/curve_symbols.h"
#include "plot/data_plots.h"
#include "plot/picture_space.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

Color ResidualBitmapColor(int v) { return ResidualBitmapColor(v, ResidualBitmap()); }

Color ResidualBitmapColor(int v, const ResidualBitmapState& state) {
  if (state.bBitmapBlackAndWhite) {
    if (state.bBitmapContinuousShading) return RGB(128 + v, 128 + v, 128 + v);
    if (v > 0) return kWhite;
    if (v < 0) return kBlack;
    return RGB(128, 128, 128);
  }
  if (state.bBitmapContinuousShading) {
    if (v > 0) return RGB(128 + v, 128 - v, 128 - v);            // towards red
    if (v < 0) return RGB(128 + v, 128 + v, std::min(128 - v, 255));  // towards blue
    return RGB(128, 128, 128);
  }
  if (v > 0) return RGB(255, 0, 0);
  if (v < 0) return RGB(0, 0, 255);
  return kWhite;
}

namespace {

// The radii of the bitmap's columns (one-based): the grid points of the fit range;
// where the grid itself has a gap (scans that share radii, cut on disk), a lattice at
// the grid's own spacing across the range, so that the columns stand over the radii
// of the residual plot below and the gap shows as one.
std::vector<float> ColumnRadii(int first, int last) {
  const GridData& grid = CurrentGrid();
  std::vector<float> radii(1, 0.0f);
  const float limit = CurveGapLimit(grid.pGridRadius, first, last + 1);
  bool gapped = false;
  for (int j = first + 1; j <= last && !gapped; ++j) gapped = grid.pGridRadius[j] - grid.pGridRadius[j - 1] > limit;
  if (!gapped) {
    radii.insert(radii.end(), grid.pGridRadius + first, grid.pGridRadius + last + 1);
    return radii;
  }
  const double step = limit / kGapSpacingFactor;
  const double r0 = grid.pGridRadius[first], r1 = grid.pGridRadius[last];
  const int count = static_cast<int>(std::floor((r1 - r0) / step + 0.5)) + 1;
  for (int c = 0; c < count; ++c) radii.push_back(static_cast<float>(r0 + c * (r1 - r0) / std::max(count - 1, 1)));
  return radii;
}

}  // namespace

Image BuildResidualsBitmap() {
  // The parts taken once: the loops below run over every scan and column.
  const DataSetState& data = DataSet();
  const GridData& grid = CurrentGrid();
  ResidualBitmapState& bitmap = ResidualBitmap();
  if (data.nScans < 1 || grid.nGridPoints < 1 || !grid.pGridRadius) return Image();
  int first = std::max(grid.iFitFirst, 1);
  int last = std::min(grid.iFitLast, grid.nGridPoints);
  // The bitmap shows the radii the residual pane shows: the data plot's zoom too.
  if (const CWINPlot* plot = DataPlots().pResidualsPlot; plot && plot->bFollowXWindow) {
    const float lo = std::min(plot->fFollowXMin, plot->fFollowXMax), hi = std::max(plot->fFollowXMin, plot->fFollowXMax);
    while (first < last && grid.pGridRadius[first] < lo) ++first;
    while (last > first && grid.pGridRadius[last] > hi) --last;
  }
  if (last < first) return Image();
  const std::vector<float> columns = ColumnRadii(first, last);
  const int width = static_cast<int>(columns.size()) - 1;

  // Fluorescence counts are far larger than absorbances: a scale below 1 (the
  // absorbance default or the automatic 0) becomes 10 and stays so.
  if (ScanFile().bFluorescenceData && bitmap.fResidualBitmapScale < 1.0f) bitmap.fResidualBitmapScale = 10.0f;
  float scale = bitmap.fResidualBitmapScale;

  // Residuals of every scan (computed here, not stored) resampled onto the columns;
  // the columns a scan has no points at (a region excluded) stay empty.
  std::vector<std::vector<float>> rows(static_cast<std::size_t>(data.nScans));
  std::vector<std::vector<unsigned char>> shown(static_cast<std::size_t>(data.nScans));
  std::vector<float> residuals;
  for (int i = 1; i <= data.nScans; ++i) {
    std::vector<float>& row = rows[static_cast<std::size_t>(i - 1)];
    std::vector<unsigned char>& has = shown[static_cast<std::size_t>(i - 1)];
    row.assign(static_cast<std::size_t>(width) + 1, 0.0f);
    has.assign(static_cast<std::size_t>(width) + 1, 1);
    const int k = static_cast<std::size_t>(i) < data.pScanOrder.size()
                      ? data.pScanOrder[static_cast<std::size_t>(i)]
                      : 0;
    if (k < 1 || k > data.nScans || static_cast<std::size_t>(k) >= data.pnPoints.size()) continue;
    const int n = data.pnPoints[static_cast<std::size_t>(k)];
    const float* radius = data.ppRadius[static_cast<std::size_t>(k)];
    if (n < 1 || !radius) continue;
    residuals.assign(static_cast<std::size_t>(n) + 1, 0.0f);
    ComputeScanResiduals(k, residuals.data());
    // A scan that cannot be resampled (too few points, no overlap with the grid)
    // keeps a row of zeros: mid grey.
    if (!InterpolateCurve(width, columns.data(), row.data(), n, radius, residuals.data())) {
      std::fill(row.begin(), row.end(), 0.0f);
      continue;
    }
    MarkRadiiScanLacks(k, columns.data(), width, has);
  }

  if (scale == 0) {
    if (DataPlots().pResidualsPlot) {
      scale = std::fabs(DataPlots().pResidualsPlot->fYMax);
      if (std::fabs(DataPlots().pResidualsPlot->fYMin) > scale) scale = std::fabs(DataPlots().pResidualsPlot->fYMin);
    } else {
      // No residual plot to take the range from: the largest residual shown.
      for (std::size_t i = 0; i < rows.size(); ++i)
        for (int c = 1; c <= width; ++c)
          if (shown[i][static_cast<std::size_t>(c)])
            scale = std::max(scale, std::fabs(rows[i][static_cast<std::size_t>(c)]));
    }
    if (!(scale > 0)) scale = 1.0f;  // all zero: every pixel mid grey
  }

  Image image(width, data.nScans, kWhite);
  for (int i = 1; i <= data.nScans; ++i) {
    const std::vector<float>& row = rows[static_cast<std::size_t>(i - 1)];
    const std::vector<unsigned char>& has = shown[static_cast<std::size_t>(i - 1)];
    for (int c = 1; c <= width; ++c) {
      if (!has[static_cast<std::size_t>(c)]) continue;  // no points there: background
      const double level = std::floor(128.0f * row[static_cast<std::size_t>(c)] / scale);
      const int v = std::isnan(level) ? 0 : static_cast<int>(std::clamp(level, -128.0, 127.0));
      image.SetPixel(c - 1, i - 1, ResidualBitmapColor(v, bitmap));
    }
  }
  return image;
}

void CopyResidualsBitmap(Window&) {
  // The copy command recomputes the residuals and rescales the residual plot first,
  // so that an automatic scale follows the current residuals.
  RedrawResidualPlot(true);
  const Image image = BuildResidualsBitmap();
  if (image.IsNull() || !HasBackend()) return;
  GetBackend().SetClipboardBitmap(image);
}

Rect ResidualsBitmapRect(Size client, int scanCount) {
  const double w = client.cx, h = client.cy;
  int left = static_cast<int>(
      std::floor(std::floor(DataPlots().nPlotAreaLeft * static_cast<double>(fHorzDisplayFactor)) * w /
                 kUnroundedPictureWidth));
  int width = static_cast<int>(std::floor(
      std::floor((DataPlots().nPlotAreaRight - DataPlots().nPlotAreaLeft) * static_cast<double>(fHorzDisplayFactor)) * w /
      kUnroundedPictureWidth));
  // Across, the strip spans the residual plot's x axis: its columns (the radii inside
  // the fit limits) stand over the radii of the plot below, and it stays clear of the
  // plot's y title and tick labels, which lie left of the axis.
  if (DataPlots().pResidualsPlot && DataPlots().pResidualsPlot->nRight > DataPlots().pResidualsPlot->nLeft) {
    left = static_cast<int>(std::floor(DataPlots().pResidualsPlot->nLeft * w / kPictureWidth));
    width = static_cast<int>(std::floor(DataPlots().pResidualsPlot->nRight * w / kPictureWidth)) - left;
  }
  // The strip ends where the residual plot begins: the band that the split layout
  // leaves free above it, below the data plot's x tick labels. It holds one pixel
  // row per scan; only when the band had to be narrowed (very many scans in a low
  // window) are the rows squeezed into it.
  const int band = ResidualBitmapBand();
  const int bandPixels = static_cast<int>(std::floor(band * h / fDisplayExtent));
  const int bottom = static_cast<int>(std::floor(DataPlots().nResidualPlotTop * h / fDisplayExtent)) + bandPixels;
  const int height = band < ResidualBitmapRowUnits() ? std::min(scanCount, bandPixels) : scanCount;
  if (height <= 0 || width <= 0) return Rect{};
  return Rect{left, bottom - height, left + width, bottom};
}

bool DrawResidualsBitmap(DC& dc, Size client) {
  const Image image = BuildResidualsBitmap();
  if (image.IsNull()) return false;
  const Rect strip = ResidualsBitmapRect(client, DataSet().nScans);
  if (strip.IsEmpty()) return false;
  PixelDrawingScope pixels(dc);
  dc.StretchBitmap(image, strip);
  return true;
}

void DrawResidualsBitmap(Window& window) {
  if (DrawResidualsBitmap(*window.ClientDC(), window.ClientSize())) window.Refresh();
}

}  // namespace tarmic
