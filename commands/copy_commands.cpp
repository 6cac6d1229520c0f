// The copy commands of the main window: the data and residual plots as pictures,
// the residual bitmap, and the data, fit, residual and noise tables as
// tab-separated text.
//
// The tables are written on the common radial grid, one column per scan in display
// order: the data table over the whole grid, the fit, residual and time-invariant
// noise tables over the grid points inside the fitting limits, where the model was
// fitted. Scans whose radii are not the grid's are interpolated onto it. The
// radial-invariant noise table has one row per scan in display order: the scan's
// elapsed time as recorded and its offset. The prior knowledge table is the
// tabulated prior of the regularisation: abscissa and prior weight per row.
#include <vector>

#include "app/paint.h"
#include "app/xla_window.h"
#include "commands/clipboard_table.h"
#include "commands/command_support.h"
#include "distributions/distribution_prior.h"
#include "numerics/interpolation.h"
#include "numerics/sounds.h"
#include "plot/data_plots.h"
#include "plot/picture_space.h"
#include "plot/residual_bitmap.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"

namespace tarmic {

namespace {

std::size_t At(int i) { return static_cast<std::size_t>(i); }

bool GridAvailable() { return nScans > 0 && nGridPoints > 0 && pGridRadius; }

// The grid rows inside the fitting limits (the whole grid when they are unset).
void FitRangeRows(int* first, int* last) {
  *first = 1;
  *last = nGridPoints;
  if (iFitFirst >= 1 && iFitLast >= iFitFirst && iFitLast <= nGridPoints) {
    *first = iFitFirst;
    *last = iFitLast;
  }
}

// One column per scan (index = scan number) of values on the common grid: the
// scan's own values when the grid is the scans' radius array, else the values
// interpolated onto the grid (zeros where the scan cannot be interpolated).
class GridColumns {
 public:
  // values(s) gives scan s's values on its own radii [1..pnPoints[s]].
  template <class ValuesOfScan>
  explicit GridColumns(ValuesOfScan values) : storage_(At(nScans + 1)), columns_(At(nScans + 1)) {
    for (int s = 1; s <= nScans; ++s) {
      const float* own = values(s);
      if (!own) continue;
      if (!bGridCopies) {
        columns_[At(s)] = own;
        continue;
      }
      std::vector<float>& column = storage_[At(s)];
      column.assign(At(nGridPoints + 1), 0.0f);
      InterpolateCurve(nGridPoints, pGridRadius, column.data(), pnPoints[At(s)], ppRadius[At(s)], own);
      columns_[At(s)] = column.data();
    }
  }
  const float* const* Columns() const { return columns_.data(); }

 private:
  std::vector<std::vector<float>> storage_;
  std::vector<const float*> columns_;
};

// Copies the scans' columns on the grid, in display order.
void CopyScanTable(TXLAWindow& window, const float* const* columns, int first, int last) {
  CopyTableToClipboard(&window.GetHandle(), pGridRadius, columns, first, last, nScans,
                       pScanOrder.data());
}

}  // namespace

void TXLAWindow::CmCopyDataPlot() {
  if (OfferHelpInHelpMode(*this)) return;
  // The copy holds what the pane shows: the plot with the fitted curves over it.
  if (!pDataPlot || !HasBackend()) return;
  if (std::unique_ptr<MetaFile> picture = DataPanePicture())
    GetBackend().SetClipboardPicture(*picture, kPictureExtent);
}

void TXLAWindow::CmCopyResidualsPlot() {
  if (OfferHelpInHelpMode(*this)) return;
  if (pResidualsPlot) pResidualsPlot->CopyToClipboard();
}

void TXLAWindow::CmCopyResidualsBitmap() {
  if (OfferHelpInHelpMode(*this)) return;
  CopyResidualsBitmap(GetHandle());
  PlayOkSound();
}

void TXLAWindow::CmCopyDataTable() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!GridAvailable()) return;
  std::vector<const float*> columns(At(nScans + 1), nullptr);
  for (int s = 1; s <= nScans; ++s) columns[At(s)] = ppGridSignal[At(s)];
  CopyScanTable(*this, columns.data(), 1, nGridPoints);
}

void TXLAWindow::CmCopyFitDataTable() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!GridAvailable() || !bModelComputed) return;
  const GridColumns fit([](int s) -> const float* { return ppFit[At(s)]; });
  int first = 1, last = 1;
  FitRangeRows(&first, &last);
  CopyScanTable(*this, fit.Columns(), first, last);
}

void TXLAWindow::CmCopyResidualsTable() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!GridAvailable() || !bModelComputed) return;
  // The residuals as the residual plot shows them: signal minus model inside each
  // scan's fitting limits, 0 outside.
  std::vector<std::vector<float>> residuals(At(nScans + 1));
  for (int s = 1; s <= nScans; ++s) {
    residuals[At(s)].assign(At(pnPoints[At(s)] + 1), 0.0f);
    ComputeScanResiduals(s, residuals[At(s)].data());
  }
  const GridColumns grid([&residuals](int s) -> const float* { return residuals[At(s)].data(); });
  int first = 1, last = 1;
  FitRangeRows(&first, &last);
  CopyScanTable(*this, grid.Columns(), first, last);
}

void TXLAWindow::CmCopyTINoiseTable() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!GridAvailable() || !bFitTINoise || !pTINoise) return;
  // The whole time-invariant noise found, also the part already subtracted from
  // the data.
  std::vector<float> noise(At(nGridPoints + 1), 0.0f);
  for (int i = 1; i <= nGridPoints; ++i)
    noise[At(i)] = pTINoise[i] + (pRemovedTINoise ? pRemovedTINoise[i] : 0.0f);
  const float* columns[2] = {nullptr, noise.data()};
  int first = 1, last = 1;
  FitRangeRows(&first, &last);
  CopyTableToClipboard(&GetHandle(), pGridRadius, columns, first, last, 1, nullptr);
}

void TXLAWindow::CmCopyRINoiseTable() {
  if (OfferHelpInHelpMode(*this)) return;
  if (nScans < 1 || !bFitRINoise || !pRINoise) return;
  std::vector<float> times(At(nScans + 1), 0.0f);
  std::vector<float> offsets(At(nScans + 1), 0.0f);
  for (int k = 1; k <= nScans; ++k) {
    const int s = pScanOrder[At(k)];
    times[At(k)] = static_cast<float>(pScanInfo[At(s)].recordedTime);
    offsets[At(k)] = pRINoise[s];
  }
  const float* columns[2] = {nullptr, offsets.data()};
  CopyTableToClipboard(&GetHandle(), times.data(), columns, 1, nScans, 1, nullptr);
}

void TXLAWindow::CmCopyPriorKnowledgeTable() {
  if (OfferHelpInHelpMode(*this)) return;
  // The table made from the peaks of a distribution or from an imported boundary.
  const int n = static_cast<int>(pPriorTableX.size()) - 1;
  if (n < 1 || pPriorTableY.size() != pPriorTableX.size()) return;
  std::vector<float> x(At(n + 1), 0.0f);
  std::vector<float> weight(At(n + 1), 0.0f);
  for (int i = 1; i <= n; ++i) {
    x[At(i)] = static_cast<float>(pPriorTableX[At(i)]);
    weight[At(i)] = static_cast<float>(pPriorTableY[At(i)]);
  }
  const float* columns[2] = {nullptr, weight.data()};
  CopyTableToClipboard(&GetHandle(), x.data(), columns, 1, n, 1, nullptr);
}

}  // namespace tarmic
