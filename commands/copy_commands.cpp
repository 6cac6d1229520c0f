// The copy commands of the main window: the data and residual plots as pictures,
// the residual bitmap, and the data, fit, residual and noise tables as
// tab-separated text, each with a header row naming its columns.
//
// The data, fit and residual tables hold the scans at their own radii, in display
// order: the data table every point of every scan, the fit and residual tables the
// points inside each scan's fitting limits, where the model was fitted. Nothing is
// resampled or extrapolated (the common radial grid, on which the fits work, has
// points one step beyond the data and none at the first radius). Scans that share
// their radii share one radius column; otherwise each scan has its own. The
// time-invariant noise is a profile on the common grid and is written there, over
// the grid points inside the fitting limits. The radial-invariant noise table has
// one row per scan in display order: the scan's elapsed time as recorded and its
// offset. The prior knowledge table is the tabulated prior of the regularisation:
// the distribution grid and the prior probability per row.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "app/paint.h"
#include "app/xla_window.h"
#include "commands/clipboard_table.h"
#include "commands/command_support.h"
#include "distributions/distribution_prior.h"
#include "modelcalc/fit_rmsd.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "plot/picture_space.h"
#include "plot/residual_bitmap.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

std::size_t At(int i) { return static_cast<std::size_t>(i); }

bool GridAvailable() { return DataSet().nScans > 0 && CurrentGrid().nGridPoints > 0 && CurrentGrid().pGridRadius; }

// The grid rows inside the fitting limits (the whole grid when they are unset, none
// when no grid point lies inside them).
void FitRangeRows(int* first, int* last) {
  *first = 1;
  *last = CurrentGrid().nGridPoints;
  if (CurrentGrid().iFitFirst >= 1 && CurrentGrid().iFitLast >= 1) {
    *first = CurrentGrid().iFitFirst;
    *last = std::min(CurrentGrid().iFitLast, CurrentGrid().nGridPoints);
  }
}

// The name of the radius column: the abscissa of DLS data is the lag time's
// logarithm.
std::string RadiusColumnName() { return DataSet().bDLSData ? "log10 lag time [s]" : "radius [cm]"; }

// One scan's part of a table at its own radii: its values [1..pnPoints] and the
// rows first..last written.
struct ScanRows {
  const float* values = nullptr;
  int first = 1;
  int last = 0;
};

// The rows of scan s inside its fitting limits (all its points when they are unset,
// none when no point lies inside them).
ScanRows FitRows(int s, const float* values) {
  const int n = DataSet().pnPoints[At(s)];
  ScanRows rows{values, 1, n};
  if (At(s) < DataSet().pFitFirst.size() && At(s) < DataSet().pFitLast.size() && DataSet().pFitFirst[At(s)] >= 1 &&
      DataSet().pFitLast[At(s)] >= 1) {
    rows.first = DataSet().pFitFirst[At(s)];
    rows.last = std::min(DataSet().pFitLast[At(s)], n);
  }
  return rows;
}

// The table of the scans in display order at their own radii (rows[s] for scan s).
// When every scan has the same radii over the same rows, one radius column leads
// and each scan has a column named by its file; otherwise each scan's values follow
// its own radius column, and a scan with fewer rows leaves its cells empty below.
std::string ScanTableText(const std::vector<ScanRows>& rows) {
  std::vector<int> shown;
  for (int k = 1; k <= DataSet().nScans; ++k) {
    const int s = DataSet().pScanOrder[At(k)];
    if (rows[At(s)].values && rows[At(s)].last >= rows[At(s)].first) shown.push_back(s);
  }
  if (shown.empty()) return {};
  const ScanRows& lead = rows[At(shown.front())];
  const float* leadRadius = DataSet().ppRadius[At(shown.front())];
  bool shared = true;
  for (int s : shown) {
    const ScanRows& r = rows[At(s)];
    shared = shared && r.first == lead.first && r.last == lead.last &&
             std::equal(leadRadius + lead.first, leadRadius + lead.last + 1, DataSet().ppRadius[At(s)] + r.first);
  }
  std::vector<std::string> names;
  if (shared) names.push_back(RadiusColumnName());
  for (int s : shown) {
    const std::string& name = DataSet().ppScanFileNames[At(s)];
    if (!shared) names.push_back(name + " " + RadiusColumnName());
    names.push_back(name);
  }
  std::ostringstream out = TableStream();
  out << TableHeader(names);
  if (shared) {
    for (int i = lead.first; i <= lead.last; ++i) {
      out << leadRadius[i];
      for (int s : shown) out << '\t' << rows[At(s)].values[i];
      out << '\n';
    }
    return out.str();
  }
  int length = 0;
  for (int s : shown) length = std::max(length, rows[At(s)].last - rows[At(s)].first + 1);
  for (int row = 0; row < length; ++row) {
    for (std::size_t j = 0; j < shown.size(); ++j) {
      const int s = shown[j];
      const int i = rows[At(s)].first + row;
      if (j > 0) out << '\t';
      if (i <= rows[At(s)].last) {
        out << DataSet().ppRadius[At(s)][i] << '\t' << rows[At(s)].values[i];
      } else {
        out << '\t';
      }
    }
    out << '\n';
  }
  return out.str();
}

void CopyText(const std::string& text) {
  if (!text.empty() && HasBackend()) GetBackend().SetClipboardText(text);
}

}  // namespace

