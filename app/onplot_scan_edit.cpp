// Scan editing from the plot, the scan hover label and the mouse-sliding command.
#include "app/onplot_scan_edit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "app/mouse_hit_tests.h"
#include "app/tool_button_fill.h"
#include "app/paint_state.h"
#include "app/xla_window.h"
#include "app/zoom.h"
#include "services/answer_policy.h"
#include "services/replace_question.h"
#include "storage/atomic_file.h"
#include "services/error_box.h"
#include "app/mouse_slide.h"
#include "numerics/one_based.h"
#include "services/run_switches.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/metafile.h"
#include "platform/raster_dc.h"
#include "plot/data_plots.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"

namespace tarmic {

std::unique_ptr<CScreenButton> pEditScanButton;
std::unique_ptr<CScreenButton> pDeleteScanButton;
std::unique_ptr<CScreenButton> pScanEditCancelButton;
std::unique_ptr<CScreenButton> pDeletePointButton;
std::unique_ptr<CScreenButton> pNotepadButton;
std::unique_ptr<CScreenButton> pScanHoverLabel;
int nEditScanPosition = 0;
int nEditPointIndex = 0;
Point ptPointEditAnchor;
bool bPointEditToRight = false;
int nHoverScanPosition = 0;
Point ptHoverLabel;

namespace {

// The data of a radial grid coarser than this were averaged when they were loaded.
constexpr float kPreAveragedStep = 0.00101f;
// Radius of the ring around the picked point, pixels.
constexpr int kRingRadius = 4;
constexpr Color kRingColour = RGB(255, 0, 0);

int Trunc(double v) { return std::isfinite(v) ? static_cast<int>(v) : 0; }

double DisplayX(const TXLAWindow& window, double x) {
  return window.fClientWidth > 0 ? x * 1400.0 / window.fClientWidth : 0.0;
}
double DisplayY(const TXLAWindow& window, double y) {
  return window.fClientHeight > 0 ? y * 1000.0 / window.fClientHeight : 0.0;
}

// A tool button over the client rectangle (pixels) with one label in both states.
std::unique_ptr<CScreenButton> MakeButton(const TXLAWindow& window, int left, int top, int right,
                                          int bottom, const std::string& label) {
  auto button = std::make_unique<CScreenButton>();
  button->SetRect(
      static_cast<float>(DisplayY(window, top)), static_cast<float>(DisplayX(window, left)),
      static_cast<float>(DisplayY(window, bottom)), static_cast<float>(DisplayX(window, right)));
  const int n = static_cast<int>(label.size());
  button->SetLabels(label.c_str(), n, label.c_str(), n);
  button->crOnFill = crToolButtonOnFill;
  button->Paint();
  return button;
}

// The height (display rows) and width (display columns, of which the client holds
// 1400) that buttons with these labels need at the plot text height (the width
// times the text width factor), but not less than the given nominal sizes.
void ButtonSizeFor(const std::vector<std::string>& labels, double nominalHeight,
                   double nominalWidth, double* height, double* width) {
  const Font font{PlotTextHeight(hButtonFont.height), hButtonFont.weight, 0, hButtonFont.family};
  int text = 0;
  for (const std::string& label : labels)
    text = std::max(text, DefaultTextRenderer().Measure(font, font.height, label).width);
  *height = std::max(nominalHeight, font.height + 4.0);
  *width = std::max(nominalWidth, PlotTextWidth(text) + 20.0);
}

// Takes a button away and puts back the screen under it.
void RemoveButton(TXLAWindow& window, std::unique_ptr<CScreenButton>& button) {
  if (!button) return;
  button->RestoreBackground(window.GetHandle());
  button.reset();
}

// Shows the pressed button for a moment, so that the press is seen.
void ShowPressed(TXLAWindow& window, CScreenButton* button) {
  if (button) button->Show(window.GetHandle());
  WaitSeconds(0.1f);
}

bool ValidPosition(int p) {
  return p >= 1 && p <= DataSet().nScans && static_cast<std::size_t>(p) < DataSet().pScanOrder.size();
}

// The file name of a scan with its extension, without drive and directory.
std::string ScanLabel(int scan) {
  if (scan < 1 || static_cast<std::size_t>(scan) >= DataSet().ppScanFileNames.size()) return {};
  return std::filesystem::path(DataSet().ppScanFileNames[static_cast<std::size_t>(scan)]).filename().string();
}

// After a reload: the data plot keeps the current zoom step.
void ReloadSequence(TXLAWindow& window) {
  Window& w = window.GetHandle();
  w.SetCursor(CursorShape::Wait);
  bFileDialogOpen = true;
  LoadDataFromFileList(&w, FrontEndAnswers());
  bFileDialogOpen = false;
  if (DataPlots().pDataPlot) {
    if (nZoomLevel > 0) {
      DataPlots().pDataPlot->SetRanges(afZoomXMin[nZoomLevel], afZoomXMax[nZoomLevel], afZoomYMin[nZoomLevel],
                           afZoomYMax[nZoomLevel]);
    }
    DataPlots().pDataPlot->Redraw();
  }
  w.SetCursor(CursorShape::Arrow);
  window.RedrawPlots();
}

// The questions of the scan edits: their Yes rewrites a scan file or reloads the
// data, so No is the default button.
bool ConfirmChangeBox(TXLAWindow& window, const char* text) {
  const bool previous = window.bModalBoxOpen;
  window.bModalBoxOpen = true;
  const bool yes =
      GetBackend().MessageBox(text, "", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  window.bModalBoxOpen = previous;
  return yes;
}

// Writes scan s without its point `point` and makes the stored file list name the
// file written: the scan's own file when overwrite is set, else a copy whose name
// gets "_mod" before the extension. The description says where the scan came from.
bool SaveScanWithoutPoint(int s, int point, bool overwrite) {
  const std::size_t k = static_cast<std::size_t>(s);
  const int n = DataSet().pnPoints[k];
  if (n < 2 || point < 1 || point > n) return false;
  const std::string original = ScanFilePath(s);
  std::string target = original;
  if (!overwrite) {
    const std::filesystem::path p(original);
    target = (p.parent_path() / (p.stem().string() + "_mod" + p.extension().string())).string();
  }
  const float* signal = DataSet().ppSignal[k];
  const float* third = DataSet().ppThirdColumn[k];
  std::vector<float> r(static_cast<std::size_t>(n)), v(r.size()), t(third ? r.size() : 0);
  int m = 0;
  for (int i = 1; i <= n; ++i) {
    if (i == point) continue;
    r[static_cast<std::size_t>(m + 1)] = DataSet().ppRadius[k][i];
    v[static_cast<std::size_t>(m + 1)] = signal[i];
    if (third) t[static_cast<std::size_t>(m + 1)] = third[i];
    ++m;
  }
  const ScanInfo& record = DataSet().pScanInfo[k];
  // The reader keeps 99 characters of a description: a long one gives way to the
  // note of where the scan came from.
  const std::string note = "_modified from " + std::filesystem::path(original).filename().string();
  const std::string description =
      record.description.size() < 50 ? record.description + note : note;
  if (!WriteScanFile(target.c_str(), m, r.data(), v.data(), third ? t.data() : nullptr,
                     description.c_str(), record.timeStampOk, record)) {
    ShowError(WithReason("could not write " + target, SaveFailureReason(target)), false);
    return false;
  }
  // The stored list names the scans in display order.
  for (int p = 1; p <= FileList().nStoredFiles; ++p) {
    if (FileList().ppStoredFileNames[static_cast<std::size_t>(p)] == original)
      FileList().ppStoredFileNames[static_cast<std::size_t>(p)] = target;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- scan-edit offer

bool ScanEditOfferOpen() { return pEditScanButton || pDeleteScanButton || pScanEditCancelButton; }

void ShowScanEditButtons(TXLAWindow& window, int x, int y, int p) {
  if (DataSet().bDLSData || !ValidPosition(p)) return;
  DeleteScanHoverLabel(window);
  nEditScanPosition = p;
  nEditPointIndex = nPickedPointIndex;
  const int s = DataSet().pScanOrder[static_cast<std::size_t>(p)];
  const std::string name = ScanLabel(s);
  const double L = static_cast<double>(name.size());
  // Sized to the labels (at least 18 rows and 7 columns per character of the name
  // plus 40), in client pixels.
  double rows = 0, columns = 0;
  ButtonSizeFor({"edit " + name + "?", "delete " + name + "?", "cancel"}, 18.0, 7.0 * L + 40.0,
                &rows, &columns);
  const double h = rows * nClientHeight / 1000.0;
  const double w = columns * nClientWidth / 1400.0 + 10.0;
  const bool right = DisplayX(window, x) < 1200.0;
  const int left = right ? Trunc(x + 10) : Trunc(x - 10 - w);
  const int rightEdge = right ? Trunc(x + 10 + w) : Trunc(x - 10);
  if (!pEditScanButton) {
    pEditScanButton = MakeButton(window, left, Trunc(y - 1.5 * h), rightEdge, Trunc(y - 0.5 * h),
                                 "edit " + name + "?");
    bPointEditToRight = right;
    ptPointEditAnchor =
        right ? Point{Trunc(x + 10 + w + 2), y - 20} : Point{Trunc(x - 10 - w - 2), y - 20};
  }
  if (!pDeleteScanButton) {
    pDeleteScanButton = MakeButton(window, left, Trunc(y - 0.5 * h), rightEdge, Trunc(y + 0.5 * h),
                                   "delete " + name + "?");
  }
  if (!pScanEditCancelButton) {
    pScanEditCancelButton =
        MakeButton(window, left, Trunc(y + 0.5 * h), rightEdge, Trunc(y + 1.5 * h), "cancel");
  }
  Window& handle = window.GetHandle();
  for (CScreenButton* b :
       {pEditScanButton.get(), pDeleteScanButton.get(), pScanEditCancelButton.get()})
    b->SaveBackground(handle);
  pEditScanButton->Show(handle);

  // The ring around the picked point, at its pixel on the data plot.
  const std::size_t k = static_cast<std::size_t>(s);
  if (DataPlots().pDataPlot && nEditPointIndex >= 1 && k < DataSet().pnPoints.size() && nEditPointIndex <= DataSet().pnPoints[k]) {
    const double px = DataPlots().pDataPlot->MapX(DataSet().ppRadius[k][nEditPointIndex]) * window.fClientWidth / 1400.0;
    const double py = DataPlots().pDataPlot->MapY(DataSet().ppSignal[k][nEditPointIndex]) * window.fClientHeight / 1000.0;
    pEditScanButton->DrawRing(handle, Trunc(px), Trunc(py), kRingRadius, kRingColour, ScanColor(s));
  }
  pDeleteScanButton->Show(handle);
  pScanEditCancelButton->Show(handle);
}

void DeleteScanEditButtons(TXLAWindow& window) {
  if (DataSet().bDLSData) return;
  nEditScanPosition = 0;
  RemoveButton(window, pDeleteScanButton);
  if (pEditScanButton) {
    RemoveButton(window, pEditScanButton);
    DeletePointEditButtons(window);
  }
  RemoveButton(window, pScanEditCancelButton);
}

void ClickScanEditButton(TXLAWindow& window, int action) {
  if (DataSet().bDLSData) return;
  switch (action) {
    case 0:
      ShowPressed(window, pScanEditCancelButton.get());
      DeleteScanEditButtons(window);
      break;
    case 1:
      ShowPressed(window, pEditScanButton.get());
      ShowPointEditButtons(window, ptPointEditAnchor.x, ptPointEditAnchor.y, bPointEditToRight);
      break;
    case 2: {
      ShowPressed(window, pDeleteScanButton.get());
      const int p = nEditScanPosition;
      // The reload invalidates every index held by the buttons: they go first.
      DeleteScanEditButtons(window);
      if (ValidPosition(p)) DeleteScanAndReload(window, DataSet().pScanOrder[static_cast<std::size_t>(p)]);
      break;
    }
    default:
      break;
  }
}

// ---------------------------------------------------------------- point-edit offer

void ShowPointEditButtons(TXLAWindow& window, int x, int y, bool toRight) {
  if (DataSet().bDLSData) return;
  DeletePointEditButtons(window);
  double rows = 0, columns = 0;
  ButtonSizeFor({"delete point?", "-> notepad?"}, 18.0, 98.0, &rows, &columns);
  const double h = rows * nClientHeight / 1000.0;
  const int w = Trunc(columns * nClientWidth / 1400.0) + 10;
  const int left = toRight ? x : Trunc(x - 1 - w);
  const int right = toRight ? Trunc(x + w) : x - 1;
  pDeletePointButton = MakeButton(window, left, Trunc(y - 1 - h), right, y - 1, "delete point?");
  pNotepadButton = MakeButton(window, left, y, right, Trunc(y + h), "-> notepad?");
  Window& handle = window.GetHandle();
  pDeletePointButton->SaveBackground(handle);
  pNotepadButton->SaveBackground(handle);
  pDeletePointButton->Show(handle);
  pNotepadButton->Show(handle);
}

void DeletePointEditButtons(TXLAWindow& window) {
  RemoveButton(window, pDeletePointButton);
  RemoveButton(window, pNotepadButton);
}

void ClickPointEditButton(TXLAWindow& window, int action) {
  if (DataSet().bDLSData) return;
  const int p = nEditScanPosition;
  const int point = nEditPointIndex;
  StoreFileList(0);
  if (action == 1) {
    ShowPressed(window, pDeletePointButton.get());
    DeleteScanEditButtons(window);
    if (ValidPosition(p))
      DeletePointAndReload(window, DataSet().pScanOrder[static_cast<std::size_t>(p)], point);
  } else if (action == 2) {
    ShowPressed(window, pNotepadButton.get());
    DeleteScanEditButtons(window);
    if (ValidPosition(p) && p <= FileList().nStoredFiles)
      GetBackend().ShowTextFile(FileList().ppStoredFileNames[static_cast<std::size_t>(p)]);
    if (ConfirmChangeBox(window, "reload scans for changes to take effect?")) ReloadSequence(window);
  }
}

void DeleteScanAndReload(TXLAWindow& window, int scan) {
  if (scan < 1 || scan > DataSet().nScans) return;
  StoreFileList(scan);
  LoadDataFromFileList(&window.GetHandle(), FrontEndAnswers());
  DataSet().bDataChanged = true;
}

void DeletePointAndReload(TXLAWindow& window, int scan, int point) {
  if (scan < 1 || scan > DataSet().nScans) return;
  if (point < 1 || point > DataSet().pnPoints[static_cast<std::size_t>(scan)]) return;
  if (RadialGrid().fRadialStep > kPreAveragedStep &&
      !ConfirmChangeBox(window, "data are pre-averaged - continue anyway?"))
    return;
  const bool overwrite = ConfirmChangeBox(window, "overwrite original scan?");
  // The copy beside the scan replaces an earlier copy only when the user agrees.
  if (!overwrite) {
    const std::filesystem::path p(ScanFilePath(scan));
    const bool previous = window.bModalBoxOpen;
    window.bModalBoxOpen = true;
    const bool agreed =
        MayReplaceFiles({(p.parent_path() / (p.stem().string() + "_mod" + p.extension().string())).string()});
    window.bModalBoxOpen = previous;
    if (!agreed) return;
  }
  window.GetHandle().SetCursor(CursorShape::Wait);
  if (!SaveScanWithoutPoint(scan, point, overwrite)) {
    window.GetHandle().SetCursor(CursorShape::Arrow);
    return;
  }
  ReloadSequence(window);
}

// ---------------------------------------------------------------- hover label

void ShowScanHoverLabel(TXLAWindow& window, int p, int x, int y) {
  if (nHoverScanPosition == p || !ValidPosition(p)) return;
  DeleteScanHoverLabel(window);
  nHoverScanPosition = p;
  ptHoverLabel = Point{x, y};
  const std::string text = ScanLabel(DataSet().pScanOrder[static_cast<std::size_t>(p)]);
  const double L = static_cast<double>(text.size());
  const double h = 18.0 * nClientHeight / 1000.0;
  const double w = 8.0 * L * nClientWidth / 1400.0 + 5.0;
  int left, right;
  if (DisplayX(window, x) >= 1300.0) {
    left = Trunc(x - 1 - w);
    right = x - 1;
  } else {
    left = x + 1;
    right = Trunc(x + 1 + w);
  }
  auto label = std::make_unique<CScreenButton>();
  label->SetRect(static_cast<float>(DisplayY(window, Trunc(y - h))),
                 static_cast<float>(DisplayX(window, left)),
                 static_cast<float>(DisplayY(window, y - 1)),
                 static_cast<float>(DisplayX(window, right)));
  const int n = static_cast<int>(text.size());
  label->SetLabels(text.c_str(), n, text.c_str(), n);
  label->SetBaselineText();
  label->crText = kBlack;
  label->SetBoldText();
  // Flat and white: a label, not a button (the frame is drawn in white).
  label->bFramed = true;
  label->crOffFill = kWhite;
  label->Paint();
  Window& handle = window.GetHandle();
  label->SaveBackground(handle);
  label->Show(handle);
  pScanHoverLabel = std::move(label);
}

void DeleteScanHoverLabel(TXLAWindow& window) {
  RemoveButton(window, pScanHoverLabel);
  nHoverScanPosition = 0;
  ptHoverLabel = Point{};
}

// ---------------------------------------------------------------- press and paint

bool PressScanEditButtons(TXLAWindow& window, float bx, float by) {
  if (pEditScanButton && pEditScanButton->HitTest(bx, by)) {
    ClickScanEditButton(window, 1);
  } else if (pDeletePointButton && pDeletePointButton->HitTest(bx, by)) {
    ClickPointEditButton(window, 1);
  } else if (pNotepadButton && pNotepadButton->HitTest(bx, by)) {
    ClickPointEditButton(window, 2);
  } else if (pDeleteScanButton && pDeleteScanButton->HitTest(bx, by)) {
    ClickScanEditButton(window, 2);
  } else if (pScanEditCancelButton && pScanEditCancelButton->HitTest(bx, by)) {
    ClickScanEditButton(window, 0);
  } else {
    return false;
  }
  return true;
}

void PaintScanEditButtons(DC& dc) {
  for (const auto* b : {&pEditScanButton, &pDeleteScanButton, &pScanEditCancelButton,
                        &pDeletePointButton, &pNotepadButton, &pScanHoverLabel}) {
    if (*b && (*b)->hPicture) (*b)->hPicture->Play(dc);
  }
}

void ResetScanEditTools() {
  for (auto* b : {&pEditScanButton, &pDeleteScanButton, &pScanEditCancelButton, &pDeletePointButton,
                  &pNotepadButton, &pScanHoverLabel})
    b->reset();
  nEditScanPosition = 0;
  nEditPointIndex = 0;
  ptPointEditAnchor = Point{};
  bPointEditToRight = false;
  nHoverScanPosition = 0;
  ptHoverLabel = Point{};
}

// ---------------------------------------------------------------- command 837

void TXLAWindow::CmMouseSliding() {
  const char* text;
  if (bMouseSlidingOff) {
    text = "switching on mouse sliding";
    bMouseSlidingOff = false;
  } else if (bMouseBouncing) {
    text = "toggling mouse bouncing";
    bMouseBouncing = false;
  } else {
    text = "switching off mouse sliding";
    bMouseSlidingOff = true;
    bMouseBouncing = true;
  }
  bModalBoxOpen = true;
  GetBackend().MessageBox(text, "MOUSE SLIDING", MB_OK);
  bModalBoxOpen = false;
}

}  // namespace tarmic
