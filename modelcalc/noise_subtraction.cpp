#include "modelcalc/noise_subtraction.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "modelcalc/linear_amplitudes.h"
#include "modelfit/model_params.h"
#include "numerics/interpolation.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/intensity_scans.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

bool bNoiseTakenFromData = false;

namespace {

NoiseZoomHook& ZoomHook() {
  static NoiseZoomHook hook;
  return hook;
}

std::size_t At(int i) { return static_cast<std::size_t>(i); }

bool DataPresent() { return !bDLSData && nScans > 0 && nGridPoints > 0 && pGridRadius; }

// profile (on the common grid) at the radii of scan s into out[1..n]. The
// resampling refuses scans of fewer than five points; those get the linear
// interpolation between grid points, the end values beyond the grid.
void ProfileOnScan(int s, const float* profile, std::vector<float>* out) {
  const int n = pnPoints[At(s)];
  out->assign(At(n) + 1, 0.0f);
  const float* r = ppRadius[At(s)];
  if (InterpolateCurve(n, r, out->data(), nGridPoints, pGridRadius, profile)) return;
  for (int i = 1; i <= n; ++i) {
    const float* begin = pGridRadius + 1;
    const float* end = pGridRadius + nGridPoints + 1;
    const float* hi = std::lower_bound(begin, end, r[i]);
    float v;
    if (hi == begin) {
      v = profile[1];
    } else if (hi == end) {
      v = profile[nGridPoints];
    } else {
      const int k = static_cast<int>(hi - pGridRadius);
      const float x0 = pGridRadius[k - 1], x1 = pGridRadius[k];
      const float w = x1 > x0 ? (r[i] - x0) / (x1 - x0) : 0.0f;
      v = profile[k - 1] + w * (profile[k] - profile[k - 1]);
    }
    (*out)[At(i)] = v;
  }
}

// A scan value with delta added in the signal domain of the grid: intensity data
// hold sample intensity, whose absorbance changes by delta.
float Shifted(float value, float delta) {
  return bIntensityData ? ShiftIntensityByAbsorbance(value, delta) : value + delta;
}

// Adds sign x profile (common grid) to every scan's signal and model values, and to
// the grid rows when they are copies (an aliased row is the scan's own signal and
// has changed with it).
void AddGridProfile(const float* profile, float sign) {
  std::vector<float> onScan;
  for (int s = 1; s <= nScans; ++s) {
    ProfileOnScan(s, profile, &onScan);
    float* y = ppSignal[At(s)];
    float* f = ppFit[At(s)];
    for (int i = 1; i <= pnPoints[At(s)]; ++i) {
      y[i] = Shifted(y[i], sign * onScan[At(i)]);
      if (f) f[i] = Shifted(f[i], sign * onScan[At(i)]);
    }
    if (bGridCopies && ppGridSignal.size() > At(s) && ppGridSignal[At(s)])
      for (int i = 1; i <= nGridPoints; ++i) ppGridSignal[At(s)][i] += sign * profile[i];
  }
  NoteScanDataChanged();
}

// Subtracts a constant from scan s's signal, model values and (copied) grid row.
void SubtractConstant(int s, float c) {
  float* y = ppSignal[At(s)];
  float* f = ppFit[At(s)];
  for (int i = 1; i <= pnPoints[At(s)]; ++i) {
    y[i] = Shifted(y[i], -c);
    if (f) f[i] = Shifted(f[i], -c);
  }
  if (bGridCopies && ppGridSignal.size() > At(s) && ppGridSignal[At(s)])
    for (int i = 1; i <= nGridPoints; ++i) ppGridSignal[At(s)][i] -= c;
  NoteScanDataChanged();
}

// Scan means of the grid data over the fit points and the average scan after a
// change.
void RecomputeMeans() {
  const GridFitPoints fit = CurrentGridFitPoints();
  if (pScanMeans) {
    for (int s = 1; s <= nScans; ++s)
      pScanMeans[s] = fit.Count() > 0 ? static_cast<float>(fit.Sum(ppGridSignal[At(s)]) / fit.Count()) : 0.0f;
  }
  CalculateAverageScan();
}

// One zoom step onto the fit range of the changed data, and the redraws.
void ShowChangedData() {
  const GridFitPoints fit = CurrentGridFitPoints();
  const int first = std::clamp(fit.First(), 1, nGridPoints);
  const int last = std::clamp(fit.Last(), first, nGridPoints);
  const float xmin = pGridRadius[first] - 0.01f;
  const float xmax = pGridRadius[last] + 0.01f;
  float ymin = ppGridSignal[At(pScanOrder[1])][first], ymax = ymin;
  if (bIntensityData) {
    // The plot shows the sample intensities, the grid their absorbance: the range
    // is that of the scans' own points inside the fit limits, 5 % added each side.
    // (A scan without a point inside the limits adds nothing; without any point
    // the range of the grid's first row stands.)
    bool any = false;
    for (int k = 1; k <= nScans; ++k) {
      const int s = pScanOrder[At(k)];
      for (int i = std::max(pFitFirst[At(s)], 1); i <= pFitLast[At(s)] && i <= pnPoints[At(s)]; ++i) {
        const float y = ppSignal[At(s)][i];
        ymin = any ? std::min(ymin, y) : y;
        ymax = any ? std::max(ymax, y) : y;
        any = true;
      }
    }
    const float margin = 0.05f * (ymax - ymin);
    ymin -= margin;
    ymax += margin;
  } else {
    for (int k = 1; k <= nScans; ++k) {
      const float* row = ppGridSignal[At(pScanOrder[At(k)])];
      for (int i = first; i <= last; ++i) {
        ymin = std::min(ymin, row[i]);
        ymax = std::max(ymax, row[i]);
      }
    }
    ymin -= 0.1f;
    ymax += 0.1f;
  }
  if (ZoomHook()) ZoomHook()(xmin, xmax, ymin, ymax);
  if (pDataPlot) {
    if (ymax > ymin && xmax > xmin) {
      pDataPlot->SetRanges(xmin, xmax, ymin, ymax);
      pDataPlot->Redraw();
    } else {
      RedrawDataPlot(true);
    }
  }
  if (pResidualsPlot) RedrawResidualPlot(true);
}

void TakeOutTIProfile() {
  AddGridProfile(pTINoise, -1.0f);
  for (int i = 1; i <= nGridPoints; ++i) {
    pRemovedTINoise[i] += pTINoise[i];
    pTINoise[i] = 0.0f;
  }
}

void TakeOutRIOffsets() {
  for (int k = 1; k <= nScans; ++k) {
    const int s = pScanOrder[At(k)];
    SubtractConstant(s, pRINoise[s]);
    pRINoise[s] = 0.0f;
  }
}

}  // namespace

