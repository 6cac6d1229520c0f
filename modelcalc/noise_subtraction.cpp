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

namespace {

NoiseZoomHook& ZoomHook() {
  static NoiseZoomHook hook;
  return hook;
}

std::size_t At(int i) { return static_cast<std::size_t>(i); }

bool DataPresent() { return !DataSet().bDLSData && DataSet().nScans > 0 && CurrentGrid().nGridPoints > 0 && CurrentGrid().pGridRadius; }

// profile (on the common grid) at the radii of scan s into out[1..n]. The
// resampling refuses scans of fewer than five points; those get the linear
// interpolation between grid points, the end values beyond the grid.
void ProfileOnScan(int s, const float* profile, std::vector<float>* out) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  const int n = dataSetPart.pnPoints[At(s)];
  out->assign(At(n) + 1, 0.0f);
  const float* r = dataSetPart.ppRadius[At(s)];
  if (InterpolateCurve(n, r, out->data(), currentGridPart.nGridPoints, currentGridPart.pGridRadius, profile)) return;
  for (int i = 1; i <= n; ++i) {
    const float* begin = currentGridPart.pGridRadius + 1;
    const float* end = currentGridPart.pGridRadius + currentGridPart.nGridPoints + 1;
    const float* hi = std::lower_bound(begin, end, r[i]);
    float v;
    if (hi == begin) {
      v = profile[1];
    } else if (hi == end) {
      v = profile[currentGridPart.nGridPoints];
    } else {
      const int k = static_cast<int>(hi - currentGridPart.pGridRadius);
      const float x0 = currentGridPart.pGridRadius[k - 1], x1 = currentGridPart.pGridRadius[k];
      const float w = x1 > x0 ? (r[i] - x0) / (x1 - x0) : 0.0f;
      v = profile[k - 1] + w * (profile[k] - profile[k - 1]);
    }
    (*out)[At(i)] = v;
  }
}

// A scan value with delta added in the signal domain of the grid: intensity data
// hold sample intensity, whose absorbance changes by delta.
float Shifted(float value, float delta) {
  return ScanFile().bIntensityData ? ShiftIntensityByAbsorbance(value, delta) : value + delta;
}

// Adds sign x profile (common grid) to every scan's signal and model values, and to
// the grid rows when they are copies (an aliased row is the scan's own signal and
// has changed with it).
void AddGridProfile(const float* profile, float sign) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  std::vector<float> onScan;
  for (int s = 1; s <= dataSetPart.nScans; ++s) {
    ProfileOnScan(s, profile, &onScan);
    float* y = dataSetPart.ppSignal[At(s)];
    float* f = dataSetPart.ppFit[At(s)];
    for (int i = 1; i <= dataSetPart.pnPoints[At(s)]; ++i) {
      y[i] = Shifted(y[i], sign * onScan[At(i)]);
      if (f) f[i] = Shifted(f[i], sign * onScan[At(i)]);
    }
    if (currentGridPart.bGridCopies && currentGridPart.ppGridSignal.size() > At(s) && currentGridPart.ppGridSignal[At(s)])
      for (int i = 1; i <= currentGridPart.nGridPoints; ++i) currentGridPart.ppGridSignal[At(s)][i] += sign * profile[i];
  }
  NoteScanDataChanged();
}

// Subtracts a constant from scan s's signal, model values and (copied) grid row.
void SubtractConstant(int s, float c) {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  float* y = dataSetPart.ppSignal[At(s)];
  float* f = dataSetPart.ppFit[At(s)];
  for (int i = 1; i <= dataSetPart.pnPoints[At(s)]; ++i) {
    y[i] = Shifted(y[i], -c);
    if (f) f[i] = Shifted(f[i], -c);
  }
  if (currentGridPart.bGridCopies && currentGridPart.ppGridSignal.size() > At(s) && currentGridPart.ppGridSignal[At(s)])
    for (int i = 1; i <= currentGridPart.nGridPoints; ++i) currentGridPart.ppGridSignal[At(s)][i] -= c;
  NoteScanDataChanged();
}

// Scan means of the grid data over the fit points and the average scan after a
// change.
void RecomputeMeans() {
  auto& dataSetPart = DataSet();
  auto& currentGridPart = CurrentGrid();
  const GridFitPoints fit = CurrentGridFitPoints();
  if (currentGridPart.pScanMeans) {
    for (int s = 1; s <= dataSetPart.nScans; ++s)
      currentGridPart.pScanMeans[s] = fit.Count() > 0 ? static_cast<float>(fit.Sum(currentGridPart.ppGridSignal[At(s)]) / fit.Count()) : 0.0f;
  }
  CalculateAverageScan();
}

