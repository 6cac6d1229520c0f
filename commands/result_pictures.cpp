// The result pictures: cuts of the window's picture space, recorded by the plots.
#include "commands/result_pictures.h"

#include <algorithm>
#include <cstdio>

#include "app/onplot_tools.h"
#include "app/paint.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/distribution_peak_tools.h"
#include "commands/text_format.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_peaks.h"
#include "distributions/distribution_plot.h"
#include "modelcalc/fit_rmsd.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "platform/backend.h"
#include "platform/picture_files.h"
#include "plot/data_plots.h"
#include "plot/picture_space.h"
#include "plot/residual_bitmap.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"
#include "services/error_box.h"
#include "storage/atomic_file.h"

namespace tarmic {

namespace {

// Each species' signal in its own colour, named in the table of fitted values.
constexpr Color kSpeciesColors[nSpeciesSlots + 1] = {kBlack, RGB(220, 0, 0), RGB(0, 0, 220), RGB(0, 150, 0),
                                                     RGB(200, 0, 200)};
// Rows of the table below the data plot, picture units.
constexpr int kTableRow = 26;
// The smallest height of the residual bitmap's strip, picture units: a few scans
// still show as rows one can see.
constexpr int kMinBitmapStrip = 60;

// A result of the loaded data is on show.
bool HasResult() { return pDataPlot && pResidualsPlot && FitOfLoadedData(); }

bool ShowsDistribution() { return pDistPlot && DistributionPaneShown(); }

bool ShowsSpecies() {
  if (!bDiscreteModel || IsContinuousModel()) return false;
  for (int k = 1; k <= nSpeciesSlots; ++k)
    if (pSpeciesIncluded[k]) return true;
  return false;
}

// The rows of the picture space around a plot: its rectangle with room for the
// title above and the tick labels and x title below; the whole width.
Rect AroundPlot(const CWINPlot& plot, int above, int below) {
  return Rect{0, std::max(0, plot.nRectTop - above), kPictureWidth,
              std::min(kPictureHeight, plot.nRectBottom + below)};
}

// pictures played one after the other, each from the state the first began with.
void Append(std::vector<MetaRecord>& records, const MetaFile* picture) {
  if (!picture) return;
  MetaRecord save{};
  save.op = MetaOp::SaveDC;
  records.push_back(save);
  records.insert(records.end(), picture->Records().begin(), picture->Records().end());
  MetaRecord restore{};
  restore.op = MetaOp::RestoreDC;
  restore.a = -1;
  records.push_back(restore);
}

ResultPicture Picture(const char* name, std::vector<MetaRecord> records, Rect area) {
  return ResultPicture{name, std::make_unique<MetaFile>(std::move(records)), area};
}

// The residual plot with the bitmap in the strip above it, as a window of the
// picture space's size shows it (at least kMinBitmapStrip high).
ResultPicture ResidualsPicture() {
  std::vector<MetaRecord> records;
  Append(records, GetResidualPlotMetafile());
  Rect area = AroundPlot(*pResidualsPlot, 50, 80);
  const Image bitmap = BuildResidualsBitmap();
  Rect strip = ResidualsBitmapRect(kPictureExtent, nScans);
  if (!bitmap.IsNull() && !strip.IsEmpty()) {
    strip.top = std::max(0, std::min(strip.top, strip.bottom - kMinBitmapStrip));
    MetaFileDC dc;
    dc.StretchBitmap(bitmap, strip);
    Append(records, dc.Close().get());
    area.top = std::max(0, std::min(area.top, strip.top - 10));
  }
  return Picture("picture-residuals", std::move(records), area);
}

// The distribution with the prior and a label over each peak the window labels:
// its position as the window's label gives it, and its area.
ResultPicture DistributionPicture() {
  std::vector<MetaRecord> records;
  RedrawDistributionPlot();
  Append(records, DistributionPanePicture());
  Append(records, DistributionPriorOverlay().get());
  for (const DistributionPeak& peak : DistributionPeakList()) {
    if (!peak.labelled) continue;
    // A molar mass over an axis of s: the label says the s as well.
    std::string text = PeakLabelText(peak);
    if (!text.starts_with("sw") && CurrentDistributionKind() != DistributionKind::MolarMass)
      text += FormatText(", sw = %.3f S", static_cast<double>(peak.extent.averageX));
    text += FormatText(", c = %.4f", static_cast<double>(peak.extent.area));
    if (const std::unique_ptr<CScreenButton> label = MakePeakLabel(peak, text)) Append(records, label->hPicture.get());
  }
  return Picture("picture-distribution", std::move(records), AroundPlot(*pDistPlot, 60, 80));
}

// A line of the table: texts at the columns given.
void TableRow(MetaFileDC& dc, int y, const std::vector<std::pair<int, std::string>>& cells) {
  for (const auto& [x, text] : cells) dc.TextOut(x, y, text);
}

// The data with every species' signal in each scan, and below the plot the table
// of the fitted values.
ResultPicture SpeciesPicture() {
  std::vector<MetaRecord> records;
  Append(records, GetDataPlotMetafile());
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!pSpeciesIncluded[k] || !pGridRadius || nGridPoints < 1) continue;
    const std::vector<float*>& rows = pppSpeciesSignal[k];
    for (int i = 1; i <= nScans && static_cast<std::size_t>(i) < pScanOrder.size(); ++i) {
      const auto s = static_cast<std::size_t>(pScanOrder[static_cast<std::size_t>(i)]);
      if (s >= rows.size() || !rows[s]) continue;
      Append(records, pDataPlot->DrawArrays(pGridRadius, rows[s], nGridPoints, kSpeciesColors[k], -1, 1).get());
    }
  }
  UnpackModelParams();
  FitRmsd();
  MetaFileDC dc;
  Font font = hLabelFont;
  font.height = PlotTextHeight(nLabelFontHeight);
  dc.SelectFont(font);
  dc.SetBkMode(BkMode::Transparent);
  dc.SetTextAlign(TA_LEFT | TA_TOP);
  const int top = pDataPlot->nRectBottom + 85;
  const int columns[5] = {150, 330, 560, 900, 1200};
  auto floated = [](int fit) { return std::string(fit ? " (floated)" : " (fixed)"); };
  TableRow(dc, top, {{columns[0], "species"}, {columns[1], "s (S)"},
                     {columns[2], bFitMAndS ? "M (g/mol)" : "D (10^-7 cm^2/s)"},
                     {columns[3], "c (total, then fractions)"}});
  int row = 1;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!pSpeciesIncluded[k]) continue;
    const int y = top + row * kTableRow;
    dc.SelectPen(Pen{PenStyle::Solid, 4, kSpeciesColors[k]});
    dc.MoveTo(columns[0] - 60, y + kTableRow / 2);
    dc.LineTo(columns[0] - 15, y + kTableRow / 2);
    const double massOrD = pSpeciesMassOrD[k];
    TableRow(dc, y,
             {{columns[0], FormatText("%d", k)},
              {columns[1], FormatText("%.3f", static_cast<double>(pSpeciesS[k])) + floated(pSpeciesSFit[k])},
              {columns[2], (bFitMAndS ? FormatText("%f", massOrD) : FormatText("%.3f", massOrD)) +
                               floated(pSpeciesMassOrDFit[k])},
              {columns[3], FormatText("%.3f", static_cast<double>(pParams[8 + k]))}});
    ++row;
  }
  dc.TextOut(columns[0], top + row * kTableRow, FormatText("rmsd = %f", static_cast<double>(fFitRmsd)));
  Append(records, dc.Close().get());
  Rect area = AroundPlot(*pDataPlot, 50, 0);
  area.bottom = std::min(kPictureHeight, top + (row + 1) * kTableRow + 10);
  return Picture("picture-species", std::move(records), area);
}