void SetNoiseZoomHook(NoiseZoomHook hook) { ZoomHook() = std::move(hook); }

bool SubtractTINoise() {
  if (!DataPresent() || !bFitTINoise || !pTINoise || !pRemovedTINoise) return false;
  TakeOutTIProfile();
  RecomputeMeans();
  ShowChangedData();
  return true;
}

bool RestoreTINoise() {
  if (!DataPresent() || !bFitTINoise || !pTINoise || !pRemovedTINoise) return false;
  AddGridProfile(pRemovedTINoise, 1.0f);
  for (int i = 1; i <= nGridPoints; ++i) {
    pTINoise[i] += pRemovedTINoise[i];
    pRemovedTINoise[i] = 0.0f;
  }
  RecomputeMeans();
  ShowChangedData();
  return true;
}

bool SubtractRINoise() {
  if (!DataPresent() || !bFitRINoise || !pRINoise) return false;
  TakeOutRIOffsets();
  RecomputeMeans();
  ShowChangedData();
  return true;
}

bool SubtractAllNoise() {
  if (!DataPresent() || !bFitRINoise || !pRINoise) return false;
  TakeOutRIOffsets();
  RecomputeMeans();
  if (bFitTINoise && pTINoise && pRemovedTINoise) {
    TakeOutTIProfile();
    RecomputeMeans();
  }
  ShowChangedData();
  return true;
}

bool SubtractBaseline() {
  if (!DataPresent() || !bVaryBaseline) return false;
  for (int k = 1; k <= nScans; ++k) SubtractConstant(pScanOrder[At(k)], fBaseline);
  fBaseline = 0.0f;
  pParams[15] = 0.0f;
  RecomputeMeans();
  ShowChangedData();
  return true;
}

}  // namespace tarmic