// One zoom step onto the fit range of the changed data, and the redraws.
void ShowChangedData() {
  auto& scanFilePart = ScanFile();
  auto& currentGridPart = CurrentGrid();
  auto& dataPlotsPart = DataPlots();
  auto& dataSetPart = DataSet();
  const GridFitPoints fit = CurrentGridFitPoints();
  const int first = std::clamp(fit.First(), 1, currentGridPart.nGridPoints);
  const int last = std::clamp(fit.Last(), first, currentGridPart.nGridPoints);
  const float xmin = currentGridPart.pGridRadius[first] - 0.01f;
  const float xmax = currentGridPart.pGridRadius[last] + 0.01f;
  float ymin = currentGridPart.ppGridSignal[At(dataSetPart.pScanOrder[1])][first], ymax = ymin;
  if (scanFilePart.bIntensityData) {
    // The plot shows the sample intensities, the grid their absorbance: the range
    // is that of the scans' own points inside the fit limits, 5 % added each side.
    // (A scan without a point inside the limits adds nothing; without any point
    // the range of the grid's first row stands.)
    bool any = false;
    for (int k = 1; k <= dataSetPart.nScans; ++k) {
      const int s = dataSetPart.pScanOrder[At(k)];
      for (int i = std::max(dataSetPart.pFitFirst[At(s)], 1); i <= dataSetPart.pFitLast[At(s)] && i <= dataSetPart.pnPoints[At(s)]; ++i) {
        const float y = dataSetPart.ppSignal[At(s)][i];
        ymin = any ? std::min(ymin, y) : y;
        ymax = any ? std::max(ymax, y) : y;
        any = true;
      }
    }
    const float margin = 0.05f * (ymax - ymin);
    ymin -= margin;
    ymax += margin;
  } else {
    for (int k = 1; k <= dataSetPart.nScans; ++k) {
      const float* row = currentGridPart.ppGridSignal[At(dataSetPart.pScanOrder[At(k)])];
      for (int i = first; i <= last; ++i) {
        ymin = std::min(ymin, row[i]);
        ymax = std::max(ymax, row[i]);
      }
    }
    ymin -= 0.1f;
    ymax += 0.1f;
  }
  if (ZoomHook()) ZoomHook()(xmin, xmax, ymin, ymax);
  if (dataPlotsPart.pDataPlot) {
    if (ymax > ymin && xmax > xmin) {
      dataPlotsPart.pDataPlot->SetRanges(xmin, xmax, ymin, ymax);
      dataPlotsPart.pDataPlot->Redraw();
    } else {
      RedrawDataPlot(true);
    }
  }
  if (dataPlotsPart.pResidualsPlot) RedrawResidualPlot(true);
}

void TakeOutTIProfile() {
  auto& currentGridPart = CurrentGrid();
  AddGridProfile(currentGridPart.pTINoise, -1.0f);
  for (int i = 1; i <= currentGridPart.nGridPoints; ++i) {
    currentGridPart.pRemovedTINoise[i] += currentGridPart.pTINoise[i];
    currentGridPart.pTINoise[i] = 0.0f;
  }
}

void TakeOutRIOffsets() {
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  for (int k = 1; k <= dataSetPart.nScans; ++k) {
    const int s = dataSetPart.pScanOrder[At(k)];
    SubtractConstant(s, currentGridPart.pRINoise[s]);
    currentGridPart.pRINoise[s] = 0.0f;
  }
}

}  // namespace

void SetNoiseZoomHook(NoiseZoomHook hook) { ZoomHook() = std::move(hook); }

bool SubtractTINoise() {
  auto& currentGridPart = CurrentGrid();
  if (!DataPresent() || !AnalysisSwitches().bFitTINoise || !currentGridPart.pTINoise || !currentGridPart.pRemovedTINoise) return false;
  TakeOutTIProfile();
  RecomputeMeans();
  ShowChangedData();
  return true;
}

bool RestoreTINoise() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& currentGridPart = CurrentGrid();
  if (!DataPresent() || !analysisSwitchesPart.bFitTINoise || !currentGridPart.pTINoise || !currentGridPart.pRemovedTINoise) return false;
  AddGridProfile(currentGridPart.pRemovedTINoise, 1.0f);
  for (int i = 1; i <= currentGridPart.nGridPoints; ++i) {
    currentGridPart.pTINoise[i] += currentGridPart.pRemovedTINoise[i];
    currentGridPart.pRemovedTINoise[i] = 0.0f;
  }
  RecomputeMeans();
  ShowChangedData();
  return true;
}

bool SubtractRINoise() {
  if (!DataPresent() || !AnalysisSwitches().bFitRINoise || !CurrentGrid().pRINoise) return false;
  TakeOutRIOffsets();
  RecomputeMeans();
  ShowChangedData();
  return true;
}

bool SubtractAllNoise() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& currentGridPart = CurrentGrid();
  if (!DataPresent() || !analysisSwitchesPart.bFitRINoise || !currentGridPart.pRINoise) return false;
  TakeOutRIOffsets();
  RecomputeMeans();
  if (analysisSwitchesPart.bFitTINoise && currentGridPart.pTINoise && currentGridPart.pRemovedTINoise) {
    TakeOutTIProfile();
    RecomputeMeans();
  }
  ShowChangedData();
  return true;
}

bool SubtractBaseline() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& modelParamsPart = ModelParams();
  if (!DataPresent() || !modelParamsPart.bVaryBaseline) return false;
  for (int k = 1; k <= dataSetPart.nScans; ++k) SubtractConstant(dataSetPart.pScanOrder[At(k)], modelParamsPart.fBaseline);
  modelParamsPart.fBaseline = 0.0f;
  analysisSwitchesPart.pParams[15] = 0.0f;
  RecomputeMeans();
  ShowChangedData();
  return true;
}

}  // namespace tarmic