std::string SaveBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::string error;
  const bool ok = WriteFileAtomically(
      path, [&](std::FILE* f) { return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(); }, &error);
  return ok ? std::string() : error;
}

}  // namespace

std::vector<std::string> ExpectedResultPictureNames() {
  std::vector<std::string> names = {"picture-data", "picture-residuals"};
  if (IsContinuousModel()) names.push_back("picture-distribution");
  if (ShowsSpecies()) names.push_back("picture-species");
  return names;
}

std::vector<std::string> AllResultPictureNames() {
  return {"picture-data", "picture-residuals", "picture-distribution", "picture-species"};
}

std::vector<std::string> ResultPictureNames() {
  if (!HasResult()) return {};
  std::vector<std::string> names = {"picture-data", "picture-residuals"};
  if (ShowsDistribution()) names.push_back("picture-distribution");
  if (ShowsSpecies()) names.push_back("picture-species");
  return names;
}

std::vector<ResultPicture> RecordResultPictures() {
  std::vector<ResultPicture> pictures;
  if (!HasResult()) return pictures;
  const PicturesForFiles recording;
  // The panes as the window lays them out, each plot's picture recorded.
  if (GetShellHooks().layoutPanes) GetShellHooks().layoutPanes();
  pDataPlot->Redraw();
  pResidualsPlot->Redraw();
  {
    std::vector<MetaRecord> records;
    Append(records, DataPanePicture().get());
    pictures.push_back(Picture("picture-data", std::move(records), AroundPlot(*pDataPlot, 50, 80)));
  }
  pictures.push_back(ResidualsPicture());
  if (ShowsDistribution()) pictures.push_back(DistributionPicture());
  if (ShowsSpecies()) pictures.push_back(SpeciesPicture());
  return pictures;
}

std::vector<std::string> ResultPictureFiles(const std::string& dir) {
  std::vector<std::string> files;
  for (const std::string& name : ResultPictureNames()) {
    files.push_back(JoinPath(dir, name + ".svg"));
    files.push_back(JoinPath(dir, name + ".png"));
  }
  return files;
}

std::string WriteResultPictures(const std::string& dir, std::vector<std::string>* written) {
  for (const ResultPicture& p : RecordResultPictures()) {
    const Size size = CanvasSizeFor(p.area, kPictureFileWidth);
    const std::string svgPath = JoinPath(dir, p.name + ".svg");
    std::string error;
    if (!WriteTextFileAtomically(svgPath, PictureToSvg(*p.picture, p.area, size), &error)) return error;
    if (written) written->push_back(svgPath);
    const std::optional<std::vector<std::uint8_t>> png = EncodePng(PictureToImage(*p.picture, p.area, size), &error);
    const std::string pngPath = JoinPath(dir, p.name + ".png");
    if (!png) return pngPath + ": " + error;
    if (error = SaveBytes(pngPath, *png); !error.empty()) return error;
    if (written) written->push_back(pngPath);
  }
  return "";
}

void TXLAWindow::CmSavePictures() {
  if (!HasResult()) {
    CommandMessageBox(*this, "There is no computed result of the loaded data to draw: Run or Fit first.", "ATTENTION",
                      MB_OK | MB_ICONINFORMATION);
    return;
  }
  FileDialogOptions options;
  options.title = "save pictures into folder";
  options.directory = WithoutTrailingSlash(szDataDirectory);
  const std::optional<std::string> dir = AskFolderPath(*this, options);
  if (!dir || !MayReplace(*this, ResultPictureFiles(*dir))) return;
  if (const std::string why = WriteResultPictures(*dir); !why.empty())
    ShowError("the pictures could not be saved:\n" + why, false);
  RepaintMain();
}

}  // namespace tarmic