void TXLAWindow::CmCopyDataPlot() {
  // The copy holds what the pane shows: the plot with the fitted curves over it.
  if (!DataPlots().pDataPlot || !HasBackend()) return;
  if (std::unique_ptr<MetaFile> picture = DataPanePicture())
    GetBackend().SetClipboardPicture(*picture, kPictureExtent);
}

void TXLAWindow::CmCopyResidualsPlot() {
  // The picture as the pane shows it: without curves while no fit holds its claim.
  if (GetResidualPlotMetafile()) DataPlots().pResidualsPlot->CopyToClipboard();
}

void TXLAWindow::CmCopyResidualsBitmap() {
  // Residuals of no fit are the scans themselves: nothing to copy.
  if (!FitOfLoadedData()) {
    CommandMessageBox(*this, kNoFitOfLoadedDataText, "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  CopyResidualsBitmap(GetHandle());
  PlayOkSound();
}

void TXLAWindow::CmCopyDataTable() {
  if (!GridAvailable()) return;
  // The measured values as the data plot shows them (intensity scans as the sample
  // intensity), in the units of the fit and residual tables: data = fit + residual.
  std::vector<ScanRows> rows(At(DataSet().nScans + 1));
  for (int s = 1; s <= DataSet().nScans; ++s) rows[At(s)] = ScanRows{DataSet().ppSignal[At(s)], 1, DataSet().pnPoints[At(s)]};
  CopyText(ScanTableText(rows));
}

void TXLAWindow::CmCopyFitDataTable() {
  if (!GridAvailable()) return;
  if (!FitOfLoadedData()) {
    CommandMessageBox(*this, kNoFitOfLoadedDataText, "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  std::vector<ScanRows> rows(At(DataSet().nScans + 1));
  for (int s = 1; s <= DataSet().nScans; ++s) rows[At(s)] = FitRows(s, DataSet().ppFit[At(s)]);
  CopyText(ScanTableText(rows));
}

void TXLAWindow::CmCopyResidualsTable() {
  if (!GridAvailable()) return;
  if (!FitOfLoadedData()) {
    CommandMessageBox(*this, kNoFitOfLoadedDataText, "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  // The residuals as the residual plot shows them: signal minus model inside each
  // scan's fitting limits.
  std::vector<std::vector<float>> residuals(At(DataSet().nScans + 1));
  std::vector<ScanRows> rows(At(DataSet().nScans + 1));
  for (int s = 1; s <= DataSet().nScans; ++s) {
    residuals[At(s)].assign(At(DataSet().pnPoints[At(s)] + 1), 0.0f);
    ComputeScanResiduals(s, residuals[At(s)].data());
    rows[At(s)] = FitRows(s, residuals[At(s)].data());
  }
  CopyText(ScanTableText(rows));
}

void TXLAWindow::CmCopyTINoiseTable() {
  if (!GridAvailable() || !AnalysisSwitches().bFitTINoise || !CurrentGrid().pTINoise) return;
  // The whole time-invariant noise found, also the part already subtracted from
  // the data.
  std::vector<float> noise(At(CurrentGrid().nGridPoints + 1), 0.0f);
  for (int i = 1; i <= CurrentGrid().nGridPoints; ++i)
    noise[At(i)] = CurrentGrid().pTINoise[i] + (CurrentGrid().pRemovedTINoise ? CurrentGrid().pRemovedTINoise[i] : 0.0f);
  const float* columns[2] = {nullptr, noise.data()};
  int first = 1, last = 1;
  FitRangeRows(&first, &last);
  CopyTableToClipboard(&GetHandle(), CurrentGrid().pGridRadius, columns, first, last, 1, nullptr,
                       {RadiusColumnName(), "TI noise"});
}

void TXLAWindow::CmCopyRINoiseTable() {
  if (DataSet().nScans < 1 || !AnalysisSwitches().bFitRINoise || !CurrentGrid().pRINoise) return;
  std::vector<float> times(At(DataSet().nScans + 1), 0.0f);
  std::vector<float> offsets(At(DataSet().nScans + 1), 0.0f);
  for (int k = 1; k <= DataSet().nScans; ++k) {
    const int s = DataSet().pScanOrder[At(k)];
    times[At(k)] = static_cast<float>(DataSet().pScanInfo[At(s)].recordedTime);
    offsets[At(k)] = CurrentGrid().pRINoise[s];
  }
  const float* columns[2] = {nullptr, offsets.data()};
  CopyTableToClipboard(&GetHandle(), times.data(), columns, 1, DataSet().nScans, 1, nullptr,
                       {"time [s]", "RI noise"});
}

void TXLAWindow::CmCopyPriorKnowledgeTable() {
  // The table made from the peaks of a distribution or from an imported boundary.
  const int n = static_cast<int>(DistributionPrior().pPriorTableX.size()) - 1;
  if (n < 1 || DistributionPrior().pPriorTableY.size() != DistributionPrior().pPriorTableX.size()) return;
  std::vector<float> x(At(n + 1), 0.0f);
  std::vector<float> weight(At(n + 1), 0.0f);
  for (int i = 1; i <= n; ++i) {
    x[At(i)] = static_cast<float>(DistributionPrior().pPriorTableX[At(i)]);
    weight[At(i)] = static_cast<float>(DistributionPrior().pPriorTableY[At(i)]);
  }
  const float* columns[2] = {nullptr, weight.data()};
  CopyTableToClipboard(&GetHandle(), x.data(), columns, 1, n, 1, nullptr,
                       {"distribution grid", "prior probability"});
}

}  // namespace tarmic
